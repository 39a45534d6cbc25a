// Point-of-interest search: the points around a position that match a search
// configuration, found in bands of growing distance among the commercial
// points of the loaded point-of-interest maps and the user's registered
// points, handed to the caller's list nearest first as (database file, key).
//
// Counting scans first find a band width that holds a number of points that
// suits the request (halving a band that holds too many, widening one that
// holds too few); one populating scan then collects exactly that many into a
// list of the database server, which is sorted by distance into the caller's
// list. The distance the search got to goes back to the caller, who passes it
// in again to continue outwards.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "mapengine/format/base/TiUnits.h"
#include "mapengine/format/features/RmfQuery.h"
#include "mapengine/object/CMap.h"
#include "mapengine/object/InputChecks.h"
#include "mapengine/object/Utilities.h"
#include "typelib/DorvantaLib.h"
#include "platform/com/guard.h"
#include "platform/com/owners.h"
#include "platform/os/clock.h"
#include "platform/os/text.h"

namespace {

// Pairs of digits, one a category from 1: the map level of the category's
// points, then their class digit.
constexpr char16_t kPOICategoryCodes[] = u"111213151721222324253233344344525471";
constexpr int kCategories = 18;

// The category of a level digit (row) and class digit (column); 0 where no
// category lies.
struct CategoryTable {
  int byLevelClass[8][8] = {};
  constexpr CategoryTable() {
    for (int c = 1; c <= kCategories; ++c) {
      const int level = kPOICategoryCodes[2 * (c - 1)] - u'0';
      const int klass = kPOICategoryCodes[2 * (c - 1) + 1] - u'0';
      byLevelClass[level][klass] = c;
    }
  }
};
constexpr CategoryTable kPOICategoryByLevelClass;

// The category of a point from the two class characters of its code; 0 for
// characters outside the table.
int CategoryOfCode(char level, char klass) {
  const int l = level - '0';
  const int k = klass - '0';
  if (l < 0 || l > 7 || k < 0 || k > 7) return 0;
  return kPOICategoryByLevelClass.byLevelClass[l][k];
}

// The farthest a search goes: 10,000 miles.
constexpr double kMaxDistanceKm = 16093.44;
// A band grows up to this width, and a scan goes at most this far past its
// start.
constexpr double kMaxBandKm = 500.0;
constexpr double kKmPerFoot = 0.0003048;
constexpr double kFeetPerNauticalMile = 6076.11549;
// Radians of arc per km, for the corners of the query boxes.
constexpr double kRadiansPerKm = 0.0001573130923821135;
// Counts that stop a counting scan, and the count a text search aims at.
constexpr std::int32_t kCountLimit = 1000;
constexpr int kMostHalvings = 10;
constexpr std::int32_t kTooFew = 25;
// A point within this many degrees of the search bearing counts as lying in
// the searched direction (commercial points, user points).
constexpr int kCommercialBearingTolerance = 75;
constexpr int kUserBearingTolerance = 90;

// Seconds from `start` to `now` counted by their minutes and seconds, an
// hour boundary taken as 60 more minutes.
int ElapsedSeconds(const SYSTEMTIME& start, const SYSTEMTIME& now) {
  int minute = now.wMinute;
  int second = now.wSecond;
  if (now.wHour != start.wHour) minute += 60;
  if (minute != start.wMinute) second += 60 * (minute - start.wMinute);
  return second - start.wSecond;
}

SYSTEMTIME Now() {
  SYSTEMTIME now{};
  GetSystemTime(&now);
  return now;
}

// Feet from the centre to a point (degrees), truncated.
std::int32_t DistanceFeetTo(double latitude, double longitude, double pointLatitude, double pointLongitude) {
  const double nm = GreatCircleDistance(latitude * kTiRadiansPerDegree, longitude * kTiRadiansPerDegree,
                                        pointLatitude * kTiRadiansPerDegree, pointLongitude * kTiRadiansPerDegree);
  const double feet = nm * kFeetPerNauticalMile;
  if (!(feet < 2147483647.0)) return 2147483647;
  return static_cast<std::int32_t>(feet);
}

// The course from the centre to a point, whole degrees clockwise from north.
int CourseDegreesTo(double latitude, double longitude, double pointLatitude, double pointLongitude) {
  const double course = GreatCircleCourse(latitude * kTiRadiansPerDegree, longitude * kTiRadiansPerDegree,
                                          pointLatitude * kTiRadiansPerDegree, pointLongitude * kTiRadiansPerDegree);
  return static_cast<int>(course * kTiDegreesPerRadian) % 360;
}

struct Corner {
  double longitude;
  double latitude;
};

// The point `km` from the centre at `bearing` degrees clockwise from north,
// on the sphere.
Corner Destination(double latitude, double longitude, double bearing, double km) {
  const double lat1 = latitude * kTiRadiansPerDegree;
  const double lon1 = longitude * kTiRadiansPerDegree;
  const double d = km * kRadiansPerKm;
  const double b = bearing * kTiRadiansPerDegree;
  const double lat2 = std::asin(std::sin(lat1) * std::cos(d) + std::cos(lat1) * std::sin(d) * std::cos(b));
  const double lon2 =
      lon1 + std::atan2(std::sin(b) * std::sin(d) * std::cos(lat1), std::cos(d) - std::sin(lat1) * std::sin(lat2));
  return Corner{lon2 * kTiDegreesPerRadian, lat2 * kTiDegreesPerRadian};
}

struct Box {
  Corner a;
  Corner b;
};

// The query boxes of a band, in the order they are built (they are scanned
// last first). The first band is one box, the square round the centre; a
// later band is the ring between the squares of its start and end, in four
// boxes, so that the bands tile the plane. With a search bearing the whole
// square or ring is scanned as well and the points are kept by their
// course: a box towards the bearing would leave out points in the direction
// that no later ring covers.
std::vector<Box> BandBoxes(double latitude, double longitude, double start, double end) {
  const auto at = [&](double b, double km) { return Destination(latitude, longitude, b, km); };
  if (start <= 0.0) return {Box{at(45, end), at(225, end)}};
  return {Box{at(45, end), at(315, start)}, Box{at(315, end), at(225, start)}, Box{at(225, end), at(135, start)},
          Box{at(135, end), at(45, start)}};
}

double Clamp(double v, double low, double high) { return std::min(std::max(v, low), high); }

}  // namespace

