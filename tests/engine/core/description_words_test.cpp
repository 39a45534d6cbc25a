// The engine's description words: distances, compass points, relative
// directions, the clock face, spell decorators, keywords and the template
// expanders, checked as the sentences the English language library gives.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/EngineUtilities.h"
#include "engine/core/LocationObject.h"
#include "engine/core/RouteValueObjects.h"
#include "engine/core/Utility.h"
#include "platform/com/owners.h"
#include "platform/os/text.h"
#include "tests/engine/core/engine_objects.h"

namespace {

std::string Utf8(const std::u16string& text) { return platform::Utf16ToUtf8(text); }

void SetText(HRESULT (STDMETHODCALLTYPE ILocationObject::*setter)(BSTR), ILocationObject* object,
             const char16_t* text) {
  com::Bstr value;
  ASSERT_TRUE(value.Assign(text));
  ASSERT_EQ((object->*setter)(value), S_OK);
}

Held<CLocationObject> Place(const char16_t* name, const char16_t* description, double latitude = 10.0,
                            double longitude = 10.0) {
  Held<CLocationObject> place = Make<CLocationObject>();
  SetText(&ILocationObject::SetName, place.get(), name);
  SetText(&ILocationObject::SetDescription, place.get(), description);
  place->SetLatitude(latitude);
  place->SetLongitude(longitude);
  return place;
}

// A route waypoint as route following hands it out.
Held<CWaypointObject> Waypoint(SHORT index, const char16_t* name, const char16_t* description, bool userPoint,
                               const char16_t* streetForward) {
  Held<CWaypointObject> waypoint = Make<CWaypointObject>();
  waypoint->SetIndex(index);
  com::Bstr text;
  EXPECT_TRUE(text.Assign(name));
  waypoint->SetName(text);
  EXPECT_TRUE(text.Assign(description));
  waypoint->SetDescription(text);
  EXPECT_TRUE(text.Assign(streetForward));
  waypoint->SetStreetNameForward(text);
  waypoint->SetUserPoint(userPoint ? VARIANT_TRUE : VARIANT_FALSE);
  return waypoint;
}

// A fresh Utility with the English library and default settings.
class DescriptionWords : public ::testing::Test {
 protected:
  void SetUp() override {
    vov::Utility::Release();
    vov::SetManualFix(false);
    ASSERT_TRUE(Words().LanguageLoaded());
  }
  void TearDown() override {
    vov::SetManualFix(false);
    vov::Utility::Release();
  }
  static vov::Utility& Words() { return *vov::Utility::Instance(); }
  static vov::SystemSettings& System() { return Words().SystemSettings().Record(); }
  static void UseTemplates() {
    ASSERT_TRUE(Words().SetResources(platform::Utf8ToUtf16(LEXIFORN_DESCRIPTION_TEMPLATES_PATH)));
  }
};

// ---- clock face ----------------------------------------------------------------------------

TEST(ClockFace, HoursSpanThirtyDegreesAroundTheirDirection) {
  struct Case {
    INT heading, bearing, hour;
  };
  const std::vector<Case> cases = {
      {0, 0, 12},     {0, 15, 12},    {0, 16, 1},     {0, 45, 1},     {0, 46, 2},    {0, 105, 3},
      {0, 106, 4},    {0, 195, 6},    {0, 196, 7},    {0, 315, 10},   {0, 316, 11},  {0, 345, 11},
      {0, 346, 12},   {0, 359, 12},   {90, 0, 9},     {350, 10, 1},   {10, 350, 11}, {0, 400, 1},
      {800, 0, 0},    {0, -500, 0},   {0, 360, 12},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(vov::GetClockFaceDirection(c.heading, c.bearing), c.hour) << c.heading << " -> " << c.bearing;
  }
  // The extremes of the integers neither overflow nor leave the dial.
  for (INT heading : {INT_MIN, INT_MAX}) {
    for (INT bearing : {INT_MIN, INT_MAX}) {
      const INT hour = vov::GetClockFaceDirection(heading, bearing);
      EXPECT_TRUE(hour >= 0 && hour <= 12) << heading << " -> " << bearing;
    }
  }
}

// ---- distances -----------------------------------------------------------------------------

TEST_F(DescriptionWords, DistancesInWords) {
  struct Case {
    Units units;
    LONG distance;
    bool rounded;
    const char* words;
  };
  const std::vector<Case> cases = {
      {Metric, 199, false, "199 metres"},
      {Metric, 200, false, "0.20 kilometres"},
      {Metric, 1000, false, "1.00 kilometres"},
      {Metric, 1234, false, "1.23 kilometres"},
      {Metric, 2050, false, "2.05 kilometres"},
      {Metric, 199, true, "199 metres"},
      {Metric, 250, true, "about 250 metres"},
      {Metric, 300, true, "about half a kilometre"},
      {Metric, 599, true, "about half a kilometre"},
      {Metric, 600, true, "less than a kilometre"},
      {Metric, 1999, true, "about 1 kilometre"},
      {Metric, 2000, true, "about 2 kilometres"},
      {Imperial, 999, false, "999 feet"},
      {Imperial, 1000, false, "0.18 miles"},
      {Imperial, 5280, false, "1.00 miles"},
      {Imperial, 5809, false, "1.09 miles"},
      {Imperial, 5810, false, "1.10 miles"},
      {Imperial, 10559, false, "1.99 miles"},
      {Imperial, 1519, true, "about a quarter mile"},
      {Imperial, 1520, true, "about half a mile"},
      {Imperial, 3040, true, "less than a mile"},
      {Imperial, 5280, true, "about 1 mile"},
      {Imperial, 10560, true, "about 2 miles"},
      // Hundredths of a nautical mile are 60.76 feet: one nautical mile and
      // 6,075 feet is 1.99, and half of one is 0.50.
      {Nautical, 6076, false, "1.00 nautical miles"},
      {Nautical, 12151, false, "1.99 nautical miles"},
      {Nautical, 3038, false, "0.50 nautical miles"},
      {Nautical, 6137, false, "1.01 nautical miles"},
      {Nautical, 1000, true, "about a quarter nautical mile"},
      {Nautical, 3040, true, "less than a nautical mile"},
      {Nautical, 12152, true, "about 2 nautical miles"},
      // British nautical miles are spoken with the statute mile's words.
      {BritishNautical, 12159, false, "1.99 miles"},
      {BritishNautical, 6080, true, "about 1 mile"},
      {BritishNautical, 999, false, "999 feet"},
  };
  for (const Case& c : cases) {
    System().units = c.units;
    EXPECT_EQ(Utf8(Words().DistanceDescription(c.distance, c.rounded)), c.words)
        << "units " << c.units << ", " << c.distance << (c.rounded ? " rounded" : "");
  }
}

// The near threshold is kept in feet and compared in the unit the distance
// comes in: metres for Metric, feet for every other unit.
TEST_F(DescriptionWords, ArrivedNearThresholdInTheDistanceUnit) {
  struct Case {
    Units units;
    LONG distance;
    bool near;
  };
  const std::vector<Case> cases = {
      {Imperial, 0, true},   {Imperial, 12, true},  {Imperial, 13, false}, {Imperial, -1, false},
      {Metric, 4, true},     {Metric, 5, false},    {Metric, -1, false},   {Nautical, 12, true},
      {Nautical, 13, false}, {BritishNautical, 12, true},
  };
  ASSERT_EQ(System().arrivedNearThresholdFeet, 12);
  for (const Case& c : cases) {
    System().units = c.units;
    EXPECT_EQ(Words().IsWithinArrivedNearThreshold(c.distance), c.near) << c.units << ", " << c.distance;
  }
}

// ---- compass and headings ------------------------------------------------------------------

TEST_F(DescriptionWords, CompassPointsAndHeadings) {
  struct Case {
    SystemDescriptions wording;
    LONG degrees;
    const char* words;
  };
  const std::vector<Case> cases = {
      {Full, 0, "north"},          {Full, 22, "north"},     {Full, 23, "northeast"}, {Full, 90, "east"},
      {Full, 135, "southeast"},    {Full, 200, "south"},    {Full, 225, "southwest"}, {Full, 270, "west"},
      {Full, 337, "northwest"},    {Full, 338, "north"},    {Full, 360, "north"},
      {Full, 361, "direction unknown"}, {Full, -5, "direction unknown"},
      {Short, 200, "S"},           {Both, 200, "south (S)"}, {Short, 361, "direction unknown"},
  };
  for (const Case& c : cases) {
    System().defaultCompassDescriptions = c.wording;
    EXPECT_EQ(Utf8(Words().CompassPointName(c.degrees)), c.words) << c.wording << ", " << c.degrees;
  }
  System().defaultCompassDescriptions = Full;
  EXPECT_EQ(Utf8(Words().HeadingDescription(-1, true)), "direction unknown");
  EXPECT_EQ(Utf8(Words().HeadingDescription(-1, false)), "direction unknown");
  EXPECT_EQ(Utf8(Words().HeadingDescription(95, false)), "95");
  EXPECT_EQ(Utf8(Words().HeadingDescription(95, true)), "east");
}

// ---- relative directions -------------------------------------------------------------------

TEST_F(DescriptionWords, RelativeDirectionsByHeadingMode) {
  struct Case {
    RelativeHeadingType mode;
    bool manual, turnWords;
    double heading;
    LONG bearing;
    const char* words;
  };
  const std::vector<Case> cases = {
      // Heading 90.7 counts as 90: the bearing 0 lies at 270, to the left.
      {AheadLeft, false, false, 90.7, 0, "to the left"},
      {AheadLeft, false, false, 0, 22, "ahead"},
      {AheadLeft, false, false, 0, 23, "ahead to the right"},
      {AheadLeft, true, false, 0, 23, "ahead"},
      {AheadLeft, false, false, 0, 90, "to the right"},
      {AheadLeft, false, false, 0, 120, "behind to the right"},
      {AheadLeft, false, true, 0, 120, "to the right"},
      {AheadLeft, true, false, 0, 120, "behind"},
      {AheadLeft, false, false, 0, 150, "behind"},
      {AheadLeft, false, false, 0, 180, "behind"},
      {AheadLeft, false, true, 0, 180, "back the way you came"},
      {AheadLeft, false, false, 0, 210, "behind to the left"},
      {AheadLeft, false, true, 0, 210, "to the left"},
      {AheadLeft, true, false, 0, 240, "behind"},
      {AheadLeft, false, false, 0, 240, "behind to the left"},
      {AheadLeft, false, false, 0, 300, "ahead to the left"},
      {AheadLeft, true, false, 0, 300, "ahead"},
      {AheadLeft, false, false, 10, 0, "ahead"},
      {AheadLeft, false, false, -1.0, 0, "direction unknown"},
      {AheadLeft, false, false, 0, -400, "direction unknown"},
      {AheadLeft, false, false, std::nan(""), 0, "direction unknown"},
      {ClockFace, false, false, 0, 90, "at 3 o'clock"},
      {ClockFace, false, false, 350, 10, "at 1 o'clock"},
      {ClockFace, true, true, 0, 180, "at 6 o'clock"},
      {ClockFace, false, false, 0, -500, "direction unknown"},
      {Combo, false, false, 0, 0, "ahead"},
      {Combo, false, false, 0, 30, "at 1 o'clock"},
      {Combo, false, false, 0, 50, "at 2 o'clock"},
      {Combo, false, false, 0, 90, "to the right"},
      {Combo, false, false, 0, 120, "at 4 o'clock"},
      {Combo, false, false, 0, 150, "at 5 o'clock"},
      {Combo, false, false, 0, 180, "behind"},
      {Combo, false, true, 0, 180, "back the way you came"},
      {Combo, false, false, 0, 210, "at 7 o'clock"},
      {Combo, false, false, 0, 240, "at 8 o'clock"},
      {Combo, false, false, 0, 270, "to the left"},
      {Combo, false, false, 0, 300, "at 10 o'clock"},
      {Combo, true, false, 0, 330, "at 11 o'clock"},
      // Heading 350, bearing 10: 20 degrees off, the bearing clockwise of it.
      {LeftRightDegreesCompass, false, false, 350, 10, "north, 20 degrees to the right"},
      {LeftRightDegreesCompass, false, false, 10, 350, "north, 20 degrees to the left"},
      {LeftRightDegreesCompass, false, false, 90, 90, "east, 0 degrees ahead"},
      {LeftRightDegreesCompass, false, false, 0, 180, "south, 180 degrees to the right"},
  };
  for (const Case& c : cases) {
    System().headingMode = c.mode;
    vov::SetManualFix(c.manual);
    EXPECT_EQ(Utf8(Words().RelativeHeadingDescription(c.heading, c.bearing, c.turnWords)), c.words)
        << "mode " << c.mode << (c.manual ? " manual" : "") << (c.turnWords ? " turn" : "") << ", heading "
        << c.heading << ", bearing " << c.bearing;
  }
}

// Every direction text says where something lies, so each holds a keyword;
// other texts hold none. Degree wordings and inertial receivers have none to
// look for.
TEST_F(DescriptionWords, KeywordsAreTheDirectionWords) {
  std::vector<std::u16string> directions;
  for (UINT id = 20186; id <= 20194; ++id) directions.push_back(Words().LoadResourceString(id));
  directions.push_back(Words().LoadResourceString(20169));
  directions.push_back(Words().FormatResourceString(20580, {7}));
  System().headingMode = LeftRightDegreesCompass;
  directions.push_back(Words().RelativeHeadingDescription(0, 45, false));
  System().headingMode = AheadLeft;
  for (const std::u16string& text : directions) {
    ASSERT_FALSE(text.empty());
    EXPECT_FALSE(Words().ContainsKeyword(text)) << Utf8(text);
  }
  for (const char16_t* text : {u"Main Street", u"120 feet", u"", u"Ahead"}) {
    EXPECT_TRUE(Words().ContainsKeyword(text)) << Utf8(text);
  }
  System().headingMode = LeftRightDegreesCompass;
  EXPECT_FALSE(Words().ContainsKeyword(u"Main Street"));
  System().headingMode = ClockFace;
  EXPECT_TRUE(Words().ContainsKeyword(u"Main Street"));
  Words().GPSSettings().Record().receiverType = GPSTypeInertial;
  EXPECT_FALSE(Words().ContainsKeyword(u"Main Street"));
}

// ---- spell decorators ----------------------------------------------------------------------

TEST(SpellDecorators, RemovedPairByPair) {
  struct Case {
    std::u16string text, plain;
  };
  const std::u16string longest = u"<<" + std::u16string(1021, u'a') + u">>";  // 1,025 characters
  const std::u16string tooLong = u"<<" + std::u16string(1022, u'a') + u">>";  // 1,026 characters
  const std::vector<Case> cases = {
      {u"<<Main Street>>", u"Main Street"},
      {u"Corner of <<Elm>> and <<Oak>>", u"Corner of Elm and Oak"},
      {u"", u""},
      {u">", u">"},
      {u"a", u"a"},
      {u"<<", u""},
      {u"<<<", u"<"},
      {u"a>", u"a"},
      {u"a<", u"a<"},
      {u"x>>>", u"x"},
      {u"a < b > c", u"a < b > c"},
      {longest, std::u16string(1021, u'a')},
      {tooLong, tooLong},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(vov::Utility::RemoveSpellDecorators(c.text), c.plain) << Utf8(c.text);
  }
}

TEST_F(DescriptionWords, DecoratorsFollowTheSetting) {
  EXPECT_EQ(Words().AddSpellDecorators(u"Elm"), u"Elm");
  EXPECT_EQ(Words().DecorateName(u"Elm"), u"Elm");
  EXPECT_EQ(Words().UndecorateName(u"<<Elm>>"), u"<<Elm>>");
  System().includeSpellDecorators = true;
  EXPECT_EQ(Words().AddSpellDecorators(u"Elm"), u"<<Elm>>");
  EXPECT_EQ(Words().AddSpellDecorators(u""), u"");
  EXPECT_EQ(Words().AddSpellDecorators(u"<<Elm>>"), u"<<<<Elm>>>>");  // no test for marks already there
  EXPECT_EQ(Words().DecorateName(u"Elm"), u"<<Elm>>");
  EXPECT_EQ(Words().UndecorateName(u"<<Elm>>"), u"Elm");
}

// ---- expanders -----------------------------------------------------------------------------

// The codes of the full expander, each in a template of the test library.
TEST_F(DescriptionWords, FullExpanderCodes) {
  UseTemplates();
  const Held<CLocationObject> library = Place(u"Library", u"corner of Elm");
  const Held<CLocationObject> bare = Place(u"Main", u"");
  const Held<CLocationObject> marked = Place(u"<<Elm>> Park", u"gate");
  const vov::DistanceHeadingRecord record{10, u"ahead", 120};
  struct Case {
    UINT id;
    ILocationObject* place;
    const vov::DistanceHeadingRecord* record;
    RelativeHeadingType mode;
    bool spell;
    const char16_t* extra;
    const char* sentence;
  };
  const std::vector<Case> cases = {
      {29001, nullptr, nullptr, AheadLeft, false, u"", "Cost: $5"},
      {29002, nullptr, nullptr, AheadLeft, false, u"", "ab"},
      // The space and the comma before an empty description go; the full
      // stop after it stays.
      {29003, bare.get(), nullptr, AheadLeft, false, u"", "Main Street."},
      {29003, library.get(), nullptr, AheadLeft, false, u"", "Main Street, corner of Elm."},
      {29003, nullptr, nullptr, AheadLeft, false, u"", "Main Street."},
      // With the clock face the compass code and the space before it go.
      {29004, library.get(), &record, ClockFace, false, u"", "Library, 120 feet"},
      {29004, library.get(), &record, AheadLeft, false, u"", "Library north, 120 feet"},
      {29004, library.get(), nullptr, AheadLeft, false, u"", "Library , "},  // no record: empty insertions
      {29005, library.get(), &record, AheadLeft, false, u"", "Library: Library, corner of Elm; ahead/ahead north"},
      {29005, library.get(), &record, AheadLeft, true, u"",
       "<<Library>>: <<Library>>, <<corner of Elm>>; ahead/ahead north"},
      {29005, marked.get(), nullptr, AheadLeft, true, u"", "<<Elm>> Park: <<Elm>> Park, <<gate>>; / "},
      {29006, nullptr, nullptr, AheadLeft, false, u"the station", "Near the station."},
      {29006, nullptr, nullptr, AheadLeft, false, u"", "Near."},
      {12345, library.get(), &record, AheadLeft, false, u"x", ""},  // no such template
  };
  for (const Case& c : cases) {
    System().headingMode = c.mode;
    System().includeSpellDecorators = c.spell;
    EXPECT_EQ(Utf8(Words().ExpandDescriptionTemplate(c.id, c.place, c.record, nullptr, GPSMode, nullptr, c.extra)),
              c.sentence)
        << c.id;
  }
}

// The waypoint codes read the waypoints and the numbering settings of the
// mode; the numbered name's own template may name the waypoint again without
// recursing.
TEST_F(DescriptionWords, WaypointCodes) {
  UseTemplates();
  const Held<CWaypointObject> user = Waypoint(3, u"Bench", u"by the pond", true, u"Oak Street");
  const Held<CWaypointObject> plain = Waypoint(4, u"Gate", u"north side", false, u"");
  const Held<CWaypointObject> unnumbered = Waypoint(-1, u"Kiosk", u"", false, u"");
  struct Case {
    IWaypointObject* waypoint;
    IWaypointObject* other;
    Mode mode;
    bool gpsNumbering, virtualNumbering;
    const char* sentence;
  };
  const std::vector<Case> cases = {
      {user.get(), plain.get(), GPSMode, true, false,
       "Bench (waypoint 3)|Gate (waypoint 4)|Bench|by the pond.|Oak Street, waypoint 3."},
      {user.get(), plain.get(), GPSMode, false, true, "Bench|Gate|Bench|by the pond.|Oak Street."},
      // The virtual mode has its own numbering setting.
      {user.get(), nullptr, VirtualMode, true, false, "Bench||Bench|by the pond.|Oak Street."},
      {user.get(), nullptr, VirtualMode, false, true, "Bench (waypoint 3)||Bench|by the pond.|Oak Street, waypoint 3."},
      // Not a user point: no description. No street ahead: nothing to trim
      // after a "|".
      {plain.get(), unnumbered.get(), GPSMode, true, true, "Gate (waypoint 4)|Kiosk|Gate|.|, waypoint 4."},
      {nullptr, nullptr, GPSMode, true, true, "|||.|."},
  };
  for (const Case& c : cases) {
    Words().RouteSettings(GPSMode).Record().waypointNumbering = c.gpsNumbering;
    Words().RouteSettings(VirtualMode).Record().waypointNumbering = c.virtualNumbering;
    EXPECT_EQ(Utf8(Words().ExpandDescriptionTemplate(29007, nullptr, nullptr, c.waypoint, c.mode, c.other, u"")),
              c.sentence);
  }
}

TEST_F(DescriptionWords, WaypointNamesInEnglish) {
  const Held<CWaypointObject> named = Waypoint(3, u"Bench", u"", false, u"");
  const Held<CWaypointObject> nameless = Waypoint(5, u"", u"", false, u"");
  CRouteSettingsObject& route = Words().RouteSettings(GPSMode);
  struct Case {
    IWaypointObject* waypoint;
    bool numbering, spell;
    SystemDescriptions wording;
    const char* name;
  };
  const std::vector<Case> cases = {
      {named.get(), true, false, Full, "waypoint 3, Bench"},
      {named.get(), true, true, Short, "number 3, <<Bench>>"},
      {named.get(), true, false, Both, "waypoint number 3, Bench"},
      {named.get(), false, true, Full, "<<Bench>>"},
      {nameless.get(), true, false, Full, "waypoint 5"},
      {nameless.get(), false, false, Full, ""},
      {nullptr, true, false, Full, ""},
  };
  for (const Case& c : cases) {
    route.Record().waypointNumbering = c.numbering;
    route.Record().numberingDescriptions = c.wording;
    System().includeSpellDecorators = c.spell;
    EXPECT_EQ(Utf8(Words().WaypointNameText(c.waypoint, GPSMode)), c.name);
  }
}

TEST_F(DescriptionWords, SimpleAndExploreExpanders) {
  UseTemplates();
  EXPECT_EQ(Words().ExpandSimpleTemplate(29010, u"Elm", u"Oak", u"now"), u"Elm to Oak$ now!");
  EXPECT_EQ(Words().ExpandSimpleTemplate(29010, u"", u"", u""), u" to $ !");
  EXPECT_EQ(Words().ExpandSimpleTemplate(12345, u"Elm", u"Oak", u"now"), u"");

  struct Case {
    const char16_t *d, *D, *T, *E, *U;
    const char* sentence;
  };
  const std::vector<Case> cases = {
      {u"120 feet", u"ahead", u"Elm", u"turn", u"end", "120 feet, ahead, W. Elm, turn, end."},
      // An empty distance or direction takes its ", " along.
      {u"", u"ahead", u"Elm", u"turn", u"end", "ahead, W. Elm, turn, end."},
      {u"120 feet", u"", u"Elm", u"turn", u"end", "120 feet, W. Elm, turn, end."},
      // Empty $T, $E, $U trim the space and the punctuation before them.
      {u"120 feet", u"ahead", u"", u"turn", u"end", "120 feet, ahead, W, turn, end."},
      {u"120 feet", u"ahead", u"Elm", u"", u"", "120 feet, ahead, W. Elm."},
      {u"", u"", u"", u"", u"", "W."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf8(Words().WaypointExploreDescription(29011, c.d, c.D, u"W", c.T, c.E, c.U)), c.sentence);
  }
}

// The location object's sentences, as its templates read in English.
TEST_F(DescriptionWords, DistanceAndHeadingSentences) {
  const Held<CLocationObject> library = Place(u"Library", u"corner of Elm");
  const vov::DistanceHeadingRecord record{10, u"ahead to the right", 120};
  struct Case {
    UINT id;
    const char* sentence;
  };
  const std::vector<Case> cases = {
      {22000, "Library, corner of Elm, here"},
      {22001, "Library, here"},
      {22002, "here"},
      {22003, "120 feet ahead to the right"},
      {22004, "Library, corner of Elm, 120 feet ahead to the right"},
      {22005, "Library, corner of Elm, ahead to the right, 120 feet"},
      {22006, "Library, 120 feet ahead to the right"},
      {22007, "Library, ahead to the right, 120 feet"},
      {22010, "Library, corner of Elm, your position is unknown"},
      {20179, "Library, position unknown"},
      {20180, "Library, your position is unknown"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf8(Words().ExpandDescriptionTemplate(c.id, library.get(), &record, nullptr, GPSMode, nullptr, u"")),
              c.sentence)
        << c.id;
  }
  // Without a description its ", " goes with it.
  const Held<CLocationObject> bare = Place(u"Library", u"");
  EXPECT_EQ(Utf8(Words().ExpandDescriptionTemplate(22000, bare.get(), &record, nullptr, GPSMode, nullptr, u"")),
            "Library, here");
  EXPECT_EQ(Utf8(Words().FormatResourceString(21009, {Words().LoadResourceString(20189)})), "Turn to the left");
  EXPECT_EQ(Utf8(Words().FormatResourceString(21010, {Words().LoadResourceString(20186)})), "Continue ahead");
}

// Texts whose placeholders do not fit what is filled in give a wrong
// sentence, never a crash or a read past the arguments.
TEST_F(DescriptionWords, MismatchedTextsGiveWrongSentencesOnly) {
  UseTemplates();
  System().headingMode = ClockFace;
  EXPECT_EQ(Utf8(Words().RelativeHeadingDescription(0, 90, false)), "3 o'clock %d %s");
  // The compass word where a number was asked for, the degrees as text, the
  // side word (not in this library) empty, then two placeholders left over.
  System().headingMode = LeftRightDegreesCompass;
  EXPECT_EQ(Utf8(Words().RelativeHeadingDescription(350, 10, false)), "north%: 20  %s %d");
  System().units = Metric;
  EXPECT_EQ(Utf8(Words().DistanceDescription(150, false)), "150 metres %d");
  // Texts the library lacks come out empty.
  EXPECT_EQ(Words().DistanceDescription(250, true), u"");
  EXPECT_EQ(Words().DistanceDescription(1234, false), u"");
}

// ---- records and places --------------------------------------------------------------------

TEST_F(DescriptionWords, DistanceHeadingRecordsAskTheFromLocation) {
  const Held<CLocationObject> here = Place(u"here", u"", 10.0, 10.0);
  const Held<CLocationObject> north = Place(u"north", u"", 10.01, 10.0);
  const Held<CWaypointObject> waypoint = Waypoint(2, u"north", u"", false, u"");
  waypoint->SetLatitude(10.01);
  waypoint->SetLongitude(10.0);

  LONG distance = 0;
  ASSERT_EQ(here->GetDistance(north.get(), &distance), S_OK);
  ASSERT_GT(distance, 3000);
  BSTR raw = nullptr;
  const HRESULT relative = here->GetRelativeHeading(90, north.get(), &raw);
  com::Bstr relativeText;
  relativeText.Reset(raw);
  const std::u16string words = SUCCEEDED(relative) && raw != nullptr ? std::u16string(raw, SysStringLen(raw)) : u"";

  for (const vov::DistanceHeadingRecord& record :
       {Words().NewDistanceHeadingRecord(here.get(), north.get(), 90),
        Words().NewWaypointDistanceHeadingRecord(here.get(), waypoint.get(), 90)}) {
    EXPECT_EQ(record.distance, distance);
    EXPECT_EQ(record.bearing, 0);
    EXPECT_EQ(record.relativeHeading, words);
  }
  const vov::DistanceHeadingRecord none = Words().NewDistanceHeadingRecord(nullptr, north.get(), 90);
  EXPECT_EQ(none.distance, -1);
  EXPECT_EQ(none.bearing, -1);
  EXPECT_TRUE(none.relativeHeading.empty());
  const vov::DistanceHeadingRecord noWaypoint = Words().NewWaypointDistanceHeadingRecord(here.get(), nullptr, 90);
  EXPECT_EQ(noWaypoint.distance, -1);
}

TEST(SameLocation, TenthsOfANanodegree) {
  struct Case {
    double lat1, lon1, lat2, lon2;
    bool same;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<Case> cases = {
      {53.5, 13.25, 53.5, 13.25, true},
      {53.5, 13.25, 53.5 + 1e-12, 13.25, true},
      {53.5, 13.25, 53.5 + 2e-10, 13.25, false},
      {53.5, 13.25, 53.5, 13.2500000002, false},
      {-33.5, -70.25, -33.5, -70.25, true},
      {nan, 0, nan, 0, false},
      {1e300, 0, 1e300, 0, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(vov::IsSameLocation(c.lat1, c.lon1, c.lat2, c.lon2), c.same) << c.lat1 << "," << c.lon1;
  }
  const Held<CLocationObject> place = Place(u"", u"", 53.5, 13.25);
  EXPECT_TRUE(vov::IsSameLocation(53.5, 13.25, place.get()));
  EXPECT_FALSE(vov::IsSameLocation(53.5, 13.26, place.get()));
  EXPECT_FALSE(vov::IsSameLocation(53.5, 13.25, nullptr));
}

// ---- the language library ------------------------------------------------------------------

// Every text the engine reads so far is in the English library.
TEST_F(DescriptionWords, EveryTextTheEngineReadsIsInEnglish) {
  std::vector<UINT> ids = {20169, 20178, 20179, 20180, 20580, 20734, 21005, 21006, 21007, 21009, 21010, 21012,
                           22010, 23096, 23097, 23116, 23117, 29993, 29994};
  auto range = [&ids](UINT first, UINT last) {
    for (UINT id = first; id <= last; ++id) ids.push_back(id);
  };
  range(20186, 20195);
  range(20500, 20507);
  range(20510, 20516);
  range(20520, 20527);
  range(20708, 20731);
  range(22000, 22007);
  range(22013, 22020);
  for (UINT id : ids) EXPECT_FALSE(Words().LoadResourceString(id).empty()) << id;
}

}  // namespace
