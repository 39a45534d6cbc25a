// PLACEHOLDER until the addresses from feature ids land.
#include "mapengine/object/CMap.h"
#include "mapengine/object/ResultObjects.h"

void CMap::GetAddressInternal(CLocationDetails&, double, double, const RmfFeatureRef&, std::int32_t) {}
