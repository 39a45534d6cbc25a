// Distances, headings, exact products and the polygon and polyline tests of
// the map-format library.
//
// Products of two 32-bit components need 63 bits, more than a word of the
// phones the library was written for. The signs are therefore decided from
// the component signs where they settle the answer, and otherwise by
// comparing the magnitudes of the two 64-bit products; both ways are exact.
//
// Coordinates come from map files and callers, so nothing here trusts their
// range: differences of two 32-bit coordinates are formed in 64 bits, and a
// computation whose 32-bit form could overflow is done in 64 bits (or, for one
// rounding of the polyline search, 128) with the same result wherever the
// 32-bit form was exact.
#include "mapengine/format/base/TiGeometry.h"

#include <array>

#include "mapengine/format/base/TiMath.h"
#include "mapengine/format/base/TiUnits.h"

namespace {

// Entries of the sign-case tables: a fixed answer, or which product
// magnitude has to be compared against the other.
constexpr std::int8_t kFirstMinusSecond = 2;  // sign of |P| - |Q|
constexpr std::int8_t kSecondMinusFirst = 3;  // sign of |Q| - |P|

// Index of a component sign class: 0 negative, 1 zero, 2 positive.
int SignClass(std::int32_t v) { return v < 0 ? 0 : (v == 0 ? 1 : 2); }

// The answer for sign(sp x |P| + sq x |Q|) with sp and sq in -1..1.
constexpr std::int8_t SumCase(int sp, int sq) {
  if (sp == 0) return static_cast<std::int8_t>(sq);
  if (sq == 0 || sp == sq) return static_cast<std::int8_t>(sp);
  return sp > 0 ? kFirstMinusSecond : kSecondMinusFirst;
}

// Tables indexed by 27 class(ax) + 9 class(ay) + 3 class(bx) + class(by).
// Dot product: P = ax bx, Q = ay by, result sign(P + Q).
// Cross product: P = ax by, Q = ay bx, result sign(P - Q).
constexpr std::array<std::int8_t, 81> MakeSignCases(bool cross) {
  std::array<std::int8_t, 81> table{};
  for (int ax = 0; ax < 3; ++ax)
    for (int ay = 0; ay < 3; ++ay)
      for (int bx = 0; bx < 3; ++bx)
        for (int by = 0; by < 3; ++by) {
          const int sp = cross ? (ax - 1) * (by - 1) : (ax - 1) * (bx - 1);
          const int sq = cross ? -(ay - 1) * (bx - 1) : (ay - 1) * (by - 1);
          table[27 * ax + 9 * ay + 3 * bx + by] = SumCase(sp, sq);
        }
  return table;
}

constexpr std::array<std::int8_t, 81> kDotCases = MakeSignCases(false);
constexpr std::array<std::int8_t, 81> kCrossCases = MakeSignCases(true);

std::uint32_t Magnitude(std::int32_t v) {
  return v < 0 ? 0u - static_cast<std::uint32_t>(v) : static_cast<std::uint32_t>(v);
}

bool FitsSixteenBits(std::int32_t v, std::uint32_t bias) {
  return static_cast<std::uint32_t>(v) + bias < 0x10000u;
}

int Sign(std::int32_t v) { return (v > 0) - (v < 0); }

// The sign of p1 x p2 + q1 x q2 (dot) or p1 x p2 - q1 x q2 (cross) where the
// arguments are the components in the order the case tables name them.
std::int32_t ProductSign(const std::array<std::int8_t, 81>& cases, std::int32_t ax, std::int32_t ay,
                         std::int32_t bx, std::int32_t by, std::int32_t p1, std::int32_t p2, std::int32_t q1,
                         std::int32_t q2) {
  const std::int8_t answer =
      cases[27 * SignClass(ax) + 9 * SignClass(ay) + 3 * SignClass(bx) + SignClass(by)];
  if (answer != kFirstMinusSecond && answer != kSecondMinusFirst) return answer;
  TiUx p;
  TiUx q;
  TiUxMulUlUl(&p, Magnitude(p1), Magnitude(p2));
  TiUxMulUlUl(&q, Magnitude(q1), Magnitude(q2));
  int order = 0;  // sign of |P| - |Q|, high words first
  if (p.high != q.high)
    order = p.high > q.high ? 1 : -1;
  else if (p.low != q.low)
    order = p.low > q.low ? 1 : -1;
  return answer == kFirstMinusSecond ? order : -order;
}

// With a's components in -32768..32767 and b's in -32767..32768 each
// product lies in [-2^30, 2^30] and so does the other, and their sum or
// difference stays within 32 bits.
bool SmallVectors(const TiVector& a, const TiVector& b) {
  return FitsSixteenBits(a.dx, 0x8000) && FitsSixteenBits(a.dy, 0x8000) && FitsSixteenBits(b.dx, 0x7FFF) &&
         FitsSixteenBits(b.dy, 0x7FFF);
}

// b - a, exact whenever the difference fits 32 bits.
std::int32_t Difference(std::int32_t b, std::int32_t a) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(b) - static_cast<std::uint32_t>(a));
}

TiVector Between(const TiPoint& from, std::int32_t toX, std::int32_t toY) {
  return TiVector{Difference(toX, from.x), Difference(toY, from.y)};
}

