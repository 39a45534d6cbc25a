// The `osm2rmf` command: converts an OpenStreetMap extract into a street map
// and a point-of-interest map and reports what it made of the data and which
// files it wrote.
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "tools/osm2rmf/Osm2Rmf.h"
#include "tools/osm2rmf/PoiCategories.h"

namespace {

void PrintReport(const char* input, const osm2rmf::ConvertStats& s, const osm2rmf::WriteReport& report) {
  std::printf("%s: %zu nodes, %zu ways, %zu highway ways (%zu without usable points)\n", input, s.nodes, s.ways,
              s.highwayWays, s.droppedWays);
  std::printf("streets: %zu, %zu named, %zu one-way; %zu route numbers\n", s.streets, s.namedStreets,
              s.oneWayStreets, s.routeNumbers);
  std::printf("addresses: %zu (%zu nodes, %zu ways; %zu interpolation lines), %zu matched a street\n",
              s.addressNodes + s.addressWays, s.addressNodes, s.addressWays, s.interpolationLines,
              s.addressesMatched);
  std::printf("house-number ranges: %zu\n", s.houseNumberRanges);
  std::printf("streets with city: %zu, with postal code: %zu (%zu boundaries used)\n", s.streetsWithCity,
              s.streetsWithPostcode, s.boundariesUsed);
  std::printf("turn restrictions: %zu written, %zu not placed\n", s.restrictions, s.restrictionsNotPlaced);
  std::printf("points of interest: %zu\n", s.pois);
  for (std::size_t category = 1; category < s.poisByCategory.size(); ++category) {
    if (s.poisByCategory[category] == 0) continue;
    const std::string_view name = osm2rmf::PoiCategoryName(static_cast<int>(category));
    std::printf("  %-20.*s %zu\n", static_cast<int>(name.size()), name.data(), s.poisByCategory[category]);
  }
  std::printf("wrote %s\n", report.streetFile.c_str());
  if (!report.poiFile.empty()) std::printf("wrote %s and %s\n", report.poiFile.c_str(), report.poiCompanion.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: osm2rmf IN.osm[.bz2|.gz]|IN.osm.pbf OUTDIR NAME\n");
    return 2;
  }
  const std::string name = argv[3];
  osm2rmf::Conversion conversion = osm2rmf::ConvertOsmFile(argv[1], name);
  if (!conversion) {
    std::fprintf(stderr, "osm2rmf: %s\n", conversion.error.c_str());
    return 1;
  }
  // The address list is for callers that check the conversion; the maps
  // are made, and letting it go before they are built lowers the peak
  // memory of address-dense extracts by about a third.
  std::vector<osm2rmf::Address>().swap(conversion.addresses);
  const osm2rmf::WriteReport report = osm2rmf::WriteMaps(conversion, argv[2], name);
  if (!report.ok) {
    std::fprintf(stderr, "osm2rmf: %s\n", report.error.c_str());
    return 1;
  }
  PrintReport(argv[1], conversion.stats, report);
  return 0;
}
