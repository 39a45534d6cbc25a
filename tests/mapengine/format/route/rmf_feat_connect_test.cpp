// The roads at one end of a reference on built street maps: which way the
// records point and where they end, the headings, verdicts and classes they
// carry, their order, the capacity, and the refusals. Every listing is made
// from the routing tables and from the records directly, and both must
// agree.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <tuple>
#include <utility>
#include <vector>

#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/route/RmfFeatConnect.h"
#include "mapengine/format/route/RmfNodeConnections.h"
#include "mapengine/format/route/RmfRouteInternal.h"
#include "tests/mapengine/format/features/RmfFeatureRefPrint.h"
#include "tests/mapengine/format/route/RouteTableTestMap.h"

namespace {

using routetest::At;
using routetest::Record;
using routetest::Street;
using routetest::TestMap;

constexpr std::int32_t kEast = 0;
constexpr std::int32_t kNorth = 0x4000000;
constexpr std::int32_t kWest = 0x8000000;
constexpr std::int32_t kSouth = -0x4000000;
constexpr std::int32_t kNoBox = -1;  // what the map engine passes

// A crossing at X with arms 1000 units long, inside one level-0 cell.
const TiPoint kX = At(2000, 2000);
const TiPoint kW = At(1000, 2000);
const TiPoint kE = At(3000, 2000);
const TiPoint kN = At(2000, 3000);
const TiPoint kS = At(2000, 1000);

rmfbuild::FeatureMap MapOf(std::vector<rmfbuild::Feature> streets) {
  rmfbuild::FeatureMap map;
  for (rmfbuild::Feature& f : streets) map.Add(std::move(f));
  return map;
}

// The vertex positions of a street's points, first to last.
std::vector<std::int32_t> VerticesOf(const TestMap& m, int street) {
  const routetest::PartName p = m.Part(static_cast<std::size_t>(street));
  Record rec(m.reader(), p.key);
  return rec.Vertices(p.part);
}

// The reference along `street` from its point `from` to its point `to`.
RmfFeatureRef Ref(const TestMap& m, int street, int from, int to) {
  const routetest::PartName p = m.Part(static_cast<std::size_t>(street));
  const std::vector<std::int32_t> v = VerticesOf(m, street);
  return RmfFeatureRef{p.key.a,
                       p.key.b,
                       p.key.c,
                       static_cast<std::uint16_t>(p.part),
                       static_cast<std::uint16_t>(v.at(static_cast<std::size_t>(from))),
                       static_cast<std::uint16_t>(v.at(static_cast<std::size_t>(to))),
                       kRmfPositionWhole};
}

// A record as the tests name it: the street, its start and end point (by
// index among the street's points), heading, verdict and class.
struct Road {
  int street;
  int from;
  int to;
  std::int32_t heading;
  int verdict;
  int roadClass;
  bool operator==(const Road&) const = default;
};

void PrintTo(const Road& r, std::ostream* os) {
  *os << "{street " << r.street << ", " << r.from << "->" << r.to << ", heading 0x" << std::hex << r.heading << std::dec
      << ", verdict " << r.verdict << ", class " << r.roadClass << "}";
}

struct Listing {
  std::int32_t result = 0;
  std::vector<RmfJunction> records;  // as written
  std::vector<Road> roads;           // the same, named
};

// Lists the roads at one end of the reference, from the tables or from the
// records.
Listing List(const TestMap& m, const RmfFeatureRef& ref, int endFlag, bool tables, std::int32_t reach = kNoBox,
             std::int32_t capacity = 25) {
  Listing run;
  run.records.assign(static_cast<std::size_t>(capacity), RmfJunction{});
  run.result = RmfRouteFeatConnect(m.route(), &ref, endFlag, run.records.data(), capacity, tables ? 1 : 0, reach);
  run.records.resize(static_cast<std::size_t>(std::clamp(run.result, 0, capacity)));
  for (const RmfJunction& r : run.records) {
    const RmfFeatKey key{r.featureId, static_cast<std::uint16_t>(r.secondId & 0xFFFF),
                         static_cast<std::uint16_t>(r.secondId >> 16)};
    const int street = m.FeatureOf(key, r.part);
    Road road{street, -1, -1, r.heading, r.verdict, r.roadClass};
    if (street >= 0) {
      const std::vector<std::int32_t> v = VerticesOf(m, street);
      const auto index = [&](std::uint16_t vertex) {
        const auto it = std::find(v.begin(), v.end(), vertex);
        return it == v.end() ? -1 : static_cast<int>(it - v.begin());
      };
      road.from = index(r.startVertex);
      road.to = index(r.endVertex);
    }
    run.roads.push_back(road);
  }
  return run;
}

// Lists from the tables and from the records, expects both the same, and
// gives the first.
Listing ListBoth(const TestMap& m, const RmfFeatureRef& ref, int endFlag, std::int32_t reach = kNoBox) {
  Listing fromTables = List(m, ref, endFlag, true, reach);
  const Listing fromRecords = List(m, ref, endFlag, false, reach);
  EXPECT_EQ(fromTables.result, fromRecords.result);
  EXPECT_EQ(fromTables.roads, fromRecords.roads);
  return fromTables;
}

std::vector<Road> Sorted(std::vector<Road> roads) {
  std::sort(roads.begin(), roads.end(), [](const Road& a, const Road& b) {
    return std::tie(a.street, a.from, a.to) < std::tie(b.street, b.from, b.to);
  });
  return roads;
}

// The order the records must come in: feature id, source, second id, part,
// the vertex at the junction, then the direction away from it (-1 first).
void ExpectListedInOrder(const std::vector<RmfJunction>& records, int endFlag) {
  const auto key = [endFlag](const RmfJunction& r) {
    const int junction = endFlag != 0 ? r.startVertex : r.endVertex;
    const int far = endFlag != 0 ? r.endVertex : r.startVertex;
    return std::make_tuple(r.featureId, r.secondId & 0xFFFF, r.secondId >> 16, r.part, junction, far > junction);
  };
  for (std::size_t i = 1; i < records.size(); ++i) {
    EXPECT_LT(key(records[i - 1]), key(records[i])) << "records " << i - 1 << " and " << i;
  }
}

// ---- which way the records point --------------------------------------------------------------

TEST(FeatConnect, AtTheEndTheRoadsLeaveAtTheStartTheyArrive) {
  // 0: west to east, 1: south to north, crossing at X (their point 1).
  TestMap m(MapOf({Street("A", {kW, kX, kE}), Street("B", {kS, kX, kN})}));
  ASSERT_TRUE(m.ok());

  // Arriving at X from the west: every road leaves X, its heading that of
  // leaving; turning back is a way too.
  const Listing leaving = ListBoth(m, Ref(m, 0, 0, 1), 1);
  ASSERT_EQ(leaving.result, 4);
  EXPECT_EQ(Sorted(leaving.roads), (std::vector<Road>{{0, 1, 0, kWest, 0, 3},
                                                      {0, 1, 2, kEast, 0, 3},
                                                      {1, 1, 0, kSouth, 0, 3},
                                                      {1, 1, 2, kNorth, 0, 3}}));
  ExpectListedInOrder(leaving.records, 1);

  // Setting out from X to the east: every road arrives at X, its heading
  // that of arriving.
  const Listing arriving = ListBoth(m, Ref(m, 0, 1, 2), 0);
  ASSERT_EQ(arriving.result, 4);
  EXPECT_EQ(Sorted(arriving.roads), (std::vector<Road>{{0, 0, 1, kEast, 0, 3},
                                                       {0, 2, 1, kWest, 0, 3},
                                                       {1, 0, 1, kNorth, 0, 3},
                                                       {1, 2, 1, kSouth, 0, 3}}));
  ExpectListedInOrder(arriving.records, 0);

  // Every record is a reference the feature functions take: the whole
  // stretch of a part.
  for (const Listing* l : {&leaving, &arriving}) {
    for (const RmfJunction& r : l->records) {
      EXPECT_EQ(r.fraction, kRmfPositionWhole);
      EXPECT_EQ(RmfFeatureRefClassify(m.reader(), RmfJunctionReference(r)), kRmfRefWholeSegment)
          << RmfJunctionReference(r);
    }
  }
}

TEST(FeatConnect, ARoadThroughTheJunctionComesBothWaysDownwardFirst) {
  // A side street from the north ends on the middle of a through street.
  TestMap m(MapOf({Street("A", {kW, kX, kE}), Street("B", {kN, kX})}));
  ASSERT_TRUE(m.ok());
  const Listing run = ListBoth(m, Ref(m, 1, 0, 1), 1);
  ASSERT_EQ(run.result, 3);
  std::vector<Road> through;
  for (const Road& r : run.roads) {
    if (r.street == 0) through.push_back(r);
  }
  // Adjacent in the list, the way toward the lower vertex first.
  EXPECT_EQ(through, (std::vector<Road>{{0, 1, 0, kWest, 0, 3}, {0, 1, 2, kEast, 0, 3}}));
  const auto first = std::find_if(run.roads.begin(), run.roads.end(), [](const Road& r) { return r.street == 0; });
  ASSERT_NE(first, run.roads.end());
  EXPECT_EQ(first[1].street, 0);
  ExpectListedInOrder(run.records, 1);
}

// ---- verdicts and classes -----------------------------------------------------------------------

TEST(FeatConnect, ClosedWaysAreListedWithANegativeClass) {
  struct Case {
    rmfbuild::OneWay way;  // of the side street, drawn from X north
    int endFlag;
    int verdict;  // of the side street's record
    int roadClass;
  };
  const Case cases[] = {
      {rmfbuild::OneWay::kBoth, 1, kRmfVerdictAllowed, 3},
      {rmfbuild::OneWay::kAlong, 1, kRmfVerdictAllowed, 3},  // leaving northward is its way
      {rmfbuild::OneWay::kAgainst, 1, kRmfVerdictOneWay, -1},
      {rmfbuild::OneWay::kAlong, 0, kRmfVerdictOneWay, -1},  // arriving from the north is not
      {rmfbuild::OneWay::kAgainst, 0, kRmfVerdictAllowed, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "one-way " << static_cast<int>(c.way) << ", end flag " << c.endFlag);
    rmfbuild::Feature side = Street("B", {kX, kN});
    side.SetOneWay(c.way);
    TestMap m(MapOf({Street("A", {kW, kX, kE}), side}));
    ASSERT_TRUE(m.ok());
    const RmfFeatureRef ref = c.endFlag != 0 ? Ref(m, 0, 0, 1) : Ref(m, 0, 1, 2);
    const Listing run = ListBoth(m, ref, c.endFlag);
    ASSERT_EQ(run.result, 3);
    const Road expected = c.endFlag != 0 ? Road{1, 0, 1, kNorth, c.verdict, c.roadClass}
                                         : Road{1, 1, 0, kSouth, c.verdict, c.roadClass};
    EXPECT_EQ(std::count(run.roads.begin(), run.roads.end(), expected), 1);
  }
}

TEST(FeatConnect, ForbiddenTurnsAreListedWithTheirVerdict) {
  // Left turns (sector 4) forbidden.
  std::int32_t costs[kRmfTurnSectors];
  std::copy(std::begin(kRmfDefaultTurnCosts), std::end(kRmfDefaultTurnCosts), costs);
  costs[4] = -1;
  TestMap m(MapOf({Street("A", {kW, kX, kE}), Street("B", {kS, kX, kN})}));
  ASSERT_TRUE(m.ok());
  ASSERT_EQ(RmfRouteSetTurnCosts(m.route(), costs), 1);
  // From the west, the left turn is to the north; setting out eastward, the
  // left turn is the one in from the north.
  const Listing leaving = ListBoth(m, Ref(m, 0, 0, 1), 1);
  EXPECT_EQ(Sorted(leaving.roads), (std::vector<Road>{{0, 1, 0, kWest, 0, 3},
                                                      {0, 1, 2, kEast, 0, 3},
                                                      {1, 1, 0, kSouth, 0, 3},
                                                      {1, 1, 2, kNorth, kRmfVerdictForbiddenTurn, 3}}));
  const Listing arriving = ListBoth(m, Ref(m, 0, 1, 2), 0);
  EXPECT_EQ(Sorted(arriving.roads), (std::vector<Road>{{0, 0, 1, kEast, 0, 3},
                                                       {0, 2, 1, kWest, 0, 3},
                                                       {1, 0, 1, kNorth, 0, 3},
                                                       {1, 2, 1, kSouth, kRmfVerdictForbiddenTurn, 3}}));
}

TEST(FeatConnect, WhereTheRoadMerelyContinuesTurningBackIsForbidden) {
  TestMap m(MapOf({Street("A", {kW, kX}), Street("A", {kX, kE})}));
  ASSERT_TRUE(m.ok());
  const Listing run = ListBoth(m, Ref(m, 0, 0, 1), 1);
  EXPECT_EQ(Sorted(run.roads),
            (std::vector<Road>{{0, 1, 0, kWest, kRmfVerdictForbiddenTurn, 3}, {1, 0, 1, kEast, 0, 3}}));
}

TEST(FeatConnect, AGroupedJunctionListsEveryWayOnceTheWayTheRecordsPoint) {
  // A two-way freeway (group code 2) through X and a one-way ramp (group
  // code 1) from the north into X, arrived at along the freeway: the
  // junction is handled as a group, whose enumeration also lists ways with
  // the other forward-search mark. The freeway onward comes twice there,
  // the ramp only as a way in.
  rmfbuild::Feature ramp = Street("R", {kN, kX}, 3, '5', 1, '9', '1');
  ramp.SetOneWay(rmfbuild::OneWay::kAlong);
  TestMap m(MapOf({Street("F", {kW, kX, kE}, 3, '5', 1, '1', '1'), ramp}));
  ASSERT_TRUE(m.ok());
  struct Case {
    int endFlag;
    RmfFeatureRef ref;
    std::vector<Road> roads;  // verdicts: 0 for the way straight on, else not 0
  };
  const Case cases[] = {
      {1, Ref(m, 0, 0, 1), {{0, 1, 0, kWest, 1, 3}, {0, 1, 2, kEast, 0, 3}, {1, 1, 0, kNorth, 1, -1}}},
      {0, Ref(m, 0, 1, 2), {{0, 0, 1, kEast, 0, 3}, {0, 2, 1, kWest, 1, 3}, {1, 0, 1, kSouth, 1, 3}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.endFlag);
    const Listing run = ListBoth(m, c.ref, c.endFlag);
    std::vector<Road> roads = Sorted(run.roads);
    for (Road& r : roads) r.verdict = r.verdict != 0 ? 1 : 0;
    EXPECT_EQ(roads, c.roads);
    ExpectListedInOrder(run.records, c.endFlag);
  }
}

// ---- capacity --------------------------------------------------------------------------------

TEST(FeatConnect, ACapacityBelowTheCountWritesTheFirstAndCountsAll) {
  TestMap m(MapOf({Street("A", {kW, kX, kE}), Street("B", {kS, kX, kN})}));
  ASSERT_TRUE(m.ok());
  const RmfFeatureRef ref = Ref(m, 0, 0, 1);
  const Listing all = List(m, ref, 1, true);
  ASSERT_EQ(all.result, 4);
  for (std::int32_t capacity : {0, 1, 3, 4, 6}) {
    SCOPED_TRACE(capacity);
    std::vector<RmfJunction> out(8);
    std::memset(out.data(), 0xA5, out.size() * sizeof(RmfJunction));
    EXPECT_EQ(RmfRouteFeatConnect(m.route(), &ref, 1, out.data(), capacity, 1, kNoBox), 4);
    const auto written = static_cast<std::size_t>(std::min(capacity, 4));
    for (std::size_t i = 0; i < out.size(); ++i) {
      if (i < written) {
        EXPECT_EQ(std::memcmp(&out[i], &all.records[i], sizeof(RmfJunction)), 0) << "record " << i;
      } else {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&out[i]);
        EXPECT_TRUE(std::all_of(bytes, bytes + sizeof(RmfJunction), [](std::uint8_t b) { return b == 0xA5; }))
            << "record " << i << " was written";
      }
    }
  }
  // Counting alone needs no array.
  EXPECT_EQ(RmfRouteFeatConnect(m.route(), &ref, 1, nullptr, 0, 1, kNoBox), 4);
}

// ---- where the records end -------------------------------------------------------------------

TEST(FeatConnect, TheReachSetsTheFarEnd) {
  // From the west street into X, two streets go on east and north through
  // four vertices each, 500 units apart, to a cross street at the fourth.
  // Near 53.5 degrees north the cosine is about 0.595: a box of reach 700
  // reaches 700 units north and south and about 1177 east and west.
  const TiPoint x = At(1000, 1000);
  const auto east = [&](int i) { return At(1000 + 500 * i, 1000); };
  const auto north = [&](int i) { return At(1000, 1000 + 500 * i); };
  TestMap m(MapOf({Street("W", {At(500, 1000), x}),
                   Street("E", {x, east(1), east(2), east(3), east(4)}),
                   Street("N", {x, north(1), north(2), north(3), north(4)}),
                   Street("EC", {At(3000, 500), At(3000, 1500)}),
                   Street("NC", {At(500, 3000), At(1500, 3000)})}));
  ASSERT_TRUE(m.ok());
  struct Case {
    std::int32_t reach;
    int eastEnd;  // point index of the far end on the east and north streets
    int northEnd;
  };
  const Case cases[] = {
      {kNoBox, 4, 4},          // the next junction
      {-7, 4, 4},              // as any value outside the box's range
      {kRmfReachBoxMax + 1, 4, 4},
      {kRmfReachBoxMax, 4, 4},  // a box larger than the streets
      {kRmfReachNextNode, 1, 1},
      {700, 3, 2},             // the first vertex outside the box
      {1, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reach);
    const Listing leaving = ListBoth(m, Ref(m, 0, 0, 1), 1, c.reach);
    EXPECT_EQ(Sorted(leaving.roads), (std::vector<Road>{{0, 1, 0, kWest, 0, 3},
                                                        {1, 0, c.eastEnd, kEast, 0, 3},
                                                        {2, 0, c.northEnd, kNorth, 0, 3}}));
    // Toward the junction the far end is the start.
    const Listing arriving = ListBoth(m, Ref(m, 1, 0, 1), 0, c.reach);
    EXPECT_EQ(Sorted(arriving.roads), (std::vector<Road>{{0, 0, 1, kEast, 0, 3},
                                                         {1, c.eastEnd, 0, kWest, 0, 3},
                                                         {2, c.northEnd, 0, kSouth, 0, 3}}));
  }
}

// ---- across blocks and tile levels -------------------------------------------------------------

// A record by its street and the points it runs between.
struct Stretch {
  int street;
  std::pair<std::int32_t, std::int32_t> start;
  std::pair<std::int32_t, std::int32_t> end;
  auto operator<=>(const Stretch&) const = default;
};

std::vector<Stretch> Stretches(const TestMap& m, const std::vector<RmfJunction>& records) {
  std::vector<Stretch> out;
  for (const RmfJunction& r : records) {
    const RmfFeatKey key{r.featureId, static_cast<std::uint16_t>(r.secondId & 0xFFFF),
                         static_cast<std::uint16_t>(r.secondId >> 16)};
    Record rec(m.reader(), key);
    const auto point = [&](std::uint16_t vertex) {
      TiPoint p{};
      EXPECT_EQ(RmfFeaturePointAt(rec.get(), RmfFeatureNodeAt(rec.get(), r.part, vertex), &p), 1);
      return std::make_pair(p.x, p.y);
    };
    out.push_back(Stretch{m.FeatureOf(key, r.part), point(r.startVertex), point(r.endVertex)});
  }
  std::sort(out.begin(), out.end());
  return out;
}

TEST(FeatConnect, RoadsOfOtherBlocksEndInTheirOwnBlock) {
  // X lies on the border of two level-0 cells. The long street is cut there
  // into a piece in each cell; a side street leaves X into the eastern cell,
  // a street of the coarser level-1 tiles into the western one. Each record
  // is followed in its own block to its far end.
  const TiPoint x = At(routetest::kCell, 2000);
  const TiPoint west = At(2000, 2000), east = At(routetest::kCell + 2000, 2000);
  const TiPoint sideMid = At(routetest::kCell + 250, 2500), sideEnd = At(routetest::kCell + 500, 3000);
  const TiPoint ringMid = At(routetest::kCell - 250, 2750), ringEnd = At(routetest::kCell - 500, 3500);
  TestMap m(MapOf({Street("Long", {west, east}), Street("Side", {x, sideMid, sideEnd}),
                   Street("Ring", {x, ringMid, ringEnd}, 3, '5', 2)}));
  ASSERT_TRUE(m.ok());
  ASSERT_EQ(m.PieceCount(0), 2u);
  const routetest::PartName first = m.Part(0, 0);
  const std::vector<std::int32_t> v = [&] {
    Record rec(m.reader(), first.key);
    return rec.Vertices(first.part);
  }();
  ASSERT_EQ(v.size(), 2u);
  const RmfFeatureRef ref{first.key.a, first.key.b, first.key.c, static_cast<std::uint16_t>(first.part),
                          static_cast<std::uint16_t>(v[0]), static_cast<std::uint16_t>(v[1]), kRmfPositionWhole};
  const auto at = [](TiPoint p) { return std::make_pair(p.x, p.y); };
  struct Case {
    std::int32_t reach;
    TiPoint sideFar;
    TiPoint ringFar;
  };
  for (const Case& c : {Case{kNoBox, sideEnd, ringEnd}, Case{kRmfReachNextNode, sideMid, ringMid}}) {
    SCOPED_TRACE(c.reach);
    for (bool tables : {true, false}) {
      SCOPED_TRACE(tables ? "tables" : "records");
      const Listing run = List(m, ref, 1, tables, c.reach);
      ASSERT_EQ(run.result, 4);
      EXPECT_EQ(Stretches(m, run.records), (std::vector<Stretch>{{0, at(x), at(west)},
                                                                 {0, at(x), at(east)},
                                                                 {1, at(x), at(c.sideFar)},
                                                                 {2, at(x), at(c.ringFar)}}));
      ExpectListedInOrder(run.records, 1);
    }
  }
}

// ---- refusals --------------------------------------------------------------------------------

TEST(FeatConnect, BadCallsAreRefused) {
  TestMap m(MapOf({Street("A", {kW, kX, kE}), Street("B", {kS, kX, kN})}));
  ASSERT_TRUE(m.ok());
  const RmfFeatureRef good = Ref(m, 0, 0, 1);
  RmfJunction out[4];
  EXPECT_EQ(RmfRouteFeatConnect(nullptr, &good, 1, out, 4, 1, kNoBox), kRmfBadArgument);
  EXPECT_EQ(RmfRouteFeatConnect(m.route(), nullptr, 1, out, 4, 1, kNoBox), kRmfBadArgument);
  EXPECT_EQ(RmfRouteFeatConnect(m.route(), &good, 1, out, -1, 1, kNoBox), kRmfBadArgument);
  EXPECT_EQ(RmfRouteFeatConnect(m.route(), &good, 1, nullptr, 1, 1, kNoBox), kRmfBadArgument);

  struct Case {
    const char* what;
    RmfFeatureRef ref;
    std::int32_t expected;
    bool counted;  // as an internal error
  };
  RmfFeatureRef noRecord = good;
  noRecord.featureId ^= 0x10000;
  RmfFeatureRef noSource = good;
  noSource.source = 7;
  RmfFeatureRef noPart = good;
  noPart.part = 9;
  RmfFeatureRef noVertex = good;
  noVertex.toVertex = 40;
  RmfFeatureRef farVertex = good;
  farVertex.toVertex = 40000;
  const Case cases[] = {
      {"a record the map does not hold", noRecord, kRmfBadArgument, false},
      {"a source the reader does not have", noSource, kRmfBadArgument, false},
      {"a part the record does not have", noPart, kRmfBadReference, false},
      {"a vertex the part does not have", noVertex, kRmfBadReference, false},
      {"a vertex beyond the router's reach", farVertex, kRmfMalformed, true},
  };
  for (const Case& c : cases) {
    const std::uint32_t before = RmfInternalErrorCount();
    EXPECT_EQ(RmfRouteFeatConnect(m.route(), &c.ref, 1, out, 4, 1, kNoBox), c.expected) << c.what;
    EXPECT_EQ(RmfInternalErrorCount(), before + (c.counted ? 1 : 0)) << c.what;
  }
}

TEST(FeatConnect, AReferenceAgainstItsOneWayIsRefused) {
  rmfbuild::Feature oneWay = Street("B", {kX, kN});
  oneWay.SetOneWay(rmfbuild::OneWay::kAlong);
  TestMap m(MapOf({Street("A", {kW, kX, kE}), oneWay}));
  ASSERT_TRUE(m.ok());
  RmfJunction out[4];
  // Arriving at X from the north, and setting out from X southward, both
  // travel B against its way.
  for (int endFlag : {0, 1}) {
    const RmfFeatureRef against = Ref(m, 1, 1, 0);
    EXPECT_EQ(RmfRouteFeatConnect(m.route(), &against, endFlag, out, 4, 1, kNoBox), kRmfBadReference) << endFlag;
  }
  const RmfFeatureRef along = Ref(m, 1, 0, 1);
  EXPECT_EQ(RmfRouteFeatConnect(m.route(), &along, 0, out, 4, 1, kNoBox), 3);
}

TEST(FeatConnect, FailuresOfTheProfileAndOfTheJunction) {
  // Without a profile nothing can be judged.
  {
    TestMap m(MapOf({Street("A", {kW, kX, kE})}));
    ASSERT_TRUE(m.ok());
    ASSERT_EQ(RmfProfileSetCallbacks(m.reader(), nullptr, nullptr, nullptr, kRmfProfileEngineLimit), 1);
    const RmfFeatureRef ref = Ref(m, 0, 0, 1);
    EXPECT_EQ(RmfRouteFeatConnect(m.route(), &ref, 1, nullptr, 0, 1, kNoBox), kRmfProfileMissing);
  }
  // A street of class 0 may be travelled, but is no way out of a junction:
  // a junction without a single way out is the router's failure.
  {
    TestMap m(MapOf({Street("A", {kW, kX}, 0), Street("B", {kX, kE}, 0)}));
    ASSERT_TRUE(m.ok());
    const RmfFeatureRef ref = Ref(m, 0, 0, 1);
    const std::uint32_t before = RmfInternalErrorCount();
    EXPECT_EQ(RmfRouteFeatConnect(m.route(), &ref, 1, nullptr, 0, 1, kNoBox), kRmfMalformed);
    EXPECT_EQ(RmfInternalErrorCount(), before + 1);
  }
}

}  // namespace
