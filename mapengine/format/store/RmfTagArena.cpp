// The tagged arena allocator: regions of caller memory cut into blocks with
// boundary tags, a best-fit index of free blocks, and a least-recently-used
// list of allocated blocks through which purgeable blocks are evicted.
//
// Layout on every build (the allocator was designed for 32-bit phones, and
// its budgets, split thresholds and sizes are kept byte for byte on 64-bit
// builds):
//
//   region: | header (48 bytes, ends with a zero word) | block | block | ... | end sentinel (36) |
//   block:  | header (36) | data (size - 36) | trailer (4) |
//
// A block header holds no pointers of machine width except the owner:
//   0  left, right   u32 x 2   free-index links (handles, see below)
//   8  balance       i8        free-index balance
//   9  kind          u8        free, fixed, purgeable, end sentinel
//  10  spare         u16
//  12  owner         8 bytes   purgeable: owner record address; fixed: the tag
//  20  size          u32       header + data bytes (trailer not counted)
//  24  newer, older  u32 x 2   LRU links (handles)
//  32  references    u16       0 = free
//  34  pins          u16
// The trailer holds the block's own handle, so the block after it finds its
// predecessor; the header's last word is 0 and marks "no block before".
//
// Handles: every region is given a range of a 32-bit address space of the
// arena when it is added (the first region starts at 0, each next one where
// the previous ends), and a handle is a block's position in that space. A
// handle is turned into an address by finding the region whose range holds
// it (the first region is checked first; arenas have few regions). Handle 0
// is the first region's header and never names a block. The arena's regions
// together are limited to 4 GB, as on the 32-bit target.
//
// The free index is the tree engine of the balanced tree index
// (TiBtiCore.h) over short 32-bit-linked nodes at the start of each free
// block's header, ordered by size, then address; its root and count live in
// the first region's header and its search path on the stack of each call,
// so the region header stays small enough for a 512-byte region to be useful.
#include "mapengine/format/store/RmfTagArena.h"

#include <climits>
#include <cstddef>
#include <cstring>

#include "mapengine/format/base/TiBtiCore.h"

// Region header; the fields after nextRegion are used in the first region only.
struct RmfTagArena {
  std::uint32_t magic;
  std::uint32_t size;           // region bytes, multiple of 4
  std::uint32_t base;           // handle of the region's first byte
  std::uint32_t nextRegion[2];  // address of the next region (0 for the last); regions are only 4-aligned
  std::uint32_t lruOldest;      // handles of the LRU list's ends
  std::uint32_t lruNewest;
  std::uint32_t freeRoot;   // handle of the free index's root
  std::uint32_t freeCount;  // free blocks in the index
  std::uint32_t allocated;  // blocks in the LRU list
  std::uint32_t nextBase;   // handle range start of the next region added
  std::uint32_t zero;       // the "trailer" in front of the first block: no predecessor
};
static_assert(sizeof(RmfTagArena) == 48 && alignof(RmfTagArena) == 4);

