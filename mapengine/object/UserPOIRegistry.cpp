// The user point-of-interest registry: the user's own points, registered by
// database file, for the point-of-interest search. PLACEHOLDER: being
// written.
#include "mapengine/object/CMap.h"

HRESULT CMap::UnRegisterAllUserPOIs() {
  m_UserPOIRegistry.clear();  // each owner gives its reference back
  return S_OK;
}

HRESULT CMap::RegisterUserPOIs(BSTR, VARIANT*, VARIANT_BOOL* outSuccessful) {
  if (outSuccessful != nullptr) *outSuccessful = VARIANT_FALSE;
  return E_NOTIMPL;
}

HRESULT CMap::UnRegisterUserPOI(BSTR) { return E_NOTIMPL; }

HRESULT CMap::RegisterUserPOI(BSTR, IUnknown*, VARIANT_BOOL* outSuccessful) {
  if (outSuccessful != nullptr) *outSuccessful = VARIANT_FALSE;
  return E_NOTIMPL;
}

HRESULT CMap::DeleteRegistrationUserPOI(BSTR, LONG) { return E_NOTIMPL; }

HRESULT CMap::UpdateRegistrationUserPOI(BSTR, IUnknown*, VARIANT_BOOL* outSuccessful) {
  if (outSuccessful != nullptr) *outSuccessful = VARIANT_FALSE;
  return E_NOTIMPL;
}
