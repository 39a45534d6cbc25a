// The one formatter for wide printf-style templates. Templates come from
// language libraries and catalogues, which are outside input: the scanner
// below never reads past the template, never takes an argument that is not
// there, and caps widths so that "%999999999d" cannot ask for a gigabyte.
#include "platform/os/format.h"

#include <algorithm>
#include <cstddef>

namespace platform {
namespace {

// Widths and precisions beyond this are taken as this. No sentence the
// system speaks or logs needs a field wider than a screen of text.
constexpr std::size_t kMaxField = 4096;

struct Placeholder {
  bool left = false;
  bool zero = false;
  std::size_t width = 0;
  bool hasPrecision = false;
  std::size_t precision = 0;
  char16_t conversion = 0;
};

// Reads a run of digits at `i`, saturating at kMaxField.
std::size_t ReadNumber(std::u16string_view t, std::size_t& i) {
  std::size_t n = 0;
  while (i < t.size() && t[i] >= u'0' && t[i] <= u'9') {
    n = std::min(kMaxField, n * 10 + static_cast<std::size_t>(t[i] - u'0'));
    ++i;
  }
  return n;
}

// Parses the placeholder that starts at t[start] == '%'. Returns false when
// the template ends before a conversion letter; `end` is one past the last
// unit read either way.
bool ParsePlaceholder(std::u16string_view t, std::size_t start, Placeholder& ph, std::size_t& end) {
  std::size_t i = start + 1;
  for (; i < t.size() && (t[i] == u'-' || t[i] == u'0'); ++i) {
    if (t[i] == u'-') ph.left = true;
    if (t[i] == u'0') ph.zero = true;
  }
  ph.width = ReadNumber(t, i);
  if (i < t.size() && t[i] == u'.') {
    ++i;
    ph.hasPrecision = true;
    ph.precision = ReadNumber(t, i);
  }
  while (i < t.size() && (t[i] == u'l' || t[i] == u'h')) ++i;
  end = i;
  if (i >= t.size()) return false;
  ph.conversion = t[i];
  end = i + 1;
  return true;
}

void Pad(std::u16string& out, std::size_t n, char16_t c) { out.append(n, c); }

// Writes `body` in a field of the placeholder's width. Zero padding goes
// between the sign and the digits ("-0042"), and only for numbers.
void WriteField(std::u16string& out, const Placeholder& ph, std::u16string_view sign, std::u16string_view body,
                bool numeric) {
  std::size_t len = sign.size() + body.size();
  std::size_t fill = ph.width > len ? ph.width - len : 0;
  if (ph.left) {
    out.append(sign);
    out.append(body);
    Pad(out, fill, u' ');
  } else if (ph.zero && numeric) {
    out.append(sign);
    Pad(out, fill, u'0');
    out.append(body);
  } else {
    Pad(out, fill, u' ');
    out.append(sign);
    out.append(body);
  }
}

std::u16string Digits(std::uint64_t v, unsigned base, bool upper) {
  const char16_t* digits = upper ? u"0123456789ABCDEF" : u"0123456789abcdef";
  char16_t buf[64];
  std::size_t n = 0;
  do {
    buf[n++] = digits[v % base];
    v /= base;
  } while (v != 0);
  std::u16string out(n, u'0');
  for (std::size_t k = 0; k < n; ++k) out[k] = buf[n - 1 - k];
  return out;
}

// The phone's int and long are 32 bits, and %u / %x read them as unsigned:
// a negative value that fits 32 bits prints as its 32-bit pattern (E_FAIL as
// %08X gives "80004005"); anything wider uses all 64 bits.
std::uint64_t AsUnsigned(std::int64_t v) {
  if (v >= 0) return static_cast<std::uint64_t>(v);
  if (v >= INT32_MIN) return static_cast<std::uint32_t>(static_cast<std::int32_t>(v));
  return static_cast<std::uint64_t>(v);
}

void WriteSigned(std::u16string& out, const Placeholder& ph, std::int64_t v) {
  // Magnitude through unsigned arithmetic: -INT64_MIN does not exist.
  std::uint64_t magnitude = v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
  WriteField(out, ph, v < 0 ? u"-" : u"", Digits(magnitude, 10, false), true);
}

void WriteUnsigned(std::u16string& out, const Placeholder& ph, std::uint64_t v) {
  bool hex = ph.conversion == u'x' || ph.conversion == u'X';
  WriteField(out, ph, u"", Digits(v, hex ? 16 : 10, ph.conversion == u'X'), true);
}

void WriteText(std::u16string& out, const Placeholder& ph, std::u16string_view text) {
  if (ph.conversion == u's' && ph.hasPrecision && text.size() > ph.precision)
    text = text.substr(0, ph.precision);
  WriteField(out, ph, u"", text, false);
}

// %c of a number: the character with that code (a NUL writes nothing, as it
// would end the text on the phone). A number that is no character is written
// as its decimal text by the caller.
bool IsCharCode(std::int64_t v) { return v >= 0 && v <= 0x10FFFF; }

void WriteCharCode(std::u16string& out, const Placeholder& ph, std::uint32_t code) {
  std::u16string text;
  if (code >= 0x10000) {
    code -= 0x10000;
    text.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
    text.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
  } else if (code != 0) {
    text.push_back(static_cast<char16_t>(code));
  }
  WriteField(out, ph, u"", text, false);
}

// Numbers written where text was asked for (%s, or %c of no character) are
// padded as text: the zero flag is a number option.
Placeholder AsDecimalText(const Placeholder& ph, char16_t conversion) {
  Placeholder s = ph;
  s.zero = false;
  s.conversion = conversion;
  return s;
}

void WriteArg(std::u16string& out, const Placeholder& ph, const FormatArg::Value& value) {
  const char16_t c = ph.conversion;
  const bool unsignedConversion = c == u'u' || c == u'x' || c == u'X';
  if (const auto* text = std::get_if<std::u16string_view>(&value)) {
    WriteText(out, ph, *text);  // a text is written as text whatever was asked
  } else if (const auto* ch = std::get_if<char16_t>(&value)) {
    if (c == u's' || c == u'c') {
      WriteText(out, ph, std::u16string_view(ch, 1));
    } else if (unsignedConversion) {
      WriteUnsigned(out, ph, *ch);
    } else {
      WriteSigned(out, ph, *ch);
    }
  } else if (const auto* s = std::get_if<std::int64_t>(&value)) {
    if (c == u'c' && IsCharCode(*s)) {
      WriteCharCode(out, ph, static_cast<std::uint32_t>(*s));
    } else if (unsignedConversion) {
      WriteUnsigned(out, ph, AsUnsigned(*s));
    } else if (c == u's' || c == u'c') {
      WriteSigned(out, AsDecimalText(ph, u'd'), *s);
    } else {
      WriteSigned(out, ph, *s);
    }
  } else {
    const auto u = std::get<std::uint64_t>(value);
    if (c == u'c' && u <= 0x10FFFF) {
      WriteCharCode(out, ph, static_cast<std::uint32_t>(u));
    } else if (unsignedConversion) {
      WriteUnsigned(out, ph, u);
    } else if (c == u's' || c == u'c') {
      WriteUnsigned(out, AsDecimalText(ph, u'u'), u);
    } else {
      Placeholder decimal = ph;  // %d of a value above INT64_MAX: still its decimal value
      decimal.conversion = u'u';
      WriteUnsigned(out, decimal, u);
    }
  }
}

}  // namespace

std::u16string FormatW(std::u16string_view tmpl, std::initializer_list<FormatArg> args) {
  std::u16string out;
  out.reserve(tmpl.size() + 16 * args.size());
  auto next = args.begin();
  for (std::size_t i = 0; i < tmpl.size();) {
    if (tmpl[i] != u'%') {
      out.push_back(tmpl[i++]);
      continue;
    }
    Placeholder ph;
    std::size_t end = 0;
    if (!ParsePlaceholder(tmpl, i, ph, end)) {  // the template ends inside a placeholder
      out.append(tmpl.substr(i));
      break;
    }
    std::u16string_view placeholder = tmpl.substr(i, end - i);
    i = end;
    switch (ph.conversion) {
      case u'%':
        out.push_back(u'%');
        break;
      case u's':
      case u'c':
      case u'd':
      case u'i':
      case u'u':
      case u'x':
      case u'X':
        if (next == args.end()) {
          out.append(placeholder);
        } else {
          WriteArg(out, ph, (next++)->value());
        }
        break;
      default:
        out.append(placeholder);
        break;
    }
  }
  return out;
}

}  // namespace platform
