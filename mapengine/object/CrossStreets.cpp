// The cross-street list: one entry per street met at an intersection (named,
// oriented away from the intersection), ordered round the intersection
// starting with the street ahead, with the side of the street each one leaves
// on and whether the user must cross it.
#include "mapengine/object/CrossStreets.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

#include "mapengine/object/CMap.h"
#include "mapengine/object/Geometry.h"
#include "mapengine/object/RampLabels.h"
#include "mapengine/object/ResultObjects.h"
#include "mapengine/object/StreetNames.h"
#include "mapengine/object/Utilities.h"
#include "platform/com/variant_array.h"

bool CrossStreetVector::Append(Entry entry) {
  if (count() >= capacity_) return false;
  entries_.push_back(std::move(entry));
  return true;
}

namespace {

// The exit attribute (code pair 7-B) marks a junction connector with a value
// beginning with 'J'.
bool IsFeatureAJunction(const CMap& map, const RmfFeatureRef& feature) {
  const std::u16string value = map.GetAttributeText(feature, "7B", AttributeField::kValue, 0, false);
  return !value.empty() && value.front() == u'J';
}

std::u16string_view NameOf(const CCrossStreet* entry) { return BstrView(entry->m_bstrName); }

bool SameNameIgnoringCase(const CCrossStreet* entry, std::u16string_view name) {
  return LowerCaseText(NameOf(entry)) == LowerCaseText(name);
}

// Degrees from `heading` to `orientation`, clockwise positive, in -180..179.
int RelativeAngle(int orientation, int heading) {
  const int d = ((orientation - heading) % 360 + 360) % 360;
  return d >= 180 ? d - 360 : d;
}

// The smaller angle between two orientations, 0..180.
int AngleBetween(int a, int b) { return std::abs(RelativeAngle(a, b)); }

CARTOVELSideOfStreet Opposite(CARTOVELSideOfStreet side) {
  return side == CARTOVELRightSide ? CARTOVELLeftSide : CARTOVELRightSide;
}

}  // namespace

void CMap::AddCrossStreetToVector(const RampExitInfoMap& exits, const RmfFeatureRef& feature, TiPoint intersection,
                                  TiPoint location, INT connectType, CARTOVELSideOfStreet side,
                                  CrossStreetVector& list, bool expanded, bool includeConnectors) {
  std::u16string name = GetFeatureAttribute(*this, feature, kAttributeStreetName, false);
  LogFormat(u"CMap::AddCrossStreetToVector name: %s", {name});

  if (IsFeatureARamp(m_Rdr.get(), feature)) {
    name = GetRampConnections(exits, intersection, feature, true);
    LogFormat(u"CMap::AddCrossStreetToVector ramp: %s", {name});
  } else if (includeConnectors && name.empty() && IsFeatureAJunction(*this, feature)) {
    name = GetRampConnections(exits, intersection, feature, false);
    LogFormat(u"CMap::AddCrossStreetToVector connector: %s", {name});
  }

  if (name.empty()) {
    name = LoadResourceString(IsFeature8(feature) ? kStringRoundaboutName : kStringUnnamedStreet);
    LogFormat(u"CMap::AddCrossStreetToVector unnamed: %s", {name});
  }

  // Bearing from the intersection along the cross street: to the point after
  // the first when the street starts at the intersection, else to its first.
  INT orientation = -1;
  TiPoint points[kMaxFeaturePoints];
  const std::int32_t pointCount = GetFeaturePointsCapped(m_Rdr.get(), feature, points);
  if (pointCount >= 2) {
    const bool startsHere = AreMapPointsNear(points[0].x, points[0].y, intersection.x, intersection.y);
    const TiPoint to = startsHere ? points[1] : points[0];
    orientation = BearingBetweenMapPoints(intersection.x, intersection.y, to.x, to.y);
  }
  LogFormat(u"CMap::AddCrossStreetToVector orientation: %d (%d points)", {orientation, pointCount});

  if (expanded) {
    name = ExpandStreetName(name);
    LogFormat(u"CMap::AddCrossStreetToVector expanded: %s", {name});
  }

  for (int i = 0; i < list.count(); ++i) {
    const CCrossStreet* entry = list.at(i);
    if (entry->m_nOrientation == orientation && NameOf(entry) == name) {
      Log(u"CMap::AddCrossStreetToVector Exit (not added)");
      return;
    }
  }

  CCrossStreet* created = nullptr;
  if (FAILED(CCrossStreet::CreateObject(&created))) {
    Log(u"CMap::AddCrossStreetToVector CrossStreet not created");
    return;
  }
  CrossStreetVector::Entry entry(created);
  if (!AssignBstr(entry->m_bstrName, name)) {
    Log(u"CMap::AddCrossStreetToVector name not stored");
    return;
  }
  const DegreePoint degrees = MapUnitsToDegrees(location.x, location.y);
  entry->m_dLatitude = degrees.latitude;
  entry->m_dLongitude = degrees.longitude;
  entry->m_nConnectType = connectType;
  entry->m_nOrientation = orientation;
  entry->m_eSideOfStreet = side;
  if (list.Append(std::move(entry))) {
    LogFormat(u"CMap::AddCrossStreetToVector added %d of %d", {list.count(), list.capacity()});
  } else {
    Log(u"CMap::AddCrossStreetToVector list full (not added)");
  }
}

