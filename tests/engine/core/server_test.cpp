// The navigation engine's value objects as the map engine meets them: a library
// found through the registry, objects created by ProgID and reached only
// through their interfaces. This test is not linked against the engine.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "typelib/VovLib.h"
#include "platform/com/runtime.h"
#include "platform/os/device.h"
#include "platform/os/module.h"
#include "platform/os/registry.h"
#include "platform/os/text.h"
#include "tests/support/com_server_fixture.h"

namespace {

std::u16string Text(BSTR text) {
  std::u16string copy(text == nullptr ? u"" : text, SysStringLen(text));
  SysFreeString(text);
  return copy;
}

class VovServer : public ComServerTest {
 public:
  using ComServerTest::Create;

 protected:
  VovServer() : ComServerTest(VOV_LIBRARY_PATH) {}
};

// One numeric or flag property of interface I, read and written through its
// slots; every value travels as a double, which holds each of them exactly.
// Each row names the value of a new object, then writes two values in turn and
// names what must be read back.
struct Written {
  double value;
  double read;
};

template <class I>
struct NumberProperty {
  const char* name;
  std::function<HRESULT(I*, double)> set;
  std::function<HRESULT(I*, double*)> get;  // a null out pointer is passed on as null
  double fresh;
  Written first;
  Written second;
};

template <class T, class I, class Setter, class Getter>
NumberProperty<I> Number(const char* name, Setter setter, Getter getter, double fresh, Written first,
                         Written second) {
  return {name, [setter](I* object, double value) { return (object->*setter)(static_cast<T>(value)); },
          [getter](I* object, double* out) {
            if (out == nullptr) return (object->*getter)(nullptr);
            T value{};
            HRESULT hr = (object->*getter)(&value);
            *out = static_cast<double>(value);
            return hr;
          },
          fresh, first, second};
}

// Reads the values of a new object, then writes every property of the table
// before reading any back, once with the first values and once with the
// second, so that two properties sharing one field show up. Null out pointers
// answer E_POINTER.
template <class I>
void ExpectNumbersRoundTrip(I* object, const std::vector<NumberProperty<I>>& table) {
  for (const NumberProperty<I>& row : table) {
    double read = -12345.0;
    EXPECT_EQ(row.get(object, &read), S_OK) << row.name;
    EXPECT_EQ(read, row.fresh) << row.name << " of a new object";
  }
  for (Written NumberProperty<I>::*round : {&NumberProperty<I>::first, &NumberProperty<I>::second}) {
    for (const NumberProperty<I>& row : table) EXPECT_EQ(row.set(object, (row.*round).value), S_OK) << row.name;
    for (const NumberProperty<I>& row : table) {
      double read = -12345.0;
      EXPECT_EQ(row.get(object, &read), S_OK) << row.name;
      EXPECT_EQ(read, (row.*round).read) << row.name;
    }
  }
  for (const NumberProperty<I>& row : table) EXPECT_EQ(row.get(object, nullptr), E_POINTER) << row.name;
}

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
                      {u"VOV.POISearchConfigurationObject", CLSID_POISearchConfigurationObject},
                      {u"VOV.POIObject", CLSID_POIObject},
                      {u"VOV.POICategoryObject", CLSID_POICategoryObject},
                      {u"VOV.POISubCategoryObject", CLSID_POISubCategoryObject},
                      {u"VOV.SystemSettingsObject", CLSID_SystemSettingsObject},
                      {u"VOV.GPSSettingsObject", CLSID_GPSSettingsObject},
                      {u"VOV.LookaroundSettingsObject", CLSID_LookaroundSettingsObject},
                      {u"VOV.RouteSettingsObject", CLSID_RouteSettingsObject},
                      {u"VOV.BluetoothDeviceObject", CLSID_BluetoothDeviceObject}};
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

// A client measures between two locations it created, through the slots of
// the type library: a kilometre north-east in Neubrandenburg.
TEST_F(VovServer, LocationMeasuresDistanceAndBearingThroughItsSlots) {
  ASSERT_EQ(CallEntry("DllRegisterServer"), S_OK);
  ILocationObject* here = nullptr;
  ILocationObject* there = nullptr;
  ASSERT_EQ(Create(u"VOV.LocationObject", &here), S_OK);
  ASSERT_EQ(Create(u"VOV.LocationObject", &there), S_OK);
  EXPECT_EQ(here->SetLatitudeDegreesMinutesSeconds(53, 33, 0.0), S_OK);
  EXPECT_EQ(here->SetLongitudeDegreesMinutesSeconds(13, 15, 0.0), S_OK);
  EXPECT_EQ(there->SetLatitude(53.5566), S_OK);
  EXPECT_EQ(there->SetLongitude(13.2612), S_OK);
  EXPECT_EQ(there->SetLongitudeHemisphere(West), S_OK);
  EXPECT_EQ(there->SetLongitudeHemisphere(East), S_OK);

  LatitudeHemisphere hemisphere = South;
  SHORT minutes = 0;
  EXPECT_EQ(there->GetLatitudeHemisphere(&hemisphere), S_OK);
  EXPECT_EQ(hemisphere, North);
  EXPECT_EQ(there->GetLongitudeMinutes(&minutes), S_OK);
  EXPECT_EQ(minutes, 15);
  LONG feet = 0;
  SHORT bearing = 0;
  EXPECT_EQ(here->GetDistance(there, &feet), S_OK);
  EXPECT_EQ(here->GetBearingDegrees(there, &bearing), S_OK);
  // 3416.8 feet at 45.2 degrees, by the haversine and atan2 bearing.
  EXPECT_EQ(feet, 3416);
  EXPECT_EQ(bearing, 45);

  // In words: the engine makes its Utility (settings and language) for that,
  // which it keeps as its own state: no object in circulation is left when
  // the caller has released its own (the fixture counts them).
  BSTR said = nullptr;
  EXPECT_EQ(here->GetDistanceAndHeading(0, there, &said), S_OK);
  EXPECT_EQ(Text(said), u"0.64 miles ahead to the right");  // Text frees it
  EXPECT_EQ(here->Release(), 0u);
  EXPECT_EQ(there->Release(), 0u);
}

struct TextProperty {
  const char16_t* name;
  HRESULT (IPOIObject::*set)(BSTR);
  HRESULT (IPOIObject::*get)(BSTR*);
};

// The texts of a point, its name and description (kept by the inner location
// object) among them.
const TextProperty kPoiTexts[] = {
    {u"Name", &IPOIObject::SetName, &IPOIObject::GetName},
    {u"Description", &IPOIObject::SetDescription, &IPOIObject::GetDescription},
    {u"Author", &IPOIObject::SetAuthor, &IPOIObject::GetAuthor},
    {u"Date", &IPOIObject::SetDate, &IPOIObject::GetDate},
    {u"ThirdPartyId", &IPOIObject::SetThirdPartyId, &IPOIObject::GetThirdPartyId},
    {u"Tags", &IPOIObject::SetTags, &IPOIObject::GetTags},
    {u"HoursOfOperation", &IPOIObject::SetHoursOfOperation, &IPOIObject::GetHoursOfOperation},
    {u"AddressNumber", &IPOIObject::SetAddressNumber, &IPOIObject::GetAddressNumber},
    {u"Street", &IPOIObject::SetStreet, &IPOIObject::GetStreet},
    {u"City", &IPOIObject::SetCity, &IPOIObject::GetCity},
    {u"State", &IPOIObject::SetState, &IPOIObject::GetState},
    {u"Country", &IPOIObject::SetCountry, &IPOIObject::GetCountry},
    {u"ZipCode", &IPOIObject::SetZipCode, &IPOIObject::GetZipCode},
    {u"PhoneNumber", &IPOIObject::SetPhoneNumber, &IPOIObject::GetPhoneNumber},
    {u"FaxNumber", &IPOIObject::SetFaxNumber, &IPOIObject::GetFaxNumber},
    {u"WebAddress", &IPOIObject::SetWebAddress, &IPOIObject::GetWebAddress},
    {u"Email", &IPOIObject::SetEmail, &IPOIObject::GetEmail},
    {u"MediaFile", &IPOIObject::SetMediaFile, &IPOIObject::GetMediaFile},
    {u"PDBFile", &IPOIObject::SetPDBFile, &IPOIObject::GetPDBFile},
};

