// The features-near-a-point search: the nearest stretch of the line features
// around a position, found with the reader's feature query, and when that
// stretch ends at a vertex within the radius, every part of every source
// that passes through that vertex, read record by record from the tiles
// around it.
//
// Phase 1 (nearest stretch) runs the query over a square around the
// position and measures every hit with TiPointToPolylineHeading, narrowing
// the distance limit with each closer hit, so that later hits are mostly
// rejected by the polyline's region codes without segment arithmetic. The
// square is wider than the radius in x by 1 / cos(latitude): distances are
// measured with x scaled by the cosine, so a square of the radius in map
// units would miss features east and west of the position that lie within
// the radius, and would let the query cut a run at a point within the
// radius that is no vertex. With the wider square every cut point lies
// beyond the radius, so the nearest point of a hit that counts is a true
// vertex or lies inside a segment.
//
// Phase 2 (junction) looks the vertex up in the point array of every record
// of the tiles that the square touches; the parts through it come from the
// records themselves, not from the query, so parts that the query cut or
// split come back whole.
#include "mapengine/format/features/RmfFeaturesNear.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "mapengine/format/base/TiGeometry.h"
#include "mapengine/format/base/TiMath.h"
#include "mapengine/format/base/TiUnits.h"
#include "mapengine/format/features/RmfClip.h"
#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/features/RmfFeatureInternal.h"
#include "mapengine/format/features/RmfProfile.h"
#include "mapengine/format/features/RmfQuery.h"
#include "mapengine/format/store/RmfFileFormat.h"
#include "mapengine/format/store/RmfReader.h"
#include "mapengine/format/store/RmfSource.h"
#include "mapengine/format/store/RmfTagArena.h"
#include "mapengine/format/store/RmfTile.h"

namespace {

constexpr std::int64_t kHalfTurn = kTiHalfTurn;
constexpr std::int64_t kQuarterTurn = kTiQuarterTurn;
constexpr std::int64_t kWorldX = 0x8000000;  // longitudes -2^27 .. 2^27
constexpr std::int64_t kWorldY = 0x4000000;  // latitudes -2^26 .. 2^26
constexpr std::int64_t kUnitFraction = 0x10000000;

// No two points are farther apart than half a turn.
constexpr std::int32_t kMaxRadius = 0x8000000;
// The square reaches this far beyond the radius, so that a point on its edge
// lies beyond the radius after the rounding of distances too.
constexpr std::int64_t kSquareMargin = 2;

constexpr std::uint32_t kListTag = 0x5241454e;  // "NEAR"
constexpr std::int32_t kFirstParts = 32;
constexpr std::int32_t kFirstPositions = 16;
constexpr std::int32_t kFirstRanges = 128;
constexpr std::int32_t kListGrowth = 16;
// No valid record or tile cover needs a list this large; a larger demand
// means damaged data and is refused before the arena is asked.
constexpr std::uint64_t kMaxListBytes = 4u << 20;
// A range of more tile ids than this is walked through the source's index
// (only ids it covers), so that a huge radius cannot make the walk look up
// millions of empty tiles one by one; shorter ranges are walked id by id,
// which is cheaper than the index look-up for the few ids a normal radius
// gives.
constexpr std::uint64_t kDenseRange = 64;
constexpr std::uint32_t kNoTile = 0xFFFFFFFFu;

constexpr std::uint16_t kLeaving = kRmfPositionPoint;                       // at the from vertex
constexpr std::uint16_t kArriving = kRmfPositionPoint | kRmfPositionWhole;  // at the to vertex

// The angle taken modulo one turn into -half a turn (excluded) .. half a turn.
std::int32_t NormalAngle(std::int64_t angle) {
  std::int64_t a = angle % kTiFullTurn;
  if (a < 0) a += kTiFullTurn;
  if (a > kHalfTurn) a -= kTiFullTurn;
  return static_cast<std::int32_t>(a);
}

std::int32_t ClampTo(std::int64_t v, std::int64_t limit) {
  return static_cast<std::int32_t>(std::clamp(v, -limit, limit));
}

// The search square around the position: radius + margin in y, and in x as
// much more as the cosine at the square's latitude farthest from the
// equator asks, so that the circle of the radius lies inside (held to the
// world).
TiRect SearchSquare(const TiPoint& at, std::int32_t radius) {
  const std::int64_t reach = std::int64_t{radius} + kSquareMargin;
  const std::int64_t farthest = std::min(std::abs(std::int64_t{at.y}) + reach, kWorldY);
  const std::int64_t cosine = TiSin(static_cast<std::uint32_t>(farthest + kQuarterTurn));
  std::int64_t wide = kWorldX;
  if (cosine > 0) wide = std::min(kWorldX, (reach * kUnitFraction + cosine - 1) / cosine + 1);
  return TiRect{ClampTo(std::int64_t{at.x} - wide, kWorldX), ClampTo(std::int64_t{at.y} - reach, kWorldY),
                ClampTo(std::int64_t{at.x} + wide, kWorldX), ClampTo(std::int64_t{at.y} + reach, kWorldY)};
}

bool Inside(const TiRect& inner, const TiRect& outer) {
  return inner.x1 >= outer.x1 && inner.y1 >= outer.y1 && inner.x2 <= outer.x2 && inner.y2 <= outer.y2;
}

// One-way mark of a code: "+" (4th character) travel only in vertex order,
// "-" only against it.
std::int32_t MarkOf(const char* code) {
  if (std::strlen(code) < 4) return 0;
  if (code[3] == '+') return 1;
  if (code[3] == '-') return -1;
  return 0;
}

// The fraction (0..1024, from the first end) of the point n on the segment
// first -> second: 1024 - e / L with e its distance from the second end and
// L the segment's length; the ends themselves when the point is less than a
// unit from one of them.
std::int32_t FractionAlong(const TiPoint& first, const TiPoint& second, const TiPoint& n) {
  const std::int32_t length = TiDistance(&first, &second);
  const std::int32_t e = TiDistance(&second, &n);
  if (length < 1) return 0;
  if (e < 1) return kRmfPositionWhole;
  if (e >= length) return 0;
  const std::uint64_t q = ((static_cast<std::uint64_t>(e) << 32) + static_cast<std::uint64_t>(length) / 2) /
                          static_cast<std::uint64_t>(length);
  return kRmfPositionWhole - static_cast<std::int32_t>(q >> 22);
}

// A fixed arena block of `capacity` entries of T (8-byte aligned, as a block
// of records with pointers must be), freed with the object.
template <typename T>
class ArenaList {
 public:
  explicit ArenaList(RmfReader* reader) : reader_(reader) {}
  ~ArenaList() { Free(); }
  ArenaList(const ArenaList&) = delete;
  ArenaList& operator=(const ArenaList&) = delete;

