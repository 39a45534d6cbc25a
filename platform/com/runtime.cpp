// Object creation: per-thread initialisation, CLSID and ProgID lookups in the
// registry, loading in-process servers with dlopen and asking them for class
// objects, and the process-wide count of live COM objects.
#include <dlfcn.h>

#include <atomic>
#include <map>
#include <mutex>
#include <new>
#include <string>

#include "platform/com/runtime.h"
#include "platform/os/device.h"
#include "platform/os/registry.h"
#include "platform/os/text.h"

namespace {

// Initialisations of COM on the calling thread.
thread_local long t_initCount = 0;

std::atomic<long> g_liveObjects{0};

// Longest ProgID read from a caller; real ones are at most 39 characters.
constexpr std::size_t kMaxProgIdChars = 255;
// Longest registry text this file reads (a library path or a CLSID text).
constexpr DWORD kMaxValueBytes = 8192;

using DllGetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);

// Closes a registry key when the lookup leaves its scope.
class KeyHolder {
 public:
  KeyHolder() = default;
  KeyHolder(const KeyHolder&) = delete;
  KeyHolder& operator=(const KeyHolder&) = delete;
  ~KeyHolder() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  HKEY* Receive() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// The host file behind an InprocServer32 text: a host path is used as it is,
// anything else is a phone path below the device root.
std::string HostLibraryPath(const std::u16string& registered) {
  if (!registered.empty() && registered.front() == u'/') return platform::Utf16ToUtf8(registered);
  return platform::HostPath(registered);
}

// Loaded servers by host path. Handles are never closed: objects a server made
// may be held anywhere in the process, long after the caller that loaded it
// has released what it knew of, and their vtables live in the library.
// The cache itself is never destroyed either, so a lookup made while the
// process ends still finds a live map.
struct LibraryCache {
  std::mutex mutex;
  std::map<std::string, void*> handles;
};
LibraryCache& Libraries() {
  static auto* cache = new LibraryCache();
  return *cache;
}

void* LoadServer(const std::string& path) {
  LibraryCache& cache = Libraries();
  {
    std::lock_guard<std::mutex> lock(cache.mutex);
    auto found = cache.handles.find(path);
    if (found != cache.handles.end()) return found->second;
  }
  // Loaded without the lock held: the library's initialisers may create
  // objects themselves. Two threads loading the same path get the same handle
  // from dlopen, so the second insertion changes nothing.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return nullptr;
  std::lock_guard<std::mutex> lock(cache.mutex);
  cache.handles.emplace(path, handle);
  return handle;
}

HRESULT LookUpProgId(LPCOLESTR lpszProgID, CLSID* lpclsid) {
  std::size_t length = platform::BoundedLength(lpszProgID, kMaxProgIdChars + 1);
  if (length == 0 || length > kMaxProgIdChars) return CO_E_CLASSSTRING;
  std::u16string progId(lpszProgID, length);
  // A separator would reach into another key (say "CLSID\{...}").
  if (progId.find(u'\\') != std::u16string::npos) return CO_E_CLASSSTRING;
  std::u16string clsidText;
  if (!com::detail::ReadClassesRootText(progId + u"\\CLSID", clsidText)) return CO_E_CLASSSTRING;
  return CLSIDFromString(clsidText.c_str(), lpclsid);
}

HRESULT GetClassObject(REFCLSID rclsid, DWORD dwClsContext, REFIID riid, void** ppv) {
  // Only in-process servers exist; a request that excludes them finds nothing.
  if ((dwClsContext & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
  std::u16string libraryText;
  if (!com::detail::ReadClassesRootText(u"CLSID\\" + FormatGuidW(rclsid) + u"\\InprocServer32", libraryText) ||
      libraryText.empty()) {
    return REGDB_E_CLASSNOTREG;
  }
  void* library = LoadServer(HostLibraryPath(libraryText));
  if (library == nullptr) return CO_E_DLLNOTFOUND;
  auto getClassObject = reinterpret_cast<DllGetClassObjectFn>(dlsym(library, "DllGetClassObject"));
  if (getClassObject == nullptr) return CO_E_ERRORINDLL;
  return getClassObject(rclsid, riid, ppv);
}

}  // namespace

HRESULT CoInitializeEx(void* pvReserved, DWORD dwCoInit) {
  if (pvReserved != nullptr) return E_INVALIDARG;
  (void)dwCoInit;  // every thread is free-threaded here
  return t_initCount++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
  if (t_initCount > 0) --t_initCount;
}

HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* lpclsid) {
  if (lpszProgID == nullptr || lpclsid == nullptr) return E_INVALIDARG;
  try {
    return LookUpProgId(lpszProgID, lpclsid);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, void* pvReserved, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (t_initCount == 0) return CO_E_NOTINITIALIZED;
  (void)pvReserved;  // names a remote machine, and there are none here
  HRESULT hr = E_UNEXPECTED;
  try {
    hr = GetClassObject(rclsid, dwClsContext, riid, ppv);
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  } catch (...) {
    // A server that lets an exception out of its entry point.
    hr = E_UNEXPECTED;
  }
  if (FAILED(hr)) *ppv = nullptr;
  return hr;
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (t_initCount == 0) return CO_E_NOTINITIALIZED;
  // No class of this platform can be aggregated.
  if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
  IClassFactory* factory = nullptr;
  HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  if (factory == nullptr) return E_UNEXPECTED;
  try {
    hr = factory->CreateInstance(nullptr, riid, ppv);
  } catch (...) {
    hr = E_UNEXPECTED;
  }
  factory->Release();
  if (FAILED(hr)) *ppv = nullptr;
  return hr;
}

HRESULT OleRun(IUnknown* pUnknown) { return pUnknown == nullptr ? E_INVALIDARG : S_OK; }

namespace com {

namespace detail {

bool ReadClassesRootText(const std::u16string& subKey, std::u16string& text) {
  KeyHolder key;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, subKey.c_str(), 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) return false;
  DWORD type = REG_NONE;
  DWORD bytes = 0;
  if (RegQueryValueExW(key.get(), nullptr, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) return false;
  if (type != REG_SZ || bytes > kMaxValueBytes) return false;
  // One spare character keeps the buffer non-null for an empty value.
  std::u16string value(bytes / sizeof(char16_t) + 1, u'\0');
  DWORD got = bytes;
  if (RegQueryValueExW(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &got) !=
      ERROR_SUCCESS) {
    return false;
  }
  // The value may have changed between the two queries; what was read is
  // what counts, and an odd last byte is dropped.
  if (type != REG_SZ || got > bytes) return false;
  value.resize(got / sizeof(char16_t));
  while (!value.empty() && value.back() == u'\0') value.pop_back();
  text = std::move(value);
  return true;
}

}  // namespace detail

namespace {
thread_local int t_internalObjectScopes = 0;
}  // namespace

InternalObjects::InternalObjects() { ++t_internalObjectScopes; }
InternalObjects::~InternalObjects() { --t_internalObjectScopes; }
bool MakingInternalObjects() { return t_internalObjectScopes > 0; }

long LiveObjectCount() { return g_liveObjects.load(std::memory_order_acquire); }
void NoteObjectCreated() { g_liveObjects.fetch_add(1, std::memory_order_relaxed); }
void NoteObjectDestroyed() { g_liveObjects.fetch_sub(1, std::memory_order_acq_rel); }

}  // namespace com
