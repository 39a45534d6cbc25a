// A COM server library as its clients meet it: a device root of its own with
// an empty registry, the library loaded by path (for its entry points only),
// COM started, and objects created the way the system creates them (ProgID,
// CoCreateInstance with the system's context flags, OleRun, QueryInterface).
// Every test ends with as many live COM objects as it started with. Shared by
// the server tests of the map engine and of the navigation engine.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

#include "platform/com/runtime.h"
#include "platform/os/device.h"
#include "platform/os/module.h"
#include "platform/os/registry.h"
#include "platform/os/text.h"
#include "tests/support/temp_folder.h"

class ComServerTest : public ::testing::Test {
 protected:
  explicit ComServerTest(std::string libraryPath) : libraryPath_(std::move(libraryPath)) {}

  void SetUp() override {
    root_ = folder_.string();
    platform::SetDeviceRoot(root_);
    platform::registry::ReloadFromDisk();
    library_ = LoadLibraryW(platform::Utf8ToUtf16(libraryPath_).c_str());
    ASSERT_NE(library_, nullptr) << platform::LastModuleError();
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    liveAtStart_ = com::LiveObjectCount();
  }
  void TearDown() override {
    EXPECT_EQ(com::LiveObjectCount(), liveAtStart_) << "a COM object outlived the test";
    CoUninitialize();
    if (library_ != nullptr) FreeLibrary(library_);
    platform::registry::ReloadFromDisk();
  }

  // One of the library's exported entry points (DllRegisterServer, ...).
  HRESULT CallEntry(const char* name) {
    auto entry = reinterpret_cast<HRESULT (*)()>(GetProcAddress(library_, name));
    return entry == nullptr ? E_FAIL : entry();
  }

  template <class I>
  HRESULT Create(const char16_t* progId, I** out) {
    *out = nullptr;
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(progId, &clsid);
    if (FAILED(hr)) return hr;
    IUnknown* unknown = nullptr;
    hr = CoCreateInstance(clsid, nullptr, 23, IID_IUnknown, reinterpret_cast<void**>(&unknown));
    if (FAILED(hr)) return hr;
    hr = OleRun(unknown);
    if (SUCCEEDED(hr)) hr = unknown->QueryInterface(IidOf<I>(), reinterpret_cast<void**>(out));
    unknown->Release();
    return hr;
  }

  testing_support::TempFolder folder_{"com-server"};
  std::string root_;
  HMODULE library_ = nullptr;
  long liveAtStart_ = 0;

 private:
  std::string libraryPath_;
};