namespace {

using rmf::detail::kTagBlockHeader;
using rmf::detail::kTagBlockTrailer;
using rmf::detail::kTagMinRegion;

constexpr std::uint32_t kArenaMagic = 0x41524e31;   // first region
constexpr std::uint32_t kRegionMagic = 0x41524e32;  // regions added later
constexpr std::uint32_t kOverhead = kTagBlockHeader + kTagBlockTrailer;
constexpr std::uint32_t kHeaderBytes = sizeof(RmfTagArena);
constexpr std::uint16_t kCountLimit = 0xffff;

enum Kind : std::uint8_t { kFree = 0, kFixed = 1, kPurgeable = 2, kSentinel = 3 };

struct Block {
  std::uint32_t left;
  std::uint32_t right;
  std::int8_t balance;
  std::uint8_t kind;
  std::uint16_t spare;
  std::uint32_t owner[2];
  std::uint32_t size;
  std::uint32_t newer;
  std::uint32_t older;
  std::uint16_t references;
  std::uint16_t pins;
};
static_assert(sizeof(Block) == kTagBlockHeader && alignof(Block) == 4);
static_assert(offsetof(Block, left) == offsetof(TiBtiNode32, left) &&
                  offsetof(Block, right) == offsetof(TiBtiNode32, right) &&
                  offsetof(Block, balance) == offsetof(TiBtiNode32, balance),
              "the free index reads a short 32-bit node at the start of the header");

unsigned char* Bytes(void* p) { return static_cast<unsigned char*>(p); }
std::uintptr_t Address(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }

RmfTagArena* NextRegion(const RmfTagArena* region) {
  RmfTagArena* next;
  std::memcpy(&next, region->nextRegion, sizeof(next));
  return next;
}

void SetNextRegion(RmfTagArena* region, RmfTagArena* next) { std::memcpy(region->nextRegion, &next, sizeof(next)); }

std::uintptr_t OwnerWord(const Block* b) {
  std::uintptr_t value = 0;
  std::memcpy(&value, b->owner, sizeof(value));
  return value;
}

void SetOwnerWord(Block* b, std::uintptr_t value) {
  std::memset(b->owner, 0, sizeof(b->owner));
  std::memcpy(b->owner, &value, sizeof(value));
}

bool IsArena(const RmfTagArena* arena) { return arena != nullptr && arena->magic == kArenaMagic; }

RmfTagArena* RegionOfAddress(RmfTagArena* arena, const void* p) {
  for (RmfTagArena* r = arena; r != nullptr; r = NextRegion(r)) {
    if (Address(p) - Address(r) < r->size) return r;
  }
  return nullptr;
}

RmfTagArena* RegionOfHandle(RmfTagArena* arena, std::uint32_t handle) {
  for (RmfTagArena* r = arena; r != nullptr; r = NextRegion(r)) {
    if (handle - r->base < r->size) return r;
  }
  return nullptr;
}

Block* BlockAt(RmfTagArena* arena, std::uint32_t handle) {
  if (handle == 0) return nullptr;
  RmfTagArena* r = RegionOfHandle(arena, handle);
  if (r == nullptr) return nullptr;
  return reinterpret_cast<Block*>(Bytes(r) + (handle - r->base));
}

std::uint32_t HandleOf(RmfTagArena* arena, const void* p) {
  if (p == nullptr) return 0;
  RmfTagArena* r = RegionOfAddress(arena, p);
  if (r == nullptr) return 0;
  return r->base + static_cast<std::uint32_t>(Address(p) - Address(r));
}

Block* FirstBlock(RmfTagArena* region) { return reinterpret_cast<Block*>(Bytes(region) + kHeaderBytes); }
Block* Sentinel(RmfTagArena* region) {
  return reinterpret_cast<Block*>(Bytes(region) + region->size - kTagBlockHeader);
}
Block* After(Block* b) { return reinterpret_cast<Block*>(Bytes(b) + b->size + kTagBlockTrailer); }
void* DataOf(Block* b) { return Bytes(b) + kTagBlockHeader; }

std::uint32_t TrailerBefore(Block* b) {
  std::uint32_t h;
  std::memcpy(&h, Bytes(b) - kTagBlockTrailer, sizeof(h));
  return h;
}

void WriteTrailer(RmfTagArena* arena, Block* b) {
  const std::uint32_t h = HandleOf(arena, b);
  std::memcpy(Bytes(b) + b->size, &h, sizeof(h));
}

void MakeFree(Block* b) {
  b->left = 0;
  b->right = 0;
  b->balance = 0;
  b->kind = kFree;
  b->spare = 0;
  SetOwnerWord(b, 0);
  b->newer = 0;
  b->older = 0;
  b->references = 0;
  b->pins = 0;
}

// ---- free index -----------------------------------------------------------

struct ArenaResolver {
  RmfTagArena* arena;
  void* node(std::uint32_t handle) const { return BlockAt(arena, handle); }
  std::uint32_t handle(const void* node) const { return HandleOf(arena, node); }
};

// Key of a free block: size, then address. Address 0 sorts before every
// block, so (n, 0) searches the best fit of n bytes.
struct FreeKey {
  std::uint32_t size;
  std::uintptr_t address;
};

struct FreeCompare {
  std::int32_t operator()(const void* key, const void* node, std::int32_t) const {
    const auto* k = static_cast<const FreeKey*>(key);
    const auto* b = static_cast<const Block*>(node);
    if (k->size != b->size) return k->size < b->size ? -1 : 1;
    if (k->address != Address(b)) return k->address < Address(b) ? -1 : 1;
    return 0;
  }
  std::int32_t nodes(const void* a, const void* b) const {
    const FreeKey key{static_cast<const Block*>(a)->size, Address(a)};
    return (*this)(&key, b, 0);
  }
};

// Regions hold at most 2^32 / 40 blocks, and an AVL tree of fewer than
// F(42) - 1 = 267,914,295 nodes is at most 39 levels high.
constexpr std::int32_t kFreePathCapacity = 48;

using FreeAccess = ti::bti::Link32Access<ArenaResolver>;
using FreeAvl = ti::bti::Avl<FreeAccess, FreeCompare>;

// One use of the free index: loads root and count from the arena, stores
// them back when it goes out of scope.
class FreeIndex {
 public:
  explicit FreeIndex(RmfTagArena* arena)
      : arena_(arena), root_(BlockAt(arena, arena->freeRoot)), count_(static_cast<std::int32_t>(arena->freeCount)) {}
  ~FreeIndex() {
    arena_->freeRoot = HandleOf(arena_, root_);
    arena_->freeCount = static_cast<std::uint32_t>(count_);
  }
  FreeIndex(const FreeIndex&) = delete;
  FreeIndex& operator=(const FreeIndex&) = delete;

