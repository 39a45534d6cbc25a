// Walking and driving routes on the demo map through IMap, as the navigation
// engine asks for them, against the extract they are converted from (read
// for itself with libosmium, OsmStreetGraph): between random pairs of nodes
// the street graph connects, the request answers with an array of WayPoints
// whose steps are named and whose distances add up to the length of the
// route's line from the origin to the destination; a walking route keeps to
// ways a walker may use, a driving route travels every one-way street along
// its direction.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "mapengine/format/features/RmfFeatureAttr.h"
#include "mapengine/object/CMap.h"
#include "mapengine/object/Geometry.h"
#include "mapengine/object/Utilities.h"
#include "platform/os/text.h"
#include "tests/mapengine/format/route/OsmStreetGraph.h"
#include "tests/mapengine/object/map_engine_fixture.h"
#include "tests/mapengine/object/route_step_list.h"

namespace {

using routetest::OsmStreetGraph;
using routetest::TravelMode;

constexpr std::uint32_t kSeed = 151;
constexpr std::size_t kPairsPerMode = 30;

// Metres between two points in degrees, on the sphere the steps measure with.
double Metres(double lat1, double lon1, double lat2, double lon2) { return DistanceMeters(lon1, lat1, lon2, lat2); }

// Read once for both modes.
const OsmStreetGraph& DemoGraph() {
  static const OsmStreetGraph graph(DEMO_OSM_PATH);
  return graph;
}

class DemoRouteRequests : public MapEngineTest, public ::testing::WithParamInterface<TravelMode> {};

TEST_P(DemoRouteRequests, StepsAddUpAlongTheRouteAndKeepToTheWaysOfTheMode) {
  const TravelMode mode = GetParam();
  const bool walking = mode == TravelMode::kWalking;
  const OsmStreetGraph& graph = DemoGraph();
  ASSERT_TRUE(graph.ok()) << graph.error();
  // The extract's nodes by their map point, and the arcs each mode may use
  // between two of them.
  std::map<std::pair<std::int32_t, std::int32_t>, int> nodeAt;
  for (std::size_t i = 0; i < graph.nodes().size(); ++i) nodeAt[{graph.nodes()[i].at.x, graph.nodes()[i].at.y}] = static_cast<int>(i);
  const auto arc = [&graph](TravelMode m, int a, int b) {
    for (const OsmStreetGraph::Arc& x : graph.Arcs(m, a)) {
      if (x.to == b) return true;
    }
    return false;
  };

  LoadEnglish();
  OpenMapFile(DEMO_MAP_PATH);
  ASSERT_NE(map_->m_Rdr.get(), nullptr);
  RmfReader* reader = map_->m_Rdr.get();

  std::size_t routed = 0, steps = 0, named = 0, turns = 0, checkedArcs = 0, forbidden = 0, againstOneWay = 0;
  double worstPerStep = 0;
  std::size_t followed = 0, followedMatch = 0, rechecked = 0, confirmed = 0;
  // A request starts and ends on the streets nearest its two positions, so
  // both ends are drawn from the nodes of streets (ways a car may use), not
  // of footways alone.
  std::size_t connected = 0;
  for (const auto& [a, b] : graph.RandomPairs(TravelMode::kDriving, kPairsPerMode, kSeed + (walking ? 0 : 1))) {
    if (!graph.ShortestMetres(mode, a, b)) continue;
    ++connected;
    const OsmStreetGraph::Node& from = graph.nodes()[static_cast<std::size_t>(a)];
    const OsmStreetGraph::Node& to = graph.nodes()[static_cast<std::size_t>(b)];
    BSTR parameters = SysAllocString(u"");
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr =
        walking ? map_->FindWalkingRoute(from.lat, from.lon, to.lat, to.lon, &parameters, CARTOVELRouteTurnAutomatic,
                                         CARTOVELRouteRoundaboutNormal, &result)
                : map_->FindDrivingRoute(from.lat, from.lon, to.lat, to.lon, &parameters,
                                         CARTOVELRouteVehicleModeFastest, CARTOVELRouteTurnAutomatic,
                                         CARTOVELRouteFreewayNormal, CARTOVELRouteRoundaboutNormal,
                                         CARTOVELRouteTollRoadNormal, &result);
    SysFreeString(parameters);
    EXPECT_EQ(hr, S_OK);
    const std::vector<ToldStep> told = ReadRouteSteps(result);
    VariantClear(&result);
    SCOPED_TRACE("node " + std::to_string(from.id) + " to node " + std::to_string(to.id));
    if (told.size() < 2) {
      std::string log;
      for (const std::u16string& line : debugOutput_) {
        if (line.find(u"WARNING") != std::u16string::npos || line.find(u"ERROR") != std::u16string::npos) {
          log += platform::Utf16ToUtf8(line) + "\n";
        }
      }
      ADD_FAILURE() << "no route although the graph connects the two nodes:\n" << log;
      continue;
    }
    debugOutput_.clear();
    ++routed;

    // The route's line: the origin, the points of its features in travel
    // order (each turned to go on from where the last one ended), the
    // destination.
    // The route's features: the request keeps them, with room for two more,
    // up to the index of the last one.
    ASSERT_GE(map_->m_nWPFeatureIndex, 0);
    const std::vector<RmfFeatureRef> features(map_->m_pWPFeatureIds.begin(),
                                              map_->m_pWPFeatureIds.begin() + map_->m_nWPFeatureIndex + 1);
    std::vector<TiPoint> line;
    for (const RmfFeatureRef& feature : features) {
      TiPoint* points = nullptr;
      const std::int32_t n = RmfFeatureRefPoints(reader, feature, &points);
      ASSERT_GE(n, 2);
      std::vector<TiPoint> part(points, points + n);
      if (!line.empty()) {
        const TiPoint last = line.back();
        const auto d = [last](TiPoint p) { return std::hypot(double(p.x - last.x), double(p.y - last.y)); };
        if (d(part.back()) < d(part.front())) std::reverse(part.begin(), part.end());
      }
      line.insert(line.end(), part.begin(), part.end());
    }
    ASSERT_FALSE(line.empty());

    // Every stretch between two nodes of the extract goes along an arc the
    // mode may use: walking never where only cars go, driving never against
    // a one-way street.
    for (std::size_t i = 1; i < line.size(); ++i) {
      const auto p = nodeAt.find({line[i - 1].x, line[i - 1].y});
      const auto q = nodeAt.find({line[i].x, line[i].y});
      if (p == nodeAt.end() || q == nodeAt.end() || p->second == q->second) continue;
      if (!arc(TravelMode::kWalking, p->second, q->second) && !arc(TravelMode::kDriving, p->second, q->second) &&
          !arc(TravelMode::kDriving, q->second, p->second)) {
        continue;  // a way the yardstick leaves out
      }
      ++checkedArcs;
      if (walking && !arc(TravelMode::kWalking, p->second, q->second)) ++forbidden;
      if (!walking && !arc(TravelMode::kDriving, p->second, q->second)) ++againstOneWay;
    }

    // The steps' distances add up to the route's length: from the origin to
    // its foot on the first feature, along the line to the destination's foot
    // on the last feature, and on to the destination. Measured on a plane of
    // metres around the origin (a town is small enough for it).
    double total = 0;
    for (const ToldStep& s : told) total += s.metres;
    const double lat0 = from.lat * 3.14159265358979323846 / 180.0;
    // The sphere the steps measure on: a radius of 3963.1 miles.
    const double kMetresPerDegree = 3963.1 * 1609.344 * 3.14159265358979323846 / 180.0;
    struct Flat {
      double x, y;
    };
    const auto flat = [&](TiPoint p) {
      const DegreePoint d = MapUnitsToDegrees(p.x, p.y);
      return Flat{d.longitude * std::cos(lat0) * kMetresPerDegree, d.latitude * kMetresPerDegree};
    };
    const auto flatDeg = [&](double lat, double lon) {
      return Flat{lon * std::cos(lat0) * kMetresPerDegree, lat * kMetresPerDegree};
    };
    std::vector<Flat> pts;
    for (const TiPoint& p : line) pts.push_back(flat(p));
    std::vector<double> at(pts.size(), 0.0);  // length along the line up to each point
    for (std::size_t i = 1; i < pts.size(); ++i) at[i] = at[i - 1] + std::hypot(pts[i].x - pts[i - 1].x, pts[i].y - pts[i - 1].y);
    // The foot of p on segments [first, last): its distance and its place along the line.
    const auto foot = [&](Flat p, std::size_t first, std::size_t last) {
      double bestD = -1, bestAlong = 0;
      for (std::size_t i = first; i + 1 <= last && i + 1 < pts.size(); ++i) {
        const Flat a = pts[i], b = pts[i + 1];
        const double dx = b.x - a.x, dy = b.y - a.y, len2 = dx * dx + dy * dy;
        const double t = len2 == 0 ? 0 : std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / len2, 0.0, 1.0);
        const double d = std::hypot(a.x + t * dx - p.x, a.y + t * dy - p.y);
        if (bestD < 0 || d < bestD) {
          bestD = d;
          bestAlong = at[i] + t * std::sqrt(len2);
        }
      }
      return std::pair<double, double>{bestD, bestAlong};
    };
    TiPoint* firstPoints = nullptr;
    const std::size_t firstCount =
        static_cast<std::size_t>(RmfFeatureRefPoints(reader, features.front(), &firstPoints));
    TiPoint* lastPoints = nullptr;
    const std::size_t lastCount =
        static_cast<std::size_t>(RmfFeatureRefPoints(reader, features.back(), &lastPoints));
    const auto [originOff, originAlong] = foot(flatDeg(from.lat, from.lon), 0, firstCount - 1);
    const auto [destOff, destAlong] = foot(flatDeg(to.lat, to.lon), pts.size() - lastCount, pts.size() - 1);
    const double along = originOff + (destAlong - originAlong) + destOff;
    const double perStep = std::abs(total - along) / static_cast<double>(told.size());
    if (perStep > 1.0) {
      std::printf("  steps %.1f m, route %.1f m (ends %.1f m and %.1f m off the line), %zu steps\n", total, along,
                  originOff, destOff, told.size());
    }
    worstPerStep = std::max(worstPerStep, perStep);
    // The first step is at the origin, the last at the destination.
    EXPECT_LT(Metres(told.front().lat, told.front().lon, from.lat, from.lon), 1.0);
    EXPECT_LT(Metres(told.back().lat, told.back().lon, to.lat, to.lon), 1.0);
    // From each step on the route, the distance along the road to the next
    // one is that step's distance.
    for (std::size_t k = 1; k + 2 < told.size(); ++k) {
      const ToldStep& here = told[k];
      const ToldStep& next = told[k + 1];
      double metres = -1;
      const HRESULT measured = map_->GetDistanceToWayPointFollowingRoad(
          static_cast<SHORT>(here.featureIndex), static_cast<SHORT>(next.featureIndex), here.lat, here.lon,
          static_cast<SHORT>(here.forward), next.lat, next.lon, &metres);
      ++followed;
      if (measured == S_OK && std::abs(metres - next.metres) <= 2.0) ++followedMatch;
    }
    // Every fourth route is asked again for its features only, as guidance
    // does to check that the route it follows still holds: the same number
    // of features.
    if (routed % 4 == 1) {
      const SHORT lastIndex = static_cast<SHORT>(map_->m_nWPFeatureIndex);
      VARIANT_BOOL same = VARIANT_FALSE;
      EXPECT_EQ(map_->UpdateFeatureIdsForRoute(walking ? WalkingRoute : DrivingRoute, CARTOVELRouteTurnAutomatic,
                                               walking ? CARTOVELRouteVehicleModeMixedPedestrian
                                                       : CARTOVELRouteVehicleModeFastest,
                                               walking ? CARTOVELRouteFreewayNone : CARTOVELRouteFreewayNormal,
                                               CARTOVELRouteRoundaboutNormal,
                                               walking ? CARTOVELRouteTollRoadNone : CARTOVELRouteTollRoadNormal,
                                               from.lat, from.lon, to.lat, to.lon, lastIndex, -1, &same),
                S_OK);
      ++rechecked;
      confirmed += same == VARIANT_TRUE && map_->m_nWPFeatureIndex == lastIndex ? 1 : 0;
    }
    for (const ToldStep& s : told) {
      ++steps;
      named += s.name.empty() ? 0 : 1;
      turns += s.turn ? 1 : 0;
      EXPECT_TRUE(s.forward >= 0 && s.forward < 360 && s.reverse >= 0 && s.reverse < 360);
    }
  }
  std::printf("%s: %zu routes, %zu steps (%zu turns), named %.1f%%; distances off the route's line by at most "
              "%.2f m per step; distance along the road from a step to the next equal to the step's within 2 m: "
              "%zu of %zu; the same route again for its features: %zu of %zu; %zu stretches checked against the extract: %zu on ways closed to walkers, %zu "
              "against a one-way street\n",
              walking ? "walking" : "driving", routed, steps, turns,
              steps == 0 ? 0.0 : 100.0 * static_cast<double>(named) / static_cast<double>(steps), worstPerStep,
              followedMatch, followed, confirmed, rechecked, checkedArcs, forbidden, againstOneWay);
  EXPECT_EQ(routed, connected);
  EXPECT_GE(connected, kPairsPerMode * 3 / 4);
  EXPECT_EQ(named, steps);
  EXPECT_LE(worstPerStep, 1.0);
  EXPECT_EQ(followedMatch, followed);
  EXPECT_EQ(confirmed, rechecked);
  EXPECT_GT(checkedArcs, 100u);
  EXPECT_EQ(forbidden, 0u);
  EXPECT_EQ(againstOneWay, 0u);
}

