// The junction connections of the router: gathering the passages at a
// junction point from the map, and the time request of profile questions.
// The verdicts themselves are judged in RmfJunctionJudge.cpp.
#include "mapengine/format/route/RmfNodeConnections.h"

#include <algorithm>

#include "mapengine/format/RmfInternal.h"
#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/features/RmfFeatureAttr.h"
#include "mapengine/format/features/RmfProfile.h"
#include "mapengine/format/route/RmfJunctionJudge.h"
#include "mapengine/format/route/RmfRouteInternal.h"
#include "mapengine/format/route/RmfTileRouteTable.h"
#include "mapengine/format/route/RmfTileRouteTableInternal.h"
#include "mapengine/format/store/RmfTile.h"

namespace {

using rmf::detail::CountInternalError;
using rmf::detail::SecondIdOf;
using rmf::detail::VertexPoint;
using rmf::detail::HeldSlot;
using rmf::detail::HeldTable;
using rmf::detail::Junction;

constexpr std::uint8_t kConnectorCode = 3;
// Passages looked at per junction point, open or not, before the limit of
// candidates applies.
constexpr std::int32_t kMaxPassagesAtPoint = 4 * kRmfMaxCandidates;

RmfFeatKey KeyOfPassage(const RmfPassage& p) {
  return RmfFeatKey{p.featureId, static_cast<std::uint16_t>(p.secondId & 0xFFFF),
                    static_cast<std::uint16_t>(p.secondId >> 16)};
}

// One passage of a part at a junction point, as the table or the record
// gives it.
struct Found {
  RmfFeatKey key;
  std::int32_t part;
  std::int32_t vertex;
  RmfTraversal traversal[2];
  bool starts;
  bool ends;
  bool restricted;
};


// Where the next node lies each way from the vertex at `position`.
void NextNodes(RmfFeature* slot, std::int32_t part, std::int32_t position, rmf::detail::PassageGeometry* g) {
  for (std::int32_t side = 0; side < 2; ++side) {
    g->hasNext[side] = false;
    const std::int32_t point = RmfFeatureNextNode(slot, part, position, side == 0 ? -1 : 1, nullptr, nullptr);
    if (point >= 0 && RmfFeaturePointAt(slot, point, &g->next[side]) == 1) g->hasNext[side] = true;
  }
}

// Collects the passages at the junction points of one junction: those at
// the first point, and, through connectors, at every node of each
// connector.
class Gatherer {
 public:
  Gatherer(RmfRoute* route, bool useTables, std::int32_t minClass, Junction* junction)
      : route_(route), useTables_(useTables), minClass_(minClass), junction_(junction) {}

  std::int32_t Run(TiPoint start) {
    junction_->candidateCount = 0;
    points_[0] = start;
    pointCount_ = 1;
    for (std::int32_t i = 0; i < pointCount_; ++i) {
      const std::int32_t done = AtPoint(points_[i]);
      if (done < 0) return done;
    }
    return 0;
  }

 private:
  std::int32_t AtPoint(TiPoint at) {
    foundCount_ = 0;
    const TiRect box{at.x, at.y, at.x, at.y};
    RmfReader* reader = route_->reader;
    // Every block of every level that has a node at the point gives its own
    // passages. These are the passages the finest table at the point reaches
    // through its joins, found without joining it: a join needs the table
    // held by nobody else, and the caller may hold it.
    for (std::int32_t level = 0; level <= kRmfTopTileLevel; ++level) {
      if ((route_->levelMask & (1u << level)) == 0) continue;
      std::uint32_t ids[4];
      const std::int32_t n = RmfTilesAroundPoint(&at, static_cast<std::uint32_t>(level), ids);
      for (std::int32_t s = 0; s < route_->sourceCount && s < reader->sourceCount; ++s) {
        if (!rmf::detail::SourceUsable(route_, s, box) ||
            (rmf::detail::SourceTileLevels(route_, s) & (1u << level)) == 0) {
          continue;
        }
        for (std::int32_t k = 0; k < n; ++k) {
          // Points near a tile corner lie in up to four tiles; a tile met
          // twice is read once.
          if (std::find(ids, ids + k, ids[k]) != ids + k) continue;
          for (std::uint32_t sequence = 0; sequence <= 0xFFFF; ++sequence) {
            const RmfFeatKey key{ids[k], static_cast<std::uint16_t>(s), static_cast<std::uint16_t>(sequence)};
            bool more = false;
            const std::int32_t read = useTables_ ? FromTable(key, at, &more) : FromRecord(key, at, &more);
            if (read < 0) return read;
            if (read == 0 || !more) break;
          }
        }
      }
    }
    for (std::int32_t i = 0; i < foundCount_; ++i) {
      const std::int32_t taken = Take(found_[i], at);
      if (taken < 0) return taken;
    }
    return 0;
  }

