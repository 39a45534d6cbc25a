// Cuts features into the pieces that go to single tiles.
//
// A feature that fits a tile rectangle of one of its allowed levels (with
// the quarter-cell overlap) stays whole and goes to the finest such tile. A
// larger one is cut at the cell borders of the coarsest allowed level:
//  - Lines: every segment is cut where it crosses a vertical or horizontal
//    cell border, in order along the segment; consecutive sub-segments of one
//    cell make one run, and neighbouring runs share the cut point.
//  - Areas: the rings (outer ring and holes, turned so that the area lies on
//    their left) are split by one border line after the other, first into
//    columns, then every column into cells. A split keeps the rings of each
//    side that do not cross the line and joins the pieces of the crossing
//    ones along the line: on each side, walking the line with that side on
//    the left, every place where a ring leaves the side is joined to the next
//    place where one enters it. So every piece is a closed ring again, holes
//    that cross a border become notches of the ring around them, and a cell
//    that lies wholly inside the area gets the cell's own outline.
// A point on a border line counts as lying on its upper or right side, as
// the tile grid assigns it, so no vertex ever lies on the line in the
// decisions above; where two crossings meet at one place their order along
// the line is taken as if the line were moved an infinitesimal step down or
// left. Cut points get the border's exact coordinate and the other one
// rounded half away from zero, so a piece lies in its closed cell and shares
// its cut points with its neighbour bit for bit. Every piece then goes to
// the finest allowed tile that holds it.
#include "tools/rmfbuild/RmfFeatureCut.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "mapengine/format/store/RmfTile.h"

