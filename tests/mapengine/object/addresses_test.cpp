// Addresses from feature ids: house numbers at positions, house numbers placed
// on their street, cross streets as the navigation engine's address objects
// and postal codes, on small built maps and on the demo map.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <vector>

#include "typelib/VovLib.h"
#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/object/CMap.h"
#include "mapengine/object/Geometry.h"
#include "mapengine/object/NearestFeature.h"
#include "mapengine/object/ResultObjects.h"
#include "platform/os/module.h"
#include "platform/os/registry.h"
#include "platform/os/text.h"
#include "tests/mapengine/object/extract_addresses.h"
#include "tests/mapengine/object/map_engine_fixture.h"
#include "tests/mapengine/object/street_fixtures.h"

namespace {

using namespace street_fixtures;

std::u16string Text(BSTR text) {
  std::u16string copy(BstrView(text));
  SysFreeString(text);
  return copy;
}

// A street with the postal code and city of the converter's area attribute.
rmfbuild::Feature TownStreet(const std::string& name, std::vector<TiPoint> points, const std::string& range,
                             const std::string& postcode = "17033", const std::string& city = "Neubrandenburg") {
  rmfbuild::Feature f = Street(name, std::move(points), range);
  f.Attribute(rmfbuild::TextTriple{"121", "DEU\\" + postcode, "\\" + city});
  return f;
}

// Feet between two map points.
double Feet(TiPoint a, TiPoint b) { return DistanceFeetBetweenMapPointsExact(a.x, a.y, b.x, b.y); }

class AddressesTest : public MapEngineTest {
 protected:
  void SetUp() override {
    MapEngineTest::SetUp();
    // The cross streets are the navigation engine's objects, created through
    // the registry.
    ASSERT_NO_FATAL_FAILURE(RegisterServers({VOV_LIBRARY_PATH}));
  }

  // The interface's three ids of the whole feature under `reference`.
  struct Ids {
    LONG fid1 = 0, fid2 = 0, fid3 = 0;
  };
  Ids IdsOf(const RmfFeatureRef& reference) {
    RmfFeatureRef whole{};
    EXPECT_EQ(RmfFeatureRefWhole(map_->m_Rdr.get(), reference, &whole), 1);
    // The feature the way it was drawn.
    if (whole.toVertex < whole.fromVertex) {
      EXPECT_EQ(RmfFeatureRefReverse(map_->m_Rdr.get(), whole, &whole), 1);
    }
    return Ids{static_cast<LONG>(whole.featureId), static_cast<LONG>(whole.part | (whole.fromVertex << 16)),
               static_cast<LONG>(whole.toVertex | (static_cast<std::uint32_t>(whole.secondId) << 16))};
  }
  RmfFeatureRef StreetAt(TiPoint point) { return map_->GetNearestFeature(point, -1, "4567"); }

