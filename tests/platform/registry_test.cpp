// Tests of the registry: values and names, enumeration order, deletion and
// the handles it kills, persistence across a restart and across processes, a
// writer killed part-way, damaged files, and arguments the phone's callers
// get wrong.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/os/debug.h"
#include "platform/os/device.h"
#include "platform/os/registry.h"
#include "platform/os/text.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

std::string Narrow(std::u16string_view s) { return platform::Utf16ToUtf8(s); }

std::vector<BYTE> Bytes(const void* p, std::size_t n) {
  const auto* b = static_cast<const BYTE*>(p);
  return std::vector<BYTE>(b, b + n);
}

std::vector<BYTE> SzBytes(std::u16string_view text) {
  std::u16string withNul(text);
  withNul.push_back(u'\0');
  return Bytes(withNul.data(), withNul.size() * 2);
}

// A fresh device root per test, the registry forgotten before and after, and
// the registry's debug reports collected.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = folder_.string();
    platform::SetDeviceRoot(root_);
    platform::registry::ReloadFromDisk();
    platform::SetDebugOutputSink([this](const std::u16string& line) {
      std::lock_guard<std::mutex> hold(reportsLock_);
      reports_.push_back(Narrow(line));
    });
  }
  void TearDown() override {
    platform::SetDebugOutputSink({});
    platform::registry::ReloadFromDisk();
    platform::SetDeviceRoot("");
  }

  std::string File() const { return root_ + "/registry.txt"; }
  std::string ReadFile() const {
    std::ifstream in(File(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  void WriteFile(const std::string& text) const { std::ofstream(File(), std::ios::binary) << text; }

  // Lines the last loads skipped, from the registry's debug report.
  std::size_t SkippedLines() {
    std::lock_guard<std::mutex> hold(reportsLock_);
    std::size_t total = 0;
    for (const auto& r : reports_) {
      std::size_t at = r.find("skipped ");
      if (at != std::string::npos) total += std::strtoul(r.c_str() + at + 8, nullptr, 10);
    }
    return total;
  }
  void ClearReports() {
    std::lock_guard<std::mutex> hold(reportsLock_);
    reports_.clear();
  }

  static HKEY Create(HKEY parent, const char16_t* path) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(parent, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS)
        << Narrow(path);
    return key;
  }
  static LONG Open(HKEY parent, const char16_t* path, HKEY& key) {
    return RegOpenKeyExW(parent, path, 0, KEY_READ, &key);
  }
  static LONG SetDword(HKEY key, const char16_t* name, DWORD value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  }
  static DWORD GetDword(HKEY key, const char16_t* name) {
    DWORD value = 0, type = 0, size = sizeof value;
    EXPECT_EQ(RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size), ERROR_SUCCESS)
        << Narrow(name);
    EXPECT_EQ(type, REG_DWORD);
    return value;
  }
  static std::vector<BYTE> Get(HKEY key, const char16_t* name, DWORD& type) {
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return {};
    std::vector<BYTE> data(size + 1);  // one spare byte shows nothing is written past size
    DWORD given = static_cast<DWORD>(data.size());
    EXPECT_EQ(RegQueryValueExW(key, name, nullptr, &type, data.data(), &given), ERROR_SUCCESS);
    EXPECT_EQ(given, size);
    data.resize(size);
    return data;
  }
  static std::vector<std::string> ValueNames(HKEY key) {
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
      WCHAR name[512];
      DWORD cch = 512;
      LONG rc = RegEnumValueW(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_NO_MORE_ITEMS) break;
      EXPECT_EQ(rc, ERROR_SUCCESS);
      if (rc != ERROR_SUCCESS) break;
      names.push_back(Narrow(std::u16string_view(name, cch)));
    }
    return names;
  }
  static std::vector<std::string> KeyNames(HKEY key) {
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
      WCHAR name[256];
      DWORD cch = 256;
      LONG rc = RegEnumKeyExW(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_NO_MORE_ITEMS) break;
      EXPECT_EQ(rc, ERROR_SUCCESS);
      if (rc != ERROR_SUCCESS) break;
      names.push_back(Narrow(std::u16string_view(name, cch)));
    }
    return names;
  }

  testing_support::TempFolder folder_{"registry"};
  std::string root_;
  std::mutex reportsLock_;
  std::vector<std::string> reports_;
};

using testing_support::RunInChild;

// ---- values and names -------------------------------------------------------------

