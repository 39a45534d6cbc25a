// The phone's memory report (GlobalMemoryStatus), answered from the host's
// figures. The map engine only logs it.
#pragma once

#include <cstddef>

#include "platform/os/wintypes.h"

struct MEMORYSTATUS {
  DWORD dwLength;
  DWORD dwMemoryLoad;  // percent of physical memory in use, 0..100
  std::size_t dwTotalPhys;
  std::size_t dwAvailPhys;
  std::size_t dwTotalPageFile;
  std::size_t dwAvailPageFile;
  std::size_t dwTotalVirtual;
  std::size_t dwAvailVirtual;
};

// Fills every field; on a host that does not say, the figures are 0 and the
// load is 0.
void GlobalMemoryStatus(MEMORYSTATUS* lpBuffer);
