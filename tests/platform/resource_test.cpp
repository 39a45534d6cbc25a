// Tests of the resource functions over loaded modules: finding, loading and
// sizing resources of a well-formed directory, and reading nothing from
// modules whose directory is missing, broken or not their own.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/os/module.h"
#include "platform/os/resource.h"
#include "platform/os/text.h"

namespace {

// A loaded test module, freed at the end of the test.
class TestModule {
 public:
  explicit TestModule(const std::string& variant) {
    const std::string path = std::string(RESOURCE_TEST_MODULE_DIR) + "/restest_" + variant + ".so";
    module_ = LoadLibraryW(platform::Utf8ToUtf16(path).c_str());
  }
  ~TestModule() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  TestModule(const TestModule&) = delete;
  TestModule& operator=(const TestModule&) = delete;

  HMODULE get() const { return module_; }

 private:
  HMODULE module_ = nullptr;
};

// The bytes of resource (type, id) as text, or "<none>" when it is not found.
std::string Read(HMODULE module, WORD type, WORD id) {
  HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(type));
  if (info == nullptr) return "<none>";
  const void* bytes = LockResource(LoadResource(module, info));
  if (bytes == nullptr) return "<not loaded>";
  return std::string(static_cast<const char*>(bytes), SizeofResource(module, info));
}

TEST(Resources, WellFormedEntriesAreFoundAndMalformedOnesAreNot) {
  TestModule mixed("mixed");
  ASSERT_NE(mixed.get(), nullptr) << platform::LastModuleError();
  struct Row {
    WORD type;
    WORD id;
    const char* expected;
  } const rows[] = {
      {6, 1, "first"},   // the first of two entries with this id
      {5, 1, "other"},   // the type is part of the key
      {6, 2, ""},        // empty, but present
      {6, 3, "<none>"},  // null bytes with a size
      {6, 4, "<none>"},  // bytes in another module
      {6, 5, "<none>"},  // bytes running past the module
      {6, 6, "second"},  // good entries after bad ones are still found
      {6, 7, "<none>"},  // no such id
      {7, 1, "<none>"},  // no such type
  };
  for (const Row& row : rows) EXPECT_EQ(Read(mixed.get(), row.type, row.id), row.expected) << row.type << "/" << row.id;

  HRSRC empty = FindResourceW(mixed.get(), MAKEINTRESOURCEW(2), RT_STRING);
  ASSERT_NE(empty, nullptr);
  EXPECT_NE(LoadResource(mixed.get(), empty), nullptr);  // an empty resource still loads
  EXPECT_EQ(SizeofResource(mixed.get(), empty), 0u);
}

TEST(Resources, NamesAndTypesGivenAsTextOrZeroAreNeverFound) {
  TestModule mixed("mixed");
  ASSERT_NE(mixed.get(), nullptr) << platform::LastModuleError();
  EXPECT_EQ(FindResourceW(mixed.get(), u"#1", RT_STRING), nullptr);
  EXPECT_EQ(FindResourceW(mixed.get(), MAKEINTRESOURCEW(1), u"STRING"), nullptr);
  EXPECT_EQ(FindResourceW(mixed.get(), MAKEINTRESOURCEW(0), RT_STRING), nullptr);
  EXPECT_EQ(FindResourceW(mixed.get(), nullptr, nullptr), nullptr);
}

TEST(Resources, ModulesWithoutAUsableDirectoryHaveNoResources) {
  // Missing, broken or borrowed directories: wherever one lists (6, 1), a
  // reader that trusted it would find that entry.
  for (const char* variant : {"none", "bad_magic", "bad_version", "huge_count", "count_past_end", "null_entries",
                              "misaligned", "dependent"}) {
    TestModule module(variant);
    ASSERT_NE(module.get(), nullptr) << variant << ": " << platform::LastModuleError();
    EXPECT_EQ(FindResourceW(module.get(), MAKEINTRESOURCEW(1), RT_STRING), nullptr) << variant;
  }
  // The library the dependent module links has a good directory of its own.
  TestModule shared("shared");
  ASSERT_NE(shared.get(), nullptr) << platform::LastModuleError();
  EXPECT_EQ(Read(shared.get(), 6, 1), "first");
}

TEST(Resources, NoModuleFreedModuleAndForeignHandlesGiveNothing) {
  EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(1), RT_STRING), nullptr);

  TestModule mixed("mixed");
  TestModule shared("shared");
  ASSERT_NE(mixed.get(), nullptr);
  ASSERT_NE(shared.get(), nullptr);
  HRSRC info = FindResourceW(mixed.get(), MAKEINTRESOURCEW(1), RT_STRING);
  ASSERT_NE(info, nullptr);

  // A handle of one module's directory means nothing to another module.
  EXPECT_EQ(LoadResource(shared.get(), info), nullptr);
  EXPECT_EQ(SizeofResource(shared.get(), info), 0u);
  // Nor does a pointer into the middle of an entry, or none at all.
  HRSRC inside = reinterpret_cast<HRSRC>(reinterpret_cast<unsigned char*>(info) + 1);
  EXPECT_EQ(LoadResource(mixed.get(), inside), nullptr);
  EXPECT_EQ(SizeofResource(mixed.get(), inside), 0u);
  EXPECT_EQ(LoadResource(mixed.get(), nullptr), nullptr);
  // A handle that points at a malformed entry is refused too.
  HRSRC good = FindResourceW(mixed.get(), MAKEINTRESOURCEW(6), RT_STRING);
  ASSERT_NE(good, nullptr);
  const auto* entry = reinterpret_cast<const ResourceEntry*>(good);
  HRSRC nullBytes = reinterpret_cast<HRSRC>(const_cast<ResourceEntry*>(entry - 3));  // the (6, 3) entry
  EXPECT_EQ(LoadResource(mixed.get(), nullBytes), nullptr);
  EXPECT_EQ(SizeofResource(mixed.get(), nullBytes), 0u);

  EXPECT_EQ(FreeResource(LoadResource(mixed.get(), info)), FALSE);

  // A module handle that was freed is no longer a module.
  const std::string path = std::string(RESOURCE_TEST_MODULE_DIR) + "/restest_mixed.so";
  HMODULE gone = LoadLibraryW(platform::Utf8ToUtf16(path).c_str());
  ASSERT_NE(gone, nullptr);
  ASSERT_EQ(FreeLibrary(gone), TRUE);
  EXPECT_EQ(FindResourceW(gone, MAKEINTRESOURCEW(1), RT_STRING), nullptr);
}

}  // namespace
