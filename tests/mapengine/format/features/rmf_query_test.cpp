// Tests of the feature query over map files built with the builder: on
// random maps every query returns exactly the features of the asked levels
// and classes that meet the query area (points inside it, lines and area
// rings crossing it, lines cut at tile borders included), with their points
// cut to the area and the vertex positions they come from; the order of the
// passes and the end marks of a source's areas; the class filters, level
// range, granularity, long runs and text filtering; the query area set as a
// rectangle or polygon, source by source; and the degree wrappers and source
// information.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "mapengine/format/features/RmfClip.h"
#include "mapengine/format/features/RmfQuery.h"
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

constexpr std::uint32_t kLevel = 2;
constexpr std::int32_t kCell = 4096 << kLevel;  // 16,384 units
constexpr std::int32_t kOriginX = kCell * 40;
constexpr std::int32_t kOriginY = kCell * 20;

// ---- the model ------------------------------------------------------------------

struct Feature {
  int category = 0;  // 0 point, 1 line, 2 area
  TextTriple text;
  std::vector<TiPoint> points;  // areas: closed (first point again at the end)
  std::uint32_t tile = 0;
  std::uint16_t sequence = 0;
  std::uint16_t part = 0;
};

using FeatureKey = std::tuple<std::uint32_t, std::uint16_t, std::uint16_t>;

// A convex query polygon, counter-clockwise.
struct Area {
  std::vector<TiPoint> corners;
};

bool Inside(const Area& area, const TiPoint& p) {
  const std::size_t n = area.corners.size();
  for (std::size_t i = 0; i < n; ++i) {
    const TiPoint& a = area.corners[i];
    const TiPoint& b = area.corners[(i + 1) % n];
    if (exact_model::Cross({a.x, a.y}, {b.x, b.y}, {p.x, p.y}) < 0) return false;
  }
  return true;
}

Ld Length(const TiPoint& a, const TiPoint& b) {
  return std::hypot(static_cast<Ld>(b.x) - a.x, static_cast<Ld>(b.y) - a.y);
}

// Length of the polyline inside the convex area.
Ld ClippedLength(const Area& area, const std::vector<TiPoint>& line) {
  return exact_model::LengthInside(exact_model::Points(area.corners), exact_model::Points(line));
}

Ld PolylineLength(const std::vector<TiPoint>& p) {
  Ld total = 0;
  for (std::size_t i = 1; i < p.size(); ++i) total += Length(p[i - 1], p[i]);
  return total;
}

// Distance of p from segment a-b.
Ld DistanceToSegment(const TiPoint& p, const TiPoint& a, const TiPoint& b) {
  const Ld dx = static_cast<Ld>(b.x) - a.x;
  const Ld dy = static_cast<Ld>(b.y) - a.y;
  const Ld l2 = dx * dx + dy * dy;
  Ld t = l2 == 0 ? 0 : ((static_cast<Ld>(p.x) - a.x) * dx + (static_cast<Ld>(p.y) - a.y) * dy) / l2;
  t = std::clamp<Ld>(t, 0, 1);
  return std::hypot(a.x + t * dx - p.x, a.y + t * dy - p.y);
}

// Distance of p from a closed outline (the last point joins the first).
Ld DistanceToOutline(const std::vector<TiPoint>& outline, const TiPoint& p) {
  Ld best = 1e30L;
  for (std::size_t i = 0; i < outline.size(); ++i) {
    best = std::min(best, DistanceToSegment(p, outline[i], outline[(i + 1) % outline.size()]));
  }
  return best;
}

// Even-odd test of a point against a ring (points on it count as inside).
bool InRing(const std::vector<TiPoint>& ring, const TiPoint& p) {
  if (DistanceToOutline(ring, p) < 0.5L) return true;
  bool in = false;
  for (std::size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
    const TiPoint& a = ring[j];
    const TiPoint& b = ring[i];
    if ((a.y > p.y) == (b.y > p.y)) continue;
    const Ld x = a.x + (static_cast<Ld>(p.y) - a.y) * (static_cast<Ld>(b.x) - a.x) / (static_cast<Ld>(b.y) - a.y);
    if (p.x < x) in = !in;
  }
  return in;
}

struct Filter {
  std::string texts[3];
  std::int32_t low = 1;
  std::int32_t high = 8;
};

bool Passes(const Filter& f, const std::string& code) {
  const int level = code[0] - '0';
  const char klass = code[1];
  const int category = code[2] - '0';
  if (level < f.low || level > f.high) return false;
  return f.texts[category].find(klass) != std::string::npos;
}

// ---- random maps ------------------------------------------------------------------

struct RandomMap {
  MapDescription description;
  std::vector<Feature> features;
};

std::int32_t Even(std::mt19937& gen, std::int32_t lo, std::int32_t hi) {
  return std::uniform_int_distribution<std::int32_t>(lo / 2, hi / 2)(gen) * 2;
}

TiPoint InCell(std::mt19937& gen, std::int32_t cx, std::int32_t cy) {
  const std::int32_t x0 = kOriginX + cx * kCell;
  const std::int32_t y0 = kOriginY + cy * kCell;
  return TiPoint{Even(gen, x0 + 2, x0 + kCell - 2), Even(gen, y0 + 2, y0 + kCell - 2)};
}

std::string RandomCode(std::mt19937& gen, int category) {
  std::string code;
  code += static_cast<char>('1' + gen() % 8);
  code += static_cast<char>('1' + gen() % 7);
  code += static_cast<char>('0' + category);
  if (category == 2) code += gen() % 2 == 0 ? '+' : '-';
  return code;
}

