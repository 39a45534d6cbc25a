// The parts of the COM helper that touch no per-module state: writing and
// removing a server's classes in the registry, and finding the file a module
// was loaded from.
#include <dlfcn.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "platform/com/atl.h"
#include "platform/os/registry.h"
#include "platform/os/text.h"

namespace {

// Longest ProgID, description or threading model taken from a class map.
constexpr std::size_t kMaxEntryTextChars = 1024;

// A text of a class-map row, or false when it has no NUL within reach.
bool EntryText(const char16_t* text, std::u16string& out) {
  out.clear();
  if (text == nullptr) return true;
  std::size_t length = platform::BoundedLength(text, kMaxEntryTextChars + 1);
  if (length > kMaxEntryTextChars) return false;
  out.assign(text, length);
  return true;
}

bool IsUsableProgId(const std::u16string& progId) {
  return !progId.empty() && progId.find(u'\\') == std::u16string::npos;
}

// Creates HKEY_CLASSES_ROOT\<subKey> and sets one of its string values (the
// default value for a null name).
bool WriteText(const std::u16string& subKey, const char16_t* valueName, const std::u16string& text) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  auto bytes = static_cast<DWORD>((text.size() + 1) * sizeof(char16_t));
  LONG result = RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), bytes);
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

// Deletes HKEY_CLASSES_ROOT\<subKey> with everything below it; a key that is
// not there is already gone.
bool DeleteTree(const std::u16string& subKey) {
  LONG result = RegDeleteKeyW(HKEY_CLASSES_ROOT, subKey.c_str());
  return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

bool RegisterClass(const com::ClassEntry& entry, const std::u16string& modulePath) {
  if (entry.clsid == nullptr) return false;
  std::u16string progId, description, threadingModel;
  if (!EntryText(entry.progId, progId) || !EntryText(entry.description, description) ||
      !EntryText(entry.threadingModel, threadingModel)) {
    return false;
  }
  if (entry.progId != nullptr && !IsUsableProgId(progId)) return false;
  std::u16string clsidText = FormatGuidW(*entry.clsid);
  std::u16string clsidKey = u"CLSID\\" + clsidText;
  if (!WriteText(clsidKey, nullptr, description)) return false;
  if (!WriteText(clsidKey + u"\\InprocServer32", nullptr, modulePath)) return false;
  if (entry.threadingModel != nullptr &&
      !WriteText(clsidKey + u"\\InprocServer32", u"ThreadingModel", threadingModel)) {
    return false;
  }
  if (entry.progId == nullptr) return true;
  return WriteText(clsidKey + u"\\ProgID", nullptr, progId) && WriteText(progId, nullptr, description) &&
         WriteText(progId + u"\\CLSID", nullptr, clsidText);
}

bool UnregisterClass(const com::ClassEntry& entry) {
  if (entry.clsid == nullptr) return true;
  std::u16string clsidText = FormatGuidW(*entry.clsid);
  bool ok = DeleteTree(u"CLSID\\" + clsidText);
  std::u16string progId;
  if (EntryText(entry.progId, progId) && IsUsableProgId(progId)) {
    // The ProgID goes only while it still names this class: another server
    // may have registered it since.
    std::u16string named;
    GUID namedClsid{};
    bool namesOther = com::detail::ReadClassesRootText(progId + u"\\CLSID", named) &&
                      ParseGuidW(named, namedClsid) && !(namedClsid == *entry.clsid);
    if (!namesOther) ok = DeleteTree(progId) && ok;
  }
  return ok;
}

}  // namespace

namespace com {

HRESULT ModuleRegisterServer(const ClassEntry* map, int count, const std::string& modulePath) {
  if (map == nullptr || count < 0) return E_INVALIDARG;
  try {
    std::u16string path = platform::Utf8ToUtf16(modulePath);
    for (int i = 0; i < count; ++i) {
      if (path.empty() || !RegisterClass(map[i], path)) {
        // Take back this call's rows, the failing one included, so no class
        // is left half-registered.
        for (int j = 0; j <= i; ++j) UnregisterClass(map[j]);
        return SELFREG_E_CLASS;
      }
    }
    return S_OK;
  } catch (...) {
    return SELFREG_E_CLASS;
  }
}

HRESULT ModuleUnregisterServer(const ClassEntry* map, int count) {
  if (map == nullptr || count < 0) return E_INVALIDARG;
  try {
    bool ok = true;
    for (int i = 0; i < count; ++i) ok = UnregisterClass(map[i]) && ok;
    return ok ? S_OK : SELFREG_E_CLASS;
  } catch (...) {
    return SELFREG_E_CLASS;
  }
}

std::string ModulePathOf(const void* addressInModule) {
  Dl_info info{};
  if (addressInModule == nullptr || dladdr(addressInModule, &info) == 0) return {};
  if (info.dli_fname == nullptr || info.dli_fname[0] == '\0') return {};
  std::string path = info.dli_fname;
  // A module loaded by a relative name is registered by its absolute one, so
  // the registration holds from any working folder.
  if (path.front() != '/') {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) != nullptr) path = resolved;
  }
  return path;
}

}  // namespace com
