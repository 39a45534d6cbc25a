// The reader record: the map-format library's context record and every
// piece of state it holds, as plain data and nothing else. Each layer of the
// library keeps its per-reader state here (the file pool, read buffer and
// held blocks of the store; the feature slots, query settings and query work
// area of the feature code; the routing profile), so the record sits at the
// bottom of the library and each layer includes it without including the
// layer above. The functions on the record live with their layer:
// store/RmfReader.h creates, opens and closes a reader.
//
// Every library entry point takes a reader and checks its magic first; a
// closed reader (magic 0) is refused everywhere.
//
// Layout on 64-bit builds: the phone counts 4-byte pointers (a source table
// of 30 entries is 120 bytes there). Here pointers are 8 bytes, so the
// record and the heap tables are larger; the arena's own figures are the same
// on every build, and the record is placed in its arena block as the tile
// cache header is: at the first 8-byte boundary of a block 4 bytes larger.
// The query's tables have the phone's sizes (510 points, 500 crossings of 20
// bytes, 100 open areas, 10 candidates); only their few pointers (block,
// cancel flag, filter callback and its context) are 8 bytes instead of 4.
#pragma once

#include <cstdint>

#include "mapengine/format/RmfTypes.h"
#include "mapengine/format/base/TiTypes.h"
#include "mapengine/format/store/RmfFileFormat.h"

struct RmfReader;
struct RmfSource;
struct RmfTagArena;
struct RmfAttrSet;
struct RmfFeatureAnswer;
struct RmfConnectionAnswer;

// ---- the reader's own figures -------------------------------------------------------------------

inline constexpr std::uint32_t kRmfReaderMagic = 0xfadedace;
inline constexpr std::uint32_t kRmfReadBufferBytes = 65536;
inline constexpr std::int32_t kRmfDefaultOpenLimit = 10;
inline constexpr std::int32_t kRmfMaxWindowFactor = 64;   // 64 x 1 KB: the whole read buffer
inline constexpr std::int32_t kRmfDefaultWindowFactor = 8;
inline constexpr std::uint32_t kRmfFileNameBytes = 264;  // at most 263 characters and the NUL

// ---- file pool, buffers and hooks ---------------------------------------------------------------

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

// ---- feature slots ------------------------------------------------------------------------------

inline constexpr std::int32_t kRmfFeatureSlots = 4;

// One feature slot. The reader holds exactly four (RmfReader::featureSlots);
// a slot is free when its use count is 0. Its pointers point into the
// record, which stays pinned in the reader's arena while the slot is used.
// The slots live in the reader record, not in arena blocks of their own, so
// their 8-byte pointers on 64-bit builds change only the reader's size.
struct RmfFeature {
  RmfReader* reader;
  std::uint32_t featureId;  // tile id
  std::uint16_t source;
  std::uint16_t secondId;   // sequence of the record within its tile
  std::uint8_t* record;     // the record bytes in their cached block
  // File offset of the record with the next sequence number (0 none, 1
  // another follows but its offset is unknown); a hint for fetching it.
  std::uint32_t nextRecordOffset;
  std::int16_t useCount;
  std::uint16_t continues;  // byte 3 bit 1 of the record
  rmf::RmfRecordHeader header;
  std::uint16_t pointSize;  // 4 or 8
  std::uint16_t pointCount;
  std::int32_t baseX;
  std::int32_t baseY;
  const std::uint8_t* points;
  std::uint16_t partCount;
  std::uint16_t textOffset;  // text area, from the record start
  std::uint16_t wordOffset;  // vertex-word area, from the record start
  std::uint16_t entrySize;   // part table entry size of the source
  const std::uint8_t* partTable;
  const std::uint8_t* recordStart;
  std::uint32_t recordLength;  // the record's length word

