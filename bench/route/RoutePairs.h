// The origin and destination pairs of the route benchmark: nodes of the
// extract's highway ways that both routers can use for the travel mode,
// drawn with a fixed seed, so that every run and both routers route the
// same pairs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bench/route/BenchRouter.h"

namespace routebench {

struct RoutePair {
  LatLon from;
  LatLon to;
};

// The nodes a travel mode can start or end on, in order of their node ids.
struct ModeNodes {
  std::vector<LatLon> walking;
  std::vector<LatLon> driving;
  std::string error;  // set when the extract could not be read
};

// Reads the extract with libosmium (any format it reads) and keeps the
// positions of the nodes of the ways both routers admit: for walking, the
// highway classes the converter writes as streets or walkways and the peer
// router's stock tagging opens to pedestrians (no motorways or trunk
// roads), unless foot or general access is denied; for driving, the classes
// from motorways down to service roads (no tracks, no pedestrian zones),
// unless motor vehicle or general access is denied.
ModeNodes ReadModeNodes(const std::string& extract);

// `count` pairs of two different nodes drawn from `nodes` with the seed;
// none when there are fewer than two nodes.
std::vector<RoutePair> DrawPairs(const std::vector<LatLon>& nodes, std::size_t count, std::uint32_t seed);

// A hash of the pairs' positions, printed so that two runs can be seen to
// have routed the same pairs.
std::uint64_t PairsHash(const std::vector<RoutePair>& pairs);

}  // namespace routebench
