// Tests of the map engine's utilities: BSTR helpers and lower-casing, the two
// text containers, visited points, heading similarity, great-circle distance
// and course, the file-existence test and the debug log writer.
#include "mapengine/object/Utilities.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <sstream>
#include <string>

#include "platform/os/clock.h"
#include "platform/os/device.h"

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kDegree = kPi / 180;

// Takes a BSTR that the code under test handed out, checks it is a real
// (non-null) text and frees it.
std::u16string Take(BSTR bstr) {
  EXPECT_NE(bstr, nullptr);
  std::u16string text(BstrView(bstr));
  SysFreeString(bstr);
  return text;
}

// ---- BSTR helpers and lower-casing ------------------------------------------------------

TEST(TextHelpersTest, AssignBstrReplacesTheTextAndKeepsEmbeddedNuls) {
  BSTR field = nullptr;
  EXPECT_TRUE(AssignBstr(field, u"first"));
  EXPECT_EQ(BstrView(field), u"first");
  // Overwriting frees the old text (the sanitizer build's leak checker sees it).
  EXPECT_TRUE(AssignBstr(field, std::u16string(u"second")));
  EXPECT_EQ(BstrView(field), u"second");
  const std::u16string withNul(u"a\0b", 3);
  EXPECT_TRUE(AssignBstr(field, BstrView(field)));  // from its own text
  EXPECT_TRUE(AssignBstr(field, std::u16string_view(withNul)));
  EXPECT_EQ(SysStringLen(field), 3u);
  EXPECT_EQ(BstrView(field), withNul);
  const OLECHAR* none = nullptr;
  EXPECT_TRUE(AssignBstr(field, none));
  EXPECT_NE(field, nullptr);
  EXPECT_EQ(SysStringLen(field), 0u);
  SysFreeString(field);
  EXPECT_TRUE(BstrView(nullptr).empty());
}

TEST(TextHelpersTest, LowerCaseCharMapsLatinGreekAndCyrillicCapitals) {
  struct Case {
    char16_t in;
    char16_t out;
  };
  const Case cases[] = {
      {u'A', u'a'},           {u'Z', u'z'},           {u'@', u'@'},           {u'[', u'['},
      {u'a', u'a'},           {u'5', u'5'},           {u'\u00C0', u'\u00E0'},  // À
      {u'\u00C4', u'\u00E4'},  // Ä
      {u'\u00D6', u'\u00F6'},  // Ö
      {u'\u00DC', u'\u00FC'},  // Ü
      {u'\u00D7', u'\u00D7'},  // multiplication sign stays
      {u'\u00DF', u'\u00DF'},  // ß has no single capital here
      {u'\u00DE', u'\u00FE'},  // Þ
      {u'\u0100', u'\u0101'},  // Ā
      {u'\u0101', u'\u0101'},  {u'\u0130', u'i'},      // İ
      {u'\u0131', u'\u0131'},  // dotless i stays
      {u'\u0139', u'\u013A'},  // Ĺ
      {u'\u0141', u'\u0142'},  // Ł
      {u'\u0147', u'\u0148'},  // Ň
      {u'\u0149', u'\u0149'},  // ŉ stays
      {u'\u0150', u'\u0151'},  // Ő
      {u'\u0160', u'\u0161'},  // Š
      {u'\u0178', u'\u00FF'},  // Ÿ
      {u'\u0179', u'\u017A'},  // Ź
      {u'\u017D', u'\u017E'},  // Ž
      {u'\u017F', u'\u017F'},  // long s stays
      {u'\u0218', u'\u0219'},  // Ș
      {u'\u021A', u'\u021B'},  // Ț
      {u'\u01A0', u'\u01A1'},  // Ơ
      {u'\u0394', u'\u03B4'},  // Δ
      {u'\u03A3', u'\u03C3'},  // Σ
      {u'\u0386', u'\u03AC'},  // Ά
      {u'\u0416', u'\u0436'},  // Ж
      {u'\u0401', u'\u0451'},  // Ё
      {u'\u0462', u'\u0463'},  // Ѣ
      {u'\u1EA0', u'\u1EA1'},  // Ạ
      {u'\u1E9E', u'\u00DF'},  // capital sharp s
      {u'\u4E2D', u'\u4E2D'},  // outside the tables
      {u'\uFFFF', u'\uFFFF'},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(static_cast<int>(LowerCaseChar(c.in)), static_cast<int>(c.out)) << std::hex << int{c.in};
  }
}

