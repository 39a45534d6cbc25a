// Tests of the converter's point-of-interest categories: the pairs they are
// written at are the ones the map engine's search looks under, and tags pick
// the category and subcategory the way the tables mean.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tools/osm2rmf/PoiCategories.h"

namespace {

using osm2rmf::ClassifyPoi;
using osm2rmf::PoiClass;
using osm2rmf::Tags;

TEST(PoiCategories, PairsAreTheSearchsLevelAndClassOfEachCategory) {
  // The search reads category n's level and class from the n-th digit pair.
  const std::string codes = "111213151721222324253233344344525471";
  for (int c = 1; c <= 18; ++c) {
    const auto [level, classDigit] = osm2rmf::PoiCategoryPair(c);
    EXPECT_EQ(level, codes[static_cast<std::size_t>(2 * c - 2)] - '0') << "category " << c;
    EXPECT_EQ(classDigit, codes[static_cast<std::size_t>(2 * c - 1)] - '0') << "category " << c;
  }
  EXPECT_EQ(osm2rmf::PoiCategoryPair(0), (std::pair<int, int>{0, 0}));
  EXPECT_EQ(osm2rmf::PoiCategoryPair(19), (std::pair<int, int>{0, 0}));
  EXPECT_TRUE(osm2rmf::PoiCategoryName(18).empty()) << "the user's own points are not the converter's";
  EXPECT_TRUE(osm2rmf::PoiSubcategoryName(1, 0).empty());
  EXPECT_TRUE(osm2rmf::PoiSubcategoryName(1, osm2rmf::PoiSubcategoryCount(1) + 1).empty());
}

TEST(PoiCategories, TagsPickCategoryAndSubcategory) {
  struct Case {
    Tags tags;
    int category;  // 0: no point of interest
    int subcategory;
  };
  const Case cases[] = {
      {{{"amenity", "pharmacy"}}, 5, 2},
      {{{"name", "Kiosk am Markt"}, {"shop", "kiosk"}}, 10, 16},
      {{{"shop", "pet"}}, 10, 0},                          // any other shop
      {{{"shop", "no"}}, 0, 0},                            // a key's "no" is no shop
      {{{"amenity", "bench"}}, 0, 0},                      // street furniture is left out
      {{{"amenity", "fuel"}, {"shop", "kiosk"}}, 2, 1},    // the amenity row comes first
      {{{"shop", "bicycle"}}, 15, 5},                      // a shop row of another category
      {{{"highway", "bus_stop"}, {"name", "Bahnhof"}}, 14, 1},
      {{{"highway", "residential"}}, 0, 0},
      {{{"office", "government"}}, 16, 1},
      {{{"office", "insurance"}}, 17, 1},
      {{}, 0, 0},
  };
  for (const Case& c : cases) {
    const std::optional<PoiClass> got = ClassifyPoi(c.tags);
    std::string what;
    for (const auto& [k, v] : c.tags) what += k + "=" + v + " ";
    if (c.category == 0) {
      EXPECT_FALSE(got.has_value()) << what;
      continue;
    }
    ASSERT_TRUE(got.has_value()) << what;
    EXPECT_EQ(got->category, c.category) << what;
    EXPECT_EQ(got->subcategory, c.subcategory) << what;
    EXPECT_EQ((std::pair<int, int>{got->level, got->classDigit}), osm2rmf::PoiCategoryPair(c.category)) << what;
    if (c.subcategory > 0) {
      EXPECT_FALSE(osm2rmf::PoiSubcategoryName(c.category, c.subcategory).empty()) << what;
    }
  }
}

}  // namespace
