// The map engine as the navigation engine meets it: a library found through the
// registry, created by ProgID, reached only through its interfaces. This test
// is not linked against the map engine.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "typelib/CartovelLib.h"
#include "platform/com/runtime.h"
#include "platform/os/device.h"
#include "platform/os/module.h"
#include "platform/os/registry.h"
#include "platform/os/text.h"
#include "tests/support/com_server_fixture.h"
#include "tools/rmfbuild/RmfBuilder.h"

namespace {

class CartovelServer : public ComServerTest {
 protected:
  CartovelServer() : ComServerTest(CARTOVEL_LIBRARY_PATH) {}

  std::u16string QueryString(HKEY root, const char16_t* subKey, const char16_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return u"<no key>";
    char16_t buffer[512] = {};
    DWORD bytes = sizeof buffer - sizeof(char16_t);
    DWORD type = 0;
    LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_SZ) return u"<no value>";
    return buffer;
  }
};

TEST_F(CartovelServer, RegistersEveryClassFreeThreadedUnderItsProgId) {
  ASSERT_EQ(CallEntry("DllRegisterServer"), S_OK);

  struct Row {
    const char16_t* progId;
    CLSID clsid;
  };
  const Row rows[] = {{u"Cartovel.Map", CLSID_Map},
                      {u"Cartovel.WayPoint", CLSID_WayPoint},
                      {u"Cartovel.CrossStreet", CLSID_CrossStreet},
                      {u"Cartovel.LocationDetails", CLSID_LocationDetails},
                      {u"Cartovel.AddressDetails", CLSID_AddressDetails}};
  for (const Row& row : rows) {
    SCOPED_TRACE(platform::Utf16ToUtf8(row.progId));
    CLSID found{};
    ASSERT_EQ(CLSIDFromProgID(row.progId, &found), S_OK);
    EXPECT_EQ(found, row.clsid);
    std::u16string clsidKey = u"CLSID\\" + FormatGuidW(row.clsid) + u"\\InprocServer32";
    EXPECT_EQ(QueryString(HKEY_CLASSES_ROOT, clsidKey.c_str(), u"ThreadingModel"), u"Free");
    std::u16string path = QueryString(HKEY_CLASSES_ROOT, clsidKey.c_str(), nullptr);
    EXPECT_TRUE(std::filesystem::equivalent(platform::Utf16ToUtf8(path), CARTOVEL_LIBRARY_PATH));
  }
}

