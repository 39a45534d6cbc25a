// Verdicts on the ways through a junction. Each candidate direction passes
// the same steps in order (minimum class, mandatory restriction items, type
// mask, restricted entry, turn angle and turn cost, the candidate's own
// restriction items), the strongest verdict winning; in skip mode the first
// non-zero verdict drops the direction, so that expansion never asks the
// profile about a way it cannot take anyway. Two rules then look at the
// junction as a whole: junction groups (complex junctions whose group codes
// say that some of the ways meeting there do not connect) and the two-way
// rule (no U-turn where the road merely continues).
#include "mapengine/format/route/RmfJunctionJudge.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "mapengine/format/base/TiMath.h"
#include "mapengine/format/base/TiUnits.h"

namespace rmf::detail {
namespace {

// Which ways a connection type may be travelled. Bit 0x01 stands for a
// connection enumerated with forward-search mark 0 in direction -1, 0x02 for
// mark 1 and -1, 0x04 for mark 0 and +1, 0x08 for mark 1 and +1. A feature
// open one way may be left, or arrived along, only that way; nothing leaves
// a part beyond its first or last node; a part of one node connects nothing.
constexpr std::array<std::uint8_t, kRmfConnectionTypes> kTypeMasks = {0x09, 0x08, 0x01, 0x00, 0x0f, 0x0c,
                                                                      0x03, 0x00, 0x06, 0x04, 0x02, 0x00};
constexpr std::array<std::uint32_t, 4> kExactBits = {0x01, 0x02, 0x04, 0x08};  // by mark + direction + 1
constexpr std::array<std::uint32_t, 2> kDirectionBits = {0x03, 0x0c};         // by side

// Pair penalties of junction groups when the route gives none: nothing
// between equal codes, 30 degrees between different ones, a whole turn for
// a connector.
constexpr std::uint32_t kThirtyDegrees = 22369621;
constexpr std::uint32_t kWholeTurn = static_cast<std::uint32_t>(kTiFullTurn);
constexpr std::uint32_t kDefaultGroupPenalty[4][4] = {{0, kThirtyDegrees, kThirtyDegrees, kWholeTurn},
                                                      {kThirtyDegrees, 0, kThirtyDegrees, kWholeTurn},
                                                      {kThirtyDegrees, kThirtyDegrees, 0, kWholeTurn},
                                                      {kWholeTurn, kWholeTurn, kWholeTurn, kWholeTurn}};

// Restriction item kinds.
constexpr std::uint8_t kItemMandatory = 1;
constexpr std::uint8_t kItemNoFrom = 2;     // prohibition, on the stretch it starts from
constexpr std::uint8_t kItemNoVia = 3;      // prohibition, on a stretch in between
constexpr std::uint8_t kItemNoTo = 4;       // prohibition, on the stretch it leads to
constexpr std::uint8_t kItemOnlyFrom = 5;   // permission, on the stretch it starts from
constexpr std::uint8_t kItemOnlyVia = 6;    // permission, on a stretch in between
constexpr std::uint8_t kItemOnlyTo = 7;     // permission, on the stretch it leads to
constexpr std::uint32_t kItemConditional = 0x1;
constexpr std::uint32_t kItemConditionHolds = 0x2;

std::int32_t Side(std::int32_t direction) { return direction > 0 ? 1 : 0; }

std::int32_t WrapAngle(std::int64_t angle) {
  angle %= kTiFullTurn;
  if (angle >= kTiHalfTurn) angle -= kTiFullTurn;
  if (angle < -kTiHalfTurn) angle += kTiFullTurn;
  return static_cast<std::int32_t>(angle);
}

// The arrival heading turned around (its range is (-2^27, 2^27]).
std::int32_t TurnArrival(std::int32_t heading) { return heading >= 0 ? heading - kTiHalfTurn : heading + kTiHalfTurn; }
// A candidate's heading turned around: then the heading of travel into the
// junction.
std::int32_t TurnLeaving(std::int32_t heading) { return heading > 0 ? heading - kTiHalfTurn : heading + kTiHalfTurn; }

// ---- restriction items --------------------------------------------------------------------------

// A (key, mark) pair of the matching: mark 0 for mandatory items, 1 for
// permissions.
struct ItemPair {
  std::uint32_t key;
  std::uint8_t mark;
};

struct PairList {
  std::int32_t count = 0;
  ItemPair pairs[kRmfConnectionItems];