// A 3 x 3 block of level-2 tiles, two records each, with points, lines,
// area rings and lines that cross into the neighbouring tile (cut at the
// border into one part on each side).
RandomMap MakeRandomMap(std::uint32_t seed) {
  std::mt19937 gen(seed);
  RandomMap m;
  std::map<std::pair<int, int>, Tile> tiles;
  int next = 0;
  const auto tileAt = [&](int cx, int cy) -> Tile& {
    auto it = tiles.find({cx, cy});
    if (it == tiles.end()) {
      Tile t = Tile::At(kLevel, TiPoint{kOriginX + cx * kCell + kCell / 2, kOriginY + cy * kCell + kCell / 2});
      t.records.resize(2);
      it = tiles.emplace(std::make_pair(cx, cy), std::move(t)).first;
    }
    return it->second;
  };
  const auto add = [&](int cx, int cy, int category, std::vector<TiPoint> points, const std::string& name,
                       std::string code = "") {
    Tile& t = tileAt(cx, cy);
    const std::uint16_t sequence = static_cast<std::uint16_t>(gen() % 2);
    Record& r = t.records[sequence];
    Feature f;
    f.category = category;
    f.text = TextTriple{code.empty() ? RandomCode(gen, category) : code, name, "detail of " + name};
    f.tile = rmfbuild::TileIdOf(t);
    f.sequence = sequence;
    f.part = static_cast<std::uint16_t>(r.parts.size());
    f.points = points;
    AddPart(r, f.text, points);
    m.features.push_back(f);
  };
  for (int cx = 0; cx < 3; ++cx) {
    for (int cy = 0; cy < 3; ++cy) {
      for (int k = 0; k < 12; ++k) {
        const std::string name = "F" + std::to_string(next++);
        switch (gen() % 3) {
          case 0:
            add(cx, cy, 0, {InCell(gen, cx, cy)}, name);
            break;
          case 1: {
            std::vector<TiPoint> line(2 + gen() % 7);
            for (TiPoint& p : line) p = InCell(gen, cx, cy);
            add(cx, cy, 1, line, name);
            break;
          }
          default: {
            // A star-shaped ring around a centre, either way round.
            const TiPoint c = InCell(gen, cx, cy);
            const std::int32_t x0 = kOriginX + cx * kCell;
            const std::int32_t y0 = kOriginY + cy * kCell;
            const std::int32_t reach = std::min({c.x - x0, x0 + kCell - c.x, c.y - y0, y0 + kCell - c.y}) - 2;
            if (reach < 20) break;
            // Angles a little apart, none more than half a turn from the
            // next: a simple ring around the centre.
            std::vector<double> angles(3 + gen() % 6);
            const double step = 6.283185307 / static_cast<double>(angles.size());
            const double start = std::uniform_real_distribution<double>(0, step)(gen);
            for (std::size_t i = 0; i < angles.size(); ++i) {
              angles[i] = start + step * (static_cast<double>(i) + std::uniform_real_distribution<double>(0, 0.8)(gen));
            }
            std::vector<TiPoint> ring;
            for (double a : angles) {
              const double rr = std::uniform_real_distribution<double>(0.3, 1.0)(gen) * reach;
              ring.push_back(TiPoint{c.x + 2 * static_cast<std::int32_t>(rr * std::cos(a) / 2),
                                     c.y + 2 * static_cast<std::int32_t>(rr * std::sin(a) / 2)});
            }
            ring.erase(std::unique(ring.begin(), ring.end(),
                                   [](const TiPoint& a, const TiPoint& b) { return a.x == b.x && a.y == b.y; }),
                       ring.end());
            if (ring.size() < 3) break;
            // Counter-clockwise now: the area lies to the left, a "-" ring;
            // reversed it lies to the right of a "+" ring.
            const bool plus = gen() % 2 == 0;
            if (plus) std::reverse(ring.begin(), ring.end());
            ring.push_back(ring.front());
            std::string code = RandomCode(gen, 2);
            code[3] = plus ? '+' : '-';
            add(cx, cy, 2, ring, name, code);
            break;
          }
        }
      }
      // A line into the right-hand neighbour, cut at the border.
      if (cx < 2) {
        const std::string name = "X" + std::to_string(next++);
        const std::int32_t border = kOriginX + (cx + 1) * kCell;
        const TiPoint cut{border, Even(gen, kOriginY + cy * kCell + 2, kOriginY + (cy + 1) * kCell - 2)};
        add(cx, cy, 1, {InCell(gen, cx, cy), InCell(gen, cx, cy), cut}, name + "a");
        add(cx + 1, cy, 1, {cut, InCell(gen, cx + 1, cy), InCell(gen, cx + 1, cy)}, name + "b");
      }
    }
  }
  for (auto& [place, t] : tiles) m.description.tiles.push_back(std::move(t));
  return m;
}

Filter RandomFilter(std::mt19937& gen) {
  Filter f;
  for (std::string& t : f.texts) {
    for (char c = '1'; c <= '7'; ++c) {
      if (gen() % 3 != 0) t += c;
    }
  }
  if (gen() % 5 == 0) f.texts[gen() % 3].clear();
  f.low = 1 + static_cast<std::int32_t>(gen() % 8);
  f.high = 1 + static_cast<std::int32_t>(gen() % 8);
  if (f.low > f.high) std::swap(f.low, f.high);
  return f;
}

Area RandomArea(std::mt19937& gen) {
  const auto odd = [&](std::int32_t lo, std::int32_t hi) { return Even(gen, lo, hi) + 1; };
  const std::int32_t span = 3 * kCell;
  if (gen() % 3 == 0) {
    // A small rectangle, often inside an area ring.
    const std::int32_t x1 = odd(kOriginX, kOriginX + span - 1000);
    const std::int32_t y1 = odd(kOriginY, kOriginY + span - 1000);
    const std::int32_t w = Even(gen, 2, 800);
    const std::int32_t h = Even(gen, 2, 800);
    return Area{{{x1, y1}, {x1 + w, y1}, {x1 + w, y1 + h}, {x1, y1 + h}}};
  }
  if (gen() % 2 == 0) {
    std::int32_t x1 = odd(kOriginX - kCell / 4, kOriginX + span), x2 = odd(kOriginX - kCell / 4, kOriginX + span);
    std::int32_t y1 = odd(kOriginY - kCell / 4, kOriginY + span), y2 = odd(kOriginY - kCell / 4, kOriginY + span);
    if (x1 > x2) std::swap(x1, x2);
    if (y1 > y2) std::swap(y1, y2);
    if (x1 == x2) x2 += 2;
    if (y1 == y2) y2 += 2;
    return Area{{{x1, y1}, {x2, y1}, {x2, y2}, {x1, y2}}};
  }
  // A convex polygon: a hexagon of odd corners around a centre.
  const TiPoint c{odd(kOriginX, kOriginX + span), odd(kOriginY, kOriginY + span)};
  const std::int32_t r = Even(gen, 2000, kCell * 2);
  Area a;
  for (int i = 0; i < 6; ++i) {
    const double angle = i * 1.0471975512 + 0.3;
    a.corners.push_back(TiPoint{c.x + 2 * static_cast<std::int32_t>(r * std::cos(angle) / 2),
                                c.y + 2 * static_cast<std::int32_t>(r * std::sin(angle) / 2)});
  }
  return a;
}

class QueryTest : public QueryFixture {
 protected:
  void SetFilter(const Filter& f) {
    for (int c = 0; c < 3; ++c) RmfQuerySetClassFilter(reader_, c, f.texts[c].c_str());
    RmfQuerySetClassFilter(reader_, 'B', "");
    RmfQuerySetLevels(reader_, f.low, f.high);
  }
};

// ---- the random comparison -----------------------------------------------------------

