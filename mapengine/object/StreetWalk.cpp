// The street walk and the house numbers along a street.
#include "mapengine/object/StreetWalk.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/features/RmfFeatureAttr.h"
#include "mapengine/format/features/RmfFeaturesNear.h"
#include "mapengine/object/Geometry.h"
#include "mapengine/object/HouseNumbers.h"
#include "mapengine/object/Utilities.h"
#include "platform/os/format.h"

namespace {

// Heading tolerance of the walk's search: 45 degrees in map angle units.
constexpr std::int32_t kWalkHeadingTolerance = 0x2000000;

// The first and last point of a reference; false when it has fewer than two.
// Read from the library's own buffer, so the last point of a feature of more
// than kMaxFeaturePoints points is its real end.
bool Ends(RmfReader* reader, const RmfFeatureRef& reference, TiPoint* first, TiPoint* last) {
  TiPoint* points = nullptr;
  const std::int32_t n = RmfFeatureRefPoints(reader, reference, &points);
  if (n < 2 || points == nullptr) return false;
  *first = points[0];
  *last = points[n - 1];
  return true;
}


// What makes a feature part of the walked street, and how the walk searches.
struct WalkState {
  RmfReader* reader;
  std::u16string routeClass;
  StreetNameRecord record;
  std::int32_t angle;      // search direction in map angle units, -1 for none
  std::int32_t tolerance;  // -1 for none
  FeatureRefList visited{kStreetWalkMaxVisited};
  bool full = false;  // the visited list ran out of room: the walk stops

