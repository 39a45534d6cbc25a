// The per-route feature cache: hash chains in key order, a release list for
// eviction, and the byte accounting that keeps held + released data within
// the budget.
#include "mapengine/format/route/RmfFeatCache.h"

#include <cstdlib>

#include "mapengine/format/base/TiMath.h"

namespace {

static_assert(sizeof(RmfFeatCacheEntry) % 8 == 0, "block data follows its header 8-aligned");

std::uint8_t* DataOf(RmfFeatCacheEntry* entry) { return reinterpret_cast<std::uint8_t*>(entry) + sizeof(*entry); }

RmfFeatCacheEntry* EntryOf(void* data) {
  return reinterpret_cast<RmfFeatCacheEntry*>(static_cast<std::uint8_t*>(data) - sizeof(RmfFeatCacheEntry));
}

std::uint32_t BucketOf(const RmfFeatCache* cache, RmfFeatKey key) {
  const std::uint8_t bytes[8] = {
      static_cast<std::uint8_t>(key.a),       static_cast<std::uint8_t>(key.a >> 8),
      static_cast<std::uint8_t>(key.a >> 16), static_cast<std::uint8_t>(key.a >> 24),
      static_cast<std::uint8_t>(key.b),       static_cast<std::uint8_t>(key.b >> 8),
      static_cast<std::uint8_t>(key.c),       static_cast<std::uint8_t>(key.c >> 8)};
  return (TiCrc(bytes, nullptr, 8) & 0xFFFFu) % cache->bucketCount;
}

// Chain order: B, then A, then C.
int CompareKeys(RmfFeatKey x, RmfFeatKey y) {
  if (x.b != y.b) return x.b < y.b ? -1 : 1;
  if (x.a != y.a) return x.a < y.a ? -1 : 1;
  if (x.c != y.c) return x.c < y.c ? -1 : 1;
  return 0;
}

// Bytes that may still be held: the budget less what is held now.
std::uint32_t FreeForUse(const RmfFeatCache* cache) {
  return cache->budget > cache->bytesInUse ? cache->budget - cache->bytesInUse : 0;
}

RmfFeatCacheEntry* Find(const RmfFeatCache* cache, RmfFeatKey key) {
  for (RmfFeatCacheEntry* e = cache->buckets[BucketOf(cache, key)]; e != nullptr; e = e->chainNext) {
    const int order = CompareKeys(e->key, key);
    if (order == 0) return e;
    if (order > 0) break;
  }
  return nullptr;
}

// Links the entry into its bucket's chain at its key's place; false (nothing
// linked) when the key is there already.
bool LinkInChain(RmfFeatCache* cache, RmfFeatCacheEntry* entry) {
  entry->bucket = BucketOf(cache, entry->key);
  RmfFeatCacheEntry* previous = nullptr;
  RmfFeatCacheEntry* next = cache->buckets[entry->bucket];
  while (next != nullptr) {
    const int order = CompareKeys(next->key, entry->key);
    if (order == 0) return false;
    if (order > 0) break;
    previous = next;
    next = next->chainNext;
  }
  entry->chainPrevious = previous;
  entry->chainNext = next;
  if (next != nullptr) next->chainPrevious = entry;
  if (previous != nullptr) {
    previous->chainNext = entry;
  } else {
    cache->buckets[entry->bucket] = entry;
  }
  return true;
}

void UnlinkFromChain(RmfFeatCache* cache, RmfFeatCacheEntry* entry) {
  if (entry->chainPrevious != nullptr) {
    entry->chainPrevious->chainNext = entry->chainNext;
  } else {
    cache->buckets[entry->bucket] = entry->chainNext;
  }
  if (entry->chainNext != nullptr) entry->chainNext->chainPrevious = entry->chainPrevious;
  entry->chainNext = nullptr;
  entry->chainPrevious = nullptr;
}

void AppendToReleaseList(RmfFeatCache* cache, RmfFeatCacheEntry* entry) {
  entry->releaseNext = nullptr;
  entry->releasePrevious = cache->releaseNewest;
  if (cache->releaseNewest != nullptr) {
    cache->releaseNewest->releaseNext = entry;
  } else {
    cache->releaseOldest = entry;
  }
  cache->releaseNewest = entry;
}

void UnlinkFromReleaseList(RmfFeatCache* cache, RmfFeatCacheEntry* entry) {
  if (entry->releasePrevious != nullptr) {
    entry->releasePrevious->releaseNext = entry->releaseNext;
  } else {
    cache->releaseOldest = entry->releaseNext;
  }
  if (entry->releaseNext != nullptr) {
    entry->releaseNext->releasePrevious = entry->releasePrevious;
  } else {
    cache->releaseNewest = entry->releasePrevious;
  }
  entry->releaseNext = nullptr;
  entry->releasePrevious = nullptr;
}

void FreeAllEntries(RmfFeatCache* cache) {
  for (std::uint32_t b = 0; b < cache->bucketCount; ++b) {
    RmfFeatCacheEntry* e = cache->buckets[b];
    while (e != nullptr) {
      RmfFeatCacheEntry* next = e->chainNext;
      std::free(e);
      e = next;
    }
    cache->buckets[b] = nullptr;
  }
  cache->releaseNewest = nullptr;
  cache->releaseOldest = nullptr;
  cache->bytesInUse = 0;
  cache->bytesReleased = 0;
}

}  // namespace

