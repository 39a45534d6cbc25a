// LoadLibraryW / GetProcAddress / FreeLibrary / GetModuleFileNameW over
// dlopen. Library paths are phone paths mapped through the device root, so a
// registration that names "\Windows\Cartovel.dll" finds the file below it; a
// host path (starting with '/') is used as it is.
#include "platform/os/module.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>

#include "platform/os/device.h"
#include "platform/os/text.h"

// An HMODULE points to one of these; declared opaque in module.h.
struct ModuleHandle {
  void* library = nullptr;  // from dlopen
  std::string hostPath;
};

namespace {

constexpr std::size_t kMaxPathUnits = 32768;

// Live modules. A handle is looked up here before use, so freeing a module
// twice or passing a stray pointer gives a failure instead of a crash.
std::mutex g_modulesLock;
std::unordered_set<ModuleHandle*> g_modules;

thread_local std::string t_lastError;

// Keeping the reason must not itself fail the caller: without memory for the
// text, the previous reason stays.
void SetError(const char* reason) noexcept {
  try {
    t_lastError = reason;
  } catch (...) {
  }
}

void RememberError(const char* fallback) noexcept {
  const char* reason = ::dlerror();
  SetError(reason != nullptr ? reason : fallback);
}

// The dlopen handle of a live module, or nullptr.
void* LibraryOf(ModuleHandle* module) {
  std::lock_guard<std::mutex> hold(g_modulesLock);
  return g_modules.count(module) != 0 ? module->library : nullptr;
}

std::string MainProgramPath() {
  char buffer[4096];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer) return {};
  return std::string(buffer, static_cast<std::size_t>(n));
}

}  // namespace

HMODULE LoadLibraryW(LPCWSTR lpLibFileName) {
  if (lpLibFileName == nullptr) {
    SetError("no library name given");
    return nullptr;
  }
  try {
    std::u16string_view name(lpLibFileName, platform::BoundedLength(lpLibFileName, kMaxPathUnits));
    auto module = std::make_unique<ModuleHandle>();
    module->hostPath = platform::HostPath(name);
    ::dlerror();  // clear a stale reason
    module->library = ::dlopen(module->hostPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module->library == nullptr) {
      RememberError("the library did not load");
      return nullptr;
    }
    std::lock_guard<std::mutex> hold(g_modulesLock);
    g_modules.insert(module.get());
    return module.release();
  } catch (...) {
    SetError("out of memory");
    return nullptr;
  }
}

FARPROC GetProcAddress(HMODULE hModule, const char* lpProcName) {
  void* library = LibraryOf(hModule);
  if (lpProcName == nullptr || library == nullptr) {
    SetError("invalid module handle or name");
    return nullptr;
  }
  ::dlerror();
  void* symbol = ::dlsym(library, lpProcName);
  if (symbol == nullptr) {
    RememberError("no such exported name");
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE hLibModule) {
  {
    std::lock_guard<std::mutex> hold(g_modulesLock);
    if (g_modules.erase(hLibModule) == 0) return FALSE;
  }
  std::unique_ptr<ModuleHandle> module(hLibModule);
  if (::dlclose(module->library) != 0) {
    RememberError("the library did not unload");
    return FALSE;
  }
  return TRUE;
}

DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
  if (lpFilename == nullptr || nSize == 0) return 0;
  lpFilename[0] = u'\0';
  try {
    std::string path;
    if (hModule == nullptr) {
      path = MainProgramPath();
    } else {
      std::lock_guard<std::mutex> hold(g_modulesLock);
      if (g_modules.count(hModule) == 0) return 0;
      path = hModule->hostPath;
    }
    if (path.empty()) return 0;
    std::u16string wide = platform::Utf8ToUtf16(path);
    const std::size_t n = std::min<std::size_t>(wide.size(), nSize - 1);
    wide.copy(lpFilename, n);
    lpFilename[n] = u'\0';
    return static_cast<DWORD>(n);
  } catch (...) {
    return 0;
  }
}

namespace platform {
const char* LastModuleError() { return t_lastError.c_str(); }
void* ModuleLibraryHandle(HMODULE hModule) { return LibraryOf(hModule); }
}  // namespace platform
