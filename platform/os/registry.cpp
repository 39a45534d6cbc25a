// The registry of the platform layer: the phone's Reg* functions over one
// tree of keys and values, kept in "<device root>/registry.txt".
//
// The file is shared by every process of the installation (the program, the
// setup tool, servers loaded into either), so:
//   - every change takes an exclusive flock on "registry.lock" beside it,
//     re-reads the file if another process replaced it, applies the change and
//     writes the whole tree to "registry.txt.tmp", which is flushed and renamed
//     over registry.txt (then the folder is flushed), so a reader or a crash
//     sees either the old file or the new one, never half of one;
//   - every call first re-reads the file when its identity (device, inode,
//     modification time, size) differs from what this process last read or
//     wrote.
//
// File format (UTF-8, one item per line, readable and editable by hand):
//   [HKEY_LOCAL_MACHINE\Software\Quellwork\Tirvane]   a key, with its path
//   @=sz:"text"                                        the default value
//   "Name"=dword:0000000a                              a REG_DWORD
//   "Blob"=hex:01,ff                                   a REG_BINARY
//   "Other"=hex(7):41,00,00,00                         any other type, raw
// Strings escape \\ \" \n \r \t, and other control characters and lone
// surrogates as \uXXXX (one UTF-16 unit). A key name that starts with a quote
// or a blank, or holds such characters, is written quoted inside the [...]
// path. Lines
// starting with ';' or '#' are comments. Keys are written parent first and in
// creation order, which is how enumeration order survives a restart.
//
// A file with lines that do not parse loads what does; the first change after
// that keeps the damaged file as "registry.txt.damaged". A file that exists
// but cannot be read is never overwritten: changes answer ERROR_ACCESS_DENIED.
//
// Handles name a key by its path rather than pointing into the tree, since the
// tree is rebuilt whenever another process writes the file. A handle whose key
// this process deleted stays dead even if the key is created again, as on the
// phone; a key deleted by another process simply is not found any more.
#include "platform/os/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/os/debug.h"
#include "platform/os/device.h"
#include "platform/os/text.h"

// An HKEY other than the three roots points to one of these (opaque in
// registry.h).
struct RegistryKey {
  std::size_t root = 0;
  std::vector<std::u16string> path;  // names as the tree spells them
  bool deleted = false;              // this process deleted the key or a parent
};

namespace {

// Longest key path and value name accepted from a caller; the phone's limits
// are smaller. Text without a NUL within this many units is refused.
constexpr std::size_t kMaxKeyPathUnits = 32767;
constexpr std::size_t kMaxValueNameUnits = 16383;
// Deepest key accepted, from a caller or the file: the tree is written and
// freed recursively, so depth must stay bounded whatever the file says.
constexpr std::size_t kMaxKeyDepth = 512;
// A registry file larger than this is read only this far: settings are a few
// kilobytes, and a runaway file must not take the process down.
constexpr std::size_t kMaxFileBytes = 64 * 1024 * 1024;
// The temporary file is written in pieces this large, so the crash hook can
// stop the process part-way through.
constexpr std::size_t kWriteChunk = 4096;

constexpr std::array<std::u16string_view, 3> kRootNames = {u"HKEY_CLASSES_ROOT", u"HKEY_CURRENT_USER",
                                                           u"HKEY_LOCAL_MACHINE"};

struct Value {
  std::u16string name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

struct Key {
  std::u16string name;
  std::vector<std::unique_ptr<Key>> children;
  std::vector<Value> values;

  Key* Child(std::u16string_view child) const {
    for (const auto& k : children)
      if (platform::EqualsIgnoringCase(k->name, child)) return k.get();
    return nullptr;
  }
  Key& ChildOrNew(std::u16string_view child) {
    if (Key* k = Child(child)) return *k;
    children.push_back(std::make_unique<Key>());
    children.back()->name = std::u16string(child);
    return *children.back();
  }
  Value* FindValue(std::u16string_view valueName) {
    for (auto& v : values)
      if (platform::EqualsIgnoringCase(v.name, valueName)) return &v;
    return nullptr;
  }
  bool Empty() const { return children.empty() && values.empty(); }
};

// Identity of registry.txt as last seen; any difference means another
// process replaced it.
struct FileIdentity {
  bool present = false;
  dev_t device = 0;
  ino_t inode = 0;
  std::int64_t mtimeNs = 0;
  off_t size = 0;

  static FileIdentity Of(const struct stat& st) {
    return {true, st.st_dev, st.st_ino,
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec, st.st_size};
  }
  bool operator==(const FileIdentity&) const = default;
};

// ---- little-endian data helpers ---------------------------------------------

std::vector<BYTE> SzData(std::u16string_view text) {
  std::vector<BYTE> data;
  data.reserve(text.size() * 2 + 2);
  for (char16_t u : text) {
    data.push_back(static_cast<BYTE>(u & 0xFF));
    data.push_back(static_cast<BYTE>(u >> 8));
  }
  data.push_back(0);
  data.push_back(0);
  return data;
}

// The text of REG_SZ data: whole units up to the first NUL.
std::u16string SzText(const BYTE* data, std::size_t bytes) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < bytes; i += 2) {
    auto u = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (u == u'\0') break;
    text.push_back(u);
  }
  return text;
}

