// Tests of the house-number ranges: the scheme decoders (wide and narrow
// twins on the same cases), orientation, explicit texts and where the twins
// differ, the number and letter parts of a house number, the range-code
// marker, the which-side test, the attribute reader, and every range
// attribute of the demo map.
#include "mapengine/object/HouseNumbers.h"

#include <gtest/gtest.h>

#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "mapengine/format/features/RmfFeatureAttr.h"
#include "mapengine/format/features/RmfQuery.h"
#include "platform/os/text.h"
#include "tools/rmfbuild/RmfMemoryReader.h"

namespace {

std::u16string Wide(std::string_view text) { return platform::Utf8ToUtf16(text); }

std::string Show(const HouseNumberRange& r) {
  return std::to_string(r.from1) + "," + std::to_string(r.to1) + "," + std::to_string(r.from2) + "," +
         std::to_string(r.to2);
}

// A range no decoder produces, to see that a refused input leaves the output
// as it was.
constexpr HouseNumberRange kUntouched{-7, -7, -7, -7};

// Decodes with both twins, which must agree on every text without a
// range-code marker; returns the result and the numbers.
std::pair<int, HouseNumberRange> DecodeBoth(std::string_view orientation, std::string_view scheme,
                                            std::string_view text) {
  HouseNumberRange narrow = kUntouched;
  HouseNumberRange wide = kUntouched;
  const int narrowResult = DecodeHouseNumberRange(orientation, scheme, text, narrow);
  const int wideResult = DecodeHouseNumberRange(Wide(orientation), Wide(scheme), Wide(text), wide);
  EXPECT_EQ(narrowResult, wideResult) << "the twins disagree";
  EXPECT_EQ(narrow, wide) << "the twins disagree: narrow " << Show(narrow) << ", wide " << Show(wide);
  return {narrowResult, narrow};
}

// ---- encoded schemes -----------------------------------------------------------------

TEST(HouseNumberRangeTest, EncodedSchemesDecodeTheirRangeTexts) {
  struct Case {
    const char* scheme;
    const char* text;
    HouseNumberRange expected;
  };
  const Case cases[] = {
      // Blocks: block 0 starts at 1 and 2, block a at a n and a n + 1.
      {"B", "0", {1, 99, 0, 0}},
      {"B", "3", {300, 398, 0, 0}},
      {"K", "0", {1, 49, 0, 0}},
      {"K", "2", {100, 148, 0, 0}},
      {"C", "3", {300, 398, 301, 399}},
      {"C", "0", {1, 99, 2, 98}},
      {"L", "2", {100, 148, 101, 149}},
      {"M", "1", {1000, 1998, 1001, 1999}},
      {"T", "1", {200, 398, 201, 399}},
      {"U", "12", {1200, 1298, 1398, 1300}},
      // Start and offsets; 'E' counts the start in hundreds.
      {"D", "10-20-3-21", {10, 30, 13, 31}},
      {"E", "1-20-3-21", {100, 120, 103, 121}},
      {"F", "10-20-3-4", {10, 30, 33, 38}},
      {"V", "10-20-3-4", {10, 30, 35, 34}},
      // The modifier with four fields: hundreds added to some offsets.
      {"D2", "10-20-3-21", {10, 230, 13, 231}},
      {"DC", "10-20-3-21", {10, 30, 213, 231}},
      {"DS", "10-20-3-21", {10, 230, 13, 31}},
      {"Dc", "10-20-3-21", {10, 30, 213, 31}},
      {"Ds", "10-20-3-21", {10, 30, 13, 231}},
      {"F2", "10-20-3-4", {10, 230, 233, 438}},
      {"VS", "10-20-3-4", {10, 230, 235, 234}},
      // With three fields: the last offset one above or below the second.
      {"DP", "10-20-3", {10, 30, 13, 31}},
      {"DM", "10-20-3", {10, 30, 13, 29}},
      {"D2", "10-20-3", {10, 30, 13, 10}},
      // Start and length; with two fields the modifier adds hundreds (digit)
      // or one ('O' and above) to the length.
      {"G", "5-20", {500, 520, 0, 0}},
      {"G3", "5-20", {500, 820, 0, 0}},
      {"GO", "5-20", {500, 521, 0, 0}},
      {"Gz", "5-20", {500, 521, 0, 0}},
      {"GN", "5-20", {500, 520, 0, 0}},
      {"H", "5-20", {5, 25, 0, 0}},
      {"H3", "5-20-7-9", {5, 25, 7, 9}},
      {"I", "5-20", {5, 25, 6, 24}},
      {"J", "5-20", {500, 520, 501, 519}},
      {"Q", "5-20", {500, 520, 501, 521}},
      {"R", "5-20", {5, 25, 6, 26}},
      {"R1", "5-20", {5, 125, 6, 126}},
      // Any other scheme hands out the fields as they are.
      {"W", "1-2-3-4", {1, 2, 3, 4}},
      {"", "1-2-3-4", {1, 2, 3, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.scheme) + " " + c.text);
    const auto [result, range] = DecodeBoth("-+", c.scheme, c.text);
    EXPECT_EQ(result, kHouseNumberRangeDecoded);
    EXPECT_EQ(range, c.expected) << Show(range);
  }
}

TEST(HouseNumberRangeTest, RangeTextFieldsReadDigitsLettersAndSeparators) {
  struct Case {
    const char* text;
    HouseNumberRange expected;
  };
  const Case cases[] = {
      // A letter after digits opens a new field; each letter is a field.
      {"12B", {12, 2, 0, 0}},
      {"12BC", {12, 2, 5, 0}},
      {"A1", {0, 1, 0, 0}},
      {"ABCD", {0, 2, 5, 7}},
      {"xyab", {48, 98, 53, 55}},
      {"1a", {1, 50, 0, 0}},
      {"12-C-D", {12, 4, 0, 7}},
      // Separators of any kind, one field each; a fifth field is not read.
      {"1 2/3.4", {1, 2, 3, 4}},
      {"1--4", {1, 0, 4, 0}},
      {"1-2-3-4-5", {1, 2, 3, 4}},
      {"", {0, 0, 0, 0}},
      // A backslash that begins a range-code marker ends the text; one that
      // does not is a separator.
      {"12\\:1A/99", {12, 0, 0, 0}},
      {"12\\:1a/99", {12, 0, 1, 53}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto [result, range] = DecodeBoth("-+", "W", c.text);
    EXPECT_EQ(result, kHouseNumberRangeDecoded);
    EXPECT_EQ(range, c.expected) << Show(range);
  }
}

TEST(HouseNumberRangeTest, OversizedAndOverlongTextsStayDefined) {
  // Numbers beyond 32 bits are held at the largest value instead of
  // wrapping (the sanitizer build would report an overflow).
  EXPECT_EQ(DecodeBoth("-+", "W", "99999999999999999999-1").second, (HouseNumberRange{INT32_MAX, 1, 0, 0}));
  EXPECT_EQ(DecodeBoth("-+", "U", "99999999999").second,
            (HouseNumberRange{INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX}));
  EXPECT_EQ(DecodeBoth("-+", "A", "99999999999\\-99999999999\\0\\0").second,
            (HouseNumberRange{INT32_MAX, INT32_MIN, 0, 0}));

  // A range text is read up to 250 characters: the digit in position 251
  // is not part of it.
  const std::string digits = std::string(249, '0') + "56";
  EXPECT_EQ(DecodeBoth("-+", "W", digits).second, (HouseNumberRange{5, 0, 0, 0}));
  const std::string parts = "1\\2\\3\\" + std::string(244, '0') + "77";
  EXPECT_EQ(DecodeBoth("-+", "A", parts).second, (HouseNumberRange{1, 2, 3, 0}));
  HouseNumberTextsNarrow texts;
  ASSERT_TRUE(DecodeHouseNumberRangeTexts("-+", "A", parts, texts));
  EXPECT_EQ(texts.to2, std::string(244, '0'));
}

// ---- orientation -------------------------------------------------------------------------

TEST(HouseNumberRangeTest, OrientationCodePlacesSidesAndEnds) {
  struct Case {
    const char* orientation;
    HouseNumberRange expected;
  };
  const Case cases[] = {
      {"-+", {1, 2, 3, 4}},
      {"++", {2, 1, 4, 3}},
      {"+-", {4, 3, 2, 1}},
      {"--", {3, 4, 1, 2}},
      {"-+x", {1, 2, 3, 4}},  // only the first two characters are the code
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.orientation);
    EXPECT_EQ(DecodeBoth(c.orientation, "W", "1-2-3-4"), std::make_pair(kHouseNumberRangeDecoded, c.expected));
    EXPECT_EQ(DecodeBoth(c.orientation, "A", "1\\2\\3\\4"), std::make_pair(kHouseNumberRangeExplicit, c.expected));
    HouseNumberTexts texts;
    ASSERT_TRUE(DecodeHouseNumberRangeTexts(Wide(c.orientation), u"A", u"1\\2\\3\\4", texts));
    EXPECT_EQ(texts, (HouseNumberTexts{Wide(std::to_string(c.expected.from1)), Wide(std::to_string(c.expected.to1)),
                                       Wide(std::to_string(c.expected.from2)), Wide(std::to_string(c.expected.to2))}));
  }
}

TEST(HouseNumberRangeTest, BadOrientationOrExplicitTextIsRefusedAndLeavesTheOutputs) {
  struct Case {
    const char* orientation;
    const char* scheme;
    const char* text;
  };
  const Case cases[] = {
      {"-x", "C", "3"},  {"x+", "C", "3"},      {"+", "C", "3"}, {"", "C", "3"},
      {"*+", "A", "1\\2\\3\\4"}, {"-+", "A", "1\\2\\3"}, {"-+", "A", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.orientation) + " " + c.scheme + " " + c.text);
    EXPECT_EQ(DecodeBoth(c.orientation, c.scheme, c.text), std::make_pair(kHouseNumberRangeBad, kUntouched));
    HouseNumberTexts wide{u"w", u"w", u"w", u"w"};
    HouseNumberTextsNarrow narrow{"n", "n", "n", "n"};
    EXPECT_FALSE(DecodeHouseNumberRangeTexts(Wide(c.orientation), Wide(c.scheme), Wide(c.text), wide));
    EXPECT_FALSE(DecodeHouseNumberRangeTexts(c.orientation, c.scheme, c.text, narrow));
    EXPECT_EQ(wide, (HouseNumberTexts{u"w", u"w", u"w", u"w"}));
    EXPECT_EQ(narrow, (HouseNumberTextsNarrow{"n", "n", "n", "n"}));
  }
}

