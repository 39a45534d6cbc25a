// The cross streets of the next intersection through IMap::FindNextCrossStreets,
// on the small town: from a position in the middle of each block, walking
// along its street, the streets that meet at the intersection ahead, in order
// round it from the street ahead, with their names (an unnamed roundabout by
// its word, the exit ramp by where it leads) and where they leave; standing
// on an intersection; a dead end; what the call hands back and releases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "mapengine/object/CMap.h"
#include "mapengine/object/Geometry.h"
#include "mapengine/object/Utilities.h"
#include "platform/os/text.h"
#include "tests/mapengine/object/cross_street_list.h"
#include "tests/mapengine/object/map_engine_fixture.h"
#include "tests/mapengine/object/street_fixtures.h"
#include "tests/mapengine/object/town_fixture.h"
#include "tools/rmfbuild/RmfBuilder.h"

namespace {

class NextCrossStreetsTest : public MapEngineTest {
 protected:
  void SetUp() override {
    MapEngineTest::SetUp();
    LoadEnglish();
    ASSERT_NO_FATAL_FAILURE(OpenBuiltMap(town::TownMap(), "town.rmf"));
  }

  HeardCrossStreets Ask(TiPoint at, const std::string& street, int heading) {
    HeardCrossStreets heard = AskNextCrossStreets(*map_, at, street, heading);
    EXPECT_TRUE(heard.wellFormed);
    return heard;
  }
};

// Names as the engine says them: the unnamed roundabout by its word.
std::string Spoken(const town::CrossStreetAt& s) { return s.roadType == '8' && s.name.empty() ? "Roundabout" : s.name; }

// What the fixture says meets at an intersection, in the order a walker
// reaching it with `heading` hears it: the street ahead first (within 10
// degrees of the heading, else the next one clockwise), then clockwise.
std::vector<std::pair<std::string, int>> ExpectedRound(const town::Intersection& x, int heading) {
  std::vector<town::CrossStreetAt> streets = x.streets;  // ascending bearing
  std::size_t start = streets.size();
  int best = 11;
  for (std::size_t i = 0; i < streets.size(); ++i) {
    int d = std::abs(streets[i].bearing - heading) % 360;
    d = std::min(d, 360 - d);
    if (d < best) {
      best = d;
      start = i;
    }
  }
  if (start == streets.size()) {
    start = 0;
    for (std::size_t i = 0; i < streets.size(); ++i) {
      if (streets[i].bearing > heading) {
        start = i;
        break;
      }
    }
  }
  std::rotate(streets.begin(), streets.begin() + static_cast<std::ptrdiff_t>(start), streets.end());
  std::vector<std::pair<std::string, int>> out;
  for (const auto& s : streets) out.emplace_back(Spoken(s), s.bearing);
  return out;
}

bool Near(TiPoint a, TiPoint b) { return std::abs(a.x - b.x) <= 2 && std::abs(a.y - b.y) <= 2; }

TEST_F(NextCrossStreetsTest, FromEveryBlockTheStreetsOfTheIntersectionAheadInOrderFromTheStreetAhead) {
  for (const town::BlockPosition& b : town::BlockPositions()) {
    if (b.ahead < 0 || std::string(b.street).empty()) continue;
    const town::Intersection& x = town::Intersections()[static_cast<std::size_t>(b.ahead)];
    SCOPED_TRACE(std::string(b.street) + " heading " + std::to_string(b.heading) + " towards " + x.what);
    const HeardCrossStreets a = Ask(b.at, b.street, b.heading);
    EXPECT_EQ(a.hr, S_OK);
    std::vector<std::pair<std::string, int>> got;
    for (const HeardCrossStreet& c : a.streets) {
      EXPECT_TRUE(Near(c.at, x.at)) << c.name << " at " << c.at.x << "," << c.at.y;
      EXPECT_EQ(c.side, CARTOVELSideUnknown) << c.name;
      // The ramp is named by where it leads; its label is checked below.
      got.emplace_back(c.name.rfind("Ramp", 0) == 0 ? std::string() : c.name, c.orientation);
    }
    const std::vector<std::pair<std::string, int>> expected = ExpectedRound(x, b.heading);
    // Orientations may differ by a degree of rounding from the fixture's.
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].first, expected[i].first) << "entry " << i;
      EXPECT_LE(std::abs(got[i].second - expected[i].second), 1) << "entry " << i;
    }
    // The heading comes back as the one along the street where it reaches
    // the intersection: the street runs straight, so it is the walker's.
    EXPECT_TRUE(AreHeadingAndOrientationSimilar(a.heading, b.heading, 2)) << a.heading;
  }
}

