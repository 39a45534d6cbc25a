// Pieces of the per-tile routing tables that the table code and the stretch
// walks share: holding a table or a feature slot for the length of a scope,
// the key of a block, and the node of a point index with aliases resolved.
#pragma once

#include <cstdint>

#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/features/RmfProfile.h"
#include "mapengine/format/route/RmfFeatCache.h"
#include "mapengine/format/route/RmfRouteRecord.h"
#include "mapengine/format/route/RmfTileRouteTable.h"

namespace rmf::detail {

// The traversal record of one direction (kRmfTravelLower / kRmfTravelHigher)
// from the profile's feature answer: class, group code, restricted-entry
// mark, cost factor, and in time-dependent mode the time words.
RmfTraversal TraversalOf(const RmfFeatureAnswer& answer, std::int32_t direction, bool timeDependent);

inline RmfFeatKey BlockKey(std::uint32_t tile, std::uint16_t source, std::uint16_t sequence) {
  return RmfFeatKey{tile, source, sequence};
}
inline bool SameKey(const RmfFeatKey& a, const RmfFeatKey& b) { return a.a == b.a && a.b == b.b && a.c == b.c; }
inline RmfFeatKey KeyOfTable(const RmfTileRouteTable* t) { return BlockKey(t->tileId, t->source, t->blockNumber); }
inline RmfFeatKey KeyOfSlot(const RmfFeature* slot) { return BlockKey(slot->featureId, slot->source, slot->secondId); }
// The key of a block named by a feature id and a second id word (source in
// the low half, record sequence in the high half), and back.
inline RmfFeatKey KeyOf(std::uint32_t featureId, std::uint32_t secondId) {
  return RmfFeatKey{featureId, static_cast<std::uint16_t>(secondId & 0xFFFF), static_cast<std::uint16_t>(secondId >> 16)};
}
inline std::uint32_t SecondIdOf(const RmfFeatKey& key) { return key.b | (static_cast<std::uint32_t>(key.c) << 16); }

// The point of the vertex at `position` of the slot's part: 1, or 0 when the
// position holds no vertex.
inline std::int32_t VertexPoint(RmfFeature* slot, std::int32_t part, std::int32_t position, TiPoint* at) {
  const std::int32_t word = RmfFeatureNodeAt(slot, part, position);
  if (word < 0 || word >= 0x8000) return 0;
  return RmfFeaturePointAt(slot, word, at) == 1 ? 1 : 0;
}

// The node of a point index: the index itself, or the node an alias names;
// -1 outside the table.
inline std::int32_t NodeOfPoint(const RmfTileRouteTable* t, std::int32_t point) {
  if (point < 0 || point >= t->nodeCount) return -1;
  const std::uint32_t* w = RmfTableNodeWords(t, point);
  if ((w[1] & kRmfNodeAlias) == 0) return point;
  const auto named = static_cast<std::int32_t>(w[0]);
  return named >= 0 && named < t->nodeCount ? named : -1;
}

inline bool RectsMeet(const TiRect& a, const TiRect& b) {
  return a.x1 <= b.x2 && b.x1 <= a.x2 && a.y1 <= b.y2 && b.y1 <= a.y2;
}

// Whether the source may be used: enabled and its box meets the rectangle.
inline bool SourceUsable(const RmfRoute* route, std::int32_t source, const TiRect& rect) {
  if (source < 0 || source >= route->sourceCount || route->sourceBoxes == nullptr) return false;
  if (route->sourceEnable != nullptr && route->sourceEnable[source] == 0) return false;
  return RectsMeet(route->sourceBoxes[source], rect);
}

// The tile levels a source holds (bit L for tile level L); 0 when unknown.
std::uint32_t SourceTileLevels(const RmfRoute* route, std::int32_t source);

// A table held for the length of a scope.
class HeldTable {
 public:
  explicit HeldTable(RmfRoute* route) : route_(route) {}
  ~HeldTable() { Reset(); }
  HeldTable(const HeldTable&) = delete;
  HeldTable& operator=(const HeldTable&) = delete;
  // Builds (level < 0) or gets joined down to `level`: the code of the call.
  std::int32_t Take(RmfFeatKey key, std::int32_t level);
  void Reset();
  RmfTileRouteTable* get() const { return table_; }

 private:
  RmfRoute* route_;
  RmfTileRouteTable* table_ = nullptr;
};

// A feature slot held for the length of a scope.
class HeldSlot {
 public:
  HeldSlot() = default;
  ~HeldSlot() { Reset(); }
  HeldSlot(const HeldSlot&) = delete;
  HeldSlot& operator=(const HeldSlot&) = delete;
  // 1 when fetched; 0 when the record is absent; a negative code otherwise.
  std::int32_t Fetch(RmfReader* reader, RmfFeatKey key, std::int32_t* continues);
  void Reset() {
    if (slot_ != nullptr) (void)RmfFeatureRelease(slot_);
    slot_ = nullptr;
  }
  RmfFeature* get() const { return slot_; }

 private:
  RmfFeature* slot_ = nullptr;
};

}  // namespace rmf::detail
