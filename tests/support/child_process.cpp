#include "tests/support/child_process.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

extern char** environ;

namespace testing_support {

pid_t StartChild(const std::function<void()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    try {
      body();
    } catch (...) {
      ::_exit(125);
    }
    ::_exit(0);
  }
  return pid < 0 ? -1 : pid;
}

int WaitForChild(pid_t pid) {
  if (pid <= 0) return -1;
  int status = 0;
  pid_t waited = -1;
  do {
    waited = ::waitpid(pid, &status, 0);
  } while (waited < 0 && errno == EINTR);
  if (waited != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RunInChild(const std::function<void()>& body) { return WaitForChild(StartChild(body)); }

CommandResult RunCommand(const std::vector<std::string>& arguments, bool withErrors) {
  CommandResult result;
  if (arguments.empty()) return result;
  int out[2];
  if (::pipe(out) != 0) return result;

  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addclose(&actions, out[0]);
  ::posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  if (withErrors) ::posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
  ::posix_spawn_file_actions_addclose(&actions, out[1]);

  std::vector<char*> argv;
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (spawned != 0) {
    ::close(out[0]);
    return result;
  }

  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(out[0], buffer, sizeof buffer);
    if (n > 0) {
      result.output.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  ::close(out[0]);
  result.exitStatus = WaitForChild(pid);
  return result;
}

}  // namespace testing_support
