// The location description: one line of text about a position, built from
// the pieces the caller asks for by keyword (street address, street name,
// city, state, postal code, the intersection ahead, the route location, the
// number of lanes), and the IMap operation that hands it out.
#include <cstdint>
#include <string>
#include <string_view>

#include "mapengine/object/CMap.h"
#include "mapengine/object/Geometry.h"
#include "mapengine/object/NearestFeature.h"
#include "mapengine/object/StreetNames.h"
#include "mapengine/object/Utilities.h"
#include "platform/com/atl.h"

namespace {

enum class Piece {
  kNone,
  kStreetAddress,
  kStreetRaw,
  kStreetStripped,
  kStreetExpanded,
  kCity,
  kStateRaw,
  kStateExpanded,
  kZipcode,
  kIntersectionDistance,
  kIntersectionName,
  kIntersectionStripped,
  kIntersectionExpanded,
  kIntersectionHeading,
  kRouteLocation,
  kNumberOfLanes,
};

struct Keyword {
  std::u16string_view word;    // found as a case-sensitive part of the request
  Piece piece;
  std::u16string_view answer;  // the result when nothing is described
};

// The keywords in the order their pieces are added to the description.
constexpr Keyword kKeywords[] = {
    {u"STREET ADDRESS", Piece::kStreetAddress, u"UNKNOWN ADDRESS"},
    {u"STREET NAME RAW", Piece::kStreetRaw, u"UNKNOWN POSITION"},
    {u"STREET STRIPPED", Piece::kStreetStripped, u"UNKNOWN POSITION"},
    {u"STREET EXPANDED", Piece::kStreetExpanded, u"UNKNOWN POSITION"},
    {u"CITY", Piece::kCity, u"UNKNOWN CITY"},
    {u"STATE RAW", Piece::kStateRaw, u"UNKNOWN STATE"},
    {u"STATE EXPANDED", Piece::kStateExpanded, u"UNKNOWN STATE"},
    {u"ZIPCODE", Piece::kZipcode, u"UNKNOWN ZIPCODE"},
    {u"INTERSECTION DISTANCE", Piece::kIntersectionDistance, u"UNKNOWN INTERSECTION DISTANCE"},
    {u"INTERSECTION NAME", Piece::kIntersectionName, u"UNKNOWN INTERSECTION NAME"},
    {u"INTERSECTION STRIPPED", Piece::kIntersectionStripped, u"UNKNOWN INTERSECTION NAME"},
    {u"INTERSECTION EXPANDED", Piece::kIntersectionExpanded, u"UNKNOWN INTERSECTION NAME"},
    {u"INTERSECTION HEADING", Piece::kIntersectionHeading, u"UNKNOWN INTERSECTION HEADING"},
    {u"ROUTE LOCATION", Piece::kRouteLocation, u"UNKNOWN ROUTE LOCATION DESCRIPTION"},
    {u"NUMBER OF LANES", Piece::kNumberOfLanes, u"UNKNOWN NUMBER OF LANES"},
};

constexpr std::u16string_view kStreetDetailed = u"STREET DETAILED";
constexpr std::u16string_view kUnknownRequest = u"UNKNOWN REQUEST";
constexpr std::u16string_view kOk = u"OK";

}  // namespace

std::u16string CMap::GetLocationDescriptionInternal(double latitude, double longitude, std::int32_t heading,
                                                    std::u16string_view request, std::u16string& result) {
  result = kUnknownRequest;
  m_bStreetDetailed = ContainsText(request, kStreetDetailed) ? 1 : 0;

  // Both features are found before any keyword is looked at: the street the
  // user is on (with the heading) and the feature that carries the area.
  const TiPoint point = DegreesToMapUnits(latitude, longitude);
  const RmfFeatureRef street = GetNearestFeatureInOurOrientationNavigable(*this, point, heading, "4567");
  const RmfFeatureRef area = GetNearestFeature(point, -1, "567");

  const auto pieceOf = [&](Piece piece) -> std::u16string {
    switch (piece) {
      case Piece::kStreetAddress:
        return GetStreetAddressText(street, point, heading);
      case Piece::kStreetRaw:
        return GetStreetName(*this, street, false, false, false);
      case Piece::kStreetStripped:
        return GetStreetName(*this, street, true, false, false);
      case Piece::kStreetExpanded:
        return GetStreetName(*this, street, false, true, false);
      case Piece::kCity:
        return GetCityText(area, point, true, false);
      case Piece::kStateRaw:
        return GetStateText(area, point, false);
      case Piece::kStateExpanded:
        return GetStateText(area, point, true);
      case Piece::kZipcode:
        return GetZipcodeText(area, point);
      case Piece::kIntersectionDistance:
        return GetIntersectionDistanceText(latitude, longitude, heading);
      case Piece::kIntersectionName:
        return GetIntersectionNameText(latitude, longitude, heading, false, false);
      case Piece::kIntersectionStripped:
        return GetIntersectionNameText(latitude, longitude, heading, true, false);
      case Piece::kIntersectionExpanded:
        return GetIntersectionNameText(latitude, longitude, heading, false, true);
      case Piece::kIntersectionHeading:
        return GetIntersectionHeadingText(latitude, longitude, heading);
      case Piece::kRouteLocation:
        return GetRouteLocationText(point);
      case Piece::kNumberOfLanes:
        return GetNumberOfLanesText(point, heading);
      case Piece::kNone:
        break;
    }
    return {};
  };

  std::u16string description;
  for (const Keyword& keyword : kKeywords) {
    if (!ContainsText(request, keyword.word)) continue;
    result = keyword.answer;
    std::u16string piece = pieceOf(keyword.piece);
    if (keyword.piece == Piece::kStreetAddress) {
      description = std::move(piece);
      continue;
    }
    // The separator follows what is there even when the new piece is empty,
    // so a piece that is missing still holds its place in the line.
    if (!description.empty()) description += u", ";
    description += piece;
  }
  if (!description.empty()) result = kOk;
  return description;
}

HRESULT CMap::GetLocationDescription(double inLat, double inLon, INT inHeadingInDegrees, BSTR* pInParameters,
                                     BSTR* pOutDescription, BSTR* pResult) {
  if (pOutDescription == nullptr || pResult == nullptr) return E_POINTER;
  *pOutDescription = nullptr;
  *pResult = nullptr;
  Log(u"      CMap::GetLocationDescription enter");
  const HRESULT hr = com::Guarded([&] {
    const std::u16string_view request =
        pInParameters != nullptr ? BstrView(*pInParameters) : std::u16string_view();
    std::u16string result;
    const std::u16string description =
        GetLocationDescriptionInternal(inLat, inLon, inHeadingInDegrees, request, result);
    BSTR outDescription = SysAllocStringLen(description.data(), static_cast<UINT>(description.size()));
    BSTR outResult = SysAllocStringLen(result.data(), static_cast<UINT>(result.size()));
    if (outDescription == nullptr || outResult == nullptr) {
      SysFreeString(outDescription);
      SysFreeString(outResult);
      return E_OUTOFMEMORY;
    }
    *pOutDescription = outDescription;
    *pResult = outResult;
    return S_OK;
  });
  Log(u"      CMap::GetLocationDescription exit");
  return hr;
}
