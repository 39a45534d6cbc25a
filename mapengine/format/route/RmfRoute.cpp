// The route object: creation with the router's defaults, destruction, the
// result and its compaction, the synchronisation with the reader's routing
// profile and sources, the options, and the two helpers every router file
// shares (the internal-error counter and the scaling of costs).
#include "mapengine/format/route/RmfRoute.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "mapengine/format/RmfInternal.h"
#include "mapengine/format/base/TiGeometry.h"
#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/route/RmfFeatCache.h"
#include "mapengine/format/route/RmfNodePool.h"
#include "mapengine/format/route/RmfRouteInternal.h"
#include "mapengine/format/route/RmfRouteMemo.h"
#include "mapengine/format/store/RmfSource.h"

namespace {

using rmf::detail::FailWith;
using rmf::detail::ReaderAlive;
using rmf::detail::RouteAlive;

// Routes may run on several threads at once; only this count is shared.
std::atomic<std::uint32_t> gInternalErrors{0};

// Road-class levels of the search: a direction moves up to class c after
// expanding classTriggers[c] junction nodes of class c, and leaves level L
// only after classJunctionThresholds[L] junction nodes of class L.
constexpr std::int32_t kClassTriggers[kRmfRoadClasses] = {0, 20, 30, 40, 50, 100, -1, -1,
                                                          -1, -1, -1, -1, -1, -1, -1, -1};
constexpr std::int32_t kClassJunctionThresholds[kRmfRoadClasses] = {0, 10, 15, 20, 25, 30, -1, -1,
                                                                    -1, -1, -1, -1, -1, -1, -1, -1};

// Pair penalties of junction groups: none within one group code, 30 degrees
// between codes 0..2, a full turn for anything with code 3 (a connector is
// never paired across).
constexpr std::uint32_t kDegrees30 = 22369621;
constexpr std::uint32_t kDegrees360 = 268435456;
constexpr std::uint32_t kGroupPenalties[kRmfGroupCodes][kRmfGroupCodes] = {
    {0, kDegrees30, kDegrees30, kDegrees360},
    {kDegrees30, 0, kDegrees30, kDegrees360},
    {kDegrees30, kDegrees30, 0, kDegrees360},
    {kDegrees360, kDegrees360, kDegrees360, kDegrees360}};

void SetDefaults(RmfRoute* route, RmfReader* reader) {
  route->routeCost = -1;
  route->reader = reader;
  route->tries = kRmfRouteDefaultTries;
  std::memcpy(route->turnCosts, kRmfDefaultTurnCosts, sizeof(route->turnCosts));
  std::memcpy(route->classTriggers, kClassTriggers, sizeof(route->classTriggers));
  std::memcpy(route->classJunctionThresholds, kClassJunctionThresholds, sizeof(route->classJunctionThresholds));
  route->tolerancePercent = kRmfRouteDefaultTolerance;
  route->featCacheBudget = kRmfRouteFeatCacheBudget;
  route->nodeMemoryLimit = kRmfRouteDefaultNodeMemory;
  route->costLimit = kRmfRouteDefaultCostLimit;
  route->modeFlags = kRmfRouteModeDefault;
  std::memcpy(route->groupPenalties, kGroupPenalties, sizeof(route->groupPenalties));
  route->searchBlockIndex = -1;
  route->stateFlags = kRmfRouteStateDefault;
}

void FreeSearchLeftovers(RmfRoute* route) {
  std::free(route->searchBlock);
  route->searchBlock = nullptr;
  route->searchBlockSize = 0;
  route->searchBlockIndex = -1;
  route->meetForward = nullptr;
  route->meetBackward = nullptr;
  if (route->nodePool != nullptr) {
    (void)RmfNodePoolDestroy(route->nodePool);
    route->nodePool = nullptr;
  }
}

void FreeSourceTables(RmfRoute* route) {
  std::free(route->sourceBoxes);
  std::free(route->sourceEnable);
  route->sourceBoxes = nullptr;
  route->sourceEnable = nullptr;
  route->sourceCount = 0;
  route->sourceFlags = 0;
  route->levelMask = 0;
}

std::int32_t ResetRoute(RmfRoute* route) {
  std::free(route->result);
  route->result = nullptr;
  route->resultCount = 0;
  std::free(route->sideTable);
  route->sideTable = nullptr;
  route->sideCount = 0;
  route->routeCost = -1;
  route->stateFlags &= ~kRmfRouteStateCompacted;
  for (std::int32_t i = 0; i < route->auxCount && route->auxRecords != nullptr; ++i) {
    std::free(route->auxRecords[i].blocks[0]);
    std::free(route->auxRecords[i].blocks[1]);
  }
  std::free(route->auxRecords);
  route->auxRecords = nullptr;
  route->auxCount = 0;
  FreeSearchLeftovers(route);
  return 1;
}

// Boxes, flag bytes and level mask of the reader's sources. On failure the
// tables are empty and the count 0, so that the next synchronisation tries
// again.
std::int32_t ReadSources(RmfRoute* route, const RmfReader* reader) {
  FreeSourceTables(route);
  const std::int32_t count = reader->sourceCount;
  if (count <= 0) return 1;
  const auto boxBytes = static_cast<std::size_t>(count) * sizeof(TiRect);
  auto* table = static_cast<TiRect*>(std::malloc(boxBytes + static_cast<std::size_t>(count)));
  if (table == nullptr) return kRmfNoMemory;
  auto* flags = reinterpret_cast<std::uint8_t*>(table + count);
  std::uint32_t flagUnion = 0;
  std::uint32_t levels = 0;
  for (std::int32_t i = 0; i < count; ++i) {
    const RmfSource* source = reader->sources != nullptr ? reader->sources[i] : nullptr;
    if (source == nullptr) {
      std::free(table);
      return kRmfMalformed;
    }
    table[i] = source->header.box;
    flags[i] = source->header.flags;
    flagUnion |= source->header.flags;
    for (std::uint16_t mask : source->header.levelMasks) levels |= mask;
  }
  route->sourceBoxes = table;
  route->sourceCount = count;
  route->sourceFlags = flagUnion;
  route->levelMask = levels;
  return 1;
}

std::int32_t InitRoute(RmfRoute* route, std::int32_t* changed) {
  if (changed != nullptr) *changed = 0;
  RmfReader* reader = route->reader;
  if (!ReaderAlive(reader)) return kRmfBadArgument;
  const std::uint32_t generation = reader->profile.changeCounter;
  const bool profileChanged = generation != route->profileGeneration;
  const bool sourcesChanged = reader->sourceCount != route->sourceCount;
  if (!profileChanged && !sourcesChanged) return 1;
  // Blocks built for the old profile or the old sources are of no use. A
  // block still held here is a holder that never released it.
  if (RmfFeatCacheClear(route->featCache) != 1) return rmf::detail::CountInternalError();
  rmf::detail::FreeRouteMemo(route);
  route->profileGeneration = generation;
  if (sourcesChanged) {
    const std::int32_t read = ReadSources(route, reader);
    if (read != 1) return read;
  }
  std::free(route->sourceEnable);
  route->sourceEnable = nullptr;
  if (route->sourceCount > 0) {
    route->sourceEnable = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(route->sourceCount)));
    if (route->sourceEnable == nullptr) {
      FreeSourceTables(route);
      return kRmfNoMemory;
    }
    std::memset(route->sourceEnable, 1, static_cast<std::size_t>(route->sourceCount));
  }
  if (changed != nullptr) *changed = 1;
  return 1;
}

