// A folder of the test's own under the system's temporary directory, with a
// name no other test (or test program running beside it) has; the folder and
// everything in it go when the object goes. Fixtures keep one as a member, so
// it is made before SetUp and removed after TearDown.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace testing_support {

class TempFolder {
 public:
  // Makes "<temporary directory>/tirvane-<name>-XXXXXX", the X's replaced to
  // make the name unique; throws std::system_error when it cannot.
  explicit TempFolder(std::string_view name = "test");
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string string() const { return path_.string(); }
  std::filesystem::path operator/(const std::filesystem::path& below) const { return path_ / below; }

 private:
  std::filesystem::path path_;
};

}  // namespace testing_support
