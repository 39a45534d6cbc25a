// A test's own phone: a device root in a temporary folder (files, registry),
// a clock that stands still until the test moves it, a debug log whose on/off
// decision is not yet taken, and no Utility. Everything is put back after the
// test.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "engine/core/EngineUtilities.h"
#include "engine/core/Utility.h"
#include "platform/os/clock.h"
#include "platform/os/device.h"
#include "platform/os/registry.h"
#include "tests/support/temp_folder.h"

class DeviceRootTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = folder_.string();
    platform::SetDeviceRoot(root_);
    platform::registry::ReloadFromDisk();
    platform::SetClock(&clock_);
    vov::ResetDebugLogDecision();
    vov::Utility::Release();
  }
  void TearDown() override {
    vov::Utility::Release();
    vov::ResetDebugLogDecision();
    platform::SetClock(nullptr);
    platform::registry::ReloadFromDisk();
    platform::SetDeviceRoot("");
  }

  // Makes the Utility with its settings in "\settings" and, with `logging`,
  // the debug folder "\settings\Debug" in place so that the engine logs.
  vov::Utility& StartUtility(bool logging) {
    std::filesystem::create_directories(root_ + "/settings");
    if (logging) std::filesystem::create_directories(root_ + "/settings/Debug");
    vov::Utility& utility = *vov::Utility::Instance();
    EXPECT_EQ(utility.LoadSystemSettings(u"\\settings"), S_OK);
    return utility;
  }

  // The debug log "gpsDebug.txt" of a host folder below the root.
  std::string ReadLog(const std::string& folder = "settings/Debug") const {
    std::ifstream in(root_ + "/" + folder + "/gpsDebug.txt", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool LogExists(const std::string& folder) const {
    return std::filesystem::exists(root_ + "/" + folder + "/gpsDebug.txt");
  }

  testing_support::TempFolder folder_{"engine-device"};
  std::string root_;
  // Friday 3 May 2024, 08:05:09 local time.
  platform::VirtualClock clock_{SYSTEMTIME{2024, 5, 5, 3, 8, 5, 9, 0}};
};
