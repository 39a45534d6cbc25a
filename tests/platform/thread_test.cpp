#include "platform/os/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace {

// A thread function held until the test opens its gate.
struct Gate {
  std::mutex lock;
  std::condition_variable opened;
  bool open = false;
  int priorityInside = -1;

  void Open() {
    {
      std::lock_guard<std::mutex> hold(lock);
      open = true;
    }
    opened.notify_all();
  }
  static DWORD Run(void* raw) {
    auto* gate = static_cast<Gate*>(raw);
    std::unique_lock<std::mutex> hold(gate->lock);
    gate->opened.wait(hold, [gate] { return gate->open; });
    gate->priorityInside = platform::GetCurrentThreadPriority();
    return 42;
  }
};

// Uses a good part of a stack: the reservation must hold it.
DWORD UseStack(void* raw) {
  volatile char buffer[512 * 1024];
  for (std::size_t i = 0; i < sizeof(buffer); i += 4096) buffer[i] = static_cast<char>(i / 4096);
  *static_cast<int*>(raw) = buffer[5 * 4096];
  return 7;
}

TEST(ThreadTest, WaitTimesOutWhileRunningAndReturnsTheExitCodeOnceEnded) {
  Gate gate;
  platform::Thread thread;
  ASSERT_TRUE(thread.Start(&Gate::Run, &gate, 0));
  EXPECT_FALSE(thread.Start(&Gate::Run, &gate, 0)) << "one thread per object";
  EXPECT_FALSE(thread.Wait(0));
  EXPECT_FALSE(thread.Wait(5));
  EXPECT_EQ(thread.ExitCode(), 0u);
  gate.Open();
  EXPECT_TRUE(thread.Wait(INFINITE));
  EXPECT_EQ(thread.ExitCode(), 42u);
  thread.Close();
  EXPECT_TRUE(thread.Wait(0)) << "nothing left to wait for";
}

TEST(ThreadTest, StackReservationHoldsALargeFrame) {
  int seen = 0;
  platform::Thread thread;
  ASSERT_TRUE(thread.Start(&UseStack, &seen, 0xD0000));
  thread.Close();
  EXPECT_EQ(seen, 5);
}

TEST(ThreadTest, AThreadSetBelowNormalRunsBelowNormal) {
  Gate gate;
  platform::Thread thread;
  ASSERT_TRUE(thread.Start(&Gate::Run, &gate, 0));
  const int before = thread.GetPriority();
  EXPECT_EQ(before, platform::GetCurrentThreadPriority()) << "a new thread starts at its creator's priority";
  ASSERT_TRUE(thread.SetPriority(before + 1)) << "lowering is always allowed";
  EXPECT_EQ(thread.GetPriority(), before + 1);
  EXPECT_FALSE(thread.SetPriority(-1));
  EXPECT_FALSE(thread.SetPriority(8));
  gate.Open();
  thread.Close();
  EXPECT_EQ(gate.priorityInside, before + 1);
  EXPECT_EQ(platform::GetCurrentThreadPriority(), before) << "the creator is left as it was";
}

TEST(ThreadTest, CloseWaitsForAThreadStillRunning) {
  Gate gate;
  std::atomic<bool> closed{false};
  platform::Thread opener;
  {
    platform::Thread thread;
    ASSERT_TRUE(thread.Start(&Gate::Run, &gate, 0));
    // The gate opens only from another thread; Close must wait for it.
    struct Args {
      Gate* gate;
      std::atomic<bool>* closed;
    } args{&gate, &closed};
    ASSERT_TRUE(opener.Start(
        [](void* raw) -> DWORD {
          auto* a = static_cast<Args*>(raw);
          EXPECT_FALSE(a->closed->load());
          a->gate->Open();
          return 0;
        },
        &args, 0));
    thread.Close();
    closed = true;
    EXPECT_EQ(gate.priorityInside >= 0, true) << "the function ran to its end before Close returned";
    opener.Close();
  }
}

}  // namespace