  // Replaces the list by one of `capacity` entries (contents not kept):
  // false, with the old list kept, when the arena cannot give it.
  bool Make(std::int64_t capacity) {
    if (capacity < 1 || reader_->arena == nullptr) return false;
    const std::uint64_t bytes = static_cast<std::uint64_t>(capacity) * sizeof(T) + 4;
    if (bytes > kMaxListBytes) return false;
    void* block = RmfTagT4(reader_->arena, static_cast<std::uint32_t>(bytes), kListTag);
    if (block == nullptr) return false;
    Free();
    block_ = block;
    const auto address = reinterpret_cast<std::uintptr_t>(block);
    data_ = reinterpret_cast<T*>((address + 7) & ~std::uintptr_t{7});
    capacity_ = static_cast<std::int32_t>(capacity);
    return true;
  }
  T* data() const { return data_; }
  std::int32_t capacity() const { return capacity_; }

 private:
  void Free() {
    if (block_ == nullptr) return;
    // The list's own fixed block with its one pin: unpin and free cannot
    // fail, and nothing is left to undo if they did.
    (void)RmfTagT8(reader_->arena, block_);
    (void)RmfTagT5(reader_->arena, block_);
    block_ = nullptr;
    data_ = nullptr;
    capacity_ = 0;
  }

  RmfReader* reader_;
  void* block_ = nullptr;
  T* data_ = nullptr;
  std::int32_t capacity_ = 0;
};

// What the search changes in a source and gives back: its query area (the
// polygon block itself is kept aside, not copied), rectangle and levels.
struct SavedSource {
  TiPoint* area;
  std::int32_t areaCount;
  std::uint32_t side;
  TiRect rect;
  std::uint32_t rectSet;
  std::int32_t minLevel;
  std::int32_t maxLevel;
  std::uint32_t levelsSet;
};

struct Request {
  TiPoint at;
  std::int32_t radius;
  std::int32_t heading;
  std::int32_t tolerance;
  std::int32_t lowest;
  std::int32_t highest;
  RmfFeatureRef* out;
  std::int32_t capacity;
  std::int32_t* overflow;
};

bool ArgumentsValid(const Request& q) {
  return q.out != nullptr && q.capacity > 0 && q.radius > 0 && q.lowest >= 1 && q.lowest <= rmf::kDetailLevels &&
         q.highest >= 1 && q.highest <= rmf::kDetailLevels;
}

// Where the nearest point lies on a candidate segment of phase 1.
enum class On { kFirst, kSecond, kInside };

// A reference of phase 1 and the direction it was made for (1 in vertex
// order, -1 against it).
struct Pending {
  RmfFeatureRef ref;
  std::int32_t verdict;
};

class NearSearch {
 public:
  NearSearch(RmfReader* reader, const Request& q)
      : r_(reader), q_(q), saved_(reader), parts_(reader), positions_(reader), ranges_(reader) {}
  ~NearSearch() { Restore(); }
  NearSearch(const NearSearch&) = delete;
  NearSearch& operator=(const NearSearch&) = delete;