TEST_F(QueryTest, ReturnsExactlyTheFeaturesInTheAreaOnRandomMaps) {
  const std::uint32_t seed = 4711;
  RandomMap map = MakeRandomMap(seed);
  Open(map.description);
  std::map<FeatureKey, const Feature*> byKey;
  std::map<std::string, const Feature*> byName;
  for (const Feature& f : map.features) {
    byKey[{f.tile, f.sequence, f.part}] = &f;
    byName[f.text.name] = &f;
  }
  int pieces = 0;
  int nestedPieces = 0;
  int enclosing = 0;

  std::mt19937 gen(seed + 1);
  int hitsSeen = 0;
  int cutPoints = 0;
  int multiRun = 0;
  for (int trial = 0; trial < 150; ++trial) {
    SCOPED_TRACE("seed " + std::to_string(seed) + " trial " + std::to_string(trial));
    const Filter filter = RandomFilter(gen);
    const Area area = RandomArea(gen);
    SetFilter(filter);
    RmfQuerySetPolygon(reader_, static_cast<std::int32_t>(area.corners.size()), area.corners.data());
    ASSERT_EQ(reader_->lastError, 0);
    const std::vector<Hit> hits = Run();

    // What must come back, what must not, and what may (a sliver thinner
    // than the rounding).
    std::set<FeatureKey> must;
    std::set<FeatureKey> may;
    std::map<FeatureKey, Ld> inside;
    for (const Feature& f : map.features) {
      if (!Passes(filter, f.text.code)) continue;
      const FeatureKey key{f.tile, f.sequence, f.part};
      if (f.category == 0) {
        if (Inside(area, f.points[0])) must.insert(key);
        continue;
      }
      const Ld length = ClippedLength(area, f.points);
      inside[key] = length;
      if (length >= 4)
        must.insert(key);
      else if (length > 0)
        may.insert(key);
    }

    std::set<FeatureKey> got;
    std::map<FeatureKey, Ld> gotLength;
    std::map<FeatureKey, int> runs;
    int category = 2;
    int endMarks = 0;
    bool areaHits = false;
    for (const Hit& h : hits) {
      if (h.n == -1) {
        ++endMarks;
        EXPECT_TRUE(areaHits);
        continue;
      }
      ASSERT_GT(h.n, 0) << "result " << h.n;
      if (!Referenced(h)) {
        // A piece of the boundary inside an area, or an area around the
        // whole polygon: the polygon as the source has it (cut to its box).
        EXPECT_EQ(category, 2);
        areaHits = true;
        ASSERT_EQ(byName.count(h.name), 1u) << h.name;
        const Feature& f = *byName[h.name];
        ASSERT_EQ(f.category, 2);
        EXPECT_TRUE(Passes(filter, f.text.code));
        ASSERT_GE(h.count, 1);
        const RmfSource* source = reader_->sources[0];
        const std::vector<TiPoint> polygon(source->queryArea, source->queryArea + source->queryAreaCount);
        const auto samePoint = [](const TiPoint& a, const TiPoint& b) { return a.x == b.x && a.y == b.y; };
        const std::size_t m = polygon.size();
        bool forward = h.points.size() == m + 1;
        bool backward = forward;
        for (std::size_t i = 0; i <= m && (forward || backward); ++i) {
          forward = forward && samePoint(h.points[i], polygon[i % m]);
          backward = backward && samePoint(h.points[i], polygon[(2 * m - 1 - i) % m]);
        }
        if (forward || backward) {
          // The area encloses the polygon; its code names the side the area
          // lies on as the outline runs (counter-clockwise: left).
          for (const TiPoint& c : polygon) EXPECT_TRUE(InRing(f.points, c)) << h.name;
          EXPECT_EQ(h.code.substr(0, 3), f.text.code.substr(0, 3));
          EXPECT_EQ(h.code[3], forward ? '-' : '+');
          EXPECT_EQ(h.count, 1);
          ++enclosing;
          continue;
        }
        // Every area open on the piece: each segment's middle lies in all of
        // them.
        EXPECT_EQ(h.code, f.text.code.substr(0, 3) + "-");
        for (std::size_t k = 0; k < h.points.size(); ++k) {
          EXPECT_LE(DistanceToOutline(polygon, h.points[k]), 1.0L);
          if (k == 0) continue;
          const TiPoint mid{static_cast<std::int32_t>((std::int64_t{h.points[k - 1].x} + h.points[k].x) / 2),
                            static_cast<std::int32_t>((std::int64_t{h.points[k - 1].y} + h.points[k].y) / 2)};
          for (std::size_t a = 0; a < h.names.size(); ++a) {
            ASSERT_EQ(byName.count(h.names[a]), 1u);
            const Feature& open = *byName[h.names[a]];
            EXPECT_EQ(h.codes[a], open.text.code.substr(0, 3) + "-");
            EXPECT_TRUE(InRing(open.points, mid) || DistanceToOutline(open.points, mid) <= 2.0L) << h.names[a];
          }
        }
        if (h.count > 1) ++nestedPieces;
        ++pieces;
        continue;
      }
      const FeatureKey key{h.ref.featureId, h.ref.secondId, h.ref.part};
      ASSERT_EQ(byKey.count(key), 1u);
      const Feature& f = *byKey[key];
      // Passes run areas, lines, points.
      EXPECT_LE(f.category, category);
      category = f.category;
      if (f.category == 2) areaHits = true;
      EXPECT_EQ(h.ref.source, 0);
      EXPECT_EQ(h.ref.position, 1024);
      EXPECT_EQ(h.code, f.text.code);
      EXPECT_EQ(h.name, f.text.name);
      EXPECT_EQ(h.detail, f.text.detail);
      EXPECT_EQ(h.count, 1);
      got.insert(key);
      ++runs[key];
      gotLength[key] += PolylineLength(h.points);
      EXPECT_EQ(h.ref.fromVertex, h.vertices.front());
      EXPECT_EQ(h.ref.toVertex, h.vertices.back());
      if (f.category == 0) {
        ASSERT_EQ(h.n, 1);
        EXPECT_EQ(h.points[0].x, f.points[0].x);
        EXPECT_EQ(h.points[0].y, f.points[0].y);
        continue;
      }
      ASSERT_GE(h.n, 2);
      for (std::int32_t k = 0; k < h.n; ++k) {
        const TiPoint& p = h.points[k];
        const std::int32_t v = h.vertices[k];
        ASSERT_GE(v, 0);
        ASSERT_LT(v, static_cast<std::int32_t>(f.points.size()));
        const TiPoint& vertex = f.points[static_cast<std::size_t>(v)];
        if (p.x == vertex.x && p.y == vertex.y) continue;
        // A cut end: on the segment toward its neighbour's vertex, on the
        // area's boundary to the rounding.
        ASSERT_TRUE(k == 0 || k == h.n - 1) << "point " << k << " of " << h.n << " is not its vertex";
        const std::int32_t other = h.vertices[k == 0 ? 1 : k - 1];
        const std::int32_t step = k == 0 ? 1 : -1;
        const TiPoint& neighbour = f.points[static_cast<std::size_t>(v + step)];
        EXPECT_LE(DistanceToSegment(p, vertex, neighbour), 1.0L);
        EXPECT_TRUE(other == v + step || (k == 0 ? other > v : other < v));
        ++cutPoints;
      }
      for (const TiPoint& p : h.points) {
        // Inside the area, cut points within the rounding.
        bool near = Inside(area, p);
        for (std::size_t i = 0; !near && i < area.corners.size(); ++i) {
          near = DistanceToSegment(p, area.corners[i], area.corners[(i + 1) % area.corners.size()]) <= 1.0L;
        }
        EXPECT_TRUE(near);
      }
    }
    for (const FeatureKey& k : must) {
      EXPECT_TRUE(got.count(k) == 1) << "missing " << byKey[k]->text.name << " " << byKey[k]->text.code;
    }
    for (const FeatureKey& k : got) {
      EXPECT_TRUE(must.count(k) == 1 || may.count(k) == 1)
          << "extra " << byKey[k]->text.name << " " << byKey[k]->text.code;
      if (byKey[k]->category == 0) continue;
      // The runs cover the part's length inside the area, to the rounding of
      // their cut ends.
      EXPECT_NEAR(static_cast<double>(gotLength[k]), static_cast<double>(inside[k]), 2.0 * runs[k] + 1.0)
          << byKey[k]->text.name;
      if (runs[k] > 1) ++multiRun;
    }
    EXPECT_LE(endMarks, 1);
    EXPECT_EQ(endMarks == 1, areaHits);
    hitsSeen += static_cast<int>(got.size());
  }
  EXPECT_GT(hitsSeen, 500);
  EXPECT_GT(cutPoints, 200);
  EXPECT_GT(multiRun, 0);
  EXPECT_GT(pieces, 50);
  EXPECT_GT(enclosing, 0);
}

// ---- filters and levels -----------------------------------------------------------------

