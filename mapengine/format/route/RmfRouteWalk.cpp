// Stretch walks over the per-tile routing tables: the walk from a node to
// the next junction of a level (crossing onto parts that merely continue
// the one walked), the next-junction walk with an optional box, the
// junction-between test, the junction degree of a point read from the
// record itself, and the part ends at a node.
#include "mapengine/format/route/RmfRouteWalk.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "mapengine/format/RmfInternal.h"
#include "mapengine/format/base/TiGeometry.h"
#include "mapengine/format/features/RmfFeatureAttr.h"
#include "mapengine/format/features/RmfProfile.h"
#include "mapengine/format/store/RmfTile.h"
#include "mapengine/format/route/RmfRouteInternal.h"
#include "mapengine/format/route/RmfTileRouteTableInternal.h"

using rmf::detail::CountInternalError;
using rmf::detail::HeldSlot;
using rmf::detail::HeldTable;
using rmf::detail::KeyOfSlot;
using rmf::detail::KeyOfTable;
using rmf::detail::NodeOfPoint;
using rmf::detail::RouteAlive;
using rmf::detail::SameKey;

namespace {

constexpr std::int32_t kMaxMeetingParts = 32;  // passages counted per node by the next-junction walk

std::int32_t TravelIndex(std::int32_t direction) { return direction > 0 ? kRmfTravelHigher : kRmfTravelLower; }

bool Closed(const RmfTraversal* records) {
  return RmfTraversalClass(records[0].flags) < 0 && RmfTraversalClass(records[1].flags) < 0;
}

// The class a stretch must reach: that of the direction of travel, or the
// higher of both when any direction will do.
std::int32_t StretchClass(const RmfTraversal* records, std::int32_t passDirection) {
  if (passDirection == 0) return std::max(RmfTraversalClass(records[0].flags), RmfTraversalClass(records[1].flags));
  return RmfTraversalClass(records[TravelIndex(passDirection)].flags);
}

bool IsOwn(std::uint32_t word) { return (word & kRmfIncidenceJoined) == 0; }

// The node word pair of a node, checked: null for a node the table cannot
// have (kRmfMalformed for the caller).
const std::uint32_t* CheckedNodeWords(const RmfTileRouteTable* t, std::int32_t point) {
  const std::int32_t node = NodeOfPoint(t, point);
  if (node < 0) return nullptr;
  const std::uint32_t* w = RmfTableNodeWords(t, node);
  if ((w[1] & kRmfNodeAlias) != 0) return nullptr;
  const std::uint32_t count = RmfNodeCount(w[1]);
  if (count == 0) return nullptr;
  if (count <= 1 && RmfNodeClass(w[1]) != RmfNodeSecondClass(w[1])) return nullptr;
  return w;
}

// The own incidence of (part, vertex) at the node; 0 when none.
std::uint32_t OwnIncidence(const RmfTileRouteTable* t, std::int32_t node, std::int32_t part, std::int32_t vertex) {
  const std::uint32_t* words = nullptr;
  const std::int32_t n = RmfTileRouteNodeIncidences(t, node, &words);
  for (std::int32_t i = 0; i < n; ++i) {
    if (IsOwn(words[i]) && RmfIncidencePart(words[i]) == part && RmfIncidenceVertex(words[i]) == vertex) {
      return words[i];
    }
  }
  return 0;
}

std::uint32_t EndBits(std::uint32_t word) { return word & (kRmfIncidenceStarts | kRmfIncidenceEnds); }
bool OneEnd(std::uint32_t word) { return EndBits(word) == kRmfIncidenceStarts || EndBits(word) == kRmfIncidenceEnds; }

bool SameRecord(const RmfTraversal& a, const RmfTraversal& b) {
  const std::uint32_t mask = kRmfTraversalClassMask | kRmfTraversalGroupMask | kRmfTraversalRestricted;
  return (a.flags & mask) == (b.flags & mask) && a.costFactor == b.costFactor;
}

// Whether the route's ends name the part, while an origin and a destination
// share a feature.
bool RouteEndPart(const RmfRoute* route, const RmfFeatKey& key, std::int32_t part) {
  if ((route->stateFlags & kRmfRouteStateSameFeature) == 0) return false;
  const auto names = [&](const RmfFeatureRef* refs, std::int32_t count) {
    for (std::int32_t i = 0; refs != nullptr && i < count; ++i) {
      if (refs[i].featureId == key.a && refs[i].source == key.b && refs[i].secondId == key.c && refs[i].part == part) {
        return true;
      }
    }
    return false;
  };
  return names(route->origins, route->originCount) || names(route->destinations, route->destinationCount);
}

// The part being walked: its record, table and traversal records; the slot
// and table held when the walk crossed onto it, borrowed otherwise.
struct Leg {
  RmfFeature* slot = nullptr;
  const RmfTileRouteTable* table = nullptr;
  std::int32_t part = 0;
  std::int32_t direction = 1;
  std::int32_t passDirection = 0;
  RmfTraversal records[2]{};
  std::unique_ptr<HeldSlot> heldSlot;
  std::unique_ptr<HeldTable> heldTable;
};

// Lengths summed as the route's mode asks: exactly, or by the four sums of
// the distance coefficients.
class LengthSum {
 public:
  LengthSum(bool exact, const std::uint32_t* c) : exact_(exact) {
    for (std::int32_t i = 0; i < 4; ++i) c_[i] = c != nullptr ? c[i] : 0;
  }
  bool Add(const TiPoint& a, const TiPoint& b) {
    if (exact_) {
      const std::int32_t d = TiDistance(&a, &b);
      if (d < 0) return false;
      exact_sum_ += static_cast<std::uint64_t>(d);
      return true;
    }
    const std::uint64_t dx = static_cast<std::uint64_t>(std::llabs(std::int64_t{b.x} - a.x));
    const std::uint64_t dy = static_cast<std::uint64_t>(std::llabs(std::int64_t{b.y} - a.y));
    if (dx >= dy) {
      sum_[0] += dx;
      sum_[1] += dy;
    } else {
      sum_[2] += dx;
      sum_[3] += dy;
    }
    return true;
  }
  std::uint32_t Length() const {
    std::uint64_t total = exact_sum_;
    if (!exact_) {
      for (std::int32_t i = 0; i < 4; ++i) {
        const std::uint64_t s = std::min<std::uint64_t>(sum_[i], 0xFFFFFFFFu);
        total += (s * c_[i]) >> 32;
      }
    }
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(total, kRmfWalkLengthMax));
  }

