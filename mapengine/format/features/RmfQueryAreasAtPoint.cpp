// The area search at a point and the tile and list routines it uses, and the
// query's use of it: the area around a query polygon that no ring crosses.
//
// The search runs in three steps. The nearest held tile around the point
// (on any level from the start level up, the point's own tile first) gives
// the nearest node of the features there. A ray from the point to that node
// is followed down the tile tree, nearest tiles first, through every tile
// that straddles it and holds data; each feature segment those tiles hold
// is tested against the ray in the ray's octant frame, and the segments
// crossed nearest to the point are kept (of those meeting it at one place,
// the ones leaving it most nearly back toward the point: where the ray meets
// a vertex, that segment bounds the wedge the point looks into, so its side
// is the point's side). Because the node ends a segment of its own, the ray always
// meets something no farther than the node.
//
// The filter decides which parts take part. The query uses its own when the
// reader has none: only parts whose codes name an area of the query's area
// filter, so that streets and other areas between the point and the wanted
// area's boundary do not hide that boundary.
#include "mapengine/format/features/RmfQueryAreasAtPoint.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "mapengine/format/base/TiMath.h"
#include "mapengine/format/base/TiUnits.h"
#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/features/RmfFeatureAttr.h"
#include "mapengine/format/features/RmfFeatureInternal.h"
#include "mapengine/format/features/RmfQueryInternal.h"
#include "mapengine/format/store/RmfReader.h"
#include "mapengine/format/store/RmfSource.h"
#include "mapengine/format/store/RmfTile.h"

namespace {

using i128 = __int128;
using u128 = unsigned __int128;

constexpr std::uint32_t kNoTile = 0xFFFFFFFFu;
constexpr std::int32_t kTilePool = 63;
constexpr std::int32_t kMaxTileLevel = 15;
constexpr std::uint32_t kCodeListBytes = 128;
constexpr std::uint32_t kTextListBytes = 1024;

using rmf::detail::ReaderAlive;

std::int32_t Saturate(std::int64_t v) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
}

bool Holds(RmfSource* source, std::uint32_t tile) { return RmfSrcF6(source, tile, 1) == tile; }

// ---- exact fractions ----

using rmf::query::Compare;
using rmf::query::Fraction;

u128 Magnitude(i128 v) { return v < 0 ? static_cast<u128>(-v) : static_cast<u128>(v); }

// ---- the search ----

struct Frame {
  TiPoint origin;
  std::int32_t octant;
  std::int64_t U;
  std::int64_t V;
  std::int32_t parity;  // +1 when the frame keeps orientation, -1 when it mirrors it
};

struct Uv {
  std::int64_t u;
  std::int64_t v;
};

Uv ToFrame(const Frame& f, const TiPoint& p) {
  std::int64_t x = std::int64_t{p.x} - f.origin.x;
  std::int64_t y = std::int64_t{p.y} - f.origin.y;
  if ((f.octant & 1) != 0) x = -x;
  if ((f.octant & 2) != 0) y = -y;
  return (f.octant & 4) != 0 ? Uv{y, x} : Uv{x, y};
}

int SideOfRay(const Frame& f, const Uv& p) {
  const i128 c = static_cast<i128>(f.U) * p.v - static_cast<i128>(f.V) * p.u;
  return (c > 0) - (c < 0);
}

std::uint32_t BoxBits(const Frame& f, const Uv& p) {
  std::uint32_t b = 0;
  if (p.u < 0) b |= 4;
  if (p.u > f.U) b |= 1;
  if (p.v < 0) b |= 8;
  if (p.v > f.V) b |= 2;
  return b;
}

struct Hit {
  RmfFeatureRef ref;
  Fraction along;  // where along the ray (0 the point, 1 the node)
  std::int32_t key;
};

class Search {
 public:
  Search(RmfReader* reader, std::int32_t first, std::int32_t end, std::int32_t startLevel, RmfAreaFilterFn filter,
         void* context, RmfFeatureRef* results, std::int32_t capacity)
      : r_(reader),
        first_(first),
        end_(end),
        startLevel_(startLevel),
        filter_(filter),
        context_(context),
        results_(results),
        capacity_(capacity) {}

