// Tests of areas in the feature query and of the area search at a point, on
// map files built with the builder. What the query returns for areas (ring
// runs, pieces of the boundary inside areas, the area around a polygon no
// ring crosses) closes each area's outline inside the query polygon: summed
// with the sign their codes give, they must make up exactly the area's part
// of the polygon, measured against a Sutherland-Hodgman clip. Random rings
// (split over records and tiles), nested and neighbouring areas, holes,
// repeated pairs, streets and other areas near the polygon, full crossing
// tables; then the area search itself on nested and neighbouring areas and
// the tile and list routines it uses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/features/RmfFeatureAttr.h"
#include "mapengine/format/features/RmfQuery.h"
#include "mapengine/format/features/RmfQueryAreasAtPoint.h"
#include "mapengine/format/store/RmfReader.h"
#include "mapengine/format/store/RmfTile.h"
#include "tests/mapengine/format/base/ExactGeometryModel.h"
#include "tests/mapengine/format/features/RmfQueryFixture.h"
#include "tools/rmfbuild/RmfBuilder.h"

namespace {

using rmfbuild::MapDescription;
using rmfbuild::Record;
using rmfbuild::TextTriple;
using rmfbuild::Tile;
using rmfquerytest::AddPart;
using rmfquerytest::AddRing;
using rmfquerytest::Hit;
using rmfquerytest::QueryFixture;
using rmfquerytest::Referenced;
using Ld = long double;

constexpr std::uint32_t kLevel = 5;
constexpr std::int32_t kCell = 4096 << kLevel;  // 131,072 units
constexpr std::int32_t kX0 = kCell * 10;
constexpr std::int32_t kY0 = kCell * 6;

TiPoint At(std::int32_t x, std::int32_t y) { return TiPoint{kX0 + x, kY0 + y}; }

Tile CellTile() { return Tile::At(kLevel, TiPoint{kX0 + kCell / 2, kY0 + kCell / 2}); }

// Twice the signed area swept by an open polyline (a closed outline when
// its last point is its first).
Ld Shoelace(const std::vector<TiPoint>& p) {
  Ld s = 0;
  for (std::size_t i = 0; i + 1 < p.size(); ++i) {
    s += static_cast<Ld>(p[i].x) * p[i + 1].y - static_cast<Ld>(p[i + 1].x) * p[i].y;
  }
  return s;
}

// The area of a simple ring inside a rectangle (Sutherland-Hodgman).
Ld ClippedArea(const std::vector<TiPoint>& ring, const TiRect& r) {
  return exact_model::Area(exact_model::ClipToRect(exact_model::Points(ring), exact_model::RectOf(r)));
}

// What the query's area results give each area (by name): every result
// adds the area its points sweep, with the sign its code's side mark gives
// ("-": the area lies to the left, "+": to the right). A boundary piece
// counts for every area open on it.
struct AreaSums {
  std::map<std::string, Ld> area;
  std::map<std::string, int> cutEnds;
  int pieces = 0;
  int nestedPieces = 0;
  int enclosing = 0;
  int endMarks = 0;
};

AreaSums SumAreas(const std::vector<Hit>& hits) {
  AreaSums s;
  for (const Hit& h : hits) {
    if (h.n == -1) {
      ++s.endMarks;
      continue;
    }
    if (h.n <= 0 || h.code.size() < 3 || h.code[2] != '2') continue;
    const Ld swept = Shoelace(h.points) / 2;
    if (Referenced(h)) {
      s.area[h.name] += (h.code.size() >= 4 && h.code[3] == '-') ? swept : -swept;
      s.cutEnds[h.name] += 2;
      continue;
    }
    const bool closed =
        h.points.size() > 2 && h.points.front().x == h.points.back().x && h.points.front().y == h.points.back().y;
    if (closed)
      ++s.enclosing;
    else
      ++s.pieces;
    if (h.count > 1) ++s.nestedPieces;
    for (std::size_t a = 0; a < h.names.size(); ++a) {
      s.area[h.names[a]] += h.codes[a][3] == '-' ? swept : -swept;
    }
  }
  return s;
}

// The cells here are wider than 4-byte points reach: 8-byte points.
MapDescription Wide(MapDescription d) {
  for (Tile& t : d.tiles) {
    for (Record& r : t.records) r.widePoints = true;
  }
  return d;
}

class AreaQueryTest : public QueryFixture {
 protected:
  void Areas(const char* classes) {
    RmfQuerySetClassFilter(reader_, '0', "");
    RmfQuerySetClassFilter(reader_, '1', "");
    RmfQuerySetClassFilter(reader_, 'B', "");
    RmfQuerySetClassFilter(reader_, '2', classes);
    RmfQuerySetLevels(reader_, 1, 8);
  }
  std::vector<Hit> Query(const TiRect& r) {
    RmfQuerySetRect(reader_, r.x1, r.y1, r.x2, r.y2);
    EXPECT_EQ(reader_->lastError, 0);
    return Run();
  }
};

// ---- random rings ------------------------------------------------------------------

// A simple ring around a centre, counter-clockwise.
std::vector<TiPoint> StarRing(std::mt19937& gen, TiPoint centre, std::int32_t reach) {
  const int n = 4 + static_cast<int>(gen() % 12);
  const double step = 6.283185307 / n;
  const double start = std::uniform_real_distribution<double>(0, step)(gen);
  std::vector<TiPoint> ring;
  for (int i = 0; i < n; ++i) {
    const double a = start + step * (i + std::uniform_real_distribution<double>(0, 0.8)(gen));
    const double r = std::uniform_real_distribution<double>(0.25, 1.0)(gen) * reach;
    const TiPoint p{centre.x + static_cast<std::int32_t>(r * std::cos(a)),
                    centre.y + static_cast<std::int32_t>(r * std::sin(a))};
    if (ring.empty() || p.x != ring.back().x || p.y != ring.back().y) ring.push_back(p);
  }
  return ring;
}

TEST_F(AreaQueryTest, ResultsMakeUpEachAreasPartOfThePolygon) {
  const std::uint32_t seed = 90210;
  std::mt19937 gen(seed);
  // Nine disjoint rings in a 3 x 3 grid of squares of one level-5 cell,
  // "+" rings clockwise and "-" rings counter-clockwise (the area inside
  // either way), each split into up to three parts kept in different
  // records of the cell's tile or of the tile one level up.
  MapDescription d;
  Tile cell = CellTile();
  cell.records.resize(3);
  Tile parent = Tile::At(kLevel + 1, TiPoint{kX0 + kCell / 2, kY0 + kCell / 2});
  parent.records.resize(1);
  std::map<std::string, std::vector<TiPoint>> rings;
  const std::int32_t square = kCell / 3;
  for (int i = 0; i < 9; ++i) {
    const TiPoint centre = At(square * (i % 3) + square / 2, square * (i / 3) + square / 2);
    std::vector<TiPoint> ring = StarRing(gen, centre, square / 2 - 200);
    const bool plus = gen() % 2 == 0;
    if (plus) std::reverse(ring.begin(), ring.end());
    const std::string name = "Area" + std::to_string(i);
    rings[name] = ring;
    const TextTriple text{std::string("52") + "2" + (plus ? "+" : "-"), name, "ring " + std::to_string(i)};
    std::vector<TiPoint> closed = ring;
    closed.push_back(ring.front());
    // Cut the ring at up to two vertices; each piece goes to a record.
    std::vector<std::size_t> cuts{0};
    for (std::size_t c = 1 + gen() % 4; c + 1 < closed.size() && cuts.size() < 3; c += 2 + gen() % 4) cuts.push_back(c);
    cuts.push_back(closed.size() - 1);
    for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
      std::vector<TiPoint> piece(closed.begin() + static_cast<std::ptrdiff_t>(cuts[k]),
                                 closed.begin() + static_cast<std::ptrdiff_t>(cuts[k + 1]) + 1);
      const unsigned where = gen() % 4;
      Record& rec = where == 3 ? parent.records[0] : cell.records[where];
      AddPart(rec, text, piece);
    }
  }
  d.tiles.push_back(cell);
  d.tiles.push_back(parent);
  Open(Wide(d));
  Areas("2");

