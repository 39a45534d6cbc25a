// The route search: set-up and start nodes, the direct route along one
// feature, the main loop (pick, stop rules, level rule, expansion,
// insertion, meeting test, progress, cancel), the reclaiming of nodes when
// the node pool is full, the assembly of the result, and RmfRouteFind with
// its retries at a larger cost shift.
#include "mapengine/format/route/RmfRouteSearch.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "mapengine/format/RmfInternal.h"
#include "mapengine/format/base/TiGeometry.h"
#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/features/RmfProfile.h"
#include "mapengine/format/route/RmfFeatCache.h"
#include "mapengine/format/route/RmfNodePool.h"
#include "mapengine/format/route/RmfRoute.h"
#include "mapengine/format/route/RmfRouteExpand.h"
#include "mapengine/format/route/RmfRouteInternal.h"
#include "mapengine/format/route/RmfRouteWalk.h"
#include "mapengine/format/route/RmfTileRouteTableInternal.h"

namespace {

using rmf::detail::CountInternalError;
using rmf::detail::KeyOf;
using rmf::detail::SecondIdOf;
using rmf::detail::HeldSlot;
using rmf::detail::HeldTable;

constexpr std::int32_t kMaxCost = 0x7FFFFFFF;
constexpr std::int32_t kForward = 0;
constexpr std::int32_t kBackward = 1;
constexpr std::int32_t kClasses = 8;
constexpr std::int32_t kReclaimLists = 3;
constexpr std::int32_t kRepeatedMeetingsLimit = 10;
constexpr std::int32_t kExpansionsAfterMeetingLimit = 600;
constexpr std::int32_t kRejectionLimit = 100;
// The share of the progress span reached once a meeting exists, of 256.
constexpr std::int32_t kProgressMeeting = 243;
// Steps a stretch of the result may take before it counts as lost.
constexpr std::int32_t kMaxStretchSteps = 1 << 20;
constexpr std::uint8_t kUTurnSector = 8;

std::int32_t TravelIndex(std::int32_t direction) { return direction > 0 ? kRmfTravelHigher : kRmfTravelLower; }
std::int32_t PartOf(std::uint32_t packed) { return static_cast<std::int32_t>(packed & kRmfNodeRefPartMask); }
std::int32_t VertexOf(std::uint32_t packed) {
  return static_cast<std::int32_t>((packed >> kRmfNodeRefVertexShift) & kRmfNodeRefVertexMask);
}
std::int32_t DirectionOf(std::uint32_t packed) { return (packed & kRmfNodeRefHigher) != 0 ? 1 : -1; }
std::int32_t ClassOf(std::uint32_t packed) { return static_cast<std::int32_t>((packed >> kRmfSearchClassShift) & 7); }
std::uint32_t PackRef(std::int32_t part, std::int32_t vertex, std::int32_t direction, std::int32_t level) {
  return (static_cast<std::uint32_t>(part) & kRmfNodeRefPartMask) |
         ((static_cast<std::uint32_t>(vertex) & kRmfNodeRefVertexMask) << kRmfNodeRefVertexShift) |
         (direction > 0 ? kRmfNodeRefHigher : 0u) |
         (static_cast<std::uint32_t>(std::clamp(level, 0, 7)) << kRmfSearchClassShift);
}
RmfFeatKey KeyOfRef(const RmfFeatureRef& r) { return RmfFeatKey{r.featureId, r.source, r.secondId}; }
RmfFeatKey KeyOfNode(const RmfSearchNode* n) { return RmfFeatKey{n->featureId, n->secondLow, n->secondHigh}; }

std::uint32_t Children(const RmfSearchNode* n) { return (n->flags & kRmfSearchChildMask) >> kRmfSearchChildShift; }
void SetChildren(RmfSearchNode* n, std::uint32_t count) {
  n->flags = (n->flags & ~kRmfSearchChildMask) | (std::min<std::uint32_t>(count, 255) << kRmfSearchChildShift);
}

// A fraction 0..1024 of a length (1024 = 2^32 in the fixed point).
std::int64_t Share(std::int64_t length, std::uint32_t fraction) {
  if (fraction >= kRmfPositionWhole) return length;
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(length) * (fraction << 22)) >> 32);
}

// A growing array of result entries (with their cost words) from the heap.
class ResultBuffer {
 public:
  ~ResultBuffer() {
    std::free(refs_);
    std::free(words_);
  }
  bool Add(const RmfFeatureRef& r, std::uint32_t word) {
    if (count_ == capacity_) {
      const std::int32_t grown = capacity_ == 0 ? 32 : capacity_ * 2;
      auto* refs = static_cast<RmfFeatureRef*>(std::realloc(refs_, sizeof(RmfFeatureRef) * static_cast<std::size_t>(grown)));
      if (refs == nullptr) return false;
      refs_ = refs;
      auto* words = static_cast<std::uint32_t*>(std::realloc(words_, sizeof(std::uint32_t) * static_cast<std::size_t>(grown)));
      if (words == nullptr) return false;
      words_ = words;
      capacity_ = grown;
    }
    refs_[count_] = r;
    words_[count_] = word;
    ++count_;
    return true;
  }
  void Reverse(std::int32_t from) {
    std::reverse(refs_ + from, refs_ + count_);
    std::reverse(words_ + from, words_ + count_);
  }
  std::int32_t count() const { return count_; }
  RmfFeatureRef* refs() const { return refs_; }
  std::uint32_t* words() const { return words_; }
  RmfFeatureRef* ReleaseRefs() {
    RmfFeatureRef* r = refs_;
    refs_ = nullptr;
    return r;
  }

 private:
  RmfFeatureRef* refs_ = nullptr;
  std::uint32_t* words_ = nullptr;
  std::int32_t count_ = 0;
  std::int32_t capacity_ = 0;
};

struct Direction {
  TiBtiTree open;
  RmfSearchNode** hash = nullptr;
  std::int32_t level = 0;
  std::int32_t junctions[kClasses] = {};
  std::int32_t expanded = 0;
  TiPoint centre{};  // of the opposite endpoint set
  std::int32_t radius = 0;
  bool restrictedEntry = false;
};

struct Search {
  RmfRoute* route = nullptr;
  const RmfFeatureRef* origins = nullptr;
  std::int32_t originCount = 0;
  const RmfFeatureRef* destinations = nullptr;
  std::int32_t destinationCount = 0;
  bool exact = true;
  bool timeDependent = false;
  std::int32_t tolerance = 125;
  std::int32_t keyCeiling = kMaxCost;
  std::int32_t estimateFactor = 0;
  std::int32_t costLimit = kMaxCost;

  Direction dirs[2];
  RmfNodePool* pool = nullptr;
  RmfSearchNode* reclaim[kReclaimLists] = {};
  RmfSearchLink* freeLinks = nullptr;  // reused through their parent field
  RmfSearchNode* freeNodes = nullptr;  // reused through their hash link

  std::int32_t best = kMaxCost;
  std::int32_t bestInitial = kMaxCost;  // the cost limit at the route's cost shift
  RmfSearchNode* meet[2] = {nullptr, nullptr};
  bool meetingFound = false;
  bool repeatedStarted = false;
  std::int32_t repeatedMeetings = 0;
  std::int32_t expansionsSince = 0;
  std::int32_t rejections = 0;
  std::int32_t repeatedLimit = kRepeatedMeetingsLimit;
  std::int32_t expansionsLimit = kExpansionsAfterMeetingLimit;
  bool limitsScaled = false;
  // Time-dependent mode: the finalisation dropped the meeting pair, which
  // its validation rejected, and the search may go on.
  bool droppedPair = false;
  // Time-dependent mode: the links of the validated backward half, from the
  // backward meeting node on (empty: follow each node's first link).
  std::vector<const RmfSearchLink*> chosen;
  // Destination starts not expanded yet: until they are, the backward side
  // has not begun and an exhausted forward side proves nothing.
  std::int32_t startsWaiting = 0;

  // The direct route along one feature, when it is the best.
  bool direct = false;
  std::int32_t directOrigin = -1;
  std::int32_t directDestination = -1;

  // Progress.
  volatile std::uint8_t* progress = nullptr;
  std::int32_t progressStart = 0;
  std::int32_t progressEnd = 0;
  std::int64_t spread = 1;
  std::int32_t closest[2] = {0, 0};
  std::int32_t totalExpanded = 0;
};

// ---- nodes, links and memory --------------------------------------------------------------

bool Reclaimable(const RmfSearchNode* n) {
  return (n->flags & (kRmfSearchInOpen | kRmfSearchBusy | kRmfSearchMeeting)) == 0 && Children(n) == 0;
}

void PutReclaim(Search& s, RmfSearchNode* n, std::int32_t list) {
  if ((n->flags & kRmfSearchInReclaim) != 0) return;
  n->flags |= kRmfSearchInReclaim;
  n->reclaimNext = s.reclaim[list];
  s.reclaim[list] = n;
}

void Unhash(Search& s, RmfSearchNode* n) {
  if ((n->flags & kRmfSearchInHash) == 0) return;
  Direction& d = s.dirs[(n->flags & kRmfSearchBackward) != 0 ? kBackward : kForward];
  const std::uint32_t bucket = RmfSearchBucket(n->featureId, n->secondLow, n->secondHigh, n->packed);
  for (RmfSearchNode** at = &d.hash[bucket]; *at != nullptr; at = &(*at)->hashNext) {
    if (*at == n) {
      *at = n->hashNext;
      break;
    }
  }
  n->flags &= ~kRmfSearchInHash;
}

std::int32_t LeaveOpen(Search& s, RmfSearchNode* n) {
  if ((n->flags & kRmfSearchInOpen) == 0) return 1;
  Direction& d = s.dirs[(n->flags & kRmfSearchBackward) != 0 ? kBackward : kForward];
  void* out = nullptr;
  if (TiBtiDelete(&d.open, n, &out) != 1 || out != n) return CountInternalError();
  n->flags &= ~kRmfSearchInOpen;
  return 1;
}

std::int32_t EnterOpen(Search& s, RmfSearchNode* n) {
  if ((n->flags & kRmfSearchInOpen) != 0) return 1;
  Direction& d = s.dirs[(n->flags & kRmfSearchBackward) != 0 ? kBackward : kForward];
  void* found = nullptr;
  if (TiBtiFindForce(&d.open, n, 0, &found, 1) != 0) return CountInternalError();
  n->flags |= kRmfSearchInOpen;
  n->flags &= ~kRmfSearchClosed;
  return 1;
}

void DropLink(Search& s, RmfSearchLink* link) {
  if (link == nullptr) return;
  RmfSearchNode* parent = link->parent;
  if (parent != nullptr) {
    const std::uint32_t c = Children(parent);
    if (c > 0 && c < 255) SetChildren(parent, c - 1);
    if (Reclaimable(parent) && (parent->flags & kRmfSearchClosed) != 0) PutReclaim(s, parent, 1);
  }
  link->parent = reinterpret_cast<RmfSearchNode*>(s.freeLinks);
  s.freeLinks = link;
}

