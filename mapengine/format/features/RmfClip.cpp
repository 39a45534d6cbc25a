// Clipping a polygon to a rectangle, the convexity test of query polygons and
// the rounded a x b / c of crossing points.
//
// The clip walks the polygon's edges once: a vertex inside the rectangle is
// kept, an edge that crosses the rectangle's boundary gives its entering and
// leaving points (on the side that cuts it, rounded to whole units), and
// after every leaving point the rectangle's corners are inserted up to the
// next entering point, walking the boundary the way the polygon runs. The
// arithmetic is exact: edge parameters are compared as fractions in 128 bits
// and a crossing is the one rounding of an exact quotient, so the result is
// the double-precision clip rounded to whole units.
#include "mapengine/format/features/RmfClip.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "mapengine/format/RmfInternal.h"
#include "mapengine/format/base/TiMath.h"
#include "mapengine/format/store/RmfReader.h"

namespace {

using i128 = __int128;

constexpr std::uint16_t kSideLeft = 1;    // x = xmin
constexpr std::uint16_t kSideTop = 2;     // y = ymax
constexpr std::uint16_t kSideRight = 4;   // x = xmax
constexpr std::uint16_t kSideBottom = 8;  // y = ymin

using rmf::detail::ReaderAlive;

// Number of points once trailing copies of the first point are dropped.
std::int32_t WithoutClosingPoints(const TiPoint* points, std::int32_t n) {
  while (n > 1 && TiSamePoint(points[n - 1], points[0])) --n;
  return n;
}

// A parameter t = num / den along an edge, den > 0.
struct Fraction {
  std::int64_t num;
  std::int64_t den;
};

int Compare(const Fraction& a, const Fraction& b) {
  const i128 l = static_cast<i128>(a.num) * b.den;
  const i128 r = static_cast<i128>(b.num) * a.den;
  return (l > r) - (l < r);
}

std::uint16_t SidesOf(const TiPoint& p, const TiRect& r) {
  std::uint16_t s = 0;
  if (p.x == r.x1) s |= kSideLeft;
  if (p.x == r.x2) s |= kSideRight;
  if (p.y == r.y1) s |= kSideBottom;
  if (p.y == r.y2) s |= kSideTop;
  return s;
}

bool Inside(const TiPoint& p, const TiRect& r) { return p.x >= r.x1 && p.x <= r.x2 && p.y >= r.y1 && p.y <= r.y2; }

// The point of edge a -> b on the side that cut it: on x = X (vertical side)
// or y = Y.
TiPoint PointOnSide(const TiPoint& a, const TiPoint& b, bool vertical, std::int32_t at) {
  if (vertical) {
    const std::int64_t y =
        a.y + rmf::detail::MulDivRound64(std::int64_t{at} - a.x, std::int64_t{b.y} - a.y, std::int64_t{b.x} - a.x);
    return TiPoint{at, static_cast<std::int32_t>(y)};
  }
  const std::int64_t x =
      a.x + rmf::detail::MulDivRound64(std::int64_t{at} - a.y, std::int64_t{b.x} - a.x, std::int64_t{b.y} - a.y);
  return TiPoint{static_cast<std::int32_t>(x), at};
}

// Records of the outline being built, with the merging of records that fall
// on the same point.
class RecordList {
 public:
  RecordList(RmfCrossing* records, std::int32_t capacity) : records_(records), capacity_(capacity) {}

  void Add(const TiPoint& p, std::int16_t direction, std::uint16_t sides) {
    if (count_ > 0 && TiSamePoint(Last(), p)) {
      MergeIntoLast(direction, sides);
      return;
    }
    if (count_ >= capacity_) {
      overflow_ = true;
      return;
    }
    records_[count_++] = RmfCrossing{0, direction, sides, 0, 0, p.x, p.y};
    peak_ = std::max(peak_, count_);
  }

