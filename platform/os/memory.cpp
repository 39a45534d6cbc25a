// GlobalMemoryStatus over sysinfo(2).
#include "platform/os/memory.h"

#include <sys/sysinfo.h>

#include <cstring>

void GlobalMemoryStatus(MEMORYSTATUS* lpBuffer) {
  if (lpBuffer == nullptr) return;
  std::memset(lpBuffer, 0, sizeof *lpBuffer);
  lpBuffer->dwLength = sizeof *lpBuffer;
  struct sysinfo info {};
  if (sysinfo(&info) != 0) return;
  const unsigned long long unit = info.mem_unit != 0 ? info.mem_unit : 1;
  const unsigned long long total = info.totalram * unit;
  const unsigned long long avail = (info.freeram + info.bufferram) * unit;
  lpBuffer->dwTotalPhys = static_cast<std::size_t>(total);
  lpBuffer->dwAvailPhys = static_cast<std::size_t>(avail);
  lpBuffer->dwTotalPageFile = static_cast<std::size_t>(info.totalswap * unit);
  lpBuffer->dwAvailPageFile = static_cast<std::size_t>(info.freeswap * unit);
  if (total > 0) lpBuffer->dwMemoryLoad = static_cast<DWORD>(100 - (avail * 100) / total);
}
