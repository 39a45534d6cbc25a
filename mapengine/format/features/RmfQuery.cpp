// The feature query's settings and its state machine: passes over the
// sources, the tile records of each source's walk, the parts of each record,
// and the walk of a part's vertex words into runs of points inside the query
// polygon, one hit a call.
//
// A part is walked word by word. Text words before its first point bring its
// text triples, which are kept when they pass the class filter; a part
// without a passing triple is not collected. Points form runs: a run starts
// at the first point inside the polygon (or where a segment comes in, cut
// there) and ends where a segment goes out (cut there) or at the part's end;
// a segment with both ends beyond one edge is dropped, one with both ends
// outside but no common edge may still pass through and gives a run of its
// two cut points. A run of 501 points is handed over at once and the next
// call goes on from its last point. In the area pass each cut is also kept
// as a crossing record, from which the boundary pieces inside areas are made
// once the source is done (RmfQueryAreas.cpp).
//
// The block being walked is pinned in the reader's arena (the reader's first
// held block), so that calls between two hits may allocate freely.
#include "mapengine/format/features/RmfQuery.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mapengine/format/features/RmfQueryInternal.h"
#include "mapengine/format/store/RmfFileFormat.h"
#include "mapengine/format/store/RmfReader.h"
#include "mapengine/format/store/RmfSource.h"
#include "mapengine/format/store/RmfTagArena.h"
#include "mapengine/format/store/RmfTileCache.h"

namespace rmf::query {

namespace {

constexpr std::uint32_t kResultSteps[3] = {60, 510, 2510};
constexpr std::uint32_t kResultWidths[3] = {5, 50, 250};
constexpr std::uint32_t kCategoryBases[6] = {0x100, 0x100, 0x1010000, 0x100, 0x100, 0};
constexpr char kCategoryChars[4] = {'0', '1', '2', 'B'};
constexpr std::uint16_t kPositionWhole = 1024;
constexpr std::uint16_t kPositionBoundary = 0x4200;  // a point reference on the run's first segment

// How a part is walked.
enum Variant : std::int32_t { kPointPart = 0, kLinePart = 1, kAreaPart = 2, kBoundaryPart = 3 };

using rmf::detail::FailWith;
using rmf::detail::LoadU16;
using rmf::detail::LoadU32;

// ---- texts of a block ----

struct Triple {
  const char* text[3] = {"", "", ""};
  std::uint32_t length[3] = {0, 0, 0};
};

// The triple at `offset` from the block's text base: false when its three
// strings do not all end inside the block.
bool ReadTriple(const RmfQueryWork& w, std::uint32_t offset, Triple* t) {
  std::uint64_t at = std::uint64_t{w.textBase} + offset;
  for (int i = 0; i < 3; ++i) {
    if (at >= w.blockLength) return false;
    const auto* s = reinterpret_cast<const char*>(w.block + at);
    const auto* end = static_cast<const char*>(std::memchr(s, 0, w.blockLength - at));
    if (end == nullptr) return false;
    t->text[i] = s;
    t->length[i] = static_cast<std::uint32_t>(end - s);
    at += t->length[i] + 1;
  }
  return true;
}

std::int32_t LevelLow(const RmfReader* r) { return std::max(r->query.levelLow, 1); }
std::int32_t LevelHigh(const RmfReader* r) { return std::min(r->query.levelHigh, rmf::kDetailLevels); }

// Whether a code passes the filter of the category: its level digit within
// the query's levels, its class digit in the category's mask and its
// category character the category's.
bool CodePasses(const RmfReader* r, const char* code, std::uint32_t length, std::int32_t category) {
  if (length < 3) return false;
  const std::int32_t level = code[0] - '0';
  const std::int32_t klass = code[1] - '0';
  if (level < LevelLow(r) || level > LevelHigh(r)) return false;
  if (klass < 1 || klass > 7) return false;
  if ((r->query.classMasks[category] & (kCategoryBases[category] << (klass - 1))) == 0) return false;
  return code[2] == kCategoryChars[category];
}

// ---- the walk of one source ----

class Query {
 public:
  Query(RmfReader* reader, const Outputs& out) : r_(reader), w_(reader->queryWork), out_(out) {}

  std::int32_t Next();

 private:
  std::int32_t NextSource();
  std::int32_t NextBlock();
  void NextRecord();
  std::int32_t WalkRecord();

  bool SetUpBlock(const std::uint8_t* block);
  void Pin(const std::uint8_t* block);
  void Unpin();
  bool SourceTakesPart(const RmfSource* source) const;

