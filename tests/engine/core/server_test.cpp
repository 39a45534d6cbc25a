// The navigation engine's value objects as the map engine meets them: a library
// found through the registry, objects created by ProgID and reached only
// through their interfaces. This test is not linked against the engine.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/core/VovLib.h"
#include "platform/com/runtime.h"
#include "platform/os/device.h"
#include "platform/os/module.h"
#include "platform/os/registry.h"
#include "platform/os/text.h"
#include "tests/platform/com_server_fixture.h"

namespace {

std::u16string Text(BSTR text) {
  std::u16string copy(text == nullptr ? u"" : text, SysStringLen(text));
  SysFreeString(text);
  return copy;
}

class VovServer : public ComServerTest {
 protected:
  VovServer() : ComServerTest(VOV_LIBRARY_PATH) {}
};

TEST_F(VovServer, RegistersEachValueObjectUnderItsProgIdAndUnregisters) {
  ASSERT_EQ(CallEntry("DllRegisterServer"), S_OK);
  // A second process would find the registration on disk.
  platform::registry::ReloadFromDisk();
  struct Row {
    const char16_t* progId;
    CLSID clsid;
  };
  const Row rows[] = {{u"VOV.AddressObject", CLSID_AddressObject},
                      {u"VOV.LocationObject", CLSID_LocationObject},
                      {u"VOV.POISearchConfigurationObject", CLSID_POISearchConfigurationObject}};
  for (const Row& row : rows) {
    SCOPED_TRACE(platform::Utf16ToUtf8(row.progId));
    CLSID found{};
    ASSERT_EQ(CLSIDFromProgID(row.progId, &found), S_OK);
    EXPECT_EQ(found, row.clsid);
  }
  ASSERT_EQ(CallEntry("DllUnregisterServer"), S_OK);
  IAddressObject* address = nullptr;
  EXPECT_EQ(Create(u"VOV.AddressObject", &address), CO_E_CLASSSTRING);
  EXPECT_EQ(address, nullptr);
}

// The map engine fills an address object for each cross street and reads its
// name back to skip streets it already listed.
TEST_F(VovServer, AddressObjectKeepsWhatTheMapEngineSets) {
  ASSERT_EQ(CallEntry("DllRegisterServer"), S_OK);
  IAddressObject* address = nullptr;
  ASSERT_EQ(Create(u"VOV.AddressObject", &address), S_OK);
  EXPECT_EQ(CallEntry("DllCanUnloadNow"), S_FALSE);

  BSTR name = SysAllocString(u"Friedrich-Engels-Ring");
  BSTR map = SysAllocString(u"Neubrandenburg");
  BSTR city = SysAllocString(u"Neubrandenburg");
  BSTR zip = SysAllocString(u"17033");
  EXPECT_EQ(address->SetName(name), S_OK);
  EXPECT_EQ(address->SetLatitude(53.5566), S_OK);
  EXPECT_EQ(address->SetLongitude(-13.2612), S_OK);
  EXPECT_EQ(address->SetMap(map), S_OK);
  EXPECT_EQ(address->SetStreet(name), S_OK);
  EXPECT_EQ(address->SetCity(city), S_OK);
  EXPECT_EQ(address->SetZipPostalcode(zip), S_OK);
  // The object keeps copies: the caller's texts may go.
  for (BSTR text : {name, map, city, zip}) SysFreeString(text);

  BSTR out = nullptr;
  ASSERT_EQ(address->GetName(&out), S_OK);
  EXPECT_EQ(Text(out), u"Friedrich-Engels-Ring");
  ASSERT_EQ(address->GetStreet(&out), S_OK);
  EXPECT_EQ(Text(out), u"Friedrich-Engels-Ring");
  ASSERT_EQ(address->GetCity(&out), S_OK);
  EXPECT_EQ(Text(out), u"Neubrandenburg");
  ASSERT_EQ(address->GetZipPostalcode(&out), S_OK);
  EXPECT_EQ(Text(out), u"17033");
  double latitude = 0.0;
  double longitude = 0.0;
  EXPECT_EQ(address->GetLatitude(&latitude), S_OK);
  EXPECT_EQ(address->GetLongitude(&longitude), S_OK);
  EXPECT_EQ(latitude, 53.5566);
  EXPECT_EQ(longitude, -13.2612);

  EXPECT_EQ(address->GetName(nullptr), E_POINTER);
  EXPECT_EQ(address->GetLatitude(nullptr), E_POINTER);
  // A null text is the empty text.
  EXPECT_EQ(address->SetName(nullptr), S_OK);
  ASSERT_EQ(address->GetName(&out), S_OK);
  EXPECT_EQ(Text(out), u"");

  EXPECT_EQ(address->Release(), 0u);
  EXPECT_EQ(CallEntry("DllCanUnloadNow"), S_OK);
}

TEST_F(VovServer, LocationAndSearchConfigurationAnswerTheirSlots) {
  ASSERT_EQ(CallEntry("DllRegisterServer"), S_OK);
  ILocationObject* location = nullptr;
  ASSERT_EQ(Create(u"VOV.LocationObject", &location), S_OK);
  double value = 1.0;
  EXPECT_EQ(location->GetLatitude(&value), S_OK);
  EXPECT_EQ(value, 0.0);
  EXPECT_EQ(location->SetLatitude(-33.25), S_OK);
  EXPECT_EQ(location->SetLongitude(151.5), S_OK);
  EXPECT_EQ(location->GetLatitude(&value), S_OK);
  EXPECT_EQ(value, -33.25);
  EXPECT_EQ(location->GetLongitude(&value), S_OK);
  EXPECT_EQ(value, 151.5);
  EXPECT_EQ(location->GetLongitude(nullptr), E_POINTER);
  EXPECT_EQ(location->Release(), 0u);

  IPOISearchConfigurationObject* config = nullptr;
  ASSERT_EQ(Create(u"VOV.POISearchConfigurationObject", &config), S_OK);
  LONG results = 0;
  SHORT time = 0, category = -5, subCategory = -5, heading = 0;
  VARIANT_BOOL privateOnly = 7, publicOnly = 7, privateAsWell = 7;
  double distance = 0.0;
  Directions direction = DirectionLeft;
  BSTR text = nullptr;
  EXPECT_EQ(config->GetMaxSearchResults(&results), S_OK);
  EXPECT_EQ(config->GetMaxSearchTime(&time), S_OK);
  EXPECT_EQ(config->GetCategoryNumber(&category), S_OK);
  EXPECT_EQ(config->GetSubCategoryNumber(&subCategory), S_OK);
  EXPECT_EQ(config->GetUserPrivateOnly(&privateOnly), S_OK);
  EXPECT_EQ(config->GetUserPublicOnly(&publicOnly), S_OK);
  EXPECT_EQ(config->IncludeUserPrivateAsWell(&privateAsWell), S_OK);
  EXPECT_EQ(config->GetDistanceStarting(&distance), S_OK);
  EXPECT_EQ(config->GetCurrentHeadingDegrees(&heading), S_OK);
  EXPECT_EQ(config->GetSearchDirection(&direction), S_OK);
  ASSERT_EQ(config->GetMainSearchString(&text), S_OK);
  // A new search: 25 results, 10 seconds, any category, no start distance, no
  // heading, every direction, no text.
  EXPECT_EQ(results, 25);
  EXPECT_EQ(time, 10);
  EXPECT_EQ(category, 0);
  EXPECT_EQ(subCategory, 0);
  EXPECT_EQ(privateOnly, VARIANT_FALSE);
  EXPECT_EQ(publicOnly, VARIANT_FALSE);
  EXPECT_EQ(privateAsWell, VARIANT_FALSE);
  EXPECT_EQ(distance, -1.0);
  EXPECT_EQ(heading, -1);
  EXPECT_EQ(direction, DirectionAll);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(Text(text), u"");
  EXPECT_EQ(config->GetMaxSearchResults(nullptr), E_POINTER);
  EXPECT_EQ(config->GetMainSearchString(nullptr), E_POINTER);
  EXPECT_EQ(config->Release(), 0u);
}

}  // namespace
