// Distances, headings and plane geometry of the map-format library on integer
// map units: the distance and the direction between two points on the sphere,
// the router's fast distance coefficients, exact dot and cross products (the
// building blocks of every side-of-line and direction test), the relation
// between a convex polygon and a rectangle that decides which tiles a query
// polygon covers, and the nearest point of a polyline that every "which
// street am I on" question starts with.
//
// Distances are central angles in map units (2^28 per turn, the scale of
// latitude; 6710.8864 units per km). Directions are mathematical angles in
// the same units: 0 = east, 0x4000000 = north, counter-clockwise positive,
// in (-0x8000000, 0x8000000]. Nothing here keeps state or allocates.
#pragma once

#include <array>
#include <cstdint>

#include "mapengine/format/RmfExport.h"
#include "mapengine/format/RmfResult.h"
#include "mapengine/format/base/TiTypes.h"

// The sign (-1, 0 or 1) of a.dx x b.dx + a.dy x b.dy, exact for all 32-bit
// components; 0 when either vector is null.
RMF_API_NODISCARD std::int32_t TiDotProductSign(const TiVector* a, const TiVector* b);

// The sign (-1, 0 or 1) of a.dx x b.dy - a.dy x b.dx, exact for all 32-bit
// components: 1 when b points to the left of a. 0 when either vector is null.
RMF_API_NODISCARD std::int32_t TiCrossProductSign(const TiVector* a, const TiVector* b);

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
RMF_API_NODISCARD std::int32_t TiPolygonIntersect(const TiPoint* points, std::int32_t count, const TiRect* r);

// The distance from p to q as a central angle in map units: flat (longitude
// scaled by the cosine of the mean latitude) when both coordinate differences
// are at most 2^20 units, along the great circle otherwise. The longitude
// difference is taken the short way round, across the date line too. Within
// 0.1% + 3 units of the great circle from 1 m to 5,000 km (0.01% from 10 km
// on). -1 for a null point or a latitude beyond +-0x4000000.
RMF_API_NODISCARD std::int32_t TiDistance(const TiPoint* p, const TiPoint* q);

// The direction in which q lies seen from p, as a mathematical angle: the
// initial direction of the great circle from p, taken on the plane around p
// (longitude scaled by the cosine of the mean latitude) while both
// differences stay below 2^16 units. The longitude difference is wrapped into
// half a turn either way. Identical points give 0x4000000; from a pole every
// other point lies south (north pole) or north (south pole). 0 for a null
// point or a latitude beyond +-0x4000000.
RMF_API_NODISCARD std::int32_t TiHeading(const TiPoint* p, const TiPoint* q);

// The router's distance coefficients at a latitude, as 32-bit fractions: with
// raw map-unit differences dx and dy, (c1 |dx| + c2 |dy|) >> 32 estimates the
// flat distance (longitude scaled by the cosine of the latitude) when
// |dx| >= |dy|, else (c3 |dx| + c4 |dy|) >> 32, within 18% (4% at the
// equator). Writes the coefficients whose pointers are not null and returns
// 1; returns 0 and writes nothing for a latitude beyond +-0x4000000.
RMF_API_NODISCARD std::int32_t TiDistCoeff(std::int32_t latitude, std::uint32_t* c1, std::uint32_t* c2,
                                           std::uint32_t* c3, std::uint32_t* c4);

// round(sqrt(dx^2 + dy^2)), exact for every pair of 32-bit components (the
// largest, about 3.04e9, needs the unsigned result). 0 for a null vector.
RMF_API_NODISCARD std::uint32_t TiLength(const TiVector* a);

// |a.dx x b.dx + a.dy x b.dy| and |a.dx x b.dy - a.dy x b.dx|, exact as
// unsigned 64-bit values (at most 2^63), into *out; return out. Null vectors
// give 0; a null out writes nothing and returns null.
RMF_API TiUx* TiAbsDotProduct(TiUx* out, const TiVector* a, const TiVector* b);
RMF_API TiUx* TiAbsCrossProduct(TiUx* out, const TiVector* a, const TiVector* b);

// The nearest location of the polyline points[0..count-1] to p that is
// strictly closer than maxDist, optionally only on segments whose direction
// agrees with a heading.
//   Distances are Euclidean on the plane around p whose x axis is scaled by
//   cos(p.y) when scale is non-zero (unscaled otherwise); a one-point polyline
//   is measured with TiDistance. Vertex distances and perpendicular distances
//   are both rounded to the nearest unit.
//   The heading filter is on when 0 <= tolerance < 0x8000000 and either
//   tolerance < 0x4000000 or mode is non-zero: a segment passes when its
//   direction on that plane lies within the tolerance of heading; mode 0
//   accepts either direction along the segment, mode > 0 only along heading,
//   mode < 0 only against it. A vertex counts when a segment next to it
//   passes.
//   Returns 2i when the nearest location is vertex i, 2i + 1 when it lies
//   inside the segment from vertex i to i + 1 (the first one in polyline
//   order among equally near ones), and fills *outPoint (the vertex or the
//   foot of the perpendicular, in map units) and *outDist when they are
//   given. -1 when nothing is closer than maxDist, for a null p or points,
//   count < 1 or count > 2^30 (the answer would not fit), and, with scale on,
//   for p beyond +-0x4000000 of latitude.
RMF_API_NODISCARD std::int32_t TiPointToPolylineHeading(const TiPoint* p, const TiPoint* points, std::int32_t count,
                                                        std::int32_t maxDist, std::int32_t scale, std::int32_t heading,
                                                        std::int32_t tolerance, std::int32_t mode, TiPoint* outPoint,
                                                        std::int32_t* outDist);

// How the polyline points[0..count-1] lies against the rectangle r at
// distance dist (the distance of TiPointToPolylineHeading with scale on):
//   0 nothing of r comes closer than dist to the polyline;
//   1 some of r does (or r and the polyline meet) but not provably all of it;
//   2 all of r lies closer than dist (to the rounding of distances);
//   kRmfBadArgument (-2) for null points or r, count < 1, dist < 0, or a
//   rectangle (r, box or searchBox) whose min corner lies beyond its max
//   corner.
// box is the polyline's bounding box when the caller has it (computed
// otherwise). searchBox, when given, is the caller's own widened box: r
// outside it answers 0 at once; without it the polyline's box is widened by
// dist (in x by dist / cos of the highest latitude reached, over the whole
// longitude range when that reaches a pole) for the same quick test.
RMF_API_NODISCARD std::int32_t TiPolylineDistOverlapRect(const TiPoint* points, std::int32_t count, const TiRect* box,
                                                         std::int32_t dist, const TiRect* searchBox, const TiRect* r);

// The constant tables behind TiDistCoeff and the absolute products (the tests
// check the coefficients against the rows they must hold).
namespace ti::detail {
// c1..c4 of TiDistCoeff at latitude i x 90/256 degrees, i = 0..256, as 32-bit
// fractions; entry 257 repeats entry 256.
extern const std::array<std::array<std::uint32_t, 258>, 4> kDistCoeffTables;
// Indexed by the four sign bits (a.dx, a.dy, b.dx, b.dy from bit 3 down): 1
// when the two absolute products add up, 0 when the smaller is subtracted.
extern const std::array<std::uint8_t, 16> kCrossAddsUp;
extern const std::array<std::uint8_t, 16> kDotAddsUp;
}  // namespace ti::detail
