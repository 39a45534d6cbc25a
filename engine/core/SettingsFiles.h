// The four settings files of the engine: their records, and reading and
// writing them.
//
// A file is UTF-16LE text without a byte-order mark and without line ends: a
// run of fields, each followed by "|". The first field is the file's version;
// a field introduced in a later version is read only from files of that
// version or newer, so an old file loads with defaults for what it lacks and is
// upgraded on its next save (writers always write every field and their own
// version). Integers are decimal; a flag is true when its field starts with
// "1"; doubles are written with 13 decimals; texts are written as they are,
// except that a "|" inside a text is written as "/", so a file always reads
// back as it was written.
//
// Reading is total: any bytes give a record. Files over kMaxSettingsFileBytes
// are not read. What cannot be read keeps the default the caller put in the
// record (the record comes in holding the defaults): every field after a
// version below 1, a field missing because the text ran out, a last field cut
// before its "|", and a number that does not parse. Each damaged read is
// written as one line to the debug output, naming the file, what was wrong and
// at which field; missing and empty files are normal and give no line.
#pragma once

#include <string>
#include <string_view>

#include "typelib/VovLib.h"
#include "engine/core/VovResult.h"

namespace vov {

// Settings files are a few hundred bytes; 64 KiB holds any file a phone ever
// wrote (its texts are folder names and a few user names) while keeping a
// damaged or foreign file from being read into memory.
inline constexpr std::size_t kMaxSettingsFileBytes = 64 * 1024;

inline constexpr char16_t kSystemSettingsFileName[] = u"GPSSystemSettings.inf";
inline constexpr char16_t kGPSSettingsFileName[] = u"GPSReceiverSettings.inf";
inline constexpr char16_t kLookaroundSettingsFileName[] = u"GPSLookaroundSettings.inf";
inline constexpr char16_t kRouteSettingsFileName[] = u"GPSRouteSettings.inf";

inline constexpr char16_t kDefaultMapPOIDirectory[] = u"\\CompactFlash\\maps";
inline constexpr char16_t kDefaultSettingsDirectory[] = u"\\CompactFlash\\settings";

// "GPSSystemSettings.inf". Distances in feet. The fields from the virtual
// location on are the engine's state kept across a stop and a start.
struct SystemSettings {
  static constexpr LONG kVersion = 8;
  LONG arrivalDistanceFeet = 50;
  bool includeSpellDecorators = false;
  bool streetNamesDetailed = false;
  SystemDescriptions defaultCompassDescriptions = Full;
  RelativeHeadingType headingMode = AheadLeft;
  std::u16string mapPOIDirectory = kDefaultMapPOIDirectory;
  Units units = Imperial;
  LONG arrivedNearThresholdFeet = 12;
  bool searchOtherMapDirectories = true;     // since 2
  std::u16string poiAuthor;                  // since 3
  std::u16string virtualName;                // since 4
  std::u16string virtualStreetName;
  LONG virtualHeading = -1;                  // degrees, -1 none
  double virtualLatitude = 0.0;
  double virtualLongitude = 0.0;
  std::u16string destinationName;
  std::u16string destinationDescription;
  double destinationLatitude = 0.0;
  double destinationLongitude = 0.0;
  bool impliedHeading = false;               // since 5
  bool virtualSideOfStreetTracking = false;  // since 6
  SideOfStreet virtualSideOfStreet = UnknownSide;  // since 7
  bool virtualExploration = true;            // since 8

  bool operator==(const SystemSettings&) const = default;
};

// "GPSReceiverSettings.inf".
struct GPSSettings {
  static constexpr LONG kVersion = 3;
  std::u16string receiverName;
  LONG baudRate = 4800;
  std::u16string portName = u"BSP";
  SHORT portNumber = 1;
  GPSType receiverType = GPSTypeNone;
  std::u16string simulatedGPSFile;
  double lastLatitude = 0.0;
  double lastLongitude = 0.0;
  SHORT pedestrianHeadingAveragingSeconds = 5;            // since 2
  HeadingAveraging headingAveragingMode = AutomaticHeadings;
  double inertialReceiverUserHeight = 1.803;              // metres, since 3

