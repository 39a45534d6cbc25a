// The street filters of route requests and explorations: route-class and
// restriction entries of a street's attribute set turned into the feature
// and connection answers of the routing profile (see RouteFilters.h for
// what each filter accepts and what it writes).
#include "mapengine/object/RouteFilters.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>

#include "typelib/CartovelLib.h"

namespace {

constexpr int kValueStart = 6;
constexpr int kNameStart = 57;

// Travel record indexes.
constexpr int kLower = 0;   // toward lower vertex positions; not opened by a '+' entry
constexpr int kHigher = 1;  // toward higher vertex positions; not opened by a '-' entry

// Kinds, written as the direction's group code.
constexpr std::uint32_t kKindOrdinary = 0;
constexpr std::uint32_t kKindRamp = 1;
constexpr std::uint32_t kKindFreeway = 2;
constexpr std::uint32_t kKindFree = 3;  // a connection travelled at no cost

constexpr std::int8_t kWalkingLevel = 3;

// Road kinds of slow roads that cars may use, and that walkers may use.
constexpr std::string_view kDrivenSlowRoads = " AEFKNS";
constexpr std::string_view kWalkedSlowRoads = " AEFKNPSW";

std::uint32_t TextLength(std::uint32_t stored, std::uint32_t capacity) { return std::min(stored, capacity); }

std::uint32_t CodeLength(const RmfAttrEntry& e) { return TextLength(e.codeLength, kRmfAttrCodeChars); }
std::uint32_t ValueLength(const RmfAttrEntry& e) { return TextLength(e.valueLength, kRmfAttrValueChars); }
std::uint32_t NameLength(const RmfAttrEntry& e) { return TextLength(e.nameLength, kRmfAttrNameChars); }

// The character at a position of the entry (code 0..5, value 6..56, name 57
// on); '\0' past the end of the text it falls in, whatever the array holds
// there.
char At(const RmfAttrEntry& e, int position) {
  if (position < 0) return '\0';
  const auto p = static_cast<std::uint32_t>(position);
  if (p < kValueStart) return p < CodeLength(e) ? e.code[p] : '\0';
  if (p < kNameStart) return p - kValueStart < ValueLength(e) ? e.value[p - kValueStart] : '\0';
  return p - kNameStart < NameLength(e) ? e.name[p - kNameStart] : '\0';
}

bool HasCode(const RmfAttrEntry& e, char first, char second) { return At(e, 1) == first && At(e, 2) == second; }

// The direction mark: at position 3, or 4 when the code is longer than 4
// characters; '\0' when the code has none there.
char Mark(const RmfAttrEntry& e) { return At(e, CodeLength(e) > 4 ? 4 : 3); }

bool OneOf(char c, std::string_view set) { return c != '\0' && set.find(c) != std::string_view::npos; }

// The name read as a number: leading blanks, a sign, digits, as atol reads
// them; values beyond 32 bits held to the nearest end of the range.
std::int32_t KeyOf(const RmfAttrEntry& e) {
  char text[kRmfAttrNameChars + 1];
  const std::uint32_t n = NameLength(e);
  std::memcpy(text, e.name, n);
  text[n] = '\0';
  const long value = std::strtol(text, nullptr, 10);
  return static_cast<std::int32_t>(std::clamp<long>(value, std::numeric_limits<std::int32_t>::min(),
                                                    std::numeric_limits<std::int32_t>::max()));
}

std::int32_t EntryCount(const RmfAttrSet* set) {
  if (set == nullptr) return 0;
  return std::clamp(set->count, 0, kRmfAttrSetEntries);
}

const RouteRequestOptions& OptionsOf(const void* context) {
  static constexpr RouteRequestOptions kNone{};
  return context != nullptr ? *static_cast<const RouteRequestOptions*>(context) : kNone;
}

// ---- feature answers ----------------------------------------------------------------

void CloseBoth(RmfFeatureAnswer* answer) {
  answer->travel[kLower].roadClass = -1;
  answer->travel[kHigher].roadClass = -1;
}

bool BothSet(const RmfFeatureAnswer* answer) {
  return answer->travel[kLower].roadClass >= 0 && answer->travel[kHigher].roadClass >= 0;
}

void SetDirection(RmfTravelAnswer& travel, std::uint32_t kind, std::int8_t level, std::uint32_t cost) {
  travel.groupCode = static_cast<std::uint8_t>(kind);
  travel.roadClass = level;
  travel.costFactor = cost;
}

void SetBoth(RmfFeatureAnswer* answer, std::uint32_t kind, std::int8_t level, std::uint32_t cost) {
  SetDirection(answer->travel[kLower], kind, level, cost);
  SetDirection(answer->travel[kHigher], kind, level, cost);
}

// The cost factor of a speed class: a digit d is the band around 10 d + 5
// mph, a capital letter the band around 10 (c - 'A') + 5 km/h; 0 for any
// other character (no class).
std::uint32_t SpeedClassCost(char speedClass) {
  if (speedClass >= '0' && speedClass <= '9') {
    return static_cast<std::uint32_t>(std::lround(85332.3475665 / std::max(10 * (speedClass - '0') + 5, 1)));
  }
  if (speedClass >= 'A' && speedClass <= 'Z') {
    return static_cast<std::uint32_t>(std::lround(137329.101562 / std::max(10 * (speedClass - 'A') + 5, 1)));
  }
  return 0;
}

struct Travel {
  std::uint32_t kind = kKindOrdinary;
  std::int8_t level = -1;
  std::uint32_t cost = 0;
};

enum class Road { kFreeway, kOrdinary, kSlow, kRoundabout, kRamp, kFree };

// What driving makes of a route-class entry; false when the entry is
// skipped.
bool DrivingTravel(const RmfAttrEntry& e, const RouteRequestOptions& options, Travel* out) {
  const char type = At(e, kValueStart);
  const char kind = At(e, kValueStart + 1);
  const bool toll = ValueLength(e) >= 5 && (At(e, kValueStart + 4) == '1' || At(e, kValueStart + 4) == '0');

  Road road = Road::kOrdinary;
  Travel t;
  switch (type) {
    case '1':
      road = Road::kFreeway;
      t.kind = kind == '1' ? kKindFreeway : kKindOrdinary;
      break;
    case '2':
    case '3':
      road = Road::kOrdinary;
      break;
    case '4':
      if (!OneOf(kind, kDrivenSlowRoads)) return false;
      road = Road::kSlow;
      break;
    case '8':
      road = Road::kRoundabout;
      break;
    case '9':
      road = Road::kRamp;
      t.kind = kind == '1' ? kKindRamp : kKindOrdinary;
      break;
    case 'V':
      road = Road::kFree;
      t.kind = kKindFree;
      break;
    default:
      return false;
  }
  if (road == Road::kRoundabout && options.roundaboutPreference == CARTOVELRouteRoundaboutNone) return false;
  if (road == Road::kFreeway && options.freewayPreference == CARTOVELRouteFreewayNone) return false;
  t.level = static_cast<std::int8_t>(At(e, 0) - '0');

  if (road == Road::kFree) {
    t.cost = 0;
  } else if (road == Road::kSlow) {
    t.cost = kRouteCostSlow;
  } else if (road == Road::kRoundabout && options.roundaboutPreference == CARTOVELRouteRoundaboutAvoidIfPossible) {
    t.cost = kRouteCostSlow;
  } else if (toll && options.tollRoadPreference != CARTOVELRouteTollRoadNormal) {
    if (options.tollRoadPreference != CARTOVELRouteTollRoadAvoidIfPossible) return false;
    t.cost = kRouteCostTollAvoid;
  } else {
    t.cost = SpeedClassCost(At(e, kValueStart + 2));
    if (t.cost == 0) return false;
    if (road == Road::kFreeway) {
      switch (options.freewayPreference) {
        case CARTOVELRouteFreewayPreferred:
          break;
        case CARTOVELRouteFreewayAvoidIfPossible:
          t.cost = kRouteCostFreewayAvoid;
          break;
        default:
          t.cost = kRouteCostFreewayNormal;
          break;
      }
    }
  }
  if (options.vehicleMode == CARTOVELRouteVehicleModeShortest) {
    t.cost = kRouteCostWalking;
    t.level = kWalkingLevel;
  }
  *out = t;
  return true;
}

// Road types and kinds walking may use.
bool Walkable(const RmfAttrEntry& e, Road* road) {
  switch (At(e, kValueStart)) {
    case '2':
    case '3':
      *road = Road::kOrdinary;
      return true;
    case '4':
      *road = Road::kSlow;
      return OneOf(At(e, kValueStart + 1), kWalkedSlowRoads);
    case '8':
      *road = Road::kRoundabout;
      return true;
    case 'V':
      *road = Road::kFree;
      return true;
    default:
      return false;
  }
}

// ---- connection answers ----------------------------------------------------------------

void ClearItems(RmfConnectionAnswer* answer) {
  answer->itemCounts[0] = 0;
  answer->itemCounts[1] = 0;
}

void AddToList(RmfConnectionAnswer* answer, int list, std::uint8_t kind, std::int32_t key) {
  std::int32_t& count = answer->itemCounts[list];
  if (count < 0 || count >= kRmfConnectionItems) return;
  answer->items[list][count] = RmfRestriction{0, kind, static_cast<std::uint32_t>(key)};
  ++count;
}

// Adds the item to the lists its direction mark names.
void AddItem(RmfConnectionAnswer* answer, const RmfAttrEntry& e, std::uint8_t kind) {
  const char mark = Mark(e);
  const std::int32_t key = KeyOf(e);
  if (mark != '+') AddToList(answer, 0, kind, key);
  if (mark != '-') AddToList(answer, 1, kind, key);
}

// The kind of a "7B" entry's restriction; 0 when it adds none.
std::uint8_t TurnRestrictionKind(const RmfAttrEntry& e) {
  if (At(e, kValueStart) != '0' || ValueLength(e) <= 2) return 0;
  if (ValueLength(e) > 4 && At(e, kValueStart + 4) == 'E') return 0;
  std::uint8_t base = 0;
  switch (At(e, kValueStart + 1)) {
    case 'P':
      base = 2;
      break;
    case 'R':
      base = 5;
      break;
    default:
      return 0;
  }
  switch (At(e, kValueStart + 2)) {
    case 'B':
      return base;
    case 'C':
      return static_cast<std::uint8_t>(base + 1);
    case 'E':
      return static_cast<std::uint8_t>(base + 2);
    default:
      return 0;
  }
}

}  // namespace

