// The exact-integer plane geometry the tests compare the library's
// fixed-point geometry against: points in 64 bits, cross products in 128,
// closed segments, convex hulls kept counter-clockwise without collinear
// vertices, a polygon clipped to a rectangle with exact rational vertices,
// and the length of a polyline inside a convex polygon. Coordinates are
// those of a map (|x|, |y| < 2^28), which keeps every product below 128 bits.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace exact_model {

using i128 = __int128;

struct P {
  std::int64_t x;
  std::int64_t y;
};

inline i128 Cross(const P& o, const P& a, const P& b) {
  return i128{a.x - o.x} * (b.y - o.y) - i128{a.y - o.y} * (b.x - o.x);
}

inline int Sign(i128 v) { return (v > 0) - (v < 0); }

inline bool OnSegment(const P& a, const P& b, const P& p) {
  return Cross(a, b, p) == 0 && std::min(a.x, b.x) <= p.x && p.x <= std::max(a.x, b.x) &&
         std::min(a.y, b.y) <= p.y && p.y <= std::max(a.y, b.y);
}

// Whether the closed segments a-b and c-d have a point in common.
inline bool SegmentsMeet(const P& a, const P& b, const P& c, const P& d) {
  if (Sign(Cross(c, d, a)) * Sign(Cross(c, d, b)) < 0 && Sign(Cross(a, b, c)) * Sign(Cross(a, b, d)) < 0)
    return true;
  return OnSegment(c, d, a) || OnSegment(c, d, b) || OnSegment(a, b, c) || OnSegment(a, b, d);
}

