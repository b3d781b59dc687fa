// Paces a simulation beside a real program to the wall clock, in slices of at most a millisecond
// and never ahead, so that what the program sees of it has happened.
#pragma once

#include <algorithm>
#include <chrono>
#include <thread>

#include "firmware/sim/board_sim.h"

namespace board {

using boardsim::SimTime;

// How long a simulation runs on after the line's last byte, for the firmware's time-out to show.
inline constexpr SimTime lingerAfterEnd = std::chrono::milliseconds(500);

class WallClockPacer {
 public:
  explicit WallClockPacer(std::chrono::steady_clock::time_point zero) : zero_(zero) {}

  // Returns how far a simulation at `now` is to run next: to the wall clock, a slice at most. One
  // that is ahead first sleeps, a slice at most, and gets `now`. `counted`: its lag goes into
  // mostBehind().
  SimTime next(SimTime now, bool counted = true) {
    const SimTime wall = std::chrono::steady_clock::now() - zero_;
    if (wall < now) {
      std::this_thread::sleep_for(std::min(now - wall, slice));
      return now;
    }
    if (counted) mostBehind_ = std::max(mostBehind_, wall - now);
    return std::min(wall, now + slice);
  }
  // Sleeps a slice: for a simulation that has stopped and waits for the run to end.
  static void idle() { std::this_thread::sleep_for(slice); }
  // The most the simulation was behind when counted: whether the run can be trusted.
  SimTime mostBehind() const { return mostBehind_; }

 private:
  static constexpr SimTime slice = std::chrono::milliseconds(1);
  std::chrono::steady_clock::time_point zero_;  // the simulation's time zero
  SimTime mostBehind_{0};
};

}  // namespace board
