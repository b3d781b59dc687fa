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

// A program run with the line as its board and watched, as virtual-board and virtual-robot run
// one: open(), fill in `how` and the settings below, launch(), watchUntilEnd(), end().
struct Watch {
  BoardLine terminal;
  Launch how;
  LineSettings atStart;     // the line's settings when the program started
  pid_t pid = -1;           // the program
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

  // Opens the line, with no rate set; blocks SIGCHLD, SIGTERM and SIGHUP, as a shell leaves a
  // job's, and ignores the `ignored` signals, which the program gets as they were. False, with the
  // reason in `why`, when no line could be opened.
  bool open(std::initializer_list<int> ignored, std::string& why);
  // Starts the program; returns why it could not, in `why` too, naming it `name`.
  Launched::Failure launch(const std::string& name, std::string& why);
  // Returns the program's wait status once it has ended and the line holds no byte more. SIGTERM
  // and SIGHUP are passed on to the program. When the program is stopped from the terminal
  // (Ctrl-Z), this process stops too and gives it the terminal back when it is continued; stopped
  // otherwise (SIGSTOP), it goes on watching the line, and the board on running.
  int watchUntilEnd(Receiver& board);
  // Closes the line; this process gets back the signals' mask and dispositions it had.
  void end();
};

}  // namespace board
