// The map engine's numeric toolbox: conversions, distances, bearings,
// nearness, projection onto a segment, and thin operations over the
// map-format library.
#include "mapengine/object/Geometry.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>

#include "mapengine/format/features/RmfFeatureAttr.h"
#include "mapengine/format/features/RmfQuery.h"
#include "platform/os/text.h"

const LatitudeBandScale LatitudeBandScales[kLatitudeBands] = {
    {36.28, 36.39}, {36.29, 35.97}, {36.30, 35.29}, {36.30, 35.29}, {36.35, 33.12}, {36.37, 31.66},
    {36.40, 29.95}, {36.43, 28.02}, {36.46, 25.87}, {36.49, 23.52}, {36.53, 21.00}, {36.55, 18.31},
    {36.58, 15.48}, {36.60, 12.53}, {36.62, 9.48},  {36.64, 6.36},  {36.64, 3.19},  {36.64, 3.19},
};

namespace {

constexpr double kEarthRadiusMiles = 3963.1;
constexpr double kFeetPerMile = 5280.0;
constexpr double kMetersPerMile = 1609.344;
// The degrees-per-radian factor the bearings have always used; kept so that
// bearings near a sector edge come out as they always did.
constexpr double kBearingDegreesPerRadian = 57.2957795786;

// Truncated toward zero into the i32 range: saturating at its ends, 0 for a
// value that is not a number.
std::int32_t TruncateToI32(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
  if (value <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value);
}

// The local-feet angle counter-clockwise from east between two points; false
// when a point is refused.
bool LocalAngle(double lat1, double lon1, double lat2, double lon2, double* angle) {
  double n1 = 0, e1 = 0, n2 = 0, e2 = 0;
  if (DegreesToLocalFeet(lat1, lon1, &n1, &e1) < 0 || DegreesToLocalFeet(lat2, lon2, &n2, &e2) < 0) return false;
  *angle = std::atan2(n2 - n1, e2 - e1) * kBearingDegreesPerRadian;
  return true;
}

// The nearest point of segment a - b to a foot on its line: the foot when it
// lies within the segment (both ends no farther from it than from each other,
// in whole feet), else the nearer end.
DegreePoint ClampFootToSegment(DegreePoint a, DegreePoint b, DegreePoint foot) {
  const std::int32_t dAB = DistanceFeet(a.longitude, a.latitude, b.longitude, b.latitude);
  const std::int32_t dFA = DistanceFeet(foot.longitude, foot.latitude, a.longitude, a.latitude);
  const std::int32_t dFB = DistanceFeet(foot.longitude, foot.latitude, b.longitude, b.latitude);
  if (dFA <= dAB && dFB <= dAB) return foot;
  return dFA < dFB ? a : b;
}

// The nearest point of the segment to p, in map units.
TiPoint NearestPointOfSegment(TiPoint p, TiPoint a, TiPoint b) {
  const double t = SegmentParameter(p, a, b);
  if (t <= 0) return a;
  if (t >= 1) return b;
  return ProjectMapPointOntoSegment(a, b, p, false);
}

bool IsFinite(DegreePoint p) { return std::isfinite(p.longitude) && std::isfinite(p.latitude); }

}  // namespace

// ---- conversions ---------------------------------------------------------------

TiPoint DegreesToMapUnits(double latitude, double longitude) {
  return TiPoint{TiDegreesToUnits(longitude), TiDegreesToUnits(latitude)};
}

TiPoint LonLatToMapUnits(double longitude, double latitude) { return DegreesToMapUnits(latitude, longitude); }

DegreePoint MapUnitsToDegrees(std::int32_t x, std::int32_t y) {
  return DegreePoint{x * kTiDegreesPerUnit, y * kTiDegreesPerUnit};
}

int DegreesToLocalFeet(double latitude, double longitude, double* north, double* east) {
  *north = 0;
  *east = 0;
  if (!std::isfinite(latitude) || !std::isfinite(longitude)) return -1;
  const double magnitude = std::fabs(latitude);
  // |trunc(latitude)| / 5 with truncation; a pole (or beyond) keeps the last
  // band, whose scales hold for the last 10 degrees.
  const int band = magnitude < 90.0 ? static_cast<int>(magnitude) / 5 : kLatitudeBands - 1;
  *north = latitude * LatitudeBandScales[band].latitude * 10000.0;
  *east = longitude * LatitudeBandScales[band].longitude * 10000.0;
  return band;
}

// ---- distances -------------------------------------------------------------------

