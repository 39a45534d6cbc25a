// The main job of the build as it stands: installs the map engine on a device
// root the way the phone's installer does (its DllRegisterServer), creates
// Cartovel.Map by its ProgID as the navigation engine does, gives it the
// English language library, lets it find and load the maps of the device's
// maps folder, and prints what it reports through IMap, with the bounds and
// detail levels each loaded map's header declares. It passes street names
// read from the street map through IMap::ExpandRawStreetName.
//
// Then, for a few fixed addresses of the town, over a map engine object of
// the library linked into this program (on the same maps): the street named
// at the address and the house number the street walk gives there, where am
// I there (IMap::GetLocationDetails "ALL", IMap::GetLocationDescription), the
// cross streets of the next intersection both ways along the street
// (IMap::FindNextCrossStreets), a virtual exploration from the address (the
// exploration operations of IMap: the street there, on to the next
// intersection, across the street, round the block), and a walking and a
// driving route to the next address told in steps (IMap::FindWalkingRoute,
// FindDrivingRoute), and what is near: the points of interest nearest the
// address all round and ahead (IMap::FindPOIs with the navigation engine's
// location and search configuration objects), each read back from its
// point-of-interest database through the database server (Dorvanta).
//
//   cartovel-demo [--root DEVICE_ROOT] [--library PATH_TO_Cartovel.so]
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <set>
#include <string>
#include <vector>

#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/store/RmfFileFormat.h"
#include "mapengine/object/CMap.h"
#include "typelib/CartovelLib.h"
#include "mapengine/object/Geometry.h"
#include "mapengine/object/StreetNames.h"
#include "typelib/VovLib.h"
#include "typelib/DorvantaLib.h"
#include "platform/com/runtime.h"
#include "platform/com/variant_array.h"
#include "platform/os/device.h"
#include "platform/os/files.h"
#include "platform/os/module.h"
#include "platform/os/text.h"
#include "tools/rmfbuild/RmfStreetParts.h"

