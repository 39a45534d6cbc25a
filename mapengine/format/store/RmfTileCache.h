// The tile record cache: purgeable arena blocks indexed by a key that the
// cache's owner defines. Each map source keeps three (index chunks, offset
// chunks, tile records). The cache header is also the owner record of its
// blocks, so the arena can ask the cache to give a block back when memory
// runs short. Records are kept uncompressed; compressed records are inflated
// once, on the way in.
//
// A cached block is its key followed by its payload. The key begins with a
// 32-bit-linked tree node (TiBtiNode32, 16 bytes) whose links are arena
// handles, so a record key is 32 bytes on every build.
#pragma once

#include <cstdint>

#include "mapengine/format/RmfExport.h"
#include "mapengine/format/RmfResult.h"
#include "mapengine/format/base/TiBti.h"
#include "mapengine/format/store/RmfTagArena.h"

// Cache header. `owner` (callback, context) is the owner record the arena
// calls for every block of the cache; the callback also receives the cache's
// own insert (null, block) and move (old, new) events:
//   (null, block): insert the block into the tree; negative when it cannot;
//   (block, null): give the block back (look it up, detach, unlink, free);
//                  1 with the block kept when it is in use;
//   (old, new):    the block moved; relink its tree node.
// The context goes to the callback and to the key compare function; it is
// the header itself unless the owner gives another.
struct RmfTileCache {
  RmfTagArena* arena;
  RmfTagOwner owner;
  TiBtiTree tree;
};

// Key of index-chunk and offset-chunk blocks; ordered by source, then first
// position, then count (both signed).
struct RmfChunkKey {
  TiBtiNode32 node;
  std::int32_t first;
  std::int32_t count;
  std::uint16_t source;
  std::uint16_t spare;
};
static_assert(sizeof(RmfChunkKey) == 28);

// Key of tile-record blocks; ordered by tile id (unsigned), then sequence.
// `references` is the arena handle of the first reference that holders have
// attached to the record (0 = none); a record is stored with none.
struct RmfRecordKey {
  TiBtiNode32 node;
  std::uint32_t tileId;
  std::uint16_t source;
  std::uint16_t sequence;
  std::uint32_t storedLength;
  std::uint32_t references;
};
static_assert(sizeof(RmfRecordKey) == 32, "tile records are cached under a 32-byte key");

// Header of a reference that a holder keeps to a cached record. It sits at
// the start of an arena block that the holder owns: when the record is given
// back, the reference is unlinked and the holder's release function is
// called with the block, so the holder gives up what it derived from the
// record. The guard is kRmfReferenceLinked while linked, kRmfReferenceReleased
// afterwards, so a second release is refused.
struct RmfRecordReference {
  std::uint32_t guard;
  std::uint32_t next;  // arena handle of the next reference of the same record
  std::uint32_t tileId;
  std::uint16_t source;
  std::uint16_t sequence;
};
static_assert(sizeof(RmfRecordReference) == 16);

inline constexpr std::uint32_t kRmfReferenceLinked = 0xbeefcafe;
inline constexpr std::uint32_t kRmfReferenceReleased = 0xacefaced;

// Initialises a header in place: the tree result (1), or -1 when the arena,
// callback or compare is missing (the header is not touched then).
RMF_API_NODISCARD std::int32_t tcHdrInitLocal(RmfTileCache* cache, RmfTagArena* arena, RmfTagRelease callback,
                                              TiBtiCompare compare, void* context);
// Allocates a header as a fixed arena block and initialises it; null when
// the arena has no room or the initialisation fails (the block is freed).
// The header sits at the first 8-byte boundary of its block (arena blocks are
// 4-aligned and the header holds pointers).
RMF_API_NODISCARD RmfTileCache* RmfTcT1(RmfTagArena* arena, RmfTagRelease callback, TiBtiCompare compare,
                                        void* context);
// Stores one record: a purgeable block of keyLength + rawLength bytes holding
// a copy of the key and the record's uncompressed form (its u16 length word
// first). Plain: source points at the record and its length word must equal
// rawLength. Compressed: source points at the record's raw-length word (which
// must equal rawLength), followed by storedLength - 4 bytes of zlib data that
// must inflate to exactly rawLength - 2 bytes. Returns the block, the block
// already cached under the same key, or null: no room, a raw length below 2,
// a stored length below 4, a length word that disagrees, damaged zlib data,
// or a refused insert. A failed store leaves nothing behind, and nothing is
// read beyond source + rawLength (plain) or source + storedLength - 2.
RMF_API_NODISCARD void* RmfTcT2(RmfTileCache* cache, const void* key, std::uint32_t keyLength, const void* source,
                                std::int32_t compressed, std::uint32_t storedLength, std::uint32_t rawLength);
// Finds a block by key and makes it the newest in the arena's LRU list; null
// when absent.
RMF_API_NODISCARD void* RmfTcT3(RmfTileCache* cache, const void* key);

// Library-internal: the compare functions and callbacks the sources install,
// and the reference chain of tile records.
namespace rmf::detail {

std::int32_t TcCompareChunkKeys(const void* key, const void* node, void* context, std::int32_t mode);
std::int32_t TcCompareRecordKeys(const void* key, const void* node, void* context, std::int32_t mode);

// Callback of the index-chunk and offset-chunk caches.
std::int32_t TcChunkCallback(void* block, void* newBlock, void* context, RmfTagOwner* owner);
// Callback of the tile-record cache. Giving one record back gives back every
// record of the same tile id that is not in use (pinned or referenced
// twice): each one's references are released and their holders called, then
// it is detached, unlinked and freed.
std::int32_t TcRecordCallback(void* block, void* newBlock, void* context, RmfTagOwner* owner);

// The cache whose owner record this is.
RmfTileCache* TcOfOwner(RmfTagOwner* owner);

// Links a reference (the start of an arena block) into a cached record's chain.
// 1, or kRmfBadArgument (-2) for a missing argument or memory outside the
// arena.
std::int32_t TcAttachReference(RmfTileCache* recordCache, void* record, void* reference);
// Unlinks a reference from its record in this record cache: 1 unlinked, 0 when
// the record or the link is not found, kRmfBadArgument (-2) when the guard does
// not say linked. The guard says released afterwards in both first cases.
std::int32_t TcReleaseReference(RmfTileCache* recordCache, void* reference);

}  // namespace rmf::detail
