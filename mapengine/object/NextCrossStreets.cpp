// PLACEHOLDER until the next-intersection assembly lands.
#include "mapengine/object/CMap.h"
#include "mapengine/object/CrossStreets.h"

std::int32_t BuildNextIntersectionCrossStreetsInternal(CMap&, TiPoint, std::int32_t heading, std::u16string_view,
                                                       CrossStreetVector&, int, bool, bool) {
  return heading;
}
std::int32_t CMap::FindNextCrossStreetsInternal(double, double, std::int32_t heading, std::u16string,
                                                std::u16string_view, CrossStreetVector&) {
  return heading;
}