// Gives a node's memory and links back to the free lists. The node must be
// in no reclaim list.
void ReclaimNode(Search& s, RmfSearchNode* n) {
  (void)LeaveOpen(s, n);
  Unhash(s, n);
  for (RmfSearchLink*& link : n->links) {
    DropLink(s, link);
    link = nullptr;
  }
  n->flags = 0;
  n->hashNext = s.freeNodes;
  s.freeNodes = n;
}

// Reclaims one node from the reclaim lists: true when one was.
bool ReclaimFromList(Search& s, std::int32_t list) {
  while (s.reclaim[list] != nullptr) {
    RmfSearchNode* n = s.reclaim[list];
    s.reclaim[list] = n->reclaimNext;
    n->flags &= ~kRmfSearchInReclaim;
    if (!Reclaimable(n)) continue;
    ReclaimNode(s, n);
    return true;
  }
  return false;
}

bool ReclaimAny(Search& s) {
  for (std::int32_t list = 0; list < kReclaimLists; ++list) {
    if (ReclaimFromList(s, list)) return true;
  }
  return false;
}

// Evicts the least promising open node that nothing depends on: first the
// nodes below their direction's level, then from the larger open set the
// node of the greatest key.
bool Evict(Search& s) {
  if (ReclaimFromList(s, 0)) return true;
  for (Direction& d : s.dirs) {
    void* at = nullptr;
    std::int32_t r = TiBtiGreatest(&d.open, &at);
    std::int32_t looked = 0;
    while (r == 1 && at != nullptr && looked < 64) {
      auto* n = static_cast<RmfSearchNode*>(at);
      r = TiBtiPrevious(&d.open, &at);
      ++looked;
      if (ClassOf(n->packed) < d.level && (n->flags & (kRmfSearchBusy | kRmfSearchMeeting)) == 0 && Children(n) == 0) {
        if (LeaveOpen(s, n) != 1) return false;
        n->flags |= kRmfSearchClosed;
        PutReclaim(s, n, 0);
        break;
      }
    }
  }
  if (ReclaimFromList(s, 0) || ReclaimFromList(s, 1)) return true;
  const std::int32_t larger = TiBtiNNodes(&s.dirs[kForward].open) >= TiBtiNNodes(&s.dirs[kBackward].open) ? 0 : 1;
  for (std::int32_t k = 0; k < 2; ++k) {
    Direction& d = s.dirs[(larger + k) % 2];
    void* at = nullptr;
    std::int32_t r = TiBtiGreatest(&d.open, &at);
    for (std::int32_t looked = 0; r == 1 && at != nullptr && looked < 64; ++looked) {
      auto* n = static_cast<RmfSearchNode*>(at);
      // A node in a reclaim list is freed only from there: freed here, its
      // memory could come back as another node while the list still names
      // it.
      if ((n->flags & (kRmfSearchBusy | kRmfSearchMeeting | kRmfSearchInReclaim)) == 0 && Children(n) == 0) {
        ReclaimNode(s, n);
        return true;
      }
      r = TiBtiPrevious(&d.open, &at);
    }
  }
  return false;
}

// The node pool's hook once it is full.
void* ReclaimHook(void* context, std::uint32_t size) {
  auto& s = *static_cast<Search*>(context);
  if (size <= sizeof(RmfSearchLink)) {
    for (std::int32_t tries = 0; s.freeLinks == nullptr && s.freeNodes == nullptr && tries < 4; ++tries) {
      if (!ReclaimAny(s) && !Evict(s)) break;
    }
    if (s.freeLinks != nullptr) {
      RmfSearchLink* l = s.freeLinks;
      s.freeLinks = reinterpret_cast<RmfSearchLink*>(l->parent);
      return l;
    }
  } else if (size > sizeof(RmfSearchNode)) {
    return nullptr;
  } else if (s.freeNodes == nullptr) {
    if (!ReclaimAny(s)) (void)Evict(s);
  }
  if (s.freeNodes != nullptr) {
    RmfSearchNode* n = s.freeNodes;
    s.freeNodes = n->hashNext;
    return n;
  }
  return nullptr;
}

void* AllocItem(void* context, std::uint32_t size) {
  auto& s = *static_cast<Search*>(context);
  return RmfNodePoolAlloc(s.pool, static_cast<std::int32_t>(size));
}

RmfSearchLink* NewLink(Search& s) {
  void* m = nullptr;
  if (s.freeLinks != nullptr) {
    m = s.freeLinks;
    s.freeLinks = reinterpret_cast<RmfSearchLink*>(s.freeLinks->parent);
  } else {
    m = RmfNodePoolAlloc(s.pool, sizeof(RmfSearchLink));
  }
  if (m == nullptr) return nullptr;
  auto* l = static_cast<RmfSearchLink*>(m);
  *l = RmfSearchLink{};
  l->endpoint = -1;
  return l;
}

RmfSearchNode* NewNode(Search& s) {
  void* m = nullptr;
  if (s.freeNodes != nullptr) {
    m = s.freeNodes;
    s.freeNodes = s.freeNodes->hashNext;
  } else {
    m = RmfNodePoolAlloc(s.pool, sizeof(RmfSearchNode));
  }
  if (m == nullptr) return nullptr;
  auto* n = static_cast<RmfSearchNode*>(m);
  std::memset(n, 0, sizeof(*n));
  return n;
}

bool SameRestrictions(const RmfPendingItem* a, const RmfPendingItem* b) {
  for (; a != nullptr && b != nullptr; a = a->next, b = b->next) {
    if (a->key != b->key || a->kind != b->kind) return false;
  }
  return a == b;
}

RmfSearchNode* Lookup(const Direction& d, std::uint32_t featureId, std::uint32_t secondId, std::uint32_t packed,
                      const RmfPendingItem* restrictions, bool compareRestrictions) {
  const auto low = static_cast<std::uint16_t>(secondId & 0xFFFF);
  const auto high = static_cast<std::uint16_t>(secondId >> 16);
  for (RmfSearchNode* n = d.hash[RmfSearchBucket(featureId, low, high, packed)]; n != nullptr; n = n->hashNext) {
    if (n->featureId == featureId && n->secondLow == low && n->secondHigh == high &&
        ((n->packed ^ packed) & kRmfSearchKeyMask) == 0 &&
        (!compareRestrictions || SameRestrictions(n->restrictions, restrictions))) {
      return n;
    }
  }
  return nullptr;
}

void Hash(Search& s, std::int32_t dir, RmfSearchNode* n) {
  Direction& d = s.dirs[dir];
  const std::uint32_t bucket = RmfSearchBucket(n->featureId, n->secondLow, n->secondHigh, n->packed);
  n->hashNext = d.hash[bucket];
  d.hash[bucket] = n;
  n->flags |= kRmfSearchInHash;
}

// ---- estimate and keys ----------------------------------------------------------------------

// The estimate of the cost from a point to the opposite endpoints: -15 on
// overflow.
std::int32_t Estimate(const Search& s, std::int32_t dir, TiPoint at) {
  const Direction& d = s.dirs[dir];
  std::int64_t h = TiDistance(&at, &d.centre);
  if (h < 0) h = 0;
  h = std::max<std::int64_t>(h - d.radius, 0);
  if (!s.exact) h = h * 95 / 100;
  const std::int32_t scaled = RmfScaledCost(static_cast<std::uint32_t>(h), static_cast<std::uint32_t>(s.estimateFactor),
                                            s.route->costShift);
  return scaled < 0 ? kRmfCostOverflow : scaled;
}

std::int32_t KeyOf(const Search& s, std::int32_t cost, std::int32_t h) {
  std::int64_t weighted = h >= s.keyCeiling ? static_cast<std::int64_t>(h / 100) * s.tolerance
                                            : static_cast<std::int64_t>(h) * s.tolerance / 100;
  const std::int64_t key = static_cast<std::int64_t>(cost) + weighted;
  return static_cast<std::int32_t>(std::min<std::int64_t>(key, kMaxCost));
}

// ---- meeting --------------------------------------------------------------------------------

// Kinds of pending items: a prohibition and a permission carried on over a
// stretch in between. A forward node holds one when the route before it
// came along the restriction's from stretch and on along the chain, a
// backward node when the route after it goes on along the chain to the to
// stretch.
constexpr std::uint8_t kRmfPendingProhibition = 3;
constexpr std::uint8_t kRmfPendingPermission = 6;

bool HoldsItem(const RmfPendingItem* list, std::uint32_t key, std::uint8_t kind) {
  for (; list != nullptr; list = list->next) {
    if (list->key == key && list->kind == kind) return true;
  }
  return false;
}

// Whether the two halves of a route may not be joined: both go along the
// chain of one prohibition (from the from stretch to the to stretch), or
// the forward half holds a permission that the backward half does not go
// on with.
bool ChainsForbid(const RmfPendingItem* forward, const RmfPendingItem* backward) {
  for (const RmfPendingItem* f = forward; f != nullptr; f = f->next) {
    const bool held = HoldsItem(backward, f->key, f->kind);
    if (f->kind == kRmfPendingProhibition && held) return true;
    if (f->kind == kRmfPendingPermission && !held) return true;
  }
  return false;
}

// The node of the other direction a node meets: of the nodes there that
// stand for the same place, the cheapest whose restriction chains allow
// the two halves to be joined; null when none does.
RmfSearchNode* Partner(const Search& s, std::int32_t dir, const RmfSearchNode* n) {
  const Direction& other = s.dirs[1 - dir];
  RmfSearchNode* best = nullptr;
  for (RmfSearchNode* m = other.hash[RmfSearchBucket(n->featureId, n->secondLow, n->secondHigh, n->packed)];
       m != nullptr; m = m->hashNext) {
    if (m->featureId != n->featureId || m->secondLow != n->secondLow || m->secondHigh != n->secondHigh ||
        ((m->packed ^ n->packed) & kRmfSearchKeyMask) != 0 || (m->expansion & kRmfSearchWalkedStart) != 0) {
      continue;
    }
    const RmfSearchNode* f = dir == kForward ? n : m;
    const RmfSearchNode* b = dir == kForward ? m : n;
    if (ChainsForbid(f->restrictions, b->restrictions)) continue;
    if (best == nullptr || m->cost < best->cost) best = m;
  }
  return best;
}

// ---- validation of a meeting (time-dependent mode) ------------------------------------------
//
// The backward search prices a time-dependent stretch without knowing when
// the traveller gets there. A meeting is therefore checked by a local search
// of its own over the backward half: it starts at the backward meeting node
// with the forward node's cost (the forward search priced its stretches at
// the times they are reached), and follows each node's incoming links
// towards the destinations, pricing every time-dependent stretch anew for
// the time the traveller enters it, the cost so far from the origin. A
// stretch closed at that time ends that combination, and the other links of
// the node are tried instead. The cheapest combination that reaches a
// destination gives the validated cost; none rejects the meeting, as does a
// prohibition still pending at the meeting or a pool that runs out.

// A state of the local search: the backward node reached, the cost from the
// origins to its junction, and the link that led there.
struct MeetState {
  TiBtiNode tree;
  RmfSearchNode* node;  // null: a destination reached
  std::int32_t cost;
  MeetState* previous;
  const RmfSearchLink* link;  // from previous->node
};

struct MeetSeen {
  TiBtiNode tree;
  const RmfSearchNode* node;
};

