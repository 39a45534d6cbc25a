// The street and the area feature near a position, and the text pieces built
// from them for the location answers: street address, city, area, state,
// postal code, country, number of lanes and the streets at a point.
//
// The feature searches widen their radius by doubling from a few feet, so a
// point on a street is usually answered by one or two searches of the map
// reader. Every search sets the near-point class filter of the reader first;
// the filters are texts of class digits ("567" streets and area-bearing
// features, "4567" with the category 4 roads, "2345" area features).
// Distances are in feet, points in map units.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mapengine/format/RmfTypes.h"
#include "mapengine/format/base/TiTypes.h"

class CMap;
struct RmfReader;

// Features one near-point search gives at most, and the largest radius of the
// widening search (three miles).
inline constexpr std::int32_t kNearFeaturesLimit = 15;
inline constexpr std::int32_t kNearSearchLargestFeet = 15840;
// Features the heading search asks for ahead and behind each.
inline constexpr std::int32_t kHeadingFeaturesEachWay = 7;
// The heading search widens up to this distance before it falls back to the
// search without a heading.
inline constexpr double kHeadingSearchLargestMetres = 91.44;

// Language strings of the location texts.
inline constexpr unsigned kStringAnd = 23094;      // joins street names
inline constexpr unsigned kStringCounty = 23099;   // follows a county name
inline constexpr unsigned kStringBorough = 23103;  // follows a borough name

// Feet to map units of the near-point search, rounded half away from zero.
std::int32_t NearSearchRadius(std::int32_t feet);

// The features of the classes near `point`: radius `startFeet` (1 when 0),
// doubled while it stays within `largestFeet`; the first radius that finds
// any gives them (at most min(limit, 15)), written to `list`. Returns their
// number, 0 when none is found or the search fails.
std::int32_t GetNearbyCrossStreetFeatures(RmfReader* reader, TiPoint point, std::int32_t startFeet,
                                          std::int32_t largestFeet, std::int32_t limit,
                                          std::vector<RmfFeatureRef>* list, const char* classes);

// The street the user is on with the heading: the feature near the point in
// the heading (CMap::GetNearestFeatureInHeading) unless the nearest street
// of all (classes "567") is the better answer: when it is the same street and
// nearer, or when the one in the heading lies more than 100 feet away and
// more than twice as far as it. All zero when nothing is near.
RmfFeatureRef GetNearestFeatureInOurOrientationNavigable(CMap& map, TiPoint point, std::int32_t heading,
                                                         const char* classes);
