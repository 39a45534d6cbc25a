// The clock of the platform layer: the real one (monotonic ticks, the host's
// wall clock and time zone), the virtual one tests drive by hand, and the
// phone's GetTickCount / GetLocalTime / GetSystemTime, which ask whichever
// clock is current.
#include "platform/os/clock.h"

#include <time.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace platform {
namespace {

constexpr std::int64_t kMsPerDay = 86'400'000;

// Days since 1970-01-01 of a proleptic Gregorian date, and back (Howard
// Hinnant's algorithms): exact for every year a WORD holds, no table needed.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

SYSTEMTIME FromEpochMs(std::int64_t ms) {
  std::int64_t days = ms / kMsPerDay;
  std::int64_t rest = ms % kMsPerDay;
  if (rest < 0) {
    rest += kMsPerDay;
    --days;
  }
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);

  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(y);
  st.wMonth = static_cast<WORD>(m);
  st.wDay = static_cast<WORD>(d);
  // 1970-01-01 was a Thursday.
  st.wDayOfWeek = static_cast<WORD>(((days % 7) + 7 + 4) % 7);
  st.wHour = static_cast<WORD>(rest / 3'600'000);
  st.wMinute = static_cast<WORD>(rest / 60'000 % 60);
  st.wSecond = static_cast<WORD>(rest / 1000 % 60);
  st.wMilliseconds = static_cast<WORD>(rest % 1000);
  return st;
}

// Fields out of range are taken arithmetically (hour 25 is the next day's
// 1 o'clock), except the month, which has no such reading and is clamped.
std::int64_t ToEpochMs(const SYSTEMTIME& st) {
  unsigned month = st.wMonth < 1 ? 1 : (st.wMonth > 12 ? 12 : st.wMonth);
  std::int64_t days = DaysFromCivil(st.wYear, month, 1) + (st.wDay > 0 ? st.wDay - 1 : 0);
  return days * kMsPerDay + std::int64_t{st.wHour} * 3'600'000 + std::int64_t{st.wMinute} * 60'000 +
         std::int64_t{st.wSecond} * 1000 + st.wMilliseconds;
}

SYSTEMTIME FromTm(const struct tm& tm, long milliseconds) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(tm.tm_year + 1900);
  st.wMonth = static_cast<WORD>(tm.tm_mon + 1);
  st.wDayOfWeek = static_cast<WORD>(tm.tm_wday);
  st.wDay = static_cast<WORD>(tm.tm_mday);
  st.wHour = static_cast<WORD>(tm.tm_hour);
  st.wMinute = static_cast<WORD>(tm.tm_min);
  // A leap second shows as :59 rather than a value the phone never gives.
  st.wSecond = static_cast<WORD>(tm.tm_sec > 59 ? 59 : tm.tm_sec);
  st.wMilliseconds = static_cast<WORD>(milliseconds);
  return st;
}

class HostClock : public Clock {
 public:
  // Ticks count from the host's monotonic origin (its boot), as the phone's
  // count from its boot, so every process on the machine agrees on them.
  std::uint32_t TickCount() override {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<std::uint32_t>(ms.count());
  }
  SYSTEMTIME LocalTime() override { return Now(true); }
  SYSTEMTIME SystemTime() override { return Now(false); }

 private:
  static SYSTEMTIME Now(bool local) {
    struct timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm tm {};
    if ((local ? localtime_r(&ts.tv_sec, &tm) : gmtime_r(&ts.tv_sec, &tm)) == nullptr)
      return FromEpochMs(static_cast<std::int64_t>(ts.tv_sec) * 1000);
    return FromTm(tm, ts.tv_nsec / 1'000'000);
  }
};

// Virtual clocks are advanced by a test thread while engine threads read
// them; one lock for all of them keeps ticks and time moving together.
std::mutex& VirtualLock() {
  static std::mutex lock;
  return lock;
}

std::atomic<Clock*> g_current{nullptr};

}  // namespace

void Clock::Sleep(std::uint32_t milliseconds) {
  if (milliseconds == 0) {
    std::this_thread::yield();
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

Clock& RealClock() {
  static HostClock clock;
  return clock;
}

VirtualClock::VirtualClock(const SYSTEMTIME& start, int localOffsetMinutes)
    : epochMs_(ToEpochMs(start)), offsetMinutes_(localOffsetMinutes) {}

std::uint32_t VirtualClock::TickCount() {
  std::lock_guard<std::mutex> hold(VirtualLock());
  return ticks_;
}

SYSTEMTIME VirtualClock::LocalTime() {
  std::lock_guard<std::mutex> hold(VirtualLock());
  return FromEpochMs(epochMs_ + std::int64_t{offsetMinutes_} * 60'000);
}

SYSTEMTIME VirtualClock::SystemTime() {
  std::lock_guard<std::mutex> hold(VirtualLock());
  return FromEpochMs(epochMs_);
}

void VirtualClock::Advance(std::uint32_t milliseconds) {
  std::lock_guard<std::mutex> hold(VirtualLock());
  ticks_ += milliseconds;  // wraps like the phone's tick count
  epochMs_ += milliseconds;
}

void VirtualClock::Sleep(std::uint32_t milliseconds) { Advance(milliseconds); }

void SetClock(Clock* clock) { g_current.store(clock); }

Clock& CurrentClock() {
  Clock* clock = g_current.load();
  return clock != nullptr ? *clock : RealClock();
}

}  // namespace platform

DWORD GetTickCount() { return platform::CurrentClock().TickCount(); }

void GetLocalTime(SYSTEMTIME* lpSystemTime) {
  if (lpSystemTime == nullptr) return;
  *lpSystemTime = platform::CurrentClock().LocalTime();
}

void GetSystemTime(SYSTEMTIME* lpSystemTime) {
  if (lpSystemTime == nullptr) return;
  *lpSystemTime = platform::CurrentClock().SystemTime();
}

void Sleep(DWORD dwMilliseconds) { platform::CurrentClock().Sleep(dwMilliseconds); }