  std::mt19937 rects(seed + 1);
  int pieces = 0;
  int enclosing = 0;
  int compared = 0;
  for (int trial = 0; trial < 400; ++trial) {
    SCOPED_TRACE("seed " + std::to_string(seed) + " trial " + std::to_string(trial));
    TiRect r{};
    if (trial % 3 == 0) {  // small, often inside one ring
      const std::int32_t w = 100 + static_cast<std::int32_t>(rects() % 3000);
      const std::int32_t h = 100 + static_cast<std::int32_t>(rects() % 3000);
      const std::int32_t x = static_cast<std::int32_t>(rects() % static_cast<std::uint32_t>(kCell - w));
      const std::int32_t y = static_cast<std::int32_t>(rects() % static_cast<std::uint32_t>(kCell - h));
      r = TiRect{kX0 + x, kY0 + y, kX0 + x + w, kY0 + y + h};
    } else {
      std::int32_t x1 = static_cast<std::int32_t>(rects() % kCell), x2 = static_cast<std::int32_t>(rects() % kCell);
      std::int32_t y1 = static_cast<std::int32_t>(rects() % kCell), y2 = static_cast<std::int32_t>(rects() % kCell);
      r = TiRect{kX0 + std::min(x1, x2), kY0 + std::min(y1, y2), kX0 + std::max(x1, x2) + 1,
                 kY0 + std::max(y1, y2) + 1};
    }
    const std::vector<Hit> hits = Query(r);
    const AreaSums sums = SumAreas(hits);
    bool any = false;  // some area takes a real part of the polygon
    for (const auto& [name, ring] : rings) {
      const Ld want = ClippedArea(ring, r);
      const Ld got = sums.area.count(name) != 0 ? sums.area.at(name) : 0;
      // Each cut end is rounded to a unit: at most half a unit across the
      // ring's longest reach each.
      const int cuts = sums.cutEnds.count(name) != 0 ? sums.cutEnds.at(name) : 0;
      const Ld tolerance = 1 + cuts * static_cast<Ld>(square);
      EXPECT_NEAR(static_cast<double>(got), static_cast<double>(want), static_cast<double>(tolerance))
          << name << " in " << r.x1 - kX0 << "," << r.y1 - kY0 << " " << r.x2 - kX0 << "," << r.y2 - kY0;
      any = any || want > 100;
      ++compared;
    }
    EXPECT_LE(sums.endMarks, 1);
    if (any) {
      EXPECT_EQ(sums.endMarks, 1);
    }
    EXPECT_EQ(sums.nestedPieces, 0);
    pieces += sums.pieces;
    enclosing += sums.enclosing;
  }
  EXPECT_GT(pieces, 100);
  EXPECT_GT(enclosing, 20);
  EXPECT_EQ(compared, 400 * 9);
}

