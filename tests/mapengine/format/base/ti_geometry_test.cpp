// Tests of the distances, headings and plane geometry of the map-format
// library: the exact signs and magnitudes of dot and cross products and the
// exact length against 128-bit integers, the relation between a convex polygon
// and a rectangle against a direct model (corner containment and edge
// crossings in 128-bit arithmetic), distances and headings against
// double-precision spherical geometry, the router's distance coefficients
// against the flat distance they estimate, and the nearest point of a
// polyline and the polyline-rectangle test against brute force.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "mapengine/format/base/TiGeometry.h"
#include "mapengine/format/base/TiMath.h"

#include "tests/mapengine/format/base/ExactGeometryModel.h"

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
using exact_model::Cross;
using exact_model::Hull;
using exact_model::OnSegment;
using exact_model::P;
using exact_model::SegmentsMeet;

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

// ---- Exact magnitudes and length ------------------------------------------------------------

std::uint64_t Value(const TiUx& v) { return (std::uint64_t{v.high} << 32) | v.low; }

i128 Abs(i128 v) { return v < 0 ? -v : v; }

void ExpectMagnitudes(const TiVector& a, const TiVector& b) {
  TiUx dot{7, 7};
  TiUx cross{7, 7};
  ASSERT_EQ(TiAbsDotProduct(&dot, &a, &b), &dot);
  ASSERT_EQ(TiAbsCrossProduct(&cross, &a, &b), &cross);
  ASSERT_EQ(i128{Value(dot)}, Abs(i128{a.dx} * b.dx + i128{a.dy} * b.dy))
      << "dot (" << a.dx << ", " << a.dy << ") . (" << b.dx << ", " << b.dy << ")";
  ASSERT_EQ(i128{Value(cross)}, Abs(i128{a.dx} * b.dy - i128{a.dy} * b.dx))
      << "cross (" << a.dx << ", " << a.dy << ") x (" << b.dx << ", " << b.dy << ")";
}

TEST(TiAbsProductTest, MatchesWideIntegersForEveryMagnitude) {
  std::mt19937 gen(1364);
  for (int i = 0; i < 300000; ++i) {
    ExpectMagnitudes(TiVector{EdgyComponent(gen), EdgyComponent(gen)},
                     TiVector{EdgyComponent(gen), EdgyComponent(gen)});
  }
}

// Every combination of the extreme components, up to |INT32_MIN|^2 + |INT32_MIN|^2 = 2^63,
// where a sum or a negation in signed 64 bits would overflow.
TEST(TiAbsProductTest, ExtremeComponents) {
  const std::int32_t values[] = {INT32_MIN, INT32_MIN + 1, -1, 0, 1, INT32_MAX - 1, INT32_MAX};
  for (std::int32_t ax : values)
    for (std::int32_t ay : values)
      for (std::int32_t bx : values)
        for (std::int32_t by : values) ExpectMagnitudes(TiVector{ax, ay}, TiVector{bx, by});
  TiUx out;
  const TiVector v{INT32_MIN, INT32_MIN};
  EXPECT_EQ(Value(*TiAbsDotProduct(&out, &v, &v)), std::uint64_t{1} << 63);
}

TEST(TiAbsProductTest, NullArguments) {
  const TiVector a{3, 4};
  TiUx out{5, 5};
  EXPECT_EQ(TiAbsDotProduct(nullptr, &a, &a), nullptr);
  EXPECT_EQ(TiAbsCrossProduct(nullptr, &a, &a), nullptr);
  EXPECT_EQ(Value(*TiAbsDotProduct(&out, nullptr, &a)), 0u);
  out = TiUx{5, 5};
  EXPECT_EQ(Value(*TiAbsCrossProduct(&out, &a, nullptr)), 0u);
}

// round(sqrt(v)) by bisection on 128-bit squares: sqrt(v) rounds up exactly
// when v > r^2 + r (it never ends in exactly one half).
std::uint64_t ModelRoundedSqrt(unsigned __int128 v) {
  std::uint64_t lo = 0;
  std::uint64_t hi = std::uint64_t{1} << 33;
  while (hi - lo > 1) {
    const std::uint64_t mid = lo + (hi - lo) / 2;
    (static_cast<unsigned __int128>(mid) * mid <= v ? lo : hi) = mid;
  }
  return v - static_cast<unsigned __int128>(lo) * lo > lo ? lo + 1 : lo;
}

std::uint64_t ModelLength(const TiVector& a) {
  return ModelRoundedSqrt(static_cast<unsigned __int128>(i128{a.dx} * a.dx + i128{a.dy} * a.dy));
}

TEST(TiLengthTest, ExactForEveryMagnitude) {
  struct Named {
    TiVector v;
    std::uint32_t want;
  };
  const Named named[] = {
      {{0, 0}, 0},
      {{3, -4}, 5},
      {{1, 1}, 1},                            // 1.414
      {{2, 3}, 4},                            // 3.606
      {{0, INT32_MIN}, 2147483648u},          // beyond INT32_MAX
      {{INT32_MIN, INT32_MIN}, 3037000500u},  // sqrt(2^63) = 3037000499.976
      {{INT32_MAX, INT32_MAX}, 3037000499u},  // 3037000498.56
      {{INT32_MIN, INT32_MAX}, 3037000499u},
  };
  for (const Named& n : named) EXPECT_EQ(TiLength(&n.v), n.want) << n.v.dx << ", " << n.v.dy;
  EXPECT_EQ(TiLength(nullptr), 0u);

  std::mt19937 gen(1365);
  for (int i = 0; i < 200000; ++i) {
    const TiVector v{EdgyComponent(gen), EdgyComponent(gen)};
    ASSERT_EQ(TiLength(&v), ModelLength(v)) << v.dx << ", " << v.dy;
  }
  // Right at the rounding boundary: k^4 + k^2 lies just below (k^2 + 1/2)^2,
  // k^4 + (k + 1)^2 just above it.
  for (int i = 0; i < 20000; ++i) {
    const std::int32_t k = static_cast<std::int32_t>(gen() % 46340) + 1;
    const TiVector below{k * k, k};
    const TiVector above{k * k, k + 1};
    ASSERT_EQ(TiLength(&below), static_cast<std::uint32_t>(k * k)) << k;
    ASSERT_EQ(TiLength(&above), static_cast<std::uint32_t>(k * k) + 1) << k;
  }
}

// ---- Distance and heading on the sphere --------------------------------------------------------

constexpr double kPi = 3.14159265358979323846;
constexpr double kUnitsPerRadian = 268435456.0 / (2 * kPi);
constexpr double kUnitsPerKm = 268435456.0 / 40000.0;
constexpr double kUnitsPerDegree = 268435456.0 / 360.0;

double Radians(std::int32_t units) { return units / kUnitsPerRadian; }

// The central angle between two points, in map units (haversine).
double GreatCircle(const TiPoint& p, const TiPoint& q) {
  const double f1 = Radians(p.y);
  const double f2 = Radians(q.y);
  const double dl = (double{1} * q.x - p.x) / kUnitsPerRadian;
  const double h =
      std::pow(std::sin((f2 - f1) / 2), 2) + std::cos(f1) * std::cos(f2) * std::pow(std::sin(dl / 2), 2);
  return 2 * std::asin(std::min(1.0, std::sqrt(h))) * kUnitsPerRadian;
}

