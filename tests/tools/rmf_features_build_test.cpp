// Tests of the feature builder: features cut across tiles must join back to
// their source geometry (every segment covered, cut points shared, areas
// covering exactly the source area with closed rings whose marks tell the
// area's side), every piece must lie in its tile's rectangle, texts and
// attributes must survive into the records as the library decodes them,
// long runs must be split into parts and records within the limits, level
// masks and class summary must match the pieces, output must be the same
// for the same input, and the files must read back through the reader. The
// ground-truth helper and the text form are tested at the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "mapengine/format/store/RmfFileFormat.h"
#include "mapengine/format/store/RmfReader.h"
#include "mapengine/format/store/RmfTile.h"
#include "tools/rmfbuild/RmfBuilder.h"
#include "tools/rmfbuild/RmfFeatures.h"
#include "tools/rmfbuild/RmfMemoryReader.h"

namespace {

using rmfbuild::BuildFeatureMap;
using rmfbuild::Feature;
using rmfbuild::FeatureBuild;
using rmfbuild::FeatureCategory;
using rmfbuild::FeatureClass;
using rmfbuild::FeatureMap;
using rmfbuild::FeaturePiece;
using rmfbuild::TextTriple;
using Bytes = std::vector<std::uint8_t>;

constexpr FeatureClass kStreet{1, 5, FeatureCategory::kLine};
constexpr FeatureClass kLake{1, 2, FeatureCategory::kArea};
constexpr FeatureClass kShop{1, 3, FeatureCategory::kPoint};
constexpr std::int64_t kCell0 = 4096;  // cell of tile level 0, where detail level 1 goes by default

std::string PointText(const TiPoint& p) { return "(" + std::to_string(p.x) + "," + std::to_string(p.y) + ")"; }

bool Same(const TiPoint& a, const TiPoint& b) { return a.x == b.x && a.y == b.y; }

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if (a % b != 0 && ((a < 0) != (b < 0))) --q;
  return q;
}

TiRect TileRect(std::uint32_t id) {
  TiRect r{};
  EXPECT_EQ(RmfTileRect(id, &r), 1) << id;
  return r;
}

bool InRect(const TiPoint& p, const TiRect& r) { return p.x >= r.x1 && p.x <= r.x2 && p.y >= r.y1 && p.y <= r.y2; }

double SegmentDistance(const TiPoint& p, const TiPoint& a, const TiPoint& b) {
  const double dx = static_cast<double>(b.x) - a.x, dy = static_cast<double>(b.y) - a.y;
  const double len2 = dx * dx + dy * dy;
  double t = len2 == 0 ? 0 : ((static_cast<double>(p.x) - a.x) * dx + (static_cast<double>(p.y) - a.y) * dy) / len2;
  t = std::clamp(t, 0.0, 1.0);
  return std::hypot(a.x + t * dx - p.x, a.y + t * dy - p.y);
}

double RunDistance(const TiPoint& p, const std::vector<TiPoint>& run, bool closed) {
  double best = 1e300;
  for (std::size_t i = 0; i + 1 < run.size(); ++i) best = std::min(best, SegmentDistance(p, run[i], run[i + 1]));
  if (closed && run.size() > 2) best = std::min(best, SegmentDistance(p, run.back(), run.front()));
  return best;
}

double Area2(const std::vector<TiPoint>& ring) {
  double s = 0;
  for (std::size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
    s += static_cast<double>(ring[j].x) * ring[i].y - static_cast<double>(ring[i].x) * ring[j].y;
  }
  return s;
}

// Even-odd over a set of rings.
bool InsideRings(const std::vector<const std::vector<TiPoint>*>& rings, double x, double y) {
  bool inside = false;
  for (const auto* ring : rings) {
    const auto& p = *ring;
    for (std::size_t i = 0, j = p.size() - 1; i < p.size(); j = i++) {
      if ((p[i].y > y) != (p[j].y > y) &&
          x < (static_cast<double>(p[j].x) - p[i].x) * (y - p[i].y) / (static_cast<double>(p[j].y) - p[i].y) + p[i].x) {
        inside = !inside;
      }
    }
  }
  return inside;
}

bool InsideFeature(const Feature& f, double x, double y) {
  std::vector<const std::vector<TiPoint>*> rings;
  for (const auto& r : f.rings) rings.push_back(&r.points);
  return InsideRings(rings, x, y);
}

// ---- reading records back ---------------------------------------------------------

struct DecodedEntry {
  std::uint32_t classBits = 0;
  TextTriple text;
  std::vector<std::uint16_t> words;
};

struct DecodedRecord {
  rmf::RmfRecordHeader header{};
  std::vector<TiPoint> points;
  std::vector<DecodedEntry> entries;
  std::vector<std::uint8_t> bytes;

  // The triple at a text offset; empty texts when it runs out of the record.
  TextTriple TripleAt(std::size_t offset) const {
    TextTriple t;
    std::size_t at = header.tableWords[4] + offset;
    for (std::string* s : {&t.code, &t.name, &t.detail}) {
      while (at < bytes.size() && bytes[at] != 0) *s += static_cast<char>(bytes[at++]);
      ++at;
    }
    return t;
  }
};

std::uint16_t U16(const Bytes& b, std::size_t at) { return static_cast<std::uint16_t>(b.at(at) | (b.at(at + 1) << 8)); }
std::uint32_t U32(const Bytes& b, std::size_t at) { return U16(b, at) | (std::uint32_t{U16(b, at + 2)} << 16); }

// Decodes a record with the library's header decoder and the layout the
// feature code reads: point table, entry table, word area, text area.
std::optional<DecodedRecord> Decode(const Bytes& record, bool wideEntries) {
  DecodedRecord d;
  d.bytes = record;
  if (!rmf::DecodeRecordHeader(record.data(), record.size(), &d.header)) return std::nullopt;
  const auto& w = d.header.tableWords;
  const std::size_t pointSize = d.header.widePoints ? 8 : 4;
  if (std::size_t{w[0]} + std::size_t{w[1]} * pointSize > record.size()) return std::nullopt;
  for (std::size_t i = 0; i < w[1]; ++i) {
    const std::size_t at = w[0] + i * pointSize;
    if (d.header.widePoints) {
      d.points.push_back(TiPoint{static_cast<std::int32_t>(U32(record, at)), static_cast<std::int32_t>(U32(record, at + 4))});
    } else {
      d.points.push_back(TiPoint{d.header.pointBase.x + U16(record, at), d.header.pointBase.y + U16(record, at + 2)});
    }
  }
  const std::size_t entrySize = wideEntries ? 12 : 10;
  for (std::size_t i = 0; i < w[3]; ++i) {
    const std::size_t at = w[2] + i * entrySize;
    if (at + entrySize > record.size()) return std::nullopt;
    DecodedEntry e;
    e.classBits = U32(record, at);
    e.text = d.TripleAt(U16(record, at + 4));
    const std::size_t words = w[7] + 2 * std::size_t{U16(record, at + 6)};
    const std::size_t count = U16(record, at + 8);
    if (words + 2 * count > record.size()) return std::nullopt;
    for (std::size_t k = 0; k < count; ++k) e.words.push_back(U16(record, words + 2 * k));
    d.entries.push_back(std::move(e));
  }
  return d;
}

struct Built {
  FeatureBuild features;
  rmfbuild::BuildResult file;
  std::map<std::pair<std::uint32_t, std::uint16_t>, DecodedRecord> records;
};

