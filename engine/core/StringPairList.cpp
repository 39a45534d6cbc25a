#include "engine/core/StringPairList.h"

#include <algorithm>

#include "platform/os/text.h"

namespace {

// Lower-cased as the system compares names: code point by code point; a lone
// surrogate stays as it is.
std::u16string LowerCase(std::u16string_view text) {
  std::u16string lower;
  lower.reserve(text.size());
  for (char32_t c : platform::FoldCase(text)) {
    if (c >= 0x10000 && c <= 0x10FFFF) {
      c -= 0x10000;
      lower.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      lower.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      lower.push_back(static_cast<char16_t>(c));
    }
  }
  return lower;
}

}  // namespace

bool StringPairList::Add(std::u16string_view key, std::u16string_view value) {
  if (m_nCount == kCapacity) return false;
  m_keys[m_nCount] = LowerCase(key);
  m_values[m_nCount] = std::u16string(value);
  ++m_nCount;
  return true;
}

bool StringPairList::Contains(std::u16string_view key) const {
  const std::u16string probe = LowerCase(key);
  return std::find(m_keys.begin(), m_keys.begin() + static_cast<std::ptrdiff_t>(m_nCount), probe) !=
         m_keys.begin() + static_cast<std::ptrdiff_t>(m_nCount);
}
