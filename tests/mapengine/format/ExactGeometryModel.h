// The exact-integer plane geometry the tests compare the library's
// fixed-point geometry against: points in 64 bits, cross products in 128,
// closed segments, and convex hulls kept counter-clockwise without collinear
// vertices.
#pragma once

#include <algorithm>
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

}  // namespace exact_model
