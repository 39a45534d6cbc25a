// Owners for the COM values a class keeps: a BSTR that frees itself, and the
// deleter that lets std::unique_ptr hold an interface reference.
#pragma once

#include <string_view>

#include "platform/com/oleauto.h"

namespace com {

// Owns one BSTR and frees it when it goes or is replaced. A null BSTR is the
// empty text, as everywhere. The conversion to BSTR lends the text without a
// copy, valid while the owner keeps it, so an owner can be passed wherever a
// BSTR argument is read; a callee that keeps the text must copy it.
class Bstr {
 public:
  Bstr() noexcept = default;
  ~Bstr() { SysFreeString(text_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  Bstr(Bstr&& other) noexcept : text_(other.text_) { other.text_ = nullptr; }
  Bstr& operator=(Bstr&& other) noexcept {
    if (this != &other) {
      Reset(other.text_);
      other.text_ = nullptr;
    }
    return *this;
  }

  operator BSTR() const noexcept { return text_; }

  // Replaces the text with a copy of `text` (embedded NULs kept). False, with
  // the old text kept, when memory runs out or the text is too long for a BSTR.
  [[nodiscard]] bool Assign(std::u16string_view text) noexcept {
    if (text.size() > 0x3FFFFFFFu) return false;
    BSTR copy = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (copy == nullptr) return false;
    Reset(copy);
    return true;
  }
  // Frees the text and takes `owned` (nullptr: the empty text) in its place.
  void Reset(BSTR owned = nullptr) noexcept {
    SysFreeString(text_);
    text_ = owned;
  }

 private:
  BSTR text_ = nullptr;
};

// Deleter of std::unique_ptr<I, com::Releaser>: gives one reference back.
struct Releaser {
  template <class I>
  void operator()(I* object) const noexcept {
    object->Release();
  }
};

}  // namespace com
