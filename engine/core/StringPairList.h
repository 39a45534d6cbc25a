// Names the engine has already announced (streets, cities), each with a value
// kept beside it. Keys compare without regard to case: they are stored
// lower-cased and probes are lower-cased the same way. The list holds at most
// 50 pairs; it lives inside the engine and allocates nothing beyond its texts.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

class StringPairList {
 public:
  static constexpr std::size_t kCapacity = 50;

  // Adds the key, lower-cased, and its value at the same index. False, with
  // nothing added, when the list is full.
  [[nodiscard]] bool Add(std::u16string_view key, std::u16string_view value);
  // Whether the key, lower-cased, is among the keys.
  bool Contains(std::u16string_view key) const;

  std::size_t Count() const { return m_nCount; }
  // The pair at `index` (below Count()), key as stored.
  const std::u16string& KeyAt(std::size_t index) const { return m_keys[index]; }
  const std::u16string& ValueAt(std::size_t index) const { return m_values[index]; }

 private:
  std::array<std::u16string, kCapacity> m_keys;
  std::array<std::u16string, kCapacity> m_values;
  std::size_t m_nCount = 0;
};