TEST_F(RegistryTest, ValuesOfEveryTypeRoundTripThroughTheFile) {
  struct Row {
    std::u16string name;
    DWORD type;
    std::vector<BYTE> data;
  };
  const DWORD ten = 10, zero = 0, all = 0xFFFFFFFFu;
  std::vector<BYTE> everyByte;
  for (int b = 0; b < 256; ++b) everyByte.push_back(static_cast<BYTE>(b));
  const std::vector<Row> rows = {
      {u"Name", REG_DWORD, Bytes(&ten, 4)},
      {u"Zero", REG_DWORD, Bytes(&zero, 4)},
      {u"All", REG_DWORD, Bytes(&all, 4)},
      {u"", REG_SZ, SzBytes(u"the default value")},
      {u"Plain", REG_SZ, SzBytes(u"Kirchweg 12")},
      {u"Empty", REG_SZ, SzBytes(u"")},
      {u"Escapes", REG_SZ, SzBytes(u"back\\slash \"quoted\"\nline\r\ttab \x01\x7F end\\")},
      {u"Unicode", REG_SZ, SzBytes(u"Stra\u00DFe \u20AC \u4E2D \U0001F600")},
      {u"Lone", REG_SZ, SzBytes(std::u16string{u'a', 0xD800, u'b', 0xDC00})},
      {u"Blob", REG_BINARY, everyByte},
      {u"NoBytes", REG_BINARY, {}},
      {u"Multi", 7, SzBytes(std::u16string(u"a\0b\0", 4))},
      {u"None", REG_NONE, {1, 2}},
      {u"Odd type", 0x12345678u, {0xAB}},
      {u"@", REG_DWORD, Bytes(&ten, 4)},  // a value named "@" is not the default
      {u"name \"with\" = and \\", REG_DWORD, Bytes(&ten, 4)},
  };
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"Software\\Quellwork\\Tirvane");
  for (const Row& row : rows) {
    ASSERT_EQ(RegSetValueExW(key, row.name.c_str(), 0, row.type, row.data.data(),
                             static_cast<DWORD>(row.data.size())),
              ERROR_SUCCESS)
        << Narrow(row.name);
  }
  for (int pass = 0; pass < 2; ++pass) {  // from memory, then from the file only
    for (const Row& row : rows) {
      DWORD type = 0;
      EXPECT_EQ(Get(key, row.name.c_str(), type), row.data) << Narrow(row.name) << " pass " << pass;
      EXPECT_EQ(type, row.type) << Narrow(row.name);
    }
    platform::registry::ReloadFromDisk();
  }
  EXPECT_EQ(ValueNames(key).size(), rows.size());
  EXPECT_EQ(SkippedLines(), 0u);
  RegCloseKey(key);
}

TEST_F(RegistryTest, KeyNamesOfAnyTextRoundTrip) {
  const std::u16string names[] = {u"we\"ird", u"\"quoted", u"tab\tkey", u"\u043A\u043B\u044E\u0447",
                                  u"]bracket]", u"trailing ", u" leading", u"semi;colon", u"#hash",
                                  std::u16string{u'x', 0xDBFF}};
  HKEY parent = Create(HKEY_CURRENT_USER, u"Names");
  std::vector<std::string> expected;
  for (const auto& name : names) {
    RegCloseKey(Create(parent, name.c_str()));
    expected.push_back(Narrow(name));
  }
  platform::registry::ReloadFromDisk();
  EXPECT_EQ(KeyNames(parent), expected);
  for (const auto& name : names) {
    HKEY key = nullptr;
    EXPECT_EQ(Open(parent, name.c_str(), key), ERROR_SUCCESS) << Narrow(name);
    RegCloseKey(key);
  }
  EXPECT_EQ(SkippedLines(), 0u);
  RegCloseKey(parent);
}

