// Tests of object creation: the COM helper's classes and class factories, and
// the runtime creating objects of a real server library through the registry,
// with every way a registration can be wrong.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/com/atl.h"
#include "platform/com/oleauto.h"
#include "platform/com/runtime.h"
#include "platform/os/device.h"
#include "platform/os/registry.h"
#include "platform/os/text.h"
#include "tests/platform/com_test_server.h"
#include "tests/platform/test_counter.h"
#include "tests/support/temp_folder.h"

namespace {

// ---- the helper's classes ----------------------------------------------------------

using comtest::CTestCounter;

// Owns heap memory of its own: destroyed as a CTestCounter only, it would
// leak that and free the object with the wrong size.
class CNamedCounter final : public CTestCounter {
 public:
  std::u16string name_ = u"a name long enough to live on the heap, not inside the string";
};

template <class Exception>
class CThrowingConstructor final : public comtest::TestCounterOf<CThrowingConstructor<Exception>> {
 public:
  CThrowingConstructor() { throw Exception("refused"); }
};

struct OutOfMemory : std::bad_alloc {
  explicit OutOfMemory(const char*) {}
};

TEST(ComHelper, QueryInterfaceAnswersListedInterfacesWithOneIdentity) {
  const long start = com::LiveObjectCount();
  ITestCounter* counter = nullptr;
  ASSERT_EQ(CTestCounter::CreateInstance(&counter), S_OK);
  EXPECT_EQ(com::LiveObjectCount(), start + 1);

  IUnknown* identity = nullptr;
  ISupportErrorInfo* errorInfo = nullptr;
  IUnknown* identityFromErrorInfo = nullptr;
  IDispatch* dispatch = nullptr;
  ASSERT_EQ(counter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  ASSERT_EQ(counter->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&errorInfo)), S_OK);
  ASSERT_EQ(errorInfo->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identityFromErrorInfo)), S_OK);
  ASSERT_EQ(errorInfo->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
  EXPECT_EQ(identity, identityFromErrorInfo);
  EXPECT_EQ(static_cast<void*>(dispatch), static_cast<void*>(counter));
  EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(IID_ITestCounter), S_OK);

  void* none = counter;
  EXPECT_EQ(counter->QueryInterface(IID_IClassFactory, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(counter->QueryInterface(IID_IUnknown, nullptr), E_POINTER);

  // Slots 3-6 of the dual interface answer without late binding.
  UINT typeInfos = 9;
  EXPECT_EQ(dispatch->GetTypeInfoCount(&typeInfos), S_OK);
  EXPECT_EQ(typeInfos, 0u);
  EXPECT_EQ(dispatch->GetIDsOfNames(IID_IUnknown, nullptr, 0, 0, nullptr), E_NOTIMPL);

  for (IUnknown* p : {static_cast<IUnknown*>(dispatch), identityFromErrorInfo, static_cast<IUnknown*>(errorInfo),
                      identity}) {
    p->Release();
  }
  EXPECT_EQ(counter->Release(), 0u);
  EXPECT_EQ(com::LiveObjectCount(), start);
}

TEST(ComHelper, LastReleaseDestroysTheMostDerivedObject) {
  const long start = com::LiveObjectCount();
  CTestCounter* counter = new CNamedCounter();
  counter->AddRef();
  EXPECT_EQ(com::LiveObjectCount(), start + 1);
  EXPECT_EQ(counter->Release(), 0u);  // the address checker reports a wrong-size delete or a leak
  EXPECT_EQ(com::LiveObjectCount(), start);
}

// Objects made as a module's own state (inside an InternalObjects scope, on
// this thread) stay out of the live-object count for their whole life; those
// made before, after or on another thread are counted.
TEST(ComHelper, InternalObjectsStayOutOfTheLiveCount) {
  const long start = com::LiveObjectCount();
  CTestCounter* internal = nullptr;
  CTestCounter* nested = nullptr;
  CTestCounter* fromOtherThread = nullptr;
  {
    const com::InternalObjects scope;
    EXPECT_TRUE(com::MakingInternalObjects());
    ASSERT_EQ(CTestCounter::CreateObject(&internal), S_OK);
    {
      const com::InternalObjects inner;
      ASSERT_EQ(CTestCounter::CreateObject(&nested), S_OK);
    }
    EXPECT_TRUE(com::MakingInternalObjects()) << "the outer scope still lives";
    std::thread other([&fromOtherThread] { EXPECT_EQ(CTestCounter::CreateObject(&fromOtherThread), S_OK); });
    other.join();
  }
  EXPECT_FALSE(com::MakingInternalObjects());
  EXPECT_EQ(com::LiveObjectCount(), start + 1) << "only the other thread's object is counted";
  CTestCounter* counted = nullptr;
  ASSERT_EQ(CTestCounter::CreateObject(&counted), S_OK);
  EXPECT_EQ(com::LiveObjectCount(), start + 2);
  // Destroying an internal object leaves the count of the others alone.
  EXPECT_EQ(internal->Release(), 0u);
  EXPECT_EQ(nested->Release(), 0u);
  EXPECT_EQ(com::LiveObjectCount(), start + 2);
  EXPECT_EQ(counted->Release(), 0u);
  EXPECT_EQ(fromOtherThread->Release(), 0u);
  EXPECT_EQ(com::LiveObjectCount(), start);
}

TEST(ComHelper, ExceptionsWhileMakingAnObjectBecomeErrors) {
  const long start = com::LiveObjectCount();
  const long moduleLocks = com::ModuleLockCount();
  int notAnObject = 0;
  auto* counter = reinterpret_cast<ITestCounter*>(&notAnObject);  // must come back null
  EXPECT_EQ(CThrowingConstructor<OutOfMemory>::CreateInstance(&counter), E_OUTOFMEMORY);
  EXPECT_EQ(counter, nullptr);
  EXPECT_EQ(CThrowingConstructor<std::runtime_error>::CreateInstance(&counter), E_FAIL);
  EXPECT_EQ(counter, nullptr);
  EXPECT_EQ(com::LiveObjectCount(), start);
  EXPECT_EQ(com::ModuleLockCount(), moduleLocks);
}

const com::ClassEntry kLocalClasses[] = {
    {&CLSID_TestCounter, kTestCounterProgId, u"Local Counter", u"Free", &CTestCounter::CreateInstance},
};

TEST(ComHelper, ClassFactoryCreatesRefusesAggregationAndLocksTheModule) {
  const long start = com::LiveObjectCount();
  EXPECT_EQ(com::ModuleCanUnloadNow(), S_OK);
  IClassFactory* factory = nullptr;
  void* none = &factory;
  EXPECT_EQ(com::ModuleGetClassObject(kLocalClasses, 1, CLSID_TestRefuser, IID_IClassFactory, &none),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(none, nullptr);
  ASSERT_EQ(com::ModuleGetClassObject(kLocalClasses, 1, CLSID_TestCounter, IID_IClassFactory,
                                      reinterpret_cast<void**>(&factory)),
            S_OK);
  EXPECT_EQ(com::ModuleCanUnloadNow(), S_FALSE);  // the factory itself holds the module

  ITestCounter* counter = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_ITestCounter, reinterpret_cast<void**>(&counter)), S_OK);
  LONG total = 0;
  EXPECT_EQ(counter->Add(4, &total), S_OK);
  EXPECT_EQ(total, 4);

  void* aggregated = &factory;
  EXPECT_EQ(factory->CreateInstance(counter, IID_IUnknown, &aggregated), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(aggregated, nullptr);
  void* wrongInterface = &factory;
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &wrongInterface), E_NOINTERFACE);
  EXPECT_EQ(wrongInterface, nullptr);
  counter->Release();

  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  factory->Release();
  EXPECT_EQ(com::ModuleCanUnloadNow(), S_FALSE);  // locked with no object alive
  ASSERT_EQ(com::ModuleGetClassObject(kLocalClasses, 1, CLSID_TestCounter, IID_IClassFactory,
                                      reinterpret_cast<void**>(&factory)),
            S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), E_UNEXPECTED);  // nothing left to unlock
  factory->Release();
  EXPECT_EQ(com::ModuleCanUnloadNow(), S_OK);
  EXPECT_EQ(com::LiveObjectCount(), start);
}

