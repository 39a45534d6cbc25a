// The roads that meet at one end of a feature reference, each as a directed
// reference with its heading. The map engine steps from junction to junction
// with it in virtual exploration and finds the connections of ramps. It runs
// on a route object so that it sees the same routing profile, turn costs and
// per-tile routing tables as the route search, and it lists the ways out of
// the junction that RmfRouteNodeConnections enumerates, every verdict kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "mapengine/format/RmfExport.h"
#include "mapengine/format/RmfResult.h"
#include "mapengine/format/RmfTypes.h"

struct RmfRoute;

// One road at the junction. The first six fields are laid out as an
// RmfFeatureRef (RmfJunctionReference gives it) that the feature functions
// and the route search take as it is.
struct RmfJunction {
  std::uint32_t featureId;
  std::uint32_t secondId;  // source in the low half, second id in the high half (RmfFeatureRef word 1)
  std::uint16_t part;
  std::uint16_t startVertex;
  std::uint16_t endVertex;
  std::uint16_t fraction;  // always 1024: the whole stretch
  // Of the road at the junction toward its next vertex, leaving the junction
  // (end flag set) or turned round to arrive there (end flag clear): map
  // heading units, 2^28 per turn, 0 east, counter-clockwise, in
  // (-2^27, 2^27]; the longitude difference scaled by the cosine of the
  // junction's latitude.
  std::int32_t heading;
  std::uint8_t verdict;  // kRmfVerdict* (route/RmfNodeConnections.h)
  std::int8_t roadClass;  // of the road in the direction of this reference; negative: closed that way
  std::uint8_t padding[2];  // written 0, so that every byte of a record is defined
};
static_assert(sizeof(RmfJunction) == 24, "junction records are 24 bytes");
static_assert(offsetof(RmfJunction, heading) == sizeof(RmfFeatureRef), "a junction record starts with a reference");

inline RmfFeatureRef RmfJunctionReference(const RmfJunction& junction) {
  RmfFeatureRef reference;
  std::memcpy(&reference, &junction, sizeof reference);
  return reference;
}

// Reach of the far ends: the next node of each road (kRmfReachNextNode),
// the next junction at most as far as the first vertex outside a box of this
// half-height around the junction (1 .. kRmfReachBoxMax map units; the half
// width is the reach divided by the cosine of the latitude, the whole
// world's width where that exceeds 2^28), or, for any other value (the map
// engine passes -1), the next junction wherever it lies.
inline constexpr std::int32_t kRmfReachNextNode = 0;
inline constexpr std::int32_t kRmfReachBoxMax = 1 << 27;

// Lists the roads at the junction at one end of `reference` (its feature,
// part, from and to vertices): the to vertex when `endFlag` is non-zero, the
// from vertex when it is 0.
//
// With the end flag set every record points away from the junction (start
// vertex at the junction, end vertex along the road, heading leaving it);
// clear, every record points toward it (start vertex along the road, end
// vertex at the junction, heading arriving). A road through the junction
// gives a record for each way along it, and the reference's own road is
// among them. Records are ordered by feature id, source, second id, part,
// vertex, then travel direction (-1 before +1); the far vertex is set by
// `reach`. `useTileTable` reads the junction from the per-tile routing
// tables (as the route search does) rather than the records themselves.
// The map engine calls it with end flag 1, capacity 25, tile tables and
// reach -1.
//
// Route objects of this system carry no route data, so every end of a road
// is listed as a junction (the value 2 of a router with route data, for an
// end that is no node of its road graph, never comes).
//
// Writes the first min(count, capacity) records and returns the count, which
// may exceed the capacity (capacity 0 only counts). kRmfBadArgument (-2) for
// a bad route, a null reference, a negative capacity, a null array with a
// capacity above 0, or a feature that cannot be fetched; kRmfBadReference
// (-13) for a part or vertex outside the feature, or when the reference's
// direction is closed on its feature; kRmfMalformed (-128), counted as an
// internal error, for a vertex above 32767, no connection at the junction,
// a connection listed twice the same way, or a far vertex that cannot be
// found; the codes of RmfRouteInit, the routing profile and the enumeration
// are passed through.
RMF_API_NODISCARD std::int32_t RmfRouteFeatConnect(RmfRoute* route, const RmfFeatureRef* reference,
                                                   std::int32_t endFlag, RmfJunction* records, std::int32_t capacity,
                                                   std::int32_t useTileTable, std::int32_t reach);