TEST_F(RegistryTest, QueriesGiveSizesAndRefuseSmallBuffers) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"Software\\Q");
  ASSERT_EQ(RegSetValueExW(key, u"Text", 0, REG_SZ, SzBytes(u"abc").data(), 8), ERROR_SUCCESS);

  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"Text", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 8u);  // the NUL is counted
  EXPECT_EQ(RegQueryValueExW(key, u"Text", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);  // exists?

  BYTE small[7];
  std::memset(small, 0xEE, sizeof small);
  size = sizeof small;
  EXPECT_EQ(RegQueryValueExW(key, u"Text", nullptr, nullptr, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(small[0], 0xEE);  // nothing half-written

  EXPECT_EQ(RegQueryValueExW(key, u"Missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);  // no default
  EXPECT_EQ(RegDeleteValueW(key, u"Missing"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValueW(key, u"TEXT"), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(key, u"Text", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

TEST_F(RegistryTest, NamesIgnoreCaseAndKeepTheirCase) {
  HKEY created = Create(HKEY_LOCAL_MACHINE, u"Software\\Quellwork\\\u00C4rger");
  ASSERT_EQ(SetDword(created, u"Volume", 3), ERROR_SUCCESS);

  HKEY opened = nullptr;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, u"SOFTWARE\\quellwork\\\u00E4RGER", opened), ERROR_SUCCESS);
  EXPECT_EQ(GetDword(opened, u"vOLUME"), 3u);
  ASSERT_EQ(SetDword(opened, u"VOLUME", 4), ERROR_SUCCESS);  // the same value; its name stays "Volume"
  EXPECT_EQ(ValueNames(created), std::vector<std::string>{"Volume"});
  EXPECT_EQ(GetDword(created, u"Volume"), 4u);

  DWORD disposition = 0;
  HKEY again = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"software\\QUELLWORK", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &again, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  EXPECT_EQ(KeyNames(again), std::vector<std::string>{"\xC3\x84rger"});
  for (HKEY k : {created, opened, again}) RegCloseKey(k);
}

TEST_F(RegistryTest, EnumerationFollowsCreationOrder) {
  HKEY key = Create(HKEY_CLASSES_ROOT, u"Order");
  for (const char16_t* name : {u"b", u"a", u"c"}) RegCloseKey(Create(key, name));
  for (const char16_t* name : {u"z", u"x", u"y"}) ASSERT_EQ(SetDword(key, name, 1), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, u"x", 2), ERROR_SUCCESS);  // a new value keeps its place
  ASSERT_EQ(RegDeleteValueW(key, u"z"), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, u"z", 3), ERROR_SUCCESS);  // re-created: now last

  const std::vector<std::string> keys = {"b", "a", "c"}, values = {"x", "y", "z"};
  EXPECT_EQ(KeyNames(key), keys);
  EXPECT_EQ(ValueNames(key), values);
  platform::registry::ReloadFromDisk();
  EXPECT_EQ(KeyNames(key), keys);
  EXPECT_EQ(ValueNames(key), values);

  // Too small a name buffer, and the end of the list.
  WCHAR name[4];
  DWORD cch = 1;
  EXPECT_EQ(RegEnumKeyExW(key, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  EXPECT_EQ(cch, 2u);  // what a retry needs
  cch = 1;
  EXPECT_EQ(RegEnumValueW(key, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  BYTE data[2];
  DWORD cb = sizeof data;
  cch = 4;
  EXPECT_EQ(RegEnumValueW(key, 0, name, &cch, nullptr, nullptr, data, &cb), ERROR_MORE_DATA);
  EXPECT_EQ(cb, 4u);
  cch = 4;
  EXPECT_EQ(RegEnumKeyExW(key, 3, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(RegEnumValueW(key, 3, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

  // A full enumeration entry: name, type and data together.
  DWORD type = 0, value = 0;
  cb = sizeof value;
  cch = 4;
  ASSERT_EQ(RegEnumValueW(key, 2, name, &cch, nullptr, &type, reinterpret_cast<BYTE*>(&value), &cb), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name), u"z");
  EXPECT_EQ(cch, 1u);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(value, 3u);
  RegCloseKey(key);
}

TEST_F(RegistryTest, DeleteKeyRemovesTheSubtreeAndKillsItsHandles) {
  HKEY parent = Create(HKEY_LOCAL_MACHINE, u"Software\\Doomed");
  HKEY child = Create(parent, u"Child\\Grandchild");
  ASSERT_EQ(SetDword(child, u"V", 1), ERROR_SUCCESS);
  HKEY sibling = Create(HKEY_LOCAL_MACHINE, u"Software\\DoomedToo");  // a name prefix, not a child

  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"software\\doomed"), ERROR_SUCCESS);
  HKEY probe = nullptr;
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, u"Software\\Doomed\\Child", probe), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(probe, nullptr);
  EXPECT_EQ(SetDword(child, u"V", 2), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegQueryValueExW(parent, u"V", nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE);
  EXPECT_EQ(SetDword(sibling, u"V", 2), ERROR_SUCCESS);

  // The key made again under the same name is a new key: old handles stay dead.
  HKEY reborn = Create(HKEY_LOCAL_MACHINE, u"Software\\Doomed\\Child\\Grandchild");
  EXPECT_EQ(SetDword(child, u"V", 3), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegQueryValueExW(reborn, u"V", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);

  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software\\NotThere"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software\\NotThere\\Deeper"), ERROR_FILE_NOT_FOUND);
  for (HKEY k : {parent, child, sibling, reborn}) EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);

  platform::registry::ReloadFromDisk();
  HKEY software = nullptr;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, u"Software", software), ERROR_SUCCESS);
  EXPECT_EQ(KeyNames(software), (std::vector<std::string>{"DoomedToo", "Doomed"}));
  RegCloseKey(software);
}

// ---- the file ---------------------------------------------------------------------------

TEST_F(RegistryTest, FileIsReadableText) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"Software\\Quellwork\\Tirvane");
  ASSERT_EQ(RegSetValueExW(key, nullptr, 0, REG_SZ, SzBytes(u"text").data(), 10), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, u"Name", 10), ERROR_SUCCESS);
  const BYTE blob[] = {0x01, 0xFF};
  ASSERT_EQ(RegSetValueExW(key, u"Blob", 0, REG_BINARY, blob, 2), ERROR_SUCCESS);
  RegCloseKey(key);
  const std::string text = ReadFile();
  EXPECT_NE(text.find("\n[HKEY_LOCAL_MACHINE\\Software\\Quellwork\\Tirvane]\n"
                      "@=sz:\"text\"\n"
                      "\"Name\"=dword:0000000a\n"
                      "\"Blob\"=hex:01,ff\n"),
            std::string::npos)
      << text;
  EXPECT_FALSE(fs::exists(File() + ".tmp"));
}

TEST_F(RegistryTest, SurvivesARestart) {
  HKEY key = Create(HKEY_CURRENT_USER, u"Settings");
  ASSERT_EQ(SetDword(key, u"Speed", 5), ERROR_SUCCESS);
  platform::registry::ReloadFromDisk();
  EXPECT_EQ(GetDword(key, u"Speed"), 5u);  // handles name paths, so they outlive a reload
  RegCloseKey(key);

  // A different device root is a different phone.
  const std::string other = root_ + "/other";
  platform::SetDeviceRoot(other);
  HKEY missing = nullptr;
  EXPECT_EQ(Open(HKEY_CURRENT_USER, u"Settings", missing), ERROR_FILE_NOT_FOUND);
  platform::SetDeviceRoot(root_);
  EXPECT_EQ(Open(HKEY_CURRENT_USER, u"Settings", key), ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST_F(RegistryTest, AnotherProcessesChangesAreSeen) {
  HKEY key = Create(HKEY_CURRENT_USER, u"Settings");
  ASSERT_EQ(SetDword(key, u"Speed", 5), ERROR_SUCCESS);

  int status = RunInChild([] {
    HKEY k = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, u"Settings", 0, KEY_ALL_ACCESS, &k) != ERROR_SUCCESS) ::_exit(1);
    DWORD v = 6;
    if (RegSetValueExW(k, u"Speed", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4) != ERROR_SUCCESS) ::_exit(2);
    HKEY n = nullptr;
    if (RegCreateKeyExW(k, u"FromChild", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &n, nullptr) != ERROR_SUCCESS)
      ::_exit(3);
  });
  ASSERT_EQ(status, 0);

  // No reload: the replaced file is noticed on the next call.
  EXPECT_EQ(GetDword(key, u"Speed"), 6u);
  EXPECT_EQ(KeyNames(key), std::vector<std::string>{"FromChild"});
  platform::registry::ReloadFromDisk();
  EXPECT_EQ(GetDword(key, u"Speed"), 6u);
  RegCloseKey(key);
}

TEST_F(RegistryTest, AWriterKilledPartWayLeavesTheOldFile) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"Software\\Quellwork\\Tirvane");
  ASSERT_EQ(SetDword(key, u"Speed", 1), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, u"Street", 0, REG_SZ, SzBytes(u"Kirchweg").data(), 18), ERROR_SUCCESS);
  RegCloseKey(key);
  const std::string before = ReadFile();
  const long size = static_cast<long>(before.size());

  for (long crashAt : {0L, 1L, 37L, size / 2, size - 1}) {
    int status = RunInChild([crashAt] {
      platform::registry::SetCrashAfterBytesForTest(crashAt);
      HKEY k = nullptr;
      if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Quellwork\\Tirvane", 0, KEY_ALL_ACCESS, &k) != 0) ::_exit(1);
      DWORD v = 2;
      RegSetValueExW(k, u"Speed", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4);
    });
    ASSERT_EQ(status, 9) << "crash after " << crashAt << " bytes";
    // The half-written temporary file is there, and is not what gets read.
    ASSERT_TRUE(fs::exists(File() + ".tmp"));
    EXPECT_EQ(fs::file_size(File() + ".tmp"), static_cast<std::uintmax_t>(crashAt));
    EXPECT_EQ(ReadFile(), before);

    platform::registry::ReloadFromDisk();
    ClearReports();
    HKEY k = nullptr;
    ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, u"Software\\Quellwork\\Tirvane", k), ERROR_SUCCESS);
    EXPECT_EQ(GetDword(k, u"Speed"), 1u);
    EXPECT_EQ(ValueNames(k), (std::vector<std::string>{"Speed", "Street"}));
    EXPECT_EQ(SkippedLines(), 0u);
    RegCloseKey(k);
  }

  // The next writer replaces the leftover and carries on.
  HKEY k = Create(HKEY_LOCAL_MACHINE, u"Software\\Quellwork\\Tirvane");
  ASSERT_EQ(SetDword(k, u"Speed", 3), ERROR_SUCCESS);
  EXPECT_FALSE(fs::exists(File() + ".tmp"));
  platform::registry::ReloadFromDisk();
  EXPECT_EQ(GetDword(k, u"Speed"), 3u);
  RegCloseKey(k);
}

