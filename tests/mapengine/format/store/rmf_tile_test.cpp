// Tests of tile addressing: tile ids against a plain bit-by-bit Hilbert curve
// written here from integer cell indexes, tile rectangles, parents, children
// and id ranges, the tiles around a point against brute-force containment,
// and the id ranges that cover rectangles and convex polygons against
// brute-force enumeration of the tiles whose rectangles meet the area.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <vector>

#include "mapengine/format/store/RmfTile.h"

#include "tests/mapengine/format/base/ExactGeometryModel.h"

namespace {

constexpr std::int64_t kHalfWidth = std::int64_t{1} << 27;
constexpr std::int64_t kHalfHeight = std::int64_t{1} << 26;
constexpr std::int64_t kTurn = std::int64_t{1} << 28;
constexpr std::uint32_t kWorld = 0xfffe0000u;

// ---- The reference: cells by integer division, a bit-by-bit Hilbert curve ---------------

std::int64_t CellSize(int level) { return std::int64_t{4096} << level; }
std::uint32_t Prefix(int level) { return level == 0 ? 0u : ~0u << (32 - level); }
std::uint32_t CodeMask(int level) { return level >= 15 ? 0u : (1u << (31 - 2 * level)) - 1; }

// The classic xy-to-d walk on a 2^n x 2^n grid, one bit pair at a time.
std::uint64_t RefHilbert(std::uint64_t x, std::uint64_t y, int n) {
  const std::uint64_t side = std::uint64_t{1} << n;
  std::uint64_t d = 0;
  for (std::uint64_t s = side / 2; s > 0; s /= 2) {
    const std::uint64_t rx = (x & s) ? 1 : 0;
    const std::uint64_t ry = (y & s) ? 1 : 0;
    d += s * s * ((3 * rx) ^ ry);
    if (ry == 0) {
      if (rx == 1) {
        x = side - 1 - x;
        y = side - 1 - y;
      }
      std::swap(x, y);
    }
  }
  return d;
}

// A cell of a level: its column counted eastward from longitude 0 (so the
// western hemisphere comes second) and its row counted northward from the
// south pole.
struct Cell {
  std::int64_t column;
  std::int64_t row;
};

Cell CellOf(std::int64_t x, std::int64_t y, int level) {
  const std::int64_t east = ((x % kTurn) + kTurn) % kTurn;
  const std::int64_t north = std::clamp(y, -kHalfHeight, kHalfHeight - 1) + kHalfHeight;
  return Cell{east / CellSize(level), north / CellSize(level)};
}

// The world occupies the upper half of the curve's grid: rows are offset by
// half the grid, and codes count from the first cell of the second quadrant.
std::uint32_t RefId(const Cell& c, int level) {
  if (level == 15) return kWorld;
  const int n = 16 - level;
  const std::uint64_t d = RefHilbert(static_cast<std::uint64_t>(c.column),
                                     static_cast<std::uint64_t>(c.row) + (std::uint64_t{1} << (n - 1)), n);
  return Prefix(level) | static_cast<std::uint32_t>(d - (std::uint64_t{1} << (2 * n - 2)));
}

std::uint32_t RefIdOfPoint(std::int64_t x, std::int64_t y, int level) {
  return RefId(CellOf(x, y, level), level);
}

TiRect RefRect(const Cell& c, int level) {
  std::int64_t x = c.column * CellSize(level);
  if (x >= kHalfWidth) x -= kTurn;
  const std::int64_t y = c.row * CellSize(level) - kHalfHeight;
  const std::int64_t extent = CellSize(level) * 5 / 4 - 1;
  return TiRect{static_cast<std::int32_t>(x), static_cast<std::int32_t>(y),
                static_cast<std::int32_t>(x + extent), static_cast<std::int32_t>(y + extent)};
}

bool Contains(const TiRect& r, std::int64_t x, std::int64_t y) {
  return r.x1 <= x && x <= r.x2 && r.y1 <= y && y <= r.y2;
}

bool SameRect(const TiRect& a, const TiRect& b) {
  return a.x1 == b.x1 && a.y1 == b.y1 && a.x2 == b.x2 && a.y2 == b.y2;
}

TiPoint Pt(std::int64_t x, std::int64_t y) {
  return TiPoint{static_cast<std::int32_t>(x), static_cast<std::int32_t>(y)};
}

// A random point of the world, often close to cell edges of the level so
// that the quarter-overlap rules are exercised.
TiPoint RandomPoint(std::mt19937& gen, int level) {
  const std::int64_t cell = CellSize(level);
  std::int64_t x = static_cast<std::int64_t>(gen() % static_cast<std::uint32_t>(kTurn)) - kHalfWidth;
  std::int64_t y =
      static_cast<std::int64_t>(gen() % static_cast<std::uint32_t>(2 * kHalfHeight + 1)) - kHalfHeight;
  const auto snap = [&](std::int64_t v, std::int64_t low) {
    const std::int64_t base = low + ((v - low) / cell) * cell;
    switch (gen() % 6) {
      case 0:
        return base;
      case 1:
        return base + cell / 4 - 1;
      case 2:
        return base + cell / 4;
      case 3:
        return base + cell - 1;
      case 4:
        return base + static_cast<std::int64_t>(gen() % static_cast<std::uint32_t>(cell / 4));
      default:
        return v;
    }
  };
  x = snap(x, -kHalfWidth);
  y = std::min(snap(y, -kHalfHeight), kHalfHeight);
  return Pt(x, y);
}

// ---- Ids ----------------------------------------------------------------------------------

TEST(RmfTileIdTest, WorkedIds) {
  struct Row {
    TiPoint p;
    std::uint32_t level;
    std::uint32_t id;
  };
  const Row rows[] = {
      {{0, 0}, 0, 0x10000000u},
      {{0, 0}, 1, 0x84000000u},
      {{0, 0}, 5, 0xf8040000u},
      {{0, 0}, 14, 0xfffc0001u},
      {{-1, -1}, 0, 0x70000000u},
      {{-1, -1}, 14, 0xfffc0007u},
      {{(1 << 27) - 1, (1 << 26) - 1}, 0, 0x2aaaaaaau},
      {{(1 << 27) - 1, (1 << 26) - 1}, 14, 0xfffc0002u},
      {{12345, -6789}, 15, kWorld},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(RmfTileIdOfPoint(&r.p, r.level), r.id) << r.p.x << "," << r.p.y << " level " << r.level;
  }
  const TiPoint p{0, 0};
  EXPECT_EQ(RmfTileIdOfPoint(&p, 16), 0xFFFFFFFFu);
  EXPECT_EQ(RmfTileIdOfPoint(nullptr, 3), 0xFFFFFFFFu);
}

TEST(RmfTileIdTest, Levels) {
  struct Row {
    std::uint32_t id;
    std::int32_t level;
  };
  const Row rows[] = {
      {0x00000000u, 0},  {0x7FFFFFFFu, 0},  {0x80000000u, 1},
      {0x9FFFFFFFu, 1},  {0xA0000000u, kRmfBadArgument},  // level 1 with its zero bit (bit 29) set
      {0x90000000u, 1},  {0xC4000000u, 2},  {0xC8000000u, kRmfBadArgument},  // a level-2 padding bit
      {0xfffc0000u, 14}, {0xfffc0007u, 14}, {0xfffc0008u, kRmfBadArgument},
      {kWorld, 15},      {0xfffe0001u, kRmfBadArgument},  // the world has no code bits
      {0xffff0000u, kRmfBadArgument}, {0xFFFFFFFFu, kRmfBadArgument},
  };
  for (const Row& r : rows) EXPECT_EQ(RmfTileLevel(r.id), r.level) << std::hex << r.id;
}

TEST(RmfTileIdTest, IdsMatchTheReferenceCurveOnEveryLevel) {
  std::mt19937 gen(1061);
  for (int i = 0; i < 40000; ++i) {
    for (int level = 0; level <= 15; ++level) {
      const TiPoint p = RandomPoint(gen, level);
      const std::uint32_t id = RmfTileIdOfPoint(&p, static_cast<std::uint32_t>(level));
      ASSERT_EQ(id, RefIdOfPoint(p.x, p.y, level)) << p.x << "," << p.y << " level " << level;
      ASSERT_EQ(RmfTileLevel(id), level);
    }
  }
}

// Longitudes wrap around the world; latitudes outside it are held to its
// edge rows.
TEST(RmfTileIdTest, OutOfRangeCoordinatesWrapOrClamp) {
  std::mt19937 gen(1062);
  for (int i = 0; i < 20000; ++i) {
    const TiPoint p{static_cast<std::int32_t>(gen()), static_cast<std::int32_t>(gen())};
    const auto level = static_cast<int>(gen() % 15);
    const std::uint32_t id = RmfTileIdOfPoint(&p, static_cast<std::uint32_t>(level));
    ASSERT_EQ(id, RefIdOfPoint(p.x, p.y, level)) << p.x << "," << p.y << " level " << level;
    ASSERT_EQ(RmfTileLevel(id), level);
  }
  const TiPoint east{1 << 27, 100};
  const TiPoint west{-(1 << 27), 100};
  EXPECT_EQ(RmfTileIdOfPoint(&east, 3), RmfTileIdOfPoint(&west, 3));
}

// The north pole, latitude 2^26, would map to the grid row just above the
// world, whose ids wrap into the southern part of the curve. It is held to the
// top row instead, where its tile's rectangle (reaching a quarter cell above
// the row) holds it.
TEST(RmfTileIdTest, NorthPoleLiesInTheTopRow) {
  for (std::uint32_t level = 0; level < 15; ++level) {
    for (std::int32_t x : {-(1 << 27), -5000, 0, 77777, (1 << 27) - 1}) {
      const TiPoint pole{x, 1 << 26};
      const TiPoint below{x, (1 << 26) - 1};
      const std::uint32_t id = RmfTileIdOfPoint(&pole, level);
      EXPECT_EQ(id, RmfTileIdOfPoint(&below, level)) << "level " << level;
      EXPECT_EQ(RmfTileLevel(id), static_cast<std::int32_t>(level));
      TiRect r{};
      ASSERT_EQ(RmfTileRect(id, &r), 1);
      EXPECT_TRUE(Contains(r, x, 1 << 26)) << "level " << level;
      std::uint32_t ids[4];
      const std::int32_t n = RmfTilesAroundPoint(&pole, level, ids);
      EXPECT_EQ(ids[n - 1], id);
      EXPECT_EQ(RmfTilesSameSet(&pole, &below, level), 1);
    }
  }
}

// ---- Rectangles -------------------------------------------------------------------------

TEST(RmfTileRectTest, RectanglesAreTheCellsWithTheirQuarterOverlap) {
  std::mt19937 gen(1063);
  for (int i = 0; i < 30000; ++i) {
    const int level = static_cast<int>(gen() % 15);
    const TiPoint p = RandomPoint(gen, level);
    const std::uint32_t id = RmfTileIdOfPoint(&p, static_cast<std::uint32_t>(level));
    TiRect r{};
    ASSERT_EQ(RmfTileRect(id, &r), 1);
    const TiRect want = RefRect(CellOf(p.x, p.y, level), level);
    ASSERT_TRUE(SameRect(r, want)) << p.x << "," << p.y << " level " << level << ": " << r.x1 << "," << r.y1;
    ASSERT_TRUE(Contains(r, p.x, std::min<std::int64_t>(p.y, kHalfHeight - 1)));
  }
  // Every code of a level decodes to a cell whose corners encode to it again.
  for (int level = 0; level < 15; ++level) {
    for (int i = 0; i < 2000; ++i) {
      const std::uint32_t id = Prefix(level) | (static_cast<std::uint32_t>(gen()) & CodeMask(level));
      TiRect r{};
      ASSERT_EQ(RmfTileRect(id, &r), 1);
      const std::int64_t cell = CellSize(level);
      ASSERT_EQ(r.x2 - r.x1 + 1, cell * 5 / 4);
      ASSERT_EQ((r.x1 + kHalfWidth) % cell, 0);
      ASSERT_EQ((r.y1 + kHalfHeight) % cell, 0);
      ASSERT_EQ(RefIdOfPoint(r.x1, r.y1, level), id);
      ASSERT_EQ(RefIdOfPoint(r.x1 + cell - 1, r.y1 + cell - 1, level), id);
    }
  }
}

TEST(RmfTileRectTest, WorldAndBadIds) {
  TiRect r{};
  ASSERT_EQ(RmfTileRect(kWorld, &r), 1);
  EXPECT_TRUE(SameRect(r, TiRect{-(1 << 27), -(1 << 26), 1 << 27, 1 << 26}));
  EXPECT_EQ(RmfTileRect(0xA0000000u, &r), kRmfBadArgument);
  EXPECT_EQ(RmfTileRect(0xFFFFFFFFu, &r), kRmfBadArgument);
  EXPECT_EQ(RmfTileRect(0x10000000u, nullptr), kRmfBadArgument);
}

// ---- Children, ancestors and descendants --------------------------------------------------

TEST(RmfTileTreeTest, ChildrenAreTheFourQuartersOfTheCell) {
  std::mt19937 gen(1064);
  for (int i = 0; i < 20000; ++i) {
    const int level = 1 + static_cast<int>(gen() % 14);
    const std::uint32_t id = Prefix(level) | (static_cast<std::uint32_t>(gen()) & CodeMask(level));
    std::uint32_t first = 0, last = 0;
    ASSERT_EQ(RmfTileChildren(id, &first, &last), 4);
    ASSERT_EQ(last, first + 3);
    TiRect parent{};
    (void)RmfTileRect(id, &parent);
    const std::int64_t half = CellSize(level - 1);
    std::set<std::pair<std::int32_t, std::int32_t>> corners;
    for (std::uint32_t child = first; child <= last; ++child) {
      ASSERT_EQ(RmfTileLevel(child), level - 1);
      RmfTileRange up{};
      ASSERT_EQ(RmfTileIdRange(child, static_cast<std::uint32_t>(level), &up), 1);
      ASSERT_EQ(up.first, id);
      ASSERT_EQ(up.last, id);
      TiRect r{};
      (void)RmfTileRect(child, &r);
      ASSERT_TRUE(r.x1 == parent.x1 || r.x1 == parent.x1 + half);
      ASSERT_TRUE(r.y1 == parent.y1 || r.y1 == parent.y1 + half);
      corners.insert({r.x1, r.y1});
    }
    ASSERT_EQ(corners.size(), 4u);
  }
  std::uint32_t first = 0, last = 0;
  EXPECT_EQ(RmfTileChildren(kWorld, &first, &last), 8);
  EXPECT_EQ(first, 0xfffc0000u);
  EXPECT_EQ(last, 0xfffc0007u);
  EXPECT_EQ(RmfTileChildren(0x12345678u, &first, &last), 0);
  EXPECT_EQ(first, 0x12345678u);
  EXPECT_EQ(last, 0x12345678u);
  EXPECT_EQ(RmfTileChildren(0xA0000000u, &first, &last), kRmfBadArgument);
  EXPECT_EQ(RmfTileChildren(0x80000000u, nullptr, &last), kRmfBadArgument);
}

TEST(RmfTileTreeTest, RangesReachAncestorsAndAllDescendants) {
  std::mt19937 gen(1065);
  for (int i = 0; i < 20000; ++i) {
    const int level = static_cast<int>(gen() % 15);
    const std::uint32_t id = Prefix(level) | (static_cast<std::uint32_t>(gen()) & CodeMask(level));
    TiRect own{};
    (void)RmfTileRect(id, &own);
    for (int target = 0; target <= 15; ++target) {
      RmfTileRange range{};
      ASSERT_EQ(RmfTileIdRange(id, static_cast<std::uint32_t>(target), &range), 1);
      if (target >= level) {
        // The ancestor is the target level's tile holding the cell.
        ASSERT_EQ(range.first, range.last);
        ASSERT_EQ(range.first, RefIdOfPoint(own.x1, own.y1, target)) << std::hex << id << " to " << target;
        continue;
      }
      ASSERT_EQ(std::uint64_t{range.last} - range.first + 1, std::uint64_t{1} << (2 * (level - target)));
      for (std::uint32_t sample : {range.first, range.last, range.first + (range.last - range.first) / 3}) {
        ASSERT_EQ(RmfTileLevel(sample), target);
        RmfTileRange back{};
        (void)RmfTileIdRange(sample, static_cast<std::uint32_t>(level), &back);
        ASSERT_EQ(back.first, id);
      }
    }
  }
  // The world's descendants are all ids of a level; every tile's level-15
  // ancestor is the world.
  for (std::uint32_t target = 0; target < 15; ++target) {
    RmfTileRange range{};
    ASSERT_EQ(RmfTileIdRange(kWorld, target, &range), 1);
    EXPECT_EQ(range.first, Prefix(static_cast<int>(target)));
    EXPECT_EQ(range.last, Prefix(static_cast<int>(target)) | CodeMask(static_cast<int>(target)));
  }
  for (std::uint32_t id : {0x7FFFFFFFu, 0xfffc0007u, 0x9FFFFFFFu}) {
    RmfTileRange range{};
    ASSERT_EQ(RmfTileIdRange(id, 15, &range), 1);
    EXPECT_EQ(range.first, kWorld);
  }
  RmfTileRange range{};
  EXPECT_EQ(RmfTileIdRange(0x10000000u, 16, &range), -1);
  EXPECT_EQ(RmfTileIdRange(0xA0000000u, 0, &range), -1);
  EXPECT_EQ(RmfTileIdRange(0x10000000u, 1, nullptr), -1);
}

TEST(RmfTileTreeTest, SpanCountsLevelZeroCellsOfOverlap) {
  std::mt19937 gen(1066);
  const auto level0 = [](std::uint32_t id) {
    RmfTileRange r{};
    (void)RmfTileIdRange(id, 0, &r);
    return r;
  };
  for (int i = 0; i < 50000; ++i) {
    const int la = static_cast<int>(gen() % 16);
    const int lb = static_cast<int>(gen() % 16);
    const std::uint32_t a =
        la == 15 ? kWorld : Prefix(la) | (static_cast<std::uint32_t>(gen()) & CodeMask(la));
    // b often inside or right after a, where the span is not zero.
    std::uint32_t b = lb == 15 ? kWorld : Prefix(lb) | (static_cast<std::uint32_t>(gen()) & CodeMask(lb));
    if (gen() % 2 && lb < 15)
      b = Prefix(lb) | ((level0(a).first + static_cast<std::uint32_t>(gen() % 4096)) >> (2 * lb));
    const std::int64_t want = std::int64_t{level0(a).last} - level0(b).first;
    ASSERT_EQ(RmfTileSpan(a, b), want > 0 ? want : 0) << std::hex << a << " " << b;
  }
  EXPECT_EQ(RmfTileSpan(kWorld, 0), 0x7FFFFFFF);
  EXPECT_EQ(RmfTileSpan(0x80000000u, 0x00000000u), 3);  // a level-1 tile over its first child
  EXPECT_EQ(RmfTileSpan(0x00000005u, 0x00000005u), 0);
  EXPECT_EQ(RmfTileSpan(0xA0000000u, 0), -1);
  EXPECT_EQ(RmfTileSpan(0, 0xFFFFFFFFu), -1);
}

// ---- Tiles around a point ------------------------------------------------------------------

TEST(RmfTilesAroundPointTest, WorkedCases) {
  const std::int64_t cell = CellSize(0);
  const std::int64_t x0 = 40 * cell;
  const std::int64_t y0 = 30 * cell;
  std::uint32_t ids[4] = {};
  const TiPoint inside = Pt(x0 + 2000, y0 + 2000);
  EXPECT_EQ(RmfTilesAroundPoint(&inside, 0, ids), 1);
  EXPECT_EQ(ids[0], RefIdOfPoint(x0, y0, 0));

  const TiPoint east = Pt(x0 + 1000, y0 + 2000);  // 1,000 units east of a cell edge
  ASSERT_EQ(RmfTilesAroundPoint(&east, 0, ids), 2);
  EXPECT_EQ(ids[0], RefIdOfPoint(x0 - cell, y0, 0));
  EXPECT_EQ(ids[1], RefIdOfPoint(x0, y0, 0));

  const TiPoint corner = Pt(x0 + 1000, y0 + 1000);  // 1,000 east and north of a corner
  ASSERT_EQ(RmfTilesAroundPoint(&corner, 0, ids), 4);
  EXPECT_EQ(ids[0], RefIdOfPoint(x0 - cell, y0 - cell, 0));  // lower-left
  EXPECT_EQ(ids[1], RefIdOfPoint(x0 - cell, y0, 0));         // left
  EXPECT_EQ(ids[2], RefIdOfPoint(x0, y0 - cell, 0));         // lower
  EXPECT_EQ(ids[3], RefIdOfPoint(x0, y0, 0));                // own

  // The southernmost row has nothing below it.
  const TiPoint south = Pt(x0 + 1000, -kHalfHeight + 10);
  ASSERT_EQ(RmfTilesAroundPoint(&south, 0, ids), 2);
  EXPECT_EQ(ids[1], RefIdOfPoint(x0, -kHalfHeight, 0));

  // West of the date line's first quarter, the left neighbour is the
  // easternmost column.
  const TiPoint dateLine = Pt(-kHalfWidth + 10, y0 + 2000);
  ASSERT_EQ(RmfTilesAroundPoint(&dateLine, 3, ids), 2);
  EXPECT_EQ(ids[0], RefIdOfPoint(kHalfWidth - 1, y0 + 2000, 3));

  const TiPoint any{5, 5};
  EXPECT_EQ(RmfTilesAroundPoint(&any, 15, ids), 1);
  EXPECT_EQ(ids[0], kWorld);
  EXPECT_EQ(RmfTilesAroundPoint(&any, 16, ids), kRmfBadArgument);
  EXPECT_EQ(RmfTilesAroundPoint(nullptr, 3, ids), kRmfBadArgument);
  EXPECT_EQ(RmfTilesAroundPoint(&any, 3, nullptr), kRmfBadArgument);
}

// Tiles whose rectangles hold the point, found by trying every cell around it
// (and, on levels with few tiles, every tile of the level). A point just east
// of the date line also lies in the overlap of the easternmost column's
// tiles, whose rectangles extend past longitude 2^27.
std::vector<std::uint32_t> TilesHolding(const TiPoint& p, int level,
                                        const std::vector<std::pair<std::uint32_t, TiRect>>* all) {
  const std::int64_t y = std::min<std::int64_t>(p.y, kHalfHeight - 1);
  const auto holds = [&](const TiRect& r) {
    return Contains(r, p.x, y) || Contains(r, p.x + kTurn, y) || Contains(r, p.x - kTurn, y);
  };
  std::set<std::uint32_t> found;
  if (all) {
    for (const auto& [id, r] : *all)
      if (holds(r)) found.insert(id);
  } else {
    const std::int64_t cell = CellSize(level);
    for (std::int64_t dx = -1; dx <= 1; ++dx)
      for (std::int64_t dy = -1; dy <= 1; ++dy) {
        const std::int64_t cy = y + dy * cell;
        if (cy < -kHalfHeight || cy >= kHalfHeight) continue;
        const Cell c = CellOf(p.x + dx * cell, cy, level);
        if (holds(RefRect(c, level))) found.insert(RefId(c, level));
      }
  }
  return std::vector<std::uint32_t>(found.begin(), found.end());
}

TEST(RmfTilesAroundPointTest, MatchesBruteForceContainment) {
  std::mt19937 gen(1067);
  for (int level = 0; level < 15; ++level) {
    std::vector<std::pair<std::uint32_t, TiRect>> all;
    if (level >= 9) {
      for (std::uint32_t code = 0; code <= CodeMask(level); ++code) {
        TiRect r{};
        (void)RmfTileRect(Prefix(level) | code, &r);
        all.push_back({Prefix(level) | code, r});
      }
    }
    int counts[5] = {};
    for (int i = 0; i < 3000; ++i) {
      TiPoint p = RandomPoint(gen, level);
      if (i % 50 == 0) p.x = static_cast<std::int32_t>(-kHalfWidth + gen() % 3000);
      std::uint32_t ids[4] = {};
      const std::int32_t n = RmfTilesAroundPoint(&p, static_cast<std::uint32_t>(level), ids);
      ASSERT_TRUE(n == 1 || n == 2 || n == 4);
      ++counts[n];
      std::vector<std::uint32_t> got(ids, ids + n);
      // The own cell's tile comes last; a left column comes before the right.
      ASSERT_EQ(got.back(), RmfTileIdOfPoint(&p, static_cast<std::uint32_t>(level)));
      std::sort(got.begin(), got.end());
      ASSERT_EQ(got, TilesHolding(p, level, all.empty() ? nullptr : &all))
          << p.x << "," << p.y << " level " << level;
      if (n == 4) {
        TiRect r[4];
        for (int k = 0; k < 4; ++k) (void)RmfTileRect(ids[k], &r[k]);
        ASSERT_EQ(r[0].y1, r[2].y1);  // lower-left, left, lower, own
        ASSERT_EQ(r[1].y1, r[3].y1);
        ASSERT_LT(r[0].y1, r[1].y1);
        ASSERT_EQ(r[2].x1, r[3].x1);
      }
    }
    EXPECT_GT(counts[2], 100) << "level " << level;
    EXPECT_GT(counts[4], 100) << "level " << level;
  }
}

TEST(RmfTilesSameSetTest, AgreesWithTheTilesAroundEachPoint) {
  std::mt19937 gen(1068);
  int same = 0;
  for (int i = 0; i < 60000; ++i) {
    const int level = static_cast<int>(gen() % 15);
    const TiPoint a = RandomPoint(gen, level);
    TiPoint b = RandomPoint(gen, level);
    if (i % 2) {
      // A neighbour within a cell.
      const auto cell = static_cast<std::uint32_t>(CellSize(level));
      b = Pt(a.x + static_cast<std::int64_t>(gen() % cell) - cell / 2,
             std::clamp<std::int64_t>(a.y + static_cast<std::int64_t>(gen() % cell) - cell / 2, -kHalfHeight,
                                      kHalfHeight));
    }
    std::uint32_t ia[4], ib[4];
    const std::int32_t na = RmfTilesAroundPoint(&a, static_cast<std::uint32_t>(level), ia);
    const std::int32_t nb = RmfTilesAroundPoint(&b, static_cast<std::uint32_t>(level), ib);
    const bool want = std::vector<std::uint32_t>(ia, ia + na) == std::vector<std::uint32_t>(ib, ib + nb);
    same += want;
    ASSERT_EQ(RmfTilesSameSet(&a, &b, static_cast<std::uint32_t>(level)), want ? 1 : 0)
        << a.x << "," << a.y << " / " << b.x << "," << b.y << " level " << level;
  }
  EXPECT_GT(same, 2000);
  const TiPoint p{1, 2}, q{-100000000, 50000000};
  EXPECT_EQ(RmfTilesSameSet(&p, &q, 15), 1);
  EXPECT_EQ(RmfTilesSameSet(&p, &q, 40), 1);
  EXPECT_EQ(RmfTilesSameSet(nullptr, nullptr, 3), 1);
  EXPECT_EQ(RmfTilesSameSet(&p, nullptr, 3), 0);
  EXPECT_EQ(RmfTilesSameSet(nullptr, &p, 3), 0);
}

// ---- Covering areas -------------------------------------------------------------------------

// A closed convex area for the brute force: a rectangle or a convex polygon
// (kept counter-clockwise without collinear vertices).
using exact_model::Cross;
using exact_model::Hull;
using exact_model::OnSegment;
using exact_model::P;
using exact_model::SegmentsMeet;
using exact_model::Sign;

bool PolygonMeets(const std::vector<P>& hull, const TiRect& r) {
  const P corners[4] = {{r.x1, r.y1}, {r.x2, r.y1}, {r.x2, r.y2}, {r.x1, r.y2}};
  for (const P& v : hull)
    if (Contains(r, v.x, v.y)) return true;
  if (hull.size() >= 3) {
    for (const P& c : corners) {
      bool in = true;
      for (std::size_t i = 0; i < hull.size() && in; ++i)
        in = Cross(hull[i], hull[(i + 1) % hull.size()], c) >= 0;
      if (in) return true;
    }
  }
  for (std::size_t i = 0; i + (hull.size() < 3 ? 1 : 0) < hull.size(); ++i)
    for (int j = 0; j < 4; ++j)
      if (SegmentsMeet(hull[i], hull[(i + 1) % hull.size()], corners[j], corners[(j + 1) % 4])) return true;
  return false;
}

bool RectsMeet(const TiRect& a, const TiRect& b) {
  return a.x1 <= b.x2 && b.x1 <= a.x2 && a.y1 <= b.y2 && b.y1 <= a.y2;
}

struct Area {
  bool polygon = false;
  TiRect rect{};                // the rectangle, or the polygon's box
  TiRect given{};               // the rectangle as given to the library
  std::vector<P> hull;          // counter-clockwise
  std::vector<TiPoint> points;  // as given to the library (either order)

