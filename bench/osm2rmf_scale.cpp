// Scale run of the OpenStreetMap converter (by hand, not in CI): writes a
// synthetic extract of a few million nodes with libosmium, converts it with
// the osm2rmf command in a process of its own and reports its peak memory
// (ru_maxrss), its time and the bytes of peak memory per input node.
//
// The extract is a town on a square street grid near 52.5 N, 13 E, drawn
// from a fixed seed: named streets (a few of them one-way, every tenth a
// through road) made of one way per four blocks with nodes every 30 m,
// building outlines along them with addresses, address nodes, points of
// interest as nodes and buildings, and the town's administrative and
// postal-code boundaries around all of it. Real extracts have more
// untagged nodes (land use, water, power lines) per street than this one,
// so the share of nodes the converter keeps is higher here than there.
//
//   osm2rmf_scale [--nodes N] [--seed S] [--dir D] [--xml] [--converter PATH] [--also PATH]
//
// --xml also writes the extract as OSM XML and converts that too; --also
// PATH runs a second converter (an older build, say) on the XML, when
// given with --xml. D keeps the files (default: a folder under the system's
// temp folder, removed at the end).
#include <osmium/builder/attr.hpp>
#include <osmium/io/any_output.hpp>
#include <osmium/memory/buffer.hpp>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <spawn.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

extern char** environ;

namespace {

using namespace osmium::builder::attr;  // _id, _location, _tag ... read best unqualified

struct Options {
  std::uint64_t nodes = 3000000;
  std::uint32_t seed = 20240611;
  std::string dir;
  bool xml = false;
  std::string converter = OSM2RMF_COMMAND;
  std::string also;
};

// Grid geometry: blocks of 120 m; streets run along the block edges, with
// three nodes between two crossings.
constexpr double kBlockMetres = 120;
constexpr int kStreetNodesPerBlock = 4;     // a crossing and three nodes after it
constexpr int kBuildingsPerBlock = 8;       // four corners each
constexpr int kAddressNodesPerBlock = 2;
constexpr int kBlocksPerStreetWay = 4;
constexpr double kNodesPerBlock = 2 * kStreetNodesPerBlock + 4 * kBuildingsPerBlock + kAddressNodesPerBlock + 0.25;

constexpr double kOriginLat = 52.5;
constexpr double kOriginLon = 13.0;
constexpr double kMetresPerDegree = 111195.0;

class Extract {
 public:
  Extract(int blocks, std::uint32_t seed) : n_(blocks), random_(seed) {}

  // Writes the extract to every writer given (nodes, then ways, then relations).
  void Write(std::vector<osmium::io::Writer*> writers) {
    writers_ = std::move(writers);
    WriteNodes();
    WriteWays();
    WriteRelations();
    Flush(true);
  }
  std::uint64_t nodes() const { return nodeCount_; }
  std::uint64_t ways() const { return wayCount_; }

 private:
  // Node ids by kind, so that ways can name them without storing them.
  // Street nodes: line `line` (0..n) of direction d (0 east-west, 1
  // north-south), position k (0..n * kStreetNodesPerBlock).
  std::int64_t StreetNode(int d, int line, int k) const {
    // Crossings are shared: the east-west line's node at a crossing serves both.
    if (d == 1 && k % kStreetNodesPerBlock == 0) return StreetNode(0, k / kStreetNodesPerBlock, line * kStreetNodesPerBlock);
    const std::int64_t perLine = std::int64_t{n_} * kStreetNodesPerBlock + 1;
    return 1 + (std::int64_t{d} * (n_ + 1) + line) * perLine + k;
  }
  std::int64_t BuildingNode(std::int64_t block, int building, int corner) const {
    return buildingBase_ + (block * kBuildingsPerBlock + building) * 4 + corner;
  }

  osmium::Location At(double east, double north) const {
    return osmium::Location{kOriginLon + east / (kMetresPerDegree * std::cos(kOriginLat * 3.14159265358979 / 180)),
                            kOriginLat + north / kMetresPerDegree};
  }
  std::string StreetName(int d, int line) const {
    return (d == 0 ? "Ost-West-Straße " : "Nord-Süd-Straße ") + std::to_string(line + 1);
  }

