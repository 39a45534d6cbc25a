// The OpenStreetMap front end of the map-file builder: reads an extract with
// libosmium (OSM XML, plain or bzip2- or gzip-compressed, or PBF) and turns
// it into feature maps that BuildFeatureMap packs into map files. Nodes must
// come before the ways, as every usual tool writes them; memory grows with
// what is kept (streets, addresses, points of interest, the boundary and
// multipolygon relations and their ways) and an index of node positions
// of 16 bytes a node.
//
// What it makes of the data:
//  - Every way tagged with a travelled highway class becomes a line feature
//    at detail level 1 (class 5 main roads, 6 through roads, 7 local roads
//    and pedestrian zones, 4 footways, paths, cycleways and steps) carrying
//    a route-class attribute (code pair 7-1): road type, road kind, speed
//    class (from maxspeed, else the class's usual speed), toll mark, lane
//    count and one-way mark, with the street's name text: the name tag,
//    then a ":RN/<ref>" piece for each route number of its ref tag (split
//    at ';' and trimmed), separated by backslashes; a street with a ref but
//    no name has the route-number pieces only. A route number that would
//    take the text past kMaxDetailChars bytes is left out whole. The part's
//    own triple reads the same way (class code, route value, name text);
//    for class 7 it is the route-class attribute, with the one-way mark on
//    its code. Ways are written in the order of their nodes, so nodes that
//    several ways share stay equal points and streets meet there.
//  - A way whose nodes are partly missing from the extract is split at the
//    gaps instead of being bridged by a straight segment that is not there.
//  - Addresses (nodes and ways with addr:housenumber and addr:street, and
//    the numbered end nodes of address interpolation lines) are placed on
//    the nearest street of their name within 300 m; without one, on the
//    nearest whose name is the same written differently (case, blanks,
//    hyphens, dots, "ß" as "ss", "Str." for "Straße", "St" for "Street"
//    and a few more such words), else on the nearest whose name is one
//    letter apart (added, left out or changed; names of six letters or
//    more, never a digit). A street that received
//    numbered addresses gets a house-number range attribute: code "12B-+",
//    value "A" (explicit numbers), name "<from1>\<to1>\<from2>\<to2>" with
//    side 1 the right side of the street looking along its vertex order and
//    side 2 the left; "from" is the end of the side's numbers at the first
//    vertex, "to" the end at the last vertex, and a side without numbers
//    reads "0\0".
//  - Every street gets a locality attribute, code "121", when anything is
//    known of where it lies: value "<country>\<postal code>" (ISO 3166
//    alpha-3 country code) and name
//    "<locality>\<city>\<borough>\<county>\<state>". Country, postal code,
//    city and state are the most common ones of the street's addresses,
//    else those of the nearest address within 500 m, else (not the country)
//    those of the administrative or postal-code boundaries around the
//    street's middle; county comes from the boundaries, borough from
//    addr:suburb or the boundaries, and the locality is the nearest named
//    place node within 2 km. Boundaries are assembled by libosmium; one
//    whose member ways are partly missing from the extract is used when
//    the ways that are there still close.
//  - Turn restrictions: a relation tagged type=restriction whose
//    restriction:motorcar value, else its restriction value, starts with
//    "no_" or "only_", and whose except list does not name motorcar, is
//    written when it has exactly one from way, one via node and one to way,
//    both streets written here, each with exactly one end of its written
//    runs (after splitting at gaps) at the via node. It becomes one
//    route-restriction attribute on each of the two street segments that
//    touch the via node: code "L7B" (L the street's detail level) with a
//    direction mark for the direction of travel the item holds for (toward
//    the via node on the from way, away from it on the to way): '+' when
//    that runs along the vertex order, '-' against it (the connection
//    filters put '+' items in the list the router reads for travel toward
//    higher vertex positions); value "0PB" on the from way and "0PE" on the to way
//    for no_*, "0RB" and "0RE" for only_*, name the relation id in
//    decimal, the key that pairs the two. A segment's attributes are stored
//    after its lower vertex: after the first vertex when the street starts
//    at the via node, after the point before the last vertex when it ends
//    there (the builder keeps such an attribute on the piece that touches
//    the node when a tile border cuts the segment). The router's driving
//    connection filter reads them as restriction items: 0PB kind 2, 0PE
//    kind 4, 0RB kind 5, 0RE kind 7. Not placed (counted, nothing
//    written): a via way, a missing or repeated member, a from or to way
//    that is not a written street, and one that passes through the via
//    node or comes back to it, whose segment at the node is not one.
//  - Nodes, ways (buildings, areas; at the mean of their nodes) and
//    multipolygon relations (at the mean of their outer rings' corners)
//    that ClassifyPoi takes for points of interest go to a separate map whose
//    point names read "<poi file id>,<subcategory>" and whose detail text is
//    the point's key (its number in the file), the way the map engine's
//    point-of-interest search reads them.
//  - Each of those points has a record under its key in the database beside
//    the point-of-interest map (NAME_POI_01.pdb, the database server's
//    point-of-interest store): the name tag, its category and subcategory,
//    its position as written in the map (in degrees), the address of its
//    addr:housenumber, addr:street, addr:city, addr:postcode and
//    addr:country tags (without addr:country, the country most addresses of
//    the extract name) and its phone tag, else contact:phone.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "mapengine/format/base/TiTypes.h"
#include "mapengine/format/base/TiUnits.h"
#include "outside/dorvanta/PoiStore.h"
#include "tools/rmfbuild/RmfFeatures.h"