  // The house number GetAddressInternal gives at a point, and its details.
  std::u16string HouseNumberAt(TiPoint point, const RmfFeatureRef& street, std::int32_t heading = -1,
                               CLocationDetails** keep = nullptr) {
    CLocationDetails* details = nullptr;
    EXPECT_EQ(CLocationDetails::CreateObject(&details), S_OK);
    const DegreePoint at = MapUnitsToDegrees(point.x, point.y);
    map_->GetAddressInternal(*details, at.latitude, at.longitude, street, heading);
    BSTR number = nullptr;
    EXPECT_EQ(details->GetHouseNumber(&number), S_OK);
    if (keep != nullptr) {
      *keep = details;
    } else {
      details->Release();
    }
    return Text(number);
  }

};

// One street running east, 2000 units (about 580 feet) long: numbers 2 to 20
// on its right (south) side, 1 to 19 on its left.
TEST_F(AddressesTest, HouseNumberAtAPositionInterpolatesTheRangeOfItsSide) {
  rmfbuild::FeatureMap streets;
  streets.Add(TownStreet("Lindenstraße", {At(0, 0), At(2000, 0)}, "2\\20\\1\\19"));
  ASSERT_NO_FATAL_FAILURE(OpenBuiltMap(streets, "linden.rmf"));
  const RmfFeatureRef street = StreetAt(At(1000, 0));
  ASSERT_FALSE(IsNullFeatureRef(street));

  struct Case {
    std::int32_t dx, dy;
    const char16_t* number;
  };
  const Case cases[] = {
      {0, -40, u"2"},     {1000, -40, u"12"}, {2000, -40, u"20"},  // right side, even
      {0, 40, u"1"},      {1000, 40, u"11"},  {2000, 40, u"19"},   // left side, odd
      {500, -40, u"6"},   {1500, 40, u"15"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.dx << "," << c.dy);
    EXPECT_EQ(HouseNumberAt(At(c.dx, c.dy), street), c.number);
  }

  // The position moves onto the street; the ranges are kept per side as the
  // user walks: east the right side is the first range, west the second.
  CLocationDetails* details = nullptr;
  HouseNumberAt(At(500, -40), street, 90, &details);
  const TiPoint foot = DegreesToMapUnits(details->m_dLatitude, details->m_dLongitude);
  EXPECT_LE(Feet(foot, At(500, 0)), 1.0);
  EXPECT_EQ(details->m_nAddressRightFrom, 2);
  EXPECT_EQ(details->m_nAddressRightTo, 20);
  EXPECT_EQ(details->m_nAddressLeftFrom, 1);
  EXPECT_EQ(details->m_nAddressLeftTo, 19);
  details->Release();
  HouseNumberAt(At(500, -40), street, 270, &details);
  EXPECT_EQ(details->m_nAddressRightFrom, 1);
  EXPECT_EQ(details->m_nAddressRightTo, 19);
  EXPECT_EQ(details->m_nAddressLeftFrom, 2);
  EXPECT_EQ(details->m_nAddressLeftTo, 20);
  details->Release();
}

// Ranges whose numbers run against the street, that span one number, or that
// are missing on one side.
TEST_F(AddressesTest, HouseNumberAtAPositionOnUnusualRanges) {
  struct Case {
    const char* range;
    std::int32_t dx, dy;
    const char16_t* number;
  };
  const Case cases[] = {
      {"198\\100\\\\", 500, -40, u"174"},  // runs down: three quarters up from 100
      {"100\\198\\\\", 1000, -40, u"150"}, // 149 in the middle, moved to its parity
      {"7\\7\\\\", 1500, -40, u"7"},       // one house
      {"2\\20\\\\", 1000, 40, u""},        // nothing on the left side
      {"1\\6\\\\", 2000, -40, u"6"},       // mixed parity reaches its upper end
  };
  rmfbuild::FeatureMap streets;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const std::int32_t y = static_cast<std::int32_t>(i) * 400;
    streets.Add(TownStreet("Street " + std::to_string(i), {At(0, y), At(2000, y)}, cases[i].range));
  }
  ASSERT_NO_FATAL_FAILURE(OpenBuiltMap(streets, "ranges.rmf"));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].range);
    const std::int32_t y = static_cast<std::int32_t>(i) * 400;
    const RmfFeatureRef street = StreetAt(At(cases[i].dx, y + cases[i].dy));
    EXPECT_EQ(HouseNumberAt(At(cases[i].dx, y + cases[i].dy), street), cases[i].number);
  }
}

// A range that continues over a second feature of the same street counts the
// whole length; a street without ranges gives no number.
TEST_F(AddressesTest, HouseNumberAtAPositionFollowsTheRangeAcrossFeatures) {
  rmfbuild::FeatureMap streets;
  streets.Add(TownStreet("Ringstraße", {At(0, 0), At(1000, 0)}, "2\\40\\1\\39"));
  streets.Add(TownStreet("Ringstraße", {At(1000, 0), At(2000, 0)}, "2\\40\\1\\39"));
  streets.Add(TownStreet("Gartenweg", {At(0, 800), At(2000, 800)}, ""));
  ASSERT_NO_FATAL_FAILURE(OpenBuiltMap(streets, "ring.rmf"));
  EXPECT_EQ(HouseNumberAt(At(1500, -40), StreetAt(At(1500, -40))), u"30");
  EXPECT_EQ(HouseNumberAt(At(500, -40), StreetAt(At(500, -40))), u"12");
  EXPECT_EQ(HouseNumberAt(At(500, 760), StreetAt(At(500, 760))), u"");
}

