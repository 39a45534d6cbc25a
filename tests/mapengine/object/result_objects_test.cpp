// Tests of the map engine's result objects: defaults, each getter reading its
// own field, setters, turning angles, null out pointers, interface identities
// and object lifetimes.
#include "mapengine/object/ResultObjects.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <iterator>
#include <memory>
#include <string>

#include "platform/com/runtime.h"
#include "tests/mapengine/object/live_objects.h"

namespace {

struct Releaser {
  template <class T>
  void operator()(T* p) const {
    p->Release();
  }
};
template <class T>
using Ref = std::unique_ptr<T, Releaser>;

template <class C>
Ref<C> MakeObject() {
  C* object = nullptr;
  EXPECT_EQ(C::CreateObject(&object), S_OK);
  return Ref<C>(object);
}

// Reads a text getter, checks it answers a real (non-null) BSTR and frees it.
template <class I>
std::u16string ReadText(I* itf, HRESULT (I::*getter)(BSTR*)) {
  BSTR value = nullptr;
  EXPECT_EQ((itf->*getter)(&value), S_OK);
  EXPECT_NE(value, nullptr) << "an empty text comes back as an empty BSTR, not null";
  std::u16string text(BstrView(value));
  SysFreeString(value);
  return text;
}

// One field of a class, the interface getter that reads it, and its default.
template <class C, class I, class T>
struct FieldCase {
  const char* name;
  T C::*field;
  HRESULT (I::*getter)(T*);
  T defaultValue;
};

// One text field and its getter; texts default to "".
template <class C, class I>
struct TextCase {
  const char* name;
  BSTR C::*field;
  HRESULT (I::*getter)(BSTR*);
};

// A value for case `i` that differs from every other case and every default.
template <class T>
T DistinctValue(std::size_t i) {
  return static_cast<T>(i + 7);
}
template <>
double DistinctValue<double>(std::size_t i) {
  return static_cast<double>(i) + 0.25;
}

template <class C, class I, class T, std::size_t N>
void ExpectDefaults(C* object, const FieldCase<C, I, T> (&cases)[N]) {
  I* itf = object;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    T value = DistinctValue<T>(99);
    EXPECT_EQ((itf->*c.getter)(&value), S_OK);
    EXPECT_EQ(value, c.defaultValue);
  }
}

template <class C, class I, std::size_t N>
void ExpectDefaults(C* object, const TextCase<C, I> (&cases)[N]) {
  I* itf = object;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ReadText(itf, c.getter), u"");
  }
}

// Gives every field its own value, then checks that each getter answers the
// value of its own field (a getter wired to a neighbour's field shows here).
template <class C, class I, class T, std::size_t N>
void ExpectGettersReadTheirFields(C* object, const FieldCase<C, I, T> (&cases)[N]) {
  for (std::size_t i = 0; i < N; ++i) object->*cases[i].field = DistinctValue<T>(i);
  I* itf = object;
  for (std::size_t i = 0; i < N; ++i) {
    SCOPED_TRACE(cases[i].name);
    T value{};
    EXPECT_EQ((itf->*cases[i].getter)(&value), S_OK);
    EXPECT_EQ(value, DistinctValue<T>(i));
  }
}

template <class C, class I, std::size_t N>
void ExpectGettersReadTheirFields(C* object, const TextCase<C, I> (&cases)[N]) {
  for (const auto& c : cases) {
    std::u16string text = u"text of ";
    for (const char* p = c.name; *p != '\0'; ++p) text.push_back(static_cast<char16_t>(*p));
    ASSERT_TRUE(AssignBstr(object->*c.field, text));
  }
  I* itf = object;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::u16string expected = u"text of ";
    for (const char* p = c.name; *p != '\0'; ++p) expected.push_back(static_cast<char16_t>(*p));
    EXPECT_EQ(ReadText(itf, c.getter), expected);
  }
}

template <class C, class I, class T, std::size_t N>
void ExpectNullRejected(C* object, const FieldCase<C, I, T> (&cases)[N]) {
  I* itf = object;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ((itf->*c.getter)(nullptr), E_POINTER);
  }
}

