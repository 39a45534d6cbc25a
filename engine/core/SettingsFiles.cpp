// Reading and writing the engine's four settings files; the format is
// described in SettingsFiles.h.
#include "engine/core/SettingsFiles.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <system_error>

#include "platform/os/debug.h"
#include "platform/os/device.h"
#include "platform/os/files.h"
#include "platform/os/format.h"

namespace vov {

const char16_t* SettingsFileResultName(SettingsFileResult result) {
  switch (result) {
    case SettingsFileResult::kRead: return u"read";
    case SettingsFileResult::kMissing: return u"missing";
    case SettingsFileResult::kEmpty: return u"empty";
    case SettingsFileResult::kTooLarge: return u"too large";
    case SettingsFileResult::kUnreadable: return u"unreadable";
    case SettingsFileResult::kBadVersion: return u"bad version";
    case SettingsFileResult::kOddByteCount: return u"odd byte count";
    case SettingsFileResult::kTruncated: return u"truncated";
    case SettingsFileResult::kMalformedField: return u"malformed field";
    case SettingsFileResult::kWritten: return u"written";
    case SettingsFileResult::kWriteFailed: return u"write failed";
  }
  return u"unknown";
}

namespace {

void LogProblem(std::u16string_view fileName, const SettingsReadReport& report) {
  std::u16string line = report.field > 0
                            ? platform::FormatW(u"Settings file %s: %s at field %d; defaults used for what could not be read\n",
                                                {fileName, SettingsFileResultName(report.result), report.field})
                            : platform::FormatW(u"Settings file %s: %s; defaults used for what could not be read\n",
                                                {fileName, SettingsFileResultName(report.result)});
  OutputDebugStringW(line.c_str());
}

// Whole-field number parsing: an optional "-" and digits (or, for doubles,
// what std::from_chars takes), nothing else, within the target's range.
template <class T>
bool ParseNumber(std::u16string_view field, T& out) {
  char ascii[400];
  if (field.empty() || field.size() >= sizeof ascii) return false;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == 0 || field[i] > 0x7F) return false;
    ascii[i] = static_cast<char>(field[i]);
  }
  const char* end = ascii + field.size();
  if constexpr (std::is_floating_point_v<T>) {
    // "nan" and "inf" parse, but no setting is either.
    T value{};
    auto [ptr, ec] = std::from_chars(ascii, end, value, std::chars_format::general);
    if (ec != std::errc() || ptr != end || !std::isfinite(value)) return false;
    out = value;
    return true;
  } else {
    std::int64_t value = 0;
    auto [ptr, ec] = std::from_chars(ascii, end, value);
    if (ec != std::errc() || ptr != end) return false;
    if (value < std::numeric_limits<T>::min() || value > std::numeric_limits<T>::max()) return false;
    out = static_cast<T>(value);
    return true;
  }
}

// Whether a value read from a file names a member of its enumeration.
bool IsMember(SystemDescriptions v) { return v == Short || v == Full || v == Both; }
bool IsMember(RelativeHeadingType v) { return v >= ClockFace && v <= LeftRightDegreesCompass; }
bool IsMember(Units v) { return v >= Metric && v <= BritishNautical; }
bool IsMember(SideOfStreet v) { return v == UnknownSide || v == LeftSide || v == RightSide; }
bool IsMember(GPSType v) { return v >= GPSTypeNone && v <= GPSTypeTalkingLights; }
bool IsMember(HeadingAveraging v) { return v >= InstantaneousHeadings && v <= ManualHeadings; }
bool IsMember(Directions v) { return v == DirectionAll || v == DirectionLeft; }
bool IsMember(LookaroundRouteOptions v) { return v >= LookaroundRouteOnly && v <= LookaroundRouteAndPOIsOnly; }
bool IsMember(WaypointMode v) { return v == WaypointModeAll || v == WaypointModeTurnsOnly; }

// The ranges of the numbers that have one.
constexpr double kMaxLatitude = 90.0;
constexpr double kMaxLongitude = 180.0;

