// A program run with a pseudo-terminal as its board (runner.h) and its line watched until it ends
// (watch.h): the set-up virtual-board and virtual-robot share.
#pragma once

#include <initializer_list>
#include <string>

#include "board/receiver.h"
#include "board/runner.h"
#include "board/watch.h"

namespace board {

class WatchedProgram {
 public:
  WatchedProgram() = default;
  // Closes the line and the signals' descriptor.
  ~WatchedProgram();
  WatchedProgram(const WatchedProgram&) = delete;
  WatchedProgram& operator=(const WatchedProgram&) = delete;

  // Opens the line and makes this process ready to watch it: the `ignored` signals are ignored
  // here, and the program gets the dispositions they had. Returns false, with the reason in
  // `why`, when no line could be opened.
  bool open(std::initializer_list<int> ignored, std::string& why);
  // Starts the program that `how` tells, once the caller has filled it in and set watch.start.
  // Returns the failure, with the reason in `why` (naming the program as `name`).
  Launched::Failure launch(const std::string& name, std::string& why);
  // The line's settings when the program started.
  const LineSettings& atStart() const { return atStart_; }
  // Watches the line until the program has ended; returns its wait status.
  int watchUntilEnd(Receiver& board) { return board::watchUntilEnd(watch, atStart_, board); }
  // Gives this process back the signals' dispositions and mask it had before open(), for a next
  // program.
  void restore();

  BoardLine line;
  Launch how;
  Watch watch{};

 private:
  bool opened_ = false;
  LineSettings atStart_;
};

}  // namespace board
