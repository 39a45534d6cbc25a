// The where-am-I details of a position: the IMap operation, the request
// keywords, and the worker that fills one LocationDetails object from the
// area feature and the street near the position.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/object/CMap.h"
#include "mapengine/object/Geometry.h"
#include "mapengine/object/NearestFeature.h"
#include "mapengine/object/ResultObjects.h"
#include "mapengine/object/StreetNames.h"
#include "mapengine/object/StreetWalk.h"
#include "mapengine/object/Utilities.h"
#include "platform/com/atl.h"
#include "platform/com/variant_array.h"

namespace {

// Attributes of the street read for its road classification.
constexpr int kAttributeSurface = 12;
constexpr int kAttributeToll = 13;
constexpr int kAttributeStructure = 14;

// Language strings of the road classification.
constexpr unsigned kStringFreeway = 23102;
constexpr unsigned kStringHighway = 23104;
constexpr unsigned kStringMainRoad = 23105;
constexpr unsigned kStringLocalRoad = 23106;
constexpr unsigned kStringRoundabout = 23107;
constexpr unsigned kStringRamp = 23108;
constexpr unsigned kStringFerry = 23109;
constexpr unsigned kStringRoad = 23110;
constexpr unsigned kStringPaved = 23130;
constexpr unsigned kStringUnpaved = 23131;
constexpr unsigned kStringPedestrianPath = 23132;
constexpr unsigned kStringTollRoad = 23133;
constexpr unsigned kStringBridge = 23134;
constexpr unsigned kStringTunnel = 23135;
constexpr unsigned kStringStairs = 23136;
constexpr unsigned kStringFord = 23137;
constexpr unsigned kStringRailwayCrossing = 23138;
constexpr unsigned kStringServiceRoad = 23139;
constexpr unsigned kStringOneWay = 23140;
constexpr unsigned kNoString = 0;

// Which fields a request asks for.
struct DetailFlags {
  bool city = false;
  bool state = false;
  bool zipcode = false;
  bool area = false;
  bool borough = false;
  bool county = false;
  bool country = false;
  bool street = false;
  bool roadType = false;
  bool mapSource = false;
  bool roadSpeed = false;
  bool address = false;
  bool lanes = false;
  bool boroughRule = false;
};

// Each keyword is looked for on its own as a substring, so "STREET ADDRESS"
// also asks for the address; "ALL" asks for everything.
DetailFlags DetailFlagsOfRequest(std::u16string_view request) {
  const auto has = [request](std::u16string_view keyword) { return ContainsText(request, keyword); };
  DetailFlags f;
  if (has(u"ALL")) {
    f = DetailFlags{true, true, true, true, true, true, true, true, true, true, true, true, true, false};
  } else {
    f.city = has(u"CITY");
    f.state = has(u"STATE RAW");
    f.zipcode = has(u"ZIPCODE");
    f.area = has(u"AREA");
    f.borough = has(u"BOROUGH");
    f.county = has(u"COUNTY");
    f.country = has(u"COUNTRY");
    f.street = has(u"STREET NAME RAW") || has(u"STREET STRIPPED") || has(u"STREET EXPANDED");
    f.roadType = f.mapSource = has(u"ROAD TYPE");
    f.roadSpeed = has(u"ROAD SPEED");
    f.address = has(u"ADDRESS");
    f.lanes = has(u"NUMBER OF LANES");
  }
  if (has(u"ADDRESS_CITY_POSTAL_MAP")) {
    f.city = f.borough = f.state = f.zipcode = f.country = f.mapSource = true;
    f.boroughRule = true;
  }
  return f;
}

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) {
  return LowerCaseText(a) == LowerCaseText(b);
}

// The language string of a road-class attribute by its first character.
unsigned RoadTypeString(char16_t c) {
  switch (c) {
    case u'1': return kStringFreeway;
    case u'2': return kStringHighway;
    case u'3': return kStringMainRoad;
    case u'4': return kStringLocalRoad;
    case u'8': return kStringRoundabout;
    case u'9': return kStringRamp;
    case u'V':
    case u'v': return kStringFerry;
    default: return kStringRoad;
  }
}

