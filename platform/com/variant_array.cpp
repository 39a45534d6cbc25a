// Building and reading the servers' VT_ARRAY|VT_VARIANT lists.
#include "platform/com/variant_array.h"

#include <cstdint>
#include <limits>

namespace com {

namespace {

// Element indices are LONGs counted from lower bound 0.
constexpr std::size_t kMostElements = static_cast<std::size_t>(std::numeric_limits<LONG>::max());

}  // namespace

HRESULT VariantArray::Create(std::size_t count) noexcept {
  Reset();
  if (count > kMostElements) return E_OUTOFMEMORY;
  array_ = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(count));
  if (array_ == nullptr) return E_OUTOFMEMORY;
  size_ = count;
  return S_OK;
}

HRESULT VariantArray::Put(std::size_t index, VARIANT* element) noexcept {
  if (array_ == nullptr) return E_UNEXPECTED;
  if (index >= size_) return DISP_E_BADINDEX;
  LONG at = static_cast<LONG>(index);
  // The array keeps a deep copy: its own reference or its own text.
  return SafeArrayPutElement(array_, &at, element);
}

HRESULT VariantArray::PutObject(std::size_t index, IDispatch* object) noexcept {
  VARIANT element;
  VariantInit(&element);
  element.vt = VT_DISPATCH;
  element.pdispVal = object;
  return Put(index, &element);  // `element` borrows the caller's reference: nothing to clear
}

HRESULT VariantArray::PutObject(std::size_t index, IUnknown* object) noexcept {
  VARIANT element;
  VariantInit(&element);
  element.vt = VT_UNKNOWN;
  element.punkVal = object;
  return Put(index, &element);
}

HRESULT VariantArray::PutText(std::size_t index, std::u16string_view text) noexcept {
  if (array_ == nullptr) return E_UNEXPECTED;
  if (index >= size_) return DISP_E_BADINDEX;
  if (text.size() > 0x3FFFFFFFu) return E_OUTOFMEMORY;
  VARIANT element;
  VariantInit(&element);
  element.vt = VT_BSTR;
  element.bstrVal = SysAllocStringLen(text.empty() ? u"" : text.data(), static_cast<UINT>(text.size()));
  HRESULT hr = element.bstrVal != nullptr ? Put(index, &element) : E_OUTOFMEMORY;
  VariantClear(&element);
  return hr;
}

bool VariantArray::MoveTo(VARIANT* out) noexcept {
  if (array_ == nullptr || out == nullptr) return false;
  out->vt = VT_ARRAY | VT_VARIANT;
  out->parray = array_;
  array_ = nullptr;
  size_ = 0;
  return true;
}

void VariantArray::Reset() noexcept {
  // The array is never locked while this object owns it, so it always goes.
  if (array_ != nullptr) SafeArrayDestroy(array_);
  array_ = nullptr;
  size_ = 0;
}

HRESULT VariantArrayView::Open(const VARIANT* list) noexcept {
  array_ = nullptr;
  lower_ = 0;
  size_ = 0;
  if (list == nullptr) return E_POINTER;
  // An array of another element type would be read as variants it does not
  // hold, so the variant type is checked before the array is touched.
  if (list->vt != (VT_ARRAY | VT_VARIANT)) return DISP_E_TYPEMISMATCH;
  SAFEARRAY* array = list->parray;
  if (array == nullptr || SafeArrayGetDim(array) != 1) return E_INVALIDARG;
  VARTYPE elementType = VT_EMPTY;
  HRESULT hr = SafeArrayGetVartype(array, &elementType);
  if (FAILED(hr)) return hr;
  if (elementType != VT_VARIANT) return DISP_E_TYPEMISMATCH;
  LONG lower = 0;
  LONG upper = 0;
  if (FAILED(hr = SafeArrayGetLBound(array, 1, &lower))) return hr;
  if (FAILED(hr = SafeArrayGetUBound(array, 1, &upper))) return hr;
  const std::int64_t count = std::int64_t{upper} - std::int64_t{lower} + 1;
  if (count < 0) return E_INVALIDARG;
  array_ = array;
  lower_ = lower;
  size_ = static_cast<std::size_t>(count);
  return S_OK;
}

HRESULT VariantArrayView::DispatchAt(std::size_t position, IDispatch** out) const noexcept {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (array_ == nullptr || position >= size_) return DISP_E_BADINDEX;
  void* data = nullptr;
  HRESULT hr = SafeArrayAccessData(array_, &data);
  if (FAILED(hr)) return hr;
  const VARIANT& element = static_cast<const VARIANT*>(data)[position];
  if (element.vt == VT_DISPATCH && element.pdispVal != nullptr) {
    element.pdispVal->AddRef();
    *out = element.pdispVal;
  } else {
    hr = DISP_E_TYPEMISMATCH;
  }
  SafeArrayUnaccessData(array_);
  return hr;
}

}  // namespace com
