// Edge expansion of the route search: the ways out of (forward) or into
// (backward) the junction of a node, each walked to the next junction of the
// search level, with the cost of the turn and of the stretch, the level loop
// that offers the longer stretch to the next junction of a higher level, and
// the restriction items that are handed on from one junction to the next.
#include "mapengine/format/route/RmfRouteExpand.h"

#include <algorithm>

#include "mapengine/format/RmfInternal.h"
#include "mapengine/format/base/TiMath.h"
#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/features/RmfFeatureAttr.h"
#include "mapengine/format/features/RmfProfile.h"
#include "mapengine/format/route/RmfJunctionJudge.h"
#include "mapengine/format/route/RmfRouteInternal.h"
#include "mapengine/format/route/RmfRouteWalk.h"
#include "mapengine/format/route/RmfTileRouteTableInternal.h"

namespace {

using rmf::detail::CountInternalError;
using rmf::detail::KeyOf;
using rmf::detail::SecondIdOf;
using rmf::detail::VertexPoint;
using rmf::detail::HeldSlot;
using rmf::detail::HeldTable;

constexpr std::int32_t kMaxCost = 0x7FFFFFFF;
// Item kinds handed on through a junction and the kinds that start them.
constexpr std::uint8_t kKindProhibitionVia = 3;
constexpr std::uint8_t kKindPermissionVia = 6;
// Levels a stretch's level field holds (3 bits).
constexpr std::int32_t kMaxLevel = 7;

std::int32_t TravelIndex(std::int32_t direction) { return direction > 0 ? kRmfTravelHigher : kRmfTravelLower; }


std::uint32_t PackRef(std::int32_t part, std::int32_t vertex, std::int32_t direction, std::int32_t level) {
  return (static_cast<std::uint32_t>(part) & kRmfNodeRefPartMask) |
         ((static_cast<std::uint32_t>(vertex) & kRmfNodeRefVertexMask) << kRmfNodeRefVertexShift) |
         (direction > 0 ? kRmfNodeRefHigher : 0u) |
         (static_cast<std::uint32_t>(std::clamp(level, 0, kMaxLevel)) << kRmfNodeRefLevelShift);
}


// The connection answer of the stretch that touches the junction at
// `vertex` of the part on `side`, for travel in `direction`: 0, or a
// negative code.
std::int32_t StretchAnswer(RmfRoute* route, const RmfFeatKey& key, std::int32_t part, std::int32_t vertex,
                           std::int32_t side, std::int32_t direction, RmfConnectionAnswer* answer) {
  *answer = RmfConnectionAnswer{};
  if (route->reader->profile.connectionCallback == nullptr) return 0;
  answer->request = (route->profileModes[0] != 0 ? 0x1u : 0u) | (route->profileModes[1] != 0 ? 0x2u : 0u) |
                    (direction > 0 ? kRmfConnectionFirstItems : kRmfConnectionSecondItems);
  HeldSlot slot;
  if (slot.Fetch(route->reader, key, nullptr) != 1) return CountInternalError();
  // About 26 KB on the stack, as the junction's own questions have it: no
  // heap block per question.
  RmfAttrSet set;
  if (RmfFeatureNextNode(slot.get(), part, vertex, side, nullptr, &set) < -1) return CountInternalError();
  return RmfProfileTurnCost(route->reader, &set, nullptr, answer);
}

// The items of an answer that count for travel in `direction`.
std::int32_t ItemCount(const RmfConnectionAnswer& a, std::int32_t direction) {
  return std::clamp(a.itemCounts[rmf::detail::ItemList(direction)], 0, kRmfConnectionItems);
}
const RmfRestriction* Items(const RmfConnectionAnswer& a, std::int32_t direction) {
  return a.items[rmf::detail::ItemList(direction)];
}

bool PendingHolds(const RmfPendingItem* list, std::uint32_t key, std::uint8_t kind) {
  for (; list != nullptr; list = list->next) {
    if (list->key == key && list->kind == kind) return true;
  }
  return false;
}

// What one expansion works with.
struct Expansion {
  RmfRoute* route;
  const RmfExpandNodeRef* node;
  std::int32_t level;
  bool forward;
  bool timeDependent;
  const std::int32_t* forwardCost;
  const std::int32_t* backwardCost;
  RmfExpandAllocFn alloc;
  void* allocContext;
  RmfExpansion* out;
  std::int32_t* stepTimes;
  std::int32_t* stepCosts;
  std::int32_t capacity;
  std::int32_t count = 0;