double DistanceMiles(double lon1, double lat1, double lon2, double lat2) {
  lon1 *= kTiRadiansPerDegree;
  lat1 *= kTiRadiansPerDegree;
  lon2 *= kTiRadiansPerDegree;
  lat2 *= kTiRadiansPerDegree;
  if (lat1 == lat2 && lon1 == lon2) return 0.0;
  double k = std::cos(lat1) * std::cos(lon1) * std::cos(lat2) * std::cos(lon2) +
             std::cos(lat1) * std::sin(lon1) * std::cos(lat2) * std::sin(lon2) + std::sin(lat1) * std::sin(lat2);
  if (k >= 1.0) return 0.0;
  if (k < -1.0) k = -1.0;
  return std::acos(k) * kEarthRadiusMiles;
}

double DistanceFeetExact(double lon1, double lat1, double lon2, double lat2) {
  return DistanceMiles(lon1, lat1, lon2, lat2) * kFeetPerMile + 0.5;
}

std::int32_t DistanceFeet(double lon1, double lat1, double lon2, double lat2) {
  return TruncateToI32(DistanceFeetExact(lon1, lat1, lon2, lat2));
}

double DistanceMeters(double lon1, double lat1, double lon2, double lat2) {
  return DistanceMiles(lon1, lat1, lon2, lat2) * kMetersPerMile;
}

std::int32_t DistanceFeetBetweenMapPoints(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) {
  const DegreePoint a = MapUnitsToDegrees(x1, y1);
  const DegreePoint b = MapUnitsToDegrees(x2, y2);
  return DistanceFeet(a.longitude, a.latitude, b.longitude, b.latitude);
}

double DistanceFeetBetweenMapPointsExact(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) {
  const DegreePoint a = MapUnitsToDegrees(x1, y1);
  const DegreePoint b = MapUnitsToDegrees(x2, y2);
  return DistanceFeetExact(a.longitude, a.latitude, b.longitude, b.latitude);
}

double DistanceMetersBetweenMapPoints(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) {
  const DegreePoint a = MapUnitsToDegrees(x1, y1);
  const DegreePoint b = MapUnitsToDegrees(x2, y2);
  return DistanceMeters(a.longitude, a.latitude, b.longitude, b.latitude);
}

// ---- bearings -------------------------------------------------------------------

std::int32_t BearingDegrees(double lat1, double lon1, double lat2, double lon2) {
  double a = 0;
  if (!LocalAngle(lat1, lon1, lat2, lon2, &a)) return -1;
  // atan2 keeps a within -180..180, so 450 - A is positive and the
  // remainder lies in 0..359.
  const std::int32_t whole = static_cast<std::int32_t>(a);
  return (450 - whole) % 360;
}

double BearingDegreesExact(double lat1, double lon1, double lat2, double lon2) {
  double a = 0;
  if (!LocalAngle(lat1, lon1, lat2, lon2, &a)) return -1;
  double b = 90.0 - a;
  if (b < 0) b += 360.0;
  if (b > 360.0) b -= 360.0;
  return b;
}

std::int32_t BearingDegreesLonLat(double lon1, double lat1, double lon2, double lat2) {
  return BearingDegrees(lat1, lon1, lat2, lon2);
}

std::int32_t BearingBetweenMapPoints(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) {
  const DegreePoint a = MapUnitsToDegrees(x1, y1);
  const DegreePoint b = MapUnitsToDegrees(x2, y2);
  return BearingDegrees(a.latitude, a.longitude, b.latitude, b.longitude);
}

double BearingBetweenMapPointsExact(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) {
  const DegreePoint a = MapUnitsToDegrees(x1, y1);
  const DegreePoint b = MapUnitsToDegrees(x2, y2);
  return BearingDegreesExact(a.latitude, a.longitude, b.latitude, b.longitude);
}

// ---- nearness -------------------------------------------------------------------

bool AreMapPointsNear(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) {
  // 64-bit differences: points at opposite ends of the world do not overflow.
  return std::llabs(std::int64_t{y1} - y2) < 2 && std::llabs(std::int64_t{x1} - x2) < 2;
}

bool AreSegmentsSame(TiPoint a1, TiPoint b1, TiPoint a2, TiPoint b2) {
  const auto near = [](TiPoint p, TiPoint q) { return AreMapPointsNear(p.x, p.y, q.x, q.y); };
  return (near(a1, a2) && near(b1, b2)) || (near(a1, b2) && near(b1, a2));
}

bool AreDegreePointsEqual(double lat1, double lon1, double lat2, double lon2) {
  return std::fabs(lat1 - lat2) < 2e-8 && std::fabs(lon1 - lon2) < 2e-8;
}

// ---- projection onto a segment ----------------------------------------------------

