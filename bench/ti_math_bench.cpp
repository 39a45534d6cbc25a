// Benchmarks of the map-format library's hottest integer helpers: the
// interpolated square root, the table arc tangent and the point-to-tile-id
// conversion that every tile lookup starts with. Inputs are fixed-seed random
// values cycled from a small array; a checksum of the results keeps the
// calls from being optimised away and shows that runs compute the same.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "mapengine/format/base/TiMath.h"
#include "mapengine/format/store/RmfTile.h"

namespace {

constexpr std::size_t kInputs = 4096;  // a power of two, cycled with a mask

std::vector<std::uint32_t> RandomWords(std::uint32_t seed) {
  std::mt19937 gen(seed);
  std::vector<std::uint32_t> words(kInputs);
  // Spread over all magnitudes, as distances and squared lengths are.
  for (auto& w : words) w = static_cast<std::uint32_t>(gen()) >> (gen() % 32);
  return words;
}

void BM_TiSqrt(benchmark::State& state) {
  const std::vector<std::uint32_t> inputs = RandomWords(1);
  std::uint64_t checksum = 0;
  std::size_t i = 0;
  for (auto _ : state) {
    checksum += TiSqrt(inputs[i++ & (kInputs - 1)]);
    benchmark::DoNotOptimize(checksum);
  }
  state.counters["checksum"] = static_cast<double>(checksum % 1000003);
}
BENCHMARK(BM_TiSqrt);

void BM_TiAtan2(benchmark::State& state) {
  std::mt19937 gen(2);
  std::vector<std::int32_t> xs(kInputs), ys(kInputs);
  for (std::size_t k = 0; k < kInputs; ++k) {
    // Map-unit vector components, both signs, all octants.
    xs[k] = static_cast<std::int32_t>(gen() % (1u << 29)) - (1 << 28);
    ys[k] = static_cast<std::int32_t>(gen() % (1u << 29)) - (1 << 28);
  }
  std::int64_t checksum = 0;
  std::size_t i = 0;
  for (auto _ : state) {
    const std::size_t k = i++ & (kInputs - 1);
    checksum += TiAtan2(ys[k], xs[k]);
    benchmark::DoNotOptimize(checksum);
  }
  state.counters["checksum"] = static_cast<double>(checksum % 1000003);
}
BENCHMARK(BM_TiAtan2);

void BM_RmfTileIdOfPoint(benchmark::State& state) {
  const auto level = static_cast<std::uint32_t>(state.range(0));
  std::mt19937 gen(3);
  std::vector<TiPoint> points(kInputs);
  for (auto& p : points) {
    p.x = static_cast<std::int32_t>(gen() % (1u << 28)) - (1 << 27);
    p.y = static_cast<std::int32_t>(gen() % (1u << 27)) - (1 << 26);
  }
  std::uint64_t checksum = 0;
  std::size_t i = 0;
  for (auto _ : state) {
    checksum += RmfTileIdOfPoint(&points[i++ & (kInputs - 1)], level);
    benchmark::DoNotOptimize(checksum);
  }
  state.counters["checksum"] = static_cast<double>(checksum % 1000003);
}
BENCHMARK(BM_RmfTileIdOfPoint)->Arg(0)->Arg(7)->Arg(14);

}  // namespace
