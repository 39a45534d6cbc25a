// Tile addressing of map files: the ids of the tiles on the 16 levels of the
// grid, their rectangles, the tiles around a point, and the sorted id ranges
// that cover a rectangle, a convex polygon or any area a caller can classify.
//
// At level L (0..14) a tile's cell is 4,096 x 2^L map units square; its
// rectangle reaches a quarter cell further into its right and upper
// neighbours, so a feature belongs to the smallest tile it fits in with that
// overlap. Level 15 is one tile, the whole world. A tile id holds, from the
// top bit, L one bits, a zero bit, L zero bits of padding and the cell's
// position along a Hilbert curve (31 - 2L bits), so ids of nearby tiles are
// mostly near in order. The world tile's id is 0xfffe0000.
#pragma once

#include <cstdint>

#include "mapengine/format/RmfExport.h"
#include "mapengine/format/RmfResult.h"
#include "mapengine/format/base/TiTypes.h"

// A range of tile ids of one level, both ends included.
struct RmfTileRange {
  std::uint32_t first;
  std::uint32_t last;
};
static_assert(sizeof(RmfTileRange) == 8);

// Tells how an area lies against a tile rectangle: 0 apart, 1 partly inside,
// 2 the tile wholly inside; anything else is an error.
typedef std::int32_t (*RmfTileClassifyFn)(const TiRect* tile, void* context);

// The id of the level-15 tile, the whole world.
constexpr std::uint32_t kRmfWorldTileId = 0xfffe0000u;

// Level 0..15 of a tile id, or kRmfBadArgument (-2) when its padding bits are
// not zero (at level 15 only the world id itself is valid).
RMF_API_NODISCARD std::int32_t RmfTileLevel(std::uint32_t id);

// Id of the level's tile whose cell holds the point; 0xFFFFFFFF (-1) for a
// level above 15 or a null point. Longitudes wrap around the world; latitudes
// are held to -2^26 .. 2^26 - 1, so the north pole lies in the top row of
// cells like the points just south of it.
RMF_API_NODISCARD std::uint32_t RmfTileIdOfPoint(const TiPoint* point, std::uint32_t level);

// The tile's rectangle (inclusive, with the quarter-cell overlap); 1, or
// kRmfBadArgument (-2) for an invalid id or a null output.
RMF_API_NODISCARD std::int32_t RmfTileRect(std::uint32_t id, TiRect* out);

// The ids of the tile's children one level down, first .. last: returns 4,
// 8 for the world (the level-14 tiles), 0 at level 0 (first = last = id), or
// kRmfBadArgument (-2) for an invalid id or a null output.
RMF_API_NODISCARD std::int32_t RmfTileChildren(std::uint32_t id, std::uint32_t* first, std::uint32_t* last);

// The tile's ancestor (level above the id's), itself (same level) or all its
// descendants (level below) at the given level; 1, or -1 for a level above
// 15, an invalid id or a null output.
RMF_API_NODISCARD std::int32_t RmfTileIdRange(std::uint32_t id, std::uint32_t level, RmfTileRange* out);

// The ids of the level's tiles whose rectangles hold the point, into ids[0..3]:
// its own cell's tile, the one to the left when the point lies in the first
// quarter of its cell in x (wrapping around at the date line), the one below
// when it lies in the first quarter in y (except in the southernmost row), and
// the diagonal one when both. Written column by column, left first, lower first
// within a column (lower-left, left, lower, own). Returns the count 1, 2 or 4;
// the world tile alone at level 15; kRmfBadArgument (-2) for a level above 15
// or a null argument.
RMF_API_NODISCARD std::int32_t RmfTilesAroundPoint(const TiPoint* point, std::uint32_t level, std::uint32_t* ids);

// 1 when the two points lie in exactly the same tiles of the level, else 0.
// Level 15 and above: 1; two null points: 1; one null point: 0.
RMF_API_NODISCARD std::int32_t RmfTilesSameSet(const TiPoint* a, const TiPoint* b, std::uint32_t level);

// How far tile a reaches past the start of tile b along the curve, counted in
// level-0 cells: (last level-0 position under a) - (first level-0 position
// under b), or 0 when that is not positive; -1 for an invalid id.
RMF_API_NODISCARD std::int32_t RmfTileSpan(std::uint32_t a, std::uint32_t b);

// The tiles of the levels in levelMask (bit L for level L) whose rectangles
// meet the convex polygon points[0..count-1], as ranges sorted by first id,
// each within one level and none touching another of its level. Longitudes
// wrap as for the tiles around a point: the easternmost column's tiles, which
// reach past 2^27, also meet an area just east of -2^27, and the westernmost
// column's tiles an area touching 2^27.
// Returns the number of ranges; when they do not fit, the number written
// (capacity, sorted as well) plus the number left out. *needed (optional)
// receives the number of ranges of the whole answer, the room a repeated
// call needs (the same whatever the capacity). kRmfBadArgument (-2) for a null
// polygon or output, count < 1 or capacity < 1; kRmfMalformed (-128) for an
// internal inconsistency. A mask without any of the bits 0..15 gives 0 ranges.
RMF_API_NODISCARD std::int32_t RmfTilesForPolygon(const TiPoint* points, std::int32_t count, std::uint32_t levelMask,
                                                  RmfTileRange* ranges, std::int32_t capacity, std::int32_t* needed);

// The same for an area the caller classifies tile by tile (classify answers
// 0, 1 or 2; any other answer gives kRmfMalformed, -128). A tile of the
// easternmost or westernmost column is also asked about one turn west or east
// of itself. A non-zero *cancel (optional), read before each group of sibling
// tiles, ends the work with kRmfCancelled (-127).
RMF_API_NODISCARD std::int32_t RmfTilesForArea(std::uint32_t levelMask, RmfTileRange* ranges, std::int32_t capacity,
                                               const volatile std::int32_t* cancel, std::int32_t* needed,
                                               RmfTileClassifyFn classify, void* context);

// The same for a rectangle whose corners may come in any order.
RMF_API_NODISCARD std::int32_t RmfTilesForRect(const TiRect* rect, std::uint32_t levelMask, RmfTileRange* ranges,
                                               std::int32_t capacity, std::int32_t* needed);

// Sorts ranges[0 .. end - ranges) by first id (then last id) and joins every
// range that touches or overlaps its predecessor of the same level. Returns
// the new end; the covered ids are unchanged.
RMF_API_NODISCARD RmfTileRange* RmfTileRangesMerge(RmfTileRange* ranges, RmfTileRange* end);
