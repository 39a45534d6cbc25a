// The fixture of the map engine's object tests that need a map engine
// object: a fresh device root per test, the object made through the COM
// helper (one reference, released at the end), the debug output collected,
// and helpers that load the English language library and open map files the
// way a device does (a copy on the storage card, then Initalize).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "mapengine/object/CMap.h"
#include "mapengine/object/StreetNames.h"
#include "platform/os/clock.h"
#include "platform/os/debug.h"
#include "platform/os/device.h"
#include "platform/os/module.h"
#include "platform/os/registry.h"
#include "platform/os/text.h"
#include "tests/mapengine/object/live_objects.h"
#include "tests/support/temp_folder.h"
#include "tools/rmfbuild/RmfBuilder.h"
#include "tools/rmfbuild/RmfFeatures.h"

class MapEngineTest : public LiveObjectsTest {
 protected:
  void SetUp() override {
    LiveObjectsTest::SetUp();
    root_ = folder_.string();
    platform::SetDeviceRoot(root_);
    CMap::ClearDebugLogFlag();
    platform::SetDebugOutputSink([this](const std::u16string& line) { debugOutput_.push_back(line); });
    ASSERT_EQ(CMap::CreateObject(&map_), S_OK);
  }
  void TearDown() override {
    if (map_ != nullptr) map_->Release();
    platform::SetDebugOutputSink({});
    platform::SetClock(nullptr);
    CMap::ClearDebugLogFlag();
    if (!servers_.empty()) {
      CoUninitialize();
      for (HMODULE server : servers_) FreeLibrary(server);
      servers_.clear();
      platform::registry::ReloadFromDisk();
    }
    LiveObjectsTest::TearDown();
  }

  // Registers the server libraries at `paths` (host paths) in the test's
  // device root, as a device has them, so that the objects the map engine
  // creates or is handed come through the registry; COM is initialised for
  // the test. Call through ASSERT_NO_FATAL_FAILURE.
  void RegisterServers(std::initializer_list<const char*> paths) {
    platform::registry::ReloadFromDisk();
    for (const char* path : paths) {
      HMODULE server = LoadLibraryW(platform::Utf8ToUtf16(path).c_str());
      ASSERT_NE(server, nullptr) << platform::LastModuleError();
      servers_.push_back(server);
      auto registerServer = reinterpret_cast<HRESULT (*)()>(GetProcAddress(server, "DllRegisterServer"));
      ASSERT_NE(registerServer, nullptr);
      ASSERT_EQ(registerServer(), S_OK);
    }
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  }

#ifdef LEXIFORN_EN_PATH
  void LoadEnglish() {
    BSTR english = SysAllocString(platform::Utf8ToUtf16(LEXIFORN_EN_PATH).c_str());
    VARIANT_BOOL loaded = VARIANT_FALSE;
    ASSERT_EQ(map_->SetResources(english, &loaded), S_OK);
    SysFreeString(english);
    ASSERT_EQ(loaded, VARIANT_TRUE);
  }
#endif

  // Whether a street name is one the engine gives a street without a name
  // of its own (an unnamed road or roundabout, a trail, a walkway), read
  // from the language library loaded.
  bool IsSpokenForNameless(const std::string& name) const {
    for (const unsigned id : {kStringUnnamedStreet, kStringRoundaboutName, kStringTrailName, kStringWalkwayName}) {
      const std::string spoken = platform::Utf16ToUtf8(map_->LoadResourceString(id));
      if (!spoken.empty() && name.rfind(spoken, 0) == 0) return true;
    }
    return false;
  }

  // Opens the map file at `file` (a host path) through Initalize.
  void OpenMapFile(const std::string& file) { OpenMapFiles({file}); }

  // Copies the files (host paths: maps, point-of-interest maps and their
  // databases) into the device's maps folder and opens them through
  // Initalize.
  void OpenMapFiles(const std::vector<std::string>& files) {
    namespace fs = std::filesystem;
    fs::create_directories(root_ + "/Storage Card/Maps");
    for (const std::string& file : files) {
      fs::copy_file(file, root_ + "/Storage Card/Maps/" + fs::path(file).filename().string(),
                    fs::copy_options::overwrite_existing);
    }
    ASSERT_EQ(map_->SetMapMemoryAllocated(16384), S_OK);
    BSTR folder = SysAllocString(u"");
    BSTR result = nullptr;
    ASSERT_EQ(map_->Initalize(folder, folder, nullptr, VARIANT_TRUE, &result), S_OK);
    EXPECT_EQ(std::u16string(BstrView(result)), u"OK");
    SysFreeString(folder);
    SysFreeString(result);
  }

  // Builds `map` into the map file `name` and opens it; call through
  // ASSERT_NO_FATAL_FAILURE.
  void OpenBuiltMap(const rmfbuild::FeatureMap& map, const std::string& name) {
    const rmfbuild::FeatureBuild built = rmfbuild::BuildFeatureMap(map);
    ASSERT_TRUE(built.ok) << built.error;
    const std::string file = root_ + "/" + name;
    std::string error;
    ASSERT_TRUE(rmfbuild::WriteFile(built.description, file, &error)) << error;
    OpenMapFile(file);
    ASSERT_NE(map_->m_Rdr.get(), nullptr);
  }

  testing_support::TempFolder folder_{"map-engine"};
  std::string root_;
  std::vector<std::u16string> debugOutput_;
  CMap* map_ = nullptr;
  std::vector<HMODULE> servers_;
};
