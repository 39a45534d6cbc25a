// Polygon clipping for the feature query: the clip of a polygon to an
// axis-aligned rectangle (exported as ClipPolygonToRect; it also cuts a query
// polygon to a source's box), the convexity test of query polygons and the
// rounded a x b / c that places crossings on rectangle sides. The crossings
// of area rings with the query boundary and the boundary pieces that close
// them belong to the query (RmfQueryAreas.cpp); they share the crossing
// records of the reader record (RmfReaderRecord.h).
//
// Rectangle sides are named by bits: 1 the side x = xmin, 8 y = ymin, 4
// x = xmax, 2 y = ymax; a corner carries both of its sides' bits (9, 12, 6,
// 3). All arithmetic is exact on integer map units; a crossing on a side is
// rounded to the nearest unit, half away from zero.
#pragma once

#include <cstdint>

#include "mapengine/format/RmfExport.h"
#include "mapengine/format/RmfReaderRecord.h"
#include "mapengine/format/RmfResult.h"
#include "mapengine/format/base/TiTypes.h"

struct RmfReader;

// Clips the closed polygon points[0..n-1] to the rectangle (xmin, ymin) ..
// (xmax, ymax) into the reader's point buffer: the number of points, 0 when
// nothing of the polygon lies in the rectangle (also for a bad reader, null
// points, n < 1 or xmin > xmax or ymin > ymax), kRmfBadArgument (-2, also the
// last error) when the outline or its crossing records would not fit the
// reader's tables (510 points, 500 records; nothing is written beyond them).
// The polygon may run either way round; the outline
// keeps its direction, the parts inside the rectangle joined along the
// rectangle's sides with the corners in between. A polygon that contains the
// rectangle gives its four corners from (xmax, ymin) on. Exact for convex
// polygons; a non-convex polygon gets its pieces inside the rectangle joined
// in the polygon's order. The reader's crossing table is reset and holds the
// outline's records (inside vertices with direction 0, crossings entering
// +1 and leaving -1, each with its side bits). A rectangle without width or
// height (a stretch of a parallel or a meridian, or a point) gives the part
// of it inside the polygon, boundary included: 1 or 2 points from its
// (xmax, ymin) end on, each recorded as an inside vertex.
RMF_API_NODISCARD std::int32_t ClipPolygonToRect(RmfReader* reader, std::int32_t xmin, std::int32_t ymin,
                                                 std::int32_t xmax, std::int32_t ymax, const TiPoint* points,
                                                 std::int32_t n);

// 1 when points[0..n-1] form a convex polygon running counter-clockwise: no
// turn from one edge to the next is clockwise and the edges wind round
// exactly once (a star that winds twice is not convex); a turn that reverses
// the direction is allowed at most twice (a flat polygon). Trailing points
// equal to the first (closing points) and repeated points are ignored; fewer
// than 3 distinct places give 1. 0 for null points or n < 1.
RMF_API_NODISCARD std::int32_t RmfPolygonIsConvex(const TiPoint* points, std::int32_t n);

// a x b / c rounded half away from zero, the product exact in 64 bits; 0 for
// c = 0; a quotient beyond the 32-bit range is held at INT32_MAX or INT32_MIN.
RMF_API_NODISCARD std::int32_t RmfMulDivRound(std::int32_t a, std::int32_t b, std::int32_t c);

namespace rmf::detail {

// The clip behind ClipPolygonToRect with the tables given by the caller:
// `records` (capacity recordCapacity) receives the outline's records and
// `out` (capacity outCapacity) the points. Returns the point count, or
// kRmfBadArgument when either table is too small (nothing written beyond
// either). *recordCount (optional) gets the number of records of the
// outline, *recordsNeeded (optional) the records the clip needed at once
// (records on one point merge as they come, so this may be more), and
// *needed (optional) the number of points of the outline (both when the
// records fit).
std::int32_t ClipPolygon(const TiPoint* points, std::int32_t n, const TiRect& rect, RmfCrossing* records,
                         std::int32_t recordCapacity, std::int32_t* recordCount, std::int32_t* recordsNeeded,
                         TiPoint* out, std::int32_t outCapacity, std::int32_t* needed);

// a x b / c rounded half away from zero for |a|, |b|, |c| below 2^32 (the
// quotient of a crossing lies between two 32-bit coordinates, so it fits when
// |a| <= |c|). 0 for c = 0.
std::int64_t MulDivRound64(std::int64_t a, std::int64_t b, std::int64_t c);

}  // namespace rmf::detail