DegreePoint ProjectOntoLine(DegreePoint a, DegreePoint b, DegreePoint p, bool unclamped) {
  if (!IsFinite(a) || !IsFinite(b) || !IsFinite(p)) return p;
  DegreePoint foot{};
  double northA = 0, eastA = 0, northB = 0, eastB = 0, northP = 0, eastP = 0;
  DegreesToLocalFeet(a.latitude, a.longitude, &northA, &eastA);
  const int bandB = DegreesToLocalFeet(b.latitude, b.longitude, &northB, &eastB);
  DegreesToLocalFeet(p.latitude, p.longitude, &northP, &eastP);
  // Ends on one meridian (or, across two bands, at one local east) give a
  // vertical line, whose slope would divide by zero.
  if (a.longitude == b.longitude || eastA == eastB) {
    foot = DegreePoint{a.longitude, p.latitude};
  } else if (a.latitude == b.latitude) {
    foot = DegreePoint{p.longitude, a.latitude};
  } else {
    const double m = (northB - northA) / (eastB - eastA);
    const double east = (m * northP + eastP - m * northA + m * m * eastA) / (m * m + 1);
    const double north = northA - m * eastA + m * east;
    foot = DegreePoint{east / LatitudeBandScales[bandB].longitude * 0.0001,
                       north / LatitudeBandScales[bandB].latitude * 0.0001};
  }
  return unclamped ? foot : ClampFootToSegment(a, b, foot);
}

TiPoint ProjectMapPointOntoSegment(TiPoint a, TiPoint b, TiPoint p, bool unclamped) {
  const DegreePoint foot =
      ProjectOntoLine(MapUnitsToDegrees(a.x, a.y), MapUnitsToDegrees(b.x, b.y), MapUnitsToDegrees(p.x, p.y), unclamped);
  return LonLatToMapUnits(foot.longitude, foot.latitude);
}

double SegmentParameter(TiPoint p, TiPoint a, TiPoint b) {
  const std::int32_t dAB = DistanceFeetBetweenMapPoints(a.x, a.y, b.x, b.y);
  if (dAB == 0) return 0.0;
  const TiPoint foot = ProjectMapPointOntoSegment(a, b, p, false);
  const std::int32_t dAF = DistanceFeetBetweenMapPoints(a.x, a.y, foot.x, foot.y);
  const std::int32_t dBF = DistanceFeetBetweenMapPoints(b.x, b.y, foot.x, foot.y);
  double t = static_cast<double>(dAF) / dAB;
  if (dBF > dAB && dBF > dAF) t = -t;
  return t;
}

std::int32_t DistanceFeetToSegment(TiPoint p, TiPoint a, TiPoint b) {
  const TiPoint q = NearestPointOfSegment(p, a, b);
  return DistanceFeetBetweenMapPoints(p.x, p.y, q.x, q.y);
}

std::int32_t BearingToSegment(TiPoint p, TiPoint a, TiPoint b) {
  const TiPoint q = NearestPointOfSegment(p, a, b);
  return BearingBetweenMapPoints(p.x, p.y, q.x, q.y);
}

// ---- over the map-format library --------------------------------------------------

std::int32_t GetFeaturePointsCapped(RmfReader* reader, RmfFeatureRef reference, TiPoint* points) {
  TiPoint* library = nullptr;
  const std::int32_t count = RmfFeatureRefPoints(reader, reference, &library);
  if (count < 1 || library == nullptr) return count < 1 ? count : 0;
  const std::int32_t copied = count < kMaxFeaturePoints ? count : kMaxFeaturePoints;
  std::memcpy(points, library, sizeof(TiPoint) * static_cast<std::size_t>(copied));
  return copied;
}

bool HasAttributeCodePair(const char* code, char second, char third) {
  if (code == nullptr) return false;
  // A character is looked at only when the one before it is not the
  // terminator (second and third are never NUL themselves).
  if (second == '\0' || third == '\0') return false;
  return code[0] != '\0' && code[1] == second && code[2] == third;
}

namespace {

// Copies at most capacity - 1 characters of `text` and zero-fills the rest.
template <std::size_t N>
void CopyCut(char (&out)[N], const char* text) {
  std::memset(out, 0, N);
  const std::size_t n = strnlen(text, N - 1);
  std::memcpy(out, text, n);
}

std::string_view TextOf(const char* text, std::size_t capacity) { return std::string_view(text, strnlen(text, capacity)); }

}  // namespace

StreetNameRecord GetStreetNameRecord(RmfReader* reader, RmfFeatureRef reference) {
  StreetNameRecord record{};
  char code[kRmfAttrCodeChars + 1];
  char value[kRmfAttrValueChars + 1];
  char name[kRmfAttrNameChars + 1];
  for (std::int32_t index = 0; RmfFeatureAttribute(reader, reference, index, code, value, name) >= 1; ++index) {
    if (!HasAttributeCodePair(code, '2', 'B')) continue;
    CopyCut(record.code, code);
    CopyCut(record.value, value);
    CopyCut(record.name, name);
    break;
  }
  return record;
}

