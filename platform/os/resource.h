// Resources of loaded modules: FindResourceW, LoadResource, LockResource,
// SizeofResource and FreeResource over modules loaded with LoadLibraryW.
//
// A resource module (a language library, for instance) is an ordinary shared
// library that exports one C data symbol, `TirvaneResourceDirectory`, of type
// ResourceDirectory:
//
//   magic    u32   kResourceDirectoryMagic ("TRES" read as a little-endian u32)
//   version  u32   kResourceDirectoryVersion
//   count    u32   number of entries, at most kMaxResourceEntries
//   entries  ResourceEntry*  `count` entries:
//     type   u16   resource type (RT_STRING = 6)
//     id     u16   resource number; for RT_STRING the block number (id / 16) + 1
//     size   u32   bytes at `data`
//     data   const void*  the resource's bytes (may be null only when size is 0)
//
// Every pointer in the directory must point into the module's own loaded
// image. The reader checks that before it reads anything: the directory, the
// entry array and each entry's bytes must lie wholly inside a readable segment
// of the module that was asked. A module without the symbol, with a wrong
// magic or version, an entry count above the bound or an entry array outside
// the module has no resources; a single entry whose bytes are null (with a
// non-zero size) or lie outside the module is never found. So a malformed
// directory gives "no such resource", never a read out of bounds.
//
// The tool tools/restable writes such a directory, with RT_STRING blocks, from
// a text source; a module defines it with TIRVANE_RESOURCE_DIRECTORY below.
#pragma once

#include <cstdint>
#include <string>

#include "platform/os/wintypes.h"
#include "platform/os/module.h"

// ---- the phone's resource API -----------------------------------------------------

struct ResourceInfoHandle;  // opaque: one entry of a module's directory
using HRSRC = ResourceInfoHandle*;
using HGLOBAL = void*;

// Resource names and types are numbers carried in the pointer, as on the phone.
#define MAKEINTRESOURCEW(i) (reinterpret_cast<LPCWSTR>(static_cast<std::uintptr_t>(static_cast<WORD>(i))))
#define IS_INTRESOURCE(p) ((reinterpret_cast<std::uintptr_t>(p) >> 16) == 0)
#define RT_STRING MAKEINTRESOURCEW(6)

// The entry of `type` and `name` in the module's directory, or nullptr when the
// module is null, not loaded, has no (valid) directory or no such entry. Only
// numeric names and types (MAKEINTRESOURCEW, non-zero) are supported; a name
// given as text is never found.
HRSRC FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType);
// The resource's bytes (read-only, owned by the module, valid until the module
// is freed); nullptr when hResInfo is not an entry of this module's directory.
// An empty resource gives a valid pointer to no bytes.
HGLOBAL LoadResource(HMODULE hModule, HRSRC hResInfo);
// The address of the bytes of a loaded resource (the handle itself).
void* LockResource(HGLOBAL hResData);
// The resource's size in bytes; 0 when hResInfo is not an entry of the module.
DWORD SizeofResource(HMODULE hModule, HRSRC hResInfo);
// Resources live as long as their module: nothing to free. Returns FALSE, as
// the phone does.
BOOL FreeResource(HGLOBAL hResData);

// ---- the directory a resource module exports ------------------------------------

inline constexpr WORD kRtString = 6;
inline constexpr std::uint32_t kResourceDirectoryMagic = 0x53455254u;  // "TRES"
inline constexpr std::uint32_t kResourceDirectoryVersion = 1;
// Far more than any module has (one string-table block per 16 ids gives at
// most 4096 blocks); a count above this is a corrupt directory.
inline constexpr std::uint32_t kMaxResourceEntries = 65536;
inline constexpr const char* kResourceDirectorySymbol = "TirvaneResourceDirectory";

struct ResourceEntry {
  std::uint16_t type;
  std::uint16_t id;
  std::uint32_t size;
  const void* data;
};

struct ResourceDirectory {
  std::uint32_t magic;
  std::uint32_t version;
  std::uint32_t count;
  const ResourceEntry* entries;
};

// Defines the exported directory of a resource module from an array of
// entries: TIRVANE_RESOURCE_DIRECTORY(kEntries). Modules are built with hidden
// visibility; this is the one symbol they export.
#define TIRVANE_RESOURCE_DIRECTORY(entryArray)                                                              \
  extern "C" __attribute__((visibility("default"))) const ResourceDirectory TirvaneResourceDirectory;      \
  const ResourceDirectory TirvaneResourceDirectory = {                                                     \
      kResourceDirectoryMagic, kResourceDirectoryVersion,                                                   \
      static_cast<std::uint32_t>(sizeof(entryArray) / sizeof((entryArray)[0])), (entryArray)}

namespace platform {

// Text `id` of a module's string table: block (id / 16) + 1 of type RT_STRING,
// whose entries are a 16-bit length followed by that many UTF-16 characters;
// the text is entry id % 16. Gives "" when there is no module, no such block,
// the block ends before the entry, or the entry is empty. Never reads past the
// resource's size, whatever the block holds.
std::u16string LoadStringResource(HMODULE module, UINT id);

}  // namespace platform
