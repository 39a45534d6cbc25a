// Accessor bodies shared by the engine's value objects: a value or a copy of a
// text handed to the caller, and a caller's text copied into a field. Internal
// to engine/core; the interfaces' contracts are the ones stated here.
#pragma once

#include <string_view>

#include "platform/com/oleauto.h"
#include "platform/com/owners.h"

namespace vov::detail {

// E_POINTER for a null out pointer; otherwise the value goes out with S_OK.
template <class T>
HRESULT ValueOut(T* out, T value) {
  if (out == nullptr) return E_POINTER;
  *out = value;
  return S_OK;
}

// A new copy of the text for the caller, who frees it. An empty field gives an
// empty text, never a null one.
inline HRESULT TextOut(BSTR* out, const com::Bstr& text) {
  if (out == nullptr) return E_POINTER;
  *out = SysAllocStringLen(text, SysStringLen(text));
  return *out == nullptr ? E_OUTOFMEMORY : S_OK;
}

// A new copy of a text the engine built, for the caller, who frees it.
inline HRESULT TextOut(BSTR* out, std::u16string_view text) {
  if (out == nullptr) return E_POINTER;
  if (text.size() > 0x3FFFFFFFu) return E_OUTOFMEMORY;
  *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out == nullptr ? E_OUTOFMEMORY : S_OK;
}

// Copies the caller's text (a null BSTR is the empty text) into the field; the
// field keeps its old text when memory runs out.
inline HRESULT TextIn(com::Bstr& field, std::u16string_view text) {
  return field.Assign(text) ? S_OK : E_OUTOFMEMORY;
}
inline HRESULT TextIn(com::Bstr& field, BSTR text) {
  return TextIn(field, std::u16string_view(text == nullptr ? u"" : text, SysStringLen(text)));
}

// A VARIANT_BOOL as stored: any non-zero value is VARIANT_TRUE.
inline VARIANT_BOOL Flag(VARIANT_BOOL value) { return value != 0 ? VARIANT_TRUE : VARIANT_FALSE; }

}  // namespace vov::detail
