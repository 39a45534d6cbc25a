// Route steps: the street test, the steps made along routes found with the
// map-format library on the town and on the demo map (where they lie, their
// names, orientations and distances), and the distance to a step along the
// last route.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>
#include <vector>

#include "mapengine/format/features/RmfFeatureAttr.h"
#include "mapengine/format/features/RmfProfile.h"
#include "mapengine/format/features/RmfQuery.h"
#include "mapengine/format/route/RmfRoute.h"
#include "mapengine/format/route/RmfRouteSearch.h"
#include "mapengine/object/CMap.h"
#include "mapengine/object/Geometry.h"
#include "mapengine/object/RouteFilters.h"
#include "mapengine/object/RouteSteps.h"
#include "mapengine/object/StreetNames.h"
#include "platform/os/text.h"
#include "tests/mapengine/object/map_engine_fixture.h"
#include "tests/mapengine/object/town_fixture.h"
#include "tools/rmfbuild/RmfRouteEnds.h"

namespace {

using town::Pt;

std::string U8(std::u16string_view text) { return platform::Utf16ToUtf8(std::u16string(text)); }

// Metres between two points on a sphere of 3963.1 miles (haversine).
double Metres(double lat1, double lon1, double lat2, double lon2) {
  constexpr double kRad = std::numbers::pi / 180.0;
  const double a = std::pow(std::sin((lat2 - lat1) * kRad / 2), 2) +
                   std::cos(lat1 * kRad) * std::cos(lat2 * kRad) * std::pow(std::sin((lon2 - lon1) * kRad / 2), 2);
  return 2 * std::asin(std::sqrt(std::min(a, 1.0))) * 3963.1 * 1609.344;
}

struct Deg {
  double lat;
  double lon;
};
Deg D(TiPoint p) {
  const DegreePoint d = MapUnitsToDegrees(p.x, p.y);
  return {d.latitude, d.longitude};
}
double Metres(Deg a, Deg b) { return Metres(a.lat, a.lon, b.lat, b.lon); }

// What a step says, read through IWayPoint.
struct Step {
  Deg at;
  std::string name;
  std::string forwardName;
  int forward;
  int reverse;
  int lanes;
  int turning;
  double distance;
  int feature;
  int speed;
};

Step Read(CWayPoint& w) {
  Step s{};
  w.get_latitude(&s.at.lat);
  w.get_longitude(&s.at.lon);
  BSTR text = nullptr;
  w.GetName(&text);
  s.name = U8(BstrView(text));
  SysFreeString(text);
  text = nullptr;
  w.GetStreetNameForward(&text);
  s.forwardName = U8(BstrView(text));
  SysFreeString(text);
  SHORT v = 0;
  w.GetStreetOrientationDegreesForward(&v);
  s.forward = v;
  w.GetStreetOrientationDegreesReverse(&v);
  s.reverse = v;
  w.GetNumberOfLanes(&v);
  s.lanes = v;
  w.IsTurningPoint(&v);
  s.turning = v;
  w.GetDistance(&s.distance);
  w.GetFeatureIndex(&v);
  s.feature = v;
  w.GetSpeed(&v);
  s.speed = v;
  return s;
}

bool Near(Deg a, Deg b, double metres = 0.5) { return Metres(a, b) <= metres; }

// Bearings compared across north, a degree apart at most.
::testing::AssertionResult SameBearing(int actual, int expected) {
  const int d = std::abs(actual - expected) % 360;
  if (std::min(d, 360 - d) <= 1) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << actual << " is not " << expected;
}

class RouteStepsTest : public MapEngineTest {
 protected:
  // The route features from `from` to `to`, found as a route request finds
  // them; empty when there is no route.
  std::vector<RmfFeatureRef> FindRoute(Deg from, Deg to, bool walking) {
    RmfReader* reader = map_->m_Rdr.get();
    EXPECT_EQ(RmfProfileSetCallbacks(reader, walking ? &WalkingFeatureFilter : &DrivingFeatureFilter,
                                     walking ? &WalkingConnectionFilter : &DrivingConnectionFilter,
                                     walking ? nullptr : &options_, kRmfProfileEngineLimit),
              1);
    RmfQuerySetClassFilter(reader, 'R', "1234567");
    const auto origins = rmfbuild::RouteEndRefs(reader, DegreesToMapUnits(from.lat, from.lon), true);
    const auto destinations = rmfbuild::RouteEndRefs(reader, DegreesToMapUnits(to.lat, to.lon), false);
    std::vector<RmfFeatureRef> features;
    if (origins.empty() || destinations.empty()) return features;
    RmfRoute* route = nullptr;
    if (RmfRouteCreate(&route, reader) != 1) return features;
    std::int32_t count = 0;
    RmfFeatureRef* refs = nullptr;
    if (RmfRouteFind(route, origins.data(), static_cast<std::int32_t>(origins.size()), destinations.data(),
                     static_cast<std::int32_t>(destinations.size())) > 0 &&
        RmfRouteCompact(route) > 0 && RmfRouteRetrieve(route, &count, &refs) == 1) {
      features.assign(refs, refs + count);
    }
    EXPECT_EQ(RmfRouteDestroy(route), 1);
    return features;
  }

