// "What is near me" on the demo map: IMap::FindPOIs by category, all round,
// from address nodes of the extract the map is converted from, through the
// map engine object as a device opens its maps, with the database server's
// lists and the navigation engine's location object registered in the
// device root as on a device. One search from 0 km (the first answer a user
// hears) per iteration, the address and the category going round; reported
// besides: the points handed out per search and the share of searches that
// found any.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bench/MapEngineOnDevice.h"
#include "typelib/VovLib.h"
#include "mapengine/object/CMap.h"
#include "mapengine/object/Geometry.h"
#include "typelib/DorvantaLib.h"
#include "platform/com/oleauto.h"
#include "platform/os/module.h"
#include "platform/os/text.h"
#include "tests/mapengine/object/extract_addresses.h"

#if !defined(POI_BENCH_MAP) || !defined(POI_BENCH_POI_MAP) || !defined(POI_BENCH_POI_DATABASE) || \
    !defined(POI_BENCH_OSM) || !defined(POI_BENCH_LANGUAGE) || !defined(POI_BENCH_VOV) || !defined(POI_BENCH_DORVANTA)
#error "the point-of-interest benchmark needs the demo maps, the extract and the server libraries"
#endif

namespace {

constexpr int kAddresses = 200;
// The categories of the demo map's points (of 1 to 17; 18 is the user's).
constexpr SHORT kCategories[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};

bool RegisterServer(const char* path) {
  HMODULE server = LoadLibraryW(platform::Utf8ToUtf16(path).c_str());
  if (server == nullptr) return false;
  auto registerServer = reinterpret_cast<HRESULT (*)()>(GetProcAddress(server, "DllRegisterServer"));
  return registerServer != nullptr && registerServer() == S_OK;
}

void BM_CategorySearchFromAnAddress(benchmark::State& state) {
  MapEngineOnDevice device(POI_BENCH_MAP, POI_BENCH_LANGUAGE, {POI_BENCH_POI_MAP, POI_BENCH_POI_DATABASE});
  if (device.map() == nullptr) {
    state.SkipWithError(device.error().c_str());
    return;
  }
  if (!RegisterServer(POI_BENCH_VOV) || !RegisterServer(POI_BENCH_DORVANTA) ||
      FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
    state.SkipWithError("cannot register the server libraries");
    return;
  }
  std::vector<OsmAddress> addresses = ReadExtractAddresses(POI_BENCH_OSM);
  std::shuffle(addresses.begin(), addresses.end(), std::mt19937(20261211));
  addresses.resize(std::min<std::size_t>(addresses.size(), kAddresses));
  IPOISearchConfigurationObject* config = nullptr;
  ILocationObject* location = nullptr;
  IFoundPOIIndexes* list = nullptr;
  if (FAILED(CoCreateInstance(CLSID_POISearchConfigurationObject, nullptr, CLSCTX_ALL,
                              IID_IPOISearchConfigurationObject, reinterpret_cast<void**>(&config))) ||
      FAILED(CoCreateInstance(CLSID_LocationObject, nullptr, CLSCTX_ALL, IID_ILocationObject,
                              reinterpret_cast<void**>(&location))) ||
      FAILED(CoCreateInstance(CLSID_FoundPOIIndexes, nullptr, CLSCTX_ALL, IID_IFoundPOIIndexes,
                              reinterpret_cast<void**>(&list)))) {
    state.SkipWithError("cannot make the search's objects");
    return;
  }
  IMap& map = *device.map();
  std::size_t i = 0;
  std::size_t searches = 0, withPoints = 0, points = 0;
  for (auto _ : state) {
    const OsmAddress& a = addresses[i % addresses.size()];
    config->SetCategoryNumber(kCategories[i % std::size(kCategories)]);
    ++i;
    const DegreePoint at = MapUnitsToDegrees(a.point.x, a.point.y);
    location->SetLatitude(at.latitude);
    location->SetLongitude(at.longitude);
    list->Clear();
    IUnknown* found = list;
    double distance = 0.0;
    VARIANT_BOOL any = VARIANT_FALSE;
    map.FindPOIs(location, config, VARIANT_TRUE, &found, &distance, &any);
    LONG count = 0;
    list->Count(&count);
    ++searches;
    withPoints += any != 0 ? 1 : 0;
    points += static_cast<std::size_t>(count);
  }
  state.counters["points_per_search"] = searches == 0 ? 0.0 : static_cast<double>(points) / searches;
  state.counters["found_share"] = searches == 0 ? 0.0 : static_cast<double>(withPoints) / searches;
  list->Release();
  location->Release();
  config->Release();
  CoUninitialize();
}
BENCHMARK(BM_CategorySearchFromAnAddress)->Unit(benchmark::kMicrosecond);

}  // namespace