// +1 when the polygon runs counter-clockwise, -1 clockwise, taken at its
// lowest (then leftmost) vertex, where a simple polygon always turns the way
// it runs. Degenerate shapes fall back to the first real turn, and a polygon
// without any turn (all points on one line) answers +1: its edges then run
// both ways along the line, so either side serves.
int Orientation(const TiPoint* points, std::int32_t count) {
  std::int32_t low = 0;
  for (std::int32_t i = 1; i < count; ++i) {
    if (points[i].y < points[low].y || (points[i].y == points[low].y && points[i].x < points[low].x)) low = i;
  }
  std::int32_t prev = low;
  std::int32_t next = low;
  for (std::int32_t step = 1; step < count; ++step) {
    prev = (low - step + count) % count;
    if (!TiSamePoint(points[prev], points[low])) break;
  }
  for (std::int32_t step = 1; step < count; ++step) {
    next = (low + step) % count;
    if (!TiSamePoint(points[next], points[low])) break;
  }
  const TiVector in = Between(points[prev], points[low].x, points[low].y);
  const TiVector out = Between(points[low], points[next].x, points[next].y);
  std::int32_t turn = TiCrossProductSign(&in, &out);
  for (std::int32_t i = 0; turn == 0 && i < count; ++i) {
    const TiPoint& a = points[i];
    const TiPoint& b = points[(i + 1) % count];
    const TiPoint& c = points[(i + 2) % count];
    const TiVector e1 = Between(a, b.x, b.y);
    const TiVector e2 = Between(b, c.x, c.y);
    turn = TiCrossProductSign(&e1, &e2);
  }
  return turn < 0 ? -1 : 1;
}

}  // namespace

std::int32_t TiDotProductSign(const TiVector* a, const TiVector* b) {
  if (!a || !b) return 0;
  if (SmallVectors(*a, *b)) return Sign(a->dx * b->dx + a->dy * b->dy);
  return ProductSign(kDotCases, a->dx, a->dy, b->dx, b->dy, a->dx, b->dx, a->dy, b->dy);
}

std::int32_t TiCrossProductSign(const TiVector* a, const TiVector* b) {
  if (!a || !b) return 0;
  if (SmallVectors(*a, *b)) return Sign(a->dx * b->dy - a->dy * b->dx);
  return ProductSign(kCrossCases, a->dx, a->dy, b->dx, b->dy, a->dx, b->dy, a->dy, b->dx);
}

std::int32_t TiPolygonIntersect(const TiPoint* points, std::int32_t count, const TiRect* r) {
  if (!points || count < 1 || !r) return -1;
  if (r->x1 > r->x2 || r->y1 > r->y2) return -1;

  // The polygon's box: the rectangle's own sides are two of the separating
  // directions to try.
  TiRect box{points[0].x, points[0].y, points[0].x, points[0].y};
  for (std::int32_t i = 1; i < count; ++i) {
    box.x1 = points[i].x < box.x1 ? points[i].x : box.x1;
    box.y1 = points[i].y < box.y1 ? points[i].y : box.y1;
    box.x2 = points[i].x > box.x2 ? points[i].x : box.x2;
    box.y2 = points[i].y > box.y2 ? points[i].y : box.y2;
  }
  if (box.x2 < r->x1 || box.x1 > r->x2 || box.y2 < r->y1 || box.y1 > r->y2) return 0;
  if (box.x1 == box.x2 && box.y1 == box.y2) {
    // All points coincide (and lie inside r, by the test above).
    return (r->x1 == r->x2 && r->y1 == r->y2) ? 2 : 1;
  }

  // Every edge is the other kind of separating line. For the edge a -> b the
  // corner of r farthest on the polygon's side is chosen by the signs of the
  // edge's direction; when even that corner lies outside, nothing of r is
  // inside. The corner nearest to the outside tells whether r sticks out.
  const int inward = Orientation(points, count);
  // A rectangle reaching past the polygon's box sticks out; for a polygon
  // flattened onto a line the edges alone would not show it.
  bool sticksOut = r->x1 < box.x1 || r->x2 > box.x2 || r->y1 < box.y1 || r->y2 > box.y2;
  for (std::int32_t i = 0; i < count; ++i) {
    const TiPoint& a = points[i];
    const TiPoint& b = points[i + 1 < count ? i + 1 : 0];
    const TiVector edge = Between(a, b.x, b.y);
    if (edge.dx == 0 && edge.dy == 0) continue;
    // The corner that maximises cross(edge, corner - a) and the one that
    // minimises it.
    const std::int32_t maxX = edge.dy > 0 ? r->x1 : r->x2;
    const std::int32_t maxY = edge.dx > 0 ? r->y2 : r->y1;
    const std::int32_t minX = edge.dy > 0 ? r->x2 : r->x1;
    const std::int32_t minY = edge.dx > 0 ? r->y1 : r->y2;
    const TiVector deepest = inward > 0 ? Between(a, maxX, maxY) : Between(a, minX, minY);
    if (inward * TiCrossProductSign(&edge, &deepest) < 0) return 0;
    if (!sticksOut) {
      const TiVector shallowest = inward > 0 ? Between(a, minX, minY) : Between(a, maxX, maxY);
      sticksOut = inward * TiCrossProductSign(&edge, &shallowest) < 0;
    }
  }
  return sticksOut ? 1 : 2;
}