template <class C, class I, std::size_t N>
void ExpectNullRejected(C* object, const TextCase<C, I> (&cases)[N]) {
  I* itf = object;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ((itf->*c.getter)(nullptr), E_POINTER);
  }
}

// ---- the getters of each class, with their defaults ----------------------------------

using WP = CWayPoint;
const FieldCase<WP, IWayPoint, double> kWayPointDoubles[] = {
    {"latitude", &WP::m_dLatitude, &IWayPoint::get_latitude, 0.0},
    {"longitude", &WP::m_dLongitude, &IWayPoint::get_longitude, 0.0},
    {"GetDistance", &WP::m_dDistance, &IWayPoint::GetDistance, 0.0},
};
const FieldCase<WP, IWayPoint, SHORT> kWayPointShorts[] = {
    {"IsTurningPoint", &WP::m_bTurningPoint, &IWayPoint::IsTurningPoint, 0},
    {"IsUserPoint", &WP::m_bUserPoint, &IWayPoint::IsUserPoint, 0},
    {"GetStreetOrientationDegreesForward", &WP::m_nStreetOrientationForward,
     &IWayPoint::GetStreetOrientationDegreesForward, 0},
    {"GetStreetOrientationDegreesReverse", &WP::m_nStreetOrientationReverse,
     &IWayPoint::GetStreetOrientationDegreesReverse, 0},
    {"GetNumberOfLanes", &WP::m_nNumberOfLanes, &IWayPoint::GetNumberOfLanes, 0},
    {"GetSpeed", &WP::m_nSpeed, &IWayPoint::GetSpeed, 0},
    {"GetFeatureIndex", &WP::m_nFeatureIndex, &IWayPoint::GetFeatureIndex, -1},
};
const TextCase<WP, IWayPoint> kWayPointTexts[] = {
    {"GetName", &WP::m_bstrName, &IWayPoint::GetName},
    {"GetStreetNameForward", &WP::m_bstrStreetNameForward, &IWayPoint::GetStreetNameForward},
};
// The two computed getters (no field of their own).
HRESULT (IWayPoint::*const kWayPointAngleGetters[])(SHORT*) = {
    &IWayPoint::GetRelativeTurningAngleDegreesForward,
    &IWayPoint::GetRelativeTurningAngleDegreesReverse,
};
static_assert(std::size(kWayPointDoubles) + std::size(kWayPointShorts) + std::size(kWayPointTexts) +
                  std::size(kWayPointAngleGetters) ==
              14);

using CS = CCrossStreet;
const FieldCase<CS, ICrossStreet, double> kCrossStreetDoubles[] = {
    {"GetLatitude", &CS::m_dLatitude, &ICrossStreet::GetLatitude, 0.0},
    {"GetLongitude", &CS::m_dLongitude, &ICrossStreet::GetLongitude, 0.0},
};
const FieldCase<CS, ICrossStreet, INT> kCrossStreetInts[] = {
    {"GetOrientation", &CS::m_nOrientation, &ICrossStreet::GetOrientation, 0},
    {"GetConnectType", &CS::m_nConnectType, &ICrossStreet::GetConnectType, 0},
};
const FieldCase<CS, ICrossStreet, CARTOVELSideOfStreet> kCrossStreetSides[] = {
    {"GetSideOfStreet", &CS::m_eSideOfStreet, &ICrossStreet::GetSideOfStreet, CARTOVELSideUnknown},
};
const FieldCase<CS, ICrossStreet, VARIANT_BOOL> kCrossStreetBools[] = {
    {"MustCrossStreet", &CS::m_bMustCrossStreet, &ICrossStreet::MustCrossStreet, VARIANT_FALSE},
};
const TextCase<CS, ICrossStreet> kCrossStreetTexts[] = {
    {"GetName", &CS::m_bstrName, &ICrossStreet::GetName},
};
static_assert(std::size(kCrossStreetDoubles) + std::size(kCrossStreetInts) + std::size(kCrossStreetSides) +
                  std::size(kCrossStreetBools) + std::size(kCrossStreetTexts) ==
              7);

