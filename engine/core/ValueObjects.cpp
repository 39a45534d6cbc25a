#include "engine/core/ValueObjects.h"

#include "engine/core/LocationObject.h"
#include "engine/core/POIObjects.h"
#include "platform/com/accessors.h"
#include "platform/com/runtime.h"

using com::Flag;
using vov::detail::ObjectIn;
using vov::detail::ObjectOut;
using com::TextIn;
using com::TextOut;
using com::ValueOut;

// ---- CAddressObject -----------------------------------------------------------------

namespace {

// The street object as every client makes it: by class identifier through the
// registry, started, and asked for its interface. Null when any step fails.
std::unique_ptr<IStreetObject, com::Releaser> CreateStreetObject() {
  IUnknown* unknown = nullptr;
  if (FAILED(CoCreateInstance(CLSID_StreetObject, nullptr, CLSCTX_ALL, IID_IUnknown,
                              reinterpret_cast<void**>(&unknown)))) {
    return nullptr;
  }
  std::unique_ptr<IUnknown, com::Releaser> owner(unknown);
  IStreetObject* street = nullptr;
  if (FAILED(OleRun(unknown)) ||
      FAILED(unknown->QueryInterface(IID_IStreetObject, reinterpret_cast<void**>(&street)))) {
    return nullptr;
  }
  return std::unique_ptr<IStreetObject, com::Releaser>(street);
}

}  // namespace

HRESULT CAddressObject::FinalConstruct() {
  ILocationObject* location = nullptr;
  HRESULT hr = CLocationObject::CreateInstance(&location);
  if (FAILED(hr)) return hr;
  m_pLocation.reset(location);
  m_pStreet = CreateStreetObject();
  return S_OK;
}

HRESULT CAddressObject::GetAddress(BSTR* pVal) { return TextOut(pVal, m_bstrAddress); }
HRESULT CAddressObject::SetAddress(std::u16string_view text) { return TextIn(m_bstrAddress, text); }

HRESULT CAddressObject::StreetText(HRESULT (STDMETHODCALLTYPE IStreetObject::*get)(BSTR*), BSTR* pVal) {
  if (pVal == nullptr) return E_POINTER;
  *pVal = nullptr;
  if (m_pStreet == nullptr) return E_UNEXPECTED;
  return (m_pStreet.get()->*get)(pVal);
}
HRESULT CAddressObject::PutStreetText(HRESULT (STDMETHODCALLTYPE IStreetObject::*set)(BSTR), BSTR newVal) {
  if (m_pStreet == nullptr) return E_UNEXPECTED;
  return (m_pStreet.get()->*set)(newVal);
}

HRESULT CAddressObject::SetMap(BSTR newVal) { return PutStreetText(&IStreetObject::SetMap, newVal); }
HRESULT CAddressObject::SetCity(BSTR newVal) { return PutStreetText(&IStreetObject::SetCity, newVal); }
HRESULT CAddressObject::SetZipPostalcode(BSTR newVal) {
  return PutStreetText(&IStreetObject::SetZipPostalcode, newVal);
}
HRESULT CAddressObject::SetStreet(BSTR newVal) { return PutStreetText(&IStreetObject::SetStreet, newVal); }
HRESULT CAddressObject::GetZipPostalcode(BSTR* pVal) { return StreetText(&IStreetObject::GetZipPostalcode, pVal); }
HRESULT CAddressObject::GetStreet(BSTR* pVal) { return StreetText(&IStreetObject::GetStreet, pVal); }
HRESULT CAddressObject::GetCity(BSTR* pVal) { return StreetText(&IStreetObject::GetCity, pVal); }

HRESULT CAddressObject::GetStreetObject(IStreetObject** pVal) {
  if (pVal == nullptr) return E_POINTER;
  *pVal = nullptr;
  if (m_pStreet == nullptr) return E_UNEXPECTED;
  return ObjectOut(pVal, m_pStreet);
}

