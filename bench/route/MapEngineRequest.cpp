#include "bench/route/MapEngineRequest.h"

#include <chrono>

#include "bench/MapEngineOnDevice.h"
#include "mapengine/object/CMap.h"
#include "mapengine/object/CartovelLib.h"
#include "platform/com/oleauto.h"

namespace routebench {
namespace {

class MapEngineRequest final : public BenchRouter {
 public:
  MapEngineRequest(const std::string& streetMap, const std::string& languageLibrary)
      : device_(streetMap, languageLibrary) {}

  const std::string& error() const { return device_.error(); }
  bool ok() const { return device_.map() != nullptr; }

  const char* Name() const override { return "engine request"; }

  BenchRoute Route(LatLon from, LatLon to, TravelMode mode) override {
    IMap& map = *device_.map();
    BenchRoute out;
    BSTR parameters = SysAllocString(u"");
    VARIANT steps;
    VariantInit(&steps);
    const auto start = std::chrono::steady_clock::now();
    const HRESULT hr =
        mode == TravelMode::kWalking
            ? map.FindWalkingRoute(from.lat, from.lon, to.lat, to.lon, &parameters, CARTOVELRouteTurnAutomatic,
                                   CARTOVELRouteRoundaboutNormal, &steps)
            : map.FindDrivingRoute(from.lat, from.lon, to.lat, to.lon, &parameters,
                                   CARTOVELRouteVehicleModeFastest, CARTOVELRouteTurnAutomatic,
                                   CARTOVELRouteFreewayNormal, CARTOVELRouteRoundaboutNormal,
                                   CARTOVELRouteTollRoadNormal, &steps);
    out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    SysFreeString(parameters);
    if (hr == S_OK && steps.vt == (VT_ARRAY | VT_VARIANT) && steps.parray != nullptr) {
      LONG lower = 0, upper = -1;
      SafeArrayGetLBound(steps.parray, 1, &lower);
      SafeArrayGetUBound(steps.parray, 1, &upper);
      for (LONG i = lower; i <= upper; ++i) {
        VARIANT item;
        VariantInit(&item);
        IWayPoint* step = nullptr;
        if (SafeArrayGetElement(steps.parray, &i, &item) == S_OK && item.vt == VT_DISPATCH &&
            item.pdispVal != nullptr &&
            SUCCEEDED(item.pdispVal->QueryInterface(IID_IWayPoint, reinterpret_cast<void**>(&step)))) {
          double metres = 0;
          step->GetDistance(&metres);
          out.metres += metres;
          step->Release();
        }
        VariantClear(&item);
      }
      out.ok = upper >= lower;
    }
    VariantClear(&steps);
    return out;
  }

 private:
  MapEngineOnDevice device_;
};

}  // namespace

std::unique_ptr<BenchRouter> OpenMapEngineRequest(const std::string& streetMap, const std::string& languageLibrary,
                                                  std::string* why) {
  auto router = std::make_unique<MapEngineRequest>(streetMap, languageLibrary);
  if (!router->ok()) {
    *why = router->error();
    return nullptr;
  }
  return router;
}

}  // namespace routebench
