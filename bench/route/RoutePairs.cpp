// Reads the nodes the route benchmark may start and end on, and draws its
// pairs from them.
#include "bench/route/RoutePairs.h"

#include <osmium/handler.hpp>
#include <osmium/handler/node_locations_for_ways.hpp>
#include <osmium/index/map/flex_mem.hpp>
#include <osmium/io/any_input.hpp>
#include <osmium/visitor.hpp>

#include <algorithm>
#include <cstring>
#include <exception>
#include <initializer_list>
#include <iterator>
#include <random>

namespace routebench {
namespace {

// Highway classes both routers take for walking: the converter writes each
// of them as a street or walkway, and the peer router's stock tagging lets
// pedestrians on them. Motorways and trunk roads are left out: the peer
// router closes them to pedestrians unless a way says otherwise.
constexpr const char* kWalkingHighways[] = {
    "primary",     "primary_link", "secondary", "secondary_link", "tertiary",   "tertiary_link",
    "unclassified", "residential", "road",      "living_street",  "service",    "track",
    "pedestrian",  "footway",      "path",      "cycleway",       "steps",      "bridleway",
};

// Highway classes both routers take for driving. Tracks are left out (the
// peer router closes them to cars), and so are pedestrian zones and
// walkways (the converter marks them for walking only).
constexpr const char* kDrivingHighways[] = {
    "motorway",     "motorway_link", "trunk",         "trunk_link",   "primary",
    "primary_link", "secondary",     "secondary_link", "tertiary",    "tertiary_link",
    "unclassified", "residential",   "road",          "living_street", "service",
};

template <std::size_t N>
bool OneOf(const char* value, const char* const (&list)[N]) {
  return std::any_of(std::begin(list), std::end(list), [value](const char* v) { return std::strcmp(v, value) == 0; });
}

// Access values that open a way; the peer router's stock tagging reads
// every other value (private, destination, delivery, ...) as closed.
constexpr const char* kOpenValues[] = {"yes", "designated", "permissive", "true", "public", "official"};

// Whether a mode may use the way: the first of the keys (most specific
// first) that the way carries decides; a way that carries none is open.
bool Admits(const osmium::TagList& tags, std::initializer_list<const char*> keys) {
  for (const char* key : keys) {
    if (const char* value = tags[key]) return OneOf(value, kOpenValues);
  }
  return true;
}

bool Walkable(const osmium::TagList& tags, const char* highway) {
  return OneOf(highway, kWalkingHighways) && Admits(tags, {"foot", "access:foot", "access"});
}

bool Drivable(const osmium::TagList& tags, const char* highway) {
  return OneOf(highway, kDrivingHighways) &&
         Admits(tags, {"motorcar", "access:motorcar", "motor_vehicle", "vehicle", "access"});
}

struct Node {
  osmium::object_id_type id;
  osmium::Location location;
  bool operator<(const Node& other) const { return id < other.id; }
  bool operator==(const Node& other) const { return id == other.id; }
};

class WayNodes : public osmium::handler::Handler {
 public:
  void way(const osmium::Way& way) {
    const osmium::TagList& tags = way.tags();
    const char* highway = tags["highway"];
    if (highway == nullptr || tags.has_tag("area", "yes")) return;
    const bool walk = Walkable(tags, highway);
    const bool drive = Drivable(tags, highway);
    if (!walk && !drive) return;
    for (const osmium::NodeRef& ref : way.nodes()) {
      if (!ref.location().valid()) continue;  // a node missing from the extract
      if (walk) walking.push_back(Node{ref.ref(), ref.location()});
      if (drive) driving.push_back(Node{ref.ref(), ref.location()});
    }
  }

  std::vector<Node> walking;
  std::vector<Node> driving;
};

// Each node once, in the order of its id.
std::vector<LatLon> Positions(std::vector<Node>& nodes) {
  std::sort(nodes.begin(), nodes.end());
  nodes.erase(std::unique(nodes.begin(), nodes.end()), nodes.end());
  std::vector<LatLon> out;
  out.reserve(nodes.size());
  for (const Node& n : nodes) out.push_back(LatLon{n.location.lat(), n.location.lon()});
  return out;
}

using LocationIndex = osmium::index::map::FlexMem<osmium::unsigned_object_id_type, osmium::Location>;

}  // namespace

ModeNodes ReadModeNodes(const std::string& extract) {
  ModeNodes out;
  try {
    LocationIndex index;
    osmium::handler::NodeLocationsForWays<LocationIndex> locations{index};
    locations.ignore_errors();  // nodes missing from the extract stay invalid locations
    WayNodes collector;
    osmium::io::Reader reader{extract, osmium::osm_entity_bits::node | osmium::osm_entity_bits::way,
                              osmium::io::read_meta::no};
    osmium::apply(reader, locations, collector);
    reader.close();
    out.walking = Positions(collector.walking);
    out.driving = Positions(collector.driving);
  } catch (const std::exception& e) {
    out.error = e.what();
  }
  return out;
}

std::vector<RoutePair> DrawPairs(const std::vector<LatLon>& nodes, std::size_t count, std::uint32_t seed) {
  std::vector<RoutePair> pairs;
  if (nodes.size() < 2) return pairs;
  std::mt19937 random(seed);
  std::uniform_int_distribution<std::size_t> pick(0, nodes.size() - 1);
  pairs.reserve(count);
  while (pairs.size() < count) {
    const std::size_t from = pick(random);
    const std::size_t to = pick(random);
    if (from != to) pairs.push_back(RoutePair{nodes[from], nodes[to]});
  }
  return pairs;
}

std::uint64_t PairsHash(const std::vector<RoutePair>& pairs) {
  std::uint64_t h = 14695981039346656037ull;  // FNV-1a over the positions' bytes
  auto fold = [&h](double v) {
    unsigned char bytes[sizeof v];
    std::memcpy(bytes, &v, sizeof v);
    for (unsigned char b : bytes) h = (h ^ b) * 1099511628211ull;
  };
  for (const RoutePair& p : pairs) {
    fold(p.from.lat);
    fold(p.from.lon);
    fold(p.to.lat);
    fold(p.to.lon);
  }
  return h;
}

}  // namespace routebench