// ---- Distance coefficients -----------------------------------------------------------------
//
// The router estimates flat distances without a square root: with raw
// map-unit differences dx, dy and the longitude scaled by c = cos(latitude),
// sqrt(c^2 dx^2 + dy^2) is replaced by c1 |dx| + c2 |dy| when |dx| >= |dy| and
// by c3 |dx| + c4 |dy| otherwise. Each pair is the one whose largest relative
// error over its half of the octant is smallest, which makes the error ripple
// evenly: with t = |dy| / |dx| in [0, 1] the estimate c1 + c2 t against
// sqrt(c^2 + t^2) is low by the same fraction d at t = 0 and t = 1 and high by
// d at its peak (t = c2 c^2 / c1), so
//   c1 = c (1 - d), c2 = (1 - d)(sqrt(1 + c^2) - c),
//   (1 + d) / (1 - d) = sqrt(1 + (sqrt(1 + c^2) - c)^2);
// with u = |dx| / |dy| the estimate c3 u + c4 against sqrt(1 + c^2 u^2) gives
//   c4 = 1 - d', c3 = (1 - d')(sqrt(1 + c^2) - 1),
//   (1 + d') / (1 - d') = sqrt((sqrt(1 + c^2) - 1)^2 + c^2) / c.
// At the equator both are the classic octagon (0.96043, 0.39782; d = 4%); at
// the pole the first pair tends to (0, 2 (sqrt 2 - 1)) with d = 17% and the
// second to (0, 1). Like the sine table the entries hold f - h^2/12 f''
// (second differences of the table step), so that linear interpolation errs
// evenly about the curve; the entry at 90 degrees is exact.
namespace {

constexpr double ConstSqrt(double v) {
  if (v <= 0) return 0;
  double r = v < 1 ? 1 : v;  // Newton's iteration falls towards the root from above
  for (int i = 0; i < 64; ++i) {
    const double next = 0.5 * (r + v / r);
    if (next >= r) break;
    r = next;
  }
  return r;
}

// cos x for 0 <= x <= pi/2 by its series, which has converged to the last
// bit after 14 terms there.
constexpr double ConstCos(double x) {
  double term = 1;
  double sum = 1;
  for (int k = 1; k <= 14; ++k) {
    term *= -x * x / ((2 * k - 1) * (2 * k));
    sum += term;
  }
  return sum;
}

constexpr std::array<double, 4> OctagonCoefficients(double c) {
  const double s = ConstSqrt(1 + c * c);
  const double k1 = ConstSqrt(1 + (s - c) * (s - c));
  const double d1 = (k1 - 1) / (k1 + 1);
  const double k2 = c > 0 ? ConstSqrt((s - 1) * (s - 1) + c * c) / c : 1.0;
  const double d2 = (k2 - 1) / (k2 + 1);
  return {c * (1 - d1), (1 - d1) * (s - c), (1 - d2) * (s - 1), 1 - d2};
}

constexpr std::uint32_t ToFraction32(double v) {
  const double scaled = v * 4294967296.0 + 0.5;
  return scaled >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(scaled);
}

constexpr std::array<std::array<std::uint32_t, 258>, 4> MakeDistCoeffTables() {
  std::array<std::array<double, 257>, 4> exact{};
  for (int i = 0; i <= 256; ++i) {
    const double c = i == 256 ? 0.0 : ConstCos(i * std::numbers::pi / 512);
    const std::array<double, 4> k = OctagonCoefficients(c);
    for (int t = 0; t < 4; ++t) exact[t][i] = k[t];
  }
  std::array<std::array<std::uint32_t, 258>, 4> tables{};
  for (int t = 0; t < 4; ++t) {
    for (int i = 0; i < 256; ++i) {
      // The coefficients are even in the latitude: the step before entry 0
      // mirrors the one after it.
      const double before = i == 0 ? exact[t][1] : exact[t][i - 1];
      const double curvature = exact[t][i + 1] - 2 * exact[t][i] + before;
      tables[t][i] = ToFraction32(exact[t][i] - curvature / 12);
    }
    tables[t][256] = ToFraction32(exact[t][256]);
    tables[t][257] = tables[t][256];
  }
  return tables;
}

constexpr std::array<std::array<std::uint32_t, 258>, 4> kDistCoeff = MakeDistCoeffTables();

// c1 and c3 fall with the latitude, c2 and c4 rise; the interpolation below
// relies on it.
constexpr bool Monotonic(const std::array<std::uint32_t, 258>& t, bool rising) {
  for (int i = 0; i < 257; ++i)
    if (rising ? t[i + 1] < t[i] : t[i + 1] > t[i]) return false;
  return true;
}
static_assert(Monotonic(kDistCoeff[0], false) && Monotonic(kDistCoeff[1], true) &&
                  Monotonic(kDistCoeff[2], false) && Monotonic(kDistCoeff[3], true),
              "distance coefficient tables must be monotonic");

std::uint32_t MulHigh(std::uint32_t a, std::uint32_t b) {
  return static_cast<std::uint32_t>((std::uint64_t{a} * b) >> 32);
}

std::uint32_t InterpolateCoefficient(const std::array<std::uint32_t, 258>& t, std::uint32_t i,
                                     std::uint32_t f, bool rising) {
  return rising ? t[i] + MulHigh(t[i + 1] - t[i], f) : t[i] - MulHigh(t[i] - t[i + 1], f);
}

// Whether the two absolute products of a dot or cross product add up, by the
// four sign bits. Cross: a.dx b.dy and a.dy b.dx pull the same way when their
// signs differ, i.e. when an odd number of components is negative; dot: when
// the count is even.
constexpr std::array<std::uint8_t, 16> MakeAddsUp(bool cross) {
  std::array<std::uint8_t, 16> table{};
  for (unsigned bits = 0; bits < 16; ++bits) {
    const unsigned parity = (bits ^ (bits >> 1) ^ (bits >> 2) ^ (bits >> 3)) & 1u;
    table[bits] = static_cast<std::uint8_t>(cross ? parity : parity ^ 1u);
  }
  return table;
}

}  // namespace

namespace ti::detail {
const std::array<std::array<std::uint32_t, 258>, 4> kDistCoeffTables = kDistCoeff;
const std::array<std::uint8_t, 16> kCrossAddsUp = MakeAddsUp(true);
const std::array<std::uint8_t, 16> kDotAddsUp = MakeAddsUp(false);
}  // namespace ti::detail