// Two processes adding values at the same time: each change re-reads the file
// under the lock, so neither loses the other's values.
TEST_F(RegistryTest, ConcurrentProcessesLoseNoChanges) {
  RegCloseKey(Create(HKEY_LOCAL_MACHINE, u"Shared"));
  constexpr int kPerChild = 40;
  std::vector<pid_t> children;
  for (int c = 0; c < 2; ++c) {
    const pid_t pid = testing_support::StartChild([c] {
      HKEY k = nullptr;
      if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Shared", 0, KEY_ALL_ACCESS, &k) != ERROR_SUCCESS) ::_exit(1);
      for (int i = 0; i < kPerChild; ++i) {
        std::u16string name = platform::Utf8ToUtf16("c" + std::to_string(c) + "-" + std::to_string(i));
        DWORD v = static_cast<DWORD>(i);
        if (RegSetValueExW(k, name.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4) != ERROR_SUCCESS)
          ::_exit(2);
      }
    });
    ASSERT_GT(pid, 0);
    children.push_back(pid);
  }
  for (pid_t pid : children) EXPECT_EQ(testing_support::WaitForChild(pid), 0);
  platform::registry::ReloadFromDisk();
  HKEY k = nullptr;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, u"Shared", k), ERROR_SUCCESS);
  EXPECT_EQ(ValueNames(k).size(), 2u * kPerChild);
  for (int c = 0; c < 2; ++c) {
    for (int i = 0; i < kPerChild; i += 13) {
      std::u16string name = platform::Utf8ToUtf16("c" + std::to_string(c) + "-" + std::to_string(i));
      EXPECT_EQ(GetDword(k, name.c_str()), static_cast<DWORD>(i));
    }
  }
  RegCloseKey(k);
}

