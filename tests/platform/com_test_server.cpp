// A small in-process COM server for the runtime tests, written the way the
// system's servers are: classes on com::ComClass, a class-object map, and the
// four exported entry points from COM_SERVER_ENTRY_POINTS.
#include "platform/com/atl.h"
#include "tests/platform/com_test_server.h"

namespace {

class CTestCounter final : public com::ComClass<CTestCounter, ITestCounter> {
 public:
  ~CTestCounter() override { SysFreeString(name_); }

  HRESULT STDMETHODCALLTYPE Add(LONG value, LONG* total) override {
    if (total == nullptr) return E_POINTER;
    total_ += value;
    *total = total_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Name(BSTR* name) override {
    if (name == nullptr) return E_POINTER;
    *name = name_ == nullptr ? nullptr : SysAllocStringLen(name_, SysStringLen(name_));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Name(BSTR name) override {
    return SysReAllocString(&name_, name == nullptr ? u"" : name) ? S_OK : E_OUTOFMEMORY;
  }

 private:
  LONG total_ = 0;
  BSTR name_ = nullptr;
};

class CTestRefuser final : public com::ComClass<CTestRefuser, IUnknown> {
 public:
  HRESULT FinalConstruct() { return E_ACCESSDENIED; }
};

const com::ClassEntry kClasses[] = {
    {&CLSID_TestCounter, kTestCounterProgId, u"Test Counter Class", u"Free", &CTestCounter::CreateInstance},
    {&CLSID_TestRefuser, nullptr, u"Test Refuser Class", u"Free", &CTestRefuser::CreateInstance},
};

}  // namespace

COM_SERVER_ENTRY_POINTS(kClasses)
