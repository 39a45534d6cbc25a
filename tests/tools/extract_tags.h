// The tags of the objects of an OpenStreetMap extract that the converter
// turns into points of interest, read with libosmium on their own: what a
// point's record should say (name, address, phone) of the object at its
// point. Shared by the tests that check point-of-interest records against
// the extract.
#pragma once

#include <osmium/handler.hpp>
#include <osmium/handler/node_locations_for_ways.hpp>
#include <osmium/index/map/flex_mem.hpp>
#include <osmium/io/any_input.hpp>
#include <osmium/osm/node.hpp>
#include <osmium/osm/relation.hpp>
#include <osmium/osm/way.hpp>
#include <osmium/visitor.hpp>

#include <cmath>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "mapengine/format/base/TiTypes.h"
#include "outside/dorvanta/PoiStore.h"
#include "tools/osm2rmf/Osm2Rmf.h"

namespace extract_tags {

// What a record should say of an object of the extract.
struct Tagged {
  std::string name, houseNumber, street, city, postcode, country, phone;
};

inline Tagged TaggedOf(const osmium::TagList& tags) {
  auto tag = [&](const char* key) {
    const char* value = tags[key];
    return std::string(value != nullptr ? value : "");
  };
  Tagged t{tag("name"), tag("addr:housenumber"), tag("addr:street"), tag("addr:city"), tag("addr:postcode"),
           tag("addr:country"), tag("phone")};
  if (t.phone.empty()) t.phone = tag("contact:phone");
  return t;
}

inline std::pair<std::int32_t, std::int32_t> Key(TiPoint p) { return {p.x, p.y}; }

// The tagged nodes at their points, the tagged ways at the mean of their
// nodes, the names of multipolygon relations, and how often each
// addr:country is named by an address.
class ExtractTags : public osmium::handler::Handler {
 public:
  void node(const osmium::Node& node) {
    if (node.tags().empty() || !node.location().valid()) return;
    CountCountry(node.tags());
    at_.emplace(Key(Units(node.location())), TaggedOf(node.tags()));
  }
  void way(const osmium::Way& way) {
    if (way.tags().empty()) return;
    CountCountry(way.tags());
    double x = 0, y = 0;
    std::size_t known = 0;
    for (const osmium::NodeRef& n : way.nodes()) {
      if (!n.location().valid()) continue;
      // A closed way's last node is its first: counted once.
      if (known > 0 && &n == &way.nodes().back() && n.ref() == way.nodes().front().ref()) continue;
      const TiPoint p = Units(n.location());
      x += p.x;
      y += p.y;
      ++known;
    }
    if (known == 0) return;
    const TiPoint mean{static_cast<std::int32_t>(std::lround(x / static_cast<double>(known))),
                       static_cast<std::int32_t>(std::lround(y / static_cast<double>(known)))};
    at_.emplace(Key(mean), TaggedOf(way.tags()));
  }
  void relation(const osmium::Relation& relation) {
    const char* type = relation.tags()["type"];
    if (type != nullptr && std::string(type) == "multipolygon") areas_.emplace(TaggedOf(relation.tags()).name);
  }

  // Reads the extract at `path`, ways with their nodes' locations.
  void Read(const char* path) {
    osmium::io::Reader in(path);
    osmium::index::map::FlexMem<osmium::unsigned_object_id_type, osmium::Location> index;
    osmium::handler::NodeLocationsForWays<decltype(index)> locations(index);
    locations.ignore_errors();
    osmium::apply(in, locations, *this);
    in.close();
  }

  // The objects drawn at point `p`: any of them may be a point's.
  auto At(TiPoint p) const { return at_.equal_range(Key(p)); }
  bool IsArea(const std::string& name) const { return areas_.count(name) > 0; }
  std::string Country() const {
    std::string best;
    std::size_t most = 0;
    for (const auto& [country, n] : countries_) {
      if (n > most) best = country, most = n;
    }
    return best;
  }

 private:
  static TiPoint Units(const osmium::Location& l) {
    return {osm2rmf::LongitudeToUnits(l.lon()), osm2rmf::LatitudeToUnits(l.lat())};
  }
  void CountCountry(const osmium::TagList& tags) {
    const char* country = tags["addr:country"];
    if (country != nullptr && tags["addr:housenumber"] != nullptr) ++countries_[country];
  }
  std::multimap<std::pair<std::int32_t, std::int32_t>, Tagged> at_;
  std::set<std::string> areas_;
  std::map<std::string, std::size_t> countries_;
};

inline bool SameAsTags(const dorvanta::PoiRecord& r, const Tagged& t, const std::string& country) {
  return r.name == t.name && r.houseNumber == t.houseNumber && r.street == t.street && r.city == t.city &&
         r.postalCode == t.postcode && r.phone == t.phone && r.country == (t.country.empty() ? country : t.country);
}


}  // namespace extract_tags

using extract_tags::ExtractTags;
using extract_tags::SameAsTags;
