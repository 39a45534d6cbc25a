// The `osm2rmf` command: converts an OpenStreetMap extract into a street map
// and a point-of-interest map and says what it wrote.
#include <cstdio>
#include <string>

#include "tools/osm2rmf/Osm2Rmf.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: osm2rmf IN.osm[.bz2] OUTDIR NAME\n");
    return 2;
  }
  const std::string name = argv[3];
  const osm2rmf::Conversion conversion = osm2rmf::ConvertOsmFile(argv[1], name);
  if (!conversion) {
    std::fprintf(stderr, "osm2rmf: %s\n", conversion.error.c_str());
    return 1;
  }
  const osm2rmf::WriteReport report = osm2rmf::WriteMaps(conversion, argv[2], name);
  if (!report.ok) {
    std::fprintf(stderr, "osm2rmf: %s\n", report.error.c_str());
    return 1;
  }
  const osm2rmf::ConvertStats& s = conversion.stats;
  std::printf("%s: %zu nodes, %zu ways, %zu highway ways (%zu without usable points)\n", argv[1], s.nodes, s.ways,
              s.highwayWays, s.droppedWays);
  std::printf("%s: %zu streets, %zu named, %zu one-way\n", report.streetFile.c_str(), s.streets, s.namedStreets,
              s.oneWayStreets);
  if (!report.poiFile.empty()) {
    std::printf("%s: %zu points of interest (companion %s)\n", report.poiFile.c_str(), s.pois,
                report.poiCompanion.c_str());
  }
  return 0;
}
