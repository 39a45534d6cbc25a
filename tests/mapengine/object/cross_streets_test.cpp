// The cross-street list: entries added for the streets at an intersection of
// a small map (name, orientation away from the intersection, duplicates and a
// full list), and the ordering round the intersection with the sides and
// must-cross flags, over lists built directly.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "mapengine/object/CMap.h"
#include "mapengine/object/CrossStreets.h"
#include "mapengine/object/NearestFeature.h"
#include "mapengine/object/RampLabels.h"
#include "mapengine/object/ResultObjects.h"
#include "platform/os/text.h"
#include "tests/mapengine/object/map_engine_fixture.h"
#include "tests/mapengine/object/street_fixtures.h"
#include "tools/rmfbuild/RmfBuilder.h"
#include "tools/rmfbuild/RmfFeatures.h"

namespace {

using street_fixtures::At;
using street_fixtures::Road;
using street_fixtures::Street;

constexpr CARTOVELSideOfStreet kUnknown = CARTOVELSideUnknown;
constexpr CARTOVELSideOfStreet kLeft = CARTOVELLeftSide;
constexpr CARTOVELSideOfStreet kRight = CARTOVELRightSide;

struct Entry {
  const char16_t* name;
  int orientation;
};

// A list of entries as the intersection search leaves them: each with the
// side the user walks on.
CrossStreetVector MakeList(const std::vector<Entry>& entries, CARTOVELSideOfStreet side,
                           int capacity = kCrossStreetCapacity) {
  CrossStreetVector list(capacity);
  for (const Entry& e : entries) {
    CCrossStreet* street = nullptr;
    EXPECT_EQ(CCrossStreet::CreateObject(&street), S_OK);
    CrossStreetVector::Entry owned(street);
    EXPECT_TRUE(AssignBstr(owned->m_bstrName, e.name));
    owned->m_nOrientation = e.orientation;
    owned->m_eSideOfStreet = side;
    EXPECT_TRUE(list.Append(std::move(owned)));
  }
  return list;
}

std::vector<int> Orientations(const CrossStreetVector& list) {
  std::vector<int> out;
  for (int i = 0; i < list.count(); ++i) out.push_back(list.at(i)->m_nOrientation);
  return out;
}
std::vector<int> Sides(const CrossStreetVector& list) {
  std::vector<int> out;
  for (int i = 0; i < list.count(); ++i) out.push_back(list.at(i)->m_eSideOfStreet);
  return out;
}
std::vector<bool> MustCross(const CrossStreetVector& list) {
  std::vector<bool> out;
  for (int i = 0; i < list.count(); ++i) out.push_back(list.at(i)->m_bMustCrossStreet == VARIANT_TRUE);
  return out;
}
std::string NameAt(const CrossStreetVector& list, int i) {
  return platform::Utf16ToUtf8(std::u16string(BstrView(list.at(i)->m_bstrName)));
}

// The smaller angle between two bearings.
int Apart(int a, int b) {
  const int d = std::abs(a - b) % 360;
  return d > 180 ? 360 - d : d;
}

class CrossStreetListTest : public MapEngineTest {
 protected:
  void SetUp() override {
    MapEngineTest::SetUp();
    LoadEnglish();
  }
};

// ---- ordering -------------------------------------------------------------------------------

TEST_F(CrossStreetListTest, OrdersFromTheStreetAheadClockwiseAndPicksTheNewHeading) {
  const struct {
    const char* what;
    const char16_t* street;
    int heading;
    CARTOVELSideOfStreet side;
    std::vector<Entry> entries;
    std::vector<int> order;
    int newHeading;
  } cases[] = {
      {"plain crossing of four: the nearest within 10 degrees first", u"Oak", 93, kUnknown,
       {{u"Elm", 270}, {u"Oak", 0}, {u"Elm", 90}, {u"Oak", 180}}, {90, 180, 270, 0}, 93},
      {"the user's street ahead gives the new heading, names compared in any case", u"Main St", 20, kRight,
       {{u"Elm", 268}, {u"MAIN ST", 178}, {u"main st", 3}, {u"Elm", 90}}, {3, 90, 178, 268}, 3},
      {"the user's street 57 degrees off is no candidate: the first greater orientation", u"Main St", 60, kRight,
       {{u"Main St", 3}, {u"Elm", 90}, {u"Main St", 178}, {u"Elm", 268}}, {90, 178, 268, 3}, 60},
      {"an unnamed roundabout is followed up to 110 degrees off", u"Roundabout", 0, kLeft,
       {{u"Roundabout", 200}, {u"Elm", 300}, {u"Roundabout", 100}}, {100, 200, 300}, 100},
      {"a named ring only up to 50 degrees", u"Ring", 0, kLeft,
       {{u"Ring", 200}, {u"Elm", 300}, {u"Ring", 100}}, {100, 200, 300}, 0},
      {"a fork across north, right side: the branch to the right", u"Main St", 0, kRight,
       {{u"Main St", 340}, {u"Main St", 180}, {u"Main St", 20}}, {20, 180, 340}, 20},
      {"a fork across north, left side: the branch to the left", u"Main St", 0, kLeft,
       {{u"Main St", 340}, {u"Main St", 180}, {u"Main St", 20}}, {340, 20, 180}, 340},
      {"a fork, right side", u"Main St", 90, kRight,
       {{u"Main St", 60}, {u"Main St", 270}, {u"Main St", 120}}, {120, 270, 60}, 120},
      {"a fork, left side", u"Main St", 90, kLeft,
       {{u"Main St", 60}, {u"Main St", 270}, {u"Main St", 120}}, {60, 120, 270}, 60},
      {"without a side the user's street bending ahead starts the list; the heading stays", u"Main St", 20,
       kUnknown, {{u"Main St", 3}, {u"Elm", 90}, {u"Main St", 178}}, {3, 90, 178}, 20},
      {"without a side, the user's street 57 degrees off: the first greater orientation", u"Main St", 60, kUnknown,
       {{u"Main St", 3}, {u"Elm", 90}, {u"Main St", 178}}, {90, 178, 3}, 60},
      {"without a street name there is no candidate", u"", 20, kRight,
       {{u"Main St", 3}, {u"Elm", 90}, {u"Main St", 178}}, {90, 178, 3}, 20},
      {"no candidate: the nearest within 10 degrees, across north", u"Main St", 358, kUnknown,
       {{u"Elm", 180}, {u"Elm", 5}, {u"Oak", 352}, {u"Oak", 90}}, {352, 5, 90, 180}, 358},
      {"no candidate and nothing greater: the first", u"Main St", 300, kUnknown,
       {{u"Elm", 190}, {u"Oak", 280}, {u"Elm", 10}, {u"Oak", 100}}, {10, 100, 190, 280}, 300},
      {"no heading: the first", u"Main St", -1, kUnknown,
       {{u"Elm", 190}, {u"Elm", 10}, {u"Oak", 100}}, {10, 100, 190}, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CrossStreetVector list = MakeList(c.entries, c.side);
    EXPECT_EQ(NormalizeCrossStreets(*map_, true, c.heading, c.street, list), c.newHeading);
    EXPECT_EQ(Orientations(list), c.order);
  }
}

TEST_F(CrossStreetListTest, OrderingSetsTheSidesAndCrossingsFromTheNewHeading) {
  // Walking north on the right side of Main St, towards a near-side crossing.
  CrossStreetVector list = MakeList({{u"Elm", 268}, {u"Main St", 178}, {u"Main St", 3}, {u"Elm", 90}}, kRight);
  EXPECT_EQ(NormalizeCrossStreets(*map_, true, 20, u"Main St", list), 3);
  EXPECT_EQ(Orientations(list), (std::vector<int>{3, 90, 178, 268}));
  EXPECT_EQ(Sides(list), (std::vector<int>{kRight, kRight, kLeft, kLeft}));
  EXPECT_EQ(MustCross(list), (std::vector<bool>{true, false, false, true}));
}

TEST_F(CrossStreetListTest, AListOfOneIsLeftAlone) {
  CrossStreetVector list = MakeList({{u"Main St", 200}}, kRight);
  EXPECT_EQ(NormalizeCrossStreets(*map_, true, 20, u"Main St", list), 20);
  EXPECT_EQ(Sides(list), std::vector<int>{kRight});
  EXPECT_EQ(MustCross(list), std::vector<bool>{false});
  // Asked directly, a single entry has no neighbour to count from either.
  AssignSidesAndCrossings(list, false, 20, u"Main St");
  EXPECT_EQ(Sides(list), std::vector<int>{kRight});
  EXPECT_EQ(MustCross(list), std::vector<bool>{false});
}

// ---- sides and must-cross flags ---------------------------------------------------------------

TEST(CrossStreetSides, SidesAndMustCrossFlagsOfAnOrderedList) {
  const std::vector<Entry> crossing = {{u"Main", 0}, {u"Elm", 90}, {u"Main", 180}, {u"Elm", 270}};
  const std::vector<Entry> noStreet = {{u"Elm", 0}, {u"Oak", 90}, {u"Elm", 180}, {u"Oak", 270}};
  const struct {
    const char* what;
    std::vector<Entry> entries;
    CARTOVELSideOfStreet side;
    bool nearSide;
    int heading;
    std::vector<int> sides;
    std::vector<bool> mustCross;
  } cases[] = {
      {"two entries, the first to the right", {{u"Elm", 95}, {u"Elm", 275}}, kLeft, true, 0,
       {kRight, kLeft}, {false, false}},
      {"two entries, the first to the left", {{u"Elm", 275}, {u"Elm", 95}}, kLeft, true, 0,
       {kLeft, kRight}, {false, false}},
      {"two entries, the first ahead", {{u"Main", 5}, {u"Elm", 90}}, kLeft, true, 0,
       {kLeft, kRight}, {false, false}},
      {"left side, near side", crossing, kLeft, true, 0,
       {kLeft, kRight, kRight, kLeft}, {true, true, false, false}},
      {"left side, far side", crossing, kLeft, false, 0,
       {kLeft, kLeft, kRight, kRight}, {false, true, true, false}},
      {"right side, near side", crossing, kRight, true, 0,
       {kRight, kRight, kLeft, kLeft}, {true, false, false, true}},
      {"right side, far side", crossing, kRight, false, 0,
       {kRight, kLeft, kLeft, kRight}, {false, false, true, true}},
      {"the street leading back has another name", {{u"Main", 0}, {u"Elm", 90}, {u"Oak", 185}, {u"Elm", 270}},
       kLeft, true, 0, {kLeft, kRight, kRight, kLeft}, {true, true, false, false}},
      {"no street leading back, left side: counted from the second entry", noStreet, kLeft, true, 0,
       {kLeft, kRight, kLeft, kLeft}, {true, false, false, true}},
      {"no street leading back, right side: counted from the last entry", noStreet, kRight, true, 0,
       {kLeft, kRight, kLeft, kLeft}, {true, true, false, false}},
      {"all one street, going straight on across north", {{u"Main", 10}, {u"Main", 180}, {u"Main", 350}}, kLeft,
       true, 0, {kLeft, kRight, kRight}, {true, false, true}},
      {"all one street, turning", {{u"Main", 0}, {u"Main", 120}, {u"Main", 180}}, kLeft, true, 0,
       {kLeft, kLeft, kRight}, {false, true, false}},
      {"side unknown: nothing is set", crossing, kUnknown, true, 0,
       {kUnknown, kUnknown, kUnknown, kUnknown}, {false, false, false, false}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CrossStreetVector list = MakeList(c.entries, c.side);
    AssignSidesAndCrossings(list, c.nearSide, c.heading, u"Main");
    EXPECT_EQ(Sides(list), c.sides);
    EXPECT_EQ(MustCross(list), c.mustCross);
  }
}

// ---- adding the streets of an intersection ---------------------------------------------------

// At J: Main St leaves north and bends east (its first point is J); Oak Rd
// comes up from the south and turns east into J (the piece of it met at J
// ends there, so its first point is the one due west); an unnamed road leaves
// south and an unnamed roundabout west.
class AddCrossStreetTest : public CrossStreetListTest {
 protected:
  static TiPoint J() { return At(1000, 1000); }

  void SetUp() override {
    CrossStreetListTest::SetUp();
    rmfbuild::FeatureMap map;
    map.Add(Street("Main St", {J(), At(1000, 1600), At(2500, 1600)}));
    map.Add(Street("Oak Rd", {At(0, 0), At(0, 1000), J()}));
    map.Add(Road("", {J(), At(1000, 200)}, '3'));
    map.Add(Road("", {J(), At(400, 1000)}, '8'));
    ASSERT_NO_FATAL_FAILURE(OpenBuiltMap(map, "crossing.rmf"));
    ASSERT_EQ(GetNearbyCrossStreetFeatures(map_->m_Rdr.get(), J(), 1, 2, 15, &features_, "4567"), 4);
  }

  // Adds every street at J.
  void AddAll(CrossStreetVector& list, TiPoint location, INT connectType, CARTOVELSideOfStreet side, bool expanded) {
    for (const RmfFeatureRef& f : features_) {
      map_->AddCrossStreetToVector(exits_, f, J(), location, connectType, side, list, expanded, false);
    }
  }

  int Find(const CrossStreetVector& list, const std::string& name) {
    for (int i = 0; i < list.count(); ++i) {
      if (NameAt(list, i) == name) return i;
    }
    ADD_FAILURE() << "no entry " << name;
    return -1;
  }

  std::vector<RmfFeatureRef> features_;
  RampExitInfoMap exits_;
};

TEST_F(AddCrossStreetTest, EachStreetIsNamedAndOrientedAwayFromTheIntersection) {
  const struct {
    const char* plain;
    const char* expanded;
    int orientation;
  } expected[] = {
      {"Main St", "Main Street", 0},
      {"Oak Rd", "Oak Road", 270},
      {"Unnamed road", "Unnamed road", 180},
      {"Roundabout", "Roundabout", 270},
  };
  const TiPoint location = At(1010, 990);
  for (const bool expanded : {false, true}) {
    SCOPED_TRACE(expanded);
    CrossStreetVector list;
    AddAll(list, location, kConnectTurnRestriction, kLeft, expanded);
    ASSERT_EQ(list.count(), 4);
    for (const auto& e : expected) {
      const int i = Find(list, expanded ? e.expanded : e.plain);
      if (i < 0) continue;
      SCOPED_TRACE(e.plain);
      const CCrossStreet* entry = list.at(i);
      EXPECT_LE(Apart(entry->m_nOrientation, e.orientation), 1) << entry->m_nOrientation;
      EXPECT_EQ(entry->m_nConnectType, kConnectTurnRestriction);
      EXPECT_EQ(entry->m_eSideOfStreet, kLeft);
      EXPECT_EQ(entry->m_bMustCrossStreet, VARIANT_FALSE);
      // The location given, not the intersection, in degrees.
      EXPECT_NEAR(entry->m_dLatitude, location.y * 360.0 / 268435456.0, 1e-9);
      EXPECT_NEAR(entry->m_dLongitude, location.x * 360.0 / 268435456.0, 1e-9);
    }
  }
}

TEST_F(AddCrossStreetTest, TheSameNameAndOrientationIsAddedOnce) {
  CrossStreetVector list = MakeList({{u"Main St", 45}}, kUnknown);
  AddAll(list, J(), kConnectNormal, kUnknown, false);
  AddAll(list, J(), kConnectNormal, kUnknown, false);
  // The same name at another orientation is another street.
  ASSERT_EQ(list.count(), 5);
  EXPECT_EQ(list.at(0)->m_nOrientation, 45);

  // Expanded names are compared as they are stored: "Main Street" is not "Main St".
  AddAll(list, J(), kConnectNormal, kUnknown, true);
  EXPECT_EQ(list.count(), 7);
}

TEST_F(AddCrossStreetTest, AFullListDropsTheNewEntry) {
  CrossStreetVector list = MakeList({{u"Elm", 10}, {u"Pine", 20}}, kUnknown, 2);
  AddAll(list, J(), kConnectNormal, kRight, false);
  ASSERT_EQ(list.count(), 2);
  EXPECT_EQ(NameAt(list, 0), "Elm");
  EXPECT_EQ(NameAt(list, 1), "Pine");
}

}  // namespace