// Reads fields in order; see SettingsFiles.h for what happens to each kind of
// damage. The first problem met is kept in the report and logged by Finish.
class FieldReader {
 public:
  FieldReader(std::string_view bytes, std::u16string_view fileName) : fileName_(fileName) {
    text_.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
      text_.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                            (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    if (bytes.size() % 2 != 0) Note(SettingsFileResult::kOddByteCount, 0);
  }

  // Reads the version; false when reading stops there and every field keeps
  // its default.
  bool Version() {
    if (text_.empty() && report_.result == SettingsFileResult::kRead) {
      report_.result = SettingsFileResult::kEmpty;
      stopped_ = true;
      return false;
    }
    std::u16string_view field;
    version_ = 1;  // the version field itself exists in every version
    if (Next(1, field) != Take::kField) {
      stopped_ = true;
      return false;
    }
    LONG version = 0;
    if (!ParseNumber(field, version) || version < 1) {
      Note(SettingsFileResult::kBadVersion, 1);
      stopped_ = true;
      return false;
    }
    version_ = version;
    return true;
  }

  // A number within [low, high]; one outside keeps the default as one that
  // does not parse does.
  template <class T>
  void Number(int since, T& out, T low = std::numeric_limits<T>::lowest(), T high = std::numeric_limits<T>::max()) {
    std::u16string_view field;
    if (Next(since, field) != Take::kField) return;
    T value{};
    if (ParseNumber(field, value) && value >= low && value <= high) {
      out = value;
    } else {
      Note(SettingsFileResult::kMalformedField, field_);
    }
  }
  // An enumeration value that names one of the type's members.
  template <class E>
  void Enum(int since, E& out) {
    std::u16string_view field;
    if (Next(since, field) != Take::kField) return;
    LONG value = 0;
    if (ParseNumber(field, value) && IsMember(static_cast<E>(value))) {
      out = static_cast<E>(value);
    } else {
      Note(SettingsFileResult::kMalformedField, field_);
    }
  }
  void Flag(int since, bool& out) {
    std::u16string_view field;
    if (Next(since, field) == Take::kField) out = !field.empty() && field.front() == u'1';
  }
  void Text(int since, std::u16string& out) {
    std::u16string_view field;
    if (Next(since, field) == Take::kField) out.assign(field);
  }

  // True when the file is too old to hold a field introduced in `since`
  // (false once reading stopped: then nothing is read and nothing implied).
  bool OlderThan(int since) const { return !stopped_ && version_ < since; }

  SettingsReadReport Finish() const {
    if (report_.result != SettingsFileResult::kRead && report_.result != SettingsFileResult::kEmpty) {
      LogProblem(fileName_, report_);
    }
    return report_;
  }

 private:
  enum class Take { kField, kGated, kNone };

  Take Next(int since, std::u16string_view& field) {
    if (stopped_) return Take::kNone;
    if (version_ < since) return Take::kGated;
    ++field_;
    if (pos_ >= text_.size()) {
      Note(SettingsFileResult::kTruncated, field_);
      return Take::kNone;
    }
    const std::size_t bar = text_.find(u'|', pos_);
    if (bar == std::u16string::npos) {
      // A field without its "|" was cut while being written: what is there
      // may be the start of a longer value, so it is not used.
      Note(SettingsFileResult::kTruncated, field_);
      pos_ = text_.size();
      return Take::kNone;
    }
    field = std::u16string_view(text_).substr(pos_, bar - pos_);
    pos_ = bar + 1;
    return Take::kField;
  }

  void Note(SettingsFileResult result, int field) {
    if (report_.result != SettingsFileResult::kRead) return;
    report_.result = result;
    report_.field = field;
  }

  std::u16string_view fileName_;
  std::u16string text_;
  std::size_t pos_ = 0;
  int field_ = 0;
  LONG version_ = 0;
  bool stopped_ = false;
  SettingsReadReport report_;
};

// Writes fields in order, each followed by "|", as UTF-16LE bytes.
class FieldWriter {
 public:
  void Number(std::int64_t value) {
    char buffer[24];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    Ascii(std::string_view(buffer, static_cast<std::size_t>(end - buffer)));
  }
  void Flag(bool value) { Ascii(value ? "1" : "0"); }
  // 13 decimals, as the phone's "%.13f" writes them; std::to_chars does not
  // depend on the locale.
  void Double(double value) {
    char buffer[400];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 13);
    Ascii(ec == std::errc() ? std::string_view(buffer, static_cast<std::size_t>(end - buffer)) : "0.0000000000000");
  }
  // A "|" would end the field early and shift every field after it.
  void Text(std::u16string_view value) {
    for (char16_t c : value) Unit(c == u'|' ? u'/' : c);
    Unit(u'|');
  }
  std::string Take() { return std::move(bytes_); }

