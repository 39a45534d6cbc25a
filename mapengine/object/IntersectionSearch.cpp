// The intersection search: a best-first walk from the user's position along
// the ends of the street's features, looking for the nearest point ahead
// where a street of another name meets it.
//
// The walk keeps two point lists of 100 points each, with a heading per
// point: the points already examined and the points still to examine. A
// point is examined by looking at the features that meet there: a feature of
// the street's own name leads on to its ends, a feature of another name
// makes the point an intersection. The walk ends when there is nothing left
// to examine, after kIntersectionSearchMs of ticks, or after
// kIntersectionSearchSteps points. The step cap matters once the visited
// list is full: points examined then are not remembered, so a long street of
// one name would otherwise hand the same points back and forth until the
// time ran out, with the engine's lock held all that while.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mapengine/object/CMap.h"
#include "mapengine/object/CrossStreets.h"
#include "mapengine/object/Geometry.h"
#include "mapengine/object/NearestFeature.h"
#include "mapengine/object/StreetNames.h"
#include "mapengine/object/Utilities.h"
#include "platform/os/clock.h"
#include "platform/os/debug.h"

namespace {

// Points the walk examines at most.
constexpr int kIntersectionSearchSteps = 120;
// Degrees within which a point counts as ahead of the heading.
constexpr int kAheadTolerance = 75;
// A junction this close to the start that is not ahead is where the user
// comes from: it is passed over.
constexpr std::int32_t kBehindJunctionFeet = 30;
constexpr std::int32_t kNoDistance = 0x7FFFFFFF;
constexpr TiPoint kNoPoint{0x7FFFFFFF, 0x7FFFFFFF};

// The feature's name as the walk compares names: the names the engine gives
// unnamed streets count as no name.
std::u16string WalkName(const CMap& map, const RmfFeatureRef& feature, bool nameFlag, bool expanded) {
  std::u16string name = GetFeatureAttribute(map, feature, kAttributeStreetName, nameFlag);
  if (expanded) name = map.ExpandStreetName(name);
  if (map.IsFallbackStreetName(name)) name.clear();
  return name;
}

std::int32_t Feet(TiPoint a, TiPoint b) { return DistanceFeetBetweenMapPoints(a.x, a.y, b.x, b.y); }
// Takes the first point off the list, keeping the order of the rest.
VisitedPoint TakeFirst(VisitedPointList& list) {
  const VisitedPoint first = list.m_Points[0];
  for (int i = 1; i < list.m_nCount; ++i) list.m_Points[i - 1] = list.m_Points[i];
  --list.m_nCount;
  return first;
}

// A point found by the walk, with the heading it was reached in.
struct Found {
  TiPoint point = kNoPoint;
  std::int32_t heading = -1;
  std::int32_t feet = kNoDistance;
  bool valid() const { return feet != kNoDistance; }
};

}  // namespace