std::int32_t CMap::ScanOrPopulatePOIs(const POIScan& scan, std::vector<std::int32_t>* distances, double* endDistance,
                                      bool* timeExceeded, bool* stop) {
  RmfReader* reader = m_RdrPOI.get();
  const bool populating = scan.capacity > 0;
  const int timeLimit = !populating && scan.timeLimit == 0 ? 1 : scan.timeLimit;
  const double maxEnd = scan.start + kMaxBandKm;

  double boundsMin[2] = {0, 0};
  double boundsMax[2] = {0, 0};
  if (reader != nullptr) RmfReaderGetBoundsDegrees(reader, boundsMin, boundsMax);
  if (boundsMin[0] == 0.0 && boundsMin[1] == 0.0 && boundsMax[0] == 0.0 && boundsMax[1] == 0.0 &&
      m_UserPOIRegistry.empty()) {
    *stop = true;
    return 0;
  }

  double bandStart = scan.start;
  double bandEnd = scan.start + scan.bandWidth;
  *endDistance = bandEnd;
  if (populating) distances->assign(static_cast<std::size_t>(scan.capacity), 0);
  std::int32_t count = 0;

  // Whether a point at `km` lies in the configured window.
  const auto inWindow = [&](double km) {
    if (scan.configuredStart == -1.0) return true;
    return km >= scan.configuredStart && km <= maxEnd;
  };

  for (;;) {
    if (bandStart > maxEnd) {
      *endDistance = maxEnd;
      Log(u"Reached max end distance to search");
      return 0;
    }
    if (ElapsedSeconds(scan.startTime, Now()) > timeLimit) {
      *timeExceeded = true;
      *endDistance = bandEnd;
      return 0;
    }
    bool full = false;
    const std::vector<Box> boxes = BandBoxes(scan.latitude, scan.longitude, bandStart, bandEnd);
    for (std::size_t b = boxes.size(); b-- > 0 && !full;) {
      if (reader != nullptr) {
        RmfQuerySetLevels(reader, scan.levelB, scan.levelA);
        RmfQuerySetClassFilter(reader, 0, scan.classFilter.c_str());
      }
      if (b == 0) {
        // The user points, once a band.
        for (const auto& [file, infos] : m_UserPOIRegistry) {
          for (const auto& info : infos) {
            SHORT category = 0;
            SHORT subcategory = 0;
            ULONG key = 0;
            double latitude = 0;
            double longitude = 0;
            info->get_Category(&category);
            info->get_SubCategory(&subcategory);
            if (!scan.publicOnly && scan.category != 0 && !scan.includePrivate &&
                (category != scan.category || (scan.subcategory > 0 && subcategory != scan.subcategory))) {
              continue;
            }
            info->get_Latitude(&latitude);
            info->get_Longitude(&longitude);
            const std::int32_t feet = DistanceFeetTo(scan.latitude, scan.longitude, latitude, longitude);
            const double km = feet * kKmPerFoot;
            if (!inWindow(km) || km < bandStart || !(km < bandEnd)) continue;
            if (scan.bearing >= 0 && feet > 0 &&
                !AreHeadingAndOrientationSimilar(scan.bearing,
                                                 CourseDegreesTo(scan.latitude, scan.longitude, latitude, longitude),
                                                 kUserBearingTolerance)) {
              continue;
            }
            if (populating) {
              if (count >= scan.capacity) {
                LogFormat(u"WARNING CMap::FindPOIsInternal USER maxed out poi ids %d, with start=%d, end=%d)",
                          {scan.capacity, static_cast<int>(bandStart), static_cast<int>(bandEnd)});
                full = true;
                break;
              }
              info->get_Key(&key);
              com::Bstr path;
              if (!path.Assign(file)) throw std::bad_alloc();
              scan.results->Add(path, key);
              (*distances)[static_cast<std::size_t>(count)] = feet;
            }
            ++count;
          }
          if (full) break;
        }
        if (full || scan.privateOnly) continue;
      }
      if (reader == nullptr) continue;
      const Box& box = boxes[b];
      RmfQuerySetRectDegrees(reader, Clamp(box.a.longitude, -180, 180), Clamp(box.a.latitude, -90, 90),
                             Clamp(box.b.longitude, -180, 180), Clamp(box.b.latitude, -90, 90));
      RmfQueryStart(reader);
      full = ScanCommercialPOIs(scan, bandStart, bandEnd, distances, &count) || full;
    }
    if (count == 0) {
      bandStart = bandEnd;
      bandEnd += scan.bandWidth;
      if (bandEnd > kMaxDistanceKm) {
        Log(u"CMap::ScanOrPopulatePOIs : bExceededBounds");
        *stop = true;
        return count;
      }
      continue;
    }
    *endDistance = bandEnd;
    return count;
  }
}

