// Converts an OpenStreetMap extract into the feature maps of a street map
// and a point-of-interest map (see Osm2Rmf.h for what becomes what).
// libosmium reads it (XML, bzip2- or gzip-compressed XML, PBF) in two
// passes: the boundary and multipolygon relations first, then the nodes and
// ways, each reduced to what the maps need while it is read, with the
// positions of their nodes from a location index. Everything that joins
// what was read (addresses to streets, streets to their localities)
// happens in Finish.
#include "tools/osm2rmf/Osm2Rmf.h"

// GCC 12 takes the user name that the assembler copies from a relation for
// a read past the relation (a false alarm of its string checks at -O2).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wstringop-overread"
#endif
#include <osmium/area/assembler.hpp>
#include <osmium/builder/osm_object_builder.hpp>
#include <osmium/handler.hpp>
#include <osmium/handler/node_locations_for_ways.hpp>
#include <osmium/index/map/flex_mem.hpp>
#include <osmium/index/map/sparse_mem_array.hpp>
#include <osmium/io/any_input.hpp>
#include <osmium/osm/area.hpp>
#include <osmium/relations/relations_manager.hpp>
#include <osmium/visitor.hpp>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <filesystem>
#include <initializer_list>
#include <limits>
#include <memory>
#include <new>
#include <numbers>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// The name text of a street: its name, then one ":RN/<ref>" piece per route
// number, all separated by backslashes; a street without a name has the
// route-number pieces only, and the map engine then names it by its last
// number. The text holds at most kMaxDetailChars bytes: a long name is cut
// (never inside a UTF-8 sequence), but a route number that does not fit is
// left out whole, since half a number would be spoken as a different road.
// `routeNumbers` counts the pieces written.
std::string StreetNameText(std::string_view name, const std::vector<std::string>& refs, std::size_t* routeNumbers) {
  std::string text = MapText(name, rmfbuild::kMaxDetailChars);
  for (const std::string& ref : refs) {
    const std::string piece = (text.empty() ? ":RN/" : "\\:RN/") + MapText(ref, ref.size());
    if (text.size() + piece.size() > rmfbuild::kMaxDetailChars) continue;
    text += piece;
    ++*routeNumbers;
  }
  return text;
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

// Texts as numbers: the address tags of a large extract repeat a few
// hundred streets and cities hundreds of thousands of times, and an
// address keeps seven of them. Number 0 is the empty text.
class TextTable {
 public:
  TextTable() { texts_.emplace_back(); }
  TextTable(const TextTable&) = delete;
  TextTable& operator=(const TextTable&) = delete;

  std::uint32_t Intern(std::string_view text) {
    if (text.empty()) return 0;
    const auto it = ids_.find(text);
    if (it != ids_.end()) return it->second;
    const auto id = static_cast<std::uint32_t>(texts_.size());
    texts_.emplace_back(text);
    ids_.emplace(texts_.back(), id);
    return id;
  }
  const std::string& Text(std::uint32_t id) const { return texts_[id]; }

 private:
  std::deque<std::string> texts_;  // a deque keeps the texts in place, so the keys below stay valid
  std::unordered_map<std::string_view, std::uint32_t> ids_;
};

// The addr:* tags the conversion uses, as numbers of a TextTable.
struct AddrTags {
  std::uint32_t street = 0;
  std::uint32_t houseNumber = 0;
  std::uint32_t city = 0;
  std::uint32_t postcode = 0;
  std::uint32_t country = 0;
  std::uint32_t state = 0;
  std::uint32_t suburb = 0;
};

AddrTags AddrOf(const Tags& tags, TextTable& texts) {
  AddrTags a;
  a.street = texts.Intern(TagValue(tags, "addr:street"));
  a.houseNumber = texts.Intern(TagValue(tags, "addr:housenumber"));
  a.city = texts.Intern(TagValue(tags, "addr:city"));
  a.postcode = texts.Intern(TagValue(tags, "addr:postcode"));
  a.country = texts.Intern(TagValue(tags, "addr:country"));
  a.state = texts.Intern(TagValue(tags, "addr:state"));
  a.suburb = texts.Intern(TagValue(tags, "addr:suburb"));
  return a;
}

// What a point of interest's database record takes from its tags; the
// country is filled in later when the point has none.
struct PoiDetails {
  std::string name;
  std::string houseNumber;
  std::string street;
  std::string city;
  std::string postcode;
  std::string country;
  std::string phone;
};

PoiDetails PoiDetailsOf(const Tags& tags) {
  PoiDetails d;
  d.name = TagValue(tags, "name");
  d.houseNumber = TagValue(tags, "addr:housenumber");
  d.street = TagValue(tags, "addr:street");
  d.city = TagValue(tags, "addr:city");
  d.postcode = TagValue(tags, "addr:postcode");
  d.country = TagValue(tags, "addr:country");
  d.phone = TagValue(tags, "phone");
  if (d.phone.empty()) d.phone = TagValue(tags, "contact:phone");
  return d;
}

// A point of interest where it is written, with what its record holds.
struct PoiPlace {
  TiPoint point{};
  PoiClass poi;
  PoiDetails details;
};

// A way with a travelled highway class, reduced to what its street
// features are made of.
struct Highway {
  std::int64_t id = 0;
  std::string name;               // the name tag
  std::vector<std::string> refs;  // the route numbers of the ref tag, in order
  OneWay oneWay = OneWay::kBoth;
  std::string value;  // route-class value
  int classDigit = 7;
  std::vector<std::vector<TiPoint>> runs;  // the runs of known positions (see SplitRuns)
  std::vector<std::pair<std::int64_t, std::int64_t>> runEnds;  // node ids of each run's first and last point
};

// A turn restriction relation (type=restriction, a no_* or only_* value
// that applies to cars), with its members by role.
struct Restriction {
  std::int64_t id = 0;
  bool only = false;  // only_*, else no_*
  std::vector<std::int64_t> fromWays;
  std::vector<std::int64_t> toWays;
  std::vector<std::int64_t> viaNodes;
  std::size_t otherMembers = 0;  // via ways, and from, to or via members of the wrong type
};

struct NodeAddress {
  std::int64_t id = 0;
  TiPoint point{};
  AddrTags addr;  // the street may be missing until an interpolation line gives it
};

struct WayAddress {
  TiPoint point{};  // the mean of its known nodes
  AddrTags addr;
};

// An address interpolation line: its end nodes (the numbered addresses it
// runs between) and its own address tags.
struct Interpolation {
  std::int64_t first = 0;
  std::int64_t last = 0;
  bool ends = false;  // it has two node references or more
  AddrTags addr;
};

// What a boundary relation stands for in the locality attribute.
enum class BoundaryKind { kState, kCounty, kCity, kBorough, kBoroughPart, kPostcode };

struct Boundary {
  BoundaryKind kind = BoundaryKind::kCity;
  std::string text;  // the name, or the postal code
  std::vector<std::vector<TiPoint>> rings;
  TiRect box{};
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

// What the conversion keeps of the extract: every object is reduced to it
// while it is read, so no node's or way's tags outlive their callback.
struct Reader {
  TextTable texts;        // of the address tags
  std::size_t nodes = 0;  // nodes with a usable position
  std::size_t ways = 0;
  std::vector<Highway> highways;
  std::vector<NodeAddress> nodeAddresses;  // nodes with addr:housenumber, in document order
  std::vector<WayAddress> addressWays;     // ways with addr:housenumber and addr:street and a known node
  std::vector<Interpolation> interpolations;  // ways tagged addr:interpolation
  std::vector<PoiPlace> poiNodes;
  std::vector<PoiPlace> poiWays;   // at the mean of their known nodes
  std::vector<PoiPlace> poiAreas;  // multipolygon relations, at the mean of their rings
  std::vector<std::pair<TiPoint, std::string>> places;  // named place nodes
  std::vector<Boundary> boundaries;  // whose rings closed, in document order
  std::vector<Restriction> restrictions;  // in document order; written by the relation pass
};

Tags TagsOf(const osmium::TagList& list) {
  Tags tags;
  tags.reserve(list.size());
  for (const osmium::Tag& t : list) tags.emplace_back(t.key(), t.value());
  return tags;
}

TiPoint PointOf(const osmium::Location& at) {
  return TiPoint{LongitudeToUnits(at.lon_without_check()), LatitudeToUnits(at.lat_without_check())};
}

// Splits a way's nodes into runs of known positions, leaving out repeated
// equal points (the format has no zero-length segments), and notes the ids
// of the nodes written as each run's first and last point.
void SplitRuns(const osmium::WayNodeList& nodes, Highway& h) {
  std::vector<std::vector<TiPoint>> runs(1);
  std::vector<std::pair<std::int64_t, std::int64_t>> ends(1);
  for (const osmium::NodeRef& n : nodes) {
    if (!n.location().valid()) {
      if (!runs.back().empty()) {
        runs.emplace_back();
        ends.emplace_back();
      }
      continue;
    }
    const TiPoint p = PointOf(n.location());
    std::vector<TiPoint>& run = runs.back();
    if (!run.empty() && run.back().x == p.x && run.back().y == p.y) continue;
    if (run.empty()) ends.back().first = n.ref();
    ends.back().second = n.ref();
    run.push_back(p);
  }
  for (std::size_t i = 0; i < runs.size(); ++i) {
    if (runs[i].size() < 2) continue;
    h.runs.push_back(std::move(runs[i]));
    h.runEnds.push_back(ends[i]);
  }
}

// The mean of the known nodes of a way or ring (a closed one's repeated
// first node counted once); empty when none is known.
std::optional<TiPoint> MeanPoint(const osmium::NodeRefList& nodes) {
  std::size_t count = nodes.size();
  if (count > 1 && nodes.front().ref() == nodes.back().ref()) --count;
  double x = 0, y = 0;
  std::size_t known = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const osmium::Location at = nodes[i].location();
    if (!at.valid()) continue;
    const TiPoint p = PointOf(at);
    x += p.x;
    y += p.y;
    ++known;
  }
  if (known == 0) return std::nullopt;
  return TiPoint{static_cast<std::int32_t>(std::lround(x / static_cast<double>(known))),
                 static_cast<std::int32_t>(std::lround(y / static_cast<double>(known)))};
}

// The route numbers of a ref tag: its values separated by ';', each
// trimmed of blanks, empty ones left out.
std::vector<std::string> RefsOf(std::string_view ref) {
  std::vector<std::string> refs;
  while (!ref.empty()) {
    const std::size_t end = std::min(ref.find(';'), ref.size());
    std::string_view one = ref.substr(0, end);
    ref.remove_prefix(std::min(end + 1, ref.size()));
    while (!one.empty() && std::isspace(static_cast<unsigned char>(one.front()))) one.remove_prefix(1);
    while (!one.empty() && std::isspace(static_cast<unsigned char>(one.back()))) one.remove_suffix(1);
    if (!one.empty()) refs.emplace_back(one);
  }
  return refs;
}

// The street features a highway way becomes.
Highway HighwayOf(std::int64_t id, const Tags& tags, const RoadKind& road, const osmium::WayNodeList& nodes) {
  Highway h;
  h.id = id;
  h.name = TagValue(tags, "name");
  h.refs = RefsOf(TagValue(tags, "ref"));
  h.oneWay = OneWayOf(tags, road);
  h.value = RouteValue(tags, road);
  // An unnamed service road or track is a driveway, a parking aisle or a
  // field track: a way to announce as a crossing, like a footway, not the
  // street a house or a walker is on.
  const bool accessWay = road.roadType == '4' && road.kind == ' ' && road.classDigit == 7 && h.name.empty() &&
                         h.refs.empty() && TagValue(tags, "highway") != "living_street";
  h.classDigit = accessWay ? 4 : road.classDigit;
  SplitRuns(nodes, h);
  return h;
}

// ---- reading with libosmium ----------------------------------------------------------

// The boundary and multipolygon relations the conversion uses, read in a
// first pass over the relations, completed with their member ways in the
// second and assembled into areas by libosmium's assembler. Relations with
// member ways missing from the extract are assembled from the ways that are
// there at the end: when those still close, the missing ways were rings of
// their own (an exclave cut off by the extract).
class AreaManager : public osmium::relations::RelationsManager<AreaManager, false, true, false, false> {
 public:
  // What a relation of the first pass is used for; the document order
  // decides which of two boundaries of a kind around a street wins.
  struct Wanted {
    std::size_t order = 0;
    std::optional<BoundaryKind> boundary;
    std::string text;
    std::optional<PoiClass> poi;
    PoiDetails details;  // of a point of interest
  };

  bool new_relation(const osmium::Relation& relation) {
    const bool wayMember = std::any_of(relation.members().cbegin(), relation.members().cend(),
                                       [](const osmium::RelationMember& m) { return m.type() == osmium::item_type::way; });
    if (!wayMember) return false;
    const Tags tags = TagsOf(relation.tags());
    Wanted w;
    w.order = order_++;
    w.boundary = BoundaryKindOf(tags);
    if (w.boundary) w.text = TagValue(tags, *w.boundary == BoundaryKind::kPostcode ? "postal_code" : "name");
    if (w.text.empty()) w.boundary.reset();
    // Buildings and areas drawn as multipolygons are points of interest
    // like closed ways with the same tags.
    if (TagValue(tags, "type") == "multipolygon") w.poi = ClassifyPoi(tags);
    if (!w.boundary && !w.poi) return false;
    if (w.poi) w.details = PoiDetailsOf(tags);
    wanted_.emplace(relation.id(), std::move(w));
    return true;
  }

  void complete_relation(const osmium::Relation& relation) {
    std::vector<const osmium::Way*> ways;
    for (const osmium::RelationMember& m : relation.members()) {
      if (m.type() == osmium::item_type::way) ways.push_back(get_member_way(m.ref()));
    }
    Assemble(relation, ways);
  }

  // Assembles the relations some of whose member ways never came.
  void AssembleIncomplete() {
    for_each_incomplete_relation([this](const osmium::relations::RelationHandle& handle) {
      const osmium::Relation& relation = *handle;
      osmium::memory::Buffer scratch{1024, osmium::memory::Buffer::auto_grow::yes};
      std::vector<const osmium::Way*> ways;
      {
        osmium::builder::RelationBuilder builder{scratch};
        builder.set_id(relation.id());
        builder.add_item(relation.tags());
        osmium::builder::RelationMemberListBuilder members{builder};
        for (const osmium::RelationMember& m : relation.members()) {
          if (m.type() != osmium::item_type::way) continue;
          const osmium::Way* way = get_member_way(m.ref());
          if (way == nullptr) continue;
          members.add_member(m.type(), m.ref(), m.role());
          ways.push_back(way);
        }
      }
      scratch.commit();
      if (!ways.empty()) Assemble(scratch.get<osmium::Relation>(0), ways);
    });
  }

  const std::unordered_map<osmium::object_id_type, Wanted>& wanted() const { return wanted_; }

 private:
  void Assemble(const osmium::Relation& relation, const std::vector<const osmium::Way*>& ways) {
    osmium::area::AssemblerConfig config;
    config.create_empty_areas = false;
    osmium::area::Assembler assembler{config};
    try {
      assembler(relation, ways, buffer());
    } catch (const osmium::invalid_location&) {
      // A member node outside the extract: the relation bounds nothing.
    }
  }

  std::size_t order_ = 0;
  std::unordered_map<osmium::object_id_type, Wanted> wanted_;
};

// True when a semicolon-separated list names the item.
bool ListNames(std::string_view list, std::string_view item) {
  while (!list.empty()) {
    const std::size_t end = std::min(list.find(';'), list.size());
    std::string_view entry = list.substr(0, end);
    while (!entry.empty() && entry.front() == ' ') entry.remove_prefix(1);
    while (!entry.empty() && entry.back() == ' ') entry.remove_suffix(1);
    if (entry == item) return true;
    list.remove_prefix(std::min(end + 1, list.size()));
  }
  return false;
}

// The turn restriction a relation stands for: type=restriction with a
// restriction:motorcar value, else a restriction value, that starts with
// "no_" or "only_", and no "except" naming motorcar. Empty for any other
// relation.
std::optional<Restriction> RestrictionOf(const osmium::Relation& relation) {
  const Tags tags = TagsOf(relation.tags());
  if (TagValue(tags, "type") != "restriction") return std::nullopt;
  std::string_view value = TagValue(tags, "restriction:motorcar");
  if (value.empty()) value = TagValue(tags, "restriction");
  if (!value.starts_with("no_") && !value.starts_with("only_")) return std::nullopt;
  if (ListNames(TagValue(tags, "except"), "motorcar")) return std::nullopt;
  Restriction r;
  r.id = relation.id();
  r.only = value.starts_with("only_");
  for (const osmium::RelationMember& m : relation.members()) {
    const std::string_view role = m.role();
    const bool way = m.type() == osmium::item_type::way;
    const bool node = m.type() == osmium::item_type::node;
    if (role == "from" && way) {
      r.fromWays.push_back(m.ref());
    } else if (role == "to" && way) {
      r.toWays.push_back(m.ref());
    } else if (role == "via" && node) {
      r.viaNodes.push_back(m.ref());
    } else if (role == "from" || role == "to" || role == "via") {
      ++r.otherMembers;
    }
  }
  return r;
}

// The first pass, over the relations, on a thread of its own: it runs
// while the second pass reads the nodes (most of an extract), and the
// second pass waits for it at the first way, where it needs to know the
// member ways. Done one after the other, the two passes took a third
// longer on the bzip2-compressed demo extract, whose decompression each
// pass repeats.
class RelationPass {
 public:
  // Turn restrictions go to `restrictions`, which nobody else touches
  // until Wait returns.
  RelationPass(const osmium::io::File& file, AreaManager& areas, std::vector<Restriction>& restrictions)
      : thread_([this, file, &areas, &restrictions]() {
          try {
            osmium::io::Reader relations{file, osmium::osm_entity_bits::relation, osmium::io::read_meta::no};
            while (osmium::memory::Buffer buffer = relations.read()) {
              for (const osmium::Relation& relation : buffer.select<osmium::Relation>()) {
                areas.relation(relation);
                if (std::optional<Restriction> r = RestrictionOf(relation)) restrictions.push_back(std::move(*r));
              }
            }
            relations.close();
            areas.prepare_for_lookup();
          } catch (...) {
            error_ = std::current_exception();
          }
        }) {}
  ~RelationPass() {
    if (thread_.joinable()) thread_.join();
  }
  RelationPass(const RelationPass&) = delete;
  RelationPass& operator=(const RelationPass&) = delete;

  // Waits for the pass to end; rethrows what stopped it.
  void Wait() {
    if (thread_.joinable()) thread_.join();
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
  }

 private:
  std::exception_ptr error_;
  std::thread thread_;  // last: it starts when everything it uses is made
};

// Thrown when the extract lists a node after a way: the ways before it
// would have been given no position for it.
struct UnsortedInput : std::runtime_error {
  UnsortedInput()
      : std::runtime_error("a node follows a way in the extract; sort it (nodes, then ways, then relations)") {}
};

// The second pass: every node and way, with the positions of their nodes
// filled in by the location handler that runs before it.
class Collector : public osmium::handler::Handler {
 public:
  Collector(Reader& r, AreaManager& areas, RelationPass& relations) : r_(r), areas_(areas), relations_(relations) {}

  void node(const osmium::Node& node) {
    if (afterWays_) throw UnsortedInput{};
    if (!node.location().valid()) return;
    ++r_.nodes;
    if (node.tags().empty()) return;
    const Tags tags = TagsOf(node.tags());
    const TiPoint at = PointOf(node.location());
    if (!TagValue(tags, "addr:housenumber").empty()) r_.nodeAddresses.push_back(NodeAddress{node.id(), at, AddrOf(tags, r_.texts)});
    if (const std::optional<PoiClass> poi = ClassifyPoi(tags)) r_.poiNodes.push_back(PoiPlace{at, *poi, PoiDetailsOf(tags)});
    const std::string_view placeName = TagValue(tags, "name");
    if (!placeName.empty() && IsPlace(TagValue(tags, "place"))) r_.places.emplace_back(at, std::string(placeName));
  }

  void way(const osmium::Way& way) {
    if (!afterWays_) relations_.Wait();
    afterWays_ = true;
    ++r_.ways;
    areas_.handle_way(way);
    if (way.tags().empty()) return;
    const Tags tags = TagsOf(way.tags());
    const osmium::WayNodeList& nodes = way.nodes();
    if (!TagValue(tags, "addr:housenumber").empty() && !TagValue(tags, "addr:street").empty()) {
      if (const std::optional<TiPoint> at = MeanPoint(nodes)) r_.addressWays.push_back(WayAddress{*at, AddrOf(tags, r_.texts)});
    }
    if (!TagValue(tags, "addr:interpolation").empty()) {
      Interpolation line;
      line.ends = nodes.size() >= 2;
      if (line.ends) {
        line.first = nodes.front().ref();
        line.last = nodes.back().ref();
      }
      line.addr = AddrOf(tags, r_.texts);
      r_.interpolations.push_back(std::move(line));
    }
    if (const std::optional<PoiClass> poi = ClassifyPoi(tags)) {
      if (const std::optional<TiPoint> at = MeanPoint(nodes)) r_.poiWays.push_back(PoiPlace{*at, *poi, PoiDetailsOf(tags)});
    }
    const RoadKind* road = FindRoadKind(TagValue(tags, "highway"));
    // Closed ways tagged area=yes are squares and yards, not streets.
    if (road != nullptr && TagValue(tags, "area") != "yes") {
      r_.highways.push_back(HighwayOf(way.id(), tags, *road, nodes));
    }
  }

 private:
  Reader& r_;
  AreaManager& areas_;
  RelationPass& relations_;
  bool afterWays_ = false;
};

// A ring of an assembled area in map units, repeated equal points left out;
// empty when it has fewer than three corners.
std::vector<TiPoint> RingPoints(const osmium::NodeRefList& ring) {
  std::vector<TiPoint> points;
  for (const osmium::NodeRef& n : ring) {
    const TiPoint p = PointOf(n.location());
    if (points.empty() || points.back().x != p.x || points.back().y != p.y) points.push_back(p);
  }
  if (points.size() < 4) points.clear();  // three corners and the closing point
  return points;
}

// Turns the assembled areas into boundaries (in the order of their
// relations) and points of interest.
void TakeAreas(osmium::memory::Buffer areas, const AreaManager& manager, Reader& r) {
  std::vector<std::pair<std::size_t, Boundary>> boundaries;
  std::vector<std::pair<std::size_t, PoiPlace>> pois;
  for (const osmium::Area& area : areas.select<osmium::Area>()) {
    if (area.from_way()) continue;
    const auto wanted = manager.wanted().find(area.orig_id());
    if (wanted == manager.wanted().end()) continue;
    const AreaManager::Wanted& w = wanted->second;
    std::vector<std::vector<TiPoint>> rings;
    double x = 0, y = 0;
    std::size_t corners = 0;
    for (const osmium::OuterRing& outer : area.outer_rings()) {
      for (std::size_t i = 0; i + 1 < outer.size(); ++i) {
        const TiPoint p = PointOf(outer[i].location());
        x += p.x;
        y += p.y;
        ++corners;
      }
      if (std::vector<TiPoint> ring = RingPoints(outer); !ring.empty()) rings.push_back(std::move(ring));
      for (const osmium::InnerRing& inner : area.inner_rings(outer)) {
        if (std::vector<TiPoint> ring = RingPoints(inner); !ring.empty()) rings.push_back(std::move(ring));
      }
    }
    if (w.poi && corners > 0) {
      const TiPoint at{static_cast<std::int32_t>(std::lround(x / static_cast<double>(corners))),
                       static_cast<std::int32_t>(std::lround(y / static_cast<double>(corners)))};
      pois.emplace_back(w.order, PoiPlace{at, *w.poi, w.details});
    }
    if (!w.boundary || rings.empty()) continue;
    Boundary b;
    b.kind = *w.boundary;
    b.text = w.text;
    b.box = TiRect{rings[0][0].x, rings[0][0].y, rings[0][0].x, rings[0][0].y};
    for (const std::vector<TiPoint>& ring : rings) {
      for (const TiPoint& p : ring) {
        b.box = TiRect{std::min(b.box.x1, p.x), std::min(b.box.y1, p.y), std::max(b.box.x2, p.x),
                       std::max(b.box.y2, p.y)};
      }
    }
    b.rings = std::move(rings);
    boundaries.emplace_back(w.order, std::move(b));
  }
  auto byOrder = [](const auto& a, const auto& b) { return a.first < b.first; };
  std::stable_sort(boundaries.begin(), boundaries.end(), byOrder);
  std::stable_sort(pois.begin(), pois.end(), byOrder);
  for (auto& [order, b] : boundaries) r.boundaries.push_back(std::move(b));
  for (auto& [order, poi] : pois) r.poiAreas.push_back(std::move(poi));
}

// Positive node ids go to an index that starts sparse (16 bytes a node)
// and turns dense only when the ids it holds are dense enough for that to
// take less; the few negative ids of unsaved editor files get a sparse one.
using PositiveIndex = osmium::index::map::FlexMem<osmium::unsigned_object_id_type, osmium::Location>;
using NegativeIndex = osmium::index::map::SparseMemArray<osmium::unsigned_object_id_type, osmium::Location>;

// Reads the extract in two passes: the relations, then the nodes and ways.
// Throws what libosmium throws on unreadable input, and UnsortedInput.
void ReadExtract(const osmium::io::File& file, Reader& r) {
  AreaManager areas;
  {
    RelationPass relations{file, areas, r.restrictions};
    PositiveIndex positive;
    NegativeIndex negative;
    osmium::handler::NodeLocationsForWays<PositiveIndex, NegativeIndex> locations{positive, negative};
    locations.ignore_errors();  // nodes missing from the extract stay unknown positions
    Collector collector{r, areas, relations};
    // Versions, times and user names are not read: nothing uses them.
    osmium::io::Reader objects{file, osmium::osm_entity_bits::node | osmium::osm_entity_bits::way,
                               osmium::io::read_meta::no};
    osmium::apply(objects, locations, collector);
    objects.close();
    relations.Wait();  // an extract without ways
  }
  areas.AssembleIncomplete();
  TakeAreas(areas.read(), areas, r);
}

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

// One written street feature (a way, or one run of a way with gaps).
struct StreetRun {
  std::size_t feature = 0;    // index into Conversion::streets.features
  int name = -1;              // the way's name tag as an interned number; -1 without one
  std::vector<double> along;  // metres from the first vertex to each vertex
  std::int64_t way = 0;       // the way's id
  std::pair<std::int64_t, std::int64_t> ends;  // node ids of the first and last vertex
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
  // The names by number.
  std::vector<std::string> Names() const {
    std::vector<std::string> names(ids_.size());
    for (const auto& [name, id] : ids_) names[static_cast<std::size_t>(id)] = name;
    return names;
  }

 private:
  std::unordered_map<std::string, int> ids_;
};

// ---- street names written a little differently --------------------------------------

// A street name in a form where ways of writing it compare equal: lower
// case, without blanks, hyphens, dots and apostrophes, "ß" as "ss", and the
// usual abbreviations of street words spelled out where a word ends
// ("Zollstr." and "Zollstraße" both read "zollstrasse").
std::string NameKey(std::string_view name) {
  // Words (lower case, as they end a word of the name) and what they stand for.
  static constexpr std::pair<std::string_view, std::string_view> kAbbreviations[] = {
      {"str.", "strasse"}, {"str", "strasse"}, {"pl.", "platz"}, {"st.", "street"}, {"st", "street"},
      {"ave.", "avenue"}, {"ave", "avenue"}, {"av.", "avenue"}, {"blvd.", "boulevard"}, {"blvd", "boulevard"},
      {"rd.", "road"}, {"rd", "road"}, {"dr.", "drive"}, {"ln.", "lane"}, {"ct.", "court"}, {"pkwy", "parkway"},
  };
  std::string lower;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (c == 0xc3 && i + 1 < name.size() && static_cast<unsigned char>(name[i + 1]) == 0x9f) {
      lower += "ss";
      ++i;
    } else {
      lower += static_cast<char>(std::tolower(c));
    }
  }
  std::string key;
  std::size_t at = 0;
  while (at < lower.size()) {
    std::size_t end = lower.find_first_of(" -", at);
    if (end == std::string::npos) end = lower.size();
    std::string_view word = std::string_view(lower).substr(at, end - at);
    // A word that ends in an abbreviation: "zollstr." or "str.".
    for (const auto& [shortWord, longWord] : kAbbreviations) {
      if (word.size() < shortWord.size() || !word.ends_with(shortWord)) continue;
      // Without a dot the abbreviation must be a word of its own, so that
      // "first" does not end in "st"; only "str" ends words ("Zollstr")
      // that are nothing else.
      if (shortWord.back() != '.' && shortWord != "str" && word.size() != shortWord.size()) continue;
      key.append(word.substr(0, word.size() - shortWord.size()));
      key.append(longWord);
      word = {};
      break;
    }
    for (const char c : word) {
      if (c != '.' && c != '\'') key += c;
    }
    at = end + 1;
  }
  return key;
}

