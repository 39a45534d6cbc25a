// The `rmfbuild` command as a library function, so that tests run it without
// a process: building a file from a text description, generating synthetic
// grids, and dumping any file (valid or damaged) for inspection by hand.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace rmfbuild {

// Runs the command with its arguments (program name excluded):
//   DESCRIPTION.txt OUT.rmf          build a file from a text description
//   --dump [--all] FILE.rmf          print header, annotations, index runs and
//                                    each tile's records; --all adds points,
//                                    parts, words and texts
//   --grid LEVEL TILES RECORDS SEED OUT [--compressed] [--wide-entries]
//          [--run-per-tile] [--text]
//                                    write a synthetic grid (or, with --text,
//                                    its description text)
// Returns the exit status: 0 done, 1 refused or failed, 2 bad usage.
int RunCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Prints the structure of a map file's bytes; reads only inside `bytes`, so
// any file can be dumped. Returns false when the header is rejected or some
// part of the file could not be followed (what was readable is printed).
bool DumpFile(const std::vector<std::uint8_t>& bytes, std::ostream& out, bool details = false);

}  // namespace rmfbuild