  void BeginPart(std::uint32_t textOffset);
  void OfferTriple(std::uint32_t textOffset);
  bool SwitchStretch(std::uint32_t textOffset);
  void FinishPart();
  void Point(const TiPoint& c, std::int32_t vertex);
  void StartRun(const TiPoint& p, std::int32_t vertex);
  void Append(const TiPoint& p, std::int32_t vertex);
  void AppendVertex(const TiPoint& p, std::int32_t vertex);
  void FlushHeld();
  std::int32_t HandOver(std::int32_t n, bool boundaryRef);
  void RecordEntry();

  RmfReader* r_;
  RmfQueryWork& w_;
  const Outputs& out_;
  SourcePolygon polygon_;
};

bool Query::SourceTakesPart(const RmfSource* source) const {
  if (source->header.version == 0) return true;  // a file without class summary
  const auto has = [&](std::int32_t category) {
    return source->header.classPresence[category] != 0 &&
           RmfSourceHasClasses(r_->query.filterTexts[category], LevelLow(r_), LevelHigh(r_),
                               source->header.classLevels[category]) == 1;
  };
  if (has(w_.pass)) return true;
  return w_.pass == kLinePass && has(kBoundaryCategory);
}

void Query::Unpin() {
  // The query's own pin of the block it walked; it is dropped either way.
  if (r_->held[0].block != nullptr && r_->arena != nullptr) (void)RmfTagT8(r_->arena, r_->held[0].block);
  r_->held[0] = RmfHeldBlock{};
  w_.pinnedBlock = nullptr;
}

void Query::Pin(const std::uint8_t* block) {
  Unpin();
  if (r_->arena == nullptr) return;
  // Records handed out by a walk sit in record-cache blocks behind their key.
  void* data = const_cast<std::uint8_t*>(block) - sizeof(RmfRecordKey);
  if (RmfTagT6(r_->arena, data) >= 1) {
    r_->held[0] = RmfHeldBlock{data, 0};
    w_.pinnedBlock = data;
  }
}

std::int32_t Query::NextSource() {
  for (;;) {
    const std::int32_t i = ++r_->querySource;
    if (i >= r_->sourceCount) {
      r_->querySource = r_->sourceCount;
      // The pass has run out of sources.
      for (;;) {
        if (--w_.pass < 0) {
          w_.state = kFinished;
          return 0;
        }
        w_.passMask = r_->query.classMasks[w_.pass] | (w_.pass == kLinePass ? r_->query.classMasks[3] : 0);
        if (w_.passMask != 0) break;
      }
      r_->querySource = -1;
      continue;
    }
    RmfSource* source = r_->sources[i];
    if (source == nullptr || r_->sourceSide[i] == 0 || source->queryAreaCount < 1) continue;
    if (!SourceTakesPart(source)) continue;
    RmfSrcStartQuery(source);
    if (w_.pass == kAreaPass) {
      AreaStartSource(r_);
      w_.areaHits = 0;
    }
    const TiRect& q = r_->query.box;
    const TiRect& b = source->header.box;
    w_.sourceBox = TiRect{std::max(q.x1, b.x1), std::max(q.y1, b.y1), std::min(q.x2, b.x2), std::min(q.y2, b.y2)};
    w_.state = kNextBlock;
    return 0;
  }
}

bool Query::SetUpBlock(const std::uint8_t* block) {
  const std::uint32_t length = LoadU16(block);
  rmf::RmfRecordHeader h;
  if (!rmf::DecodeRecordHeader(block, length, &h)) return false;
  const RmfSource* source = r_->sources[r_->querySource];
  rmf::RmfRecordTables t;
  if (!rmf::LocateRecordTables(h, length, source->featureEntrySize, &t)) return false;
  w_.block = block;
  w_.blockBox = h.box;
  w_.blockLength = length;
  w_.blockTile = source->recordTile;
  w_.blockSequence = source->recordSequence;
  w_.entrySize = static_cast<std::uint16_t>(t.entrySize);
  w_.pointTable = t.pointTable;
  w_.pointCount = static_cast<std::int32_t>(t.pointCount);
  w_.entryTable = t.partTable;
  w_.entryCount = static_cast<std::int32_t>(t.partCount);
  w_.textBase = t.textBase;
  w_.wordBase = t.wordBase;
  w_.pointSize = static_cast<std::int32_t>(t.pointSize);
  w_.pointBase = h.pointBase;
  w_.entryIndex = -1;
  return true;
}

std::int32_t Query::NextBlock() {
  if (w_.cancel != nullptr && *w_.cancel != 0) {
    Unpin();
    w_.state = kFinished;
    return FailWith(r_, kRmfCancelled);
  }
  RmfSource* source = r_->sources[r_->querySource];
  RmfBlockLoader load = r_->blockLoader != nullptr ? r_->blockLoader : RmfSrcLoadBlock;
  const std::uint8_t* block = load(source);
  if (block == nullptr) {
    Unpin();
    if (source->readError != 0) {
      // What the area pass gathered from this source is incomplete: no
      // boundary pieces are made from it.
      if (w_.pass == kAreaPass) {
        AreaStartSource(r_);
        w_.resumeState = kNextSource;
        w_.state = kEndOfAreas;
      } else {
        w_.state = kNextSource;
      }
      return FailWith(r_, kRmfBadArgument);
    }
    if (w_.pass == kAreaPass) {
      w_.resumeState = kNextSource;
      w_.state = kSettleAreas;
    } else {
      w_.state = kNextSource;
    }
    return 0;
  }
  if (!SetUpBlock(block)) return 0;
  // Blocks beside the query box hold nothing for it; the area pass reads them
  // all, since a repeated pair anywhere may tell the area around the box.
  const TiRect& b = w_.blockBox;
  const TiRect& q = w_.sourceBox;
  if (w_.pass != kAreaPass && (b.x1 > q.x2 || b.x2 < q.x1 || b.y1 > q.y2 || b.y2 < q.y1)) return 0;
  Pin(block);
  w_.state = kNextRecord;
  return 0;
}

void Query::NextRecord() {
  for (;;) {
    if (++w_.entryIndex >= w_.entryCount) {
      w_.state = kNextBlock;
      return;
    }
    const std::uint8_t* e = w_.block + w_.entryTable + static_cast<std::uint64_t>(w_.entryIndex) * w_.entrySize;
    const std::uint32_t classBits = LoadU32(e);
    const std::uint32_t textOffset = LoadU16(e + 4);
    const std::uint64_t wordList = w_.wordBase + 2 * std::uint64_t{LoadU16(e + 6)};
    const std::uint32_t wordCount = LoadU16(e + 8);
    if (wordList + 2 * std::uint64_t{wordCount} > w_.blockLength) continue;
    if ((classBits & w_.levelMask) == 0) continue;
    if ((classBits & w_.passMask) == 0) continue;
    w_.classBits = classBits;
    w_.wordList = static_cast<std::uint32_t>(wordList);
    w_.wordCount = static_cast<std::int32_t>(wordCount);
    w_.wordIndex = 0;
    BeginPart(textOffset);
    w_.state = kWalkRecord;
    return;
  }
}

// ---- texts of a part ----

void Query::BeginPart(std::uint32_t textOffset) {
  ResetResults(r_);
  w_.collecting = 1;
  w_.sawPoint = 0;
  w_.ready = 0;
  w_.metPolygon = 0;
  w_.havePrevious = 0;
  w_.runOpen = 0;
  w_.runEntered = 0;
  w_.runCount = 0;
  w_.runSplit = 0;
  w_.runClosed = 0;
  w_.hasHeld = 0;
  Triple t;
  const bool readable = ReadTriple(w_, textOffset, &t);
  if (w_.pass == kPointPass) {
    w_.variant = kPointPart;
  } else if (w_.pass == kAreaPass) {
    w_.variant = kAreaPart;
  } else {
    w_.variant = readable && t.length[0] >= 3 && t.text[0][2] == 'B' ? kBoundaryPart : kLinePart;
  }
  if (readable) OfferTriple(textOffset);
}

// Appends a triple and keeps it when it passes the filter. An area whose
// second kept triple repeats its first (the same area on both sides of the
// line) is a repeated pair: it stops collecting.
void Query::OfferTriple(std::uint32_t textOffset) {
  if (w_.collecting == 0) return;
  Triple t;
  if (!ReadTriple(w_, textOffset, &t)) return;
  if (!WriteResult(r_, t.text[0], t.length[0], t.text[1], t.length[1], t.text[2], t.length[2])) return;
  const std::int32_t category = w_.variant == kBoundaryPart ? kBoundaryCategory : w_.variant;
  if (!CodePasses(r_, t.text[0], t.length[0], category)) return;
  if (w_.variant == kAreaPart && w_.resultCount == 1) {
    const TextView first = ResultText(r_, 0);
    const std::uint32_t nameLength = std::min<std::uint32_t>(t.length[1], kResultWidths[1]);
    const std::uint32_t detailLength = std::min<std::uint32_t>(t.length[2], kResultWidths[2]);
    const bool repeats = std::strncmp(first.code, t.text[0], 3) == 0 && std::strlen(first.name) == nameLength &&
                         std::strncmp(first.name, t.text[1], nameLength) == 0 &&
                         std::strlen(first.detail) == detailLength &&
                         std::strncmp(first.detail, t.text[2], detailLength) == 0;
    if (repeats) {
      // The pair's texts are kept for the enclosing-area decision.
      RmfQueryText& saved = w_.repeatedText;
      if (w_.repeatedSaved == 0) {
        std::snprintf(saved.code, sizeof saved.code, "%s", first.code);
        std::snprintf(saved.name, sizeof saved.name, "%s", first.name);
        std::snprintf(saved.detail, sizeof saved.detail, "%s", first.detail);
      }
      w_.collecting = 0;
      ResetResults(r_);
      return;
    }
  }
  AcceptResult(r_);
  if (w_.resultCount <= 2) {
    const TextView v = ResultText(r_, w_.resultCount - 1);
    w_.ringSigns[w_.resultCount - 1] = std::strlen(v.code) >= 4 && v.code[3] == '-' ? -1 : 1;
  }
}

// Boundary lines: a text word after a point gives the texts of the stretch
// from that point on. False while a run still has to be handed over first.
bool Query::SwitchStretch(std::uint32_t textOffset) {
  if (w_.runOpen != 0) {
    FlushHeld();
    w_.runOpen = 0;
    w_.runClosed = 1;
    return false;
  }
  ResetResults(r_);
  w_.collecting = 1;
  OfferTriple(textOffset);
  w_.ready = w_.resultCount > 0 ? 1 : 0;
  if (w_.ready != 0 && w_.havePrevious != 0 && w_.previousBits == 0) StartRun(w_.previous, w_.previousVertex);
  return true;
}

void Query::FinishPart() {
  if (w_.variant == kAreaPart && w_.metPolygon != 0) {
    if (w_.collecting == 0) {
      w_.sawRepeated = 1;
      w_.repeatedSaved = 1;
    } else if (w_.ready != 0) {
      w_.sawMatching = 1;
    }
  }
  w_.state = kNextRecord;
}

// ---- runs ----

void Query::StartRun(const TiPoint& p, std::int32_t vertex) {
  w_.runOpen = 1;
  w_.runCount = 0;
  w_.runSplit = 0;
  w_.runEntered = 0;
  w_.hasHeld = 0;
  Append(p, vertex);
}

void Query::Append(const TiPoint& p, std::int32_t vertex) {
  if (w_.runCount > 0 && TiSamePoint(w_.points[w_.runCount - 1], p)) return;
  if (w_.runCount >= kRmfPointBufferPoints) return;
  w_.points[w_.runCount] = p;
  w_.vertices[w_.runCount] = vertex;
  w_.outside[w_.runCount] = 0;
  ++w_.runCount;
}

// An inside vertex, thinned by the granularity: of a stay in one cell the
// first point is appended and the last one held back until the run leaves
// the cell or ends.
void Query::AppendVertex(const TiPoint& p, std::int32_t vertex) {
  if (w_.snapMask == 0 || w_.runCount == 0) {
    Append(p, vertex);
    return;
  }
  const TiPoint& last = w_.points[w_.runCount - 1];
  const std::uint32_t m = w_.snapMask;
  const bool sameCell = (static_cast<std::uint32_t>(p.x) & m) == (static_cast<std::uint32_t>(last.x) & m) &&
                        (static_cast<std::uint32_t>(p.y) & m) == (static_cast<std::uint32_t>(last.y) & m);
  if (sameCell) {
    w_.held = p;
    w_.heldVertex = vertex;
    w_.hasHeld = 1;
    return;
  }
  FlushHeld();
  Append(p, vertex);
}

void Query::FlushHeld() {
  if (w_.hasHeld == 0) return;
  w_.hasHeld = 0;
  Append(w_.held, w_.heldVertex);
}

void Query::Point(const TiPoint& c, std::int32_t vertex) {
  const std::uint16_t bits = OutsideBits(polygon_, c);
  const bool collect = w_.ready != 0;
  if (w_.havePrevious == 0) {
    if (bits == 0) {
      w_.metPolygon = 1;
      if (collect) StartRun(c, vertex);
    }
  } else {
    const TiPoint p = w_.previous;
    const std::uint16_t pBits = w_.previousBits;
    if (bits == 0) w_.metPolygon = 1;
    if (collect && w_.runOpen == 0 && pBits == 0) StartRun(p, w_.previousVertex);
    if (collect && w_.runOpen != 0) {
      if (bits == 0) {
        if (w_.variant == kAreaPart) AreaAddCandidate(r_, polygon_, p, c);
        AppendVertex(c, vertex);
      } else {
        BoundaryPoint exit;
        FlushHeld();
        if (CutSegment(polygon_, p, 0, c, bits, nullptr, &exit)) {
          Append(exit.point, vertex);
          w_.runExitPoint = exit.point;
          w_.runExitEdge = exit.edge;
          w_.runExitAlong = exit.along;
          w_.runClosed = 2;
        } else {
          w_.runClosed = 1;
        }
        w_.runOpen = 0;
      }
    } else if ((pBits & bits) == 0 && (pBits != 0 || bits != 0)) {
      BoundaryPoint enter;
      BoundaryPoint exit;
      if (CutSegment(polygon_, p, pBits, c, bits, &enter, &exit)) {
        w_.metPolygon = 1;
        if (collect) {
          StartRun(enter.point, w_.previousVertex);
          w_.runEntered = 1;
          w_.runEntryPoint = enter.point;
          w_.runEntryEdge = enter.edge;
          w_.runEntryAlong = enter.along;
          if (bits == 0) {
            Append(c, vertex);
          } else {
            Append(exit.point, vertex);
            w_.runExitPoint = exit.point;
            w_.runExitEdge = exit.edge;
            w_.runExitAlong = exit.along;
            w_.runOpen = 0;
            w_.runClosed = 2;
          }
        }
      }
    }
  }
  w_.previous = c;
  w_.previousBits = bits;
  w_.previousVertex = vertex;
  w_.havePrevious = 1;
}

// Records the crossing where the run came in, once the run is known to be
// handed over.
void Query::RecordEntry() {
  if (w_.runEntered == 0) return;
  w_.runEntered = 0;
  if (w_.variant != kAreaPart || w_.nearPoint != 0) return;
  AreaAddCrossing(r_, polygon_, BoundaryPoint{w_.runEntryPoint, w_.runEntryEdge, w_.runEntryAlong}, 1);
}

std::int32_t Query::HandOver(std::int32_t n, bool boundaryRef) {
  RmfFeatureRef ref{};
  ref.featureId = w_.blockTile;
  ref.source = static_cast<std::uint16_t>(r_->querySource);
  ref.secondId = w_.blockSequence;
  ref.part = static_cast<std::uint16_t>(w_.entryIndex);
  ref.fromVertex = static_cast<std::uint16_t>(w_.vertices[0]);
  if (boundaryRef) {
    ref.toVertex = static_cast<std::uint16_t>(w_.vertices[n > 1 ? 1 : 0]);
    ref.position = kPositionBoundary;
  } else {
    ref.toVertex = static_cast<std::uint16_t>(w_.vertices[n - 1]);
    ref.position = kPositionWhole;
  }
  if (w_.variant == kAreaPart) ++w_.areaHits;
  Deliver(r_, out_, &ref);
  return n;
}

std::int32_t Query::WalkRecord() {
  polygon_ = CurrentPolygon(r_);
  if (polygon_.count < 1) {  // the area was taken away while the query ran
    w_.state = kNextRecord;
    return 0;
  }
  const bool boundaryRef = w_.variant == kBoundaryPart;
  for (;;) {
    if (w_.runCount >= kRmfRunSplitPoints) {
      RecordEntry();
      w_.runSplit = 1;
      w_.state = kContinueRun;
      return HandOver(kRmfRunSplitPoints, boundaryRef);
    }
    if (w_.runClosed != 0) {
      const bool leaving = w_.runClosed == 2;
      const bool whole = w_.runCount >= 2 || w_.runSplit != 0;
      w_.runClosed = 0;
      const std::int32_t n = w_.runCount;
      w_.runCount = 0;
      w_.runSplit = 0;
      if (whole) {
        RecordEntry();
        if (leaving && w_.variant == kAreaPart && w_.nearPoint == 0) {
          AreaAddCrossing(r_, polygon_, BoundaryPoint{w_.runExitPoint, w_.runExitEdge, w_.runExitAlong}, -1);
        }
      }
      w_.runEntered = 0;
      if (n >= 2) return HandOver(n, boundaryRef);
      continue;
    }
    if (w_.wordIndex >= w_.wordCount) {
      if (w_.runOpen != 0) {
        FlushHeld();
        w_.runOpen = 0;
        w_.runClosed = 1;
        continue;
      }
      FinishPart();
      return 0;
    }
    const std::uint16_t word = LoadU16(w_.block + w_.wordList + 2 * std::uint64_t(w_.wordIndex));
    if ((word & 0x8000) != 0) {
      const std::uint32_t offset = word & 0x7fffu;
      if (w_.sawPoint == 0) {
        OfferTriple(offset);
      } else if (w_.variant == kBoundaryPart) {
        if (!SwitchStretch(offset)) continue;
      }
      ++w_.wordIndex;
      continue;
    }
    const std::int32_t vertex = w_.wordIndex++;
    if (w_.sawPoint == 0) {
      w_.sawPoint = 1;
      w_.ready = w_.collecting != 0 && w_.resultCount > 0 ? 1 : 0;
      // A part that is not collected is only walked to learn whether an
      // area's repeated pair meets the polygon.
      if (w_.ready == 0 && !(w_.variant == kAreaPart && w_.collecting == 0)) {
        w_.wordIndex = w_.wordCount;
        continue;
      }
    }
    if (word >= w_.pointCount) continue;
    const std::uint8_t* at = w_.block + w_.pointTable + std::uint64_t{word} * w_.pointSize;
    TiPoint c;
    if (w_.pointSize == 8) {
      c = TiPoint{static_cast<std::int32_t>(LoadU32(at)), static_cast<std::int32_t>(LoadU32(at + 4))};
    } else {
      c = TiPoint{static_cast<std::int32_t>(static_cast<std::uint32_t>(w_.pointBase.x) + LoadU16(at)),
                  static_cast<std::int32_t>(static_cast<std::uint32_t>(w_.pointBase.y) + LoadU16(at + 2))};
    }
    if (w_.variant == kPointPart) {
      if (w_.ready == 0 || OutsideBits(polygon_, c) != 0) continue;
      w_.points[0] = c;
      w_.vertices[0] = vertex;
      w_.outside[0] = 0;
      return HandOver(1, false);
    }
    Point(c, vertex);
  }
}

std::int32_t Query::Next() {
  for (;;) {
    switch (w_.state) {
      case kNextSource:
        NextSource();
        break;
      case kNextBlock: {
        const std::int32_t result = NextBlock();
        if (result < 0) {
          Deliver(r_, out_, nullptr);
          return result;
        }
        break;
      }
      case kNextRecord:
        NextRecord();
        break;
      case kContinueRun: {
        // The next piece of a long run starts with the last point handed over.
        const std::int32_t keep = w_.runCount - (kRmfRunSplitPoints - 1);
        std::memmove(w_.points, w_.points + kRmfRunSplitPoints - 1, sizeof(TiPoint) * keep);
        std::memmove(w_.vertices, w_.vertices + kRmfRunSplitPoints - 1, sizeof(std::int32_t) * keep);
        w_.runCount = keep;
        w_.state = kWalkRecord;
        break;
      }
      case kWalkRecord: {
        const std::int32_t n = WalkRecord();
        if (n > 0) return n;
        break;
      }
      case kSettleAreas: {
        const std::int32_t n = AreaSettle(r_, out_);
        if (n > 0) return n;
        break;
      }
      case kPieces:
      case kNestedPieces: {
        const std::int32_t n = AreaNextPiece(r_, out_);
        if (n > 0) return n;
        break;
      }
      case kEndOfAreas: {
        w_.state = w_.resumeState;
        if (w_.areaHits > 0) {
          w_.areaHits = 0;
          ResetResults(r_);
          Deliver(r_, out_, nullptr);
          return -1;
        }
        break;
      }
      default:
        Unpin();
        w_.state = kFinished;
        ResetResults(r_);
        Deliver(r_, out_, nullptr);
        return 0;
    }
  }
}

}  // namespace

// ---- text buffers ----

void ResetResults(RmfReader* reader) {
  RmfQueryWork& w = reader->queryWork;
  w.writePosition[0] = w.writePosition[1] = w.writePosition[2] = 0;
  w.resultCount = 0;
  for (RmfResultBuffer& b : reader->results) {
    if (b.bytes != nullptr && b.capacity > 0) b.bytes[0] = 0;
  }
}

namespace {

// Room for `need` more bytes at the write position; the buffer grows by its
// step (a new zeroed block, the old contents copied).
bool Room(RmfReader* reader, int i, std::uint32_t need) {
  RmfResultBuffer& b = reader->results[i];
  const auto at = static_cast<std::uint32_t>(reader->queryWork.writePosition[i]);
  if (b.bytes != nullptr && at + need <= b.capacity) return true;
  std::uint32_t capacity = b.bytes != nullptr ? b.capacity : 0;
  while (capacity < at + need) capacity += kResultSteps[i];
  auto* grown = static_cast<std::uint8_t*>(std::calloc(1, capacity));
  if (grown == nullptr) {
    reader->lastError = kRmfNoMemory;
    return false;
  }
  if (b.bytes != nullptr) std::memcpy(grown, b.bytes, at);
  std::free(b.bytes);
  b.bytes = grown;
  b.capacity = capacity;
  return true;
}

}  // namespace

bool WriteResult(RmfReader* reader, const char* code, std::uint32_t codeLength, const char* name,
                 std::uint32_t nameLength, const char* detail, std::uint32_t detailLength) {
  const char* texts[3] = {code, name, detail};
  const std::uint32_t lengths[3] = {codeLength, nameLength, detailLength};
  for (int i = 0; i < 3; ++i) {
    if (!Room(reader, i, kResultWidths[i] + 1)) return false;
  }
  for (int i = 0; i < 3; ++i) {
    const std::uint32_t n = std::min(lengths[i], kResultWidths[i]);
    std::uint8_t* at = reader->results[i].bytes + reader->queryWork.writePosition[i];
    if (n > 0) std::memcpy(at, texts[i], n);
    at[n] = 0;
  }
  return true;
}

void AcceptResult(RmfReader* reader) {
  RmfQueryWork& w = reader->queryWork;
  for (int i = 0; i < 3; ++i) {
    const auto* at = reinterpret_cast<const char*>(reader->results[i].bytes + w.writePosition[i]);
    w.writePosition[i] += static_cast<std::int32_t>(std::strlen(at)) + 1;
  }
  ++w.resultCount;
}

TextView ResultText(const RmfReader* reader, std::int32_t k) {
  const RmfQueryWork& w = reader->queryWork;
  TextView v;
  if (k < 0 || k >= w.resultCount) return v;
  const char** fields[3] = {&v.code, &v.name, &v.detail};
  for (int i = 0; i < 3; ++i) {
    const auto* s = reinterpret_cast<const char*>(reader->results[i].bytes);
    for (std::int32_t j = 0; j < k; ++j) s += std::strlen(s) + 1;
    *fields[i] = s;
  }
  return v;
}

void Deliver(RmfReader* reader, const Outputs& out, const RmfFeatureRef* reference) {
  const TextView v = ResultText(reader, 0);
  std::snprintf(out.code, kResultWidths[0] + 1, "%s", v.code);
  if (out.name != nullptr) std::snprintf(out.name, kResultWidths[1] + 1, "%s", v.name);
  if (out.detail != nullptr) std::snprintf(out.detail, kResultWidths[2] + 1, "%s", v.detail);
  *out.count = reader->queryWork.resultCount;
  if (out.reference != nullptr) *out.reference = reference != nullptr ? *reference : RmfFeatureRef{};
  *out.points = reader->queryWork.points;
}

}  // namespace rmf::query

