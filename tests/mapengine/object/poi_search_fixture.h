// What the point-of-interest search tests share: the navigation engine's and
// the database server's libraries registered in the test's device root (the
// search's location object and its lists are their objects, created through
// the registry as on a device), the engine's search configurations, and one
// call of IMap::FindPOIs read back as (database file, key) entries.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "typelib/VovLib.h"
#include "typelib/DorvantaLib.h"
#include "platform/com/atl.h"
#include "platform/os/text.h"
#include "tests/mapengine/object/map_engine_fixture.h"

// One found point as the caller's list holds it.
struct FoundPOI {
  std::string file;
  ULONG key = 0;
  bool operator==(const FoundPOI&) const = default;
};

struct FoundPOIs {
  HRESULT hr = E_FAIL;
  bool found = false;
  double distance = 0;  // km the search got to
  std::vector<FoundPOI> points;
};

class POISearchTest : public MapEngineTest {
 protected:
  void SetUp() override {
    MapEngineTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(RegisterServers({VOV_LIBRARY_PATH, DORVANTA_LIBRARY_PATH}));
  }
  void TearDown() override {
    for (IPOISearchConfigurationObject* c : configs_) c->Release();
    configs_.clear();
    MapEngineTest::TearDown();
  }

  // A new search configuration of the navigation engine with the defaults
  // of a new search; the test keeps it until it ends.
  IPOISearchConfigurationObject* NewConfig() {
    IPOISearchConfigurationObject* config =
        Create<IPOISearchConfigurationObject>(CLSID_POISearchConfigurationObject);
    if (config != nullptr) configs_.push_back(config);
    return config;
  }

  // An object of a registered class, asked for `I`.
  template <class I>
  I* Create(const CLSID& clsid) {
    I* object = nullptr;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IidOf<I>(), reinterpret_cast<void**>(&object)), S_OK);
    return object;
  }

  ILocationObject* Location(double latitude, double longitude) {
    ILocationObject* location = Create<ILocationObject>(CLSID_LocationObject);
    if (location != nullptr) {
      location->SetLatitude(latitude);
      location->SetLongitude(longitude);
    }
    return location;
  }

  // One search from `latitude`, `longitude` starting at `distance` km.
  FoundPOIs Find(double latitude, double longitude, IPOISearchConfigurationObject* config, bool removeDuplicates,
                 double distance) {
    FoundPOIs out;
    ILocationObject* location = Location(latitude, longitude);
    IFoundPOIIndexes* list = Create<IFoundPOIIndexes>(CLSID_FoundPOIIndexes);
    if (location == nullptr || list == nullptr || config == nullptr) {
      if (location != nullptr) location->Release();
      if (list != nullptr) list->Release();
      return out;
    }
    IUnknown* found = list;
    VARIANT_BOOL any = VARIANT_FALSE;
    out.distance = distance;
    out.hr = map_->FindPOIs(location, config,
                            removeDuplicates ? VARIANT_TRUE : VARIANT_FALSE, &found, &out.distance, &any);
    out.found = any != 0;
    LONG count = 0;
    list->Count(&count);
    for (LONG i = 0; i < count; ++i) {
      BSTR file = nullptr;
      ULONG key = 0;
      SHORT flag = 0;
      if (list->Get(i, &file, &key, &flag) == S_OK) {
        out.points.push_back(FoundPOI{platform::Utf16ToUtf8(BstrView(file)), key});
      }
      SysFreeString(file);
    }
    list->Release();
    location->Release();
    return out;
  }

  std::vector<IPOISearchConfigurationObject*> configs_;
};
