// Object creation of the platform layer: apartments, CoCreateInstance through
// the registry, ProgID lookups and OleRun.
//
// Creation walks the same registry entries as on the phone:
//   HKEY_CLASSES_ROOT\<ProgID>\CLSID                 (default) = "{clsid}"
//   HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32   (default) = library path
//                                                    "ThreadingModel" = "Free"
// The library is loaded with dlopen and asked for its class object through its
// exported DllGetClassObject. Loaded servers stay loaded until the process ends,
// so no object can outlive the code behind its vtable.
#pragma once

#include "platform/com/types.h"

enum : DWORD {
  COINIT_MULTITHREADED = 0x0,
  COINIT_APARTMENTTHREADED = 0x2,
};

enum : DWORD {
  CLSCTX_INPROC_SERVER = 0x1,
  CLSCTX_INPROC_HANDLER = 0x2,
  CLSCTX_LOCAL_SERVER = 0x4,
  CLSCTX_REMOTE_SERVER = 0x10,
  CLSCTX_ALL = 0x17,  // 23: what the system passes everywhere
};

// Counts initialisations per thread. Only the multithreaded model exists here:
// both flags are accepted and mean the same. S_OK first time on a thread,
// S_FALSE after.
HRESULT CoInitializeEx(void* pvReserved, DWORD dwCoInit);
void CoUninitialize();

// Looks up HKEY_CLASSES_ROOT\<ProgID>\CLSID. CO_E_CLASSSTRING when the ProgID is
// not registered or its CLSID text is malformed; E_INVALIDARG for null args.
HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* lpclsid);
// Parse "{...}" text (braces required, any case; reading stops one character
// past the longest valid text, so an unterminated text is rejected). CLSIDFromString answers CO_E_CLASSSTRING when the text
// is malformed, IIDFromString E_INVALIDARG; both E_INVALIDARG for null args.
HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid);
HRESULT IIDFromString(LPCOLESTR lpsz, IID* lpiid);
// Writes "{...}" and a NUL into lpsz; returns the characters written including
// the NUL, or 0 when cchMax is below 39.
int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);

// Only in-process servers exist. Results: CO_E_NOTINITIALIZED when the calling
// thread has not initialised COM; REGDB_E_CLASSNOTREG when the class or its
// InprocServer32 entry is missing; CO_E_DLLNOTFOUND when the library will not
// load; CO_E_ERRORINDLL when it has no DllGetClassObject; otherwise what the
// class factory answers. *ppv is nullptr on every failure.
HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, void* pvReserved, REFIID riid, void** ppv);
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, void** ppv);

// In-process objects are always running: S_OK for any object, E_INVALIDARG for nullptr.
HRESULT OleRun(IUnknown* pUnknown);

namespace com {
// Objects made by the COM helper that are alive now, across every module of the
// process. Tests read it before and after a scenario to prove nothing leaked.
long LiveObjectCount();
void NoteObjectCreated();
void NoteObjectDestroyed();

// Objects a module makes as its own lasting state (a singleton's settings)
// rather than for a caller are made while an InternalObjects scope lives on
// the thread: they stay out of the live-object count, which counts the
// objects in circulation, so that a scenario that only made the module keep
// its state leaves the count as it found it.
class InternalObjects {
 public:
  InternalObjects();
  ~InternalObjects();
  InternalObjects(const InternalObjects&) = delete;
  InternalObjects& operator=(const InternalObjects&) = delete;
};
// True while an InternalObjects scope lives on this thread.
bool MakingInternalObjects();

namespace detail {
// The default value of HKEY_CLASSES_ROOT\<subKey> as text, without trailing
// NULs (the stored data need not be terminated). False when the key or value
// is missing, not REG_SZ, or longer than any text the runtime needs.
bool ReadClassesRootText(const std::u16string& subKey, std::u16string& text);
}  // namespace detail
}  // namespace com