  std::int32_t Run(const TiPoint& point);

 private:
  // Calls `visit` (slot, part) for every part of every record of the tile
  // in the source that passes the filter; false when the filter failed.
  template <typename Visit>
  bool ForEachPart(std::int32_t source, std::uint32_t tile, Visit visit);
  bool NearestNode(const TiPoint& point, TiPoint* node);
  bool CrossingsInTile(std::uint32_t tile);
  void Offer(const Hit& h);

  RmfReader* r_;
  std::int32_t first_;
  std::int32_t end_;
  std::int32_t startLevel_;
  RmfAreaFilterFn filter_;
  void* context_;
  RmfFeatureRef* results_;
  std::int32_t capacity_;
  Frame frame_{};
  Hit hits_[64]{};
  std::int32_t hitCount_ = 0;
  bool haveBest_ = false;
  Fraction best_{0, 1};
  std::int32_t bestKey_ = 0;
  bool failed_ = false;
};

template <typename Visit>
bool Search::ForEachPart(std::int32_t source, std::uint32_t tile, Visit visit) {
  char codes[kCodeListBytes];
  char values[kTextListBytes];
  char names[kTextListBytes];
  for (std::uint32_t sequence = 0; sequence <= 0xffff; ++sequence) {
    RmfFeatureRef ref{};
    ref.featureId = tile;
    ref.source = static_cast<std::uint16_t>(source);
    ref.secondId = static_cast<std::uint16_t>(sequence);
    ref.position = 1024;
    RmfFeature* slot = nullptr;
    std::int32_t continues = 0;
    if (RmfFeatureFetch(r_, ref, &slot, &continues) != 1 || slot == nullptr) return true;
    const std::int32_t parts = RmfFeaturePartCount(slot);
    for (std::int32_t part = 0; part < parts; ++part) {
      ref.part = static_cast<std::uint16_t>(part);
      if (filter_ != nullptr) {
        const std::int32_t count =
            RmfFeatureAttributesAllBounded(r_, ref, codes, sizeof codes, values, sizeof values, names, sizeof names);
        if (count < 0) continue;  // attributes beyond the lists: not a part the filter can judge
        const std::int32_t verdict = filter_(context_, count, codes, values, names);
        if (verdict < 0) {
          rmf::detail::ReleaseFetched(slot);
          return false;
        }
        if (verdict == 0) continue;
      }
      if (RmfFeatureSelectPart(slot, part, 0, nullptr) != 0) continue;
      visit(slot, part);
    }
    rmf::detail::ReleaseFetched(slot);
    if (continues == 0) return true;
  }
  return true;
}

bool Search::NearestNode(const TiPoint& point, TiPoint* node) {
  struct Candidate {
    std::uint32_t tile;
    std::int64_t distance;
    std::int32_t level;
    std::int32_t side;  // 0 the point's own, -1 below, +1 above
  };
  Candidate candidates[3 * (kMaxTileLevel + 1)];
  std::int32_t count = 0;
  const auto distanceTo = [&](std::uint32_t tile) {
    TiRect rect{};
    if (RmfTileRect(tile, &rect) != 1) return INT64_MAX;
    const std::int64_t gx =
        std::max<std::int64_t>({0, std::int64_t{rect.x1} - point.x, std::int64_t{point.x} - rect.x2});
    const std::int64_t gy =
        std::max<std::int64_t>({0, std::int64_t{rect.y1} - point.y, std::int64_t{point.y} - rect.y2});
    return std::max(gx, gy);
  };
  for (std::int32_t level = startLevel_; level <= kMaxTileLevel; ++level) {
    const std::uint32_t own = RmfTileIdOfPoint(&point, static_cast<std::uint32_t>(level));
    bool held = false;
    for (std::int32_t s = first_; s < end_ && !held; ++s) held = Holds(r_->sources[s], own);
    if (held) {
      candidates[count++] = Candidate{own, 0, level, 0};
      continue;
    }
    const std::uint32_t below = RmfTileNeighbour(r_, first_, end_, own, -1);
    const std::uint32_t above = RmfTileNeighbour(r_, first_, end_, own, 1);
    if (below != kNoTile) candidates[count++] = Candidate{below, distanceTo(below), level, -1};
    if (above != kNoTile) candidates[count++] = Candidate{above, distanceTo(above), level, 1};
  }
  std::stable_sort(candidates, candidates + count, [](const Candidate& a, const Candidate& b) {
    if (a.distance != b.distance) return a.distance < b.distance;
    if (a.level != b.level) return a.level < b.level;
    return a.side < b.side;
  });
  for (std::int32_t c = 0; c < count; ++c) {
    bool found = false;
    std::int64_t best = INT64_MAX;
    for (std::int32_t s = first_; s < end_; ++s) {
      if (!Holds(r_->sources[s], candidates[c].tile)) continue;
      const bool ok = ForEachPart(s, candidates[c].tile, [&](RmfFeature* slot, std::int32_t part) {
        std::int32_t position = -1;
        for (;;) {
          const std::int32_t index = RmfFeatureNextNode(slot, part, position, 1, &position, nullptr);
          if (index < 0) break;
          TiPoint p{};
          if (RmfFeaturePointAt(slot, index, &p) != 1) continue;
          const std::int64_t d = std::llabs(std::int64_t{p.x} - point.x) + std::llabs(std::int64_t{p.y} - point.y);
          if (d < best) {
            best = d;
            *node = p;
            found = true;
          }
        }
      });
      if (!ok) {
        failed_ = true;
        return false;
      }
    }
    if (found) return true;
  }
  return false;
}

