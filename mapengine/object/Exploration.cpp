// Virtual exploration: walking the map street by street without a position
// fix. The caller keeps the virtual position, heading and side of the street
// between calls; each step starts the walk, walks to the next intersection,
// crosses the street there, moves a few feet, or asks again which streets
// cross here, and hands back the cross streets where it lands.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/features/RmfProfile.h"
#include "mapengine/format/route/RmfNodeConnections.h"
#include "mapengine/format/store/RmfReader.h"
#include "mapengine/object/CMap.h"
#include "mapengine/object/CrossStreets.h"
#include "mapengine/object/Geometry.h"
#include "mapengine/object/InputChecks.h"
#include "mapengine/object/NearestFeature.h"
#include "mapengine/object/RampLabels.h"
#include "mapengine/object/RouteFilters.h"
#include "mapengine/object/StreetNames.h"
#include "mapengine/object/Utilities.h"
#include "platform/com/guard.h"

namespace {

// Feet a step moves down the street, and how far short of an intersection
// (or beyond it, once crossed) the cross streets are located.
constexpr std::int32_t kStepFeet = 3;
constexpr std::int32_t kShortOfIntersectionFeet = 1;
// The features at an intersection lie within a foot or two of its point; a
// start point looks a little further for the junction it stands on.
constexpr std::int32_t kAtPointStartFeet = 1;
constexpr std::int32_t kAtPointLargestFeet = 2;
constexpr std::int32_t kStartJunctionLargestFeet = 4;
constexpr std::int32_t kStartSearchFeet = 2;
// A position this close to a street's end asks about that end.
constexpr std::int32_t kNearEndFeet = 4;
// A street is crossed along its own direction when its chord lies within
// this many degrees of the heading; a walk goes along it within 90.
constexpr int kCrossAlignedDegrees = 5;
constexpr int kWalkAlongDegrees = 90;
// Steps a walk to the next intersection takes at most.
constexpr int kWalkMaxSteps = 120;

struct Keywords {
  bool expanded;
};

// Reads the two keywords of an exploration request; "STREET DETAILED" sets
// the engine's flag for the names said afterwards.
Keywords ReadKeywords(CMap& map, std::u16string_view request) {
  map.m_bStreetDetailed = ContainsText(request, u"STREET DETAILED") ? 1 : 0;
  return Keywords{ContainsText(request, u"INTERSECTION EXPANDED")};
}

std::int32_t Opposite(std::int32_t heading) { return (heading + 180) % 360; }

// The reference the other way along it; false when the library refuses.
bool Reverse(RmfReader* reader, RmfFeatureRef& feature) {
  RmfFeatureRef reversed{};
  if (RmfFeatureRefReverse(reader, feature, &reversed) != 1) return false;
  feature = reversed;
  return true;
}

// The street's name as the cross streets carry it.
std::u16string NameOf(const CMap& map, const RmfFeatureRef& feature, bool expanded) {
  return GetStreetName(map, feature, false, expanded, false);
}

// The four list-returning operations: the VARIANT cleared, a position that
// is not a number refused, a list of 150 filled by the worker, the heading
// written back, the list handed out.
template <class Worker>
HRESULT ReturnCrossStreets(VARIANT* out, SHORT* heading, double latitude, double longitude, Worker worker) {
  if (out == nullptr || heading == nullptr) return E_POINTER;
  VariantClear(out);
  if (!IsPositionUsable(latitude, longitude)) return E_INVALIDARG;
  return com::Guarded([&]() -> HRESULT {
    CrossStreetVector list(kCrossStreetCapacity);
    const std::int32_t result = worker(list);
    *heading = static_cast<SHORT>(result);
    return CrossStreetListToVariant(list, out);
  });
}

std::u16string TextOf(BSTR* text) { return std::u16string(BstrView(text != nullptr ? *text : nullptr)); }

}  // namespace

