// Tests of the features-near-a-point search over small street maps written
// by the builder: the nearest stretch inside a long segment (fractions, the
// heading and one-way marks), the parts through a junction with and without
// a heading and under the walking and driving profiles, the output's
// capacity and overflow, the argument checks, the caller's query settings
// after every kind of exit, and the small pieces the search is built from
// (angle windows, segment headings, the parts at a node).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/features/RmfFeatureAttr.h"
#include "mapengine/format/features/RmfFeaturesNear.h"
#include "mapengine/format/features/RmfProfile.h"
#include "mapengine/format/features/RmfQuery.h"
#include "mapengine/format/store/RmfReader.h"
#include "mapengine/format/store/RmfTagArena.h"
#include "tests/mapengine/format/features/RmfFeatureRefPrint.h"
#include "tests/mapengine/format/features/RmfQueryFixture.h"
#include "tests/mapengine/format/features/TestProfiles.h"
#include "tools/rmfbuild/RmfBuilder.h"
#include "tools/rmfbuild/RmfFeatures.h"
#include "tools/rmfbuild/RmfMemoryReader.h"

namespace {

using rmfbuild::Feature;
using rmfbuild::FeatureCategory;
using rmfbuild::FeatureClass;
using rmfbuild::OneWay;

constexpr std::int32_t kX0 = 100000;
constexpr std::int32_t kY0 = 200000;
constexpr std::int32_t k45Degrees = 0x2000000;
constexpr std::int32_t kEast = 0;
constexpr std::int32_t kNorth = 0x4000000;
constexpr std::int32_t kWest = 0x8000000;
constexpr std::int32_t kSouth = -0x4000000;
constexpr std::int32_t kTurn = 0x10000000;
constexpr std::int32_t kNoHeading = -1;

constexpr std::uint16_t kArrive = 0x4400;  // point reference at the to vertex
constexpr std::uint16_t kLeave = 0x4000;   // at the from vertex
constexpr std::uint16_t kH = kRmfPositionHeading;

enum class Profile { kNone, kWalking, kDriving };

struct Street {
  std::string name;
  std::vector<TiPoint> points;
  OneWay way = OneWay::kBoth;
};

TiPoint At(std::int32_t dx, std::int32_t dy) { return TiPoint{kX0 + dx, kY0 + dy}; }

bool RefLess(const RmfFeatureRef& a, const RmfFeatureRef& b) {
  return std::tie(a.featureId, a.source, a.secondId, a.part, a.fromVertex, a.toVertex, a.position) <
         std::tie(b.featureId, b.source, b.secondId, b.part, b.fromVertex, b.toVertex, b.position);
}

std::vector<RmfFeatureRef> Sorted(std::vector<RmfFeatureRef> refs) {
  std::sort(refs.begin(), refs.end(), RefLess);
  return refs;
}

// Bytes in arena blocks that cannot be evicted: fixed blocks and pinned
// ones (records held).
std::uint64_t PinnedBytes(RmfReader* reader) {
  std::vector<rmf::detail::TagRegionReport> regions;
  std::string fault;
  EXPECT_TRUE(rmf::detail::TagArenaCheck(reader->arena, &regions, nullptr, &fault)) << fault;
  std::uint64_t sum = 0;
  for (const auto& region : regions) {
    for (const auto& block : region.blocks) {
      if (block.references > 0 && (block.fixed || block.pins > 0)) sum += block.size;
    }
  }
  return sum;
}

class NearTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(reader_, nullptr); }

  // Builds the streets (detail level 1, class 5, each with its route-class
  // attribute) into one map and adds it to the reader as its next source;
  // the streets are numbered on from those of the maps opened before. Every
  // street must come out as one part. The search is set to the map engine's
  // street classes.
  void Open(const std::vector<Street>& streets, bool sharePoints = true) {
    rmfbuild::FeatureMap map;
    map.sharePoints = sharePoints;
    map.tileLevels[0] = {0, 6};  // long streets go to a larger tile instead of being cut
    for (const Street& s : streets) {
      Feature f = Feature::Line(FeatureClass{1, 5, FeatureCategory::kLine}, s.name, s.points);
      f.Attribute(rmfbuild::RouteClassAttribute(1, rmfbuild::RoadValue('3', '1', '3'), s.name, s.way));
      map.Add(f);
    }
    rmfbuild::FeatureBuild built;
    const std::int32_t sources = maps_.AddFeatures(map, &built);
    ASSERT_GE(sources, 1) << maps_.error();
    const auto source = static_cast<std::uint16_t>(sources - 1);
    for (std::size_t s = 0; s < streets.size(); ++s) {
      const auto pieces = built.PiecesOf(s);
      ASSERT_EQ(pieces.size(), 1u) << streets[s].name;
      RmfFeatureRef whole{pieces[0]->tileId, source, pieces[0]->sequence, pieces[0]->entry, 0, 0, kRmfPositionWhole};
      RmfFeature* slot = nullptr;
      ASSERT_EQ(RmfFeatureFetch(reader_, whole, &slot, nullptr), 1);
      ASSERT_EQ(RmfFeatureSelectPart(slot, whole.part, 0, nullptr), 0);
      whole.fromVertex = static_cast<std::uint16_t>(slot->firstVertex);  // after the attribute word
      (void)RmfFeatureRelease(slot);
      first_.push_back(whole);
    }
    RmfQuerySetClassFilter(reader_, 'R', "4567");
  }

  // A reference to street s from vertex `from` to vertex `to` (counted from
  // its first vertex).
  RmfFeatureRef Ref(int s, int from, int to, std::uint16_t position) const {
    RmfFeatureRef r = first_[static_cast<std::size_t>(s)];
    r.fromVertex = static_cast<std::uint16_t>(r.fromVertex + from);
    r.toVertex = static_cast<std::uint16_t>(first_[static_cast<std::size_t>(s)].fromVertex + to);
    r.position = position;
    return r;
  }

  void Install(Profile p) {
    if (p == Profile::kNone) {
      ASSERT_EQ(RmfProfileReset(reader_), 0);
    } else {
      ASSERT_EQ(RmfProfileSetCallbacks(reader_, p == Profile::kWalking ? testprofiles::Walking : testprofiles::Driving,
                                       nullptr, nullptr, kRmfProfileEngineLimit),
                1);
    }
  }

  // The search at `at`: its result, and the references it wrote.
  std::int32_t Near(TiPoint at, std::int32_t radius, std::int32_t heading, std::int32_t tolerance,
                    std::vector<RmfFeatureRef>* refs, std::int32_t capacity = 64) {
    std::vector<RmfFeatureRef> out(static_cast<std::size_t>(capacity));
    std::int32_t overflow = -1;
    const std::int32_t n =
        RmfFeaturesNear(reader_, at.x, at.y, radius, heading, tolerance, out.data(), capacity, &overflow);
    EXPECT_EQ(overflow, 0);
    if (refs != nullptr) refs->assign(out.begin(), out.begin() + std::clamp(n, 0, capacity));
    return n;
  }

  std::int32_t Uses() {
    std::int32_t uses = -1;
    (void)RmfFeatureSlotUsage(reader_, nullptr, &uses);
    return uses;
  }

  rmfbuild::MemoryReader maps_;
  RmfReader* const reader_ = maps_.reader();
  std::vector<RmfFeatureRef> first_;  // source, part and first vertex position of each street
};

