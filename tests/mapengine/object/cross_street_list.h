// Questions to IMap::FindNextCrossStreets and to the exploration operations,
// as the navigation engine asks them, and the cross streets read back from
// the array they hand out: shared by the cross-street and exploration tests
// and the benchmark.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mapengine/format/base/TiTypes.h"
#include "typelib/CartovelLib.h"
#include "mapengine/object/Geometry.h"
#include "mapengine/object/Utilities.h"
#include "platform/com/oleauto.h"
#include "platform/os/text.h"

struct HeardCrossStreet {
  std::string name;
  TiPoint at{};  // its location, back in map units
  int orientation = -1;
  int side = 0;
  bool mustCross = false;
  int connectType = 0;
};

struct HeardCrossStreets {
  HRESULT hr = E_FAIL;
  int heading = -1;           // as the call handed it back
  bool wellFormed = false;    // an array of VARIANTs from index 0, every entry a cross street
  std::vector<HeardCrossStreet> streets;
};

// The cross streets of a list IMap handed out in `out`, appended to `heard`.
inline void ReadCrossStreetList(const VARIANT& out, HeardCrossStreets& heard) {
  if (out.vt != (VT_ARRAY | VT_VARIANT) || out.parray == nullptr) return;
  LONG lower = 0, upper = -1;
  SafeArrayGetLBound(out.parray, 1, &lower);
  SafeArrayGetUBound(out.parray, 1, &upper);
  heard.wellFormed = lower == 0;
  for (LONG i = lower; i <= upper; ++i) {
    VARIANT item;
    VariantInit(&item);
    ICrossStreet* cross = nullptr;
    if (SafeArrayGetElement(out.parray, &i, &item) == S_OK && item.vt == VT_DISPATCH && item.pdispVal != nullptr &&
        SUCCEEDED(item.pdispVal->QueryInterface(IID_ICrossStreet, reinterpret_cast<void**>(&cross)))) {
      HeardCrossStreet c;
      BSTR text = nullptr;
      double lat = 0, lon = 0;
      INT orientation = -1, connect = 0;
      CARTOVELSideOfStreet side{};
      VARIANT_BOOL must = 0;
      cross->GetName(&text);
      cross->GetLatitude(&lat);
      cross->GetLongitude(&lon);
      cross->GetOrientation(&orientation);
      cross->GetConnectType(&connect);
      cross->GetSideOfStreet(&side);
      cross->MustCrossStreet(&must);
      c.name = platform::Utf16ToUtf8(BstrView(text));
      SysFreeString(text);
      c.at = DegreesToMapUnits(lat, lon);
      c.orientation = orientation;
      c.side = side;
      c.mustCross = must != 0;
      c.connectType = connect;
      heard.streets.push_back(std::move(c));
      cross->Release();
    } else {
      heard.wellFormed = false;
    }
    VariantClear(&item);
  }
}

// Asks at `at` (map units) on `street` with `heading` and the request text.
inline HeardCrossStreets AskNextCrossStreets(IMap& map, TiPoint at, const std::string& street, int heading,
                                             const char16_t* request = u"") {
  const DegreePoint p = MapUnitsToDegrees(at.x, at.y);
  BSTR name = SysAllocString(platform::Utf8ToUtf16(street).c_str());
  BSTR parameters = SysAllocString(request);
  VARIANT out;
  VariantInit(&out);
  HeardCrossStreets heard;
  heard.heading = heading;
  heard.hr = map.FindNextCrossStreets(p.latitude, p.longitude, &name, &parameters, &heard.heading, &out);
  SysFreeString(name);
  SysFreeString(parameters);
  ReadCrossStreetList(out, heard);
  VariantClear(&out);
  return heard;
}

// The exploration operations of IMap, asked the same way: at a position in
// map units with the heading, the side of the street and the request text;
// the heading handed back and the list read back.
enum class ExploreStep { kMoveToNext, kCrossThisStreet };

inline HeardCrossStreets AskExploreStep(IMap& map, ExploreStep step, TiPoint at, int heading,
                                        CARTOVELSideOfStreet side, const char16_t* request = u"INTERSECTION EXPANDED") {
  const DegreePoint p = MapUnitsToDegrees(at.x, at.y);
  BSTR parameters = SysAllocString(request);
  VARIANT out;
  VariantInit(&out);
  SHORT turned = static_cast<SHORT>(heading);
  HeardCrossStreets heard;
  heard.hr = step == ExploreStep::kMoveToNext
                 ? map.MoveToNextCrossStreet(p.latitude, p.longitude, side, &parameters, &turned, &out)
                 : map.CrossThisStreet(p.latitude, p.longitude, side, &parameters, &turned, &out);
  heard.heading = turned;
  SysFreeString(parameters);
  ReadCrossStreetList(out, heard);
  VariantClear(&out);
  return heard;
}

inline HeardCrossStreets AskUpdateCrossStreets(IMap& map, TiPoint at, int heading, CARTOVELSideOfStreet side,
                                               bool nearSide, const char16_t* request = u"INTERSECTION EXPANDED") {
  const DegreePoint p = MapUnitsToDegrees(at.x, at.y);
  BSTR parameters = SysAllocString(request);
  VARIANT out;
  VariantInit(&out);
  HeardCrossStreets heard;
  heard.heading = heading;
  heard.hr = map.UpdateCrossStreets(p.latitude, p.longitude, static_cast<SHORT>(heading), side,
                                    nearSide ? VARIANT_TRUE : VARIANT_FALSE, &parameters, &out);
  SysFreeString(parameters);
  ReadCrossStreetList(out, heard);
  VariantClear(&out);
  return heard;
}

// The heading and cross streets at a start point on `street`, optionally at
// a house address.
inline HeardCrossStreets AskInitialHeading(IMap& map, TiPoint at, const std::string& street,
                                           const std::string& address,
                                           const char16_t* request = u"INTERSECTION EXPANDED") {
  const DegreePoint p = MapUnitsToDegrees(at.x, at.y);
  BSTR name = SysAllocString(platform::Utf8ToUtf16(street).c_str());
  BSTR number = SysAllocString(platform::Utf8ToUtf16(address).c_str());
  BSTR parameters = SysAllocString(request);
  VARIANT out;
  VariantInit(&out);
  SHORT heading = 0;
  HeardCrossStreets heard;
  heard.hr = map.FindInitialHeadingAndCrossStreets(p.latitude, p.longitude, name, number, &parameters, &out, &heading);
  heard.heading = heading;
  SysFreeString(name);
  SysFreeString(number);
  SysFreeString(parameters);
  ReadCrossStreetList(out, heard);
  VariantClear(&out);
  return heard;
}
