#include "tests/support/temp_folder.h"

#include <stdlib.h>

#include <cerrno>
#include <system_error>

namespace testing_support {

TempFolder::TempFolder(std::string_view name) {
  std::string pattern = (std::filesystem::temp_directory_path() / ("tirvane-" + std::string(name) + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::system_error(errno, std::generic_category(), "cannot make a temporary folder from " + pattern);
  }
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;  // a folder already gone is no failure of the test
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace testing_support