  void Add(std::uint32_t key, std::uint8_t mark) {
    if (count < kRmfConnectionItems) pairs[count++] = {key, mark};
  }
  bool Has(std::uint32_t key, std::uint8_t mark) const {
    return std::any_of(pairs, pairs + count, [&](const ItemPair& p) { return p.key == key && p.mark == mark; });
  }
  bool HasMark(std::uint8_t mark) const {
    return std::any_of(pairs, pairs + count, [&](const ItemPair& p) { return p.mark == mark; });
  }
};

struct KeyList {
  std::int32_t count = 0;
  std::uint32_t keys[kRmfConnectionItems];

  void Add(std::uint32_t key) {
    if (count < kRmfConnectionItems) keys[count++] = key;
  }
  bool Has(std::uint32_t key) const { return std::find(keys, keys + count, key) != keys + count; }
};

// What the arrival's answer contributes: the pairs A, the prohibition keys
// B, the number of mandatory items.
struct ArrivalItems {
  PairList pairs;
  KeyList prohibitions;
  std::int32_t mandatory = 0;
  bool timed = false;
};

// What a candidate's answer gives.
struct CandidateItems {
  PairList pairs;
  std::uint8_t verdict = kRmfVerdictAllowed;
  bool pending = false;
  bool timed = false;
};

bool PendingHas(const RmfPendingItem* pending, std::uint32_t key, std::uint8_t kind) {
  for (const RmfPendingItem* p = pending; p != nullptr; p = p->next) {
    if (p->key == key && p->kind == kind) return true;
  }
  return false;
}


// A time-conditional item whose condition does not hold at the time of the
// question does not restrict a forward search in time-dependent mode.
bool Lapsed(const JunctionRequest& request, const RmfRestriction& item) {
  return request.timeDependent && request.reverse && (item.conditionFlags & kItemConditional) != 0 &&
         (item.conditionFlags & kItemConditionHolds) == 0;
}

// Asks about the stretch of `who` that leaves the junction in `side`, for
// travel in `direction`.
std::int32_t Ask(const JunctionRules& rules, const JunctionRequest& request, const JunctionServices& services,
                 std::int32_t who, std::int32_t side, std::int32_t direction, RmfConnectionAnswer* answer) {
  if (services.answer == nullptr) return kRmfProfileMissing;
  // Only the counts say which items hold an answer, so the 2 KB of items are
  // not cleared for every question.
  answer->itemCounts[0] = answer->itemCounts[1] = 0;
  answer->request = (rules.profileModes[0] != 0 ? 0x1u : 0u) | (rules.profileModes[1] != 0 ? 0x2u : 0u) |
                    (direction > 0 ? kRmfConnectionFirstItems : kRmfConnectionSecondItems);
  RmfTimeRequest time{};
  RmfTimeRequest* timeRequest = nullptr;
  if (request.timeDependent) {
    (void)RmfRouteTimeRequest(rules.costShift, request.forwardCost, request.backwardCost, direction, nullptr, &time);
    timeRequest = &time;
  }
  const std::int32_t asked = services.answer(services.context, who, side, timeRequest, answer);
  if (asked < 0) return asked;
  const std::int32_t count = answer->itemCounts[ItemList(direction)];
  if (count < 0 || count > kRmfConnectionItems) return kRmfProfileMissing;
  return 0;
}

std::int32_t ReadArrivalItems(const JunctionRequest& request, const RmfConnectionAnswer& answer,
                              std::int32_t direction, ArrivalItems* out) {
  const std::int32_t list = ItemList(direction);
  const bool r = request.reverse;
  for (std::int32_t i = 0; i < answer.itemCounts[list]; ++i) {
    const RmfRestriction& item = answer.items[list][i];
    if (item.kind == 0) return kRmfProfileMissing;
    if (item.kind > kItemOnlyTo || Lapsed(request, item)) continue;
    const std::int32_t before = out->pairs.count + out->prohibitions.count;
    switch (item.kind) {
      case kItemMandatory:
        out->pairs.Add(item.key, 0);
        ++out->mandatory;
        break;
      case kItemOnlyFrom:
        if (r) out->pairs.Add(item.key, 1);
        break;
      case kItemOnlyTo:
        if (!r) out->pairs.Add(item.key, 1);
        break;
      case kItemOnlyVia:
        if (PendingHas(request.pending, item.key, item.kind)) out->pairs.Add(item.key, 1);
        break;
      case kItemNoFrom:
        if (r) out->prohibitions.Add(item.key);
        break;
      case kItemNoTo:
        if (!r) out->prohibitions.Add(item.key);
        break;
      case kItemNoVia:
        if (PendingHas(request.pending, item.key, item.kind)) out->prohibitions.Add(item.key);
        break;
      default:
        break;
    }
    if (out->pairs.count + out->prohibitions.count != before && (item.conditionFlags & kItemConditional) != 0) {
      out->timed = true;
    }
  }
  return 0;
}

// Every mandatory pair of either list must be in the other; the permissions
// of the first list must be matched by permissions of the second (all of
// them, or one with route flag bit 4).
std::uint8_t MatchPairs(const PairList& first, const PairList& second, bool onePermission) {
  for (const PairList* a : {&first, &second}) {
    const PairList& b = a == &first ? second : first;
    for (std::int32_t i = 0; i < a->count; ++i) {
      if (a->pairs[i].mark == 0 && !b.Has(a->pairs[i].key, 0)) return kRmfVerdictExcluded;
    }
  }
  if (!first.HasMark(1)) return kRmfVerdictAllowed;
  std::int32_t wanted = 0;
  std::int32_t found = 0;
  for (std::int32_t i = 0; i < first.count; ++i) {
    if (first.pairs[i].mark != 1) continue;
    ++wanted;
    if (second.Has(first.pairs[i].key, 1)) ++found;
  }
  const bool matched = onePermission ? found > 0 : found == wanted;
  return matched ? kRmfVerdictAllowed : kRmfVerdictForbiddenTurn;
}

std::int32_t ReadCandidateItems(const JunctionRules& rules, const JunctionRequest& request,
                                const RmfConnectionAnswer& answer, std::int32_t direction,
                                const ArrivalItems& arrival, CandidateItems* out) {
  const std::int32_t list = ItemList(direction);
  const bool r = request.reverse;
  for (std::int32_t i = 0; i < answer.itemCounts[list]; ++i) {
    const RmfRestriction& item = answer.items[list][i];
    if (item.kind == 0) return kRmfProfileMissing;
    if (item.kind > kItemOnlyTo || Lapsed(request, item)) continue;
    bool took = false;
    switch (item.kind) {
      case kItemMandatory:
        out->pairs.Add(item.key, 0);
        took = true;
        break;
      case kItemOnlyFrom:
      case kItemOnlyTo:
        if ((item.kind == kItemOnlyTo) == r) {
          out->pairs.Add(item.key, 1);
          took = true;
        }
        break;
      case kItemOnlyVia:
        // A stretch in between continues the permission the arrival
        // carries; the next junction has to see it through.
        for (std::int32_t k = 0; k < arrival.pairs.count; ++k) {
          const ItemPair& p = arrival.pairs.pairs[k];
          if (p.mark == 1 && p.key == item.key) {
            out->pairs.Add(p.key, 1);
            out->pending = true;
            took = true;
          }
        }
        break;
      case kItemNoFrom:
      case kItemNoTo:
        if ((item.kind == kItemNoTo) == r && arrival.prohibitions.Has(item.key)) {
          out->verdict = std::max(out->verdict, kRmfVerdictForbiddenTurn);
          took = true;
        }
        break;
      case kItemNoVia:
        if (arrival.prohibitions.Has(item.key)) {
          out->pending = true;
          took = true;
        }
        break;
      default:
        break;
    }
    if (took && (item.conditionFlags & kItemConditional) != 0) out->timed = true;
  }
  const PairList& first = r ? arrival.pairs : out->pairs;
  const PairList& second = r ? out->pairs : arrival.pairs;
  out->verdict = std::max(out->verdict, MatchPairs(first, second, (rules.modeFlags & kRouteOnePermission) != 0));
  return 0;
}

// ---- the candidate directions --------------------------------------------------------------------

// One evaluated candidate direction.
struct Entry {
  RmfConnection connection;
  std::int32_t candidate;
  bool pending;
};

bool SamePassage(const RmfPassage& a, const RmfPassage& b) {
  return a.featureId == b.featureId && a.secondId == b.secondId && a.part == b.part && a.vertex == b.vertex;
}

struct Enumeration {
  Entry entries[2 * kRmfMaxCandidates];
  std::int32_t count = 0;
  // Candidate directions that escaped exclusion (verdict 4), and whether
  // all of them lie on features open both ways.
  std::int32_t escaped = 0;
  bool escapedTwoWay = true;
};

struct Judge {
  Judge(const JunctionRules& r, const JunctionRequest& q, const JunctionArrival& a, const Junction& j,
        const JunctionServices& s)
      : rules(r), request(q), arrival(a), junction(j), services(s) {}