using LD = CLocationDetails;
const FieldCase<LD, ILocationDetails, SHORT> kLocationShorts[] = {
    {"GetType", &LD::m_nType, &ILocationDetails::GetType, 0},
    {"GetNumberLanes", &LD::m_nNumberLanes, &ILocationDetails::GetNumberLanes, 0},
};
const FieldCase<LD, ILocationDetails, double> kLocationDoubles[] = {
    {"GetRoadSpeedMiles", &LD::m_dRoadSpeedMiles, &ILocationDetails::GetRoadSpeedMiles, 0.0},
    {"GetRoadSpeedKilometers", &LD::m_dRoadSpeedKilometers, &ILocationDetails::GetRoadSpeedKilometers, 0.0},
    {"GetLatitudeDegrees", &LD::m_dLatitude, &ILocationDetails::GetLatitudeDegrees, 0.0},
    {"GetLongitudeDegrees", &LD::m_dLongitude, &ILocationDetails::GetLongitudeDegrees, 0.0},
};
const FieldCase<LD, ILocationDetails, LONG> kLocationLongs[] = {
    {"GetAddressRightFrom", &LD::m_nAddressRightFrom, &ILocationDetails::GetAddressRightFrom, -2},
    {"GetAddressRightTo", &LD::m_nAddressRightTo, &ILocationDetails::GetAddressRightTo, -2},
    {"GetAddressLeftFrom", &LD::m_nAddressLeftFrom, &ILocationDetails::GetAddressLeftFrom, -2},
    {"GetAddressLeftTo", &LD::m_nAddressLeftTo, &ILocationDetails::GetAddressLeftTo, -2},
};
const TextCase<LD, ILocationDetails> kLocationTexts[] = {
    {"GetStreetName", &LD::m_bstrStreetName, &ILocationDetails::GetStreetName},
    {"GetStreetNameLong", &LD::m_bstrStreetNameLong, &ILocationDetails::GetStreetNameLong},
    {"GetRoadClassification", &LD::m_bstrRoadClassification, &ILocationDetails::GetRoadClassification},
    {"GetCity", &LD::m_bstrCity, &ILocationDetails::GetCity},
    {"GetBorough", &LD::m_bstrBorough, &ILocationDetails::GetBorough},
    {"GetArea", &LD::m_bstrArea, &ILocationDetails::GetArea},
    {"GetCounty", &LD::m_bstrCounty, &ILocationDetails::GetCounty},
    {"GetState", &LD::m_bstrState, &ILocationDetails::GetState},
    {"GetCountry", &LD::m_bstrCountry, &ILocationDetails::GetCountry},
    {"GetZipcode", &LD::m_bstrZipcode, &ILocationDetails::GetZipcode},
    {"GetMapDataSource", &LD::m_bstrMapDataSource, &ILocationDetails::GetMapDataSource},
    {"GetHouseNumber", &LD::m_bstrHouseNumber, &ILocationDetails::GetHouseNumber},
    {"GetAddressRightFromAlphaNum", &LD::m_bstrAddressRightFromAlphaNum,
     &ILocationDetails::GetAddressRightFromAlphaNum},
    {"GetAddressRightToAlphaNum", &LD::m_bstrAddressRightToAlphaNum, &ILocationDetails::GetAddressRightToAlphaNum},
    {"GetAddressLeftFromAlphaNum", &LD::m_bstrAddressLeftFromAlphaNum,
     &ILocationDetails::GetAddressLeftFromAlphaNum},
    {"GetAddressLeftToAlphaNum", &LD::m_bstrAddressLeftToAlphaNum, &ILocationDetails::GetAddressLeftToAlphaNum},
};
static_assert(std::size(kLocationShorts) + std::size(kLocationDoubles) + std::size(kLocationLongs) +
                  std::size(kLocationTexts) ==
              26);

