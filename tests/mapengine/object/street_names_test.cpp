// Street names: attribute texts by number, street names built from the
// pieces of a route-class name text, the predicates over a feature's
// attributes, stripping and expanding through the English word tables, the
// COM method that expands a name, and the names of the demo map checked
// against the name tags of the extract it was converted from.
#include <gtest/gtest.h>

#include <osmium/handler.hpp>
#include <osmium/io/any_input.hpp>
#include <osmium/osm/way.hpp>
#include <osmium/visitor.hpp>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/features/RmfFeatureAttr.h"
#include "mapengine/format/features/RmfQuery.h"
#include "mapengine/object/CMap.h"
#include "mapengine/object/StreetNames.h"
#include "platform/os/debug.h"
#include "platform/os/device.h"
#include "platform/os/text.h"
#include "tests/mapengine/object/map_engine_fixture.h"
#include "tools/rmfbuild/RmfBuilder.h"
#include "tools/rmfbuild/RmfFeatures.h"

namespace {

namespace fs = std::filesystem;
using rmfbuild::TextTriple;

std::u16string U(const std::string& utf8) { return platform::Utf8ToUtf16(utf8); }

// A map engine object on a fresh device root; LoadFeatures opens the
// features given into its map reader.
class StreetNamesTest : public MapEngineTest {
 protected:
  // Lines of one segment each, far enough apart to lie in tiles of their
  // own; refs_[i] is the whole of feature i.
  void LoadFeatures(const std::vector<rmfbuild::Feature>& features) {
    rmfbuild::FeatureMap map;
    for (const rmfbuild::Feature& f : features) map.Add(f);
    const rmfbuild::FeatureBuild built = rmfbuild::BuildFeatureMap(map);
    ASSERT_TRUE(built.ok) << built.error;
    const std::string file = root_ + "/names.rmf";
    std::string error;
    ASSERT_TRUE(rmfbuild::WriteFile(built.description, file, &error)) << error;
    OpenMapFile(file);
    refs_.clear();
    for (std::size_t i = 0; i < features.size(); ++i) {
      const auto pieces = built.PiecesOf(i);
      ASSERT_EQ(pieces.size(), 1u);
      refs_.push_back(
          RmfFeatureRef{pieces[0]->tileId, 0, pieces[0]->sequence, pieces[0]->entry, 0, 0, kRmfPositionWhole});
    }
  }

  static rmfbuild::Feature Line(int i, std::vector<TextTriple> attributes) {
    const TiPoint a{200000 + 40000 * i, 300000};
    // Class 3: the line's own code (pair 3-1) is none that is read here.
    rmfbuild::Feature f = rmfbuild::Feature::Line(rmfbuild::FeatureClass{1, 3, rmfbuild::FeatureCategory::kLine},
                                                  "line " + std::to_string(i), {a, TiPoint{a.x + 500, a.y + 300}});
    for (TextTriple& t : attributes) f.Attribute(std::move(t));
    return f;
  }

  std::vector<RmfFeatureRef> DemoLines();

