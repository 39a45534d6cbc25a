// FindResourceW and its siblings over the exported resource directory of a
// loaded module (format in resource.h). Nothing in a directory is trusted:
// before any read, the reader finds the module's loaded segments and checks
// that the bytes it is about to read lie inside one of them.
#include "platform/os/resource.h"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>

#include <cstddef>
#include <cstring>

namespace {

// A shared library has a handful of loadable segments (text, read-only data,
// data); more than this is not a library our build made.
constexpr int kMaxSegments = 16;

struct Segment {
  std::uintptr_t begin;
  std::uintptr_t end;
};

// The readable parts of one module's loaded image.
struct ModuleImage {
  Segment segments[kMaxSegments];
  int count = 0;

  // True when the `size` bytes at `p` lie wholly inside one readable segment.
  bool Contains(const void* p, std::size_t size) const {
    const auto at = reinterpret_cast<std::uintptr_t>(p);
    if (at == 0) return false;
    for (int i = 0; i < count; ++i) {
      const Segment& s = segments[i];
      if (at >= s.begin && at <= s.end && size <= s.end - at) return true;
    }
    return false;
  }
};

struct SegmentSearch {
  const link_map* map;
  ModuleImage* image;
  bool found;
};

int CollectSegments(dl_phdr_info* info, std::size_t, void* data) {
  auto* search = static_cast<SegmentSearch*>(data);
  const char* name = info->dlpi_name != nullptr ? info->dlpi_name : "";
  const char* wanted = search->map->l_name != nullptr ? search->map->l_name : "";
  if (info->dlpi_addr != search->map->l_addr || std::strcmp(name, wanted) != 0) return 0;
  search->found = true;
  for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& header = info->dlpi_phdr[i];
    if (header.p_type != PT_LOAD || (header.p_flags & PF_R) == 0 || header.p_memsz == 0) continue;
    if (search->image->count == kMaxSegments) break;
    const std::uintptr_t begin = info->dlpi_addr + header.p_vaddr;
    search->image->segments[search->image->count++] = Segment{begin, begin + header.p_memsz};
  }
  return 1;  // this is the module: stop the walk
}

bool FindImage(void* library, ModuleImage& image) {
  link_map* map = nullptr;
  if (::dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) return false;
  SegmentSearch search{map, &image, false};
  ::dl_iterate_phdr(&CollectSegments, &search);
  return search.found && image.count > 0;
}

template <typename T>
bool IsAligned(const void* p) {
  return reinterpret_cast<std::uintptr_t>(p) % alignof(T) == 0;
}

// The checked directory of one module.
struct Directory {
  const ResourceEntry* entries = nullptr;
  std::uint32_t count = 0;
  ModuleImage image;

  bool Readable(const ResourceEntry& entry) const {
    if (entry.size == 0) return true;
    return entry.data != nullptr && image.Contains(entry.data, entry.size);
  }

  // The entry `handle` stands for, or nullptr when it is not one of ours.
  const ResourceEntry* EntryOf(HRSRC handle) const {
    const auto at = reinterpret_cast<std::uintptr_t>(handle);
    const auto first = reinterpret_cast<std::uintptr_t>(entries);
    if (entries == nullptr || at < first) return nullptr;
    const std::uintptr_t offset = at - first;
    if (offset % sizeof(ResourceEntry) != 0 || offset / sizeof(ResourceEntry) >= count) return nullptr;
    const ResourceEntry* entry = entries + offset / sizeof(ResourceEntry);
    return Readable(*entry) ? entry : nullptr;
  }
};

