// The route search on generated street grids, against the reference router:
// with weight 1 it finds a route of the reference's cost, with the default
// tolerance one within 1.25 times it, and every route it returns keeps the
// grid's rules (one-way blocks, forbidden turns, turn restrictions, no U-turn
// where the road continues), checked by walking it through the grid's own
// description. Then the search's own edges: the route along one feature, a
// cancel flag, a node memory limit too small for the search, and a cost that
// overflows at every cost shift.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "mapengine/format/features/RmfProfile.h"
#include "mapengine/format/route/RmfFeatConnect.h"
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
      // stop between them (two features that meet end to end), the route is
      // that one stretch, taken directly.
      const bool oneStretch = want.found && want.stretches.size() == 1;
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
      if (!oneStretch) {
        EXPECT_GT(RmfRouteExpandedNodes(routing.route()), 0);
      }
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
  std::atomic<std::int8_t> cancel{1};
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

// ---- turn restrictions over a block in between ----------------------------------------------

// A 5 x 4 grid, every block a street of its own, with at most one
// restriction from the block 6-7 along the block 7-8 onto the block 8-13
// (east, east, then left to the north):
//
//   15 - 16 - 17 - 18 - 19
//    |    |    |    |    |
//   10 - 11 - 12 - 13 - 14
//    |    |    |    |    |
//    5 -  6 -  7 -  8 -  9
//    |    |    |    |    |
//    0 -  1 -  2 -  3 -  4
enum class WayRule { kNone, kNo, kOnly };

RouteGrid WayRestrictionGrid(WayRule rule) {
  GridLayout layout = PlainGrid(5, 4);
  layout.cutAtCells = false;
  if (rule != WayRule::kNone) layout.wayRestrictions.push_back(GridWayRestriction{6, 7, 8, 13, rule == WayRule::kOnly, 4711});
  return RouteGrid(std::move(layout));
}

// The crossings a run of blocks passes, in order.
std::vector<int> CrossingsOf(const RouteGrid& grid, const std::vector<DirectedSegment>& blocks) {
  std::vector<int> out;
  for (const DirectedSegment& b : blocks) {
    const GraphSegment& s = grid.Graph(TravelMode::kDriving).segments[static_cast<std::size_t>(b.segment)];
    if (out.empty()) out.push_back(b.forward ? s.from : s.to);
    out.push_back(b.forward ? s.to : s.from);
  }
  return out;
}

bool Contains(const std::vector<int>& path, const std::vector<int>& run) {
  return std::search(path.begin(), path.end(), run.begin(), run.end()) != path.end();
}

// The driving route from block a-b to block c-d as the crossings it passes.
std::vector<int> DrivingPath(const RouteGrid& grid, const GridRouting& routing, std::pair<int, int> from,
                             std::pair<int, int> to) {
  if (routing.route() == nullptr) return {-1};
  const std::int32_t found = routing.Find(*grid.Block(from.first, from.second), *grid.Block(to.first, to.second));
  if (found <= 0) return {found};
  std::string why;
  const auto blocks = routing.Blocks(&why);
  if (!blocks.has_value()) return {-2};
  return CrossingsOf(grid, *blocks);
}

