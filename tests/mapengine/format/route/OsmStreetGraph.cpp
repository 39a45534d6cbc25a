// Reading an extract's streets into the test's own graph, and the searches
// over it (see OsmStreetGraph.h).
#include "tests/mapengine/format/route/OsmStreetGraph.h"

#include <osmium/handler.hpp>
#include <osmium/handler/node_locations_for_ways.hpp>
#include <osmium/index/map/flex_mem.hpp>
#include <osmium/io/any_input.hpp>
#include <osmium/osm/way.hpp>
#include <osmium/visitor.hpp>

#include <algorithm>
#include <cmath>
#include <exception>
#include <functional>
#include <limits>
#include <map>
#include <numbers>
#include <queue>
#include <random>
#include <set>
#include <string_view>

#include "tools/osm2rmf/Osm2Rmf.h"

namespace routetest {
namespace {

struct Kind {
  std::string_view highway;
  bool walk;
  bool drive;
  bool oneWay;  // one-way along its nodes unless tagged otherwise
};

// clang-format off
constexpr Kind kKinds[] = {
    {"motorway", false, true, true},        {"motorway_link", false, true, true},
    {"trunk_link", false, true, false},     {"trunk", true, true, false},
    {"primary", true, true, false},         {"primary_link", true, true, false},
    {"secondary", true, true, false},       {"secondary_link", true, true, false},
    {"tertiary", true, true, false},        {"tertiary_link", true, true, false},
    {"unclassified", true, true, false},    {"residential", true, true, false},
    {"road", true, true, false},            {"living_street", true, true, false},
    {"service", true, true, false},         {"track", true, true, false},
    {"pedestrian", true, false, false},     {"footway", true, false, false},
    {"path", true, false, false},           {"cycleway", true, false, false},
    {"steps", true, false, false},          {"bridleway", true, false, false},
};
// clang-format on

std::string_view Tag(const osmium::TagList& tags, const char* key) {
  const char* v = tags.get_value_by_key(key);
  return v == nullptr ? std::string_view{} : std::string_view(v);
}

bool Denied(std::string_view v) { return v == "no" || v == "private"; }
bool Granted(std::string_view v) { return v == "yes" || v == "designated" || v == "permissive"; }

// Driving: 0 not at all, 1 along the nodes, -1 against them, 2 both ways.
int DriveDirection(const osmium::TagList& tags, const Kind& kind) {
  const std::string_view oneway = Tag(tags, "oneway");
  if (oneway == "yes" || oneway == "true" || oneway == "1") return 1;
  if (oneway == "-1" || oneway == "reverse") return -1;
  if (oneway == "no" || oneway == "false" || oneway == "0") return 2;
  if (!oneway.empty()) return 0;
  const std::string_view junction = Tag(tags, "junction");
  return kind.oneWay || junction == "roundabout" || junction == "circular" ? 1 : 2;
}

}  // namespace

// The handler that turns ways into joins of the graph.
class OsmStreetReading : public osmium::handler::Handler {
 public:
  explicit OsmStreetReading(OsmStreetGraph& graph) : graph_(graph) {}

  void way(const osmium::Way& way) {
    const osmium::TagList& tags = way.tags();
    const std::string_view highway = Tag(tags, "highway");
    const Kind* kind = nullptr;
    for (const Kind& k : kKinds) {
      if (k.highway == highway) kind = &k;
    }
    if (kind == nullptr) return;
    // Closed ways tagged area=yes are squares and yards: the converter
    // writes no street for them.
    if (Tag(tags, "area") == "yes") return;
    const bool closed = Denied(Tag(tags, "access"));
    const std::string_view foot = Tag(tags, "foot");
    const bool walk = kind->walk && !Denied(foot) && (!closed || Granted(foot));
    bool carsDenied = false;
    bool carsGranted = false;
    for (const char* key : {"motor_vehicle", "motorcar", "vehicle"}) {
      carsDenied = carsDenied || Denied(Tag(tags, key));
      carsGranted = carsGranted || Granted(Tag(tags, key));
    }
    const int drive = kind->drive && !carsDenied && (!closed || carsGranted) ? DriveDirection(tags, *kind) : 0;
    if (!walk && drive == 0) return;

    int last = -1;
    for (const osmium::NodeRef& n : way.nodes()) {
      if (!n.location().valid()) {
        last = -1;
        continue;
      }
      const int node = graph_.Add(n.ref(), n.location().lat(), n.location().lon());
      if (last >= 0 && last != node) graph_.Join(last, node, walk, drive);
      last = node;
    }
  }