  std::int32_t Run();

 private:
  bool HasHeading() const { return q_.tolerance >= 0; }
  std::uint16_t HeadingBit() const { return HasHeading() ? kRmfPositionHeading : 0; }

  bool Save();
  void Restore();
  std::int32_t SetUp();
  std::int32_t Finish(std::int32_t failure);

  std::int32_t NearestStretch();
  std::int32_t DirectionMark(const char* code, std::int32_t texts);
  void TakeHit(const char* code, std::int32_t texts, const RmfFeatureRef& hit, const TiPoint* points, std::int32_t n);
  void Candidate(const TiPoint* points, std::int32_t n, std::int32_t k, On on, std::int32_t mark);
  std::int32_t SettleInside();

  std::int32_t Junction();
  std::int32_t WalkSource(std::int32_t source);
  std::int32_t WalkRange(std::int32_t source, const RmfTileRange& range);
  std::int32_t WalkTile(std::int32_t source, std::uint32_t tile);
  std::int32_t WalkRecord(RmfFeature* slot);
  std::int32_t WalkPoint(RmfFeature* slot, std::int32_t point);
  std::int32_t WalkPart(RmfFeature* slot, std::int32_t part, std::int32_t point);
  void Neighbours(RmfFeature* slot, std::int32_t part, std::int32_t q, std::int32_t oneWay);

  void Emit(const RmfFeatureRef& ref);

  RmfReader* r_;
  Request q_;
  std::int32_t radius_ = 0;   // the radius held to half a turn
  std::int32_t heading_ = 0;  // the heading taken into one turn
  TiRect square_{};

  bool restorable_ = false;  // the caller's settings were saved and must be given back
  RmfQuerySettings settings_{};
  std::int32_t granularity_ = 0;
  std::uint32_t snapMask_ = 0;
  ArenaList<SavedSource> saved_;
  std::int32_t lastError_ = 0;

  std::int64_t count_ = 0;  // references found; the first `capacity` are written
  std::int32_t best_ = 0;   // distance limit: hits must come closer than this
  TiPoint junction_{};
  bool inside_ = false;

  // Phase 1: the nearest hit and its references, kept until phase 1 ends
  // (phase 2 replaces them unless the hit lies inside a segment).
  RmfFeatureRef hit_{};
  TiPoint nearest_{};
  Pending pending_[4]{};
  std::int32_t pendingCount_ = 0;
  // The segment the inside references lie on, as the query gave it; a run's
  // first or last point may be a cut point, not the segment's end.
  TiPoint segment_[2]{};
  std::uint16_t segmentPositions_[2]{};
  bool segmentCut_[2]{};