std::int32_t CompareMeetState(const void* key, const void* node, void*, std::int32_t) {
  const auto* a = static_cast<const MeetState*>(key);
  const auto* b = static_cast<const MeetState*>(node);
  if (a->cost != b->cost) return a->cost < b->cost ? -1 : 1;
  if (a != b) return std::less<const void*>()(a, b) ? -1 : 1;
  return 0;
}

std::int32_t CompareMeetSeen(const void* key, const void* node, void*, std::int32_t) {
  const RmfSearchNode* a = static_cast<const MeetSeen*>(key)->node;
  const RmfSearchNode* b = static_cast<const MeetSeen*>(node)->node;
  if (a != b) return std::less<const void*>()(a, b) ? -1 : 1;
  return 0;
}

class PoolHolder {
 public:
  explicit PoolHolder(RmfNodePool* pool) : pool_(pool) {}
  ~PoolHolder() { (void)RmfNodePoolDestroy(pool_); }
  PoolHolder(const PoolHolder&) = delete;
  PoolHolder& operator=(const PoolHolder&) = delete;

 private:
  RmfNodePool* pool_;
};

// The cost of the step a backward link stands for (the turn at the junction
// of the link's node and the stretch of its parent, or a destination's start
// stretch) when the junction is reached at cost `atJunction` from the
// origins: 1 with *step; 0 when the stretch is closed at that time or its
// cost overflows; or a negative code.
std::int32_t TimedStep(const Search& s, const RmfSearchLink& link, std::int32_t atJunction, std::int32_t* step) {
  if ((link.flags & kRmfLinkTimed) == 0) {
    *step = link.cost;
    return 1;
  }
  RmfRoute* route = s.route;
  std::int32_t turn = 0;
  if (link.parent != nullptr) {
    const std::int32_t entry = route->turnCosts[(link.flags >> kRmfLinkSectorShift) & 0xF];
    turn = entry < 0 || route->costShift >= 31 ? 0 : entry >> route->costShift;
  }
  // Priced as the forward expansion prices it: the stretch is entered at
  // the time of the junction.
  const RmfArrivalRef stretch{link.featureId, link.secondId, link.packed & (kRmfNodeRefPartMask | kRmfNodeRefHigher),
                              nullptr};
  RmfTraversal now{};
  std::int32_t timed = 0;
  const std::int32_t r =
      RmfRouteTimedCost(route, 0, &stretch, link.length, &atJunction, nullptr, atJunction, 2, &now, &timed);
  if (r == kRmfCostOverflow) return 0;
  if (r < 0) return r;
  if (RmfTraversalClass(now.flags) < 0 || timed > kMaxCost - turn) return 0;
  *step = turn + timed;
  return 1;
}

// Validates the meeting of forward node `f` and backward node `b`: 1 with
// the validated cost in *validated (and, when `chosen` is given, the links of
// the backward half taken, from `b` on); 0 when it is rejected; or a
// negative code.
std::int32_t RmfMeetValidate(Search& s, RmfSearchNode* f, RmfSearchNode* b, std::int32_t* validated,
                             std::vector<const RmfSearchLink*>* chosen) {
  if (ChainsForbid(f->restrictions, b->restrictions)) return 0;
  RmfNodePool* pool = nullptr;
  const std::uint32_t maximum = std::clamp<std::uint32_t>(s.route->nodeMemoryLimit / 8, 25, 0x7FFFFFFF);
  if (RmfNodePoolCreate(&pool, kRmfMeetPoolInitial, kRmfMeetPoolGrowth, static_cast<std::int32_t>(maximum), nullptr,
                        nullptr) != 1) {
    return 0;
  }
  const PoolHolder holder(pool);
  TiBtiTree open;
  TiBtiTree seen;
  if (TiBtiInit(&open, &CompareMeetState, nullptr, 0) != 1 || TiBtiInit(&seen, &CompareMeetSeen, nullptr, 0) != 1) {
    return CountInternalError();
  }
  // 1 when the state was added, 0 when the pool is out of memory.
  const auto add = [&](RmfSearchNode* node, std::int32_t cost, MeetState* previous,
                       const RmfSearchLink* link) -> std::int32_t {
    auto* state = static_cast<MeetState*>(RmfNodePoolAlloc(pool, sizeof(MeetState)));
    if (state == nullptr) return 0;
    *state = MeetState{{}, node, cost, previous, link};
    void* found = nullptr;
    if (TiBtiFindForce(&open, state, 0, &found, 1) != 0) return CountInternalError();
    return 1;
  };
  std::int32_t r = add(b, f->cost, nullptr, nullptr);
  if (r != 1) return r;
  for (;;) {
    void* least = nullptr;
    if (TiBtiLeast(&open, &least) < 0) return CountInternalError();
    if (least == nullptr) return 0;
    auto* state = static_cast<MeetState*>(least);
    void* out = nullptr;
    if (TiBtiDelete(&open, state, &out) != 1 || out != state) return CountInternalError();
    if (state->node == nullptr) {
      *validated = state->cost;
      if (chosen != nullptr) {
        chosen->clear();
        for (const MeetState* at = state; at->previous != nullptr; at = at->previous) chosen->push_back(at->link);
        std::reverse(chosen->begin(), chosen->end());
      }
      return 1;
    }
    MeetSeen key{{}, state->node};
    void* found = nullptr;
    if (TiBtiFindForce(&seen, &key, 0, &found, 0) == 1) continue;
    auto* mark = static_cast<MeetSeen*>(RmfNodePoolAlloc(pool, sizeof(MeetSeen)));
    if (mark == nullptr) return 0;
    *mark = key;
    if (TiBtiFindForce(&seen, mark, 0, &found, 1) != 0) return CountInternalError();
    for (const RmfSearchLink* link : state->node->links) {
      if (link == nullptr) continue;
      std::int32_t step = 0;
      r = TimedStep(s, *link, state->cost, &step);
      if (r < 0) return r;
      if (r == 0 || static_cast<std::int64_t>(state->cost) + step > kMaxCost) continue;
      r = add(link->parent, state->cost + step, state, link);
      if (r != 1) return r;
    }
  }
}

// 0 no meeting, 1 a meeting, 2 both sides already closed; -15 on overflow.
// With `again` (time-dependent mode: the node has just gained another link)
// the pair is judged anew even when both sides are closed: the link may
// make a meeting valid that was rejected, or cheaper.
std::int32_t Meet(Search& s, RmfSearchNode* n, bool again = false) {
  const std::int32_t dir = (n->flags & kRmfSearchBackward) != 0 ? kBackward : kForward;
  if ((n->expansion & kRmfSearchWalkedStart) != 0) return 0;
  RmfSearchNode* m = Partner(s, dir, n);
  if (m == nullptr) return 0;
  if (!again && (n->flags & kRmfSearchClosed) != 0 && (m->flags & kRmfSearchClosed) != 0) {
    if ((n->flags & kRmfSearchMeeting) != 0 && (m->flags & kRmfSearchMeeting) != 0) {
      ++s.repeatedMeetings;
      s.repeatedStarted = true;
    }
    return 2;
  }
  std::int64_t total = static_cast<std::int64_t>(n->cost) + m->cost;
  if (total > kMaxCost) return kRmfCostOverflow;
  if (s.timeDependent) {
    std::int32_t validated = 0;
    const std::int32_t valid = RmfMeetValidate(s, dir == kForward ? n : m, dir == kForward ? m : n, &validated, nullptr);
    if (valid < 0) return valid;
    if (valid == 0) {
      ++s.rejections;
      return 0;
    }
    if (validated > total) {
      // The first meeting that costs more than it seemed, before any route
      // is known: the backward costs run low, so the search looks further
      // before it settles.
      if (!s.limitsScaled && s.meet[kForward] == nullptr && !s.direct) {
        s.limitsScaled = true;
        const auto scale = [&](std::int32_t limit) {
          return static_cast<std::int32_t>(
              std::min<std::int64_t>(static_cast<std::int64_t>(limit) * validated / std::max<std::int64_t>(total, 1),
                                     kMaxCost));
        };
        s.repeatedLimit = scale(kRepeatedMeetingsLimit);
        s.expansionsLimit = scale(kExpansionsAfterMeetingLimit);
      }
      total = validated;
    }
  }
  n->flags |= kRmfSearchMeeting;
  m->flags |= kRmfSearchMeeting;
  s.meetingFound = true;
  if (total < s.best) {
    s.best = static_cast<std::int32_t>(total);
    s.meet[dir] = n;
    s.meet[1 - dir] = m;
    s.direct = false;
  }
  return 1;
}

// ---- insertion ------------------------------------------------------------------------------

// The flags of a link made for an expansion record: the restricted marker
// and what the record's second walk word carries.
std::uint32_t LinkFlags(const RmfExpansion& e) {
  return ((e.flags & kRmfExpandRestrictedEntry) != 0 ? kRmfLinkRestricted : 0u) |
         (e.walkWords[1] & (kRmfLinkAllowedEnd | kRmfLinkCarriesLevel | kRmfLinkLevelMask));
}

void FillLink(RmfSearchLink* link, RmfSearchNode* parent, const RmfExpansion& e, std::int32_t stepCost,
              std::int32_t stepTime, std::int32_t total, std::int32_t endpoint) {
  link->parent = parent;
  link->cost = stepCost;
  link->time = stepTime;
  link->total = total;
  link->length = e.length;
  link->featureId = e.entryFeatureId;
  link->secondId = e.entrySecondId;
  link->packed = e.entryPacked;
  link->flags = LinkFlags(e) | ((e.packedFlags & kRmfExpandPackedTimedCost) != 0 ? kRmfLinkTimed : 0u) |
                (((e.packedFlags >> kRmfExpandPackedSectorShift) & 0xF) << kRmfLinkSectorShift);
  link->endpoint = endpoint;
}

// Whether a node of the feature lies on the chain from `parent` upwards,
// followed as long as the links carry the restricted marker.
bool IdentityOnChain(const RmfSearchNode* parent, std::uint32_t featureId, std::uint32_t secondId) {
  std::int32_t guard = 0;
  for (const RmfSearchNode* p = parent; p != nullptr && guard < (1 << 20); ++guard) {
    if (p->identity[0] == featureId && p->identity[1] == secondId) return true;
    const RmfSearchLink* link = p->links[0];
    if (link == nullptr || (link->flags & kRmfLinkRestricted) == 0) return false;
    p = link->parent;
  }
  return false;
}

// Time-dependent mode: adds a link from `parent` to the known node `n`
// among its links. 1 when the node's cost fell (the link is its first now),
// 2 when it is kept as an alternative, 0 when it is dropped, or a negative
// code.
std::int32_t AddLink(Search& s, RmfSearchNode* n, RmfSearchNode* parent, const RmfExpansion& e, std::int32_t stepCost,
                     std::int32_t stepTime, std::int32_t cost, std::int32_t endpoint) {
  RmfSearchLink trial{};
  FillLink(&trial, parent, e, stepCost, stepTime, cost, endpoint);
  RmfSearchLink* places[kRmfSearchMaxLinks];
  std::copy(std::begin(n->links), std::end(n->links), places);
  const std::int32_t at = RmfSearchPlaceLink(places, &trial, nullptr);
  if (at < 0) return 0;
  // The pool's reclaiming must leave the node alone meanwhile.
  const std::uint32_t busy = n->flags & kRmfSearchBusy;
  n->flags |= kRmfSearchBusy;
  RmfSearchLink* link = NewLink(s);
  n->flags = (n->flags & ~kRmfSearchBusy) | busy;
  if (link == nullptr) return at == 0 ? kRmfNoMemory : 0;
  *link = trial;
  RmfSearchLink* evicted = nullptr;
  if (RmfSearchPlaceLink(n->links, link, &evicted) != at) {
    link->parent = reinterpret_cast<RmfSearchNode*>(s.freeLinks);
    s.freeLinks = link;
    return CountInternalError();
  }
  if (parent != nullptr) SetChildren(parent, Children(parent) + 1);
  if (evicted != nullptr) DropLink(s, evicted);
  return at == 0 ? 1 : 2;
}