 private:
  bool exact_;
  std::uint32_t c_[4];
  std::uint64_t exact_sum_ = 0;
  std::uint64_t sum_[4] = {0, 0, 0, 0};
};

// Where a walk may cross at a node of two passages: onto the other part,
// when it merely continues the leg. 1 with *next filled, 0 when it does
// not continue, or a negative code.
std::int32_t Continuation(RmfRoute* route, const Leg& leg, const std::uint32_t* nodeWords, std::int32_t node,
                          std::int32_t vertex, std::int32_t level, bool timeDependent, const RmfFeatKey& startKey,
                          std::int32_t startPart, bool crossOntoEnds, Leg* next, std::int32_t* nextVertex) {
  const std::uint32_t* words = nullptr;
  if (RmfNodeCount(nodeWords[1]) != 2 || RmfTileRouteNodeIncidences(leg.table, node, &words) != 2) return 0;
  const std::int32_t mine = IsOwn(words[0]) && RmfIncidencePart(words[0]) == leg.part &&
                                    RmfIncidenceVertex(words[0]) == vertex
                                ? 0
                                : 1;
  const std::uint32_t own = words[mine];
  const std::uint32_t other = words[1 - mine];
  if (!IsOwn(own) || RmfIncidencePart(own) != leg.part || RmfIncidenceVertex(own) != vertex || !OneEnd(own)) return 0;

  RmfFeatKey key = KeyOfTable(leg.table);
  std::uint32_t otherWord = other;
  const RmfTileRouteTable* table = leg.table;
  auto heldTable = std::make_unique<HeldTable>(route);
  if (!IsOwn(other)) {
    const std::int32_t index = RmfIncidenceNeighbour(other);
    if (index >= leg.table->neighbourCount) return CountInternalError();
    key = RmfTableNeighbours(leg.table)[index];
    const std::int32_t joinLevel = leg.table->state == kRmfTableJoined ? leg.table->joinedLevel
                                                                        : std::clamp(level, 0, kRmfTopTileLevel);
    const std::int32_t got = heldTable->Take(key, joinLevel);
    if (got != 1) return got < 0 ? got : CountInternalError();
    table = heldTable->get();
    // The neighbour's node must hold exactly one passage of its own, the
    // part that continues this one; anything more is a junction.
    const std::uint32_t* theirs = nullptr;
    const std::int32_t n = RmfTileRouteNodeIncidences(table, RmfIncidenceNode(other), &theirs);
    std::int32_t owns = 0;
    for (std::int32_t i = 0; i < n; ++i) {
      if (IsOwn(theirs[i])) {
        otherWord = theirs[i];
        ++owns;
      }
    }
    if (owns != 1 || n > 2) return 0;
  }
  if (!OneEnd(otherWord)) return 0;
  const std::int32_t part = RmfIncidencePart(otherWord);
  if (part >= table->featureCount) return CountInternalError();
  if (SameKey(key, KeyOfTable(leg.table)) && part == leg.part) return 0;
  if (SameKey(key, startKey) && part == startPart) return 0;
  if (!crossOntoEnds && RouteEndPart(route, key, part)) return 0;

  const std::int32_t direction = (otherWord & kRmfIncidenceStarts) != 0 ? 1 : -1;
  const RmfTraversal* theirs = RmfTableTraversals(table, part);
  const RmfTraversal& ahead = leg.records[TravelIndex(leg.direction)];
  const RmfTraversal& back = leg.records[TravelIndex(-leg.direction)];
  if (!SameRecord(ahead, theirs[TravelIndex(direction)]) || !SameRecord(back, theirs[TravelIndex(-direction)])) {
    return 0;
  }
  if (timeDependent && ((ahead.flags | back.flags | theirs[0].flags | theirs[1].flags) & kRmfTraversalTimed) != 0) {
    return 0;
  }

  next->part = part;
  next->direction = direction;
  next->passDirection = leg.passDirection == 0 ? 0 : (leg.passDirection == leg.direction ? direction : -direction);
  next->records[0] = theirs[0];
  next->records[1] = theirs[1];
  if (SameKey(key, KeyOfTable(leg.table))) {
    next->slot = leg.slot;
    next->table = leg.table;
  } else {
    auto slot = std::make_unique<HeldSlot>();
    const std::int32_t fetched = slot->Fetch(route->reader, key, nullptr);
    if (fetched != 1) return fetched < 0 ? fetched : CountInternalError();
    next->slot = slot->get();
    next->table = table;
    next->heldSlot = std::move(slot);
    next->heldTable = std::move(heldTable);
  }
  *nextVertex = RmfIncidenceVertex(otherWord);
  return 1;
}

