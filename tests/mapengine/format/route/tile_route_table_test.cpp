// Per-tile routing tables on built maps: node counts, classes and passages
// against the fixture's own description (with and without shared points),
// joins across a cell border and with a coarser tile, parts beyond the
// vertex field refused, restriction marks, source enabling and the sort of
// node numbers by position.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

#include "mapengine/format/route/RmfRouteInternal.h"
#include "mapengine/format/route/RmfRouteWalk.h"
#include "mapengine/format/route/RmfTileRouteTable.h"
#include "tests/mapengine/format/route/RouteTableTestMap.h"

namespace {

using routetest::At;
using routetest::IncidencesAt;
using routetest::kCell;
using routetest::NodeAt;
using routetest::Record;
using routetest::Street;
using routetest::Table;
using routetest::TestMap;

struct PointOrder {
  bool operator()(const TiPoint& a, const TiPoint& b) const { return std::tie(a.x, a.y) < std::tie(b.x, b.y); }
};

// A crossing (Main and Cross pass through B), a street continuing Main at C
// (Stub), a walkway from Main's start that cars may not use, and a street
// that loops back to its start.
rmfbuild::FeatureMap Crossings(bool sharePoints) {
  rmfbuild::FeatureMap map;
  map.sharePoints = sharePoints;
  map.Add(Street("Main", {At(1000, 1000), At(2000, 1000), At(3000, 1000)}, 4));
  map.Add(Street("Cross", {At(2000, 300), At(2000, 1000), At(2000, 2000)}, 2));
  map.Add(Street("Stub", {At(3000, 1000), At(3000, 2000)}, 4));
  map.Add(Street("Walkway", {At(1000, 1000), At(1000, 2000)}, 4, '0', 1, '4', 'W'));
  map.Add(Street("Loop", {At(500, 3000), At(1000, 3000), At(1000, 3500), At(500, 3000)}, 3));
  return map;
}

struct ExpectedPassage {
  int feature;
  std::size_t vertex;  // index into the feature's points
  bool starts;
  bool ends;
  bool operator<(const ExpectedPassage& o) const {
    return std::tie(feature, vertex, starts, ends) < std::tie(o.feature, o.vertex, o.starts, o.ends);
  }
  bool operator==(const ExpectedPassage&) const = default;
};

struct ProfileCase {
  const char* name;
  RmfProfileFeatureFn profile;
  bool driving;
};

class TableDescriptionTest : public ::testing::TestWithParam<std::tuple<ProfileCase, bool>> {};

// Every position of the description where open streets pass holds one node
// with one passage per street vertex there, the streets' two highest classes
// and the right start and end marks; nothing else is a node with passages.
TEST_P(TableDescriptionTest, NodesMatchTheStreetsThatMeet) {
  const auto [profile, share] = GetParam();
  const rmfbuild::FeatureMap map = Crossings(share);
  TestMap m(map, profile.profile);
  ASSERT_TRUE(m.ok());
  const routetest::PartName main = m.Part(0);
  for (std::size_t f = 0; f < map.features.size(); ++f) {
    ASSERT_EQ(m.PieceCount(f), 1u);
    ASSERT_EQ(m.Part(f).key.a, main.key.a);
    ASSERT_EQ(m.Part(f).key.c, main.key.c);
  }
  // The description's own account: which street passes where, its class.
  std::map<TiPoint, std::vector<ExpectedPassage>, PointOrder> expected;
  std::map<int, std::uint32_t> classOf;
  for (std::size_t f = 0; f < map.features.size(); ++f) {
    const bool walkway = map.features[f].name == "Walkway";
    if (walkway && profile.driving) continue;
    classOf[static_cast<int>(f)] = profile.driving ? map.features[f].attributes[0].code[0] - '0' : 3;
    const std::vector<TiPoint>& pts = map.features[f].points;
    for (std::size_t i = 0; i < pts.size(); ++i) {
      expected[pts[i]].push_back(ExpectedPassage{static_cast<int>(f), i, i == 0, i + 1 == pts.size()});
    }
  }

  Table t(m.route(), main.key);
  ASSERT_EQ(t.result(), 1);
  EXPECT_EQ(t->state, kRmfTableBuilt);
  EXPECT_EQ(t->joinedLevel, kRmfTableNotJoined);
  EXPECT_EQ(t->sortedNodeCount, expected.size());
  Record rec(m.reader(), main.key);
  ASSERT_NE(rec.get(), nullptr);
  for (const auto& [at, passages] : expected) {
    SCOPED_TRACE(testing::Message() << "node at " << at.x - routetest::kX0 << "," << at.y - routetest::kY0);
    const std::uint32_t* words = NodeAt(t.get(), at);
    ASSERT_NE(words, nullptr);
    EXPECT_EQ(RmfNodeCount(words[1]), passages.size());
    std::vector<std::uint32_t> classes;
    for (const ExpectedPassage& p : passages) classes.push_back(classOf[p.feature]);
    std::sort(classes.rbegin(), classes.rend());
    EXPECT_EQ(RmfNodeClass(words[1]), static_cast<std::int32_t>(classes[0]));
    EXPECT_EQ(RmfNodeSecondClass(words[1]), static_cast<std::int32_t>(classes[classes.size() > 1 ? 1 : 0]));

    std::vector<ExpectedPassage> found;
    for (std::uint32_t w : IncidencesAt(t.get(), at)) {
      ASSERT_EQ(w & kRmfIncidenceJoined, 0u);
      const int feature = m.FeatureOf(main.key, RmfIncidencePart(w));
      const std::vector<std::int32_t> vertices = rec.Vertices(RmfIncidencePart(w));
      const auto index = std::find(vertices.begin(), vertices.end(), RmfIncidenceVertex(w)) - vertices.begin();
      found.push_back(ExpectedPassage{feature, static_cast<std::size_t>(index), (w & kRmfIncidenceStarts) != 0,
                                      (w & kRmfIncidenceEnds) != 0});
    }
    std::vector<ExpectedPassage> want = passages;
    std::sort(want.begin(), want.end());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, want);
  }
  // Every point of the record at a node's position is that node or names it.
  const std::int32_t points = RmfFeaturePointCount(rec.get());
  for (std::int32_t i = 0; i < points; ++i) {
    TiPoint p{};
    ASSERT_EQ(RmfFeaturePointAt(rec.get(), i, &p), 1);
    const std::int32_t node = RmfTileRouteNodeFind(t.get(), p);
    if (node < 0) continue;
    const std::uint32_t* w = RmfTableNodeWords(t.get(), i);
    if (i != node) {
      EXPECT_EQ(w[1], kRmfNodeAlias);
      EXPECT_EQ(w[0], static_cast<std::uint32_t>(node));
    }
  }
  EXPECT_EQ(RmfTileRouteNodeFind(t.get(), At(1500, 1000)), -1);  // inside a segment: no node
}

