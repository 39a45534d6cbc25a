// Converts OpenStreetMap XML into the feature maps of a street map and a
// point-of-interest map (see Osm2Rmf.h for what becomes what).
#include "tools/osm2rmf/Osm2Rmf.h"

#include <bzlib.h>
#include <expat.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

namespace osm2rmf {
namespace {

using rmfbuild::Feature;
using rmfbuild::FeatureCategory;
using rmfbuild::FeatureClass;
using rmfbuild::OneWay;

// The world the map format holds: x -2^27 .. 2^27 - 1, y -2^26 .. 2^26 - 1.
constexpr double kMaxX = 134217727.0;
constexpr double kMaxY = 67108863.0;

std::int32_t ToUnits(double degrees, double limit) {
  if (!std::isfinite(degrees)) return 0;
  const double units = std::round(degrees * kUnitsPerDegree);  // std::round: half away from zero
  return static_cast<std::int32_t>(std::clamp(units, -limit - 1.0, limit));
}

// How a highway class is written: road type (value character 0), road kind
// (character 1), class digit of the feature and the speed assumed when the
// way gives none.
struct RoadKind {
  const char* highway;
  char roadType;
  char kind;
  int classDigit;
  int defaultKmh;
};

// '1' freeway and '9' ramp carry kind '1' (a real freeway or ramp to the
// router); '4' slow roads a blank; 'V' is not travelled by car.
constexpr RoadKind kRoadKinds[] = {
    {"motorway", '1', '1', 5, 110},     {"motorway_link", '9', '1', 5, 60},
    {"trunk", '2', ' ', 5, 90},         {"trunk_link", '9', '1', 5, 50},
    {"primary", '2', ' ', 5, 70},       {"primary_link", '3', ' ', 5, 50},
    {"secondary", '2', ' ', 6, 60},     {"secondary_link", '3', ' ', 6, 50},
    {"tertiary", '3', ' ', 6, 50},      {"tertiary_link", '3', ' ', 6, 40},
    {"unclassified", '3', ' ', 7, 40},  {"residential", '3', ' ', 7, 40},
    {"road", '3', ' ', 7, 40},          {"living_street", '4', ' ', 7, 10},
    {"service", '4', ' ', 7, 20},       {"track", '4', ' ', 7, 20},
    {"pedestrian", 'V', ' ', 7, 5},     {"footway", 'V', ' ', 7, 5},
    {"path", 'V', ' ', 7, 5},           {"cycleway", 'V', ' ', 7, 5},
    {"steps", 'V', ' ', 7, 5},          {"bridleway", 'V', ' ', 7, 5},
};

const RoadKind* FindRoadKind(std::string_view highway) {
  for (const RoadKind& k : kRoadKinds) {
    if (highway == k.highway) return &k;
  }
  return nullptr;
}

// Point-of-interest classes: the category's (level, class) pair of the map
// engine's category table, picked by tag. Anything not listed goes to the
// pair of the key's catch-all row.
struct PoiKind {
  const char* key;
  const char* value;  // null: any value of the key
  int level;
  int classDigit;
  int subcategory;
};

constexpr PoiKind kPoiKinds[] = {
    {"amenity", "restaurant", 1, 1, 1}, {"amenity", "fast_food", 1, 1, 2}, {"amenity", "cafe", 1, 1, 3},
    {"amenity", "bar", 1, 1, 4},        {"amenity", "pub", 1, 1, 4},       {"amenity", "fuel", 1, 2, 0},
    {"amenity", "parking", 1, 3, 0},    {"amenity", "bank", 1, 5, 1},      {"amenity", "atm", 1, 5, 2},
    {"amenity", "hospital", 1, 7, 1},   {"amenity", "pharmacy", 1, 7, 2},  {"amenity", "police", 2, 1, 0},
    {"amenity", "post_office", 2, 2, 0}, {"amenity", "school", 2, 3, 0},   {"amenity", nullptr, 2, 4, 0},
    {"shop", "supermarket", 2, 5, 1},   {"shop", nullptr, 2, 5, 0},        {"tourism", "hotel", 3, 2, 1},
    {"tourism", "motel", 3, 2, 2},      {"tourism", "hostel", 3, 2, 3},    {"tourism", "museum", 3, 3, 0},
    {"tourism", nullptr, 3, 4, 0},
};

using Tags = std::vector<std::pair<std::string, std::string>>;

std::string_view TagValue(const Tags& tags, std::string_view key) {
  for (const auto& [k, v] : tags) {
    if (k == key) return v;
  }
  return {};
}

const PoiKind* FindPoiKind(const Tags& tags) {
  for (const PoiKind& p : kPoiKinds) {
    const std::string_view v = TagValue(tags, p.key);
    if (v.empty()) continue;
    if (p.value == nullptr || v == p.value) return &p;
  }
  return nullptr;
}

// A text cut to at most `bytes` bytes without splitting a UTF-8 sequence,
// with backslashes (the map engine's piece separator) made slashes.
std::string MapText(std::string_view text, std::size_t bytes) {
  std::string out(text.substr(0, std::min(text.size(), bytes)));
  if (out.size() < text.size()) {
    while (!out.empty() && (static_cast<unsigned char>(out.back()) & 0xC0) == 0x80) out.pop_back();
    if (!out.empty() && (static_cast<unsigned char>(out.back()) & 0x80) != 0) out.pop_back();
  }
  std::replace(out.begin(), out.end(), '\\', '/');
  return out;
}

// The leading number of a tag value; empty when it does not start with one.
std::optional<double> LeadingNumber(std::string_view text) {
  std::string s(text.substr(0, 32));
  const char* begin = s.c_str();
  while (*begin == ' ') ++begin;
  if (!std::isdigit(static_cast<unsigned char>(*begin))) return std::nullopt;
  char* end = nullptr;
  const double v = std::strtod(begin, &end);
  if (end == begin || !std::isfinite(v)) return std::nullopt;
  return v;
}

// Speed class: a digit d stands for the band 10 d .. 10 d + 9 mph (spoken
// as its middle, 5 + 10 d), a letter 'A' + k for 10 k .. 10 k + 9 km/h.
// maxspeed is km/h unless it says mph.
char SpeedClass(std::string_view maxspeed, int defaultKmh) {
  const std::optional<double> n = LeadingNumber(maxspeed);
  if (n && maxspeed.find("mph") != std::string_view::npos) {
    const double d = std::clamp(std::floor(*n / 10.0), 0.0, 9.0);
    return static_cast<char>('0' + static_cast<int>(d));
  }
  const double kmh = n ? *n : defaultKmh;
  const double k = std::clamp(std::floor(kmh / 10.0), 0.0, 15.0);
  return static_cast<char>('A' + static_cast<int>(k));
}

OneWay OneWayOf(const Tags& tags, const RoadKind& road) {
  const std::string_view v = TagValue(tags, "oneway");
  if (v == "yes" || v == "true" || v == "1") return OneWay::kAlong;
  if (v == "-1" || v == "reverse") return OneWay::kAgainst;
  if (v == "no" || v == "false" || v == "0") return OneWay::kBoth;
  // Freeways and roundabouts are one-way unless tagged otherwise.
  if (road.roadType == '1' || TagValue(tags, "junction") == "roundabout") return OneWay::kAlong;
  return OneWay::kBoth;
}

// The route-class value: road type, kind, speed class, the toll mark at
// character 4 and the lane count at character 7.
std::string RouteValue(const Tags& tags, const RoadKind& road) {
  char roadType = road.roadType;
  if (TagValue(tags, "junction") == "roundabout" && roadType != '1' && roadType != 'V') roadType = '8';
  const bool toll = TagValue(tags, "toll") == "yes";
  std::string value = rmfbuild::RoadValue(roadType, road.kind, SpeedClass(TagValue(tags, "maxspeed"), road.defaultKmh), toll);
  if (const std::optional<double> lanes = LeadingNumber(TagValue(tags, "lanes")); lanes && *lanes >= 1) {
    value.resize(7, ' ');
    value += static_cast<char>('0' + static_cast<int>(std::min(*lanes, 9.0)));
  }
  return value;
}

struct Way {
  std::vector<std::int64_t> nodes;
  Tags tags;
};

// Collects what the conversion needs while expat walks the document.
struct Reader {
  std::unordered_map<std::int64_t, TiPoint> nodes;
  std::vector<Way> highways;
  std::vector<std::pair<TiPoint, Tags>> pois;
  std::size_t ways = 0;