std::int32_t CMap::CollectCrossStreets(bool nearSide, TiPoint intersection, TiPoint location,
                                       const RmfFeatureRef& feature, std::int32_t heading, CARTOVELSideOfStreet side,
                                       std::u16string_view streetName, CrossStreetVector& list, bool expanded) {
  RmfReader* reader = m_Rdr.get();
  std::vector<RmfFeatureRef> features;
  GetNearbyCrossStreetFeatures(reader, intersection, kAtPointStartFeet, kAtPointLargestFeet, kNearFeaturesLimit,
                               &features, "4567");
  // A dead end, or the middle of a street: the street itself both ways.
  if (features.size() == 1) {
    RmfFeatureRef reversed = feature;
    if (Reverse(reader, reversed)) features.push_back(reversed);
  }

  RampExitInfoMap exits;
  UpdateRampExitInfo(*this, exits, features);
  for (const RmfFeatureRef& f : features) {
    INT connectType = kConnectNormal;
    if (IsFeatureR(f) || IsFeatureW(f)) {
      connectType = kConnectTurnRestriction;
    } else if (!IsFeatureRoadNetwork(reader, f)) {
      continue;
    }
    AddCrossStreetToVector(exits, f, intersection, location, connectType, side, list, expanded, true);
  }
  return NormalizeCrossStreets(*this, nearSide, heading, streetName, list);
}

std::int32_t CMap::FindInitialCrossStreets(TiPoint point, const RmfFeatureRef& feature, std::int32_t heading,
                                           CARTOVELSideOfStreet side, std::u16string_view request,
                                           CrossStreetVector& list) {
  const Keywords keywords = ReadKeywords(*this, request);
  RmfReader* reader = m_Rdr.get();
  std::vector<RmfFeatureRef> near;
  GetNearbyCrossStreetFeatures(reader, point, kAtPointStartFeet, kStartJunctionLargestFeet, kNearFeaturesLimit, &near,
                               "567");
  TiPoint intersection = point;
  if (near.size() < 3) {
    // Along a street: the point's foot on it.
    const std::vector<TiPoint> points = FeaturePoints(reader, feature);
    if (points.size() >= 2) intersection = ProjectMapPointOntoSegment(points.front(), points.back(), point, false);
  } else {
    // On a junction: the end that two of the features share.
    std::vector<std::vector<TiPoint>> ends;
    for (const RmfFeatureRef& f : near) ends.push_back(FeaturePoints(reader, f));
    const auto shared = [&](TiPoint end, std::size_t own) {
      for (std::size_t j = 0; j < ends.size(); ++j) {
        if (j != own && !ends[j].empty() &&
            (AreMapPointsNear(ends[j].front(), end) || AreMapPointsNear(ends[j].back(), end))) {
          return true;
        }
      }
      return false;
    };
    bool found = false;
    for (std::size_t i = 0; i < ends.size() && !found; ++i) {
      if (ends[i].empty()) continue;
      for (const TiPoint end : {ends[i].front(), ends[i].back()}) {
        if (shared(end, i)) {
          intersection = end;
          found = true;
          break;
        }
      }
    }
  }
  const std::u16string name = NameOf(*this, feature, keywords.expanded);
  return CollectCrossStreets(true, intersection, point, feature, heading, side, name, list, keywords.expanded);
}