 private:
  void Ascii(std::string_view value) {
    for (char c : value) Unit(static_cast<char16_t>(c));
    Unit(u'|');
  }
  void Unit(char16_t c) {
    bytes_.push_back(static_cast<char>(c & 0xFF));
    bytes_.push_back(static_cast<char>(c >> 8));
  }
  std::string bytes_;
};

}  // namespace

// ---- GPSSystemSettings.inf ------------------------------------------------------------

SettingsReadReport ParseSystemSettings(std::string_view bytes, SystemSettings& r, std::u16string_view fileName) {
  FieldReader in(bytes, fileName);
  if (in.Version()) {
    in.Number<LONG>(1, r.arrivalDistanceFeet, 0);
    in.Flag(1, r.includeSpellDecorators);
    in.Flag(1, r.streetNamesDetailed);
    in.Enum(1, r.defaultCompassDescriptions);
    in.Enum(1, r.headingMode);
    in.Text(1, r.mapPOIDirectory);
    in.Enum(1, r.units);
    in.Number<LONG>(1, r.arrivedNearThresholdFeet, 0);
    in.Flag(2, r.searchOtherMapDirectories);
    in.Text(3, r.poiAuthor);
    in.Text(4, r.virtualName);
    in.Text(4, r.virtualStreetName);
    in.Number<LONG>(4, r.virtualHeading, -1, 359);
    in.Number(4, r.virtualLatitude, -kMaxLatitude, kMaxLatitude);
    in.Number(4, r.virtualLongitude, -kMaxLongitude, kMaxLongitude);
    in.Text(4, r.destinationName);
    in.Text(4, r.destinationDescription);
    in.Number(4, r.destinationLatitude, -kMaxLatitude, kMaxLatitude);
    in.Number(4, r.destinationLongitude, -kMaxLongitude, kMaxLongitude);
    in.Flag(5, r.impliedHeading);
    in.Flag(6, r.virtualSideOfStreetTracking);
    in.Enum(7, r.virtualSideOfStreet);
    in.Flag(8, r.virtualExploration);
  }
  return in.Finish();
}

std::string FormatSystemSettings(const SystemSettings& r) {
  FieldWriter out;
  out.Number(SystemSettings::kVersion);
  out.Number(r.arrivalDistanceFeet);
  out.Flag(r.includeSpellDecorators);
  out.Flag(r.streetNamesDetailed);
  out.Number(r.defaultCompassDescriptions);
  out.Number(r.headingMode);
  out.Text(r.mapPOIDirectory);
  out.Number(r.units);
  out.Number(r.arrivedNearThresholdFeet);
  out.Flag(r.searchOtherMapDirectories);
  out.Text(r.poiAuthor);
  out.Text(r.virtualName);
  out.Text(r.virtualStreetName);
  out.Number(r.virtualHeading);
  out.Double(r.virtualLatitude);
  out.Double(r.virtualLongitude);
  out.Text(r.destinationName);
  out.Text(r.destinationDescription);
  out.Double(r.destinationLatitude);
  out.Double(r.destinationLongitude);
  out.Flag(r.impliedHeading);
  out.Flag(r.virtualSideOfStreetTracking);
  out.Number(r.virtualSideOfStreet);
  out.Flag(r.virtualExploration);
  return out.Take();
}

// ---- GPSReceiverSettings.inf ----------------------------------------------------------