bool SameStretchRun(const RmfFeatureRef& first, const RmfFeatureRef& second) {
  if (first.featureId != second.featureId || first.source != second.source || first.secondId != second.secondId ||
      first.part != second.part) {
    return false;
  }
  const bool firstUp = first.toVertex > first.fromVertex;
  const bool secondUp = second.toVertex > second.fromVertex;
  if (first.toVertex == first.fromVertex || second.toVertex == second.fromVertex || firstUp != secondUp) return false;
  if ((first.position & kRmfPositionReverse) != (second.position & kRmfPositionReverse)) return false;
  return second.fromVertex == first.toVertex;
}

// Length of one reference along its part, before its fraction; -1 when the
// walk fails.
std::int64_t WalkLength(RmfFeature* slot, const RmfFeatureRef& reference) {
  const std::int32_t part = reference.part;
  const std::int32_t to = reference.toVertex;
  std::int32_t position = reference.fromVertex;
  const std::int32_t word = RmfFeatureNodeAt(slot, part, position);
  if (word < 0 || (word & 0x8000) != 0) return -1;
  TiPoint previous{};
  if (RmfFeaturePointAt(slot, word, &previous) != 1) return -1;
  const std::int32_t step = to > position ? 1 : -1;
  std::int64_t length = 0;
  while (position != to) {
    std::int32_t found = -1;
    const std::int32_t index = RmfFeatureNextNode(slot, part, position, step, &found, nullptr);
    if (index < 0 || (step > 0 ? found > to : found < to)) return -1;
    TiPoint point{};
    if (RmfFeaturePointAt(slot, index, &point) != 1) return -1;
    const std::int32_t d = TiDistance(&previous, &point);
    if (d < 0) return -1;
    length += d;
    previous = point;
    position = found;
  }
  return length;
}

}  // namespace

