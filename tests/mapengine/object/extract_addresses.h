// The address nodes of an OpenStreetMap extract, read with libosmium
// independently of the converter: every node with addr:street and an
// addr:housenumber that starts with a digit, with the number's leading
// digits, its position in map units, and its addr:city and addr:postcode
// (empty when untagged).
#pragma once

#include <osmium/handler.hpp>
#include <osmium/io/any_input.hpp>
#include <osmium/osm/node.hpp>
#include <osmium/visitor.hpp>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "mapengine/format/base/TiTypes.h"
#include "mapengine/object/Geometry.h"

struct OsmAddress {
  std::string street;
  std::int32_t number;  // the leading digits of addr:housenumber
  TiPoint point;
  std::string city;
  std::string postcode;
};

class AddressNodes : public osmium::handler::Handler {
 public:
  void node(const osmium::Node& node) {
    const char* street = node.tags()["addr:street"];
    const char* number = node.tags()["addr:housenumber"];
    if (street == nullptr || number == nullptr || !node.location().valid()) return;
    if (!std::isdigit(static_cast<unsigned char>(number[0]))) return;
    const long n = std::strtol(number, nullptr, 10);
    if (n < 1 || n > 100000) return;
    const char* city = node.tags()["addr:city"];
    const char* postcode = node.tags()["addr:postcode"];
    addresses.push_back(OsmAddress{street, static_cast<std::int32_t>(n),
                                   DegreesToMapUnits(node.location().lat(), node.location().lon()),
                                   city != nullptr ? city : "", postcode != nullptr ? postcode : ""});
  }
  std::vector<OsmAddress> addresses;
};

// The address nodes of the extract at `path`, in file order.
inline std::vector<OsmAddress> ReadExtractAddresses(const char* path) {
  AddressNodes extract;
  osmium::io::Reader in(path, osmium::osm_entity_bits::node);
  osmium::apply(in, extract);
  in.close();
  return std::move(extract.addresses);
}
