// The route search's node pool: memory for search nodes, links and
// restriction records, taken from a chain of heap chunks and given back only
// all at once, when the pool is destroyed. Its byte maximum bounds the
// search's memory; once the chunks reach it, the pool asks the search (through
// its reclaim hook) to hand back memory of nodes it can drop.
//
// Byte counts are 32-bit and count as on the phone: a chunk is its usable
// bytes plus a 12-byte header, and the maximum keeps 24 bytes for the pool
// itself. A chunk's real header is larger on 64-bit builds (8-byte pointers);
// the difference is not counted, so the same limits give the same number of
// nodes on every build.
//
// Not thread-safe: one search uses its pool.
#pragma once

#include <cstdint>

#include "mapengine/format/RmfExport.h"
#include "mapengine/format/RmfResult.h"

inline constexpr std::uint32_t kRmfNodePoolMagic = 0xCA11ACAB;
inline constexpr std::uint32_t kRmfNodePoolDeadMagic = 0xBAD1BAD1;
// Counted bytes of a chunk header and of the pool record.
inline constexpr std::uint32_t kRmfNodeChunkHeader = 12;
inline constexpr std::uint32_t kRmfNodePoolReserve = 24;
// Requests are served from the newest chunks only.
inline constexpr std::int32_t kRmfNodePoolRecentChunks = 5;
// Requests are rounded up to a multiple of 4 bytes on the phone. Nodes and
// links hold pointers, which need 8-byte alignment on 64-bit builds, so the
// grain is the pointer size where that is larger.
inline constexpr std::uint32_t kRmfNodePoolGrain = sizeof(void*) > 4 ? sizeof(void*) : 4;

// Called by RmfNodePoolAlloc when the maximum leaves no room for a new chunk:
// memory of at least `size` bytes (aligned to the grain) that the hook's
// owner took from this pool earlier and no longer uses, or null when it has
// none to give.
typedef void* (*RmfNodeReclaimFn)(void* context, std::uint32_t size);

// One heap chunk; its bytes follow the header.
struct RmfNodeChunk {
  RmfNodeChunk* next;  // older chunk
  std::uint8_t* free;  // first free byte
  // Twice the free bytes, bit 0 set when the chunk owns its memory (every
  // chunk the pool allocates does).
  std::uint32_t freeTwice;
};

struct RmfNodePool {
  std::uint32_t magic;  // kRmfNodePoolMagic while alive
  std::uint32_t initial;  // first chunk: bytes + 12
  std::uint32_t growth;  // later chunks at least: bytes + 12
  std::uint32_t maximum;  // counted bytes of all chunks, maximum - 24
  std::uint32_t allocated;  // counted bytes of the chunks made so far
  RmfNodeChunk* chunks;  // newest first
  RmfNodeChunk* recent[kRmfNodePoolRecentChunks];  // the newest chunks, [0] newest; null where none
  RmfNodeReclaimFn reclaim;  // may be null
  void* reclaimContext;
};

// Makes a pool without chunks: *pool gets it. kRmfBadArgument (-2) when
// initial < growth, growth < 1, maximum < 25 or pool is null; kRmfNoMemory
// (-3) when the record cannot be allocated.
RMF_API_NODISCARD std::int32_t RmfNodePoolCreate(RmfNodePool** pool, std::int32_t initial, std::int32_t growth,
                                                 std::int32_t maximum, RmfNodeReclaimFn reclaim,
                                                 void* reclaimContext);
// `size` bytes (uninitialised, grain-aligned; size rounded up to the grain)
// from the first of the recent chunks that has them free, else from a new
// chunk while the counted bytes stay within the maximum, else from the
// reclaim hook. A new chunk has the initial size (the first) or the growth
// size (later ones), or the rounded request + 12 when that is larger. Null
// when none gives it, for a size below 1, or for a pool that is not alive.
RMF_API_NODISCARD void* RmfNodePoolAlloc(RmfNodePool* pool, std::int32_t size);
// Frees every chunk that owns its memory and the pool: 1; 0 for null or a
// pool that is not alive (nothing freed).
RMF_API std::int32_t RmfNodePoolDestroy(RmfNodePool* pool);
