// One-dimensional SAFEARRAYs: creation with zeroed elements, element access by
// copy, locking, deep copies and destruction. Every entry point checks that the
// descriptor it is given is one this layer could have made, and every index is
// checked in 64-bit arithmetic, so huge or negative bounds never wrap.
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/com/oleauto.h"

namespace {

// The most element storage one array may take; anything larger is a
// corrupted or hostile size rather than a real list.
constexpr std::uint64_t kMaxArrayBytes = 0x40000000;
// Nested locks beyond this are a caller that never unlocks.
constexpr ULONG kMaxLocks = 0xFFFF;

ULONG ElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_UI1:
      return sizeof(BYTE);
    case VT_I2:
      return sizeof(SHORT);
    case VT_BOOL:
      return sizeof(VARIANT_BOOL);
    case VT_I4:
      return sizeof(LONG);
    case VT_R8:
      return sizeof(double);
    case VT_BSTR:
      return sizeof(BSTR);
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return sizeof(IUnknown*);
    case VT_VARIANT:
      return sizeof(VARIANT);
    default:
      return 0;
  }
}

USHORT FeaturesFor(VARTYPE vt) {
  USHORT features = FADF_HAVEVARTYPE;
  if (vt == VT_BSTR) features |= FADF_BSTR;
  if (vt == VT_UNKNOWN) features |= FADF_UNKNOWN;
  if (vt == VT_DISPATCH) features |= FADF_DISPATCH;
  if (vt == VT_VARIANT) features |= FADF_VARIANT;
  return features;
}

bool BoundsFit(LONG lowerBound, ULONG count) {
  // The upper bound lLbound + count - 1 must be a LONG, also for an empty array.
  std::int64_t upper = std::int64_t{lowerBound} + std::int64_t{count} - 1;
  return upper >= INT32_MIN && upper <= INT32_MAX;
}

// True for a descriptor this layer could have made: the checks every entry
// point makes before it touches the elements.
bool IsWellFormed(const SAFEARRAY* psa) {
  if (psa == nullptr || psa->cDims != 1) return false;
  ULONG size = ElementSize(psa->vt);
  if (size == 0 || psa->cbElements != size) return false;
  ULONG count = psa->rgsabound[0].cElements;
  if (std::uint64_t{count} * size > kMaxArrayBytes) return false;
  if (!BoundsFit(psa->rgsabound[0].lLbound, count)) return false;
  return psa->pvData != nullptr;
}

// Position of element `index` in the storage, or DISP_E_BADINDEX.
HRESULT Offset(const SAFEARRAY* psa, LONG index, std::size_t& offset) {
  std::int64_t position = std::int64_t{index} - std::int64_t{psa->rgsabound[0].lLbound};
  if (position < 0 || position >= std::int64_t{psa->rgsabound[0].cElements}) return DISP_E_BADINDEX;
  offset = static_cast<std::size_t>(position);
  return S_OK;
}

template <class E>
E* Elements(const SAFEARRAY* psa) {
  return static_cast<E*>(psa->pvData);
}

// Frees what every element owns and zeroes it.
void ReleaseElements(SAFEARRAY* psa) {
  ULONG count = psa->rgsabound[0].cElements;
  switch (psa->vt) {
    case VT_BSTR:
      for (ULONG i = 0; i < count; ++i) {
        SysFreeString(Elements<BSTR>(psa)[i]);
        Elements<BSTR>(psa)[i] = nullptr;
      }
      break;
    case VT_UNKNOWN:
    case VT_DISPATCH:
      for (ULONG i = 0; i < count; ++i) {
        IUnknown* object = Elements<IUnknown*>(psa)[i];
        Elements<IUnknown*>(psa)[i] = nullptr;
        if (object != nullptr) object->Release();
      }
      break;
    case VT_VARIANT:
      // A variant that cannot be cleared (a type written through AccessData
      // that this layer does not know) is left alone: freeing garbage is worse
      // than a leak.
      for (ULONG i = 0; i < count; ++i) VariantClear(&Elements<VARIANT>(psa)[i]);
      break;
    default:
      break;
  }
}

}  // namespace