std::u16string ReadText(IPOIObject* poi, const TextProperty& row) {
  BSTR out = nullptr;
  EXPECT_EQ((poi->*row.get)(&out), S_OK);
  EXPECT_NE(out, nullptr);
  return Text(out);
}

VARIANT_BOOL HasMedia(IPOIObject* poi) {
  VARIANT_BOOL has = 7;
  EXPECT_EQ(poi->HasMediaFile(&has), S_OK);
  return has;
}

// What the database server writes into a point from a record, read back field
// by field: each text lands in its own field, a copy of the caller's.
TEST_F(VovServer, POIObjectStartsEmptyAndKeepsEachTextOfItsRecord) {
  ASSERT_EQ(CallEntry("DllRegisterServer"), S_OK);
  IPOIObject* poi = nullptr;
  ASSERT_EQ(Create(u"VOV.POIObject", &poi), S_OK);
  for (const TextProperty& row : kPoiTexts) {
    EXPECT_EQ(ReadText(poi, row), u"") << platform::Utf16ToUtf8(row.name);
  }
  EXPECT_EQ(HasMedia(poi), VARIANT_FALSE);

  auto valueOf = [](const TextProperty& row) { return std::u16string(u"«") + row.name + u"» Straße 7"; };
  for (const TextProperty& row : kPoiTexts) {
    BSTR text = SysAllocString(valueOf(row).c_str());
    EXPECT_EQ((poi->*row.set)(text), S_OK);
    SysFreeString(text);
  }
  for (const TextProperty& row : kPoiTexts) {
    EXPECT_EQ(ReadText(poi, row), valueOf(row)) << platform::Utf16ToUtf8(row.name);
    EXPECT_EQ((poi->*row.get)(nullptr), E_POINTER) << platform::Utf16ToUtf8(row.name);
  }
  EXPECT_EQ(HasMedia(poi), VARIANT_TRUE);
  EXPECT_EQ(poi->HasMediaFile(nullptr), E_POINTER);

  // A null text empties a field, the media file's flag with it.
  for (const TextProperty& row : kPoiTexts) {
    EXPECT_EQ((poi->*row.set)(nullptr), S_OK);
    EXPECT_EQ(ReadText(poi, row), u"") << platform::Utf16ToUtf8(row.name);
  }
  EXPECT_EQ(HasMedia(poi), VARIANT_FALSE);
  EXPECT_EQ(poi->Release(), 0u);
}

// Numbers and flags start empty (key and found index -1, the rest 0 or false)
// and each keeps its own value; flags come back as VARIANT_TRUE whatever
// non-zero value was written.
TEST_F(VovServer, POIObjectStartsEmptyAndKeepsItsNumbersAndFlags) {
  ASSERT_EQ(CallEntry("DllRegisterServer"), S_OK);
  IPOIObject* poi = nullptr;
  ASSERT_EQ(Create(u"VOV.POIObject", &poi), S_OK);
  using P = IPOIObject;
  const std::vector<NumberProperty<P>> table = {
      Number<LONG, P>("Key", &P::SetKey, &P::GetKey, -1, {4711, 4711}, {-2147483647 - 1, -2147483647 - 1}),
      Number<LONG, P>("FoundIndex", &P::SetFoundIndex, &P::GetFoundIndex, -1, {12, 12}, {0, 0}),
      Number<SHORT, P>("CategoryNumber", &P::SetCategoryNumber, &P::GetCategoryNumber, 0, {18, 18}, {-32768, -32768}),
      Number<SHORT, P>("SubCategoryNumber", &P::SetSubCategoryNumber, &P::GetSubCategoryNumber, 0, {2, 2},
                       {32767, 32767}),
      Number<VARIANT_BOOL, P>("IsUserPOI", &P::SetIsUserPOI, &P::IsUserPOI, 0, {5, VARIANT_TRUE}, {0, 0}),
      Number<VARIANT_BOOL, P>("IsPrivate", &P::SetIsPrivate, &P::IsPrivate, 0, {0, 0}, {1, VARIANT_TRUE}),
      Number<VARIANT_BOOL, P>("CanModifyRMFFields", &P::SetCanModifyRMFFields, &P::CanModifyRMFFields, 0,
                              {VARIANT_TRUE, VARIANT_TRUE}, {0, 0}),
      Number<double, P>("LatitudeOffset", &P::SetLatitudeOffset, &P::GetLatitudeOffset, 0, {0.25, 0.25},
                        {-1e-7, -1e-7}),
      Number<double, P>("LongitudeOffset", &P::SetLongitudeOffset, &P::GetLongitudeOffset, 0, {-0.5, -0.5},
                        {3.75, 3.75}),
      Number<double, P>("Latitude", &P::SetLatitude, &P::GetLatitude, 0, {53.5566, 53.5566}, {-33.25, -33.25}),
      Number<double, P>("Longitude", &P::SetLongitude, &P::GetLongitude, 0, {13.2612, 13.2612}, {0, 0}),
      Number<SideOfStreet, P>("SideOfStreet", &P::SetSideOfStreet, &P::GetSideOfStreet, UnknownSide,
                              {RightSide, RightSide}, {LeftSide, LeftSide}),
  };
  ExpectNumbersRoundTrip(poi, table);
  EXPECT_EQ(poi->Release(), 0u);
}

VARIANT_BOOL Validity(IPOIObject* poi) {
  VARIANT_BOOL valid = 7;
  EXPECT_EQ(poi->IsValid(&valid), S_OK);
  return valid;
}

// Name, description and position live in the point's inner location object:
// a copy handed out by GetLocation holds them, and SetLocation takes them from
// another location object.
TEST_F(VovServer, POIObjectKeepsItsPositionInItsInnerLocation) {
  ASSERT_EQ(CallEntry("DllRegisterServer"), S_OK);
  IPOIObject* poi = nullptr;
  ASSERT_EQ(Create(u"VOV.POIObject", &poi), S_OK);
  EXPECT_EQ(Validity(poi), VARIANT_FALSE);

  // Only (0, 0) means no position; a valid one answers 1, not VARIANT_TRUE.
  struct Case {
    double latitude;
    double longitude;
    VARIANT_BOOL valid;
  };
  for (const Case& c : {Case{0, 10, 1}, Case{-33.5, 0, 1}, Case{0, 0, 0}, Case{0.000001, -0.000001, 1}}) {
    EXPECT_EQ(poi->SetLatitude(c.latitude), S_OK);
    EXPECT_EQ(poi->SetLongitude(c.longitude), S_OK);
    EXPECT_EQ(Validity(poi), c.valid) << c.latitude << ", " << c.longitude;
  }
  EXPECT_EQ(poi->IsValid(nullptr), E_POINTER);

  BSTR name = SysAllocString(u"Marienkirche");
  BSTR description = SysAllocString(u"Konzertkirche");
  EXPECT_EQ(poi->SetName(name), S_OK);
  EXPECT_EQ(poi->SetDescription(description), S_OK);
  EXPECT_EQ(poi->SetLatitude(53.5574), S_OK);
  EXPECT_EQ(poi->SetLongitude(13.2606), S_OK);
  SysFreeString(name);
  SysFreeString(description);

  ILocationObject* copy = nullptr;
  ASSERT_EQ(poi->GetLocation(&copy), S_OK);
  ASSERT_NE(copy, nullptr);
  // The copy is a location of its own: changing it leaves the point alone.
  EXPECT_EQ(copy->SetLatitude(1.0), S_OK);
  double latitude = 0.0, longitude = 0.0;
  EXPECT_EQ(poi->GetLatitude(&latitude), S_OK);
  EXPECT_EQ(latitude, 53.5574);
  EXPECT_EQ(copy->SetLatitude(53.5574), S_OK);

  IPOIObject* other = nullptr;
  ASSERT_EQ(Create(u"VOV.POIObject", &other), S_OK);
  ASSERT_EQ(other->SetLocation(copy), S_OK);
  EXPECT_EQ(copy->Release(), 0u);
  BSTR out = nullptr;
  ASSERT_EQ(other->GetName(&out), S_OK);
  EXPECT_EQ(Text(out), u"Marienkirche");
  ASSERT_EQ(other->GetDescription(&out), S_OK);
  EXPECT_EQ(Text(out), u"Konzertkirche");
  EXPECT_EQ(other->GetLatitude(&latitude), S_OK);
  EXPECT_EQ(other->GetLongitude(&longitude), S_OK);
  EXPECT_EQ(latitude, 53.5574);
  EXPECT_EQ(longitude, 13.2606);
  EXPECT_EQ(Validity(other), 1);

  EXPECT_EQ(other->SetLocation(nullptr), E_POINTER);
  EXPECT_EQ(other->GetLocation(nullptr), E_POINTER);
  EXPECT_EQ(other->GetLatitude(nullptr), E_POINTER);
  EXPECT_EQ(other->Release(), 0u);
  EXPECT_EQ(poi->Release(), 0u);
}