// Builds the features and the file, decodes every record and checks that
// each part holds what its piece says: own triple, the feature's attribute
// words, the piece's points in order and each source vertex's attributes
// right after it, followed by those that go before the next point's source
// vertex; and that every entry of every record belongs to a piece.
Built BuildAndCheck(const FeatureMap& map) {
  Built b;
  b.features = BuildFeatureMap(map);
  EXPECT_TRUE(b.features.ok) << b.features.error;
  if (!b.features.ok) return b;
  b.file = rmfbuild::Build(b.features.description);
  EXPECT_TRUE(b.file.ok) << b.file.error;
  if (!b.file.ok) return b;
  for (const auto& r : b.file.layout.records) {
    auto d = Decode(r.record, map.wideEntries);
    EXPECT_TRUE(d.has_value()) << "tile " << r.tileId << " record " << r.sequence;
    if (d) b.records.emplace(std::make_pair(r.tileId, r.sequence), std::move(*d));
  }
  std::map<std::pair<std::uint32_t, std::uint16_t>, std::size_t> partsSeen;
  for (const FeaturePiece& p : b.features.pieces) {
    SCOPED_TRACE("feature " + std::to_string(p.feature) + " piece " + std::to_string(p.piece) + " chunk " +
                 std::to_string(p.chunk));
    auto it = b.records.find({p.tileId, p.sequence});
    EXPECT_NE(it, b.records.end());
    if (it == b.records.end()) continue;
    ++partsSeen[{p.tileId, p.sequence}];
    const DecodedRecord& rec = it->second;
    EXPECT_LT(p.entry, rec.entries.size());
    if (p.entry >= rec.entries.size()) continue;
    const DecodedEntry& e = rec.entries[p.entry];
    const Feature& f = map.features[p.feature];
    EXPECT_EQ(e.text, (TextTriple{f.featureClass.Code(p.mark), f.name, f.detail}));
    EXPECT_EQ(e.classBits, *rmfbuild::ClassBitsOfCode(f.featureClass.Code()));
    std::size_t w = 0;
    for (const TextTriple& attr : f.attributes) {
      EXPECT_LT(w, e.words.size());
      if (w >= e.words.size()) break;
      EXPECT_NE(e.words[w] & 0x8000, 0);
      EXPECT_EQ(rec.TripleAt(e.words[w] & 0x7fff), attr);
      ++w;
    }
    std::vector<TiPoint> points;
    std::vector<std::uint16_t> indexes;
    for (std::size_t k = 0; w < e.words.size(); ++k) {
      const std::uint16_t word = e.words[w++];
      EXPECT_EQ(word & 0x8000, 0) << "point word expected at " << w - 1;
      if ((word & 0x8000) != 0 || word >= rec.points.size()) break;
      points.push_back(rec.points[word]);
      indexes.push_back(word);
      const int vertex = k < p.vertices.size() ? p.vertices[k] : -1;
      const int next = k + 1 < p.vertices.size() ? p.vertices[k + 1] : -1;
      std::vector<TextTriple> expected;
      for (const auto& va : f.vertexAttributes) {
        if (!va.before && vertex >= 0 && va.vertex == static_cast<std::size_t>(vertex)) expected.push_back(va.triple);
      }
      for (const auto& va : f.vertexAttributes) {
        if (va.before && next >= 0 && va.vertex == static_cast<std::size_t>(next)) expected.push_back(va.triple);
      }
      for (const TextTriple& t : expected) {
        EXPECT_LT(w, e.words.size());
        if (w >= e.words.size()) break;
        EXPECT_EQ(rec.TripleAt(e.words[w] & 0x7fff), t);
        ++w;
      }
    }
    EXPECT_EQ(points.size(), p.points.size());
    for (std::size_t k = 0; k < std::min(points.size(), p.points.size()); ++k) {
      EXPECT_TRUE(Same(points[k], p.points[k])) << k << ": " << PointText(points[k]) << " vs " << PointText(p.points[k]);
    }
    if (p.closed && !indexes.empty()) {
      EXPECT_EQ(indexes.front(), indexes.back()) << "ring closes on its first point";
    }
  }
  for (const auto& [key, rec] : b.records) {
    EXPECT_EQ(partsSeen[key], rec.entries.size()) << "tile " << key.first << " record " << key.second;
  }
  return b;
}

// ---- lines --------------------------------------------------------------------------

// Pieces of a line: in order along it, each in its tile's rectangle and in
// one closed cell of the cut level, sharing end points and positions with the
// next, the source vertices unchanged, the cut points on cell borders and on
// the source line.
void CheckLinePieces(const FeatureMap& map, const FeatureBuild& built, std::size_t index) {
  SCOPED_TRACE("line " + std::to_string(index));
  const Feature& f = map.features[index];
  const auto pieces = built.PiecesOf(index);
  ASSERT_FALSE(pieces.empty());
  const auto& levels = map.tileLevels[static_cast<std::size_t>(f.featureClass.level - 1)];
  const std::int64_t cell = std::int64_t{4096} << levels.coarsest;
  EXPECT_EQ(pieces.front()->from, 0.0);
  EXPECT_EQ(pieces.back()->to, static_cast<double>(f.points.size() - 1));
  std::set<int> vertices;
  for (std::size_t k = 0; k < pieces.size(); ++k) {
    const FeaturePiece& p = *pieces[k];
    ASSERT_GE(p.points.size(), 2u);
    EXPECT_LT(p.from, p.to);
    EXPECT_GE(p.tileLevel, levels.finest);
    EXPECT_LE(p.tileLevel, levels.coarsest);
    const TiRect rect = TileRect(p.tileId);
    EXPECT_EQ(RmfTileLevel(p.tileId), p.tileLevel);
    for (std::size_t i = 0; i < p.points.size(); ++i) {
      const TiPoint& q = p.points[i];
      EXPECT_TRUE(InRect(q, rect)) << PointText(q) << " outside tile " << p.tileId;
      if (i > 0) {
        EXPECT_FALSE(Same(q, p.points[i - 1])) << "repeated point " << PointText(q);
      }
      if (p.vertices[i] >= 0) {
        EXPECT_TRUE(Same(q, f.points[static_cast<std::size_t>(p.vertices[i])]));
        vertices.insert(p.vertices[i]);
      } else {
        EXPECT_TRUE(q.x % cell == 0 || q.y % cell == 0) << "cut point " << PointText(q) << " off the borders";
        EXPECT_LE(RunDistance(q, f.points, false), 0.75) << "cut point " << PointText(q) << " off the line";
      }
    }
    if (!p.whole) {
      // One closed cell of the cut level holds the whole piece.
      std::int64_t minX = p.points[0].x, minY = p.points[0].y, maxX = minX, maxY = minY;
      for (const TiPoint& q : p.points) {
        minX = std::min<std::int64_t>(minX, q.x), maxX = std::max<std::int64_t>(maxX, q.x);
        minY = std::min<std::int64_t>(minY, q.y), maxY = std::max<std::int64_t>(maxY, q.y);
      }
      EXPECT_LE(maxX - FloorDiv(minX, cell) * cell, cell);
      EXPECT_LE(maxY - FloorDiv(minY, cell) * cell, cell);
    }
    if (k + 1 < pieces.size()) {
      EXPECT_TRUE(Same(p.points.back(), pieces[k + 1]->points.front())) << "gap after piece " << k;
      EXPECT_EQ(p.to, pieces[k + 1]->from);
    }
  }
  EXPECT_EQ(vertices.size(), f.points.size()) << "every source vertex is written";
}

struct LineCase {
  const char* name;
  std::vector<TiPoint> points;
  std::size_t pieces;  // 0: not checked
};

TEST(FeatureLines, CutAtCellBordersJoinBack) {
  const std::vector<LineCase> cases = {
      {"fits with the overlap", {{100, 100}, {5000, 200}}, 1},
      {"through a cell corner", {{100, 100}, {8000, 8000}}, 2},
      {"along a border, then across", {{4096, 100}, {4096, 9000}, {9000, 9000}}, 4},
      {"touches a border from below", {{1000, 1000}, {4096, 2000}, {1000, 3000}, {1000, 9000}}, 3},
      {"leaves and comes back", {{1000, 1000}, {6000, 1000}, {6000, 2000}, {1000, 2000}}, 3},
      {"leftward, negative", {{-100, -100}, {-9000, -5000}, {-20000, 3000}}, 0},
      {"long diagonal", {{-30000, -20000}, {35000, 26000}}, 0},
      {"starts on a corner", {{4096, 4096}, {100, 9000}, {-3000, -5000}}, 0},
      {"steep and shallow", {{10, 10}, {11, 20000}, {20000, 20001}}, 0},
  };
  FeatureMap map;
  for (const auto& c : cases) map.Add(Feature::Line(kStreet, c.name, c.points));
  Built b = BuildAndCheck(map);
  ASSERT_TRUE(b.features.ok);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    CheckLinePieces(map, b.features, i);
    if (cases[i].pieces != 0) {
      EXPECT_EQ(b.features.PiecesOf(i).size(), cases[i].pieces);
    }
  }
  // The corner cut is the corner itself.
  EXPECT_TRUE(Same(b.features.PiecesOf(1)[0]->points.back(), TiPoint{4096, 4096}));
}

