// The reader: the map-format library's context record. It holds the map
// sources (one per opened *.rmf file), a pool of open file handles with a
// limit on how many are open at once, the tagged arena in which tile data is
// cached, one 64 KB read buffer shared by all sources, and the state that the
// query, feature and router code keep per reader. Every library entry point
// takes a reader and checks its magic first; a closed reader (magic 0) is
// refused everywhere.
//
// Layout on 64-bit builds: the phone counts 4-byte pointers (a source table
// of 30 entries is 120 bytes there). Here pointers are 8 bytes, so the
// record and the heap tables are larger; the arena's own figures are the same
// on every build, and the record is placed in its arena block as the tile
// cache header is: at the first 8-byte boundary of a block 4 bytes larger.
#pragma once

#include <cstdint>

#include "mapengine/format/RmfExport.h"
#include "mapengine/format/RmfTypes.h"
#include "mapengine/format/base/TiTypes.h"
#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/features/RmfQueryState.h"
#include "mapengine/format/store/RmfSource.h"
#include "mapengine/format/store/RmfTagArena.h"

inline constexpr std::uint32_t kRmfReaderMagic = 0xfadedace;
inline constexpr std::uint32_t kRmfReadBufferBytes = 65536;
inline constexpr std::int32_t kRmfDefaultOpenLimit = 10;
inline constexpr std::int32_t kRmfMaxWindowFactor = 64;   // 64 x 1 KB: the whole read buffer
inline constexpr std::int32_t kRmfDefaultWindowFactor = 8;
inline constexpr std::uint32_t kRmfFileNameBytes = 264;  // at most 263 characters and the NUL

// One file of the pool (heap; the reader's list holds every file in the
// order of adding).
struct RmfOpenFile {
  char name[kRmfFileNameBytes];  // 8-bit text, NUL-terminated
  std::int16_t age;              // 0 for the file used last; saturates at 32767
  std::uint32_t sourceNumber;    // index of the source reading this file
  void** handleCell;             // heap cell holding the platform file handle; null while closed
  RmfReader* reader;
  RmfOpenFile* next;
  RmfOpenFile* previous;
};

// A heap text buffer of the feature code.
struct RmfResultBuffer {
  std::uint8_t* bytes;
  std::uint32_t capacity;
};

// An arena block the query keeps pinned; unpinned and freed at close.
struct RmfHeldBlock {
  void* block;
  std::uint32_t word;
};

// Optional hooks of an attribute decoder (block hook, class bits, attribute
// texts and a fourth slot); the query code calls them with their real types
// when set. Nothing in the system installs them.
typedef void (*RmfHookFn)(void);

// Settings part of the query state, one contiguous block (the near-point
// search saves and restores it whole).
struct RmfQuerySettings {
  TiRect box;
  std::int32_t spare[2];
  std::int32_t levelLow;
  std::int32_t levelHigh;
  std::uint32_t filterDefaults[6];  // 256, 256, 256, 256, 256, 0 (not read by the query)
  char filterTexts[6][10];          // categories "0", "1", "2", "B", "R", "S"
  std::uint32_t classMasks[6];
};

// The routing profile: the callbacks through which the router learns what
// may be travelled. The answer types belong to the routing code.
struct RmfAttrSet;
struct RmfFeatureAnswer;
struct RmfConnectionAnswer;
typedef std::int32_t (*RmfProfileFeatureFn)(const RmfAttrSet* set, void* argument, RmfFeatureAnswer* answer,
                                            void* context);
typedef std::int32_t (*RmfProfileConnectionFn)(const RmfAttrSet* set, void* argument, RmfConnectionAnswer* answer,
                                               void* context);

struct RmfRoutingProfile {
  std::uint32_t modeFlags;  // bits 0-1
  RmfProfileFeatureFn featureCallback;
  RmfProfileConnectionFn connectionCallback;
  void* context;
  std::int32_t limit;           // 0x7fffffff after a reset
  std::uint32_t changeCounter;  // +1 on every reset and installation
};

typedef std::uint8_t* (*RmfBlockLoader)(RmfSource* source);

struct RmfReader {
  std::uint32_t magic;  // kRmfReaderMagic while alive, 0 after RmfReaderClose
  std::int32_t lastError;
  RmfSource** sources;      // heap, sourceCapacity entries
  std::uint32_t* sourceSide;  // heap, one word per source (the query's take-part flags)
  std::int32_t sourceCount;
  std::int32_t sourceCapacity;
  TiRect box;  // union of the header boxes of the sources opened from files
  std::int32_t minLevel;
  std::int32_t maxLevel;
  std::int32_t rangeState;  // 2 once a source was added
  RmfOpenFile* openFiles;   // head of the pool list
  std::int32_t openCount;
  std::int32_t openLimit;
  std::int32_t currentSource;  // index of the source being added, or destroyed during close
  RmfBlockLoader blockLoader;  // RmfSrcLoadBlock once a source was added
  RmfResultBuffer results[3];  // 60, 510, 2510 bytes, or all empty
  RmfTagArena* arena;
  std::uint32_t inArena;  // 1: this record lives in its arena
  std::uint8_t* readBuffer;  // kRmfReadBufferBytes, a fixed arena block
  std::uint32_t bufferSource;
  std::uint32_t bufferOffset;
  std::int32_t bufferLength;  // valid bytes; 0 = empty
  std::uint32_t recordLookups;
  std::uint32_t blockReads;  // reads of tile data into the read buffer
  RmfHeldBlock held[2];
  RmfHookFn attributeDecoder[4];

