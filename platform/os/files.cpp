// FindFirstFileW / FindNextFileW / FindClose and GetFileAttributesW over the
// device root. A search reads the whole folder at once, filters it with the
// phone's wildcards (ignoring case), sorts it and keeps the list in the
// handle, so a search sees one consistent listing however the folder changes.
// File reading (CreateFileW and the calls on its handles) maps the phone path
// to the host and reads with pread at a position the handle keeps. The table
// of handles lives here too, for files and serial ports (serial.cpp) alike.
#include "platform/os/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/os/device.h"
#include "platform/os/dir_owner.h"
#include "platform/os/handles.h"
#include "platform/os/text.h"

namespace {

// What a search HANDLE points to: the whole result list and the next entry.
struct FindHandle {
  std::vector<WIN32_FIND_DATAW> results;
  std::size_t next = 0;
};

// Phone paths are at most a few hundred characters; anything without a NUL
// within this many is not a path.
constexpr std::size_t kMaxPathUnits = 32768;

// Live search handles. A handle is looked up here before it is used, so a
// closed or foreign handle gives FALSE instead of a use after free.
std::mutex g_handlesLock;
std::unordered_set<FindHandle*> g_handles;

// "*" any run, "?" one character; iterative with one backtrack point, so a
// pattern like "*a*a*a*b" costs at most |name| * |pattern| steps.
bool WildcardMatch(const std::u32string& pattern, const std::u32string& name) {
  std::size_t p = 0, n = 0;
  std::size_t starP = std::u32string::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == U'?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == U'*') {
      starP = p++;
      starN = n;
    } else if (starP != std::u32string::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == U'*') ++p;
  return p == pattern.size();
}

FILETIME ToFileTime(const struct timespec& ts) {
  // FILETIME counts 100 ns steps from 1601-01-01 UTC.
  constexpr std::int64_t kEpochDifferenceSeconds = 11'644'473'600;
  std::int64_t ticks = (static_cast<std::int64_t>(ts.tv_sec) + kEpochDifferenceSeconds) * 10'000'000 +
                       ts.tv_nsec / 100;
  if (ticks < 0) ticks = 0;
  const auto value = static_cast<std::uint64_t>(ticks);
  return FILETIME{static_cast<DWORD>(value & 0xFFFFFFFFu), static_cast<DWORD>(value >> 32)};
}

// Attributes as the phone reports them; a path that cannot be examined (a
// dangling link) gives false.
bool StatPath(const std::string& path, struct stat& st) {
  return ::stat(path.c_str(), &st) == 0 || ::lstat(path.c_str(), &st) == 0;
}

