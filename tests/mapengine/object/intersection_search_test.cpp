// The intersection search and the intersection texts, on small maps of a few
// streets: the crossing ahead past a continuation of the street's own name,
// the nearest one without a heading, dead ends and forks, the cached answer
// of the next intersection, the distance and bearing to the cross street,
// and walks that must end quickly on streets that never meet another.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "mapengine/object/CMap.h"
#include "mapengine/object/CrossStreets.h"
#include "mapengine/object/Geometry.h"
#include "mapengine/object/NearestFeature.h"
#include "platform/os/clock.h"
#include "platform/os/text.h"
#include "tests/mapengine/object/counting_clock.h"
#include "tests/mapengine/object/map_engine_fixture.h"
#include "tests/mapengine/object/street_fixtures.h"
#include "tools/rmfbuild/RmfBuilder.h"
#include "tools/rmfbuild/RmfFeatures.h"

namespace {

using street_fixtures::At;
using street_fixtures::Street;

constexpr TiPoint kNone{0x7FFFFFFF, 0x7FFFFFFF};
constexpr double kPi = 3.14159265358979323846;
// Feet per degree on the sphere the engine measures on.
constexpr double kFeetPerDegree = 3437.90496760259 * 1852.0 / 0.3048 * kPi / 180.0;

// Flat-earth offset in feet from a to b (east, north): good to a fraction of
// a foot over the few hundred feet of these maps.
struct Feet2 {
  double east;
  double north;
};
Feet2 Offset(TiPoint a, TiPoint b) {
  const DegreePoint da = MapUnitsToDegrees(a.x, a.y);
  const DegreePoint db = MapUnitsToDegrees(b.x, b.y);
  const double midLatitude = (da.latitude + db.latitude) / 2 * kPi / 180.0;
  return Feet2{(db.longitude - da.longitude) * kFeetPerDegree * std::cos(midLatitude),
               (db.latitude - da.latitude) * kFeetPerDegree};
}
double BearingOf(Feet2 v) {
  const double degrees = std::atan2(v.east, v.north) * 180.0 / kPi;
  return degrees < 0 ? degrees + 360.0 : degrees;
}
double LengthOf(Feet2 v) { return std::hypot(v.east, v.north); }

::testing::AssertionResult SamePoint(TiPoint found, TiPoint expected) {
  if (found.x == expected.x && found.y == expected.y) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "found (" << found.x - street_fixtures::kOriginX << ", "
                                       << found.y - street_fixtures::kOriginY << ") from the origin, expected ("
                                       << expected.x - street_fixtures::kOriginX << ", "
                                       << expected.y - street_fixtures::kOriginY << ")";
}

// A clock whose tick count moves on by 1.5 seconds each time it is read, so
// that the intersection search runs out of time after its first point.
class HastyClock : public platform::VirtualClock {
 public:
  HastyClock() : VirtualClock(SYSTEMTIME{2026, 3, 0, 1, 12, 0, 0, 0}) {}
  std::uint32_t TickCount() override {
    Advance(1500);
    return VirtualClock::TickCount();
  }
};

class IntersectionSearchTest : public MapEngineTest {
 protected:
  void SetUp() override {
    MapEngineTest::SetUp();
    LoadEnglish();
  }

  void Load(std::vector<rmfbuild::Feature> features) {
    rmfbuild::FeatureMap map;
    for (rmfbuild::Feature& f : features) map.Add(std::move(f));
    ASSERT_NO_FATAL_FAILURE(OpenBuiltMap(map, "streets.rmf"));
  }

  // The search from `from` along the street the engine puts the user on.
  TiPoint Search(TiPoint from, std::int32_t* heading) {
    const RmfFeatureRef street = GetNearestFeatureInOurOrientationNavigable(*map_, from, *heading, "4567");
    EXPECT_FALSE(IsNullFeatureRef(street));
    return FindBestIntersection(*map_, from, u"", street, heading, false, false);
  }