// Puts a successor of `parent` (null for a start node) into direction
// `dir`: 1, or a negative code.
std::int32_t Insert(Search& s, std::int32_t dir, RmfSearchNode* parent, const RmfExpansion& e, std::int32_t stepCost,
                    std::int32_t stepTime, std::int32_t endpoint, std::uint32_t expansionWord) {
  const std::int64_t cost64 = static_cast<std::int64_t>(parent != nullptr ? parent->cost : 0) + stepCost;
  const std::int64_t time64 = static_cast<std::int64_t>(parent != nullptr ? parent->time : 0) + stepTime;
  if (cost64 > kMaxCost || time64 > kMaxCost || stepCost < 0) return kRmfCostOverflow;
  const auto cost = static_cast<std::int32_t>(cost64);
  if (cost >= s.costLimit) return 1;
  Direction& d = s.dirs[dir];
  const bool walkedStart = (expansionWord & kRmfSearchWalkedStart) != 0;
  // A connection with the second time-dependent mark may not lead back to a
  // feature the path has passed through its restricted stretches.
  if (parent != nullptr && (e.packedFlags & kRmfExpandPackedConnSecond) != 0 &&
      IdentityOnChain(parent, e.featureId, e.secondId)) {
    return 1;
  }
  if ((e.flags & kRmfExpandRestrictedEntry) != 0) d.restrictedEntry = true;

  RmfSearchNode* n = walkedStart ? nullptr : Lookup(d, e.featureId, e.secondId, e.packed, e.pending, true);
  if (n != nullptr) {
    if (ClassOf(e.packed) > ClassOf(n->packed)) {
      n->packed = (n->packed & ~(7u << kRmfSearchClassShift)) | (e.packed & (7u << kRmfSearchClassShift));
    }
    if ((n->flags & kRmfSearchBusy) != 0) return 1;
    if (s.timeDependent) {
      // Up to three links, cheapest first; the node moves only when its
      // first link changes.
      const std::int32_t added = AddLink(s, n, parent, e, stepCost, stepTime, cost, endpoint);
      if (added == 2) {
        const std::int32_t met = Meet(s, n, true);
        return met < 0 ? met : 1;
      }
      if (added != 1) return added < 0 ? added : 1;
      const std::int32_t left = LeaveOpen(s, n);
      if (left != 1) return left;
      n->cost = cost;
      n->time = static_cast<std::int32_t>(time64);
    } else {
      if (n->cost <= cost) return 1;
      RmfSearchLink* link = n->links[0];
      if (link == nullptr) return CountInternalError();
      // The link moves to the new parent.
      RmfSearchNode* old = link->parent;
      if (old != nullptr) {
        const std::uint32_t c = Children(old);
        if (c > 0 && c < 255) SetChildren(old, c - 1);
        if (Reclaimable(old) && (old->flags & kRmfSearchClosed) != 0) PutReclaim(s, old, 1);
      }
      const std::int32_t left = LeaveOpen(s, n);
      if (left != 1) return left;
      FillLink(link, parent, e, stepCost, stepTime, cost, endpoint);
      if (parent != nullptr) SetChildren(parent, Children(parent) + 1);
      n->cost = cost;
      n->time = static_cast<std::int32_t>(time64);
    }
  } else {
    n = NewNode(s);
    RmfSearchLink* link = n != nullptr ? NewLink(s) : nullptr;
    if (n == nullptr || link == nullptr) {
      if (n != nullptr) {
        n->hashNext = s.freeNodes;
        s.freeNodes = n;
      }
      return kRmfNoMemory;
    }
    n->featureId = e.featureId;
    n->secondLow = static_cast<std::uint16_t>(e.secondId & 0xFFFF);
    n->secondHigh = static_cast<std::uint16_t>(e.secondId >> 16);
    n->packed = e.packed;
    n->expansion = expansionWord | (e.walkWords[0] & (kRmfSearchNeedsEnd | kRmfSearchTakeAtOnce));
    n->identity[0] = e.featureId;
    n->identity[1] = e.secondId;
    n->restrictions = e.pending;
    n->cost = cost;
    n->time = static_cast<std::int32_t>(time64);
    n->point = e.point;
    n->flags = dir == kBackward ? kRmfSearchBackward : 0u;
    FillLink(link, parent, e, stepCost, stepTime, cost, endpoint);
    n->links[0] = link;
    if (parent != nullptr) SetChildren(parent, Children(parent) + 1);
    if (!walkedStart) Hash(s, dir, n);
    const std::int32_t h = Estimate(s, dir, e.point);
    if (h < 0) return h;
    n->estimate = h;
  }
  n->key = KeyOf(s, n->cost, n->estimate);
  if (static_cast<std::int64_t>(n->cost) + n->estimate < s.best) {
    const std::int32_t entered = EnterOpen(s, n);
    if (entered != 1) return entered;
    const std::int32_t met = Meet(s, n);
    if (met < 0) return met;
  } else {
    n->flags |= kRmfSearchClosed;
    if (Reclaimable(n)) PutReclaim(s, n, 2);
  }
  return 1;
}

// ---- start nodes and the direct route -------------------------------------------------------

// Length of a reference's stretch and the share travelled: -1 on failure.
struct RefLength {
  std::int64_t whole = 0;
  std::int64_t travelled = 0;
};

// The start nodes of one origin (forward) or destination (backward). A
// forward start stands at the first junction at or after the origin's to
// vertex, its cost that of the stretch from the origin's point; a backward
// one at the last junction at or before the destination's from vertex, its
// cost that of the stretch to the destination's point, and it is expanded
// without walking. In time-dependent mode a time-dependent start stretch is
// priced for the time of departure (forward) or arrival (backward), and
// *timedFlags gets kRmfExpandPackedTimedCost and kRmfExpandPackedStillTimed
// as for an expansion record. 1, 0 when the reference cannot be travelled,
// or a negative code.
std::int32_t RmfRouteStartNodes(Search& s, std::int32_t dir, std::int32_t index, std::uint32_t* timedFlags) {
  *timedFlags = 0;
  RmfRoute* route = s.route;
  const RmfFeatureRef& r = dir == kForward ? s.origins[index] : s.destinations[index];
  if (r.fromVertex == r.toVertex || (r.position & kRmfPositionFraction) > kRmfPositionWhole) return kRmfBadReference;
  const std::int32_t travel = r.toVertex > r.fromVertex ? 1 : -1;
  const RmfFeatKey key = KeyOfRef(r);
  HeldSlot slot;
  const std::int32_t fetched = slot.Fetch(route->reader, key, nullptr);
  if (fetched != 1) return fetched == 0 ? kRmfBadReference : fetched;
  if (r.part >= slot.get()->partCount || RmfFeatureSelectPart(slot.get(), r.part, 0, nullptr) < 0) {
    return kRmfBadReference;
  }
  HeldTable table(route);
  const std::int32_t got = table.Take(key, 0);
  if (got != 1) return got < 0 ? got : CountInternalError();
  if (r.part >= table.get()->featureCount) return kRmfBadReference;
  const RmfTraversal* records = RmfTableTraversals(table.get(), r.part);
  const RmfTraversal record = records[TravelIndex(travel)];
  const std::int32_t roadClass = RmfTraversalClass(record.flags);
  if (roadClass < 0) return 0;

  const std::int64_t whole = RmfFeatureStretchLength(slot.get(), r.part, r.fromVertex, r.toVertex, s.exact ? 1 : 0);
  if (whole < 0) return kRmfBadReference;
  const std::int64_t travelled = Share(whole, r.position & kRmfPositionFraction);

  // Walk from the reference's other end on to the first junction at or
  // beyond its far end (forward: its to vertex; backward: its from vertex,
  // against the travel), crossing onto parts that merely continue it.
  const std::int32_t step = dir == kForward ? travel : -travel;
  const std::int32_t at = dir == kForward ? r.toVertex : r.fromVertex;
  const std::int32_t other = dir == kForward ? r.fromVertex : r.toVertex;
  RmfFeatKey endKey = key;
  std::int32_t endPart = r.part;
  std::int32_t endVertex = at;
  std::int32_t endTravel = travel;
  std::int64_t extra = 0;
  RmfWalk walk{};
  std::int32_t walked = RmfRouteWalk(route, slot.get(), table.get(), r.part, other, records, step, travel, 0, 1,
                                     nullptr, 0, &walk, nullptr);
  if (walked < 0) return walked;
  const bool inside = walked == 1 && walk.lastFeature.featureId == 0 &&
                      (static_cast<std::int32_t>(walk.farVertex) - at) * step < 0;
  if (inside) {
    // A junction inside the reference (one of several pieces): the start
    // stands beyond its far end all the same.
    walk = RmfWalk{};
    walked = RmfRouteWalk(route, slot.get(), table.get(), r.part, at, records, step, travel, 0, 1, nullptr, 0, &walk,
                          nullptr);
    if (walked < 0) return walked;
    if (walked == 1) extra = walk.length;
  } else if (walked == 1) {
    extra = std::max<std::int64_t>(0, static_cast<std::int64_t>(walk.length) - whole);
  }
  TiPoint endPoint{};
  if (walked == 1) {
    endVertex = static_cast<std::int32_t>(walk.farVertex);
    endPoint = walk.farPoint;
    if (walk.lastFeature.featureId != 0) {
      endKey = KeyOfRef(walk.lastFeature);
      endPart = walk.lastFeature.part;
      endTravel = dir == kForward ? walk.lastDirection : -walk.lastDirection;
    }
  } else {
    const std::int32_t word = RmfFeatureNodeAt(slot.get(), r.part, at);
    if (word < 0 || word >= 0x8000 || RmfFeaturePointAt(slot.get(), word, &endPoint) != 1) return kRmfBadReference;
  }
  const std::int64_t length = std::min<std::int64_t>(travelled + extra, kRmfWalkLengthMax);
  std::int32_t cost = RmfScaledCost(static_cast<std::uint32_t>(length), record.costFactor, route->costShift);
  if (cost < 0) return kRmfCostOverflow;
  if (s.timeDependent && (record.flags & kRmfTraversalTimed) != 0) {
    const std::int32_t zero = 0;
    const RmfArrivalRef stretch{key.a, SecondIdOf(key), PackRef(r.part, 0, travel, 0) & kRmfSearchKeyMask, nullptr};
    RmfTraversal now{};
    std::int32_t timed = 0;
    const std::int32_t priced =
        RmfRouteTimedCost(route, 0, &stretch, static_cast<std::uint32_t>(length), dir == kForward ? &zero : nullptr,
                          dir == kBackward ? &zero : nullptr, 1000, 2, &now, &timed);
    if (priced < 0) return priced;
    if (RmfTraversalClass(now.flags) < 0) return 0;
    cost = timed;
    *timedFlags = kRmfExpandPackedTimedCost | ((now.flags & kRmfTraversalTimed) != 0 ? kRmfExpandPackedStillTimed : 0u);
  }

  RmfExpansion e{};
  e.featureId = endKey.a;
  e.secondId = SecondIdOf(endKey);
  e.packed = PackRef(endPart, endVertex, endTravel, std::min(roadClass, 7));
  e.entryFeatureId = key.a;
  e.entrySecondId = SecondIdOf(key);
  e.entryPacked = PackRef(r.part, dir == kForward ? r.toVertex : endVertex, travel, 0);
  e.point = endPoint;
  e.flags = (record.flags & kRmfTraversalRestricted) != 0 ? kRmfExpandRestrictedEntry : 0u;
  e.length = static_cast<std::uint32_t>(length);
  e.packedFlags = *timedFlags;
  const std::uint32_t word = dir == kForward ? 0u : kRmfSearchWalkedStart;
  if (dir == kBackward) ++s.startsWaiting;
  return Insert(s, dir, nullptr, e, cost, cost, index, word);
}

