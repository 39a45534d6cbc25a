// A map engine object of the benchmarks, opened the way a device opens its
// maps: a device root of its own (a temporary folder, removed at the end)
// with the street map (and any point-of-interest files) copied into its
// storage card's map folder, the English language library, Initalize.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "mapengine/object/CMap.h"
#include "mapengine/object/Utilities.h"
#include "platform/com/oleauto.h"
#include "platform/os/device.h"
#include "platform/os/text.h"

class MapEngineOnDevice {
 public:
  // The map file and the language library are host paths; error() says what
  // failed when map() is null.
  // `otherFiles` (host paths: point-of-interest maps and their databases)
  // go into the map folder beside the street map.
  MapEngineOnDevice(const std::string& streetMap, const std::string& languageLibrary,
                    const std::vector<std::string>& otherFiles = {}) {
    char pattern[] = "/tmp/map-engine-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
      error_ = "no device root";
      return;
    }
    root_ = pattern;
    platform::SetDeviceRoot(root_);
    namespace fs = std::filesystem;
    std::error_code failed;
    fs::create_directories(root_ + "/Storage Card/Maps", failed);
    std::vector<std::string> files = {streetMap};
    files.insert(files.end(), otherFiles.begin(), otherFiles.end());
    for (const std::string& file : files) {
      fs::copy_file(file, root_ + "/Storage Card/Maps/" + fs::path(file).filename().string(), failed);
      if (failed) {
        error_ = "cannot copy " + file + ": " + failed.message();
        return;
      }
    }
    CMap* map = nullptr;
    if (CMap::CreateObject(&map) != S_OK) {
      error_ = "no map engine object";
      return;
    }
    BSTR language = SysAllocString(platform::Utf8ToUtf16(languageLibrary).c_str());
    VARIANT_BOOL loaded = VARIANT_FALSE;
    map->SetResources(language, &loaded);
    SysFreeString(language);
    BSTR folder = SysAllocString(u"");
    BSTR result = nullptr;
    // Room for a town's tiles rather than a phone's 2,000 KB.
    map->SetMapMemoryAllocated(16384);
    const HRESULT opened = map->Initalize(folder, folder, nullptr, VARIANT_TRUE, &result);
    const bool ok = opened == S_OK && BstrView(result) == u"OK";
    SysFreeString(folder);
    SysFreeString(result);
    if (loaded != VARIANT_TRUE || !ok) {
      map->Release();
      error_ = "cannot open " + streetMap + " or the language library " + languageLibrary;
      return;
    }
    map_ = map;
  }
  ~MapEngineOnDevice() {
    if (map_ != nullptr) {
      map_->CleanUp();
      map_->Release();
    }
    if (!root_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(root_, ignored);
    }
  }
  MapEngineOnDevice(const MapEngineOnDevice&) = delete;
  MapEngineOnDevice& operator=(const MapEngineOnDevice&) = delete;

  CMap* map() const { return map_; }
  const std::string& error() const { return error_; }

 private:
  std::string root_;
  std::string error_;
  CMap* map_ = nullptr;
};
