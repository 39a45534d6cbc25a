// Routing profiles of the tests: the walking and the driving street filters
// of the map engine, cut down to what the library's tests need (default
// preferences, no turn restrictions), over the route-class attributes
// (code pair 7-1) that the map builder and the converter write on streets.
// Every test that needs a profile installs these.
//
// A route-class value reads: road type ('1' freeway, '2'/'3' ordinary, '4'
// slow road, '8' roundabout, '9' ramp, 'V' a connection travelled at no
// cost), road kind (for slow roads ' ', 'A', 'E', 'F', 'K', 'N', 'S' may be
// driven, 'P' pedestrian zones and 'W' walkways only walked), speed class.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#include "mapengine/format/features/RmfFeatureAttr.h"
#include "mapengine/format/features/RmfProfile.h"
#include "mapengine/format/route/RmfNodeConnections.h"
#include "mapengine/format/route/RmfTileRouteTable.h"

namespace testprofiles {

// Travel record indexes: toward lower and toward higher vertex positions.
inline constexpr int kLower = 0;
inline constexpr int kHigher = 1;

inline bool IsRouteClass(const RmfAttrEntry& e) { return e.codeLength >= 3 && e.code[1] == '7' && e.code[2] == '1'; }

inline void Set(RmfFeatureAnswer* a, int direction, std::uint32_t kind, std::int8_t level, std::uint32_t cost) {
  a->travel[direction].groupCode = static_cast<std::uint8_t>(kind);
  a->travel[direction].roadClass = level;
  a->travel[direction].costFactor = cost;
}

inline bool BothSet(const RmfFeatureAnswer* a) { return a->travel[0].roadClass >= 0 && a->travel[1].roadClass >= 0; }

// Cost per unit of length of a speed class; 0 for a character that is none.
inline std::uint32_t SpeedCost(char speedClass) {
  if (speedClass >= '0' && speedClass <= '9') return static_cast<std::uint32_t>(std::lround(85332.3475665 / (10 * (speedClass - '0') + 5)));
  if (speedClass >= 'A' && speedClass <= 'Z') return static_cast<std::uint32_t>(std::lround(137329.101562 / (10 * (speedClass - 'A') + 5)));
  return 0;
}

inline bool SlowRoadKind(char kind, const char* allowed) { return kind != 0 && std::strchr(allowed, kind) != nullptr; }

// On foot: no freeways or ramps; every other street both ways whatever its
// one-way mark, at walking pace.
inline std::int32_t Walking(const RmfAttrSet* set, void*, RmfFeatureAnswer* answer, void*) {
  answer->travel[0].roadClass = answer->travel[1].roadClass = -1;
  for (std::int32_t i = 0; i < set->count && !BothSet(answer); ++i) {
    const RmfAttrEntry& e = set->entries[i];
    if (!IsRouteClass(e) || e.valueLength < 1) continue;
    const char type = e.value[0];
    std::uint32_t kind = 0;
    if (type == 'V') {
      kind = 3;
    } else if (type == '4') {
      if (!SlowRoadKind(e.value[1], " AEFKNPSW")) continue;
    } else if (type != '2' && type != '3' && type != '8') {
      continue;
    }
    const std::uint32_t cost = kind == 3 ? 0 : 2497;
    Set(answer, kLower, kind, 3, cost);
    Set(answer, kHigher, kind, 3, cost);
  }
  return 0;
}

// By car: one-way marks hold, walkways and pedestrian zones are not driven,
// the cost follows the speed class.
inline std::int32_t Driving(const RmfAttrSet* set, void*, RmfFeatureAnswer* answer, void*) {
  answer->travel[0].roadClass = answer->travel[1].roadClass = -1;
  for (std::int32_t i = 0; i < set->count && !BothSet(answer); ++i) {
    const RmfAttrEntry& e = set->entries[i];
    if (!IsRouteClass(e) || e.valueLength < 1) continue;
    const char type = e.value[0];
    std::uint32_t kind = 0;
    std::uint32_t cost = 0;
    if (type == 'V') {
      kind = 3;
    } else if (type == '4') {
      if (!SlowRoadKind(e.value[1], " AEFKNS")) continue;
      cost = 137329;
    } else if (type == '1') {
      kind = e.value[1] == '1' ? 2 : 0;
      cost = 1422;
    } else if (type == '2' || type == '3' || type == '8' || type == '9') {
      if (type == '9' && e.value[1] == '1') kind = 1;
      cost = SpeedCost(e.valueLength >= 3 ? e.value[2] : 0);
      if (cost == 0) continue;
    } else {
      continue;
    }
    const auto level = static_cast<std::int8_t>(e.code[0] - '0');
    const char mark = e.codeLength >= 4 ? e.code[3] : 0;
    if (mark != '+') Set(answer, kLower, kind, level, cost);
    if (mark != '-') Set(answer, kHigher, kind, level, cost);
  }
  return 0;
}

// Time-dependent streets for the router's time-dependent mode, over another
// feature callback (`base`, which gives class and cost): a street whose
// route-class speed class is `speedClass` is time-dependent both ways. Its
// cost per unit is `openFactor` until the traveller enters it at a forward
// time of `closesAt` or later (profile time: the cost so far / 1000 at
// cost shift 0), `lateFactor` from then on, or it is closed then when
// `lateFactor` is 0. Asked without a forward time (the routing tables, the
// backward search) the street reads as open at `openFactor`: a bound that
// the time of travel can only raise. With `settles` set, an answer for a
// forward or backward time is no longer time-dependent.
struct TimedStreet {
  RmfProfileFeatureFn base = nullptr;
  char speedClass = 'Z';
  std::uint32_t openFactor = 2497;
  std::uint32_t lateFactor = 0;
  std::uint32_t closesAt = 0xFFFFFFFF;
  bool settles = false;
};

inline bool IsTimedStreet(const RmfAttrSet* set, char speedClass) {
  for (std::int32_t i = 0; i < set->count; ++i) {
    const RmfAttrEntry& e = set->entries[i];
    if (IsRouteClass(e) && e.valueLength >= 3 && e.value[2] == speedClass) return true;
  }
  return false;
}

inline std::int32_t Timed(const RmfAttrSet* set, void* argument, RmfFeatureAnswer* answer, void* context) {
  const auto& street = *static_cast<const TimedStreet*>(context);
  (void)street.base(set, argument, answer, nullptr);
  if (!IsTimedStreet(set, street.speedClass)) return 0;
  const auto* request = static_cast<const RmfTimeRequest*>(argument);
  const bool late = request != nullptr && (request->flags & kRmfTimeRequestForward) != 0 &&
                    request->forwardTime >= street.closesAt;
  const bool timed = request == nullptr ||
                     (request->flags & (kRmfTimeRequestForward | kRmfTimeRequestBackward)) == 0 || !street.settles;
  for (int d = kLower; d <= kHigher; ++d) {
    if (answer->travel[d].roadClass < 0) continue;
    const std::uint32_t factor = late ? street.lateFactor : street.openFactor;
    answer->travel[d].costFactor = street.openFactor;
    answer->timeWords[kRmfAnswerTimeFactor + d] = factor;
    answer->timeWords[kRmfAnswerTimeFlags + d] = timed ? kRmfTraversalTimed : 0u;
    if (factor == 0) answer->travel[d].roadClass = -1;
  }
  return 0;
}

}  // namespace testprofiles