namespace {

std::string ProgramFolder() {
  char16_t path[4096];
  DWORD n = GetModuleFileNameW(nullptr, path, 4096);
  std::string host = platform::Utf16ToUtf8(std::u16string_view(path, n));
  auto slash = host.rfind('/');
  return slash == std::string::npos ? std::string(".") : host.substr(0, slash);
}

std::string Hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

std::string Text(BSTR b) { return platform::Utf16ToUtf8(std::u16string_view(b, SysStringLen(b))); }

BSTR Bstr(const std::string& text) {
  std::u16string wide = platform::Utf8ToUtf16(text);
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

// The header of a map file as the map library decodes it: its box in degrees
// and its detail levels.
void PrintMapHeader(const std::string& phonePath) {
  std::FILE* file = std::fopen(platform::HostPathUtf8(phonePath).c_str(), "rb");
  if (file == nullptr) return;
  unsigned char bytes[500];
  size_t n = std::fread(bytes, 1, sizeof bytes, file);
  std::fclose(file);
  rmf::RmfFileHeader header{};
  if (rmf::DecodeFileHeader(bytes, n, &header) != 1) {
    std::printf("    header not readable\n");
    return;
  }
  const double perDegree = 745654.0444444445;
  std::printf("    bounds %.5f,%.5f .. %.5f,%.5f (lat,lon); detail levels %d..%d; %u index runs\n",
              header.box.y1 / perDegree, header.box.x1 / perDegree, header.box.y2 / perDegree,
              header.box.x2 / perDegree, header.minLevel, header.maxLevel, header.indexCount);
}

// ---- street names through IMap ----------------------------------------------------------------

// A few street names of the map in their detailed form (the name, then its
// route numbers): names alone, names with route numbers and route numbers
// alone (roads without a name), each as IMap::ExpandRawStreetName gives it
// back.
void ShowExpandedNames(IMap* map, RmfReader* reader) {
  std::set<std::string> plain, withNumbers, numbersOnly;
  for (const rmfbuild::StreetPart& hit : rmfbuild::QueryStreetParts(reader)) {
    const std::string detailed = platform::Utf16ToUtf8(StreetNameOfText(hit.nameText, true, false));
    if (detailed.empty()) continue;
    std::set<std::string>& kind = hit.nameText.find(":RN") == std::string::npos ? plain
                                  : hit.nameText.front() == ':'                   ? numbersOnly
                                                                                  : withNumbers;
    if (kind.size() < 2) kind.insert(detailed);
  }
  std::printf("street names of the map through IMap::ExpandRawStreetName:\n");
  for (const std::set<std::string>* kind : {&plain, &withNumbers, &numbersOnly}) {
    for (const std::string& name : *kind) {
      BSTR raw = Bstr(name);
      BSTR expanded = nullptr;
      const HRESULT hr = map->ExpandRawStreetName(&raw, &expanded);
      if (SUCCEEDED(hr)) {
        std::printf("  \"%s\" -> \"%s\"\n", name.c_str(), Text(expanded).c_str());
      } else {
        std::printf("  \"%s\" -> failed (%s)\n", name.c_str(), Hex(hr).c_str());
      }
      SysFreeString(expanded);
      SysFreeString(raw);
    }
  }
}

// ---- addresses, through the map engine's library code ----------------------------------------

// Addresses of the OpenStreetMap extract (address nodes, their position as
// tagged), on streets the converter gave house-number ranges.
struct DemoAddress {
  const char* street;
  const char* number;
  double lat;
  double lon;
};
constexpr DemoAddress kAddresses[] = {
    {"Ihlenfelder Straße", "15", 53.5639666, 13.2712675}, // node 780305250
    {"Ravensburgstraße", "14", 53.5628553, 13.2719177},   // node 2685273241
    {"Prenzlauer Straße", "11", 53.5669761, 13.2751322},  // node 2704027061
    {"Stargarder Straße", "17", 53.5572798, 13.2613851},  // node 1159394515
    {"Verdiring", "126", 53.5500841, 13.2175131},         // node 2739502377
};

// Streets of the address's name are looked for this far around it (map
// units, about 300 m north-south).
constexpr std::int32_t kStreetSearchUnits = 2000;

// The nearest street part named `street` (by the map engine's rule for name
// texts) within the search box, the distance to it, the bearing of its
// nearest segment and the nearest point on it; false when there is none.
bool NearestStreetPart(RmfReader* reader, const std::string& street, TiPoint at, RmfFeatureRef* part,
                       std::int32_t* feet, std::int32_t* bearing, TiPoint* foot) {
  const TiRect box{at.x - kStreetSearchUnits, at.y - kStreetSearchUnits, at.x + kStreetSearchUnits,
                   at.y + kStreetSearchUnits};
  std::int32_t best = -1;
  for (const rmfbuild::StreetPart& hit : rmfbuild::QueryStreetParts(reader, box)) {
    if (platform::Utf16ToUtf8(StreetNameOfText(hit.nameText, false, false)) != street) continue;
    for (std::size_t i = 1; i < hit.points.size(); ++i) {
      const std::int32_t d = DistanceFeetToSegment(at, hit.points[i - 1], hit.points[i]);
      if (best < 0 || d < best) {
        best = d;
        *part = hit.reference;
        *bearing = BearingBetweenMapPoints(hit.points[i - 1].x, hit.points[i - 1].y, hit.points[i].x, hit.points[i].y);
        *foot = ProjectMapPointOntoSegment(hit.points[i - 1], hit.points[i], at, false);
      }
    }
  }
  *feet = best;
  return best >= 0;
}

// A walking or a driving route between two addresses, asked through
// IMap::FindWalkingRoute or FindDrivingRoute as the navigation engine asks:
// its length and the steps it is told in (name, distance from the step
// before, a turn marked).
void ShowRoute(CMap& engine, bool walking, const DemoAddress& a, const DemoAddress& b) {
  IMap& map = engine;
  BSTR parameters = Bstr("");
  VARIANT result;
  VariantInit(&result);
  const HRESULT hr =
      walking ? map.FindWalkingRoute(a.lat, a.lon, b.lat, b.lon, &parameters, CARTOVELRouteTurnAutomatic,
                                     CARTOVELRouteRoundaboutNormal, &result)
              : map.FindDrivingRoute(a.lat, a.lon, b.lat, b.lon, &parameters, CARTOVELRouteVehicleModeFastest,
                                     CARTOVELRouteTurnAutomatic, CARTOVELRouteFreewayNormal,
                                     CARTOVELRouteRoundaboutNormal, CARTOVELRouteTollRoadNormal, &result);
  SysFreeString(parameters);
  const char* mode = walking ? "walking" : "driving";
  double metres = 0;
  int count = 0;
  std::string steps;
  com::VariantArrayView list;
  if (SUCCEEDED(hr) && SUCCEEDED(list.Open(&result))) {
    for (std::size_t i = 0; i < list.size(); ++i) {
      IWayPoint* step = nullptr;
      if (SUCCEEDED(list.ObjectAt(i, &step))) {
        BSTR name = nullptr;
        double distance = 0;
        SHORT turn = 0, angle = 0;
        step->GetName(&name);
        step->GetDistance(&distance);
        step->IsTurningPoint(&turn);
        step->GetRelativeTurningAngleDegreesForward(&angle);
        metres += distance;
        ++count;
        char text[64];
        std::snprintf(text, sizeof text, "%s%.0f m ", steps.empty() ? "" : "; ", distance);
        steps += text + Text(name);
        if (turn != 0) steps += " (turn " + std::to_string(angle) + "°)";
        SysFreeString(name);
        step->Release();
      }
    }
  }
  VariantClear(&result);
  if (count == 0) {
    std::printf("    %s route: none (%s)\n", mode, Hex(hr).c_str());
  } else {
    std::printf("    %s route: %.0f m in %d steps: %s\n", mode, metres, count, steps.c_str());
  }
}

// A cross street as the lists of IMap hand it out.
struct DemoCrossStreet {
  std::string name;
  int orientation = -1;
  double lat = 0;
  double lon = 0;
};

// The cross streets of a list IMap handed out; the list is cleared.
std::vector<DemoCrossStreet> TakeCrossStreets(VARIANT& list) {
  std::vector<DemoCrossStreet> streets;
  com::VariantArrayView view;
  if (SUCCEEDED(view.Open(&list))) {
    for (std::size_t i = 0; i < view.size(); ++i) {
      ICrossStreet* cross = nullptr;
      if (SUCCEEDED(view.ObjectAt(i, &cross))) {
        DemoCrossStreet c;
        BSTR name = nullptr;
        INT orientation = -1;
        cross->GetName(&name);
        cross->GetOrientation(&orientation);
        cross->GetLatitude(&c.lat);
        cross->GetLongitude(&c.lon);
        c.name = Text(name);
        c.orientation = orientation;
        SysFreeString(name);
        cross->Release();
        streets.push_back(c);
      }
    }
  }
  VariantClear(&list);
  return streets;
}

// "name (orientation°), ..."
std::string CrossStreetNames(const std::vector<DemoCrossStreet>& streets) {
  std::string names;
  for (const DemoCrossStreet& c : streets) {
    if (!names.empty()) names += ", ";
    names += c.name + " (" + std::to_string(c.orientation) + "°)";
  }
  return names;
}

// The cross streets of the next intersection along the street, through
// IMap::FindNextCrossStreets as the navigation engine asks.
void ShowCrossStreets(CMap& engine, const DemoAddress& a, std::int32_t heading) {
  BSTR street = Bstr(a.street);
  BSTR request = Bstr("");
  INT newHeading = heading;
  VARIANT list;
  VariantInit(&list);
  const HRESULT hr = static_cast<IMap&>(engine).FindNextCrossStreets(a.lat, a.lon, &street, &request, &newHeading, &list);
  SysFreeString(street);
  SysFreeString(request);
  const std::vector<DemoCrossStreet> streets = SUCCEEDED(hr) ? TakeCrossStreets(list) : std::vector<DemoCrossStreet>{};
  VariantClear(&list);
  if (streets.empty()) {
    std::printf("    walking %d°: no intersection ahead\n", static_cast<int>(heading));
  } else {
    std::printf("    walking %d°: next intersection %.0f m ahead, streets from the one ahead clockwise: %s\n",
                static_cast<int>(heading), DistanceMeters(a.lon, a.lat, streets[0].lon, streets[0].lat),
                CrossStreetNames(streets).c_str());
  }
}

// The cross street a walker who keeps the block on the right takes at a
// corner: the first named street anticlockwise from the way back (the
// sharpest right turn); the way back where the named street ends.
std::size_t RightTurn(CMap& engine, const std::vector<DemoCrossStreet>& streets, int heading) {
  const std::size_t n = streets.size();
  std::size_t back = 0;
  int nearest = 360;
  for (std::size_t i = 0; i < n; ++i) {
    const int d = std::abs(streets[i].orientation - (heading + 180) % 360);
    if (std::min(d, 360 - d) < nearest) {
      nearest = std::min(d, 360 - d);
      back = i;
    }
  }
  for (std::size_t k = 1; k < n; ++k) {
    const std::size_t i = (back + n - k) % n;
    if (!engine.IsFallbackStreetName(platform::Utf8ToUtf16(streets[i].name))) return i;
  }
  return back;
}

// Exploring the map from the address without moving, through the
// exploration operations of IMap as the navigation engine calls them: the
// heading chosen on the street there (facing across it) and the street both
// ways; a turn to face along it and on to the next intersection and the one
// after; back at the first, crossing the street there; then round the
// block, keeping it on the right, until the first intersection comes round
// again.
void ShowExploration(CMap& engine, const DemoAddress& a, TiPoint foot) {
  IMap& map = engine;
  const DegreePoint start = MapUnitsToDegrees(foot.x, foot.y);
  BSTR street = Bstr(a.street);
  BSTR number = Bstr(a.number);
  BSTR request = Bstr("INTERSECTION EXPANDED");
  VARIANT list;
  VariantInit(&list);
  SHORT heading = -1;
  HRESULT hr = map.FindInitialHeadingAndCrossStreets(start.latitude, start.longitude, street, number, &request,
                                                     &list, &heading);
  VariantClear(&list);
  SysFreeString(street);
  SysFreeString(number);
  if (SUCCEEDED(hr) && heading != -1) {
    hr = map.UpdateCrossStreets(start.latitude, start.longitude, heading, CARTOVELSideUnknown, VARIANT_FALSE,
                                &request, &list);
  }
  std::vector<DemoCrossStreet> streets = SUCCEEDED(hr) ? TakeCrossStreets(list) : std::vector<DemoCrossStreet>{};
  if (streets.size() < 2) {
    std::printf("    exploring: no street to explore from here (%s)\n", Hex(hr).c_str());
    SysFreeString(request);
    return;
  }
  std::printf("    exploring from here, facing %d°: %s\n", static_cast<int>(heading), CrossStreetNames(streets).c_str());

  // One move along the street faced (forward) or across the street in
  // front; the position becomes the location the cross streets carry. An
  // empty list when the map engine finds nothing that way.
  double lat = start.latitude, lon = start.longitude;
  const auto move = [&](bool cross, const DemoCrossStreet& faced, const char* what) {
    SHORT turned = static_cast<SHORT>(faced.orientation);
    const HRESULT moved = cross ? map.CrossThisStreet(lat, lon, CARTOVELSideUnknown, &request, &turned, &list)
                                : map.MoveToNextCrossStreet(lat, lon, CARTOVELSideUnknown, &request, &turned, &list);
    std::vector<DemoCrossStreet> next = SUCCEEDED(moved) ? TakeCrossStreets(list) : std::vector<DemoCrossStreet>{};
    if (next.empty()) {
      std::printf("      %s %s: nothing there (%s)\n", what, faced.name.c_str(), Hex(moved).c_str());
      return std::make_pair(next, -1);
    }
    std::printf("      %s %s %d°: %.0f m, then facing %d°: %s\n", what, faced.name.c_str(), faced.orientation,
                DistanceMeters(lon, lat, next[0].lon, next[0].lat), static_cast<int>(turned),
                CrossStreetNames(next).c_str());
    lat = next[0].lat;
    lon = next[0].lon;
    return std::make_pair(next, static_cast<int>(turned));
  };

  // Facing across the street, turn to face along it with the address's own
  // block on the right.
  const TiPoint house = DegreesToMapUnits(a.lat, a.lon);
  const int toHouse = BearingBetweenMapPoints(foot.x, foot.y, house.x, house.y);
  std::size_t along = 0;
  for (std::size_t i = 0; i < streets.size(); ++i) {
    if (streets[i].name == a.street && (toHouse - streets[i].orientation + 360) % 360 < 180) along = i;
  }
  auto [first, facing] = move(false, streets[along], "turn and go along");
  if (first.empty()) {
    SysFreeString(request);
    return;
  }
  const double firstLat = lat, firstLon = lon;
  // The list starts with the street ahead.
  move(false, first[0], "forward along");
  lat = firstLat;
  lon = firstLon;
  std::printf("      back up\n");
  move(true, first[0], "cross");
  lat = firstLat;
  lon = firstLon;
  std::printf("      back up\n");

  streets = first;
  int approach = facing;
  std::printf("      round the block, keeping it on the right:\n");
  constexpr int kLegs = 20;
  for (int leg = 0; leg < kLegs; ++leg) {
    const double fromLat = lat, fromLon = lon;
    auto [next, turned] = move(false, streets[RightTurn(engine, streets, approach)], "  along");
    if (next.empty() || DistanceMeters(fromLon, fromLat, lon, lat) < 1.5) {
      std::printf("      the walk goes no further\n");
      break;
    }
    if (DistanceMeters(lon, lat, firstLon, firstLat) < 3) {
      std::printf("      back at the first intersection\n");
      break;
    }
    streets = next;
    approach = turned;
    if (leg + 1 == kLegs) std::printf("      %d legs walked, and the block goes on\n", kLegs);
  }
  SysFreeString(request);
}

// Where am I at an address, through IMap as the navigation engine asks: the
// location details ("ALL") and a description of the position.
void ShowWhereAmI(CMap& engine, const DemoAddress& a, std::int32_t heading) {
  IMap& map = engine;
  BSTR request = Bstr("ALL");
  VARIANT details;
  VariantInit(&details);
  const HRESULT hr = map.GetLocationDetails(a.lat, a.lon, -1, &request, &details);
  SysFreeString(request);
  com::VariantArrayView list;
  ILocationDetails* found = nullptr;
  if (SUCCEEDED(hr) && SUCCEEDED(list.Open(&details)) && list.size() > 0 && SUCCEEDED(list.ObjectAt(0, &found))) {
    BSTR street = nullptr, number = nullptr, city = nullptr, zipcode = nullptr, country = nullptr, kind = nullptr;
    found->GetStreetName(&street);
    found->GetHouseNumber(&number);
    found->GetCity(&city);
    found->GetZipcode(&zipcode);
    found->GetCountry(&country);
    found->GetRoadClassification(&kind);
    std::printf("    where am I (IMap::GetLocationDetails \"ALL\"): %s %s, %s %s, %s; %s\n", Text(street).c_str(),
                Text(number).c_str(), Text(zipcode).c_str(), Text(city).c_str(), Text(country).c_str(),
                Text(kind).c_str());
    for (BSTR b : {street, number, city, zipcode, country, kind}) SysFreeString(b);
    found->Release();
  } else {
    std::printf("    where am I: no details (%s)\n", Hex(hr).c_str());
  }
  VariantClear(&details);

  BSTR asked = Bstr("STREET ADDRESS STREET NAME RAW CITY ZIPCODE INTERSECTION NAME INTERSECTION DISTANCE");
  BSTR description = nullptr;
  BSTR result = nullptr;
  map.GetLocationDescription(a.lat, a.lon, heading, &asked, &description, &result);
  std::printf("    described walking %d° (IMap::GetLocationDescription): \"%s\" (%s)\n", static_cast<int>(heading),
              Text(description).c_str(), Text(result).c_str());
  SysFreeString(asked);
  SysFreeString(description);
  SysFreeString(result);
}

// An object of a registered class, asked for `I`; null when it cannot be made.
template <class I>
I* Create(const CLSID& clsid) {
  IUnknown* unknown = nullptr;
  if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(&unknown)))) {
    return nullptr;
  }
  I* object = nullptr;
  if (FAILED(OleRun(unknown)) || FAILED(unknown->QueryInterface(IidOf<I>(), reinterpret_cast<void**>(&object)))) {
    object = nullptr;
  }
  unknown->Release();
  return object;
}