// ---- inside a long segment --------------------------------------------------------

// Three straight streets of one 20,000-unit segment each, two-way, one-way
// along the vertex order ("+") and against it ("-"); the position lies 150
// units beside each, 7,000 units from its first vertex, so both ends are far
// beyond the radius and the query cuts the segment at the search square.
TEST_F(NearTest, InsideALongSegment) {
  enum { kTwoWay, kAlong, kAgainst };
  const std::int32_t kLength = 20000;
  const std::int32_t kAlongX = 7000;
  std::vector<Street> streets;
  for (const auto& [name, way] : {std::pair{"Two Way", OneWay::kBoth}, std::pair{"Along", OneWay::kAlong},
                                  std::pair{"Against", OneWay::kAgainst}}) {
    const std::int32_t y = 8000 * static_cast<std::int32_t>(streets.size());
    streets.push_back(Street{name, {At(0, y), At(kLength, y)}, way});
  }
  ASSERT_NO_FATAL_FAILURE(Open(streets));

  struct Case {
    const char* what;
    int street;
    std::int32_t heading;
    std::int32_t tolerance;
    int forward;   // 1: a reference in vertex order expected
    int backward;  // 1: one against it
  };
  const Case cases[] = {
      {"two-way, no heading", kTwoWay, 0, kNoHeading, 1, 1},
      {"two-way, heading east", kTwoWay, kEast, k45Degrees, 1, 0},
      {"two-way, heading east a turn later", kTwoWay, kEast + kTurn, k45Degrees, 1, 0},
      {"two-way, heading north-east", kTwoWay, kNorth / 2 - 0x100000, k45Degrees, 1, 0},
      {"two-way, heading west", kTwoWay, kWest, k45Degrees, 0, 1},
      {"two-way, heading west from below", kTwoWay, -kWest, k45Degrees, 0, 1},
      {"two-way, heading north", kTwoWay, kNorth, k45Degrees, 0, 0},
      {"along, heading east", kAlong, kEast, k45Degrees, 1, 0},
      {"along, heading west", kAlong, kWest, k45Degrees, 0, 0},
      {"against, heading east", kAgainst, kEast, k45Degrees, 0, 0},
      {"against, heading west", kAgainst, kWest, k45Degrees, 0, 1},
      {"against, no heading", kAgainst, 0, kNoHeading, 1, 1},
  };
  const double exact = 1024.0 * kAlongX / kLength;  // 358.4
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::int32_t y = 8000 * c.street;
    std::vector<RmfFeatureRef> refs;
    const std::int32_t n = Near(At(kAlongX, y + 150), 1000, c.heading, c.tolerance, &refs);
    ASSERT_EQ(n, c.forward + c.backward);
    EXPECT_EQ(reader_->lastError, 0);
    if (n == 0) continue;
    const std::uint16_t h = c.tolerance >= 0 ? kH : 0;
    // The first reference fixes the fraction; the other direction names the
    // same point from the other end.
    const RmfFeatureRef& first = refs[0];
    const bool firstForward = c.forward == 1;
    const std::int32_t f = (first.position & kRmfPositionFraction);
    const std::int32_t forwardFraction = firstForward ? f : 1024 - f;
    EXPECT_LE(std::abs(forwardFraction - exact), 1.0) << first;
    std::vector<RmfFeatureRef> expected;
    if (c.forward == 1) {
      expected.push_back(Ref(c.street, 0, 1, static_cast<std::uint16_t>(kLeave | h | forwardFraction)));
    }
    if (c.backward == 1) {
      expected.push_back(Ref(c.street, 1, 0, static_cast<std::uint16_t>(kLeave | h | (1024 - forwardFraction))));
    }
    EXPECT_EQ(refs, expected);
    // Each reference names a point within a fraction step of the foot of the
    // perpendicular.
    for (RmfFeatureRef r : refs) {
      r.position = static_cast<std::uint16_t>(r.position & ~kH);
      TiPoint p{};
      ASSERT_EQ(RmfFeatureRefPoint(reader_, &r, &p), 0) << r;
      EXPECT_NEAR(p.x, kX0 + kAlongX, kLength / 1024 + 1) << r;
      EXPECT_EQ(p.y, kY0 + y) << r;
    }
  }
  EXPECT_EQ(Uses(), 0);
}

