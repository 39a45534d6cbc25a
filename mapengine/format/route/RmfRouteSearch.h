// The route search: a bidirectional, weighted best-first search between a
// set of origin references and a set of destination references, each a
// stretch of a feature with a position on it and a direction of travel. A
// forward search grows from the origins and a backward search from the
// destinations, each with an open set ordered by cost plus weighted
// estimate and a hash table of the nodes it has seen; they meet on a node
// both have reached. Each direction moves up to higher road classes as it
// gets far from its endpoints. Memory comes from a node pool bounded by the
// route's node memory limit; once the pool is full the search reclaims its
// least promising nodes instead of failing. The cancel flag is polled
// before every expansion and the progress byte written as it goes.
//
// Positions of the reference lists: an origin's fraction is the share of its
// stretch that is travelled, from its point to its to vertex; a
// destination's the share from its from vertex to its point (1024 = the
// whole stretch). The result in the route runs from the origin's point to
// the destination's: its first entry is the origin reference as given, its
// last the destination reference as given, and every entry between them a
// whole piece between two nodes of a part.
//
// Time-dependent mode (kRmfRouteModeTimeDependent): stretches whose cost
// depends on the time of travel are priced by the forward search for the
// time it reaches them, while the backward search cannot know that time.
// A node then keeps up to three incoming links, cheapest first, and every
// meeting is validated by a local search over the backward half's links,
// with every time-dependent stretch priced again for the time the traveller
// really enters it; a meeting with no valid combination is rejected, and
// the validated cost counts for the route. The search's node pool keeps
// seven eighths of the route's node memory limit, the validation the rest.
#pragma once

#include <cstdint>

#include "mapengine/format/RmfExport.h"
#include "mapengine/format/RmfResult.h"
#include "mapengine/format/RmfTypes.h"
#include "mapengine/format/base/TiBti.h"
#include "mapengine/format/base/TiTypes.h"
#include "mapengine/format/route/RmfNodeConnections.h"

struct RmfRoute;
struct RmfFeature;

// The search was stopped through the route's cancel flag.
inline constexpr std::int32_t kRmfRouteCancelled = -1;
// Time-dependent mode: an origin's start and a destination's start both had
// their cost recomputed for the time of travel, and neither stayed
// time-dependent; the search does not run.
inline constexpr std::int32_t kRmfRouteTimedStartsSettled = -31;

// Buckets of a node hash table.
inline constexpr std::uint32_t kRmfSearchBuckets = 12289;
// Node pool of a search: first chunk and later chunks, bytes.
inline constexpr std::int32_t kRmfSearchPoolInitial = 0x1D000;
inline constexpr std::int32_t kRmfSearchPoolGrowth = 1160;
// Node pool of the local search that validates a meeting in time-dependent
// mode; its maximum is an eighth of the route's node memory limit (the
// search's own pool keeps the other seven eighths).
inline constexpr std::int32_t kRmfMeetPoolInitial = 49152;
inline constexpr std::int32_t kRmfMeetPoolGrowth = 480;
// Incoming links a node keeps in time-dependent mode (one otherwise).
inline constexpr std::int32_t kRmfSearchMaxLinks = 3;

struct RmfSearchNode;

// A link from a node to the node it was reached from (its parent; null for
// a start node), with the stretch between them: it runs, in the direction
// of travel, from the entry (feature, second id word, part, vertex,
// direction) to the child (forward search) or to the parent (backward
// search).
struct RmfSearchLink {
  RmfSearchNode* parent;
  std::int32_t cost;  // of the step
  std::int32_t time;
  std::int32_t total;     // the node's cost through this link
  std::uint32_t length;   // of the stretch, map units
  std::uint32_t featureId;
  std::uint32_t secondId;
  std::uint32_t packed;  // kRmfNodeRef*
  std::uint32_t flags;   // kRmfLink*
  std::int32_t endpoint;  // start links: index of the origin or destination; else -1
};

inline constexpr std::uint32_t kRmfLinkSectorShift = 5;  // bits 5-8: sector of the turn into the stretch
inline constexpr std::uint32_t kRmfLinkTimed = 0x400;    // the stretch's cost depends on the time of travel
// Link flags. An allowed end lets a backward node marked kRmfSearchNeedsEnd
// through the pick; a carried level (bits 0-2, marked by bit 3) is the
// level the node is expanded at instead of its direction's. Both come from
// the second walk word of the expansion record, which only stretches of
// route data fill: stretches walked on map features leave it 0.
inline constexpr std::uint32_t kRmfLinkLevelMask = 0x7;
inline constexpr std::uint32_t kRmfLinkCarriesLevel = 0x8;
inline constexpr std::uint32_t kRmfLinkAllowedEnd = 0x4000;
inline constexpr std::uint32_t kRmfLinkRestricted = 0x800000;

// Places `link` among a node's incoming links (kRmfSearchMaxLinks entries,
// filled from the front, cheapest total first). A link from a parent that
// is already there replaces that one when it is cheaper and is dropped
// otherwise; with every place taken, a link not cheaper than the dearest is
// dropped, and a cheaper one pushes the dearest out. Returns the index it
// took, or -1 when it is dropped; *evicted (may be null) gets the link that
// left the list, or null.
RMF_API_NODISCARD std::int32_t RmfSearchPlaceLink(RmfSearchLink** links, RmfSearchLink* link,
                                                  RmfSearchLink** evicted);

