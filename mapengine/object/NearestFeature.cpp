// The street and the area feature near a position, and the location text
// pieces built from them.
#include "mapengine/object/NearestFeature.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/features/RmfFeaturesNear.h"
#include "mapengine/object/CMap.h"
#include "mapengine/object/CrossStreets.h"
#include "mapengine/object/Geometry.h"
#include "mapengine/object/StreetNames.h"
#include "mapengine/object/StreetWalk.h"
#include "mapengine/object/Utilities.h"

namespace {

// 45 degrees in map angle units.
constexpr std::int32_t kHeadingTolerance = std::int32_t{1} << 25;
// Map units per metre of the near-point search.
constexpr double kMapUnitsPerMetre = 6.7108864;

// A bearing (degrees clockwise from north) as a map angle (counter-clockwise
// from east), within one turn.
std::int32_t MapAngleOfBearing(double degrees) {
  const auto units = static_cast<std::int64_t>(std::llround((90.0 - degrees) * kTiUnitsPerDegree));
  return static_cast<std::int32_t>(((units % kTiFullTurn) + kTiFullTurn) % kTiFullTurn);
}

// One near-point search of at most `capacity` features, appended to `list`;
// a failed search finds nothing.
std::int32_t FeaturesNear(RmfReader* reader, TiPoint point, std::int32_t radius, std::int32_t angle,
                          std::int32_t tolerance, std::int32_t capacity, std::vector<RmfFeatureRef>* list) {
  if (capacity < 1) return 0;
  std::vector<RmfFeatureRef> found(static_cast<std::size_t>(capacity));
  std::int32_t overflow = 0;
  const std::int32_t n = std::clamp(
      RmfFeaturesNear(reader, point.x, point.y, radius, angle, tolerance, found.data(), capacity, &overflow), 0,
      capacity);
  list->insert(list->end(), found.begin(), found.begin() + n);
  return n;
}

// Angle between two bearings, 0..180.
std::int32_t AngleDifference(std::int32_t a, std::int32_t b) {
  const std::int32_t d = std::abs(a - b) % 360;
  return d > 180 ? 360 - d : d;
}

// The first and last point of the first single segment of a feature, in
// degrees; false when it has none.
bool FirstSegmentInDegrees(RmfReader* reader, const RmfFeatureRef& feature, DegreePoint* a, DegreePoint* b) {
  RmfFeatureRef* split = nullptr;
  if (RmfFeatureRefSplit(reader, feature, &split) < 1 || split == nullptr) return false;
  const RmfFeatureRef first = split[0];  // the reader reuses its array
  TiPoint points[kMaxFeaturePoints];
  const std::int32_t n = GetFeaturePointsCapped(reader, first, points);
  if (n < 2) return false;
  *a = MapUnitsToDegrees(points[0].x, points[0].y);
  *b = MapUnitsToDegrees(points[n - 1].x, points[n - 1].y);
  return true;
}

// Feet from the point to the projection of the point onto the line of the
// feature's first segment; -1 when there is no projection.
double FeetToFirstSegmentLine(RmfReader* reader, const RmfFeatureRef& feature, DegreePoint p) {
  DegreePoint a{}, b{};
  if (!FirstSegmentInDegrees(reader, feature, &a, &b)) return -1;
  const DegreePoint q = ProjectOntoLine(a, b, p, true);
  if (q.longitude == 0.0 || q.latitude == 0.0) return -1;
  return DistanceFeetExact(p.longitude, p.latitude, q.longitude, q.latitude);
}

// Appends `part` after ", " unless `text` is empty.
void AddPart(std::u16string& text, std::u16string_view part) {
  if (!text.empty()) text += u", ";
  text += part;
}

}  // namespace

std::int32_t NearSearchRadius(std::int32_t feet) {
  return static_cast<std::int32_t>(std::lround(feet * (1.0 / 5280.0) * 1.609344 * kMapUnitsPerMetre * 1000.0));
}