  // Removes and returns the least free block of at least `need` bytes
  // (lowest address among equal sizes), or null.
  Block* takeBestFit(std::uint32_t need) {
    FreeAvl avl = engine();
    const FreeKey key{need, 0};
    if (avl.search(&key, 1) < 0 || avl.step(1) != 1) return nullptr;
    auto* b = static_cast<Block*>(avl.current());
    return avl.deleteCurrent() == 1 ? b : nullptr;
  }

  bool insert(Block* b) {
    FreeAvl avl = engine();
    const FreeKey key{b->size, Address(b)};
    if (avl.search(&key, 0) != 0) return false;
    return avl.insertAtPathEnd(b) == 1;
  }

  bool remove(Block* b) {
    FreeAvl avl = engine();
    const FreeKey key{b->size, Address(b)};
    if (avl.search(&key, 0) != 1) return false;
    return avl.deleteCurrent() == 1;
  }

  bool contains(Block* b) {
    FreeAvl avl = engine();
    const FreeKey key{b->size, Address(b)};
    return avl.search(&key, 0) == 1 && avl.current() == b;
  }

  // Height, or -1 when balances are wrong; sorted flag; number of nodes
  // reached by an in-order walk whose blocks are free.
  int verify(bool* sorted, std::uint32_t* freeNodes) {
    FreeAvl avl = engine();
    const void* previous = nullptr;
    *sorted = avl.verifySort(root_, nullptr, previous, 0);
    *freeNodes = 0;
    if (avl.extreme(-1) == 1) {
      do {
        if (static_cast<Block*>(avl.current())->kind == kFree) ++*freeNodes;
      } while (avl.step(1) == 1);
    }
    return avl.verifyBalance(root_, nullptr, 0);
  }

 private:
  FreeAvl engine() {
    return FreeAvl(FreeAccess(false, ArenaResolver{arena_}), FreeCompare{},
                   ti::bti::State{&root_, &count_, pathNode_, pathDir_, kFreePathCapacity, &pathEnd_, nullptr});
  }

