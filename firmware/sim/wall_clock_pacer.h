// Paces a simulation to the wall clock, for a board simulated beside a real program: it runs in
// slices of at most a millisecond and is never ahead of the wall clock, so that what the program
// sees of it has happened; how far it fell behind tells whether the run can be trusted.
#pragma once

#include <chrono>

#include "firmware/sim/board_sim.h"

namespace boardsim {

// How long a simulation runs on after the line's last byte: long enough for the firmware's own
// time-out to stop the motors.
inline constexpr SimTime lingerAfterEnd = std::chrono::milliseconds(500);

class WallClockPacer {
 public:
  // The simulation's time zero is the wall clock's `zero`.
  explicit WallClockPacer(std::chrono::steady_clock::time_point zero) : zero_(zero) {}

  // Returns how far a simulation at `now` is to run next: to the wall clock, at most a slice on.
  // One that is ahead first sleeps, a slice at most, and gets `now`. `counted`: whether this
  // lag goes into mostBehind().
  SimTime next(SimTime now, bool counted = true);
  // Sleeps a slice: for a simulation that has stopped and waits for the run to end.
  static void idle();
  // The most a simulation was behind the wall clock when next() was asked and counted it.
  SimTime mostBehind() const { return mostBehind_; }

 private:
  std::chrono::steady_clock::time_point zero_;
  SimTime mostBehind_{0};
};

}  // namespace boardsim