TEST_F(AddressesTest, GetAddressPlacesTheNumberOnItsStreet) {
  rmfbuild::FeatureMap streets;
  streets.Add(TownStreet("Lindenstraße", {At(0, 0), At(1000, 0)}, "2\\10\\1\\9"));
  streets.Add(TownStreet("Lindenstraße", {At(1000, 0), At(2000, 0)}, "12\\20\\11\\19"));
  ASSERT_NO_FATAL_FAILURE(OpenBuiltMap(streets, "linden.rmf"));
  const Ids ids = IdsOf(StreetAt(At(500, 0)));
  BSTR mapName = SysAllocString(u"linden");

  struct Case {
    const char16_t* address;
    std::int32_t dx;  // where along the street it lands
    INT side;
    INT matched;
  };
  const Case cases[] = {
      {u"6 Lindenstraße", 500, CARTOVELRightSide, 1},
      {u"5", 500, CARTOVELLeftSide, 1},
      {u"1", 250, CARTOVELLeftSide, 1},
      // Beyond the range of this feature: at the end of the nearest side's
      // range, a quarter of the one-segment piece in from its end.
      {u"16", 750, CARTOVELRightSide, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(platform::Utf16ToUtf8(c.address));
    BSTR address = SysAllocString(c.address);
    IAddressDetails* details = nullptr;
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(map_->GetAddress(mapName, ids.fid1, ids.fid2, ids.fid3, address, &details, &ok), S_OK);
    SysFreeString(address);
    ASSERT_EQ(ok, VARIANT_TRUE);
    ASSERT_NE(details, nullptr);
    double latitude = 0, longitude = 0;
    INT side = -1, matched = -1;
    BSTR text = nullptr;
    details->GetLatitude(&latitude);
    details->GetLongitude(&longitude);
    details->GetSideOfStreet(&side);
    details->GetAddressMatched(&matched);
    EXPECT_LE(Feet(DegreesToMapUnits(latitude, longitude), At(c.dx, 0)), 40.0);
    EXPECT_EQ(side, c.side);
    EXPECT_EQ(matched, c.matched);
    details->GetStreetName(&text);
    EXPECT_EQ(Text(text), u"Lindenstraße");
    details->GetZipPostalCode(&text);
    EXPECT_EQ(Text(text), u"17033");
    details->GetCity(&text);
    EXPECT_EQ(Text(text), u"Neubrandenburg");
    details->GetAddress(&text);
    EXPECT_EQ(Text(text), c.address);
    details->GetMap(&text);
    EXPECT_EQ(Text(text), u"linden");
    details->Release();
  }
  SysFreeString(mapName);
}

// Feature ids that name nothing: an unknown map, map number 0 or past the
// loaded maps, a feature id of no feature, and null out pointers.
TEST_F(AddressesTest, UnknownFeaturesAnswerSFalseAndEmptyResults) {
  rmfbuild::FeatureMap streets;
  streets.Add(TownStreet("Lindenstraße", {At(0, 0), At(2000, 0)}, "2\\20\\1\\19"));
  ASSERT_NO_FATAL_FAILURE(OpenBuiltMap(streets, "linden.rmf"));
  const Ids ids = IdsOf(StreetAt(At(500, 0)));

  BSTR known = SysAllocString(u"linden.rmf");
  BSTR postcode = nullptr;
  ASSERT_EQ(map_->GetPostalFromFids(known, ids.fid1, ids.fid2, ids.fid3, &postcode), S_OK);
  EXPECT_EQ(Text(postcode), u"17033");
  EXPECT_EQ(map_->GetPostalFromFids(known, ids.fid1, ids.fid2, ids.fid3, nullptr), E_POINTER);

  struct Case {
    const char16_t* map;
    LONG fid1;
  };
  const Case cases[] = {{u"elsewhere", ids.fid1}, {u"", ids.fid1}, {u"linden", 0}, {u"linden", 987654}};
  for (const Case& c : cases) {
    SCOPED_TRACE(platform::Utf16ToUtf8(c.map) + " " + std::to_string(c.fid1));
    BSTR name = SysAllocString(c.map);
    postcode = nullptr;
    EXPECT_EQ(map_->GetPostalFromFids(name, c.fid1, ids.fid2, ids.fid3, &postcode), S_FALSE);
    EXPECT_EQ(Text(postcode), u"");
    IAddressDetails* details = nullptr;
    VARIANT_BOOL ok = VARIANT_TRUE;
    BSTR address = SysAllocString(u"5");
    EXPECT_EQ(map_->GetAddress(name, c.fid1, ids.fid2, ids.fid3, address, &details, &ok), S_FALSE);
    EXPECT_EQ(ok, VARIANT_FALSE);
    EXPECT_EQ(details, nullptr);
    VARIANT list;
    VariantInit(&list);
    LONG found = 7;
    EXPECT_EQ(map_->GetCrossStreets(name, c.fid1, ids.fid2, ids.fid3, VARIANT_FALSE, &list, &found), S_FALSE);
    EXPECT_EQ(found, 0);
    EXPECT_EQ(list.vt, VT_EMPTY);
    SysFreeString(address);
    SysFreeString(name);
  }
  // A map number past the loaded maps names no map either.
  map_->m_pMapNames->Add(u"ghost", u"2");
  BSTR ghost = SysAllocString(u"ghost");
  EXPECT_EQ(map_->GetPostalFromFids(ghost, ids.fid1, ids.fid2, ids.fid3, &postcode), S_FALSE);
  SysFreeString(postcode);
  SysFreeString(ghost);
  SysFreeString(known);
}

// A street crossed by three others (one twice, one in another postal area)
// lists each crossing street once, at its crossing, as an address object.
TEST_F(AddressesTest, GetCrossStreetsListsEachCrossingStreetOnce) {
  rmfbuild::FeatureMap streets;
  streets.Add(TownStreet("Hauptstraße", {At(0, 0), At(500, 0), At(1000, 0)}, ""));
  streets.Add(TownStreet("Hauptstraße", {At(1000, 0), At(1500, 0), At(2000, 0)}, ""));
  streets.Add(TownStreet("Hauptstraße", {At(2000, 0), At(2500, 0), At(3000, 0)}, "", "17034"));
  streets.Add(TownStreet("Kirchgasse", {At(500, -500), At(500, 0), At(500, 500)}, ""));
  streets.Add(TownStreet("Mühlenweg", {At(1000, 0), At(1000, 600)}, ""));
  streets.Add(TownStreet("Kirchgasse", {At(1500, 0), At(1500, 600)}, ""));
  streets.Add(TownStreet("Seeweg", {At(2500, 0), At(2500, 600)}, "", "17034"));
  ASSERT_NO_FATAL_FAILURE(OpenBuiltMap(streets, "town.rmf"));
  const Ids ids = IdsOf(StreetAt(At(200, 0)));
  BSTR mapName = SysAllocString(u"town");

  struct Row {
    VARIANT_BOOL byPostcode;
    std::vector<std::u16string> names;
  };
  // By postal code the third piece is another area; by city it belongs. Any
  // non-zero flag asks for the postal code.
  const Row rows[] = {{VARIANT_TRUE, {u"Kirchgasse", u"Mühlenweg"}},
                      {1, {u"Kirchgasse", u"Mühlenweg"}},
                      {VARIANT_FALSE, {u"Kirchgasse", u"Mühlenweg", u"Seeweg"}}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.byPostcode);
    VARIANT list;
    VariantInit(&list);
    LONG found = -1;
    ASSERT_EQ(map_->GetCrossStreets(mapName, ids.fid1, ids.fid2, ids.fid3, row.byPostcode, &list, &found), S_OK);
    ASSERT_EQ(list.vt, VT_ARRAY | VT_VARIANT);
    EXPECT_EQ(static_cast<std::size_t>(found), row.names.size());
    std::vector<std::u16string> names;
    for (LONG i = 0; i < found; ++i) {
      VARIANT item;
      VariantInit(&item);
      ASSERT_EQ(SafeArrayGetElement(list.parray, &i, &item), S_OK);
      ASSERT_EQ(item.vt, VT_DISPATCH);
      IAddressObject* address = nullptr;
      ASSERT_EQ(item.pdispVal->QueryInterface(IID_IAddressObject, reinterpret_cast<void**>(&address)), S_OK);
      BSTR text = nullptr;
      address->GetName(&text);
      names.push_back(Text(text));
      address->GetStreet(&text);
      EXPECT_EQ(Text(text), names.back());
      address->GetCity(&text);
      EXPECT_EQ(Text(text), u"Neubrandenburg");
      address->GetZipPostalcode(&text);
      EXPECT_EQ(Text(text), u"17033");
      double latitude = 0, longitude = 0;
      address->GetLatitude(&latitude);
      address->GetLongitude(&longitude);
      const TiPoint at = DegreesToMapUnits(latitude, longitude);
      EXPECT_LE(std::abs(at.y - kOriginY), 1) << "on the street";
      address->Release();
      VariantClear(&item);
    }
    VariantClear(&list);
    EXPECT_EQ(names, row.names);
  }
  LONG found = 0;
  EXPECT_EQ(map_->GetCrossStreets(mapName, ids.fid1, ids.fid2, ids.fid3, VARIANT_FALSE, nullptr, &found), E_POINTER);
  SysFreeString(mapName);
}

