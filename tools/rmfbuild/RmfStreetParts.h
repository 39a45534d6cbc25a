// The street parts of a map within a rectangle, for the tests and tools that
// read a map with the map-format library directly: every line feature of the
// street classes (4 to 7) at every level, with its points and its own name
// text (the detail text the converter writes: the name, then route-number
// pieces).
#pragma once

#include <string>
#include <vector>

#include "mapengine/format/RmfTypes.h"
#include "mapengine/format/base/TiTypes.h"

namespace rmfbuild {

struct StreetPart {
  RmfFeatureRef reference;
  std::vector<TiPoint> points;
  std::string nameText;
};

// The whole world in map units.
inline constexpr TiRect kWholeWorld{-134217728, -67108864, 134217727, 67108863};

// Street parts with at least two points and a name text, in query order.
std::vector<StreetPart> QueryStreetParts(RmfReader* reader, TiRect box = kWholeWorld);

}  // namespace rmfbuild
