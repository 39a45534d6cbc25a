// Child processes of the tests: a piece of the test run in a forked copy of
// the test program (a crash that must not take the test down, processes
// racing on one file), and a program of the build run with its arguments and
// its output read back.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// Forks and runs `body` in the child, which then leaves with _exit(0) so that
// nothing of the test program's own shutdown runs twice; a body that throws
// leaves with 125. Gives the child's id, or -1 if it could not be forked.
pid_t StartChild(const std::function<void()>& body);

// Waits for a child and gives its exit status, or -1 if it did not exit
// normally (a signal) or was no child.
int WaitForChild(pid_t pid);

// StartChild and WaitForChild in one: the exit status of `body`'s child.
int RunInChild(const std::function<void()>& body);

// A program run to its end: its exit status (-1 if it could not be started or
// did not exit normally) and what it wrote.
struct CommandResult {
  int exitStatus = -1;
  std::string output;
};

// Runs `arguments[0]` with the arguments that follow, without a shell, and
// reads its standard output; with `withErrors`, its standard error too, in
// the order written.
CommandResult RunCommand(const std::vector<std::string>& arguments, bool withErrors = false);

}  // namespace testing_support