DWORD Attributes(const struct stat& st) {
  DWORD attributes = 0;
  if (S_ISDIR(st.st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
  if ((st.st_mode & S_IWUSR) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

// Splits "folder\pattern" at its last separator. "*.rmf" and "\*.rmf" both
// search the device root.
void SplitSearch(const std::string& search, std::string& folder, std::string& pattern) {
  std::size_t cut = search.find_last_of("\\/");
  if (cut == std::string::npos) {
    folder.clear();
    pattern = search;
    return;
  }
  folder = search.substr(0, cut == 0 ? 1 : cut);
  pattern = search.substr(cut + 1);
}

bool FillEntry(const std::string& folder, const std::string& name, WIN32_FIND_DATAW& data) {
  // A name that is not UTF-8 cannot be written as a phone path, so the
  // caller could never open it: leave it out.
  std::u16string wide = platform::Utf8ToUtf16(name);
  if (platform::Utf16ToUtf8(wide) != name) return false;
  if (wide.size() > static_cast<std::size_t>(MAX_PATH - 1)) return false;
  struct stat st {};
  if (!StatPath(folder + "/" + name, st)) return false;

  std::memset(&data, 0, sizeof data);
  data.dwFileAttributes = Attributes(st);
  data.ftLastWriteTime = ToFileTime(st.st_mtim);
  data.ftCreationTime = data.ftLastWriteTime;  // the host keeps no creation time here
  data.ftLastAccessTime = ToFileTime(st.st_atim);
  if (!S_ISDIR(st.st_mode)) {
    const auto size = static_cast<std::uint64_t>(st.st_size);
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
  }
  std::copy(wide.begin(), wide.end(), data.cFileName);
  data.cFileName[wide.size()] = u'\0';
  return true;
}

std::vector<WIN32_FIND_DATAW> Search(const std::string& search) {
  std::string folderPart, patternPart;
  SplitSearch(search, folderPart, patternPart);
  if (patternPart.empty()) return {};  // "\Maps\" names a folder, not entries
  const std::string folder = platform::HostPathUtf8(folderPart);
  // "*.*" means every entry on the phone, dotted or not.
  const bool everything = patternPart == "*.*";
  const std::u32string pattern = platform::FoldCaseUtf8(patternPart);

  struct Found {
    std::u32string key;
    std::string name;
    WIN32_FIND_DATAW data;
  };
  std::vector<Found> found;
  const platform::detail::DirOwner dir(::opendir(folder.c_str()));
  if (dir == nullptr) return {};
  while (const dirent* entry = ::readdir(dir.get())) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::u32string key = platform::FoldCaseUtf8(name);
    if (!everything && !WildcardMatch(pattern, key)) continue;
    Found f{std::move(key), name, {}};
    if (FillEntry(folder, name, f.data)) found.push_back(std::move(f));
  }

  // Name order ignoring case, as a listing on the phone reads; names that
  // differ only in case follow byte order, so the order is total.
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
    return a.key != b.key ? a.key < b.key : a.name < b.name;
  });
  std::vector<WIN32_FIND_DATAW> results;
  results.reserve(found.size());
  for (const Found& f : found) results.push_back(f.data);
  return results;
}

std::string PathArgument(LPCWSTR path) {
  return platform::Utf16ToUtf8(std::u16string_view(path, platform::BoundedLength(path, kMaxPathUnits)));
}

}  // namespace

HANDLE FindFirstFileW(LPCWSTR lpFileName, WIN32_FIND_DATAW* lpFindFileData) {
  if (lpFileName == nullptr || lpFindFileData == nullptr) return INVALID_HANDLE_VALUE;
  try {
    auto handle = std::make_unique<FindHandle>();
    handle->results = Search(PathArgument(lpFileName));
    if (handle->results.empty()) return INVALID_HANDLE_VALUE;
    *lpFindFileData = handle->results[0];
    handle->next = 1;
    std::lock_guard<std::mutex> hold(g_handlesLock);
    g_handles.insert(handle.get());
    return handle.release();
  } catch (...) {
    return INVALID_HANDLE_VALUE;
  }
}

BOOL FindNextFileW(HANDLE hFindFile, WIN32_FIND_DATAW* lpFindFileData) {
  if (lpFindFileData == nullptr) return FALSE;
  auto* handle = static_cast<FindHandle*>(hFindFile);
  std::lock_guard<std::mutex> hold(g_handlesLock);
  if (g_handles.count(handle) == 0) return FALSE;
  if (handle->next >= handle->results.size()) return FALSE;
  *lpFindFileData = handle->results[handle->next++];
  return TRUE;
}

BOOL FindClose(HANDLE hFindFile) {
  auto* handle = static_cast<FindHandle*>(hFindFile);
  {
    std::lock_guard<std::mutex> hold(g_handlesLock);
    if (g_handles.erase(handle) == 0) return FALSE;
  }
  delete handle;
  return TRUE;
}

DWORD GetFileAttributesW(LPCWSTR lpFileName) {
  if (lpFileName == nullptr) return INVALID_FILE_ATTRIBUTES;
  try {
    struct stat st {};
    if (!StatPath(platform::HostPathUtf8(PathArgument(lpFileName)), st)) return INVALID_FILE_ATTRIBUTES;
    return Attributes(st);
  } catch (...) {
    return INVALID_FILE_ATTRIBUTES;
  }
}

// ---- reading files ---------------------------------------------------------------

