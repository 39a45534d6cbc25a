// The four settings files: the bytes the engine writes, reading them back
// field for field, old versions, and damaged files of every kind, each of
// which gives defaults for what cannot be read and one log line.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "engine/core/SettingsFiles.h"
#include "platform/os/debug.h"
#include "platform/os/device.h"
#include "platform/os/files.h"
#include "platform/os/text.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using vov::SettingsFileResult;

// UTF-16LE bytes of a text, as the files hold it.
std::string Bytes(std::u16string_view text) {
  std::string bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

class SettingsFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = folder_.string();
    platform::SetDeviceRoot(root_);
    fs::create_directories(root_ + "/CompactFlash/settings");
    platform::SetDebugOutputSink([this](const std::u16string& line) { log_.push_back(platform::Utf16ToUtf8(line)); });
  }
  void TearDown() override {
    platform::SetDebugOutputSink({});
    platform::SetDeviceRoot("");
  }

  std::string HostFile(const char* name) const { return root_ + "/CompactFlash/settings/" + name; }
  void WriteHostFile(const char* name, const std::string& bytes) const {
    std::ofstream(HostFile(name), std::ios::binary) << bytes;
  }
  std::string ReadHostFile(const char* name) const {
    std::ifstream in(HostFile(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  testing_support::TempFolder folder_{"settings-files"};
  std::string root_;
  std::vector<std::string> log_;
};

// Every field away from its default, texts with non-ASCII characters and a
// character outside the basic plane.
vov::SystemSettings FilledSystem() {
  vov::SystemSettings r;
  r.arrivalDistanceFeet = 120;
  r.includeSpellDecorators = true;
  r.streetNamesDetailed = true;
  r.defaultCompassDescriptions = Both;
  r.headingMode = LeftRightDegreesCompass;
  r.mapPOIDirectory = u"\\Storage Card\\Karten\\Zürich";
  r.units = Metric;
  r.arrivedNearThresholdFeet = 30;
  r.searchOtherMapDirectories = false;
  r.poiAuthor = u"Åsa 北京 \U0001F600";
  r.virtualName = u"Home";
  r.virtualStreetName = u"Elm Street";
  r.virtualHeading = 275;
  r.virtualLatitude = -33.8567844;
  r.virtualLongitude = 151.2152967;
  r.destinationName = u"Café";
  r.destinationDescription = u"by the river";
  r.destinationLatitude = 51.5;
  r.destinationLongitude = -0.1275;
  r.impliedHeading = true;
  r.virtualSideOfStreetTracking = true;
  r.virtualSideOfStreet = RightSide;
  r.virtualExploration = false;
  return r;
}

vov::GPSSettings FilledGPS() {
  vov::GPSSettings r;
  r.receiverName = u"Holux M-1200";
  r.baudRate = 38400;
  r.portName = u"COM";
  r.portNumber = 7;
  r.receiverType = GPSTypeSimulated;
  r.simulatedGPSFile = u"\\My Documents\\walk.TRC";
  r.lastLatitude = 47.3769;
  r.lastLongitude = 8.5417;
  r.pedestrianHeadingAveragingSeconds = 9;
  r.headingAveragingMode = BigCityHeadings;
  r.inertialReceiverUserHeight = 1.65;
  return r;
}

vov::LookaroundSettings FilledLookaround() {
  vov::LookaroundSettings r;
  r.lookaroundEnabled = false;
  r.commercialPOIsEnabled = false;
  r.userPrivatePOIsEnabled = false;
  r.intersectionsEnabled = false;
  r.categoryName = u"Food and drink";
  r.categoryNumber = 1;
  r.subCategoryName = u"Cafe";
  r.subCategoryMainNumber = 1;
  r.subCategoryNumber = 3;
  r.startDelayForLookaroundEvents = 30;
  r.talkingLightsEnabled = true;
  r.streetChangesEnabled = false;
  r.cityChangesEnabled = false;
  r.mapChangesEnabled = false;
  r.poiSearchDirection = DirectionLeft;
  r.intersectionMaxSpeedForReporting = 0;
  r.lookaroundReportingInterval = 300;
  r.poiIncludeTags = false;
  r.poiIncludeDistanceDirection = false;
  r.routeOptions = LookaroundRouteAndPOIsOnly;
  return r;
}

TEST_F(SettingsFiles, DefaultFilesHaveTheirFieldsAndThirteenDecimals) {
  vov::SystemSettings system;
  vov::LookaroundSettings lookaround;
  lookaround.categoryName = u"All categories";
  lookaround.subCategoryName = u"All subcategories";
  vov::RouteSettings route;
  EXPECT_EQ(vov::FormatSystemSettings(system),
            Bytes(u"8|50|0|0|1|1|\\CompactFlash\\maps|1|12|1||||-1|0.0000000000000|0.0000000000000|||"
                  u"0.0000000000000|0.0000000000000|0|0|0|1|"));
  EXPECT_EQ(vov::FormatGPSSettings(vov::GPSSettings()),
            Bytes(u"3||4800|BSP|1|0||0.0000000000000|0.0000000000000|5|1|1.8030000000000|"));
  EXPECT_EQ(vov::FormatLookaroundSettings(lookaround),
            Bytes(u"9|1|1|1|1|All categories|0|All subcategories|0|0|10|0|1|1|1|0|50|12|1|1|2|"));
  EXPECT_EQ(vov::FormatRouteSettings(route, route), Bytes(u"1|1|1|0|1|1|1|1|0|1|1|"));
}

// Every field away from its default is read back, and a file the engine wrote
// is written again byte for byte.
TEST_F(SettingsFiles, EveryFieldReadsBackAndRewritesByteForByte) {
  {
    const std::string bytes = vov::FormatSystemSettings(FilledSystem());
    vov::SystemSettings read;
    EXPECT_EQ(vov::ParseSystemSettings(bytes, read).result, SettingsFileResult::kRead);
    EXPECT_EQ(read, FilledSystem());
    EXPECT_EQ(vov::FormatSystemSettings(read), bytes);
  }
  {
    const std::string bytes = vov::FormatGPSSettings(FilledGPS());
    vov::GPSSettings read;
    EXPECT_EQ(vov::ParseGPSSettings(bytes, read).result, SettingsFileResult::kRead);
    EXPECT_EQ(read, FilledGPS());
    EXPECT_EQ(vov::FormatGPSSettings(read), bytes);
  }
  {
    const std::string bytes = vov::FormatLookaroundSettings(FilledLookaround());
    vov::LookaroundSettings read;
    EXPECT_EQ(vov::ParseLookaroundSettings(bytes, read).result, SettingsFileResult::kRead);
    EXPECT_EQ(read, FilledLookaround());
    EXPECT_EQ(vov::FormatLookaroundSettings(read), bytes);
  }
  {
    vov::RouteSettings gps, virtualMode;
    gps.waypointMode = WaypointModeAll;
    gps.forceSequentialRouteFollowing = true;
    virtualMode.autoIncrementWaypointsWhenReached = false;
    virtualMode.waypointNumbering = false;
    virtualMode.numberingDescriptions = Short;
    const std::string bytes = vov::FormatRouteSettings(gps, virtualMode);
    vov::RouteSettings readGps, readVirtual;
    EXPECT_EQ(vov::ParseRouteSettings(bytes, readGps, readVirtual).result, SettingsFileResult::kRead);
    EXPECT_EQ(readGps, gps);
    EXPECT_EQ(readVirtual, virtualMode);
    EXPECT_EQ(vov::FormatRouteSettings(readGps, readVirtual), bytes);
  }
  EXPECT_TRUE(log_.empty());
}

// Fields introduced after a file's version are not read from it; they keep
// their defaults, and the next save writes the current version with every field.
TEST_F(SettingsFiles, OlderVersionsReadTheirFieldsAndSaveAsTheCurrentVersion) {
  vov::GPSSettings gps;
  EXPECT_EQ(vov::ParseGPSSettings(Bytes(u"1|Garmin 10|9600|COM|4|3||12.5000000000000|-3.2500000000000|"), gps).result,
            SettingsFileResult::kRead);
  EXPECT_EQ(gps.receiverName, u"Garmin 10");
  EXPECT_EQ(gps.baudRate, 9600);
  EXPECT_EQ(gps.portName, u"COM");
  EXPECT_EQ(gps.portNumber, 4);
  EXPECT_EQ(gps.receiverType, GPSTypeSerial);
  EXPECT_EQ(gps.lastLatitude, 12.5);
  EXPECT_EQ(gps.lastLongitude, -3.25);
  EXPECT_EQ(gps.pedestrianHeadingAveragingSeconds, 5);
  EXPECT_EQ(gps.headingAveragingMode, AutomaticHeadings);
  EXPECT_EQ(gps.inertialReceiverUserHeight, 1.803);
  EXPECT_EQ(vov::FormatGPSSettings(gps),
            Bytes(u"3|Garmin 10|9600|COM|4|3||12.5000000000000|-3.2500000000000|5|1|1.8030000000000|"));

  // A version-3 system file stops after the author; later fields keep their defaults.
  vov::SystemSettings system;
  EXPECT_EQ(vov::ParseSystemSettings(Bytes(u"3|80|1|0|1|2|\\maps|0|20|0|Ann|"), system).result,
            SettingsFileResult::kRead);
  EXPECT_EQ(system.poiAuthor, u"Ann");
  EXPECT_EQ(system.headingMode, Combo);
  EXPECT_EQ(system.virtualHeading, -1);
  EXPECT_TRUE(system.virtualExploration);

  // Distances and directions of points of interest were never spoken before
  // version 8: older files read it as off, a newer file that lacks it as on.
  struct Row {
    std::u16string text;
    bool distanceDirection;
    SettingsFileResult result;
  };
  const Row rows[] = {
      {u"7|1|1|1|1|A|0|B|0|0|10|0|1|1|1|0|50|12|1|", false, SettingsFileResult::kRead},
      {u"8|1|1|1|1|A|0|B|0|0|10|0|1|1|1|0|50|12|1|", true, SettingsFileResult::kTruncated},
      {u"8|1|1|1|1|A|0|B|0|0|10|0|1|1|1|0|50|12|1|0|", false, SettingsFileResult::kRead},
  };
  for (const Row& row : rows) {
    vov::LookaroundSettings lookaround;
    EXPECT_EQ(vov::ParseLookaroundSettings(Bytes(row.text), lookaround).result, row.result);
    EXPECT_EQ(lookaround.poiIncludeDistanceDirection, row.distanceDirection) << platform::Utf16ToUtf8(row.text);
    EXPECT_EQ(lookaround.routeOptions, LookaroundRouteAndIntersectionsOnly);
  }
}

TEST_F(SettingsFiles, FlagsCountOnlyTheirFirstCharacter) {
  struct Row {
    std::u16string field;
    bool value;
  };
  const Row rows[] = {{u"1", true}, {u"10", true}, {u"1x", true}, {u"0", false}, {u"", false}, {u"01", false},
                      {u"-1", false}, {u"true", false}};
  for (const Row& row : rows) {
    vov::RouteSettings gps, virtualMode;
    gps.forceSequentialRouteFollowing = !row.value;
    const std::u16string text = u"1|1|1|" + row.field + u"|1|1|1|1|0|1|1|";
    EXPECT_EQ(vov::ParseRouteSettings(Bytes(text), gps, virtualMode).result, SettingsFileResult::kRead);
    EXPECT_EQ(gps.forceSequentialRouteFollowing, row.value) << platform::Utf16ToUtf8(row.field);
  }
}

// Damaged files: what can be read is read, the rest keeps its default, and
// one log line names the file, the damage and the field.
TEST_F(SettingsFiles, DamagedFilesGiveDefaultsForWhatCannotBeReadAndALogLine) {
  const vov::GPSSettings defaults;
  vov::GPSSettings nameOnly;
  nameOnly.receiverName = u"Garmin";
  vov::GPSSettings allButBaud = FilledGPS();
  allButBaud.baudRate = defaults.baudRate;
  std::string oddByte = vov::FormatGPSSettings(FilledGPS()) + "\x07";
  std::string badBaud = Bytes(u"3|Holux M-1200|38x00|COM|7|1|\\My Documents\\walk.TRC|47.3769000000000|"
                              u"8.5417000000000|9|2|1.6500000000000|");
  std::mt19937 random(20240611);  // fixed seed: the garbage is the same on every run
  std::string garbage(300, '\0');
  for (char& c : garbage) c = static_cast<char>(random() & 0xFF);
  garbage[0] = 'Z';  // whatever else it holds, its first field is no version
  garbage[2] = '|';
  garbage[3] = '\0';
  struct Row {
    const char* what;
    std::string bytes;
    SettingsFileResult result;
    int field;
    vov::GPSSettings expected;
    const char* logged;  // part of the log line; nullptr: no line
  };
  const Row rows[] = {
      {"cut in the middle of a field", Bytes(u"3|Garmin|96"), SettingsFileResult::kTruncated, 3, nameOnly,
       "truncated at field 3"},
      {"cut after a field", Bytes(u"3|Garmin|"), SettingsFileResult::kTruncated, 3, nameOnly, "truncated at field 3"},
      {"version 0", Bytes(u"0|Garmin|9600|"), SettingsFileResult::kBadVersion, 1, defaults, "bad version at field 1"},
      {"negative version", Bytes(u"-4|Garmin|9600|"), SettingsFileResult::kBadVersion, 1, defaults, "bad version"},
      {"version not a number", Bytes(u"three|Garmin|"), SettingsFileResult::kBadVersion, 1, defaults, "bad version"},
      {"version cut", Bytes(u"3"), SettingsFileResult::kTruncated, 1, defaults, "truncated at field 1"},
      {"binary garbage", garbage, SettingsFileResult::kBadVersion, 1, defaults, "bad version"},
      {"odd byte count", oddByte, SettingsFileResult::kOddByteCount, 0, FilledGPS(), "odd byte count;"},
      {"number that does not parse", badBaud, SettingsFileResult::kMalformedField, 3, allButBaud,
       "malformed field at field 3"},
      {"empty", std::string(), SettingsFileResult::kEmpty, 0, defaults, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    log_.clear();
    vov::GPSSettings read;
    const vov::SettingsReadReport report = vov::ParseGPSSettings(row.bytes, read);
    EXPECT_EQ(report.result, row.result);
    EXPECT_EQ(report.field, row.field);
    EXPECT_EQ(read, row.expected);
    if (row.logged == nullptr) {
      EXPECT_TRUE(log_.empty());
      continue;
    }
    ASSERT_EQ(log_.size(), 1u);
    EXPECT_NE(log_[0].find("GPSReceiverSettings.inf"), std::string::npos) << log_[0];
    EXPECT_NE(log_[0].find(row.logged), std::string::npos) << log_[0];
  }
}

// A well-formed file of `bytes` with field `field` (1-based) replaced.
std::string WithField(const std::string& bytes, int field, std::u16string_view value) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                         (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  std::size_t start = 0;
  for (int f = 1; f < field; ++f) start = text.find(u'|', start) + 1;
  text.replace(start, text.find(u'|', start) - start, value);
  return Bytes(text);
}

// Numbers that parse but can be no setting (not a number, infinite, a
// latitude beyond the pole, an enumeration value that names nothing) take
// the field's default like a field that does not parse, and are logged.
TEST_F(SettingsFiles, ImpossibleNumbersAndEnumerationsTakeTheirDefaults) {
  struct Row {
    int field;
    const char16_t* value;
    std::function<void(vov::GPSSettings&)> restore;  // the field back to its default
  };
  const vov::GPSSettings d;
  const Row gpsRows[] = {
      {3, u"-9600", [&](vov::GPSSettings& r) { r.baudRate = d.baudRate; }},
      {3, u"0", [&](vov::GPSSettings& r) { r.baudRate = d.baudRate; }},
      {5, u"-3", [&](vov::GPSSettings& r) { r.portNumber = d.portNumber; }},
      {6, u"11", [&](vov::GPSSettings& r) { r.receiverType = d.receiverType; }},
      {6, u"-1", [&](vov::GPSSettings& r) { r.receiverType = d.receiverType; }},
      {8, u"nan", [&](vov::GPSSettings& r) { r.lastLatitude = d.lastLatitude; }},
      {8, u"inf", [&](vov::GPSSettings& r) { r.lastLatitude = d.lastLatitude; }},
      {8, u"-infinity", [&](vov::GPSSettings& r) { r.lastLatitude = d.lastLatitude; }},
      {8, u"90.0000000000001", [&](vov::GPSSettings& r) { r.lastLatitude = d.lastLatitude; }},
      {9, u"1e308", [&](vov::GPSSettings& r) { r.lastLongitude = d.lastLongitude; }},
      {9, u"-180.5", [&](vov::GPSSettings& r) { r.lastLongitude = d.lastLongitude; }},
      {10, u"0", [&](vov::GPSSettings& r) { r.pedestrianHeadingAveragingSeconds = d.pedestrianHeadingAveragingSeconds; }},
      {10, u"301", [&](vov::GPSSettings& r) { r.pedestrianHeadingAveragingSeconds = d.pedestrianHeadingAveragingSeconds; }},
      {11, u"4", [&](vov::GPSSettings& r) { r.headingAveragingMode = d.headingAveragingMode; }},
      {12, u"NAN", [&](vov::GPSSettings& r) { r.inertialReceiverUserHeight = d.inertialReceiverUserHeight; }},
      {12, u"-1.7", [&](vov::GPSSettings& r) { r.inertialReceiverUserHeight = d.inertialReceiverUserHeight; }},
  };
  for (const Row& row : gpsRows) {
    SCOPED_TRACE(platform::Utf16ToUtf8(row.value));
    log_.clear();
    vov::GPSSettings read, expected = FilledGPS();
    row.restore(expected);
    const vov::SettingsReadReport report =
        vov::ParseGPSSettings(WithField(vov::FormatGPSSettings(FilledGPS()), row.field, row.value), read);
    EXPECT_EQ(report.result, SettingsFileResult::kMalformedField);
    EXPECT_EQ(report.field, row.field);
    EXPECT_EQ(read, expected);
    EXPECT_EQ(log_.size(), 1u);
  }
  // The edges are settings still.
  vov::GPSSettings edge;
  std::string bytes = WithField(vov::FormatGPSSettings(FilledGPS()), 8, u"-90");
  bytes = WithField(bytes, 9, u"180");
  EXPECT_EQ(vov::ParseGPSSettings(bytes, edge).result, SettingsFileResult::kRead);
  EXPECT_EQ(edge.lastLatitude, -90.0);
  EXPECT_EQ(edge.lastLongitude, 180.0);

  struct SystemRow {
    int field;
    const char16_t* value;
    std::function<void(vov::SystemSettings&)> restore;
  };
  const vov::SystemSettings s;
  const SystemRow systemRows[] = {
      {2, u"-50", [&](vov::SystemSettings& r) { r.arrivalDistanceFeet = s.arrivalDistanceFeet; }},
      {5, u"3", [&](vov::SystemSettings& r) { r.defaultCompassDescriptions = s.defaultCompassDescriptions; }},
      {6, u"4", [&](vov::SystemSettings& r) { r.headingMode = s.headingMode; }},
      {8, u"7", [&](vov::SystemSettings& r) { r.units = s.units; }},
      {14, u"360", [&](vov::SystemSettings& r) { r.virtualHeading = s.virtualHeading; }},
      {14, u"-2", [&](vov::SystemSettings& r) { r.virtualHeading = s.virtualHeading; }},
      {15, u"nan", [&](vov::SystemSettings& r) { r.virtualLatitude = s.virtualLatitude; }},
      {16, u"inf", [&](vov::SystemSettings& r) { r.virtualLongitude = s.virtualLongitude; }},
      {19, u"-91", [&](vov::SystemSettings& r) { r.destinationLatitude = s.destinationLatitude; }},
      {23, u"3", [&](vov::SystemSettings& r) { r.virtualSideOfStreet = s.virtualSideOfStreet; }},
  };
  for (const SystemRow& row : systemRows) {
    SCOPED_TRACE(platform::Utf16ToUtf8(row.value));
    vov::SystemSettings read, expected = FilledSystem();
    row.restore(expected);
    const vov::SettingsReadReport report =
        vov::ParseSystemSettings(WithField(vov::FormatSystemSettings(FilledSystem()), row.field, row.value), read);
    EXPECT_EQ(report.result, SettingsFileResult::kMalformedField);
    EXPECT_EQ(report.field, row.field);
    EXPECT_EQ(read, expected);
  }

  // Enumerations of the other two files.
  vov::LookaroundSettings lookaround;
  EXPECT_EQ(vov::ParseLookaroundSettings(WithField(vov::FormatLookaroundSettings(FilledLookaround()), 16, u"5"),
                                         lookaround)
                .field,
            16);
  EXPECT_EQ(lookaround.poiSearchDirection, vov::LookaroundSettings().poiSearchDirection);
  lookaround = {};
  EXPECT_EQ(vov::ParseLookaroundSettings(WithField(vov::FormatLookaroundSettings(FilledLookaround()), 21, u"4"),
                                         lookaround)
                .field,
            21);
  EXPECT_EQ(lookaround.routeOptions, vov::LookaroundSettings().routeOptions);
  vov::RouteSettings gpsMode, virtualMode;
  EXPECT_EQ(vov::ParseRouteSettings(WithField(vov::FormatRouteSettings({}, {}), 7, u"2"), gpsMode, virtualMode).field,
            7);
  EXPECT_EQ(virtualMode.waypointMode, vov::RouteSettings().waypointMode);
  EXPECT_EQ(vov::ParseRouteSettings(WithField(vov::FormatRouteSettings({}, {}), 6, u"-1"), gpsMode, virtualMode).field,
            6);
  EXPECT_EQ(gpsMode.numberingDescriptions, vov::RouteSettings().numberingDescriptions);
}

// A "|" inside a text would end its field early and shift every field after
// it; it is written as "/", so the file reads back exactly as written.
TEST_F(SettingsFiles, BarsInTextsAreWrittenAsSlashes) {
  vov::SystemSettings system = FilledSystem();
  system.poiAuthor = u"Ann|Bob";
  system.virtualName = u"|";
  const std::string bytes = vov::FormatSystemSettings(system);
  vov::SystemSettings read;
  EXPECT_EQ(vov::ParseSystemSettings(bytes, read).result, SettingsFileResult::kRead);
  EXPECT_EQ(read.poiAuthor, u"Ann/Bob");
  EXPECT_EQ(read.virtualName, u"/");
  EXPECT_EQ(read.virtualStreetName, u"Elm Street");
  EXPECT_FALSE(read.virtualExploration);
  EXPECT_EQ(vov::FormatSystemSettings(read), bytes);
}

TEST_F(SettingsFiles, FilesAreReadWithinTheBoundAndFoundBelowTheDeviceRoot) {
  const std::u16string folder = u"\\CompactFlash\\Settings";  // the phone ignores case
  const std::u16string path = vov::SettingsFilePath(folder, vov::kRouteSettingsFileName);
  EXPECT_EQ(path, u"\\CompactFlash\\Settings/GPSRouteSettings.inf");
  EXPECT_EQ(vov::SettingsFilePath(u"\\x\\", u"f"), u"\\x\\f");
  EXPECT_EQ(vov::SettingsFilePath(u"/x/", u"f"), u"/x/f");

  vov::RouteSettings gps, virtualMode;
  EXPECT_EQ(vov::LoadSettingsFile(path, gps, virtualMode).result, SettingsFileResult::kMissing);
  EXPECT_TRUE(log_.empty());

  // The largest file read, and one byte more.
  std::string padded = Bytes(u"1|0|0|1|0|2|0|0|1|0|2|");
  const std::string valid = padded;
  padded.resize(vov::kMaxSettingsFileBytes, '\0');
  padded[valid.size()] = '|';
  WriteHostFile("GPSRouteSettings.inf", padded);
  EXPECT_EQ(vov::LoadSettingsFile(path, gps, virtualMode).result, SettingsFileResult::kRead);
  EXPECT_EQ(gps.waypointMode, WaypointModeAll);
  EXPECT_EQ(virtualMode.numberingDescriptions, Both);

  padded.push_back('\0');
  WriteHostFile("GPSRouteSettings.inf", padded);
  vov::RouteSettings gpsLarge, virtualLarge;
  EXPECT_EQ(vov::LoadSettingsFile(path, gpsLarge, virtualLarge).result, SettingsFileResult::kTooLarge);
  EXPECT_EQ(gpsLarge, vov::RouteSettings());
  ASSERT_EQ(log_.size(), 1u);
  EXPECT_NE(log_[0].find("GPSRouteSettings.inf: too large"), std::string::npos) << log_[0];
}

// A save that dies part way leaves the old file whole; the next save
// replaces the leftover temporary file.
TEST_F(SettingsFiles, ASaveThatDiesLeavesTheOldFile) {
  const std::u16string path = vov::SettingsFilePath(u"\\CompactFlash\\settings", vov::kGPSSettingsFileName);
  const std::string before = vov::FormatGPSSettings(vov::GPSSettings());
  const std::string after = vov::FormatGPSSettings(FilledGPS());
  ASSERT_EQ(vov::SaveSettingsFile(path, before), SettingsFileResult::kWritten);
  for (long crashAt : {0L, 1L, static_cast<long>(after.size() / 2), static_cast<long>(after.size())}) {
    const int status = testing_support::RunInChild([&] {
      platform::SetReplaceCrashAfterBytesForTest(crashAt);
      (void)vov::SaveSettingsFile(path, after);
    });
    ASSERT_EQ(status, 9) << "crash after " << crashAt << " bytes";
    EXPECT_EQ(ReadHostFile("GPSReceiverSettings.inf"), before) << "crash after " << crashAt << " bytes";
  }
  EXPECT_EQ(vov::SaveSettingsFile(path, after), SettingsFileResult::kWritten);
  EXPECT_EQ(ReadHostFile("GPSReceiverSettings.inf"), after);
  EXPECT_FALSE(fs::exists(HostFile("GPSReceiverSettings.inf.tmp")));

  // No folder: the write fails, says so, and creates nothing.
  log_.clear();
  EXPECT_EQ(vov::SaveSettingsFile(u"\\NoSuchFolder/GPSReceiverSettings.inf", after), SettingsFileResult::kWriteFailed);
  ASSERT_EQ(log_.size(), 1u);
  EXPECT_NE(log_[0].find("write failed"), std::string::npos);
}

}  // namespace