  enum class In { kNone, kNode, kWay } in = In::kNone;
  std::optional<TiPoint> nodePoint;
  Way way;
  Tags tags;
};

const char* Attr(const XML_Char** attrs, const char* name) {
  for (int i = 0; attrs[i] != nullptr && attrs[i + 1] != nullptr; i += 2) {
    if (std::strcmp(attrs[i], name) == 0) return attrs[i + 1];
  }
  return nullptr;
}

std::optional<std::int64_t> ParseId(const char* text) {
  if (text == nullptr || *text == 0) return std::nullopt;
  char* end = nullptr;
  const long long v = std::strtoll(text, &end, 10);
  if (*end != 0) return std::nullopt;
  return static_cast<std::int64_t>(v);
}

std::optional<double> ParseDegrees(const char* text, double limit) {
  if (text == nullptr || *text == 0) return std::nullopt;
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (*end != 0 || !std::isfinite(v) || v < -limit || v > limit) return std::nullopt;
  return v;
}

void XMLCALL OnStart(void* data, const XML_Char* element, const XML_Char** attrs) {
  auto* r = static_cast<Reader*>(data);
  if (std::strcmp(element, "node") == 0) {
    r->in = Reader::In::kNode;
    r->tags.clear();
    r->nodePoint.reset();
    const std::optional<std::int64_t> id = ParseId(Attr(attrs, "id"));
    const std::optional<double> lat = ParseDegrees(Attr(attrs, "lat"), 90.0);
    const std::optional<double> lon = ParseDegrees(Attr(attrs, "lon"), 180.0);
    if (id && lat && lon) {
      const TiPoint p{LongitudeToUnits(*lon), LatitudeToUnits(*lat)};
      r->nodes[*id] = p;
      r->nodePoint = p;
    }
  } else if (std::strcmp(element, "way") == 0) {
    r->in = Reader::In::kWay;
    r->way = Way{};
    r->tags.clear();
    ++r->ways;
  } else if (std::strcmp(element, "nd") == 0 && r->in == Reader::In::kWay) {
    // A reference that is no number is kept as a gap (it names no node).
    r->way.nodes.push_back(ParseId(Attr(attrs, "ref")).value_or(INT64_MIN));
  } else if (std::strcmp(element, "tag") == 0 && r->in != Reader::In::kNone) {
    const char* k = Attr(attrs, "k");
    const char* v = Attr(attrs, "v");
    if (k != nullptr && v != nullptr) r->tags.emplace_back(k, v);
  } else if (std::strcmp(element, "relation") == 0) {
    r->in = Reader::In::kNone;
  }
}

void XMLCALL OnEnd(void* data, const XML_Char* element) {
  auto* r = static_cast<Reader*>(data);
  if (std::strcmp(element, "node") == 0 && r->in == Reader::In::kNode) {
    if (r->nodePoint && FindPoiKind(r->tags) != nullptr) r->pois.emplace_back(*r->nodePoint, std::move(r->tags));
    r->in = Reader::In::kNone;
  } else if (std::strcmp(element, "way") == 0 && r->in == Reader::In::kWay) {
    const RoadKind* road = FindRoadKind(TagValue(r->tags, "highway"));
    // Closed ways tagged area=yes are squares and yards, not streets.
    if (road != nullptr && TagValue(r->tags, "area") != "yes") {
      r->way.tags = std::move(r->tags);
      r->highways.push_back(std::move(r->way));
    }
    r->in = Reader::In::kNone;
  }
}

// Feeds chunks to expat; false with the parser's message on malformed XML.
class Parser {
 public:
  explicit Parser(Reader& reader) : parser_(XML_ParserCreate(nullptr)) {
    if (parser_ == nullptr) return;
    XML_SetUserData(parser_, &reader);
    XML_SetElementHandler(parser_, OnStart, OnEnd);
  }
  ~Parser() {
    if (parser_ != nullptr) XML_ParserFree(parser_);
  }
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  bool Feed(const char* data, std::size_t size, bool last, std::string& error) {
    if (parser_ == nullptr) {
      error = "cannot create the XML parser";
      return false;
    }
    // expat takes an int length: feed large buffers in slices.
    constexpr std::size_t kSlice = 1u << 24;
    do {
      const std::size_t n = std::min(size, kSlice);
      const bool final = last && n == size;
      if (XML_Parse(parser_, data, static_cast<int>(n), final ? 1 : 0) == XML_STATUS_ERROR) {
        error = "XML error at line " + std::to_string(XML_GetCurrentLineNumber(parser_)) + ": " +
                XML_ErrorString(XML_GetErrorCode(parser_));
        return false;
      }
      data += n;
      size -= n;
    } while (size > 0);
    return true;
  }