// Looks in the blocks of other tiles of tile levels level..top for a node at
// the position that makes a junction of the level together with this one:
// 1 with its key and node, 0 when none, or a negative code.
std::int32_t CoarserJunction(RmfRoute* route, const RmfTileRouteTable* own, const std::uint32_t* ownWords,
                             TiPoint at, std::int32_t level, std::int32_t top, RmfFeatKey* key, std::int32_t* node) {
  const TiRect box{at.x, at.y, at.x, at.y};
  const RmfFeatKey ownKey = KeyOfTable(own);
  for (std::int32_t l = std::max(level, 0); l <= std::min(top, kRmfTopTileLevel); ++l) {
    if ((route->levelMask & (1u << l)) == 0) continue;
    std::uint32_t ids[4];
    const std::int32_t n = RmfTilesAroundPoint(&at, static_cast<std::uint32_t>(l), ids);
    for (std::int32_t s = 0; s < route->sourceCount && s < route->reader->sourceCount; ++s) {
      if (!rmf::detail::SourceUsable(route, s, box) || (rmf::detail::SourceTileLevels(route, s) & (1u << l)) == 0) {
        continue;
      }
      for (std::int32_t k = 0; k < n; ++k) {
        for (std::uint32_t sequence = 0; sequence <= 0xFFFF; ++sequence) {
          const RmfFeatKey candidate = rmf::detail::BlockKey(ids[k], static_cast<std::uint16_t>(s),
                                                             static_cast<std::uint16_t>(sequence));
          if (SameKey(candidate, ownKey)) {
            if (own->moreBlocks == 0) break;
            continue;
          }
          HeldTable t(route);
          const std::int32_t built = t.Take(candidate, -1);
          if (built == 0) break;
          if (built < 0) return built;
          const std::int32_t found = RmfTileRouteNodeFind(t.get(), at);
          if (found >= 0) {
            const std::uint32_t theirs = RmfTableNodeWords(t.get(), found)[1];
            const std::uint32_t count = RmfNodeCount(ownWords[1]) + RmfNodeCount(theirs);
            std::int32_t second = 0;
            if (t.get()->state == kRmfTableJoined && RmfNodeCount(theirs) > 1) {
              second = RmfNodeSecondClass(theirs);
            } else {
              // The second-highest of the classes of both nodes.
              std::int32_t top = -1;
              second = -1;
              const auto take = [&](std::int32_t c) {
                if (c > top) {
                  second = top;
                  top = c;
                } else if (c > second) {
                  second = c;
                }
              };
              take(RmfNodeClass(ownWords[1]));
              if (RmfNodeCount(ownWords[1]) > 1) take(RmfNodeSecondClass(ownWords[1]));
              take(RmfNodeClass(theirs));
              if (RmfNodeCount(theirs) > 1) take(RmfNodeSecondClass(theirs));
            }
            if (count >= 2 && second >= level) {
              *key = candidate;
              *node = found;
              return 1;
            }
          }
          if (t.get()->moreBlocks == 0) break;
        }
      }
    }
  }
  return 0;
}

