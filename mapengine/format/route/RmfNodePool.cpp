// The search's node pool: bump allocation from the newest heap chunks, new
// chunks while the byte maximum allows, then the search's reclaim hook.
#include "mapengine/format/route/RmfNodePool.h"

#include <cstdlib>

namespace {

static_assert(sizeof(RmfNodeChunk) % kRmfNodePoolGrain == 0, "chunk bytes start grain-aligned");
static_assert((kRmfNodePoolGrain & (kRmfNodePoolGrain - 1)) == 0, "the grain is a power of two");

constexpr std::uint32_t kOwnsMemory = 1;

bool PoolAlive(const RmfNodePool* pool) { return pool != nullptr && pool->magic == kRmfNodePoolMagic; }

std::uint32_t FreeBytes(const RmfNodeChunk* chunk) { return chunk->freeTwice >> 1; }

void* TakeFrom(RmfNodeChunk* chunk, std::uint32_t size) {
  std::uint8_t* taken = chunk->free;
  chunk->free += size;
  chunk->freeTwice = ((FreeBytes(chunk) - size) << 1) | (chunk->freeTwice & kOwnsMemory);
  return taken;
}

// A new chunk of `counted` bytes (header counted as 12) at the front of the
// chain and of the recent chunks; null when the heap has none.
RmfNodeChunk* AddChunk(RmfNodePool* pool, std::uint32_t counted) {
  const std::uint32_t usable = counted - kRmfNodeChunkHeader;
  auto* chunk = static_cast<RmfNodeChunk*>(std::malloc(sizeof(RmfNodeChunk) + usable));
  if (chunk == nullptr) return nullptr;
  chunk->next = pool->chunks;
  chunk->free = reinterpret_cast<std::uint8_t*>(chunk) + sizeof(RmfNodeChunk);
  chunk->freeTwice = (usable << 1) | kOwnsMemory;
  pool->chunks = chunk;
  pool->allocated += counted;
  for (std::int32_t i = kRmfNodePoolRecentChunks - 1; i > 0; --i) pool->recent[i] = pool->recent[i - 1];
  pool->recent[0] = chunk;
  return chunk;
}

}  // namespace

std::int32_t RmfNodePoolCreate(RmfNodePool** pool, std::int32_t initial, std::int32_t growth, std::int32_t maximum,
                               RmfNodeReclaimFn reclaim, void* reclaimContext) {
  if (pool == nullptr || initial < growth || growth < 1 || maximum < 25) return kRmfBadArgument;
  auto* made = static_cast<RmfNodePool*>(std::calloc(1, sizeof(RmfNodePool)));
  if (made == nullptr) return kRmfNoMemory;
  made->magic = kRmfNodePoolMagic;
  made->initial = static_cast<std::uint32_t>(initial) + kRmfNodeChunkHeader;
  made->growth = static_cast<std::uint32_t>(growth) + kRmfNodeChunkHeader;
  made->maximum = static_cast<std::uint32_t>(maximum) - kRmfNodePoolReserve;
  made->reclaim = reclaim;
  made->reclaimContext = reclaimContext;
  *pool = made;
  return 1;
}

void* RmfNodePoolAlloc(RmfNodePool* pool, std::int32_t size) {
  if (!PoolAlive(pool) || size < 1) return nullptr;
  const std::uint32_t rounded = (static_cast<std::uint32_t>(size) + kRmfNodePoolGrain - 1) & ~(kRmfNodePoolGrain - 1);
  for (RmfNodeChunk* chunk : pool->recent) {
    if (chunk != nullptr && FreeBytes(chunk) >= rounded) return TakeFrom(chunk, rounded);
  }
  // The first chunk has the initial size, later ones the growth size; a
  // request larger than either gets a chunk of its own size.
  std::uint32_t counted = pool->chunks == nullptr ? pool->initial : pool->growth;
  if (counted - kRmfNodeChunkHeader < rounded) counted = rounded + kRmfNodeChunkHeader;
  if (static_cast<std::uint64_t>(pool->allocated) + counted <= pool->maximum) {
    RmfNodeChunk* chunk = AddChunk(pool, counted);
    if (chunk != nullptr) return TakeFrom(chunk, rounded);
  }
  if (pool->reclaim == nullptr) return nullptr;
  return pool->reclaim(pool->reclaimContext, rounded);
}

std::int32_t RmfNodePoolDestroy(RmfNodePool* pool) {
  if (!PoolAlive(pool)) return 0;
  RmfNodeChunk* chunk = pool->chunks;
  while (chunk != nullptr) {
    RmfNodeChunk* next = chunk->next;
    if ((chunk->freeTwice & kOwnsMemory) != 0) std::free(chunk);
    chunk = next;
  }
  pool->magic = kRmfNodePoolDeadMagic;
  std::free(pool);
  return 1;
}