 private:
  XML_Parser parser_;
};

// Splits a way's nodes into runs of known positions, leaving out repeated
// equal points (the format has no zero-length segments).
std::vector<std::vector<TiPoint>> Runs(const Way& way, const std::unordered_map<std::int64_t, TiPoint>& nodes) {
  std::vector<std::vector<TiPoint>> runs(1);
  for (std::int64_t id : way.nodes) {
    const auto it = nodes.find(id);
    if (it == nodes.end()) {
      if (!runs.back().empty()) runs.emplace_back();
      continue;
    }
    std::vector<TiPoint>& run = runs.back();
    if (!run.empty() && run.back().x == it->second.x && run.back().y == it->second.y) continue;
    run.push_back(it->second);
  }
  std::erase_if(runs, [](const std::vector<TiPoint>& run) { return run.size() < 2; });
  return runs;
}

Conversion Finish(Reader& r, std::string_view name) {
  Conversion c;
  c.stats.nodes = r.nodes.size();
  c.stats.ways = r.ways;
  c.stats.highwayWays = r.highways.size();
  c.streets.compressed = true;
  c.pois.compressed = true;
  c.streets.Annotate("FILENAME", std::string(name) + ".rmf");
  c.pois.Annotate("FILENAME", std::string(name) + "_POI_01.rmf");

  for (const Way& way : r.highways) {
    const RoadKind& road = *FindRoadKind(TagValue(way.tags, "highway"));
    std::string_view label = TagValue(way.tags, "name");
    if (label.empty()) label = TagValue(way.tags, "ref");
    const std::string shortName = MapText(label, rmfbuild::kMaxNameChars);
    const std::string longName = MapText(label, rmfbuild::kMaxDetailChars);
    const OneWay oneWay = OneWayOf(way.tags, road);
    const std::string value = RouteValue(way.tags, road);
    const std::vector<std::vector<TiPoint>> runs = Runs(way, r.nodes);
    if (runs.empty()) ++c.stats.droppedWays;
    for (const std::vector<TiPoint>& run : runs) {
      Feature f = Feature::Line(FeatureClass{1, road.classDigit, FeatureCategory::kLine}, shortName, run);
      f.Attribute(rmfbuild::RouteClassAttribute(1, value, longName, oneWay));
      c.streets.Add(std::move(f));
      ++c.stats.streets;
      if (!label.empty()) ++c.stats.namedStreets;
      if (oneWay != OneWay::kBoth) ++c.stats.oneWayStreets;
    }
  }

  const std::string fileId = PoiFileId(name);
  for (const auto& [point, tags] : r.pois) {
    const PoiKind& kind = *FindPoiKind(tags);
    Feature f = Feature::Point(FeatureClass{kind.level, kind.classDigit, FeatureCategory::kPoint},
                               fileId + "," + std::to_string(kind.subcategory), point,
                               std::to_string(c.stats.pois + 1));
    c.pois.Add(std::move(f));
    ++c.stats.pois;
  }
  c.ok = true;
  return c;
}

}  // namespace

std::int32_t LongitudeToUnits(double degrees) { return ToUnits(degrees, kMaxX); }
std::int32_t LatitudeToUnits(double degrees) { return ToUnits(degrees, kMaxY); }

std::string PoiFileId(std::string_view name) {
  std::string id(name);
  id += "_poi_01";
  for (char& ch : id) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return id;
}

Conversion ConvertOsmText(std::string_view xml, std::string_view name) {
  Reader reader;
  Parser parser(reader);
  Conversion failed;
  if (!parser.Feed(xml.data(), xml.size(), true, failed.error)) return failed;
  return Finish(reader, name);
}

Conversion ConvertOsmFile(const std::string& path, std::string_view name) {
  Conversion failed;
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!file) {
    failed.error = "cannot open " + path;
    return failed;
  }
  char magic[3] = {};
  const std::size_t got = std::fread(magic, 1, sizeof magic, file.get());
  std::rewind(file.get());
  const bool bz2 = got == 3 && magic[0] == 'B' && magic[1] == 'Z' && magic[2] == 'h';