// The initial direction of the great circle from p to q (its forward azimuth),
// as a mathematical angle in map units.
double InitialDirection(const TiPoint& p, const TiPoint& q) {
  const double f1 = Radians(p.y);
  const double f2 = Radians(q.y);
  const double dl = (double{1} * q.x - p.x) / kUnitsPerRadian;
  const double bearing = std::atan2(std::sin(dl) * std::cos(f2),
                                    std::cos(f1) * std::sin(f2) - std::sin(f1) * std::cos(f2) * std::cos(dl));
  return (kPi / 2 - bearing) * kUnitsPerRadian;
}

// Degrees between two map-unit angles, the short way round.
double AngleGap(double a, double b) {
  return std::fabs(std::remainder(a - b, 268435456.0)) / kUnitsPerDegree;
}

TiPoint ToUnits(double lonRadians, double latRadians) {
  const double lon = std::remainder(lonRadians, 2 * kPi);  // into [-pi, pi]
  return TiPoint{static_cast<std::int32_t>(std::lround(lon * kUnitsPerRadian)),
                 static_cast<std::int32_t>(std::lround(latRadians * kUnitsPerRadian))};
}

// Longitudes within 0.05 degrees of the date line, either side.
double DateLineLongitude(std::mt19937& gen) {
  const double lon = kPi - std::uniform_real_distribution<double>(0, 0.05)(gen) * kPi / 180;
  return gen() % 2 ? lon : -lon;
}

struct Pair {
  TiPoint p;
  TiPoint q;
};

// A start point at the given latitude (radians), a uniformly random
// direction, and a distance spread evenly over the logarithmic scale from
// 1 m to 5,000 km; both points rounded to map units, so that the references
// below use the very points the library sees.
Pair RandomPair(std::mt19937& gen, double lat, bool nearDateLine = false) {
  std::uniform_real_distribution<double> unit(0, 1);
  const double lon = nearDateLine ? DateLineLongitude(gen) : (2 * unit(gen) - 1) * kPi;
  const double km = std::exp(std::log(0.001) + unit(gen) * (std::log(5000.0) - std::log(0.001)));
  const double delta = km * kUnitsPerKm / kUnitsPerRadian;
  const double bearing = unit(gen) * 2 * kPi;
  const double lat2 =
      std::asin(std::sin(lat) * std::cos(delta) + std::cos(lat) * std::sin(delta) * std::cos(bearing));
  const double lon2 = lon + std::atan2(std::sin(bearing) * std::sin(delta) * std::cos(lat),
                                       std::cos(delta) - std::sin(lat) * std::sin(lat2));
  return Pair{ToUnits(lon, lat), ToUnits(lon2, lat2)};
}

// Latitudes spread evenly over the sphere's surface.
double SurfaceLatitude(std::mt19937& gen) {
  return std::asin(2 * std::uniform_real_distribution<double>(0, 1)(gen) - 1);
}

// Latitudes within a degree of either pole.
double PolarLatitude(std::mt19937& gen) {
  const double lat = (89 + std::uniform_real_distribution<double>(0, 0.9999)(gen)) * kPi / 180;
  return gen() % 2 ? lat : -lat;
}

// Within 0.1% plus 3 units (0.45 m) of the great circle, at every distance
// from 1 m to 5,000 km and every latitude. The units term is what integers
// allow at short range: the result is whole units, the near formula truncates
// the scaled longitude difference, and near a pole, where a short step can
// span more than 2^20 units of longitude, the great-circle formula works on
// sines and cosines of 2^-28 resolution. The relative term has room to spare:
// from 10 km on the error stays below 0.01% (table sines and arc sines good to
// a few parts per million). One pair in eight starts within a degree of a
// pole and one in eight beside the date line, where the short way round
// crosses it.
TEST(TiDistanceTest, FollowsTheGreatCircle) {
  std::mt19937 gen(1366);
  for (int i = 0; i < 40000; ++i) {
    const Pair pair = RandomPair(gen, i % 8 == 0 ? PolarLatitude(gen) : SurfaceLatitude(gen), i % 8 == 4);
    const double want = GreatCircle(pair.p, pair.q);
    const std::int32_t got = TiDistance(&pair.p, &pair.q);
    const double error = std::fabs(got - want);
    ASSERT_LE(error, 0.001 * want + 3) << "pair " << i << ": (" << pair.p.x << ", " << pair.p.y << ") to ("
                                       << pair.q.x << ", " << pair.q.y << ")";
    if (want >= 10 * kUnitsPerKm) {
      ASSERT_LE(error, 1e-4 * want) << "pair " << i << ": (" << pair.p.x << ", " << pair.p.y << ") to ("
                                    << pair.q.x << ", " << pair.q.y << ")";
    }
  }
}

// The near formula depends on the points only through their differences and
// the mean latitude, so it gives the same from either end; it takes every
// pair up to 2^20 units apart in both coordinates.
TEST(TiDistanceTest, NearFormulaIsSymmetric) {
  std::mt19937 gen(1367);
  for (int i = 0; i < 50000; ++i) {
    const TiPoint p{static_cast<std::int32_t>(gen() % (1u << 28)) - (1 << 27),
                    static_cast<std::int32_t>(gen() % ((1u << 27) - (1u << 21))) - (1 << 26) + (1 << 20)};
    const std::int32_t span = (i % 2) ? 0x100000 : 0x400;
    const TiPoint q{p.x + static_cast<std::int32_t>(gen() % (2u * span + 1)) - span,
                    p.y + static_cast<std::int32_t>(gen() % (2u * span + 1)) - span};
    ASSERT_EQ(TiDistance(&p, &q), TiDistance(&q, &p)) << p.x << ", " << p.y << " to " << q.x << ", " << q.y;
  }
}

TEST(TiDistanceTest, EdgeCases) {
  const TiPoint origin{0, 0};
  const TiPoint atNear{0x100000, 0x100000};
  const TiPoint atFar{0x100001, 0x100001};
  // Either side of the switch to the great circle the answers agree.
  const std::int32_t near = TiDistance(&origin, &atNear);
  const std::int32_t far = TiDistance(&origin, &atFar);
  EXPECT_NEAR(near, GreatCircle(origin, atNear), 0.001 * near);
  EXPECT_NEAR(far, GreatCircle(origin, atFar), 0.001 * far);
  EXPECT_LE(std::abs(far - near), 1e-4 * near);

  EXPECT_EQ(TiDistance(&origin, &origin), 0);
  // Half the equator: the chord is the diameter.
  const TiPoint antipode{0x8000000, 0};
  EXPECT_EQ(TiDistance(&origin, &antipode), 0x8000000);
  // A quarter meridian, within the arc sine's precision near 45 degrees.
  const TiPoint pole{12345, 0x4000000};
  EXPECT_NEAR(TiDistance(&origin, &pole), 0x4000000, 300);
  // Across the date line the distance is the short way round, flat as
  // anywhere else at this range.
  const TiPoint east{(1 << 27) - 50, 0};
  const TiPoint west{-(1 << 27) + 50, 0};
  EXPECT_EQ(TiDistance(&east, &west), 100);
  const TiPoint eastNorth{(1 << 27) - 3000, 0x2000000};
  const TiPoint westNorth{-(1 << 27) + 4000, 0x2000000 + 5000};
  EXPECT_NEAR(TiDistance(&eastNorth, &westNorth), GreatCircle(eastNorth, westNorth), 1.5);
  EXPECT_EQ(TiDistance(&eastNorth, &westNorth), TiDistance(&westNorth, &eastNorth));

  const TiPoint tooFarNorth{0, 0x4000001};
  const TiPoint tooFarSouth{0, -0x4000001};
  const TiPoint southPole{0, -0x4000000};
  EXPECT_EQ(TiDistance(&origin, &tooFarNorth), -1);
  EXPECT_EQ(TiDistance(&tooFarSouth, &origin), -1);
  EXPECT_NEAR(TiDistance(&origin, &southPole), 0x4000000, 300);
  EXPECT_EQ(TiDistance(nullptr, &origin), -1);
  EXPECT_EQ(TiDistance(&origin, nullptr), -1);
  // Longitudes that differ by nearly 2^32 units.
  const TiPoint left{INT32_MIN, 100};
  const TiPoint right{INT32_MAX, -100};
  const std::int32_t wide = TiDistance(&left, &right);
  EXPECT_GE(wide, 0);
  EXPECT_LE(wide, 0x8000000);
}