  const JunctionRules& rules;
  const JunctionRequest& request;
  const JunctionArrival& arrival;
  const Junction& junction;
  const JunctionServices& services;
  std::int32_t arrivalHeading = 0;
  ArrivalItems arrivalItems;
  RmfConnectionAnswer answer{};  // the one in use; about 2 KB
  Enumeration enumeration;

  std::int32_t Heading(TiPoint at, const PassageGeometry& geometry, std::int32_t side, std::int32_t* heading) const {
    if (!geometry.hasNext[side]) return kRmfMalformed;
    *heading = ScaledHeading(at, geometry.next[side], request.cosine);
    return 0;
  }

  std::int32_t Arrival() {
    if (arrival.direction != 1 && arrival.direction != -1) return kRmfMalformed;
    // Forward search: look back along the arrival and turn the heading, so
    // that it is the heading of travel into the junction. Backward search:
    // the heading of travel out of it along the node's own stretch.
    const std::int32_t look = request.reverse ? -arrival.direction : arrival.direction;
    std::int32_t heading = 0;
    if (Heading(arrival.point, arrival.geometry, Side(look), &heading) < 0) return kRmfMalformed;
    arrivalHeading = request.reverse ? TurnArrival(heading) : heading;
    const std::int32_t asked = Ask(rules, request, services, -1, look, arrival.direction, &answer);
    if (asked < 0) return asked;
    return ReadArrivalItems(request, answer, arrival.direction, &arrivalItems);
  }