// One tile with a point, a line and an area of every level 1..8 (class 1).
MapDescription EveryLevel() {
  MapDescription d;
  Tile t = Tile::At(kLevel, TiPoint{kOriginX + kCell / 2, kOriginY + kCell / 2});
  Record r;
  for (int level = 1; level <= 8; ++level) {
    const std::string l(1, static_cast<char>('0' + level));
    const std::int32_t x = kOriginX + 1000 * level;
    const std::int32_t y = kOriginY + 1000;
    AddPart(r, TextTriple{l + "10", "P" + l, ""}, {{x, y}});
    AddPart(r, TextTriple{l + "11", "L" + l, ""}, {{x, y + 100}, {x + 500, y + 600}});
    AddRing(r, TextTriple{l + "12+", "A" + l, ""}, {{x, y + 2000}, {x, y + 2500}, {x + 500, y + 2500}});
  }
  t.records.push_back(r);
  d.tiles.push_back(t);
  return d;
}

std::multiset<std::string> Names(const std::vector<Hit>& hits) {
  std::multiset<std::string> names;
  for (const Hit& h : hits) {
    if (h.n > 0 && Referenced(h)) names.insert(h.name);
  }
  return names;
}

TEST_F(QueryTest, FiltersAndLevels) {
  Open(EveryLevel());
  RmfQuerySetRect(reader_, kOriginX, kOriginY, kOriginX + kCell, kOriginY + kCell);
  // Every category off: nothing, at the first call.
  for (int c = 0; c < 6; ++c) RmfQuerySetClassFilter(reader_, c, "");
  RmfQuerySetLevels(reader_, 1, 8);
  EXPECT_TRUE(Run().empty());
  // A text without class digits switches its category off too.
  RmfQuerySetClassFilter(reader_, '0', "xyz8 0");
  EXPECT_EQ(reader_->query.classMasks[0], 0u);
  EXPECT_TRUE(Run().empty());

  RmfQuerySetClassFilter(reader_, '0', "1");
  RmfQuerySetClassFilter(reader_, '1', "1");
  RmfQuerySetClassFilter(reader_, '2', "1");
  // Levels are ordered and held to the reader's range.
  RmfQuerySetLevels(reader_, 5, 2);
  EXPECT_EQ(reader_->query.levelLow, 2);
  EXPECT_EQ(reader_->query.levelHigh, 5);
  std::multiset<std::string> want;
  for (int l = 2; l <= 5; ++l) {
    for (const char* k : {"P", "L", "A"}) want.insert(k + std::to_string(l));
  }
  EXPECT_EQ(Names(Run()), want);
  RmfQuerySetLevels(reader_, 0, 12);
  EXPECT_EQ(reader_->query.levelLow, 1);
  EXPECT_EQ(reader_->query.levelHigh, 8);
  EXPECT_EQ(Names(Run()).size(), 24u);
  RmfQuerySetLevels(reader_, -1, 4);  // refused, nothing changed
  EXPECT_EQ(reader_->lastError, kRmfBadArgument);
  EXPECT_EQ(reader_->query.levelHigh, 8);

  // Filter texts: at most 9 characters kept, other characters ignored.
  RmfQuerySetClassFilter(reader_, 'b', "1234567123456");
  EXPECT_STREQ(reader_->query.filterTexts[3], "123456712");
  EXPECT_EQ(reader_->lastError, 0);
  RmfQuerySetClassFilter(reader_, 'B', "");
  RmfQuerySetClassFilter(reader_, 'Q', "1");
  EXPECT_EQ(reader_->lastError, kRmfBadArgument);
  RmfQuerySetClassFilter(reader_, 2, "x1y");
  EXPECT_EQ(reader_->query.classMasks[2], 0x1010000u);
  RmfQuerySetClassFilter(reader_, '1', "37");
  EXPECT_EQ(reader_->query.classMasks[1], 0x4400u);
  RmfQuerySetClassFilter(reader_, '1', "1");

  // "R" and "S" filters change nothing a query returns.
  const std::vector<Hit> before = Run();
  RmfQuerySetClassFilter(reader_, 'R', "1234567");
  RmfQuerySetClassFilter(reader_, 's', "1234567");
  EXPECT_EQ(reader_->query.classMasks[4], 0x7f00u);
  EXPECT_EQ(reader_->query.classMasks[5], 0u);
  const std::vector<Hit> after = Run();
  ASSERT_EQ(before.size(), after.size());
  for (std::size_t i = 0; i < before.size(); ++i) {
    EXPECT_EQ(before[i].n, after[i].n);
    EXPECT_EQ(before[i].name, after[i].name);
  }
}

TEST_F(QueryTest, PointsOutsideAndTextsThatFailAreSkipped) {
  MapDescription d;
  Tile t = Tile::At(kLevel, TiPoint{kOriginX + kCell / 2, kOriginY + kCell / 2});
  Record r;
  AddPart(r, TextTriple{"110", "inside", ""}, {{kOriginX + 500, kOriginY + 500}});
  AddPart(r, TextTriple{"110", "outside", ""}, {{kOriginX + 5000, kOriginY + 500}});
  AddPart(r, TextTriple{"130", "wrong class", ""}, {{kOriginX + 600, kOriginY + 600}});
  AddPart(r, TextTriple{"111", "line of class 1 in a point's code", ""}, {{kOriginX + 600, kOriginY + 700}});
  AddPart(r, TextTriple{"131", "wrong line", ""}, {{kOriginX + 100, kOriginY + 100}, {kOriginX + 900, kOriginY + 900}});
  // A part whose own triple fails but whose attribute triple passes.
  AddPart(r, TextTriple{"141", "own", ""}, {{kOriginX + 200, kOriginY + 100}, {kOriginX + 800, kOriginY + 900}},
          {rmfbuild::VertexWord::Attribute(TextTriple{"111", "attribute", "passes"}),
           rmfbuild::VertexWord::Attribute(TextTriple{"151", "fails", ""})});
  // The entry's class bits name every class of its triples.
  r.parts.back().classBits =
      *rmfbuild::ClassBitsOfCode("141") | *rmfbuild::ClassBitsOfCode("111") | *rmfbuild::ClassBitsOfCode("151");
  t.records.push_back(r);
  d.tiles.push_back(t);
  Open(d);
  RmfQuerySetRect(reader_, kOriginX, kOriginY, kOriginX + 1000, kOriginY + 1000);
  RmfQuerySetClassFilter(reader_, '0', "1");
  RmfQuerySetClassFilter(reader_, '1', "1");
  RmfQuerySetLevels(reader_, 1, 8);
  const std::vector<Hit> hits = Run();
  ASSERT_EQ(hits.size(), 2u);
  EXPECT_EQ(hits[0].name, "attribute");
  EXPECT_EQ(hits[0].code, "111");
  EXPECT_EQ(hits[0].detail, "passes");
  EXPECT_EQ(hits[0].count, 1);
  EXPECT_EQ(hits[0].ref.fromVertex, 2);  // after the two attribute words
  EXPECT_EQ(hits[1].name, "inside");
}