using rmf::detail::FailWith;
using rmf::detail::ReaderAlive;

// ---- settings ----

void RmfQuerySetLevels(RmfReader* reader, std::int32_t a, std::int32_t b) {
  if (!ReaderAlive(reader)) return;
  if (a < 0 || b < 0) {
    reader->lastError = kRmfBadArgument;
    return;
  }
  reader->lastError = 0;
  reader->query.levelLow = std::max(std::min(a, b), reader->minLevel);
  reader->query.levelHigh = std::min(std::max(a, b), reader->maxLevel);
  for (std::int32_t i = 0; i < reader->sourceCount; ++i) {
    if (reader->sources[i] != nullptr) RmfSrcF5(reader->sources[i], reader->query.levelLow, reader->query.levelHigh);
  }
}

void RmfQuerySetClassFilter(RmfReader* reader, std::int32_t category, const char* text) {
  if (!ReaderAlive(reader)) return;
  std::int32_t slot = -1;
  if (category >= 0 && category <= 5) {
    slot = category;
  } else {
    switch (category) {
      case '0':
        slot = 0;
        break;
      case '1':
        slot = 1;
        break;
      case '2':
        slot = 2;
        break;
      case 'B':
      case 'b':
        slot = 3;
        break;
      case 'R':
      case 'r':
        slot = 4;
        break;
      case 'S':
      case 's':
        slot = 5;
        break;
      default:
        break;
    }
  }
  if (slot < 0) {
    reader->lastError = kRmfBadArgument;
    return;
  }
  reader->lastError = 0;
  char* kept = reader->query.filterTexts[slot];
  std::size_t n = 0;
  if (text != nullptr) {
    while (n < 9 && text[n] != '\0') {
      kept[n] = text[n];
      ++n;
    }
  }
  kept[n] = '\0';
  std::uint32_t mask = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (kept[i] >= '1' && kept[i] <= '7') mask |= rmf::query::kCategoryBases[slot] << (kept[i] - '1');
  }
  reader->query.classMasks[slot] = mask;
}