void EndAt(RmfWalk* walk, std::uint32_t vertex, const TiPoint& at, std::int32_t levelReached) {
  walk->farVertex = vertex;
  walk->farPoint = at;
  walk->levelReached = static_cast<std::uint32_t>(std::clamp<std::int32_t>(levelReached, 0, kRmfWalkLevelMax));
}

// The classes of a part by the profile's class-only answer; false when it
// cannot be asked.
bool PartClasses(RmfFeature* slot, std::int32_t part, RmfAttrSet* set, std::int32_t* lower, std::int32_t* higher) {
  if (RmfFeatureSelectPart(slot, part, 1, set) < 0) return false;
  RmfFeatureAnswer answer{};
  for (RmfTravelAnswer& t : answer.travel) {
    t.control = kRmfTravelControlClassOnly;
    t.roadClass = -1;
  }
  if (set->count > 0 && RmfProfileFeatureCost(slot->reader, set, nullptr, &answer) < 0) return false;
  *lower = answer.travel[0].roadClass;
  *higher = answer.travel[1].roadClass;
  return true;
}

// Own passages at the position, in every block of the tiles of levels
// level..15 holding it, whose parts reach the level: capped at 32.
std::int32_t PassagesAround(RmfRoute* route, TiPoint at, std::int32_t level) {
  const TiRect box{at.x, at.y, at.x, at.y};
  std::int32_t total = 0;
  for (std::int32_t l = std::max(level, 0); l <= kRmfTopTileLevel; ++l) {
    if ((route->levelMask & (1u << l)) == 0) continue;
    std::uint32_t ids[4];
    const std::int32_t n = RmfTilesAroundPoint(&at, static_cast<std::uint32_t>(l), ids);
    for (std::int32_t s = 0; s < route->sourceCount && s < route->reader->sourceCount; ++s) {
      if (!rmf::detail::SourceUsable(route, s, box) || (rmf::detail::SourceTileLevels(route, s) & (1u << l)) == 0) {
        continue;
      }
      for (std::int32_t k = 0; k < n; ++k) {
        for (std::uint32_t sequence = 0; sequence <= 0xFFFF; ++sequence) {
          HeldTable t(route);
          const std::int32_t built = t.Take(
              rmf::detail::BlockKey(ids[k], static_cast<std::uint16_t>(s), static_cast<std::uint16_t>(sequence)), -1);
          if (built == 0) break;
          if (built < 0) return built;
          const std::int32_t node = RmfTileRouteNodeFind(t.get(), at);
          const std::uint32_t* words = nullptr;
          const std::int32_t m = node >= 0 ? RmfTileRouteNodeIncidences(t.get(), node, &words) : 0;
          for (std::int32_t i = 0; i < m && total < kMaxMeetingParts; ++i) {
            if (!IsOwn(words[i]) || RmfIncidencePart(words[i]) >= t.get()->featureCount) continue;
            if (StretchClass(RmfTableTraversals(t.get(), RmfIncidencePart(words[i])), 0) >= level) ++total;
          }
          if (t.get()->moreBlocks == 0) break;
        }
      }
    }
  }
  return total;
}

}  // namespace