TEST(FeatureLines, RandomLinesJoinBackAtSeveralLevels) {
  const unsigned seed = 20260401;
  std::mt19937 rng(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  FeatureMap map;
  map.tileLevels[0] = {0, 0};
  map.tileLevels[1] = {0, 2};
  map.tileLevels[2] = {1, 3};
  std::uniform_int_distribution<int> coord(-60000, 60000), count(2, 12), level(1, 3), jump(-9000, 9000);
  for (int i = 0; i < 150; ++i) {
    std::vector<TiPoint> points{{coord(rng), coord(rng)}};
    const int n = count(rng);
    while (static_cast<int>(points.size()) < n) {
      TiPoint next{points.back().x + jump(rng), points.back().y + jump(rng)};
      // Now and then snap to a border of the cut level, where the cases are hardest.
      if (rng() % 4 == 0) next.x = next.x / 4096 * 4096;
      if (rng() % 4 == 0) next.y = next.y / 8192 * 8192;
      if (!Same(next, points.back())) points.push_back(next);
    }
    map.Add(Feature::Line(FeatureClass{level(rng), 4, FeatureCategory::kLine}, "r" + std::to_string(i), points));
  }
  Built b = BuildAndCheck(map);
  ASSERT_TRUE(b.features.ok);
  for (std::size_t i = 0; i < map.features.size(); ++i) CheckLinePieces(map, b.features, i);
}

TEST(FeatureLines, TextsOneWayAndVertexAttributesSurviveCutting) {
  FeatureMap map;
  Feature street = Feature::Line(kStreet, "Main Street", {{1000, 1000}, {4096, 1500}, {9000, 2000}, {9500, 9000}},
                                 "downtown");
  street.Attribute(rmfbuild::RouteClassAttribute(1, rmfbuild::RoadValue('3', ' ', '5', true), "Main Street"))
      .Attribute(TextTriple{"121", "US\\WA", "Seattle\\\\King"})
      .VertexAttr(1, TextTriple{"12B", "A", "100-198"})
      .VertexAttr(1, TextTriple{"14B", "0", "no left turn"})
      .VertexAttr(3, TextTriple{"17B", "0RB", "Exit 5"});
  ASSERT_TRUE(street.SetOneWay(rmfbuild::OneWay::kAlong));
  map.Add(street);
  EXPECT_EQ(map.features[0].attributes[0].code, "171+");
  EXPECT_EQ(map.features[0].attributes[0].name, "3 5 1");
  Feature plain = Feature::Line(kStreet, "Alley", {{10, 10}, {20, 20}});
  EXPECT_FALSE(plain.SetOneWay(rmfbuild::OneWay::kAgainst));  // no route-class attribute to mark
  Built b = BuildAndCheck(map);  // checks every part's texts and words
  ASSERT_TRUE(b.features.ok);
  CheckLinePieces(map, b.features, 0);
  const auto pieces = b.features.PiecesOf(0);
  ASSERT_GE(pieces.size(), 3u);
  // Vertex 1 lies on a border: it ends one piece and starts the next, and
  // both carry its attributes (checked word by word above).
  int holders = 0;
  for (const FeaturePiece* p : pieces) holders += std::count(p->vertices.begin(), p->vertices.end(), 1);
  EXPECT_EQ(holders, 2);
}

// Attributes of a stretch stay on the piece of it that touches the vertex
// they are given for: after the vertex for the piece that starts there,
// before the vertex for the piece that ends there, which, when a cell
// border cuts the stretch, follows the last cut point, not the vertex
// before it.
TEST(FeatureLines, AttributesBeforeAVertexStayOnThePieceThatEndsThere) {
  FeatureMap map;
  // Vertex 1 lies on a cell border; the stretch from vertex 1 to 2 crosses
  // one border, the one from vertex 2 to 3 two.
  Feature street = Feature::Line(kStreet, "Main Street", {{1000, 1000}, {4096, 1500}, {9000, 2000}, {9500, 9000}});
  street.VertexAttr(2, TextTriple{"17B", "0PE", "1"})
      .VertexAttrBefore(3, TextTriple{"17B", "0PB", "2"})
      .VertexAttrBefore(1, TextTriple{"17B", "0RB", "3"})
      .VertexAttr(1, TextTriple{"17B", "0RE", "4"});
  map.Add(street);
  Built b = BuildAndCheck(map);  // checks every part's words against the rule
  ASSERT_TRUE(b.features.ok);
  CheckLinePieces(map, b.features, 0);

  // The stretches of the written parts that carry each attribute, as (from
  // point, to point) pairs of the source line's places.
  std::map<std::string, std::vector<std::pair<double, double>>> carriers;
  for (const FeaturePiece* p : b.features.PiecesOf(0)) {
    const DecodedEntry& e = b.records.at({p->tileId, p->sequence}).entries.at(p->entry);
    const DecodedRecord& rec = b.records.at({p->tileId, p->sequence});
    std::size_t point = 0;
    for (std::uint16_t word : e.words) {
      if ((word & 0x8000) == 0) {
        ++point;
        continue;
      }
      if (point == 0 || point >= p->points.size()) continue;  // the feature's own words, or after the last point
      const TextTriple t = rec.TripleAt(word & 0x7fff);
      const TiPoint a = p->points[point - 1], z = p->points[point];
      carriers[t.detail].emplace_back(a.x, z.x);
    }
  }
  using Stretches = std::vector<std::pair<double, double>>;
  // Vertex 2 (9000) to the first cut on the way to vertex 3 (y 4096, x 9149).
  ASSERT_EQ(carriers["1"].size(), 1u);
  EXPECT_EQ(carriers["1"][0].first, 9000);
  EXPECT_LT(carriers["1"][0].second, 9500);
  // The last cut (y 8192, x 9442) to vertex 3.
  ASSERT_EQ(carriers["2"].size(), 1u);
  EXPECT_GT(carriers["2"][0].first, carriers["1"][0].second);
  EXPECT_EQ(carriers["2"][0].second, 9500);
  EXPECT_EQ(carriers["3"], (Stretches{{1000, 4096}}));
  // Vertex 1 to the border at x 8192, which cuts the stretch on to vertex 2.
  EXPECT_EQ(carriers["4"], (Stretches{{4096, 8192}}));
}

// A class-7 line's own code ("L71") has the route-class pair itself, so a
// one-way mark goes on it too, in every piece a cut makes; other classes
// keep their own code unmarked.
TEST(FeatureLines, OneWayMarksTheOwnCodeOfAClassSevenLineInEveryPiece) {
  FeatureMap map;
  const std::vector<TiPoint> across = {{1000, 1000}, {4096, 1500}, {9000, 2000}, {9500, 9000}};
  for (const auto& [classDigit, way] :
       {std::pair{7, rmfbuild::OneWay::kAgainst}, std::pair{7, rmfbuild::OneWay::kAlong},
        std::pair{7, rmfbuild::OneWay::kBoth}, std::pair{6, rmfbuild::OneWay::kAlong}}) {
    Feature street = Feature::Line(FeatureClass{1, classDigit, FeatureCategory::kLine}, "3 E", across, "Ring");
    if (classDigit != 7) street.Attribute(rmfbuild::RouteClassAttribute(1, "3 E", "Ring"));
    ASSERT_TRUE(street.SetOneWay(way));
    map.Add(street);
  }
  map.tileLevels[0] = {0, 0};
  Built b = BuildAndCheck(map);
  ASSERT_TRUE(b.features.ok);
  const char* expected[] = {"171-", "171+", "171", "161"};
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    const auto pieces = b.features.PiecesOf(i);
    ASSERT_GE(pieces.size(), 3u) << "the line is cut at cell borders";
    for (const FeaturePiece* p : pieces) {
      EXPECT_EQ(b.records.at({p->tileId, p->sequence}).entries.at(p->entry).text.code, expected[i]) << i;
    }
  }
  EXPECT_EQ(map.features[3].attributes[0].code, "171+");
}

