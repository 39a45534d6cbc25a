// The tile record cache: stores records (inflating compressed ones), finds
// them by key, and gives blocks back to the arena on request, a whole tile's
// records at a time for the record cache.
#include "mapengine/format/store/RmfTileCache.h"

#include <zlib.h>

#include <cstddef>
#include <cstring>

#include "mapengine/format/RmfInternal.h"

namespace {

using rmf::detail::TagArenaHandleOf;
using rmf::detail::TagArenaNodeAt;
using rmf::detail::TagBlockInfo;
using rmf::detail::TagBlockState;

constexpr std::uint32_t kCacheHeaderTag = 0x54434844;  // "TCHD"

template <class T>
int Order(T a, T b) {
  return a < b ? -1 : (a > b ? 1 : 0);
}

bool Usable(const RmfTileCache* cache) {
  return cache != nullptr && cache->arena != nullptr && cache->owner.release != nullptr;
}

std::int32_t Notify(RmfTileCache* cache, void* block, void* newBlock) {
  return cache->owner.release(block, newBlock, cache->owner.context, &cache->owner);
}

// Frees a block the cache allocated but did not (or no longer) index.
// Nothing else holds it, so neither step can fail, and the caller has nothing
// to undo if one did.
void Discard(RmfTileCache* cache, void* block) {
  (void)RmfTagT12(cache->arena, block);
  (void)RmfTagT5(cache->arena, block);
}

bool InUse(RmfTileCache* cache, void* block) {
  TagBlockInfo info;
  if (!TagBlockState(cache->arena, block, &info)) return false;
  return info.pins > 0 || info.references > 1;
}

// Removes the block from the tree when it is in it (found by its own key).
void Unlink(RmfTileCache* cache, void* block) {
  void* found = nullptr;
  // The search has just left the path at the block, so deleting it there succeeds.
  if (TiBtiLeastGe(&cache->tree, block, &found) == 1 && found == block) (void)TiBtiDeleteCurrent(&cache->tree);
}

std::int32_t Insert(RmfTileCache* cache, void* block) {
  void* found = nullptr;
  const std::int32_t r = TiBtiFindForce(&cache->tree, block, 0, &found, 1);
  if (r == 0) return 1;
  return r == 1 ? -1 : r;  // the key is cached already under another block
}

// Gives one block back: detached, unlinked and freed, or kept (1) when in use.
std::int32_t GiveBack(RmfTileCache* cache, void* block) {
  const std::int32_t detached = RmfTagT12(cache->arena, block);
  if (detached == kRmfTagInUse) return 1;
  if (detached != 1) return detached;
  Unlink(cache, block);
  (void)RmfTagT5(cache->arena, block);  // detached and not in use: freed
  return 1;
}

// Releases every reference of a record and tells each holder. The chain is
// emptied first, so a holder that releases its reference itself is refused
// harmlessly, and a damaged or cyclic chain stops at the first reference
// whose guard does not say linked.
void ReleaseReferences(RmfTileCache* cache, RmfRecordKey* record) {
  std::uint32_t handle = record->references;
  record->references = 0;
  while (handle != 0) {
    auto* ref = static_cast<RmfRecordReference*>(TagArenaNodeAt(cache->arena, handle));
    if (ref == nullptr || ref->guard != kRmfReferenceLinked) return;
    handle = ref->next;
    ref->guard = kRmfReferenceReleased;
    ref->next = 0;
    TagBlockInfo holder;
    if (TagBlockState(cache->arena, ref, &holder) && holder.references != 0 && holder.owner != nullptr &&
        holder.owner->release != nullptr) {
      holder.owner->release(ref, nullptr, holder.owner->context, holder.owner);
    }
  }
}

// Gives back every record of the block's tile that is not in use, from
// sequence 0 on, then the block itself if it was not among them (a block
// that never made it into the tree).
std::int32_t GiveBackTile(RmfTileCache* cache, void* block) {
  const auto* wanted = static_cast<const RmfRecordKey*>(block);
  RmfRecordKey probe{};
  probe.tileId = wanted->tileId;
  bool handledBlock = false;
  for (;;) {
    void* found = nullptr;
    if (TiBtiLeastGe(&cache->tree, &probe, &found) != 1) break;
    auto* record = static_cast<RmfRecordKey*>(found);
    if (record->tileId != probe.tileId) break;
    const std::uint16_t sequence = record->sequence;
    if (record == block) handledBlock = true;
    if (!InUse(cache, record)) {
      // Holders are told first; they may change the tree, so the record is
      // looked up again by key before it is unlinked.
      ReleaseReferences(cache, record);
      if (RmfTagT12(cache->arena, record) == 1) {
        Unlink(cache, record);
        (void)RmfTagT5(cache->arena, record);  // detached and not in use: freed
      }
    }
    if (sequence == 0xffff) break;
    probe.sequence = static_cast<std::uint16_t>(sequence + 1);
  }
  if (handledBlock) return 1;
  return GiveBack(cache, block);
}

template <bool kWholeTile>
std::int32_t Callback(void* block, void* newBlock, RmfTagOwner* owner) {
  RmfTileCache* cache = rmf::detail::TcOfOwner(owner);
  if (cache == nullptr || !Usable(cache)) return kRmfBadArgument;
  if (block == nullptr && newBlock != nullptr) return Insert(cache, newBlock);
  if (block != nullptr && newBlock == nullptr) return kWholeTile ? GiveBackTile(cache, block) : GiveBack(cache, block);
  if (block != nullptr && newBlock != nullptr) return TiBtiMove(&cache->tree, block, newBlock, 0);
  return kRmfBadArgument;
}

}  // namespace