  void WriteNodes() {
    const std::int64_t perLine = std::int64_t{n_} * kStreetNodesPerBlock + 1;
    buildingBase_ = 1 + 2 * std::int64_t{n_ + 1} * perLine;
    const double step = kBlockMetres / kStreetNodesPerBlock;
    for (int d = 0; d < 2; ++d) {
      for (int line = 0; line <= n_; ++line) {
        for (int k = 0; k < perLine; ++k) {
          if (d == 1 && k % kStreetNodesPerBlock == 0) continue;  // the crossing was written with its east-west line
          const double along = k * step, across = line * kBlockMetres;
          osmium::builder::add_node(buffer_, _id(StreetNode(d, line, k)),
                                    _location(d == 0 ? At(along, across) : At(across, along)));
          Count(nodeCount_);
        }
      }
    }
    std::uniform_int_distribution<int> percent(0, 99);
    const std::int64_t blocks = std::int64_t{n_} * n_;
    for (std::int64_t b = 0; b < blocks; ++b) {
      const double x0 = static_cast<double>(b % n_) * kBlockMetres, y0 = static_cast<double>(b / n_) * kBlockMetres;
      for (int h = 0; h < kBuildingsPerBlock; ++h) {
        // Four houses facing the street south of the block, four the street north of it.
        const double x = x0 + 10 + (h % 4) * 27, y = y0 + (h < 4 ? 12 : 88);
        const double corners[4][2] = {{x, y}, {x, y + 20}, {x + 18, y + 20}, {x + 18, y}};
        for (int c = 0; c < 4; ++c) {
          osmium::builder::add_node(buffer_, _id(BuildingNode(b, h, c)), _location(At(corners[c][0], corners[c][1])));
          Count(nodeCount_);
        }
      }
    }
    std::int64_t id = BuildingNode(blocks, 0, 0);
    for (std::int64_t b = 0; b < blocks; ++b) {
      const int column = static_cast<int>(b % n_), row = static_cast<int>(b / n_);
      const double x0 = column * kBlockMetres, y0 = row * kBlockMetres;
      for (int a = 0; a < kAddressNodesPerBlock; ++a) {
        const std::string number = std::to_string(100 + 2 * column + a);
        osmium::builder::add_node(buffer_, _id(id++), _location(At(x0 + 30 + 60 * a, y0 + 6)),
                                  _tag("addr:street", StreetName(0, row)), _tag("addr:housenumber", number),
                                  _tag("addr:city", "Synthstadt"), _tag("addr:postcode", "12345"));
        Count(nodeCount_);
      }
      if (percent(random_) < 25) {
        static const char* const kinds[][2] = {{"amenity", "restaurant"}, {"shop", "bakery"}, {"amenity", "pharmacy"},
                                               {"highway", "bus_stop"},   {"amenity", "bank"}, {"shop", "kiosk"}};
        const auto& kind = kinds[percent(random_) % 6];
        const std::int64_t poi = id++;
        osmium::builder::add_node(buffer_, _id(poi), _location(At(x0 + 60, y0 + 60)), _tag(kind[0], kind[1]),
                                  _tag("name", "Ort " + std::to_string(poi)));
        Count(nodeCount_);
      }
    }
    cornerBase_ = id;
    const double edge = n_ * kBlockMetres;
    const double corners[4][2] = {{-50, -50}, {-50, edge + 50}, {edge + 50, edge + 50}, {edge + 50, -50}};
    for (int c = 0; c < 4; ++c) {
      osmium::builder::add_node(buffer_, _id(cornerBase_ + c), _location(At(corners[c][0], corners[c][1])));
      Count(nodeCount_);
    }
  }