  std::vector<RmfFeatureRef> refs_;
};

// ---- attribute texts ---------------------------------------------------------------------

TEST_F(StreetNamesTest, AttributeNumbersReadTheirPieceOrCharacter) {
  LoadEnglish();
  LoadFeatures({
      // Locality pieces with tags after ':', and a route-class value with a
      // different letter at every position.
      Line(0, {TextTriple{"121", "DEU\\17033", "Altstadt:p\\Neubrandenburg:c\\Oststadt:b\\Seenplatte:k\\MV"},
               TextTriple{"171+", "abcdefghi", "Ring"}}),
      // The first locality attribute lacks the city: the next one gives it.
      // The route-class value is short: positions past its end read as empty.
      Line(1, {TextTriple{"121", "DEU", "Dorf\\\\\\\\"}, TextTriple{"221", "", "x\\Burg Stargard"},
               TextTriple{"122", "", "Stargarder Land:x\\y"},
               TextTriple{"171", "3E", "Weg"}}),
  });
  const struct {
    int number;
    const char16_t* first;
    const char16_t* second;
  } cases[] = {
      {2, u"Neubrandenburg", u"Burg Stargard"},
      {3, u"MV", u""},
      {4, u"17033", u""},
      {5, u"h", u""},
      {6, u"Oststadt", u""},
      {7, u"Seenplatte", u""},
      {8, u"DEU", u"DEU"},
      {9, u"a", u"3"},
      {10, u"c", u""},
      {11, u"Altstadt", u"Dorf"},
      {12, u"i", u""},
      {13, u"e", u""},
      {14, u"g", u""},
      {15, u"b", u"E"},
      {16, u"+", u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GetFeatureAttribute(*map_, refs_[0], c.number, false), c.first) << "attribute " << c.number;
    EXPECT_EQ(GetFeatureAttribute(*map_, refs_[1], c.number, false), c.second) << "attribute " << c.number;
  }
  EXPECT_TRUE(debugOutput_.empty() || debugOutput_.back().find(u"GetFeatureAttribute") == std::u16string::npos);

  // Numbers outside the table and a reference to nothing say so on the
  // debug output and give nothing.
  for (int number : {17, 100, -1}) {
    debugOutput_.clear();
    EXPECT_EQ(GetFeatureAttribute(*map_, refs_[0], number, false), u"");
    ASSERT_FALSE(debugOutput_.empty());
    EXPECT_EQ(debugOutput_.front(), u"CARTOVEL: GetFeatureAttribute Default Switch\n");
  }
  debugOutput_.clear();
  EXPECT_EQ(GetFeatureAttribute(*map_, RmfFeatureRef{}, 2, false), u"");
  ASSERT_FALSE(debugOutput_.empty());
  EXPECT_EQ(debugOutput_.front(), u"CARTOVEL: GetFeatureAttribute IsFeatureValid false\n");
  debugOutput_.clear();
  EXPECT_EQ(GetStreetName(*map_, RmfFeatureRef{}, false, false, false), u"");
  ASSERT_FALSE(debugOutput_.empty());
  EXPECT_EQ(debugOutput_.front(), u"CARTOVEL: GetStreetName Invalid Feature\n");

  // Class names: pairs 22 to 62, piece 0, cut at ':'.
  EXPECT_EQ(map_->GetClassName(refs_[1], 0), u"Stargarder Land");
  EXPECT_EQ(map_->GetClassName(refs_[1], 5), u"");
  EXPECT_EQ(map_->GetClassName(refs_[1], -1), u"");
}

// ---- street names ------------------------------------------------------------------------

TEST_F(StreetNamesTest, StreetNamesFromTheRouteClassNamePieces) {
  LoadEnglish();
  const struct {
    const char* name;  // the route-class name text
    const char16_t* plain;
    const char16_t* detailed;  // with m_bStreetDetailed set
    const char16_t* second;    // the second street name
  } cases[] = {
      {"A\\:RN/I-5\\B", u"A", u"A, I-5, B", u"I-5, A"},
      // Route numbers only: the last one names the street, and the number it
      // says is not repeated.
      {":RN/I-5", u"I-5", u"I-5", u"I-5"},
      {":RN/B 96\\:RN/B 104\\Neustrelitzer Straße", u"Neustrelitzer Straße", u"Neustrelitzer Straße, B 96, B 104",
       u"B 96, B 104, Neustrelitzer Straße"},
      {"B 96\\:RN/B 96", u"B 96", u"B 96, B 96", u"B 96"},
      // Halves joined by "//" unless the first says it all; "///" ends a piece.
      {"Main St//Main", u"Main St", u"Main St", u"Main St"},
      {":RN/I-5//Golden State Fwy", u"I-5 Golden State Fwy", u"I-5 Golden State Fwy", u"I-5 Golden State Fwy"},
      {"Pine///old name\\Oak", u"Pine", u"Pine, Oak", u"Pine"},
      // The plain name ends at its first ':' only when nothing else is asked.
      {"Route:66", u"Route", u"Route:66", u"Route:66"},
      // An empty piece names nothing.
      {"\\Second", u"Second", u"Second", u"Second"},
      {":xy\\Plain", u"Plain", u"Plain, :xy", u"Plain"},
  };
  std::vector<rmfbuild::Feature> features;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    features.push_back(Line(static_cast<int>(i), {TextTriple{"171", "3 E", cases[i].name}}));
  }
  LoadFeatures(features);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    map_->m_bStreetDetailed = 0;
    EXPECT_EQ(GetStreetName(*map_, refs_[i], false, false, false), cases[i].plain);
    EXPECT_EQ(GetStreetName(*map_, refs_[i], false, false, true), cases[i].second);
    map_->m_bStreetDetailed = 1;
    EXPECT_EQ(GetStreetName(*map_, refs_[i], false, false, false), cases[i].detailed);
  }
}