// Whether two name keys differ by one letter added, left out or changed
// ("wiesengasse" and "wiesengass"): only for keys of six letters or more,
// and never in a digit, so that "Querweg 1" and "Querweg 2" stay apart.
bool OneLetterApart(std::string_view a, std::string_view b) {
  if (a.size() > b.size()) std::swap(a, b);
  if (a.size() < 6 || b.size() - a.size() > 1) return false;
  std::size_t i = 0;
  while (i < a.size() && a[i] == b[i]) ++i;
  if (i == a.size()) return b.size() == a.size() + 1 && !std::isdigit(static_cast<unsigned char>(b[i]));
  const bool digit = std::isdigit(static_cast<unsigned char>(a[i])) || std::isdigit(static_cast<unsigned char>(b[i]));
  if (digit) return false;
  // One letter of b left out of a, or one letter changed.
  return a.size() < b.size() ? a.substr(i) == b.substr(i + 1) : a.substr(i + 1) == b.substr(i + 1);
}

// How an address's street name matches a street's name, best first.
enum class NameMatch { kExact, kWrittenDifferently, kSpelledDifferently, kNone };

NameMatch MatchOfKeys(const std::string& address, const std::string& street) {
  if (address == street) return NameMatch::kWrittenDifferently;
  if (OneLetterApart(address, street)) return NameMatch::kSpelledDifferently;
  return NameMatch::kNone;
}

