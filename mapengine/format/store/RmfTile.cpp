// Tile ids, tile rectangles and the tile ranges that cover an area.
//
// A point (x, y) maps to 32-bit grid coordinates X = 16 x and
// Y = 16 y - 2^30 (both modulo 2^32): the world then fills the upper half of
// Y, and a cell of level L is the top 16 - L bits of X and of Y. The Hilbert
// index of those bits, with the top quadrant digit (always 1 or 2 inside the
// world) moved down to start at zero, is the code of the tile id.
#include "mapengine/format/store/RmfTile.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <utility>

#include "mapengine/format/RmfResult.h"
#include "mapengine/format/base/TiGeometry.h"
#include "mapengine/format/base/TiMath.h"
#include "mapengine/format/base/TiUnits.h"

namespace {

constexpr std::int32_t kWorldHalfWidth = 1 << 27;
constexpr std::int32_t kWorldHalfHeight = 1 << 26;
constexpr std::uint32_t kCurveOffset = 0x40000000;  // the quadrants before the world's
constexpr std::uint32_t kSouthRow = 0x80000000;     // Y of the southernmost cells

// --- Hilbert curve, four bit pairs at a time ---------------------------------
//
// Walking down the curve, the orientation of the current square is one of
// four transforms of the coordinates: bit 0 swaps x and y, bit 1 complements
// both. They commute, so combining two is an XOR of their codes. At each
// scale the quadrant (rx, ry), read in the current orientation, gives the
// digit (3 rx) XOR ry, and the quadrants with ry = 0 turn the orientation:
// (0, 0) swaps, (1, 0) swaps and complements.

constexpr std::uint32_t Turn(std::uint32_t rx, std::uint32_t ry) { return ry != 0 ? 0 : (rx != 0 ? 3 : 1); }

// kEncode[state][x nibble << 4 | y nibble] = digits (8 bits) | next state << 8.
constexpr std::array<std::array<std::uint16_t, 256>, 4> MakeEncode() {
  std::array<std::array<std::uint16_t, 256>, 4> table{};
  for (std::uint32_t start = 0; start < 4; ++start)
    for (std::uint32_t xy = 0; xy < 256; ++xy) {
      std::uint32_t state = start;
      std::uint32_t digits = 0;
      for (int bit = 3; bit >= 0; --bit) {
        std::uint32_t rx = (xy >> (4 + bit)) & 1;
        std::uint32_t ry = (xy >> bit) & 1;
        if (state & 2) {
          rx ^= 1;
          ry ^= 1;
        }
        if (state & 1) std::swap(rx, ry);
        digits = (digits << 2) | ((3 * rx) ^ ry);
        state ^= Turn(rx, ry);
      }
      table[start][xy] = static_cast<std::uint16_t>(digits | state << 8);
    }
  return table;
}

// kDecode[state][digits] = x nibble << 4 | y nibble | next state << 8.
constexpr std::array<std::array<std::uint16_t, 256>, 4> MakeDecode() {
  std::array<std::array<std::uint16_t, 256>, 4> table{};
  for (std::uint32_t start = 0; start < 4; ++start)
    for (std::uint32_t digits = 0; digits < 256; ++digits) {
      std::uint32_t state = start;
      std::uint32_t x = 0;
      std::uint32_t y = 0;
      for (int pair = 3; pair >= 0; --pair) {
        const std::uint32_t digit = (digits >> (2 * pair)) & 3;
        const std::uint32_t rx = digit >> 1;
        const std::uint32_t ry = (digit ^ rx) & 1;
        // Each transform undoes itself.
        std::uint32_t ox = rx;
        std::uint32_t oy = ry;
        if (state & 1) std::swap(ox, oy);
        if (state & 2) {
          ox ^= 1;
          oy ^= 1;
        }
        x = (x << 1) | ox;
        y = (y << 1) | oy;
        state ^= Turn(rx, ry);
      }
      table[start][digits] = static_cast<std::uint16_t>(x << 4 | y | state << 8);
    }
  return table;
}

constexpr auto kEncode = MakeEncode();
constexpr auto kDecode = MakeDecode();

// Hilbert index of (x, y) on the 2^16 x 2^16 grid.
std::uint32_t HilbertIndex(std::uint32_t x, std::uint32_t y) {
  std::uint32_t state = 0;
  std::uint32_t d = 0;
  for (int shift = 12; shift >= 0; shift -= 4) {
    const std::uint32_t e = kEncode[state][((x >> shift) & 0xF) << 4 | ((y >> shift) & 0xF)];
    d = (d << 8) | (e & 0xFF);
    state = e >> 8;
  }
  return d;
}

// The cell (x, y) on the 2^16 x 2^16 grid at Hilbert index d.
void HilbertCell(std::uint32_t d, std::uint32_t* x, std::uint32_t* y) {
  std::uint32_t state = 0;
  *x = 0;
  *y = 0;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const std::uint32_t e = kDecode[state][(d >> shift) & 0xFF];
    *x = (*x << 4) | ((e >> 4) & 0xF);
    *y = (*y << 4) | (e & 0xF);
    state = e >> 8;
  }
}