// ---- the runtime with a server library -----------------------------------------------

using DllFunction = HRESULT (*)();

std::u16string Utf16(const std::string& text) { return platform::Utf8ToUtf16(text); }

void WriteClassesRootText(const std::u16string& subKey, const char16_t* name, const std::u16string& text) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>((text.size() + 1) * sizeof(char16_t))),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

bool KeyExists(const std::u16string& subKey) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

std::u16string ClsidKey(const CLSID& clsid) { return u"CLSID\\" + FormatGuidW(clsid); }

// Each test gets a fresh device root, so a fresh registry, and COM initialised
// on its thread. The server library is opened by the test too, to call its
// registration entry points directly as an installer would.
class ComRuntime : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = dlopen(COM_TEST_SERVER_PATH, RTLD_NOW | RTLD_LOCAL);
    if (server_ == nullptr) return;
    registerServer_ = reinterpret_cast<DllFunction>(dlsym(server_, "DllRegisterServer"));
    unregisterServer_ = reinterpret_cast<DllFunction>(dlsym(server_, "DllUnregisterServer"));
    canUnloadNow_ = reinterpret_cast<DllFunction>(dlsym(server_, "DllCanUnloadNow"));
  }

  void SetUp() override {
    ASSERT_NE(server_, nullptr) << dlerror();
    ASSERT_NE(registerServer_, nullptr);
    ASSERT_NE(unregisterServer_, nullptr);
    ASSERT_NE(canUnloadNow_, nullptr);
    previousRoot_ = platform::DeviceRoot();
    root_ = folder_.string();
    platform::SetDeviceRoot(root_);
    platform::registry::ReloadFromDisk();
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    start_ = com::LiveObjectCount();
  }

  void TearDown() override {
    CoUninitialize();
    platform::SetDeviceRoot(previousRoot_);
    platform::registry::ReloadFromDisk();
  }

  // Registers a class by hand: its InprocServer32 default value only.
  static void RegisterLibrary(const CLSID& clsid, const std::u16string& library) {
    WriteClassesRootText(ClsidKey(clsid) + u"\\InprocServer32", nullptr, library);
  }

  static inline void* server_ = nullptr;
  static inline DllFunction registerServer_ = nullptr;
  static inline DllFunction unregisterServer_ = nullptr;
  static inline DllFunction canUnloadNow_ = nullptr;
  std::string previousRoot_;
  testing_support::TempFolder folder_{"com-runtime"};
  std::string root_;
  long start_ = 0;
};

