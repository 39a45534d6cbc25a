// A small helper that keeps a COM class short, in the manner of the phone's
// class library: a reference count, a QueryInterface table built from the
// interfaces a class lists, class factories, and a class-object map from which a
// server module answers DllGetClassObject, DllRegisterServer,
// DllUnregisterServer and DllCanUnloadNow.
//
//   class CWayPoint : public com::ComClass<CWayPoint, IWayPoint> { ... };
//   IWayPoint* p = nullptr;
//   com::ComClass<...>::CreateInstance(&p);          // or CoCreateInstance
//
// Per-module state (the lock count of DllCanUnloadNow) lives in inline
// variables of this header. Shared libraries are built with hidden
// visibility, so each module keeps its own, as each DLL does on the phone.
#pragma once

#include <atomic>
#include <iterator>
#include <new>
#include <string>
#include <type_traits>

#include "platform/com/guard.h"
#include "platform/com/oleauto.h"
#include "platform/com/runtime.h"

namespace com {

// Objects and server locks of this module.
inline std::atomic<long> g_moduleLockCount{0};

inline void ModuleLock() { g_moduleLockCount.fetch_add(1, std::memory_order_relaxed); }
inline void ModuleUnlock() { g_moduleLockCount.fetch_sub(1, std::memory_order_relaxed); }
inline long ModuleLockCount() { return g_moduleLockCount.load(std::memory_order_relaxed); }

namespace detail {
template <class I, class... Rest>
struct First {
  using type = I;
};

// Answers `riid` with the first listed interface whose own identity it is.
// IDispatch also resolves to the first listed interface deriving from it.
// Other base interfaces are not searched: a class that answers for an
// interface its listed ones derive from lists that one too, or answers it
// in QueryInterfaceExtra.
template <class Self, class I, class... Rest>
void* FindInterface(Self* self, REFIID riid) {
  if (riid == IidOf<I>()) return static_cast<I*>(self);
  if constexpr (std::is_base_of_v<IDispatch, I> && !std::is_same_v<IDispatch, I>) {
    if (riid == IID_IDispatch) return static_cast<IDispatch*>(static_cast<I*>(self));
  }
  if constexpr (sizeof...(Rest) > 0) {
    return FindInterface<Self, Rest...>(self, riid);
  } else {
    return nullptr;
  }
}
}  // namespace detail

// Base of a COM class `T` that implements the interfaces `Is...`. It provides
// IUnknown (atomic reference count, QueryInterface over the listed interfaces)
// and E_NOTIMPL answers for the four IDispatch slots, counts the object in the
// process-wide live-object counter (unless it is made inside an
// InternalObjects scope) and in this module's lock count, and makes
// instances with CreateInstance. T may add `HRESULT FinalConstruct()` (called
// once after construction, a failure destroys the object) and may answer more
// identities by defining `void* QueryInterfaceExtra(REFIID)`.
//
// The destructor is virtual so that the last Release destroys the object as
// what it really is, also when T is derived from further; its entries come
// after every interface slot in the vtable, so slot numbers do not move.
// Exceptions thrown while making an object (by T's constructor or its
// FinalConstruct) end there: CreateInstance and CreateObject answer
// E_OUTOFMEMORY for std::bad_alloc and E_FAIL for anything else.
template <class T, class... Is>
class ComClass : public Is... {
  static_assert(sizeof...(Is) > 0, "a COM class implements at least one interface");
  using Primary = typename detail::First<Is...>::type;

 public:
  ComClass() : counted_(!MakingInternalObjects()) {
    if (counted_) NoteObjectCreated();
    ModuleLock();
  }
  ComClass(const ComClass&) = delete;
  ComClass& operator=(const ComClass&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    void* found = nullptr;
    if (riid == IID_IUnknown) {
      found = static_cast<IUnknown*>(static_cast<Primary*>(this));
    } else {
      found = detail::FindInterface<ComClass, Is...>(this, riid);
      if (found == nullptr) found = static_cast<T*>(this)->QueryInterfaceExtra(riid);
    }
    if (found == nullptr) return E_NOINTERFACE;
    AddRef();
    *ppv = found;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
  ULONG STDMETHODCALLTYPE Release() {
    ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete static_cast<T*>(this);
    return left;
  }

  // The IUnknown members above and the IDispatch members below override the
  // listed interfaces' slots by signature. They carry no `override` so that the
  // same base serves interfaces with and without IDispatch.
  //
  // IDispatch: late binding is not offered; these answer slots 3-6 of dual
  // interfaces and are plain members for the others.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) {
    if (pctinfo == nullptr) return E_POINTER;
    *pctinfo = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) {
    if (ppTInfo != nullptr) *ppTInfo = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
    return E_NOTIMPL;
  }

