// The working state of the feature query that every reader carries: the
// query's state machine, the block and record being walked, the run of
// points handed to the caller, the crossing, open-area and candidate tables
// with which area rings are closed along the query boundary, and the degree
// buffer of the degree wrappers. Everything lives inside the reader record,
// so a query allocates nothing but the growth of the three text buffers
// (which the reader frees when it closes).
//
// Layout on 64-bit builds: the tables have the phone's sizes (510 points,
// 500 crossings of 20 bytes, 100 open areas, 10 candidates); only the few
// pointers (block, cancel flag, filter callback and its context) are 8 bytes
// instead of 4. Each point of the run handed out keeps, in `vertices`, the
// position in its part's vertex-word list it comes from (a cut point: the
// position of the vertex beyond the cut).
#pragma once

#include <cstdint>

#include "mapengine/format/RmfTypes.h"
#include "mapengine/format/base/TiTypes.h"

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
