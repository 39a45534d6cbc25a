// The cross-street list an IMap operation hands out, read back, and one
// question to IMap::FindNextCrossStreets as the navigation engine asks it:
// shared by the cross-street and exploration tests and the benchmark.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mapengine/format/base/TiTypes.h"
#include "mapengine/object/CartovelLib.h"
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

// Reads the cross streets of the list an IMap operation handed out in `out`
// (the VARIANT is left as it is).
inline void ReadCrossStreetList(const VARIANT& out, HeardCrossStreets& heard) {
  if (out.vt == (VT_ARRAY | VT_VARIANT) && out.parray != nullptr) {
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