bool CMap::ScanCommercialPOIs(const POIScan& scan, double bandStart, double bandEnd,
                              std::vector<std::int32_t>* distances, std::int32_t* count) {
  RmfReader* reader = m_RdrPOI.get();
  const bool populating = scan.capacity > 0;
  const double maxEnd = scan.start + kMaxBandKm;
  char code[6] = {};
  char name[51] = {};
  char detail[251] = {};
  std::int32_t texts = 0;
  double* points = nullptr;
  std::int32_t inThisBox = 0;
  while (RmfQueryNextDegrees(reader, code, name, detail, &texts, nullptr, &points) > 0) {
    const std::string_view nameText(name);
    const std::size_t comma = nameText.find(',');
    if (comma == std::string_view::npos || points == nullptr) continue;
    const std::string fileId(nameText.substr(0, comma));
    const int subcategory = std::atoi(std::string(nameText.substr(comma + 1)).c_str());
    if (scan.subcategory > 0 && CategoryOfCode(code[0], code[1]) == scan.category && subcategory != scan.subcategory) {
      continue;
    }
    const std::u16string key = platform::Utf8ToUtf16(fileId + ":" + detail);
    if (scan.removeDuplicates && !m_ReportedPOIKeys.empty() && m_ReportedPOIKeys.count(key) > 0) continue;
    const double longitude = points[0];
    const double latitude = points[1];
    const std::int32_t feet = DistanceFeetTo(scan.latitude, scan.longitude, latitude, longitude);
    const double km = feet * kKmPerFoot;
    if (scan.configuredStart != -1.0 && (km < scan.configuredStart || km > maxEnd)) continue;
    if (populating) {
      if (scan.bearing >= 0 && feet > 0 &&
          !AreHeadingAndOrientationSimilar(scan.bearing,
                                           CourseDegreesTo(scan.latitude, scan.longitude, latitude, longitude),
                                           kCommercialBearingTolerance)) {
        continue;
      }
      if (*count >= scan.capacity) {
        LogFormat(u"WARNING CMap::FindPOIsInternal maxed out poi ids %d, with start=%d, end=%d)",
                  {scan.capacity, static_cast<int>(bandStart), static_cast<int>(bandEnd)});
        return true;
      }
      const auto file = m_POIFiles.find(platform::Utf8ToUtf16(fileId));
      if (file == m_POIFiles.end()) continue;
      com::Bstr path;
      if (!path.Assign(file->second)) throw std::bad_alloc();
      scan.results->Add(path, static_cast<ULONG>(std::strtoul(detail, nullptr, 10)));
      (*distances)[static_cast<std::size_t>(*count)] = feet;
      // Only a point handed out counts as reported, so that a continued
      // search still finds the ones left out here.
      if (scan.recordReported) m_ReportedPOIKeys.insert(key);
    }
    ++*count;
    if (++inThisBox > kCountLimit) break;
  }
  return false;
}

