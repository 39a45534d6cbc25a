// The engine's value objects that other modules create or read: the address
// object and the point-of-interest search configuration.
// Each holds plain fields; the methods no module calls yet answer E_NOTIMPL.
#pragma once

#include <memory>

#include "engine/core/LocationObject.h"
#include "engine/core/VovLib.h"
#include "platform/com/atl.h"
#include "platform/com/owners.h"

// An address: its name and position live in an inner location object, the
// map, city, street and postal code in an inner street record.
class CAddressObject : public com::ComClass<CAddressObject, IAddressObject> {
 public:
  HRESULT FinalConstruct();

  HRESULT STDMETHODCALLTYPE GetAddress(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE SetMap(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE SetCity(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE SetZipPostalcode(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE SetStreet(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE GetName(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE SetName(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE Reserved14() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetLatitude(double newVal) override;
  HRESULT STDMETHODCALLTYPE SetLongitude(double newVal) override;
  HRESULT STDMETHODCALLTYPE IsValid(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE GetLocation(ILocationObject** pVal) override;
  HRESULT STDMETHODCALLTYPE GetLatitude(double* pVal) override;
  HRESULT STDMETHODCALLTYPE GetLongitude(double* pVal) override;
  HRESULT STDMETHODCALLTYPE GetBearing(HeadingType type, ILocationObject* to, BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetRelativeHeading(SHORT currentHeading, ILocationObject* to, BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetDistance(ILocationObject* to, LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE GetBearingDegrees(ILocationObject* to, SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE GetDistanceDescription(ILocationObject* to, BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetDistanceAndHeading(SHORT currentHeading, ILocationObject* to, BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetDistanceAndHeadingAndName(SHORT currentHeading, ILocationObject* to,
                                                         IDescriptionConfigurationObject* config,
                                                         BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetStreetObject(IStreetObject** pVal) override;
  HRESULT STDMETHODCALLTYPE GetZipPostalcode(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetStreet(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetCity(BSTR* pVal) override;

 private:
  struct StreetRecord {
    com::Bstr map;
    com::Bstr city;
    com::Bstr street;
    com::Bstr zipPostalcode;
  };

  std::unique_ptr<ILocationObject, com::Releaser> m_pLocation;
  StreetRecord m_street;
};

// The parameters of a point-of-interest search, with the defaults of a new search.
class CPOISearchConfigurationObject
    : public com::ComClass<CPOISearchConfigurationObject, IPOISearchConfigurationObject> {
 public:
  HRESULT STDMETHODCALLTYPE GetMaxSearchResults(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE SetMaxSearchResults(LONG newVal) override;
  HRESULT STDMETHODCALLTYPE Reserved9() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved10() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved11() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved12() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved13() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved14() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetCategoryNumber(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE GetSubCategoryNumber(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE SetCategoryNumber(SHORT newVal) override;
  HRESULT STDMETHODCALLTYPE SetSubCategoryNumber(SHORT newVal) override;
  HRESULT STDMETHODCALLTYPE GetMaxSearchTime(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE SetMaxSearchTime(SHORT newVal) override;
  HRESULT STDMETHODCALLTYPE SetUserPrivateOnly(VARIANT_BOOL newVal) override;
  HRESULT STDMETHODCALLTYPE GetUserPrivateOnly(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE SetUserPublicOnly(VARIANT_BOOL newVal) override;
  HRESULT STDMETHODCALLTYPE GetUserPublicOnly(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE Reserved25() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved26() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved27() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved28() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetDistanceStarting(double newVal) override;
  HRESULT STDMETHODCALLTYPE GetDistanceStarting(double* pVal) override;
  HRESULT STDMETHODCALLTYPE SetCurrentHeadingDegrees(SHORT newVal) override;
  HRESULT STDMETHODCALLTYPE GetCurrentHeadingDegrees(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE SetSearchDirection(Directions newVal) override;
  HRESULT STDMETHODCALLTYPE GetSearchDirection(Directions* pVal) override;
  HRESULT STDMETHODCALLTYPE SetIncludeUserPrivateAsWell(VARIANT_BOOL newVal) override;
  HRESULT STDMETHODCALLTYPE IncludeUserPrivateAsWell(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE GetMainSearchString(BSTR* pVal) override;

 private:
  LONG m_nMaxSearchResults = 25;
  SHORT m_nMaxSearchTime = 10;
  SHORT m_nCategoryNumber = 0;
  SHORT m_nSubCategoryNumber = 0;
  VARIANT_BOOL m_bUserPrivateOnly = VARIANT_FALSE;
  VARIANT_BOOL m_bUserPublicOnly = VARIANT_FALSE;
  VARIANT_BOOL m_bIncludeUserPrivateAsWell = VARIANT_FALSE;
  double m_dDistanceStarting = -1.0;
  SHORT m_nCurrentHeadingDegrees = -1;
  Directions m_eSearchDirection = DirectionAll;
  com::Bstr m_bstrMainSearchString;
};