// Fills `dir` from the module's exported directory; false when the module
// has none that can be read safely.
bool ReadDirectory(HMODULE module, Directory& dir) {
  void* library = platform::ModuleLibraryHandle(module);
  if (library == nullptr) return false;
  ::dlerror();
  const void* symbol = ::dlsym(library, kResourceDirectorySymbol);
  if (symbol == nullptr) return false;
  if (!FindImage(library, dir.image)) return false;
  // The symbol must be the module's own, not one a dependency exports.
  if (!IsAligned<ResourceDirectory>(symbol) || !dir.image.Contains(symbol, sizeof(ResourceDirectory))) return false;
  const auto* header = static_cast<const ResourceDirectory*>(symbol);
  if (header->magic != kResourceDirectoryMagic || header->version != kResourceDirectoryVersion) return false;
  if (header->count > kMaxResourceEntries) return false;
  if (header->count == 0) return true;
  if (!IsAligned<ResourceEntry>(header->entries) ||
      !dir.image.Contains(header->entries, std::size_t{header->count} * sizeof(ResourceEntry)))
    return false;
  dir.entries = header->entries;
  dir.count = header->count;
  return true;
}

// Where an empty resource's bytes are: a valid address with nothing to read.
const unsigned char kNoBytes[1] = {0};

}  // namespace

HRSRC FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType) {
  if (lpName == nullptr || lpType == nullptr || !IS_INTRESOURCE(lpName) || !IS_INTRESOURCE(lpType)) return nullptr;
  const auto id = static_cast<std::uint16_t>(reinterpret_cast<std::uintptr_t>(lpName));
  const auto type = static_cast<std::uint16_t>(reinterpret_cast<std::uintptr_t>(lpType));
  Directory dir;
  if (!ReadDirectory(hModule, dir)) return nullptr;
  for (std::uint32_t i = 0; i < dir.count; ++i) {
    const ResourceEntry& entry = dir.entries[i];
    if (entry.type == type && entry.id == id && dir.Readable(entry))
      return reinterpret_cast<HRSRC>(const_cast<ResourceEntry*>(&entry));
  }
  return nullptr;
}

HGLOBAL LoadResource(HMODULE hModule, HRSRC hResInfo) {
  Directory dir;
  if (hResInfo == nullptr || !ReadDirectory(hModule, dir)) return nullptr;
  const ResourceEntry* entry = dir.EntryOf(hResInfo);
  if (entry == nullptr) return nullptr;
  const void* bytes = entry->size == 0 ? static_cast<const void*>(kNoBytes) : entry->data;
  return const_cast<void*>(bytes);
}

void* LockResource(HGLOBAL hResData) { return hResData; }

DWORD SizeofResource(HMODULE hModule, HRSRC hResInfo) {
  Directory dir;
  if (hResInfo == nullptr || !ReadDirectory(hModule, dir)) return 0;
  const ResourceEntry* entry = dir.EntryOf(hResInfo);
  return entry == nullptr ? 0 : entry->size;
}

BOOL FreeResource(HGLOBAL) { return FALSE; }

// ---- string tables -------------------------------------------------------------------

namespace platform {

namespace {
constexpr UINT kStringsPerBlock = 16;
}  // namespace

std::u16string LoadStringResource(HMODULE module, UINT id) {
  if (module == nullptr || id > 0xFFFF) return {};
  const UINT block = id / kStringsPerBlock + 1;
  HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(block), RT_STRING);
  if (info == nullptr) return {};
  HGLOBAL loaded = LoadResource(module, info);
  const auto* bytes = static_cast<const unsigned char*>(LockResource(loaded));
  if (bytes == nullptr) return {};
  // Read in 16-bit units; a trailing odd byte belongs to no unit.
  const std::size_t units = SizeofResource(module, info) / sizeof(char16_t);
  auto unitAt = [bytes](std::size_t i) {
    std::uint16_t unit;
    std::memcpy(&unit, bytes + i * sizeof unit, sizeof unit);
    return unit;
  };

  std::size_t at = 0;
  for (UINT skip = id % kStringsPerBlock; skip > 0; --skip) {
    if (at >= units) return {};
    at += 1 + std::size_t{unitAt(at)};
  }
  if (at >= units) return {};
  const std::size_t length = unitAt(at);
  if (length == 0 || length > units - at - 1) return {};
  std::u16string text(length, u'\0');
  for (std::size_t i = 0; i < length; ++i) text[i] = static_cast<char16_t>(unitAt(at + 1 + i));
  return text;
}

}  // namespace platform
