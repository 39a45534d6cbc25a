// The route object's record: the router's options with their defaults, the
// turn-cost table, the per-route feature cache, what the route has seen of
// its reader's routing profile and map sources, the search's leftovers and
// the result of the last search. Plain state, as the reader record is; the
// functions on it are in route/RmfRoute.h and the router's other files.
//
// Every heap block the record points to (result array, side table, auxiliary
// records and their blocks, leftover block, source tables) comes from
// std::malloc and goes back with std::free; whoever fills one for the route
// allocates it that way, and the route frees it at reset or destruction.
#pragma once

#include <atomic>
#include <cstdint>

#include "mapengine/format/RmfTypes.h"
#include "mapengine/format/base/TiTypes.h"

struct RmfReader;
struct RmfFeatCache;
struct RmfNodePool;
// Precompiled route data; null in every route this system creates.
struct RmfRouteData;
// Answers the route remembers (RmfRouteMemo.h).
struct RmfRouteMemo;

inline constexpr std::uint32_t kRmfRouteTag = 0xabcd1234;
inline constexpr std::int32_t kRmfTurnSectors = 16;
inline constexpr std::int32_t kRmfRoadClasses = 16;
inline constexpr std::int32_t kRmfGroupCodes = 4;

// Mode flags (RmfRoute::modeFlags).
// Exact lengths in stretch walks; without it the search's estimate is taken at 95/100.
inline constexpr std::uint32_t kRmfRouteModeExactLengths = 0x01;
inline constexpr std::uint32_t kRmfRouteModeJunctionGroups = 0x02;
inline constexpr std::uint32_t kRmfRouteModeMirroredSides = 0x08;
// One matching restriction permission suffices.
inline constexpr std::uint32_t kRmfRouteModeOnePermission = 0x10;
inline constexpr std::uint32_t kRmfRouteModeTimeDependent = 0x20;
// Fill the per-result side table.
inline constexpr std::uint32_t kRmfRouteModeSideTable = 0x40;
// Every bit with a meaning (bit 2 has none and stays clear).
inline constexpr std::uint32_t kRmfRouteModeKnown = 0x7B;
inline constexpr std::uint32_t kRmfRouteModeDefault = kRmfRouteModeExactLengths | kRmfRouteModeJunctionGroups |
                                                      kRmfRouteModeMirroredSides | kRmfRouteModeOnePermission;

// State flags (RmfRoute::stateFlags).
inline constexpr std::uint32_t kRmfRouteStateCompacted = 0x01;  // the result is compacted
// The search destroys its node pool and compacts the result when it ends;
// clear, it leaves both in the route.
inline constexpr std::uint32_t kRmfRouteStateAutoCompact = 0x02;
// An origin and a destination lie on the same feature (set by the search).
inline constexpr std::uint32_t kRmfRouteStateSameFeature = 0x08;
inline constexpr std::uint32_t kRmfRouteStateDefault = kRmfRouteStateAutoCompact;

// Defaults of the options.
inline constexpr std::int32_t kRmfRouteDefaultTries = 3;
inline constexpr std::int32_t kRmfRouteDefaultTolerance = 125;  // percent
inline constexpr std::uint32_t kRmfRouteFeatCacheBudget = 0x200000;
inline constexpr std::int32_t kRmfRouteFeatCacheBuckets = 256;
inline constexpr std::uint32_t kRmfRouteDefaultNodeMemory = 0x7FFFFFFF;
inline constexpr std::int32_t kRmfRouteDefaultCostLimit = 0x7FFFFFFF;
// The cost shift grows by this much each time a search overflows.
inline constexpr std::uint32_t kRmfRouteCostShiftStep = 4;

// One entry of the per-result side table: the result's reference and a word
// of the search (the cost word of the link that gave it).
struct RmfRouteSideEntry {
  RmfFeatureRef reference;
  std::uint32_t word;
};
static_assert(sizeof(RmfRouteSideEntry) == 20, "side table entries are 20 bytes");

// An auxiliary record of the edge expansion and the stretch walks. The route
// owns its two heap blocks (either may be null) and frees them at reset; the
// words are its filler's.
struct RmfRouteAuxRecord {
  void* blocks[2];
  std::uint32_t words[5];
};

