// Tests of the English language library as built: every text the map engine
// reads is there, word-table texts have the key,value form within the engine's
// limits, and formats carry the placeholders their callers fill.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/os/resource.h"
#include "platform/os/text.h"
#include "tools/osm2rmf/PoiCategories.h"

namespace {

std::vector<UINT> Range(UINT first, UINT last) {
  std::vector<UINT> ids;
  for (UINT id = first; id <= last; ++id) ids.push_back(id);
  return ids;
}

std::vector<UINT> Join(std::initializer_list<std::vector<UINT>> parts) {
  std::vector<UINT> ids;
  for (const auto& part : parts) ids.insert(ids.end(), part.begin(), part.end());
  return ids;
}

struct WordTable {
  const char* name;
  std::vector<UINT> ids;
};

// The five word tables in the map engine's slot order, each with its ids.
const std::vector<WordTable>& WordTables() {
  static const std::vector<WordTable> tables = {
      {"prefixes", Range(23007, 23017)},
      {"street types", Range(23018, 23030)},
      {"states", Join({Range(23035, 23093), Range(24000, 24012)})},
      {"countries", Range(25000, 25011)},
      {"two-letter street types", Range(23031, 23034)},
  };
  return tables;
}

// Single texts, with the number of "%s" each must hold.
struct Single {
  UINT id;
  int placeholders;
};
const Single kSingles[] = {
    {20581, 0}, {20584, 0}, {20748, 1}, {20749, 1}, {23094, 0}, {23095, 0}, {23099, 0}, {23100, 0},
    {23101, 0}, {23102, 0}, {23103, 0}, {23104, 0}, {23105, 0}, {23106, 0}, {23107, 0}, {23108, 0},
    {23109, 0}, {23110, 0}, {23111, 2}, {23112, 1}, {23113, 1}, {23114, 1}, {23115, 1}, {23124, 1},
    {23130, 0}, {23131, 0}, {23132, 0}, {23133, 0}, {23134, 0}, {23135, 0}, {23136, 0}, {23137, 0},
    {23138, 0}, {23139, 0}, {23140, 0}, {23141, 1}, {23142, 1}, {23143, 1},
};

int CountPercents(const std::u16string& text) {
  int n = 0;
  for (char16_t c : text) n += c == u'%';
  return n;
}

int CountPlaceholders(const std::u16string& text) {
  int n = 0;
  for (std::size_t at = text.find(u"%s"); at != std::u16string::npos; at = text.find(u"%s", at + 2)) ++n;
  return n;
}

std::u16string Lower(std::u16string text) {
  for (char16_t& c : text)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return text;
}

class EnglishLibrary : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { module_ = LoadLibraryW(platform::Utf8ToUtf16(LEXIFORN_EN_PATH).c_str()); }
  static void TearDownTestSuite() {
    if (module_ != nullptr) FreeLibrary(module_);
    module_ = nullptr;
  }
  void SetUp() override { ASSERT_NE(module_, nullptr) << platform::LastModuleError(); }

  static std::u16string Text(UINT id) { return platform::LoadStringResource(module_, id); }

  static HMODULE module_;
};
HMODULE EnglishLibrary::module_ = nullptr;

TEST_F(EnglishLibrary, HasEverySingleTextWithItsPlaceholders) {
  for (const Single& single : kSingles) {
    const std::u16string text = Text(single.id);
    EXPECT_FALSE(text.empty()) << "string " << single.id;
    EXPECT_EQ(CountPlaceholders(text), single.placeholders) << "string " << single.id;
    EXPECT_EQ(CountPercents(text), single.placeholders) << "string " << single.id << ": a stray '%'";
  }
}

TEST_F(EnglishLibrary, WordTableTextsAreKeyCommaValueWithinTheLimits) {
  for (const WordTable& table : WordTables()) {
    std::set<std::u16string> keys;
    for (UINT id : table.ids) {
      const std::u16string text = Text(id);
      const std::string where = std::string(table.name) + ", string " + std::to_string(id);
      const std::size_t comma = text.find(u',');
      ASSERT_NE(comma, std::u16string::npos) << where << ": no comma (the engine would drop the whole table)";
      const std::u16string key = text.substr(0, comma);
      const std::u16string value = text.substr(comma + 1);
      EXPECT_GE(key.size(), 1u) << where;
      EXPECT_LE(key.size(), 19u) << where;
      EXPECT_GE(value.size(), 1u) << where;
      EXPECT_LE(value.size(), 99u) << where;
      EXPECT_NE(key.front(), u' ') << where;
      EXPECT_NE(key.back(), u' ') << where;
      EXPECT_NE(value.front(), u' ') << where;
      EXPECT_EQ(CountPercents(text), 0) << where;
      // Lookups find the first entry of a key: a second one would never be used.
      EXPECT_TRUE(keys.insert(Lower(key)).second) << where << ": key used twice";
    }
  }
}

