// The measures of a run, from its samples and line events (each defined in docs/simulation.md).
#pragma once

#include "robot/trace.h"

namespace robot {

// The band is steer's: columns 320 - run.band to 320 + run.band, both ends included, of the u
// that the producer last wrote.
Measures measure(const Run& run);

}  // namespace robot
