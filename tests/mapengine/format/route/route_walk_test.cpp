// Stretch walks on built maps: continuations onto a part that costs the
// same, stops where it does not, loops, crossing a cell border, a coarser
// tile's junction, exact and estimated lengths, the next-junction walk, the
// junction-between test and the part ends at a node.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "mapengine/format/base/TiGeometry.h"
#include "mapengine/format/route/RmfRouteRecord.h"
#include "mapengine/format/route/RmfRouteWalk.h"
#include "mapengine/format/route/RmfTileRouteTable.h"
#include "tests/mapengine/format/route/RouteTableTestMap.h"

namespace {

using routetest::At;
using routetest::kCell;
using routetest::PartName;
using routetest::Record;
using routetest::Street;
using routetest::Table;
using routetest::TestMap;

std::uint32_t ExactLength(const std::vector<TiPoint>& points) {
  std::uint32_t sum = 0;
  for (std::size_t i = 1; i < points.size(); ++i) sum += static_cast<std::uint32_t>(TiDistance(&points[i - 1], &points[i]));
  return sum;
}

// A walk from the first (direction +1) or last (-1) vertex of a part, with
// its table joined down to level 0.
struct WalkRun {
  std::int32_t result = 0;
  RmfWalk walk{};
  std::int32_t pending = 0;
  std::vector<std::int32_t> vertices;  // of the part walked from
};

WalkRun WalkFrom(const TestMap& m, const PartName& p, std::int32_t direction, std::int32_t level, bool follow,
                 int tableLevel = 0, std::int32_t startIndex = -1) {
  WalkRun run;
  Table t(m.route(), p.key, tableLevel);
  Record rec(m.reader(), p.key);
  if (t.result() != 1 || rec.get() == nullptr) {
    ADD_FAILURE() << "no table or record";
    return run;
  }
  run.vertices = rec.Vertices(p.part);
  const std::int32_t start = startIndex >= 0 ? run.vertices[static_cast<std::size_t>(startIndex)]
                             : direction > 0 ? run.vertices.front()
                                             : run.vertices.back();
  run.result = RmfRouteWalk(m.route(), rec.get(), t.get(), p.part, start, nullptr, direction, direction, level,
                            follow ? 1 : 0, nullptr, 0, &run.walk, &run.pending);
  return run;
}

bool Same(const TiPoint& a, const TiPoint& b) { return a.x == b.x && a.y == b.y; }

// Two streets meet end to end at B; a cross street passes far away. The
// second street's drawing direction, one-way marks and speed decide whether
// a walk along the first crosses onto it.
struct ContinuationCase {
  const char* name;
  char speed2;
  int class2;
  bool reversed2;                  // the second street drawn from C back to B
  rmfbuild::OneWay way1, way2;
  bool follow;
  bool crosses;
};

class ContinuationTest : public ::testing::TestWithParam<ContinuationCase> {};

TEST_P(ContinuationTest, CrossesOnlyOntoAnIdenticalContinuation) {
  const ContinuationCase& c = GetParam();
  const TiPoint a = At(500, 500), b = At(1500, 700), cc = At(2500, 600);
  rmfbuild::FeatureMap map;
  rmfbuild::Feature first = Street("North", {a, b}, 3, '5');
  first.attributes[0] = rmfbuild::RouteClassAttribute(3, rmfbuild::RoadValue('3', ' ', '5'), "North", c.way1);
  map.Add(std::move(first));
  std::vector<TiPoint> second = c.reversed2 ? std::vector<TiPoint>{cc, b} : std::vector<TiPoint>{b, cc};
  rmfbuild::Feature next = Street("North", second, c.class2, c.speed2);
  next.attributes[0] =
      rmfbuild::RouteClassAttribute(c.class2, rmfbuild::RoadValue('3', ' ', c.speed2), "North", c.way2);
  map.Add(std::move(next));
  TestMap m(map);
  ASSERT_TRUE(m.ok());
  const WalkRun run = WalkFrom(m, m.Part(0), 1, 0, c.follow);
  ASSERT_EQ(run.result, 1);
  if (c.crosses) {
    EXPECT_TRUE(Same(run.walk.farPoint, cc));
    EXPECT_EQ(run.walk.flags, kRmfWalkRanToEnd);
    EXPECT_EQ(run.walk.length, ExactLength({a, b, cc}));
    EXPECT_EQ(run.walk.lastFeature.featureId, m.Part(1).key.a);
    EXPECT_EQ(run.walk.lastFeature.part, m.Part(1).part);
    EXPECT_EQ(run.walk.lastDirection, c.reversed2 ? -1 : 1);
    Record rec(m.reader(), m.Part(1).key);
    const std::vector<std::int32_t> v = rec.Vertices(m.Part(1).part);
    EXPECT_EQ(run.walk.farVertex, static_cast<std::uint32_t>(c.reversed2 ? v.front() : v.back()));
  } else {
    EXPECT_TRUE(Same(run.walk.farPoint, b));
    EXPECT_EQ(run.walk.farVertex, static_cast<std::uint32_t>(run.vertices.back()));
    EXPECT_EQ(run.walk.flags, 0u);
    EXPECT_EQ(run.walk.length, ExactLength({a, b}));
    EXPECT_EQ(run.walk.lastFeature.featureId, 0u);
  }
}

using rmfbuild::OneWay;
const ContinuationCase kContinuations[] = {
    {"same", '5', 3, false, OneWay::kBoth, OneWay::kBoth, true, true},
    {"same_drawn_back", '5', 3, true, OneWay::kBoth, OneWay::kBoth, true, true},
    {"not_followed", '5', 3, false, OneWay::kBoth, OneWay::kBoth, false, false},
    {"other_cost", '6', 3, false, OneWay::kBoth, OneWay::kBoth, true, false},
    {"other_class", '5', 4, false, OneWay::kBoth, OneWay::kBoth, true, false},
    {"one_way_on", '5', 3, false, OneWay::kAlong, OneWay::kAlong, true, true},
    {"one_way_on_drawn_back", '5', 3, true, OneWay::kAlong, OneWay::kAgainst, true, true},
    {"one_way_turned", '5', 3, true, OneWay::kAlong, OneWay::kAlong, true, false},
};
INSTANTIATE_TEST_SUITE_P(Cases, ContinuationTest, ::testing::ValuesIn(kContinuations),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RouteWalk, EstimatedLengthSumsTheFourCoefficientProducts) {
  const std::vector<TiPoint> pts = {At(500, 500), At(1500, 700), At(1700, 2500), At(1000, 3000)};
  rmfbuild::FeatureMap map;
  map.Add(Street("Bend", pts, 3));
  TestMap m(map);
  ASSERT_TRUE(m.ok());
  m.route()->modeFlags &= ~kRmfRouteModeExactLengths;
  const WalkRun run = WalkFrom(m, m.Part(0), 1, 0, false);
  ASSERT_EQ(run.result, 1);
  std::uint32_t c[4];
  ASSERT_EQ(TiDistCoeff(pts[0].y, &c[0], &c[1], &c[2], &c[3]), 1);
  std::uint64_t sums[4] = {0, 0, 0, 0};
  for (std::size_t i = 1; i < pts.size(); ++i) {
    const std::uint64_t dx = static_cast<std::uint64_t>(std::abs(pts[i].x - pts[i - 1].x));
    const std::uint64_t dy = static_cast<std::uint64_t>(std::abs(pts[i].y - pts[i - 1].y));
    sums[dx >= dy ? 0 : 2] += dx;
    sums[dx >= dy ? 1 : 3] += dy;
  }
  std::uint64_t want = 0;
  for (int i = 0; i < 4; ++i) want += (sums[i] * c[i]) >> 32;
  EXPECT_EQ(run.walk.length, want);
  EXPECT_EQ(run.walk.flags, kRmfWalkRanToEnd);
  // Within the estimate's tolerance of the exact length.
  EXPECT_NEAR(static_cast<double>(run.walk.length), ExactLength(pts), 0.2 * ExactLength(pts));
}

TEST(RouteWalk, LoopStopsWhereItStarted) {
  const TiPoint p = At(500, 500);
  rmfbuild::FeatureMap map;
  map.Add(Street("Ring", {p, At(1500, 500), At(1500, 1500), p}, 3));
  // Two halves of a second loop, each ending where the other starts.
  const TiPoint q = At(2500, 500), r = At(3500, 1500);
  map.Add(Street("Halves", {q, At(3500, 500), r}, 3));
  map.Add(Street("Halves", {r, At(2500, 1500), q}, 3));
  TestMap m(map);
  ASSERT_TRUE(m.ok());
  for (bool follow : {false, true}) {
    const WalkRun ring = WalkFrom(m, m.Part(0), 1, 0, follow);
    ASSERT_EQ(ring.result, 1);
    EXPECT_TRUE(Same(ring.walk.farPoint, p));
    EXPECT_EQ(ring.walk.farVertex, static_cast<std::uint32_t>(ring.vertices.back()));
    EXPECT_EQ(ring.walk.lastFeature.featureId, 0u);
  }
  // Round the two halves from q: through r onto the second half, and back
  // at q, which is where the first half started.
  const WalkRun halves = WalkFrom(m, m.Part(1), 1, 0, true);
  ASSERT_EQ(halves.result, 1);
  EXPECT_TRUE(Same(halves.walk.farPoint, q));
  EXPECT_EQ(halves.walk.lastFeature.part, m.Part(2).part);
  EXPECT_EQ(halves.walk.length, ExactLength({q, At(3500, 500), r, At(2500, 1500), q}));
}

TEST(RouteWalk, PartEndBelowTheLevelOrAtTheStartIsNoStretch) {
  rmfbuild::FeatureMap map;
  map.Add(Street("Lane", {At(500, 500), At(1500, 500), At(2500, 500)}, 2));
  TestMap m(map);
  ASSERT_TRUE(m.ok());
  EXPECT_EQ(WalkFrom(m, m.Part(0), 1, 2, true).result, 1);  // class 2 reaches level 2
  EXPECT_EQ(WalkFrom(m, m.Part(0), 1, 2, true).walk.levelReached, 0u);
  EXPECT_EQ(WalkFrom(m, m.Part(0), 1, 3, true).result, 0);  // but not level 3
  EXPECT_EQ(WalkFrom(m, m.Part(0), -1, 0, true, 0, 0).result, 0);  // nothing before the first vertex
  Table t(m.route(), m.Part(0).key, 0);
  Record rec(m.reader(), m.Part(0).key);
  RmfWalk walk{};
  EXPECT_EQ(RmfRouteWalk(m.route(), rec.get(), t.get(), m.Part(0).part, rec.Vertices(m.Part(0).part)[0], nullptr, 2,
                         0, 0, 1, nullptr, 0, &walk, nullptr),
            kRmfMalformed);
}

TEST(RouteWalk, CrossesACellBorderUnlessTheOtherTileHasAJunctionThere) {
  const TiPoint start = At(1000, 1000), border = At(kCell, 1000), end = At(2 * kCell - 1000, 1000);
  for (bool side : {false, true}) {
    SCOPED_TRACE(side ? "side street at the border" : "plain border");
    rmfbuild::FeatureMap map;
    map.Add(Street("Long", {start, end}, 3));
    if (side) map.Add(Street("Side", {border, At(kCell + 500, 2000)}, 2));
    TestMap m(map);
    ASSERT_TRUE(m.ok());
    ASSERT_EQ(m.PieceCount(0), 2u);
    const WalkRun run = WalkFrom(m, m.Part(0, 0), 1, 2, true);
    ASSERT_EQ(run.result, 1);
    if (side) {
      EXPECT_TRUE(Same(run.walk.farPoint, border));
      EXPECT_EQ(run.walk.levelReached, 3u);
    } else {
      EXPECT_TRUE(Same(run.walk.farPoint, end));
      EXPECT_EQ(run.walk.lastFeature.featureId, m.Part(0, 1).key.a);
      EXPECT_EQ(run.walk.flags, kRmfWalkRanToEnd);
    }
    EXPECT_EQ(run.walk.length, ExactLength({start, side ? border : end}));
  }
}

TEST(RouteWalk, JunctionOfAnotherLevelsTile) {
  rmfbuild::FeatureMap map;
  const TiPoint meet = At(3000, 2000);
  map.Add(Street("Ring", {At(500, 2000), meet, At(6000, 2000)}, 5, '5', 2));
  map.Add(Street("Lane", {At(3000, 500), meet}, 2));
  TestMap m(map);
  ASSERT_TRUE(m.ok());
  struct Case {
    int tableLevel;  // -1: built, not joined
    std::int32_t level;
    bool stops;
    bool coarser;
  };
  // Without the join the walk looks in the tiles of levels from its own up:
  // the lane's level-0 tile only for a walk at level 0. (The cases without
  // a join come first: a join stays in the route's cache.)
  for (const Case& c : {Case{-1, 0, true, true}, Case{-1, 2, false, false}, Case{-1, 3, false, false},
                        Case{0, 2, true, false}, Case{0, 3, false, false}}) {
    SCOPED_TRACE(testing::Message() << "table level " << c.tableLevel << ", walk level " << c.level);
    const WalkRun run = WalkFrom(m, m.Part(0), 1, c.level, true, c.tableLevel);
    ASSERT_EQ(run.result, 1);
    EXPECT_EQ(Same(run.walk.farPoint, meet), c.stops);
    EXPECT_EQ(run.walk.coarserFound, c.coarser ? 1u : 0u);
    if (c.coarser) {
      EXPECT_EQ(run.walk.coarserKey.a, m.Part(1).key.a);
    }
  }
}

// Main passes a crossing at its third vertex; Stub continues it at its end.
rmfbuild::FeatureMap MainStreet() {
  rmfbuild::FeatureMap map;
  map.Add(Street("Main", {At(500, 1000), At(1000, 1000), At(2000, 1000), At(2500, 1000), At(3000, 1000)}, 3));
  map.Add(Street("Cross", {At(2000, 300), At(2000, 1000), At(2000, 2000)}, 3));
  map.Add(Street("Stub", {At(3000, 1000), At(3000, 2000)}, 3));
  map.Add(Street("Ring", {At(500, 3000), At(1000, 3000), At(1000, 3500), At(500, 3000)}, 3));
  return map;
}

TEST(RouteJunctionBetween, JunctionBetweenTheNodeAndTheTarget) {
  TestMap m(MainStreet());
  ASSERT_TRUE(m.ok());
  const PartName main = m.Part(0);
  Record rec(m.reader(), main.key);
  const std::vector<std::int32_t> v = rec.Vertices(main.part);
  ASSERT_EQ(v.size(), 5u);
  const auto ref = [&](int from, int to) {
    return RmfFeatureRef{main.key.a, main.key.b, main.key.c, static_cast<std::uint16_t>(main.part),
                         static_cast<std::uint16_t>(v[static_cast<std::size_t>(from)]),
                         static_cast<std::uint16_t>(v[static_cast<std::size_t>(to)]), kRmfPositionWhole};
  };
  struct Case {
    int nodeFrom, nodeTo, targetFrom, targetTo;
    std::int32_t want;
  };
  // The crossing stands at vertex 2.
  const Case cases[] = {
      {0, 1, 3, 4, 1},  // the crossing lies between
      {0, 1, 2, 3, 1},  // at the target's start
      {1, 2, 3, 4, 1},  // at the node's end
      {0, 1, 1, 2, 0},  // the target starts before the crossing
      {3, 4, 0, 1, 0},  // the target lies behind
      {4, 3, 1, 0, 1},  // the other way round
      {4, 3, 2, 1, 1},
      {3, 2, 2, 1, 1},
      {4, 3, 3, 2, 0},  // ends before the crossing
      {0, 1, 4, 3, 0},  // the target runs the other way
      {2, 3, 3, 4, 0},  // the node starts on the crossing: the next junction is the end
  };
  for (const Case& c : cases) {
    const RmfFeatureRef node = ref(c.nodeFrom, c.nodeTo);
    const RmfFeatureRef target = ref(c.targetFrom, c.targetTo);
    EXPECT_EQ(RmfRouteJunctionBetween(m.route(), &node, &target), c.want)
        << c.nodeFrom << "->" << c.nodeTo << " to " << c.targetFrom << "->" << c.targetTo;
  }
  RmfFeatureRef other = ref(3, 4);
  other.part = static_cast<std::uint16_t>(m.Part(2).part);
  const RmfFeatureRef node = ref(0, 1);
  EXPECT_EQ(RmfRouteJunctionBetween(m.route(), &node, &other), 0);
}

TEST(RouteNextJunction, StopsAtTheJunctionOrOutsideTheBox) {
  TestMap m(MainStreet());
  ASSERT_TRUE(m.ok());
  const PartName main = m.Part(0);
  Record rec(m.reader(), main.key);
  const std::vector<std::int32_t> v = rec.Vertices(main.part);
  Table t(m.route(), main.key, 0);
  for (const RmfTileRouteTable* table : {t.get(), static_cast<const RmfTileRouteTable*>(nullptr)}) {
    EXPECT_EQ(RmfRouteNextJunction(m.route(), rec.get(), table, main.part, v[0], 1, 0, nullptr), v[2]);
    EXPECT_EQ(RmfRouteNextJunction(m.route(), rec.get(), table, main.part, v[2], 1, 0, nullptr), v[4]);
    EXPECT_EQ(RmfRouteNextJunction(m.route(), rec.get(), table, main.part, v[4], -1, 0, nullptr), v[2]);
    EXPECT_EQ(RmfRouteNextJunction(m.route(), rec.get(), table, main.part, v[0], 1, 4, nullptr), v[4]);
    const TiRect box{At(0, 0).x, At(0, 0).y, At(1200, 0).x, At(0, 2000).y};
    EXPECT_EQ(RmfRouteNextJunction(m.route(), rec.get(), table, main.part, v[0], 1, 0, &box), v[2]);
    const TiRect narrow{At(0, 0).x, At(0, 0).y, At(700, 0).x, At(0, 2000).y};
    EXPECT_EQ(RmfRouteNextJunction(m.route(), rec.get(), table, main.part, v[0], 1, 0, &narrow), v[1]);
  }
}

TEST(RouteJunctionDegree, CountsPassagesAtAPointUpToTheLimit) {
  TestMap m(MainStreet());
  ASSERT_TRUE(m.ok());
  Record rec(m.reader(), m.Part(0).key);
  const std::int32_t crossing = RmfFeatureFindPoint(rec.get(), At(2000, 1000));
  const std::int32_t mid = RmfFeatureFindPoint(rec.get(), At(1000, 1000));
  EXPECT_EQ(RmfRouteJunctionDegree(m.route(), rec.get(), crossing, 0, 10), 2);
  EXPECT_EQ(RmfRouteJunctionDegree(m.route(), rec.get(), crossing, 0, 1), 1);
  EXPECT_EQ(RmfRouteJunctionDegree(m.route(), rec.get(), crossing, 4, 10), 0);
  EXPECT_EQ(RmfRouteJunctionDegree(m.route(), rec.get(), mid, 0, 10), 1);
  EXPECT_EQ(RmfRouteJunctionDegree(m.route(), rec.get(), RmfFeaturePointCount(rec.get()), 0, 10), kRmfBadArgument);
}

TEST(FeaturePartEnds, EndsOfPartsAtANode) {
  TestMap m(MainStreet());
  ASSERT_TRUE(m.ok());
  const RmfFeatKey key = m.Part(0).key;
  Record rec(m.reader(), key);
  const auto at = [&](std::int32_t dx, std::int32_t dy) { return RmfFeatureFindPoint(rec.get(), At(dx, dy)); };
  const auto entry = [&](std::size_t feature, bool last) {
    const PartName p = m.Part(feature);
    const std::vector<std::int32_t> v = rec.Vertices(p.part);
    return (static_cast<std::uint32_t>(p.part) << 1) | (static_cast<std::uint32_t>(last ? v.back() : v.front()) << 16) |
           (last ? kRmfIncidenceEnds : kRmfIncidenceStarts);
  };
  std::uint32_t ends[4] = {};
  ASSERT_EQ(RmfFeaturePartEnds(m.route(), rec.get(), at(3000, 1000), ends, 4), 2);
  EXPECT_EQ(ends[0] ^ ends[1], entry(0, true) ^ entry(2, false));
  EXPECT_TRUE(ends[0] == entry(0, true) || ends[0] == entry(2, false));
  EXPECT_EQ(RmfFeaturePartEnds(m.route(), rec.get(), at(2000, 1000), ends, 4), 0);  // both streets pass through
  EXPECT_EQ(RmfFeaturePartEnds(m.route(), rec.get(), at(1000, 1000), ends, 4), 0);
  // The ring starts and ends at one node: both ends, even beyond the room.
  std::uint32_t one[1] = {};
  EXPECT_EQ(RmfFeaturePartEnds(m.route(), rec.get(), at(500, 3000), one, 1), 2);
  EXPECT_EQ(one[0], entry(3, false));
  EXPECT_EQ(RmfFeaturePartEnds(m.route(), rec.get(), -1, ends, 4), kRmfBadArgument);
}

}  // namespace