void RmfQuerySetGranularity(RmfReader* reader, std::int32_t g) {
  if (!ReaderAlive(reader)) return;
  RmfQueryWork& w = reader->queryWork;
  if (g < 1) {
    reader->lastError = kRmfBadArgument;
    w.snapMask = 0;
    return;
  }
  reader->lastError = 0;
  w.granularity = g;
  std::uint32_t ones = 1;
  while (ones < static_cast<std::uint32_t>(g)) ones = (ones << 1) | 1;
  w.snapMask = ~ones;
}

void RmfQuerySetCancelFlag(RmfReader* reader, const volatile std::int32_t* flag) {
  if (!ReaderAlive(reader)) return;
  reader->lastError = 0;
  reader->queryWork.cancel = flag;
}

void RmfQuerySetAreaFilter(RmfReader* reader, RmfAreaFilterFn filter, void* context) {
  if (!ReaderAlive(reader)) return;
  reader->lastError = 0;
  reader->queryWork.areaFilter = filter;
  reader->queryWork.areaFilterContext = context;
}

void RmfQuerySetNearPointMode(RmfReader* reader, std::int32_t on) {
  if (!ReaderAlive(reader)) return;
  reader->queryWork.nearPoint = on != 0 ? 1 : 0;
}

// ---- running it ----