  // The steps of the route, built feature by feature.
  std::vector<Step> Steps(Deg from, Deg to, const std::vector<RmfFeatureRef>& features, int mode = 1) {
    RouteStepBuilder builder(*map_, from.lat, from.lon, to.lat, to.lon, mode, features.data(),
                             static_cast<std::int32_t>(features.size()));
    std::vector<WayPointOwner> made;
    for (std::int32_t i = 0; i < static_cast<std::int32_t>(features.size()); ++i) {
      EXPECT_TRUE(builder.AddFeatureSteps(i, made)) << "feature " << i;
    }
    std::vector<Step> steps;
    for (const WayPointOwner& w : made) steps.push_back(Read(*w));
    return steps;
  }

  std::vector<Deg> Points(const RmfFeatureRef& feature) {
    double* degrees = nullptr;
    const std::int32_t n = RmfFeaturePoints(map_->m_Rdr.get(), feature, &degrees);
    std::vector<Deg> points;
    for (std::int32_t i = 0; i < n; ++i) points.push_back({degrees[2 * i + 1], degrees[2 * i]});
    return points;
  }

  // The route's length along its features' points.
  double AlongFeatures(const std::vector<RmfFeatureRef>& features) {
    double metres = 0;
    for (const RmfFeatureRef& f : features) {
      const std::vector<Deg> p = Points(f);
      for (std::size_t k = 1; k < p.size(); ++k) metres += Metres(p[k - 1], p[k]);
    }
    return metres;
  }

  // Whether the point lies on the feature's line (within half a metre).
  bool OnFeature(Deg at, const RmfFeatureRef& feature) {
    const std::vector<Deg> p = Points(feature);
    for (std::size_t k = 1; k < p.size(); ++k) {
      if (std::fabs(Metres(p[k - 1], at) + Metres(at, p[k]) - Metres(p[k - 1], p[k])) < 0.5) return true;
    }
    return false;
  }

  // The driving options stay installed with the profile after the search.
  RouteRequestOptions options_{};

  void OpenTown() {
    ASSERT_NO_FATAL_FAILURE(OpenBuiltMap(town::TownMap(), "town.rmf"));
    LoadEnglish();
  }
};

TEST_F(RouteStepsTest, StreetChangeFollowsNamesNumbersAndAngles) {
  LoadEnglish();  // the word tables: "st", "rd", "dr", "ln" are dropped at a name's end
  struct Case {
    const char* a;
    const char* b;
    int angleA;
    int angleB;
    bool ignoreAngle;
    bool numberMatch;
    int change;
  } const cases[] = {
      {"Main Street", "Main Street", 0, 180, false, false, 0},  // equal texts, whatever the angle
      {"Main Street", "Elm Street", 0, 0, true, false, 1},
      {"Main St", "Main", 0, 0, true, false, 0},  // street type dropped
      {"Oak Rd", "Oak Dr", 0, 0, true, false, 0},
      {"Main", "Main Ave", 0, 0, true, false, 1},                      // "ave" is not a two-letter word of the table
      {"Ast", "As", 0, 0, true, false, 1},                             // 3 characters keep their end
      {"Mainst", "Main", 0, 0, true, false, 0},                        // the two letters go without a blank too
      {"A 20, Berliner Ring", "Berliner Ring", 0, 0, true, false, 0},  // one alternative matches
      {"Berliner Ring", "A 20,Berliner Ring", 0, 0, true, false, 0},
      {"A 20, Berliner Ring", "B 104, Ringstraße", 0, 0, true, false, 1},
      {"A 20", "E 20", 0, 0, true, true, 0},   // same number
      {"A 20", "E 20", 0, 0, true, false, 1},  // without number matching
      {"A 20", "A 204", 0, 0, true, true, 1},
      {"Weg 0", "Pfad 0", 0, 0, true, true, 1},       // a number must be at least 1
      {"Feldweg", "Wiesenweg", 0, 0, true, true, 1},  // no number at all
      {"Main St", "Main", 10, 50, false, false, 0},   // within 45 degrees
      {"Main St", "Main", 10, 60, false, false, 1},   // turned too far
      {"Main St", "Main", 350, 20, false, false, 0},  // across north
      {"Main St", "Main", 10, 100, true, false, 0},   // angle ignored
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsStreetChange(*map_, platform::Utf8ToUtf16(c.a), platform::Utf8ToUtf16(c.b), c.angleA, c.angleB,
                             c.ignoreAngle, c.numberMatch),
              c.change)
        << c.a << " / " << c.b << " " << c.angleA << " " << c.angleB;
  }
}