// --- Ids ---------------------------------------------------------------------

constexpr std::uint32_t Prefix(std::uint32_t level) { return level == 0 ? 0u : ~0u << (32 - level); }

// The code bits of a level: 31 - 2L of them below 15, none for the world.
constexpr std::uint32_t CodeMask(std::uint32_t level) {
  return level >= 15 ? 0u : (1u << (31 - 2 * level)) - 1;
}

std::int32_t LevelOf(std::uint32_t id) {
  const auto level = static_cast<std::uint32_t>(std::min(std::countl_one(id), 15));
  if ((id & ~(Prefix(level) | CodeMask(level))) != 0) return kRmfBadArgument;
  return static_cast<std::int32_t>(level);
}

// Grid coordinates of a point. The latitude is held inside the world (the
// north pole, 2^26, would otherwise give Y = 0 and wrap into ids of the
// southern edge); the longitude wraps by itself, modulo one turn.
struct Grid {
  std::uint32_t X;
  std::uint32_t Y;
};

Grid GridOf(const TiPoint& p) {
  const std::int32_t y = std::clamp(p.y, -kWorldHalfHeight, kWorldHalfHeight - 1);
  return Grid{static_cast<std::uint32_t>(p.x) << 4, (static_cast<std::uint32_t>(y) << 4) - kCurveOffset};
}

// Id of the level-L (0..14) tile whose cell holds grid point (X, Y).
std::uint32_t IdOfGrid(std::uint32_t X, std::uint32_t Y, std::uint32_t level) {
  const std::uint32_t shift = 2 * level;
  // The index of the 16-bit cell starts with the digits of its level-L cell.
  const std::uint32_t h = HilbertIndex(X >> 16, Y >> 16) & ~((1u << shift) - 1);
  return Prefix(level) | ((h - kCurveOffset) >> shift);
}

constexpr TiRect kWorldRect{-kWorldHalfWidth, -kWorldHalfHeight, kWorldHalfWidth, kWorldHalfHeight};

// The tile's rectangle; the id must be valid (level from LevelOf).
TiRect RectOf(std::uint32_t id, std::uint32_t level) {
  if (level == 15) return kWorldRect;
  const std::uint32_t shift = 2 * level;
  std::uint32_t x = 0;
  std::uint32_t y = 0;
  HilbertCell(((id & CodeMask(level)) << shift) + kCurveOffset, &x, &y);
  const std::uint32_t cellMask = ~((1u << level) - 1);
  const std::uint32_t X0 = (x & cellMask) << 16;
  const std::uint32_t Y0 = (y & cellMask) << 16;
  const std::int32_t minX = static_cast<std::int32_t>(X0) >> 4;
  const std::int32_t minY = static_cast<std::int32_t>(Y0 + kCurveOffset) >> 4;
  const std::int32_t extent = (5120 << level) - 1;
  return TiRect{minX, minY, minX + extent, minY + extent};
}