// ---- explicit texts -------------------------------------------------------------------------

TEST(HouseNumberRangeTest, ExplicitTextsKeepTheirLettersAndNumbersComeFromThem) {
  HouseNumberTexts texts;
  ASSERT_TRUE(DecodeHouseNumberRangeTexts(u"-+", u"A", u"12B\\20\\N1234\\x", texts));
  EXPECT_EQ(texts, (HouseNumberTexts{u"12B", u"20", u"N1234", u"x"}));
  EXPECT_EQ(DecodeBoth("-+", "A", "12B\\20\\N1234\\x"),
            std::make_pair(kHouseNumberRangeExplicit, HouseNumberRange{12, 20, 1234, 0}));
  // Parts beyond the fourth are not read.
  EXPECT_EQ(DecodeBoth("-+", "A", "1\\2\\3\\4\\5").second, (HouseNumberRange{1, 2, 3, 4}));
  // Non-ASCII letters count as letters in the narrow twin's UTF-8 too.
  EXPECT_EQ(DecodeBoth("-+", "A", "\xC3\x9C" "5\\7\\0\\0").second, (HouseNumberRange{5, 7, 0, 0}));
}

TEST(HouseNumberRangeTest, OnlyTheWideTwinStopsSplittingAtARangeCodeMarker) {
  // A marker after the fourth part: both read the same four parts.
  EXPECT_EQ(DecodeBoth("-+", "A", "1\\2\\3\\4\\:1A/9").second, (HouseNumberRange{1, 2, 3, 4}));

  // A marker after the second part: the wide twin has only two parts, the
  // narrow one splits on through the marker.
  const std::string text = "1\\2\\:1A/3\\4";
  HouseNumberRange wide = kUntouched;
  HouseNumberRange narrow = kUntouched;
  EXPECT_EQ(DecodeHouseNumberRange(u"-+", u"A", Wide(text), wide), kHouseNumberRangeBad);
  EXPECT_EQ(wide, kUntouched);
  EXPECT_EQ(DecodeHouseNumberRange("-+", "A", text, narrow), kHouseNumberRangeExplicit);
  EXPECT_EQ(narrow, (HouseNumberRange{1, 2, 0, 4}));

  HouseNumberTexts wideTexts;
  HouseNumberTextsNarrow narrowTexts;
  EXPECT_FALSE(DecodeHouseNumberRangeTexts(u"-+", u"A", Wide(text), wideTexts));
  ASSERT_TRUE(DecodeHouseNumberRangeTexts("-+", "A", text, narrowTexts));
  EXPECT_EQ(narrowTexts, (HouseNumberTextsNarrow{"1", "2", ":1A/3", "4"}));
}