// A point holds exactly one reference to each of its category objects: Get
// adds one for the caller, Set takes one on the new object and gives up the
// old, also when the object set is the one held; a null object is refused.
// Reference counts are read from AddRef/Release, which answer the new count.
template <class I>
void ExpectHeldObjectSwap(IPOIObject* poi, I* fresh, HRESULT (IPOIObject::*get)(I**),
                          HRESULT (IPOIObject::*set)(I*)) {
  I* original = nullptr;
  ASSERT_EQ((poi->*get)(&original), S_OK);
  ASSERT_NE(original, nullptr);
  EXPECT_EQ(original->AddRef(), 3u);  // the point, this caller, this AddRef
  EXPECT_EQ(original->Release(), 2u);

  EXPECT_EQ((poi->*set)(fresh), S_OK);
  EXPECT_EQ(original->Release(), 0u);  // the point let its old object go
  EXPECT_EQ(fresh->AddRef(), 3u);      // the caller, the point, this AddRef
  EXPECT_EQ(fresh->Release(), 2u);

  EXPECT_EQ((poi->*set)(fresh), S_OK);  // setting the held object again
  EXPECT_EQ((poi->*set)(nullptr), E_POINTER);
  I* held = nullptr;
  ASSERT_EQ((poi->*get)(&held), S_OK);
  EXPECT_EQ(held, fresh);
  EXPECT_EQ(held->Release(), 2u);
  EXPECT_EQ((poi->*get)(nullptr), E_POINTER);
}

TEST_F(VovServer, POIObjectHoldsOneReferenceToEachCategoryObject) {
  ASSERT_EQ(CallEntry("DllRegisterServer"), S_OK);
  IPOIObject* poi = nullptr;
  IPOICategoryObject* category = nullptr;
  IPOISubCategoryObject* subCategory = nullptr;
  ASSERT_EQ(Create(u"VOV.POIObject", &poi), S_OK);
  ASSERT_EQ(Create(u"VOV.POICategoryObject", &category), S_OK);
  ASSERT_EQ(Create(u"VOV.POISubCategoryObject", &subCategory), S_OK);
  {
    SCOPED_TRACE("category");
    ExpectHeldObjectSwap(poi, category, &IPOIObject::GetCategory, &IPOIObject::SetCategory);
  }
  {
    SCOPED_TRACE("subcategory");
    ExpectHeldObjectSwap(poi, subCategory, &IPOIObject::GetSubCategory, &IPOIObject::SetSubCategory);
  }
  // The point's own numbers are fields of their own, apart from the objects'.
  EXPECT_EQ(category->SetCategoryNumber(4), S_OK);
  SHORT number = -1;
  EXPECT_EQ(poi->GetCategoryNumber(&number), S_OK);
  EXPECT_EQ(number, 0);

  EXPECT_EQ(poi->Release(), 0u);
  EXPECT_EQ(category->Release(), 0u);
  EXPECT_EQ(subCategory->Release(), 0u);
}

// The category objects a new point holds and those made through the registry
// start empty (number 0, no name) and keep their numbers.
TEST_F(VovServer, CategoryObjectsStartEmptyAndKeepTheirNumbers) {
  ASSERT_EQ(CallEntry("DllRegisterServer"), S_OK);
  IPOIObject* poi = nullptr;
  ASSERT_EQ(Create(u"VOV.POIObject", &poi), S_OK);
  IPOICategoryObject* categories[2] = {};
  IPOISubCategoryObject* subCategories[2] = {};
  ASSERT_EQ(poi->GetCategory(&categories[0]), S_OK);
  ASSERT_EQ(poi->GetSubCategory(&subCategories[0]), S_OK);
  ASSERT_EQ(Create(u"VOV.POICategoryObject", &categories[1]), S_OK);
  ASSERT_EQ(Create(u"VOV.POISubCategoryObject", &subCategories[1]), S_OK);
  EXPECT_EQ(poi->Release(), 0u);

  for (IPOICategoryObject* category : categories) {
    BSTR name = nullptr;
    ASSERT_EQ(category->GetCategoryName(&name), S_OK);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(Text(name), u"");
    EXPECT_EQ(category->GetCategoryName(nullptr), E_POINTER);
    using C = IPOICategoryObject;
    ExpectNumbersRoundTrip<C>(
        category, {Number<SHORT, C>("CategoryNumber", &C::SetCategoryNumber, &C::GetCategoryNumber, 0, {18, 18},
                                    {-1, -1})});
    EXPECT_EQ(category->Release(), 0u);
  }
  for (IPOISubCategoryObject* subCategory : subCategories) {
    BSTR name = nullptr;
    ASSERT_EQ(subCategory->GetSubCategoryName(&name), S_OK);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(Text(name), u"");
    EXPECT_EQ(subCategory->GetSubCategoryName(nullptr), E_POINTER);
    using S = IPOISubCategoryObject;
    ExpectNumbersRoundTrip<S>(
        subCategory,
        {Number<SHORT, S>("MainCategoryNumber", &S::SetMainCategoryNumber, &S::GetMainCategoryNumber, 0, {18, 18},
                          {3, 3}),
         Number<SHORT, S>("SubCategoryNumber", &S::SetSubCategoryNumber, &S::GetSubCategoryNumber, 0, {1, 1},
                          {2, 2})});
    EXPECT_EQ(subCategory->Release(), 0u);
  }
}

// What the user program's search dialog writes into a search configuration,
// read back through the getters.
TEST_F(VovServer, SearchConfigurationKeepsWhatItsSettersStore) {
  ASSERT_EQ(CallEntry("DllRegisterServer"), S_OK);
  IPOISearchConfigurationObject* config = nullptr;
  ASSERT_EQ(Create(u"VOV.POISearchConfigurationObject", &config), S_OK);
  using C = IPOISearchConfigurationObject;
  const std::vector<NumberProperty<C>> table = {
      Number<LONG, C>("MaxSearchResults", &C::SetMaxSearchResults, &C::GetMaxSearchResults, 25, {100, 100}, {1, 1}),
      Number<SHORT, C>("CategoryNumber", &C::SetCategoryNumber, &C::GetCategoryNumber, 0, {18, 18}, {4, 4}),
      Number<SHORT, C>("SubCategoryNumber", &C::SetSubCategoryNumber, &C::GetSubCategoryNumber, 0, {1, 1}, {2, 2}),
      Number<SHORT, C>("MaxSearchTime", &C::SetMaxSearchTime, &C::GetMaxSearchTime, 10, {30, 30}, {0, 0}),
      Number<VARIANT_BOOL, C>("UserPrivateOnly", &C::SetUserPrivateOnly, &C::GetUserPrivateOnly, 0,
                              {1, VARIANT_TRUE}, {0, 0}),
      Number<VARIANT_BOOL, C>("UserPublicOnly", &C::SetUserPublicOnly, &C::GetUserPublicOnly, 0, {0, 0},
                              {VARIANT_TRUE, VARIANT_TRUE}),
      Number<double, C>("DistanceStarting", &C::SetDistanceStarting, &C::GetDistanceStarting, -1, {0.75, 0.75},
                        {-1, -1}),
      Number<SHORT, C>("CurrentHeadingDegrees", &C::SetCurrentHeadingDegrees, &C::GetCurrentHeadingDegrees, -1,
                       {359, 359}, {0, 0}),
      Number<Directions, C>("SearchDirection", &C::SetSearchDirection, &C::GetSearchDirection, DirectionAll,
                            {DirectionLeft, DirectionLeft}, {DirectionAll, DirectionAll}),
      Number<VARIANT_BOOL, C>("IncludeUserPrivateAsWell", &C::SetIncludeUserPrivateAsWell,
                              &C::IncludeUserPrivateAsWell, 0, {-2, VARIANT_TRUE}, {0, 0}),
  };
  ExpectNumbersRoundTrip(config, table);
  EXPECT_EQ(config->Release(), 0u);
}