using AD = CAddressDetails;
const FieldCase<AD, IAddressDetails, double> kAddressDoubles[] = {
    {"GetLatitude", &AD::m_dLatitude, &IAddressDetails::GetLatitude, 0.0},
    {"GetLongitude", &AD::m_dLongitude, &IAddressDetails::GetLongitude, 0.0},
};
const FieldCase<AD, IAddressDetails, INT> kAddressInts[] = {
    {"GetSideOfStreet", &AD::m_nSideOfStreet, &IAddressDetails::GetSideOfStreet, 0},
    {"GetAddressMatched", &AD::m_nAddressMatched, &IAddressDetails::GetAddressMatched, -1},
};
const TextCase<AD, IAddressDetails> kAddressTexts[] = {
    {"GetStreetName", &AD::m_bstrStreetName, &IAddressDetails::GetStreetName},
    {"GetZipPostalCode", &AD::m_bstrZipPostalCode, &IAddressDetails::GetZipPostalCode},
    {"GetAddress", &AD::m_bstrAddress, &IAddressDetails::GetAddress},
    {"GetCity", &AD::m_bstrCity, &IAddressDetails::GetCity},
    {"GetMap", &AD::m_bstrMap, &IAddressDetails::GetMap},
};
static_assert(std::size(kAddressDoubles) + std::size(kAddressInts) + std::size(kAddressTexts) == 9);

using ResultObjectsTest = LiveObjectsTest;

// ---- defaults ---------------------------------------------------------------------------

TEST_F(ResultObjectsTest, NewWayPointHasItsDefaults) {
  auto wp = MakeObject<CWayPoint>();
  ExpectDefaults(wp.get(), kWayPointDoubles);
  ExpectDefaults(wp.get(), kWayPointShorts);
  ExpectDefaults(wp.get(), kWayPointTexts);
  SHORT forward = 0, reverse = 0;
  EXPECT_EQ(wp->GetRelativeTurningAngleDegreesForward(&forward), S_OK);
  EXPECT_EQ(wp->GetRelativeTurningAngleDegreesReverse(&reverse), S_OK);
  EXPECT_EQ(forward, 180);
  EXPECT_EQ(reverse, 180);
}

TEST_F(ResultObjectsTest, NewCrossStreetHasItsDefaults) {
  auto cs = MakeObject<CCrossStreet>();
  ExpectDefaults(cs.get(), kCrossStreetDoubles);
  ExpectDefaults(cs.get(), kCrossStreetInts);
  ExpectDefaults(cs.get(), kCrossStreetSides);
  ExpectDefaults(cs.get(), kCrossStreetBools);
  ExpectDefaults(cs.get(), kCrossStreetTexts);
}

TEST_F(ResultObjectsTest, NewLocationDetailsHasItsDefaults) {
  auto ld = MakeObject<CLocationDetails>();
  ExpectDefaults(ld.get(), kLocationShorts);
  ExpectDefaults(ld.get(), kLocationDoubles);
  ExpectDefaults(ld.get(), kLocationLongs);
  ExpectDefaults(ld.get(), kLocationTexts);
}

TEST_F(ResultObjectsTest, NewAddressDetailsHasItsDefaults) {
  auto ad = MakeObject<CAddressDetails>();
  ExpectDefaults(ad.get(), kAddressDoubles);
  ExpectDefaults(ad.get(), kAddressInts);
  ExpectDefaults(ad.get(), kAddressTexts);
}

// ---- each getter reads its own field ------------------------------------------------------