// The direction to q as a mathematical angle, compared with the forward
// azimuth of the great circle: within a degree for every distance from 1 m
// to 5,000 km wherever the start lies at most 89 degrees from the equator.
// Below 2^16 units the library takes the direction on the plane around the
// points (longitude scaled by the cosine of the mean latitude), which differs
// from the forward azimuth by at most half the meridians' convergence over
// that step (0.05 degrees); the comparison uses the points as rounded to map
// units, so the rounding of a 1 m step does not count against it.
TEST(TiHeadingTest, FollowsTheGreatCircle) {
  std::mt19937 gen(1368);
  for (int i = 0; i < 40000; ++i) {
    double lat = SurfaceLatitude(gen);
    while (std::fabs(lat) > 89 * kPi / 180) lat = SurfaceLatitude(gen);
    const Pair pair = RandomPair(gen, lat);
    if (pair.p.x == pair.q.x && pair.p.y == pair.q.y) continue;
    const double gap = AngleGap(TiHeading(&pair.p, &pair.q), InitialDirection(pair.p, pair.q));
    ASSERT_LE(gap, 1.0) << "pair " << i << ": (" << pair.p.x << ", " << pair.p.y << ") to (" << pair.q.x
                        << ", " << pair.q.y << ")";
  }
}

// Within a degree of a pole the great-circle components (E and N, in 2^-28
// units, scaled by the cosine of the latitude) shrink to a few hundred units,
// and a step of a few metres can span far more than 2^16 units of longitude:
// there the degree holds from 1 km on.
TEST(TiHeadingTest, FollowsTheGreatCircleNearThePoles) {
  std::mt19937 gen(1369);
  int compared = 0;
  for (int i = 0; i < 40000; ++i) {
    const Pair pair = RandomPair(gen, PolarLatitude(gen));
    if (GreatCircle(pair.p, pair.q) < kUnitsPerKm) continue;
    ++compared;
    const double gap = AngleGap(TiHeading(&pair.p, &pair.q), InitialDirection(pair.p, pair.q));
    ASSERT_LE(gap, 1.0) << "pair " << i << ": (" << pair.p.x << ", " << pair.p.y << ") to (" << pair.q.x
                        << ", " << pair.q.y << ")";
  }
  EXPECT_GT(compared, 15000);
}

