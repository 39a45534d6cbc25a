// The street ways of an OpenStreetMap extract and the junctions between them,
// read with libosmium independently of the converter, and positions sampled
// on named streets with the junction each one reaches next.
//
// Street ways are the ways whose highway value the converter writes as a
// street (not those tagged area=yes). A way with nodes missing from the
// extract is kept as one run per stretch of known nodes, as the converter
// writes it; a node repeated right after itself counts once. A junction is a
// node that street runs use two or more times (two ways, or one way twice:
// a way that crosses itself or a closed way's first and last node).
#pragma once

#include <osmium/handler.hpp>
#include <osmium/handler/node_locations_for_ways.hpp>
#include <osmium/index/map/flex_mem.hpp>
#include <osmium/io/any_input.hpp>
#include <osmium/osm/way.hpp>
#include <osmium/visitor.hpp>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <map>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "mapengine/format/base/TiTypes.h"
#include "mapengine/object/Geometry.h"

// The highway values the converter writes as streets, with the class digit
// of the feature: 4 for walkways and cycleways (crossings to announce, not a
// street a position lies on), 5 to 7 for streets. Unnamed service roads and
// tracks are written as class 4 as well.
struct OsmStreetKind {
  const char* highway;
  int classDigit;
};
inline constexpr OsmStreetKind kOsmStreetKinds[] = {
    {"motorway", 5},     {"motorway_link", 5}, {"trunk", 5},     {"trunk_link", 5},     {"primary", 5},
    {"primary_link", 5}, {"secondary", 6},     {"secondary_link", 6}, {"tertiary", 6}, {"tertiary_link", 6},
    {"unclassified", 7}, {"residential", 7},   {"road", 7},      {"living_street", 7},  {"service", 7},
    {"track", 7},        {"pedestrian", 7},    {"footway", 4},   {"path", 4},           {"cycleway", 4},
    {"steps", 4},        {"bridleway", 4},
};

struct OsmStreetRun {
  std::int64_t way = 0;
  std::string highway;
  std::string name;  // the name tag
  std::string ref;   // the last route number of the ref tag (';'-separated), trimmed
  int classDigit = 7;
  std::vector<std::int64_t> nodes;
  std::vector<TiPoint> points;  // one per node

  // The name the map speaks: the name tag, else the last route number.
  const std::string& Label() const { return name.empty() ? ref : name; }
};

struct OsmJunction {
  std::int64_t node = 0;
  TiPoint point{};
  int uses = 0;                 // times street runs pass the node (2 or more)
  std::set<std::string> names;  // the non-empty labels of the runs that meet here
};

class StreetWayReading : public osmium::handler::Handler {
 public:
  void way(const osmium::Way& way) {
    const char* highway = way.tags()["highway"];
    if (highway == nullptr) return;
    const char* area = way.tags()["area"];
    if (area != nullptr && std::strcmp(area, "yes") == 0) return;
    int classDigit = 0;
    for (const OsmStreetKind& k : kOsmStreetKinds) {
      if (std::strcmp(k.highway, highway) == 0) classDigit = k.classDigit;
    }
    if (classDigit == 0) return;
    OsmStreetRun run;
    run.way = way.id();
    run.highway = highway;
    const char* name = way.tags()["name"];
    if (name != nullptr) run.name = name;
    run.ref = LastRef(way.tags()["ref"]);
    const bool driveway = (run.highway == "service" || run.highway == "track") && run.name.empty() && run.ref.empty();
    run.classDigit = driveway ? 4 : classDigit;
    OsmStreetRun part = run;
    for (const osmium::NodeRef& n : way.nodes()) {
      if (!n.location().valid()) {
        Keep(part);
        part = run;
        continue;
      }
      if (!part.nodes.empty() && part.nodes.back() == n.ref()) continue;
      part.nodes.push_back(n.ref());
      part.points.push_back(DegreesToMapUnits(n.location().lat(), n.location().lon()));
    }
    Keep(part);
  }

  std::vector<OsmStreetRun> runs;

 private:
  void Keep(OsmStreetRun& part) {
    if (part.nodes.size() >= 2) runs.push_back(std::move(part));
  }
  static std::string LastRef(const char* ref) {
    if (ref == nullptr) return {};
    std::string last;
    std::string_view rest(ref);
    while (!rest.empty()) {
      const std::size_t end = std::min(rest.find(';'), rest.size());
      std::string_view one = rest.substr(0, end);
      rest.remove_prefix(std::min(end + 1, rest.size()));
      while (!one.empty() && one.front() == ' ') one.remove_prefix(1);
      while (!one.empty() && one.back() == ' ') one.remove_suffix(1);
      if (!one.empty()) last = one;
    }
    return last;
  }
};