TEST_F(ResultObjectsTest, EachGetterReadsItsOwnField) {
  {
    SCOPED_TRACE("WayPoint");
    auto wp = MakeObject<CWayPoint>();
    ExpectGettersReadTheirFields(wp.get(), kWayPointDoubles);
    ExpectGettersReadTheirFields(wp.get(), kWayPointShorts);
    ExpectGettersReadTheirFields(wp.get(), kWayPointTexts);
  }
  {
    SCOPED_TRACE("CrossStreet");
    auto cs = MakeObject<CCrossStreet>();
    ExpectGettersReadTheirFields(cs.get(), kCrossStreetDoubles);
    ExpectGettersReadTheirFields(cs.get(), kCrossStreetInts);
    ExpectGettersReadTheirFields(cs.get(), kCrossStreetSides);
    ExpectGettersReadTheirFields(cs.get(), kCrossStreetBools);
    ExpectGettersReadTheirFields(cs.get(), kCrossStreetTexts);
  }
  {
    SCOPED_TRACE("LocationDetails");
    auto ld = MakeObject<CLocationDetails>();
    ExpectGettersReadTheirFields(ld.get(), kLocationShorts);
    ExpectGettersReadTheirFields(ld.get(), kLocationDoubles);
    ExpectGettersReadTheirFields(ld.get(), kLocationLongs);
    ExpectGettersReadTheirFields(ld.get(), kLocationTexts);
  }
  {
    SCOPED_TRACE("AddressDetails");
    auto ad = MakeObject<CAddressDetails>();
    ExpectGettersReadTheirFields(ad.get(), kAddressDoubles);
    ExpectGettersReadTheirFields(ad.get(), kAddressInts);
    ExpectGettersReadTheirFields(ad.get(), kAddressTexts);
  }
}

// ---- null out pointers ------------------------------------------------------------------

TEST_F(ResultObjectsTest, EveryGetterAnswersEPointerForNullOutPointer) {
  auto wp = MakeObject<CWayPoint>();
  ExpectNullRejected(wp.get(), kWayPointDoubles);
  ExpectNullRejected(wp.get(), kWayPointShorts);
  ExpectNullRejected(wp.get(), kWayPointTexts);
  IWayPoint* itf = wp.get();
  for (auto getter : kWayPointAngleGetters) EXPECT_EQ((itf->*getter)(nullptr), E_POINTER);

  auto cs = MakeObject<CCrossStreet>();
  ExpectNullRejected(cs.get(), kCrossStreetDoubles);
  ExpectNullRejected(cs.get(), kCrossStreetInts);
  ExpectNullRejected(cs.get(), kCrossStreetSides);
  ExpectNullRejected(cs.get(), kCrossStreetBools);
  ExpectNullRejected(cs.get(), kCrossStreetTexts);

  auto ld = MakeObject<CLocationDetails>();
  ExpectNullRejected(ld.get(), kLocationShorts);
  ExpectNullRejected(ld.get(), kLocationDoubles);
  ExpectNullRejected(ld.get(), kLocationLongs);
  ExpectNullRejected(ld.get(), kLocationTexts);

  // The address getters, numeric ones included, refuse a null pointer too.
  auto ad = MakeObject<CAddressDetails>();
  ExpectNullRejected(ad.get(), kAddressDoubles);
  ExpectNullRejected(ad.get(), kAddressInts);
  ExpectNullRejected(ad.get(), kAddressTexts);
}

// ---- setters ------------------------------------------------------------------------------

TEST_F(ResultObjectsTest, WayPointSettersStoreTheirArgumentsUnchanged) {
  auto wp = MakeObject<CWayPoint>();
  IWayPoint* itf = wp.get();

  struct ShortCase {
    const char* name;
    HRESULT (IWayPoint::*put)(SHORT);
    HRESULT (IWayPoint::*get)(SHORT*);
    SHORT value;
  };
  const ShortCase shorts[] = {
      {"NumberOfLanes", &IWayPoint::PutNumberOfLanes, &IWayPoint::GetNumberOfLanes, 3},
      {"UserPoint", &IWayPoint::PutUserPoint, &IWayPoint::IsUserPoint, 1},
      {"TurningPoint", &IWayPoint::PutTurningPoint, &IWayPoint::IsTurningPoint, -1},
      {"OrientationForward", &IWayPoint::PutStreetOrientationDegreesForward,
       &IWayPoint::GetStreetOrientationDegreesForward, 271},
      {"OrientationReverse", &IWayPoint::PutStreetOrientationDegreesReverse,
       &IWayPoint::GetStreetOrientationDegreesReverse, 91},
      {"Speed", &IWayPoint::SetSpeed, &IWayPoint::GetSpeed, 55},
      {"FeatureIndex", &IWayPoint::SetFeatureIndex, &IWayPoint::GetFeatureIndex, 32767},
  };
  for (const auto& c : shorts) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ((itf->*c.put)(c.value), S_OK);
    SHORT value = 0;
    EXPECT_EQ((itf->*c.get)(&value), S_OK);
    EXPECT_EQ(value, c.value);
  }

  struct DoubleCase {
    const char* name;
    HRESULT (IWayPoint::*put)(double);
    HRESULT (IWayPoint::*get)(double*);
    double value;
  };
  const DoubleCase doubles[] = {
      {"latitude", &IWayPoint::put_latitude, &IWayPoint::get_latitude, 48.137154},
      {"longitude", &IWayPoint::put_longitude, &IWayPoint::get_longitude, -122.419416},
      {"Distance", &IWayPoint::SetDistance, &IWayPoint::GetDistance, 1234.5},
  };
  for (const auto& c : doubles) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ((itf->*c.put)(c.value), S_OK);
    double value = 0;
    EXPECT_EQ((itf->*c.get)(&value), S_OK);
    EXPECT_EQ(value, c.value);
  }
}