// ---- nested and neighbouring areas ---------------------------------------------------

TEST_F(AreaQueryTest, NestedAndNeighbouringAreasShareTheBoundaryPieces) {
  MapDescription d;
  Tile t = CellTile();
  Record r;
  // A park (clockwise, "+") holding a lake; two fields side by side sharing
  // the edge x = 90000 (each its own ring, the same points on the edge).
  const std::vector<TiPoint> park{At(10000, 10000), At(10000, 60000), At(60000, 60000), At(60000, 10000)};
  const std::vector<TiPoint> lake{At(20000, 20000), At(20000, 40000), At(40000, 40000), At(40000, 20000)};
  const std::vector<TiPoint> west{At(70000, 10000), At(70000, 60000), At(90000, 60000), At(90000, 10000)};
  const std::vector<TiPoint> east{At(90000, 10000), At(90000, 60000), At(110000, 60000), At(110000, 10000)};
  AddRing(r, TextTriple{"522+", "Park", ""}, park);
  AddRing(r, TextTriple{"522+", "Lake", ""}, lake);
  AddRing(r, TextTriple{"522+", "West", ""}, west);
  AddRing(r, TextTriple{"522+", "East", ""}, east);
  t.records.push_back(r);
  d.tiles.push_back(t);
  Open(Wide(d));
  Areas("2");

  const std::map<std::string, std::vector<TiPoint>> rings{
      {"Park", park}, {"Lake", lake}, {"West", west}, {"East", east}};
  for (const TiRect& q : {TiRect{kX0 + 30000, kY0 + 30001, kX0 + 80001, kY0 + 50001},
                          TiRect{kX0 + 15001, kY0 + 5001, kX0 + 100001, kY0 + 35001},
                          TiRect{kX0 + 25001, kY0 + 25001, kX0 + 35001, kY0 + 70001}}) {
    const AreaSums sums = SumAreas(Query(q));
    for (const auto& [name, ring] : rings) {
      const Ld got = sums.area.count(name) != 0 ? sums.area.at(name) : 0;
      EXPECT_NEAR(static_cast<double>(got), static_cast<double>(ClippedArea(ring, q)), 1.0) << name;
    }
    EXPECT_EQ(sums.endMarks, 1);
  }
  // Where the boundary runs through the lake, park and lake are both open.
  const std::vector<Hit> hits = Query(TiRect{kX0 + 25001, kY0 + 25001, kX0 + 35001, kY0 + 70001});
  bool both = false;
  for (const Hit& h : hits) {
    if (h.n > 0 && !Referenced(h) && h.count == 2) {
      both = true;
      EXPECT_EQ(h.codes, (std::vector<std::string>{"522-", "522-"}));
      std::vector<std::string> names = h.names;
      std::sort(names.begin(), names.end());
      EXPECT_EQ(names, (std::vector<std::string>{"Lake", "Park"}));
    }
  }
  EXPECT_TRUE(both);
}