// The points of interest nearest an address, as the navigation engine asks
// for them: at most `most` points from the address outwards, all round or
// only ahead, for a walker at the address heading `heading`; each read back
// from its database file through the database server and told with its
// category and its address, and how far it is in which direction as the
// engine's location object says it (in the engine's default units and
// heading words).
void ShowNearby(CMap& engine, IDatabase* database, const DemoAddress& a, std::int32_t heading, bool ahead,
                LONG most) {
  ILocationObject* location = Create<ILocationObject>(CLSID_LocationObject);
  IPOISearchConfigurationObject* config = Create<IPOISearchConfigurationObject>(CLSID_POISearchConfigurationObject);
  IFoundPOIIndexes* list = Create<IFoundPOIIndexes>(CLSID_FoundPOIIndexes);
  const char* where = ahead ? "ahead" : "all round";
  if (location == nullptr || config == nullptr || list == nullptr) {
    std::printf("    near (%s): the engine's or the database server's objects cannot be made\n", where);
  } else {
    location->SetLatitude(a.lat);
    location->SetLongitude(a.lon);
    config->SetMaxSearchResults(most);
    config->SetMaxSearchTime(0);
    if (ahead) {
      config->SetSearchDirection(static_cast<Directions>(5));  // ahead of the heading
      config->SetCurrentHeadingDegrees(static_cast<SHORT>(heading));
    }
    // Continued outwards until the points wanted are out: each call goes on
    // from the distance the last one reached.
    double distance = 0.0;
    VARIANT_BOOL any = VARIANT_FALSE;
    HRESULT hr = S_OK;
    LONG count = 0;
    for (int call = 0; call < 40 && count < most && distance < 16093.44 && SUCCEEDED(hr); ++call) {
      IUnknown* found = list;
      hr = static_cast<IMap&>(engine).FindPOIs(location, config, VARIANT_TRUE, &found, &distance, &any);
      list->Count(&count);
    }
    if (count == 0) std::printf("    near (%s): nothing found (%s)\n", where, Hex(hr).c_str());
    for (LONG i = 0; i < std::min(count, most); ++i) {
      BSTR file = nullptr;
      ULONG key = 0;
      SHORT flag = 0;
      if (list->Get(i, &file, &key, &flag) != S_OK) continue;
      LONG opened = 0;
      database->DbOpen(file, &opened);
      IDispatch* object = nullptr;
      VARIANT_BOOL read = VARIANT_FALSE;
      database->DbPOIGetRecord(file, key, &object, &read);
      IPOIObject* poi = nullptr;
      if (object != nullptr) object->QueryInterface(IID_IPOIObject, reinterpret_cast<void**>(&poi));
      if (poi == nullptr) {
        std::printf("    near (%s): point %lu of %s: no record\n", where, static_cast<unsigned long>(key),
                    Text(file).c_str());
      } else {
        BSTR name = nullptr, number = nullptr, street = nullptr;
        SHORT category = 0, subcategory = 0;
        double lat = 0, lon = 0;
        poi->GetName(&name);
        poi->GetAddressNumber(&number);
        poi->GetStreet(&street);
        poi->GetCategoryNumber(&category);
        poi->GetSubCategoryNumber(&subcategory);
        poi->GetLatitude(&lat);
        poi->GetLongitude(&lon);
        const std::string categoryName = platform::Utf16ToUtf8(engine.LoadResourceString((category + 59) * 500));
        const std::string subcategoryName =
            subcategory > 0 ? platform::Utf16ToUtf8(engine.LoadResourceString((category + 59) * 500 + subcategory))
                            : std::string();
        std::string address = Text(street);
        if (!address.empty() && SysStringLen(number) > 0) address = Text(number) + " " + address;
        // How far and where, in the engine's words: from the address to the
        // point's own location, for the walker's heading.
        ILocationObject* there = nullptr;
        BSTR words = nullptr;
        if (SUCCEEDED(poi->GetLocation(&there)) && there != nullptr) {
          location->GetDistanceAndHeading(static_cast<SHORT>(heading), there, &words);
          there->Release();
        }
        std::printf("    near (%s): \"%s\" (%s%s%s)%s%s: %s (%.0f m)\n", where,
                    SysStringLen(name) > 0 ? Text(name).c_str() : "unnamed", categoryName.c_str(),
                    subcategoryName.empty() ? "" : ", ", subcategoryName.c_str(), address.empty() ? "" : ", ",
                    address.c_str(), Text(words).c_str(), DistanceMeters(a.lon, a.lat, lon, lat));
        SysFreeString(words);
        for (BSTR b : {name, number, street}) SysFreeString(b);
        poi->Release();
      }
      if (object != nullptr) object->Release();
      SysFreeString(file);
    }
  }
  if (list != nullptr) list->Release();
  if (config != nullptr) config->Release();
  if (location != nullptr) location->Release();
}