TEST(FeatureLines, LongRunsSplitIntoPartsAndRecords) {
  FeatureMap map;
  map.partVertices = 8;
  map.recordBytes = 220;
  std::vector<TiPoint> zigzag;
  for (int i = 0; i < 40; ++i) zigzag.push_back(TiPoint{100 + 90 * i, i % 2 == 0 ? 100 : 300});
  map.Add(Feature::Line(kStreet, "Zigzag", zigzag).Attribute(TextTriple{"171", "3 5", "Zigzag"}));
  std::vector<TiPoint> ring;
  for (int i = 0; i < 30; ++i) {
    const double a = 2 * 3.14159265358979 * i / 30;
    ring.push_back(TiPoint{2000 + static_cast<int>(800 * std::cos(a)), 2000 + static_cast<int>(800 * std::sin(a))});
  }
  map.Add(Feature::Area(kLake, "Round Lake", ring));
  Built b = BuildAndCheck(map);
  ASSERT_TRUE(b.features.ok);
  CheckLinePieces(map, b.features, 0);

  const auto line = b.features.PiecesOf(0);
  ASSERT_EQ(line.size(), 6u);  // 39 segments in parts of at most 7
  for (std::size_t k = 0; k < line.size(); ++k) {
    EXPECT_EQ(line[k]->piece, 0u);
    EXPECT_EQ(line[k]->chunk, k);
    EXPECT_LE(line[k]->points.size(), 8u);
  }
  // The ring becomes a chain of parts from its first point back to it.
  const auto lake = b.features.PiecesOf(1);
  ASSERT_GT(lake.size(), 1u);
  EXPECT_TRUE(Same(lake.front()->points.front(), ring.front()));
  EXPECT_TRUE(Same(lake.back()->points.back(), ring.front()));
  std::size_t ringPoints = 0;
  for (std::size_t k = 0; k < lake.size(); ++k) {
    EXPECT_FALSE(lake[k]->closed);
    EXPECT_LE(lake[k]->points.size(), 8u);
    ringPoints += lake[k]->points.size() - 1;
    if (k + 1 < lake.size()) {
      EXPECT_TRUE(Same(lake[k]->points.back(), lake[k + 1]->points.front()));
    }
  }
  EXPECT_EQ(ringPoints, ring.size());

  // Small records: the tile needs several, each within the limit unless a
  // lone part is larger; parts of one record that meet share the point entry.
  std::set<std::uint16_t> sequences;
  for (const auto& r : b.file.layout.records) {
    sequences.insert(r.sequence);
    const auto& rec = b.records.at({r.tileId, r.sequence});
    EXPECT_TRUE(r.record.size() <= map.recordBytes || rec.entries.size() == 1) << r.record.size();
    for (std::size_t e = 0; e + 1 < rec.entries.size(); ++e) {
      const FeaturePiece* a = b.features.Find(r.tileId, r.sequence, static_cast<std::uint16_t>(e));
      const FeaturePiece* c = b.features.Find(r.tileId, r.sequence, static_cast<std::uint16_t>(e + 1));
      ASSERT_TRUE(a && c);
      if (a->feature == c->feature && Same(a->points.back(), c->points.front())) {
        EXPECT_EQ(rec.entries[e].words.back(), rec.entries[e + 1].words[a->feature == 0 ? 1 : 0]);
      }
    }
  }
  EXPECT_GT(sequences.size(), 2u);
  for (const auto& r : b.file.layout.records) {
    // The builder's more bit: set on all but a tile's last record.
    const bool last = std::none_of(b.file.layout.records.begin(), b.file.layout.records.end(), [&](const auto& o) {
      return o.tileId == r.tileId && o.sequence == r.sequence + 1;
    });
    EXPECT_EQ(b.records.at({r.tileId, r.sequence}).header.moreFollows, last ? 0u : 1u);
  }
}

// ---- areas ----------------------------------------------------------------------------

// Pieces of an area: closed rings in their tiles' rectangles and in one
// closed cell of the cut level when cut; every ring has the area on the side
// its mark says ('+' right, '-' left, the other way when the feature inverts
// them); sample points away from every boundary and border lie inside the
// pieces (even-odd over all of them) exactly when they lie inside the source
// area, so together with the sides nothing is lost, doubled or turned.
void CheckAreaPieces(const FeatureMap& map, const FeatureBuild& built, std::size_t index, bool inverted = false) {
  SCOPED_TRACE("area " + std::to_string(index));
  const Feature& f = map.features[index];
  const auto pieces = built.PiecesOf(index);
  ASSERT_FALSE(pieces.empty());
  const auto& levels = map.tileLevels[static_cast<std::size_t>(f.featureClass.level - 1)];
  const std::int64_t cell = std::int64_t{4096} << levels.coarsest;
  std::vector<const std::vector<TiPoint>*> rings;
  std::vector<std::vector<TiPoint>> open;
  open.reserve(pieces.size());
  for (const FeaturePiece* p : pieces) {
    ASSERT_TRUE(p->closed);
    ASSERT_GE(p->points.size(), 4u);
    EXPECT_TRUE(Same(p->points.front(), p->points.back()));
    const TiRect rect = TileRect(p->tileId);
    for (const TiPoint& q : p->points) EXPECT_TRUE(InRect(q, rect)) << PointText(q) << " outside its tile";
    open.emplace_back(p->points.begin(), p->points.end() - 1);
    rings.push_back(&open.back());
    const auto& ring = open.back();
    if (!p->whole) {
      std::int64_t minX = ring[0].x, minY = ring[0].y, maxX = minX, maxY = minY;
      for (const TiPoint& q : ring) {
        minX = std::min<std::int64_t>(minX, q.x), maxX = std::max<std::int64_t>(maxX, q.x);
        minY = std::min<std::int64_t>(minY, q.y), maxY = std::max<std::int64_t>(maxY, q.y);
      }
      EXPECT_LE(maxX - FloorDiv(minX, cell) * cell, cell);
      EXPECT_LE(maxY - FloorDiv(minY, cell) * cell, cell);
    }
    // The mark tells the area's side. A ring written as the source gave it
    // keeps its role (outer or hole); every ring made by cutting bounds a
    // piece of area from outside, so its turn tells the area's side.
    ASSERT_TRUE(p->mark == '+' || p->mark == '-');
    const bool areaOnLeft = (p->mark == '-') != inverted;
    bool outerLike = true;
    for (std::size_t r = 1; r < f.rings.size(); ++r) {
      std::vector<TiPoint> given = f.rings[r].points;
      if (given.size() > 1 && Same(given.front(), given.back())) given.pop_back();
      if (given.size() == ring.size() && std::equal(given.begin(), given.end(), ring.begin(), Same)) outerLike = false;
    }
    EXPECT_EQ(areaOnLeft, (Area2(ring) > 0) == outerLike) << "ring from " << PointText(ring[0]) << " marked " << p->mark;
  }
  // Coverage by sampling.
  TiRect box{f.rings[0].points[0].x, f.rings[0].points[0].y, f.rings[0].points[0].x, f.rings[0].points[0].y};
  for (const TiPoint& q : f.rings[0].points) {
    box = TiRect{std::min(box.x1, q.x), std::min(box.y1, q.y), std::max(box.x2, q.x), std::max(box.y2, q.y)};
  }
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> ux(box.x1 - 50.0, box.x2 + 50.0), uy(box.y1 - 50.0, box.y2 + 50.0);
  int checked = 0;
  for (int s = 0; s < 1500; ++s) {
    const double x = ux(rng), y = uy(rng);
    const double fx = std::fmod(std::fabs(x), static_cast<double>(cell));
    const double fy = std::fmod(std::fabs(y), static_cast<double>(cell));
    if (fx < 2 || fx > cell - 2 || fy < 2 || fy > cell - 2) continue;
    bool nearEdge = false;
    const TiPoint probe{static_cast<std::int32_t>(std::lround(x)), static_cast<std::int32_t>(std::lround(y))};
    for (const auto& r : f.rings) nearEdge = nearEdge || RunDistance(probe, r.points, true) < 3;
    if (nearEdge) continue;
    ++checked;
    EXPECT_EQ(InsideRings(rings, x, y), InsideFeature(f, x, y)) << "at " << x << "," << y;
  }
  EXPECT_GT(checked, 500);
}

TiPoint P(int x, int y) { return TiPoint{x, y}; }

TEST(FeatureAreas, CutIntoClosedRingsThatCoverTheArea) {
  FeatureMap map;
  // 0: a square over 3 x 3 cells with a hole across a cell corner and one
  // inside a cell.
  map.Add(Feature::Area(kLake, "Square Lake", {P(1000, 1000), P(11000, 1000), P(11000, 11000), P(1000, 11000)},
                        {{P(3000, 3000), P(3000, 6000), P(6000, 6000), P(6000, 3000)},
                         {P(9000, 9000), P(10000, 9000), P(10000, 10000), P(9000, 10000)}}));
  // 1: a U whose arms both reach into the cells above: two rings there.
  map.Add(Feature::Area(kLake, "U Park",
                        {P(500, 500), P(3500, 500), P(3500, 7000), P(2500, 7000), P(2500, 1500), P(1500, 1500),
                         P(1500, 7000), P(500, 7000)}));
  // 2: edges along borders and corners on them.
  map.Add(Feature::Area(kLake, "Border Block", {P(4096, 0), P(12288, 0), P(12288, 5000), P(4096, 5000)}));
  // 3: a diamond whose edges run through cell corners.
  map.Add(Feature::Area(kLake, "Diamond", {P(8192, 20000), P(16384, 28192), P(8192, 36384), P(0, 28192)}));
  // 4: large, with whole cells inside.
  map.Add(Feature::Area(kLake, "Big Lake", {P(-20000, -20000), P(-100, -20000), P(-100, -100), P(-20000, -100)}));
  // 5: given clockwise (the '+' turn), with a hole.
  map.Add(Feature::Area(kLake, "Clockwise Lake", {P(20000, 1000), P(20000, 9000), P(30000, 9000), P(30000, 1000)},
                        {{P(22000, 3000), P(26000, 3000), P(26000, 7000), P(22000, 7000)}}));
  Built b = BuildAndCheck(map);
  ASSERT_TRUE(b.features.ok);
  for (std::size_t i = 0; i < map.features.size(); ++i) CheckAreaPieces(map, b.features, i);

  // The U's arms above y = 4096 are two rings of one cell.
  std::map<std::uint32_t, int> ringsPerTile;
  for (const FeaturePiece* p : b.features.PiecesOf(1)) ++ringsPerTile[p->tileId];
  EXPECT_TRUE(std::any_of(ringsPerTile.begin(), ringsPerTile.end(), [](const auto& e) { return e.second == 2; }));
  // The hole inside one cell is written as given, counter-clockwise with the
  // area on its right ('+'); the cut rings follow the outer ring's turn,
  // counter-clockwise with '-'.
  bool wholeHole = false;
  for (const FeaturePiece* p : b.features.PiecesOf(0)) {
    if (p->points.size() == 5 && Same(p->points[0], P(9000, 9000))) {
      wholeHole = true;
      EXPECT_EQ(p->mark, '+');
      EXPECT_GT(Area2(std::vector<TiPoint>(p->points.begin(), p->points.end() - 1)), 0);
    } else {
      EXPECT_EQ(p->mark, '-');
    }
  }
  EXPECT_TRUE(wholeHole);
  // Whole cells inside the big lake get their own outline.
  int cellOutlines = 0;
  for (const FeaturePiece* p : b.features.PiecesOf(4)) {
    if (p->points.size() != 5) continue;
    const TiPoint& a = p->points[0];
    const bool square = a.x % kCell0 == 0 && a.y % kCell0 == 0 &&
                        std::abs(Area2(std::vector<TiPoint>(p->points.begin(), p->points.end() - 1))) ==
                            2.0 * kCell0 * kCell0;
    cellOutlines += square ? 1 : 0;
  }
  EXPECT_EQ(cellOutlines, 9);  // cells -4..-2 in both directions
  // A clockwise outer ring keeps its turn and '+' in every cut ring.
  for (const FeaturePiece* p : b.features.PiecesOf(5)) {
    if (p->whole) continue;
    const double a = Area2(std::vector<TiPoint>(p->points.begin(), p->points.end() - 1));
    EXPECT_EQ(p->mark, '+');
    EXPECT_LT(a, 0);
  }
}

