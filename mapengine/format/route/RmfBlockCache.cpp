// The block cache of route data: creation and destruction, the lookup of a
// file offset, eviction and the byte accounting (see RmfBlockCache.h).
#include "mapengine/format/route/RmfBlockCache.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void* Allocate(std::size_t size) { return std::malloc(size); }
void Release(void* pointer) { std::free(pointer); }
void FreeBlock(void* element) { std::free(element); }

std::uint8_t* DataOf(RmfBlock* block) { return reinterpret_cast<std::uint8_t*>(block + 1); }

// The index's key is a block header: only offset and length are read.
std::uint32_t HashBlock(const void* key) {
  const auto* block = static_cast<const RmfBlock*>(key);
  return block->offset ^ (block->length * 0x9E3779B1u);
}

std::int32_t CompareBlocks(const void* a, const void* b) {
  const auto* x = static_cast<const RmfBlock*>(a);
  const auto* y = static_cast<const RmfBlock*>(b);
  return x->offset == y->offset && x->length == y->length ? 0 : 1;
}

bool Covers(const RmfBlock* block, std::uint32_t offset) {
  return block != nullptr && offset >= block->offset && offset - block->offset < block->length;
}

const RmfBlockRegion* FindRegion(const RmfBlockRegion* regions, std::int32_t count, std::uint32_t offset) {
  for (std::int32_t i = 0; i < count; ++i) {
    if (offset >= regions[i].start && offset - regions[i].start < regions[i].length) return &regions[i];
  }
  return nullptr;
}

bool RegionsValid(const RmfBlockRegion* regions, std::int32_t count) {
  if (count < 0 || (count > 0 && regions == nullptr)) return false;
  for (std::int32_t i = 0; i < count; ++i) {
    if (std::uint64_t{regions[i].start} + regions[i].length > std::uint64_t{1} << 32) return false;
  }
  return true;
}

// A copy of the region list in the cache's memory; regions may be null for 0.
bool CopyRegions(const RmfBlockRegion* regions, std::int32_t count, RmfBlockRegion** copy) {
  *copy = nullptr;
  if (count == 0) return true;
  const std::size_t bytes = sizeof(RmfBlockRegion) * static_cast<std::size_t>(count);
  *copy = static_cast<RmfBlockRegion*>(std::malloc(bytes));
  if (*copy == nullptr) return false;
  std::memcpy(*copy, regions, bytes);
  return true;
}

// The most blocks the budgets let the cache hold, for sizing the index: a
// block budget left at its largest value must not ask for a bucket array of
// gigabytes when the byte budget allows a few hundred blocks. Short blocks at
// region ends may make a few more, and past kIndexSizeCap blocks the chains
// grow instead of the bucket array (which is allocated and cleared whole at
// creation); either way lookups stay correct.
constexpr std::int64_t kIndexSizeCap = 65536;

std::uint32_t IndexSizeHint(std::int32_t byteBudget, std::int32_t blockSize, std::int32_t blockBudget) {
  const std::int64_t byBytes = std::int64_t{byteBudget} / blockSize + 1;
  return static_cast<std::uint32_t>(std::min({byBytes, std::int64_t{blockBudget}, kIndexSizeCap}));
}

std::uint32_t ContainerBytes(const RmfBlockCache* cache) {
  return hashtabGetMemAllocated(cache->index) + dcllGetMemAllocated(cache->lru);
}

// Bytes used follow the index and the list as they grow and shrink. The
// counts are 32-bit and wrap, so their difference is taken as a signed step.
void FollowContainers(RmfBlockCache* cache, std::uint32_t before) {
  const auto step = static_cast<std::int32_t>(ContainerBytes(cache) - before);
  cache->bytesUsed = static_cast<std::int32_t>(static_cast<std::uint32_t>(cache->bytesUsed) +
                                               static_cast<std::uint32_t>(step));
}

void ForgetRecent(RmfBlockCache* cache, const RmfBlock* block) {
  for (RmfBlock*& slot : cache->recent) {
    if (slot == block) slot = nullptr;
  }
}

