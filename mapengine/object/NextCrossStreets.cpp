// The next intersection ahead and the streets that meet there: the IMap
// operation, the request keywords, the intersection the user may stand on,
// and the list of cross streets built at the intersection found.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/object/CMap.h"
#include "mapengine/object/CrossStreets.h"
#include "mapengine/object/Geometry.h"
#include "mapengine/object/InputChecks.h"
#include "mapengine/object/NearestFeature.h"
#include "mapengine/object/RampLabels.h"
#include "mapengine/object/StreetNames.h"
#include "mapengine/object/Utilities.h"
#include "platform/com/atl.h"

namespace {

constexpr std::int32_t kNoPoint = 0x7FFFFFFF;

// The features at an intersection lie within a foot or two of its point.
constexpr std::int32_t kAtIntersectionStartFeet = 1;
constexpr std::int32_t kAtIntersectionLargestFeet = 2;

// A user standing on an intersection goes on only along a street within this
// many degrees of the heading.
constexpr int kStandingHeadingTolerance = 50;
// Feet the search starts past the intersection the user stands on.
constexpr std::int32_t kStepPastIntersectionFeet = 3;


}  // namespace

std::int32_t BuildNextIntersectionCrossStreetsInternal(CMap& map, TiPoint point, std::int32_t heading,
                                                       std::u16string_view streetName, CrossStreetVector& list,
                                                       int mode, bool expanded, bool includeConnectors) {
  RmfReader* reader = map.m_Rdr.get();
  map.Log(u"        BuildNextIntersectionCrossStreets: street in the heading");
  const RmfFeatureRef street = GetNearestFeatureInOurOrientationNavigable(map, point, heading, "567");
  if (IsNullFeatureRef(street)) {
    map.Log(u"        !IsFeatureValid");
    return heading;
  }

  // At the start intersection the search looks all round; for the next one it
  // keeps to the heading, and the heading it finds there is the one to order by.
  map.Log(u"        BuildNextIntersectionCrossStreets: best intersection");
  std::int32_t searchHeading = mode == 1 ? heading : -1;
  const TiPoint at = FindBestIntersection(map, point, streetName, street, &searchHeading, true, expanded);
  if (at.x == kNoPoint && at.y == kNoPoint) {
    map.Log(u"        !IsPointValid");
    return heading;
  }
  if (mode == 1) heading = searchHeading;

  map.Log(u"        BuildNextIntersectionCrossStreets: features at the intersection");
  std::vector<RmfFeatureRef> features;
  const std::int32_t found = GetNearbyCrossStreetFeatures(reader, at, kAtIntersectionStartFeet,
                                                          kAtIntersectionLargestFeet, kNearFeaturesLimit, &features,
                                                          "4567");
  if (found < 1) return heading;

  map.Log(u"        BuildNextIntersectionCrossStreets: signs of the ramps");
  RampExitInfoMap exits;
  UpdateRampExitInfo(map, exits, features);

  const int count = static_cast<int>(features.size());
  for (int i = 0; i < count; ++i) {
    map.LogFormat(u"        Checking Feature %d of %d", {i + 1, count});
    const RmfFeatureRef& feature = features[static_cast<std::size_t>(i)];
    INT connectType = kConnectNormal;
    if (map.IsFeatureR(feature) || map.IsFeatureW(feature)) {
      connectType = kConnectTurnRestriction;
    } else if (!IsFeatureRoadNetwork(reader, feature)) {
      continue;
    }
    map.AddCrossStreetToVector(exits, feature, at, at, connectType, CARTOVELSideUnknown, list, expanded,
                               includeConnectors);
  }

  // Without a heading, the street's own feature at the intersection says
  // which way the user walks: along its first segment towards the end nearer
  // to where the search started, since the search found the nearest
  // intersection.
  if (mode == 1 && heading == -1) {
    const RmfFeatureRef own = WholeFeatureRef(reader, street);
    for (const RmfFeatureRef& feature : features) {
      if (RmfFeatureRefEqual(reader, WholeFeatureRef(reader, feature), own) != 1) continue;
      TiPoint points[kMaxFeaturePoints];
      if (GetFeaturePointsCapped(reader, feature, points) >= 2) {
        const std::int32_t d0 = DistanceFeetBetweenMapPoints(point.x, point.y, points[0].x, points[0].y);
        const std::int32_t d1 = DistanceFeetBetweenMapPoints(point.x, point.y, points[1].x, points[1].y);
        const TiPoint& from = d0 <= d1 ? points[1] : points[0];
        const TiPoint& to = d0 <= d1 ? points[0] : points[1];
        heading = BearingBetweenMapPoints(from.x, from.y, to.x, to.y);
      }
      break;
    }
  }

  map.Log(u"        BuildNextIntersectionCrossStreets: order round the intersection");
  return NormalizeCrossStreets(map, true, heading, streetName, list);
}