TEST_F(StreetNamesTest, RampsTrailsWalkwaysAndUnnamedStreets) {
  LoadEnglish();
  enum { kRamp, kRoundabout, kUnnamed, kNoRouteClass, kTrail, kWalkway, kBareWalkway, kFreeway, kMainRoad, kCount };
  std::vector<rmfbuild::Feature> features(kCount);
  features[kRamp] = Line(kRamp, {TextTriple{"171", "9 E", "Exit 12"}});
  features[kRoundabout] = Line(kRoundabout, {TextTriple{"171", "8 E", ""}});
  features[kUnnamed] = Line(kUnnamed, {TextTriple{"171", "3 E", ""}});
  features[kNoRouteClass] = Line(kNoRouteClass, {TextTriple{"121", "DEU", "Dorf"}});
  features[kTrail] = Line(kTrail, {TextTriple{"141", "R", ""}, TextTriple{"171", "4WA", "Uferweg"}});
  features[kWalkway] = Line(kWalkway, {TextTriple{"141", "W", ""}, TextTriple{"152", "", "Kulturpark:p"}});
  features[kBareWalkway] = Line(kBareWalkway, {TextTriple{"141", "W", ""}});
  features[kFreeway] = Line(kFreeway, {TextTriple{"171", "1 L", "A 20"}});
  features[kMainRoad] = Line(kMainRoad, {TextTriple{"161", "x", ""}});
  LoadFeatures(features);

  EXPECT_EQ(GetStreetName(*map_, refs_[kRamp], false, false, false), u"Ramp");
  EXPECT_EQ(GetFeatureAttribute(*map_, refs_[kRamp], 0, false), u"Exit 12");
  EXPECT_EQ(GetStreetName(*map_, refs_[kRoundabout], false, false, false), u"Roundabout");
  EXPECT_EQ(GetStreetName(*map_, refs_[kUnnamed], false, false, false), u"Unnamed road");
  EXPECT_EQ(GetStreetName(*map_, refs_[kNoRouteClass], false, false, false), u"Unnamed road");
  EXPECT_EQ(map_->BuildStreetName(refs_[kNoRouteClass], true, true), u"");
  EXPECT_EQ(GetStreetName(*map_, refs_[kTrail], false, false, false), u"Trail");
  EXPECT_EQ(GetStreetName(*map_, refs_[kWalkway], false, false, false), u"Walkway Kulturpark");
  EXPECT_EQ(GetStreetName(*map_, refs_[kBareWalkway], false, false, false), u"Walkway");

  RmfReader* reader = map_->m_Rdr.get();
  const struct {
    int feature;
    bool ramp, roundabout, trail, walkway, class1, network;
  } predicates[] = {
      {kRamp, true, false, false, false, false, true},
      {kRoundabout, false, true, false, false, false, true},
      {kNoRouteClass, false, false, false, false, false, false},
      {kTrail, false, false, true, false, false, true},
      {kWalkway, false, false, false, true, false, false},
      {kFreeway, false, false, false, false, true, true},
      {kMainRoad, false, false, false, false, false, true},
  };
  for (const auto& p : predicates) {
    SCOPED_TRACE(p.feature);
    EXPECT_EQ(IsFeatureARamp(reader, refs_[p.feature]), p.ramp);
    EXPECT_EQ(map_->IsFeature8(refs_[p.feature]), p.roundabout);
    EXPECT_EQ(map_->IsFeatureR(refs_[p.feature]), p.trail);
    EXPECT_EQ(map_->IsFeatureW(refs_[p.feature]), p.walkway);
    EXPECT_EQ(map_->IsRoadClass1(refs_[p.feature]), p.class1);
    EXPECT_EQ(IsFeatureRoadNetwork(reader, refs_[p.feature]), p.network);
  }
  EXPECT_TRUE(map_->IsFallbackStreetName(u"Unnamed road"));
  EXPECT_TRUE(map_->IsFallbackStreetName(u"Roundabout"));
  EXPECT_FALSE(map_->IsFallbackStreetName(u"Ramp"));
  EXPECT_TRUE(map_->IsRampName(u"Ramp"));
  EXPECT_FALSE(map_->IsRampName(u"ramp"));
}