TEST_F(ComRuntime, RegisteredServerMakesObjectsByProgId) {
  ASSERT_EQ(registerServer_(), S_OK);
  std::u16string library;
  ASSERT_TRUE(com::detail::ReadClassesRootText(ClsidKey(CLSID_TestCounter) + u"\\InprocServer32", library));
  EXPECT_EQ(library, Utf16(COM_TEST_SERVER_PATH));
  std::u16string progId;
  ASSERT_TRUE(com::detail::ReadClassesRootText(ClsidKey(CLSID_TestCounter) + u"\\ProgID", progId));
  EXPECT_EQ(progId, kTestCounterProgId);
  EXPECT_FALSE(KeyExists(ClsidKey(CLSID_TestRefuser) + u"\\ProgID"));  // a class without one

  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(kTestCounterProgId, &clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_TestCounter);
  IUnknown* object = nullptr;
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, 23, IID_IUnknown, reinterpret_cast<void**>(&object)), S_OK);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(com::LiveObjectCount(), start_ + 1);
  EXPECT_EQ(canUnloadNow_(), S_FALSE);
  EXPECT_EQ(OleRun(object), S_OK);

  ITestCounter* counter = nullptr;
  ASSERT_EQ(object->QueryInterface(IID_ITestCounter, reinterpret_cast<void**>(&counter)), S_OK);
  LONG total = 0;
  EXPECT_EQ(counter->Add(20, &total), S_OK);
  EXPECT_EQ(counter->Add(22, &total), S_OK);
  EXPECT_EQ(total, 42);
  BSTR name = SysAllocString(u"Harbour Road");
  EXPECT_EQ(counter->put_Name(name), S_OK);
  SysFreeString(name);
  name = nullptr;
  EXPECT_EQ(counter->get_Name(&name), S_OK);
  EXPECT_EQ(std::u16string(name, SysStringLen(name)), u"Harbour Road");
  SysFreeString(name);

  counter->Release();
  EXPECT_EQ(object->Release(), 0u);
  EXPECT_EQ(com::LiveObjectCount(), start_);
  EXPECT_EQ(canUnloadNow_(), S_OK);
}