// The hull of the points, counter-clockwise, without collinear vertices.
inline std::vector<P> Hull(std::vector<P> pts) {
  std::sort(pts.begin(), pts.end(), [](const P& a, const P& b) { return a.x != b.x ? a.x < b.x : a.y < b.y; });
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

// The points of any type with integer members x and y, and a rectangle of
// any type with members x1, y1, x2, y2.
template <typename Point>
std::vector<P> Points(const std::vector<Point>& points) {
  std::vector<P> out;
  out.reserve(points.size());
  for (const Point& p : points) out.push_back(P{p.x, p.y});
  return out;
}

struct Rect {
  std::int64_t x1;
  std::int64_t y1;
  std::int64_t x2;
  std::int64_t y2;
};

template <typename Box>
Rect RectOf(const Box& b) {
  return Rect{b.x1, b.y1, b.x2, b.y2};
}

// num / den rounded to the nearest integer, halves away from zero.
inline std::int64_t RoundHalfAway(i128 num, i128 den) {
  if (den < 0) {
    num = -num;
    den = -den;
  }
  const i128 q = ((num < 0 ? -num : num) * 2 + den) / (2 * den);
  return static_cast<std::int64_t>(num < 0 ? -q : q);
}

// ---- a polygon clipped to a rectangle ---------------------------------------

// A vertex of a clipped outline: its exact coordinates (x / den, y / den,
// den > 0), the line the outline runs along into it, and the vertex in whole
// units as a fixed-point clipper gives it: an original vertex and a corner
// of the rectangle as they are, a crossing of a polygon edge with a side as
// the edge's first vertex plus the offset along the side's axis rounded half
// away from zero (so it depends on the edge's direction, not only on the
// crossing).
struct ClipVertex {
  i128 x;
  i128 y;
  i128 den;
  int edge;  // >= 0: polygon edge from vertex edge - 1 to vertex edge; -1 - s: side s (x1, x2, y1, y2)
  P rounded;
};

namespace detail {

// Whether the vertex lies on the inner side of side s (the side included).
inline bool InsideSide(const ClipVertex& v, const Rect& r, int side) {
  switch (side) {
    case 0:
      return v.x >= i128{r.x1} * v.den;
    case 1:
      return v.x <= i128{r.x2} * v.den;
    case 2:
      return v.y >= i128{r.y1} * v.den;
    default:
      return v.y <= i128{r.y2} * v.den;
  }
}

inline std::int64_t SideLine(const Rect& r, int side) {
  const std::int64_t lines[4] = {r.x1, r.x2, r.y1, r.y2};
  return lines[side];
}

// Where the outline from a vertex on one side of side s to one on the other
// crosses it. The stretch into `to` lies on the line of to.edge: a polygon
// edge (crossed exactly from its own end points) or an earlier side of the
// rectangle (crossed at a corner).
inline ClipVertex Crossing(const std::vector<P>& polygon, const Rect& r, int side, const ClipVertex& to) {
  const bool vertical = side < 2;
  const std::int64_t at = SideLine(r, side);
  if (to.edge < 0) {
    const std::int64_t other = SideLine(r, -1 - to.edge);
    const P corner = vertical ? P{at, other} : P{other, at};
    return ClipVertex{corner.x, corner.y, 1, to.edge, corner};
  }
  const std::size_t n = polygon.size();
  const P& p0 = polygon[(static_cast<std::size_t>(to.edge) + n - 1) % n];
  const P& p1 = polygon[static_cast<std::size_t>(to.edge)];
  // Along the side's axis: the crossing lies `along / den` from p0.
  i128 den = vertical ? p1.x - p0.x : p1.y - p0.y;
  i128 along = vertical ? i128{at - p0.x} * (p1.y - p0.y) : i128{at - p0.y} * (p1.x - p0.x);
  if (den < 0) {
    den = -den;
    along = -along;
  }
  const std::int64_t offset = RoundHalfAway(along, den);
  if (vertical) return ClipVertex{i128{at} * den, i128{p0.y} * den + along, den, to.edge, P{at, p0.y + offset}};
  return ClipVertex{i128{p0.x} * den + along, i128{at} * den, den, to.edge, P{p0.x + offset, at}};
}

}  // namespace detail

// Sutherland-Hodgman against the sides x >= x1, x <= x2, y >= y1, y <= y2 in
// turn, every test exact. The polygon is a ring (its last vertex joins the
// first) in either direction; a concave one may come out with stretches
// doubled along a side, which enclose no area. Empty when nothing of it
// lies in the rectangle.
inline std::vector<ClipVertex> ClipToRect(const std::vector<P>& polygon, const Rect& r) {
  std::vector<ClipVertex> out;
  for (std::size_t i = 0; i < polygon.size(); ++i) {
    out.push_back(ClipVertex{polygon[i].x, polygon[i].y, 1, static_cast<int>(i), polygon[i]});
  }
  for (int side = 0; side < 4 && !out.empty(); ++side) {
    std::vector<ClipVertex> in;
    in.swap(out);
    for (std::size_t i = 0; i < in.size(); ++i) {
      const ClipVertex& a = in[(i + in.size() - 1) % in.size()];
      const ClipVertex& b = in[i];
      const bool aIn = detail::InsideSide(a, r, side);
      if (detail::InsideSide(b, r, side)) {
        if (!aIn) {
          // Back in: the stretch since the outline went out follows this side.
          ClipVertex c = detail::Crossing(polygon, r, side, b);
          c.edge = -1 - side;
          out.push_back(c);
        }
        out.push_back(b);
      } else if (aIn) {
        out.push_back(detail::Crossing(polygon, r, side, b));
      }
    }
  }
  return out;
}

// The area an outline encloses (the last vertex joins the first), from its
// exact vertices in long double: for coordinates of a map, off by far less
// than a unit of area.
inline long double Area(const std::vector<ClipVertex>& outline) {
  long double twice = 0;
  for (std::size_t i = 0; i < outline.size(); ++i) {
    const ClipVertex& a = outline[i];
    const ClipVertex& b = outline[(i + 1) % outline.size()];
    const long double ax = static_cast<long double>(a.x) / static_cast<long double>(a.den);
    const long double ay = static_cast<long double>(a.y) / static_cast<long double>(a.den);
    const long double bx = static_cast<long double>(b.x) / static_cast<long double>(b.den);
    const long double by = static_cast<long double>(b.y) / static_cast<long double>(b.den);
    twice += ax * by - bx * ay;
  }
  return std::fabs(twice) / 2;
}

// ---- a polyline inside a convex polygon -------------------------------------

// The length of the polyline inside the convex polygon (corners
// counter-clockwise, its outline included), segment by segment (Cyrus-Beck):
// where each segment enters and leaves is a fraction compared exactly, so a
// segment that only touches the polygon counts nothing; the lengths are
// summed in long double.
inline long double LengthInside(const std::vector<P>& convex, const std::vector<P>& line) {
  // t = num / den with den > 0.
  struct Fraction {
    i128 num;
    i128 den;
  };
  const auto less = [](const Fraction& a, const Fraction& b) { return a.num * b.den < b.num * a.den; };
  long double total = 0;
  const std::size_t n = convex.size();
  for (std::size_t s = 1; s < line.size(); ++s) {
    const P& a = line[s - 1];
    const P& b = line[s];
    Fraction enter{0, 1};
    Fraction leave{1, 1};
    bool empty = false;
    for (std::size_t i = 0; i < n && !empty; ++i) {
      const i128 sa = Cross(convex[i], convex[(i + 1) % n], a);
      const i128 sb = Cross(convex[i], convex[(i + 1) % n], b);
      if (sa < 0 && sb < 0) {
        empty = true;
      } else if (sa < 0) {
        const Fraction t{-sa, sb - sa};
        if (less(enter, t)) enter = t;
      } else if (sb < 0) {
        const Fraction t{sa, sa - sb};
        if (less(t, leave)) leave = t;
      }
    }
    if (empty || !less(enter, leave)) continue;
    const long double fraction = static_cast<long double>(leave.num) / static_cast<long double>(leave.den) -
                                 static_cast<long double>(enter.num) / static_cast<long double>(enter.den);
    total += fraction * std::hypot(static_cast<long double>(b.x - a.x), static_cast<long double>(b.y - a.y));
  }
  return total;
}

}  // namespace exact_model
