// The route benchmark (by hand, not in CI): the map engine's router against
// Routino on the same OpenStreetMap extract and the same pairs.
//
//   route_vs_routino EXTRACT [--pairs N] [--seed S] [--dir D] [--modes walking|driving|both]
//
// It converts the extract into a street map in this process (as the osm2rmf
// command does), builds Routino's database from the same extract with
// planetsplitter, draws N pairs of nodes (default 200) per travel mode with
// the seed from the ways both routers can use, routes each pair with both
// routers (walking: Routino's foot profile, shortest route; driving: its
// motorcar profile, quickest route) and prints per mode, side by side, the
// time per route (median and 95th percentile), the nodes expanded, the
// memory for routing and the length ratio to Routino's route. A second table
// times the whole request on the same pairs in the same run: the map
// engine's route request through IMap (the route thread, the search and the
// spoken steps, up to the finished array of WayPoints) next to Routino's
// route with its text directions. D keeps the
// map and the database (default: a folder under the system's temp folder,
// removed at the end of a run that succeeded).
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/route/BenchRouter.h"
#include "bench/route/MapEngineRequest.h"
#include "bench/route/MapEngineRouter.h"
#include "bench/route/RouteHarness.h"
#include "bench/route/RoutePairs.h"
#include "bench/route/RoutinoRouter.h"
#include "tools/osm2rmf/Osm2Rmf.h"

#ifndef PLANETSPLITTER_COMMAND
#error "PLANETSPLITTER_COMMAND must name Routino's planetsplitter"
#endif
#ifndef ROUTINO_DATA_DIR
#error "ROUTINO_DATA_DIR must name the folder of Routino's profiles, tagging and translations files"
#endif

