// NMEA sentences into the fix: checksum, dispatch, the three sentences, fix
// quality and heading averaging.
#include "engine/core/GPSCore.h"

// ---- to be written ----
BOOL GPSCore::DispatchNMEASentence(const char*, CGPSObject*) { return FALSE; }
void GPSCore::HandleGPRMC(const char*, CGPSObject*) {}
void GPSCore::HandleGPGGA(const char*, CGPSObject*) {}
void GPSCore::HandleGPGSA(const char*, CGPSObject*) {}
void GPSCore::UpdateFixQuality(CGPSObject*) {}
double GPSCore::GetEstimatedAccuracy() { return -1.0; }
void GPSCore::UpdateHeadingFromFixes(SHORT, double, double, double, CGPSObject*) {}
void GPSCore::AverageHeadings(SHORT, CGPSObject*) {}
std::u16string GPSCore::GetStreetNameAt(double, double, SHORT) { return {}; }