// Walking from Ahornstraße (between Gartenstraße and Schulstraße) to
// Eichenstraße (between Schulstraße and Kirchstraße): north, east along
// Schulstraße past Buchenstraße, north again.
TEST_F(RouteStepsTest, TownRouteTurnsAtItsTwoCorners) {
  ASSERT_NO_FATAL_FAILURE(OpenTown());
  const Deg cornerA = D(Pt(town::kAhornX, town::kSchulY));
  const Deg cornerB = D(Pt(town::kEichenX, town::kSchulY));
  const Deg from = D(Pt(town::kAhornX, 600));
  const Deg to = D(Pt(town::kEichenX, 1200));
  const std::vector<RmfFeatureRef> features = FindRoute(from, to, true);
  ASSERT_FALSE(features.empty());
  const std::vector<Step> steps = Steps(from, to, features);

  std::vector<Step> turns;
  for (const Step& s : steps) {
    if (s.turning == 1) turns.push_back(s);
  }
  ASSERT_EQ(turns.size(), 2u);
  EXPECT_TRUE(Near(turns[0].at, cornerA));
  EXPECT_TRUE(Near(turns[1].at, cornerB));
  EXPECT_EQ(turns[0].name, "Schulstraße");
  EXPECT_EQ(turns[0].forwardName, "Schulstraße");
  EXPECT_TRUE(SameBearing(turns[0].forward, town::kEast));
  EXPECT_TRUE(SameBearing(turns[0].reverse, town::kSouth));
  EXPECT_EQ(turns[1].name, "Eichenstraße");
  EXPECT_EQ(turns[1].forwardName, "Eichenstraße");
  EXPECT_TRUE(SameBearing(turns[1].forward, town::kNorth));
  EXPECT_TRUE(SameBearing(turns[1].reverse, town::kWest));

  // Origin and destination lie on the route: one step at each end besides
  // the two corners, and nothing at Buchenstraße where Schulstraße goes on.
  ASSERT_EQ(steps.size(), 4u);
  EXPECT_TRUE(Near(steps.front().at, from));
  EXPECT_TRUE(Near(steps.back().at, to));
  EXPECT_EQ(steps.front().distance, 0.0);
  EXPECT_NEAR(steps[1].distance, Metres(from, cornerA), 1.0);
  EXPECT_NEAR(steps[2].distance, Metres(cornerA, cornerB), 1.0);
  EXPECT_NEAR(steps[3].distance, Metres(cornerB, to), 1.0);
  for (const Step& s : steps) {
    EXPECT_GE(s.lanes, 1);
    ASSERT_GE(s.feature, 0);
    ASSERT_LT(s.feature, static_cast<int>(features.size()));
    EXPECT_TRUE(OnFeature(s.at, features[s.feature])) << s.name;
  }
  EXPECT_EQ(steps.front().turning, 0);
  EXPECT_EQ(steps.back().turning, 0);
  EXPECT_EQ(steps.front().name, "Ahornstraße");
  EXPECT_TRUE(SameBearing(steps.front().forward, town::kNorth));
  EXPECT_TRUE(SameBearing(steps.front().reverse, town::kSouth));  // none behind: the forward one turned round
  EXPECT_TRUE(SameBearing(steps.back().reverse, town::kSouth));
  EXPECT_TRUE(SameBearing(steps.back().forward, town::kNorth));
}