namespace routebench {
namespace {

struct Options {
  std::string extract;
  std::size_t pairs = 200;
  std::uint32_t seed = 20240917;
  std::string dir;
  std::vector<TravelMode> modes = {TravelMode::kWalking, TravelMode::kDriving};
};

bool ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool more = i + 1 < argc;
    if (a == "--pairs" && more) {
      o->pairs = std::strtoull(argv[++i], nullptr, 10);
    } else if (a == "--seed" && more) {
      o->seed = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else if (a == "--dir" && more) {
      o->dir = argv[++i];
    } else if (a == "--modes" && more) {
      const std::string m = argv[++i];
      if (m == "walking") {
        o->modes = {TravelMode::kWalking};
      } else if (m == "driving") {
        o->modes = {TravelMode::kDriving};
      } else if (m != "both") {
        return false;
      }
    } else if (!a.empty() && a[0] != '-' && o->extract.empty()) {
      o->extract = a;
    } else {
      return false;
    }
  }
  return !o->extract.empty() && o->pairs > 0;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The map's name: the extract's file name up to its first dot.
std::string MapName(const std::string& extract) {
  const std::string file = std::filesystem::path(extract).filename().string();
  const std::string name = file.substr(0, file.find('.'));
  return name.empty() ? "Extract" : name;
}

// The street map of the extract, converted and written as the osm2rmf
// command does; its path, or empty after printing why not.
std::string ConvertExtract(const std::string& extract, const std::filesystem::path& dir) {
  const auto start = std::chrono::steady_clock::now();
  const std::string name = MapName(extract);
  osm2rmf::Conversion conversion = osm2rmf::ConvertOsmFile(extract, name);
  if (!conversion) {
    std::fprintf(stderr, "route_vs_routino: %s\n", conversion.error.c_str());
    return {};
  }
  std::vector<osm2rmf::Address>().swap(conversion.addresses);  // not needed for the maps
  const osm2rmf::WriteReport report = osm2rmf::WriteMaps(conversion, (dir / "maps").string(), name);
  if (!report.ok) {
    std::fprintf(stderr, "route_vs_routino: %s\n", report.error.c_str());
    return {};
  }
  std::printf("converted in %.2f s: %zu streets from %zu highway ways -> %s\n", SecondsSince(start),
              conversion.stats.streets, conversion.stats.highwayWays, report.streetFile.c_str());
  return report.streetFile;
}

const std::vector<LatLon>& NodesOf(const ModeNodes& nodes, TravelMode mode) {
  return mode == TravelMode::kWalking ? nodes.walking : nodes.driving;
}

int Run(const Options& o) {
  const bool keep = !o.dir.empty();
  const std::filesystem::path dir =
      keep ? std::filesystem::path(o.dir)
           : std::filesystem::temp_directory_path() / ("route_vs_routino_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  // A temporary folder goes at the end of a run that succeeded; after a
  // failure it stays for a look at what was written (planetsplitter's log).
  struct Cleanup {
    const std::filesystem::path& dir;
    bool remove;
    ~Cleanup() {
      std::error_code ec;
      if (remove) std::filesystem::remove_all(dir, ec);
    }
  } cleanup{dir, false};

  std::printf("extract: %s\n", o.extract.c_str());
  const std::string streetMap = ConvertExtract(o.extract, dir);
  if (streetMap.empty()) return 1;

  const std::string databaseDir = (dir / "routino").string();
  const std::string dataDir = ROUTINO_DATA_DIR;
  const DatabaseBuild build = BuildRoutinoDatabase(PLANETSPLITTER_COMMAND, dataDir + "/tagging.xml", o.extract,
                                                   databaseDir);
  if (!build.ok) {
    std::fprintf(stderr, "route_vs_routino: %s\n", build.error.c_str());
    return 1;
  }
  std::printf("Routino database built by planetsplitter in %.2f s: %.1f MB -> %s\n", build.seconds,
              static_cast<double>(build.bytes) / 1048576.0, databaseDir.c_str());

  auto start = std::chrono::steady_clock::now();
  const ModeNodes nodes = ReadModeNodes(o.extract);
  if (!nodes.error.empty()) {
    std::fprintf(stderr, "route_vs_routino: %s: %s\n", o.extract.c_str(), nodes.error.c_str());
    return 1;
  }
  std::vector<std::vector<RoutePair>> pairs;
  for (TravelMode mode : o.modes) {
    pairs.push_back(DrawPairs(NodesOf(nodes, mode), o.pairs, o.seed));
    if (pairs.back().empty()) {
      std::fprintf(stderr, "route_vs_routino: fewer than two %s nodes in the extract\n", ModeName(mode));
      return 1;
    }
    std::printf("%s pairs: %zu drawn from %zu nodes (seed %u, hash %016llx)\n", ModeName(mode), pairs.back().size(),
                NodesOf(nodes, mode).size(), o.seed, static_cast<unsigned long long>(PairsHash(pairs.back())));
  }
  std::printf("nodes read and pairs drawn in %.2f s\n", SecondsSince(start));

  std::vector<ModeRun> routino;
  std::vector<ModeRun> routinoDirections;
  {
    start = std::chrono::steady_clock::now();
    const MemoryPhase memory;
    std::string error;
    const std::unique_ptr<RoutinoRouter> router = RoutinoRouter::Open(databaseDir, dataDir, &error);
    if (router == nullptr) {
      std::fprintf(stderr, "route_vs_routino: %s\n", error.c_str());
      return 1;
    }
    std::printf("Routino: database, profiles and translations loaded in %.1f ms, memory %.1f MB%s\n",
                SecondsSince(start) * 1000.0, memory.GrowthMb(), memory.exact() ? "" : " (at least)");
    for (std::size_t m = 0; m < o.modes.size(); ++m) routino.push_back(RunMode(*router, o.modes[m], pairs[m]));
    router->SetDirections(true);
    for (std::size_t m = 0; m < o.modes.size(); ++m) {
      routinoDirections.push_back(RunMode(*router, o.modes[m], pairs[m]));
    }
  }

  std::vector<ModeRun> engine;
  std::string why;
  if (const std::unique_ptr<BenchRouter> router = OpenMapEngineRouter(streetMap, &why)) {
    for (std::size_t m = 0; m < o.modes.size(); ++m) engine.push_back(RunMode(*router, o.modes[m], pairs[m]));
  }

  std::vector<ModeRun> requests;
  std::string requestWhy;
  if (const std::unique_ptr<BenchRouter> router = OpenMapEngineRequest(streetMap, LEXIFORN_EN_PATH, &requestWhy)) {
    for (std::size_t m = 0; m < o.modes.size(); ++m) requests.push_back(RunMode(*router, o.modes[m], pairs[m]));
  }

  std::printf("\nThe route search:\n");
  PrintTable("Routino", routino, "map engine", engine, why);
  std::printf("\nThe whole request, from the two positions to the route told in steps:\n");
  PrintTable("Routino+text", routinoDirections, "engine request", requests, requestWhy);
  std::printf(
      "\nTimes are of the second of two passes over the pairs (the first fills caches), over the routes found.\n"
      "Memory for routing: the peak resident set while a router routes a mode's pairs, above the resident set\n"
      "before (the loaded database or map included in the latter).\n");
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("process peak resident set (ru_maxrss): %.1f MB\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
  cleanup.remove = !keep;
  return 0;
}

}  // namespace
}  // namespace routebench

int main(int argc, char** argv) {
  routebench::Options options;
  if (!routebench::ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: route_vs_routino EXTRACT [--pairs N] [--seed S] [--dir D] [--modes walking|driving|both]\n");
    return 2;
  }
  try {
    return routebench::Run(options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "route_vs_routino: %s\n", e.what());
    return 1;
  }
}
