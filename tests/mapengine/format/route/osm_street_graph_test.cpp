// The routing tests' own street graph of the demo extract: what it reads
// from Neubrandenburg's ways (node counts, components), the shortest paths
// it measures, and its seeded pairs. The figures were worked out a second
// time, from the same table of tags, by a separate reading of the
// extract's XML outside this build.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/mapengine/format/route/OsmStreetGraph.h"

namespace routetest {
namespace {

const OsmStreetGraph& Demo() {
  static const OsmStreetGraph graph(DEMO_OSM_PATH);
  return graph;
}

TEST(OsmStreetGraph, ReadsTheWalkableAndDrivableNodesOfTheDemoExtract) {
  const OsmStreetGraph& g = Demo();
  ASSERT_TRUE(g.ok()) << g.error();
  EXPECT_EQ(g.NodeCount(TravelMode::kWalking), 33783u);
  EXPECT_EQ(g.NodeCount(TravelMode::kDriving), 22728u);
  // Footways, paths and the like are walked, not driven; motorway-like
  // roads the other way round.
  EXPECT_LT(g.NodeCount(TravelMode::kDriving), g.NodeCount(TravelMode::kWalking));
  EXPECT_EQ(g.ComponentCount(), 37);
  std::vector<std::size_t> sizes(static_cast<std::size_t>(g.ComponentCount()));
  for (std::size_t n = 0; n < g.nodes().size(); ++n) {
    const int c = g.Component(static_cast<int>(n));
    EXPECT_EQ(c >= 0, g.On(TravelMode::kWalking, static_cast<int>(n)));
    if (c >= 0) ++sizes[static_cast<std::size_t>(c)];
  }
  const std::size_t largest = *std::max_element(sizes.begin(), sizes.end());
  EXPECT_EQ(largest, 33296u);
  // A footway square (way 141105998, area=yes) is no street of the map, so
  // the nodes only it has are no nodes of the graph.
  EXPECT_EQ(g.Find(1625990542), -1);
}

// Two junctions far apart, and two on the one-way ring road around the old
// town, whose driving distance depends on the way round.
TEST(OsmStreetGraph, MeasuresShortestPathsAlongTheWaysAndOneWayForDriving) {
  const OsmStreetGraph& g = Demo();
  ASSERT_TRUE(g.ok()) << g.error();
  const struct {
    std::int64_t from;
    std::int64_t to;
    double walking;
    double driving;
    double drivingBack;
  } cases[] = {
      {29685266, 94997685, 4378.3199, 5939.1917, 5364.3260},  // Stargarder/Pfaffenstr. to Steinstr./Lindenhofer Str.
      {29680829, 29680816, 1176.8014, 1607.7966, 1176.8014},  // on the Friedrich-Engels-Ring
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.from) + " -> " + std::to_string(c.to));
    const int a = g.Find(c.from);
    const int b = g.Find(c.to);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    EXPECT_EQ(g.Component(a), g.Component(b));
    EXPECT_NEAR(g.ShortestMetres(TravelMode::kWalking, a, b).value_or(-1), c.walking, 0.01);
    EXPECT_NEAR(g.ShortestMetres(TravelMode::kDriving, a, b).value_or(-1), c.driving, 0.01);
    EXPECT_NEAR(g.ShortestMetres(TravelMode::kDriving, b, a).value_or(-1), c.drivingBack, 0.01);
    // No path is shorter than the great circle between its ends.
    EXPECT_GE(c.walking,
              OsmStreetGraph::Metres(g.nodes()[static_cast<std::size_t>(a)], g.nodes()[static_cast<std::size_t>(b)]));
  }
}

TEST(OsmStreetGraph, ComponentsAgreeWithTheSearchAndPairsRepeatWithTheirSeed) {
  const OsmStreetGraph& g = Demo();
  ASSERT_TRUE(g.ok()) << g.error();
  const auto pairs = g.RandomPairs(TravelMode::kWalking, 40, 7);
  ASSERT_EQ(pairs.size(), 40u);
  EXPECT_EQ(pairs, g.RandomPairs(TravelMode::kWalking, 40, 7));
  EXPECT_NE(pairs, g.RandomPairs(TravelMode::kWalking, 40, 8));
  for (const auto& [a, b] : pairs) {
    EXPECT_NE(a, b);
    EXPECT_TRUE(g.On(TravelMode::kWalking, a) && g.On(TravelMode::kWalking, b));
    EXPECT_EQ(g.ShortestMetres(TravelMode::kWalking, a, b).has_value(), g.Component(a) == g.Component(b));
  }
  // Driving pairs lie on drivable ways only.
  for (const auto& [a, b] : g.RandomPairs(TravelMode::kDriving, 40, 7)) {
    EXPECT_TRUE(g.On(TravelMode::kDriving, a) && g.On(TravelMode::kDriving, b));
  }
}

TEST(OsmStreetGraph, AnExtractThatCannotBeReadSaysSo) {
  const OsmStreetGraph g("no-such-extract.osm");
  EXPECT_FALSE(g.ok());
  EXPECT_NE(g.error().find("no-such-extract.osm"), std::string::npos);
}

}  // namespace
}  // namespace routetest