  std::int32_t Keep(const Found& f) {
    if (foundCount_ >= kMaxPassagesAtPoint) return CountInternalError();
    found_[foundCount_++] = f;
    return 0;
  }

  // The block's own passages at the point, from its table: 1 (with *more
  // set when the tile holds a further block), 0 when the block does not
  // exist, or a negative code.
  std::int32_t FromTable(const RmfFeatKey& key, TiPoint at, bool* more) {
    HeldTable t(route_);
    const std::int32_t built = t.Take(key, -1);
    if (built <= 0) return built;
    const RmfTileRouteTable* table = t.get();
    *more = table->moreBlocks != 0;
    const std::int32_t node = RmfTileRouteNodeFind(table, at);
    if (node < 0) return 1;
    const std::uint32_t* words = nullptr;
    const std::int32_t n = RmfTileRouteNodeIncidences(table, node, &words);
    for (std::int32_t i = 0; i < n; ++i) {
      const std::uint32_t w = words[i];
      // Passages of the other blocks at the point are read from their own
      // tables.
      if ((w & kRmfIncidenceJoined) != 0) continue;
      const std::int32_t part = RmfIncidencePart(w);
      if (part >= table->featureCount) return CountInternalError();
      const RmfTraversal* records = RmfTableTraversals(table, part);
      const bool restricted = (w & kRmfIncidenceRestricted) != 0 ||
                              (n == 1 && (RmfTableNodeWords(table, node)[1] & kRmfNodeRestricted) != 0);
      const std::int32_t kept = Keep(Found{key, part, RmfIncidenceVertex(w), {records[0], records[1]},
                                           (w & kRmfIncidenceStarts) != 0, (w & kRmfIncidenceEnds) != 0, restricted});
      if (kept < 0) return kept;
    }
    return 1;
  }

  // Whether the profile's connection answer for the stretch in `set`
  // carries restriction items.
  bool StretchRestricted(const RmfAttrSet& set) const {
    if (set.count == 0) return false;
    RmfConnectionAnswer answer{};
    answer.request = (route_->profileModes[0] != 0 ? 1u : 0u) | (route_->profileModes[1] != 0 ? 2u : 0u) |
                     kRmfConnectionFirstItems | kRmfConnectionSecondItems;
    if (RmfProfileTurnCost(route_->reader, &set, nullptr, &answer) != 0) return false;
    return answer.itemCounts[0] + answer.itemCounts[1] > 0;
  }

  // The block's passages at the point, read from its record: codes as
  // FromTable. Every part passes the point at every vertex where it lies
  // there.
  std::int32_t FromRecord(const RmfFeatKey& key, TiPoint at, bool* more) {
    HeldSlot slot;
    std::int32_t continues = 0;
    const std::int32_t fetched = slot.Fetch(route_->reader, key, &continues);
    if (fetched <= 0) return fetched;
    *more = continues != 0;
    RmfFeature* f = slot.get();
    RmfAttrSet set;  // about 26 KB, for this block only
    for (std::int32_t part = 0; part < f->partCount; ++part) {
      if (RmfFeatureSelectPart(f, part, 1, &set) < 0 || set.count == 0) continue;
      RmfFeatureAnswer answer{};
      answer.request = route_->profileModes[0] != 0 ? kRmfFeatureRequestMode : 0u;
      answer.travel[0].roadClass = answer.travel[1].roadClass = -1;
      const std::int32_t asked = RmfProfileFeatureCost(route_->reader, &set, nullptr, &answer);
      if (asked < 0) return asked;
      const RmfTraversal records[2] = {rmf::detail::TraversalOf(answer, kRmfTravelLower, false),
                                       rmf::detail::TraversalOf(answer, kRmfTravelHigher, false)};
      if (RmfTraversalClass(records[0].flags) < 0 && RmfTraversalClass(records[1].flags) < 0) continue;
      for (std::int32_t position = -1;;) {
        std::int32_t found = -1;
        const std::int32_t point = RmfFeatureNextNode(f, part, position, 1, &found, nullptr);
        if (point < 0) break;
        position = found;
        TiPoint p{};
        if (RmfFeaturePointAt(f, point, &p) != 1) return CountInternalError();
        if (!TiSamePoint(p, at)) continue;
        Found passage{key, part, found, {records[0], records[1]}, false, false, false};
        for (std::int32_t side : {-1, 1}) {
          const std::int32_t next = RmfFeatureNextNode(f, part, found, side, nullptr, &set);
          if (next < 0) {
            (side < 0 ? passage.starts : passage.ends) = true;
          } else if (StretchRestricted(set)) {
            passage.restricted = true;
          }
        }
        const std::int32_t kept = Keep(passage);
        if (kept < 0) return kept;
      }
    }
    return 1;
  }

