// Owner of an open host folder listing, private to platform/os: closedir when
// it goes, also when the walk over the entries throws (names are copied into
// strings as they are read), so a failure never leaves the folder open.
#pragma once

#include <dirent.h>

#include <memory>

namespace platform::detail {

struct DirCloser {
  void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};
using DirOwner = std::unique_ptr<DIR, DirCloser>;

}  // namespace platform::detail
