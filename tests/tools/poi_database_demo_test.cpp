// The demo map's point-of-interest database against the map and the
// extract: every point the query finds in the demo point-of-interest map
// has a record under the key its detail text names, with the category of
// its level and class, the subcategory of its name text and its position;
// and the record's name, address and phone are the tags of the object of
// the extract at that point, read here with libosmium on their own.
#include <gtest/gtest.h>


#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "mapengine/format/features/RmfQuery.h"
#include "outside/dorvanta/PoiStore.h"
#include "tools/osm2rmf/Osm2Rmf.h"
#include "tools/osm2rmf/PoiCategories.h"
#include "tools/rmfbuild/RmfMemoryReader.h"
#include "tests/tools/extract_tags.h"

namespace {

// A point of the map as the query reads it.
struct MapPoint {
  std::string code;
  std::string name;
  std::string detail;
  TiPoint at{};
};

std::vector<MapPoint> ReadMapPoints(const char* path) {
  rmfbuild::MemoryReader maps(16u << 20);
  EXPECT_NE(maps.reader(), nullptr);
  EXPECT_EQ(maps.AddFile(path), 1) << maps.error();
  RmfReader* reader = maps.reader();
  RmfQuerySetLevels(reader, 1, 8);
  for (std::int32_t c = 0; c < 6; ++c) RmfQuerySetClassFilter(reader, c, c == 0 ? "1234567" : "");
  RmfQuerySetRect(reader, osm2rmf::LongitudeToUnits(-180), osm2rmf::LatitudeToUnits(-90),
                  osm2rmf::LongitudeToUnits(180), osm2rmf::LatitudeToUnits(90));
  RmfQueryStart(reader);
  std::vector<MapPoint> points;
  for (;;) {
    char code[6] = {};
    char name[51] = {};
    char detail[251] = {};
    std::int32_t count = 0;
    TiPoint* at = nullptr;
    const std::int32_t n = RmfQueryNext(reader, code, name, detail, &count, nullptr, &at);
    if (n == 0) break;
    EXPECT_GE(n, -1) << "the query failed";
    if (n < -1) break;
    if (n == 1) points.push_back(MapPoint{code, name, detail, at[0]});
  }
  return points;
}

TEST(DemoPoiDatabase, EveryMapPointHasItsRecordWithTheExtractsNameAndAddress) {
  const std::vector<MapPoint> points = ReadMapPoints(DEMO_POI_MAP_PATH);
  ASSERT_GT(points.size(), 1000u) << "the demo extract holds a few thousand points of interest";

  ExtractTags extract;
  extract.Read(DEMO_OSM_PATH);
  const std::string country = extract.Country();
  EXPECT_EQ(country, "DE");

  std::unique_ptr<dorvanta::PoiStore> store;
  ASSERT_EQ(dorvanta::PoiStore::Open(DEMO_POI_DATABASE_PATH, dorvanta::PoiStore::Access::kReadOnly, store),
            dorvanta::DorvantaResult::kOk);
  std::uint64_t records = 0;
  ASSERT_EQ(store->Count(records), dorvanta::DorvantaResult::kOk);
  EXPECT_EQ(records, points.size()) << "one record for each point of the map";

  std::set<std::uint32_t> keys;
  std::size_t wrongRecord = 0, matched = 0, areas = 0, unmatched = 0, named = 0, addressed = 0, phoned = 0;
  for (const MapPoint& p : points) {
    SCOPED_TRACE(p.detail + " " + p.name);
    const std::uint32_t key = static_cast<std::uint32_t>(std::stoul(p.detail));
    EXPECT_TRUE(keys.insert(key).second) << "a key named twice";
    dorvanta::PoiRecord r;
    ASSERT_EQ(store->Get(key, r), dorvanta::DorvantaResult::kOk);
    // Level and class digit of the code say the category; the name text
    // after the comma the subcategory; the position is the map's point.
    const auto [level, classDigit] = osm2rmf::PoiCategoryPair(r.category);
    const std::string subcategory = p.name.substr(p.name.find(',') + 1);
    const bool right = p.code.size() >= 3 && p.code[0] - '0' == level && p.code[1] - '0' == classDigit &&
                       p.code[2] == '0' && std::to_string(r.subcategory) == subcategory &&
                       osm2rmf::LatitudeToUnits(r.latitude) == p.at.y && osm2rmf::LongitudeToUnits(r.longitude) == p.at.x;
    if (!right && ++wrongRecord <= 10) {
      ADD_FAILURE() << "record " << key << ": category " << r.category << "/" << r.subcategory << " at "
                    << r.latitude << ", " << r.longitude << "; the map says " << p.code << " " << p.name << " at "
                    << p.at.x << ", " << p.at.y;
    }
    named += r.name.empty() ? 0 : 1;
    addressed += r.street.empty() ? 0 : 1;
    phoned += r.phone.empty() ? 0 : 1;
    // Objects drawn at the same point: any of them may be the point's.
    bool found = false;
    const auto [from, to] = extract.At(p.at);
    for (auto it = from; it != to && !found; ++it) found = SameAsTags(r, it->second, country);
    if (found) {
      ++matched;
    } else if (from == to && extract.IsArea(r.name)) {
      ++areas;  // a multipolygon's point, at the mean of its rings
    } else if (++unmatched <= 10) {
      ADD_FAILURE() << "record " << key << " \"" << r.name << "\" " << r.houseNumber << " " << r.street << ", "
                    << r.postalCode << " " << r.city << " " << r.country << " tel " << r.phone << ": "
                    << (from == to ? "no object of the extract at its point" : "not the tags of the objects there");
    }
  }
  const double n = static_cast<double>(points.size());
  std::printf(
      "points of interest: %zu; records matching the tags of an object at their point: %zu (%.1f%%), "
      "multipolygon points by name: %zu (%.1f%%), unmatched: %zu; with a name %.1f%%, a street %.1f%%, "
      "a phone %.1f%%\n",
      points.size(), matched, 100 * matched / n, areas, 100 * areas / n, unmatched, 100 * named / n,
      100 * addressed / n, 100 * phoned / n);
  EXPECT_EQ(wrongRecord, 0u);
  EXPECT_EQ(unmatched, 0u);
  EXPECT_GT(named * 2, points.size()) << "most points have names";
}

}  // namespace
