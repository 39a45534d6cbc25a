// Memory functions for the tests of the circular list and the hash table:
// malloc and free that count live allocations and can be told to refuse a
// given allocation from now on, so that every allocation of an operation can
// be failed in turn.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace container_test {

struct MemoryState {
  int live = 0;       // allocations not yet freed
  int calls = 0;      // allocation calls so far
  int failAt = -1;    // the call number (counted from 0) to refuse; -1 none
};

inline MemoryState g_memory;

inline void* TestAlloc(std::size_t size) {
  const int call = g_memory.calls++;
  if (call == g_memory.failAt) return nullptr;
  void* p = std::malloc(size);
  if (p != nullptr) ++g_memory.live;
  return p;
}

inline void TestFree(void* p) {
  if (p == nullptr) return;
  --g_memory.live;
  std::free(p);
}

// Refuses the n-th allocation from now (0 = the next one).
inline void FailAllocation(int n) { g_memory.failAt = g_memory.calls + n; }
inline void FailNothing() { g_memory.failAt = -1; }

// Element pointers that are only compared, never followed.
inline void* Element(int n) { return reinterpret_cast<void*>(static_cast<std::intptr_t>(n) * 16 + 16); }
inline int ElementNumber(const void* p) { return static_cast<int>((reinterpret_cast<std::intptr_t>(p) - 16) / 16); }

}  // namespace container_test
