// The device root and the mapping of the phone's paths onto host paths below
// it. The phone's file system ignores case and the host's does not, so each
// component is looked up on disk: the exact name when it exists, else the
// entry whose name folds to the same text.
#include "platform/os/device.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <vector>

#include "platform/os/dir_owner.h"
#include "platform/os/text.h"

namespace platform {
namespace {

std::mutex g_rootLock;
std::string g_root;  // empty: not set, use the default

// Absolute, lexically normal, no trailing slash (except for "/" itself).
std::string Absolute(const std::string& folder) {
  std::string path = folder;
  if (path.empty() || path.front() != '/') {
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd) != nullptr) path = std::string(cwd) + "/" + path;
  }
  std::string normal = std::filesystem::path(path).lexically_normal().string();
  while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
  return normal;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// The name of the entry in `folder` that matches `component` without regard
// to case; empty when there is none. Among several (the host allows "Maps"
// and "MAPS" side by side) the smallest name wins, so the answer is stable.
std::string MatchInFolder(const std::string& folder, const std::string& component) {
  const detail::DirOwner dir(::opendir(folder.c_str()));
  if (dir == nullptr) return {};
  const std::u32string wanted = FoldCaseUtf8(component);
  std::string best;
  while (const dirent* entry = ::readdir(dir.get())) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (FoldCaseUtf8(name) != wanted) continue;
    if (best.empty() || name < best) best = name;
  }
  return best;
}

std::vector<std::string> SplitComponents(std::string_view path) {
  std::vector<std::string> parts;
  std::size_t i = 0;
  while (i <= path.size()) {
    std::size_t j = path.find_first_of("\\/", i);
    if (j == std::string_view::npos) j = path.size();
    std::string_view part = path.substr(i, j - i);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();  // never above the device root
    } else if (!part.empty() && part != ".") {
      parts.emplace_back(part);
    }
    i = j + 1;
  }
  return parts;
}

}  // namespace

void SetDeviceRoot(const std::string& hostFolder) {
  std::string root = hostFolder.empty() ? std::string() : Absolute(hostFolder);
  std::lock_guard<std::mutex> hold(g_rootLock);
  g_root = std::move(root);
}

std::string DeviceRoot() {
  {
    std::lock_guard<std::mutex> hold(g_rootLock);
    if (!g_root.empty()) return g_root;
  }
  const char* env = std::getenv("TIRVANE_ROOT");
  if (env != nullptr && *env != '\0') return Absolute(env);
  return Absolute("device");
}

std::string HostPathUtf8(std::string_view phonePath) {
  // The phone's strings end at their first NUL; so does a path.
  phonePath = phonePath.substr(0, phonePath.find('\0'));
  if (!phonePath.empty() && phonePath.front() == '/') return std::string(phonePath);

  std::string path = DeviceRoot();
  bool onDisk = true;  // once a component is missing, nothing below it exists
  for (const std::string& component : SplitComponents(phonePath)) {
    std::string name = component;
    if (onDisk && !Exists(path + "/" + component)) {
      std::string match = MatchInFolder(path, component);
      if (match.empty()) {
        onDisk = false;
      } else {
        name = std::move(match);
      }
    }
    if (path != "/") path += "/";
    path += name;
  }
  return path;
}

std::string HostPath(std::u16string_view phonePath) {
  return HostPathUtf8(Utf16ToUtf8(phonePath.substr(0, phonePath.find(u'\0'))));
}

}  // namespace platform