// ---- further value objects ------------------------------------------------------------

// What a getter of a new object reads: a number (every numeric and flag type
// fits a double exactly) or a text.
struct Read {
  Read() = default;
  Read(double number) : value(number) {}
  Read(std::u16string text) : value(std::move(text)) {}
  bool operator==(const Read&) const = default;
  std::variant<double, std::u16string> value;
};
void PrintTo(const Read& read, std::ostream* out) {
  if (const double* number = std::get_if<double>(&read.value)) {
    *out << *number;
  } else {
    *out << '"' << platform::Utf16ToUtf8(std::get<std::u16string>(read.value)) << '"';
  }
}

struct DefaultRow {
  const char16_t* progId;
  const char* property;
  std::function<HRESULT(IUnknown*, Read*)> read;  // a null out pointer is passed on as null
  Read expected;
};

// Reads getter `get` of interface I from an object reached through IUnknown.
template <class I, class T>
std::function<HRESULT(IUnknown*, Read*)> Getter(HRESULT (STDMETHODCALLTYPE I::*get)(T*)) {
  return [get](IUnknown* unknown, Read* out) -> HRESULT {
    I* object = nullptr;
    HRESULT hr = unknown->QueryInterface(IidOf<I>(), reinterpret_cast<void**>(&object));
    if (FAILED(hr)) return hr;
    if (out == nullptr) {
      hr = (object->*get)(nullptr);
    } else if constexpr (std::is_same_v<T, BSTR>) {
      BSTR text = nullptr;
      hr = (object->*get)(&text);
      if (text == nullptr) hr = SUCCEEDED(hr) ? E_UNEXPECTED : hr;  // a text is never handed out null
      *out = Text(text);
    } else {
      T value{};
      hr = (object->*get)(&value);
      *out = static_cast<double>(value);
    }
    object->Release();
    return hr;
  };
}

