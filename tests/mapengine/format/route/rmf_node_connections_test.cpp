// The ways through junctions of built street maps: a crossing, a T, one-way
// streets, a road that merely continues, turn restrictions written on the
// segments at their via node, and a connector that carries a junction to its
// other end. Passages are gathered from the routing tables and, with the
// tables off, from the records directly; both must agree.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "mapengine/format/base/TiMath.h"
#include "mapengine/format/route/RmfJunctionJudge.h"
#include "mapengine/format/route/RmfNodeConnections.h"
#include "mapengine/format/route/RmfRouteInternal.h"
#include "tests/mapengine/format/route/RouteTableTestMap.h"

namespace {

using routetest::At;
using routetest::Record;
using routetest::Street;
using routetest::TestMap;

constexpr std::int32_t kQuarter = 0x4000000;

// The junction and its arms, 1000 units out.
const TiPoint kX = At(2000, 2000);
const TiPoint kW = At(1000, 2000);
const TiPoint kMidW = At(1500, 2000);
const TiPoint kE = At(3000, 2000);
const TiPoint kN = At(2000, 3000);
const TiPoint kS = At(2000, 1000);

// The driving connection filter as far as turn restrictions go: a "L7B"
// attribute whose value is "0" and a pair of letters gives an item of the
// kind they name (P with B, C, E: 2, 3, 4; R with B, C, E: 5, 6, 7), keyed by
// the number in its name text. A code marked '-' puts it in the first list
// only, one marked '+' in the second only, an unmarked one in both.
std::int32_t RestrictionFilter(const RmfAttrSet* set, void*, RmfConnectionAnswer* answer, void*) {
  answer->itemCounts[0] = answer->itemCounts[1] = 0;
  for (std::int32_t i = 0; i < set->count; ++i) {
    const RmfAttrEntry& e = set->entries[i];
    if (e.codeLength < 3 || e.code[1] != '7' || e.code[2] != 'B' || e.valueLength < 3 || e.value[0] != '0') continue;
    const std::string letters(e.value + 1, 2);
    const char* kinds[] = {"PB", "PC", "PE", "RB", "RC", "RE"};
    const auto* k = std::find(std::begin(kinds), std::end(kinds), letters);
    if (k == std::end(kinds)) continue;
    const RmfRestriction item{0, static_cast<std::uint8_t>(2 + (k - std::begin(kinds))),
                              static_cast<std::uint32_t>(std::strtoul(e.name, nullptr, 10))};
    const char mark = e.codeLength > 3 ? e.code[3] : '\0';
    for (int side = 0; side < 2; ++side) {
      if ((side == 0 && mark == '+') || (side == 1 && mark == '-')) continue;
      if (answer->itemCounts[side] < kRmfConnectionItems) answer->items[side][answer->itemCounts[side]++] = item;
    }
  }
  return 0;
}

// A restriction attribute for travel along the segment's vertex order
// ('+') or against it ('-'), as the converter writes them.
rmfbuild::TextTriple Restriction(const char* value, std::uint32_t key, char mark = '+') {
  return rmfbuild::TextTriple{std::string("37B") + mark, value, std::to_string(key)};
}

// One connection as the test names it: the street (feature index) and
// whether it leads away from the junction's vertex toward higher positions.
struct Way {
  int feature;
  int direction;
  int verdict;
  int sector;
  bool operator==(const Way&) const = default;
};

void PrintTo(const Way& w, std::ostream* os) {
  *os << "{feature " << w.feature << ", direction " << w.direction << ", verdict " << w.verdict << ", sector "
      << w.sector << "}";
}

struct Listing {
  std::int32_t result = 0;
  std::int32_t pending = 0;
  std::vector<Way> ways;
};

// Arrives along `feature` at the junction point (one of its vertices) in
// `direction` and lists the connections there.
Listing Connect(const TestMap& m, int feature, int direction, bool reverse, bool skip = false, bool tables = true,
            TiPoint at = kX) {
  Listing run;
  const routetest::PartName p = m.Part(static_cast<std::size_t>(feature));
  std::int32_t vertex = -1;
  {
    Record rec(m.reader(), p.key);
    for (std::int32_t v : rec.Vertices(p.part)) {
      TiPoint q{};
      if (RmfFeaturePointAt(rec.get(), RmfFeatureNodeAt(rec.get(), p.part, v), &q) == 1 && q.x == at.x &&
          q.y == at.y) {
        vertex = v;
      }
    }
  }
  if (vertex < 0) {
    ADD_FAILURE() << "feature " << feature << " does not pass the junction";
    return run;
  }
  const RmfArrivalRef arriving{p.key.a, p.key.b | (static_cast<std::uint32_t>(p.key.c) << 16),
                               static_cast<std::uint32_t>(p.part) | (static_cast<std::uint32_t>(vertex) << 14) |
                                   (direction > 0 ? kRmfNodeRefHigher : 0u),
                               nullptr};
  const std::int32_t cosine = TiSin(static_cast<std::uint32_t>(at.y) + kQuarter);
  RmfConnection out[kRmfMaxConnections] = {};
  run.result = RmfRouteNodeConnections(m.route(), 0, nullptr, &arriving, 0, reverse ? 1 : 0, 0, 0, nullptr, nullptr,
                                       skip ? 1 : 0, 0, tables ? 1 : 0, nullptr, vertex, 0, cosine, out, nullptr,
                                       &run.pending);
  for (std::int32_t i = 0; i < run.result; ++i) {
    const RmfConnection& c = out[i];
    const RmfFeatKey key{c.featureId, static_cast<std::uint16_t>(c.secondId & 0xFFFF),
                         static_cast<std::uint16_t>(c.secondId >> 16)};
    run.ways.push_back(
        Way{m.FeatureOf(key, c.part), c.direction, c.verdict, rmf::detail::TurnSector(c.turnAngle)});
  }
  std::sort(run.ways.begin(), run.ways.end(), [](const Way& a, const Way& b) {
    return a.feature != b.feature ? a.feature < b.feature : a.direction < b.direction;
  });
  return run;
}

rmfbuild::FeatureMap MapOf(std::vector<rmfbuild::Feature> streets) {
  rmfbuild::FeatureMap map;
  for (rmfbuild::Feature& f : streets) map.Add(std::move(f));
  return map;
}

// ---- crossings, T junctions, one-way streets ---------------------------------------------------

TEST(NodeConnections, CrossingFromTablesAndFromRecords) {
  // 0: west to east, 1: south to north, both through the junction.
  TestMap m(MapOf({Street("A", {kW, kX, kE}), Street("B", {kS, kX, kN})}), testprofiles::Driving);
  ASSERT_TRUE(m.ok());
  for (bool tables : {true, false}) {
    SCOPED_TRACE(tables ? "tables" : "records");
    // Arriving eastward: straight on, left (north), right (south), back.
    const Listing forward = Connect(m, 0, +1, true, false, tables);
    ASSERT_EQ(forward.result, 4);
    EXPECT_EQ(forward.ways, (std::vector<Way>{{0, -1, 0, 8}, {0, 1, 0, 0}, {1, -1, 0, 12}, {1, 1, 0, 4}}));
    // Going on eastward, the ways in: from the west straight, from the
    // north a left turn, from the south a right turn, from the east back.
    const Listing backward = Connect(m, 0, +1, false, false, tables);
    ASSERT_EQ(backward.result, 4);
    EXPECT_EQ(backward.ways, (std::vector<Way>{{0, -1, 0, 0}, {0, 1, 0, 8}, {1, -1, 0, 12}, {1, 1, 0, 4}}));
  }
}

TEST(NodeConnections, OneWaySideStreetOfAT) {
  struct Case {
    rmfbuild::OneWay way;  // of the side street, drawn from the junction north
    bool reverse;
    int verdict;  // of the way along the side street
  };
  const Case cases[] = {
      {rmfbuild::OneWay::kBoth, true, kRmfVerdictAllowed},
      {rmfbuild::OneWay::kAlong, true, kRmfVerdictAllowed},     // leaving it northward is its way
      {rmfbuild::OneWay::kAgainst, true, kRmfVerdictOneWay},
      {rmfbuild::OneWay::kAlong, false, kRmfVerdictOneWay},     // coming in from the north is not
      {rmfbuild::OneWay::kAgainst, false, kRmfVerdictAllowed},
  };
  for (const Case& c : cases) {
    rmfbuild::Feature side = Street("B", {kX, kN});
    side.SetOneWay(c.way);
    TestMap m(MapOf({Street("A", {kW, kX, kE}), side}), testprofiles::Driving);
    ASSERT_TRUE(m.ok());
    for (bool skip : {false, true}) {
      const Listing run = Connect(m, 0, +1, c.reverse, skip);
      std::vector<Way> expected = {{0, -1, 0, c.reverse ? 8 : 0}, {0, 1, 0, c.reverse ? 0 : 8}};
      if (!skip || c.verdict == 0) expected.push_back({1, 1, c.verdict, 4});
      EXPECT_EQ(run.ways, expected) << static_cast<int>(c.way) << " " << c.reverse << " " << skip;
    }
  }
}

TEST(NodeConnections, NoUTurnWhereTheRoadMerelyContinues) {
  TestMap m(MapOf({Street("A", {kW, kX}), Street("A", {kX, kE})}), testprofiles::Driving);
  ASSERT_TRUE(m.ok());
  EXPECT_EQ(Connect(m, 0, +1, true).ways, (std::vector<Way>{{0, -1, kRmfVerdictForbiddenTurn, 8}, {1, 1, 0, 0}}));
  EXPECT_EQ(Connect(m, 0, +1, true, true).ways, (std::vector<Way>{{1, 1, 0, 0}}));
}

// ---- turn restrictions ---------------------------------------------------------------------------

// Four streets meet at the junction: 0 from the west (ending there), 1 to
// the east, 2 from the south, 3 to the north (starting there). A restriction
// from the west street is written on its segment at the junction, for travel
// toward the junction, and on the first segment of the street it names, for
// travel away from it. With `westDrawnBackwards` the west street runs from
// the junction westward, so its item is marked for travel against its
// vertex order.
class RestrictionMap : public ::testing::Test {
 protected:
  std::unique_ptr<TestMap> Build(const char* fromValue, const char* toValue, int to, std::uint32_t key,
                                 bool westDrawnBackwards = false) {
    std::vector<rmfbuild::Feature> streets = {
        westDrawnBackwards ? Street("W", {kX, kMidW, kW}) : Street("W", {kW, kMidW, kX}), Street("E", {kX, kE}),
        Street("S", {kS, kX}), Street("N", {kX, kN})};
    if (westDrawnBackwards) {
      streets[0].VertexAttr(0, Restriction(fromValue, key, '-'));
    } else {
      streets[0].VertexAttr(1, Restriction(fromValue, key));
    }
    streets[static_cast<std::size_t>(to)].VertexAttr(0, Restriction(toValue, key));
    auto m = std::make_unique<TestMap>(MapOf(std::move(streets)), testprofiles::Driving, RestrictionFilter);
    EXPECT_TRUE(m->ok());
    return m;
  }
};

TEST_F(RestrictionMap, NoLeftTurn) {
  const auto m = Build("0PB", "0PE", 3, 4711);
  ASSERT_TRUE(m->ok());
  // From the west: the left turn north is forbidden, the rest allowed.
  EXPECT_EQ(Connect(*m, 0, +1, true).ways,
            (std::vector<Way>{{0, -1, 0, 8}, {1, 1, 0, 0}, {2, -1, 0, 12}, {3, 1, kRmfVerdictForbiddenTurn, 4}}));
  EXPECT_EQ(Connect(*m, 0, +1, true, true).ways, (std::vector<Way>{{0, -1, 0, 8}, {1, 1, 0, 0}, {2, -1, 0, 12}}));
  // From the south the way north is open.
  EXPECT_EQ(Connect(*m, 2, +1, true, true).ways.size(), 4u);
  // Backward, going on north: the way in from the west is forbidden.
  EXPECT_EQ(Connect(*m, 3, +1, false).ways,
            (std::vector<Way>{{0, -1, kRmfVerdictForbiddenTurn, 4}, {1, 1, 0, 12}, {2, -1, 0, 0}, {3, 1, 0, 8}}));
}

TEST_F(RestrictionMap, OnlyStraightOn) {
  const auto m = Build("0RB", "0RE", 1, 815);
  ASSERT_TRUE(m->ok());
  EXPECT_EQ(Connect(*m, 0, +1, true, true).ways, (std::vector<Way>{{1, 1, 0, 0}}));
  EXPECT_EQ(Connect(*m, 0, +1, true).ways,
            (std::vector<Way>{{0, -1, kRmfVerdictForbiddenTurn, 8},
                              {1, 1, 0, 0},
                              {2, -1, kRmfVerdictForbiddenTurn, 12},
                              {3, 1, kRmfVerdictForbiddenTurn, 4}}));
  // Others may still go east.
  EXPECT_EQ(Connect(*m, 2, +1, true, true).ways.size(), 4u);
  // Backward: going on north, coming from the west is not allowed; going
  // on east, every way in is.
  EXPECT_EQ(Connect(*m, 3, +1, false, true).ways, (std::vector<Way>{{1, 1, 0, 12}, {2, -1, 0, 0}, {3, 1, 0, 8}}));
  EXPECT_EQ(Connect(*m, 1, +1, false, true).ways.size(), 4u);
}

// The items of the from street hold only for travel toward the junction:
// driving away from it along the same segment, the next node is no dead end.
TEST_F(RestrictionMap, ItemsHoldOnlyForTheirDirectionOfTravel) {
  for (bool backwards : {false, true}) {
    SCOPED_TRACE(backwards ? "west street drawn backwards" : "west street drawn toward the junction");
    for (const char* from : {"0RB", "0PB"}) {
      const auto m = Build(from, from[1] == 'R' ? "0RE" : "0PE", from[1] == 'R' ? 1 : 3, 99, backwards);
      ASSERT_TRUE(m->ok());
      // Westward from the junction to the middle node of the west street:
      // going on west is allowed, turning back a U-turn like any other.
      const Listing away = Connect(*m, 0, backwards ? +1 : -1, true, false, true, kMidW);
      ASSERT_EQ(away.result, 2) << from;
      for (const Way& w : away.ways) {
        const bool onward = w.direction == (backwards ? +1 : -1);
        EXPECT_EQ(w.verdict, onward ? kRmfVerdictAllowed : kRmfVerdictForbiddenTurn) << from;
      }
    }
    // Arriving at the junction from the west, the restriction holds.
    const auto only = Build("0RB", "0RE", 1, 815, backwards);
    EXPECT_EQ(Connect(*only, 0, backwards ? -1 : +1, true, true).ways.size(), 1u);
    const auto no = Build("0PB", "0PE", 3, 4711, backwards);
    EXPECT_EQ(Connect(*no, 0, backwards ? -1 : +1, true, true).ways.size(), 3u);
    // Backward, going on north: the way in from the west is forbidden.
    const Listing in = Connect(*no, 3, +1, false, true);
    EXPECT_EQ(in.ways.size(), 3u);
    for (const Way& w : in.ways) EXPECT_NE(w.feature, 0);
  }
}

// ---- connectors and failures ----------------------------------------------------------------------

// A street ends at one end of a connector (road type V), another starts at
// its other end: the junction takes in both ends, the connector itself is
// no way out.
TEST(NodeConnections, ConnectorCarriesTheJunctionToItsOtherEnd) {
  const TiPoint x2 = At(2000, 2100);
  TestMap m(MapOf({Street("A", {kW, kX}), Street("V", {kX, x2}, 3, '5', 1, 'V'), Street("B", {x2, kN})}),
            testprofiles::Driving);
  ASSERT_TRUE(m.ok());
  for (bool tables : {true, false}) {
    EXPECT_EQ(Connect(m, 0, +1, true, false, tables).ways,
              (std::vector<Way>{{0, -1, kRmfVerdictForbiddenTurn, 8}, {2, 1, 0, 4}}))
        << tables;
  }
}

TEST(NodeConnections, InconsistentCallsAreRefusedAndCounted) {
  TestMap m(MapOf({Street("A", {kW, kX, kE})}), testprofiles::Driving);
  ASSERT_TRUE(m.ok());
  const routetest::PartName p = m.Part(0);
  const RmfArrivalRef arriving{p.key.a, p.key.b | (static_cast<std::uint32_t>(p.key.c) << 16),
                               static_cast<std::uint32_t>(p.part) | kRmfNodeRefHigher, nullptr};
  RmfConnection out[kRmfMaxConnections];
  struct Case {
    std::int32_t fromRouteData;
    std::int32_t vertex;
  };
  for (const Case& c : {Case{1, 1}, Case{0, 4000}}) {
    const std::uint32_t before = RmfInternalErrorCount();
    EXPECT_EQ(RmfRouteNodeConnections(m.route(), c.fromRouteData, nullptr, &arriving, 0, 1, 0, 0, nullptr, nullptr, 0,
                                      0, 1, nullptr, c.vertex, 0, 0x10000000, out, nullptr, nullptr),
              kRmfMalformed);
    EXPECT_EQ(RmfInternalErrorCount(), before + 1);
  }
  EXPECT_EQ(RmfRouteNodeConnections(m.route(), 0, nullptr, nullptr, 0, 1, 0, 0, nullptr, nullptr, 0, 0, 1, nullptr,
                                    1, 0, 0x10000000, out, nullptr, nullptr),
            kRmfBadArgument);
}

}  // namespace