TEST(FeatureAreas, InvertedMarksAndRandomPolygons) {
  FeatureMap map;
  // An outer ring that carries the other mark: every ring follows it.
  Feature odd = Feature::Area(kLake, "Odd Marks", {P(100, 100), P(9000, 100), P(9000, 9000), P(100, 9000)},
                              {{P(2000, 2000), P(2000, 6000), P(6000, 6000), P(6000, 2000)}});
  odd.rings[0].mark = '+';
  map.Add(odd);
  // Star-shaped random polygons around a centre: simple, concave, many cuts.
  std::mt19937 rng(99);
  for (int k = 0; k < 12; ++k) {
    const int cx = -30000 + 5000 * k, cy = 15000 - 2000 * k;
    const int n = 6 + static_cast<int>(rng() % 20);
    std::vector<TiPoint> ring;
    for (int i = 0; i < n; ++i) {
      const double a = 2 * 3.14159265358979 * i / n;
      const double r = 1500 + rng() % 9000;
      const TiPoint q{cx + static_cast<int>(r * std::cos(a)), cy + static_cast<int>(r * std::sin(a))};
      if (ring.empty() || !Same(ring.back(), q)) ring.push_back(q);
    }
    if (k % 2 == 1) std::reverse(ring.begin(), ring.end());
    map.Add(Feature::Area(kLake, "Star " + std::to_string(k), ring));
  }
  Built b = BuildAndCheck(map);
  ASSERT_TRUE(b.features.ok);
  CheckAreaPieces(map, b.features, 0, /*inverted=*/true);
  for (const FeaturePiece* p : b.features.PiecesOf(0)) EXPECT_EQ(p->mark, p->whole ? p->mark : '+');
  for (std::size_t i = 1; i < map.features.size(); ++i) CheckAreaPieces(map, b.features, i);
}

// x-monotone polygons between two random chains, with every coordinate a
// multiple of 512, so that corners, edges and hole sides fall on cell
// borders and through cell corners all the time.
TEST(FeatureAreas, PolygonsOnTheBorderGrid) {
  const unsigned seed = 4242;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  FeatureMap map;
  for (int k = 0; k < 40; ++k) {
    const int columns = 2 + static_cast<int>(rng() % 8);
    std::vector<int> xs{static_cast<int>(rng() % 40) * 512 - 10240};
    for (int i = 1; i < columns; ++i) xs.push_back(xs.back() + 512 * (1 + static_cast<int>(rng() % 12)));
    std::vector<int> bottom, top;
    for (int i = 0; i < columns; ++i) {
      bottom.push_back(512 * (static_cast<int>(rng() % 20) - 10));
      top.push_back(bottom.back() + 512 * (1 + static_cast<int>(rng() % 20)));
    }
    std::vector<TiPoint> outer;
    for (int i = 0; i < columns; ++i) outer.push_back(P(xs[i], bottom[i]));
    for (int i = columns - 1; i >= 0; --i) outer.push_back(P(xs[i], top[i]));
    std::vector<std::vector<TiPoint>> holes;
    for (int i = 0; i + 1 < columns; ++i) {
      const int lo = std::max(bottom[i], bottom[i + 1]) + 512, hi = std::min(top[i], top[i + 1]) - 512;
      if (hi - lo < 512 || xs[i + 1] - xs[i] < 1536 || rng() % 2 == 0) continue;
      std::vector<TiPoint> hole{P(xs[i] + 512, lo), P(xs[i] + 512, hi), P(xs[i + 1] - 512, hi), P(xs[i + 1] - 512, lo)};
      if (rng() % 2 == 0) std::reverse(hole.begin(), hole.end());
      holes.push_back(hole);
    }
    if (k % 3 == 0) std::reverse(outer.begin(), outer.end());
    map.Add(Feature::Area(kLake, "Grid " + std::to_string(k), outer, holes));
  }
  Built b = BuildAndCheck(map);
  ASSERT_TRUE(b.features.ok) << b.features.error;
  for (std::size_t i = 0; i < map.features.size(); ++i) CheckAreaPieces(map, b.features, i);
}

// ---- placement, header, determinism, reader ---------------------------------------

TEST(FeatureMapBuild, PiecesGoToTheFinestTileThatHoldsThem) {
  FeatureMap map;
  map.tileLevels[1] = {0, 3};  // detail level 2 may use tile levels 0..3
  const FeatureClass road{2, 4, FeatureCategory::kLine};
  map.Add(Feature::Line(road, "in one cell", {P(100, 100), P(3000, 200)}));
  map.Add(Feature::Line(road, "into the overlap", {P(100, 100), P(5100, 200)}));
  map.Add(Feature::Line(road, "needs level 1", {P(100, 100), P(5200, 200)}));
  map.Add(Feature::Line(road, "cut at level 3", {P(100, 100), P(50000, 100)}));
  map.Add(Feature::Point(FeatureClass{2, 1, FeatureCategory::kPoint}, "shop", P(60000, 60000)));
  Built b = BuildAndCheck(map);
  ASSERT_TRUE(b.features.ok);
  auto levelsOf = [&](std::size_t f) {
    std::vector<int> out;
    for (const FeaturePiece* p : b.features.PiecesOf(f)) out.push_back(p->tileLevel);
    return out;
  };
  EXPECT_EQ(levelsOf(0), std::vector<int>{0});
  EXPECT_EQ(levelsOf(1), std::vector<int>{0});
  EXPECT_EQ(levelsOf(2), std::vector<int>{1});
  // Cut at x = 32768; the eastern piece fits a level-2 tile.
  EXPECT_EQ(levelsOf(3), (std::vector<int>{3, 2}));
  EXPECT_EQ(levelsOf(4), std::vector<int>{0});
  for (std::size_t i = 0; i < 4; ++i) CheckLinePieces(map, b.features, i);
  EXPECT_TRUE(Same(b.features.PiecesOf(3)[0]->points.back(), P(32768, 100)));
}