TEST_F(ComRuntime, UnregisteredServerIsGone) {
  ASSERT_EQ(registerServer_(), S_OK);
  ASSERT_EQ(unregisterServer_(), S_OK);
  EXPECT_FALSE(KeyExists(ClsidKey(CLSID_TestCounter)));
  EXPECT_FALSE(KeyExists(kTestCounterProgId));
  IUnknown* object = reinterpret_cast<IUnknown*>(&start_);
  EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(&object)),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromProgID(kTestCounterProgId, &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(unregisterServer_(), S_OK);  // nothing left to remove is no error
}

TEST_F(ComRuntime, UnregistrationLeavesAProgIdAnotherClassTookOver) {
  ASSERT_EQ(registerServer_(), S_OK);
  const CLSID newer = MakeGuid("{5A4E0D21-0B0C-4F55-9A0E-6C3D2B1A0F99}");
  WriteClassesRootText(std::u16string(kTestCounterProgId) + u"\\CLSID", nullptr, FormatGuidW(newer));
  ASSERT_EQ(unregisterServer_(), S_OK);
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromProgID(kTestCounterProgId, &clsid), S_OK);
  EXPECT_EQ(clsid, newer);
  EXPECT_FALSE(KeyExists(ClsidKey(CLSID_TestCounter)));
}

TEST_F(ComRuntime, CreationFailuresGiveTheirOwnCodes) {
  ASSERT_EQ(registerServer_(), S_OK);
  const std::u16string platformLibrary = Utf16(com::ModulePathOf(reinterpret_cast<const void*>(&CoInitializeEx)));
  ASSERT_FALSE(platformLibrary.empty());
  const struct {
    const char* what;
    CLSID clsid;
    std::u16string library;  // empty: leave the class as registerServer_ wrote it
    DWORD context;
    HRESULT expected;
  } cases[] = {
      {"missing host library", MakeGuid("{10000000-0000-0000-0000-000000000001}"),
       Utf16(root_) + u"/no-such-server.so", CLSCTX_ALL, CO_E_DLLNOTFOUND},
      {"missing phone library", MakeGuid("{10000000-0000-0000-0000-000000000002}"),
       u"\\Program Files\\Missing\\server.so", CLSCTX_ALL, CO_E_DLLNOTFOUND},
      {"library without DllGetClassObject", MakeGuid("{10000000-0000-0000-0000-000000000003}"), platformLibrary,
       CLSCTX_ALL, CO_E_ERRORINDLL},
      {"server that does not know the class", MakeGuid("{10000000-0000-0000-0000-000000000004}"),
       Utf16(COM_TEST_SERVER_PATH), CLSCTX_ALL, CLASS_E_CLASSNOTAVAILABLE},
      {"class not registered at all", MakeGuid("{10000000-0000-0000-0000-000000000005}"), u"", CLSCTX_ALL,
       REGDB_E_CLASSNOTREG},
      {"only out-of-process servers wanted", CLSID_TestCounter, u"", CLSCTX_LOCAL_SERVER, REGDB_E_CLASSNOTREG},
      {"object whose construction fails", CLSID_TestRefuser, u"", CLSCTX_INPROC_SERVER, E_ACCESSDENIED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (!c.library.empty()) RegisterLibrary(c.clsid, c.library);
    void* object = &start_;
    EXPECT_EQ(CoCreateInstance(c.clsid, nullptr, c.context, IID_IUnknown, &object), c.expected);
    EXPECT_EQ(object, nullptr);
  }
  EXPECT_EQ(com::LiveObjectCount(), start_);
}

TEST_F(ComRuntime, BrokenRegistrationsAreNotRegistrations) {
  const CLSID clsid = MakeGuid("{20000000-0000-0000-0000-000000000001}");
  auto expectNotRegistered = [&clsid] {
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown, &object), REGDB_E_CLASSNOTREG);
  };
  WriteClassesRootText(ClsidKey(clsid), nullptr, u"no InprocServer32 below");
  expectNotRegistered();
  WriteClassesRootText(ClsidKey(clsid) + u"\\InprocServer32", u"ThreadingModel", u"Free");
  expectNotRegistered();  // key without a default value
  RegisterLibrary(clsid, u"");
  expectNotRegistered();

  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, (ClsidKey(clsid) + u"\\InprocServer32").c_str(), 0, KEY_WRITE, &key),
            ERROR_SUCCESS);
  const DWORD number = 7;
  ASSERT_EQ(RegSetValueExW(key, nullptr, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number),
            ERROR_SUCCESS);
  RegCloseKey(key);
  expectNotRegistered();  // a number where the path should be
}