// The level-0 positions (codes at level 0) that a valid tile covers.
void Level0Span(std::uint32_t id, std::uint32_t level, std::uint32_t* first, std::uint32_t* last) {
  if (level == 15) {
    *first = 0;
    *last = CodeMask(0);
    return;
  }
  *first = (id & CodeMask(level)) << (2 * level);
  *last = *first + ((1u << (2 * level)) - 1);
}

// --- Covering an area ----------------------------------------------------------

constexpr std::int32_t kTurn = static_cast<std::int32_t>(kTiFullTurn);  // one turn of longitude

// How the area lies against a tile of level 0..15. Longitude 2^27 is -2^27:
// the easternmost column's tiles reach a quarter cell past it, over the
// westernmost cells, and the westernmost column starts on it. Those tiles are
// asked about one turn west (or east) as well, so that an area at the date
// line meets the tiles that the tiles around a point there name; the answer
// that meets more of the tile counts.
std::int32_t ClassifyTile(const TiRect& rect, std::uint32_t level, RmfTileClassifyFn classify, void* context) {
  const std::int32_t relation = classify(&rect, context);
  if (level == 15 || relation < 0 || relation >= 2) return relation;
  std::int32_t shift = 0;
  if (rect.x2 >= kWorldHalfWidth) {
    shift = -kTurn;
  } else if (rect.x1 <= -kWorldHalfWidth) {
    shift = kTurn;
  } else {
    return relation;
  }
  const TiRect moved{rect.x1 + shift, rect.y1, rect.x2 + shift, rect.y2};
  const std::int32_t other = classify(&moved, context);
  if (other < 0 || other > 2) return other;
  return std::max(relation, other);
}

std::int32_t CompareRanges(const void* a, const void* b, void*) {
  const auto* ra = static_cast<const RmfTileRange*>(a);
  const auto* rb = static_cast<const RmfTileRange*>(b);
  if (ra->first != rb->first) return ra->first < rb->first ? -1 : 1;
  if (ra->last != rb->last) return ra->last < rb->last ? -1 : 1;
  return 0;
}

// Joins the tiles of a cover into ranges as they come, level by level. The
// walk hands over the ids of each level in ascending order, so a range is
// final as soon as an id of its level does not touch it: it goes into the
// caller's list, or is only counted once the list is full. The count is then
// exactly the room the whole list takes.
class RangeJoiner {
 public:
  RangeJoiner(RmfTileRange* out, std::int32_t capacity) : out_(out), capacity_(capacity) {}

  // Adds first .. last of `level`; first lies beyond every id of the level
  // added before.
  void Add(std::uint32_t level, std::uint32_t first, std::uint32_t last) {
    RmfTileRange& run = open_[level];
    if (isOpen_[level] && first <= run.last + 1) {
      run.last = std::max(run.last, last);
      return;
    }
    if (isOpen_[level]) Keep(run);
    run = RmfTileRange{first, last};
    isOpen_[level] = true;
  }

  // The result as the covering functions return it: the number of ranges,
  // more than the capacity when they did not all fit.
  std::int32_t Finish(std::int32_t* needed) {
    for (std::uint32_t level = 0; level < 16; ++level) {
      if (isOpen_[level]) Keep(open_[level]);
      isOpen_[level] = false;
    }
    if (stored_ > 1) {
      RmfTileRange scratch{};
      // Refuses only null arrays or negative counts, which cannot reach here.
      (void)TiSort(out_, stored_, sizeof(RmfTileRange), &scratch, CompareRanges, nullptr);
    }
    const auto total = static_cast<std::int32_t>(std::min<std::int64_t>(total_, INT32_MAX));
    if (needed) *needed = total;
    return total;
  }