  bool Meets(const TiRect& tile) const {
    if (!RectsMeet(rect, tile)) return false;
    return !polygon || PolygonMeets(hull, tile);
  }
  // Longitudes wrap: a tile meets the area also one turn east or west.
  bool MeetsAnywhere(const TiRect& tile) const {
    const auto moved = [&](std::int64_t by) {
      return TiRect{static_cast<std::int32_t>(tile.x1 + by), tile.y1, static_cast<std::int32_t>(tile.x2 + by),
                    tile.y2};
    };
    return Meets(tile) || Meets(moved(-kTurn)) || Meets(moved(kTurn));
  }
};

// The ids, per the wanted levels, of every tile whose rectangle meets the
// area, one turn east or west included: all tiles of the level where there
// are few, otherwise the cells around the area's box (a tile reaches at most
// 1.25 cells right and up from its cell's corner; columns wrap).
std::set<std::uint32_t> BruteForce(const Area& area, std::uint32_t mask) {
  std::set<std::uint32_t> ids;
  for (int level = 0; level < 16; ++level) {
    if (!((mask >> level) & 1)) continue;
    if (level == 15) {
      ids.insert(kWorld);
      continue;
    }
    if (level >= 9) {
      for (std::uint32_t code = 0; code <= CodeMask(level); ++code) {
        TiRect r{};
        (void)RmfTileRect(Prefix(level) | code, &r);
        if (area.MeetsAnywhere(r)) ids.insert(Prefix(level) | code);
      }
      continue;
    }
    const std::int64_t cell = CellSize(level);
    for (std::int64_t x = area.rect.x1 - 2 * cell; x <= area.rect.x2 + cell; x += cell) {
      for (std::int64_t y = area.rect.y1 - 2 * cell; y <= area.rect.y2 + cell; y += cell) {
        if (y < -kHalfHeight || y >= kHalfHeight) continue;
        const Cell c = CellOf(x, y, level);
        if (area.MeetsAnywhere(RefRect(c, level))) ids.insert(RefId(c, level));
      }
    }
  }
  return ids;
}

// Checks the shape of a range list and returns the ids it covers.
std::set<std::uint32_t> Covered(const std::vector<RmfTileRange>& ranges) {
  std::set<std::uint32_t> ids;
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    const RmfTileRange& r = ranges[i];
    EXPECT_LE(r.first, r.last);
    EXPECT_GE(RmfTileLevel(r.first), 0);
    EXPECT_EQ(RmfTileLevel(r.first), RmfTileLevel(r.last)) << "a range spans two levels";
    if (i > 0) {
      const RmfTileRange& prev = ranges[i - 1];
      EXPECT_LT(prev.last, r.first) << "ranges overlap or are out of order";
      if (RmfTileLevel(prev.first) == RmfTileLevel(r.first)) {
        EXPECT_GT(r.first - prev.last, 1u) << "touching ranges left apart";
      }
    }
    EXPECT_LT(std::uint64_t{r.last} - r.first, 2000000u) << "test areas are meant to stay enumerable";
    for (std::uint64_t id = r.first; id <= r.last; ++id) ids.insert(static_cast<std::uint32_t>(id));
  }
  return ids;
}

