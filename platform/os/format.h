// The one formatter for wide printf-style templates (language libraries,
// catalogues, log lines). Arguments are typed, so a template never reads an
// argument that is not there or takes one for another type:
//   %s   wide text          %c   one character
//   %d %i  signed decimal   %u   unsigned decimal
//   %x %X  hexadecimal      %%   a percent sign
// with an optional '-' (left align), '0' (zero padding), width and, for %s, a
// precision (".N" = at most N characters); 'l' and 'h' length letters are
// accepted and ignored. A placeholder with no argument left is written as it
// stands in the template; an argument of another kind is written in the
// placeholder's style as well as it can be (a number for %s becomes its
// decimal text, a text for %d is written as text); an unknown conversion is
// copied literally. Arguments beyond the placeholders are ignored.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace platform {

class FormatArg {
 public:
  FormatArg(int v) : value_(static_cast<std::int64_t>(v)) {}
  FormatArg(long v) : value_(static_cast<std::int64_t>(v)) {}
  FormatArg(long long v) : value_(static_cast<std::int64_t>(v)) {}
  FormatArg(short v) : value_(static_cast<std::int64_t>(v)) {}
  FormatArg(unsigned v) : value_(static_cast<std::uint64_t>(v)) {}
  FormatArg(unsigned long v) : value_(static_cast<std::uint64_t>(v)) {}
  FormatArg(unsigned long long v) : value_(static_cast<std::uint64_t>(v)) {}
  FormatArg(unsigned short v) : value_(static_cast<std::uint64_t>(v)) {}
  FormatArg(char16_t v) : value_(v) {}
  FormatArg(std::u16string_view v) : value_(v) {}
  FormatArg(const std::u16string& v) : value_(std::u16string_view(v)) {}
  // A null text pointer formats as "(null)".
  FormatArg(const char16_t* v) : value_(v ? std::u16string_view(v) : std::u16string_view(u"(null)")) {}

  using Value = std::variant<std::int64_t, std::uint64_t, char16_t, std::u16string_view>;
  const Value& value() const { return value_; }

 private:
  Value value_;
};

std::u16string FormatW(std::u16string_view tmpl, std::initializer_list<FormatArg> args);

}  // namespace platform
