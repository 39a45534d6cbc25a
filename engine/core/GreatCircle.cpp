#include "engine/core/GreatCircle.h"

#include <algorithm>
#include <cmath>

namespace vov {

double GreatCircleDistanceNm(double lat1, double lon1, double lat2, double lon2) {
  const double sinHalfDLat = std::sin((lat2 - lat1) / 2.0);
  const double sinHalfDLon = std::sin((lon2 - lon1) / 2.0);
  double a = sinHalfDLat * sinHalfDLat + std::cos(lat1) * std::cos(lat2) * sinHalfDLon * sinHalfDLon;
  // Rounding lifts a just above 1 for nearly antipodal points, and latitudes
  // beyond the poles can do so by more; asin would then give NaN.
  a = std::clamp(a, 0.0, 1.0);
  return 2.0 * std::asin(std::sqrt(a)) * kEarthRadiusNm;
}

double InitialCourse(double lat1, double lon1, double lat2, double lon2, double d) {
  if (d == 0.0) return 0.0;
  // At a pole every direction is south (north pole) or north (south pole), and
  // the formula below would divide by cos(lat1) = 0.
  if (std::cos(lat1) < 1e-12) return lat1 > 0.0 ? std::numbers::pi : kTwoPi;
  double x = (std::sin(lat2) - std::sin(lat1) * std::cos(d)) / (std::sin(d) * std::cos(lat1));
  // Rounding takes x past +-1 for targets due north or south, and near the
  // antipode sin(d) is tiny.
  x = std::clamp(x, -1.0, 1.0);
  if (std::sin(lon2 - lon1) < 0.0) return std::acos(x);
  return kTwoPi - std::acos(x);
}

int WholeDegreeBearing(double course) {
  if (!(course >= 0.0 && course <= kTwoPi)) return -1;
  return static_cast<int>((kTwoPi - course) * kDegreesPerRadian);
}

}  // namespace vov