struct RmfRoute {
  std::uint32_t tag;  // kRmfRouteTag, written last when creation succeeded; 0 after destruction

  // The last result, origin to destination.
  RmfFeatureRef* result;
  std::int32_t resultCount;  // 0: no route
  RmfRouteSideEntry* sideTable;  // mode flag kRmfRouteModeSideTable
  std::int32_t sideCount;
  std::int32_t routeCost;  // -1: none
  RmfRouteAuxRecord* auxRecords;
  std::int32_t auxCount;

  RmfReader* reader;
  const std::atomic<std::int8_t>* cancel;  // non-zero stops the search; may be null
  volatile std::uint8_t* progress;  // 0..255 written by the search; may be null
  RmfFeatCache* featCache;
  std::uint32_t profileGeneration;  // the reader's profile change counter last seen
  std::uint32_t costShift;  // right shift of scaled costs; +4 per retry
  std::int32_t tries;  // searches of one find

  // The reader's sources as last seen.
  std::int32_t sourceCount;
  std::uint8_t* sourceEnable;  // one byte per source: 1 the search may use it
  // sourceCount boxes (map units) followed by sourceCount flag bytes (the
  // header flags of each source), one block; see RmfRouteSourceFlagBytes.
  TiRect* sourceBoxes;
  std::uint32_t sourceFlags;  // OR of all sources' flag bytes

  // Cost added for a turn, by 22.5-degree sector of the turn angle
  // (((angle + 2^23) >> 24) & 15 in heading units: 0 straight on, 8 U-turn),
  // shifted right by the cost shift; a negative entry forbids the turn.
  std::int32_t turnCosts[kRmfTurnSectors];
  // Road-class levels of the search (-1: none for that class).
  std::int32_t classTriggers[kRmfRoadClasses];
  std::int32_t classJunctionThresholds[kRmfRoadClasses];
  std::int32_t classCostThresholds[kRmfRoadClasses];  // compared after the cost shift
  std::int32_t tolerancePercent;  // above 100 the search goes on after the first meeting
  std::uint32_t featCacheBudget;  // bytes, given to the feature cache at creation
  std::uint32_t nodeMemoryLimit;  // maximum bytes of the search's node pool
  std::int32_t costLimit;  // costs at or above it (after the shift) are not searched
  std::uint32_t modeFlags;  // kRmfRouteMode*
  // Pair penalties of junction groups by the two group codes, heading units.
  std::uint32_t groupPenalties[kRmfGroupCodes][kRmfGroupCodes];

  // Left by the last search until compaction or reset.
  void* searchBlock;  // heap
  RmfNodePool* nodePool;
  void* meetForward;  // the meeting pair (nodes of the node pool)
  void* meetBackward;
  std::int32_t searchBlockSize;  // 0 without a block
  std::int32_t searchBlockIndex;  // -1 without a block

  std::uint32_t stateFlags;  // kRmfRouteState*

  // The reference lists of the last search (the caller's arrays).
  const RmfFeatureRef* origins;
  std::int32_t originCount;
  const RmfFeatureRef* destinations;
  std::int32_t destinationCount;

  // Copied into bits 0 and 1 of every request to the routing profile (zero
  // or not); both 0 by default.
  std::uint32_t profileModes[2];
  // Bit L set when some source holds tiles of tile level L (0..15), from the
  // level masks of the sources' headers; refreshed with the source tables.
  std::uint32_t levelMask;
  RmfRouteData* routeData;  // null: none
  // Nodes the last search expanded, both directions together (what a
  // search costs, for callers that measure it); 0 before the first.
  std::int32_t expandedNodes;
  // Tile index answers the route remembers (RmfRouteMemo.h): null until
  // first needed; freed with the feature cache's blocks when the profile or
  // the sources change.
  RmfRouteMemo* memo;
};

// The flag bytes that follow the boxes of the source table; null without one.
inline std::uint8_t* RmfRouteSourceFlagBytes(const RmfRoute* route) {
  if (route->sourceBoxes == nullptr) return nullptr;
  return reinterpret_cast<std::uint8_t*>(route->sourceBoxes + route->sourceCount);
}