  RmfTagArena* arena_;
  void* root_;
  std::int32_t count_;
  void* pathNode_[kFreePathCapacity];
  std::int8_t pathDir_[kFreePathCapacity];
  std::int32_t pathEnd_ = 0;
};

// ---- LRU list ---------------------------------------------------------------

void LruUnlink(RmfTagArena* arena, Block* b) {
  Block* older = BlockAt(arena, b->older);
  Block* newer = BlockAt(arena, b->newer);
  if (older != nullptr) {
    older->newer = b->newer;
  } else {
    arena->lruOldest = b->newer;
  }
  if (newer != nullptr) {
    newer->older = b->older;
  } else {
    arena->lruNewest = b->older;
  }
  b->newer = 0;
  b->older = 0;
}

void LruAppendNewest(RmfTagArena* arena, Block* b) {
  const std::uint32_t h = HandleOf(arena, b);
  b->older = arena->lruNewest;
  b->newer = 0;
  if (Block* newest = BlockAt(arena, arena->lruNewest); newest != nullptr) {
    newest->newer = h;
  } else {
    arena->lruOldest = h;
  }
  arena->lruNewest = h;
}

void LruPrependOldest(RmfTagArena* arena, Block* b) {
  const std::uint32_t h = HandleOf(arena, b);
  b->newer = arena->lruOldest;
  b->older = 0;
  if (Block* oldest = BlockAt(arena, arena->lruOldest); oldest != nullptr) {
    oldest->older = h;
  } else {
    arena->lruNewest = h;
  }
  arena->lruOldest = h;
}

// ---- regions and blocks -------------------------------------------------------

// Aligns the caller's memory to 4 bytes and cuts the size to a multiple of 4;
// null when less than the minimum region remains.
RmfTagArena* PrepareRegion(void* memory, std::uint32_t size, std::uint32_t* usable) {
  if (memory == nullptr) return nullptr;
  const std::uintptr_t skip = (4 - (Address(memory) & 3)) & 3;
  if (size < skip) return nullptr;
  const std::uint32_t aligned = (size - static_cast<std::uint32_t>(skip)) & ~3u;
  if (aligned < kTagMinRegion) return nullptr;
  *usable = aligned;
  return reinterpret_cast<RmfTagArena*>(Bytes(memory) + skip);
}

// Writes the region header, its single free block and the end sentinel. The
// caller puts the free block into the index once the region is reachable.
Block* InitRegion(RmfTagArena* region, std::uint32_t size, std::uint32_t base, std::uint32_t magic) {
  std::memset(region, 0, kHeaderBytes);
  region->magic = magic;
  region->size = size;
  region->base = base;
  Block* sentinel = Sentinel(region);
  MakeFree(sentinel);
  sentinel->kind = kSentinel;
  sentinel->size = 0;
  sentinel->references = 1;
  sentinel->pins = 1;
  Block* b = FirstBlock(region);
  MakeFree(b);
  b->size = size - kHeaderBytes - kTagBlockTrailer - kTagBlockHeader;
  return b;
}

// The block of a data pointer, checked against the arena's regions, its
// size and its trailer; null when the arena holds no such block.
Block* Validate(RmfTagArena* arena, const void* data) {
  if (!IsArena(arena) || data == nullptr) return nullptr;
  if (Address(data) < kTagBlockHeader) return nullptr;
  const auto* p = static_cast<const unsigned char*>(data) - kTagBlockHeader;
  RmfTagArena* region = RegionOfAddress(arena, p);
  if (region == nullptr) return nullptr;
  const std::uintptr_t offset = Address(p) - Address(region);
  if (offset < kHeaderBytes || (offset & 3) != 0 || offset + kOverhead > region->size) return nullptr;
  auto* b = reinterpret_cast<Block*>(Bytes(region) + offset);
  if (b->kind > kPurgeable || b->size < kTagBlockHeader || (b->size & 3) != 0) return nullptr;
  // The block and its trailer must end before the sentinel.
  if (offset + b->size + kTagBlockTrailer > region->size - kTagBlockHeader) return nullptr;
  std::uint32_t trailer;
  std::memcpy(&trailer, Bytes(b) + b->size, sizeof(trailer));
  if (trailer != region->base + offset) return nullptr;
  return b;
}

// Returns an allocated block without owner to the free index, merged with
// free neighbours.
void Release(RmfTagArena* arena, Block* b) {
  LruUnlink(arena, b);
  --arena->allocated;
  MakeFree(b);
  FreeIndex index(arena);
  Block* next = After(b);
  if (next->kind == kFree && next->references == 0) {
    index.remove(next);
    b->size += next->size + kTagBlockTrailer;
  }
  if (Block* previous = BlockAt(arena, TrailerBefore(b));
      previous != nullptr && previous->kind == kFree && previous->references == 0) {
    index.remove(previous);
    previous->size += b->size + kTagBlockTrailer;
    b = previous;
  }
  WriteTrailer(arena, b);
  index.insert(b);
}

std::int32_t FreeBlock(RmfTagArena* arena, Block* b) {
  if (b->references == 0) return 0;
  if (b->references > 1 || b->pins > 0) return kRmfTagInUse;
  if (b->kind == kPurgeable && OwnerWord(b) != 0) {
    auto* owner = reinterpret_cast<RmfTagOwner*>(OwnerWord(b));
    const std::int32_t answer = owner->release(DataOf(b), nullptr, owner->context, owner);
    return answer < 0 ? kRmfTagRefused : 1;
  }
  Release(arena, b);
  return 1;
}

// Evicts the oldest block that is neither pinned nor referenced twice. A
// block that is still allocated afterwards (its owner refused or kept it) is
// moved to the newest end, so that the next attempt tries another one.
std::int32_t EvictOne(RmfTagArena* arena, bool* progress) {
  *progress = false;
  Block* victim = nullptr;
  for (Block* b = BlockAt(arena, arena->lruOldest); b != nullptr; b = BlockAt(arena, b->newer)) {
    if (b->pins == 0 && b->references < 2) {
      victim = b;
      break;
    }
  }
  if (victim == nullptr) return 0;
  const std::int32_t result = FreeBlock(arena, victim);
  // The header stays readable: a merged block's old header lies inside the
  // free block that absorbed it, with its reference count 0.
  *progress = victim->references == 0;
  if (!*progress && victim->kind != kFree && Validate(arena, DataOf(victim)) == victim) {
    LruUnlink(arena, victim);
    LruAppendNewest(arena, victim);
  }
  return result;
}

void* Allocate(RmfTagArena* arena, std::uint32_t bytes, bool fixed, std::uintptr_t ownerWord) {
  if (!IsArena(arena)) return nullptr;
  if (bytes > UINT32_MAX - 3 - kOverhead) return nullptr;
  const std::uint32_t n = (bytes + 3) & ~3u;
  const std::uint32_t need = n + kTagBlockHeader;
  Block* b = nullptr;
  std::uint32_t stalls = 0;
  for (;;) {
    {
      FreeIndex index(arena);
      b = index.takeBestFit(need);
    }
    if (b != nullptr) break;
    bool progress = false;
    if (EvictOne(arena, &progress) == 0) return nullptr;
    // Owners that refuse would otherwise keep the loop going for ever.
    if (!progress && ++stalls > arena->allocated) return nullptr;
  }
  if (b->size - need > kOverhead) {
    auto* rest = reinterpret_cast<Block*>(Bytes(b) + need + kTagBlockTrailer);
    MakeFree(rest);
    rest->size = b->size - need - kTagBlockTrailer;
    WriteTrailer(arena, rest);
    b->size = need;
    FreeIndex index(arena);
    index.insert(rest);
  }
  WriteTrailer(arena, b);
  b->left = 0;
  b->right = 0;
  b->balance = 0;
  b->kind = fixed ? kFixed : kPurgeable;
  SetOwnerWord(b, ownerWord);
  b->references = 1;
  b->pins = fixed ? 1 : 0;
  LruAppendNewest(arena, b);
  ++arena->allocated;
  return DataOf(b);
}

}  // namespace

