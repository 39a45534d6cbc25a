// House-number ranges of street pieces and the text rules of house numbers:
// the range decoders (wide and narrow twins share one template), the number
// and letter parts of a house number, and the test of which side of a piece
// holds a number.
#include "mapengine/object/HouseNumbers.h"

#include <algorithm>
#include <array>
#include <limits>

#include "platform/os/format.h"
#include "platform/os/text.h"

namespace {

// The character at `index`, or 0 past the end: a short text never lends a
// byte that does not belong to it.
template <class Char>
char32_t At(std::basic_string_view<Char> text, std::size_t index) {
  if (index >= text.size()) return 0;
  if constexpr (sizeof(Char) == 1) {
    return static_cast<unsigned char>(text[index]);
  } else {
    return static_cast<char32_t>(text[index]);
  }
}

bool IsDigit(char32_t c) { return c >= U'0' && c <= U'9'; }
bool IsUpper(char32_t c) { return c >= U'A' && c <= U'Z'; }
bool IsLower(char32_t c) { return c >= U'a' && c <= U'z'; }

// Letters of the scripts the engine's lower-casing knows: Basic Latin,
// Latin-1, Latin Extended-A and -B with the IPA and modifier letters, Greek,
// Cyrillic, Latin Extended Additional and Greek Extended. Held in code rather
// than asked of the C library so that the answer does not depend on the
// process's locale.
bool IsLetter(char32_t c) {
  if (IsUpper(c) || IsLower(c)) return true;
  if (c < 0xAA) return false;
  if (c == 0xAA || c == 0xB5 || c == 0xBA) return true;
  if (c >= 0xC0 && c <= 0x2C1) return c != 0xD7 && c != 0xF7;
  if (c >= 0x370 && c <= 0x3FF) {
    return c != 0x374 && c != 0x375 && c != 0x37E && c != 0x384 && c != 0x385 && c != 0x387 && c != 0x3F6 &&
           c != 0x378 && c != 0x379 && !(c >= 0x380 && c <= 0x383) && c != 0x38B && c != 0x38D && c != 0x3A2;
  }
  if (c >= 0x400 && c <= 0x52F) return !(c >= 0x482 && c <= 0x489);
  if (c >= 0x1E00 && c <= 0x1FBC) return true;
  return false;
}

std::int32_t Clamp32(std::int64_t v) {
  constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(std::clamp(v, kMin, kMax));
}

// The decimal number at the start of `text` as the C library's atoi reads it
// (leading blanks, an optional sign, digits), held to 32 bits; 0 when there
// is none.
std::int32_t LeadingNumber(std::u16string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
    negative = text[i] == u'-';
    ++i;
  }
  std::int64_t value = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    value = std::min<std::int64_t>(value * 10 + (text[i] - u'0'), std::int64_t{1} << 40);
  }
  return Clamp32(negative ? -value : value);
}

// Position of the last letter of `text`, or npos.
std::size_t LastLetter(std::u16string_view text) {
  for (std::size_t i = text.size(); i > 0; --i) {
    if (IsLetter(text[i - 1])) return i - 1;
  }
  return std::u16string_view::npos;
}

template <class Char>
bool IsMarker(std::basic_string_view<Char> text) {
  const auto codeChar = [](char32_t c) { return IsDigit(c) || IsUpper(c); };
  const char32_t last = At(text, 3);
  return At(text, 0) == U':' && codeChar(At(text, 1)) && codeChar(At(text, 2)) && (last == U'/' || last == U':');
}

// True when the backslash at `pos` begins a range-code marker.
template <class Char>
bool MarkerFollows(std::basic_string_view<Char> text, std::size_t pos) {
  return At(text, pos) == U'\\' && IsMarker(text.substr(std::min(pos + 1, text.size())));
}

struct Values {
  std::int64_t from1 = 0, to1 = 0, from2 = 0, to2 = 0;
};

// Places (from1, to1, from2, to2) by the orientation code; false for any code
// other than two characters each '+' or '-'.
template <class T>
bool Orient(char32_t first, char32_t second, const T& from1, const T& to1, const T& from2, const T& to2,
            std::array<T, 4>& out) {
  if (first == U'-' && second == U'+') {
    out = {from1, to1, from2, to2};
  } else if (first == U'+' && second == U'+') {
    out = {to1, from1, to2, from2};
  } else if (first == U'+' && second == U'-') {
    out = {to2, from2, to1, from1};
  } else if (first == U'-' && second == U'-') {
    out = {from2, to2, from1, to1};
  } else {
    return false;
  }
  return true;
}