  Entry& Keep(const RmfCandidate& candidate, std::int32_t index, std::int32_t direction, std::uint8_t verdict) {
    Entry& e = enumeration.entries[enumeration.count++];
    e = Entry{};
    static_cast<RmfPassage&>(e.connection) = candidate;
    e.connection.direction = static_cast<std::int8_t>(direction);
    e.connection.forwardSearch = request.reverse ? 0 : 1;
    e.connection.verdict = verdict;
    e.connection.groupHeading = kRmfNoGroupHeading;
    e.candidate = index;
    if (verdict != kRmfVerdictExcluded) {
      ++enumeration.escaped;
      if (candidate.connectionType / 4 != kRmfOpenBothWays) enumeration.escapedTwoWay = false;
    }
    return e;
  }

  std::int32_t Direction(std::int32_t index, std::int32_t direction) {
    const RmfCandidate& c = junction.candidates[index];
    const std::int32_t side = Side(direction);
    const std::int32_t mark = request.reverse ? 0 : 1;
    const bool skip = request.skip;
    std::uint8_t v = kRmfVerdictAllowed;

    if (arrivalItems.mandatory > 0 && !request.fromRouteData && c.restrictionMark == 0) v = kRmfVerdictExcluded;
    const std::uint32_t mask = kTypeMasks[c.connectionType];
    if ((mask & kExactBits[mark + direction + 1]) == 0) {
      if ((mask & kDirectionBits[side]) == 0) return 0;  // the part does not go on that way
      v = std::max(v, kRmfVerdictOneWay);
    }
    // In skip mode a direction with a verdict is kept only for the rules of
    // the whole junction; it is never written.
    if (skip && v != 0) {
      Keep(c, index, direction, v);
      return 0;
    }

    if (c.restrictedEntry[side] != 0 && !request.arrivingRestricted && !request.acceptRestricted) {
      v = std::max(v, kRmfVerdictRestrictedEntry);
      if (skip) {
        Keep(c, index, direction, v);
        return 0;
      }
    }

    std::int32_t heading = 0;
    if (Heading(TiPoint{c.x, c.y}, junction.geometry[index], side, &heading) < 0) return kRmfMalformed;
    const std::int32_t leaving = request.reverse ? heading : TurnLeaving(heading);
    // The heading of travel after the turn minus the one before it.
    const std::int32_t angle = request.reverse ? WrapAngle(std::int64_t{leaving} - arrivalHeading)
                                               : WrapAngle(std::int64_t{arrivalHeading} - leaving);
    if (angle == -kTiHalfTurn && request.forbidUTurns) v = std::max(v, kRmfVerdictForbiddenTurn);
    if (rules.turnCosts[TurnSector(angle)] < 0) v = std::max(v, kRmfVerdictForbiddenTurn);
    if (skip && v != 0) {
      Keep(c, index, direction, v);
      return 0;
    }

    // Restriction items belong to a direction of travel. A forward search
    // leaves the junction along the candidate in `direction`; a backward
    // search comes into the junction along it, against `direction`.
    const std::int32_t travel = request.reverse ? direction : -direction;
    const std::int32_t asked = Ask(rules, request, services, index, direction, travel, &answer);
    if (asked < 0) return asked;
    CandidateItems items;
    const std::int32_t read = ReadCandidateItems(rules, request, answer, travel, arrivalItems, &items);
    if (read < 0) return read;
    v = std::max(v, items.verdict);

    Entry& e = Keep(c, index, direction, v);
    e.connection.leavingHeading = leaving;
    e.connection.turnAngle = angle;
    e.connection.flags = ((answer.request & kRmfConnectionFlag) != 0 ? kRmfConnectionProfileFlag : 0u) |
                         (arrivalItems.timed ? kRmfConnectionTimedArrival : 0u) |
                         (items.timed ? kRmfConnectionTimedCandidate : 0u);
    e.pending = items.pending;
    return 0;
  }