HRESULT CMap::FindPOIsInternal(ILocationObject* location, IPOISearchConfigurationObject* config,
                               bool removeDuplicates, IFoundPOIIndexes* found, double* distance, bool* anyFound) {
  *anyFound = false;
  Log(u"  CMap::FindPOIsInternal - Enter");
  const SYSTEMTIME startTime = Now();

  SHORT category = 0, subcategory = 0, timeLimit = 0, heading = -1;
  double latitude = 0, longitude = 0, configuredStart = -1.0;
  VARIANT_BOOL includePrivate = VARIANT_FALSE, privateOnly = VARIANT_FALSE, publicOnly = VARIANT_FALSE;
  LONG maxResults = 0;
  Directions direction = DirectionAll;
  com::Bstr text;
  BSTR textRead = nullptr;
  HRESULT hr = S_OK;
  // The first getter that fails ends the search with its answer.
  const auto read = [&hr](HRESULT answer) {
    if (SUCCEEDED(hr) && FAILED(answer)) hr = answer;
  };
  read(config->GetCategoryNumber(&category));
  read(config->GetSubCategoryNumber(&subcategory));
  read(location->GetLatitude(&latitude));
  read(location->GetLongitude(&longitude));
  read(config->GetDistanceStarting(&configuredStart));
  read(config->IncludeUserPrivateAsWell(&includePrivate));
  read(config->GetMaxSearchTime(&timeLimit));
  read(config->GetMainSearchString(&textRead));
  text.Reset(textRead);
  const bool searchText = SysStringLen(text) > 0;
  if (!searchText) read(config->GetMaxSearchResults(&maxResults));
  read(config->GetCurrentHeadingDegrees(&heading));
  read(config->GetSearchDirection(&direction));
  read(config->GetUserPrivateOnly(&privateOnly));
  read(config->GetUserPublicOnly(&publicOnly));
  if (FAILED(hr)) return hr;
  if (!IsPositionUsable(latitude, longitude)) return E_INVALIDARG;
  heading = static_cast<SHORT>(ReduceHeading(heading));

  // Time limits: the counting scans get half of it.
  bool noTimeLimit = false;
  int fullLimit = timeLimit;
  int halfLimit = timeLimit / 2;
  if (timeLimit == 0) {
    fullLimit = 1;
    halfLimit = 0;
    noTimeLimit = true;
  } else if (halfLimit == 0) {
    halfLimit = 1;
  }
  // A fifth more than the most results asked for, in 64 bits: a count near
  // the 32-bit limit counts as the largest.
  const std::int64_t wanted = std::int64_t{maxResults} - static_cast<std::int64_t>(maxResults * -0.2);
  const std::int32_t threshold =
      searchText ? kCountLimit
                 : static_cast<std::int32_t>(std::min<std::int64_t>(wanted, std::numeric_limits<std::int32_t>::max()));

  POIScan scan;
  scan.latitude = latitude;
  scan.longitude = longitude;
  scan.configuredStart = configuredStart;
  scan.removeDuplicates = removeDuplicates;
  scan.subcategory = subcategory;
  scan.includePrivate = includePrivate != 0;
  scan.startTime = startTime;
  switch (static_cast<int>(direction)) {
    case 1: scan.bearing = 0; break;    // north
    case 2: scan.bearing = 90; break;   // east
    case 3: scan.bearing = 180; break;  // south
    case 4: scan.bearing = 270; break;  // west
    case 5: scan.bearing = heading == -1 ? -1 : (heading + 360) % 360; break;  // ahead
    case 6: scan.bearing = heading == -1 ? -1 : (heading + 450) % 360; break;  // right
    case 7: scan.bearing = heading == -1 ? -1 : (heading + 540) % 360; break;  // behind
    case 8: scan.bearing = heading == -1 ? -1 : (heading + 630) % 360; break;  // left
    default: scan.bearing = -1; break;
  }

  double bandFactor = 1.0;
  scan.levelA = 6;
  scan.levelB = 1;
  scan.classFilter = "1234567";
  scan.category = category;
  if (privateOnly != 0 || publicOnly != 0) {
    scan.levelA = scan.levelB = 7;
    bandFactor = 28.0;
    scan.category = 0;
    if (privateOnly != 0 && publicOnly != 0) privateOnly = VARIANT_FALSE;
  } else if (category >= 1 && category <= kCategories) {
    const int level = kPOICategoryCodes[2 * (category - 1)] - u'0';
    const char klass = static_cast<char>(kPOICategoryCodes[2 * (category - 1) + 1]);
    scan.levelA = scan.levelB = level;
    scan.classFilter = std::string(1, klass);
    bandFactor = level >= 2 ? 320.0 : (subcategory > 0 ? 40.0 : 8.0);
  }
  scan.privateOnly = privateOnly != 0;
  scan.publicOnly = publicOnly != 0;
  double bandWidth = bandFactor * 0.25;

  // A negative start distance starts at the centre (a start that is not a
  // number was refused where it came in).
  double start = std::max(*distance, 0.0);
  if (removeDuplicates && start == 0.0) m_ReportedPOIKeys.clear();
  if (configuredStart >= 0.0 && start < configuredStart) start = configuredStart;

  int halvings = 0;
  bool adjusted = false;
  double savedEnd = start;
  std::int32_t counted = 0;
  bool timeExceeded = false;
  for (;;) {
    scan.capacity = 0;
    scan.timeLimit = halfLimit;
    scan.start = start;
    scan.bandWidth = bandWidth;
    double end = start;
    bool stop = false;
    counted = ScanOrPopulatePOIs(scan, nullptr, &end, &timeExceeded, &stop);
    if (stop) {
      *distance = kMaxDistanceKm;
      return S_OK;
    }
    if (noTimeLimit) {
      if (counted == 0) {
        *distance = end;
        return S_OK;
      }
      break;
    }
    if (ElapsedSeconds(startTime, Now()) > fullLimit) timeExceeded = true;
    if (timeExceeded) {
      *distance = std::min(end, kMaxDistanceKm);
      if (counted == 0) return S_OK;
      if (counted < kCountLimit) break;
      *distance = savedEnd;
      return S_OK;
    }
    if (!adjusted) savedEnd = end;
    if (counted > threshold && halvings < kMostHalvings) {
      ++halvings;
      bandWidth /= 2;
      adjusted = true;
      continue;
    }
    if (counted < kTooFew && !adjusted && removeDuplicates &&
        (counted == 0 || (searchText && bandWidth != kMaxBandKm))) {
      bandWidth = std::min(bandWidth * 4, kMaxBandKm);
      if (counted == 0) start = end;
      if (start + bandWidth > kMaxDistanceKm) {
        bandWidth = kMaxDistanceKm - start;
        adjusted = true;
      }
      continue;
    }
    if (counted == 0) {
      *distance = std::min(end, kMaxDistanceKm);
      return S_OK;
    }
    break;
  }

  // One populating scan into a list of the search's own.
  std::unique_ptr<IFoundPOIIndexes, com::Releaser> results;
  {
    IUnknown* unknown = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_FoundPOIIndexes, nullptr, CLSCTX_ALL, IID_IUnknown,
                                   reinterpret_cast<void**>(&unknown)))) {
      IFoundPOIIndexes* list = nullptr;
      if (SUCCEEDED(OleRun(unknown)) &&
          SUCCEEDED(unknown->QueryInterface(IID_IFoundPOIIndexes, reinterpret_cast<void**>(&list)))) {
        results.reset(list);
      }
      unknown->Release();
    }
  }
  if (results == nullptr) {
    Log(u"  CMap::FindPOIsInternal: the list of found points could not be made");
    return S_OK;
  }
  scan.capacity = counted;
  scan.timeLimit = fullLimit;
  scan.recordReported = removeDuplicates;
  scan.results = results.get();
  std::vector<std::int32_t> distances;
  double end = start;
  bool stop = false;
  const std::int32_t n = ScanOrPopulatePOIs(scan, &distances, &end, &timeExceeded, &stop);
  *distance = std::min(end, kMaxDistanceKm);

  Log(u"  Starting Sort");
  std::vector<std::int32_t> order(static_cast<std::size_t>(n));
  for (std::int32_t i = 0; i < n; ++i) order[static_cast<std::size_t>(i)] = i;
  for (std::int32_t i = 0; i + 1 < n; ++i) {
    std::int32_t smallest = i;
    for (std::int32_t j = i + 1; j < n; ++j) {
      if (distances[static_cast<std::size_t>(order[static_cast<std::size_t>(j)])] <
          distances[static_cast<std::size_t>(order[static_cast<std::size_t>(smallest)])]) {
        smallest = j;
      }
    }
    if (smallest != i) std::swap(order[static_cast<std::size_t>(i)], order[static_cast<std::size_t>(smallest)]);
  }
  Log(u"  Finished Sort");
  for (const std::int32_t index : order) {
    BSTR path = nullptr;
    ULONG key = 0;
    SHORT flag = 0;
    if (SUCCEEDED(results->Get(index, &path, &key, &flag))) found->Add(path, key);
    SysFreeString(path);
  }
  LogFormat(u"  CMap::FindPOIsInternal: RME POIs Found=%d : Start=%d Km, End=%d Km : Exit",
            {n, static_cast<int>(start), static_cast<int>(end)});
  *anyFound = n != 0;
  return S_OK;
}