// ---- interface ---------------------------------------------------------------

RmfTagArena* RmfTagT1(void* memory, std::uint32_t size) {
  std::uint32_t usable = 0;
  RmfTagArena* arena = PrepareRegion(memory, size, &usable);
  if (arena == nullptr) return nullptr;
  Block* b = InitRegion(arena, usable, 0, kArenaMagic);
  arena->nextBase = usable;
  WriteTrailer(arena, b);
  FreeIndex index(arena);
  index.insert(b);
  return arena;
}

std::int32_t RmfTagT2(RmfTagArena* arena, void* memory, std::uint32_t size) {
  if (!IsArena(arena)) return kRmfTagBadArgument;
  std::uint32_t usable = 0;
  RmfTagArena* region = PrepareRegion(memory, size, &usable);
  if (region == nullptr) return kRmfTagBadArgument;
  if (usable > UINT32_MAX - arena->nextBase) return kRmfTagBadArgument;
  RmfTagArena* last = arena;
  for (RmfTagArena* r = arena; r != nullptr; r = NextRegion(r)) {
    const bool apart = Address(region) + usable <= Address(r) || Address(r) + r->size <= Address(region);
    if (!apart) return kRmfTagBadArgument;
    last = r;
  }
  Block* b = InitRegion(region, usable, arena->nextBase, kRegionMagic);
  arena->nextBase += usable;
  SetNextRegion(last, region);
  WriteTrailer(arena, b);
  FreeIndex index(arena);
  index.insert(b);
  return 1;
}