std::int32_t RmfRouteJunctionDegree(RmfRoute* route, RmfFeature* feature, std::int32_t node, std::int32_t level,
                                    std::int32_t limit) {
  if (!RouteAlive(route) || feature == nullptr) return kRmfBadArgument;
  TiPoint at{};
  if (RmfFeaturePointAt(feature, node, &at) != 1) return kRmfBadArgument;
  std::unique_ptr<RmfAttrSet> set(new RmfAttrSet);  // filled by each part's step before it is read
  std::int32_t count = 0;
  for (std::int32_t part = 0; part < feature->partCount && count < limit; ++part) {
    std::int32_t passages = 0;
    for (std::int32_t position = -1;;) {
      std::int32_t found = -1;
      const std::int32_t point = RmfFeatureNextNode(feature, part, position, 1, &found, nullptr);
      if (point < 0) break;
      TiPoint p{};
      if (RmfFeaturePointAt(feature, point, &p) == 1 && TiSamePoint(p, at)) ++passages;
      position = found;
    }
    if (passages == 0) continue;
    std::int32_t lower = -1;
    std::int32_t higher = -1;
    if (!PartClasses(feature, part, set.get(), &lower, &higher)) {
      if (route->reader->profile.featureCallback == nullptr) return kRmfProfileMissing;
      continue;
    }
    if (std::max(lower, higher) >= level) count += passages;
  }
  return std::min(count, limit);
}