// ---- Shared helpers of the distance and polyline code -------------------------------------------
namespace {

bool ValidLatitude(std::int32_t y) { return y >= -kTiQuarterTurn && y <= kTiQuarterTurn; }

std::uint64_t Magnitude64(std::int64_t v) {
  return v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
}

bool Fits32(std::int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

std::int64_t Cosine(std::int32_t angle) {
  return TiSin(static_cast<std::uint32_t>(angle) + static_cast<std::uint32_t>(kTiQuarterTurn));
}

std::int64_t Sine(std::int32_t angle) { return TiSin(static_cast<std::uint32_t>(angle)); }

// round(v / 2^28) with the sign carried separately.
std::int64_t RoundUnit(std::int64_t v) {
  const auto m = static_cast<std::int64_t>((Magnitude64(v) + (std::uint64_t{1} << 27)) >> 28);
  return v < 0 ? -m : m;
}

// A cosine (unit fraction, 0..2^28) as a 32-bit fraction, 0xFFFFFFFF for 1.
std::uint32_t CosineFraction32(std::int64_t c) {
  const auto u = static_cast<std::uint32_t>(c);
  return u * 16u - (u >> 28);
}

std::uint32_t Sqrt64(std::uint64_t v) {
  return TiSqrt64(static_cast<std::uint32_t>(v), static_cast<std::uint32_t>(v >> 32));
}

// floor(sqrt(v)): a first guess from the table root (relative error below
// 1e-5), one Newton step, which lands within a unit, and a final correction.
std::uint64_t FloorSqrt(std::uint64_t v) {
  if (v == 0) return 0;
  std::uint64_t r = v >> 62 ? std::uint64_t{Sqrt64(v >> 2)} << 1 : Sqrt64(v);
  if (r == 0) r = 1;
  r = (r + v / r) >> 1;
  if (r > 0xFFFFFFFFu) r = 0xFFFFFFFFu;
  while (r > v / r) --r;             // r^2 > v
  while (r + 1 <= v / (r + 1)) ++r;  // (r + 1)^2 <= v
  return r;
}

// round(sqrt(v)); sqrt(v) never ends in exactly one half.
std::uint64_t RoundedSqrt(std::uint64_t v) {
  const std::uint64_t r = FloorSqrt(v);
  return v - r * r > r ? r + 1 : r;
}

__extension__ typedef unsigned __int128 Wide;

// round(n / sqrt(d)) for d > 0 and n^2 / d < 2^64: the perpendicular distance
// |cross| / |segment| without rounding the segment's length first (which
// would make the distance to a short segment far off).
std::uint64_t RoundedQuotientOfSqrt(std::uint64_t n, std::uint64_t d) {
  const Wide square = static_cast<Wide>(n) * n;
  const auto q = static_cast<std::uint64_t>(square / d);
  const auto rest = static_cast<std::uint64_t>(square % d);
  const std::uint64_t r = FloorSqrt(q);
  // n^2/d >= (r + 1/2)^2 = r^2 + r + 1/4, with n^2/d = q + rest/d.
  const std::uint64_t above = q - r * r;
  if (above > r) return r + 1;
  if (above == r && static_cast<Wide>(rest) * 4 >= d) return r + 1;
  return r;
}

std::uint64_t ToU64(const TiUx& v) { return (std::uint64_t{v.high} << 32) | v.low; }

TiUx FromU64(std::uint64_t v) {
  return TiUx{static_cast<std::uint32_t>(v), static_cast<std::uint32_t>(v >> 32)};
}

// round(t x delta / 2^32) for a 32-bit fraction t, the sign of delta kept.
std::int64_t ScaleByFraction(std::uint32_t t, std::int64_t delta) {
  const auto m = static_cast<std::int64_t>((Magnitude64(delta) * t + 0x80000000u) >> 32);
  return delta < 0 ? -m : m;
}

}  // namespace

// ---- Absolute products and length ----------------------------------------------------------

namespace {

unsigned SignBits(const TiVector& a, const TiVector& b) {
  return (a.dx < 0 ? 8u : 0u) | (a.dy < 0 ? 4u : 0u) | (b.dx < 0 ? 2u : 0u) | (b.dy < 0 ? 1u : 0u);
}

// |p1 p2 + q1 q2| or |p1 p2 - q1 q2| from the magnitudes: both products are
// at most 2^62, so their sum fits 64 bits.
TiUx* CombineProducts(TiUx* out, bool addUp, std::int32_t p1, std::int32_t p2, std::int32_t q1,
                      std::int32_t q2) {
  const std::uint64_t p = std::uint64_t{Magnitude(p1)} * Magnitude(p2);
  const std::uint64_t q = std::uint64_t{Magnitude(q1)} * Magnitude(q2);
  *out = FromU64(addUp ? p + q : (p > q ? p - q : q - p));
  return out;
}

}  // namespace

TiUx* TiAbsDotProduct(TiUx* out, const TiVector* a, const TiVector* b) {
  if (!out) return nullptr;
  if (!a || !b) {
    *out = TiUx{0, 0};
    return out;
  }
  return CombineProducts(out, ti::detail::kDotAddsUp[SignBits(*a, *b)] != 0, a->dx, b->dx, a->dy, b->dy);
}

TiUx* TiAbsCrossProduct(TiUx* out, const TiVector* a, const TiVector* b) {
  if (!out) return nullptr;
  if (!a || !b) {
    *out = TiUx{0, 0};
    return out;
  }
  return CombineProducts(out, ti::detail::kCrossAddsUp[SignBits(*a, *b)] != 0, a->dx, b->dy, a->dy, b->dx);
}

std::uint32_t TiLength(const TiVector* a) {
  if (!a) return 0;
  const std::uint64_t x = Magnitude(a->dx);
  const std::uint64_t y = Magnitude(a->dy);
  return static_cast<std::uint32_t>(RoundedSqrt(x * x + y * y));
}

// ---- Distance, heading and distance coefficients -------------------------------------------

std::int32_t TiDistance(const TiPoint* p, const TiPoint* q) {
  if (!p || !q || !ValidLatitude(p->y) || !ValidLatitude(q->y)) return -1;
  // The longitude difference the short way round (taken modulo a turn, so
  // any two 32-bit longitudes do). Points close together across the date
  // line then get the near formula too: the great circle below would find
  // them as well, but its sines and cosines of 2^-28 resolution leave an
  // error of up to about 50 units (7 m), far too much for a few hundred
  // metres. For points within half a turn of each other this is the plain
  // difference, and the great circle's terms are the same either way.
  std::uint32_t dx = (static_cast<std::uint32_t>(q->x) - static_cast<std::uint32_t>(p->x)) & 0xFFFFFFFu;
  if (dx > static_cast<std::uint32_t>(kTiHalfTurn)) dx = 0x10000000u - dx;
  const auto dy = static_cast<std::uint32_t>(Magnitude64(std::int64_t{q->y} - p->y));

  if (dx <= 0x100000 && dy <= 0x100000) {
    // Up to 1.4 degrees either way the plane with the longitude scaled by the
    // cosine of the mean latitude is close enough and much cheaper.
    const auto c = static_cast<std::uint64_t>(Cosine((p->y + q->y) >> 1));
    const std::uint64_t ex = (c * dx) >> 28;
    return static_cast<std::int32_t>(Sqrt64(ex * ex + std::uint64_t{dy} * dy));
  }

  // The chord between the two points on the unit sphere (unit fractions);
  // its half is the sine of half the central angle. Each squared term is
  // below 2^58, so the sum stays in TiSqrt64's range.
  const std::int64_t c1 = Cosine(p->y);
  const std::int64_t c2 = Cosine(q->y);
  const std::int64_t s1 = Sine(p->y);
  const std::int64_t s2 = Sine(q->y);
  const std::int64_t cd = TiSin(dx + static_cast<std::uint32_t>(kTiQuarterTurn));
  const std::int64_t sd = TiSin(dx);
  const auto along = static_cast<std::int64_t>((Magnitude64(cd) * static_cast<std::uint64_t>(c2)) >> 28);
  const std::int64_t t1 = (cd < 0 ? -along : along) - c1;
  const auto t2 = static_cast<std::int64_t>((Magnitude64(sd) * static_cast<std::uint64_t>(c2)) >> 28);
  const std::int64_t t3 = s2 - s1;
  const auto chord2 = static_cast<std::uint64_t>(t1 * t1 + t2 * t2 + t3 * t3);
  return 2 * TiAsin(static_cast<std::int32_t>(Sqrt64(chord2) >> 1));
}

namespace {

// Bearing (clockwise from north, east positive) on the plane around the
// points, for differences below 2^16 units: both are shifted until the larger
// fills 31 bits, so that the arc tangent sees their ratio in full.
std::int32_t FlatBearing(std::int32_t py, std::int32_t qy, std::int32_t dlon, std::int32_t dlat,
                         std::uint32_t largest) {
  const int shift = 30 - TiLog2Ul(largest);
  const std::uint32_t c = CosineFraction32(Cosine((py + qy) >> 1));
  const std::uint64_t scaled = std::uint64_t{Magnitude(dlon) << shift} * c;
  const auto east = static_cast<std::int32_t>((scaled + 0x80000000u) >> 32);
  const auto north = static_cast<std::int32_t>(static_cast<std::uint32_t>(dlat) << shift);
  return TiAtan2(dlon < 0 ? -east : east, north);
}

// Initial bearing of the great circle from p: east and north components of
// the direction to q in p's tangent plane, E = sin(dlon) cos(qy) and
// N = cos(py) sin(qy) - sin(py) cos(dlon) cos(qy). The angle from north or
// south comes from its cosine r = |N| / sqrt(E^2 + N^2): as 90 degrees less
// asin(r) while r is small, and as asin(sqrt(1 - r^2)) once the direction is
// within 80 degrees of north or south, where asin(r) would fall into the
// coarse end of the arc sine table. The table square root of E^2 + N^2 (good
// to 8 parts per million) limits the result right next to north or south to
// about 0.2 degrees.
std::int32_t SphericalBearing(std::int32_t py, std::int32_t qy, std::int32_t dlon) {
  const std::int64_t c1 = Cosine(py);
  const std::int64_t s1 = Sine(py);
  const std::int64_t c2 = Cosine(qy);
  const std::int64_t s2 = Sine(qy);
  const std::uint32_t adlon = Magnitude(dlon);
  const std::int64_t cc = RoundUnit(TiSin(adlon + static_cast<std::uint32_t>(kTiQuarterTurn)) * c2);
  const std::int64_t e = RoundUnit(TiSin(adlon) * c2);
  const std::int64_t n = RoundUnit(c1 * s2 - s1 * cc);
  const std::uint64_t an = Magnitude64(n);
  const std::uint64_t h = Sqrt64(static_cast<std::uint64_t>(e * e) + an * an);
  // r = |N| / h as a unit fraction. The table root of N^2 alone may come out
  // a little below |N|: the cosine is then 1, not a quotient that overflows.
  std::uint64_t r = 0;
  if (h != 0) r = an >= h ? (std::uint64_t{1} << 28) : (((an << 32) / h + 8) >> 4);
  std::int32_t b = r > 47316992 ? TiAsin(static_cast<std::int32_t>(Sqrt64((std::uint64_t{1} << 56) - r * r)))
                                : kTiQuarterTurn - TiAsin(static_cast<std::int32_t>(r));
  if (n < 0) b = kTiHalfTurn - b;
  return dlon < 0 ? -b : b;
}

}  // namespace

std::int32_t TiHeading(const TiPoint* p, const TiPoint* q) {
  if (!p || !q || !ValidLatitude(p->y) || !ValidLatitude(q->y)) return 0;
  // At a pole longitude says nothing: every other point lies south of the
  // north pole and north of the south pole; the pole itself is "the same
  // point", north as for any two identical points.
  if (p->y == kTiQuarterTurn) return q->y == kTiQuarterTurn ? kTiQuarterTurn : -kTiQuarterTurn;
  if (p->y == -kTiQuarterTurn) return kTiQuarterTurn;

  const std::uint32_t wrapped =
      (static_cast<std::uint32_t>(q->x) - static_cast<std::uint32_t>(p->x)) & 0xFFFFFFFu;
  const std::int32_t dlon = wrapped > static_cast<std::uint32_t>(kTiHalfTurn)
                                ? static_cast<std::int32_t>(wrapped) - 0x10000000
                                : static_cast<std::int32_t>(wrapped);
  const std::int32_t dlat = q->y - p->y;
  if (dlon == 0) return dlat >= 0 ? kTiQuarterTurn : -kTiQuarterTurn;
  // Half a turn of longitude away the shortest way leads over the nearer pole.
  if (dlon == kTiHalfTurn) return p->y + q->y >= 0 ? kTiQuarterTurn : -kTiQuarterTurn;

  const std::uint32_t largest = Magnitude(dlon) > Magnitude(dlat) ? Magnitude(dlon) : Magnitude(dlat);
  const std::int32_t bearing = TiLog2Ul(largest) < 16 ? FlatBearing(p->y, q->y, dlon, dlat, largest)
                                                      : SphericalBearing(p->y, q->y, dlon);
  const std::int32_t heading = kTiQuarterTurn - bearing;
  return heading > kTiHalfTurn ? heading - static_cast<std::int32_t>(kTiFullTurn) : heading;
}

std::int32_t TiDistCoeff(std::int32_t latitude, std::uint32_t* c1, std::uint32_t* c2, std::uint32_t* c3,
                         std::uint32_t* c4) {
  const std::uint32_t a = Magnitude(latitude);
  if (a > static_cast<std::uint32_t>(kTiQuarterTurn)) return 0;
  const std::uint32_t i = a >> 18;
  const std::uint32_t f = a << 14;
  if (c1) *c1 = InterpolateCoefficient(kDistCoeff[0], i, f, false);
  if (c2) *c2 = InterpolateCoefficient(kDistCoeff[1], i, f, true);
  if (c3) *c3 = InterpolateCoefficient(kDistCoeff[2], i, f, false);
  if (c4) *c4 = InterpolateCoefficient(kDistCoeff[3], i, f, true);
  return 1;
}

// ---- Nearest point of a polyline -----------------------------------------------------------

namespace {

// A vertex on the plane around the search point: x scaled, both relative to
// the point. Map coordinates keep these within 2^28 (x) and 2^27 (y); any 32-bit
// input keeps them within 2^32.
struct PlanePoint {
  std::int64_t x;
  std::int64_t y;
};

PlanePoint ToPlane(const TiPoint& v, const TiPoint& p, std::uint32_t xFactor) {
  const std::int64_t dx = std::int64_t{v.x} - p.x;
  const auto sx = static_cast<std::int64_t>((Magnitude64(dx) * xFactor + 0x80000000u) >> 32);
  return PlanePoint{dx < 0 ? -sx : sx, std::int64_t{v.y} - p.y};
}

// Where a vertex lies against the square of half-side b around the point:
// segments whose ends share a bit cannot come closer than b.
unsigned RegionCode(const PlanePoint& v, std::int64_t b) {
  return (v.x < -b ? 1u : 0u) | (v.x > b ? 2u : 0u) | (v.y <= -b ? 4u : 0u) | (v.y >= b ? 8u : 0u);
}

// The direction of a plane vector; components beyond 32 bits are halved
// together first, which leaves the direction as good as unchanged.
std::int32_t PlaneAngle(std::int64_t dx, std::int64_t dy) {
  while (!Fits32(dx) || !Fits32(dy)) {
    dx >>= 1;
    dy >>= 1;
  }
  return TiAtan2(static_cast<std::int32_t>(dy), static_cast<std::int32_t>(dx));
}

class HeadingFilter {
 public:
  HeadingFilter(std::int32_t heading, std::int32_t tolerance, std::int32_t mode)
      : active_(tolerance >= 0 && tolerance < kTiHalfTurn && (tolerance < kTiQuarterTurn || mode != 0)) {
    if (!active_) return;
    const auto tol = static_cast<std::uint32_t>(tolerance);
    reference_ =
        static_cast<std::uint32_t>(heading) - (mode < 0 ? static_cast<std::uint32_t>(kTiHalfTurn) : 0u);
    // Mode 0 compares modulo half a turn, so either way along a segment agrees.
    mask_ = mode == 0 ? 0x7FFFFFFu : 0xFFFFFFFu;
    tolerance_ = tol;
    upper_ = (mode == 0 ? static_cast<std::uint32_t>(kTiHalfTurn) : 0x10000000u) - tol;
  }

