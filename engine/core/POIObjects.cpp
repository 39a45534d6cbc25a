#include "engine/core/POIObjects.h"

#include "engine/core/LocationObject.h"
#include "platform/com/accessors.h"
#include "engine/core/ValueForwarding.h"

using com::Flag;
using vov::detail::ObjectIn;
using vov::detail::ObjectOut;
using com::TextIn;
using com::TextOut;
using com::ValueOut;

// ---- CPOICategoryObject ---------------------------------------------------------------

HRESULT CPOICategoryObject::GetCategoryName(BSTR* pVal) { return TextOut(pVal, m_bstrCategoryName); }
HRESULT CPOICategoryObject::SetCategoryName(std::u16string_view name) { return TextIn(m_bstrCategoryName, name); }

// ---- CPOISubCategoryObject ------------------------------------------------------------

HRESULT CPOISubCategoryObject::GetSubCategoryName(BSTR* pVal) { return TextOut(pVal, m_bstrSubCategoryName); }
HRESULT CPOISubCategoryObject::SetSubCategoryName(std::u16string_view name) {
  return TextIn(m_bstrSubCategoryName, name);
}

// ---- CPOIObject -----------------------------------------------------------------------

HRESULT CPOIObject::FinalConstruct() {
  HRESULT hr = vov::detail::CreateInnerLocation(m_pLocation);
  if (FAILED(hr)) return hr;
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

HRESULT CPOIObject::HasMediaFile(VARIANT_BOOL* pVal) {
  return ValueOut(pVal, SysStringLen(m_texts.mediaFile) != 0 ? VARIANT_TRUE : VARIANT_FALSE);
}
HRESULT CPOIObject::IsUserPOI(VARIANT_BOOL* pVal) { return ValueOut(pVal, m_bIsUserPOI); }
HRESULT CPOIObject::SetIsUserPOI(VARIANT_BOOL newVal) { return com::FlagIn(m_bIsUserPOI, newVal); }
HRESULT CPOIObject::IsPrivate(VARIANT_BOOL* pVal) { return ValueOut(pVal, m_bIsPrivate); }
HRESULT CPOIObject::SetIsPrivate(VARIANT_BOOL newVal) { return com::FlagIn(m_bIsPrivate, newVal); }
HRESULT CPOIObject::GetCategory(IPOICategoryObject** pVal) { return ObjectOut(pVal, m_pCategory); }
HRESULT CPOIObject::SetCategory(IPOICategoryObject* newVal) { return ObjectIn(m_pCategory, newVal); }
HRESULT CPOIObject::GetSubCategory(IPOISubCategoryObject** pVal) { return ObjectOut(pVal, m_pSubCategory); }
HRESULT CPOIObject::SetSubCategory(IPOISubCategoryObject* newVal) { return ObjectIn(m_pSubCategory, newVal); }
HRESULT CPOIObject::CanModifyRMFFields(VARIANT_BOOL* pVal) { return ValueOut(pVal, m_bCanModifyRMFFields); }
HRESULT CPOIObject::SetCanModifyRMFFields(VARIANT_BOOL newVal) { return com::FlagIn(m_bCanModifyRMFFields, newVal); }
