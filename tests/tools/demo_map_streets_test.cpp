// Checks on real data: the demo street map, converted at build time from the
// Neubrandenburg OpenStreetMap extract, is read as the map engine reads it.
//  - For every addressed object of the extract (a node or building with
//    addr:street and addr:housenumber) the features-near-a-point search at
//    its position must name first the street whose line lies nearest, as
//    this test works it out in doubles from the converter's streets, or a
//    street that the search may rightly put first: one as near to within a
//    unit, or one through the junction the search stands at (see
//    Disagreement). The test prints how often each happens.
//  - Every street part of the file is read as the map engine reads a street:
//    road type, one-way mark and name from its first attribute with code
//    pair 7-1 (the name plain, and detailed with the route numbers after
//    it), and trail or walkway from its first access value (pair 4-1).
//    What they should say is worked out here from the tags of the way, read
//    from the extract with libosmium.
#include <gtest/gtest.h>

#include <osmium/handler.hpp>
#include <osmium/handler/node_locations_for_ways.hpp>
#include <osmium/index/map/flex_mem.hpp>
#include <osmium/io/any_input.hpp>
#include <osmium/osm/way.hpp>
#include <osmium/visitor.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <limits>
#include <map>
#include <numbers>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "mapengine/format/features/RmfFeatureAttr.h"
#include "mapengine/format/features/RmfFeaturesNear.h"
#include "mapengine/format/features/RmfQuery.h"
#include "mapengine/format/store/RmfReader.h"
#include "mapengine/object/StreetNames.h"
#include "platform/os/text.h"
#include "tools/osm2rmf/Osm2Rmf.h"
#include "tools/rmfbuild/RmfFeatures.h"
#include "tools/rmfbuild/RmfMemoryReader.h"

namespace {

// Map units per metre at the equator (2^28 units a turn of 40,075 km); at
// Neubrandenburg's latitude (53.5 degrees) a unit of x is 0.6 as long.
constexpr double kUnitsPerMetre = 268435456.0 / 40075016.7;

// The street name the map engine says for a name text: its first plain
// piece, else its last route number.
std::string SpokenName(std::string_view text) { return platform::Utf16ToUtf8(StreetNameOfText(text, false, false)); }

// A street's name as the map engine reads it: the spoken name of the name
// text of the first attribute with code pair 7-1; empty when there is none.
std::string StreetNameOf(RmfReader* reader, const RmfFeatureRef& ref) {
  char code[16], value[64], name[256];
  for (std::int32_t a = 0; RmfFeatureAttribute(reader, ref, a, code, value, name) > 0; ++a) {
    if (std::string_view(code).substr(1, 2) == "71") return SpokenName(name);
  }
  return {};
}

// The search's answer at a point: the names of the streets in the order of
// its references, each once; the point its first reference stands at (the
// junction, or the nearest point inside a segment); the radius that found
// them.
struct NearAnswer {
  std::vector<std::string> names;
  std::optional<TiPoint> at;
  std::int32_t radius = 0;
};

NearAnswer SearchAt(RmfReader* reader, TiPoint at) {
  constexpr std::int32_t kCapacity = 64;
  RmfFeatureRef refs[kCapacity];
  std::int32_t found = 0;
  std::int32_t overflow = 0;
  NearAnswer answer;
  // As the map engine searches: from a small radius, doubled until the
  // search finds something (up to about 3 km).
  for (std::int32_t radius = static_cast<std::int32_t>(12 * kUnitsPerMetre); radius < 30000 && found <= 0;
       radius *= 2) {
    found = RmfFeaturesNear(reader, at.x, at.y, radius, -1, -1, refs, kCapacity, &overflow);
    answer.radius = radius;
  }
  TiPoint point{};
  if (found > 0 && RmfFeatureRefPoint(reader, &refs[0], &point) == 0) answer.at = point;
  for (std::int32_t i = 0; i < found; ++i) {
    const std::string street = StreetNameOf(reader, refs[i]);
    if (std::find(answer.names.begin(), answer.names.end(), street) == answer.names.end()) {
      answer.names.push_back(street);
    }
  }
  return answer;
}

// A point packed into one number, for looking points up.
std::int64_t Packed(TiPoint p) { return (static_cast<std::int64_t>(p.x) << 32) ^ static_cast<std::uint32_t>(p.y); }

// The yardstick: the street lines of the converter's output (classes 5 to 7,
// the classes the search is asked for), measured in doubles as the search
// measures, independently of the library's geometry: in map units, on the
// plane around the point whose x axis is scaled by the cosine of the
// point's latitude. Streets are told apart by their spoken name, as the map
// engine tells them apart.
class StreetLines {
 public:
  explicit StreetLines(const rmfbuild::FeatureMap& streets) {
    for (const rmfbuild::Feature& f : streets.features) {
      if (f.featureClass.classDigit < 5 || f.points.size() < 2) continue;
      const std::string* name = &names_.emplace_back(SpokenName(f.detail));
      for (const TiPoint& p : f.points) vertices_[Packed(p)].push_back(name);
      for (std::size_t i = 1; i < f.points.size(); ++i) {
        const Segment s{f.points[i - 1], f.points[i], name};
        const long x0 = Cell(std::min(s.a.x, s.b.x)), x1 = Cell(std::max(s.a.x, s.b.x));
        const long y0 = Cell(std::min(s.a.y, s.b.y)), y1 = Cell(std::max(s.a.y, s.b.y));
        for (long x = x0; x <= x1; ++x) {
          for (long y = y0; y <= y1; ++y) cells_[Key(x, y)].push_back(segments_.size());
        }
        byName_[*name].push_back(segments_.size());
        segments_.push_back(s);
      }
    }
  }