std::int32_t GetNearbyCrossStreetFeatures(RmfReader* reader, TiPoint point, std::int32_t startFeet,
                                          std::int32_t largestFeet, std::int32_t limit,
                                          std::vector<RmfFeatureRef>* list, const char* classes) {
  list->clear();
  if (reader == nullptr) return 0;
  SetStreetClassQuery(reader, classes);
  const std::int32_t capacity = std::min(limit, kNearFeaturesLimit);
  for (std::int32_t r = startFeet > 0 ? startFeet : 1; r <= largestFeet; r *= 2) {
    const std::int32_t n = FeaturesNear(reader, point, NearSearchRadius(r), -1, -1, capacity, list);
    if (n > 0) return n;
    if (r > largestFeet / 2) break;  // the next radius is past the largest (and no overflow)
  }
  return 0;
}

std::int32_t CMap::GetFeaturesInHeading(TiPoint point, std::int32_t startFeet, std::int32_t heading,
                                        std::int32_t limit, std::vector<RmfFeatureRef>* list, const char* classes) {
  list->clear();
  RmfReader* reader = m_Rdr.get();
  if (reader == nullptr) return 0;
  if (heading >= 0) {
    SetStreetClassQuery(reader, classes);
    const std::int32_t ahead = MapAngleOfBearing(heading);
    const std::int32_t behind = MapAngleOfBearing((heading + 180) % 360);
    const std::int32_t each = std::min(kHeadingFeaturesEachWay, limit);
    for (double d = (startFeet > 0 ? startFeet : 1) * 0.3048; d <= kHeadingSearchLargestMetres; d *= 2) {
      const auto radius = static_cast<std::int32_t>(std::lround(d * kMapUnitsPerMetre));
      std::vector<RmfFeatureRef> behindList;
      const std::int32_t a = FeaturesNear(reader, point, radius, ahead, kHeadingTolerance, each, list);
      const std::int32_t b = FeaturesNear(reader, point, radius, behind, kHeadingTolerance, each, &behindList);
      if (a + b > 0) {
        list->insert(list->end(), behindList.begin(), behindList.end());
        if (static_cast<std::int32_t>(list->size()) > limit) list->resize(static_cast<std::size_t>(limit));
        return static_cast<std::int32_t>(list->size());
      }
    }
  }
  return GetNearbyCrossStreetFeatures(reader, point, startFeet, kNearSearchLargestFeet, limit, list, classes);
}

RmfFeatureRef CMap::ChooseBestFeature(TiPoint point, std::int32_t heading, const std::vector<RmfFeatureRef>& list) {
  const std::u16string rampName = LoadResourceString(kStringRampName);
  const RmfFeatureRef* bestAligned = nullptr;
  std::int32_t bestAlignedFeet = 0;
  std::int32_t bestAlignedAngle = 0;
  const RmfFeatureRef* nearest = nullptr;
  std::int32_t nearestFeet = 0;
  std::vector<TiPoint> points(kMaxFeaturePoints);
  for (const RmfFeatureRef& candidate : list) {
    const std::int32_t n = GetFeaturePointsCapped(m_Rdr.get(), candidate, points.data());
    for (std::int32_t i = 1; i < n; ++i) {
      const TiPoint a = points[static_cast<std::size_t>(i - 1)];
      const TiPoint b = points[static_cast<std::size_t>(i)];
      std::int32_t orientation = BearingBetweenMapPoints(a.x, a.y, b.x, b.y);
      bool aligned = heading == -1;
      if (!aligned) {
        aligned = AreHeadingAndOrientationSimilar(heading, orientation, 45);
        if (!aligned) {
          // A segment drawn the other way runs with the heading too.
          orientation = (orientation + 180) % 360;
          aligned = AreHeadingAndOrientationSimilar(heading, orientation, 45);
        }
      }
      const std::int32_t d = std::abs(DistanceFeetToSegment(point, a, b));
      if (d == 0 && orientation == heading &&
          GetFeatureAttribute(*this, candidate, kAttributeStreetName, true) != rampName) {
        return candidate;
      }
      if (aligned) {
        const std::int32_t angle = AngleDifference(heading, orientation);
        if (bestAligned == nullptr || d < bestAlignedFeet || (d == bestAlignedFeet && angle < bestAlignedAngle)) {
          bestAligned = &candidate;
          bestAlignedFeet = d;
          bestAlignedAngle = angle;
        }
      }
      if (nearest == nullptr || d < nearestFeet || (d == nearestFeet && aligned)) {
        nearest = &candidate;
        nearestFeet = d;
      }
    }
  }
  if (bestAligned != nullptr) return *bestAligned;
  if (nearest != nullptr) return *nearest;
  return RmfFeatureRef{};
}

