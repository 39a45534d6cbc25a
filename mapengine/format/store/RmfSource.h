// Map sources: one opened map file (or any other byte source) inside a
// reader. A source decodes the file's header and annotation block, keeps a
// sample table over the tile index, and finds and loads tile records on
// demand: index chunks, offset chunks and the records themselves go into
// three tile caches whose blocks live in the reader's arena and may be
// evicted at any allocation. For a feature query it walks the tile-id ranges
// that cover the query area and hands out one record after the other; the
// feature code fetches single records by tile id and sequence.
//
// Nothing read from a file is trusted. Index entries must be valid runs of
// one tile level, in ascending order without overlap, inside the offset
// table; offsets must not run backwards; records must frame inside their
// tile's data, and every record that enters the cache has its tables,
// vertex words and texts inside it (see the record checks in
// RmfSourceRecords.cpp). Anything else is a failed read: the source's read
// error is set and the record or tile is absent.
#pragma once

#include <cstdint>

#include "mapengine/format/RmfExport.h"
#include "mapengine/format/RmfResult.h"
#include "mapengine/format/base/TiTypes.h"
#include "mapengine/format/store/RmfFileFormat.h"
#include "mapengine/format/store/RmfTile.h"
#include "mapengine/format/store/RmfTileCache.h"

struct RmfReader;

// How a source reads bytes: `count` bytes at file offset `offset` into
// `destination`; returns the number of bytes read (0 or less: nothing).
// `flags` is always 0.
typedef std::int32_t (*RmfReadFn)(void* context, std::uint32_t offset, std::uint32_t count, void* destination,
                                  std::int32_t flags);

inline constexpr std::uint32_t kRmfHeaderReadBytes = 500;

// A prepared description: what opening a file would read from it, handed in
// instead (RmfReaderOpenFile / RmfReaderAddSource with a description, opened
// by RmfSrcOpenWithInfo without reading the file). The reader copies it, the
// annotation bytes included; the source owns the copy.
struct RmfSourceDescription {
  std::uint32_t permanentId;   // 0: index + 1
  std::uint32_t headerLength;  // bytes of `header` that hold the file's first bytes
  std::uint8_t header[kRmfHeaderReadBytes];
  std::uint32_t annotationLength;
  const std::uint8_t* annotations;  // annotationLength bytes of the annotation block
};

// Walk states of RmfSrcLoadBlock.
enum RmfWalkState : std::int32_t {
  kRmfWalkIdle = 0,
  kRmfWalkStart = 1,
  kRmfWalkNextRange = 2,
  kRmfWalkSeekIndex = 3,
  kRmfWalkNextTile = 4,
  kRmfWalkNextRecord = 5,
};

// The owner record of holders that attach references to cached records
// (RmfRecordRelease checks its magic).
inline constexpr std::uint32_t kRmfRecordOwnerMagic = 0xfade2ace;
struct RmfRecordOwner {
  std::uint32_t magic;  // kRmfRecordOwnerMagic
  RmfReader* reader;
};

// One source. A heap record (RmfSrcF1), never in the arena, so its pointer
// fields cost nothing in the arena's accounting on 64-bit builds.
struct RmfSource {
  // How bytes are read. While RmfSrcOpen reads the header these go through
  // the reader's read buffer; afterwards they are the raw pair below.
  void* readContext;
  RmfReadFn read;
  std::uint32_t fileBacked;  // 1: readContext is the reader's RmfOpenFile entry
  void* rawContext;
  RmfReadFn rawRead;

  // Query settings.
  TiRect queryRect;
  std::uint32_t queryRectSet;
  std::int32_t queryMinLevel;
  std::int32_t queryMaxLevel;
  std::uint32_t queryLevelsSet;