TEST(TiHeadingTest, NamedCases) {
  struct Case {
    const char* name;
    TiPoint p;
    TiPoint q;
    std::int32_t want;
  };
  const Case cases[] = {
      {"due north", {10, 20}, {10, 120}, 0x4000000},
      {"due east", {10, 20}, {110, 20}, 0},
      {"due west", {10, 20}, {-90, 20}, 0x8000000},
      {"due south", {10, 20}, {10, -80}, -0x4000000},
      {"identical points", {123, 456}, {123, 456}, 0x4000000},
      {"north-east about the equator, flat", {0, -500}, {1000, 500}, 0x2000000},
      {"far north", {5, 0}, {5, 0x2000000}, 0x4000000},
      {"far east on the equator", {0, 0}, {0x1000000, 0}, 0},
      {"east across the date line", {(1 << 27) - 10, 0}, {-(1 << 27) + 10, 0}, 0},
      {"west across the date line", {-(1 << 27) + 10, 5000}, {(1 << 27) - 10, 5000}, 0x8000000},
      {"half a turn away, over the north pole", {0, 0x3000000}, {0x8000000, 0x3000000}, 0x4000000},
      {"half a turn away, over the south pole", {0, -0x3000000}, {-0x8000000, -0x2000000}, -0x4000000},
      {"from the north pole", {0, 0x4000000}, {5, 0}, -0x4000000},
      {"north pole to itself", {0, 0x4000000}, {777, 0x4000000}, 0x4000000},
      {"from the south pole", {0, -0x4000000}, {5, 0}, 0x4000000},
      {"beyond the north pole", {0, 0x4000001}, {5, 0}, 0},
      {"to beyond the south pole", {0, 0}, {5, -0x4000001}, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(TiHeading(&c.p, &c.q), c.want) << c.name;

  const TiPoint p{0, 0};
  EXPECT_EQ(TiHeading(nullptr, &p), 0);
  EXPECT_EQ(TiHeading(&p, nullptr), 0);
  // Towards a pole from anywhere is north. Near north and south the angle
  // comes from its cosine |N| / sqrt(E^2 + N^2), and the table square root's
  // few parts per million turn into up to 0.22 degrees there.
  const TiPoint from{12345, 0x3000000};
  const TiPoint northPole{999999, 0x4000000};
  EXPECT_LE(AngleGap(TiHeading(&from, &northPole), 0x4000000), 0.22);
}

// ---- Distance coefficients ----------------------------------------------------------------------

double Fraction(std::uint32_t v) { return v / 4294967296.0; }

TEST(TiDistCoeffTest, TellingRows) {
  struct Row {
    double degrees;
    double c[4];
  };
  const Row rows[] = {
      {0, {0.96044, 0.39782, 0.39783, 0.96043}},
      {22.5, {0.88345, 0.41842, 0.34859, 0.96441}},
      {45, {0.66519, 0.48695, 0.21934, 0.97595}},
      {67.5, {0.34572, 0.62158, 0.07013, 0.99160}},
      {90, {0, 0.82843, 0, 1.0}},
  };
  for (const Row& row : rows) {
    std::uint32_t c[4] = {};
    const auto lat = static_cast<std::int32_t>(row.degrees / 90 * 0x4000000);
    ASSERT_EQ(TiDistCoeff(lat, &c[0], &c[1], &c[2], &c[3]), 1);
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(Fraction(c[k]), row.c[k], 0.5e-5) << row.degrees << " c" << k + 1;
  }
  std::uint32_t c[4] = {};
  (void)TiDistCoeff(0x4000000, &c[0], &c[1], &c[2], &c[3]);
  EXPECT_EQ(c[0], 0u);
  EXPECT_EQ(c[2], 0u);
  EXPECT_EQ(c[3], 0xFFFFFFFFu);
}

TEST(TiDistCoeffTest, TablesAndLookup) {
  const auto& tables = ti::detail::kDistCoeffTables;
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(tables[k][256], tables[k][257]) << k;
    // At a table node the lookup is the entry itself, and the coefficients
    // do not depend on the hemisphere.
    for (std::int32_t i = 0; i <= 256; i += 17) {
      std::uint32_t north[4];
      std::uint32_t south[4];
      (void)TiDistCoeff(i << 18, &north[0], &north[1], &north[2], &north[3]);
      (void)TiDistCoeff(-(i << 18), &south[0], &south[1], &south[2], &south[3]);
      EXPECT_EQ(north[k], tables[k][i]) << k << " at " << i;
      EXPECT_EQ(south[k], north[k]) << k << " at " << i;
    }
  }
  std::uint32_t c[4] = {1, 2, 3, 4};
  EXPECT_EQ(TiDistCoeff(0x4000001, &c[0], &c[1], &c[2], &c[3]), 0);
  EXPECT_EQ(TiDistCoeff(-0x4000001, &c[0], &c[1], &c[2], &c[3]), 0);
  EXPECT_EQ(TiDistCoeff(INT32_MIN, &c[0], &c[1], &c[2], &c[3]), 0);
  EXPECT_EQ(c[0], 1u);
  EXPECT_EQ(c[3], 4u);
  // Only the coefficients asked for are written.
  EXPECT_EQ(TiDistCoeff(0x1000000, nullptr, &c[1], nullptr, nullptr), 1);
  EXPECT_EQ(c[0], 1u);
  EXPECT_NE(c[1], 2u);
}

// The coefficients do what the router needs: at every latitude each pair
// estimates the flat distance (longitude scaled by the cosine) over its half
// of the directions with the smallest possible worst error, which shows as an
// error that swings equally far above and below (4% at the equator, up to
// 17% near the poles), between the table's nodes as well as on them.
TEST(TiDistCoeffTest, EstimatesTheFlatDistanceWithEvenRipple) {
  std::mt19937 gen(1370);
  for (int sample = 0; sample < 300; ++sample) {
    const std::int32_t lat = sample < 90
                                 ? static_cast<std::int32_t>(sample * kUnitsPerDegree)
                                 : static_cast<std::int32_t>(gen() % (89u * 745654u)) * (gen() % 2 ? 1 : -1);
    std::uint32_t c[4];
    ASSERT_EQ(TiDistCoeff(lat, &c[0], &c[1], &c[2], &c[3]), 1);
    const double cosine = std::cos(Radians(lat));
    double over[2] = {0, 0};
    double under[2] = {0, 0};
    for (int step = 0; step <= 2000; ++step) {
      const double angle = step * (kPi / 2) / 2000;
      const auto dx = static_cast<std::int64_t>(std::llround(std::cos(angle) * (1 << 24)));
      const auto dy = static_cast<std::int64_t>(std::llround(std::sin(angle) * (1 << 24)));
      const int half = dx >= dy ? 0 : 1;
      const std::uint64_t estimate =
          half == 0 ? (c[0] * static_cast<std::uint64_t>(dx) + c[1] * static_cast<std::uint64_t>(dy)) >> 32
                    : (c[2] * static_cast<std::uint64_t>(dx) + c[3] * static_cast<std::uint64_t>(dy)) >> 32;
      const double flat = std::hypot(cosine * dx, double(dy));
      const double error = estimate / flat - 1;
      over[half] = std::max(over[half], error);
      under[half] = std::max(under[half], -error);
    }
    for (int half = 0; half < 2; ++half) {
      EXPECT_LE(std::max(over[half], under[half]), 0.1716) << lat << " half " << half;
      EXPECT_NEAR(over[half], under[half], 0.002) << lat << " half " << half;
    }
    if (lat == 0) {
      EXPECT_LE(std::max(over[0], under[0]), 0.0396);
    }
  }
}

// ---- Nearest point of a polyline ------------------------------------------------------------

// The plane TiPointToPolylineHeading measures on: coordinates relative to p,
// x scaled by the table cosine of p's latitude as a 32-bit fraction (by
// 1 - 2^-28 without scaling), rounded to whole units.
struct PlanePt {
  std::int64_t x;
  std::int64_t y;
};

PlanePt SearchPlane(const TiPoint& v, const TiPoint& p, bool scale) {
  const std::uint32_t c =
      scale ? static_cast<std::uint32_t>(TiSin(static_cast<std::uint32_t>(p.y) + 0x4000000u)) : (1u << 28);
  const std::uint32_t factor = c * 16u - (c >> 28);
  const std::int64_t dx = std::int64_t{v.x} - p.x;
  const std::uint64_t m = dx < 0 ? static_cast<std::uint64_t>(-dx) : static_cast<std::uint64_t>(dx);
  const auto sx = static_cast<std::int64_t>((m * factor + 0x80000000u) >> 32);
  return PlanePt{dx < 0 ? -sx : sx, std::int64_t{v.y} - p.y};
}

// round(sqrt(num / den)), halves up: a long-double estimate made exact by
// (2r - 1)^2 den <= 4 num < (2r + 1)^2 den.
std::int64_t RoundedRootOfRatio(i128 num, i128 den) {
  auto r = static_cast<std::int64_t>(
      std::llround(std::sqrt(static_cast<long double>(num) / static_cast<long double>(den))));
  while (r > 0 && i128{2 * r - 1} * (2 * r - 1) * den > 4 * num) --r;
  while (i128{2 * r + 1} * (2 * r + 1) * den <= 4 * num) ++r;
  return r;
}

// The location of segment i (from a to b) nearest to the origin, its rounded
// distance and its position code (2i, 2i + 1 or 2i + 2).
struct Location {
  std::int64_t dist;
  std::int32_t code;
  long double t;  // along the segment, for a location inside it
};

Location NearestOnSegment(const PlanePt& a, const PlanePt& b, std::int32_t i) {
  const i128 dx = b.x - a.x;
  const i128 dy = b.y - a.y;
  const i128 dd = dx * dx + dy * dy;
  const i128 toA = -(dx * a.x + dy * a.y);  // how far the origin projects past a
  if (dd == 0 || toA <= 0)
    return Location{RoundedRootOfRatio(i128{a.x} * a.x + i128{a.y} * a.y, 1), 2 * i, 0};
  if (toA >= dd) return Location{RoundedRootOfRatio(i128{b.x} * b.x + i128{b.y} * b.y, 1), 2 * i + 2, 1};
  const i128 cross = dx * a.y - dy * a.x;
  return Location{RoundedRootOfRatio(cross * cross, dd), 2 * i + 1,
                  static_cast<long double>(toA) / static_cast<long double>(dd)};
}

struct Filter {
  std::int32_t heading;
  std::int32_t tolerance;
  std::int32_t mode;
};

constexpr Filter kNoFilter{0, -1, 0};

// The heading filter as angular gaps: mode > 0 wants the segment along the
// heading, mode < 0 against it, mode 0 either way; it is off for a negative
// tolerance, half a turn or more, or a quarter turn or more in mode 0.
bool Agrees(const Filter& f, std::int32_t angle) {
  if (f.tolerance < 0 || f.tolerance >= 0x8000000 || (f.tolerance >= 0x4000000 && f.mode == 0)) return true;
  const auto gap = [](std::int64_t a, std::int64_t h) {
    const std::int64_t d = (((a - h) % 0x10000000) + 0x10000000) % 0x10000000;
    return std::min(d, 0x10000000 - d);
  };
  const std::int64_t along = gap(angle, f.heading);
  const std::int64_t against = gap(angle, std::int64_t{f.heading} + 0x8000000);
  return (f.mode > 0 ? along : f.mode < 0 ? against : std::min(along, against)) <= f.tolerance;
}

struct Found {
  std::int32_t code = -1;
  std::int64_t dist = 0;
  long double t = 0;
};

// Brute force: every segment's nearest location, kept when it is strictly
// closer than the limit and than everything before it, and when the segment
// (for a location inside it) or a segment next to the vertex agrees with
// the heading.
Found BruteForceNearest(const TiPoint& p, const std::vector<TiPoint>& points, std::int64_t maxDist,
                        bool scale, const Filter& filter) {
  const auto n = static_cast<std::int32_t>(points.size());
  std::vector<PlanePt> plane;
  for (const TiPoint& v : points) plane.push_back(SearchPlane(v, p, scale));
  const auto agrees = [&](std::int32_t j) {
    if (j < 0 || j + 1 >= n) return false;
    const auto dx = static_cast<std::int32_t>(plane[j + 1].x - plane[j].x);
    const auto dy = static_cast<std::int32_t>(plane[j + 1].y - plane[j].y);
    return Agrees(filter, TiAtan2(dy, dx));
  };
  Found best;
  for (std::int32_t i = 0; i + 1 < n; ++i) {
    const Location loc = NearestOnSegment(plane[i], plane[i + 1], i);
    const std::int32_t vertex = loc.code / 2;
    const bool eligible = loc.code % 2 ? agrees(i) : agrees(vertex - 1) || agrees(vertex);
    if (!eligible || loc.dist >= maxDist || (best.code >= 0 && loc.dist >= best.dist)) continue;
    best = Found{loc.code, loc.dist, loc.t};
  }
  return best;
}

std::int32_t Nearest(const TiPoint& p, const std::vector<TiPoint>& points, std::int32_t maxDist, bool scale,
                     const Filter& filter, TiPoint* outPoint = nullptr, std::int32_t* outDist = nullptr) {
  return TiPointToPolylineHeading(&p, points.data(), static_cast<std::int32_t>(points.size()), maxDist,
                                  scale ? 1 : 0, filter.heading, filter.tolerance, filter.mode, outPoint,
                                  outDist);
}

TEST(TiPointToPolylineTest, PositionCodesAndLimit) {
  // East along y = 0 to vertex 3, then south.
  const std::vector<TiPoint> line{{0, 0}, {100, 0}, {200, 0}, {300, 0}, {300, -100}, {300, -200}};
  struct Case {
    const char* name;
    TiPoint p;
    std::int32_t maxDist;
    std::int32_t want;
    std::int32_t dist;
    TiPoint point;
  };
  const Case cases[] = {
      {"at the corner, vertex 3", {350, 50}, 1000, 6, 71, {300, 0}},
      {"inside the segment from 3 to 4", {310, -50}, 1000, 7, 10, {300, -50}},
      {"on the line", {150, 0}, 1000, 3, 0, {150, 0}},
      {"before the first vertex", {-30, 40}, 1000, 0, 50, {0, 0}},
      {"past the last vertex", {300, -250}, 1000, 10, 50, {300, -200}},
      {"exactly the limit away", {310, -50}, 10, -1, 0, {0, 0}},
      {"one unit within the limit", {310, -50}, 11, 7, 10, {300, -50}},
      {"no limit at all", {310, -50}, 0, -1, 0, {0, 0}},
  };
  for (const Case& c : cases) {
    TiPoint point{-1, -1};
    std::int32_t dist = -1;
    ASSERT_EQ(Nearest(c.p, line, c.maxDist, false, kNoFilter, &point, &dist), c.want) << c.name;
    if (c.want < 0) continue;
    EXPECT_EQ(dist, c.dist) << c.name;
    EXPECT_EQ(point.x, c.point.x) << c.name;
    EXPECT_EQ(point.y, c.point.y) << c.name;
  }
}

// Three sides of a square at the same distance from its centre: the first in
// polyline order wins, unless the heading rules it out.
TEST(TiPointToPolylineTest, TiesGoToTheFirstInPolylineOrder) {
  const std::vector<TiPoint> square{{0, 0}, {100, 0}, {100, 100}, {0, 100}};
  const TiPoint centre{50, 50};
  std::int32_t dist = 0;
  EXPECT_EQ(Nearest(centre, square, 1000, false, kNoFilter, nullptr, &dist), 1);
  EXPECT_EQ(dist, 50);
  EXPECT_EQ(Nearest(centre, square, 1000, false, Filter{0x4000000, 0x100000, 1}), 3);  // north: the 2nd side
  EXPECT_EQ(Nearest(centre, square, 1000, false, Filter{0x8000000, 0x100000, 1}), 5);  // west: the 3rd
  EXPECT_EQ(Nearest(centre, square, 1000, false, Filter{0x8000000, 0x100000, 0}), 1);  // east-west: the 1st
}

// The perpendicular distance is exact for any segment length: dividing the
// cross product by the rounded length (3 for this segment of 2.83) would
// give 933 instead of 990.
TEST(TiPointToPolylineTest, ShortSegmentsKeepExactDistances) {
  const std::vector<TiPoint> tiny{{0, 0}, {2, 2}};
  TiPoint point{};
  std::int32_t dist = 0;
  EXPECT_EQ(Nearest(TiPoint{-699, 701}, tiny, 5000, false, kNoFilter, &point, &dist), 1);
  EXPECT_EQ(dist, 990);  // 2800 / sqrt(8) = 989.95
  EXPECT_EQ(point.x, 1);
  EXPECT_EQ(point.y, 1);
}

TEST(TiPointToPolylineTest, HeadingFilter) {
  // One segment running east, the point beside it.
  const std::vector<TiPoint> east{{0, 0}, {1000, 0}};
  const TiPoint beside{500, 100};
  struct Case {
    const char* name;
    Filter filter;
    bool found;
  };
  const Case cases[] = {
      {"no heading", {0x4000000, -1, 0}, true},
      {"either way, east", {0, 0x100000, 0}, true},
      {"either way, west", {0x8000000, 0x100000, 0}, true},
      {"along, west", {0x8000000, 0x100000, 1}, false},
      {"against, west", {0x8000000, 0x100000, -1}, true},
      {"against, east", {0, 0x100000, -1}, false},
      {"along, east, zero tolerance", {0, 0, 1}, true},
      {"along, one unit off, zero tolerance", {1, 0, 1}, false},
      {"along, a whole turn more", {0x10000000, 0x100000, 1}, true},
      {"either way, north, just under a quarter", {0x4000000, 0x3FFFFFF, 0}, false},
      {"either way, a quarter turn: no filter", {0x4000000, 0x4000000, 0}, true},
      {"along, north, a quarter turn", {0x4000000, 0x4000000, 1}, true},
      {"along, north, just under a quarter", {0x4000000, 0x3FFFFFF, 1}, false},
      {"along, all but the opposite", {0x8000000, 0x7FFFFFF, 1}, false},
      {"along, all but the opposite, one unit off", {0x8000001, 0x7FFFFFF, 1}, true},
      {"half a turn: no filter", {0x8000000, 0x8000000, 1}, true},
  };
  for (const Case& c : cases) EXPECT_EQ(Nearest(beside, east, 1000, false, c.filter) >= 0, c.found) << c.name;

  // A vertex counts when either segment next to it agrees.
  const std::vector<TiPoint> corner{{0, 0}, {1000, 0}, {1000, 1000}};
  const Filter north{0x4000000, 0x100000, 1};
  std::int32_t dist = 0;
  EXPECT_EQ(Nearest(TiPoint{1100, -100}, corner, 1000, false, north, nullptr, &dist), 2);
  EXPECT_EQ(dist, 141);
  EXPECT_EQ(Nearest(TiPoint{1100, -100}, corner, 1000, false, Filter{0, 0x100000, 1}), 2);
  EXPECT_EQ(Nearest(TiPoint{1100, -100}, corner, 1000, false, Filter{0x8000000, 0x100000, 1}), -1);
  // Beside the first segment, which runs the wrong way: the nearest place
  // that agrees is the corner.
  EXPECT_EQ(Nearest(TiPoint{500, -100}, corner, 1000, false, north, nullptr, &dist), 2);
  EXPECT_EQ(dist, 510);
  EXPECT_EQ(Nearest(TiPoint{500, -100}, corner, 510, false, north), -1);
}

// At 60 degrees a unit of longitude is half a unit of distance. The foot of
// the perpendicular found on that plane comes back in map units.
TEST(TiPointToPolylineTest, ScaledPlaneAndFootInMapUnits) {
  const std::int32_t y0 = 0x2AAAAAA;  // 60 degrees
  const TiPoint p{1000000, y0};
  const std::vector<TiPoint> wall{{p.x + 2000, y0 - 5000}, {p.x + 2000, y0 + 5000}};
  std::int32_t dist = 0;
  EXPECT_EQ(Nearest(p, wall, 5000, true, kNoFilter, nullptr, &dist), 1);
  EXPECT_NEAR(dist, 1000, 1);
  EXPECT_EQ(Nearest(p, wall, 5000, false, kNoFilter, nullptr, &dist), 1);
  EXPECT_EQ(dist, 2000);

  const std::vector<TiPoint> slanted{{p.x - 6000, y0 + 1000}, {p.x + 10000, y0 + 3000}};
  TiPoint foot{};
  ASSERT_EQ(Nearest(p, slanted, 5000, true, kNoFilter, &foot, &dist), 1);
  // On the plane the segment runs from (-3000, 1000) to (5000, 3000); the
  // foot lies at t = 22000000 / 68000000 of it.
  const long double t = 22000000.0L / 68000000.0L;
  EXPECT_NEAR(foot.x, p.x - 6000 + t * 16000, 1);
  EXPECT_NEAR(foot.y, y0 + 1000 + t * 2000, 1);
}

TEST(TiPointToPolylineTest, OnePointUsesTheDistanceOnTheSphere) {
  const TiPoint p{0, 0x2000000};
  const std::vector<TiPoint> single{{3000, 0x2000000 + 500}};
  const std::int32_t d = TiDistance(&p, &single[0]);
  TiPoint point{};
  std::int32_t dist = 0;
  // Neither the scale nor a heading that no segment could meet matters.
  EXPECT_EQ(Nearest(p, single, d + 1, false, Filter{0x4000000, 0, 1}, &point, &dist), 0);
  EXPECT_EQ(dist, d);
  EXPECT_EQ(point.x, 3000);
  EXPECT_EQ(Nearest(p, single, d, true, kNoFilter), -1);
  const TiPoint beyond{0, 0x4000001};
  EXPECT_EQ(Nearest(beyond, single, INT32_MAX, false, kNoFilter), -1);
}

TEST(TiPointToPolylineTest, BadArguments) {
  const TiPoint p{0, 0};
  const TiPoint two[2] = {{0, 10}, {10, 10}};
  EXPECT_EQ(TiPointToPolylineHeading(nullptr, two, 2, 100, 0, 0, -1, 0, nullptr, nullptr), -1);
  EXPECT_EQ(TiPointToPolylineHeading(&p, nullptr, 2, 100, 0, 0, -1, 0, nullptr, nullptr), -1);
  EXPECT_EQ(TiPointToPolylineHeading(&p, two, 0, 100, 0, 0, -1, 0, nullptr, nullptr), -1);
  EXPECT_EQ(TiPointToPolylineHeading(&p, two, -2, 100, 0, 0, -1, 0, nullptr, nullptr), -1);
  // So many points that 2i + 1 would not fit: refused before any is read.
  EXPECT_EQ(TiPointToPolylineHeading(&p, two, 0x40000001, 100, 0, 0, -1, 0, nullptr, nullptr), -1);
  EXPECT_EQ(TiPointToPolylineHeading(&p, two, 2, -5, 0, 0, -1, 0, nullptr, nullptr), -1);
  // Beyond a pole there is no plane to scale; unscaled the plane is plain.
  const TiPoint beyond{0, 0x4000010};
  const TiPoint high[2] = {{0, 0x4000020}, {10, 0x4000020}};
  EXPECT_EQ(TiPointToPolylineHeading(&beyond, high, 2, 100, 1, 0, -1, 0, nullptr, nullptr), -1);
  EXPECT_EQ(TiPointToPolylineHeading(&beyond, high, 2, 100, 0, 0, -1, 0, nullptr, nullptr), 0);
}

// Coordinates at the ends of the 32-bit range: vectors between them need 33
// bits. A segment across the whole range passing 5 units from the point is
// still found, to within the unit or two lost by halving it.
TEST(TiPointToPolylineTest, ExtremeCoordinates) {
  const std::vector<TiPoint> across{{INT32_MIN, 0}, {INT32_MAX, 0}};
  for (const bool scale : {false, true}) {
    TiPoint foot{};
    std::int32_t dist = 0;
    ASSERT_EQ(Nearest(TiPoint{0, 5}, across, 100, scale, kNoFilter, &foot, &dist), 1) << scale;
    EXPECT_NEAR(dist, 5, 2) << scale;
    EXPECT_NEAR(foot.x, 0, 2) << scale;
    EXPECT_EQ(foot.y, 0) << scale;
  }
  const std::vector<TiPoint> corners{{INT32_MIN, INT32_MIN},
                                     {INT32_MAX, INT32_MAX},
                                     {INT32_MIN, INT32_MAX},
                                     {INT32_MAX, INT32_MIN},
                                     {INT32_MIN, INT32_MIN}};
  for (const TiPoint& p : corners) {
    const std::int32_t r = Nearest(p, corners, INT32_MAX, false, Filter{0x1234567, 0x100000, 1});
    EXPECT_GE(r, -1);
    EXPECT_LE(r, 8);
  }
  const std::int32_t r = Nearest(TiPoint{0, 0}, corners, INT32_MAX, false, kNoFilter);
  EXPECT_GE(r, 0);
}

// Random polylines against brute force over every segment: the nearest
// location, its distance (rounded on both sides, so equal), its position code
// (ties to the first in polyline order), and the point in map units. Segment
// lengths from 16 units to 2^20, limits from a quarter of a step to no limit,
// with and without scaling and with every kind of heading filter.
TEST(TiPointToPolylineTest, MatchesBruteForce) {
  std::mt19937 gen(1371);
  const std::int32_t tolerances[] = {-1, 0, 0x80000, 0x1000000, 0x3FFFFFF, 0x4000000, 0x7FFFFFF, 0x8000000};
  int found = 0;
  int inside = 0;
  for (int trial = 0; trial < 20000; ++trial) {
    const TiPoint p{static_cast<std::int32_t>(gen() % (1u << 28)) - (1 << 27),
                    static_cast<std::int32_t>(gen() % (160u * 745654u)) - 80 * 745654};
    const bool scale = gen() % 2;
    const std::int32_t step = 1 << (4 + gen() % 17);
    const auto offset = [&](std::int32_t span) {
      return static_cast<std::int32_t>(gen() % (2u * static_cast<std::uint32_t>(span) + 1)) - span;
    };
    std::vector<TiPoint> points(2 + gen() % 30);
    points[0] = TiPoint{p.x + offset(4 * step), p.y + offset(4 * step)};
    for (std::size_t k = 1; k < points.size(); ++k) {
      switch (gen() % 8) {
        case 0:
          points[k] = points[k - 1];  // a segment of no length
          break;
        case 1:
          points[k] = TiPoint{points[k - 1].x + offset(step), points[k - 1].y};
          break;
        default:
          points[k] = TiPoint{points[k - 1].x + offset(step), points[k - 1].y + offset(step)};
          break;
      }
    }
    const std::int32_t limits[] = {step / 4, step, 4 * step, INT32_MAX};
    const std::int32_t maxDist = limits[gen() % 4];
    const Filter filter{static_cast<std::int32_t>(gen()), tolerances[gen() % std::size(tolerances)],
                        static_cast<std::int32_t>(gen() % 3) - 1};

    const Found want = BruteForceNearest(p, points, maxDist, scale, filter);
    TiPoint point{};
    std::int32_t dist = -1;
    const std::int32_t got = Nearest(p, points, maxDist, scale, filter, &point, &dist);
    ASSERT_EQ(got, want.code) << "trial " << trial;
    ASSERT_EQ(Nearest(p, points, maxDist, scale, filter), got) << "trial " << trial;
    if (got < 0) continue;
    ++found;
    ASSERT_EQ(dist, want.dist) << "trial " << trial;
    const TiPoint& a = points[got / 2];
    if (got % 2 == 0) {
      ASSERT_EQ(point.x, a.x) << "trial " << trial;
      ASSERT_EQ(point.y, a.y) << "trial " << trial;
      continue;
    }
    ++inside;
    const TiPoint& b = points[got / 2 + 1];
    ASSERT_NEAR(point.x, a.x + want.t * (static_cast<long double>(b.x) - a.x), 1) << "trial " << trial;
    ASSERT_NEAR(point.y, a.y + want.t * (static_cast<long double>(b.y) - a.y), 1) << "trial " << trial;
  }
  EXPECT_GT(found, 6000);
  EXPECT_GT(inside, 1200);
}

// ---- Polyline against a rectangle ---------------------------------------------------------------

std::int32_t Overlap(const std::vector<TiPoint>& points, std::int32_t dist, const TiRect& r,
                     const TiRect* box = nullptr, const TiRect* searchBox = nullptr) {
  return TiPolylineDistOverlapRect(points.data(), static_cast<std::int32_t>(points.size()), box, dist,
                                   searchBox, &r);
}

TEST(TiPolylineDistOverlapRectTest, BadArguments) {
  const std::vector<TiPoint> line{{0, 0}, {10, 10}};
  const TiRect r{0, 0, 5, 5};
  const TiRect inverted{5, 0, 0, 5};
  const TiRect flipped{0, 5, 5, 0};
  EXPECT_EQ(TiPolylineDistOverlapRect(nullptr, 2, nullptr, 1, nullptr, &r), kRmfBadArgument);
  EXPECT_EQ(TiPolylineDistOverlapRect(line.data(), 0, nullptr, 1, nullptr, &r), kRmfBadArgument);
  EXPECT_EQ(TiPolylineDistOverlapRect(line.data(), -1, nullptr, 1, nullptr, &r), kRmfBadArgument);
  EXPECT_EQ(TiPolylineDistOverlapRect(line.data(), 2, nullptr, -1, nullptr, &r), kRmfBadArgument);
  EXPECT_EQ(TiPolylineDistOverlapRect(line.data(), 2, nullptr, 1, nullptr, nullptr), kRmfBadArgument);
  EXPECT_EQ(Overlap(line, 1, inverted), kRmfBadArgument);
  EXPECT_EQ(Overlap(line, 1, r, &flipped), kRmfBadArgument);
  EXPECT_EQ(Overlap(line, 1, r, nullptr, &inverted), kRmfBadArgument);
}

TEST(TiPolylineDistOverlapRectTest, NamedCases) {
  const TiRect square{0, 0, 100, 100};
  struct Case {
    const char* name;
    std::vector<TiPoint> points;
    std::int32_t dist;
    std::int32_t want;
  };
  const Case cases[] = {
      {"straight across, dist 0", {{-50, 50}, {150, 50}}, 0, 1},
      {"across a corner, dist 0", {{-10, 50}, {50, 110}}, 0, 1},
      {"past a corner, dist 0", {{-10, 95}, {5, 110}}, 0, 0},
      {"past a corner, 3.5 away", {{-10, 95}, {5, 110}}, 5, 1},
      {"far away", {{500, 500}, {600, 500}}, 100, 0},
      {"a vertex 10 from a side", {{50, 110}, {50, 500}}, 10, 0},
      {"a vertex 10 from a side, dist 11", {{50, 110}, {50, 500}}, 11, 1},
      {"a vertex 10 from a side, dist 20", {{50, 110}, {50, 500}}, 20, 1},
      {"one point inside", {{50, 50}}, 0, 1},
      {"one point inside, far from the corners", {{50, 50}}, 60, 1},
      {"some corners near a line", {{-5, -10}, {-5, 110}}, 10, 1},
      {"every corner near a segment", {{50, -10}, {50, 110}}, 80, 2},
      {"every corner near a point", {{50, 50}}, 80, 2},
  };
  for (const Case& c : cases) EXPECT_EQ(Overlap(c.points, c.dist, square), c.want) << c.name;

  // The caller's search box is trusted: a rectangle outside it is not looked at.
  const std::vector<TiPoint> inside{{10, 10}, {90, 90}};
  const TiRect elsewhere{1000, 1000, 2000, 2000};
  EXPECT_EQ(Overlap(inside, 5, square), 1);
  EXPECT_EQ(Overlap(inside, 5, square, nullptr, &elsewhere), 0);
}

// Every corner lies a unit from the polyline, but the polyline keeps away
// from the middle of the square, 72 units from the centre. Half the larger
// side (50) added to the farthest corner would let a limit of 60 cover the
// whole square; half the diagonal (71) does not.
TEST(TiPolylineDistOverlapRectTest, WholeRectangleNeedsHalfTheDiagonal) {
  const std::vector<TiPoint> aroundCorners{{-1, -1},   {-200, 50}, {-1, 101}, {50, 300},
                                           {101, 101}, {300, 50},  {101, -1}};
  const TiRect square{0, 0, 100, 100};
  std::int32_t centre = 0;
  ASSERT_EQ(Nearest(TiPoint{50, 50}, aroundCorners, 1000, true, kNoFilter, nullptr, &centre) >= 0, true);
  EXPECT_EQ(centre, 72);
  EXPECT_EQ(Overlap(aroundCorners, 60, square), 1);
  EXPECT_EQ(Overlap(aroundCorners, 80, square), 2);
}

// At 60 degrees of latitude a distance reaches twice as far in longitude: the
// quick rejection must widen the polyline's box by that much, not by the
// distance itself. A box that reaches a pole reaches every longitude.
TEST(TiPolylineDistOverlapRectTest, QuickRejectionFollowsTheLatitude) {
  const std::int32_t y0 = 0x2AAAAAA;  // 60 degrees
  const std::vector<TiPoint> meridian{{0, y0}, {0, y0 + 10000}};
  const TiRect east{1500, y0 + 4000, 1600, y0 + 4100};  // 750 to 800 units away on the ground
  EXPECT_EQ(Overlap(meridian, 1000, east), 2);
  EXPECT_EQ(Overlap(meridian, 700, east), 0);
  const TiRect straddling{1500, y0 + 4000, 2500, y0 + 4100};
  EXPECT_EQ(Overlap(meridian, 1000, straddling), 1);

  // A quarter of the way round the pole, 150 to 200 units below it: on the
  // plane of those corners they lie about 240 units from the polyline.
  const std::vector<TiPoint> nearPole{{0, 0x4000000 - 100}, {10, 0x4000000 - 100}};
  const TiRect aside{1 << 26, 0x4000000 - 200, (1 << 26) + 10, 0x4000000 - 150};
  EXPECT_EQ(Overlap(nearPole, 500, aside), 2);
  const TiRect below{1 << 26, 0x4000000 - 2000, (1 << 26) + 10, 0x4000000 - 1000};
  EXPECT_EQ(Overlap(nearPole, 500, below), 0);
  // The same in the south.
  const std::vector<TiPoint> nearSouthPole{{0, -0x4000000 + 100}, {10, -0x4000000 + 100}};
  const TiRect asideSouth{1 << 26, -0x4000000 + 150, (1 << 26) + 10, -0x4000000 + 200};
  EXPECT_EQ(Overlap(nearSouthPole, 500, asideSouth), 2);
}

// Brute force within 3,000 units of the origin, where the search plane is
// plain Euclidean (the cosine there is 1 to within 2^-23): the answer is
// non-zero exactly when r meets the polyline or comes closer than dist
// (rounded, as every distance of the search); with some corners within and
// some not it is 1; with every corner within a one- or two-point polyline it
// is 2; and a 2 is only given when every sampled point of r is within dist
// (to the rounding). A caller's box and a search box that hold the polyline
// widened by dist change nothing. Half the trials use a 121-unit grid, where
// touching, collinear and degenerate cases are common.
TEST(TiPolylineDistOverlapRectTest, MatchesBruteForceNearTheEquator) {
  for (const std::int32_t y : {-3000, 0, 3000})
    for (const std::int32_t x : {-6000, -1, 1, 6000})
      ASSERT_EQ(SearchPlane(TiPoint{x, 0}, TiPoint{0, y}, true).x, x);

  std::mt19937 gen(1372);
  int seen[3] = {0, 0, 0};
  for (int trial = 0; trial < 20000; ++trial) {
    const std::int32_t span = trial % 2 ? 3000 : 60;
    const auto coord = [&] { return static_cast<std::int32_t>(gen() % (2u * span + 1)) - span; };
    std::vector<TiPoint> points(2 + gen() % 6);
    for (TiPoint& v : points) v = TiPoint{coord(), coord()};
    if (gen() % 8 == 0) points[1] = points[0];
    std::int32_t x1 = coord(), x2 = coord(), y1 = coord(), y2 = coord();
    if (gen() % 8 == 0) x2 = x1;
    const TiRect r{std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
    const auto dist = static_cast<std::int32_t>(gen() % static_cast<std::uint32_t>(span));
    const auto n = static_cast<std::int32_t>(points.size());

    // Distances, exact and rounded, from a point to the polyline and from a
    // vertex to r's outline.
    const auto toPolyline = [&](const TiPoint& q) {
      std::int64_t best = INT64_MAX;
      for (std::int32_t i = 0; i + 1 < n; ++i)
        best = std::min(
            best,
            NearestOnSegment(SearchPlane(points[i], q, false), SearchPlane(points[i + 1], q, false), i).dist);
      return best;
    };
    const TiPoint corners[5] = {{r.x1, r.y1}, {r.x2, r.y1}, {r.x2, r.y2}, {r.x1, r.y2}, {r.x1, r.y1}};
    int cornersWithin = 0;
    for (int k = 0; k < 4; ++k) cornersWithin += toPolyline(corners[k]) < dist;
    bool meets = false;
    for (const TiPoint& v : points)
      meets = meets || (r.x1 <= v.x && v.x <= r.x2 && r.y1 <= v.y && v.y <= r.y2);
    for (std::int32_t i = 0; i + 1 < n; ++i)
      for (int k = 0; k < 4; ++k)
        meets = meets || SegmentsMeet(P{points[i].x, points[i].y}, P{points[i + 1].x, points[i + 1].y},
                                      P{corners[k].x, corners[k].y}, P{corners[k + 1].x, corners[k + 1].y});
    bool vertexNearOutline = false;
    for (const TiPoint& v : points)
      for (int k = 0; k < 4; ++k)
        vertexNearOutline = vertexNearOutline || NearestOnSegment(SearchPlane(corners[k], v, false),
                                                                  SearchPlane(corners[k + 1], v, false), 0)
                                                         .dist < dist;

    const std::int32_t got = Overlap(points, dist, r);
    ASSERT_GE(got, 0) << "trial " << trial;
    ++seen[got];
    ASSERT_EQ(got != 0, meets || cornersWithin > 0 || vertexNearOutline) << "trial " << trial;
    if (cornersWithin > 0 && cornersWithin < 4) {
      ASSERT_EQ(got, 1) << "trial " << trial;
    }
    if (cornersWithin == 4 && n < 3) {
      ASSERT_EQ(got, 2) << "trial " << trial;
    }
    if (got == 2) {
      ASSERT_EQ(cornersWithin, 4) << "trial " << trial;
      for (int u = 0; u <= 8; ++u)
        for (int v = 0; v <= 8; ++v) {
          const TiPoint q{static_cast<std::int32_t>(r.x1 + (std::int64_t{r.x2} - r.x1) * u / 8),
                          static_cast<std::int32_t>(r.y1 + (std::int64_t{r.y2} - r.y1) * v / 8)};
          ASSERT_LE(toPolyline(q), dist) << "trial " << trial << " at " << q.x << ", " << q.y;
        }
    }

    TiRect box{points[0].x, points[0].y, points[0].x, points[0].y};
    for (const TiPoint& v : points) {
      box =
          TiRect{std::min(box.x1, v.x), std::min(box.y1, v.y), std::max(box.x2, v.x), std::max(box.y2, v.y)};
    }
    const TiRect search{box.x1 - dist, box.y1 - dist, box.x2 + dist, box.y2 + dist};
    ASSERT_EQ(Overlap(points, dist, r, &box), got) << "trial " << trial;
    ASSERT_EQ(Overlap(points, dist, r, &box, &search), got) << "trial " << trial;
  }
  EXPECT_GT(seen[0], 2000);
  EXPECT_GT(seen[1], 2000);
  EXPECT_GT(seen[2], 500);
}

}  // namespace
