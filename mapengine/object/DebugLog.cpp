// The map engine's debug log: plain lines, formatted lines and the memory
// report. Every line goes to the debugger output; while the debug folder
// exists it is also appended, time-stamped, to "gpsDebug.txt" there. Whether
// the folder exists is asked once per process and remembered for every map
// engine object until CleanUp forgets it, because the phone's file system is
// slow to ask and the log is written from hot paths.
#include <atomic>

#include "mapengine/object/CMap.h"
#include "platform/os/debug.h"
#include "platform/os/files.h"
#include "platform/os/format.h"
#include "platform/os/memory.h"

namespace {

enum LogState : int { kUnknown = 0, kOff = 1, kOn = 2 };

// Written without a lock: a race only repeats the folder check.
std::atomic<int> g_logState{kUnknown};

bool LoggingOn(BSTR folder) {
  if (SysStringLen(folder) == 0) return false;
  int state = g_logState.load(std::memory_order_relaxed);
  if (state == kUnknown) {
    DWORD attributes = GetFileAttributesW(folder);
    bool exists = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    state = exists ? kOn : kOff;
    g_logState.store(state, std::memory_order_relaxed);
  }
  return state == kOn;
}

}  // namespace

// OutputDebugStringW, the folder check and WriteDebugLogLine each keep their
// failures to themselves, so nothing here throws.
void CMap::Log(const char16_t* text) const noexcept {
  if (text == nullptr) text = u"";
  OutputDebugStringW(text);
  OutputDebugStringW(u"\n");
  const BSTR folder = m_DebugDirectory;
  if (LoggingOn(folder)) WriteDebugLogLine(folder, text);
}

void CMap::ClearDebugLogFlag() { g_logState.store(kUnknown, std::memory_order_relaxed); }

void CMap::LogFormat(std::u16string_view tmpl, std::initializer_list<platform::FormatArg> args) const noexcept {
  try {
    Log(platform::FormatW(tmpl, args).c_str());
  } catch (...) {
    // Without memory for the line, the line is dropped (see Log).
  }
}

void CMap::LogMemoryStatus(const char16_t* tmpl) const {
  MEMORYSTATUS status{};
  GlobalMemoryStatus(&status);
  LogFormat(tmpl, {static_cast<int>(100 - status.dwMemoryLoad), static_cast<long long>(status.dwAvailPhys / 1024)});
}