// ---- writing the file ---------------------------------------------------------

bool IsSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDFFF; }

void AppendHex(std::string& out, unsigned value, int digits) {
  static const char kHex[] = "0123456789abcdef";
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out.push_back(kHex[(value >> shift) & 0xF]);
}

// Escaped text without the quotes. Valid surrogate pairs become one UTF-8
// character; lone halves cannot be UTF-8 and are escaped.
std::string EscapeText(std::u16string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t u = text[i];
    bool pair = u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
    if (pair) {
      out += platform::Utf16ToUtf8(text.substr(i, 2));
      ++i;
    } else if (u == u'\\') {
      out += "\\\\";
    } else if (u == u'"') {
      out += "\\\"";
    } else if (u == u'\n') {
      out += "\\n";
    } else if (u == u'\r') {
      out += "\\r";
    } else if (u == u'\t') {
      out += "\\t";
    } else if (u < 0x20 || u == 0x7F || IsSurrogate(u)) {
      out += "\\u";
      AppendHex(out, u, 4);
    } else {
      out += platform::Utf16ToUtf8(text.substr(i, 1));
    }
  }
  return out;
}

bool NeedsQuotes(std::u16string_view keyName) {
  if (keyName.empty() || keyName.front() == u'"' || keyName.front() == u' ' || keyName.front() == u'\t')
    return true;
  for (char16_t u : keyName)
    if (u < 0x20 || u == 0x7F || IsSurrogate(u)) return true;
  return false;
}

void AppendBytes(std::string& out, const std::vector<BYTE>& data) {
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (i > 0) out.push_back(',');
    AppendHex(out, data[i], 2);
  }
}

void AppendValue(std::string& out, const Value& v) {
  // Appended piece by piece: g++ 12 warns falsely (-Wrestrict) about
  // "literal" + std::string once this is inlined.
  if (v.name.empty()) {
    out += '@';
  } else {
    out += '"';
    out += EscapeText(v.name);
    out += '"';
  }
  out.push_back('=');
  if (v.type == REG_SZ) {
    out += "sz:\"";
    out += EscapeText(SzText(v.data.data(), v.data.size()));
    out += '"';
  } else if (v.type == REG_DWORD && v.data.size() == 4) {
    out += "dword:";
    AppendHex(out, static_cast<unsigned>(v.data[0] | (v.data[1] << 8) | (v.data[2] << 16)) |
                       (static_cast<unsigned>(v.data[3]) << 24), 8);
  } else if (v.type == REG_BINARY) {
    out += "hex:";
    AppendBytes(out, v.data);
  } else {
    out += "hex(";
    int digits = 1;  // hex(7), not hex(00000007)
    while (digits < 8 && (v.type >> (4 * digits)) != 0) ++digits;
    AppendHex(out, v.type, digits);
    out += "):";
    AppendBytes(out, v.data);
  }
  out.push_back('\n');
}

void AppendKey(std::string& out, const std::string& path, const Key& key) {
  out += "\n[";
  out += path;
  out += "]\n";
  for (const Value& v : key.values) AppendValue(out, v);
  for (const auto& child : key.children) {
    std::string childPath = path;
    childPath += '\\';
    if (NeedsQuotes(child->name)) {
      childPath += '"';
      childPath += EscapeText(child->name);
      childPath += '"';
    } else {
      childPath += platform::Utf16ToUtf8(child->name);
    }
    AppendKey(out, childPath, *child);
  }
}

// ---- reading the file -----------------------------------------------------------

// A cursor over one line. Every read checks the end first.
class LineReader {
 public:
  explicit LineReader(std::string_view line) : s_(line) {}