// The nearest crossings win; of crossings at one place, the segments that
// leave it most nearly back toward the point (the lowest key), all of them
// when their keys are equal (segments lying on one line, such as the shared
// edge of two neighbouring areas).
void Search::Offer(const Hit& h) {
  if (haveBest_) {
    const int order = Compare(h.along, best_);
    if (order > 0 || (order == 0 && h.key > bestKey_)) return;
    if (order < 0 || h.key < bestKey_) hitCount_ = 0;
  }
  haveBest_ = true;
  best_ = h.along;
  bestKey_ = h.key;
  if (hitCount_ < static_cast<std::int32_t>(std::size(hits_))) hits_[hitCount_++] = h;
}

// Key of a segment met at point x of the ray: how far its direction from
// there (toward `away`) turns from the way back to the point. Vectors beyond
// 32 bits are scaled down alike, which keeps their direction.
std::int32_t BackKey(const Uv& x, const Uv& away) {
  std::int64_t bu = -x.u;
  std::int64_t bv = -x.v;
  std::int64_t au = away.u - x.u;
  std::int64_t av = away.v - x.v;
  while (std::max({std::llabs(bu), std::llabs(bv)}) > INT32_MAX / 2 ||
         std::max({std::llabs(au), std::llabs(av)}) > INT32_MAX / 2) {
    bu /= 2;
    bv /= 2;
    au /= 2;
    av /= 2;
  }
  const TiVector back{static_cast<std::int32_t>(bu), static_cast<std::int32_t>(bv)};
  const TiVector out{static_cast<std::int32_t>(au), static_cast<std::int32_t>(av)};
  if ((back.dx == 0 && back.dy == 0) || (out.dx == 0 && out.dy == 0)) return 0;
  return RmfTurnKey(&back, &out, 2);
}