std::int32_t DrivingFeatureFilter(const RmfAttrSet* set, void*, RmfFeatureAnswer* answer, void* context) noexcept {
  if (answer == nullptr) return 0;
  CloseBoth(answer);
  const RouteRequestOptions& options = OptionsOf(context);
  const std::int32_t count = EntryCount(set);
  for (std::int32_t i = 0; i < count && !BothSet(answer); ++i) {
    const RmfAttrEntry& e = set->entries[i];
    Travel t;
    if (!HasCode(e, '7', '1') || !DrivingTravel(e, options, &t)) continue;
    const char mark = Mark(e);
    if (mark != '+') SetDirection(answer->travel[kLower], t.kind, t.level, t.cost);
    if (mark != '-') SetDirection(answer->travel[kHigher], t.kind, t.level, t.cost);
  }
  return 0;
}

std::int32_t WalkingFeatureFilter(const RmfAttrSet* set, void*, RmfFeatureAnswer* answer, void* context) noexcept {
  if (answer == nullptr) return 0;
  CloseBoth(answer);
  const RouteRequestOptions& options = OptionsOf(context);
  const std::int32_t count = EntryCount(set);
  for (std::int32_t i = 0; i < count && !BothSet(answer); ++i) {
    const RmfAttrEntry& e = set->entries[i];
    Road road = Road::kOrdinary;
    if (!HasCode(e, '7', '1') || !Walkable(e, &road)) continue;
    if (road == Road::kRoundabout && options.roundaboutPreference == CARTOVELRouteRoundaboutNone) continue;
    std::uint32_t cost = kRouteCostWalking;
    if (road == Road::kFree) cost = 0;
    if (road == Road::kRoundabout && options.roundaboutPreference == CARTOVELRouteRoundaboutAvoidIfPossible) {
      cost = kRouteCostSlow;
    }
    SetBoth(answer, road == Road::kFree ? kKindFree : kKindOrdinary, kWalkingLevel, cost);
  }
  return 0;
}