TEST_F(NextCrossStreetsTest, RampsAreNamedByWhereTheyLead) {
  // On the freeway towards the exit: the ramp is named from the exit sign
  // (the road it leads to, the exit number and the destinations).
  const HeardCrossStreets exit = Ask(town::Pt(1000, town::kFreewayY), town::kFreewayName, town::kEast);
  std::vector<std::string> names;
  for (const HeardCrossStreet& c : exit.streets) names.push_back(c.name);
  EXPECT_EQ(names, (std::vector<std::string>{"A 20", "Ramp to B 104. Exit 12, toward Berlin, Prenzlau", "A 20"}));

  // On Bahnhofstraße towards its corner with Lindenstraße, where the ramp
  // comes down: no sign there, so the ramp is named by the road it comes from.
  const HeardCrossStreets foot = Ask(town::Pt(2400, town::kBahnhofY), "Bahnhofstraße", town::kEast);
  names.clear();
  for (const HeardCrossStreet& c : foot.streets) names.push_back(c.name);
  EXPECT_EQ(names, (std::vector<std::string>{"Lindenstraße", "Bahnhofstraße", "Ramp from A 20"}));
}

TEST_F(NextCrossStreetsTest, AWalkerOnAnIntersectionGoesOnToTheNextOneOrHearsNothing) {
  const auto& all = town::Intersections();
  // On the plain crossing of Schulstraße and Eichenstraße facing east: the
  // next intersection is where Schulstraße meets Lindenstraße.
  const HeardCrossStreets east = Ask(all[town::kSchulEichen].at, "Schulstraße", town::kEast);
  ASSERT_FALSE(east.streets.empty());
  for (const HeardCrossStreet& c : east.streets) EXPECT_TRUE(Near(c.at, all[town::kSchulLinden].at)) << c.name;
  // Facing 40 degrees off the street the walker turns onto it.
  const HeardCrossStreets turned = Ask(all[town::kSchulEichen].at, "Schulstraße", 140);
  ASSERT_FALSE(turned.streets.empty());
  for (const HeardCrossStreet& c : turned.streets) EXPECT_TRUE(Near(c.at, all[town::kGartenEichen].at)) << c.name;
  // At the T where Kirchstraße ends, facing east between the streets: no
  // street leaves within 50 degrees, so there is nothing ahead to tell.
  const HeardCrossStreets none = Ask(all[town::kKirchEichen].at, "Kirchstraße", 100);
  EXPECT_EQ(none.hr, S_OK);
  EXPECT_TRUE(none.streets.empty());
}

TEST_F(NextCrossStreetsTest, WithoutAHeadingTheNearestIntersectionAndTheStreetsDirection) {
  // Mid-block on Eichenstraße nearer Kirchstraße (1200 of 900..1500 is the
  // middle; 1400 is near the T).
  const HeardCrossStreets a = Ask(town::Pt(town::kEichenX, 1400), "Eichenstraße", -1);
  ASSERT_FALSE(a.streets.empty());
  for (const HeardCrossStreet& c : a.streets) EXPECT_TRUE(Near(c.at, town::Intersections()[town::kKirchEichen].at)) << c.name;
  EXPECT_TRUE(AreHeadingAndOrientationSimilar(a.heading, town::kNorth, 2)) << a.heading;
}