// The walk of RmfRouteWalk. With a target it also stops, with *reached set,
// where it comes to the target's from vertex on the target's part in the
// target's direction of travel, and it may cross onto a part of the route's
// ends.
static std::int32_t WalkStretch(RmfRoute* route, RmfFeature* feature, const RmfTileRouteTable* table,
                                std::int32_t part, std::int32_t vertex, const RmfTraversal* traversals,
                                std::int32_t direction, std::int32_t passDirection, std::int32_t level,
                                std::int32_t follow, const std::uint32_t* coefficients, std::int32_t timeDependent,
                                RmfWalk* walk, std::int32_t* pending, const RmfFeatureRef* target, bool* reached) {
  if (reached != nullptr) *reached = false;
  if (pending != nullptr) *pending = 0;
  if (!RouteAlive(route) || feature == nullptr || table == nullptr || walk == nullptr) return kRmfBadArgument;
  *walk = RmfWalk{};
  if (direction != 1 && direction != -1) return CountInternalError();
  if (!SameKey(KeyOfSlot(feature), KeyOfTable(table))) return kRmfBadArgument;
  if (part < 0 || part >= table->featureCount || vertex < 0 || vertex >= kRmfMaxPartWords) {
    return CountInternalError();
  }

  Leg leg;
  leg.slot = feature;
  leg.table = table;
  leg.part = part;
  leg.direction = direction;
  leg.passDirection = passDirection > 0 ? 1 : (passDirection < 0 ? -1 : 0);
  const RmfTraversal* records = traversals != nullptr ? traversals : RmfTableTraversals(table, part);
  leg.records[0] = records[0];
  leg.records[1] = records[1];
  if (Closed(leg.records)) return 0;

  const std::int32_t word = RmfFeatureNodeAt(feature, part, vertex);
  TiPoint previous{};
  if (word < 0 || (word & 0x8000) != 0 || RmfFeaturePointAt(feature, word, &previous) != 1) {
    return CountInternalError();
  }
  std::uint32_t coeff[4];
  if (coefficients == nullptr) {
    if (TiDistCoeff(previous.y, &coeff[0], &coeff[1], &coeff[2], &coeff[3]) != 1) return CountInternalError();
    coefficients = coeff;
  }
  LengthSum length((route->modeFlags & kRmfRouteModeExactLengths) != 0, coefficients);
  const RmfFeatKey startKey = KeyOfTable(table);
  const std::int32_t startVertex = vertex;
  bool crossed = false;
  const auto atTarget = [&](const Leg& on, std::int32_t at) {
    return target != nullptr && on.table->tileId == target->featureId && on.table->source == target->source &&
           on.table->blockNumber == target->secondId && on.part == target->part && at == target->fromVertex &&
           on.direction == (target->toVertex > target->fromVertex ? 1 : -1);
  };

  for (std::int32_t steps = 0;; ++steps) {
    if (steps > kRmfWalkMaxSteps) return CountInternalError();
    std::int32_t found = -1;
    const std::int32_t point = RmfFeatureNextNode(leg.slot, leg.part, vertex, leg.direction, &found, nullptr);
    if (point == -1) {
      // The part has no further node.
      if (!crossed && vertex == startVertex) return 0;
      if (StretchClass(leg.records, leg.passDirection) < level) return 0;
      walk->length = length.Length();
      EndAt(walk, static_cast<std::uint32_t>(vertex), previous, 0);
      walk->flags |= kRmfWalkRanToEnd;
      return 1;
    }
    TiPoint at{};
    if (point < 0 || RmfFeaturePointAt(leg.slot, point, &at) != 1 || !length.Add(previous, at)) {
      return CountInternalError();
    }
    previous = at;
    vertex = found;
    const std::uint32_t* words = CheckedNodeWords(leg.table, point);
    if (words == nullptr) return CountInternalError();
    const std::int32_t node = NodeOfPoint(leg.table, point);
    const std::uint32_t count = RmfNodeCount(words[1]);
    const std::int32_t second = RmfNodeSecondClass(words[1]);
    const std::uint32_t mine = OwnIncidence(leg.table, node, leg.part, vertex);
    if (mine == 0) return CountInternalError();
    walk->length = length.Length();
    if (atTarget(leg, vertex)) {
      EndAt(walk, static_cast<std::uint32_t>(vertex), at, second);
      *reached = true;
      break;
    }

    // Back where it started: a loop ends here.
    if (SameKey(KeyOfTable(leg.table), startKey) && leg.part == part && vertex == startVertex) {
      EndAt(walk, static_cast<std::uint32_t>(vertex), at, second);
      break;
    }
    if ((mine & kRmfIncidenceRestricted) != 0 || (count == 1 && (words[1] & kRmfNodeRestricted) != 0)) {
      EndAt(walk, static_cast<std::uint32_t>(vertex), at, second);
      walk->flags |= kRmfWalkRestrictionStop;
      if (pending != nullptr) *pending = 1;
      break;
    }
    if (count >= 2 && second >= level) {
      if (follow != 0) {
        Leg next;
        std::int32_t nextVertex = 0;
        const std::int32_t crossing = Continuation(route, leg, words, node, vertex, level, timeDependent != 0, startKey,
                                                   part, target != nullptr, &next, &nextVertex);
        if (crossing < 0) return crossing;
        if (crossing == 1) {
          if (next.heldSlot == nullptr) {
            next.heldSlot = std::move(leg.heldSlot);
            next.heldTable = std::move(leg.heldTable);
          }
          leg = std::move(next);
          vertex = nextVertex;
          crossed = true;
          walk->lastFeature = RmfFeatureRef{leg.table->tileId, leg.table->source, leg.table->blockNumber,
                                            static_cast<std::uint16_t>(leg.part), static_cast<std::uint16_t>(vertex),
                                            0, kRmfPositionWhole};
          walk->lastDirection = leg.direction;
          if (atTarget(leg, vertex)) {
            EndAt(walk, static_cast<std::uint32_t>(vertex), at, second);
            *reached = true;
            break;
          }
          continue;
        }
      }
      EndAt(walk, static_cast<std::uint32_t>(vertex), at, second);
      break;
    }
    if (level < leg.table->joinedLevel) {
      RmfFeatKey key{};
      std::int32_t coarserNode = -1;
      const std::int32_t top = leg.table->state == kRmfTableJoined ? leg.table->joinedLevel - 1 : kRmfTopTileLevel;
      const std::int32_t coarser = CoarserJunction(route, leg.table, words, at, level, top, &key, &coarserNode);
      if (coarser < 0) return coarser;
      if (coarser == 1) {
        EndAt(walk, static_cast<std::uint32_t>(vertex), at, level);
        walk->coarserFound = 1;
        walk->coarserKey = key;
        walk->coarserNode = coarserNode;
        break;
      }
    }
  }
  if (walk->lastFeature.featureId != 0) walk->lastFeature.toVertex = static_cast<std::uint16_t>(walk->farVertex);
  return 1;
}

