// The map engine's router in the route benchmark: the map-format library's
// route search over the converted street map, with the map engine's street
// filters, one route object per request as the map engine makes them, and
// the route's ends gathered from the two positions as the map engine gathers
// them.
#pragma once

#include <memory>
#include <string>

#include "bench/route/BenchRouter.h"

namespace routebench {

// A router over the street map file; null with *why set when the map does
// not open.
std::unique_ptr<BenchRouter> OpenMapEngineRouter(const std::string& streetMap, std::string* why);

}  // namespace routebench
