// The steps of a route read back from the array of WayPoints a route request
// hands out: shared by the route tests and the route benchmark.
#pragma once

#include <string>
#include <vector>

#include "typelib/CartovelLib.h"
#include "mapengine/object/Utilities.h"
#include "platform/com/oleauto.h"
#include "platform/os/text.h"

struct ToldStep {
  std::string name;
  double lat = 0;  // degrees
  double lon = 0;
  double metres = 0;  // from the step before
  int forward = 0;    // orientations, degrees
  int reverse = 0;
  bool turn = false;
  int featureIndex = -1;  // of the route's features the step lies on
};

// The steps in order; empty unless `steps` holds an array of VARIANTs.
inline std::vector<ToldStep> ReadRouteSteps(const VARIANT& steps) {
  std::vector<ToldStep> out;
  if (steps.vt != (VT_ARRAY | VT_VARIANT) || steps.parray == nullptr) return out;
  LONG lower = 0, upper = -1;
  SafeArrayGetLBound(steps.parray, 1, &lower);
  SafeArrayGetUBound(steps.parray, 1, &upper);
  for (LONG i = lower; i <= upper; ++i) {
    VARIANT item;
    VariantInit(&item);
    IWayPoint* point = nullptr;
    if (SafeArrayGetElement(steps.parray, &i, &item) == S_OK && item.vt == VT_DISPATCH && item.pdispVal != nullptr &&
        SUCCEEDED(item.pdispVal->QueryInterface(IID_IWayPoint, reinterpret_cast<void**>(&point)))) {
      ToldStep s;
      BSTR name = nullptr;
      SHORT forward = 0, reverse = 0, turn = 0, feature = -1;
      point->GetName(&name);
      point->get_latitude(&s.lat);
      point->get_longitude(&s.lon);
      point->GetDistance(&s.metres);
      point->GetStreetOrientationDegreesForward(&forward);
      point->GetStreetOrientationDegreesReverse(&reverse);
      point->IsTurningPoint(&turn);
      point->GetFeatureIndex(&feature);
      s.name = platform::Utf16ToUtf8(BstrView(name));
      SysFreeString(name);
      s.forward = forward;
      s.reverse = reverse;
      s.turn = turn != 0;
      s.featureIndex = feature;
      out.push_back(std::move(s));
      point->Release();
    }
    VariantClear(&item);
  }
  return out;
}
