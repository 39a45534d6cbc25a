#include "engine/core/POIObjects.h"

#include "engine/core/LocationObject.h"
#include "engine/core/ValueAccess.h"
#include "engine/core/ValueForwarding.h"

using vov::detail::Flag;
using vov::detail::ObjectIn;
using vov::detail::ObjectOut;
using vov::detail::TextIn;
using vov::detail::TextOut;
using vov::detail::ValueOut;

// ---- CPOICategoryObject ---------------------------------------------------------------

HRESULT CPOICategoryObject::GetCategoryNumber(SHORT* pVal) { return ValueOut(pVal, m_nCategoryNumber); }
HRESULT CPOICategoryObject::SetCategoryNumber(SHORT newVal) {
  m_nCategoryNumber = newVal;
  return S_OK;
}
HRESULT CPOICategoryObject::GetCategoryName(BSTR* pVal) { return TextOut(pVal, m_bstrCategoryName); }
HRESULT CPOICategoryObject::SetCategoryName(std::u16string_view name) { return TextIn(m_bstrCategoryName, name); }

// ---- CPOISubCategoryObject ------------------------------------------------------------

HRESULT CPOISubCategoryObject::GetMainCategoryNumber(SHORT* pVal) { return ValueOut(pVal, m_nMainCategoryNumber); }
HRESULT CPOISubCategoryObject::SetMainCategoryNumber(SHORT newVal) {
  m_nMainCategoryNumber = newVal;
  return S_OK;
}
HRESULT CPOISubCategoryObject::GetSubCategoryNumber(SHORT* pVal) { return ValueOut(pVal, m_nSubCategoryNumber); }
HRESULT CPOISubCategoryObject::SetSubCategoryNumber(SHORT newVal) {
  m_nSubCategoryNumber = newVal;
  return S_OK;
}
HRESULT CPOISubCategoryObject::GetSubCategoryName(BSTR* pVal) { return TextOut(pVal, m_bstrSubCategoryName); }
HRESULT CPOISubCategoryObject::SetSubCategoryName(std::u16string_view name) {
  return TextIn(m_bstrSubCategoryName, name);
}

// ---- CPOIObject -----------------------------------------------------------------------

HRESULT CPOIObject::FinalConstruct() {
  ILocationObject* location = nullptr;
  HRESULT hr = CLocationObject::CreateInstance(&location);
  if (FAILED(hr)) return hr;
  m_pLocation.reset(location);
  IPOICategoryObject* category = nullptr;
  hr = CPOICategoryObject::CreateInstance(&category);
  if (FAILED(hr)) return hr;
  m_pCategory.reset(category);
  IPOISubCategoryObject* subCategory = nullptr;
  hr = CPOISubCategoryObject::CreateInstance(&subCategory);
  if (FAILED(hr)) return hr;
  m_pSubCategory.reset(subCategory);
  return S_OK;
}