std::int32_t CMap::FindInitialHeadingAndCrossStreetsInternal(double latitude, double longitude,
                                                             std::u16string_view streetName,
                                                             std::u16string_view streetAddress,
                                                             std::u16string_view request, CrossStreetVector& list) {
  RmfReader* reader = m_Rdr.get();
  const TiPoint point = DegreesToMapUnits(latitude, longitude);
  std::vector<RmfFeatureRef> near;
  if (GetNearbyCrossStreetFeatures(reader, point, kStartSearchFeet, kNearSearchLargestFeet, kNearFeaturesLimit, &near,
                                   "567") < 1) {
    return -1;
  }

  CARTOVELSideOfStreet side = CARTOVELRightSide;
  std::int32_t best = std::numeric_limits<std::int32_t>::max();
  std::int32_t heading = -1;
  std::int32_t fallbackHeading = -1;
  RmfFeatureRef chosen{};
  bool haveChosen = false;
  RmfFeatureRef nearest{};  // the nearest feature of any name, when none is chosen
  for (RmfFeatureRef f : near) {
    // The search hands out each direction of a stretch; the street is read
    // the way its points are stored.
    if (f.fromVertex > f.toVertex) Reverse(reader, f);
    // The stretch the position lies nearest: a reference may span a
    // junction or run on along the whole street.
    f = NearestPiece(reader, f, point);
    const bool matches = streetName.empty() || GetFeatureAttribute(*this, f, kAttributeStreetName, false) == streetName;
    const std::vector<TiPoint> points = FeaturePoints(reader, f);
    if (points.size() < 2) continue;
    TiPoint a = points.front();
    TiPoint b = points.back();
    // The house lies on this street: face it from the other end, on the
    // left as numbers run.
    if (!streetAddress.empty() && AddressLiesOnFeature(f, streetAddress)) {
      std::swap(a, b);
      side = CARTOVELLeftSide;
    }
    const std::int32_t d = DistanceFeetToSegment(point, a, b);
    if (d == 0 && matches) {
      // On the street: face across it.
      const DegreePoint da = MapUnitsToDegrees(a.x, a.y);
      const DegreePoint db = MapUnitsToDegrees(b.x, b.y);
      constexpr double kRadians = 0.017453292519943295;
      const double course = GreatCircleCourse(da.latitude * kRadians, da.longitude * kRadians,
                                              db.latitude * kRadians, db.longitude * kRadians);
      heading = (static_cast<std::int32_t>(course * 57.29577951308232) + 90) % 360;
      best = 0;
      chosen = f;
      haveChosen = true;
    } else if (d < best) {
      best = d;
      if (matches) {
        heading = BearingToSegment(point, a, b);
        chosen = f;
        haveChosen = true;
      } else {
        fallbackHeading = BearingToSegment(point, a, b);
        nearest = f;
      }
    } else if (matches && heading == -1) {
      heading = BearingToSegment(point, a, b);
      chosen = f;
      haveChosen = true;
    }
  }
  if (heading == -1) heading = fallbackHeading;
  if (!haveChosen) chosen = IsNullFeatureRef(nearest) ? near.back() : nearest;
  FindInitialCrossStreets(point, chosen, heading, side, request, list);
  return heading;
}

void CMap::MoveDownStreetInternal(double& latitude, double& longitude, std::int32_t heading) const {
  if (heading < 0) return;  // no direction to move in
  const TiPoint moved = ProjectPoint(DegreesToMapUnits(latitude, longitude), heading, kStepFeet);
  const DegreePoint degrees = MapUnitsToDegrees(moved.x, moved.y);
  latitude = degrees.latitude;
  longitude = degrees.longitude;
}

std::int32_t CMap::UpdateCrossStreetsInternal(double latitude, double longitude, std::int32_t heading,
                                              CARTOVELSideOfStreet side, bool nearSide, std::u16string_view request,
                                              CrossStreetVector& list) {
  const Keywords keywords = ReadKeywords(*this, request);
  RmfReader* reader = m_Rdr.get();
  const TiPoint point = DegreesToMapUnits(latitude, longitude);
  const RmfFeatureRef street =
      NearestPiece(reader, GetNearestFeatureInOurOrientationNavigable(*this, point, heading, "567"), point);
  if (IsNullFeatureRef(street)) return heading;
  const std::vector<TiPoint> points = FeaturePoints(reader, street);
  if (points.size() < 2) return heading;
  const std::int32_t toFirst = DistanceFeetBetweenMapPoints(point, points.front());
  const std::int32_t toLast = DistanceFeetBetweenMapPoints(point, points.back());
  TiPoint intersection = point;
  std::vector<RmfFeatureRef> here;
  if (std::min(toFirst, toLast) < kNearEndFeet) {
    intersection = toFirst <= toLast ? points.front() : points.back();
  } else if (GetNearbyCrossStreetFeatures(reader, point, kAtPointStartFeet, kAtPointLargestFeet, kNearFeaturesLimit,
                                          &here, "4567") < 1) {
    // The features are gathered within a foot or two of the point: a
    // position on the pavement, an address or a point of interest stands
    // off the street's line, so its foot on the piece serves (the piece's
    // end when the foot lies near it).
    intersection = ProjectMapPointOntoSegment(points.front(), points.back(), point, false);
    const std::int32_t footToFirst = DistanceFeetBetweenMapPoints(intersection, points.front());
    const std::int32_t footToLast = DistanceFeetBetweenMapPoints(intersection, points.back());
    if (std::min(footToFirst, footToLast) < kNearEndFeet) {
      intersection = footToFirst <= footToLast ? points.front() : points.back();
    }
  }
  const std::u16string name = NameOf(*this, street, keywords.expanded);
  return CollectCrossStreets(nearSide, intersection, point, street, heading, side, name, list, keywords.expanded);
}

