// The map engine's numeric toolbox: conversions and their rounding, the
// latitude bands, distances, bearings, nearness, projection onto a segment,
// and the operations over the map-format library on a built map.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include "mapengine/format/features/RmfFeaturesNear.h"
#include "mapengine/object/Geometry.h"
#include "tests/mapengine/object/street_fixtures.h"

namespace {

using street_fixtures::At;
using street_fixtures::Street;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::int32_t kI32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kI32Min = std::numeric_limits<std::int32_t>::min();

TEST(GeometryConversions, DegreesToMapUnitsRoundsHalfAwayFromZero) {
  struct Case {
    double latitude, longitude;
    std::int32_t x, y;
  };
  const Case cases[] = {
      {0.0, 0.0, 0, 0},
      {-0.5, 0.5, 372827, -372827},  // 372827.02 either way: rounded away from zero
      {1.0, -1.0, -745654, 745654},
      {90.0, 180.0, 134217728, 67108864},
      {-90.0, -180.0, -134217728, -67108864},
      {0.6 * kTiDegreesPerUnit, -0.6 * kTiDegreesPerUnit, -1, 1},
      {0.4 * kTiDegreesPerUnit, -0.4 * kTiDegreesPerUnit, 0, 0},
      {1e300, -1e300, kI32Min, kI32Max},  // beyond the i32 range: saturated, never undefined
      {kNaN, kInf, kI32Max, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.latitude << ", " << c.longitude);
    const TiPoint p = DegreesToMapUnits(c.latitude, c.longitude);
    EXPECT_EQ(p.x, c.x);
    EXPECT_EQ(p.y, c.y);
    const TiPoint q = LonLatToMapUnits(c.longitude, c.latitude);
    EXPECT_EQ(q.x, c.x);
    EXPECT_EQ(q.y, c.y);
  }
}

TEST(GeometryConversions, MapUnitsRoundTripWithinHalfAUnit) {
  const double halfUnit = 0.5 * kTiDegreesPerUnit + 1e-12;
  for (double latitude : {-89.9, -53.55, -0.3, 0.0, 1e-7, 48.123456, 53.55, 89.9}) {
    for (double longitude : {-179.9, -13.26, 0.0, 13.26, 120.987654, 179.9}) {
      const TiPoint p = DegreesToMapUnits(latitude, longitude);
      const DegreePoint back = MapUnitsToDegrees(p.x, p.y);
      EXPECT_NEAR(back.latitude, latitude, halfUnit);
      EXPECT_NEAR(back.longitude, longitude, halfUnit);
    }
  }
  const DegreePoint d = MapUnitsToDegrees(745654, -372827);
  EXPECT_DOUBLE_EQ(d.longitude, 745654 * 1.341104507446289e-6);
  EXPECT_DOUBLE_EQ(d.latitude, -372827 * 1.341104507446289e-6);
}

TEST(GeometryConversions, LatitudeBandsClampAtThePoleAndRefuseWhatIsNotANumber) {
  struct Case {
    double latitude;
    int band;
  };
  const Case cases[] = {{0.0, 0},     {4.99, 0},   {-4.99, 0},  {5.0, 1},    {-5.5, 1},  {53.55, 10},
                        {-53.55, 10}, {85.0, 17},  {89.99, 17}, {90.0, 17},  {-90.0, 17}, {95.0, 17},
                        {1e300, 17},  {kNaN, -1},  {kInf, -1},  {-kInf, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.latitude);
    double north = 7, east = 7;
    EXPECT_EQ(DegreesToLocalFeet(c.latitude, 13.26, &north, &east), c.band);
    if (c.band < 0) {
      EXPECT_EQ(north, 0.0);
      EXPECT_EQ(east, 0.0);
    } else {
      EXPECT_DOUBLE_EQ(north, c.latitude * LatitudeBandScales[c.band].latitude * 10000);
      EXPECT_DOUBLE_EQ(east, 13.26 * LatitudeBandScales[c.band].longitude * 10000);
    }
  }
  double north = 7, east = 7;
  EXPECT_EQ(DegreesToLocalFeet(10.0, kNaN, &north, &east), -1);
  // Rows that hold the same pair.
  EXPECT_EQ(LatitudeBandScales[2].latitude, LatitudeBandScales[3].latitude);
  EXPECT_EQ(LatitudeBandScales[2].longitude, LatitudeBandScales[3].longitude);
  EXPECT_EQ(LatitudeBandScales[16].longitude, LatitudeBandScales[17].longitude);
}

// ---- distances ---------------------------------------------------------------------------

// Latitude difference (degrees) of two points on one meridian `feet` apart.
double FeetAsLatitude(double feet) { return feet / 5280.0 / 3963.1 / 0.017453292519943295; }

TEST(GeometryDistances, GreatCircleAndItsRounding) {
  EXPECT_EQ(DistanceMiles(13.26, 53.55, 13.26, 53.55), 0.0);
  EXPECT_EQ(DistanceFeet(13.26, 53.55, 13.26, 53.55), 0);
  EXPECT_NEAR(DistanceMiles(0, 0, 180, 0), std::numbers::pi * 3963.1, 1e-6);
  EXPECT_NEAR(DistanceMiles(13.26, 53.55, -166.74, -53.55), 12450.4, 0.1);
  EXPECT_NEAR(DistanceMiles(0, 0, 0, 1), 3963.1 * 0.017453292519943295, 1e-6);

  // Whole feet by rounding to nearest. Distances of about a thousand feet
  // keep acos precise to well under a hundredth of a foot.
  struct Case {
    double feet;
    std::int32_t rounded;
  };
  for (const Case& c : {Case{1000.4, 1000}, Case{1000.6, 1001}, Case{10.3, 10}, Case{10.7, 11}}) {
    SCOPED_TRACE(c.feet);
    const double lat2 = 53.55 + FeetAsLatitude(c.feet);
    EXPECT_NEAR(DistanceFeetExact(13.26, 53.55, 13.26, lat2), c.feet + 0.5, 0.01);
    EXPECT_EQ(DistanceFeet(13.26, 53.55, 13.26, lat2), c.rounded);
    EXPECT_NEAR(DistanceMeters(13.26, 53.55, 13.26, lat2), c.feet * 0.3048, 0.01);
  }

  // Map points: one degree of latitude.
  const TiPoint a = DegreesToMapUnits(53.0, 13.0);
  const TiPoint b = DegreesToMapUnits(54.0, 13.0);
  const double feet = 3963.1 * 0.017453292519943295 * 5280;
  // The ends are rounded to map units: a quarter of a foot each.
  EXPECT_NEAR(DistanceFeetBetweenMapPointsExact(a.x, a.y, b.x, b.y), feet + 0.5, 0.5);
  EXPECT_EQ(DistanceFeetBetweenMapPoints(a.x, a.y, b.x, b.y),
            static_cast<std::int32_t>(DistanceFeetBetweenMapPointsExact(a.x, a.y, b.x, b.y)));
  EXPECT_NEAR(DistanceMetersBetweenMapPoints(a.x, a.y, b.x, b.y), feet * 0.3048, 0.5 * 0.3048);
  // Opposite ends of the world: no overflow, half the circumference.
  EXPECT_NEAR(DistanceMetersBetweenMapPoints(-134217728, 0, 0, 0), std::numbers::pi * 3963.1 * 1609.344, 1.0);
}

// ---- bearings -------------------------------------------------------------------------------

TEST(GeometryBearings, FourDirectionsAndToItself) {
  struct Case {
    const char* what;
    double lat2, lon2;
    std::int32_t bearing;
  };
  const double lat = 53.55, lon = 13.26;
  const Case cases[] = {{"north", lat + 0.01, lon, 0},
                        {"east", lat, lon + 0.01, 90},
                        {"south", lat - 0.01, lon, 180},
                        {"west", lat, lon - 0.01, 270},
                        {"itself", lat, lon, 90},
                        {"north-east on the local plane", lat + 0.001, lon + 0.001 * 36.53 / 21.00, 45}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(BearingDegrees(lat, lon, c.lat2, c.lon2), c.bearing);
    EXPECT_EQ(BearingDegreesLonLat(lon, lat, c.lon2, c.lat2), c.bearing);
    EXPECT_NEAR(std::fmod(BearingDegreesExact(lat, lon, c.lat2, c.lon2) + 0.5, 360.0), c.bearing + 0.5, 1e-6);
    const TiPoint a = DegreesToMapUnits(lat, lon);
    const TiPoint b = DegreesToMapUnits(c.lat2, c.lon2);
    const std::int32_t fromMap = BearingBetweenMapPoints(a.x, a.y, b.x, b.y);
    // Map units round the points: a bearing of 0 may come back as 359.
    EXPECT_TRUE(fromMap == c.bearing || fromMap == (c.bearing + 359) % 360) << fromMap;
    EXPECT_NEAR(std::fmod(BearingBetweenMapPointsExact(a.x, a.y, b.x, b.y) + 0.5, 360.0), c.bearing + 0.5, 0.5);
  }
}

TEST(GeometryBearings, TruncatesTheAngleBeforeTurningItIntoABearing) {
  // An angle of 10.7 degrees counter-clockwise from east: truncated to 10, so
  // the bearing is 80 where rounding would give 79.
  const double angle = 10.7 * std::numbers::pi / 180;
  const double north = std::sin(angle) * 1000, east = std::cos(angle) * 1000;
  const double lat2 = 53.55 + north / (LatitudeBandScales[10].latitude * 10000);
  const double lon2 = 13.26 + east / (LatitudeBandScales[10].longitude * 10000);
  EXPECT_EQ(BearingDegrees(53.55, 13.26, lat2, lon2), 80);
  EXPECT_NEAR(BearingDegreesExact(53.55, 13.26, lat2, lon2), 79.3, 1e-6);
  // Points that are not points have no bearing.
  EXPECT_EQ(BearingDegrees(kNaN, 13.26, 53.55, 13.26), -1);
  EXPECT_EQ(BearingDegreesExact(53.55, 13.26, 53.55, kInf), -1);
}

// ---- nearness -----------------------------------------------------------------------------

TEST(GeometryNearness, MapPointsSegmentsAndDegreePoints) {
  struct Case {
    std::int32_t x1, y1, x2, y2;
    bool near;
  };
  const Case cases[] = {{0, 0, 0, 0, true},     {0, 0, 1, 1, true},       {5, 5, 4, 4, true},
                        {0, 0, 2, 0, false},    {0, 0, 0, -2, false},     {0, 0, 2, 2, false},
                        {kI32Min, kI32Min, kI32Max, kI32Max, false},  // no overflow
                        {kI32Max, 0, kI32Max - 1, 1, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x1 << "," << c.y1 << " " << c.x2 << "," << c.y2);
    EXPECT_EQ(AreMapPointsNear(c.x1, c.y1, c.x2, c.y2), c.near);
  }

  const TiPoint a{100, 100}, b{200, 300};
  EXPECT_TRUE(AreSegmentsSame(a, b, a, b));
  EXPECT_TRUE(AreSegmentsSame(a, b, b, a));
  EXPECT_TRUE(AreSegmentsSame(a, b, TiPoint{101, 99}, TiPoint{199, 301}));
  EXPECT_FALSE(AreSegmentsSame(a, b, TiPoint{102, 100}, b));
  EXPECT_FALSE(AreSegmentsSame(a, b, b, TiPoint{100, 98}));
  EXPECT_FALSE(AreSegmentsSame(a, b, a, a));

  EXPECT_TRUE(AreDegreePointsEqual(53.55, 13.26, 53.55 + 1.5e-8, 13.26 - 1.5e-8));
  EXPECT_FALSE(AreDegreePointsEqual(53.55, 13.26, 53.55 + 3e-8, 13.26));
  EXPECT_FALSE(AreDegreePointsEqual(53.55, 13.26, 53.55, 13.26 - 3e-8));
}

// ---- projection ---------------------------------------------------------------------------

// Degree offsets of `north` and `east` feet on the local plane of band 10.
DegreePoint Offset(DegreePoint from, double north, double east) {
  return DegreePoint{from.longitude + east / (LatitudeBandScales[10].longitude * 10000),
                     from.latitude + north / (LatitudeBandScales[10].latitude * 10000)};
}

TEST(GeometryProjection, FootOnTheSegmentClampedOrOnTheExtendedLine) {
  const DegreePoint a{13.26, 53.55};
  // A diagonal segment of 600 by 800 feet (1000 feet long); its normal is (4, -3) / 5.
  const DegreePoint b = Offset(a, 800, 600);
  const DegreePoint middle = Offset(a, 400, 300);
  struct Case {
    const char* what;
    DegreePoint p;
    bool unclamped;
    DegreePoint expected;
  };
  const Case cases[] = {
      {"off the middle", Offset(middle, -300 * 0.6, 300 * 0.8), false, middle},
      {"off the middle, unclamped", Offset(middle, 300 * 0.6, -300 * 0.8), true, middle},
      {"on the line", middle, false, middle},
      {"beyond b", Offset(a, 1600 - 60, 1200 + 80), false, b},
      {"beyond b, unclamped", Offset(a, 1600 - 60, 1200 + 80), true, Offset(a, 1600, 1200)},
      {"before a", Offset(a, -800, -600), false, a},
      {"before a, unclamped", Offset(a, -800 + 3, -600 - 4), true, Offset(a, -800, -600)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const DegreePoint foot = ProjectOntoLine(a, b, c.p, c.unclamped);
    EXPECT_NEAR(foot.longitude, c.expected.longitude, 1e-9);
    EXPECT_NEAR(foot.latitude, c.expected.latitude, 1e-9);
  }
}

TEST(GeometryProjection, SegmentsAlongAMeridianOrAParallel) {
  const DegreePoint a{13.26, 53.55};
  const DegreePoint north{13.26, 53.56};
  const DegreePoint east{13.27, 53.55};
  struct Case {
    const char* what;
    DegreePoint b, p;
    bool unclamped;
    DegreePoint expected;
  };
  const Case cases[] = {
      {"meridian", north, {13.261, 53.555}, false, {13.26, 53.555}},
      {"meridian, beyond", north, {13.261, 53.57}, false, north},
      {"meridian, beyond, unclamped", north, {13.261, 53.57}, true, {13.26, 53.57}},
      {"parallel", east, {13.265, 53.551}, false, {13.265, 53.55}},
      {"parallel, before", east, {13.25, 53.551}, false, a},
      {"one point", a, {13.25, 53.551}, false, a},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const DegreePoint foot = ProjectOntoLine(a, c.b, c.p, c.unclamped);
    EXPECT_EQ(foot.longitude, c.expected.longitude);
    EXPECT_EQ(foot.latitude, c.expected.latitude);
  }
  // No foot for a point that is not one: it comes back as given.
  const DegreePoint p = ProjectOntoLine(a, east, DegreePoint{kNaN, 53.55}, false);
  EXPECT_TRUE(std::isnan(p.longitude));
  EXPECT_EQ(p.latitude, 53.55);
}

TEST(GeometryProjection, ParameterDistanceAndBearingToASegment) {
  // An east-west segment of 2048 units (about 600 feet) and points around it.
  const TiPoint a = At(0, 0), b = At(2048, 0);
  const std::int32_t length = DistanceFeetBetweenMapPoints(a.x, a.y, b.x, b.y);
  ASSERT_GT(length, 550);
  ASSERT_LT(length, 650);
  const std::int32_t hundredFeetNorth = 205;  // units
  const std::int32_t offset = DistanceFeetBetweenMapPoints(0, 0, 0, hundredFeetNorth);
  struct Case {
    const char* what;
    TiPoint p;
    double t;
    std::int32_t feet, bearing;
  };
  const Case cases[] = {
      {"north of the middle", At(1024, hundredFeetNorth), 0.5, offset, 180},
      {"south of the middle", At(1024, -hundredFeetNorth), 0.5, offset, 0},
      {"on a", a, 0.0, 0, 90},
      {"on b", b, 1.0, 0, 90},
      {"beyond b", At(4096, 0), 1.0, length, 270},
      {"before a", At(-2048, 0), 0.0, length, 90},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_NEAR(SegmentParameter(c.p, a, b), c.t, 1.0 / length);
    EXPECT_NEAR(DistanceFeetToSegment(c.p, a, b), c.feet, 1);
    EXPECT_EQ(BearingToSegment(c.p, a, b), c.bearing);
  }
  // A segment of no length.
  EXPECT_EQ(SegmentParameter(At(5, 5), a, a), 0.0);
  EXPECT_EQ(DistanceFeetToSegment(At(0, hundredFeetNorth), a, a), offset);
  // Map-point projection matches the degree projection rounded to units.
  const TiPoint foot = ProjectMapPointOntoSegment(a, b, At(1000, 300), true);
  EXPECT_NEAR(foot.x, a.x + 1000, 1);
  EXPECT_NEAR(foot.y, a.y, 1);
}

TEST(GeometryProjection, WalkingAlongAHeadingOnTheGreatCircle) {
  // 5280 feet are 0.869 nautical miles: 0.01448 degree of latitude; 100 feet
  // along the equator are 0.000274 degree of longitude.
  struct Case {
    const char* what;
    double latitude, longitude;
    std::int32_t heading, feet;
    double toLatitude, toLongitude;
  };
  const Case cases[] = {
      {"no distance", 53.55, 13.26, 45, 0, 53.55, 13.26},
      {"a mile north", 53.55, 13.26, 0, 5280, 53.56448, 13.26},
      {"a mile south", 53.55, 13.26, 180, 5280, 53.53552, 13.26},
      {"eastwards across the antimeridian", 0.0, 179.99999, 90, 100, 0.0, -179.999736},
      {"westwards across the antimeridian", 0.0, -179.99999, 270, 100, 0.0, 179.999736},
      {"westwards short of the antimeridian", 0.0, -179.99, 270, 100, 0.0, -179.990274},
  };
  // Map units are 1.34e-6 degree.
  constexpr double kTolerance = 4e-6;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const TiPoint to = ProjectPoint(DegreesToMapUnits(c.latitude, c.longitude), c.heading, c.feet);
    const DegreePoint reached = MapUnitsToDegrees(to.x, to.y);
    EXPECT_NEAR(reached.latitude, c.toLatitude, kTolerance);
    EXPECT_NEAR(reached.longitude, c.toLongitude, kTolerance);
  }
}

// ---- over the library ------------------------------------------------------------------------

TEST(GeometryLibrary, PointsAreCappedAt250) {
  street_fixtures::StreetMap map;
  std::vector<TiPoint> points;
  for (std::int32_t i = 0; i < 300; ++i) points.push_back(At(8 * i, (i % 2) * 8));
  const std::size_t longStreet = map.Add(Street("Lange Straße", points));
  const std::size_t shortStreet = map.Add(Street("Kurze Straße", {At(0, 4000), At(100, 4000), At(200, 4100)}));
  ASSERT_TRUE(map.Build());
  ASSERT_EQ(map.PieceCount(longStreet), 1u);

  std::vector<TiPoint> out(kMaxFeaturePoints + 1, TiPoint{-7, -7});
  EXPECT_EQ(GetFeaturePointsCapped(map.reader(), map.Whole(longStreet), out.data()), 250);
  for (std::int32_t i = 0; i < 250; ++i) {
    ASSERT_EQ(out[i].x, points[i].x) << i;
    ASSERT_EQ(out[i].y, points[i].y) << i;
  }
  EXPECT_EQ(out[250].x, -7) << "nothing beyond the cap is written";

  EXPECT_EQ(GetFeaturePointsCapped(map.reader(), map.Whole(shortStreet), out.data()), 3);
  EXPECT_EQ(out[2].x, At(200, 4100).x);
  // A reference that names nothing: the library's code, nothing copied.
  out[0] = TiPoint{-7, -7};
  EXPECT_LT(GetFeaturePointsCapped(map.reader(), RmfFeatureRef{}, out.data()), 1);
  EXPECT_EQ(out[0].x, -7);
}

TEST(GeometryLibrary, AddressRangeRecordAndRouteClassText) {
  street_fixtures::StreetMap map;
  const std::size_t ranged = map.Add(Street("Straße des Friedens", {At(0, 0), At(1000, 0)}, "1\\9\\2\\10"));
  const std::size_t plain = map.Add(Street("Ringstraße", {At(0, 2000), At(1000, 2000)}));
  // Two range attributes: the first is read. A code "2B" without a leading
  // character and a code of one character are not range attributes.
  rmfbuild::Feature twice = Street("Oststraße", {At(0, 4000), At(1000, 4000)});
  twice.Attribute(rmfbuild::TextTriple{"2B", "A", "7\\7\\8\\8"});
  twice.Attribute(rmfbuild::TextTriple{"1", "A", "7\\7\\8\\8"});
  twice.Attribute(rmfbuild::TextTriple{"12B+-", "A", "3\\5\\4\\6"});
  twice.Attribute(rmfbuild::TextTriple{"12B-+", "A", "11\\15\\12\\16"});
  const std::size_t two = map.Add(twice);
  // A class-5 line whose own triple is not a route-class attribute.
  const std::size_t noClass = map.Add(rmfbuild::Feature::Line(rmfbuild::FeatureClass{1, 5, rmfbuild::FeatureCategory::kLine},
                                                              "Weg", {At(0, 6000), At(1000, 6000)}));
  ASSERT_TRUE(map.Build());

  const StreetNameRecord r = GetStreetNameRecord(map.reader(), map.Whole(ranged));
  EXPECT_STREQ(r.code, "12B-+");
  EXPECT_STREQ(r.value, "A");
  EXPECT_STREQ(r.name, "1\\9\\2\\10");
  // Read along the other way, the orientation marks turn.
  RmfFeatureRef reversed{};
  ASSERT_EQ(RmfFeatureRefReverse(map.reader(), map.Whole(ranged), &reversed), 1);
  EXPECT_STREQ(GetStreetNameRecord(map.reader(), reversed).code, "12B+-");

  const StreetNameRecord none = GetStreetNameRecord(map.reader(), map.Whole(plain));
  const StreetNameRecord empty{};
  EXPECT_EQ(std::memcmp(&none, &empty, sizeof none), 0);
  EXPECT_STREQ(GetStreetNameRecord(map.reader(), map.Whole(two)).name, "3\\5\\4\\6");
  const StreetNameRecord unreadable = GetStreetNameRecord(map.reader(), RmfFeatureRef{});
  EXPECT_EQ(std::memcmp(&unreadable, &empty, sizeof empty), 0);

  EXPECT_EQ(GetRouteClassText(map.reader(), map.Whole(ranged)), u"Straße des Friedens");
  EXPECT_EQ(GetRouteClassText(map.reader(), reversed), u"Straße des Friedens");
  EXPECT_EQ(GetRouteClassText(map.reader(), map.Whole(noClass)), u"");
  EXPECT_EQ(GetRouteClassText(map.reader(), RmfFeatureRef{}), u"");
}

TEST(GeometryLibrary, RecordsCompareAsTexts) {
  StreetNameRecord a{};
  std::strcpy(a.code, "12B-+");
  std::strcpy(a.value, "A");
  std::strcpy(a.name, "1\\9\\2\\10");
  StreetNameRecord b = a;
  EXPECT_TRUE(AreStreetNameRecordsEqual(a, b));
  b.name[9] = 'x';  // after the terminator: not part of the text
  EXPECT_TRUE(AreStreetNameRecordsEqual(a, b));
  for (char* field : {b.code, b.value, b.name}) {
    b = a;
    field[0] = '9';
    EXPECT_FALSE(AreStreetNameRecordsEqual(a, b));
  }
  EXPECT_TRUE(AreStreetNameRecordsEqual(StreetNameRecord{}, StreetNameRecord{}));

  struct Case {
    const char* code;
    bool rangePair;
  };
  for (const Case& c : {Case{"12B-+", true}, Case{"x2B", true}, Case{"12b", false}, Case{"2B", false},
                        Case{"1", false}, Case{"", false}, Case{"12", false}}) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(HasAttributeCodePair(c.code, '2', 'B'), c.rangePair);
  }
  EXPECT_FALSE(HasAttributeCodePair(nullptr, '2', 'B'));
}

