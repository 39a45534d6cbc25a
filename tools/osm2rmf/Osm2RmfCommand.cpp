// The `osm2rmf` command: converts an OpenStreetMap extract into a street map
// and a point-of-interest map and reports what it made of the data and which
// files it wrote.
#include <cstddef>
#include <cstdio>
#include <exception>
#include <new>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "tools/osm2rmf/Osm2Rmf.h"
#include "tools/osm2rmf/PoiCategories.h"

namespace osm2rmf {
namespace {

void PrintReport(const std::string& input, const ConvertStats& s, const WriteReport& report, std::ostream& out) {
  char line[512];
  std::snprintf(line, sizeof line, "%s: %zu nodes, %zu ways, %zu highway ways (%zu without usable points)\n",
                input.c_str(), s.nodes, s.ways, s.highwayWays, s.droppedWays);
  out << line;
  std::snprintf(line, sizeof line, "streets: %zu, %zu named, %zu one-way; %zu route numbers\n", s.streets,
                s.namedStreets, s.oneWayStreets, s.routeNumbers);
  out << line;
  std::snprintf(line, sizeof line,
                "addresses: %zu (%zu nodes, %zu ways; %zu interpolation lines), %zu matched a street "
                "(%zu by a name written differently, %zu by a name a letter apart)\n",
                s.addressNodes + s.addressWays, s.addressNodes, s.addressWays, s.interpolationLines,
                s.addressesMatched, s.addressesMatchedWrittenDifferently, s.addressesMatchedSpelledDifferently);
  out << line;
  std::snprintf(line, sizeof line, "house-number ranges: %zu\n", s.houseNumberRanges);
  out << line;
  std::snprintf(line, sizeof line, "streets with city: %zu, with postal code: %zu (%zu boundaries used)\n",
                s.streetsWithCity, s.streetsWithPostcode, s.boundariesUsed);
  out << line;
  std::snprintf(line, sizeof line, "turn restrictions: %zu written, %zu not placed\n", s.restrictions,
                s.restrictionsNotPlaced);
  out << line;
  std::snprintf(line, sizeof line, "points of interest: %zu\n", s.pois);
  out << line;
  for (std::size_t category = 1; category < s.poisByCategory.size(); ++category) {
    if (s.poisByCategory[category] == 0) continue;
    const std::string_view name = PoiCategoryName(static_cast<int>(category));
    std::snprintf(line, sizeof line, "  %-20.*s %zu\n", static_cast<int>(name.size()), name.data(),
                  s.poisByCategory[category]);
    out << line;
  }
  out << "wrote " << report.streetFile << "\n";
  if (!report.poiFile.empty()) out << "wrote " << report.poiFile << " and " << report.poiCompanion << "\n";
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const std::string& name = args[2];
  const std::string badName = MapNameError(name);
  if (!badName.empty()) {
    err << "osm2rmf: " << badName << "\n";
    return 1;
  }
  Conversion conversion = ConvertOsmFile(args[0], name);
  if (!conversion) {
    err << "osm2rmf: " << conversion.error << "\n";
    return 1;
  }
  // The address list is for callers that check the conversion; the maps
  // are made, and letting it go before they are built lowers the peak
  // memory of address-dense extracts by about a third.
  std::vector<Address>().swap(conversion.addresses);
  const WriteReport report = WriteMaps(conversion, args[1], name);
  if (!report.ok) {
    err << "osm2rmf: " << report.error << "\n";
    return 1;
  }
  PrintReport(args[0], conversion.stats, report, out);
  return 0;
}

}  // namespace

int RunCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() != 3) {
    err << "usage: osm2rmf IN.osm[.bz2|.gz]|IN.osm.pbf OUTDIR NAME\n";
    return 2;
  }
  // Memory running out while reading or building ends the run like any
  // other failure: the files of an earlier run stay as they were.
  try {
    return Run(args, out, err);
  } catch (const std::bad_alloc&) {
    err << "osm2rmf: out of memory while converting " << args[0] << "; nothing was written\n";
  } catch (const std::exception& e) {
    err << "osm2rmf: " << e.what() << "; nothing was written\n";
  }
  return 1;
}

}  // namespace osm2rmf