void* RmfTagT3(RmfTagArena* arena, std::uint32_t bytes, RmfTagOwner* owner) {
  return Allocate(arena, bytes, false, reinterpret_cast<std::uintptr_t>(owner));
}

void* RmfTagT4(RmfTagArena* arena, std::uint32_t bytes, std::uint32_t tag) { return Allocate(arena, bytes, true, tag); }

std::int32_t RmfTagT5(RmfTagArena* arena, void* data) {
  Block* b = Validate(arena, data);
  if (b == nullptr) return kRmfTagBadArgument;
  return FreeBlock(arena, b);
}

std::int32_t RmfTagT6(RmfTagArena* arena, void* data) {
  Block* b = Validate(arena, data);
  if (b == nullptr) return kRmfTagBadArgument;
  if (b->references == 0) return kRmfTagNotAllocated;
  if (b->pins == kCountLimit) return kRmfTagInUse;
  return ++b->pins;
}

std::int32_t RmfTagT7(RmfTagArena* arena, void* data) {
  Block* b = Validate(arena, data);
  if (b == nullptr) return kRmfTagBadArgument;
  if (b->references == 0) return kRmfTagNotAllocated;
  if (b->references == kCountLimit) return kRmfTagInUse;
  return ++b->references;
}

std::int32_t RmfTagT8(RmfTagArena* arena, void* data) {
  Block* b = Validate(arena, data);
  if (b == nullptr) return kRmfTagBadArgument;
  if (b->references == 0) return kRmfTagNotAllocated;
  if (b->pins == 0) return kRmfTagInUse;
  return --b->pins;
}

std::int32_t RmfTagT9(RmfTagArena* arena, void* data) {
  Block* b = Validate(arena, data);
  if (b == nullptr) return kRmfTagBadArgument;
  if (b->references == 0) return kRmfTagNotAllocated;
  if (b->references == 1) return kRmfTagInUse;
  return --b->references;
}