  // Makes a new object and returns it through `ppv` as interface `riid`.
  static HRESULT CreateInstance(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    T* obj = nullptr;
    HRESULT hr = CreateObject(&obj);
    if (FAILED(hr)) return hr;
    hr = obj->QueryInterface(riid, ppv);
    obj->Release();
    return hr;
  }
  template <class I>
  static HRESULT CreateInstance(I** pp) {
    return CreateInstance(IidOf<I>(), reinterpret_cast<void**>(pp));
  }
  // Makes a new object and hands back the class itself with one reference, for
  // the module's own code that fills fields before passing the object out.
  static HRESULT CreateObject(T** pp) {
    if (pp == nullptr) return E_POINTER;
    *pp = nullptr;
    T* obj = nullptr;
    HRESULT hr = Guarded([&obj] {
      obj = new T();
      return S_OK;
    });
    if (FAILED(hr)) return hr;
    obj->AddRef();
    hr = Guarded([obj] { return obj->FinalConstruct(); });
    if (FAILED(hr)) {
      obj->Release();
      return hr;
    }
    *pp = obj;
    return hr;
  }

  HRESULT FinalConstruct() { return S_OK; }
  void* QueryInterfaceExtra(REFIID) { return nullptr; }

 protected:
  virtual ~ComClass() {
    ModuleUnlock();
    if (counted_) NoteObjectDestroyed();
  }

 private:
  std::atomic<ULONG> refs_{0};
  const bool counted_;  // in the live-object count (not made as a module's internal state)
};

// One row of a server's class-object map.
struct ClassEntry {
  const CLSID* clsid;
  const char16_t* progId;       // "Cartovel.Map"
  const char16_t* description;  // "Map Class"
  const char16_t* threadingModel;  // "Free"
  HRESULT (*create)(REFIID riid, void** ppv);
};

namespace detail {
// Server locks taken through IClassFactory::LockServer in this module and not
// yet given back; they are part of g_moduleLockCount too.
inline std::atomic<long> g_moduleServerLocks{0};
}  // namespace detail

// The class object handed out by DllGetClassObject: one per call, it creates
// instances of one entry. Like every object it holds the module while it
// lives, and LockServer(TRUE) holds it further until LockServer(FALSE).
//
// It is defined here, inline, because it works on this module's own lock
// count: compiled into each server, it counts for that server alone.
class ClassFactory final : public ComClass<ClassFactory, IClassFactory> {
 public:
  // `entry` is a row of the module's static class-object map, which lives as
  // long as the module's code.
  explicit ClassFactory(const ClassEntry& entry) : entry_(&entry) {}

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
    if (entry_->create == nullptr) return E_UNEXPECTED;
    HRESULT hr = Guarded([&] { return entry_->create(riid, ppv); });
    if (FAILED(hr)) *ppv = nullptr;
    return hr;
  }

  // An unlock without a matching lock is refused (E_UNEXPECTED), so a
  // careless client cannot make DllCanUnloadNow answer S_OK while objects
  // still live.
  HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override {
    if (fLock) {
      detail::g_moduleServerLocks.fetch_add(1, std::memory_order_relaxed);
      ModuleLock();
      return S_OK;
    }
    long held = detail::g_moduleServerLocks.load(std::memory_order_relaxed);
    do {
      if (held <= 0) return E_UNEXPECTED;
    } while (!detail::g_moduleServerLocks.compare_exchange_weak(held, held - 1, std::memory_order_relaxed));
    ModuleUnlock();
    return S_OK;
  }

 private:
  const ClassEntry* entry_;
};

