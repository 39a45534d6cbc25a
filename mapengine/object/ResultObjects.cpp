// The map engine's four result objects. Getters copy one field into their out
// parameter, setters store their argument unchanged; nothing here calls back
// into the map engine. Every getter and text setter is one of the platform's
// accessor bodies (platform/com/accessors.h), none of which can throw.
#include "mapengine/object/ResultObjects.h"

#include "platform/com/accessors.h"

using com::FreeTexts;
using com::TextIn;
using com::TextOut;
using com::ValueOut;

namespace {

// The turn from one street direction into the other, with truncating integer
// remainders: (a - ((b + 180) mod 360) + 360) mod 360. Arriving against
// orientation b and leaving along a, straight on is 0.
SHORT RelativeTurningAngle(SHORT a, SHORT b) {
  int angle = (int{a} - ((int{b} + 180) % 360) + 360) % 360;
  return static_cast<SHORT>(angle);
}

}  // namespace

// ---- WayPoint ---------------------------------------------------------------------

CWayPoint::~CWayPoint() { FreeTexts({&m_bstrName, &m_bstrStreetNameForward}); }

HRESULT CWayPoint::get_latitude(double* pVal) { return ValueOut(pVal, m_dLatitude); }
HRESULT CWayPoint::put_latitude(double newVal) { return com::ValueIn(m_dLatitude, newVal); }
HRESULT CWayPoint::get_longitude(double* pVal) { return ValueOut(pVal, m_dLongitude); }
HRESULT CWayPoint::put_longitude(double newVal) { return com::ValueIn(m_dLongitude, newVal); }
HRESULT CWayPoint::IsTurningPoint(SHORT* pVal) { return ValueOut(pVal, m_bTurningPoint); }
HRESULT CWayPoint::IsUserPoint(SHORT* pVal) { return ValueOut(pVal, m_bUserPoint); }
HRESULT CWayPoint::GetRelativeTurningAngleDegreesForward(SHORT* pVal) {
  return ValueOut(pVal, RelativeTurningAngle(m_nStreetOrientationForward, m_nStreetOrientationReverse));
}
HRESULT CWayPoint::GetRelativeTurningAngleDegreesReverse(SHORT* pVal) {
  return ValueOut(pVal, RelativeTurningAngle(m_nStreetOrientationReverse, m_nStreetOrientationForward));
}
HRESULT CWayPoint::GetStreetOrientationDegreesForward(SHORT* pVal) {
  return ValueOut(pVal, m_nStreetOrientationForward);
}
HRESULT CWayPoint::GetStreetOrientationDegreesReverse(SHORT* pVal) {
  return ValueOut(pVal, m_nStreetOrientationReverse);
}
HRESULT CWayPoint::GetStreetNameForward(BSTR* pVal) { return TextOut(pVal, m_bstrStreetNameForward); }
HRESULT CWayPoint::PutStreetNameForward(BSTR newVal) { return TextIn(m_bstrStreetNameForward, newVal); }
HRESULT CWayPoint::PutStreetOrientationDegreesForward(SHORT newVal) {
  return com::ValueIn(m_nStreetOrientationForward, newVal);
}
HRESULT CWayPoint::PutStreetOrientationDegreesReverse(SHORT newVal) {
  return com::ValueIn(m_nStreetOrientationReverse, newVal);
}
HRESULT CWayPoint::GetName(BSTR* pVal) { return TextOut(pVal, m_bstrName); }
HRESULT CWayPoint::PutName(BSTR newVal) { return TextIn(m_bstrName, newVal); }
HRESULT CWayPoint::GetNumberOfLanes(SHORT* pVal) { return ValueOut(pVal, m_nNumberOfLanes); }
HRESULT CWayPoint::PutNumberOfLanes(SHORT newVal) { return com::ValueIn(m_nNumberOfLanes, newVal); }
HRESULT CWayPoint::PutUserPoint(SHORT newVal) { return com::ValueIn(m_bUserPoint, newVal); }
HRESULT CWayPoint::PutTurningPoint(SHORT newVal) { return com::ValueIn(m_bTurningPoint, newVal); }
HRESULT CWayPoint::GetDistance(double* pVal) { return ValueOut(pVal, m_dDistance); }
HRESULT CWayPoint::SetDistance(double newVal) { return com::ValueIn(m_dDistance, newVal); }
HRESULT CWayPoint::GetSpeed(SHORT* pVal) { return ValueOut(pVal, m_nSpeed); }
HRESULT CWayPoint::SetSpeed(SHORT newVal) { return com::ValueIn(m_nSpeed, newVal); }
HRESULT CWayPoint::GetFeatureIndex(SHORT* pVal) { return ValueOut(pVal, m_nFeatureIndex); }
HRESULT CWayPoint::SetFeatureIndex(SHORT newVal) { return com::ValueIn(m_nFeatureIndex, newVal); }

