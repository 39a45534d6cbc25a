// The judging half of the junction connections: given the passages gathered
// at a junction and the arrival, the verdict on every way through it. The
// gathering half (RmfNodeConnections.cpp) reads the map and fills a Junction;
// everything here works on that description alone, so it can be driven by
// hand-built junctions as well. Router-internal: not exported.
#pragma once

#include <cstdint>

#include "mapengine/format/base/TiTypes.h"
#include "mapengine/format/features/RmfProfile.h"
#include "mapengine/format/route/RmfNodeConnections.h"

namespace rmf::detail {

// Route mode flags read here.
inline constexpr std::uint32_t kRouteJunctionGroups = 0x2;
inline constexpr std::uint32_t kRouteMirroredSideTest = 0x8;
inline constexpr std::uint32_t kRouteOnePermission = 0x10;

// The route's settings that the verdicts depend on.
struct JunctionRules {
  const std::int32_t* turnCosts = nullptr;  // 16 entries by turn sector; negative forbids the turn
  std::uint32_t costShift = 0;              // for the time request
  std::uint32_t modeFlags = 0;              // kRoute*
  std::uint32_t profileModes[2] = {0, 0};   // zero or not: request bits 0 and 1 of every profile question
  const std::uint32_t (*groupPenalty)[4] = nullptr;  // 4 x 4 pair penalties of junction groups, by group code
};

// The caller's question.
struct JunctionRequest {
  bool reverse = false;             // forward search: the arrival travels into the junction
  bool timeDependent = false;       // questions carry a time request; conditional items may lapse
  bool skip = false;                // keep only allowed connections
  bool acceptRestricted = false;    // restricted-entry marks do not count
  bool arrivingRestricted = false;  // the arriving stretch carries the restricted-entry mark
  bool forbidUTurns = false;
  bool fromRouteData = false;       // the candidates come from route data
  std::int32_t minClass = 0;
  std::int32_t cosine = 0;          // TiSin(latitude of the junction + 2^26)
  const std::int32_t* forwardCost = nullptr;   // the node's cost records for the time request
  const std::int32_t* backwardCost = nullptr;
  const RmfPendingItem* pending = nullptr;     // the node's pending restriction items
};

// Where the next node of a passage lies, each way along its feature.
struct PassageGeometry {
  TiPoint next[2] = {};       // [0] toward lower positions, [1] toward higher
  bool hasNext[2] = {false, false};
};

// The arriving feature at the junction. Its heading is taken toward the next
// node against its direction (reverse set) or along it (reverse clear).
struct JunctionArrival {
  std::uint32_t featureId = 0;
  std::uint32_t secondId = 0;
  std::uint16_t part = 0;
  std::uint16_t vertex = 0;
  std::int8_t direction = 1;  // of travel along it: +1 toward higher positions
  TiPoint point = {};         // the junction point at its vertex
  PassageGeometry geometry;
};

// The passages gathered at a junction.
struct Junction {
  std::int32_t candidateCount = 0;
  RmfCandidate candidates[kRmfMaxCandidates] = {};
  PassageGeometry geometry[kRmfMaxCandidates];
};

// What the judging asks of the gathering half.
struct JunctionServices {
  // The profile's connection answer for the stretch of the arrival
  // (candidate -1) or of a candidate that leaves the junction in `side` (+1
  // toward higher vertex positions), with the request word already set in
  // *answer and the time request (null outside time-dependent mode) to hand
  // over as the question's argument. 0, or the profile's negative code.
  std::int32_t (*answer)(void* context, std::int32_t candidate, std::int32_t side, RmfTimeRequest* time,
                         RmfConnectionAnswer* answer) = nullptr;
  // Gathers the junction again with the given minimum class into *junction:
  // 0, or a negative code. May be null: the junction is then not gathered
  // again.
  std::int32_t (*regather)(void* context, std::int32_t minClass, Junction* junction) = nullptr;
  void* context = nullptr;
};

// The turn sector 0..15 of a turn angle: sector k covers k x 22.5 - 11.25
// degrees (inclusive) to k x 22.5 + 11.25 degrees (exclusive).
std::int32_t TurnSector(std::int32_t angle);

// The answer's item list for a question about travel in this direction.
// The street filters put an item whose code is marked '+' (it applies to
// travel along the vertex order, as a '+' one-way mark does) in the second
// list and one marked '-' in the first; unmarked items go in both. So the
// second list answers travel toward higher positions (request bit 4), the
// first travel toward lower ones (bit 5).
inline std::int32_t ItemList(std::int32_t direction) { return direction > 0 ? 1 : 0; }

// The heading from `from` toward `to`, with the x difference scaled by the
// cosine (a unit fraction, TiSin(latitude + 2^26)) so that it is a true
// heading on the ground.
std::int32_t ScaledHeading(TiPoint from, TiPoint to, std::int32_t cosine);

// Judges the junction: writes the connections to out (room for
// kRmfMaxConnections) and returns their number; sets *pendingFlag (optional)
// when a written connection hands restriction items on to the next
// junction. kRmfMalformed (-128) for an inconsistent description;
// kRmfProfileMissing (-31) for a restriction item of kind 0; the codes of
// the answer and regather services are passed through. Counts no internal
// error: the caller does.
std::int32_t JudgeJunction(const JunctionRules& rules, const JunctionRequest& request, const JunctionArrival& arrival,
                           const Junction& junction, const JunctionServices& services, RmfConnection* out,
                           std::int32_t* pendingFlag);

}  // namespace rmf::detail