template <class Char>
bool OrientationIsValid(std::basic_string_view<Char> orientation) {
  const auto sign = [](char32_t c) { return c == U'+' || c == U'-'; };
  return sign(At(orientation, 0)) && sign(At(orientation, 1));
}

// The fields of an encoded range text: up to four numbers or letter codes,
// and how many were used.
struct Fields {
  std::array<std::int64_t, 4> value{};
  int used = 0;
};

// Field values are held below this so that the sums of the schemes stay far
// inside 64 bits; they are clamped to 32 bits at the end.
constexpr std::int64_t kFieldMax = std::int64_t{1} << 40;

template <class Char>
Fields ReadFields(std::basic_string_view<Char> text) {
  Fields f;
  int field = 0;
  bool inNumber = false;
  for (std::size_t pos = 0; pos < text.size() && field < 4; ++pos) {
    const char32_t c = At(text, pos);
    if (MarkerFollows(text, pos)) break;
    if (IsDigit(c)) {
      f.value[field] = std::min(f.value[field] * 10 + static_cast<std::int64_t>(c - U'0'), kFieldMax);
      inNumber = true;
      continue;
    }
    if (IsUpper(c) || IsLower(c)) {
      if (inNumber) {
        inNumber = false;
        if (++field == 4) break;
      }
      const std::int64_t l = static_cast<std::int64_t>(c);
      if (IsUpper(c)) {
        f.value[field] = field == 0 ? l - 'A' : field == 1 ? (l - 'A') * 2 : l * 2 - 129;
      } else {
        f.value[field] = field == 0 ? l - 72 : field == 1 ? (l - 72) * 2 : l * 2 - 141;
      }
      ++field;
      continue;
    }
    inNumber = false;
    ++field;
  }
  f.used = std::min(field + (inNumber ? 1 : 0), 4);
  return f;
}

Values Block(std::int64_t a, std::int64_t n) {
  if (a == 0) return {1, n - 1, 2, n - 2};
  const std::int64_t base = a * n;
  return {base, base + n - 2, base + 1, base + n - 1};
}

// The values of an encoded scheme before orientation.
Values DecodeScheme(char32_t scheme, char32_t s2, const Fields& f) {
  std::int64_t a = f.value[0], b = f.value[1], c = f.value[2], d = f.value[3];
  switch (scheme) {
    case U'B':
    case U'K': {
      const Values v = Block(a, scheme == U'B' ? 100 : 50);
      return {v.from1, v.to1, 0, 0};
    }
    case U'C':
      return Block(a, 100);
    case U'L':
      return Block(a, 50);
    case U'M':
      return Block(a, 1000);
    case U'T':
      return Block(a, 200);
    case U'D':
    case U'E':
    case U'F':
    case U'V': {
      if (scheme == U'E') a *= 100;
      // The modifier moves some of the numbers up by whole hundreds, or with
      // three fields gives the last number as one above or below the second.
      if (f.used == 4) {
        if (s2 >= U'1' && s2 <= U'9') {
          b += (s2 - U'0') * 100;
          d += (s2 - U'0') * 100;
        } else if (s2 >= U'B' && s2 <= U'L') {
          c += (s2 - U'A') * 100;
          d += (s2 - U'A') * 100;
        } else if (s2 >= U'R' && s2 <= U'Z') {
          b += (s2 - U'Q') * 100;
        } else if (s2 >= U'b' && s2 <= U'l') {
          c += (s2 - U'a') * 100;
        } else if (s2 >= U'r' && s2 <= U'z') {
          d += (s2 - U'q') * 100;
        }
      } else if (f.used == 3) {
        if (s2 == U'P') d = b + 1;
        if (s2 == U'M') d = b - 1;
      }
      if (scheme == U'F') {
        const std::int64_t p = b + c;
        return {a, a + b, a + p, a + p + d + 1};
      }
      if (scheme == U'V') return {a, a + b, a + b + d + 1, a + b + c + 1};
      return {a, a + b, a + c, a + d};
    }
    case U'G':
    case U'H':
    case U'I':
    case U'J':
    case U'Q':
    case U'R': {
      if (f.used == 2) {
        if (s2 >= U'1' && s2 <= U'9') b += (s2 - U'0') * 100;
        if (s2 >= U'O') b += 1;
      }
      if (scheme == U'G' || scheme == U'J' || scheme == U'Q') a *= 100;
      if (scheme == U'G' || scheme == U'H') return {a, a + b, c, d};
      if (scheme == U'I' || scheme == U'J') return {a, a + b, a + 1, a + b - 1};
      return {a, a + b, a + 1, a + b + 1};
    }
    case U'U': {
      const std::int64_t base = a * 100;
      return {base, base + 98, base + 198, base + 100};
    }
    default:
      return {a, b, c, d};
  }
}