// A heading beyond a turn, up to the 32-bit limit either way, is the
// heading modulo 360; a position that is not a number is refused.
TEST_F(NextCrossStreetsTest, HeadingsAreTakenModulo360AndAPositionNotANumberIsRefused) {
  const TiPoint at = town::Pt(town::kEichenX, 1200);
  const HeardCrossStreets base = Ask(at, "Eichenstraße", town::kNorth);
  ASSERT_FALSE(base.streets.empty());
  constexpr long long kTurnsToLimit = 5965232;  // 360 times this is just below 2^31
  for (const long long turns : {1LL, -1LL, 7LL, kTurnsToLimit, -kTurnsToLimit}) {
    const long long heading = town::kNorth + 360 * turns;
    SCOPED_TRACE(heading);
    const HeardCrossStreets again = Ask(at, "Eichenstraße", static_cast<int>(heading));
    EXPECT_EQ(again.hr, S_OK);
    EXPECT_EQ(again.heading, base.heading);
    ASSERT_EQ(again.streets.size(), base.streets.size());
    for (std::size_t i = 0; i < base.streets.size(); ++i) {
      EXPECT_EQ(again.streets[i].name, base.streets[i].name);
      EXPECT_EQ(again.streets[i].orientation, base.streets[i].orientation);
    }
  }

  const double nan = std::numeric_limits<double>::quiet_NaN();
  BSTR name = SysAllocString(u"Eichenstraße");
  VARIANT out;
  VariantInit(&out);
  INT heading = town::kNorth;
  EXPECT_EQ(static_cast<IMap*>(map_)->FindNextCrossStreets(nan, 10.0, &name, nullptr, &heading, &out), E_INVALIDARG);
  EXPECT_EQ(out.vt, VT_EMPTY);
  SysFreeString(name);
}

TEST_F(NextCrossStreetsTest, TowardsADeadEndTheEndIsAllThereIs) {
  const HeardCrossStreets a = Ask(town::Pt(town::kAhornX, 2300), "Ahornstraße", town::kNorth);
  EXPECT_EQ(a.hr, S_OK);
  for (const HeardCrossStreet& c : a.streets) {
    EXPECT_EQ(c.name, "Ahornstraße");
    EXPECT_TRUE(Near(c.at, town::kDeadEnd));
  }
}

TEST_F(NextCrossStreetsTest, TheCallLogsClearsItsOutputAndRefusesMissingPointers) {
  const DegreePoint p = MapUnitsToDegrees(town::Pt(800, town::kGartenY).x, town::Pt(800, town::kGartenY).y);
  BSTR name = SysAllocString(u"Gartenstraße");
  INT heading = town::kEast;
  EXPECT_EQ(static_cast<IMap*>(map_)->FindNextCrossStreets(p.latitude, p.longitude, &name, nullptr, &heading, nullptr),
            E_POINTER);
  VARIANT out;
  VariantInit(&out);
  out.vt = VT_BSTR;
  out.bstrVal = SysAllocString(u"left over");
  EXPECT_EQ(static_cast<IMap*>(map_)->FindNextCrossStreets(p.latitude, p.longitude, &name, nullptr, &heading, &out),
            S_OK);
  SysFreeString(name);
  ASSERT_EQ(out.vt, VT_ARRAY | VT_VARIANT);
  LONG upper = -1;
  SafeArrayGetUBound(out.parray, 1, &upper);
  EXPECT_EQ(upper, 2);  // Buchenstraße, Gartenstraße ahead and behind
  VariantClear(&out);
  const auto has = [this](const std::u16string& line) {
    return std::find(debugOutput_.begin(), debugOutput_.end(), line) != debugOutput_.end();
  };
  EXPECT_TRUE(has(u"      CMap::FindNextCrossStreets enter"));
  EXPECT_TRUE(has(u"      CMap::FindNextCrossStreets exit"));
}

}  // namespace
