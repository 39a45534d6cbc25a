// Ramp labels and the intersection test. A ramp or a junction connector is
// announced by where it leads: the exit number, road and destinations written
// on the map's signs (exit attributes, code pair 7-B, values "0SB" at the
// junction and "0SE" on the ramp), or, failing those, the street the ramp
// reaches, found by walking the ramp network through a temporary route of the
// map-format library. The intersection test tells a real intersection from a
// place where one road only continues (a street broken into two features, the
// two carriageways of one road, a road and its own exit ramps).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "mapengine/format/RmfTypes.h"
#include "mapengine/format/base/TiTypes.h"
#include "mapengine/format/route/RmfFeatConnect.h"
#include "mapengine/format/route/RmfRoute.h"

class CMap;

// What one sign says: exit number, road name and the destinations (the first
// one, then each further one appended through language string 23142).
struct RampExitInfo {
  std::u16string exitNumber;
  std::u16string roadName;
  std::u16string toward;
};

// Sign key (first token of a sign's name) to what that sign says; made new
// for each intersection.
using RampExitInfoMap = std::map<std::u16string, RampExitInfo>;

// A route made for one walk over the road network (a ramp walk, a step of
// virtual exploration), destroyed on every way out. get() is null when the
// library could not make one.
class TemporaryRoute {
 public:
  explicit TemporaryRoute(RmfReader* reader) {
    if (reader == nullptr || RmfRouteCreate(&route_, reader) < 1) route_ = nullptr;
  }
  ~TemporaryRoute() {
    if (route_ != nullptr) static_cast<void>(RmfRouteDestroy(route_));
  }
  TemporaryRoute(const TemporaryRoute&) = delete;
  TemporaryRoute& operator=(const TemporaryRoute&) = delete;
  RmfRoute* get() const { return route_; }

 private:
  RmfRoute* route_ = nullptr;
};

// Roads a walk asks for at one end of a feature.
inline constexpr std::int32_t kMaxWalkConnections = 25;

// The roads at the far end of `feature`, each leaving that junction and
// reaching to the next one, written to `records`: their count (records holds
// at most kMaxWalkConnections) or the library's failure (below 1, records
// empty).
std::int32_t FeatureConnections(RmfRoute* route, const RmfFeatureRef& feature, std::vector<RmfJunction>& records);

// Steps a ramp walk takes at most before it gives up with the ramp name.
inline constexpr int kRampWalkMaxSteps = 120;
// Depth beyond which FindConnectedStreetName gives up with the ramp name.
inline constexpr int kConnectedNameMaxDepth = 5;

// Language strings of the ramp labels.
inline constexpr unsigned kStringRamp = 20581;            // "Ramp": a ramp, or a street not found
inline constexpr unsigned kStringExitNumber = 20748;      // exit number, one %s
inline constexpr unsigned kStringToward = 20749;          // first destination, one %s
inline constexpr unsigned kStringRampFromTo = 23111;      // names at both ends, two %s
inline constexpr unsigned kStringRampOnto = 23112;        // one %s
inline constexpr unsigned kStringRampFrom = 23113;        // one %s
inline constexpr unsigned kStringConnectorTo = 23114;     // one %s
inline constexpr unsigned kStringRampFromStreet = 23124;  // one %s
inline constexpr unsigned kStringRampToStreet = 23141;    // one %s
inline constexpr unsigned kStringFurtherToward = 23142;   // each further destination, one %s
inline constexpr unsigned kStringRampForRoad = 23143;     // road name on the signs, one %s

// Reads the junction signs ("0SB" exit attributes) of the features into
// `exits` when any of them is a ramp. Returns 1 when a ramp was among them
// and the map was filled, 0 otherwise.
int UpdateRampExitInfo(CMap& map, RampExitInfoMap& exits, const std::vector<RmfFeatureRef>& features);

// The name of a street met at `point`, looking past features other than
// `feature` to their ends up to kConnectedNameMaxDepth deep; language string
// 20581 when none is found.
std::u16string FindConnectedStreetName(CMap& map, TiPoint point, const RmfFeatureRef& feature, int depth);

// Whether the features at `point` (reached from `previous`) make an
// intersection for a walk along a street: one feature (a dead end) does; two
// do when their names differ; three or more when at least two of the others
// carry the current feature's guide sign and are streets.
bool IsExploreIntersection(CMap& map, const std::vector<RmfFeatureRef>& features, TiPoint previous, TiPoint point);

// True when the shorter text does not occur in the longer one.
bool AreNamesDifferent(std::u16string_view a, std::u16string_view b);
