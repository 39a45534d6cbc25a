// The route search on the demo street map, converted at build time from the
// Neubrandenburg extract, with the map engine's street filters: random
// walking and driving routes between nodes of the extract's streets succeed
// wherever the extract's own street graph says the two are connected, and
// their lengths against the graph's shortest paths are printed; the turn
// restrictions of the extract change driving routes as they should.
//
// Endpoints are found as the map engine finds them: the streets near the
// point (RmfFeaturesNear) and the directed references that travel from or to
// the point on each may use (RmfFeatureTravelRefs, origin or destination).
#include <gtest/gtest.h>

#include <osmium/handler.hpp>
#include <osmium/io/any_input.hpp>
#include <osmium/osm/relation.hpp>
#include <osmium/osm/way.hpp>
#include <osmium/visitor.hpp>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/features/RmfFeaturesNear.h"
#include "mapengine/format/features/RmfProfile.h"
#include "mapengine/format/features/RmfQuery.h"
#include "mapengine/format/route/RmfRoute.h"
#include "mapengine/format/route/RmfRouteSearch.h"
#include "mapengine/object/RouteFilters.h"
#include "tests/mapengine/format/route/OsmStreetGraph.h"
#include "tools/rmfbuild/RmfMemoryReader.h"
#include "tools/rmfbuild/RmfRouteEnds.h"

namespace routetest {
namespace {

constexpr std::uint32_t kSeed = 20240611;
constexpr auto kMaxEndpointRefs = static_cast<std::int32_t>(rmfbuild::kRouteEndRefs);

bool SamePoint(const TiPoint& a, const TiPoint& b) { return a.x == b.x && a.y == b.y; }

// The demo map in a reader and the extract's street graph, shared by the
// tests of this program.
struct Demo {
  Demo() : graph(DEMO_OSM_PATH), maps(16u << 20) {
    if (maps.reader() != nullptr) added = maps.AddFile(DEMO_MAP_PATH);
    // Every line class: footways and paths are written below the streets.
    if (added == 1) RmfQuerySetClassFilter(maps.reader(), 'R', "1234567");
  }
  bool ok() const { return graph.ok() && added == 1; }
  RmfReader* reader() const { return maps.reader(); }

  OsmStreetGraph graph;
  rmfbuild::MemoryReader maps;
  std::int32_t added = 0;
};

Demo& TheDemo() {
  static Demo demo;
  return demo;
}

void Install(TravelMode mode, RmfProfileConnectionFn connections = nullptr) {
  const bool walking = mode == TravelMode::kWalking;
  if (connections == nullptr) connections = walking ? &WalkingConnectionFilter : &DrivingConnectionFilter;
  ASSERT_EQ(RmfProfileSetCallbacks(TheDemo().reader(), walking ? &WalkingFeatureFilter : &DrivingFeatureFilter,
                                   connections, nullptr, kRmfProfileEngineLimit),
            1);
}

// The references travel from (origin) or to (destination) the point may
// use, as the map engine gathers them.
std::vector<RmfFeatureRef> EndpointRefs(TiPoint at, bool origin) {
  return rmfbuild::RouteEndRefs(TheDemo().reader(), at, origin);
}

// The points of a reference's two vertices.
std::optional<std::pair<TiPoint, TiPoint>> Ends(const RmfFeatureRef& r) {
  RmfFeature* slot = nullptr;
  if (RmfFeatureFetch(TheDemo().reader(), r, &slot, nullptr) != 1) return std::nullopt;
  TiPoint a{};
  TiPoint b{};
  const bool ok = RmfFeatureSelectPart(slot, r.part, 0, nullptr) >= 0 &&
                  RmfFeaturePointAt(slot, RmfFeatureNodeAt(slot, r.part, r.fromVertex), &a) == 1 &&
                  RmfFeaturePointAt(slot, RmfFeatureNodeAt(slot, r.part, r.toVertex), &b) == 1;
  (void)RmfFeatureRelease(slot);
  if (!ok) return std::nullopt;
  return std::pair{a, b};
}

// A route object per request, as the map engine makes one.
class Request {
 public:
  Request() {
    if (RmfRouteCreate(&route_, TheDemo().reader()) != 1) route_ = nullptr;
  }
  ~Request() {
    if (route_ != nullptr) (void)RmfRouteDestroy(route_);
  }
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;
  RmfRoute* get() const { return route_; }

  std::int32_t Find(const std::vector<RmfFeatureRef>& origins, const std::vector<RmfFeatureRef>& destinations) {
    return RmfRouteFind(route_, origins.data(), static_cast<std::int32_t>(origins.size()), destinations.data(),
                        static_cast<std::int32_t>(destinations.size()));
  }
  std::vector<RmfFeatureRef> Result() const {
    std::int32_t count = 0;
    RmfFeatureRef* refs = nullptr;
    if (RmfRouteRetrieve(route_, &count, &refs) != 1) return {};
    return std::vector<RmfFeatureRef>(refs, refs + count);
  }