TEST_F(RegistryTest, ThreadsShareOneRegistry) {
  constexpr int kThreads = 4, kEach = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      std::u16string path = platform::Utf8ToUtf16("Threads\\T" + std::to_string(t));
      HKEY k = nullptr;
      if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) !=
          ERROR_SUCCESS)
        return;
      for (int i = 0; i < kEach; ++i) {
        DWORD v = static_cast<DWORD>(i);
        std::u16string name = platform::Utf8ToUtf16(std::to_string(i));
        RegSetValueExW(k, name.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4);
        RegQueryValueExW(k, name.c_str(), nullptr, nullptr, nullptr, nullptr);
      }
      RegCloseKey(k);
    });
  }
  for (auto& t : threads) t.join();
  platform::registry::ReloadFromDisk();
  HKEY k = nullptr;
  ASSERT_EQ(Open(HKEY_CURRENT_USER, u"Threads", k), ERROR_SUCCESS);
  EXPECT_EQ(KeyNames(k).size(), static_cast<std::size_t>(kThreads));
  for (int t = 0; t < kThreads; ++t) {
    HKEY sub = nullptr;
    std::u16string name = platform::Utf8ToUtf16("T" + std::to_string(t));
    ASSERT_EQ(Open(k, name.c_str(), sub), ERROR_SUCCESS);
    EXPECT_EQ(ValueNames(sub).size(), static_cast<std::size_t>(kEach));
    RegCloseKey(sub);
  }
  RegCloseKey(k);
}

// ---- damaged files -----------------------------------------------------------------------