  Reader reader;
  Parser parser(reader);
  std::vector<char> buffer(1u << 20);
  if (!bz2) {
    for (;;) {
      const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), file.get());
      if (std::ferror(file.get())) {
        failed.error = "cannot read " + path;
        return failed;
      }
      const bool last = n < buffer.size();
      if (!parser.Feed(buffer.data(), n, last, failed.error)) return failed;
      if (last) break;
    }
    return Finish(reader, name);
  }

  // bzip2: a file may hold several streams one after another (parallel
  // compressors write them); each stream's unused tail starts the next.
  int status = BZ_OK;
  BZFILE* bz = BZ2_bzReadOpen(&status, file.get(), 0, 0, nullptr, 0);
  for (;;) {
    if (bz == nullptr || status != BZ_OK) {
      failed.error = "cannot read bzip2 data of " + path;
      if (bz != nullptr) BZ2_bzReadClose(&status, bz);
      return failed;
    }
    const int n = BZ2_bzRead(&status, bz, buffer.data(), static_cast<int>(buffer.size()));
    if (status != BZ_OK && status != BZ_STREAM_END) {
      BZ2_bzReadClose(&status, bz);
      failed.error = "damaged bzip2 data in " + path;
      return failed;
    }
    if (n > 0 && !parser.Feed(buffer.data(), static_cast<std::size_t>(n), false, failed.error)) {
      BZ2_bzReadClose(&status, bz);
      return failed;
    }
    if (status == BZ_OK) continue;
    // End of a stream: carry its unused bytes over to the next, if any.
    void* unused = nullptr;
    int unusedCount = 0;
    BZ2_bzReadGetUnused(&status, bz, &unused, &unusedCount);
    std::vector<char> rest(static_cast<char*>(unused), static_cast<char*>(unused) + std::max(unusedCount, 0));
    BZ2_bzReadClose(&status, bz);
    bz = nullptr;
    if (rest.empty()) {
      const int ch = std::fgetc(file.get());
      if (ch == EOF) break;
      std::ungetc(ch, file.get());
    }
    status = BZ_OK;
    bz = BZ2_bzReadOpen(&status, file.get(), 0, 0, rest.empty() ? nullptr : rest.data(),
                        static_cast<int>(rest.size()));
  }
  if (!parser.Feed(buffer.data(), 0, true, failed.error)) return failed;
  return Finish(reader, name);
}