std::vector<RmfTileRange> Cover(const Area& area, std::uint32_t mask, std::int32_t capacity,
                                std::int32_t* result, std::int32_t* needed) {
  std::vector<RmfTileRange> ranges(static_cast<std::size_t>(capacity));
  *result = area.polygon
                ? RmfTilesForPolygon(area.points.data(), static_cast<std::int32_t>(area.points.size()), mask,
                                     ranges.data(), capacity, needed)
                : RmfTilesForRect(&area.given, mask, ranges.data(), capacity, needed);
  ranges.resize(static_cast<std::size_t>(std::clamp(*result, 0, capacity)));
  return ranges;
}

void ExpectCovers(const Area& area, std::uint32_t mask, const char* what) {
  std::int32_t result = 0;
  std::int32_t needed = -1;
  const std::vector<RmfTileRange> ranges = Cover(area, mask, 4096, &result, &needed);
  ASSERT_GE(result, 0) << what;
  ASSERT_LE(result, 4096) << what;
  ASSERT_GE(needed, result) << what;
  ASSERT_EQ(Covered(ranges), BruteForce(area, mask))
      << what << " mask " << std::hex << mask << std::dec << " area " << area.rect.x1 << "," << area.rect.y1
      << " " << area.rect.x2 << "," << area.rect.y2 << (area.polygon ? " polygon" : " rect");
}

