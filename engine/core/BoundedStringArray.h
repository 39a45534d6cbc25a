// A fixed-capacity array of texts that owns copies of what it is given. The
// engine keeps short lists of names in it (street names met, registry key
// paths) where a bound matters more than growth: a list that is full refuses
// the next text instead of growing.
//
// Two variants share the operations: BoundedStringArray holds std::u16string
// texts, BoundedBstrArray holds BSTRs (each in a com::Bstr). Both allocate
// their slots once, at construction.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "platform/com/accessors.h"
#include "platform/com/owners.h"
#include "platform/os/wintypes.h"

namespace vov {

namespace detail {

// How each variant copies a text in and views a text it holds.
template <class Text>
struct TextSlot;

template <>
struct TextSlot<std::u16string> {
  using Arg = std::u16string_view;
  static std::u16string_view View(Arg text) { return text; }
  static std::u16string_view View(const std::u16string& held) { return held; }
  static std::u16string Copy(std::u16string_view text) { return std::u16string(text); }
};

template <>
struct TextSlot<com::Bstr> {
  using Arg = BSTR;  // null is the empty text
  static std::u16string_view View(BSTR text) { return com::BstrView(text); }
  static std::u16string_view View(const com::Bstr& held) { return View(static_cast<BSTR>(held)); }
  static com::Bstr Copy(std::u16string_view text) {
    com::Bstr copy;
    if (!copy.Assign(text)) throw std::bad_alloc();
    return copy;
  }
};

}  // namespace detail

template <class Text>
class BasicBoundedStringArray {
  using Slot = detail::TextSlot<Text>;

 public:
  using Arg = typename Slot::Arg;

  // An empty array with room for `capacity` texts (a negative capacity is 0).
  // std::bad_alloc when the slots cannot be allocated.
  explicit BasicBoundedStringArray(INT capacity)
      : capacity_(capacity < 0 ? 0 : capacity), slots_(std::make_unique<Text[]>(static_cast<std::size_t>(capacity_))) {}
  BasicBoundedStringArray(const BasicBoundedStringArray&) = delete;
  BasicBoundedStringArray& operator=(const BasicBoundedStringArray&) = delete;

  INT Capacity() const { return capacity_; }
  INT Count() const { return count_; }

  // Frees every text; the array is empty again with the same capacity.
  void Clear() {
    for (INT i = 0; i < count_; ++i) slots_[i] = Text();
    count_ = 0;
  }

  // Appends a copy of `text`. False, and the array unchanged, when it is
  // full. std::bad_alloc (the array unchanged) when the copy cannot be made.
  [[nodiscard]] bool Add(Arg text) {
    if (count_ >= capacity_) return false;
    slots_[count_] = Slot::Copy(Slot::View(text));
    ++count_;
    return true;
  }

  // A copy of the text at `index`; the empty text for an index outside
  // 0..Count()-1. std::bad_alloc when the copy cannot be made.
  Text GetAt(INT index) const {
    if (index < 0 || index >= count_) return Text();
    return Slot::Copy(Slot::View(slots_[index]));
  }

  // The first index whose text equals `text` (exactly, case and length), or
  // -1.
  INT Find(Arg text) const {
    const std::u16string_view wanted = Slot::View(text);
    for (INT i = 0; i < count_; ++i) {
      if (Slot::View(slots_[i]) == wanted) return i;
    }
    return -1;
  }

 private:
  INT capacity_;
  INT count_ = 0;
  std::unique_ptr<Text[]> slots_;
};

// Both variants are compiled once, in BoundedStringArray.cpp.
extern template class BasicBoundedStringArray<std::u16string>;
extern template class BasicBoundedStringArray<com::Bstr>;

using BoundedStringArray = BasicBoundedStringArray<std::u16string>;
using BoundedBstrArray = BasicBoundedStringArray<com::Bstr>;

}  // namespace vov
