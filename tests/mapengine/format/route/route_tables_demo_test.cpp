// The routing tables of the demo street map, converted at build time from
// the Neubrandenburg OpenStreetMap extract, against the extract itself: at a
// sample of positions where several highway ways meet, the tables hold as
// many passages as the ways that a walker may use pass there, and joined
// tables count every other block holding the position once.
//
// The extract's streets come from the street-graph fixture's reading of it
// (libosmium). Ways become passages as the
// converter writes them: every highway class it knows except freeways and
// ramps (which the walking profile leaves closed), not the areas tagged
// area=yes, split where a node has no position, repeated equal points
// dropped, pieces of fewer than two points left out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "mapengine/format/features/RmfProfile.h"
#include "mapengine/format/route/RmfRoute.h"
#include "mapengine/format/route/RmfTileRouteTable.h"
#include "mapengine/format/store/RmfTile.h"
#include "tests/mapengine/format/features/TestProfiles.h"
#include "tools/osm2rmf/Osm2Rmf.h"
#include "tools/rmfbuild/RmfMemoryReader.h"
#include "tests/mapengine/format/route/OsmStreetGraph.h"

namespace {

using Position = std::pair<std::int32_t, std::int32_t>;

bool Walkable(std::string_view highway) {
  static constexpr std::string_view kWays[] = {
      "trunk",        "primary",     "primary_link", "secondary",     "secondary_link", "tertiary",
      "tertiary_link", "unclassified", "residential", "road",         "living_street",  "service",
      "track",        "pedestrian",  "footway",      "path",          "cycleway",       "steps",
      "bridleway"};
  return std::find(std::begin(kWays), std::end(kWays), highway) != std::end(kWays);
}

// Passages of walkable ways per map position, the ways met there, and the
// positions of ways long enough that the converter splits them into parts.
struct Passages {
  explicit Passages(const std::vector<routetest::ExtractStreetRun>& runs) {
    for (const routetest::ExtractStreetRun& run : runs) {
      if (!Walkable(run.highway)) continue;
      for (const Position& p : run.points) {
        ++passages[p];
        ways[p].insert(run.way);
        if (run.points.size() > 400) split.insert(p);
      }
    }
  }

  std::map<Position, int> passages;
  std::map<Position, std::set<std::int64_t>> ways;
  std::set<Position> split;
};

TEST(DemoMapTables, PassagesAtSharedNodesMatchTheExtract) {
  std::string error;
  Passages extract(routetest::ReadStreetRuns(DEMO_OSM_PATH, &error));
  ASSERT_TRUE(error.empty()) << error;
  // Shared by several ways, away from the cuts the map's writer makes (cell
  // borders, long ways split into parts), which add passages of their own.
  std::vector<Position> shared;
  for (const auto& [p, w] : extract.ways) {
    if (w.size() >= 2 && extract.split.count(p) == 0 && p.first % 4096 != 0 && p.second % 4096 != 0) {
      shared.push_back(p);
    }
  }
  ASSERT_GT(shared.size(), 1000u) << "the extract's streets meet at thousands of nodes";
  std::mt19937 random(151);
  std::shuffle(shared.begin(), shared.end(), random);
  shared.resize(400);

  rmfbuild::MemoryReader maps(16u << 20);
  ASSERT_NE(maps.reader(), nullptr);
  ASSERT_EQ(maps.AddFile(DEMO_MAP_PATH), 1) << maps.error();
  ASSERT_EQ(RmfProfileSetCallbacks(maps.reader(), testprofiles::Walking, nullptr, nullptr, kRmfProfileEngineLimit), 1);
  RmfRoute* route = nullptr;
  ASSERT_EQ(RmfRouteCreate(&route, maps.reader()), 1);
  ASSERT_EQ(route->levelMask, 1u) << "the converter writes every street to level-0 tiles";

  std::size_t checked = 0;
  std::map<int, std::size_t> byCount;
  for (const Position& p : shared) {
    const TiPoint at{p.first, p.second};
    std::uint32_t ids[4];
    const std::int32_t n = RmfTilesAroundPoint(&at, 0, ids);
    ASSERT_GT(n, 0);
    // The blocks with a node here and their own passages there.
    std::vector<std::pair<RmfFeatKey, int>> holders;
    for (std::int32_t k = 0; k < n; ++k) {
      for (std::uint16_t sequence = 0;; ++sequence) {
        RmfTileRouteTable* t = nullptr;
        const std::int32_t built = RmfTileRouteTableBuild(route, RmfFeatKey{ids[k], 0, sequence}, &t, nullptr);
        ASSERT_GE(built, 0);
        if (built == 0) break;
        const bool more = t->moreBlocks != 0;
        const std::int32_t node = RmfTileRouteNodeFind(t, at);
        if (node >= 0) {
          const std::uint32_t* words = nullptr;
          const std::int32_t m = RmfTileRouteNodeIncidences(t, node, &words);
          const auto own = static_cast<int>(std::count_if(words, words + m, [](std::uint32_t w) {
            return (w & kRmfIncidenceJoined) == 0;
          }));
          holders.emplace_back(RmfFeatKey{ids[k], 0, sequence}, own);
        }
        ASSERT_EQ(RmfTileRouteTableRelease(route, t), 1);
        if (!more) break;
      }
    }
    int total = 0;
    for (const auto& h : holders) total += h.second;
    EXPECT_EQ(total, extract.passages[p]) << "at " << p.first << "," << p.second;
    ++byCount[total];
    // Joined, each block's node counts its own passages and every other
    // block holding the position once; every passage is walkable (class 3).
    for (const auto& [key, own] : holders) {
      RmfTileRouteTable* t = nullptr;
      ASSERT_EQ(RmfTileRouteTableGet(route, key, 0, &t), 1);
      const std::uint32_t second = RmfTableNodeWords(t, RmfTileRouteNodeFind(t, at))[1];
      EXPECT_EQ(RmfNodeCount(second), static_cast<std::uint32_t>(std::min<int>(own + static_cast<int>(holders.size()) - 1, 127)));
      EXPECT_EQ(RmfNodeClass(second), 3);
      EXPECT_EQ(RmfNodeSecondClass(second), 3);
      ASSERT_EQ(RmfTileRouteTableRelease(route, t), 1);
    }
    ++checked;
  }
  std::printf("checked %zu shared nodes; by passages:", checked);
  for (const auto& [count, times] : byCount) std::printf(" %d:%zu", count, times);
  std::printf("\n");
  EXPECT_EQ(RmfRouteDestroy(route), 1);
}

}  // namespace