  void SkipSpaces() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t')) ++i_;
  }
  bool AtEnd() {
    SkipSpaces();
    return i_ == s_.size();
  }
  bool Peek(char c) const { return i_ < s_.size() && s_[i_] == c; }
  bool Eat(char c) {
    if (!Peek(c)) return false;
    ++i_;
    return true;
  }
  bool EatWord(std::string_view word) {
    if (s_.size() - i_ < word.size()) return false;
    for (std::size_t k = 0; k < word.size(); ++k)
      if ((s_[i_ + k] | 0x20) != word[k]) return false;
    i_ += word.size();
    return true;
  }
  // Up to `maxDigits` hex digits (at least one).
  bool HexNumber(std::size_t maxDigits, std::uint32_t& value) {
    std::size_t n = 0;
    value = 0;
    while (i_ < s_.size() && platform::HexDigit(s_[i_]) >= 0) {
      if (++n > maxDigits) return false;
      value = value * 16 + static_cast<std::uint32_t>(platform::HexDigit(s_[i_++]));
    }
    return n > 0;
  }
  bool HexByte(BYTE& b) {
    if (s_.size() - i_ < 2) return false;
    int hi = platform::HexDigit(s_[i_]), lo = platform::HexDigit(s_[i_ + 1]);
    if (hi < 0 || lo < 0) return false;
    b = static_cast<BYTE>(hi * 16 + lo);
    i_ += 2;
    return true;
  }
  // "..." with the escapes EscapeText writes.
  bool Quoted(std::u16string& out) {
    out.clear();
    if (!Eat('"')) return false;
    while (i_ < s_.size()) {
      char c = s_[i_];
      if (c == '"') {
        ++i_;
        return true;
      }
      if (c != '\\') {
        std::size_t end = s_.find_first_of("\"\\", i_);
        if (end == std::string_view::npos) end = s_.size();
        out += platform::Utf8ToUtf16(s_.substr(i_, end - i_));
        i_ = end;
        continue;
      }
      if (++i_ >= s_.size()) return false;
      switch (s_[i_++]) {
        case '\\': out.push_back(u'\\'); break;
        case '"': out.push_back(u'"'); break;
        case 'n': out.push_back(u'\n'); break;
        case 'r': out.push_back(u'\r'); break;
        case 't': out.push_back(u'\t'); break;
        case 'u': {
          std::uint32_t unit = 0;
          for (int k = 0; k < 4; ++k) {
            if (i_ >= s_.size() || platform::HexDigit(s_[i_]) < 0) return false;
            unit = unit * 16 + static_cast<std::uint32_t>(platform::HexDigit(s_[i_++]));
          }
          out.push_back(static_cast<char16_t>(unit));
          break;
        }
        default:
          return false;
      }
    }
    return false;  // no closing quote
  }
  // Plain text up to the next backslash or the end.
  std::string_view UntilBackslash() {
    std::size_t end = s_.find('\\', i_);
    if (end == std::string_view::npos) end = s_.size();
    std::string_view part = s_.substr(i_, end - i_);
    i_ = end;
    return part;
  }
  bool Done() const { return i_ == s_.size(); }

 private:
  std::string_view s_;
  std::size_t i_ = 0;
};

bool ParseBytes(LineReader& in, std::vector<BYTE>& data) {
  data.clear();
  if (in.AtEnd()) return true;
  for (;;) {
    BYTE b = 0;
    if (!in.HexByte(b)) return false;
    data.push_back(b);
    in.SkipSpaces();
    if (in.Done()) return true;
    if (!in.Eat(',')) return false;
    in.SkipSpaces();
  }
}

// "name"=... or @=...; on false `v` holds a partial parse, to be dropped.
bool ParseValueLine(std::string_view line, Value& v) {
  LineReader in(line);
  if (in.Eat('@')) {
    v.name.clear();
  } else if (!in.Quoted(v.name)) {
    return false;
  }
  in.SkipSpaces();
  if (!in.Eat('=')) return false;
  in.SkipSpaces();
  if (in.Peek('"') || in.EatWord("sz:")) {
    std::u16string text;
    if (!in.Quoted(text)) return false;
    v.type = REG_SZ;
    v.data = SzData(text.substr(0, text.find(u'\0')));
  } else if (in.EatWord("dword:")) {
    std::uint32_t n = 0;
    if (!in.HexNumber(8, n)) return false;
    v.type = REG_DWORD;
    v.data = {static_cast<BYTE>(n), static_cast<BYTE>(n >> 8), static_cast<BYTE>(n >> 16),
              static_cast<BYTE>(n >> 24)};
  } else if (in.EatWord("hex:")) {
    v.type = REG_BINARY;
    if (!ParseBytes(in, v.data)) return false;
  } else if (in.EatWord("hex(")) {
    std::uint32_t type = 0;
    if (!in.HexNumber(8, type) || !in.Eat(')') || !in.Eat(':')) return false;
    v.type = type;
    if (!ParseBytes(in, v.data)) return false;
    // A DWORD or string must have the shape the rest of the code relies on.
    if (v.type == REG_DWORD && v.data.size() != 4) return false;
    if (v.type == REG_SZ) v.data = SzData(SzText(v.data.data(), v.data.size()));
  } else {
    return false;
  }
  return in.AtEnd();
}

