// The ways through one junction of the road graph and the router's verdict on
// each. For a junction reached along one feature the router lists every
// passage of a feature at the junction point (a candidate), and for each
// candidate and each direction along it one connection: the heading of the
// way, the turn angle against the arrival, and whether the turn may be taken.
// Node expansion keeps only the allowed connections (skip mode); the junction
// enumeration keeps every connection with its verdict.
//
// Angles and headings are in map heading units: 2^28 per turn, 2^27 = 180
// degrees, counter-clockwise positive (left turns are positive). A turn angle
// is the heading of travel after the turn minus the heading before it, in
// [-2^27, 2^27); exactly -2^27 is a U-turn.
//
// The work of one call lives in fixed arrays of the call: at most 32 junction
// points, 32 candidates, 80 restriction items per side and 128 connections.
#pragma once

#include <cstdint>

#include "mapengine/format/RmfExport.h"
#include "mapengine/format/RmfResult.h"
#include "mapengine/format/RmfTypes.h"

struct RmfRoute;

// Limits of one call.
inline constexpr std::int32_t kRmfMaxJunctionPoints = 32;
inline constexpr std::int32_t kRmfMaxCandidates = 32;
inline constexpr std::int32_t kRmfMaxConnections = 128;

// Verdicts of a connection; the strongest one found wins.
inline constexpr std::uint8_t kRmfVerdictAllowed = 0;
inline constexpr std::uint8_t kRmfVerdictRestrictedEntry = 1;  // entering needs a restricted arrival
inline constexpr std::uint8_t kRmfVerdictForbiddenTurn = 2;    // turn-cost table, U-turn, turn restriction
inline constexpr std::uint8_t kRmfVerdictOneWay = 3;           // against the feature's one-way direction
inline constexpr std::uint8_t kRmfVerdictExcluded = 4;         // restriction items or junction-group rules

// Connection types: 4 x openness + 1 at the part's first node + 2 at its last.
inline constexpr std::uint8_t kRmfOpenTowardLower = 0;
inline constexpr std::uint8_t kRmfOpenBothWays = 1;
inline constexpr std::uint8_t kRmfOpenTowardHigher = 2;
inline constexpr std::uint8_t kRmfTypeFirstNode = 1;
inline constexpr std::uint8_t kRmfTypeLastNode = 2;
inline constexpr std::int32_t kRmfConnectionTypes = 12;

// Connection flags.
inline constexpr std::uint32_t kRmfConnectionProfileFlag = 0x1;    // the profile's connection flag
inline constexpr std::uint32_t kRmfConnectionTimedArrival = 0x2;   // the arrival's items are time-conditional
inline constexpr std::uint32_t kRmfConnectionTimedCandidate = 0x4; // the candidate's items are time-conditional

// Group heading of a member without a partner, and of every connection of a
// junction that is not handled as a group.
inline constexpr std::int32_t kRmfNoGroupHeading = 0x10000000;

// The route data's entry of a passage. Route objects of this system carry no
// route data, so nothing fills it; it holds the passage's route-data
// reference for a router that has some.
struct RmfRouteDataPassage {
  std::uint32_t reference;
};

// What a candidate and the connection made of it share, in this order.
struct RmfPassage {
  std::uint32_t featureId;
  std::uint32_t secondId;  // source in the low half, second id in the high half (RmfFeatureRef word 1)
  std::uint16_t part;
  std::uint16_t vertex;             // position of the junction in the part's vertex words
  std::uint8_t groupCode[2];        // [0] travel toward lower positions, [1] toward higher; 0..3
  std::int8_t roadClass[2];         // likewise; negative: closed that way
  std::uint8_t restrictedEntry[2];  // likewise; the traversal records' restricted-entry bits
  std::uint8_t routeDataMark;       // 1 for a passage taken from route data
  RmfRouteDataPassage routeData;
};

// One passage of a feature at a junction point.
struct RmfCandidate : RmfPassage {
  std::uint8_t connectionType;   // 0..11, see kRmfOpen* and kRmfType*
  std::uint8_t restrictionMark;  // the profile's connection answer for the passage carries restriction items
  std::int32_t x;                // junction point, map units
  std::int32_t y;
};

// One way out of (forward search) or into (backward search) a junction.
struct RmfConnection : RmfPassage {
  // Heading of the candidate at the junction toward its next node in the
  // travel direction; turned by 2^27 when forwardSearch is 1, so that it is
  // then the heading of travel along the candidate into the junction.
  std::int32_t leavingHeading;
  std::int32_t turnAngle;        // [-2^27, 2^27)
  std::int8_t direction;         // +1 toward higher vertex positions, -1 toward lower
  std::uint8_t forwardSearch;    // 1 when enumerated with the reverse flag clear
  std::uint8_t verdict;          // kRmfVerdict*
  std::uint32_t flags;           // kRmfConnection*
  std::int32_t groupHeading;     // heading difference to the group partner; kRmfNoGroupHeading
  std::uint8_t groupId;          // junction group of the member (grouped junctions only)
  std::uint8_t groupMark;        // 1 for a member open both ways with equal group codes
};