  std::int32_t Enumerate() {
    for (std::int32_t i = 0; i < junction.candidateCount; ++i) {
      const RmfCandidate& c = junction.candidates[i];
      if (c.roadClass[0] < request.minClass && c.roadClass[1] < request.minClass) continue;
      if (c.connectionType >= kRmfConnectionTypes) return kRmfMalformed;
      for (std::int32_t direction : {-1, 1}) {
        const std::int32_t done = Direction(i, direction);
        if (done < 0) return done;
      }
    }
    return 0;
  }

  // ---- junction groups ---------------------------------------------------------------------------

  struct Counters {
    std::uint32_t weight[3] = {0, 0, 0};
    bool restrictions = false;
  };

  Counters Count() const {
    Counters counters;
    for (std::int32_t i = 0; i < junction.candidateCount; ++i) {
      const RmfCandidate& c = junction.candidates[i];
      // A feature passing through counts as two arms, one starting or
      // ending here as one. A both-way arm with one code for both
      // directions also counts in the high byte.
      const std::uint32_t w = std::array<std::uint32_t, 4>{2, 1, 1, 0}[c.connectionType % 4];
      const std::int32_t openness = c.connectionType / 4;
      auto add = [&](std::uint8_t code, std::uint32_t amount) {
        if (code < 3) counters.weight[code] += amount;
      };
      if (openness == kRmfOpenBothWays) {
        if (c.groupCode[0] == c.groupCode[1]) {
          add(c.groupCode[0], w + 256 * w);
        } else {
          add(c.groupCode[0], w);
          add(c.groupCode[1], w);
        }
      } else {
        add(c.groupCode[openness == kRmfOpenTowardLower ? 0 : 1], w);
      }
      if (c.restrictionMark != 0) counters.restrictions = true;
    }
    return counters;
  }

  // One way of travel through the junction: a candidate direction with a
  // forward-search mark, its heading of travel and group code.
  struct Member {
    std::int32_t candidate;
    std::int32_t direction;
    std::int32_t mark;
    std::int32_t heading;
    std::uint8_t code;
    std::int32_t group;
    std::int32_t groupHeading;
  };

  struct Members {
    Member members[4 * kRmfMaxCandidates];
    std::int32_t count = 0;
    std::int32_t groups = 0;
    bool poorPairing = false;  // some best pair lies farther apart than its code allows
  };

