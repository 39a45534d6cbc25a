// The map-file builder on a synthetic grid of thousands of tiles: generating
// the description of 3,000 compressed tiles with wide entries (two records
// each, level 5, the seed of the builder's grid test) and building the file
// from it, the two steps timed apart and together. The tests check what the
// build gives; this measures how long it takes.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "tools/rmfbuild/RmfBuilder.h"

namespace {

constexpr std::uint32_t kLevel = 5;
constexpr std::uint32_t kTiles = 3000;
constexpr std::uint32_t kRecordsPerTile = 2;
constexpr std::uint32_t kSeed = 2024;
const rmfbuild::GridOptions kOptions{true, true};

void BM_GenerateGrid(benchmark::State& state) {
  for (auto _ : state) {
    const rmfbuild::MapDescription d = rmfbuild::GenerateGrid(kLevel, kTiles, kRecordsPerTile, kSeed, kOptions);
    benchmark::DoNotOptimize(d.tiles.size());
  }
}
BENCHMARK(BM_GenerateGrid)->Unit(benchmark::kMillisecond);

void BM_BuildGrid(benchmark::State& state) {
  const rmfbuild::MapDescription d = rmfbuild::GenerateGrid(kLevel, kTiles, kRecordsPerTile, kSeed, kOptions);
  std::size_t bytes = 0;
  for (auto _ : state) {
    const rmfbuild::BuildResult built = rmfbuild::Build(d);
    if (!built) {
      state.SkipWithError("the grid was refused");
      break;
    }
    bytes = built.bytes.size();
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["file_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_BuildGrid)->Unit(benchmark::kMillisecond);

void BM_GenerateAndBuildGrid(benchmark::State& state) {
  for (auto _ : state) {
    const rmfbuild::BuildResult built =
        rmfbuild::Build(rmfbuild::GenerateGrid(kLevel, kTiles, kRecordsPerTile, kSeed, kOptions));
    if (!built) {
      state.SkipWithError("the grid was refused");
      break;
    }
    benchmark::DoNotOptimize(built.bytes.data());
  }
}
BENCHMARK(BM_GenerateAndBuildGrid)->Unit(benchmark::kMillisecond);

}  // namespace
