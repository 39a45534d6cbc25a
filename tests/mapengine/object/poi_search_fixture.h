// What the point-of-interest search tests share: the navigation engine's and
// the database server's libraries registered in the test's device root (the
// search's location object and its lists are their objects, created through
// the registry as on a device), a search configuration of the test's own
// (the engine's own object gets its setters with the engine), and one call of
// IMap::FindPOIs read back as (database file, key) entries.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "engine/core/VovLib.h"
#include "outside/dorvanta/DorvantaLib.h"
#include "platform/com/atl.h"
#include "platform/os/text.h"
#include "tests/mapengine/object/map_engine_fixture.h"

// A search configuration whose fields the test sets.
class TestSearchConfig : public com::ComClass<TestSearchConfig, IPOISearchConfigurationObject> {
 public:
  LONG maxResults = 25;
  SHORT maxTime = 10;
  SHORT category = 0;
  SHORT subcategory = 0;
  bool privateOnly = false;
  bool publicOnly = false;
  bool includePrivate = false;
  double distanceStarting = -1.0;
  SHORT heading = -1;
  int direction = 0;  // Directions: 0 all, 1 north, 2 east, 3 south, 4 west, 5 ahead, 6 right, 7 behind, 8 left
  std::u16string text;

  HRESULT STDMETHODCALLTYPE GetMaxSearchResults(LONG* pVal) override { return Out(pVal, maxResults); }
  HRESULT STDMETHODCALLTYPE Reserved8() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved9() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved10() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved11() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved12() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved13() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved14() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetCategoryNumber(SHORT* pVal) override { return Out(pVal, category); }
  HRESULT STDMETHODCALLTYPE GetSubCategoryNumber(SHORT* pVal) override { return Out(pVal, subcategory); }
  HRESULT STDMETHODCALLTYPE Reserved17() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved18() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMaxSearchTime(SHORT* pVal) override { return Out(pVal, maxTime); }
  HRESULT STDMETHODCALLTYPE Reserved20() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved21() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetUserPrivateOnly(VARIANT_BOOL* pVal) override {
    return Out(pVal, static_cast<VARIANT_BOOL>(privateOnly ? VARIANT_TRUE : VARIANT_FALSE));
  }
  HRESULT STDMETHODCALLTYPE Reserved23() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetUserPublicOnly(VARIANT_BOOL* pVal) override {
    return Out(pVal, static_cast<VARIANT_BOOL>(publicOnly ? VARIANT_TRUE : VARIANT_FALSE));
  }
  HRESULT STDMETHODCALLTYPE Reserved25() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved26() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved27() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved28() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved29() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDistanceStarting(double* pVal) override { return Out(pVal, distanceStarting); }
  HRESULT STDMETHODCALLTYPE Reserved31() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetCurrentHeadingDegrees(SHORT* pVal) override { return Out(pVal, heading); }
  HRESULT STDMETHODCALLTYPE Reserved33() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSearchDirection(Directions* pVal) override {
    return Out(pVal, static_cast<Directions>(direction));
  }
  HRESULT STDMETHODCALLTYPE Reserved35() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IncludeUserPrivateAsWell(VARIANT_BOOL* pVal) override {
    return Out(pVal, static_cast<VARIANT_BOOL>(includePrivate ? VARIANT_TRUE : VARIANT_FALSE));
  }
  HRESULT STDMETHODCALLTYPE GetMainSearchString(BSTR* pVal) override {
    if (pVal == nullptr) return E_POINTER;
    *pVal = text.empty() ? nullptr : SysAllocString(text.c_str());
    return S_OK;
  }

 private:
  template <class V>
  static HRESULT Out(V* out, V value) {
    if (out == nullptr) return E_POINTER;
    *out = value;
    return S_OK;
  }
};

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
  FoundPOIs Find(double latitude, double longitude, TestSearchConfig& config, bool removeDuplicates,
                 double distance) {
    FoundPOIs out;
    ILocationObject* location = Location(latitude, longitude);
    IFoundPOIIndexes* list = Create<IFoundPOIIndexes>(CLSID_FoundPOIIndexes);
    if (location == nullptr || list == nullptr) return out;
    IUnknown* found = list;
    VARIANT_BOOL any = VARIANT_FALSE;
    out.distance = distance;
    out.hr = map_->FindPOIs(location, static_cast<IPOISearchConfigurationObject*>(&config),
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

};