namespace rmfbuild::detail {
namespace {

using I64 = std::int64_t;

// Cells an area may span at its cut level; more would take too long and is
// certainly a fixture given a tile level too fine for its size.
constexpr I64 kMaxAreaCells = 1 << 16;

I64 FloorDiv(I64 a, I64 b) {
  I64 q = a / b;
  if (a % b != 0 && ((a < 0) != (b < 0))) --q;
  return q;
}

// num / den rounded half away from zero (den > 0).
I64 RoundDiv(I64 num, I64 den) {
  if (num >= 0) return (2 * num + den) / (2 * den);
  return -((-2 * num + den) / (2 * den));
}

I64 CellSize(int level) { return I64{4096} << level; }

TiRect BoxOf(const std::vector<TiPoint>& points) {
  TiRect box{points[0].x, points[0].y, points[0].x, points[0].y};
  for (const TiPoint& p : points) {
    box.x1 = std::min(box.x1, p.x);
    box.y1 = std::min(box.y1, p.y);
    box.x2 = std::max(box.x2, p.x);
    box.y2 = std::max(box.y2, p.y);
  }
  return box;
}

TiRect Union(const TiRect& a, const TiRect& b) {
  return TiRect{std::min(a.x1, b.x1), std::min(a.y1, b.y1), std::max(a.x2, b.x2), std::max(a.y2, b.y2)};
}

// The finest tile of the levels finest..coarsest whose rectangle holds the
// box. If any tile of a level holds it, the one whose cell holds the box's
// lower-left corner does, since rectangles only reach into the right and
// upper neighbours.
bool PlaceBox(const TiRect& box, int finest, int coarsest, std::uint32_t* id, std::int32_t* level) {
  for (int l = finest; l <= coarsest; ++l) {
    TiPoint corner{box.x1, box.y1};
    const std::uint32_t t = RmfTileIdOfPoint(&corner, static_cast<std::uint32_t>(l));
    TiRect r{};
    if (RmfTileRect(t, &r) != 1) continue;
    if (box.x1 >= r.x1 && box.y1 >= r.y1 && box.x2 <= r.x2 && box.y2 <= r.y2) {
      *id = t;
      *level = l;
      return true;
    }
  }
  return false;
}

std::vector<TiPoint> OpenRing(const std::vector<TiPoint>& ring) {
  std::vector<TiPoint> open = ring;
  if (open.size() > 1 && TiSamePoint(open.front(), open.back())) open.pop_back();
  return open;
}

// ---- lines ---------------------------------------------------------------------------

struct Stop {
  TiPoint at{};
  int vertex = -1;  // source vertex, -1 for a cut point
  double pos = 0;   // along the source line
  I64 kx = 0;       // cell of the sub-segment that starts here
  I64 ky = 0;
};

void AddStop(std::vector<Stop>& stops, const Stop& s) {
  // A stop on the last one (a cut through a vertex, or a cut point rounded
  // onto it) only changes the cell that follows.
  if (!stops.empty() && TiSamePoint(stops.back().at, s.at)) {
    Stop& last = stops.back();
    last.kx = s.kx;
    last.ky = s.ky;
    if (s.vertex >= 0) {
      last.vertex = s.vertex;
      last.pos = s.pos;
    }
    return;
  }
  stops.push_back(s);
}

struct Cut {
  I64 tn = 0;  // the cut lies at t = tn / td along the segment (td > 0)
  I64 td = 1;
  bool vertical = false;  // crosses x = x
  bool horizontal = false;  // crosses y = y
  I64 x = 0;
  I64 y = 0;
};

CutResult CutLine(const std::vector<TiPoint>& points, int finest, int level) {
  CutResult out;
  const I64 c = CellSize(level);
  std::vector<Stop> stops;
  I64 kx = FloorDiv(points[0].x, c);
  I64 ky = FloorDiv(points[0].y, c);
  AddStop(stops, Stop{points[0], 0, 0.0, kx, ky});
  for (std::size_t i = 0; i + 1 < points.size(); ++i) {
    const TiPoint a = points[i];
    const TiPoint b = points[i + 1];
    const I64 dx = I64{b.x} - a.x;
    const I64 dy = I64{b.y} - a.y;
    std::vector<Cut> cuts;
    // A border line v = V is crossed when exactly one end lies at or above it.
    if (dx != 0) {
      const I64 lo = std::min(a.x, b.x), hi = std::max(a.x, b.x);
      for (I64 k = FloorDiv(lo, c) + 1; k <= FloorDiv(hi, c); ++k) {
        Cut cut;
        cut.vertical = true;
        cut.x = k * c;
        cut.tn = (cut.x - a.x) * (dx > 0 ? 1 : -1);
        cut.td = std::abs(dx);
        cuts.push_back(cut);
      }
    }
    if (dy != 0) {
      const I64 lo = std::min(a.y, b.y), hi = std::max(a.y, b.y);
      for (I64 k = FloorDiv(lo, c) + 1; k <= FloorDiv(hi, c); ++k) {
        Cut cut;
        cut.horizontal = true;
        cut.y = k * c;
        cut.tn = (cut.y - a.y) * (dy > 0 ? 1 : -1);
        cut.td = std::abs(dy);
        cuts.push_back(cut);
      }
    }
    // Order along the segment; a cut through a cell corner crosses both lines at once.
    std::stable_sort(cuts.begin(), cuts.end(),
                     [](const Cut& p, const Cut& q) { return p.tn * q.td < q.tn * p.td; });
    for (std::size_t k = 0; k < cuts.size(); ++k) {
      Cut cut = cuts[k];
      while (k + 1 < cuts.size() && cuts[k + 1].tn * cut.td == cut.tn * cuts[k + 1].td) {
        const Cut& other = cuts[++k];
        if (other.vertical) {
          cut.vertical = true;
          cut.x = other.x;
        }
        if (other.horizontal) {
          cut.horizontal = true;
          cut.y = other.y;
        }
      }
      TiPoint at{};
      if (cut.vertical && cut.horizontal) {
        at = TiPoint{static_cast<std::int32_t>(cut.x), static_cast<std::int32_t>(cut.y)};
      } else if (cut.vertical) {
        I64 num = (cut.x - a.x) * dy, den = dx;
        if (den < 0) num = -num, den = -den;
        at = TiPoint{static_cast<std::int32_t>(cut.x), static_cast<std::int32_t>(a.y + RoundDiv(num, den))};
      } else {
        I64 num = (cut.y - a.y) * dx, den = dy;
        if (den < 0) num = -num, den = -den;
        at = TiPoint{static_cast<std::int32_t>(a.x + RoundDiv(num, den)), static_cast<std::int32_t>(cut.y)};
      }
      if (cut.vertical) kx += dx > 0 ? 1 : -1;
      if (cut.horizontal) ky += dy > 0 ? 1 : -1;
      int vertex = -1;
      if (cut.tn == 0) vertex = static_cast<int>(i);
      if (cut.tn == cut.td) vertex = static_cast<int>(i + 1);
      const double pos = static_cast<double>(i) + static_cast<double>(cut.tn) / static_cast<double>(cut.td);
      AddStop(stops, Stop{at, vertex, pos, kx, ky});
    }
    AddStop(stops, Stop{b, static_cast<int>(i + 1), static_cast<double>(i + 1), kx, ky});
  }

  // Runs: consecutive sub-segments of one cell.
  std::size_t start = 0;
  for (std::size_t j = 0; j + 1 < stops.size(); ++j) {
    const bool last = j + 2 == stops.size();
    if (!last && stops[j + 1].kx == stops[start].kx && stops[j + 1].ky == stops[start].ky) continue;
    CutPiece piece;
    for (std::size_t s = start; s <= j + 1; ++s) {
      piece.points.push_back(stops[s].at);
      piece.vertices.push_back(stops[s].vertex);
      piece.positions.push_back(stops[s].pos);
    }
    piece.from = stops[start].pos;
    piece.to = stops[j + 1].pos;
    if (!PlaceBox(BoxOf(piece.points), finest, level, &piece.tileId, &piece.tileLevel)) {
      out.error = "a cut piece of the line fits no tile (internal fault)";
      return out;
    }
    out.pieces.push_back(std::move(piece));
    start = j + 1;
  }
  out.ok = true;
  return out;
}

// ---- areas ---------------------------------------------------------------------------

struct ProcRing {
  std::vector<TiPoint> points;  // area on the left, no closing point
  int origin = -1;              // source ring when it is still whole, else -1
};

// Where an edge crosses a border line, exactly: the coordinate along the
// line is q + r / d, and the edge runs du along the line per dv across it.
struct Crossing {
  TiPoint at{};  // rounded onto the line
  I64 q = 0;
  I64 r = 0;
  I64 d = 1;
  I64 du = 0;
  I64 dv = 1;
};

// axis 0: the line x = v, along it y; axis 1: the line y = v, along it x.
I64 Across(const TiPoint& p, int axis) { return axis == 0 ? p.x : p.y; }
I64 Along(const TiPoint& p, int axis) { return axis == 0 ? p.y : p.x; }
TiPoint Make(I64 along, I64 across, int axis) {
  return axis == 0 ? TiPoint{static_cast<std::int32_t>(across), static_cast<std::int32_t>(along)}
                   : TiPoint{static_cast<std::int32_t>(along), static_cast<std::int32_t>(across)};
}

Crossing CrossingOf(const TiPoint& a, const TiPoint& b, int axis, I64 v) {
  Crossing x;
  I64 dv = Across(b, axis) - Across(a, axis);
  I64 du = Along(b, axis) - Along(a, axis);
  if (dv < 0) dv = -dv, du = -du;
  // Along-coordinate at the line: (ua dv + (v - va) du) / dv.
  const I64 num = Along(a, axis) * dv + (v - Across(a, axis)) * du;
  x.d = dv;
  x.q = FloorDiv(num, dv);
  x.r = num - x.q * dv;
  x.du = du;
  x.dv = dv;
  x.at = Make(RoundDiv(num, dv), v, axis);
  return x;
}

// Order along the line moved an infinitesimal step toward lower values:
// there an edge of steeper slope du/dv crosses lower.
int CompareAlong(const Crossing& a, const Crossing& b) {
  if (a.q != b.q) return a.q < b.q ? -1 : 1;
  const I64 left = a.r * b.d, right = b.r * a.d;
  if (left != right) return left < right ? -1 : 1;
  const I64 sa = a.du * b.dv, sb = b.du * a.dv;
  if (sa != sb) return sa > sb ? -1 : 1;
  return 0;
}

// Drops repeated points and spikes: a point where the ring turns straight
// back along its own line (a hole or an edge lying on a cell border leaves
// such back-and-forth runs along the border), which encloses nothing.
void CleanRing(std::vector<TiPoint>& ring) {
  bool changed = true;
  while (changed && !ring.empty()) {
    changed = false;
    std::vector<TiPoint> kept;
    for (const TiPoint& p : ring) {
      if (!kept.empty() && TiSamePoint(kept.back(), p)) continue;
      kept.push_back(p);
    }
    while (kept.size() > 1 && TiSamePoint(kept.front(), kept.back())) kept.pop_back();
    changed = kept.size() != ring.size();
    ring = std::move(kept);
    const std::size_t n = ring.size();
    if (n < 3) {
      ring.clear();  // two points or fewer enclose nothing
      return;
    }
    for (std::size_t i = 0; i < n; ++i) {
      const TiPoint& a = ring[(i + n - 1) % n];
      const TiPoint& b = ring[i];
      const TiPoint& c = ring[(i + 1) % n];
      const I64 ux = I64{b.x} - a.x, uy = I64{b.y} - a.y, vx = I64{c.x} - b.x, vy = I64{c.y} - b.y;
      if (ux * vy - uy * vx == 0 && ux * vx + uy * vy < 0) {
        ring.erase(ring.begin() + static_cast<std::ptrdiff_t>(i));
        changed = true;
        break;
      }
    }
  }
}

// Splits rings at the border line across = v into the parts below it (less)
// and at or above it.
bool SplitRings(const std::vector<ProcRing>& rings, int axis, I64 v, std::vector<ProcRing>* low,
                std::vector<ProcRing>* high, std::string* error) {
  struct Chain {
    std::vector<TiPoint> points;  // entry point, the ring's points on the side, exit point
    Crossing entry;
    Crossing exit;
    bool high = false;
  };
  std::vector<Chain> chains;
  for (const ProcRing& ring : rings) {
    const std::size_t n = ring.points.size();
    std::vector<char> up(n);
    std::size_t ups = 0;
    for (std::size_t i = 0; i < n; ++i) {
      up[i] = Across(ring.points[i], axis) >= v;
      ups += up[i] ? 1 : 0;
    }
    if (ups == n) {
      high->push_back(ring);
      continue;
    }
    if (ups == 0) {
      low->push_back(ring);
      continue;
    }
    std::vector<Crossing> crossing(n);
    std::vector<char> crosses(n, 0);
    std::size_t first = n;
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t j = (i + 1) % n;
      if (up[i] == up[j]) continue;
      crosses[i] = 1;
      crossing[i] = CrossingOf(ring.points[i], ring.points[j], axis, v);
      if (first == n) first = i;
    }
    std::size_t i = first;
    do {
      Chain chain;
      chain.high = up[(i + 1) % n] != 0;
      chain.entry = crossing[i];
      chain.points.push_back(crossing[i].at);
      std::size_t k = (i + 1) % n;
      while (!crosses[k]) {
        chain.points.push_back(ring.points[k]);
        k = (k + 1) % n;
      }
      chain.points.push_back(ring.points[k]);
      chain.exit = crossing[k];
      chain.points.push_back(crossing[k].at);
      chains.push_back(std::move(chain));
      i = k;
    } while (i != first);
  }
  if (chains.empty()) return true;