// Distances are measured with x scaled by the cosine of the latitude: at 60
// degrees a street 1,400 units east lies 700 units away and must be found
// with a radius of 1,000 (a square of 1,000 units would not reach it); one
// 2,200 units east (1,100 away) must not.
TEST_F(NearTest, RadiusIsADistanceAtHighLatitudes) {
  const std::int32_t y60 = kTurn / 6;  // 60 degrees north
  const std::int32_t x = kX0;
  ASSERT_NO_FATAL_FAILURE(Open({{"Near", {{x + 1400, y60 - 3000}, {x + 1400, y60 + 3000}}},
                                {"Far", {{x - 2200, y60 - 3000}, {x - 2200, y60 + 3000}}}}));
  std::vector<RmfFeatureRef> refs;
  ASSERT_EQ(Near(TiPoint{x, y60}, 1000, 0, kNoHeading, &refs), 2);
  EXPECT_EQ(refs[0].featureId, first_[0].featureId);
  EXPECT_EQ(refs[0].part, first_[0].part);
  EXPECT_NEAR(refs[0].position & kRmfPositionFraction, 512, 1);
  // Moved 500 units west, the near street is 950 away and the far one 850.
  ASSERT_EQ(Near(TiPoint{x - 500, y60}, 1000, 0, kNoHeading, &refs), 2);
  EXPECT_EQ(refs[0].part, first_[1].part);
  EXPECT_EQ(Near(TiPoint{x - 500, y60}, 800, 0, kNoHeading, &refs), 0);
}

// ---- junctions ------------------------------------------------------------------------

