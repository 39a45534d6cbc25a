// The test support itself: UTF-16 text in failure messages reads as text, a
// temporary folder is the test's own and goes with it, and children report
// how they ended and what they wrote.
#include <gtest/gtest.h>
#include <gtest/gtest-spi.h>

#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

TEST(Utf16Printer, PrintsTextWithEscapesForWhatIsNotReadable) {
  const struct {
    std::u16string text;
    std::string printed;
  } rows[] = {
      {u"", "u\"\""},
      {u"Main St", "u\"Main St\""},
      {u"Stra\u00DFe \u20AC \U0001F600", "u\"Stra\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x98\x80\""},
      {u"say \"hi\"\\\n\r\t", "u\"say \\\"hi\\\"\\\\\\n\\r\\t\""},
      {std::u16string(u"a\0b", 3), "u\"a\\0b\""},
      {u"\x01\x7F", "u\"\\x01\\x7F\""},
      {std::u16string{0xD83D, u'x'}, "u\"\\uD83Dx\""},  // a high surrogate without its low one
      {std::u16string{0xDE00}, "u\"\\uDE00\""},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(::testing::PrintToString(row.text), row.printed);
    EXPECT_EQ(::testing::PrintToString(std::u16string_view(row.text)), row.printed);
  }
  EXPECT_EQ(::testing::PrintToString(static_cast<const char16_t*>(u"Ost")), "u\"Ost\"");
  EXPECT_EQ(::testing::PrintToString(static_cast<const char16_t*>(nullptr)), "NULL");
}

// What a failing comparison says: both sides as text.
TEST(Utf16Printer, AFailedComparisonShowsBothSidesAsText) {
  const std::u16string got = u"Schulstra\u00DFe";
  EXPECT_NONFATAL_FAILURE(EXPECT_EQ(got, u"Eichenweg"), "u\"Schulstra\xC3\x9F" "e\"");
  EXPECT_NONFATAL_FAILURE(EXPECT_EQ(got, u"Eichenweg"), "u\"Eichenweg\"");
  EXPECT_NONFATAL_FAILURE(EXPECT_EQ(std::u16string_view(got), std::u16string_view(u"Ring")), "u\"Ring\"");
}

TEST(TempFolder, IsAFreshFolderOfItsOwnUnderTheTemporaryDirectoryAndGoesWithIt) {
  fs::path kept;
  {
    const testing_support::TempFolder a("support");
    const testing_support::TempFolder b("support");
    EXPECT_NE(a.path(), b.path());
    for (const testing_support::TempFolder* folder : {&a, &b}) {
      EXPECT_TRUE(fs::is_directory(folder->path()));
      EXPECT_TRUE(fs::is_empty(folder->path()));
      EXPECT_EQ(folder->path().parent_path(), fs::temp_directory_path());
      EXPECT_EQ(folder->path().filename().string().rfind("tirvane-support-", 0), 0u) << folder->string();
    }
    fs::create_directories(a / "Storage Card" / "Maps");
    std::ofstream(a / "Storage Card" / "Maps" / "a.rmf") << "bytes";
    kept = a.path();
  }
  EXPECT_FALSE(fs::exists(kept));
}

TEST(ChildProcess, GivesTheExitStatusOfTheBodyOrMinusOneForASignal) {
  EXPECT_EQ(testing_support::RunInChild([] {}), 0);
  EXPECT_EQ(testing_support::RunInChild([] { ::_exit(9); }), 9);
  EXPECT_EQ(testing_support::RunInChild([] { throw 1; }), 125);
  EXPECT_EQ(testing_support::RunInChild([] { std::raise(SIGKILL); }), -1);
  EXPECT_EQ(testing_support::WaitForChild(-1), -1);
}

TEST(ChildProcess, ACommandGivesItsOutputAndExitStatus) {
  const testing_support::CommandResult printed =
      testing_support::RunCommand({"/bin/sh", "-c", "printf 'one\\ntwo'; echo said >&2; exit 3"});
  EXPECT_EQ(printed.exitStatus, 3);
  EXPECT_EQ(printed.output, "one\ntwo");
  const testing_support::CommandResult both =
      testing_support::RunCommand({"/bin/sh", "-c", "echo out; echo said >&2"}, true);
  EXPECT_EQ(both.exitStatus, 0);
  EXPECT_EQ(both.output, "out\nsaid\n");
  const testing_support::CommandResult missing = testing_support::RunCommand({"no-such-program-of-the-tests"});
  EXPECT_NE(missing.exitStatus, 0);
  EXPECT_EQ(testing_support::RunCommand({}).exitStatus, -1);
}

}  // namespace