template <class Char>
using View = std::basic_string_view<Char>;

// The four parts of an explicit ('A') range text, split at backslashes; the
// wide twin stops splitting at a backslash that begins a range-code marker.
// False when there are fewer than four parts.
template <class Char>
bool SplitExplicit(View<Char> text, bool stopAtMarker, std::array<View<Char>, 4>& parts) {
  std::size_t start = 0;
  int count = 0;
  for (std::size_t pos = 0; count < 4; ++pos) {
    const bool end = pos >= text.size();
    const bool atMarker = !end && stopAtMarker && MarkerFollows(text, pos);
    if (end || atMarker || text[pos] == Char('\\')) {
      parts[count++] = text.substr(start, pos - start);
      start = pos + 1;
      if (end || atMarker) break;
    }
  }
  return count == 4;
}

std::int32_t ValueOf(std::u16string_view text) { return HouseNumberValue(text); }
std::int32_t ValueOf(std::string_view text) { return HouseNumberValue(platform::Utf8ToUtf16(text)); }

template <class Char>
int Decode(View<Char> orientation, View<Char> scheme, View<Char> rangeText, HouseNumberRange& out) {
  if (!OrientationIsValid(orientation)) return kHouseNumberRangeBad;
  rangeText = rangeText.substr(0, std::min(rangeText.size(), kHouseNumberRangeTextMax));
  const char32_t o1 = At(orientation, 0), o2 = At(orientation, 1);
  if (At(scheme, 0) == U'A') {
    std::array<View<Char>, 4> parts;
    if (!SplitExplicit(rangeText, sizeof(Char) != 1, parts)) return kHouseNumberRangeBad;
    std::array<View<Char>, 4> placed;
    Orient(o1, o2, parts[0], parts[1], parts[2], parts[3], placed);
    out = {ValueOf(placed[0]), ValueOf(placed[1]), ValueOf(placed[2]), ValueOf(placed[3])};
    return kHouseNumberRangeExplicit;
  }
  const Values v = DecodeScheme(At(scheme, 0), At(scheme, 1), ReadFields(rangeText));
  std::array<std::int64_t, 4> placed{};
  Orient(o1, o2, v.from1, v.to1, v.from2, v.to2, placed);
  out = {Clamp32(placed[0]), Clamp32(placed[1]), Clamp32(placed[2]), Clamp32(placed[3])};
  return kHouseNumberRangeDecoded;
}

std::u16string NumberText(std::int32_t n, std::u16string*) { return HouseNumberText(n); }
std::string NumberText(std::int32_t n, std::string*) { return platform::Utf16ToUtf8(HouseNumberText(n)); }

template <class Char, class Text>
bool DecodeTexts(View<Char> orientation, View<Char> scheme, View<Char> rangeText, BasicHouseNumberTexts<Text>& out) {
  if (!OrientationIsValid(orientation)) return false;
  if (At(scheme, 0) == U'A') {
    rangeText = rangeText.substr(0, std::min(rangeText.size(), kHouseNumberRangeTextMax));
    std::array<View<Char>, 4> parts;
    if (!SplitExplicit(rangeText, sizeof(Char) != 1, parts)) return false;
    std::array<View<Char>, 4> placed;
    Orient(At(orientation, 0), At(orientation, 1), parts[0], parts[1], parts[2], parts[3], placed);
    out = {Text(placed[0]), Text(placed[1]), Text(placed[2]), Text(placed[3])};
    return true;
  }
  HouseNumberRange numbers;
  if (Decode(orientation, scheme, rangeText, numbers) == kHouseNumberRangeBad) return false;
  Text* tag = nullptr;
  out = {NumberText(numbers.from1, tag), NumberText(numbers.to1, tag), NumberText(numbers.from2, tag),
         NumberText(numbers.to2, tag)};
  return true;
}

bool Between(std::int64_t n, std::int64_t end1, std::int64_t end2) {
  return n >= std::min(end1, end2) && n <= std::max(end1, end2);
}

bool Parity(std::int64_t n) { return (n & 1) != 0; }

std::u16string LetterPartOf(std::u16string_view text) {
  std::u16string copy(text);
  HouseNumberLetterPart(copy);
  return copy;
}

}  // namespace