unsigned PropertyString(int attribute, char16_t c) {
  switch (attribute) {
    case kAttributeDirectionMark: return c == u'+' || c == u'-' ? kStringOneWay : kNoString;
    case kAttributeSurface:
      if (c == u'1' || c == u'3') return kStringPaved;
      return c == u'2' || c == u'4' ? kStringUnpaved : kNoString;
    case kAttributeToll: return c == u'0' || c == u'1' ? kStringTollRoad : kNoString;
    case kAttributeStructure:
      switch (c) {
        case u'B': return kStringBridge;
        case u'T': return kStringTunnel;
        case u'S': return kStringStairs;
        case u'F': return kStringFord;
        case u'R': return kStringRailwayCrossing;
        default: return kNoString;
      }
    case kAttributeRoadKind:
      if (c == u'N' || c == u'S') return kStringServiceRoad;
      return c == u'P' || c == u'W' ? kStringPedestrianPath : kNoString;
    default: return kNoString;
  }
}

}  // namespace

void CMap::SetRoadSpeed(CLocationDetails& details, std::u16string_view speedClass) {
  details.m_dRoadSpeedMiles = 0;
  details.m_dRoadSpeedKilometers = 0;
  if (speedClass.empty()) return;
  const char16_t c = speedClass.front();
  if (c >= u'0' && c <= u'9') {
    details.m_dRoadSpeedMiles = 5 + 10 * (c - u'0');
    details.m_dRoadSpeedKilometers = details.m_dRoadSpeedMiles * 1.609344;
  } else if (c >= u'A' && c <= u'P') {
    details.m_dRoadSpeedKilometers = 5 + 10 * (c - u'A');
    details.m_dRoadSpeedMiles = details.m_dRoadSpeedKilometers * 0.621371192;
  }
}

std::u16string CMap::GetRoadClassificationText(const RmfFeatureRef& street) {
  const std::u16string roadClass = GetFeatureAttribute(*this, street, kAttributeRoadClass, false);
  std::u16string text = roadClass.empty() ? std::u16string() : LoadResourceString(RoadTypeString(roadClass.front()));
  for (const int attribute : {kAttributeDirectionMark, kAttributeSurface, kAttributeToll, kAttributeStructure,
                              kAttributeRoadKind}) {
    const std::u16string value = GetFeatureAttribute(*this, street, attribute, false);
    if (value.empty()) continue;
    const unsigned id = PropertyString(attribute, value.front());
    if (id == kNoString) continue;
    const std::u16string property = LoadResourceString(id);
    if (property.empty()) continue;
    text += u", ";
    text += property;
  }
  return text;
}

std::u16string CMap::GetMapDataSource(const RmfFeatureRef& feature) {
  std::int32_t mapNumber = 0, secondId = 0, part = 0;
  std::uint32_t featureId = 0;
  if (m_Rdr == nullptr || RmfFeatureRefToIds(m_Rdr.get(), feature, &mapNumber, &featureId, &secondId, &part) != 1) {
    return {};
  }
  // Map numbers count from 1; one outside the loaded maps names none.
  if (mapNumber < 1 || mapNumber > m_MapFiles.Count()) return {};
  const std::u16string_view file = m_MapFiles.At(mapNumber - 1);
  return std::u16string(file.substr(0, file.rfind(u'.')));
}