 private:
  OsmStreetGraph& graph_;
};

OsmStreetGraph::OsmStreetGraph(const std::string& path) {
  try {
    osmium::io::Reader in(path, osmium::osm_entity_bits::node | osmium::osm_entity_bits::way);
    osmium::index::map::FlexMem<osmium::unsigned_object_id_type, osmium::Location> index;
    osmium::handler::NodeLocationsForWays<decltype(index)> locations(index);
    locations.ignore_errors();  // nodes missing from the extract stay invalid locations
    OsmStreetReading reading(*this);
    osmium::apply(in, locations, reading);
    in.close();
  } catch (const std::exception& e) {
    error_ = std::string("cannot read ") + path + ": " + e.what();
    return;
  }
  if (nodes_.empty()) {
    error_ = path + " holds no walkable or drivable way";
    return;
  }
  FindComponents();
}

int OsmStreetGraph::Add(std::int64_t id, double lat, double lon) {
  const auto [it, added] = index_.try_emplace(id, static_cast<int>(nodes_.size()));
  if (!added) return it->second;
  nodes_.push_back(Node{id, lat, lon, TiPoint{osm2rmf::LongitudeToUnits(lon), osm2rmf::LatitudeToUnits(lat)}});
  for (std::size_t m = 0; m < 2; ++m) {
    on_[m].push_back(false);
    arcs_[m].emplace_back();
  }
  return it->second;
}

void OsmStreetGraph::Join(int a, int b, bool walk, int drive) {
  const double metres = Metres(nodes_[static_cast<std::size_t>(a)], nodes_[static_cast<std::size_t>(b)]);
  auto arc = [&](std::size_t m, int from, int to) {
    arcs_[m][static_cast<std::size_t>(from)].push_back(Arc{to, metres});
    on_[m][static_cast<std::size_t>(from)] = true;
    on_[m][static_cast<std::size_t>(to)] = true;
  };
  if (walk) {
    arc(0, a, b);
    arc(0, b, a);
  }
  if (drive == 1 || drive == 2) arc(1, a, b);
  if (drive == -1 || drive == 2) arc(1, b, a);
}

void OsmStreetGraph::FindComponents() {
  component_.assign(nodes_.size(), -1);
  components_ = 0;
  std::vector<int> stack;
  for (std::size_t start = 0; start < nodes_.size(); ++start) {
    if (!on_[0][start] || component_[start] >= 0) continue;
    component_[start] = components_;
    stack.push_back(static_cast<int>(start));
    while (!stack.empty()) {
      const int n = stack.back();
      stack.pop_back();
      for (const Arc& a : arcs_[0][static_cast<std::size_t>(n)]) {
        if (component_[static_cast<std::size_t>(a.to)] >= 0) continue;
        component_[static_cast<std::size_t>(a.to)] = components_;
        stack.push_back(a.to);
      }
    }
    ++components_;
  }
}

int OsmStreetGraph::Find(std::int64_t id) const {
  const auto it = index_.find(id);
  return it == index_.end() ? -1 : it->second;
}

std::size_t OsmStreetGraph::NodeCount(TravelMode mode) const {
  std::size_t count = 0;
  for (const bool on : on_[Slot(mode)]) count += on ? 1 : 0;
  return count;
}

std::optional<double> OsmStreetGraph::ShortestMetres(TravelMode mode, int a, int b) const {
  const std::vector<std::vector<Arc>>& arcs = arcs_[Slot(mode)];
  std::vector<double> best(nodes_.size(), std::numeric_limits<double>::infinity());
  using Entry = std::pair<double, int>;
  std::priority_queue<Entry, std::vector<Entry>, std::greater<>> open;
  best[static_cast<std::size_t>(a)] = 0;
  open.emplace(0, a);
  while (!open.empty()) {
    const auto [d, n] = open.top();
    open.pop();
    if (n == b) return d;
    if (d > best[static_cast<std::size_t>(n)]) continue;
    for (const Arc& arc : arcs[static_cast<std::size_t>(n)]) {
      const double through = d + arc.metres;
      if (through < best[static_cast<std::size_t>(arc.to)]) {
        best[static_cast<std::size_t>(arc.to)] = through;
        open.emplace(through, arc.to);
      }
    }
  }
  return std::nullopt;
}

std::vector<std::pair<int, int>> OsmStreetGraph::RandomPairs(TravelMode mode, std::size_t count,
                                                             std::uint32_t seed) const {
  std::vector<int> on;
  for (std::size_t n = 0; n < nodes_.size(); ++n) {
    if (on_[Slot(mode)][n]) on.push_back(static_cast<int>(n));
  }
  std::vector<std::pair<int, int>> pairs;
  if (on.size() < 2) return pairs;
  std::mt19937 rng(seed);
  while (pairs.size() < count) {
    const int a = on[rng() % on.size()];
    const int b = on[rng() % on.size()];
    if (a != b) pairs.emplace_back(a, b);
  }
  return pairs;
}

double OsmStreetGraph::Metres(const Node& a, const Node& b) {
  constexpr double kRadius = 40000000.0 / (2 * std::numbers::pi);
  constexpr double kRadian = std::numbers::pi / 180;
  const double dLat = (b.lat - a.lat) * kRadian;
  const double dLon = (b.lon - a.lon) * kRadian;
  const double h = std::sin(dLat / 2) * std::sin(dLat / 2) +
                   std::cos(a.lat * kRadian) * std::cos(b.lat * kRadian) * std::sin(dLon / 2) * std::sin(dLon / 2);
  return 2 * kRadius * std::asin(std::min(1.0, std::sqrt(h)));
}

namespace {

class StreetRuns : public osmium::handler::Handler {
 public:
  void way(const osmium::Way& way) {
    const char* highway = way.tags()["highway"];
    const char* area = way.tags()["area"];
    if (highway == nullptr || (area != nullptr && std::string_view(area) == "yes")) return;
    ExtractStreetRun run{way.id(), highway, {}};
    const auto finish = [&] {
      if (run.points.size() >= 2) runs.push_back(run);
      run.points.clear();
    };
    for (const osmium::NodeRef& n : way.nodes()) {
      if (!n.location().valid()) {
        finish();
        continue;
      }
      const std::pair<std::int32_t, std::int32_t> p{osm2rmf::LongitudeToUnits(n.location().lon_without_check()),
                                                    osm2rmf::LatitudeToUnits(n.location().lat_without_check())};
      if (!run.points.empty() && run.points.back() == p) continue;
      run.points.push_back(p);
    }
    finish();
  }

