// Plane geometry of the map-format library on integer map units: exact signs
// of dot and cross products (the building blocks of every side-of-line and
// direction test) and the relation between a convex polygon and a rectangle
// that decides which tiles a query polygon covers.
#pragma once

#include <cstdint>

#include "mapengine/format/RmfExport.h"
#include "mapengine/format/base/TiTypes.h"

// The sign (-1, 0 or 1) of a.dx x b.dx + a.dy x b.dy, exact for all 32-bit
// components; 0 when either vector is null.
RMF_API std::int32_t TiDotProductSign(const TiVector* a, const TiVector* b);

// The sign (-1, 0 or 1) of a.dx x b.dy - a.dy x b.dx, exact for all 32-bit
// components: 1 when b points to the left of a. 0 when either vector is null.
RMF_API std::int32_t TiCrossProductSign(const TiVector* a, const TiVector* b);

// How the convex polygon points[0..count-1] (closed implicitly, vertices in
// either order around it) lies against the inclusive rectangle r:
//   0 disjoint, 1 they meet but r is not wholly inside, 2 r lies inside the
//   polygon (boundaries included);
//   -1 for null points or r, count < 1, or a rectangle whose min corner lies
//   beyond its max corner.
// Points that all coincide give 0 when outside r, 2 when r is that single
// point and 1 otherwise. Exact as long as coordinate differences fit 32 bits
// (true for any two map points). The test separates the shapes by the
// polygon's edges and the rectangle's sides, which is only conclusive for a
// convex polygon.
RMF_API std::int32_t TiPolygonIntersect(const TiPoint* points, std::int32_t count, const TiRect* r);
