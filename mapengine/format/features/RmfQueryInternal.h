// Library-internal pieces shared by the query's source files: the current
// source's polygon and the exact cut of a segment by it, the text buffers,
// the hand-over of a hit to the caller and the area-ring steps.
#pragma once

#include <cstdint>

#include "mapengine/format/RmfInternal.h"
#include "mapengine/format/RmfReaderRecord.h"
#include "mapengine/format/RmfTypes.h"
#include "mapengine/format/base/TiTypes.h"
#include "mapengine/format/store/RmfReader.h"
#include "mapengine/format/store/RmfSource.h"

namespace rmf::query {

// A non-negative fraction num / den (den > 0), such as a parameter along a
// segment, kept exact.
struct Fraction {
  unsigned __int128 num;
  unsigned __int128 den;
};

// Exact order of two fractions (-1, 0, 1) without forming their cross
// products, which could need 130 bits: the continued-fraction comparison.
// a.num / a.den against b.num / b.den: compare the whole parts; with equal
// ones, the remainders ra / a.den against rb / b.den are in the order of
// b.den / rb against a.den / ra, so the denominators shrink like Euclid's.
inline int Compare(Fraction a, Fraction b) {
  for (;;) {
    const unsigned __int128 qa = a.num / a.den;
    const unsigned __int128 qb = b.num / b.den;
    if (qa != qb) return qa < qb ? -1 : 1;
    const unsigned __int128 ra = a.num % a.den;
    const unsigned __int128 rb = b.num % b.den;
    if (ra == 0 || rb == 0) return ra == rb ? 0 : (ra == 0 ? -1 : 1);
    const Fraction next{b.den, rb};
    b = Fraction{a.den, ra};
    a = next;
  }
}

// States of the query.
enum State : std::int32_t {
  kFinished = 0,
  kNextSource = 1,
  kNextBlock = 2,
  kNextRecord = 3,
  kContinueRun = 4,
  kWalkRecord = 5,
  kSettleAreas = 6,
  kPieces = 7,
  kNestedPieces = 8,
  kEndOfAreas = 9,
};

// Passes (also the category of their records).
enum Pass : std::int32_t { kPointPass = 0, kLinePass = 1, kAreaPass = 2 };
inline constexpr std::int32_t kBoundaryCategory = 3;

// ---- the source's polygon ----

// A source's query polygon: its corners (counter-clockwise) and the
// cumulative edge lengths kept behind them in the same heap block: entry 0
// the closing edge's length + 100, entry i entry i - 1 + the length of edge
// (i - 1, i) + 100.
struct SourcePolygon {
  const TiPoint* corners = nullptr;
  const std::uint32_t* lengths = nullptr;
  std::int32_t count = 0;
};
SourcePolygon PolygonOf(const RmfSource* source);
// The current source's polygon (empty when there is none).
SourcePolygon CurrentPolygon(const RmfReader* reader);

// Bit e for every edge that has the point strictly to its right.
std::uint16_t OutsideBits(const SourcePolygon& polygon, const TiPoint& p);

// A point where a segment crosses the polygon's boundary.
struct BoundaryPoint {
  TiPoint point{};         // rounded to whole units
  std::int32_t edge = -1;  // index of the edge crossed
  // Distance along the boundary (from the last corner through corner 0, 1,
  // ...: the kept lengths plus the stretch from the edge's first corner) of
  // the exact crossing, in 1/65536 units; it orders crossings that round to
  // one point. Saturates at 2^30 units.
  std::int64_t along = 0;
};

// The part of segment a -> b inside the polygon, given the two ends' outside
// bits (which must share none): false when the segment misses the polygon
// or only touches it; otherwise the entering point (when a lies outside) and
// the leaving point (when b does), exact and rounded half away from zero.
bool CutSegment(const SourcePolygon& polygon, const TiPoint& a, std::uint16_t aBits, const TiPoint& b,
                std::uint16_t bBits, BoundaryPoint* enter, BoundaryPoint* exit);

// ---- text buffers ----

// The reader's three result buffers hold the accepted triples of the current
// hit one after the other (codes, names, details).
void ResetResults(RmfReader* reader);
// Writes a triple at the buffers' write positions (cut to 5, 50 and 250
// characters); it stays there without counting until AcceptResult. False
// when a buffer cannot grow (last error kRmfNoMemory).
bool WriteResult(RmfReader* reader, const char* code, std::uint32_t codeLength, const char* name,
                 std::uint32_t nameLength, const char* detail, std::uint32_t detailLength);
// Counts the triple just written and moves the write positions past it.
void AcceptResult(RmfReader* reader);
// The code, name and detail of accepted triple k (k below the count).
struct TextView {
  const char* code = "";
  const char* name = "";
  const char* detail = "";
};
TextView ResultText(const RmfReader* reader, std::int32_t k);

// ---- handing a hit over ----

struct Outputs {
  char* code;
  char* name;
  char* detail;
  std::int32_t* count;
  RmfFeatureRef* reference;
  TiPoint** points;
};
// Copies the first accepted triple (or empty texts), the count and the
// reference (zeroed when null) to the caller.
void Deliver(RmfReader* reader, const Outputs& out, const RmfFeatureRef* reference);

// ---- area rings (RmfQueryAreas.cpp) ----

// Clears the crossing, area and candidate tables and the marks for a source.
void AreaStartSource(RmfReader* reader);
// Crossing records for the first two accepted triples of the record being
// walked, where its run enters (+1) or leaves (-1) the polygon.
void AreaAddCrossing(RmfReader* reader, const SourcePolygon& polygon, const BoundaryPoint& at, std::int32_t direction);
// Keeps an area segment with both ends inside the polygon for the
// enclosing-area test.
void AreaAddCandidate(RmfReader* reader, const SourcePolygon& polygon, const TiPoint& previous, const TiPoint& point);
// State 6: settles the source's crossings. Returns a hit (the enclosing
// area) or 0; sets the next state.
std::int32_t AreaSettle(RmfReader* reader, const Outputs& out);
// States 7 and 8: the next boundary piece inside areas, or 0 when none is
// left (the state is then 9).
std::int32_t AreaNextPiece(RmfReader* reader, const Outputs& out);
// The wanted area around the centre of the box in the current source, by
// the area search at a point (RmfQueryAreasAtPoint.cpp): true with its texts.
bool AreaAroundCentre(RmfReader* reader, const TiRect& box, RmfQueryText* text);

}  // namespace rmf::query
