// Virtual exploration through IMap on the small town: where a walk starts and
// which way it faces, stepping to the next intersection (in order along a
// street, a foot short of each, with the heading of the approach), stopping
// at a dead end, crossing a street, moving a few feet, asking again at a
// point, and a ring street of one name that the walk leaves again.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "mapengine/object/CMap.h"
#include "mapengine/object/Geometry.h"
#include "mapengine/object/Utilities.h"
#include "platform/os/text.h"
#include "tests/mapengine/object/cross_street_list.h"
#include "tests/mapengine/object/map_engine_fixture.h"
#include "tests/mapengine/object/street_fixtures.h"
#include "tests/mapengine/object/town_fixture.h"

namespace {

// Feet in map units near the town: one unit is about 0.29 feet eastwards
// and 0.49 feet northwards.
constexpr std::int32_t kFootEast = 3;
constexpr std::int32_t kFootNorth = 2;

// The names of a list, the ramp's label cut to "Ramp", sorted.
std::vector<std::string> SortedNames(const HeardCrossStreets& heard) {
  std::vector<std::string> names;
  for (const HeardCrossStreet& c : heard.streets) names.push_back(c.name.rfind("Ramp", 0) == 0 ? "Ramp" : c.name);
  std::sort(names.begin(), names.end());
  return names;
}

// The names the fixture has at an intersection, as the engine says them.
std::vector<std::string> SortedNames(const town::Intersection& x) {
  std::vector<std::string> names;
  for (const town::CrossStreetAt& s : x.streets) {
    if (s.roadType == '8' && s.name.empty()) {
      names.push_back("Roundabout");
    } else if (s.roadType == '9') {
      names.push_back("Ramp");
    } else {
      names.push_back(s.name);
    }
  }
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

std::vector<std::string> Unique(std::vector<std::string> names) {
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

class ExplorationTest : public MapEngineTest {
 protected:
  void SetUp() override {
    MapEngineTest::SetUp();
    LoadEnglish();
  }
  void OpenTown() { ASSERT_NO_FATAL_FAILURE(OpenBuiltMap(town::TownMap(), "town.rmf")); }

  HeardCrossStreets Start(TiPoint at, const std::u16string& street, const std::u16string& address = u"") {
    return WellFormed(
        AskInitialHeading(*map_, at, platform::Utf16ToUtf8(street), platform::Utf16ToUtf8(address), u""));
  }

  // MoveToNextCrossStreet (next) or CrossThisStreet (cross).
  HeardCrossStreets Step(bool cross, TiPoint at, int heading) {
    return WellFormed(AskExploreStep(*map_, cross ? ExploreStep::kCrossThisStreet : ExploreStep::kMoveToNext, at,
                                     heading, CARTOVELRightSide, u""));
  }

  HeardCrossStreets Update(TiPoint at, int heading) {
    return WellFormed(AskUpdateCrossStreets(*map_, at, heading, CARTOVELRightSide, true, u""));
  }

 private:
  static HeardCrossStreets WellFormed(HeardCrossStreets heard) {
    // An empty list is handed out as an empty array too.
    EXPECT_TRUE(heard.wellFormed);
    return heard;
  }
};

// Where the walker stands after a step: the location every cross street
// carries (they share one).
TiPoint LandedAt(const HeardCrossStreets& heard) {
  EXPECT_FALSE(heard.streets.empty());
  if (heard.streets.empty()) return TiPoint{0, 0};
  for (const HeardCrossStreet& c : heard.streets) {
    EXPECT_TRUE(std::abs(c.at.x - heard.streets[0].at.x) <= 1 && std::abs(c.at.y - heard.streets[0].at.y) <= 1);
  }
  return heard.streets[0].at;
}

double FeetBetween(TiPoint a, TiPoint b) { return DistanceFeetBetweenMapPointsExact(a.x, a.y, b.x, b.y); }

TEST_F(ExplorationTest, MoveDownStreetMovesThreeFeetAlongTheHeadingAndKeepsIt) {
  struct Case {
    int heading;
    double dLat;
    double dLon;
  };
  // At latitude 40 three feet are 8.2e-6 degree of latitude and 1.07e-5
  // degree of longitude; without a heading the position stays.
  const Case cases[] = {{90, 0.0, 1.07e-5}, {0, 8.23e-6, 0.0}, {270, 0.0, -1.07e-5}, {-1, 0.0, 0.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.heading);
    double lat = 40.0;
    double lon = -75.0;
    SHORT heading = static_cast<SHORT>(c.heading);
    ASSERT_EQ(map_->MoveDownStreet(&lat, &lon, &heading), S_OK);
    EXPECT_EQ(heading, c.heading);
    // Within a map unit: the position is moved in map units.
    EXPECT_NEAR(lat - 40.0, c.dLat, kTiDegreesPerUnit);
    EXPECT_NEAR(lon + 75.0, c.dLon, kTiDegreesPerUnit);
  }
}

TEST_F(ExplorationTest, TheStartFacesTheStreetOrAcrossItAndHearsItsCrossStreets) {
  ASSERT_NO_FATAL_FAILURE(OpenTown());
  struct Case {
    const char* what;
    TiPoint at;
    std::u16string street;
    int heading;
  };
  // Ahornstraße's points run from south to north. 50 feet east of it is
  // about 172 units.
  const Case cases[] = {
      {"on the street", town::Pt(town::kAhornX, 600), u"Ahornstraße", 90},
      {"50 feet east of it", town::Pt(town::kAhornX + 172, 600), u"Ahornstraße", 270},
      {"any street", town::Pt(town::kAhornX + 172, 600), u"", 270},
      {"a name no street near carries", town::Pt(town::kAhornX + 172, 600), u"Nirgendwo", 270},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const HeardCrossStreets start = Start(c.at, c.street);
    EXPECT_EQ(start.hr, S_OK);
    EXPECT_EQ(start.heading, c.heading);
    // In the middle of the block the street is all there is.
    EXPECT_EQ(Unique(SortedNames(start)), std::vector<std::string>{"Ahornstraße"});
  }

  // On a junction the cross streets are the junction's.
  const town::Intersection& crossing = town::Intersections()[town::kSchulEichen];
  EXPECT_EQ(Unique(SortedNames(Start(crossing.at, u"Schulstraße"))), SortedNames(crossing));

  // Nothing within three miles.
  const HeardCrossStreets far = Start(town::Pt(0, 80000), u"");
  EXPECT_EQ(far.hr, S_OK);
  EXPECT_EQ(far.heading, -1);
  EXPECT_TRUE(far.streets.empty());
}

TEST_F(ExplorationTest, EveryStepFromEveryBlockReachesTheIntersectionAheadAFootShortOfIt) {
  ASSERT_NO_FATAL_FAILURE(OpenTown());
  for (const town::BlockPosition& b : town::BlockPositions()) {
    if (std::string(b.street).empty()) continue;  // the ramp: walked from the streets it joins
    SCOPED_TRACE(std::string(b.street) + " heading " + std::to_string(b.heading));
    const HeardCrossStreets next = Step(false, b.at, b.heading);
    EXPECT_EQ(next.hr, S_OK);
    TiPoint expected = town::kDeadEnd;
    std::vector<std::string> names = {b.street};
    if (b.ahead >= 0) {
      const town::Intersection& x = town::Intersections()[static_cast<std::size_t>(b.ahead)];
      expected = x.at;
      names = SortedNames(x);
    }
    EXPECT_EQ(Unique(SortedNames(next)), names);
    EXPECT_TRUE(AreHeadingAndOrientationSimilar(next.heading, b.heading, 2)) << next.heading;
    // A foot short of the intersection, on the near side.
    const TiPoint landed = LandedAt(next);
    EXPECT_NEAR(FeetBetween(landed, expected), 1.0, 0.6);
    EXPECT_TRUE(AreHeadingAndOrientationSimilar(
        BearingBetweenMapPoints(landed.x, landed.y, expected.x, expected.y), b.heading, 10));
  }
}

// A heading beyond a turn either way (up to the 16-bit limit) is the
// heading modulo 360: every step lands where the reduced heading lands.
// A position that is not a number is refused with an empty list.
TEST_F(ExplorationTest, HeadingsAreTakenModulo360AndAPositionNotANumberIsRefused) {
  ASSERT_NO_FATAL_FAILURE(OpenTown());
  int asked = 0;
  for (const town::BlockPosition& b : town::BlockPositions()) {
    if (std::string(b.street).empty()) continue;
    const HeardCrossStreets next = Step(false, b.at, b.heading);
    const HeardCrossStreets update = Update(b.at, b.heading);
    for (const int turns : {1, -1, -2, 90, -91}) {
      const int heading = b.heading + 360 * turns;
      if (heading > 32767 || heading < -32768) continue;
      SCOPED_TRACE(std::string(b.street) + " heading " + std::to_string(heading));
      ++asked;
      const HeardCrossStreets again = Step(false, b.at, heading);
      EXPECT_EQ(again.hr, S_OK);
      EXPECT_EQ(again.heading, next.heading);
      EXPECT_EQ(SortedNames(again), SortedNames(next));
      if (!again.streets.empty() && !next.streets.empty()) {
        EXPECT_EQ(again.streets[0].at.x, next.streets[0].at.x);
        EXPECT_EQ(again.streets[0].at.y, next.streets[0].at.y);
      }
      const HeardCrossStreets updated = Update(b.at, heading);
      ASSERT_EQ(updated.streets.size(), update.streets.size());
      for (std::size_t i = 0; i < updated.streets.size(); ++i) {
        EXPECT_EQ(updated.streets[i].name, update.streets[i].name);
        EXPECT_EQ(updated.streets[i].side, update.streets[i].side);
        EXPECT_EQ(updated.streets[i].mustCross, update.streets[i].mustCross);
      }
    }
  }
  EXPECT_GT(asked, 20);

  const double nan = std::numeric_limits<double>::quiet_NaN();
  const DegreePoint p = MapUnitsToDegrees(town::Pt(town::kAhornX, 600).x, town::Pt(town::kAhornX, 600).y);
  BSTR parameters = SysAllocString(u"");
  for (const auto& [latitude, longitude] : {std::pair{nan, p.longitude}, std::pair{p.latitude, nan}}) {
    VARIANT out;
    VariantInit(&out);
    SHORT heading = static_cast<SHORT>(town::kNorth);
    EXPECT_EQ(map_->MoveToNextCrossStreet(latitude, longitude, CARTOVELRightSide, &parameters, &heading, &out),
              E_INVALIDARG);
    EXPECT_EQ(out.vt, VT_EMPTY);
    EXPECT_EQ(map_->CrossThisStreet(latitude, longitude, CARTOVELRightSide, &parameters, &heading, &out),
              E_INVALIDARG);
    EXPECT_EQ(map_->UpdateCrossStreets(latitude, longitude, heading, CARTOVELRightSide, VARIANT_TRUE, &parameters,
                                       &out),
              E_INVALIDARG);
    EXPECT_EQ(map_->FindInitialHeadingAndCrossStreets(latitude, longitude, nullptr, nullptr, &parameters, &out,
                                                      &heading),
              E_INVALIDARG);
    EXPECT_EQ(out.vt, VT_EMPTY);
    double lat = latitude;
    double lon = longitude;
    EXPECT_EQ(map_->MoveDownStreet(&lat, &lon, &heading), E_INVALIDARG);
  }
  SysFreeString(parameters);
}

TEST_F(ExplorationTest, RepeatedStepsVisitAStreetsIntersectionsInOrderUpToItsEnd) {
  ASSERT_NO_FATAL_FAILURE(OpenTown());
  const auto& all = town::Intersections();
  // Ahornstraße northwards from its first block, to the dead end.
  const std::vector<TiPoint> expected = {all[town::kSchulAhorn].at, all[town::kKirchAhorn].at,
                                         all[town::kBahnhofAhorn].at, town::kDeadEnd};
  TiPoint at = town::Pt(town::kAhornX, 600);
  int heading = town::kNorth;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    const HeardCrossStreets next = Step(false, at, heading);
    at = LandedAt(next);
    heading = next.heading;
    EXPECT_NEAR(FeetBetween(at, expected[i]), 1.0, 0.6);
    EXPECT_EQ(heading, town::kNorth);
  }
  // At the dead end the walk stays there.
  const HeardCrossStreets again = Step(false, at, heading);
  EXPECT_NEAR(FeetBetween(LandedAt(again), town::kDeadEnd), 1.0, 1.5);
}

TEST_F(ExplorationTest, CrossingAStreetLandsAFootIntoTheStreetBeyondFacingOn) {
  ASSERT_NO_FATAL_FAILURE(OpenTown());
  const town::Intersection& crossing = town::Intersections()[town::kSchulEichen];
  struct Case {
    const char* what;
    TiPoint from;  // a foot short of the crossing
    int heading;
    TiPoint beyond;  // a foot past it
  };
  const Case cases[] = {
      {"north over Schulstraße", {crossing.at.x, crossing.at.y - kFootNorth}, town::kNorth,
       {crossing.at.x, crossing.at.y + kFootNorth}},
      {"east over Eichenstraße", {crossing.at.x - kFootEast, crossing.at.y}, town::kEast,
       {crossing.at.x + kFootEast, crossing.at.y}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const HeardCrossStreets crossed = Step(true, c.from, c.heading);
    EXPECT_EQ(crossed.hr, S_OK);
    EXPECT_EQ(crossed.heading, c.heading);
    EXPECT_LE(FeetBetween(LandedAt(crossed), c.beyond), 1.0);
    EXPECT_EQ(Unique(SortedNames(crossed)), SortedNames(crossing));
  }
}

TEST_F(ExplorationTest, AskingAgainNearAStreetsEndAsksAboutThatEnd) {
  ASSERT_NO_FATAL_FAILURE(OpenTown());
  const town::Intersection& crossing = town::Intersections()[town::kSchulEichen];
  // Three feet short of the crossing: its four streets, located where the
  // walker stands.
  const TiPoint close{crossing.at.x - 3 * kFootEast, crossing.at.y};
  const HeardCrossStreets near = Update(close, town::kEast);
  EXPECT_EQ(near.hr, S_OK);
  EXPECT_EQ(near.streets.size(), 4u);
  EXPECT_EQ(Unique(SortedNames(near)), SortedNames(crossing));
  EXPECT_LE(FeetBetween(LandedAt(near), close), 1.0);
  // Thirty feet short of it: only the street the walker is on.
  const HeardCrossStreets mid = Update({crossing.at.x - 30 * kFootEast, crossing.at.y}, town::kEast);
  EXPECT_EQ(Unique(SortedNames(mid)), std::vector<std::string>{"Schulstraße"});
}

TEST_F(ExplorationTest, ARingStreetOfOneNameWithoutIntersectionsEnds) {
  // A square of four features of one name, nothing else.
  using street_fixtures::At;
  using street_fixtures::Street;
  rmfbuild::FeatureMap ring;
  const TiPoint corners[] = {At(0, 0), At(1000, 0), At(1000, 600), At(0, 600), At(0, 0)};
  for (int i = 0; i < 4; ++i) ring.Add(Street("Ringstraße", {corners[i], corners[i + 1]}));
  ASSERT_NO_FATAL_FAILURE(OpenBuiltMap(ring, "ring.rmf"));

  const HeardCrossStreets next = Step(false, At(500, 0), town::kEast);
  // The walk ends where it joined the ring, not at the step cap that logs an
  // endless loop.
  for (const std::u16string& line : debugOutput_) {
    EXPECT_EQ(line.find(u"infinite Loop"), std::u16string::npos) << platform::Utf16ToUtf8(line);
  }
  EXPECT_EQ(next.hr, S_OK);
  EXPECT_EQ(Unique(SortedNames(next)), std::vector<std::string>{"Ringstraße"});
  // Round the ring to where the walk joined it, coming up from the south.
  EXPECT_NEAR(FeetBetween(LandedAt(next), At(0, 0)), 1.0, 0.6);
  EXPECT_EQ(next.heading, town::kSouth);
}

TEST_F(ExplorationTest, AStreetRunningOnThroughJunctionsAsOneFeatureStopsAtEachOfThem) {
  // Hauptstraße is one feature of four points running east through two
  // junctions, as the converter writes a way: Nebenstraße ends at its
  // second point from the north, Querstraße crosses it at its third (a
  // point of both).
  using street_fixtures::At;
  using street_fixtures::Street;
  rmfbuild::FeatureMap map;
  map.Add(Street("Hauptstraße", {At(0, 0), At(1000, 0), At(2000, 0), At(3000, 0)}));
  map.Add(Street("Nebenstraße", {At(1000, 0), At(1000, 600)}));
  map.Add(Street("Querstraße", {At(2000, -600), At(2000, 0), At(2000, 600)}));
  ASSERT_NO_FATAL_FAILURE(OpenBuiltMap(map, "through.rmf"));

  // Step by step along the street: each junction in turn, then its end.
  const HeardCrossStreets first = Step(false, At(300, 0), town::kEast);
  EXPECT_NEAR(FeetBetween(LandedAt(first), At(1000, 0)), 1.0, 0.6);
  EXPECT_EQ(Unique(SortedNames(first)), (std::vector<std::string>{"Hauptstraße", "Nebenstraße"}));
  const HeardCrossStreets second = Step(false, LandedAt(first), town::kEast);
  EXPECT_NEAR(FeetBetween(LandedAt(second), At(2000, 0)), 1.0, 0.6);
  EXPECT_EQ(Unique(SortedNames(second)), (std::vector<std::string>{"Hauptstraße", "Querstraße"}));
  EXPECT_EQ(second.heading, town::kEast);
  const HeardCrossStreets end = Step(false, LandedAt(second), town::kEast);
  EXPECT_NEAR(FeetBetween(LandedAt(end), At(3000, 0)), 1.0, 0.6);

  // Crossing Querstraße lands a foot beyond the junction facing on east,
  // not at the far end of the feature facing back.
  const HeardCrossStreets crossed = Step(true, LandedAt(second), town::kEast);
  EXPECT_NEAR(FeetBetween(LandedAt(crossed), At(2000, 0)), 1.0, 0.6);
  EXPECT_GT(LandedAt(crossed).x, At(2000, 0).x);
  EXPECT_EQ(crossed.heading, town::kEast);

  // Asking a few feet short of a junction in the middle of the feature asks
  // about that junction.
  const HeardCrossStreets near = Update(At(1000 - 3 * kFootEast, 0), town::kEast);
  EXPECT_EQ(Unique(SortedNames(near)), (std::vector<std::string>{"Hauptstraße", "Nebenstraße"}));
}

TEST_F(ExplorationTest, NullOutputsAreRefusedAndNoStreetMeansNoCrossStreets) {
  BSTR none = nullptr;
  VARIANT out;
  VariantInit(&out);
  SHORT heading = 90;
  double lat = 40.0;
  double lon = -75.0;
  EXPECT_EQ(map_->FindInitialHeadingAndCrossStreets(lat, lon, none, none, &none, &out, nullptr), E_POINTER);
  EXPECT_EQ(map_->MoveToNextCrossStreet(lat, lon, CARTOVELRightSide, &none, nullptr, &out), E_POINTER);
  EXPECT_EQ(map_->MoveToNextCrossStreet(lat, lon, CARTOVELRightSide, &none, &heading, nullptr), E_POINTER);
  EXPECT_EQ(map_->CrossThisStreet(lat, lon, CARTOVELRightSide, &none, nullptr, &out), E_POINTER);
  EXPECT_EQ(map_->MoveDownStreet(nullptr, &lon, &heading), E_POINTER);
  EXPECT_EQ(map_->UpdateCrossStreets(lat, lon, 90, CARTOVELRightSide, VARIANT_TRUE, &none, nullptr), E_POINTER);

  // Without a map every step keeps the heading and hands out an empty list.
  const HeardCrossStreets next = Step(false, DegreesToMapUnits(lat, lon), 90);
  EXPECT_EQ(next.hr, S_OK);
  EXPECT_EQ(next.heading, 90);
  EXPECT_TRUE(next.streets.empty());
  const HeardCrossStreets crossed = Step(true, DegreesToMapUnits(lat, lon), 90);
  EXPECT_EQ(crossed.heading, 90);
  EXPECT_TRUE(crossed.streets.empty());
  EXPECT_TRUE(Update(DegreesToMapUnits(lat, lon), 90).streets.empty());
}

}  // namespace