// ---- the area around the polygon ---------------------------------------------------

TEST_F(AreaQueryTest, AreaAroundThePolygon) {
  MapDescription d;
  Tile t = CellTile();
  Record r;
  // A city (clockwise, "+") with streets, a park of another class and a
  // pond of its own class inside; the polygon lies in the city, near them.
  AddRing(r, TextTriple{"532+", "City", "county town"},
          {At(5000, 5000), At(5000, 120000), At(120000, 120000), At(120000, 5000)});
  AddRing(r, TextTriple{"542+", "Park", ""}, {At(60000, 60000), At(60000, 70000), At(70000, 70000), At(70000, 60000)});
  AddPart(r, TextTriple{"511", "High Street", ""}, {At(40000, 41000), At(50000, 41000)});
  AddRing(r, TextTriple{"532+", "Pond", ""}, {At(90000, 90000), At(90000, 95000), At(95000, 95000), At(95000, 90000)});
  t.records.push_back(r);
  d.tiles.push_back(t);
  Open(Wide(d));
  Areas("3");

  // Inside the city: the city, the polygon's outline clockwise ("+": the
  // area to the right), then the end of the source's areas.
  const TiRect inside{kX0 + 40001, kY0 + 40001, kX0 + 40501, kY0 + 40601};
  std::vector<Hit> hits = Query(inside);
  ASSERT_EQ(hits.size(), 2u);
  EXPECT_EQ(hits[0].name, "City");
  EXPECT_EQ(hits[0].detail, "county town");
  EXPECT_EQ(hits[0].code, "532+");
  EXPECT_EQ(hits[0].count, 1);
  EXPECT_EQ(hits[0].ref.featureId, 0u);
  ASSERT_EQ(hits[0].n, 5);
  EXPECT_LT(Shoelace(hits[0].points), 0);
  EXPECT_EQ(hits[1].n, -1);
  EXPECT_EQ(hits[1].count, 0);
  EXPECT_EQ(hits[1].code, "");

  // Outside the city, in the same tile: no area at all.
  RmfQuerySetClassFilter(reader_, '2', "3");
  hits = Query(TiRect{kX0 + 1000, kY0 + 1000, kX0 + 2000, kY0 + 2000});
  EXPECT_TRUE(hits.empty());

  // Inside the pond: the pond, not the city.
  hits = Query(TiRect{kX0 + 91001, kY0 + 91001, kX0 + 91501, kY0 + 91501});
  ASSERT_EQ(hits.size(), 2u);
  EXPECT_EQ(hits[0].name, "Pond");

  // With a filter that lets every feature through, the street next to the
  // polygon hides the city's boundary: nothing is found. The query's own
  // filter looks only at the areas it is asked for.
  RmfQuerySetAreaFilter(
      reader_, [](void*, std::int32_t, const char*, const char*, const char*) -> std::int32_t { return 1; }, nullptr);
  hits = Query(inside);
  EXPECT_TRUE(hits.empty());
  RmfQuerySetAreaFilter(reader_, nullptr, nullptr);
  EXPECT_EQ(Query(inside).size(), 2u);

  // Each source ends its own areas.
  MapDescription second;
  Tile t2 = CellTile();
  Record r2;
  AddRing(r2, TextTriple{"532-", "Region", ""},
          {At(1000, 1000), At(125000, 1000), At(125000, 125000), At(1000, 125000)});
  t2.records.push_back(r2);
  second.tiles.push_back(t2);
  Open(Wide(second));
  hits = Query(inside);
  ASSERT_EQ(hits.size(), 4u);
  EXPECT_EQ(hits[0].name, "City");
  EXPECT_EQ(hits[1].n, -1);
  // Found by the search at the centre, the region comes with the code of
  // the side the centre lies on ("+" although its ring is a "-" ring) and
  // the outline clockwise.
  EXPECT_EQ(hits[2].name, "Region");
  EXPECT_EQ(hits[2].code, "532+");
  EXPECT_LT(Shoelace(hits[2].points), 0);
  EXPECT_EQ(hits[3].n, -1);
}