std::uint32_t RmfInternalErrorCount() { return gInternalErrors.load(std::memory_order_relaxed); }

std::int32_t rmf::detail::CountInternalError() {
  gInternalErrors.fetch_add(1, std::memory_order_relaxed);
  return kRmfMalformed;
}

std::int32_t RmfScaledCost(std::uint32_t length, std::uint32_t factor, std::uint32_t shift) {
  const std::uint64_t total = 8ull + shift;
  // The common case: short stretches at ordinary factors fit 32 bits and
  // cannot overflow, since 2^32 >> 8 is far below 2^31.
  if (length < (1u << 19) && factor < (1u << 13)) {
    const std::uint32_t product = length * factor;
    return total >= 32 ? 0 : static_cast<std::int32_t>(product >> total);
  }
  if (total >= 64) return 0;
  const std::uint64_t product = static_cast<std::uint64_t>(length) * factor;
  const std::uint64_t cost = product >> total;
  // product > 0x7FFFFFFF << total, without forming the shifted limit (which
  // does not fit 64 bits beyond a total of 33).
  const bool remainder = (product & ((1ull << total) - 1)) != 0;
  if (cost > 0x7FFFFFFFull || (cost == 0x7FFFFFFFull && remainder)) return kRmfScaledCostOverflow;
  return static_cast<std::int32_t>(cost);
}

std::int32_t RmfRouteCreate(RmfRoute** route, RmfReader* reader) {
  if (route == nullptr || !ReaderAlive(reader)) return kRmfBadArgument;
  auto* made = static_cast<RmfRoute*>(std::calloc(1, sizeof(RmfRoute)));
  if (made == nullptr) return kRmfNoMemory;
  SetDefaults(made, reader);
  made->profileGeneration = reader->profile.changeCounter;
  std::int32_t rc = RmfFeatCacheCreate(reader, &made->featCache, kRmfRouteFeatCacheBuckets,
                                       static_cast<std::int32_t>(made->featCacheBudget));
  if (rc != 1) {
    std::free(made);
    return rc;
  }
  rc = InitRoute(made, nullptr);
  if (rc != 1) {
    // The caller gets no pointer to a route that failed, so nothing of it
    // may stay behind.
    FreeSourceTables(made);
    (void)RmfFeatCacheDestroy(made->featCache);
    std::free(made);
    return rc;
  }
  made->tag = kRmfRouteTag;
  *route = made;
  return 1;
}

std::int32_t RmfRouteDestroy(RmfRoute* route) {
  if (!RouteAlive(route)) return kRmfBadArgument;
  if (ResetRoute(route) != 1) return kRmfMalformed;
  FreeSourceTables(route);
  rmf::detail::FreeRouteMemo(route);
  const std::int32_t destroyed = RmfFeatCacheDestroy(route->featCache);
  route->featCache = nullptr;
  route->tag = 0;
  std::free(route);
  return destroyed < 1 ? destroyed : 1;
}

std::int32_t RmfRouteRetrieve(RmfRoute* route, std::int32_t* count, RmfFeatureRef** references) {
  if (!RouteAlive(route) || route->resultCount < 0) return kRmfBadArgument;
  if (route->resultCount == 0 || route->result == nullptr) return 0;
  if (count != nullptr) *count = route->resultCount;
  if (references != nullptr) *references = route->result;
  return 1;
}

std::int32_t RmfRouteSetTurnCosts(RmfRoute* route, const std::int32_t* costs) {
  if (!RouteAlive(route) || costs == nullptr) return kRmfBadArgument;
  std::memcpy(route->turnCosts, costs, sizeof(route->turnCosts));
  return ResetRoute(route);
}

std::int32_t RmfRouteReset(RmfRoute* route) {
  if (!RouteAlive(route)) return kRmfBadArgument;
  return ResetRoute(route);
}

std::int32_t RmfRouteInit(RmfRoute* route, std::int32_t* changed) {
  if (!RouteAlive(route)) return kRmfBadArgument;
  return InitRoute(route, changed);
}