  // State of the query and feature code, as initialisation sets it.
  RmfQuerySettings query;
  std::int32_t querySource;        // -1 before the first source
  std::int32_t featureSettings[6];  // 7, 1, 19, 16384, 6144, 30720

  RmfRoutingProfile profile;

  // Tile data reads: neighbouring tiles are read together up to
  // windowFactor x 1 KB (0 and 1: every record by itself).
  std::int32_t windowFactor;
  std::uint32_t boxSet;  // 1 once a file-backed source gave the box
  // Regions the arena took for opens that failed: the arena cannot give a
  // region back, so they stay until the reader closes (linked through their
  // first bytes).
  void* spareRegions;

  // ---- Feature slots and the buffers of references (features/RmfFeature*) ----
  // The four feature slots; zeroed with the record, so all free at creation.
  RmfFeature featureSlots[kRmfFeatureSlots];
  // Point buffer (510 points in map units) and degree buffer (510 longitude,
  // latitude pairs): one fixed arena block, made on first use and kept until
  // the arena goes with the reader. Null until then.
  void* featureBufferBlock;
  TiPoint* featurePoints;
  double* featureDegrees;
  // Reference array of RmfFeatureRefSplit: a fixed arena block grown to the
  // longest split asked for (entries of 16 bytes on every build).
  void* splitBlock;
  RmfFeatureRef* splitRefs;
  std::int32_t splitCapacity;

  // ---- Feature query, clipping and area rings (features/RmfQuery*, RmfClip) ----
  // The query's state machine, point run, crossing and area tables and degree
  // buffer; zeroed with the record (no query running). The query's settings
  // are `query` above.
  RmfQueryWork queryWork;
};

// Builds an arena on the caller's memory, places the reader in it, and
// allocates the read buffer from it. Null when the memory is too small.
RMF_API RmfReader* RmfReaderCreateInArena(void* memory, std::uint32_t size);
// A reader on the heap, without an arena until RmfReaderOpen gets arena bytes.
RMF_API RmfReader* RmfReaderCreate();
// Initialises a zeroed record: 0, or -128 for null.
RMF_API std::int32_t RmfReaderInit(RmfReader* reader);
// Sets the open-file limit to max(n, 1) and returns it; -2 for a bad reader.
RMF_API std::int32_t RmfReaderSetMaxOpenFiles(RmfReader* reader, std::int32_t n);
// Sets the read window factor to n held to 0..64 and returns it; -2 for a bad reader.
RMF_API std::int32_t RmfReaderSetWindowFactor(RmfReader* reader, std::int32_t n);
// Opens a map file: the number of sources (> 0), or 0 or a negative code
// (also left in lastError): 0 with lastError -4 when the file cannot be
// opened, -2 for a null name (result 0), -3 no memory (or arenaBytes <= 0
// without an arena), -5 a header that is rejected or too short, -128 a
// malformed vehicle list. arenaBytes > 0 adds that much heap memory to the
// arena (or builds the arena on it).
RMF_API std::int32_t RmfReaderOpen(RmfReader* reader, const char* name, std::int32_t arenaBytes);
// Opens a file into the pool and adds its source; results as RmfReaderOpen.
// `region` (optional) goes to the source when the open succeeds.
RMF_API std::int32_t RmfReaderOpenFile(RmfReader* reader, const char* name, void* region,
                                       const RmfSourceDescription* description);
// Adds a source read through `read`: the number of sources, or 0 / a
// negative code (also in lastError). On failure `region` stays the caller's.
RMF_API std::int32_t RmfReaderAddSource(RmfReader* reader, void* context, RmfReadFn read, void* region,
                                        const RmfSourceDescription* description);
// Closes every file, destroys the sources, frees the heap parts and marks the
// reader closed; a heap reader's record is freed too.
RMF_API void RmfReaderClose(RmfReader* reader);

// The file pool.
// Opens the entry's file: 1, 0 when it cannot be opened (lastError -4), -2 for
// a bad entry. Ages the open files.
RMF_API std::int32_t RmfFileOpen(RmfOpenFile* entry);
// Closes the entry's handle, unlinks it from the pool and frees it.
RMF_API void RmfFileClose(RmfOpenFile* entry);
// Reads `length` bytes at `offset`, reopening the file when it is closed
// (after closing the least recently used one when the pool is full): bytes
// read, or -1 when the file cannot be opened.
RMF_API std::int32_t RmfFileRead(RmfOpenFile* entry, std::uint32_t offset, std::uint32_t length, void* buffer);

// The pool entry whose source number is `id`, or null.
RMF_API RmfOpenFile* SrcFindSourceByFeatSource(RmfReader* reader, std::uint32_t id);
// Index of the first source with that permanent id; -1 when none, -2 for a bad reader.
RMF_API std::int32_t SrcPermID2Num(RmfReader* reader, std::uint32_t permanentId);
// Permanent id of the source at `index`; 0 for a bad reader or index.
RMF_API std::uint32_t SrcNum2PermID(RmfReader* reader, std::int32_t index);

// Resets the routing profile: 0, or -1 for a bad reader.
RMF_API std::int32_t RmfProfileReset(RmfReader* reader);