// Takes the oldest block out of the list, the index and the recent blocks,
// and out of the counts, and returns it (still allocated).
RmfBlock* TakeOldest(RmfBlockCache* cache) {
  DcllIterator at;
  dcllInitIterator(cache->lru, &at);
  auto* block = static_cast<RmfBlock*>(dcllHead(&at));
  const std::uint32_t before = ContainerBytes(cache);
  dcllDelete(&at);
  void* removed = nullptr;
  hashtabRemove(cache->index, block, &removed);
  FollowContainers(cache, before);
  ForgetRecent(cache, block);
  block->node = nullptr;
  --cache->blockCount;
  cache->bytesUsed -= static_cast<std::int32_t>(block->length);
  return block;
}

bool OverBudget(const RmfBlockCache* cache, std::uint32_t length) {
  return cache->blockCount >= cache->blockBudget ||
         std::int64_t{cache->bytesUsed} + length >= std::int64_t{cache->byteBudget};
}

// Reads the block's bytes from the file; false for a short read.
bool ReadBlock(HANDLE file, RmfBlock* block) {
  // Offsets are unsigned 32-bit: the high word keeps those above 2 GB
  // positive. A position of exactly 0xFFFFFFFF reads as the failure value.
  LONG high = 0;
  const DWORD low = SetFilePointer(file, static_cast<LONG>(block->offset), &high, FILE_BEGIN);
  if (low == INVALID_SET_FILE_POINTER && block->offset != INVALID_SET_FILE_POINTER) return false;
  DWORD read = 0;
  if (!ReadFile(file, DataOf(block), block->length, &read, nullptr)) return false;
  return read == block->length;
}

// Puts a block that holds its data into the index and at the tail of the
// list; false without memory, with the index and the list as they were.
bool Enter(RmfBlockCache* cache, RmfBlock* block) {
  const std::uint32_t before = ContainerBytes(cache);
  if (hashtabAdd(cache->index, block, block) != 0) {
    FollowContainers(cache, before);
    return false;
  }
  if (dcllAddAfterTail(cache->lru, block, &block->node) != 0) {
    void* removed = nullptr;
    hashtabRemove(cache->index, block, &removed);
    FollowContainers(cache, before);
    return false;
  }
  FollowContainers(cache, before);
  return true;
}

// A block for (start, length) read from the file and entered; null without
// memory or for a short read. Blocks are evicted, oldest first, until the new
// one fits both budgets or none is left: a single eviction would let the
// cache outgrow its byte budget whenever a short block at a region's end makes
// room for a full one. The memory of an evicted block of the same length is
// used again.
RmfBlock* Load(RmfBlockCache* cache, std::uint32_t start, std::uint32_t length) {
  RmfBlock* reuse = nullptr;
  while (OverBudget(cache, length) && cache->lru->head != nullptr) {
    RmfBlock* old = TakeOldest(cache);
    if (reuse == nullptr && old->length == length) {
      reuse = old;
    } else {
      std::free(old);
    }
  }
  RmfBlock* block = reuse;
  if (block == nullptr) block = static_cast<RmfBlock*>(std::malloc(sizeof(RmfBlock) + length));
  if (block == nullptr) return nullptr;
  block->stamp = 0;
  block->offset = start;
  block->length = length;
  block->node = nullptr;
  if (!ReadBlock(cache->file, block) || !Enter(cache, block)) {
    std::free(block);
    return nullptr;
  }
  ++cache->blockCount;
  cache->bytesUsed += static_cast<std::int32_t>(length);
  return block;
}

}  // namespace

