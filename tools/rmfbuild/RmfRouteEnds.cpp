#include "tools/rmfbuild/RmfRouteEnds.h"

#include <algorithm>

#include "mapengine/format/features/RmfFeaturesNear.h"
#include "mapengine/format/features/RmfProfile.h"

namespace rmfbuild {

std::vector<RmfFeatureRef> RouteEndRefs(RmfReader* reader, TiPoint at, bool origin, std::int32_t radius) {
  constexpr auto kLimit = static_cast<std::int32_t>(kRouteEndRefs);
  RmfFeatureRef near[kRouteEndRefs];
  const std::int32_t found = RmfFeaturesNear(reader, at.x, at.y, radius, -1, -1, near, kLimit, nullptr);
  std::vector<RmfFeatureRef> out;
  for (std::int32_t i = 0; i < std::min(found, kLimit); ++i) {
    // Each street gives up to two references; stop while both still fit.
    if (out.size() + 2 > kRouteEndRefs) break;
    RmfFeatureRef travel[2];
    const std::int32_t n = RmfFeatureTravelRefs(reader, origin ? 1 : 0, 0, near[i], travel);
    for (std::int32_t k = 0; k < n; ++k) out.push_back(travel[k]);
  }
  return out;
}

}  // namespace rmfbuild
