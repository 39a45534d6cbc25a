// Per-tile routing tables: building a block's table from its record and the
// routing profile, joining it with the blocks around it by node position,
// finding nodes by position, and the sort of node numbers by position that
// both rest on. The table layout is described in RmfTileRouteTable.h.
//
// A table is built in heap buffers first and copied into its cache block in
// one piece, so a failure leaves nothing half-written in the cache. A join
// works the same way: the new node words, incidences and neighbours are
// gathered beside the table, and only when every neighbour has been read is
// the block grown and written; a block that cannot be grown keeps the state
// it had.
#include "mapengine/format/route/RmfTileRouteTable.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "mapengine/format/RmfInternal.h"
#include "mapengine/format/features/RmfFeatureAttr.h"
#include "mapengine/format/store/RmfReader.h"
#include "mapengine/format/store/RmfSource.h"
#include "mapengine/format/store/RmfTile.h"
#include "mapengine/format/route/RmfRouteInternal.h"
#include "mapengine/format/route/RmfRouteMemo.h"
#include "mapengine/format/route/RmfTileRouteTableInternal.h"

using rmf::detail::BlockKey;
using rmf::detail::CountInternalError;
using rmf::detail::HeldTable;
using rmf::detail::RectsMeet;
using rmf::detail::RouteAlive;
using rmf::detail::SameKey;

namespace {

constexpr std::uint32_t kClosedFlags = 0x1Fu << kRmfTraversalClassShift;  // class -1 both ways
constexpr std::int32_t kInsertionRun = 6;

std::uint32_t Align4(std::uint32_t n) { return (n + 3u) & ~3u; }

bool Before(const TiPoint& a, const TiPoint& b) { return a.x < b.x || (a.x == b.x && a.y < b.y); }

// The class a part brings to a node: the higher of its two directions, held
// to the nibble. Only open parts have passages, so it is never negative.
std::uint32_t NodeClassOf(const RmfTraversal* records) {
  const std::int32_t c =
      std::max(RmfTraversalClass(records[0].flags), RmfTraversalClass(records[1].flags));
  return static_cast<std::uint32_t>(std::clamp(c, 0, 15));
}

bool Closed(const RmfTraversal* records) {
  return RmfTraversalClass(records[0].flags) < 0 && RmfTraversalClass(records[1].flags) < 0;
}

std::uint32_t SecondWord(std::uint32_t count, std::uint32_t high, std::uint32_t second, bool restricted) {
  return (std::min(count, kRmfNodeCountMax) << kRmfNodeCountShift) | (restricted ? kRmfNodeRestricted : 0u) |
         (high << kRmfNodeClassShift) | (second << kRmfNodeSecondShift);
}

}  // namespace

namespace rmf::detail {

RmfTraversal TraversalOf(const RmfFeatureAnswer& answer, std::int32_t direction, bool timeDependent) {
  const RmfTravelAnswer& t = answer.travel[direction];
  const std::int32_t c = t.roadClass < 0 ? -1 : std::min<std::int32_t>(t.roadClass, 15);
  std::uint32_t flags = (static_cast<std::uint32_t>(c) << kRmfTraversalClassShift) & kRmfTraversalClassMask;
  if (t.groupCode <= 3) flags |= static_cast<std::uint32_t>(t.groupCode) << kRmfTraversalGroupShift;
  if ((t.control & kRmfTravelControlRestricted) != 0) flags |= kRmfTraversalRestricted;
  if (timeDependent) {
    const std::uint32_t time = answer.timeWords[kRmfAnswerTimeFlags + direction];
    flags |= time & (kRmfTraversalTimed | kRmfTraversalTimeFlag | kRmfTraversalTimeMask);
  }
  return RmfTraversal{flags, t.costFactor, answer.timeWords[kRmfAnswerTimeFactor + direction]};
}

}  // namespace rmf::detail