// [ROOT\a\"quoted"\b]; gives the root's index and the key names.
bool ParseSectionLine(std::string_view line, std::size_t& root, std::vector<std::u16string>& path) {
  std::size_t close = line.find_last_of(']');
  if (line.empty() || line.front() != '[' || close == std::string_view::npos) return false;
  LineReader tail(line.substr(close + 1));
  if (!tail.AtEnd()) return false;
  LineReader in(line.substr(1, close - 1));
  path.clear();
  bool first = true;
  while (!in.Done()) {
    std::u16string name;
    if (in.Peek('"')) {
      if (!in.Quoted(name)) return false;
      if (!in.Done() && !in.Peek('\\')) return false;
      // The API splits paths at backslashes, so such a name could never be
      // reached; refusing it keeps file and tree in step.
      if (name.find(u'\\') != std::u16string::npos) return false;
    } else {
      name = platform::Utf8ToUtf16(in.UntilBackslash());
    }
    in.Eat('\\');
    if (first) {
      std::size_t r = 0;
      while (r < kRootNames.size() && !platform::EqualsIgnoringCase(kRootNames[r], name)) ++r;
      if (r == kRootNames.size()) return false;
      root = r;
      first = false;
    } else if (!name.empty()) {
      if (path.size() == kMaxKeyDepth) return false;
      path.push_back(std::move(name));
    }
  }
  return !first;
}

// ---- the store ------------------------------------------------------------------

// A file descriptor closed when it goes out of scope.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Close(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  // Closes now; false when close reports an error (a write that failed late).
  bool Close() {
    if (fd_ < 0) return true;
    bool ok = ::close(fd_) == 0;
    fd_ = -1;
    return ok;
  }

 private:
  int fd_;
};

// An exclusive flock on the lock file beside the registry, held for the
// lifetime of the object; closing the descriptor releases it.
class FileLock {
 public:
  explicit FileLock(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
    if (!fd_.Valid()) return;
    int rc;
    do rc = ::flock(fd_.Get(), LOCK_EX);
    while (rc != 0 && errno == EINTR);
    held_ = rc == 0;
  }
  bool Held() const { return held_; }

 private:
  Fd fd_;
  bool held_ = false;
};

struct KeyRef {
  std::size_t root = 0;
  std::vector<std::u16string> path;
};

class Store {
 public:
  std::mutex& Lock() { return mutex_; }

  // Handle checks happen before any tree access: a handle is either a root
  // constant or a pointer found in `handles_`; nothing else is dereferenced.
  LONG Resolve(HKEY h, KeyRef& ref) const {
    for (std::size_t r = 0; r < kRootNames.size(); ++r) {
      if (h == RootHandle(r)) {
        ref = {r, {}};
        return ERROR_SUCCESS;
      }
    }
    if (h == nullptr || handles_.count(h) == 0 || h->deleted) return ERROR_INVALID_HANDLE;
    ref = {h->root, h->path};
    return ERROR_SUCCESS;
  }

  Key* Find(const KeyRef& ref) {
    Key* key = &roots_[ref.root];
    for (const auto& name : ref.path) {
      key = key->Child(name);
      if (key == nullptr) return nullptr;
    }
    return key;
  }

  HKEY NewHandle(std::size_t root, std::vector<std::u16string> path) {
    auto handle = std::make_unique<RegistryKey>();
    handle->root = root;
    handle->path = std::move(path);
    handles_.insert(handle.get());
    return handle.release();
  }

  LONG Close(HKEY h) {
    for (std::size_t r = 0; r < kRootNames.size(); ++r)
      if (h == RootHandle(r)) return ERROR_SUCCESS;
    if (h == nullptr || handles_.erase(h) == 0) return ERROR_INVALID_HANDLE;
    delete h;
    return ERROR_SUCCESS;
  }

  // Open handles at or below a deleted key die with it.
  void MarkDeleted(std::size_t root, const std::vector<std::u16string>& path) {
    for (RegistryKey* h : handles_) {
      if (h->root != root || h->path.size() < path.size()) continue;
      bool below = true;
      for (std::size_t i = 0; i < path.size() && below; ++i)
        below = platform::EqualsIgnoringCase(h->path[i], path[i]);
      if (below) h->deleted = true;
    }
  }

  void Forget() {
    loaded_ = false;
    unreadable_ = false;
    damaged_ = false;
    for (Key& root : roots_) root = Key{};
  }

  // Re-reads the file when the device root moved or another process
  // replaced the file since this process last read or wrote it.
  void Refresh() {
    const std::string file = FilePath(platform::DeviceRoot());
    struct stat st {};
    FileIdentity now = ::stat(file.c_str(), &st) == 0 ? FileIdentity::Of(st) : FileIdentity{};
    if (loaded_ && file == loadedFrom_ && now == identity_) return;
    Load(file);
  }

  // Applies one change under the file lock and writes the tree. `apply`
  // returns the call's result and sets `changed` when there is anything to
  // write.
  template <class Apply>
  LONG Change(Apply&& apply) {
    const std::string root = platform::DeviceRoot();
    std::error_code ec;
    std::filesystem::create_directories(root, ec);
    FileLock fileLock(root + "/registry.lock");
    if (!fileLock.Held()) return ERROR_CANTWRITE;
    LONG result = ERROR_SUCCESS;
    try {
      Refresh();
      // Writing now would replace a file whose contents were never seen.
      if (unreadable_) return ERROR_ACCESS_DENIED;
      bool changed = false;
      result = apply(changed);
      if (result == ERROR_SUCCESS && changed && !Write(root)) result = ERROR_CANTWRITE;
    } catch (...) {
      Forget();  // a change cut short must not linger in memory
      throw;
    }
    if (result == ERROR_CANTWRITE) Forget();  // memory must not claim what the disk does not hold
    return result;
  }

