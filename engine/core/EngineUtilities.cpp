#include "engine/core/EngineUtilities.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "engine/core/Utility.h"
#include "platform/com/accessors.h"
#include "platform/os/clock.h"
#include "platform/os/device.h"
#include "platform/os/files.h"
#include "platform/os/format.h"
#include "platform/os/text.h"

namespace vov {

namespace {

// inertialWithoutSatellites of the fix-quality update.
std::atomic<bool> g_manualFix{false};

enum DebugLogState { kUndecided, kOn, kOff };
std::atomic<int> g_debugLogState{kUndecided};

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

}  // namespace

std::u16string MakeDirectoryPath(std::u16string_view folder) {
  std::u16string path(folder);
  if (!EndsWithPathSeparator(path)) path.push_back(u'\\');
  return path;
}

com::Bstr MakeDirectoryPath(BSTR folder) {
  const std::u16string path = MakeDirectoryPath(com::BstrView(folder));
  com::Bstr text;
  if (!text.Assign(path)) throw std::bad_alloc();
  return text;
}

std::u16string StripTrailingSeparator(std::u16string_view path) {
  if (EndsWithPathSeparator(path)) path.remove_suffix(1);
  return std::u16string(path);
}

// The name is taken first and cut at its own last point, so that a point in a
// folder name ("\My.Folder\file") never cuts the path inside the folder.
std::u16string GetBaseNameWithoutExtension(std::u16string_view path) {
  std::size_t start = path.size();
  while (start > 0 && !IsSeparator(path[start - 1])) --start;
  std::u16string_view name = path.substr(start);
  const std::size_t dot = name.rfind(u'.');
  if (dot != std::u16string_view::npos) name = name.substr(0, dot);
  return std::u16string(name);
}

bool FileExists(std::u16string_view path) {
  const std::u16string pattern(path);
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

// In 64 bits, so that no pair of ints overflows the difference.
bool IsAngleWithinTolerance(INT a, INT b, INT tolerance) {
  const long long apart = std::llabs(static_cast<long long>(a) - b);
  return apart < tolerance || std::llabs(360 - apart) < tolerance;
}

std::u16string ExtractTagText(std::u16string_view text, std::u16string_view tag) {
  std::u16string opening = u"<";
  opening.append(tag).push_back(u'>');
  std::u16string closing = u"</";
  closing.append(tag).push_back(u'>');
  const std::size_t open = text.find(opening);
  if (open == std::u16string_view::npos) return {};
  const std::size_t start = open + opening.size();
  const std::size_t close = text.find(closing, start);
  if (close == std::u16string_view::npos) return {};
  return std::u16string(text.substr(start, close - start));
}

// Each hour covers 30 degrees centred on its own direction; 12 o'clock runs
// from 346 through 15. The sum is taken in 64 bits so that no heading or
// bearing, however far out of range, overflows it.
INT GetClockFaceDirection(INT heading, INT bearing) {
  const long long d = (static_cast<long long>(bearing) - heading + 360) % 360;
  if (d < 0) return 0;
  if (d >= 346 || d <= 15) return 12;
  return static_cast<INT>((d - 16) / 30 + 1);
}

bool IsManualFix() { return g_manualFix.load(std::memory_order_relaxed); }

void SetManualFix(bool manual) { g_manualFix.store(manual, std::memory_order_relaxed); }

void WriteDebugLog(std::u16string_view debugFolder, std::u16string_view text, bool withTime, bool withDate) {
  try {
    int state = g_debugLogState.load(std::memory_order_relaxed);
    if (state == kUndecided) {
      if (debugFolder.empty()) return;
      const std::u16string folder(debugFolder);
      const DWORD attributes = GetFileAttributesW(folder.c_str());
      state = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? kOn : kOff;
      g_debugLogState.store(state, std::memory_order_relaxed);
    }
    if (state != kOn || debugFolder.empty()) return;

    std::u16string line;
    if (withTime || withDate) {
      SYSTEMTIME now{};
      GetLocalTime(&now);
      line = withDate ? platform::FormatW(u"<%02u %02u %4u %02u:%02u:%02u> ",
                                          {now.wMonth, now.wDay, now.wYear, now.wHour, now.wMinute, now.wSecond})
                      : platform::FormatW(u"<%02u:%02u:%02u> ", {now.wHour, now.wMinute, now.wSecond});
    }
    // The text is appended, never used as a template: a '%' in it stays.
    line.append(text);
    line.push_back(u'\n');
    const std::string bytes = platform::Utf16ToUtf8(line);

    std::u16string path(debugFolder);
    path.append(u"/gpsDebug.txt");
    std::FILE* file = std::fopen(platform::HostPath(path).c_str(), "a+");
    if (file == nullptr) return;
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fflush(file);
    std::fclose(file);
  } catch (...) {
    // A log line is never worth more than the caller's work.
  }
}

void ResetDebugLogDecision() { g_debugLogState.store(kUndecided, std::memory_order_relaxed); }

}  // namespace vov
