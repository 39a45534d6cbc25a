#include "bench/route/MapEngineRequest.h"

#include <chrono>
#include <vector>

#include "bench/MapEngineOnDevice.h"
#include "mapengine/object/CMap.h"
#include "typelib/CartovelLib.h"
#include "platform/com/oleauto.h"
#include "tests/mapengine/object/route_step_list.h"

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
    if (hr == S_OK) {
      const std::vector<ToldStep> told = ReadRouteSteps(steps);
      for (const ToldStep& step : told) out.metres += step.metres;
      out.ok = !told.empty();
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
