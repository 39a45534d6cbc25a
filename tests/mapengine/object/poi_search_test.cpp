// IMap::FindPOIs on a small point-of-interest map around a centre: points
// of three categories at known distances and bearings, and the user's own
// points registered beside them. Nearest first, by category and
// subcategory, by direction (compass and relative), continued outwards
// without loss or repetition up to the farthest distance, private and public
// user points, no data at all, a time limit, and the argument checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "mapengine/object/CMap.h"
#include "mapengine/object/Geometry.h"
#include "platform/os/clock.h"
#include "tests/mapengine/object/poi_search_fixture.h"
#include "tests/mapengine/object/street_fixtures.h"
#include "tools/rmfbuild/RmfBuilder.h"

namespace {

using street_fixtures::At;

// The centre of the searches and the points round it: key, level and class
// digit (the category's pair), subcategory, metres east and north.
struct TestPoint {
  ULONG key;
  int level;
  int classDigit;
  int subcategory;
  double east;
  double north;
};
// Category 3 is level 1 class 3; category 1 level 1 class 1; category 14
// level 4 class 3.
const TestPoint kPoints[] = {
    {1, 1, 3, 2, 100, 0},    // 100 m east
    {2, 1, 3, 1, -300, 0},   // 300 m west
    {3, 1, 3, 2, 0, 2000},   // 2 km north
    {4, 4, 3, 0, 0, -450},   // 450 m south
    {5, 1, 3, 2, 0, 50},     // 50 m north
    {6, 1, 1, 0, 200, 5},    // 200 m east
};
constexpr double kCentreLatitude = 53.5600;
constexpr double kCentreLongitude = 13.2600;
constexpr double kMaxDistanceKm = 16093.44;
const std::string kPdb = "\\Storage Card\\Maps\\Town_POI_01.pdb";

double MetresPerDegreeLatitude() { return 111194.9; }
double MetresPerDegreeLongitude() { return 111194.9 * std::cos(kCentreLatitude * 0.017453292519943295); }

TiPoint PointAt(double east, double north) {
  return DegreesToMapUnits(kCentreLatitude + north / MetresPerDegreeLatitude(),
                           kCentreLongitude + east / MetresPerDegreeLongitude());
}

std::vector<ULONG> Keys(const FoundPOIs& found) {
  std::vector<ULONG> keys;
  for (const FoundPOI& p : found.points) keys.push_back(p.key);
  return keys;
}

class FindPOIsTest : public POISearchTest {
 protected:
  // Opens a street map and the point-of-interest map of kPoints with its
  // database file.
  void OpenTown(bool withPoints = true) {
    rmfbuild::FeatureMap streets;
    streets.Add(street_fixtures::Street("Hauptstraße", {PointAt(-500, 0), PointAt(500, 0)}));
    std::vector<std::string> files = {Write(streets, "Town.rmf")};
    if (withPoints) {
      rmfbuild::FeatureMap pois;
      for (const TestPoint& p : kPoints) {
        pois.Add(rmfbuild::Feature::Point(
            rmfbuild::FeatureClass{p.level, p.classDigit, rmfbuild::FeatureCategory::kPoint},
            "town_poi_01," + std::to_string(p.subcategory), PointAt(p.east, p.north), std::to_string(p.key)));
      }
      files.push_back(Write(pois, "Town_POI_01.rmf"));
      const std::string pdb = root_ + "/Town_POI_01.pdb";
      std::FILE* f = std::fopen(pdb.c_str(), "wb");
      ASSERT_NE(f, nullptr);
      std::fclose(f);
      files.push_back(pdb);
    }
    ASSERT_NO_FATAL_FAILURE(OpenMapFiles(files));
  }

  std::string Write(const rmfbuild::FeatureMap& map, const std::string& name) {
    const rmfbuild::FeatureBuild built = rmfbuild::BuildFeatureMap(map);
    EXPECT_TRUE(built.ok) << built.error;
    const std::string file = root_ + "/" + name;
    std::string error;
    EXPECT_TRUE(rmfbuild::WriteFile(built.description, file, &error)) << error;
    return file;
  }