std::int32_t RmfFeatCacheCreate(RmfReader* /*reader*/, RmfFeatCache** cache, std::int32_t buckets,
                                std::int32_t budget) {
  if (cache == nullptr) return kRmfBadArgument;
  auto* made = static_cast<RmfFeatCache*>(std::calloc(1, sizeof(RmfFeatCache)));
  if (made == nullptr) return kRmfNoMemory;
  made->budget = static_cast<std::uint32_t>(budget > 0 ? budget : kRmfFeatCacheDefaultBudget);
  made->bucketCount = static_cast<std::uint32_t>(buckets > 0 ? buckets : kRmfFeatCacheDefaultBuckets);
  made->buckets = static_cast<RmfFeatCacheEntry**>(std::calloc(made->bucketCount, sizeof(RmfFeatCacheEntry*)));
  if (made->buckets == nullptr) {
    std::free(made);
    return kRmfNoMemory;
  }
  *cache = made;
  return 1;
}

std::int32_t RmfFeatCacheDestroy(RmfFeatCache* cache) {
  if (cache == nullptr) return kRmfBadArgument;
  FreeAllEntries(cache);
  std::free(cache->buckets);
  std::free(cache);
  return 1;
}

std::int32_t RmfFeatCacheAdd(RmfFeatCache* cache, RmfFeatKey key, std::int32_t size, void** data) {
  if (cache == nullptr || data == nullptr || size < 0) return kRmfBadArgument;
  const auto bytes = static_cast<std::uint32_t>(size);
  if (bytes > FreeForUse(cache)) return kRmfMalformed;
  // A key that is there already is refused before anything is evicted, so a
  // refused add never costs the cache a block (not even the key's own).
  if (Find(cache, key) != nullptr) return kRmfMalformed;
  auto* entry = static_cast<RmfFeatCacheEntry*>(std::malloc(sizeof(RmfFeatCacheEntry) + bytes));
  if (entry == nullptr) return kRmfNoMemory;
  if (RmfFeatCacheTrim(cache, size) != 1) {
    std::free(entry);
    return kRmfMalformed;
  }
  *entry = RmfFeatCacheEntry{};
  entry->key = key;
  entry->references = 1;
  entry->size = bytes;
  entry->writing = 1;
  LinkInChain(cache, entry);
  cache->bytesInUse += bytes;
  *data = DataOf(entry);
  return 1;
}

