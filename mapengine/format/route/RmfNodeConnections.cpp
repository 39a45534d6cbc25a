// The junction connections of the router: the time request of profile
// questions. The verdicts themselves are judged in RmfJunctionJudge.cpp.
#include "mapengine/format/route/RmfNodeConnections.h"

namespace {

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