  void WriteWays() {
    std::int64_t id = 1;
    std::uniform_int_distribution<int> percent(0, 99);
    for (int d = 0; d < 2; ++d) {
      for (int line = 0; line <= n_; ++line) {
        const bool through = line % 10 == 5;
        const bool oneWay = !through && percent(random_) < 8;
        for (int from = 0; from < n_; from += kBlocksPerStreetWay) {
          const int to = std::min(n_, from + kBlocksPerStreetWay);
          std::vector<osmium::object_id_type> refs;
          for (int k = from * kStreetNodesPerBlock; k <= to * kStreetNodesPerBlock; ++k) {
            refs.push_back(StreetNode(d, line, k));
          }
          osmium::builder::add_way(buffer_, _id(id++), _nodes(refs), _tag("highway", through ? "secondary" : "residential"),
                                   _tag("name", StreetName(d, line)), _tag("oneway", oneWay ? "yes" : "no"),
                                   _tag("maxspeed", through ? "50" : "30"));
          Count(wayCount_);
        }
      }
    }
    const std::int64_t blocks = std::int64_t{n_} * n_;
    for (std::int64_t b = 0; b < blocks; ++b) {
      const int column = static_cast<int>(b % n_), row = static_cast<int>(b / n_);
      for (int h = 0; h < kBuildingsPerBlock; ++h) {
        const std::vector<osmium::object_id_type> refs = {BuildingNode(b, h, 0), BuildingNode(b, h, 1),
                                                          BuildingNode(b, h, 2), BuildingNode(b, h, 3),
                                                          BuildingNode(b, h, 0)};
        const int street = h < 4 ? row : row + 1;
        const std::string number = std::to_string(1 + 2 * (column * 4 + h % 4) + (h < 4 ? 0 : 1));
        if (percent(random_) < 5) {
          osmium::builder::add_way(buffer_, _id(id++), _nodes(refs), _tag("building", "yes"),
                                   _tag("amenity", "school"), _tag("addr:street", StreetName(0, street)),
                                   _tag("addr:housenumber", number));
        } else {
          osmium::builder::add_way(buffer_, _id(id++), _nodes(refs), _tag("building", "house"),
                                   _tag("addr:street", StreetName(0, street)), _tag("addr:housenumber", number));
        }
        Count(wayCount_);
      }
    }
    boundaryWay_ = id;
    for (int c = 0; c < 4; ++c) {
      osmium::builder::add_way(buffer_, _id(id++), _nodes({cornerBase_ + c, cornerBase_ + (c + 1) % 4}),
                               _tag("boundary", "administrative"));
      Count(wayCount_);
    }
  }

  void WriteRelations() {
    std::vector<osmium::builder::attr::member_type> members;
    for (int c = 0; c < 4; ++c) members.emplace_back(osmium::item_type::way, boundaryWay_ + c, "outer");
    osmium::builder::add_relation(buffer_, _id(1), _members(members), _tag("type", "boundary"),
                                  _tag("boundary", "administrative"), _tag("admin_level", "8"),
                                  _tag("name", "Synthstadt"));
    osmium::builder::add_relation(buffer_, _id(2), _members(members), _tag("type", "boundary"),
                                  _tag("boundary", "postal_code"), _tag("postal_code", "12345"));
  }

  void Count(std::uint64_t& counter) {
    ++counter;
    Flush(false);
  }
  // Hands a copy of the objects to every writer (a writer keeps the buffer
  // it is given until its thread has written it).
  void Flush(bool always) {
    if (!always && buffer_.committed() < (8u << 20)) return;
    for (osmium::io::Writer* w : writers_) {
      osmium::memory::Buffer copy{buffer_.committed() + 64};
      copy.add_buffer(buffer_);
      copy.commit();
      (*w)(std::move(copy));
    }
    buffer_.clear();
  }