  // The arrival's connection answer, asked once when items are handed on.
  bool arrivalAsked = false;
  RmfConnectionAnswer arrivalAnswer{};
  // The restriction items the node carries on (see SeedDestination).
  const RmfPendingItem* pending = nullptr;
};

// The turn cost of a sector, or -1 when the table forbids it.
std::int32_t TurnCost(const RmfRoute* route, std::int32_t angle) {
  const std::int32_t entry = route->turnCosts[rmf::detail::TurnSector(angle)];
  if (entry < 0) return -1;
  return route->costShift >= 31 ? 0 : entry >> route->costShift;
}

std::int32_t TimedCost(RmfRoute* route, const RmfArrivalRef* stretch, std::uint32_t length,
                       const std::int32_t* forwardTime, const std::int32_t* backwardTime, std::int32_t startCost,
                       std::int32_t iterations, RmfTraversal* traversal, std::int32_t* cost);

// Traversal's answer for a time-dependent stretch that the profile reports
// closed at the time it would be entered: no record is written for it.
constexpr std::int32_t kClosedAtTime = -0x7FFFFFFF - 1;

// The traversal cost of `length` on a record: 0 or more, kClosedAtTime, or
// a negative code.
std::int32_t Traversal(Expansion& x, const RmfArrivalRef& stretch, std::uint32_t length, const RmfTraversal& record,
                       std::int32_t turn, std::uint32_t* packedFlags) {
  std::int32_t cost = RmfScaledCost(length, record.costFactor, x.route->costShift);
  if (cost < 0) return kRmfCostOverflow;
  if (x.timeDependent && (record.flags & kRmfTraversalTimed) != 0) {
    const std::int32_t* own = x.forward ? x.forwardCost : x.backwardCost;
    if (own != nullptr && *own > kMaxCost - turn) return kRmfCostOverflow;
    RmfTraversal now{};
    std::int32_t timed = 0;
    const std::int32_t r = RmfRouteTimedCost(x.route, 0, &stretch, length, x.forwardCost, x.backwardCost,
                                             own != nullptr ? *own : cost, 2, &now, &timed);
    if (r < 0) return r;
    if (RmfTraversalClass(now.flags) < 0) return kClosedAtTime;
    cost = timed;
    *packedFlags |= kRmfExpandPackedTimedCost;
    if ((now.flags & kRmfTraversalTimed) != 0) *packedFlags |= kRmfExpandPackedStillTimed;
  }
  if (cost > kMaxCost - turn) return kRmfCostOverflow;
  return cost;
}

// Hands on the restriction items of kinds 3 and 6 of the candidate's answer
// that continue an item of the arrival or of the node's own list.
std::int32_t HandOn(Expansion& x, const RmfConnection& c, RmfExpansion* record) {
  const RmfArrivalRef& a = x.node->ref;
  const RmfFeatKey nodeKey = KeyOf(a.featureId, a.secondId);
  const std::int32_t part = static_cast<std::int32_t>(a.packed & kRmfNodeRefPartMask);
  const std::int32_t vertex = static_cast<std::int32_t>((a.packed >> kRmfNodeRefVertexShift) & kRmfNodeRefVertexMask);
  const std::int32_t travel = (a.packed & kRmfNodeRefHigher) != 0 ? 1 : -1;
  if (!x.arrivalAsked) {
    // Forward: the stretch arrived along lies behind the junction; backward
    // the node's stretch leaves the junction where it was walked to, which
    // the caller has put in the record's entry.
    std::int32_t r = 0;
    if (x.forward) {
      r = StretchAnswer(x.route, nodeKey, part, vertex, -travel, travel, &x.arrivalAnswer);
    } else {
      const RmfFeatKey entryKey = KeyOf(record->entryFeatureId, record->entrySecondId);
      const std::int32_t entryPart = static_cast<std::int32_t>(record->entryPacked & kRmfNodeRefPartMask);
      const std::int32_t entryVertex =
          static_cast<std::int32_t>((record->entryPacked >> kRmfNodeRefVertexShift) & kRmfNodeRefVertexMask);
      const std::int32_t entryTravel = (record->entryPacked & kRmfNodeRefHigher) != 0 ? 1 : -1;
      r = StretchAnswer(x.route, entryKey, entryPart, entryVertex, entryTravel, entryTravel, &x.arrivalAnswer);
    }
    if (r < 0) return r;
    x.arrivalAsked = true;
  }
  // A forward search leaves the junction along the candidate in its
  // direction; a backward search comes into the junction along it, against it.
  const std::int32_t candidateTravel = x.forward ? c.direction : -c.direction;
  RmfConnectionAnswer candidate{};
  const std::int32_t asked = StretchAnswer(x.route, KeyOf(c.featureId, c.secondId), c.part, c.vertex, c.direction,
                                           candidateTravel, &candidate);
  if (asked < 0) return asked;
  const std::int32_t arrivalTravel = x.forward ? travel : ((record->entryPacked & kRmfNodeRefHigher) != 0 ? 1 : -1);
  const RmfRestriction* arrivalItems = Items(x.arrivalAnswer, arrivalTravel);
  const std::int32_t arrivalCount = ItemCount(x.arrivalAnswer, arrivalTravel);
  const RmfRestriction* items = Items(candidate, candidateTravel);
  for (std::int32_t i = 0; i < ItemCount(candidate, candidateTravel); ++i) {
    const RmfRestriction& item = items[i];
    if (item.kind != kKindProhibitionVia && item.kind != kKindPermissionVia) continue;
    // The item that starts the chain on the arrival: kinds 2 / 5 for the
    // forward search, 4 / 7 for the backward one.
    const std::uint8_t starter = static_cast<std::uint8_t>(x.forward ? item.kind - 1 : item.kind + 1);
    bool matched = PendingHolds(x.pending, item.key, item.kind);
    for (std::int32_t k = 0; k < arrivalCount && !matched; ++k) {
      matched = arrivalItems[k].key == item.key && arrivalItems[k].kind == starter;
    }
    if (!matched) continue;
    const RmfPendingItem pending{item.key, item.kind, nullptr};
    const std::int32_t added = RmfRouteAddPending(x.alloc, x.allocContext, &pending, record);
    if (added < 0) return added;
  }
  return 0;
}

// Writes one record: 1, or a negative code.
std::int32_t Emit(Expansion& x, const RmfExpansion& record, std::int32_t cost, std::int32_t time) {
  if (x.count >= x.capacity) return CountInternalError();
  x.out[x.count] = record;
  if (x.stepCosts != nullptr) x.stepCosts[x.count] = cost;
  if (x.stepTimes != nullptr) x.stepTimes[x.count] = time;
  ++x.count;
  return 1;
}

// The junction's connections for the arrival, in skip mode.
std::int32_t Connections(Expansion& x, const RmfArrivalRef& arrival, const RmfFeatureRef* fetch, std::int32_t vertex,
                         const RmfTraversal& arrivingRecord, TiPoint at, RmfConnection* connections,
                         std::int32_t* pendingFlag) {
  const std::int32_t cosine = TiSin(static_cast<std::uint32_t>(at.y) + (1u << 26));
  return RmfRouteNodeConnections(
      x.route, 0, nullptr, &arrival, (arrivingRecord.flags & kRmfTraversalRestricted) != 0 ? 1 : 0,
      x.forward ? 1 : 0, x.level, x.timeDependent ? 1 : 0, x.forwardCost, x.backwardCost, 1, x.forward ? 0 : 1, 1,
      fetch, vertex, RmfTraversalGroup(arrivingRecord.flags) != 0 ? 1 : 0, cosine, connections, nullptr, pendingFlag);
}

std::int32_t ExpandForward(Expansion& x) {
  const RmfArrivalRef& a = x.node->ref;
  const RmfFeatKey nodeKey = KeyOf(a.featureId, a.secondId);
  const std::int32_t part = static_cast<std::int32_t>(a.packed & kRmfNodeRefPartMask);
  const std::int32_t vertex = static_cast<std::int32_t>((a.packed >> kRmfNodeRefVertexShift) & kRmfNodeRefVertexMask);
  const std::int32_t travel = (a.packed & kRmfNodeRefHigher) != 0 ? 1 : -1;

  // The record and table of the node, then of the candidate last walked:
  // kept while the next candidate is of the same record, as most are, so
  // that it is not looked up again. The table is joined down to level 0, so
  // holding it never stands in the way of a join.
  HeldSlot slot;
  HeldTable table(x.route);
  RmfFeatKey heldKey = nodeKey;
  RmfTraversal arriving{};
  TiPoint at{};
  {
    const std::int32_t got = table.Take(nodeKey, 0);
    if (got != 1) return got < 0 ? got : CountInternalError();
    if (part >= table.get()->featureCount) return CountInternalError();
    arriving = RmfTableTraversals(table.get(), part)[TravelIndex(travel)];
    if (slot.Fetch(x.route->reader, nodeKey, nullptr) != 1) return CountInternalError();
    if (RmfFeatureSelectPart(slot.get(), part, 0, nullptr) < 0 || VertexPoint(slot.get(), part, vertex, &at) != 1) {
      return CountInternalError();
    }
  }

  RmfConnection connections[kRmfMaxConnections];
  std::int32_t pendingFlag = 0;
  const std::int32_t n = Connections(x, a, nullptr, vertex, arriving, at, connections, &pendingFlag);
  if (n < 0) return n;

  for (std::int32_t i = 0; i < n; ++i) {
    const RmfConnection& c = connections[i];
    if (c.direction != 1 && c.direction != -1) return CountInternalError();
    const std::int32_t roadClass = c.roadClass[TravelIndex(c.direction)];
    if (roadClass < x.level) continue;
    const std::int32_t turn = TurnCost(x.route, c.turnAngle);
    if (turn < 0) continue;

    const RmfFeatKey key = KeyOf(c.featureId, c.secondId);
    if (!rmf::detail::SameKey(key, heldKey)) {
      table.Reset();
      slot.Reset();
      heldKey = key;
      if (slot.Fetch(x.route->reader, key, nullptr) != 1) return CountInternalError();
      const std::int32_t got = table.Take(key, 0);
      if (got != 1) return got < 0 ? got : CountInternalError();
    }
    if (c.part >= table.get()->featureCount) return CountInternalError();
    const RmfTraversal* records = RmfTableTraversals(table.get(), c.part);
    const RmfTraversal& record = records[TravelIndex(c.direction)];

    for (std::int32_t walkLevel = x.level, loops = 0; loops <= kMaxLevel; ++loops) {
      RmfWalk walk{};
      const std::int32_t walked = RmfRouteWalk(x.route, slot.get(), table.get(), c.part, c.vertex, records,
                                               c.direction, c.direction, walkLevel, 1, nullptr,
                                               x.timeDependent ? 1 : 0, &walk, nullptr);
      if (walked < 0) return walked;
      if (walked == 0) break;
      if (walk.farVertex >= static_cast<std::uint32_t>(kRmfMaxPartWords)) return CountInternalError();
      const std::int32_t reached = static_cast<std::int32_t>(walk.levelReached);
      const std::int32_t recordLevel = std::min(reached, roadClass);

      RmfExpansion e{};
      e.entryFeatureId = c.featureId;
      e.entrySecondId = c.secondId;
      e.entryPacked = PackRef(c.part, c.vertex, c.direction, recordLevel);
      if (walk.lastFeature.featureId != 0) {
        e.featureId = walk.lastFeature.featureId;
        e.secondId = walk.lastFeature.source | (static_cast<std::uint32_t>(walk.lastFeature.secondId) << 16);
        e.packed = PackRef(walk.lastFeature.part, static_cast<std::int32_t>(walk.farVertex), walk.lastDirection,
                           recordLevel);
      } else {
        e.featureId = c.featureId;
        e.secondId = c.secondId;
        e.packed = PackRef(c.part, static_cast<std::int32_t>(walk.farVertex), c.direction, recordLevel);
      }
      e.flags = (record.flags & kRmfTraversalRestricted) != 0 ? kRmfExpandRestrictedEntry : 0u;
      const bool stopped = (walk.flags & (kRmfWalkRanToEnd | kRmfWalkRestrictionStop)) != 0;
      if (!stopped && reached < roadClass) e.flags |= kRmfExpandBelowClass;
      e.farVertex = walk.farVertex;
      e.point = walk.farPoint;
      e.length = walk.length;
      e.costFactor = record.costFactor;
      e.timeFactor = record.timeFactor;
      e.packedFlags = (record.flags & kRmfTraversalRestricted) != 0 ? kRmfExpandPackedRestricted : 0u;
      e.packedFlags |= ((record.flags >> kRmfTraversalClassShift) & 0xF) << kRmfExpandPackedClassShift;
      e.packedFlags |= static_cast<std::uint32_t>(rmf::detail::TurnSector(c.turnAngle)) << kRmfExpandPackedSectorShift;
      if ((walk.flags & kRmfWalkRanToEnd) != 0) e.packedFlags |= kRmfExpandPackedRanToEnd;
      if ((walk.flags & kRmfWalkRestrictionStop) != 0) e.packedFlags |= kRmfExpandPackedWalkFlag;
      e.packedFlags |= (c.flags & 0x6) << 12;

      const RmfArrivalRef stretch{c.featureId, c.secondId, PackRef(c.part, c.vertex, c.direction, 0), nullptr};
      const std::int32_t traversal = Traversal(x, stretch, walk.length, record, turn, &e.packedFlags);
      // Closed at the time of travel: neither this stretch nor a longer one.
      if (traversal == kClosedAtTime) break;
      if (traversal < 0) return traversal;
      if (pendingFlag != 0) {
        const std::int32_t handed = HandOn(x, c, &e);
        if (handed < 0) return handed;
      }
      const std::int32_t emitted = Emit(x, e, turn + traversal, turn + traversal);
      if (emitted < 0) return emitted;

      // A longer stretch to the next junction of a higher level, while the
      // stretch's class allows it.
      if (stopped || reached + 1 > roadClass || reached + 1 > kMaxLevel) break;
      walkLevel = reached + 1;
    }
  }
  return x.count;
}

// A route that ends on the stretch in between of a permission's chain has
// kept it: the permissions (kind 6) of a destination's own stretch count as
// carried on, so that the way from the chain's from stretch onto it stays
// open. Its prohibitions (kind 3) do not: the route never reaches their to
// stretch. `seeded` holds the list; *list gets its head (null when none).
std::int32_t SeedDestination(Expansion& x, const RmfFeatKey& key, std::int32_t part, std::int32_t vertex,
                             std::int32_t travel, RmfPendingItem* seeded, const RmfPendingItem** list) {
  *list = nullptr;
  RmfConnectionAnswer own{};
  const std::int32_t r = StretchAnswer(x.route, key, part, vertex, travel, travel, &own);
  if (r < 0) return r;
  const RmfRestriction* items = Items(own, travel);
  RmfPendingItem* head = nullptr;
  for (std::int32_t i = 0, n = ItemCount(own, travel); i < n; ++i) {
    if (items[i].kind != kKindPermissionVia) continue;
    seeded[i] = RmfPendingItem{items[i].key, items[i].kind, head};
    head = &seeded[i];
  }
  *list = head;
  return 0;
}

std::int32_t ExpandBackward(Expansion& x) {
  const RmfArrivalRef& a = x.node->ref;
  const RmfFeatKey nodeKey = KeyOf(a.featureId, a.secondId);
  const std::int32_t part = static_cast<std::int32_t>(a.packed & kRmfNodeRefPartMask);
  const std::int32_t vertex = static_cast<std::int32_t>((a.packed >> kRmfNodeRefVertexShift) & kRmfNodeRefVertexMask);
  const std::int32_t travel = (a.packed & kRmfNodeRefHigher) != 0 ? 1 : -1;

  HeldTable table(x.route);
  const std::int32_t got = table.Take(nodeKey, 0);
  if (got != 1) return got < 0 ? got : CountInternalError();
  if (part >= table.get()->featureCount) return CountInternalError();
  const RmfTraversal* records = RmfTableTraversals(table.get(), part);
  const RmfTraversal record = records[TravelIndex(travel)];
  const std::int32_t ownClass = RmfTraversalClass(record.flags);
  if (ownClass < 0) return 0;

  RmfPendingItem seeded[kRmfConnectionItems];
  for (std::int32_t walkLevel = x.level, loops = 0; loops <= kMaxLevel; ++loops) {
    // The junction where the node's stretch begins: its part, vertex and
    // the vertex one step toward the node (for the direction of travel).
    RmfFeatKey startKey = nodeKey;
    std::int32_t startPart = part;
    std::int32_t startVertex = vertex;
    std::int32_t startTravel = travel;
    std::uint32_t length = 0;
    std::int32_t reached = std::min(ownClass, kMaxLevel);
    bool stopped = true;
    std::uint32_t walkFlags = 0;
    std::int32_t toward = vertex;
    TiPoint at{};
    {
      HeldSlot slot;
      if (slot.Fetch(x.route->reader, nodeKey, nullptr) != 1) return CountInternalError();
      if (RmfFeatureSelectPart(slot.get(), part, 0, nullptr) < 0) return CountInternalError();
      if (x.node->walked == 0) {
        RmfWalk walk{};
        const std::int32_t walked = RmfRouteWalk(x.route, slot.get(), table.get(), part, vertex, records, -travel,
                                                 travel, walkLevel, 1, nullptr, x.timeDependent ? 1 : 0, &walk,
                                                 nullptr);
        if (walked < 0) return walked;
        if (walked == 0) break;
        if (walk.farVertex >= static_cast<std::uint32_t>(kRmfMaxPartWords)) return CountInternalError();
        length = walk.length;
        reached = static_cast<std::int32_t>(walk.levelReached);
        walkFlags = walk.flags;
        stopped = (walk.flags & (kRmfWalkRanToEnd | kRmfWalkRestrictionStop)) != 0;
        startVertex = static_cast<std::int32_t>(walk.farVertex);
        if (walk.lastFeature.featureId != 0) {
          startKey = RmfFeatKey{walk.lastFeature.featureId, walk.lastFeature.source, walk.lastFeature.secondId};
          startPart = walk.lastFeature.part;
          startTravel = -walk.lastDirection;
          toward = walk.lastFeature.fromVertex;
        }
        at = walk.farPoint;
      } else if (VertexPoint(slot.get(), part, vertex, &at) != 1) {
        return CountInternalError();
      }
    }
    const std::int32_t recordLevel = std::min(reached, ownClass);
    x.pending = a.pending;
    if (x.node->walked != 0) {
      const std::int32_t r = SeedDestination(x, nodeKey, part, vertex, travel, seeded, &x.pending);
      if (r < 0) return r;
    }
    const RmfArrivalRef arrival{startKey.a, SecondIdOf(startKey), PackRef(startPart, startVertex, startTravel, 0),
                                x.pending};
    // The stretch out of the junction in the direction of travel; a walk
    // that came back to its start has no second vertex to tell it by.
    if (toward == startVertex) toward = startVertex + startTravel;
    const RmfFeatureRef fetch{startKey.a, startKey.b, startKey.c, static_cast<std::uint16_t>(startPart),
                              static_cast<std::uint16_t>(startVertex), static_cast<std::uint16_t>(std::max(toward, 0)),
                              kRmfPositionWhole};
    RmfConnection connections[kRmfMaxConnections];
    std::int32_t pendingFlag = 0;
    const std::int32_t n = Connections(x, arrival, &fetch, startVertex, record, at, connections, &pendingFlag);
    if (n < 0) return n;

    for (std::int32_t i = 0; i < n; ++i) {
      const RmfConnection& c = connections[i];
      if (c.direction != 1 && c.direction != -1) return CountInternalError();
      // The connection runs away from the junction; travel along it comes
      // into the junction.
      const std::int32_t inward = -c.direction;
      const std::int32_t roadClass = c.roadClass[TravelIndex(inward)];
      if (roadClass < x.level) continue;
      const std::int32_t turn = TurnCost(x.route, c.turnAngle);
      if (turn < 0) continue;

      RmfExpansion e{};
      const std::int32_t level = std::min(recordLevel, roadClass);
      e.featureId = c.featureId;
      e.secondId = c.secondId;
      e.packed = PackRef(c.part, c.vertex, inward, level);
      e.entryFeatureId = startKey.a;
      e.entrySecondId = SecondIdOf(startKey);
      e.entryPacked = PackRef(startPart, startVertex, startTravel, level);
      e.flags = c.restrictedEntry[TravelIndex(inward)] != 0 ? kRmfExpandRestrictedEntry : 0u;
      if (!stopped && reached < ownClass) e.flags |= kRmfExpandBelowClass;
      e.farVertex = static_cast<std::uint32_t>(startVertex);
      e.point = at;
      e.length = length;
      e.costFactor = record.costFactor;
      e.timeFactor = record.timeFactor;
      e.packedFlags = e.flags & kRmfExpandRestrictedEntry ? kRmfExpandPackedRestricted : 0u;
      e.packedFlags |= ((record.flags >> kRmfTraversalClassShift) & 0xF) << kRmfExpandPackedClassShift;
      e.packedFlags |= static_cast<std::uint32_t>(rmf::detail::TurnSector(c.turnAngle)) << kRmfExpandPackedSectorShift;
      if ((walkFlags & kRmfWalkRanToEnd) != 0) e.packedFlags |= kRmfExpandPackedRanToEnd;
      if ((walkFlags & kRmfWalkRestrictionStop) != 0) e.packedFlags |= kRmfExpandPackedWalkFlag;
      e.packedFlags |= (c.flags & 0x6) << 12;

      const RmfArrivalRef stretch{a.featureId, a.secondId, PackRef(part, vertex, travel, 0), nullptr};
      const std::int32_t traversal = Traversal(x, stretch, length, record, turn, &e.packedFlags);
      // The node's own stretch is closed at the time of travel: no way
      // into it from this junction, nor from one further back.
      if (traversal == kClosedAtTime) return x.count;
      if (traversal < 0) return traversal;
      if (pendingFlag != 0) {
        const std::int32_t handed = HandOn(x, c, &e);
        if (handed < 0) return handed;
      }
      const std::int32_t emitted = Emit(x, e, turn + traversal, turn + traversal);
      if (emitted < 0) return emitted;
    }
    if (x.node->walked != 0 || stopped || reached + 1 > ownClass || reached + 1 > kMaxLevel) break;
    walkLevel = reached + 1;
  }
  return x.count;
}

// Costs become profile times in thousandths, the cost shift undone first
// where the shifted value still fits 32 bits.
std::uint32_t CostTime(std::int64_t cost, std::uint32_t shift) {
  const std::uint64_t v = cost < 0 ? 0u : static_cast<std::uint64_t>(cost);
  if (shift >= 32) return 0xFFFFFFFFu;
  if ((v << shift) > 0xFFFFFFFFull) return static_cast<std::uint32_t>(std::min<std::uint64_t>((v / 1000) << shift, 0xFFFFFFFFull));
  return static_cast<std::uint32_t>((v << shift) / 1000);
}

}  // namespace