  void ArmCrash(long bytes) { crashAfter_.store(bytes); }

 private:
  static HKEY RootHandle(std::size_t r) {
    return reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000000u + r));
  }
  static std::string FilePath(const std::string& root) { return root + "/registry.txt"; }

  void Load(const std::string& file) {
    Forget();
    loaded_ = true;
    loadedFrom_ = file;
    identity_ = {};
    // Opened without waiting, so that a pipe in place of the file is refused
    // below instead of holding the open until a writer comes.
    Fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.Valid()) {
      if (errno == ENOENT) return;  // no registry yet: an empty tree
      const int cause = errno;
      unreadable_ = true;
      Report(u"registry: cannot read " + platform::Utf8ToUtf16(file) + u": " +
             platform::Utf8ToUtf16(std::strerror(cause)) + u"\n");
      struct stat st {};
      if (::stat(file.c_str(), &st) == 0) identity_ = FileIdentity::Of(st);
      return;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) == 0) identity_ = FileIdentity::Of(st);
    if (!S_ISREG(st.st_mode)) {
      unreadable_ = true;
      Report(u"registry: cannot read " + platform::Utf8ToUtf16(file) +
             (S_ISDIR(st.st_mode) ? u": it is a folder\n" : u": it is no regular file\n"));
      return;
    }
    std::string text;
    char buffer[65536];
    for (;;) {
      ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        unreadable_ = true;
        Report(u"registry: cannot read " + platform::Utf8ToUtf16(file) + u": " +
               platform::Utf8ToUtf16(std::strerror(errno)) + u"\n");
      }
      if (n <= 0) break;
      text.append(buffer, static_cast<std::size_t>(std::min<std::size_t>(n, kMaxFileBytes - text.size())));
      if (text.size() >= kMaxFileBytes) break;
    }
    fd.Close();
    Parse(text, file);
    if (text.size() >= kMaxFileBytes) {
      damaged_ = true;
      Report(u"registry: " + platform::Utf8ToUtf16(file) + u" is too large; only its start was read\n");
    }
  }

  void Parse(std::string_view text, const std::string& file) {
    Key* current = nullptr;
    std::size_t skipped = 0, firstSkipped = 0, lineNo = 0;
    while (!text.empty()) {
      std::size_t end = text.find('\n');
      std::string_view line = text.substr(0, end);
      text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
      ++lineNo;
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      std::size_t start = line.find_first_not_of(" \t");
      if (start == std::string_view::npos) continue;
      line.remove_prefix(start);
      if (line.front() == ';' || line.front() == '#') continue;
      bool ok = false;
      if (line.front() == '[') {
        std::size_t root = 0;
        std::vector<std::u16string> path;
        ok = ParseSectionLine(line, root, path);
        current = nullptr;  // values after a bad section belong to no key
        if (ok) {
          current = &roots_[root];
          for (const auto& name : path) current = &current->ChildOrNew(name);
        }
      } else if (current != nullptr) {
        Value v;
        ok = ParseValueLine(line, v);
        if (ok) {
          if (Value* old = current->FindValue(v.name)) {
            old->type = v.type;
            old->data = std::move(v.data);
          } else {
            current->values.push_back(std::move(v));
          }
        }
      }
      if (!ok && skipped++ == 0) firstSkipped = lineNo;
    }
    damaged_ = skipped > 0;
    if (skipped > 0) {
      Report(u"registry: skipped " + platform::Utf8ToUtf16(std::to_string(skipped)) +
             u" line(s) of " + platform::Utf8ToUtf16(file) + u" that do not parse (first: line " +
             platform::Utf8ToUtf16(std::to_string(firstSkipped)) + u")\n");
    }
  }

  static void Report(const std::u16string& text) { OutputDebugStringW(text.c_str()); }

  std::string Serialize() const {
    std::string out =
        "; Registry of the Tirvane platform layer, UTF-8. [key path], then its values:\n"
        "; @ is the default value; sz:\"text\", dword:8 hex digits, hex:bytes, hex(type):bytes.\n";
    for (std::size_t r = 0; r < kRootNames.size(); ++r) {
      if (roots_[r].Empty()) continue;
      AppendKey(out, platform::Utf16ToUtf8(kRootNames[r]), roots_[r]);
    }
    return out;
  }

  bool WriteAll(int fd, const std::string& text) {
    const long crashAfter = crashAfter_.exchange(-1);
    std::size_t written = 0;
    for (;;) {
      if (crashAfter >= 0 && written >= static_cast<std::size_t>(crashAfter)) ::_exit(9);
      if (written == text.size()) return true;
      std::size_t chunk = std::min(kWriteChunk, text.size() - written);
      if (crashAfter >= 0) chunk = std::min(chunk, static_cast<std::size_t>(crashAfter) - written);
      ssize_t n = ::write(fd, text.data() + written, chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      written += static_cast<std::size_t>(n);
    }
  }

  bool Write(const std::string& root) {
    const std::string file = FilePath(root);
    const std::string temp = file + ".tmp";
    std::string text;
    try {
      text = Serialize();
    } catch (...) {
      return false;
    }
    // Made anew and exclusively: a link planted at the temporary's name is
    // removed, never followed to a file elsewhere.
    if (::unlink(temp.c_str()) != 0 && errno != ENOENT) return false;
    Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!fd.Valid()) return false;
    struct stat st {};
    bool ok = WriteAll(fd.Get(), text) && ::fsync(fd.Get()) == 0 && ::fstat(fd.Get(), &st) == 0;
    ok = fd.Close() && ok;
    // The first rewrite of a damaged file drops the lines that did not parse;
    // a hard link keeps the file as it was for whoever repairs it, while
    // registry.txt itself never goes missing.
    if (ok && damaged_) {
      const std::string keep = file + ".damaged";
      ::unlink(keep.c_str());
      if (::link(file.c_str(), keep.c_str()) == 0) damaged_ = false;
    }
    if (!ok || ::rename(temp.c_str(), file.c_str()) != 0) {
      ::unlink(temp.c_str());
      return false;
    }
    // The rename is durable only once the folder is flushed.
    Fd dir(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Valid()) ::fsync(dir.Get());
    loaded_ = true;
    loadedFrom_ = file;
    identity_ = FileIdentity::Of(st);
    return true;
  }

  std::mutex mutex_;
  std::array<Key, 3> roots_;
  bool loaded_ = false;
  bool unreadable_ = false;  // the file exists but could not be read
  bool damaged_ = false;     // lines were skipped and not yet kept aside
  std::string loadedFrom_;
  FileIdentity identity_;
  std::unordered_set<RegistryKey*> handles_;
  std::atomic<long> crashAfter_{-1};
};

