// The steps of a route: the street test, the WayPoint of one step, the step
// builder that walks the route's features, and the distance to a step along
// the last route.
#include "mapengine/object/RouteSteps.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "mapengine/format/features/RmfFeatureAttr.h"
#include "mapengine/object/CMap.h"
#include "mapengine/object/Geometry.h"
#include "mapengine/object/NearestFeature.h"
#include "mapengine/object/RampLabels.h"
#include "mapengine/object/StreetNames.h"
#include "platform/com/guard.h"
#include "platform/os/format.h"

namespace {

// Alternatives a street name is split into at most.
constexpr int kMaxNameAlternatives = 20;
// Angles further apart than this make the same name a change of street.
constexpr int kSameStreetTolerance = 45;
// An origin or a destination this near the route (metres, 50 feet) is taken
// as lying on it.
constexpr double kOnRouteMetres = 15.24;
// A step is made after this many metres without one.
constexpr double kLongestStretchMetres = 30000.0;
constexpr double kMetresPerFoot = 0.3048;
// Streets looked at for the lane count of a step.
constexpr std::int32_t kLaneStreets = 15;
constexpr int kAttributeLanes = 5;
// Language string: a ramp named by the street it leads to, one %s.
constexpr unsigned kStringRampToRouteStreet = 23115;
// The waypoint mode that compares street names between route features.
constexpr int kWaypointModeNames = 1;
// Beyond this many feet from the route the distance to a step is straight.
constexpr std::int32_t kFollowRoadFeet = 75;

struct RoutePoint {
  double latitude;
  double longitude;
};

bool SamePoint(const RoutePoint& a, const RoutePoint& b) {
  return AreDegreePointsEqual(a.latitude, a.longitude, b.latitude, b.longitude);
}

double Metres(const RoutePoint& a, const RoutePoint& b) {
  return DistanceMeters(a.longitude, a.latitude, b.longitude, b.latitude);
}

TiPoint ToMapUnits(const RoutePoint& p) { return DegreesToMapUnits(p.latitude, p.longitude); }

// The nearest point of the segment a - b to p.
RoutePoint Project(const RoutePoint& a, const RoutePoint& b, const RoutePoint& p) {
  const DegreePoint foot = ProjectOntoLine(DegreePoint{a.longitude, a.latitude}, DegreePoint{b.longitude, b.latitude},
                                           DegreePoint{p.longitude, p.latitude}, false);
  return RoutePoint{foot.latitude, foot.longitude};
}

// The points of a route feature in travel order; fewer than 2 when the
// library gives no line (the library's count, or its negative code, in `count`).
std::vector<RoutePoint> FeaturePoints(RmfReader* reader, const RmfFeatureRef& feature, std::int32_t* count) {
  double* degrees = nullptr;
  const std::int32_t n = reader != nullptr ? RmfFeaturePoints(reader, feature, &degrees) : -2;
  if (count != nullptr) *count = n;
  std::vector<RoutePoint> points;
  if (n < 1 || degrees == nullptr) return points;
  points.reserve(static_cast<std::size_t>(n));
  for (std::int32_t i = 0; i < n; ++i) points.push_back(RoutePoint{degrees[2 * i + 1], degrees[2 * i]});
  return points;
}

// The number written from the first digit of the text on; 0 without one.
std::int64_t NumberInName(std::u16string_view text) {
  std::size_t at = 0;
  while (at < text.size() && (text[at] < u'0' || text[at] > u'9')) ++at;
  std::int64_t number = 0;
  for (; at < text.size() && text[at] >= u'0' && text[at] <= u'9'; ++at) {
    number = std::min<std::int64_t>(number * 10 + (text[at] - u'0'), std::numeric_limits<std::int32_t>::max());
  }
  return number;
}

// The alternatives of a street name, each without a two-letter street type
// at its end (the words of word table 5: "st", "rd", ...).
std::vector<std::u16string> NameAlternatives(const CMap& map, std::u16string_view name) {
  std::vector<std::u16string> alternatives;
  CMap::SplitText(name, u',', kMaxNameAlternatives - 1, &alternatives);
  const CKeyValueTable* suffixes = map.WordTable(5);
  for (std::u16string& alternative : alternatives) {
    if (suffixes == nullptr || alternative.size() <= 3) continue;
    const std::u16string_view last = std::u16string_view(alternative).substr(alternative.size() - 2);
    if (!suffixes->Contains(last)) continue;
    alternative.resize(alternative.size() - 2);
    if (!alternative.empty() && alternative.back() == u' ') alternative.pop_back();
  }
  return alternatives;
}

// The speed of a step: the speed class of its feature in miles per hour
// bands (d for 10 d .. 10 d + 9 mph). A map writes either such a digit or a
// letter 'A' + k for the band 10 k .. 10 k + 9 km/h; a letter is told as the
// mph band its middle, 5 + 10 k km/h, falls in. Anything else is 0.
SHORT RouteStepSpeed(std::u16string_view speedClass) {
  if (speedClass.size() != 1) return 0;
  const char16_t c = speedClass[0];
  if (c >= u'0' && c <= u'9') return static_cast<SHORT>(c - u'0');
  if (c < u'A' || c > u'P') return 0;
  const double mph = (5.0 + 10.0 * (c - u'A')) * 0.621371192;
  return static_cast<SHORT>(std::clamp(std::floor(mph / 10.0), 0.0, 9.0));
}

// Whole degrees 0..359 of a bearing that may come out of a sum.
std::int32_t Compass(std::int32_t degrees) { return ((degrees % 360) + 360) % 360; }

}  // namespace

