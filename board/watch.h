// Watches the board's line while the program runs: reads every byte the program sends as soon as
// it comes, so the program never waits on a full terminal, and tells what it sees.
#pragma once

#include <sys/types.h>

#include <chrono>

#include "board_report.h"

namespace board {

struct Watch {
  pid_t pid;        // the program
  int master;       // the line's master side, non-blocking
  int signals;      // a signalfd for SIGCHLD, SIGTERM and SIGHUP
  bool foreground;  // the program's group has the terminal on descriptor 0
  std::chrono::steady_clock::time_point start;  // when the program was started
  int raw = -1;            // where every byte received goes as it is; -1 for nowhere
  bool rawFailed = false;  // set when writing there failed
  double endedAt = 0;      // seconds from start to the program's end
};

// Returns once the program has ended and the line holds no byte more; gives the program's wait
// status. SIGTERM and SIGHUP are passed on to the program; when the program is stopped from the
// terminal, virtual-board stops too and gives it the terminal back when it is continued.
int watchUntilEnd(Watch& w, Report& report);

}  // namespace board