namespace platform::detail {

OpenHandle::~OpenHandle() { ::close(fd_); }

namespace {
std::mutex g_openLock;
std::map<void*, std::shared_ptr<OpenHandle>> g_open;
}  // namespace

HANDLE AddHandle(std::shared_ptr<OpenHandle> object) {
  void* handle = object.get();
  std::lock_guard<std::mutex> hold(g_openLock);
  g_open.emplace(handle, std::move(object));
  return handle;
}

std::shared_ptr<OpenHandle> LookUpHandle(HANDLE handle) {
  std::lock_guard<std::mutex> hold(g_openLock);
  auto it = g_open.find(handle);
  return it == g_open.end() ? nullptr : it->second;
}

}  // namespace platform::detail

namespace {

using platform::detail::OpenHandle;

// A plain file, read with pread and written with pwrite at a position the
// handle keeps.
class OpenFile final : public OpenHandle {
 public:
  OpenFile(int fd, bool writable) : OpenHandle(fd), writable_(writable) {}

  BOOL Read(void* buffer, DWORD count, DWORD& done) override {
    std::lock_guard<std::mutex> hold(lock());
    auto* out = static_cast<unsigned char*>(buffer);
    while (done < count) {
      const ssize_t got = ::pread(fd(), out + done, count - done, static_cast<off_t>(position_));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return FALSE;
      if (got == 0) break;  // end of file
      done += static_cast<DWORD>(got);
      position_ += got;
    }
    return TRUE;
  }
  BOOL Write(const void* buffer, DWORD count, DWORD& done) override {
    if (!writable_) return FALSE;
    std::lock_guard<std::mutex> hold(lock());
    const auto* in = static_cast<const unsigned char*>(buffer);
    while (done < count) {
      const ssize_t put = ::pwrite(fd(), in + done, count - done, static_cast<off_t>(position_));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return FALSE;  // a full disk or an I/O error
      done += static_cast<DWORD>(put);
      position_ += put;
    }
    return TRUE;
  }
  BOOL Flush() override {
    if (!writable_) return TRUE;
    return ::fsync(fd()) == 0 ? TRUE : FALSE;
  }

  std::int64_t position_ = 0;  // guarded by lock()

