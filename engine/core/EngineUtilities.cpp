#include "engine/core/EngineUtilities.h"

#include <atomic>

namespace vov {

namespace {

std::atomic<bool> g_manualFix{false};

}  // namespace

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

}  // namespace vov