TEST(TextHelpersTest, LowerCasingIsStableOnItsOwnResults) {
  // Every lower-case result maps to itself: a key lowered once matches a
  // lookup lowered again.
  for (unsigned c = 0; c <= 0xFFFF; ++c) {
    char16_t once = LowerCaseChar(static_cast<char16_t>(c));
    ASSERT_EQ(LowerCaseChar(once), once) << std::hex << c;
  }
}

TEST(TextHelpersTest, LowerCaseTextLowersEveryCharacter) {
  EXPECT_EQ(LowerCaseText(u"\u00C4USSERE STRA\u00DFE 12, \u0141\u00D3D\u0179"),
            u"\u00E4ussere stra\u00DFe 12, \u0142\u00F3d\u017A");
  EXPECT_EQ(LowerCaseText(static_cast<const OLECHAR*>(nullptr)), u"");
}

// ---- CBstrArray -----------------------------------------------------------------------

TEST(BstrArrayTest, StopsGrowingAtItsCapacity) {
  CBstrArray array(3);
  EXPECT_EQ(array.Capacity(), 3);
  EXPECT_EQ(array.Append(u"alpha.rmf"), 1);
  EXPECT_EQ(array.Append(u"beta.rmf"), 1);
  EXPECT_EQ(array.Append(u"gamma.rmf"), 1);
  EXPECT_EQ(array.Append(u"delta.rmf"), 0);
  EXPECT_EQ(array.Count(), 3);
  EXPECT_EQ(array.Find(u"delta.rmf"), -1);
  EXPECT_EQ(Take(array.Get(2)), u"gamma.rmf");
}

TEST(BstrArrayTest, GetCopiesAndAnswersEmptyOutsideTheFilledSlots) {
  CBstrArray array(4);
  array.Append(u"one");
  array.Append(u"two");
  BSTR copy = array.Get(1);
  EXPECT_EQ(Take(copy), u"two");
  EXPECT_EQ(array.At(1), u"two");  // the array's own text is untouched
  for (int index : {-1, 2, 3, 4, INT_MAX, INT_MIN}) {
    SCOPED_TRACE(index);
    EXPECT_EQ(Take(array.Get(index)), u"");
    EXPECT_TRUE(array.At(index).empty());
  }
}

TEST(BstrArrayTest, FindComparesWholeTextsExactly) {
  CBstrArray array(5);
  const std::u16string withNul(u"Main\0St", 7);
  array.Append(u"Main St");
  array.Append(u"Main");
  array.Append(std::u16string_view(withNul));
  array.Append(u"Main");
  struct Case {
    std::u16string text;
    int index;
  };
  const Case cases[] = {
      {u"Main St", 0}, {u"Main", 1}, {withNul, 2}, {u"main", -1}, {u"Mai", -1}, {u"Main St ", -1}, {u"", -1},
  };
  for (const auto& c : cases) EXPECT_EQ(array.Find(c.text), c.index);
}

TEST(BstrArrayTest, ResetEmptiesAndKeepsTheCapacity) {
  CBstrArray array(2);
  array.Append(u"a");
  array.Append(u"b");
  array.Reset();
  EXPECT_EQ(array.Count(), 0);
  EXPECT_EQ(array.Find(u"a"), -1);
  EXPECT_EQ(array.Append(u"c"), 1);
  EXPECT_EQ(array.Append(u"d"), 1);
  EXPECT_EQ(array.Append(u"e"), 0);
  EXPECT_EQ(Take(array.Get(0)), u"c");
}

