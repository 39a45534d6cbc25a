// restable: compiles the readable string source of a language library into the
// C++ source of its resource directory.
//   restable SOURCE.txt OUTPUT.cpp
// Errors go to standard error as "source:line: message"; on any error nothing
// is written and the exit status is 1.
#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "tools/restable/StringTable.h"

namespace {

std::string FileName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

int Run(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: restable SOURCE.txt OUTPUT.cpp\n";
    return 2;
  }
  const std::string sourcePath = argv[1];
  const std::string outputPath = argv[2];
  std::ifstream in(sourcePath, std::ios::binary);
  if (!in) {
    std::cerr << sourcePath << ": cannot open\n";
    return 1;
  }
  std::ostringstream text;
  text << in.rdbuf();
  const restable::ParseResult parsed = restable::ParseStringTableSource(text.str(), sourcePath);
  for (const std::string& error : parsed.errors) std::cerr << error << "\n";
  if (!parsed.Ok()) return 1;

  const std::string generated =
      restable::WriteResourceSource(restable::BuildStringBlocks(parsed.entries), FileName(sourcePath));
  // Written beside and renamed, so an interrupted build never leaves half a file.
  const std::string temporary = outputPath + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << generated;
    if (!out.flush()) {
      std::cerr << temporary << ": cannot write\n";
      std::remove(temporary.c_str());
      return 1;
    }
  }
  if (std::rename(temporary.c_str(), outputPath.c_str()) != 0) {
    std::cerr << outputPath << ": cannot write\n";
    std::remove(temporary.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "restable: " << e.what() << "\n";
    return 1;
  }
}