std::unique_ptr<CLocationDetails, com::Releaser> CMap::GetLocationDetailsInternal(double latitude, double longitude,
                                                                                  std::int32_t heading,
                                                                                  std::u16string_view request) {
  CLocationDetails* made = nullptr;
  if (FAILED(CLocationDetails::CreateObject(&made))) return nullptr;
  std::unique_ptr<CLocationDetails, com::Releaser> details(made);
  const TiPoint point = DegreesToMapUnits(latitude, longitude);
  const DetailFlags flags = DetailFlagsOfRequest(request);

  const RmfFeatureRef area = GetNearestFeature(point, -1, "567");
  if (IsNullFeatureRef(area)) return details;

  CLocationDetails& d = *details;
  const std::u16string borough = GetFeatureAttribute(*this, area, kAttributeBorough, false);
  std::u16string city = flags.city ? GetCityText(area, point, false, flags.boroughRule) : std::u16string();
  if (flags.boroughRule && !borough.empty()) {
    // New York and the United Kingdom name the borough as the city; without a
    // borough the city stays as it is.
    const std::u16string country = GetCountryText(area, point);
    if (EqualsIgnoringCase(city, u"new york") || EqualsIgnoringCase(country, u"united kingdom")) city = borough;
  }
  if (flags.city) AssignBstr(d.m_bstrCity, city);
  if (flags.borough) AssignBstr(d.m_bstrBorough, borough);
  if (flags.state) AssignBstr(d.m_bstrState, GetStateText(area, point, true));
  if (flags.zipcode) AssignBstr(d.m_bstrZipcode, GetZipcodeText(area, point));
  if (flags.area) AssignBstr(d.m_bstrArea, GetAreaText(point));
  if (flags.county) AssignBstr(d.m_bstrCounty, GetFeatureAttribute(*this, area, kAttributeCounty, false));
  if (flags.country) AssignBstr(d.m_bstrCountry, GetCountryText(area, point));

  const RmfFeatureRef street = GetNearestFeatureInOurOrientationNavigable(*this, point, heading, "567");
  if (flags.street) {
    // The long name is the detailed one; the flag is back at 0 afterwards,
    // also when a name cannot be made.
    struct DetailedOff {
      std::uint8_t& flag;
      ~DetailedOff() { flag = 0; }
    } off{m_bStreetDetailed};
    m_bStreetDetailed = 0;
    AssignBstr(d.m_bstrStreetName, GetStreetName(*this, street, false, true, false));
    m_bStreetDetailed = 1;
    AssignBstr(d.m_bstrStreetNameLong, GetStreetName(*this, street, false, false, false));
  }
  if (flags.roadSpeed) SetRoadSpeed(d, GetFeatureAttribute(*this, street, kAttributeSpeedClass, false));
  if (flags.roadType) AssignBstr(d.m_bstrRoadClassification, GetRoadClassificationText(street));
  if (flags.mapSource) AssignBstr(d.m_bstrMapDataSource, GetMapDataSource(area));

  if (flags.address) {
    GetAddressInternal(d, latitude, longitude, street, heading);
  } else {
    const StreetSegmentNumbers numbers = GetHouseNumbersAlongStreet(m_MapContext, street, point, heading);
    const TiPoint onStreet = ProjectMapPointOntoSegment(numbers.first, numbers.last, point, false);
    const DegreePoint degrees = MapUnitsToDegrees(onStreet.x, onStreet.y);
    d.m_dLatitude = degrees.latitude;
    d.m_dLongitude = degrees.longitude;
  }
  if (flags.lanes) d.m_nNumberLanes = GetNumberOfLanes(DegreesToMapUnits(d.m_dLatitude, d.m_dLongitude), heading);
  return details;
}

HRESULT CMap::GetLocationDetails(double inLat, double inLon, INT inHeadingInDegrees, BSTR* pInParameters,
                                 VARIANT* pInOutLocationDetails) {
  if (pInOutLocationDetails == nullptr) return E_POINTER;
  VariantClear(pInOutLocationDetails);
  return com::Guarded([&] {
    const std::u16string request(BstrView(pInParameters != nullptr ? *pInParameters : nullptr));
    const std::unique_ptr<CLocationDetails, com::Releaser> details =
        GetLocationDetailsInternal(inLat, inLon, inHeadingInDegrees, request);
    // The array takes a reference of its own.
    com::VariantArray array;
    const HRESULT hr = com::PackObjects(
        details != nullptr ? 1 : 0,
        [&details](std::size_t) -> IDispatch* { return static_cast<ILocationDetails*>(details.get()); }, array);
    if (FAILED(hr)) return hr;
    array.MoveTo(pInOutLocationDetails);
    return S_OK;
  });
}
