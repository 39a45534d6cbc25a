// rmfbuild: writes map files (*.rmf) from a plain text description, makes
// synthetic grids, and dumps map files for checking them by hand.
//
//   rmfbuild DESCRIPTION.txt OUT.rmf
//   rmfbuild --dump [--all] FILE.rmf
//   rmfbuild --grid LEVEL TILES RECORDS SEED OUT [--compressed] [--wide-entries]
//                  [--run-per-tile] [--text]
//
// The description is line-based (full grammar in RmfDescriptionText.h):
//
//   header version=0x11 flags=compressed,wide-entries
//   annotation FILENAME: small.rmf
//   annotation Vehicle Types List: 3,7
//   tile level=3 point=1000,2000        (or: tile id=0x...)
//   record                              (options: wide-points base=X,Y box=...)
//   points 1000,2000 1100,2050 1200,2100
//   part "431" "Main Street" ""         (code, name, detail; class=N overrides)
//   attr "9" "one-way" ""               (an attribute triple word)
//   vertices 0 1 2                      (point-index words)
//   raw more 3a00...                    (a record given as bytes)
//
// Bounding box, level masks, region box and class summary are derived from
// the records unless `box`, `levelmasks`, `region` or `classes` lines give
// them.
#include <iostream>
#include <string>
#include <vector>

#include "tools/rmfbuild/RmfCommand.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return rmfbuild::RunCommand(args, std::cout, std::cerr);
}