TEST_F(AreaQueryTest, HolesAndRepeatedPairs) {
  MapDescription d;
  Tile t = CellTile();
  Record r;
  // A lake whose island (a counter-clockwise "+" ring: the lake lies
  // outside it) sits inside the polygon; the lake's own shore is far away.
  AddRing(r, TextTriple{"532+", "Lake", ""}, {At(5000, 5000), At(5000, 120000), At(120000, 120000), At(120000, 5000)});
  AddRing(r, TextTriple{"532+", "Lake", ""}, {At(50000, 50000), At(54000, 50000), At(54000, 54000), At(50000, 54000)});
  t.records.push_back(r);
  // A tile cut through a forest: a line with the forest on both sides.
  Tile other = Tile::At(kLevel, TiPoint{kX0 + kCell + kCell / 2, kY0 + kCell / 2});
  Record cut;
  rmfbuild::Part line;
  line.text = TextTriple{"532+", "Forest", "old"};
  line.words = {rmfbuild::VertexWord::Attribute(TextTriple{"532-", "Forest", "old"}), rmfbuild::VertexWord::Point(0),
                rmfbuild::VertexWord::Point(1)};
  cut.points = {TiPoint{kX0 + kCell + 1000, kY0 + 60000}, TiPoint{kX0 + kCell + 120000, kY0 + 60000}};
  cut.parts.push_back(line);
  other.records.push_back(cut);
  d.tiles.push_back(t);
  d.tiles.push_back(other);
  Open(Wide(d));
  Areas("3");

  const TiRect around{kX0 + 45001, kY0 + 45001, kX0 + 60001, kY0 + 58001};
  std::vector<Hit> hits = Query(around);
  ASSERT_EQ(hits.size(), 3u);
  EXPECT_EQ(hits[0].name, "Lake");  // the island's shore
  EXPECT_NE(hits[0].ref.featureId, 0u);
  EXPECT_EQ(hits[1].name, "Lake");  // the lake around the polygon, outline counter-clockwise
  EXPECT_EQ(hits[1].code, "532-");
  EXPECT_EQ(hits[1].ref.featureId, 0u);
  EXPECT_GT(Shoelace(hits[1].points), 0);
  EXPECT_EQ(hits[2].n, -1);
  const AreaSums sums = SumAreas(hits);
  EXPECT_NEAR(static_cast<double>(sums.area.at("Lake")), 15000.0 * 13000.0 - 4000.0 * 4000.0, 1.0);

  // The repeated pair crosses the polygon: the forest lies around it.
  const TiRect forest{kX0 + kCell + 50001, kY0 + 55001, kX0 + kCell + 52001, kY0 + 65001};
  hits = Query(forest);
  ASSERT_EQ(hits.size(), 2u);
  EXPECT_EQ(hits[0].name, "Forest");
  EXPECT_EQ(hits[0].detail, "old");
  EXPECT_EQ(hits[0].code, "532-");
  EXPECT_EQ(hits[0].n, 5);
  EXPECT_GT(Shoelace(hits[0].points), 0);
  EXPECT_EQ(hits[1].n, -1);
}