TEST_F(QueryTest, LongRunsComeInPiecesOf501Points) {
  MapDescription d;
  Tile t = Tile::At(kLevel, TiPoint{kOriginX + kCell / 2, kOriginY + kCell / 2});
  Record r;
  std::vector<TiPoint> line;
  for (int i = 0; i < 1000; ++i) line.push_back(TiPoint{kOriginX + 10 + i * 10, kOriginY + 100 + (i % 7) * 3});
  AddPart(r, TextTriple{"111", "long", ""}, line);
  t.records.push_back(r);
  d.tiles.push_back(t);
  Open(d);
  RmfQuerySetRect(reader_, kOriginX, kOriginY, kOriginX + kCell, kOriginY + kCell);
  RmfQuerySetClassFilter(reader_, '1', "1");
  RmfQuerySetLevels(reader_, 1, 8);
  const std::vector<Hit> hits = Run();
  ASSERT_EQ(hits.size(), 2u);
  ASSERT_EQ(hits[0].n, 501);
  ASSERT_EQ(hits[1].n, 500);
  EXPECT_EQ(hits[1].points[0].x, hits[0].points[500].x);
  EXPECT_EQ(hits[1].points[0].y, hits[0].points[500].y);
  for (int i = 0; i < 1000; ++i) {
    const TiPoint& p = i < 501 ? hits[0].points[i] : hits[1].points[i - 500];
    ASSERT_EQ(p.x, line[i].x);
    ASSERT_EQ(p.y, line[i].y);
  }
  EXPECT_EQ(hits[0].ref.fromVertex, 0);
  EXPECT_EQ(hits[0].ref.toVertex, 500);
  EXPECT_EQ(hits[1].ref.fromVertex, 500);
  EXPECT_EQ(hits[1].ref.toVertex, 999);

  // Cut by the area on both sides, the run still comes in pieces of 501.
  RmfQuerySetRect(reader_, kOriginX + 15, kOriginY, kOriginX + 9985, kOriginY + kCell);
  const std::vector<Hit> cut = Run();
  ASSERT_EQ(cut.size(), 2u);
  EXPECT_EQ(cut[0].n, 501);  // the cut point, 997 vertices, the cut point
  EXPECT_EQ(cut[1].n, 499);
  EXPECT_EQ(cut[0].points[0].x, kOriginX + 15);
  EXPECT_EQ(cut[1].points[498].x, kOriginX + 9985);
  EXPECT_EQ(cut[0].ref.fromVertex, 0);  // cut points keep the vertex beyond the cut
  EXPECT_EQ(cut[1].ref.toVertex, 998);
}

TEST_F(QueryTest, GranularityKeepsTheEndsOfEveryStayInACell) {
  MapDescription d;
  Tile t = Tile::At(kLevel, TiPoint{kOriginX + kCell / 2, kOriginY + kCell / 2});
  Record r;
  // Points 1 unit apart: cells of 8 units hold 8 of them.
  std::vector<TiPoint> line;
  for (int i = 0; i < 40; ++i) line.push_back(TiPoint{kOriginX + 64 + i, kOriginY + 64});
  AddPart(r, TextTriple{"111", "fine", ""}, line);
  t.records.push_back(r);
  d.tiles.push_back(t);
  Open(d);
  RmfQuerySetRect(reader_, kOriginX, kOriginY, kOriginX + 1000, kOriginY + 1000);
  RmfQuerySetClassFilter(reader_, '1', "1");
  RmfQuerySetLevels(reader_, 1, 8);
  RmfQuerySetGranularity(reader_, 7);  // cells of 8 units
  EXPECT_EQ(reader_->queryWork.snapMask, ~7u);
  std::vector<Hit> hits = Run();
  ASSERT_EQ(hits.size(), 1u);
  std::vector<std::int32_t> xs;
  for (const TiPoint& p : hits[0].points) xs.push_back(p.x - kOriginX);
  EXPECT_EQ(xs, (std::vector<std::int32_t>{64, 71, 72, 79, 80, 87, 88, 95, 96, 103}));
  // g below 1 turns thinning off.
  RmfQuerySetGranularity(reader_, 0);
  EXPECT_EQ(reader_->lastError, kRmfBadArgument);
  EXPECT_EQ(reader_->queryWork.snapMask, 0u);
  hits = Run();
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].n, 40);
  RmfQuerySetGranularity(reader_, 8);  // the smallest 2^k - 1 >= 8 is 15
  EXPECT_EQ(reader_->queryWork.snapMask, ~15u);
  RmfQuerySetGranularity(reader_, 1);
  EXPECT_EQ(reader_->queryWork.snapMask, ~1u);
}

TEST_F(QueryTest, BoundaryLinesChangeTextsAlongTheLine) {
  MapDescription d;
  Tile t = Tile::At(kLevel, TiPoint{kOriginX + kCell / 2, kOriginY + kCell / 2});
  Record r;
  rmfbuild::Part part;
  part.text = TextTriple{"11B", "first stretch", ""};
  const std::int32_t y = kOriginY + 500;
  for (int i = 0; i < 6; ++i) r.points.push_back(TiPoint{kOriginX + 100 + 200 * i, y});
  using W = rmfbuild::VertexWord;
  part.words = {W::Point(0), W::Point(1),
                W::Point(2), W::Attribute(TextTriple{"11B", "second stretch", ""}),
                W::Point(3), W::Attribute(TextTriple{"12B", "filtered out", ""}),
                W::Point(4), W::Point(5)};
  r.parts.push_back(part);
  t.records.push_back(r);
  d.tiles.push_back(t);
  Open(d);
  RmfQuerySetRect(reader_, kOriginX, kOriginY, kOriginX + 2000, kOriginY + 2000);
  RmfQuerySetClassFilter(reader_, '1', "");
  RmfQuerySetClassFilter(reader_, 'B', "1");
  RmfQuerySetLevels(reader_, 1, 8);
  const std::vector<Hit> hits = Run();
  ASSERT_EQ(hits.size(), 2u);
  EXPECT_EQ(hits[0].name, "first stretch");
  ASSERT_EQ(hits[0].n, 3);
  EXPECT_EQ(hits[0].ref.fromVertex, 0);
  EXPECT_EQ(hits[0].ref.toVertex, 1);
  EXPECT_EQ(hits[0].ref.position, 0x4200);
  EXPECT_EQ(hits[1].name, "second stretch");
  ASSERT_EQ(hits[1].n, 2);  // from point 2 to point 3
  EXPECT_EQ(hits[1].points[0].x, kOriginX + 500);
  EXPECT_EQ(hits[1].ref.fromVertex, 2);
  EXPECT_EQ(hits[1].ref.toVertex, 4);
}

// ---- the query area -----------------------------------------------------------------------

MapDescription BoxMap(std::int32_t cx) {
  MapDescription d;
  Tile t = Tile::At(kLevel, TiPoint{kOriginX + cx * kCell + kCell / 2, kOriginY + kCell / 2});
  Record r;
  AddPart(r, TextTriple{"110", "P" + std::to_string(cx), ""}, {{kOriginX + cx * kCell + 100, kOriginY + 100}});
  AddPart(r, TextTriple{"110", "Q" + std::to_string(cx), ""},
          {{kOriginX + cx * kCell + kCell - 100, kOriginY + kCell - 100}});
  t.records.push_back(r);
  d.tiles.push_back(t);
  return d;
}

