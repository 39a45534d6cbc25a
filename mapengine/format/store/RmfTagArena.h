// The tagged arena allocator: manages memory that its caller hands over in
// one or more regions, and serves fixed blocks (kept until freed) and
// purgeable blocks (owned by an owner record and evicted, least recently used
// first, whenever an allocation does not fit). Reference and pin counts
// protect blocks in use. The arena never allocates memory of its own and has
// no destroy operation: the regions go back to the caller when it stops using
// the arena.
//
// Accounting (the same on every build): a request is rounded up to a multiple
// of 4 bytes (n) and costs n + 40 bytes of the region (36 of block header,
// 4 of trailer). Data pointers are aligned to 4 bytes, as on the 32-bit
// target: 8-byte alignment would cost up to 4 more bytes per block and change
// the figures above. Callers copy 64-bit values in and out (memcpy); a record
// with pointer members is placed at the first 8-byte boundary of a block
// 4 bytes larger (as RmfTcT1 does with a cache header).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mapengine/format/RmfExport.h"
#include "mapengine/format/RmfResult.h"

// The arena: its first region's header (layout in RmfTagArena.cpp).
struct RmfTagArena;

struct RmfTagOwner;

// Release function of an owner record. The arena calls it as
// (data, null, context, owner) to ask for a purgeable block back: the owner
// removes the block from its own index, detaches itself (RmfTagT12) and frees
// the block (RmfTagT5); a negative answer refuses. Caches use the same
// function for their own insert (null, block) and move (old, new) events.
typedef std::int32_t (*RmfTagRelease)(void* block, void* newBlock, void* context, RmfTagOwner* owner);

struct RmfTagOwner {
  RmfTagRelease release;
  void* context;
};

// Builds an arena on the caller's memory: aligned up to 4 bytes (the size
// shrinks by the bytes skipped) and cut down to a multiple of 4. Null below
// 512 bytes.
RMF_API_NODISCARD RmfTagArena* RmfTagT1(void* memory, std::uint32_t size);
// Adds a further region. 1, or kRmfTagBadArgument (-202) for a bad arena, a
// region below 512 bytes, an overlap with a region of the arena, or more than
// 4 GB in all.
RMF_API_NODISCARD std::int32_t RmfTagT2(RmfTagArena* arena, void* memory, std::uint32_t size);
// Purgeable block (reference count 1, pin count 0) of the owner record, which
// must outlive the block. Null when nothing fits after evicting all it can.
RMF_API_NODISCARD void* RmfTagT3(RmfTagArena* arena, std::uint32_t bytes, RmfTagOwner* owner);
// Fixed block (reference count 1, pin count 1) marked with the tag.
RMF_API_NODISCARD void* RmfTagT4(RmfTagArena* arena, std::uint32_t bytes, std::uint32_t tag);
// Frees a block: 1, 0 when already free, kRmfTagBadArgument (-202),
// kRmfTagInUse (-203) in use, kRmfTagRefused (-206) refused by its owner. A
// block with an owner is not freed here: its owner is asked.
RMF_API_NODISCARD std::int32_t RmfTagT5(RmfTagArena* arena, void* data);
// Pin: the new pin count or a code.
RMF_API_NODISCARD std::int32_t RmfTagT6(RmfTagArena* arena, void* data);
// Add a reference: the new reference count or a code.
RMF_API_NODISCARD std::int32_t RmfTagT7(RmfTagArena* arena, void* data);
// Unpin: the new pin count or a code.
RMF_API_NODISCARD std::int32_t RmfTagT8(RmfTagArena* arena, void* data);
// Drop a reference (never below 1): the new reference count or a code.
RMF_API_NODISCARD std::int32_t RmfTagT9(RmfTagArena* arena, void* data);
// Touch: mode 1 makes the block the newest, -1 the oldest. 1 or a code.
RMF_API std::int32_t RmfTagT10(RmfTagArena* arena, void* data, std::int32_t mode);
// Evicts the least recently used block that is neither pinned nor referenced
// twice: the result of freeing it, 0 when nothing is evictable,
// kRmfTagBadArgument (-202). A block whose owner refuses (or keeps it) moves to
// the newest end, so the next eviction tries another; an allocation gives up
// once every block has refused.
RMF_API_NODISCARD std::int32_t RmfTagT11(RmfTagArena* arena);
// Detaches the owner so that the next RmfTagT5 frees the block itself. 1, 0 for
// a free block, kRmfTagBadArgument (-202), kRmfTagInUse (-203) when pinned or
// referenced twice.
RMF_API_NODISCARD std::int32_t RmfTagT12(RmfTagArena* arena, void* data);
// Bytes in blocks with pin count 0 (free and unpinned ones, headers
// included, trailers not) over all regions; kRmfTagBadArgument (-202).
RMF_API_NODISCARD std::int32_t RmfTagT13(RmfTagArena* arena);

// Library-internal: handles, block state and the consistency check.
namespace rmf::detail {

// Block figures of the accounting.
inline constexpr std::uint32_t kTagBlockHeader = 36;
inline constexpr std::uint32_t kTagBlockTrailer = 4;
inline constexpr std::uint32_t kTagMinRegion = 512;

// The arena's 32-bit handle of an address inside one of its regions, and
// back (0 for none either way). Shaped as tree link functions so that a
// TiBtiTree of arena blocks can use 32-bit links (TiBtiInitLinked32).
void* TagArenaNodeAt(void* arena, std::uint32_t handle);
std::uint32_t TagArenaHandleOf(void* arena, const void* address);

struct TagBlockInfo {
  void* data = nullptr;
  std::uint32_t size = 0;  // header + data bytes
  std::uint16_t references = 0;
  std::uint16_t pins = 0;
  bool fixed = false;
  RmfTagOwner* owner = nullptr;  // purgeable blocks
  std::uint32_t tag = 0;         // fixed blocks
};

// State of the block whose data pointer is given; false when the arena holds
// no such block.
bool TagBlockState(RmfTagArena* arena, const void* data, TagBlockInfo* info);

struct TagRegionReport {
  std::uint32_t size = 0;         // region bytes after alignment
  std::uint32_t headerBytes = 0;  // region header, zero word included
  std::vector<TagBlockInfo> blocks;  // in address order, free ones with references 0
};

// Walks every region and checks the arena's invariants: blocks back to back
// with correct trailers, every free block in the free index and none next to
// another, the index balanced and sorted, the LRU list linking every
// allocated block once in both directions, and header + blocks + trailers +
// end sentinel adding up to each region's size. Returns false with a
// description of the first fault found.
bool TagArenaCheck(RmfTagArena* arena, std::vector<TagRegionReport>* regions, std::vector<void*>* lruOldestFirst,
                   std::string* fault);

}  // namespace rmf::detail