  // A user point of `file` registered with the map engine.
  void RegisterUser(const std::u16string& file, ULONG key, SHORT category, SHORT subcategory, double east,
                    double north) {
    IPOISearchInfo* info = Create<IPOISearchInfo>(CLSID_POISearchInfo);
    ASSERT_NE(info, nullptr);
    info->put_Key(key);
    info->put_Category(category);
    info->put_SubCategory(subcategory);
    info->put_Latitude(kCentreLatitude + north / MetresPerDegreeLatitude());
    info->put_Longitude(kCentreLongitude + east / MetresPerDegreeLongitude());
    BSTR name = SysAllocString(file.c_str());
    VARIANT_BOOL ok = VARIANT_FALSE;
    EXPECT_EQ(map_->RegisterUserPOI(name, info, &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_TRUE);
    SysFreeString(name);
    info->Release();
  }

  FoundPOIs Find(IPOISearchConfigurationObject* config, bool removeDuplicates = true, double distance = 0.0) {
    return POISearchTest::Find(kCentreLatitude, kCentreLongitude, config, removeDuplicates, distance);
  }
};

TEST_F(FindPOIsTest, ContinuedSearchesGoOutwardsNearestFirstWithoutLossOrRepetition) {
  ASSERT_NO_FATAL_FAILURE(OpenTown());
  IPOISearchConfigurationObject* config = NewConfig();
  ASSERT_NE(config, nullptr);
  std::vector<ULONG> all;
  double distance = 0.0;
  double previous = -1.0;
  int searches = 0;
  for (; searches < 50; ++searches) {
    const FoundPOIs found = Find(config, true, distance);
    ASSERT_EQ(found.hr, S_OK);
    EXPECT_GT(found.distance, previous);
    previous = found.distance;
    distance = found.distance;
    for (const FoundPOI& p : found.points) EXPECT_EQ(p.file, kPdb);
    const std::vector<ULONG> keys = Keys(found);
    all.insert(all.end(), keys.begin(), keys.end());
    if (!found.found) {
      EXPECT_TRUE(keys.empty());
      break;
    }
  }
  EXPECT_EQ(all, (std::vector<ULONG>{5, 1, 6, 2, 4, 3}));
  EXPECT_DOUBLE_EQ(distance, kMaxDistanceKm);

  // Starting at 0 again forgets what was reported: the first band again (a
  // square of 250 m corners: 200 m east lies outside it).
  const FoundPOIs again = Find(config, true, 0.0);
  EXPECT_EQ(Keys(again), (std::vector<ULONG>{5, 1}));
}

TEST_F(FindPOIsTest, CategoriesSubcategoriesAndDirectionsChooseThePoints) {
  ASSERT_NO_FATAL_FAILURE(OpenTown());
  struct Case {
    const char* what;
    SHORT category;
    SHORT subcategory;
    int direction;
    SHORT heading;
    std::vector<ULONG> keys;  // every key found, search after search, in order
  };
  const Case cases[] = {
      {"category 3, every subcategory", 3, 0, 0, -1, {5, 1, 2, 3}},
      {"category 3, subcategory 2", 3, 2, 0, -1, {5, 1, 3}},
      {"category 14 (level 4)", 14, 0, 0, -1, {4}},
      {"category 1", 1, 0, 0, -1, {6}},
      {"east: due east is kept, north and west are not", 0, 0, 2, -1, {1, 6}},
      {"west", 0, 0, 4, -1, {2}},
      {"left of a heading of 100: north", 0, 0, 8, 100, {5, 3}},
      {"behind a heading of 0: south", 0, 0, 7, 0, {4}},
      {"ahead without a heading: all round", 1, 0, 5, -1, {6}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    IPOISearchConfigurationObject* config = NewConfig();
    ASSERT_NE(config, nullptr);
    config->SetCategoryNumber(c.category);
    config->SetSubCategoryNumber(c.subcategory);
    config->SetSearchDirection(static_cast<Directions>(c.direction));
    config->SetCurrentHeadingDegrees(c.heading);
    std::vector<ULONG> keys;
    double distance = 0.0;
    for (int searches = 0; searches < 50 && distance < kMaxDistanceKm; ++searches) {
      const FoundPOIs found = Find(config, true, distance);
      ASSERT_EQ(found.hr, S_OK);
      const std::vector<ULONG> some = Keys(found);
      keys.insert(keys.end(), some.begin(), some.end());
      distance = found.distance;
    }
    EXPECT_EQ(keys, c.keys);
  }
}

TEST_F(FindPOIsTest, UserPointsAreFoundBesideTheMapsAndAloneWhenOnlyTheyAreAsked) {
  ASSERT_NO_FATAL_FAILURE(OpenTown());
  RegisterUser(u"\\CompactFlash\\Maps\\user.pdb", 77, 18, 1, -20, -20);  // about 28 m south-west
  RegisterUser(u"\\CompactFlash\\Maps\\user.pdb", 78, 3, 2, 0, 1000);    // 1 km north

  IPOISearchConfigurationObject* all = NewConfig();
  ASSERT_NE(all, nullptr);
  const FoundPOIs near = Find(all);
  ASSERT_FALSE(near.points.empty());
  EXPECT_EQ(near.points[0], (FoundPOI{"\\CompactFlash\\Maps\\user.pdb", 77}));
  EXPECT_EQ(Keys(near), (std::vector<ULONG>{77, 5, 1}));

  // Category 3, subcategory 2 keeps the user point of that category.
  IPOISearchConfigurationObject* three = NewConfig();
  ASSERT_NE(three, nullptr);
  three->SetCategoryNumber(3);
  three->SetSubCategoryNumber(2);
  std::vector<ULONG> keys;
  for (double distance = 0.0; distance < kMaxDistanceKm;) {
    const FoundPOIs found = Find(three, true, distance);
    const std::vector<ULONG> some = Keys(found);
    keys.insert(keys.end(), some.begin(), some.end());
    distance = found.distance;
  }
  EXPECT_EQ(keys, (std::vector<ULONG>{5, 1, 78, 3}));

  // Private only and public only together are public only: the user points
  // alone.
  IPOISearchConfigurationObject* users = NewConfig();
  ASSERT_NE(users, nullptr);
  users->SetUserPrivateOnly(VARIANT_TRUE);
  users->SetUserPublicOnly(VARIANT_TRUE);
  const FoundPOIs own = Find(users);
  EXPECT_EQ(Keys(own), (std::vector<ULONG>{77, 78}));
}

TEST_F(FindPOIsTest, WithoutAnyPointOfInterestTheSearchEndsAtTheFarthestDistance) {
  ASSERT_NO_FATAL_FAILURE(OpenTown(false));
  IPOISearchConfigurationObject* config = NewConfig();
  ASSERT_NE(config, nullptr);
  const FoundPOIs found = Find(config);
  EXPECT_EQ(found.hr, S_OK);
  EXPECT_FALSE(found.found);
  EXPECT_TRUE(found.points.empty());
  EXPECT_DOUBLE_EQ(found.distance, kMaxDistanceKm);
}

// A clock whose system time runs on a second every time it is read: a search
// that reads it meets its time limit at once.
class RunningClock : public platform::VirtualClock {
 public:
  using platform::VirtualClock::VirtualClock;
  SYSTEMTIME SystemTime() override {
    Advance(1000);
    return platform::VirtualClock::SystemTime();
  }
};

TEST_F(FindPOIsTest, ATimeLimitStopsTheSearchWhereItGot) {
  ASSERT_NO_FATAL_FAILURE(OpenTown());
  RunningClock clock(SYSTEMTIME{2026, 12, 5, 11, 10, 59, 30, 0});
  platform::SetClock(&clock);
  IPOISearchConfigurationObject* config = NewConfig();
  ASSERT_NE(config, nullptr);
  config->SetMaxSearchTime(2);
  const FoundPOIs found = Find(config);
  platform::SetClock(nullptr);
  EXPECT_EQ(found.hr, S_OK);
  EXPECT_FALSE(found.found);
  EXPECT_LT(found.distance, kMaxDistanceKm);
}

// Numbers from the caller outside what a search works with: a heading
// beyond a turn (or near the 16-bit limit) is taken modulo 360, a maximum
// result count near the 32-bit limit counts as a very large one, a negative
// start distance as 0; a start distance or a position that is not a number
// is refused, with no search and no points.
TEST_F(FindPOIsTest, OutsideNumbersAreReducedClampedOrRefused) {
  ASSERT_NO_FATAL_FAILURE(OpenTown());
  // The keys of a search run out to the farthest distance.
  const auto all = [this](IPOISearchConfigurationObject* config, double start) {
    std::vector<ULONG> keys;
    double distance = start;
    for (int searches = 0; searches < 50 && !(distance >= kMaxDistanceKm); ++searches) {
      const FoundPOIs found = Find(config, true, distance);
      EXPECT_EQ(found.hr, S_OK);
      if (found.hr != S_OK) break;
      const std::vector<ULONG> some = Keys(found);
      keys.insert(keys.end(), some.begin(), some.end());
      distance = found.distance;
    }
    return keys;
  };
  const auto config = [this](int direction, SHORT heading, LONG maxResults) {
    IPOISearchConfigurationObject* c = NewConfig();
    EXPECT_NE(c, nullptr);
    if (c != nullptr) {
      c->SetSearchDirection(static_cast<Directions>(direction));
      c->SetCurrentHeadingDegrees(heading);
      c->SetMaxSearchResults(maxResults);
    }
    return c;
  };

  // Left of a heading of 100 (north): the same for every number of turns.
  const std::vector<ULONG> left = all(config(8, 100, 10), 0.0);
  ASSERT_FALSE(left.empty());
  for (const SHORT heading : {SHORT{460}, SHORT{-260}, SHORT{-620}, SHORT{100 + 360 * 90}, SHORT{100 - 360 * 91}}) {
    SCOPED_TRACE(heading);
    EXPECT_EQ(all(config(8, heading, 10), 0.0), left);
  }

  // Every point, nearest first, whatever the largest counts.
  const std::vector<ULONG> every = all(config(0, -1, 1000000), 0.0);
  ASSERT_GE(every.size(), 4u);
  for (const LONG most : {LONG{0x7FFFFFFF}, LONG{0x7FFFFFFE}, LONG{0x6AAAAAAB}}) {
    SCOPED_TRACE(most);
    EXPECT_EQ(all(config(0, -1, most), 0.0), every);
  }
  EXPECT_EQ(all(config(0, -1, 1000000), -3.5), every);

  // Not a number: refused.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double infinity = std::numeric_limits<double>::infinity();
  IPOISearchConfigurationObject* plain = config(0, -1, 10);
  for (const double start : {nan, infinity}) {
    const FoundPOIs refused = Find(plain, true, start);
    EXPECT_EQ(refused.hr, E_INVALIDARG);
    EXPECT_FALSE(refused.found);
    EXPECT_TRUE(refused.points.empty());
  }
  for (const auto& [latitude, longitude] : {std::pair{nan, kCentreLongitude}, std::pair{kCentreLatitude, nan},
                                            std::pair{infinity, kCentreLongitude}}) {
    const FoundPOIs refused = POISearchTest::Find(latitude, longitude, plain, true, 0.0);
    EXPECT_EQ(refused.hr, E_INVALIDARG);
    EXPECT_TRUE(refused.points.empty());
  }
}

TEST_F(FindPOIsTest, ArgumentsAreChecked) {
  ASSERT_NO_FATAL_FAILURE(OpenTown());
  IPOISearchConfigurationObject* config = NewConfig();
  ASSERT_NE(config, nullptr);
  ILocationObject* location = Location(kCentreLatitude, kCentreLongitude);
  IFoundPOIIndexes* list = Create<IFoundPOIIndexes>(CLSID_FoundPOIIndexes);
  ASSERT_NE(location, nullptr);
  ASSERT_NE(list, nullptr);
  IUnknown* found = list;
  double distance = 0.0;
  VARIANT_BOOL any = VARIANT_TRUE;
  IPOISearchConfigurationObject* c = config;
  EXPECT_EQ(map_->FindPOIs(nullptr, c, VARIANT_TRUE, &found, &distance, &any), E_POINTER);
  EXPECT_EQ(map_->FindPOIs(location, nullptr, VARIANT_TRUE, &found, &distance, &any), E_POINTER);
  EXPECT_EQ(map_->FindPOIs(location, c, VARIANT_TRUE, nullptr, &distance, &any), E_POINTER);
  EXPECT_EQ(map_->FindPOIs(location, c, VARIANT_TRUE, &found, nullptr, &any), E_POINTER);
  EXPECT_EQ(map_->FindPOIs(location, c, VARIANT_TRUE, &found, &distance, nullptr), E_POINTER);
  // Objects that are not what they stand for: no search, no points.
  IUnknown* notAList = location;
  EXPECT_EQ(map_->FindPOIs(location, c, VARIANT_TRUE, &notAList, &distance, &any), S_OK);
  EXPECT_EQ(any, VARIANT_FALSE);
  EXPECT_EQ(map_->FindPOIs(list, c, VARIANT_TRUE, &found, &distance, &any), S_OK);
  EXPECT_EQ(any, VARIANT_FALSE);
  LONG count = -1;
  list->Count(&count);
  EXPECT_EQ(count, 0);
  list->Release();
  location->Release();
}

}  // namespace