// Node flags.
inline constexpr std::uint32_t kRmfSearchInHash = 0x1;
inline constexpr std::uint32_t kRmfSearchInOpen = 0x2;
inline constexpr std::uint32_t kRmfSearchClosed = 0x4;
inline constexpr std::uint32_t kRmfSearchMeeting = 0x8;
inline constexpr std::uint32_t kRmfSearchRestricted = 0x10;
inline constexpr std::uint32_t kRmfSearchBackward = 0x20;
inline constexpr std::uint32_t kRmfSearchChildShift = 6;  // bits 6-13: links naming it as parent, saturating
inline constexpr std::uint32_t kRmfSearchChildMask = 0x3FC0;
inline constexpr std::uint32_t kRmfSearchInReclaim = 0x4000;
inline constexpr std::uint32_t kRmfSearchBusy = 0x8000;

// Expansion word bits. kRmfSearchNeedsEnd and kRmfSearchTakeAtOnce come
// from the first walk word of the expansion record (route-data stretches
// only, as the link flags above); kRmfSearchWalkedStart is the search's own.
inline constexpr std::uint32_t kRmfSearchNeedsEnd = 0x1;     // backward: passes only when its link allows an end
inline constexpr std::uint32_t kRmfSearchTakeAtOnce = 0x2;   // taken without the level and cost checks
inline constexpr std::uint32_t kRmfSearchWalkedStart = 0x4;  // a destination's start: its stretch is paid for

// Packed word: part, vertex and direction as kRmfNodeRef*, bits 28-30 the
// road class, bit 31 route data.
inline constexpr std::uint32_t kRmfSearchKeyMask = 0x0FFFFFFF;
inline constexpr std::uint32_t kRmfSearchClassShift = 28;

struct RmfSearchNode {
  TiBtiNode tree;  // the open set's links
  RmfSearchNode* hashNext;
  std::uint32_t featureId;
  std::uint16_t secondLow;   // source
  std::uint16_t secondHigh;  // second id
  std::uint32_t packed;
  std::uint32_t expansion;
  std::uint32_t identity[2];
  RmfPendingItem* restrictions;
  std::int32_t key;  // cost + weighted estimate
  std::int32_t estimate;
  std::int32_t cost;
  std::int32_t time;
  RmfSearchLink* links[kRmfSearchMaxLinks];  // cheapest first; only [0] outside time-dependent mode
  std::uint32_t flags;  // kRmfSearch*
  RmfSearchNode* reclaimNext;
  TiPoint point;  // the junction it stands at
};

// The open sets' order: key, feature id, source, second id, part, vertex,
// direction, restriction list, address.
RMF_API_NODISCARD std::int32_t RmfNodeCompare(const void* key, const void* node, void* context, std::int32_t mode);

// The bucket of a node in a hash table of kRmfSearchBuckets.
RMF_API_NODISCARD std::uint32_t RmfSearchBucket(std::uint32_t featureId, std::uint16_t low, std::uint16_t high,
                                                std::uint32_t packed);

// The length along `part` of the slot's record from vertex position `from`
// to `to` (either way): the sum of TiDistance between consecutive nodes
// with `exact` set, else the estimate of the distance coefficients of the
// mean latitude. -1 when the walk does not come out on `to`.
RMF_API_NODISCARD std::int64_t RmfFeatureStretchLength(RmfFeature* slot, std::int32_t part, std::int32_t from,
                                                       std::int32_t to, std::int32_t exact);

// Searches the route (see the file comment): the number of result entries,
// left in the route (RmfRouteRetrieve); 0 when there is no route;
// kRmfRouteCancelled (-1); kRmfNoMemory (-3); kRmfBadReference (-13) for a
// reference that names nothing or a fraction above 1024; kRmfCostOverflow
// (-15) when a cost does not fit at the route's cost shift;
// kRmfProfileMissing (-31) without a routing profile or when no origin or no
// destination may be travelled, and kRmfRouteTimedStartsSettled (-31, see
// there) in time-dependent mode; kRmfMalformed (-128) for an inconsistency,
// counted as an internal error; kRmfBadArgument (-2). On failure the route is
// reset (no result) and nothing of the search is left; the progress byte is
// left where it was.
RMF_API_NODISCARD std::int32_t RmfRouteSearch(RmfRoute* route, const RmfFeatureRef* origins, std::int32_t originCount,
                                              const RmfFeatureRef* destinations, std::int32_t destinationCount,
                                              std::int32_t progressSpan);

// Finds the route: searches, and after a cost overflow searches again with
// the cost shift raised by 4, up to the route's number of tries in all; the
// raised shift stays in the route. The result of the last search;
// kRmfBadArgument (-2) for a null pointer or a count below 1; kRmfMalformed
// (-128) for a cost shift out of range; 0 when the route has no tries.
RMF_API_NODISCARD std::int32_t RmfRouteFind(RmfRoute* route, const RmfFeatureRef* origins, std::int32_t originCount,
                                            const RmfFeatureRef* destinations, std::int32_t destinationCount);