TEST_F(QueryTest, TheAreaGoesToTheSourcesItTouches) {
  Open(BoxMap(0));
  Open(BoxMap(3));
  RmfQuerySetClassFilter(reader_, '0', "1");
  RmfQuerySetLevels(reader_, 1, 8);
  RmfSource* a = reader_->sources[0];
  RmfSource* b = reader_->sources[1];

  // Only the first source's box meets the rectangle; it sticks out of it.
  const TiRect boxA = a->header.box;
  RmfQuerySetRect(reader_, boxA.x1 - 50, boxA.y1 - 50, boxA.x1 + 500, boxA.y1 + 500);
  EXPECT_EQ(reader_->lastError, 0);
  EXPECT_EQ(reader_->sourceSide[0], 1u);
  EXPECT_EQ(reader_->sourceSide[1], 0u);
  ASSERT_EQ(a->queryAreaCount, 4);
  for (int i = 0; i < 4; ++i) {
    EXPECT_GE(a->queryArea[i].x, boxA.x1);
    EXPECT_GE(a->queryArea[i].y, boxA.y1);
  }
  EXPECT_EQ(Names(Run()), (std::multiset<std::string>{"P0"}));

  // Both.
  RmfQuerySetRect(reader_, kOriginX, kOriginY, kOriginX + 4 * kCell, kOriginY + kCell);
  EXPECT_EQ(reader_->sourceSide[0], 1u);
  EXPECT_EQ(reader_->sourceSide[1], 1u);
  EXPECT_EQ(Names(Run()), (std::multiset<std::string>{"P0", "P3", "Q0", "Q3"}));

  // A clockwise triangle is taken reversed; a closing point is dropped.
  const std::vector<TiPoint> clockwise{
      {kOriginX, kOriginY}, {kOriginX, kOriginY + kCell}, {kOriginX + kCell, kOriginY}, {kOriginX, kOriginY}};
  RmfQuerySetPolygon(reader_, 4, clockwise.data());
  EXPECT_EQ(reader_->lastError, 0);
  EXPECT_EQ(a->queryAreaCount, 3);
  EXPECT_EQ(RmfPolygonIsConvex(a->queryArea, 3), 1);
  EXPECT_EQ(Names(Run()), (std::multiset<std::string>{"P0"}));
  // The kept edge lengths: the closing edge + 100, then cumulative.
  const auto* lengths = reinterpret_cast<const std::uint32_t*>(a->queryArea + 3);
  const auto edge = [&](int from, int to) {
    return static_cast<std::uint32_t>(
        std::lround(std::hypot(static_cast<double>(a->queryArea[to].x) - a->queryArea[from].x,
                               static_cast<double>(a->queryArea[to].y) - a->queryArea[from].y)));
  };
  EXPECT_EQ(lengths[0], edge(2, 0) + 100);
  EXPECT_EQ(lengths[1], lengths[0] + edge(0, 1) + 100);
  EXPECT_EQ(lengths[2], lengths[1] + edge(1, 2) + 100);

  // Two equal corners in a row: refused, and no source takes part.
  const std::vector<TiPoint> doubled{
      {kOriginX, kOriginY}, {kOriginX + kCell, kOriginY}, {kOriginX + kCell, kOriginY}, {kOriginX, kOriginY + kCell}};
  RmfQuerySetPolygon(reader_, 4, doubled.data());
  EXPECT_EQ(reader_->lastError, kRmfBadArgument);
  EXPECT_EQ(reader_->sourceSide[0], 0u);
  EXPECT_EQ(a->queryAreaCount, 0);
  EXPECT_TRUE(Run().empty());
  // Not convex either way, too few or too many corners, nothing at all.
  const std::vector<TiPoint> bent{{0, 0}, {10, 0}, {5, 2}, {10, 10}, {0, 10}};
  RmfQuerySetPolygon(reader_, 5, bent.data());
  EXPECT_EQ(reader_->lastError, kRmfBadArgument);
  RmfQuerySetPolygon(reader_, 2, bent.data());
  EXPECT_EQ(reader_->lastError, kRmfBadArgument);
  std::vector<TiPoint> many;
  for (int i = 0; i < 17; ++i) {
    many.push_back(TiPoint{static_cast<std::int32_t>(10000 * std::cos(i * 0.369)),
                           static_cast<std::int32_t>(10000 * std::sin(i * 0.369))});
  }
  RmfQuerySetPolygon(reader_, 17, many.data());
  EXPECT_EQ(reader_->lastError, kRmfBadArgument);
  RmfQuerySetPolygon(reader_, 3, nullptr);
  EXPECT_EQ(reader_->lastError, kRmfBadArgument);
  EXPECT_EQ(b->queryAreaCount, 0);

  // A degenerate rectangle widens to one unit; at the world's corner inwards.
  RmfQuerySetRect(reader_, kOriginX + 100, kOriginY + 100, kOriginX + 100, kOriginY + 100);
  EXPECT_EQ(reader_->lastError, 0);
  EXPECT_EQ(reader_->query.box.x2 - reader_->query.box.x1, 1);
  EXPECT_EQ(reader_->query.box.y2 - reader_->query.box.y1, 1);
  EXPECT_EQ(Names(Run()), (std::multiset<std::string>{"P0"}));
  RmfQuerySetRect(reader_, 0x8000000, 0x4000000, 0x8000000, 0x4000000);
  EXPECT_EQ(reader_->query.box.x1, 0x7FFFFFF);
  EXPECT_EQ(reader_->query.box.x2, 0x8000000);
  EXPECT_EQ(reader_->query.box.y1, 0x3FFFFFF);
  EXPECT_EQ(reader_->query.box.y2, 0x4000000);

  // One source by itself; a bad index is refused.
  RmfSourceSetQueryPolygon(reader_, 1, clockwise.data(), 3);
  EXPECT_EQ(reader_->lastError, 0);
  RmfSourceSetQueryPolygon(reader_, 2, clockwise.data(), 3);
  EXPECT_EQ(reader_->lastError, kRmfBadArgument);
}

// A point just east of the date line lies in the overlap of the easternmost
// column's tile, which a map may hold it in; a query area at the line finds
// it there as well as in the westernmost column's own tile.
TEST_F(QueryTest, AnAreaAtTheDateLineReadsTheEasternmostColumn) {
  constexpr std::int32_t kDateLine = -(1 << 27);
  MapDescription d;
  Tile east = Tile::At(kLevel, TiPoint{-kDateLine - 100, kOriginY + 100});
  Tile west = Tile::At(kLevel, TiPoint{kDateLine + 100, kOriginY + 100});
  Record e;
  AddPart(e, TextTriple{"110", "in the overlap", ""}, {{kDateLine + 50, kOriginY + 100}});
  AddPart(e, TextTriple{"110", "also in the overlap", ""}, {{kDateLine + 300, kOriginY + 300}});
  east.records.push_back(e);
  Record w;
  AddPart(w, TextTriple{"110", "in its own cell", ""}, {{kDateLine + 5000, kOriginY + 200}});
  west.records.push_back(w);
  d.tiles = {east, west};
  Open(d);
  RmfQuerySetClassFilter(reader_, '0', "1");
  RmfQuerySetLevels(reader_, 1, 8);
  RmfQuerySetRect(reader_, kDateLine, kOriginY, kDateLine + 10000, kOriginY + 1000);
  EXPECT_EQ(Names(Run()), (std::multiset<std::string>{"in the overlap", "also in the overlap", "in its own cell"}));
  RmfQuerySetRect(reader_, kDateLine, kOriginY, kDateLine + 100, kOriginY + 150);
  EXPECT_EQ(Names(Run()), (std::multiset<std::string>{"in the overlap"}));
}

