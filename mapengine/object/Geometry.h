// The map engine's numeric toolbox: conversions between the map-format
// library's integer map units (2^28 units a turn; x longitude, y latitude) and
// signed decimal degrees, distances in miles, feet and metres, bearings in
// degrees clockwise from north, nearness tests, the projection of a point onto
// a street segment, and a few thin operations over the library (points of a
// feature reference, its address-range and route-class attributes, the street
// class query, a list of visited feature references). Every function is pure
// or touches only the reader it is given.
//
// Two argument orders for degree pairs occur; each function's names say
// which one it takes. Map points are TiPoint (x, y).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mapengine/format/RmfTypes.h"
#include "mapengine/format/base/TiTypes.h"
#include "mapengine/format/base/TiUnits.h"

// ---- conversions ---------------------------------------------------------------

// A point in degrees, longitude first.
struct DegreePoint {
  double longitude;
  double latitude;
};

// Rounded half away from zero. Values beyond the i32 range saturate, and a
// value that is not a number gives 0, so no degree value can make the
// conversion undefined.
TiPoint DegreesToMapUnits(double latitude, double longitude);
TiPoint LonLatToMapUnits(double longitude, double latitude);
// Not rounded.
DegreePoint MapUnitsToDegrees(std::int32_t x, std::int32_t y);

// Rows of the latitude-band table: one per 5 degrees of |latitude|.
inline constexpr int kLatitudeBands = 18;
// Latitude scale and longitude scale of a band, each in 10 000 feet per degree.
struct LatitudeBandScale {
  double latitude;
  double longitude;
};
extern const LatitudeBandScale LatitudeBandScales[kLatitudeBands];

// A point as local feet (north = latitude x latitude scale x 10 000, east =
// longitude x longitude scale x 10 000) with the scales of the band of its
// latitude, |trunc(latitude)| / 5. Returns the band. A latitude at or beyond
// 90 degrees (which would name a band past the table) takes the last band; a
// latitude or longitude that is not finite is refused: -1, north and east 0.
int DegreesToLocalFeet(double latitude, double longitude, double* north, double* east);

// ---- distances -------------------------------------------------------------------

// Great-circle distance in statute miles on a sphere of 3963.1 miles; exactly
// 0 for equal points. Arguments longitude 1, latitude 1, longitude 2, latitude 2.
double DistanceMiles(double lon1, double lat1, double lon2, double lat2);
// DistanceMiles x 5280 + 0.5.
double DistanceFeetExact(double lon1, double lat1, double lon2, double lat2);
// DistanceFeetExact truncated: the distance rounded to the nearest foot
// (saturating, as the map-unit conversions).
std::int32_t DistanceFeet(double lon1, double lat1, double lon2, double lat2);
// DistanceMiles x 1609.344, not rounded.
double DistanceMeters(double lon1, double lat1, double lon2, double lat2);

std::int32_t DistanceFeetBetweenMapPoints(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2);
inline std::int32_t DistanceFeetBetweenMapPoints(TiPoint a, TiPoint b) {
  return DistanceFeetBetweenMapPoints(a.x, a.y, b.x, b.y);
}
double DistanceFeetBetweenMapPointsExact(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2);
double DistanceMetersBetweenMapPoints(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2);

// ---- bearings -------------------------------------------------------------------

// Degrees clockwise from north, on the local-feet plane of each point's own
// band: 0..359, the angle truncated before it is turned into a bearing; a
// point to itself gives 90. -1 when a point is refused (not finite).
std::int32_t BearingDegrees(double lat1, double lon1, double lat2, double lon2);
// The same without truncation, 0..360; -1 when a point is refused.
double BearingDegreesExact(double lat1, double lon1, double lat2, double lon2);
std::int32_t BearingDegreesLonLat(double lon1, double lat1, double lon2, double lat2);
std::int32_t BearingBetweenMapPoints(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2);
inline std::int32_t BearingBetweenMapPoints(TiPoint from, TiPoint to) {
  return BearingBetweenMapPoints(from.x, from.y, to.x, to.y);
}
double BearingBetweenMapPointsExact(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2);

// ---- nearness -------------------------------------------------------------------

// Less than 2 map units apart on both axes.
bool AreMapPointsNear(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2);
inline bool AreMapPointsNear(TiPoint a, TiPoint b) { return AreMapPointsNear(a.x, a.y, b.x, b.y); }
// The same segment in either direction, ends compared with AreMapPointsNear.
bool AreSegmentsSame(TiPoint a1, TiPoint b1, TiPoint a2, TiPoint b2);
// Less than 2e-8 degree apart on both axes.
bool AreDegreePointsEqual(double lat1, double lon1, double lat2, double lon2);

// ---- projection onto a segment ----------------------------------------------------