void RmfQueryStart(RmfReader* reader) {
  if (!ReaderAlive(reader)) return;
  RmfQueryWork& w = reader->queryWork;
  if (reader->held[0].block != nullptr && reader->arena != nullptr) {
    (void)RmfTagT8(reader->arena, reader->held[0].block);  // the query's own pin, dropped either way
  }
  reader->held[0] = RmfHeldBlock{};
  w.pinnedBlock = nullptr;
  rmf::query::AreaStartSource(reader);
  w.crossingIndex = 0;
  reader->lastError = 0;
  rmf::query::ResetResults(reader);
  w.runCount = 0;
  w.runOpen = 0;
  w.runClosed = 0;
  w.areaHits = 0;
  w.resumeState = rmf::query::kNextSource;
  // The first pass: the highest category with a filter.
  w.pass = 3;
  w.state = rmf::query::kFinished;
  for (;;) {
    if (--w.pass < 0) break;
    w.passMask = reader->query.classMasks[w.pass] | (w.pass == rmf::query::kLinePass ? reader->query.classMasks[3] : 0);
    if (w.passMask != 0) {
      w.state = rmf::query::kNextSource;
      break;
    }
  }
  reader->querySource = -1;
  const std::int32_t low = std::max(reader->query.levelLow, 1);
  const std::int32_t high = std::min(reader->query.levelHigh, rmf::kDetailLevels);
  w.levelMask = 0;
  for (std::int32_t level = low; level <= high; ++level) w.levelMask |= 1u << (level - 1);
}