int IsStreetChange(CMap& map, std::u16string_view a, std::u16string_view b, std::int32_t angleA, std::int32_t angleB,
                   bool ignoreAngle, bool numberMatch) {
  if (a == b) return 0;
  const std::vector<std::u16string> namesA = NameAlternatives(map, a);
  const std::vector<std::u16string> namesB = NameAlternatives(map, b);
  bool match = false;
  for (const std::u16string& x : namesA) {
    for (const std::u16string& y : namesB) {
      if (x == y) {
        match = true;
      } else if (numberMatch) {
        const std::int64_t n = NumberInName(x);
        match = n >= 1 && n == NumberInName(y);
      }
      if (match) break;
    }
    if (match) break;
  }
  if (!match) return 1;
  if (!ignoreAngle && !AreHeadingAndOrientationSimilar(angleA, angleB, kSameStreetTolerance)) return 1;
  return 0;
}

std::unique_ptr<CWayPoint, com::Releaser> CMap::BuildRouteWayPoint(const RouteStepPlace& place) {
  CWayPoint* raw = nullptr;
  if (FAILED(CWayPoint::CreateObject(&raw)) || raw == nullptr) return nullptr;
  WayPointOwner step(raw);
  step->m_dLatitude = place.latitude;
  step->m_dLongitude = place.longitude;

  // Orientations: to the next and from the previous route point; a missing
  // one is the other turned round.
  std::int32_t forward = -1;
  std::int32_t reverse = -1;
  if (place.hasNext &&
      !AreDegreePointsEqual(place.latitude, place.longitude, place.nextLatitude, place.nextLongitude)) {
    forward = BearingDegrees(place.latitude, place.longitude, place.nextLatitude, place.nextLongitude);
  }
  if (place.hasPrevious &&
      !AreDegreePointsEqual(place.latitude, place.longitude, place.previousLatitude, place.previousLongitude)) {
    reverse = BearingDegrees(place.latitude, place.longitude, place.previousLatitude, place.previousLongitude);
  }
  if (forward < 0 && reverse >= 0) forward = Compass(reverse + 180);
  if (reverse < 0 && forward >= 0) reverse = Compass(forward + 180);
  if (forward < 0) forward = 0;
  if (reverse < 0) reverse = 180;
  step->m_nStreetOrientationForward = static_cast<SHORT>(forward);
  step->m_nStreetOrientationReverse = static_cast<SHORT>(reverse);

  RmfReader* reader = m_Rdr.get();
  const TiPoint at = DegreesToMapUnits(place.latitude, place.longitude);
  const bool onRamp = IsFeatureARamp(reader, place.feature);
  const bool fromRamp = place.hasPreviousFeature && IsFeatureARamp(reader, place.previousFeature);

  // The street taken, and the street the step is named by.
  const std::u16string forwardName = GetStreetName(*this, place.feature, false, false, false);
  RmfFeatureRef named = place.feature;
  if (place.nameFromPoint) {
    const RmfFeatureRef found = GetNearestFeatureInHeading(at, forward, "567");
    if (!IsNullFeatureRef(found)) named = found;
  }
  std::u16string name;
  if (IsFeatureARamp(reader, named)) {
    // A ramp is named by where it leads: its signs or the street its walk
    // reaches, else the street the route takes after it.
    std::vector<RmfFeatureRef> near;
    GetNearbyCrossStreetFeatures(reader, at, 2, 64, kNearFeaturesLimit, &near, "4567");
    RampExitInfoMap exits;
    UpdateRampExitInfo(*this, exits, near);
    name = GetRampConnections(exits, at, named, true);
    const std::u16string rampWord = LoadResourceString(kStringRamp);
    if ((name.empty() || name == rampWord) && !place.rampTarget.empty()) {
      name = platform::FormatW(LoadResourceString(kStringRampToRouteStreet), {place.rampTarget});
    }
    if (name.empty()) name = rampWord;
  } else {
    name = GetStreetName(*this, named, false, false, false);
  }
  AssignBstr(step->m_bstrName, name);
  AssignBstr(step->m_bstrStreetNameForward, forwardName);

  // Lanes: the most any street ahead at the point has, at least one.
  std::int32_t lanes = 1;
  std::vector<RmfFeatureRef> ahead;
  GetFeaturesInHeading(at, 2, forward, kLaneStreets, &ahead, "567");
  for (const RmfFeatureRef& street : ahead) {
    const std::u16string text = GetFeatureAttribute(*this, street, kAttributeLanes, false);
    if (text.size() == 1 && text[0] >= u'0' && text[0] <= u'9') lanes = std::max<std::int32_t>(lanes, text[0] - u'0');
  }
  step->m_nNumberOfLanes = static_cast<SHORT>(lanes);

  SHORT turning = 0;
  if (place.turnTest) {
    if (onRamp || fromRamp) {
      turning = 1;
    } else if (place.hasPreviousFeature) {
      const std::u16string previousName = GetStreetName(*this, place.previousFeature, false, false, false);
      turning = static_cast<SHORT>(
          IsStreetChange(*this, previousName, forwardName, Compass(reverse + 180), forward, false, true));
    }
  }
  step->m_bTurningPoint = turning;

  step->m_nSpeed = RouteStepSpeed(GetFeatureAttribute(*this, place.feature, kAttributeSpeedClass, false));
  step->m_dDistance = place.distance;
  step->m_nFeatureIndex = static_cast<SHORT>(place.featureIndex);
  return step;
}

