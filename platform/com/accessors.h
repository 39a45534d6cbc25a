// Bodies of the servers' property accessors: a value or a copy of a text
// handed to the caller, a caller's text stored in a field, a flag as stored,
// and a BSTR read as a view by its stored length. Every getter of every server
// answers the same way through these: E_POINTER for a null out pointer, a new
// text the caller frees (empty, never null, for an empty field), and
// E_OUTOFMEMORY when a copy cannot be made.
#pragma once

#include <initializer_list>
#include <string_view>
#include <type_traits>

#include "platform/com/oleauto.h"
#include "platform/com/owners.h"

namespace com {

// The text of a BSTR by its stored length, embedded NULs kept; a null BSTR is
// the empty text. The view lends the caller's text: it is valid while the BSTR is.
inline std::u16string_view BstrView(BSTR text) noexcept {
  if (text == nullptr) return {};
  return std::u16string_view(text, SysStringLen(text));
}

// E_POINTER for a null out pointer; otherwise the value goes out with S_OK.
// Only numbers, enumerations and flags go out this way: their copy cannot fail.
template <class T, class U>
HRESULT ValueOut(T* out, U value) noexcept {
  static_assert(std::is_scalar_v<T> && std::is_scalar_v<U>, "only scalars copy without a way to fail");
  if (out == nullptr) return E_POINTER;
  *out = static_cast<T>(value);
  return S_OK;
}

// A new copy of a text for the caller, who frees it: a field's BSTR (read by
// its stored length, so embedded NULs go out too; a com::Bstr passes here) or
// a text the server built. An empty text gives an empty BSTR, never a null
// one. When memory runs out *out is null and the answer is E_OUTOFMEMORY.
inline HRESULT TextOut(BSTR* out, std::u16string_view text) noexcept {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (text.size() > 0x3FFFFFFFu) return E_OUTOFMEMORY;
  // A null pointer would ask SysAllocStringLen for zeroed characters; an
  // empty view may carry one, so it is given a real empty text instead.
  *out = SysAllocStringLen(text.empty() ? u"" : text.data(), static_cast<UINT>(text.size()));
  return *out == nullptr ? E_OUTOFMEMORY : S_OK;
}
inline HRESULT TextOut(BSTR* out, BSTR text) noexcept { return TextOut(out, BstrView(text)); }

// Copies the caller's text (embedded NULs kept; a null BSTR is the empty text)
// into the field; the field keeps its old text, with E_OUTOFMEMORY, when
// memory runs out. The field is an owner or a plain BSTR the class frees.
inline HRESULT TextIn(Bstr& field, std::u16string_view text) noexcept {
  return field.Assign(text) ? S_OK : E_OUTOFMEMORY;
}
inline HRESULT TextIn(Bstr& field, BSTR text) noexcept { return TextIn(field, BstrView(text)); }
inline HRESULT TextIn(BSTR& field, std::u16string_view text) noexcept {
  if (text.size() > 0x3FFFFFFFu) return E_OUTOFMEMORY;
  BSTR copy = SysAllocStringLen(text.empty() ? u"" : text.data(), static_cast<UINT>(text.size()));
  if (copy == nullptr) return E_OUTOFMEMORY;
  SysFreeString(field);
  field = copy;
  return S_OK;
}
inline HRESULT TextIn(BSTR& field, BSTR text) noexcept { return TextIn(field, BstrView(text)); }

// Frees each plain BSTR field and leaves it null: the destructor of a class
// that keeps its texts as plain BSTRs.
inline void FreeTexts(std::initializer_list<BSTR*> fields) noexcept {
  for (BSTR* field : fields) {
    SysFreeString(*field);
    *field = nullptr;
  }
}

// A VARIANT_BOOL as stored: any non-zero value is VARIANT_TRUE.
constexpr VARIANT_BOOL Flag(VARIANT_BOOL value) noexcept { return value != 0 ? VARIANT_TRUE : VARIANT_FALSE; }

// A caller's number stored in a field, which cannot fail: S_OK.
template <class T, class U>
HRESULT ValueIn(T& field, U value) noexcept {
  static_assert(std::is_scalar_v<T> && std::is_scalar_v<U>, "only scalars store without a way to fail");
  field = value;
  return S_OK;
}

// A caller's flag stored as Flag stores it: S_OK.
inline HRESULT FlagIn(VARIANT_BOOL& field, VARIANT_BOOL value) noexcept {
  field = Flag(value);
  return S_OK;
}

}  // namespace com