RmfFeatureRef CMap::GetNearestFeature(TiPoint point, std::int32_t heading, const char* classes) {
  std::vector<RmfFeatureRef> list;
  const std::int32_t start = heading != -1 ? 200 : 2;
  if (GetNearbyCrossStreetFeatures(m_Rdr.get(), point, start, kNearSearchLargestFeet, kNearFeaturesLimit, &list,
                                   classes) < 1) {
    return RmfFeatureRef{};
  }
  return ChooseBestFeature(point, heading, list);
}

RmfFeatureRef CMap::GetNearestFeatureInHeading(TiPoint point, std::int32_t heading, const char* classes) {
  if (heading == -1) return GetNearestFeature(point, -1, classes);
  std::vector<RmfFeatureRef> list;
  if (GetFeaturesInHeading(point, 2, heading, kNearFeaturesLimit, &list, classes) < 1) return RmfFeatureRef{};
  return ChooseBestFeature(point, heading, list);
}

RmfFeatureRef GetNearestFeatureInOurOrientationNavigable(CMap& map, TiPoint point, std::int32_t heading,
                                                         const char* classes) {
  const RmfFeatureRef nearest = map.GetNearestFeature(point, -1, "567");
  const RmfFeatureRef inHeading = map.GetNearestFeatureInHeading(point, heading, classes);
  if (IsNullFeatureRef(inHeading) || AreFeatureRefsEqual(inHeading, nearest)) return nearest;
  if (IsNullFeatureRef(nearest)) return inHeading;
  RmfReader* reader = map.m_Rdr.get();
  const DegreePoint p = MapUnitsToDegrees(point.x, point.y);
  const double dA = FeetToFirstSegmentLine(reader, nearest, p);
  const double dB = FeetToFirstSegmentLine(reader, inHeading, p);
  if (dA >= 0 && dB >= 0) {
    if (dA < dB && GetFeatureAttribute(map, nearest, kAttributeStreetName, false) ==
                       GetFeatureAttribute(map, inHeading, kAttributeStreetName, false)) {
      return nearest;
    }
    if (dB > 100 && dB > 2 * dA) return nearest;
  }
  return inHeading;
}

// ---- text pieces ---------------------------------------------------------------------

std::u16string CMap::GetStreetAddressText(const RmfFeatureRef& street, TiPoint point, std::int32_t heading) {
  if (IsNullFeatureRef(street) || IsFeatureR(street) || IsFeatureW(street)) return {};
  // The number at a position is the same whichever way the user faces: the
  // heading only chose the street. The ranges are read along the street's
  // own way (no heading: the first range on the right), and the side is that
  // of the point from the street's own way, so the search's reference, which
  // runs the way the user faces, is turned back to the stored way first.
  static_cast<void>(heading);
  RmfReader* reader = m_Rdr.get();
  RmfFeatureRef stored = street;
  if (street.fromVertex > street.toVertex && RmfFeatureRefReverse(reader, street, &stored) != 1) stored = street;
  const StreetSegmentNumbers numbers = GetHouseNumbersAlongStreet(m_MapContext, stored, point, -1);
  // The side is told by the segment of the street nearest to the point.
  const RmfFeatureRef segment = NearestPiece(reader, stored, point);
  const SelectedRange range = SelectRangeForSide(m_MapContext, stored, numbers.rightFrom, numbers.rightTo,
                                                 numbers.leftFrom, numbers.leftTo, numbers.mixed, segment, point);
  if (range.from <= 0 && range.to <= 0) return {};
  return InterpolateHouseNumberText(point, numbers.first, numbers.last, range.from, range.to, range.mixed);
}