  std::int32_t BuildMembers(const Junction& from, Members* out) const {
    out->count = 0;
    for (std::int32_t i = 0; i < from.candidateCount; ++i) {
      const RmfCandidate& c = from.candidates[i];
      if (c.connectionType >= kRmfConnectionTypes) return kRmfMalformed;
      const std::uint32_t mask = kTypeMasks[c.connectionType];
      for (std::int32_t direction : {-1, 1}) {
        for (std::int32_t mark : {0, 1}) {
          if ((mask & kExactBits[mark + direction + 1]) == 0) continue;
          std::int32_t heading = 0;
          if (Heading(TiPoint{c.x, c.y}, from.geometry[i], Side(direction), &heading) < 0) return kRmfMalformed;
          // Mark 1 travels into the junction, that is against the direction.
          const std::int32_t travel = mark == 0 ? direction : -direction;
          Member& m = out->members[out->count++];
          m = Member{i, direction, mark, mark == 0 ? heading : TurnLeaving(heading), c.groupCode[Side(travel)],
                     out->count - 1, kRmfNoGroupHeading};
        }
      }
    }
    return 0;
  }

  // Pairs every member with the member of the other mark that continues it
  // best (smallest heading difference plus the pair penalty of the two
  // codes) and merges paired members into groups.
  void Pair(Members* set) const {
    const auto& penalty = rules.groupPenalty != nullptr ? rules.groupPenalty : kDefaultGroupPenalty;
    Member* members = set->members;
    const std::int32_t n = set->count;
    std::int32_t parent[4 * kRmfMaxCandidates];
    for (std::int32_t i = 0; i < n; ++i) parent[i] = i;
    auto root = [&](std::int32_t i) {
      while (parent[i] != i) i = parent[i] = parent[parent[i]];
      return i;
    };
    for (std::int32_t i = 0; i < n; ++i) {
      std::int32_t best = -1;
      std::uint32_t bestDistance = 0;
      for (std::int32_t j = 0; j < n; ++j) {
        if (members[j].mark == members[i].mark) continue;
        const std::int32_t difference = WrapAngle(std::int64_t{members[j].heading} - members[i].heading);
        const std::uint32_t distance = static_cast<std::uint32_t>(std::abs(std::int64_t{difference})) +
                                       penalty[members[i].code & 3][members[j].code & 3];
        if (best < 0 || distance < bestDistance) {
          best = j;
          bestDistance = distance;
        }
      }
      if (best < 0) continue;
      members[i].groupHeading = WrapAngle(std::int64_t{members[best].heading} - members[i].heading);
      const std::uint32_t limit = members[i].code == 2 ? 0x2000000u : members[i].code < 2 ? 0x4000000u : 0xFFFFFFFFu;
      if (bestDistance > limit) set->poorPairing = true;
      parent[root(i)] = root(best);
    }
    // Group ids in the order of the members.
    std::int32_t id[4 * kRmfMaxCandidates];
    std::fill(id, id + n, -1);
    set->groups = 0;
    for (std::int32_t i = 0; i < n; ++i) {
      const std::int32_t r = root(i);
      if (id[r] < 0) id[r] = set->groups++;
      members[i].group = id[r];
    }
  }

  const Entry* FindEntry(const RmfPassage& passage, std::int32_t direction) const {
    for (std::int32_t i = 0; i < enumeration.count; ++i) {
      const Entry& e = enumeration.entries[i];
      if (SamePassage(e.connection, passage) && e.connection.direction == direction) return &e;
    }
    return nullptr;
  }

  // A member that turns back across the middle of its group: its angle lies
  // below the bisector of a right turn and its group heading; the mirrored
  // test looks at the left side instead.
  static bool TurnsBack(std::int32_t angle, std::int32_t groupHeading, bool mirrored) {
    if (groupHeading == kRmfNoGroupHeading) return false;
    const std::int64_t threshold = ((std::int64_t{groupHeading} + kTiHalfTurn) >> 1) - kTiHalfTurn;
    const std::int64_t a = mirrored ? -std::int64_t{angle} : std::int64_t{angle};
    return a < threshold;
  }