  bool TimedOut() const {
    for (const std::u16string& line : debugOutput_) {
      if (line == u"CARTOVEL: Failed to find intersection in 3 seconds\n") return true;
    }
    return false;
  }

  // A ring of `pieces` features of one name round a centre, meeting nothing;
  // corner 0 is its southernmost point, the corners run clockwise.
  static TiPoint RingCorner(int i, int pieces) {
    const double angle = 2 * kPi * (i % pieces) / pieces;
    return At(1500 - static_cast<std::int32_t>(std::lround(900 * std::sin(angle))),
              1500 - static_cast<std::int32_t>(std::lround(900 * std::cos(angle))));
  }
  static std::vector<rmfbuild::Feature> Ring(int pieces) {
    std::vector<rmfbuild::Feature> ring;
    for (int i = 0; i < pieces; ++i) {
      ring.push_back(Street("Ring Rd", {RingCorner(i, pieces), RingCorner(i + 1, pieces)}));
    }
    return ring;
  }
};

// Main St runs north from the Elm Rd crossing E, goes on as a second feature
// of its own name at K (no intersection there), bends north-east to the
// crossing O of Oak Ave (west arm) and Pine Rd (leaving south-east), and
// ends in a dead end D. The first feature is drawn from K down to E.
TiPoint E() { return At(1000, 0); }
TiPoint K() { return At(1000, 1000); }
TiPoint O() { return At(1400, 2000); }
TiPoint D() { return At(1400, 2800); }
std::vector<rmfbuild::Feature> Crossings() {
  return {Street("Main St", {K(), E()}),
          Street("Main St", {K(), O()}),
          Street("Main St", {O(), D()}),
          Street("Elm Rd", {At(0, 0), E()}),
          Street("Elm Rd", {E(), At(2000, 0)}),
          Street("Oak Ave", {At(0, 2000), O()}),
          Street("Pine Rd", {O(), At(2400, 1200)})};
}

TEST_F(IntersectionSearchTest, TheCrossingAheadTheNearestWithoutAHeadingAndTheHeadingThere) {
  Load(Crossings());
  const std::int32_t bend = static_cast<std::int32_t>(std::lround(BearingOf(Offset(K(), O()))));
  ASSERT_GT(bend, 10);  // the heading at O is not the user's heading
  struct Case {
    TiPoint from;
    std::int32_t heading;
    TiPoint found;
    std::int32_t headingThere;
  };
  const Case cases[] = {
      // North past K, where Main St only goes on: O, reached heading along
      // the bend.
      {At(1000, 600), 0, O(), bend},
      {At(1000, 600), 180, E(), 180},
      // Without a heading the nearer crossing, also from next to K, where
      // the walk starts towards O.
      {At(1000, 600), -1, E(), -1},
      {At(1000, 950), -1, E(), -1},
      {At(1400, 2400), 180, O(), 180},
      // The dead end ahead is where the street stops.
      {At(1400, 2400), 0, D(), 0},
      // Without a heading a dead end nearer than the crossing wins.
      {At(1400, 2700), -1, D(), -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "from (" << c.from.x - street_fixtures::kOriginX << ", "
                                      << c.from.y - street_fixtures::kOriginY << ") heading " << c.heading);
    std::int32_t heading = c.heading;
    EXPECT_TRUE(SamePoint(Search(c.from, &heading), c.found));
    EXPECT_NEAR(heading, c.headingThere, 1);
  }
  EXPECT_FALSE(TimedOut());
}

TEST_F(IntersectionSearchTest, AForkOfTheStreetsOwnNameGivesTheForkWithItsHeading) {
  // Fork Rd goes on at B and bends to F, where it splits into two branches of
  // its own name: no street of another name anywhere.
  const TiPoint b = At(200, 800);
  const TiPoint f = At(600, 1600);
  Load({Street("Fork Rd", {At(200, 0), b}), Street("Fork Rd", {b, f}), Street("Fork Rd", {f, At(300, 2400)}),
        Street("Fork Rd", {f, At(900, 2400)})});
  std::int32_t heading = 0;
  EXPECT_TRUE(SamePoint(Search(At(200, 400), &heading), f));
  EXPECT_NEAR(heading, BearingOf(Offset(b, f)), 1);
  // Without a heading the nearer dead end comes first.
  heading = -1;
  EXPECT_TRUE(SamePoint(Search(At(200, 300), &heading), At(200, 0)));
}

TEST_F(IntersectionSearchTest, NextIntersectionIsKeptForTheSamePositionAndHeading) {
  Load(Crossings());
  const DegreePoint p = MapUnitsToDegrees(1000 + street_fixtures::kOriginX, 600 + street_fixtures::kOriginY);
  ASSERT_TRUE(SamePoint(map_->GetNextIntersectionPoint(p.latitude, p.longitude, 0), O()));
  // Without the map a new search finds nothing, so only the kept answer can
  // give the point again.
  map_->m_Rdr.reset();
  EXPECT_TRUE(SamePoint(map_->GetNextIntersectionPoint(p.latitude, p.longitude, 0), O()));
  EXPECT_TRUE(SamePoint(map_->GetNextIntersectionPoint(p.latitude, p.longitude, 180), kNone));
  EXPECT_TRUE(SamePoint(map_->GetNextIntersectionPoint(p.latitude + 1e-6, p.longitude, 0), kNone));
  // A search that found nothing leaves the kept answer alone.
  EXPECT_TRUE(SamePoint(map_->GetNextIntersectionPoint(p.latitude, p.longitude, 0), O()));
}

TEST_F(IntersectionSearchTest, DistanceBearingAndNamesOfTheCrossStreetsAhead) {
  Load(Crossings());
  const TiPoint from = At(1000, 600);
  const DegreePoint p = MapUnitsToDegrees(from.x, from.y);
  // Oak Ave runs west from O along a parallel: its nearest point is straight
  // north. Pine Rd leaves O to the south-east and comes nearer: the foot of
  // the perpendicular onto it.
  const Feet2 toO = Offset(from, O());
  const Feet2 along = Offset(O(), At(2400, 1200));
  const double t = -(toO.east * along.east + toO.north * along.north) / (LengthOf(along) * LengthOf(along));
  ASSERT_GT(t, 0.0);
  ASSERT_LT(t, 1.0);
  const Feet2 toPine{toO.east + t * along.east, toO.north + t * along.north};
  const Feet2 toOak{0.0, toO.north};
  ASSERT_LT(LengthOf(toPine), LengthOf(toOak) - 50);
  EXPECT_NEAR(map_->FindNearestIntersection(p.latitude, p.longitude, 0, 1), LengthOf(toPine), 2);
  EXPECT_NEAR(map_->FindNearestIntersection(p.latitude, p.longitude, 0, 2), BearingOf(toPine), 1);
  const std::string distance = platform::Utf16ToUtf8(map_->GetIntersectionDistanceText(p.latitude, p.longitude, 0));
  ASSERT_FALSE(distance.empty());
  EXPECT_EQ(distance.find_first_not_of("0123456789"), std::string::npos) << distance;
  EXPECT_NEAR(std::stod(distance), LengthOf(toPine), 2);
  // Heading south: Elm Rd runs along a parallel through E, straight behind.
  const Feet2 toE = Offset(from, E());
  EXPECT_NEAR(map_->FindNearestIntersection(p.latitude, p.longitude, 180, 1), LengthOf(toE), 2);
  EXPECT_NEAR(map_->FindNearestIntersection(p.latitude, p.longitude, 180, 2), 180, 1);
  EXPECT_EQ(map_->GetIntersectionHeadingText(p.latitude, p.longitude, 180), u"180");

  // The cross streets by name, Main St itself (two of its features meet at O)
  // left out in every form.
  const std::u16string plain = map_->GetIntersectionNameText(p.latitude, p.longitude, 0, false, false);
  EXPECT_TRUE(plain == u"Oak Ave, and Pine Rd" || plain == u"Pine Rd, and Oak Ave") << platform::Utf16ToUtf8(plain);
  const std::u16string stripped = map_->GetIntersectionNameText(p.latitude, p.longitude, 0, true, false);
  EXPECT_TRUE(stripped == u"Oak, and Pine" || stripped == u"Pine, and Oak") << platform::Utf16ToUtf8(stripped);
  const std::u16string expanded = map_->GetIntersectionNameText(p.latitude, p.longitude, 0, false, true);
  EXPECT_TRUE(expanded == u"Oak Avenue, and Pine Road" || expanded == u"Pine Road, and Oak Avenue")
      << platform::Utf16ToUtf8(expanded);
  EXPECT_EQ(map_->GetIntersectionNameText(p.latitude, p.longitude, 180, true, false), u"Elm");

  // About ten miles north of every street: nothing.
  const DegreePoint far = MapUnitsToDegrees(from.x, from.y + 110000);
  for (const int mode : {1, 2}) EXPECT_EQ(map_->FindNearestIntersection(far.latitude, far.longitude, 0, mode), -1);
  EXPECT_EQ(map_->GetIntersectionNameText(far.latitude, far.longitude, 0, false, false), u"");
  EXPECT_EQ(map_->GetIntersectionDistanceText(far.latitude, far.longitude, 0), u"");
  EXPECT_EQ(map_->GetIntersectionHeadingText(far.latitude, far.longitude, 0), u"");
}

// A small ring is walked out; a long one overflows the visited points and
// must be ended by the step cap of 120 points, not by the time running out.
class RingStreetTest : public IntersectionSearchTest, public ::testing::WithParamInterface<int> {};

TEST_P(RingStreetTest, EndsQuicklyWithoutAnIntersection) {
  const int pieces = GetParam();
  Load(Ring(pieces));
  // Halfway along the first piece, on the ring's southern side.
  const TiPoint a = RingCorner(0, pieces);
  const TiPoint b = RingCorner(1, pieces);
  const TiPoint from{(a.x + b.x) / 2, (a.y + b.y) / 2};
  for (const std::int32_t start : {90, -1}) {
    SCOPED_TRACE(start);
    std::int32_t heading = start;
    CountingClock clock;
    platform::SetClock(&clock);
    EXPECT_TRUE(SamePoint(Search(from, &heading), kNone));
    platform::SetClock(nullptr);
    EXPECT_GT(clock.reads, 1);
    EXPECT_LE(clock.reads, 1 + 120 + 1) << "more points examined than the step cap lets the walk take";
    EXPECT_EQ(heading, start);
    EXPECT_FALSE(TimedOut());
  }
  const DegreePoint p = MapUnitsToDegrees(from.x, from.y);
  EXPECT_EQ(map_->FindNearestIntersection(p.latitude, p.longitude, 90, 1), -1);
  EXPECT_EQ(map_->GetIntersectionNameText(p.latitude, p.longitude, 90, false, false), u"");
}

INSTANTIATE_TEST_SUITE_P(Pieces, RingStreetTest, ::testing::Values(8, 140));

TEST_F(IntersectionSearchTest, OutOfTimeTheBestPointSoFarIsTheAnswer) {
  // Ash St between the crossings S (walked first) and N (nearer the user).
  const TiPoint s = At(500, 500);
  const TiPoint n = At(500, 1500);
  Load({Street("Ash St", {s, n}), Street("West Rd", {At(0, 500), s}), Street("West Rd", {s, At(1000, 500)}),
        Street("East Rd", {At(0, 1500), n}), Street("East Rd", {n, At(1000, 1500)})});
  const TiPoint from = At(500, 1300);
  std::int32_t heading = -1;
  ASSERT_TRUE(SamePoint(Search(from, &heading), n));
  ASSERT_FALSE(TimedOut());

  HastyClock clock;
  platform::SetClock(&clock);
  heading = -1;
  EXPECT_TRUE(SamePoint(Search(from, &heading), s));
  EXPECT_TRUE(TimedOut());
}

}  // namespace