std::u16string CMap::GetLocalityName(const RmfFeatureRef& feature, bool withLabel) {
  if (IsNullFeatureRef(feature)) return {};
  const auto labelled = [&](std::u16string name, unsigned label) {
    const std::u16string text = withLabel ? LoadResourceString(label) : std::u16string();
    if (!text.empty()) name += u' ' + text;
    return name;
  };
  if (std::u16string city = GetFeatureAttribute(*this, feature, kAttributeCity, false); !city.empty()) return city;
  if (std::u16string borough = GetFeatureAttribute(*this, feature, kAttributeBorough, false); !borough.empty()) {
    return labelled(std::move(borough), kStringBorough);
  }
  if (std::u16string county = GetFeatureAttribute(*this, feature, kAttributeCounty, false); !county.empty()) {
    return labelled(std::move(county), kStringCounty);
  }
  return GetFeatureAttribute(*this, feature, kAttributeLocality, false);
}

std::u16string CMap::GetCityNearPoint(TiPoint point) {
  std::vector<RmfFeatureRef> list;
  GetNearbyCrossStreetFeatures(m_Rdr.get(), point, 2, kNearSearchLargestFeet, kNearFeaturesLimit, &list, "567");
  for (const RmfFeatureRef& feature : list) {
    std::u16string name = GetLocalityName(feature, true);
    if (!name.empty()) return name;
  }
  return {};
}

std::u16string CMap::GetCityText(const RmfFeatureRef& area, TiPoint point, bool withArea, bool boroughRule) {
  const std::u16string country = GetFeatureAttribute(*this, area, kAttributeCountryCode, false);
  const bool britain = country == u"GBR";
  if (!boroughRule && (britain || country.starts_with(u"AUS"))) {
    std::u16string text = GetClassName(area, 0);
    const std::u16string locality = GetFeatureAttribute(*this, area, kAttributeLocality, false);
    if (!locality.empty() && !ContainsText(text, locality)) AddPart(text, locality);
    const std::u16string name = GetLocalityName(area, withArea);
    if (!name.empty() && (name != locality || name != GetClassName(area, 0)) && !ContainsText(text, name)) {
      AddPart(text, name);
    }
    if (britain) {
      const std::u16string county = GetFeatureAttribute(*this, area, kAttributeCounty, false);
      if (!county.empty() && !ContainsText(text, county)) AddPart(text, county);
    }
    return text;
  }
  std::u16string city = GetLocalityName(area, withArea);
  if (city.empty()) city = GetCityNearPoint(point);
  if (!withArea) return city;
  const std::u16string areaText = GetAreaText(point);
  if (!city.empty() && ContainsText(areaText, city)) city.clear();
  if (!areaText.empty()) AddPart(city, areaText);
  return city;
}

std::u16string CMap::GetAreaText(TiPoint point) {
  const RmfFeatureRef area = GetNearestFeature(point, -1, "2345");
  if (IsNullFeatureRef(area)) return {};
  const std::u16string locality = GetLocalityName(area, false);
  std::u16string text;
  for (const int n : {0, 2, 3, 1, 4}) {
    const std::u16string name = GetClassName(area, n);
    if (name.empty() || (n == 0 && name == locality)) continue;
    AddPart(text, name);
  }
  return text;
}