 private:
  void Keep(const RmfTileRange& run) {
    if (stored_ < capacity_) out_[stored_++] = run;
    ++total_;
  }

  RmfTileRange* out_;
  std::int32_t capacity_;
  std::int32_t stored_ = 0;
  std::int64_t total_ = 0;
  RmfTileRange open_[16]{};
  bool isOpen_[16]{};
};

// Walks the tile tree from the world down to the lowest wanted level, depth
// first and each tile's children in id order, so that the ids of every level
// come in ascending order. It descends only into tiles the area covers
// partly. Tiles of wanted levels that meet the area are collected; a tile
// wholly inside brings all of its descendants at the wanted levels below it
// at once.
std::int32_t Cover(std::uint32_t levelMask, RmfTileRange* ranges, std::int32_t capacity,
                   const volatile std::int32_t* cancel, std::int32_t* needed, RmfTileClassifyFn classify,
                   void* context) {
  levelMask &= 0xFFFF;
  if (levelMask == 0) {
    if (needed) *needed = 0;
    return 0;
  }
  const auto lowest = static_cast<std::uint32_t>(std::countr_zero(levelMask));
  const auto wanted = [levelMask](std::uint32_t level) { return ((levelMask >> level) & 1) != 0; };

  RangeJoiner joiner(ranges, capacity);
  // The sibling groups being walked, one per level from the world down: the
  // next id of the group and its last.
  struct Group {
    std::uint32_t next;
    std::uint32_t last;
    std::uint32_t level;
  };
  Group groups[16];
  int depth = 0;
  groups[depth++] = Group{kRmfWorldTileId, kRmfWorldTileId, 15};
  if (cancel && *cancel != 0) return kRmfCancelled;

  while (depth > 0) {
    Group& group = groups[depth - 1];
    if (group.next > group.last) {
      --depth;
      continue;
    }
    const std::uint32_t id = group.next++;
    const std::uint32_t level = group.level;
    const TiRect rect = RectOf(id, level);
    const std::int32_t relation = ClassifyTile(rect, level, classify, context);
    if (relation < 0 || relation > 2) return kRmfMalformed;
    if (relation == 0) continue;
    if (wanted(level)) joiner.Add(level, id, id);
    if (relation == 2) {
      for (std::uint32_t below = lowest; below < level; ++below) {
        if (!wanted(below)) continue;
        RmfTileRange all{};
        if (RmfTileIdRange(id, below, &all) != 1) return kRmfMalformed;
        joiner.Add(below, all.first, all.last);
      }
    } else if (level > lowest) {
      // A level per group: 16 groups are never exceeded.
      if (depth == 16) return kRmfMalformed;
      if (cancel && *cancel != 0) return kRmfCancelled;
      Group& children = groups[depth++];
      if (RmfTileChildren(id, &children.next, &children.last) < 1) return kRmfMalformed;
      children.level = level - 1;
    }
  }
  return joiner.Finish(needed);
}

struct PolygonArea {
  const TiPoint* points;
  std::int32_t count;
};

std::int32_t ClassifyPolygon(const TiRect* tile, void* context) {
  const auto* area = static_cast<const PolygonArea*>(context);
  return TiPolygonIntersect(area->points, area->count, tile);
}

std::int32_t ClassifyRect(const TiRect* tile, void* context) {
  const auto* r = static_cast<const TiRect*>(context);
  if (tile->x2 < r->x1 || tile->x1 > r->x2 || tile->y2 < r->y1 || tile->y1 > r->y2) return 0;
  if (r->x1 <= tile->x1 && tile->x2 <= r->x2 && r->y1 <= tile->y1 && tile->y2 <= r->y2) return 2;
  return 1;
}

}  // namespace

std::int32_t RmfTileLevel(std::uint32_t id) { return LevelOf(id); }

std::uint32_t RmfTileIdOfPoint(const TiPoint* point, std::uint32_t level) {
  if (!point || level > 15) return 0xFFFFFFFFu;
  if (level == 15) return kRmfWorldTileId;
  const Grid g = GridOf(*point);
  return IdOfGrid(g.X, g.Y, level);
}

