// House-number ranges of street pieces and the small text rules of house
// numbers. A street piece carries its numbers in an address-range attribute
// (attribute code with '2' and 'B' as its second and third characters): a
// two-character orientation code, a scheme code and a range text. The
// decoders turn these into the four numbers of the piece (first side from and
// to, second side from and to) or into the four number texts.
//
// The decoders come in two twins: wide texts (the address operations) and
// narrow UTF-8 texts as the map-format library hands attributes out (the
// geometry and the street walk). They differ in one point only: for explicit
// numbers (scheme 'A') the wide twin stops splitting the range text at a
// backslash that begins a range-code marker, the narrow twin splits at every
// backslash.
//
// Every function here is total: any text gives a defined result, a character
// position past the end of a text reads as no character, range texts are cut
// at 250 characters, and numbers too large for 32 bits are held at the
// largest (or smallest) value rather than wrapping.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The four numbers of a street piece, in this order: first-side from and to,
// second-side from and to. 0 means "no number".
struct HouseNumberRange {
  std::int32_t from1 = 0;
  std::int32_t to1 = 0;
  std::int32_t from2 = 0;
  std::int32_t to2 = 0;

  friend bool operator==(const HouseNumberRange&, const HouseNumberRange&) = default;
};

// The same four as texts (wide or narrow).
template <class Text>
struct BasicHouseNumberTexts {
  Text from1;
  Text to1;
  Text from2;
  Text to2;

  friend bool operator==(const BasicHouseNumberTexts&, const BasicHouseNumberTexts&) = default;
};
using HouseNumberTexts = BasicHouseNumberTexts<std::u16string>;
using HouseNumberTextsNarrow = BasicHouseNumberTexts<std::string>;

// Results of DecodeHouseNumberRange.
inline constexpr int kHouseNumberRangeBad = 0;       // bad orientation code or bad explicit texts
inline constexpr int kHouseNumberRangeDecoded = 1;   // an encoded scheme ('B' to 'V', or any other)
inline constexpr int kHouseNumberRangeExplicit = 2;  // scheme 'A': numbers read from the four texts

// Results of WhichRangeHoldsNumber.
inline constexpr int kHouseNumberInNoRange = 0;
inline constexpr int kHouseNumberInSecondRange = 1;
inline constexpr int kHouseNumberInFirstRange = 2;

// Range texts longer than this are cut here.
inline constexpr std::size_t kHouseNumberRangeTextMax = 250;

// Decodes an address range into its four numbers.
//   orientation: two characters, each '+' or '-' ("-+" keeps the order, "++"
//     swaps from and to of each side, "+-" and "--" swap the sides as well);
//   scheme: its first character is the scheme ('A' explicit texts, 'B' to 'V'
//     encoded), its second (if any) a modifier some schemes use;
//   rangeText: the range text (cut at 250 characters).
// Returns kHouseNumberRangeExplicit, kHouseNumberRangeDecoded, or
// kHouseNumberRangeBad with `out` left as it was.
[[nodiscard]] int DecodeHouseNumberRange(std::u16string_view orientation, std::u16string_view scheme,
                                         std::u16string_view rangeText, HouseNumberRange& out);
[[nodiscard]] int DecodeHouseNumberRange(std::string_view orientation, std::string_view scheme,
                                         std::string_view rangeText, HouseNumberRange& out);

// Decodes an address range into its four number texts: for scheme 'A' the
// four parts of the range text as they stand, otherwise the decoded numbers
// as decimal texts (see HouseNumberText). True when the texts were produced;
// false, with `out` left as it was, for a bad orientation code or bad
// explicit texts.
[[nodiscard]] bool DecodeHouseNumberRangeTexts(std::u16string_view orientation, std::u16string_view scheme,
                                               std::u16string_view rangeText, HouseNumberTexts& out);
[[nodiscard]] bool DecodeHouseNumberRangeTexts(std::string_view orientation, std::string_view scheme,
                                               std::string_view rangeText, HouseNumberTextsNarrow& out);

// The numbers of block `block.from1` of size n, written over the record:
// block 0 gives (1, n - 1, 2, n - 2), block a > 0 gives (a n, a n + n - 2,
// a n + 1, a n + n - 1). Blocks of 100: block 3 is 300..398 and 301..399.
void HouseNumberBlock(HouseNumberRange& block, std::int32_t n);

// The number of a house-number text: the decimal number right after its last
// letter when characters follow that letter ("N1234" gives 1234), otherwise
// the decimal number at its start ("12B" gives 12, "A" gives 0).
[[nodiscard]] std::int32_t HouseNumberValue(std::u16string_view text);

// Cuts `text` after its last letter ("12B" stays, "N1234" becomes "N"); a
// text without a letter becomes empty.
void HouseNumberLetterPart(std::u16string& text);

// True when the text begins with a range-code marker: ':', two characters
// each a digit or an upper-case letter A to Z, then '/' or ':'.
[[nodiscard]] bool IsRangeCodeMarker(std::u16string_view text);
[[nodiscard]] bool IsRangeCodeMarker(std::string_view text);

// Which range of a piece holds the house number `number`: the first range
// runs from `from1` to `to1`, the second from `from2` to `to2` (texts as
// DecodeHouseNumberRangeTexts gives them). With `letters` the numbers are
// read with HouseNumberValue and a letter part of `number` must match
// (ignoring case) the letter part of a range's from text; without it they
// are the leading decimal numbers of the texts. A range whose ends share a
// parity holds only numbers of that parity; one whose ends differ holds every
// number between them. Returns kHouseNumberInFirstRange,
// kHouseNumberInSecondRange or kHouseNumberInNoRange ("-1" and "0" are in
// none).
[[nodiscard]] int WhichRangeHoldsNumber(std::u16string_view number, std::u16string_view from1,
                                        std::u16string_view to1, std::u16string_view from2,
                                        std::u16string_view to2, bool letters);

// The text of a house number: empty for a number below 1 (0 is "no number"
// and -1 "unknown"), otherwise its decimal text.
[[nodiscard]] std::u16string HouseNumberText(std::int32_t number);

// The four numbers of an attribute as the map-format library hands it out
// (RmfFeatureAttribute: code, value and name, UTF-8). For an address-range
// attribute (code "x2B" followed by the orientation, as in "12B-+") the
// orientation is the two characters after "2B", the scheme the value and the
// range text the name. Every other attribute, and an address-range attribute
// that does not decode, gives four zeros.
[[nodiscard]] HouseNumberRange ReadHouseNumberRangeRecord(std::string_view code, std::string_view value,
                                                          std::string_view name);