TEST(FeatureMapBuild, LevelMasksAndClassSummaryFollowThePieces) {
  FeatureMap map;
  map.tileLevels[2] = {1, 2};
  map.Add(Feature::Point(FeatureClass{1, 3, FeatureCategory::kPoint}, "cafe", P(10, 10)));
  map.Add(Feature::Line(FeatureClass{3, 5, FeatureCategory::kLine}, "road", {P(10, 10), P(30000, 10)})
              .Attribute(TextTriple{"871", "1", "Route"}));  // attribute classes name no features
  map.Add(Feature::Line(FeatureClass{3, 2, FeatureCategory::kBoundary}, "border", {P(10, 10), P(100, 10)}));
  map.Add(Feature::Area(FeatureClass{4, 6, FeatureCategory::kArea}, "park", {P(0, 0), P(900, 0), P(900, 900)}));
  Built b = BuildAndCheck(map);
  ASSERT_TRUE(b.file.ok);
  rmf::RmfFileHeader h{};
  ASSERT_EQ(rmf::DecodeFileHeader(b.file.bytes.data(), b.file.bytes.size(), &h), rmf::kRmfFileAccepted);
  std::uint16_t masks[8] = {};
  for (const FeaturePiece& p : b.features.pieces) {
    masks[map.features[p.feature].featureClass.level - 1] |= static_cast<std::uint16_t>(1u << p.tileLevel);
  }
  for (int d = 0; d < 8; ++d) EXPECT_EQ(h.levelMasks[d], masks[d]) << "detail level " << d + 1;
  EXPECT_EQ(h.levelMasks[0], 1u);          // the cafe in a level-0 tile
  EXPECT_EQ(h.levelMasks[2], 0b110u);      // the road cut at level 2 into level-2 pieces, the border at 1
  EXPECT_EQ(h.levelMasks[7], 0u);          // the "871" attribute is no feature
  EXPECT_EQ(h.minLevel, 1);
  EXPECT_EQ(h.maxLevel, 4);
  ASSERT_EQ(h.hasRegionBlocks, 1u);
  const std::uint32_t presence[4] = {1, 1, 1, 1};
  for (int c = 0; c < 4; ++c) EXPECT_EQ(h.classPresence[c], presence[c]);
  EXPECT_EQ(h.classLevels[0][2], 0b1);     // points: class 3 at level 1
  EXPECT_EQ(h.classLevels[1][4], 0b100);   // lines: class 5 at level 3
  EXPECT_EQ(h.classLevels[1][6], 0);       // no line of class 7
  EXPECT_EQ(h.classLevels[2][5], 0b1000);  // areas: class 6 at level 4
  EXPECT_EQ(h.classLevels[3][1], 0b100);   // boundaries: class 2 at level 3

  FeatureMap none;
  none.Add(Feature::Line(kStreet, "only lines", {P(1, 1), P(2, 2)}));
  Built n = BuildAndCheck(none);
  ASSERT_TRUE(n.file.ok);
  ASSERT_EQ(rmf::DecodeFileHeader(n.file.bytes.data(), n.file.bytes.size(), &h), rmf::kRmfFileAccepted);
  EXPECT_EQ(h.classPresence[0], 0u);  // a query skips the point pass of this file
  EXPECT_EQ(h.classPresence[1], 1u);
}

FeatureMap MixedMap() {
  FeatureMap map;
  map.Annotate("FILENAME", "features.rmf");
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> c(-20000, 20000);
  for (int i = 0; i < 40; ++i) {
    map.Add(Feature::Point(kShop, "Shop " + std::to_string(i), P(c(rng), c(rng))));
    map.Add(Feature::Line(kStreet, "Street " + std::to_string(i), {P(c(rng), c(rng)), P(c(rng), c(rng)), P(c(rng), c(rng))})
                .Attribute(rmfbuild::RouteClassAttribute(1, "3 5", "Street")));
  }
  map.Add(Feature::Area(kLake, "Lake", {P(-9000, -9000), P(9000, -9000), P(9000, 9000), P(-9000, 9000)},
                        {{P(-1000, -1000), P(-1000, 1000), P(1000, 1000), P(1000, -1000)}}));
  return map;
}

TEST(FeatureMapBuild, SameInputSameBytesPlainOrCompressed) {
  FeatureMap map = MixedMap();
  map.recordBytes = 600;
  Built a = BuildAndCheck(map);
  Built again = BuildAndCheck(map);
  ASSERT_TRUE(a.file.ok && again.file.ok);
  EXPECT_EQ(a.file.bytes, again.file.bytes);
  map.compressed = true;
  Built z = BuildAndCheck(map);
  ASSERT_TRUE(z.file.ok);
  ASSERT_EQ(z.file.layout.records.size(), a.file.layout.records.size());
  for (std::size_t i = 0; i < a.file.layout.records.size(); ++i) {
    // The same records, only stored differently.
    const auto& zp = z.records.at({z.file.layout.records[i].tileId, z.file.layout.records[i].sequence}).points;
    const auto& ap = a.records.at({a.file.layout.records[i].tileId, a.file.layout.records[i].sequence}).points;
    EXPECT_TRUE(std::equal(zp.begin(), zp.end(), ap.begin(), ap.end(), Same)) << "record " << i;
    EXPECT_EQ(z.file.layout.records[i].record, a.file.layout.records[i].record) << "record " << i;
  }
  // 12-byte entries take more room, so records fill differently but still decode.
  map.wideEntries = true;
  Built wide = BuildAndCheck(map);
  ASSERT_TRUE(wide.file.ok);
  EXPECT_EQ(wide.features.pieces.size(), a.features.pieces.size());
}

TEST(FeatureMapBuild, ReaderFindsEveryPiecesRecord) {
  for (bool compressed : {false, true}) {
    SCOPED_TRACE(compressed ? "compressed" : "plain");
    FeatureMap map = MixedMap();
    map.compressed = compressed;
    map.recordBytes = 500;
    Built b = BuildAndCheck(map);
    ASSERT_TRUE(b.file.ok);
    rmfbuild::MemoryReader maps(4u << 20);
    RmfReader* reader = maps.reader();
    ASSERT_NE(reader, nullptr);
    ASSERT_EQ(maps.AddBorrowedBytes(b.file.bytes.data(), b.file.bytes.size()), 1);
    RmfSource* source = reader->sources[0];
    for (const FeaturePiece& p : b.features.pieces) {
      std::uint32_t next = 7;
      std::uint8_t* record = RmfSrcGetBlock(source, p.tileId, p.sequence, 0, &next);
      ASSERT_NE(record, nullptr) << "tile " << p.tileId << " record " << p.sequence;
      const Bytes got(record, record + (record[0] | (record[1] << 8)));
      EXPECT_EQ(got, b.records.at({p.tileId, p.sequence}).bytes);
      EXPECT_EQ(next != 0, b.records.at({p.tileId, p.sequence}).header.moreFollows != 0);
    }
    // A walk over the file's box at all levels meets every record once.
    std::set<std::pair<std::uint32_t, std::uint16_t>> walked;
    const TiRect box = source->header.box;
    RmfSrcSetRect(source, box.x1, box.y1, box.x2, box.y2);
    RmfSrcF5(source, 1, 8);
    RmfSrcStartQuery(source);
    for (int i = 0; i < 10000; ++i) {
      if (RmfSrcLoadBlock(source) == nullptr) break;
      EXPECT_TRUE(walked.insert({source->recordTile, source->recordSequence}).second);
    }
    EXPECT_EQ(walked.size(), b.file.layout.records.size());
  }
}

TEST(FeatureMapBuild, RefusesWhatCannotBeWritten) {
  struct Case {
    const char* name;
    Feature feature;
    const char* error;
  };
  Feature vattrOnArea = Feature::Area(kLake, "a", {P(0, 0), P(10, 0), P(10, 10)});
  vattrOnArea.vertexAttributes.push_back({0, TextTriple{"9", "", ""}});
  Feature badMark = Feature::Area(kLake, "a", {P(0, 0), P(10, 0), P(10, 10)});
  badMark.rings[0].mark = '*';
  const std::vector<Case> cases = {
      {"level 9", Feature::Point(FeatureClass{9, 1, FeatureCategory::kPoint}, "p", P(0, 0)), "detail level 9"},
      {"class 8", Feature::Point(FeatureClass{1, 8, FeatureCategory::kPoint}, "p", P(0, 0)), "class 8"},
      {"point with two points", Feature::Line(kShop, "p", {P(0, 0), P(1, 1)}), "exactly one point"},
      {"line of one point", Feature::Line(kStreet, "l", {P(0, 0)}), "at least two points"},
      {"repeated line point", Feature::Line(kStreet, "l", {P(0, 0), P(5, 5), P(5, 5)}), "repeats point"},
      {"ring of two corners", Feature::Area(kLake, "a", {P(0, 0), P(10, 0), P(0, 0)}), "three corners"},
      {"flat ring", Feature::Area(kLake, "a", {P(0, 0), P(10, 0), P(20, 0)}), "no area"},
      {"outside the world", Feature::Point(kShop, "p", P(1 << 27, 0)), "outside the world"},
      {"vertex attribute on an area", vattrOnArea, "no vertex attributes"},
      {"missing vertex", Feature::Line(kStreet, "l", {P(0, 0), P(9, 9)}).VertexAttr(2, {"9", "", ""}), "vertex 2"},
      {"missing vertex, before", Feature::Line(kStreet, "l", {P(0, 0), P(9, 9)}).VertexAttrBefore(2, {"9", "", ""}),
       "vertex 2"},
      {"before the first vertex", Feature::Line(kStreet, "l", {P(0, 0), P(9, 9)}).VertexAttrBefore(0, {"9", "", ""}),
       "before vertex 0"},
      {"bad ring mark", badMark, "mark other than"},
      {"long name", Feature::Point(kShop, std::string(51, 'n'), P(0, 0)), "longer than 50"},
      {"hole outside its area",
       Feature::Area(kLake, "a", {P(0, 0), P(10000, 0), P(10000, 1000), P(0, 1000)},
                     {{P(3000, 500), P(3000, 1500), P(5000, 1500), P(5000, 500)}}),
       "cross each other"},
  };
  for (const Case& c : cases) {
    FeatureMap map;
    map.Add(c.feature);
    FeatureBuild b = BuildFeatureMap(map);
    EXPECT_FALSE(b.ok) << c.name;
    EXPECT_NE(b.error.find(c.error), std::string::npos) << c.name << ": " << b.error;
  }
  FeatureMap levels;
  levels.tileLevels[0] = {3, 2};
  EXPECT_FALSE(BuildFeatureMap(levels).ok);
  FeatureMap narrow;
  narrow.pointWidth = rmfbuild::PointWidth::kNarrow;
  narrow.tileLevels[0] = {5, 5};
  narrow.Add(Feature::Line(kStreet, "far", {P(0, 0), P(100000, 0)}));
  EXPECT_NE(BuildFeatureMap(narrow).error.find("4-byte points"), std::string::npos);
}