 private:
  RmfRoute* route_ = nullptr;
};

double Percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(index, values.size() - 1)];
}

class DemoRandomRoutes : public ::testing::TestWithParam<TravelMode> {};

TEST_P(DemoRandomRoutes, SucceedWhereTheStreetGraphConnectsThePoints) {
  const TravelMode mode = GetParam();
  Demo& demo = TheDemo();
  ASSERT_TRUE(demo.ok()) << demo.graph.error() << demo.maps.error();
  Install(mode);
  const char* name = mode == TravelMode::kWalking ? "walking" : "driving";
  std::vector<double> ratios;
  int connected = 0;
  int failed = 0;
  for (const auto& [a, b] : demo.graph.RandomPairs(mode, 200, kSeed + (mode == TravelMode::kWalking ? 0 : 1))) {
    const std::optional<double> shortest = demo.graph.ShortestMetres(mode, a, b);
    if (!shortest || *shortest <= 0) continue;
    ++connected;
    const OsmStreetGraph::Node& from = demo.graph.nodes()[static_cast<std::size_t>(a)];
    const OsmStreetGraph::Node& to = demo.graph.nodes()[static_cast<std::size_t>(b)];
    const std::vector<RmfFeatureRef> origins = EndpointRefs(from.at, true);
    const std::vector<RmfFeatureRef> destinations = EndpointRefs(to.at, false);
    ASSERT_FALSE(origins.empty()) << "no street at node " << from.id;
    ASSERT_FALSE(destinations.empty()) << "no street at node " << to.id;
    Request request;
    ASSERT_NE(request.get(), nullptr);
    const std::int32_t found = request.Find(origins, destinations);
    if (found <= 0) {
      if (++failed <= 10) {
        ADD_FAILURE() << name << " from node " << from.id << " to node " << to.id << ": " << found
                      << ", the street graph has a path of " << *shortest << " m";
      }
      continue;
    }
    const std::vector<RmfFeatureRef> route = request.Result();
    const std::int32_t units = RmfRouteRefsLength(demo.reader(), route.data(), static_cast<std::int32_t>(route.size()));
    ASSERT_GE(units, 0);
    ratios.push_back(static_cast<double>(units) / kUnitsPerMetre / *shortest);
  }
  EXPECT_EQ(failed, 0);
  EXPECT_GT(connected, 150) << "most random pairs of the town are connected";
  std::printf("%s: %d connected pairs routed, %d failed; route length over the shortest path: median %.3f, "
              "95th percentile %.3f, max %.3f\n",
              name, connected - failed, failed, Percentile(ratios, 0.5), Percentile(ratios, 0.95),
              ratios.empty() ? 0.0 : *std::max_element(ratios.begin(), ratios.end()));
}

INSTANTIATE_TEST_SUITE_P(Modes, DemoRandomRoutes, ::testing::Values(TravelMode::kWalking, TravelMode::kDriving),
                         [](const ::testing::TestParamInfo<TravelMode>& info) {
                           return std::string(info.param == TravelMode::kWalking ? "Walking" : "Driving");
                         });


// Between the two nodes beside a way joint (two ways of the extract that
// meet end to end and nothing else there) the route goes through the joint:
// its length is the extract's shortest path between them, not a way round
// the block from a start beyond the destination. Asserted for joints of
// public streets; the figures of all joints are printed.
TEST_P(DemoRandomRoutes, AcrossAWayJointGoThroughIt) {
  const TravelMode mode = GetParam();
  Demo& demo = TheDemo();
  ASSERT_TRUE(demo.ok()) << demo.graph.error() << demo.maps.error();
  std::string error;
  const std::vector<ExtractStreetRun> runs = ReadStreetRuns(DEMO_OSM_PATH, &error);
  ASSERT_FALSE(runs.empty()) << error;
  Install(mode);
  const char* name = mode == TravelMode::kWalking ? "walking" : "driving";
  const std::set<std::string> publicStreets = {"primary", "secondary", "tertiary", "unclassified", "residential"};
  for (const bool all : {true, false}) {
    std::vector<double> ratios;
    int pairs = 0;
    int failed = 0;
    int over = 0;
    for (const auto& [a, b] : WayJointPairs(demo.graph, runs, mode, 300, all ? nullptr : &publicStreets)) {
      const std::optional<double> shortest = demo.graph.ShortestMetres(mode, a, b);
      if (!shortest || *shortest <= 0) continue;
      ++pairs;
      const OsmStreetGraph::Node& from = demo.graph.nodes()[static_cast<std::size_t>(a)];
      const OsmStreetGraph::Node& to = demo.graph.nodes()[static_cast<std::size_t>(b)];
      Request request;
      ASSERT_NE(request.get(), nullptr);
      if (request.Find(EndpointRefs(from.at, true), EndpointRefs(to.at, false)) <= 0) {
        ++failed;
        continue;
      }
      const std::vector<RmfFeatureRef> route = request.Result();
      const std::int32_t units =
          RmfRouteRefsLength(demo.reader(), route.data(), static_cast<std::int32_t>(route.size()));
      ASSERT_GE(units, 0);
      const double ratio = static_cast<double>(units) / kUnitsPerMetre / *shortest;
      ratios.push_back(ratio);
      if (ratio <= 1.5) continue;
      ++over;
      if (!all) {
        ADD_FAILURE() << name << " from node " << from.id << " to node " << to.id << ": " << ratio
                      << " times the shortest path of " << *shortest << " m";
      }
    }
    std::printf("%s: %d pairs beside a way joint%s, %d without a route, %d over 1.5 times the shortest path; route "
                "length over the shortest path: median %.3f, max %.3f\n",
                name, pairs, all ? "" : " of public streets", failed, over, Percentile(ratios, 0.5),
                ratios.empty() ? 0.0 : *std::max_element(ratios.begin(), ratios.end()));
    EXPECT_GE(pairs, 100);
    if (!all) {
      EXPECT_EQ(failed, 0);
      EXPECT_EQ(over, 0);
    }
  }
}