// A street with more crossings than a list holds gives the first 150.
TEST_F(AddressesTest, GetCrossStreetsStopsAtOneHundredFifty) {
  rmfbuild::FeatureMap streets;
  std::vector<TiPoint> main;
  for (std::int32_t i = 0; i < 160; ++i) {
    const TiPoint node = At(20 * i, 0);
    main.push_back(node);
    streets.Add(TownStreet("Querweg " + std::to_string(i), {node, At(20 * i, 300)}, ""));
  }
  streets.Add(TownStreet("Lange Straße", main, ""));
  ASSERT_NO_FATAL_FAILURE(OpenBuiltMap(streets, "long.rmf"));
  const Ids ids = IdsOf(StreetAt(At(10, -5)));
  BSTR mapName = SysAllocString(u"long");
  VARIANT list;
  VariantInit(&list);
  LONG found = 0;
  ASSERT_EQ(map_->GetCrossStreets(mapName, ids.fid1, ids.fid2, ids.fid3, VARIANT_TRUE, &list, &found), S_OK);
  EXPECT_EQ(found, 150);
  LONG upper = -1;
  ASSERT_EQ(SafeArrayGetUBound(list.parray, 1, &upper), S_OK);
  EXPECT_EQ(upper, 149);
  VariantClear(&list);
  SysFreeString(mapName);
}

