// The steps of a route: where along the route's features a spoken step
// begins (a change of street, the two ends, a long stretch without a change)
// and the WayPoint that carries it (position, street names, orientations,
// lanes, turning point, speed, distance from the previous step, feature
// index); the street test that decides a change; and the street references
// at the two ends of a route request.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mapengine/format/RmfTypes.h"
#include "mapengine/object/ResultObjects.h"
#include "platform/com/owners.h"

class CMap;

using WayPointOwner = std::unique_ptr<CWayPoint, com::Releaser>;

// Roles of FindRouteEndpointRefs.
inline constexpr int kRouteEndDestination = 0;
inline constexpr int kRouteEndOrigin = 1;
// References a request gathers at each end at most.
inline constexpr int kRouteEndRefsMax = 15;

// The travel references of the streets near a position (degrees) for one end
// of a request: the nearest streets without a heading (-1), else those in the
// heading's orientation. Returns their number (0 when no street is near).
std::int32_t FindRouteEndpointRefs(CMap& map, double longitude, double latitude, int role, RmfFeatureRef* out,
                                   int max, std::int32_t heading);

// 0 when the two street names denote the same street, 1 when they differ
// (alternatives after commas, a street-type suffix dropped, route numbers
// with `numberMatch`; the same name at angles more than 45 degrees apart is a
// change unless `ignoreAngle`).
int IsStreetChange(CMap& map, std::u16string_view a, std::u16string_view b, std::int32_t angleA,
                   std::int32_t angleB, bool ignoreAngle, bool numberMatch);

// Where one step lies and what CMap::BuildRouteWayPoint needs to fill it.
struct RouteStepPlace {
  double latitude = 0;  // the step's point, degrees
  double longitude = 0;
  // The route points after and before the step's point (none at the two ends
  // of the route), for the forward and reverse orientations.
  bool hasNext = false;
  double nextLatitude = 0;
  double nextLongitude = 0;
  bool hasPrevious = false;
  double previousLatitude = 0;
  double previousLongitude = 0;
  RmfFeatureRef feature{};          // the route feature the step lies on
  bool hasPreviousFeature = false;  // the route feature before it
  RmfFeatureRef previousFeature{};
  bool turnTest = false;       // decide the turning point (else 0)
  bool nameFromPoint = false;  // name the step by the street found at the point
  // For a step onto a ramp: the name of the street the route reaches after
  // the ramp, used when the ramp's own signs and walk tell nothing.
  std::u16string rampTarget;
  double distance = 0;  // metres from the previous step
  std::int32_t featureIndex = -1;
};

// Builds the steps of a route feature by feature, in route order.
class RouteStepBuilder {
 public:
  // Positions in degrees; `features` (count of them) is the route in order
  // and stays alive while the builder is used.
  RouteStepBuilder(CMap& map, double originLatitude, double originLongitude, double destinationLatitude,
                   double destinationLongitude, int waypointMode, const RmfFeatureRef* features,
                   std::int32_t count);
  ~RouteStepBuilder();
  RouteStepBuilder(const RouteStepBuilder&) = delete;
  RouteStepBuilder& operator=(const RouteStepBuilder&) = delete;

  // Appends to `out` the steps that feature `index` makes (call for 0, 1, ...
  // count - 1 in turn). False when the route cannot be told: a feature, or
  // the feature after the first, with fewer than 2 points; the failure's log
  // line has been written then.
  bool AddFeatureSteps(std::int32_t index, std::vector<WayPointOwner>& out);

 private:
  struct State;
  std::unique_ptr<State> state_;
};
