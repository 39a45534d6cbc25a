#include "engine/core/ValueObjects.h"

#include <utility>

#include "engine/core/ValueAccess.h"

using vov::detail::Flag;
using vov::detail::TextIn;
using vov::detail::TextOut;
using vov::detail::ValueOut;

// ---- CAddressObject -----------------------------------------------------------------

HRESULT CAddressObject::FinalConstruct() {
  ILocationObject* location = nullptr;
  HRESULT hr = CLocationObject::CreateInstance(&location);
  if (FAILED(hr)) return hr;
  m_pLocation.reset(location);
  return S_OK;
}

HRESULT CAddressObject::GetAddress(BSTR*) { return E_NOTIMPL; }
HRESULT CAddressObject::SetMap(BSTR newVal) { return TextIn(m_street.map, newVal); }
HRESULT CAddressObject::SetCity(BSTR newVal) { return TextIn(m_street.city, newVal); }
HRESULT CAddressObject::SetZipPostalcode(BSTR newVal) { return TextIn(m_street.zipPostalcode, newVal); }
HRESULT CAddressObject::SetStreet(BSTR newVal) { return TextIn(m_street.street, newVal); }
HRESULT CAddressObject::GetName(BSTR* pVal) { return m_pLocation->GetName(pVal); }
HRESULT CAddressObject::SetName(BSTR newVal) { return m_pLocation->SetName(newVal); }
HRESULT CAddressObject::SetLatitude(double newVal) { return m_pLocation->SetLatitude(newVal); }
HRESULT CAddressObject::SetLongitude(double newVal) { return m_pLocation->SetLongitude(newVal); }
HRESULT CAddressObject::IsValid(VARIANT_BOOL*) { return E_NOTIMPL; }
HRESULT CAddressObject::GetLocation(ILocationObject**) { return E_NOTIMPL; }
HRESULT CAddressObject::GetLatitude(double* pVal) { return m_pLocation->GetLatitude(pVal); }
HRESULT CAddressObject::GetLongitude(double* pVal) { return m_pLocation->GetLongitude(pVal); }
HRESULT CAddressObject::GetBearing(HeadingType, ILocationObject*, BSTR*) { return E_NOTIMPL; }
HRESULT CAddressObject::GetRelativeHeading(SHORT, ILocationObject*, BSTR*) { return E_NOTIMPL; }
HRESULT CAddressObject::GetDistance(ILocationObject*, LONG*) { return E_NOTIMPL; }
HRESULT CAddressObject::GetBearingDegrees(ILocationObject*, SHORT*) { return E_NOTIMPL; }
HRESULT CAddressObject::GetDistanceDescription(ILocationObject*, BSTR*) { return E_NOTIMPL; }
HRESULT CAddressObject::GetDistanceAndHeading(SHORT, ILocationObject*, BSTR*) { return E_NOTIMPL; }
HRESULT CAddressObject::GetDistanceAndHeadingAndName(SHORT, ILocationObject*, IDescriptionConfigurationObject*,
                                                     BSTR*) {
  return E_NOTIMPL;
}
HRESULT CAddressObject::GetStreetObject(IStreetObject** pVal) {
  if (pVal != nullptr) *pVal = nullptr;
  return E_NOTIMPL;
}
HRESULT CAddressObject::GetZipPostalcode(BSTR* pVal) { return TextOut(pVal, m_street.zipPostalcode); }
HRESULT CAddressObject::GetStreet(BSTR* pVal) { return TextOut(pVal, m_street.street); }
HRESULT CAddressObject::GetCity(BSTR* pVal) { return TextOut(pVal, m_street.city); }

// ---- CPOISearchConfigurationObject ------------------------------------------------------

HRESULT CPOISearchConfigurationObject::GetMaxSearchResults(LONG* pVal) { return ValueOut(pVal, m_nMaxSearchResults); }
HRESULT CPOISearchConfigurationObject::GetCategoryNumber(SHORT* pVal) { return ValueOut(pVal, m_nCategoryNumber); }
HRESULT CPOISearchConfigurationObject::GetSubCategoryNumber(SHORT* pVal) {
  return ValueOut(pVal, m_nSubCategoryNumber);
}
HRESULT CPOISearchConfigurationObject::GetMaxSearchTime(SHORT* pVal) { return ValueOut(pVal, m_nMaxSearchTime); }
HRESULT CPOISearchConfigurationObject::GetUserPrivateOnly(VARIANT_BOOL* pVal) {
  return ValueOut(pVal, m_bUserPrivateOnly);
}
HRESULT CPOISearchConfigurationObject::GetUserPublicOnly(VARIANT_BOOL* pVal) {
  return ValueOut(pVal, m_bUserPublicOnly);
}
HRESULT CPOISearchConfigurationObject::GetDistanceStarting(double* pVal) {
  return ValueOut(pVal, m_dDistanceStarting);
}
HRESULT CPOISearchConfigurationObject::GetCurrentHeadingDegrees(SHORT* pVal) {
  return ValueOut(pVal, m_nCurrentHeadingDegrees);
}
HRESULT CPOISearchConfigurationObject::GetSearchDirection(Directions* pVal) {
  return ValueOut(pVal, m_eSearchDirection);
}
HRESULT CPOISearchConfigurationObject::IncludeUserPrivateAsWell(VARIANT_BOOL* pVal) {
  return ValueOut(pVal, m_bIncludeUserPrivateAsWell);
}
HRESULT CPOISearchConfigurationObject::GetMainSearchString(BSTR* pVal) {
  return TextOut(pVal, m_bstrMainSearchString);
}
HRESULT CPOISearchConfigurationObject::SetMaxSearchResults(LONG newVal) {
  m_nMaxSearchResults = newVal;
  return S_OK;
}
HRESULT CPOISearchConfigurationObject::SetCategoryNumber(SHORT newVal) {
  m_nCategoryNumber = newVal;
  return S_OK;
}
HRESULT CPOISearchConfigurationObject::SetSubCategoryNumber(SHORT newVal) {
  m_nSubCategoryNumber = newVal;
  return S_OK;
}
HRESULT CPOISearchConfigurationObject::SetMaxSearchTime(SHORT newVal) {
  m_nMaxSearchTime = newVal;
  return S_OK;
}
HRESULT CPOISearchConfigurationObject::SetUserPrivateOnly(VARIANT_BOOL newVal) {
  m_bUserPrivateOnly = Flag(newVal);
  return S_OK;
}
HRESULT CPOISearchConfigurationObject::SetUserPublicOnly(VARIANT_BOOL newVal) {
  m_bUserPublicOnly = Flag(newVal);
  return S_OK;
}
HRESULT CPOISearchConfigurationObject::SetDistanceStarting(double newVal) {
  m_dDistanceStarting = newVal;
  return S_OK;
}
HRESULT CPOISearchConfigurationObject::SetCurrentHeadingDegrees(SHORT newVal) {
  m_nCurrentHeadingDegrees = newVal;
  return S_OK;
}
HRESULT CPOISearchConfigurationObject::SetSearchDirection(Directions newVal) {
  m_eSearchDirection = newVal;
  return S_OK;
}
HRESULT CPOISearchConfigurationObject::SetIncludeUserPrivateAsWell(VARIANT_BOOL newVal) {
  m_bIncludeUserPrivateAsWell = Flag(newVal);
  return S_OK;
}
