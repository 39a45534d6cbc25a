// The point-of-interest categories that the converter sorts OpenStreetMap
// objects into. A category is a number 1..17 whose points are written at a
// fixed (level, class) pair, the pair the map engine's point-of-interest
// search looks under for that category; a subcategory is a number 1..n
// within it, written after the comma of the point's name text. The English
// names of both live in the language library under the ids
// (category + 59) x 500 and (category + 59) x 500 + subcategory; the
// converter keeps its own copy of the names for its report, and a test
// holds the two together.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace osm2rmf {

using Tags = std::vector<std::pair<std::string, std::string>>;

// The value of a tag; empty when the object has none.
std::string_view TagValue(const Tags& tags, std::string_view key);

// Categories 1..17 hold map points; 18 is the user's own points.
inline constexpr int kPoiCategories = 17;

struct PoiClass {
  int category = 0;     // 1..kPoiCategories
  int subcategory = 0;  // 0: none of the category's named subcategories
  int level = 0;        // level and class digit the category's points are written at
  int classDigit = 0;
};

// The category of a tagged object; nothing when it is no point of interest.
std::optional<PoiClass> ClassifyPoi(const Tags& tags);

// The level and class digit of a category; {0, 0} outside 1..18.
std::pair<int, int> PoiCategoryPair(int category);

// English names: empty for numbers outside the tables.
std::string_view PoiCategoryName(int category);
std::string_view PoiSubcategoryName(int category, int subcategory);
// The number of named subcategories of a category.
int PoiSubcategoryCount(int category);

}  // namespace osm2rmf
