// The features-near-a-point search over the demo street map (the build
// converts the Neubrandenburg extract into it), with a radius of about 100 m,
// once without a heading and once with a heading per position (tolerance
// 45 degrees, as the map engine asks ahead of the user), at two sets of
// positions:
//  - 10,000 positions drawn with a fixed seed inside the map's bounds: many
//    lie in fields and woods, where the search finds nothing near;
//  - the positions of the extract's addresses (about 10,000, in the order
//    the converter reads them, as the real-data check reads them), where a
//    user stands when asking and where nearly every search hits a street.
// Reported: time per search, the share of positions with a hit, the arena
// bytes in use after the run, and a hash of all answers, which must be the
// same before and after the timed runs (and from one build to the next).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "mapengine/format/features/RmfFeaturesNear.h"
#include "mapengine/format/features/RmfQuery.h"
#include "mapengine/format/store/RmfReader.h"
#include "mapengine/format/store/RmfTagArena.h"
#include "tools/osm2rmf/Osm2Rmf.h"
#include "tools/rmfbuild/RmfMemoryReader.h"

#ifndef NEAR_BENCH_MAP
#error "NEAR_BENCH_MAP must name the demo street map"
#endif
#ifndef NEAR_BENCH_OSM
#error "NEAR_BENCH_OSM must name the extract the demo street map is made of"
#endif

namespace {

constexpr int kPositions = 10000;
constexpr std::uint32_t kSeed = 1133;
// 100 m: 0.1 km x 6710.8864 units per km.
constexpr std::int32_t kRadius = 671;
constexpr std::int32_t kTolerance = 0x2000000;  // 45 degrees
constexpr std::int32_t kCapacity = 15;          // what the map engine asks for
constexpr std::uint32_t kArenaBytes = 32u << 20;

struct Position {
  std::int32_t x;
  std::int32_t y;
  std::int32_t heading;
};

std::uint64_t Fold(std::uint64_t h, const void* bytes, std::size_t n) {
  const auto* p = static_cast<const std::uint8_t*>(bytes);
  for (std::size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
  return h;
}

// Where the positions lie.
enum class Where { kRandom, kAddresses };

// The positions of the extract's addresses, read through the converter once
// per program (the conversion takes about a second, too long to repeat for
// every run of a benchmark).
struct AddressPoints {
  std::vector<TiPoint> points;
  std::string error;
};

const AddressPoints& Addresses() {
  static const AddressPoints loaded = [] {
    AddressPoints a;
    const osm2rmf::Conversion osm = osm2rmf::ConvertOsmFile(NEAR_BENCH_OSM, "Neubrandenburg");
    if (!osm || osm.addresses.empty()) {
      a.error = "no addresses from " + std::string(NEAR_BENCH_OSM) + ": " + osm.error;
      return a;
    }
    for (const osm2rmf::Address& address : osm.addresses) a.points.push_back(address.point);
    return a;
  }();
  return loaded;
}

// Bytes of the arena held by blocks (fixed ones and cached tile data).
double ArenaBytesInUse(RmfReader* reader) {
  std::vector<rmf::detail::TagRegionReport> regions;
  std::string fault;
  if (!rmf::detail::TagArenaCheck(reader->arena, &regions, nullptr, &fault)) return -1;
  double sum = 0;
  for (const auto& region : regions) {
    for (const auto& block : region.blocks) {
      if (block.references > 0) sum += block.size;
    }
  }
  return sum;
}

class Map {
 public:
  explicit Map(Where where) {
    if (reader_ == nullptr || RmfReaderOpen(reader_, NEAR_BENCH_MAP, 0) < 1) {
      error_ = "cannot open " + std::string(NEAR_BENCH_MAP);
      return;
    }
    RmfQuerySetClassFilter(reader_, 'R', "4567");  // the map engine's street classes
    std::mt19937 gen(kSeed);
    std::uniform_int_distribution<std::int32_t> heading(-0x7FFFFFF, 0x8000000);
    if (where == Where::kAddresses) {
      const AddressPoints& addresses = Addresses();
      error_ = addresses.error;
      for (const TiPoint& p : addresses.points) positions_.push_back(Position{p.x, p.y, heading(gen)});
      return;
    }
    TiPoint low{};
    TiPoint high{};
    RmfReaderGetBounds(reader_, &low, &high);
    std::uniform_int_distribution<std::int32_t> x(low.x, high.x);
    std::uniform_int_distribution<std::int32_t> y(low.y, high.y);
    for (int i = 0; i < kPositions; ++i) positions_.push_back(Position{x(gen), y(gen), heading(gen)});
  }
  const std::string& error() const { return error_; }
  RmfReader* reader() const { return reader_; }

  std::int32_t Search(const Position& p, bool withHeading, RmfFeatureRef* out) const {
    std::int32_t overflow = 0;
    return RmfFeaturesNear(reader_, p.x, p.y, kRadius, withHeading ? p.heading : 0, withHeading ? kTolerance : -1, out,
                           kCapacity, &overflow);
  }

  // Every position once: the hash of the answers and how many found any.
  std::uint64_t Pass(bool withHeading, int* found) const {
    std::uint64_t h = 14695981039346656037ull;
    *found = 0;
    RmfFeatureRef out[kCapacity];
    for (const Position& p : positions_) {
      const std::int32_t n = Search(p, withHeading, out);
      h = Fold(h, &n, sizeof n);
      if (n > 0) {
        ++*found;
        h = Fold(h, out, sizeof(RmfFeatureRef) * static_cast<std::size_t>(std::min(n, kCapacity)));
      }
    }
    return h;
  }

  const std::vector<Position>& positions() const { return positions_; }

 private:
  rmfbuild::MemoryReader arena_{kArenaBytes};  // the map file itself is read from the disk
  RmfReader* reader_ = arena_.reader();
  std::string error_;
  std::vector<Position> positions_;
};

void Near(benchmark::State& state, Where where, bool withHeading) {
  Map map(where);
  if (!map.error().empty()) {
    state.SkipWithError(map.error().c_str());
    return;
  }
  int found = 0;
  const std::uint64_t first = map.Pass(withHeading, &found);  // also fills the caches
  RmfFeatureRef out[kCapacity];
  std::size_t i = 0;
  for (auto _ : state) {
    const std::int32_t n = map.Search(map.positions()[i], withHeading, out);
    benchmark::DoNotOptimize(n);
    if (++i == map.positions().size()) i = 0;
  }
  int again = 0;
  if (map.Pass(withHeading, &again) != first || again != found) {
    state.SkipWithError("the answers changed from one run to the next");
  }
  state.counters["hit_share"] = static_cast<double>(found) / static_cast<double>(map.positions().size());
  state.counters["arena_bytes_in_use"] = ArenaBytesInUse(map.reader());
  state.counters["hash"] = static_cast<double>(first & 0xffffffffu);
}

void BM_NearNoHeading(benchmark::State& s) { Near(s, Where::kRandom, false); }
void BM_NearWithHeading(benchmark::State& s) { Near(s, Where::kRandom, true); }
void BM_NearAddressesNoHeading(benchmark::State& s) { Near(s, Where::kAddresses, false); }
void BM_NearAddressesWithHeading(benchmark::State& s) { Near(s, Where::kAddresses, true); }

BENCHMARK(BM_NearNoHeading)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_NearWithHeading)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_NearAddressesNoHeading)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_NearAddressesWithHeading)->Unit(benchmark::kMicrosecond);

}  // namespace
