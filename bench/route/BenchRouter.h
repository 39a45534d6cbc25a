// What the route benchmark asks of a router: a route between two positions
// in degrees for walking or driving, with its length, the nodes the search
// expanded and the time it took. The peer router and the router under test
// both answer through it, so that they are timed and compared alike.
#pragma once

#include <cstdint>

namespace routebench {

enum class TravelMode { kWalking, kDriving };

inline const char* ModeName(TravelMode mode) { return mode == TravelMode::kWalking ? "walking" : "driving"; }

struct LatLon {
  double lat = 0;  // degrees
  double lon = 0;
};

struct BenchRoute {
  bool ok = false;              // a route was found
  double metres = 0;            // its length, when ok
  std::int64_t expanded = -1;   // nodes the search expanded; -1 when the router does not tell
  double seconds = 0;           // from the two positions to the finished route (steady clock)
};

// A router loaded and ready. Route is called once per pair from one thread;
// it measures its own time, so that work the harness needs afterwards
// (reading the length from the result) stays out of it. A failure (no road
// near a position, no route) is ok false, never an exception.
struct BenchRouter {
  virtual ~BenchRouter() = default;
  virtual const char* Name() const = 0;
  virtual BenchRoute Route(LatLon from, LatLon to, TravelMode mode) = 0;
};

}  // namespace routebench
