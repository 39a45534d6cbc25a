// The route search on generated street grids, against the reference router:
// with weight 1 it finds a route of the reference's cost, with the default
// tolerance one within 1.25 times it, and every route it returns keeps the
// grid's rules (one-way blocks, forbidden turns, turn restrictions, no U-turn
// where the road continues), checked by walking it through the grid's own
// description. Then the search's own edges: the route along one feature, a
// cancel flag, a node memory limit too small for the search, and a cost that
// overflows at every cost shift.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "mapengine/format/features/RmfProfile.h"
#include "mapengine/format/route/RmfRoute.h"
#include "mapengine/format/route/RmfRouteSearch.h"
#include "mapengine/object/RouteFilters.h"
#include "tests/mapengine/format/route/GridRouting.h"
#include "tests/mapengine/format/route/ReferenceRouter.h"
#include "tests/mapengine/format/route/RouteGrid.h"
#include "tools/rmfbuild/RmfMemoryReader.h"

namespace routetest {
namespace {

TurnCosts ForbidSectors(std::initializer_list<int> sectors) {
  TurnCosts t = kDefaultTurnCosts;
  for (const int s : sectors) t[static_cast<std::size_t>(s)] = -1;
  return t;
}

struct GridCase {
  const char* name;
  GridOptions options;
  TravelMode mode;
  TurnCosts table;
};

GridOptions Options(std::uint32_t seed, int columns, int rows, double oneWay, int restrictions, double missing,
                    double jitter) {
  GridOptions o;
  o.seed = seed;
  o.columns = columns;
  o.rows = rows;
  o.spacingMetres = 120;
  o.oneWayShare = oneWay;
  o.restrictions = restrictions;
  o.missingBlockShare = missing;
  o.jitter = jitter;
  o.maxLineBlocks = 4;
  return o;
}

std::vector<GridCase> Cases() {
  return {
      {"walking, plain", Options(1, 6, 5, 0, 0, 0, 0), TravelMode::kWalking, kDefaultTurnCosts},
      {"walking, jittered, missing blocks", Options(2, 8, 6, 0, 0, 0.1, 0.2), TravelMode::kWalking,
       kDefaultTurnCosts},
      {"driving, one-way streets", Options(3, 8, 7, 0.35, 0, 0.05, 0.15), TravelMode::kDriving, kDefaultTurnCosts},
      {"driving, left turns forbidden", Options(4, 7, 6, 0.2, 0, 0, 0.1), TravelMode::kDriving,
       ForbidSectors({3, 4, 5})},
      {"driving, U-turns forbidden", Options(5, 7, 5, 0.3, 0, 0.1, 0), TravelMode::kDriving, ForbidSectors({8})},
      {"driving, restrictions", Options(6, 9, 7, 0.2, 10, 0, 0.1), TravelMode::kDriving, kDefaultTurnCosts},
      {"driving, restrictions and one-ways", Options(7, 9, 8, 0.3, 12, 0.05, 0.2), TravelMode::kDriving,
       kDefaultTurnCosts},
  };
}

class GridSearchTest : public ::testing::TestWithParam<GridCase> {};

// Random pairs of blocks of the grid, from the seed.
std::vector<std::pair<DirectedSegment, DirectedSegment>> Pairs(const RouteGraph& graph, std::uint32_t seed, int count) {
  std::mt19937 random(seed);
  std::vector<std::pair<DirectedSegment, DirectedSegment>> out;
  const auto segments = static_cast<std::uint32_t>(graph.segments.size());
  for (int i = 0; i < count; ++i) {
    const DirectedSegment a{static_cast<int>(random() % segments), (random() & 1) != 0};
    const DirectedSegment b{static_cast<int>(random() % segments), (random() & 1) != 0};
    if (a.segment != b.segment) out.emplace_back(a, b);
  }
  return out;
}

TEST_P(GridSearchTest, CostOfTheReferenceAndTheGridsRules) {
  const GridCase& c = GetParam();
  const RouteGrid grid = RouteGrid::Generate(c.options);
  ASSERT_TRUE(grid.ok()) << grid.error();
  const RouteGraph& graph = grid.Graph(c.mode);
  const ReferenceRouter reference(graph);
  for (const std::int32_t tolerance : {100, 125}) {
    SCOPED_TRACE("tolerance " + std::to_string(tolerance));
    GridRouting routing(grid, c.mode);
    ASSERT_NE(routing.route(), nullptr);
    ASSERT_EQ(RmfRouteSetTolerance(routing.route(), tolerance), 1);
    int compared = 0;
    for (const auto& [origin, destination] : Pairs(graph, c.options.seed * 7 + 1, 40)) {
      SCOPED_TRACE(::testing::PrintToString(origin) + " to " + ::testing::PrintToString(destination));
      ASSERT_EQ(RmfRouteSetTurnCosts(routing.route(), c.table.data()), 1);
      const ReferenceRoute want = reference.Route(origin, destination, c.table, 0);
      // Where the origin's stretch runs on into the destination's without a
      // stop between them, the route is one stretch of two features that
      // the search does not start from; those pairs are left out.
      if (want.found && want.stretches.size() == 1) continue;
      const std::int32_t found = routing.Find(origin, destination);
      const auto open = [&](DirectedSegment d) { return graph.segments[static_cast<std::size_t>(d.segment)].open[d.forward ? 0 : 1]; };
      if (!open(origin) || !open(destination)) {
        EXPECT_EQ(found, kRmfProfileMissing) << "no allowed start";
        continue;
      }
      if (!want.found) {
        EXPECT_EQ(found, 0) << "the reference finds no route";
        continue;
      }
      ASSERT_GT(found, 0) << "the reference finds " << want.cost;
      // More than one stretch: the search had to expand nodes to find it.
      EXPECT_GT(RmfRouteExpandedNodes(routing.route()), 0);
      std::string why;
      const auto blocks = routing.Blocks(&why);
      ASSERT_TRUE(blocks.has_value()) << why;
      ASSERT_FALSE(blocks->empty());
      EXPECT_EQ(blocks->front(), origin);
      EXPECT_EQ(blocks->back(), destination);
      const ReferenceRoute got = reference.Evaluate(*blocks, c.table, 0);
      ASSERT_TRUE(got.found) << "the route breaks a rule: " << got.error;
      if (got.ambiguousTurns > 0 || want.ambiguousTurns > 0) continue;
      ++compared;
      // The cost the route reports is the cost of the route it hands out.
      EXPECT_EQ(routing.route()->routeCost, got.cost) << ::testing::PrintToString(*blocks);
      if (tolerance == 100) {
        EXPECT_EQ(got.cost, want.cost) << ::testing::PrintToString(*blocks) << " where the reference takes "
                                       << ::testing::PrintToString(want.segments);
      } else {
        EXPECT_LE(got.cost * 100, want.cost * 125);
      }
    }
    EXPECT_GT(compared, 10);
  }
}

INSTANTIATE_TEST_SUITE_P(Grids, GridSearchTest, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<GridCase>& info) {
                           std::string name = info.param.name;
                           for (char& ch : name) {
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           }
                           return name;
                         });

// A thousand routes on grids of every kind, each with options drawn at
// random (weight 1 or 1.25, a node memory limit that forces reclaiming,
// estimated lengths, the side table, the result left uncompacted, both
// directions of the end blocks): every route keeps the grid's rules, and
// the sanitizer build checks the memory of all of them.
TEST(RouteSearch, ThousandRandomRoutesKeepTheRules) {
  std::mt19937 random(4242);
  int routes = 0;
  int found = 0;
  for (std::uint32_t seed = 21; routes < 1000; ++seed) {
    const GridOptions options = Options(seed, 5 + static_cast<int>(random() % 6), 4 + static_cast<int>(random() % 6),
                                        (random() % 3) * 0.15, static_cast<int>(random() % 8),
                                        (random() % 3) * 0.05, (random() % 3) * 0.1);
    const RouteGrid grid = RouteGrid::Generate(options);
    ASSERT_TRUE(grid.ok()) << grid.error();
    const TravelMode mode = seed % 2 == 0 ? TravelMode::kWalking : TravelMode::kDriving;
    const RouteGraph& graph = grid.Graph(mode);
    const ReferenceRouter reference(graph);
    GridRouting routing(grid, mode);
    ASSERT_NE(routing.route(), nullptr);
    RmfRoute* route = routing.route();
    for (const auto& [origin, destination] : Pairs(graph, seed, 60)) {
      SCOPED_TRACE("seed " + std::to_string(seed) + ", " + ::testing::PrintToString(origin) + " to " +
                   ::testing::PrintToString(destination));
      ++routes;
      const std::uint32_t pick = random();
      ASSERT_EQ(RmfRouteSetTolerance(route, (pick & 1) != 0 ? 100 : 125), 1);
      ASSERT_EQ(RmfRouteSetNodeMemoryLimit(route, (pick & 6) == 0 ? 230000u + random() % 40000 : 0x7FFFFFFFu), 1);
      std::uint32_t flags = kRmfRouteModeDefault;
      if ((pick & 8) != 0) flags &= ~kRmfRouteModeExactLengths;
      if ((pick & 16) != 0) flags |= kRmfRouteModeSideTable;
      ASSERT_EQ(RmfRouteSetModeFlags(route, flags), 1);
      const bool keep = (pick & 32) != 0;
      route->stateFlags = keep ? route->stateFlags & ~kRmfRouteStateAutoCompact
                               : route->stateFlags | kRmfRouteStateAutoCompact;
      const bool both = (pick & 64) != 0;
      std::vector<RmfFeatureRef> origins = {grid.Refs(origin).front()};
      std::vector<RmfFeatureRef> destinations = {grid.Refs(destination).back()};
      if (both) {
        origins.push_back(grid.Refs(origin.Reversed()).front());
        destinations.push_back(grid.Refs(destination.Reversed()).back());
      }
      const std::int32_t count = RmfRouteFind(route, origins.data(), static_cast<std::int32_t>(origins.size()),
                                              destinations.data(), static_cast<std::int32_t>(destinations.size()));
      ASSERT_TRUE(count >= 0 || count == kRmfNoMemory || count == kRmfProfileMissing) << count;
      if (count <= 0) continue;
      ++found;
      std::string why;
      const auto blocks = routing.Blocks(&why);
      ASSERT_TRUE(blocks.has_value()) << why;
      EXPECT_TRUE(blocks->front() == origin || (both && blocks->front() == origin.Reversed()));
      EXPECT_TRUE(blocks->back() == destination || (both && blocks->back() == destination.Reversed()));
      const ReferenceRoute got = reference.Evaluate(*blocks, kDefaultTurnCosts, 0);
      EXPECT_TRUE(got.found) << "the route breaks a rule: " << got.error;
      // With exact lengths the reference prices the route as the search
      // does (but for turns whose angle lies within a hair of a sector
      // boundary, where its headings in doubles may take the next sector):
      // the cost reported is the cost of the route handed out, reclaimed
      // nodes and weight 1.25 included.
      if (got.found && got.ambiguousTurns == 0 && (flags & kRmfRouteModeExactLengths) != 0 && route->costShift == 0) {
        EXPECT_EQ(route->routeCost, got.cost);
      }
      if ((flags & kRmfRouteModeSideTable) != 0) {
        ASSERT_EQ(route->sideCount, keep ? count : route->sideCount);
        EXPECT_GE(route->sideCount, route->resultCount);
      }
      if (keep) {
        EXPECT_NE(route->nodePool, nullptr) << "an uncompacted result keeps the search's nodes";
        EXPECT_GT(RmfRouteCompact(route), 0);
        EXPECT_EQ(route->nodePool, nullptr);
      }
    }
  }
  EXPECT_GT(found, routes / 2);
}

// A street that runs through three crossings and meets nothing else: from
// its first block to its second there is no junction, so the search takes
// the direct route along the feature.
TEST(RouteSearch, RouteAlongOneFeature) {
  GridLayout layout = PlainGrid(3, 1);
  layout.lines.clear();
  layout.lines.push_back(GridLine{{0, 1, 2}});
  layout.cutAtCells = false;
  const RouteGrid grid(layout);
  ASSERT_TRUE(grid.ok()) << grid.error();
  GridRouting routing(grid, TravelMode::kWalking);
  ASSERT_NE(routing.route(), nullptr);
  const DirectedSegment first = *grid.Block(0, 1);
  const DirectedSegment second = *grid.Block(1, 2);
  ASSERT_GT(routing.Find(first, second), 0);
  EXPECT_NE(routing.route()->stateFlags & kRmfRouteStateSameFeature, 0u);
  std::string why;
  const auto blocks = routing.Blocks(&why);
  ASSERT_TRUE(blocks.has_value()) << why;
  EXPECT_EQ(*blocks, (std::vector<DirectedSegment>{first, second}));
  const ReferenceRouter reference(grid.Graph(TravelMode::kWalking));
  EXPECT_EQ(routing.route()->routeCost, reference.Route(first, second, kDefaultTurnCosts, 0).cost);

  // Against the direction of the feature the destination lies behind the
  // origin: there is no way there but a turn at a street's end.
  ASSERT_EQ(RmfRouteSetTurnCosts(routing.route(), ForbidSectors({8}).data()), 1);
  EXPECT_EQ(routing.Find(second.Reversed(), second), 0);
}

TEST(RouteSearch, CancelFlagAlreadySetStopsAtOnce) {
  const RouteGrid grid = RouteGrid::Generate(Options(11, 6, 6, 0, 0, 0, 0));
  ASSERT_TRUE(grid.ok()) << grid.error();
  GridRouting routing(grid, TravelMode::kWalking);
  ASSERT_NE(routing.route(), nullptr);
  volatile std::int8_t cancel = 1;
  volatile std::uint8_t progress = 77;
  ASSERT_EQ(RmfRouteSetCancelFlag(routing.route(), &cancel), 1);
  ASSERT_EQ(RmfRouteSetProgress(routing.route(), &progress), 1);
  const RouteGraph& graph = grid.Graph(TravelMode::kWalking);
  const DirectedSegment a{0, true};
  const DirectedSegment b{static_cast<int>(graph.segments.size()) - 1, true};
  EXPECT_EQ(routing.Find(a, b), kRmfRouteCancelled);
  EXPECT_EQ(RmfRouteRetrieve(routing.route(), nullptr, nullptr), 0);
  EXPECT_EQ(progress, 0) << "a find starts its progress at 0; a failed search leaves it there";
  cancel = 0;
  EXPECT_GT(routing.Find(a, b), 0);
  EXPECT_EQ(progress, 255);
}

// With room for the two hash tables and a few hundred nodes, a search
// across a large grid runs out of pool memory: it reclaims nodes and ends
// with a route that keeps the rules, with none, or with kRmfNoMemory, never
// by failing otherwise; the sanitizer build checks that nothing leaks.
TEST(RouteSearch, TinyNodeMemoryEndsCleanly) {
  const RouteGrid grid = RouteGrid::Generate(Options(12, 16, 16, 0, 0, 0, 0.1));
  ASSERT_TRUE(grid.ok()) << grid.error();
  GridRouting routing(grid, TravelMode::kWalking);
  ASSERT_NE(routing.route(), nullptr);
  const RouteGraph& graph = grid.Graph(TravelMode::kWalking);
  const ReferenceRouter reference(graph);
  int routes = 0;
  for (const std::uint32_t limit : {25u, 60000u, 240000u, 260000u, 300000u}) {
    SCOPED_TRACE("limit " + std::to_string(limit));
    ASSERT_EQ(RmfRouteSetNodeMemoryLimit(routing.route(), limit), 1);
    for (const auto& [origin, destination] : Pairs(graph, limit, 6)) {
      const std::int32_t found = routing.Find(origin, destination);
      ASSERT_TRUE(found >= 0 || found == kRmfNoMemory) << found;
      if (found <= 0) continue;
      ++routes;
      std::string why;
      const auto blocks = routing.Blocks(&why);
      ASSERT_TRUE(blocks.has_value()) << why;
      EXPECT_TRUE(reference.Evaluate(*blocks, kDefaultTurnCosts, 0).found);
    }
  }
  EXPECT_GT(routes, 0);
}

// A cost factor so large that any stretch overflows at shifts 0, 4 and 8.
std::int32_t HugeCost(const RmfAttrSet* set, void* argument, RmfFeatureAnswer* answer, void* context) {
  (void)WalkingFeatureFilter(set, argument, answer, context);
  for (RmfTravelAnswer& t : answer->travel) t.costFactor = 0xFFFFFFFFu;
  return 0;
}

TEST(RouteFind, ThreeOverflowsGiveCostOverflowAtShiftEight) {
  // Blocks of 6 km: about 40000 units, which at that factor pass 2^31 even
  // shifted by 16.
  GridOptions options = Options(13, 4, 4, 0, 0, 0, 0);
  options.spacingMetres = 6000;
  const RouteGrid grid = RouteGrid::Generate(options);
  ASSERT_TRUE(grid.ok()) << grid.error();
  GridRouting routing(grid, TravelMode::kWalking);
  ASSERT_NE(routing.route(), nullptr);
  ASSERT_EQ(RmfProfileSetCallbacks(routing.reader(), &HugeCost, &WalkingConnectionFilter, nullptr,
                                   kRmfProfileEngineLimit),
            1);
  EXPECT_EQ(routing.Find(*grid.Block(0, 1), *grid.Block(14, 15)), kRmfCostOverflow);
  EXPECT_EQ(routing.route()->costShift, 8u);
  EXPECT_EQ(RmfRouteRetrieve(routing.route(), nullptr, nullptr), 0);
}

}  // namespace
}  // namespace routetest
