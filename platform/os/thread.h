// Threads of the platform layer, as much of the phone's thread calls as the
// map engine's route thread needs: a thread started with a stack
// reservation, a wait for its end with a timeout or INFINITE, and thread
// priorities on the phone's scale (0 highest to 7 lowest, 3 normal).
//
// Priorities map to the thread's nice value (5 steps per priority). Linux
// lets an unprivileged thread lower its priority but not raise it again, so
// SetCurrentThreadPriority and Thread::SetPriority answer false for a raise
// they were not allowed; callers treat priorities as a hint. Nothing here
// stops a thread: a thread ends by returning from its function (the caller
// asks it to, through a flag it polls), and the owner's Close or destructor
// waits for that.
#pragma once

#include <cstddef>
#include <memory>

#include "platform/os/wintypes.h"

inline constexpr DWORD INFINITE = 0xFFFFFFFFu;

inline constexpr int THREAD_PRIORITY_TIME_CRITICAL = 0;
inline constexpr int THREAD_PRIORITY_HIGHEST = 1;
inline constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 2;
inline constexpr int THREAD_PRIORITY_NORMAL = 3;
inline constexpr int THREAD_PRIORITY_BELOW_NORMAL = 4;
inline constexpr int THREAD_PRIORITY_LOWEST = 5;
inline constexpr int THREAD_PRIORITY_ABOVE_IDLE = 6;
inline constexpr int THREAD_PRIORITY_IDLE = 7;

namespace platform {

// The calling thread's priority, and a change of it (false when refused).
int GetCurrentThreadPriority();
bool SetCurrentThreadPriority(int priority);

// One thread and its end. Not copyable; the destructor waits for a thread
// that is still running (it is never abandoned or killed).
class Thread {
 public:
  using Function = DWORD (*)(void* argument);

  Thread();
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts `function(argument)` on a new thread with a stack of at least
  // `stackReservation` bytes (0: the system's default). False when the
  // thread cannot be made, or when this object already holds one.
  bool Start(Function function, void* argument, std::size_t stackReservation);
  // Waits up to `milliseconds` (INFINITE: for ever) for the thread to end:
  // true once it has ended (at once when none was started).
  bool Wait(DWORD milliseconds);
  // The started thread's priority; false when refused or when it has ended.
  bool SetPriority(int priority);
  int GetPriority() const;
  // What the function returned; 0 until it has ended.
  DWORD ExitCode() const;
  // Waits for the thread and lets it go; the object may start another.
  void Close();

  struct State;  // shared with the running thread

 private:
  std::shared_ptr<State> state_;
};

}  // namespace platform
