// The debugger output of the platform layer (OutputDebugStringW). Lines go to a
// sink that tests can read; by default they are dropped unless the
// TIRVANE_DEBUG_OUTPUT environment variable is set, in which case they are
// written to standard error.
#pragma once

#include <functional>
#include <string>

#include "platform/os/wintypes.h"

void OutputDebugStringW(LPCWSTR lpOutputString);

namespace platform {
// Replaces the sink (an empty function restores the default).
void SetDebugOutputSink(std::function<void(const std::u16string&)> sink);
}  // namespace platform