std::int32_t CMap::CrossThisStreetInternal(double latitude, double longitude, std::int32_t heading,
                                           CARTOVELSideOfStreet side, std::u16string_view request,
                                           CrossStreetVector& list) {
  const Keywords keywords = ReadKeywords(*this, request);
  RmfReader* reader = m_Rdr.get();
  const TiPoint point = DegreesToMapUnits(latitude, longitude);
  RmfFeatureRef street =
      NearestPiece(reader, GetNearestFeatureInOurOrientationNavigable(*this, point, heading, "567"), point);
  if (IsNullFeatureRef(street)) return heading;
  std::vector<TiPoint> points = FeaturePoints(reader, street);
  if (points.size() < 2) return heading;

  const bool aligned = AreHeadingAndOrientationSimilar(heading, BearingBetweenMapPoints(points.front(), points.back()),
                                                       kCrossAlignedDegrees);
  if (!aligned) {
    if (!Reverse(reader, street)) return heading;
    points = FeaturePoints(reader, street);
    if (points.size() < 2) return heading;
  }
  // The intersection being crossed: the end of the first segment the walker
  // is not standing on.
  const std::int32_t d1 = DistanceFeetBetweenMapPoints(point, points[0]);
  const std::int32_t d2 = DistanceFeetBetweenMapPoints(point, points[1]);
  const TiPoint target = d1 >= 2 || (aligned && d1 == d2) ? points[1] : points[0];

  std::vector<RmfFeatureRef> here;
  const std::int32_t radius = std::max(d1, 1);
  if (GetNearbyCrossStreetFeatures(reader, point, radius, radius + 1, kNearFeaturesLimit, &here, "567") < 2) {
    return heading;
  }

  // The street beyond, leaving the intersection.
  const TiPoint beyond = ProjectPoint(target, heading, kStepFeet);
  const RmfFeatureRef next =
      NearestPiece(reader, GetNearestFeatureInOurOrientationNavigable(*this, beyond, heading, "567"), beyond);
  if (IsNullFeatureRef(next)) return heading;
  const std::vector<TiPoint> nextPoints = FeaturePoints(reader, next);
  if (nextPoints.size() < 2) return heading;
  std::int32_t newHeading;
  TiPoint far;
  if (AreMapPointsNear(nextPoints.front(), target)) {
    newHeading = BearingBetweenMapPoints(nextPoints[0], nextPoints[1]);
    far = nextPoints.front();
  } else {
    const std::size_t n = nextPoints.size();
    newHeading = BearingBetweenMapPoints(nextPoints[n - 1], nextPoints[n - 2]);
    far = nextPoints.back();
  }
  const TiPoint landed = ProjectPoint(far, newHeading, kShortOfIntersectionFeet);
  const std::u16string name = NameOf(*this, next, keywords.expanded);
  CollectCrossStreets(false, far, landed, next, newHeading, side, name, list, keywords.expanded);
  return newHeading;
}