TEST_F(RegistryTest, DamagedFilesLoadWhatParses) {
  const std::string head = "[HKEY_LOCAL_MACHINE\\T]\n\"A\"=dword:1\n";
  struct Row {
    const char* what;
    std::string text;
    std::vector<std::string> values;  // of HKLM\T, in order
    std::size_t skipped;
  };
  using V = std::vector<std::string>;
  const Row rows[] = {
      {"bad hex digit", head + "\"B\"=hex:0g\n\"C\"=dword:3\n", V{"A", "C"}, 1},
      {"odd hex digits", head + "\"B\"=hex:01,f\n", V{"A"}, 1},
      {"trailing comma", head + "\"B\"=hex:01,\n", V{"A"}, 1},
      {"name without closing quote", head + "\"B=dword:2\n", V{"A"}, 1},
      {"text without closing quote", head + "\"B\"=sz:\"abc\n", V{"A"}, 1},
      {"unquoted name", head + "B=dword:2\n", V{"A"}, 1},
      {"no equals sign", head + "\"B\" dword:2\n", V{"A"}, 1},
      {"unknown type", head + "\"B\"=qword:2\n", V{"A"}, 1},
      {"dword too long", head + "\"B\"=dword:123456789\n", V{"A"}, 1},
      {"dword empty", head + "\"B\"=dword:\n", V{"A"}, 1},
      {"bad escape", head + "\"B\"=sz:\"a\\q\"\n", V{"A"}, 1},
      {"short \\u escape", head + "\"B\"=sz:\"\\u12\"\n", V{"A"}, 1},
      {"escape at the end", head + "\"B\"=sz:\"\\", V{"A"}, 1},
      {"garbage after value", head + "\"B\"=dword:2 x\n", V{"A"}, 1},
      {"dword of the wrong size", head + "\"B\"=hex(4):01,02\n", V{"A"}, 1},
      {"hex type not closed", head + "\"B\"=hex(4:01\n", V{"A"}, 1},
      {"binary junk", head + std::string("\0\xFF\xFE[\x01\n", 6) + "\"C\"=dword:3\n", V{"A", "C"}, 1},
      {"junk that starts like a section", head + std::string("[\xFF\0]]\n", 6) + "\"B\"=dword:2\n", V{"A"}, 2},
      {"value before any key", "\"Z\"=dword:1\n" + head, V{"A"}, 1},
      {"unknown root", "[HKEY_NOWHERE\\T]\n\"B\"=dword:2\n" + head, V{"A"}, 2},
      {"section not closed", head + "[HKEY_LOCAL_MACHINE\\T\n\"B\"=dword:2\n", V{"A"}, 2},
      {"text after section", head + "[HKEY_LOCAL_MACHINE\\T] x\n\"B\"=dword:2\n", V{"A"}, 2},
      {"backslash in a quoted key", "[HKEY_LOCAL_MACHINE\\\"a\\\\b\"]\n\"B\"=dword:2\n" + head, V{"A"}, 2},
      {"truncated in a line", head + "\"B\"=hex:01,0", V{"A"}, 1},
      {"truncated after a line", head + "\"B\"=hex:01,02", V{"A", "B"}, 0},
      {"empty file", "", V{}, 0},
      {"CRLF, comments, blanks", "; c\r\n# c\r\n\r\n  \t\r\n[HKEY_LOCAL_MACHINE\\T]\r\n\"A\"=dword:1\r\n", V{"A"}, 0},
      {"not UTF-8 inside text", head + "\"B\"=sz:\"\xFF\xC0\"\n", V{"A", "B"}, 0},
      {"same value twice", head + "\"A\"=dword:5\n", V{"A"}, 0},
      {"root in any case", head + "[hkey_local_machine\\t]\n\"B\"=dword:2\n", V{"A", "B"}, 0},
      {"plain string form", head + "\"B\"=\"text\"\n", V{"A", "B"}, 0},
      {"spaces around", head + "\"B\" = dword:2  \n\"C\"=hex: 01 , 02 \n", V{"A", "B", "C"}, 0},
  };
  for (const Row& row : rows) {
    WriteFile(row.text);
    platform::registry::ReloadFromDisk();
    ClearReports();
    HKEY k = nullptr;
    LONG rc = Open(HKEY_LOCAL_MACHINE, u"T", k);
    if (row.values.empty()) {
      EXPECT_EQ(rc, ERROR_FILE_NOT_FOUND) << row.what;
    } else {
      ASSERT_EQ(rc, ERROR_SUCCESS) << row.what;
      EXPECT_EQ(ValueNames(k), row.values) << row.what;
      RegCloseKey(k);
    }
    EXPECT_EQ(SkippedLines(), row.skipped) << row.what;
  }
  // What did load is exact.
  const std::string damaged = head + "\"A\"=dword:0000002a\n\"S\"=sz:\"\xFF\"\n\"Typo\"=dword:xyz\n";
  WriteFile(damaged);
  platform::registry::ReloadFromDisk();
  HKEY k = nullptr;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, u"T", k), ERROR_SUCCESS);
  EXPECT_EQ(GetDword(k, u"A"), 42u);
  DWORD type = 0;
  EXPECT_EQ(Get(k, u"S", type), SzBytes(u"\uFFFD"));
  // The first change drops the bad line from registry.txt but keeps the
  // damaged file aside; later changes leave that copy alone.
  ASSERT_EQ(SetDword(k, u"B", 1), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(k, u"B", 2), ERROR_SUCCESS);
  std::ifstream kept(File() + ".damaged", std::ios::binary);
  std::stringstream keptText;
  keptText << kept.rdbuf();
  EXPECT_EQ(keptText.str(), damaged);
  EXPECT_EQ(ReadFile().find("Typo"), std::string::npos);
  RegCloseKey(k);
}

