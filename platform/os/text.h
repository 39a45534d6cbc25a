// Text conversion at the edges: UTF-8 (terminal, host file names, route files)
// to and from UTF-16 (everything inside), and the phone's 8-bit code page.
// Malformed input never fails: bad sequences become U+FFFD. Also the value of
// a hexadecimal digit, for the readers of hex text (GUIDs, the registry file,
// checksums, map descriptions).
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// Windows-1252: characters it cannot hold become '?' (one '?' per character,
// also for a surrogate pair). The five bytes the code page leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 control characters of the same
// number and back, so every byte string survives a round trip.
std::string Utf16ToCp1252(std::u16string_view text);
std::u16string Cp1252ToUtf16(std::string_view text);

// Length of a NUL-terminated UTF-16 text, reading at most `max` characters
// (returns `max` when no NUL was found within them). A null pointer has length 0.
std::size_t BoundedLength(const char16_t* text, std::size_t max);

// The value of a hexadecimal digit in either case, -1 for any other character.
constexpr int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Case folding for names that compare without regard to case (file names,
// registry keys and value names): each code point is lower-cased on its own
// (simple Unicode mapping), as the phone's file system and registry do.
char32_t FoldCodePoint(char32_t c);
// Folded code points of a UTF-16 name; a lone surrogate stays as its own unit.
std::u32string FoldCase(std::u16string_view text);
// Folded code points of a UTF-8 host name; bytes that are not UTF-8 stay
// distinct from each other and from every character, so two different
// malformed names never compare equal.
std::u32string FoldCaseUtf8(std::string_view text);
bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b);

}  // namespace platform