  ArenaList<std::int32_t> parts_;
  ArenaList<std::int32_t> positions_;
  ArenaList<RmfTileRange> ranges_;
};

// ---- set-up and restore ----------------------------------------------------------

bool NearSearch::Save() {
  const std::int32_t n = r_->sourceCount;
  if (n > 0 && !saved_.Make(n)) return false;
  settings_ = r_->query;
  granularity_ = r_->queryWork.granularity;
  snapMask_ = r_->queryWork.snapMask;
  for (std::int32_t i = 0; i < n; ++i) {
    SavedSource& s = saved_.data()[i];
    s = SavedSource{};
    RmfSource* source = r_->sources[i];
    if (source == nullptr) continue;
    s = SavedSource{source->queryArea,    source->queryAreaCount, r_->sourceSide[i],     source->queryRect,
                    source->queryRectSet, source->queryMinLevel,  source->queryMaxLevel, source->queryLevelsSet};
    // The caller's polygon block is set aside; setting the search square
    // gives the source a block of its own, freed on restore.
    source->queryArea = nullptr;
    source->queryAreaCount = 0;
  }
  restorable_ = true;
  return true;
}

void NearSearch::Restore() {
  if (restorable_) {
    RmfQuerySetNearPointMode(r_, 0);
    r_->query = settings_;
    r_->queryWork.granularity = granularity_;
    r_->queryWork.snapMask = snapMask_;
    for (std::int32_t i = 0; i < r_->sourceCount && i < saved_.capacity(); ++i) {
      RmfSource* source = r_->sources[i];
      if (source == nullptr) continue;
      const SavedSource& s = saved_.data()[i];
      if (source->queryArea != s.area) std::free(source->queryArea);
      source->queryArea = s.area;
      source->queryAreaCount = s.areaCount;
      r_->sourceSide[i] = s.side;
      source->queryRect = s.rect;
      source->queryRectSet = s.rectSet;
      source->queryMinLevel = s.minLevel;
      source->queryMaxLevel = s.maxLevel;
      source->queryLevelsSet = s.levelsSet;
    }
  }
  r_->lastError = lastError_;
}

std::int32_t NearSearch::SetUp() {
  radius_ = std::min(q_.radius, kMaxRadius);
  best_ = radius_ + 1;
  heading_ = NormalAngle(q_.heading);
  square_ = SearchSquare(q_.at, radius_);
  RmfQuerySetRect(r_, square_.x1, square_.y1, square_.x2, square_.y2);
  if (r_->lastError < 0) return r_->lastError;
  RmfQuerySetLevels(r_, q_.lowest, q_.highest);
  RmfQuerySetGranularity(r_, 0);  // thinning off (this reports kRmfBadArgument, which the start clears)
  // Only line features, with the classes of the caller's "R" filter.
  RmfQuerySetClassFilter(r_, 2, "");
  RmfQuerySetClassFilter(r_, 1, settings_.filterTexts[4]);
  RmfQuerySetClassFilter(r_, 0, "");
  RmfQuerySetClassFilter(r_, 3, "");
  RmfQueryStart(r_);
  RmfQuerySetNearPointMode(r_, 1);
  return 0;
}

std::int32_t NearSearch::Finish(std::int32_t failure) {
  if (failure != 0) {
    const std::int64_t written = std::min<std::int64_t>(count_, q_.capacity);
    std::memset(q_.out, 0, sizeof(RmfFeatureRef) * static_cast<std::size_t>(written));
    lastError_ = failure;
    return failure == kRmfNoMemory ? 0 : failure;
  }
  lastError_ = 0;
  if (count_ > q_.capacity && q_.overflow != nullptr) {
    *q_.overflow = static_cast<std::int32_t>(std::min<std::int64_t>(count_ - q_.capacity, INT32_MAX));
    return q_.capacity;
  }
  return static_cast<std::int32_t>(std::min<std::int64_t>(count_, INT32_MAX));
}

std::int32_t NearSearch::Run() {
  // Known on every exit, failures too.
  if (q_.overflow != nullptr) *q_.overflow = 0;
  if (!Save()) return Finish(kRmfNoMemory);
  std::int32_t failure = SetUp();
  if (failure == 0) failure = NearestStretch();
  if (failure == 0 && count_ > 0) failure = inside_ ? SettleInside() : Junction();
  return Finish(failure);
}

void NearSearch::Emit(const RmfFeatureRef& ref) {
  if (count_ < q_.capacity) q_.out[count_] = ref;
  ++count_;
}

// ---- phase 1: the nearest stretch ------------------------------------------------

std::int32_t NearSearch::NearestStretch() {
  char code[6] = "";
  for (;;) {
    std::int32_t texts = 0;
    RmfFeatureRef hit{};
    TiPoint* points = nullptr;
    const std::int32_t n = RmfQueryNext(r_, code, nullptr, nullptr, &texts, &hit, &points);
    if (n == 0) return 0;
    if (n == kRmfCancelled) return kRmfCancelled;
    // A source whose walk failed is skipped; the query goes on with the next.
    if (n < 0 || points == nullptr) continue;
    TakeHit(code, texts, hit, points, n);
  }
}

// The one-way mark of a hit: its code's, or else the first one among its
// other texts that passed the filter (streets carry the mark on their
// route-class attribute).
std::int32_t NearSearch::DirectionMark(const char* code, std::int32_t texts) {
  const std::int32_t mark = MarkOf(code);
  if (mark != 0) return mark;
  for (std::int32_t k = 1; k < texts; ++k) {
    char other[6];
    if (RmfQueryResultText(r_, k, other, nullptr, nullptr) != 1) break;
    const std::int32_t m = MarkOf(other);
    if (m != 0) return m;
  }
  return 0;
}

void NearSearch::TakeHit(const char* code, std::int32_t texts, const RmfFeatureRef& hit, const TiPoint* points,
                         std::int32_t n) {
  // The mark only matters with a heading; without one both directions count.
  const std::int32_t mark = HasHeading() ? DirectionMark(code, texts) : 0;
  TiPoint nearest{};
  std::int32_t d = 0;
  const std::int32_t r = TiPointToPolylineHeading(&q_.at, points, n, best_ + 1, 1, heading_,
                                                  HasHeading() ? q_.tolerance : -1, mark, &nearest, &d);
  if (r < 0 || r > 2 * n - 2 || d >= best_) return;
  best_ = d;
  count_ = 0;
  pendingCount_ = 0;
  inside_ = false;
  hit_ = hit;
  nearest_ = nearest;
  const std::int32_t i = r / 2;
  const bool atVertex = r % 2 == 0;
  if (atVertex) junction_ = points[i];
  if (atVertex && i >= 1) Candidate(points, n, i - 1, On::kSecond, mark);
  if (i + 1 < n) Candidate(points, n, i, atVertex ? On::kFirst : On::kInside, mark);
}

// Segment k -> k + 1 of the hit's points as a candidate: its references in
// the directions that may be meant, with the position of the nearest point.
void NearSearch::Candidate(const TiPoint* points, std::int32_t n, std::int32_t k, On on, std::int32_t mark) {
  const TiPoint& first = points[k];
  const TiPoint& second = points[k + 1];
  std::int32_t verdicts[2] = {1, -1};
  std::int32_t verdictCount = 2;
  if (HasHeading()) {
    const std::int32_t v = RmfSegmentHeadingMatch(&first, &second, heading_, q_.tolerance);
    if (v == 0 || (mark > 0 && v < 0) || (mark < 0 && v > 0)) return;
    verdicts[0] = v;
    verdictCount = 1;
  }
  const auto* vertices = r_->queryWork.vertices;
  const auto firstPosition = static_cast<std::uint16_t>(vertices[k]);
  const auto secondPosition = static_cast<std::uint16_t>(vertices[k + 1]);

  // Inside the segment: snapped to an end within the radius (the second when
  // it is nearer), else a point inside.
  if (on == On::kInside) {
    const std::int32_t dFirst = TiDistance(&q_.at, &first);
    const std::int32_t dSecond = TiDistance(&q_.at, &second);
    if (dFirst > radius_ && dSecond > radius_) {
      inside_ = true;
      segment_[0] = first;
      segment_[1] = second;
      segmentPositions_[0] = firstPosition;
      segmentPositions_[1] = secondPosition;
      segmentCut_[0] = k == 0;
      segmentCut_[1] = k + 1 == n - 1;
    } else {
      on = dSecond < dFirst ? On::kSecond : On::kFirst;
    }
  }
  if (on == On::kFirst) junction_ = first;
  if (on == On::kSecond) junction_ = second;

  for (std::int32_t j = 0; j < verdictCount; ++j) {
    const std::int32_t v = verdicts[j];
    RmfFeatureRef ref = hit_;
    ref.fromVertex = v > 0 ? firstPosition : secondPosition;
    ref.toVertex = v > 0 ? secondPosition : firstPosition;
    // At the end travel leads to: 1024; at the other: 0. Inside: settled
    // once phase 1 is over.
    const bool atTo = (on == On::kSecond) == (v > 0);
    ref.position = on == On::kInside ? 0 : static_cast<std::uint16_t>((atTo ? kArriving : kLeaving) | HeadingBit());
    if (pendingCount_ < 4) pending_[pendingCount_++] = Pending{ref, v};
    ++count_;
  }
}

// The segment's end at a vertex position of the hit's part, from its record.
bool RecordPoint(RmfFeature* slot, std::int32_t part, std::int32_t position, TiPoint* point) {
  const std::int32_t word = RmfFeatureNodeAt(slot, part, position);
  if (word < 0 || (word & rmf::detail::kAttributeWord) != 0) return false;
  return RmfFeaturePointAt(slot, word, point) == 1;
}

// Writes the references of a nearest point inside a segment: fraction f of
// the point from the segment's first end in vertex order, 1024 - f against
// it, so that both name the same point. The fraction is taken on the whole
// segment: an end that the query cut at the search square is read from the
// record.
std::int32_t NearSearch::SettleInside() {
  TiPoint ends[2] = {segment_[0], segment_[1]};
  if (segmentCut_[0] || segmentCut_[1]) {
    RmfFeature* slot = nullptr;
    const std::int32_t got = RmfFeatureFetch(r_, hit_, &slot, nullptr);
    if (got == kRmfFeatureBusy) return kRmfFeatureBusy;
    if (got == 1) {
      for (int e = 0; e < 2; ++e) {
        TiPoint p{};
        if (segmentCut_[e] && RecordPoint(slot, hit_.part, segmentPositions_[e], &p)) ends[e] = p;
      }
      rmf::detail::ReleaseFetched(slot);
    }
  }
  const std::int32_t f = FractionAlong(ends[0], ends[1], nearest_);
  count_ = 0;
  for (std::int32_t k = 0; k < pendingCount_; ++k) {
    RmfFeatureRef ref = pending_[k].ref;
    const std::int32_t fraction = pending_[k].verdict > 0 ? f : kRmfPositionWhole - f;
    ref.position = static_cast<std::uint16_t>(kRmfPositionPoint | fraction | HeadingBit());
    Emit(ref);
  }
  return 0;
}

// ---- phase 2: the junction ----------------------------------------------------------

std::int32_t NearSearch::Junction() {
  if (!parts_.Make(kFirstParts) || !positions_.Make(kFirstPositions) || !ranges_.Make(kFirstRanges)) {
    return kRmfNoMemory;
  }
  count_ = 0;
  for (std::int32_t i = 0; i < r_->sourceCount; ++i) {
    if (r_->sources[i] == nullptr || r_->sourceSide[i] == 0) continue;
    const std::int32_t failure = WalkSource(i);
    if (failure != 0) return failure;
  }
  return 0;
}

std::int32_t NearSearch::WalkSource(std::int32_t index) {
  const RmfSource* source = r_->sources[index];
  const TiRect& box = source->header.box;
  TiRect area = square_;
  if (!Inside(square_, box)) {
    const TiPoint corners[4] = {
        {square_.x1, square_.y1}, {square_.x1, square_.y2}, {square_.x2, square_.y2}, {square_.x2, square_.y1}};
    const std::int32_t n = ClipPolygonToRect(r_, box.x1, box.y1, box.x2, box.y2, corners, 4);
    if (n < 1) return 0;  // nothing of the square in the source's box
    const TiPoint* clipped = r_->queryWork.points;
    area = TiRect{clipped[0].x, clipped[0].y, clipped[0].x, clipped[0].y};
    for (std::int32_t k = 1; k < n; ++k) {
      area.x1 = std::min(area.x1, clipped[k].x);
      area.y1 = std::min(area.y1, clipped[k].y);
      area.x2 = std::max(area.x2, clipped[k].x);
      area.y2 = std::max(area.y2, clipped[k].y);
    }
  }
  // Tile levels that hold the source's data at the requested detail levels.
  std::uint32_t tileLevels = 0;
  const std::int32_t low = std::max({q_.lowest, source->minLevel, 1});
  const std::int32_t high = std::min({q_.highest, source->maxLevel, rmf::kDetailLevels});
  for (std::int32_t d = low; d <= high; ++d) tileLevels |= source->header.levelMasks[d - 1];
  if (tileLevels == 0) return 0;

  std::int32_t needed = 0;
  std::int32_t ranges = RmfTilesForRect(&area, tileLevels, ranges_.data(), ranges_.capacity(), &needed);
  if (ranges > ranges_.capacity()) {
    if (!ranges_.Make(std::max(needed, ranges))) return kRmfMalformed;
    ranges = RmfTilesForRect(&area, tileLevels, ranges_.data(), ranges_.capacity(), &needed);
  }
  if (ranges < 0 || ranges > ranges_.capacity()) return kRmfMalformed;
  for (std::int32_t k = 0; k < ranges; ++k) {
    const std::int32_t failure = WalkRange(index, ranges_.data()[k]);
    if (failure != 0) return failure;
  }
  return 0;
}

std::int32_t NearSearch::WalkRange(std::int32_t source, const RmfTileRange& range) {
  const bool dense = std::uint64_t{range.last} - range.first < kDenseRange;
  for (std::uint64_t id = range.first; id <= range.last; ++id) {
    if (!dense) {
      const std::uint32_t next = RmfSrcF6(r_->sources[source], static_cast<std::uint32_t>(id), 1);
      if (next == kNoTile || next < id || next > range.last) return 0;
      id = next;
    }
    const std::int32_t failure = WalkTile(source, static_cast<std::uint32_t>(id));
    if (failure != 0) return failure;
  }
  return 0;
}

// The tile's records (second id 0, 1, ... while another follows), each held
// in a slot only while its parts are read.
std::int32_t NearSearch::WalkTile(std::int32_t source, std::uint32_t tile) {
  for (std::uint32_t second = 0; second <= 0xFFFF; ++second) {
    const RmfFeatureRef where{tile, static_cast<std::uint16_t>(source), static_cast<std::uint16_t>(second), 0, 0, 0, 0};
    RmfFeature* slot = nullptr;
    std::int32_t more = 0;
    const std::int32_t got = RmfFeatureFetch(r_, where, &slot, &more);
    // Without a free slot no record can be read: the answer would be empty
    // for a reason that has nothing to do with the map.
    if (got == kRmfFeatureBusy) return kRmfFeatureBusy;
    if (got != 1) return 0;
    const std::int32_t failure = WalkRecord(slot);
    rmf::detail::ReleaseFetched(slot);
    if (failure != 0 || more == 0) return failure;
  }
  return 0;
}

// Every entry of the record's point array at the junction: a record written
// without shared points may hold it more than once, each used by other parts.
std::int32_t NearSearch::WalkRecord(RmfFeature* slot) {
  const std::int32_t first = RmfFeatureFindPoint(slot, junction_);
  if (first < 0) return 0;
  const std::int32_t count = RmfFeaturePointCount(slot);
  for (std::int32_t point = first; point < count; ++point) {
    TiPoint p{};
    if (RmfFeaturePointAt(slot, point, &p) != 1 || p.x != junction_.x || p.y != junction_.y) continue;
    const std::int32_t failure = WalkPoint(slot, point);
    if (failure != 0) return failure;
  }
  return 0;
}

std::int32_t NearSearch::WalkPoint(RmfFeature* slot, std::int32_t point) {
  // The parts the query would have taken: a level in the query's range and
  // a class of its line filter.
  const std::uint32_t levels = r_->queryWork.levelMask;
  const std::uint32_t classes = r_->query.classMasks[1] | r_->query.classMasks[3];
  std::int32_t total = RmfFeaturePartsAtNode(slot, point, levels, classes, parts_.data(), parts_.capacity());
  if (total > parts_.capacity()) {
    if (!parts_.Make(std::int64_t{total} + kListGrowth)) return kRmfMalformed;
    total = RmfFeaturePartsAtNode(slot, point, levels, classes, parts_.data(), parts_.capacity());
    if (total > parts_.capacity()) return kRmfMalformed;
  }
  // A part is listed once per pass through the point; its positions are
  // taken all at once, so each part is walked once.
  const std::int32_t* parts = parts_.data();
  for (std::int32_t k = 0; k < total; ++k) {
    if (k > 0 && parts[k] == parts[k - 1]) continue;
    const std::int32_t failure = WalkPart(slot, parts[k], point);
    if (failure != 0) return failure;
  }
  return 0;
}

std::int32_t NearSearch::WalkPart(RmfFeature* slot, std::int32_t part, std::int32_t point) {
  std::int32_t total = RmfFeaturePositionsOfPoint(slot, part, point, positions_.data(), positions_.capacity());
  if (total > positions_.capacity()) {
    if (!positions_.Make(std::int64_t{total} + kListGrowth)) return kRmfMalformed;
    total = RmfFeaturePositionsOfPoint(slot, part, point, positions_.data(), positions_.capacity());
    if (total > positions_.capacity()) return kRmfMalformed;
  }
  if (total < 1) return 0;
  // Without a profile every part is open both ways; asking would only build
  // the part's attribute set for nothing.
  const bool profiled = r_->profile.featureCallback != nullptr;
  const std::int32_t oneWay = HasHeading() && profiled ? RmfProfileOneWay(slot, part) : 0;
  for (std::int32_t k = 0; k < total; ++k) Neighbours(slot, part, positions_.data()[k], oneWay);
  return 0;
}

// The references of the two segments next to position q of the part: the
// one arriving from the previous vertex and the one leaving to the next.
void NearSearch::Neighbours(RmfFeature* slot, std::int32_t part, std::int32_t q, std::int32_t oneWay) {
  RmfFeatureRef ref{slot->featureId, slot->source, slot->secondId, static_cast<std::uint16_t>(part), 0, 0, 0};
  const auto here = static_cast<std::uint16_t>(q);
  for (const std::int32_t step : {-1, 1}) {
    std::int32_t at = -1;
    const std::int32_t index = RmfFeatureNextNode(slot, part, q, step, &at, nullptr);
    TiPoint other{};
    if (index < 0 || at < 0 || RmfFeaturePointAt(slot, index, &other) != 1) continue;
    const auto there = static_cast<std::uint16_t>(at);
    const bool arriving = step < 0;  // the segment from the previous vertex
    if (!HasHeading()) {
      ref.fromVertex = arriving ? there : here;
      ref.toVertex = arriving ? here : there;
      ref.position = arriving ? kArriving : kLeaving;
      Emit(ref);
      continue;
    }
    // The segment in vertex order, and whether travel along it (1) or
    // against it (-1) agrees with the heading and the part's one-way state.
    const TiPoint& low = arriving ? other : junction_;
    const TiPoint& high = arriving ? junction_ : other;
    const std::int32_t v = RmfSegmentHeadingMatch(&low, &high, heading_, q_.tolerance);
    if (v == 0 || (oneWay != 0 && v != oneWay)) continue;
    const std::uint16_t lowPosition = arriving ? there : here;
    const std::uint16_t highPosition = arriving ? here : there;
    ref.fromVertex = v > 0 ? lowPosition : highPosition;
    ref.toVertex = v > 0 ? highPosition : lowPosition;
    // The junction is the travel's end when travel arrives at it.
    const bool towardJunction = (v > 0) == arriving;
    ref.position = static_cast<std::uint16_t>((towardJunction ? kArriving : kLeaving) | kRmfPositionHeading);
    Emit(ref);
  }
}

}  // namespace