std::int32_t CMap::MoveToNextCrossStreetInternal(double latitude, double longitude, std::int32_t heading,
                                                 CARTOVELSideOfStreet side, std::u16string_view request,
                                                 CrossStreetVector& list) {
  const Keywords keywords = ReadKeywords(*this, request);
  RmfReader* reader = m_Rdr.get();
  double lat = latitude;
  double lon = longitude;
  MoveDownStreetInternal(lat, lon, heading);
  const TiPoint start = DegreesToMapUnits(lat, lon);
  RmfFeatureRef current =
      NearestPiece(reader, GetNearestFeatureInOurOrientationNavigable(*this, start, heading, "567"), start);
  if (IsNullFeatureRef(current)) return heading;
  // The piece of the street the position lies on, walked the way the
  // heading goes. A street may run on through junctions as one feature, so
  // the walk goes from the piece's end junction by junction.
  std::vector<TiPoint> points = FeaturePoints(reader, current);
  if (points.size() < 2) return heading;
  const std::int32_t chord = BearingBetweenMapPoints(points.front(), points.back());
  if (!AreHeadingAndOrientationSimilar(heading, chord, kWalkAlongDegrees)) {
    if (!Reverse(reader, current)) return heading;
    points = FeaturePoints(reader, current);
    if (points.size() < 2) return heading;
  }
  const bool clearCrossings = IsRoadClass1(current);
  const std::u16string rawName = NameOf(*this, current, false);
  const std::u16string streetName = NameOf(*this, current, keywords.expanded);

  TemporaryRoute route(reader);
  if (route.get() == nullptr) {
    Log(u"          ****ERROR****Virtual Explore::RmfRouteCreate Error");
    return heading;
  }
  static_cast<void>(RmfRouteSetTurnCosts(route.get(), kWalkingTurnCosts));
  static_cast<void>(RmfProfileReset(reader));
  static_cast<void>(
      RmfProfileSetCallbacks(reader, ExploreFeatureFilter, WalkingConnectionFilter, nullptr, kRmfProfileEngineLimit));

  // From junction to junction along the street: the walk ends at the first
  // junction that is an intersection (a dead end included), where the street
  // ends, where the network gives no way on, back at a junction it passed,
  // or after kWalkMaxSteps steps.
  std::vector<TiPoint> visited{points.front()};
  std::vector<RmfJunction> records;
  const auto wasVisited = [&visited](TiPoint p) {
    for (const TiPoint v : visited) {
      if (AreMapPointsNear(v, p)) return true;
    }
    return false;
  };
  for (int step = 0;; ++step) {
    const TiPoint junction = points.back();
    const TiPoint previous = points[points.size() - 2];
    std::vector<RmfFeatureRef> atJunction;
    GetNearbyCrossStreetFeatures(reader, junction, kAtPointStartFeet, kAtPointLargestFeet, kNearFeaturesLimit,
                                 &atJunction, "4567");
    if (IsExploreIntersection(*this, atJunction, previous, junction)) break;
    if (wasVisited(junction)) break;  // round a ring of one name
    if (step >= kWalkMaxSteps) {
      Log(u"                 CMap::MoveToNextCrossStreet: **** ERROR infinite Loop *** Exiting");
      LogFormat(u"                 BinLon=%d BinLat=%d : BinLon=%d BinLat=%d",
                {junction.x, junction.y, start.x, start.y});
      break;
    }
    visited.push_back(junction);
    if (FeatureConnections(route.get(), current, records) < 1) break;  // no way on: end here
    bool moved = false;
    for (const RmfJunction& record : records) {
      if (record.verdict == kRmfVerdictForbiddenTurn || record.verdict == kRmfVerdictExcluded) continue;
      const RmfFeatureRef next = RmfJunctionReference(record);
      const std::vector<TiPoint> nextPoints = FeaturePoints(reader, next);
      if (nextPoints.size() < 2 || !AreMapPointsNear(nextPoints.front(), junction)) continue;
      if (AreMapPointsNear(nextPoints[1], previous)) continue;  // the way back
      if (AreNamesDifferent(NameOf(*this, next, false), rawName)) continue;
      current = next;
      points = nextPoints;
      moved = true;
      break;
    }
    if (!moved) break;  // the street ends here
  }

  // The approach: along the last segment into the junction; the cross
  // streets are located a foot short of it.
  const TiPoint intersection = points.back();
  const std::int32_t approach = BearingBetweenMapPoints(points[points.size() - 2], intersection);
  const TiPoint location = ProjectPoint(intersection, Opposite(approach), kShortOfIntersectionFeet);
  const std::int32_t result =
      CollectCrossStreets(true, intersection, location, current, approach, side, streetName, list, keywords.expanded);
  if (clearCrossings) {
    for (int i = 0; i < list.count(); ++i) list.at(i)->m_bMustCrossStreet = VARIANT_FALSE;
  }
  return result;
}

