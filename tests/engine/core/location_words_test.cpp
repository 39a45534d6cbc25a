// What the location object, the virtual position and a waypoint say in words,
// checked as the sentences the English language library gives: the bearing,
// the relative heading, the distance, and the distance-and-heading sentence
// in each of its forms (with and without name, description, compass word,
// direction first; here; either position unknown).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/core/LocationObject.h"
#include "engine/core/PlaceObjects.h"
#include "engine/core/RouteValueObjects.h"
#include "engine/core/Utility.h"
#include "engine/core/ValueObjects.h"
#include "platform/com/owners.h"
#include "platform/os/text.h"
#include "tests/engine/core/engine_objects.h"

namespace {

// Takes a text the callee handed out.
std::string Taken(BSTR text) {
  std::string value = platform::Utf16ToUtf8(std::u16string_view(text == nullptr ? u"" : text, SysStringLen(text)));
  SysFreeString(text);
  return value;
}

Held<CLocationObject> Place(double latitude, double longitude, const char16_t* name = u"",
                            const char16_t* description = u"") {
  Held<CLocationObject> place = Make<CLocationObject>();
  place->SetLatitude(latitude);
  place->SetLongitude(longitude);
  com::Bstr text;
  EXPECT_TRUE(text.Assign(name));
  place->SetName(text);
  EXPECT_TRUE(text.Assign(description));
  place->SetDescription(text);
  return place;
}

// A fresh Utility with the English library found beside the test and the
// default settings (feet, ahead/left words, full compass words).
class LocationWords : public ::testing::Test {
 protected:
  void SetUp() override { vov::Utility::Release(); }
  void TearDown() override { vov::Utility::Release(); }
  CSystemSettingsObject& System() { return vov::Utility::Instance()->SystemSettings(); }
};

// From the start, a bakery 0.001 degrees (364 feet, 111 metres) due north.
constexpr double kLatitude = 53.5570;
constexpr double kLongitude = 13.2610;
constexpr double kNorth = kLatitude + 0.001;

TEST_F(LocationWords, DistanceAndHeadingSentenceInEachForm) {
  ASSERT_TRUE(vov::Utility::Instance()->LanguageLoaded());
  struct Row {
    const char* what;
    double fromLatitude;
    double toLatitude;
    double toLongitude;
    const char16_t* description;
    SHORT heading;
    bool withName;  // GetDistanceAndHeadingAndName rather than GetDistanceAndHeading
    bool details, compass, directionFirst;
    RelativeHeadingType mode;
    const char* said;
  };
  const Row rows[] = {
      {"no name asked", kLatitude, kNorth, kLongitude, u"", 0, false, false, false, false, AheadLeft,
       "364 feet ahead"},
      {"with the name, heading east", kLatitude, kNorth, kLongitude, u"", 90, true, false, false, false, AheadLeft,
       "Bakery, 364 feet to the left"},
      {"direction first", kLatitude, kNorth, kLongitude, u"", 90, true, false, false, true, AheadLeft,
       "Bakery, to the left, 364 feet"},
      {"with the description", kLatitude, kNorth, kLongitude, u"corner of Elm", 90, true, true, false, false,
       AheadLeft, "Bakery, corner of Elm, 364 feet to the left"},
      {"description first with direction first", kLatitude, kNorth, kLongitude, u"corner of Elm", 90, true, true,
       false, true, AheadLeft, "Bakery, corner of Elm, to the left, 364 feet"},
      {"a description the name holds is not told", kLatitude, kNorth, kLongitude, u"Bake", 90, true, true, false,
       false, AheadLeft, "Bakery, 364 feet to the left"},
      {"the compass word after the direction", kLatitude, kNorth, kLongitude, u"", 90, true, false, true, false,
       AheadLeft, "Bakery, 364 feet to the left, north"},
      {"no compass word without a heading", kLatitude, kNorth, kLongitude, u"", -1, true, false, true, false,
       AheadLeft, "Bakery, 364 feet north"},
      {"degrees mode tells the compass itself", kLatitude, kNorth, kLongitude, u"", 90, true, false, true, false,
       LeftRightDegreesCompass, "Bakery, 364 feet north, 90 degrees to the left"},
      {"clock face", kLatitude, kNorth, kLongitude, u"", 90, true, false, false, false, ClockFace,
       "Bakery, 364 feet at 9 o'clock"},
      {"here", kLatitude, kLatitude, kLongitude, u"", 90, true, false, true, false, AheadLeft, "Bakery, here"},
      {"here without the name", kLatitude, kLatitude, kLongitude, u"", 90, false, false, false, false, AheadLeft,
       "here"},
      {"the bakery's position unknown", kLatitude, 0.0, 0.0, u"", 90, true, false, false, false, AheadLeft,
       "Bakery, position unknown"},
      {"the bakery's position unknown, no name asked", kLatitude, 0.0, 0.0, u"", 90, false, false, false, false,
       AheadLeft, "position unknown"},
      {"one's own position unknown", 0.0, kNorth, kLongitude, u"", 90, true, false, false, false, AheadLeft,
       "Bakery, your position is unknown"},
      {"one's own position unknown, with the description", 0.0, kNorth, kLongitude, u"corner of Elm", 90, true,
       true, false, false, AheadLeft, "Bakery, corner of Elm, your position is unknown"},
      {"one's own position unknown, no name asked", 0.0, kNorth, kLongitude, u"", 90, false, false, false, false,
       AheadLeft, "position unknown"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ASSERT_EQ(System().SetHeadingMode(row.mode), S_OK);
    Held<CLocationObject> from = Place(row.fromLatitude, row.fromLatitude == 0.0 ? 0.0 : kLongitude);
    Held<CLocationObject> to = Place(row.toLatitude, row.toLongitude, u"Bakery", row.description);
    BSTR said = nullptr;
    if (row.withName) {
      Held<CDescriptionConfigurationObject> config = Make<CDescriptionConfigurationObject>();
      config->SetIncludeDescriptionDetails(row.details ? VARIANT_TRUE : VARIANT_FALSE);
      config->SetIncludeCompassDirection(row.compass ? VARIANT_TRUE : VARIANT_FALSE);
      config->SetDirectionInformationFirst(row.directionFirst ? VARIANT_TRUE : VARIANT_FALSE);
      ASSERT_EQ(from->GetDistanceAndHeadingAndName(row.heading, to.get(), config.get(), &said), S_OK);
    } else {
      ASSERT_EQ(from->GetDistanceAndHeading(row.heading, to.get(), &said), S_OK);
    }
    EXPECT_EQ(Taken(said), row.said);
  }
}

TEST_F(LocationWords, BearingRelativeHeadingAndDistanceInWords) {
  // From (10, 10), a place 0.01 degrees east: bearing 89, 3,590 feet (0.67
  // miles), 1,094 metres.
  Held<CLocationObject> from = Place(10.0, 10.0);
  Held<CLocationObject> east = Place(10.0, 10.01);
  Held<CLocationObject> same = Place(10.0, 10.0);
  Held<CLocationObject> nowhere = Place(0.0, 0.0);
  BSTR said = nullptr;

  ASSERT_EQ(from->GetBearing(HeadingDegrees, east.get(), &said), S_OK);
  EXPECT_EQ(Taken(said), "89");
  ASSERT_EQ(from->GetBearing(HeadingCompass, east.get(), &said), S_OK);
  EXPECT_EQ(Taken(said), "east");
  ASSERT_EQ(from->GetBearing(HeadingCompass, same.get(), &said), S_OK);
  EXPECT_EQ(Taken(said), "direction unknown");
  ASSERT_EQ(from->GetBearing(HeadingCompass, nowhere.get(), &said), S_OK);
  EXPECT_EQ(Taken(said), "location unknown");

  ASSERT_EQ(from->GetRelativeHeading(-1, east.get(), &said), S_OK);
  EXPECT_EQ(Taken(said), "east") << "without a heading, the compass word";
  ASSERT_EQ(from->GetRelativeHeading(0, east.get(), &said), S_OK);
  EXPECT_EQ(Taken(said), "to the right");
  ASSERT_EQ(from->GetRelativeHeading(180, east.get(), &said), S_OK);
  EXPECT_EQ(Taken(said), "to the left");
  ASSERT_EQ(System().SetHeadingMode(ClockFace), S_OK);
  ASSERT_EQ(from->GetRelativeHeading(0, east.get(), &said), S_OK);
  EXPECT_EQ(Taken(said), "at 3 o'clock");
  ASSERT_EQ(from->GetRelativeHeading(0, same.get(), &said), S_OK);
  EXPECT_EQ(Taken(said), "direction unknown");
  ASSERT_EQ(nowhere->GetRelativeHeading(0, east.get(), &said), S_OK);
  EXPECT_EQ(Taken(said), "location unknown");

  ASSERT_EQ(from->GetDistanceDescription(east.get(), &said), S_OK);
  EXPECT_EQ(Taken(said), "0.67 miles");
  ASSERT_EQ(System().SetUnits(Metric), S_OK);
  ASSERT_EQ(from->GetDistanceDescription(east.get(), &said), S_OK);
  EXPECT_EQ(Taken(said), "1.09 kilometres");
  ASSERT_EQ(from->GetDistanceDescription(nowhere.get(), &said), S_OK);
  EXPECT_EQ(Taken(said), "location unknown");

  EXPECT_EQ(from->GetBearing(HeadingDegrees, nullptr, &said), E_POINTER);
  EXPECT_EQ(from->GetDistanceDescription(east.get(), nullptr), E_POINTER);
}

TEST_F(LocationWords, VirtualHeadingAndWaypointTurnInWords) {
  Held<CVirtualObject> position = Make<CVirtualObject>();
  BSTR said = nullptr;
  ASSERT_EQ(position->GetHeading(HeadingCompass, &said), S_OK);
  EXPECT_EQ(Taken(said), "direction unknown");
  ASSERT_EQ(position->SetHeading(-270), S_OK);
  ASSERT_EQ(position->GetHeading(HeadingDegrees, &said), S_OK);
  EXPECT_EQ(Taken(said), "270");
  ASSERT_EQ(position->GetHeading(HeadingCompass, &said), S_OK);
  EXPECT_EQ(Taken(said), "west");

  struct Row {
    const char* what;
    bool turning;
    SHORT afterTurn;
    SHORT reverseOrientation;
    SHORT heading;
    const char* said;
  };
  const Row rows[] = {
      {"not a turning point", false, 90, 180, 0, ""},
      {"no heading after the turn", true, -1, 180, 0, ""},
      {"a right turn", true, 90, 180, 0, "Turn to the right"},
      {"within 23 degrees is going on", true, 22, 180, 0, "Continue ahead"},
      {"across north", true, 350, 180, 5, "Continue ahead"},
      {"without a heading, the way along the street into the waypoint", true, 270, 180, -1, "Turn to the left"},
      {"turning back", true, 180, 180, 0, "Turn back the way you came"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Held<CWaypointObject> waypoint = Make<CWaypointObject>();
    waypoint->SetTurningPoint(row.turning ? VARIANT_TRUE : VARIANT_FALSE);
    waypoint->SetTurnCompleteHeadingDegrees(row.afterTurn);
    waypoint->SetStreetOrientationReverse(row.reverseOrientation);
    ASSERT_EQ(waypoint->GetTurningInfo(row.heading, &said), S_OK);
    EXPECT_EQ(Taken(said), row.said);
  }
}

}  // namespace
