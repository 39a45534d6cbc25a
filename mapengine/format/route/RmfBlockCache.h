// The block cache of route data read from a file: fixed-size blocks of the
// readable regions of the file, kept in memory within a byte budget and a
// block budget and evicted least recently used first. Blocks are indexed by
// (file offset of their first byte, length) in a hash table and ordered in a
// circular list, oldest at the head. The three blocks returned last are
// looked at before any search, because consecutive reads of one record hit
// the same block.
//
// A block starts at a multiple of the block size from the start of its
// region and ends at the next multiple or at the region's end, whichever
// comes first, so a block never holds bytes outside its region.
//
// Bytes used are the blocks' lengths plus what the index and the list have
// grown by since the cache was created (counted as their headers do, see
// RmfDcll.h and RmfHashtab.h); block headers are not counted.
//
// The cache owns its file handle from the moment it is created (and closes it
// when it is destroyed, or at once when creation fails), its copies of the
// region lists, its blocks, index and list. One thread at a time.
#pragma once

#include <cstdint>

#include "mapengine/format/RmfExport.h"
#include "mapengine/format/RmfResult.h"
#include "mapengine/format/route/RmfDcll.h"
#include "mapengine/format/route/RmfHashtab.h"
#include "platform/os/files.h"

// A readable part of the file: offsets start .. start + length - 1.
struct RmfBlockRegion {
  std::uint32_t start;
  std::uint32_t length;
};

// A block: this header, then length bytes of the file from offset on.
struct RmfBlock {
  std::uint32_t stamp;  // the cache's stamp when it was last returned by a lookup
  std::uint32_t offset;
  std::uint32_t length;
  DcllNode* node;  // its node in the LRU list
};

inline constexpr std::int32_t kRmfBlockRecentCount = 3;

struct RmfBlockCache {
  HANDLE file;
  std::int32_t blockSize;
  std::int32_t regionCount;  // looked at first
  RmfBlockRegion* regions;
  std::int32_t moreRegionCount;  // looked at when no region of the first list holds an offset
  RmfBlockRegion* moreRegions;
  std::int32_t bytesUsed;
  std::int32_t blockCount;
  std::int32_t byteBudget;
  std::int32_t blockBudget;
  DcllList* lru;  // RmfBlock elements, least recently used at the head
  Hashtab* index;  // RmfBlock values keyed by themselves (offset, length)
  std::uint32_t hits;
  std::uint32_t lookups;  // lookups that reached the index
  RmfBlock* recent[kRmfBlockRecentCount];
  std::int32_t recentPosition;  // the slot the next returned block takes: 0, 1, 2, 0, ...
  std::uint32_t stamp;  // +1 on every lookup that reaches the index
};

// The largest block size: a block is one allocation, and the byte count beside
// its length has to stay a 32-bit value.
inline constexpr std::int32_t kRmfBlockSizeLimit = 0x40000000;

// Creates a cache over the file. blockSize is 1 .. kRmfBlockSizeLimit, each
// region list holds count records (the array may be null for a count of 0;
// it is copied), no region reaches past 4 GB, and both budgets are at least 1.
// The handle comes from CreateFileW for reading and belongs to the cache
// from this call on, also when creation fails. 1 with *cache set, or
// kRmfBadArgument (-2) for a bad argument (or INVALID_HANDLE_VALUE),
// kRmfNoMemory (-3); *cache is null then.
RMF_API_NODISCARD std::int32_t RmfBlockCacheCreate(RmfBlockCache** cache, HANDLE file, std::int32_t blockSize,
                                                   const RmfBlockRegion* regions, std::int32_t regionCount,
                                                   const RmfBlockRegion* moreRegions,
                                                   std::int32_t moreRegionCount, std::int32_t byteBudget,
                                                   std::int32_t blockBudget);
// Frees every block, the index, the list and the region lists, closes the
// file and frees the cache. Null does nothing.
RMF_API void RmfBlockCacheDestroy(RmfBlockCache* cache);

// The byte at the file offset, held in memory; null for no cache, an offset in
// no region, no memory or a short read (which leaves the cache as it was but
// for a block evicted to make room). The pointer stays valid until its block
// is evicted, that is until the next call that misses; callers take at most
// the rest of the block.
RMF_API_NODISCARD const std::uint8_t* RmfBlockCacheGet(RmfBlockCache* cache, std::uint32_t offset);

// Library-internal addition (not exported from the shared library).

// As RmfBlockCacheGet; *available (which may be null) receives the number of
// bytes from the offset to the end of its block, 0 with a null result.
RMF_EXTERN_C [[nodiscard]] const std::uint8_t* RmfBlockCacheGetSpan(RmfBlockCache* cache, std::uint32_t offset,
                                                                    std::uint32_t* available);
