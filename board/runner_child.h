// The forked child's side of launch(): it only makes system calls, on what the parent prepared.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <cstddef>
#include <utility>

namespace board {

struct ChildPlan {
  char* const* argv;
  bool privateDev;
  const char* device;  // empty for none
  const char* slavePath;
  bool deviceDenied;
  const char* dir;  // empty to stay
  int in;
  int out;
  int err;
  bool ownGroup;
  bool foreground;
  const std::pair<int, struct sigaction>* signals;
  std::size_t signalCount;
  const sigset_t* mask;
  int report;
  uid_t uid;
  gid_t gid;
};

// What the child writes to the report pipe when it cannot run the program.
struct ChildReport {
  bool sandbox;  // false: the private /dev was made and the program itself could not be run
  int error;
  char step[200];
};

[[noreturn]] void becomeProgram(const ChildPlan& plan);

}  // namespace board
