// The engine's small shared helpers: folder and file names, angles, tags, the
// debug log and the bounded text arrays.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/core/BoundedStringArray.h"
#include "engine/core/EngineUtilities.h"
#include "platform/os/text.h"
#include "tests/engine/core/device_root.h"

namespace {

namespace fs = std::filesystem;

std::string Narrow(std::u16string_view text) { return platform::Utf16ToUtf8(text); }

// ---- folders and file names --------------------------------------------------------------

TEST(EngineUtilities, DirectoryPathsGetOneSeparator) {
  struct Row {
    const char16_t* folder;
    const char16_t* path;
  };
  const Row rows[] = {
      {u"\\maps", u"\\maps\\"},
      {u"\\maps\\", u"\\maps\\"},
      {u"/card/maps/", u"/card/maps/"},
      {u"\\Storage Card", u"\\Storage Card\\"},
      {u"", u"\\"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(vov::MakeDirectoryPath(std::u16string_view(row.folder)), row.path) << Narrow(row.folder);
    com::Bstr folder;
    ASSERT_TRUE(folder.Assign(row.folder));
    const com::Bstr path = vov::MakeDirectoryPath(static_cast<BSTR>(folder));
    EXPECT_EQ(std::u16string(path, SysStringLen(path)), row.path) << Narrow(row.folder) << " as a BSTR";
  }
  const com::Bstr fromNull = vov::MakeDirectoryPath(static_cast<BSTR>(nullptr));
  EXPECT_EQ(std::u16string(fromNull, SysStringLen(fromNull)), u"\\");
}

TEST(EngineUtilities, StripTrailingSeparatorTakesOneOff) {
  struct Row {
    const char16_t* path;
    const char16_t* stripped;
  };
  const Row rows[] = {
      {u"\\maps\\", u"\\maps"}, {u"/card/", u"/card"}, {u"\\maps", u"\\maps"},
      {u"\\maps\\\\", u"\\maps\\"}, {u"\\", u""}, {u"", u""},
  };
  for (const Row& row : rows) EXPECT_EQ(vov::StripTrailingSeparator(row.path), row.stripped) << Narrow(row.path);
}

// The name is found first and then loses its extension, so a point in a
// folder name never decides the result.
TEST(EngineUtilities, BaseNameIsTheFileNameWithoutItsExtension) {
  struct Row {
    const char16_t* path;
    const char16_t* base;
  };
  const Row rows[] = {
      {u"\\Storage Card\\Routes\\walk.rte", u"walk"},
      {u"\\My.Folder\\file", u"file"},
      {u"\\maps\\city.v2.rmf", u"city.v2"},
      {u"/card/maps/Hamburg.pdb", u"Hamburg"},
      {u"\\mixed/seps\\last/name.txt", u"name"},
      {u"plain.txt", u"plain"},
      {u"noextension", u"noextension"},
      {u"\\folder\\", u""},
      {u"\\folder\\.hidden", u""},
      {u"", u""},
  };
  for (const Row& row : rows) EXPECT_EQ(vov::GetBaseNameWithoutExtension(row.path), row.base) << Narrow(row.path);
}

TEST(EngineUtilities, AngleToleranceReachesAcrossNorth) {
  struct Row {
    INT a, b, tolerance;
    bool within;
  };
  const Row rows[] = {
      {350, 10, 45, true},   {10, 350, 45, true},  {0, 44, 45, true},    {0, 45, 45, false},
      {0, 315, 45, false},   {0, 316, 45, true},   {90, 270, 180, false}, {90, 269, 180, true},
      {359, 0, 1, false},    {359, 0, 2, true},    {-1, 10, 45, true},    {INT_MIN, INT_MAX, 45, false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(vov::IsAngleWithinTolerance(row.a, row.b, row.tolerance), row.within)
        << row.a << " and " << row.b << " within " << row.tolerance;
  }
}

TEST(EngineUtilities, TagTextLiesBetweenTheFirstOpeningAndTheNextClosingTag) {
  struct Row {
    const char16_t* text;
    const char16_t* tag;
    const char16_t* inside;
  };
  const Row rows[] = {
      {u"<TL><id>42</id><am>7</am></TL>", u"id", u"42"},
      {u"<TL><id>42</id><am>7</am></TL>", u"am", u"7"},
      {u"<a>first</a><a>second</a>", u"a", u"first"},
      {u"<a></a>", u"a", u""},
      {u"</a>before<a>after", u"a", u""},
      {u"<a>open only", u"a", u""},
      {u"<id>x</ID>", u"id", u""},
      {u"<ab>long</ab><a>short</a>", u"a", u"short"},
      {u"", u"a", u""},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(vov::ExtractTagText(row.text, row.tag), row.inside) << Narrow(row.text) << " <" << Narrow(row.tag)
                                                                  << ">";
  }
}

// ---- files and the debug log ----------------------------------------------------------------

using DeviceFolder = DeviceRootTest;

TEST_F(DeviceFolder, FileExistsFindsFilesFoldersAndPatterns) {
  fs::create_directories(root_ + "/CompactFlash/maps");
  std::ofstream(root_ + "/CompactFlash/maps/Hamburg.RMF") << "x";
  struct Row {
    const char16_t* path;
    bool exists;
  };
  const Row rows[] = {
      {u"\\CompactFlash\\maps\\Hamburg.RMF", true},
      {u"\\compactflash\\MAPS\\hamburg.rmf", true},
      {u"\\CompactFlash\\maps\\*.rmf", true},
      {u"\\CompactFlash\\maps", true},
      {u"\\CompactFlash\\maps\\*.pdb", false},
      {u"\\CompactFlash\\maps\\Berlin.rmf", false},
      {u"\\Storage Card\\maps\\Hamburg.rmf", false},
      {u"", false},
  };
  for (const Row& row : rows) EXPECT_EQ(vov::FileExists(row.path), row.exists) << Narrow(row.path);
}

TEST_F(DeviceFolder, DebugLogLinesCarryTheAskedPrefix) {
  fs::create_directories(root_ + "/settings/Debug");
  vov::WriteDebugLog(u"\\settings\\Debug", u"GPSCore::Start entered", true, true);
  vov::WriteDebugLog(u"\\settings\\Debug", u"time only", true, false);
  vov::WriteDebugLog(u"\\settings\\Debug", u"date alone takes the time too", false, true);
  vov::WriteDebugLog(u"\\settings\\Debug", u"50% of %s %d", false, false);
  vov::WriteDebugLog(u"\\settings\\Debug", u"", false, false);
  clock_.Advance(3 * 3600 * 1000);
  vov::WriteDebugLog(u"\\settings\\Debug", u"\tStra\u00DFe", true, true);
  EXPECT_EQ(ReadLog("settings/Debug"),
            "<05 03 2024 08:05:09> GPSCore::Start entered\n"
            "<08:05:09> time only\n"
            "<05 03 2024 08:05:09> date alone takes the time too\n"
            "50% of %s %d\n"
            "\n"
            "<05 03 2024 11:05:09> \tStra\xC3\x9F"
            "e\n");
}

// Calls with no folder before the decision do not take it; the first folder
// named decides for the rest of the process, whatever folder comes later.
TEST_F(DeviceFolder, DebugLogIsDecidedOnceByTheFirstFolderNamed) {
  fs::create_directories(root_ + "/on/Debug");
  vov::WriteDebugLog(u"", u"nowhere", true, true);
  vov::WriteDebugLog(u"\\on\\Debug", u"first", false, false);
  vov::WriteDebugLog(u"", u"still nowhere", false, false);
  EXPECT_EQ(ReadLog("on/Debug"), "first\n");

  // Once on, a line for a folder that does not exist is lost; the folder
  // gets lines as soon as it exists.
  vov::WriteDebugLog(u"\\other\\Debug", u"lost, no folder", false, false);
  EXPECT_FALSE(fs::exists(root_ + "/other"));
  fs::create_directories(root_ + "/other/Debug");
  vov::WriteDebugLog(u"\\other\\Debug", u"second", false, false);
  EXPECT_EQ(ReadLog("other/Debug"), "second\n");
}

TEST_F(DeviceFolder, DebugFolderMissingAtTheFirstCallTurnsTheLogOffForGood) {
  vov::WriteDebugLog(u"\\settings\\Debug", u"lost", true, true);
  fs::create_directories(root_ + "/settings/Debug");
  vov::WriteDebugLog(u"\\settings\\Debug", u"lost as well", true, true);
  EXPECT_FALSE(LogExists("settings/Debug"));

  // A file in place of the folder does not count as the folder either.
  vov::ResetDebugLogDecision();
  std::ofstream(root_ + "/plain") << "x";
  vov::WriteDebugLog(u"\\plain", u"lost", false, false);
  vov::WriteDebugLog(u"\\settings\\Debug", u"lost too", false, false);
  EXPECT_FALSE(LogExists("settings/Debug"));

  // Starting afresh with the folder in place turns it on.
  vov::ResetDebugLogDecision();
  vov::WriteDebugLog(u"\\settings\\Debug", u"kept", false, false);
  EXPECT_EQ(ReadLog("settings/Debug"), "kept\n");
}

// ---- bounded text arrays ----------------------------------------------------------------------

// Each variant, run through the same operations.
template <class Array>
class BoundedArray : public ::testing::Test {};

// Texts for either variant: a std::u16string_view, or a BSTR owned here.
struct Texts {
  std::u16string_view Arg(std::u16string_view text, std::u16string_view) { return text; }
  BSTR Arg(std::u16string_view text, BSTR) {
    owned.emplace_back();
    EXPECT_TRUE(owned.back().Assign(text));
    return owned.back();
  }
  std::vector<com::Bstr> owned;
};

std::u16string Plain(const std::u16string& text) { return text; }
std::u16string Plain(const com::Bstr& text) { return std::u16string(text, SysStringLen(text)); }

using Variants = ::testing::Types<vov::BoundedStringArray, vov::BoundedBstrArray>;
TYPED_TEST_SUITE(BoundedArray, Variants);

TYPED_TEST(BoundedArray, FullArrayRefusesAndKeepsWhatItHolds) {
  using Arg = typename TypeParam::Arg;
  Texts texts;
  const auto arg = [&texts](std::u16string_view text) { return texts.Arg(text, Arg{}); };
  TypeParam array(3);
  EXPECT_EQ(array.Capacity(), 3);
  EXPECT_EQ(array.Count(), 0);
  EXPECT_TRUE(array.Add(arg(u"Main Street")));
  EXPECT_TRUE(array.Add(arg(u"")));
  EXPECT_TRUE(array.Add(arg(u"main street")));
  EXPECT_FALSE(array.Add(arg(u"Elm Street")));
  EXPECT_EQ(array.Count(), 3);
  EXPECT_EQ(Plain(array.GetAt(0)), u"Main Street");
  EXPECT_EQ(Plain(array.GetAt(1)), u"");
  EXPECT_EQ(Plain(array.GetAt(2)), u"main street");
  EXPECT_EQ(array.Find(arg(u"Elm Street")), -1);

  // Outside the texts held there is only the empty text.
  for (INT index : {-1, 3, 100}) EXPECT_EQ(Plain(array.GetAt(index)), u"") << index;

  // Clear empties it for as many texts as before.
  array.Clear();
  EXPECT_EQ(array.Count(), 0);
  EXPECT_EQ(array.Capacity(), 3);
  EXPECT_EQ(array.Find(arg(u"Main Street")), -1);
  for (const char16_t* name : {u"a", u"b", u"c"}) EXPECT_TRUE(array.Add(arg(name)));
  EXPECT_FALSE(array.Add(arg(u"d")));
}

TYPED_TEST(BoundedArray, FindGivesTheFirstExactMatch) {
  using Arg = typename TypeParam::Arg;
  Texts texts;
  const auto arg = [&texts](std::u16string_view text) { return texts.Arg(text, Arg{}); };
  TypeParam array(10);
  for (const char16_t* name : {u"Oak", u"Elm", u"", u"Oak", u"Elm Street"}) ASSERT_TRUE(array.Add(arg(name)));
  struct Row {
    const char16_t* text;
    INT index;
  };
  const Row rows[] = {{u"Oak", 0}, {u"Elm", 1}, {u"", 2}, {u"Elm Street", 4},
                      {u"oak", -1}, {u"El", -1}, {u"Oak ", -1}};
  for (const Row& row : rows) EXPECT_EQ(array.Find(arg(row.text)), row.index) << Narrow(row.text);
}

// The array keeps copies: what the caller gives and what it gets back are
// the caller's own, and changing them changes nothing held.
TYPED_TEST(BoundedArray, HoldsCopiesOfItsTexts) {
  using Arg = typename TypeParam::Arg;
  Texts texts;
  const auto arg = [&texts](std::u16string_view text) { return texts.Arg(text, Arg{}); };
  TypeParam array(2);
  std::u16string given = u"Harbour Road";
  ASSERT_TRUE(array.Add(arg(given)));
  given[0] = u'X';
  texts.owned.clear();
  auto copy = array.GetAt(0);
  EXPECT_EQ(Plain(copy), u"Harbour Road");
  EXPECT_EQ(Plain(array.GetAt(0)), u"Harbour Road");
}

TEST(BoundedArrayEdges, NoCapacityHoldsNothingAndNullBstrIsEmpty) {
  for (INT capacity : {0, -5}) {
    vov::BoundedStringArray array(capacity);
    EXPECT_EQ(array.Capacity(), 0);
    EXPECT_FALSE(array.Add(u"x"));
    EXPECT_EQ(array.Count(), 0);
  }
  vov::BoundedBstrArray bstrs(2);
  ASSERT_TRUE(bstrs.Add(nullptr));
  const com::Bstr held = bstrs.GetAt(0);
  EXPECT_NE(static_cast<BSTR>(held), nullptr);  // an empty text, never a null one
  EXPECT_EQ(SysStringLen(held), 0u);
  EXPECT_EQ(bstrs.Find(nullptr), 0);
}

}  // namespace