namespace {

// One passage met while walking the parts of a record.
struct Passage {
  std::uint16_t node;
  std::uint32_t word;
};

// Everything a table holds, before it goes to the cache.
struct Draft {
  std::vector<RmfTraversal> traversals;
  std::vector<TiPoint> positions;
  std::vector<std::uint32_t> nodeWords;
  std::vector<std::uint16_t> sorted;
  std::vector<std::uint32_t> incidences;  // lists: length, then words
  TiRect box{1, 1, 0, 0};
};

// Whether the profile's connection answer for the stretch carries
// restriction items. A stretch without attributes carries none, and a
// profile without a connection callback has none to give.
bool StretchRestricted(RmfRoute* route, const RmfAttrSet& set) {
  if (set.count == 0) return false;
  RmfConnectionAnswer answer{};
  answer.request = (route->profileModes[0] != 0 ? 1u : 0u) | (route->profileModes[1] != 0 ? 2u : 0u) |
                   kRmfConnectionFirstItems | kRmfConnectionSecondItems;
  if (RmfProfileTurnCost(route->reader, &set, nullptr, &answer) != 0) return false;
  return answer.itemCounts[0] + answer.itemCounts[1] > 0;
}

// Asks the profile about every part: 0, or the profile's failure.
std::int32_t FillTraversals(RmfRoute* route, RmfFeature* slot, RmfAttrSet* set, Draft* d) {
  const bool timeDependent = (route->modeFlags & kRmfRouteModeTimeDependent) != 0;
  for (std::int32_t p = 0; p < slot->partCount; ++p) {
    RmfTraversal* records = &d->traversals[2 * static_cast<std::size_t>(p)];
    records[0] = records[1] = RmfTraversal{kClosedFlags, 0, 0};
    // A part beyond the node-word limits, or whose attributes break the
    // format, is left closed: the router goes around it.
    if (RmfFeatureSelectPart(slot, p, 1, set) < 0 || set->count == 0) continue;
    RmfFeatureAnswer answer{};
    answer.request = route->profileModes[0] != 0 ? kRmfFeatureRequestMode : 0u;
    answer.travel[0].roadClass = answer.travel[1].roadClass = -1;
    const std::int32_t asked = RmfProfileFeatureCost(route->reader, set, nullptr, &answer);
    if (asked < 0) return asked;
    records[0] = rmf::detail::TraversalOf(answer, kRmfTravelLower, timeDependent);
    records[1] = rmf::detail::TraversalOf(answer, kRmfTravelHigher, timeDependent);
  }
  return 0;
}

// The passages of every open part, node by node: 0, or kRmfMalformed.
std::int32_t CollectPassages(RmfRoute* route, RmfFeature* slot, RmfAttrSet* set, const std::vector<std::uint16_t>& node,
                             const Draft& d, std::vector<Passage>* out) {
  for (std::int32_t p = 0; p < slot->partCount; ++p) {
    if (Closed(&d.traversals[2 * static_cast<std::size_t>(p)])) continue;
    const std::size_t firstOfPart = out->size();
    std::int32_t position = -1;
    for (;;) {
      std::int32_t found = -1;
      const std::int32_t point = RmfFeatureNextNode(slot, p, position, 1, &found, set);
      if (point == -1) break;
      if (point < 0 || point >= slot->pointCount || found > kRmfMaxPartWords - 1) return kRmfMalformed;
      std::uint32_t word = (static_cast<std::uint32_t>(p) << kRmfIncidencePartShift) |
                           (static_cast<std::uint32_t>(found) << kRmfIncidenceVertexShift);
      if (position < 0) word |= kRmfIncidenceStarts;
      // Both ends of a stretch with restriction items are marked: a map
      // places a restriction on the segment that touches its via node,
      // which may be either end of it.
      if (position >= 0 && StretchRestricted(route, *set)) {
        word |= kRmfIncidenceRestricted;
        out->back().word |= kRmfIncidenceRestricted;
      }
      out->push_back(Passage{node[static_cast<std::size_t>(point)], word});
      position = found;
    }
    if (out->size() > firstOfPart) out->back().word |= kRmfIncidenceEnds;
  }
  return 0;
}

// Node words, incidence lists, box and sorted index from the passages;
// `order` holds every point, sorted by position.
void LayNodes(const std::vector<Passage>& passages, const std::vector<std::uint16_t>& node,
              const std::vector<std::uint16_t>& order, Draft* d) {
  const std::size_t n = d->positions.size();
  std::vector<std::uint32_t> start(n + 1, 0);
  for (const Passage& p : passages) ++start[p.node + 1];
  for (std::size_t i = 0; i < n; ++i) start[i + 1] += start[i];
  std::vector<std::uint32_t> byNode(passages.size());
  {
    std::vector<std::uint32_t> fill(start.begin(), start.end() - 1);
    for (const Passage& p : passages) byNode[fill[p.node]++] = p.word;
  }
  d->nodeWords.assign(2 * n, 0);
  bool any = false;
  for (std::size_t i = 0; i < n; ++i) {
    std::uint32_t* w = &d->nodeWords[2 * i];
    if (node[i] != i) {
      w[0] = node[i];
      w[1] = kRmfNodeAlias;
      continue;
    }
    const std::uint32_t count = start[i + 1] - start[i];
    if (count == 0) continue;
    std::uint32_t high = 0;
    std::uint32_t second = 0;
    bool restricted = false;
    for (std::uint32_t k = start[i]; k < start[i + 1]; ++k) {
      const std::uint32_t c = NodeClassOf(&d->traversals[2 * static_cast<std::size_t>(RmfIncidencePart(byNode[k]))]);
      if (k == start[i]) {
        high = second = c;
      } else if (k == start[i] + 1) {
        second = std::min(high, c);
        high = std::max(high, c);
      } else if (c > high) {
        second = high;
        high = c;
      } else if (c > second) {
        second = c;
      }
      restricted = restricted || (byNode[k] & kRmfIncidenceRestricted) != 0;
    }
    if (count == 1) {
      w[0] = byNode[start[i]];
    } else {
      w[0] = static_cast<std::uint32_t>(d->incidences.size() * 4);  // made absolute when the table is laid out
      d->incidences.push_back(count);
      d->incidences.insert(d->incidences.end(), byNode.begin() + start[i], byNode.begin() + start[i + 1]);
    }
    w[1] = SecondWord(count, high, second, count == 1 && restricted);
    const TiPoint& at = d->positions[i];
    if (!any) {
      d->box = TiRect{at.x, at.y, at.x, at.y};
      any = true;
    } else {
      d->box = TiRect{std::min(d->box.x1, at.x), std::min(d->box.y1, at.y), std::max(d->box.x2, at.x),
                      std::max(d->box.y2, at.y)};
    }
  }
  // The nodes with passages in the order of the points: no two of them share
  // a position, so this is the order a sort of them by position gives.
  for (const std::uint16_t p : order) {
    if (node[p] == p && start[p + 1u] > start[p]) d->sorted.push_back(p);
  }
}

// Reads the record into a draft: 1, 0 when the record is absent, or a
// negative code.
std::int32_t Draw(RmfRoute* route, RmfFeatKey key, Draft* d, bool* more) {
  rmf::detail::HeldSlot held;
  std::int32_t continues = 0;
  const std::int32_t fetched = held.Fetch(route->reader, key, &continues);
  if (fetched != 1) return fetched;
  *more = continues != 0;
  RmfFeature* slot = held.get();
  if (slot->partCount > kRmfTableMaxFeatures) return CountInternalError();
  const std::size_t points = slot->pointCount;
  d->traversals.resize(2 * static_cast<std::size_t>(slot->partCount));
  d->positions.resize(points);
  if (points > 0 && RmfFeatureCopyPoints(slot, d->positions.data(), static_cast<std::int32_t>(points)) < 0) {
    return CountInternalError();
  }
  // One node per position: equal points name the lowest of them.
  std::vector<std::uint16_t> node(points);
  std::vector<std::uint16_t> order(points);
  for (std::size_t i = 0; i < points; ++i) order[i] = static_cast<std::uint16_t>(i);
  (void)RmfSortNodesByPosition(order.data(), static_cast<std::int32_t>(points), d->positions.data());
  for (std::size_t i = 0; i < points;) {
    std::size_t j = i;
    std::uint16_t lowest = order[i];
    while (j < points && TiSamePoint(d->positions[order[j]], d->positions[order[i]])) lowest = std::min(lowest, order[j++]);
    for (std::size_t k = i; k < j; ++k) node[order[k]] = lowest;
    i = j;
  }
  // An attribute set is about 26 KB: on the heap, once per table, and left
  // uninitialised, since every step that reads it fills it first (zeroing it
  // cost more than the rest of a small table's build).
  std::unique_ptr<RmfAttrSet> set(new RmfAttrSet);
  const std::int32_t asked = FillTraversals(route, slot, set.get(), d);
  if (asked < 0) return asked;
  std::vector<Passage> passages;
  if (CollectPassages(route, slot, set.get(), node, *d, &passages) < 0) return CountInternalError();
  LayNodes(passages, node, order, d);
  return 1;
}

// Puts the draft into a new cache block: 1 with the table held once.
std::int32_t Store(RmfRoute* route, RmfFeatKey key, const Draft& d, bool more, RmfTileRouteTable** out) {
  const auto nodes = static_cast<std::uint32_t>(d.positions.size());
  const auto parts = static_cast<std::uint32_t>(d.traversals.size() / 2);
  const std::uint32_t sortedOffset = Align4(sizeof(RmfTileRouteTable));
  const std::uint32_t traversalOffset = sortedOffset + Align4(2 * nodes);
  const std::uint32_t positionOffset = traversalOffset + parts * 2 * sizeof(RmfTraversal);
  const std::uint32_t nodeWordOffset = positionOffset + nodes * sizeof(TiPoint);
  const std::uint32_t incidenceOffset = nodeWordOffset + nodes * 8;
  const auto incidenceBytes = static_cast<std::uint32_t>(d.incidences.size() * 4);
  const std::uint32_t total = incidenceOffset + incidenceBytes;
  void* data = nullptr;
  if (RmfFeatCacheAdd(route->featCache, key, static_cast<std::int32_t>(total), &data) != 1) {
    return CountInternalError();
  }
  auto* bytes = static_cast<std::uint8_t*>(data);
  std::memset(bytes, 0, total);
  auto* t = static_cast<RmfTileRouteTable*>(data);
  t->featureCount = static_cast<std::uint16_t>(parts);
  t->sortedNodeCount = static_cast<std::uint16_t>(d.sorted.size());
  t->nodeCount = static_cast<std::uint16_t>(nodes);
  t->traversalOffset = traversalOffset;
  t->positionOffset = positionOffset;
  t->sortedOffset = sortedOffset;
  t->nodeWordOffset = nodeWordOffset;
  t->neighbourOffset = total;
  t->state = kRmfTableBuilt;
  t->joinedLevel = kRmfTableNotJoined;
  t->blockNumber = key.c;
  t->tileId = key.a;
  t->source = key.b;
  const std::int32_t level = RmfTileLevel(key.a);
  t->tileLevel = static_cast<std::uint8_t>(level < 0 ? 0 : level);
  t->moreBlocks = more ? 1 : 0;
  t->incidenceOffset = incidenceOffset;
  t->incidenceBytes = incidenceBytes;
  t->incidenceCapacity = incidenceBytes;
  t->totalBytes = total;
  t->nodeBox = d.box;
  if (!d.sorted.empty()) std::memcpy(bytes + sortedOffset, d.sorted.data(), 2 * d.sorted.size());
  if (parts > 0) std::memcpy(bytes + traversalOffset, d.traversals.data(), parts * 2 * sizeof(RmfTraversal));
  if (nodes > 0) {
    std::memcpy(bytes + positionOffset, d.positions.data(), nodes * sizeof(TiPoint));
    auto* words = reinterpret_cast<std::uint32_t*>(bytes + nodeWordOffset);
    for (std::uint32_t i = 0; i < nodes; ++i) {
      words[2 * i] = d.nodeWords[2 * i];
      words[2 * i + 1] = d.nodeWords[2 * i + 1];
      if (RmfNodeCount(words[2 * i + 1]) > 1) words[2 * i] += incidenceOffset;
    }
  }
  if (incidenceBytes > 0) std::memcpy(bytes + incidenceOffset, d.incidences.data(), incidenceBytes);
  if (RmfFeatCacheSetWriting(route->featCache, data, 0) != 1) return CountInternalError();
  *out = t;
  return 1;
}

// ---- joining --------------------------------------------------------------------------------

// What a join gathers beside the table before the block is grown.
struct JoinWork {
  std::vector<std::uint32_t> nodeWords;
  std::vector<std::uint32_t> incidences;  // the whole incidence area, as words
  std::uint32_t incidenceCapacity = 0;     // bytes; grows by kRmfIncidenceGrowth
  std::vector<RmfFeatKey> neighbours;
  std::uint32_t neighbourCapacity = 0;     // entries; grows by kRmfNeighbourGrowth
};

// The two highest of a node's classes and a neighbour's: a node with one
// passage brings its class once, one with more its two highest.
void MergeClasses(std::uint32_t own, std::uint32_t other, bool otherJoinedList, std::uint32_t* high,
                  std::uint32_t* second) {
  const std::uint32_t ownHigh = static_cast<std::uint32_t>(RmfNodeClass(own));
  const std::uint32_t otherHigh = static_cast<std::uint32_t>(RmfNodeClass(other));
  if (otherJoinedList) {
    // The neighbour's node was joined already and holds more than one
    // passage: its second class stands for everything met there.
    *high = std::max(ownHigh, otherHigh);
    *second = static_cast<std::uint32_t>(RmfNodeSecondClass(other));
    return;
  }
  std::uint32_t values[4];
  std::int32_t n = 0;
  values[n++] = ownHigh;
  if (RmfNodeCount(own) > 1) values[n++] = static_cast<std::uint32_t>(RmfNodeSecondClass(own));
  values[n++] = otherHigh;
  if (RmfNodeCount(other) > 1) values[n++] = static_cast<std::uint32_t>(RmfNodeSecondClass(other));
  std::sort(values, values + n, [](std::uint32_t a, std::uint32_t b) { return a > b; });
  *high = values[0];
  *second = values[1];
}

// Appends a list of `count` words plus one to the incidence area: the byte
// offset of the new list within the area.
std::uint32_t AppendList(JoinWork* w, const std::uint32_t* words, std::uint32_t count, std::uint32_t extra) {
  const auto at = static_cast<std::uint32_t>(w->incidences.size() * 4);
  w->incidences.push_back(count + 1);
  w->incidences.insert(w->incidences.end(), words, words + count);
  w->incidences.push_back(extra);
  while (w->incidences.size() * 4 > w->incidenceCapacity) w->incidenceCapacity += kRmfIncidenceGrowth;
  return at;
}

// Joins the table with one neighbour's: the number of nodes joined, or
// kRmfMalformed.
std::int32_t JoinWith(const RmfTileRouteTable* t, const RmfTileRouteTable* nb, std::uint32_t neighbourIndex,
                      JoinWork* w) {
  const std::uint16_t* own = RmfTableSorted(t);
  const std::uint16_t* other = RmfTableSorted(nb);
  const TiPoint* ownAt = RmfTablePositions(t);
  const TiPoint* otherAt = RmfTablePositions(nb);
  std::int32_t joined = 0;
  std::int32_t i = 0;
  std::int32_t j = 0;
  while (i < t->sortedNodeCount && j < nb->sortedNodeCount) {
    const std::uint16_t a = own[i];
    const std::uint16_t b = other[j];
    if (a >= t->nodeCount || b >= nb->nodeCount) return kRmfMalformed;
    if (Before(ownAt[a], otherAt[b])) {
      ++i;
      continue;
    }
    if (Before(otherAt[b], ownAt[a])) {
      ++j;
      continue;
    }
    ++i;
    ++j;
    std::uint32_t* word = &w->nodeWords[2 * static_cast<std::size_t>(a)];
    const std::uint32_t otherSecond = RmfTableNodeWords(nb, b)[1];
    const std::uint32_t count = RmfNodeCount(word[1]);
    if (count == 0 || RmfNodeCount(otherSecond) == 0) return kRmfMalformed;
    if (RmfNodeClass(word[1]) < RmfNodeSecondClass(word[1])) return kRmfMalformed;
    if (count >= kRmfNodeCountMax) continue;
    std::uint32_t high = 0;
    std::uint32_t second = 0;
    MergeClasses(word[1], otherSecond, nb->state == kRmfTableJoined && RmfNodeCount(otherSecond) > 1, &high, &second);
    const std::uint32_t joinedWord = kRmfIncidenceJoined | (neighbourIndex << kRmfIncidenceNeighbourShift) |
                                     (static_cast<std::uint32_t>(b) << kRmfIncidenceNodeShift);
    std::uint32_t listAt = 0;
    if (count == 1) {
      listAt = AppendList(w, &word[0], 1, joinedWord);
    } else {
      const std::uint32_t old = (word[0] - t->incidenceOffset) / 4;
      if (word[0] < t->incidenceOffset || old >= w->incidences.size()) return kRmfMalformed;
      const std::uint32_t length = w->incidences[old];
      if (old + 1 + length > w->incidences.size()) return kRmfMalformed;
      // The old list stays where it was, unused: lists move to the end of
      // the area when they grow.
      const std::vector<std::uint32_t> copy(w->incidences.begin() + old + 1, w->incidences.begin() + old + 1 + length);
      listAt = AppendList(w, copy.data(), length, joinedWord);
    }
    word[0] = t->incidenceOffset + listAt;
    word[1] = (word[1] & kRmfNodeRestricted) | SecondWord(count + 1, high, second, false);
    ++joined;
  }
  return joined;
}

// The least tile id at or after `tile` that the source's index covers, as
// RmfSrcF6 answers it. Neighbouring tables ask for the same tiles again and
// again, and every answer of the index walks a group of its entries, so the
// answers are kept in the route's memo: the index does not change while the
// source is open. "None" is not kept: it is also what a failed read answers.
std::uint32_t NextIndexedTile(RmfRoute* route, std::int32_t source, std::uint32_t tile) {
  RmfSource* src = route->reader->sources[source];
  RmfRouteMemo* memo = rmf::detail::RouteMemo(route);
  if (memo == nullptr) return RmfSrcF6(src, tile, 1);
  const std::uint32_t hash = rmf::detail::MemoHash(tile, static_cast<std::uint32_t>(source));
  RmfRouteMemo::TileCell& cell = memo->tiles[hash % RmfRouteMemo::kTileCells];
  if (cell.source == source && cell.tile == tile) return cell.next;
  const std::uint32_t next = RmfSrcF6(src, tile, 1);
  if (next != 0xFFFFFFFFu) cell = RmfRouteMemo::TileCell{tile, next, source};
  return next;
}

// Joins every block of the level's tiles around the table: 1 or a negative
// code.
std::int32_t JoinLevel(RmfRoute* route, const RmfTileRouteTable* t, std::int32_t level, JoinWork* w) {
  RmfTileRange ranges[kRmfJoinMaxRanges];
  std::int32_t needed = 0;
  const std::int32_t n = RmfTilesForRect(&t->nodeBox, 1u << level, ranges, kRmfJoinMaxRanges, &needed);
  if (n < 0 || needed > kRmfJoinMaxRanges) return kRmfMalformed;
  const RmfFeatKey ownKey = rmf::detail::KeyOfTable(t);
  RmfReader* reader = route->reader;
  for (std::int32_t s = 0; s < route->sourceCount && s < reader->sourceCount; ++s) {
    if (!rmf::detail::SourceUsable(route, s, t->nodeBox)) continue;
    if ((rmf::detail::SourceTileLevels(route, s) & (1u << level)) == 0) continue;
    for (std::int32_t r = 0; r < n; ++r) {
      std::uint32_t tile = ranges[r].first;
      for (;;) {
        tile = NextIndexedTile(route, s, tile);
        if (tile == 0xFFFFFFFFu || tile > ranges[r].last) break;
        for (std::uint32_t sequence = 0; sequence <= 0xFFFF; ++sequence) {
          const RmfFeatKey key = BlockKey(tile, static_cast<std::uint16_t>(s), static_cast<std::uint16_t>(sequence));
          bool more = false;
          if (SameKey(key, ownKey)) {
            more = t->moreBlocks != 0;
          } else {
            HeldTable nb(route);
            const std::int32_t built = nb.Take(key, -1);
            if (built == 0) break;
            if (built < 0) return built;
            more = nb.get()->moreBlocks != 0;
            if (nb.get()->sortedNodeCount > 0 && RectsMeet(nb.get()->nodeBox, t->nodeBox)) {
              const auto index = static_cast<std::uint32_t>(w->neighbours.size());
              if (index >= static_cast<std::uint32_t>(kRmfTableMaxNeighbours)) return kRmfMalformed;
              const std::int32_t joined = JoinWith(t, nb.get(), index, w);
              if (joined < 0) return joined;
              if (joined > 0) {
                w->neighbours.push_back(key);
                while (w->neighbours.size() > w->neighbourCapacity) w->neighbourCapacity += kRmfNeighbourGrowth;
              }
            }
          }
          if (!more) break;
        }
        if (tile == ranges[r].last) break;
        ++tile;
      }
    }
  }
  return 1;
}

// Grows the block to the joined table and writes it: 1 with *out, or a
// negative code (kRmfNoMemory when the block went with a failed resize).
std::int32_t WriteJoined(RmfRoute* route, RmfTileRouteTable* t, const JoinWork& w, std::int32_t level,
                         RmfTileRouteTable** out, bool* blockGone) {
  const std::uint32_t incidenceBytes = static_cast<std::uint32_t>(w.incidences.size() * 4);
  const std::uint32_t neighbourOffset = t->incidenceOffset + w.incidenceCapacity;
  const std::uint32_t total = neighbourOffset + w.neighbourCapacity * static_cast<std::uint32_t>(sizeof(RmfFeatKey));
  void* data = t;
  if (total != t->totalBytes) {
    const std::int32_t resized = RmfFeatCacheResize(route->featCache, t, static_cast<std::int32_t>(total), &data);
    if (resized == kRmfNoMemory) *blockGone = true;
    if (resized != 1) return resized;
  }
  auto* bytes = static_cast<std::uint8_t*>(data);
  auto* table = static_cast<RmfTileRouteTable*>(data);
  std::memcpy(bytes + table->nodeWordOffset, w.nodeWords.data(), w.nodeWords.size() * 4);
  if (incidenceBytes > 0) std::memcpy(bytes + table->incidenceOffset, w.incidences.data(), incidenceBytes);
  std::memset(bytes + table->incidenceOffset + incidenceBytes, 0, w.incidenceCapacity - incidenceBytes);
  std::memset(bytes + neighbourOffset, 0, total - neighbourOffset);
  if (!w.neighbours.empty()) std::memcpy(bytes + neighbourOffset, w.neighbours.data(), w.neighbours.size() * sizeof(RmfFeatKey));
  table->incidenceBytes = incidenceBytes;
  table->incidenceCapacity = w.incidenceCapacity;
  table->neighbourOffset = neighbourOffset;
  table->neighbourCount = static_cast<std::uint16_t>(w.neighbours.size());
  table->neighbourCapacity = w.neighbourCapacity;
  table->totalBytes = total;
  table->state = kRmfTableJoined;
  table->joinedLevel = static_cast<std::uint8_t>(level);
  *out = table;
  return 1;
}

// Joins the held table (held once, by the caller) down to the level.
std::int32_t Join(RmfRoute* route, RmfTileRouteTable** table, std::int32_t level) {
  RmfTileRouteTable* t = *table;
  const std::int32_t top = t->state == kRmfTableJoined ? t->joinedLevel - 1 : kRmfTopTileLevel;
  if (RmfFeatCacheSetWriting(route->featCache, t, 1) != 1) return kRmfMalformed;
  std::int32_t result = 1;
  bool blockGone = false;
  try {
    JoinWork w;
    const std::uint32_t* words = RmfTableNodeWords(t, 0);
    w.nodeWords.assign(words, words + 2 * static_cast<std::size_t>(t->nodeCount));
    const auto* incidences = reinterpret_cast<const std::uint32_t*>(RmfTableBytes(t) + t->incidenceOffset);
    w.incidences.assign(incidences, incidences + t->incidenceBytes / 4);
    w.incidenceCapacity = t->incidenceCapacity;
    const RmfFeatKey* neighbours = RmfTableNeighbours(t);
    w.neighbours.assign(neighbours, neighbours + t->neighbourCount);
    w.neighbourCapacity = t->neighbourCapacity;
    if (t->sortedNodeCount > 0) {
      for (std::int32_t l = level; l <= top && result == 1; ++l) {
        if ((route->levelMask & (1u << l)) != 0) result = JoinLevel(route, t, l, &w);
      }
    }
    if (result == 1) result = WriteJoined(route, t, w, level, table, &blockGone);
  } catch (const std::bad_alloc&) {
    result = kRmfNoMemory;
  }
  if (blockGone) {
    *table = nullptr;
    return result;
  }
  (void)RmfFeatCacheSetWriting(route->featCache, *table, 0);
  return result;
}

// Quicksort of node numbers by position; see RmfSortNodesByPosition.
void SortNodes(std::uint16_t* index, std::int32_t count, const TiPoint* at) {
  struct Span {
    std::int32_t low;
    std::int32_t high;
  };
  // The smaller side is sorted first and the larger kept here, so the stack
  // never holds more than log2(count) spans.
  Span stack[40];
  std::int32_t depth = 0;
  std::int32_t low = 0;
  std::int32_t high = count - 1;
  for (;;) {
    if (high - low + 1 <= kInsertionRun) {
      for (std::int32_t i = low + 1; i <= high; ++i) {
        const std::uint16_t v = index[i];
        std::int32_t k = i;
        while (k > low && Before(at[v], at[index[k - 1]])) {
          index[k] = index[k - 1];
          --k;
        }
        index[k] = v;
      }
      if (depth == 0) return;
      --depth;
      low = stack[depth].low;
      high = stack[depth].high;
      continue;
    }
    const std::int32_t mid = low + (high - low) / 2;
    // Median of the first, middle and last entry, left in the middle.
    if (Before(at[index[mid]], at[index[low]])) std::swap(index[mid], index[low]);
    if (Before(at[index[high]], at[index[low]])) std::swap(index[high], index[low]);
    if (Before(at[index[high]], at[index[mid]])) std::swap(index[high], index[mid]);
    const TiPoint pivot = at[index[mid]];
    std::int32_t i = low;
    std::int32_t j = high;
    while (i <= j) {
      while (Before(at[index[i]], pivot)) ++i;
      while (Before(pivot, at[index[j]])) --j;
      if (i <= j) {
        std::swap(index[i], index[j]);
        ++i;
        --j;
      }
    }
    // [low, j] and [i, high] are left to sort.
    Span smaller{low, j};
    Span larger{i, high};
    if (j - low > high - i) std::swap(smaller, larger);
    if (larger.high > larger.low) stack[depth++] = larger;
    if (smaller.high > smaller.low) {
      low = smaller.low;
      high = smaller.high;
    } else if (depth > 0) {
      --depth;
      low = stack[depth].low;
      high = stack[depth].high;
    } else {
      return;
    }
  }
}

}  // namespace