  // Rebuilds the connections of a grouped junction member by member.
  // Returns the number written or a negative code.
  std::int32_t Grouped(bool wide, bool suspectSingle, RmfConnection* out, std::int32_t* pendingFlag) {
    Members set;
    const std::int32_t built = BuildMembers(junction, &set);
    if (built < 0) return built;
    Pair(&set);
    // A poor pairing, or one group where there should be two, may come from
    // a way below the minimum class that continues one of the members: the
    // junction is gathered again with every class.
    const Junction* source = &junction;
    Junction again;
    if ((set.poorPairing || (suspectSingle && set.groups == 1)) && services.regather != nullptr) {
      const std::int32_t gathered = services.regather(services.context, 0, &again);
      if (gathered < 0) return gathered;
      if (again.candidateCount < 0 || again.candidateCount > kRmfMaxCandidates) return kRmfMalformed;
      source = &again;
      set = Members{};
      const std::int32_t rebuilt = BuildMembers(again, &set);
      if (rebuilt < 0) return rebuilt;
      Pair(&set);
    }

    const std::int32_t arrivalMark = request.reverse ? 1 : 0;
    const std::int32_t arrivalDirection = request.reverse ? -arrival.direction : arrival.direction;
    const Member* arriving = nullptr;
    for (std::int32_t i = 0; i < set.count && arriving == nullptr; ++i) {
      const Member& m = set.members[i];
      const RmfCandidate& c = source->candidates[m.candidate];
      if (c.featureId == arrival.featureId && c.secondId == arrival.secondId && c.part == arrival.part &&
          c.vertex == arrival.vertex && m.direction == arrivalDirection && m.mark == arrivalMark &&
          WrapAngle(std::int64_t{m.heading} - arrivalHeading) == 0) {
        arriving = &m;
      }
    }
    if (arriving == nullptr) return kRmfMalformed;

    std::int32_t written = 0;
    for (std::int32_t i = 0; i < set.count; ++i) {
      const Member& m = set.members[i];
      if (&m == arriving) continue;
      const RmfCandidate& c = source->candidates[m.candidate];
      const std::int32_t travel = m.mark == 0 ? m.direction : -m.direction;
      if (c.roadClass[Side(travel)] < request.minClass) continue;
      std::uint8_t v = m.group != arriving->group ? kRmfVerdictExcluded
                       : m.mark == arrivalMark   ? kRmfVerdictOneWay
                                                 : kRmfVerdictAllowed;
      RmfConnection connection{};
      bool pending = false;
      if (m.mark != arrivalMark) {
        const Entry* e = FindEntry(c, m.direction);
        if (e == nullptr) return kRmfMalformed;
        connection = e->connection;
        pending = e->pending;
        v = std::max(v, connection.verdict);
      } else {
        static_cast<RmfPassage&>(connection) = c;
        connection.leavingHeading = m.heading;
        connection.turnAngle = request.reverse ? WrapAngle(std::int64_t{m.heading} - arrivalHeading)
                                               : WrapAngle(std::int64_t{arrivalHeading} - m.heading);
        connection.direction = static_cast<std::int8_t>(m.direction);
        connection.forwardSearch = static_cast<std::uint8_t>(m.mark);
      }
      const bool mirrored =
          (rules.modeFlags & kRouteMirroredSideTest) != 0 && c.groupCode[0] != c.groupCode[1];
      if (wide && TurnsBack(connection.turnAngle, m.groupHeading, mirrored)) {
        v = std::max(v, kRmfVerdictForbiddenTurn);
      }
      connection.verdict = v;
      connection.groupHeading = m.groupHeading;
      connection.groupId = static_cast<std::uint8_t>(m.group);
      connection.groupMark =
          c.connectionType / 4 == kRmfOpenBothWays && c.groupCode[0] == c.groupCode[1] ? 1 : 0;
      if (request.skip && v != kRmfVerdictAllowed) continue;
      if (written >= kRmfMaxConnections) return kRmfMalformed;
      out[written++] = connection;
      if (pending && pendingFlag != nullptr) *pendingFlag = 1;
    }
    return written;
  }

