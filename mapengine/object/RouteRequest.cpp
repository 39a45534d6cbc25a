// PLACEHOLDER until the route requests land.
#include "mapengine/object/CMap.h"
#include "mapengine/object/RouteSteps.h"

std::int32_t FindRouteEndpointRefs(CMap&, double, double, int, RmfFeatureRef*, int, std::int32_t) { return 0; }
