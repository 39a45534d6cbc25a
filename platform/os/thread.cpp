// Threads on POSIX threads: the stack size from the reservation, the end
// signalled through a condition variable (so that a wait may time out), and
// priorities through the thread's nice value (setpriority on its thread id).
#include "platform/os/thread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <mutex>

namespace platform {
namespace {

constexpr int kNicePerStep = 5;
constexpr int kLowestPriority = THREAD_PRIORITY_IDLE;

#if defined(__SANITIZE_ADDRESS__)
#define PLATFORM_THREAD_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PLATFORM_THREAD_SANITIZED 1
#endif
#endif
#ifdef PLATFORM_THREAD_SANITIZED
// The address sanitizer puts redzones around every local: stacks grow
// several times over, so a reservation sized for the phone is scaled.
constexpr std::size_t kStackScale = 4;
#else
constexpr std::size_t kStackScale = 1;
#endif

pid_t CurrentThreadId() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

int PriorityOfNice(int nice) {
  // Round to the nearest step, so that a nice value set outside this layer
  // reads as the priority it is closest to.
  const int steps = nice >= 0 ? (nice + kNicePerStep / 2) / kNicePerStep : -((-nice + kNicePerStep / 2) / kNicePerStep);
  return std::clamp(THREAD_PRIORITY_NORMAL + steps, 0, kLowestPriority);
}

int PriorityOf(pid_t tid) {
  errno = 0;
  const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
  if (nice == -1 && errno != 0) return THREAD_PRIORITY_NORMAL;
  return PriorityOfNice(nice);
}

bool SetPriorityOf(pid_t tid, int priority) {
  if (priority < 0 || priority > kLowestPriority) return false;
  // A thread already at that priority is left alone: its nice value may sit
  // between two steps, and an unprivileged thread could not go back to it.
  if (PriorityOf(tid) == priority) return true;
  const int nice = std::clamp((priority - THREAD_PRIORITY_NORMAL) * kNicePerStep, -20, 19);
  return ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice) == 0;
}

}  // namespace

int GetCurrentThreadPriority() { return PriorityOf(CurrentThreadId()); }

bool SetCurrentThreadPriority(int priority) { return SetPriorityOf(CurrentThreadId(), priority); }

struct Thread::State {
  Function function = nullptr;
  void* argument = nullptr;
  std::mutex lock;
  std::condition_variable changed;
  pid_t tid = 0;  // set by the thread before it runs the function
  bool started = false;
  bool ended = false;
  DWORD exitCode = 0;
  pthread_t handle{};
  bool joinable = false;
};

namespace {

void* RunThread(void* raw) {
  // The thread holds the state too, so that it outlives a Close that raced
  // with the end of the function.
  auto* held = static_cast<std::shared_ptr<Thread::State>*>(raw);
  std::shared_ptr<Thread::State> state = std::move(*held);
  delete held;
  {
    std::lock_guard<std::mutex> hold(state->lock);
    state->tid = CurrentThreadId();
    state->started = true;
  }
  state->changed.notify_all();
  const DWORD code = state->function(state->argument);
  {
    std::lock_guard<std::mutex> hold(state->lock);
    state->exitCode = code;
    state->ended = true;
  }
  state->changed.notify_all();
  return nullptr;
}

}  // namespace

Thread::Thread() = default;

Thread::~Thread() { Close(); }

bool Thread::Start(Function function, void* argument, std::size_t stackReservation) {
  if (state_ != nullptr || function == nullptr) return false;
  auto state = std::make_shared<State>();
  state->function = function;
  state->argument = argument;

  pthread_attr_t attributes;
  if (::pthread_attr_init(&attributes) != 0) return false;
  bool ok = true;
  if (stackReservation > 0) {
    std::size_t bytes = std::max<std::size_t>(stackReservation * kStackScale, PTHREAD_STACK_MIN);
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    if (page > 0) bytes = (bytes + page - 1) / page * page;
    ok = ::pthread_attr_setstacksize(&attributes, bytes) == 0;
  }
  auto* handOver = new (std::nothrow) std::shared_ptr<State>(state);
  if (handOver == nullptr) ok = false;
  if (ok && ::pthread_create(&state->handle, &attributes, &RunThread, handOver) != 0) ok = false;
  ::pthread_attr_destroy(&attributes);
  if (!ok) {
    delete handOver;
    return false;
  }
  state->joinable = true;
  // Wait until the thread knows its id, so that its priority can be set
  // right after Start returns.
  std::unique_lock<std::mutex> hold(state->lock);
  state->changed.wait(hold, [&state] { return state->started; });
  hold.unlock();
  state_ = std::move(state);
  return true;
}

bool Thread::Wait(DWORD milliseconds) {
  if (state_ == nullptr) return true;
  std::unique_lock<std::mutex> hold(state_->lock);
  const auto ended = [this] { return state_->ended; };
  if (milliseconds == INFINITE) {
    state_->changed.wait(hold, ended);
    return true;
  }
  return state_->changed.wait_for(hold, std::chrono::milliseconds(milliseconds), ended);
}

bool Thread::SetPriority(int priority) {
  if (state_ == nullptr) return false;
  std::lock_guard<std::mutex> hold(state_->lock);
  if (state_->ended) return false;
  return SetPriorityOf(state_->tid, priority);
}

int Thread::GetPriority() const {
  if (state_ == nullptr) return THREAD_PRIORITY_NORMAL;
  std::lock_guard<std::mutex> hold(state_->lock);
  return state_->ended ? THREAD_PRIORITY_NORMAL : PriorityOf(state_->tid);
}

DWORD Thread::ExitCode() const {
  if (state_ == nullptr) return 0;
  std::lock_guard<std::mutex> hold(state_->lock);
  return state_->exitCode;
}

void Thread::Close() {
  if (state_ == nullptr) return;
  Wait(INFINITE);
  if (state_->joinable) ::pthread_join(state_->handle, nullptr);
  state_.reset();
}

}  // namespace platform