  bool SameStreet(const RmfFeatureRef& reference) const {
    return GetRouteClassText(reader, reference) == routeClass &&
           AreStreetNameRecordsEqual(GetStreetNameRecord(reader, reference), record);
  }
  // Lists a piece; true when it was new.
  bool Visit(const RmfFeatureRef& piece) {
    const int r = AddUniqueFeatureRef(visited, piece);
    if (r == kFeatureRefListFull) full = true;
    return r == kFeatureRefAdded;
  }
};

// One step of the walk from the end `at` of the current piece (whose ends are
// first and last): lists the pieces of every feature of the same street found
// there, and gives the next current piece, the first (backwards) or last
// (forwards) piece of the last feature that brought new pieces. False when
// nothing new was found or the list is full.
bool Step(WalkState& walk, TiPoint at, TiPoint first, TiPoint last, bool backwards, std::vector<RmfFeatureRef>* group,
          RmfFeatureRef* next) {
  SetStreetClassQuery(walk.reader, "567");
  RmfFeatureRef candidates[kStreetWalkCandidates];
  std::int32_t overflow = 0;
  std::int32_t found = RmfFeaturesNear(walk.reader, at.x, at.y, kStreetWalkRadius, walk.angle, walk.tolerance,
                                       candidates, kStreetWalkCandidates, &overflow);
  found = std::clamp(found, 0, kStreetWalkCandidates);
  bool advanced = false;
  for (std::int32_t i = 0; i < found && !walk.full; ++i) {
    TiPoint cFirst{}, cLast{};
    if (!Ends(walk.reader, candidates[i], &cFirst, &cLast)) continue;
    // The current piece itself, found again.
    if (AreMapPointsNear(cFirst.x, cFirst.y, first.x, first.y) && AreMapPointsNear(cLast.x, cLast.y, last.x, last.y)) {
      continue;
    }
    if (!walk.SameStreet(candidates[i])) continue;
    const std::vector<RmfFeatureRef> pieces = SplitFeatureRef(walk.reader, WholeFeatureRef(walk.reader, candidates[i]));
    if (pieces.empty()) continue;
    std::vector<RmfFeatureRef> added;
    for (const RmfFeatureRef& piece : pieces) {
      if (walk.Visit(piece)) added.push_back(piece);
    }
    if (added.empty()) continue;
    group->insert(group->end(), added.begin(), added.end());
    *next = backwards ? pieces.front() : pieces.back();
    advanced = true;
  }
  return advanced && !walk.full;
}

// Walks from `current` in one direction; the pieces found, in the order found
// and grouped per step.
std::vector<std::vector<RmfFeatureRef>> Walk(WalkState& walk, RmfFeatureRef current, bool backwards) {
  std::vector<std::vector<RmfFeatureRef>> groups;
  while (!walk.full) {
    TiPoint first{}, last{};
    if (!Ends(walk.reader, current, &first, &last)) break;
    std::vector<RmfFeatureRef> group;
    RmfFeatureRef next = current;
    const bool advanced = Step(walk, backwards ? first : last, first, last, backwards, &group, &next);
    if (!group.empty()) groups.push_back(std::move(group));
    if (!advanced) break;
    current = next;
  }
  return groups;
}

std::int32_t Parity(std::int32_t n) { return n % 2 != 0 ? 1 : 0; }

StreetSegmentNumbers OwnNumbers(TiPoint first, TiPoint last, const HouseNumberRanges& r, bool along) {
  if (along) return {first, last, r.firstFrom, r.firstTo, r.secondFrom, r.secondTo, r.mixed};
  return {first, last, r.secondFrom, r.secondTo, r.firstFrom, r.firstTo, r.mixed};
}

// One side of two range records merged: B widens A.
void WidenSide(std::int32_t& from, std::int32_t& to, std::int32_t otherFrom, std::int32_t otherTo,
               std::int32_t& mixed) {
  if (otherFrom == 0) return;
  if (from == 0) {
    from = otherFrom;
    to = otherTo;
    return;
  }
  mixed = 1;
  if (from < to) {
    from = std::min(from, otherFrom);
    to = std::max(to, otherTo);
  } else {
    from = std::max(from, otherFrom);
    to = std::min(to, otherTo);
  }
}

// A step of numbers over a share of a range; made even (away from zero by
// one) unless the range is mixed, so a piece keeps the parity of its from
// number.
std::int64_t NumberStep(std::int32_t from, std::int32_t to, double share, bool mixed) {
  // |to - from| < 2^32, so the step fits 64 bits whatever the share.
  auto n = static_cast<std::int64_t>((static_cast<double>(to) - from) * std::clamp(share, 0.0, 1.0));
  if (!mixed && n % 2 != 0) n += 1;
  return n;
}

std::int32_t ClampToI32(std::int64_t n) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(n, INT32_MIN, INT32_MAX));
}

}  // namespace