// Makes a class object for `entry` and answers it as `riid`.
inline HRESULT CreateClassFactory(const ClassEntry& entry, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  auto* factory = new (std::nothrow) ClassFactory(entry);
  if (factory == nullptr) return E_OUTOFMEMORY;
  factory->AddRef();
  HRESULT hr = factory->QueryInterface(riid, ppv);
  factory->Release();
  return hr;
}

// The bodies of a server's four exported entry points, over its class-object
// map (`count` rows); COM_SERVER_ENTRY_POINTS below writes all four.
//
// ModuleGetClassObject hands out a new ClassFactory for the row of `rclsid`,
// CLASS_E_CLASSNOTAVAILABLE for a class not in the map. It is inline for the
// same reason as ClassFactory.
inline HRESULT ModuleGetClassObject(const ClassEntry* map, int count, REFCLSID rclsid, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (map == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
  for (int i = 0; i < count; ++i) {
    if (map[i].clsid != nullptr && *map[i].clsid == rclsid) return CreateClassFactory(map[i], riid, ppv);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

// `modulePath` is the host file the server was loaded from; it goes into
// InprocServer32. Registration writes, for each class,
//   HKCR\<ProgID>\(default) = description, HKCR\<ProgID>\CLSID\(default) = clsid,
//   HKCR\CLSID\{clsid}\(default) = description, ...\ProgID\(default) = ProgID,
//   ...\InprocServer32\(default) = modulePath, "ThreadingModel" = model.
// A row without a ProgID registers only the CLSID keys; a null description is
// written as empty text and a null threading model is not written. Any failure
// (a row without a CLSID, a ProgID that is empty or holds a backslash, an
// empty module path, a registry write that fails) answers SELFREG_E_CLASS and
// removes this call's classes again, so none is left half-registered.
// E_INVALIDARG for a null map or a negative count. Neither function throws.
HRESULT ModuleRegisterServer(const ClassEntry* map, int count, const std::string& modulePath);
// Unregistration deletes those keys; missing keys are no error. A ProgID key
// is removed only while it names this class (or no class), so a newer server
// that took the ProgID over keeps it. SELFREG_E_CLASS when a key that exists
// cannot be deleted.
HRESULT ModuleUnregisterServer(const ClassEntry* map, int count);
inline HRESULT ModuleCanUnloadNow() { return ModuleLockCount() == 0 ? S_OK : S_FALSE; }

// The file a module was loaded from: pass the address of any function of it.
// Empty when the address lies in no loaded module.
std::string ModulePathOf(const void* addressInModule);

}  // namespace com

// What a server module exports, with C linkage, by these names.
#define COM_SERVER_EXPORT extern "C" __attribute__((visibility("default")))

// Defines a server's four exported entry points over its class-object map, an
// array of com::ClassEntry rows at namespace scope in the server's code:
//
//   const com::ClassEntry kClasses[] = {
//       {&CLSID_Map, u"Cartovel.Map", u"Map Class", u"Free", &CMap::CreateInstance},
//   };
//   COM_SERVER_ENTRY_POINTS(kClasses)
//
// DllRegisterServer registers the file the server was loaded from.
#define COM_SERVER_ENTRY_POINTS(map)                                                                     \
  COM_SERVER_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {                 \
    return ::com::ModuleGetClassObject(map, static_cast<int>(std::size(map)), rclsid, riid, ppv);        \
  }                                                                                                      \
  COM_SERVER_EXPORT HRESULT DllCanUnloadNow() { return ::com::ModuleCanUnloadNow(); }                    \
  COM_SERVER_EXPORT HRESULT DllRegisterServer() {                                                        \
    return ::com::Guarded([] {                                                                           \
      return ::com::ModuleRegisterServer(map, static_cast<int>(std::size(map)),                          \
                                         ::com::ModulePathOf(reinterpret_cast<const void*>(&DllRegisterServer))); \
    });                                                                                                  \
  }                                                                                                      \
  COM_SERVER_EXPORT HRESULT DllUnregisterServer() {                                                      \
    return ::com::ModuleUnregisterServer(map, static_cast<int>(std::size(map)));                         \
  }