  bool active() const { return active_; }

  bool Accepts(std::int32_t angle) const {
    const std::uint32_t diff = (static_cast<std::uint32_t>(angle) - reference_) & mask_;
    return diff <= tolerance_ || diff >= upper_;
  }

 private:
  bool active_;
  std::uint32_t reference_ = 0;
  std::uint32_t mask_ = 0;
  std::uint32_t tolerance_ = 0;
  std::uint32_t upper_ = 0;
};

// The search state: the polyline on the plane around p, the shrinking limit
// and the best location so far.
class PolylineSearch {
 public:
  PolylineSearch(const TiPoint& p, const TiPoint* points, std::int32_t count, std::int64_t limit,
                 std::uint32_t xFactor, const HeadingFilter& filter)
      : p_(p), points_(points), count_(count), xFactor_(xFactor), filter_(filter), best_(limit) {}

  void Run() {
    PlanePoint a = Plane(0);
    for (std::int32_t i = 0; i + 1 < count_; ++i) {
      const PlanePoint b = Plane(i + 1);
      if ((RegionCode(a, best_) & RegionCode(b, best_)) == 0) Segment(i, a, b);
      a = b;
    }
  }

  std::int32_t result() const { return result_; }
  std::int64_t distance() const { return best_; }

  TiPoint Location() const {
    const TiPoint& a = points_[result_ / 2];
    if (result_ % 2 == 0) return a;
    const TiPoint& b = points_[result_ / 2 + 1];
    // The fraction was taken on the plane; it is applied to the map
    // coordinates, and the foot lies between a and b, so it fits 32 bits.
    return TiPoint{static_cast<std::int32_t>(a.x + ScaleByFraction(fraction_, std::int64_t{b.x} - a.x)),
                   static_cast<std::int32_t>(a.y + ScaleByFraction(fraction_, std::int64_t{b.y} - a.y))};
  }