namespace rmf::detail {

std::uint32_t SourceTileLevels(const RmfRoute* route, std::int32_t source) {
  const RmfReader* reader = route->reader;
  if (source < 0 || source >= reader->sourceCount || reader->sources[source] == nullptr) return 0;
  std::uint32_t levels = 0;
  for (std::uint16_t mask : reader->sources[source]->header.levelMasks) levels |= mask;
  return levels;
}

std::int32_t HeldTable::Take(RmfFeatKey key, std::int32_t level) {
  Reset();
  return level < 0 ? RmfTileRouteTableBuild(route_, key, &table_, nullptr)
                   : RmfTileRouteTableGet(route_, key, level, &table_);
}

void HeldTable::Reset() {
  if (table_ != nullptr) (void)RmfTileRouteTableRelease(route_, table_);
  table_ = nullptr;
}

std::int32_t HeldSlot::Fetch(RmfReader* reader, RmfFeatKey key, std::int32_t* continues) {
  Reset();
  if (key.b >= reader->sourceCount) return 0;
  const RmfFeatureRef ref{key.a, key.b, key.c, 0, 0, 0, 0};
  const std::int32_t fetched = RmfFeatureFetch(reader, ref, &slot_, continues);
  if (fetched == 1) return 1;
  slot_ = nullptr;
  // All four slots in use is the router holding too many at once.
  return fetched == 0 ? 0 : CountInternalError();
}

}  // namespace rmf::detail