TEST_F(ComRuntime, PhonePathsResolveBelowTheDeviceRoot) {
  const auto folder = std::filesystem::path(root_) / "Program Files" / "Test Server";
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(COM_TEST_SERVER_PATH, folder / "comtestserver.so");
  // The phone's file system ignores case, and so does the mapping.
  RegisterLibrary(CLSID_TestCounter, u"\\program files\\TEST SERVER\\ComTestServer.so");
  ITestCounter* counter = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_ALL, IID_ITestCounter,
                             reinterpret_cast<void**>(&counter)),
            S_OK);
  LONG total = 0;
  EXPECT_EQ(counter->Add(5, &total), S_OK);
  EXPECT_EQ(total, 5);
  counter->Release();
  EXPECT_EQ(com::LiveObjectCount(), start_);
}

TEST_F(ComRuntime, AggregationIsRefused) {
  ASSERT_EQ(registerServer_(), S_OK);
  IUnknown* outer = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(&outer)),
            S_OK);
  void* inner = &start_;
  EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, outer, CLSCTX_ALL, IID_IUnknown, &inner), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(inner, nullptr);

  IClassFactory* factory = nullptr;
  ASSERT_EQ(CoGetClassObject(CLSID_TestCounter, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  inner = &start_;
  EXPECT_EQ(factory->CreateInstance(outer, IID_IUnknown, &inner), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(inner, nullptr);
  factory->Release();
  outer->Release();
  EXPECT_EQ(com::LiveObjectCount(), start_);
  EXPECT_EQ(canUnloadNow_(), S_OK);
}

TEST_F(ComRuntime, CreationNeedsComInitialisedOnTheCallingThread) {
  ASSERT_EQ(registerServer_(), S_OK);
  std::thread worker([] {
    void* object = &object;
    EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_ALL, IID_IUnknown, &object), CO_E_NOTINITIALIZED);
    EXPECT_EQ(object, nullptr);
    object = &object;
    EXPECT_EQ(CoGetClassObject(CLSID_TestCounter, CLSCTX_ALL, nullptr, IID_IClassFactory, &object),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(object, nullptr);

    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_ALL, IID_IUnknown, &object), S_OK);
    if (object != nullptr) static_cast<IUnknown*>(object)->Release();
    CoUninitialize();
    EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_ALL, IID_IUnknown, &object), S_OK);
    if (object != nullptr) static_cast<IUnknown*>(object)->Release();
    CoUninitialize();
    EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_ALL, IID_IUnknown, &object), CO_E_NOTINITIALIZED);
    CoUninitialize();  // one too many changes nothing
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    CoUninitialize();
  });
  worker.join();
  EXPECT_EQ(com::LiveObjectCount(), start_);
  EXPECT_EQ(CoInitializeEx(reinterpret_cast<void*>(1), COINIT_MULTITHREADED), E_INVALIDARG);
}