// Takes the direct route of `length` from origin `origin` to destination
// `destination`, travelled as `record` says, as the best so far when it costs
// less than the best: 1 when taken, 0 when not, kRmfCostOverflow when its cost
// does not fit.
std::int32_t KeepCheaperDirectRoute(Search& s, std::int64_t length, const RmfTraversal& record, std::int32_t origin,
                                    std::int32_t destination) {
  const std::int32_t cost = RmfScaledCost(static_cast<std::uint32_t>(std::min<std::int64_t>(length, 0xFFFFFFFF)),
                                          record.costFactor, s.route->costShift);
  if (cost < 0) return kRmfCostOverflow;
  if (cost >= s.best) return 0;
  s.best = cost;
  s.direct = true;
  s.directOrigin = origin;
  s.directDestination = destination;
  s.meet[0] = s.meet[1] = nullptr;
  return 1;
}

// The direct route to destination j from an origin on another part that the
// destination's part merely continues, with no junction between them (two
// streets that meet end to end): the search's start nodes stand at the
// junctions beyond such a pair and would only find the way round. 1 when one
// was taken as the best so far, 0 when none, or a negative code.
std::int32_t JoinedDirectRoute(Search& s, std::int32_t j) {
  RmfRoute* route = s.route;
  const RmfFeatureRef& t = s.destinations[j];
  if ((t.position & kRmfPositionFraction) > kRmfPositionWhole) return kRmfBadReference;
  const std::int32_t exact = s.exact ? 1 : 0;
  std::int32_t found = 0;
  for (std::int32_t i = 0; i < s.originCount; ++i) {
    const RmfFeatureRef& o = s.origins[i];
    if (o.featureId == t.featureId && o.source == t.source && o.secondId == t.secondId && o.part == t.part) continue;
    if ((o.position & kRmfPositionFraction) > kRmfPositionWhole) return kRmfBadReference;
    std::uint32_t walked = 0;
    if (RmfRouteWalkReaches(route, &o, &t, &walked) != 1) continue;
    const std::int32_t travel = o.toVertex > o.fromVertex ? 1 : -1;
    HeldSlot slot;
    const std::int32_t fetched = slot.Fetch(route->reader, KeyOfRef(o), nullptr);
    if (fetched != 1) return fetched == 0 ? kRmfBadReference : fetched;
    HeldTable table(route);
    const std::int32_t got = table.Take(KeyOfRef(o), 0);
    if (got != 1) return got < 0 ? got : CountInternalError();
    if (o.part >= table.get()->featureCount) return kRmfBadReference;
    const RmfTraversal record = RmfTableTraversals(table.get(), o.part)[TravelIndex(travel)];
    if (RmfTraversalClass(record.flags) < 0) continue;
    const std::int64_t first = RmfFeatureStretchLength(slot.get(), o.part, o.fromVertex, o.toVertex, exact);
    if (first < 0) return kRmfBadReference;
    std::int64_t last = 0;
    {
      HeldSlot other;
      const std::int32_t had = other.Fetch(route->reader, KeyOfRef(t), nullptr);
      if (had != 1) return had == 0 ? kRmfBadReference : had;
      last = RmfFeatureStretchLength(other.get(), t.part, t.fromVertex, t.toVertex, exact);
      if (last < 0) return kRmfBadReference;
    }
    // The walk ran from the origin's from vertex: its first stretch is
    // counted by the origin's share instead.
    const std::int64_t between = std::max<std::int64_t>(0, static_cast<std::int64_t>(walked) - first);
    const std::int64_t length =
        Share(first, o.position & kRmfPositionFraction) + between + Share(last, t.position & kRmfPositionFraction);
    const std::int32_t kept = KeepCheaperDirectRoute(s, length, record, i, j);
    if (kept < 0) return kept;
    found = std::max(found, kept);
  }
  return found;
}

// The direct route along one part from an origin to a destination ahead of
// it with no junction between them, or across parts that merely continue
// each other (JoinedDirectRoute): 1 when one was taken as the best so far, 0
// when none, or a negative code.
std::int32_t DirectRoute(Search& s) {
  RmfRoute* route = s.route;
  std::int32_t found = 0;
  for (std::int32_t j = 0; j < s.destinationCount; ++j) {
    const RmfFeatureRef& t = s.destinations[j];
    const std::int32_t travel = t.toVertex > t.fromVertex ? 1 : -1;
    std::int32_t chosen = -1;
    std::int32_t chosenDistance = 0;
    for (std::int32_t i = 0; i < s.originCount; ++i) {
      const RmfFeatureRef& o = s.origins[i];
      if (o.featureId != t.featureId || o.source != t.source || o.secondId != t.secondId || o.part != t.part) continue;
      if ((o.toVertex > o.fromVertex ? 1 : -1) != travel) continue;
      if ((o.position & kRmfPositionFraction) > kRmfPositionWhole) return kRmfBadReference;
      const std::int32_t gap = (static_cast<std::int32_t>(t.fromVertex) - o.toVertex) * travel;
      const bool sameStretch = o.fromVertex == t.fromVertex && o.toVertex == t.toVertex;
      const std::uint32_t fo = o.position & kRmfPositionFraction;
      const std::uint32_t fd = t.position & kRmfPositionFraction;
      if (sameStretch ? fo + fd < kRmfPositionWhole : gap < 0) continue;
      const std::int32_t distance = sameStretch ? 0 : gap;
      if (chosen < 0 || distance < chosenDistance ||
          (distance == chosenDistance && fo > (s.origins[chosen].position & kRmfPositionFraction))) {
        chosen = i;
        chosenDistance = distance;
      }
    }
    if (chosen < 0) {
      const std::int32_t joined = JoinedDirectRoute(s, j);
      if (joined < 0) return joined;
      found = std::max(found, joined);
      continue;
    }
    const RmfFeatureRef& o = s.origins[chosen];
    const bool sameStretch = o.fromVertex == t.fromVertex && o.toVertex == t.toVertex;
    if (!sameStretch && RmfRouteJunctionBetween(route, &o, &t) != 0) continue;
    route->stateFlags |= kRmfRouteStateSameFeature;

    HeldSlot slot;
    const std::int32_t fetched = slot.Fetch(route->reader, KeyOfRef(t), nullptr);
    if (fetched != 1) return fetched == 0 ? kRmfBadReference : fetched;
    HeldTable table(route);
    const std::int32_t got = table.Take(KeyOfRef(t), 0);
    if (got != 1) return got < 0 ? got : CountInternalError();
    if (t.part >= table.get()->featureCount) return kRmfBadReference;
    const RmfTraversal record = RmfTableTraversals(table.get(), t.part)[TravelIndex(travel)];
    if (RmfTraversalClass(record.flags) < 0) continue;
    const std::int32_t exact = s.exact ? 1 : 0;
    const std::uint32_t fo = o.position & kRmfPositionFraction;
    const std::uint32_t fd = t.position & kRmfPositionFraction;
    std::int64_t length = 0;
    if (sameStretch) {
      const std::int64_t whole = RmfFeatureStretchLength(slot.get(), t.part, t.fromVertex, t.toVertex, exact);
      if (whole < 0) return kRmfBadReference;
      length = Share(whole, std::min<std::uint32_t>(fo + fd - kRmfPositionWhole, kRmfPositionWhole));
    } else {
      const std::int64_t first = RmfFeatureStretchLength(slot.get(), o.part, o.fromVertex, o.toVertex, exact);
      const std::int64_t between = RmfFeatureStretchLength(slot.get(), o.part, o.toVertex, t.fromVertex, exact);
      const std::int64_t last = RmfFeatureStretchLength(slot.get(), t.part, t.fromVertex, t.toVertex, exact);
      if (first < 0 || between < 0 || last < 0) return kRmfBadReference;
      length = Share(first, fo) + between + Share(last, fd);
    }
    const std::int32_t kept = KeepCheaperDirectRoute(s, length, record, chosen, j);
    if (kept < 0) return kept;
    found = std::max(found, kept);
  }
  return found;
}

// ---- result ---------------------------------------------------------------------------------

// Where a part that ends at the point of `pointIndex` is continued by one
// other part end (the crossing a walk makes): 1 with the key, part, vertex
// and step of the continuation; 0 when there is none.
std::int32_t ContinuationAt(RmfRoute* route, const RmfFeatKey& key, std::int32_t part, std::int32_t pointIndex,
                            RmfFeatKey* nextKey, std::int32_t* nextPart, std::int32_t* nextVertex,
                            std::int32_t* nextStep) {
  HeldTable table(route);
  if (table.Take(key, 0) != 1) return 0;
  const std::int32_t node = rmf::detail::NodeOfPoint(table.get(), pointIndex);
  const std::uint32_t* words = nullptr;
  const std::int32_t n = node >= 0 ? RmfTileRouteNodeIncidences(table.get(), node, &words) : 0;
  for (std::int32_t i = 0; i < n; ++i) {
    std::uint32_t w = words[i];
    RmfFeatKey k = key;
    if ((w & kRmfIncidenceJoined) != 0) {
      const std::int32_t index = RmfIncidenceNeighbour(w);
      if (index >= table.get()->neighbourCount) continue;
      k = RmfTableNeighbours(table.get())[index];
      HeldTable other(route);
      if (other.Take(k, 0) != 1) continue;
      const std::uint32_t* theirs = nullptr;
      const std::int32_t m = RmfTileRouteNodeIncidences(other.get(), RmfIncidenceNode(w), &theirs);
      std::uint32_t own = 0;
      for (std::int32_t j = 0; j < m; ++j) {
        if ((theirs[j] & kRmfIncidenceJoined) == 0) own = theirs[j];
      }
      if (own == 0) continue;
      w = own;
    } else if (RmfIncidencePart(w) == part) {
      continue;
    }
    if ((w & (kRmfIncidenceStarts | kRmfIncidenceEnds)) == 0) continue;
    *nextKey = k;
    *nextPart = RmfIncidencePart(w);
    *nextVertex = RmfIncidenceVertex(w);
    *nextStep = (w & kRmfIncidenceStarts) != 0 ? 1 : -1;
    return 1;
  }
  return 0;
}