  struct Nearest {
    const std::string* name = nullptr;  // null when no street lies within about 7 km
    double distance = 0;
  };

  // The street whose line comes nearest to the point.
  Nearest NearestTo(TiPoint at) const {
    Nearest best;
    const double scale = XScale(at);
    // Rings of cells outward until the nearest line cannot be beaten: the
    // cells of ring k lie at least k cells away (x shortened by the cosine).
    for (long ring = 0; ring < 40; ++ring) {
      for (long x = Cell(at.x) - ring; x <= Cell(at.x) + ring; ++x) {
        for (long y = Cell(at.y) - ring; y <= Cell(at.y) + ring; ++y) {
          if (std::max(std::labs(x - Cell(at.x)), std::labs(y - Cell(at.y))) != ring) continue;
          const auto it = cells_.find(Key(x, y));
          if (it == cells_.end()) continue;
          for (std::size_t i : it->second) {
            const double d = Distance(at, scale, segments_[i]);
            if (best.name == nullptr || d < best.distance) best = Nearest{segments_[i].name, d};
          }
        }
      }
      if (best.name != nullptr && best.distance <= static_cast<double>(ring) * kCell * scale) break;
    }
    return best;
  }

  // The distance from the point to the nearest line of that name; infinite
  // when there is none.
  double DistanceTo(TiPoint at, const std::string& name) const {
    double best = std::numeric_limits<double>::infinity();
    const auto it = byName_.find(name);
    if (it == byName_.end()) return best;
    for (std::size_t i : it->second) best = std::min(best, Distance(at, XScale(at), segments_[i]));
    return best;
  }

  // Whether a line of that name has a vertex at p.
  bool HasVertex(const std::string& name, TiPoint p) const {
    const auto it = vertices_.find(Packed(p));
    if (it == vertices_.end()) return false;
    return std::any_of(it->second.begin(), it->second.end(), [&](const std::string* n) { return *n == name; });
  }

  // Whether a segment of a line of that name ends at `end` and comes within
  // `within` of the point.
  bool SegmentEndsAt(TiPoint at, const std::string& name, TiPoint end, double within) const {
    const auto it = byName_.find(name);
    if (it == byName_.end()) return false;
    return std::any_of(it->second.begin(), it->second.end(), [&](std::size_t i) {
      const Segment& s = segments_[i];
      const bool ends = (s.a.x == end.x && s.a.y == end.y) || (s.b.x == end.x && s.b.y == end.y);
      return ends && Distance(at, XScale(at), s) <= within;
    });
  }

  static double PointDistance(TiPoint p, TiPoint q) {
    return std::hypot((q.x - p.x) * XScale(p), static_cast<double>(q.y - p.y));
  }

 private:
  struct Segment {
    TiPoint a, b;
    const std::string* name;
  };
  static constexpr double kCell = 2000;  // map units, about 300 m north-south