SettingsReadReport ParseGPSSettings(std::string_view bytes, GPSSettings& r, std::u16string_view fileName) {
  FieldReader in(bytes, fileName);
  if (in.Version()) {
    in.Text(1, r.receiverName);
    in.Number<LONG>(1, r.baudRate, 1);
    in.Text(1, r.portName);
    in.Number<SHORT>(1, r.portNumber, 0);
    in.Enum(1, r.receiverType);
    in.Text(1, r.simulatedGPSFile);
    in.Number(1, r.lastLatitude, -kMaxLatitude, kMaxLatitude);
    in.Number(1, r.lastLongitude, -kMaxLongitude, kMaxLongitude);
    in.Number<SHORT>(2, r.pedestrianHeadingAveragingSeconds, 1, 300);
    in.Enum(2, r.headingAveragingMode);
    in.Number(3, r.inertialReceiverUserHeight, 0.0);
  }
  return in.Finish();
}

std::string FormatGPSSettings(const GPSSettings& r) {
  FieldWriter out;
  out.Number(GPSSettings::kVersion);
  out.Text(r.receiverName);
  out.Number(r.baudRate);
  out.Text(r.portName);
  out.Number(r.portNumber);
  out.Number(r.receiverType);
  out.Text(r.simulatedGPSFile);
  out.Double(r.lastLatitude);
  out.Double(r.lastLongitude);
  out.Number(r.pedestrianHeadingAveragingSeconds);
  out.Number(r.headingAveragingMode);
  out.Double(r.inertialReceiverUserHeight);
  return out.Take();
}

// ---- GPSLookaroundSettings.inf --------------------------------------------------------

SettingsReadReport ParseLookaroundSettings(std::string_view bytes, LookaroundSettings& r,
                                           std::u16string_view fileName) {
  FieldReader in(bytes, fileName);
  if (in.Version()) {
    in.Flag(1, r.lookaroundEnabled);
    in.Flag(1, r.commercialPOIsEnabled);
    in.Flag(1, r.userPrivatePOIsEnabled);
    in.Flag(1, r.intersectionsEnabled);
    in.Text(1, r.categoryName);
    in.Number(1, r.categoryNumber);
    in.Text(1, r.subCategoryName);
    in.Number(1, r.subCategoryMainNumber);
    in.Number(1, r.subCategoryNumber);
    in.Number(1, r.startDelayForLookaroundEvents);
    in.Flag(2, r.talkingLightsEnabled);
    in.Flag(3, r.streetChangesEnabled);
    in.Flag(4, r.cityChangesEnabled);
    in.Flag(4, r.mapChangesEnabled);
    in.Enum(5, r.poiSearchDirection);
    in.Number(6, r.intersectionMaxSpeedForReporting);
    in.Number(6, r.lookaroundReportingInterval);
    in.Flag(7, r.poiIncludeTags);
    in.Flag(8, r.poiIncludeDistanceDirection);
    if (in.OlderThan(8)) r.poiIncludeDistanceDirection = false;
    in.Enum(9, r.routeOptions);
  }
  return in.Finish();
}

std::string FormatLookaroundSettings(const LookaroundSettings& r) {
  FieldWriter out;
  out.Number(LookaroundSettings::kVersion);
  out.Flag(r.lookaroundEnabled);
  out.Flag(r.commercialPOIsEnabled);
  out.Flag(r.userPrivatePOIsEnabled);
  out.Flag(r.intersectionsEnabled);
  out.Text(r.categoryName);
  out.Number(r.categoryNumber);
  out.Text(r.subCategoryName);
  out.Number(r.subCategoryMainNumber);
  out.Number(r.subCategoryNumber);
  out.Number(r.startDelayForLookaroundEvents);
  out.Flag(r.talkingLightsEnabled);
  out.Flag(r.streetChangesEnabled);
  out.Flag(r.cityChangesEnabled);
  out.Flag(r.mapChangesEnabled);
  out.Number(r.poiSearchDirection);
  out.Number(r.intersectionMaxSpeedForReporting);
  out.Number(r.lookaroundReportingInterval);
  out.Flag(r.poiIncludeTags);
  out.Flag(r.poiIncludeDistanceDirection);
  out.Number(r.routeOptions);
  return out.Take();
}

// ---- GPSRouteSettings.inf -------------------------------------------------------------

