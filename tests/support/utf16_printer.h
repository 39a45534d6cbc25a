// GoogleTest prints UTF-16 text as readable text: u"Straße" rather than
// numbered code units or a list of characters. Every test source sees this
// header first (the test-support target includes it on the command line), so
// each program prints std::u16string, std::u16string_view and char16_t
// strings one way. Code points come out as UTF-8; control characters, the
// quote and the backslash as C escapes, and lone surrogates as \uXXXX so that
// malformed text stays visible.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <string_view>

namespace testing_support {

inline void PrintUtf16(std::u16string_view text, std::ostream* os) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out = "u\"";
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(c >> shift) & 0xF];
      continue;
    }
    switch (c) {
      case u'"': out += "\\\""; continue;
      case u'\\': out += "\\\\"; continue;
      case u'\n': out += "\\n"; continue;
      case u'\r': out += "\\r"; continue;
      case u'\t': out += "\\t"; continue;
      case u'\0': out += "\\0"; continue;
      default: break;
    }
    if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  out += '"';
  *os << out;
}

}  // namespace testing_support

// GoogleTest's printer of a type is chosen through UniversalPrinter; its own
// overloads for these types print code units, and an overload of PrintTo in
// namespace std would be ambiguous with them, so the printer is specialised.
template <>
class testing::internal::UniversalPrinter<std::u16string> {
 public:
  static void Print(const std::u16string& value, std::ostream* os) { testing_support::PrintUtf16(value, os); }
};
template <>
class testing::internal::UniversalPrinter<std::u16string_view> {
 public:
  static void Print(std::u16string_view value, std::ostream* os) { testing_support::PrintUtf16(value, os); }
};
template <>
class testing::internal::UniversalPrinter<const char16_t*> {
 public:
  static void Print(const char16_t* value, std::ostream* os) {
    if (value == nullptr) {
      *os << "NULL";
    } else {
      testing_support::PrintUtf16(value, os);
    }
  }
};
template <>
class testing::internal::UniversalPrinter<char16_t*> : public testing::internal::UniversalPrinter<const char16_t*> {};
