// House numbers along a street. A street is cut into many features, and
// often only some of them carry address ranges. To tell the house number at a
// point, or on which side of the street a number lies, the map engine walks
// the named street through its connected features (CollectStreetSegments),
// spreads the feature's ranges over the walked pieces in proportion to their
// length (GetHouseNumbersAlongStreet), picks the range of the point's side
// (SelectRangeForSide) and interpolates one number on the piece
// (InterpolateHouseNumberText).
//
// All operations read the map through the map context's reader and may use
// its query, feature slots and reference array; they keep nothing between
// calls. Those that gather lists may throw std::bad_alloc.
#pragma once

#include <cstdint>
#include <string>

#include "mapengine/format/RmfTypes.h"
#include "mapengine/format/base/TiTypes.h"
#include "mapengine/object/CMap.h"

// Limits of a walk: feature references visited, pieces written, candidates
// looked at per step, and the radius (map units) searched at a piece's end.
inline constexpr std::int32_t kStreetWalkMaxVisited = 1000;
inline constexpr std::int32_t kStreetWalkMaxSegments = 250;
inline constexpr std::int32_t kStreetWalkCandidates = 15;
inline constexpr std::int32_t kStreetWalkRadius = 4;

// The address ranges of one feature: first range (side 1), second range
// (side 2), 0 for none; `mixed` is 1 when a side's two numbers differ in
// parity or two different range attributes were merged.
struct HouseNumberRanges {
  std::int32_t firstFrom;
  std::int32_t firstTo;
  std::int32_t secondFrom;
  std::int32_t secondTo;
  std::int32_t mixed;
};

// One piece of a walked street: its ends, its length in feet, and the numbers
// the spreading gives it (-1 until then).
struct StreetSegment {
  TiPoint first;
  TiPoint last;
  std::int32_t lengthFeet;
  std::int32_t secondFrom;
  std::int32_t secondTo;
  std::int32_t firstFrom;
  std::int32_t firstTo;
  std::int32_t mixed;
};

// The numbers at a point: the piece's ends and both sides as seen along the
// heading (-1 when unknown).
struct StreetSegmentNumbers {
  TiPoint first;
  TiPoint last;
  std::int32_t rightFrom;
  std::int32_t rightTo;
  std::int32_t leftFrom;
  std::int32_t leftTo;
  std::int32_t mixed;
};

// The range SelectRangeForSide chose, with the reference it was asked for.
struct SelectedRange {
  RmfFeatureRef reference;
  std::int32_t from;
  std::int32_t to;
  std::int32_t mixed;
};

// Walks the street of `start` (same route-class text, same address-range
// record) backwards from the start of its whole feature and forwards from its
// end, through the features found within kStreetWalkRadius of each piece's
// end (class filter "567", and with a heading other than -1 only those
// agreeing with it within 45 degrees), and writes its single-segment pieces
// to `segments` (room for kStreetWalkMaxSegments) in street order: the
// pieces found backwards first, farthest first, then the start feature's,
// then those found forwards. Each piece's length is added to *totalLength;
// when a piece equals `start`, *startIndex gets its index (else -1) and
// *direction whether the heading runs along it. Returns the number of
// pieces, or 0 when the street has more than kStreetWalkMaxSegments. The walk
// ends where no new piece is found, and also once kStreetWalkMaxVisited
// references have been visited, so a ring street or a street that meets
// itself always ends.
std::int32_t CollectStreetSegments(const MapContext& context, RmfFeatureRef start, std::int32_t heading,
                                   StreetSegment* segments, std::int32_t* totalLength, std::uint8_t* direction,
                                   std::int32_t* startIndex);

// The ranges of every address-range attribute of the feature merged: one
// attribute (or several equal ones) as it is; a second, different one widens
// the first side by side and marks the result mixed.
HouseNumberRanges GetHouseNumberRanges(const MapContext& context, RmfFeatureRef feature);

// The house numbers at `point` on the street of `feature` (heading -1 for
// none): the feature's ranges spread over the walked street, read off the
// piece where the point lies (the start piece, else the nearest piece). When
// the feature has no positive number, or the walk gives fewer than two
// pieces, the feature's own ranges and ends. A feature without two points
// gives the point as both ends and every number -1.
StreetSegmentNumbers GetHouseNumbersAlongStreet(const MapContext& context, RmfFeatureRef feature, TiPoint point,
                                                std::int32_t heading);

// Pair A (aFrom, aTo) when it is not (0, 0) and the point lies on the right
// of `segment`'s first-to-last line (or on it), or pair B is (0, 0);
// otherwise pair B. A segment without two points gives (-1, -1) and flag 0.
SelectedRange SelectRangeForSide(const MapContext& context, RmfFeatureRef reference, std::int32_t aFrom,
                                 std::int32_t aTo, std::int32_t bFrom, std::int32_t bTo, std::int32_t mixed,
                                 RmfFeatureRef segment, TiPoint point);

// The number at `point` on the piece from `a` (number `from`) to `b` (number
// `to`), interpolated by the point's place along the piece, held to the
// piece's ends, and, unless the range is mixed, given the parity of `from`.
// An unknown number (below 0, as -1 is) gives an empty text.
std::u16string InterpolateHouseNumberText(TiPoint point, TiPoint a, TiPoint b, std::int32_t from, std::int32_t to,
                                          std::int32_t mixed);
