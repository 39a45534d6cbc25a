// The roads at one end of a feature reference: the junction's connections as
// the route search's enumeration finds them, every verdict kept, sorted,
// each way listed once, and each turned into a reference that runs from the
// junction to the far end of its stretch (or from there to the junction).
#include "mapengine/format/route/RmfFeatConnect.h"

#include <cstdint>

#include "mapengine/format/base/TiMath.h"
#include "mapengine/format/base/TiUnits.h"
#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/features/RmfFeatureAttr.h"
#include "mapengine/format/features/RmfProfile.h"
#include "mapengine/format/route/RmfNodeConnections.h"
#include "mapengine/format/route/RmfRoute.h"
#include "mapengine/format/route/RmfRouteInternal.h"
#include "mapengine/format/route/RmfRouteWalk.h"
#include "mapengine/format/route/RmfTileRouteTable.h"
#include "mapengine/format/route/RmfTileRouteTableInternal.h"

namespace {

using rmf::detail::CountInternalError;
using rmf::detail::KeyOf;
using rmf::detail::HeldSlot;
using rmf::detail::HeldTable;

// The arrival's vertex goes into the 13 bits of a search node, checked there
// against the part; this is as far as the junction's own reading goes.
constexpr std::int32_t kMaxJunctionVertex = 32767;
// Roads below this class are no way out of a junction for the map engine.
constexpr std::int32_t kMinimumClass = 1;


std::int32_t Side(std::int32_t direction) { return direction > 0 ? kRmfTravelHigher : kRmfTravelLower; }

// A heading turned round; on (-2^27, 2^27] turning twice gives it back.
std::int32_t TurnRound(std::int32_t heading) { return heading > 0 ? heading - kTiHalfTurn : heading + kTiHalfTurn; }

// What the junction's reading needs of the reference's own road.
struct Arrival {
  TiPoint point{};
  bool restrictedEntry = false;  // its direction carries the restricted-entry mark
  std::uint32_t groupCode = 0;   // of its direction
};

// Reads the junction point at `vertex` of the reference's part and the
// profile's answer for the reference's direction: 1, or a negative code.
std::int32_t ReadArrival(RmfRoute* route, const RmfFeatureRef& reference, std::int32_t vertex,
                         std::int32_t direction, Arrival* out) {
  HeldSlot slot;
  if (slot.Fetch(route->reader, KeyOf(reference.featureId, reference.source | (std::uint32_t{reference.secondId} << 16)),
                 nullptr) != 1) {
    return kRmfBadArgument;
  }
  RmfAttrSet set;  // about 26 KB, for this question only
  const std::int32_t selected = RmfFeatureSelectPart(slot.get(), reference.part, 1, &set);
  if (selected == kRmfBadArgument) return kRmfBadReference;  // no such part
  if (selected < 0) return selected;
  const std::int32_t word = RmfFeatureNodeAt(slot.get(), reference.part, vertex);
  if (word < 0 || word >= 0x8000 || RmfFeaturePointAt(slot.get(), word, &out->point) != 1) return kRmfBadReference;

  RmfFeatureAnswer answer{};
  answer.request = route->profileModes[0] != 0 ? kRmfFeatureRequestMode : 0u;
  answer.travel[0].roadClass = answer.travel[1].roadClass = -1;
  const std::int32_t asked = RmfProfileFeatureCost(route->reader, &set, nullptr, &answer);
  if (asked < 0) return asked;
  // Read as the routing tables and the junction's passages read it.
  const RmfTraversal traversal = rmf::detail::TraversalOf(answer, Side(direction), false);
  if (RmfTraversalClass(traversal.flags) < 0) return kRmfBadReference;
  out->restrictedEntry = (traversal.flags & kRmfTraversalRestricted) != 0;
  out->groupCode = static_cast<std::uint32_t>(RmfTraversalGroup(traversal.flags));
  return 1;
}

// The box of a reach around the junction: its half height is the reach, its
// half width the reach over the cosine, so that it is about square on the
// ground, held to the world's width.
TiRect ReachBox(TiPoint at, std::int32_t reach, std::int32_t cosine) {
  std::int64_t halfWidth = kTiFullTurn;
  if (cosine > 0) halfWidth = std::int64_t{reach} * kTiFullTurn / cosine;
  if (halfWidth > kTiFullTurn) halfWidth = kTiFullTurn;
  const auto w = static_cast<std::int32_t>(halfWidth);
  return TiRect{at.x - w, at.y - reach, at.x + w, at.y + reach};
}

// TiSort's order of connections: feature id, source, second id, part,
// vertex, then travel direction and forward-search mark (signed).
std::int32_t CompareConnections(const void* a, const void* b, void*) {
  const auto& x = *static_cast<const RmfConnection*>(a);
  const auto& y = *static_cast<const RmfConnection*>(b);
  const auto order = [](auto p, auto q) -> std::int32_t { return p < q ? -1 : p > q ? 1 : 0; };
  if (const std::int32_t c = order(x.featureId, y.featureId)) return c;
  if (const std::int32_t c = order(x.secondId & 0xFFFF, y.secondId & 0xFFFF)) return c;
  if (const std::int32_t c = order(x.secondId >> 16, y.secondId >> 16)) return c;
  if (const std::int32_t c = order(x.part, y.part)) return c;
  if (const std::int32_t c = order(x.vertex, y.vertex)) return c;
  if (const std::int32_t c = order(std::int32_t{x.direction}, std::int32_t{y.direction})) return c;
  return order(static_cast<std::int32_t>(x.forwardSearch), static_cast<std::int32_t>(y.forwardSearch));
}

bool SameWay(const RmfConnection& a, const RmfConnection& b) {
  return a.featureId == b.featureId && a.secondId == b.secondId && a.part == b.part && a.vertex == b.vertex &&
         a.direction == b.direction;
}

// The far vertex of a connection's stretch: the next node along it (reach
// 0) or the next junction at level 0, within the box when there is one.
// The vertex, or a negative code.
std::int32_t FarVertex(RmfRoute* route, const RmfConnection& c, bool useTables, std::int32_t reach,
                       const TiRect* box) {
  const RmfFeatKey key = KeyOf(c.featureId, c.secondId);
  HeldSlot slot;
  if (slot.Fetch(route->reader, key, nullptr) != 1) return CountInternalError();
  if (RmfFeatureSelectPart(slot.get(), c.part, 0, nullptr) < 0) return CountInternalError();
  if (reach == kRmfReachNextNode) {
    std::int32_t found = -1;
    if (RmfFeatureNextNode(slot.get(), c.part, c.vertex, c.direction, &found, nullptr) < 0) {
      return CountInternalError();
    }
    return found;
  }
  HeldTable table(route);
  if (useTables) {
    const std::int32_t built = table.Take(key, -1);
    if (built < 0) return built;
    if (built == 0) return CountInternalError();
  }
  const std::int32_t far = RmfRouteNextJunction(route, slot.get(), table.get(), c.part, c.vertex, c.direction, 0, box);
  if (far == kRmfMalformed) return far;  // counted by the walk
  if (far < 0) return CountInternalError();
  return far;
}

}  // namespace