// A source covers its query area with tile ranges in a list that grows to
// the room the covering asks for. A large area answers on a fresh source
// exactly as it does once a smaller query has grown the list.
TEST_F(QueryTest, ALargeAreaAnswersOnAFreshSourceAsAfterASmallOne) {
  constexpr std::int32_t kQuarterTurn = 1 << 26;  // 90 degrees
  const std::int32_t x0 = -kQuarterTurn / 2;
  const std::int32_t y0 = -kQuarterTurn / 2;
  MapDescription d;
  for (const auto& [name, at] : {std::pair{"south-west", TiPoint{x0, y0}},
                                 std::pair{"middle", TiPoint{x0 + kQuarterTurn / 2, y0 + kQuarterTurn / 2}},
                                 std::pair{"north-east", TiPoint{x0 + kQuarterTurn, y0 + kQuarterTurn}}}) {
    Tile t = Tile::At(0, at);
    Record r;
    AddPart(r, TextTriple{"110", name, ""}, {at});
    t.records.push_back(r);
    d.tiles.push_back(t);
  }
  Open(d);
  RmfQuerySetClassFilter(reader_, '0', "1");
  RmfQuerySetLevels(reader_, 1, 8);
  const auto large = [&] {
    RmfQuerySetRect(reader_, x0 + 1000, y0 + 1000, x0 + kQuarterTurn - 1000, y0 + kQuarterTurn - 1000);
    const std::vector<Hit> hits = Run();
    EXPECT_EQ(reader_->lastError, 0);
    return Names(hits);
  };
  const RmfSource* source = reader_->sources[0];
  const std::multiset<std::string> fresh = large();
  EXPECT_EQ(fresh, (std::multiset<std::string>{"middle"}));
  // The list has grown to what the area's ranges take.
  EXPECT_GT(source->rangeCount, 1000);
  EXPECT_EQ(source->rangeCapacity, source->rangeCount);
  const std::int32_t side = kQuarterTurn / 4;
  RmfQuerySetRect(reader_, x0 + side, y0 + side, x0 + 3 * side, y0 + 3 * side);
  EXPECT_EQ(Names(Run()), (std::multiset<std::string>{"middle"}));
  EXPECT_EQ(large(), fresh);
}

// Points on one parallel give a map whose box has no height, a street
// running due north one whose box has no width. Query areas around them,
// sticking out of the box, lying along it or touching it, find what lies in
// them, the street cut where the area ends. So does an area that only
// touches the edge of an ordinary map's box.
TEST_F(QueryTest, MapsOnOneParallelOrOneMeridianAreQueried) {
  const std::int32_t y = kOriginY + 1000;  // the parallel
  const std::int32_t x = kOriginX + 10 * kCell + 1000;  // the meridian
  const std::int32_t bx = kOriginX + 20 * kCell;  // the ordinary map
  MapDescription parallel;
  MapDescription meridian;
  MapDescription ordinary;
  for (auto [d, at] : {std::pair{&parallel, TiPoint{kOriginX, y}}, std::pair{&meridian, TiPoint{x, kOriginY}},
                       std::pair{&ordinary, TiPoint{bx, kOriginY}}}) {
    d->tiles.push_back(Tile::At(kLevel, TiPoint{at.x + 100, at.y + 100}));
    d->tiles.back().records.emplace_back();
  }
  Record& points = parallel.tiles[0].records[0];
  for (int i = 1; i <= 3; ++i) {
    AddPart(points, TextTriple{"110", "P" + std::to_string(i), ""}, {{kOriginX + 2000 * i - 1000, y}});
  }
  AddPart(meridian.tiles[0].records[0], TextTriple{"111", "Meridian Street", ""},
          {{x, kOriginY + 1000}, {x, kOriginY + 3000}, {x, kOriginY + 5000}});
  Record& box = ordinary.tiles[0].records[0];
  AddPart(box, TextTriple{"110", "corner", ""}, {{bx, kOriginY}});
  AddPart(box, TextTriple{"110", "other corner", ""}, {{bx + 1000, kOriginY + 1000}});
  AddPart(box, TextTriple{"110", "on the east edge", ""}, {{bx + 1000, kOriginY + 300}});
  Open(parallel);
  Open(meridian);
  Open(ordinary);
  ASSERT_EQ(reader_->sources[0]->header.box.y1, reader_->sources[0]->header.box.y2);
  ASSERT_EQ(reader_->sources[1]->header.box.x1, reader_->sources[1]->header.box.x2);
  RmfQuerySetClassFilter(reader_, '0', "1");
  RmfQuerySetClassFilter(reader_, '1', "1");
  RmfQuerySetLevels(reader_, 1, 8);

  // Each hit as its name and points.
  const auto describe = [](const std::vector<Hit>& hits) {
    std::multiset<std::string> out;
    for (const Hit& h : hits) {
      EXPECT_GT(h.n, 0);
      std::string text = h.name + ":";
      for (const TiPoint& p : h.points) text += " " + std::to_string(p.x) + "," + std::to_string(p.y);
      out.insert(text);
    }
    return out;
  };
  const auto at = [](const std::string& name, std::vector<TiPoint> points) {
    std::string text = name + ":";
    for (const TiPoint& p : points) text += " " + std::to_string(p.x) + "," + std::to_string(p.y);
    return text;
  };
  const std::string p1 = at("P1", {{kOriginX + 1000, y}});
  const std::string p2 = at("P2", {{kOriginX + 3000, y}});
  const std::string p3 = at("P3", {{kOriginX + 5000, y}});
  struct Case {
    const char* what;
    TiRect rect;
    std::multiset<std::string> hits;
  };
  const Case cases[] = {
      {"across the parallel", {kOriginX, y - 500, kOriginX + 4000, y + 500}, {p1, p2}},
      {"from the parallel up", {kOriginX + 2000, y, kOriginX + 6000, y + 500}, {p2, p3}},
      {"down to the parallel", {kOriginX + 2000, y - 500, kOriginX + 6000, y}, {p2, p3}},
      {"a strip along the parallel", {kOriginX + 2000, y, kOriginX + 6000, y + 1}, {p2, p3}},
      {"around the whole parallel", {kOriginX, y - 10, kOriginX + 6000, y + 10}, {p1, p2, p3}},
      {"beside the parallel", {kOriginX, y + 1, kOriginX + 6000, y + 500}, {}},
      {"across the street",
       {x - 500, kOriginY + 2000, x + 500, kOriginY + 4500},
       {at("Meridian Street", {{x, kOriginY + 2000}, {x, kOriginY + 3000}, {x, kOriginY + 4500}})}},
      {"from the street west",
       {x - 500, kOriginY, x, kOriginY + 2000},
       {at("Meridian Street", {{x, kOriginY + 1000}, {x, kOriginY + 2000}})}},
      {"around the whole street",
       {x - 1, kOriginY, x + 1, kOriginY + 6000},
       {at("Meridian Street", {{x, kOriginY + 1000}, {x, kOriginY + 3000}, {x, kOriginY + 5000}})}},
      {"touching the ordinary map's east edge",
       {bx + 1000, kOriginY + 200, bx + 2000, kOriginY + 400},
       {at("on the east edge", {{bx + 1000, kOriginY + 300}})}},
  };
  for (const Case& c : cases) {
    RmfQuerySetRect(reader_, c.rect.x1, c.rect.y1, c.rect.x2, c.rect.y2);
    EXPECT_EQ(reader_->lastError, 0) << c.what;
    EXPECT_EQ(describe(Run()), c.hits) << c.what;
    EXPECT_EQ(reader_->lastError, 0) << c.what;
  }
}

