// Tests of the map engine's street filters: tables of attribute entries and
// the answers each filter must give, entries whose texts end early (the
// bytes behind them are filled with characters that would change the answer
// if read), and the filters installed in a reader over a small built map,
// asked through the library's own profile calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/features/RmfFeatureAttr.h"
#include "mapengine/format/features/RmfProfile.h"
#include "typelib/CartovelLib.h"
#include "mapengine/object/RouteFilters.h"
#include "tools/rmfbuild/RmfFeatures.h"
#include "tools/rmfbuild/RmfMemoryReader.h"

namespace {

// ---- entries and answers ------------------------------------------------------------

struct Text {
  std::string_view code;
  std::string_view value;
  std::string_view name = {};
};

// An entry whose arrays hold the texts and, behind them up to the last byte
// (no terminating NUL), characters that would matter if a filter read past
// the stored lengths: a '+' mark in the code, a road kind and speed class
// 'A' in the value, digits in the name.
RmfAttrEntry Entry(const Text& t) {
  RmfAttrEntry e;
  std::memset(e.code, '+', sizeof e.code);
  std::memset(e.value, 'A', sizeof e.value);
  std::memset(e.name, '7', sizeof e.name);
  std::copy(t.code.begin(), t.code.end(), e.code);
  std::copy(t.value.begin(), t.value.end(), e.value);
  std::copy(t.name.begin(), t.name.end(), e.name);
  e.codeLength = static_cast<std::uint32_t>(t.code.size());
  e.valueLength = static_cast<std::uint32_t>(t.value.size());
  e.nameLength = static_cast<std::uint32_t>(t.name.size());
  return e;
}

// An attribute set (about 26 KB) of the given entries.
struct Set {
  explicit Set(const std::vector<Text>& texts) {
    set.count = static_cast<std::int32_t>(texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) set.entries[i] = Entry(texts[i]);
  }
  RmfAttrSet set{};
};

RouteRequestOptions Options(std::int32_t freeway = CARTOVELRouteFreewayNormal,
                            std::int32_t roundabout = CARTOVELRouteRoundaboutNormal,
                            std::int32_t toll = CARTOVELRouteTollRoadNormal,
                            std::int32_t vehicle = CARTOVELRouteVehicleModeFastest) {
  return RouteRequestOptions{freeway, CARTOVELRouteTurnAutomatic, roundabout, toll, vehicle};
}

// One direction of a feature answer; level -1 is a closed direction, whose
// kind and cost are not looked at.
struct Dir {
  int level = -1;
  std::uint32_t kind = 0;
  std::uint32_t cost = 0;
  bool operator==(const Dir&) const = default;
};
constexpr Dir kClosed{};

// The answer of a feature filter, started from an answer whose fields hold
// values the filter must replace or keep: levels 7, a control word with the
// class-only request among other bits (the filters leave it alone).
constexpr std::uint32_t kOtherControlBits = 0xF0;

std::pair<Dir, Dir> Ask(RmfProfileFeatureFn filter, const std::vector<Text>& texts, RouteRequestOptions* options) {
  Set s(texts);
  RmfFeatureAnswer answer{};
  for (RmfTravelAnswer& t : answer.travel) {
    t.control = kOtherControlBits | kRmfTravelControlClassOnly;
    t.roadClass = 7;
    t.costFactor = 12345;
  }
  filter(&s.set, nullptr, &answer, options);
  auto dir = [](const RmfTravelAnswer& t) {
    EXPECT_EQ(t.control, kOtherControlBits | kRmfTravelControlClassOnly) << "the control word is left alone";
    if (t.roadClass < 0) {
      EXPECT_EQ(t.roadClass, -1);
      return kClosed;
    }
    return Dir{t.roadClass, t.groupCode, t.costFactor};
  };
  return {dir(answer.travel[0]), dir(answer.travel[1])};
}

std::string Describe(const Dir& d) {
  if (d.level < 0) return "closed";
  return "level " + std::to_string(d.level) + " kind " + std::to_string(d.kind) + " cost " + std::to_string(d.cost);
}

// Cost factors of the speed classes used below (137329.101562 / km/h,
// 85332.3475665 / mph, rounded to nearest).
constexpr std::uint32_t kMph5 = 17066;    // class '0': 17066.47
constexpr std::uint32_t kMph35 = 2438;    // class '3': 2438.07
constexpr std::uint32_t kMph65 = 1313;    // class '6': 1312.81
constexpr std::uint32_t kMph95 = 898;     // class '9': 898.24
constexpr std::uint32_t kKmh5 = 27466;    // class 'A': 27465.82
constexpr std::uint32_t kKmh45 = 3052;    // class 'E': 3051.76
constexpr std::uint32_t kKmh105 = 1308;   // class 'K': 1307.90
constexpr std::uint32_t kKmh255 = 539;    // class 'Z': 538.55

struct FeatureCase {
  const char* what;
  std::vector<Text> entries;
  RouteRequestOptions options;
  Dir lower;   // travel[0], toward lower vertex positions
  Dir higher;  // travel[1]
};

void Check(RmfProfileFeatureFn filter, const std::vector<FeatureCase>& cases) {
  for (const FeatureCase& c : cases) {
    RouteRequestOptions options = c.options;
    const auto [lower, higher] = Ask(filter, c.entries, &options);
    EXPECT_EQ(lower, c.lower) << c.what << ": toward lower positions " << Describe(lower) << ", expected "
                              << Describe(c.lower);
    EXPECT_EQ(higher, c.higher) << c.what << ": toward higher positions " << Describe(higher) << ", expected "
                                << Describe(c.higher);
  }
}

constexpr Dir Open(int level, std::uint32_t kind, std::uint32_t cost) { return Dir{level, kind, cost}; }

// ---- driving ---------------------------------------------------------------------------

constexpr std::int32_t kNormal = 0;
constexpr std::int32_t kNone = 1;
constexpr std::int32_t kPreferred = 2;
constexpr std::int32_t kAvoid = 3;
constexpr std::int32_t kShortest = CARTOVELRouteVehicleModeShortest;

TEST(DrivingFeatureFilter, RoadTypesAndSpeedClasses) {
  const RouteRequestOptions normal = Options();
  const Dir kmh45 = Open(1, 0, kKmh45);
  Check(DrivingFeatureFilter,
        {
            {"ordinary '2'", {{"171", "2 E"}}, normal, kmh45, kmh45},
            {"ordinary '3'", {{"171", "3 E"}}, normal, kmh45, kmh45},
            {"level from the code's first digit", {{"571", "3 E"}}, normal, Open(5, 0, kKmh45), Open(5, 0, kKmh45)},
            {"level 0 is open", {{"071", "3 E"}}, normal, Open(0, 0, kKmh45), Open(0, 0, kKmh45)},
            {"slow road, whatever its speed class", {{"171", "4 x"}}, normal, Open(1, 0, kRouteCostSlow),
             Open(1, 0, kRouteCostSlow)},
            {"roundabout", {{"171", "8 E"}}, normal, kmh45, kmh45},
            {"ramp of a freeway", {{"171", "91E"}}, normal, Open(1, 1, kKmh45), Open(1, 1, kKmh45)},
            {"other ramp", {{"171", "9 E"}}, normal, kmh45, kmh45},
            {"ramp kind other than '1'", {{"171", "92E"}}, normal, kmh45, kmh45},
            {"connection at no cost", {{"171", "V"}}, normal, Open(1, 3, 0), Open(1, 3, 0)},
            {"type '0'", {{"171", "0 E"}}, normal, kClosed, kClosed},
            {"type '5'", {{"171", "5 E"}}, normal, kClosed, kClosed},
            {"type '7'", {{"171", "7 E"}}, normal, kClosed, kClosed},
            {"type 'A'", {{"171", "A E"}}, normal, kClosed, kClosed},
            {"type blank", {{"171", " 3E"}}, normal, kClosed, kClosed},
            {"no value", {{"171", ""}}, normal, kClosed, kClosed},
            {"speed class '0'", {{"171", "3 0"}}, normal, Open(1, 0, kMph5), Open(1, 0, kMph5)},
            {"speed class '3'", {{"171", "3 3"}}, normal, Open(1, 0, kMph35), Open(1, 0, kMph35)},
            {"speed class '6'", {{"171", "3 6"}}, normal, Open(1, 0, kMph65), Open(1, 0, kMph65)},
            {"speed class '9'", {{"171", "3 9"}}, normal, Open(1, 0, kMph95), Open(1, 0, kMph95)},
            {"speed class 'A'", {{"171", "3 A"}}, normal, Open(1, 0, kKmh5), Open(1, 0, kKmh5)},
            {"speed class 'K'", {{"171", "3 K"}}, normal, Open(1, 0, kKmh105), Open(1, 0, kKmh105)},
            {"speed class 'Z'", {{"171", "3 Z"}}, normal, Open(1, 0, kKmh255), Open(1, 0, kKmh255)},
            {"speed class lower case", {{"171", "3 e"}}, normal, kClosed, kClosed},
            {"speed class other", {{"171", "3 ."}}, normal, kClosed, kClosed},
            {"speed class missing", {{"171", "3 "}}, normal, kClosed, kClosed},
            {"ramp without speed class", {{"171", "91"}}, normal, kClosed, kClosed},
        });
}

TEST(DrivingFeatureFilter, FreewaysFollowTheFreewayPreference) {
  Check(DrivingFeatureFilter,
        {
            {"Normal", {{"171", "11E"}}, Options(kNormal), Open(1, 2, kRouteCostFreewayNormal),
             Open(1, 2, kRouteCostFreewayNormal)},
            {"Preferred keeps the speed class", {{"171", "11E"}}, Options(kPreferred), Open(1, 2, kKmh45),
             Open(1, 2, kKmh45)},
            {"AvoidIfPossible", {{"171", "11E"}}, Options(kAvoid), Open(1, 2, kRouteCostFreewayAvoid),
             Open(1, 2, kRouteCostFreewayAvoid)},
            {"None closes it", {{"171", "11E"}}, Options(kNone), kClosed, kClosed},
            {"kind other than '1'", {{"171", "1 E"}}, Options(kNormal), Open(1, 0, kRouteCostFreewayNormal),
             Open(1, 0, kRouteCostFreewayNormal)},
            {"without a speed class", {{"171", "11x"}}, Options(kNormal), kClosed, kClosed},
            {"one-way", {{"171+", "11L"}}, Options(kAvoid), kClosed, Open(1, 2, kRouteCostFreewayAvoid)},
        });
}

TEST(DrivingFeatureFilter, RoundaboutsFollowTheRoundaboutPreference) {
  Check(DrivingFeatureFilter,
        {
            {"Normal", {{"171", "8 K"}}, Options(kNormal, kNormal), Open(1, 0, kKmh105), Open(1, 0, kKmh105)},
            {"None", {{"171", "8 K"}}, Options(kNormal, kNone), kClosed, kClosed},
            {"AvoidIfPossible", {{"171", "8 K"}}, Options(kNormal, kAvoid), Open(1, 0, kRouteCostSlow),
             Open(1, 0, kRouteCostSlow)},
            {"None, then a street", {{"171", "8 K"}, {"171", "3 E"}}, Options(kNormal, kNone), Open(1, 0, kKmh45),
             Open(1, 0, kKmh45)},
            {"a street is no roundabout", {{"171", "3 K"}}, Options(kNormal, kAvoid), Open(1, 0, kKmh105),
             Open(1, 0, kKmh105)},
        });
}

TEST(DrivingFeatureFilter, TollStreetsFollowTheTollPreference) {
  const Dir kmh45 = Open(1, 0, kKmh45);
  const Dir tollAvoided = Open(1, 0, kRouteCostTollAvoid);
  std::vector<FeatureCase> cases;
  // A toll mark is '1' or '0' at the fifth value character.
  for (const char* toll : {"3 E 1", "3 E 0"}) {
    cases.push_back({toll, {{"171", toll}}, Options(kNormal, kNormal, kNormal), kmh45, kmh45});
    cases.push_back({toll, {{"171", toll}}, Options(kNormal, kNormal, kNone), kClosed, kClosed});
    cases.push_back({toll, {{"171", toll}}, Options(kNormal, kNormal, kAvoid), tollAvoided, tollAvoided});
  }
  for (const char* free : {"3 E 2", "3 E1", "3 E", "3 E  "}) {
    cases.push_back({free, {{"171", free}}, Options(kNormal, kNormal, kNone), kmh45, kmh45});
    cases.push_back({free, {{"171", free}}, Options(kNormal, kNormal, kAvoid), kmh45, kmh45});
  }
  const std::vector<FeatureCase> more = {
      // A slow road and an avoided roundabout cost what they cost before the toll is looked at.
      {"slow toll road, toll None", {{"171", "4 E 1"}}, Options(kNormal, kNormal, kNone), Open(1, 0, kRouteCostSlow),
       Open(1, 0, kRouteCostSlow)},
      {"toll roundabout avoided, toll None", {{"171", "8 E 1"}}, Options(kNormal, kAvoid, kNone),
       Open(1, 0, kRouteCostSlow), Open(1, 0, kRouteCostSlow)},
      {"toll roundabout, toll None", {{"171", "8 E 1"}}, Options(kNormal, kNormal, kNone), kClosed, kClosed},
      {"toll connection, toll None", {{"171", "V E 1"}}, Options(kNormal, kNormal, kNone), Open(1, 3, 0),
       Open(1, 3, 0)},
      // A toll freeway: the toll rule prices it, the freeway rule only
      // prices freeways priced by their speed class; None closes it.
      {"toll freeway, toll avoided", {{"171", "11L 1"}}, Options(kNormal, kNormal, kAvoid),
       Open(1, 2, kRouteCostTollAvoid), Open(1, 2, kRouteCostTollAvoid)},
      {"toll freeway, toll avoided, freeway Preferred", {{"171", "11L 1"}}, Options(kPreferred, kNormal, kAvoid),
       Open(1, 2, kRouteCostTollAvoid), Open(1, 2, kRouteCostTollAvoid)},
      {"toll freeway, toll avoided, freeway None", {{"171", "11L 1"}}, Options(kNone, kNormal, kAvoid), kClosed,
       kClosed},
      {"toll freeway, toll None", {{"171", "11L 1"}}, Options(kPreferred, kNormal, kNone), kClosed, kClosed},
      {"toll freeway, toll Normal, freeway avoided", {{"171", "11L 1"}}, Options(kAvoid, kNormal, kNormal),
       Open(1, 2, kRouteCostFreewayAvoid), Open(1, 2, kRouteCostFreewayAvoid)},
  };
  cases.insert(cases.end(), more.begin(), more.end());
  Check(DrivingFeatureFilter, cases);
}

TEST(DrivingFeatureFilter, ShortestRoutesCostEveryOpenStreetTheSame) {
  const Dir shortest = Open(3, 0, kRouteCostWalking);
  Check(DrivingFeatureFilter,
        {
            {"street", {{"171", "3 E"}}, Options(kNormal, kNormal, kNormal, kShortest), shortest, shortest},
            {"fast street at level 1", {{"171", "3 Z"}}, Options(kNormal, kNormal, kNormal, kShortest), shortest,
             shortest},
            {"level 5", {{"571", "2 3"}}, Options(kNormal, kNormal, kNormal, kShortest), shortest, shortest},
            {"slow road", {{"171", "4 E"}}, Options(kNormal, kNormal, kNormal, kShortest), shortest, shortest},
            {"freeway keeps its kind", {{"171", "11L"}}, Options(kAvoid, kNormal, kNormal, kShortest),
             Open(3, 2, kRouteCostWalking), Open(3, 2, kRouteCostWalking)},
            {"connection", {{"171", "V"}}, Options(kNormal, kNormal, kNormal, kShortest),
             Open(3, 3, kRouteCostWalking), Open(3, 3, kRouteCostWalking)},
            {"avoided toll street", {{"171", "3 E 1"}}, Options(kNormal, kNormal, kAvoid, kShortest), shortest,
             shortest},
            {"one-way", {{"171-", "3 E"}}, Options(kNormal, kNormal, kNormal, kShortest), shortest, kClosed},
            {"freeway None still closed", {{"171", "11L"}}, Options(kNone, kNormal, kNormal, kShortest), kClosed,
             kClosed},
            {"toll None still closed", {{"171", "3 E 1"}}, Options(kNormal, kNormal, kNone, kShortest), kClosed,
             kClosed},
            {"no speed class still closed", {{"171", "3 x"}}, Options(kNormal, kNormal, kNormal, kShortest), kClosed,
             kClosed},
            {"walking mode is not shortest", {{"171", "3 E"}},
             Options(kNormal, kNormal, kNormal, CARTOVELRouteVehicleModeMixedPedestrian), Open(1, 0, kKmh45),
             Open(1, 0, kKmh45)},
        });
}

TEST(DrivingFeatureFilter, OneWayMarksAndTheEntriesThatDecide) {
  const RouteRequestOptions normal = Options();
  const Dir e = Open(1, 0, kKmh45);
  const Dir k = Open(1, 0, kKmh105);
  Check(DrivingFeatureFilter,
        {
            {"along the vertices only", {{"171+", "3 E"}}, normal, kClosed, e},
            {"against them only", {{"171-", "3 E"}}, normal, e, kClosed},
            {"other fourth character", {{"171x", "3 E"}}, normal, e, e},
            {"mark at the fifth character of a long code", {{"171x+", "3 E"}}, normal, kClosed, e},
            {"mark at the fifth character, against", {{"171x-", "3 E"}}, normal, e, kClosed},
            {"fourth character of a long code is no mark", {{"171+x", "3 E"}}, normal, e, e},
            // The first entry that leaves both directions set decides.
            {"two entries", {{"171", "3 E"}, {"171", "3 K"}}, normal, e, e},
            {"one per direction", {{"171+", "3 E"}, {"171-", "3 K"}}, normal, k, e},
            {"second sets both", {{"171+", "3 E"}, {"171", "3 K"}, {"171", "3 A"}}, normal, k, k},
            {"same direction twice", {{"171+", "3 E"}, {"171+", "3 K"}}, normal, kClosed, k},
            {"skipped entries do not count", {{"171", "5 E"}, {"171", "3 K"}}, normal, k, k},
            {"other codes are not read", {{"121", "3 E"}, {"141", "R"}, {"17B", "3 E"}, {"271", "3 K"}}, normal,
             Open(2, 0, kKmh105), Open(2, 0, kKmh105)},
            {"codes are matched at the second and third character", {{"71", "3 E"}, {"7", "3 E"}, {"", "3 E"}},
             normal, kClosed, kClosed},
            {"no entries", {}, normal, kClosed, kClosed},
        });
}

// ---- walking and exploration ---------------------------------------------------------

TEST(WalkingFeatureFilter, StreetsAtWalkingPaceBothWays) {
  const Dir walk = Open(3, 0, kRouteCostWalking);
  const RouteRequestOptions normal = Options();
  Check(WalkingFeatureFilter,
        {
            {"ordinary '2'", {{"171", "2 E"}}, normal, walk, walk},
            {"ordinary '3', level 5", {{"571", "3 Z"}}, normal, walk, walk},
            {"freeway", {{"171", "11E"}}, Options(kPreferred), kClosed, kClosed},
            {"ramp", {{"171", "91E"}}, normal, kClosed, kClosed},
            {"type '0'", {{"171", "0 E"}}, normal, kClosed, kClosed},
            {"type '5'", {{"171", "5 E"}}, normal, kClosed, kClosed},
            {"no value", {{"171", ""}}, normal, kClosed, kClosed},
            {"without speed class", {{"171", "3"}}, normal, walk, walk},
            {"connection", {{"171", "V"}}, normal, Open(3, 3, 0), Open(3, 3, 0)},
            {"roundabout", {{"171", "8 E"}}, normal, walk, walk},
            {"roundabout, None", {{"171", "8 E"}}, Options(kNormal, kNone), kClosed, kClosed},
            {"roundabout, AvoidIfPossible", {{"171", "8 E"}}, Options(kNormal, kAvoid), Open(3, 0, kRouteCostSlow),
             Open(3, 0, kRouteCostSlow)},
            {"one-way marks are ignored", {{"171+", "3 E"}}, normal, walk, walk},
            {"against", {{"171x-", "3 E"}}, normal, walk, walk},
            {"toll and vehicle mode are not read", {{"171", "3 E 1"}}, Options(kNone, kNormal, kNone, kShortest), walk,
             walk},
            {"first entry decides", {{"171", "V"}, {"171", "3 E"}}, normal, Open(3, 3, 0), Open(3, 3, 0)},
            {"skipped entries do not count", {{"171", "1 E"}, {"141", "R"}, {"171", "2 E"}}, normal, walk, walk},
        });
}

TEST(ExploreFeatureFilter, EveryTravelledStreetAndTrails) {
  const Dir walk = Open(3, 0, kRouteCostWalking);
  // The filter takes no options; a block that would close things if read changes nothing.
  const RouteRequestOptions strict = Options(kNone, kNone, kNone, kShortest);
  Check(ExploreFeatureFilter,
        {
            {"trail", {{"141", "R"}}, strict, walk, walk},
            {"access value not a trail", {{"141", "W"}}, strict, kClosed, kClosed},
            {"trail mark at another position", {{"141", " R"}}, strict, kClosed, kClosed},
            {"route class 'R' is no trail", {{"171", "R"}}, strict, kClosed, kClosed},
            {"freeway", {{"171", "11E"}}, strict, walk, walk},
            {"ordinary '2'", {{"171", "2"}}, strict, walk, walk},
            {"ordinary '3'", {{"571+", "3 E"}}, strict, walk, walk},
            {"roundabout", {{"171", "8 E"}}, strict, walk, walk},
            {"ramp", {{"171", "9 E"}}, strict, walk, walk},
            {"connection", {{"171", "V"}}, strict, Open(3, 3, 0), Open(3, 3, 0)},
            {"type '5'", {{"171", "5 E"}}, strict, kClosed, kClosed},
            {"type '0'", {{"171", "0 E"}}, strict, kClosed, kClosed},
            {"first entry decides", {{"171", "6"}, {"141", "R"}, {"171", "V"}}, strict, walk, walk},
        });
  // No context at all.
  Set s(std::vector<Text>{{"171", "3 E"}});
  RmfFeatureAnswer answer{};
  EXPECT_EQ(ExploreFeatureFilter(&s.set, nullptr, &answer, nullptr), 0);
  EXPECT_EQ(answer.travel[0].roadClass, 3);
  EXPECT_EQ(answer.travel[1].costFactor, kRouteCostWalking);
}

// The road kinds of slow roads ('4'): which filter takes which.
TEST(FeatureFilters, SlowRoadKinds) {
  struct Case {
    char kind;
    bool driving, walking, explore;
  };
  const Case cases[] = {
      {' ', true, true, true},   {'A', true, true, true},    {'E', true, true, true},    {'F', true, true, true},
      {'K', true, true, true},   {'N', true, true, true},    {'S', true, true, true},    {'P', false, true, true},
      {'W', false, true, true},  {'B', false, false, false}, {'R', false, false, false}, {'a', false, false, false},
      {'1', false, false, false}, {'\0', false, false, false},
  };
  for (const Case& c : cases) {
    // '\0' stands for a value that ends after the road type.
    const std::string value = c.kind == '\0' ? std::string("4") : std::string{'4', c.kind, 'E'};
    RouteRequestOptions options = Options();
    const auto [drivingLower, drivingHigher] = Ask(DrivingFeatureFilter, {{"171", value}}, &options);
    const auto [walkingLower, walkingHigher] = Ask(WalkingFeatureFilter, {{"171", value}}, &options);
    const auto [exploreLower, exploreHigher] = Ask(ExploreFeatureFilter, {{"171", value}}, nullptr);
    const std::string what = "kind '" + std::string(1, c.kind) + "'";
    EXPECT_EQ(drivingLower, c.driving ? Open(1, 0, kRouteCostSlow) : kClosed) << what;
    EXPECT_EQ(drivingHigher, drivingLower) << what;
    EXPECT_EQ(walkingLower, c.walking ? Open(3, 0, kRouteCostWalking) : kClosed) << what;
    EXPECT_EQ(walkingHigher, walkingLower) << what;
    EXPECT_EQ(exploreLower, c.explore ? Open(3, 0, kRouteCostWalking) : kClosed) << what;
    EXPECT_EQ(exploreHigher, exploreLower) << what;
  }
}

// Texts that end early read '\0' behind their end: the bytes there (a '+'
// in the code, 'A' in the value) change nothing.
TEST(FeatureFilters, TextsThatEndEarly) {
  RouteRequestOptions options = Options();
  struct Case {
    const char* what;
    RmfProfileFeatureFn filter;
    Text entry;
    Dir both;  // the answer for each direction
  };
  const Case cases[] = {
      {"driving: no fourth code character, no mark", DrivingFeatureFilter, {"171", "3 E"}, Open(1, 0, kKmh45)},
      {"driving: value ends before the speed class", DrivingFeatureFilter, {"171", "3 "}, kClosed},
      {"driving: value ends before the road kind", DrivingFeatureFilter, {"171", "4"}, kClosed},
      {"driving: empty value", DrivingFeatureFilter, {"171", ""}, kClosed},
      {"driving: code ends before its pair", DrivingFeatureFilter, {"1", "3 E"}, kClosed},
      {"walking: value ends before the road kind", WalkingFeatureFilter, {"171", "4"}, kClosed},
      {"explore: value ends before the road kind", ExploreFeatureFilter, {"171", "4"}, kClosed},
      {"explore: empty access value", ExploreFeatureFilter, {"141", ""}, kClosed},
  };
  for (const Case& c : cases) {
    const auto [lower, higher] = Ask(c.filter, {c.entry}, &options);
    EXPECT_EQ(lower, c.both) << c.what << ": " << Describe(lower);
    EXPECT_EQ(higher, c.both) << c.what << ": " << Describe(higher);
  }

  // Stored lengths beyond the arrays are read as far as the arrays go.
  Set s(std::vector<Text>{{"171", "3 E"}});
  s.set.entries[0].codeLength = 0xFFFFFFFFu;
  s.set.entries[0].valueLength = 1000;
  s.set.entries[0].nameLength = 0x80000000u;
  RmfFeatureAnswer answer{};
  EXPECT_EQ(DrivingFeatureFilter(&s.set, nullptr, &answer, &options), 0);
  // The code reads "171++": its mark (the fifth character) is '+'.
  EXPECT_LT(answer.travel[0].roadClass, 0);
  EXPECT_EQ(answer.travel[1].roadClass, 1);
  EXPECT_EQ(answer.travel[1].costFactor, kKmh45);
}

// Sets the library would never hand over: the filters read no entry beyond
// the 80 a set holds, and a missing set is an empty one.
TEST(FeatureFilters, CountsOutsideTheSetAndNullArguments) {
  RouteRequestOptions options = Options();
  for (RmfProfileFeatureFn filter : {DrivingFeatureFilter, WalkingFeatureFilter, ExploreFeatureFilter}) {
    Set s(std::vector<Text>{});
    for (std::int32_t count : {-1, 81, 0x7fffffff}) {
      s.set.count = count;
      RmfFeatureAnswer answer{};
      answer.travel[0].roadClass = answer.travel[1].roadClass = 4;
      EXPECT_EQ(filter(&s.set, nullptr, &answer, &options), 0);
      EXPECT_EQ(answer.travel[0].roadClass, -1) << count;
      EXPECT_EQ(answer.travel[1].roadClass, -1) << count;
    }
    RmfFeatureAnswer answer{};
    answer.travel[0].roadClass = 4;
    EXPECT_EQ(filter(nullptr, nullptr, &answer, &options), 0);
    EXPECT_EQ(answer.travel[0].roadClass, -1);
    EXPECT_EQ(filter(&s.set, nullptr, nullptr, &options), 0);
  }
  // Driving and walking without options take the Normal ones.
  Set s(std::vector<Text>{{"171", "11E"}});
  RmfFeatureAnswer answer{};
  EXPECT_EQ(DrivingFeatureFilter(&s.set, nullptr, &answer, nullptr), 0);
  EXPECT_EQ(answer.travel[0].costFactor, kRouteCostFreewayNormal);
  EXPECT_EQ(WalkingFeatureFilter(&s.set, nullptr, &answer, nullptr), 0);
  EXPECT_EQ(answer.travel[0].roadClass, -1);
}

// ---- connection filters ----------------------------------------------------------------

using Items = std::vector<std::pair<int, std::uint32_t>>;  // kind, key

std::pair<Items, Items> AskConnection(RmfProfileConnectionFn filter, const std::vector<Text>& texts) {
  Set s(texts);
  RmfConnectionAnswer answer{};
  answer.request = 0x30;
  answer.itemCounts[0] = answer.itemCounts[1] = 5;  // to be reset
  filter(&s.set, nullptr, &answer, nullptr);
  EXPECT_EQ(answer.request, 0x30u) << "the request word is the caller's";
  std::pair<Items, Items> lists;
  for (int list = 0; list < 2; ++list) {
    EXPECT_GE(answer.itemCounts[list], 0);
    EXPECT_LE(answer.itemCounts[list], kRmfConnectionItems);
    for (std::int32_t i = 0; i < answer.itemCounts[list] && i < kRmfConnectionItems; ++i) {
      const RmfRestriction& r = answer.items[list][i];
      EXPECT_EQ(r.conditionFlags, 0u);
      (list == 0 ? lists.first : lists.second).emplace_back(r.kind, r.key);
    }
  }
  return lists;
}

struct ConnectionCase {
  const char* what;
  std::vector<Text> entries;
  Items first;   // items[0]: no mark or '-'
  Items second;  // items[1]: no mark or '+'
};

void CheckConnections(RmfProfileConnectionFn filter, const std::vector<ConnectionCase>& cases) {
  for (const ConnectionCase& c : cases) {
    const auto [first, second] = AskConnection(filter, c.entries);
    EXPECT_EQ(first, c.first) << c.what << " (first list)";
    EXPECT_EQ(second, c.second) << c.what << " (second list)";
  }
}

TEST(DrivingConnectionFilter, RestrictionKinds) {
  CheckConnections(
      DrivingConnectionFilter,
      {
          {"access restriction", {{"14B", "0", "123"}}, {{1, 123}}, {{1, 123}}},
          {"access restriction with a longer value", {{"54B", "0PB", "9"}}, {{1, 9}}, {{1, 9}}},
          {"access value not '0'", {{"14B", "1", "123"}}, {}, {}},
          {"empty access value", {{"14B", "", "123"}}, {}, {}},
          {"no entry, begin", {{"17B", "0PB", "11"}}, {{2, 11}}, {{2, 11}}},
          {"no entry, continued", {{"17B", "0PC", "12"}}, {{3, 12}}, {{3, 12}}},
          {"no entry, end", {{"17B", "0PE", "13"}}, {{4, 13}}, {{4, 13}}},
          {"only, begin", {{"17B", "0RB", "14"}}, {{5, 14}}, {{5, 14}}},
          {"only, continued", {{"17B", "0RC", "15"}}, {{6, 15}}, {{6, 15}}},
          {"only, end", {{"17B", "0RE", "16"}}, {{7, 16}}, {{7, 16}}},
          {"other second letter", {{"17B", "0PA", "1"}, {"17B", "0PD", "1"}, {"17B", "0Pb", "1"}}, {}, {}},
          {"other first letter", {{"17B", "0XB", "1"}, {"17B", "0pB", "1"}, {"17B", "0 B", "1"}}, {}, {}},
          {"value not starting with '0'", {{"17B", "1PB", "1"}, {"17B", " PB", "1"}}, {}, {}},
          {"value of two characters", {{"17B", "0P", "1"}}, {}, {}},
          {"fifth value character 'E'", {{"17B", "0PB E", "1"}, {"17B", "0RE E", "1"}}, {}, {}},
          {"fifth value character other", {{"17B", "0PB X", "8"}}, {{2, 8}}, {{2, 8}}},
          {"fourth value character 'E'", {{"17B", "0PBE", "8"}}, {{2, 8}}, {{2, 8}}},
          {"other codes add nothing", {{"171", "0PB", "1"}, {"141", "0", "1"}, {"4B", "0", "1"}, {"", "0", "1"}},
           {},
           {}},
          {"against the vertices only", {{"17B-", "0PB", "3"}}, {{2, 3}}, {}},
          {"along the vertices only", {{"14B+", "0", "3"}}, {}, {{1, 3}}},
          {"mark at the fifth character", {{"17Bx+", "0RE", "4"}, {"14Bx-", "0", "5"}}, {{1, 5}}, {{7, 4}}},
          {"fourth character of a long code is no mark", {{"17B+x", "0RE", "4"}}, {{7, 4}}, {{7, 4}}},
          {"every entry counts, in order",
           {{"17B", "0PB", "1"}, {"171", "3 E", ""}, {"17B+", "0PE", "2"}, {"14B", "0", "3"}},
           {{2, 1}, {1, 3}},
           {{2, 1}, {4, 2}, {1, 3}}},
      });
}

TEST(WalkingConnectionFilter, OnlyAccessRestrictions) {
  CheckConnections(WalkingConnectionFilter,
                   {
                       {"access restriction", {{"14B", "0", "123"}}, {{1, 123}}, {{1, 123}}},
                       {"any first value character", {{"14B", "1", "7"}}, {{1, 7}}, {{1, 7}}},
                       {"empty value", {{"14B", "", "7"}}, {{1, 7}}, {{1, 7}}},
                       {"'B' at the second value character", {{"14B", "0B", "7"}, {"14B", "1B5", "7"}}, {}, {}},
                       {"other second value character", {{"14B", "0C", "7"}}, {{1, 7}}, {{1, 7}}},
                       {"turn restrictions are not walked", {{"17B", "0PB", "7"}, {"17B", "0RE", "7"}}, {}, {}},
                       {"marks", {{"14B-", "0", "1"}, {"14B+", "0", "2"}}, {{1, 1}}, {{1, 2}}},
                   });
}

TEST(ConnectionFilters, KeysReadAsAtolReadsThem) {
  struct Case {
    std::string_view name;
    std::uint32_t key;
  };
  const Case cases[] = {
      {"60863", 60863},
      {"  42 and more", 42},
      {"+17", 17},
      {"-5", static_cast<std::uint32_t>(-5)},
      {"0012", 12},
      {"12abc", 12},
      {"abc", 0},
      {"", 0},  // the bytes behind the empty name are digits
      {"2147483647", 2147483647u},
      {"2147483648", 2147483647u},        // held to the 32-bit range
      {"99999999999999999999", 2147483647u},
      {"-2147483648", 0x80000000u},
      {"-2147483649", 0x80000000u},
  };
  for (const Case& c : cases) {
    const auto [first, second] = AskConnection(DrivingConnectionFilter, {{"17B", "0RB", c.name}});
    EXPECT_EQ(first, (Items{{5, c.key}})) << c.name;
    const auto [walkFirst, walkSecond] = AskConnection(WalkingConnectionFilter, {{"14B", "0", c.name}});
    EXPECT_EQ(walkSecond, (Items{{1, c.key}})) << c.name;
  }
  // A name that fills its array to the last byte.
  const std::string longName(kRmfAttrNameChars, '9');
  const auto [first, second] = AskConnection(DrivingConnectionFilter, {{"17B", "0RB", longName}});
  EXPECT_EQ(first, (Items{{5, 2147483647u}}));
}

// Every list holds up to 80 items; a set holds up to 80 entries, so a full
// set fills both lists, and a count beyond the set reads no further.
TEST(ConnectionFilters, FullListsAndCountsOutsideTheSet) {
  std::vector<Text> texts;
  std::vector<std::string> names;
  names.reserve(kRmfAttrSetEntries);
  for (int i = 0; i < kRmfAttrSetEntries; ++i) names.push_back(std::to_string(1000 + i));
  for (const std::string& name : names) texts.push_back({"17B", "0PE", name});
  Set s(texts);
  for (std::int32_t count : {80, 81, 5000}) {
    s.set.count = count;
    RmfConnectionAnswer answer{};
    EXPECT_EQ(DrivingConnectionFilter(&s.set, nullptr, &answer, nullptr), 0);
    EXPECT_EQ(answer.itemCounts[0], kRmfConnectionItems) << count;
    EXPECT_EQ(answer.itemCounts[1], kRmfConnectionItems) << count;
    EXPECT_EQ(answer.items[1][79].key, 1079u);
    EXPECT_EQ(answer.items[1][79].kind, 4);
  }
  for (RmfProfileConnectionFn filter : {DrivingConnectionFilter, WalkingConnectionFilter}) {
    s.set.count = -3;
    RmfConnectionAnswer answer{};
    answer.itemCounts[0] = answer.itemCounts[1] = 9;
    EXPECT_EQ(filter(&s.set, nullptr, &answer, nullptr), 0);
    EXPECT_EQ(answer.itemCounts[0], 0);
    EXPECT_EQ(answer.itemCounts[1], 0);
    answer.itemCounts[0] = 9;
    EXPECT_EQ(filter(nullptr, nullptr, &answer, nullptr), 0);
    EXPECT_EQ(answer.itemCounts[0], 0);
    EXPECT_EQ(filter(&s.set, nullptr, nullptr, nullptr), 0);
  }
}

// ---- installed in a reader ---------------------------------------------------------------
//
// Streets of three vertices, each alone in its tile, with route-class
// attributes as the map builder writes them; one carries turn restrictions
// on its second segment.
class InstalledFilters : public ::testing::Test {
 protected:
  enum Street { kFreeway, kTwoWay, kAgainst, kWalkway, kToll, kStreets };