TEST_F(RegistryTest, AFileThatCannotBeReadIsNeverOverwritten) {
  fs::create_directory(File());  // opens, but every read fails
  platform::registry::ReloadFromDisk();
  HKEY k = nullptr;
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, u"T", k), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(SetDword(HKEY_LOCAL_MACHINE, u"V", 1), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"T", 0, nullptr, 0, 0, nullptr, &k, nullptr), ERROR_ACCESS_DENIED);
  EXPECT_EQ(k, nullptr);
  EXPECT_TRUE(fs::is_directory(File()));
}

// A pipe standing where registry.txt should be is refused like any file
// that cannot be read, at once: reading it would wait for a writer that
// never comes. The calls run in a child an alarm ends should one wait.
TEST_F(RegistryTest, APipeInPlaceOfTheFileIsRefusedWithoutWaiting) {
  ASSERT_EQ(::mkfifo(File().c_str(), 0644), 0);
  const int status = testing_support::RunInChild([] {
    ::alarm(60);
    platform::registry::ReloadFromDisk();
    int failures = 0;
    HKEY k = nullptr;
    if (Open(HKEY_LOCAL_MACHINE, u"T", k) != ERROR_FILE_NOT_FOUND) failures |= 1;
    if (SetDword(HKEY_LOCAL_MACHINE, u"V", 1) != ERROR_ACCESS_DENIED) failures |= 2;
    ::_exit(failures);
  });
  EXPECT_EQ(status, 0);
  struct stat st {};
  ASSERT_EQ(::lstat(File().c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// A link planted at the temporary's name is not followed: the file it
// points to, outside the device root, keeps its bytes.
TEST_F(RegistryTest, ASaveNeverWritesThroughALinkAtItsTemporaryName) {
  const testing_support::TempFolder outside("registry-outside");
  const std::string victim = (outside / "victim").string();
  std::ofstream(victim, std::ios::binary) << "precious";
  fs::create_symlink(victim, File() + ".tmp");
  HKEY k = Create(HKEY_LOCAL_MACHINE, u"Software\\Quellwork");
  EXPECT_EQ(SetDword(k, u"Speed", 7), ERROR_SUCCESS);
  RegCloseKey(k);
  std::ifstream in(victim, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "precious");
  EXPECT_NE(ReadFile().find("\"Speed\"=dword:00000007"), std::string::npos) << ReadFile();
  EXPECT_FALSE(fs::exists(fs::symlink_status(File() + ".tmp")));
}

// Walks every key and value below `key`, reading each value.
void WalkAll(HKEY key, int depth) {
  if (depth > 64) return;
  std::vector<WCHAR> name(16384);
  for (DWORD i = 0;; ++i) {
    DWORD cch = 16384, type = 0, cb = 0;
    if (RegEnumValueW(key, i, name.data(), &cch, nullptr, &type, nullptr, &cb) != ERROR_SUCCESS) break;
    std::vector<BYTE> data(cb + 1);
    DWORD given = cb;
    RegQueryValueExW(key, name.data(), nullptr, &type, data.data(), &given);
  }
  for (DWORD i = 0;; ++i) {
    DWORD cch = 16384;
    if (RegEnumKeyExW(key, i, name.data(), &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    HKEY sub = nullptr;
    if (RegOpenKeyExW(key, name.data(), 0, KEY_READ, &sub) != ERROR_SUCCESS) continue;
    WalkAll(sub, depth + 1);
    RegCloseKey(sub);
  }
}

// Randomly damaged copies of a real registry file: each loads without a crash,
// and whatever loaded is written back as a file that loads cleanly.
TEST_F(RegistryTest, MutatedFilesNeverCrashAndRewriteCleanly) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"Software\\Quellwork\\Tirvane");
  ASSERT_EQ(RegSetValueExW(key, u"Street", 0, REG_SZ, SzBytes(u"Stra\u00DFe \"7\"\n").data(), 30), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, u"Speed", 7), ERROR_SUCCESS);
  const BYTE blob[] = {1, 2, 3, 254, 255};
  ASSERT_EQ(RegSetValueExW(key, u"Blob", 0, REG_BINARY, blob, 5), ERROR_SUCCESS);
  RegCloseKey(Create(key, u"Sub\\\"Quoted\"\\Deep"));
  RegCloseKey(key);
  const std::string original = ReadFile();

  std::uint32_t seed = 20240517;  // fixed, so a failure replays
  auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  for (int round = 0; round < 200; ++round) {
    std::string text = original;
    const int edits = 1 + static_cast<int>(next() % 4);
    for (int e = 0; e < edits && !text.empty(); ++e) {
      const std::size_t at = next() % text.size();
      switch (next() % 4) {
        case 0: text[at] = static_cast<char>(next()); break;
        case 1: text.resize(at); break;
        case 2: text.insert(at, 1, "\\\"[]=,:\n\0x"[next() % 10]); break;
        default: text.erase(at, 1 + next() % 8); break;
      }
    }
    WriteFile(text);
    platform::registry::ReloadFromDisk();
    for (HKEY rootKey : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) WalkAll(rootKey, 0);

    HKEY probe = Create(HKEY_CURRENT_USER, u"Probe");
    ASSERT_EQ(SetDword(probe, u"Round", static_cast<DWORD>(round)), ERROR_SUCCESS);
    RegCloseKey(probe);
    platform::registry::ReloadFromDisk();
    ClearReports();
    for (HKEY rootKey : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) WalkAll(rootKey, 0);
    ASSERT_EQ(SkippedLines(), 0u) << "round " << round << "\n" << ReadFile();
  }
}

// ---- bad arguments ------------------------------------------------------------------------

TEST_F(RegistryTest, BadArgumentsAreRefusedWithoutHarm) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"Args");
  HKEY closed = Create(HKEY_LOCAL_MACHINE, u"Args\\Closed");
  ASSERT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
  HKEY out = reinterpret_cast<HKEY>(0x1);

  // Handles: null, foreign, closed, and a root number that does not exist.
  const HKEY badHandles[] = {nullptr, reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x1234)), closed,
                             reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000003u))};
  for (HKEY bad : badHandles) {
    EXPECT_EQ(RegOpenKeyExW(bad, u"x", 0, KEY_READ, &out), ERROR_INVALID_HANDLE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(SetDword(bad, u"x", 1), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueExW(bad, u"x", nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegDeleteKeyW(bad, u"x"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegDeleteValueW(bad, u"x"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(bad), ERROR_INVALID_HANDLE);
  }
  // The roots are never closed.
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, u"Args", out), ERROR_SUCCESS);
  RegCloseKey(out);

  // Null pointers where something is needed.
  EXPECT_EQ(RegOpenKeyExW(key, u"x", 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCreateKeyExW(key, u"x", 0, nullptr, 0, 0, nullptr, nullptr, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueExW(key, u"x", 0, REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
  DWORD cch = 8;
  WCHAR name[8];
  BYTE data[8];
  EXPECT_EQ(RegQueryValueExW(key, u"x", nullptr, nullptr, data, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegEnumKeyExW(key, 0, nullptr, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegEnumKeyExW(key, 0, name, nullptr, nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegEnumValueW(key, 0, nullptr, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegEnumValueW(key, 0, name, &cch, nullptr, nullptr, data, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegDeleteKeyW(key, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegDeleteKeyW(key, u""), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"\\\\"), ERROR_INVALID_PARAMETER);

  // A DWORD is four bytes exactly.
  const BYTE five[5] = {1, 2, 3, 4, 5};
  for (DWORD cb : {0u, 3u, 5u})
    EXPECT_EQ(RegSetValueExW(key, u"D", 0, REG_DWORD, five, cb), ERROR_INVALID_PARAMETER) << cb;
  EXPECT_EQ(RegQueryValueExW(key, u"D", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);

  // Strings are taken up to their NUL or the end of the data, whichever comes
  // first, and stored with a NUL. Only the bytes given are read: the sources
  // below live in exact-size heap blocks that the address sanitizer guards.
  struct SzRow {
    std::vector<char16_t> source;
    DWORD cb;
    std::u16string stored;
  };
  const SzRow szRows[] = {
      {{u'a', u'b', u'c'}, 5, u"ab"},              // odd count: the half unit is dropped
      {{u'a', u'b', u'c'}, 6, u"abc"},             // no NUL: one is added
      {{u'o', u'k', u'\0', u'x'}, 8, u"ok"},       // text ends at its NUL
      {{u'o', u'k', u'\0'}, 0xFFFFFFFFu, u"ok"},   // a generous count stops at the NUL
      {{u'a'}, 0, u""},
  };
  for (const SzRow& row : szRows) {
    auto heap = std::make_unique<char16_t[]>(row.source.size());
    std::copy(row.source.begin(), row.source.end(), heap.get());
    ASSERT_EQ(RegSetValueExW(key, u"S", 0, REG_SZ, reinterpret_cast<const BYTE*>(heap.get()), row.cb), ERROR_SUCCESS);
    DWORD type = 0;
    EXPECT_EQ(Get(key, u"S", type), SzBytes(row.stored)) << row.cb;
  }
  EXPECT_EQ(RegSetValueExW(key, u"Empty", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);

  // Names without a NUL within the limits are refused, having read only that far.
  std::vector<char16_t> endless(40000, u'a');
  EXPECT_EQ(SetDword(key, endless.data(), 1), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegOpenKeyExW(key, endless.data(), 0, KEY_READ, &out), ERROR_INVALID_PARAMETER);
  RegCloseKey(key);
}

}  // namespace