  // The outline is closed: a last record on the first one's point merges
  // into it.
  void Close() {
    while (count_ >= 2 && records_[count_ - 1].x == records_[0].x && records_[count_ - 1].y == records_[0].y) {
      const RmfCrossing last = records_[--count_];
      const RmfCrossing first = records_[0];
      const int merged = Merge(last.direction, first.direction);
      if (merged == kDropBoth) {
        for (std::int32_t i = 1; i < count_; ++i) records_[i - 1] = records_[i];
        --count_;
        continue;
      }
      records_[0].direction = static_cast<std::int16_t>(merged);
      records_[0].edgeBits = static_cast<std::uint16_t>(first.edgeBits | last.edgeBits);
    }
  }

  std::int32_t count() const { return count_; }
  std::int32_t peak() const { return peak_; }
  bool overflow() const { return overflow_; }
  const RmfCrossing& operator[](std::int32_t i) const { return records_[i]; }

 private:
  static constexpr int kDropBoth = 2;

  TiPoint Last() const { return TiPoint{records_[count_ - 1].x, records_[count_ - 1].y}; }

  // Direction of two records on one point, the earlier first: an inside
  // vertex takes the crossing's direction; entering then leaving is a touch
  // from outside (both go); leaving then entering a touch from inside (an
  // inside vertex remains).
  static int Merge(int earlier, int later) {
    if (earlier == 0) return later;
    if (later == 0 || later == earlier) return earlier;
    return earlier > 0 ? kDropBoth : 0;
  }

  void MergeIntoLast(std::int16_t direction, std::uint16_t sides) {
    RmfCrossing& last = records_[count_ - 1];
    const int merged = Merge(last.direction, direction);
    if (merged == kDropBoth) {
      --count_;
      return;
    }
    last.direction = static_cast<std::int16_t>(merged);
    last.edgeBits = static_cast<std::uint16_t>(last.edgeBits | sides);
  }

