// Lists handed between the servers as one VARIANT holding VT_ARRAY|VT_VARIANT:
// a one-dimensional SAFEARRAY of variants, lower bound 0 when a server makes
// it, each element an object (VT_DISPATCH or VT_UNKNOWN, holding a reference
// of its own) or a text (VT_BSTR).
//
// VariantArray builds such a list and owns it until it is handed out, so a
// list that fails half-way is freed with every reference it took.
// VariantArrayView reads a list a caller passed in, which is untrusted: the
// variant type, the array's shape and element type, and each element's type
// are checked before anything is read.
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/com/oleauto.h"

namespace com {

class VariantArray {
 public:
  VariantArray() noexcept = default;
  ~VariantArray() { Reset(); }
  VariantArray(const VariantArray&) = delete;
  VariantArray& operator=(const VariantArray&) = delete;

  // Makes the array: `count` VT_EMPTY elements, lower bound 0, in place of one
  // made before. E_OUTOFMEMORY, with no array, when it cannot be made
  // (also for a count beyond what a LONG index reaches).
  [[nodiscard]] HRESULT Create(std::size_t count) noexcept;

  // Element `index` becomes the object, as VT_DISPATCH for an IDispatch and
  // VT_UNKNOWN for an IUnknown; the array takes a reference of its own (none
  // for a null object, which goes in as it is). Whatever the element held is
  // given up. E_UNEXPECTED before Create, DISP_E_BADINDEX for an index outside
  // the array, or the error of the copy.
  [[nodiscard]] HRESULT PutObject(std::size_t index, IDispatch* object) noexcept;
  [[nodiscard]] HRESULT PutObject(std::size_t index, IUnknown* object) noexcept;
  // Element `index` becomes a VT_BSTR copy of `text` (embedded NULs kept);
  // E_OUTOFMEMORY when the copy cannot be made, otherwise as PutObject.
  [[nodiscard]] HRESULT PutText(std::size_t index, std::u16string_view text) noexcept;

  // Hands the array to `out` as VT_ARRAY|VT_VARIANT. What `out` held is
  // overwritten, not freed: the caller clears it first, in the order its
  // contract asks. Without an array (before Create, or after a hand-over)
  // `out` is left as it is and the answer is false.
  bool MoveTo(VARIANT* out) noexcept;

  // Destroys the array, if any, with every reference its elements hold.
  void Reset() noexcept;

  bool HasArray() const noexcept { return array_ != nullptr; }
  std::size_t size() const noexcept { return size_; }

 private:
  HRESULT Put(std::size_t index, VARIANT* element) noexcept;

  SAFEARRAY* array_ = nullptr;
  std::size_t size_ = 0;
};

// Makes `array` a list of `count` objects, element i being `objectAt(i)` (an
// interface pointer the caller keeps; the array takes its own reference). On
// failure the answer is the first error and `array` holds nothing.
template <class ObjectAt>
HRESULT PackObjects(std::size_t count, ObjectAt&& objectAt, VariantArray& array) noexcept(noexcept(objectAt(0))) {
  HRESULT hr = array.Create(count);
  for (std::size_t i = 0; SUCCEEDED(hr) && i < count; ++i) hr = array.PutObject(i, objectAt(i));
  if (FAILED(hr)) array.Reset();
  return hr;
}

class VariantArrayView {
 public:
  // Checks that `list` is VT_ARRAY|VT_VARIANT over a one-dimensional array of
  // variants and takes its bounds. E_POINTER for a null list,
  // DISP_E_TYPEMISMATCH for another variant type (VT_BYREF too) or element
  // type, E_INVALIDARG for a missing or malformed array. On failure the view
  // is empty. The view reads the caller's array in place and keeps no
  // reference: the list must outlive it unchanged.
  [[nodiscard]] HRESULT Open(const VARIANT* list) noexcept;

  // Lower bound of the array as the caller made it.
  LONG lower() const noexcept { return lower_; }
  // Number of elements.
  std::size_t size() const noexcept { return size_; }

  // A new reference to the object of the element at `position` (0 is the
  // first element, whatever the lower bound), which must be a non-null
  // VT_DISPATCH. DISP_E_BADINDEX for a position outside the array,
  // DISP_E_TYPEMISMATCH for an element of another type or a null object,
  // E_POINTER for a null `out`; *out is null on every failure.
  [[nodiscard]] HRESULT DispatchAt(std::size_t position, IDispatch** out) const noexcept;

  // The same element asked for interface I: E_NOINTERFACE when it has none.
  template <class I>
  [[nodiscard]] HRESULT ObjectAt(std::size_t position, I** out) const noexcept {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    IDispatch* object = nullptr;
    HRESULT hr = DispatchAt(position, &object);
    if (FAILED(hr)) return hr;
    hr = object->QueryInterface(IidOf<I>(), reinterpret_cast<void**>(out));
    object->Release();
    if (SUCCEEDED(hr) && *out == nullptr) hr = E_NOINTERFACE;
    if (FAILED(hr)) *out = nullptr;
    return hr;
  }

 private:
  SAFEARRAY* array_ = nullptr;
  LONG lower_ = 0;
  std::size_t size_ = 0;
};

}  // namespace com