// The driving filter reads the three items of each restriction as a chain
// that the route search carries along the block in between: no_* forbids
// exactly the sequence from -> via -> to, only_* forces it once a route has
// come along the from block, and a route that comes onto the via block from
// elsewhere is bound by neither.
TEST(RouteSearch, TurnRestrictionOverABlockInBetween) {
  const std::vector<int> restricted{6, 7, 8, 13};
  struct Case {
    const char* what;
    WayRule rule;
    std::pair<int, int> from;
    std::pair<int, int> to;
    std::vector<int> path;  // the route expected, or empty ...
    std::vector<int> starts;  // ... then how it must start
    bool avoids;              // and that it must not pass from -> via -> to
  };
  const Case cases[] = {
      {"free: straight on, then left", WayRule::kNone, {6, 7}, {8, 13}, {6, 7, 8, 13}, {}, false},
      {"free, from farther away", WayRule::kNone, {5, 6}, {13, 18}, {5, 6, 7, 8, 13, 18}, {}, false},
      {"free: straight through", WayRule::kNone, {6, 7}, {8, 9}, {6, 7, 8, 9}, {}, false},
      {"no: the sequence is left out", WayRule::kNo, {6, 7}, {8, 13}, {}, {6, 7}, true},
      {"no, from farther away", WayRule::kNo, {5, 6}, {13, 18}, {}, {5, 6}, true},
      {"no: straight through stays", WayRule::kNo, {6, 7}, {8, 9}, {6, 7, 8, 9}, {}, false},
      {"no: onto the via block from elsewhere", WayRule::kNo, {12, 7}, {8, 13}, {12, 7, 8, 13}, {}, false},
      {"only: the sequence itself", WayRule::kOnly, {6, 7}, {8, 13}, {6, 7, 8, 13}, {}, false},
      {"only, from farther away", WayRule::kOnly, {5, 6}, {13, 18}, {5, 6, 7, 8, 13, 18}, {}, false},
      {"only: straight through is no longer taken", WayRule::kOnly, {6, 7}, {8, 9}, {}, {6, 7, 8, 13}, false},
      {"only: onto the via block from elsewhere", WayRule::kOnly, {12, 7}, {8, 9}, {12, 7, 8, 9}, {}, false},
      {"only: a route that ends on the via block", WayRule::kOnly, {6, 7}, {7, 8}, {6, 7, 8}, {}, false},
      {"only: a route that starts on the via block", WayRule::kOnly, {7, 8}, {8, 9}, {7, 8, 9}, {}, false},
      {"no: a route that ends on the via block", WayRule::kNo, {6, 7}, {7, 8}, {6, 7, 8}, {}, false},
      {"no: a route that starts on the via block", WayRule::kNo, {7, 8}, {8, 13}, {7, 8, 13}, {}, false},
  };
  const RouteGrid grids[] = {WayRestrictionGrid(WayRule::kNone), WayRestrictionGrid(WayRule::kNo),
                             WayRestrictionGrid(WayRule::kOnly)};
  for (const RouteGrid& grid : grids) ASSERT_TRUE(grid.ok()) << grid.error();
  const GridRouting routings[] = {{grids[0], TravelMode::kDriving},
                                  {grids[1], TravelMode::kDriving},
                                  {grids[2], TravelMode::kDriving}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto rule = static_cast<std::size_t>(c.rule);
    const std::vector<int> path = DrivingPath(grids[rule], routings[rule], c.from, c.to);
    ASSERT_GE(path.size(), 2u) << "no route: " << path.front();
    if (!c.path.empty()) {
      EXPECT_EQ(path, c.path);
      continue;
    }
    EXPECT_TRUE(std::equal(c.starts.begin(), c.starts.end(), path.begin())) << ::testing::PrintToString(path);
    EXPECT_EQ(path[path.size() - 2], c.to.first) << ::testing::PrintToString(path);
    EXPECT_EQ(path.back(), c.to.second);
    EXPECT_FALSE(c.avoids && Contains(path, restricted)) << ::testing::PrintToString(path);
  }
}

// At a single junction the items give what they can without the route
// behind: after the from block of an only_* restriction only the via block
// is open; at the end of the via block, which does not know where the
// route came from, every way is.
TEST(RouteFeatConnect, VerdictsAlongARestrictionOverABlockInBetween) {
  const RouteGrid grid = WayRestrictionGrid(WayRule::kOnly);
  ASSERT_TRUE(grid.ok()) << grid.error();
  GridRouting routing(grid, TravelMode::kDriving);
  ASSERT_NE(routing.route(), nullptr);
  // The verdict of each way on, by the crossing it leads to.
  auto verdicts = [&](int a, int b) {
    std::map<int, int> out;
    const RmfFeatureRef end = grid.Refs(*grid.Block(a, b)).back();
    RmfJunction records[8];
    const std::int32_t n = RmfRouteFeatConnect(routing.route(), &end, 1, records, 8, 1, -1);
    EXPECT_GT(n, 0);
    for (std::int32_t i = 0; i < std::min(n, 8); ++i) {
      const RmfJunction& j = records[i];
      const RmfFeatureRef ref{j.featureId, static_cast<std::uint16_t>(j.secondId & 0xFFFF),
                              static_cast<std::uint16_t>(j.secondId >> 16), j.part, j.startVertex, j.endVertex,
                              j.fraction};
      const auto block = grid.Blocks(&ref, 1);
      if (!block.has_value() || block->size() != 1) {
        ADD_FAILURE() << "a record names no block";
        continue;
      }
      out[CrossingsOf(grid, *block).back()] = j.verdict;
    }
    return out;
  };
  EXPECT_EQ(verdicts(6, 7), (std::map<int, int>{{2, kRmfVerdictForbiddenTurn},
                                                 {6, kRmfVerdictForbiddenTurn},
                                                 {8, kRmfVerdictAllowed},
                                                 {12, kRmfVerdictForbiddenTurn}}));
  EXPECT_EQ(verdicts(7, 8), (std::map<int, int>{{3, kRmfVerdictAllowed},
                                                 {7, kRmfVerdictAllowed},
                                                 {9, kRmfVerdictAllowed},
                                                 {13, kRmfVerdictAllowed}}));
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