// The extract's turn restrictions with one from way, one via node and one
// to way, with the node lists of those ways.
struct Restriction {
  std::int64_t id = 0;
  bool only = false;
  std::int64_t from = 0;
  std::int64_t via = 0;
  std::int64_t to = 0;
};

class RestrictionReader : public osmium::handler::Handler {
 public:
  std::vector<Restriction> restrictions;
  std::map<std::int64_t, std::vector<std::int64_t>> wayNodes;

  void relation(const osmium::Relation& relation) {
    const char* type = relation.tags()["type"];
    if (type == nullptr || std::string_view(type) != "restriction") return;
    const char* value = relation.tags()["restriction:motorcar"];
    if (value == nullptr) value = relation.tags()["restriction"];
    if (value == nullptr) return;
    const std::string_view v(value);
    const char* except = relation.tags()["except"];
    if (except != nullptr && std::string_view(except).find("motorcar") != std::string_view::npos) return;
    Restriction r;
    r.id = relation.id();
    if (v.rfind("only_", 0) == 0) {
      r.only = true;
    } else if (v.rfind("no_", 0) != 0) {
      return;
    }
    int froms = 0, vias = 0, tos = 0;
    for (const osmium::RelationMember& m : relation.members()) {
      const std::string_view role(m.role());
      if (role == "from" && m.type() == osmium::item_type::way) {
        r.from = m.ref();
        ++froms;
      } else if (role == "via" && m.type() == osmium::item_type::node) {
        r.via = m.ref();
        ++vias;
      } else if (role == "to" && m.type() == osmium::item_type::way) {
        r.to = m.ref();
        ++tos;
      } else if (role == "from" || role == "via" || role == "to") {
        return;
      }
    }
    if (froms == 1 && vias == 1 && tos == 1) restrictions.push_back(r);
  }
  void way(const osmium::Way& way) {
    std::vector<std::int64_t> nodes;
    for (const osmium::NodeRef& n : way.nodes()) nodes.push_back(n.ref());
    wayNodes[way.id()] = std::move(nodes);
  }
};

// The node of a way next to the via node, when the way starts or ends there.
std::optional<std::int64_t> NextToVia(const std::vector<std::int64_t>& nodes, std::int64_t via) {
  if (nodes.size() < 2) return std::nullopt;
  if (nodes.front() == via && nodes.back() != via) return nodes[1];
  if (nodes.back() == via && nodes.front() != via) return nodes[nodes.size() - 2];
  return std::nullopt;
}

// The whole segment between two points as a reference of the map, among the
// references near the first.
std::optional<RmfFeatureRef> Segment(TiPoint from, TiPoint to) {
  RmfFeatureRef near[kMaxEndpointRefs];
  const std::int32_t found =
      RmfFeaturesNear(TheDemo().reader(), from.x, from.y, 50, -1, -1, near, kMaxEndpointRefs, nullptr);
  for (std::int32_t i = 0; i < std::min(found, kMaxEndpointRefs); ++i) {
    RmfFeatureRef r = near[i];
    r.position = kRmfPositionWhole;
    for (int flip = 0; flip < 2; ++flip) {
      const auto ends = Ends(r);
      if (ends && SamePoint(ends->first, from) && SamePoint(ends->second, to)) return r;
      std::swap(r.fromVertex, r.toVertex);
    }
  }
  return std::nullopt;
}