// Every value object made through the registry by its ProgID, read through its
// getters before anything is set.
TEST_F(VovServer, EveryValueObjectStartsWithItsDefaults) {
  ASSERT_EQ(CallEntry("DllRegisterServer"), S_OK);
  using Str = IStreetObject;
  using Asc = IAddressSearchConfigurationObject;
  using Dst = IDestinationObject;
  using Wai = IWhereAmIObject;
  using Vrt = IVirtualObject;
  using Wpt = IWaypointObject;
  using Usr = IWaypointUserObject;
  using Tl = ITalkingLightObject;
  using Dsc = IDescriptionConfigurationObject;
  using Pdc = IPOIDescriptionConfigurationObject;
  using Wcf = IWaypointConfigurationObject;
  using Tim = IGPSTimeObject;
  using Psc = IPOISearchConfigurationObject;
  using Adr = IAddressObject;
  using Btd = IBluetoothDeviceObject;
  const std::u16string none;
  const DefaultRow rows[] = {
      {u"VOV.AddressObject", "Address", Getter(&Adr::GetAddress), none},
      {u"VOV.AddressObject", "Street", Getter(&Adr::GetStreet), none},
      {u"VOV.AddressObject", "IsValid", Getter(&Adr::IsValid), 0},
      {u"VOV.StreetObject", "City", Getter(&Str::GetCity), none},
      {u"VOV.StreetObject", "Map", Getter(&Str::GetMap), none},
      {u"VOV.StreetObject", "Street", Getter(&Str::GetStreet), none},
      {u"VOV.StreetObject", "ZipPostalcode", Getter(&Str::GetZipPostalcode), none},
      {u"VOV.AddressSearchConfigurationObject", "SearchName", Getter(&Asc::GetSearchName), none},
      {u"VOV.AddressSearchConfigurationObject", "LastSearchIndex", Getter(&Asc::GetLastSearchIndex), -1},
      {u"VOV.AddressSearchConfigurationObject", "StartsWith", Getter(&Asc::GetStartsWith), VARIANT_TRUE},
      {u"VOV.AddressSearchConfigurationObject", "StreetAddressNumber", Getter(&Asc::GetStreetAddressNumber), none},
      {u"VOV.AddressSearchConfigurationObject", "ResultsType", Getter(&Asc::GetResultsType), 0},
      {u"VOV.AddressSearchConfigurationObject", "AddressRangeIndicator", Getter(&Asc::GetAddressRangeIndicator),
       std::u16string(u" - ")},
      {u"VOV.AddressSearchConfigurationObject", "MaxItemsToReturn", Getter(&Asc::GetMaxItemsToReturn), -1},
      {u"VOV.DestinationObject", "SideOfStreet", Getter(&Dst::GetSideOfStreet), UnknownSide},
      {u"VOV.DestinationObject", "Name", Getter(&Dst::GetName), none},
      {u"VOV.DestinationObject", "IsValid", Getter(&Dst::IsValid), 0},
      {u"VOV.WhereAmIObject", "City", Getter(&Wai::GetCity), none},
      {u"VOV.WhereAmIObject", "StreetNameDetailed", Getter(&Wai::GetStreetNameDetailed), none},
      {u"VOV.WhereAmIObject", "HouseNumber", Getter(&Wai::GetHouseNumber), none},
      {u"VOV.WhereAmIObject", "RoadSpeedLimit", Getter(&Wai::GetRoadSpeedLimit), -1},
      {u"VOV.WhereAmIObject", "NumberOfLanes", Getter(&Wai::GetNumberOfLanes), -1},
      {u"VOV.WhereAmIObject", "AddressLeftFrom", Getter(&Wai::GetAddressLeftFrom), -1},
      {u"VOV.WhereAmIObject", "AddressRightTo", Getter(&Wai::GetAddressRightTo), -1},
      {u"VOV.WhereAmIObject", "AddressRightToAlphanumeric", Getter(&Wai::GetAddressRightToAlphanumeric), none},
      {u"VOV.WhereAmIObject", "Description", Getter(&Wai::GetDescription), none},
      {u"VOV.WhereAmIObject", "Latitude", Getter(&Wai::GetLatitude), 0},
      {u"VOV.VirtualObject", "CurrentStreetName", Getter(&Vrt::GetCurrentStreetName), none},
      {u"VOV.VirtualObject", "HeadingDegrees", Getter(&Vrt::GetHeadingDegrees), -1},
      {u"VOV.VirtualObject", "SideOfStreet", Getter(&Vrt::GetSideOfStreet), UnknownSide},
      {u"VOV.VirtualObject", "MustCrossStreet", Getter(&Vrt::GetMustCrossStreet), VARIANT_FALSE},
      {u"VOV.VirtualObject", "IsValid", Getter(&Vrt::IsValid), 0},
      {u"VOV.WaypointObject", "Index", Getter(&Wpt::GetIndex), -1},
      {u"VOV.WaypointObject", "StreetNameForward", Getter(&Wpt::GetStreetNameForward), none},
      {u"VOV.WaypointObject", "IsTurningPoint", Getter(&Wpt::IsTurningPoint), VARIANT_FALSE},
      {u"VOV.WaypointObject", "IsUserPoint", Getter(&Wpt::IsUserPoint), VARIANT_FALSE},
      {u"VOV.WaypointObject", "TurnCompleteHeadingDegrees", Getter(&Wpt::GetTurnCompleteHeadingDegrees), -1},
      {u"VOV.WaypointObject", "IsRouteEndPoint", Getter(&Wpt::IsRouteEndPoint), VARIANT_FALSE},
      {u"VOV.WaypointObject", "IsRouteBeginningPoint", Getter(&Wpt::IsRouteBeginningPoint), VARIANT_FALSE},
      {u"VOV.WaypointObject", "NumberOfLanes", Getter(&Wpt::GetNumberOfLanes), -1},
      {u"VOV.WaypointObject", "StreetOrientationForward", Getter(&Wpt::GetStreetOrientationForward), -1},
      {u"VOV.WaypointObject", "StreetOrientationReverse", Getter(&Wpt::GetStreetOrientationReverse), -1},
      {u"VOV.WaypointObject", "DistanceFromLastWaypoint", Getter(&Wpt::GetDistanceFromLastWaypoint), 0},
      {u"VOV.WaypointObject", "StreetSpeed", Getter(&Wpt::GetStreetSpeed), 0},
      {u"VOV.WaypointObject", "FeatureIndex", Getter(&Wpt::GetFeatureIndex), -1},
      {u"VOV.WaypointObject", "CrossStreet", Getter(&Wpt::GetCrossStreet), none},
      {u"VOV.WaypointObject", "SideOfStreet", Getter(&Wpt::GetSideOfStreet), 0},
      {u"VOV.WaypointUserObject", "TurningInfo", Getter(&Usr::GetTurningInfo), NoTurn},
      {u"VOV.WaypointUserObject", "HeadingWhenCreated", Getter(&Usr::GetHeadingWhenCreated), -1},
      {u"VOV.WaypointUserObject", "StreetNameForward", Getter(&Usr::GetStreetNameForward), none},
      {u"VOV.TalkingLightObject", "Id", Getter(&Tl::GetId), none},
      {u"VOV.TalkingLightObject", "Amplitude", Getter(&Tl::GetAmplitude), 0},
      {u"VOV.TalkingLightObject", "RawData", Getter(&Tl::InternalGetRawData),
       std::u16string(u"<TL><id></id><am>0</am></TL>")},
      {u"VOV.DescriptionConfigurationObject", "IncludeDescriptionDetails",
       Getter(&Dsc::GetIncludeDescriptionDetails), VARIANT_FALSE},
      {u"VOV.DescriptionConfigurationObject", "IncludeCompassDirection", Getter(&Dsc::GetIncludeCompassDirection),
       VARIANT_FALSE},
      {u"VOV.DescriptionConfigurationObject", "DirectionInformationFirst",
       Getter(&Dsc::GetDirectionInformationFirst), VARIANT_FALSE},
      {u"VOV.POIDescriptionConfigurationObject", "DescriptionDynamic", Getter(&Pdc::GetDescriptionDynamic),
       VARIANT_TRUE},
      {u"VOV.POIDescriptionConfigurationObject", "NonDynamicIncludeAddress",
       Getter(&Pdc::GetNonDynamicIncludeAddress), VARIANT_FALSE},
      {u"VOV.POIDescriptionConfigurationObject", "NonDynamicIncludeCategoryAndSubCategory",
       Getter(&Pdc::GetNonDynamicIncludeCategoryAndSubCategory), VARIANT_FALSE},
      {u"VOV.POIDescriptionConfigurationObject", "NonDynamicIncludeDistance",
       Getter(&Pdc::GetNonDynamicIncludeDistance), VARIANT_FALSE},
      {u"VOV.POIDescriptionConfigurationObject", "IncludeTags", Getter(&Pdc::GetIncludeTags), VARIANT_TRUE},
      {u"VOV.WaypointConfigurationObject", "IncludeDistance", Getter(&Wcf::GetIncludeDistance), 1},
      {u"VOV.WaypointConfigurationObject", "IncludeETA", Getter(&Wcf::GetIncludeETA), 1},
      {u"VOV.WaypointConfigurationObject", "IncludeHeading", Getter(&Wcf::GetIncludeHeading), 1},
      {u"VOV.WaypointConfigurationObject", "IncludeTurningInstructions",
       Getter(&Wcf::GetIncludeTurningInstructions), 1},
      {u"VOV.WaypointConfigurationObject", "IncludeUserWaypointDescriptions",
       Getter(&Wcf::GetIncludeUserWaypointDescriptions), 1},
      {u"VOV.WaypointConfigurationObject", "Heading", Getter(&Wcf::GetHeading), -1},
      {u"VOV.WaypointConfigurationObject", "Speed", Getter(&Wcf::GetSpeed), -1},
      {u"VOV.WaypointConfigurationObject", "Mode", Getter(&Wcf::GetMode), GPSMode},
      {u"VOV.WaypointConfigurationObject", "DistanceNextWP", Getter(&Wcf::GetDistanceNextWP), -1},
      {u"VOV.GPSTimeObject", "Year", Getter(&Tim::GetYear), 0},
      {u"VOV.GPSTimeObject", "Month", Getter(&Tim::GetMonth), 0},
      {u"VOV.GPSTimeObject", "Day", Getter(&Tim::GetDay), 0},
      {u"VOV.GPSTimeObject", "Hour", Getter(&Tim::GetHour), 0},
      {u"VOV.GPSTimeObject", "Minutes", Getter(&Tim::GetMinutes), 0},
      {u"VOV.GPSTimeObject", "Seconds", Getter(&Tim::GetSeconds), 0},
      {u"VOV.GPSTimeObject", "IsValid", Getter(&Tim::IsValid), VARIANT_FALSE},
      {u"VOV.POISearchConfigurationObject", "NewSearch", Getter(&Psc::IsNewSearch), VARIANT_TRUE},
      {u"VOV.POISearchConfigurationObject", "StartsWithSearch", Getter(&Psc::GetStartsWithSearch), VARIANT_FALSE},
      {u"VOV.POISearchConfigurationObject", "WholeWord", Getter(&Psc::GetWholeWord), VARIANT_FALSE},
      {u"VOV.POISearchConfigurationObject", "MainSearchField", Getter(&Psc::GetMainSearchField), POI_FIELD_NAME},
      {u"VOV.BluetoothDeviceObject", "Name", Getter(&Btd::GetName), none},
      {u"VOV.BluetoothDeviceObject", "PortName", Getter(&Btd::GetPortName), none},
      {u"VOV.BluetoothDeviceObject", "PortNumber", Getter(&Btd::GetPortNumber), -1},
      {u"VOV.BluetoothDeviceObject", "IsActive", Getter(&Btd::IsActive), 0},
  };
  for (const DefaultRow& row : rows) {
    SCOPED_TRACE(platform::Utf16ToUtf8(row.progId) + " " + row.property);
    IUnknown* object = nullptr;
    ASSERT_EQ(Create(row.progId, &object), S_OK);
    Read read;
    EXPECT_EQ(row.read(object, &read), S_OK);
    EXPECT_EQ(read, row.expected);
    EXPECT_EQ(row.read(object, nullptr), E_POINTER);
    EXPECT_EQ(object->Release(), 0u);
  }
}

// A waypoint's spoken name comes with the route descriptions; until then the
// waypoint says so and hands out no text.
TEST_F(VovServer, WaypointNameIsNotThereYet) {
  ASSERT_EQ(CallEntry("DllRegisterServer"), S_OK);
  IWaypointObject* waypoint = nullptr;
  ASSERT_EQ(Create(u"VOV.WaypointObject", &waypoint), S_OK);
  BSTR text = SysAllocString(u"stale");
  BSTR caller = text;
  EXPECT_EQ(waypoint->GetWaypointName(GPSMode, &text), E_NOTIMPL);
  EXPECT_EQ(text, nullptr);
  SysFreeString(caller);
  EXPECT_EQ(waypoint->Release(), 0u);
}

