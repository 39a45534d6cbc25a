// A virtual clock that counts how often its tick count is read and moves on
// by a millisecond each time. The intersection search reads the tick count
// once as it starts and once before each point it examines, so under this
// clock the reads count the points examined, and the search's time limit of
// kIntersectionSearchMs only runs out for a walk of that many points: work is
// bounded by steps, whatever the load of the machine the test runs on.
#pragma once

#include <cstdint>

#include "platform/os/clock.h"

class CountingClock : public platform::VirtualClock {
 public:
  CountingClock() : VirtualClock(SYSTEMTIME{2026, 3, 0, 1, 12, 0, 0, 0}) {}
  std::uint32_t TickCount() override {
    ++reads;
    Advance(1);
    return VirtualClock::TickCount();
  }
  int reads = 0;
};
