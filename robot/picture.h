// The picture of a run (PNG, SVG or PDF, as its name ends), up to its end (the goal, if the ball
// went in): above, the field seen from above with the goal, the robot's and the ball's paths with
// time marks; below, over time, the ball's column u with steer's band and the goal column, the
// distance to the ball, the robot's heading and the ball's direction, and the command codes that
// reached the board; the first code 5 and the goal marked on both.
#pragma once

#include <string>

#include "robot/trace.h"

namespace robot {

// Whether the name ends in a format the picture is written in: .png, .svg or .pdf.
bool isPictureName(const std::string& path);

// False, with the reason in `why`, when the picture cannot be drawn or written.
bool drawPicture(const Run& run, const std::string& path, std::string& why);

}  // namespace robot
