// Where am I on the demo street map: IMap::GetLocationDetails with "ALL" (the
// navigation engine's question) at the address nodes of the extract the map
// is converted from, through the map engine object as a device opens it;
// time per call, from the position to the finished LocationDetails object.
// Reported besides, over every address node: the share of calls whose street
// name is the node's addr:street, and whose house number is the node's or
// within 10 of it.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "bench/MapEngineOnDevice.h"
#include "mapengine/object/CMap.h"
#include "typelib/CartovelLib.h"
#include "mapengine/object/Geometry.h"
#include "mapengine/object/Utilities.h"
#include "platform/com/oleauto.h"
#include "platform/os/text.h"
#include "tests/mapengine/object/extract_addresses.h"

#ifndef WHERE_BENCH_MAP
#error "WHERE_BENCH_MAP must name the demo street map"
#endif
#ifndef WHERE_BENCH_OSM
#error "WHERE_BENCH_OSM must name the extract the demo street map is made of"
#endif
#ifndef WHERE_BENCH_LANGUAGE
#error "WHERE_BENCH_LANGUAGE must name the English language library"
#endif

namespace {

struct Answer {
  HRESULT hr = E_FAIL;
  std::string street;
  std::string number;
};

Answer Ask(IMap& map, const OsmAddress& a, bool read) {
  const DegreePoint at = MapUnitsToDegrees(a.point.x, a.point.y);
  BSTR request = SysAllocString(u"ALL");
  VARIANT details;
  VariantInit(&details);
  Answer answer;
  answer.hr = map.GetLocationDetails(at.latitude, at.longitude, -1, &request, &details);
  SysFreeString(request);
  // The answer is an array of one LocationDetails object.
  VARIANT first;
  VariantInit(&first);
  LONG index = 0;
  ILocationDetails* found = nullptr;
  if (read && details.vt == (VT_ARRAY | VT_VARIANT) && details.parray != nullptr &&
      SafeArrayGetElement(details.parray, &index, &first) == S_OK && first.vt == VT_DISPATCH &&
      first.pdispVal != nullptr &&
      SUCCEEDED(first.pdispVal->QueryInterface(IID_ILocationDetails, reinterpret_cast<void**>(&found)))) {
    BSTR street = nullptr;
    BSTR number = nullptr;
    found->GetStreetName(&street);
    found->GetHouseNumber(&number);
    answer.street = platform::Utf16ToUtf8(BstrView(street));
    answer.number = platform::Utf16ToUtf8(BstrView(number));
    SysFreeString(street);
    SysFreeString(number);
    found->Release();
  }
  VariantClear(&first);
  VariantClear(&details);
  return answer;
}

void BM_WhereAmI(benchmark::State& state) {
  static MapEngineOnDevice device(WHERE_BENCH_MAP, WHERE_BENCH_LANGUAGE);
  static const std::vector<OsmAddress> addresses = ReadExtractAddresses(WHERE_BENCH_OSM);
  if (device.map() == nullptr || addresses.empty()) {
    state.SkipWithError(device.map() == nullptr ? device.error().c_str() : "no address nodes in the extract");
    return;
  }
  IMap& map = *device.map();
  // One untimed pass for the figures (it also fills the reader's caches).
  std::size_t streets = 0, numbers = 0, near = 0;
  for (const OsmAddress& a : addresses) {
    const Answer answer = Ask(map, a, true);
    streets += answer.street == a.street ? 1 : 0;
    const long number = answer.number.empty() ? -1000 : std::atol(answer.number.c_str());
    numbers += number == a.number ? 1 : 0;
    near += std::labs(number - a.number) <= 10 ? 1 : 0;
  }
  std::size_t i = 0;
  for (auto _ : state) {
    const Answer answer = Ask(map, addresses[i], false);
    benchmark::DoNotOptimize(answer.hr);
    if (++i == addresses.size()) i = 0;
  }
  const double n = static_cast<double>(addresses.size());
  state.counters["addresses"] = n;
  state.counters["street_equal_share"] = static_cast<double>(streets) / n;
  state.counters["number_equal_share"] = static_cast<double>(numbers) / n;
  state.counters["number_within_10_share"] = static_cast<double>(near) / n;
}
BENCHMARK(BM_WhereAmI)->Unit(benchmark::kMicrosecond);

}  // namespace

