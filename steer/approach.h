// How steer brings the ball into the goal from wherever the camera finds it: it steers for a
// point beside the ball, on the side away from the goal, so that it comes round behind the ball
// and pushes it goalward. A pure function of its settings, the positions and a small memory.
#pragma once

#include "steer/decide.h"

namespace steer {

// What the approach keeps between passes: the goal's column, as last read, to tell a new
// sighting from an old file; and the goal's column less the ball's at that sighting. The
// offset barely changes while the robot spins, so it stands in for a goal out of view.
struct ApproachMemory {
  bool goalKnown = false;
  float goal = 0;
  float offset = 0;
};

// The command for the ball at b[0], held off centre by settings.aimGain percent of the offset
// (at most settings.aimLimit columns) on the side away from the goal: a spin toward that
// column (an arc once the ball is near: at settings.nearRow or lower), or straight ahead once the
// ball is within settings.band of it. Before any goal has
// been seen, the ball is simply centred. No command before b.txt has been read whole, or for a
// column that is not a number. Updates `memory` from a new sighting of both.
Decision approach(const Settings& settings, const Positions& positions, ApproachMemory& memory);

}  // namespace steer
