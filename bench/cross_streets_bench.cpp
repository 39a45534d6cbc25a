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
// Reported besides: the share of calls answered with cross streets, the mean number of
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

#include "bench/MapEngineOnDevice.h"
#include "mapengine/object/CMap.h"
#include "typelib/CartovelLib.h"
#include "mapengine/object/Geometry.h"
#include "mapengine/object/StreetNames.h"
#include "mapengine/object/Utilities.h"
#include "platform/com/oleauto.h"
#include "platform/os/device.h"
#include "platform/os/text.h"
#include "tests/mapengine/object/cross_street_list.h"
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
  const OsmJunction* junction = nullptr;  // in Engine::extract_
};

// One map engine object over the demo map, opened the way a device opens it
// (the map copied into the storage card's map folder of a device root of its
// own), with the English language library; and the sampled positions.
class Engine {
 public:
  Engine() : device_(CROSS_BENCH_MAP, CROSS_BENCH_LANGUAGE) {
    if (device_.map() == nullptr) {
      error_ = device_.error();
      return;
    }
    extract_ = ReadExtractJunctions(CROSS_BENCH_OSM);
    if (!extract_.error.empty()) {
      error_ = extract_.error;
      return;
    }
    for (SampledStreetPosition& s : SampleStreetPositions(extract_, kPositions, kSeed)) {
      Position p;
      p.junction = s.junction != 0 ? extract_.JunctionAt(s.junction) : nullptr;
      p.sample = std::move(s);
      positions_.push_back(std::move(p));
    }
    if (positions_.empty()) error_ = "no positions on named streets";
  }
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  const std::string& error() const { return error_; }
  CMap& map() { return *device_.map(); }
  const std::vector<Position>& positions() const { return positions_; }

 private:
  MapEngineOnDevice device_;
  std::string error_;
  ExtractJunctions extract_;
  std::vector<Position> positions_;
};

Engine& TheEngine() {
  static Engine engine;
  return engine;
}

void BM_FindNextCrossStreets(benchmark::State& state) {
  Engine& engine = TheEngine();
  if (!engine.error().empty()) {
    state.SkipWithError(engine.error().c_str());
    return;
  }
  IMap& map = engine.map();
  // One untimed pass for the figures (it also fills the reader's caches).
  std::size_t answered = 0, entries = 0, withJunction = 0, junctionNamed = 0;
  for (const Position& p : engine.positions()) {
    const HeardCrossStreets answer = AskNextCrossStreets(map, p.sample.point, p.sample.name, p.sample.heading);
    answered += answer.hr == S_OK && !answer.streets.empty() ? 1 : 0;
    entries += answer.streets.size();
    if (p.junction == nullptr) continue;
    ++withJunction;
    for (const HeardCrossStreet& c : answer.streets) {
      if (p.junction->names.count(c.name) > 0) {
        ++junctionNamed;
        break;
      }
    }
  }
  std::size_t i = 0;
  for (auto _ : state) {
    const Position& p = engine.positions()[i];
    const HeardCrossStreets answer = AskNextCrossStreets(map, p.sample.point, p.sample.name, p.sample.heading);
    benchmark::DoNotOptimize(answer.hr);
    if (++i == engine.positions().size()) i = 0;
  }
  const double n = static_cast<double>(engine.positions().size());
  state.counters["answered_share"] = static_cast<double>(answered) / n;
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