std::int32_t tcHdrInitLocal(RmfTileCache* cache, RmfTagArena* arena, RmfTagRelease callback, TiBtiCompare compare,
                            void* context) {
  if (cache == nullptr || arena == nullptr || callback == nullptr || compare == nullptr) return -1;
  cache->arena = arena;
  cache->owner.release = callback;
  cache->owner.context = context != nullptr ? context : cache;
  // Cached blocks live in the arena, so the tree links them by arena handle.
  return TiBtiInitLinked32(&cache->tree, compare, cache->owner.context, 0, TagArenaNodeAt, TagArenaHandleOf, arena);
}

RmfTileCache* RmfTcT1(RmfTagArena* arena, RmfTagRelease callback, TiBtiCompare compare, void* context) {
  void* block = RmfTagT4(arena, sizeof(RmfTileCache) + 4, kCacheHeaderTag);
  if (block == nullptr) return nullptr;
  const std::uintptr_t at = (reinterpret_cast<std::uintptr_t>(block) + 7) & ~static_cast<std::uintptr_t>(7);
  auto* cache = reinterpret_cast<RmfTileCache*>(at);
  if (tcHdrInitLocal(cache, arena, callback, compare, context) != 1) {
    // The header's own fixed block with its one pin: unpin and free cannot fail.
    (void)RmfTagT8(arena, block);
    (void)RmfTagT5(arena, block);
    return nullptr;
  }
  return cache;
}

void* RmfTcT2(RmfTileCache* cache, const void* key, std::uint32_t keyLength, const void* source,
              std::int32_t compressed, std::uint32_t storedLength, std::uint32_t rawLength) {
  if (!Usable(cache) || key == nullptr || source == nullptr) return nullptr;
  if (keyLength < sizeof(TiBtiNode32) || keyLength > 0xffff) return nullptr;
  // A record holds at least its own length word, which must agree with the
  // length the block is sized for: readers of the cached record trust it.
  if (compressed != 0 && storedLength < 4) return nullptr;
  const auto* lengthWord = static_cast<const std::uint8_t*>(source);
  if (rawLength < 2 || rawLength > 0xffff || rmf::detail::LoadU16(lengthWord) != rawLength) return nullptr;

  void* cached = RmfTcT3(cache, key);
  if (cached != nullptr) return cached;

  void* block = RmfTagT3(cache->arena, keyLength + rawLength, &cache->owner);
  if (block == nullptr) return nullptr;
  auto* bytes = static_cast<unsigned char*>(block);
  std::memcpy(bytes, key, keyLength);
  unsigned char* payload = bytes + keyLength;
  const auto* in = static_cast<const unsigned char*>(source);
  if (compressed == 0) {
    std::memcpy(payload, in, rawLength);
  } else {
    std::memcpy(payload, in, 2);
    uLongf inflated = rawLength - 2;
    const int z = uncompress(payload + 2, &inflated, in + 2, storedLength - 4);
    if (z != Z_OK || inflated != rawLength - 2) {
      Discard(cache, block);
      return nullptr;
    }
  }
  if (Notify(cache, nullptr, block) < 0) {
    Discard(cache, block);
    return nullptr;
  }
  return block;
}