// ---- ground truth ---------------------------------------------------------------------

TEST(ExpectedFeatures, DecidesByGeometryLevelsAndFilters) {
  FeatureMap map;
  const rmfbuild::ClassFilters all{"1234567", "1234567", "1234567", "1234567"};
  // Query: the square 1000..2000 (as a rectangle).
  const std::size_t inside = map.Add(Feature::Point(kShop, "inside", P(1500, 1500)));
  const std::size_t outside = map.Add(Feature::Point(kShop, "outside", P(2500, 1500)));
  const std::size_t onEdge = map.Add(Feature::Point(kShop, "on edge", P(2000, 1700)));
  const std::size_t crossing = map.Add(Feature::Line(kStreet, "crossing", {P(500, 1200), P(2500, 1900)}));
  const std::size_t nearCorner = map.Add(Feature::Line(kStreet, "near corner", {P(1900, 2103), P(2103, 1900)}));
  const std::size_t enclosing = map.Add(Feature::Area(kLake, "around", {P(900, 900), P(2100, 900), P(2100, 2100), P(900, 2100)}));
  const std::size_t holed = map.Add(Feature::Area(kLake, "holed", {P(100, 100), P(3900, 100), P(3900, 3900), P(100, 3900)},
                                                   {{P(800, 800), P(800, 2200), P(2200, 2200), P(2200, 800)}}));
  const std::size_t within = map.Add(Feature::Area(kLake, "within", {P(1200, 1200), P(1300, 1200), P(1300, 1300)}));
  const std::size_t seamed = map.Add(Feature::Area(kLake, "seamed", {P(-5000, -5000), P(9000, -5000), P(9000, 9000), P(-5000, 9000)}));
  const TiRect query{1000, 1000, 2000, 2000};

  auto r = rmfbuild::ExpectedFeatures(map, query, 1, 8, all);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.Certain(), (std::vector<std::size_t>{inside, crossing, enclosing, within, seamed}));
  EXPECT_EQ(r.Possible(), (std::vector<std::size_t>{inside, onEdge, crossing, enclosing, within, seamed}));
  ASSERT_NE(r.Find(onEdge), nullptr);
  EXPECT_TRUE(r.Find(onEdge)->meets);
  EXPECT_TRUE(r.Find(onEdge)->marginal);
  EXPECT_EQ(r.Find(outside), nullptr);
  EXPECT_EQ(r.Find(nearCorner), nullptr);  // 2 units beyond the corner: clearly apart
  EXPECT_EQ(r.Find(holed), nullptr);       // the query lies in its hole
  EXPECT_EQ(r.Find(enclosing)->relation, rmfbuild::QueryRelation::kEncloses);
  EXPECT_EQ(r.Find(within)->relation, rmfbuild::QueryRelation::kRingsMeet);
  // The cut area holds the query inside one of its cells, away from every seam.
  ASSERT_NE(r.Find(seamed), nullptr);
  EXPECT_EQ(r.Find(seamed)->relation, rmfbuild::QueryRelation::kEncloses);

  // A query across the seam x = 4096 of the cut area: its seam rings come back.
  auto across = rmfbuild::ExpectedFeatures(map, TiRect{3000, 5000, 5000, 6000}, 1, 8, all);
  ASSERT_TRUE(across.ok);
  ASSERT_NE(across.Find(seamed), nullptr);
  EXPECT_EQ(across.Find(seamed)->relation, rmfbuild::QueryRelation::kRingsMeet);

  // The same polygon clockwise, and with a closing point, gives the same answer.
  auto cw = rmfbuild::ExpectedFeatures(map, {P(1000, 1000), P(1000, 2000), P(2000, 2000), P(2000, 1000), P(1000, 1000)}, 1, 8, all);
  ASSERT_TRUE(cw.ok);
  EXPECT_EQ(cw.Possible(), r.Possible());
  EXPECT_EQ(cw.Certain(), r.Certain());

  // Filters: classes per category, only the first 9 characters, levels in either order.
  struct FilterCase {
    const char* name;
    rmfbuild::ClassFilters filters;
    int low, high;
    std::vector<std::size_t> certain;
  };
  const std::vector<FilterCase> filterCases = {
      {"points only", {"3", "", "", ""}, 1, 8, {inside}},
      {"street class off", {"", "1234", "", ""}, 1, 8, {}},
      {"street class on", {"", "5", "", ""}, 1, 8, {crossing}},
      {"digit beyond 9 characters", {"", "xxxxxxxxx5", "", ""}, 1, 8, {}},
      {"digit at 9th character", {"", "xxxxxxxx5", "", ""}, 1, 8, {crossing}},
      {"levels above", {"3", "5", "2", ""}, 2, 8, {}},
      {"levels reversed", {"3", "5", "2", ""}, 1, 1, {inside, crossing, enclosing, within, seamed}},
      {"boundary filter is not the line filter", {"", "", "", "5"}, 1, 8, {}},
  };
  for (const auto& c : filterCases) {
    auto got = rmfbuild::ExpectedFeatures(map, query, c.high, c.low, c.filters);
    ASSERT_TRUE(got.ok) << c.name;
    EXPECT_EQ(got.Certain(), c.certain) << c.name;
  }

  // Tolerance: a point half a unit outside is marginal, not a hit.
  FeatureMap edge;
  edge.Add(Feature::Point(kShop, "just out", P(2001, 1500)));
  auto half = rmfbuild::ExpectedFeatures(edge, {P(1000, 1000), P(2000, 1000), P(2000, 2000), P(1000, 2000)}, 1, 8, all, 1.5);
  ASSERT_TRUE(half.ok);
  ASSERT_EQ(half.features.size(), 1u);
  EXPECT_FALSE(half.features[0].meets);
  EXPECT_TRUE(half.features[0].marginal);
  EXPECT_TRUE(half.Certain().empty());

  // Refusals, and the rectangle a query makes of a flat one.
  EXPECT_FALSE(rmfbuild::ExpectedFeatures(map, {P(0, 0), P(10, 0)}, 1, 8, all).ok);
  EXPECT_FALSE(rmfbuild::ExpectedFeatures(map, {P(0, 0), P(10, 0), P(10, 0), P(0, 10)}, 1, 8, all).ok);
  EXPECT_FALSE(rmfbuild::ExpectedFeatures(map, {P(0, 0), P(10, 0), P(2, 2), P(0, 10)}, 1, 8, all).ok);
  const auto flat = rmfbuild::QueryRectPolygon(TiRect{10, 20, 10, 20});
  EXPECT_TRUE(Same(flat[2], P(11, 21)));
  const auto top = rmfbuild::QueryRectPolygon(TiRect{0x8000000, 0x4000000, 0x8000000, 0x4000000});
  EXPECT_TRUE(Same(top[2], P(0x7FFFFFF, 0x3FFFFFF)));
}

// Exact integer tests for points and segments against a closed convex
// polygon (counter-clockwise), a different method from the helper's clipping
// in doubles.
std::int64_t Cross(const TiPoint& o, const TiPoint& a, const TiPoint& b) {
  return (std::int64_t{a.x} - o.x) * (std::int64_t{b.y} - o.y) - (std::int64_t{a.y} - o.y) * (std::int64_t{b.x} - o.x);
}

bool ExactInside(const std::vector<TiPoint>& poly, const TiPoint& p) {
  for (std::size_t i = 0; i < poly.size(); ++i) {
    if (Cross(poly[i], poly[(i + 1) % poly.size()], p) < 0) return false;
  }
  return true;
}

