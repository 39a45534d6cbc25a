// LoadStringResource: a numbered text from a language library's string table.
#include "mapengine/object/ResourceStrings.h"

#include <cstdint>
#include <cstring>

#include "platform/os/resource.h"

namespace {

constexpr UINT kStringsPerBlock = 16;

}  // namespace

std::u16string LoadStringResource(HMODULE module, UINT id) {
  if (module == nullptr || id > 0xFFFF) return {};
  const UINT block = id / kStringsPerBlock + 1;
  HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(block), RT_STRING);
  if (info == nullptr) return {};
  HGLOBAL loaded = LoadResource(module, info);
  const auto* bytes = static_cast<const unsigned char*>(LockResource(loaded));
  if (bytes == nullptr) return {};
  // Read in 16-bit units; a trailing odd byte belongs to no unit.
  const std::size_t units = SizeofResource(module, info) / sizeof(char16_t);
  auto unitAt = [bytes](std::size_t i) {
    std::uint16_t unit;
    std::memcpy(&unit, bytes + i * sizeof unit, sizeof unit);
    return unit;
  };

  std::size_t at = 0;
  for (UINT skip = id % kStringsPerBlock; skip > 0; --skip) {
    if (at >= units) return {};
    at += 1 + std::size_t{unitAt(at)};
  }
  if (at >= units) return {};
  const std::size_t length = unitAt(at);
  if (length == 0 || length > units - at - 1) return {};
  std::u16string text(length, u'\0');
  for (std::size_t i = 0; i < length; ++i) text[i] = static_cast<char16_t>(unitAt(at + 1 + i));
  return text;
}