int DecodeHouseNumberRange(std::u16string_view orientation, std::u16string_view scheme, std::u16string_view rangeText,
                           HouseNumberRange& out) {
  return Decode(orientation, scheme, rangeText, out);
}

int DecodeHouseNumberRange(std::string_view orientation, std::string_view scheme, std::string_view rangeText,
                           HouseNumberRange& out) {
  return Decode(orientation, scheme, rangeText, out);
}

bool DecodeHouseNumberRangeTexts(std::u16string_view orientation, std::u16string_view scheme,
                                 std::u16string_view rangeText, HouseNumberTexts& out) {
  return DecodeTexts(orientation, scheme, rangeText, out);
}

bool DecodeHouseNumberRangeTexts(std::string_view orientation, std::string_view scheme, std::string_view rangeText,
                                 HouseNumberTextsNarrow& out) {
  return DecodeTexts(orientation, scheme, rangeText, out);
}

void HouseNumberBlock(HouseNumberRange& block, std::int32_t n) {
  const Values v = Block(block.from1, n);
  block = {Clamp32(v.from1), Clamp32(v.to1), Clamp32(v.from2), Clamp32(v.to2)};
}

std::int32_t HouseNumberValue(std::u16string_view text) {
  const std::size_t letter = LastLetter(text);
  if (letter != std::u16string_view::npos && letter + 1 < text.size()) return LeadingNumber(text.substr(letter + 1));
  return LeadingNumber(text);
}

void HouseNumberLetterPart(std::u16string& text) {
  const std::size_t letter = LastLetter(text);
  if (letter == std::u16string::npos) {
    text.clear();
  } else {
    text.resize(letter + 1);
  }
}

bool IsRangeCodeMarker(std::u16string_view text) { return IsMarker(text); }
bool IsRangeCodeMarker(std::string_view text) { return IsMarker(text); }

int WhichRangeHoldsNumber(std::u16string_view number, std::u16string_view from1, std::u16string_view to1,
                          std::u16string_view from2, std::u16string_view to2, bool letters) {
  if (number == u"-1" || number == u"0") return kHouseNumberInNoRange;
  const auto read = [letters](std::u16string_view t) -> std::int64_t {
    return letters ? HouseNumberValue(t) : LeadingNumber(t);
  };
  const std::int64_t n = read(number), f1 = read(from1), t1 = read(to1), f2 = read(from2), t2 = read(to2);

  const auto inSecond = [&] { return f2 != 0 && t2 != 0 && Between(n, f2, t2); };
  const auto inFirst = [&] { return f1 != 0 && t1 != 0 && Between(n, f1, t1); };

  if (letters) {
    const std::u16string letter = LetterPartOf(number);
    if (!letter.empty()) {
      const bool first = platform::EqualsIgnoringCase(letter, LetterPartOf(from1));
      const bool second = platform::EqualsIgnoringCase(letter, LetterPartOf(from2));
      if (!first && !second) return kHouseNumberInNoRange;
      if (!first) return inSecond() ? kHouseNumberInSecondRange : kHouseNumberInNoRange;
      if (!second) return inFirst() ? kHouseNumberInFirstRange : kHouseNumberInNoRange;
    }
  }

  // A side whose ends differ in parity holds both parities.
  if (f2 != 0 && Parity(f2) != Parity(t2) && Between(n, f2, t2)) return kHouseNumberInSecondRange;
  if (f1 != 0 && Parity(f1) != Parity(t1) && Between(n, f1, t1)) return kHouseNumberInFirstRange;

  if (Parity(n) == Parity(f2)) {
    if (inSecond()) return kHouseNumberInSecondRange;
    if (Parity(n) != Parity(f1)) return kHouseNumberInNoRange;
  } else if (Parity(n) != Parity(f1)) {
    return kHouseNumberInNoRange;
  }
  return inFirst() ? kHouseNumberInFirstRange : kHouseNumberInNoRange;
}

std::u16string HouseNumberText(std::int32_t number) {
  if (number < 1) return {};
  return platform::FormatW(u"%ld", {number});
}

HouseNumberRange ReadHouseNumberRangeRecord(std::string_view code, std::string_view value, std::string_view name) {
  HouseNumberRange range;
  if (At(code, 1) != U'2' || At(code, 2) != U'B') return range;
  const std::string_view orientation = code.substr(std::min<std::size_t>(3, code.size()), 2);
  if (DecodeHouseNumberRange(orientation, value, name, range) == kHouseNumberRangeBad) return {};
  return range;
}
