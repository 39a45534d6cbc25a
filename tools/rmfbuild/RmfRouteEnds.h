// The ends of a route between two positions, for the tests and benchmarks
// that route with the map-format library directly: the directed references a
// route from (origin) or to (destination) a point may start or end on,
// gathered as the map engine gathers them for a route request — the streets
// near the point, and on each the references that travel from or to the point
// may use under the reader's installed routing profile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "mapengine/format/RmfTypes.h"
#include "mapengine/format/base/TiTypes.h"

namespace rmfbuild {

// The map engine takes at most this many references per route end.
inline constexpr std::size_t kRouteEndRefs = 15;
// Streets this near the point are taken (map units, about 30 m).
inline constexpr std::int32_t kRouteEndRadius = 200;

// The references of one route end at `at` (map units); empty when no street
// that the profile lets be travelled lies within the radius.
std::vector<RmfFeatureRef> RouteEndRefs(RmfReader* reader, TiPoint at, bool origin,
                                        std::int32_t radius = kRouteEndRadius);

}  // namespace rmfbuild