void ShowAddresses(CMap& engine) {
  RmfReader* reader = engine.m_Rdr.get();
  if (reader == nullptr) {
    std::printf("addresses: no street map loaded\n");
    return;
  }
  std::printf("addresses (the map engine's library code, called directly):\n");
  IDatabase* database = Create<IDatabase>(CLSID_Database);
  const std::size_t count = sizeof kAddresses / sizeof kAddresses[0];
  for (std::size_t i = 0; i < count; ++i) {
    const DemoAddress& a = kAddresses[i];
    const TiPoint at = DegreesToMapUnits(a.lat, a.lon);
    std::printf("  %s %s (%.7f, %.7f)\n", a.street, a.number, a.lat, a.lon);
    RmfFeatureRef part{};
    std::int32_t feet = 0;
    std::int32_t bearing = 0;
    TiPoint foot{};
    if (!NearestStreetPart(reader, a.street, at, &part, &feet, &bearing, &foot)) {
      std::printf("    no street of that name nearby\n");
    } else {
      const std::string named = platform::Utf16ToUtf8(GetStreetName(engine, part, false, false, false));
      const std::string number = platform::Utf16ToUtf8(engine.GetStreetAddressText(part, at, -1));
      std::printf("    street: \"%s\" (%.0f m away); house number there: %s\n", named.c_str(), feet * 0.3048,
                  number.empty() ? "none" : number.c_str());
      ShowWhereAmI(engine, a, bearing);
      // Both ways along the street, as a walker facing either way asks.
      for (const std::int32_t heading : {bearing, (bearing + 180) % 360}) ShowCrossStreets(engine, a, heading);
      ShowExploration(engine, a, foot);
      if (database != nullptr) {
        ShowNearby(engine, database, a, bearing, false, 5);
        ShowNearby(engine, database, a, bearing, true, 3);
      }
    }
    const DemoAddress& b = kAddresses[(i + 1) % count];
    std::printf("    to %s %s:\n", b.street, b.number);
    ShowRoute(engine, true, a, b);
    ShowRoute(engine, false, a, b);
  }
  if (database == nullptr) {
    std::printf("what is near: the database server's database object cannot be made\n");
  } else {
    database->DbClose();
    database->Release();
  }
}