// ---- exported --------------------------------------------------------------------------

std::int32_t RmfFeaturesNear(RmfReader* reader, std::int32_t x, std::int32_t y, std::int32_t radius,
                             std::int32_t heading, std::int32_t tolerance, RmfFeatureRef* out, std::int32_t capacity,
                             std::int32_t* overflow) {
  return RmfFeaturesNearPointLevels(reader, x, y, radius, heading, tolerance, 1, rmf::kDetailLevels, out, capacity,
                                    overflow);
}

std::int32_t RmfFeaturesNearPointLevels(RmfReader* reader, std::int32_t x, std::int32_t y, std::int32_t radius,
                                        std::int32_t heading, std::int32_t tolerance, std::int32_t lowest,
                                        std::int32_t highest, RmfFeatureRef* out, std::int32_t capacity,
                                        std::int32_t* overflow) {
  if (!rmf::detail::ReaderAlive(reader)) return 0;
  const Request q{TiPoint{x, y}, radius, heading, tolerance, lowest, highest, out, capacity, overflow};
  if (!ArgumentsValid(q)) return rmf::detail::FailWith(reader, kRmfBadArgument);
  reader->lastError = 0;
  return RmfFeaturesNearPoint(reader, x, y, radius, heading, tolerance, lowest, highest, out, capacity, overflow);
}