std::int32_t RmfRouteRefsLength(RmfReader* reader, const RmfFeatureRef* references, std::int32_t count) {
  if (!ReaderAlive(reader) || count < 0 || (references == nullptr && count > 0)) return kRmfBadArgument;
  reader->lastError = 0;
  std::int64_t total = 0;
  for (std::int32_t i = 0; i < count; ++i) {
    const RmfFeatureRef& reference = references[i];
    const std::uint32_t fraction = reference.position & kRmfPositionFraction;
    if (fraction > kRmfPositionWhole) return FailWith(reader, kRmfBadReference);
    RmfFeature* slot = nullptr;
    if (RmfFeatureFetch(reader, reference, &slot, nullptr) != 1) return FailWith(reader, kRmfMalformed);
    std::int64_t length = WalkLength(slot, reference);
    (void)RmfFeatureRelease(slot);
    if (length < 0) return FailWith(reader, kRmfMalformed);
    // The fraction as a 32-bit fixed-point factor (1024 = 2^32).
    if (fraction < kRmfPositionWhole) {
      length = static_cast<std::int64_t>((static_cast<std::uint64_t>(length) * (fraction << 22)) >> 32);
    }
    total += length;
    if (total > 0x7FFFFFFF) return FailWith(reader, kRmfMalformed);
  }
  return static_cast<std::int32_t>(total);
}

std::int32_t RmfRouteCompact(RmfRoute* route) {
  if (!RouteAlive(route)) return kRmfBadArgument;
  if (route->resultCount <= 0 || route->result == nullptr) return 0;
  if ((route->stateFlags & kRmfRouteStateCompacted) != 0) return route->resultCount;
  const std::int32_t count = route->resultCount;
  if (count > 3) {
    RmfFeatureRef* r = route->result;
    // r[0] and r[count - 1] stay; inner entries merge into the inner entry
    // before them.
    std::int32_t kept = 1;
    for (std::int32_t i = 2; i < count - 1; ++i) {
      if (SameStretchRun(r[kept], r[i])) {
        r[kept].toVertex = r[i].toVertex;
        r[kept].position = r[i].position;
      } else {
        r[++kept] = r[i];
      }
    }
    r[++kept] = r[count - 1];
    const std::int32_t compacted = kept + 1;
    if (compacted < count) {
      auto* shrunk = static_cast<RmfFeatureRef*>(
          std::realloc(route->result, static_cast<std::size_t>(compacted) * sizeof(RmfFeatureRef)));
      if (shrunk == nullptr) {
        (void)ResetRoute(route);
        return kRmfNoMemory;
      }
      route->result = shrunk;
      route->resultCount = compacted;
    }
  }
  route->stateFlags |= kRmfRouteStateCompacted;
  FreeSearchLeftovers(route);
  return route->resultCount;
}

std::int32_t RmfRouteSetCancelFlag(RmfRoute* route, const std::atomic<std::int8_t>* cancel) {
  if (!RouteAlive(route)) return kRmfBadArgument;
  route->cancel = cancel;
  return 1;
}

std::int32_t RmfRouteSetProgress(RmfRoute* route, volatile std::uint8_t* progress) {
  if (!RouteAlive(route)) return kRmfBadArgument;
  route->progress = progress;
  return 1;
}

std::int32_t RmfRouteSetTolerance(RmfRoute* route, std::int32_t percent) {
  if (!RouteAlive(route)) return kRmfBadArgument;
  route->tolerancePercent = percent;
  return 1;
}

std::int32_t RmfRouteSetNodeMemoryLimit(RmfRoute* route, std::uint32_t bytes) {
  if (!RouteAlive(route) || bytes < 25 || bytes > 0x7FFFFFFFu) return kRmfBadArgument;
  route->nodeMemoryLimit = bytes;
  return 1;
}

std::int32_t RmfRouteSetTries(RmfRoute* route, std::int32_t tries) {
  if (!RouteAlive(route)) return kRmfBadArgument;
  route->tries = tries;
  return 1;
}

std::int32_t RmfRouteSetModeFlags(RmfRoute* route, std::uint32_t flags) {
  if (!RouteAlive(route) || (flags & ~kRmfRouteModeKnown) != 0) return kRmfBadArgument;
  route->modeFlags = flags;
  return 1;
}

std::int32_t RmfRouteExpandedNodes(const RmfRoute* route) {
  if (!RouteAlive(route)) return kRmfBadArgument;
  return route->expandedNodes;
}
