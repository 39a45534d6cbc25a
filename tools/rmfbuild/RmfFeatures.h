// Map features for test fixtures: tests describe points, lines, boundary
// lines and areas (outer ring with holes) with their texts and attribute
// triples, and BuildFeatureMap turns them into a MapDescription the way a map
// compiler would: every feature goes to the smallest tile whose rectangle
// (with its quarter-cell overlap) holds it; a feature too large for any tile
// allowed for its detail level is cut at the cell borders of the coarsest
// allowed tile level (lines into runs that share their end points, areas into
// rings closed along the cell border), and every piece again goes to the
// smallest tile that holds it. Pieces become parts of structured records,
// several to a record up to a size limit; long runs are split into parts
// that share their end points. The result says for every part which feature
// and piece it came from, so a test can map a query hit back to its feature.
//
// ExpectedFeatures is the ground truth for query tests: which features a
// feature query over a convex polygon, a level range and class filters has
// to return, worked out in doubles from the description (and, to tell how
// an area comes back, from the rings its cut writes).
//
// Conventions the fixtures follow:
//  - Class codes are "LCx": detail level L 1..8, class C 1..7, category x
//    ("0" point, "1" line, "2" area, "B" boundary line). Area rings add a
//    fourth character, the ring's mark.
//  - A ring marked '+' has the area on its right (outer rings clockwise,
//    holes counter-clockwise), a ring marked '-' on its left. A ring given
//    without a mark gets the one its turn and role call for. When the outer
//    ring carries the other mark explicitly, the feature keeps that inverted
//    relation for every ring made by cutting.
//  - One-way streets: the route-class attribute (code "L71", see
//    RouteClassAttribute) gets '+' as fourth character when it may be
//    travelled only in the order of the vertices, '-' only against it.
//    The own code of a class-7 line ("L71") has the route-class pair
//    itself, so SetOneWay marks it too (Feature::mark). Cutting never
//    reverses a line, so the mark holds for every piece.
//  - The part's own triple is (class code, name, detail); the feature's
//    attribute triples follow as attribute words before the first vertex,
//    vertex attributes right after the vertex they belong to. A vertex that
//    ends one piece and starts the next carries its attributes in both.
//    Attributes stored after a vertex belong to the stretch that follows
//    it, so a cut inside that stretch leaves them on its first piece only;
//    an attribute given "before" a vertex goes after the point that
//    precedes the vertex in the part holding both (the vertex before it,
//    or the last cut point between them), so it stays on the piece of the
//    stretch that touches the vertex.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "mapengine/format/base/TiTypes.h"
#include "tools/rmfbuild/RmfBuilder.h"

namespace rmfbuild {

// ---- describing features -------------------------------------------------------

// The third character of a class code.
enum class FeatureCategory : char { kPoint = '0', kLine = '1', kArea = '2', kBoundary = 'B' };

struct FeatureClass {
  int level = 1;       // detail level 1..8
  int classDigit = 1;  // 1..7
  FeatureCategory category = FeatureCategory::kLine;

  // "LCx"; with a mark ('+' or '-') as fourth character when `mark` is not 0.
  std::string Code(char mark = 0) const;
  // The class of a code's first three characters ("b" counts as "B");
  // empty when they are not a level digit, a class digit and a category.
  static std::optional<FeatureClass> FromCode(std::string_view code);
  bool operator==(const FeatureClass&) const = default;
};

// One-way state of a street, as the fourth character of its route-class
// attribute.
enum class OneWay { kBoth, kAlong, kAgainst };  // no mark, '+', '-'

struct VertexAttribute {
  std::size_t vertex = 0;  // index into Feature::points
  TextTriple triple;
  // Written after the point before the vertex instead of after the vertex:
  // an attribute of the stretch that ends at the vertex (vertex 1 or more),
  // which a cut keeps on the piece of that stretch that touches the vertex.
  bool before = false;
};

struct FeatureRing {
  std::vector<TiPoint> points;  // at least 3 corners; a closing point equal to the first is optional
  char mark = 0;                // '+', '-', or 0 for the mark its turn and role call for
};

struct Feature {
  FeatureClass featureClass;
  std::string name;
  std::string detail;
  std::vector<TextTriple> attributes;             // words before the first vertex, in order
  std::vector<VertexAttribute> vertexAttributes;  // points and lines only; in order per vertex
  std::vector<TiPoint> points;                    // a point: 1; a line or boundary: 2 or more
  std::vector<FeatureRing> rings;                 // an area: the outer ring, then its holes
  char mark = 0;  // points and lines: fourth character of the own code ('+' or '-'), 0 for none