  void SetUp() override {
    ASSERT_NE(reader_, nullptr);
    rmfbuild::FeatureMap map;
    const struct {
      char roadType, kind, speed;
      bool toll;
      rmfbuild::OneWay way;
    } streets[kStreets] = {{'1', '1', 'L', false, rmfbuild::OneWay::kAlong},
                           {'3', ' ', 'E', false, rmfbuild::OneWay::kBoth},
                           {'2', ' ', 'E', false, rmfbuild::OneWay::kAgainst},
                           {'4', 'W', 'A', false, rmfbuild::OneWay::kBoth},
                           {'2', ' ', 'G', true, rmfbuild::OneWay::kBoth}};
    for (int s = 0; s < kStreets; ++s) {
      rmfbuild::Feature f = rmfbuild::Feature::Line(
          rmfbuild::FeatureClass{1, 5, rmfbuild::FeatureCategory::kLine}, "Street " + std::to_string(s),
          {Point(s, 0), Point(s, 1), Point(s, 2)});
      f.Attribute(rmfbuild::RouteClassAttribute(1, rmfbuild::RoadValue(streets[s].roadType, streets[s].kind,
                                                                        streets[s].speed, streets[s].toll),
                                                f.name, streets[s].way));
      if (s == kTwoWay) {
        f.VertexAttr(1, rmfbuild::TextTriple{"17B", "0PB", "60863"});
        f.VertexAttr(1, rmfbuild::TextTriple{"14B", "0", "77"});
      }
      map.Add(f);
    }
    rmfbuild::FeatureBuild built;
    ASSERT_GE(maps_.AddFeatures(map, &built), 1) << maps_.error();
    for (int s = 0; s < kStreets; ++s) {
      const auto pieces = built.PiecesOf(static_cast<std::size_t>(s));
      ASSERT_EQ(pieces.size(), 1u);
      whole_[s] = RmfFeatureRef{pieces[0]->tileId, 0, pieces[0]->sequence, pieces[0]->entry, 0, 0, kRmfPositionWhole};
    }
  }

