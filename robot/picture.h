// The picture of a run (PNG, SVG or PDF, as its name ends): above, the field seen from above with
// the goal, the robot's and the ball's paths; below, the ball's column u over time with steer's
// band and the goal column, and the command codes that reached the board.
#pragma once

#include <string>

#include "trace.h"

namespace robot {

// Whether the name ends in a format the picture is written in: .png, .svg or .pdf.
bool isPictureName(const std::string& path);

// False, with the reason in `why`, when the picture cannot be drawn or written.
bool drawPicture(const Run& run, const std::string& path, std::string& why);

}  // namespace robot