TEST_F(AreaQueryTest, TooManyCrossingsGiveNoPieces) {
  MapDescription d;
  Tile t = CellTile();
  Record r;
  // A comb whose 300 teeth each cross the polygon's bottom twice.
  std::vector<TiPoint> comb;
  for (int i = 0; i < 300; ++i) {
    comb.push_back(At(1000 + i * 300, 2000));
    comb.push_back(At(1000 + i * 300, 8000));
    comb.push_back(At(1100 + i * 300, 8000));
    comb.push_back(At(1100 + i * 300, 2000));
  }
  comb.push_back(At(1000 + 300 * 300, 1000));
  comb.push_back(At(1000, 1000));
  std::reverse(comb.begin(), comb.end());
  AddRing(r, TextTriple{"532+", "Comb", ""}, comb);
  t.records.push_back(r);
  d.tiles.push_back(t);
  Open(Wide(d));
  Areas("3");
  const std::vector<Hit> hits = Query(TiRect{kX0 + 500, kY0 + 5000, kX0 + 100000, kY0 + 20000});
  const AreaSums sums = SumAreas(hits);
  EXPECT_EQ(sums.pieces, 0);
  EXPECT_EQ(sums.enclosing, 0);
  EXPECT_EQ(reader_->lastError, kRmfNoMemory);
  int teeth = 0;
  for (const Hit& h : hits) teeth += Referenced(h) ? 1 : 0;
  EXPECT_EQ(teeth, 300);  // the rings' runs still come back
}

// ---- the area search at a point -------------------------------------------------------

class AreasAtPointTest : public QueryFixture {
 protected:
  void SetUp() override {
    QueryFixture::SetUp();
    MapDescription d;
    Tile t = CellTile();
    Record r;
    // A park holding a lake; two fields sharing an edge; all clockwise "+".
    AddRing(r, TextTriple{"522+", "Park", ""},
            {At(10000, 10000), At(10000, 60000), At(60000, 60000), At(60000, 10000)});
    AddRing(r, TextTriple{"522+", "Lake", ""},
            {At(20000, 20000), At(20000, 40000), At(40000, 40000), At(40000, 20000)});
    AddRing(r, TextTriple{"522+", "West", ""},
            {At(70000, 10000), At(70000, 60000), At(90000, 60000), At(90000, 10000)});
    AddRing(r, TextTriple{"522+", "East", ""},
            {At(90000, 10000), At(90000, 60000), At(110000, 60000), At(110000, 10000)});
    t.records.push_back(r);
    d.tiles.push_back(t);
    Open(Wide(d));
  }

  // name -> code of every area found around the point.
  std::map<std::string, std::string> Around(TiPoint p, RmfAreaFilterFn filter = nullptr, void* context = nullptr,
                                            std::int32_t* result = nullptr) {
    RmfFeatureRef refs[16];
    const std::int32_t n = RmfAreasAtPoint(reader_, -1, &p, 1, filter, context, refs, 16);
    if (result != nullptr) *result = n;
    std::map<std::string, std::string> found;
    for (std::int32_t i = 0; i < n; ++i) {
      char code[6];
      char value[51];
      char name[251];
      EXPECT_GE(RmfFeatureAttribute(reader_, refs[i], 0, code, value, name), 1);
      found[value] = code;
      EXPECT_EQ(refs[i].position, 1024);
    }
    std::int32_t slots = 0;
    std::int32_t uses = 0;
    (void)RmfFeatureSlotUsage(reader_, &slots, &uses);
    EXPECT_EQ(uses, 0);  // every feature fetched was released
    return found;
  }
};

TEST_F(AreasAtPointTest, NestedAndNeighbouringAreas) {
  using M = std::map<std::string, std::string>;
  EXPECT_EQ(Around(At(30000, 31000)), (M{{"Lake", "522+"}}));  // in the lake
  EXPECT_EQ(Around(At(19000, 30000)), (M{{"Lake", "522-"}}));  // in the park, beside the lake
  EXPECT_EQ(Around(At(11000, 50000)), (M{{"Park", "522+"}}));  // in the park, by its edge
  EXPECT_EQ(Around(At(8000, 50000)), (M{{"Park", "522-"}}));   // outside the park
  // By the shared edge both fields are found, each telling its own side.
  EXPECT_EQ(Around(At(89000, 35000)), (M{{"West", "522+"}, {"East", "522-"}}));
  EXPECT_EQ(Around(At(91000, 35000)), (M{{"West", "522-"}, {"East", "522+"}}));
  // A filter that leaves the lake out: the park around it.
  const auto noLake = [](void*, std::int32_t count, const char*, const char* names, const char*) -> std::int32_t {
    return count > 0 && std::string(names) == "Lake" ? 0 : 1;
  };
  EXPECT_EQ(Around(At(30000, 31000), noLake), (M{{"Park", "522+"}}));
  // A filter that fails ends the search.
  std::int32_t result = 0;
  Around(
      At(30000, 31000), [](void*, std::int32_t, const char*, const char*, const char*) -> std::int32_t { return -5; },
      nullptr, &result);
  EXPECT_EQ(result, -1);
}

