#include "bench/route/MapEngineRouter.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <vector>

#include "mapengine/format/base/TiUnits.h"
#include "mapengine/format/features/RmfProfile.h"
#include "mapengine/format/features/RmfQuery.h"
#include "mapengine/format/route/RmfRoute.h"
#include "mapengine/format/route/RmfRouteSearch.h"
#include "mapengine/format/store/RmfReader.h"
#include "mapengine/object/RouteFilters.h"
#include "tools/rmfbuild/RmfRouteEnds.h"

namespace routebench {
namespace {

// Map units to metres: 2^28 units to the 40,000 km the library's distances
// take for the earth's circumference.
constexpr double kMetresPerUnit = 40000000.0 / 268435456.0;
// The reader's arena: the map engine's default of 2,000 KB is meant for a
// phone; the benchmark gives it room for the town's tiles.
constexpr std::int32_t kArenaBytes = 16 << 20;

TiPoint Units(LatLon p) {
  return TiPoint{static_cast<std::int32_t>(std::lround(p.lon * kTiUnitsPerDegree)),
                 static_cast<std::int32_t>(std::lround(p.lat * kTiUnitsPerDegree))};
}

class MapEngineRouter : public BenchRouter {
 public:
  explicit MapEngineRouter(RmfReader* reader) : reader_(reader) {}
  ~MapEngineRouter() override {
    RmfReaderClose(reader_);
  }
  MapEngineRouter(const MapEngineRouter&) = delete;
  MapEngineRouter& operator=(const MapEngineRouter&) = delete;

  const char* Name() const override { return "map engine"; }

  BenchRoute Route(LatLon from, LatLon to, TravelMode mode) override {
    BenchRoute out;
    const auto start = std::chrono::steady_clock::now();
    const bool walking = mode == TravelMode::kWalking;
    // Installed per request, as the map engine's route requests do.
    if (RmfProfileSetCallbacks(reader_, walking ? &WalkingFeatureFilter : &DrivingFeatureFilter,
                               walking ? &WalkingConnectionFilter : &DrivingConnectionFilter,
                               walking ? nullptr : &options_, kRmfProfileEngineLimit) != 1) {
      return out;
    }
    const std::vector<RmfFeatureRef> origins = rmfbuild::RouteEndRefs(reader_, Units(from), true);
    const std::vector<RmfFeatureRef> destinations = rmfbuild::RouteEndRefs(reader_, Units(to), false);
    RmfRoute* route = nullptr;
    std::int32_t found = 0;
    if (!origins.empty() && !destinations.empty() && RmfRouteCreate(&route, reader_) == 1) {
      found = RmfRouteFind(route, origins.data(), static_cast<std::int32_t>(origins.size()), destinations.data(),
                           static_cast<std::int32_t>(destinations.size()));
    }
    out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (route == nullptr) return out;
    if (found > 0) {
      std::int32_t count = 0;
      RmfFeatureRef* refs = nullptr;
      if (RmfRouteRetrieve(route, &count, &refs) == 1) {
        const std::int32_t units = RmfRouteRefsLength(reader_, refs, count);
        if (units >= 0) {
          out.ok = true;
          out.metres = units * kMetresPerUnit;
        }
      }
    }
    out.expanded = RmfRouteExpandedNodes(route);
    (void)RmfRouteDestroy(route);
    return out;
  }

 private:
  RmfReader* reader_;
  // The driving preferences of a request that asks for nothing special:
  // normal freeways, turns, roundabouts and toll roads, the fastest route.
  RouteRequestOptions options_{};
};

}  // namespace

std::unique_ptr<BenchRouter> OpenMapEngineRouter(const std::string& streetMap, std::string* why) {
  RmfReader* reader = RmfReaderCreate();
  if (reader == nullptr) {
    *why = "no memory for a reader";
    return nullptr;
  }
  const std::int32_t opened = RmfReaderOpen(reader, streetMap.c_str(), kArenaBytes);
  if (opened < 1) {
    RmfReaderClose(reader);
    *why = "the street map does not open (" + std::to_string(opened) + ")";
    return nullptr;
  }
  // The near-point search takes every line class as a street: footways and
  // paths are written below the streets.
  RmfQuerySetClassFilter(reader, 'R', "1234567");
  return std::make_unique<MapEngineRouter>(reader);
}

}  // namespace routebench