// Three junctions, 20,000 units apart:
//  T: a through road west-east (middle vertex at the junction) and a side
//     street leaving it to the north;
//  crossing: the same through road and a street crossing it south-north;
//  Y: the through road and a street leaving east-north-east that may only be
//     driven toward the junction ("-").
// The position lies 50 units south-west of each junction: nearest to the
// through road, inside its western segment, and snapped to the junction.
TEST_F(NearTest, PartsThroughAJunction) {
  enum { kThroughT, kSide, kThroughX, kCross, kThroughY, kDiagonal };
  const auto through = [](const char* name, std::int32_t y) {
    return Street{name, {At(-3000, y), At(0, y), At(3000, y)}};
  };
  ASSERT_NO_FATAL_FAILURE(Open({through("Through T", 0),
                                {"Side", {At(0, 0), At(0, 3000)}},
                                through("Through X", 20000),
                                {"Cross", {At(0, 17000), At(0, 20000), At(0, 23000)}},
                                through("Through Y", 40000),
                                {"Diagonal", {At(0, 40000), At(3000, 41000)}, OneWay::kAgainst}}));
  struct Case {
    const char* what;
    std::int32_t junctionY;
    std::int32_t heading;
    std::int32_t tolerance;
    Profile profile;
    std::vector<RmfFeatureRef> expected;
  };
  const Case cases[] = {
      {"T, no heading",
       0,
       0,
       kNoHeading,
       Profile::kNone,
       {Ref(kThroughT, 0, 1, kArrive), Ref(kThroughT, 1, 2, kLeave), Ref(kSide, 0, 1, kLeave)}},
      {"T, east",
       0,
       kEast,
       k45Degrees,
       Profile::kNone,
       {Ref(kThroughT, 0, 1, kArrive | kH), Ref(kThroughT, 1, 2, kLeave | kH)}},
      {"T, west",
       0,
       kWest,
       k45Degrees,
       Profile::kNone,
       {Ref(kThroughT, 1, 0, kLeave | kH), Ref(kThroughT, 2, 1, kArrive | kH)}},
      {"T, north", 0, kNorth, k45Degrees, Profile::kNone, {Ref(kSide, 0, 1, kLeave | kH)}},
      {"T, south", 0, kSouth, k45Degrees, Profile::kNone, {Ref(kSide, 1, 0, kArrive | kH)}},
      {"crossing, no heading",
       20000,
       0,
       kNoHeading,
       Profile::kNone,
       {Ref(kThroughX, 0, 1, kArrive), Ref(kThroughX, 1, 2, kLeave), Ref(kCross, 0, 1, kArrive),
        Ref(kCross, 1, 2, kLeave)}},
      {"crossing, north",
       20000,
       kNorth,
       k45Degrees,
       Profile::kNone,
       {Ref(kCross, 0, 1, kArrive | kH), Ref(kCross, 1, 2, kLeave | kH)}},
      {"Y, no heading, driving",
       40000,
       0,
       kNoHeading,
       Profile::kDriving,
       {Ref(kThroughY, 0, 1, kArrive), Ref(kThroughY, 1, 2, kLeave), Ref(kDiagonal, 0, 1, kLeave)}},
      {"Y, east, no profile",
       40000,
       kEast,
       k45Degrees,
       Profile::kNone,
       {Ref(kThroughY, 0, 1, kArrive | kH), Ref(kThroughY, 1, 2, kLeave | kH), Ref(kDiagonal, 0, 1, kLeave | kH)}},
      {"Y, east, walking",
       40000,
       kEast,
       k45Degrees,
       Profile::kWalking,
       {Ref(kThroughY, 0, 1, kArrive | kH), Ref(kThroughY, 1, 2, kLeave | kH), Ref(kDiagonal, 0, 1, kLeave | kH)}},
      {"Y, east, driving: the diagonal is closed away from the junction",
       40000,
       kEast,
       k45Degrees,
       Profile::kDriving,
       {Ref(kThroughY, 0, 1, kArrive | kH), Ref(kThroughY, 1, 2, kLeave | kH)}},
      {"Y, west, driving",
       40000,
       kWest,
       k45Degrees,
       Profile::kDriving,
       {Ref(kThroughY, 1, 0, kLeave | kH), Ref(kThroughY, 2, 1, kArrive | kH), Ref(kDiagonal, 1, 0, kArrive | kH)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_NO_FATAL_FAILURE(Install(c.profile));
    std::vector<RmfFeatureRef> refs;
    const std::int32_t n = Near(At(-40, c.junctionY - 30), 500, c.heading, c.tolerance, &refs);
    EXPECT_EQ(n, static_cast<std::int32_t>(c.expected.size()));
    EXPECT_EQ(Sorted(refs), Sorted(c.expected));
    EXPECT_EQ(reader_->lastError, 0);
  }
  EXPECT_EQ(Uses(), 0);
}

// A position that is nearest to a vertex far from any junction still gives
// the part's segments at that vertex, and the position right on the
// junction gives the same answer as one beside it.
TEST_F(NearTest, VertexAndExactJunction) {
  ASSERT_NO_FATAL_FAILURE(Open({{"Bend", {At(-3000, 0), At(0, 0), At(0, 3000)}}}));
  std::vector<RmfFeatureRef> refs;
  ASSERT_EQ(Near(At(30, -30), 500, 0, kNoHeading, &refs), 2);
  EXPECT_EQ(Sorted(refs), Sorted({Ref(0, 0, 1, kArrive), Ref(0, 1, 2, kLeave)}));
  std::vector<RmfFeatureRef> onIt;
  ASSERT_EQ(Near(At(0, 0), 500, 0, kNoHeading, &onIt), 2);
  EXPECT_EQ(Sorted(onIt), Sorted(refs));
}

// A record written without shared points holds the junction once per
// street: every entry counts.
TEST_F(NearTest, JunctionWithoutSharedPoints) {
  ASSERT_NO_FATAL_FAILURE(
      Open({{"Through", {At(-1000, 0), At(0, 0), At(1000, 0)}}, {"Side", {At(0, 0), At(0, 1000)}}}, false));
  ASSERT_EQ(first_[0].featureId, first_[1].featureId);  // one record
  ASSERT_EQ(first_[0].secondId, first_[1].secondId);
  std::vector<RmfFeatureRef> refs;
  ASSERT_EQ(Near(At(-40, -30), 500, 0, kNoHeading, &refs), 3);
  EXPECT_EQ(Sorted(refs), Sorted({Ref(0, 0, 1, kArrive), Ref(0, 1, 2, kLeave), Ref(1, 0, 1, kLeave)}));
}

// Two maps that meet at a junction: the parts of both come back.
TEST_F(NearTest, JunctionAcrossSources) {
  ASSERT_NO_FATAL_FAILURE(Open({{"Through", {At(-3000, -200), At(0, 0), At(3000, -200)}}}));
  ASSERT_NO_FATAL_FAILURE(Open({{"Side", {At(0, 0), At(0, 3000), At(500, 3500)}}}));
  ASSERT_EQ(first_[1].source, 1);
  std::vector<RmfFeatureRef> refs;
  ASSERT_EQ(Near(At(-40, -30), 500, 0, kNoHeading, &refs), 3);
  EXPECT_EQ(Sorted(refs), Sorted({Ref(0, 0, 1, kArrive), Ref(0, 1, 2, kLeave), Ref(1, 0, 1, kLeave)}));
  // Nearer to the side street, which ends at the junction: the same answer.
  ASSERT_EQ(Near(At(30, 40), 500, 0, kNoHeading, &refs), 3);
  EXPECT_EQ(Sorted(refs), Sorted({Ref(0, 0, 1, kArrive), Ref(0, 1, 2, kLeave), Ref(1, 0, 1, kLeave)}));
}

// A map of one street running due north has a box of no width, one of a
// street running due east a box of no height. The search finds the street
// inside a segment and at a vertex, from either side.
TEST_F(NearTest, StreetsOnOneMeridianOrOneParallel) {
  ASSERT_NO_FATAL_FAILURE(Open({{"North", {At(0, 0), At(0, 4000), At(0, 8000)}}}));
  ASSERT_NO_FATAL_FAILURE(Open({{"East", {At(50000, 0), At(54000, 0), At(58000, 0)}}}));
  ASSERT_EQ(reader_->sources[0]->header.box.x1, reader_->sources[0]->header.box.x2);
  ASSERT_EQ(reader_->sources[1]->header.box.y1, reader_->sources[1]->header.box.y2);
  struct Case {
    const char* what;
    TiPoint at;
    std::vector<RmfFeatureRef> refs;  // inside a segment: without the fraction, which is half-way
  };
  const Case cases[] = {
      {"east of the north street, inside a segment", At(150, 2000), {Ref(0, 0, 1, kLeave), Ref(0, 1, 0, kLeave)}},
      {"west of it, at a vertex", At(-100, 4050), {Ref(0, 0, 1, kArrive), Ref(0, 1, 2, kLeave)}},
      {"north of its last vertex", At(30, 8100), {Ref(0, 1, 2, kArrive)}},
      {"north of the east street, inside a segment", At(52000, 150), {Ref(1, 0, 1, kLeave), Ref(1, 1, 0, kLeave)}},
      {"south of it, at a vertex", At(54050, -100), {Ref(1, 0, 1, kArrive), Ref(1, 1, 2, kLeave)}},
      {"west of its first vertex", At(49900, 30), {Ref(1, 0, 1, kLeave)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<RmfFeatureRef> refs;
    EXPECT_EQ(Near(c.at, 500, 0, kNoHeading, &refs), static_cast<std::int32_t>(c.refs.size()));
    EXPECT_EQ(reader_->lastError, 0);
    for (RmfFeatureRef& r : refs) {
      const std::int32_t fraction = r.position & kRmfPositionFraction;
      if (fraction == 0 || fraction == kRmfPositionWhole) continue;
      EXPECT_LE(std::abs(fraction - kRmfPositionWhole / 2), 1) << r;
      r.position = static_cast<std::uint16_t>(r.position & ~kRmfPositionFraction);
    }
    EXPECT_EQ(Sorted(refs), Sorted(c.refs));
  }
}

// ---- capacity and overflow --------------------------------------------------------------

// Spokes leaving one point: one reference each at the hub.
std::vector<Street> Star(int spokes, TiPoint hub) {
  std::vector<Street> streets;
  for (int k = 0; k < spokes; ++k) {
    const double angle = (5.0 + 360.0 * k / spokes) * M_PI / 180.0;
    const TiPoint end{hub.x + static_cast<std::int32_t>(std::lround(2000 * std::cos(angle))),
                      hub.y + static_cast<std::int32_t>(std::lround(2000 * std::sin(angle)))};
    streets.push_back(Street{"Spoke " + std::to_string(k), {hub, end}});
  }
  return streets;
}

TEST_F(NearTest, CapacityAndOverflow) {
  const TiPoint hub = At(0, 0);
  ASSERT_NO_FATAL_FAILURE(Open(Star(20, hub)));
  const TiPoint at{hub.x + 5, hub.y + 3};
  std::vector<RmfFeatureRef> all;
  ASSERT_EQ(Near(at, 300, 0, kNoHeading, &all), 20);
  std::vector<RmfFeatureRef> expected;
  for (int k = 0; k < 20; ++k) expected.push_back(Ref(k, 0, 1, kLeave));
  EXPECT_EQ(Sorted(all), Sorted(expected));

  struct Case {
    std::int32_t capacity;
    bool withOverflow;
    std::int32_t result;
    std::int32_t overflow;
  };
  const Case cases[] = {
      {15, true, 15, 5}, {15, false, 20, -1}, {19, true, 19, 1}, {20, true, 20, 0}, {30, true, 20, 0}, {1, true, 1, 19},
  };
  const RmfFeatureRef sentinel{0xABCDEF01u, 7, 7, 7, 7, 7, 7};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "capacity " << c.capacity << (c.withOverflow ? " with" : " without")
                                    << " overflow");
    std::vector<RmfFeatureRef> out(static_cast<std::size_t>(c.capacity) + 1, sentinel);
    std::int32_t overflow = -1;
    const std::int32_t n = RmfFeaturesNear(reader_, at.x, at.y, 300, 0, kNoHeading, out.data(), c.capacity,
                                           c.withOverflow ? &overflow : nullptr);
    EXPECT_EQ(n, c.result);
    EXPECT_EQ(overflow, c.overflow);
    const std::size_t written = static_cast<std::size_t>(std::min(c.capacity, 20));
    // Written in the same order as a search with room for all.
    EXPECT_EQ(std::vector<RmfFeatureRef>(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(written)),
              std::vector<RmfFeatureRef>(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(written)));
    for (std::size_t k = written; k < out.size(); ++k) EXPECT_EQ(out[k], sentinel) << k;
  }
}

// More parts through the junction than the first part list holds (32), and
// one part through it more often than the first position list holds (16):
// a flower of 20 petals drawn as one line that returns to its centre after
// each petal. Each pass through the centre gives its arriving and leaving
// segment once, however often the part is listed.
TEST_F(NearTest, ListsGrowAtABusyJunction) {
  const TiPoint hub = At(0, 0);
  std::vector<Street> streets = Star(40, hub);
  const TiPoint flowerHub = At(0, 30000);
  Street flower{"Flower", {flowerHub}};
  for (int k = 1; k <= 20; ++k) {
    const double angle = (18.0 * k + 3.0) * M_PI / 180.0;
    flower.points.push_back(TiPoint{flowerHub.x + static_cast<std::int32_t>(std::lround(1000 * std::cos(angle))),
                                    flowerHub.y + static_cast<std::int32_t>(std::lround(1000 * std::sin(angle)))});
    flower.points.push_back(flowerHub);
  }
  streets.push_back(flower);
  ASSERT_NO_FATAL_FAILURE(Open(streets));

  std::vector<RmfFeatureRef> refs;
  ASSERT_EQ(Near(TiPoint{hub.x + 5, hub.y + 3}, 300, 0, kNoHeading, &refs, 64), 40);
  std::vector<RmfFeatureRef> expected;
  for (int k = 0; k < 40; ++k) expected.push_back(Ref(k, 0, 1, kLeave));
  EXPECT_EQ(Sorted(refs), Sorted(expected));

  ASSERT_EQ(Near(TiPoint{flowerHub.x + 5, flowerHub.y + 3}, 300, 0, kNoHeading, &refs, 64), 40);
  expected.clear();
  for (int pass = 0; pass <= 20; ++pass) {
    if (pass > 0) expected.push_back(Ref(40, 2 * pass - 1, 2 * pass, kArrive));
    if (pass < 20) expected.push_back(Ref(40, 2 * pass, 2 * pass + 1, kLeave));
  }
  EXPECT_EQ(Sorted(refs), Sorted(expected));
  EXPECT_EQ(Uses(), 0);
}

// ---- arguments ------------------------------------------------------------------------------

TEST_F(NearTest, BadArguments) {
  ASSERT_NO_FATAL_FAILURE(Open({{"Main", {At(-3000, 0), At(3000, 0)}}}));
  RmfFeatureRef out[4];
  struct Case {
    const char* what;
    std::int32_t radius;
    std::int32_t lowest;
    std::int32_t highest;
    bool withOut;
    std::int32_t capacity;
  };
  const Case cases[] = {
      {"level 0", 500, 0, 8, true, 4},    {"level 9", 500, 1, 9, true, 4},      {"levels 9..1", 500, 9, 1, true, 4},
      {"capacity 0", 500, 1, 8, true, 0}, {"capacity -1", 500, 1, 8, true, -1}, {"radius 0", 0, 1, 8, true, 4},
      {"radius -5", -5, 1, 8, true, 4},   {"no output", 500, 1, 8, false, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::int32_t overflow = 99;
    RmfFeatureRef* o = c.withOut ? out : nullptr;
    reader_->lastError = 0;
    EXPECT_EQ(RmfFeaturesNearPointLevels(reader_, kX0, kY0, c.radius, 0, kNoHeading, c.lowest, c.highest, o, c.capacity,
                                         &overflow),
              kRmfBadArgument);
    EXPECT_EQ(reader_->lastError, kRmfBadArgument);
    reader_->lastError = 0;
    EXPECT_EQ(
        RmfFeaturesNearPoint(reader_, kX0, kY0, c.radius, 0, kNoHeading, c.lowest, c.highest, o, c.capacity, &overflow),
        kRmfBadArgument);
    EXPECT_EQ(reader_->lastError, kRmfBadArgument);
    EXPECT_EQ(overflow, 99);
  }
  reader_->lastError = 0;
  EXPECT_EQ(RmfFeaturesNear(reader_, kX0, kY0, 0, 0, kNoHeading, out, 4, nullptr), kRmfBadArgument);
  EXPECT_EQ(reader_->lastError, kRmfBadArgument);

  RmfReader closed{};
  for (RmfReader* r : {static_cast<RmfReader*>(nullptr), &closed}) {
    EXPECT_EQ(RmfFeaturesNear(r, kX0, kY0, 500, 0, kNoHeading, out, 4, nullptr), 0);
    EXPECT_EQ(RmfFeaturesNearPointLevels(r, kX0, kY0, 500, 0, kNoHeading, 1, 8, out, 4, nullptr), 0);
    EXPECT_EQ(RmfFeaturesNearPoint(r, kX0, kY0, 500, 0, kNoHeading, 1, 8, out, 4, nullptr), 0);
  }

  // The largest radius and positions beyond the world are searched, not
  // refused: they give the nearest street (here its nearer end, where it
  // only leaves), or nothing.
  std::vector<RmfFeatureRef> refs;
  ASSERT_EQ(Near(At(-100, 100), 0x7fffffff, 0, kNoHeading, &refs), 1);
  EXPECT_EQ(refs[0], Ref(0, 0, 1, kLeave));
  EXPECT_EQ(Near(TiPoint{0x7fffffff, 0x7fffffff}, 500, 0, kNoHeading, &refs), 0);
  EXPECT_EQ(Near(TiPoint{INT32_MIN, INT32_MIN}, 0x7fffffff, kWest, k45Degrees, &refs), 0);
  // Levels without the map's data: nothing.
  EXPECT_EQ(RmfFeaturesNearPointLevels(reader_, kX0, kY0 + 100, 500, 0, kNoHeading, 2, 8, out, 4, nullptr), 0);
  EXPECT_EQ(Uses(), 0);
}

// ---- the caller's settings ----------------------------------------------------------------

class NearSettingsTest : public NearTest {
 protected:
  void SetUp() override {
    NearTest::SetUp();
    // A T junction and four streets far apart, each in a tile of its own.
    std::vector<Street> streets = {{"Through", {At(-3000, 0), At(0, 0), At(3000, 0)}},
                                   {"Side", {At(0, 0), At(0, 3000)}}};
    for (int k = 1; k <= 4; ++k)
      streets.push_back(Street{"Far " + std::to_string(k), {At(50000 * k, 0), At(50000 * k + 500, 0)}});
    ASSERT_NO_FATAL_FAILURE(Open(streets));
    // The caller's own query: other levels, filters, thinning and area.
    RmfQuerySetLevels(reader_, 1, 1);
    RmfQuerySetClassFilter(reader_, '0', "12");
    RmfQuerySetClassFilter(reader_, '1', "5");
    RmfQuerySetClassFilter(reader_, '2', "3");
    RmfQuerySetClassFilter(reader_, 'S', "9");
    RmfQuerySetGranularity(reader_, 7);
    RmfQuerySetRect(reader_, kX0 - 100, kY0 + 1000, kX0 + 100, kY0 + 1200);  // meets the side street only
    ASSERT_EQ(reader_->lastError, 0);
    before_ = CallerQuery();
    ASSERT_EQ(before_.size(), 1u);
    settings_ = reader_->query;
    snapMask_ = reader_->queryWork.snapMask;
    pinned_ = PinnedBytes(reader_);
  }

  // The caller's query run to its end: the hits' references and points.
  std::vector<std::pair<RmfFeatureRef, std::vector<TiPoint>>> CallerQuery() {
    std::vector<std::pair<RmfFeatureRef, std::vector<TiPoint>>> hits;
    RmfQueryStart(reader_);
    for (;;) {
      char code[6];
      std::int32_t count = 0;
      RmfFeatureRef ref{};
      TiPoint* points = nullptr;
      const std::int32_t n = RmfQueryNext(reader_, code, nullptr, nullptr, &count, &ref, &points);
      if (n <= 0) break;
      hits.emplace_back(ref, std::vector<TiPoint>(points, points + n));
    }
    return hits;
  }

  void ExpectUnchanged() {
    EXPECT_EQ(std::memcmp(&reader_->query, &settings_, sizeof settings_), 0);
    EXPECT_EQ(reader_->queryWork.snapMask, snapMask_);
    EXPECT_EQ(reader_->queryWork.nearPoint, 0);
    EXPECT_EQ(Uses(), 0);
    EXPECT_EQ(PinnedBytes(reader_), pinned_);
    const auto after = CallerQuery();
    ASSERT_EQ(after.size(), before_.size());
    for (std::size_t k = 0; k < after.size(); ++k) {
      EXPECT_EQ(after[k].first, before_[k].first);
      EXPECT_EQ(after[k].second.size(), before_[k].second.size());
    }
  }

  std::vector<std::pair<RmfFeatureRef, std::vector<TiPoint>>> before_;
  RmfQuerySettings settings_{};
  std::uint32_t snapMask_ = 0;
  std::uint64_t pinned_ = 0;
};

TEST_F(NearSettingsTest, RestoredWhenNothingIsNear) {
  std::vector<RmfFeatureRef> refs;
  EXPECT_EQ(Near(At(-1000, 200), 100, 0, kNoHeading, &refs), 0);
  EXPECT_EQ(reader_->lastError, 0);
  ExpectUnchanged();
}

TEST_F(NearSettingsTest, RestoredAfterAJunction) {
  std::vector<RmfFeatureRef> refs;
  EXPECT_EQ(Near(At(-40, -30), 500, 0, kNoHeading, &refs), 3);
  EXPECT_EQ(reader_->lastError, 0);
  ExpectUnchanged();
  EXPECT_EQ(Near(At(-1000, 150), 500, kEast, k45Degrees, &refs), 1);  // inside a segment
  ExpectUnchanged();
}

// With every feature slot held by the caller no record can be read at the
// junction: a failure, not an empty answer.
TEST_F(NearSettingsTest, RestoredWhenTheSlotsAreTaken) {
  RmfFeature* held[4] = {};
  for (int k = 0; k < 4; ++k) {
    const RmfFeatureRef far = first_[static_cast<std::size_t>(2 + k)];
    ASSERT_EQ(RmfFeatureFetch(reader_, far, &held[k], nullptr), 1) << k;
  }
  for (int k = 1; k < 4; ++k) ASSERT_NE(held[k], held[0]);
  RmfFeatureRef out[8];
  std::memset(out, 0xEE, sizeof out);
  std::int32_t overflow = -1;
  EXPECT_EQ(RmfFeaturesNear(reader_, kX0 - 40, kY0 - 30, 500, 0, kNoHeading, out, 8, &overflow), -1);
  EXPECT_EQ(reader_->lastError, -1);
  for (RmfFeature* slot : held) (void)RmfFeatureRelease(slot);
  ExpectUnchanged();
}

// A cancelled query ends the search with -127.
TEST_F(NearSettingsTest, RestoredWhenCancelled) {
  volatile std::int32_t cancel = 1;
  RmfQuerySetCancelFlag(reader_, &cancel);
  std::vector<RmfFeatureRef> refs;
  EXPECT_EQ(Near(At(-40, -30), 500, 0, kNoHeading, &refs), kRmfCancelled);
  EXPECT_EQ(reader_->lastError, kRmfCancelled);
  RmfQuerySetCancelFlag(reader_, nullptr);
  ExpectUnchanged();
}

// With the arena full, the search cannot save the caller's settings: it
// refuses at once (last error -3) and leaves everything as it was.
TEST_F(NearSettingsTest, RestoredWhenTheArenaIsFull) {
  std::vector<void*> filler;
  for (std::uint32_t size : {65536u, 4096u, 256u, 16u}) {
    for (;;) {
      void* block = RmfTagT4(reader_->arena, size, 0x46494C4C);
      if (block == nullptr) break;
      filler.push_back(block);
    }
  }
  ASSERT_FALSE(filler.empty());
  std::vector<RmfFeatureRef> refs;
  EXPECT_EQ(Near(At(-40, -30), 500, 0, kNoHeading, &refs), 0);
  EXPECT_EQ(reader_->lastError, kRmfNoMemory);
  EXPECT_EQ(std::memcmp(&reader_->query, &settings_, sizeof settings_), 0);
  for (void* block : filler) {
    (void)RmfTagT8(reader_->arena, block);
    (void)RmfTagT5(reader_->arena, block);
  }
  ExpectUnchanged();
  EXPECT_EQ(Near(At(-40, -30), 500, 0, kNoHeading, &refs), 3);
}

// ---- the pieces ------------------------------------------------------------------------------

TEST(AngleWithin, Windows) {
  struct Case {
    std::int32_t angle;
    std::int32_t reference;
    std::int32_t tolerance;
    std::int32_t within;
  };
  const Case cases[] = {
      {0, 0, 0, 1},
      {10, 0, 10, 1},
      {11, 0, 10, 0},
      {-10, 0, 10, 1},
      {-11, 0, 10, 0},
      {5, 0, -1, 0},                  // a negative tolerance holds nothing
      {0x10, kTurn - 0x10, 0x20, 1},  // just past a full turn, moved up
      {0x11, kTurn - 0x10, 0x20, 0},
      {kTurn - 3, 5, 10, 1},              // just below a full turn, moved down
      {kWest, -kWest + 0x100, 0x200, 1},  // half a turn is minus half a turn
      {-kWest + 0x100, kWest, 0x200, 1},
      {2 * kTurn, 0, 10, 0},  // moved by one turn only
      {kTurn, 0, 10, 1},
      {INT32_MAX, INT32_MAX, 0x7fffffff, 1},  // no overflow at the ends
      {INT32_MIN, INT32_MIN, 0x7fffffff, 1},
      {INT32_MIN, INT32_MAX, 0x7fffffff, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RmfAngleWithin(c.angle, c.reference, c.tolerance), c.within)
        << std::hex << c.angle << " " << c.reference << " " << c.tolerance;
  }
}

TEST(SegmentHeadingMatch, AlongAgainstAndNeither) {
  const TiPoint origin{0, 0};
  const TiPoint east{1000, 0};
  const TiPoint northWest{-1000, 1000};
  const TiPoint almostWest{-1000, -1};  // just south of west: its direction is near minus half a turn
  struct Case {
    const char* what;
    TiPoint to;
    std::int32_t heading;
    std::int32_t tolerance;
    std::int32_t verdict;
  };
  const Case cases[] = {
      {"east, heading east", east, kEast, 0x1000, 1},
      {"east, heading west", east, kWest, 0x1000, -1},
      {"east, heading minus west", east, -kWest, 0x1000, -1},
      {"east, heading a turn later", east, kTurn, 0x1000, 1},
      {"east, heading north", east, kNorth, k45Degrees, 0},
      {"east, heading north, tolerance 90 degrees", east, kNorth, kNorth, 1},
      {"east, no tolerance at all", east, kEast, -1, 0},
      {"north-west, heading north-west", northWest, kNorth + k45Degrees, 0x10000, 1},
      {"north-west, heading south-east", northWest, -k45Degrees, 0x10000, -1},
      {"almost west, heading west", almostWest, kWest, 0x100000, 1},
      {"almost west, heading east", almostWest, kEast, 0x100000, -1},
      {"almost west, heading south", almostWest, kSouth, k45Degrees, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RmfSegmentHeadingMatch(&origin, &c.to, c.heading, c.tolerance), c.verdict) << c.what;
  }
  EXPECT_EQ(RmfSegmentHeadingMatch(nullptr, &east, kEast, 0x1000), 0);
  EXPECT_EQ(RmfSegmentHeadingMatch(&origin, nullptr, kEast, 0x1000), 0);
}

// One record: parts of different levels and classes at a point J, one of
// them passing J twice, and one that does not touch it.
class PartsAtNodeTest : public rmfquerytest::QueryFixture {
 protected:
  void SetUp() override {
    QueryFixture::SetUp();
    const TiPoint j{kX0, kY0};
    rmfbuild::Tile t = rmfbuild::Tile::At(0, j);
    rmfbuild::Record& r = t.records.emplace_back();
    r.points = {j, {kX0 + 500, kY0}, {kX0, kY0 + 500}, {kX0 - 500, kY0}};  // J, A, B, C
    const auto part = [&](const char* code, std::vector<std::uint16_t> points) {
      rmfbuild::Part p;
      p.text = rmfbuild::TextTriple{code, code, ""};
      for (std::uint16_t i : points) p.words.push_back(rmfbuild::VertexWord::Point(i));
      r.parts.push_back(p);
    };
    part("151", {0, 1});           // 0: level 1, class 5
    part("141", {2, 0});           // 1: level 1, class 4
    part("251", {0, 3});           // 2: level 2, class 5
    part("131", {1, 0, 2, 0, 3});  // 3: level 1, class 3, through J twice
    part("151", {1, 2});           // 4: not at J
    rmfbuild::MapDescription d;
    d.tiles.push_back(t);
    ASSERT_NO_FATAL_FAILURE(Open(d));
    const RmfFeatureRef where{rmfbuild::TileIdOf(t), 0, 0, 0, 0, 0, 0};
    ASSERT_EQ(RmfFeatureFetch(reader_, where, &slot_, nullptr), 1);
  }
  void TearDown() override {
    (void)RmfFeatureRelease(slot_);
    QueryFixture::TearDown();
  }
  RmfFeature* slot_ = nullptr;
};

std::uint32_t Level(int level) { return 1u << (level - 1); }
std::uint32_t Class(int klass) { return 0x100u << (klass - 1); }

TEST_F(PartsAtNodeTest, MasksAndRepeatedPasses) {
  struct Case {
    const char* what;
    std::uint32_t maskA;
    std::uint32_t maskB;
    std::vector<std::int32_t> parts;
  };
  const Case cases[] = {
      {"level 1, class 5", Level(1), Class(5), {0}},
      {"levels 1-2, class 5", Level(1) | Level(2), Class(5), {0, 2}},
      {"level 1, classes 3-5", Level(1), Class(3) | Class(4) | Class(5), {0, 1, 3, 3}},
      {"everything", 0xFFFFFFFFu, 0xFFFFFFFFu, {0, 1, 2, 3, 3}},
      {"a class nobody has", Level(1), Class(7), {}},
      {"no levels", 0, 0xFFFFFFFFu, {}},
      {"no classes", 0xFFFFFFFFu, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::int32_t> parts(8, -7);
    const std::int32_t n = RmfFeaturePartsAtNode(slot_, 0, c.maskA, c.maskB, parts.data(), 8);
    ASSERT_EQ(n, static_cast<std::int32_t>(c.parts.size()));
    EXPECT_EQ(std::vector<std::int32_t>(parts.begin(), parts.begin() + n), c.parts);
  }
  // With every mask bit it lists what RmfFeaturePartsAtPoint lists, for
  // every point of the record.
  for (std::int32_t point = 0; point < 4; ++point) {
    std::int32_t a[16];
    std::int32_t b[16];
    const std::int32_t n = RmfFeaturePartsAtNode(slot_, point, 0xFFFFFFFFu, 0xFFFFFFFFu, a, 16);
    ASSERT_EQ(n, RmfFeaturePartsAtPoint(slot_, point, b, 16)) << point;
    EXPECT_TRUE(std::equal(a, a + n, b)) << point;
  }
}

TEST_F(PartsAtNodeTest, CapacityAndBadArguments) {
  std::int32_t parts[3] = {-7, -7, -7};
  EXPECT_EQ(RmfFeaturePartsAtNode(slot_, 0, 0xFFFFFFFFu, 0xFFFFFFFFu, parts, 2), 5);
  EXPECT_EQ(parts[0], 0);
  EXPECT_EQ(parts[1], 1);
  EXPECT_EQ(parts[2], -7);
  EXPECT_EQ(RmfFeaturePartsAtNode(slot_, 0, 0xFFFFFFFFu, 0xFFFFFFFFu, nullptr, 0), 5);
  EXPECT_EQ(RmfFeaturePartsAtNode(slot_, 0, 0xFFFFFFFFu, 0xFFFFFFFFu, nullptr, 1), kRmfBadArgument);
  EXPECT_EQ(RmfFeaturePartsAtNode(slot_, -1, 0xFFFFFFFFu, 0xFFFFFFFFu, parts, 3), 0);
  EXPECT_EQ(RmfFeaturePartsAtNode(slot_, 4, 0xFFFFFFFFu, 0xFFFFFFFFu, parts, 3), 0);
  EXPECT_EQ(RmfFeaturePartsAtNode(nullptr, 0, 0xFFFFFFFFu, 0xFFFFFFFFu, parts, 3), kRmfBadArgument);
  RmfFeature free{};
  EXPECT_EQ(RmfFeaturePartsAtNode(&free, 0, 0xFFFFFFFFu, 0xFFFFFFFFu, parts, 3), kRmfBadArgument);
}

}  // namespace