// An origin or destination off the route: within 15.24 m it gets a step of
// its own and one where it meets the route; farther, the origin step alone
// (its distance then counting from the origin), and a destination gets the
// step at its foot and the last step.
TEST_F(RouteStepsTest, RouteEndsNearAndFarFromTheStreet) {
  ASSERT_NO_FATAL_FAILURE(OpenTown());
  struct Case {
    std::int32_t originEast;       // map units east of Ahornstraße
    std::int32_t destinationEast;  // map units east of Eichenstraße
    std::size_t steps;
  } const cases[] = {
      {0, 0, 4},   {120, 0, 5},  // about 10 m: two beginning steps
      {180, 0, 4},               // about 16 m: the origin step alone
      {0, 120, 4},               // the last step takes the destination's distance
      {0, 180, 5},               // a step at the foot, then the destination
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.originEast) + " " + std::to_string(c.destinationEast));
    const Deg from = D(Pt(town::kAhornX + c.originEast, 600));
    const Deg to = D(Pt(town::kEichenX + c.destinationEast, 1200));
    const Deg fromFoot = D(Pt(town::kAhornX, 600));
    const Deg toFoot = D(Pt(town::kEichenX, 1200));
    ASSERT_EQ(Metres(from, fromFoot) < 15.24, c.originEast < 150);
    ASSERT_EQ(Metres(to, toFoot) < 15.24, c.destinationEast < 150);
    const std::vector<RmfFeatureRef> features = FindRoute(from, to, true);
    ASSERT_FALSE(features.empty());
    const std::vector<Step> steps = Steps(from, to, features);
    ASSERT_EQ(steps.size(), c.steps);
    EXPECT_TRUE(Near(steps.front().at, from));
    EXPECT_TRUE(Near(steps.back().at, to));
    EXPECT_EQ(steps.front().turning, 0);
    EXPECT_EQ(steps.back().turning, 0);
    if (c.originEast > 0 && c.steps == 5 && c.destinationEast == 0) {
      EXPECT_TRUE(Near(steps[1].at, fromFoot));
      EXPECT_NEAR(steps[1].distance, Metres(from, fromFoot), 0.5);
    }
    if (c.destinationEast >= 150) {
      EXPECT_TRUE(Near(steps[steps.size() - 2].at, toFoot));
      EXPECT_NEAR(steps.back().distance, Metres(toFoot, to), 0.5);
    }
    // The distances add up to the walk: origin to its foot, along the
    // streets, foot to the destination.
    const double expected = Metres(from, fromFoot) + Metres(fromFoot, D(Pt(town::kAhornX, town::kSchulY))) +
                            Metres(D(Pt(town::kAhornX, town::kSchulY)), D(Pt(town::kEichenX, town::kSchulY))) +
                            Metres(D(Pt(town::kEichenX, town::kSchulY)), toFoot) + Metres(toFoot, to);
    double sum = 0;
    for (const Step& s : steps) sum += s.distance;
    EXPECT_NEAR(sum, expected, static_cast<double>(steps.size()));
  }
}

// Every feature is a change with a waypoint mode other than 1: Schulstraße's
// feature boundary at Buchenstraße then makes a step too, not a turn.
TEST_F(RouteStepsTest, OtherWaypointModeStepsAtEveryIntersection) {
  ASSERT_NO_FATAL_FAILURE(OpenTown());
  const Deg from = D(Pt(town::kAhornX, 600));
  const Deg to = D(Pt(town::kEichenX, 1200));
  const std::vector<RmfFeatureRef> features = FindRoute(from, to, true);
  ASSERT_FALSE(features.empty());
  const std::vector<Step> steps = Steps(from, to, features, 0);
  ASSERT_EQ(steps.size(), 5u);
  EXPECT_TRUE(Near(steps[2].at, D(Pt(town::kBuchenX, town::kSchulY))));
  EXPECT_EQ(steps[2].turning, 0);
  EXPECT_EQ(steps[2].name, "Schulstraße");
}