  static double XScale(TiPoint at) { return std::cos(at.y / osm2rmf::kUnitsPerDegree * std::numbers::pi / 180.0); }
  static long Cell(std::int32_t v) { return static_cast<long>(std::floor(v / kCell)); }
  static std::int64_t Key(long x, long y) { return (static_cast<std::int64_t>(x) << 32) ^ (y & 0xffffffff); }
  // From p to the segment, both ends taken relative to p first so that the
  // products stay small.
  static double Distance(TiPoint p, double scale, const Segment& s) {
    const double ax = (s.a.x - p.x) * scale, ay = s.a.y - p.y;
    const double dx = (s.b.x - s.a.x) * scale, dy = s.b.y - s.a.y;
    const double length2 = dx * dx + dy * dy;
    const double t = length2 == 0 ? 0 : std::clamp(-(ax * dx + ay * dy) / length2, 0.0, 1.0);
    return std::hypot(ax + t * dx, ay + t * dy);
  }

  std::deque<std::string> names_;  // the spoken name of each street, where segments_ point
  std::vector<Segment> segments_;
  std::unordered_map<std::int64_t, std::vector<std::size_t>> cells_;
  std::unordered_map<std::string, std::vector<std::size_t>> byName_;
  std::unordered_map<std::int64_t, std::vector<const std::string*>> vertices_;
};

// Why the search may name another street first than the nearest one, and
// still be right:
//  - kTie: the street it names comes as near to within one map unit. The
//    search rounds every distance to whole units in fixed point and keeps
//    the first of equally near lines in the order the query meets them, so
//    lines less than a unit apart in doubles are equally near to it.
//  - kJunction: it stands at a junction of both streets, where it lists
//    every street through that point in the order of the records. Where the
//    nearest point is the junction itself the named street is as near, a
//    tie; the junctions counted here are those the search moves to: the
//    nearest point lies inside a segment of the nearest street, that
//    segment ends at the junction, and the end lies within the search
//    radius (the search takes such an end for the place asked about). The
//    radius is allowed two units more, since the search measures the end
//    with a plane distance whose x term is cut to whole units.
enum class Disagreement { kTie, kJunction, kNeither };

Disagreement Classify(const StreetLines& lines, TiPoint address, const StreetLines::Nearest& nearest,
                      const NearAnswer& answer) {
  const std::string& named = answer.names.front();
  if (lines.DistanceTo(address, named) <= nearest.distance + 1) return Disagreement::kTie;
  if (!answer.at) return Disagreement::kNeither;
  const TiPoint junction = *answer.at;
  const bool atBoth =
      lines.HasVertex(named, junction) && lines.SegmentEndsAt(address, *nearest.name, junction, nearest.distance + 1);
  const bool reached = StreetLines::PointDistance(address, junction) <= answer.radius + 2;
  return atBoth && reached ? Disagreement::kJunction : Disagreement::kNeither;
}

TEST(DemoMap, AtEveryAddressTheSearchNamesTheNearestStreetFirst) {
  const osm2rmf::Conversion osm = osm2rmf::ConvertOsmFile(DEMO_OSM_PATH, "Neubrandenburg");
  ASSERT_TRUE(osm) << osm.error;
  ASSERT_GT(osm.addresses.size(), 9000u) << "the extract holds about 10,000 addressed objects";

  rmfbuild::MemoryReader maps(16u << 20);
  ASSERT_NE(maps.reader(), nullptr);
  ASSERT_EQ(maps.AddFile(DEMO_MAP_PATH), 1) << maps.error();
  RmfReader* reader = maps.reader();
  // Streets are the line features of classes 5 to 7.
  RmfQuerySetClassFilter(reader, 'R', "567");

  const StreetLines lines(osm.streets);
  std::size_t ownNearest = 0, agree = 0, ties = 0, junctions = 0, neither = 0, none = 0;
  for (const osm2rmf::Address& address : osm.addresses) {
    const StreetLines::Nearest nearest = lines.NearestTo(address.point);
    ASSERT_NE(nearest.name, nullptr) << address.street << " " << address.houseNumber;
    if (*nearest.name == address.street) ++ownNearest;
    const NearAnswer answer = SearchAt(reader, address.point);
    if (answer.names.empty()) {
      ++none;
      continue;
    }
    if (answer.names.front() == *nearest.name) {
      ++agree;
      continue;
    }
    switch (Classify(lines, address.point, nearest, answer)) {
      case Disagreement::kTie:
        ++ties;
        break;
      case Disagreement::kJunction:
        ++junctions;
        break;
      case Disagreement::kNeither:
        if (++neither <= 10) {
          ADD_FAILURE() << "at " << address.street << " " << address.houseNumber << " (" << address.point.x << ", "
                        << address.point.y << ") the search names \"" << answer.names.front() << "\" first, "
                        << lines.DistanceTo(address.point, answer.names.front()) << " units away, standing at "
                        << (answer.at ? std::to_string(answer.at->x) + ", " + std::to_string(answer.at->y) : "?")
                        << " (radius " << answer.radius << "); the nearest street is \"" << *nearest.name << "\", "
                        << nearest.distance << " units away";
        }
        break;
    }
  }

  const double n = static_cast<double>(osm.addresses.size());
  std::printf(
      "addresses: %zu; their own street is the nearest line: %zu (%.1f%%)\n"
      "the search names the nearest street first: %zu (%.2f%%); another first: as near within a unit %zu, "
      "at a junction of both %zu, neither %zu; nothing found: %zu\n",
      osm.addresses.size(), ownNearest, 100.0 * static_cast<double>(ownNearest) / n, agree,
      100.0 * static_cast<double>(agree) / n, ties, junctions, neither, none);
  EXPECT_EQ(none, 0u);
  EXPECT_EQ(neither, 0u);
  // The converter put the streets where the addresses expect them: real
  // addresses are not always nearest to their own street (corner houses,
  // houses set back behind another street, houses on squares), about one in
  // ten here.
  EXPECT_GE(static_cast<double>(ownNearest) / n, 0.85);
  // Most addresses lie nearer to a street than to any junction: the
  // disagreements explained above stay the exception, not the rule that
  // would let them hide a search that stands anywhere.
  EXPECT_GE(static_cast<double>(agree) / n, 0.95);
}

// ---- streets read by the map engine's rule --------------------------------------------

// What a street should read, from the tags of its way.
struct ExpectedStreet {
  char roadType = 0;
  char mark = 0;  // '+' travel only along the way's node order, '-' only against it, 0 both ways
  std::string name;      // the name tag, else the last route number of the ref tag
  std::string detailed;  // the name followed by the other route numbers, joined by ", "
};

// The name and the detailed name a way's name and ref tags give: the name
// with the route numbers after it; without a name, the last route number
// with the others after it.
void NamesOf(std::string_view nameTag, std::string_view refTag, ExpectedStreet* e) {
  std::vector<std::string> refs;
  for (std::size_t start = 0; start <= refTag.size();) {
    const std::size_t end = std::min(refTag.find(';', start), refTag.size());
    std::string_view ref = refTag.substr(start, end - start);
    while (!ref.empty() && ref.front() == ' ') ref.remove_prefix(1);
    while (!ref.empty() && ref.back() == ' ') ref.remove_suffix(1);
    if (!ref.empty()) refs.emplace_back(ref);
    start = end + 1;
  }
  e->name = nameTag;
  if (e->name.empty() && !refs.empty()) {
    e->name = refs.back();
    refs.pop_back();
  }
  e->detailed = e->name;
  for (const std::string& ref : refs) e->detailed += ", " + ref;
  // A backslash would split a text into pieces: the converter makes it a slash.
  for (std::string* text : {&e->name, &e->detailed}) std::replace(text->begin(), text->end(), '\\', '/');
}

// The road type of a highway class: '1' freeway, '9' ramp, '2' and '3'
// ordinary roads, '4' slow roads (service, track, walkways, pedestrian
// zones), '8' a roundabout of ordinary roads. Nothing for ways that are no
// streets.
std::optional<ExpectedStreet> ExpectedOf(const osmium::TagList& tags) {
  static const std::map<std::string_view, char> kRoadTypes = {
      {"motorway", '1'},     {"motorway_link", '9'}, {"trunk", '2'},        {"trunk_link", '9'},
      {"primary", '2'},      {"primary_link", '3'},  {"secondary", '2'},    {"secondary_link", '3'},
      {"tertiary", '3'},     {"tertiary_link", '3'}, {"unclassified", '3'}, {"residential", '3'},
      {"road", '3'},         {"living_street", '4'}, {"service", '4'},      {"track", '4'},
      {"pedestrian", '4'},   {"footway", '4'},       {"path", '4'},         {"cycleway", '4'},
      {"steps", '4'},        {"bridleway", '4'},
  };
  auto tag = [&](const char* key) { return std::string_view(tags.get_value_by_key(key, "")); };
  const auto road = kRoadTypes.find(tag("highway"));
  if (road == kRoadTypes.end() || tag("area") == "yes") return std::nullopt;
  ExpectedStreet e;
  const bool roundabout = tag("junction") == "roundabout";
  e.roadType = roundabout && (road->second == '2' || road->second == '3') ? '8' : road->second;
  const std::string_view oneway = tag("oneway");
  if (oneway == "yes" || oneway == "true" || oneway == "1") {
    e.mark = '+';
  } else if (oneway == "-1" || oneway == "reverse") {
    e.mark = '-';
  } else if (oneway != "no" && oneway != "false" && oneway != "0" && (tag("highway") == "motorway" || roundabout)) {
    e.mark = '+';
  }
  NamesOf(tag("name"), tag("ref"), &e);
  return e;
}

using Segment = std::pair<std::int64_t, std::int64_t>;  // two points, each packed into one number

// The streets of the extract and, for every segment between two of their
// nodes, the ways it belongs to.
class ExtractStreets : public osmium::handler::Handler {
 public:
  void way(const osmium::Way& way) {
    std::optional<ExpectedStreet> e = ExpectedOf(way.tags());
    if (!e) return;
    const std::size_t index = streets_.size();
    std::optional<TiPoint> last;
    bool usable = false;
    for (const osmium::NodeRef& n : way.nodes()) {
      if (!n.location().valid()) {
        last.reset();
        continue;
      }
      const TiPoint p{osm2rmf::LongitudeToUnits(n.location().lon()), osm2rmf::LatitudeToUnits(n.location().lat())};
      if (last && (last->x != p.x || last->y != p.y)) {
        segments_[Segment{Packed(*last), Packed(p)}].push_back(index);
        usable = true;
      }
      last = p;
    }
    streets_.push_back(std::move(*e));
    usable_.push_back(usable);
  }