 private:
  PlanePoint Plane(std::int32_t i) const { return ToPlane(points_[i], p_, xFactor_); }

  // Whether segment j (from vertex j to j + 1) agrees with the heading. Each
  // segment is tested at most once: the verdicts of the segments around the
  // current one are kept.
  bool Passes(std::int32_t j) {
    if (!filter_.active()) return true;
    if (j < 0 || j + 1 >= count_) return false;
    Verdict& slot = verdicts_[j & 3];
    if (slot.segment != j) {
      const PlanePoint u = Plane(j);
      const PlanePoint w = Plane(j + 1);
      slot.segment = j;
      slot.passes = filter_.Accepts(PlaneAngle(w.x - u.x, w.y - u.y));
    }
    return slot.passes;
  }

  void Vertex(std::int32_t i, const PlanePoint& v) {
    // A vertex at least the limit away along either axis cannot be closer;
    // every other one has 32-bit coordinates.
    if (Magnitude64(v.x) >= static_cast<std::uint64_t>(best_) ||
        Magnitude64(v.y) >= static_cast<std::uint64_t>(best_))
      return;
    const TiVector w{static_cast<std::int32_t>(v.x), static_cast<std::int32_t>(v.y)};
    const std::int64_t d = TiLength(&w);
    if (d >= best_) return;
    best_ = d;
    result_ = 2 * i;
  }