// Writes the whole pieces of a stretch from the entry (key, part, vertex,
// direction of travel) to the end (key, part, vertex), crossing where one
// part merely continues another: 1, or kRmfMalformed when it does not come
// out on the end.
std::int32_t RmfRouteStretchRefs(RmfRoute* route, RmfFeatKey key, std::int32_t part, std::int32_t vertex,
                                 std::int32_t step, const RmfFeatKey& endKey, std::int32_t endPart,
                                 std::int32_t endVertex, std::uint32_t word, ResultBuffer* out) {
  for (std::int32_t steps = 0; steps < kMaxStretchSteps; ++steps) {
    if (rmf::detail::SameKey(key, endKey) && part == endPart && vertex == endVertex) return 1;
    HeldSlot slot;
    if (slot.Fetch(route->reader, key, nullptr) != 1) return CountInternalError();
    std::int32_t found = -1;
    const std::int32_t point = RmfFeatureNextNode(slot.get(), part, vertex, step, &found, nullptr);
    if (point >= 0) {
      const RmfFeatureRef piece{key.a,
                                key.b,
                                key.c,
                                static_cast<std::uint16_t>(part),
                                static_cast<std::uint16_t>(vertex),
                                static_cast<std::uint16_t>(found),
                                kRmfPositionWhole};
      if (!out->Add(piece, word)) return kRmfNoMemory;
      vertex = found;
      continue;
    }
    if (point != -1) return CountInternalError();
    // The part ends: carry on along the part that continues it.
    const std::int32_t here = RmfFeatureNodeAt(slot.get(), part, vertex);
    if (here < 0 || here >= 0x8000) return CountInternalError();
    slot.Reset();
    RmfFeatKey nk{};
    std::int32_t np = 0;
    std::int32_t nv = 0;
    std::int32_t ns = 0;
    if (ContinuationAt(route, key, part, here, &nk, &np, &nv, &ns) != 1) return CountInternalError();
    key = nk;
    part = np;
    vertex = nv;
    step = ns;
  }
  return CountInternalError();
}

// The result of a meeting: the forward chain back to its origin, then the
// backward chain on to its destination.
std::int32_t AssembleMeeting(Search& s, ResultBuffer* out) {
  RmfRoute* route = s.route;
  // Forward: stretches from the meeting node back to the start, each
  // written backwards in place and the whole share reversed at the end.
  std::int32_t guard = 0;
  std::int32_t origin = -1;
  for (RmfSearchNode* n = s.meet[kForward]; n != nullptr; ++guard) {
    if (guard > (1 << 24)) return CountInternalError();
    const RmfSearchLink* link = n->links[0];
    if (link == nullptr) return CountInternalError();
    const std::int32_t mark = out->count();
    const std::int32_t r = RmfRouteStretchRefs(route, KeyOf(link->featureId, link->secondId), PartOf(link->packed),
                                               VertexOf(link->packed), DirectionOf(link->packed), KeyOfNode(n),
                                               PartOf(n->packed), VertexOf(n->packed),
                                               static_cast<std::uint32_t>(link->cost), out);
    if (r != 1) return r;
    out->Reverse(mark);
    if (link->parent == nullptr) origin = link->endpoint;
    n = link->parent;
  }
  if (origin < 0 || origin >= s.originCount) return CountInternalError();
  if (!out->Add(s.origins[origin], 0)) return kRmfNoMemory;
  out->Reverse(0);

  std::int32_t destination = -1;
  guard = 0;
  // The backward half follows the links its validation took, if any.
  const bool validatedPath = !s.chosen.empty();
  for (RmfSearchNode* n = s.meet[kBackward]; n != nullptr; ++guard) {
    if (guard > (1 << 24)) return CountInternalError();
    const auto step = static_cast<std::size_t>(guard);
    const RmfSearchLink* link = validatedPath ? (step < s.chosen.size() ? s.chosen[step] : nullptr) : n->links[0];
    if (link == nullptr) return CountInternalError();
    RmfSearchNode* parent = link->parent;
    if (parent == nullptr) {
      destination = link->endpoint;
      break;
    }
    RmfFeatKey endKey = KeyOfNode(parent);
    std::int32_t endPart = PartOf(parent->packed);
    std::int32_t endVertex = VertexOf(parent->packed);
    if ((parent->expansion & kRmfSearchWalkedStart) != 0) {
      const RmfSearchLink* start = parent->links[0];
      if (start == nullptr || start->endpoint < 0 || start->endpoint >= s.destinationCount) {
        return CountInternalError();
      }
      const RmfFeatureRef& t = s.destinations[start->endpoint];
      endKey = KeyOfRef(t);
      endPart = t.part;
      endVertex = t.fromVertex;
    }
    const std::int32_t r = RmfRouteStretchRefs(route, KeyOf(link->featureId, link->secondId), PartOf(link->packed),
                                               VertexOf(link->packed), DirectionOf(link->packed), endKey, endPart,
                                               endVertex, static_cast<std::uint32_t>(link->cost), out);
    if (r != 1) return r;
    n = parent;
    if ((parent->expansion & kRmfSearchWalkedStart) != 0) {
      destination = parent->links[0]->endpoint;
      break;
    }
  }
  if (destination < 0 || destination >= s.destinationCount) return CountInternalError();
  if (!out->Add(s.destinations[destination], 0)) return kRmfNoMemory;
  return 1;
}

std::int32_t AssembleDirect(Search& s, ResultBuffer* out) {
  const RmfFeatureRef& o = s.origins[s.directOrigin];
  const RmfFeatureRef& t = s.destinations[s.directDestination];
  if (!out->Add(o, 0)) return kRmfNoMemory;
  const bool samePart = o.featureId == t.featureId && o.source == t.source && o.secondId == t.secondId &&
                        o.part == t.part;
  if (!(samePart && o.fromVertex == t.fromVertex && o.toVertex == t.toVertex)) {
    // From the origin's to vertex on, in its direction of travel (which a
    // continuing part may run against in vertex order).
    const std::int32_t travel = o.toVertex > o.fromVertex ? 1 : -1;
    const std::int32_t r = RmfRouteStretchRefs(s.route, KeyOfRef(o), o.part, o.toVertex, travel, KeyOfRef(t), t.part,
                                               t.fromVertex, 0, out);
    if (r != 1) return r;
  }
  if (!out->Add(t, 0)) return kRmfNoMemory;
  return 1;
}

// ---- progress -------------------------------------------------------------------------------

void WriteProgress(Search& s, std::int32_t fraction) {
  if (s.progress == nullptr) return;
  const std::int32_t span = s.progressEnd - s.progressStart;
  const std::int32_t value = std::min(s.progressStart + span * std::clamp(fraction, 0, 256) / 256, s.progressEnd);
  if (value > *s.progress) *s.progress = static_cast<std::uint8_t>(value);
}

void Progress(Search& s) {
  if (s.progress == nullptr) return;
  if (s.meetingFound) {
    WriteProgress(s, kProgressMeeting);
    return;
  }
  // The share of the initial spread closed by both directions together.
  const std::int64_t closed = std::max<std::int64_t>(0, s.spread - s.closest[kForward] - s.closest[kBackward]);
  WriteProgress(s, static_cast<std::int32_t>(std::min<std::int64_t>(closed * kProgressMeeting / s.spread, kProgressMeeting)));
}

// ---- the loop -------------------------------------------------------------------------------

// Picks the next node: 1 with *dirOut and *nodeOut, 0 when the search
// stops, or a negative code.
std::int32_t RmfSearchPickNext(Search& s, std::int32_t* dirOut, RmfSearchNode** nodeOut) {
  for (;;) {
    void* least[2] = {nullptr, nullptr};
    for (std::int32_t d = 0; d < 2; ++d) {
      if (TiBtiLeast(&s.dirs[d].open, &least[d]) < 0) return CountInternalError();
    }
    auto* f = static_cast<RmfSearchNode*>(least[kForward]);
    auto* b = static_cast<RmfSearchNode*>(least[kBackward]);
    std::int32_t dir = kForward;
    if (f != nullptr && b != nullptr) {
      if (s.tolerance > 100) {
        const Direction& df = s.dirs[kForward];
        const Direction& db = s.dirs[kBackward];
        if (df.level != db.level) {
          dir = df.level < db.level ? kForward : kBackward;
        } else if (df.expanded * 2 < db.expanded) {
          dir = kForward;
        } else if (db.expanded * 2 < df.expanded) {
          dir = kBackward;
        } else {
          const std::int64_t ff = static_cast<std::int64_t>(f->cost) + f->estimate;
          const std::int64_t bb = static_cast<std::int64_t>(b->cost) + b->estimate;
          dir = ff < bb ? kForward : kBackward;
        }
      } else {
        dir = f->key < b->key ? kForward : kBackward;
      }
    } else if (f != nullptr || b != nullptr) {
      dir = f != nullptr ? kForward : kBackward;
      const Direction& mine = s.dirs[dir];
      const Direction& other = s.dirs[1 - dir];
      // The other side has run dry: without a meeting so far, nothing
      // this side finds can meet it any more.
      if (s.meet[0] == nullptr && !s.direct && mine.level >= other.level && !mine.restrictedEntry &&
          s.startsWaiting == 0) {
        return 0;
      }
    } else {
      return 0;
    }
    auto* n = dir == kForward ? f : b;
    const std::int32_t left = LeaveOpen(s, n);
    if (left != 1) return left;
    n->flags |= kRmfSearchClosed;
    if ((n->expansion & kRmfSearchTakeAtOnce) == 0) {
      if (ClassOf(n->packed) < s.dirs[dir].level ||
          static_cast<std::int64_t>(n->cost) + n->estimate >= s.best) {
        if (Reclaimable(n)) PutReclaim(s, n, 0);
        continue;
      }
      // A backward node that only an allowed end may pass (route-data
      // stretches mark them) is passed over unless its link allows one.
      if (dir == kBackward && (n->expansion & kRmfSearchNeedsEnd) != 0 &&
          (n->links[0] == nullptr || (n->links[0]->flags & kRmfLinkAllowedEnd) == 0)) {
        if (Reclaimable(n)) PutReclaim(s, n, 0);
        continue;
      }
    }
    *dirOut = dir;
    *nodeOut = n;
    return 1;
  }
}

void LevelRule(Search& s, std::int32_t dir, const RmfSearchNode* n) {
  Direction& d = s.dirs[dir];
  const RmfRoute* route = s.route;
  const std::int32_t c = ClassOf(n->packed);
  if (c <= d.level) return;
  const std::int32_t trigger = route->classTriggers[c];
  if (trigger < 1 || d.junctions[c] < trigger) return;
  while (d.level < c) {
    const std::int32_t threshold = route->classJunctionThresholds[d.level];
    const std::int32_t costThreshold =
        route->costShift >= 31 ? 0 : route->classCostThresholds[d.level] >> route->costShift;
    if (threshold < 0 || d.junctions[d.level] < threshold || n->cost < costThreshold) break;
    ++d.level;
  }
}