TEST_F(EnglishLibrary, WordTableKeysSuitTheirRules) {
  const auto key = [](UINT id) {
    const std::u16string text = Text(id);
    return text.substr(0, text.find(u','));
  };
  // Prefixes are matched as the first word of a name, so only the one
  // multi-word prefix (string 23017) may hold a blank; a hyphen prefix is
  // matched on a name's first two characters.
  for (UINT id : WordTables()[0].ids) {
    const std::u16string k = key(id);
    if (id != 23017) {
      EXPECT_EQ(k.find(u' '), std::u16string::npos) << id;
    }
    if (k.find(u'-') != std::u16string::npos) {
      EXPECT_TRUE(k.size() == 2 && k[1] == u'-') << id;
    }
  }
  EXPECT_NE(key(23017).find(u' '), std::u16string::npos) << "23017 is the prefix key that holds a blank";
  // Street types are a name's last word.
  for (UINT id : WordTables()[1].ids) EXPECT_EQ(key(id).find(u' '), std::u16string::npos) << id;
  // Route steps compare the last two characters of a name with these.
  for (UINT id : WordTables()[4].ids) EXPECT_EQ(key(id).size(), 2u) << id;
}

TEST_F(EnglishLibrary, ExpandsTheCodesMapsCarry) {
  // A few lookups as the engine does them: lower-cased keys, first match.
  const auto lookup = [](std::size_t table, const std::u16string& word) -> std::u16string {
    for (UINT id : WordTables()[table].ids) {
      const std::u16string text = Text(id);
      const std::size_t comma = text.find(u',');
      if (Lower(text.substr(0, comma)) == Lower(word)) return text.substr(comma + 1);
    }
    return u"";
  };
  EXPECT_EQ(lookup(0, u"N"), u"North");
  EXPECT_EQ(lookup(0, u"I-"), u"Interstate");
  EXPECT_EQ(lookup(1, u"St"), u"Street");
  EXPECT_EQ(lookup(2, u"CA"), u"California");
  EXPECT_EQ(lookup(2, u"qc"), u"Quebec");
  // The where-am-I answer names a British city by its borough when the
  // country reads "united kingdom".
  EXPECT_EQ(Lower(lookup(3, u"GBR")), u"united kingdom");
  EXPECT_EQ(lookup(3, u"DEU"), u"Germany");
}

TEST_F(EnglishLibrary, FallbackNamesAreDistinct) {
  // Unnamed streets, unnamed roundabouts and ramps are told apart by their names.
  const std::set<std::u16string> names = {Text(20581), Text(20584), Text(23095)};
  EXPECT_EQ(names.size(), 3u);
}

TEST_F(EnglishLibrary, NamesThePointOfInterestCategoriesTheConverterWrites) {
  // The engine names category c by text (c + 59) x 500 and counts its
  // subcategories up to the first missing text after it; the converter sorts
  // points into subcategories by number. Both must agree on every name and
  // on where the run of subcategory texts ends.
  for (int c = 1; c <= osm2rmf::kPoiCategories; ++c) {
    const UINT base = static_cast<UINT>((c + 59) * 500);
    EXPECT_EQ(Text(base), platform::Utf8ToUtf16(osm2rmf::PoiCategoryName(c))) << "category " << c;
    const int count = osm2rmf::PoiSubcategoryCount(c);
    EXPECT_GE(count, 1) << "category " << c;
    for (int s = 1; s <= count; ++s) {
      EXPECT_EQ(Text(base + static_cast<UINT>(s)), platform::Utf8ToUtf16(osm2rmf::PoiSubcategoryName(c, s)))
          << "category " << c << ", subcategory " << s;
    }
    EXPECT_TRUE(Text(base + static_cast<UINT>(count) + 1).empty()) << "category " << c << ": a stray subcategory";
  }
}

}  // namespace