 private:
  const bool writable_;
};

// The open(2) flags for CreateFileW's access and creation values; false for
// combinations files do not take here.
bool FileOpenFlags(DWORD access, DWORD shareMode, DWORD creation, DWORD flagsAndAttributes, int& flags) {
  if ((shareMode & ~(FILE_SHARE_READ | FILE_SHARE_WRITE)) != 0) return false;
  if ((flagsAndAttributes & ~(FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS)) != 0) return false;
  const bool read = (access & GENERIC_READ) != 0;
  const bool write = (access & GENERIC_WRITE) != 0;
  if ((access & ~(GENERIC_READ | GENERIC_WRITE)) != 0 || (!read && !write)) return false;
  flags = (read && write) ? O_RDWR : write ? O_WRONLY : O_RDONLY;
  switch (creation) {
    case OPEN_EXISTING:
      break;
    case OPEN_ALWAYS:
      if (!write) return false;
      flags |= O_CREAT;
      break;
    case CREATE_ALWAYS:
      if (!write) return false;
      flags |= O_CREAT | O_TRUNC;
      break;
    default:
      return false;
  }
  flags |= O_CLOEXEC;
  return true;
}

std::shared_ptr<OpenFile> LookUpFile(HANDLE handle) {
  return std::dynamic_pointer_cast<OpenFile>(platform::detail::LookUpHandle(handle));
}

// "COM4:" and every other name that ends in a colon and has no folder in it
// names a device, never a file.
bool IsDeviceName(std::u16string_view name) {
  return !name.empty() && name.back() == u':' && name.find_first_of(u"\\/") == std::u16string_view::npos;
}

}  // namespace

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, void* /*lpSecurityAttributes*/,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE /*hTemplateFile*/) {
  if (lpFileName == nullptr) return INVALID_HANDLE_VALUE;
  const std::u16string_view name(lpFileName, platform::BoundedLength(lpFileName, kMaxPathUnits));
  if (IsDeviceName(name)) {
    return platform::detail::OpenSerialPort(name, dwDesiredAccess, dwShareMode, dwCreationDisposition,
                                            dwFlagsAndAttributes);
  }
  int flags = 0;
  if (!FileOpenFlags(dwDesiredAccess, dwShareMode, dwCreationDisposition, dwFlagsAndAttributes, flags)) {
    return INVALID_HANDLE_VALUE;
  }
  try {
    const std::string path = platform::HostPathUtf8(platform::Utf16ToUtf8(name));
    // A folder is refused before anything could empty or create it.
    struct stat before {};
    if (::stat(path.c_str(), &before) == 0 && S_ISDIR(before.st_mode)) return INVALID_HANDLE_VALUE;
    // Opened without waiting: a pipe in place of a file would otherwise hold
    // the open until a writer came. Only regular files are taken.
    int fd;
    do {
      fd = ::open(path.c_str(), flags | O_NONBLOCK, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return INVALID_HANDLE_VALUE;
    std::shared_ptr<OpenFile> file;
    try {
      file = std::make_shared<OpenFile>(fd, (dwDesiredAccess & GENERIC_WRITE) != 0);  // owns fd from here on
    } catch (...) {
      ::close(fd);  // without memory for its owner the descriptor goes at once
      throw;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return INVALID_HANDLE_VALUE;
    if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) return INVALID_HANDLE_VALUE;
    return platform::detail::AddHandle(std::move(file));
  } catch (...) {
    return INVALID_HANDLE_VALUE;
  }
}

DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, LONG* lpDistanceToMoveHigh, DWORD dwMoveMethod) {
  std::shared_ptr<OpenFile> file = LookUpFile(hFile);
  if (file == nullptr || dwMoveMethod > FILE_END) return INVALID_SET_FILE_POINTER;
  std::int64_t distance = lDistanceToMove;
  if (lpDistanceToMoveHigh != nullptr) {
    const auto bits = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(*lpDistanceToMoveHigh)) << 32) |
                      static_cast<std::uint32_t>(lDistanceToMove);
    distance = static_cast<std::int64_t>(bits);
  }
  std::lock_guard<std::mutex> hold(file->lock());
  std::int64_t base = 0;
  if (dwMoveMethod == FILE_CURRENT) {
    base = file->position_;
  } else if (dwMoveMethod == FILE_END) {
    struct stat st {};
    if (::fstat(file->fd(), &st) != 0) return INVALID_SET_FILE_POINTER;
    base = st.st_size;
  }
  // base is never negative, so only a positive distance can overflow.
  if (distance < 0 && base + distance < 0) return INVALID_SET_FILE_POINTER;
  if (distance > 0 && base > INT64_MAX - distance) return INVALID_SET_FILE_POINTER;
  file->position_ = base + distance;
  const auto position = static_cast<std::uint64_t>(file->position_);
  if (lpDistanceToMoveHigh != nullptr) *lpDistanceToMoveHigh = static_cast<LONG>(position >> 32);
  return static_cast<DWORD>(position & 0xFFFFFFFFu);
}

BOOL ReadFile(HANDLE hFile, void* lpBuffer, DWORD nNumberOfBytesToRead, DWORD* lpNumberOfBytesRead,
              void* lpOverlapped) {
  if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = 0;
  std::shared_ptr<OpenHandle> object = platform::detail::LookUpHandle(hFile);
  if (object == nullptr || lpOverlapped != nullptr) return FALSE;
  if (lpBuffer == nullptr && nNumberOfBytesToRead != 0) return FALSE;
  DWORD done = 0;
  const BOOL ok = object->Read(lpBuffer, nNumberOfBytesToRead, done);
  if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = done;
  return ok;
}

BOOL WriteFile(HANDLE hFile, const void* lpBuffer, DWORD nNumberOfBytesToWrite, DWORD* lpNumberOfBytesWritten,
               void* lpOverlapped) {
  if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = 0;
  std::shared_ptr<OpenHandle> object = platform::detail::LookUpHandle(hFile);
  if (object == nullptr || lpOverlapped != nullptr) return FALSE;
  if (lpBuffer == nullptr && nNumberOfBytesToWrite != 0) return FALSE;
  DWORD done = 0;
  const BOOL ok = object->Write(lpBuffer, nNumberOfBytesToWrite, done);
  if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = done;
  return ok;
}