// The level a node is expanded at: its direction's, or the level its link
// carries when the link marks one (route-data stretches do).
std::int32_t ExpansionLevel(const Search& s, std::int32_t dir, const RmfSearchNode* n) {
  const RmfSearchLink* link = n->links[0];
  if (link != nullptr && (link->flags & kRmfLinkCarriesLevel) != 0) {
    return static_cast<std::int32_t>(link->flags & kRmfLinkLevelMask);
  }
  return s.dirs[dir].level;
}

// Finalises: 1 when a route exists, 0 when none does, or a negative code.
// In time-dependent mode the meeting pair is validated once more: its
// validated cost is the route's, or the pair is dropped, the best total
// goes back to the cost limit and the search may go on.
std::int32_t Finalise(Search& s) {
  if (s.direct) return 1;
  if (s.meet[kForward] == nullptr) return 0;
  if (!s.timeDependent) return 1;
  std::int32_t validated = 0;
  const std::int32_t valid = RmfMeetValidate(s, s.meet[kForward], s.meet[kBackward], &validated, &s.chosen);
  if (valid < 0) return valid;
  if (valid == 1) {
    s.best = validated;
    return 1;
  }
  s.meet[kForward] = s.meet[kBackward] = nullptr;
  s.chosen.clear();
  s.best = s.bestInitial;
  s.droppedPair = true;
  return 0;
}

// The main loop: 1 when it ended, or a negative code.
std::int32_t RunLoop(Search& s) {
  RmfExpansion records[kRmfExpandCapacity];
  std::int32_t costs[kRmfExpandCapacity];
  std::int32_t times[kRmfExpandCapacity];
  for (;;) {
    if (s.route->cancel != nullptr && s.route->cancel->load(std::memory_order_relaxed) != 0) return kRmfRouteCancelled;
    std::int32_t dir = 0;
    RmfSearchNode* n = nullptr;
    const std::int32_t picked = RmfSearchPickNext(s, &dir, &n);
    if (picked <= 0) return picked == 0 ? 1 : picked;

    n->flags |= kRmfSearchBusy;
    const std::int32_t met = Meet(s, n);
    if (met < 0) return met;
    // Both sides closed: the meeting covers what lies beyond. Not so for a
    // forward node in time-dependent mode, where the backward side beyond
    // it was priced without the time of travel.
    if (met == 2 && !(s.timeDependent && dir == kForward)) {
      n->flags &= ~kRmfSearchBusy;
      if (Reclaimable(n)) PutReclaim(s, n, 1);
      continue;
    }
    // Stop rules.
    if (s.rejections > kRejectionLimit) return 1;
    if (s.tolerance > 100) {
      if (s.repeatedStarted && (s.repeatedMeetings >= s.repeatedLimit || s.expansionsSince >= s.expansionsLimit)) {
        const std::int32_t finalised = Finalise(s);
        if (finalised != 0) return finalised;
        ++s.rejections;
      }
    } else if (s.meetingFound) {
      void* least = nullptr;
      if (TiBtiLeast(&s.dirs[1 - dir].open, &least) < 0) return CountInternalError();
      if (least != nullptr) {
        const std::int64_t bound =
            static_cast<std::int64_t>(n->cost) + static_cast<RmfSearchNode*>(least)->key - n->estimate;
        if (bound >= s.best) {
          n->flags &= ~kRmfSearchBusy;
          if (Reclaimable(n)) PutReclaim(s, n, 1);
          continue;
        }
      }
    }
    LevelRule(s, dir, n);

    const RmfExpandNodeRef ref{{n->featureId, SecondIdOf(KeyOfNode(n)),
                                (n->packed & kRmfSearchKeyMask) | (n->packed & (7u << kRmfSearchClassShift)),
                                n->restrictions},
                               (n->expansion & kRmfSearchWalkedStart) != 0 ? 1 : 0};
    const std::int32_t fc = dir == kForward ? n->cost : 0;
    const std::int32_t bc = dir == kBackward ? n->cost : 0;
    const std::int32_t count =
        RmfRouteExpandNode(s.route, &ref, ExpansionLevel(s, dir, n), dir == kForward ? 1 : 0, dir == kForward ? &fc : nullptr,
                           dir == kBackward ? &bc : nullptr, &AllocItem, &s, records, times, costs, kRmfExpandCapacity);
    if (count < 0) return count;
    Direction& d = s.dirs[dir];
    if ((n->expansion & kRmfSearchWalkedStart) != 0 && s.startsWaiting > 0) --s.startsWaiting;
    ++d.expanded;
    ++s.totalExpanded;
    if (s.repeatedStarted) ++s.expansionsSince;
    bool junction = count > 2;
    if (count == 2) {
      junction = true;
      for (std::int32_t i = 0; i < 2; ++i) {
        if (((records[i].packedFlags >> kRmfExpandPackedSectorShift) & 0xF) == kUTurnSector) junction = false;
      }
    }
    if (junction) ++d.junctions[ClassOf(n->packed)];
    for (std::int32_t i = 0; i < count; ++i) {
      const std::int32_t inserted = Insert(s, dir, n, records[i], costs[i], times[i], -1, 0);
      if (inserted < 0) return inserted;
    }
    // How close this direction has come to the other endpoints.
    const std::int32_t gap = TiDistance(&n->point, &d.centre) - d.radius;
    if (gap >= 0 && (s.closest[dir] == 0 || gap < s.closest[dir])) s.closest[dir] = gap;
    if ((s.totalExpanded & 15) == 0) Progress(s);
    n->flags &= ~kRmfSearchBusy;
    if (Reclaimable(n)) PutReclaim(s, n, 1);
  }
}

// Centre and radius of a set of references (their from and to points).
std::int32_t RmfEndpointSpread(RmfRoute* route, const RmfFeatureRef* refs, std::int32_t count, TiPoint* centre,
                               std::int32_t* radius) {
  TiPoint points[64];
  std::int32_t n = 0;
  TiRect box{0x7FFFFFFF, 0x7FFFFFFF, -0x7FFFFFFF - 1, -0x7FFFFFFF - 1};
  for (std::int32_t i = 0; i < count; ++i) {
    HeldSlot slot;
    const std::int32_t fetched = slot.Fetch(route->reader, KeyOfRef(refs[i]), nullptr);
    if (fetched != 1) return fetched == 0 ? kRmfBadReference : fetched;
    if (RmfFeatureSelectPart(slot.get(), refs[i].part, 0, nullptr) < 0) return kRmfBadReference;
    for (std::int32_t v : {static_cast<std::int32_t>(refs[i].fromVertex), static_cast<std::int32_t>(refs[i].toVertex)}) {
      const std::int32_t word = RmfFeatureNodeAt(slot.get(), refs[i].part, v);
      TiPoint p{};
      if (word < 0 || word >= 0x8000 || RmfFeaturePointAt(slot.get(), word, &p) != 1) return kRmfBadReference;
      box.x1 = std::min(box.x1, p.x);
      box.y1 = std::min(box.y1, p.y);
      box.x2 = std::max(box.x2, p.x);
      box.y2 = std::max(box.y2, p.y);
      if (n < 64) points[n++] = p;
    }
  }
  centre->x = static_cast<std::int32_t>((static_cast<std::int64_t>(box.x1) + box.x2) / 2);
  centre->y = static_cast<std::int32_t>((static_cast<std::int64_t>(box.y1) + box.y2) / 2);
  std::int32_t r = 0;
  for (std::int32_t i = 0; i < n; ++i) r = std::max(r, TiDistance(centre, &points[i]));
  *radius = r;
  return 1;
}

std::int32_t Setup(Search& s) {
  RmfRoute* route = s.route;
  RmfReader* reader = route->reader;
  if (reader->profile.featureCallback == nullptr) return kRmfProfileMissing;
  if ((reader->profile.modeFlags & 0x3) != 0) return CountInternalError();
  s.exact = (route->modeFlags & kRmfRouteModeExactLengths) != 0;
  s.timeDependent = (route->modeFlags & kRmfRouteModeTimeDependent) != 0;
  s.tolerance = route->tolerancePercent;
  s.keyCeiling = s.tolerance < 1 ? kMaxCost : kMaxCost / s.tolerance;
  if (s.tolerance < 1) s.tolerance = 1;
  s.costLimit = route->costLimit;
  s.best = route->costLimit == kMaxCost || route->costShift >= 31 ? route->costLimit
                                                                  : route->costLimit >> route->costShift;
  s.bestInitial = s.best;
  s.estimateFactor = std::max(RmfProfileGetLimit(reader), 0);

  // Each direction's estimate aims at the other's endpoints.
  std::int32_t rc = RmfEndpointSpread(route, s.destinations, s.destinationCount, &s.dirs[kForward].centre,
                                      &s.dirs[kForward].radius);
  if (rc != 1) return rc;
  rc = RmfEndpointSpread(route, s.origins, s.originCount, &s.dirs[kBackward].centre, &s.dirs[kBackward].radius);
  if (rc != 1) return rc;
  const std::int64_t between = TiDistance(&s.dirs[kForward].centre, &s.dirs[kBackward].centre);
  s.spread = std::max<std::int64_t>(1, between - s.dirs[kForward].radius - s.dirs[kBackward].radius);

  for (Direction& d : s.dirs) {
    if (TiBtiInit(&d.open, &RmfNodeCompare, nullptr, 0) != 1) return CountInternalError();
  }
  std::uint32_t limit = route->nodeMemoryLimit;
  if (s.timeDependent) limit = limit / 8 * 7;
  rc = RmfNodePoolCreate(&s.pool, kRmfSearchPoolInitial, kRmfSearchPoolGrowth,
                         static_cast<std::int32_t>(std::clamp<std::uint32_t>(limit, 25, 0x7FFFFFFF)), &ReclaimHook, &s);
  if (rc != 1) return rc;
  for (Direction& d : s.dirs) {
    const auto bytes = static_cast<std::int32_t>(sizeof(RmfSearchNode*) * kRmfSearchBuckets);
    d.hash = static_cast<RmfSearchNode**>(RmfNodePoolAlloc(s.pool, bytes));
    if (d.hash == nullptr) return kRmfNoMemory;
    std::memset(d.hash, 0, static_cast<std::size_t>(bytes));
  }

  bool anyOrigin = false;
  bool anyDestination = false;
  // Starts whose cost was recomputed for the time of travel and did not
  // stay time-dependent, per direction.
  bool settled[2] = {false, false};
  for (std::int32_t i = 0; i < s.originCount; ++i) {
    std::uint32_t timed = 0;
    rc = RmfRouteStartNodes(s, kForward, i, &timed);
    if (rc < 0) return rc;
    anyOrigin = anyOrigin || rc == 1;
    settled[kForward] = settled[kForward] || (timed & (kRmfExpandPackedTimedCost | kRmfExpandPackedStillTimed)) ==
                                                 kRmfExpandPackedTimedCost;
  }
  for (std::int32_t j = 0; j < s.destinationCount; ++j) {
    std::uint32_t timed = 0;
    rc = RmfRouteStartNodes(s, kBackward, j, &timed);
    if (rc < 0) return rc;
    anyDestination = anyDestination || rc == 1;
    settled[kBackward] = settled[kBackward] || (timed & (kRmfExpandPackedTimedCost | kRmfExpandPackedStillTimed)) ==
                                                   kRmfExpandPackedTimedCost;
  }
  if (s.timeDependent && settled[kForward] && settled[kBackward]) return kRmfRouteTimedStartsSettled;
  if (!anyOrigin || !anyDestination) return kRmfProfileMissing;
  rc = DirectRoute(s);
  return rc < 0 ? rc : 1;
}

