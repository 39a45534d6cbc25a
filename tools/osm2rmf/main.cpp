// The `osm2rmf` command: converts an OpenStreetMap extract into a street map
// and a point-of-interest map (see RunCommand in Osm2Rmf.h).
#include <iostream>
#include <string>
#include <vector>

#include "tools/osm2rmf/Osm2Rmf.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return osm2rmf::RunCommand(args, std::cout, std::cerr);
}