std::int32_t RmfTagT10(RmfTagArena* arena, void* data, std::int32_t mode) {
  Block* b = Validate(arena, data);
  if (b == nullptr || (mode != 1 && mode != -1)) return kRmfTagBadArgument;
  if (b->references == 0) return kRmfTagNotAllocated;
  const std::uint32_t h = HandleOf(arena, b);
  if (mode == 1 && arena->lruNewest == h) return 1;
  if (mode == -1 && arena->lruOldest == h) return 1;
  LruUnlink(arena, b);
  if (mode == 1) {
    LruAppendNewest(arena, b);
  } else {
    LruPrependOldest(arena, b);
  }
  return 1;
}

std::int32_t RmfTagT11(RmfTagArena* arena) {
  if (!IsArena(arena)) return kRmfTagBadArgument;
  bool progress = false;
  return EvictOne(arena, &progress);
}

std::int32_t RmfTagT12(RmfTagArena* arena, void* data) {
  Block* b = Validate(arena, data);
  if (b == nullptr) return kRmfTagBadArgument;
  if (b->references == 0) return 0;
  if (b->references > 1 || b->pins > 0) return kRmfTagInUse;
  SetOwnerWord(b, 0);
  return 1;
}

std::int32_t RmfTagT13(RmfTagArena* arena) {
  if (!IsArena(arena)) return kRmfTagBadArgument;
  std::uint64_t sum = 0;
  for (RmfTagArena* r = arena; r != nullptr; r = NextRegion(r)) {
    for (Block *b = FirstBlock(r), *end = Sentinel(r); b < end; b = After(b)) {
      if (b->pins == 0) sum += b->size;
    }
  }
  return sum > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(sum);
}

// ---- library-internal -----------------------------------------------------------

