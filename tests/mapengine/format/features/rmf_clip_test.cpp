// Tests of polygon clipping and its helpers: the clip to a rectangle against
// the exact model's Sutherland-Hodgman clipper on thousands of random
// convex polygons (both directions, inside, across, around and beside the
// rectangle), with every output point the reference's point rounded to whole
// units; the tables never written beyond (buffers of exactly the size the
// clip asks for, checked by AddressSanitizer); the edge cases of the
// reader's clip; the convexity test and the rounded a x b / c.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "mapengine/format/features/RmfClip.h"
#include "mapengine/format/store/RmfReader.h"
#include "tests/mapengine/format/base/ExactGeometryModel.h"

namespace {

using i128 = __int128;

// The exact clip in whole units: Sutherland-Hodgman against the four sides
// in turn, every inside test exact; a point where the outline crosses a side
// is the crossing edge's first vertex plus the exact offset rounded half
// away from zero, as the library rounds it.
std::vector<TiPoint> ReferenceClip(const std::vector<TiPoint>& poly, const TiRect& r) {
  std::vector<TiPoint> out;
  for (const exact_model::ClipVertex& v : exact_model::ClipToRect(exact_model::Points(poly), exact_model::RectOf(r))) {
    out.push_back(TiPoint{static_cast<std::int32_t>(v.rounded.x), static_cast<std::int32_t>(v.rounded.y)});
  }
  return out;
}

// Merges consecutive equal points (closing point included) and drops points
// on the straight line between their neighbours, spikes included: the two
// clips may keep such points differently where the outline only touches a
// side.
std::vector<TiPoint> Normalised(std::vector<TiPoint> p) {
  bool changed = true;
  while (changed) {
    changed = false;
    for (std::size_t i = 0; i + 1 < p.size();) {
      if (p[i].x == p[i + 1].x && p[i].y == p[i + 1].y) {
        p.erase(p.begin() + static_cast<std::ptrdiff_t>(i) + 1);
        changed = true;
      } else {
        ++i;
      }
    }
    while (p.size() >= 2 && p.back().x == p.front().x && p.back().y == p.front().y) {
      p.pop_back();
      changed = true;
    }
    for (std::size_t i = 0; p.size() >= 3 && i < p.size(); ++i) {
      const TiPoint& a = p[(i + p.size() - 1) % p.size()];
      const TiPoint& b = p[i];
      const TiPoint& c = p[(i + 1) % p.size()];
      if (exact_model::Cross({a.x, a.y}, {b.x, b.y}, {c.x, c.y}) == 0) {
        p.erase(p.begin() + static_cast<std::ptrdiff_t>(i));
        changed = true;
        break;
      }
    }
  }
  return p;
}

bool CyclicEqual(const std::vector<TiPoint>& a, const std::vector<TiPoint>& b) {
  if (a.size() != b.size()) return false;
  if (a.empty()) return true;
  for (std::size_t shift = 0; shift < b.size(); ++shift) {
    bool all = true;
    for (std::size_t i = 0; i < a.size() && all; ++i) {
      const TiPoint& q = b[(i + shift) % b.size()];
      all = a[i].x == q.x && a[i].y == q.y;
    }
    if (all) return true;
  }
  return false;
}

std::string Show(const std::vector<TiPoint>& p) {
  std::string s;
  for (const TiPoint& q : p) s += "(" + std::to_string(q.x) + "," + std::to_string(q.y) + ") ";
  return s;
}

// Convex hull (counter-clockwise, no straight points) of random points.
std::vector<TiPoint> ConvexHull(const std::vector<TiPoint>& pts) {
  std::vector<TiPoint> hull;
  for (const exact_model::P& p : exact_model::Hull(exact_model::Points(pts))) {
    hull.push_back(TiPoint{static_cast<std::int32_t>(p.x), static_cast<std::int32_t>(p.y)});
  }
  return hull;
}

struct ClipResult {
  std::int32_t count = 0;
  std::int32_t records = 0;
  std::int32_t recordsNeeded = 0;
  std::int32_t needed = 0;
  std::vector<TiPoint> points;
};

ClipResult Clip(const std::vector<TiPoint>& poly, const TiRect& r) {
  ClipResult c;
  std::vector<RmfCrossing> records(4096);
  std::vector<TiPoint> out(4096);
  c.count = rmf::detail::ClipPolygon(poly.data(), static_cast<std::int32_t>(poly.size()), r, records.data(), 4096,
                                     &c.records, &c.recordsNeeded, out.data(), 4096, &c.needed);
  if (c.count > 0) c.points.assign(out.begin(), out.begin() + c.count);
  return c;
}

// ---- against the reference -----------------------------------------------------

TEST(ClipPolygonTest, MatchesTheReferenceOnRandomConvexPolygons) {
  const std::uint32_t seed = 20240611;
  std::mt19937 gen(seed);
  int compared = 0;
  int nonEmpty = 0;
  int corners = 0;
  for (int trial = 0; trial < 6000; ++trial) {
    // Coordinates of every size up to the map's range, and small ones where
    // vertices often fall on the rectangle's sides.
    const std::int32_t scale = trial % 3 == 0 ? 40 : (trial % 3 == 1 ? 100000 : (1 << 27));
    std::uniform_int_distribution<std::int32_t> coord(-scale, scale);
    std::int32_t x1 = coord(gen), x2 = coord(gen), y1 = coord(gen), y2 = coord(gen);
    const TiRect r{std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
    std::vector<TiPoint> raw(3 + gen() % 12);
    for (TiPoint& p : raw) p = TiPoint{coord(gen), coord(gen)};
    std::vector<TiPoint> hull = ConvexHull(raw);
    if (hull.size() < 3) continue;
    const bool clockwise = gen() % 2 == 0;
    if (clockwise) std::reverse(hull.begin(), hull.end());
    std::rotate(hull.begin(), hull.begin() + static_cast<std::ptrdiff_t>(gen() % hull.size()), hull.end());

    const ClipResult got = Clip(hull, r);
    ASSERT_GE(got.count, 0);
    const std::vector<TiPoint> want = Normalised(ReferenceClip(hull, r));
    const std::vector<TiPoint> mine = Normalised(got.points);
    // A sliver thinner than a unit may round to a line or a point either way.
    if (want.size() < 3 && mine.size() < 3) continue;
    ASSERT_TRUE(CyclicEqual(mine, want)) << "seed " << seed << " trial " << trial << "\nrect " << r.x1 << "," << r.y1
                                         << " " << r.x2 << "," << r.y2 << "\npolygon " << Show(hull) << "\nclip "
                                         << Show(got.points) << "\nreference " << Show(want);
    ++compared;
    if (!mine.empty()) ++nonEmpty;
    for (const TiPoint& p : mine) {
      if ((p.x == r.x1 || p.x == r.x2) && (p.y == r.y1 || p.y == r.y2)) ++corners;
    }
  }
  EXPECT_GT(compared, 4500);
  EXPECT_GT(nonEmpty, 1000);
  EXPECT_GT(corners, 1000);  // the corner walk was exercised
}

// ---- bounded tables ----------------------------------------------------------------

TEST(ClipPolygonTest, NeverWritesBeyondBuffersOfExactlyTheSizeAskedFor) {
  std::mt19937 gen(77);
  std::uniform_int_distribution<std::int32_t> coord(-5000, 5000);
  for (int trial = 0; trial < 2000; ++trial) {
    const TiRect r{-1000, -800, 1200, 900};
    std::vector<TiPoint> poly(3 + gen() % 40);
    for (TiPoint& p : poly) p = TiPoint{coord(gen), coord(gen)};  // any polygon, convex or not
    const ClipResult big = Clip(poly, r);
    ASSERT_GE(big.count, 0);
    // Exactly as many records and points as it asked for: the same result.
    std::unique_ptr<RmfCrossing[]> records(new RmfCrossing[static_cast<std::size_t>(std::max(big.recordsNeeded, 1))]);
    std::unique_ptr<TiPoint[]> out(new TiPoint[static_cast<std::size_t>(std::max(big.needed, 1))]);
    std::int32_t recordCount = 0;
    const std::int32_t exact =
        rmf::detail::ClipPolygon(poly.data(), static_cast<std::int32_t>(poly.size()), r, records.get(),
                                 big.recordsNeeded, &recordCount, nullptr, out.get(), big.needed, nullptr);
    ASSERT_EQ(exact, big.count);
    ASSERT_EQ(recordCount, big.records);
    for (std::int32_t i = 0; i < exact; ++i) {
      ASSERT_EQ(out[i].x, big.points[i].x);
      ASSERT_EQ(out[i].y, big.points[i].y);
    }
    // One short of either: refused, and nothing written past the end.
    if (big.needed > 0) {
      std::unique_ptr<TiPoint[]> shortOut(
          new TiPoint[static_cast<std::size_t>(big.needed - 1 > 0 ? big.needed - 1 : 1)]);
      EXPECT_EQ(rmf::detail::ClipPolygon(poly.data(), static_cast<std::int32_t>(poly.size()), r, records.get(),
                                         big.recordsNeeded, nullptr, nullptr, shortOut.get(), big.needed - 1, nullptr),
                kRmfBadArgument);
    }
    if (big.recordsNeeded > 0) {
      std::unique_ptr<RmfCrossing[]> shortRecords(
          new RmfCrossing[static_cast<std::size_t>(big.recordsNeeded - 1 > 0 ? big.recordsNeeded - 1 : 1)]);
      EXPECT_EQ(rmf::detail::ClipPolygon(poly.data(), static_cast<std::int32_t>(poly.size()), r, shortRecords.get(),
                                         big.recordsNeeded - 1, nullptr, nullptr, out.get(), big.needed, nullptr),
                kRmfBadArgument);
    }
  }
}

class ReaderClipTest : public ::testing::Test {
 protected:
  void SetUp() override { reader_ = RmfReaderCreate(); }
  void TearDown() override { RmfReaderClose(reader_); }
  std::vector<TiPoint> Clip(const std::vector<TiPoint>& poly, const TiRect& r, std::int32_t* result = nullptr) {
    const std::int32_t n =
        ClipPolygonToRect(reader_, r.x1, r.y1, r.x2, r.y2, poly.data(), static_cast<std::int32_t>(poly.size()));
    if (result != nullptr) *result = n;
    std::vector<TiPoint> out;
    for (std::int32_t i = 0; i < n; ++i) out.push_back(reader_->queryWork.points[i]);
    return out;
  }
  RmfReader* reader_ = nullptr;
};

// A zigzag whose every tooth leaves the rectangle and comes back: far more
// points than the reader's tables hold.
TEST_F(ReaderClipTest, RefusesOutlinesBeyondItsTables) {
  const TiRect r{0, 0, 100000, 100};
  std::vector<TiPoint> saw;
  for (int i = 0; i < 300; ++i) {
    saw.push_back(TiPoint{i * 300, 50});
    saw.push_back(TiPoint{i * 300 + 150, 200});
  }
  saw.push_back(TiPoint{90000, -100});
  saw.push_back(TiPoint{0, -100});
  std::int32_t result = 0;
  Clip(saw, r, &result);
  EXPECT_EQ(result, kRmfBadArgument);
  EXPECT_EQ(reader_->lastError, kRmfBadArgument);
  // Fewer teeth fit.
  std::vector<TiPoint> small(saw.begin(), saw.begin() + 100);
  small.push_back(TiPoint{90000, -100});
  small.push_back(TiPoint{0, -100});
  Clip(small, r, &result);
  EXPECT_GT(result, 100);
  EXPECT_LE(result, kRmfPointBufferPoints);
}

TEST_F(ReaderClipTest, EdgeCases) {
  const TiRect r{0, 0, 100, 100};
  using P = std::vector<TiPoint>;
  // Wholly inside: its own vertices in order.
  EXPECT_EQ(Show(Clip(P{{10, 10}, {90, 20}, {50, 80}}, r)), Show(P{{10, 10}, {90, 20}, {50, 80}}));
  // Containing the rectangle: its corners from (xmax, ymin), counter-clockwise.
  EXPECT_EQ(Show(Clip(P{{-50, -50}, {200, -50}, {200, 200}, {-50, 200}}, r)),
            Show(P{{100, 0}, {100, 100}, {0, 100}, {0, 0}}));
  // ... and clockwise for a clockwise polygon.
  EXPECT_EQ(Show(Clip(P{{-50, -50}, {-50, 200}, {200, 200}, {200, -50}}, r)),
            Show(P{{100, 0}, {0, 0}, {0, 100}, {100, 100}}));
  // Wholly outside and not containing it.
  EXPECT_TRUE(Clip(P{{200, 200}, {300, 200}, {250, 300}}, r).empty());
  EXPECT_TRUE(Clip(P{{-10, 5}, {5, -10}, {-10, -10}}, r).empty());
  EXPECT_TRUE(Clip(P{{-10, 10}, {10, -10}, {-10, -10}}, r).empty());  // touches the corner (0, 0) only
  // Repeated vertices and a closing vertex give no duplicate points.
  EXPECT_EQ(Show(Clip(P{{10, 10}, {10, 10}, {90, 20}, {50, 80}, {50, 80}, {10, 10}}, r)),
            Show(P{{10, 10}, {90, 20}, {50, 80}}));
  // A vertex beyond a corner: the corner is inserted where the outline
  // follows the rectangle's sides.
  EXPECT_TRUE(CyclicEqual(Clip(P{{50, 50}, {200, 50}, {50, 200}}, r), P{{50, 50}, {100, 50}, {100, 100}, {50, 100}}));
  EXPECT_TRUE(
      CyclicEqual(Clip(P{{20, 20}, {200, -50}, {60, 60}}, r), P{{20, 20}, {71, 0}, {100, 0}, {100, 29}, {60, 60}}));
  EXPECT_TRUE(CyclicEqual(Clip(P{{50, 50}, {150, 50}, {150, 150}}, r), P{{50, 50}, {100, 50}, {100, 100}}));
  // A polygon along one side leaves and comes back at the corners.
  EXPECT_TRUE(
      CyclicEqual(Clip(P{{0, 0}, {200, 0}, {200, 100}, {0, 100}}, r), P{{0, 0}, {100, 0}, {100, 100}, {0, 100}}));
  // Touching the rectangle at one corner only, from outside.
  EXPECT_TRUE(Clip(P{{100, 100}, {200, 100}, {200, 200}}, r).empty());
  // Bad arguments.
  EXPECT_EQ(ClipPolygonToRect(reader_, 0, 0, 100, 100, nullptr, 3), 0);
  const P tri{{10, 10}, {90, 20}, {50, 80}};
  EXPECT_EQ(ClipPolygonToRect(reader_, 0, 0, 100, 100, tri.data(), 0), 0);
  EXPECT_EQ(ClipPolygonToRect(reader_, 100, 0, 0, 100, tri.data(), 3), 0);
  EXPECT_EQ(ClipPolygonToRect(nullptr, 0, 0, 100, 100, tri.data(), 3), 0);
  // The crossing table holds the outline's records, in the polygon's order:
  // back in at the corner (100, 100) on the closing edge, the inside vertex,
  // out at (100, 50).
  Clip(P{{50, 50}, {150, 50}, {150, 150}}, r);
  const RmfQueryWork& w = reader_->queryWork;
  ASSERT_EQ(w.crossingCount, 3);
  EXPECT_EQ(w.crossings[0].direction, 1);
  EXPECT_EQ(w.crossings[0].edgeBits, 6);
  EXPECT_EQ(w.crossings[1].direction, 0);
  EXPECT_EQ(w.crossings[2].direction, -1);
  EXPECT_EQ(w.crossings[2].edgeBits, 4);
  EXPECT_EQ(w.crossings[2].x, 100);
  EXPECT_EQ(w.crossings[2].y, 50);
}

// A rectangle without height or width is a stretch of a parallel or a
// meridian (a point when both): the clip is the part of it inside the
// polygon, boundary included, from its (xmax, ymin) end as the corners of a
// rectangle inside the polygon come; each end is recorded as an inside
// vertex.
TEST_F(ReaderClipTest, RectanglesWithoutWidthOrHeight) {
  using P = std::vector<TiPoint>;
  const P square{{0, 0}, {100, 0}, {100, 100}, {0, 100}};
  const P triangle{{0, 0}, {100, 0}, {0, 100}};
  const P clockwise{{0, 0}, {0, 100}, {100, 0}};
  struct Case {
    const char* what;
    P polygon;
    TiRect rect;
    P want;
  };
  const Case cases[] = {
      {"across the square", square, {-20, 50, 40, 50}, {{40, 50}, {0, 50}}},
      {"through the square", square, {-20, 50, 140, 50}, {{100, 50}, {0, 50}}},
      {"inside the square", square, {20, 50, 40, 50}, {{40, 50}, {20, 50}}},
      {"beside the square", square, {120, 50, 140, 50}, {}},
      {"along its bottom edge", square, {50, 0, 140, 0}, {{100, 0}, {50, 0}}},
      {"a meridian across it", square, {30, -50, 30, 60}, {{30, 0}, {30, 60}}},
      {"along its right edge", square, {100, 90, 100, 300}, {{100, 90}, {100, 100}}},
      {"from its corner outwards", square, {100, 100, 100, 300}, {{100, 100}}},
      {"a point inside", square, {30, 30, 30, 30}, {{30, 30}}},
      {"a point on an edge", square, {0, 30, 0, 30}, {{0, 30}}},
      {"a point outside", square, {130, 30, 130, 30}, {}},
      {"across a slanted edge", triangle, {-10, 50, 90, 50}, {{50, 50}, {0, 50}}},
      {"a meridian through a slanted edge", triangle, {25, -10, 25, 200}, {{25, 0}, {25, 75}}},
      {"the same, clockwise", clockwise, {25, -10, 25, 200}, {{25, 0}, {25, 75}}},
      {"rounded to the nearest unit", P{{0, 0}, {7, 0}, {0, 3}}, {-5, 1, 9, 1}, {{5, 1}, {0, 1}}},
      {"beyond the slanted edge", triangle, {60, 60, 90, 60}, {}},
  };
  for (const Case& c : cases) {
    std::int32_t result = -1;
    EXPECT_EQ(Show(Clip(c.polygon, c.rect, &result)), Show(c.want)) << c.what;
    EXPECT_EQ(result, static_cast<std::int32_t>(c.want.size())) << c.what;
    const RmfQueryWork& w = reader_->queryWork;
    ASSERT_EQ(w.crossingCount, result) << c.what;
    for (std::int32_t i = 0; i < result; ++i) {
      EXPECT_EQ(w.crossings[i].direction, 0) << c.what;
      EXPECT_EQ(w.crossings[i].x, c.want[static_cast<std::size_t>(i)].x) << c.what;
      EXPECT_EQ(w.crossings[i].y, c.want[static_cast<std::size_t>(i)].y) << c.what;
    }
  }
}

// ---- convexity -----------------------------------------------------------------------

TEST(PolygonIsConvexTest, Table) {
  using P = std::vector<TiPoint>;
  struct Case {
    const char* what;
    P points;
    std::int32_t convex;
  };
  const Case cases[] = {
      {"square counter-clockwise", {{0, 0}, {10, 0}, {10, 10}, {0, 10}}, 1},
      {"square clockwise", {{0, 0}, {0, 10}, {10, 10}, {10, 0}}, 0},
      {"with closing point", {{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}}, 1},
      {"clockwise with closing point", {{0, 0}, {0, 10}, {10, 10}, {10, 0}, {0, 0}}, 0},
      {"all points equal", {{5, 5}, {5, 5}, {5, 5}, {5, 5}}, 1},
      {"two points", {{0, 0}, {10, 0}}, 1},
      {"one point", {{3, 4}}, 1},
      {"straight point on an edge", {{0, 0}, {5, 0}, {10, 0}, {10, 10}, {0, 10}}, 1},
      {"repeated point", {{0, 0}, {10, 0}, {10, 0}, {10, 10}, {0, 10}}, 1},
      {"flat: there and back", {{0, 0}, {10, 0}, {20, 0}}, 1},
      {"there and back twice", {{0, 0}, {10, 0}, {0, 0}, {10, 0}}, 0},
      {"reflex corner", {{0, 0}, {10, 0}, {5, 2}, {10, 10}, {0, 10}}, 0},
      {"pentagram (winds twice)", {{0, 100}, {-59, -81}, {95, 31}, {-95, 31}, {59, -81}}, 0},
      {"extreme coordinates", {{INT32_MIN, INT32_MIN}, {INT32_MAX, INT32_MIN}, {INT32_MAX, INT32_MAX}}, 1},
      {"extreme clockwise", {{INT32_MIN, INT32_MIN}, {INT32_MAX, INT32_MAX}, {INT32_MAX, INT32_MIN}}, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RmfPolygonIsConvex(c.points.data(), static_cast<std::int32_t>(c.points.size())), c.convex) << c.what;
  }
  EXPECT_EQ(RmfPolygonIsConvex(nullptr, 3), 0);
  EXPECT_EQ(RmfPolygonIsConvex(cases[0].points.data(), 0), 0);
}

TEST(PolygonIsConvexTest, HullsAreConvexAndTheirReversalsAreNot) {
  std::mt19937 gen(515);
  std::uniform_int_distribution<std::int32_t> coord(-1000000, 1000000);
  for (int trial = 0; trial < 2000; ++trial) {
    std::vector<TiPoint> raw(3 + gen() % 20);
    for (TiPoint& p : raw) p = TiPoint{coord(gen), coord(gen)};
    std::vector<TiPoint> hull = ConvexHull(raw);
    if (hull.size() < 3) continue;
    ASSERT_EQ(RmfPolygonIsConvex(hull.data(), static_cast<std::int32_t>(hull.size())), 1);
    std::reverse(hull.begin(), hull.end());
    ASSERT_EQ(RmfPolygonIsConvex(hull.data(), static_cast<std::int32_t>(hull.size())), 0);
    // Swapping two corners of a polygon of five or more makes it cross itself.
    if (hull.size() >= 5) {
      std::reverse(hull.begin(), hull.end());
      std::swap(hull[1], hull[3]);
      ASSERT_EQ(RmfPolygonIsConvex(hull.data(), static_cast<std::int32_t>(hull.size())), 0);
    }
  }
}

// ---- rounded a x b / c ----------------------------------------------------------------

TEST(MulDivRoundTest, Table) {
  struct Case {
    std::int32_t a, b, c, want;
  };
  const Case cases[] = {
      {7, 3, 2, 11},
      {-7, 3, 2, -11},
      {7, -3, -2, 11},
      {5, 1, 2, 3},
      {-5, 1, 2, -3},
      {5, 1, -2, -3},
      {1, 1, 3, 0},
      {2, 1, 3, 1},
      {3, 1, 6, 1},
      {-3, 1, 6, -1},
      {1, 1, 0, 0},
      {0, 5, 7, 0},
      {INT32_MIN, 1, 1, INT32_MIN},
      {INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX},
      {INT32_MAX, INT32_MAX, 1, INT32_MAX},
      {INT32_MIN, INT32_MIN, 1, INT32_MAX},
      {INT32_MIN, -1, 1, INT32_MAX},
      {INT32_MIN, 1, -1, INT32_MAX},
      {INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN},
      {100000, 100000, 3, 2147483647},
      {100000, 100000, 5, 2000000000},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RmfMulDivRound(c.a, c.b, c.c), c.want) << c.a << " x " << c.b << " / " << c.c;
  }
}

TEST(MulDivRoundTest, MatchesWideIntegers) {
  std::mt19937 gen(99);
  for (int i = 0; i < 200000; ++i) {
    const auto a = static_cast<std::int32_t>(gen()) >> (gen() % 32);
    const auto b = static_cast<std::int32_t>(gen()) >> (gen() % 32);
    auto c = static_cast<std::int32_t>(gen()) >> (gen() % 32);
    if (c == 0) c = 1;
    const i128 p = static_cast<i128>(a) * b;
    const i128 m = (p < 0 ? -p : p) * 2 + (c < 0 ? -static_cast<i128>(c) : c);
    const i128 q = m / (2 * (c < 0 ? -static_cast<i128>(c) : c));
    i128 want = ((p < 0) != (c < 0)) ? -q : q;
    want = std::clamp<i128>(want, INT32_MIN, INT32_MAX);
    ASSERT_EQ(RmfMulDivRound(a, b, c), static_cast<std::int32_t>(want)) << a << " " << b << " " << c;
  }
}

}  // namespace
