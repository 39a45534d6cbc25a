// Loadable modules of the platform layer: LoadLibraryW, GetProcAddress and
// FreeLibrary over dlopen, with paths mapped through the device root.
#pragma once

#include <memory>

#include "platform/os/wintypes.h"

struct ModuleHandle;  // opaque
using HMODULE = ModuleHandle*;
using HINSTANCE = HMODULE;
using FARPROC = void (*)();

// nullptr when the library does not exist or will not load; the reason is
// given by platform::LastModuleError().
HMODULE LoadLibraryW(LPCWSTR lpLibFileName);
// nullptr when the module has no such exported name.
FARPROC GetProcAddress(HMODULE hModule, const char* lpProcName);
BOOL FreeLibrary(HMODULE hLibModule);
// The host path of the loaded module, NUL-terminated; returns the characters
// written without the NUL, 0 on failure (the text is cut at nSize - 1).
DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);

namespace platform {
// Owner of a loaded module: std::unique_ptr<ModuleHandle, ModuleFreer> frees
// the library when it goes or is replaced.
struct ModuleFreer {
  void operator()(HMODULE module) const noexcept { FreeLibrary(module); }
};
using ModuleOwner = std::unique_ptr<ModuleHandle, ModuleFreer>;

const char* LastModuleError();
// The dlopen handle of a live module, nullptr for a null, freed or stray
// handle. For the platform's own readers of a module's symbols (resources).
void* ModuleLibraryHandle(HMODULE hModule);
}