std::int32_t NormalizeCrossStreets(CMap& map, bool nearSide, std::int32_t heading, std::u16string_view streetName,
                                   CrossStreetVector& list) {
  auto& entries = list.entries();
  const int count = list.count();
  if (count < 2) return heading;

  // Exchange sort by orientation: the order of equal orientations is the
  // one callers have always seen.
  for (int i = 0; i < count; ++i) {
    for (int j = i + 1; j < count; ++j) {
      if (list.at(j)->m_nOrientation < list.at(i)->m_nOrientation) std::swap(entries[i], entries[j]);
    }
  }

  const CARTOVELSideOfStreet side = list.at(0)->m_eSideOfStreet;
  std::int32_t newHeading = heading;
  int start = -1;
  if (!streetName.empty() && side != CARTOVELSideUnknown) {
    const int tolerance = streetName == map.LoadResourceString(kStringRoundaboutName) ? 110 : 50;
    int sameName = 0;
    int candidates[2] = {-1, -1};
    int candidateCount = 0;
    for (int i = 0; i < count; ++i) {
      if (!SameNameIgnoringCase(list.at(i), streetName)) continue;
      ++sameName;
      if (!AreHeadingAndOrientationSimilar(heading, list.at(i)->m_nOrientation, tolerance)) continue;
      if (candidateCount < 2) candidates[candidateCount] = i;
      ++candidateCount;
    }
    if (candidateCount > 0) {
      start = candidates[0];
      if (sameName == 3 && candidateCount == 2) {
        // The street forks ahead into two branches of its name: the user
        // keeps to the branch on the side they walk on. Angles are measured
        // from the heading so that branches either side of north compare
        // the right way round.
        const int first = RelativeAngle(list.at(candidates[0])->m_nOrientation, heading);
        const int second = RelativeAngle(list.at(candidates[1])->m_nOrientation, heading);
        const bool secondIsRighter = second >= first;
        if ((side == CARTOVELRightSide) == secondIsRighter) start = candidates[1];
      }
      newHeading = list.at(start)->m_nOrientation;
    }
  }

  if (start < 0) {
    start = 0;
    int nearest = -1;
    int nearestDifference = 10;
    if (heading >= 0) {
      for (int i = 0; i < count; ++i) {
        const int difference = AngleBetween(list.at(i)->m_nOrientation, heading);
        if (difference < nearestDifference) {
          nearest = i;
          nearestDifference = difference;
          if (difference == 0) break;
        }
      }
    }
    // Where the street bends at the intersection, the street ahead is the
    // one of its name that goes on nearest the heading, even when the side
    // the user walks on is not known: a list that began with the next
    // street clockwise would have the user step onto a cross street.
    if (nearest < 0 && heading >= 0 && !streetName.empty()) {
      const int tolerance = streetName == map.LoadResourceString(kStringRoundaboutName) ? 110 : 50;
      for (int i = 0; i < count; ++i) {
        if (!SameNameIgnoringCase(list.at(i), streetName)) continue;
        const int difference = AngleBetween(list.at(i)->m_nOrientation, heading);
        if (difference < tolerance && (nearest < 0 || difference < nearestDifference)) {
          nearest = i;
          nearestDifference = difference;
        }
      }
    }
    if (nearest >= 0) {
      start = nearest;
    } else {
      for (int i = 0; i < count; ++i) {
        if (list.at(i)->m_nOrientation > heading) {
          start = i;
          break;
        }
      }
    }
  }

  std::rotate(entries.begin(), entries.begin() + start, entries.end());
  AssignSidesAndCrossings(list, nearSide, newHeading, streetName);
  return newHeading;
}

