// The reader: creating and closing the map-format library's context record,
// opening map files into it as map sources (one per opened *.rmf file), the
// pool of open file handles with a limit on how many are open at once, and
// the routing profile's reset. The record itself, with the tagged arena in
// which tile data is cached, the 64 KB read buffer shared by all sources and
// the state that the query, feature and router code keep per reader, is
// plain state in mapengine/format/RmfReaderRecord.h.
#pragma once

#include <cstdint>

#include "mapengine/format/RmfExport.h"
#include "mapengine/format/RmfReaderRecord.h"
#include "mapengine/format/RmfResult.h"
#include "mapengine/format/store/RmfSource.h"

// Builds an arena on the caller's memory, places the reader in it, and
// allocates the read buffer from it. Null when the memory is too small.
RMF_API_NODISCARD RmfReader* RmfReaderCreateInArena(void* memory, std::uint32_t size);
// A reader on the heap, without an arena until RmfReaderOpen gets arena bytes.
RMF_API_NODISCARD RmfReader* RmfReaderCreate();
// Initialises a zeroed record: 0, or kRmfMalformed (-128) for null.
RMF_API_NODISCARD std::int32_t RmfReaderInit(RmfReader* reader);
// Sets the open-file limit to max(n, 1) and returns it; kRmfBadArgument (-2)
// for a bad reader.
RMF_API std::int32_t RmfReaderSetMaxOpenFiles(RmfReader* reader, std::int32_t n);
// Sets the read window factor to n held to 0..64 and returns it;
// kRmfBadArgument (-2) for a bad reader.
RMF_API std::int32_t RmfReaderSetWindowFactor(RmfReader* reader, std::int32_t n);
// Opens a map file: the number of sources (> 0), or 0 or a negative code (also
// left in lastError): 0 with lastError kRmfCannotOpen (-4) when the file cannot
// be opened, kRmfBadArgument (-2) for a null name (result 0), kRmfNoMemory (-3)
// no memory (or arenaBytes <= 0 without an arena), kRmfHeaderRejected (-5) a
// header that is rejected or too short, kRmfMalformed (-128) a malformed vehicle
// list. arenaBytes > 0 adds that much heap memory to the arena (or builds the
// arena on it).
RMF_API_NODISCARD std::int32_t RmfReaderOpen(RmfReader* reader, const char* name, std::int32_t arenaBytes);
// Opens a file into the pool and adds its source; results as RmfReaderOpen.
// `region` (optional) goes to the source when the open succeeds.
RMF_API_NODISCARD std::int32_t RmfReaderOpenFile(RmfReader* reader, const char* name, void* region,
                                                 const RmfSourceDescription* description);
// Adds a source read through `read`: the number of sources, or 0 / a
// negative code (also in lastError). On failure `region` stays the caller's.
RMF_API_NODISCARD std::int32_t RmfReaderAddSource(RmfReader* reader, void* context, RmfReadFn read, void* region,
                                                  const RmfSourceDescription* description);
// Closes every file, destroys the sources, frees the heap parts and marks the
// reader closed; a heap reader's record is freed too.
RMF_API void RmfReaderClose(RmfReader* reader);

// The file pool.
// Opens the entry's file: 1, 0 when it cannot be opened (lastError
// kRmfCannotOpen, -4), kRmfBadArgument (-2) for a bad entry. Ages the open
// files.
RMF_API_NODISCARD std::int32_t RmfFileOpen(RmfOpenFile* entry);
// Closes the entry's handle, unlinks it from the pool and frees it.
RMF_API void RmfFileClose(RmfOpenFile* entry);
// Reads `length` bytes at `offset`, reopening the file when it is closed
// (after closing the least recently used one when the pool is full): bytes
// read, or -1 when the file cannot be opened.
RMF_API_NODISCARD std::int32_t RmfFileRead(RmfOpenFile* entry, std::uint32_t offset, std::uint32_t length,
                                           void* buffer);

// The pool entry whose source number is `id`, or null.
RMF_API_NODISCARD RmfOpenFile* SrcFindSourceByFeatSource(RmfReader* reader, std::uint32_t id);
// Index of the first source with that permanent id; -1 when none,
// kRmfBadArgument (-2) for a bad reader.
RMF_API_NODISCARD std::int32_t SrcPermID2Num(RmfReader* reader, std::uint32_t permanentId);
// Permanent id of the source at `index`; 0 for a bad reader or index.
RMF_API_NODISCARD std::uint32_t SrcNum2PermID(RmfReader* reader, std::int32_t index);

// Resets the routing profile: 0, or -1 for a bad reader.
RMF_API_NODISCARD std::int32_t RmfProfileReset(RmfReader* reader);