// ---- number texts --------------------------------------------------------------------------

TEST(HouseNumberRangeTest, NumberTextsLeaveNoNumberAndUnknownEmpty) {
  const std::pair<std::int32_t, std::u16string> cases[] = {
      {-1, u""}, {0, u""}, {INT32_MIN, u""}, {1, u"1"}, {398, u"398"}, {INT32_MAX, u"2147483647"},
  };
  for (const auto& [number, text] : cases) EXPECT_EQ(HouseNumberText(number), text) << number;

  // Through the texts decoder: block 0 of 'B' has no second side, and 'I'
  // with start and length 0 gives -1 as its last number.
  HouseNumberTexts wide;
  ASSERT_TRUE(DecodeHouseNumberRangeTexts(u"-+", u"B", u"0", wide));
  EXPECT_EQ(wide, (HouseNumberTexts{u"1", u"99", u"", u""}));
  HouseNumberTextsNarrow narrow;
  ASSERT_TRUE(DecodeHouseNumberRangeTexts("-+", "I", "0-0", narrow));
  EXPECT_EQ(narrow, (HouseNumberTextsNarrow{"", "", "1", ""}));
}

TEST(HouseNumberBlockTest, BlocksOfEachSize) {
  const std::tuple<std::int32_t, std::int32_t, HouseNumberRange> cases[] = {
      {0, 100, {1, 99, 2, 98}},
      {3, 100, {300, 398, 301, 399}},
      {0, 50, {1, 49, 2, 48}},
      {2, 1000, {2000, 2998, 2001, 2999}},
  };
  for (const auto& [blockNumber, size, expected] : cases) {
    HouseNumberRange block{blockNumber, 77, 77, 77};
    HouseNumberBlock(block, size);
    EXPECT_EQ(block, expected) << blockNumber << " of " << size;
  }
}

