// Tests of the device root, the mapping of phone paths onto it (case-blind,
// never above the root), file finding with wildcards, file attributes, and
// loading modules through phone paths.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/os/clock.h"
#include "platform/os/device.h"
#include "platform/os/files.h"
#include "platform/os/module.h"
#include "platform/os/text.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

std::string Cwd() {
  char buf[4096];
  return ::getcwd(buf, sizeof buf) != nullptr ? buf : "";
}

// Restores an environment variable when the test ends.
class SavedEnv {
 public:
  explicit SavedEnv(const char* name) : name_(name) {
    const char* v = std::getenv(name);
    had_ = v != nullptr;
    if (had_) value_ = v;
  }
  ~SavedEnv() {
    if (had_) {
      ::setenv(name_, value_.c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string value_;
};

// Each test gets its own fresh device root in the temporary folder.
class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = folder_.string();
    platform::SetDeviceRoot(root_);
  }
  void TearDown() override {
    platform::SetDeviceRoot("");
    std::error_code ec;
    fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto& entry : fs::recursive_directory_iterator(root_, ec))
      fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  void MakeFile(const std::string& relative, const std::string& content = "") {
    fs::create_directories(fs::path(root_ + "/" + relative).parent_path());
    std::ofstream(root_ + "/" + relative, std::ios::binary) << content;
  }
  void MakeDir(const std::string& relative) { fs::create_directories(root_ + "/" + relative); }
  std::string ReadHost(const std::string& relative) const {
    std::ifstream in(root_ + "/" + relative, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  testing_support::TempFolder folder_{"device-files"};
  std::string root_;
};

// ---- device root --------------------------------------------------------------------

TEST(DeviceRoot, SetValueElseEnvironmentElseDeviceFolder) {
  SavedEnv saved("TIRVANE_ROOT");
  const std::string cwd = Cwd();

  platform::SetDeviceRoot("relative/dir/");
  EXPECT_EQ(platform::DeviceRoot(), cwd + "/relative/dir");
  platform::SetDeviceRoot("/srv//phone/./card/../");
  EXPECT_EQ(platform::DeviceRoot(), "/srv/phone");

  platform::SetDeviceRoot("");
  ::setenv("TIRVANE_ROOT", "from-env", 1);
  EXPECT_EQ(platform::DeviceRoot(), cwd + "/from-env");
  ::unsetenv("TIRVANE_ROOT");
  EXPECT_EQ(platform::DeviceRoot(), cwd + "/device");
}

// ---- paths --------------------------------------------------------------------------

TEST_F(DeviceTest, PhonePathsResolveIgnoringCase) {
  MakeFile("Storage Card/Maps/Berlin.RMF");
  MakeFile("\xC3\xA4rger/Datei.txt");  // "ärger"
  MakeDir("Dup");
  MakeDir("DUP");
  struct Row {
    std::u16string phone;
    std::string expected;  // below the root
  };
  const Row rows[] = {
      {u"\\storage card\\maps\\berlin.rmf", "/Storage Card/Maps/Berlin.RMF"},
      {u"\\STORAGE CARD/Maps/new.rmf", "/Storage Card/Maps/new.rmf"},  // missing leaf keeps its case
      {u"\\Missing\\Sub\\File.TXT", "/Missing/Sub/File.TXT"},
      {u"storage card\\maps", "/Storage Card/Maps"},                 // relative to the root
      {u"\\..\\..\\etc\\passwd", "/etc/passwd"},                      // cannot climb out
      {u"\\Storage Card\\.\\x\\..\\maps\\", "/Storage Card/Maps"},
      {u"\\Storage Card\\Maps\\..\\..\\..", ""},
      {u"", ""},
      {u"\\", ""},
      {u"\\\u00C4RGER\\datei.TXT", "/\xC3\xA4rger/Datei.txt"},
      {std::u16string(u"\\storage card\0\\junk", 19), "/Storage Card"},  // a path ends at its NUL
      {u"\\Dup", "/Dup"},  // the exact name wins
      {u"\\dup", "/DUP"},  // otherwise the smallest of the names that match
  };
  for (const Row& row : rows) {
    EXPECT_EQ(platform::HostPath(row.phone), root_ + row.expected) << platform::Utf16ToUtf8(row.phone);
  }
  EXPECT_EQ(platform::HostPathUtf8("\\storage card\\MAPS"), root_ + "/Storage Card/Maps");
  // Host paths are used as they are.
  EXPECT_EQ(platform::HostPath(u"/nonexistent/Host\\Path"), "/nonexistent/Host\\Path");
}

// ---- finding files ----------------------------------------------------------------------

std::vector<std::string> FindAll(const std::u16string& pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW data{};
  HANDLE h = FindFirstFileW(pattern.c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    names.push_back(platform::Utf16ToUtf8(data.cFileName));
  } while (FindNextFileW(h, &data));
  EXPECT_TRUE(FindClose(h));
  return names;
}

class FindTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    MakeFile("Maps/Berlin.RMF", "0123456789");
    MakeFile("Maps/aachen.rmf");
    MakeFile("Maps/Cologne.rMf");
    MakeFile("Maps/notes.txt");
    MakeFile("Maps/readme");
    MakeDir("Maps/Extra.rmf");
    MakeDir("Maps/sub");
  }
};

TEST_F(FindTest, WildcardsMatchIgnoringCaseInNameOrder) {
  using Names = std::vector<std::string>;
  const Names all = {"aachen.rmf", "Berlin.RMF", "Cologne.rMf", "Extra.rmf", "notes.txt", "readme", "sub"};
  struct Row {
    std::u16string pattern;
    Names expected;
  };
  const Row rows[] = {
      {u"\\maps\\*.rmf", {"aachen.rmf", "Berlin.RMF", "Cologne.rMf", "Extra.rmf"}},
      {u"\\MAPS\\*.RMF", {"aachen.rmf", "Berlin.RMF", "Cologne.rMf", "Extra.rmf"}},
      {u"\\maps\\*", all},
      {u"\\maps\\*.*", all},  // the phone's "everything", dotted or not
      {u"\\maps\\?????.TXT", {"notes.txt"}},
      {u"\\maps\\????.TXT", {}},
      {u"\\maps\\b*", {"Berlin.RMF"}},
      {u"\\maps\\*n*e*", {"Cologne.rMf", "notes.txt"}},  // needs backtracking
      {u"\\maps\\berlin.rmf", {"Berlin.RMF"}},  // no wildcard: the one entry
      {u"/" + platform::Utf8ToUtf16(root_.substr(1)) + u"/Maps/a*", {"aachen.rmf"}},  // a host path
      {u"maps/s?b", {"sub"}},
      {u"\\maps", {"Maps"}},
      {u"\\maps\\*.zip", {}},
      {u"\\nowhere\\*", {}},
      {u"\\maps\\", {}},  // names a folder, not entries
  };
  for (const Row& row : rows) {
    EXPECT_EQ(FindAll(row.pattern), row.expected) << platform::Utf16ToUtf8(row.pattern);
  }
}

TEST_F(FindTest, EntriesCarryAttributesSizesAndTimes) {
  const std::string berlin = root_ + "/Maps/Berlin.RMF";
  const struct timespec times[2] = {{1577836800, 0}, {1577836800, 500}};  // 2020-01-01 00:00:00 UTC
  ASSERT_EQ(::utimensat(AT_FDCWD, berlin.c_str(), times, 0), 0);
  // A sparse file past 4 GiB needs both size halves.
  { std::ofstream(root_ + "/Maps/big.rmf"); }
  fs::resize_file(root_ + "/Maps/big.rmf", (5ull << 30) + 7);

  WIN32_FIND_DATAW data{};
  HANDLE h = FindFirstFileW(u"\\maps\\*", &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  std::vector<WIN32_FIND_DATAW> entries{data};
  while (FindNextFileW(h, &data)) entries.push_back(data);
  EXPECT_FALSE(FindNextFileW(h, &data));  // stays at the end
  EXPECT_TRUE(FindClose(h));

  auto entry = [&](const std::u16string& name) {
    for (const auto& e : entries)
      if (name == e.cFileName) return e;
    ADD_FAILURE() << platform::Utf16ToUtf8(name) << " not found";
    return WIN32_FIND_DATAW{};
  };
  const WIN32_FIND_DATAW b = entry(u"Berlin.RMF");
  EXPECT_EQ(b.dwFileAttributes, FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(b.nFileSizeLow, 10u);
  EXPECT_EQ(b.nFileSizeHigh, 0u);
  const FILETIME& ft = b.ftLastWriteTime;
  const std::uint64_t written = (std::uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
  EXPECT_EQ(written, 132'223'104'000'000'005ull);  // 100 ns steps since 1601
  const WIN32_FIND_DATAW big = entry(u"big.rmf");
  EXPECT_EQ(big.nFileSizeHigh, 1u);
  EXPECT_EQ(big.nFileSizeLow, (1u << 30) + 7);
  const WIN32_FIND_DATAW sub = entry(u"sub");
  EXPECT_EQ(sub.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(sub.nFileSizeLow, 0u);
}

TEST_F(FindTest, NamesThePhoneCannotSpellAreLeftOut) {
  MakeFile("Maps/bad\xFF.rmf");
  EXPECT_EQ(FindAll(u"\\maps\\bad*"), std::vector<std::string>{});
}

TEST_F(FindTest, HandlesAreCheckedBeforeUse) {
  WIN32_FIND_DATAW data{};
  EXPECT_EQ(FindFirstFileW(nullptr, &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(FindFirstFileW(u"\\maps\\*", nullptr), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(FindNextFileW(INVALID_HANDLE_VALUE, &data));
  EXPECT_FALSE(FindNextFileW(nullptr, &data));
  EXPECT_FALSE(FindClose(INVALID_HANDLE_VALUE));
  EXPECT_FALSE(FindClose(nullptr));

  HANDLE h = FindFirstFileW(u"\\maps\\*", &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(FindNextFileW(h, nullptr));
  EXPECT_TRUE(FindClose(h));
  EXPECT_FALSE(FindClose(h));             // a second close is refused,
  EXPECT_FALSE(FindNextFileW(h, &data));  // and so is a closed handle
}

TEST_F(FindTest, FileAttributes) {
  MakeFile("Maps/locked.rmf");
  MakeDir("Maps/LockedDir");
  ASSERT_EQ(::chmod((root_ + "/Maps/locked.rmf").c_str(), 0444), 0);
  ASSERT_EQ(::chmod((root_ + "/Maps/LockedDir").c_str(), 0555), 0);
  struct Row {
    const char16_t* path;
    DWORD expected;
  };
  const Row rows[] = {
      {u"\\maps", FILE_ATTRIBUTE_DIRECTORY},
      {u"\\MAPS\\berlin.rmf", FILE_ATTRIBUTE_NORMAL},
      {u"\\maps\\locked.rmf", FILE_ATTRIBUTE_READONLY},
      {u"\\maps\\lockeddir", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY},
      {u"\\maps\\nothing.rmf", INVALID_FILE_ATTRIBUTES},
      {u"\\maps\\*.rmf", INVALID_FILE_ATTRIBUTES},
      {u"", FILE_ATTRIBUTE_DIRECTORY},  // the device root itself
  };
  for (const Row& row : rows) {
    EXPECT_EQ(GetFileAttributesW(row.path), row.expected) << platform::Utf16ToUtf8(row.path);
  }
  EXPECT_EQ(GetFileAttributesW(nullptr), INVALID_FILE_ATTRIBUTES);
}

// ---- modules ----------------------------------------------------------------------------

// The platform library is already loaded into the test; a link to it under a
// phone name lets LoadLibraryW find it through the device root without
// loading a second copy.
// GetTickCount serves as the known export; its symbol name is C++-mangled,
// so it is taken from the loader rather than spelled here.
struct KnownExport {
  std::string library;
  std::string symbol;
};

KnownExport PlatformExport() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&GetTickCount), &info) == 0 || info.dli_fname == nullptr ||
      info.dli_sname == nullptr)
    return {};
  return {fs::absolute(info.dli_fname).string(), info.dli_sname};
}

TEST_F(DeviceTest, ModulesLoadThroughPhonePaths) {
  const KnownExport known = PlatformExport();
  ASSERT_FALSE(known.library.empty());
  MakeDir("Windows");
  fs::create_symlink(known.library, root_ + "/Windows/NavPlatform.DLL");

  HMODULE module = LoadLibraryW(u"\\windows\\navplatform.dll");
  ASSERT_NE(module, nullptr) << platform::LastModuleError();
  EXPECT_EQ(GetProcAddress(module, known.symbol.c_str()), reinterpret_cast<FARPROC>(&GetTickCount));
  EXPECT_EQ(GetProcAddress(module, "NoSuchExport"), nullptr);
  EXPECT_NE(std::string(platform::LastModuleError()), "");
  EXPECT_EQ(GetProcAddress(module, nullptr), nullptr);

  WCHAR name[MAX_PATH];
  const std::u16string expected = platform::Utf8ToUtf16(root_ + "/Windows/NavPlatform.DLL");
  EXPECT_EQ(GetModuleFileNameW(module, name, MAX_PATH), expected.size());
  EXPECT_EQ(std::u16string(name), expected);
  EXPECT_EQ(GetModuleFileNameW(module, name, 5), 4u);  // cut at nSize - 1, still terminated
  EXPECT_EQ(std::u16string(name), expected.substr(0, 4));
  EXPECT_EQ(GetModuleFileNameW(module, name, 0), 0u);
  EXPECT_EQ(GetModuleFileNameW(module, nullptr, 10), 0u);

  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_FALSE(FreeLibrary(module));  // freed handles are refused, not reused
  EXPECT_EQ(GetProcAddress(module, known.symbol.c_str()), nullptr);
  EXPECT_EQ(GetModuleFileNameW(module, name, MAX_PATH), 0u);
}

TEST_F(DeviceTest, ModulesThatWillNotLoadSayWhy) {
  MakeFile("Windows/NotALibrary.dll", "just text");
  const char16_t* names[] = {u"\\Windows\\Missing.dll", u"\\windows\\notalibrary.dll"};
  for (const char16_t* name : names) {
    EXPECT_EQ(LoadLibraryW(name), nullptr) << platform::Utf16ToUtf8(name);
    EXPECT_NE(std::string(platform::LastModuleError()), "");
  }
  EXPECT_EQ(LoadLibraryW(nullptr), nullptr);
  EXPECT_FALSE(FreeLibrary(nullptr));
}

TEST(ModuleFileName, NullModuleIsTheProgram) {
  WCHAR name[4096];
  DWORD n = GetModuleFileNameW(nullptr, name, 4096);
  ASSERT_GT(n, 0u);
  const std::string path = platform::Utf16ToUtf8(std::u16string(name, n));
  EXPECT_EQ(path.front(), '/');
  EXPECT_EQ(fs::path(path).filename(), "platform_os_tests");
}

// ---- reading files ------------------------------------------------------------------

class ReadFileTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    MakeFile("Maps/Berlin.RMF", "0123456789");
    MakeDir("Maps/Folder.rmf");
  }
  static HANDLE Open(const char16_t* path) {
    return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS, nullptr);
  }
  static std::string Read(HANDLE h, DWORD n) {
    std::string bytes(n, '\0');
    DWORD got = 12345;
    EXPECT_TRUE(ReadFile(h, bytes.data(), n, &got, nullptr));
    bytes.resize(got);
    return bytes;
  }
};

TEST_F(ReadFileTest, OpensPhonePathsAndReadsAtThePosition) {
  HANDLE h = Open(u"\\maps\\berlin.rmf");
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Read(h, 4), "0123");
  EXPECT_EQ(Read(h, 3), "456");  // reading advances the position
  EXPECT_EQ(SetFilePointer(h, 2, nullptr, FILE_BEGIN), 2u);
  EXPECT_EQ(Read(h, 2), "23");
  EXPECT_EQ(SetFilePointer(h, -1, nullptr, FILE_CURRENT), 3u);
  EXPECT_EQ(Read(h, 1), "3");
  EXPECT_EQ(SetFilePointer(h, -2, nullptr, FILE_END), 8u);
  EXPECT_EQ(Read(h, 100), "89");  // a short read at the end
  EXPECT_EQ(Read(h, 100), "");    // and nothing after it, still TRUE
  EXPECT_EQ(SetFilePointer(h, 1000, nullptr, FILE_BEGIN), 1000u);  // past the end is allowed
  EXPECT_EQ(Read(h, 5), "");
  EXPECT_TRUE(ReadFile(h, nullptr, 0, nullptr, nullptr));
  EXPECT_TRUE(CloseHandle(h));
}

TEST_F(ReadFileTest, PositionsBeyondTwoGigabytesNeedTheHighWord) {
  { std::ofstream(root_ + "/Maps/big.rmf"); }
  fs::resize_file(root_ + "/Maps/big.rmf", (5ull << 30));
  {
    std::fstream f(root_ + "/Maps/big.rmf", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp((4ll << 30) + 16);
    f << "far";
  }
  HANDLE h = Open(u"\\maps\\big.rmf");
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  LONG high = 1;
  EXPECT_EQ(SetFilePointer(h, 16, &high, FILE_BEGIN), 16u);
  EXPECT_EQ(high, 1);
  EXPECT_EQ(Read(h, 3), "far");
  // 3 GB as an unsigned offset with a zero high word stays positive.
  high = 0;
  EXPECT_EQ(SetFilePointer(h, static_cast<LONG>(0xC0000000u), &high, FILE_BEGIN), 0xC0000000u);
  EXPECT_EQ(high, 0);
  EXPECT_EQ(Read(h, 2), std::string(2, '\0'));
  // Without the high word the same bits are a negative distance: refused,
  // and the position stays where it was.
  EXPECT_EQ(SetFilePointer(h, static_cast<LONG>(0xC0000000u), nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 0xC0000002u);
  EXPECT_TRUE(CloseHandle(h));
}

TEST_F(ReadFileTest, OnlyTheAccessAndCreationValuesFilesTakeOpen) {
  EXPECT_EQ(Open(u"\\maps\\missing.rmf"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(Open(u"\\maps\\folder.rmf"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(Open(nullptr), INVALID_HANDLE_VALUE);
  const char16_t* berlin = u"\\maps\\berlin.rmf";
  struct Row {
    DWORD access, share, disposition, flags;
  };
  const Row refused[] = {
      {0, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL},                           // no access
      {GENERIC_READ | 0x20000000u, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL},  // executing
      {GENERIC_READ, FILE_SHARE_READ | 0x4, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL},          // sharing deletes
      {GENERIC_READ, FILE_SHARE_READ, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL},                // creating to read
      {GENERIC_READ, FILE_SHARE_READ, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL},
      {GENERIC_WRITE, FILE_SHARE_READ, 1, FILE_ATTRIBUTE_NORMAL},                           // create new
      {GENERIC_WRITE, FILE_SHARE_READ, 5, FILE_ATTRIBUTE_NORMAL},                           // truncate existing
      {GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0x40000000u},                          // overlapped
  };
  for (const Row& row : refused) {
    EXPECT_EQ(CreateFileW(berlin, row.access, row.share, nullptr, row.disposition, row.flags, nullptr),
              INVALID_HANDLE_VALUE)
        << std::hex << row.access << " " << row.share << " " << row.disposition << " " << row.flags;
  }
  HANDLE plain = CreateFileW(berlin, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(plain, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(WriteFile(plain, "x", 1, nullptr, nullptr));  // opened for reading only
  EXPECT_TRUE(CloseHandle(plain));
  EXPECT_EQ(ReadHost("Maps/Berlin.RMF"), "0123456789");
}

// A pipe, or anything else that is no regular file, standing where a map or
// a settings file should be is refused at once: opening one for reading
// would wait for a writer that never comes. The checks run in a child that
// an alarm ends should one of them wait after all.
TEST_F(ReadFileTest, PipesInPlaceOfFilesAreRefusedWithoutWaiting) {
  MakeDir("Settings");
  ASSERT_EQ(::mkfifo((root_ + "/Maps/pipe.rmf").c_str(), 0644), 0);
  ASSERT_EQ(::mkfifo((root_ + "/Settings/GPS.inf").c_str(), 0644), 0);
  const int status = testing_support::RunInChild([] {
    ::alarm(60);
    int failures = 0;
    if (Open(u"\\maps\\pipe.rmf") != INVALID_HANDLE_VALUE) failures |= 1;
    HANDLE write = CreateFileW(u"\\maps\\pipe.rmf", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (write != INVALID_HANDLE_VALUE) failures |= 2;
    std::string bytes = "left";
    if (platform::ReadWholeFile(u"\\Settings\\GPS.inf", 1000, bytes) != platform::WholeFileRead::kUnreadable) {
      failures |= 4;
    }
    if (!bytes.empty()) failures |= 8;
    ::_exit(failures);
  });
  EXPECT_EQ(status, 0);
}

// A save writes a temporary beside the file and renames it over the file.
// A link planted at the temporary's name is not followed: the file it
// points to, outside the device root, keeps its bytes.
TEST_F(ReadFileTest, ASaveNeverWritesThroughALinkAtItsTemporaryName) {
  MakeFile("Settings/GPS.inf", "old");
  const testing_support::TempFolder outside("outside-root");
  const std::string victim = (outside / "victim").string();
  std::ofstream(victim, std::ios::binary) << "precious";
  fs::create_symlink(victim, root_ + "/Settings/GPS.inf.tmp");
  ASSERT_TRUE(platform::ReplaceWholeFile(u"\\Settings\\GPS.inf", "new"));
  EXPECT_EQ(ReadHost("Settings/GPS.inf"), "new");
  std::ifstream in(victim, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), "precious");
  EXPECT_FALSE(fs::exists(fs::symlink_status(root_ + "/Settings/GPS.inf.tmp")));
  // A leftover temporary from a save that died is replaced as before.
  MakeFile("Settings/GPS.inf.tmp", "half");
  ASSERT_TRUE(platform::ReplaceWholeFile(u"\\Settings\\GPS.inf", "newer"));
  EXPECT_EQ(ReadHost("Settings/GPS.inf"), "newer");
  EXPECT_FALSE(fs::exists(root_ + "/Settings/GPS.inf.tmp"));
}

TEST_F(ReadFileTest, FilesOpenedForWritingAppendCreateAndEmpty) {
  auto openWrite = [](const char16_t* path, DWORD disposition) {
    return CreateFileW(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  // Appending as a recording does: opened (kept), positioned at its end.
  HANDLE h = openWrite(u"\\maps\\berlin.rmf", OPEN_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_END), 10u);
  DWORD put = 0;
  EXPECT_TRUE(WriteFile(h, "ab", 2, &put, nullptr));
  EXPECT_EQ(put, 2u);
  EXPECT_TRUE(FlushFileBuffers(h));
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_FALSE(WriteFile(h, "c", 1, &put, nullptr));  // closed
  EXPECT_EQ(ReadHost("Maps/Berlin.RMF"), "0123456789ab");

  // A missing file is created; writing advances the position.
  h = openWrite(u"\\maps\\New.trc", OPEN_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(WriteFile(h, "$GP", 3, nullptr, nullptr));
  EXPECT_TRUE(WriteFile(h, "RMC", 3, nullptr, nullptr));
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(ReadHost("Maps/New.trc"), "$GPRMC");

  // CREATE_ALWAYS empties; reading and writing share one position.
  h = CreateFileW(u"\\maps\\new.trc", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(WriteFile(h, "xyz", 3, nullptr, nullptr));
  EXPECT_EQ(SetFilePointer(h, 1, nullptr, FILE_BEGIN), 1u);
  EXPECT_EQ(Read(h, 5), "yz");
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(ReadHost("Maps/New.trc"), "xyz");

  // Nothing is made where there is no folder, and a folder is never a file.
  EXPECT_EQ(openWrite(u"\\missing\\new.trc", OPEN_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(openWrite(u"\\maps\\folder.rmf", CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_TRUE(fs::is_directory(root_ + "/Maps/Folder.rmf"));
  EXPECT_EQ(openWrite(u"\\maps\\absent.trc", OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(fs::exists(root_ + "/Maps/absent.trc"));
}

TEST_F(ReadFileTest, HandlesAreCheckedBeforeUse) {
  HANDLE h = Open(u"\\maps\\berlin.rmf");
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  char buffer[4];
  DWORD got = 7;
  EXPECT_FALSE(ReadFile(h, nullptr, 4, &got, nullptr));
  EXPECT_EQ(got, 0u);
  int overlapped = 0;
  EXPECT_FALSE(ReadFile(h, buffer, 4, &got, &overlapped));
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, 3), INVALID_SET_FILE_POINTER);  // no such method
  EXPECT_EQ(SetFilePointer(h, -1, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);

  EXPECT_TRUE(CloseHandle(h));
  EXPECT_FALSE(CloseHandle(h));  // a second close is refused,
  EXPECT_FALSE(ReadFile(h, buffer, 4, &got, nullptr));  // and so are reads
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_FALSE(CloseHandle(nullptr));
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
  // Search handles are not file handles.
  WIN32_FIND_DATAW data{};
  HANDLE search = FindFirstFileW(u"\\maps\\*", &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(CloseHandle(search));
  EXPECT_FALSE(ReadFile(search, buffer, 4, &got, nullptr));
  EXPECT_TRUE(FindClose(search));
}

}  // namespace