struct ExtractJunctions {
  std::string error;  // empty when the extract was read
  std::vector<OsmStreetRun> runs;
  std::map<std::int64_t, OsmJunction> junctions;  // by node id

  const OsmJunction* JunctionAt(std::int64_t node) const {
    const auto it = junctions.find(node);
    return it == junctions.end() ? nullptr : &it->second;
  }
};

// The street runs and junctions of the extract at `path`.
inline ExtractJunctions ReadExtractJunctions(const char* path) {
  ExtractJunctions extract;
  StreetWayReading reading;
  try {
    osmium::io::Reader in(path, osmium::osm_entity_bits::node | osmium::osm_entity_bits::way);
    osmium::index::map::FlexMem<osmium::unsigned_object_id_type, osmium::Location> index;
    osmium::handler::NodeLocationsForWays<decltype(index)> locations(index);
    locations.ignore_errors();  // nodes missing from the extract stay invalid locations
    osmium::apply(in, locations, reading);
    in.close();
  } catch (const std::exception& e) {
    extract.error = std::string("cannot read ") + path + ": " + e.what();
    return extract;
  }
  extract.runs = std::move(reading.runs);
  std::map<std::int64_t, OsmJunction> uses;
  for (const OsmStreetRun& run : extract.runs) {
    for (std::size_t i = 0; i < run.nodes.size(); ++i) {
      OsmJunction& j = uses[run.nodes[i]];
      j.node = run.nodes[i];
      j.point = run.points[i];
      ++j.uses;
      if (!run.Label().empty()) j.names.insert(run.Label());
    }
  }
  for (auto& [node, j] : uses) {
    if (j.uses >= 2) extract.junctions.emplace(node, std::move(j));
  }
  return extract;
}

// A position on a named street: a point of a segment between two nodes, the
// heading along the way (towards the later node), and the first junction at
// or after the later node, walking the way forward (none, node 0, when the
// way ends first), with every further junction up to the way's end.
struct SampledStreetPosition {
  TiPoint point{};
  std::int32_t heading = 0;
  std::string name;
  std::int64_t way = 0;
  std::int64_t junction = 0;
  TiPoint junctionPoint{};
  std::vector<std::int64_t> junctionsAhead;  // every junction node ahead on the way, in order
};

// `count` positions drawn with `seed` on the named street runs of classes 5
// to 7: a run (each equally likely), a segment of it at least `minimumFeet`
// long, and a point between 20% and 80% of the way along it, so that no
// position lies on a node. Fewer when the extract has no such segment.
inline std::vector<SampledStreetPosition> SampleStreetPositions(const ExtractJunctions& extract, int count,
                                                                std::uint32_t seed, std::int32_t minimumFeet = 30) {
  std::vector<const OsmStreetRun*> named;
  for (const OsmStreetRun& run : extract.runs) {
    if (run.classDigit >= 5 && !run.Label().empty()) named.push_back(&run);
  }
  std::vector<SampledStreetPosition> out;
  if (named.empty()) return out;
  std::mt19937 gen(seed);
  std::uniform_int_distribution<std::size_t> pickRun(0, named.size() - 1);
  std::uniform_real_distribution<double> along(0.2, 0.8);
  // Runs whose segments are all too short are drawn again; the bound keeps
  // an extract of nothing but short segments from looping for ever.
  for (int tries = 0; static_cast<int>(out.size()) < count && tries < count * 100; ++tries) {
    const OsmStreetRun& run = *named[pickRun(gen)];
    std::uniform_int_distribution<std::size_t> pickSegment(0, run.points.size() - 2);
    const std::size_t s = pickSegment(gen);
    const TiPoint a = run.points[s];
    const TiPoint b = run.points[s + 1];
    if (DistanceFeetBetweenMapPoints(a.x, a.y, b.x, b.y) < minimumFeet) continue;
    const double t = along(gen);
    SampledStreetPosition p;
    p.point = TiPoint{a.x + static_cast<std::int32_t>(t * (b.x - a.x)), a.y + static_cast<std::int32_t>(t * (b.y - a.y))};
    p.heading = BearingBetweenMapPoints(a.x, a.y, b.x, b.y);
    p.name = run.Label();
    p.way = run.way;
    for (std::size_t i = s + 1; i < run.nodes.size(); ++i) {
      if (const OsmJunction* j = extract.JunctionAt(run.nodes[i])) {
        if (p.junction == 0) {
          p.junction = j->node;
          p.junctionPoint = j->point;
        }
        p.junctionsAhead.push_back(j->node);
      }
    }
    out.push_back(std::move(p));
  }
  return out;
}
