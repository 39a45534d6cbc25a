// Tests of the string-table compiler: what a source line means, the messages
// for bad lines, and the string-table block layout it writes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/restable/StringTable.h"

namespace {

using restable::ParseStringTableSource;

std::string Utf8(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      out += "<U+" + std::to_string(static_cast<unsigned>(c)) + ">";
    }
  }
  return out;
}

TEST(RestableSource, ReadsTextsWithTheirQuotesEscapesAndBlanks) {
  struct Row {
    const char* line;
    unsigned id;
    std::u16string text;
  } const rows[] = {
      {"1, plain", 1, u"plain"},
      {"  2 ,\t spaced out  ", 2, u"spaced out"},         // blanks around id and text go
      {"3, n,North", 3, u"n,North"},                      // the first comma ends the id
      {"4, \" keep \"", 4, u" keep "},                    // quotes keep blanks
      {"5, \", %s\"", 5, u", %s"},
      {"6, a\\nb\\tc\\\\d\\\"e", 6, u"a\nb\tc\\d\"e"},     // escapes unquoted
      {"7, \"say \\\"hi\\\"\"", 7, u"say \"hi\""},        // and quoted
      {"8, \"\"", 8, u""},                                // an explicit empty text
      {"9, Exit #%s", 9, u"Exit #%s"},                    // '#' inside a text is text
      {"10, 5\" tall", 10, u"5\" tall"},                  // a quote inside an unquoted text
      {"11, Qu\xC3\xA9" "bec \xE2\x82\xAC \xF0\x9F\x9A\xB2", 11, u"Qu\u00E9bec \u20AC \U0001F6B2"},
      {"65535, last\r", 65535, u"last"},                  // the highest id; a CR line end
      {"00042, leading zeros", 42, u"leading zeros"},
  };
  for (const Row& row : rows) {
    const restable::ParseResult parsed = ParseStringTableSource(row.line, "t.txt");
    ASSERT_TRUE(parsed.Ok()) << row.line << ": " << (parsed.errors.empty() ? "" : parsed.errors[0]);
    ASSERT_EQ(parsed.entries.size(), 1u) << row.line;
    EXPECT_EQ(parsed.entries[0].id, row.id) << row.line;
    EXPECT_EQ(Utf8(parsed.entries[0].text), Utf8(row.text)) << row.line;
  }
}

TEST(RestableSource, SkipsCommentsBlankLinesAndAByteOrderMark) {
  const restable::ParseResult parsed =
      ParseStringTableSource("\xEF\xBB\xBF# header\n\n   \n  # indented comment\n7, seven\n\t\n8, eight", "t.txt");
  ASSERT_TRUE(parsed.Ok());
  ASSERT_EQ(parsed.entries.size(), 2u);
  EXPECT_EQ(parsed.entries[0].id, 7u);
  EXPECT_EQ(parsed.entries[0].line, 5);
  EXPECT_EQ(parsed.entries[1].id, 8u);
  EXPECT_EQ(parsed.entries[1].line, 7);
}

TEST(RestableSource, RejectsBadLinesNamingTheLine) {
  struct Row {
    const char* source;
    const char* message;  // the whole first message
  } const rows[] = {
      {"1, one\n2, two\n1, again", "t.txt:3: duplicate id 1 (first defined on line 1)"},
      {"65536, too big", "t.txt:1: bad id '65536' (an id is a whole number from 0 to 65535)"},
      {"123456, too long", "t.txt:1: bad id '123456' (an id is a whole number from 0 to 65535)"},
      {"-1, negative", "t.txt:1: bad id '-1' (an id is a whole number from 0 to 65535)"},
      {"0x10, hex", "t.txt:1: bad id '0x10' (an id is a whole number from 0 to 65535)"},
      {", no id", "t.txt:1: bad id '' (an id is a whole number from 0 to 65535)"},
      {"1 2, two numbers", "t.txt:1: bad id '1 2' (an id is a whole number from 0 to 65535)"},
      {"# fine\nno comma here", "t.txt:2: expected 'id, text'"},
      {"5, a\\qb", "t.txt:1: string 5: unknown escape \\q (known: \\n \\t \\\\ \\\")"},
      {"5, ends in \\", "t.txt:1: string 5: a backslash ends the line (write \\\\ for a backslash)"},
      {"5, \"open", "t.txt:1: string 5: the closing quote is missing"},
      {"5, \"a\" b", "t.txt:1: string 5: text continues after the closing quote"},
      {"5, \"a\\\"", "t.txt:1: string 5: the closing quote is missing"},  // the last quote is escaped
      {"5,   ", "t.txt:1: string 5: the text is empty (write \"\" for an empty string)"},
      {"5, bad \xC3", "t.txt:1: string 5: the text is not valid UTF-8"},
      {"5, overlong \xC0\xAF", "t.txt:1: string 5: the text is not valid UTF-8"},
      {"5, surrogate \xED\xA0\x80", "t.txt:1: string 5: the text is not valid UTF-8"},
  };
  for (const Row& row : rows) {
    const restable::ParseResult parsed = ParseStringTableSource(row.source, "t.txt");
    ASSERT_FALSE(parsed.Ok()) << row.source;
    EXPECT_EQ(parsed.errors[0], row.message) << row.source;
  }
}

