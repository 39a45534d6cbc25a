// Exact product signs and the polygon-rectangle relation of the map-format
// library.
//
// Products of two 32-bit components need 63 bits, more than a word of the
// phones the library was written for. The signs are therefore decided from
// the component signs where they settle the answer, and otherwise by
// comparing the magnitudes of the two 64-bit products; both ways are exact.
#include "mapengine/format/base/TiGeometry.h"

#include <array>

#include "mapengine/format/base/TiMath.h"

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

bool SamePoint(const TiPoint& a, const TiPoint& b) { return a.x == b.x && a.y == b.y; }

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
    if (!SamePoint(points[prev], points[low])) break;
  }
  for (std::int32_t step = 1; step < count; ++step) {
    next = (low + step) % count;
    if (!SamePoint(points[next], points[low])) break;
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
