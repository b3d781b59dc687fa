// Watches the board's line while the program runs: reads every byte the program sends as soon as
// it comes, and hands each to the board's side with the time it arrived there. Unpaced, a byte
// arrives when it is read, and the program never waits on a full terminal. Paced, the line carries
// bytes at the rate the program set, and holds the program's writes while a byte waits for the
// wire, as a UART does.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "board/receiver.h"
#include "board/runner.h"

namespace board {

struct Watch {
  pid_t pid = -1;           // the program
  int master = -1;          // the line's master side, non-blocking
  int signals = -1;         // a signalfd for SIGCHLD, SIGTERM and SIGHUP
  bool foreground = false;  // the program's group has the terminal on descriptor 0
  std::chrono::steady_clock::time_point start;  // when the program was started
  int paceSlave = -1;      // the line's slave side, to hold the program's writes on; -1: unpaced
  int raw = -1;            // where every byte received goes as it is; -1 for nowhere
  bool rawFailed = false;  // set when writing there failed
  double endedAt = 0;      // seconds from start to the program's end
  std::uint64_t mostWaiting = 0;  // paced: the most bytes that waited for the wire at once
  // Where the report goes: standard error, and standard output when it carries --raw or --json;
  // -1 for none. Once the reader of either has gone, the program is ended as on SIGTERM.
  int reportOut[2] = {2, -1};
};

// Blocks SIGCHLD, SIGTERM and SIGHUP, as a shell leaves a job's, and returns a signalfd for them
// (Watch::signals); the mask before goes to `before`, for the program to start with.
int watchSignals(sigset_t* before);

// Returns once the program has ended and the line holds no byte more; gives the program's wait
// status. SIGTERM and SIGHUP are passed on to the program. When the program is stopped from the
// terminal (Ctrl-Z), virtual-board stops too and gives it the terminal back when it is continued;
// stopped otherwise (SIGSTOP), it goes on watching the line, and the board on running.
int watchUntilEnd(Watch& w, const LineSettings& before, Receiver& board);

// A program run with the line as its board and watched, as virtual-board and virtual-robot run one:
// open(), fill in `how` and watch.start, launch(), watchUntilEnd().
struct WatchedProgram {
  BoardLine line;
  Launch how;
  Watch watch;
  LineSettings atStart;  // the line's settings when the program started

  WatchedProgram() = default;
  ~WatchedProgram();  // closes the line and the signals' descriptor
  WatchedProgram(const WatchedProgram&) = delete;
  WatchedProgram& operator=(const WatchedProgram&) = delete;
  // Opens the line and makes this process ready to watch it: the `ignored` signals are ignored
  // here, and the program gets the dispositions they had. False, with the reason in `why`, when no
  // line could be opened.
  bool open(std::initializer_list<int> ignored, std::string& why);
  // Starts the program; returns why it could not, in `why` too (naming it `name`).
  Launched::Failure launch(const std::string& name, std::string& why);
  // Returns the program's wait status once it has ended (watchUntilEnd above).
  int watchUntilEnd(Receiver& board) { return board::watchUntilEnd(watch, atStart, board); }
  // Gives this process back the signals' dispositions and mask it had before open().
  void restore();
};

}  // namespace board