bool Search::CrossingsInTile(std::uint32_t tile) {
  for (std::int32_t s = first_; s < end_; ++s) {
    if (!Holds(r_->sources[s], tile)) continue;
    const bool ok = ForEachPart(s, tile, [&](RmfFeature* slot, std::int32_t part) {
      std::int32_t position = -1;
      std::int32_t previousPosition = -1;
      Uv a{};
      for (;;) {
        std::int32_t found = -1;
        const std::int32_t index = RmfFeatureNextNode(slot, part, position, 1, &found, nullptr);
        if (index < 0) break;
        position = found;
        TiPoint p{};
        if (RmfFeaturePointAt(slot, index, &p) != 1) continue;
        const Uv b = ToFrame(frame_, p);
        if (previousPosition >= 0) {
          const std::int32_t sa = SideOfRay(frame_, a);
          const std::int32_t sb = SideOfRay(frame_, b);
          const bool passed = (BoxBits(frame_, a) & BoxBits(frame_, b)) != 0 || (sa != 0 && sa == sb);
          if (!passed) {
            // Where the segment meets the ray: lambda = cross(a, s) / cross(ray, s).
            const i128 su = b.u - a.u;
            const i128 sv = b.v - a.v;
            const i128 num = static_cast<i128>(a.u) * sv - static_cast<i128>(a.v) * su;
            const i128 den = static_cast<i128>(frame_.U) * sv - static_cast<i128>(frame_.V) * su;
            Hit h{};
            bool onRay = false;
            if (den == 0) {
              onRay = true;  // along the ray: taken at the node
              h.along = Fraction{1, 1};
            } else if ((num == 0 || (num > 0) == (den > 0)) && Magnitude(num) <= Magnitude(den)) {
              h.along = Fraction{Magnitude(num), Magnitude(den)};
            } else {
              a = b;
              previousPosition = position;
              continue;
            }
            // Oriented with the point on its right: the end left of the ray
            // (seen in the map's own frame) first.
            const std::int32_t la = sa * frame_.parity;
            const std::int32_t lb = sb * frame_.parity;
            const bool aFirst = onRay ? a.u <= b.u : (la > lb);
            h.ref.featureId = tile;
            h.ref.source = static_cast<std::uint16_t>(s);
            h.ref.secondId = slot->secondId;
            h.ref.part = static_cast<std::uint16_t>(part);
            h.ref.fromVertex = static_cast<std::uint16_t>(aFirst ? previousPosition : position);
            h.ref.toVertex = static_cast<std::uint16_t>(aFirst ? position : previousPosition);
            h.ref.position = 1024;
            // The segment's end off the ray (the one to the left when both
            // are) decides its key.
            const Uv x{static_cast<std::int64_t>(frame_.U * static_cast<double>(h.along.num) /
                                                 static_cast<double>(h.along.den)),
                       static_cast<std::int64_t>(frame_.V * static_cast<double>(h.along.num) /
                                                 static_cast<double>(h.along.den))};
            const Uv& away = sa == 0 ? b : (sb == 0 ? a : (sa > 0 ? a : b));
            h.key = BackKey(x, away);
            Offer(h);
          }
        }
        a = b;
        previousPosition = position;
      }
    });
    if (!ok) {
      failed_ = true;
      return false;
    }
  }
  return true;
}