TEST(RestableSource, ReportsEveryBadLineAndKeepsTheGoodOnes) {
  const restable::ParseResult parsed = ParseStringTableSource("1, one\nx, bad\n2, two\n3, a\\z\n1, dup\n", "t.txt");
  ASSERT_EQ(parsed.errors.size(), 3u);
  EXPECT_EQ(parsed.errors[0].rfind("t.txt:2:", 0), 0u);
  EXPECT_EQ(parsed.errors[1].rfind("t.txt:4:", 0), 0u);
  EXPECT_EQ(parsed.errors[2].rfind("t.txt:5:", 0), 0u);
  ASSERT_EQ(parsed.entries.size(), 2u);
}

TEST(RestableSource, RejectsATextTooLongForItsLengthField) {
  const std::string fits = "1, " + std::string(65535, 'a');
  const std::string over = "1, " + std::string(65536, 'a');
  EXPECT_TRUE(ParseStringTableSource(fits, "t.txt").Ok());
  const restable::ParseResult parsed = ParseStringTableSource(over, "t.txt");
  ASSERT_FALSE(parsed.Ok());
  EXPECT_EQ(parsed.errors[0], "t.txt:1: string 1: the text is longer than 65535 UTF-16 characters");
}

TEST(RestableSource, StopsAfterTooManyErrors) {
  std::string source;
  for (int i = 0; i < 200; ++i) source += "bad line\n";
  const restable::ParseResult parsed = ParseStringTableSource(source, "t.txt");
  ASSERT_EQ(parsed.errors.size(), 51u);
  EXPECT_EQ(parsed.errors.back(), "t.txt:50: too many errors; stopped reading");
}

// The layout, checked against a plain model: for each block, each of its 16
// ids in order gives its length and characters, or a 0 length.
TEST(RestableBlocks, LayOutSixteenLengthPrefixedEntriesPerBlock) {
  const std::vector<restable::StringEntry> entries = {
      {17, u"b", 1}, {0, u"zero", 2}, {15, u"f", 3}, {16, u"", 4}, {65535, u"end", 5}, {40, u"\U0001F6B2", 6},
  };
  const restable::StringBlocks blocks = restable::BuildStringBlocks(entries);

  std::map<std::uint16_t, std::vector<std::uint16_t>> model;
  for (unsigned block : {1u, 2u, 3u, 4096u}) {
    std::vector<std::uint16_t>& units = model[static_cast<std::uint16_t>(block)];
    for (unsigned id = (block - 1) * 16; id < block * 16; ++id) {
      const std::u16string* text = nullptr;
      for (const auto& e : entries)
        if (e.id == id) text = &e.text;
      units.push_back(text == nullptr ? 0 : static_cast<std::uint16_t>(text->size()));
      if (text != nullptr) units.insert(units.end(), text->begin(), text->end());
    }
  }
  EXPECT_EQ(blocks, model);
  // Spot-check the model itself: block 2 is ids 16-31, id 17 second.
  EXPECT_EQ(blocks.at(2)[0], 0);
  EXPECT_EQ(blocks.at(2)[1], 1);
  EXPECT_EQ(blocks.at(2)[2], u'b');
  EXPECT_EQ(blocks.at(3).size(), 16u + 2u);  // a surrogate pair counts as two characters
}

TEST(RestableOutput, DefinesOneRtStringEntryPerBlock) {
  const restable::StringBlocks blocks = restable::BuildStringBlocks({{1, u"A", 1}, {40, u"B", 2}});
  const std::string source = restable::WriteResourceSource(blocks, "x.txt");
  EXPECT_NE(source.find("#include \"platform/os/resource.h\""), std::string::npos);
  EXPECT_NE(source.find("{kRtString, 1, sizeof kBlock1, kBlock1},"), std::string::npos);
  EXPECT_NE(source.find("{kRtString, 3, sizeof kBlock3, kBlock3},"), std::string::npos);
  EXPECT_EQ(source.find("kBlock2"), std::string::npos);
  EXPECT_NE(source.find("TIRVANE_RESOURCE_DIRECTORY(kEntries);"), std::string::npos);
  // Block 1: id 0 empty, id 1 "A" (0x41), then 14 empty ids.
  EXPECT_NE(source.find("0x0000, 0x0001, 0x0041, 0x0000,"), std::string::npos);

  const std::string empty = restable::WriteResourceSource({}, "x.txt");
  EXPECT_NE(empty.find("kResourceDirectoryVersion, 0, nullptr}"), std::string::npos);
}

}  // namespace