// Driving from the freeway down the exit ramp to Bahnhofstraße: the step
// onto the ramp is named by the road the signs name.
TEST_F(RouteStepsTest, RampStepIsNamedByWhereItLeads) {
  ASSERT_NO_FATAL_FAILURE(OpenTown());
  const Deg from = D(Pt(1000, town::kFreewayY));
  const Deg to = D(Pt(2400, town::kBahnhofY));
  const std::vector<RmfFeatureRef> features = FindRoute(from, to, false);
  ASSERT_FALSE(features.empty());
  const std::vector<Step> steps = Steps(from, to, features);
  const Step* ramp = nullptr;
  const Step* foot = nullptr;
  for (const Step& s : steps) {
    if (Near(s.at, D(town::kExit))) ramp = &s;
    if (Near(s.at, D(town::kRampFoot))) foot = &s;
  }
  ASSERT_NE(ramp, nullptr);
  EXPECT_EQ(ramp->turning, 1);
  EXPECT_NE(ramp->name.find(town::kSignRoad), std::string::npos) << ramp->name;
  EXPECT_TRUE(SameBearing(ramp->forward, town::kRampDown));
  ASSERT_NE(foot, nullptr);
  EXPECT_EQ(foot->turning, 1);
  EXPECT_EQ(foot->name, "Bahnhofstraße");
  EXPECT_TRUE(SameBearing(foot->forward, town::kWest));
  double sum = 0;
  for (const Step& s : steps) sum += s.distance;
  EXPECT_NEAR(
      sum, Metres(from, D(town::kExit)) + Metres(D(town::kExit), D(town::kRampFoot)) + Metres(D(town::kRampFoot), to),
      static_cast<double>(steps.size()));
}

// A feature without a line cannot be told: the builder refuses it and says
// which check failed, for the second feature as the beginning step's.
TEST_F(RouteStepsTest, FeatureWithoutPointsFails) {
  ASSERT_NO_FATAL_FAILURE(OpenTown());
  const Deg from = D(Pt(town::kAhornX, 600));
  const Deg to = D(Pt(town::kEichenX, 1200));
  std::vector<RmfFeatureRef> features = FindRoute(from, to, true);
  ASSERT_GE(features.size(), 3u);
  const auto logged = [this](std::u16string_view text) {
    for (const std::u16string& line : debugOutput_) {
      if (line.find(text) != std::u16string::npos) return true;
    }
    return false;
  };
  const std::vector<RmfFeatureRef> broken[] = {
      {RmfFeatureRef{}, features[1]},
      {features[0], RmfFeatureRef{}},
      {features[0], features[1], RmfFeatureRef{}},
  };
  for (std::size_t b = 0; b < std::size(broken); ++b) {
    SCOPED_TRACE(b);
    debugOutput_.clear();
    const std::vector<RmfFeatureRef>& route = broken[b];
    RouteStepBuilder builder(*map_, from.lat, from.lon, to.lat, to.lon, 1, route.data(),
                             static_cast<std::int32_t>(route.size()));
    std::vector<WayPointOwner> made;
    bool ok = true;
    for (std::int32_t i = 0; ok && i < static_cast<std::int32_t>(route.size()); ++i)
      ok = builder.AddFeatureSteps(i, made);
    EXPECT_FALSE(ok);
    if (b == 1) {
      EXPECT_TRUE(logged(u"RouteThread::(RmfFeaturePoints(1)) had only 0 points"));
      EXPECT_TRUE(logged(u"RouteThread::waypointVector Error Adding Beginning WP"));
      EXPECT_TRUE(made.empty());
    } else {
      EXPECT_TRUE(logged(u"RouteThread::(RmfFeaturePoints) had only 0 points"));
    }
  }
}