const ProfileCase kProfiles[] = {{"walking", testprofiles::Walking, false}, {"driving", testprofiles::Driving, true}};

INSTANTIATE_TEST_SUITE_P(ProfilesAndPointSharing, TableDescriptionTest,
                         ::testing::Combine(::testing::ValuesIn(kProfiles), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "_shared" : "_separate");
                         });

TEST(TileRouteTable, ComesFromTheCacheTheSecondTime) {
  TestMap m(Crossings(true));
  ASSERT_TRUE(m.ok());
  const RmfFeatKey key = m.Part(0).key;
  const RmfTileRouteTable* first = nullptr;
  {
    Table t(m.route(), key);
    ASSERT_EQ(t.result(), 1);
    first = t.get();
  }
  Table again(m.route(), key);
  ASSERT_EQ(again.result(), 1);
  EXPECT_EQ(again.get(), first);
  // A record the source does not have gives no table.
  Table none(m.route(), RmfFeatKey{key.a, 0, 7});
  EXPECT_EQ(none.result(), 0);
  EXPECT_EQ(none.get(), nullptr);
}

// A long street cut at a cell border by the builder: its two pieces share
// the border point, in the tables of two tiles.
struct BorderMap {
  rmfbuild::FeatureMap map;
  TiPoint border = At(kCell, 1000);
};