std::int32_t RmfTileRouteNodeIncidences(const RmfTileRouteTable* table, std::int32_t node,
                                        const std::uint32_t** words) {
  if (table == nullptr || words == nullptr || node < 0 || node >= table->nodeCount) return 0;
  const std::uint32_t* w = RmfTableNodeWords(table, node);
  if ((w[1] & kRmfNodeAlias) != 0) return 0;
  const std::uint32_t count = RmfNodeCount(w[1]);
  if (count == 0) return 0;
  if (count == 1) {
    *words = &w[0];
    return 1;
  }
  if (w[0] < table->incidenceOffset || w[0] + 4 > table->incidenceOffset + table->incidenceBytes) return 0;
  const auto* list = reinterpret_cast<const std::uint32_t*>(RmfTableBytes(table) + w[0]);
  const std::uint32_t length = list[0];
  if (w[0] + 4 + 4 * std::uint64_t{length} > table->incidenceOffset + table->incidenceBytes) return 0;
  *words = list + 1;
  return static_cast<std::int32_t>(length);
}

std::int32_t RmfTileRouteTableBuild(RmfRoute* route, RmfFeatKey key, RmfTileRouteTable** table, void** pin) {
  if (!RouteAlive(route) || table == nullptr) return kRmfBadArgument;
  *table = nullptr;
  if (pin != nullptr) *pin = nullptr;
  if (!rmf::detail::ReaderAlive(route->reader)) return kRmfBadArgument;
  void* data = nullptr;
  const std::int32_t cached = RmfFeatCacheGet(route->featCache, key, &data, nullptr);
  if (cached == 1) {
    auto* t = static_cast<RmfTileRouteTable*>(data);
    if (t->state != kRmfTableBuilt && t->state != kRmfTableJoined) {
      (void)RmfFeatCacheRelease(route->featCache, data);
      return CountInternalError();
    }
    *table = t;
    if (pin != nullptr) *pin = t;
    return 1;
  }
  if (cached < 0) return CountInternalError();
  std::int32_t result = 0;
  try {
    Draft d;
    bool more = false;
    result = Draw(route, key, &d, &more);
    if (result == 1) result = Store(route, key, d, more, table);
  } catch (const std::bad_alloc&) {
    result = kRmfNoMemory;
  }
  if (result == 1 && pin != nullptr) *pin = *table;
  return result;
}