TEST_F(RouteStepsTest, DistanceFollowingTheRoad) {
  ASSERT_NO_FATAL_FAILURE(OpenTown());
  const Deg from = D(Pt(town::kAhornX, 600));
  const Deg to = D(Pt(town::kEichenX, 1200));
  const Deg cornerA = D(Pt(town::kAhornX, town::kSchulY));
  const Deg buchen = D(Pt(town::kBuchenX, town::kSchulY));
  const Deg cornerB = D(Pt(town::kEichenX, town::kSchulY));
  double distance = 0;
  EXPECT_EQ(map_->GetDistanceToWayPointFollowingRoad(0, 1, from.lat, from.lon, -1, to.lat, to.lon, nullptr), E_POINTER);
  EXPECT_EQ(map_->GetDistanceToWayPointFollowingRoad(0, 1, from.lat, from.lon, -1, to.lat, to.lon, &distance), S_FALSE);
  EXPECT_EQ(distance, -1.0);

  map_->m_pWPFeatureIds = FindRoute(from, to, true);
  // Ahornstraße, Schulstraße's two blocks, Eichenstraße.
  ASSERT_EQ(map_->m_pWPFeatureIds.size(), 4u);
  map_->m_nWPFeatureIndex = 3;

  struct Case {
    const char* what;
    SHORT previous;
    SHORT waypoint;
    Deg at;
    SHORT heading;
    Deg target;
    HRESULT hr;
    double metres;  // -1: as the result
  } const cases[] = {
      {"along the route", 0, 2, from, -1, cornerB, S_OK, Metres(from, cornerA) + Metres(cornerA, cornerB)},
      {"from the middle of a block", 1, 3, D(Pt(800, town::kSchulY)), -1, to, S_OK,
       Metres(D(Pt(800, town::kSchulY)), buchen) + Metres(buchen, cornerB) + Metres(cornerB, to)},
      {"same index counts from the one before", 2, 2, D(Pt(800, town::kSchulY)), -1, cornerB, S_OK,
       Metres(D(Pt(800, town::kSchulY)), buchen) + Metres(buchen, cornerB)},
      {"the waypoint already behind", 0, 1, D(Pt(town::kAhornX, 800)), -1, D(Pt(town::kAhornX, 700)), S_OK, 0.0},
      {"far from the features up to the waypoint", 1, 1, buchen, -1, cornerA, S_OK, Metres(buchen, cornerA)},
      {"same index at the first", 0, 0, from, -1, cornerA, S_FALSE, -1.0},
      {"previous above the waypoint", 2, 1, from, -1, cornerA, S_FALSE, -1.0},
      {"waypoint beyond the last", 0, 4, from, -1, to, S_FALSE, -1.0},
      {"negative previous", -1, 2, from, -1, to, S_FALSE, -1.0},
  };
  for (const Case& c : cases) {
    distance = 0;
    EXPECT_EQ(map_->GetDistanceToWayPointFollowingRoad(c.previous, c.waypoint, c.at.lat, c.at.lon, c.heading,
                                                       c.target.lat, c.target.lon, &distance),
              c.hr)
        << c.what;
    EXPECT_NEAR(distance, c.metres, 0.5) << c.what;
  }

  // More than 75 feet from the route (about 120 feet west of Ahornstraße):
  // straight to the waypoint without a heading or with one across the
  // route; along the route with a heading that runs with it.
  const Deg off = D(Pt(town::kAhornX - 400, 600));
  distance = 0;
  EXPECT_EQ(map_->GetDistanceToWayPointFollowingRoad(0, 2, off.lat, off.lon, -1, cornerB.lat, cornerB.lon, &distance),
            S_OK);
  EXPECT_NEAR(distance, Metres(off, cornerB), 0.5);
  EXPECT_EQ(map_->GetDistanceToWayPointFollowingRoad(0, 2, off.lat, off.lon, town::kEast, cornerB.lat, cornerB.lon,
                                                     &distance),
            S_OK);
  EXPECT_NEAR(distance, Metres(off, cornerB), 0.5);
  EXPECT_EQ(map_->GetDistanceToWayPointFollowingRoad(0, 2, off.lat, off.lon, town::kNorth, cornerB.lat, cornerB.lon,
                                                     &distance),
            S_OK);
  EXPECT_NEAR(distance, Metres(from, cornerA) + Metres(cornerA, cornerB), 0.5);

  // A waypoint off the route, as a destination more than 75 feet from its
  // street: along the road to its foot, then straight to it. 400 units are
  // about 37 m (120 feet), 1600 units about 150 m.
  for (const std::int32_t east : {400, 1600}) {
    SCOPED_TRACE(east);
    const Deg destination = D(Pt(town::kEichenX + east, 1200));
    const Deg foot = D(Pt(town::kEichenX, 1200));
    distance = 0;
    EXPECT_EQ(map_->GetDistanceToWayPointFollowingRoad(0, 3, from.lat, from.lon, -1, destination.lat, destination.lon,
                                                       &distance),
              S_OK);
    EXPECT_NEAR(distance,
                Metres(from, cornerA) + Metres(cornerA, cornerB) + Metres(cornerB, foot) + Metres(foot, destination),
                0.5);
  }

  // The route closed.
  map_->m_pWPFeatureIds.clear();
  map_->m_nWPFeatureIndex = -1;
  EXPECT_EQ(map_->GetDistanceToWayPointFollowingRoad(0, 2, from.lat, from.lon, -1, cornerB.lat, cornerB.lon, &distance),
            S_FALSE);
  EXPECT_EQ(distance, -1.0);
}