  // The range being walked and the ranges of the query area.
  std::uint32_t rangeFirst;
  std::uint32_t rangeLast;
  std::uint32_t atRangeEnd;  // 1 when the record's tile is the first or last of its range
  std::int32_t rangeCount;
  std::int32_t rangeCurrent;  // -1 before the first
  std::int32_t rangeCapacity;
  RmfTileRange* ranges;  // heap, rangeCapacity entries
  // Query polygon set by the query code (heap array of points, std::free'd
  // with the source). When it holds at least one point the ranges cover it,
  // otherwise they cover the query rectangle.
  TiPoint* queryArea;
  std::int32_t queryAreaCount;

  std::int32_t index;  // position in the reader's source table
  RmfReader* reader;
  void* region;  // heap region this source's open gave the arena; std::free'd with the source
  std::uint32_t readError;  // 1 after a failed read of tile data (cleared when a walk starts)
  std::int32_t walkState;   // RmfWalkState

  // The record last returned by the walk.
  std::uint32_t currentTile;
  std::uint32_t recordTile;
  std::uint32_t recordLength;  // its stored length (the step to the next record in the file)
  std::uint16_t recordSequence;
  std::uint8_t* record;
  std::uint32_t recordOffset;   // file offset of the record (0 when it came from the cache only)
  std::uint32_t tileEndOffset;  // end of its tile's data

  rmf::RmfFileHeader header;
  std::int32_t minLevel;  // detail levels whose mask is not 0
  std::int32_t maxLevel;

  // The walk's index entry.
  std::uint32_t indexCursor;
  std::uint32_t entryFirst;
  std::uint32_t entryLast;
  std::uint32_t entryPosition;
  std::uint32_t entryValid;

  std::uint32_t sampleLoaded;
  rmf::RmfSampleTable samples;
  std::int32_t sampleCursor;  // the walk's sample group

  std::uint32_t permanentId;
  std::uint16_t featureEntrySize;  // 12 or 10 by header flags bit 0
  rmf::RmfAnnotations annotations;  // heap copy of the block; the values point into it
  RmfSourceDescription* description;  // heap copy, only for sources opened from one

  RmfTileCache indexCache;
  RmfTileCache offsetCache;
  RmfTileCache recordCache;
  std::uint32_t cachesReady;

  // Last entry found by a lookup (RmfSrcGetBlock), kept apart from the
  // walk's entry so that lookups between two walk steps do not move the walk.
  std::uint32_t hintValid;
  std::uint32_t hintIndex;
  rmf::RmfIndexEntry hintEntry;
};

// A zeroed source with an empty range list of capacity 200; null without memory.
RMF_API_NODISCARD RmfSource* RmfSrcF1();
// Frees the range list, query polygon, annotations, description, region and
// the source. Cached blocks are not touched: the arena they live in goes with
// the reader (RmfReaderAddSource drops them itself when an open fails).
RMF_API void RmfSrcF2(RmfSource* source);
// Sets up a source without a file: reads nothing, no annotations, no index
// (a sample table of one empty group whose last id is 0x7fffffff), levels
// 1..topLevel (held to 1..8), the box spanned by both corners, header flags =
// flags bits 0-7 and header byte 6 = flags bits 8-15, and the level masks
// (null: all 0). Caches are set up when the source has a reader with an
// arena. 1, or 0 for a null source.
RMF_API_NODISCARD std::int32_t RmfSrcF3(RmfSource* source, std::int32_t x1, std::int32_t y1, std::int32_t x2,
                                        std::int32_t y2, std::uint32_t flags, std::int32_t topLevel,
                                        const std::uint16_t* levelMasks);
// Next record of the walk among the records already cached, without reading.
RMF_API_NODISCARD std::uint8_t* RmfSrcF4(RmfSource* source);
// Query level range min(a, b) .. max(a, b).
RMF_API void RmfSrcF5(RmfSource* source, std::int32_t a, std::int32_t b);
// Nearest tile id the index covers: direction >= 1 the least covered id >= tile,
// direction < 1 the greatest covered id <= tile; 0xFFFFFFFF (-1) when none.
RMF_API_NODISCARD std::uint32_t RmfSrcF6(RmfSource* source, std::uint32_t tile, std::int32_t direction);