TEST(BstrArrayTest, ClearDropsTheSlotsUntilReset) {
  CBstrArray array(2);
  array.Append(u"a");
  array.Clear();
  EXPECT_EQ(array.Count(), 0);
  EXPECT_EQ(array.Append(u"b"), 0);  // no slots to write into
  EXPECT_EQ(Take(array.Get(0)), u"");
  EXPECT_EQ(array.Find(u"a"), -1);
  array.Clear();  // twice is harmless
  array.Reset();
  EXPECT_EQ(array.Append(u"b"), 1);
  EXPECT_EQ(array.Find(u"b"), 0);
}

TEST(BstrArrayTest, EmptyOrNegativeCapacityHoldsNothing) {
  for (int capacity : {0, -1, INT_MIN}) {
    SCOPED_TRACE(capacity);
    CBstrArray array(capacity);
    EXPECT_EQ(array.Capacity(), 0);
    EXPECT_EQ(array.Append(u"x"), 0);
    EXPECT_EQ(array.Count(), 0);
    array.Reset();
    EXPECT_EQ(array.Append(u"x"), 0);
  }
}

// ---- CKeyValueTable ---------------------------------------------------------------------

TEST(KeyValueTableTest, LookupIgnoresTheCaseOfKeys) {
  CKeyValueTable table(8);
  EXPECT_TRUE(table.Add(u"MAIN", u"Main Street"));
  EXPECT_TRUE(table.Add(u"\u00D6STLICHE", u"\u00D6stliche Stra\u00DFe"));
  EXPECT_EQ(table.Keys().At(0), u"main");  // stored lower-cased
  EXPECT_EQ(table.Values().At(0), u"Main Street");  // values unchanged
  struct Case {
    const char16_t* key;
    const char16_t* value;
  };
  const Case cases[] = {
      {u"Main", u"Main Street"},
      {u"main", u"Main Street"},
      {u"MAIN", u"Main Street"},
      {u"\u00F6stliche", u"\u00D6stliche Stra\u00DFe"},
      {u"\u00D6STLICHE", u"\u00D6stliche Stra\u00DFe"},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(table.Contains(c.key));
    EXPECT_EQ(Take(table.Lookup(c.key)), c.value);
    EXPECT_EQ(table.LookupView(c.key), c.value);
  }
}

TEST(KeyValueTableTest, MissingKeysGiveFalseAndAnEmptyText) {
  CKeyValueTable table(4);
  table.Add(u"st", u"Street");
  for (const char16_t* key : {u"elm", u"s", u"street", u"st ", u""}) {
    EXPECT_FALSE(table.Contains(key));
    EXPECT_EQ(Take(table.Lookup(key)), u"");
  }
  EXPECT_FALSE(table.Contains(static_cast<const OLECHAR*>(nullptr)));
}

TEST(KeyValueTableTest, FirstOfDuplicateKeysWins) {
  CKeyValueTable table(4);
  table.Add(u"Ave", u"Avenue");
  table.Add(u"AVE", u"Avenida");
  EXPECT_EQ(table.Count(), 2);
  EXPECT_EQ(Take(table.Lookup(u"ave")), u"Avenue");
}

TEST(KeyValueTableTest, AFullTableDropsFurtherPairs) {
  CKeyValueTable table(2);
  EXPECT_TRUE(table.Add(u"n", u"North"));
  EXPECT_TRUE(table.Add(u"s", u"South"));
  EXPECT_FALSE(table.Add(u"e", u"East"));
  EXPECT_EQ(table.Count(), 2);
  EXPECT_FALSE(table.Contains(u"e"));
  EXPECT_EQ(table.Values().Count(), 2);  // keys and values stay paired

  CKeyValueTable empty(0);
  EXPECT_FALSE(empty.Add(u"n", u"North"));
  EXPECT_EQ(Take(empty.Lookup(u"n")), u"");
}