std::int32_t RmfRouteWalk(RmfRoute* route, RmfFeature* feature, const RmfTileRouteTable* table, std::int32_t part,
                          std::int32_t vertex, const RmfTraversal* traversals, std::int32_t direction,
                          std::int32_t passDirection, std::int32_t level, std::int32_t follow,
                          const std::uint32_t* coefficients, std::int32_t timeDependent, RmfWalk* walk,
                          std::int32_t* pending) {
  return WalkStretch(route, feature, table, part, vertex, traversals, direction, passDirection, level, follow,
                     coefficients, timeDependent, walk, pending, nullptr, nullptr);
}

std::int32_t RmfRouteWalkReaches(RmfRoute* route, const RmfFeatureRef* origin, const RmfFeatureRef* target,
                                 std::uint32_t* length) {
  if (length != nullptr) *length = 0;
  if (!RouteAlive(route) || origin == nullptr || target == nullptr || origin->fromVertex == origin->toVertex ||
      target->fromVertex == target->toVertex) {
    return 0;
  }
  const RmfFeatKey key = rmf::detail::BlockKey(origin->featureId, origin->source, origin->secondId);
  HeldSlot slot;
  HeldTable table(route);
  if (slot.Fetch(route->reader, key, nullptr) != 1 || table.Take(key, 0) != 1 ||
      origin->part >= table.get()->featureCount) {
    return 0;
  }
  const std::int32_t travel = origin->toVertex > origin->fromVertex ? 1 : -1;
  RmfWalk walk{};
  bool reached = false;
  const std::int32_t walked =
      WalkStretch(route, slot.get(), table.get(), origin->part, origin->fromVertex,
                  RmfTableTraversals(table.get(), origin->part), travel, travel, 0, 1, nullptr, 0, &walk, nullptr,
                  target, &reached);
  if (walked != 1 || !reached) return 0;
  if (length != nullptr) *length = walk.length;
  return 1;
}

std::int32_t RmfRouteNextJunction(RmfRoute* route, RmfFeature* feature, const RmfTileRouteTable* table,
                                  std::int32_t part, std::int32_t vertex, std::int32_t direction, std::int32_t level,
                                  const TiRect* box) {
  if (!RouteAlive(route) || feature == nullptr || (direction != 1 && direction != -1)) return kRmfBadArgument;
  if (table != nullptr && !SameKey(KeyOfSlot(feature), KeyOfTable(table))) return kRmfBadArgument;
  std::int32_t position = vertex;
  for (std::int32_t steps = 0;; ++steps) {
    if (steps > kRmfWalkMaxSteps) return CountInternalError();
    std::int32_t found = -1;
    const std::int32_t point = RmfFeatureNextNode(feature, part, position, direction, &found, nullptr);
    if (point == -1) return position;
    if (point < 0) return point;
    position = found;
    TiPoint at{};
    if (RmfFeaturePointAt(feature, point, &at) != 1) return CountInternalError();
    if (box != nullptr && (at.x < box->x1 || at.x > box->x2 || at.y < box->y1 || at.y > box->y2)) return position;
    if (table != nullptr) {
      const std::int32_t node = NodeOfPoint(table, point);
      if (node < 0) return CountInternalError();
      const std::uint32_t second = RmfTableNodeWords(table, node)[1];
      if ((second & kRmfNodeAlias) != 0 || RmfNodeCount(second) == 0) return CountInternalError();
      if (RmfNodeCount(second) >= 2 && RmfNodeSecondClass(second) >= level) return position;
    } else {
      const std::int32_t degree = RmfRouteJunctionDegree(route, feature, point, level, 2);
      if (degree < 0) return degree;
      if (degree >= 2) return position;
    }
    const std::int32_t around = PassagesAround(route, at, level);
    if (around < 0) return around;
    if (around >= 2) return position;
  }
}

