// Tests of the platform's string-table walk (LoadStringResource), which every
// reader of a language library shares, on a module of hand-made blocks,
// including blocks that end inside an entry.
#include <gtest/gtest.h>

#include <string>

#include "platform/os/resource.h"
#include "platform/os/text.h"

namespace {

class StringWalk : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryW(platform::Utf8ToUtf16(STRING_BLOCK_MODULE_PATH).c_str());
    ASSERT_NE(module_, nullptr) << platform::LastModuleError();
  }
  void TearDown() override {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  std::string Text(UINT id) const { return platform::Utf16ToUtf8(platform::LoadStringResource(module_, id)); }

  HMODULE module_ = nullptr;
};

TEST_F(StringWalk, ReadsEachEntryOfItsBlockAndNothingPastTheBlock) {
  struct Row {
    UINT id;
    const char* expected;
  } const rows[] = {
      {0, "Zero"},     {1, ""},         {2, "Two"},  {3, ""},  {14, ""}, {15, "Fifteen"},
      {16, "A"},                                   // the entry before a broken one
      {17, ""},                                    // claims more characters than the block has
      {18, ""},        {31, ""},                   // the walk has left the block
      {32, "Hi"},      {33, ""},                   // a stray odd byte is no 16-bit unit
      {48, ""},        {49, ""},                   // a length of 65535 in a tiny block
      {64, ""},        {79, ""},                   // an empty block
      {96, ""},        {111, ""},                  // no block at all
      {112, ""},                                   // a resource of another type
      {65534, ""},     {65535, "Last"},            // the last block
      {65536, ""},     {0xFFFFFFFFu, ""},          // beyond the 16-bit ids
  };
  for (const Row& row : rows) EXPECT_EQ(Text(row.id), row.expected) << "id " << row.id;
}

TEST(StringWalkWithoutModule, GivesEmptyTexts) {
  EXPECT_EQ(platform::LoadStringResource(nullptr, 0), u"");
  EXPECT_EQ(platform::LoadStringResource(nullptr, 23007), u"");
}

}  // namespace
