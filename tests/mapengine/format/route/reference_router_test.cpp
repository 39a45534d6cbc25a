// The reference router of the routing tests: routes on a 3 x 3 grid
// worked out by hand (a left turn, left turns forbidden, a one-way block,
// a cheap U-turn, restrictions, a cost shift), U-turns at dead ends and
// junctions but not where the road continues, the checks of a given
// route, the sectors of turn angles, and the search against brute force
// over every route on tiny random grids.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "mapengine/format/base/TiGeometry.h"
#include "tests/mapengine/format/route/ReferenceRouter.h"
#include "tests/mapengine/format/route/RouteGrid.h"

namespace routetest {
namespace {

// Crossings of a grid named by two digits, column then row: "12" is
// column 1, row 2.
int At(const GridLayout& g, const std::string& name) { return g.Crossing(name[0] - '0', name[1] - '0'); }

std::vector<int> Crossings(const GridLayout& g, const std::string& path) {
  std::istringstream in(path);
  std::vector<int> out;
  for (std::string name; in >> name;) out.push_back(At(g, name));
  return out;
}

std::vector<DirectedSegment> BlocksOf(const RouteGrid& grid, const std::vector<int>& crossings) {
  std::vector<DirectedSegment> out;
  for (std::size_t i = 1; i < crossings.size(); ++i) out.push_back(*grid.Block(crossings[i - 1], crossings[i]));
  return out;
}

// The cost of a route given by hand: its crossings, and at every crossing
// between its ends what happens there: 'S' straight on, 'L' a right angle
// left, 'R' a right angle right, 'U' a U-turn (each a stop that costs the
// table's entry), '-' no stop (the walk carries on). Stretch lengths are
// sums of TiDistance between the crossings.
std::int64_t HandCost(const GridLayout& g, const std::vector<int>& crossings, const std::string& turns,
                      std::uint32_t factor, const TurnCosts& table, unsigned shift) {
  std::int64_t cost = 0;
  std::uint64_t length = 0;
  for (std::size_t i = 1; i < crossings.size(); ++i) {
    length += static_cast<std::uint64_t>(TiDistance(&g.crossings[static_cast<std::size_t>(crossings[i - 1])],
                                                    &g.crossings[static_cast<std::size_t>(crossings[i])]));
    const char turn = i < crossings.size() - 1 ? turns[i - 1] : 'E';
    if (turn == '-') continue;
    cost += static_cast<std::int64_t>((length * factor) >> (8 + shift));
    length = 0;
    if (turn == 'E') break;
    const int sector = turn == 'S' ? 0 : turn == 'L' ? 4 : turn == 'R' ? 12 : 8;
    cost += table[static_cast<std::size_t>(sector)] >> shift;
  }
  return cost;
}

TurnCosts With(std::initializer_list<std::pair<int, std::int32_t>> entries) {
  TurnCosts t = kDefaultTurnCosts;
  for (const auto& [sector, cost] : entries) t[static_cast<std::size_t>(sector)] = cost;
  return t;
}

// From the west block of the middle row, heading east, to the block north
// of the centre (or south of it).
TEST(ReferenceRouter, HandWorkedRoutesOnThreeByThree) {
  const struct {
    const char* name;
    TravelMode mode;
    TurnCosts table;
    unsigned shift;
    const char* oneWay;       // a block "from to", travelled only that way; empty for none
    const char* restriction;  // "from via to" and "no" or "only"; empty for none
    const char* destination;
    const char* path;
    const char* turns;
  } cases[] = {
      {"a left turn", TravelMode::kWalking, kDefaultTurnCosts, 0, "", "", "11 12", "01 11 12", "L"},
      {"left turns forbidden: three rights round a block; the corner is no stop", TravelMode::kWalking, With({{4, -1}}),
       0, "", "", "11 12", "01 11 21 20 10 11 12", "SR-RS"},
      {"and the east block one-way west: round the three other blocks", TravelMode::kDriving, With({{4, -1}}), 0,
       "21 11", "", "11 12", "01 11 10 00 01 02 12 22 21 11 12", "RR-S-S-RR"},
      {"walking ignores one-way marks", TravelMode::kWalking, With({{4, -1}}), 0, "21 11", "", "11 12",
       "01 11 21 20 10 11 12", "SR-RS"},
      {"back the way it came: a free U-turn at a junction", TravelMode::kWalking, With({{8, 0}}), 0, "", "", "11 01",
       "01 11 01", "U"},
      {"a cost shift of 4", TravelMode::kWalking, kDefaultTurnCosts, 4, "", "", "11 12", "01 11 12", "L"},
      {"no left turn by restriction", TravelMode::kDriving, kDefaultTurnCosts, 0, "", "01 11 12 no", "11 12",
       "01 11 21 20 10 11 12", "SR-RS"},
      {"only straight on by restriction", TravelMode::kDriving, kDefaultTurnCosts, 0, "", "01 11 21 only", "11 10",
       "01 11 21 22 12 11 10", "SL-LS"},
      {"a restriction does not bind walking", TravelMode::kWalking, kDefaultTurnCosts, 0, "", "01 11 12 no", "11 12",
       "01 11 12", "L"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    GridLayout layout = PlainGrid(3, 3);
    layout.cutAtCells = false;
    if (*c.oneWay != '\0') {
      const std::vector<int> ends = Crossings(layout, c.oneWay);
      GridLine& line = layout.lines[static_cast<std::size_t>(layout.LineAt(ends[0], ends[1]))];
      line.way = line.crossings[0] == ends[0] ? rmfbuild::OneWay::kAlong : rmfbuild::OneWay::kAgainst;
    }
    if (*c.restriction != '\0') {
      const std::vector<int> at = Crossings(layout, std::string(c.restriction).substr(0, 8));
      const bool only = std::string(c.restriction).substr(9) == "only";
      layout.restrictions.push_back(GridRestriction{at[0], at[1], at[2], only, 7});
    }
    const RouteGrid grid(layout);
    ASSERT_TRUE(grid.ok()) << grid.error();
    const ReferenceRouter router(grid.Graph(c.mode));
    const std::vector<int> path = Crossings(layout, c.path);
    const std::vector<int> destination = Crossings(layout, c.destination);
    const ReferenceRoute route =
        router.Route(*grid.Block(path[0], path[1]), *grid.Block(destination[0], destination[1]), c.table, c.shift);
    ASSERT_TRUE(route.found) << route.error;
    EXPECT_EQ(route.segments, BlocksOf(grid, path));
    EXPECT_EQ(route.cost, HandCost(layout, path, c.turns, kWalkingFactor, c.table, c.shift));
    EXPECT_EQ(route.ambiguousTurns, 0);
    EXPECT_NEAR(route.lengthMetres, 100.0 * static_cast<double>(path.size() - 1),
                0.5 * static_cast<double>(path.size()));
  }
}

// Three crossings in a row, A - B - C: from A to B and back to A. Where
// the road merely continues at B there is no U-turn; the dead end at C
// always has one.
TEST(ReferenceRouter, UTurnsAtDeadEndsAndWhereTheTableAllowsButNotWhereTheRoadContinues) {
  const struct {
    const char* name;
    TravelMode mode;
    char secondSpeed;  // speed class of B - C (A - B has 'F')
    rmfbuild::OneWay secondWay;
    const char* path;
    const char* turns;
  } cases[] = {
      {"one street on: B is no stop", TravelMode::kDriving, 'F', rmfbuild::OneWay::kBoth, "00 10 20 10 00", "-U-"},
      {"another speed at B: a stop, but the road continues", TravelMode::kDriving, 'C', rmfbuild::OneWay::kBoth,
       "00 10 20 10 00", "SUS"},
      {"the road on is one-way toward B: turn at B", TravelMode::kDriving, 'F', rmfbuild::OneWay::kAgainst, "00 10 00",
       "U"},
      {"walking: B is no stop whatever the speeds", TravelMode::kWalking, 'C', rmfbuild::OneWay::kAgainst,
       "00 10 20 10 00", "-U-"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    GridLayout layout = PlainGrid(3, 1);
    layout.cutAtCells = false;
    layout.lines[1].speedClass = c.secondSpeed;
    layout.lines[1].way = c.secondWay;
    const RouteGrid grid(layout);
    ASSERT_TRUE(grid.ok()) << grid.error();
    const ReferenceRouter router(grid.Graph(c.mode));
    const DirectedSegment ab = *grid.Block(0, 1);
    const ReferenceRoute route = router.Route(ab, ab.Reversed(), kDefaultTurnCosts, 0);
    ASSERT_TRUE(route.found) << route.error;
    const std::vector<int> path = Crossings(layout, c.path);
    EXPECT_EQ(route.segments, BlocksOf(grid, path));
    // The sectors of the turns at the stops; the cost where every block
    // has the same factor.
    std::string sectors;
    std::string expected;
    for (std::size_t i = 1; i < route.stretches.size(); ++i) sectors += std::to_string(route.stretches[i].sector) + " ";
    for (const char t : std::string(c.turns)) {
      if (t != '-') expected += t == 'U' ? "8 " : "0 ";
    }
    EXPECT_EQ(sectors, expected);
    if (c.secondSpeed == 'F' || c.mode == TravelMode::kWalking) {
      EXPECT_EQ(route.cost, HandCost(layout, path, c.turns, kWalkingFactor, kDefaultTurnCosts, 0));
    }
  }
}

// Routes that break a rule are refused, each with the rule it breaks.
TEST(ReferenceRouter, EvaluateRefusesRoutesThatBreakARule) {
  GridLayout layout = PlainGrid(3, 3);
  layout.cutAtCells = false;
  GridLine& east = layout.lines[static_cast<std::size_t>(layout.LineAt(At(layout, "11"), At(layout, "21")))];
  east.way = rmfbuild::OneWay::kAgainst;  // only 21 -> 11
  layout.restrictions.push_back(GridRestriction{At(layout, "10"), At(layout, "11"), At(layout, "01"), false, 9});
  const RouteGrid grid(layout);
  ASSERT_TRUE(grid.ok()) << grid.error();
  const ReferenceRouter driving(grid.Graph(TravelMode::kDriving));
  const ReferenceRouter walking(grid.Graph(TravelMode::kWalking));
  const struct {
    const char* name;
    const ReferenceRouter* router;
    TurnCosts table;
    const char* path;
    const char* error;  // part of the reason; empty: the route is fine
  } cases[] = {
      {"fine", &driving, kDefaultTurnCosts, "01 11 12", ""},
      {"against a one-way block", &driving, kDefaultTurnCosts, "01 11 21", "against its direction"},
      {"a one-way block on foot", &walking, kDefaultTurnCosts, "01 11 21", ""},
      {"a forbidden left turn", &driving, With({{4, -1}}), "01 11 12", "forbidden"},
      {"a restricted turn", &driving, kDefaultTurnCosts, "10 11 01", "restriction"},
      {"the restriction the other way round", &driving, kDefaultTurnCosts, "01 11 10", ""},
      {"a U-turn where the road continues", &driving, kDefaultTurnCosts, "01 00 01", "road continues"},
      {"a U-turn at a junction", &driving, kDefaultTurnCosts, "01 11 01", ""},
      {"a U-turn the table forbids", &driving, With({{8, -1}}), "01 11 01", "forbidden"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ReferenceRoute r = c.router->Evaluate(BlocksOf(grid, Crossings(layout, c.path)), c.table, 0);
    EXPECT_EQ(r.found, *c.error == '\0') << r.error;
    EXPECT_NE(r.error.find(c.error), std::string::npos) << r.error;
  }
  // Blocks that do not join.
  const ReferenceRoute apart = driving.Evaluate(
      {*grid.Block(At(layout, "00"), At(layout, "10")), *grid.Block(At(layout, "01"), At(layout, "02"))},
      kDefaultTurnCosts, 0);
  EXPECT_FALSE(apart.found);
  EXPECT_NE(apart.error.find("does not join"), std::string::npos) << apart.error;
}

// Sectors of turns at a crossing: arriving from the west (travelling east),
// leaving along a street at a chosen angle (degrees, counter-clockwise
// positive, x scaled by the cosine of the latitude). A turn within a hair
// of a sector boundary is flagged; its sector is what the rounding of the
// points makes it.
TEST(ReferenceRouter, TurnAnglesFallIntoSectorsAndNearBoundariesAreFlagged) {
  const double latitude = 53.55;
  const double kUnitsPerDegree = 268435456.0 / 360.0;
  const TiPoint centre{static_cast<std::int32_t>(13.26 * kUnitsPerDegree),
                       static_cast<std::int32_t>(latitude * kUnitsPerDegree)};
  const double cosine = std::cos(latitude * 3.14159265358979323846 / 180);
  auto toward = [&](double degrees, double metres) {
    const double r = metres * kUnitsPerMetre;
    const double a = degrees * 3.14159265358979323846 / 180;
    return TiPoint{centre.x + static_cast<std::int32_t>(std::lround(r * std::cos(a) / cosine)),
                   centre.y + static_cast<std::int32_t>(std::lround(r * std::sin(a)))};
  };
  const struct {
    double degrees;  // of the leaving street, seen from the crossing
    int sector;
    bool ambiguous;
  } cases[] = {
      {0, 0, false},    {90, 4, false}, {-90, 12, false}, {11.25, 1, true},  {-11.25, 0, true},
      {5, 0, false},    {17, 1, false}, {-17, 15, false}, {168.75, 7, true}, {172, 8, false},
      {-172, 8, false}, {45, 2, false}, {33.75, 2, true}, {135, 6, false},   {-135, 10, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.degrees) + " degrees");
    RouteGraph g;
    g.nodes = {toward(180, 100), centre, toward(c.degrees, 100), toward(0, 100), toward(90, 100)};
    // West arm, the street under test, and two more so that the centre is a stop.
    for (const int far : {0, 2, 3, 4}) {
      if (far == 3 && c.degrees == 0) continue;
      GraphSegment s;
      s.from = far == 0 ? 0 : 1;
      s.to = far == 0 ? 1 : far;
      s.points = {g.nodes[static_cast<std::size_t>(s.from)], g.nodes[static_cast<std::size_t>(s.to)]};
      s.feature = far;
      s.open = {true, true};
      s.costFactor = kWalkingFactor;
      g.segments.push_back(s);
    }
    const ReferenceRouter router(g);
    const TurnAngle t = router.Turn(DirectedSegment{0, true}, DirectedSegment{1, true});
    EXPECT_EQ(t.ambiguous, c.ambiguous);
    if (c.ambiguous) continue;
    EXPECT_EQ(t.sector, c.sector);
    EXPECT_NEAR(t.angle, c.degrees * 268435456.0 / 360, 268435456.0 / 360 / 10);
  }
  // A U-turn is exactly half a turn back, sector 8, never in doubt.
  RouteGraph line;
  line.nodes = {toward(180, 100), centre};
  line.segments.push_back(GraphSegment{0, 1, {line.nodes[0], line.nodes[1]}, 0, {true, true}, kWalkingFactor});
  const TurnAngle back = ReferenceRouter(line).Turn(DirectedSegment{0, true}, DirectedSegment{0, false});
  EXPECT_EQ(back.angle, -268435456.0 / 2);
  EXPECT_EQ(back.sector, 8);
  EXPECT_FALSE(back.ambiguous);
}

// Brute force: every route from the origin that uses no block twice in
// the same direction (an optimal route never needs to), priced by Evaluate
// and cut short once it costs as much as the best so far. The cheapest
// cost below `bound`, else `bound`. A bound just above the search's answer
// keeps it short and still finds any cheaper route, and nothing when the
// answer is too cheap to be true.
std::int64_t Cheapest(const ReferenceRouter& router, const RouteGraph& g, DirectedSegment origin,
                      DirectedSegment destination, const TurnCosts& table, unsigned shift, std::int64_t bound) {
  std::int64_t best = bound;
  std::vector<DirectedSegment> route{origin};
  std::vector<bool> used(g.segments.size() * 2, false);
  auto key = [](DirectedSegment d) { return static_cast<std::size_t>(d.segment) * 2 + (d.forward ? 0 : 1); };
  used[key(origin)] = true;
  std::function<void()> extend = [&]() {
    const ReferenceRoute r = router.Evaluate(route, table, shift);
    if (!r.found || r.cost >= best) return;
    if (route.back() == destination) {
      best = r.cost;
      return;
    }
    const int node = router.EndOf(route.back());
    for (const int s : router.SegmentsAt(node)) {
      for (const bool forward : {true, false}) {
        const DirectedSegment next{s, forward};
        if (router.StartOf(next) != node || used[key(next)]) continue;
        used[key(next)] = true;
        route.push_back(next);
        extend();
        route.pop_back();
        used[key(next)] = false;
      }
    }
  };
  extend();
  return best;
}

TEST(ReferenceRouter, FindsWhatBruteForceFindsOnTinyRandomGrids) {
  int routes = 0;
  int none = 0;
  for (std::uint32_t seed = 1; seed <= 12; ++seed) {
    GridOptions o;
    o.seed = seed;
    o.columns = 3;
    o.rows = 3;
    o.spacingMetres = 150;  // about 0.8 of a cell east to west: some grids are cut
    o.jitter = 0.25;
    o.maxLineBlocks = 2;
    o.oneWayShare = 0.3;
    o.missingBlockShare = 0.1;
    o.restrictions = 2;
    const RouteGrid grid = RouteGrid::Generate(o);
    ASSERT_TRUE(grid.ok()) << "seed " << seed << ": " << grid.error();
    // Tables with forbidden sectors and a cheap U-turn, one shifted.
    const TurnCosts tables[] = {kDefaultTurnCosts, With({{3, -1}, {4, -1}, {5, -1}, {8, 500}})};
    for (const TravelMode mode : {TravelMode::kWalking, TravelMode::kDriving}) {
      const RouteGraph& g = grid.Graph(mode);
      const ReferenceRouter router(g);
      const std::size_t n = g.segments.size();
      for (std::size_t k = 0; k < 2 * n; ++k) {
        // Every directed block as origin, a destination a little way on.
        const DirectedSegment origin{static_cast<int>(k / 2), k % 2 == 0};
        const DirectedSegment destination{static_cast<int>((k * 7 + seed) % n), (k + seed) % 3 != 0};
        const unsigned shift = k % 5 == 0 ? 4 : 0;
        const TurnCosts& table = tables[k % 2];
        SCOPED_TRACE("seed " + std::to_string(seed) + (mode == TravelMode::kWalking ? " walking" : " driving") +
                     " origin " + std::to_string(origin.segment) + " destination " +
                     std::to_string(destination.segment));
        const ReferenceRoute r = router.Route(origin, destination, table, shift);
        constexpr std::int64_t kNone = std::numeric_limits<std::int64_t>::max();
        const std::int64_t brute = Cheapest(router, g, origin, destination, table, shift, r.found ? r.cost + 1 : kNone);
        if (!r.found) {
          EXPECT_EQ(brute, kNone) << "brute force finds a route the search missed";
          ++none;
          continue;
        }
        EXPECT_EQ(r.cost, brute);
        EXPECT_EQ(r.segments.front(), origin);
        EXPECT_EQ(r.segments.back(), destination);
        ++routes;
      }
    }
  }
  // Both outcomes occur, and routes far more often.
  EXPECT_GT(routes, 300);
  EXPECT_GT(none, 0);
}

}  // namespace
}  // namespace routetest