// ---- visited points -------------------------------------------------------------------------

TEST(VisitedPointsTest, KeepsAHundredDistinctPoints) {
  VisitedPointList list;
  for (int i = 0; i < MAX_VISITED_POINTS; ++i) EXPECT_TRUE(AddVisitedPoint(list, i * 10, -i, i));
  EXPECT_EQ(list.m_nCount, 100);
  EXPECT_FALSE(AddVisitedPoint(list, 5000, 5000, 1));  // the 101st
  EXPECT_EQ(list.m_nCount, 100);
  EXPECT_FALSE(IsVisitedPoint(list, 5000, 5000));
  EXPECT_TRUE(IsVisitedPoint(list, 990, -99));
  EXPECT_TRUE(IsVisitedPoint(list, 0, 0));
}

TEST(VisitedPointsTest, IgnoresARepeatedPoint) {
  VisitedPointList list;
  EXPECT_TRUE(AddVisitedPoint(list, 7, 9, 45));
  EXPECT_FALSE(AddVisitedPoint(list, 7, 9, 270));
  EXPECT_EQ(list.m_nCount, 1);
  EXPECT_EQ(list.m_Points[0].value, 45);
  // Same x or same y alone is another point.
  EXPECT_FALSE(IsVisitedPoint(list, 7, 8));
  EXPECT_FALSE(IsVisitedPoint(list, 9, 7));
  EXPECT_TRUE(AddVisitedPoint(list, 7, 8, 0));
}

TEST(VisitedPointsTest, AnOutOfRangeCountNeverReadsBeyondTheList) {
  VisitedPointList list;
  AddVisitedPoint(list, 1, 1, 0);
  list.m_nCount = 5000;
  EXPECT_TRUE(IsVisitedPoint(list, 1, 1));
  EXPECT_FALSE(IsVisitedPoint(list, 2, 2));
  EXPECT_FALSE(AddVisitedPoint(list, 2, 2, 0));
  list.m_nCount = -3;
  EXPECT_FALSE(IsVisitedPoint(list, 1, 1));
  EXPECT_TRUE(AddVisitedPoint(list, 2, 2, 0));
  EXPECT_EQ(list.m_nCount, 1);
}

// ---- heading similarity ------------------------------------------------------------------

TEST(HeadingTest, SimilarWithinTheToleranceAcrossTheSeam) {
  struct Case {
    int heading;
    int orientation;
    int tolerance;
    bool similar;
  };
  const Case cases[] = {
      {350, 10, 30, true},   // |360 - 340| = 20
      {10, 350, 30, true},   // the same the other way round
      {90, 200, 45, false},  // 110 apart
      {-1, 123, 0, true},    // no heading: anything goes
      {-1, -5000, -10, true},
      {90, 134, 45, true},
      {90, 135, 45, false},  // the tolerance itself is not within
      {0, 359, 2, true},
      {0, 0, 0, false},      // nothing is within a tolerance of 0
      {0, 180, 180, false},
      {0, 180, 181, true},
      {720, 0, 10, false},   // no reduction modulo 360 beyond one seam
      {INT_MIN, INT_MAX, 10, false},
      {INT_MAX, INT_MIN, INT_MAX, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AreHeadingAndOrientationSimilar(c.heading, c.orientation, c.tolerance), c.similar)
        << c.heading << " " << c.orientation << " " << c.tolerance;
  }
}

// ---- great circles ---------------------------------------------------------------------

TEST(GreatCircleTest, OneDegreeIsSixtyNauticalMiles) {
  // One degree along a meridian, and along the equator.
  EXPECT_NEAR(GreatCircleDistance(10 * kDegree, 5 * kDegree, 11 * kDegree, 5 * kDegree), 60.0028, 0.00005);
  EXPECT_NEAR(GreatCircleDistance(0, 0, 0, kDegree), 60.0028, 0.00005);
}