// Never destroyed: handles and late callers at exit must still find it.
Store& TheStore() {
  static Store* store = new Store;
  return *store;
}

// Splits a NUL-terminated sub-key path at backslashes; empty parts are
// skipped. False when no NUL comes within the limit.
bool SplitSubKey(LPCWSTR subKey, std::vector<std::u16string>& parts) {
  parts.clear();
  if (subKey == nullptr) return true;
  std::size_t n = platform::BoundedLength(subKey, kMaxKeyPathUnits + 1);
  if (n > kMaxKeyPathUnits) return false;
  std::u16string_view text(subKey, n);
  while (!text.empty()) {
    std::size_t cut = text.find(u'\\');
    std::u16string_view part = text.substr(0, cut);
    if (!part.empty()) parts.emplace_back(part);
    text = cut == std::u16string_view::npos ? std::u16string_view() : text.substr(cut + 1);
  }
  return true;
}

bool ValueName(LPCWSTR name, std::u16string& out) {
  out.clear();
  if (name == nullptr) return true;
  std::size_t n = platform::BoundedLength(name, kMaxValueNameUnits + 1);
  if (n > kMaxValueNameUnits) return false;
  out.assign(name, n);
  return true;
}

// Copies a name into a caller's buffer of `*capacity` characters.
LONG CopyName(std::u16string_view name, LPWSTR buffer, DWORD* capacity) {
  if (*capacity <= name.size()) {
    *capacity = static_cast<DWORD>(name.size() + 1);  // what a retry needs, NUL included
    return ERROR_MORE_DATA;
  }
  name.copy(buffer, name.size());
  buffer[name.size()] = u'\0';
  *capacity = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

// Every entry point runs its body through this: no exception leaves a
// registry function.
template <class Body>
LONG Guarded(Body&& body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  } catch (...) {
    return ERROR_BADDB;
  }
}

}  // namespace

LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  return Guarded([&]() -> LONG {
    std::vector<std::u16string> parts;
    if (!SplitSubKey(lpSubKey, parts)) return ERROR_INVALID_PARAMETER;
    Store& store = TheStore();
    std::lock_guard<std::mutex> hold(store.Lock());
    KeyRef ref;
    if (LONG rc = store.Resolve(hKey, ref); rc != ERROR_SUCCESS) return rc;
    store.Refresh();
    Key* key = store.Find(ref);
    if (key == nullptr) return ERROR_INVALID_HANDLE;  // another process deleted it
    for (const auto& part : parts) {
      key = key->Child(part);
      if (key == nullptr) return ERROR_FILE_NOT_FOUND;
      ref.path.push_back(key->name);
    }
    *phkResult = store.NewHandle(ref.root, std::move(ref.path));
    return ERROR_SUCCESS;
  });
}

