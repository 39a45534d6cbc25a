// Converts OpenStreetMap XML into the feature maps of a street map and a
// point-of-interest map (see Osm2Rmf.h for what becomes what). The reader
// only collects while expat walks the document; everything that joins
// objects (ways to nodes, relations to ways, addresses to streets) happens
// in Finish, so the order of the document does not matter.
#include "tools/osm2rmf/Osm2Rmf.h"

#include <bzlib.h>
#include <expat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <memory>
#include <numbers>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "tools/osm2rmf/PoiCategories.h"

namespace osm2rmf {
namespace {

using rmfbuild::Feature;
using rmfbuild::FeatureCategory;
using rmfbuild::FeatureClass;
using rmfbuild::OneWay;
using rmfbuild::TextTriple;

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
// router). Slow roads ('4') carry a blank when cars may use them, 'P' for a
// pedestrian zone and 'W' for a walkway, which only walking routes use.
// Walkways are class 4: they are crossings to announce, not the street a
// position lies on (streets are classes 5 to 7); a pedestrian zone is a
// street with houses and stays class 7. Unnamed service roads and tracks
// are written as class 4 as well (see WriteStreets).
constexpr RoadKind kRoadKinds[] = {
    {"motorway", '1', '1', 5, 110},     {"motorway_link", '9', '1', 5, 60},
    {"trunk", '2', ' ', 5, 90},         {"trunk_link", '9', '1', 5, 50},
    {"primary", '2', ' ', 5, 70},       {"primary_link", '3', ' ', 5, 50},
    {"secondary", '2', ' ', 6, 60},     {"secondary_link", '3', ' ', 6, 50},
    {"tertiary", '3', ' ', 6, 50},      {"tertiary_link", '3', ' ', 6, 40},
    {"unclassified", '3', ' ', 7, 40},  {"residential", '3', ' ', 7, 40},
    {"road", '3', ' ', 7, 40},          {"living_street", '4', ' ', 7, 10},
    {"service", '4', ' ', 7, 20},       {"track", '4', ' ', 7, 20},
    {"pedestrian", '4', 'P', 7, 5},     {"footway", '4', 'W', 4, 5},
    {"path", '4', 'W', 4, 5},           {"cycleway", '4', 'W', 4, 5},
    {"steps", '4', 'W', 4, 5},          {"bridleway", '4', 'W', 4, 5},
};

const RoadKind* FindRoadKind(std::string_view highway) {
  for (const RoadKind& k : kRoadKinds) {
    if (highway == k.highway) return &k;
  }
  return nullptr;
}

// The first `bytes` bytes of a text, shortened further so that no UTF-8
// sequence is split.
std::string_view CutUtf8(std::string_view text, std::size_t bytes) {
  if (text.size() <= bytes) return text;
  std::size_t cut = bytes;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut);
}

// A text cut to at most `bytes` bytes without splitting a UTF-8 sequence,
// with backslashes (the map engine's piece separator) made slashes.
std::string MapText(std::string_view text, std::size_t bytes) {
  std::string out(CutUtf8(text, bytes));
  std::replace(out.begin(), out.end(), '\\', '/');
  return out;
}

// Texts joined into backslash-separated pieces (each piece's own
// backslashes made slashes), cut to `bytes` bytes. A cut takes the last
// pieces first, and the map engine reads a missing piece as empty.
std::string JoinPieces(std::initializer_list<std::string_view> pieces, std::size_t bytes) {
  std::string out;
  bool first = true;
  for (std::string_view piece : pieces) {
    if (!first) out += '\\';
    first = false;
    out += MapText(piece, bytes);
  }
  return std::string(CutUtf8(out, bytes));
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
  if (TagValue(tags, "junction") == "roundabout" && (roadType == '2' || roadType == '3')) roadType = '8';
  const bool toll = TagValue(tags, "toll") == "yes";
  std::string value = rmfbuild::RoadValue(roadType, road.kind, SpeedClass(TagValue(tags, "maxspeed"), road.defaultKmh), toll);
  if (const std::optional<double> lanes = LeadingNumber(TagValue(tags, "lanes")); lanes && *lanes >= 1) {
    value.resize(7, ' ');
    value += static_cast<char>('0' + static_cast<int>(std::min(*lanes, 9.0)));
  }
  return value;
}

// ---- what the reader collects ----------------------------------------------------

// The addr:* tags the conversion uses.
struct AddrTags {
  std::string street;
  std::string houseNumber;
  std::string city;
  std::string postcode;
  std::string country;
  std::string state;
  std::string suburb;
};

AddrTags AddrOf(const Tags& tags) {
  AddrTags a;
  a.street = TagValue(tags, "addr:street");
  a.houseNumber = TagValue(tags, "addr:housenumber");
  a.city = TagValue(tags, "addr:city");
  a.postcode = TagValue(tags, "addr:postcode");
  a.country = TagValue(tags, "addr:country");
  a.state = TagValue(tags, "addr:state");
  a.suburb = TagValue(tags, "addr:suburb");
  return a;
}

struct Way {
  std::int64_t id = 0;
  bool hasId = false;
  std::vector<std::int64_t> nodes;
  Tags tags;
};

struct NodeAddress {
  std::int64_t id = 0;
  TiPoint point{};
  AddrTags addr;  // the street may be missing until an interpolation line gives it
};

struct WayAddress {
  std::vector<std::int64_t> nodes;
  AddrTags addr;
};

struct PoiWay {
  std::vector<std::int64_t> nodes;
  PoiClass poi;
};

// What a boundary relation stands for in the locality attribute.
enum class BoundaryKind { kState, kCounty, kCity, kBorough, kBoroughPart, kPostcode };

struct BoundaryMember {
  std::int64_t way = 0;
  bool inner = false;
};

struct BoundaryRelation {
  BoundaryKind kind = BoundaryKind::kCity;
  std::string text;  // the name, or the postal code
  std::vector<BoundaryMember> members;
};

// The kind of a relation that is an administrative boundary of a level the
// locality attribute uses, or a postal-code boundary; nothing otherwise.
std::optional<BoundaryKind> BoundaryKindOf(const Tags& tags) {
  const std::string_view boundary = TagValue(tags, "boundary");
  if (boundary == "postal_code") return BoundaryKind::kPostcode;
  if (boundary != "administrative") return std::nullopt;
  const std::string_view level = TagValue(tags, "admin_level");
  if (level == "4") return BoundaryKind::kState;
  if (level == "6") return BoundaryKind::kCounty;
  if (level == "8") return BoundaryKind::kCity;
  if (level == "9") return BoundaryKind::kBorough;
  if (level == "10") return BoundaryKind::kBoroughPart;
  return std::nullopt;
}

bool IsPlace(std::string_view place) {
  for (const char* p : {"city", "town", "village", "suburb", "quarter", "neighbourhood", "hamlet"}) {
    if (place == p) return true;
  }
  return false;
}

// Collects what the conversion needs while expat walks the document.
struct Reader {
  std::unordered_map<std::int64_t, TiPoint> nodes;
  // The nodes of every way, for the rings of boundary relations (which come
  // after the ways and may name any of them).
  std::unordered_map<std::int64_t, std::vector<std::int64_t>> wayNodes;
  std::vector<Way> highways;
  std::vector<NodeAddress> nodeAddresses;  // nodes with addr:housenumber, in document order
  std::vector<WayAddress> addressWays;     // ways with addr:housenumber and addr:street
  std::vector<WayAddress> interpolations;  // ways with addr:interpolation
  std::vector<std::pair<TiPoint, PoiClass>> poiNodes;
  std::vector<PoiWay> poiWays;
  std::vector<std::pair<TiPoint, std::string>> places;  // named place nodes
  std::vector<BoundaryRelation> boundaries;
  std::size_t ways = 0;

