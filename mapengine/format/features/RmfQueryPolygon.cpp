// The query polygon as the query walks it: which edges a point lies beyond,
// where a segment enters and leaves the polygon, how far along the boundary a
// crossing lies, and the polygon's outline as a ring.
//
// The polygon runs counter-clockwise, so a point is inside when no edge has
// it strictly to its right. Side values are exact 128-bit cross products and
// the parameters of a cut are compared as exact fractions, so a cut point is
// the true intersection rounded to whole units.
#include <algorithm>
#include <cmath>

#include "mapengine/format/features/RmfQuery.h"
#include "mapengine/format/features/RmfQueryInternal.h"

namespace rmf::query {

namespace {

using i128 = __int128;
using u128 = unsigned __int128;

constexpr std::int32_t kMaxBoundaryDistance = 1 << 30;

// The side value of p against the edge start -> end: positive to the left,
// negative to the right.
i128 Side(const TiPoint& start, const TiPoint& end, const TiPoint& p) {
  const std::int64_t ex = std::int64_t{end.x} - start.x;
  const std::int64_t ey = std::int64_t{end.y} - start.y;
  const std::int64_t px = std::int64_t{p.x} - start.x;
  const std::int64_t py = std::int64_t{p.y} - start.y;
  return static_cast<i128>(ex) * py - static_cast<i128>(ey) * px;
}

std::int32_t Along(std::int32_t from, std::int32_t to, const Fraction& t) {
  const std::int64_t d = std::int64_t{to} - from;
  const u128 magnitude = d < 0 ? static_cast<u128>(-static_cast<i128>(d)) : static_cast<u128>(d);
  const u128 q = (magnitude * t.num + t.den / 2) / t.den;
  const auto step = static_cast<std::int64_t>(q);
  return static_cast<std::int32_t>(from + (d < 0 ? -step : step));
}

TiPoint PointAt(const TiPoint& a, const TiPoint& b, const Fraction& t) {
  return TiPoint{Along(a.x, b.x, t), Along(a.y, b.y, t)};
}

// Distance along the boundary of the exact point a + t (b - a) on edge
// `edge`, in 1/65536 units.
std::int64_t Along(const SourcePolygon& polygon, std::int32_t edge, const TiPoint& a, const TiPoint& b,
                   const Fraction& t) {
  if (edge < 0 || edge >= polygon.count) return 0;
  const long double f = static_cast<long double>(t.num) / static_cast<long double>(t.den);
  const long double x = a.x + f * (static_cast<long double>(b.x) - a.x);
  const long double y = a.y + f * (static_cast<long double>(b.y) - a.y);
  const TiPoint& c = polygon.corners[edge == 0 ? polygon.count - 1 : edge - 1];
  const long double before = edge == 0 ? 0.0L : static_cast<long double>(polygon.lengths[edge - 1]);
  const long double d = before + std::hypot(x - c.x, y - c.y);
  return static_cast<std::int64_t>(std::llround(std::min(d, static_cast<long double>(kMaxBoundaryDistance)) * 65536));
}

}  // namespace

SourcePolygon PolygonOf(const RmfSource* source) {
  SourcePolygon p;
  if (source == nullptr || source->queryArea == nullptr || source->queryAreaCount < 1) return p;
  p.corners = source->queryArea;
  p.count = std::min(source->queryAreaCount, kRmfMaxQueryCorners);
  p.lengths = reinterpret_cast<const std::uint32_t*>(source->queryArea + source->queryAreaCount);
  return p;
}

SourcePolygon CurrentPolygon(const RmfReader* reader) {
  if (!rmf::detail::ReaderAlive(reader) || reader->querySource < 0 || reader->querySource >= reader->sourceCount) {
    return {};
  }
  return PolygonOf(reader->sources[reader->querySource]);
}

std::uint16_t OutsideBits(const SourcePolygon& polygon, const TiPoint& p) {
  std::uint16_t bits = 0;
  for (std::int32_t e = 0; e < polygon.count; ++e) {
    const TiPoint& start = polygon.corners[e == 0 ? polygon.count - 1 : e - 1];
    if (Side(start, polygon.corners[e], p) < 0) bits = static_cast<std::uint16_t>(bits | (1u << e));
  }
  return bits;
}

bool CutSegment(const SourcePolygon& polygon, const TiPoint& a, std::uint16_t aBits, const TiPoint& b,
                std::uint16_t bBits, BoundaryPoint* enter, BoundaryPoint* exit) {
  if ((aBits & bBits) != 0 || polygon.count < 1) return false;
  Fraction t0{0, 1};
  Fraction t1{1, 1};
  std::int32_t e0 = -1;
  std::int32_t e1 = -1;
  for (std::int32_t e = 0; e < polygon.count; ++e) {
    const std::uint32_t bit = 1u << e;
    if (((aBits | bBits) & bit) == 0) continue;
    const TiPoint& start = polygon.corners[e == 0 ? polygon.count - 1 : e - 1];
    const i128 sa = Side(start, polygon.corners[e], a);
    const i128 sb = Side(start, polygon.corners[e], b);
    if ((aBits & bit) != 0) {  // sa < 0 <= sb: the segment comes in over this edge
      const Fraction t{static_cast<u128>(-sa), static_cast<u128>(sb - sa)};
      if (Compare(t, t0) > 0) {
        t0 = t;
        e0 = e;
      }
    } else {  // sb < 0 <= sa: it goes out over this edge
      const Fraction t{static_cast<u128>(sa), static_cast<u128>(sa - sb)};
      if (Compare(t, t1) < 0) {
        t1 = t;
        e1 = e;
      }
    }
  }
  const int order = Compare(t0, t1);
  if (order > 0 || (order == 0 && aBits != 0 && bBits != 0)) return false;
  BoundaryPoint in;
  BoundaryPoint out;
  if (aBits != 0) in = BoundaryPoint{PointAt(a, b, t0), e0, Along(polygon, e0, a, b, t0)};
  if (bBits != 0) out = BoundaryPoint{PointAt(a, b, t1), e1, Along(polygon, e1, a, b, t1)};
  if (aBits != 0 && bBits != 0 && in.point.x == out.point.x && in.point.y == out.point.y) return false;
  if (enter != nullptr) *enter = in;
  if (exit != nullptr) *exit = out;
  return true;
}

}  // namespace rmf::query

using rmf::detail::ReaderAlive;

std::int32_t RmfQueryOutsideBits(RmfReader* reader, const TiPoint* point, std::uint16_t* bits) {
  if (bits != nullptr) *bits = 0;
  if (!ReaderAlive(reader) || point == nullptr) return 0;
  const rmf::query::SourcePolygon polygon = rmf::query::CurrentPolygon(reader);
  if (polygon.count < 1) return 0;
  const std::uint16_t b = rmf::query::OutsideBits(polygon, *point);
  if (bits != nullptr) *bits = b;
  return b == 0 ? 1 : 0;
}

std::int32_t RmfQueryAreaOutline(RmfReader* reader, std::int32_t backwards) {
  if (!ReaderAlive(reader)) return 0;
  const rmf::query::SourcePolygon polygon = rmf::query::CurrentPolygon(reader);
  if (polygon.count < 1) return 0;
  TiPoint* out = reader->queryWork.points;
  const std::int32_t n = polygon.count;
  for (std::int32_t i = 0; i < n; ++i) out[i] = polygon.corners[backwards != 0 ? n - 1 - i : i];
  out[n] = out[0];
  return n + 1;
}