std::int32_t RmfTileRouteTableGet(RmfRoute* route, RmfFeatKey key, std::int32_t level, RmfTileRouteTable** table) {
  if (!RouteAlive(route) || table == nullptr) return kRmfBadArgument;
  *table = nullptr;
  if (level < 0 || level > kRmfTopTileLevel) return kRmfBadArgument;
  RmfTileRouteTable* t = nullptr;
  const std::int32_t built = RmfTileRouteTableBuild(route, key, &t, nullptr);
  if (built != 1) return built;
  if (t->state == kRmfTableJoined && t->joinedLevel <= level) {
    *table = t;
    return 1;
  }
  const std::int32_t joined = Join(route, &t, level);
  if (joined != 1) {
    if (t != nullptr) (void)RmfFeatCacheRelease(route->featCache, t);
    return joined == kRmfMalformed ? CountInternalError() : joined;
  }
  *table = t;
  return 1;
}

std::int32_t RmfTileRouteTableRelease(RmfRoute* route, RmfTileRouteTable* table) {
  if (!RouteAlive(route) || table == nullptr) return kRmfBadArgument;
  return RmfFeatCacheRelease(route->featCache, table);
}

std::int32_t RmfTileRouteNodeFind(const RmfTileRouteTable* table, TiPoint position) {
  if (table == nullptr) return -1;
  const std::uint16_t* sorted = RmfTableSorted(table);
  const TiPoint* at = RmfTablePositions(table);
  std::int32_t low = 0;
  std::int32_t high = table->sortedNodeCount - 1;
  while (low <= high) {
    const std::int32_t mid = low + (high - low) / 2;
    const std::uint16_t node = sorted[mid];
    if (node >= table->nodeCount) return -1;
    if (TiSamePoint(at[node], position)) return node;
    if (Before(at[node], position)) {
      low = mid + 1;
    } else {
      high = mid - 1;
    }
  }
  return -1;
}