BorderMap CutStreet(bool sideStreet) {
  BorderMap b;
  b.map.Add(Street("Long", {At(1000, 1000), At(2 * kCell - 1000, 1000)}, 3));
  if (sideStreet) b.map.Add(Street("Side", {b.border, At(kCell + 500, 2000)}, 2));
  return b;
}

TEST(TileRouteTableJoin, BorderNodeIsJoinedOnceEachWay) {
  BorderMap b = CutStreet(false);
  TestMap m(b.map);
  ASSERT_TRUE(m.ok());
  ASSERT_EQ(m.PieceCount(0), 2u);
  const RmfFeatKey west = m.Part(0, 0).key;
  const RmfFeatKey east = m.Part(0, 1).key;
  ASSERT_NE(west.a, east.a);

  {
    Table built(m.route(), west);
    ASSERT_EQ(built.result(), 1);
    ASSERT_NE(NodeAt(built.get(), b.border), nullptr);
    EXPECT_EQ(RmfNodeCount(NodeAt(built.get(), b.border)[1]), 1u);
  }
  const auto checkJoined = [&](const RmfFeatKey& own, const RmfFeatKey& other, std::int32_t level) {
    Table t(m.route(), own, level);
    ASSERT_EQ(t.result(), 1);
    EXPECT_EQ(t->state, kRmfTableJoined);
    ASSERT_EQ(t->neighbourCount, 1);
    EXPECT_EQ(RmfTableNeighbours(t.get())[0].a, other.a);
    EXPECT_EQ(RmfNodeCount(NodeAt(t.get(), b.border)[1]), 2u);
    const std::vector<std::uint32_t> inc = IncidencesAt(t.get(), b.border);
    ASSERT_EQ(inc.size(), 2u);
    EXPECT_EQ(inc[0] & kRmfIncidenceJoined, 0u);
    ASSERT_EQ(inc[1] & kRmfIncidenceJoined, kRmfIncidenceJoined);
    EXPECT_EQ(RmfIncidenceNeighbour(inc[1]), 0);
    Table theirs(m.route(), other);
    ASSERT_EQ(theirs.result(), 1);
    EXPECT_EQ(RmfIncidenceNode(inc[1]), RmfTileRouteNodeFind(theirs.get(), b.border));
  };
  checkJoined(west, east, 0);
  checkJoined(west, east, 0);  // asked again: nothing joined twice
  checkJoined(west, east, 5);  // joined further down already
  checkJoined(east, west, 0);  // the other way, joined back once
  checkJoined(west, east, 0);
}

TEST(TileRouteTableJoin, BorderNodeTakesTheClassesOfBothTiles) {
  BorderMap b = CutStreet(true);
  TestMap m(b.map);
  ASSERT_TRUE(m.ok());
  Table west(m.route(), m.Part(0, 0).key, 0);
  ASSERT_EQ(west.result(), 1);
  const std::uint32_t* w = NodeAt(west.get(), b.border);
  ASSERT_NE(w, nullptr);
  // Its own end of Long (3), joined to the east node where Long (3) and
  // Side (2) meet.
  EXPECT_EQ(RmfNodeCount(w[1]), 2u);
  EXPECT_EQ(RmfNodeClass(w[1]), 3);
  EXPECT_EQ(RmfNodeSecondClass(w[1]), 3);
  Table east(m.route(), m.Part(0, 1).key, 0);
  ASSERT_EQ(east.result(), 1);
  const std::uint32_t* e = NodeAt(east.get(), b.border);
  EXPECT_EQ(RmfNodeCount(e[1]), 3u);
  EXPECT_EQ(RmfNodeClass(e[1]), 3);
  EXPECT_EQ(RmfNodeSecondClass(e[1]), 3);
}