  // Decides whether the junction is handled as a group; *wide says whether
  // sharp turns back are tested, *suspectSingle whether a single group calls
  // for gathering again.
  bool GroupedJunction(bool* wide, bool* suspectSingle) const {
    if ((rules.modeFlags & kRouteJunctionGroups) == 0 || request.fromRouteData) return false;
    const Counters counters = Count();
    const std::uint32_t* w = counters.weight;
    const std::uint32_t total = (w[0] + w[1] + w[2]) & 0xff;
    if (total < 3 || total > 64 || (w[1] == 0 && w[2] == 0) || counters.restrictions) return false;
    *wide = request.forbidUTurns && w[1] + w[2] > 255;
    *suspectSingle = w[0] != 0 && w[2] != 0 && w[1] == 0;
    if (total == 3) return (w[0] != 0 && w[2] != 0) || *wide;
    return w[0] == 0 || w[1] == 0 || w[2] != 0 || *wide;
  }

  std::int32_t Plain(RmfConnection* out, std::int32_t* pendingFlag) {
    std::int32_t written = 0;
    std::int32_t allowed = 0;
    std::int32_t uTurn = -1;
    bool pending[2 * kRmfMaxCandidates] = {};
    for (std::int32_t i = 0; i < enumeration.count; ++i) {
      const Entry& e = enumeration.entries[i];
      const bool isAllowed = e.connection.verdict == kRmfVerdictAllowed;
      if (request.skip && !isAllowed) continue;
      if (isAllowed) {
        ++allowed;
        if (e.connection.turnAngle == -kTiHalfTurn) uTurn = written;
      }
      pending[written] = e.pending;
      out[written++] = e.connection;
    }
    // Where the road merely continues, turning back is no way out.
    if (!request.fromRouteData && enumeration.escaped == 2 && enumeration.escapedTwoWay && allowed == 2 &&
        uTurn >= 0) {
      if (request.skip) {
        --written;
        out[uTurn] = out[written];
        pending[uTurn] = pending[written];
      } else {
        out[uTurn].verdict = kRmfVerdictForbiddenTurn;
      }
    }
    if (pendingFlag != nullptr && std::any_of(pending, pending + written, [](bool p) { return p; })) *pendingFlag = 1;
    return written;
  }
};

}  // namespace

std::int32_t TurnSector(std::int32_t angle) {
  return static_cast<std::int32_t>((std::int64_t{angle} + 0x800000) >> 24) & 15;
}

std::int32_t ScaledHeading(TiPoint from, TiPoint to, std::int32_t cosine) {
  // The cosine as a 32-bit fraction: 2^28 becomes 0xFFFFFFFF.
  const auto c = static_cast<std::uint32_t>(cosine);
  const std::uint32_t fraction = c * 16u - (c >> 28);
  const std::int64_t dx = std::int64_t{to.x} - from.x;
  const std::int64_t dy = std::int64_t{to.y} - from.y;
  const auto magnitude = static_cast<std::uint64_t>(dx < 0 ? -dx : dx);
  const auto scaled = static_cast<std::int64_t>((magnitude * fraction) >> 32);
  return TiAtan2(static_cast<std::int32_t>(dy), static_cast<std::int32_t>(dx < 0 ? -scaled : scaled));
}

std::int32_t JudgeJunction(const JunctionRules& rules, const JunctionRequest& request, const JunctionArrival& arrival,
                           const Junction& junction, const JunctionServices& services, RmfConnection* out,
                           std::int32_t* pendingFlag) {
  if (pendingFlag != nullptr) *pendingFlag = 0;
  if (out == nullptr || rules.turnCosts == nullptr) return kRmfBadArgument;
  if (junction.candidateCount < 0 || junction.candidateCount > kRmfMaxCandidates) return kRmfMalformed;
  // About 8 KB of working state, with the members of a group 14 KB more:
  // less than an attribute set, which the profile questions hold anyway.
  Judge judge{rules, request, arrival, junction, services};
  const std::int32_t arrived = judge.Arrival();
  if (arrived < 0) return arrived;
  const std::int32_t enumerated = judge.Enumerate();
  if (enumerated < 0) return enumerated;
  bool wide = false;
  bool suspectSingle = false;
  if (judge.GroupedJunction(&wide, &suspectSingle)) return judge.Grouped(wide, suspectSingle, out, pendingFlag);
  return judge.Plain(out, pendingFlag);
}

}  // namespace rmf::detail
