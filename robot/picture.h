// The picture of a run (PNG): above, the field seen from above with the goal, the robot's and
// the ball's paths; below, the ball's column u over time with steer's band and the goal column,
// and the command codes that reached the board.
#pragma once

#include <string>

#include "robot/trace.h"

namespace robot {

// False, with the reason in `why`, when the picture cannot be drawn or written.
bool drawPicture(const Run& run, const std::string& pngPath, std::string& why);

}  // namespace robot
