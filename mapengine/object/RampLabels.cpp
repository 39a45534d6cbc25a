// PLACEHOLDER until the ramp walk lands: every ramp is "Ramp", no point is an
// intersection.
#include "mapengine/object/RampLabels.h"

#include "mapengine/object/CMap.h"

int UpdateRampExitInfo(CMap&, RampExitInfoMap&, const std::vector<RmfFeatureRef>&) { return 0; }
std::u16string FindConnectedStreetName(CMap& map, TiPoint, const RmfFeatureRef&, int) {
  return map.LoadResourceString(kStringRamp);
}
bool IsExploreIntersection(CMap&, const std::vector<RmfFeatureRef>&, TiPoint, TiPoint) { return false; }
bool AreNamesDifferent(std::u16string_view, std::u16string_view) { return false; }
std::u16string CMap::GetRampConnections(const RampExitInfoMap&, TiPoint, const RmfFeatureRef&, bool) {
  return LoadResourceString(kStringRamp);
}
bool CMap::IsAtIntersection(TiPoint, bool, TiPoint, bool) { return false; }
