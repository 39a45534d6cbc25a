// A grid's map (RouteGrid) in a reader with a routing profile and a route
// object on it, for the route search tests: routes from the start of one
// block to the end of another and reads the result back as blocks.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "mapengine/format/features/RmfProfile.h"
#include "mapengine/format/route/RmfRoute.h"
#include "mapengine/format/route/RmfRouteSearch.h"
#include "mapengine/object/RouteFilters.h"
#include "tests/mapengine/format/route/ReferenceRouter.h"
#include "tests/mapengine/format/route/RouteGrid.h"
#include "tools/rmfbuild/RmfMemoryReader.h"

namespace routetest {

// A grid's map in a reader with a routing profile: by default the street
// filters of the travel mode.
class GridRouting {
 public:
  GridRouting(const RouteGrid& grid, TravelMode mode)
      : GridRouting(grid, mode == TravelMode::kWalking ? &WalkingFeatureFilter : &DrivingFeatureFilter,
                    mode == TravelMode::kWalking ? &WalkingConnectionFilter : &DrivingConnectionFilter, nullptr) {}
  // The same with a profile of the test's own.
  GridRouting(const RouteGrid& grid, RmfProfileFeatureFn feature, RmfProfileConnectionFn connection, void* context)
      : grid_(grid) {
    if (maps_.AddMap(grid.build().description) < 1) return;
    if (RmfProfileSetCallbacks(maps_.reader(), feature, connection, context, kRmfProfileEngineLimit) != 1) return;
    if (RmfRouteCreate(&route_, maps_.reader()) != 1) route_ = nullptr;
  }
  ~GridRouting() {
    if (route_ != nullptr) (void)RmfRouteDestroy(route_);
  }
  GridRouting(const GridRouting&) = delete;
  GridRouting& operator=(const GridRouting&) = delete;

  RmfRoute* route() const { return route_; }
  RmfReader* reader() const { return maps_.reader(); }

  // Routes from the start of one block to the end of another.
  std::int32_t Find(DirectedSegment origin, DirectedSegment destination) const {
    const std::vector<RmfFeatureRef> o = grid_.Refs(origin);
    const std::vector<RmfFeatureRef> d = grid_.Refs(destination);
    return RmfRouteFind(route_, &o.front(), 1, &d.back(), 1);
  }

  // The blocks of the last result, or empty with the reason.
  std::optional<std::vector<DirectedSegment>> Blocks(std::string* why) const {
    std::int32_t count = 0;
    RmfFeatureRef* refs = nullptr;
    if (RmfRouteRetrieve(route_, &count, &refs) != 1) {
      *why = "no result";
      return std::nullopt;
    }
    return grid_.Blocks(refs, static_cast<std::size_t>(count), why);
  }

 private:
  const RouteGrid& grid_;
  rmfbuild::MemoryReader maps_;
  RmfRoute* route_ = nullptr;
};

}  // namespace routetest