// ---- the step builder ----------------------------------------------------------------

struct RouteStepBuilder::State {
  CMap& map;
  RoutePoint origin;
  RoutePoint destination;
  int waypointMode;
  const RmfFeatureRef* features;
  std::int32_t count;
  double metres = 0;       // since the last step
  std::int32_t steps = 0;  // steps made so far
  bool started = false;    // a route point has been passed
  RoutePoint last{};       // the last route point passed
  bool hasBehind = false;  // the route point before it, when one differs
  RoutePoint behind{};

  // Passes the route point p: the distance grows, the trail moves on.
  void Pass(const RoutePoint& p) {
    if (!started) {
      started = true;
      last = p;
      return;
    }
    metres += Metres(last, p);
    if (!SamePoint(last, p)) {
      behind = last;
      hasBehind = true;
      last = p;
    }
  }

  // Makes the step described and starts counting afresh.
  void Add(std::vector<WayPointOwner>& out, RouteStepPlace place) {
    WayPointOwner step = map.BuildRouteWayPoint(place);
    metres = 0;
    ++steps;
    if (step) out.push_back(std::move(step));
  }

  RouteStepPlace Place(const RoutePoint& p, std::int32_t index, const RoutePoint* next) const {
    RouteStepPlace place;
    place.latitude = p.latitude;
    place.longitude = p.longitude;
    if (next != nullptr) {
      place.hasNext = true;
      place.nextLatitude = next->latitude;
      place.nextLongitude = next->longitude;
    }
    // The point before p: the last one passed, or the one before that when p
    // is the last one passed.
    const RoutePoint* previous = nullptr;
    if (started && !SamePoint(last, p)) {
      previous = &last;
    } else if (hasBehind) {
      previous = &behind;
    }
    if (previous != nullptr) {
      place.hasPrevious = true;
      place.previousLatitude = previous->latitude;
      place.previousLongitude = previous->longitude;
    }
    place.feature = features[index];
    if (index > 0) {
      place.hasPreviousFeature = true;
      place.previousFeature = features[index - 1];
    }
    place.distance = metres;
    place.featureIndex = index;
    return place;
  }