// ---- CrossStreet ----------------------------------------------------------------------

CCrossStreet::~CCrossStreet() { FreeTexts({&m_bstrName}); }

HRESULT CCrossStreet::GetLatitude(double* pVal) { return ValueOut(pVal, m_dLatitude); }
HRESULT CCrossStreet::GetLongitude(double* pVal) { return ValueOut(pVal, m_dLongitude); }
HRESULT CCrossStreet::GetName(BSTR* pVal) { return TextOut(pVal, m_bstrName); }
HRESULT CCrossStreet::GetOrientation(INT* pVal) { return ValueOut(pVal, m_nOrientation); }
HRESULT CCrossStreet::GetConnectType(INT* pVal) { return ValueOut(pVal, m_nConnectType); }
HRESULT CCrossStreet::GetSideOfStreet(CARTOVELSideOfStreet* pVal) { return ValueOut(pVal, m_eSideOfStreet); }
HRESULT CCrossStreet::MustCrossStreet(VARIANT_BOOL* pVal) { return ValueOut(pVal, m_bMustCrossStreet); }
HRESULT CCrossStreet::SetSideOfStreet(CARTOVELSideOfStreet newVal) { return com::ValueIn(m_eSideOfStreet, newVal); }
HRESULT CCrossStreet::SetMustCrossStreet(VARIANT_BOOL newVal) { return com::ValueIn(m_bMustCrossStreet, newVal); }
HRESULT CCrossStreet::InterfaceSupportsErrorInfo(REFIID riid) {
  return riid == IID_ICrossStreet ? S_OK : S_FALSE;
}

// ---- LocationDetails -----------------------------------------------------------------

CLocationDetails::~CLocationDetails() {
  FreeTexts({&m_bstrStreetName, &m_bstrStreetNameLong, &m_bstrRoadClassification, &m_bstrCity, &m_bstrBorough,
             &m_bstrArea, &m_bstrCounty, &m_bstrState, &m_bstrCountry, &m_bstrZipcode, &m_bstrMapDataSource,
             &m_bstrHouseNumber, &m_bstrAddressRightFromAlphaNum, &m_bstrAddressRightToAlphaNum,
             &m_bstrAddressLeftFromAlphaNum, &m_bstrAddressLeftToAlphaNum});
}