  for (int side = 0; side < 2; ++side) {
    const bool highSide = side == 1;
    struct Event {
      const Crossing* at;
      bool exit;
      std::size_t chain;
    };
    std::vector<Event> events;
    for (std::size_t c = 0; c < chains.size(); ++c) {
      if (chains[c].high != highSide) continue;
      events.push_back(Event{&chains[c].entry, false, c});
      events.push_back(Event{&chains[c].exit, true, c});
    }
    if (events.empty()) continue;
    // Walk the line with this side on the left: upward along x = v for the
    // lower side, downward for the upper; leftward along y = v for the lower
    // side, rightward for the upper.
    const bool ascending = (axis == 0) != highSide;
    std::stable_sort(events.begin(), events.end(), [ascending](const Event& a, const Event& b) {
      int order = CompareAlong(*a.at, *b.at);
      if (!ascending) order = -order;
      if (order != 0) return order < 0;
      return a.exit && !b.exit;  // at one place a leaving ring joins the entering one
    });
    std::vector<std::size_t> next(chains.size(), chains.size());
    for (std::size_t e = 0; e < events.size(); e += 2) {
      if (!events[e].exit || events[e + 1].exit) {
        *error = "area rings cross each other or a hole lies outside its area";
        return false;
      }
      next[events[e].chain] = events[e + 1].chain;
    }
    std::vector<char> used(chains.size(), 0);
    for (std::size_t c = 0; c < chains.size(); ++c) {
      if (chains[c].high != highSide || used[c]) continue;
      ProcRing ring;
      std::size_t k = c;
      do {
        used[k] = 1;
        ring.points.insert(ring.points.end(), chains[k].points.begin(), chains[k].points.end());
        k = next[k];
      } while (k != c && k < chains.size() && !used[k]);
      if (k != c) {
        *error = "area rings cannot be closed along a cell border (internal fault)";
        return false;
      }
      CleanRing(ring.points);
      if (ring.points.size() >= 3 && RingArea2(ring.points) != 0) {
        (highSide ? high : low)->push_back(std::move(ring));
      }
    }
  }
  return true;
}

struct CellRings {
  std::vector<ProcRing> rings;
};

bool SplitIntoCells(std::vector<ProcRing> rings, int level, std::vector<CellRings>* cells, std::string* error) {
  const I64 c = CellSize(level);
  TiRect box = BoxOf(rings[0].points);
  for (const ProcRing& r : rings) box = Union(box, BoxOf(r.points));
  const I64 kx0 = FloorDiv(box.x1, c), kx1 = FloorDiv(box.x2, c);
  const I64 ky0 = FloorDiv(box.y1, c), ky1 = FloorDiv(box.y2, c);
  if ((kx1 - kx0 + 1) * (ky1 - ky0 + 1) > kMaxAreaCells) {
    *error = "area spans " + std::to_string((kx1 - kx0 + 1) * (ky1 - ky0 + 1)) + " cells of tile level " +
             std::to_string(level) + "; give its detail level a coarser tile level";
    return false;
  }
  std::vector<ProcRing> rest = std::move(rings);
  for (I64 kx = kx0; kx <= kx1 && !rest.empty(); ++kx) {
    std::vector<ProcRing> column, right;
    if (kx < kx1) {
      if (!SplitRings(rest, 0, (kx + 1) * c, &column, &right, error)) return false;
    } else {
      column = std::move(rest);
    }
    rest = std::move(right);
    for (I64 ky = ky0; ky <= ky1 && !column.empty(); ++ky) {
      std::vector<ProcRing> cell, above;
      if (ky < ky1) {
        if (!SplitRings(column, 1, (ky + 1) * c, &cell, &above, error)) return false;
      } else {
        cell = std::move(column);
      }
      column = std::move(above);
      if (!cell.empty()) cells->push_back(CellRings{std::move(cell)});
    }
  }
  return true;
}

// The mark a ring calls for: '+' with the area on its right, '-' on its left.
char NaturalMark(bool areaOnLeft) { return areaOnLeft ? '-' : '+'; }
char Flip(char mark) { return mark == '+' ? '-' : '+'; }

CutResult CutArea(const Feature& feature, int finest, int coarsest) {
  CutResult out;
  std::vector<std::vector<TiPoint>> given;
  for (const FeatureRing& r : feature.rings) given.push_back(OpenRing(r.points));

  // The marks: as given, else the natural one; when the outer ring's given
  // mark is the other one, the feature keeps that inverted relation.
  const bool outerLeft = RingArea2(given[0]) > 0;
  const bool inverted = feature.rings[0].mark != 0 && feature.rings[0].mark != NaturalMark(outerLeft);
  std::vector<char> marks;
  for (std::size_t i = 0; i < given.size(); ++i) {
    const bool left = (i == 0) == (RingArea2(given[i]) > 0);
    char m = NaturalMark(left);
    if (inverted) m = Flip(m);
    marks.push_back(feature.rings[i].mark != 0 ? feature.rings[i].mark : m);
  }

  TiRect box = BoxOf(given[0]);
  for (const auto& g : given) box = Union(box, BoxOf(g));
  std::uint32_t id = 0;
  std::int32_t level = 0;
  if (PlaceBox(box, finest, coarsest, &id, &level)) {
    for (std::size_t i = 0; i < given.size(); ++i) {
      CutPiece piece;
      piece.tileId = id;
      piece.tileLevel = level;
      piece.whole = true;
      piece.ring = true;
      piece.points = given[i];
      piece.mark = marks[i];
      out.pieces.push_back(std::move(piece));
    }
    out.ok = true;
    return out;
  }

  std::vector<ProcRing> rings;
  for (std::size_t i = 0; i < given.size(); ++i) {
    ProcRing r{given[i], static_cast<int>(i)};
    const bool ccw = RingArea2(r.points) > 0;
    if (ccw != (i == 0)) std::reverse(r.points.begin(), r.points.end());
    rings.push_back(std::move(r));
  }
  std::vector<CellRings> cells;
  if (!SplitIntoCells(std::move(rings), coarsest, &cells, &out.error)) return out;

  // Rings made by cutting are written in the outer ring's turn and with its mark.
  const char madeMark = marks[0];
  for (CellRings& cell : cells) {
    TiRect cellBox = BoxOf(cell.rings[0].points);
    for (const ProcRing& r : cell.rings) cellBox = Union(cellBox, BoxOf(r.points));
    if (!PlaceBox(cellBox, finest, coarsest, &id, &level)) {
      out.error = "a cut piece of the area fits no tile (internal fault)";
      return out;
    }
    for (ProcRing& r : cell.rings) {
      CutPiece piece;
      piece.tileId = id;
      piece.tileLevel = level;
      piece.ring = true;
      if (r.origin >= 0) {
        piece.points = given[static_cast<std::size_t>(r.origin)];
        piece.mark = marks[static_cast<std::size_t>(r.origin)];
      } else {
        piece.points = std::move(r.points);
        if (!outerLeft) std::reverse(piece.points.begin(), piece.points.end());
        piece.mark = madeMark;
      }
      out.pieces.push_back(std::move(piece));
    }
  }
  out.ok = true;
  return out;
}

bool InWorld(const TiPoint& p) {
  return p.x >= kWorldMinX && p.x <= kWorldMaxX && p.y >= kWorldMinY && p.y <= kWorldMaxY;
}

std::string PointText(const TiPoint& p) { return std::to_string(p.x) + "," + std::to_string(p.y); }

}  // namespace