std::int32_t Search::Run(const TiPoint& point) {
  TiPoint node{};
  if (!NearestNode(point, &node)) return failed_ ? -1 : 0;
  const std::int64_t dx = std::int64_t{node.x} - point.x;
  const std::int64_t dy = std::int64_t{node.y} - point.y;
  if (dx == 0 && dy == 0) return 0;  // the point is a node: it lies on a boundary
  frame_.origin = point;
  frame_.octant = (dx < 0 ? 1 : 0) | (dy < 0 ? 2 : 0) | (std::llabs(dx) < std::llabs(dy) ? 4 : 0);
  frame_.U = std::max(std::llabs(dx), std::llabs(dy));
  frame_.V = std::min(std::llabs(dx), std::llabs(dy));
  const int flips = (frame_.octant & 1) + ((frame_.octant >> 1) & 1) + ((frame_.octant >> 2) & 1);
  frame_.parity = flips % 2 == 0 ? 1 : -1;

  // The tiles along the ray, nearest first.
  RmfTileNode pool[kTilePool];
  std::int32_t freeList[kTilePool];
  std::int32_t freeCount = 0;
  for (std::int32_t i = kTilePool - 1; i >= 0; --i) freeList[freeCount++] = i;
  RmfSortedList list{0, 0, RmfCompareDistance, nullptr, pool, sizeof(RmfTileNode), kTilePool};
  const auto push = [&](std::uint32_t tile, const std::int32_t offsets[4], std::int32_t level) {
    if (freeCount == 0) return false;
    RmfTileNode& n = pool[freeList[--freeCount]];
    n = RmfTileNode{0, tile, offsets[0], {offsets[0], offsets[1], offsets[2], offsets[3]}, level};
    (void)RmfSortedListInsert(&list, &n);  // refuses only a null list or node
    return true;
  };
  std::int32_t worldOffsets[4];
  // The world tile has offsets from every point in every octant frame.
  (void)RmfTileOctantOffsets(kRmfWorldTileId, &point, frame_.octant, worldOffsets);
  push(kRmfWorldTileId, worldOffsets, kMaxTileLevel);
  while (list.head != 0) {
    const std::int32_t index = static_cast<std::int32_t>(list.head) - 1;
    const RmfTileNode taken = pool[index];
    list.head = taken.link;
    freeList[freeCount++] = index;
    // Nothing in this tile or after it lies nearer than the best crossing.
    if (haveBest_ &&
        Compare(Fraction{static_cast<u128>(std::max(taken.distance, 0)), static_cast<u128>(frame_.U)}, best_) > 0) {
      break;
    }
    if (!CrossingsInTile(taken.tile)) return -1;
    if (taken.level <= startLevel_) continue;
    std::uint32_t childFirst = 0;
    std::uint32_t childLast = 0;
    if (RmfTileChildren(taken.tile, &childFirst, &childLast) <= 0) continue;
    for (std::uint32_t child = childFirst;; ++child) {
      std::int32_t o[4];
      if (RmfTileOctantOffsets(child, &point, frame_.octant, o) == 1 && o[2] >= 0 && o[3] >= 0 && o[0] <= frame_.U &&
          o[1] <= frame_.V) {
        // The child's box straddles the ray.
        const i128 lowRight = static_cast<i128>(frame_.U) * o[1] - static_cast<i128>(frame_.V) * o[2];
        const i128 highLeft = static_cast<i128>(frame_.U) * o[3] - static_cast<i128>(frame_.V) * o[0];
        if (lowRight <= 0 && highLeft >= 0 && RmfTileRangeHasData(r_, first_, end_, child, startLevel_) == 1 &&
            !push(child, o, taken.level - 1)) {
          return kRmfMalformed;
        }
      }
      if (child == childLast) break;
    }
  }
  std::int32_t n = 0;
  for (std::int32_t i = 0; i < hitCount_ && n < capacity_; ++i) results_[n++] = hits_[i].ref;
  return n;
}

// The query's own filter: parts with a code of an area class of the area
// filter at a level of the query's range.
std::int32_t WantedAreas(void* context, std::int32_t count, const char* codes, const char*, const char*) {
  const auto* reader = static_cast<const RmfReader*>(context);
  const char* code = codes;
  for (std::int32_t i = 0; i < count; ++i, code += std::strlen(code) + 1) {
    if (std::strlen(code) < 3 || code[2] != '2') continue;
    const std::int32_t level = code[0] - '0';
    const std::int32_t klass = code[1] - '0';
    if (level < std::max(reader->query.levelLow, 1) || level > std::min(reader->query.levelHigh, 8)) continue;
    if (klass < 1 || klass > 7) continue;
    if ((reader->query.classMasks[2] & (0x1010000u << (klass - 1))) != 0) return 1;
  }
  return 0;
}

}  // namespace

namespace rmf::query {

bool AreaAroundCentre(RmfReader* reader, const TiRect& box, RmfQueryText* text) {
  const TiPoint centre{static_cast<std::int32_t>((std::int64_t{box.x1} + box.x2) / 2),
                       static_cast<std::int32_t>((std::int64_t{box.y1} + box.y2) / 2)};
  RmfAreaFilterFn filter = reader->queryWork.areaFilter;
  void* context = reader->queryWork.areaFilterContext;
  if (filter == nullptr) {
    filter = WantedAreas;
    context = reader;
  }
  // At most 16 areas around the centre, from tile level 1 up.
  RmfFeatureRef found[16];
  const std::int32_t n = RmfAreasAtPoint(reader, reader->querySource, &centre, 1, filter, context, found, 16);
  for (std::int32_t i = 0; i < n; ++i) {
    char code[kRmfAttrCodeChars + 1];
    char value[kRmfAttrValueChars + 1];
    char name[kRmfAttrNameChars + 1];
    for (std::int32_t k = 0; RmfFeatureAttribute(reader, found[i], k, code, value, name) >= 1; ++k) {
      if (std::strlen(code) < 4 || code[2] != '2' || code[3] != '+') continue;
      const std::int32_t level = code[0] - '0';
      const std::int32_t klass = code[1] - '0';
      if (level < std::max(reader->query.levelLow, 1) || level > std::min(reader->query.levelHigh, 8)) continue;
      if (klass < 1 || klass > 7 || (reader->query.classMasks[2] & (0x1010000u << (klass - 1))) == 0) continue;
      std::snprintf(text->code, sizeof text->code, "%s", code);
      std::snprintf(text->name, sizeof text->name, "%s", value);
      std::snprintf(text->detail, sizeof text->detail, "%s", name);
      return true;
    }
  }
  return false;
}

}  // namespace rmf::query