TEST(GreatCircleTest, DistanceEdgeCases) {
  EXPECT_EQ(GreatCircleDistance(0.3, 0.2, 0.3, 0.2), 0.0);
  double there = GreatCircleDistance(0.8, 0.2, 0.81, 0.25);
  EXPECT_DOUBLE_EQ(there, GreatCircleDistance(0.81, 0.25, 0.8, 0.2));
  EXPECT_NEAR(GreatCircleDistance(kPi / 2, 0, 0, 1.0), 5400.2485, 0.0001);  // pole to equator
  double antipodes = GreatCircleDistance(0.5, 0.25, -0.5, 0.25 + kPi);
  EXPECT_FALSE(std::isnan(antipodes));
  EXPECT_NEAR(antipodes, 10800.4970, 0.0001);
}

TEST(GreatCircleTest, CourseRunsClockwiseFromNorth) {
  struct Case {
    const char* name;
    double lat1, lon1, lat2, lon2;  // degrees
    double course;                  // radians
  };
  const Case cases[] = {
      {"north", 0, 0, 1, 0, 0},
      {"east", 0, 0, 0, 1, kPi / 2},
      {"south", 0, 0, -1, 0, kPi},
      {"west", 0, 0, 0, -1, 3 * kPi / 2},
      {"due north off the equator", 10, 20, 30, 20, 0},
      {"due south off the equator", 30, 20, 10, 20, kPi},
      {"east across the date line", 0, 179, 0, -179, kPi / 2},
      {"west across the date line", 0, -179, 0, 179, 3 * kPi / 2},
      {"from the north pole", 90, 0, 45, 100, kPi},
      {"from the south pole", -90, 0, -45, 100, 0},
      {"coincident points", 48, 11, 48, 11, 0},
      {"over the pole", 80, 0, 80, 180, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    double course = GreatCircleCourse(c.lat1 * kDegree, c.lon1 * kDegree, c.lat2 * kDegree, c.lon2 * kDegree);
    // acos near 1 (due north or south) resolves angles to about 1e-8 radians.
    EXPECT_NEAR(course, c.course, 1e-7);
  }
  // North-east and north-west off the equator: clockwise quadrants.
  double ne = GreatCircleCourse(48 * kDegree, 11 * kDegree, 48.01 * kDegree, 11.01 * kDegree);
  double nw = GreatCircleCourse(48 * kDegree, 11 * kDegree, 48.01 * kDegree, 10.99 * kDegree);
  EXPECT_GT(ne, 0);
  EXPECT_LT(ne, kPi / 2);
  EXPECT_GT(nw, 3 * kPi / 2);
  EXPECT_LT(nw, 2 * kPi);
}

TEST(GreatCircleTest, CourseStaysInItsRange) {
  for (int lat1 = -90; lat1 <= 90; lat1 += 15) {
    for (int lon2 = -180; lon2 <= 180; lon2 += 20) {
      for (int lat2 = -90; lat2 <= 90; lat2 += 30) {
        double course = GreatCircleCourse(lat1 * kDegree, 0, lat2 * kDegree, lon2 * kDegree);
        ASSERT_TRUE(course >= 0 && course < 2 * kPi) << lat1 << " " << lat2 << " " << lon2 << ": " << course;
      }
    }
  }
  EXPECT_EQ(GreatCircleCourse(NAN, 0, 0, 0), 0.0);
}

// ---- files and the debug log ------------------------------------------------------------------

// A folder of its own below the device root for each test, removed afterwards.
class DeviceFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    phoneFolder_ = u"\\utilities_test\\";
    for (char c : name) phoneFolder_.push_back(static_cast<char16_t>(c));
    hostFolder_ = platform::DeviceRoot() + "/utilities_test/" + name;
    std::filesystem::remove_all(hostFolder_);
    std::filesystem::create_directories(hostFolder_);
  }
  void TearDown() override {
    platform::SetClock(nullptr);
    std::filesystem::remove_all(hostFolder_);
  }

  std::string ReadHostFile(const std::string& name) const {
    std::ifstream in(hostFolder_ + "/" + name, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
  }

  std::u16string phoneFolder_;
  std::string hostFolder_;
};