std::int32_t RmfRouteFeatConnect(RmfRoute* route, const RmfFeatureRef* reference, std::int32_t endFlag,
                                 RmfJunction* records, std::int32_t capacity, std::int32_t useTileTable,
                                 std::int32_t reach) {
  if (!rmf::detail::RouteAlive(route) || reference == nullptr || capacity < 0 ||
      (capacity > 0 && records == nullptr)) {
    return kRmfBadArgument;
  }
  const std::int32_t synced = RmfRouteInit(route, nullptr);
  if (synced != 1) return synced;

  const bool atEnd = endFlag != 0;
  const std::int32_t vertex = atEnd ? reference->toVertex : reference->fromVertex;
  if (vertex > kMaxJunctionVertex) return CountInternalError();
  const std::int32_t direction = reference->fromVertex < reference->toVertex ? 1 : -1;

  // A router with route data would look the junction up there first, and
  // list the reference's own road both ways at an end that is no node of
  // its road graph. Route objects of this system carry none
  // (route->routeData is null), so that lookup is skipped and the junction
  // is always read from the map.
  Arrival arrival;
  const std::int32_t read = ReadArrival(route, *reference, vertex, direction, &arrival);
  if (read != 1) return read;
  const std::int32_t cosine = TiSin(static_cast<std::uint32_t>(arrival.point.y) + kTiQuarterTurn);
  TiRect box{};
  const bool boxed = reach >= 1 && reach <= kRmfReachBoxMax;
  if (boxed) box = ReachBox(arrival.point, reach, cosine);

  // The enumeration of a forward search (reverse set) leads out of the
  // junction with headings leaving it, that of a backward search leads in
  // with headings arriving: the end flag picks the one whose records point
  // the way this call's records do.
  const RmfArrivalRef arriving{
      reference->featureId, reference->source | (std::uint32_t{reference->secondId} << 16),
      (reference->part & kRmfNodeRefPartMask) |
          ((static_cast<std::uint32_t>(vertex) & kRmfNodeRefVertexMask) << kRmfNodeRefVertexShift) |
          (direction > 0 ? kRmfNodeRefHigher : 0u),
      nullptr};
  RmfConnection connections[kRmfMaxConnections];
  const std::int32_t n = RmfRouteNodeConnections(
      route, 0, nullptr, &arriving, arrival.restrictedEntry ? 1 : 0, atEnd ? 1 : 0, kMinimumClass, 0, nullptr,
      nullptr, 0, 0, useTileTable != 0 ? 1 : 0, nullptr, vertex, arrival.groupCode != 0 ? 1 : 0, cosine,
      connections, nullptr, nullptr);
  if (n < 0) return n;
  if (n == 0 || n > kRmfMaxConnections) return CountInternalError();

  RmfConnection scratch;
  if (TiSort(connections, n, sizeof(RmfConnection), &scratch, &CompareConnections, nullptr) != 1) {
    return CountInternalError();
  }
  // Where a junction is handled as a group, the enumeration also lists ways
  // with the other forward-search mark, so a way may come twice: the one
  // enumerated the way this call's records point survives.
  const std::uint8_t wantedMark = atEnd ? 0 : 1;
  for (std::int32_t i = 1; i < n; ++i) {
    if (SameWay(connections[i - 1], connections[i]) &&
        connections[i - 1].forwardSearch == connections[i].forwardSearch) {
      return CountInternalError();
    }
  }

  std::int32_t count = 0;
  for (std::int32_t i = 0; i < n; ++i) {
    const RmfConnection* c = &connections[i];
    if (i + 1 < n && SameWay(*c, connections[i + 1])) {
      if (c->forwardSearch != wantedMark) c = &connections[i + 1];
      ++i;
    }
    ++count;
    if (count > capacity) continue;

    const std::int32_t far = FarVertex(route, *c, useTileTable != 0, reach, boxed ? &box : nullptr);
    if (far < 0) return far;
    if (far > 0xFFFF) return CountInternalError();
    RmfJunction& r = records[count - 1];
    r.featureId = c->featureId;
    r.secondId = c->secondId;
    r.part = c->part;
    r.startVertex = atEnd ? c->vertex : static_cast<std::uint16_t>(far);
    r.endVertex = atEnd ? static_cast<std::uint16_t>(far) : c->vertex;
    r.fraction = kRmfPositionWhole;
    // A way that only the other enumeration lists carries that one's
    // heading; turned, it agrees with the way the record points.
    r.heading = c->forwardSearch == wantedMark ? c->leavingHeading : TurnRound(c->leavingHeading);
    r.verdict = c->verdict;
    // The way leads away from the junction in its direction of travel; the
    // record runs that way with the end flag set and against it when clear.
    r.roadClass = c->roadClass[Side(atEnd ? c->direction : -c->direction)];
    r.padding[0] = r.padding[1] = 0;
  }
  return count;
}