std::vector<StreetRun> WriteStreets(Reader& r, Conversion& c, NameTable& names) {
  std::vector<StreetRun> runs;
  for (Highway& way : r.highways) {
    std::size_t routeNumbers = 0;
    const std::string longName = StreetNameText(way.name, way.refs, &routeNumbers);
    const OneWay oneWay = way.oneWay;
    const std::string& value = way.value;
    const int classDigit = way.classDigit;
    std::vector<std::vector<TiPoint>> pieces = std::move(way.runs);
    if (pieces.empty()) ++c.stats.droppedWays;
    for (std::size_t piece = 0; piece < pieces.size(); ++piece) {
      std::vector<TiPoint>& points = pieces[piece];
      StreetRun run;
      run.way = way.id;
      run.ends = way.runEnds[piece];
      run.name = way.name.empty() ? -1 : names.Intern(way.name);
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
      if (!longName.empty()) ++c.stats.namedStreets;
      c.stats.routeNumbers += routeNumbers;
      if (oneWay != OneWay::kBoth) ++c.stats.oneWayStreets;
    }
  }
  return runs;
}

// ---- turn restrictions ---------------------------------------------------------------

// Where a restriction's via node ends a street run of one way: the run and
// whether the node is its last vertex (else its first).
struct RunEnd {
  const StreetRun* run = nullptr;
  bool last = false;
};