Area RectArea(std::int64_t x1, std::int64_t y1, std::int64_t x2, std::int64_t y2) {
  Area a;
  a.rect = TiRect{static_cast<std::int32_t>(std::min(x1, x2)), static_cast<std::int32_t>(std::min(y1, y2)),
                  static_cast<std::int32_t>(std::max(x1, x2)), static_cast<std::int32_t>(std::max(y1, y2))};
  a.given = a.rect;
  return a;
}

Area PolygonArea(const std::vector<P>& pts, bool clockwise) {
  Area a;
  a.polygon = true;
  a.hull = Hull(pts);
  for (const P& p : a.hull) a.points.push_back(Pt(p.x, p.y));
  if (clockwise) std::reverse(a.points.begin(), a.points.end());
  a.rect = TiRect{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
  for (const P& p : a.hull) {
    a.rect.x1 = std::min<std::int32_t>(a.rect.x1, static_cast<std::int32_t>(p.x));
    a.rect.y1 = std::min<std::int32_t>(a.rect.y1, static_cast<std::int32_t>(p.y));
    a.rect.x2 = std::max<std::int32_t>(a.rect.x2, static_cast<std::int32_t>(p.x));
    a.rect.y2 = std::max<std::int32_t>(a.rect.y2, static_cast<std::int32_t>(p.y));
  }
  return a;
}

TEST(RmfTilesCoverTest, SmallPolygonInOneLevelZeroCell) {
  const std::int64_t cell = CellSize(0);
  const std::int64_t x0 = 40 * cell;
  const std::int64_t y0 = 30 * cell;
  struct Row {
    const char* name;
    std::int64_t left;
    std::int64_t bottom;
    std::vector<std::uint32_t> ids;
  };
  const std::uint32_t own = RefIdOfPoint(x0, y0, 0);
  const std::uint32_t left = RefIdOfPoint(x0 - cell, y0, 0);
  const std::uint32_t lower = RefIdOfPoint(x0, y0 - cell, 0);
  const std::uint32_t diagonal = RefIdOfPoint(x0 - cell, y0 - cell, 0);
  const Row rows[] = {
      {"in the middle", 2000, 2000, {own}},
      {"into the left neighbour's overlap", 1000, 2000, {left, own}},
      {"into the lower neighbour's overlap", 2000, 1023, {lower, own}},
      {"into both and the diagonal one", 1023, 1000, {diagonal, left, lower, own}},
      {"just clear of the overlaps", 1024, 1024, {own}},
  };
  for (const Row& r : rows) {
    const std::vector<P> triangle{
        {x0 + r.left, y0 + r.bottom}, {x0 + 3000, y0 + 2500}, {x0 + 2500, y0 + 3000}};
    const Area area = PolygonArea(triangle, false);
    std::int32_t result = 0, needed = 0;
    const std::vector<RmfTileRange> ranges = Cover(area, 1, 16, &result, &needed);
    std::set<std::uint32_t> want(r.ids.begin(), r.ids.end());
    EXPECT_EQ(Covered(ranges), want) << r.name;
    // With no level wanted there is nothing to cover.
    EXPECT_EQ(Cover(area, 0, 16, &result, &needed).size(), 0u);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(needed, 0);
    EXPECT_EQ(Cover(area, 0xFFFF0000u, 16, &result, &needed).size(), 0u);
  }
}

TEST(RmfTilesCoverTest, RandomRectanglesMatchBruteForce) {
  std::mt19937 gen(1069);
  for (int trial = 0; trial < 160; ++trial) {
    // Levels 9..15, where every tile can be enumerated: any rectangle of the
    // world, corners in either order.
    std::uint32_t mask = 0;
    while ((mask & 0xFE00) == 0) mask = static_cast<std::uint32_t>(gen()) & 0xFE00;
    const auto x = [&] {
      return static_cast<std::int64_t>(gen() % static_cast<std::uint32_t>(kTurn)) - kHalfWidth;
    };
    const auto y = [&] {
      return static_cast<std::int64_t>(gen() % static_cast<std::uint32_t>(2 * kHalfHeight + 1)) - kHalfHeight;
    };
    Area area = RectArea(x(), y(), x(), y());
    if (trial % 2) std::swap(area.given.x1, area.given.x2);  // corners in any order
    if (trial % 3 == 0) std::swap(area.given.y1, area.given.y2);
    ExpectCovers(area, mask, "world rectangle");
  }
  for (int trial = 0; trial < 400; ++trial) {
    // Any level, a rectangle a few of its cells wide.
    const int level = static_cast<int>(gen() % 9);
    const std::int64_t cell = CellSize(level);
    const std::uint32_t mask =
        (1u << level) | (gen() % 2 ? 2u << level : 0u) | (gen() % 4 == 0 ? 1u << 15 : 0u);
    const TiPoint a = RandomPoint(gen, level);
    const std::int64_t w = static_cast<std::int64_t>(gen() % static_cast<std::uint32_t>(3 * cell));
    const std::int64_t h = static_cast<std::int64_t>(gen() % static_cast<std::uint32_t>(3 * cell));
    ExpectCovers(
        RectArea(a.x, std::min<std::int64_t>(a.y, kHalfHeight - 3 * cell), std::min(a.x + w, kHalfWidth - 1),
                 std::min<std::int64_t>(a.y, kHalfHeight - 3 * cell) + h),
        mask, "small rectangle");
  }
}

TEST(RmfTilesCoverTest, RandomConvexPolygonsMatchBruteForce) {
  std::mt19937 gen(1070);
  for (int trial = 0; trial < 240; ++trial) {
    const bool world = trial < 120;
    const int level = world ? 9 + static_cast<int>(gen() % 6) : static_cast<int>(gen() % 9);
    const std::uint32_t mask = world ? (static_cast<std::uint32_t>(gen()) & 0xFE00) | (1u << level)
                                     : (1u << level) | (gen() % 2 ? 2u << level : 0u);
    // A box for the points: anywhere in the world, or a few cells of the level.
    const std::int64_t cell = CellSize(level);
    const std::int64_t spanX = world ? kTurn / (1 + gen() % 8) : 4 * cell;
    const std::int64_t spanY = world ? 2 * kHalfHeight / (1 + gen() % 8) : 4 * cell;
    const std::int64_t x0 =
        -kHalfWidth + static_cast<std::int64_t>(gen() % static_cast<std::uint32_t>(kTurn - spanX + 1));
    const std::int64_t y0 =
        -kHalfHeight +
        static_cast<std::int64_t>(gen() % static_cast<std::uint32_t>(2 * kHalfHeight - spanY + 1));
    std::vector<P> pts(3 + gen() % 7);
    for (P& p : pts) {
      p.x = x0 + static_cast<std::int64_t>(gen() % static_cast<std::uint32_t>(spanX));
      p.y = y0 + static_cast<std::int64_t>(gen() % static_cast<std::uint32_t>(spanY));
    }
    const Area area = PolygonArea(pts, trial % 2 == 1);
    if (area.hull.size() < 3) continue;
    ExpectCovers(area, mask, world ? "world polygon" : "small polygon");
  }
}

// Touching runs of one level join; level 0's last id is followed by level 1's
// first, and those stay apart.
TEST(RmfTilesCoverTest, WholeWorldGivesOneRangePerLevel) {
  const TiRect world{-(1 << 27), -(1 << 26), 1 << 27, 1 << 26};
  RmfTileRange ranges[4] = {};
  std::int32_t needed = 0;
  ASSERT_EQ(RmfTilesForRect(&world, 1, ranges, 4, &needed), 1);
  EXPECT_EQ(ranges[0].first, 0u);
  EXPECT_EQ(ranges[0].last, 0x7FFFFFFFu);
  ASSERT_EQ(RmfTilesForRect(&world, 3 | 1u << 15, ranges, 4, &needed), 3);
  EXPECT_EQ(ranges[0].last, 0x7FFFFFFFu);
  EXPECT_EQ(ranges[1].first, 0x80000000u);
  EXPECT_EQ(ranges[1].last, 0x9FFFFFFFu);
  EXPECT_EQ(ranges[2].first, kWorld);
  // Near longitude 0 at the south pole the last level-0 tile and the first
  // level-1 tile are both covered.
  const Area pole = RectArea(-3000, -kHalfHeight, 3000, -kHalfHeight + 3000);
  std::int32_t result = 0;
  const std::vector<RmfTileRange> got = Cover(pole, 3, 16, &result, &needed);
  const std::set<std::uint32_t> ids = Covered(got);
  EXPECT_TRUE(ids.count(0x7FFFFFFFu));
  EXPECT_TRUE(ids.count(0x80000000u));
  EXPECT_EQ(ids, BruteForce(pole, 3));
}

// The easternmost column's tiles reach a quarter cell past longitude 2^27,
// which is the date line, -2^27: the tiles around a point just east of it
// name them. Covering an area there names the same tiles, whichever side of
// the line the area is given on.
TEST(RmfTilesCoverTest, AtTheDateLineCoverAgreesWithTheTilesAroundAPoint) {
  for (int level = 0; level < 15; ++level) {
    const std::int64_t cell = CellSize(level);
    const std::int64_t quarter = cell / 4;
    for (const std::int64_t x : {-kHalfWidth, -kHalfWidth + quarter / 2, -kHalfWidth + quarter - 1,
                                 -kHalfWidth + quarter, kHalfWidth}) {
      for (const std::int64_t y : {std::int64_t{0}, cell / 2, quarter - 1, -kHalfHeight, kHalfHeight}) {
        const TiPoint p = Pt(x, y);
        std::uint32_t ids[4] = {};
        const std::int32_t n = RmfTilesAroundPoint(&p, static_cast<std::uint32_t>(level), ids);
        ASSERT_GE(n, 1);
        const std::set<std::uint32_t> around(ids, ids + n);
        std::int32_t result = 0, needed = 0;
        const std::vector<RmfTileRange> ranges = Cover(RectArea(x, y, x, y), 1u << level, 16, &result, &needed);
        EXPECT_EQ(Covered(ranges), around) << "level " << level << " point " << x << "," << y;
      }
    }
    // A rectangle from the date line into the overlap, given as a rectangle
    // and as a polygon, meets the easternmost column's tile beside it.
    const std::int64_t y = -kHalfHeight + cell / 2;
    const std::uint32_t east = RefIdOfPoint(kHalfWidth - 1, y, level);
    const Area rect = RectArea(-kHalfWidth, y, -kHalfWidth + quarter / 2, y + 10);
    const Area polygon = PolygonArea({{-kHalfWidth, y}, {-kHalfWidth + quarter / 2, y}, {-kHalfWidth, y + 10}}, false);
    for (const Area* area : {&rect, &polygon}) {
      std::int32_t result = 0, needed = 0;
      EXPECT_EQ(Covered(Cover(*area, 1u << level, 16, &result, &needed)).count(east), 1u) << "level " << level;
    }
  }
}

// A list too small for the ranges: the result is the number of all ranges,
// larger than the room given, and *needed is that number too, whatever the
// room, so that a call with that room gives the full list.
TEST(RmfTilesCoverTest, SmallListsReportTheRoomNeeded) {
  std::mt19937 gen(1071);
  for (int trial = 0; trial < 40; ++trial) {
    std::vector<P> pts(5);
    for (P& p : pts) {
      p.x = static_cast<std::int64_t>(gen() % static_cast<std::uint32_t>(kTurn)) - kHalfWidth;
      p.y = static_cast<std::int64_t>(gen() % static_cast<std::uint32_t>(2 * kHalfHeight)) - kHalfHeight;
    }
    const Area area = PolygonArea(pts, false);
    if (area.hull.size() < 3) continue;
    const std::uint32_t mask = 1u << (9 + gen() % 3);
    std::int32_t fullResult = 0, fullNeeded = 0;
    const std::vector<RmfTileRange> full = Cover(area, mask, 100000, &fullResult, &fullNeeded);
    ASSERT_GT(fullResult, 1);
    ASSERT_EQ(fullNeeded, fullResult);
    for (std::int32_t capacity : {1, 2, fullResult / 2, fullResult - 1, fullResult}) {
      if (capacity < 1) continue;
      std::int32_t result = 0, needed = 0;
      const std::vector<RmfTileRange> part = Cover(area, mask, capacity, &result, &needed);
      ASSERT_EQ(result, fullResult) << "capacity " << capacity;
      ASSERT_EQ(needed, fullResult) << "capacity " << capacity;
      if (result <= capacity) {
        ASSERT_EQ(Covered(part), Covered(full));
        continue;
      }
      // What fitted are ranges of the full list, in order.
      const std::set<std::uint32_t> fitted = Covered(part);
      const std::set<std::uint32_t> all = Covered(full);
      ASSERT_TRUE(std::includes(all.begin(), all.end(), fitted.begin(), fitted.end()));
      std::int32_t again = 0, unused = 0;
      ASSERT_EQ(Covered(Cover(area, mask, needed, &again, &unused)), all);
      ASSERT_EQ(again, fullResult);
    }
  }

  // A box of 2^24 units over levels 0..7: tens of thousands of runs of
  // consecutive ids join into a few thousand ranges, and the room asked for
  // is what the joined list takes.
  const TiRect box{1000000, 2000000, 1000000 + (1 << 24), 2000000 + (1 << 24)};
  std::vector<RmfTileRange> ranges(200);
  std::int32_t needed = 0;
  const std::int32_t first = RmfTilesForRect(&box, 0xFF, ranges.data(), 200, &needed);
  EXPECT_GT(needed, 200);
  EXPECT_EQ(first, needed);
  ranges.resize(static_cast<std::size_t>(needed));
  std::int32_t unused = 0;
  EXPECT_EQ(RmfTilesForRect(&box, 0xFF, ranges.data(), needed, &unused), needed);
  std::vector<RmfTileRange> roomy(100000);
  ASSERT_EQ(RmfTilesForRect(&box, 0xFF, roomy.data(), 100000, &unused), needed);
  for (std::int32_t i = 0; i < needed; ++i) {
    ASSERT_EQ(ranges[i].first, roomy[i].first) << i;
    ASSERT_EQ(ranges[i].last, roomy[i].last) << i;
  }
}

struct Classifier {
  TiRect area;
  bool fixed = false;  // answer `answer` to everything
  std::int32_t answer = 0;
  volatile std::int32_t* cancel = nullptr;
  int calls = 0;
};

std::int32_t Classify(const TiRect* tile, void* context) {
  auto* c = static_cast<Classifier*>(context);
  ++c->calls;
  if (c->cancel && c->calls == 20) *c->cancel = 1;
  if (c->fixed) return c->answer;
  if (!RectsMeet(*tile, c->area)) return 0;
  const bool inside =
      c->area.x1 <= tile->x1 && tile->x2 <= c->area.x2 && c->area.y1 <= tile->y1 && tile->y2 <= c->area.y2;
  return inside ? 2 : 1;
}

TEST(RmfTilesCoverTest, ClassifiedAreasCancellationAndErrors) {
  const TiRect area{1000000, 2000000, 9000000, 5000000};
  RmfTileRange viaRect[512] = {}, viaArea[512] = {};
  std::int32_t needed = 0;
  const std::int32_t n = RmfTilesForRect(&area, 0x700, viaRect, 512, &needed);
  ASSERT_GT(n, 0);
  Classifier c{area};
  ASSERT_EQ(RmfTilesForArea(0x700, viaArea, 512, nullptr, &needed, Classify, &c), n);
  for (std::int32_t i = 0; i < n; ++i) {
    EXPECT_EQ(viaArea[i].first, viaRect[i].first);
    EXPECT_EQ(viaArea[i].last, viaRect[i].last);
  }
  // The walk only descends into partly covered tiles: far fewer calls than
  // the level-8 tiles of the world.
  EXPECT_LT(c.calls, 2000);

  volatile std::int32_t cancel = 0;
  Classifier cancelling{area};
  cancelling.cancel = &cancel;
  EXPECT_EQ(RmfTilesForArea(0x700, viaArea, 512, &cancel, &needed, Classify, &cancelling), kRmfCancelled);

  for (std::int32_t bad : {3, -1, 100}) {
    Classifier broken{area};
    broken.fixed = true;
    broken.answer = bad;
    EXPECT_EQ(RmfTilesForArea(0x1, viaArea, 512, nullptr, &needed, Classify, &broken), kRmfMalformed) << bad;
  }
  EXPECT_EQ(RmfTilesForArea(0x1, viaArea, 512, nullptr, &needed, nullptr, &c), kRmfBadArgument);
  EXPECT_EQ(RmfTilesForArea(0x1, nullptr, 512, nullptr, &needed, Classify, &c), kRmfBadArgument);
  EXPECT_EQ(RmfTilesForArea(0x1, viaArea, 0, nullptr, &needed, Classify, &c), kRmfBadArgument);
  EXPECT_EQ(RmfTilesForRect(nullptr, 1, viaArea, 512, &needed), kRmfBadArgument);
  EXPECT_EQ(RmfTilesForRect(&area, 1, viaArea, 0, &needed), kRmfBadArgument);
  const TiPoint tri[3] = {{0, 0}, {100, 0}, {0, 100}};
  EXPECT_EQ(RmfTilesForPolygon(nullptr, 3, 1, viaArea, 512, &needed), kRmfBadArgument);
  EXPECT_EQ(RmfTilesForPolygon(tri, 0, 1, viaArea, 512, &needed), kRmfBadArgument);
  EXPECT_EQ(RmfTilesForPolygon(tri, 3, 1, nullptr, 512, &needed), kRmfBadArgument);
  EXPECT_EQ(RmfTilesForPolygon(tri, 3, 1, viaArea, 0, &needed), kRmfBadArgument);
  // The count output is optional.
  EXPECT_GT(RmfTilesForPolygon(tri, 3, 1, viaArea, 512, nullptr), 0);
}

// ---- Merging ---------------------------------------------------------------------------

TEST(RmfTileRangesMergeTest, SortsAndJoinsRangesOfOneLevel) {
  std::mt19937 gen(1072);
  for (int trial = 0; trial < 3000; ++trial) {
    std::vector<RmfTileRange> ranges(gen() % 12);
    std::set<std::uint32_t> want;
    for (RmfTileRange& r : ranges) {
      // Ids around the join of levels 0 and 1 and within one small stretch.
      const std::uint32_t base = gen() % 2 ? 0x7FFFFFF0u : 0x10000000u;
      r.first = base + gen() % 32;
      r.last = r.first + gen() % 6;
      if (r.first <= 0x7FFFFFFFu) r.last = std::min(r.last, 0x7FFFFFFFu);  // one level per range
      for (std::uint64_t id = r.first; id <= r.last; ++id) want.insert(static_cast<std::uint32_t>(id));
    }
    RmfTileRange* end = RmfTileRangesMerge(ranges.data(), ranges.data() + ranges.size());
    ranges.resize(static_cast<std::size_t>(end - ranges.data()));
    ASSERT_EQ(Covered(ranges), want);
  }
  RmfTileRange one[1] = {{5, 9}};
  EXPECT_EQ(RmfTileRangesMerge(one, one), one);
  EXPECT_EQ(RmfTileRangesMerge(one, one + 1), one + 1);
  EXPECT_EQ(RmfTileRangesMerge(nullptr, nullptr), nullptr);
  EXPECT_EQ(RmfTileRangesMerge(one + 1, one), one + 1);
}

}  // namespace