  // Makes a candidate of a passage at the point, or takes in the nodes of
  // a connector.
  std::int32_t Take(const Found& f, TiPoint at) {
    const std::int32_t classes[2] = {RmfTraversalClass(f.traversal[0].flags), RmfTraversalClass(f.traversal[1].flags)};
    if (classes[0] < minClass_ && classes[1] < minClass_) return 0;
    const bool open[2] = {classes[0] >= 0, classes[1] >= 0};
    if (!open[0] && !open[1]) return 0;
    const std::uint8_t codes[2] = {static_cast<std::uint8_t>(RmfTraversalGroup(f.traversal[0].flags)),
                                   static_cast<std::uint8_t>(RmfTraversalGroup(f.traversal[1].flags))};
    if ((open[0] && codes[0] == kConnectorCode) || (open[1] && codes[1] == kConnectorCode)) {
      if (open[0] && open[1] && codes[0] != codes[1]) return kRmfProfileMissing;
      return Connector(f);
    }
    for (std::int32_t i = 0; i < junction_->candidateCount; ++i) {
      const RmfCandidate& c = junction_->candidates[i];
      if (c.featureId == f.key.a && c.secondId == SecondIdOf(f.key) && c.part == f.part &&
          c.vertex == f.vertex) {
        return 0;
      }
    }
    if (junction_->candidateCount >= kRmfMaxCandidates) return CountInternalError();
    const std::int32_t index = junction_->candidateCount;
    RmfCandidate& c = junction_->candidates[index];
    c = RmfCandidate{};
    c.featureId = f.key.a;
    c.secondId = SecondIdOf(f.key);
    c.part = static_cast<std::uint16_t>(f.part);
    c.vertex = static_cast<std::uint16_t>(f.vertex);
    for (std::int32_t side = 0; side < 2; ++side) {
      c.groupCode[side] = codes[side];
      c.roadClass[side] = static_cast<std::int8_t>(classes[side]);
      c.restrictedEntry[side] = (f.traversal[side].flags & kRmfTraversalRestricted) != 0 ? 1 : 0;
    }
    const std::uint8_t openness = open[0] && open[1] ? kRmfOpenBothWays : open[0] ? kRmfOpenTowardLower
                                                                                  : kRmfOpenTowardHigher;
    c.connectionType = static_cast<std::uint8_t>(4 * openness + (f.starts ? kRmfTypeFirstNode : 0) +
                                                 (f.ends ? kRmfTypeLastNode : 0));
    c.restrictionMark = f.restricted ? 1 : 0;
    c.x = at.x;
    c.y = at.y;
    HeldSlot slot;
    if (slot.Fetch(route_->reader, f.key, nullptr) != 1) return CountInternalError();
    if (RmfFeatureSelectPart(slot.get(), f.part, 0, nullptr) < 0) return CountInternalError();
    junction_->geometry[index] = {};
    NextNodes(slot.get(), f.part, f.vertex, &junction_->geometry[index]);
    ++junction_->candidateCount;
    return 0;
  }

  // Every node along a connector becomes a further junction point.
  std::int32_t Connector(const Found& f) {
    HeldSlot slot;
    if (slot.Fetch(route_->reader, f.key, nullptr) != 1) return CountInternalError();
    for (std::int32_t position = -1;;) {
      std::int32_t found = -1;
      const std::int32_t point = RmfFeatureNextNode(slot.get(), f.part, position, 1, &found, nullptr);
      if (point < 0) break;
      position = found;
      TiPoint p{};
      if (RmfFeaturePointAt(slot.get(), point, &p) != 1) return CountInternalError();
      if (std::any_of(points_, points_ + pointCount_, [&](const TiPoint& q) { return TiSamePoint(p, q); })) continue;
      if (pointCount_ >= kRmfMaxJunctionPoints) return CountInternalError();
      points_[pointCount_++] = p;
    }
    return 0;
  }

