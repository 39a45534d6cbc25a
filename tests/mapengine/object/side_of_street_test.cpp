// Side of street and street orientation: the parity rule on the numbers at a
// point (both sides, one side, none, unknown numbers, ranges starting at 0,
// sides of one parity and sides of both),
// and the two IMap operations on a few straight streets built at test time.
#include "mapengine/object/SideOfStreet.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>

#include "mapengine/object/CMap.h"
#include "mapengine/object/Geometry.h"
#include "tests/mapengine/object/map_engine_fixture.h"
#include "tests/mapengine/object/street_fixtures.h"

namespace {

using street_fixtures::At;
using street_fixtures::Street;

constexpr INT kOdd = kHouseNumberParityOdd;
constexpr INT kEven = kHouseNumberParityEven;
constexpr INT kLeft = CARTOVELLeftSide;
constexpr INT kRight = CARTOVELRightSide;
constexpr INT kUnknown = CARTOVELSideUnknown;

TEST(SideOfStreetForParity, TheLeftSideDecidesWhenItHasNumbersElseTheRightSideAndNoneWhereTheyCannotTell) {
  struct Case {
    const char* what;
    std::int32_t rightFrom, rightTo, leftFrom, leftTo;
    INT odd, even;  // the side of an odd and of an even number
  };
  const Case cases[] = {
      {"left 1-99, right 2-98", 2, 98, 1, 99, kLeft, kRight},
      {"left 2-98, right 1-99", 1, 99, 2, 98, kRight, kLeft},
      {"right 2-98 only", 2, 98, 0, 0, kLeft, kRight},
      {"left 1-99 only", 0, 0, 1, 99, kLeft, kRight},
      {"all 0", 0, 0, 0, 0, kUnknown, kUnknown},
      {"unknown numbers", -1, -1, -1, -1, kUnknown, kUnknown},
      {"unknown right, no left", -1, -1, 0, 0, kUnknown, kUnknown},
      {"unknown left, right 2-98", 2, 98, -1, -1, kLeft, kRight},
      // A range starting at 0 takes its parity from its other end.
      {"left 0-99, right 0-98", 0, 98, 0, 99, kLeft, kRight},
      {"right 0-99 only", 0, 99, 0, 0, kRight, kLeft},
      {"left 0-98 only", 0, 0, 0, 98, kRight, kLeft},
      // Where the ranges cannot tell the side, no side is named, so that the
      // caller falls back to the street's geometry: both sides hold the same
      // parity, or a side holds both (its ends differ in parity).
      {"both sides odd", 3, 97, 1, 99, kUnknown, kUnknown},
      {"both sides even", 2, 98, 4, 100, kUnknown, kUnknown},
      {"both sides odd, one starting at 0", 0, 97, 1, 99, kUnknown, kUnknown},
      {"left 1-100 (mixed) only", 0, 0, 1, 100, kUnknown, kUnknown},
      {"right 2-99 (mixed), left 1-99", 2, 99, 1, 99, kUnknown, kUnknown},
      {"left 1-98 (mixed), right 2-98", 2, 98, 1, 98, kUnknown, kUnknown},
      {"right 1-100 (mixed), unknown left", 1, 100, -1, -1, kUnknown, kUnknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const StreetSegmentNumbers numbers{At(0, 0), At(10, 0), c.rightFrom, c.rightTo, c.leftFrom, c.leftTo, 0};
    EXPECT_EQ(SideOfStreetForParity(numbers, kOdd), c.odd);
    EXPECT_EQ(SideOfStreetForParity(numbers, kEven), c.even);
    for (const INT parity : {0, 3, -1, 4}) EXPECT_EQ(SideOfStreetForParity(numbers, parity), kUnknown) << parity;
  }
}

// Straight streets running from west to east (one unit is about 0.29 feet
// eastwards and 0.49 feet northwards), 300 feet apart, each with its own
// ranges ("first from\first to\second from\second to"; the first range lies
// on the right along the street's direction, here the south side), and a
// north-south street running from south to north well to the east of them.
class SideOfStreetTest : public MapEngineTest {
 protected:
  static constexpr std::int32_t kApart = 600;  // units northwards between the streets
  static constexpr const char* kStreets[][2] = {
      {"Both Sides Street", "2\\98\\1\\99"},  {"Right Side Street", "2\\98\\0\\0"},
      {"No Numbers Street", "0\\0\\0\\0"},    {"Open Start Street", "0\\98\\0\\99"},
      {"Open Right Street", "0\\99\\0\\0"},    {"Odd Sides Street", "1\\99\\3\\97"},
      {"Mixed Side Street", "2\\99\\1\\99"},
  };

  void SetUp() override {
    MapEngineTest::SetUp();
    LoadEnglish();
    rmfbuild::FeatureMap map;
    for (std::int32_t k = 0; k < static_cast<std::int32_t>(std::size(kStreets)); ++k) {
      map.Add(Street(kStreets[k][0], {At(0, k * kApart), At(2000, k * kApart)}, kStreets[k][1]));
    }
    map.Add(Street("North Street", {At(3500, 0), At(3500, 2500)}));
    ASSERT_NO_FATAL_FAILURE(OpenBuiltMap(map, "sides.rmf"));
  }

  // Degrees of a map point, 10 feet north of street k's middle.
  static DegreePoint BesideStreet(std::int32_t k) {
    const TiPoint p = At(1000, k * kApart + 20);
    return MapUnitsToDegrees(p.x, p.y);
  }

  INT Side(std::int32_t street, LONG heading, INT parity, INT start = 7) {
    const DegreePoint p = BesideStreet(street);
    INT side = start;
    EXPECT_EQ(map_->GetSideOfStreet(p.latitude, p.longitude, heading, parity, &side), S_OK);
    return side;
  }
  SHORT Orientation(TiPoint at, SHORT heading) {
    const DegreePoint p = MapUnitsToDegrees(at.x, at.y);
    SHORT orientation = 7;
    EXPECT_EQ(map_->GetStreetOrientation(p.latitude, p.longitude, heading, &orientation), S_OK);
    return orientation;
  }
};

TEST_F(SideOfStreetTest, TheSideOfEachParityTurnsWithTheHeading) {
  struct Case {
    std::int32_t street;
    INT oddEast, evenEast;  // walking east; walking west the sides swap
  };
  const Case cases[] = {
      {0, kLeft, kRight},          // odd north, even south
      {1, kLeft, kRight},          // even south only
      {2, kUnknown, kUnknown},     // no numbers
      {3, kLeft, kRight},          // 0-99 north, 0-98 south
      {4, kRight, kLeft},          // 0-99 south only
      {5, kUnknown, kUnknown},     // odd on both sides
      {6, kUnknown, kUnknown},     // both parities south
  };
  const auto across = [](INT side) { return side == kUnknown ? kUnknown : (side == kLeft ? kRight : kLeft); };
  for (const Case& c : cases) {
    SCOPED_TRACE(kStreets[c.street][0]);
    EXPECT_EQ(Side(c.street, 90, kOdd), c.oddEast);
    EXPECT_EQ(Side(c.street, 90, kEven), c.evenEast);
    EXPECT_EQ(Side(c.street, 270, kOdd), across(c.oddEast));
    EXPECT_EQ(Side(c.street, 270, kEven), across(c.evenEast));
    // Without a heading or a parity there is no side; an invalid parity tells none either.
    EXPECT_EQ(Side(c.street, -1, kOdd), kUnknown);
    for (const INT parity : {0, 3, -2}) EXPECT_EQ(Side(c.street, 90, parity), kUnknown) << parity;
  }
  // Far from every street there is no side.
  INT side = 7;
  const DegreePoint far = MapUnitsToDegrees(At(1000, 110000).x, At(1000, 110000).y);
  EXPECT_EQ(map_->GetSideOfStreet(far.latitude, far.longitude, 90, kOdd, &side), S_OK);
  EXPECT_EQ(side, kUnknown);
}

TEST_F(SideOfStreetTest, OrientationRunsFromTheStreetsFirstPointToItsLast) {
  for (const SHORT heading : {-1, 0, 45, 90, 180, 270, 359}) {
    SCOPED_TRACE(heading);
    EXPECT_EQ(Orientation(At(1000, 20), heading), 90);        // Both Sides Street, west to east
    EXPECT_EQ(Orientation(At(3520, 1200), heading), 0);       // North Street, south to north
  }
  // Nothing near: -1.
  EXPECT_EQ(Orientation(At(1000, 110000), 90), -1);
}

TEST_F(SideOfStreetTest, NullOutPointersAreRefused) {
  const DegreePoint p = BesideStreet(0);
  EXPECT_EQ(map_->GetSideOfStreet(p.latitude, p.longitude, 90, kOdd, nullptr), E_POINTER);
  EXPECT_EQ(map_->GetStreetOrientation(p.latitude, p.longitude, 90, nullptr), E_POINTER);
}

TEST_F(MapEngineTest, SideAndOrientationWithoutAMapAreUnknown) {
  INT side = 7;
  SHORT orientation = 7;
  EXPECT_EQ(map_->GetSideOfStreet(53.55, 13.26, 90, kOdd, &side), S_OK);
  EXPECT_EQ(side, kUnknown);
  EXPECT_EQ(map_->GetStreetOrientation(53.55, 13.26, 90, &orientation), S_OK);
  EXPECT_EQ(orientation, -1);
}

}  // namespace