bool OnSegment(const TiPoint& a, const TiPoint& b, const TiPoint& p) {
  return Cross(a, b, p) == 0 && std::min(a.x, b.x) <= p.x && p.x <= std::max(a.x, b.x) &&
         std::min(a.y, b.y) <= p.y && p.y <= std::max(a.y, b.y);
}

bool SegmentsMeet(const TiPoint& a, const TiPoint& b, const TiPoint& c, const TiPoint& d) {
  const std::int64_t d1 = Cross(c, d, a), d2 = Cross(c, d, b), d3 = Cross(a, b, c), d4 = Cross(a, b, d);
  if (((d1 > 0 && d2 < 0) || (d1 < 0 && d2 > 0)) && ((d3 > 0 && d4 < 0) || (d3 < 0 && d4 > 0))) return true;
  return OnSegment(c, d, a) || OnSegment(c, d, b) || OnSegment(a, b, c) || OnSegment(a, b, d);
}

bool ExactLineMeets(const std::vector<TiPoint>& poly, const std::vector<TiPoint>& line) {
  for (std::size_t i = 0; i + 1 < line.size(); ++i) {
    if (ExactInside(poly, line[i]) || ExactInside(poly, line[i + 1])) return true;
    for (std::size_t k = 0; k < poly.size(); ++k) {
      if (SegmentsMeet(line[i], line[i + 1], poly[k], poly[(k + 1) % poly.size()])) return true;
    }
  }
  return false;
}

// Every certain hit meets exactly, and every exact hit is at least possible.
TEST(ExpectedFeatures, AgreesWithExactIntegerTests) {
  const unsigned seed = 1234;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> c(-3000, 3000), d(-1500, 1500);
  FeatureMap map;
  for (int i = 0; i < 150; ++i) map.Add(Feature::Point(kShop, "p", P(c(rng), c(rng))));
  for (int i = 0; i < 150; ++i) {
    const TiPoint a = P(c(rng), c(rng));
    TiPoint b = P(a.x + d(rng), a.y + d(rng));
    if (Same(a, b)) b.x += 1;
    map.Add(Feature::Line(kStreet, "l", {a, b}));
  }
  const rmfbuild::ClassFilters all{"1234567", "1234567", "1234567", "1234567"};
  int hits = 0, marginal = 0;
  for (int q = 0; q < 40; ++q) {
    // A triangle made counter-clockwise, or a rectangle as a query makes it.
    std::vector<TiPoint> poly;
    if (q % 2 == 0) {
      poly = {P(c(rng), c(rng)), P(c(rng), c(rng)), P(c(rng), c(rng))};
      const std::int64_t turn = Cross(poly[0], poly[1], poly[2]);
      if (turn == 0) continue;
      if (turn < 0) std::swap(poly[1], poly[2]);
    } else {
      const int x = c(rng), y = c(rng);
      poly = rmfbuild::QueryRectPolygon(TiRect{x, y, x + 1 + std::abs(d(rng)), y + 1 + std::abs(d(rng))});
      std::reverse(poly.begin(), poly.end());  // the query's rectangle runs clockwise
    }
    auto r = rmfbuild::ExpectedFeatures(map, poly, 1, 8, all);
    ASSERT_TRUE(r.ok) << r.error;
    const auto certain = r.Certain();
    const auto possible = r.Possible();
    for (std::size_t f = 0; f < map.features.size(); ++f) {
      const Feature& feature = map.features[f];
      const bool exact = feature.featureClass.category == FeatureCategory::kPoint
                             ? ExactInside(poly, feature.points[0])
                             : ExactLineMeets(poly, feature.points);
      const bool isCertain = std::binary_search(certain.begin(), certain.end(), f);
      const bool isPossible = std::binary_search(possible.begin(), possible.end(), f);
      if (isCertain) {
        EXPECT_TRUE(exact) << "query " << q << " feature " << f;
      }
      if (exact) {
        EXPECT_TRUE(isPossible) << "query " << q << " feature " << f;
      }
      hits += isCertain ? 1 : 0;
      marginal += isPossible && !isCertain ? 1 : 0;
    }
  }
  EXPECT_GT(hits, 200);  // the sample is not trivially empty
  EXPECT_LT(marginal, hits / 5);
}

// ---- text form ----------------------------------------------------------------------------

TEST(FeatureText, ParsesTheDocumentedForm) {
  const char* text =
      "# a small town\n"
      "map levels=1:0-2,3:4 compressed record-bytes=900 part-vertices=50\n"
      "annotation FILENAME: town.rmf\n"
      "feature line \"151\" \"Main Street\" 100,100 9000,120\n"
      "attr \"171\" \"3 5\" \"Main Street\"\n"
      "oneway along\n"
      "vattr 1 \"12B\" \"A\" \"100-198\"\n"
      "feature area \"122\" \"Lake\" \"\"\n"
      "ring 0,0 0,5000 5000,5000 5000,0\n"
      "ring + 1000,1000 2000,1000 2000,2000 1000,2000\n"
      "feature point \"130\" \"Cafe \\\"Blue\\\"\" \"open\\x21\"\n"
      "points 42,43\n";
  auto parsed = rmfbuild::ParseFeatureMap(text);
  ASSERT_TRUE(parsed.ok) << parsed.error;
  const FeatureMap& m = parsed.map;
  EXPECT_EQ(m.tileLevels[0], (rmfbuild::TileLevelRange{0, 2}));
  EXPECT_EQ(m.tileLevels[2], (rmfbuild::TileLevelRange{4, 4}));
  EXPECT_TRUE(m.compressed);
  EXPECT_EQ(m.recordBytes, 900u);
  EXPECT_EQ(m.partVertices, 50u);
  EXPECT_EQ(m.annotations, std::vector<std::string>{"FILENAME: town.rmf"});
  ASSERT_EQ(m.features.size(), 3u);
  EXPECT_EQ(m.features[0].featureClass, kStreet);
  EXPECT_EQ(m.features[0].attributes[0].code, "171+");
  EXPECT_EQ(m.features[0].points.size(), 2u);
  ASSERT_EQ(m.features[0].vertexAttributes.size(), 1u);
  EXPECT_EQ(m.features[0].vertexAttributes[0].vertex, 1u);
  ASSERT_EQ(m.features[1].rings.size(), 2u);
  EXPECT_EQ(m.features[1].rings[1].mark, '+');
  EXPECT_EQ(m.features[2].name, "Cafe \"Blue\"");
  EXPECT_EQ(m.features[2].detail, "open!");

  // The same map given in code builds to the same bytes.
  FeatureMap same;
  same.tileLevels[0] = {0, 2};
  same.tileLevels[2] = {4, 4};
  same.compressed = true;
  same.recordBytes = 900;
  same.partVertices = 50;
  same.Annotate("FILENAME", "town.rmf");
  Feature street = Feature::Line(kStreet, "Main Street", {P(100, 100), P(9000, 120)});
  street.Attribute(rmfbuild::RouteClassAttribute(1, "3 5", "Main Street", rmfbuild::OneWay::kAlong));
  street.VertexAttr(1, TextTriple{"12B", "A", "100-198"});
  same.Add(street);
  Feature lake = Feature::Area(kLake, "Lake", {P(0, 0), P(0, 5000), P(5000, 5000), P(5000, 0)},
                               {{P(1000, 1000), P(2000, 1000), P(2000, 2000), P(1000, 2000)}});
  lake.rings[1].mark = '+';
  same.Add(lake);
  same.Add(Feature::Point(kShop, "Cafe \"Blue\"", P(42, 43), "open!"));
  Built a = BuildAndCheck(m);
  Built b = BuildAndCheck(same);
  ASSERT_TRUE(a.file.ok && b.file.ok);
  EXPECT_EQ(a.file.bytes, b.file.bytes);

  struct Bad {
    const char* text;
    const char* error;
  };
  const std::vector<Bad> bad = {
      {"feature road \"151\" \"x\"", "line 1: unknown feature kind"},
      {"feature line \"121\" \"x\"\nfeature area \"151\" \"y\"", "line 2: code \"151\" is not of a area"},
      {"feature line \"415\" \"x\"", "line 1: code \"415\""},
      {"ring 0,0 1,1 2,0", "line 1: a ring belongs to an area"},
      {"feature line \"151\" \"x\" 1,2,3", "line 1: bad point"},
      {"map levels=9:1", "line 1: bad map option"},
      {"feature line \"151\" \"x\"\noneway along", "line 2: oneway needs a route-class"},
      {"\n\nattr \"1\" \"2\"", "line 3: attr before any feature"},
      {"feature point \"130\" \"unclosed", "line 1: text without closing quote"},
  };
  for (const Bad& c : bad) {
    auto r = rmfbuild::ParseFeatureMap(c.text);
    EXPECT_FALSE(r.ok) << c.text;
    EXPECT_NE(r.error.find(c.error), std::string::npos) << c.text << " -> " << r.error;
  }
}

}  // namespace
