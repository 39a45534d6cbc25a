// Library-internal pieces shared by the source files: index entries and their
// checks, tile lookups, offsets and the reader state they touch. The reader
// check and the word loads they share with the rest of the library are in
// mapengine/format/RmfInternal.h.
#pragma once

#include <cstdint>

#include "mapengine/format/RmfInternal.h"
#include "mapengine/format/store/RmfReader.h"
#include "mapengine/format/store/RmfSource.h"

namespace rmf::detail {

inline constexpr std::uint32_t kIndexChunkEntries = 170;
inline constexpr std::uint32_t kOffsetChunkEntries = 512;
inline constexpr std::uint32_t kOffsetChunkLead = 20;  // entries read before the wanted one
inline constexpr std::uint32_t kNoTile = 0xFFFFFFFFu;
// Offset-table positions are kept in signed 32-bit chunk keys.
inline constexpr std::uint32_t kMaxTablePosition = 0x7ffffffe;

// A source that can read tile data: a live reader with its arena and read
// buffer, and caches set up.
inline bool SourceReady(const RmfSource* source) {
  return source != nullptr && ReaderAlive(source->reader) && source->reader->arena != nullptr &&
         source->reader->readBuffer != nullptr && source->cachesReady != 0;
}

// An index entry and where it sits in the index.
struct EntryRef {
  std::uint32_t index = 0;
  rmf::RmfIndexEntry entry{};
};

enum class Load { kLoaded, kEnd, kError };

// Reads up to `count` bytes through the source's current read function;
// the bytes read (never more than asked, 0 for nothing or a failure).
std::uint32_t SourceRead(RmfSource* source, std::uint64_t offset, std::uint32_t count, void* destination);

// Index entry `i`, checked on its own (a run of valid ids of one level
// inside the offset table), against its sample group when the table is
// loaded, and against `previous` (the entry before it) when given. kEnd past
// the last entry; kError (read error set) when it cannot be read or fails a
// check.
Load LoadEntry(RmfSource* source, std::uint32_t i, const rmf::RmfIndexEntry* previous, rmf::RmfIndexEntry* entry);
// The same for a walk over consecutive entries: *chunk (null at the start)
// is the cached index chunk the walk read its last entry from, used again
// while it holds entry i instead of being looked up in the cache for every
// entry, and set to the chunk entry i came from. Valid only while nothing
// but the walk's own loads touches the source's caches.
Load LoadEntry(RmfSource* source, std::uint32_t i, const rmf::RmfIndexEntry* previous, rmf::RmfIndexEntry* entry,
               const void** chunk);

// Builds the sample table when it is not loaded: true when it is.
bool EnsureSamples(RmfSource* source);

// The entry covering tile t: 1 found, 0 not covered, -1 error (read error set).
std::int32_t LocateTile(RmfSource* source, std::uint32_t t, EntryRef* found);

// The walk's entry as an EntryRef.
EntryRef WalkEntry(const RmfSource* source);

// File offsets of tile t's data [*begin, *end) within entry `e`: 1; 0 when
// `read` is false and they are not cached; -1 on a failed read or backwards
// offsets (read error set).
std::int32_t TileOffsets(RmfSource* source, const EntryRef& e, std::uint32_t t, bool read, std::uint32_t* begin,
                         std::uint32_t* end);

// Frees every cached block of the source's three caches (for a source that is
// destroyed while the reader and its arena live on).
void DropCachedBlocks(RmfSource* source);

// Whether the reader's read buffer holds [offset, offset + length) of the source.
bool BufferHolds(const RmfSource* source, std::uint64_t offset, std::uint64_t length);

}  // namespace rmf::detail
