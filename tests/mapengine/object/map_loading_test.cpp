// Map loading on a device root: the folder search, the two readers, which
// files count as maps, point-of-interest files and map kinds, the limits,
// corrupt files among good ones, the language library and the word tables,
// and the search of loaded maps by name.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "mapengine/object/CMap.h"
#include "platform/os/device.h"
#include "platform/os/text.h"
#include "tests/mapengine/object/map_engine_fixture.h"
#include "tools/rmfbuild/RmfBuilder.h"

namespace {

namespace fs = std::filesystem;

class MapLoadingTest : public MapEngineTest {
 protected:
  void SetUp() override {
    MapEngineTest::SetUp();
    fs::create_directories(root_ + "/Debug");
    Set(&CMap::SetDebugDirectory, u"\\Debug");
  }

  // A small map of a few tiles whose records lie around (x, y).
  void WriteMap(const std::string& phoneFolder, const std::string& name, std::uint32_t seed = 1,
                bool compressed = false) {
    rmfbuild::MapDescription map = rmfbuild::GenerateGrid(3, 6, 2, seed, rmfbuild::GridOptions{compressed});
    fs::create_directories(root_ + phoneFolder);
    std::string error;
    ASSERT_TRUE(rmfbuild::WriteFile(map, root_ + phoneFolder + "/" + name, &error)) << error;
  }
  void WriteBytes(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(root_ + path).parent_path());
    std::ofstream(root_ + path, std::ios::binary) << bytes;
  }
  std::string FileBytes(const std::string& path) {
    std::ifstream in(root_ + path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  void Set(HRESULT (CMap::*setter)(BSTR), const char16_t* text) {
    BSTR b = SysAllocString(text);
    ASSERT_EQ((map_->*setter)(b), S_OK);
    SysFreeString(b);
  }
  std::u16string Initalize(const char16_t* folder = u"", bool search = true) {
    BSTR mapFolder = SysAllocString(folder);
    BSTR settings = SysAllocString(u"\\Settings");
    BSTR result = nullptr;
    EXPECT_EQ(map_->Initalize(mapFolder, settings, nullptr, search ? VARIANT_TRUE : VARIANT_FALSE, &result), S_OK);
    std::u16string text(BstrView(result));
    SysFreeString(mapFolder);
    SysFreeString(settings);
    SysFreeString(result);
    return text;
  }
  std::string Log() {
    std::ifstream in(root_ + "/Debug/gpsDebug.txt", std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }
  std::vector<std::u16string> Matching(const char16_t* search) {
    BSTR text = SysAllocString(search);
    VARIANT list;
    VariantInit(&list);
    EXPECT_EQ(map_->FindMatchingMaps(text, &list), S_OK);
    SysFreeString(text);
    std::vector<std::u16string> names;
    EXPECT_EQ(list.vt, VT_ARRAY | VT_VARIANT);
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(list.parray, 1, &lower);
    SafeArrayGetUBound(list.parray, 1, &upper);
    EXPECT_EQ(lower, 0);
    for (LONG i = lower; i <= upper; ++i) {
      VARIANT item;
      VariantInit(&item);
      SafeArrayGetElement(list.parray, &i, &item);
      EXPECT_EQ(item.vt, VT_BSTR);
      names.emplace_back(BstrView(item.bstrVal));
      VariantClear(&item);
    }
    VariantClear(&list);
    return names;
  }
};

TEST_F(MapLoadingTest, FindsMapsInALaterFolderOfTheSearchList) {
  WriteMap("/Storage Card/Maps", "ohio.rmf");
  EXPECT_EQ(Initalize(), u"OK");
  EXPECT_EQ(std::u16string(BstrView(map_->m_MapPath)), u"\\Storage Card\\Maps\\");
  EXPECT_EQ(map_->m_nMapsLoaded, 1);
  EXPECT_NE(map_->m_Rdr, nullptr);
  EXPECT_NE(map_->m_RdrPOI, nullptr);
  EXPECT_EQ(map_->GetMapIndexByName(u"OHIO.RMF"), 1);
  EXPECT_EQ(map_->GetMapIndexByName(u"Ohio"), 1);
  EXPECT_EQ(map_->GetMapIndexByName(u"utah"), 0);
}

TEST_F(MapLoadingTest, FolderCaseDoesNotMatterAndTheGivenFolderComesFirst) {
  WriteMap("/storage card/MAPS", "a.rmf");
  WriteMap("/Mine", "b.rmf", 2);
  EXPECT_EQ(Initalize(u"\\Mine"), u"OK");
  EXPECT_EQ(map_->GetMapIndexByName(u"b.rmf"), 1);
  EXPECT_EQ(map_->GetMapIndexByName(u"a.rmf"), 0);
}

TEST_F(MapLoadingTest, LifecycleAnswers) {
  EXPECT_EQ(Initalize(), u"NO MAPS FOUND");
  EXPECT_NE(Log().find("Error No Maps Found in any map directory:"), std::string::npos);
  // The failed attempt keeps its readers: the next one is refused until CleanUp.
  WriteMap("/CompactFlash/Maps", "one.rmf");
  EXPECT_EQ(Initalize(), u"ALREADY INITIALIZED");
  ASSERT_EQ(map_->CleanUp(), S_OK);
  EXPECT_EQ(map_->m_Rdr, nullptr);
  EXPECT_EQ(Initalize(), u"OK");
  EXPECT_EQ(Initalize(), u"ALREADY INITIALIZED");
  ASSERT_EQ(map_->CleanUp(), S_OK);
  EXPECT_EQ(Initalize(), u"OK");
  EXPECT_EQ(map_->m_nMapsLoaded, 1);
}

TEST_F(MapLoadingTest, AnAttemptThatStoppedBeforeItsReadersWereReadyIsTakenUpAgain) {
  WriteMap("/Storage Card/Maps", "ohio.rmf");
  // 16 KB holds no point-of-interest reader: the attempt stops after making
  // the map reader.
  ASSERT_EQ(map_->SetPOIMemoryAllocatedRME(16), S_OK);
  EXPECT_EQ(Initalize(), u"UNABLE TO INITIALIZE MAP ENGINE");
  ASSERT_NE(map_->m_Rdr, nullptr);
  EXPECT_EQ(map_->m_RdrPOI, nullptr);
  const RmfReader* kept = map_->m_Rdr.get();
  // The next call goes on over what was kept and meets the same cause: the
  // same answer, not "ALREADY INITIALIZED" with no point-of-interest reader.
  EXPECT_EQ(Initalize(), u"UNABLE TO INITIALIZE MAP ENGINE");
  EXPECT_EQ(map_->m_Rdr.get(), kept);
  EXPECT_EQ(map_->m_RdrPOI, nullptr);
  // With room after CleanUp it succeeds, and then refuses a second time.
  ASSERT_EQ(map_->CleanUp(), S_OK);
  ASSERT_EQ(map_->SetPOIMemoryAllocatedRME(768), S_OK);
  EXPECT_EQ(Initalize(), u"OK");
  EXPECT_NE(map_->m_RdrPOI, nullptr);
  EXPECT_EQ(map_->m_nMapsLoaded, 1);
  EXPECT_EQ(Initalize(), u"ALREADY INITIALIZED");
}

TEST_F(MapLoadingTest, WithoutSearchOnlyTheGivenFolderIsTried) {
  WriteMap("/Storage Card/Maps", "x.rmf");
  EXPECT_EQ(Initalize(u"\\Elsewhere", false), u"NO MAPS FOUND");
}

TEST_F(MapLoadingTest, PointOfInterestFilesCompanionsAndKinds) {
  const std::string maps = "/CompactFlash/Maps";
  WriteMap(maps, "ohio.rmf", 1);
  WriteBytes(maps + "/ohio.pro", "");
  WriteMap(maps, "france.rmf", 2);
  WriteBytes(maps + "/France.cou", "");
  WriteMap(maps, "wales.rmf", 3);
  WriteBytes(maps + "/wales.rgn", "");
  WriteMap(maps, "utah.rmf", 4);
  // Point-of-interest files: one with its own companion, one finding the
  // shorter companion, one public, one without any companion.
  WriteMap(maps, "City_POI_01.rmf", 5);
  WriteBytes(maps + "/City.pdb", "");
  WriteMap(maps, "Town_POI_02.rmf", 6);
  WriteBytes(maps + "/Town_POI_02.pdb", "");
  WriteMap(maps, "Shops_PUBLIC_POI_01.rmf", 7);
  WriteBytes(maps + "/Shops_PUBLIC.pdb", "");
  WriteMap(maps, "Lost_POI_03.rmf", 8);

  EXPECT_EQ(Initalize(), u"OK");
  EXPECT_EQ(map_->m_nMapsLoaded, 4);
  EXPECT_EQ(map_->m_nLoadedProvincialMaps, 1);
  EXPECT_EQ(map_->m_nLoadedCountryMaps, 1);  // the companion's case does not matter
  EXPECT_EQ(map_->m_nLoadedRegionalMaps, 1);
  EXPECT_EQ(map_->m_nLoadedStateMaps, 1);
  EXPECT_EQ(map_->m_nPOIsLoaded, 2);  // the public file is open but not counted
  EXPECT_EQ(map_->m_POIFiles.size(), 3u);
  EXPECT_EQ(map_->m_POIFiles[u"city_poi_01"], u"\\CompactFlash\\Maps\\City.pdb");
  EXPECT_EQ(map_->m_POIFiles[u"town_poi_02"], u"\\CompactFlash\\Maps\\Town_POI_02.pdb");
  EXPECT_NE(Log().find("Warning  CMap::LoadMap_POI File not found \\CompactFlash\\Maps\\Lost.pdb, POI not loaded."),
            std::string::npos);
  LONG pois = 0;
  map_->NumberOfPOIsLoaded(&pois);
  EXPECT_EQ(pois, 2);
}

TEST_F(MapLoadingTest, ANameWithADashTakesTheKindOfItsBase) {
  const std::string maps = "/CompactFlash/Maps";
  WriteMap(maps, "ohio-north.rmf");
  WriteBytes(maps + "/ohio.cou", "");
  EXPECT_EQ(Initalize(), u"OK");
  EXPECT_EQ(map_->m_nLoadedCountryMaps, 1);
  EXPECT_EQ(map_->m_nLoadedStateMaps, 0);
}

TEST_F(MapLoadingTest, MapLimitSkipsFurtherMapsAndLogsThem) {
  const std::string maps = "/CompactFlash/Maps";
  for (int i = 0; i < 3; ++i) WriteMap(maps, "m" + std::to_string(i) + ".rmf", i + 1);
  map_->SetNumberMaxMaps(2);
  EXPECT_EQ(Initalize(), u"OK");
  EXPECT_EQ(map_->m_nMapsLoaded, 2);
  EXPECT_EQ(map_->GetMapIndexByName(u"m0.rmf"), 1);
  EXPECT_EQ(map_->GetMapIndexByName(u"m1.rmf"), 2);
  EXPECT_EQ(map_->GetMapIndexByName(u"m2.rmf"), 0);
  EXPECT_NE(Log().find("RmfReaderOpen failed to load map: Reached max Map limit"), std::string::npos);
}

TEST_F(MapLoadingTest, NoMoreThan255MapsAreOpenedWhateverTheLimit) {
  const std::string maps = "/CompactFlash/Maps";
  rmfbuild::MapDescription small = rmfbuild::GenerateGrid(3, 1, 1, 1);
  rmfbuild::BuildResult built = rmfbuild::Build(small);
  ASSERT_TRUE(built.ok) << built.error;
  std::string bytes(built.bytes.begin(), built.bytes.end());
  for (int i = 0; i < 256; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/map%03d.rmf", i);
    WriteBytes(maps + name, bytes);
  }
  map_->SetNumberMaxMaps(400);
  map_->SetMapMemoryAllocated(8000);
  EXPECT_EQ(Initalize(), u"OK");
  EXPECT_EQ(map_->m_nMapsLoaded, 255);
  EXPECT_EQ(map_->m_MapFiles.Count(), 255);
  EXPECT_EQ(map_->GetMapIndexByName(u"map254.rmf"), 255);
  EXPECT_EQ(map_->GetMapIndexByName(u"map255.rmf"), 0);
  EXPECT_NE(Log().find("map not loaded: map255.rmf"), std::string::npos);
}

TEST_F(MapLoadingTest, CorruptFilesAreRefusedAndLoggedWhileGoodOnesLoad) {
  const std::string maps = "/CompactFlash/Maps";
  WriteMap(maps, "good1.rmf", 1);
  WriteMap(maps, "good2.rmf", 2, /*compressed=*/true);
  WriteBytes(maps + "/short.rmf", std::string(100, 'x'));
  WriteBytes(maps + "/text.rmf", std::string(2000, 'a'));
  WriteBytes(maps + "/empty.rmf", "");
  // Copies of a good map cut short: a whole header and nothing more, and
  // all but the last byte.
  WriteMap(maps, "whole.rmf", 3);
  const std::string whole = FileBytes(maps + "/whole.rmf");
  fs::remove(root_ + maps + "/whole.rmf");
  WriteBytes(maps + "/header.rmf", whole.substr(0, 150));
  WriteBytes(maps + "/cut.rmf", whole.substr(0, whole.size() - 1));

  EXPECT_EQ(Initalize(), u"OK");
  EXPECT_EQ(map_->m_nMapsLoaded, 2);
  EXPECT_EQ(map_->GetMapIndexByName(u"good1.rmf"), 1);
  EXPECT_EQ(map_->GetMapIndexByName(u"good2.rmf"), 2);
  const std::string log = Log();
  for (const char* bad : {"short.rmf", "text.rmf", "empty.rmf", "header.rmf", "cut.rmf"}) {
    EXPECT_NE(log.find(std::string("RmfReaderOpen failed to load map: ") + bad), std::string::npos) << bad;
  }
  EXPECT_NE(log.find("RmfReaderOpen failed to load map: cut.rmf (error -5: the file is cut short or its header is "
                     "damaged)"),
            std::string::npos)
      << log;
}

TEST_F(MapLoadingTest, OnlyCorruptFilesMeanNoMaps) {
  WriteBytes("/CompactFlash/Maps/bad.rmf", std::string(300, '\0'));
  EXPECT_EQ(Initalize(), u"NO MAPS FOUND");
  EXPECT_NE(Log().find("Error No maps were found in any known map directory"), std::string::npos);
}

TEST_F(MapLoadingTest, AMapCutToItsHeaderIsNoMap) {
  WriteMap("/CompactFlash/Maps", "whole.rmf");
  const std::string whole = FileBytes("/CompactFlash/Maps/whole.rmf");
  fs::remove(root_ + "/CompactFlash/Maps/whole.rmf");
  WriteBytes("/CompactFlash/Maps/cut.rmf", whole.substr(0, 150));
  EXPECT_EQ(Initalize(), u"NO MAPS FOUND");
}

TEST_F(MapLoadingTest, MatchingMapsByNormalisedNameInAnyCase) {
  const std::string maps = "/CompactFlash/Maps";
  WriteMap(maps, "usa_01.rmf", 1);
  WriteMap(maps, "usa_02.rmf", 2);
  WriteMap(maps, "paris-fr.rmf", 3);
  WriteMap(maps, "berlin.rmf", 4);
  EXPECT_EQ(Initalize(), u"OK");

  EXPECT_EQ(Matching(u"us"), (std::vector<std::u16string>{u"USA"}));
  EXPECT_EQ(Matching(u"PAR"), (std::vector<std::u16string>{u"PARIS"}));
  EXPECT_EQ(Matching(u"berlin."), (std::vector<std::u16string>{u"BERLIN.RMF"}));
  EXPECT_EQ(Matching(u""), (std::vector<std::u16string>{u"BERLIN.RMF", u"PARIS", u"USA"}));
  EXPECT_TRUE(Matching(u"rome").empty());
}

TEST_F(MapLoadingTest, NormalisedNames) {
  struct Case {
    const char16_t* file;
    const char16_t* normal;
  };
  const Case cases[] = {{u"usa_02.rmf", u"usa"},       {u"paris-fr.rmf", u"paris"},  {u"berlin.rmf", u"berlin.rmf"},
                        {u"New_York_3.rmf", u"new_york"}, {u"a_b-c.rmf", u"a_b"},     {u"x_y.rmf", u"x_y.rmf"}};
  for (const Case& c : cases) EXPECT_EQ(CMap::NormaliseMapName(c.file), c.normal) << platform::Utf16ToUtf8(c.file);
}

TEST_F(MapLoadingTest, LanguageLibraryFeedsTheWordTables) {
  WriteMap("/CompactFlash/Maps", "a.rmf");
  BSTR missing = SysAllocString(u"\\Windows\\Lexiforn_XX.dll");
  VARIANT_BOOL loaded = VARIANT_TRUE;
  EXPECT_EQ(map_->SetResources(missing, &loaded), S_OK);
  SysFreeString(missing);
  EXPECT_EQ(loaded, VARIANT_FALSE);
  // Without a library the engine works on with empty tables and empty words.
  EXPECT_EQ(Initalize(), u"OK");
  ASSERT_NE(map_->m_pWordTables[0], nullptr);
  EXPECT_EQ(map_->m_pWordTables[0]->Count(), 0);
  EXPECT_EQ(map_->LoadResourceString(20581), u"");

  BSTR english = SysAllocString(platform::Utf8ToUtf16(LEXIFORN_EN_PATH).c_str());
  EXPECT_EQ(map_->SetResources(english, &loaded), S_OK);
  SysFreeString(english);
  EXPECT_EQ(loaded, VARIANT_TRUE);
  const int expected[5] = {11, 13, 72, 12, 4};
  for (int slot = 0; slot < 5; ++slot) {
    ASSERT_NE(map_->m_pWordTables[slot], nullptr);
    EXPECT_EQ(map_->m_pWordTables[slot]->Count(), expected[slot]) << "slot " << slot + 1;
  }
  BSTR state = map_->m_pWordTables[2]->Lookup(u"oh");
  EXPECT_EQ(std::u16string(BstrView(state)), u"Ohio");
  SysFreeString(state);
  EXPECT_NE(map_->LoadResourceString(20581), u"");

  // A missing library afterwards keeps the tables built from the last one.
  BSTR again = SysAllocString(u"\\nowhere.dll");
  map_->SetResources(again, &loaded);
  SysFreeString(again);
  EXPECT_EQ(loaded, VARIANT_FALSE);
  EXPECT_EQ(map_->m_pWordTables[2]->Count(), 72);
}

}  // namespace
