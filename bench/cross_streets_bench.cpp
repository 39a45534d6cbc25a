// The cross streets ahead and the nearest-street texts on the demo street map
// (the build converts the Neubrandenburg extract into it), through the map
// engine object as the navigation engine calls it, at 1,000 positions drawn
// with a fixed seed on the extract's named streets, each with the heading
// along its way:
//  - IMap::FindNextCrossStreets (position, street name, empty request text,
//    heading), time per call;
//  - the nearest street with its house-number and city texts
//    (GetNearestFeature, GetStreetAddressText, GetCityText), time per
//    position.
// Reported besides: the share of calls answered S_OK, the mean number of
// cross streets, and the share of positions whose list names a street that
// meets at the junction ahead in the extract (positions with a junction
// ahead only); for the texts, the share of positions whose nearest street
// has the way's name.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "mapengine/object/CMap.h"
#include "mapengine/object/CartovelLib.h"
#include "mapengine/object/Geometry.h"
#include "mapengine/object/StreetNames.h"
#include "mapengine/object/Utilities.h"
#include "platform/com/oleauto.h"
#include "platform/os/device.h"
#include "platform/os/text.h"
#include "tests/mapengine/object/extract_junctions.h"

#ifndef CROSS_BENCH_MAP
#error "CROSS_BENCH_MAP must name the demo street map"
#endif
#ifndef CROSS_BENCH_OSM
#error "CROSS_BENCH_OSM must name the extract the demo street map is made of"
#endif
#ifndef CROSS_BENCH_LANGUAGE
#error "CROSS_BENCH_LANGUAGE must name the English language library"
#endif

namespace {

constexpr int kPositions = 1000;
constexpr std::uint32_t kSeed = 1214;

struct Position {
  SampledStreetPosition sample;
  double latitude = 0;
  double longitude = 0;
  const OsmJunction* junction = nullptr;  // in Engine::extract_
};

// One map engine object over the demo map, opened the way a device opens it
// (the map copied into the storage card's map folder of a device root of its
// own), with the English language library; and the sampled positions.
class Engine {
 public:
  Engine() {
    char pattern[] = "/tmp/cross-streets-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
      error_ = "no device root";
      return;
    }
    root_ = pattern;
    platform::SetDeviceRoot(root_);
    namespace fs = std::filesystem;
    std::error_code failed;
    fs::create_directories(root_ + "/Storage Card/Maps", failed);
    fs::copy_file(CROSS_BENCH_MAP, root_ + "/Storage Card/Maps/" + fs::path(CROSS_BENCH_MAP).filename().string(),
                  failed);
    if (failed) {
      error_ = "cannot copy " + std::string(CROSS_BENCH_MAP) + ": " + failed.message();
      return;
    }
    if (CMap::CreateObject(&map_) != S_OK) {
      error_ = "no map engine object";
      return;
    }
    BSTR language = SysAllocString(platform::Utf8ToUtf16(CROSS_BENCH_LANGUAGE).c_str());
    VARIANT_BOOL loaded = VARIANT_FALSE;
    map_->SetResources(language, &loaded);
    SysFreeString(language);
    BSTR folder = SysAllocString(u"");
    BSTR result = nullptr;
    map_->SetMapMemoryAllocated(16384);
    const HRESULT opened = map_->Initalize(folder, folder, nullptr, VARIANT_TRUE, &result);
    const bool ok = opened == S_OK && BstrView(result) == u"OK";
    SysFreeString(folder);
    SysFreeString(result);
    if (loaded != VARIANT_TRUE || !ok) {
      error_ = "cannot open the demo map or the language library";
      return;
    }
    extract_ = ReadExtractJunctions(CROSS_BENCH_OSM);
    if (!extract_.error.empty()) {
      error_ = extract_.error;
      return;
    }
    for (SampledStreetPosition& s : SampleStreetPositions(extract_, kPositions, kSeed)) {
      Position p;
      const DegreePoint d = MapUnitsToDegrees(s.point.x, s.point.y);
      p.latitude = d.latitude;
      p.longitude = d.longitude;
      p.junction = s.junction != 0 ? extract_.JunctionAt(s.junction) : nullptr;
      p.sample = std::move(s);
      positions_.push_back(std::move(p));
    }
    if (positions_.empty()) error_ = "no positions on named streets";
  }
  ~Engine() {
    if (map_ != nullptr) map_->Release();
    if (!root_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(root_, ignored);
    }
  }
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  const std::string& error() const { return error_; }
  CMap& map() { return *map_; }
  const std::vector<Position>& positions() const { return positions_; }

 private:
  std::string root_;
  std::string error_;
  CMap* map_ = nullptr;
  ExtractJunctions extract_;
  std::vector<Position> positions_;
};