  RmfCrossing* records_;
  std::int32_t capacity_;
  std::int32_t count_ = 0;
  std::int32_t peak_ = 0;
  bool overflow_ = false;
};

// The crossings of edge a -> b with the rectangle's boundary, in their order
// along the edge: entering where a lies outside, leaving where b does.
void AddCrossings(const TiPoint& a, const TiPoint& b, const TiRect& r, RecordList* list) {
  Fraction t0{0, 1};
  Fraction t1{1, 1};
  int enterSide = 0;  // 1 vertical side, 2 horizontal side
  int exitSide = 0;
  std::int32_t enterAt = 0;
  std::int32_t exitAt = 0;
  const auto clipAxis = [&](std::int64_t p0, std::int64_t p1, std::int32_t lo, std::int32_t hi, int side) {
    const std::int64_t d = p1 - p0;
    if (d == 0) return p0 >= lo && p0 <= hi;
    // Entering and leaving parameters of the slab lo..hi.
    Fraction enter;
    Fraction exit;
    std::int32_t enterLine;
    std::int32_t exitLine;
    if (d > 0) {
      enter = Fraction{lo - p0, d};
      exit = Fraction{hi - p0, d};
      enterLine = lo;
      exitLine = hi;
    } else {
      enter = Fraction{p0 - hi, -d};
      exit = Fraction{p0 - lo, -d};
      enterLine = hi;
      exitLine = lo;
    }
    if (Compare(enter, t0) > 0) {
      t0 = enter;
      enterSide = side;
      enterAt = enterLine;
    }
    if (Compare(exit, t1) < 0) {
      t1 = exit;
      exitSide = side;
      exitAt = exitLine;
    }
    return true;
  };
  if (!clipAxis(a.x, b.x, r.x1, r.x2, 1)) return;
  if (!clipAxis(a.y, b.y, r.y1, r.y2, 2)) return;
  const int order = Compare(t0, t1);
  if (order > 0) return;
  const bool aOutside = !Inside(a, r);
  const bool bOutside = !Inside(b, r);
  if (order == 0 && aOutside && bOutside) return;  // the edge only touches the boundary
  TiPoint enterPoint{};
  TiPoint exitPoint{};
  if (aOutside) enterPoint = PointOnSide(a, b, enterSide == 1, enterAt);
  if (bOutside) exitPoint = PointOnSide(a, b, exitSide == 1, exitAt);
  // A pass so close to a corner that both crossings round to one point
  // touches the rectangle there.
  if (aOutside && bOutside && TiSamePoint(enterPoint, exitPoint)) return;
  if (aOutside) list->Add(enterPoint, 1, SidesOf(enterPoint, r));
  if (bOutside) list->Add(exitPoint, -1, SidesOf(exitPoint, r));
}

// Position of a boundary point along the rectangle, counter-clockwise from
// the corner (xmin, ymax): down the left side, along the bottom, up the right
// side, back along the top.
std::int64_t BoundaryPosition(const TiPoint& p, const TiRect& r) {
  const std::int64_t w = std::int64_t{r.x2} - r.x1;
  const std::int64_t h = std::int64_t{r.y2} - r.y1;
  if (p.x == r.x1 && p.y > r.y1) return std::int64_t{r.y2} - p.y;
  if (p.y == r.y1 && p.x < r.x2) return h + (std::int64_t{p.x} - r.x1);
  if (p.x == r.x2 && p.y < r.y2) return h + w + (std::int64_t{p.y} - r.y1);
  if (p.y == r.y2) return 2 * h + w + (std::int64_t{r.x2} - p.x);
  return 0;
}

// Even-odd test of the rectangle's centre against the polygon (exact, on
// doubled coordinates).
bool CentreInside(const TiPoint* pts, std::int32_t n, const TiRect& r) {
  const std::int64_t cx = std::int64_t{r.x1} + r.x2;
  const std::int64_t cy = std::int64_t{r.y1} + r.y2;
  bool inside = false;
  for (std::int32_t i = 0, j = n - 1; i < n; j = i++) {
    const std::int64_t ay = 2 * std::int64_t{pts[j].y};
    const std::int64_t by = 2 * std::int64_t{pts[i].y};
    if ((ay > cy) == (by > cy)) continue;
    const std::int64_t ax = 2 * std::int64_t{pts[j].x};
    const std::int64_t bx = 2 * std::int64_t{pts[i].x};
    // cx < ax + (cy - ay) (bx - ax) / (by - ay), multiplied out by (by - ay).
    const i128 lhs = static_cast<i128>(cx - ax) * (by - ay);
    const i128 rhs = static_cast<i128>(cy - ay) * (bx - ax);
    if ((by - ay > 0) ? lhs < rhs : lhs > rhs) inside = !inside;
  }
  return inside;
}

// Counter-clockwise (or flat) polygons give true.
bool RunsCounterClockwise(const TiPoint* pts, std::int32_t n) {
  i128 twiceArea = 0;
  for (std::int32_t i = 0, j = n - 1; i < n; j = i++) {
    twiceArea += static_cast<i128>(pts[j].x) * pts[i].y - static_cast<i128>(pts[i].x) * pts[j].y;
  }
  return twiceArea >= 0;
}

class Output {
 public:
  Output(TiPoint* out, std::int32_t capacity) : out_(out), capacity_(capacity) {}
  void Add(const TiPoint& p) {
    if (count_ > 0 && TiSamePoint(last_, p)) return;
    if (count_ < capacity_) out_[count_] = p;
    last_ = p;
    if (count_ == 0) first_ = p;
    ++count_;
  }
  // Drops a last point equal to the first.
  void Close() {
    if (count_ >= 2 && TiSamePoint(last_, first_)) --count_;
  }
  std::int32_t count() const { return count_; }

