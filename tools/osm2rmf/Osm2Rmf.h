// The OpenStreetMap front end of the map-file builder: reads OSM XML (plain
// or bzip2-compressed, streamed through expat) and turns it into feature
// maps that BuildFeatureMap packs into map files.
//
// What it makes of the data:
//  - Every way tagged with a travelled highway class becomes a line feature
//    at detail level 1 (class 5 main roads, 6 through roads, 7 local roads
//    and paths) carrying a route-class attribute: road type, road kind,
//    speed class (from maxspeed, else the class's usual speed), toll mark,
//    lane count and one-way mark, with the street name (or its ref) as the
//    name text. Ways are written in the order of their nodes, so nodes that
//    several ways share stay equal points and streets meet there.
//  - A way whose nodes are partly missing from the extract is split at the
//    gaps instead of being bridged by a straight segment that is not there.
//  - Nodes tagged amenity, shop or tourism become points of interest in a
//    separate map whose point names read "<poi file id>,<subcategory>" and
//    whose detail text is the point's key (its number in the file), the way
//    the map engine's point-of-interest search reads them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "mapengine/format/base/TiTypes.h"
#include "tools/rmfbuild/RmfFeatures.h"

namespace osm2rmf {

// Map units per degree: 2^28 units to a full turn.
inline constexpr double kUnitsPerDegree = 268435456.0 / 360.0;

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
  std::size_t droppedWays = 0;    // highway ways with fewer than two usable points
  std::size_t pois = 0;           // points of interest written
};

struct Conversion {
  bool ok = false;
  std::string error;
  ConvertStats stats;
  rmfbuild::FeatureMap streets;
  rmfbuild::FeatureMap pois;
  explicit operator bool() const { return ok; }
};

// The poi file id of map NAME: "name_poi_01", the lower-cased base name of
// its point-of-interest file.
std::string PoiFileId(std::string_view name);

// Converts OSM XML held in memory; `name` is the map's name (NAME of
// NAME.rmf), used for the poi file id and the file-name annotations.
Conversion ConvertOsmText(std::string_view xml, std::string_view name);

// Converts an OSM file, plain or bzip2-compressed (told by its first bytes).
Conversion ConvertOsmFile(const std::string& path, std::string_view name);

struct WriteReport {
  bool ok = false;
  std::string error;
  std::string streetFile;  // paths written
  std::string poiFile;
  std::string poiCompanion;
};

// Builds and writes OUTDIR/NAME.rmf and, when there are points of interest,
// OUTDIR/NAME_POI_01.rmf with its empty companion OUTDIR/NAME_POI_01.pdb.
WriteReport WriteMaps(const Conversion& conversion, const std::string& outDir, std::string_view name);

}  // namespace osm2rmf
