// Where virtual-robot finds the steer it runs in real time and the board's image, unless told.
#pragma once

#include <string>

namespace robot {

// The build's steer, or for the installed program the steer installed beside it.
std::string defaultSteer();

// The build's firmware image, or the installed one; empty when there is none.
std::string defaultFirmware();

}  // namespace robot
