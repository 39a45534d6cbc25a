// The route search in time-dependent mode, on small street grids with a
// street whose cost or closure depends on when the traveller enters it
// (testprofiles::Timed). The backward search prices such a street without
// knowing when it is reached, so the meetings are validated with the real
// times: a route takes the street while it is open and goes around it when
// the traveller would reach it too late, at the cost a reference works out
// with the true arrival times. Then the search's own rules of the mode: the
// start check, the three links a node keeps, and a node memory limit too
// small for the search.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "mapengine/format/route/RmfRoute.h"
#include "mapengine/format/route/RmfRouteRecord.h"
#include "mapengine/format/route/RmfRouteSearch.h"
#include "mapengine/object/RouteFilters.h"
#include "tests/mapengine/format/features/TestProfiles.h"
#include "tests/mapengine/format/route/GridRouting.h"
#include "tests/mapengine/format/route/ReferenceRouter.h"
#include "tests/mapengine/format/route/RouteGrid.h"

namespace routetest {
namespace {

constexpr char kTimedClass = 'Z';
constexpr std::uint32_t kOpenFactor = 1200;

// Five crossings along a southern row and five along a northern one, 150 m
// apart; one block of the southern row, from crossing `from` to the next, is
// the time-dependent street. Routes run from block 0-1 to block 3-4:
// straight on along the row, or around the street through the northern row.
struct TimedGrid {
  explicit TimedGrid(int from) : grid(Layout(from)) {}
  static GridLayout Layout(int from) {
    GridLayout layout = PlainGrid(5, 2, 150);
    layout.cutAtCells = false;
    for (GridLine& line : layout.lines) {
      if (line.crossings == std::vector<int>{from, from + 1}) line.speedClass = kTimedClass;
    }
    return layout;
  }
  RouteGrid grid;
};

RmfRoute* TimedRoute(GridRouting& routing) {
  RmfRoute* route = routing.route();
  if (route == nullptr) return nullptr;
  if (RmfRouteSetModeFlags(route, kRmfRouteModeDefault | kRmfRouteModeTimeDependent) != 1) return nullptr;
  return route;
}

// The reference with true arrival times. Travel costs only ever grow with
// time here (the street is open and cheap, then dear or closed), so the
// cheapest route through the street enters it as early as it can: the
// cheapest way to its start, the street at the cost of that time, and the
// cheapest way on from its end. The cheapest route around it is the
// reference's route on a graph where the street costs too much to take.
std::int64_t TrueCost(const RouteGraph& timedGraph, int timedSegment, const testprofiles::TimedStreet& street,
                      DirectedSegment origin, DirectedSegment destination, bool* throughStreet) {
  std::int64_t best = std::numeric_limits<std::int64_t>::max();
  *throughStreet = false;
  {
    RouteGraph around = timedGraph;
    around.segments[static_cast<std::size_t>(timedSegment)].costFactor = 0xFFFFFF;
    const ReferenceRoute r = ReferenceRouter(around).Route(origin, destination, kDefaultTurnCosts, 0);
    bool uses = false;
    for (const DirectedSegment& d : r.segments) uses = uses || d.segment == timedSegment;
    if (r.found && !uses) best = r.cost;
  }
  const ReferenceRouter reference(timedGraph);
  for (const bool forward : {true, false}) {
    const DirectedSegment t{timedSegment, forward};
    const ReferenceRoute to = reference.Route(origin, t, kDefaultTurnCosts, 0);
    const ReferenceRoute on = reference.Route(t, destination, kDefaultTurnCosts, 0);
    if (!to.found || !on.found || to.stretches.back().count != 1) continue;
    const RouteStretch& last = to.stretches.back();
    // Entered at the cost so far at the junction before it.
    const std::int64_t entry = to.cost - last.traversalCost - last.turnCost;
    const bool late = static_cast<std::uint64_t>(entry / 1000) >= street.closesAt;
    if (late && street.lateFactor == 0) continue;
    const std::int64_t now = ScaledCost(last.lengthUnits, late ? street.lateFactor : street.openFactor, 0);
    const std::int64_t cost = to.cost - last.traversalCost + now + (on.cost - on.stretches.front().traversalCost);
    if (cost < best) {
      best = cost;
      *throughStreet = true;
    }
  }
  return best;
}

struct TimeCase {
  const char* name;
  std::uint32_t lateFactor;  // 0: closed from then on
  int closesAfterEntry;      // closesAt = the time the traveller enters the street + this
  bool through;              // the route the reference expects
};

// The street while it is open, closed just as the traveller arrives, and
// dearer from then on: a little (still the way to go, at its higher cost)
// and a lot (the way around is cheaper).
const TimeCase kTimeCases[] = {
    {"open until after the traveller is through", 0, 1, true},
    {"closed as the traveller arrives", 0, 0, false},
    {"closed well before", 0, -5, false},
    {"dearer on arrival, still the way", kOpenFactor * 3, 0, true},
    {"much dearer on arrival, around", kOpenFactor * 40, 0, false},
};

// Routes on the grid with the street from crossing `from`, for every case.
void CheckStreetAt(int from) {
  const TimedGrid g(from);
  ASSERT_TRUE(g.grid.ok()) << g.grid.error();
  RouteGraph graph = g.grid.Graph(TravelMode::kWalking);
  const DirectedSegment street = *g.grid.Block(from, from + 1);
  graph.segments[static_cast<std::size_t>(street.segment)].costFactor = kOpenFactor;
  const DirectedSegment origin = *g.grid.Block(0, 1);
  const DirectedSegment destination = *g.grid.Block(3, 4);

  // The time the traveller enters the street on the straight route.
  const ReferenceRoute to = ReferenceRouter(graph).Route(origin, street, kDefaultTurnCosts, 0);
  ASSERT_TRUE(to.found);
  const std::int64_t entry = to.cost - to.stretches.back().traversalCost - to.stretches.back().turnCost;
  const auto arrival = static_cast<int>(entry / 1000);
  ASSERT_GT(arrival, 5);

  for (const TimeCase& c : kTimeCases) {
    for (const std::int32_t tolerance : {100, 125}) {
      SCOPED_TRACE(std::string(c.name) + ", tolerance " + std::to_string(tolerance));
      testprofiles::TimedStreet profile;
      profile.base = &WalkingFeatureFilter;
      profile.speedClass = kTimedClass;
      profile.openFactor = kOpenFactor;
      profile.lateFactor = c.lateFactor;
      profile.closesAt = static_cast<std::uint32_t>(arrival + c.closesAfterEntry);
      bool through = false;
      const std::int64_t want = TrueCost(graph, street.segment, profile, origin, destination, &through);
      ASSERT_EQ(through, c.through) << "the reference disagrees with the case";

      GridRouting routing(g.grid, &testprofiles::Timed, &WalkingConnectionFilter, &profile);
      RmfRoute* route = TimedRoute(routing);
      ASSERT_NE(route, nullptr);
      ASSERT_EQ(RmfRouteSetTolerance(route, tolerance), 1);
      ASSERT_GT(routing.Find(origin, destination), 0);
      std::string why;
      const auto blocks = routing.Blocks(&why);
      ASSERT_TRUE(blocks.has_value()) << why;
      bool takesStreet = false;
      for (const DirectedSegment& d : *blocks) takesStreet = takesStreet || d.segment == street.segment;
      EXPECT_EQ(takesStreet, c.through) << ::testing::PrintToString(*blocks);
      // The cost reported is the cost of the route with its true times.
      EXPECT_EQ(route->routeCost, want) << ::testing::PrintToString(*blocks);
      EXPECT_TRUE(ReferenceRouter(graph).Evaluate(*blocks, kDefaultTurnCosts, 0).found);
    }
  }
}

// The street next to the destination is first met by the backward search,
// which cannot know when the traveller gets there; the one next to the
// origin by the forward search, which does.
TEST(TimedRouteSearch, TakesTheStreetWhileOpenAndAtTheCostOfItsTime) {
  for (const int from : {2, 1}) {
    SCOPED_TRACE("the street from crossing " + std::to_string(from));
    CheckStreetAt(from);
  }
}

// The start check: starts on time-dependent streets whose answer for the
// time of travel is no longer time-dependent. Only when both an origin's and
// a destination's start are such does the search refuse to run.
TEST(TimedRouteSearch, StartsThatSettleOnBothSidesAreRefused) {
  struct StartCase {
    bool originTimed;
    bool destinationTimed;
  };
  for (const StartCase c : {StartCase{true, true}, StartCase{true, false}, StartCase{false, true}}) {
    SCOPED_TRACE(std::string("origin ") + (c.originTimed ? "timed" : "plain") + ", destination " +
                 (c.destinationTimed ? "timed" : "plain"));
    GridLayout layout = PlainGrid(4, 2, 150);
    layout.cutAtCells = false;
    for (GridLine& line : layout.lines) {
      if ((c.originTimed && line.crossings == std::vector<int>{0, 1}) ||
          (c.destinationTimed && line.crossings == std::vector<int>{2, 3})) {
        line.speedClass = kTimedClass;
      }
    }
    const RouteGrid grid(layout);
    ASSERT_TRUE(grid.ok()) << grid.error();
    testprofiles::TimedStreet profile;
    profile.base = &WalkingFeatureFilter;
    profile.openFactor = kOpenFactor;
    profile.settles = true;
    GridRouting routing(grid, &testprofiles::Timed, &WalkingConnectionFilter, &profile);
    RmfRoute* route = TimedRoute(routing);
    ASSERT_NE(route, nullptr);
    const std::int32_t found = routing.Find(*grid.Block(0, 1), *grid.Block(2, 3));
    if (c.originTimed && c.destinationTimed) {
      EXPECT_EQ(found, kRmfRouteTimedStartsSettled);
      EXPECT_EQ(RmfRouteRetrieve(route, nullptr, nullptr), 0) << "a failed search leaves no result";
      EXPECT_EQ(route->nodePool, nullptr);
    } else {
      EXPECT_GT(found, 0);
    }
  }
}

// Every node reached from the meeting pair through its links: its links
// fill the places from the front, cheapest first, from different parents,
// and the node's cost is that of its first link. In time-dependent mode
// some nodes keep more than one; outside it none does.
TEST(TimedRouteSearch, NodesKeepUpToThreeLinksCheapestFirst) {
  GridOptions options;
  options.seed = 31;
  options.columns = 7;
  options.rows = 6;
  options.jitter = 0.2;
  const RouteGrid grid = RouteGrid::Generate(options);
  ASSERT_TRUE(grid.ok()) << grid.error();
  const RouteGraph& graph = grid.Graph(TravelMode::kWalking);
  for (const bool timeDependent : {true, false}) {
    SCOPED_TRACE(timeDependent ? "time-dependent" : "plain");
    GridRouting routing(grid, TravelMode::kWalking);
    RmfRoute* route = routing.route();
    ASSERT_NE(route, nullptr);
    ASSERT_EQ(RmfRouteSetModeFlags(route, kRmfRouteModeDefault | (timeDependent ? kRmfRouteModeTimeDependent : 0u)),
              1);
    route->stateFlags &= ~kRmfRouteStateAutoCompact;  // keep the nodes to look at
    int withAlternatives = 0;
    const auto segments = static_cast<int>(graph.segments.size());
    for (int k = 0; k < 8; ++k) {
      const DirectedSegment origin{(k * 7) % segments, true};
      const DirectedSegment destination{(k * 7 + segments / 2) % segments, (k & 1) != 0};
      if (routing.Find(origin, destination) <= 0 || route->meetForward == nullptr) continue;
      std::vector<const RmfSearchNode*> todo = {static_cast<const RmfSearchNode*>(route->meetForward),
                                                static_cast<const RmfSearchNode*>(route->meetBackward)};
      std::set<const RmfSearchNode*> seen;
      while (!todo.empty()) {
        const RmfSearchNode* n = todo.back();
        todo.pop_back();
        if (n == nullptr || !seen.insert(n).second) continue;
        ASSERT_NE(n->links[0], nullptr);
        EXPECT_EQ(n->cost, n->links[0]->total);
        std::set<const RmfSearchNode*> parents;
        int count = 0;
        for (int i = 0; i < kRmfSearchMaxLinks; ++i) {
          const RmfSearchLink* link = n->links[i];
          if (link == nullptr) {
            for (int j = i + 1; j < kRmfSearchMaxLinks; ++j) EXPECT_EQ(n->links[j], nullptr) << "a gap";
            break;
          }
          ++count;
          if (i > 0) {
            EXPECT_LE(n->links[i - 1]->total, link->total);
          }
          EXPECT_TRUE(parents.insert(link->parent).second) << "two links from one parent";
          todo.push_back(link->parent);
        }
        if (count > 1) ++withAlternatives;
      }
    }
    if (timeDependent) {
      EXPECT_GT(withAlternatives, 0);
    } else {
      EXPECT_EQ(withAlternatives, 0);
    }
  }
}

// Placing links: a table of the places taken before, the new link, and what
// the list holds afterwards (by total; parents are named by number).
TEST(SearchPlaceLink, OrdersByCostDropsTheDearestAndRepeatedParents) {
  struct Placed {
    int parent;
    std::int32_t total;
  };
  struct Case {
    const char* name;
    std::vector<Placed> before;
    Placed added;
    std::int32_t at;
    std::vector<Placed> after;
    int evicted;  // index into `before`, -1 none
  };
  const Case cases[] = {
      {"first link", {}, {1, 50}, 0, {{1, 50}}, -1},
      {"cheaper goes first", {{1, 50}}, {2, 40}, 0, {{2, 40}, {1, 50}}, -1},
      {"dearer goes behind", {{1, 50}}, {2, 60}, 1, {{1, 50}, {2, 60}}, -1},
      {"equal goes behind", {{1, 50}}, {2, 50}, 1, {{1, 50}, {2, 50}}, -1},
      {"into the middle", {{1, 10}, {2, 30}}, {3, 20}, 1, {{1, 10}, {3, 20}, {2, 30}}, -1},
      {"full, cheaper pushes the dearest out", {{1, 10}, {2, 20}, {3, 30}}, {4, 15}, 1,
       {{1, 10}, {4, 15}, {2, 20}}, 2},
      {"full, not cheaper than the dearest", {{1, 10}, {2, 20}, {3, 30}}, {4, 30}, -1,
       {{1, 10}, {2, 20}, {3, 30}}, -1},
      {"same parent, not cheaper", {{1, 10}, {2, 20}}, {2, 20}, -1, {{1, 10}, {2, 20}}, -1},
      {"same parent, cheaper replaces it", {{1, 10}, {2, 20}, {3, 30}}, {3, 5}, 0, {{3, 5}, {1, 10}, {2, 20}}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RmfSearchNode parents[5]{};
    std::vector<RmfSearchLink> storage(c.before.size() + 1);
    RmfSearchLink* links[kRmfSearchMaxLinks] = {};
    for (std::size_t i = 0; i < c.before.size(); ++i) {
      storage[i].parent = &parents[c.before[i].parent];
      storage[i].total = c.before[i].total;
      links[i] = &storage[i];
    }
    RmfSearchLink& added = storage.back();
    added.parent = &parents[c.added.parent];
    added.total = c.added.total;
    RmfSearchLink* evicted = &added;
    EXPECT_EQ(RmfSearchPlaceLink(links, &added, &evicted), c.at);
    EXPECT_EQ(evicted, c.evicted < 0 ? nullptr : &storage[static_cast<std::size_t>(c.evicted)]);
    for (int i = 0; i < kRmfSearchMaxLinks; ++i) {
      if (static_cast<std::size_t>(i) >= c.after.size()) {
        EXPECT_EQ(links[i], nullptr);
        continue;
      }
      ASSERT_NE(links[i], nullptr);
      EXPECT_EQ(links[i]->parent, &parents[c.after[static_cast<std::size_t>(i)].parent]);
      EXPECT_EQ(links[i]->total, c.after[static_cast<std::size_t>(i)].total);
    }
  }
}

// The driving connection filter with the condition flags of every item it
// gives set to `conditionFlags` (3: time-conditional, holding now): a
// connection whose candidate takes such an item carries the candidate's
// time-dependent mark.
std::int32_t ConditionalItems(const RmfAttrSet* set, void* argument, RmfConnectionAnswer* answer, void* context) {
  (void)DrivingConnectionFilter(set, argument, answer, nullptr);
  const std::uint32_t flags = *static_cast<const std::uint32_t*>(context);
  for (int list = 0; list < 2; ++list) {
    for (std::int32_t i = 0; i < answer->itemCounts[list] && i < kRmfConnectionItems; ++i) {
      answer->items[list][i].conditionFlags = flags;
    }
  }
  return 0;
}

// A street through crossings 4, 5 and 6 (one feature) with "only straight
// on" from block 4-5 through 5 onto 5-6. A connection with the candidate's
// time-dependent mark may not lead back onto a feature the path is on: with
// the item time-conditional, straight on from 4-5 to 5-6 is dropped (and
// with it every way on from 4-5 at 5), so the route to 5-6 comes in from
// the side; without the mark it runs along the street.
TEST(TimedRouteSearch, MarkedConnectionsDoNotLeadBackOntoTheFeature) {
  GridLayout layout = PlainGrid(4, 3, 150);
  layout.cutAtCells = false;
  std::vector<GridLine> lines = {GridLine{{4, 5, 6}}};
  for (const GridLine& line : layout.lines) {
    if (line.crossings != std::vector<int>{4, 5} && line.crossings != std::vector<int>{5, 6}) lines.push_back(line);
  }
  layout.lines = lines;
  layout.restrictions.push_back(GridRestriction{4, 5, 6, true, 77});
  const RouteGrid grid(layout);
  ASSERT_TRUE(grid.ok()) << grid.error();
  const ReferenceRouter reference(grid.Graph(TravelMode::kDriving));
  const DirectedSegment origin = *grid.Block(0, 4);
  const DirectedSegment along = *grid.Block(4, 5);
  const DirectedSegment destination = *grid.Block(5, 6);
  for (const std::uint32_t flags : {0u, 3u}) {
    SCOPED_TRACE(flags == 0 ? "unconditional" : "time-conditional");
    std::uint32_t context = flags;
    GridRouting routing(grid, &DrivingFeatureFilter, &ConditionalItems, &context);
    RmfRoute* route = TimedRoute(routing);
    ASSERT_NE(route, nullptr);
    ASSERT_GT(routing.Find(origin, destination), 0);
    std::string why;
    const auto blocks = routing.Blocks(&why);
    ASSERT_TRUE(blocks.has_value()) << why;
    EXPECT_TRUE(reference.Evaluate(*blocks, kDefaultTurnCosts, 0).found);
    bool alongTheStreet = false;
    for (std::size_t i = 0; i + 1 < blocks->size(); ++i) {
      alongTheStreet = alongTheStreet || ((*blocks)[i] == along && (*blocks)[i + 1] == destination);
    }
    EXPECT_EQ(alongTheStreet, flags == 0) << ::testing::PrintToString(*blocks);
  }
}

// With room for little more than the hash tables, a time-dependent search
// reclaims nodes, and its validations have next to nothing of their own:
// it ends with a route that keeps the rules, with none, or with
// kRmfNoMemory, never otherwise; the sanitizer build checks the memory.
TEST(TimedRouteSearch, TinyNodeMemoryEndsCleanly) {
  GridOptions options;
  options.seed = 12;
  options.columns = 12;
  options.rows = 12;
  options.jitter = 0.1;
  options.speedClasses = std::string("CDE") + kTimedClass;
  const RouteGrid grid = RouteGrid::Generate(options);
  ASSERT_TRUE(grid.ok()) << grid.error();
  const RouteGraph& graph = grid.Graph(TravelMode::kWalking);
  const ReferenceRouter reference(graph);
  testprofiles::TimedStreet profile;
  profile.base = &WalkingFeatureFilter;
  profile.openFactor = kOpenFactor;
  profile.lateFactor = 0;
  profile.closesAt = 40;
  GridRouting routing(grid, &testprofiles::Timed, &WalkingConnectionFilter, &profile);
  RmfRoute* route = TimedRoute(routing);
  ASSERT_NE(route, nullptr);
  int routes = 0;
  const auto segments = static_cast<int>(graph.segments.size());
  for (const std::uint32_t limit : {25u, 120000u, 280000u, 320000u, 0x7FFFFFFFu}) {
    SCOPED_TRACE("limit " + std::to_string(limit));
    ASSERT_EQ(RmfRouteSetNodeMemoryLimit(route, limit), 1);
    for (int k = 0; k < 4; ++k) {
      const DirectedSegment origin{(k * 13 + static_cast<int>(limit % 7)) % segments, true};
      const DirectedSegment destination{(k * 13 + segments / 2) % segments, false};
      const std::int32_t found = routing.Find(origin, destination);
      ASSERT_TRUE(found >= 0 || found == kRmfNoMemory || found == kRmfProfileMissing) << found;
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

}  // namespace
}  // namespace routetest