std::int64_t RingArea2(const std::vector<TiPoint>& ring) {
  if (ring.size() < 3) return 0;
  // Differences from the first point keep each product below 2^56; the sum is
  // taken modulo 2^64, exact because the result (at most twice the world's
  // area) fits.
  std::uint64_t sum = 0;
  const I64 x0 = ring[0].x, y0 = ring[0].y;
  for (std::size_t i = 1; i + 1 < ring.size(); ++i) {
    const I64 ax = ring[i].x - x0, ay = ring[i].y - y0;
    const I64 bx = ring[i + 1].x - x0, by = ring[i + 1].y - y0;
    sum += static_cast<std::uint64_t>(ax * by) - static_cast<std::uint64_t>(ay * bx);
  }
  return static_cast<std::int64_t>(sum);
}

std::string CheckTileLevels(const std::array<TileLevelRange, 8>& levels) {
  for (std::size_t d = 0; d < levels.size(); ++d) {
    const TileLevelRange& r = levels[d];
    if (r.finest < 0 || r.coarsest > 15 || r.finest > r.coarsest) {
      return "detail level " + std::to_string(d + 1) + ": tile levels " + std::to_string(r.finest) + ".." +
             std::to_string(r.coarsest) + " are not an ascending range within 0..15";
    }
  }
  return {};
}