  static TiPoint Point(int street, int vertex) { return TiPoint{300000 + 1024 * vertex, 100000 + 8192 * street}; }

  std::int32_t OneWay(int street) {
    RmfFeature* slot = nullptr;
    EXPECT_EQ(RmfFeatureFetch(reader_, whole_[street], &slot, nullptr), 1);
    if (slot == nullptr) return 99;
    const std::int32_t d = RmfProfileOneWay(slot, whole_[street].part);
    (void)RmfFeatureRelease(slot);
    return d;
  }

  // The directed references of a point in the middle of the street's first
  // segment: their count (or the negative code) and the from vertex of each.
  std::vector<std::int32_t> TravelRefs(int street) {
    RmfFeature* slot = nullptr;
    EXPECT_EQ(RmfFeatureFetch(reader_, whole_[street], &slot, nullptr), 1);
    if (slot == nullptr) return {99};
    EXPECT_EQ(RmfFeatureSelectPart(slot, whole_[street].part, 0, nullptr), 0);
    RmfFeatureRef point = whole_[street];
    point.fromVertex = static_cast<std::uint16_t>(slot->firstVertex);
    point.toVertex = static_cast<std::uint16_t>(slot->firstVertex + 1);
    point.position = kRmfPositionPoint | 512;
    (void)RmfFeatureRelease(slot);
    RmfFeatureRef out[2];
    const std::int32_t n = RmfFeatureTravelRefs(reader_, 0, 0, point, out);
    std::vector<std::int32_t> result{n};
    for (std::int32_t i = 0; i < n; ++i) result.push_back(out[i].fromVertex - point.fromVertex);
    return result;
  }