std::int32_t RmfBlockCacheCreate(RmfBlockCache** cache, HANDLE file, std::int32_t blockSize,
                                 const RmfBlockRegion* regions, std::int32_t regionCount,
                                 const RmfBlockRegion* moreRegions, std::int32_t moreRegionCount,
                                 std::int32_t byteBudget, std::int32_t blockBudget) {
  if (cache != nullptr) *cache = nullptr;
  const bool haveFile = file != nullptr && file != INVALID_HANDLE_VALUE;
  if (cache == nullptr || !haveFile || blockSize < 1 || blockSize > kRmfBlockSizeLimit ||
      !RegionsValid(regions, regionCount) || !RegionsValid(moreRegions, moreRegionCount) || byteBudget < 1 ||
      blockBudget < 1) {
    if (haveFile) CloseHandle(file);
    return kRmfBadArgument;
  }
  auto* made = static_cast<RmfBlockCache*>(std::calloc(1, sizeof(RmfBlockCache)));
  if (made == nullptr) {
    CloseHandle(file);
    return kRmfNoMemory;
  }
  made->file = file;
  made->blockSize = blockSize;
  made->regionCount = regionCount;
  made->moreRegionCount = moreRegionCount;
  made->byteBudget = byteBudget;
  made->blockBudget = blockBudget;
  made->lru = dcllCreateList(FreeBlock, Allocate, Release);
  made->index = hashtabCreateTable(CompareBlocks, nullptr, Allocate, Release, HashBlock,
                                   hashtabSize(IndexSizeHint(byteBudget, blockSize, blockBudget)));
  if (made->lru == nullptr || made->index == nullptr || !CopyRegions(regions, regionCount, &made->regions) ||
      !CopyRegions(moreRegions, moreRegionCount, &made->moreRegions)) {
    RmfBlockCacheDestroy(made);
    return kRmfNoMemory;
  }
  *cache = made;
  return 1;
}

void RmfBlockCacheDestroy(RmfBlockCache* cache) {
  if (cache == nullptr) return;
  hashtabDestroyTable(cache->index);  // values are the blocks, freed with the list
  dcllDestroyList(cache->lru);
  for (RmfBlock*& slot : cache->recent) slot = nullptr;
  std::free(cache->regions);
  std::free(cache->moreRegions);
  CloseHandle(cache->file);
  std::free(cache);
}

const std::uint8_t* RmfBlockCacheGet(RmfBlockCache* cache, std::uint32_t offset) {
  return RmfBlockCacheGetSpan(cache, offset, nullptr);
}

const std::uint8_t* RmfBlockCacheGetSpan(RmfBlockCache* cache, std::uint32_t offset, std::uint32_t* available) {
  if (available != nullptr) *available = 0;
  if (cache == nullptr) return nullptr;

  RmfBlock* block = nullptr;
  for (RmfBlock* recent : cache->recent) {
    if (Covers(recent, offset)) {
      block = recent;
      break;
    }
  }
  if (block == nullptr) {
    const RmfBlockRegion* region = FindRegion(cache->regions, cache->regionCount, offset);
    if (region == nullptr) region = FindRegion(cache->moreRegions, cache->moreRegionCount, offset);
    if (region == nullptr) return nullptr;
    const auto size = static_cast<std::uint32_t>(cache->blockSize);
    const std::uint32_t start = region->start + (offset - region->start) / size * size;
    const std::uint32_t regionRest = region->length - (start - region->start);
    const std::uint32_t length = regionRest < size ? regionRest : size;

    ++cache->lookups;
    const std::uint32_t stamp = ++cache->stamp;
    RmfBlock key{};
    key.offset = start;
    key.length = length;
    void* found = nullptr;
    if (hashtabFind(cache->index, &key, &found) == 1) {
      block = static_cast<RmfBlock*>(found);
      dcllMoveToTail(cache->lru, block->node);
      ++cache->hits;
    } else {
      block = Load(cache, start, length);
      if (block == nullptr) return nullptr;
    }
    block->stamp = stamp;
    cache->recent[cache->recentPosition] = block;
    cache->recentPosition = (cache->recentPosition + 1) % kRmfBlockRecentCount;
  }
  if (available != nullptr) *available = block->offset + block->length - offset;
  return DataOf(block) + (offset - block->offset);
}