// The other segments that leave the point, as whole references.
std::vector<RmfFeatureRef> SegmentsLeaving(TiPoint at) {
  RmfFeatureRef near[kMaxEndpointRefs];
  const std::int32_t found = RmfFeaturesNear(TheDemo().reader(), at.x, at.y, 50, -1, -1, near, kMaxEndpointRefs, nullptr);
  std::vector<RmfFeatureRef> out;
  for (std::int32_t i = 0; i < std::min(found, kMaxEndpointRefs); ++i) {
    RmfFeatureRef r = near[i];
    r.position = kRmfPositionWhole;
    for (int flip = 0; flip < 2; ++flip) {
      const auto ends = Ends(r);
      if (ends && SamePoint(ends->first, at)) out.push_back(r);
      std::swap(r.fromVertex, r.toVertex);
    }
  }
  return out;
}

bool SameRef(const RmfFeatureRef& a, const RmfFeatureRef& b) {
  return a.featureId == b.featureId && a.source == b.source && a.secondId == b.secondId && a.part == b.part &&
         a.fromVertex == b.fromVertex && a.toVertex == b.toVertex;
}

// Driving with the street filters but no restriction items.
std::int32_t NoRestrictions(const RmfAttrSet*, void*, RmfConnectionAnswer* answer, void*) {
  if (answer != nullptr) answer->itemCounts[0] = answer->itemCounts[1] = 0;
  return 0;
}

// The number of entries of the route, 0 for none (or the failure).
std::int32_t Route(const RmfFeatureRef& origin, const RmfFeatureRef& destination) {
  Request request;
  if (request.get() == nullptr) return kRmfNoMemory;
  return request.Find({origin}, {destination});
}

// From the from way's last segment before the via node: without the
// restriction items the route turns at the via node straight onto the
// segment asked for (two entries); with them, a no_* restriction forbids
// that turn onto its to way, and an only_* restriction every turn but the
// one onto its to way.
TEST(DemoRestrictions, MandatoryAndForbiddenTurnsChangeTheDrivingRoute) {
  Demo& demo = TheDemo();
  ASSERT_TRUE(demo.ok()) << demo.graph.error() << demo.maps.error();
  RestrictionReader osm;
  {
    osmium::io::Reader reader(DEMO_OSM_PATH, osmium::osm_entity_bits::way | osmium::osm_entity_bits::relation);
    osmium::apply(reader, osm);
    reader.close();
  }
  ASSERT_FALSE(osm.restrictions.empty());
  const auto point = [&](std::int64_t id) -> std::optional<TiPoint> {
    const int index = demo.graph.Find(id);
    if (index < 0) return std::nullopt;
    return demo.graph.nodes()[static_cast<std::size_t>(index)].at;
  };
  bool testedNo = false;
  bool testedOnly = false;
  for (const Restriction& r : osm.restrictions) {
    if (r.only ? testedOnly : testedNo) continue;
    const auto p = NextToVia(osm.wayNodes[r.from], r.via);
    const auto q = NextToVia(osm.wayNodes[r.to], r.via);
    if (!p || !q) continue;
    const auto pp = point(*p), vp = point(r.via), qp = point(*q);
    if (!pp || !vp || !qp) continue;
    const auto origin = Segment(*pp, *vp);
    const auto onto = Segment(*vp, *qp);
    if (!origin || !onto) continue;
    // The ways the restriction is about: onto its to way for no_*, onto any
    // other way on for only_*.
    std::vector<RmfFeatureRef> targets;
    if (r.only) {
      for (const RmfFeatureRef& s : SegmentsLeaving(*vp)) {
        const auto ends = Ends(s);
        if (!SameRef(s, *onto) && ends && !SamePoint(ends->second, *pp)) targets.push_back(s);
      }
    } else {
      targets.push_back(*onto);
    }
    for (const RmfFeatureRef& target : targets) {
      Install(TravelMode::kDriving, &NoRestrictions);
      if (Route(*origin, target) != 2) continue;  // not a turn the street filters allow anyway
      Install(TravelMode::kDriving);
      SCOPED_TRACE("relation " + std::to_string(r.id));
      const std::int32_t restricted = Route(*origin, target);
      EXPECT_NE(restricted, 2) << "the turn at the via node is still taken";
      EXPECT_GE(restricted, 0);
      if (r.only) {
        EXPECT_EQ(Route(*origin, *onto), 2) << "the turn the restriction prescribes";
        testedOnly = true;
      } else {
        testedNo = true;
      }
      std::printf("%s restriction %lld: %d entries with it, 2 without\n", r.only ? "only_*" : "no_*",
                  static_cast<long long>(r.id), restricted);
      break;
    }
  }
  EXPECT_TRUE(testedNo) << "a no_* restriction of the extract was tested";
  EXPECT_TRUE(testedOnly) << "an only_* restriction of the extract was tested";
}

}  // namespace
}  // namespace routetest
