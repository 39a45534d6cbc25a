// The area search at a point: which area boundaries lie nearest to a point
// along a ray from it, so that the feature query can tell the area a whole
// query polygon lies in when no ring of that area crosses the polygon. The
// search finds the nearest node of the (filtered) features around the
// point, casts a ray from the point to that node through the tile tree, and
// returns the feature segments that the ray crosses first, each oriented so
// that the point lies to their right: read with RmfFeatureAttribute, an
// area's code then ends in "+" exactly when the point lies inside the area.
// Also the small tile and list routines the search uses.
//
// Octant frames: in the frame of direction k (0..7), bit 0 of k mirrors x,
// bit 1 mirrors y and bit 2 swaps the axes, so that every direction becomes
// the first octant (u >= v >= 0).
#pragma once

#include <cstdint>

#include "mapengine/format/RmfExport.h"
#include "mapengine/format/RmfReaderRecord.h"
#include "mapengine/format/RmfResult.h"
#include "mapengine/format/RmfTypes.h"
#include "mapengine/format/base/TiTypes.h"

struct RmfReader;

// A node of the search's sorted tile list: a link word followed by the
// tile's words. On the phone the link is a 4-byte pointer; here it is a
// 32-bit word on every build (1 + the index of the next node in its pool, 0
// at the end), so that the sort key stays the third 32-bit word and a node
// stays 32 bytes.
struct RmfTileNode {
  std::uint32_t link;
  std::uint32_t tile;
  std::int32_t distance;    // the tile's smallest u along the ray: the sort key
  std::int32_t offsets[4];  // RmfTileOctantOffsets of the tile
  std::int32_t level;
};
static_assert(sizeof(RmfTileNode) == 32);

// Orders a node to be inserted against one in the list: < 1 puts it before.
typedef std::int32_t (*RmfListCompareFn)(const void* node, const void* existing, void* context,
                                         std::int32_t linkOffset);

// A singly linked list kept in order. Nodes live in a pool of equal-sized
// nodes; the 32-bit link word at linkOffset in each node holds 1 + the pool
// index of the next node (0: none). head is such a word for the first node.
struct RmfSortedList {
  std::uint32_t head;
  std::int32_t linkOffset;
  RmfListCompareFn compare;
  void* context;
  void* pool;
  std::int32_t nodeSize;
  std::int32_t poolCount;
};

// Finds the feature segments nearest to `point` that a ray from the point to
// the nearest node of the features around it crosses first, in the sources
// `source` (all when negative) at tile levels from startLevel up. Of the
// segments met at the nearest place, those leaving it most nearly back toward
// the point are kept (several when they lie on one line, as the shared edge of
// two areas does). Writes up to `capacity` references (tile id, source, record
// sequence, part, the segment's two vertex positions with the end left of the
// ray first, position 1024) and returns their number (0 when none).
// kRmfBadArgument (-2) for a bad argument (null reader, point or results, a
// source index at or above the count, x beyond +-2^27, y beyond +-2^26,
// startLevel outside 0..15, capacity < 1); -1 when the filter answers negative;
// kRmfMalformed (-128) when the tile pool of 63 nodes runs out or a fetched
// feature was left held (it is released). The filter (optional) sees each
// part's attributes; 0 leaves the part out.
RMF_API_NODISCARD std::int32_t RmfAreasAtPoint(RmfReader* reader, std::int32_t source, const TiPoint* point,
                                               std::int32_t startLevel, RmfAreaFilterFn filter, void* context,
                                               RmfFeatureRef* results, std::int32_t capacity);

// The nearest tile id beside `tile` on its level (below it for direction < 0,
// above otherwise) that any of the sources first .. end - 1 holds;
// 0xFFFFFFFF when there is none (also for an invalid id or a bad reader).
RMF_API_NODISCARD std::uint32_t RmfTileNeighbour(RmfReader* reader, std::int32_t first, std::int32_t end,
                                                 std::uint32_t tile, std::int32_t direction);
// 1 when any of the sources first .. end - 1 holds a tile under `tile` on a
// level from startLevel up to the tile's own; else 0.
RMF_API_NODISCARD std::int32_t RmfTileRangeHasData(RmfReader* reader, std::int32_t first, std::int32_t end,
                                                   std::uint32_t tile, std::int32_t startLevel);
// The tile's rectangle relative to the point in the frame of `direction`, as
// (min u, min v, max u, max v) into out[0..3] (held to the 32-bit range): 1;
// kRmfBadArgument (-2) for a null point or out, a direction outside 0..7 or an
// invalid id.
RMF_API_NODISCARD std::int32_t RmfTileOctantOffsets(std::uint32_t tile, const TiPoint* point, std::int32_t direction,
                                                    std::int32_t* out);
// Ordering key of the turn from direction a to direction b (d = angle(b) -
// angle(a) in -2^27 .. 2^27 - 1): mode 0 the sharpest turn first (left
// before right among equals), mode 2 the straightest first (right before
// left), mode 1 by the deviation from the nearer of straight on and turning
// back; 0 for another mode or a null vector.
RMF_API_NODISCARD std::int32_t RmfTurnKey(const TiVector* a, const TiVector* b, std::int32_t mode);
// Links the node in before the first node that it does not compare >= 1
// with (so before equal ones): 1; 0 for a null list or node.
RMF_API_NODISCARD std::int32_t RmfSortedListInsert(RmfSortedList* list, void* node);
// -1, 0 or 1 by the third 32-bit word (signed) of the two nodes; usable as a
// list compare function (context and link offset are not read).
RMF_API_NODISCARD std::int32_t RmfCompareDistance(const void* a, const void* b, void* context, std::int32_t linkOffset);