HRESULT CMap::FindPOIs(IUnknown* inLocation, IUnknown* inSearchConfig, VARIANT_BOOL inRemoveDuplicates,
                       IUnknown** inOutIndexesFound, double* inOutStartEndedDistanceKM, VARIANT_BOOL* outPOIsFound) {
  if (inLocation == nullptr || inSearchConfig == nullptr || inOutIndexesFound == nullptr ||
      inOutStartEndedDistanceKM == nullptr || outPOIsFound == nullptr) {
    return E_POINTER;
  }
  *outPOIsFound = VARIANT_FALSE;
  std::unique_ptr<ILocationObject, com::Releaser> location;
  std::unique_ptr<IPOISearchConfigurationObject, com::Releaser> config;
  std::unique_ptr<IFoundPOIIndexes, com::Releaser> found;
  {
    ILocationObject* l = nullptr;
    IPOISearchConfigurationObject* c = nullptr;
    IFoundPOIIndexes* f = nullptr;
    if (SUCCEEDED(inLocation->QueryInterface(IID_ILocationObject, reinterpret_cast<void**>(&l)))) location.reset(l);
    if (SUCCEEDED(inSearchConfig->QueryInterface(IID_IPOISearchConfigurationObject, reinterpret_cast<void**>(&c)))) {
      config.reset(c);
    }
    if (*inOutIndexesFound != nullptr &&
        SUCCEEDED((*inOutIndexesFound)->QueryInterface(IID_IFoundPOIIndexes, reinterpret_cast<void**>(&f)))) {
      found.reset(f);
    }
  }
  if (location == nullptr || config == nullptr || found == nullptr) return S_OK;
  if (!std::isfinite(*inOutStartEndedDistanceKM)) return E_INVALIDARG;
  return com::Guarded([&]() -> HRESULT {
    bool any = false;
    const HRESULT hr = FindPOIsInternal(location.get(), config.get(), inRemoveDuplicates != 0, found.get(),
                                        inOutStartEndedDistanceKM, &any);
    if (any) *outPOIsFound = VARIANT_TRUE;
    return hr;
  });
}
