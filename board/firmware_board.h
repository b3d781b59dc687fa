// The board's firmware image in the simulator, run alongside the program and paced to the wall
// clock: it gets each byte at the time the line brings it, and the motors' states are told as
// they change, once they have settled (one frame passes through a few states within ~80 us).
#pragma once

#include <chrono>
#include <cstdio>
#include <memory>
#include <stop_token>
#include <string>
#include <thread>

#include "board/line_feed.h"
#include "board/receiver.h"
#include "firmware/sim/board_sim.h"

namespace board {

// "off", or each motor's direction and duty and what the two make the robot do, such as
// "left forward 50%, right backward 50% (spin right)".
std::string describeMotors(const boardsim::Motors& m);

class FirmwareBoard {
 public:
  // Null, with the reason in `why`, when the image cannot be loaded.
  static std::unique_ptr<FirmwareBoard> load(const std::string& elf, std::FILE* out,
                                             std::string& why);

  // Starts the simulation; its time zero is `zero`, the program's start.
  void start(std::chrono::steady_clock::time_point zero);

  // The line's bytes for the firmware, which sets the line's rate itself.
  Receiver& line() { return line_; }

  // Once the program has ended: simulates on until the firmware has had every byte and its
  // motors are off, or for half a second after the last byte reached it, so that its own
  // time-out shows; then stops. Returns the summary's line about it.
  std::string finish();
  const std::string& motors() const { return told_; }
  // When the last change of the motors that it told happened, seconds from the start.
  double lastToldAt() const { return toldAt_; }

 private:
  explicit FirmwareBoard(std::unique_ptr<boardsim::Board> sim, std::FILE* out);
  void run(std::chrono::steady_clock::time_point zero, const std::stop_token& ending);
  bool done() const;
  void runTo(boardsim::SimTime target);

  std::unique_ptr<boardsim::Board> sim_;
  std::FILE* out_;
  LineFeed line_;
  // The simulation's own, in its thread.
  boardsim::SimTime mostBehind_{0};  // the most the simulation fell behind the wall clock
  bool stopped_ = false;             // the processor stopped for good
  std::string told_ = "off";
  double toldAt_ = 0;
  std::jthread thread_;  // last: it ends before what it uses goes
};

}  // namespace board