TEST_F(ResultObjectsTest, WayPointTextSettersKeepTheirOwnCopy) {
  auto wp = MakeObject<CWayPoint>();
  IWayPoint* itf = wp.get();

  // The caller frees its text right after the call: the object must have copied it.
  BSTR name = SysAllocString(u"Marienplatz");
  EXPECT_EQ(itf->PutName(name), S_OK);
  SysFreeString(name);
  EXPECT_EQ(ReadText(itf, &IWayPoint::GetName), u"Marienplatz");

  // A second text replaces the first (the first is freed: the leak checker
  // of the sanitizer build would report it otherwise).
  const char16_t withNul[] = u"Kaufinger\0stra\u00DFe";
  const UINT withNulLength = static_cast<UINT>(std::size(withNul) - 1);
  BSTR street = SysAllocStringLen(withNul, withNulLength);
  EXPECT_EQ(itf->PutStreetNameForward(street), S_OK);
  EXPECT_EQ(itf->PutStreetNameForward(street), S_OK);
  SysFreeString(street);
  EXPECT_EQ(ReadText(itf, &IWayPoint::GetStreetNameForward), std::u16string(withNul, withNulLength));

  // Each getter call hands out a fresh copy that the caller owns.
  BSTR first = nullptr, second = nullptr;
  EXPECT_EQ(itf->GetName(&first), S_OK);
  EXPECT_EQ(itf->GetName(&second), S_OK);
  EXPECT_NE(first, second);
  EXPECT_NE(first, wp->m_bstrName);
  SysFreeString(first);
  SysFreeString(second);

  // A null BSTR is the empty text.
  EXPECT_EQ(itf->PutName(nullptr), S_OK);
  EXPECT_EQ(ReadText(itf, &IWayPoint::GetName), u"");
}

TEST_F(ResultObjectsTest, CrossStreetSettersStoreSideAndMustCross) {
  auto cs = MakeObject<CCrossStreet>();
  ICrossStreet* itf = cs.get();
  for (CARTOVELSideOfStreet side : {CARTOVELLeftSide, CARTOVELRightSide, CARTOVELSideUnknown}) {
    EXPECT_EQ(itf->SetSideOfStreet(side), S_OK);
    CARTOVELSideOfStreet value = CARTOVELSideUnknown;
    EXPECT_EQ(itf->GetSideOfStreet(&value), S_OK);
    EXPECT_EQ(value, side);
  }
  for (VARIANT_BOOL flag : {VARIANT_TRUE, VARIANT_FALSE}) {
    EXPECT_EQ(itf->SetMustCrossStreet(flag), S_OK);
    VARIANT_BOOL value = 1;
    EXPECT_EQ(itf->MustCrossStreet(&value), S_OK);
    EXPECT_EQ(value, flag);
  }
}