 private:
  TiPoint* out_;
  std::int32_t capacity_;
  std::int32_t count_ = 0;
  TiPoint last_{};
  TiPoint first_{};
};

// A rectangle without width or height is a stretch of one line (a point
// when it has neither): the part of it inside the polygon runs from the
// least to the greatest place where the polygon meets the line, held to the
// stretch. The places are the vertices on the line and the crossings of the
// edges that pass it, rounded as crossings on a side are. Exact for a convex
// polygon; for any other the gaps between its pieces on the line are taken
// in. The ends come from the rectangle's (xmax, ymin) end on, as the corners
// of a rectangle inside a polygon do, and are recorded as inside vertices.
std::int32_t ClipToLine(const TiPoint* points, std::int32_t n, const TiRect& rect, RmfCrossing* records,
                        std::int32_t recordCapacity, std::int32_t* recordCount, std::int32_t* recordsNeeded,
                        TiPoint* out, std::int32_t outCapacity, std::int32_t* needed) {
  // Along the stretch and across it: x and y for a parallel, y and x for a
  // meridian (or a point).
  const bool parallel = rect.y1 == rect.y2 && rect.x1 != rect.x2;
  const auto along = [parallel](const TiPoint& p) { return std::int64_t{parallel ? p.x : p.y}; };
  const auto across = [parallel](const TiPoint& p) { return std::int64_t{parallel ? p.y : p.x}; };
  const std::int64_t line = parallel ? rect.y1 : rect.x1;
  std::int64_t low = parallel ? rect.x1 : rect.y1;
  std::int64_t high = parallel ? rect.x2 : rect.y2;

  std::int64_t least = INT64_MAX;
  std::int64_t greatest = INT64_MIN;
  const auto meet = [&](std::int64_t at) {
    least = std::min(least, at);
    greatest = std::max(greatest, at);
  };
  for (std::int32_t i = 0; i < n; ++i) {
    const TiPoint& a = points[i == 0 ? n - 1 : i - 1];
    const TiPoint& b = points[i];
    if (across(b) == line) meet(along(b));
    const std::int64_t da = across(a) - line;
    const std::int64_t db = across(b) - line;
    if ((da < 0 && db > 0) || (da > 0 && db < 0)) {
      meet(along(a) + rmf::detail::MulDivRound64(-da, along(b) - along(a), db - da));
    }
  }
  low = std::max(low, least);
  high = std::min(high, greatest);
  if (low > high) return 0;

  const auto at = [&](std::int64_t position) {
    const auto v = static_cast<std::int32_t>(position);
    return parallel ? TiPoint{v, rect.y1} : TiPoint{rect.x1, v};
  };
  // From the (xmax, ymin) end: the greatest x on a parallel, the least y on
  // a meridian.
  TiPoint ends[2] = {parallel ? at(high) : at(low), parallel ? at(low) : at(high)};
  const std::int32_t count = low == high ? 1 : 2;
  if (recordCount != nullptr) *recordCount = count;
  if (recordsNeeded != nullptr) *recordsNeeded = count;
  if (needed != nullptr) *needed = count;
  if (count > recordCapacity || count > outCapacity) return kRmfBadArgument;
  for (std::int32_t k = 0; k < count; ++k) {
    records[k] = RmfCrossing{0, 0, SidesOf(ends[k], rect), 0, 0, ends[k].x, ends[k].y};
    out[k] = ends[k];
  }
  return count;
}

}  // namespace