// ---- CPOISearchConfigurationObject ------------------------------------------------------

HRESULT CPOISearchConfigurationObject::FinalConstruct() {
  IPOIObject* search = nullptr;
  HRESULT hr = CPOIObject::CreateInstance(&search);
  if (FAILED(hr)) return hr;
  m_pSearchObject.reset(search);
  return S_OK;
}

HRESULT CPOISearchConfigurationObject::GetPOISearchObject(IPOIObject** pVal) {
  return ObjectOut(pVal, m_pSearchObject);
}
HRESULT CPOISearchConfigurationObject::SetPOISearchObject(IPOIObject* newVal) {
  return ObjectIn(m_pSearchObject, newVal);
}
HRESULT CPOISearchConfigurationObject::GetPOICategory(IPOICategoryObject** pVal) {
  return m_pSearchObject->GetCategory(pVal);
}
HRESULT CPOISearchConfigurationObject::SetPOICategory(IPOICategoryObject* newVal) {
  return m_pSearchObject->SetCategory(newVal);
}
HRESULT CPOISearchConfigurationObject::GetPOISubCategory(IPOISubCategoryObject** pVal) {
  return m_pSearchObject->GetSubCategory(pVal);
}
HRESULT CPOISearchConfigurationObject::SetPOISubCategory(IPOISubCategoryObject* newVal) {
  return m_pSearchObject->SetSubCategory(newVal);
}
HRESULT CPOISearchConfigurationObject::GetCategoryNumber(SHORT* pVal) {
  return m_pSearchObject->GetCategoryNumber(pVal);
}
HRESULT CPOISearchConfigurationObject::GetSubCategoryNumber(SHORT* pVal) {
  return m_pSearchObject->GetSubCategoryNumber(pVal);
}
HRESULT CPOISearchConfigurationObject::SetCategoryNumber(SHORT newVal) {
  return m_pSearchObject->SetCategoryNumber(newVal);
}
HRESULT CPOISearchConfigurationObject::SetSubCategoryNumber(SHORT newVal) {
  return m_pSearchObject->SetSubCategoryNumber(newVal);
}

HRESULT CPOISearchConfigurationObject::GetMaxSearchResults(LONG* pVal) { return ValueOut(pVal, m_nMaxSearchResults); }
HRESULT CPOISearchConfigurationObject::GetMaxSearchTime(SHORT* pVal) { return ValueOut(pVal, m_nMaxSearchTime); }
HRESULT CPOISearchConfigurationObject::GetUserPrivateOnly(VARIANT_BOOL* pVal) {
  return ValueOut(pVal, m_bUserPrivateOnly);
}
HRESULT CPOISearchConfigurationObject::GetUserPublicOnly(VARIANT_BOOL* pVal) {
  return ValueOut(pVal, m_bUserPublicOnly);
}
HRESULT CPOISearchConfigurationObject::IsNewSearch(VARIANT_BOOL* pVal) { return ValueOut(pVal, m_bNewSearch); }
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
HRESULT CPOISearchConfigurationObject::SetMaxSearchResults(LONG newVal) {
  return com::ValueIn(m_nMaxSearchResults, newVal);
}
HRESULT CPOISearchConfigurationObject::SetMaxSearchTime(SHORT newVal) { return com::ValueIn(m_nMaxSearchTime, newVal); }
HRESULT CPOISearchConfigurationObject::SetUserPrivateOnly(VARIANT_BOOL newVal) {
  return com::FlagIn(m_bUserPrivateOnly, newVal);
}
HRESULT CPOISearchConfigurationObject::SetUserPublicOnly(VARIANT_BOOL newVal) {
  return com::FlagIn(m_bUserPublicOnly, newVal);
}
HRESULT CPOISearchConfigurationObject::SetNewSearch(VARIANT_BOOL newVal) { return com::FlagIn(m_bNewSearch, newVal); }
HRESULT CPOISearchConfigurationObject::SetDistanceStarting(double newVal) {
  return com::ValueIn(m_dDistanceStarting, newVal);
}
HRESULT CPOISearchConfigurationObject::SetCurrentHeadingDegrees(SHORT newVal) {
  return com::ValueIn(m_nCurrentHeadingDegrees, newVal);
}
HRESULT CPOISearchConfigurationObject::SetSearchDirection(Directions newVal) {
  return com::ValueIn(m_eSearchDirection, newVal);
}
HRESULT CPOISearchConfigurationObject::SetIncludeUserPrivateAsWell(VARIANT_BOOL newVal) {
  return com::FlagIn(m_bIncludeUserPrivateAsWell, newVal);
}