  static Feature Point(FeatureClass c, std::string name, TiPoint at, std::string detail = {});
  static Feature Line(FeatureClass c, std::string name, std::vector<TiPoint> points,
                      std::string detail = {});
  static Feature Area(FeatureClass c, std::string name, std::vector<TiPoint> outer,
                      std::vector<std::vector<TiPoint>> holes = {}, std::string detail = {});

  Feature& Attribute(TextTriple triple);
  Feature& VertexAttr(std::size_t vertex, TextTriple triple);
  // An attribute of the stretch that ends at `vertex` (see
  // VertexAttribute::before).
  Feature& VertexAttrBefore(std::size_t vertex, TextTriple triple);
  // Sets the one-way mark on every route-class attribute (code pair 7-1) of
  // the feature, the own code of a class-7 line included; false when it has
  // none (nothing changed then).
  bool SetOneWay(OneWay way);
};

// A route-class attribute: code "L71" plus the one-way mark, the value
// (RoadValue) and the name text (the street name as the map engine reads it).
TextTriple RouteClassAttribute(int level, std::string value, std::string name,
                               OneWay way = OneWay::kBoth);

// A route-class value: road type ('1' freeway, '2' and '3' ordinary, '4' slow
// road, '8' roundabout, '9' ramp, 'V' not travelled), the road kind
// character, the speed class ('0'..'9' in steps of 10 mph, 'A'.. in steps of
// 10 km/h) and, when `toll` is set, the toll mark at the fifth character.
std::string RoadValue(char roadType, char kind, char speedClass, bool toll = false);

// ---- the map -------------------------------------------------------------------

// Tile levels a detail level's features may go to: a feature goes to the
// finest of them whose tile holds it; one that no tile holds is cut at the
// coarsest.
struct TileLevelRange {
  int finest = 0;
  int coarsest = 0;
  bool operator==(const TileLevelRange&) const = default;
};

enum class PointWidth { kAuto, kNarrow, kWide };  // auto: 4-byte points when the record's points allow

struct FeatureMap {
  // Index d - 1 for detail level d; by default detail level d goes to tile level d - 1.
  std::array<TileLevelRange, 8> tileLevels{{{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6}, {7, 7}}};
  bool compressed = false;
  bool wideEntries = false;           // 12-byte feature entries instead of 10
  std::uint8_t version = 0x11;
  PointWidth pointWidth = PointWidth::kAuto;
  std::size_t recordBytes = 8192;     // records take parts up to this size; a lone part may exceed it
  std::size_t partVertices = 500;     // longer runs and rings are split into parts of this many points
  bool sharePoints = true;            // equal points of a record share one point-table entry
  std::vector<std::string> annotations;
  std::vector<Feature> features;

  std::size_t Add(Feature f) {
    features.push_back(std::move(f));
    return features.size() - 1;
  }
  void Annotate(const std::string& key, const std::string& value) {
    annotations.push_back(key + ": " + value);
  }
};

// One part of the built file and where it came from.
struct FeaturePiece {
  std::size_t feature = 0;  // index into FeatureMap::features
  std::size_t piece = 0;    // the feature's cut piece (a run or a ring), in cutting order
  std::size_t chunk = 0;    // part of a long piece, in order along it
  bool whole = false;       // the feature was not cut
  bool closed = false;      // a whole ring: the last point repeats the first
  std::uint32_t tileId = 0;
  std::int32_t tileLevel = 0;
  std::uint16_t sequence = 0;  // record within the tile
  std::uint16_t entry = 0;     // feature entry (part) within the record
  std::vector<TiPoint> points;  // as written
  // Points and lines: the feature's vertex index behind each point, -1 for a
  // point made by cutting; the span of the original line this part covers
  // (vertex index plus fraction of the segment that follows it).
  std::vector<int> vertices;
  double from = 0;
  double to = 0;
  char mark = 0;  // the own code's mark: an area ring's, or the feature's for a point or line
};

struct FeatureBuild {
  bool ok = false;
  std::string error;  // why the features were refused
  MapDescription description;
  std::vector<FeaturePiece> pieces;  // in file order: tile id, record, entry