  // The connection answer for the stretch from the street's vertex `vertex`
  // to the next, with the stretch's attributes as the library gathers them.
  std::pair<Items, Items> Restrictions(int street, int vertex) {
    RmfFeature* slot = nullptr;
    EXPECT_EQ(RmfFeatureFetch(reader_, whole_[street], &slot, nullptr), 1);
    if (slot == nullptr) return {};
    EXPECT_EQ(RmfFeatureSelectPart(slot, whole_[street].part, 0, nullptr), 0);
    RmfAttrSet set;
    std::int32_t found = -1;
    EXPECT_GE(RmfFeatureNextNode(slot, whole_[street].part, slot->firstVertex + vertex, 1, &found, &set), 0);
    (void)RmfFeatureRelease(slot);
    RmfConnectionAnswer answer{};
    answer.request = kRmfConnectionFirstItems | kRmfConnectionSecondItems;
    EXPECT_EQ(RmfProfileTurnCost(reader_, &set, nullptr, &answer), 0);
    std::pair<Items, Items> lists;
    for (int list = 0; list < 2; ++list) {
      for (std::int32_t i = 0; i < answer.itemCounts[list]; ++i) {
        (list == 0 ? lists.first : lists.second).emplace_back(answer.items[list][i].kind, answer.items[list][i].key);
      }
    }
    return lists;
  }