TEST_F(QueryTest, OutsideBitsAndOutlineOfTheCurrentPolygon) {
  Open(BoxMap(0));
  RmfQuerySetClassFilter(reader_, '0', "1");
  RmfQuerySetLevels(reader_, 1, 8);
  const std::int32_t x1 = kOriginX + 100, y1 = kOriginY + 100, x2 = kOriginX + 200, y2 = kOriginY + 300;
  RmfQuerySetRect(reader_, x1, y1, x2, y2);
  RmfQueryStart(reader_);
  char code[6];
  std::int32_t count = 0;
  TiPoint* points = nullptr;
  ASSERT_EQ(RmfQueryNext(reader_, code, nullptr, nullptr, &count, nullptr, &points), 1);  // P0, source 0 current
  // Corners after the reversal: (x2, y1), (x2, y2), (x1, y2), (x1, y1); edge 0
  // is the bottom (from the last corner to corner 0).
  std::uint16_t bits = 0;
  const TiPoint below{x1 + 50, y1 - 10};
  EXPECT_EQ(RmfQueryOutsideBits(reader_, &below, &bits), 0);
  EXPECT_EQ(bits, 1);
  const TiPoint beyondCorner{x2 + 100, y2 + 100};
  EXPECT_EQ(RmfQueryOutsideBits(reader_, &beyondCorner, &bits), 0);
  EXPECT_EQ(bits, 2 | 4);
  const TiPoint onEdge{x1, y1 + 50};
  EXPECT_EQ(RmfQueryOutsideBits(reader_, &onEdge, &bits), 1);
  EXPECT_EQ(bits, 0);
  ASSERT_EQ(RmfQueryAreaOutline(reader_, 0), 5);
  EXPECT_EQ(reader_->queryWork.points[0].x, x2);
  EXPECT_EQ(reader_->queryWork.points[0].y, y1);
  EXPECT_EQ(reader_->queryWork.points[4].x, x2);
  ASSERT_EQ(RmfQueryAreaOutline(reader_, 1), 5);
  EXPECT_EQ(reader_->queryWork.points[0].x, x1);
  EXPECT_EQ(reader_->queryWork.points[0].y, y1);
  EXPECT_EQ(reader_->queryWork.points[1].x, x1);
  EXPECT_EQ(reader_->queryWork.points[1].y, y2);
  // Null outputs of the query itself.
  EXPECT_EQ(RmfQueryNext(reader_, nullptr, nullptr, nullptr, &count, nullptr, &points), kRmfBadArgument);
  EXPECT_EQ(RmfQueryNext(reader_, code, nullptr, nullptr, &count, nullptr, nullptr), kRmfBadArgument);
  EXPECT_EQ(reader_->lastError, kRmfBadArgument);
}

TEST_F(QueryTest, CancelStopsTheQuery) {
  Open(BoxMap(0));
  RmfQuerySetClassFilter(reader_, '0', "1");
  RmfQuerySetLevels(reader_, 1, 8);
  RmfQuerySetRect(reader_, kOriginX, kOriginY, kOriginX + kCell, kOriginY + kCell);
  volatile std::int32_t stop = 1;
  RmfQuerySetCancelFlag(reader_, &stop);
  RmfQueryStart(reader_);
  char code[6];
  std::int32_t count = 0;
  TiPoint* points = nullptr;
  EXPECT_EQ(RmfQueryNext(reader_, code, nullptr, nullptr, &count, nullptr, &points), kRmfCancelled);
  EXPECT_EQ(RmfQueryNext(reader_, code, nullptr, nullptr, &count, nullptr, &points), 0);
  stop = 0;
  EXPECT_EQ(Run().size(), 2u);
  RmfQuerySetCancelFlag(reader_, nullptr);
}

// ---- degrees and source information ------------------------------------------------------

TEST_F(QueryTest, DegreeWrappersAndSourceInformation) {
  MapDescription d = BoxMap(0);
  d.regionBox = TiRect{1, 2, 3, 4};
  Open(d);
  Open(BoxMap(3));
  RmfQuerySetClassFilter(reader_, '0', "1");
  RmfQuerySetLevels(reader_, 1, 8);

  // Half away from zero: -0.5 degrees is -372827.02 units, -372827.
  RmfQuerySetRectDegrees(reader_, -0.5, 0.5, 1.0, -1.0);
  EXPECT_EQ(reader_->query.box.x1, -372827);
  EXPECT_EQ(reader_->query.box.x2, 745654);
  EXPECT_EQ(reader_->query.box.y1, -745654);
  EXPECT_EQ(reader_->query.box.y2, 372827);
  RmfQuerySetRectDegrees(reader_, 0.0000006706, 0, 0.0000006707, 0);  // 0.50004 and 0.50011 units
  EXPECT_EQ(reader_->query.box.x1, 1);
  EXPECT_EQ(reader_->query.box.x2, 2);
  // A corner that is not finite stands at 0 (DegreesToMapUnits saturates an infinity instead).
  const double inf = std::numeric_limits<double>::infinity();
  RmfQuerySetRectDegrees(reader_, -inf, std::numeric_limits<double>::quiet_NaN(), 1.0, inf);
  EXPECT_EQ(reader_->query.box.x1, 0);
  EXPECT_EQ(reader_->query.box.y1, 0);
  EXPECT_EQ(reader_->query.box.x2, 745654);
  EXPECT_EQ(reader_->query.box.y2, 1);

  const double degree = 1.341104507446289e-6;
  RmfQuerySetRectDegrees(reader_, kOriginX * degree, kOriginY * degree, (kOriginX + kCell) * degree,
                         (kOriginY + kCell) * degree);
  RmfQueryStart(reader_);
  char code[6];
  char name[51];
  std::int32_t count = 0;
  double* points = nullptr;
  ASSERT_EQ(RmfQueryNextDegrees(reader_, code, name, nullptr, &count, nullptr, &points), 1);
  EXPECT_STREQ(name, "P0");
  EXPECT_DOUBLE_EQ(points[0], (kOriginX + 100) * degree);
  EXPECT_DOUBLE_EQ(points[1], (kOriginY + 100) * degree);
  EXPECT_EQ(RmfQueryNextDegrees(nullptr, code, name, nullptr, &count, nullptr, &points), 0);

  TiPoint low{};
  TiPoint high{};
  RmfReaderGetBounds(reader_, &low, &high);
  EXPECT_EQ(low.x, reader_->box.x1);
  EXPECT_EQ(high.y, reader_->box.y2);
  RmfReaderGetBounds(reader_, nullptr, &high);
  EXPECT_EQ(reader_->lastError, kRmfBadArgument);
  double dl[2];
  double dh[2];
  RmfReaderGetBoundsDegrees(reader_, dl, dh);
  EXPECT_DOUBLE_EQ(dl[0], reader_->box.x1 * degree);
  EXPECT_DOUBLE_EQ(dh[1], reader_->box.y2 * degree);

  EXPECT_EQ(RmfReaderSourceCount(reader_), 2);
  EXPECT_EQ(RmfSourceTileLevels(reader_, 0), 1 << kLevel);
  EXPECT_EQ(RmfSourceTileLevels(reader_, 2), -1);
  TiRect box{};
  EXPECT_EQ(RmfSourceGetBox(reader_, 0, &box), 1);
  EXPECT_EQ(box.x1, 1);  // the region box
  EXPECT_EQ(box.y2, 4);
  EXPECT_EQ(RmfSourceGetBox(reader_, 1, &box), 1);
  EXPECT_EQ(box.x1, reader_->sources[1]->header.box.x1);
  EXPECT_EQ(RmfSourceGetBox(reader_, 5, &box), kRmfBadArgument);
  EXPECT_EQ(RmfSourceGetBox(reader_, 0, nullptr), kRmfBadArgument);

  // A reader whose magic is wrong.
  const std::uint32_t magic = reader_->magic;
  reader_->magic = 0x12345678;
  EXPECT_EQ(RmfReaderSourceCount(reader_), -1);
  EXPECT_EQ(RmfSourceTileLevels(reader_, 0), -1);
  EXPECT_EQ(RmfSourceGetBox(reader_, 0, &box), kRmfBadArgument);
  reader_->magic = magic;
}

}  // namespace