TEST_F(ResultObjectsTest, FillingCodeMayOverwriteTextsWithoutLeaking) {
  auto ld = MakeObject<CLocationDetails>();
  EXPECT_TRUE(AssignBstr(ld->m_bstrCity, u"M\u00FCnchen"));
  EXPECT_TRUE(AssignBstr(ld->m_bstrCity, std::u16string(u"N\u00FCrnberg")));
  EXPECT_TRUE(AssignBstr(ld->m_bstrStreetName, u"Hauptstra\u00DFe"));
  EXPECT_EQ(ReadText<ILocationDetails>(ld.get(), &ILocationDetails::GetCity), u"N\u00FCrnberg");
  EXPECT_EQ(ReadText<ILocationDetails>(ld.get(), &ILocationDetails::GetStreetName), u"Hauptstra\u00DFe");
  // Release frees both texts; the sanitizer build's leak checker watches it.
}

// ---- turning angles ----------------------------------------------------------------------

TEST_F(ResultObjectsTest, TurningAnglesFollowBothOrientations) {
  struct Case {
    SHORT forward;
    SHORT reverse;
    SHORT angleForward;
    SHORT angleReverse;
  };
  const Case cases[] = {
      {90, 270, 0, 0},      // a straight street
      {10, 10, 180, 180},   // both directions the same way: a U-turn
      {0, 0, 180, 180},     // the defaults
      {0, 180, 0, 0},       // straight through north
      {180, 0, 0, 0},       // straight through south
      {359, 179, 0, 0},     // straight, just left of north
      {5, 170, 15, 345},    // across the 0/360 seam
      {350, 190, 340, 20},  // across the seam the other way
      {1, 359, 182, 178},
      {359, 1, 178, 182},
      {90, 0, 270, 90},  // a right angle
  };
  auto wp = MakeObject<CWayPoint>();
  IWayPoint* itf = wp.get();
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "forward " << c.forward << ", reverse " << c.reverse);
    EXPECT_EQ(itf->PutStreetOrientationDegreesForward(c.forward), S_OK);
    EXPECT_EQ(itf->PutStreetOrientationDegreesReverse(c.reverse), S_OK);
    SHORT forward = -1, reverse = -1;
    EXPECT_EQ(itf->GetRelativeTurningAngleDegreesForward(&forward), S_OK);
    EXPECT_EQ(itf->GetRelativeTurningAngleDegreesReverse(&reverse), S_OK);
    EXPECT_EQ(forward, c.angleForward);
    EXPECT_EQ(reverse, c.angleReverse);
  }
}

TEST_F(ResultObjectsTest, TurningAnglesStayInRangeForEveryOrientationPair) {
  auto wp = MakeObject<CWayPoint>();
  IWayPoint* itf = wp.get();
  for (SHORT forward = 0; forward < 360; forward += 7) {
    for (SHORT reverse = 0; reverse < 360; reverse += 11) {
      itf->PutStreetOrientationDegreesForward(forward);
      itf->PutStreetOrientationDegreesReverse(reverse);
      SHORT a = -1, b = -1;
      itf->GetRelativeTurningAngleDegreesForward(&a);
      itf->GetRelativeTurningAngleDegreesReverse(&b);
      ASSERT_TRUE(a >= 0 && a < 360 && b >= 0 && b < 360) << forward << " " << reverse;
      // Seen from the other end the turn is mirrored.
      ASSERT_EQ((a + b) % 360, 0) << forward << " " << reverse;
    }
  }
}

// ---- identities and lifetimes ------------------------------------------------------------

struct ClassCase {
  const char* name;
  HRESULT (*create)(REFIID, void**);
  const IID* ownIid;
  bool answersErrorInfo;
};

const ClassCase kClasses[] = {
    {"WayPoint", &CWayPoint::CreateInstance, &IID_IWayPoint, false},
    {"CrossStreet", &CCrossStreet::CreateInstance, &IID_ICrossStreet, true},
    {"LocationDetails", &CLocationDetails::CreateInstance, &IID_ILocationDetails, true},
    {"AddressDetails", &CAddressDetails::CreateInstance, &IID_IAddressDetails, false},
};