INSTANTIATE_TEST_SUITE_P(Modes, DemoRouteRequests, ::testing::Values(TravelMode::kWalking, TravelMode::kDriving),
                         [](const ::testing::TestParamInfo<TravelMode>& info) {
                           return info.param == TravelMode::kWalking ? "Walking" : "Driving";
                         });

// One route request between two positions: its told steps, the length of
// the road it tells (the steps' distances added up), the road distance from
// the origin to its last step, and whether the features it keeps join up end
// to start (a route that jumps back along a stretch does not).
struct AskedRoute {
  std::vector<ToldStep> steps;
  double told = 0;
  double road = -1;
  bool joined = true;
};

AskedRoute Ask(CMap& map, bool walking, double fromLat, double fromLon, double toLat, double toLon) {
  BSTR parameters = SysAllocString(u"");
  VARIANT result;
  VariantInit(&result);
  if (walking) {
    (void)map.FindWalkingRoute(fromLat, fromLon, toLat, toLon, &parameters, CARTOVELRouteTurnAutomatic,
                               CARTOVELRouteRoundaboutNormal, &result);
  } else {
    (void)map.FindDrivingRoute(fromLat, fromLon, toLat, toLon, &parameters, CARTOVELRouteVehicleModeFastest,
                               CARTOVELRouteTurnAutomatic, CARTOVELRouteFreewayNormal, CARTOVELRouteRoundaboutNormal,
                               CARTOVELRouteTollRoadNormal, &result);
  }
  SysFreeString(parameters);
  AskedRoute asked;
  asked.steps = ReadRouteSteps(result);
  VariantClear(&result);
  for (const ToldStep& s : asked.steps) asked.told += s.metres;
  if (asked.steps.size() < 2 || map.m_nWPFeatureIndex < 0) return asked;
  RmfReader* reader = map.m_Rdr.get();
  TiPoint previous{};
  for (std::int32_t i = 0; i <= map.m_nWPFeatureIndex; ++i) {
    TiPoint* points = nullptr;
    const std::int32_t n = RmfFeatureRefPoints(reader, map.m_pWPFeatureIds[static_cast<std::size_t>(i)], &points);
    if (n < 2) {
      asked.joined = false;
      break;
    }
    if (i > 0 && std::hypot(double(points[0].x - previous.x), double(points[0].y - previous.y)) > 1.5) {
      asked.joined = false;
    }
    previous = points[n - 1];
  }
  const ToldStep& last = asked.steps.back();
  double metres = -1;
  if (map.GetDistanceToWayPointFollowingRoad(0, static_cast<SHORT>(last.featureIndex), fromLat, fromLon, -1, last.lat,
                                             last.lon, &metres) == S_OK) {
    asked.road = metres;
  }
  return asked;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Routes between two points of one stretch of a street (between two
// consecutive nodes of a way of the extract, both on the street's line) and
// between the two nodes beside a way joint (a node where exactly two ways
// of the extract meet, end to end, and nothing else): the road told, the
// road distance to the last step and the kept features all follow the
// piece of street between the two, measured against the extract's own
// geometry and its shortest paths, never against the route's features.
TEST_P(DemoRouteRequests, RoutesAlongOneStretchAndAcrossAWayJointTakeTheShortWay) {
  const TravelMode mode = GetParam();
  const bool walking = mode == TravelMode::kWalking;
  const OsmStreetGraph& graph = DemoGraph();
  ASSERT_TRUE(graph.ok()) << graph.error();
  std::string error;
  const std::vector<routetest::ExtractStreetRun> runs = routetest::ReadStreetRuns(DEMO_OSM_PATH, &error);
  ASSERT_FALSE(runs.empty()) << error;
  std::map<std::pair<std::int32_t, std::int32_t>, int> nodeAt;
  for (std::size_t i = 0; i < graph.nodes().size(); ++i) {
    nodeAt[{graph.nodes()[i].at.x, graph.nodes()[i].at.y}] = static_cast<int>(i);
  }
  const auto arc = [&graph, mode](int a, int b) -> std::optional<double> {
    for (const OsmStreetGraph::Arc& x : graph.Arcs(mode, a)) {
      if (x.to == b) return x.metres;
    }
    return std::nullopt;
  };
  LoadEnglish();
  OpenMapFile(DEMO_MAP_PATH);
  ASSERT_NE(map_->m_Rdr.get(), nullptr);

  // Stretches: two consecutive points of a public street of the extract
  // (the classes every map writes as streets), 40 m to 300 m apart, every
  // 25th such pair in file order, both ways where the mode may go both ways.
  // Asked from 30% to 70% of the way along, and from the middle to itself.
  const std::set<std::string> publicStreets = {"primary", "secondary", "tertiary", "unclassified", "residential"};
  struct Stretch {
    DegreePoint p, q;
    std::int64_t way;
  };
  std::vector<Stretch> stretches;
  std::size_t seen = 0;
  for (const routetest::ExtractStreetRun& run : runs) {
    if (publicStreets.count(run.highway) == 0) continue;
    for (std::size_t k = 1; k < run.points.size() && stretches.size() < 60; ++k) {
      const DegreePoint p = MapUnitsToDegrees(run.points[k - 1].first, run.points[k - 1].second);
      const DegreePoint q = MapUnitsToDegrees(run.points[k].first, run.points[k].second);
      const double metres = Metres(p.latitude, p.longitude, q.latitude, q.longitude);
      if (metres < 40 || metres > 300 || seen++ % 25 != 0) continue;
      const auto a = nodeAt.find(run.points[k - 1]);
      const auto b = nodeAt.find(run.points[k]);
      if (a == nodeAt.end() || b == nodeAt.end()) continue;
      if (arc(a->second, b->second)) stretches.push_back({p, q, run.way});
      if (arc(b->second, a->second)) stretches.push_back({q, p, run.way});
    }
  }
  ASSERT_GE(stretches.size(), 40u);
  std::size_t stretchBad = 0, stretchAsked = 0, stretchLongRoad = 0, stretchRoadMeasured = 0, stretchUnjoined = 0;
  std::vector<double> stretchExcess;
  for (const Stretch& stretch : stretches) {
    const DegreePoint& p = stretch.p;
    const DegreePoint& q = stretch.q;
    for (const auto& [s, t] : {std::pair{0.3, 0.7}, std::pair{0.5, 0.5}}) {
      const double fromLat = p.latitude + (q.latitude - p.latitude) * s;
      const double fromLon = p.longitude + (q.longitude - p.longitude) * s;
      const double toLat = p.latitude + (q.latitude - p.latitude) * t;
      const double toLon = p.longitude + (q.longitude - p.longitude) * t;
      const double expected = Metres(fromLat, fromLon, toLat, toLon);
      const AskedRoute asked = Ask(*map_, walking, fromLat, fromLon, toLat, toLon);
      ++stretchAsked;
      SCOPED_TRACE("way " + std::to_string(stretch.way) + " from " + std::to_string(fromLat) + ", " +
                   std::to_string(fromLon) + " to " + std::to_string(toLat) + ", " + std::to_string(toLon));
      if (asked.steps.size() < 2) {
        ADD_FAILURE() << "no route";
        continue;
      }
      stretchExcess.push_back(asked.told - expected);
      if (asked.told > expected + 2.0) ++stretchBad;
      // A route of one feature has no feature before its steps' to measure
      // the road from (the road distance answers S_FALSE, -1).
      if (asked.road >= 0 && std::abs(asked.road - expected) > 2.0) ++stretchLongRoad;
      if (asked.road >= 0) ++stretchRoadMeasured;
      if (!asked.joined) ++stretchUnjoined;
    }
  }
  std::printf("%s, two points of one stretch: %zu routes, %zu told over 2 m longer than the stretch between them "
              "(median excess %.1f m, worst %.1f m), of %zu road distances to the last step %zu off by over 2 m, "
              "%zu whose features jump\n",
              walking ? "walking" : "driving", stretchAsked, stretchBad, Median(stretchExcess),
              stretchExcess.empty() ? 0.0 : *std::max_element(stretchExcess.begin(), stretchExcess.end()),
              stretchRoadMeasured, stretchLongRoad, stretchUnjoined);
  EXPECT_EQ(stretchBad, 0u);
  EXPECT_EQ(stretchLongRoad, 0u);
  EXPECT_EQ(stretchUnjoined, 0u);

  // Way joints of public streets: the two nodes beside the joint, each on
  // its own way.
  std::vector<double> ratios;
  std::size_t joints = 0, over = 0, failed = 0;
  for (const auto& [a, b] : routetest::WayJointPairs(graph, runs, mode, 150, &publicStreets)) {
    const std::optional<double> shortest = graph.ShortestMetres(mode, a, b);
    if (!shortest || *shortest <= 0) continue;
    ++joints;
    const OsmStreetGraph::Node& from = graph.nodes()[static_cast<std::size_t>(a)];
    const OsmStreetGraph::Node& to = graph.nodes()[static_cast<std::size_t>(b)];
    const AskedRoute asked = Ask(*map_, walking, from.lat, from.lon, to.lat, to.lon);
    if (asked.steps.size() < 2) {
      ++failed;
      continue;
    }
    const double ratio = asked.told / *shortest;
    ratios.push_back(ratio);
    if (ratio > 1.5) ++over;
  }
  std::printf("%s, nodes beside a way joint: %zu pairs, %zu without a route, %zu over 1.5 times the shortest path; "
              "told over shortest: median %.3f, worst %.3f\n",
              walking ? "walking" : "driving", joints, failed, over, Median(ratios),
              ratios.empty() ? 0.0 : *std::max_element(ratios.begin(), ratios.end()));
  EXPECT_GE(joints, 50u);
  EXPECT_EQ(failed, 0u);
  EXPECT_EQ(over, 0u);
}

// The street filters a route installs stay on the street reader after the
// request object is gone, and every later walk along a street (the house
// numbers of a where-am-I) calls them: what they read must outlive the
// request. Under the address sanitizer a walk over the freed options of the
// request fails here.
TEST_P(DemoRouteRequests, TheStreetFiltersARouteLeavesInstalledStayUsable) {
  const bool walking = GetParam() == TravelMode::kWalking;
  ASSERT_NO_FATAL_FAILURE(LoadEnglish());
  OpenMapFile(DEMO_MAP_PATH);
  ASSERT_NE(map_->m_Rdr.get(), nullptr);
  // From Ihlenfelder Straße 15 to Ravensburgstraße 14, then where am I there
  // walking along the street.
  const double fromLat = 53.5639666, fromLon = 13.2712675, toLat = 53.5628553, toLon = 13.2719177;
  BSTR parameters = SysAllocString(u"");
  VARIANT result;
  VariantInit(&result);
  const HRESULT hr =
      walking ? map_->FindWalkingRoute(fromLat, fromLon, toLat, toLon, &parameters, CARTOVELRouteTurnAutomatic,
                                       CARTOVELRouteRoundaboutNormal, &result)
              : map_->FindDrivingRoute(fromLat, fromLon, toLat, toLon, &parameters, CARTOVELRouteVehicleModeFastest,
                                       CARTOVELRouteTurnAutomatic, CARTOVELRouteFreewayNormal,
                                       CARTOVELRouteRoundaboutNormal, CARTOVELRouteTollRoadNormal, &result);
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(result.vt, VT_ARRAY | VT_VARIANT);
  VariantClear(&result);
  SysFreeString(parameters);

  BSTR request = SysAllocString(u"STREET ADDRESS STREET NAME RAW");
  BSTR description = nullptr;
  BSTR status = nullptr;
  EXPECT_EQ(map_->GetLocationDescription(toLat, toLon, 273, &request, &description, &status), S_OK);
  EXPECT_NE(platform::Utf16ToUtf8(BstrView(description)).find("Ravensburgstraße"), std::string::npos)
      << platform::Utf16ToUtf8(BstrView(description));
  SysFreeString(request);
  SysFreeString(description);
  SysFreeString(status);
}

}  // namespace
