// The settings objects' property rules and the Utility: the settings it holds,
// loaded, saved and set from the user's copies, and its language texts.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "engine/core/BluetoothDevices.h"
#include "engine/core/EngineUtilities.h"
#include "engine/core/SettingsObjects.h"
#include "engine/core/Utility.h"
#include "platform/com/owners.h"
#include "platform/os/debug.h"
#include "platform/os/device.h"
#include "platform/os/text.h"
#include "tests/engine/core/engine_objects.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

std::u16string Take(BSTR text) {
  std::u16string copy(text == nullptr ? u"" : text, SysStringLen(text));
  SysFreeString(text);
  return copy;
}

// A device root of its own with a settings folder, and a fresh Utility.
class Settings : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = folder_.string();
    platform::SetDeviceRoot(root_);
    fs::create_directories(root_ + "/CompactFlash/settings");
    vov::Utility::Release();
  }
  void TearDown() override {
    vov::Utility::Release();
    vov::Utility::SetDefaultLanguageLibrary(u"");
    platform::SetDeviceRoot("");
  }
  std::string ReadHostFile(const std::string& name) const {
    std::ifstream in(root_ + "/CompactFlash/settings/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  testing_support::TempFolder folder_{"settings"};
  std::string root_;
};

// ---- settings objects ---------------------------------------------------------------------

// Arrival distance and arrived-near threshold: feet inside, metres for every
// unit but Imperial, and the threshold never above the distance.
TEST_F(Settings, ArrivalDistancesConvertAndKeepTheThresholdBelow) {
  struct Step {
    enum { kDistance, kThreshold } what;
    Units units;
    LONG value;
    LONG distanceFeet, thresholdFeet;  // stored afterwards
  };
  const std::vector<Step> steps = {
      {Step::kDistance, Imperial, 100, 100, 12},
      {Step::kThreshold, Imperial, 50, 100, 50},
      {Step::kDistance, Metric, 10, 33, 33},          // 10 m is 33 ft and lowers the threshold
      {Step::kThreshold, Imperial, 40, 33, 33},       // above the distance: the distance
      {Step::kThreshold, Nautical, 3, 33, 10},        // 3 m
      {Step::kThreshold, Imperial, -5, 33, 0},        // negative: 0
      {Step::kDistance, BritishNautical, 100, 328, 0},
      {Step::kDistance, Metric, 0x7FFFFFFF, 0x7FFFFFFF, 0},  // stops at the end of the range
  };
  auto system = Make<CSystemSettingsObject>();
  for (const Step& step : steps) {
    SCOPED_TRACE(step.value);
    if (step.what == Step::kDistance) {
      EXPECT_EQ(system->SetArrivalDistance(step.units, step.value), S_OK);
    } else {
      EXPECT_EQ(system->SetArrivedNearThreshold(step.units, step.value), S_OK);
    }
    LONG distance = 0, threshold = 0;
    EXPECT_EQ(system->GetArrivalDistance(Imperial, &distance), S_OK);
    EXPECT_EQ(system->GetArrivedNearThreshold(Imperial, &threshold), S_OK);
    EXPECT_EQ(distance, step.distanceFeet);
    EXPECT_EQ(threshold, step.thresholdFeet);
  }
  struct Read {
    LONG feet;
    Units units;
    LONG expected;
  };
  for (const Read& r : {Read{50, Metric, 15}, Read{50, Imperial, 50}, Read{12, Nautical, 4}, Read{1, Metric, 0},
                        Read{2, Metric, 1}}) {
    EXPECT_EQ(vov::FeetToUnits(r.feet, r.units), r.expected) << r.feet << " ft";
  }
  EXPECT_EQ(system->GetArrivalDistance(Metric, nullptr), E_POINTER);
}

TEST_F(Settings, LookaroundClampsAndSettingsFolderMakesTheDebugFolder) {
  auto lookaround = Make<CLookaroundSettingsObject>();
  struct Row {
    LONG set, interval, speed;
  };
  for (const Row& row : {Row{2, 5, 2}, Row{1000, 300, 1000}, Row{5, 5, 5}, Row{300, 300, 300}, Row{-7, 5, 0},
                         Row{60, 60, 60}}) {
    LONG interval = 0, speed = 0;
    EXPECT_EQ(lookaround->SetLookaroundReportingInterval(row.set), S_OK);
    EXPECT_EQ(lookaround->SetIntersectionMaxSpeedForReporting(row.set), S_OK);
    EXPECT_EQ(lookaround->GetLookaroundReportingInterval(&interval), S_OK);
    EXPECT_EQ(lookaround->GetIntersectionMaxSpeedForReporting(&speed), S_OK);
    EXPECT_EQ(interval, row.interval) << row.set;
    EXPECT_EQ(speed, row.speed) << row.set;
  }

  auto system = Make<CSystemSettingsObject>();
  struct Folder {
    const char16_t* settings;
    const char16_t* debug;
  };
  for (const Folder& f : {Folder{u"\\Storage Card\\settings", u"\\Storage Card\\settings/Debug"},
                          Folder{u"\\settings\\", u"\\settings\\Debug"}, Folder{u"/x/", u"/x/Debug"},
                          Folder{u"", u"/Debug"}}) {
    com::Bstr folder;
    ASSERT_TRUE(folder.Assign(f.settings));
    EXPECT_EQ(system->SetSettingsDirectory(folder), S_OK);
    BSTR settings = nullptr, debug = nullptr;
    EXPECT_EQ(system->GetSettingsDirectory(&settings), S_OK);
    EXPECT_EQ(system->GetDebugDirectory(&debug), S_OK);
    EXPECT_EQ(Take(settings), f.settings);
    EXPECT_EQ(Take(debug), f.debug);
  }
}

// The debug log decides once whether its folder is there; a new settings
// folder makes it decide again, so a folder made since then is logged to.
TEST_F(Settings, ANewSettingsFolderDecidesTheDebugLogAfresh) {
  vov::ResetDebugLogDecision();
  vov::WriteDebugLog(u"\\CompactFlash\\settings\\Debug", u"lost", false, false);  // no folder yet: off
  fs::create_directories(root_ + "/CompactFlash/settings/Debug");
  vov::WriteDebugLog(u"\\CompactFlash\\settings\\Debug", u"lost as well", false, false);
  EXPECT_FALSE(fs::exists(root_ + "/CompactFlash/settings/Debug/gpsDebug.txt"));

  auto system = Make<CSystemSettingsObject>();
  com::Bstr folder;
  ASSERT_TRUE(folder.Assign(u"\\CompactFlash\\settings"));
  ASSERT_EQ(system->SetSettingsDirectory(folder), S_OK);
  vov::WriteDebugLog(u"\\CompactFlash\\settings\\Debug", u"kept", false, false);
  EXPECT_EQ(ReadHostFile("Debug/gpsDebug.txt"), "kept\n");
  vov::ResetDebugLogDecision();
}

// A paired device whose port number cannot be read.
class FakeBluetoothDevice : public com::ComClass<FakeBluetoothDevice, IBluetoothDeviceObject> {
 public:
  HRESULT STDMETHODCALLTYPE GetName(BSTR* pVal) override { return Out(pVal, u"Holux GR-231"); }
  HRESULT STDMETHODCALLTYPE GetPortName(BSTR* pVal) override { return Out(pVal, u"COM"); }
  HRESULT STDMETHODCALLTYPE GetPortNumber(SHORT*) override { return E_FAIL; }
  HRESULT STDMETHODCALLTYPE IsActive(SHORT* pVal) override {
    *pVal = -1;
    return S_OK;
  }

 private:
  static HRESULT Out(BSTR* out, const char16_t* text) {
    *out = SysAllocString(text);
    return S_OK;
  }
};

TEST_F(Settings, BluetoothReceiverTakesTheDevicesPortAndNothingElseWhenItFails) {
  auto gps = Make<CGPSSettingsObject>();
  gps->Record() = vov::GPSSettings();
  gps->Record().simulatedGPSFile = u"\\walk.TRC";
  gps->Record().receiverType = GPSTypeSimulated;
  gps->Record().baudRate = 9600;
  auto device = Make<FakeBluetoothDevice>();
  const vov::GPSSettings before = gps->Record();
  EXPECT_EQ(gps->SetUpBluetoothReceiver(device.get()), E_FAIL);
  EXPECT_EQ(gps->Record(), before);
  EXPECT_EQ(gps->SetUpBluetoothReceiver(nullptr), E_POINTER);

  auto paired = Make<CBluetoothDeviceObject>();
  ASSERT_TRUE(paired->m_bstrName.Assign(u"Holux GR-231"));
  ASSERT_TRUE(paired->m_bstrPortName.Assign(u"COM"));
  paired->m_nPortNumber = 8;
  paired->m_nActive = -1;
  EXPECT_EQ(gps->SetUpBluetoothReceiver(paired.get()), S_OK);
  vov::GPSSettings expected = before;
  expected.receiverName = u"Holux GR-231";
  expected.portName = u"COM";
  expected.portNumber = 8;
  expected.simulatedGPSFile.clear();
  expected.receiverType = GPSTypeBlueTooth;
  expected.baudRate = 4800;
  EXPECT_EQ(gps->Record(), expected);
}

// The look-around settings own their category objects: a given object is
// copied in, and what the getter hands out is the settings' own.
TEST_F(Settings, LookaroundCopiesCategoriesIntoItsOwnObjects) {
  auto lookaround = Make<CLookaroundSettingsObject>();
  auto category = Make<CPOICategoryObject>();
  ASSERT_EQ(category->SetCategoryName(u"Fuel"), S_OK);
  category->SetCategoryNumber(2);
  auto subCategory = Make<CPOISubCategoryObject>();
  ASSERT_EQ(subCategory->SetSubCategoryName(u"Charging station"), S_OK);
  subCategory->SetMainCategoryNumber(2);
  subCategory->SetSubCategoryNumber(2);
  EXPECT_EQ(lookaround->SetCommercialCategoryToScanFor(category.get()), S_OK);
  EXPECT_EQ(lookaround->SetCommercialSubCategoryToScanFor(subCategory.get()), S_OK);
  ASSERT_EQ(category->SetCategoryName(u"changed later"), S_OK);

  IPOICategoryObject* held = nullptr;
  ASSERT_EQ(lookaround->GetCommercialCategoryToScanFor(&held), S_OK);
  Held<IPOICategoryObject> heldOwner(held);
  EXPECT_NE(static_cast<void*>(held), static_cast<void*>(static_cast<IPOICategoryObject*>(category.get())));
  held->SetCategoryNumber(5);  // a change through the handed-out object is a change of the settings
  const vov::LookaroundSettings record = lookaround->Record();
  EXPECT_EQ(record.categoryName, u"Fuel");
  EXPECT_EQ(record.categoryNumber, 5);
  EXPECT_EQ(record.subCategoryName, u"Charging station");
  EXPECT_EQ(record.subCategoryMainNumber, 2);
  EXPECT_EQ(record.subCategoryNumber, 2);
  EXPECT_EQ(lookaround->SetCommercialCategoryToScanFor(nullptr), E_POINTER);
}

// ---- the Utility ---------------------------------------------------------------------------

TEST_F(Settings, UtilityStartsWithDefaultsAndTheEnglishTexts) {
  vov::Utility& utility = *vov::Utility::Instance();
  EXPECT_EQ(&utility, vov::Utility::Instance().get());
  ASSERT_TRUE(utility.LanguageLoaded());
  EXPECT_EQ(utility.SystemSettings().Record(), vov::SystemSettings());
  EXPECT_EQ(utility.SystemSettings().SettingsDirectory(), u"\\CompactFlash\\settings");
  EXPECT_EQ(utility.SystemSettings().DebugDirectory(), u"\\CompactFlash\\settings/Debug");
  EXPECT_EQ(utility.GPSSettings().Record(), vov::GPSSettings());
  EXPECT_EQ(utility.RouteSettings(GPSMode).Record(), vov::RouteSettings());
  EXPECT_EQ(utility.RouteSettings(VirtualMode).Record(), vov::RouteSettings());
  vov::LookaroundSettings lookaround;
  lookaround.categoryName = u"All categories";
  lookaround.subCategoryName = u"All subcategories";
  EXPECT_EQ(utility.LookaroundSettings().Record(), lookaround);
  EXPECT_EQ(utility.DefaultCategoryName(), u"All categories");

  struct Ordinal {
    LONG n;
    const char16_t* suffix;
  };
  for (const Ordinal& o : {Ordinal{1, u"st"}, Ordinal{2, u"nd"}, Ordinal{3, u"rd"}, Ordinal{4, u"th"},
                           Ordinal{0, u"th"}, Ordinal{11, u"th"}, Ordinal{12, u"th"}, Ordinal{13, u"th"},
                           Ordinal{21, u"st"}, Ordinal{22, u"nd"}, Ordinal{111, u"th"}, Ordinal{112, u"th"},
                           Ordinal{-2, u"nd"}, Ordinal{-2147483647 - 1, u"th"}}) {
    EXPECT_EQ(utility.GetOrdinalSuffix(o.n), o.suffix) << o.n;
  }
}

TEST_F(Settings, TextsAreEmptyWithoutALibraryAndFormatsNeverOverrun) {
  vov::Utility& utility = *vov::Utility::Instance();
  // 23111 is "Ramp from %s to %s".
  EXPECT_EQ(utility.FormatResourceString(23111, {u"A", u"B"}), u"Ramp from A to B");
  EXPECT_EQ(utility.FormatResourceString(23111, {u"A"}), u"Ramp from A to %s");  // missing argument: left as is
  const std::u16string longName(3000, u'x');
  EXPECT_EQ(utility.FormatResourceString(23111, {longName, u"B"}).size(), vov::Utility::kMaxFormattedLength);
  EXPECT_EQ(utility.LoadResourceString(1), u"");  // no such text

  EXPECT_FALSE(utility.SetResources(u"/no/such/Lexiforn_XX.so"));
  EXPECT_FALSE(utility.LanguageLoaded());
  EXPECT_EQ(utility.LoadResourceString(23097), u"");
  EXPECT_EQ(utility.GetOrdinalSuffix(1), u"");
  EXPECT_EQ(utility.FormatResourceString(23111, {u"A", u"B"}), u"");

  // A Utility made while no library can be found has none, and empty default names.
  vov::Utility::Release();
  vov::Utility::SetDefaultLanguageLibrary(u"/no/such/Lexiforn_EN.so");
  vov::Utility& bare = *vov::Utility::Instance();
  EXPECT_FALSE(bare.LanguageLoaded());
  EXPECT_EQ(bare.LookaroundSettings().Record().categoryName, u"");
}

// Every settings file saved from the held objects loads back into equal
// objects (after a restart of the Utility) and saves again byte for byte.
TEST_F(Settings, EverySettingsFileSavesLoadsAndSavesAgainByteForByte) {
  const std::u16string folder = u"\\CompactFlash\\settings";
  {
    vov::Utility& utility = *vov::Utility::Instance();
    ASSERT_EQ(utility.LoadSystemSettings(folder), S_OK);
    utility.SystemSettings().Record().poiAuthor = u"Zoë | 北京";
    utility.SystemSettings().Record().virtualLatitude = 40.7484405;
    utility.GPSSettings().Record().receiverName = u"Garmin GLO";
    utility.GPSSettings().Record().lastLongitude = -73.9856644;
    vov::LookaroundSettings lookaround = utility.LookaroundSettings().Record();
    lookaround.categoryNumber = 3;
    lookaround.lookaroundReportingInterval = 40;
    ASSERT_EQ(utility.LookaroundSettings().SetRecord(lookaround), S_OK);
    utility.RouteSettings(VirtualMode).Record().waypointMode = WaypointModeAll;
    EXPECT_EQ(utility.SaveSystemSettings(), vov::SettingsFileResult::kWritten);
    EXPECT_EQ(utility.SaveGPSSettings(), vov::SettingsFileResult::kWritten);
    EXPECT_EQ(utility.SaveLookaroundSettings(), vov::SettingsFileResult::kWritten);
    EXPECT_EQ(utility.SaveRouteSettings(), vov::SettingsFileResult::kWritten);
  }
  const char* names[] = {"GPSSystemSettings.inf", "GPSReceiverSettings.inf", "GPSLookaroundSettings.inf",
                         "GPSRouteSettings.inf"};
  std::vector<std::string> written;
  for (const char* name : names) written.push_back(ReadHostFile(name));

  vov::Utility::Release();
  vov::Utility& utility = *vov::Utility::Instance();
  vov::SettingsReadReport report;
  ASSERT_EQ(utility.LoadSystemSettings(folder, &report), S_OK);
  EXPECT_EQ(report.result, vov::SettingsFileResult::kRead);
  ASSERT_EQ(utility.LoadGPSSettings(&report), S_OK);
  EXPECT_EQ(report.result, vov::SettingsFileResult::kRead);
  ASSERT_EQ(utility.LoadLookaroundSettings(&report), S_OK);
  EXPECT_EQ(report.result, vov::SettingsFileResult::kRead);
  ASSERT_EQ(utility.LoadRouteSettings(&report), S_OK);
  EXPECT_EQ(report.result, vov::SettingsFileResult::kRead);
  EXPECT_EQ(utility.GetPOIAuthor(), u"Zoë / 北京");
  EXPECT_EQ(utility.SystemSettings().Record().virtualLatitude, 40.7484405);
  EXPECT_EQ(utility.GPSSettings().Record().receiverName, u"Garmin GLO");
  EXPECT_EQ(utility.LookaroundSettings().Record().lookaroundReportingInterval, 40);
  EXPECT_EQ(utility.LookaroundSettings().Record().categoryNumber, 3);
  EXPECT_EQ(utility.RouteSettings(VirtualMode).Record().waypointMode, WaypointModeAll);
  EXPECT_EQ(utility.RouteSettings(GPSMode).Record().waypointMode, WaypointModeTurnsOnly);

  EXPECT_EQ(utility.SaveSystemSettings(), vov::SettingsFileResult::kWritten);
  EXPECT_EQ(utility.SaveGPSSettings(), vov::SettingsFileResult::kWritten);
  EXPECT_EQ(utility.SaveLookaroundSettings(), vov::SettingsFileResult::kWritten);
  EXPECT_EQ(utility.SaveRouteSettings(), vov::SettingsFileResult::kWritten);
  for (std::size_t i = 0; i < written.size(); ++i) EXPECT_EQ(ReadHostFile(names[i]), written[i]) << names[i];
}

TEST_F(Settings, LoadingWithoutFilesGivesDefaultsInTheGivenFolder) {
  vov::Utility& utility = *vov::Utility::Instance();
  utility.GPSSettings().Record().baudRate = 9600;
  fs::create_directories(root_ + "/Storage Card/Tirvane");
  vov::SettingsReadReport report;
  ASSERT_EQ(utility.LoadSystemSettings(u"\\Storage Card\\Tirvane\\", &report), S_OK);
  EXPECT_EQ(report.result, vov::SettingsFileResult::kMissing);
  EXPECT_EQ(utility.SystemSettings().Record().mapPOIDirectory, u"\\CompactFlash\\maps");
  EXPECT_EQ(utility.SystemSettings().SettingsDirectory(), u"\\Storage Card\\Tirvane\\");
  EXPECT_EQ(utility.SystemSettings().DebugDirectory(), u"\\Storage Card\\Tirvane\\Debug");
  ASSERT_EQ(utility.LoadGPSSettings(&report), S_OK);
  EXPECT_EQ(report.result, vov::SettingsFileResult::kMissing);
  EXPECT_EQ(utility.GPSSettings().Record().baudRate, 4800);
  // Saves go to the settings folder, whatever case it was given in.
  EXPECT_EQ(utility.SaveGPSSettings(), vov::SettingsFileResult::kWritten);
  EXPECT_TRUE(fs::exists(root_ + "/Storage Card/Tirvane/GPSReceiverSettings.inf"));
}

// The receiver source is opened again unless only the heading averaging changed.
TEST_F(Settings, SettingTheReceiverSaysWhetherToReopenTheSource) {
  vov::Utility& utility = *vov::Utility::Instance();
  ASSERT_EQ(utility.LoadSystemSettings(u"\\CompactFlash\\settings"), S_OK);
  struct Row {
    const char* change;
    std::function<void(IGPSSettingsObject*)> apply;
    bool sourceChanged, reopen;
  };
  const Row rows[] = {
      {"nothing", [](IGPSSettingsObject*) {}, false, true},
      {"heading averaging mode", [](IGPSSettingsObject* s) { s->SetHeadingAveragingMode(ManualHeadings); }, false,
       false},
      {"averaging seconds", [](IGPSSettingsObject* s) { s->SetPedestrianHeadingAveragingSeconds(8); }, false, false},
      {"baud rate", [](IGPSSettingsObject* s) { s->SetGPSBaudRate(9600); }, false, true},
      // A port that changes with the averaging is reopened all the same, at its new rate or name.
      {"baud rate and averaging mode",
       [](IGPSSettingsObject* s) {
         s->SetGPSBaudRate(4800);
         s->SetHeadingAveragingMode(BigCityHeadings);
       },
       false, true},
      {"port number and averaging seconds",
       [](IGPSSettingsObject* s) {
         s->SetGPSPortNumber(7);
         s->SetPedestrianHeadingAveragingSeconds(12);
       },
       false, true},
      {"port name and averaging mode",
       [](IGPSSettingsObject* s) {
         com::Bstr name;
         ASSERT_TRUE(name.Assign(u"COM"));
         s->SetGPSPortName(name);
         s->SetHeadingAveragingMode(AutomaticHeadings);
       },
       false, true},
      {"receiver type and averaging",
       [](IGPSSettingsObject* s) {
         s->SetGPSReceiverType(GPSTypeSerial);
         s->SetHeadingAveragingMode(InstantaneousHeadings);
       },
       true, true},
      {"receiver name",
       [](IGPSSettingsObject* s) {
         com::Bstr name;
         ASSERT_TRUE(name.Assign(u"Other"));
         s->SetGPSReceiverName(name);
       },
       true, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.change);
    IGPSSettingsObject* copy = nullptr;
    ASSERT_EQ(utility.CopyGPSSettings(&copy), S_OK);
    Held<IGPSSettingsObject> owner(copy);
    row.apply(copy);
    bool sourceChanged = true, reopen = true;
    ASSERT_EQ(utility.SetGPSSettings(copy, &sourceChanged, &reopen), S_OK);
    EXPECT_EQ(sourceChanged, row.sourceChanged);
    EXPECT_EQ(reopen, row.reopen);
  }
  // Each change was saved.
  vov::GPSSettings onDisk;
  EXPECT_EQ(vov::LoadSettingsFile(u"\\CompactFlash\\settings/GPSReceiverSettings.inf", onDisk).result,
            vov::SettingsFileResult::kRead);
  EXPECT_EQ(onDisk, utility.GPSSettings().Record());
  EXPECT_EQ(onDisk.receiverName, u"Other");
}

// A settings folder that names nothing, or lies outside the device root, is
// never read or written: loading takes the default folder, setting keeps the
// folder the engine had.
TEST_F(Settings, AFolderOutsideTheDeviceRootOrEmptyIsNeverUsed) {
  testing_support::TempFolder outside{"settings-outside"};
  const std::u16string outsideFolder = platform::Utf8ToUtf16(outside.string());
  const std::u16string climbing = platform::Utf8ToUtf16(root_ + "/../" + outside.path().filename().string());
  vov::Utility& utility = *vov::Utility::Instance();
  for (const std::u16string& bad : {std::u16string(), outsideFolder, climbing}) {
    SCOPED_TRACE(platform::Utf16ToUtf8(bad));
    ASSERT_EQ(utility.LoadSystemSettings(bad), S_OK);
    EXPECT_EQ(utility.SystemSettings().SettingsDirectory(), vov::kDefaultSettingsDirectory);

    ASSERT_EQ(utility.LoadSystemSettings(u"\\CompactFlash\\settings"), S_OK);
    ISystemSettingsObject* copy = nullptr;
    ASSERT_EQ(utility.CopySystemSettings(&copy), S_OK);
    Held<ISystemSettingsObject> owner(copy);
    com::Bstr folder;
    ASSERT_TRUE(folder.Assign(bad));
    ASSERT_EQ(copy->SetSettingsDirectory(folder), S_OK);
    bool mapsChanged = false;
    ASSERT_EQ(utility.SetSystemSettings(copy, &mapsChanged), S_OK);
    EXPECT_EQ(utility.SystemSettings().SettingsDirectory(), u"\\CompactFlash\\settings");
    EXPECT_FALSE(fs::exists(outside.path() / "GPSSystemSettings.inf"));
    EXPECT_FALSE(fs::exists(fs::path(root_) / "GPSSystemSettings.inf"));
    EXPECT_TRUE(fs::exists(fs::path(root_) / "CompactFlash/settings/GPSSystemSettings.inf"));
  }
  // A phone path that climbs is still below the root, and is used.
  EXPECT_TRUE(vov::IsUsableSettingsFolder(u"\\..\\settings"));
  EXPECT_TRUE(vov::IsUsableSettingsFolder(platform::Utf8ToUtf16(root_ + "/settings")));
}

TEST_F(Settings, SettingTheSystemSettingsCopiesThemAndAsksForNewMapsWhenNeeded) {
  vov::Utility& utility = *vov::Utility::Instance();
  ASSERT_EQ(utility.LoadSystemSettings(u"\\CompactFlash\\settings"), S_OK);
  utility.SystemSettings().Record().virtualName = u"kept";  // engine state is not the user's to set
  ISystemSettingsObject* copy = nullptr;
  ASSERT_EQ(utility.CopySystemSettings(&copy), S_OK);
  Held<ISystemSettingsObject> owner(copy);
  copy->SetUnits(Metric);
  copy->SetArrivalDistance(Metric, 10);
  bool mapsChanged = true;
  ASSERT_EQ(utility.SetSystemSettings(copy, &mapsChanged), S_OK);
  EXPECT_FALSE(mapsChanged);
  EXPECT_EQ(utility.SystemSettings().Record().units, Metric);
  EXPECT_EQ(utility.SystemSettings().Record().arrivalDistanceFeet, 33);
  EXPECT_EQ(utility.SystemSettings().Record().arrivedNearThresholdFeet, 12);
  EXPECT_EQ(utility.SystemSettings().Record().virtualName, u"kept");

  copy->SetForceNewMapPOIFolder(VARIANT_TRUE);
  ASSERT_EQ(utility.SetSystemSettings(copy, &mapsChanged), S_OK);
  EXPECT_TRUE(mapsChanged);
  copy->SetForceNewMapPOIFolder(VARIANT_FALSE);
  com::Bstr maps;
  ASSERT_TRUE(maps.Assign(u"\\Storage Card\\maps"));
  copy->SetMapPOIDirectory(maps);
  ASSERT_EQ(utility.SetSystemSettings(copy, &mapsChanged), S_OK);
  EXPECT_TRUE(mapsChanged);
  EXPECT_EQ(utility.SetSystemSettings(nullptr, &mapsChanged), E_POINTER);
}

}  // namespace