std::int32_t CMap::FindNextCrossStreetsInternal(double latitude, double longitude, std::int32_t heading,
                                                std::u16string streetName, std::u16string_view request,
                                                CrossStreetVector& out) {
  const bool expanded = ContainsText(request, u"INTERSECTION EXPANDED");
  m_bStreetDetailed = ContainsText(request, u"STREET DETAILED") ? 1 : 0;
  const bool includeConnectors = ContainsText(request, u"INCLUDE CONNECTORS");
  TiPoint point = DegreesToMapUnits(latitude, longitude);

  // Standing on an intersection: the street to go on along is the first one
  // round it from the heading; the search for the next intersection starts a
  // few feet along it, so that it does not find this one again.
  if (heading != -1 && IsAtIntersection(point, false, point, false)) {
    CrossStreetVector here;
    const std::int32_t result =
        BuildNextIntersectionCrossStreetsInternal(*this, point, heading, streetName, here, 0, expanded,
                                                  includeConnectors);
    std::int32_t newHeading = heading;
    if (here.count() > 0) {
      newHeading = here.at(0)->m_nOrientation;
      streetName.assign(BstrView(here.at(0)->m_bstrName));
    }
    if (!AreHeadingAndOrientationSimilar(heading, newHeading, kStandingHeadingTolerance)) return result;
    heading = newHeading;
    point = ProjectPoint(point, heading, kStepPastIntersectionFeet);
  }
  return BuildNextIntersectionCrossStreetsInternal(*this, point, heading, streetName, out, 1, expanded,
                                                   includeConnectors);
}

HRESULT CMap::FindNextCrossStreets(double inCurrentLat, double inCurrentLon, BSTR* pInCurrentStreetName,
                                   BSTR* pInParameters, INT* pInOutHeading, VARIANT* pInOutCrossStreets) {
  if (pInOutHeading == nullptr || pInOutCrossStreets == nullptr) return E_POINTER;
  Log(u"      CMap::FindNextCrossStreets enter");
  VariantClear(pInOutCrossStreets);
  if (!IsPositionUsable(inCurrentLat, inCurrentLon)) {
    Log(u"      CMap::FindNextCrossStreets exit (position not a number)");
    return E_INVALIDARG;
  }
  const HRESULT hr = com::Guarded([&] {
    CrossStreetVector list;
    const std::u16string streetName(BstrView(pInCurrentStreetName != nullptr ? *pInCurrentStreetName : nullptr));
    const std::u16string request(BstrView(pInParameters != nullptr ? *pInParameters : nullptr));
    *pInOutHeading = FindNextCrossStreetsInternal(inCurrentLat, inCurrentLon, ReduceHeading(*pInOutHeading), streetName, request,
                                                  list);

    return CrossStreetListToVariant(list, pInOutCrossStreets);
  });
  Log(u"      CMap::FindNextCrossStreets exit");
  return hr;
}