TEST_F(VovServer, VirtualHeadingIsStoredAsMagnitudeModulo360ExceptNone) {
  ASSERT_EQ(CallEntry("DllRegisterServer"), S_OK);
  IVirtualObject* position = nullptr;
  ASSERT_EQ(Create(u"VOV.VirtualObject", &position), S_OK);
  struct Case {
    SHORT written;
    SHORT stored;
  };
  const Case cases[] = {{-30, 30},  {725, 5},   {-1, -1},   {0, 0},        {359, 359},  {360, 0},
                        {-360, 0},  {-2, 2},    {-725, 5},  {32767, 7},    {-32768, 8}, {-1, -1}};
  for (const Case& c : cases) {
    EXPECT_EQ(position->SetHeading(c.written), S_OK);
    SHORT stored = 999;
    EXPECT_EQ(position->GetHeadingDegrees(&stored), S_OK);
    EXPECT_EQ(stored, c.stored) << "written " << c.written;
  }
  EXPECT_EQ(position->Release(), 0u);
}

std::u16string RawData(ITalkingLightObject* light) {
  BSTR raw = nullptr;
  EXPECT_EQ(light->InternalGetRawData(&raw), S_OK);
  return Text(raw);
}

// A beacon's raw text sets id and amplitude and is reproduced exactly. A text
// that is not a whole beacon record changes nothing, however it is broken.
TEST_F(VovServer, TalkingLightReadsItsRawTextAndRefusesBrokenOnes) {
  ASSERT_EQ(CallEntry("DllRegisterServer"), S_OK);
  ITalkingLightObject* light = nullptr;
  ASSERT_EQ(Create(u"VOV.TalkingLightObject", &light), S_OK);
  const std::u16string record = u"<TL><id>A7</id><am>12</am></TL>";
  BSTR raw = SysAllocStringLen(record.data(), static_cast<UINT>(record.size()));
  EXPECT_EQ(light->InternalSetFromRawData(raw), S_OK);
  SysFreeString(raw);
  BSTR id = nullptr;
  ASSERT_EQ(light->GetId(&id), S_OK);
  EXPECT_EQ(Text(id), u"A7");
  LONG amplitude = 0;
  ASSERT_EQ(light->GetAmplitude(&amplitude), S_OK);
  EXPECT_EQ(amplitude, 12);
  EXPECT_EQ(RawData(light), record);

  const char16_t* broken[] = {
      u"",
      u"<TL>",
      u"TL><id>B</id><am>3</am></TL>",
      u"<tl><id>B</id><am>3</am></TL>",
      u" <TL><id>B</id><am>3</am></TL>",
      u"<TL><id>B</id></TL>",
      u"<TL><id>B<am>3</am></TL>",
      u"<TL><id>B</id><am>3</TL>",
      u"<TL><id>B</id><am>3",
      u"<TL><id>B",
      u"<TL><am>3</am><id>B</id></TL>",
      u"<TL><id>B</id><am></am></TL>",
      u"<TL><id>B</id><am>x3</am></TL>",
      u"<TL><id>B</id><am>3x</am></TL>",
      u"<TL><id>B</id><am> 3</am></TL>",
      u"<TL><id>B</id><am>1-2</am></TL>",
      u"<TL><id>B</id><am>-</am></TL>",
      u"<TL><id>B</id><am>2147483648</am></TL>",
      u"<TL><id>B</id><am>99999999999999999999</am></TL>",
  };
  for (const char16_t* text : broken) {
    BSTR rawText = SysAllocString(text);
    EXPECT_EQ(light->InternalSetFromRawData(rawText), S_FALSE) << platform::Utf16ToUtf8(text);
    SysFreeString(rawText);
    EXPECT_EQ(RawData(light), record) << platform::Utf16ToUtf8(text);
  }
  EXPECT_EQ(light->InternalSetFromRawData(nullptr), S_FALSE);
  EXPECT_EQ(RawData(light), record);

  // The limits of a 32-bit amplitude, an empty id and an id with markup-like
  // text all come back as written.
  for (const char16_t* text : {u"<TL><id>Gate 4 <north></id><am>-2147483648</am></TL>",
                               u"<TL><id></id><am>2147483647</am></TL>", u"<TL><id>x</id><am>0</am></TL>"}) {
    BSTR rawText = SysAllocString(text);
    EXPECT_EQ(light->InternalSetFromRawData(rawText), S_OK) << platform::Utf16ToUtf8(text);
    SysFreeString(rawText);
    EXPECT_EQ(RawData(light), text);
  }
  EXPECT_EQ(light->InternalGetRawData(nullptr), E_POINTER);
  EXPECT_EQ(light->Release(), 0u);
}

ILocationObject* NewLocation(VovServer& test, double latitude, double longitude) {
  ILocationObject* location = nullptr;
  EXPECT_EQ(test.Create(u"VOV.LocationObject", &location), S_OK);
  if (location != nullptr) {
    location->SetLatitude(latitude);
    location->SetLongitude(longitude);
  }
  return location;
}

double LatitudeOf(IWaypointUserObject* waypoint) {
  double latitude = -999;
  EXPECT_EQ(waypoint->GetLatitude(&latitude), S_OK);
  return latitude;
}

// The location given to a user waypoint is shared, not copied; a second mark
// without a heading keeps the first place and turn.
TEST_F(VovServer, UserWaypointSharesItsLocationAndKeepsTheFirstWithoutHeading) {
  ASSERT_EQ(CallEntry("DllRegisterServer"), S_OK);
  IWaypointUserObject* waypoint = nullptr;
  ASSERT_EQ(Create(u"VOV.WaypointUserObject", &waypoint), S_OK);
  EXPECT_EQ(waypoint->CreateUserWaypoint(nullptr, LeftTurn, 90), E_POINTER);

  ILocationObject* first = NewLocation(*this, 53.55, 13.26);
  ILocationObject* second = NewLocation(*this, 53.60, 13.30);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(waypoint->CreateUserWaypoint(first, LeftTurn, -1), S_OK);
  EXPECT_EQ(waypoint->CreateUserWaypoint(second, RightTurn, -1), S_FALSE);
  EXPECT_EQ(LatitudeOf(waypoint), 53.55);
  WaypointTurnType turn = NoTurn;
  EXPECT_EQ(waypoint->GetTurningInfo(&turn), S_OK);
  EXPECT_EQ(turn, LeftTurn);

  // Shared: a change to the caller's object moves the waypoint.
  EXPECT_EQ(first->SetLatitude(53.56), S_OK);
  EXPECT_EQ(LatitudeOf(waypoint), 53.56);
  EXPECT_EQ(first->AddRef(), 3u);  // the test, the waypoint, this AddRef
  EXPECT_EQ(first->Release(), 2u);

  // With a heading the new mark replaces the old, which the waypoint lets go.
  EXPECT_EQ(waypoint->CreateUserWaypoint(second, StraightThrough, 270), S_OK);
  EXPECT_EQ(first->Release(), 0u);
  EXPECT_EQ(LatitudeOf(waypoint), 53.60);
  SHORT heading = 0;
  EXPECT_EQ(waypoint->GetHeadingWhenCreated(&heading), S_OK);
  EXPECT_EQ(heading, 270);
  EXPECT_EQ(waypoint->GetTurningInfo(&turn), S_OK);
  EXPECT_EQ(turn, StraightThrough);
  EXPECT_EQ(waypoint->Release(), 0u);
  EXPECT_EQ(second->Release(), 0u);
}

TEST_F(VovServer, GPSTimeIsValidWhenAnyFieldIsSet) {
  ASSERT_EQ(CallEntry("DllRegisterServer"), S_OK);
  using T = IGPSTimeObject;
  const std::pair<HRESULT (STDMETHODCALLTYPE T::*)(SHORT), SHORT> fields[] = {
      {&T::SetYear, 2009}, {&T::SetMonth, 12}, {&T::SetDay, 31}, {&T::SetHour, 23}, {&T::SetMinutes, 59},
      {&T::SetSeconds, -1}};
  for (const auto& [set, value] : fields) {
    IGPSTimeObject* time = nullptr;
    ASSERT_EQ(Create(u"VOV.GPSTimeObject", &time), S_OK);
    VARIANT_BOOL valid = 7;
    EXPECT_EQ((time->*set)(value), S_OK);
    EXPECT_EQ(time->IsValid(&valid), S_OK);
    EXPECT_EQ(valid, VARIANT_TRUE) << value;
    EXPECT_EQ((time->*set)(0), S_OK);
    EXPECT_EQ(time->IsValid(&valid), S_OK);
    EXPECT_EQ(valid, VARIANT_FALSE) << value;
    EXPECT_EQ(time->Release(), 0u);
  }
}