using FileExistsTest = DeviceFolderTest;

TEST_F(FileExistsTest, FindsFilesByPhonePathAndPattern) {
  std::ofstream(hostFolder_ + "/bayern.cou") << "x";
  struct Case {
    std::u16string path;
    bool exists;
  };
  const Case cases[] = {
      {phoneFolder_ + u"\\bayern.cou", true},
      {phoneFolder_ + u"\\BAYERN.COU", true},  // the phone ignores case
      {phoneFolder_ + u"\\*.cou", true},
      {phoneFolder_ + u"\\bayern.pro", false},
      {phoneFolder_ + u"\\*.rgn", false},
      {u"\\no such folder\\bayern.cou", false},
      {u"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FileExists(c.path), c.exists);
  }
  EXPECT_FALSE(FileExists(static_cast<const OLECHAR*>(nullptr)));
}

using DebugLogTest = DeviceFolderTest;

TEST_F(DebugLogTest, WritesOneTimeStampedLinePerCall) {
  // 7 March 2026, 09:05:01 local time.
  platform::VirtualClock clock(SYSTEMTIME{2026, 3, 6, 7, 9, 5, 1, 0});
  platform::SetClock(&clock);
  EXPECT_TRUE(WriteDebugLogLine(phoneFolder_, u"text"));
  EXPECT_EQ(ReadHostFile("gpsDebug.txt"), "<03 07 2026 09:05:01> text\n");

  clock.Advance(3'600'000 + 59'000);  // an hour and 59 seconds later
  EXPECT_TRUE(WriteDebugLogLine(phoneFolder_, u"CMap::FindRoute enter"));
  EXPECT_EQ(ReadHostFile("gpsDebug.txt"),
            "<03 07 2026 09:05:01> text\n"
            "<03 07 2026 10:06:00> CMap::FindRoute enter\n");

  // A folder name that ends in a separator names the same file.
  EXPECT_TRUE(WriteDebugLogLine(phoneFolder_ + u"\\", u"third"));
  EXPECT_EQ(ReadHostFile("gpsDebug.txt"),
            "<03 07 2026 09:05:01> text\n"
            "<03 07 2026 10:06:00> CMap::FindRoute enter\n"
            "<03 07 2026 10:06:00> third\n");
}

TEST_F(DebugLogTest, WritesTheTextAsItIs) {
  platform::VirtualClock clock(SYSTEMTIME{2026, 12, 4, 31, 23, 59, 59, 0});
  platform::SetClock(&clock);
  EXPECT_TRUE(WriteDebugLogLine(phoneFolder_, u"50% of %s %d %n"));
  EXPECT_TRUE(WriteDebugLogLine(phoneFolder_, u"Stra\u00DFe"));
  EXPECT_TRUE(WriteDebugLogLine(phoneFolder_, u""));
  EXPECT_EQ(ReadHostFile("gpsDebug.txt"),
            "<12 31 2026 23:59:59> 50% of %s %d %n\n"
            "<12 31 2026 23:59:59> Stra\xC3\x9F" "e\n"
            "<12 31 2026 23:59:59> \n");
}

TEST_F(DebugLogTest, WritesNothingWithoutAnExistingFolder) {
  EXPECT_FALSE(WriteDebugLogLine(phoneFolder_ + u"\\missing", u"lost"));
  EXPECT_FALSE(std::filesystem::exists(hostFolder_ + "/missing"));
  EXPECT_FALSE(WriteDebugLogLine(u"", u"lost"));
  EXPECT_FALSE(WriteDebugLogLine(static_cast<const OLECHAR*>(nullptr), u"lost"));
  EXPECT_TRUE(std::filesystem::is_empty(hostFolder_));
}

}  // namespace