  // The part at (tile, record, entry); null when none.
  const FeaturePiece* Find(std::uint32_t tileId, std::uint16_t sequence, std::uint16_t entry) const;
  // The parts of one feature in cutting order (piece, then chunk).
  std::vector<const FeaturePiece*> PiecesOf(std::size_t feature) const;
  explicit operator bool() const { return ok; }
};

// Cuts, places and packs the features. Refused (ok false, error set) for a
// class code outside the ranges above, geometry that does not fit the kind
// (a point with other than one point, a line with fewer than two or with two
// equal consecutive points, a ring with fewer than three corners or no area),
// a coordinate outside the world (x -2^27 .. 2^27 - 1, y -2^26 .. 2^26 - 1),
// vertex attributes on an area or naming a missing vertex (or vertex 0 for
// one given before its vertex), rings that cross
// each other or turn so that a cut cannot close them, tile levels outside
// 0..15, and any part the record format cannot hold.
FeatureBuild BuildFeatureMap(const FeatureMap& map);

// ---- ground truth for feature queries ---------------------------------------

// Class filter texts per category, as RmfQuerySetClassFilter takes them
// (only the class digits among the first 9 characters count; empty: off).
struct ClassFilters {
  std::string points;
  std::string lines;
  std::string areas;
  std::string boundaries;
};

enum class QueryRelation {
  kInside,     // a point inside the polygon (one on its edge counts as inside)
  kMeets,      // a line that meets the polygon
  kRingsMeet,  // an area some of whose written rings meet the polygon: its ring runs come back
  kEncloses,   // an area that holds the whole polygon and none of whose rings meets it
};

struct ExpectedFeature {
  std::size_t feature = 0;
  FeatureCategory category = FeatureCategory::kPoint;
  bool meets = false;     // the exact answer
  bool marginal = false;  // within the tolerance of the polygon's edge: a query may answer either way
  QueryRelation relation = QueryRelation::kInside;  // when it meets
};

struct ExpectedResult {
  bool ok = false;
  std::string error;
  std::vector<ExpectedFeature> features;  // every feature that meets or is marginal, ascending

  std::vector<std::size_t> Certain() const;   // meets and not marginal: a query must return these
  std::vector<std::size_t> Possible() const;  // meets or marginal: a query may return only these
  const ExpectedFeature* Find(std::size_t feature) const;
};

// The features a feature query has to return for the convex polygon (either
// turn, closing point allowed), the detail levels levelLow..levelHigh (either
// order) and the class filters: points inside the polygon, lines and
// boundary lines that meet it, areas whose rings meet it or that hold it
// whole, each only when its level lies in the range and its class digit is
// in its category's filter. A feature within `tolerance` map units of the
// polygon's edge (a cut point or a clipped query corner may lie half a unit
// away) is marked marginal. Refused for fewer than 3 corners, two equal
// consecutive corners, a polygon that is not convex, or a map that
// BuildFeatureMap refuses.
ExpectedResult ExpectedFeatures(const FeatureMap& map, const std::vector<TiPoint>& polygon, int levelLow,
                                int levelHigh, const ClassFilters& filters, double tolerance = 1.0);

// The same over the rectangle that RmfQuerySetRect makes of two corners
// (a side of zero length grows by one unit).
ExpectedResult ExpectedFeatures(const FeatureMap& map, const TiRect& rect, int levelLow, int levelHigh,
                                const ClassFilters& filters, double tolerance = 1.0);

// The query polygon RmfQuerySetRect makes of two corners: (x1, y1), (x1, y2),
// (x2, y2), (x2, y1), a side of zero length grown by one unit.
std::vector<TiPoint> QueryRectPolygon(const TiRect& rect);

// ---- text form -------------------------------------------------------------------

// A feature map in text, one statement per line; "#" starts a comment line.
// Numbers are decimal, points X,Y, texts "quoted" (\" \\ \n \t \xHH).
//
//   map [levels=D:F[-C],...] [compressed] [wide-entries] [version=N]
//       [points=auto|narrow|wide] [record-bytes=N] [part-vertices=N] [separate-points]
//                                detail level D goes to tile levels F..C
//   annotation TEXT              one annotation ("FILENAME: x.rmf")
//   feature point|line|boundary|area "CODE" "NAME" ["DETAIL"] [X,Y ...]
//                                a feature; the code's category must match the
//                                kind; points of a point or line may follow
//   points X,Y ...               more points of the last point or line
//   ring [+|-] X,Y ...           a ring of the last area: the outer ring first
//   attr "CODE" "NAME" "DETAIL"  an attribute triple of the last feature
//   vattr I "CODE" "NAME" "DETAIL"  an attribute of vertex I
//   oneway along|against|both    one-way mark of the route-class attributes
//
// Example:
//   map levels=1:0-2 compressed
//   feature line "151" "Main Street" 100,100 9000,120
//   attr "171" "3 5" "Main Street"
//   oneway along
//   feature area "122" "Lake" ""
//   ring 0,0 0,5000 5000,5000 5000,0
//   ring 1000,1000 2000,1000 2000,2000 1000,2000
struct FeatureParseResult {
  bool ok = false;
  std::string error;  // "line N: why"
  FeatureMap map;
  explicit operator bool() const { return ok; }
};

FeatureParseResult ParseFeatureMap(std::string_view text);

}  // namespace rmfbuild