TEST_F(AreasAtPointTest, Arguments) {
  RmfFeatureRef refs[4];
  const auto call = [&](TiPoint p, std::int32_t source, std::int32_t level, std::int32_t capacity) {
    return RmfAreasAtPoint(reader_, source, &p, level, nullptr, nullptr, refs, capacity);
  };
  EXPECT_GE(call(TiPoint{1 << 27, 0}, -1, 1, 4), 0);
  EXPECT_EQ(call(TiPoint{(1 << 27) + 1, 0}, -1, 1, 4), kRmfBadArgument);
  EXPECT_GE(call(TiPoint{0, -(1 << 26)}, -1, 1, 4), 0);
  EXPECT_EQ(call(TiPoint{0, -(1 << 26) - 1}, -1, 1, 4), kRmfBadArgument);
  EXPECT_EQ(call(At(30000, 31000), -1, 16, 4), kRmfBadArgument);
  EXPECT_EQ(call(At(30000, 31000), -1, 1, 0), kRmfBadArgument);
  EXPECT_EQ(call(At(30000, 31000), 1, 1, 4), kRmfBadArgument);
  EXPECT_EQ(call(At(30000, 31000), 0, 1, 4), 1);
  // Start level above the data's tile level: nothing is looked at.
  EXPECT_EQ(call(At(30000, 31000), 0, kLevel + 1, 4), 0);
  const TiPoint p = At(30000, 31000);
  EXPECT_EQ(RmfAreasAtPoint(nullptr, -1, &p, 1, nullptr, nullptr, refs, 4), kRmfBadArgument);
  EXPECT_EQ(RmfAreasAtPoint(reader_, -1, nullptr, 1, nullptr, nullptr, refs, 4), kRmfBadArgument);
  EXPECT_EQ(RmfAreasAtPoint(reader_, -1, &p, 1, nullptr, nullptr, nullptr, 4), kRmfBadArgument);
}

TEST_F(AreasAtPointTest, TileRoutines) {
  const TiPoint near = At(1000, 1000);
  const std::uint32_t own = RmfTileIdOfPoint(&near, kLevel);
  // Neighbours on the level, held by the source.
  const TiPoint far = At(kCell * 5, kCell * 5);
  const std::uint32_t elsewhere = RmfTileIdOfPoint(&far, kLevel);
  const std::uint32_t n = RmfTileNeighbour(reader_, 0, 1, elsewhere, elsewhere > own ? -1 : 1);
  EXPECT_EQ(n, own);
  EXPECT_EQ(RmfTileNeighbour(reader_, 0, 1, own, elsewhere > own ? 1 : -1), 0xFFFFFFFFu);
  EXPECT_EQ(RmfTileNeighbour(reader_, 0, 0, elsewhere, -1), 0xFFFFFFFFu);  // no source
  // The last id of a level has no neighbour above; the first none below.
  RmfTileRange level{};
  ASSERT_EQ(RmfTileIdRange(kRmfWorldTileId, kLevel, &level), 1);
  EXPECT_EQ(RmfTileNeighbour(reader_, 0, 1, level.last, 1), 0xFFFFFFFFu);
  EXPECT_EQ(RmfTileNeighbour(reader_, 0, 1, level.first, -1), 0xFFFFFFFFu);
  EXPECT_EQ(RmfTileNeighbour(reader_, 0, 1, 0xA0000000u, 1), 0xFFFFFFFFu);  // an invalid id

  // Data under a tile, from a start level up to the tile's own.
  EXPECT_EQ(RmfTileRangeHasData(reader_, 0, 1, kRmfWorldTileId, 0), 1);
  EXPECT_EQ(RmfTileRangeHasData(reader_, 0, 1, kRmfWorldTileId, kLevel), 1);
  EXPECT_EQ(RmfTileRangeHasData(reader_, 0, 1, kRmfWorldTileId, kLevel + 1), 0);
  EXPECT_EQ(RmfTileRangeHasData(reader_, 0, 1, own, 0), 1);
  EXPECT_EQ(RmfTileRangeHasData(reader_, 0, 1, elsewhere, 0), 0);
  EXPECT_EQ(RmfTileRangeHasData(nullptr, 0, 1, own, 0), 0);
}