namespace rmf::detail {

void* TagArenaNodeAt(void* arena, std::uint32_t handle) { return BlockAt(static_cast<RmfTagArena*>(arena), handle); }

std::uint32_t TagArenaHandleOf(void* arena, const void* address) {
  return HandleOf(static_cast<RmfTagArena*>(arena), address);
}

namespace {

TagBlockInfo InfoOf(Block* b) {
  TagBlockInfo info;
  info.data = DataOf(b);
  info.size = b->size;
  info.references = b->references;
  info.pins = b->pins;
  info.fixed = b->kind == kFixed;
  if (b->kind == kPurgeable) info.owner = reinterpret_cast<RmfTagOwner*>(OwnerWord(b));
  if (b->kind == kFixed) info.tag = static_cast<std::uint32_t>(OwnerWord(b));
  return info;
}

bool Fail(std::string* fault, const std::string& why) {
  if (fault != nullptr) *fault = why;
  return false;
}

}  // namespace

bool TagBlockState(RmfTagArena* arena, const void* data, TagBlockInfo* info) {
  Block* b = Validate(arena, data);
  if (b == nullptr) return false;
  if (info != nullptr) *info = InfoOf(b);
  return true;
}

bool TagArenaCheck(RmfTagArena* arena, std::vector<TagRegionReport>* regions, std::vector<void*>* lruOldestFirst,
                   std::string* fault) {
  if (!IsArena(arena)) return Fail(fault, "not an arena");
  if (regions != nullptr) regions->clear();
  if (lruOldestFirst != nullptr) lruOldestFirst->clear();
  std::uint32_t expectedBase = 0;
  std::uint32_t freeBlocks = 0;
  std::uint32_t allocatedBlocks = 0;
  int regionNumber = 0;
  for (RmfTagArena* r = arena; r != nullptr; r = NextRegion(r), ++regionNumber) {
    const std::string where = "region " + std::to_string(regionNumber) + ": ";
    if (r->magic != (r == arena ? kArenaMagic : kRegionMagic)) return Fail(fault, where + "bad magic");
    if (r->size < kTagMinRegion || (r->size & 3) != 0) return Fail(fault, where + "bad size");
    if (r->base != expectedBase) return Fail(fault, where + "handle range does not follow the previous region");
    if (r->zero != 0) return Fail(fault, where + "zero word is not 0");
    expectedBase += r->size;
    TagRegionReport report;
    report.size = r->size;
    report.headerBytes = kHeaderBytes;
    std::uint64_t accounted = kHeaderBytes + kTagBlockHeader;  // header and end sentinel
    std::uint32_t previousHandle = 0;
    bool previousFree = false;
    Block* end = Sentinel(r);
    for (Block* b = FirstBlock(r); b != end; b = After(b)) {
      const std::uint32_t offset = static_cast<std::uint32_t>(Address(b) - Address(r));
      const auto at = [&] { return where + "block at offset " + std::to_string(offset) + ": "; };
      if (b > end) return Fail(fault, at() + "runs past the end sentinel");
      if (TrailerBefore(b) != previousHandle) return Fail(fault, at() + "trailer in front does not name its predecessor");
      if (b->size < kTagBlockHeader || (b->size & 3) != 0) return Fail(fault, at() + "bad size");
      if (offset + b->size + kTagBlockTrailer > r->size - kTagBlockHeader) return Fail(fault, at() + "overlaps the sentinel");
      std::uint32_t trailer;
      std::memcpy(&trailer, Bytes(b) + b->size, sizeof(trailer));
      if (trailer != r->base + offset) return Fail(fault, at() + "own trailer is wrong");
      if (b->kind == kFree) {
        if (b->references != 0 || b->pins != 0 || OwnerWord(b) != 0) return Fail(fault, at() + "free block with counts or owner");
        if (previousFree) return Fail(fault, at() + "two free blocks side by side");
        FreeIndex index(arena);
        if (!index.contains(b)) return Fail(fault, at() + "free block missing from the free index");
        ++freeBlocks;
      } else if (b->kind == kFixed || b->kind == kPurgeable) {
        if (b->references == 0) return Fail(fault, at() + "allocated block with reference count 0");
        ++allocatedBlocks;
      } else {
        return Fail(fault, at() + "bad kind");
      }
      previousFree = b->kind == kFree;
      previousHandle = trailer;
      accounted += b->size + kTagBlockTrailer;
      report.blocks.push_back(InfoOf(b));
    }
    if (TrailerBefore(end) != previousHandle) return Fail(fault, where + "sentinel does not follow the last block");
    if (end->kind != kSentinel || end->size != 0 || end->references != 1 || end->pins != 1) {
      return Fail(fault, where + "end sentinel damaged");
    }
    if (accounted != r->size) return Fail(fault, where + "blocks do not add up to the region size");
    if (regions != nullptr) regions->push_back(std::move(report));
  }
  if (expectedBase != arena->nextBase) return Fail(fault, "next handle range is wrong");
  if (freeBlocks != arena->freeCount) return Fail(fault, "free index count differs from the free blocks");
  {
    FreeIndex index(arena);
    bool sorted = false;
    std::uint32_t freeNodes = 0;
    if (index.verify(&sorted, &freeNodes) < 0) return Fail(fault, "free index out of balance");
    if (!sorted) return Fail(fault, "free index out of order");
    if (freeNodes != freeBlocks) return Fail(fault, "free index holds blocks that are not free");
  }
  std::uint32_t listed = 0;
  std::uint32_t olderHandle = 0;
  for (Block* b = BlockAt(arena, arena->lruOldest); b != nullptr; b = BlockAt(arena, b->newer)) {
    if (++listed > allocatedBlocks) return Fail(fault, "LRU list longer than the allocated blocks (or cyclic)");
    if (b->kind != kFixed && b->kind != kPurgeable) return Fail(fault, "LRU list holds a block that is not allocated");
    if (b->older != olderHandle) return Fail(fault, "LRU back link is wrong");
    olderHandle = HandleOf(arena, b);
    if (lruOldestFirst != nullptr) lruOldestFirst->push_back(DataOf(b));
  }
  if (olderHandle != arena->lruNewest) return Fail(fault, "LRU newest end is wrong");
  if (listed != allocatedBlocks || listed != arena->allocated) return Fail(fault, "LRU list misses allocated blocks");
  return true;
}

}  // namespace rmf::detail