TiPoint FindBestIntersection(CMap& map, TiPoint point, std::u16string_view streetName, const RmfFeatureRef& street,
                             std::int32_t* heading, bool nameFlag, bool expanded) {
  RmfReader* reader = map.m_Rdr.get();
  if (reader == nullptr || heading == nullptr) return kNoPoint;
  const std::int32_t userHeading = *heading;
  TiPoint points[kMaxFeaturePoints];
  std::int32_t n = GetFeaturePointsCapped(reader, street, points);
  if (n < 2) return kNoPoint;
  // Distances are measured from the position moved onto the street's chord.
  const TiPoint start = ProjectMapPointOntoSegment(points[0], points[n - 1], point, false);

  std::u16string name(streetName);
  if (name.empty()) name = WalkName(map, street, nameFlag, expanded);
  if (map.IsFallbackStreetName(name)) name.clear();

  VisitedPointList visited;
  VisitedPointList open;
  {
    const TiPoint ends[2] = {points[0], points[n - 1]};
    bool anyAhead = false;
    for (const TiPoint end : ends) {
      const bool ahead =
          AreHeadingAndOrientationSimilar(userHeading, BearingBetweenMapPoints(start, end), kAheadTolerance);
      anyAhead = anyAhead || ahead;
      const bool atStart = userHeading != -1 && TiSamePoint(end, start);
      if (ahead && !atStart) {
        AddVisitedPoint(open, end.x, end.y, userHeading);
      } else {
        AddVisitedPoint(visited, end.x, end.y, -1);
      }
    }
    // Nothing lies ahead: look both ways rather than not at all.
    if (!anyAhead) {
      for (const TiPoint end : ends) AddVisitedPoint(open, end.x, end.y, userHeading);
    }
  }

  Found best;
  Found fallback;
  bool lastContinues = false;
  bool timedOut = false;
  const DWORD startTicks = GetTickCount();
  std::vector<RmfFeatureRef> features;
  VisitedPointList ends;  // ends of the street's own features at a fork of it
  for (int step = 0; open.m_nCount > 0; ++step) {
    if (GetTickCount() - startTicks >= kIntersectionSearchMs) {
      timedOut = true;
      break;
    }
    if (step >= kIntersectionSearchSteps) break;
    const VisitedPoint taken = TakeFirst(open);
    const TiPoint c{taken.x, taken.y};
    AddVisitedPoint(visited, c.x, c.y, taken.value);
    ends.m_nCount = 0;
    lastContinues = false;

    const std::int32_t count =
        GetNearbyCrossStreetFeatures(reader, c, 2, kNearSearchLargestFeet, kNearFeaturesLimit, &features, "4567");
    if (count < 1) continue;
    const bool isJunction = count >= 3;
    int roadNetwork = 0;
    for (const RmfFeatureRef& f : features) {
      if (IsFeatureRoadNetwork(reader, f)) ++roadNetwork;
    }
    const std::int32_t feet = Feet(start, c);
    const bool cAhead =
        AreHeadingAndOrientationSimilar(userHeading, BearingBetweenMapPoints(start, c), kAheadTolerance);
    if (isJunction && feet < kBehindJunctionFeet && !cAhead) continue;

    // A junction keeps its mark while every street there has the street's
    // name: a fork of the street itself is no intersection.
    bool junctionMark = isJunction;
    for (const RmfFeatureRef& f : features) {
      n = GetFeaturePointsCapped(reader, f, points);
      if (n < 2) continue;
      const std::u16string fName = WalkName(map, f, nameFlag, expanded);
      const bool sameName = fName == name;
      if (!sameName && junctionMark) {
        junctionMark = false;
        lastContinues = false;
      }
      if (sameName) {
        const TiPoint fEnds[2] = {points[0], points[n - 1]};
        if (junctionMark) {
          for (const TiPoint e : fEnds) AddVisitedPoint(ends, e.x, e.y, -1);
          lastContinues = true;
        }
        bool added = false;
        for (const TiPoint e : fEnds) {
          if (IsVisitedPoint(visited, e.x, e.y) || Feet(start, e) > best.feet) continue;
          added = AddVisitedPoint(open, e.x, e.y, BearingBetweenMapPoints(c, e)) || added;
        }
        // The street ends here with nothing else: a dead end ahead is where
        // the street's next stop is.
        if (!added && count == 1 && cAhead && feet < best.feet && (userHeading != -1 || feet < fallback.feet)) {
          best = Found{c, taken.value, feet};
        }
        if (roadNetwork < 3) continue;
      }
      if (feet < fallback.feet) fallback = Found{c, taken.value, feet};
      // Of the nameless features only roundabouts, and ramps when ramps are
      // named, make an intersection.
      if (fName.empty() && !map.IsFeature8(f) && !(nameFlag && IsFeatureARamp(reader, f))) continue;
      if (!junctionMark && feet < best.feet) best = Found{c, taken.value, feet};
    }
    // The street forks into more branches of its own name: the walk would
    // only wander down them.
    if (lastContinues && ends.m_nCount > 3) break;
  }
  if (timedOut) OutputDebugStringW(u"CARTOVEL: Failed to find intersection in 3 seconds\n");

  if (best.valid()) {
    *heading = best.heading;
    return best.point;
  }
  if ((userHeading == -1 || lastContinues) && fallback.valid()) {
    if (lastContinues) *heading = fallback.heading;
    return fallback.point;
  }
  return kNoPoint;
}
