#include "firmware/sim/wall_clock_pacer.h"

#include <algorithm>
#include <thread>

namespace boardsim {
namespace {

constexpr SimTime slice = std::chrono::milliseconds(1);

}  // namespace

SimTime WallClockPacer::next(SimTime now, bool counted) {
  const SimTime wall = std::chrono::steady_clock::now() - zero_;
  if (wall < now) {
    std::this_thread::sleep_for(std::min(now - wall, slice));
    return now;
  }
  if (counted) mostBehind_ = std::max(mostBehind_, wall - now);
  return std::min(wall, now + slice);
}

void WallClockPacer::idle() { std::this_thread::sleep_for(slice); }

}  // namespace boardsim
