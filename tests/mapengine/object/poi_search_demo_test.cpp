// IMap::FindPOIs on the demo map's point-of-interest file, against the
// points the file holds (read with the map-format library's query over the
// whole file, their distances computed here): from real addresses of the
// town, searches by category, continued outwards to the farthest distance,
// hand out every point of the category once and no other, each search's
// points nearest first; searches towards the east keep to the east; the
// user's points of a database file, listed by the database server and
// registered with the map engine, are found beside the map's; every point
// found, read back from its database file through the database server as
// the engine's point-of-interest object, has the name and address of the
// extract's object at its point (read with libosmium on their own).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <memory>
#include <set>
#include <utility>
#include <string>
#include <vector>

#include "mapengine/format/features/RmfQuery.h"
#include "mapengine/object/CMap.h"
#include "mapengine/object/Utilities.h"
#include "platform/os/text.h"
#include "outside/dorvanta/PoiStore.h"
#include "tests/mapengine/object/extract_addresses.h"
#include "tests/mapengine/object/poi_search_fixture.h"
#include "tests/tools/extract_tags.h"

namespace {

constexpr int kCentres = 5;
constexpr std::uint32_t kSeed = 20261211;
constexpr double kMaxDistanceKm = 16093.44;
constexpr double kRadiansPerDegree = 0.017453292519943295;
// Categories with at least this many points are searched.
constexpr std::size_t kFewestPoints = 15;

struct MapPoint {
  ULONG key = 0;
  int category = 0;
  double latitude = 0;
  double longitude = 0;
};

// The category of a point's level and class digits.
int CategoryOf(char level, char klass) {
  static const char16_t kCodes[] = u"111213151721222324253233344344525471";
  for (int c = 1; c <= 18; ++c) {
    if (kCodes[2 * (c - 1)] == level && kCodes[2 * (c - 1) + 1] == klass) return c;
  }
  return 0;
}

double Metres(double lat1, double lon1, double lat2, double lon2) {
  return GreatCircleDistance(lat1 * kRadiansPerDegree, lon1 * kRadiansPerDegree, lat2 * kRadiansPerDegree,
                             lon2 * kRadiansPerDegree) *
         1852.0;
}

class DemoPOISearchTest : public POISearchTest {
 protected:
  // Every point of the point-of-interest file, by key.
  std::map<ULONG, MapPoint> ReadPoints() {
    std::map<ULONG, MapPoint> points;
    RmfReader* reader = map_->m_RdrPOI.get();
    double min[2] = {0, 0};
    double max[2] = {0, 0};
    RmfReaderGetBoundsDegrees(reader, min, max);
    RmfQuerySetLevels(reader, 1, 8);
    RmfQuerySetClassFilter(reader, 0, "1234567");
    RmfQuerySetRectDegrees(reader, min[0] - 0.01, min[1] - 0.01, max[0] + 0.01, max[1] + 0.01);
    RmfQueryStart(reader);
    char code[6] = {};
    char name[51] = {};
    char detail[251] = {};
    std::int32_t texts = 0;
    double* at = nullptr;
    while (RmfQueryNextDegrees(reader, code, name, detail, &texts, nullptr, &at) > 0) {
      MapPoint p;
      p.key = static_cast<ULONG>(std::strtoul(detail, nullptr, 10));
      p.category = CategoryOf(code[0], code[1]);
      p.longitude = at[0];
      p.latitude = at[1];
      points[p.key] = p;
    }
    return points;
  }
};

TEST_F(DemoPOISearchTest, CategorySearchesHandOutEveryPointOnceNearestFirst) {
  std::vector<OsmAddress> addresses = ReadExtractAddresses(DEMO_OSM_PATH);
  ASSERT_GE(addresses.size(), static_cast<std::size_t>(kCentres));
  std::shuffle(addresses.begin(), addresses.end(), std::mt19937(kSeed));
  ASSERT_NO_FATAL_FAILURE(OpenMapFiles({DEMO_MAP_PATH, DEMO_POI_MAP_PATH, DEMO_POI_DATABASE_PATH}));
  ASSERT_NE(map_->m_RdrPOI.get(), nullptr);
  const std::map<ULONG, MapPoint> points = ReadPoints();
  ASSERT_GT(points.size(), 100u);
  std::map<int, std::set<ULONG>> byCategory;
  for (const auto& [key, p] : points) byCategory[p.category].insert(key);

  std::size_t searches = 0, sorted = 0, runs = 0, complete = 0, exact = 0, nearestFirst = 0, eastward = 0,
              eastKept = 0;
  // The time per search is measured by bench/poi_search_bench.cpp.
  for (int i = 0; i < kCentres; ++i) {
    const DegreePoint centre = MapUnitsToDegrees(addresses[static_cast<std::size_t>(i)].point.x,
                                                 addresses[static_cast<std::size_t>(i)].point.y);
    for (const auto& [category, keys] : byCategory) {
      if (category == 0 || keys.size() < kFewestPoints) continue;
      for (const int direction : {0, 2}) {
        IPOISearchConfigurationObject* config = NewConfig();
        ASSERT_NE(config, nullptr);
        config->SetCategoryNumber(static_cast<SHORT>(category));
        config->SetSearchDirection(static_cast<Directions>(direction));
        std::vector<ULONG> found;
        double distance = 0.0;
        bool firstSearch = true;
        for (int call = 0; call < 400 && distance < kMaxDistanceKm; ++call) {
          const FoundPOIs result = Find(centre.latitude, centre.longitude, config, true, distance);
          ASSERT_EQ(result.hr, S_OK);
          ASSERT_GT(result.distance, distance);
          distance = result.distance;
          ++searches;
          bool inOrder = true;
          double last = -1;
          for (const FoundPOI& p : result.points) {
            const MapPoint& m = points.at(p.key);
            const double metres = Metres(centre.latitude, centre.longitude, m.latitude, m.longitude);
            inOrder = inOrder && metres >= last - 0.5;
            last = metres;
            found.push_back(p.key);
            if (direction == 2) {
              ++eastward;
              const double course = GreatCircleCourse(centre.latitude * kRadiansPerDegree,
                                                      centre.longitude * kRadiansPerDegree,
                                                      m.latitude * kRadiansPerDegree, m.longitude * kRadiansPerDegree) /
                                    kRadiansPerDegree;
              eastKept += std::abs(course - 90.0) <= 75.5 ? 1 : 0;
            }
          }
          sorted += inOrder ? 1 : 0;
          if (firstSearch && !result.points.empty()) {
            firstSearch = false;
            // The nearest point of the category in the searched direction.
            double best = 1e18;
            ULONG nearest = 0;
            for (const ULONG key : keys) {
              const MapPoint& m = points.at(key);
              if (direction == 2) {
                const double course = GreatCircleCourse(centre.latitude * kRadiansPerDegree,
                                                        centre.longitude * kRadiansPerDegree,
                                                        m.latitude * kRadiansPerDegree,
                                                        m.longitude * kRadiansPerDegree) /
                                      kRadiansPerDegree;
                if (std::abs(course - 90.0) > 75) continue;
              }
              const double metres = Metres(centre.latitude, centre.longitude, m.latitude, m.longitude);
              if (metres < best) {
                best = metres;
                nearest = key;
              }
            }
            nearestFirst += result.points[0].key == nearest ? 1 : 0;
          }
        }
        EXPECT_EQ(distance, kMaxDistanceKm);
        ++runs;
        const std::set<ULONG> unique(found.begin(), found.end());
        EXPECT_EQ(unique.size(), found.size()) << "category " << category << " direction " << direction;
        bool ofCategory = true;
        for (const ULONG key : unique) ofCategory = ofCategory && keys.count(key) > 0;
        EXPECT_TRUE(ofCategory);
        if (direction == 0) {
          complete += unique == keys ? 1 : 0;
          exact += unique == keys && unique.size() == found.size() ? 1 : 0;
        }
      }
    }
  }
  const auto share = [](std::size_t k, std::size_t of) { return of == 0 ? 0.0 : 100.0 * static_cast<double>(k) / of; };
  std::printf("%zu points of interest; %zu continued runs from %d addresses (%zu searches): every point of the "
              "category once %.1f%% of the all-round runs; searches nearest first %.1f%%; the first point the "
              "nearest of the category %.1f%%; eastward points within 75 degrees of east %.1f%% of %zu\n",
              points.size(), runs, kCentres, searches, share(exact, runs / 2), share(sorted, searches), share(nearestFirst, runs), share(eastKept, eastward),
              eastward);
  EXPECT_EQ(complete, runs / 2);
  EXPECT_EQ(sorted, searches);
  EXPECT_EQ(eastKept, eastward);
}

// A search towards north, east, south or west, continued outwards until it
// has covered a kilometre all round, hands out every point of the category within a kilometre that
// lies within its tolerance of the direction (75 degrees; a degree either
// side of it is left out of the question for rounding).
TEST_F(DemoPOISearchTest, DirectionalSearchesHandOutEveryNearPointInTheirDirection) {
  std::vector<OsmAddress> addresses = ReadExtractAddresses(DEMO_OSM_PATH);
  ASSERT_GE(addresses.size(), static_cast<std::size_t>(kCentres));
  std::shuffle(addresses.begin(), addresses.end(), std::mt19937(kSeed + 1));
  ASSERT_NO_FATAL_FAILURE(OpenMapFiles({DEMO_MAP_PATH, DEMO_POI_MAP_PATH, DEMO_POI_DATABASE_PATH}));
  ASSERT_NE(map_->m_RdrPOI.get(), nullptr);
  const std::map<ULONG, MapPoint> points = ReadPoints();
  std::map<int, std::set<ULONG>> byCategory;
  for (const auto& [key, p] : points) byCategory[p.category].insert(key);

  constexpr double kNearKm = 1.0;
  std::size_t runs = 0, expected = 0, handedOut = 0, strays = 0;
  for (int i = 0; i < kCentres; ++i) {
    const DegreePoint centre = MapUnitsToDegrees(addresses[static_cast<std::size_t>(i)].point.x,
                                                 addresses[static_cast<std::size_t>(i)].point.y);
    for (const auto& [category, keys] : byCategory) {
      if (category == 0 || keys.size() < kFewestPoints) continue;
      for (const int direction : {1, 2, 3, 4}) {
        const double bearing = 90.0 * (direction - 1);
        IPOISearchConfigurationObject* config = NewConfig();
        ASSERT_NE(config, nullptr);
        config->SetCategoryNumber(static_cast<SHORT>(category));
        config->SetSearchDirection(static_cast<Directions>(direction));
        std::set<ULONG> found;
        double distance = 0.0;
        // The bands are squares round the centre: a point a kilometre away
        // lies within a band that ends by the square's half diagonal.
        for (int call = 0; call < 400 && distance < kNearKm * 1.4143; ++call) {
          const FoundPOIs result = Find(centre.latitude, centre.longitude, config, true, distance);
          ASSERT_EQ(result.hr, S_OK);
          ASSERT_GT(result.distance, distance);
          distance = result.distance;
          for (const FoundPOI& p : result.points) found.insert(p.key);
        }
        ++runs;
        for (const ULONG key : keys) {
          const MapPoint& m = points.at(key);
          const double metres = Metres(centre.latitude, centre.longitude, m.latitude, m.longitude);
          if (metres < 1.0) continue;  // no course to speak of
          const double course =
              GreatCircleCourse(centre.latitude * kRadiansPerDegree, centre.longitude * kRadiansPerDegree,
                                m.latitude * kRadiansPerDegree, m.longitude * kRadiansPerDegree) /
              kRadiansPerDegree;
          const double off = std::abs(std::remainder(course - bearing, 360.0));
          const bool handed = found.count(key) > 0;
          if (off > 76.0) strays += handed ? 1 : 0;
          if (metres > kNearKm * 1000.0 || off > 74.0) continue;
          ++expected;
          if (handed) {
            ++handedOut;
          } else if (expected - handedOut <= 20) {
            std::printf("  category %d direction %d: point %lu %.0f m away at %.0f degrees not handed out\n",
                        category, direction, static_cast<unsigned long>(key), metres, course);
          }
        }
      }
    }
  }
  std::printf("%zu directional runs from %d addresses: %zu of %zu points within %.0f km in the direction handed "
              "out; %zu points handed out outside it\n",
              runs, kCentres, handedOut, expected, kNearKm, strays);
  ASSERT_GT(expected, 100u);
  EXPECT_EQ(handedOut, expected);
  EXPECT_EQ(strays, 0u);
}

TEST_F(DemoPOISearchTest, UserPointsFromADatabaseFileAreFoundBesideTheMaps) {
  ASSERT_NO_FATAL_FAILURE(OpenMapFiles({DEMO_MAP_PATH, DEMO_POI_MAP_PATH, DEMO_POI_DATABASE_PATH}));
  const std::map<ULONG, MapPoint> points = ReadPoints();
  // The user's own points, 30 m, 120 m and 700 m north of a centre in the
  // town, kept in a database file of their own as the navigation engine
  // keeps them.
  const double latitude = 53.5573;
  const double longitude = 13.2614;
  const double metresPerDegree = 111194.9;
  const std::string file = root_ + "/user.pdb";
  {
    std::unique_ptr<dorvanta::PoiStore> store;
    ASSERT_EQ(dorvanta::PoiStore::Open(file, dorvanta::PoiStore::Access::kReadWrite, store), dorvanta::DorvantaResult::kOk);
    for (const auto& [key, north] : {std::pair{501u, 30.0}, std::pair{502u, 120.0}, std::pair{503u, 700.0}}) {
      dorvanta::PoiRecord r;
      r.key = key;
      r.name = "Bench " + std::to_string(key);
      r.category = 18;
      r.subcategory = 1;
      r.latitude = latitude + north / metresPerDegree;
      r.longitude = longitude;
      ASSERT_EQ(store->Put(r), dorvanta::DorvantaResult::kOk);
    }
  }
  // Its points listed by the database server and registered with the map
  // engine, as the engine does with a stand-alone database file.
  IDatabase* database = Create<IDatabase>(CLSID_Database);
  ASSERT_NE(database, nullptr);
  BSTR path = SysAllocString(platform::Utf8ToUtf16(file).c_str());
  LONG opened = 0;
  ASSERT_EQ(database->DbOpen(path, &opened), S_OK);
  EXPECT_EQ(opened, 1);
  VARIANT list;
  VariantInit(&list);
  VARIANT_BOOL listed = VARIANT_FALSE;
  ASSERT_EQ(database->DbPOIListSearchInfos(path, &list, &listed), S_OK);
  EXPECT_EQ(listed, VARIANT_TRUE);
  VARIANT_BOOL registered = VARIANT_FALSE;
  ASSERT_EQ(map_->RegisterUserPOIs(path, &list, &registered), S_OK);
  EXPECT_EQ(registered, VARIANT_TRUE);
  VariantClear(&list);
  database->DbClose();
  database->Release();

  // Every point, continued outwards: the map's and the user's, each once.
  IPOISearchConfigurationObject* config = NewConfig();
  ASSERT_NE(config, nullptr);
  std::vector<FoundPOI> found;
  for (double distance = 0.0; distance < kMaxDistanceKm;) {
    const FoundPOIs result = Find(latitude, longitude, config, true, distance);
    ASSERT_EQ(result.hr, S_OK);
    ASSERT_GT(result.distance, distance);
    distance = result.distance;
    found.insert(found.end(), result.points.begin(), result.points.end());
  }
  SysFreeString(path);
  std::vector<ULONG> user;
  std::set<ULONG> mapKeys;
  for (const FoundPOI& p : found) {
    if (p.file == file) {
      user.push_back(p.key);
    } else {
      mapKeys.insert(p.key);
    }
  }
  EXPECT_EQ(user, (std::vector<ULONG>{501, 502, 503}));
  EXPECT_EQ(mapKeys.size() + user.size(), found.size());
  EXPECT_EQ(mapKeys.size(), points.size());
}

// A text property of a point-of-interest object, as UTF-8.
std::string Text(IPOIObject* poi, HRESULT (STDMETHODCALLTYPE IPOIObject::*get)(BSTR*)) {
  BSTR text = nullptr;
  if ((poi->*get)(&text) != S_OK) return "(unreadable)";
  std::string value = platform::Utf16ToUtf8(BstrView(text));
  SysFreeString(text);
  return value;
}

TEST_F(DemoPOISearchTest, EveryFoundPointIsReadBackWithTheExtractsNameAndAddress) {
  std::vector<OsmAddress> addresses = ReadExtractAddresses(DEMO_OSM_PATH);
  ASSERT_GE(addresses.size(), static_cast<std::size_t>(kCentres));
  std::shuffle(addresses.begin(), addresses.end(), std::mt19937(kSeed + 1));
  ASSERT_NO_FATAL_FAILURE(OpenMapFiles({DEMO_MAP_PATH, DEMO_POI_MAP_PATH, DEMO_POI_DATABASE_PATH}));
  const std::map<ULONG, MapPoint> points = ReadPoints();
  ExtractTags extract;
  extract.Read(DEMO_OSM_PATH);
  const std::string country = extract.Country();

  IDatabase* database = Create<IDatabase>(CLSID_Database);
  ASSERT_NE(database, nullptr);
  std::set<std::string> opened;
  std::size_t read = 0, matched = 0, areas = 0, wrong = 0;
  for (int i = 0; i < kCentres; ++i) {
    const DegreePoint centre = MapUnitsToDegrees(addresses[static_cast<std::size_t>(i)].point.x,
                                                 addresses[static_cast<std::size_t>(i)].point.y);
    // What is near: every category, continued outwards until the nearest
    // 60 points are out.
    IPOISearchConfigurationObject* config = NewConfig();
    ASSERT_NE(config, nullptr);
    std::vector<FoundPOI> found;
    for (double distance = 0.0; distance < kMaxDistanceKm && found.size() < 60;) {
      const FoundPOIs result = Find(centre.latitude, centre.longitude, config, true, distance);
      ASSERT_EQ(result.hr, S_OK);
      distance = result.distance;
      found.insert(found.end(), result.points.begin(), result.points.end());
    }
    ASSERT_GE(found.size(), 60u);

    for (const FoundPOI& entry : found) {
      SCOPED_TRACE(entry.file + " " + std::to_string(entry.key));
      BSTR file = SysAllocString(platform::Utf8ToUtf16(entry.file).c_str());
      if (opened.insert(entry.file).second) {
        LONG count = 0;
        EXPECT_EQ(database->DbOpen(file, &count), S_OK);
      }
      IDispatch* object = nullptr;
      VARIANT_BOOL success = VARIANT_FALSE;
      const HRESULT hr = database->DbPOIGetRecord(file, entry.key, &object, &success);
      SysFreeString(file);
      ASSERT_EQ(hr, S_OK);
      ASSERT_EQ(success, VARIANT_TRUE);
      IPOIObject* poi = nullptr;
      ASSERT_EQ(object->QueryInterface(IID_IPOIObject, reinterpret_cast<void**>(&poi)), S_OK);
      object->Release();
      ++read;

      // The record is the map's point: its key, category and position.
      const MapPoint& m = points.at(entry.key);
      LONG key = 0;
      SHORT category = 0;
      double latitude = 0, longitude = 0;
      poi->GetKey(&key);
      poi->GetCategoryNumber(&category);
      poi->GetLatitude(&latitude);
      poi->GetLongitude(&longitude);
      const TiPoint at{osm2rmf::LongitudeToUnits(longitude), osm2rmf::LatitudeToUnits(latitude)};
      const bool samePoint = static_cast<ULONG>(key) == entry.key && category == m.category &&
                             std::abs(latitude - m.latitude) < 1e-5 && std::abs(longitude - m.longitude) < 1e-5;

      // Its name, address and phone are those of an object of the extract
      // drawn at that point.
      dorvanta::PoiRecord said;
      said.name = Text(poi, &IPOIObject::GetName);
      said.houseNumber = Text(poi, &IPOIObject::GetAddressNumber);
      said.street = Text(poi, &IPOIObject::GetStreet);
      said.city = Text(poi, &IPOIObject::GetCity);
      said.postalCode = Text(poi, &IPOIObject::GetZipCode);
      said.country = Text(poi, &IPOIObject::GetCountry);
      said.phone = Text(poi, &IPOIObject::GetPhoneNumber);
      EXPECT_EQ(Text(poi, &IPOIObject::GetPDBFile), entry.file);
      poi->Release();
      bool tagged = false;
      const auto [from, to] = extract.At(at);
      for (auto it = from; it != to && !tagged; ++it) tagged = SameAsTags(said, it->second, country);
      if (samePoint && tagged) {
        ++matched;
      } else if (samePoint && from == to && extract.IsArea(said.name)) {
        ++areas;  // a multipolygon's point, at the mean of its rings
      } else if (++wrong <= 10) {
        ADD_FAILURE() << "\"" << said.name << "\" " << said.houseNumber << " " << said.street << ", " << said.city
                      << (samePoint ? ": not the tags of an object at its point" : ": not the map's point");
      }
    }
  }
  database->DbClose();
  database->Release();
  std::printf("%zu points found from %d addresses read back through the database server: %zu with the name, "
              "address and phone of the extract's object at their point, %zu multipolygon points by name, %zu "
              "wrong\n",
              read, kCentres, matched, areas, wrong);
  EXPECT_EQ(wrong, 0u);
  EXPECT_EQ(matched + areas, read);
}

}  // namespace