  std::vector<ExtractStreetRun> runs;
};

}  // namespace

std::vector<ExtractStreetRun> ReadStreetRuns(const std::string& path, std::string* error) {
  StreetRuns handler;
  try {
    osmium::io::Reader in(path, osmium::osm_entity_bits::node | osmium::osm_entity_bits::way);
    osmium::index::map::FlexMem<osmium::unsigned_object_id_type, osmium::Location> index;
    osmium::handler::NodeLocationsForWays<decltype(index)> locations(index);
    locations.ignore_errors();
    osmium::apply(in, locations, handler);
    in.close();
  } catch (const std::exception& e) {
    *error = e.what();
    return {};
  }
  return std::move(handler.runs);
}

std::vector<std::pair<int, int>> WayJointPairs(const OsmStreetGraph& graph, const std::vector<ExtractStreetRun>& runs,
                                               TravelMode mode, std::size_t count,
                                               const std::set<std::string>* highways) {
  using Position = std::pair<std::int32_t, std::int32_t>;
  std::map<Position, int> nodeAt;
  for (std::size_t i = 0; i < graph.nodes().size(); ++i) {
    nodeAt[{graph.nodes()[i].at.x, graph.nodes()[i].at.y}] = static_cast<int>(i);
  }
  std::map<Position, int> touching;               // runs through or ending at a position
  std::map<Position, std::vector<Position>> beside;  // the points next to the run ends there
  std::map<Position, bool> chosen;                   // every run there of the highways asked for
  for (const ExtractStreetRun& run : runs) {
    std::set<Position> own(run.points.begin(), run.points.end());
    for (const Position& p : own) ++touching[p];
    beside[run.points.front()].push_back(run.points[1]);
    beside[run.points.back()].push_back(run.points[run.points.size() - 2]);
    const bool asked = highways == nullptr || highways->count(run.highway) != 0;
    for (const Position& p : {run.points.front(), run.points.back()}) {
      const auto it = chosen.find(p);
      chosen[p] = asked && (it == chosen.end() || it->second);
    }
  }
  const auto arc = [&graph, mode](int a, int b) {
    for (const OsmStreetGraph::Arc& x : graph.Arcs(mode, a)) {
      if (x.to == b) return true;
    }
    return false;
  };
  std::vector<std::pair<int, int>> pairs;
  for (const auto& [at, next] : beside) {
    if (pairs.size() >= count) break;
    if (next.size() != 2 || touching[at] != 2 || !chosen[at]) continue;
    const auto j = nodeAt.find(at);
    const auto x = nodeAt.find(next[0]);
    const auto y = nodeAt.find(next[1]);
    if (j == nodeAt.end() || x == nodeAt.end() || y == nodeAt.end() || x->second == y->second) continue;
    if (!graph.On(TravelMode::kDriving, x->second) || !graph.On(TravelMode::kDriving, y->second)) continue;
    int a = x->second;
    int b = y->second;
    if (!arc(a, j->second) || !arc(j->second, b)) std::swap(a, b);
    if (!arc(a, j->second) || !arc(j->second, b)) continue;
    pairs.emplace_back(a, b);
  }
  return pairs;
}

}  // namespace routetest