  void Segment(std::int32_t i, const PlanePoint& a, const PlanePoint& b) {
    // Map coordinates always give 32-bit vectors here. Wilder ones are
    // halved until they do; the distance is then good to a few units.
    int shift = 0;
    while (!Fits32(a.x >> shift) || !Fits32(a.y >> shift) || !Fits32(b.x >> shift) || !Fits32(b.y >> shift) ||
           !Fits32((b.x >> shift) - (a.x >> shift)) || !Fits32((b.y >> shift) - (a.y >> shift)))
      ++shift;
    const TiVector va{static_cast<std::int32_t>(a.x >> shift), static_cast<std::int32_t>(a.y >> shift)};
    const TiVector vb{static_cast<std::int32_t>(b.x >> shift), static_cast<std::int32_t>(b.y >> shift)};
    const TiVector d{vb.dx - va.dx, vb.dy - va.dy};

    // The point is the origin, so dot(d, p - a) = -dot(d, a): its foot lies
    // at or before a when dot(d, a) >= 0 and at or beyond b when
    // dot(d, b) <= 0. A point segment counts as its first vertex.
    if (TiDotProductSign(&d, &va) >= 0) {
      if (Passes(i - 1) || Passes(i)) Vertex(i, a);
      return;
    }
    if (TiDotProductSign(&d, &vb) <= 0) {
      if (Passes(i) || Passes(i + 1)) Vertex(i + 1, b);
      return;
    }
    if (!Passes(i)) return;
    TiUx cross;
    TiUx squared;
    TiAbsCrossProduct(&cross, &d, &va);
    TiAbsDotProduct(&squared, &d, &d);
    const std::uint64_t dist = RoundedQuotientOfSqrt(ToU64(cross), ToU64(squared)) << shift;
    if (dist >= static_cast<std::uint64_t>(best_)) return;
    best_ = static_cast<std::int64_t>(dist);
    result_ = 2 * i + 1;
    TiUx along;
    TiAbsDotProduct(&along, &va, &d);
    fraction_ = TiUlRatioUxUx(along.low, along.high, squared.low, squared.high);
  }

  struct Verdict {
    std::int32_t segment = -1;
    bool passes = false;
  };