  // A step inside a feature is reached along that feature itself.
  void CameAlong(RouteStepPlace& place) const {
    place.hasPreviousFeature = true;
    place.previousFeature = place.feature;
  }

  // The name of the first street after feature `index` that is no ramp.
  std::u16string StreetAfterRamp(std::int32_t index) const {
    RmfReader* reader = map.m_Rdr.get();
    if (!IsFeatureARamp(reader, features[index])) return {};
    for (std::int32_t i = index + 1; i < count; ++i) {
      if (!IsFeatureARamp(reader, features[i])) return GetStreetName(map, features[i], false, false, false);
    }
    return {};
  }

  bool IsIntersection(const RoutePoint& p) {
    const TiPoint at = ToMapUnits(p);
    return map.IsAtIntersection(at, false, at, false);
  }

  // Whether the street changes from feature index - 1 to feature index.
  bool StreetChanges(std::int32_t index) {
    if (waypointMode != kWaypointModeNames) return true;
    RmfReader* reader = map.m_Rdr.get();
    const RmfFeatureRef& before = features[index - 1];
    const RmfFeatureRef& now = features[index];
    if (IsFeatureARamp(reader, before) || IsFeatureARamp(reader, now)) return true;
    if (IsStreetChange(map, GetStreetName(map, before, false, false, false),
                       GetStreetName(map, now, false, false, false), -1, -1, true, true) != 0) {
      return true;
    }
    return IsStreetChange(map, map.BuildStreetName(before, true, false), map.BuildStreetName(now, true, false), -1, -1,
                          true, true) != 0;
  }
};

RouteStepBuilder::RouteStepBuilder(CMap& map, double originLatitude, double originLongitude, double destinationLatitude,
                                   double destinationLongitude, int waypointMode, const RmfFeatureRef* features,
                                   std::int32_t count)
    : state_(std::make_unique<State>(State{map,
                                           {originLatitude, originLongitude},
                                           {destinationLatitude, destinationLongitude},
                                           waypointMode,
                                           features,
                                           features != nullptr ? std::max<std::int32_t>(count, 0) : 0})) {}

RouteStepBuilder::~RouteStepBuilder() = default;