// A ring road of detail level 2 lies in a level-1 tile; a lane of a level-0
// tile ends on it.
rmfbuild::FeatureMap RingAndLane() {
  rmfbuild::FeatureMap map;
  map.Add(Street("Ring", {At(500, 2000), At(3000, 2000), At(6000, 2000)}, 5, '5', 2));
  map.Add(Street("Lane", {At(3000, 500), At(3000, 2000)}, 2));
  return map;
}

TEST(TileRouteTableJoin, StreetOfACoarserTileMeetsAFinerOne) {
  TestMap m(RingAndLane());
  ASSERT_TRUE(m.ok());
  const routetest::PartName ring = m.Part(0);
  const routetest::PartName lane = m.Part(1);
  ASSERT_EQ(RmfTileLevel(ring.key.a), 1);
  ASSERT_EQ(RmfTileLevel(lane.key.a), 0);
  const TiPoint meet = At(3000, 2000);
  {
    Table t(m.route(), ring.key);
    EXPECT_EQ(RmfNodeCount(NodeAt(t.get(), meet)[1]), 1u);
  }
  {
    Table t(m.route(), lane.key, 1);  // the coarser level only
    ASSERT_EQ(t.result(), 1);
    EXPECT_EQ(t->joinedLevel, 1);
    EXPECT_EQ(RmfNodeCount(NodeAt(t.get(), meet)[1]), 2u);
  }
  {
    Table t(m.route(), lane.key, 0);  // then down to level 0: nothing more meets there
    ASSERT_EQ(t.result(), 1);
    EXPECT_EQ(t->joinedLevel, 0);
    EXPECT_EQ(t->neighbourCount, 1);
    const std::uint32_t* w = NodeAt(t.get(), meet);
    EXPECT_EQ(RmfNodeCount(w[1]), 2u);
    EXPECT_EQ(RmfNodeClass(w[1]), 5);
    EXPECT_EQ(RmfNodeSecondClass(w[1]), 2);
  }
  Table t(m.route(), ring.key, 0);
  ASSERT_EQ(t.result(), 1);
  ASSERT_EQ(t->neighbourCount, 1);
  EXPECT_EQ(RmfTableNeighbours(t.get())[0].a, lane.key.a);
  EXPECT_EQ(RmfNodeCount(NodeAt(t.get(), meet)[1]), 2u);

  std::int32_t level = -1;
  RmfFeatKey key{};
  std::int32_t node = -1;
  EXPECT_EQ(RmfTileRouteNodeCoarser(m.route(), meet, 0, kRmfTopTileLevel, &level, &key, &node), 1);
  EXPECT_EQ(level, 0);
  EXPECT_EQ(key.a, lane.key.a);
  EXPECT_EQ(RmfTileRouteNodeCoarser(m.route(), meet, 1, 1, &level, &key, &node), 1);
  EXPECT_EQ(key.a, ring.key.a);
  EXPECT_EQ(RmfTileRouteNodeCoarser(m.route(), At(2000, 2000), 0, kRmfTopTileLevel, &level, &key, &node), 0);
}

// A joined table must not be grown under another holder's feet.
TEST(TileRouteTableJoin, HeldElsewhereIsNotJoined) {
  BorderMap b = CutStreet(false);
  TestMap m(b.map);
  ASSERT_TRUE(m.ok());
  const RmfFeatKey west = m.Part(0, 0).key;
  Table holder(m.route(), west);
  const std::uint32_t errors = RmfInternalErrorCount();
  RmfTileRouteTable* t = nullptr;
  EXPECT_EQ(RmfTileRouteTableGet(m.route(), west, 0, &t), kRmfMalformed);
  EXPECT_EQ(t, nullptr);
  EXPECT_EQ(RmfInternalErrorCount(), errors + 1);
  EXPECT_EQ(holder->state, kRmfTableBuilt);
  EXPECT_EQ(RmfNodeCount(NodeAt(holder.get(), b.border)[1]), 1u);
}

