// The per-route feature cache: variable-sized data blocks keyed by an 8-byte
// feature key, within a byte budget, with reference counting and eviction in
// order of release. Each route object owns one; the router keeps the per-tile
// routing tables and other per-feature data in it, so that data met again
// during a search is not decoded again. The route empties it when the
// reader's routing profile or its set of map sources changes.
//
// A block's life: RmfFeatCacheAdd makes it, held once and marked as being
// written (nobody else can fetch it); its writer fills it, may grow or shrink
// it (RmfFeatCacheResize), clears the mark (RmfFeatCacheSetWriting with 0)
// and releases it. Every RmfFeatCacheGet holds it once more and must be
// matched by one RmfFeatCacheRelease. A block nobody holds sits on the release
// list and is the first to go, oldest release first, when room is needed;
// held blocks are never evicted. The data pointer a call returns stays valid
// while the block is held (and, for a writer, until its next resize).
//
// Accounting: bytes in use (blocks held) + bytes released (blocks on the
// release list) never exceed the budget after a successful call. The budget
// counts data bytes only; each block's header comes on top.
//
// None of it is thread-safe: a route and its cache serve one caller at a
// time. Every call returns 1 on success, kRmfBadArgument (-2) for a null
// argument or a negative size, kRmfNoMemory (-3) when the heap fails and
// kRmfMalformed (-128) for a broken rule (given per call).
#pragma once

#include <cstdint>

#include "mapengine/format/RmfExport.h"
#include "mapengine/format/RmfResult.h"

struct RmfReader;

// The key of a block: a 32-bit part A, then 16-bit parts B and C (for a tile
// block: tile id, source, block number). Chains of a bucket are ordered by
// (B, A, C); the bucket is the low 16 bits of TiCrc over the 8 bytes, in
// this order, little-endian, modulo the bucket count.
struct RmfFeatKey {
  std::uint32_t a;
  std::uint16_t b;
  std::uint16_t c;
};
static_assert(sizeof(RmfFeatKey) == 8, "a feature key is 8 bytes");

// Header of a cached block; the data follows it directly (8-aligned).
struct RmfFeatCacheEntry {
  RmfFeatCacheEntry* chainNext;  // next of the bucket, in key order
  RmfFeatCacheEntry* chainPrevious;  // null for the first of the bucket
  RmfFeatCacheEntry* releasePrevious;  // release-list links, only while released
  RmfFeatCacheEntry* releaseNext;
  RmfFeatKey key;
  std::int32_t references;  // holders of the block
  std::uint32_t bucket;
  std::uint32_t size;  // data bytes
  std::uint8_t writing;  // 1 while the block is being filled
};

struct RmfFeatCache {
  std::uint32_t budget;  // data bytes held + released may not exceed it
  std::uint32_t bytesInUse;  // sizes of held blocks
  std::uint32_t bytesReleased;  // sizes of blocks on the release list
  std::uint32_t bucketCount;
  RmfFeatCacheEntry* releaseNewest;  // tail of the release list
  RmfFeatCacheEntry* releaseOldest;  // head: the next to evict
  RmfFeatCacheEntry** buckets;  // bucketCount chains
};

inline constexpr std::int32_t kRmfFeatCacheDefaultBuckets = 256;
inline constexpr std::int32_t kRmfFeatCacheDefaultBudget = 0x100000;

// Makes an empty cache: *cache gets it. Buckets or budget of 0 or less take
// the defaults above. The reader is not used by the cache and may be null.
// kRmfBadArgument (-2) for a null output; kRmfNoMemory (-3) (nothing made).
RMF_API_NODISCARD std::int32_t RmfFeatCacheCreate(RmfReader* reader, RmfFeatCache** cache, std::int32_t buckets,
                                                  std::int32_t budget);
// Frees every block, whatever its state, the buckets and the cache: 1;
// kRmfBadArgument (-2) for null.
RMF_API_NODISCARD std::int32_t RmfFeatCacheDestroy(RmfFeatCache* cache);
// Makes the block of `size` bytes (uninitialised) for a key not in the cache:
// held once, being written; *data gets it. kRmfMalformed (-128) when the key
// is present, when size exceeds budget - bytes in use, or when room cannot be
// made; nothing changes then.
RMF_API_NODISCARD std::int32_t RmfFeatCacheAdd(RmfFeatCache* cache, RmfFeatKey key, std::int32_t size, void** data);
// Holds the key's block once more: 1 with *data and *size (optional); 0 when
// the key is absent; kRmfMalformed (-128) while the block is being written.
// A block that nobody held leaves the release list.
RMF_API_NODISCARD std::int32_t RmfFeatCacheGet(RmfFeatCache* cache, RmfFeatKey key, void** data, std::int32_t* size);
// Gives one hold back; a block that nobody holds any more joins the newest end
// of the release list. kRmfMalformed (-128) for a block being written or not
// held. `data` must be a block of this cache.
RMF_API_NODISCARD std::int32_t RmfFeatCacheRelease(RmfFeatCache* cache, void* data);
// Changes the size of a block being written (its first min(old, new) bytes
// kept): *newData gets its new address. kRmfMalformed (-128) for a block not
// being written, or when new size > budget - bytes in use + old size, or when
// room cannot be made (the block stays as it was). kRmfNoMemory (-3) when the
// heap fails: the block is then freed and its key gone, so the writer must
// not touch or release it.
RMF_API_NODISCARD std::int32_t RmfFeatCacheResize(RmfFeatCache* cache, void* data, std::int32_t newSize,
                                                  void** newData);
// Sets (flag non-zero) or clears (0) the writing mark of a block held exactly
// once: setting needs the mark clear, clearing needs it set, else
// kRmfMalformed (-128).
RMF_API_NODISCARD std::int32_t RmfFeatCacheSetWriting(RmfFeatCache* cache, void* data, std::int32_t flag);
// Frees every block: kRmfMalformed (-128), and nothing freed, while any block
// is held.
RMF_API_NODISCARD std::int32_t RmfFeatCacheClear(RmfFeatCache* cache);
// Makes room for `need` more bytes in use: 0 when need > budget - bytes in
// use (eviction cannot help; nothing evicted); 1 when it fits at once or
// after evicting released blocks, oldest release first; kRmfMalformed (-128)
// when the release list runs out first.
RMF_API_NODISCARD std::int32_t RmfFeatCacheTrim(RmfFeatCache* cache, std::int32_t need);