// ---- stripping and expanding -----------------------------------------------------------------

TEST_F(StreetNamesTest, StripAndExpandWithTheEnglishWordTables) {
  LoadEnglish();
  const struct {
    const char16_t* name;
    const char16_t* stripped;
    const char16_t* expanded;
  } cases[] = {
      {u"Elm St", u"Elm", u"Elm Street"},
      {u"N Main St", u"N Main", u"North Main Street"},
      // A one-letter direction before a street type alone is the street's name.
      {u"N St", u"N", u"N Street"},
      {u"sw Oak ave", u"sw Oak", u"Southwest Oak Avenue"},
      {u"St Louis Ave", u"St Louis", u"Saint Louis Avenue"},
      {u"I-80", u"I-80", u"Interstate 80"},
      {u"I-5 Fwy", u"I-5 Fwy", u"Interstate 5 Fwy"},
      {u"Co Rd 12", u"Co Rd 12", u"County Road 12"},
      {u"CO RD 7 Ext", u"CO RD 7 Ext", u"County Road 7 Ext"},
      {u"Co Rdx 5", u"Co Rdx 5", u"Co Rdx 5"},
      // Each side of the first comma on its own.
      {u"Elm St, I-5", u"Elm, I-5", u"Elm Street, Interstate 5"},
      {u"Oak Ave, N Pine Rd", u"Oak, N Pine", u"Oak Avenue, North Pine Road"},
      {u"Elm St, ", u"Elm", u"Elm Street"},
      // Not a street type, or no second word: unchanged.
      {u"Elm Street", u"Elm Street", u"Elm Street"},
      {u"St", u"St", u"St"},
      {u"Neustrelitzer Straße", u"Neustrelitzer Straße", u"Neustrelitzer Straße"},
      {u"Friedrich-Engels-Ring", u"Friedrich-Engels-Ring", u"Friedrich-Engels-Ring"},
      {u"", u"", u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(map_->StripStreetName(c.name), c.stripped) << platform::Utf16ToUtf8(c.name);
    EXPECT_EQ(map_->ExpandStreetName(c.name), c.expanded) << platform::Utf16ToUtf8(c.name);
  }
  EXPECT_EQ(map_->ExpandPrefix(u"N St"), u"N St");
  EXPECT_EQ(map_->ExpandPrefix(u"N 5th"), u"North 5th");
  EXPECT_EQ(map_->ExpandHyphenPrefix(u"I-"), u"Interstate ");
  EXPECT_EQ(map_->ExpandHyphenPrefix(u"X-5"), u"X-5");
  EXPECT_EQ(map_->ExpandHyphenPrefix(u"I"), u"I");

  EXPECT_EQ(map_->ExpandStateName(u"CA"), u"California");
  EXPECT_EQ(map_->ExpandStateName(u"qc"), u"Quebec");
  EXPECT_EQ(map_->ExpandStateName(u"MV"), u"MV");
  EXPECT_EQ(map_->ExpandStateName(u""), u"");
  EXPECT_EQ(map_->ExpandCountryName(u"DEU"), u"Germany");
  EXPECT_EQ(map_->ExpandCountryName(u"CA"), u"CA");
}

TEST_F(StreetNamesTest, WithoutALanguageLibraryNamesStayAsTheyAre) {
  EXPECT_EQ(map_->ExpandStreetName(u"N Main St"), u"N Main St");
  EXPECT_EQ(map_->StripStreetName(u"Elm St"), u"Elm St");
  EXPECT_EQ(map_->ExpandStateName(u"CA"), u"CA");
  // A missing language string is no name at all.
  EXPECT_FALSE(map_->IsRampName(u""));
  EXPECT_FALSE(map_->IsFallbackStreetName(u""));
  // And without maps a feature has no texts.
  EXPECT_EQ(map_->BuildStreetName(RmfFeatureRef{1, 0, 0, 0, 0, 0, kRmfPositionWhole}, false, false), u"");
  EXPECT_EQ(GetStreetName(*map_, RmfFeatureRef{1, 0, 0, 0, 0, 0, kRmfPositionWhole}, false, false, false), u"");
}

TEST_F(StreetNamesTest, ExpandRawStreetNameThroughIMap) {
  LoadEnglish();
  IMap* imap = map_;
  BSTR in = SysAllocString(u"N Main St, I-5");
  BSTR out = nullptr;
  EXPECT_EQ(imap->ExpandRawStreetName(&in, &out), S_OK);
  EXPECT_EQ(std::u16string(BstrView(out)), u"North Main Street, Interstate 5");
  SysFreeString(out);
  out = nullptr;
  BSTR none = nullptr;
  EXPECT_EQ(imap->ExpandRawStreetName(&none, &out), S_OK);
  EXPECT_EQ(std::u16string(BstrView(out)), u"");
  SysFreeString(out);
  EXPECT_EQ(imap->ExpandRawStreetName(nullptr, &out), S_OK);
  SysFreeString(out);
  EXPECT_EQ(imap->ExpandRawStreetName(&in, nullptr), E_POINTER);
  SysFreeString(in);
}

TEST(SplitText, SplitsAtUpToCountSeparatorsSkippingOneBlank) {
  const struct {
    const char16_t* text;
    char16_t separator;
    int count;
    std::vector<std::u16string> pieces;
  } cases[] = {
      {u"a, b,c", u',', 5, {u"a", u"b", u"c"}},
      {u"a, b, c", u',', 1, {u"a", u"b, c"}},
      {u"a,  b", u',', 3, {u"a", u" b"}},
      {u"a,", u',', 3, {u"a", u""}},
      {u"abc", u',', 3, {u"abc"}},
      {u"", u',', 3, {u""}},
      {u"a;b", u';', 0, {u"a;b"}},
  };
  for (const auto& c : cases) {
    std::vector<std::u16string> pieces;
    EXPECT_EQ(CMap::SplitText(c.text, c.separator, c.count, &pieces), static_cast<int>(c.pieces.size()));
    EXPECT_EQ(pieces, c.pieces) << platform::Utf16ToUtf8(c.text);
  }
}

// ---- the demo map ----------------------------------------------------------------------------

// The first number of a text (its digits from the first one), 0 for none:
// the second street name puts the route numbers before a name that does not
// say the same number.
long long NumberIn(const std::string& text) {
  const std::size_t digit = text.find_first_of("0123456789");
  if (digit == std::string::npos) return 0;
  return std::stoll(text.substr(digit, text.find_first_not_of("0123456789", digit) - digit).substr(0, 18));
}

// The street names of the extract, from the tags of every way the converter
// writes as a street (backslashes made slashes, as a name text cannot hold
// them): the name is the name tag, else the last route number of the ref
// tag (split at ';', trimmed); the detailed name has the other route numbers
// after it; the second name puts all route numbers before a name that does
// not say the same first number.
class ExtractNames : public osmium::handler::Handler {
 public:
  struct Names {
    std::u16string plain, second, detailed;
    auto operator<=>(const Names&) const = default;
  };

  void way(const osmium::Way& way) {
    static const std::set<std::string> kStreets = {
        "motorway",     "motorway_link", "trunk",       "trunk_link",    "primary",     "primary_link",
        "secondary",    "secondary_link", "tertiary",   "tertiary_link", "unclassified", "residential",
        "road",         "living_street", "service",     "track",         "pedestrian",  "footway",
        "path",         "cycleway",      "steps",       "bridleway"};
    const osmium::TagList& tags = way.tags();
    if (kStreets.count(tags.get_value_by_key("highway", "")) == 0) return;
    if (std::string(tags.get_value_by_key("area", "")) == "yes") return;
    std::string name = tags.get_value_by_key("name", "");
    std::vector<std::string> refs;
    const std::string ref = tags.get_value_by_key("ref", "");
    for (std::size_t start = 0; start <= ref.size();) {
      const std::size_t end = std::min(ref.find(';', start), ref.size());
      const std::size_t first = ref.find_first_not_of(' ', start);
      if (first < end) refs.push_back(ref.substr(first, ref.find_last_not_of(' ', end - 1) + 1 - first));
      start = end + 1;
    }
    std::replace(name.begin(), name.end(), '\\', '/');
    for (std::string& r : refs) std::replace(r.begin(), r.end(), '\\', '/');
    if (name.empty() && refs.empty()) return;

    std::string plain = name, detailed, numbers;
    if (plain.empty()) plain = refs.back();
    detailed = plain;
    for (std::size_t i = 0; i < refs.size(); ++i) {
      numbers += (i == 0 ? "" : ", ") + refs[i];
      if (!name.empty() || i + 1 < refs.size()) detailed += ", " + refs[i];
    }
    const std::string second = !refs.empty() && NumberIn(numbers) != NumberIn(plain) ? numbers + ", " + plain : plain;
    labels.insert(plain);
    names.insert(Names{U(plain), U(second), U(detailed)});
  }

  std::set<std::string> labels;  // the plain names
  std::set<Names> names;
};

ExtractNames ReadExtractNames() {
  ExtractNames names;
  osmium::io::Reader in(DEMO_OSM_PATH, osmium::osm_entity_bits::way);
  osmium::apply(in, names);
  in.close();
  return names;
}

// Opens the demo map and gives every line feature of it.
std::vector<RmfFeatureRef> StreetNamesTest::DemoLines() {
  OpenMapFile(DEMO_MAP_PATH);
  RmfReader* reader = map_->m_Rdr.get();
  if (reader == nullptr) {
    ADD_FAILURE() << "the demo map did not open";
    return {};
  }
  TiRect box{};
  EXPECT_GE(RmfSourceGetBox(reader, 0, &box), 0);
  RmfQuerySetLevels(reader, 0, 15);
  RmfQuerySetClassFilter(reader, 0, "");
  RmfQuerySetClassFilter(reader, 1, "1234567");
  RmfQuerySetClassFilter(reader, 2, "");
  RmfQuerySetClassFilter(reader, 3, "");
  RmfQuerySetRect(reader, box.x1, box.y1, box.x2, box.y2);
  RmfQueryStart(reader);
  std::vector<RmfFeatureRef> lines;
  char code[8], name[64], detail[256];
  std::int32_t count = 0, hit = 0;
  TiPoint* points = nullptr;
  RmfFeatureRef ref{};
  while ((hit = RmfQueryNext(reader, code, name, detail, &count, &ref, &points)) != 0) {
    if (hit <= -2) {
      ADD_FAILURE() << "the query failed";
      break;
    }
    if (hit > 0) lines.push_back(ref);
  }
  return lines;
}

TEST_F(StreetNamesTest, DemoMapStreetNamesAreTheExtractsNameTags) {
  const ExtractNames extract = ReadExtractNames();
  ASSERT_GT(extract.labels.size(), 500u);
  std::set<std::u16string> expected;
  for (const std::string& label : extract.labels) expected.insert(U(label));

  LoadEnglish();
  const std::vector<RmfFeatureRef> lines = DemoLines();
  RmfReader* reader = map_->m_Rdr.get();
  ASSERT_NE(reader, nullptr);

  // Every street feature of the map: its raw name, built from UTF-8 bytes of
  // the file into UTF-16, must be one of the extract's names, and every name
  // of the extract must come out of some feature.
  std::set<std::u16string> seen;
  std::size_t streets = 0, unnamed = 0, strangers = 0, changedByExpansion = 0;
  for (const RmfFeatureRef& ref : lines) {
    if (!IsFeatureRoadNetwork(reader, ref)) continue;
    ++streets;
    const std::u16string raw = map_->BuildStreetName(ref, false, false);
    if (raw.empty()) {
      ++unnamed;
      const std::u16string spoken = GetStreetName(*map_, ref, false, false, false);
      EXPECT_TRUE(map_->IsFallbackStreetName(spoken) || map_->IsRampName(spoken)) << platform::Utf16ToUtf8(spoken);
      continue;
    }
    EXPECT_EQ(GetStreetName(*map_, ref, false, false, false), IsFeatureARamp(reader, ref) ? u"Ramp" : raw);
    seen.insert(raw);
    if (expected.count(raw) == 0 && ++strangers <= 10) {
      ADD_FAILURE() << "a street named \"" << platform::Utf16ToUtf8(raw) << "\" that no way of the extract has";
    }
    // German names pass the English tables untouched.
    const std::u16string expanded = GetStreetName(*map_, ref, false, true, false);
    const std::u16string stripped = GetStreetName(*map_, ref, true, false, false);
    if ((expanded != raw || stripped != raw) && ++changedByExpansion <= 10) {
      ADD_FAILURE() << platform::Utf16ToUtf8(raw) << " expands to " << platform::Utf16ToUtf8(expanded)
                    << " and strips to " << platform::Utf16ToUtf8(stripped);
    }
  }
  std::vector<std::u16string> missing;
  std::set_difference(expected.begin(), expected.end(), seen.begin(), seen.end(), std::back_inserter(missing));
  for (std::size_t i = 0; i < missing.size() && i < 10; ++i) {
    ADD_FAILURE() << "the extract's street \"" << platform::Utf16ToUtf8(missing[i]) << "\" is on no street";
  }
  std::printf("street features: %zu, unnamed: %zu, names: %zu of the extract's %zu\n", streets, unnamed, seen.size(),
              expected.size());
  EXPECT_EQ(strangers, 0u);
  EXPECT_TRUE(missing.empty());
  EXPECT_EQ(changedByExpansion, 0u);
  EXPECT_GT(unnamed, 0u);

  // Letters beyond ASCII come through as themselves.
  for (const char16_t* known :
       {u"Neustrelitzer Straße", u"Albrecht-Dürer-Straße", u"Alte Gärtnerei", u"Am Gehöft"}) {
    EXPECT_EQ(seen.count(known), 1u) << platform::Utf16ToUtf8(known);
  }
  // Roads known only by their number are named by it.
  for (const char16_t* number : {u"A 20", u"B 104", u"L 35"}) {
    EXPECT_EQ(seen.count(number), 1u) << platform::Utf16ToUtf8(number);
  }
}

// The demo map carries the streets' route numbers: the second street name
// of a numbered street leads with its numbers, the detailed name follows the
// name with them, and a road known only by its number is named by it. Every
// street feature's three names must be those of a way of the extract, and
// the names of every way must come out of some feature.
TEST_F(StreetNamesTest, DemoStreetsWithRouteNumbers) {
  const ExtractNames extract = ReadExtractNames();
  std::size_t numbered = 0;
  for (const ExtractNames::Names& n : extract.names) numbered += n.detailed != n.plain ? 1 : 0;
  ASSERT_GE(numbered, 20u) << "named streets with a ref";

  LoadEnglish();
  const std::vector<RmfFeatureRef> lines = DemoLines();
  RmfReader* reader = map_->m_Rdr.get();
  ASSERT_NE(reader, nullptr);

  std::set<ExtractNames::Names> seen;
  std::size_t strangers = 0;
  for (const RmfFeatureRef& ref : lines) {
    if (!IsFeatureRoadNetwork(reader, ref)) continue;
    ExtractNames::Names names;
    map_->m_bStreetDetailed = 0;
    names.plain = GetFeatureAttribute(*map_, ref, kAttributeStreetName, false);
    names.second = GetFeatureAttribute(*map_, ref, kAttributeSecondStreetName, false);
    map_->m_bStreetDetailed = 1;
    names.detailed = GetFeatureAttribute(*map_, ref, kAttributeStreetName, false);
    if (names.plain.empty()) continue;
    seen.insert(names);
    if (extract.names.count(names) == 0 && ++strangers <= 10) {
      ADD_FAILURE() << "a street named \"" << platform::Utf16ToUtf8(names.plain) << "\", second name \""
                    << platform::Utf16ToUtf8(names.second) << "\", detailed \""
                    << platform::Utf16ToUtf8(names.detailed) << "\" that no way of the extract has";
    }
  }
  std::vector<ExtractNames::Names> missing;
  std::set_difference(extract.names.begin(), extract.names.end(), seen.begin(), seen.end(),
                      std::back_inserter(missing));
  for (std::size_t i = 0; i < missing.size() && i < 10; ++i) {
    ADD_FAILURE() << "the extract's street \"" << platform::Utf16ToUtf8(missing[i].plain)
                  << "\" with the second name \"" << platform::Utf16ToUtf8(missing[i].second)
                  << "\" and the detailed \"" << platform::Utf16ToUtf8(missing[i].detailed) << "\" is on no street";
  }
  std::printf("street names: %zu of the extract's %zu, %zu of them with route numbers after the name\n", seen.size(),
              extract.names.size(), numbered);
  EXPECT_EQ(strangers, 0u);
  EXPECT_TRUE(missing.empty());

  // A few of them: a ring road of three numbers, one per stretch; a street
  // whose name says the number of its road; roads known only by their number.
  for (const ExtractNames::Names& known : std::initializer_list<ExtractNames::Names>{
           {u"Friedrich-Engels-Ring", u"B 104, Friedrich-Engels-Ring", u"Friedrich-Engels-Ring, B 104"},
           {u"Friedrich-Engels-Ring", u"B 96, Friedrich-Engels-Ring", u"Friedrich-Engels-Ring, B 96"},
           {u"Friedrich-Engels-Ring", u"L 35, Friedrich-Engels-Ring", u"Friedrich-Engels-Ring, L 35"},
           {u"Neustrelitzer Straße", u"B 96, Neustrelitzer Straße", u"Neustrelitzer Straße, B 96"},
           {u"MST21", u"MST21", u"MST21, K 21"},
           {u"A 20", u"A 20", u"A 20"},
           {u"B 104", u"B 104", u"B 104"},
       }) {
    EXPECT_EQ(seen.count(known), 1u) << platform::Utf16ToUtf8(known.second);
  }
}

}  // namespace