bool AreStreetNameRecordsEqual(const StreetNameRecord& a, const StreetNameRecord& b) {
  return TextOf(a.code, sizeof a.code) == TextOf(b.code, sizeof b.code) &&
         TextOf(a.value, sizeof a.value) == TextOf(b.value, sizeof b.value) &&
         TextOf(a.name, sizeof a.name) == TextOf(b.name, sizeof b.name);
}

std::u16string GetRouteClassText(RmfReader* reader, RmfFeatureRef reference) {
  char code[kRmfAttrCodeChars + 1];
  char value[kRmfAttrValueChars + 1];
  char name[kRmfAttrNameChars + 1];
  for (std::int32_t index = 0; RmfFeatureAttribute(reader, reference, index, code, value, name) >= 1; ++index) {
    if (HasAttributeCodePair(code, '7', '1')) return platform::Utf8ToUtf16(TextOf(name, sizeof name));
  }
  return {};
}

std::vector<TiPoint> FeaturePoints(RmfReader* reader, const RmfFeatureRef& reference) {
  std::vector<TiPoint> points(kMaxFeaturePoints);
  const std::int32_t n = GetFeaturePointsCapped(reader, reference, points.data());
  points.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return points;
}

RmfFeatureRef WholeFeatureRef(RmfReader* reader, const RmfFeatureRef& reference) {
  RmfFeatureRef whole{};
  return RmfFeatureRefWhole(reader, reference, &whole) == 1 ? whole : reference;
}

std::vector<RmfFeatureRef> SplitFeatureRef(RmfReader* reader, const RmfFeatureRef& reference) {
  RmfFeatureRef* pieces = nullptr;
  const std::int32_t n = RmfFeatureRefSplit(reader, reference, &pieces);
  if (n < 1 || pieces == nullptr) return {};
  return std::vector<RmfFeatureRef>(pieces, pieces + n);
}

RmfFeatureRef NearestPiece(RmfReader* reader, const RmfFeatureRef& reference, TiPoint point) {
  RmfFeatureRef nearest = reference;
  const std::vector<RmfFeatureRef> pieces = SplitFeatureRef(reader, reference);
  if (pieces.size() < 2) return reference;
  std::int32_t best = -1;
  TiPoint ends[kMaxFeaturePoints];
  for (const RmfFeatureRef& piece : pieces) {
    if (GetFeaturePointsCapped(reader, piece, ends) < 2) continue;
    const std::int32_t d = DistanceFeetToSegment(point, ends[0], ends[1]);
    if (best < 0 || d < best) {
      best = d;
      nearest = piece;
    }
  }
  return nearest;
}

bool AreFeatureRefsEqual(const RmfFeatureRef& a, const RmfFeatureRef& b) {
  return a.featureId == b.featureId && a.source == b.source && a.secondId == b.secondId && a.part == b.part &&
         a.fromVertex == b.fromVertex && a.toVertex == b.toVertex && a.position == b.position;
}

int AddUniqueFeatureRef(FeatureRefList& list, const RmfFeatureRef& reference) {
  for (const RmfFeatureRef& listed : list.m_Refs) {
    if (AreFeatureRefsEqual(listed, reference)) return kFeatureRefAlreadyListed;
  }
  if (list.IsFull()) return kFeatureRefListFull;
  list.m_Refs.push_back(reference);
  return kFeatureRefAdded;
}

void SetStreetClassQuery(RmfReader* reader, const char* classes) {
  RmfQuerySetClassFilter(reader, 'R', classes);
  RmfQueryStart(reader);
}

TiPoint ProjectPoint(TiPoint point, std::int32_t heading, std::int32_t feet) {
  constexpr double kNauticalMilesPerFoot = 0.00016457883357315844;
  constexpr double kRadiansPerNauticalMile = 0.0002908882086657216;
  const DegreePoint start = MapUnitsToDegrees(point.x, point.y);
  const double lat1 = start.latitude * kTiRadiansPerDegree;
  const double lon1 = start.longitude * kTiRadiansPerDegree;
  const double d = feet * kNauticalMilesPerFoot * kRadiansPerNauticalMile;
  // The course counts west-positive, as the formula's longitudes do.
  const double t = (360 - heading) * kTiRadiansPerDegree;
  const double lat = std::asin(std::sin(lat1) * std::cos(d) + std::cos(lat1) * std::sin(d) * std::cos(t));
  double lon = lon1;
  if (std::cos(lat) != 0) {
    // Wrapped into -pi..pi with a remainder that never goes negative, so a
    // step westwards across the antimeridian (a dividend below 0) lands near
    // +180 rather than beyond -180.
    const double shifted = lon1 - std::asin(std::sin(t) * std::sin(d) / std::cos(lat)) + std::numbers::pi;
    lon = shifted - 2 * std::numbers::pi * std::floor(shifted / (2 * std::numbers::pi)) - std::numbers::pi;
  }
  return DegreesToMapUnits(lat * kTiDegreesPerRadian, lon * kTiDegreesPerRadian);
}
