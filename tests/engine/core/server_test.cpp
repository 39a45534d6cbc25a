// The navigation engine's value objects as the map engine meets them: a library
// found through the registry, objects created by ProgID and reached only
// through their interfaces. This test is not linked against the engine.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

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
                      {u"VOV.RouteSettingsObject", CLSID_RouteSettingsObject}};
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