WriteReport WriteMaps(const Conversion& conversion, const std::string& outDir, std::string_view name) {
  WriteReport report;
  if (!conversion.ok) {
    report.error = "nothing to write: " + conversion.error;
    return report;
  }
  const std::string base = (outDir.empty() ? std::string(".") : outDir) + "/" + std::string(name);
  const rmfbuild::FeatureBuild streets = rmfbuild::BuildFeatureMap(conversion.streets);
  if (!streets) {
    report.error = "streets: " + streets.error;
    return report;
  }
  report.streetFile = base + ".rmf";
  if (!rmfbuild::WriteFile(streets.description, report.streetFile, &report.error)) return report;

  if (!conversion.pois.features.empty()) {
    const rmfbuild::FeatureBuild pois = rmfbuild::BuildFeatureMap(conversion.pois);
    if (!pois) {
      report.error = "points of interest: " + pois.error;
      return report;
    }
    report.poiFile = base + "_POI_01.rmf";
    if (!rmfbuild::WriteFile(pois.description, report.poiFile, &report.error)) return report;
    // The map engine loads a point-of-interest file only beside its
    // database; the points' details are not converted yet, so it is empty.
    report.poiCompanion = base + "_POI_01.pdb";
    std::ofstream pdb(report.poiCompanion, std::ios::binary | std::ios::trunc);
    if (!pdb) {
      report.error = "cannot write " + report.poiCompanion;
      return report;
    }
  }
  report.ok = true;
  return report;
}

}  // namespace osm2rmf