// A place-carrying object keeps name, description and position in its inner
// location object: SetLocation copies them in, GetLocation hands out a copy,
// and the single getters read the same values.
template <class I>
void ExpectPlaceKeptInInnerLocation(VovServer& test, const char16_t* progId) {
  SCOPED_TRACE(platform::Utf16ToUtf8(progId));
  I* object = nullptr;
  ASSERT_EQ(test.Create(progId, &object), S_OK);
  ILocationObject* source = NewLocation(test, -33.8568, 151.2153);
  ASSERT_NE(source, nullptr);
  BSTR name = SysAllocString(u"Opera House");
  BSTR description = SysAllocString(u"Bennelong Point");
  EXPECT_EQ(source->SetName(name), S_OK);
  EXPECT_EQ(source->SetDescription(description), S_OK);
  SysFreeString(name);
  SysFreeString(description);

  EXPECT_EQ(object->SetLocation(source), S_OK);
  EXPECT_EQ(source->Release(), 0u);  // copied, not held
  BSTR text = nullptr;
  ASSERT_EQ(object->GetName(&text), S_OK);
  EXPECT_EQ(Text(text), u"Opera House");
  ASSERT_EQ(object->GetDescription(&text), S_OK);
  EXPECT_EQ(Text(text), u"Bennelong Point");
  VARIANT_BOOL valid = 7;
  EXPECT_EQ(object->IsValid(&valid), S_OK);
  EXPECT_EQ(valid, 1);

  ILocationObject* copy = nullptr;
  ASSERT_EQ(object->GetLocation(&copy), S_OK);
  ASSERT_NE(copy, nullptr);
  double latitude = 0, longitude = 0;
  EXPECT_EQ(copy->GetLatitude(&latitude), S_OK);
  EXPECT_EQ(copy->GetLongitude(&longitude), S_OK);
  EXPECT_EQ(latitude, -33.8568);
  EXPECT_EQ(longitude, 151.2153);
  EXPECT_EQ(copy->SetLatitude(1.0), S_OK);  // the copy is the caller's own
  EXPECT_EQ(copy->Release(), 0u);
  EXPECT_EQ(object->GetLatitude(&latitude), S_OK);
  EXPECT_EQ(latitude, -33.8568);

  BSTR renamed = SysAllocString(u"Sydney Opera House");
  EXPECT_EQ(object->SetName(renamed), S_OK);
  SysFreeString(renamed);
  ASSERT_EQ(object->GetName(&text), S_OK);
  EXPECT_EQ(Text(text), u"Sydney Opera House");
  EXPECT_EQ(object->SetLocation(nullptr), E_POINTER);
  EXPECT_EQ(object->GetLocation(nullptr), E_POINTER);
  EXPECT_EQ(object->IsValid(nullptr), E_POINTER);
  EXPECT_EQ(object->Release(), 0u);
}

TEST_F(VovServer, PlaceObjectsKeepTheirPlaceInTheirInnerLocation) {
  ASSERT_EQ(CallEntry("DllRegisterServer"), S_OK);
  ExpectPlaceKeptInInnerLocation<IDestinationObject>(*this, u"VOV.DestinationObject");
  ExpectPlaceKeptInInnerLocation<IVirtualObject>(*this, u"VOV.VirtualObject");
  ExpectPlaceKeptInInnerLocation<IWaypointObject>(*this, u"VOV.WaypointObject");
  ExpectPlaceKeptInInnerLocation<IWaypointUserObject>(*this, u"VOV.WaypointUserObject");
  ExpectPlaceKeptInInnerLocation<ITalkingLightObject>(*this, u"VOV.TalkingLightObject");
}

// The map, city, street and postal code of an address live in its street
// object: what is set through one is read through the other.
TEST_F(VovServer, AddressKeepsItsStreetInItsStreetObject) {
  ASSERT_EQ(CallEntry("DllRegisterServer"), S_OK);
  IAddressObject* address = nullptr;
  ASSERT_EQ(Create(u"VOV.AddressObject", &address), S_OK);
  IStreetObject* street = nullptr;
  ASSERT_EQ(address->GetStreetObject(&street), S_OK);
  ASSERT_NE(street, nullptr);
  EXPECT_EQ(address->GetStreetObject(nullptr), E_POINTER);

  struct Field {
    const char* name;
    HRESULT (STDMETHODCALLTYPE IAddressObject::*setOnAddress)(BSTR);
    HRESULT (STDMETHODCALLTYPE IStreetObject::*getOnStreet)(BSTR*);
    HRESULT (STDMETHODCALLTYPE IStreetObject::*setOnStreet)(BSTR);
    HRESULT (STDMETHODCALLTYPE IAddressObject::*getOnAddress)(BSTR*);  // null: the address has no getter
  };
  const Field fields[] = {
      {"Map", &IAddressObject::SetMap, &IStreetObject::GetMap, &IStreetObject::SetMap, nullptr},
      {"City", &IAddressObject::SetCity, &IStreetObject::GetCity, &IStreetObject::SetCity, &IAddressObject::GetCity},
      {"Street", &IAddressObject::SetStreet, &IStreetObject::GetStreet, &IStreetObject::SetStreet,
       &IAddressObject::GetStreet},
      {"ZipPostalcode", &IAddressObject::SetZipPostalcode, &IStreetObject::GetZipPostalcode,
       &IStreetObject::SetZipPostalcode, &IAddressObject::GetZipPostalcode},
  };
  for (const Field& field : fields) {
    SCOPED_TRACE(field.name);
    const std::u16string viaAddress = platform::Utf8ToUtf16(std::string(field.name) + " via address");
    const std::u16string viaStreet = platform::Utf8ToUtf16(std::string(field.name) + " via street");
    BSTR text = SysAllocString(viaAddress.c_str());
    EXPECT_EQ((address->*field.setOnAddress)(text), S_OK);
    SysFreeString(text);
    BSTR out = nullptr;
    ASSERT_EQ((street->*field.getOnStreet)(&out), S_OK);
    EXPECT_EQ(Text(out), viaAddress);
    text = SysAllocString(viaStreet.c_str());
    EXPECT_EQ((street->*field.setOnStreet)(text), S_OK);
    SysFreeString(text);
    if (field.getOnAddress != nullptr) {
      ASSERT_EQ((address->*field.getOnAddress)(&out), S_OK);
      EXPECT_EQ(Text(out), viaStreet);
      EXPECT_EQ((address->*field.getOnAddress)(nullptr), E_POINTER);
    }
  }
  // The street object outlives the address while the caller holds it.
  EXPECT_EQ(address->Release(), 0u);
  BSTR out = nullptr;
  ASSERT_EQ(street->GetCity(&out), S_OK);
  EXPECT_EQ(Text(out), u"City via street");
  EXPECT_EQ(street->Release(), 0u);
}

using MainFieldSetter = HRESULT (STDMETHODCALLTYPE IPOIObject::*)(BSTR);