// ---- number and letter parts, range-code marker ---------------------------------------------

TEST(HouseNumberTextTest, ValueAndLetterPart) {
  struct Case {
    const char16_t* text;
    std::int32_t value;
    const char16_t* letterPart;
  };
  const Case cases[] = {
      {u"12B", 12, u"12B"},    // letter last: the number at the start
      {u"N1234", 1234, u"N"},  // letter first: the number after it
      {u"A", 0, u"A"},
      {u"B12C", 0, u"B12C"},   // the last letter decides; the text starts with a letter
      {u"12a3", 3, u"12a"},
      {u"12", 12, u""},
      {u"12-14", 12, u""},
      {u"-1", -1, u""},
      {u"", 0, u""},
      {u"\u00C45", 5, u"\u00C4"},    // Latin-1 letter
      {u"\u04145", 5, u"\u0414"},    // Cyrillic letter
      {u"1\u00D72", 1, u""},         // the multiplication sign is no letter
  };
  for (const Case& c : cases) {
    const std::u16string text(c.text);
    SCOPED_TRACE(platform::Utf16ToUtf8(text));
    EXPECT_EQ(HouseNumberValue(text), c.value);
    std::u16string part = text;
    HouseNumberLetterPart(part);
    EXPECT_EQ(part, c.letterPart);
  }
}

TEST(HouseNumberTextTest, RangeCodeMarker) {
  const std::pair<const char*, bool> cases[] = {
      {":1A/", true},  {":1A:", true},   {":ZZ/x", true}, {":09:", true},
      {":1a/", false},  // lower-case letter
      {"::", false},    // two characters
      {":1A", false},   // no fourth character
      {":1A-", false},  {"x1A/", false}, {":/A/", false}, {"", false},
  };
  for (const auto& [text, marker] : cases) {
    EXPECT_EQ(IsRangeCodeMarker(std::string_view(text)), marker) << text;
    EXPECT_EQ(IsRangeCodeMarker(Wide(text)), marker) << text;
  }
}

// ---- which range holds a number -------------------------------------------------------------