std::int32_t CollectStreetSegments(const MapContext& context, RmfFeatureRef start, std::int32_t heading,
                                   StreetSegment* segments, std::int32_t* totalLength, std::uint8_t* direction,
                                   std::int32_t* startIndex) {
  *startIndex = -1;
  RmfReader* reader = context.rdr;
  const RmfFeatureRef whole = WholeFeatureRef(reader, start);

  WalkState walk{reader, GetRouteClassText(reader, start), GetStreetNameRecord(reader, start), -1, -1};
  if (heading != -1) {
    // The heading as a map angle (counter-clockwise from east), within one turn.
    const TiPoint units = DegreesToMapUnits(90.0 - heading, 0.0);
    walk.angle = static_cast<std::int32_t>(((std::int64_t{units.y} % kTiFullTurn) + kTiFullTurn) %
                                           kTiFullTurn);
    walk.tolerance = kWalkHeadingTolerance;
  }

  const std::vector<RmfFeatureRef> own = SplitFeatureRef(reader, whole);
  if (own.empty()) return 0;
  std::vector<std::vector<RmfFeatureRef>> backwards = Walk(walk, own.front(), true);
  for (const RmfFeatureRef& piece : own) {
    if (AreStreetNameRecordsEqual(GetStreetNameRecord(reader, piece), walk.record)) walk.Visit(piece);
  }
  if (!walk.full) Walk(walk, own.back(), false);

  // The visited list holds the backward groups nearest first; the street
  // runs from the farthest of them, so they are written in reverse order of
  // finding (each group's pieces keep their own order).
  std::vector<RmfFeatureRef> order;
  order.reserve(walk.visited.m_Refs.size());
  std::size_t backwardCount = 0;
  for (auto it = backwards.rbegin(); it != backwards.rend(); ++it) {
    order.insert(order.end(), it->begin(), it->end());
    backwardCount += it->size();
  }
  order.insert(order.end(), walk.visited.m_Refs.begin() + static_cast<std::ptrdiff_t>(backwardCount),
               walk.visited.m_Refs.end());

  std::int32_t count = 0;
  for (const RmfFeatureRef& piece : order) {
    if (!AreStreetNameRecordsEqual(GetStreetNameRecord(reader, piece), walk.record)) continue;
    TiPoint first{}, last{};
    if (!Ends(reader, piece, &first, &last)) continue;
    const std::int32_t length = DistanceFeetBetweenMapPoints(first.x, first.y, last.x, last.y);
    *totalLength += length;
    if (count == kStreetWalkMaxSegments) return 0;
    if (AreFeatureRefsEqual(piece, start)) {
      *startIndex = count;
      *direction = AreHeadingAndOrientationSimilar(heading, BearingBetweenMapPoints(first.x, first.y, last.x, last.y),
                                                   90)
                       ? 1
                       : 0;
    }
    segments[count++] = StreetSegment{first, last, length, -1, -1, -1, -1, 0};
  }
  return count;
}

HouseNumberRanges GetHouseNumberRanges(const MapContext& context, RmfFeatureRef feature) {
  HouseNumberRanges a{}, b{};
  int found = 0;
  char code[kRmfAttrCodeChars + 1];
  char value[kRmfAttrValueChars + 1];
  char name[kRmfAttrNameChars + 1];
  for (std::int32_t index = 0; RmfFeatureAttribute(context.rdr, feature, index, code, value, name) >= 1; ++index) {
    if (!HasAttributeCodePair(code, '2', 'B')) continue;
    const HouseNumberRange r = ReadHouseNumberRangeRecord(code, value, name);
    (found == 0 ? a : b) = HouseNumberRanges{r.from1, r.to1, r.from2, r.to2, 0};
    ++found;
  }
  const bool same = a.firstFrom == b.firstFrom && a.firstTo == b.firstTo && a.secondFrom == b.secondFrom &&
                    a.secondTo == b.secondTo && a.mixed == b.mixed;
  if (found > 1 && !same) {
    WidenSide(a.firstFrom, a.firstTo, b.firstFrom, b.firstTo, a.mixed);
    WidenSide(a.secondFrom, a.secondTo, b.secondFrom, b.secondTo, a.mixed);
  }
  if (Parity(a.firstFrom) != Parity(a.firstTo) || Parity(a.secondFrom) != Parity(a.secondTo)) a.mixed = 1;
  return a;
}