// Every 10th address node of the demo extract: the house number at the node
// on the nearest street of its name, and the node's number placed on that
// street, against the node's own tags read independently of the converter.
TEST_F(AddressesTest, DemoMapAddressNodes) {
  const std::vector<OsmAddress> addresses = ReadExtractAddresses(DEMO_OSM_PATH);
  ASSERT_GT(addresses.size(), 1000u);
  LoadEnglish();
  OpenMapFile(DEMO_MAP_PATH);
  ASSERT_NE(map_->m_Rdr.get(), nullptr);
  BSTR mapName = SysAllocString(u"Neubrandenburg");

  std::size_t asked = 0, named = 0, equal = 0, within10 = 0, placed = 0, near = 0;
  std::vector<double> feet;
  for (std::size_t k = 0; k < addresses.size(); k += 10) {
    const OsmAddress& a = addresses[k];
    ++asked;
    const RmfFeatureRef street = map_->GetNearestFeature(a.point, -1, "567");
    if (IsNullFeatureRef(street) ||
        platform::Utf16ToUtf8(GetFeatureAttribute(*map_, street, kAttributeStreetName, false)) != a.street) {
      continue;
    }
    ++named;
    const long n = std::strtol(platform::Utf16ToUtf8(HouseNumberAt(a.point, street)).c_str(), nullptr, 10);
    equal += n == a.number ? 1 : 0;
    within10 += std::abs(n - a.number) <= 10 ? 1 : 0;

    const Ids ids = IdsOf(street);
    BSTR number = SysAllocString(platform::Utf8ToUtf16(std::to_string(a.number)).c_str());
    IAddressDetails* details = nullptr;
    VARIANT_BOOL ok = VARIANT_FALSE;
    EXPECT_EQ(map_->GetAddress(mapName, ids.fid1, ids.fid2, ids.fid3, number, &details, &ok), S_OK);
    SysFreeString(number);
    if (ok != VARIANT_TRUE || details == nullptr) continue;
    ++placed;
    double latitude = 0, longitude = 0;
    details->GetLatitude(&latitude);
    details->GetLongitude(&longitude);
    details->Release();
    const double d = Feet(DegreesToMapUnits(latitude, longitude), a.point);
    feet.push_back(d);
    near += d <= 250.0 ? 1 : 0;
  }
  SysFreeString(mapName);
  std::sort(feet.begin(), feet.end());
  const auto share = [](std::size_t k, std::size_t of) { return of == 0 ? 0.0 : 100.0 * static_cast<double>(k) / of; };
  std::printf("asked %zu, named %zu; number equal %.1f%%, within 10 %.1f%%; placed %zu, within 250 ft %.1f%%, "
              "median %.0f ft\n",
              asked, named, share(equal, named), share(within10, named), placed, share(near, placed),
              feet.empty() ? 0.0 : feet[feet.size() / 2]);
  // Measured on this extract (755 asked, 685 on a street of their name): the
  // number at the node is the node's own for 32.6% and within 10 for 95.6%;
  // the node's number placed on its street lands within 250 feet of the node
  // for 84.1% (median 102 feet). A range holds only the lowest and highest
  // number of each side, so the houses between are interpolated; the limits
  // lie a few points under the measured shares.
  EXPECT_GE(share(named, asked), 85.0);
  EXPECT_GE(share(equal, named), 28.0);
  EXPECT_GE(share(within10, named), 92.0);
  EXPECT_EQ(placed, named) << "every street of its name takes its number";
  EXPECT_GE(share(near, placed), 80.0);
}

}  // namespace
