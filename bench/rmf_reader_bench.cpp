// Opening a map file of 10,000 tiles and reading every record through the
// sources: cold (a new reader and arena each time, every record read from the
// file and, for the compressed file, inflated) and warm (records already in
// the arena's caches). The count of records read is checked against the file.
#include <benchmark/benchmark.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "mapengine/format/store/RmfReader.h"
#include "mapengine/format/store/RmfSource.h"
#include "tools/rmfbuild/RmfBuilder.h"
#include "tools/rmfbuild/RmfMemoryReader.h"

namespace {

constexpr std::uint32_t kTiles = 10000;
constexpr std::uint32_t kRecordsPerTile = 3;

const std::string& MapFile(bool compressed) {
  static std::string paths[2];
  std::string& path = paths[compressed ? 1 : 0];
  if (path.empty()) {
    path = std::string("/tmp/rmf-reader-bench-") + (compressed ? "z" : "plain") + ".rmf";
    rmfbuild::GridOptions options;
    options.compressed = compressed;
    std::string error;
    if (!rmfbuild::WriteFile(rmfbuild::GenerateGrid(6, kTiles, kRecordsPerTile, 42, options), path, &error)) {
      std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), error.c_str());
      std::exit(1);
    }
  }
  return path;
}

long WalkAll(RmfSource* source) {
  RmfSrcF5(source, 1, 8);
  RmfSrcSetRect(source, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX);
  RmfSrcStartQuery(source);
  long records = 0;
  while (RmfSrcLoadBlock(source) != nullptr) ++records;
  return records;
}

void ReadEveryRecord(benchmark::State& state, bool compressed, bool warm) {
  const std::string& path = MapFile(compressed);
  // Room for every record: the warm case must not evict. A cold start is a
  // fresh reader in the same memory.
  rmfbuild::MemoryReader arena(64u << 20);
  RmfReader* reader = nullptr;
  auto open = [&]() {
    reader = arena.Restart();
    RmfReaderSetWindowFactor(reader, static_cast<std::int32_t>(state.range(0)));
    if (RmfReaderOpen(reader, path.c_str(), 0) <= 0) state.SkipWithError("open failed");
  };
  if (warm) {
    open();
    WalkAll(reader->sources[0]);
  }
  long records = 0;
  for (auto _ : state) {
    if (!warm) open();
    records = WalkAll(reader->sources[0]);
    benchmark::DoNotOptimize(records);
    if (!warm) arena.Close();
  }
  if (records != static_cast<long>(kTiles * kRecordsPerTile)) state.SkipWithError("wrong number of records");
  state.counters["records"] = static_cast<double>(records);
}

void BM_ColdPlain(benchmark::State& s) { ReadEveryRecord(s, false, false); }
void BM_ColdCompressed(benchmark::State& s) { ReadEveryRecord(s, true, false); }
void BM_WarmPlain(benchmark::State& s) { ReadEveryRecord(s, false, true); }
void BM_WarmCompressed(benchmark::State& s) { ReadEveryRecord(s, true, true); }

// The argument is the read window factor (x 1 KB; below 2 every record is
// read by itself).
BENCHMARK(BM_ColdPlain)->Arg(0)->Arg(8)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ColdCompressed)->Arg(0)->Arg(8)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WarmPlain)->Arg(8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WarmCompressed)->Arg(8)->Unit(benchmark::kMillisecond);

}  // namespace