// A map engine object of the library linked into this program, loading the
// device's maps as the COM server's does; null when it cannot be made.
CMap* OpenLinkedEngine() {
  CMap* engine = nullptr;
  if (FAILED(CMap::CreateObject(&engine))) return nullptr;  // one reference, ours
  BSTR language = Bstr(ProgramFolder() + "/Lexiforn_EN.so");
  VARIANT_BOOL loaded = VARIANT_FALSE;
  engine->SetResources(language, &loaded);
  SysFreeString(language);
  // Room for the whole town's tiles rather than a phone's 2,000 KB.
  engine->SetMapMemoryAllocated(16384);
  BSTR none = Bstr("");
  BSTR settings = Bstr("\\CompactFlash\\settings");
  BSTR result = nullptr;
  engine->Initalize(none, settings, none, VARIANT_TRUE, &result);
  SysFreeString(result);
  SysFreeString(settings);
  SysFreeString(none);
  return engine;
}

// Installs an in-process server as the phone's installer does: its
// DllRegisterServer. CoCreateInstance loads the library again through the
// registry; this handle is only for the registration.
HRESULT RegisterServer(const std::string& library) {
  HMODULE server = LoadLibraryW(platform::Utf8ToUtf16(library).c_str());
  if (server == nullptr) {
    std::fprintf(stderr, "cartovel-demo: cannot load %s: %s\n", library.c_str(), platform::LastModuleError());
    return E_FAIL;
  }
  auto registerServer = reinterpret_cast<HRESULT (*)()>(GetProcAddress(server, "DllRegisterServer"));
  const HRESULT hr = registerServer != nullptr ? registerServer() : E_FAIL;
  FreeLibrary(server);
  return hr;
}

