// PLACEHOLDER until the cross-street list lands.
#include "mapengine/object/CrossStreets.h"

#include "mapengine/object/CMap.h"

bool CrossStreetVector::Append(Entry entry) {
  if (count() >= capacity_) return false;
  entries_.push_back(std::move(entry));
  return true;
}
void CMap::AddCrossStreetToVector(const RampExitInfoMap&, const RmfFeatureRef&, TiPoint, TiPoint, INT,
                                  CARTOVELSideOfStreet, CrossStreetVector&, bool, bool) {}
std::int32_t NormalizeCrossStreets(CMap&, bool, std::int32_t heading, std::u16string_view, CrossStreetVector&) {
  return heading;
}
void AssignSidesAndCrossings(CrossStreetVector&, bool, std::int32_t, std::u16string_view) {}