std::int32_t RmfRouteJunctionBetween(RmfRoute* route, const RmfFeatureRef* node, const RmfFeatureRef* target) {
  if (!RouteAlive(route) || node == nullptr || target == nullptr) return 0;
  if (node->featureId != target->featureId || node->source != target->source || node->secondId != target->secondId ||
      node->part != target->part || node->fromVertex == node->toVertex || target->fromVertex == target->toVertex) {
    return 0;
  }
  const bool up = node->fromVertex < node->toVertex;
  if (up != (target->fromVertex < target->toVertex)) return 0;
  if (up ? node->toVertex > target->fromVertex : node->toVertex < target->fromVertex) return 0;

  const RmfFeatKey key = rmf::detail::BlockKey(node->featureId, node->source, node->secondId);
  HeldSlot slot;
  HeldTable table(route);
  if (slot.Fetch(route->reader, key, nullptr) != 1 || table.Take(key, 0) != 1 || node->part >= table.get()->featureCount) {
    (void)CountInternalError();
    return 0;
  }
  RmfWalk walk{};
  const std::int32_t walked = RmfRouteWalk(route, slot.get(), table.get(), node->part, node->fromVertex,
                                           RmfTableTraversals(table.get(), node->part), up ? 1 : -1, 0, 0, 0, nullptr,
                                           0, &walk, nullptr);
  if (walked != 1) return 0;
  const auto far = static_cast<std::int32_t>(walk.farVertex);
  return up ? (far >= node->toVertex && far <= target->fromVertex ? 1 : 0)
            : (far <= node->toVertex && far >= target->fromVertex ? 1 : 0);
}

std::int32_t RmfFeaturePartEnds(RmfRoute* route, RmfFeature* feature, std::int32_t node, std::uint32_t* ends,
                                std::int32_t capacity) {
  if (!RouteAlive(route) || feature == nullptr || (ends == nullptr && capacity > 0)) return kRmfBadArgument;
  TiPoint at{};
  if (RmfFeaturePointAt(feature, node, &at) != 1) return kRmfBadArgument;
  HeldTable table(route);
  const std::int32_t built = table.Take(KeyOfSlot(feature), -1);
  if (built != 1) return built == 0 ? kRmfBadArgument : built;
  std::int32_t count = 0;
  const auto add = [&](std::int32_t part, std::int32_t vertex, std::uint32_t end) {
    if (count < capacity) {
      ends[count] = (static_cast<std::uint32_t>(part) << kRmfIncidencePartShift) |
                    (static_cast<std::uint32_t>(vertex) << kRmfIncidenceVertexShift) | end;
    }
    ++count;
  };
  for (std::int32_t part = 0; part < feature->partCount && part < table.get()->featureCount; ++part) {
    if (Closed(RmfTableTraversals(table.get(), part))) continue;
    const std::int32_t words = RmfFeatureWordCount(feature, part);
    if (words < 0) continue;
    std::int32_t first = -1;
    std::int32_t last = -1;
    const std::int32_t firstPoint = RmfFeatureNextNode(feature, part, -1, 1, &first, nullptr);
    const std::int32_t lastPoint = RmfFeatureNextNode(feature, part, words, -1, &last, nullptr);
    if (firstPoint < 0 || lastPoint < 0) continue;
    TiPoint p{};
    if (RmfFeaturePointAt(feature, firstPoint, &p) == 1 && TiSamePoint(p, at)) add(part, first, kRmfIncidenceStarts);
    if (RmfFeaturePointAt(feature, lastPoint, &p) == 1 && TiSamePoint(p, at)) add(part, last, kRmfIncidenceEnds);
  }
  return count;
}