Engine& TheEngine() {
  static Engine engine;
  return engine;
}

// What one FindNextCrossStreets call answered.
struct CrossAnswer {
  HRESULT hr = E_FAIL;
  std::vector<std::string> names;
};

CrossAnswer AskCrossStreets(IMap& map, const Position& p, bool readNames) {
  CrossAnswer answer;
  BSTR street = SysAllocString(platform::Utf8ToUtf16(p.sample.name).c_str());
  BSTR request = SysAllocString(u"");
  INT heading = p.sample.heading;
  VARIANT list;
  VariantInit(&list);
  answer.hr = map.FindNextCrossStreets(p.latitude, p.longitude, &street, &request, &heading, &list);
  if (readNames && list.vt == (VT_ARRAY | VT_VARIANT) && list.parray != nullptr) {
    LONG low = 0;
    LONG high = -1;
    SafeArrayGetLBound(list.parray, 1, &low);
    SafeArrayGetUBound(list.parray, 1, &high);
    for (LONG i = low; i <= high; ++i) {
      VARIANT item;
      VariantInit(&item);
      if (SafeArrayGetElement(list.parray, &i, &item) == S_OK && item.vt == VT_DISPATCH && item.pdispVal != nullptr) {
        ICrossStreet* cross = nullptr;
        if (item.pdispVal->QueryInterface(IidOf<ICrossStreet>(), reinterpret_cast<void**>(&cross)) == S_OK) {
          BSTR name = nullptr;
          if (cross->GetName(&name) == S_OK && name != nullptr) answer.names.push_back(platform::Utf16ToUtf8(BstrView(name)));
          SysFreeString(name);
          cross->Release();
        }
      }
      VariantClear(&item);
    }
  }
  VariantClear(&list);
  SysFreeString(street);
  SysFreeString(request);
  return answer;
}

void BM_FindNextCrossStreets(benchmark::State& state) {
  Engine& engine = TheEngine();
  if (!engine.error().empty()) {
    state.SkipWithError(engine.error().c_str());
    return;
  }
  IMap& map = engine.map();
  // One untimed pass for the figures (it also fills the reader's caches).
  std::size_t ok = 0, entries = 0, withJunction = 0, junctionNamed = 0;
  for (const Position& p : engine.positions()) {
    const CrossAnswer answer = AskCrossStreets(map, p, true);
    ok += answer.hr == S_OK ? 1 : 0;
    entries += answer.names.size();
    if (p.junction == nullptr) continue;
    ++withJunction;
    for (const std::string& name : answer.names) {
      if (p.junction->names.count(name) > 0) {
        ++junctionNamed;
        break;
      }
    }
  }
  std::size_t i = 0;
  for (auto _ : state) {
    const CrossAnswer answer = AskCrossStreets(map, engine.positions()[i], false);
    benchmark::DoNotOptimize(answer.hr);
    if (++i == engine.positions().size()) i = 0;
  }
  const double n = static_cast<double>(engine.positions().size());
  state.counters["ok_share"] = static_cast<double>(ok) / n;
  state.counters["mean_cross_streets"] = static_cast<double>(entries) / n;
  state.counters["junction_named_share"] =
      withJunction == 0 ? 0.0 : static_cast<double>(junctionNamed) / static_cast<double>(withJunction);
}

// The nearest street and its texts at one position; the street's name.
std::u16string NearestTexts(CMap& map, const Position& p) {
  const std::int32_t heading = p.sample.heading;
  const RmfFeatureRef street = map.GetNearestFeature(p.sample.point, heading, "567");
  const std::u16string number = map.GetStreetAddressText(street, p.sample.point, heading);
  const std::u16string city = map.GetCityText(street, p.sample.point, false, false);
  benchmark::DoNotOptimize(number.size() + city.size());
  return IsNullFeatureRef(street) ? std::u16string() : GetStreetName(map, street, false, false, false);
}

void BM_NearestFeatureTexts(benchmark::State& state) {
  Engine& engine = TheEngine();
  if (!engine.error().empty()) {
    state.SkipWithError(engine.error().c_str());
    return;
  }
  std::size_t named = 0;
  for (const Position& p : engine.positions()) {
    named += platform::Utf16ToUtf8(NearestTexts(engine.map(), p)) == p.sample.name ? 1 : 0;
  }
  std::size_t i = 0;
  for (auto _ : state) {
    NearestTexts(engine.map(), engine.positions()[i]);
    if (++i == engine.positions().size()) i = 0;
  }
  state.counters["street_named_share"] =
      static_cast<double>(named) / static_cast<double>(engine.positions().size());
}

BENCHMARK(BM_FindNextCrossStreets)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_NearestFeatureTexts)->Unit(benchmark::kMicrosecond);

}  // namespace