std::int32_t RmfRouteAddPending(RmfExpandAllocFn alloc, void* allocContext, const RmfPendingItem* item,
                                RmfExpansion* expansion) {
  if (alloc == nullptr || item == nullptr || expansion == nullptr) return kRmfBadArgument;
  RmfPendingItem** link = &expansion->pending;
  for (; *link != nullptr; link = &(*link)->next) {
    const RmfPendingItem& at = **link;
    if (at.key == item->key && at.kind == item->kind) return 0;
    if (at.key < item->key || (at.key == item->key && at.kind < item->kind)) break;
  }
  auto* made = static_cast<RmfPendingItem*>(alloc(allocContext, sizeof(RmfPendingItem)));
  if (made == nullptr) return kRmfNoMemory;
  made->key = item->key;
  made->kind = item->kind;
  made->next = *link;
  *link = made;
  return 0;
}

std::int32_t RmfRouteTimedCost(RmfRoute* route, std::int32_t fromRouteData, const RmfArrivalRef* stretch,
                               std::uint32_t length, const std::int32_t* forwardTime,
                               const std::int32_t* backwardTime, std::int32_t startCost, std::int32_t iterations,
                               RmfTraversal* traversal, std::int32_t* cost) {
  if (!rmf::detail::RouteAlive(route) || stretch == nullptr || traversal == nullptr || cost == nullptr) {
    return kRmfBadArgument;
  }
  if (fromRouteData != 0) return CountInternalError();
  try {
    return TimedCost(route, stretch, length, forwardTime, backwardTime, startCost, iterations, traversal, cost);
  } catch (...) {
    return kRmfNoMemory;
  }
}