// ---- IMap ------------------------------------------------------------------------------

HRESULT CMap::FindInitialHeadingAndCrossStreets(double inLat, double inLon, BSTR inStreetName, BSTR inStreetAddress,
                                                BSTR* pInParameters, VARIANT* pInOutCrossStreets,
                                                SHORT* outHeadingInDegrees) {
  if (outHeadingInDegrees == nullptr) return E_POINTER;
  *outHeadingInDegrees = -1;
  return ReturnCrossStreets(pInOutCrossStreets, outHeadingInDegrees, inLat, inLon, [&](CrossStreetVector& list) {
    return FindInitialHeadingAndCrossStreetsInternal(inLat, inLon, BstrView(inStreetName), BstrView(inStreetAddress),
                                                     TextOf(pInParameters), list);
  });
}

HRESULT CMap::MoveToNextCrossStreet(double inCurrentLat, double inCurrentLon, CARTOVELSideOfStreet inSideOfStreet,
                                    BSTR* pInParameters, SHORT* pInOutHeading, VARIANT* pInOutCrossStreets) {
  if (pInOutHeading == nullptr) return E_POINTER;
  const std::int32_t heading = ReduceHeading(*pInOutHeading);
  const double lat = inCurrentLat;
  const double lon = inCurrentLon;
  return ReturnCrossStreets(pInOutCrossStreets, pInOutHeading, lat, lon, [&](CrossStreetVector& list) {
    return MoveToNextCrossStreetInternal(inCurrentLat, inCurrentLon, heading, inSideOfStreet, TextOf(pInParameters),
                                         list);
  });
}

HRESULT CMap::CrossThisStreet(double inCurrentLat, double inCurrentLon, CARTOVELSideOfStreet inSideOfStreet,
                              BSTR* pInParameters, SHORT* pInOutHeading, VARIANT* pInOutCrossStreets) {
  if (pInOutHeading == nullptr) return E_POINTER;
  const std::int32_t heading = ReduceHeading(*pInOutHeading);
  const double lat = inCurrentLat;
  const double lon = inCurrentLon;
  return ReturnCrossStreets(pInOutCrossStreets, pInOutHeading, lat, lon, [&](CrossStreetVector& list) {
    return CrossThisStreetInternal(inCurrentLat, inCurrentLon, heading, inSideOfStreet, TextOf(pInParameters), list);
  });
}

HRESULT CMap::MoveDownStreet(double* inCurrentLat, double* inCurrentLon, SHORT* pInOutHeading) {
  if (inCurrentLat == nullptr || inCurrentLon == nullptr || pInOutHeading == nullptr) return E_POINTER;
  if (!IsPositionUsable(*inCurrentLat, *inCurrentLon)) return E_INVALIDARG;
  MoveDownStreetInternal(*inCurrentLat, *inCurrentLon, ReduceHeading(*pInOutHeading));
  return S_OK;
}

HRESULT CMap::UpdateCrossStreets(double inLat, double inLon, SHORT inHeading, CARTOVELSideOfStreet inSideOfStreet,
                                 VARIANT_BOOL inNearSideIntersection, BSTR* pInParameters,
                                 VARIANT* pInOutCrossStreets) {
  SHORT heading = inHeading;  // the operation hands no heading back
  return ReturnCrossStreets(pInOutCrossStreets, &heading, inLat, inLon, [&](CrossStreetVector& list) {
    return UpdateCrossStreetsInternal(inLat, inLon, ReduceHeading(inHeading), inSideOfStreet, inNearSideIntersection != 0,
                                      TextOf(pInParameters), list);
  });
}
