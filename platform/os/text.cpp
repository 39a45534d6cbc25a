// Text conversion at the edges of the platform layer: UTF-8 <-> UTF-16,
// Windows-1252 <-> UTF-16, and the case folding that file and registry names
// are compared with. Every function here is total: malformed input becomes
// U+FFFD (or '?' for the code page), never an error or an out-of-bounds read.
#include "platform/os/text.h"

#include <locale.h>
#include <wctype.h>

#include <array>
#include <cstdint>

namespace platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// One step of UTF-8 decoding. Follows the "maximal subpart" practice: a bad
// sequence yields one U+FFFD for the longest prefix that could have started a
// valid character, and decoding resumes at the first byte that broke it. So
// overlong forms, encoded surrogates and values above U+10FFFF are rejected at
// their second byte, and a truncated sequence costs exactly one U+FFFD.
struct Decoded {
  char32_t cp;
  std::size_t length;
  bool valid;
};

Decoded DecodeUtf8(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char b0 = byte(i);
  if (b0 < 0x80) return {b0, 1, true};
  std::size_t need = 0;
  char32_t cp = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;  // overlong below U+0800
    if (b0 == 0xED) hi = 0x9F;  // UTF-16 surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;  // overlong below U+10000
    if (b0 == 0xF4) hi = 0x8F;  // above U+10FFFF
  } else {
    return {kReplacement, 1, false};  // stray continuation, C0, C1, F5..FF
  }
  std::size_t k = 1;
  for (; k <= need; ++k) {
    if (i + k >= text.size()) return {kReplacement, k, false};
    unsigned char b = byte(i + k);
    unsigned char min = k == 1 ? lo : 0x80;
    unsigned char max = k == 1 ? hi : 0xBF;
    if (b < min || b > max) return {kReplacement, k, false};
    cp = (cp << 6) | (b & 0x3F);
  }
  return {cp, k, true};
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
    return;
  }
  cp -= 0x10000;
  out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
  out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// The 0x80..0x9F block of Windows-1252. Undefined bytes hold their own C1
// code point so that they travel through UTF-16 and back unchanged.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88..8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98..9F
};

char Cp1252Byte(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
  for (std::size_t i = 0; i < kCp1252High.size(); ++i)
    if (kCp1252High[i] == cp) return static_cast<char>(0x80 + i);
  return '?';
}

// Lower-casing beyond ASCII uses the C.UTF-8 locale's tables, which every
// glibc since 2.35 carries; where it is missing only ASCII folds.
locale_t FoldLocale() {
  static const locale_t locale = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (l == static_cast<locale_t>(nullptr))
      l = newlocale(LC_CTYPE_MASK, "C.utf8", static_cast<locale_t>(nullptr));
    return l;
  }();
  return locale;
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    Decoded d = DecodeUtf8(text, i);
    AppendUtf16(out, d.cp);
    i += d.length;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t u = text[i];
    if (IsHighSurrogate(u) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
      AppendUtf8(out, kReplacement);
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}

std::string Utf16ToCp1252(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t u = text[i];
    // A surrogate pair is one character the code page cannot hold: one '?'.
    if (IsHighSurrogate(u) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      out.push_back('?');
      ++i;
      continue;
    }
    out.push_back(Cp1252Byte(u));
  }
  return out;
}

std::u16string Cp1252ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char c : text) {
    auto b = static_cast<unsigned char>(c);
    out.push_back(b >= 0x80 && b <= 0x9F ? kCp1252High[b - 0x80] : static_cast<char16_t>(b));
  }
  return out;
}

std::size_t BoundedLength(const char16_t* text, std::size_t max) {
  if (text == nullptr) return 0;
  std::size_t n = 0;
  while (n < max && text[n] != u'\0') ++n;
  return n;
}

char32_t FoldCodePoint(char32_t c) {
  if (c < 0x80) return (c >= U'A' && c <= U'Z') ? c + 32 : c;
  if (c > 0x10FFFF || IsHighSurrogate(c) || IsLowSurrogate(c)) return c;
  locale_t l = FoldLocale();
  if (l == static_cast<locale_t>(nullptr)) return c;
  return static_cast<char32_t>(towlower_l(static_cast<wint_t>(c), l));
}

std::u32string FoldCase(std::u16string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t u = text[i];
    if (IsHighSurrogate(u) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      u = 0x10000 + ((u - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    out.push_back(FoldCodePoint(u));
  }
  return out;
}

std::u32string FoldCaseUtf8(std::string_view text) {
  // Malformed bytes become values above U+10FFFF (0x110000 + byte), which no
  // character folds to.
  std::u32string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    Decoded d = DecodeUtf8(text, i);
    if (!d.valid) {
      out.push_back(0x110000 + static_cast<unsigned char>(text[i]));
      ++i;
      continue;
    }
    out.push_back(FoldCodePoint(d.cp));
    i += d.length;
  }
  return out;
}

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) {
  // Names are short; the common case differs in length or in an ASCII unit.
  std::size_t i = 0;
  for (; i < a.size() && i < b.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x == y) continue;
    if (x < 0x80 && y < 0x80) {
      if (FoldCodePoint(x) != FoldCodePoint(y)) return false;
      continue;
    }
    break;
  }
  if (i == a.size() && i == b.size()) return true;
  // Never split a surrogate pair: two characters may share the high half.
  if (i > 0 && IsHighSurrogate(a[i - 1])) --i;
  return FoldCase(a.substr(i)) == FoldCase(b.substr(i));
}

}  // namespace platform
