// The one counting class of the COM tests: ITestCounter (a running total and a
// name) with ISupportErrorInfo beside it, so QueryInterface has two interfaces
// to choose from. The test server module registers it; the test programs also
// make it in-process, for values that hold interface references.
#pragma once

#include "platform/com/atl.h"
#include "tests/platform/com_test_server.h"

namespace comtest {

// What the counter does, for the class `Self` that the COM helper makes and
// destroys. CTestCounter below is the counter; a variant that the helper must
// make as itself (one whose constructor throws) derives from this with its own
// name, and one that only adds to the counter derives from CTestCounter.
template <class Self>
class TestCounterOf : public com::ComClass<Self, ITestCounter, ISupportErrorInfo> {
 public:
  ~TestCounterOf() override { SysFreeString(name_); }

  HRESULT STDMETHODCALLTYPE Add(LONG value, LONG* total) override {
    if (total == nullptr) return E_POINTER;
    total_ += value;
    *total = total_;
    return S_OK;
  }
  // Null until a name is put.
  HRESULT STDMETHODCALLTYPE get_Name(BSTR* name) override {
    if (name == nullptr) return E_POINTER;
    *name = nullptr;
    if (name_ == nullptr) return S_OK;
    *name = SysAllocStringLen(name_, SysStringLen(name_));
    return *name != nullptr ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE put_Name(BSTR name) override {
    return SysReAllocString(&name_, name == nullptr ? u"" : name) ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
    return riid == IID_ITestCounter ? S_OK : S_FALSE;
  }

 private:
  LONG total_ = 0;
  BSTR name_ = nullptr;
};

// Not final: a test derives from it to see that the last Release destroys the
// most derived object.
class CTestCounter : public TestCounterOf<CTestCounter> {};

}  // namespace comtest
