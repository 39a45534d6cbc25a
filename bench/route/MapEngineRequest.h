// The map engine's whole route request in the route benchmark: a map engine
// object over the street map, asked through IMap::FindWalkingRoute or
// FindDrivingRoute with the preferences a plain request has, timed from the
// two positions to the finished array of WayPoints (the route thread, the
// search and the spoken steps). The length is the sum of the steps'
// distances.
#pragma once

#include <memory>
#include <string>

#include "bench/route/BenchRouter.h"

namespace routebench {

// A router over the street map file with the language library for the
// steps' names; null with *why set when either does not open.
std::unique_ptr<BenchRouter> OpenMapEngineRequest(const std::string& streetMap, const std::string& languageLibrary,
                                                  std::string* why);

}  // namespace routebench
