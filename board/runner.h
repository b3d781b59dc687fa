// Runs a program with a pseudo-terminal standing in for its board: the program runs in a private
// mount namespace whose /dev holds only what a console program needs (null, zero, urandom, tty,
// a pts of its own with ptmx, and the fd, stdin, stdout and stderr links) and the board's node,
// which is the terminal's far side. The host's /dev is never touched. As root the namespace is
// made directly; otherwise inside an unprivileged user namespace that maps the caller's own ids.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace board {

// A pseudo-terminal pair. The caller reads what the program sends from `master` (non-blocking)
// and holds `slave` open, so that the line never hangs up between the program's opens and closes
// and keeps the settings the program gave it.
struct BoardLine {
  int master = -1;
  int slave = -1;
  std::string slavePath;
};

// Opens a pair into `line`; returns false with the reason in `why`.
bool openBoardLine(BoardLine& line, std::string& why);

struct Launch {
  // The program and its arguments; a program without a slash is looked for on PATH. A prefix
  // such as an emulator simply goes first.
  std::vector<std::string> argv;
  bool privateDev = true;     // false runs the program as it is, with the host's /dev
  std::string device;         // where the board's node appears, under /dev; empty for none
  std::string slavePath;      // the terminal that becomes that node
  bool deviceDenied = false;  // opening the node fails with EACCES, as for a user not allowed it
  std::string dir;            // the working directory; empty keeps the caller's
  int in = -1;                // descriptors that become the program's 0, 1 and 2; -1 for /dev/null
  int out = 1;
  int err = 2;
  bool ownGroup = false;    // put the program in a process group of its own
  bool foreground = false;  // and make that group the foreground of the terminal on `in`
  // Dispositions set in the program before it starts, and the signal mask it starts with.
  std::vector<std::pair<int, struct sigaction>> signals;
  sigset_t mask{};
};

struct Launched {
  enum class Failure { none, sandbox, program };
  pid_t pid = -1;
  Failure failure = Failure::none;
  int error = 0;    // errno of what failed
  std::string why;  // the step that failed and the system's word for it
  int status = 0;   // the failed child's wait status
};

// Starts the program and returns once it runs, or with the reason it could not be made to run;
// a child that failed has been waited for. The program's ids and environment are the caller's.
Launched launch(const Launch& how);

// One line that says why no private namespace could be made for a non-root user and what to do
// about it, from the system's settings.
std::string sandboxAdvice(int error);

}  // namespace board
