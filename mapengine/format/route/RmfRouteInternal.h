// Helpers every file of the router shares: the library's count of internal
// errors (inconsistencies of the router's own state, which end a search with
// kRmfMalformed), the check that a route is alive, and the scaling of a
// length by a cost factor into a cost.
#pragma once

#include <cstdint>

#include "mapengine/format/RmfExport.h"
#include "mapengine/format/RmfResult.h"
#include "mapengine/format/route/RmfRouteRecord.h"

// What RmfScaledCost gives for a cost that does not fit 31 bits; the search
// turns it into kRmfCostOverflow (-15).
inline constexpr std::int32_t kRmfScaledCostOverflow = -1;

// Internal errors counted since the library was loaded (every route, every
// thread).
RMF_API_NODISCARD std::uint32_t RmfInternalErrorCount();

// The cost of `length` at `factor` (per unit of length, scaled by 2^8):
// length x factor shifted right by 8 + shift, in 64 bits;
// kRmfScaledCostOverflow when the product exceeds 0x7FFFFFFF shifted left by
// 8 + shift. Lengths below 2^19 with factors below 2^13 are done in 32 bits.
RMF_API_NODISCARD std::int32_t RmfScaledCost(std::uint32_t length, std::uint32_t factor, std::uint32_t shift);

namespace rmf::detail {

// Counts one internal error and returns kRmfMalformed, so that a failure
// reads `return CountInternalError();`.
std::int32_t CountInternalError();

// A route that may be used: not null and tagged.
inline bool RouteAlive(const RmfRoute* route) { return route != nullptr && route->tag == kRmfRouteTag; }

}  // namespace rmf::detail