std::int32_t RmfTileRect(std::uint32_t id, TiRect* out) {
  const std::int32_t level = LevelOf(id);
  if (level < 0 || !out) return kRmfBadArgument;
  *out = RectOf(id, static_cast<std::uint32_t>(level));
  return 1;
}

std::int32_t RmfTileChildren(std::uint32_t id, std::uint32_t* first, std::uint32_t* last) {
  const std::int32_t level = LevelOf(id);
  if (level < 0 || !first || !last) return kRmfBadArgument;
  if (level == 0) {
    *first = *last = id;
    return 0;
  }
  if (level == 15) {
    *first = Prefix(14);
    *last = Prefix(14) | CodeMask(14);
    return 8;
  }
  const auto L = static_cast<std::uint32_t>(level);
  *first = Prefix(L - 1) | ((id & ~Prefix(L)) << 2);
  *last = *first | 3;
  return 4;
}

std::int32_t RmfTileIdRange(std::uint32_t id, std::uint32_t level, RmfTileRange* out) {
  const std::int32_t own = LevelOf(id);
  if (level > 15 || !out || own < 0) return -1;
  const auto L = static_cast<std::uint32_t>(own);
  const std::uint32_t code = id & CodeMask(L);
  if (level == L) {
    out->first = out->last = id;
  } else if (level == 15) {
    out->first = out->last = kRmfWorldTileId;
  } else if (level > L) {
    out->first = out->last = Prefix(level) | (code >> (2 * (level - L)));
  } else if (L == 15) {
    out->first = Prefix(level);
    out->last = Prefix(level) | CodeMask(level);
  } else {
    out->first = Prefix(level) | (code << (2 * (L - level)));
    out->last = out->first + ((1u << (2 * (L - level))) - 1);
  }
  return 1;
}

std::int32_t RmfTilesAroundPoint(const TiPoint* point, std::uint32_t level, std::uint32_t* ids) {
  if (!point || !ids || level > 15) return kRmfBadArgument;
  if (level == 15) {
    ids[0] = kRmfWorldTileId;
    return 1;
  }
  const Grid g = GridOf(*point);
  const std::uint32_t cell = 1u << (16 + level);
  const std::uint32_t quarter = cell >> 2;
  const bool left = (g.X & (cell - 1)) < quarter;
  const bool below = (g.Y & (cell - 1)) < quarter && (g.Y & ~(cell - 1)) != kSouthRow;
  // X - cell wraps around the date line by itself.
  const std::uint32_t leftX = g.X - cell;
  const std::uint32_t belowY = g.Y - cell;
  int count = 0;
  if (left) {
    if (below) ids[count++] = IdOfGrid(leftX, belowY, level);
    ids[count++] = IdOfGrid(leftX, g.Y, level);
  }
  if (below) ids[count++] = IdOfGrid(g.X, belowY, level);
  ids[count++] = IdOfGrid(g.X, g.Y, level);
  return count;
}

std::int32_t RmfTilesSameSet(const TiPoint* a, const TiPoint* b, std::uint32_t level) {
  if (!a && !b) return 1;
  if (!a || !b) return 0;
  if (level >= 15) return 1;
  const Grid ga = GridOf(*a);
  const Grid gb = GridOf(*b);
  // Quarter blocks never straddle a quarter line, so one block means one set.
  const std::uint32_t quarterShift = 14 + level;
  if ((ga.X >> quarterShift) == (gb.X >> quarterShift) && (ga.Y >> quarterShift) == (gb.Y >> quarterShift))
    return 1;
  const std::uint32_t cellShift = 16 + level;
  if ((ga.X >> cellShift) != (gb.X >> cellShift) || (ga.Y >> cellShift) != (gb.Y >> cellShift)) return 0;
  const std::uint32_t cell = 1u << cellShift;
  const std::uint32_t quarter = cell >> 2;
  const bool southRow = (ga.Y & ~(cell - 1)) == kSouthRow;
  const bool leftA = (ga.X & (cell - 1)) < quarter;
  const bool leftB = (gb.X & (cell - 1)) < quarter;
  const bool belowA = !southRow && (ga.Y & (cell - 1)) < quarter;
  const bool belowB = !southRow && (gb.Y & (cell - 1)) < quarter;
  return (leftA == leftB && belowA == belowB) ? 1 : 0;
}