std::int32_t RmfFeaturesNearPoint(RmfReader* reader, std::int32_t x, std::int32_t y, std::int32_t radius,
                                  std::int32_t heading, std::int32_t tolerance, std::int32_t lowest,
                                  std::int32_t highest, RmfFeatureRef* out, std::int32_t capacity,
                                  std::int32_t* overflow) {
  if (!rmf::detail::ReaderAlive(reader)) return 0;
  const Request q{TiPoint{x, y}, radius, heading, tolerance, lowest, highest, out, capacity, overflow};
  if (!ArgumentsValid(q)) return rmf::detail::FailWith(reader, kRmfBadArgument);
  NearSearch search(reader, q);
  return search.Run();
}

std::int32_t RmfAngleWithin(std::int32_t angle, std::int32_t reference, std::int32_t tolerance) {
  const std::int64_t low = std::int64_t{reference} - tolerance;
  const std::int64_t high = std::int64_t{reference} + tolerance;
  std::int64_t a = angle;
  if (a < low) {
    a += kTiFullTurn;
  } else if (a > high) {
    a -= kTiFullTurn;
  }
  return a >= low && a <= high ? 1 : 0;
}

std::int32_t RmfSegmentHeadingMatch(const TiPoint* a, const TiPoint* b, std::int32_t heading, std::int32_t tolerance) {
  if (a == nullptr || b == nullptr) return 0;
  const std::int32_t direction = TiHeading(a, b);
  const std::int32_t along = NormalAngle(heading);
  if (RmfAngleWithin(direction, along, tolerance) == 1) return 1;
  if (RmfAngleWithin(direction, NormalAngle(std::int64_t{along} + kHalfTurn), tolerance) == 1) return -1;
  return 0;
}

std::int32_t RmfFeaturePartsAtNode(RmfFeature* slot, std::int32_t pointIndex, std::uint32_t maskA, std::uint32_t maskB,
                                   std::int32_t* parts, std::int32_t capacity) {
  if (!rmf::detail::FeatureSlotUsed(slot) || (parts == nullptr && capacity > 0)) return kRmfBadArgument;
  if (pointIndex < 0 || pointIndex >= slot->pointCount) return 0;
  std::int32_t total = 0;
  for (std::int32_t p = 0; p < slot->partCount; ++p) {
    rmf::detail::PartView v;
    if (rmf::detail::DecodePart(slot, p, &v) < 0) continue;
    if ((v.classBits & maskA) == 0 || (v.classBits & maskB) == 0) continue;
    for (std::int32_t i = 0; i < v.wordCount; ++i) {
      if (rmf::detail::LoadU16(v.words + 2 * i) != pointIndex) continue;
      if (total < capacity) parts[total] = p;
      ++total;
    }
  }
  return total;
}
