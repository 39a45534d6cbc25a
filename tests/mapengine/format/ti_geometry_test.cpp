// Tests of the plane geometry of the map-format library: the exact signs of
// dot and cross products against 128-bit integers, and the relation between a
// convex polygon and a rectangle against a direct model (corner containment
// and edge crossings in 128-bit arithmetic).
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <random>
#include <vector>

#include "mapengine/format/base/TiGeometry.h"

namespace {

using i128 = __int128;

int Sign(i128 v) { return (v > 0) - (v < 0); }

int ModelDot(const TiVector& a, const TiVector& b) { return Sign(i128{a.dx} * b.dx + i128{a.dy} * b.dy); }

int ModelCross(const TiVector& a, const TiVector& b) { return Sign(i128{a.dx} * b.dy - i128{a.dy} * b.dx); }

void ExpectSigns(const TiVector& a, const TiVector& b) {
  ASSERT_EQ(TiDotProductSign(&a, &b), ModelDot(a, b))
      << "dot (" << a.dx << ", " << a.dy << ") . (" << b.dx << ", " << b.dy << ")";
  ASSERT_EQ(TiCrossProductSign(&a, &b), ModelCross(a, b))
      << "cross (" << a.dx << ", " << a.dy << ") x (" << b.dx << ", " << b.dy << ")";
}

// Components around the edges of the 32-bit fast path and of the word range.
std::int32_t EdgyComponent(std::mt19937& gen) {
  static const std::int32_t kEdges[] = {
      0,     1,     -1,     32767,   32768,      -32767,    -32768,    -32769,        32769,
      65535, 65536, -65536, 1 << 30, -(1 << 30), INT32_MAX, INT32_MIN, INT32_MIN + 1, INT32_MAX - 1};
  switch (gen() % 4) {
    case 0:
      return kEdges[gen() % std::size(kEdges)];
    case 1:
      return static_cast<std::int32_t>(gen() % 80001) - 40000;
    case 2:
      return static_cast<std::int32_t>(gen()) >> (gen() % 32);
    default:
      return static_cast<std::int32_t>(gen());
  }
}

// ---- Product signs ------------------------------------------------------------------------

TEST(TiProductSignTest, MatchesWideIntegersForEveryMagnitude) {
  std::mt19937 gen(1361);
  for (int i = 0; i < 1000000; ++i) {
    const TiVector a{EdgyComponent(gen), EdgyComponent(gen)};
    const TiVector b{EdgyComponent(gen), EdgyComponent(gen)};
    ExpectSigns(a, b);
  }
}

// Every combination of components at the edges of the 16-bit fast path, where
// a wrong range check would overflow the 32-bit sum.
TEST(TiProductSignTest, SixteenBitBoundaries) {
  const std::int32_t values[] = {-32769, -32768, -32767, -1, 0, 1, 32767, 32768, 32769};
  for (std::int32_t ax : values)
    for (std::int32_t ay : values)
      for (std::int32_t bx : values)
        for (std::int32_t by : values) ExpectSigns(TiVector{ax, ay}, TiVector{bx, by});
}

// Products of equal magnitude and opposite sign (parallel vectors for the
// cross product, perpendicular ones for the dot product), and one unit off:
// only an exact comparison of the 62-bit products tells these apart.
TEST(TiProductSignTest, DecidesNearTiesBetweenLargeProducts) {
  std::mt19937 gen(1362);
  for (int i = 0; i < 300000; ++i) {
    const std::int32_t u = static_cast<std::int32_t>(gen() % 65535) - 32767;
    const std::int32_t v = static_cast<std::int32_t>(gen() % 65535) - 32767;
    const std::int32_t k1 = static_cast<std::int32_t>(gen() % 65535) - 32767;
    const std::int32_t k2 = static_cast<std::int32_t>(gen() % 65535) - 32767;
    const std::int32_t nudge = static_cast<std::int32_t>(gen() % 3) - 1;
    const TiVector a{u * k1, v * k1 + nudge};
    ExpectSigns(a, TiVector{u * k2, v * k2});
    ExpectSigns(a, TiVector{-v * k2, u * k2});
    ExpectSigns(TiVector{u * k1 + nudge, v * k1}, TiVector{-v * k2, u * k2 - nudge});
  }
}

TEST(TiProductSignTest, NullVectorsGiveZero) {
  const TiVector a{1, 2};
  EXPECT_EQ(TiDotProductSign(nullptr, &a), 0);
  EXPECT_EQ(TiDotProductSign(&a, nullptr), 0);
  EXPECT_EQ(TiCrossProductSign(nullptr, &a), 0);
  EXPECT_EQ(TiCrossProductSign(&a, nullptr), 0);
}

// ---- Polygon and rectangle ----------------------------------------------------------------

struct Case {
  const char* name;
  std::vector<TiPoint> polygon;
  TiRect rect;
  int want;
};

TEST(TiPolygonIntersectTest, NamedCases) {
  const std::vector<TiPoint> triangle{{0, 0}, {100, 0}, {0, 100}};  // counter-clockwise
  const std::vector<TiPoint> square{{0, 0}, {10, 0}, {10, 10}, {0, 10}};
  const Case cases[] = {
      {"rect deep inside", triangle, {10, 10, 20, 20}, 2},
      {"rect inside touching two edges", triangle, {0, 0, 50, 50}, 2},
      {"rect inside clockwise polygon", {{0, 0}, {0, 100}, {100, 0}}, {10, 10, 20, 20}, 2},
      {"rect over the hypotenuse", triangle, {40, 40, 70, 70}, 1},
      {"rect beyond the hypotenuse, boxes overlap", triangle, {60, 60, 90, 90}, 0},
      {"rect beyond the hypotenuse, clockwise", {{0, 0}, {0, 100}, {100, 0}}, {60, 60, 90, 90}, 0},
      {"rect touching the hypotenuse at a corner", triangle, {50, 50, 90, 90}, 1},
      {"rect left of the box", triangle, {-30, 10, -1, 20}, 0},
      {"rect sharing the box edge", triangle, {-30, 10, 0, 20}, 1},
      {"rect holding the polygon", triangle, {-5, -5, 200, 200}, 1},
      {"rect equal to the square", square, {0, 0, 10, 10}, 2},
      {"square closed explicitly", {{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}}, {2, 2, 3, 3}, 2},
      {"square with a repeated vertex", {{0, 0}, {10, 0}, {10, 0}, {10, 10}, {0, 10}}, {5, 5, 12, 6}, 1},
      {"single point rect on the square's corner", square, {10, 10, 10, 10}, 2},
      {"single point rect outside", square, {11, 10, 11, 10}, 0},
      {"one point inside a rect", {{5, 5}}, {0, 0, 10, 10}, 1},
      {"coinciding points on the rect's edge", {{10, 5}, {10, 5}, {10, 5}}, {0, 0, 10, 10}, 1},
      {"coinciding points outside", {{11, 5}, {11, 5}}, {0, 0, 10, 10}, 0},
      {"coinciding points equal to a point rect", {{3, 4}, {3, 4}}, {3, 4, 3, 4}, 2},
      {"segment crossing the rect", {{-5, 5}, {15, 6}}, {0, 0, 10, 10}, 1},
      {"segment passing a corner outside", {{-5, 8}, {8, 21}}, {0, 0, 10, 10}, 0},
      {"segment through the corner", {{-5, 5}, {15, 25}}, {0, 0, 10, 10}, 1},
      {"collinear points crossing", {{-5, -5}, {5, 5}, {20, 20}}, {0, 0, 10, 10}, 1},
      {"point rect on a segment", {{0, 0}, {10, 20}}, {5, 10, 5, 10}, 2},
      {"flat rect longer than a flat polygon", {{-12, -4}, {-18, -4}}, {-23, -4, 20, -4}, 1},
      {"world-sized triangle",
       {{-(1 << 27), -(1 << 26)}, {(1 << 27), -(1 << 26)}, {0, 1 << 26}},
       {-(1 << 24), 0, 1 << 24, 1 << 24},
       2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TiPolygonIntersect(c.polygon.data(), static_cast<std::int32_t>(c.polygon.size()), &c.rect),
              c.want)
        << c.name;
  }
}

TEST(TiPolygonIntersectTest, BadArguments) {
  const TiPoint points[3] = {{0, 0}, {1, 0}, {0, 1}};
  const TiRect r{0, 0, 1, 1};
  const TiRect inverted{1, 0, 0, 1};
  EXPECT_EQ(TiPolygonIntersect(nullptr, 3, &r), -1);
  EXPECT_EQ(TiPolygonIntersect(points, 0, &r), -1);
  EXPECT_EQ(TiPolygonIntersect(points, -3, &r), -1);
  EXPECT_EQ(TiPolygonIntersect(points, 3, nullptr), -1);
  EXPECT_EQ(TiPolygonIntersect(points, 3, &inverted), -1);
}

// The model: closed shapes, polygon as its convex hull (counter-clockwise).
struct P {
  std::int64_t x;
  std::int64_t y;
};

i128 Cross(const P& o, const P& a, const P& b) {
  return i128{a.x - o.x} * (b.y - o.y) - i128{a.y - o.y} * (b.x - o.x);
}

bool OnSegment(const P& a, const P& b, const P& p) {
  return Cross(a, b, p) == 0 && std::min(a.x, b.x) <= p.x && p.x <= std::max(a.x, b.x) &&
         std::min(a.y, b.y) <= p.y && p.y <= std::max(a.y, b.y);
}

bool SegmentsMeet(const P& a, const P& b, const P& c, const P& d) {
  const int d1 = Sign(Cross(c, d, a));
  const int d2 = Sign(Cross(c, d, b));
  const int d3 = Sign(Cross(a, b, c));
  const int d4 = Sign(Cross(a, b, d));
  if (d1 * d2 < 0 && d3 * d4 < 0) return true;
  return OnSegment(c, d, a) || OnSegment(c, d, b) || OnSegment(a, b, c) || OnSegment(a, b, d);
}

// The hull of the points, counter-clockwise, without collinear vertices.
std::vector<P> Hull(std::vector<P> pts) {
  std::sort(pts.begin(), pts.end(),
            [](const P& a, const P& b) { return a.x != b.x ? a.x < b.x : a.y < b.y; });
  pts.erase(
      std::unique(pts.begin(), pts.end(), [](const P& a, const P& b) { return a.x == b.x && a.y == b.y; }),
      pts.end());
  if (pts.size() < 3) return pts;
  std::vector<P> hull(2 * pts.size());
  std::size_t k = 0;
  for (std::size_t i = 0; i < pts.size(); ++i) {
    while (k >= 2 && Cross(hull[k - 2], hull[k - 1], pts[i]) <= 0) --k;
    hull[k++] = pts[i];
  }
  for (std::size_t i = pts.size() - 1, t = k + 1; i > 0; --i) {
    while (k >= t && Cross(hull[k - 2], hull[k - 1], pts[i - 1]) <= 0) --k;
    hull[k++] = pts[i - 1];
  }
  hull.resize(k - 1);
  return hull;
}

bool InHull(const std::vector<P>& hull, const P& p) {
  if (hull.size() == 1) return hull[0].x == p.x && hull[0].y == p.y;
  if (hull.size() == 2) return OnSegment(hull[0], hull[1], p);
  for (std::size_t i = 0; i < hull.size(); ++i)
    if (Cross(hull[i], hull[(i + 1) % hull.size()], p) < 0) return false;
  return true;
}

int ModelRelation(const std::vector<P>& hull, const TiRect& r) {
  const P corners[4] = {{r.x1, r.y1}, {r.x2, r.y1}, {r.x2, r.y2}, {r.x1, r.y2}};
  bool allIn = true;
  bool anyIn = false;
  for (const P& c : corners) {
    const bool in = InHull(hull, c);
    allIn = allIn && in;
    anyIn = anyIn || in;
  }
  if (allIn) return 2;
  if (anyIn) return 1;
  for (const P& v : hull)
    if (r.x1 <= v.x && v.x <= r.x2 && r.y1 <= v.y && v.y <= r.y2) return 1;
  for (std::size_t i = 0; i < hull.size(); ++i)
    for (int j = 0; j < 4; ++j)
      if (SegmentsMeet(hull[i], hull[(i + 1) % hull.size()], corners[j], corners[(j + 1) % 4])) return 1;
  return 0;
}

// Random convex polygons, given counter-clockwise or clockwise, closed or
// not, with or without a repeated vertex, against random rectangles; on a
// small grid, where touching and collinear cases are common, and on the
// world's scale.
TEST(TiPolygonIntersectTest, MatchesTheModelForRandomConvexPolygons) {
  std::mt19937 gen(1363);
  int seen[3] = {0, 0, 0};
  for (int trial = 0; trial < 60000; ++trial) {
    const bool wide = trial % 3 == 0;
    const std::int64_t span = wide ? (std::int64_t{1} << 27) : 24;
    const auto coord = [&](std::int64_t half) {
      return static_cast<std::int32_t>(
          static_cast<std::int64_t>(gen() % static_cast<std::uint32_t>(2 * half + 1)) - half);
    };
    std::vector<P> pts(2 + gen() % 8);
    for (P& p : pts) p = P{coord(span), coord(span / 2)};
    const std::vector<P> hull = Hull(pts);
    std::vector<TiPoint> polygon;
    for (const P& p : hull)
      polygon.push_back(TiPoint{static_cast<std::int32_t>(p.x), static_cast<std::int32_t>(p.y)});
    if (gen() % 2) std::reverse(polygon.begin(), polygon.end());
    if (polygon.size() > 1 && gen() % 4 == 0) polygon.push_back(polygon.front());
    if (polygon.size() > 1 && gen() % 4 == 0) polygon.insert(polygon.begin() + 1, polygon[1]);
    std::int32_t x1 = coord(span), x2 = coord(span), y1 = coord(span / 2), y2 = coord(span / 2);
    if (gen() % 8 == 0) x2 = x1;
    const TiRect r{std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
    const int want = ModelRelation(hull, r);
    ++seen[want];
    ASSERT_EQ(TiPolygonIntersect(polygon.data(), static_cast<std::int32_t>(polygon.size()), &r), want)
        << "trial " << trial << " with " << polygon.size() << " points (" << polygon[0].x << ","
        << polygon[0].y << " " << polygon[polygon.size() > 1].x << "," << polygon[polygon.size() > 1].y << " "
        << polygon.back().x << "," << polygon.back().y << "), rect " << r.x1 << "," << r.y1 << " " << r.x2
        << "," << r.y2;
  }
  // The mix must exercise every answer.
  EXPECT_GT(seen[0], 5000);
  EXPECT_GT(seen[1], 5000);
  EXPECT_GT(seen[2], 500);
}

}  // namespace