// The one end of a written run of the way at the node; empty when no run of
// the way, or more than one end (a closed way, a way that comes back to the
// node), lies there.
std::optional<RunEnd> EndAt(const std::unordered_map<std::int64_t, std::vector<const StreetRun*>>& runsOfWay,
                            std::int64_t way, std::int64_t node) {
  const auto it = runsOfWay.find(way);
  if (it == runsOfWay.end()) return std::nullopt;
  std::optional<RunEnd> found;
  int ends = 0;
  for (const StreetRun* run : it->second) {
    if (run->ends.first == node) {
      found = RunEnd{run, false};
      ++ends;
    }
    if (run->ends.second == node) {
      found = RunEnd{run, true};
      ++ends;
    }
  }
  if (ends != 1) return std::nullopt;
  return found;
}

// Writes each restriction that has one from way, one via node and one to
// way, both written streets with a run that starts or ends at the node, as
// attributes of the two segments at the node; counts the others as not
// placed.
void WriteRestrictions(const std::vector<Restriction>& restrictions, const std::vector<StreetRun>& runs,
                       Conversion& c) {
  std::unordered_map<std::int64_t, std::vector<const StreetRun*>> runsOfWay;
  for (const StreetRun& run : runs) runsOfWay[run.way].push_back(&run);
  for (const Restriction& r : restrictions) {
    std::optional<RunEnd> from, to;
    if (r.fromWays.size() == 1 && r.toWays.size() == 1 && r.viaNodes.size() == 1 && r.otherMembers == 0) {
      from = EndAt(runsOfWay, r.fromWays[0], r.viaNodes[0]);
      to = EndAt(runsOfWay, r.toWays[0], r.viaNodes[0]);
    }
    if (!from || !to) {
      ++c.stats.restrictionsNotPlaced;
      continue;
    }
    const std::string key = std::to_string(r.id);
    for (const auto& [end, value, toward] : {std::tuple{*from, r.only ? "0RB" : "0PB", true},
                                             std::tuple{*to, r.only ? "0RE" : "0PE", false}}) {
      Feature& f = c.streets.features[end.run->feature];
      // The item holds for travel toward the via node on the from way and
      // away from it on the to way: '+' when that runs along the vertex
      // order, '-' against it.
      const char mark = toward == end.last ? '+' : '-';
      const TextTriple triple{std::to_string(f.featureClass.level) + "7B" + mark, value, key};
      // The segment at the node: the first one after its first vertex, or
      // the last one, before its last vertex.
      if (end.last) {
        f.VertexAttrBefore(f.points.size() - 1, triple);
      } else {
        f.VertexAttr(0, triple);
      }
    }
    ++c.stats.restrictions;
  }
}