std::int32_t ExploreFeatureFilter(const RmfAttrSet* set, void*, RmfFeatureAnswer* answer, void*) noexcept {
  if (answer == nullptr) return 0;
  CloseBoth(answer);
  const std::int32_t count = EntryCount(set);
  for (std::int32_t i = 0; i < count && !BothSet(answer); ++i) {
    const RmfAttrEntry& e = set->entries[i];
    const char type = At(e, kValueStart);
    bool accepted = false;
    if (HasCode(e, '4', '1')) {
      accepted = type == 'R';
    } else if (HasCode(e, '7', '1')) {
      Road road = Road::kOrdinary;
      accepted = type == '1' || type == '9' || Walkable(e, &road);
    }
    if (!accepted) continue;
    if (type == 'V') {
      SetBoth(answer, kKindFree, kWalkingLevel, 0);
    } else {
      SetBoth(answer, kKindOrdinary, kWalkingLevel, kRouteCostWalking);
    }
  }
  return 0;
}

std::int32_t DrivingConnectionFilter(const RmfAttrSet* set, void*, RmfConnectionAnswer* answer, void*) noexcept {
  if (answer == nullptr) return 0;
  ClearItems(answer);
  const std::int32_t count = EntryCount(set);
  for (std::int32_t i = 0; i < count; ++i) {
    const RmfAttrEntry& e = set->entries[i];
    if (HasCode(e, '4', 'B')) {
      if (At(e, kValueStart) == '0') AddItem(answer, e, 1);
    } else if (HasCode(e, '7', 'B')) {
      if (const std::uint8_t kind = TurnRestrictionKind(e); kind != 0) AddItem(answer, e, kind);
    }
  }
  return 0;
}

std::int32_t WalkingConnectionFilter(const RmfAttrSet* set, void*, RmfConnectionAnswer* answer, void*) noexcept {
  if (answer == nullptr) return 0;
  ClearItems(answer);
  const std::int32_t count = EntryCount(set);
  for (std::int32_t i = 0; i < count; ++i) {
    const RmfAttrEntry& e = set->entries[i];
    if (!HasCode(e, '4', 'B')) continue;
    if (ValueLength(e) < 2 || At(e, kValueStart + 1) != 'B') AddItem(answer, e, 1);
  }
  return 0;
}