std::int32_t RmfAreasAtPoint(RmfReader* reader, std::int32_t source, const TiPoint* point, std::int32_t startLevel,
                             RmfAreaFilterFn filter, void* context, RmfFeatureRef* results, std::int32_t capacity) {
  if (!ReaderAlive(reader)) return kRmfBadArgument;
  if (source >= reader->sourceCount || point == nullptr || results == nullptr || capacity < 1 || startLevel < 0 ||
      startLevel > kMaxTileLevel) {
    return kRmfBadArgument;
  }
  if (point->x < -(1 << 27) || point->x > (1 << 27) || point->y < -(1 << 26) || point->y > (1 << 26)) {
    return kRmfBadArgument;
  }
  const std::int32_t first = source < 0 ? 0 : source;
  const std::int32_t end = source < 0 ? reader->sourceCount : source + 1;
  for (std::int32_t s = first; s < end; ++s) {
    if (reader->sources[s] == nullptr) return kRmfBadArgument;
  }

  std::int16_t usesBefore[kRmfFeatureSlots];
  for (std::int32_t i = 0; i < kRmfFeatureSlots; ++i) usesBefore[i] = reader->featureSlots[i].useCount;
  Search search(reader, first, end, startLevel, filter, context, results, capacity);
  const std::int32_t result = search.Run(*point);
  // Every feature fetched must have been released again.
  bool leftHeld = false;
  for (std::int32_t i = 0; i < kRmfFeatureSlots; ++i) {
    while (reader->featureSlots[i].useCount > usesBefore[i]) {
      leftHeld = true;
      if (RmfFeatureRelease(&reader->featureSlots[i]) != 1) break;
    }
  }
  return leftHeld ? kRmfMalformed : result;
}

std::uint32_t RmfTileNeighbour(RmfReader* reader, std::int32_t first, std::int32_t end, std::uint32_t tile,
                               std::int32_t direction) {
  if (!ReaderAlive(reader)) return kNoTile;
  const std::int32_t level = RmfTileLevel(tile);
  if (level < 0) return kNoTile;
  const std::uint32_t next = direction < 0 ? tile - 1 : tile + 1;
  if (RmfTileLevel(next) != level) return kNoTile;
  first = std::max(first, 0);
  end = std::min(end, reader->sourceCount);
  std::uint32_t best = kNoTile;
  for (std::int32_t s = first; s < end; ++s) {
    if (reader->sources[s] == nullptr) continue;
    const std::uint32_t c = RmfSrcF6(reader->sources[s], next, direction < 0 ? -1 : 1);
    if (c == kNoTile || RmfTileLevel(c) != level) continue;
    if (best == kNoTile || (direction < 0 ? c > best : c < best)) best = c;
  }
  return best;
}

std::int32_t RmfTileRangeHasData(RmfReader* reader, std::int32_t first, std::int32_t end, std::uint32_t tile,
                                 std::int32_t startLevel) {
  if (!ReaderAlive(reader)) return 0;
  const std::int32_t own = RmfTileLevel(tile);
  if (own < 0) return 0;
  first = std::max(first, 0);
  end = std::min(end, reader->sourceCount);
  for (std::int32_t level = std::max(startLevel, 0); level <= own; ++level) {
    RmfTileRange range{};
    if (RmfTileIdRange(tile, static_cast<std::uint32_t>(level), &range) != 1) return 0;
    for (std::int32_t s = first; s < end; ++s) {
      if (reader->sources[s] == nullptr) continue;
      const std::uint32_t c = RmfSrcF6(reader->sources[s], range.first, 1);
      if (c != kNoTile && c <= range.last) return 1;
    }
  }
  return 0;
}