TEST(WhichRangeHoldsNumberTest, NumbersByParityAndSpan) {
  struct Case {
    const char16_t* number;
    const char16_t* from1;
    const char16_t* to1;
    const char16_t* from2;
    const char16_t* to2;
    int expected;
  };
  const Case cases[] = {
      {u"7", u"1", u"99", u"2", u"98", kHouseNumberInFirstRange},
      {u"8", u"1", u"99", u"2", u"98", kHouseNumberInSecondRange},
      {u"7", u"99", u"1", u"98", u"2", kHouseNumberInFirstRange},  // descending ranges
      {u"101", u"1", u"99", u"2", u"98", kHouseNumberInNoRange},
      {u"100", u"1", u"99", u"2", u"98", kHouseNumberInNoRange},
      {u"-1", u"1", u"99", u"2", u"98", kHouseNumberInNoRange},
      {u"0", u"0", u"99", u"0", u"98", kHouseNumberInNoRange},
      {u"7", u"2", u"98", u"4", u"98", kHouseNumberInNoRange},  // no side of its parity
      // A side with both parities holds every number between its ends.
      {u"4", u"2", u"98", u"1", u"10", kHouseNumberInSecondRange},
      {u"3", u"1", u"10", u"2", u"98", kHouseNumberInFirstRange},
      // A side without numbers holds none.
      {u"8", u"1", u"99", u"0", u"0", kHouseNumberInNoRange},
      {u"7", u"0", u"0", u"1", u"99", kHouseNumberInSecondRange},
      {u"7", u"1", u"0", u"2", u"98", kHouseNumberInNoRange},
      // Without the letters flag only the leading number counts.
      {u"8b", u"1", u"99", u"2", u"98", kHouseNumberInSecondRange},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(platform::Utf16ToUtf8(std::u16string(c.number) + u" in " + c.from1 + u".." + c.to1 + u" / " +
                                       c.from2 + u".." + c.to2));
    EXPECT_EQ(WhichRangeHoldsNumber(c.number, c.from1, c.to1, c.from2, c.to2, false), c.expected);
  }
}

TEST(WhichRangeHoldsNumberTest, LetterPartsChooseTheRange) {
  struct Case {
    const char16_t* number;
    const char16_t* from1;
    const char16_t* from2;
    int expected;
  };
  // Ranges N100..N198 (first) and S101..S199 (second) unless a case says
  // otherwise through its from texts.
  const Case cases[] = {
      {u"N150", u"N100", u"S101", kHouseNumberInFirstRange},
      {u"s151", u"N100", u"S101", kHouseNumberInSecondRange},  // letters compare without case
      {u"N151", u"N100", u"S101", kHouseNumberInFirstRange},   // only the first range is tested
      {u"N250", u"N100", u"S101", kHouseNumberInNoRange},
      {u"E150", u"N100", u"S101", kHouseNumberInNoRange},      // neither side's letter
      {u"150", u"N100", u"S101", kHouseNumberInFirstRange},    // no letter: by number
      {u"N150", u"N100", u"N101", kHouseNumberInFirstRange},   // both sides' letter: by number
      {u"N151", u"N100", u"N101", kHouseNumberInSecondRange},
  };
  for (const Case& c : cases) {
    const std::u16string to1 = std::u16string(c.from1).substr(0, 1) + u"198";
    const std::u16string to2 = std::u16string(c.from2).substr(0, 1) + u"199";
    SCOPED_TRACE(platform::Utf16ToUtf8(std::u16string(c.number) + u" in " + c.from1 + u" / " + c.from2));
    EXPECT_EQ(WhichRangeHoldsNumber(c.number, c.from1, to1, c.from2, to2, true), c.expected);
  }
}

// ---- attribute records ------------------------------------------------------------------------