  // The part decoded by RmfFeatureSelectPart; -1 after every fetch.
  std::int16_t currentPart;
  std::uint32_t currentClass;
  const std::uint8_t* currentText;   // the part's own triple
  // The part's vertex words as little-endian u16 (a byte pointer: the word
  // area need not be 2-aligned within the record).
  const std::uint8_t* currentWords;
  std::uint16_t wordCount;
  // Number of leading attribute words (= wordCount when the part has no
  // vertex) and wordCount - 1; signed so that an empty list gives -1.
  std::int32_t firstVertex;
  std::int32_t lastPosition;
};

// ---- the query's work area ----------------------------------------------------------------------
//
// The working state of the feature query: its state machine, the block and
// record being walked, the run of points handed to the caller, the crossing,
// open-area and candidate tables with which area rings are closed along the
// query boundary, and the degree buffer of the degree wrappers. All of it
// lives inside the reader record, so a query allocates nothing but the
// growth of the three text buffers (which the reader frees when it closes).
// Each point of the run handed out keeps, in `vertices`, the position in its
// part's vertex-word list it comes from (a cut point: the position of the
// vertex beyond the cut).

inline constexpr std::int32_t kRmfPointBufferPoints = 510;  // the point run and the point buffer
inline constexpr std::int32_t kRmfRunSplitPoints = 501;     // a longer run is returned in pieces
inline constexpr std::int32_t kRmfMaxCrossings = 500;
inline constexpr std::int32_t kRmfMaxOpenAreas = 100;
inline constexpr std::int32_t kRmfMaxOutlineCandidates = 10;
// Edges of a query polygon are named by the bits of a 16-bit word.
inline constexpr std::int32_t kRmfMaxQueryCorners = 16;
inline constexpr std::uint16_t kRmfNoAreaIndex = 65535;

// One crossing of the query boundary (or, for ClipPolygonToRect, one point of
// the clipped outline). 20 bytes, sorted whole.
struct RmfCrossing {
  std::int32_t position;   // 2p + 1 entering, 2p leaving; p = distance along the boundary
  std::int16_t direction;  // +1 entering, -1 leaving, 0 an inside vertex (or dropped)
  std::uint16_t edgeBits;  // boundary edge(s) or rectangle side(s) the point lies on
  std::uint16_t area;      // index into the open-area table, kRmfNoAreaIndex when it was full
  std::uint16_t fraction;  // 1/65536 units beyond p: orders crossings that round to one place
  std::int32_t x;
  std::int32_t y;
};
static_assert(sizeof(RmfCrossing) == 20);

// A text triple kept by the area tables (code, name, detail; NUL-terminated,
// cut to the widths of the result texts).
struct RmfQueryText {
  char code[6];
  char name[51];
  char detail[253];
};

struct RmfOpenArea {
  RmfQueryText text;
  std::int16_t balance;  // entering minus leaving crossings
};

// An area segment that lies inside the query polygon and crosses the
// horizontal reference line of the enclosing-area test.
struct RmfOutlineCandidate {
  TiPoint point;
  TiPoint previous;
  RmfQueryText text;
  std::int32_t sign;  // +1 for a "+" ring, -1 for a "-" ring
};

// Filter of the area search at a point: the number of a part's attributes
// and their codes, names and details as packed lists of NUL-terminated
// strings. Negative ends the search, 0 skips the part, positive keeps it.
typedef std::int32_t (*RmfAreaFilterFn)(void* context, std::int32_t count, const char* codes, const char* names,
                                        const char* details);

struct RmfQueryWork {
  // Text buffers (the reader's three result buffers): write positions and
  // the number of triples of the current hit that passed the filter.
  std::int32_t writePosition[3];
  std::int32_t resultCount;