TEST_F(ComRuntime, BadProgIdsAreRefused) {
  ASSERT_EQ(registerServer_(), S_OK);
  WriteClassesRootText(u"Broken.Clsid\\CLSID", nullptr, u"{not a guid}");
  WriteClassesRootText(u"Unbraced.Clsid\\CLSID", nullptr, FormatGuidW(CLSID_TestCounter).substr(1, 36));
  const std::u16string unterminatedText(300, u'A');
  auto unterminated = std::make_unique<char16_t[]>(unterminatedText.size());
  std::copy(unterminatedText.begin(), unterminatedText.end(), unterminated.get());
  const struct {
    const char* what;
    const char16_t* progId;
    HRESULT expected;
  } cases[] = {
      {"empty", u"", CO_E_CLASSSTRING},
      {"not registered", u"No.Such.Class", CO_E_CLASSSTRING},
      {"malformed CLSID value", u"Broken.Clsid", CO_E_CLASSSTRING},
      {"CLSID value without braces", u"Unbraced.Clsid", CO_E_CLASSSTRING},
      {"reaches into another key", u"CLSID\\{2B9E5F10-7C44-4A1D-8E63-5D0F9A2B7C11}\\ProgID\\..", CO_E_CLASSSTRING},
      {"no terminator within reach", unterminated.get(), CO_E_CLASSSTRING},
      {"null", nullptr, E_INVALIDARG},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CLSID clsid = GUID_NULL;
    EXPECT_EQ(CLSIDFromProgID(c.progId, &clsid), c.expected);
    EXPECT_EQ(clsid, GUID_NULL);
  }
  EXPECT_EQ(CLSIDFromProgID(kTestCounterProgId, nullptr), E_INVALIDARG);
  EXPECT_EQ(OleRun(nullptr), E_INVALIDARG);
}

TEST_F(ComRuntime, FailedRegistrationLeavesNothingBehind) {
  const CLSID first = MakeGuid("{30000000-0000-0000-0000-000000000001}");
  const CLSID second = MakeGuid("{30000000-0000-0000-0000-000000000002}");
  const com::ClassEntry badProgId[] = {
      {&first, u"Good.First", u"First", u"Free", &CTestCounter::CreateInstance},
      {&second, u"Bad\\ProgId", u"Second", u"Free", &CTestCounter::CreateInstance},
  };
  EXPECT_EQ(com::ModuleRegisterServer(badProgId, 2, COM_TEST_SERVER_PATH), SELFREG_E_CLASS);
  EXPECT_FALSE(KeyExists(ClsidKey(first)));
  EXPECT_FALSE(KeyExists(u"Good.First"));
  EXPECT_FALSE(KeyExists(ClsidKey(second)));

  EXPECT_EQ(com::ModuleRegisterServer(badProgId, 1, ""), SELFREG_E_CLASS);
  EXPECT_FALSE(KeyExists(ClsidKey(first)));
  const com::ClassEntry noClsid[] = {{nullptr, u"No.Clsid", u"", u"Free", &CTestCounter::CreateInstance}};
  EXPECT_EQ(com::ModuleRegisterServer(noClsid, 1, COM_TEST_SERVER_PATH), SELFREG_E_CLASS);
  EXPECT_FALSE(KeyExists(u"No.Clsid"));

  EXPECT_EQ(com::ModuleRegisterServer(badProgId, 1, COM_TEST_SERVER_PATH), S_OK);
  EXPECT_TRUE(KeyExists(u"Good.First"));
  EXPECT_EQ(com::ModuleUnregisterServer(badProgId, 1), S_OK);
  EXPECT_FALSE(KeyExists(u"Good.First"));
}

}  // namespace