// Real routes on the demo map: the step distances add up to the route, every
// step lies on its feature, and every change of street name at an
// intersection along the route has its step.
TEST_F(RouteStepsTest, DemoRoutesAddUpAndStepAtNameChanges) {
  LoadEnglish();
  OpenMapFile(DEMO_MAP_PATH);
  ASSERT_NE(map_->m_Rdr.get(), nullptr);
  struct Trip {
    Deg from;
    Deg to;
    bool walking;
  } const trips[] = {
      {{53.5571, 13.2610}, {53.5630, 13.2740}, true},
      {{53.5571, 13.2610}, {53.5540, 13.2660}, false},
      {{53.5650, 13.2550}, {53.5540, 13.2660}, true},
  };
  int routed = 0;
  int fastSteps = 0;  // steps on streets of 20 mph (32 km/h) and more
  for (const Trip& t : trips) {
    const std::vector<RmfFeatureRef> features = FindRoute(t.from, t.to, t.walking);
    if (features.empty()) continue;
    ++routed;
    const std::vector<Step> steps = Steps(t.from, t.to, features);
    ASSERT_GE(steps.size(), 2u);
    double sum = 0;
    for (const Step& s : steps) {
      sum += s.distance;
      ASSERT_GE(s.feature, 0);
      ASSERT_LT(s.feature, static_cast<int>(features.size()));
      // The converter writes speed classes as km/h letters ('A' + k for
      // 10 k .. 10 k + 9 km/h); a step tells the mph band of the band's middle.
      const std::u16string speedClass = GetFeatureAttribute(*map_, features[s.feature], 10, false);
      ASSERT_EQ(speedClass.size(), 1u);
      ASSERT_TRUE(speedClass[0] >= u'A' && speedClass[0] <= u'P') << U8(speedClass);
      const double kmh = 5 + 10 * (speedClass[0] - u'A');
      EXPECT_EQ(s.speed, static_cast<int>(kmh / 1.609344 / 10)) << U8(speedClass);
      fastSteps += s.speed >= 2 ? 1 : 0;
      ASSERT_LT(s.feature, static_cast<int>(features.size()));
      if (&s != &steps.front() && &s != &steps.back()) {
        EXPECT_TRUE(OnFeature(s.at, features[s.feature]));
      }
    }
    const std::vector<Deg> first = Points(features.front());
    const std::vector<Deg> last = Points(features.back());
    // The ends lie within a few metres of the route; allow what the two
    // stretches off the route can add.
    const double ends = Metres(t.from, first.front()) + Metres(last.back(), t.to);
    EXPECT_NEAR(sum, AlongFeatures(features), static_cast<double>(steps.size()) + ends);

    // A turn is made only where the route goes from one street onto another.
    for (std::size_t n = 1; n + 1 < steps.size(); ++n) {
      const Step& s = steps[n];
      if (s.turning != 1) continue;
      ASSERT_GE(s.feature, 1) << s.name;
      EXPECT_TRUE(Near(s.at, Points(features[s.feature]).front())) << s.name;
      const RmfFeatureRef& before = features[s.feature - 1];
      const RmfFeatureRef& now = features[s.feature];
      EXPECT_TRUE(GetStreetName(*map_, before, false, false, false) != GetStreetName(*map_, now, false, false, false) ||
                  IsFeatureARamp(map_->m_Rdr.get(), before) || IsFeatureARamp(map_->m_Rdr.get(), now))
          << s.name;
    }
    for (std::size_t i = 1; i < features.size(); ++i) {
      const std::u16string before = GetStreetName(*map_, features[i - 1], false, false, false);
      const std::u16string now = GetStreetName(*map_, features[i], false, false, false);
      if (before == now) continue;
      const Deg joint = Points(features[i]).front();
      const TiPoint at = DegreesToMapUnits(joint.lat, joint.lon);
      if (!map_->IsAtIntersection(at, false, at, false)) continue;
      bool stepped = false;
      for (const Step& s : steps) stepped = stepped || Near(s.at, joint);
      EXPECT_TRUE(stepped) << U8(before) << " -> " << U8(now);
    }
  }
  EXPECT_EQ(routed, 3);
  EXPECT_GT(fastSteps, 0);
}

}  // namespace
