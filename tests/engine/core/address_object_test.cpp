// An address object made where its street object's class is not registered:
// it is made all the same, keeps its name and position, and its street methods
// report failure instead of calling through a missing object.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/core/ValueObjects.h"
#include "platform/com/runtime.h"
#include "platform/os/device.h"
#include "platform/os/registry.h"
#include "tests/support/temp_folder.h"

namespace {

class AddressWithoutStreet : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = folder_.string();
    platform::SetDeviceRoot(root_);
    platform::registry::ReloadFromDisk();  // an empty registry: no class is known
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    liveAtStart_ = com::LiveObjectCount();
  }
  void TearDown() override {
    EXPECT_EQ(com::LiveObjectCount(), liveAtStart_) << "a COM object outlived the test";
    CoUninitialize();
    platform::registry::ReloadFromDisk();
  }

  testing_support::TempFolder folder_{"address"};
  std::string root_;
  long liveAtStart_ = 0;
};

TEST_F(AddressWithoutStreet, ReportsFailureFromItsStreetMethods) {
  CAddressObject* address = nullptr;
  ASSERT_EQ(CAddressObject::CreateObject(&address), S_OK);
  EXPECT_FALSE(address->HasStreet());

  BSTR text = SysAllocString(u"Marktplatz");
  EXPECT_EQ(address->SetMap(text), E_UNEXPECTED);
  EXPECT_EQ(address->SetCity(text), E_UNEXPECTED);
  EXPECT_EQ(address->SetStreet(text), E_UNEXPECTED);
  EXPECT_EQ(address->SetZipPostalcode(text), E_UNEXPECTED);
  EXPECT_EQ(address->SetName(text), S_OK);
  SysFreeString(text);

  using Getter = HRESULT (STDMETHODCALLTYPE IAddressObject::*)(BSTR*);
  for (Getter get : {&IAddressObject::GetCity, &IAddressObject::GetStreet, &IAddressObject::GetZipPostalcode}) {
    BSTR out = SysAllocString(u"stale");
    BSTR given = out;
    EXPECT_EQ((address->*get)(&out), E_UNEXPECTED);
    EXPECT_EQ(out, nullptr);
    SysFreeString(given);
    EXPECT_EQ((address->*get)(nullptr), E_POINTER);
  }
  IStreetObject* street = reinterpret_cast<IStreetObject*>(address);  // anything not null
  EXPECT_EQ(address->GetStreetObject(&street), E_UNEXPECTED);
  EXPECT_EQ(street, nullptr);

  // What does not need the street still works.
  BSTR name = nullptr;
  ASSERT_EQ(address->GetName(&name), S_OK);
  EXPECT_EQ(std::u16string(name, SysStringLen(name)), u"Marktplatz");
  SysFreeString(name);
  EXPECT_EQ(address->SetAddress(u"Marktplatz 1"), S_OK);
  BSTR whole = nullptr;
  ASSERT_EQ(address->GetAddress(&whole), S_OK);
  EXPECT_EQ(std::u16string(whole, SysStringLen(whole)), u"Marktplatz 1");
  SysFreeString(whole);
  EXPECT_EQ(address->Release(), 0u);
}

}  // namespace