int Fail(const char* what, HRESULT hr) {
  std::fprintf(stderr, "cartovel-demo: %s failed (%s)\n", what, Hex(hr).c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::string library = ProgramFolder() + "/Cartovel.so";
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--root") == 0 && i + 1 < argc) {
      platform::SetDeviceRoot(argv[++i]);
    } else if (std::strcmp(argv[i], "--library") == 0 && i + 1 < argc) {
      library = argv[++i];
    } else {
      std::fprintf(stderr, "usage: cartovel-demo [--root DEVICE_ROOT] [--library Cartovel.so]\n");
      return 2;
    }
  }
  std::printf("device root: %s\n", platform::DeviceRoot().c_str());

  // The map engine, and the navigation engine and database server whose
  // objects carry its point-of-interest searches.
  HRESULT hr = RegisterServer(library);
  if (FAILED(hr)) return Fail("DllRegisterServer", hr);
  std::printf("registered: %s\n", library.c_str());
  for (const char* name : {"VOV.so", "Dorvanta.so"}) {
    const std::string path = ProgramFolder() + "/" + name;
    if (FAILED(hr = RegisterServer(path))) return Fail(name, hr);
    std::printf("registered: %s\n", path.c_str());
  }

  hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (FAILED(hr)) return Fail("CoInitializeEx", hr);

  CLSID clsid{};
  hr = CLSIDFromProgID(u"Cartovel.Map", &clsid);
  if (FAILED(hr)) return Fail("CLSIDFromProgID(Cartovel.Map)", hr);
  std::printf("Cartovel.Map is %s\n", FormatGuid(clsid).c_str());

  IUnknown* unknown = nullptr;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(&unknown));
  if (FAILED(hr)) return Fail("CoCreateInstance", hr);
  OleRun(unknown);
  IMap* map = nullptr;
  hr = unknown->QueryInterface(IID_IMap, reinterpret_cast<void**>(&map));
  unknown->Release();
  if (FAILED(hr)) return Fail("QueryInterface(IMap)", hr);

  BSTR language = Bstr(ProgramFolder() + "/Lexiforn_EN.so");
  VARIANT_BOOL wordsLoaded = VARIANT_FALSE;
  map->SetResources(language, &wordsLoaded);
  SysFreeString(language);
  std::printf("language library: %s\n", wordsLoaded ? "Lexiforn_EN loaded" : "not loaded");

  BSTR none = Bstr("");
  BSTR settings = Bstr("\\CompactFlash\\settings");
  BSTR result = nullptr;
  map->Initalize(none, settings, none, VARIANT_TRUE, &result);
  std::printf("Initalize: %s\n", Text(result).c_str());
  SysFreeString(result);
  SysFreeString(settings);
  SysFreeString(none);

  BSTR mapPath = nullptr;
  map->get_MapPath(&mapPath);
  SHORT maps = 0, country = 0, provincial = 0, state = 0, regional = 0;
  LONG pois = 0;
  map->NumberOfMapsLoaded(&maps);
  map->LoadedCountryMaps(&country);
  map->LoadedProvincialMaps(&provincial);
  map->LoadedStateMaps(&state);
  map->LoadedRegionalMaps(&regional);
  map->NumberOfPOIsLoaded(&pois);
  std::printf("map path: \"%s\"\n", platform::Utf16ToUtf8(std::u16string_view(mapPath, SysStringLen(mapPath))).c_str());
  std::printf("maps loaded: %d (country %d, provincial %d, state %d, regional %d)\n", maps, country, provincial,
              state, regional);
  std::printf("points-of-interest files loaded: %d\n", static_cast<int>(pois));
  // Without a map the demonstration shows nothing: the run fails, so that
  // a script or the build notices.
  const bool noMaps = maps <= 0;
  if (noMaps) {
    std::fprintf(stderr, "cartovel-demo: no map loaded (device root %s; see Initalize above)\n",
                 platform::DeviceRoot().c_str());
  }

  BSTR all = Bstr("");
  VARIANT names;
  VariantInit(&names);
  map->FindMatchingMaps(all, &names);
  SysFreeString(all);
  if (names.vt == (VT_ARRAY | VT_VARIANT)) {
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(names.parray, 1, &lower);
    SafeArrayGetUBound(names.parray, 1, &upper);
    std::printf("maps by name: %ld\n", static_cast<long>(upper - lower + 1));
    for (LONG i = lower; i <= upper; ++i) {
      VARIANT name;
      VariantInit(&name);
      SafeArrayGetElement(names.parray, &i, &name);
      if (name.vt == VT_BSTR) std::printf("  %s\n", Text(name.bstrVal).c_str());
      VariantClear(&name);
    }
  }
  VariantClear(&names);
  std::printf("map files:\n");
  WIN32_FIND_DATAW found{};
  std::string folder = Text(mapPath);
  HANDLE find = FindFirstFileW(platform::Utf8ToUtf16(folder + "*.rmf").c_str(), &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::string name = platform::Utf16ToUtf8(found.cFileName);
      std::printf("  %s\n", name.c_str());
      PrintMapHeader(folder + name);
    } while (FindNextFileW(find, &found));
    FindClose(find);
  }
  SysFreeString(mapPath);

  CMap* engine = OpenLinkedEngine();
  if (engine == nullptr) {
    std::printf("the linked map engine could not be made\n");
  } else {
    ShowExpandedNames(map, engine->m_Rdr.get());
    ShowAddresses(*engine);
    engine->CleanUp();
    engine->Release();
  }

  map->CleanUp();

  map->Release();
  std::printf("live COM objects after release: %ld\n", com::LiveObjectCount());
  CoUninitialize();
  return noMaps || com::LiveObjectCount() != 0 ? 1 : 0;
}