  // State machine.
  std::int32_t state;        // 0 finished, 1 to 9
  std::int32_t resumeState;  // taken after state 9
  std::int32_t pass;         // 3 before the first pass, then 2 areas, 1 lines, 0 points
  const volatile std::int32_t* cancel;
  std::uint32_t passMask;
  std::uint32_t levelMask;
  TiRect sourceBox;        // query box within the current source's box
  std::int32_t areaHits;   // hits of the area pass for the current source
  std::int32_t nearPoint;  // set by the features-near-a-point search: no crossings are kept
  std::int32_t granularity;
  std::uint32_t snapMask;
  RmfAreaFilterFn areaFilter;  // optional filter of the enclosing-area search
  void* areaFilterContext;

  // The block being walked (pinned in the arena while it is).
  const std::uint8_t* block;
  TiRect blockBox;
  void* pinnedBlock;
  std::uint32_t blockLength;
  std::uint32_t blockTile;
  std::uint16_t blockSequence;
  std::uint16_t entrySize;
  std::int32_t entryCount;
  std::int32_t entryIndex;  // the part being walked
  std::uint32_t entryTable;
  std::uint32_t pointTable;
  std::int32_t pointCount;
  std::int32_t pointSize;
  TiPoint pointBase;
  std::uint32_t textBase;
  std::uint32_t wordBase;

  // The part being walked.
  std::uint32_t classBits;
  std::uint32_t wordList;  // byte offset of its vertex words in the block
  std::int32_t wordCount;
  std::int32_t wordIndex;
  std::int32_t variant;     // how the part is walked (RmfQuery.cpp)
  std::int32_t collecting;  // texts are still gathered (an area's repeated pair stops it)
  std::int32_t sawPoint;
  std::int32_t ready;         // the part's points are collected
  std::int32_t metPolygon;    // some point or segment of the part met the polygon
  std::int32_t ringSigns[2];  // direction signs of the first two accepted area triples

  // Run building.
  TiPoint previous;
  std::int32_t previousVertex;
  std::uint16_t previousBits;
  std::uint16_t heldBits;
  std::int32_t havePrevious;
  std::int32_t runOpen;
  std::int32_t runEntered;  // the run began at a crossing not yet recorded
  TiPoint runEntryPoint;    // where it came in, over edge runEntryEdge
  std::int32_t runEntryEdge;
  std::int64_t runEntryAlong;  // its exact place along the boundary (1/65536 units)
  TiPoint runExitPoint;        // where it went out, over edge runExitEdge
  std::int32_t runExitEdge;
  std::int64_t runExitAlong;
  TiPoint held;  // granularity: the last point of a stay in one cell
  std::int32_t heldVertex;
  std::int32_t hasHeld;
  std::int32_t runCount;
  std::int32_t runSplit;   // points beyond the 501 returned, carried into the next piece
  std::int32_t runClosed;  // the run is complete: 1 at the part's end, 2 cut where it went out
  TiPoint points[kRmfPointBufferPoints];
  std::int32_t vertices[kRmfPointBufferPoints];
  std::uint16_t outside[kRmfPointBufferPoints];

  // Area rings.
  RmfCrossing crossings[kRmfMaxCrossings];
  std::int32_t crossingCount;
  std::int32_t crossingIndex;
  std::int32_t crossingsLost;  // a crossing did not fit: the source's boundary pieces are not given
  RmfOpenArea areas[kRmfMaxOpenAreas];
  std::int32_t areaCount;
  std::uint16_t openRings[kRmfMaxCrossings];
  std::int32_t openCount;
  std::int32_t piecesLeft;  // crossings still to sweep in states 7 and 8
  std::int32_t nested;
  RmfOutlineCandidate candidates[kRmfMaxOutlineCandidates];
  std::int32_t candidateCount;
  std::int32_t candidatesLost;
  std::int32_t sawMatching;
  std::int32_t sawRepeated;
  std::int32_t repeatedSaved;
  RmfQueryText repeatedText;

  // Degree buffer of RmfQueryNextDegrees: longitude, latitude.
  double degrees[kRmfPointBufferPoints][2];
};

// ---- the reader ---------------------------------------------------------------------------------

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
