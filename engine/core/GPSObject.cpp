// The fix object and its status snapshot.
#include "engine/core/GPSObject.h"

#include "engine/core/ValueForwarding.h"

HRESULT CGPSObject::FinalConstruct() { return vov::detail::CreateInnerLocation(m_pLocation); }

void CGPSObject::ResetFix() {
  const double accuracy = m_fix.estimatedAccuracy;
  m_fix = vov::GPSFix();
  m_fix.estimatedAccuracy = accuracy;
}

// ---- to be written: the getters below answer E_NOTIMPL until then ----
HRESULT CGPSObject::GetAltitude(LONG*) { return E_NOTIMPL; }
HRESULT CGPSObject::GetHeading(HeadingType, BSTR*) { return E_NOTIMPL; }
HRESULT CGPSObject::GetHeadingDegrees(SHORT*) { return E_NOTIMPL; }
HRESULT CGPSObject::GetSpeed(SHORT*) { return E_NOTIMPL; }
HRESULT CGPSObject::GetEstimatedAccuracyDescription(BSTR*) { return E_NOTIMPL; }
HRESULT CGPSObject::GetFixQuality(GPSQuality*) { return E_NOTIMPL; }
HRESULT CGPSObject::GetHDOP(double*) { return E_NOTIMPL; }
HRESULT CGPSObject::GetVDOP(double*) { return E_NOTIMPL; }
HRESULT CGPSObject::GetNumberOfSatellites(SHORT*) { return E_NOTIMPL; }
HRESULT CGPSObject::HasGPSFix(VARIANT_BOOL*) { return E_NOTIMPL; }
HRESULT CGPSObject::IsDifferentialEnabled(VARIANT_BOOL*) { return E_NOTIMPL; }
HRESULT CGPSObject::GetEstimatedAccuracy(SHORT*) { return E_NOTIMPL; }
HRESULT CGPSObject::IsValid(VARIANT_BOOL*) { return E_NOTIMPL; }
HRESULT CGPSObject::GetLocation(ILocationObject**) { return E_NOTIMPL; }
HRESULT CGPSObject::GetLatitude(double*) { return E_NOTIMPL; }
HRESULT CGPSObject::GetLongitude(double*) { return E_NOTIMPL; }
HRESULT CGPSObject::GetBearing(HeadingType, ILocationObject*, BSTR*) { return E_NOTIMPL; }
HRESULT CGPSObject::GetRelativeHeading(ILocationObject*, BSTR*) { return E_NOTIMPL; }
HRESULT CGPSObject::GetDistance(ILocationObject*, LONG*) { return E_NOTIMPL; }
HRESULT CGPSObject::GetBearingDegrees(ILocationObject*, SHORT*) { return E_NOTIMPL; }
HRESULT CGPSObject::GetDistanceDescription(ILocationObject*, BSTR*) { return E_NOTIMPL; }
HRESULT CGPSObject::IsHeadingValid(VARIANT_BOOL*) { return E_NOTIMPL; }
HRESULT CGPSObject::GetDistanceAndHeading(ILocationObject*, BSTR*) { return E_NOTIMPL; }
HRESULT CGPSObject::GetDistanceAndHeadingAndName(ILocationObject*, IDescriptionConfigurationObject*, BSTR*) {
  return E_NOTIMPL;
}
HRESULT CGPSObject::GetSpeedDouble(double*) { return E_NOTIMPL; }
HRESULT CGPSObject::GetInstantaneousHeadingDegrees(SHORT*) { return E_NOTIMPL; }
HRESULT CGPSObject::GetName(BSTR*) { return E_NOTIMPL; }
HRESULT CGPSObject::SetName(BSTR) { return E_NOTIMPL; }
HRESULT CGPSObject::GetDescription(BSTR*) { return E_NOTIMPL; }
HRESULT CGPSObject::SetLocation(ILocationObject*) { return E_NOTIMPL; }
HRESULT CGPSObject::SetLongitude(double) { return E_NOTIMPL; }
HRESULT CGPSObject::SetLatitude(double) { return E_NOTIMPL; }

HRESULT CGPSStatusObject::GetFixQuality(GPSQuality*) { return E_NOTIMPL; }
HRESULT CGPSStatusObject::HasGPSFix(VARIANT_BOOL*) { return E_NOTIMPL; }
HRESULT CGPSStatusObject::IsDifferentialEnabled(VARIANT_BOOL*) { return E_NOTIMPL; }
HRESULT CGPSStatusObject::GetNumberOfSatellites(SHORT*) { return E_NOTIMPL; }
HRESULT CGPSStatusObject::GetHDOP(double*) { return E_NOTIMPL; }
HRESULT CGPSStatusObject::GetVDOP(double*) { return E_NOTIMPL; }
HRESULT CGPSStatusObject::GetEstimatedAccuracy(double*) { return E_NOTIMPL; }
HRESULT CGPSStatusObject::GetEstimatedAccuracyDescription(BSTR*) { return E_NOTIMPL; }