void* RmfTcT3(RmfTileCache* cache, const void* key) {
  if (!Usable(cache) || key == nullptr) return nullptr;
  void* found = nullptr;
  if (TiBtiFindForce(&cache->tree, const_cast<void*>(key), 0, &found, 0) != 1) return nullptr;
  RmfTagT10(cache->arena, found, 1);
  return found;
}

namespace rmf::detail {

std::int32_t TcCompareChunkKeys(const void* key, const void* node, void*, std::int32_t) {
  const auto* a = static_cast<const RmfChunkKey*>(key);
  const auto* b = static_cast<const RmfChunkKey*>(node);
  if (int c = Order(a->source, b->source); c != 0) return c;
  if (int c = Order(a->first, b->first); c != 0) return c;
  return Order(a->count, b->count);
}

std::int32_t TcCompareRecordKeys(const void* key, const void* node, void*, std::int32_t) {
  const auto* a = static_cast<const RmfRecordKey*>(key);
  const auto* b = static_cast<const RmfRecordKey*>(node);
  if (int c = Order(a->tileId, b->tileId); c != 0) return c;
  return Order(a->sequence, b->sequence);
}

std::int32_t TcChunkCallback(void* block, void* newBlock, void*, RmfTagOwner* owner) {
  return Callback<false>(block, newBlock, owner);
}

std::int32_t TcRecordCallback(void* block, void* newBlock, void*, RmfTagOwner* owner) {
  return Callback<true>(block, newBlock, owner);
}

RmfTileCache* TcOfOwner(RmfTagOwner* owner) {
  if (owner == nullptr) return nullptr;
  return reinterpret_cast<RmfTileCache*>(reinterpret_cast<unsigned char*>(owner) - offsetof(RmfTileCache, owner));
}

std::int32_t TcAttachReference(RmfTileCache* recordCache, void* record, void* reference) {
  if (!Usable(recordCache) || record == nullptr || reference == nullptr) return kRmfBadArgument;
  const std::uint32_t handle = TagArenaHandleOf(recordCache->arena, reference);
  if (handle == 0 || (handle & 3) != 0) return kRmfBadArgument;
  auto* key = static_cast<RmfRecordKey*>(record);
  auto* ref = static_cast<RmfRecordReference*>(reference);
  ref->guard = kRmfReferenceLinked;
  ref->next = key->references;
  ref->tileId = key->tileId;
  ref->source = key->source;
  ref->sequence = key->sequence;
  key->references = handle;
  return 1;
}

std::int32_t TcReleaseReference(RmfTileCache* recordCache, void* reference) {
  if (!Usable(recordCache) || reference == nullptr) return kRmfBadArgument;
  auto* ref = static_cast<RmfRecordReference*>(reference);
  if (ref->guard != kRmfReferenceLinked) return kRmfBadArgument;
  ref->guard = kRmfReferenceReleased;
  RmfRecordKey probe{};
  probe.tileId = ref->tileId;
  probe.sequence = ref->sequence;
  void* found = nullptr;
  if (TiBtiFindForce(&recordCache->tree, &probe, 0, &found, 0) != 1) return 0;
  auto* record = static_cast<RmfRecordKey*>(found);
  if (record->source != ref->source) return 0;
  const std::uint32_t handle = TagArenaHandleOf(recordCache->arena, reference);
  // Walk the chain with a bound: a chain longer than the arena could hold
  // references is damaged.
  std::uint32_t* link = &record->references;
  for (std::uint32_t steps = 0; *link != 0 && steps < (1u << 26); ++steps) {
    if (*link == handle) {
      *link = ref->next;
      ref->next = 0;
      return 1;
    }
    auto* next = static_cast<RmfRecordReference*>(TagArenaNodeAt(recordCache->arena, *link));
    if (next == nullptr) return 0;
    link = &next->next;
  }
  return 0;
}

}  // namespace rmf::detail