  rmfbuild::MemoryReader maps_;
  RmfReader* const reader_ = maps_.reader();
  RmfFeatureRef whole_[kStreets]{};
};

TEST_F(InstalledFilters, DrivingWalkingAndExplorationThroughTheLibrary) {
  RouteRequestOptions options = Options(kNormal, kNormal, kNone);
  const std::uint32_t counter = RmfProfileGetCounter(reader_);
  ASSERT_EQ(RmfProfileSetCallbacks(reader_, DrivingFeatureFilter, DrivingConnectionFilter, &options,
                                   kRmfProfileEngineLimit),
            1);
  EXPECT_EQ(RmfProfileGetCounter(reader_), counter + 1);
  EXPECT_EQ(RmfProfileGetLimit(reader_), kRmfProfileEngineLimit);

  // One-way: 1 only toward higher vertex positions, -1 only toward lower.
  EXPECT_EQ(OneWay(kFreeway), 1);
  EXPECT_EQ(OneWay(kTwoWay), 0);
  EXPECT_EQ(OneWay(kAgainst), -1);
  EXPECT_EQ(OneWay(kWalkway), 0);  // closed both ways
  EXPECT_EQ(TravelRefs(kFreeway), (std::vector<std::int32_t>{1, 0}));
  EXPECT_EQ(TravelRefs(kTwoWay), (std::vector<std::int32_t>{2, 0, 1}));
  EXPECT_EQ(TravelRefs(kAgainst), (std::vector<std::int32_t>{1, 1}));
  EXPECT_EQ(TravelRefs(kWalkway), (std::vector<std::int32_t>{kRmfBadReference}));
  EXPECT_EQ(TravelRefs(kToll), (std::vector<std::int32_t>{kRmfBadReference}));  // toll None

  // The filters read the options block at every call: a changed preference
  // holds without a new installation.
  options.tollRoadPreference = kAvoid;
  EXPECT_EQ(TravelRefs(kToll), (std::vector<std::int32_t>{2, 0, 1}));
  options.freewayPreference = kNone;
  EXPECT_EQ(TravelRefs(kFreeway), (std::vector<std::int32_t>{kRmfBadReference}));

  // The restrictions stored after vertex 1 belong to the second segment only.
  EXPECT_EQ(Restrictions(kTwoWay, 1), (std::pair<Items, Items>{{{2, 60863}, {1, 77}}, {{2, 60863}, {1, 77}}}));
  EXPECT_EQ(Restrictions(kTwoWay, 0), (std::pair<Items, Items>{}));

  ASSERT_EQ(RmfProfileSetCallbacks(reader_, WalkingFeatureFilter, WalkingConnectionFilter, &options,
                                   kRmfProfileEngineLimit),
            1);
  options = Options(kNone, kNormal, kNone);  // as a walking request passes them
  EXPECT_EQ(OneWay(kAgainst), 0);
  EXPECT_EQ(TravelRefs(kWalkway), (std::vector<std::int32_t>{2, 0, 1}));
  EXPECT_EQ(TravelRefs(kFreeway), (std::vector<std::int32_t>{kRmfBadReference}));
  EXPECT_EQ(TravelRefs(kToll), (std::vector<std::int32_t>{2, 0, 1}));
  EXPECT_EQ(Restrictions(kTwoWay, 1), (std::pair<Items, Items>{{{1, 77}}, {{1, 77}}}));

  ASSERT_EQ(RmfProfileSetCallbacks(reader_, ExploreFeatureFilter, WalkingConnectionFilter, nullptr,
                                   kRmfProfileEngineLimit),
            1);
  EXPECT_EQ(OneWay(kFreeway), 0);
  EXPECT_EQ(TravelRefs(kFreeway), (std::vector<std::int32_t>{2, 0, 1}));
  EXPECT_EQ(TravelRefs(kWalkway), (std::vector<std::int32_t>{2, 0, 1}));
  std::int32_t uses = -1;
  (void)RmfFeatureSlotUsage(reader_, nullptr, &uses);
  EXPECT_EQ(uses, 0);
}

}  // namespace
