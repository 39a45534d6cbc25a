// The map engine object's own state: defaults, the settings operations, the
// map-folder property, the load counters and the debug log.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "mapengine/object/CMap.h"
#include "platform/os/clock.h"
#include "platform/os/debug.h"
#include "platform/os/device.h"
#include "platform/os/text.h"
#include "tests/mapengine/object/map_engine_fixture.h"

namespace {

class CMapTest : public MapEngineTest {
 protected:
  static std::u16string Text(BSTR b) { return std::u16string(b, SysStringLen(b)); }
  void SetBstrSetting(HRESULT (CMap::*setter)(BSTR), const char16_t* text) {
    BSTR b = SysAllocString(text);
    ASSERT_EQ((map_->*setter)(b), S_OK);
    SysFreeString(b);
  }
  std::string ReadLog(const std::string& folder) {
    std::ifstream in(root_ + "/" + folder + "/gpsDebug.txt", std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }
};

TEST_F(CMapTest, NewObjectHasTheDocumentedDefaults) {
  EXPECT_EQ(map_->MAX_NUMBER_MAPS_OPEN, 255);
  EXPECT_EQ(map_->MAX_NUMBER_POIS_OPEN, 255);
  EXPECT_EQ(map_->m_nMapMemoryKB, 2000);
  EXPECT_EQ(map_->m_nPOIMemoryKB, 768);
  EXPECT_EQ(map_->FindRouteInitialHeading, -1);
  EXPECT_EQ(map_->m_nWPFeatureIndex, -1);
  EXPECT_EQ(map_->m_nRouteWaypointMode, 1);
  EXPECT_EQ(map_->m_NextIntersectionCache.heading, -1);
  EXPECT_EQ(map_->m_NextIntersectionCache.x, 0x7FFFFFFF);
  EXPECT_EQ(map_->m_NextIntersectionCache.y, 0x7FFFFFFF);
  EXPECT_EQ(map_->m_Rdr, nullptr);
  EXPECT_EQ(map_->m_RdrPOI, nullptr);
  EXPECT_EQ(map_->m_pMapNames, nullptr);
  EXPECT_EQ(SysStringLen(map_->m_MapPath), 0u);
  EXPECT_EQ(Text(map_->m_DebugDirectory), u"");
  // The constructor's line reaches the debugger output even with no log folder.
  ASSERT_FALSE(debugOutput_.empty());
  EXPECT_EQ(debugOutput_.front(), u"Constructed VOV");
}

TEST_F(CMapTest, ClearVariablesResetsCountersAndPathsButKeepsLimitsAndModes) {
  map_->SetNumberMaxMaps(10);
  map_->SetNumberMaxCommercialPOIFiles(12);
  map_->SetMapMemoryAllocated(4000);
  map_->SetPOIMemoryAllocatedRME(1000);
  map_->SetRouteWaypointMode(0);
  map_->UsingWinCE42(VARIANT_TRUE);
  map_->put_FindRouteInitialHeading(90);
  SetBstrSetting(&CMap::SetBaseMapPath, u"\\Base");
  SetBstrSetting(&CMap::SetDebugDirectory, u"\\Debug");
  map_->m_nMapsLoaded = 3;
  map_->m_nMapNumber = 3;
  map_->m_nPOIsLoaded = 2;
  map_->m_nMapMemoryBytes = 1234;
  map_->m_nLoadedStateMaps = 3;
  map_->m_bStreetDetailed = 1;
  map_->m_NextIntersectionCache.heading = 45;

  ASSERT_EQ(map_->ClearVariables(), S_OK);

  EXPECT_EQ(map_->MAX_NUMBER_MAPS_OPEN, 10);
  EXPECT_EQ(map_->MAX_NUMBER_POIS_OPEN, 12);
  EXPECT_EQ(map_->m_nRouteWaypointMode, 0);
  EXPECT_EQ(map_->m_bUsingWinCE42, 1);
  EXPECT_EQ(map_->m_nMapMemoryKB, 2000);
  EXPECT_EQ(map_->m_nPOIMemoryKB, 768);
  EXPECT_EQ(map_->FindRouteInitialHeading, -1);
  EXPECT_EQ(map_->m_nMapsLoaded, 0);
  EXPECT_EQ(map_->m_nMapNumber, 0);
  EXPECT_EQ(map_->m_nPOIsLoaded, 0);
  EXPECT_EQ(map_->m_nMapMemoryBytes, 0);
  EXPECT_EQ(map_->m_nLoadedStateMaps, 0);
  EXPECT_EQ(map_->m_bStreetDetailed, 0);
  EXPECT_EQ(map_->m_NextIntersectionCache.heading, -1);
  EXPECT_EQ(Text(map_->m_BaseMapPath), u"");
  EXPECT_EQ(Text(map_->m_DebugDirectory), u"");
}

TEST_F(CMapTest, SettingsStoreTheirValues) {
  map_->UsingWinCE42(5);
  EXPECT_EQ(map_->m_bUsingWinCE42, 1);
  map_->UsingWinCE42(VARIANT_FALSE);
  EXPECT_EQ(map_->m_bUsingWinCE42, 0);
  map_->SetMapMemoryAllocated(-3);
  EXPECT_EQ(map_->m_nMapMemoryKB, -3);
  map_->put_FindRouteInitialHeading(270);
  EXPECT_EQ(map_->FindRouteInitialHeading, 270);
}

TEST_F(CMapTest, MapPathJoinsBaseAndFolder) {
  struct Case {
    const char16_t* base;
    const char16_t* folder;
    const char16_t* expected;
  };
  const Case cases[] = {
      {u"", u"\\Storage Card\\Maps", u"\\Storage Card\\Maps\\"},
      {u"", u"\\Storage Card\\Maps\\", u"\\Storage Card\\Maps\\"},
      {u"", u"maps/", u"maps/"},
      {u"\\Base\\", u"\\Maps", u"\\Base\\Maps\\"},
      {u"\\Base", u"\\Maps", u"\\Base\\Maps\\"},
      {u"\\Base\\\\", u"Maps", u"\\Base\\Maps\\"},  // only one trailing backslash goes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(platform::Utf16ToUtf8(c.base) + " + " + platform::Utf16ToUtf8(c.folder));
    SetBstrSetting(&CMap::SetBaseMapPath, c.base);
    SetBstrSetting(&CMap::put_MapPath, c.folder);
    BSTR path = nullptr;
    ASSERT_EQ(map_->get_MapPath(&path), S_OK);
    EXPECT_EQ(Text(path), c.expected);
    SysFreeString(path);
  }
  // An empty folder changes nothing.
  SetBstrSetting(&CMap::put_MapPath, u"");
  EXPECT_EQ(Text(map_->m_MapPath), u"\\Base\\Maps\\");
  ASSERT_EQ(map_->put_MapPath(nullptr), S_OK);
  EXPECT_EQ(Text(map_->m_MapPath), u"\\Base\\Maps\\");
}

TEST_F(CMapTest, CountGettersRefuseNullAndReportTheirCounters) {
  map_->m_nMapsLoaded = 4;
  map_->m_nLoadedCountryMaps = 1;
  map_->m_nLoadedProvincialMaps = 2;
  map_->m_nLoadedStateMaps = 3;
  map_->m_nLoadedRegionalMaps = 4;
  map_->m_nPOIsLoaded = -2;  // widened with its sign

  struct Getter {
    const char* name;
    HRESULT (CMap::*get)(SHORT*);
    SHORT expected;
  };
  const Getter getters[] = {{"NumberOfMapsLoaded", &CMap::NumberOfMapsLoaded, 4},
                            {"LoadedCountryMaps", &CMap::LoadedCountryMaps, 1},
                            {"LoadedProvincialMaps", &CMap::LoadedProvincialMaps, 2},
                            {"LoadedStateMaps", &CMap::LoadedStateMaps, 3},
                            {"LoadedRegionalMaps", &CMap::LoadedRegionalMaps, 4}};
  for (const Getter& g : getters) {
    SCOPED_TRACE(g.name);
    EXPECT_EQ((map_->*g.get)(nullptr), E_POINTER);
    SHORT value = 99;
    EXPECT_EQ((map_->*g.get)(&value), S_OK);
    EXPECT_EQ(value, g.expected);
  }
  EXPECT_EQ(map_->NumberOfPOIsLoaded(nullptr), E_POINTER);
  LONG pois = 0;
  EXPECT_EQ(map_->NumberOfPOIsLoaded(&pois), S_OK);
  EXPECT_EQ(pois, -2);
  EXPECT_EQ(map_->get_MapPath(nullptr), E_POINTER);
}

TEST_F(CMapTest, CleanUpBeforeInitializeChangesNothing) {
  map_->m_nMapsLoaded = 2;
  ASSERT_EQ(map_->CleanUp(), S_OK);
  EXPECT_EQ(map_->m_nMapsLoaded, 2);
}

// ---- debug log --------------------------------------------------------------------

class CMapLogTest : public CMapTest {
 protected:
  void SetUp() override {
    CMapTest::SetUp();
    SYSTEMTIME start{2026, 3, 0, 7, 9, 5, 1, 0};
    clock_ = std::make_unique<platform::VirtualClock>(start);
    platform::SetClock(clock_.get());
  }
  std::unique_ptr<platform::VirtualClock> clock_;
};

TEST_F(CMapLogTest, LineIsWrittenWithTimePrefixWhenTheFolderExists) {
  std::filesystem::create_directories(root_ + "/Tirvane/Debug");
  SetBstrSetting(&CMap::SetDebugDirectory, u"\\Tirvane\\Debug");
  map_->Log(u"CMap::FindRoute enter");
  map_->Log(u"100% sure, %s %d stay as they are");
  EXPECT_EQ(ReadLog("Tirvane/Debug"),
            "<03 07 2026 09:05:01> CMap::FindRoute enter\n"
            "<03 07 2026 09:05:01> 100% sure, %s %d stay as they are\n");
  EXPECT_EQ(debugOutput_.back(), u"\n");
}

TEST_F(CMapLogTest, NothingIsWrittenWithoutTheFolderAndTheAnswerIsKeptUntilCleanUp) {
  // No folder: the answer "off" is remembered for the process...
  SetBstrSetting(&CMap::SetDebugDirectory, u"\\Tirvane\\Debug");
  map_->Log(u"first");
  EXPECT_FALSE(std::filesystem::exists(root_ + "/Tirvane/Debug/gpsDebug.txt"));

  // ...so a folder made afterwards stays unused, by this and every other object...
  std::filesystem::create_directories(root_ + "/Tirvane/Debug");
  map_->Log(u"second");
  CMap* other = nullptr;
  ASSERT_EQ(CMap::CreateObject(&other), S_OK);
  other->SetDebugDirectory(map_->m_DebugDirectory);
  other->Log(u"from another object");
  other->Release();
  EXPECT_FALSE(std::filesystem::exists(root_ + "/Tirvane/Debug/gpsDebug.txt"));

  // ...until the flag is cleared, as CleanUp does.
  CMap::ClearDebugLogFlag();
  map_->Log(u"third");
  EXPECT_EQ(ReadLog("Tirvane/Debug"), "<03 07 2026 09:05:01> third\n");
}

TEST_F(CMapLogTest, EmptyFolderNameWritesNothingAndDecidesNothing) {
  map_->Log(u"with no folder");  // must not latch "off"
  std::filesystem::create_directories(root_ + "/Debug");
  SetBstrSetting(&CMap::SetDebugDirectory, u"\\Debug");
  map_->Log(u"now on");
  EXPECT_EQ(ReadLog("Debug"), "<03 07 2026 09:05:01> now on\n");
}

TEST_F(CMapLogTest, AFileInPlaceOfTheFolderKeepsTheLogOff) {
  std::ofstream(root_ + "/Debug") << "not a folder";
  SetBstrSetting(&CMap::SetDebugDirectory, u"\\Debug");
  map_->Log(u"line");
  std::ifstream in(root_ + "/Debug");
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "not a folder");
}

}  // namespace