namespace {

std::int32_t TimedCost(RmfRoute* route, const RmfArrivalRef* stretch, std::uint32_t length,
                       const std::int32_t* forwardTime, const std::int32_t* backwardTime, std::int32_t startCost,
                       std::int32_t iterations, RmfTraversal* traversal, std::int32_t* cost) {
  const RmfFeatKey key = KeyOf(stretch->featureId, stretch->secondId);
  const std::int32_t part = static_cast<std::int32_t>(stretch->packed & kRmfNodeRefPartMask);
  const std::int32_t direction = (stretch->packed & kRmfNodeRefHigher) != 0 ? 1 : -1;
  HeldSlot slot;
  if (slot.Fetch(route->reader, key, nullptr) != 1) return CountInternalError();
  RmfAttrSet set;  // about 26 KB, on the stack as in the junction's questions
  if (RmfFeatureSelectPart(slot.get(), part, 1, &set) < 0) return CountInternalError();

  std::int32_t current = std::max(startCost, 0);
  *cost = current;
  for (std::int32_t i = 0; i < std::max(iterations, 1); ++i) {
    RmfTimeRequest request{};
    const std::uint32_t duration = CostTime(current, route->costShift);
    if (forwardTime != nullptr) {
      request.forwardTime = CostTime(*forwardTime, route->costShift);
      request.flags |= kRmfTimeRequestForward;
    }
    if (backwardTime != nullptr) {
      request.backwardTime = CostTime(*backwardTime, route->costShift);
      request.flags |= kRmfTimeRequestBackward;
    } else if (forwardTime != nullptr) {
      request.backwardTime = request.forwardTime + duration;
    }
    request.duration = duration;
    request.flags |= kRmfTimeRequestDuration;
    if (direction > 0) request.flags |= kRmfTimeRequestHigher;

    RmfFeatureAnswer answer{};
    answer.request = route->profileModes[0] != 0 ? kRmfFeatureRequestMode : 0u;
    answer.travel[0].roadClass = answer.travel[1].roadClass = -1;
    const std::int32_t asked = RmfProfileFeatureCost(route->reader, &set, &request, &answer);
    if (asked < 0) return asked;
    const std::int32_t index = TravelIndex(direction);
    const RmfTravelAnswer& t = answer.travel[index];
    const std::uint32_t timeFlags = answer.timeWords[kRmfAnswerTimeFlags + index];
    traversal->flags = (static_cast<std::uint32_t>(t.roadClass < 0 ? -1 : std::min<std::int32_t>(t.roadClass, 15))
                        << kRmfTraversalClassShift) &
                       kRmfTraversalClassMask;
    traversal->flags |= timeFlags & (kRmfTraversalTimed | kRmfTraversalTimeFlag | kRmfTraversalTimeMask);
    traversal->costFactor = t.costFactor;
    traversal->timeFactor = answer.timeWords[kRmfAnswerTimeFactor + index];
    if (t.roadClass < 0 || (route->modeFlags & kRmfRouteModeTimeDependent) == 0) break;
    const std::int32_t next = RmfScaledCost(length, traversal->timeFactor, route->costShift);
    if (next < 0) return kRmfCostOverflow;
    const bool settled = next == current;
    current = next;
    *cost = current;
    if (settled || (traversal->flags & kRmfTraversalTimed) == 0) break;
  }
  return 1;
}

}  // namespace

std::int32_t RmfRouteExpandNode(RmfRoute* route, const RmfExpandNodeRef* node, std::int32_t level,
                                std::int32_t forward, const std::int32_t* forwardCost,
                                const std::int32_t* backwardCost, RmfExpandAllocFn alloc, void* allocContext,
                                RmfExpansion* expansions, std::int32_t* stepTimes, std::int32_t* stepCosts,
                                std::int32_t capacity) {
  if (!rmf::detail::RouteAlive(route) || !rmf::detail::ReaderAlive(route->reader) || node == nullptr ||
      expansions == nullptr || capacity < 0 || level < 0) {
    return kRmfBadArgument;
  }
  if (route->routeData != nullptr) return CountInternalError();
  Expansion x{route,
              node,
              std::min(level, kMaxLevel),
              forward != 0,
              (route->modeFlags & kRmfRouteModeTimeDependent) != 0,
              forwardCost,
              backwardCost,
              alloc,
              allocContext,
              expansions,
              stepTimes,
              stepCosts,
              capacity};
  x.pending = node->ref.pending;
  try {
    return x.forward ? ExpandForward(x) : ExpandBackward(x);
  } catch (...) {
    // Memory a helper could not have from the heap.
    return kRmfNoMemory;
  }
}
