// Numbers that come in from callers of the map engine's interface, brought
// into the range the searches work in (or refused) where they enter.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

// A heading as it comes in, reduced to 0..359 (any whole number of turns
// either way); -1, no heading, stays -1.
inline std::int32_t ReduceHeading(std::int64_t heading) {
  if (heading == -1) return -1;
  return static_cast<std::int32_t>((heading % 360 + 360) % 360);
}

// Whether a position in degrees can be searched: both numbers finite.
inline bool IsPositionUsable(double latitude, double longitude) {
  return std::isfinite(latitude) && std::isfinite(longitude);
}