LONG RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM, void*, PHKEY phkResult,
                     DWORD* lpdwDisposition) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  return Guarded([&]() -> LONG {
    std::vector<std::u16string> parts;
    if (!SplitSubKey(lpSubKey, parts)) return ERROR_INVALID_PARAMETER;
    Store& store = TheStore();
    std::lock_guard<std::mutex> hold(store.Lock());
    KeyRef ref;
    if (LONG rc = store.Resolve(hKey, ref); rc != ERROR_SUCCESS) return rc;
    if (ref.path.size() + parts.size() > kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
    bool created = false;
    // Walks (and with `create`, makes) the path; the names end up in `ref`.
    auto walk = [&](bool create, KeyRef& out) -> LONG {
      out = ref;
      Key* key = store.Find(ref);
      if (key == nullptr) return ERROR_INVALID_HANDLE;
      for (const auto& part : parts) {
        Key* child = key->Child(part);
        if (child == nullptr) {
          if (!create) return ERROR_FILE_NOT_FOUND;
          child = &key->ChildOrNew(part);
          created = true;
        }
        out.path.push_back(child->name);
        key = child;
      }
      return ERROR_SUCCESS;
    };
    KeyRef target;
    store.Refresh();
    LONG rc = walk(false, target);
    if (rc == ERROR_FILE_NOT_FOUND) {
      rc = store.Change([&](bool& changed) {
        LONG r = walk(true, target);
        changed = created;
        return r;
      });
    }
    if (rc != ERROR_SUCCESS) return rc;
    if (lpdwDisposition != nullptr) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *phkResult = store.NewHandle(target.root, std::move(target.path));
    return ERROR_SUCCESS;
  });
}

LONG RegCloseKey(HKEY hKey) {
  Store& store = TheStore();
  std::lock_guard<std::mutex> hold(store.Lock());
  return store.Close(hKey);
}

LONG RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD*, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
  if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
  return Guarded([&]() -> LONG {
    std::u16string name;
    if (!ValueName(lpValueName, name)) return ERROR_INVALID_PARAMETER;
    Store& store = TheStore();
    std::lock_guard<std::mutex> hold(store.Lock());
    KeyRef ref;
    if (LONG rc = store.Resolve(hKey, ref); rc != ERROR_SUCCESS) return rc;
    store.Refresh();
    Key* key = store.Find(ref);
    if (key == nullptr) return ERROR_INVALID_HANDLE;
    const Value* v = key->FindValue(name);
    if (v == nullptr) return ERROR_FILE_NOT_FOUND;
    if (lpType != nullptr) *lpType = v->type;
    const auto size = static_cast<DWORD>(v->data.size());
    if (lpData != nullptr && *lpcbData < size) {
      *lpcbData = size;
      return ERROR_MORE_DATA;
    }
    if (lpData != nullptr && size > 0) std::memcpy(lpData, v->data.data(), size);
    if (lpcbData != nullptr) *lpcbData = size;
    return ERROR_SUCCESS;
  });
}

LONG RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData) {
  if (lpData == nullptr && cbData != 0) return ERROR_INVALID_PARAMETER;
  if (dwType == REG_DWORD && cbData != 4) return ERROR_INVALID_PARAMETER;
  return Guarded([&]() -> LONG {
    std::u16string name;
    if (!ValueName(lpValueName, name)) return ERROR_INVALID_PARAMETER;
    // A string is kept up to its first NUL or the end of the data given,
    // whichever comes first, and always stored with its NUL. The scan stops at
    // the NUL, so a caller's generous cbData is never read beyond the text.
    std::vector<BYTE> data =
        dwType == REG_SZ ? SzData(SzText(lpData, cbData)) : std::vector<BYTE>(lpData, lpData + cbData);
    Store& store = TheStore();
    std::lock_guard<std::mutex> hold(store.Lock());
    KeyRef ref;
    if (LONG rc = store.Resolve(hKey, ref); rc != ERROR_SUCCESS) return rc;
    return store.Change([&](bool& changed) -> LONG {
      Key* key = store.Find(ref);
      if (key == nullptr) return ERROR_INVALID_HANDLE;
      Value* v = key->FindValue(name);
      if (v == nullptr) {
        key->values.push_back(Value{std::move(name), dwType, std::move(data)});
        changed = true;
      } else if (v->type != dwType || v->data != data) {
        v->type = dwType;  // the name keeps the case it was created with
        v->data = std::move(data);
        changed = true;
      }
      return ERROR_SUCCESS;
    });
  });
}

LONG RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
  return Guarded([&]() -> LONG {
    std::u16string name;
    if (!ValueName(lpValueName, name)) return ERROR_INVALID_PARAMETER;
    Store& store = TheStore();
    std::lock_guard<std::mutex> hold(store.Lock());
    KeyRef ref;
    if (LONG rc = store.Resolve(hKey, ref); rc != ERROR_SUCCESS) return rc;
    return store.Change([&](bool& changed) -> LONG {
      Key* key = store.Find(ref);
      if (key == nullptr) return ERROR_INVALID_HANDLE;
      for (auto it = key->values.begin(); it != key->values.end(); ++it) {
        if (platform::EqualsIgnoringCase(it->name, name)) {
          key->values.erase(it);
          changed = true;
          return ERROR_SUCCESS;
        }
      }
      return ERROR_FILE_NOT_FOUND;
    });
  });
}