std::int32_t RmfTileSpan(std::uint32_t a, std::uint32_t b) {
  const std::int32_t levelA = LevelOf(a);
  const std::int32_t levelB = LevelOf(b);
  if (levelA < 0 || levelB < 0) return -1;
  std::uint32_t firstA = 0, lastA = 0, firstB = 0, lastB = 0;
  Level0Span(a, static_cast<std::uint32_t>(levelA), &firstA, &lastA);
  Level0Span(b, static_cast<std::uint32_t>(levelB), &firstB, &lastB);
  // Level-0 positions are below 2^31, so the difference fits.
  return lastA > firstB ? static_cast<std::int32_t>(lastA - firstB) : 0;
}

std::int32_t RmfTilesForPolygon(const TiPoint* points, std::int32_t count, std::uint32_t levelMask,
                                RmfTileRange* ranges, std::int32_t capacity, std::int32_t* needed) {
  if (!points || count < 1 || !ranges || capacity < 1) return kRmfBadArgument;
  PolygonArea area{points, count};
  return Cover(levelMask, ranges, capacity, nullptr, needed, ClassifyPolygon, &area);
}

std::int32_t RmfTilesForArea(std::uint32_t levelMask, RmfTileRange* ranges, std::int32_t capacity,
                             const volatile std::int32_t* cancel, std::int32_t* needed,
                             RmfTileClassifyFn classify, void* context) {
  if (!ranges || capacity < 1 || !classify) return kRmfBadArgument;
  return Cover(levelMask, ranges, capacity, cancel, needed, classify, context);
}

std::int32_t RmfTilesForRect(const TiRect* rect, std::uint32_t levelMask, RmfTileRange* ranges,
                             std::int32_t capacity, std::int32_t* needed) {
  if (!rect || !ranges || capacity < 1) return kRmfBadArgument;
  TiRect area{std::min(rect->x1, rect->x2), std::min(rect->y1, rect->y2), std::max(rect->x1, rect->x2),
              std::max(rect->y1, rect->y2)};
  return Cover(levelMask, ranges, capacity, nullptr, needed, ClassifyRect, &area);
}

RmfTileRange* RmfTileRangesMerge(RmfTileRange* ranges, RmfTileRange* end) {
  if (!ranges || !end || end <= ranges) return ranges;
  const std::ptrdiff_t count = end - ranges;
  if (count > INT32_MAX) return end;
  RmfTileRange scratch{};
  // Refuses only null arrays or negative counts, which cannot reach here.
  (void)TiSort(ranges, static_cast<std::int32_t>(count), sizeof(RmfTileRange), &scratch, CompareRanges, nullptr);
  // A run joins its predecessor when it starts at or before the id after the
  // predecessor's last, and both are of one level: the last id of level 0 is
  // followed directly by the first of level 1, and a range never spans two
  // levels.
  std::ptrdiff_t kept = 0;
  for (std::ptrdiff_t i = 1; i < count; ++i) {
    RmfTileRange& prev = ranges[kept];
    const RmfTileRange cur = ranges[i];
    const bool touches = cur.first <= prev.last || cur.first - prev.last == 1;
    if (touches && std::min(std::countl_one(prev.first), 15) == std::min(std::countl_one(cur.first), 15)) {
      prev.last = std::max(prev.last, cur.last);
    } else {
      ranges[++kept] = cur;
    }
  }
  return ranges + kept + 1;
}