// The router's vertex field holds 13 bits: a part with more vertex words is
// left out of the table, not entered with its positions cut short. The
// builder writes at most 8192 words a part, so the description gets one
// more attribute word in front of the long street's vertices: its last
// vertex then stands at position 8192, which reads as 0 in 13 bits.
TEST(TileRouteTable, PartBeyondTheVertexFieldIsLeftOut) {
  rmfbuild::FeatureMap map;
  map.partVertices = 8191;
  std::vector<TiPoint> points;
  for (int i = 0; i < 8191; ++i) points.push_back(At(100 + i % 3000, 100 + 100 * (i / 3000)));
  const TiPoint meet = points[8190];
  const TiPoint wrapped = points[0];
  map.Add(Street("Long", points, 3));
  map.Add(Street("Cross", {meet, At(3500, 3500)}, 3));
  map.Add(Street("Other", {wrapped, At(3600, 3000)}, 3));
  const auto lengthen = [](rmfbuild::MapDescription& d) {
    for (rmfbuild::Tile& tile : d.tiles) {
      for (rmfbuild::Record& record : tile.records) {
        for (rmfbuild::Part& part : record.parts) {
          if (part.words.size() != 8192) continue;
          part.words.insert(part.words.begin(), rmfbuild::VertexWord::Attribute({"171", "3 5", "Long"}));
        }
      }
    }
  };
  TestMap m(map, testprofiles::Driving, nullptr, lengthen);
  ASSERT_TRUE(m.ok());
  const routetest::PartName longPart = m.Part(0);
  ASSERT_EQ(m.PieceCount(0), 1u);
  {
    Table t(m.route(), longPart.key, 0);
    ASSERT_EQ(t.result(), 1);
    EXPECT_LT(RmfTraversalClass(RmfTableTraversals(t.get(), longPart.part)[0].flags), 0);
    EXPECT_LT(RmfTraversalClass(RmfTableTraversals(t.get(), longPart.part)[1].flags), 0);
    for (std::int32_t i = 0; i < t->sortedNodeCount; ++i) {
      for (std::uint32_t w : IncidencesAt(t.get(), RmfTablePositions(t.get())[RmfTableSorted(t.get())[i]])) {
        EXPECT_FALSE((w & kRmfIncidenceJoined) == 0 && RmfIncidencePart(w) == longPart.part);
      }
    }
    Record rec(m.reader(), longPart.key);
    EXPECT_EQ(RmfRouteJunctionDegree(m.route(), rec.get(), RmfFeatureFindPoint(rec.get(), meet), 0, 10),
              m.Part(1).key.c == longPart.key.c ? 1 : 0);
  }
  // Where Cross and Other start on it, only they pass.
  for (std::size_t f : {1u, 2u}) {
    const TiPoint at = f == 1 ? meet : wrapped;
    Table t(m.route(), m.Part(f).key, 0);
    ASSERT_EQ(t.result(), 1);
    const std::uint32_t* w = NodeAt(t.get(), at);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(RmfNodeCount(w[1]), 1u);
    const std::vector<std::uint32_t> inc = IncidencesAt(t.get(), at);
    ASSERT_EQ(inc.size(), 1u);
    EXPECT_EQ(m.FeatureOf(m.Part(f).key, RmfIncidencePart(inc[0])), static_cast<int>(f));
  }
}