TEST_F(ResultObjectsTest, QueryInterfaceAnswersOwnIdentitiesOnly) {
  const IID* foreign[] = {&IID_IWayPoint, &IID_ICrossStreet, &IID_ILocationDetails, &IID_IAddressDetails,
                          &IID_IMap,      &IID_IClassFactory, &CLSID_WayPoint};
  for (const auto& c : kClasses) {
    SCOPED_TRACE(c.name);
    IUnknown* unknown = nullptr;
    ASSERT_EQ(c.create(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    ASSERT_NE(unknown, nullptr);

    void* own = nullptr;
    ASSERT_EQ(unknown->QueryInterface(*c.ownIid, &own), S_OK);
    IUnknown* ownUnknown = static_cast<IUnknown*>(own);

    // The dual interface is its own IDispatch; IUnknown is the same from anywhere.
    void* dispatch = nullptr;
    EXPECT_EQ(ownUnknown->QueryInterface(IID_IDispatch, &dispatch), S_OK);
    EXPECT_EQ(dispatch, own);
    void* unknownAgain = nullptr;
    EXPECT_EQ(ownUnknown->QueryInterface(IID_IUnknown, &unknownAgain), S_OK);
    EXPECT_EQ(unknownAgain, unknown);

    void* errorInfo = reinterpret_cast<void*>(0x1);
    if (c.answersErrorInfo) {
      ASSERT_EQ(ownUnknown->QueryInterface(IID_ISupportErrorInfo, &errorInfo), S_OK);
      auto* support = static_cast<ISupportErrorInfo*>(errorInfo);
      EXPECT_EQ(support->InterfaceSupportsErrorInfo(*c.ownIid), S_OK);
      EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
      EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IWayPoint), S_FALSE);
      void* unknownFromSupport = nullptr;
      EXPECT_EQ(support->QueryInterface(IID_IUnknown, &unknownFromSupport), S_OK);
      EXPECT_EQ(unknownFromSupport, unknown);
      static_cast<IUnknown*>(unknownFromSupport)->Release();
      support->Release();
    } else {
      EXPECT_EQ(ownUnknown->QueryInterface(IID_ISupportErrorInfo, &errorInfo), E_NOINTERFACE);
      EXPECT_EQ(errorInfo, nullptr);
    }

    for (const IID* iid : foreign) {
      if (*iid == *c.ownIid) continue;
      void* out = reinterpret_cast<void*>(0x1);
      EXPECT_EQ(unknown->QueryInterface(*iid, &out), E_NOINTERFACE);
      EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(unknown->QueryInterface(IID_IUnknown, nullptr), E_POINTER);

    static_cast<IUnknown*>(dispatch)->Release();
    static_cast<IUnknown*>(unknownAgain)->Release();
    ownUnknown->Release();
    // Every successful QueryInterface added exactly one reference.
    EXPECT_EQ(unknown->Release(), 0u);
  }
}

TEST_F(ResultObjectsTest, CreateInstanceForAForeignInterfaceLeavesNothingAlive) {
  long before = com::LiveObjectCount();
  for (const auto& c : kClasses) {
    SCOPED_TRACE(c.name);
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(c.create(IID_IMap, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(c.create(IID_IUnknown, nullptr), E_POINTER);
  }
  EXPECT_EQ(com::LiveObjectCount(), before);
}

TEST_F(ResultObjectsTest, LiveObjectCountReturnsToItsStartAfterRelease) {
  long before = com::LiveObjectCount();
  auto wp = MakeObject<CWayPoint>();
  auto cs = MakeObject<CCrossStreet>();
  auto ld = MakeObject<CLocationDetails>();
  auto ad = MakeObject<CAddressDetails>();
  IWayPoint* viaInterface = nullptr;
  ASSERT_EQ(CWayPoint::CreateInstance(&viaInterface), S_OK);
  EXPECT_EQ(com::LiveObjectCount(), before + 5);

  // Filled texts go with their object.
  AssignBstr(wp->m_bstrName, u"Start");
  AssignBstr(cs->m_bstrName, u"Elm Street");
  AssignBstr(ld->m_bstrHouseNumber, u"12a");
  AssignBstr(ad->m_bstrMap, u"bayern.rmf");

  viaInterface->Release();
  wp.reset();
  cs.reset();
  ld.reset();
  ad.reset();
  EXPECT_EQ(com::LiveObjectCount(), before);
}

}  // namespace
