// The feature query over a dense city-sized map made with the builder: 64
// level-0 tiles (about 5 x 5 km) holding some 6,000 streets, points of
// interest and block areas (fixed seed). Queries of a street block, a
// district and the whole city, in map units and in degrees, with the
// records already in the arena's caches. Each run folds its results into a
// hash, which must stay the same from one run to the next and is reported.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "mapengine/format/base/TiUnits.h"
#include "mapengine/format/features/RmfQuery.h"
#include "mapengine/format/store/RmfReader.h"
#include "tools/rmfbuild/RmfBuilder.h"
#include "tools/rmfbuild/RmfMemoryReader.h"

namespace {

constexpr std::int32_t kCell = 4096;  // level-0 tiles
constexpr int kSide = 8;
constexpr std::int32_t kOriginX = 4096 * 300;
constexpr std::int32_t kOriginY = 4096 * 900;

const std::vector<std::uint8_t>& CityFile() {
  static const std::vector<std::uint8_t> file = [] {
    std::mt19937 gen(1848);
    rmfbuild::MapDescription d;
    for (int cx = 0; cx < kSide; ++cx) {
      for (int cy = 0; cy < kSide; ++cy) {
        const std::int32_t x0 = kOriginX + cx * kCell;
        const std::int32_t y0 = kOriginY + cy * kCell;
        rmfbuild::Tile t = rmfbuild::Tile::At(0, TiPoint{x0 + kCell / 2, y0 + kCell / 2});
        rmfbuild::Record r;
        std::uniform_int_distribution<std::int32_t> in(1, kCell - 2);
        const auto add = [&](const std::string& code, const std::vector<TiPoint>& pts) {
          rmfbuild::Part part;
          part.text = rmfbuild::TextTriple{code, "Feature " + std::to_string(r.parts.size()), ""};
          for (const TiPoint& p : pts) {
            part.words.push_back(rmfbuild::VertexWord::Point(static_cast<std::uint16_t>(r.points.size())));
            r.points.push_back(p);
          }
          r.parts.push_back(part);
        };
        for (int k = 0; k < 60; ++k) {  // streets
          std::vector<TiPoint> street(2 + gen() % 5);
          for (TiPoint& p : street) p = TiPoint{x0 + in(gen), y0 + in(gen)};
          add(std::string("8") + static_cast<char>('4' + gen() % 4) + "1", street);
        }
        for (int k = 0; k < 35; ++k) {  // points of interest
          add(std::string("8") + static_cast<char>('1' + gen() % 7) + "0", {TiPoint{x0 + in(gen), y0 + in(gen)}});
        }
        for (int k = 0; k < 3; ++k) {  // blocks
          const std::int32_t bx = x0 + in(gen) / 2;
          const std::int32_t by = y0 + in(gen) / 2;
          const std::int32_t s = 100 + in(gen) / 4;
          add("832+", {{bx, by}, {bx, by + s}, {bx + s, by + s}, {bx + s, by}, {bx, by}});
        }
        t.records.push_back(r);
        d.tiles.push_back(t);
      }
    }
    rmfbuild::BuildResult built = rmfbuild::Build(d);
    return built.ok ? built.bytes : std::vector<std::uint8_t>{};
  }();
  return file;
}

std::uint64_t Fold(std::uint64_t h, const void* bytes, std::size_t n) {
  const auto* p = static_cast<const std::uint8_t*>(bytes);
  for (std::size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
  return h;
}

// The city map in a reader of its own, queried for every point of
// interest, the streets and the blocks.
struct Reader {
  rmfbuild::MemoryReader maps{32u << 20};
  RmfReader* reader = maps.reader();
  bool opened = false;
  Reader() {
    opened = maps.AddBorrowedBytes(CityFile().data(), CityFile().size()) >= 1;
    RmfQuerySetLevels(reader, 1, 8);
    RmfQuerySetClassFilter(reader, '0', "1234567");
    RmfQuerySetClassFilter(reader, '1', "4567");
    RmfQuerySetClassFilter(reader, '2', "3");
  }
};

// Runs the query to its end: the hash of its results and their count.
std::uint64_t RunQuery(RmfReader* reader, bool degrees, long* hits) {
  std::uint64_t h = 14695981039346656037ull;
  RmfQueryStart(reader);
  char code[6];
  char name[51];
  for (;;) {
    std::int32_t count = 0;
    RmfFeatureRef ref{};
    std::int32_t n = 0;
    if (degrees) {
      double* points = nullptr;
      n = RmfQueryNextDegrees(reader, code, name, nullptr, &count, &ref, &points);
      if (n > 0) h = Fold(h, points, sizeof(double) * 2 * static_cast<std::size_t>(n));
    } else {
      TiPoint* points = nullptr;
      n = RmfQueryNext(reader, code, name, nullptr, &count, &ref, &points);
      if (n > 0) h = Fold(h, points, sizeof(TiPoint) * static_cast<std::size_t>(n));
    }
    if (n == 0 || n == kRmfBadArgument || n == kRmfCancelled) break;
    h = Fold(h, &n, sizeof n);
    h = Fold(h, &ref, sizeof ref);
    h = Fold(h, code, std::strlen(code));
    ++*hits;
  }
  return h;
}

void Query(benchmark::State& state, std::int32_t size, bool degrees) {
  if (CityFile().empty()) {
    state.SkipWithError("the city map could not be built");
    return;
  }
  Reader r;
  if (!r.opened) {
    state.SkipWithError("the city map could not be opened");
    return;
  }
  const std::int32_t cx = kOriginX + kSide * kCell / 2;
  const std::int32_t cy = kOriginY + kSide * kCell / 2;
  if (degrees) {
    const double k = kTiDegreesPerUnit;
    RmfQuerySetRectDegrees(r.reader, (cx - size / 2) * k, (cy - size / 2) * k, (cx + size / 2) * k,
                           (cy + size / 2) * k);
  } else {
    RmfQuerySetRect(r.reader, cx - size / 2, cy - size / 2, cx + size / 2, cy + size / 2);
  }
  long hits = 0;
  const std::uint64_t first = RunQuery(r.reader, degrees, &hits);  // fills the caches
  for (auto _ : state) {
    long n = 0;
    const std::uint64_t h = RunQuery(r.reader, degrees, &n);
    benchmark::DoNotOptimize(h);
    if (h != first || n != hits) state.SkipWithError("the results changed from one run to the next");
  }
  state.counters["hits"] = static_cast<double>(hits);
  state.counters["hash"] = static_cast<double>(first & 0xffffffffu);
}

void BM_StreetBlock(benchmark::State& s) { Query(s, 1300, false); }  // about 200 m
void BM_District(benchmark::State& s) { Query(s, 6700, false); }     // about 1 km
void BM_WholeCity(benchmark::State& s) { Query(s, kSide * kCell + 2000, false); }
void BM_DistrictDegrees(benchmark::State& s) { Query(s, 6700, true); }

BENCHMARK(BM_StreetBlock)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_District)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WholeCity)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DistrictDegrees)->Unit(benchmark::kMicrosecond);

}  // namespace