void AssignSidesAndCrossings(CrossStreetVector& list, bool nearSide, std::int32_t heading,
                             std::u16string_view streetName) {
  const int count = list.count();
  if (count < 2) return;
  const CARTOVELSideOfStreet s = list.at(0)->m_eSideOfStreet;
  if (s != CARTOVELLeftSide && s != CARTOVELRightSide) return;
  const CARTOVELSideOfStreet o = Opposite(s);
  const int rightOfHeading = (heading + 90) % 360;

  if (count == 2 && !AreHeadingAndOrientationSimilar(heading, list.at(0)->m_nOrientation, 20)) {
    const bool firstOnRight = AreHeadingAndOrientationSimilar(rightOfHeading, list.at(0)->m_nOrientation, 20);
    list.at(0)->m_eSideOfStreet = firstOnRight ? CARTOVELRightSide : CARTOVELLeftSide;
    list.at(1)->m_eSideOfStreet = firstOnRight ? CARTOVELLeftSide : CARTOVELRightSide;
    return;
  }

  // B: the entry leading back along the user's street.
  const auto leadsBack = [&](int i) {
    return AreHeadingAndOrientationSimilar(heading, (list.at(i)->m_nOrientation + 180) % 360, 40);
  };
  int back = -1;
  int sameName = 0;
  for (int i = 0; i < count; ++i) {
    if (!SameNameIgnoringCase(list.at(i), streetName)) continue;
    ++sameName;
    if (back < 0 && leadsBack(i)) back = i;
  }
  if (back < 0 && sameName == 1) {
    for (int i = 0; i < count; ++i) {
      if (!SameNameIgnoringCase(list.at(i), streetName) && leadsBack(i)) back = i;
    }
  }

  if (sameName == count && back >= 0) {
    bool straight = true;
    if (count == 3) {
      const int other = back == 1 ? 2 : 1;
      straight = AngleBetween(list.at(0)->m_nOrientation, list.at(other)->m_nOrientation) <= 90;
    }
    list.at(back)->m_eSideOfStreet = o;
    for (int i = 1; i < count; ++i) {
      if (i == back) continue;
      if (straight) {
        list.at(i)->m_bMustCrossStreet = VARIANT_TRUE;
        list.at(i)->m_eSideOfStreet = o;
      } else {
        list.at(i)->m_eSideOfStreet = s;
      }
    }
  } else {
    if (back >= 0) list.at(back)->m_eSideOfStreet = o;
    for (int i = 0; i < count; ++i) {
      if (i == back || SameNameIgnoringCase(list.at(i), streetName)) continue;
      const bool onRight = AreHeadingAndOrientationSimilar(rightOfHeading, list.at(i)->m_nOrientation, 45);
      list.at(i)->m_eSideOfStreet = onRight == nearSide ? CARTOVELRightSide : CARTOVELLeftSide;
    }
  }

  // Must-cross flags, counted round from the street leading back.
  if (back < 0) back = s == CARTOVELRightSide ? count - 1 : 1;
  const auto set = [&](int i, bool value) {
    if (i >= 0 && i < count) list.at(i)->m_bMustCrossStreet = com::Flag(value);
  };
  if (s != CARTOVELRightSide) {
    for (int i = back + 2; i < count; ++i) set(i, nearSide);
    if (back != 0) set(0, back == count - 1 ? false : nearSide);
    for (int i = 1; i < back; ++i) set(i, true);
    set(back, !nearSide);
  } else {
    for (int i = 0; i <= back - 2; ++i) set(i, nearSide);
    set(back, !nearSide);
    for (int i = back + 1; i < count; ++i) set(i, true);
  }
}

HRESULT CrossStreetListToVariant(const CrossStreetVector& list, VARIANT* out) {
  // The array takes a reference of its own; the list gives its up when it is freed.
  com::VariantArray array;
  const HRESULT hr = com::PackObjects(
      static_cast<std::size_t>(list.count()),
      [&list](std::size_t i) -> IDispatch* { return list.at(static_cast<int>(i)); }, array);
  if (FAILED(hr)) return hr;
  array.MoveTo(out);
  return S_OK;
}
