// The map engine's four result objects: a route step (CWayPoint), a street met
// at an intersection (CCrossStreet), everything known about a position
// (CLocationDetails) and an address found from feature ids (CAddressDetails).
//
// The map engine creates one with CreateObject, fills its public fields
// directly (texts through AssignBstr, so an overwritten text is freed) and
// hands it out; callers read it through its interface. Each object owns its
// texts; a null BSTR field is the empty text. Getters answer E_POINTER for a
// null out pointer; a text getter returns a new BSTR copy (never null for an
// empty text, so a caller may print it as it is).
#pragma once

#include "typelib/CartovelLib.h"
#include "mapengine/object/Utilities.h"
#include "platform/com/atl.h"

// ---- WayPoint ---------------------------------------------------------------------

class CWayPoint final : public com::ComClass<CWayPoint, IWayPoint> {
 public:
  // IWayPoint
  HRESULT STDMETHODCALLTYPE get_latitude(double* pVal) override;
  HRESULT STDMETHODCALLTYPE put_latitude(double newVal) override;
  HRESULT STDMETHODCALLTYPE get_longitude(double* pVal) override;
  HRESULT STDMETHODCALLTYPE put_longitude(double newVal) override;
  HRESULT STDMETHODCALLTYPE IsTurningPoint(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE IsUserPoint(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE GetRelativeTurningAngleDegreesForward(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE GetRelativeTurningAngleDegreesReverse(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE GetStreetOrientationDegreesForward(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE GetStreetOrientationDegreesReverse(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE GetStreetNameForward(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE PutStreetNameForward(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE PutStreetOrientationDegreesForward(SHORT newVal) override;
  HRESULT STDMETHODCALLTYPE PutStreetOrientationDegreesReverse(SHORT newVal) override;
  HRESULT STDMETHODCALLTYPE GetName(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE PutName(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE GetNumberOfLanes(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE PutNumberOfLanes(SHORT newVal) override;
  HRESULT STDMETHODCALLTYPE PutUserPoint(SHORT newVal) override;
  HRESULT STDMETHODCALLTYPE PutTurningPoint(SHORT newVal) override;
  HRESULT STDMETHODCALLTYPE GetDistance(double* pVal) override;
  HRESULT STDMETHODCALLTYPE SetDistance(double newVal) override;
  HRESULT STDMETHODCALLTYPE GetSpeed(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE SetSpeed(SHORT newVal) override;
  HRESULT STDMETHODCALLTYPE GetFeatureIndex(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE SetFeatureIndex(SHORT newVal) override;

  double m_dLatitude = 0;   // signed decimal degrees
  double m_dLongitude = 0;  // signed decimal degrees
  BSTR m_bstrName = nullptr;
  BSTR m_bstrStreetNameForward = nullptr;
  SHORT m_nNumberOfLanes = 0;
  SHORT m_bTurningPoint = 0;                // flag
  SHORT m_bUserPoint = 0;                   // flag
  SHORT m_nStreetOrientationForward = 0;    // degrees 0 to 359
  SHORT m_nStreetOrientationReverse = 0;    // degrees 0 to 359
  SHORT m_nSpeed = 0;
  double m_dDistance = 0;
  SHORT m_nFeatureIndex = -1;  // index into the route's feature references, -1 for none

 private:
  friend class com::ComClass<CWayPoint, IWayPoint>;
  CWayPoint() = default;
  ~CWayPoint();
};

// ---- CrossStreet ----------------------------------------------------------------------

class CCrossStreet final : public com::ComClass<CCrossStreet, ICrossStreet, ISupportErrorInfo> {
 public:
  // ICrossStreet
  HRESULT STDMETHODCALLTYPE GetLatitude(double* pVal) override;
  HRESULT STDMETHODCALLTYPE GetLongitude(double* pVal) override;
  HRESULT STDMETHODCALLTYPE GetName(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetOrientation(INT* pVal) override;
  HRESULT STDMETHODCALLTYPE GetConnectType(INT* pVal) override;
  HRESULT STDMETHODCALLTYPE GetSideOfStreet(CARTOVELSideOfStreet* pVal) override;
  HRESULT STDMETHODCALLTYPE MustCrossStreet(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE SetSideOfStreet(CARTOVELSideOfStreet newVal) override;
  HRESULT STDMETHODCALLTYPE SetMustCrossStreet(VARIANT_BOOL newVal) override;
  // ISupportErrorInfo: S_OK for ICrossStreet, S_FALSE for anything else.
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

  BSTR m_bstrName = nullptr;
  // The creator sets position, connect type and orientation; they start at 0
  // so that an unfilled object never hands out an indeterminate value.
  double m_dLatitude = 0;
  double m_dLongitude = 0;
  INT m_nConnectType = 0;
  INT m_nOrientation = 0;  // degrees
  CARTOVELSideOfStreet m_eSideOfStreet = CARTOVELSideUnknown;
  VARIANT_BOOL m_bMustCrossStreet = 0;

 private:
  friend class com::ComClass<CCrossStreet, ICrossStreet, ISupportErrorInfo>;
  CCrossStreet() = default;
  ~CCrossStreet();
};

// ---- LocationDetails -----------------------------------------------------------------

class CLocationDetails final : public com::ComClass<CLocationDetails, ILocationDetails, ISupportErrorInfo> {
 public:
  // ILocationDetails
  HRESULT STDMETHODCALLTYPE GetType(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE GetRoadSpeedMiles(double* pVal) override;
  HRESULT STDMETHODCALLTYPE GetNumberLanes(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE GetStreetName(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetStreetNameLong(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetRoadClassification(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetCity(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetBorough(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetArea(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetCounty(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetState(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetCountry(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetZipcode(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetMapDataSource(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetAddressRightFromAlphaNum(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetAddressRightToAlphaNum(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetAddressLeftFromAlphaNum(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetAddressLeftToAlphaNum(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetRoadSpeedKilometers(double* pVal) override;
  HRESULT STDMETHODCALLTYPE GetHouseNumber(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetLatitudeDegrees(double* pVal) override;
  HRESULT STDMETHODCALLTYPE GetLongitudeDegrees(double* pVal) override;
  HRESULT STDMETHODCALLTYPE GetAddressRightFrom(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE GetAddressRightTo(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE GetAddressLeftFrom(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE GetAddressLeftTo(LONG* pVal) override;
  // ISupportErrorInfo: S_OK for ILocationDetails, S_FALSE for anything else.
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

  SHORT m_nType = 0;
  SHORT m_nNumberLanes = 0;
  BSTR m_bstrStreetName = nullptr;
  BSTR m_bstrStreetNameLong = nullptr;
  BSTR m_bstrRoadClassification = nullptr;
  BSTR m_bstrCity = nullptr;
  BSTR m_bstrBorough = nullptr;
  BSTR m_bstrArea = nullptr;
  BSTR m_bstrCounty = nullptr;
  BSTR m_bstrState = nullptr;
  BSTR m_bstrCountry = nullptr;
  BSTR m_bstrZipcode = nullptr;
  BSTR m_bstrMapDataSource = nullptr;
  BSTR m_bstrHouseNumber = nullptr;
  BSTR m_bstrAddressRightFromAlphaNum = nullptr;
  BSTR m_bstrAddressRightToAlphaNum = nullptr;
  BSTR m_bstrAddressLeftFromAlphaNum = nullptr;
  BSTR m_bstrAddressLeftToAlphaNum = nullptr;
  double m_dRoadSpeedMiles = 0;       // miles per hour
  double m_dRoadSpeedKilometers = 0;  // kilometres per hour
  double m_dLatitude = 0;             // degrees
  double m_dLongitude = 0;            // degrees
  // House-number bounds of the street piece; -2 until the map engine knows them.
  LONG m_nAddressRightFrom = -2;
  LONG m_nAddressRightTo = -2;
  LONG m_nAddressLeftFrom = -2;
  LONG m_nAddressLeftTo = -2;

 private:
  friend class com::ComClass<CLocationDetails, ILocationDetails, ISupportErrorInfo>;
  CLocationDetails() = default;
  ~CLocationDetails();
};

// ---- AddressDetails -------------------------------------------------------------------

class CAddressDetails final : public com::ComClass<CAddressDetails, IAddressDetails> {
 public:
  // IAddressDetails
  HRESULT STDMETHODCALLTYPE GetLatitude(double* pVal) override;
  HRESULT STDMETHODCALLTYPE GetLongitude(double* pVal) override;
  HRESULT STDMETHODCALLTYPE GetSideOfStreet(INT* pVal) override;
  HRESULT STDMETHODCALLTYPE GetAddressMatched(INT* pVal) override;
  HRESULT STDMETHODCALLTYPE GetStreetName(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetZipPostalCode(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetAddress(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetCity(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetMap(BSTR* pVal) override;

  INT m_nSideOfStreet = 0;  // a CARTOVELSideOfStreet value
  double m_dLongitude = 0;
  double m_dLatitude = 0;
  INT m_nAddressMatched = -1;
  BSTR m_bstrZipPostalCode = nullptr;
  BSTR m_bstrStreetName = nullptr;
  BSTR m_bstrAddress = nullptr;
  BSTR m_bstrCity = nullptr;
  BSTR m_bstrMap = nullptr;

 private:
  friend class com::ComClass<CAddressDetails, IAddressDetails>;
  CAddressDetails() = default;
  ~CAddressDetails();
};