namespace rmf::detail {

std::int64_t MulDivRound64(std::int64_t a, std::int64_t b, std::int64_t c) {
  if (c == 0) return 0;
  const bool negative = ((a < 0) ^ (b < 0) ^ (c < 0)) != 0;
  const std::uint64_t ua = a < 0 ? 0 - static_cast<std::uint64_t>(a) : static_cast<std::uint64_t>(a);
  const std::uint64_t ub = b < 0 ? 0 - static_cast<std::uint64_t>(b) : static_cast<std::uint64_t>(b);
  const std::uint64_t uc = c < 0 ? 0 - static_cast<std::uint64_t>(c) : static_cast<std::uint64_t>(c);
  const unsigned __int128 q = (static_cast<unsigned __int128>(ua) * ub + uc / 2) / uc;
  const auto magnitude = static_cast<std::int64_t>(std::min<unsigned __int128>(q, INT64_MAX));
  return negative ? -magnitude : magnitude;
}

std::int32_t ClipPolygon(const TiPoint* points, std::int32_t n, const TiRect& rect, RmfCrossing* records,
                         std::int32_t recordCapacity, std::int32_t* recordCount, std::int32_t* recordsNeeded,
                         TiPoint* out, std::int32_t outCapacity, std::int32_t* needed) {
  if (recordCount != nullptr) *recordCount = 0;
  if (recordsNeeded != nullptr) *recordsNeeded = 0;
  if (needed != nullptr) *needed = 0;
  if (points == nullptr || n < 1 || rect.x1 > rect.x2 || rect.y1 > rect.y2) return 0;
  n = WithoutClosingPoints(points, n);
  if (rect.x1 == rect.x2 || rect.y1 == rect.y2) {
    return ClipToLine(points, n, rect, records, recordCapacity, recordCount, recordsNeeded, out, outCapacity, needed);
  }

  RecordList list(records, std::max(recordCapacity, 0));
  for (std::int32_t i = 0; i < n; ++i) {
    const TiPoint& a = points[i == 0 ? n - 1 : i - 1];
    const TiPoint& b = points[i];
    if (n > 1 && !TiSamePoint(a, b)) AddCrossings(a, b, rect, &list);
    if (Inside(b, rect)) list.Add(b, 0, SidesOf(b, rect));
    if (list.overflow()) return kRmfBadArgument;
  }
  list.Close();
  if (recordCount != nullptr) *recordCount = list.count();
  if (recordsNeeded != nullptr) *recordsNeeded = list.peak();

  const bool ccw = RunsCounterClockwise(points, n);
  Output output(out, std::max(outCapacity, 0));
  if (list.count() < 2) {
    // Nothing of the boundaries meets but a point: the rectangle lies wholly
    // inside the polygon or wholly outside it.
    if (!CentreInside(points, n, rect)) return 0;
    output.Add(TiPoint{rect.x2, rect.y1});
    if (ccw) {
      output.Add(TiPoint{rect.x2, rect.y2});
      output.Add(TiPoint{rect.x1, rect.y2});
      output.Add(TiPoint{rect.x1, rect.y1});
    } else {
      output.Add(TiPoint{rect.x1, rect.y1});
      output.Add(TiPoint{rect.x1, rect.y2});
      output.Add(TiPoint{rect.x2, rect.y2});
    }
  } else {
    const std::int64_t perimeter = 2 * ((std::int64_t{rect.x2} - rect.x1) + (std::int64_t{rect.y2} - rect.y1));
    const TiPoint corners[4] = {{rect.x1, rect.y2}, {rect.x1, rect.y1}, {rect.x2, rect.y1}, {rect.x2, rect.y2}};
    for (std::int32_t k = 0; k < list.count(); ++k) {
      const RmfCrossing& r = list[k];
      output.Add(TiPoint{r.x, r.y});
      if (r.direction >= 0) continue;
      // Out of the rectangle: its corners up to where the polygon comes back,
      // along the boundary the way the polygon runs.
      const RmfCrossing& next = list[(k + 1) % list.count()];
      const std::int64_t from = BoundaryPosition(TiPoint{r.x, r.y}, rect);
      const std::int64_t to = BoundaryPosition(TiPoint{next.x, next.y}, rect);
      if (perimeter == 0 || from == to) continue;
      const auto ahead = [&](std::int64_t position) {
        const std::int64_t d = ccw ? position - from : from - position;
        return ((d % perimeter) + perimeter) % perimeter;
      };
      const std::int64_t span = ahead(to);
      std::int32_t order[4] = {0, 1, 2, 3};
      std::sort(order, order + 4, [&](std::int32_t i, std::int32_t j) {
        return ahead(BoundaryPosition(corners[i], rect)) < ahead(BoundaryPosition(corners[j], rect));
      });
      for (std::int32_t i : order) {
        const std::int64_t d = ahead(BoundaryPosition(corners[i], rect));
        if (d > 0 && d < span) output.Add(corners[i]);
      }
    }
  }
  output.Close();
  if (needed != nullptr) *needed = output.count();
  return output.count() > outCapacity ? kRmfBadArgument : output.count();
}

}  // namespace rmf::detail