bool RouteStepBuilder::AddFeatureSteps(std::int32_t index, std::vector<WayPointOwner>& out) {
  State& s = *state_;
  CMap& map = s.map;
  if (index < 0 || index >= s.count) return false;
  RmfReader* reader = map.m_Rdr.get();
  std::int32_t n = 0;
  const std::vector<RoutePoint> points = FeaturePoints(reader, s.features[index], &n);
  if (points.size() < 2) {
    map.LogFormat(u"          ****ERROR***RouteThread::(RmfFeaturePoints) had only %d points", {n < 0 ? 0 : n});
    return false;
  }
  const bool lastFeature = index == s.count - 1;
  std::size_t first = 0;  // the first point of the feature still to pass

  if (index == 0) {
    if (s.count > 1) {
      std::int32_t m = 0;
      if (FeaturePoints(reader, s.features[1], &m).size() < 2) {
        map.LogFormat(u"          ****ERROR***RouteThread::(RmfFeaturePoints(1)) had only %d points", {m < 0 ? 0 : m});
        map.Log(u"          ****ERROR***RouteThread::waypointVector Error Adding Beginning WP");
        return false;
      }
    }
    map.Log(u"          RouteThread::waypointVector Adding beginning WP");
    const RoutePoint onRoute = Project(points[0], points[1], s.origin);
    const double fromOrigin = Metres(s.origin, onRoute);
    const RoutePoint& ahead = SamePoint(s.origin, onRoute) ? points[1] : onRoute;
    RouteStepPlace begin = s.Place(s.origin, 0, &ahead);
    begin.distance = 0;
    begin.rampTarget = s.StreetAfterRamp(0);
    s.Add(out, begin);
    s.Pass(s.origin);
    s.Pass(onRoute);
    if (!s.IsIntersection(onRoute) && fromOrigin < kOnRouteMetres && !SamePoint(s.origin, onRoute)) {
      // The origin lies just off the route: a second step where it meets it.
      RouteStepPlace joint = s.Place(onRoute, 0, &points[1]);
      joint.turnTest = true;
      joint.rampTarget = begin.rampTarget;
      s.Add(out, joint);
    }
    first = 1;
  }

  const bool change = index > 0 && s.StreetChanges(index);
  const std::size_t end = points.size() - 1;  // the last point is passed below
  for (std::size_t k = first; k < end; ++k) {
    const RoutePoint& p = points[k];
    s.Pass(p);
    bool stepHere = false;
    bool fromPoint = false;
    if (change && s.IsIntersection(p)) {
      const bool atOrigin = (s.steps == 1 || s.steps == 2) && Metres(p, s.origin) <= kMetresPerFoot;
      const bool atDestination = lastFeature && SamePoint(p, s.destination);
      stepHere = !atOrigin && !atDestination;
      fromPoint = stepHere;
    }
    if (!stepHere && s.metres > kLongestStretchMetres) stepHere = true;
    if (stepHere) {
      // The next route point that differs from this one.
      std::size_t j = k + 1;
      while (j < points.size() && SamePoint(points[j], p)) ++j;
      RouteStepPlace place = s.Place(p, index, j < points.size() ? &points[j] : nullptr);
      place.turnTest = true;
      if (k > 0) s.CameAlong(place);
      place.nameFromPoint = fromPoint;
      place.rampTarget = s.StreetAfterRamp(index);
      s.Add(out, place);
    }
  }

  if (!lastFeature) {
    s.Pass(points[end]);
    if (s.metres > kLongestStretchMetres) {
      RouteStepPlace place = s.Place(points[end], index, nullptr);
      place.turnTest = true;
      s.CameAlong(place);
      s.Add(out, place);
    }
    return true;
  }

  // The end of the route: the destination's foot on the last stretch, and the
  // destination itself when it lies off the route.
  map.Log(u"          RouteThread::waypointVector Adding last WP");
  const RoutePoint onRoute = Project(points[end - 1], points[end], s.destination);
  s.Pass(onRoute);
  const double toDestination = Metres(onRoute, s.destination);
  if (toDestination < kOnRouteMetres) {
    s.metres += toDestination;
    RouteStepPlace last = s.Place(s.destination, index, nullptr);
    s.Add(out, last);
  } else {
    RouteStepPlace foot = s.Place(onRoute, index, &s.destination);
    foot.turnTest = true;
    s.CameAlong(foot);
    s.Add(out, foot);
    s.Pass(s.destination);
    RouteStepPlace last = s.Place(s.destination, index, nullptr);
    s.Add(out, last);
  }
  return true;
}

// ---- the distance to a step along the last route -------------------------------------