namespace {

void ReadRouteRecord(FieldReader& in, RouteSettings& r) {
  in.Enum(1, r.waypointMode);
  in.Flag(1, r.autoIncrementWaypointsWhenReached);
  in.Flag(1, r.forceSequentialRouteFollowing);
  in.Flag(1, r.waypointNumbering);
  in.Enum(1, r.numberingDescriptions);
}

void WriteRouteRecord(FieldWriter& out, const RouteSettings& r) {
  out.Number(r.waypointMode);
  out.Flag(r.autoIncrementWaypointsWhenReached);
  out.Flag(r.forceSequentialRouteFollowing);
  out.Flag(r.waypointNumbering);
  out.Number(r.numberingDescriptions);
}

}  // namespace

SettingsReadReport ParseRouteSettings(std::string_view bytes, RouteSettings& gpsMode, RouteSettings& virtualMode,
                                      std::u16string_view fileName) {
  FieldReader in(bytes, fileName);
  if (in.Version()) {
    ReadRouteRecord(in, gpsMode);
    ReadRouteRecord(in, virtualMode);
  }
  return in.Finish();
}

std::string FormatRouteSettings(const RouteSettings& gpsMode, const RouteSettings& virtualMode) {
  FieldWriter out;
  out.Number(RouteSettings::kVersion);
  WriteRouteRecord(out, gpsMode);
  WriteRouteRecord(out, virtualMode);
  return out.Take();
}

// ---- files ----------------------------------------------------------------------------

bool IsUsableSettingsFolder(std::u16string_view folder) {
  if (folder.empty()) return false;
  const std::filesystem::path root = std::filesystem::path(platform::DeviceRoot()).lexically_normal();
  const std::filesystem::path host = std::filesystem::path(platform::HostPath(folder)).lexically_normal();
  const std::filesystem::path inside = host.lexically_relative(root);
  return !inside.empty() && *inside.begin() != "..";
}

std::u16string SettingsFilePath(std::u16string_view folder, std::u16string_view fileName) {
  std::u16string path(folder);
  if (path.empty() || (path.back() != u'/' && path.back() != u'\\')) path += u'/';
  path += fileName;
  return path;
}

namespace {

// The file's bytes, or a report of why there are none to parse.
template <class Parse>
SettingsReadReport LoadWith(std::u16string_view path, Parse&& parse) {
  std::string bytes;
  SettingsReadReport report;
  switch (platform::ReadWholeFile(path, kMaxSettingsFileBytes, bytes)) {
    case platform::WholeFileRead::kRead:
      return parse(bytes);
    case platform::WholeFileRead::kMissing:
      report.result = SettingsFileResult::kMissing;
      return report;
    case platform::WholeFileRead::kTooLarge:
      report.result = SettingsFileResult::kTooLarge;
      break;
    case platform::WholeFileRead::kUnreadable:
      report.result = SettingsFileResult::kUnreadable;
      break;
  }
  LogProblem(path, report);
  return report;
}

}  // namespace

SettingsReadReport LoadSettingsFile(std::u16string_view path, SystemSettings& record) {
  return LoadWith(path, [&](std::string_view bytes) { return ParseSystemSettings(bytes, record, path); });
}
SettingsReadReport LoadSettingsFile(std::u16string_view path, GPSSettings& record) {
  return LoadWith(path, [&](std::string_view bytes) { return ParseGPSSettings(bytes, record, path); });
}
SettingsReadReport LoadSettingsFile(std::u16string_view path, LookaroundSettings& record) {
  return LoadWith(path, [&](std::string_view bytes) { return ParseLookaroundSettings(bytes, record, path); });
}
SettingsReadReport LoadSettingsFile(std::u16string_view path, RouteSettings& gpsMode, RouteSettings& virtualMode) {
  return LoadWith(path,
                  [&](std::string_view bytes) { return ParseRouteSettings(bytes, gpsMode, virtualMode, path); });
}

SettingsFileResult SaveSettingsFile(std::u16string_view path, const std::string& bytes) {
  if (platform::ReplaceWholeFile(path, bytes)) return SettingsFileResult::kWritten;
  const std::u16string line = platform::FormatW(u"Settings file %s: write failed; the file was not changed\n", {path});
  OutputDebugStringW(line.c_str());
  return SettingsFileResult::kWriteFailed;
}

}  // namespace vov