// Reads and checks the header, sets up the caches, reads the annotations and
// builds the sample table. 1; 0 when the file is shorter than a header;
// kRmfCannotOpen (-4) nothing read, kRmfHeaderRejected (-5) header rejected
// (also for an index without entries), kRmfNoMemory (-3) no memory,
// kRmfMalformed (-128) a malformed vehicle list, kRmfBadArgument (-2) a source
// without a live reader with an arena.
RMF_API_NODISCARD std::int32_t RmfSrcOpen(RmfSource* source, void* context, RmfReadFn read);
// The same from source->description, without reading: 1 or a negative code
// (a header shorter than 126 bytes is kRmfHeaderRejected (-5) here).
RMF_API_NODISCARD std::int32_t RmfSrcOpenWithInfo(RmfSource* source, void* context, RmfReadFn read);

// Query rectangle spanned by both corners.
RMF_API void RmfSrcSetRect(RmfSource* source, std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2);
// Starts a walk: state 1 when rectangle and levels are set, the rectangle
// meets the source's box and the levels meet 1..8; else state 0. Returns the
// state. Clears the read error.
RMF_API std::int32_t RmfSrcStartQuery(RmfSource* source);
// Next record of the walk (its uncompressed form, length word first), reading
// what is missing; null at the end or on a failed read (read error set).
// Valid until the next allocation in the reader's arena.
RMF_API_NODISCARD std::uint8_t* RmfSrcLoadBlock(RmfSource* source);
// One record by tile id and sequence. With offset >= 1 the record is read at
// that file offset; without, the tile is looked up in the index and its
// records are followed from the tile's start to the sequence. *nextOffset
// (optional) gets the file offset of the next record of the tile, 1 when one
// follows but its offset is unknown (a cache hit without offset), 0 when none.
RMF_API_NODISCARD std::uint8_t* RmfSrcGetBlock(RmfSource* source, std::uint32_t tile, std::uint16_t sequence,
                                               std::uint32_t offset, std::uint32_t* nextOffset);
// One record of `tile` at file offset `offset` within the tile's data ending
// at `end`, through the record cache and the read buffer; with a window
// factor of 2 or more (and sequence 0) neighbouring tiles of the same level
// are read with it, factor x 1 KB at most. *storedLength (optional) gets the
// record's stored length. Null when the record is empty or cannot be read
// (then the read error is set).
RMF_API_NODISCARD std::uint8_t* RmfSrcGetRecord(RmfSource* source, std::uint32_t tile, std::uint16_t sequence,
                                                std::uint32_t offset, std::uint32_t end, std::int32_t factor,
                                                std::uint32_t* storedLength);
// Reads through the reader's 64 KB read buffer with the source's raw read
// function: bytes copied (0 when none).
RMF_API_NODISCARD std::int32_t RmfSrcReadAt(RmfSource* source, std::uint32_t offset, std::uint32_t length,
                                            void* destination);

// Lists the (tile id, key word) pairs of cached records in key order into
// pairs[0..2n-1]; the key word is source | sequence << 16. Starts at the least
// key, or at the record with the key of `start` (tile id and sequence;
// kRmfBadArgument (-2) when not cached). *restCount (optional) gets the number
// of records beyond n and *restFirst (optional) the first of them (null when
// none). Returns the number listed; kRmfBadArgument (-2) for a missing cache,
// arena or output, or n < 1.
RMF_API_NODISCARD std::int32_t listCacheRecords(RmfTileCache* cache, const RmfRecordKey* start, std::uint32_t* pairs,
                                                std::int32_t n, std::int32_t* restCount, void** restFirst);
// Unlinks one reference from its cached record: 1, 0 when the record or the
// link is gone, kRmfBadArgument (-2) unless `owner` is an RmfRecordOwner (magic
// 0xfade2ace) and the reference's guard says linked. The guard says released
// afterwards.
RMF_API_NODISCARD std::int32_t RmfRecordRelease(void* owner, void* reference);