std::int32_t ClipPolygonToRect(RmfReader* reader, std::int32_t xmin, std::int32_t ymin, std::int32_t xmax,
                               std::int32_t ymax, const TiPoint* points, std::int32_t n) {
  if (!ReaderAlive(reader)) return 0;
  RmfQueryWork& w = reader->queryWork;
  w.crossingCount = 0;
  w.crossingIndex = 0;
  std::int32_t records = 0;
  const std::int32_t result =
      rmf::detail::ClipPolygon(points, n, TiRect{xmin, ymin, xmax, ymax}, w.crossings, kRmfMaxCrossings, &records,
                               nullptr, w.points, kRmfPointBufferPoints, nullptr);
  w.crossingCount = records;
  w.crossingIndex = records / 2;
  if (result < 0) reader->lastError = result;
  return result;
}

std::int32_t RmfPolygonIsConvex(const TiPoint* points, std::int32_t n) {
  if (points == nullptr || n < 1) return 0;
  n = WithoutClosingPoints(points, n);
  if (n < 3) return 1;
  // The edges that have a length, as 64-bit vectors.
  struct Edge {
    std::int64_t dx;
    std::int64_t dy;
  };
  const auto edgeAt = [&](std::int32_t i) {
    const TiPoint& a = points[i];
    const TiPoint& b = points[(i + 1) % n];
    return Edge{std::int64_t{b.x} - a.x, std::int64_t{b.y} - a.y};
  };
  std::int32_t first = -1;
  for (std::int32_t i = 0; i < n; ++i) {
    const Edge e = edgeAt(i);
    if (e.dx != 0 || e.dy != 0) {
      first = i;
      break;
    }
  }
  if (first < 0) return 1;  // every point the same
  // The upper half-plane of directions: angles in [0, 180) degrees. Turning
  // left by less than half a turn, a direction moves from the lower half to
  // the upper one only by passing 0 degrees: such passes count the windings.
  const auto upper = [](const Edge& e) { return e.dy > 0 || (e.dy == 0 && e.dx > 0); };
  Edge previous = edgeAt(first);
  int reversals = 0;
  int windings = 0;
  for (std::int32_t step = 1; step <= n; ++step) {
    const Edge e = edgeAt((first + step) % n);
    if (e.dx == 0 && e.dy == 0) continue;
    const i128 cross = static_cast<i128>(previous.dx) * e.dy - static_cast<i128>(previous.dy) * e.dx;
    if (cross < 0) return 0;
    if (cross == 0) {
      const i128 dot = static_cast<i128>(previous.dx) * e.dx + static_cast<i128>(previous.dy) * e.dy;
      if (dot < 0 && ++reversals > 2) return 0;
    }
    if (!upper(previous) && upper(e)) ++windings;
    previous = e;
  }
  return windings == 1 ? 1 : 0;
}

std::int32_t RmfMulDivRound(std::int32_t a, std::int32_t b, std::int32_t c) {
  if (c == 0) return 0;
  // |a| |b| + |c| / 2 in 64 bits, divided by |c| (64 by 32 bits).
  const std::uint32_t ua = a < 0 ? 0u - static_cast<std::uint32_t>(a) : static_cast<std::uint32_t>(a);
  const std::uint32_t ub = b < 0 ? 0u - static_cast<std::uint32_t>(b) : static_cast<std::uint32_t>(b);
  const std::uint32_t uc = c < 0 ? 0u - static_cast<std::uint32_t>(c) : static_cast<std::uint32_t>(c);
  TiUx product{};
  TiUxMulUlUl(&product, ua, ub);
  TiUx sum{};
  TiUxAddUxUl(&sum, product.low, product.high, uc / 2);
  TiUx quotient{};
  TiQRDivUxUl(&quotient, nullptr, sum.low, sum.high, uc);
  const bool negative = ((a < 0) ^ (b < 0) ^ (c < 0)) != 0;
  if (quotient.high != 0 || quotient.low > (negative ? 0x80000000u : 0x7fffffffu)) {
    return negative ? INT32_MIN : INT32_MAX;
  }
  return negative ? static_cast<std::int32_t>(0u - quotient.low) : static_cast<std::int32_t>(quotient.low);
}
