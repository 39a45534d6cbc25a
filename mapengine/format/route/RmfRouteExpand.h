// Edge expansion: what the route search may reach from one of its nodes, at
// which search level and at what cost. A forward node stands at a junction
// it reached along its own stretch; its successors are the stretches that
// leave the junction, each walked to the next junction of the level. A
// backward node stands at a junction too, reached (in the direction of
// travel) along its own stretch, which the backward search has not paid for
// yet: expansion walks that stretch back against the travel direction to the
// junction where it begins and offers the ways into that junction. Either
// way a successor is named by the stretch's feature, part, the vertex of the
// junction it ends at (forward) or begins at (backward) and the direction of
// travel along it, so that a forward and a backward node with the same name
// stand for the same place in the same state and their costs add up to the
// cost of a route.
//
// Costs are 32-bit: a traversal costs (length x cost factor) >> (8 + cost
// shift) and a turn table[sector] >> cost shift; a sum beyond 0x7FFFFFFF is
// an overflow (kRmfCostOverflow), after which RmfRouteFind tries again with a
// larger shift.
#pragma once

#include <cstdint>

#include "mapengine/format/RmfExport.h"
#include "mapengine/format/RmfResult.h"
#include "mapengine/format/base/TiTypes.h"
#include "mapengine/format/route/RmfNodeConnections.h"
#include "mapengine/format/route/RmfTileRouteTable.h"

struct RmfRoute;

// Records the search hands to one expansion.
inline constexpr std::int32_t kRmfExpandCapacity = 32;

// Expansion record flags.
inline constexpr std::uint32_t kRmfExpandRestrictedEntry = 0x1;  // the stretch carries the restricted-entry mark
inline constexpr std::uint32_t kRmfExpandBelowClass = 0x2;       // the walk stopped below the stretch's class

// Packed flags of an expansion record.
inline constexpr std::uint32_t kRmfExpandPackedRestricted = 0x1;
inline constexpr std::uint32_t kRmfExpandPackedClassShift = 1;   // bits 1-4: low four bits of the class field
inline constexpr std::uint32_t kRmfExpandPackedSectorShift = 5;  // bits 5-8: turn sector
inline constexpr std::uint32_t kRmfExpandPackedRanToEnd = 0x200;     // the walk ran to the end of its part
inline constexpr std::uint32_t kRmfExpandPackedTimedCost = 0x400;    // cost recomputed for the time of travel
inline constexpr std::uint32_t kRmfExpandPackedStillTimed = 0x800;   // and the record stays time-dependent
inline constexpr std::uint32_t kRmfExpandPackedWalkFlag = 0x1000;    // the walk stopped at a restriction mark
inline constexpr std::uint32_t kRmfExpandPackedConnTimed = 0x6000;   // the connection's time-dependent marks
inline constexpr std::uint32_t kRmfExpandPackedConnSecond = 0x4000;  // the second of them

// The directed reference of a node handed to an expansion: feature, second
// id word and the packed part, vertex, travel direction and level
// (kRmfNodeRef*), with the restriction items it carries.
struct RmfExpandNodeRef {
  RmfArrivalRef ref;
  // Backward nodes only: 1 when the node's stretch has been paid for already
  // (the start of a destination): the node's vertex is the junction itself.
  std::int32_t walked;
};

// One stretch the search may enter. The stretch runs, in the direction of
// travel, from the entry (entryFeatureId, entrySecondId, entryPacked: part,
// vertex, direction) to the successor (featureId, secondId, packed: part,
// vertex, direction, level). Forward: the entry is the junction left and the
// successor the next junction. Backward: the successor is the way into the
// junction (its vertex at the junction) and the entry the junction where the
// walked stretch of the expanded node begins.
struct RmfExpansion {
  std::uint32_t featureId;
  std::uint32_t secondId;
  std::uint32_t packed;
  std::uint32_t flags;         // kRmfExpand*
  std::uint32_t routeDataRef;  // 0: none (route objects here carry no route data)
  // Carried to the search unchanged: the first gives the successor node's
  // expansion word bits 0-1 (kRmfSearchNeedsEnd, kRmfSearchTakeAtOnce), the
  // second its link's allowed end and carried level (kRmfLinkAllowedEnd,
  // kRmfLinkCarriesLevel with the level). Stretches of route data carry
  // them; stretches walked on map features leave both 0, since any of their
  // junctions may end a route and their level is the record's own.
  std::uint32_t walkWords[2];
  RmfPendingItem* pending;     // restriction items handed on; sorted, from the allocator
  std::uint32_t farVertex;     // where the walked stretch ends
  std::uint32_t length;        // of the walked stretch, map units
  std::uint32_t costFactor;
  std::uint32_t timeFactor;
  std::uint32_t packedFlags;   // kRmfExpandPacked*
  std::uint32_t entryFeatureId;
  std::uint32_t entrySecondId;
  std::uint32_t entryPacked;
  TiPoint point;  // where the successor stands: the junction at its vertex
};

// Memory for pending restriction items: a block of `size` bytes, or null.
typedef void* (*RmfExpandAllocFn)(void* context, std::uint32_t size);

// Expands a node at `level`: writes up to `capacity` records and, per record,
// the step cost (turn plus traversal) and, when asked, the step time. The
// forward and backward cost records (optional) are the node's costs so far,
// read in time-dependent mode. Returns the number of records;
// kRmfCostOverflow (-15) when a step cost would pass 0x7FFFFFFF;
// kRmfNoMemory (-3) when the allocator fails; kRmfMalformed (-128), counted
// as an internal error, for an inconsistency (a feature that cannot be read,
// a vertex out of range, more records than the capacity); kRmfBadArgument
// (-2) for bad arguments; the codes of the junction connections and the
// routing profile are passed on. On failure the records written so far are
// not to be used.
RMF_API_NODISCARD std::int32_t RmfRouteExpandNode(RmfRoute* route, const RmfExpandNodeRef* node, std::int32_t level,
                                                  std::int32_t forward, const std::int32_t* forwardCost,
                                                  const std::int32_t* backwardCost, RmfExpandAllocFn alloc,
                                                  void* allocContext, RmfExpansion* expansions,
                                                  std::int32_t* stepTimes, std::int32_t* stepCosts,
                                                  std::int32_t capacity);

// The cost of a time-dependent stretch of `length` units at the time it is
// travelled. `stretch` names it (feature key and packed part and direction);
// the forward and backward times so far are optional. Starting from
// `startCost`, the profile is asked for the stretch's traversal at that time
// and the cost recomputed from its time factor, up to `iterations` times or
// until it settles. *traversal gets the profile's last answer as a traversal
// record and *cost the last cost. 1; kRmfCostOverflow (-15); kRmfBadArgument
// (-2); the profile's codes. Route data is never read (fromRouteData must be
// 0).
RMF_API_NODISCARD std::int32_t RmfRouteTimedCost(RmfRoute* route, std::int32_t fromRouteData,
                                                 const RmfArrivalRef* stretch, std::uint32_t length,
                                                 const std::int32_t* forwardTime, const std::int32_t* backwardTime,
                                                 std::int32_t startCost, std::int32_t iterations,
                                                 RmfTraversal* traversal, std::int32_t* cost);

// Adds a restriction item to an expansion's pending list, which stays sorted
// by descending key, then kind; an item equal in key and kind to one there
// is not added. 0; kRmfNoMemory (-3) when the allocator fails.
RMF_API_NODISCARD std::int32_t RmfRouteAddPending(RmfExpandAllocFn alloc, void* allocContext,
                                                  const RmfPendingItem* item, RmfExpansion* expansion);