  RmfRoute* route_;
  bool useTables_;
  std::int32_t minClass_;
  Junction* junction_;
  TiPoint points_[kRmfMaxJunctionPoints] = {};
  std::int32_t pointCount_ = 0;
  Found found_[kMaxPassagesAtPoint] = {};
  std::int32_t foundCount_ = 0;
};

// What the judging asks of the map while it judges one junction.
struct MapServices {
  RmfRoute* route;
  bool useTables;
  TiPoint point;
  const Junction* junction;
  RmfFeatKey arrivalKey;
  std::int32_t arrivalPart;
  std::int32_t arrivalVertex;
  // A failure the services reported themselves: already counted where it
  // was one of the router's own.
  bool failed;
};

std::int32_t AnswerFromMap(void* context, std::int32_t candidate, std::int32_t side, RmfTimeRequest* time,
                           RmfConnectionAnswer* answer) {
  auto* s = static_cast<MapServices*>(context);
  // A profile without a connection callback has no restrictions to give, as
  // the routing tables read it too.
  if (s->route->reader->profile.connectionCallback == nullptr) return 0;
  RmfFeatKey key = s->arrivalKey;
  std::int32_t part = s->arrivalPart;
  std::int32_t vertex = s->arrivalVertex;
  if (candidate >= 0) {
    const RmfCandidate& c = s->junction->candidates[candidate];
    key = KeyOfPassage(c);
    part = c.part;
    vertex = c.vertex;
  }
  HeldSlot slot;
  if (slot.Fetch(s->route->reader, key, nullptr) != 1) {
    s->failed = true;
    return CountInternalError();
  }
  // The restriction items of a passage are those of the stretch that
  // touches the junction on that side: its attributes are stored after the
  // stretch's lower vertex, and the next-node step gives them.
  RmfAttrSet set;  // about 26 KB, for this question only
  if (RmfFeatureNextNode(slot.get(), part, vertex, side, nullptr, &set) < -1) {
    s->failed = true;
    return CountInternalError();
  }
  const std::int32_t asked = RmfProfileTurnCost(s->route->reader, &set, time, answer);
  if (asked < 0) s->failed = true;
  return asked;
}

std::int32_t RegatherFromMap(void* context, std::int32_t minClass, Junction* junction) {
  auto* s = static_cast<MapServices*>(context);
  const std::int32_t gathered = Gatherer(s->route, s->useTables, minClass, junction).Run(s->point);
  if (gathered < 0) s->failed = true;
  return gathered;
}

// Costs become profile times in thousandths; the cost shift is undone first
// where the shifted value still fits.
std::uint32_t CostTime(std::int32_t cost, std::uint32_t shift) {
  const std::uint32_t v = cost < 0 ? 0u : static_cast<std::uint32_t>(cost);
  if (shift >= 32) return 0xFFFFFFFFu;
  if (v > (0xFFFFFFFFu >> shift)) {
    const std::uint32_t thousandths = v / 1000;
    return thousandths > (0xFFFFFFFFu >> shift) ? 0xFFFFFFFFu : thousandths << shift;
  }
  return (v << shift) / 1000;
}

}  // namespace

std::int32_t RmfRouteTimeRequest(std::uint32_t costShift, const std::int32_t* forwardCost,
                                 const std::int32_t* backwardCost, std::int32_t direction, const std::uint32_t* result,
                                 RmfTimeRequest* request) {
  if (request == nullptr) return kRmfBadArgument;
  *request = RmfTimeRequest{};
  if (forwardCost != nullptr) {
    request->forwardTime = CostTime(*forwardCost, costShift);
    request->flags |= kRmfTimeRequestForward;
  }
  if (backwardCost != nullptr) {
    request->backwardTime = CostTime(*backwardCost, costShift);
    request->flags |= kRmfTimeRequestBackward;
  }
  if (result != nullptr) {
    request->result = *result;
    request->flags |= kRmfTimeRequestResult;
  }
  if (direction > 0) request->flags |= kRmfTimeRequestHigher;
  return 1;
}

