// The point-of-interest categories of the converter: their names, the
// (level, class) pair each is written at, and the OpenStreetMap tags that
// lead to each subcategory.
#include "tools/osm2rmf/PoiCategories.h"

#include <array>
#include <cstddef>
#include <initializer_list>

namespace osm2rmf {
namespace {

struct Category {
  int level;
  int classDigit;
  const char* name;
  std::initializer_list<const char*> subcategories;  // numbered from 1
};

// Category n is row n - 1. The pairs are the ones the map engine's search
// looks under for categories 1..18; the names must match the language
// library's texts (ids (n + 59) x 500 and following).
const std::array<Category, 18> kCategories = {{
    {1, 1, "Food and drink", {"Restaurant", "Fast food", "Cafe", "Bar or pub", "Ice cream", "Beer garden"}},
    {1, 2, "Fuel", {"Fuel station", "Charging station"}},
    {1, 3, "Parking", {"Car park", "Bicycle parking"}},
    {1, 5, "Money", {"Bank", "Cash machine", "Bureau de change"}},
    {1, 7, "Health", {"Hospital", "Pharmacy", "Doctor", "Dentist", "Clinic", "Veterinary"}},
    {2, 1, "Emergency", {"Police", "Fire station", "Emergency phone", "Defibrillator"}},
    {2, 2, "Post", {"Post office", "Post box"}},
    {2, 3, "Education", {"School", "Kindergarten", "College or university", "Library"}},
    {2, 4, "Community", {"Town hall", "Place of worship", "Community centre", "Public toilets", "Social facility"}},
    {2,
     5,
     "Shopping",
     {"Supermarket", "Bakery", "Butcher", "Convenience store", "Clothes", "Shoes", "Chemist", "Hairdresser",
      "Optician", "Books", "Florist", "Hardware", "Electronics", "Furniture", "Department store", "Kiosk",
      "Beverages", "Mall"}},
    {3, 2, "Lodging", {"Hotel", "Guest house", "Hostel", "Camp site", "Holiday flat", "Motel"}},
    {3, 3, "Sights and culture", {"Museum", "Attraction", "Artwork", "Viewpoint", "Theatre", "Cinema", "Monument",
                                  "Tourist information", "Arts centre"}},
    {3, 4, "Leisure", {"Park", "Playground", "Sports centre", "Swimming pool", "Sports pitch", "Zoo"}},
    {4, 3, "Public transport", {"Bus stop", "Railway station", "Tram stop", "Taxi rank", "Bus station",
                                "Ferry terminal"}},
    {4, 4, "Car and bicycle", {"Car repair", "Car rental", "Car wash", "Car dealer", "Bicycle shop",
                               "Bicycle rental"}},
    {5, 2, "Government", {"Government office", "Court", "Embassy", "Prison"}},
    {5, 4, "Other", {"Office", "Craft"}},
    {7, 1, "", {}},  // the user's own points; never written by the converter
}};

// A tag and the category and subcategory it leads to. Rows are tried in
// order and the first whose tag the object has wins, so specific rows come
// before the catch-all row of their key (value null: any value but "no").
struct Rule {
  const char* key;
  const char* value;
  int category;
  int subcategory;
};

constexpr Rule kRules[] = {
    {"amenity", "restaurant", 1, 1},
    {"amenity", "fast_food", 1, 2},
    {"amenity", "cafe", 1, 3},
    {"amenity", "bar", 1, 4},
    {"amenity", "pub", 1, 4},
    {"amenity", "ice_cream", 1, 5},
    {"amenity", "biergarten", 1, 6},
    {"amenity", "fuel", 2, 1},
    {"amenity", "charging_station", 2, 2},
    {"amenity", "parking", 3, 1},
    {"amenity", "bicycle_parking", 3, 2},
    {"amenity", "bank", 4, 1},
    {"amenity", "atm", 4, 2},
    {"amenity", "bureau_de_change", 4, 3},
    {"amenity", "hospital", 5, 1},
    {"amenity", "pharmacy", 5, 2},
    {"amenity", "doctors", 5, 3},
    {"amenity", "dentist", 5, 4},
    {"amenity", "clinic", 5, 5},
    {"amenity", "veterinary", 5, 6},
    {"amenity", "police", 6, 1},
    {"amenity", "fire_station", 6, 2},
    {"amenity", "emergency_phone", 6, 3},
    {"emergency", "phone", 6, 3},
    {"emergency", "defibrillator", 6, 4},
    {"amenity", "post_office", 7, 1},
    {"amenity", "post_box", 7, 2},
    {"amenity", "school", 8, 1},
    {"amenity", "kindergarten", 8, 2},
    {"amenity", "college", 8, 3},
    {"amenity", "university", 8, 3},
    {"amenity", "library", 8, 4},
    {"amenity", "townhall", 9, 1},
    {"amenity", "place_of_worship", 9, 2},
    {"amenity", "community_centre", 9, 3},
    {"amenity", "toilets", 9, 4},
    {"amenity", "social_facility", 9, 5},
    {"amenity", "theatre", 12, 5},
    {"amenity", "cinema", 12, 6},
    {"amenity", "arts_centre", 12, 9},
    {"amenity", "taxi", 14, 4},
    {"amenity", "bus_station", 14, 5},
    {"amenity", "ferry_terminal", 14, 6},
    {"amenity", "car_rental", 15, 2},
    {"amenity", "car_wash", 15, 3},
    {"amenity", "bicycle_rental", 15, 6},
    {"amenity", "courthouse", 16, 2},
    {"amenity", "embassy", 16, 3},
    {"amenity", "prison", 16, 4},
    {"shop", "supermarket", 10, 1},
    {"shop", "bakery", 10, 2},
    {"shop", "butcher", 10, 3},
    {"shop", "convenience", 10, 4},
    {"shop", "clothes", 10, 5},
    {"shop", "shoes", 10, 6},
    {"shop", "chemist", 10, 7},
    {"shop", "hairdresser", 10, 8},
    {"shop", "optician", 10, 9},
    {"shop", "books", 10, 10},
    {"shop", "florist", 10, 11},
    {"shop", "hardware", 10, 12},
    {"shop", "doityourself", 10, 12},
    {"shop", "electronics", 10, 13},
    {"shop", "furniture", 10, 14},
    {"shop", "department_store", 10, 15},
    {"shop", "kiosk", 10, 16},
    {"shop", "beverages", 10, 17},
    {"shop", "mall", 10, 18},
    {"shop", "car_repair", 15, 1},
    {"shop", "car", 15, 4},
    {"shop", "bicycle", 15, 5},
    {"shop", nullptr, 10, 0},
    {"tourism", "hotel", 11, 1},
    {"tourism", "guest_house", 11, 2},
    {"tourism", "hostel", 11, 3},
    {"tourism", "camp_site", 11, 4},
    {"tourism", "apartment", 11, 5},
    {"tourism", "chalet", 11, 5},
    {"tourism", "motel", 11, 6},
    {"tourism", "museum", 12, 1},
    {"tourism", "attraction", 12, 2},
    {"tourism", "artwork", 12, 3},
    {"tourism", "viewpoint", 12, 4},
    {"tourism", "information", 12, 8},
    {"tourism", "zoo", 13, 6},
    {"historic", "monument", 12, 7},
    {"historic", "memorial", 12, 7},
    {"leisure", "park", 13, 1},
    {"leisure", "playground", 13, 2},
    {"leisure", "sports_centre", 13, 3},
    {"leisure", "swimming_pool", 13, 4},
    {"leisure", "pitch", 13, 5},
    {"highway", "bus_stop", 14, 1},
    {"railway", "station", 14, 2},
    {"railway", "halt", 14, 2},
    {"railway", "tram_stop", 14, 3},
    {"office", "government", 16, 1},
    {"office", nullptr, 17, 1},
    {"craft", nullptr, 17, 2},
};

const Category* CategoryRow(int category) {
  if (category < 1 || category > static_cast<int>(kCategories.size())) return nullptr;
  return &kCategories[static_cast<std::size_t>(category - 1)];
}

}  // namespace

std::string_view TagValue(const Tags& tags, std::string_view key) {
  for (const auto& [k, v] : tags) {
    if (k == key) return v;
  }
  return {};
}

std::optional<PoiClass> ClassifyPoi(const Tags& tags) {
  for (const Rule& rule : kRules) {
    const std::string_view v = TagValue(tags, rule.key);
    if (v.empty()) continue;
    if (rule.value == nullptr ? v == "no" : v != rule.value) continue;
    const Category& row = *CategoryRow(rule.category);
    return PoiClass{rule.category, rule.subcategory, row.level, row.classDigit};
  }
  return std::nullopt;
}

std::pair<int, int> PoiCategoryPair(int category) {
  const Category* row = CategoryRow(category);
  if (row == nullptr) return {0, 0};
  return {row->level, row->classDigit};
}

std::string_view PoiCategoryName(int category) {
  const Category* row = CategoryRow(category);
  return row == nullptr ? std::string_view{} : row->name;
}

int PoiSubcategoryCount(int category) {
  const Category* row = CategoryRow(category);
  return row == nullptr ? 0 : static_cast<int>(row->subcategories.size());
}

std::string_view PoiSubcategoryName(int category, int subcategory) {
  const Category* row = CategoryRow(category);
  if (row == nullptr || subcategory < 1 || subcategory > static_cast<int>(row->subcategories.size())) return {};
  return row->subcategories.begin()[subcategory - 1];
}

}  // namespace osm2rmf