HRESULT CLocationDetails::GetType(SHORT* pVal) { return ValueOut(pVal, m_nType); }
HRESULT CLocationDetails::GetRoadSpeedMiles(double* pVal) { return ValueOut(pVal, m_dRoadSpeedMiles); }
HRESULT CLocationDetails::GetNumberLanes(SHORT* pVal) { return ValueOut(pVal, m_nNumberLanes); }
HRESULT CLocationDetails::GetStreetName(BSTR* pVal) { return TextOut(pVal, m_bstrStreetName); }
HRESULT CLocationDetails::GetStreetNameLong(BSTR* pVal) { return TextOut(pVal, m_bstrStreetNameLong); }
HRESULT CLocationDetails::GetRoadClassification(BSTR* pVal) { return TextOut(pVal, m_bstrRoadClassification); }
HRESULT CLocationDetails::GetCity(BSTR* pVal) { return TextOut(pVal, m_bstrCity); }
HRESULT CLocationDetails::GetBorough(BSTR* pVal) { return TextOut(pVal, m_bstrBorough); }
HRESULT CLocationDetails::GetArea(BSTR* pVal) { return TextOut(pVal, m_bstrArea); }
HRESULT CLocationDetails::GetCounty(BSTR* pVal) { return TextOut(pVal, m_bstrCounty); }
HRESULT CLocationDetails::GetState(BSTR* pVal) { return TextOut(pVal, m_bstrState); }
HRESULT CLocationDetails::GetCountry(BSTR* pVal) { return TextOut(pVal, m_bstrCountry); }
HRESULT CLocationDetails::GetZipcode(BSTR* pVal) { return TextOut(pVal, m_bstrZipcode); }
HRESULT CLocationDetails::GetMapDataSource(BSTR* pVal) { return TextOut(pVal, m_bstrMapDataSource); }
HRESULT CLocationDetails::GetAddressRightFromAlphaNum(BSTR* pVal) {
  return TextOut(pVal, m_bstrAddressRightFromAlphaNum);
}
HRESULT CLocationDetails::GetAddressRightToAlphaNum(BSTR* pVal) {
  return TextOut(pVal, m_bstrAddressRightToAlphaNum);
}
HRESULT CLocationDetails::GetAddressLeftFromAlphaNum(BSTR* pVal) {
  return TextOut(pVal, m_bstrAddressLeftFromAlphaNum);
}
HRESULT CLocationDetails::GetAddressLeftToAlphaNum(BSTR* pVal) {
  return TextOut(pVal, m_bstrAddressLeftToAlphaNum);
}
HRESULT CLocationDetails::GetRoadSpeedKilometers(double* pVal) { return ValueOut(pVal, m_dRoadSpeedKilometers); }
HRESULT CLocationDetails::GetHouseNumber(BSTR* pVal) { return TextOut(pVal, m_bstrHouseNumber); }
HRESULT CLocationDetails::GetLatitudeDegrees(double* pVal) { return ValueOut(pVal, m_dLatitude); }
HRESULT CLocationDetails::GetLongitudeDegrees(double* pVal) { return ValueOut(pVal, m_dLongitude); }
HRESULT CLocationDetails::GetAddressRightFrom(LONG* pVal) { return ValueOut(pVal, m_nAddressRightFrom); }
HRESULT CLocationDetails::GetAddressRightTo(LONG* pVal) { return ValueOut(pVal, m_nAddressRightTo); }
HRESULT CLocationDetails::GetAddressLeftFrom(LONG* pVal) { return ValueOut(pVal, m_nAddressLeftFrom); }
HRESULT CLocationDetails::GetAddressLeftTo(LONG* pVal) { return ValueOut(pVal, m_nAddressLeftTo); }
HRESULT CLocationDetails::InterfaceSupportsErrorInfo(REFIID riid) {
  return riid == IID_ILocationDetails ? S_OK : S_FALSE;
}

// ---- AddressDetails -------------------------------------------------------------------

CAddressDetails::~CAddressDetails() {
  FreeTexts({&m_bstrZipPostalCode, &m_bstrStreetName, &m_bstrAddress, &m_bstrCity, &m_bstrMap});
}

// The numeric getters test their out pointer like every other getter, so a
// careless caller gets E_POINTER instead of a crash inside the map engine.
HRESULT CAddressDetails::GetLatitude(double* pVal) { return ValueOut(pVal, m_dLatitude); }
HRESULT CAddressDetails::GetLongitude(double* pVal) { return ValueOut(pVal, m_dLongitude); }
HRESULT CAddressDetails::GetSideOfStreet(INT* pVal) { return ValueOut(pVal, m_nSideOfStreet); }
HRESULT CAddressDetails::GetAddressMatched(INT* pVal) { return ValueOut(pVal, m_nAddressMatched); }
HRESULT CAddressDetails::GetStreetName(BSTR* pVal) { return TextOut(pVal, m_bstrStreetName); }
HRESULT CAddressDetails::GetZipPostalCode(BSTR* pVal) { return TextOut(pVal, m_bstrZipPostalCode); }
HRESULT CAddressDetails::GetAddress(BSTR* pVal) { return TextOut(pVal, m_bstrAddress); }
HRESULT CAddressDetails::GetCity(BSTR* pVal) { return TextOut(pVal, m_bstrCity); }
HRESULT CAddressDetails::GetMap(BSTR* pVal) { return TextOut(pVal, m_bstrMap); }