std::int32_t RmfRouteNodeConnections(RmfRoute* route, std::int32_t fromRouteData, const void* routeDataNode,
                                     const RmfArrivalRef* arriving, std::int32_t arrivingRestricted,
                                     std::int32_t reverse, std::int32_t minClass, std::int32_t timeDependent,
                                     const std::int32_t* forwardCost, const std::int32_t* backwardCost,
                                     std::int32_t skip, std::int32_t acceptRestricted, std::int32_t useTileTable,
                                     const RmfFeatureRef* fetch, std::int32_t vertex, std::int32_t forbidUTurns,
                                     std::int32_t cosine, RmfConnection* connections,
                                     const void** routeDataNodeOut, std::int32_t* pendingFlag) {
  (void)routeDataNode;
  if (pendingFlag != nullptr) *pendingFlag = 0;
  if (routeDataNodeOut != nullptr) *routeDataNodeOut = nullptr;
  if (!rmf::detail::RouteAlive(route) || !rmf::detail::ReaderAlive(route->reader) || arriving == nullptr ||
      connections == nullptr) {
    return kRmfBadArgument;
  }
  // Route objects of this system carry no route data (route->routeData is
  // null), so the branches that read a junction from it are never taken: a
  // junction said to come from route data cannot be read here.
  if (fromRouteData != 0 || route->routeData != nullptr) return CountInternalError();

  // The stretch arrived along, and the junction point at its vertex.
  rmf::detail::JunctionArrival arrival;
  if (fetch != nullptr) {
    arrival.featureId = fetch->featureId;
    arrival.secondId = fetch->source | (static_cast<std::uint32_t>(fetch->secondId) << 16);
    arrival.part = fetch->part;
    arrival.direction = fetch->toVertex > fetch->fromVertex   ? 1
                        : fetch->toVertex < fetch->fromVertex ? -1
                        : (arriving->packed & kRmfNodeRefHigher) != 0 ? 1
                                                                     : -1;
  } else {
    arrival.featureId = arriving->featureId;
    arrival.secondId = arriving->secondId;
    arrival.part = static_cast<std::uint16_t>(arriving->packed & kRmfNodeRefPartMask);
    arrival.direction = (arriving->packed & kRmfNodeRefHigher) != 0 ? 1 : -1;
  }
  if (vertex < 0 || vertex >= kRmfMaxPartWords) return CountInternalError();
  arrival.vertex = static_cast<std::uint16_t>(vertex);
  const RmfFeatKey arrivalKey{arrival.featureId, static_cast<std::uint16_t>(arrival.secondId & 0xFFFF),
                              static_cast<std::uint16_t>(arrival.secondId >> 16)};
  // The arrival's record stays held until the junction is judged: most
  // passages gathered and questions asked there are of the same record, and
  // a held record is handed out again without being looked up and laid out.
  HeldSlot arrivalSlot;
  if (arrivalSlot.Fetch(route->reader, arrivalKey, nullptr) != 1) return CountInternalError();
  if (RmfFeatureSelectPart(arrivalSlot.get(), arrival.part, 0, nullptr) < 0) return CountInternalError();
  if (VertexPoint(arrivalSlot.get(), arrival.part, vertex, &arrival.point) != 1) return CountInternalError();
  NextNodes(arrivalSlot.get(), arrival.part, vertex, &arrival.geometry);

  const bool useTables = useTileTable != 0;
  // About 3 KB; the judge and the attribute sets of the profile's questions
  // take the larger share of the stack.
  Junction junction;
  const std::int32_t gathered = Gatherer(route, useTables, minClass, &junction).Run(arrival.point);
  if (gathered < 0) return gathered;

  rmf::detail::JunctionRules rules;
  rules.turnCosts = route->turnCosts;
  rules.costShift = route->costShift;
  rules.modeFlags = route->modeFlags;
  rules.profileModes[0] = route->profileModes[0];
  rules.profileModes[1] = route->profileModes[1];
  rules.groupPenalty = route->groupPenalties;

  rmf::detail::JunctionRequest request;
  request.reverse = reverse != 0;
  request.timeDependent = timeDependent != 0;
  request.skip = skip != 0;
  request.acceptRestricted = acceptRestricted != 0;
  request.arrivingRestricted = arrivingRestricted != 0;
  request.forbidUTurns = forbidUTurns != 0;
  request.minClass = minClass;
  request.cosine = cosine;
  request.forwardCost = forwardCost;
  request.backwardCost = backwardCost;
  request.pending = arriving->pending;

  MapServices map{route, useTables, arrival.point, &junction, arrivalKey, arrival.part, vertex, false};
  rmf::detail::JunctionServices services;
  services.answer = &AnswerFromMap;
  services.regather = &RegatherFromMap;
  services.context = &map;
  const std::int32_t judged =
      rmf::detail::JudgeJunction(rules, request, arrival, junction, services, connections, pendingFlag);
  // The judge counts nothing; its own inconsistencies are counted here.
  if (judged == kRmfMalformed && !map.failed) return CountInternalError();
  return judged;
}