HRESULT CPOIObject::GetKey(LONG* pVal) { return ValueOut(pVal, m_nKey); }
HRESULT CPOIObject::SetKey(LONG newVal) {
  m_nKey = newVal;
  return S_OK;
}
HRESULT CPOIObject::GetCategoryNumber(SHORT* pVal) { return ValueOut(pVal, m_nCategoryNumber); }
HRESULT CPOIObject::SetCategoryNumber(SHORT newVal) {
  m_nCategoryNumber = newVal;
  return S_OK;
}
HRESULT CPOIObject::GetSubCategoryNumber(SHORT* pVal) { return ValueOut(pVal, m_nSubCategoryNumber); }
HRESULT CPOIObject::SetSubCategoryNumber(SHORT newVal) {
  m_nSubCategoryNumber = newVal;
  return S_OK;
}
HRESULT CPOIObject::GetAuthor(BSTR* pVal) { return TextOut(pVal, m_texts.author); }
HRESULT CPOIObject::SetAuthor(BSTR newVal) { return TextIn(m_texts.author, newVal); }
HRESULT CPOIObject::GetDate(BSTR* pVal) { return TextOut(pVal, m_texts.date); }
HRESULT CPOIObject::SetDate(BSTR newVal) { return TextIn(m_texts.date, newVal); }
HRESULT CPOIObject::GetThirdPartyId(BSTR* pVal) { return TextOut(pVal, m_texts.thirdPartyId); }
HRESULT CPOIObject::SetThirdPartyId(BSTR newVal) { return TextIn(m_texts.thirdPartyId, newVal); }
HRESULT CPOIObject::GetTags(BSTR* pVal) { return TextOut(pVal, m_texts.tags); }
HRESULT CPOIObject::SetTags(BSTR newVal) { return TextIn(m_texts.tags, newVal); }
HRESULT CPOIObject::GetHoursOfOperation(BSTR* pVal) { return TextOut(pVal, m_texts.hoursOfOperation); }
HRESULT CPOIObject::SetHoursOfOperation(BSTR newVal) { return TextIn(m_texts.hoursOfOperation, newVal); }
HRESULT CPOIObject::GetAddressNumber(BSTR* pVal) { return TextOut(pVal, m_texts.addressNumber); }
HRESULT CPOIObject::SetAddressNumber(BSTR newVal) { return TextIn(m_texts.addressNumber, newVal); }
HRESULT CPOIObject::GetStreet(BSTR* pVal) { return TextOut(pVal, m_texts.street); }
HRESULT CPOIObject::SetStreet(BSTR newVal) { return TextIn(m_texts.street, newVal); }
HRESULT CPOIObject::GetCity(BSTR* pVal) { return TextOut(pVal, m_texts.city); }
HRESULT CPOIObject::SetCity(BSTR newVal) { return TextIn(m_texts.city, newVal); }
HRESULT CPOIObject::GetState(BSTR* pVal) { return TextOut(pVal, m_texts.state); }
HRESULT CPOIObject::SetState(BSTR newVal) { return TextIn(m_texts.state, newVal); }
HRESULT CPOIObject::GetCountry(BSTR* pVal) { return TextOut(pVal, m_texts.country); }
HRESULT CPOIObject::SetCountry(BSTR newVal) { return TextIn(m_texts.country, newVal); }
HRESULT CPOIObject::GetZipCode(BSTR* pVal) { return TextOut(pVal, m_texts.zipCode); }
HRESULT CPOIObject::SetZipCode(BSTR newVal) { return TextIn(m_texts.zipCode, newVal); }
HRESULT CPOIObject::GetPhoneNumber(BSTR* pVal) { return TextOut(pVal, m_texts.phoneNumber); }
HRESULT CPOIObject::SetPhoneNumber(BSTR newVal) { return TextIn(m_texts.phoneNumber, newVal); }
HRESULT CPOIObject::GetFaxNumber(BSTR* pVal) { return TextOut(pVal, m_texts.faxNumber); }
HRESULT CPOIObject::SetFaxNumber(BSTR newVal) { return TextIn(m_texts.faxNumber, newVal); }
HRESULT CPOIObject::GetWebAddress(BSTR* pVal) { return TextOut(pVal, m_texts.webAddress); }
HRESULT CPOIObject::SetWebAddress(BSTR newVal) { return TextIn(m_texts.webAddress, newVal); }
HRESULT CPOIObject::GetEmail(BSTR* pVal) { return TextOut(pVal, m_texts.email); }
HRESULT CPOIObject::SetEmail(BSTR newVal) { return TextIn(m_texts.email, newVal); }
HRESULT CPOIObject::GetMediaFile(BSTR* pVal) { return TextOut(pVal, m_texts.mediaFile); }
HRESULT CPOIObject::SetMediaFile(BSTR newVal) { return TextIn(m_texts.mediaFile, newVal); }
HRESULT CPOIObject::GetPDBFile(BSTR* pVal) { return TextOut(pVal, m_texts.pdbFile); }
HRESULT CPOIObject::SetPDBFile(BSTR newVal) { return TextIn(m_texts.pdbFile, newVal); }
HRESULT CPOIObject::HasMediaFile(VARIANT_BOOL* pVal) {
  return ValueOut(pVal, SysStringLen(m_texts.mediaFile) != 0 ? VARIANT_TRUE : VARIANT_FALSE);
}
HRESULT CPOIObject::IsUserPOI(VARIANT_BOOL* pVal) { return ValueOut(pVal, m_bIsUserPOI); }
HRESULT CPOIObject::SetIsUserPOI(VARIANT_BOOL newVal) {
  m_bIsUserPOI = Flag(newVal);
  return S_OK;
}
HRESULT CPOIObject::IsPrivate(VARIANT_BOOL* pVal) { return ValueOut(pVal, m_bIsPrivate); }
HRESULT CPOIObject::SetIsPrivate(VARIANT_BOOL newVal) {
  m_bIsPrivate = Flag(newVal);
  return S_OK;
}
HRESULT CPOIObject::GetLatitudeOffset(double* pVal) { return ValueOut(pVal, m_dLatitudeOffset); }
HRESULT CPOIObject::SetLatitudeOffset(double newVal) {
  m_dLatitudeOffset = newVal;
  return S_OK;
}
HRESULT CPOIObject::GetLongitudeOffset(double* pVal) { return ValueOut(pVal, m_dLongitudeOffset); }
HRESULT CPOIObject::SetLongitudeOffset(double newVal) {
  m_dLongitudeOffset = newVal;
  return S_OK;
}
HRESULT CPOIObject::GetCategory(IPOICategoryObject** pVal) { return ObjectOut(pVal, m_pCategory); }
HRESULT CPOIObject::SetCategory(IPOICategoryObject* newVal) { return ObjectIn(m_pCategory, newVal); }
HRESULT CPOIObject::GetSubCategory(IPOISubCategoryObject** pVal) { return ObjectOut(pVal, m_pSubCategory); }
HRESULT CPOIObject::SetSubCategory(IPOISubCategoryObject* newVal) { return ObjectIn(m_pSubCategory, newVal); }
HRESULT CPOIObject::GetFoundIndex(LONG* pVal) { return ValueOut(pVal, m_nFoundIndex); }
HRESULT CPOIObject::SetFoundIndex(LONG newVal) {
  m_nFoundIndex = newVal;
  return S_OK;
}
HRESULT CPOIObject::CanModifyRMFFields(VARIANT_BOOL* pVal) { return ValueOut(pVal, m_bCanModifyRMFFields); }
HRESULT CPOIObject::SetCanModifyRMFFields(VARIANT_BOOL newVal) {
  m_bCanModifyRMFFields = Flag(newVal);
  return S_OK;
}
HRESULT CPOIObject::GetSideOfStreet(SideOfStreet* pVal) { return ValueOut(pVal, m_eSideOfStreet); }
HRESULT CPOIObject::SetSideOfStreet(SideOfStreet newVal) {
  m_eSideOfStreet = newVal;
  return S_OK;
}