TEST(GeometryLibrary, VisitedListTellsAddedFromDroppedWhenFull) {
  const RmfFeatureRef a{5, 0, 1, 2, 3, 4, 0x4200};
  RmfFeatureRef b = a;
  b.position = 0x4000;  // differs in one field only
  const RmfFeatureRef c{6, 0, 1, 2, 3, 4, 0x4200};
  FeatureRefList list(2);
  EXPECT_EQ(AddUniqueFeatureRef(list, a), kFeatureRefAdded);
  EXPECT_EQ(AddUniqueFeatureRef(list, a), kFeatureRefAlreadyListed);
  EXPECT_EQ(AddUniqueFeatureRef(list, b), kFeatureRefAdded);
  EXPECT_TRUE(list.IsFull());
  EXPECT_EQ(AddUniqueFeatureRef(list, c), kFeatureRefListFull);
  EXPECT_EQ(AddUniqueFeatureRef(list, b), kFeatureRefAlreadyListed) << "a full list still knows its entries";
  EXPECT_EQ(list.Count(), 2);
  FeatureRefList none(0);
  EXPECT_EQ(AddUniqueFeatureRef(none, a), kFeatureRefListFull);
}

TEST(GeometryLibrary, StreetClassQueryFiltersTheNearPointSearch) {
  street_fixtures::StreetMap map;
  map.Add(Street("Siebener Weg", {At(0, 0), At(2000, 0)}));
  map.Add(rmfbuild::Feature::Line(rmfbuild::FeatureClass{1, 5, rmfbuild::FeatureCategory::kLine}, "Fünfer",
                                  {At(0, 4000), At(2000, 4000)}));
  ASSERT_TRUE(map.Build());
  struct Case {
    const char* classes;
    std::int32_t y;
    std::int32_t found;  // inside a segment: one reference per direction
  };
  for (const Case& c : {Case{"5", 0, 0}, Case{"567", 0, 2}, Case{"7", 0, 2}, Case{"7", 4000, 0}, Case{"5", 4000, 2}}) {
    SCOPED_TRACE(testing::Message() << c.classes << " at " << c.y);
    SetStreetClassQuery(map.reader(), c.classes);
    const TiPoint p = At(1000, c.y);
    RmfFeatureRef found[16];
    EXPECT_EQ(RmfFeaturesNear(map.reader(), p.x, p.y, 8, -1, -1, found, 16, nullptr), c.found);
  }
}

}  // namespace