TEST_F(CartovelServer, CreatedByProgIdAnswersItsSettingsAndLeavesNothingAlive) {
  ASSERT_EQ(CallEntry("DllRegisterServer"), S_OK);
  // A second process would find the registration on disk.
  platform::registry::ReloadFromDisk();

  IMap* map = nullptr;
  ASSERT_EQ(Create(u"Cartovel.Map", &map), S_OK);
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(CallEntry("DllCanUnloadNow"), S_FALSE);

  EXPECT_EQ(map->SetNumberMaxMaps(10), S_OK);
  EXPECT_EQ(map->SetBaseMapPath(nullptr), S_OK);
  BSTR folder = SysAllocString(u"\\Storage Card\\Maps");
  EXPECT_EQ(map->put_MapPath(folder), S_OK);
  SysFreeString(folder);
  BSTR path = nullptr;
  ASSERT_EQ(map->get_MapPath(&path), S_OK);
  EXPECT_EQ(std::u16string(path, SysStringLen(path)), u"\\Storage Card\\Maps\\");
  SysFreeString(path);
  SHORT maps = -1;
  EXPECT_EQ(map->NumberOfMapsLoaded(&maps), S_OK);
  EXPECT_EQ(maps, 0);
  EXPECT_EQ(map->NumberOfMapsLoaded(nullptr), E_POINTER);

  // The identities every client relies on.
  IDispatch* dispatch = nullptr;
  ASSERT_EQ(map->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
  EXPECT_EQ(static_cast<void*>(dispatch), static_cast<void*>(map));
  dispatch->Release();
  IWayPoint* notAWayPoint = nullptr;
  EXPECT_EQ(map->QueryInterface(IID_IWayPoint, reinterpret_cast<void**>(&notAWayPoint)), E_NOINTERFACE);
  EXPECT_EQ(notAWayPoint, nullptr);

  IWayPoint* step = nullptr;
  ASSERT_EQ(Create(u"Cartovel.WayPoint", &step), S_OK);
  SHORT index = 0;
  EXPECT_EQ(step->GetFeatureIndex(&index), S_OK);
  EXPECT_EQ(index, -1);
  step->Release();

  EXPECT_EQ(map->Release(), 0u);
  EXPECT_EQ(com::LiveObjectCount(), liveAtStart_);
  EXPECT_EQ(CallEntry("DllCanUnloadNow"), S_OK);
}

TEST_F(CartovelServer, UnregisteredEngineCannotBeCreated) {
  ASSERT_EQ(CallEntry("DllRegisterServer"), S_OK);
  ASSERT_EQ(CallEntry("DllUnregisterServer"), S_OK);
  // Unregistering twice is no error.
  EXPECT_EQ(CallEntry("DllUnregisterServer"), S_OK);

  IMap* map = nullptr;
  EXPECT_EQ(Create(u"Cartovel.Map", &map), CO_E_CLASSSTRING);
  EXPECT_EQ(map, nullptr);
  IUnknown* unknown = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_Map, nullptr, 23, IID_IUnknown, reinterpret_cast<void**>(&unknown)),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(unknown, nullptr);
  EXPECT_EQ(com::LiveObjectCount(), liveAtStart_);
}

// The engine's start-up as the navigation engine drives it: maps on a storage
// card that is not the first folder searched.
TEST_F(CartovelServer, LoadsMapsFromTheStorageCardAndAnswersLikeTheEngineExpects) {
  ASSERT_EQ(CallEntry("DllRegisterServer"), S_OK);
  IMap* map = nullptr;
  ASSERT_EQ(Create(u"Cartovel.Map", &map), S_OK);

  auto initalize = [&]() {
    BSTR none = SysAllocString(u"");
    BSTR settings = SysAllocString(u"\\CompactFlash\\settings");
    BSTR result = nullptr;
    EXPECT_EQ(map->Initalize(none, settings, none, VARIANT_TRUE, &result), S_OK);
    std::u16string text(result, SysStringLen(result));
    SysFreeString(none);
    SysFreeString(settings);
    SysFreeString(result);
    return text;
  };

  EXPECT_EQ(initalize(), u"NO MAPS FOUND");
  EXPECT_EQ(map->CleanUp(), S_OK);

  std::filesystem::create_directories(root_ + "/Storage Card/Maps");
  for (std::uint32_t i = 1; i <= 2; ++i) {
    std::string error;
    ASSERT_TRUE(rmfbuild::WriteFile(rmfbuild::GenerateGrid(4, 5, 2, i),
                                    root_ + "/Storage Card/Maps/area" + std::to_string(i) + ".rmf", &error))
        << error;
  }
  EXPECT_EQ(initalize(), u"OK");
  SHORT maps = 0;
  EXPECT_EQ(map->NumberOfMapsLoaded(&maps), S_OK);
  EXPECT_EQ(maps, 2);
  BSTR path = nullptr;
  map->get_MapPath(&path);
  EXPECT_EQ(std::u16string(path, SysStringLen(path)), u"\\Storage Card\\Maps\\");
  SysFreeString(path);
  EXPECT_EQ(initalize(), u"ALREADY INITIALIZED");
  EXPECT_EQ(map->CleanUp(), S_OK);
  EXPECT_EQ(map->NumberOfMapsLoaded(&maps), S_OK);
  EXPECT_EQ(maps, 0);
  EXPECT_EQ(initalize(), u"OK");

  EXPECT_EQ(map->Release(), 0u);
  EXPECT_EQ(com::LiveObjectCount(), liveAtStart_);
}

}  // namespace