HRESULT CMap::GetDistanceToWayPointFollowingRoad(SHORT inPreviousWPIndex, SHORT inWPIndex, double inCurrentLat,
                                                 double inCurrentLon, SHORT inCurrentHeading, double inWPLat,
                                                 double inWPLon, double* outDistanceMeters) {
  if (outDistanceMeters == nullptr) return E_POINTER;
  *outDistanceMeters = -1.0;
  return com::Guarded([&]() -> HRESULT {
    if (m_pWPFeatureIds.empty()) return S_FALSE;
    std::int32_t previous = inPreviousWPIndex;
    const std::int32_t target = inWPIndex;
    if (previous == target) previous = target - 1;
    const std::int32_t lastStored =
        std::min<std::int32_t>(m_nWPFeatureIndex, static_cast<std::int32_t>(m_pWPFeatureIds.size()) - 1);
    if (previous < 0 || previous > target || target > lastStored) return S_FALSE;

    RmfReader* reader = m_Rdr.get();
    const RoutePoint waypoint{inWPLat, inWPLon};
    const RoutePoint current{inCurrentLat, inCurrentLon};
    std::vector<std::vector<RoutePoint>> lines;
    for (std::int32_t i = previous; i <= target; ++i)
      lines.push_back(FeaturePoints(reader, m_pWPFeatureIds[i], nullptr));

    // The waypoint's feature: the one the waypoint lies nearest to; of equals
    // the earlier, so that a waypoint where one feature ends and the next
    // begins belongs to the one that ends there. (The feature whose end lies
    // nearest the waypoint would miss a step inside a feature, where the
    // route crosses a street, and the walk below would never reach it.)
    const TiPoint waypointAt = ToMapUnits(waypoint);
    std::size_t last = 0;
    std::int32_t nearestFeet = std::numeric_limits<std::int32_t>::max();
    for (std::size_t f = 0; f < lines.size(); ++f) {
      for (std::size_t k = 1; k < lines[f].size(); ++k) {
        const std::int32_t feet =
            DistanceFeetToSegment(waypointAt, ToMapUnits(lines[f][k - 1]), ToMapUnits(lines[f][k]));
        if (feet < nearestFeet) {
          nearestFeet = feet;
          last = f;
        }
      }
    }

    // The segments from the previous feature up to it, in route order.
    std::vector<std::pair<RoutePoint, RoutePoint>> segments;
    for (std::size_t f = 0; f <= last; ++f) {
      for (std::size_t k = 1; k < lines[f].size(); ++k) segments.emplace_back(lines[f][k - 1], lines[f][k]);
    }
    if (segments.empty()) return S_FALSE;

    const TiPoint here = ToMapUnits(current);
    std::size_t nearest = 0;
    std::int32_t hereFeet = std::numeric_limits<std::int32_t>::max();
    for (std::size_t k = 0; k < segments.size(); ++k) {
      const std::int32_t feet =
          DistanceFeetToSegment(here, ToMapUnits(segments[k].first), ToMapUnits(segments[k].second));
      if (feet < hereFeet) {
        hereFeet = feet;
        nearest = k;
      }
    }
    if (hereFeet > kFollowRoadFeet) {
      const std::int32_t along = BearingDegrees(segments[nearest].first.latitude, segments[nearest].first.longitude,
                                                segments[nearest].second.latitude, segments[nearest].second.longitude);
      if (inCurrentHeading == -1 || !AreHeadingAndOrientationSimilar(inCurrentHeading, along, kSameStreetTolerance)) {
        *outDistanceMeters = Metres(current, waypoint);
        return S_OK;
      }
    }

    // Along the road: from the position's foot to the waypoint's foot on the
    // segment nearest the waypoint from here on, then off the road to it.
    std::size_t reach = segments.size();
    std::int32_t reachFeet = std::numeric_limits<std::int32_t>::max();
    for (std::size_t k = nearest; k < segments.size(); ++k) {
      const std::int32_t feet =
          DistanceFeetToSegment(waypointAt, ToMapUnits(segments[k].first), ToMapUnits(segments[k].second));
      if (feet < reachFeet) {
        reachFeet = feet;
        reach = k;
      }
    }
    // However far the waypoint lies off the road (a destination away from
    // its street), the road is followed to its foot and the rest is straight.
    if (reach == segments.size()) return S_OK;  // never reached: -1.0
    const RoutePoint from = Project(segments[nearest].first, segments[nearest].second, current);
    const RoutePoint to = Project(segments[reach].first, segments[reach].second, waypoint);
    double metres = 0;
    if (reach == nearest) {
      // Both on one segment: the waypoint behind the position is reached.
      const double start = Metres(segments[nearest].first, from);
      const double stop = Metres(segments[nearest].first, to);
      metres = std::max(0.0, stop - start);
    } else {
      metres = Metres(from, segments[nearest].second);
      for (std::size_t k = nearest + 1; k < reach; ++k) metres += Metres(segments[k].first, segments[k].second);
      metres += Metres(segments[reach].first, to);
    }
    *outDistanceMeters = metres + Metres(to, waypoint);
    return S_OK;
  });
}
