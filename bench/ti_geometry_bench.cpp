// Benchmarks of the geometry every position question starts with: the
// nearest point of a street polyline (streets of 2, 20 and 500 points, with
// and without a heading filter) and the distance between two points (the
// flat formula of the near range and the great circle beyond it). Inputs are
// fixed-seed random values cycled from a small array; a checksum of the
// results keeps the calls from being optimised away and shows that runs
// compute the same.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "mapengine/format/base/TiGeometry.h"

namespace {

constexpr std::size_t kQueries = 1024;  // a power of two, cycled with a mask
constexpr std::size_t kStreets = 64;
constexpr std::int32_t kDegree = 745654;

struct Street {
  std::vector<TiPoint> points;
};

// Streets as random walks of 10 m to 200 m steps (67 to 1342 units) that
// mostly keep their direction, around a town at 47 degrees north; queries
// within about 300 m of a random vertex, searched up to 250 m away.
struct Town {
  std::vector<Street> streets;
  std::vector<TiPoint> queries;
  std::vector<std::uint32_t> streetOfQuery;
};

Town MakeTown(std::int32_t pointsPerStreet, std::uint32_t seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> unit(0, 1);
  Town town;
  const TiPoint centre{8 * kDegree, 47 * kDegree};
  for (std::size_t s = 0; s < kStreets; ++s) {
    Street street;
    TiPoint at{centre.x + static_cast<std::int32_t>(gen() % 200000) - 100000,
               centre.y + static_cast<std::int32_t>(gen() % 140000) - 70000};
    double direction = unit(gen) * 6.283185307179586;
    for (std::int32_t k = 0; k < pointsPerStreet; ++k) {
      street.points.push_back(at);
      direction += (unit(gen) - 0.5) * 0.6;
      const double step = 67 + unit(gen) * 1275;
      at.x += static_cast<std::int32_t>(std::cos(direction) * step / 0.682);  // cos 47 degrees
      at.y += static_cast<std::int32_t>(std::sin(direction) * step);
    }
    town.streets.push_back(std::move(street));
  }
  for (std::size_t q = 0; q < kQueries; ++q) {
    const auto s = static_cast<std::uint32_t>(gen() % kStreets);
    const TiPoint& v = town.streets[s].points[gen() % town.streets[s].points.size()];
    town.queries.push_back(TiPoint{v.x + static_cast<std::int32_t>(gen() % 4001) - 2000,
                                   v.y + static_cast<std::int32_t>(gen() % 4001) - 2000});
    town.streetOfQuery.push_back(s);
  }
  return town;
}

// range(0): points per street; range(1): 1 with a heading filter (45
// degrees either side of a random heading, along the street's direction).
void BM_TiPointToPolylineHeading(benchmark::State& state) {
  const auto points = static_cast<std::int32_t>(state.range(0));
  const bool filtered = state.range(1) != 0;
  const Town town = MakeTown(points, 11);
  std::mt19937 gen(12);
  std::vector<std::int32_t> headings(kQueries);
  for (auto& h : headings) h = static_cast<std::int32_t>(gen() % 0x10000000) - 0x8000000;
  const std::int32_t tolerance = filtered ? 0x2000000 : -1;
  std::int64_t checksum = 0;
  std::size_t i = 0;
  for (auto _ : state) {
    const std::size_t q = i++ & (kQueries - 1);
    const Street& street = town.streets[town.streetOfQuery[q]];
    TiPoint nearest{};
    std::int32_t dist = 0;
    const std::int32_t r = TiPointToPolylineHeading(&town.queries[q], street.points.data(), points, 1678, 1,
                                                    headings[q], tolerance, 1, &nearest, &dist);
    checksum += r >= 0 ? r + dist + (nearest.x & 0xFF) : -1;
    benchmark::DoNotOptimize(checksum);
  }
  state.counters["checksum"] = static_cast<double>(checksum % 1000003);
}
BENCHMARK(BM_TiPointToPolylineHeading)
    ->Args({2, 0})
    ->Args({20, 0})
    ->Args({500, 0})
    ->Args({20, 1})
    ->Args({500, 1});

// range(0): 0 for pairs within 2^20 units in both coordinates (the flat
// formula), 1 for pairs up to 40 degrees apart (the great circle).
void BM_TiDistance(benchmark::State& state) {
  const bool far = state.range(0) != 0;
  std::mt19937 gen(13);
  const std::uint32_t span = far ? 40u * kDegree : 0x100000u;
  std::vector<TiPoint> from(kQueries), to(kQueries);
  for (std::size_t k = 0; k < kQueries; ++k) {
    from[k] = TiPoint{static_cast<std::int32_t>(gen() % (300u * kDegree)) - 150 * kDegree,
                      static_cast<std::int32_t>(gen() % (120u * kDegree)) - 60 * kDegree};
    to[k] = TiPoint{from[k].x + static_cast<std::int32_t>(gen() % (2 * span + 1) - span),
                    from[k].y + static_cast<std::int32_t>(gen() % (span / 2 + 1) - span / 4)};
  }
  std::int64_t checksum = 0;
  std::size_t i = 0;
  for (auto _ : state) {
    const std::size_t k = i++ & (kQueries - 1);
    checksum += TiDistance(&from[k], &to[k]);
    benchmark::DoNotOptimize(checksum);
  }
  state.counters["checksum"] = static_cast<double>(checksum % 1000003);
}
BENCHMARK(BM_TiDistance)->Arg(0)->Arg(1);

}  // namespace