// The search configuration reads and writes the categories of its search
// object, and takes the search text from the object's first filled text field.
TEST_F(VovServer, SearchConfigurationWorksOnItsSearchObject) {
  ASSERT_EQ(CallEntry("DllRegisterServer"), S_OK);
  IPOISearchConfigurationObject* config = nullptr;
  ASSERT_EQ(Create(u"VOV.POISearchConfigurationObject", &config), S_OK);
  IPOIObject* original = nullptr;
  ASSERT_EQ(config->GetPOISearchObject(&original), S_OK);
  ASSERT_NE(original, nullptr);
  EXPECT_EQ(config->SetCategoryNumber(6), S_OK);
  EXPECT_EQ(config->SetSubCategoryNumber(3), S_OK);
  SHORT number = 0;
  EXPECT_EQ(original->GetCategoryNumber(&number), S_OK);
  EXPECT_EQ(number, 6);
  EXPECT_EQ(original->GetSubCategoryNumber(&number), S_OK);
  EXPECT_EQ(number, 3);

  // Another search object: the configuration now answers with its numbers and
  // category objects, and lets the first one go.
  IPOIObject* search = nullptr;
  ASSERT_EQ(Create(u"VOV.POIObject", &search), S_OK);
  EXPECT_EQ(search->SetCategoryNumber(18), S_OK);
  EXPECT_EQ(config->SetPOISearchObject(search), S_OK);
  EXPECT_EQ(config->SetPOISearchObject(nullptr), E_POINTER);
  EXPECT_EQ(original->Release(), 0u);
  EXPECT_EQ(config->GetCategoryNumber(&number), S_OK);
  EXPECT_EQ(number, 18);
  IPOICategoryObject* category = nullptr;
  IPOICategoryObject* held = nullptr;
  ASSERT_EQ(config->GetPOICategory(&category), S_OK);
  ASSERT_EQ(search->GetCategory(&held), S_OK);
  EXPECT_EQ(category, held);
  held->Release();
  category->Release();
  IPOISubCategoryObject* subCategory = nullptr;
  ASSERT_EQ(Create(u"VOV.POISubCategoryObject", &subCategory), S_OK);
  EXPECT_EQ(config->SetPOISubCategory(subCategory), S_OK);
  IPOISubCategoryObject* heldSub = nullptr;
  ASSERT_EQ(search->GetSubCategory(&heldSub), S_OK);
  EXPECT_EQ(heldSub, subCategory);
  heldSub->Release();
  subCategory->Release();

  // The fields in the order they are tried. Each round fills one field and
  // every field after it, so the first filled one must win.
  struct Row {
    MainFieldSetter set;
    POIFields field;
  };
  const Row order[] = {
      {&IPOIObject::SetName, POI_FIELD_NAME},
      {&IPOIObject::SetDescription, POI_FIELD_DESCRIPTION},
      {&IPOIObject::SetAuthor, POI_FIELD_AUTHOR},
      {&IPOIObject::SetTags, POI_FIELD_TAGS},
      {&IPOIObject::SetAddressNumber, POI_FIELD_ADDRESS},
      {&IPOIObject::SetStreet, POI_FIELD_ADDRESS},
      {&IPOIObject::SetCity, POI_FIELD_ADDRESS},
      {&IPOIObject::SetState, POI_FIELD_ADDRESS},
      {&IPOIObject::SetCountry, POI_FIELD_ADDRESS},
      {&IPOIObject::SetZipCode, POI_FIELD_ADDRESS},
      {&IPOIObject::SetHoursOfOperation, POI_FIELD_HOURS},
      {&IPOIObject::SetPhoneNumber, POI_FIELD_PHONE},
      {&IPOIObject::SetFaxNumber, POI_FIELD_FAX},
      {&IPOIObject::SetWebAddress, POI_FIELD_WEB},
      {&IPOIObject::SetEmail, POI_FIELD_EMAIL},
      {&IPOIObject::SetMediaFile, POI_FIELD_MEDIA},
  };
  auto textOf = [](std::size_t i) { return u"text " + platform::Utf8ToUtf16(std::to_string(i)); };
  for (std::size_t first = 0; first <= std::size(order); ++first) {
    SCOPED_TRACE(first);
    for (std::size_t i = 0; i < std::size(order); ++i) {
      BSTR text = i >= first ? SysAllocString(textOf(i).c_str()) : nullptr;
      EXPECT_EQ((search->*order[i].set)(text), S_OK);
      SysFreeString(text);
    }
    BSTR text = nullptr;
    POIFields field = POI_FIELD_MEDIA;
    ASSERT_EQ(config->GetMainSearchString(&text), S_OK);
    ASSERT_EQ(config->GetMainSearchField(&field), S_OK);
    if (first < std::size(order)) {
      EXPECT_EQ(Text(text), textOf(first));
      EXPECT_EQ(field, order[first].field);
    } else {
      EXPECT_EQ(Text(text), u"");
      EXPECT_EQ(field, POI_FIELD_NAME);
    }
  }
  EXPECT_EQ(config->GetMainSearchString(nullptr), E_POINTER);
  EXPECT_EQ(config->Release(), 0u);
  EXPECT_EQ(search->Release(), 0u);
}

// Settings objects made by the user program start with the defaults of their
// files and keep what their setters store.
TEST_F(VovServer, SettingsObjectsStartWithTheirDefaults) {
  ASSERT_EQ(CallEntry("DllRegisterServer"), S_OK);
  ISystemSettingsObject* system = nullptr;
  IGPSSettingsObject* gps = nullptr;
  ILookaroundSettingsObject* lookaround = nullptr;
  IRouteSettingsObject* route = nullptr;
  ASSERT_EQ(Create(u"VOV.SystemSettingsObject", &system), S_OK);
  ASSERT_EQ(Create(u"VOV.GPSSettingsObject", &gps), S_OK);
  ASSERT_EQ(Create(u"VOV.LookaroundSettingsObject", &lookaround), S_OK);
  ASSERT_EQ(Create(u"VOV.RouteSettingsObject", &route), S_OK);

  LONG distance = 0;
  EXPECT_EQ(system->GetArrivalDistance(Imperial, &distance), S_OK);
  EXPECT_EQ(distance, 50);
  EXPECT_EQ(system->GetArrivedNearThreshold(Metric, &distance), S_OK);
  EXPECT_EQ(distance, 4);  // 12 ft
  Units units = Metric;
  EXPECT_EQ(system->GetUnits(&units), S_OK);
  EXPECT_EQ(units, Imperial);
  BSTR text = nullptr;
  EXPECT_EQ(system->GetMapPOIDirectory(&text), S_OK);
  EXPECT_EQ(Text(text), u"\\CompactFlash\\maps");
  VARIANT_BOOL flag = VARIANT_FALSE;
  EXPECT_EQ(system->GetSearchOtherMapDirectories(&flag), S_OK);
  EXPECT_EQ(flag, VARIANT_TRUE);

  LONG baud = 0;
  EXPECT_EQ(gps->GetGPSBaudRate(&baud), S_OK);
  EXPECT_EQ(baud, 4800);
  EXPECT_EQ(gps->GetGPSPortName(&text), S_OK);
  EXPECT_EQ(Text(text), u"BSP");
  double height = 0;
  EXPECT_EQ(gps->GetInertialReceiverUserHeight(&height), S_OK);
  EXPECT_EQ(height, 1.803);
  EXPECT_EQ(gps->GetGPSBaudRate(nullptr), E_POINTER);

  LONG interval = 0;
  EXPECT_EQ(lookaround->GetLookaroundReportingInterval(&interval), S_OK);
  EXPECT_EQ(interval, 12);
  EXPECT_EQ(lookaround->SetLookaroundReportingInterval(2), S_OK);
  EXPECT_EQ(lookaround->GetLookaroundReportingInterval(&interval), S_OK);
  EXPECT_EQ(interval, 5);
  LookaroundRouteOptions options = LookaroundRouteOnly;
  EXPECT_EQ(lookaround->GetRouteOptions(&options), S_OK);
  EXPECT_EQ(options, LookaroundRouteAndIntersectionsOnly);
  IPOICategoryObject* category = nullptr;
  EXPECT_EQ(lookaround->GetCommercialCategoryToScanFor(&category), S_OK);
  ASSERT_NE(category, nullptr);
  category->Release();

  WaypointMode mode = WaypointModeAll;
  EXPECT_EQ(route->GetWaypointMode(&mode), S_OK);
  EXPECT_EQ(mode, WaypointModeTurnsOnly);
  EXPECT_EQ(route->IsWaypointNumberingOn(&flag), S_OK);
  EXPECT_EQ(flag, VARIANT_TRUE);
  EXPECT_EQ(route->IsForceSequentialRouteFollowingOn(&flag), S_OK);
  EXPECT_EQ(flag, VARIANT_FALSE);

  system->Release();
  gps->Release();
  lookaround->Release();
  route->Release();
}

}  // namespace