  const std::vector<ExpectedStreet>& streets() const { return streets_; }
  bool Usable(std::size_t street) const { return usable_[street]; }
  // The streets that have the segment a-b, in this direction.
  std::vector<std::size_t> WithSegment(TiPoint a, TiPoint b) const {
    const auto it = segments_.find(Segment{Packed(a), Packed(b)});
    return it == segments_.end() ? std::vector<std::size_t>{} : it->second;
  }

 private:
  struct SegmentHash {
    std::size_t operator()(const Segment& s) const { return std::hash<std::int64_t>()(s.first * 31 + s.second); }
  };
  std::vector<ExpectedStreet> streets_;
  std::vector<bool> usable_;
  std::unordered_map<Segment, std::vector<std::size_t>, SegmentHash> segments_;
};

// The texts of a part as the map engine reads them.
struct StreetReading {
  bool routeClass = false;  // an attribute with pair 7-1 was found
  std::string code, value;
  std::string name, detailed;  // the street name made of its name text, plain and detailed
  std::string access;  // the first non-empty value of an attribute with pair 4-1
};

StreetReading ReadStreet(RmfReader* reader, const RmfFeatureRef& ref) {
  StreetReading s;
  char code[16], value[64], name[256];
  for (std::int32_t a = 0; RmfFeatureAttribute(reader, ref, a, code, value, name) > 0; ++a) {
    const std::string_view pair = std::string_view(code).substr(1, 2);
    if (pair == "71" && !s.routeClass) {
      s.routeClass = true;
      s.code = code;
      s.value = value;
      s.name = SpokenName(name);
      s.detailed = platform::Utf16ToUtf8(StreetNameOfText(name, true, false));
    }
    if (pair == "41" && s.access.empty()) s.access = value;
  }
  return s;
}

TEST(DemoMap, EveryStreetReadsRoadTypeOneWayAndNameFromItsFirstRouteClassAttribute) {
  ExtractStreets extract;
  {
    osmium::io::Reader in(DEMO_OSM_PATH, osmium::osm_entity_bits::node | osmium::osm_entity_bits::way);
    osmium::index::map::FlexMem<osmium::unsigned_object_id_type, osmium::Location> index;
    osmium::handler::NodeLocationsForWays<decltype(index)> locations(index);
    locations.ignore_errors();  // nodes missing from the extract stay invalid locations
    osmium::apply(in, locations, extract);
    in.close();
  }
  ASSERT_GT(extract.streets().size(), 3000u) << "the extract holds several thousand highway ways";

  const osm2rmf::Conversion osm = osm2rmf::ConvertOsmFile(DEMO_OSM_PATH, "Neubrandenburg");
  ASSERT_TRUE(osm) << osm.error;
  // The build of the street features says where each part lies in the file.
  const rmfbuild::FeatureBuild built = rmfbuild::BuildFeatureMap(osm.streets);
  ASSERT_TRUE(built.ok) << built.error;

  rmfbuild::MemoryReader maps(16u << 20);
  ASSERT_NE(maps.reader(), nullptr);
  ASSERT_EQ(maps.AddFile(DEMO_MAP_PATH), 1) << maps.error();
  RmfReader* reader = maps.reader();

  std::vector<bool> found(extract.streets().size(), false);
  std::size_t parts = 0, wrong = 0, ambiguous = 0, withRouteNumbers = 0;
  for (const rmfbuild::FeaturePiece& piece : built.pieces) {
    const rmfbuild::Feature& f = osm.streets.features[piece.feature];
    // The way of the feature: the one that has its first and its last segment.
    std::vector<std::size_t> ways = extract.WithSegment(f.points[0], f.points[1]);
    const std::vector<std::size_t> ending = extract.WithSegment(f.points[f.points.size() - 2], f.points.back());
    std::erase_if(ways, [&](std::size_t w) { return std::find(ending.begin(), ending.end(), w) == ending.end(); });
    ASSERT_FALSE(ways.empty()) << "a street of no way: " << f.detail;
    if (ways.size() > 1) ++ambiguous;  // ways drawn over each other: any of them may be meant

    RmfFeatureRef ref{piece.tileId, 0, piece.sequence, piece.entry, 0, 0, kRmfPositionWhole};
    RmfFeatureRef whole{};
    ASSERT_EQ(RmfFeatureRefWhole(reader, ref, &whole), 1);
    TiPoint* points = nullptr;
    const std::int32_t n = RmfFeatureRefPoints(reader, whole, &points);
    ASSERT_EQ(n, static_cast<std::int32_t>(piece.points.size())) << "the file holds another part here";
    for (std::int32_t i = 0; i < n; ++i) {
      ASSERT_TRUE(points[i].x == piece.points[i].x && points[i].y == piece.points[i].y) << f.detail;
    }
    ++parts;

    const StreetReading read = ReadStreet(reader, whole);
    withRouteNumbers += read.detailed != read.name ? 1 : 0;
    bool right = false;
    std::string expected;
    for (std::size_t w : ways) {
      found[w] = true;
      const ExpectedStreet& e = extract.streets()[w];
      const std::string code = std::string("171") + (e.mark != 0 ? std::string(1, e.mark) : "");
      right = right || (read.routeClass && read.code == code && !read.value.empty() && read.value[0] == e.roadType &&
                        read.name == e.name && read.detailed == e.detailed);
      expected = code + " \"" + std::string(1, e.roadType) + "...\" \"" + e.name + "\" \"" + e.detailed + "\"";
    }
    // No street reads as a trail ('R') or a walkway ('W') by the first
    // letter of its name.
    right = right && (read.access.empty() || (read.access[0] != 'R' && read.access[0] != 'W'));
    if (right) continue;
    if (++wrong <= 10) {
      ADD_FAILURE() << "class " << f.featureClass.classDigit << " street \"" << f.detail << "\" reads " << read.code
                    << " \"" << read.value << "\" \"" << read.name << "\" \"" << read.detailed << "\", access \""
                    << read.access
                    << "\"; its way says " << expected;
    }
  }

  std::size_t missing = 0;
  for (std::size_t w = 0; w < found.size(); ++w) missing += extract.Usable(w) && !found[w] ? 1 : 0;
  std::printf(
      "street parts read: %zu, of ways drawn over each other: %zu, with route numbers after the name: %zu, "
      "reading wrong: %zu\n",
      parts, ambiguous, withRouteNumbers, wrong);
  EXPECT_EQ(wrong, 0u);
  EXPECT_GT(withRouteNumbers, 100u) << "the extract's main roads carry their numbers";
  EXPECT_EQ(missing, 0u) << "highway ways with usable nodes that became no street";
  EXPECT_LT(ambiguous * 100, parts) << "the matching of parts to ways means little";
}

}  // namespace
