// The road features near a position: "which street am I on, and which way
// along it?" The where-am-I request and the cross-street code of the map
// engine ask it, doubling the radius until something comes back. The answer
// is a list of directed feature references (RmfFeatureRef):
//  - when the nearest place lies inside a segment whose two ends are both
//    farther than the radius: that segment, as point references (position
//    bit 14) at the nearest point, once per direction that may be meant (both
//    without a heading, the one agreeing with the heading with one);
//  - otherwise the nearest place is a vertex (a place inside a segment is
//    moved to its end when that end lies within the radius), a junction: every
//    part of every map source that passes through that point exactly, each
//    segment next to the point as a point reference at the point: arriving
//    (from the previous vertex, position 0x4400) and leaving (to the next
//    one, 0x4000), or with a heading only the directions that agree with it,
//    carrying bit 13 (0x6400 arriving, 0x6000 leaving, from and to taken in
//    the direction of travel).
//
// Which roads take part: line features at the requested detail levels whose
// class digits are in the reader's "R" class filter (RmfQuerySetClassFilter
// with category 'R'); the caller sets that filter before asking. One-way
// streets: inside a segment the mark that the hit's texts carry ("+" or "-"
// as the 4th character of a code that passes the filter, such as a
// route-class attribute when class 7 is in the filter) keeps out the closed
// direction; at a junction the installed routing profile does
// (RmfProfileOneWay). Neither applies without a heading.
//
// Angles are direction angles as TiHeading gives them: 2^28 per turn,
// 0 = east, 0x4000000 = north. A tolerance below 0 means no heading. x and y
// are map units, the radius a distance in map units (TiDistance).
//
// The search runs the reader's feature query: it uses the reader's query
// state, feature slots and arena exclusively while it runs, so a query the
// caller had running is ended. The caller's query settings (levels, class
// filters, the query area of every source, the granularity) are saved first
// and restored on every exit.
#pragma once

#include <cstdint>

#include "mapengine/format/RmfExport.h"
#include "mapengine/format/RmfResult.h"
#include "mapengine/format/RmfTypes.h"
#include "mapengine/format/base/TiTypes.h"

struct RmfReader;
struct RmfFeature;

// The features near (x, y) at detail levels 1..8: RmfFeaturesNearPointLevels.
RMF_API_NODISCARD std::int32_t RmfFeaturesNear(RmfReader* reader, std::int32_t x, std::int32_t y, std::int32_t radius,
                                               std::int32_t heading, std::int32_t tolerance, RmfFeatureRef* out,
                                               std::int32_t capacity, std::int32_t* overflow);

// The features near (x, y) at detail levels lowest..highest: 0 for a null or
// closed reader; kRmfBadArgument (-2) (also the last error) for a null output,
// a capacity or a radius below 1, or a level outside 1..8; otherwise
// RmfFeaturesNearPoint.
RMF_API_NODISCARD std::int32_t RmfFeaturesNearPointLevels(RmfReader* reader, std::int32_t x, std::int32_t y,
                                                          std::int32_t radius, std::int32_t heading,
                                                          std::int32_t tolerance, std::int32_t lowest,
                                                          std::int32_t highest, RmfFeatureRef* out,
                                                          std::int32_t capacity, std::int32_t* overflow);

// The search itself (arguments as above, checked the same way). The references
// go to out[0 .. capacity - 1]; when more were found, *overflow (optional, else
// 0) receives how many did not fit and the result is the capacity; without an
// overflow output the result is the full count, of which only the first
// `capacity` were written. 0 when nothing lies within the radius. Failures
// leave no valid references in `out`: 0 with last error kRmfNoMemory (-3) when
// the arena cannot give the working lists, kRmfMalformed (-128) (also the last
// error) when the tile ranges or the parts at the junction do not fit lists the
// arena can give, -1 when all four feature slots are held by the caller,
// kRmfCancelled (-127) when the query's cancel flag stopped it. After a search
// that did not fail the last error is 0.
RMF_API_NODISCARD std::int32_t RmfFeaturesNearPoint(RmfReader* reader, std::int32_t x, std::int32_t y,
                                                    std::int32_t radius, std::int32_t heading, std::int32_t tolerance,
                                                    std::int32_t lowest, std::int32_t highest, RmfFeatureRef* out,
                                                    std::int32_t capacity, std::int32_t* overflow);

// 1 when the angle lies within reference - tolerance .. reference + tolerance
// (both ends included), taking the angle one turn (2^28) up when it lies
// below that window or one turn down when it lies above; else 0 (also for a
// negative tolerance).
RMF_API_NODISCARD std::int32_t RmfAngleWithin(std::int32_t angle, std::int32_t reference, std::int32_t tolerance);

// Whether the segment a -> b runs with the heading: 1 when its direction
// (TiHeading) lies within the tolerance of the heading, -1 when it lies
// within the tolerance of the opposite direction (the segment runs against
// the heading), else 0 (also for a null point). The heading is taken modulo
// one turn.
RMF_API_NODISCARD std::int32_t RmfSegmentHeadingMatch(const TiPoint* a, const TiPoint* b, std::int32_t heading,
                                                      std::int32_t tolerance);

// The parts of the slot's record that pass through point `pointIndex` and whose
// class bits share a bit with maskA and a bit with maskB (a level mask and a
// class mask, say): one entry per vertex word equal to the point index, so a
// part that passes the point twice is listed twice; in part order. Writes at
// most `capacity` entries and returns the total; 0 for a point index outside
// the record; kRmfBadArgument (-2) for a null or free slot, or a null list with
// a capacity above 0. Parts beyond the router's node-word limits are left out.
RMF_API_NODISCARD std::int32_t RmfFeaturePartsAtNode(RmfFeature* slot, std::int32_t pointIndex, std::uint32_t maskA,
                                                     std::uint32_t maskB, std::int32_t* parts, std::int32_t capacity);
