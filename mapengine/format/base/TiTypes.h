// Number forms shared by the whole map-format library.
//
// Map units: 2^28 per full turn of longitude or latitude (745654.0444444445
// per degree). A point is (x = longitude in -2^27 .. 2^27, y = latitude in
// -2^26 .. 2^26). Angles use the same units: 0x4000000 = 90 degrees, 0 = east,
// counter-clockwise positive. A unit fraction is a ratio scaled by 2^28
// (1.0 = 0x10000000). Unsigned 64-bit values are held as (low, high) word pairs
// because the library's arithmetic is written for 32-bit machines.
#pragma once

#include <cstdint>

struct TiPoint {
  std::int32_t x;  // longitude, map units
  std::int32_t y;  // latitude, map units
};

struct TiVector {
  std::int32_t dx;
  std::int32_t dy;
};

// Min corner, then max corner; both inclusive.
struct TiRect {
  std::int32_t x1;
  std::int32_t y1;
  std::int32_t x2;
  std::int32_t y2;
};

// An unsigned 64-bit value as two 32-bit words.
struct TiUx {
  std::uint32_t low;
  std::uint32_t high;
};

// Whether two points are the same map point.
inline bool TiSamePoint(const TiPoint& a, const TiPoint& b) { return a.x == b.x && a.y == b.y; }

static_assert(sizeof(TiPoint) == 8 && sizeof(TiRect) == 16 && sizeof(TiUx) == 8);