std::int32_t StoreResult(Search& s, ResultBuffer* out) {
  RmfRoute* route = s.route;
  const std::int32_t r = s.direct ? AssembleDirect(s, out) : AssembleMeeting(s, out);
  if (r != 1) return r;
  if ((route->modeFlags & kRmfRouteModeSideTable) != 0) {
    auto* side = static_cast<RmfRouteSideEntry*>(std::malloc(sizeof(RmfRouteSideEntry) * static_cast<std::size_t>(out->count())));
    if (side == nullptr) return kRmfNoMemory;
    for (std::int32_t i = 0; i < out->count(); ++i) side[i] = RmfRouteSideEntry{out->refs()[i], out->words()[i]};
    route->sideTable = side;
    route->sideCount = out->count();
  }
  route->resultCount = out->count();
  route->result = out->ReleaseRefs();
  route->routeCost = s.best;
  return 1;
}

// Everything of one search but the clean-up on failure.
std::int32_t RunSearch(Search& s) {
  std::int32_t rc = Setup(s);
  if (rc != 1) return rc;
  for (;;) {
    rc = RunLoop(s);
    if (rc != 1) return rc;
    const std::int32_t finalised = Finalise(s);
    if (finalised < 0) return finalised;
    if (finalised == 1) break;
    // Only a pair that its validation rejected sends the search on, and
    // only as long as the rejections allow.
    if (!s.droppedPair || s.rejections > kRejectionLimit) return 0;
    s.droppedPair = false;
    ++s.rejections;
  }
  if (s.progress != nullptr) WriteProgress(s, kProgressMeeting);
  ResultBuffer out;
  rc = StoreResult(s, &out);
  if (rc != 1) return rc;
  return s.route->resultCount;
}

}  // namespace

std::int32_t RmfNodeCompare(const void* key, const void* node, void*, std::int32_t) {
  const auto* a = static_cast<const RmfSearchNode*>(key);
  const auto* b = static_cast<const RmfSearchNode*>(node);
  if (a->key != b->key) return a->key < b->key ? -1 : 1;
  if (a->featureId != b->featureId) return a->featureId < b->featureId ? -1 : 1;
  if (a->secondLow != b->secondLow) return a->secondLow < b->secondLow ? -1 : 1;
  if (a->secondHigh != b->secondHigh) return a->secondHigh < b->secondHigh ? -1 : 1;
  const std::uint32_t pa = a->packed & kRmfNodeRefPartMask;
  const std::uint32_t pb = b->packed & kRmfNodeRefPartMask;
  if (pa != pb) return pa < pb ? -1 : 1;
  const std::int32_t va = VertexOf(a->packed);
  const std::int32_t vb = VertexOf(b->packed);
  if (va != vb) return va < vb ? -1 : 1;
  const std::uint32_t da = a->packed & kRmfNodeRefHigher;
  const std::uint32_t db = b->packed & kRmfNodeRefHigher;
  if (da != db) return da < db ? -1 : 1;
  if (a->restrictions != b->restrictions) return std::less<const void*>()(a->restrictions, b->restrictions) ? -1 : 1;
  if (a != b) return std::less<const void*>()(a, b) ? -1 : 1;
  return 0;
}

std::int32_t RmfSearchPlaceLink(RmfSearchLink** links, RmfSearchLink* link, RmfSearchLink** evicted) {
  if (evicted != nullptr) *evicted = nullptr;
  if (links == nullptr || link == nullptr) return -1;
  RmfSearchLink* out = nullptr;
  for (std::int32_t i = 0; i < kRmfSearchMaxLinks; ++i) {
    if (links[i] == nullptr || links[i]->parent != link->parent) continue;
    if (link->total >= links[i]->total) return -1;
    // A cheaper way from the same parent: the old one leaves.
    out = links[i];
    for (std::int32_t j = i; j + 1 < kRmfSearchMaxLinks; ++j) links[j] = links[j + 1];
    links[kRmfSearchMaxLinks - 1] = nullptr;
    break;
  }
  std::int32_t at = 0;
  while (at < kRmfSearchMaxLinks && links[at] != nullptr && links[at]->total <= link->total) ++at;
  if (at == kRmfSearchMaxLinks) return -1;  // (never after a same-parent removal: it left a place free)
  if (links[kRmfSearchMaxLinks - 1] != nullptr) out = links[kRmfSearchMaxLinks - 1];
  for (std::int32_t j = kRmfSearchMaxLinks - 1; j > at; --j) links[j] = links[j - 1];
  links[at] = link;
  if (evicted != nullptr) *evicted = out;
  return at;
}

std::uint32_t RmfSearchBucket(std::uint32_t featureId, std::uint16_t low, std::uint16_t high, std::uint32_t packed) {
  const std::uint32_t p = packed & kRmfSearchKeyMask;
  const std::uint32_t vertex = (p >> kRmfNodeRefVertexShift) & kRmfNodeRefVertexMask;
  const std::uint32_t mixed = ((p + (low + high * 4u) * 4u) * 4u + vertex) << 18;
  return (featureId + mixed) % kRmfSearchBuckets;
}

std::int64_t RmfFeatureStretchLength(RmfFeature* slot, std::int32_t part, std::int32_t from, std::int32_t to,
                                     std::int32_t exact) {
  if (slot == nullptr) return -1;
  const std::int32_t word = RmfFeatureNodeAt(slot, part, from);
  TiPoint previous{};
  if (word < 0 || word >= 0x8000 || RmfFeaturePointAt(slot, word, &previous) != 1) return -1;
  const std::int32_t step = to >= from ? 1 : -1;
  std::uint64_t sums[4] = {0, 0, 0, 0};
  std::int64_t length = 0;
  std::int64_t ySum = 0;
  std::int32_t pieces = 0;
  for (std::int32_t position = from; position != to;) {
    std::int32_t found = -1;
    const std::int32_t index = RmfFeatureNextNode(slot, part, position, step, &found, nullptr);
    if (index < 0 || (step > 0 ? found > to : found < to)) return -1;
    TiPoint p{};
    if (RmfFeaturePointAt(slot, index, &p) != 1) return -1;
    if (exact != 0) {
      const std::int32_t d = TiDistance(&previous, &p);
      if (d < 0) return -1;
      length += d;
    } else {
      const auto dx = static_cast<std::uint64_t>(std::llabs(std::int64_t{p.x} - previous.x));
      const auto dy = static_cast<std::uint64_t>(std::llabs(std::int64_t{p.y} - previous.y));
      sums[dx >= dy ? 0 : 2] += std::max(dx, dy);
      sums[dx >= dy ? 1 : 3] += std::min(dx, dy);
      ySum += p.y;
      ++pieces;
    }
    previous = p;
    position = found;
  }
  if (exact == 0 && pieces > 0) {
    std::uint32_t c[4];
    if (TiDistCoeff(static_cast<std::int32_t>(ySum / pieces), &c[0], &c[1], &c[2], &c[3]) != 1) return -1;
    for (std::int32_t i = 0; i < 4; ++i) length += static_cast<std::int64_t>((std::min<std::uint64_t>(sums[i], 0xFFFFFFFFu) * c[i]) >> 32);
  }
  return length;
}

std::int32_t RmfRouteSearch(RmfRoute* route, const RmfFeatureRef* origins, std::int32_t originCount,
                            const RmfFeatureRef* destinations, std::int32_t destinationCount,
                            std::int32_t progressSpan) {
  if (!rmf::detail::RouteAlive(route) || !rmf::detail::ReaderAlive(route->reader) || origins == nullptr ||
      destinations == nullptr || originCount < 1 || destinationCount < 1) {
    return kRmfBadArgument;
  }
  Search s;
  s.route = route;
  s.origins = origins;
  s.originCount = originCount;
  s.destinations = destinations;
  s.destinationCount = destinationCount;
  s.progress = route->progress;
  const std::uint8_t progressBefore = s.progress != nullptr ? *s.progress : 0;
  if (s.progress != nullptr) {
    s.progressStart = *s.progress;
    s.progressEnd = std::min(s.progressStart + std::max(progressSpan, 0), 255);
  }

  std::int32_t rc = RmfRouteInit(route, nullptr);
  if (rc == 1) rc = RmfRouteReset(route);
  if (rc != 1) return rc;
  route->origins = origins;
  route->originCount = originCount;
  route->destinations = destinations;
  route->destinationCount = destinationCount;
  route->stateFlags &= ~kRmfRouteStateSameFeature;
  std::int32_t usesBefore = 0;
  (void)RmfFeatureSlotUsage(route->reader, nullptr, &usesBefore);

  try {
    rc = RunSearch(s);
  } catch (...) {
    // Memory a helper could not have from the heap; the search is dropped
    // as after any other failure.
    rc = kRmfNoMemory;
  }
  route->expandedNodes = s.dirs[kForward].expanded + s.dirs[kBackward].expanded;
  std::int32_t usesAfter = 0;
  (void)RmfFeatureSlotUsage(route->reader, nullptr, &usesAfter);
  if (rc >= 0 && usesAfter != usesBefore) rc = CountInternalError();
  if (rc > 0) {
    if (s.progress != nullptr) *s.progress = static_cast<std::uint8_t>(s.progressEnd);
    if ((route->stateFlags & kRmfRouteStateAutoCompact) == 0) {
      // The pool outlives this search: its hook must not reach back into it.
      s.pool->reclaim = nullptr;
      s.pool->reclaimContext = nullptr;
      route->nodePool = s.pool;
      route->meetForward = s.meet[kForward];
      route->meetBackward = s.meet[kBackward];
      return rc;
    }
    (void)RmfNodePoolDestroy(s.pool);
    return RmfRouteCompact(route);
  }
  (void)RmfNodePoolDestroy(s.pool);
  (void)RmfRouteReset(route);
  route->stateFlags &= ~kRmfRouteStateSameFeature;
  if (rc < 0 && s.progress != nullptr) *s.progress = progressBefore;
  if (rc == 0 && s.progress != nullptr) WriteProgress(s, 256);
  return rc;
}

std::int32_t RmfRouteFind(RmfRoute* route, const RmfFeatureRef* origins, std::int32_t originCount,
                          const RmfFeatureRef* destinations, std::int32_t destinationCount) {
  if (!rmf::detail::RouteAlive(route) || origins == nullptr || destinations == nullptr || originCount < 1 ||
      destinationCount < 1) {
    return kRmfBadArgument;
  }
  if (route->costShift > 31) return kRmfMalformed;
  if (route->progress != nullptr) *route->progress = 0;
  if (route->tries < 1) return 0;
  for (std::int32_t attempt = 1;; ++attempt) {
    const std::int32_t result = RmfRouteSearch(route, origins, originCount, destinations, destinationCount, 255);
    if (result != kRmfCostOverflow || attempt >= route->tries) return result;
    route->costShift += kRmfRouteCostShiftStep;
  }
}