namespace {

// The text fields a search may look in, in the order they are tried.
struct SearchField {
  HRESULT (STDMETHODCALLTYPE IPOIObject::*get)(BSTR*);
  POIFields field;
};
constexpr SearchField kSearchFields[] = {
    {&IPOIObject::GetName, POI_FIELD_NAME},
    {&IPOIObject::GetDescription, POI_FIELD_DESCRIPTION},
    {&IPOIObject::GetAuthor, POI_FIELD_AUTHOR},
    {&IPOIObject::GetTags, POI_FIELD_TAGS},
    {&IPOIObject::GetAddressNumber, POI_FIELD_ADDRESS},
    {&IPOIObject::GetStreet, POI_FIELD_ADDRESS},
    {&IPOIObject::GetCity, POI_FIELD_ADDRESS},
    {&IPOIObject::GetState, POI_FIELD_ADDRESS},
    {&IPOIObject::GetCountry, POI_FIELD_ADDRESS},
    {&IPOIObject::GetZipCode, POI_FIELD_ADDRESS},
    {&IPOIObject::GetHoursOfOperation, POI_FIELD_HOURS},
    {&IPOIObject::GetPhoneNumber, POI_FIELD_PHONE},
    {&IPOIObject::GetFaxNumber, POI_FIELD_FAX},
    {&IPOIObject::GetWebAddress, POI_FIELD_WEB},
    {&IPOIObject::GetEmail, POI_FIELD_EMAIL},
    {&IPOIObject::GetMediaFile, POI_FIELD_MEDIA},
};

}  // namespace

HRESULT CPOISearchConfigurationObject::FindMainSearchField(BSTR* text, POIFields* field) {
  *text = nullptr;
  for (const SearchField& candidate : kSearchFields) {
    BSTR value = nullptr;
    HRESULT hr = (m_pSearchObject.get()->*candidate.get)(&value);
    if (FAILED(hr)) {
      SysFreeString(value);
      return hr;
    }
    if (SysStringLen(value) != 0) {
      *text = value;
      *field = candidate.field;
      return S_OK;
    }
    SysFreeString(value);
  }
  *text = SysAllocString(u"");
  *field = POI_FIELD_NAME;
  return *text == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT CPOISearchConfigurationObject::GetMainSearchString(BSTR* pVal) {
  if (pVal == nullptr) return E_POINTER;
  POIFields field = POI_FIELD_NAME;
  return FindMainSearchField(pVal, &field);
}

HRESULT CPOISearchConfigurationObject::GetMainSearchField(POIFields* pVal) {
  if (pVal == nullptr) return E_POINTER;
  BSTR text = nullptr;
  POIFields field = POI_FIELD_NAME;
  HRESULT hr = FindMainSearchField(&text, &field);
  SysFreeString(text);
  if (SUCCEEDED(hr)) *pVal = field;
  return hr;
}

// ---- CGPSTimeObject ---------------------------------------------------------------------

HRESULT CGPSTimeObject::IsValid(VARIANT_BOOL* pVal) {
  bool any = m_nYear != 0 || m_nMonth != 0 || m_nDay != 0 || m_nHour != 0 || m_nMinutes != 0 || m_nSeconds != 0;
  return ValueOut(pVal, any ? VARIANT_TRUE : VARIANT_FALSE);
}