// The foot of the perpendicular from p to the line through a and b (on the
// local-feet plane), or, unless `unclamped`, the nearest point of the segment
// (a or b when the foot lies outside it). A segment whose ends share a
// longitude or a latitude is handled exactly. When a point is not finite
// there is no foot and p is returned as given.
DegreePoint ProjectOntoLine(DegreePoint a, DegreePoint b, DegreePoint p, bool unclamped);
// ProjectOntoLine on map points.
TiPoint ProjectMapPointOntoSegment(TiPoint a, TiPoint b, TiPoint p, bool unclamped);
// Where p's projection lies along a -> b as a share of the segment's length in
// whole feet: 0 at a, 1 at b, negative before a; 0 for a segment shorter than
// half a foot.
double SegmentParameter(TiPoint p, TiPoint a, TiPoint b);
// Feet from p to the nearest point of the segment a - b, and the bearing from
// p to that point.
std::int32_t DistanceFeetToSegment(TiPoint p, TiPoint a, TiPoint b);
std::int32_t BearingToSegment(TiPoint p, TiPoint a, TiPoint b);

// The map point reached by walking `feet` from `point` along `heading`
// (degrees clockwise from north) on the great circle; the longitude reached
// stays within -180..180, also across the antimeridian.
TiPoint ProjectPoint(TiPoint point, std::int32_t heading, std::int32_t feet);

// ---- over the map-format library --------------------------------------------------

// Points GetFeaturePointsCapped copies at most.
inline constexpr std::int32_t kMaxFeaturePoints = 250;

// The points of a reference (RmfFeatureRefPoints) copied into `points`, which
// has room for kMaxFeaturePoints: the library's count, at most
// kMaxFeaturePoints; a result below 1 (no points, or the library's negative
// code) is returned as it is and nothing is copied.
std::int32_t GetFeaturePointsCapped(RmfReader* reader, RmfFeatureRef reference, TiPoint* points);
// The same points as a vector: empty when there are none.
std::vector<TiPoint> FeaturePoints(RmfReader* reader, const RmfFeatureRef& reference);

// The address-range attribute of a feature (the first one whose code has '2'
// and 'B' as its second and third characters), each text cut to its capacity
// and NUL-terminated, the rest of each array zero. All empty when the feature
// has none.
struct StreetNameRecord {
  char code[6];
  char value[51];
  char name[251];
};
StreetNameRecord GetStreetNameRecord(RmfReader* reader, RmfFeatureRef reference);
// Code, value and name equal as texts.
bool AreStreetNameRecordsEqual(const StreetNameRecord& a, const StreetNameRecord& b);

// Whether an attribute code has `second` and `third` as its second and third
// characters. A code shorter than that has no such characters: false.
bool HasAttributeCodePair(const char* code, char second, char third);

// The name text of the feature's first route-class attribute (code pair 7-1),
// read as UTF-8; "" when it has none.
std::u16string GetRouteClassText(RmfReader* reader, RmfFeatureRef reference);

// Feature references a walk has visited, up to a fixed capacity.
struct FeatureRefList {
  explicit FeatureRefList(std::int32_t capacity) : m_nCapacity(capacity > 0 ? capacity : 0) {
    m_Refs.reserve(static_cast<std::size_t>(m_nCapacity));
  }
  std::int32_t Count() const { return static_cast<std::int32_t>(m_Refs.size()); }
  bool IsFull() const { return Count() >= m_nCapacity; }

  std::int32_t m_nCapacity;
  std::vector<RmfFeatureRef> m_Refs;
};

// What AddUniqueFeatureRef did.
inline constexpr int kFeatureRefAdded = 0;
inline constexpr int kFeatureRefAlreadyListed = 1;
inline constexpr int kFeatureRefListFull = -1;  // not listed and no room: dropped

// kFeatureRefAlreadyListed when a reference equal in all four words is in the
// list; otherwise appends it (kFeatureRefAdded) or, when the list is full,
// drops it (kFeatureRefListFull), so a walk can tell that it has lost track.
int AddUniqueFeatureRef(FeatureRefList& list, const RmfFeatureRef& reference);
bool AreFeatureRefsEqual(const RmfFeatureRef& a, const RmfFeatureRef& b);

// The whole feature a reference belongs to; the reference itself when the
// library cannot tell it.
RmfFeatureRef WholeFeatureRef(RmfReader* reader, const RmfFeatureRef& reference);
// The single-segment pieces of a reference, copied out of the reader's
// reference array (which the next split overwrites); empty when it cannot be
// split.
std::vector<RmfFeatureRef> SplitFeatureRef(RmfReader* reader, const RmfFeatureRef& reference);
// The single-segment piece of a reference nearest `point`, in the
// reference's direction (the first of equally near ones); the reference
// itself when it cannot be split. A near-point search may hand out a
// reference over two segments or a whole street running on through
// junctions: the piece is the stretch of street the point lies on.
RmfFeatureRef NearestPiece(RmfReader* reader, const RmfFeatureRef& reference, TiPoint point);

// Sets the class filter of the near-point search (category 'R') to `classes`
// (for example "567") and restarts the reader's query.
void SetStreetClassQuery(RmfReader* reader, const char* classes);
