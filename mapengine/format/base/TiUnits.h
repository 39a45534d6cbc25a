// Map units against degrees and radians: the scale of the map units (2^28 a
// turn, for longitude, latitude and angles alike), the turns the library's
// angle arithmetic reduces by, and the one conversion of a degree value to
// whole map units that the map-format library and the map engine share.
//
// The degree factors are exact: 2^28 / 360 rounds to the same double however
// it is written, and 360 / 2^28 = 45 / 2^25 is a binary fraction.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>

// Map units per degree and degrees per map unit.
inline constexpr double kTiUnitsPerDegree = 268435456.0 / 360.0;
inline constexpr double kTiDegreesPerUnit = 360.0 / 268435456.0;
static_assert(kTiUnitsPerDegree == 745654.0444444445 && kTiDegreesPerUnit == 1.341104507446289e-6);

// Radians per degree and degrees per radian.
inline constexpr double kTiRadiansPerDegree = std::numbers::pi / 180.0;
inline constexpr double kTiDegreesPerRadian = 180.0 / std::numbers::pi;
static_assert(kTiRadiansPerDegree == 0.017453292519943295 && kTiDegreesPerRadian == 57.29577951308232);

// Angles in map units: 90 degrees (the latitude of the north pole), 180
// degrees (the longitude of the date line) and a whole turn, held in 64 bits
// because sums and differences of two angles are reduced by it.
inline constexpr std::int32_t kTiQuarterTurn = 0x4000000;
inline constexpr std::int32_t kTiHalfTurn = 0x8000000;
inline constexpr std::int64_t kTiFullTurn = 0x10000000;

// Degrees as whole map units, rounded half away from zero. Results beyond the
// i32 range saturate at its ends (an infinity too), and a value that is not a
// number gives 0, so no degree value makes the conversion undefined.
inline std::int32_t TiDegreesToUnits(double degrees) {
  if (std::isnan(degrees)) return 0;
  const double units = degrees * kTiUnitsPerDegree;
  const double rounded = degrees >= 0 ? units + 0.5 : units - 0.5;
  if (rounded >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
  if (rounded <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(rounded);
}
