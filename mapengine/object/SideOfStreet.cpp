// Side of street and street orientation at a position: on which side of the
// street the user walks on a house number of a given parity lies, and which
// way the street there runs.
#include <cstdint>

#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/features/RmfFeatureAttr.h"
#include "mapengine/object/CMap.h"
#include "mapengine/object/Geometry.h"
#include "mapengine/object/NearestFeature.h"
#include "mapengine/object/SideOfStreet.h"
#include "mapengine/object/StreetNames.h"
#include "mapengine/object/StreetWalk.h"
#include "platform/com/guard.h"

namespace {

// The number whose parity stands for a side's numbers: its from number, or,
// when that is 0 (a range that starts at no number), its to number. 0 when
// the side has no positive number: no numbers (0) or unknown ones (-1), which
// tell nothing about the side.
std::int32_t ParityNumberOfSide(std::int32_t from, std::int32_t to) {
  if (from > 0) return from;
  if (to > 0) return to;
  return 0;
}

bool IsOdd(std::int32_t number) { return number % 2 != 0; }

// A side holds numbers of both parities when both its ends are numbers and
// they differ in parity.
bool HoldsBothParities(std::int32_t from, std::int32_t to) { return from > 0 && to > 0 && IsOdd(from) != IsOdd(to); }

}  // namespace

CARTOVELSideOfStreet SideOfStreetForParity(const StreetSegmentNumbers& numbers, INT parity) {
  if (parity != kHouseNumberParityOdd && parity != kHouseNumberParityEven) return CARTOVELSideUnknown;
  const bool odd = parity == kHouseNumberParityOdd;
  // Where the ranges cannot tell the side, none is named, so that the caller
  // falls back to the street's geometry: a side holding both parities, or
  // both sides holding the same one.
  if (HoldsBothParities(numbers.leftFrom, numbers.leftTo) || HoldsBothParities(numbers.rightFrom, numbers.rightTo)) {
    return CARTOVELSideUnknown;
  }
  const std::int32_t left = ParityNumberOfSide(numbers.leftFrom, numbers.leftTo);
  const std::int32_t right = ParityNumberOfSide(numbers.rightFrom, numbers.rightTo);
  if (left != 0 && right != 0 && IsOdd(left) == IsOdd(right)) return CARTOVELSideUnknown;
  if (left != 0) return IsOdd(left) == odd ? CARTOVELLeftSide : CARTOVELRightSide;
  if (right != 0) return IsOdd(right) == odd ? CARTOVELRightSide : CARTOVELLeftSide;
  return CARTOVELSideUnknown;
}

HRESULT CMap::GetSideOfStreet(double inLat, double inLon, LONG inHeadingDegrees, INT nOddEvenIfKnown,
                              INT* nInOutSideOfStreet) {
  if (nInOutSideOfStreet == nullptr) return E_POINTER;
  *nInOutSideOfStreet = CARTOVELSideUnknown;
  // Without a parity or a heading there is no side to tell; the map is not read.
  if (nOddEvenIfKnown != kHouseNumberParityOdd && nOddEvenIfKnown != kHouseNumberParityEven) return S_OK;
  if (inHeadingDegrees == -1 || m_Rdr.get() == nullptr) return S_OK;
  return com::Guarded([&]() -> HRESULT {
    const std::int32_t heading = static_cast<std::int32_t>(inHeadingDegrees);
    const TiPoint point = DegreesToMapUnits(inLat, inLon);
    const RmfFeatureRef street = GetNearestFeatureInOurOrientationNavigable(*this, point, heading, "567");
    // Trails and walkways carry no house numbers.
    if (IsNullFeatureRef(street) || IsFeatureR(street) || IsFeatureW(street)) return S_OK;
    const StreetSegmentNumbers numbers = GetHouseNumbersAlongStreet(m_MapContext, street, point, heading);
    *nInOutSideOfStreet = SideOfStreetForParity(numbers, nOddEvenIfKnown);
    return S_OK;
  });
}

HRESULT CMap::GetStreetOrientation(double inLat, double inLon, SHORT inHeading, SHORT* outOrientation) {
  if (outOrientation == nullptr) return E_POINTER;
  *outOrientation = -1;
  RmfReader* reader = m_Rdr.get();
  if (reader == nullptr) return S_OK;
  return com::Guarded([&]() -> HRESULT {
    const TiPoint point = DegreesToMapUnits(inLat, inLon);
    const RmfFeatureRef street = GetNearestFeatureInOurOrientationNavigable(*this, point, inHeading, "567");
    if (IsNullFeatureRef(street)) return S_OK;
    // The search hands out the street's segment directed by the heading it
    // was asked with; the street's orientation is that of its own points, so
    // a reference running towards lower vertices is turned round first.
    RmfFeatureRef stored = street;
    if (street.fromVertex > street.toVertex && RmfFeatureRefReverse(reader, street, &stored) != 1) return S_OK;
    TiPoint* points = nullptr;
    const std::int32_t count = RmfFeatureRefPoints(reader, stored, &points);
    if (count < 2 || points == nullptr) return S_OK;
    const DegreePoint first = MapUnitsToDegrees(points[0].x, points[0].y);
    const DegreePoint last = MapUnitsToDegrees(points[count - 1].x, points[count - 1].y);
    *outOrientation = static_cast<SHORT>(BearingDegreesLonLat(first.longitude, first.latitude, last.longitude,
                                                              last.latitude));
    return S_OK;
  });
}
