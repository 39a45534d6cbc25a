// The interface and identities of the small in-process server the COM tests
// load through the registry (com_test_server.cpp). The class behind the
// interface is in test_counter.h, which the test programs also use in-process.
#pragma once

#include "platform/com/oleauto.h"

// A dual interface: its own methods start at slot 7.
struct ITestCounter : IDispatch {
  // Adds `value` to the running total and answers the new total.
  virtual HRESULT STDMETHODCALLTYPE Add(LONG value, LONG* total) = 0;  // slot 7
  virtual HRESULT STDMETHODCALLTYPE get_Name(BSTR* name) = 0;          // slot 8
  virtual HRESULT STDMETHODCALLTYPE put_Name(BSTR name) = 0;           // slot 9
};
COM_DECLARE_IID(ITestCounter, "{6F0C2B4E-31A7-4D8E-9B52-0E7D14A3C9F1}");

inline constexpr CLSID CLSID_TestCounter = MakeGuid("{2B9E5F10-7C44-4A1D-8E63-5D0F9A2B7C11}");
inline constexpr const char16_t* kTestCounterProgId = u"PlatformTest.Counter";

// Registered without a ProgID; its FinalConstruct always fails with
// E_ACCESSDENIED, so creation must hand that error back and leak nothing.
inline constexpr CLSID CLSID_TestRefuser = MakeGuid("{2B9E5F10-7C44-4A1D-8E63-5D0F9A2B7C12}");