LONG RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
  // An empty name would delete the key the handle stands for, and with it
  // everything below: refused rather than risked on a slip.
  if (lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
  return Guarded([&]() -> LONG {
    std::vector<std::u16string> parts;
    if (!SplitSubKey(lpSubKey, parts) || parts.empty()) return ERROR_INVALID_PARAMETER;
    Store& store = TheStore();
    std::lock_guard<std::mutex> hold(store.Lock());
    KeyRef ref;
    if (LONG rc = store.Resolve(hKey, ref); rc != ERROR_SUCCESS) return rc;
    KeyRef doomed;
    LONG rc = store.Change([&](bool& changed) -> LONG {
      Key* parent = store.Find(ref);
      if (parent == nullptr) return ERROR_INVALID_HANDLE;
      doomed = ref;
      for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        parent = parent->Child(parts[i]);
        if (parent == nullptr) return ERROR_FILE_NOT_FOUND;
        doomed.path.push_back(parent->name);
      }
      auto& siblings = parent->children;
      for (auto it = siblings.begin(); it != siblings.end(); ++it) {
        if (platform::EqualsIgnoringCase((*it)->name, parts.back())) {
          doomed.path.push_back((*it)->name);
          siblings.erase(it);
          changed = true;
          return ERROR_SUCCESS;
        }
      }
      return ERROR_FILE_NOT_FOUND;
    });
    if (rc == ERROR_SUCCESS) store.MarkDeleted(doomed.root, doomed.path);
    return rc;
  });
}

LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, DWORD* lpcchName, DWORD*, LPWSTR lpClass,
                   DWORD* lpcchClass, void* lpftLastWriteTime) {
  if (lpName == nullptr || lpcchName == nullptr) return ERROR_INVALID_PARAMETER;
  return Guarded([&]() -> LONG {
    Store& store = TheStore();
    std::lock_guard<std::mutex> hold(store.Lock());
    KeyRef ref;
    if (LONG rc = store.Resolve(hKey, ref); rc != ERROR_SUCCESS) return rc;
    store.Refresh();
    Key* key = store.Find(ref);
    if (key == nullptr) return ERROR_INVALID_HANDLE;
    if (dwIndex >= key->children.size()) return ERROR_NO_MORE_ITEMS;
    if (LONG rc = CopyName(key->children[dwIndex]->name, lpName, lpcchName); rc != ERROR_SUCCESS) return rc;
    // Keys carry no class and no write time here.
    if (lpClass != nullptr && lpcchClass != nullptr && *lpcchClass > 0) lpClass[0] = u'\0';
    if (lpcchClass != nullptr) *lpcchClass = 0;
    if (lpftLastWriteTime != nullptr) std::memset(lpftLastWriteTime, 0, 2 * sizeof(DWORD));
    return ERROR_SUCCESS;
  });
}

LONG RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, DWORD* lpcchValueName, DWORD*, DWORD* lpType,
                   BYTE* lpData, DWORD* lpcbData) {
  if (lpValueName == nullptr || lpcchValueName == nullptr) return ERROR_INVALID_PARAMETER;
  if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
  return Guarded([&]() -> LONG {
    Store& store = TheStore();
    std::lock_guard<std::mutex> hold(store.Lock());
    KeyRef ref;
    if (LONG rc = store.Resolve(hKey, ref); rc != ERROR_SUCCESS) return rc;
    store.Refresh();
    Key* key = store.Find(ref);
    if (key == nullptr) return ERROR_INVALID_HANDLE;
    if (dwIndex >= key->values.size()) return ERROR_NO_MORE_ITEMS;
    const Value& v = key->values[dwIndex];
    if (LONG rc = CopyName(v.name, lpValueName, lpcchValueName); rc != ERROR_SUCCESS) return rc;
    if (lpType != nullptr) *lpType = v.type;
    const auto size = static_cast<DWORD>(v.data.size());
    if (lpData != nullptr && *lpcbData < size) {
      *lpcbData = size;
      return ERROR_MORE_DATA;
    }
    if (lpData != nullptr && size > 0) std::memcpy(lpData, v.data.data(), size);
    if (lpcbData != nullptr) *lpcbData = size;
    return ERROR_SUCCESS;
  });
}

namespace platform::registry {

void ReloadFromDisk() {
  Store& store = TheStore();
  std::lock_guard<std::mutex> hold(store.Lock());
  store.Forget();
}

void SetCrashAfterBytesForTest(long bytes) { TheStore().ArmCrash(bytes); }

}  // namespace platform::registry
