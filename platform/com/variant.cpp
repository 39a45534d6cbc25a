// VARIANT values: initialising, freeing what a variant owns, and deep copies.
// A variant's type decides what it owns; types this layer does not know are
// refused before anything is touched, so a garbage variant is never freed.
#include <cstring>

#include "platform/com/oleauto.h"

namespace {

// What a variant of some type owns, which decides how it is freed and copied.
enum class Ownership {
  kInvalid,    // not a type of this layer
  kNothing,    // empty, null, scalars, and every VT_BYREF variant
  kText,       // VT_BSTR
  kReference,  // VT_UNKNOWN, VT_DISPATCH
  kArray,      // VT_ARRAY | element type
};

bool IsScalarType(VARTYPE vt) {
  switch (vt) {
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_ERROR:
    case VT_BOOL:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
      return true;
    default:
      return false;
  }
}

Ownership OwnershipOf(VARTYPE vt) {
  if ((vt & VT_BYREF) != 0) {
    auto target = static_cast<VARTYPE>(vt & ~VT_BYREF);
    if ((target & VT_ARRAY) != 0) {
      return com::detail::IsSafeArrayElementType(static_cast<VARTYPE>(target & ~VT_ARRAY)) ? Ownership::kNothing
                                                                                            : Ownership::kInvalid;
    }
    bool known = IsScalarType(target) || target == VT_BSTR || target == VT_DISPATCH || target == VT_UNKNOWN ||
                 target == VT_VARIANT;
    return known ? Ownership::kNothing : Ownership::kInvalid;
  }
  if ((vt & VT_ARRAY) != 0) {
    return com::detail::IsSafeArrayElementType(static_cast<VARTYPE>(vt & ~VT_ARRAY)) ? Ownership::kArray
                                                                                     : Ownership::kInvalid;
  }
  if (vt == VT_EMPTY || vt == VT_NULL || IsScalarType(vt)) return Ownership::kNothing;
  if (vt == VT_BSTR) return Ownership::kText;
  if (vt == VT_DISPATCH || vt == VT_UNKNOWN) return Ownership::kReference;
  return Ownership::kInvalid;
}

// Makes `out` an independent copy of `src`; `out` is not read and is left
// VT_EMPTY on failure.
HRESULT CopyValue(VARIANT& out, const VARIANT& src) {
  Ownership ownership = OwnershipOf(src.vt);
  if (ownership == Ownership::kInvalid) {
    VariantInit(&out);
    return DISP_E_BADVARTYPE;
  }
  std::memcpy(&out, &src, sizeof(VARIANT));
  switch (ownership) {
    case Ownership::kText:
      // A null text stays null: null and empty texts are the same value.
      if (src.bstrVal != nullptr) {
        out.bstrVal = SysAllocStringLen(src.bstrVal, SysStringLen(src.bstrVal));
        if (out.bstrVal == nullptr) {
          VariantInit(&out);
          return E_OUTOFMEMORY;
        }
      }
      break;
    case Ownership::kReference:
      if (src.punkVal != nullptr) src.punkVal->AddRef();
      break;
    case Ownership::kArray:
      if (src.parray != nullptr) {
        SAFEARRAY* copy = nullptr;
        HRESULT hr = SafeArrayCopy(src.parray, &copy);
        if (FAILED(hr)) {
          VariantInit(&out);
          return hr;
        }
        out.parray = copy;
      }
      break;
    case Ownership::kInvalid:
    case Ownership::kNothing:
      break;
  }
  return S_OK;
}

}  // namespace

void VariantInit(VARIANT* pvarg) {
  if (pvarg == nullptr) return;
  std::memset(pvarg, 0, sizeof(VARIANT));
  pvarg->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* pvarg) {
  if (pvarg == nullptr) return E_INVALIDARG;
  switch (OwnershipOf(pvarg->vt)) {
    case Ownership::kInvalid:
      return DISP_E_BADVARTYPE;
    case Ownership::kNothing:
      break;
    case Ownership::kText:
      SysFreeString(pvarg->bstrVal);
      break;
    case Ownership::kReference: {
      // The variant is emptied before the reference goes, so code run by the
      // object's destruction never sees a variant naming a dead object.
      IUnknown* object = pvarg->punkVal;
      VariantInit(pvarg);
      if (object != nullptr) object->Release();
      return S_OK;
    }
    case Ownership::kArray:
      if (pvarg->parray != nullptr) {
        HRESULT hr = SafeArrayDestroy(pvarg->parray);
        if (FAILED(hr)) return hr;
      }
      break;
  }
  VariantInit(pvarg);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* pvargDest, const VARIANT* pvargSrc) {
  if (pvargDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
  if (pvargDest == pvargSrc) return OwnershipOf(pvargSrc->vt) == Ownership::kInvalid ? DISP_E_BADVARTYPE : S_OK;
  VARIANT copy;
  HRESULT copied = CopyValue(copy, *pvargSrc);
  HRESULT cleared = VariantClear(pvargDest);
  if (FAILED(cleared)) {
    VariantClear(&copy);
    return cleared;
  }
  if (FAILED(copied)) return copied;
  std::memcpy(pvargDest, &copy, sizeof(VARIANT));
  return S_OK;
}
