// The one clock of the platform layer. Everything that reads time (tick counts,
// local and system time) asks the current clock, which tests replace with a
// virtual one so that nothing depends on real time passing.
#pragma once

#include <cstdint>

#include "platform/os/wintypes.h"

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;  // 0 = Sunday
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};

// Milliseconds since the clock started; wraps after 49.7 days as on the phone.
DWORD GetTickCount();
void GetLocalTime(SYSTEMTIME* lpSystemTime);
void GetSystemTime(SYSTEMTIME* lpSystemTime);
// Waits `dwMilliseconds` on the current clock: the real clock sleeps (0 only
// yields the processor), a virtual one moves on by that much at once, so code
// that waits (a port given time to close) runs at full speed under test and
// sees the time pass in its tick counts.
void Sleep(DWORD dwMilliseconds);

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::uint32_t TickCount() = 0;
  virtual SYSTEMTIME LocalTime() = 0;
  virtual SYSTEMTIME SystemTime() = 0;
  // Lets `milliseconds` pass on this clock; the base class sleeps for real.
  virtual void Sleep(std::uint32_t milliseconds);
};

// The real clock: monotonic ticks, the host's time zone for local time.
Clock& RealClock();

// A clock that moves only when told to. Local time equals system time plus a
// fixed offset in minutes.
class VirtualClock : public Clock {
 public:
  explicit VirtualClock(const SYSTEMTIME& start, int localOffsetMinutes = 0);
  std::uint32_t TickCount() override;
  SYSTEMTIME LocalTime() override;
  SYSTEMTIME SystemTime() override;
  // Advances instead of sleeping.
  void Sleep(std::uint32_t milliseconds) override;
  void Advance(std::uint32_t milliseconds);

 private:
  std::int64_t epochMs_;  // system time, milliseconds since 1970-01-01 UTC
  std::uint32_t ticks_ = 0;
  int offsetMinutes_;
};

// Makes `clock` the current clock (nullptr restores the real one). The caller
// keeps it alive while it is current.
void SetClock(Clock* clock);
Clock& CurrentClock();

}  // namespace platform
