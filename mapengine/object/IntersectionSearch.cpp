// PLACEHOLDER until the intersection search lands.
#include "mapengine/object/CMap.h"
#include "mapengine/object/CrossStreets.h"

TiPoint FindBestIntersection(CMap&, TiPoint, std::u16string_view, const RmfFeatureRef&, std::int32_t*, bool, bool) {
  return TiPoint{0x7FFFFFFF, 0x7FFFFFFF};
}
TiPoint CMap::GetNextIntersectionPoint(double, double, std::int32_t) { return TiPoint{0x7FFFFFFF, 0x7FFFFFFF}; }
std::int32_t CMap::FindNearestIntersection(double, double, std::int32_t, int) { return -1; }
std::u16string CMap::GetIntersectionNameText(double, double, std::int32_t, bool, bool) { return {}; }
std::u16string CMap::GetIntersectionDistanceText(double, double, std::int32_t) { return {}; }
std::u16string CMap::GetIntersectionHeadingText(double, double, std::int32_t) { return {}; }