  bool operator==(const GPSSettings&) const = default;
};

// "GPSLookaroundSettings.inf". The category and subcategory fields are those of
// the point-of-interest category objects the look-around settings own; their
// default names are language texts, so the caller fills them in.
struct LookaroundSettings {
  static constexpr LONG kVersion = 9;
  bool lookaroundEnabled = true;
  bool commercialPOIsEnabled = true;
  bool userPrivatePOIsEnabled = true;
  bool intersectionsEnabled = true;
  std::u16string categoryName;
  SHORT categoryNumber = 0;
  std::u16string subCategoryName;
  SHORT subCategoryMainNumber = 0;
  SHORT subCategoryNumber = 0;
  LONG startDelayForLookaroundEvents = 10;  // seconds
  bool talkingLightsEnabled = false;        // since 2
  bool streetChangesEnabled = true;         // since 3
  bool cityChangesEnabled = true;           // since 4
  bool mapChangesEnabled = true;
  Directions poiSearchDirection = DirectionAll;  // since 5
  LONG intersectionMaxSpeedForReporting = 50;    // since 6
  LONG lookaroundReportingInterval = 12;         // ticks
  bool poiIncludeTags = true;                    // since 7
  // Since 8: files older than that never showed distances, so they read as
  // false; a newer file that lacks the field keeps the default, true.
  bool poiIncludeDistanceDirection = true;
  LookaroundRouteOptions routeOptions = LookaroundRouteAndIntersectionsOnly;  // since 9

  bool operator==(const LookaroundSettings&) const = default;
};

// One record of "GPSRouteSettings.inf", which holds two: the receiver mode's,
// then the virtual mode's.
struct RouteSettings {
  static constexpr LONG kVersion = 1;
  WaypointMode waypointMode = WaypointModeTurnsOnly;
  bool autoIncrementWaypointsWhenReached = true;
  bool forceSequentialRouteFollowing = false;
  bool waypointNumbering = true;
  SystemDescriptions numberingDescriptions = Full;

  bool operator==(const RouteSettings&) const = default;
};

// How a read went: the first problem met and the 1-based field it was met at
// (0 when it concerns the whole file).
struct SettingsReadReport {
  SettingsFileResult result = SettingsFileResult::kRead;
  int field = 0;
};

// Readers of a file's bytes into a record that holds the defaults. `fileName`
// names the file in the log line of a damaged read.
SettingsReadReport ParseSystemSettings(std::string_view bytes, SystemSettings& record,
                                       std::u16string_view fileName = kSystemSettingsFileName);
SettingsReadReport ParseGPSSettings(std::string_view bytes, GPSSettings& record,
                                    std::u16string_view fileName = kGPSSettingsFileName);
SettingsReadReport ParseLookaroundSettings(std::string_view bytes, LookaroundSettings& record,
                                           std::u16string_view fileName = kLookaroundSettingsFileName);
SettingsReadReport ParseRouteSettings(std::string_view bytes, RouteSettings& gpsMode, RouteSettings& virtualMode,
                                      std::u16string_view fileName = kRouteSettingsFileName);

// The bytes of a file holding the record, at the writer's version.
std::string FormatSystemSettings(const SystemSettings& record);
std::string FormatGPSSettings(const GPSSettings& record);
std::string FormatLookaroundSettings(const LookaroundSettings& record);
std::string FormatRouteSettings(const RouteSettings& gpsMode, const RouteSettings& virtualMode);

// Whether the engine may keep its settings in `folder`: a folder is named and
// it lies below the device root (a host path elsewhere, or a path that climbs
// out of the root, is not). An unusable folder is never read or written; the
// engine keeps the one it had, or the default folder.
bool IsUsableSettingsFolder(std::u16string_view folder);

// The path of a settings file: the folder, then "/" unless the folder already
// ends with "/" or "\", then the name.
std::u16string SettingsFilePath(std::u16string_view folder, std::u16string_view fileName);

// Reading and writing the files themselves, at phone paths below the device
// root. A read that finds no file, an empty one, an oversized or unreadable
// one leaves the record as it came (the defaults); a too large or unreadable
// file is logged. A write replaces the file atomically (see
// platform::ReplaceWholeFile); a failed write is logged and leaves the old file.
SettingsReadReport LoadSettingsFile(std::u16string_view path, SystemSettings& record);
SettingsReadReport LoadSettingsFile(std::u16string_view path, GPSSettings& record);
SettingsReadReport LoadSettingsFile(std::u16string_view path, LookaroundSettings& record);
SettingsReadReport LoadSettingsFile(std::u16string_view path, RouteSettings& gpsMode, RouteSettings& virtualMode);
[[nodiscard]] SettingsFileResult SaveSettingsFile(std::u16string_view path, const std::string& bytes);

}  // namespace vov