// A connection profile that reports a restriction for every stretch with a
// restriction attribute (code pair 7-B).
std::int32_t RestrictionItems(const RmfAttrSet* set, void*, RmfConnectionAnswer* answer, void*) {
  answer->itemCounts[0] = answer->itemCounts[1] = 0;
  for (std::int32_t i = 0; i < set->count; ++i) {
    const RmfAttrEntry& e = set->entries[i];
    if (e.codeLength >= 3 && e.code[1] == '7' && e.code[2] == 'B') {
      answer->items[0][answer->itemCounts[0]++] = RmfRestriction{0, 2, 42};
    }
  }
  return 0;
}

TEST(TileRouteTable, StretchWithRestrictionItemsMarksBothEnds) {
  rmfbuild::FeatureMap map;
  rmfbuild::Feature s = Street("Via", {At(500, 500), At(1500, 500), At(2500, 500), At(3500, 500)}, 3);
  s.VertexAttr(1, rmfbuild::TextTriple{"17B", "0PB", "42"});  // the stretch from vertex 1 to 2
  map.Add(std::move(s));
  map.Add(Street("Cross", {At(2500, 100), At(2500, 500), At(2500, 900)}, 3));
  TestMap m(map, testprofiles::Driving, RestrictionItems);
  ASSERT_TRUE(m.ok());
  Table t(m.route(), m.Part(0).key);
  ASSERT_EQ(t.result(), 1);
  // Vertex 1: its single passage inline, marked in the node word as well.
  const std::uint32_t* one = NodeAt(t.get(), At(1500, 500));
  EXPECT_NE(one[1] & kRmfNodeRestricted, 0u);
  EXPECT_NE(one[0] & kRmfIncidenceRestricted, 0u);
  // Vertex 2, a crossing: Via's passage is marked, Cross's is not.
  for (std::uint32_t w : IncidencesAt(t.get(), At(2500, 500))) {
    EXPECT_EQ((w & kRmfIncidenceRestricted) != 0, m.FeatureOf(m.Part(0).key, RmfIncidencePart(w)) == 0);
  }
  EXPECT_EQ(NodeAt(t.get(), At(500, 500))[1] & kRmfNodeRestricted, 0u);
  EXPECT_EQ(NodeAt(t.get(), At(3500, 500))[1] & kRmfNodeRestricted, 0u);

  // A walk stops at the first marked node, and says so.
  Record rec(m.reader(), m.Part(0).key);
  const std::vector<std::int32_t> v = rec.Vertices(m.Part(0).part);
  RmfWalk walk{};
  std::int32_t pending = 0;
  ASSERT_EQ(RmfRouteWalk(m.route(), rec.get(), t.get(), m.Part(0).part, v[0], nullptr, 1, 1, 0, 1, nullptr, 0, &walk,
                         &pending),
            1);
  EXPECT_EQ(walk.farVertex, static_cast<std::uint32_t>(v[1]));
  EXPECT_EQ(walk.flags, kRmfWalkRestrictionStop);
  EXPECT_EQ(pending, 1);
}

TEST(RouteEnableSources, PointAndBoxAgainstTheSourceBoxes) {
  rmfbuild::FeatureMap west;
  west.Add(Street("West", {At(500, 500), At(1500, 500)}));
  rmfbuild::FeatureMap east;
  east.Add(Street("East", {At(3 * kCell + 500, 500), At(3 * kCell + 1500, 500)}));
  rmfbuild::MemoryReader memory;
  ASSERT_EQ(memory.AddFeatures(west), 1);
  ASSERT_EQ(memory.AddFeatures(east), 2);
  RmfRoute* route = nullptr;
  ASSERT_EQ(RmfRouteCreate(&route, memory.reader()), 1);
  const TiRect westBox = route->sourceBoxes[0];
  const TiRect eastBox = route->sourceBoxes[1];
  struct Case {
    TiRect area;
    std::int32_t mode;
    std::uint8_t west;
    std::uint8_t east;
  };
  const Case cases[] = {
      {{westBox.x1, westBox.y1, 0, 0}, kRmfEnableAtPoint, 1, 0},            // a corner of the west box
      {{eastBox.x2, eastBox.y2, 0, 0}, kRmfEnableAtPoint, 0, 1},            // a corner of the east box
      {{westBox.x2 + 1, westBox.y1, 0, 0}, kRmfEnableAtPoint, 0, 0},        // just outside
      {{westBox.x2, westBox.y1, eastBox.x1, eastBox.y1}, kRmfEnableInBox, 1, 1},  // touching both edges
      {{westBox.x2 + 1, westBox.y1, eastBox.x1 - 1, eastBox.y2}, kRmfEnableInBox, 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RmfRouteEnableSourcesAt(route, &c.area, c.mode), 1);
    EXPECT_EQ(route->sourceEnable[0], c.west);
    EXPECT_EQ(route->sourceEnable[1], c.east);
  }
  EXPECT_EQ(RmfRouteEnableSourcesAt(route, &cases[0].area, 3), kRmfBadArgument);
  EXPECT_EQ(RmfRouteEnableSourcesAt(route, nullptr, kRmfEnableAtPoint), kRmfBadArgument);
  EXPECT_EQ(RmfRouteDestroy(route), 1);
}