TEST(AreaSearchPiecesTest, OctantOffsets) {
  const TiPoint p{kX0 + 3000, kY0 + 7000};
  const std::uint32_t tile = RmfTileIdOfPoint(&p, 3);
  TiRect r{};
  ASSERT_EQ(RmfTileRect(tile, &r), 1);
  const std::int32_t xmin = r.x1 - p.x, xmax = r.x2 - p.x, ymin = r.y1 - p.y, ymax = r.y2 - p.y;
  const std::int32_t want[8][4] = {
      {xmin, ymin, xmax, ymax}, {-xmax, ymin, -xmin, ymax}, {xmin, -ymax, xmax, -ymin}, {-xmax, -ymax, -xmin, -ymin},
      {ymin, xmin, ymax, xmax}, {ymin, -xmax, ymax, -xmin}, {-ymax, xmin, -ymin, xmax}, {-ymax, -xmax, -ymin, -xmin},
  };
  for (int k = 0; k < 8; ++k) {
    std::int32_t out[4];
    ASSERT_EQ(RmfTileOctantOffsets(tile, &p, k, out), 1);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(out[i], want[k][i]) << "direction " << k << " value " << i;
  }
  std::int32_t out[4];
  EXPECT_EQ(RmfTileOctantOffsets(tile, &p, 8, out), kRmfBadArgument);
  EXPECT_EQ(RmfTileOctantOffsets(tile, nullptr, 0, out), kRmfBadArgument);
  EXPECT_EQ(RmfTileOctantOffsets(0xA0000000u, &p, 0, out), kRmfBadArgument);
}

TEST(AreaSearchPiecesTest, TurnKeys) {
  const TiVector east{1000, 0};
  const TiVector north{0, 1000};
  const TiVector south{0, -1000};
  const TiVector west{-1000, 0};
  struct Case {
    const TiVector* a;
    const TiVector* b;
    std::int32_t mode;
    std::int32_t key;
  };
  const Case cases[] = {
      {&east, &east, 2, 1},
      {&east, &east, 0, 1 << 28},
      {&east, &north, 2, (1 << 27) + 1},
      {&east, &north, 0, 1 << 27},  // left by 90 degrees
      {&east, &south, 2, 1 << 27},
      {&east, &south, 0, (1 << 27) + 1},  // right by 90 degrees
      {&east, &west, 0, 1},
      {&east, &west, 2, 1 << 28},  // turning back
      {&east, &north, 1, 1 << 27},
      {&east, &south, 1, 1 << 27},  // as far from both
      {&east, &east, 1, 1},
      {&east, &west, 1, 1},
      {&east, &north, 3, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RmfTurnKey(c.a, c.b, c.mode), c.key)
        << c.a->dx << "," << c.a->dy << " -> " << c.b->dx << "," << c.b->dy << " mode " << c.mode;
  }
  EXPECT_EQ(RmfTurnKey(nullptr, &east, 0), 0);
}

TEST(AreaSearchPiecesTest, SortedList) {
  RmfTileNode pool[6]{};
  RmfSortedList list{0, 0, RmfCompareDistance, nullptr, pool, sizeof(RmfTileNode), 6};
  const std::int32_t keys[6] = {50, 10, 30, 10, 70, -5};
  for (int i = 0; i < 6; ++i) {
    pool[i].tile = static_cast<std::uint32_t>(i);
    pool[i].distance = keys[i];
    ASSERT_EQ(RmfSortedListInsert(&list, &pool[i]), 1);
  }
  std::vector<std::uint32_t> order;
  for (std::uint32_t h = list.head; h != 0; h = pool[h - 1].link) order.push_back(pool[h - 1].tile);
  // Ascending; of two equal ones the later inserted first.
  EXPECT_EQ(order, (std::vector<std::uint32_t>{5, 3, 1, 2, 0, 4}));
  EXPECT_EQ(RmfSortedListInsert(nullptr, &pool[0]), 0);
  EXPECT_EQ(RmfSortedListInsert(&list, nullptr), 0);
  EXPECT_EQ(RmfCompareDistance(&pool[0], &pool[1], nullptr, 0), 1);
  EXPECT_EQ(RmfCompareDistance(&pool[1], &pool[3], nullptr, 0), 0);
  EXPECT_EQ(RmfCompareDistance(&pool[5], &pool[1], nullptr, 0), -1);
}

}  // namespace