std::int32_t RmfFeatCacheGet(RmfFeatCache* cache, RmfFeatKey key, void** data, std::int32_t* size) {
  if (cache == nullptr || data == nullptr) return kRmfBadArgument;
  RmfFeatCacheEntry* entry = Find(cache, key);
  if (entry == nullptr) return 0;
  if (entry->writing != 0) return kRmfMalformed;
  if (entry->references == 0) {
    UnlinkFromReleaseList(cache, entry);
    cache->bytesReleased -= entry->size;
    cache->bytesInUse += entry->size;
  }
  ++entry->references;
  *data = DataOf(entry);
  if (size != nullptr) *size = static_cast<std::int32_t>(entry->size);
  return 1;
}

std::int32_t RmfFeatCacheRelease(RmfFeatCache* cache, void* data) {
  if (cache == nullptr || data == nullptr) return kRmfBadArgument;
  RmfFeatCacheEntry* entry = EntryOf(data);
  if (entry->writing != 0 || entry->references < 1) return kRmfMalformed;
  if (--entry->references > 0) return 1;
  AppendToReleaseList(cache, entry);
  cache->bytesInUse -= entry->size;
  cache->bytesReleased += entry->size;
  return 1;
}

std::int32_t RmfFeatCacheResize(RmfFeatCache* cache, void* data, std::int32_t newSize, void** newData) {
  if (cache == nullptr || data == nullptr || newData == nullptr || newSize < 0) return kRmfBadArgument;
  RmfFeatCacheEntry* entry = EntryOf(data);
  if (entry->writing != 1 || entry->references != 1) return kRmfMalformed;
  const auto bytes = static_cast<std::uint32_t>(newSize);
  const std::uint32_t old = entry->size;
  if (bytes > FreeForUse(cache) + old) return kRmfMalformed;
  UnlinkFromChain(cache, entry);
  cache->bytesInUse -= old;
  if (RmfFeatCacheTrim(cache, newSize) != 1) {
    LinkInChain(cache, entry);
    cache->bytesInUse += old;
    return kRmfMalformed;
  }
  auto* moved = static_cast<RmfFeatCacheEntry*>(std::realloc(entry, sizeof(RmfFeatCacheEntry) + bytes));
  if (moved == nullptr) {
    std::free(entry);
    return kRmfNoMemory;
  }
  moved->size = bytes;
  LinkInChain(cache, moved);
  cache->bytesInUse += bytes;
  *newData = DataOf(moved);
  return 1;
}

std::int32_t RmfFeatCacheSetWriting(RmfFeatCache* cache, void* data, std::int32_t flag) {
  if (cache == nullptr || data == nullptr) return kRmfBadArgument;
  RmfFeatCacheEntry* entry = EntryOf(data);
  if (entry->references != 1) return kRmfMalformed;
  const std::uint8_t from = flag != 0 ? 0 : 1;
  if (entry->writing != from) return kRmfMalformed;
  entry->writing = static_cast<std::uint8_t>(1 - from);
  return 1;
}

std::int32_t RmfFeatCacheClear(RmfFeatCache* cache) {
  if (cache == nullptr) return kRmfBadArgument;
  // Held blocks are looked for one by one: a held block of 0 bytes leaves no
  // trace in the byte counts.
  for (std::uint32_t b = 0; b < cache->bucketCount; ++b) {
    for (const RmfFeatCacheEntry* e = cache->buckets[b]; e != nullptr; e = e->chainNext) {
      if (e->references != 0) return kRmfMalformed;
    }
  }
  FreeAllEntries(cache);
  return 1;
}

std::int32_t RmfFeatCacheTrim(RmfFeatCache* cache, std::int32_t need) {
  if (cache == nullptr || need < 0) return kRmfBadArgument;
  const auto bytes = static_cast<std::uint32_t>(need);
  if (bytes > FreeForUse(cache)) return 0;
  while (static_cast<std::uint64_t>(bytes) + cache->bytesReleased > FreeForUse(cache)) {
    RmfFeatCacheEntry* oldest = cache->releaseOldest;
    if (oldest == nullptr) return kRmfMalformed;
    UnlinkFromReleaseList(cache, oldest);
    UnlinkFromChain(cache, oldest);
    cache->bytesReleased -= oldest->size;
    std::free(oldest);
  }
  return 1;
}