  int n_;
  std::mt19937 random_;
  osmium::memory::Buffer buffer_{16u << 20, osmium::memory::Buffer::auto_grow::yes};
  std::vector<osmium::io::Writer*> writers_;
  std::int64_t buildingBase_ = 0;
  std::int64_t cornerBase_ = 0;
  std::int64_t boundaryWay_ = 0;
  std::uint64_t nodeCount_ = 0;
  std::uint64_t wayCount_ = 0;
};

struct Run {
  bool ok = false;
  int status = 0;
  double seconds = 0;
  long peakKb = 0;
};

// The measuring step, run as `osm2rmf_scale --measure RESULT LOG COMMAND
// ARGS...` in a process of its own: it starts the command with its output
// in LOG, waits for it and writes its status, time and peak memory to
// RESULT. A process keeps the peak memory of the program it came from
// across exec, so a converter started straight from this program (which
// holds the extract's buffers) would report ours; started from this small
// fresh process, it reports its own.
int Measure(int argc, char** argv) {
  if (argc < 5) return 2;
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) return 1;
  if (pid == 0) {
    const int log = open(argv[3], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (log < 0) _exit(127);
    dup2(log, 1);
    dup2(log, 2);
    execv(argv[4], argv + 4);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return 1;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  FILE* result = std::fopen(argv[2], "w");
  if (result == nullptr) return 1;
  std::fprintf(result, "%d %.3f %ld\n", status, seconds, usage.ru_maxrss);
  std::fclose(result);
  return 0;
}

// Runs a converter through the measuring step, its output sent to `log`.
Run Convert(const std::string& converter, const std::string& input, const std::string& outDir, const std::string& log) {
  Run run;
  const std::string result = log + ".result";
  std::vector<std::string> args = {"osm2rmf_scale", "--measure", result, log, converter, input, outDir, "Synth"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv.data(), environ) != 0) return run;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return run;
  FILE* in = std::fopen(result.c_str(), "r");
  if (in == nullptr) return run;
  const bool read = std::fscanf(in, "%d %lf %ld", &run.status, &run.seconds, &run.peakKb) == 3;
  std::fclose(in);
  std::filesystem::remove(result);
  run.ok = read && WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0;
  return run;
}

void Report(const char* what, const Run& run, std::uint64_t nodes, const std::string& log) {
  if (!run.ok) {
    std::printf("%-34s failed (status %d), see %s\n", what, run.status, log.c_str());
    return;
  }
  std::printf("%-34s %8.2f s %9.1f MB %8.1f bytes per input node\n", what, run.seconds, run.peakKb / 1024.0,
              run.peakKb * 1024.0 / static_cast<double>(nodes));
}

int Main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--measure") == 0) return Measure(argc, argv);
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool more = i + 1 < argc;
    if (a == "--nodes" && more) {
      o.nodes = std::strtoull(argv[++i], nullptr, 10);
    } else if (a == "--seed" && more) {
      o.seed = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else if (a == "--dir" && more) {
      o.dir = argv[++i];
    } else if (a == "--xml") {
      o.xml = true;
    } else if (a == "--converter" && more) {
      o.converter = argv[++i];
    } else if (a == "--also" && more) {
      o.also = argv[++i];
    } else {
      std::fprintf(stderr, "usage: osm2rmf_scale [--nodes N] [--seed S] [--dir D] [--xml] [--converter PATH] [--also PATH]\n");
      return 2;
    }
  }
  const bool keep = !o.dir.empty();
  const std::filesystem::path dir =
      keep ? std::filesystem::path(o.dir) : std::filesystem::temp_directory_path() / ("osm2rmf_scale_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const int blocks = std::max(1, static_cast<int>(std::lround(std::sqrt(static_cast<double>(o.nodes) / kNodesPerBlock))));

  const std::string pbf = (dir / "synth.osm.pbf").string();
  const std::string xml = (dir / "synth.osm").string();
  Extract extract(blocks, o.seed);
  const auto start = std::chrono::steady_clock::now();
  {
    osmium::io::Header header;
    header.set("generator", "osm2rmf_scale");
    osmium::io::Writer pbfWriter{pbf, header, osmium::io::overwrite::allow};
    std::vector<osmium::io::Writer*> writers = {&pbfWriter};
    std::unique_ptr<osmium::io::Writer> xmlWriter;
    if (o.xml) {
      xmlWriter = std::make_unique<osmium::io::Writer>(xml, header, osmium::io::overwrite::allow);
      writers.push_back(xmlWriter.get());
    }
    extract.Write(writers);
    pbfWriter.close();
    if (xmlWriter) xmlWriter->close();
  }
  std::printf("extract: %d x %d blocks, %llu nodes, %llu ways (seed %u), written in %.1f s\n", blocks, blocks,
              static_cast<unsigned long long>(extract.nodes()), static_cast<unsigned long long>(extract.ways()), o.seed,
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  std::printf("  %s: %.1f MB\n", pbf.c_str(), std::filesystem::file_size(pbf) / 1048576.0);
  if (o.xml) std::printf("  %s: %.1f MB\n", xml.c_str(), std::filesystem::file_size(xml) / 1048576.0);

  const std::uint64_t nodes = extract.nodes();
  const std::string log = (dir / "converter.log").string();
  Report("osm2rmf, PBF", Convert(o.converter, pbf, (dir / "maps-pbf").string(), log), nodes, log);
  if (o.xml) {
    const std::string xmlLog = (dir / "converter-xml.log").string();
    Report("osm2rmf, XML", Convert(o.converter, xml, (dir / "maps-xml").string(), xmlLog), nodes, xmlLog);
    if (!o.also.empty()) {
      const std::string alsoLog = (dir / "also.log").string();
      Report(("also: " + std::filesystem::path(o.also).filename().string() + ", XML").c_str(),
             Convert(o.also, xml, (dir / "maps-also").string(), alsoLog), nodes, alsoLog);
    }
  }
  if (!keep) std::filesystem::remove_all(dir);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Main(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "osm2rmf_scale: %s\n", e.what());
    return 1;
  }
}