TEST(ReadHouseNumberRangeRecordTest, ReadsOrientationAfterTheCodePairAndRefusesOtherRecords) {
  struct Case {
    const char* code;
    const char* value;
    const char* name;
    HouseNumberRange expected;
  };
  const Case cases[] = {
      {"12B-+", "A", "2\\10\\1\\9", {2, 10, 1, 9}},
      {"12B++", "A", "2\\10\\1\\9", {10, 2, 9, 1}},
      {"32B+-", "C", "3", {399, 301, 398, 300}},
      {"12B--", "D2", "10-20-3-21", {13, 231, 10, 230}},
      {"12B-+", "A", "2\\10", {0, 0, 0, 0}},    // too few parts
      {"12B-", "A", "2\\10\\1\\9", {0, 0, 0, 0}},  // orientation cut short
      {"12B", "A", "2\\10\\1\\9", {0, 0, 0, 0}},   // no orientation
      {"12b-+", "A", "2\\10\\1\\9", {0, 0, 0, 0}},  // another code pair
      {"171", "A", "2\\10\\1\\9", {0, 0, 0, 0}},
      {"1", "A", "2\\10\\1\\9", {0, 0, 0, 0}},
      {"", "A", "2\\10\\1\\9", {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.code) + " " + c.value + " " + c.name);
    const HouseNumberRange range = ReadHouseNumberRangeRecord(c.code, c.value, c.name);
    EXPECT_EQ(range, c.expected) << Show(range);
  }
}

// Every address range the converter wrote on the demo map reads back as the
// four numbers of its text, as this test splits them itself.
TEST(ReadHouseNumberRangeRecordTest, EveryRangeOfTheDemoMapDecodes) {
  rmfbuild::MemoryReader maps(16u << 20);
  ASSERT_NE(maps.reader(), nullptr);
  ASSERT_EQ(maps.AddFile(DEMO_MAP_PATH), 1) << maps.error();
  RmfReader* reader = maps.reader();

  TiPoint low{}, high{};
  RmfReaderGetBounds(reader, &low, &high);
  RmfQuerySetLevels(reader, 1, 8);
  RmfQuerySetClassFilter(reader, '0', "");
  RmfQuerySetClassFilter(reader, '2', "");
  RmfQuerySetClassFilter(reader, 'B', "");
  RmfQuerySetClassFilter(reader, '1', "1234567");
  RmfQuerySetRect(reader, low.x, low.y, high.x, high.y);
  RmfQueryStart(reader);

  std::set<std::tuple<std::uint32_t, std::uint16_t, std::uint16_t, std::uint16_t>> seen;
  std::size_t ranges = 0, wrong = 0;
  char hitCode[8], hitName[64], hitDetail[256];
  std::int32_t count = 0;
  TiPoint* points = nullptr;
  RmfFeatureRef ref{};
  for (;;) {
    const std::int32_t hit = RmfQueryNext(reader, hitCode, hitName, hitDetail, &count, &ref, &points);
    ASSERT_GE(hit, -1);
    if (hit == 0) break;
    if (hit < 0 || !seen.insert({ref.featureId, ref.source, ref.secondId, ref.part}).second) continue;
    char code[8], value[64], name[256];
    for (std::int32_t a = 0; RmfFeatureAttribute(reader, ref, a, code, value, name) > 0; ++a) {
      const std::string_view c(code);
      if (c.size() < 3 || c.substr(1, 2) != "2B") continue;
      ++ranges;
      // The converter writes "12B-+" with explicit numbers "a\b\c\d".
      HouseNumberRange expected;
      std::int32_t* fields[] = {&expected.from1, &expected.to1, &expected.from2, &expected.to2};
      const char* p = name;
      const char* end = name + std::string_view(name).size();
      bool parsed = c == "12B-+" && std::string_view(value) == "A";
      for (int i = 0; i < 4 && parsed; ++i) {
        const auto [next, ec] = std::from_chars(p, end, *fields[i]);
        parsed = ec == std::errc() && (i == 3 ? next == end : next < end && *next == '\\');
        p = next + 1;
      }
      HouseNumberRange range;
      const int result = DecodeHouseNumberRange(c.substr(3), value, name, range);
      const bool right = parsed && result == kHouseNumberRangeExplicit && range == expected &&
                         ReadHouseNumberRangeRecord(code, value, name) == expected;
      if (!right && ++wrong <= 10) {
        ADD_FAILURE() << "attribute " << code << " \"" << value << "\" \"" << name << "\" decodes to " << result
                      << ": " << Show(range);
      }
    }
  }
  std::printf("address ranges on the demo map: %zu in %zu street parts, decoding wrong: %zu\n", ranges, seen.size(),
              wrong);
  EXPECT_GT(ranges, 1000u) << "the converter writes about a thousand ranges";
  EXPECT_EQ(wrong, 0u);
}

}  // namespace