  enum class In { kNone, kNode, kWay, kRelation } in = In::kNone;
  std::optional<std::int64_t> nodeId;
  std::optional<TiPoint> nodePoint;
  Way way;
  std::vector<BoundaryMember> members;
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

// A reference that is no number is kept as a gap (it names no node).
constexpr std::int64_t kNoNode = std::numeric_limits<std::int64_t>::min();

void XMLCALL OnStart(void* data, const XML_Char* element, const XML_Char** attrs) {
  auto* r = static_cast<Reader*>(data);
  if (std::strcmp(element, "node") == 0) {
    r->in = Reader::In::kNode;
    r->tags.clear();
    r->nodePoint.reset();
    r->nodeId = ParseId(Attr(attrs, "id"));
    const std::optional<double> lat = ParseDegrees(Attr(attrs, "lat"), 90.0);
    const std::optional<double> lon = ParseDegrees(Attr(attrs, "lon"), 180.0);
    if (r->nodeId && lat && lon) {
      const TiPoint p{LongitudeToUnits(*lon), LatitudeToUnits(*lat)};
      r->nodes[*r->nodeId] = p;
      r->nodePoint = p;
    }
  } else if (std::strcmp(element, "way") == 0) {
    r->in = Reader::In::kWay;
    r->way = Way{};
    if (const std::optional<std::int64_t> id = ParseId(Attr(attrs, "id"))) {
      r->way.id = *id;
      r->way.hasId = true;
    }
    r->tags.clear();
    ++r->ways;
  } else if (std::strcmp(element, "relation") == 0) {
    r->in = Reader::In::kRelation;
    r->members.clear();
    r->tags.clear();
  } else if (std::strcmp(element, "nd") == 0 && r->in == Reader::In::kWay) {
    r->way.nodes.push_back(ParseId(Attr(attrs, "ref")).value_or(kNoNode));
  } else if (std::strcmp(element, "member") == 0 && r->in == Reader::In::kRelation) {
    const char* type = Attr(attrs, "type");
    const char* role = Attr(attrs, "role");
    const std::optional<std::int64_t> ref = ParseId(Attr(attrs, "ref"));
    if (type != nullptr && std::strcmp(type, "way") == 0 && ref) {
      r->members.push_back(BoundaryMember{*ref, role != nullptr && std::strcmp(role, "inner") == 0});
    }
  } else if (std::strcmp(element, "tag") == 0 && r->in != Reader::In::kNone) {
    const char* k = Attr(attrs, "k");
    const char* v = Attr(attrs, "v");
    if (k != nullptr && v != nullptr) r->tags.emplace_back(k, v);
  }
}

void EndNode(Reader& r) {
  if (!r.nodePoint) return;
  const TiPoint at = *r.nodePoint;
  if (!TagValue(r.tags, "addr:housenumber").empty()) {
    r.nodeAddresses.push_back(NodeAddress{*r.nodeId, at, AddrOf(r.tags)});
  }
  if (const std::optional<PoiClass> poi = ClassifyPoi(r.tags)) r.poiNodes.emplace_back(at, *poi);
  const std::string_view placeName = TagValue(r.tags, "name");
  if (!placeName.empty() && IsPlace(TagValue(r.tags, "place"))) r.places.emplace_back(at, std::string(placeName));
}

void EndWay(Reader& r) {
  Way& way = r.way;
  if (way.hasId) r.wayNodes[way.id] = way.nodes;
  const Tags& tags = r.tags;
  if (!TagValue(tags, "addr:housenumber").empty() && !TagValue(tags, "addr:street").empty()) {
    r.addressWays.push_back(WayAddress{way.nodes, AddrOf(tags)});
  }
  if (!TagValue(tags, "addr:interpolation").empty()) r.interpolations.push_back(WayAddress{way.nodes, AddrOf(tags)});
  if (const std::optional<PoiClass> poi = ClassifyPoi(tags)) r.poiWays.push_back(PoiWay{way.nodes, *poi});
  const RoadKind* road = FindRoadKind(TagValue(tags, "highway"));
  // Closed ways tagged area=yes are squares and yards, not streets.
  if (road != nullptr && TagValue(tags, "area") != "yes") {
    way.tags = std::move(r.tags);
    r.highways.push_back(std::move(way));
  }
}

void EndRelation(Reader& r) {
  const std::optional<BoundaryKind> kind = BoundaryKindOf(r.tags);
  if (!kind) return;
  const std::string_view text = TagValue(r.tags, *kind == BoundaryKind::kPostcode ? "postal_code" : "name");
  if (text.empty() || r.members.empty()) return;
  r.boundaries.push_back(BoundaryRelation{*kind, std::string(text), std::move(r.members)});
}

void XMLCALL OnEnd(void* data, const XML_Char* element) {
  auto* r = static_cast<Reader*>(data);
  if (std::strcmp(element, "node") == 0 && r->in == Reader::In::kNode) {
    EndNode(*r);
  } else if (std::strcmp(element, "way") == 0 && r->in == Reader::In::kWay) {
    EndWay(*r);
  } else if (std::strcmp(element, "relation") == 0 && r->in == Reader::In::kRelation) {
    EndRelation(*r);
  } else {
    return;
  }
  r->in = Reader::In::kNone;
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

// ---- plane geometry ----------------------------------------------------------------

// Metres per map unit north-south (mean earth radius).
constexpr double kMetresPerUnit = 2.0 * std::numbers::pi * 6371008.8 / 268435456.0;

// A local plane in metres: east-west distances shrink with the cosine of the
// latitude. Over the few hundred metres the conversion measures, one
// latitude per question is exact enough.
struct Plane {
  double xScale;  // metres per unit east-west

  explicit Plane(std::int32_t y)
      : xScale(kMetresPerUnit *
               std::max(0.01, std::cos(static_cast<double>(y) / kUnitsPerDegree * std::numbers::pi / 180.0))) {}
  double Dx(TiPoint from, TiPoint to) const { return (static_cast<double>(to.x) - from.x) * xScale; }
  double Dy(TiPoint from, TiPoint to) const { return (static_cast<double>(to.y) - from.y) * kMetresPerUnit; }
  double Distance(TiPoint a, TiPoint b) const { return std::hypot(Dx(a, b), Dy(a, b)); }
};

// Where a point falls on a segment: its distance to the segment, the
// fraction of the segment at the foot and the side of the point.
struct Foot {
  double distance = 0;
  double t = 0;
  bool right = true;  // on the right looking from a to b (a point on the line counts as right)
};

Foot FootOnSegment(const Plane& plane, TiPoint p, TiPoint a, TiPoint b) {
  const double bx = plane.Dx(a, b), by = plane.Dy(a, b);
  const double px = plane.Dx(a, p), py = plane.Dy(a, p);
  const double length2 = bx * bx + by * by;
  Foot f;
  f.t = length2 > 0 ? std::clamp((px * bx + py * by) / length2, 0.0, 1.0) : 0.0;
  f.distance = std::hypot(px - f.t * bx, py - f.t * by);
  // y grows northwards, so a point on the right has a negative cross product.
  f.right = bx * py - by * px <= 0;
  return f;
}

// The point halfway along a line.
TiPoint Middle(const std::vector<TiPoint>& points, const std::vector<double>& along) {
  const double half = along.back() / 2;
  for (std::size_t i = 1; i < points.size(); ++i) {
    if (along[i] < half) continue;
    const double span = along[i] - along[i - 1];
    const double t = span > 0 ? (half - along[i - 1]) / span : 0.0;
    const TiPoint a = points[i - 1], b = points[i];
    return TiPoint{static_cast<std::int32_t>(std::lround(a.x + t * (static_cast<double>(b.x) - a.x))),
                   static_cast<std::int32_t>(std::lround(a.y + t * (static_cast<double>(b.y) - a.y)))};
  }
  return points.front();
}

// Even-odd rule over all rings, so holes and exclaves need no roles.
bool InsideRings(const std::vector<std::vector<TiPoint>>& rings, TiPoint p) {
  bool inside = false;
  for (const std::vector<TiPoint>& ring : rings) {
    for (std::size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
      const TiPoint a = ring[i], b = ring[j];
      if ((a.y > p.y) == (b.y > p.y)) continue;
      const double x = a.x + (static_cast<double>(p.y) - a.y) * (static_cast<double>(b.x) - a.x) /
                                 (static_cast<double>(b.y) - a.y);
      if (p.x < x) inside = !inside;
    }
  }
  return inside;
}

// Items (segments, points) filed under the cells of a square grid, so that
// a question about one spot looks at the few items near it. Cells are 2^11
// units, about 300 m north-south.
class CellGrid {
 public:
  // Files `item` under every cell that the segment a-b passes (and, for a
  // long segment, a few beside it: it is walked in steps of one cell).
  void AddSegment(TiPoint a, TiPoint b, std::uint32_t item) {
    const double dx = static_cast<double>(b.x) - a.x, dy = static_cast<double>(b.y) - a.y;
    const int steps = 1 + static_cast<int>(std::max(std::fabs(dx), std::fabs(dy)) / kCell);
    for (int i = 0; i < steps; ++i) {
      const double t0 = static_cast<double>(i) / steps, t1 = static_cast<double>(i + 1) / steps;
      const std::int64_t x0 = std::llround(a.x + dx * t0), x1 = std::llround(a.x + dx * t1);
      const std::int64_t y0 = std::llround(a.y + dy * t0), y1 = std::llround(a.y + dy * t1);
      for (std::int64_t cx = Cell(std::min(x0, x1)); cx <= Cell(std::max(x0, x1)); ++cx) {
        for (std::int64_t cy = Cell(std::min(y0, y1)); cy <= Cell(std::max(y0, y1)); ++cy) {
          std::vector<std::uint32_t>& items = cells_[Key(cx, cy)];
          if (items.empty() || items.back() != item) items.push_back(item);
        }
      }
    }
  }
  void AddPoint(TiPoint p, std::uint32_t item) { cells_[Key(Cell(p.x), Cell(p.y))].push_back(item); }

  // Calls f(item) for the items of every cell that meets the box of
  // `metres` around p; an item filed under several cells may come more than
  // once.
  template <typename F>
  void Visit(TiPoint p, double metres, const Plane& plane, F&& f) const {
    const std::int64_t rx = static_cast<std::int64_t>(std::ceil(metres / plane.xScale));
    const std::int64_t ry = static_cast<std::int64_t>(std::ceil(metres / kMetresPerUnit));
    for (std::int64_t cx = Cell(p.x - rx); cx <= Cell(p.x + rx); ++cx) {
      for (std::int64_t cy = Cell(p.y - ry); cy <= Cell(p.y + ry); ++cy) {
        const auto it = cells_.find(Key(cx, cy));
        if (it == cells_.end()) continue;
        for (std::uint32_t item : it->second) f(item);
      }
    }
  }

 private:
  static constexpr double kCell = 2048.0;
  static std::int64_t Cell(std::int64_t units) { return units >> 11; }  // floor division, also below zero
  static std::int64_t Key(std::int64_t cx, std::int64_t cy) { return cx * (std::int64_t{1} << 32) + cy; }
  std::unordered_map<std::int64_t, std::vector<std::uint32_t>> cells_;
};

// ---- streets -------------------------------------------------------------------------

// Splits a way's nodes into runs of known positions, leaving out repeated
// equal points (the format has no zero-length segments).
std::vector<std::vector<TiPoint>> Runs(const std::vector<std::int64_t>& ids,
                                       const std::unordered_map<std::int64_t, TiPoint>& nodes) {
  std::vector<std::vector<TiPoint>> runs(1);
  for (std::int64_t id : ids) {
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

// One written street feature (a way, or one run of a way with gaps).
struct StreetRun {
  std::size_t feature = 0;    // index into Conversion::streets.features
  int name = -1;              // the way's name tag as an interned number; -1 without one
  std::vector<double> along;  // metres from the first vertex to each vertex
};

// Street names as numbers, so matching compares integers.
class NameTable {
 public:
  int Intern(std::string_view name) {
    return ids_.try_emplace(std::string(name), static_cast<int>(ids_.size())).first->second;
  }
  int Find(std::string_view name) const {
    const auto it = ids_.find(std::string(name));
    return it == ids_.end() ? -1 : it->second;
  }

 private:
  std::unordered_map<std::string, int> ids_;
};

std::vector<StreetRun> WriteStreets(const Reader& r, Conversion& c, NameTable& names) {
  std::vector<StreetRun> runs;
  for (const Way& way : r.highways) {
    const RoadKind& road = *FindRoadKind(TagValue(way.tags, "highway"));
    const std::string_view name = TagValue(way.tags, "name");
    std::string_view label = name;
    if (label.empty()) label = TagValue(way.tags, "ref");
    const std::string longName = MapText(label, rmfbuild::kMaxDetailChars);
    const OneWay oneWay = OneWayOf(way.tags, road);
    const std::string value = RouteValue(way.tags, road);
    // An unnamed service road or track is a driveway, a parking aisle or a
    // field track: a way to announce as a crossing, like a footway, not the
    // street a house or a walker is on.
    const bool accessWay = road.roadType == '4' && road.kind == ' ' && road.classDigit == 7 && label.empty() &&
                           TagValue(way.tags, "highway") != "living_street";
    const int classDigit = accessWay ? 4 : road.classDigit;
    std::vector<std::vector<TiPoint>> pieces = Runs(way.nodes, r.nodes);
    if (pieces.empty()) ++c.stats.droppedWays;
    for (std::vector<TiPoint>& points : pieces) {
      StreetRun run;
      run.name = name.empty() ? -1 : names.Intern(name);
      const Plane plane(points.front().y);
      run.along.push_back(0);
      for (std::size_t i = 1; i < points.size(); ++i) {
        run.along.push_back(run.along.back() + plane.Distance(points[i - 1], points[i]));
      }
      // Readers take road type, speed, lanes, one-way mark and street name
      // from the first attribute with code pair 7-1, and a class-7 street's
      // own triple ("171") is that attribute: so every street's own triple
      // is written as a route-class triple (code, route value, name), and a
      // class-7 street needs no second one. The own triple of a class-4 way
      // ("141") is the access attribute, whose value the map engine reads
      // as a trail ('R') or a walkway ('W'): the route value, which starts
      // with a digit, keeps a name such as "Rosenweg" from reading as one.
      Feature f = Feature::Line(FeatureClass{1, classDigit, FeatureCategory::kLine}, value, std::move(points),
                                longName);
      if (classDigit == 7) {
        f.SetOneWay(oneWay);
      } else {
        f.Attribute(rmfbuild::RouteClassAttribute(1, value, longName, oneWay));
      }
      run.feature = c.streets.Add(std::move(f));
      runs.push_back(std::move(run));
      ++c.stats.streets;
      if (!label.empty()) ++c.stats.namedStreets;
      if (oneWay != OneWay::kBoth) ++c.stats.oneWayStreets;
    }
  }
  return runs;
}

// ---- addresses -----------------------------------------------------------------------

// The mean of a way's known nodes (a closed way's repeated first node
// counted once); empty when none is known.
std::optional<TiPoint> MeanPoint(const std::vector<std::int64_t>& ids,
                                 const std::unordered_map<std::int64_t, TiPoint>& nodes) {
  std::size_t count = ids.size();
  if (count > 1 && ids.front() == ids.back()) --count;
  double x = 0, y = 0;
  std::size_t known = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const auto it = nodes.find(ids[i]);
    if (it == nodes.end()) continue;
    x += it->second.x;
    y += it->second.y;
    ++known;
  }
  if (known == 0) return std::nullopt;
  return TiPoint{static_cast<std::int32_t>(std::lround(x / static_cast<double>(known))),
                 static_cast<std::int32_t>(std::lround(y / static_cast<double>(known)))};
}

// An end node of an interpolation line that carries a house number but no
// street takes the line's street, else the other end's; its other address
// tags it takes the same way when it has none of its own.
void CompleteInterpolationEnds(Reader& r, std::size_t& lines) {
  std::unordered_map<std::int64_t, std::size_t> byId;
  for (std::size_t i = 0; i < r.nodeAddresses.size(); ++i) byId.try_emplace(r.nodeAddresses[i].id, i);
  auto fill = [](std::string& field, const std::string& a, const std::string& b) {
    if (field.empty()) field = a.empty() ? b : a;
  };
  const AddrTags none;
  for (const WayAddress& line : r.interpolations) {
    ++lines;
    if (line.nodes.size() < 2) continue;
    const auto first = byId.find(line.nodes.front());
    const auto last = byId.find(line.nodes.back());
    AddrTags* a = first == byId.end() ? nullptr : &r.nodeAddresses[first->second].addr;
    AddrTags* b = last == byId.end() ? nullptr : &r.nodeAddresses[last->second].addr;
    if (a == b) continue;  // a closed line, or neither end numbered
    for (auto [end, other] : {std::pair{a, b}, std::pair{b, a}}) {
      if (end == nullptr || !end->street.empty()) continue;
      const AddrTags& from = other == nullptr ? none : *other;
      fill(end->street, line.addr.street, from.street);
      fill(end->city, line.addr.city, from.city);
      fill(end->postcode, line.addr.postcode, from.postcode);
      fill(end->country, line.addr.country, from.country);
      fill(end->state, line.addr.state, from.state);
      fill(end->suburb, line.addr.suburb, from.suburb);
    }
  }
}

// The addresses in their exported order, with the tags the localities use
// beside them (same index).
void CollectAddresses(Reader& r, Conversion& c, std::vector<AddrTags>& tags) {
  CompleteInterpolationEnds(r, c.stats.interpolationLines);
  auto add = [&](const AddrTags& a, TiPoint at, bool fromWay) {
    c.addresses.push_back(Address{a.street, a.houseNumber, at, fromWay, a.city, a.postcode});
    tags.push_back(a);
  };
  for (const NodeAddress& n : r.nodeAddresses) {
    if (n.addr.street.empty()) continue;
    add(n.addr, n.point, false);
    ++c.stats.addressNodes;
  }
  for (const WayAddress& w : r.addressWays) {
    const std::optional<TiPoint> at = MeanPoint(w.nodes, r.nodes);
    if (!at) continue;
    add(w.addr, *at, true);
    ++c.stats.addressWays;
  }
}

// Where an address lies on its street.
struct Placement {
  int run = -1;  // index into the street runs; -1: no street of its name within reach
  bool right = true;
  double along = 0;  // metres from the run's first vertex to the foot of the address
};

constexpr double kMatchMetres = 300;

std::vector<Placement> PlaceAddresses(const std::vector<Address>& addresses, const std::vector<StreetRun>& runs,
                                      const rmfbuild::FeatureMap& streets, const NameTable& names) {
  // Segment s of run k is item (first[k] + s).
  std::vector<std::uint32_t> first;
  std::vector<std::uint32_t> runOfItem;
  CellGrid grid;
  for (std::size_t k = 0; k < runs.size(); ++k) {
    first.push_back(static_cast<std::uint32_t>(runOfItem.size()));
    const std::vector<TiPoint>& points = streets.features[runs[k].feature].points;
    for (std::size_t s = 0; s + 1 < points.size(); ++s) {
      const auto item = static_cast<std::uint32_t>(runOfItem.size());
      runOfItem.push_back(static_cast<std::uint32_t>(k));
      if (runs[k].name >= 0) grid.AddSegment(points[s], points[s + 1], item);
    }
  }

  std::vector<Placement> placed(addresses.size());
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    const int name = names.Find(addresses[i].street);
    if (name < 0) continue;
    const TiPoint p = addresses[i].point;
    const Plane plane(p.y);
    double best = kMatchMetres;
    std::uint32_t bestItem = std::numeric_limits<std::uint32_t>::max();
    Foot bestFoot;
    grid.Visit(p, kMatchMetres, plane, [&](std::uint32_t item) {
      const StreetRun& run = runs[runOfItem[item]];
      if (run.name != name) return;
      const std::vector<TiPoint>& points = streets.features[run.feature].points;
      const std::uint32_t s = item - first[runOfItem[item]];
      const Foot f = FootOnSegment(plane, p, points[s], points[s + 1]);
      // Equal distances go to the first segment in street order, whatever
      // order the cells hand them out in.
      if (f.distance > best || (f.distance == best && item >= bestItem)) return;
      best = f.distance;
      bestItem = item;
      bestFoot = f;
    });
    if (bestItem == std::numeric_limits<std::uint32_t>::max()) continue;
    const std::uint32_t k = runOfItem[bestItem];
    const std::uint32_t s = bestItem - first[k];
    const std::vector<double>& along = runs[k].along;
    placed[i] = Placement{static_cast<int>(k), bestFoot.right, along[s] + bestFoot.t * (along[s + 1] - along[s])};
  }
  return placed;
}

// ---- house-number ranges ---------------------------------------------------------------

struct Numbered {
  double along = 0;
  std::int32_t number = 0;
};

// "from\to" of one side. The numbers run from the end at the first vertex
// to the end at the last: which way they run is told by the numbers of the
// addresses nearest to the two ends, and the range then spans all of the
// side's numbers, so that a house a little out of order near an end still
// lies inside it.
std::string SideRange(std::vector<Numbered> side) {
  if (side.empty()) return "0\\0";
  std::stable_sort(side.begin(), side.end(), [](const Numbered& a, const Numbered& b) { return a.along < b.along; });
  // The numbers at the nearest position to an end (the parts of one "12-14").
  auto endSum = [](auto begin, auto end) {
    const double at = begin->along;
    std::int64_t low = begin->number, high = begin->number;
    for (auto it = begin; it != end && it->along == at; ++it) {
      low = std::min<std::int64_t>(low, it->number);
      high = std::max<std::int64_t>(high, it->number);
    }
    return low + high;
  };
  const bool ascending = endSum(side.rbegin(), side.rend()) >= endSum(side.begin(), side.end());
  const auto byNumber = [](const Numbered& a, const Numbered& b) { return a.number < b.number; };
  const auto [low, high] = std::minmax_element(side.begin(), side.end(), byNumber);
  const std::int32_t from = ascending ? low->number : high->number;
  const std::int32_t to = ascending ? high->number : low->number;
  return std::to_string(from) + "\\" + std::to_string(to);
}

// Adds the range attribute to every street that received numbered addresses.
void WriteRanges(const std::vector<Address>& addresses, const std::vector<Placement>& placed,
                 const std::vector<StreetRun>& runs, Conversion& c) {
  std::vector<std::vector<Numbered>> right(runs.size()), left(runs.size());
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    if (placed[i].run < 0) continue;
    const auto k = static_cast<std::size_t>(placed[i].run);
    for (std::int32_t n : HouseNumbers(addresses[i].houseNumber)) {
      (placed[i].right ? right : left)[k].push_back(Numbered{placed[i].along, n});
    }
  }
  for (std::size_t k = 0; k < runs.size(); ++k) {
    if (right[k].empty() && left[k].empty()) continue;
    const std::string text = SideRange(std::move(right[k])) + "\\" + SideRange(std::move(left[k]));
    c.streets.features[runs[k].feature].Attribute(TextTriple{"12B-+", "A", text});
    ++c.stats.houseNumberRanges;
  }
}

// ---- localities --------------------------------------------------------------------------

struct Boundary {
  BoundaryKind kind = BoundaryKind::kCity;
  std::string text;
  std::vector<std::vector<TiPoint>> rings;
  TiRect box{};
};

// Joins member ways (by their end nodes) into rings: the closed rings, or
// nothing when some way cannot be closed with the ways and nodes the
// extract holds. Member ways missing from the extract are left out; when
// what is left still closes, the missing ways were rings of their own.
std::optional<std::vector<std::vector<std::int64_t>>> CloseRings(std::vector<std::vector<std::int64_t>> chains) {
  std::vector<std::vector<std::int64_t>> rings;
  std::vector<bool> used(chains.size(), false);
  for (std::size_t i = 0; i < chains.size(); ++i) {
    if (used[i]) continue;
    used[i] = true;
    std::vector<std::int64_t> ring = std::move(chains[i]);
    while (ring.front() != ring.back()) {
      bool joined = false;
      for (std::size_t j = 0; j < chains.size() && !joined; ++j) {
        if (used[j]) continue;
        std::vector<std::int64_t>& next = chains[j];
        if (next.back() == ring.back()) std::reverse(next.begin(), next.end());
        if (next.front() != ring.back()) continue;
        ring.insert(ring.end(), next.begin() + 1, next.end());
        used[j] = true;
        joined = true;
      }
      if (!joined) return std::nullopt;
    }
    rings.push_back(std::move(ring));
  }
  return rings;
}

std::optional<Boundary> AssembleBoundary(const BoundaryRelation& relation, const Reader& r) {
  Boundary b;
  b.kind = relation.kind;
  b.text = relation.text;
  for (bool inner : {false, true}) {
    std::vector<std::vector<std::int64_t>> chains;
    for (const BoundaryMember& m : relation.members) {
      if (m.inner != inner) continue;
      const auto way = r.wayNodes.find(m.way);
      if (way == r.wayNodes.end() || way->second.size() < 2) continue;
      chains.push_back(way->second);
    }
    const std::optional<std::vector<std::vector<std::int64_t>>> rings = CloseRings(std::move(chains));
    if (!rings) return std::nullopt;
    for (const std::vector<std::int64_t>& ids : *rings) {
      std::vector<TiPoint> ring;
      for (std::int64_t id : ids) {
        const auto it = r.nodes.find(id);
        if (it == r.nodes.end()) return std::nullopt;  // a ring with a hole in it bounds nothing
        if (ring.empty() || ring.back().x != it->second.x || ring.back().y != it->second.y) ring.push_back(it->second);
      }
      if (ring.size() >= 4) b.rings.push_back(std::move(ring));  // three corners and the closing point
    }
  }
  if (b.rings.empty()) return std::nullopt;
  b.box = TiRect{b.rings[0][0].x, b.rings[0][0].y, b.rings[0][0].x, b.rings[0][0].y};
  for (const std::vector<TiPoint>& ring : b.rings) {
    for (const TiPoint& p : ring) {
      b.box = TiRect{std::min(b.box.x1, p.x), std::min(b.box.y1, p.y), std::max(b.box.x2, p.x),
                     std::max(b.box.y2, p.y)};
    }
  }
  return b;
}

// The most common non-empty value (the first seen among equally common ones).
std::string MostCommon(const std::vector<const std::string*>& values) {
  std::unordered_map<std::string_view, std::size_t> counts;
  for (const std::string* v : values) {
    if (!v->empty()) ++counts[*v];
  }
  const std::string* best = nullptr;
  std::size_t bestCount = 0;
  for (const std::string* v : values) {
    if (v->empty()) continue;
    const std::size_t n = counts[*v];
    if (n > bestCount) {
      best = v;
      bestCount = n;
    }
  }
  return best == nullptr ? std::string() : *best;
}

// The pieces of a street's locality attribute.
struct Locality {
  std::string country, postcode, locality, city, borough, county, state;
};

// The address fields a street takes from its own addresses and, failing
// those, from the nearest address that has them.
constexpr std::string AddrTags::*kSharedFields[] = {&AddrTags::country, &AddrTags::postcode, &AddrTags::city,
                                                    &AddrTags::state};
constexpr std::string Locality::*kLocalityFields[] = {&Locality::country, &Locality::postcode, &Locality::city,
                                                      &Locality::state};

constexpr double kNearAddressMetres = 500;
constexpr double kPlaceMetres = 2000;

struct LocalitySources {
  const std::vector<Address>& addresses;
  const std::vector<AddrTags>& tags;
  CellGrid addressGrid;
  const std::vector<std::pair<TiPoint, std::string>>& places;
  CellGrid placeGrid;
  std::vector<Boundary> boundaries;
};

Locality LocalityOf(const LocalitySources& src, const std::vector<std::size_t>& matched, TiPoint middle) {
  Locality l;
  const Plane plane(middle.y);
  std::vector<const std::string*> values;
  for (std::size_t f = 0; f < std::size(kSharedFields); ++f) {
    values.clear();
    for (std::size_t i : matched) values.push_back(&(src.tags[i].*kSharedFields[f]));
    l.*kLocalityFields[f] = MostCommon(values);
  }
  values.clear();
  for (std::size_t i : matched) values.push_back(&src.tags[i].suburb);
  l.borough = MostCommon(values);

  // Per field, the nearest address within reach that has it.
  std::array<double, std::size(kSharedFields)> nearest;
  nearest.fill(kNearAddressMetres);
  std::array<std::uint32_t, std::size(kSharedFields)> nearestItem;
  nearestItem.fill(std::numeric_limits<std::uint32_t>::max());
  src.addressGrid.Visit(middle, kNearAddressMetres, plane, [&](std::uint32_t item) {
    const double d = plane.Distance(middle, src.addresses[item].point);
    for (std::size_t f = 0; f < std::size(kSharedFields); ++f) {
      if (!(l.*kLocalityFields[f]).empty() || (src.tags[item].*kSharedFields[f]).empty()) continue;
      if (d > nearest[f] || (d == nearest[f] && item >= nearestItem[f])) continue;
      nearest[f] = d;
      nearestItem[f] = item;
    }
  });
  for (std::size_t f = 0; f < std::size(kSharedFields); ++f) {
    if (nearestItem[f] != std::numeric_limits<std::uint32_t>::max()) {
      l.*kLocalityFields[f] = src.tags[nearestItem[f]].*kSharedFields[f];
    }
  }

  // The boundaries around the middle fill what the addresses left open; a
  // level-9 borough wins over a level-10 one whatever their order.
  std::string boroughPart;
  for (const Boundary& b : src.boundaries) {
    if (middle.x < b.box.x1 || middle.x > b.box.x2 || middle.y < b.box.y1 || middle.y > b.box.y2) continue;
    std::string* field = nullptr;
    switch (b.kind) {
      case BoundaryKind::kState: field = &l.state; break;
      case BoundaryKind::kCounty: field = &l.county; break;
      case BoundaryKind::kCity: field = &l.city; break;
      case BoundaryKind::kBorough: field = &l.borough; break;
      case BoundaryKind::kBoroughPart: field = &boroughPart; break;
      case BoundaryKind::kPostcode: field = &l.postcode; break;
    }
    if (!field->empty() || !InsideRings(b.rings, middle)) continue;
    *field = b.text;
  }
  if (l.borough.empty()) l.borough = boroughPart;

  double placeBest = kPlaceMetres;
  std::uint32_t placeItem = std::numeric_limits<std::uint32_t>::max();
  src.placeGrid.Visit(middle, kPlaceMetres, plane, [&](std::uint32_t item) {
    const double d = plane.Distance(middle, src.places[item].first);
    if (d > placeBest || (d == placeBest && item >= placeItem)) return;
    placeBest = d;
    placeItem = item;
  });
  if (placeItem != std::numeric_limits<std::uint32_t>::max()) l.locality = src.places[placeItem].second;
  return l;
}

void WriteLocalities(const Reader& r, const std::vector<AddrTags>& tags, const std::vector<Placement>& placed,
                     const std::vector<StreetRun>& runs, Conversion& c) {
  LocalitySources src{c.addresses, tags, {}, r.places, {}, {}};
  for (std::size_t i = 0; i < c.addresses.size(); ++i) {
    src.addressGrid.AddPoint(c.addresses[i].point, static_cast<std::uint32_t>(i));
  }
  for (std::size_t i = 0; i < r.places.size(); ++i) {
    src.placeGrid.AddPoint(r.places[i].first, static_cast<std::uint32_t>(i));
  }
  for (const BoundaryRelation& relation : r.boundaries) {
    if (std::optional<Boundary> b = AssembleBoundary(relation, r)) {
      src.boundaries.push_back(std::move(*b));
      ++c.stats.boundariesUsed;
    }
  }

  std::vector<std::vector<std::size_t>> matched(runs.size());
  for (std::size_t i = 0; i < placed.size(); ++i) {
    if (placed[i].run >= 0) matched[static_cast<std::size_t>(placed[i].run)].push_back(i);
  }
  for (std::size_t k = 0; k < runs.size(); ++k) {
    Feature& f = c.streets.features[runs[k].feature];
    const Locality l = LocalityOf(src, matched[k], Middle(f.points, runs[k].along));
    const std::string country = l.country.empty() ? std::string() : CountryCode3(l.country);
    const std::string value = JoinPieces({country, l.postcode}, rmfbuild::kMaxNameChars);
    const std::string name = JoinPieces({l.locality, l.city, l.borough, l.county, l.state}, rmfbuild::kMaxDetailChars);
    if (value == "\\" && name == "\\\\\\\\") continue;  // nothing known: no attribute
    f.Attribute(TextTriple{"121", value, name});
    if (!l.city.empty()) ++c.stats.streetsWithCity;
    if (!l.postcode.empty()) ++c.stats.streetsWithPostcode;
  }
}

// ---- points of interest ----------------------------------------------------------------

void WritePois(const Reader& r, std::string_view name, Conversion& c) {
  const std::string fileId = PoiFileId(name);
  auto add = [&](TiPoint at, const PoiClass& poi) {
    Feature f = Feature::Point(FeatureClass{poi.level, poi.classDigit, FeatureCategory::kPoint},
                               fileId + "," + std::to_string(poi.subcategory), at, std::to_string(c.stats.pois + 1));
    c.pois.Add(std::move(f));
    ++c.stats.pois;
    if (poi.category > 0 && static_cast<std::size_t>(poi.category) < c.stats.poisByCategory.size()) {
      ++c.stats.poisByCategory[static_cast<std::size_t>(poi.category)];
    }
  };
  for (const auto& [point, poi] : r.poiNodes) add(point, poi);
  for (const PoiWay& way : r.poiWays) {
    if (const std::optional<TiPoint> at = MeanPoint(way.nodes, r.nodes)) add(*at, way.poi);
  }
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

  NameTable names;
  const std::vector<StreetRun> runs = WriteStreets(r, c, names);
  std::vector<AddrTags> tags;
  CollectAddresses(r, c, tags);
  const std::vector<Placement> placed = PlaceAddresses(c.addresses, runs, c.streets, names);
  c.stats.addressesMatched = static_cast<std::size_t>(
      std::count_if(placed.begin(), placed.end(), [](const Placement& p) { return p.run >= 0; }));
  WriteRanges(c.addresses, placed, runs, c);
  WriteLocalities(r, tags, placed, runs, c);
  WritePois(r, name, c);
  c.ok = true;
  return c;
}

}  // namespace

std::int32_t LongitudeToUnits(double degrees) { return ToUnits(degrees, kMaxX); }
std::int32_t LatitudeToUnits(double degrees) { return ToUnits(degrees, kMaxY); }

std::vector<std::int32_t> HouseNumbers(std::string_view text) {
  std::vector<std::int32_t> numbers;
  std::size_t at = 0;
  while (at <= text.size()) {
    std::size_t end = text.find_first_of("-;,", at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view part = text.substr(at, end - at);
    while (!part.empty() && part.front() == ' ') part.remove_prefix(1);
    std::size_t digits = 0;
    while (digits < part.size() && std::isdigit(static_cast<unsigned char>(part[digits]))) ++digits;
    // Nine digits always fit the 32-bit numbers the map engine reads.
    if (digits > 0 && digits <= 9) {
      const auto n = static_cast<std::int32_t>(std::strtol(std::string(part.substr(0, digits)).c_str(), nullptr, 10));
      if (n > 0) numbers.push_back(n);
    }
    at = end + 1;
  }
  return numbers;
}

std::string CountryCode3(std::string_view code) {
  // The countries OpenStreetMap extracts are most often cut from; others
  // keep their code as tagged.
  static constexpr std::pair<const char*, const char*> kCodes[] = {
      {"AT", "AUT"}, {"AU", "AUS"}, {"BE", "BEL"}, {"BR", "BRA"}, {"CA", "CAN"}, {"CH", "CHE"}, {"CN", "CHN"},
      {"CZ", "CZE"}, {"DE", "DEU"}, {"DK", "DNK"}, {"ES", "ESP"}, {"FI", "FIN"}, {"FR", "FRA"}, {"GB", "GBR"},
      {"GR", "GRC"}, {"HR", "HRV"}, {"HU", "HUN"}, {"IE", "IRL"}, {"IN", "IND"}, {"IT", "ITA"}, {"JP", "JPN"},
      {"LI", "LIE"}, {"LU", "LUX"}, {"MX", "MEX"}, {"NL", "NLD"}, {"NO", "NOR"}, {"NZ", "NZL"}, {"PL", "POL"},
      {"PT", "PRT"}, {"RO", "ROU"}, {"RU", "RUS"}, {"SE", "SWE"}, {"SI", "SVN"}, {"SK", "SVK"}, {"TR", "TUR"},
      {"UA", "UKR"}, {"UK", "GBR"}, {"US", "USA"}, {"ZA", "ZAF"},
  };
  if (code.size() == 2) {
    const char upper[3] = {static_cast<char>(std::toupper(static_cast<unsigned char>(code[0]))),
                           static_cast<char>(std::toupper(static_cast<unsigned char>(code[1]))), 0};
    for (const auto& [two, three] : kCodes) {
      if (std::strcmp(upper, two) == 0) return three;
    }
  }
  return std::string(code);
}

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
  const std::string dir = outDir.empty() ? std::string(".") : outDir;
  std::error_code made;
  std::filesystem::create_directories(dir, made);
  if (made) {
    report.error = "cannot make the folder " + dir + ": " + made.message();
    return report;
  }
  const std::string base = dir + "/" + std::string(name);
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
