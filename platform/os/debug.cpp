// OutputDebugStringW of the platform layer: debugger output goes to a
// replaceable sink. Tests install one to read what was reported; otherwise the
// text is dropped, or written to standard error as UTF-8 when
// TIRVANE_DEBUG_OUTPUT is set.
#include "platform/os/debug.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/os/text.h"

namespace platform {
namespace {

// Longest text taken from one call; the phone's debugger cut lines too, and a
// caller that forgot the terminating NUL must not make us read without end.
constexpr std::size_t kMaxDebugText = 64 * 1024;

std::mutex g_sinkLock;
std::function<void(const std::u16string&)> g_sink;

void DefaultSink(const std::u16string& text) {
  const char* flag = std::getenv("TIRVANE_DEBUG_OUTPUT");
  if (flag == nullptr || *flag == '\0') return;
  std::string utf8 = Utf16ToUtf8(text);
  std::fwrite(utf8.data(), 1, utf8.size(), stderr);
  std::fflush(stderr);
}

}  // namespace

void SetDebugOutputSink(std::function<void(const std::u16string&)> sink) {
  std::lock_guard<std::mutex> hold(g_sinkLock);
  g_sink = std::move(sink);
}

}  // namespace platform

void OutputDebugStringW(LPCWSTR lpOutputString) {
  if (lpOutputString == nullptr) return;
  try {
    std::u16string text(lpOutputString, platform::BoundedLength(lpOutputString, platform::kMaxDebugText));
    // The sink is called outside the lock, so a sink may itself report.
    std::function<void(const std::u16string&)> sink;
    {
      std::lock_guard<std::mutex> hold(platform::g_sinkLock);
      sink = platform::g_sink;
    }
    if (sink) {
      sink(text);
    } else {
      platform::DefaultSink(text);
    }
  } catch (...) {
    // Debug output is best effort: a failing sink must not take the caller down.
  }
}