StreetSegmentNumbers GetHouseNumbersAlongStreet(const MapContext& context, RmfFeatureRef feature, TiPoint point,
                                                std::int32_t heading) {
  TiPoint first{}, last{};
  if (!Ends(context.rdr, feature, &first, &last)) return {point, point, -1, -1, -1, -1, 0};
  const HouseNumberRanges r = GetHouseNumberRanges(context, feature);
  bool along = AreHeadingAndOrientationSimilar(heading, BearingBetweenMapPoints(first.x, first.y, last.x, last.y), 90);
  const StreetSegmentNumbers own = OwnNumbers(first, last, r, along);
  if (r.firstFrom <= 0 && r.firstTo <= 0 && r.secondFrom <= 0 && r.secondTo <= 0) return own;

  std::vector<StreetSegment> segments(kStreetWalkMaxSegments);
  std::int32_t total = 0;
  std::uint8_t direction = 0;
  std::int32_t startIndex = -1;
  const std::int32_t n =
      CollectStreetSegments(context, feature, heading, segments.data(), &total, &direction, &startIndex);
  if (n <= 1) return own;
  // The walk's direction is known only when it met the start piece; the
  // feature's own orientation holds otherwise.
  if (startIndex >= 0) along = direction != 0;

  std::int32_t at = startIndex;
  if (at < 0) {
    std::int32_t best = 0;
    for (std::int32_t k = 0; k < n; ++k) {
      const std::int32_t d = std::abs(DistanceFeetToSegment(point, segments[k].first, segments[k].last));
      if (at < 0 || d < best) {
        at = k;
        best = d;
      }
    }
  }
  if (at < 0) return own;

  const bool mixed = r.mixed != 0;
  std::int64_t second = r.secondFrom;
  std::int64_t firstSide = r.firstFrom;
  for (std::int32_t k = 0; k <= at; ++k) {
    StreetSegment& s = segments[k];
    s.secondFrom = ClampToI32(second);
    s.firstFrom = ClampToI32(firstSide);
    s.mixed = r.mixed;
    if (k == n - 1) {
      s.secondTo = r.secondTo;
      s.firstTo = r.firstTo;
      break;
    }
    // A street of no length spreads nothing: every piece starts where the
    // ranges start.
    const double share = total > 0 ? static_cast<double>(s.lengthFeet) / total : 0.0;
    second += NumberStep(r.secondFrom, r.secondTo, share, mixed);
    firstSide += NumberStep(r.firstFrom, r.firstTo, share, mixed);
    s.secondTo = ClampToI32(second);
    s.firstTo = ClampToI32(firstSide);
  }
  const StreetSegment& s = segments[at];
  if (along) return {s.first, s.last, s.firstFrom, s.firstTo, s.secondFrom, s.secondTo, r.mixed};
  return {s.first, s.last, s.secondFrom, s.secondTo, s.firstFrom, s.firstTo, r.mixed};
}

SelectedRange SelectRangeForSide(const MapContext& context, RmfFeatureRef reference, std::int32_t aFrom,
                                 std::int32_t aTo, std::int32_t bFrom, std::int32_t bTo, std::int32_t mixed,
                                 RmfFeatureRef segment, TiPoint point) {
  TiPoint f{}, l{};
  if (!Ends(context.rdr, segment, &f, &l)) return {reference, -1, -1, 0};
  // The cross product of (L - F) and (P - F), from differences in 128 bits
  // so that no pair of i32 points can overflow it; the point lies on the
  // right (or on the line) when it is not positive.
  __extension__ using Wide = __int128;
  const Wide cross = Wide{std::int64_t{l.x} - f.x} * (std::int64_t{point.y} - f.y) -
                     Wide{std::int64_t{l.y} - f.y} * (std::int64_t{point.x} - f.x);
  const bool right = cross <= 0;
  const bool aEmpty = aFrom == 0 && aTo == 0;
  const bool bEmpty = bFrom == 0 && bTo == 0;
  if (!aEmpty && (right || bEmpty)) return {reference, aFrom, aTo, mixed};
  return {reference, bFrom, bTo, mixed};
}

std::u16string InterpolateHouseNumberText(TiPoint point, TiPoint a, TiPoint b, std::int32_t from, std::int32_t to,
                                          std::int32_t mixed) {
  const double t = std::clamp(SegmentParameter(point, a, b), 0.0, 1.0);
  // from and to are i32, so n lies between them and fits.
  auto n = static_cast<std::int32_t>((static_cast<double>(to) - from) * t + from);
  if (mixed == 0) {
    if (from % 2 == 0) {
      n = n / 2 * 2;
    } else if (n % 2 == 0) {
      n = n / 2 * 2 + 1;
    }
  }
  if (n < 0) return {};
  return platform::FormatW(u"%lu", {static_cast<unsigned long>(n)});
}
