// PLACEHOLDER until the route steps land.
#include "mapengine/object/RouteSteps.h"

#include "mapengine/object/CMap.h"

struct RouteStepBuilder::State {};
RouteStepBuilder::RouteStepBuilder(CMap&, double, double, double, double, int, const RmfFeatureRef*, std::int32_t)
    : state_(std::make_unique<State>()) {}
RouteStepBuilder::~RouteStepBuilder() = default;
bool RouteStepBuilder::AddFeatureSteps(std::int32_t, std::vector<WayPointOwner>&) { return true; }
int IsStreetChange(CMap&, std::u16string_view a, std::u16string_view b, std::int32_t, std::int32_t, bool, bool) {
  return a == b ? 0 : 1;
}
HRESULT CMap::GetDistanceToWayPointFollowingRoad(SHORT, SHORT, double, double, SHORT, double, double, double*) {
  return E_NOTIMPL;
}