BOOL FlushFileBuffers(HANDLE hFile) {
  std::shared_ptr<OpenHandle> object = platform::detail::LookUpHandle(hFile);
  return object == nullptr ? FALSE : object->Flush();
}

BOOL CloseHandle(HANDLE hObject) {
  std::shared_ptr<OpenHandle> object;
  {
    std::lock_guard<std::mutex> hold(platform::detail::g_openLock);
    auto it = platform::detail::g_open.find(hObject);
    if (it == platform::detail::g_open.end()) return FALSE;
    object = std::move(it->second);
    platform::detail::g_open.erase(it);
  }
  object->Closing();
  return TRUE;  // the descriptor closes when the last caller lets go
}

// ---- whole files -----------------------------------------------------------------------

namespace {

std::atomic<long> g_replaceCrashAfter{-1};

// Closes a POSIX descriptor when it goes.
struct FdOwner {
  int fd = -1;
  explicit FdOwner(int f) : fd(f) {}
  FdOwner(const FdOwner&) = delete;
  FdOwner& operator=(const FdOwner&) = delete;
  ~FdOwner() {
    if (fd >= 0) ::close(fd);
  }
  bool Close() {
    const int f = fd;
    fd = -1;
    return f < 0 || ::close(f) == 0;
  }
};

bool WriteAllBytes(int fd, std::string_view bytes) {
  const long crashAfter = g_replaceCrashAfter.exchange(-1);
  std::size_t written = 0;
  for (;;) {
    if (crashAfter >= 0 && written >= static_cast<std::size_t>(crashAfter)) ::_exit(9);
    if (written == bytes.size()) return true;
    std::size_t chunk = bytes.size() - written;
    if (crashAfter >= 0) chunk = std::min(chunk, static_cast<std::size_t>(crashAfter) - written);
    const ssize_t n = ::write(fd, bytes.data() + written, chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    written += static_cast<std::size_t>(n);
  }
}

}  // namespace

namespace platform {

WholeFileRead ReadWholeFile(std::u16string_view phonePath, std::size_t maxBytes, std::string& bytes) {
  bytes.clear();
  const std::string host = HostPath(phonePath);
  // Without waiting: a pipe in place of the file is refused below instead of
  // holding the open until a writer comes.
  FdOwner file(::open(host.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (file.fd < 0) return errno == ENOENT || errno == ENOTDIR ? WholeFileRead::kMissing : WholeFileRead::kUnreadable;
  struct stat st {};
  if (::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) return WholeFileRead::kUnreadable;
  // Read one byte past the bound, so a file that grew since fstat is still
  // found too large rather than cut.
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(file.fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      bytes.clear();
      return WholeFileRead::kUnreadable;
    }
    if (n == 0) return WholeFileRead::kRead;
    if (bytes.size() + static_cast<std::size_t>(n) > maxBytes) {
      bytes.clear();
      return WholeFileRead::kTooLarge;
    }
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
}

bool ReplaceWholeFile(std::u16string_view phonePath, std::string_view bytes) {
  const std::string host = HostPath(phonePath);
  const std::string temp = host + ".tmp";
  // The temporary is made anew and exclusively: a leftover goes first, and
  // a link planted at its name between the two steps makes the open fail
  // instead of being followed to a file elsewhere.
  if (::unlink(temp.c_str()) != 0 && errno != ENOENT) return false;
  FdOwner file(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (file.fd < 0) return false;
  bool ok = WriteAllBytes(file.fd, bytes) && ::fsync(file.fd) == 0;
  ok = file.Close() && ok;
  if (!ok || ::rename(temp.c_str(), host.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  // The rename lasts through a power cut only once the folder is flushed.
  const std::size_t slash = host.find_last_of('/');
  const std::string folder = slash == std::string::npos ? std::string(".") : host.substr(0, slash == 0 ? 1 : slash);
  FdOwner dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.fd >= 0) ::fsync(dir.fd);
  return true;
}

void SetReplaceCrashAfterBytesForTest(long bytes) { g_replaceCrashAfter.store(bytes); }

}  // namespace platform
