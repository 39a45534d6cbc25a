// The route object: the map-format library's handle for route calculation
// on one reader. It holds the router's options, the turn-cost table, the
// per-route feature cache, what it has seen of the reader's routing profile
// and sources, and the result of the last search, an array of feature
// references from origin to destination. The record is in
// route/RmfRouteRecord.h.
//
// A route is created per use and destroyed at its end; its reader must stay
// open until then. One caller uses a route at a time. Functions refuse a null
// route or one that is not alive (never created, or destroyed) with
// kRmfBadArgument (-2).
#pragma once

#include <atomic>
#include <cstdint>

#include "mapengine/format/RmfExport.h"
#include "mapengine/format/RmfResult.h"
#include "mapengine/format/RmfTypes.h"
#include "mapengine/format/route/RmfRouteRecord.h"

// The turn costs a route starts with, by sector (0 straight on, 8 U-turn).
inline constexpr std::int32_t kRmfDefaultTurnCosts[kRmfTurnSectors] = {
    0, 2000, 6000, 12000, 20000, 30000, 60000, 120000, 240000, 120000, 60000, 20000, 10000, 6000, 3000, 1000};

// Makes a route on a live reader with the default options, its feature cache
// and its view of the reader's sources: 1 with *route. kRmfBadArgument (-2)
// for a null output or a reader that is not alive; kRmfNoMemory (-3); or the
// failure of the feature cache or of RmfRouteInit. On failure nothing is left
// allocated and *route is not written.
RMF_API_NODISCARD std::int32_t RmfRouteCreate(RmfRoute** route, RmfReader* reader);
// Resets and frees the route: 1, or the feature cache's failure.
// kRmfMalformed (-128) when the reset fails (nothing is freed then).
RMF_API_NODISCARD std::int32_t RmfRouteDestroy(RmfRoute* route);
// The last result: 1 with *count and *references (each optional; the array
// stays the route's, valid until the next reset, search or destruction); 0
// when there is none (nothing written); kRmfBadArgument (-2) also for a
// negative count in the route.
RMF_API_NODISCARD std::int32_t RmfRouteRetrieve(RmfRoute* route, std::int32_t* count, RmfFeatureRef** references);
// Installs 16 turn costs (by sector; negative forbids the turn) and resets the
// route, whose result is discarded: the reset's result.
RMF_API_NODISCARD std::int32_t RmfRouteSetTurnCosts(RmfRoute* route, const std::int32_t* costs);
// Discards the result, side table, auxiliary records and the search's
// leftovers (node pool included): 1.
RMF_API_NODISCARD std::int32_t RmfRouteReset(RmfRoute* route);
// Brings the route up to date with its reader before a search: a changed
// routing profile or a changed number of sources empties the feature cache;
// new sources refresh the source tables (boxes, flags, level mask) and enable
// every source. *changed (optional) gets 1 when anything changed, else 0. 1;
// kRmfBadArgument (-2) for a reader that is no longer alive; kRmfNoMemory
// (-3) (the source tables are then empty and the source count 0, so the next
// call tries again); kRmfMalformed (-128) for a source the reader cannot give,
// or when the feature cache cannot be emptied because a block is still held
// (nothing is taken as seen then).
RMF_API_NODISCARD std::int32_t RmfRouteInit(RmfRoute* route, std::int32_t* changed);
// Total length, in TiDistance units, of `count` references: each part walked
// from its from vertex to its to vertex, a fraction below 1024 scaling its
// reference's length. 0 for count 0; kRmfBadArgument (-2) for a bad reader,
// null references with a count above 0, or a negative count;
// kRmfBadReference (-13) for a fraction above 1024; kRmfMalformed (-128) for a
// feature that cannot be fetched, a walk that does not come out on the to
// vertex, or a total beyond 0x7FFFFFFF. Those two failures are also left as
// the reader's last error.
RMF_API_NODISCARD std::int32_t RmfRouteRefsLength(RmfReader* reader, const RmfFeatureRef* references,
                                                  std::int32_t count);
// Compacts the result once: of more than 3 entries, each inner entry that
// continues the previous inner entry on the same feature, part and direction
// is merged into it (the first and last entries stay as they are); then the
// search's leftovers and node pool are freed. The result count; 0 without a
// result; kRmfNoMemory (-3) when the array cannot be shrunk (the route is then
// reset).
RMF_API_NODISCARD std::int32_t RmfRouteCompact(RmfRoute* route);

// ---- options ----
// Each returns 1, or kRmfBadArgument (-2) for a bad route or value.

// Polled by the search: non-zero stops it. Null: none.
RMF_API_NODISCARD std::int32_t RmfRouteSetCancelFlag(RmfRoute* route, const std::atomic<std::int8_t>* cancel);
// Progress 0..255 written by the search. Null: none.
RMF_API_NODISCARD std::int32_t RmfRouteSetProgress(RmfRoute* route, volatile std::uint8_t* progress);
// Cost tolerance in percent: above 100 the search goes on after the first
// meeting, weighting its estimate by it.
RMF_API_NODISCARD std::int32_t RmfRouteSetTolerance(RmfRoute* route, std::int32_t percent);
// Maximum bytes of the search's node pool, 25 to 0x7FFFFFFF.
RMF_API_NODISCARD std::int32_t RmfRouteSetNodeMemoryLimit(RmfRoute* route, std::uint32_t bytes);
// Searches of one find (each retry with a larger cost shift); below 1 a find
// finds nothing.
RMF_API_NODISCARD std::int32_t RmfRouteSetTries(RmfRoute* route, std::int32_t tries);
// Mode flags (kRmfRouteMode*); bits outside kRmfRouteModeKnown are refused.
RMF_API_NODISCARD std::int32_t RmfRouteSetModeFlags(RmfRoute* route, std::uint32_t flags);
// The nodes the last search of the route expanded (0 before the first);
// kRmfBadArgument (-2) for a route that is not one.
RMF_API_NODISCARD std::int32_t RmfRouteExpandedNodes(const RmfRoute* route);