std::int32_t RmfTileOctantOffsets(std::uint32_t tile, const TiPoint* point, std::int32_t direction, std::int32_t* out) {
  if (point == nullptr || out == nullptr || direction < 0 || direction > 7) return kRmfBadArgument;
  TiRect r{};
  const std::int32_t ok = RmfTileRect(tile, &r);
  if (ok != 1) return ok;
  std::int64_t xlo = std::int64_t{r.x1} - point->x;
  std::int64_t xhi = std::int64_t{r.x2} - point->x;
  std::int64_t ylo = std::int64_t{r.y1} - point->y;
  std::int64_t yhi = std::int64_t{r.y2} - point->y;
  if ((direction & 1) != 0) {
    const std::int64_t t = xlo;
    xlo = -xhi;
    xhi = -t;
  }
  if ((direction & 2) != 0) {
    const std::int64_t t = ylo;
    ylo = -yhi;
    yhi = -t;
  }
  if ((direction & 4) != 0) {
    std::swap(xlo, ylo);
    std::swap(xhi, yhi);
  }
  out[0] = Saturate(xlo);
  out[1] = Saturate(ylo);
  out[2] = Saturate(xhi);
  out[3] = Saturate(yhi);
  return 1;
}

std::int32_t RmfTurnKey(const TiVector* a, const TiVector* b, std::int32_t mode) {
  if (a == nullptr || b == nullptr || mode < 0 || mode > 2) return 0;
  std::int32_t d = TiAtan2(b->dy, b->dx) - TiAtan2(a->dy, a->dx);
  if (d >= kTiHalfTurn) d -= 2 * kTiHalfTurn;
  if (d < -kTiHalfTurn) d += 2 * kTiHalfTurn;
  const auto straightest = [](std::int32_t t) { return t >= 0 ? 2 * t + 1 : -2 * t; };
  const auto sharpest = [](std::int32_t t) { return t >= 0 ? 2 * (kTiHalfTurn - t) : 2 * (kTiHalfTurn + t) + 1; };
  switch (mode) {
    case 0:
      return sharpest(d);
    case 2:
      return straightest(d);
    default:
      return (d >= 0 ? d < kTiQuarterTurn : d >= -kTiQuarterTurn) ? straightest(d) : sharpest(d);
  }
}

std::int32_t RmfSortedListInsert(RmfSortedList* list, void* node) {
  if (list == nullptr || node == nullptr || list->compare == nullptr || list->pool == nullptr || list->nodeSize < 4)
    return 0;
  auto* base = static_cast<std::uint8_t*>(list->pool);
  const auto offset = static_cast<std::size_t>(list->linkOffset);
  const std::ptrdiff_t at = static_cast<std::uint8_t*>(node) - base;
  if (at < 0 || at % list->nodeSize != 0 || at / list->nodeSize >= list->poolCount) return 0;
  const auto handle = static_cast<std::uint32_t>(at / list->nodeSize + 1);
  const auto linkOf = [&](std::uint32_t h) {
    return reinterpret_cast<std::uint32_t*>(base + (h - 1) * static_cast<std::size_t>(list->nodeSize) + offset);
  };
  std::uint32_t* link = &list->head;
  while (*link != 0) {
    const void* existing = base + (*link - 1) * static_cast<std::size_t>(list->nodeSize);
    if (list->compare(node, existing, list->context, list->linkOffset) < 1) break;
    link = linkOf(*link);
  }
  *linkOf(handle) = *link;
  *link = handle;
  return 1;
}

std::int32_t RmfCompareDistance(const void* a, const void* b, void*, std::int32_t) {
  if (a == nullptr || b == nullptr) return 0;
  std::int32_t da = 0;
  std::int32_t db = 0;
  std::memcpy(&da, static_cast<const std::uint8_t*>(a) + 8, sizeof da);
  std::memcpy(&db, static_cast<const std::uint8_t*>(b) + 8, sizeof db);
  return (da > db) - (da < db);
}