std::int32_t RmfTileRouteNodeCoarser(RmfRoute* route, TiPoint position, std::int32_t level, std::int32_t topLevel,
                                     std::int32_t* levelOut, RmfFeatKey* key, std::int32_t* node) {
  if (!RouteAlive(route) || levelOut == nullptr || key == nullptr || node == nullptr) return kRmfBadArgument;
  if (!rmf::detail::ReaderAlive(route->reader)) return kRmfBadArgument;
  const TiRect at{position.x, position.y, position.x, position.y};
  for (std::int32_t l = std::max(level, 0); l <= std::min(topLevel, kRmfTopTileLevel); ++l) {
    if ((route->levelMask & (1u << l)) == 0) continue;
    std::uint32_t ids[4];
    const std::int32_t n = RmfTilesAroundPoint(&position, static_cast<std::uint32_t>(l), ids);
    for (std::int32_t s = 0; s < route->sourceCount && s < route->reader->sourceCount; ++s) {
      if (!rmf::detail::SourceUsable(route, s, at) || (rmf::detail::SourceTileLevels(route, s) & (1u << l)) == 0) {
        continue;
      }
      for (std::int32_t k = 0; k < n; ++k) {
        for (std::uint32_t sequence = 0; sequence <= 0xFFFF; ++sequence) {
          const RmfFeatKey candidate = BlockKey(ids[k], static_cast<std::uint16_t>(s), static_cast<std::uint16_t>(sequence));
          HeldTable t(route);
          const std::int32_t built = t.Take(candidate, -1);
          if (built == 0) break;
          if (built < 0) return built;
          const std::int32_t found = RmfTileRouteNodeFind(t.get(), position);
          if (found >= 0) {
            *levelOut = l;
            *key = candidate;
            *node = found;
            return 1;
          }
          if (t.get()->moreBlocks == 0) break;
        }
      }
    }
  }
  return 0;
}

std::int32_t RmfRouteEnableSourcesAt(RmfRoute* route, const TiRect* box, std::int32_t mode) {
  if (!RouteAlive(route) || box == nullptr || (mode != kRmfEnableAtPoint && mode != kRmfEnableInBox)) {
    return kRmfBadArgument;
  }
  if (route->sourceEnable == nullptr || route->sourceBoxes == nullptr) return 1;
  const TiRect area = mode == kRmfEnableAtPoint ? TiRect{box->x1, box->y1, box->x1, box->y1} : *box;
  for (std::int32_t s = 0; s < route->sourceCount; ++s) {
    route->sourceEnable[s] = RectsMeet(route->sourceBoxes[s], area) ? 1 : 0;
  }
  return 1;
}

std::int32_t RmfSortNodesByPosition(std::uint16_t* index, std::int32_t count, const TiPoint* positions) {
  if (index == nullptr || positions == nullptr || count < 0) return kRmfBadArgument;
  if (count > 1) SortNodes(index, count, positions);
  return 1;
}