// A restriction item a search node carries over from the junction before:
// the pending list of an expansion, sorted by descending key, then kind.
struct RmfPendingItem {
  std::uint32_t key;
  std::uint8_t kind;
  RmfPendingItem* next;
};

// The time request handed to the routing profile with a question in
// time-dependent mode (five words).
struct RmfTimeRequest {
  std::uint32_t forwardTime;
  std::uint32_t backwardTime;
  std::uint32_t duration;
  std::uint32_t result;
  std::uint32_t flags;  // kRmfTimeRequest*
};
static_assert(sizeof(RmfTimeRequest) == 20);

inline constexpr std::uint32_t kRmfTimeRequestForward = 0x1;
inline constexpr std::uint32_t kRmfTimeRequestBackward = 0x2;
inline constexpr std::uint32_t kRmfTimeRequestDuration = 0x4;
inline constexpr std::uint32_t kRmfTimeRequestResult = 0x8;
inline constexpr std::uint32_t kRmfTimeRequestHigher = 0x10;  // travel toward higher vertex positions

// Fills the time request for a question about travel in `direction` (+1
// toward higher positions): the forward time from the node's forward cost so
// far and the backward time from its backward cost (either may be null, and
// is then not valid), no duration, and `result` (optional, the first word of
// the profile's answer for that direction) as the result word. A cost becomes
// a profile time as (cost << shift) / 1000, or (cost / 1000) << shift when
// the shifted cost would not fit 32 bits; a negative cost counts as 0.
// Returns 1; kRmfBadArgument (-2) for a null request.
RMF_API_NODISCARD std::int32_t RmfRouteTimeRequest(std::uint32_t costShift, const std::int32_t* forwardCost,
                                                   const std::int32_t* backwardCost, std::int32_t direction,
                                                   const std::uint32_t* result, RmfTimeRequest* request);

// The arrival at a junction: the directed reference of a search node (its
// feature, the packed part, vertex, direction and level) and the restriction
// items it carries over from the junction before.
struct RmfArrivalRef {
  std::uint32_t featureId;
  std::uint32_t secondId;  // source in the low half, second id in the high half
  std::uint32_t packed;    // kRmfNodeRef*
  const RmfPendingItem* pending;  // sorted by descending key, then kind; null for none
};

inline constexpr std::uint32_t kRmfNodeRefPartMask = 0x3FFF;   // bits 0-13
inline constexpr std::uint32_t kRmfNodeRefVertexShift = 14;    // bits 14-26
inline constexpr std::uint32_t kRmfNodeRefVertexMask = 0x1FFF;
inline constexpr std::uint32_t kRmfNodeRefHigher = 1u << 27;   // travel toward higher vertex positions
inline constexpr std::uint32_t kRmfNodeRefLevelShift = 28;     // bits 28-30

// The ways through the junction at `vertex` of the stretch arrived along.
//
// The stretch is `fetch` (its feature and part; its direction of travel from
// its from and to vertices) when given, else the arriving reference's. With
// `reverse` set (forward search) the arrival travels along it into the
// junction and the connections lead out; clear (backward search) the search
// goes on along it out of the junction and the connections lead in. The
// passages at the junction point come from the per-tile routing tables of
// the levels of the route's level mask (`useTileTable` set) or from the map's
// records directly; feature parts below `minClass` both ways are left out;
// connectors (group code 3) take in the passages at their other nodes.
// `arrivingRestricted` and `forbidUTurns` come from the arrival's traversal
// record (its restricted-entry mark and a non-zero group code); `skip` keeps
// only allowed connections; `acceptRestricted` lets restricted-entry marks
// pass; `timeDependent` hands a time request made from the two cost records
// (either may be null) to the profile's questions; `cosine` is TiSin of the
// junction's latitude + 2^26.
//
// Route data: route objects of this system carry none, so junctions are
// always read from map features; `fromRouteData` must be 0, `routeDataNode`
// is not read and *routeDataNodeOut (optional) is set to null.
//
// Writes the connections (room for kRmfMaxConnections) and returns their
// number; *pendingFlag (optional) gets 1 when a written connection hands
// restriction items on. kRmfBadArgument (-2) for a bad route or a null
// arrival or output; kRmfProfileMissing (-31) for a restriction item of kind
// 0, a connector open both ways with two different group codes, or no
// profile; kRmfMalformed (-128), counted as an internal error, for any
// inconsistency (a feature or point that cannot be read, more than 32
// junction points or candidates, an arrival missing among the members of a
// junction group); the codes of the profile and the tables are passed on.
RMF_API_NODISCARD std::int32_t RmfRouteNodeConnections(
    RmfRoute* route, std::int32_t fromRouteData, const void* routeDataNode, const RmfArrivalRef* arriving,
    std::int32_t arrivingRestricted, std::int32_t reverse, std::int32_t minClass, std::int32_t timeDependent,
    const std::int32_t* forwardCost, const std::int32_t* backwardCost, std::int32_t skip,
    std::int32_t acceptRestricted, std::int32_t useTileTable, const RmfFeatureRef* fetch, std::int32_t vertex,
    std::int32_t forbidUTurns, std::int32_t cosine, RmfConnection* connections, const void** routeDataNodeOut,
    std::int32_t* pendingFlag);