// The sort against std::sort on random positions, many of them equal, and
// on the inputs that make a plain quicksort go quadratic or deep.
TEST(SortNodesByPosition, OrdersLikeStdSort) {
  std::mt19937 random(20240611);
  std::vector<std::vector<TiPoint>> inputs;
  for (int n : {1, 2, 5, 6, 7, 8, 31, 100, 1000, 20000}) {
    for (int range : {3, 50, 1 << 30}) {
      std::uniform_int_distribution<std::int32_t> d(-range, range);
      std::vector<TiPoint> p(static_cast<std::size_t>(n));
      for (TiPoint& q : p) q = TiPoint{d(random), d(random)};
      inputs.push_back(p);
    }
  }
  std::vector<TiPoint> same(60000, TiPoint{-5, 7});
  inputs.push_back(same);
  std::vector<TiPoint> ascending(60000);
  for (std::size_t i = 0; i < ascending.size(); ++i) ascending[i] = TiPoint{static_cast<std::int32_t>(i / 3), -static_cast<std::int32_t>(i)};
  inputs.push_back(ascending);
  std::reverse(ascending.begin(), ascending.end());
  inputs.push_back(ascending);

  for (const std::vector<TiPoint>& p : inputs) {
    if (p.empty()) continue;
    std::vector<std::uint16_t> index(p.size());
    for (std::size_t i = 0; i < p.size(); ++i) index[i] = static_cast<std::uint16_t>(i);
    ASSERT_EQ(RmfSortNodesByPosition(index.data(), static_cast<std::int32_t>(index.size()), p.data()), 1);
    std::vector<std::uint16_t> sorted = index;
    std::sort(sorted.begin(), sorted.end());
    for (std::size_t i = 0; i < sorted.size(); ++i) ASSERT_EQ(sorted[i], i) << "not a permutation";
    std::vector<TiPoint> got;
    for (std::uint16_t i : index) got.push_back(p[i]);
    std::vector<TiPoint> want = p;
    std::sort(want.begin(), want.end(), PointOrder{});
    ASSERT_TRUE(std::equal(got.begin(), got.end(), want.begin(), want.end(),
                           [](const TiPoint& a, const TiPoint& b) { return a.x == b.x && a.y == b.y; }))
        << "size " << p.size();
  }
  std::uint16_t one = 0;
  const TiPoint at{0, 0};
  EXPECT_EQ(RmfSortNodesByPosition(&one, 0, &at), 1);
  EXPECT_EQ(RmfSortNodesByPosition(nullptr, 1, &at), kRmfBadArgument);
  EXPECT_EQ(RmfSortNodesByPosition(&one, 1, nullptr), kRmfBadArgument);
  EXPECT_EQ(RmfSortNodesByPosition(&one, -1, &at), kRmfBadArgument);
}

}  // namespace