namespace {

// Attribute `number` of the feature, else of the first feature near the
// point that has it.
std::u16string AttributeHereOrNear(CMap& map, const RmfFeatureRef& feature, TiPoint point, int number) {
  std::u16string text = IsNullFeatureRef(feature) ? std::u16string() : GetFeatureAttribute(map, feature, number, false);
  if (!text.empty()) return text;
  std::vector<RmfFeatureRef> list;
  GetNearbyCrossStreetFeatures(map.m_Rdr.get(), point, 2, kNearSearchLargestFeet, kNearFeaturesLimit, &list, "567");
  for (const RmfFeatureRef& near : list) {
    text = GetFeatureAttribute(map, near, number, false);
    if (!text.empty()) return text;
  }
  return {};
}

}  // namespace

std::u16string CMap::GetStateText(const RmfFeatureRef& area, TiPoint point, bool expanded) {
  const std::u16string state = AttributeHereOrNear(*this, area, point, kAttributeState);
  return expanded && !state.empty() ? ExpandStateName(state) : state;
}

std::u16string CMap::GetCountryText(const RmfFeatureRef& area, TiPoint point) {
  // An area feature without a country code takes that of the features near
  // the point, as the state and the postal code do.
  const std::u16string code = AttributeHereOrNear(*this, area, point, kAttributeCountryCode);
  return code.empty() ? code : ExpandCountryName(code);
}

std::u16string CMap::GetZipcodeText(const RmfFeatureRef& area, TiPoint point) {
  return AttributeHereOrNear(*this, area, point, kAttributePostcode);
}

std::int16_t CMap::GetNumberOfLanes(TiPoint point, std::int32_t heading) {
  std::vector<RmfFeatureRef> list;
  if (GetFeaturesInHeading(point, 2, heading, kNearFeaturesLimit, &list, "567") < 1) return 0;
  constexpr int kAttributeLanes = 5;
  const std::u16string lanes = GetFeatureAttribute(*this, list.front(), kAttributeLanes, false);
  // The converter writes the count of lanes as one digit.
  if (lanes.size() != 1 || lanes[0] < u'0' || lanes[0] > u'9') return 0;
  return static_cast<std::int16_t>(lanes[0] - u'0');
}

std::u16string CMap::GetNumberOfLanesText(TiPoint point, std::int32_t heading) {
  const std::int16_t lanes = GetNumberOfLanes(point, heading);
  if (lanes == 0) return {};
  std::u16string text;
  for (const char c : std::to_string(lanes)) text += static_cast<char16_t>(c);
  return text;
}

std::u16string CMap::GetRouteLocationText(TiPoint point) {
  std::vector<RmfFeatureRef> list;
  GetNearbyCrossStreetFeatures(m_Rdr.get(), point, 2, kNearSearchLargestFeet, kNearFeaturesLimit, &list, "4567");
  return JoinStreetNames(list, u"", true, false, true);
}

std::u16string CMap::JoinStreetNames(const std::vector<RmfFeatureRef>& features, std::u16string_view currentName,
                                     bool stripped, bool expanded, bool rampFlag) {
  const std::u16string andWord = LoadResourceString(kStringAnd);
  std::u16string text;
  for (const RmfFeatureRef& feature : features) {
    std::u16string name = GetFeatureAttribute(*this, feature, kAttributeStreetName, rampFlag);
    if (stripped) {
      name = StripStreetName(name);
    } else if (expanded) {
      name = ExpandStreetName(name);
    }
    if (name.empty() || name == currentName || ContainsText(text, name)) continue;
    if (!text.empty()) {
      text += u", ";
      if (!andWord.empty()) text += andWord + u' ';
    }
    text += name;
  }
  return text;
}

// ---- the intersection ahead -------------------------------------------------------------

