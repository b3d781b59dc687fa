// How steer brings the ball into the goal from wherever the camera finds it. It keeps the ball's
// bearing and the goal's bearing less the ball's, and turns them as its own commands turn the
// robot, so that it knows where both are while they are out of the picture. Far from the ball it
// steers for a point beside it, on the side away from the goal; near it, unless the goal is
// beyond the ball, it circles the ball in arcs with the ball abeam until it is; then it faces the
// ball and pushes. A pure function of its settings, the positions, the time and a small memory.
#pragma once

#include <cstdint>

#include "steer/decide.h"

namespace steer {

// What the approach keeps between passes. Bearings are degrees right of the robot's heading.
struct ApproachMemory {
  std::int64_t atMs = -1;  // the last pass, and the command it sent: what has turned the robot
  Command sent;
  bool ballKnown = false;  // the ball's bearing and row, as last seen
  float ball = 0;
  float ballRow = 0;
  bool goalKnown = false;  // the goal's bearing; its column as last read, to tell a new sighting
  float goal = 0;          // from an old t.txt
  float goalColumn = 0;
  bool apartKnown = false;  // the goal's bearing less the ball's: 0 behind the ball
  float apart = 0;
  bool circling = false;
};

// The command for `positions` read at `nowMs`; updates `memory`. No command before b.txt has
// been read whole, or for a column that is not a number.
Decision approach(const Settings& settings, const Positions& positions, std::int64_t nowMs,
                  ApproachMemory& memory);

}  // namespace steer