std::string CheckFeature(const Feature& f) {
  const FeatureClass& c = f.featureClass;
  if (c.level < 1 || c.level > 8) return "detail level " + std::to_string(c.level) + " is not 1..8";
  if (c.classDigit < 1 || c.classDigit > 7) return "class " + std::to_string(c.classDigit) + " is not 1..7";
  for (const TiPoint& p : f.points) {
    if (!InWorld(p)) return "point " + PointText(p) + " lies outside the world";
  }
  for (const FeatureRing& r : f.rings) {
    for (const TiPoint& p : r.points) {
      if (!InWorld(p)) return "point " + PointText(p) + " lies outside the world";
    }
  }
  if (c.category != FeatureCategory::kArea) {
    for (const VertexAttribute& a : f.vertexAttributes) {
      if (a.vertex >= f.points.size()) {
        return "vertex attribute names vertex " + std::to_string(a.vertex) + ", beyond the points";
      }
      if (a.before && a.vertex == 0) return "an attribute before vertex 0 belongs to no stretch";
    }
  }
  switch (c.category) {
    case FeatureCategory::kPoint:
      if (f.mark != 0 && f.mark != '+' && f.mark != '-') return "the code has a mark other than + or -";
      if (f.points.size() != 1) return "a point feature needs exactly one point";
      if (!f.rings.empty()) return "a point feature has no rings";
      return {};
    case FeatureCategory::kLine:
    case FeatureCategory::kBoundary:
      if (f.mark != 0 && f.mark != '+' && f.mark != '-') return "the code has a mark other than + or -";
      if (f.points.size() < 2) return "a line needs at least two points";
      if (!f.rings.empty()) return "a line has no rings";
      for (std::size_t i = 0; i + 1 < f.points.size(); ++i) {
        if (TiSamePoint(f.points[i], f.points[i + 1])) {
          return "line repeats point " + PointText(f.points[i]) + " at vertex " + std::to_string(i + 1);
        }
      }
      return {};
    case FeatureCategory::kArea: {
      if (f.rings.empty()) return "an area needs an outer ring";
      if (!f.points.empty()) return "an area has rings, not points";
      if (!f.vertexAttributes.empty()) return "an area has no vertex attributes";
      for (std::size_t i = 0; i < f.rings.size(); ++i) {
        const FeatureRing& r = f.rings[i];
        const std::string which = i == 0 ? "outer ring" : "hole " + std::to_string(i);
        if (r.mark != 0 && r.mark != '+' && r.mark != '-') return which + " has a mark other than + or -";
        const std::vector<TiPoint> open = OpenRing(r.points);
        if (open.size() < 3) return which + " needs at least three corners";
        for (std::size_t k = 0; k < open.size(); ++k) {
          if (TiSamePoint(open[k], open[(k + 1) % open.size()])) {
            return which + " repeats point " + PointText(open[k]);
          }
        }
        if (RingArea2(open) == 0) return which + " encloses no area";
      }
      return {};
    }
  }
  return "category is not one of 0, 1, 2, B";
}

CutResult CutFeature(const Feature& feature, const TileLevelRange& levels) {
  CutResult out;
  const int finest = levels.finest;
  const int coarsest = levels.coarsest;
  if (feature.featureClass.category == FeatureCategory::kArea) return CutArea(feature, finest, coarsest);

  CutPiece whole;
  whole.whole = true;
  whole.points = feature.points;
  for (std::size_t i = 0; i < feature.points.size(); ++i) {
    whole.vertices.push_back(static_cast<int>(i));
    whole.positions.push_back(static_cast<double>(i));
  }
  whole.from = 0;
  whole.to = static_cast<double>(feature.points.size() - 1);
  whole.mark = feature.mark;
  if (PlaceBox(BoxOf(feature.points), finest, coarsest, &whole.tileId, &whole.tileLevel)) {
    out.pieces.push_back(std::move(whole));
    out.ok = true;
    return out;
  }
  if (feature.featureClass.category == FeatureCategory::kPoint) {
    out.error = "point fits no tile (internal fault)";
    return out;
  }
  out = CutLine(feature.points, finest, coarsest);
  for (CutPiece& piece : out.pieces) piece.mark = feature.mark;
  return out;
}

}  // namespace rmfbuild::detail