namespace com::detail {
bool IsSafeArrayElementType(VARTYPE vt) { return ElementSize(vt) != 0; }
}  // namespace com::detail

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
  ULONG size = ElementSize(vt);
  if (size == 0) return nullptr;
  std::uint64_t bytes = std::uint64_t{cElements} * size;
  if (bytes > kMaxArrayBytes || !BoundsFit(lLbound, cElements)) return nullptr;
  if (com::detail::ValueAllocationFails()) return nullptr;
  auto* psa = static_cast<SAFEARRAY*>(std::calloc(1, sizeof(SAFEARRAY)));
  if (psa == nullptr) return nullptr;
  // Storage is never null, even for no elements, so a well-formed array always
  // has some; calloc zeroes it, which is VT_EMPTY, a null text or reference.
  psa->pvData = std::calloc(bytes == 0 ? 1 : static_cast<std::size_t>(bytes), 1);
  if (psa->pvData == nullptr) {
    std::free(psa);
    return nullptr;
  }
  psa->cDims = 1;
  psa->fFeatures = FeaturesFor(vt);
  psa->cbElements = size;
  psa->cLocks = 0;
  psa->rgsabound[0].cElements = cElements;
  psa->rgsabound[0].lLbound = lLbound;
  psa->vt = vt;
  return psa;
}

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
  if (cDims != 1 || rgsabound == nullptr) return nullptr;
  return SafeArrayCreateVector(vt, rgsabound[0].lLbound, rgsabound[0].cElements);
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
  if (!IsWellFormed(psa)) return E_INVALIDARG;
  if (psa->cLocks != 0) return DISP_E_ARRAYISLOCKED;
  // Locked while the elements go, so that code run by a released object cannot
  // destroy the array a second time underneath us.
  psa->cLocks = 1;
  ReleaseElements(psa);
  std::free(psa->pvData);
  std::free(psa);
  return S_OK;
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  if (!IsWellFormed(psa) || rgIndices == nullptr) return E_INVALIDARG;
  std::size_t i = 0;
  if (HRESULT hr = Offset(psa, rgIndices[0], i); FAILED(hr)) return hr;
  // Each case makes its copy before it frees the old element, so `pv` may be
  // the element's own value.
  switch (psa->vt) {
    case VT_BSTR: {
      auto source = static_cast<BSTR>(pv);
      BSTR copy = nullptr;
      if (source != nullptr) {
        copy = SysAllocStringLen(source, SysStringLen(source));
        if (copy == nullptr) return E_OUTOFMEMORY;
      }
      BSTR old = Elements<BSTR>(psa)[i];
      Elements<BSTR>(psa)[i] = copy;
      SysFreeString(old);
      return S_OK;
    }
    case VT_UNKNOWN:
    case VT_DISPATCH: {
      auto* object = static_cast<IUnknown*>(pv);
      if (object != nullptr) object->AddRef();
      IUnknown* old = Elements<IUnknown*>(psa)[i];
      Elements<IUnknown*>(psa)[i] = object;
      if (old != nullptr) old->Release();
      return S_OK;
    }
    case VT_VARIANT: {
      if (pv == nullptr) return E_INVALIDARG;
      VARIANT copy;
      VariantInit(&copy);
      if (HRESULT hr = VariantCopy(&copy, static_cast<const VARIANT*>(pv)); FAILED(hr)) return hr;
      if (HRESULT hr = VariantClear(&Elements<VARIANT>(psa)[i]); FAILED(hr)) {
        VariantClear(&copy);
        return hr;
      }
      std::memcpy(&Elements<VARIANT>(psa)[i], &copy, sizeof(VARIANT));
      return S_OK;
    }
    default:
      if (pv == nullptr) return E_INVALIDARG;
      std::memcpy(static_cast<unsigned char*>(psa->pvData) + i * psa->cbElements, pv, psa->cbElements);
      return S_OK;
  }
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  if (!IsWellFormed(psa) || rgIndices == nullptr || pv == nullptr) return E_INVALIDARG;
  std::size_t i = 0;
  if (HRESULT hr = Offset(psa, rgIndices[0], i); FAILED(hr)) return hr;
  switch (psa->vt) {
    case VT_BSTR: {
      BSTR source = Elements<BSTR>(psa)[i];
      BSTR copy = nullptr;
      if (source != nullptr) {
        copy = SysAllocStringLen(source, SysStringLen(source));
        if (copy == nullptr) return E_OUTOFMEMORY;
      }
      *static_cast<BSTR*>(pv) = copy;
      return S_OK;
    }
    case VT_UNKNOWN:
    case VT_DISPATCH: {
      IUnknown* object = Elements<IUnknown*>(psa)[i];
      if (object != nullptr) object->AddRef();
      *static_cast<IUnknown**>(pv) = object;
      return S_OK;
    }
    case VT_VARIANT: {
      // The caller's variant is output only: it may hold garbage, so it is
      // written without being cleared.
      VARIANT copy;
      VariantInit(&copy);
      if (HRESULT hr = VariantCopy(&copy, &Elements<VARIANT>(psa)[i]); FAILED(hr)) return hr;
      std::memcpy(pv, &copy, sizeof(VARIANT));
      return S_OK;
    }
    default:
      std::memcpy(pv, static_cast<const unsigned char*>(psa->pvData) + i * psa->cbElements, psa->cbElements);
      return S_OK;
  }
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
  if (!IsWellFormed(psa) || plLbound == nullptr) return E_INVALIDARG;
  if (nDim != 1) return DISP_E_BADINDEX;
  *plLbound = psa->rgsabound[0].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
  if (!IsWellFormed(psa) || plUbound == nullptr) return E_INVALIDARG;
  if (nDim != 1) return DISP_E_BADINDEX;
  // Fits a LONG: IsWellFormed checked the bounds.
  *plUbound = static_cast<LONG>(std::int64_t{psa->rgsabound[0].lLbound} + psa->rgsabound[0].cElements - 1);
  return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* psa) { return IsWellFormed(psa) ? psa->cDims : 0; }

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
  if (!IsWellFormed(psa) || pvt == nullptr) return E_INVALIDARG;
  *pvt = psa->vt;
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
  if (!IsWellFormed(psa) || ppvData == nullptr) return E_INVALIDARG;
  if (psa->cLocks >= kMaxLocks) return E_UNEXPECTED;
  ++psa->cLocks;
  *ppvData = psa->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) {
  if (!IsWellFormed(psa)) return E_INVALIDARG;
  if (psa->cLocks == 0) return E_UNEXPECTED;
  --psa->cLocks;
  return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
  if (ppsaOut == nullptr) return E_INVALIDARG;
  *ppsaOut = nullptr;
  if (!IsWellFormed(psa)) return E_INVALIDARG;
  ULONG count = psa->rgsabound[0].cElements;
  SAFEARRAY* copy = SafeArrayCreateVector(psa->vt, psa->rgsabound[0].lLbound, count);
  if (copy == nullptr) return E_OUTOFMEMORY;
  switch (psa->vt) {
    case VT_BSTR:
      for (ULONG i = 0; i < count; ++i) {
        BSTR source = Elements<BSTR>(psa)[i];
        if (source == nullptr) continue;
        Elements<BSTR>(copy)[i] = SysAllocStringLen(source, SysStringLen(source));
        if (Elements<BSTR>(copy)[i] == nullptr) {
          SafeArrayDestroy(copy);
          return E_OUTOFMEMORY;
        }
      }
      break;
    case VT_UNKNOWN:
    case VT_DISPATCH:
      for (ULONG i = 0; i < count; ++i) {
        IUnknown* object = Elements<IUnknown*>(psa)[i];
        if (object != nullptr) object->AddRef();
        Elements<IUnknown*>(copy)[i] = object;
      }
      break;
    case VT_VARIANT:
      for (ULONG i = 0; i < count; ++i) {
        if (HRESULT hr = VariantCopy(&Elements<VARIANT>(copy)[i], &Elements<VARIANT>(psa)[i]); FAILED(hr)) {
          SafeArrayDestroy(copy);
          return hr;
        }
      }
      break;
    default:
      std::memcpy(copy->pvData, psa->pvData, std::size_t{count} * psa->cbElements);
      break;
  }
  *ppsaOut = copy;
  return S_OK;
}