std::int32_t RmfQueryNext(RmfReader* reader, char* code, char* name, char* detail, std::int32_t* count,
                          RmfFeatureRef* reference, TiPoint** points) {
  if (reference != nullptr) *reference = RmfFeatureRef{};
  if (!ReaderAlive(reader)) {
    if (code != nullptr) code[0] = '\0';
    if (name != nullptr) name[0] = '\0';
    if (detail != nullptr) detail[0] = '\0';
    if (count != nullptr) *count = 0;
    if (points != nullptr) *points = nullptr;
    return 0;
  }
  if (code == nullptr || count == nullptr || points == nullptr) return FailWith(reader, kRmfBadArgument);
  const rmf::query::Outputs out{code, name, detail, count, reference, points};
  rmf::query::Query q(reader, out);
  return q.Next();
}

std::int32_t RmfQueryResultText(RmfReader* reader, std::int32_t index, char* code, char* name, char* detail) {
  if (!ReaderAlive(reader) || index < 0 || index >= reader->queryWork.resultCount) return 0;
  const rmf::query::TextView v = rmf::query::ResultText(reader, index);
  if (code != nullptr) std::snprintf(code, 6, "%s", v.code);
  if (name != nullptr) std::snprintf(name, 51, "%s", v.name);
  if (detail != nullptr) std::snprintf(detail, 251, "%s", v.detail);
  return 1;
}

std::int32_t RmfSourceHasClasses(const char* text, std::int32_t low, std::int32_t high, const std::uint8_t* table) {
  if (text == nullptr || table == nullptr || text[0] == '\0' || high < 1 || low > 8) return 0;
  low = std::max(low, 1);
  high = std::min(high, 8);
  if (low > high) return 0;
  const std::uint32_t mask = ((1u << high) - 1) & ~((1u << (low - 1)) - 1);
  for (std::size_t i = 0; i < 9 && text[i] != '\0'; ++i) {
    const char c = text[i];
    if (c >= '1' && c <= '7' && (table[c - '1'] & mask) != 0) return 1;
  }
  return 0;
}