TiPoint CMap::GetNextIntersectionPoint(double latitude, double longitude, std::int32_t heading) {
  const NextIntersectionCache& cached = m_NextIntersectionCache;
  if (latitude == cached.latitude && longitude == cached.longitude && heading == cached.heading) {
    return TiPoint{cached.x, cached.y};
  }
  const TiPoint none{0x7FFFFFFF, 0x7FFFFFFF};
  const TiPoint point = DegreesToMapUnits(latitude, longitude);
  const RmfFeatureRef street = GetNearestFeatureInOurOrientationNavigable(*this, point, heading, "4567");
  if (IsNullFeatureRef(street)) return none;
  std::int32_t searchHeading = heading;
  const TiPoint found = FindBestIntersection(*this, point, u"", street, &searchHeading, false, false);
  if (TiSamePoint(found, none)) return none;
  m_NextIntersectionCache = NextIntersectionCache{latitude, longitude, heading, street, found.x, found.y};
  return found;
}

std::int32_t CMap::FindNearestIntersection(double latitude, double longitude, std::int32_t heading, int mode) {
  const TiPoint at = GetNextIntersectionPoint(latitude, longitude, heading);
  if (at.x == 0x7FFFFFFF && at.y == 0x7FFFFFFF) return -1;
  std::vector<RmfFeatureRef> list;
  const std::int32_t found =
      GetNearbyCrossStreetFeatures(m_Rdr.get(), at, 2, kNearSearchLargestFeet, kNearFeaturesLimit, &list, "4567");
  if (found < 1) return -1;
  const std::u16string currentName =
      GetFeatureAttribute(*this, m_NextIntersectionCache.street, kAttributeStreetName, false);
  const TiPoint position = DegreesToMapUnits(latitude, longitude);
  std::int32_t nearest = -1;
  std::int32_t bearing = -1;
  TiPoint points[kMaxFeaturePoints];
  for (const RmfFeatureRef& feature : list) {
    const std::int32_t n = GetFeaturePointsCapped(m_Rdr.get(), feature, points);
    if (n < 2) continue;
    if (GetFeatureAttribute(*this, feature, kAttributeStreetName, false) == currentName) continue;
    const TiPoint first = points[0];
    const TiPoint last = points[n - 1];
    if (!AreMapPointsNear(first.x, first.y, at.x, at.y) && !AreMapPointsNear(last.x, last.y, at.x, at.y)) continue;
    const std::int32_t d = DistanceFeetToSegment(position, first, last);
    if (nearest == -1 || d < nearest) {
      nearest = d;
      bearing = BearingToSegment(position, first, last);
    }
  }
  if (mode == 1) return nearest;
  if (mode == 2) return bearing;
  return -1;
}

std::u16string CMap::GetIntersectionNameText(double latitude, double longitude, std::int32_t heading, bool stripped,
                                             bool expanded) {
  const TiPoint at = GetNextIntersectionPoint(latitude, longitude, heading);
  if (at.x == 0x7FFFFFFF && at.y == 0x7FFFFFFF) return {};
  std::vector<RmfFeatureRef> list;
  GetNearbyCrossStreetFeatures(m_Rdr.get(), at, 2, kNearSearchLargestFeet, kNearFeaturesLimit, &list, "4567");
  // The current street's name in the form the names are compared in.
  std::u16string currentName = GetFeatureAttribute(*this, m_NextIntersectionCache.street, kAttributeStreetName, false);
  if (stripped) {
    currentName = StripStreetName(currentName);
  } else if (expanded) {
    currentName = ExpandStreetName(currentName);
  }
  return JoinStreetNames(list, currentName, stripped, expanded, false);
}

std::u16string CMap::GetIntersectionDistanceText(double latitude, double longitude, std::int32_t heading) {
  const std::int32_t feet = FindNearestIntersection(latitude, longitude, heading, 1);
  if (feet == -1) return {};
  return platform::FormatW(u"%lu", {static_cast<unsigned long>(feet)});
}

std::u16string CMap::GetIntersectionHeadingText(double latitude, double longitude, std::int32_t heading) {
  const std::int32_t degrees = FindNearestIntersection(latitude, longitude, heading, 2);
  if (degrees == -1) return {};
  return platform::FormatW(u"%d", {degrees});
}
