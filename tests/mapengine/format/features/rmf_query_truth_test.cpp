// The feature query against the builder's ground truth: random maps of
// points, lines and areas (cut at tile borders by the builder), queried with
// random rectangles; every feature the builder says must come back does, and
// nothing comes back that may not.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "mapengine/format/features/RmfQuery.h"
#include "mapengine/format/store/RmfReader.h"
#include "tools/rmfbuild/RmfBuilder.h"
#include "tools/rmfbuild/RmfFeatures.h"
#include "tools/rmfbuild/RmfMemoryReader.h"

namespace {

using rmfbuild::Feature;
using rmfbuild::FeatureCategory;
using rmfbuild::FeatureClass;
using rmfbuild::FeatureMap;

// The region the features lie in: 8 x 8 cells of tile level 2, so lines and
// areas cross tile borders.
constexpr std::int32_t kCell = 4096 * 4;
constexpr std::int32_t kX0 = 1000 * kCell;
constexpr std::int32_t kY0 = 300 * kCell;
constexpr std::int32_t kSpan = 8 * kCell;

TiPoint RandomPoint(std::mt19937& rng) {
  std::uniform_int_distribution<std::int32_t> d(0, kSpan - 1);
  return TiPoint{kX0 + d(rng), kY0 + d(rng)};
}

FeatureMap RandomMap(std::uint32_t seed) {
  std::mt19937 rng(seed);
  FeatureMap map;
  std::uniform_int_distribution<int> classDigit(1, 7);
  for (int i = 0; i < 40; ++i) {
    FeatureClass c{3, classDigit(rng), FeatureCategory::kPoint};
    map.Add(Feature::Point(c, "P" + std::to_string(i), RandomPoint(rng)));
  }
  for (int i = 0; i < 25; ++i) {
    FeatureClass c{3, classDigit(rng), FeatureCategory::kLine};
    std::vector<TiPoint> points;
    const int n = 2 + static_cast<int>(rng() % 5);
    while (static_cast<int>(points.size()) < n) {
      TiPoint p = RandomPoint(rng);
      if (points.empty() || p.x != points.back().x || p.y != points.back().y) points.push_back(p);
    }
    map.Add(Feature::Line(c, "L" + std::to_string(i), points));
  }
  for (int i = 0; i < 8; ++i) {
    FeatureClass c{3, classDigit(rng), FeatureCategory::kArea};
    TiPoint a = RandomPoint(rng);
    std::uniform_int_distribution<std::int32_t> size(kCell / 4, 3 * kCell);
    const std::int32_t w = std::min(size(rng), kX0 + kSpan - a.x);
    const std::int32_t h = std::min(size(rng), kY0 + kSpan - a.y);
    if (w < 16 || h < 16) continue;
    map.Add(Feature::Area(c, "A" + std::to_string(i),
                          {{a.x, a.y}, {a.x + w, a.y}, {a.x + w, a.y + h}, {a.x, a.y + h}}));
  }
  return map;
}

std::set<std::string> NamesOf(const FeatureMap& map, const std::vector<std::size_t>& features) {
  std::set<std::string> names;
  for (std::size_t f : features) names.insert(map.features[f].name);
  return names;
}

TEST(QueryGroundTruth, RandomMapsAndRectangles) {
  int queries = 0;
  // What the queries met, so the comparison cannot pass by meeting nothing.
  std::size_t certainTotal = 0;
  std::set<char> kindsReturned;
  for (std::uint32_t seed = 1; seed <= 6; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    FeatureMap map = RandomMap(seed);
    map.compressed = seed % 2 == 0;
    rmfbuild::MemoryReader maps;
    RmfReader* reader = maps.reader();
    ASSERT_NE(reader, nullptr);
    ASSERT_EQ(maps.AddFeatures(map), 1) << maps.error();
    std::mt19937 rng(seed * 7919);
    for (int q = 0; q < 12; ++q, ++queries) {
      TiPoint a = RandomPoint(rng), b = RandomPoint(rng);
      TiRect rect{std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y)};
      if (rect.x2 - rect.x1 < 64 || rect.y2 - rect.y1 < 64) continue;
      const rmfbuild::ClassFilters filters{"1234567", "1234567", "1234567", ""};
      rmfbuild::ExpectedResult expected = rmfbuild::ExpectedFeatures(map, rect, 1, 8, filters);
      ASSERT_TRUE(expected.ok) << expected.error;

      RmfQuerySetLevels(reader, 1, 8);
      RmfQuerySetClassFilter(reader, '0', "1234567");
      RmfQuerySetClassFilter(reader, '1', "1234567");
      RmfQuerySetClassFilter(reader, '2', "1234567");
      RmfQuerySetClassFilter(reader, 'B', "");
      RmfQuerySetRect(reader, rect.x1, rect.y1, rect.x2, rect.y2);
      RmfQueryStart(reader);
      std::set<std::string> returned;
      char code[6], name[51], detail[251];
      for (int guard = 0; guard < 100000; ++guard) {
        std::int32_t count = 0;
        RmfFeatureRef reference{};
        TiPoint* points = nullptr;
        std::int32_t n = RmfQueryNext(reader, code, name, detail, &count, &reference, &points);
        ASSERT_GE(n, -1) << "query failed";
        if (n == 0) break;
        if (n > 0) returned.insert(name);
      }
      const std::set<std::string> certain = NamesOf(map, expected.Certain());
      const std::set<std::string> possible = NamesOf(map, expected.Possible());
      certainTotal += certain.size();
      for (const std::string& got : returned) kindsReturned.insert(got[0]);
      for (const std::string& must : certain) EXPECT_TRUE(returned.count(must)) << "missing " << must << " query " << q;
      for (const std::string& got : returned) EXPECT_TRUE(possible.count(got)) << "unexpected " << got << " query " << q;
    }
  }
  EXPECT_GT(queries, 40);
  EXPECT_GT(certainTotal, 200u);
  EXPECT_EQ(kindsReturned, (std::set<char>{'A', 'L', 'P'}));
}

}  // namespace