namespace osm2rmf {

// Map units per degree: 2^28 units to a full turn.
inline constexpr double kUnitsPerDegree = kTiUnitsPerDegree;

// A coordinate in degrees as map units, rounded half away from zero and held
// to the world the map format allows (x = longitude, y = latitude).
std::int32_t LongitudeToUnits(double degrees);
std::int32_t LatitudeToUnits(double degrees);

struct ConvertStats {
  std::size_t nodes = 0;          // nodes with a usable position
  std::size_t ways = 0;           // every way read
  std::size_t highwayWays = 0;    // ways with a travelled highway class
  std::size_t streets = 0;        // line features written (a way split at gaps gives several)
  std::size_t namedStreets = 0;   // of them, the ones with a name or ref
  std::size_t oneWayStreets = 0;  // of them, the ones with a one-way mark
  std::size_t routeNumbers = 0;   // route-number pieces in the name texts of the streets
  std::size_t droppedWays = 0;    // highway ways with fewer than two usable points
  std::size_t pois = 0;           // points of interest written

  std::size_t addressNodes = 0;        // nodes that became addresses (interpolation ends included)
  std::size_t addressWays = 0;         // ways that became addresses
  std::size_t interpolationLines = 0;  // ways tagged addr:interpolation
  std::size_t addressesMatched = 0;    // addresses placed on a street of their name (all three kinds)
  std::size_t addressesMatchedWrittenDifferently = 0;  // ... of a name written differently ("Zollstr.")
  std::size_t addressesMatchedSpelledDifferently = 0;  // ... of a name a letter apart ("Wiesengass")
  std::size_t houseNumberRanges = 0;   // range attributes written (one per street at most)
  std::size_t streetsWithCity = 0;     // streets whose locality attribute names a city
  std::size_t streetsWithPostcode = 0;  // ... a postal code
  std::size_t boundariesUsed = 0;      // boundary relations whose rings closed in the extract
  std::size_t restrictions = 0;          // turn restrictions written
  std::size_t restrictionsNotPlaced = 0;  // turn restrictions for cars that could not be placed
  std::array<std::size_t, 18> poisByCategory{};  // points of interest per category; index 0 unused
};

// An address of the extract, in the order read: address nodes first, then
// address ways.
struct Address {
  std::string street;       // addr:street (an interpolation end may take it from its line)
  std::string houseNumber;  // addr:housenumber as tagged
  TiPoint point{};          // map units; a way's is the mean of its nodes
  bool fromWay = false;
  std::string city;         // addr:city, empty when untagged
  std::string postcode;     // addr:postcode, empty when untagged
};

struct Conversion {
  bool ok = false;
  std::string error;
  ConvertStats stats;
  rmfbuild::FeatureMap streets;
  rmfbuild::FeatureMap pois;
  // The database records of the points of interest, in the order of their
  // features: record n (from 0) has key n + 1, the detail text of feature n.
  std::vector<dorvanta::PoiRecord> poiRecords;
  std::vector<Address> addresses;
  explicit operator bool() const { return ok; }
};

// The numbers a house number stands for: the leading digits of each of its
// parts separated by '-', ';' or ',' ("12a" 12; "12-14" and "12;14" 12 and
// 14). Parts without leading digits, 0 and numbers of more than 9 digits
// give nothing.
std::vector<std::int32_t> HouseNumbers(std::string_view text);

// The ISO 3166 alpha-3 code of a country code: alpha-2 codes of common
// countries are mapped (either case), anything else is kept as given.
std::string CountryCode3(std::string_view code);

// The poi file id of map NAME: "name_poi_01", the lower-cased base name of
// its point-of-interest file.
std::string PoiFileId(std::string_view name);

// Converts OSM XML held in memory; `name` is the map's name (NAME of
// NAME.rmf), used for the poi file id and the file-name annotations.
// Malformed input (bad XML, no version on the osm element, numbers that do
// not read, a node after a way) gives ok false and the reason.
Conversion ConvertOsmText(std::string_view xml, std::string_view name);

// Converts an OSM file: XML, bzip2- or gzip-compressed XML, or PBF, told by
// its first bytes, else by its name (.osm, .osm.bz2, .osm.gz, .osm.pbf).
// Both conversions throw std::bad_alloc when memory runs out; any other
// failure is a conversion with ok false. A coordinate that is no number or
// lies beyond +-214.7483647 degrees (one the reader could not hold) is
// refused as malformed input.
Conversion ConvertOsmFile(const std::string& path, std::string_view name);

struct WriteReport {
  bool ok = false;
  std::string error;
  std::string streetFile;  // paths written
  std::string poiFile;
  std::string poiCompanion;
};

// Why NAME cannot name a map's files (empty, ".", "..", or holding a folder
// separator); empty when it can.
std::string MapNameError(std::string_view name);

// Builds and writes OUTDIR/NAME.rmf and, when there are points of interest,
// OUTDIR/NAME_POI_01.rmf with its database OUTDIR/NAME_POI_01.pdb, which
// replaces whatever file had that name (an older conversion's database).
// All files are written beside their targets under temporary names and
// renamed into place only when every one of them is whole, so a run that
// fails leaves the files of an earlier run untouched and no temporary
// behind. A NAME that MapNameError refuses writes nothing.
// A conversion without any street writes nothing (the map engine refuses a
// street map without streets, and points of interest without their street
// map would pass for a finished conversion): ok false, and an error that
// starts with "no streets:" and says what the extract held instead.
WriteReport WriteMaps(const Conversion& conversion, const std::string& outDir, std::string_view name);

// The `osm2rmf` command with its arguments (program name excluded):
// IN OUTDIR NAME. Prints what it made of the extract to `out`, errors to
// `err`; returns 0 done, 1 failed (nothing written, also when memory runs
// out), 2 bad usage.
int RunCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace osm2rmf