// ---- addresses -----------------------------------------------------------------------

// An end node of an interpolation line that carries a house number but no
// street takes the line's street, else the other end's; its other address
// tags it takes the same way when it has none of its own.
void CompleteInterpolationEnds(Reader& r, std::size_t& lines) {
  std::unordered_map<std::int64_t, std::size_t> byId;
  for (std::size_t i = 0; i < r.nodeAddresses.size(); ++i) byId.try_emplace(r.nodeAddresses[i].id, i);
  auto fill = [](std::uint32_t& field, std::uint32_t a, std::uint32_t b) {
    if (field == 0) field = a == 0 ? b : a;
  };
  const AddrTags none;
  for (const Interpolation& line : r.interpolations) {
    ++lines;
    if (!line.ends) continue;
    const auto first = byId.find(line.first);
    const auto last = byId.find(line.last);
    AddrTags* a = first == byId.end() ? nullptr : &r.nodeAddresses[first->second].addr;
    AddrTags* b = last == byId.end() ? nullptr : &r.nodeAddresses[last->second].addr;
    if (a == b) continue;  // a closed line, or neither end numbered
    for (auto [end, other] : {std::pair{a, b}, std::pair{b, a}}) {
      if (end == nullptr || end->street != 0) continue;
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
// beside them (same index). What the reader kept of them is let go.
void CollectAddresses(Reader& r, Conversion& c, std::vector<AddrTags>& tags) {
  CompleteInterpolationEnds(r, c.stats.interpolationLines);
  c.addresses.reserve(r.nodeAddresses.size() + r.addressWays.size());
  tags.reserve(c.addresses.capacity());
  auto add = [&](const AddrTags& a, TiPoint at, bool fromWay) {
    const TextTable& t = r.texts;
    c.addresses.push_back(Address{t.Text(a.street), t.Text(a.houseNumber), at, fromWay, t.Text(a.city), t.Text(a.postcode)});
    tags.push_back(a);
  };
  for (const NodeAddress& n : r.nodeAddresses) {
    if (n.addr.street == 0) continue;
    add(n.addr, n.point, false);
    ++c.stats.addressNodes;
  }
  for (const WayAddress& w : r.addressWays) {
    add(w.addr, w.point, true);
    ++c.stats.addressWays;
  }
  std::vector<NodeAddress>().swap(r.nodeAddresses);
  std::vector<WayAddress>().swap(r.addressWays);
  std::vector<Interpolation>().swap(r.interpolations);
}

// Where an address lies on its street.
struct Placement {
  int run = -1;  // index into the street runs; -1: no street of its name within reach
  bool right = true;
  double along = 0;  // metres from the run's first vertex to the foot of the address
  NameMatch match = NameMatch::kNone;
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

  // The street names as keys, and how an address's name matches each,
  // worked out once per pair.
  std::vector<std::string> keys = names.Names();
  for (std::string& key : keys) key = NameKey(key);
  std::unordered_map<std::string, std::vector<NameMatch>> matchesOf;

  std::vector<Placement> placed(addresses.size());
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    const int name = names.Find(addresses[i].street);
    const TiPoint p = addresses[i].point;
    const Plane plane(p.y);
    // The nearest segment of a street of the address's name within reach;
    // without one, the nearest of a street whose name is the same written
    // differently, else of one spelled a letter differently.
    auto nearest = [&](auto&& accepts) {
      double best = kMatchMetres;
      std::uint32_t bestItem = std::numeric_limits<std::uint32_t>::max();
      Foot bestFoot;
      grid.Visit(p, kMatchMetres, plane, [&](std::uint32_t item) {
        const StreetRun& run = runs[runOfItem[item]];
        if (!accepts(run.name)) return;
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
      if (bestItem == std::numeric_limits<std::uint32_t>::max()) return false;
      const std::uint32_t k = runOfItem[bestItem];
      const std::uint32_t s = bestItem - first[k];
      const std::vector<double>& along = runs[k].along;
      placed[i] = Placement{static_cast<int>(k), bestFoot.right, along[s] + bestFoot.t * (along[s + 1] - along[s])};
      return true;
    };
    if (name >= 0 && nearest([name](int street) { return street == name; })) {
      placed[i].match = NameMatch::kExact;
      continue;
    }
    const std::string& street = addresses[i].street;
    auto [known, isNew] = matchesOf.try_emplace(street);
    std::vector<NameMatch>& matches = known->second;
    if (isNew) {
      const std::string key = NameKey(street);
      matches.reserve(keys.size());
      for (const std::string& other : keys) matches.push_back(MatchOfKeys(key, other));
    }
    for (const NameMatch kind : {NameMatch::kWrittenDifferently, NameMatch::kSpelledDifferently}) {
      if (nearest([&](int other) { return other >= 0 && other != name && matches[static_cast<std::size_t>(other)] == kind; })) {
        placed[i].match = kind;
        break;
      }
    }
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

// The most common non-empty text (the first seen among equally common ones).
std::uint32_t MostCommon(const std::vector<std::uint32_t>& values) {
  std::unordered_map<std::uint32_t, std::size_t> counts;
  for (std::uint32_t v : values) {
    if (v != 0) ++counts[v];
  }
  std::uint32_t best = 0;
  std::size_t bestCount = 0;
  for (std::uint32_t v : values) {
    if (v == 0) continue;
    const std::size_t n = counts[v];
    if (n > bestCount) {
      best = v;
      bestCount = n;
    }
  }
  return best;
}

// The pieces of a street's locality attribute.
struct Locality {
  std::string country, postcode, locality, city, borough, county, state;
};

// The address fields a street takes from its own addresses and, failing
// those, from the nearest address that has them.
constexpr std::uint32_t AddrTags::*kSharedFields[] = {&AddrTags::country, &AddrTags::postcode, &AddrTags::city,
                                                      &AddrTags::state};
constexpr std::string Locality::*kLocalityFields[] = {&Locality::country, &Locality::postcode, &Locality::city,
                                                      &Locality::state};

constexpr double kNearAddressMetres = 500;
constexpr double kPlaceMetres = 2000;

struct LocalitySources {
  const std::vector<Address>& addresses;
  const std::vector<AddrTags>& tags;
  const TextTable& texts;
  CellGrid addressGrid;
  const std::vector<std::pair<TiPoint, std::string>>& places;
  CellGrid placeGrid;
  const std::vector<Boundary>& boundaries;
};

Locality LocalityOf(const LocalitySources& src, const std::vector<std::size_t>& matched, TiPoint middle) {
  Locality l;
  const Plane plane(middle.y);
  std::vector<std::uint32_t> values;
  for (std::size_t f = 0; f < std::size(kSharedFields); ++f) {
    values.clear();
    for (std::size_t i : matched) values.push_back(src.tags[i].*kSharedFields[f]);
    l.*kLocalityFields[f] = src.texts.Text(MostCommon(values));
  }
  values.clear();
  for (std::size_t i : matched) values.push_back(src.tags[i].suburb);
  l.borough = src.texts.Text(MostCommon(values));

  // Per field, the nearest address within reach that has it.
  std::array<double, std::size(kSharedFields)> nearest;
  nearest.fill(kNearAddressMetres);
  std::array<std::uint32_t, std::size(kSharedFields)> nearestItem;
  nearestItem.fill(std::numeric_limits<std::uint32_t>::max());
  src.addressGrid.Visit(middle, kNearAddressMetres, plane, [&](std::uint32_t item) {
    const double d = plane.Distance(middle, src.addresses[item].point);
    for (std::size_t f = 0; f < std::size(kSharedFields); ++f) {
      if (!(l.*kLocalityFields[f]).empty() || src.tags[item].*kSharedFields[f] == 0) continue;
      if (d > nearest[f] || (d == nearest[f] && item >= nearestItem[f])) continue;
      nearest[f] = d;
      nearestItem[f] = item;
    }
  });
  for (std::size_t f = 0; f < std::size(kSharedFields); ++f) {
    if (nearestItem[f] != std::numeric_limits<std::uint32_t>::max()) {
      l.*kLocalityFields[f] = src.texts.Text(src.tags[nearestItem[f]].*kSharedFields[f]);
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
  LocalitySources src{c.addresses, tags, r.texts, {}, r.places, {}, r.boundaries};
  for (std::size_t i = 0; i < c.addresses.size(); ++i) {
    src.addressGrid.AddPoint(c.addresses[i].point, static_cast<std::uint32_t>(i));
  }
  for (std::size_t i = 0; i < r.places.size(); ++i) {
    src.placeGrid.AddPoint(r.places[i].first, static_cast<std::uint32_t>(i));
  }
  c.stats.boundariesUsed = r.boundaries.size();

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

// The country of the extract: the addr:country most of its addresses name
// (the first of equals in the order read); empty when none names one.
std::string ExtractCountry(const TextTable& texts, const std::vector<AddrTags>& tags) {
  std::unordered_map<std::uint32_t, std::size_t> counts;
  std::uint32_t best = 0;
  for (const AddrTags& a : tags) {
    if (a.country == 0) continue;
    const std::size_t n = ++counts[a.country];
    if (best == 0 || n > counts[best]) best = a.country;
  }
  return texts.Text(best);
}

void WritePois(const Reader& r, const std::vector<AddrTags>& tags, std::string_view name, Conversion& c) {
  const std::string fileId = PoiFileId(name);
  const std::string country = ExtractCountry(r.texts, tags);
  auto add = [&](const PoiPlace& place) {
    const PoiClass& poi = place.poi;
    const auto key = static_cast<std::uint32_t>(c.stats.pois + 1);
    Feature f = Feature::Point(FeatureClass{poi.level, poi.classDigit, FeatureCategory::kPoint},
                               fileId + "," + std::to_string(poi.subcategory), place.point, std::to_string(key));
    c.pois.Add(std::move(f));
    ++c.stats.pois;
    if (poi.category > 0 && static_cast<std::size_t>(poi.category) < c.stats.poisByCategory.size()) {
      ++c.stats.poisByCategory[static_cast<std::size_t>(poi.category)];
    }
    dorvanta::PoiRecord record;
    record.key = key;
    record.name = place.details.name;
    record.category = static_cast<std::int16_t>(poi.category);
    record.subcategory = static_cast<std::int16_t>(poi.subcategory);
    record.latitude = place.point.y / kUnitsPerDegree;
    record.longitude = place.point.x / kUnitsPerDegree;
    record.houseNumber = place.details.houseNumber;
    record.street = place.details.street;
    record.city = place.details.city;
    record.postalCode = place.details.postcode;
    record.country = place.details.country.empty() ? country : place.details.country;
    record.phone = place.details.phone;
    c.poiRecords.push_back(std::move(record));
  };
  for (const PoiPlace& place : r.poiNodes) add(place);
  for (const PoiPlace& place : r.poiWays) add(place);
  for (const PoiPlace& place : r.poiAreas) add(place);
}

Conversion Finish(Reader& r, std::string_view name) {
  Conversion c;
  c.stats.nodes = r.nodes;
  c.stats.ways = r.ways;
  c.stats.highwayWays = r.highways.size();
  c.streets.compressed = true;
  c.pois.compressed = true;
  c.streets.Annotate("FILENAME", std::string(name) + ".rmf");
  c.pois.Annotate("FILENAME", std::string(name) + "_POI_01.rmf");

  NameTable names;
  const std::vector<StreetRun> runs = WriteStreets(r, c, names);
  WriteRestrictions(r.restrictions, runs, c);
  std::vector<AddrTags> tags;
  CollectAddresses(r, c, tags);
  const std::vector<Placement> placed = PlaceAddresses(c.addresses, runs, c.streets, names);
  for (const Placement& p : placed) {
    if (p.run < 0) continue;
    ++c.stats.addressesMatched;
    if (p.match == NameMatch::kWrittenDifferently) ++c.stats.addressesMatchedWrittenDifferently;
    if (p.match == NameMatch::kSpelledDifferently) ++c.stats.addressesMatchedSpelledDifferently;
  }
  WriteRanges(c.addresses, placed, runs, c);
  WriteLocalities(r, tags, placed, runs, c);
  WritePois(r, tags, name, c);
  c.ok = true;
  return c;
}

// The format of a file told by its first bytes, as libosmium names it:
// bzip2- or gzip-compressed XML, PBF (a block header naming "OSMHeader"
// behind its length), or plain XML; empty when they tell nothing, and the
// file's name decides.
std::string FormatOf(const unsigned char* head, std::size_t size) {
  if (size >= 3 && head[0] == 'B' && head[1] == 'Z' && head[2] == 'h') return "osm.bz2";
  if (size >= 2 && head[0] == 0x1f && head[1] == 0x8b) return "osm.gz";
  if (size >= 15 && head[0] == 0 && head[1] == 0 && head[4] == 0x0a && head[5] == 9 &&
      std::memcmp(head + 6, "OSMHeader", 9) == 0) {
    return "pbf";
  }
  std::size_t i = 0;
  if (size >= 3 && head[0] == 0xef && head[1] == 0xbb && head[2] == 0xbf) i = 3;  // UTF-8 byte order mark
  while (i < size && std::isspace(head[i])) ++i;
  if (i < size && head[i] == '<') return "osm";
  return {};
}

// The XML reader takes a coordinate with a large exponent ("1e300") for a
// number it can hold and reads it wrapped to some other place (0 for
// 1e300) instead of refusing it. A run over the text before the reader
// refuses every lat or lon attribute whose value is no number or lies
// beyond what the reader can hold (beyond +-214.7483647 degrees; values
// between that and the edges of the world read right and stay skipped as
// nodes outside it). Throws std::runtime_error naming the value.
class CoordinateCheck {
 public:
  void Feed(std::string_view chunk) {
    text_ += chunk;
    std::size_t keep = text_.size() > 5 ? text_.size() - 5 : 0;  // a name cut by the chunk's end
    for (const std::string_view key : {std::string_view("lat="), std::string_view("lon=")}) {
      for (std::size_t at = text_.find(key); at != std::string::npos; at = text_.find(key, at + 1)) {
        if (at == 0 || std::string_view(" \t\r\n").find(text_[at - 1]) == std::string_view::npos) continue;
        const std::size_t open = at + key.size();
        if (open >= text_.size()) {
          keep = std::min(keep, at - 1);
          continue;
        }
        const char quote = text_[open];
        if (quote != '"' && quote != '\'') continue;
        const std::size_t close = text_.find(quote, open + 1);
        if (close == std::string::npos) {
          keep = std::min(keep, at - 1);
          continue;
        }
        Check(std::string_view(text_).substr(at, close + 1 - at), text_.substr(open + 1, close - open - 1));
      }
    }
    text_.erase(0, keep);
  }

 private:
  static void Check(std::string_view attribute, const std::string& value) {
    char* end = nullptr;
    const double v = std::strtod(value.c_str(), &end);
    if (value.empty() || end != value.c_str() + value.size() || !std::isfinite(v) || std::fabs(v) > 214.7483647) {
      throw std::runtime_error("coordinate out of range or no number: " + std::string(attribute));
    }
  }
  std::string text_;
};

// Runs the check over an XML extract, plain or compressed.
void CheckXmlCoordinates(const osmium::io::File& file) {
  if (file.format() != osmium::io::file_format::xml) return;
  const osmium::io::CompressionFactory& factory = osmium::io::CompressionFactory::instance();
  std::unique_ptr<osmium::io::Decompressor> input;
  if (file.buffer() != nullptr) {
    input = factory.create_decompressor(file.compression(), file.buffer(), file.buffer_size());
  } else {
    const int fd = ::open(file.filename().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open " + file.filename() + ": " + std::strerror(errno));
    input = factory.create_decompressor(file.compression(), fd);
  }
  CoordinateCheck check;
  for (std::string chunk = input->read(); !chunk.empty(); chunk = input->read()) check.Feed(chunk);
  input->close();
}

Conversion Convert(const osmium::io::File& file, const std::string& what, std::string_view name) {
  Reader reader;
  try {
    CheckXmlCoordinates(file);
    ReadExtract(file, reader);
  } catch (const std::bad_alloc&) {
    throw;  // not the input's fault: the caller says so
  } catch (const std::exception& e) {
    Conversion failed;
    failed.error = "cannot read " + what + ": " + e.what();
    return failed;
  }
  return Finish(reader, name);
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
  return Convert(osmium::io::File{xml.data(), xml.size(), "osm"}, "the XML", name);
}

Conversion ConvertOsmFile(const std::string& path, std::string_view name) {
  Conversion failed;
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!file) {
    failed.error = "cannot open " + path + ": " + std::strerror(errno);
    return failed;
  }
  unsigned char head[16] = {};
  const std::size_t got = std::fread(head, 1, sizeof head, file.get());
  file.reset();
  try {
    const std::string format = FormatOf(head, got);
    return Convert(format.empty() ? osmium::io::File{path} : osmium::io::File{path, format}, path, name);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    failed.error = path + ": " + e.what();
    return failed;
  }
}

namespace {

// Why a conversion gave no street: the map engine refuses a street map
// without any, so none is written.
std::string NoStreets(const ConvertStats& s) {
  std::string why = "no streets: ";
  if (s.highwayWays == 0) {
    why += "none of the " + std::to_string(s.ways) + " ways has a travelled highway class (" +
           std::to_string(s.nodes) + " nodes with a position)";
  } else {
    why += "none of the " + std::to_string(s.highwayWays) +
           " highway ways has two nodes with a position in the extract (" + std::to_string(s.nodes) +
           " nodes with a position)";
  }
  if (s.pois > 0) why += "; its " + std::to_string(s.pois) + " points of interest are not written without a street map";
  return why;
}

// Writes the records into the new, empty database file at `path`.
bool WritePoiDatabase(const std::vector<dorvanta::PoiRecord>& records, const std::string& path, std::string* error) {
  std::unique_ptr<dorvanta::PoiStore> store;
  dorvanta::DorvantaResult result = dorvanta::PoiStore::Open(path, dorvanta::PoiStore::Access::kReadWrite, store);
  if (result == dorvanta::DorvantaResult::kOk) result = store->PutAll(records);
  if (result != dorvanta::DorvantaResult::kOk) {
    *error = "cannot write " + path + ": " + dorvanta::DorvantaResultName(result);
    return false;
  }
  return true;
}

// The files of one run, written beside their targets under temporary names
// and renamed into place only when every one of them is whole: a run that
// fails leaves the maps of the last good run as they were. Whatever
// temporary is still there when the object goes is removed.
class StagedFiles {
 public:
  StagedFiles() = default;
  StagedFiles(const StagedFiles&) = delete;
  StagedFiles& operator=(const StagedFiles&) = delete;
  ~StagedFiles() {
    for (const Staged& s : files_) {
      if (!s.temporary.empty()) ::unlink(s.temporary.c_str());
    }
  }

  // Makes a new empty file beside `target`, created exclusively (never an
  // existing file or a link), and returns its name; empty, with `error`
  // set, when it cannot.
  std::string Make(const std::string& target, std::string* error) {
    static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string name = target + ".new-";
      for (int i = 0; i < 8; ++i) name += kDigits[random() % 36];
      // Made with the usual permissions (the umask applies), as the file
      // it replaces was.
      const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
      if (fd < 0 && errno == EEXIST) continue;
      if (fd < 0) break;
      ::close(fd);
      files_.push_back(Staged{target, name});
      return name;
    }
    *error = "cannot make a file beside " + target + ": " + std::strerror(errno);
    return {};
  }

  // Fills the temporary with `bytes` and flushes it to the disk.
  static bool Fill(const std::string& temporary, const std::vector<std::uint8_t>& bytes, std::string* error) {
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
      *error = "cannot write " + temporary + ": " + std::strerror(errno);
      return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        *error = "cannot write " + temporary + ": " + std::strerror(n < 0 ? errno : ENOSPC);
        ::close(fd);
        return false;
      }
      done += static_cast<std::size_t>(n);
    }
    const bool synced = ::fsync(fd) == 0;
    const int syncError = errno;
    if (::close(fd) != 0 || !synced) {
      *error = "cannot write " + temporary + ": " + std::strerror(synced ? errno : syncError);
      return false;
    }
    return true;
  }

  // Renames every temporary onto its target. Each target is checked first:
  // one that is there but no regular file (a folder, a pipe) is refused
  // before anything is replaced.
  bool Commit(std::string* error) {
    for (const Staged& s : files_) {
      struct stat st {};
      if (::lstat(s.target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        *error = "cannot replace " + s.target + ": it is not a regular file";
        return false;
      }
    }
    for (Staged& s : files_) {
      // SQLite plays a journal left beside a database back into it when it
      // is opened: an old run's must not meet the new file.
      if (s.target.ends_with(".pdb")) {
        for (const char* suffix : {"-journal", "-wal", "-shm"}) {
          const std::string stale = s.target + suffix;
          if (::unlink(stale.c_str()) != 0 && errno != ENOENT) {
            *error = "cannot remove " + stale + ": " + std::strerror(errno);
            return false;
          }
        }
      }
      if (::rename(s.temporary.c_str(), s.target.c_str()) != 0) {
        *error = "cannot rename " + s.temporary + " to " + s.target + ": " + std::strerror(errno);
        return false;
      }
      s.temporary.clear();
    }
    return true;
  }

 private:
  struct Staged {
    std::string target;
    std::string temporary;
  };
  std::vector<Staged> files_;
};

}  // namespace

std::string MapNameError(std::string_view name) {
  if (name.empty()) return "the map name is empty";
  if (name == "." || name == ".." || name.find_first_of("/\\") != std::string_view::npos ||
      name.find('\0') != std::string_view::npos) {
    return "the map name \"" + std::string(name) + "\" is no plain file name (no folders, no \"..\")";
  }
  return {};
}

WriteReport WriteMaps(const Conversion& conversion, const std::string& outDir, std::string_view name) {
  WriteReport report;
  if (!conversion.ok) {
    report.error = "nothing to write: " + conversion.error;
    return report;
  }
  report.error = MapNameError(name);
  if (!report.error.empty()) return report;
  if (conversion.streets.features.empty()) {
    report.error = NoStreets(conversion.stats);
    return report;
  }
  // Both maps are built before either is written, so that a map the
  // builder refuses leaves no half of the pair behind.
  const rmfbuild::FeatureBuild streets = rmfbuild::BuildFeatureMap(conversion.streets);
  if (!streets) {
    report.error = "streets: " + streets.error;
    return report;
  }
  rmfbuild::FeatureBuild pois;
  if (!conversion.pois.features.empty()) {
    pois = rmfbuild::BuildFeatureMap(conversion.pois);
    if (!pois) {
      report.error = "points of interest: " + pois.error;
      return report;
    }
  }
  const rmfbuild::BuildResult streetBytes = rmfbuild::Build(streets.description);
  if (!streetBytes) {
    report.error = "streets: " + streetBytes.error;
    return report;
  }
  rmfbuild::BuildResult poiBytes;
  if (!conversion.pois.features.empty()) {
    poiBytes = rmfbuild::Build(pois.description);
    if (!poiBytes) {
      report.error = "points of interest: " + poiBytes.error;
      return report;
    }
  }
  const std::string dir = outDir.empty() ? std::string(".") : outDir;
  std::error_code made;
  std::filesystem::create_directories(dir, made);
  if (made) {
    report.error = "cannot make the folder " + dir + ": " + made.message();
    return report;
  }
  const std::string base = dir + "/" + std::string(name);
  const std::string streetFile = base + ".rmf";
  StagedFiles staged;
  const std::string streetTemporary = staged.Make(streetFile, &report.error);
  if (streetTemporary.empty() || !StagedFiles::Fill(streetTemporary, streetBytes.bytes, &report.error)) return report;
  std::string poiFile;
  std::string poiCompanion;
  if (!conversion.pois.features.empty()) {
    poiFile = base + "_POI_01.rmf";
    const std::string poiTemporary = staged.Make(poiFile, &report.error);
    if (poiTemporary.empty() || !StagedFiles::Fill(poiTemporary, poiBytes.bytes, &report.error)) return report;
    // The map engine loads a point-of-interest file only beside its
    // database, which holds the points' names, addresses and phones.
    poiCompanion = base + "_POI_01.pdb";
    const std::string databaseTemporary = staged.Make(poiCompanion, &report.error);
    if (databaseTemporary.empty() || !WritePoiDatabase(conversion.poiRecords, databaseTemporary, &report.error)) {
      return report;
    }
  }
  if (!staged.Commit(&report.error)) return report;
  report.streetFile = streetFile;
  report.poiFile = poiFile;
  report.poiCompanion = poiCompanion;
  report.ok = true;
  return report;
}

}  // namespace osm2rmf