  const TiPoint p_;
  const TiPoint* const points_;
  const std::int32_t count_;
  const std::uint32_t xFactor_;
  const HeadingFilter filter_;
  std::int64_t best_;
  std::int32_t result_ = -1;
  std::uint32_t fraction_ = 0;  // along the best segment, as a 32-bit fraction
  Verdict verdicts_[4];
};

}  // namespace

std::int32_t TiPointToPolylineHeading(const TiPoint* p, const TiPoint* points, std::int32_t count,
                                      std::int32_t maxDist, std::int32_t scale, std::int32_t heading,
                                      std::int32_t tolerance, std::int32_t mode, TiPoint* outPoint,
                                      std::int32_t* outDist) {
  // Results 2i + 1 must fit 31 bits.
  if (!p || !points || count < 1 || count > 0x40000000) return -1;
  if (maxDist <= 0) return -1;  // nothing is closer than that
  if (count == 1) {
    const std::int32_t d = TiDistance(p, &points[0]);
    if (d < 0 || d >= maxDist) return -1;
    if (outPoint) *outPoint = points[0];
    if (outDist) *outDist = d;
    return 0;
  }
  // Beyond a pole the cosine turns negative and the plane means nothing.
  if (scale && !ValidLatitude(p->y)) return -1;

  const std::int64_t c = scale ? Cosine(p->y) : std::int64_t{1} << 28;
  const std::uint32_t xFactor = CosineFraction32(c);
  PolylineSearch search(*p, points, count, maxDist, xFactor, HeadingFilter(heading, tolerance, mode));
  search.Run();
  if (search.result() < 0) return -1;
  if (outPoint) *outPoint = search.Location();
  if (outDist) *outDist = static_cast<std::int32_t>(search.distance());
  return search.result();
}

// ---- Polyline against a rectangle ----------------------------------------------------------

namespace {

bool Inverted(const TiRect& r) { return r.x1 > r.x2 || r.y1 > r.y2; }

bool Overlap(const TiRect& a, const TiRect& b) {
  return a.x1 <= b.x2 && b.x1 <= a.x2 && a.y1 <= b.y2 && b.y1 <= a.y2;
}

// Whether the polyline's box, widened by dist, can reach r. Widened in x by
// dist / cos of the highest latitude the widened box reaches: a point that
// close in scaled x is at most that far in raw longitude. A box that reaches
// a pole gets there from every longitude, so then only y can rule r out.
bool WidenedBoxReaches(const TiRect& box, std::int64_t dist, const TiRect& r) {
  const std::int64_t y1 = box.y1 - dist;
  const std::int64_t y2 = box.y2 + dist;
  if (y2 < r.y1 || y1 > r.y2) return false;
  if (y2 >= kTiQuarterTurn || y1 <= -kTiQuarterTurn) return true;
  const std::int64_t highest = Magnitude64(y1) > Magnitude64(y2) ? Magnitude64(y1) : Magnitude64(y2);
  const std::uint32_t cosine = CosineFraction32(Cosine(static_cast<std::int32_t>(highest)));
  std::int64_t widen = kTiFullTurn;
  if (cosine != 0) {
    TiUx quotient;
    TiQRDivUxUl(&quotient, nullptr, 0, static_cast<std::uint32_t>(dist), cosine);
    if (quotient.high == 0) widen = quotient.low;
  }
  return box.x2 + widen >= r.x1 && box.x1 - widen <= r.x2;
}

// Outcode of a point against r: 1 left, 2 right, 4 below, 8 above.
unsigned OutCode(const TiPoint& v, const TiRect& r) {
  return (v.x < r.x1 ? 1u : 0u) | (v.x > r.x2 ? 2u : 0u) | (v.y < r.y1 ? 4u : 0u) | (v.y > r.y2 ? 8u : 0u);
}

bool Inside(const TiPoint& v, const TiRect& r) { return OutCode(v, r) == 0; }

// The nearest distance from p to the polyline when it is below dist, else -1.
std::int32_t DistanceWithin(const TiPoint& p, const TiPoint* points, std::int32_t count, std::int32_t dist) {
  std::int32_t d = -1;
  return TiPointToPolylineHeading(&p, points, count, dist, 1, 0, -1, 0, nullptr, &d) >= 0 ? d : -1;
}

// Whether the polyline touches r (a vertex inside, or a segment through it).
bool Touches(const TiPoint* points, std::int32_t count, const TiRect& r) {
  for (std::int32_t i = 0; i < count; ++i)
    if (Inside(points[i], r)) return true;
  for (std::int32_t i = 0; i + 1 < count; ++i) {
    const unsigned a = OutCode(points[i], r);
    const unsigned b = OutCode(points[i + 1], r);
    if (a & b) continue;
    // Straight across, from one side to the opposite one within the other
    // pair of sides: through r for certain.
    if ((a | b) == 3u || (a | b) == 12u) return true;
    if (TiPolygonIntersect(&points[i], 2, &r) > 0) return true;
  }
  return false;
}

// Whether every point of r lies within dist when all four corners do, the
// farthest being `largest` away. For one or two points the distance is a
// convex function, so the corners tell. Otherwise every point of r is within
// half the diagonal of a corner: then largest + half the diagonal must stay
// within dist, i.e. w^2 + h^2 <= 4 (dist - largest)^2 (the raw widths bound
// the scaled ones from above).
bool WhollyWithin(std::int32_t count, const TiRect& r, std::int32_t dist, std::int32_t largest) {
  if (count < 3) return true;
  const std::uint64_t slack = static_cast<std::uint64_t>(dist - largest);
  const std::uint64_t w = static_cast<std::uint64_t>(std::int64_t{r.x2} - r.x1);
  const std::uint64_t h = static_cast<std::uint64_t>(std::int64_t{r.y2} - r.y1);
  if (w > 2 * slack || h > 2 * slack) return false;  // and now every square below fits 64 bits
  const std::uint64_t limit = 4 * slack * slack;
  return w * w <= limit && h * h <= limit - w * w;
}

}  // namespace

std::int32_t TiPolylineDistOverlapRect(const TiPoint* points, std::int32_t count, const TiRect* box,
                                       std::int32_t dist, const TiRect* searchBox, const TiRect* r) {
  if (!points || count < 1 || dist < 0 || !r) return kRmfBadArgument;
  if (Inverted(*r) || (box && Inverted(*box)) || (searchBox && Inverted(*searchBox))) return kRmfBadArgument;

  TiRect bounds{points[0].x, points[0].y, points[0].x, points[0].y};
  if (box) {
    bounds = *box;
  } else {
    for (std::int32_t i = 1; i < count; ++i) {
      bounds.x1 = points[i].x < bounds.x1 ? points[i].x : bounds.x1;
      bounds.y1 = points[i].y < bounds.y1 ? points[i].y : bounds.y1;
      bounds.x2 = points[i].x > bounds.x2 ? points[i].x : bounds.x2;
      bounds.y2 = points[i].y > bounds.y2 ? points[i].y : bounds.y2;
    }
  }
  if (searchBox ? !Overlap(*searchBox, *r) : !WidenedBoxReaches(bounds, dist, *r)) return 0;

  const TiPoint corners[5] = {{r->x1, r->y1}, {r->x2, r->y1}, {r->x2, r->y2}, {r->x1, r->y2}, {r->x1, r->y1}};
  int within = 0;
  std::int32_t largest = 0;
  for (int k = 0; k < 4; ++k) {
    const std::int32_t d = DistanceWithin(corners[k], points, count, dist);
    if (d >= 0) {
      ++within;
      largest = d > largest ? d : largest;
    }
    if (within > 0 && within <= k) return 1;  // some corners within, some not
  }
  if (within == 4) return WhollyWithin(count, *r, dist, largest) ? 2 : 1;

  // No corner is within dist. The polyline may still cross r, or pass its
  // outline closer than dist; the nearest approach of a segment to a side is
  // then at one of the segment's vertices, the corners having been ruled out.
  if (Overlap(bounds, *r) && Touches(points, count, *r)) return 1;
  for (std::int32_t i = 0; i < count; ++i)
    if (DistanceWithin(points[i], corners, 5, dist) >= 0) return 1;
  return 0;
}
