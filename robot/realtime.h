// The default clock: the real steer program in real time under the board runner (a private /dev
// with a pseudo-terminal at /dev/ttyUSB0), its line paced as a UART paces it, and the simulation
// paced to the wall clock beside it.
#pragma once

#include <string>

#include "robot/lockstep.h"
#include "robot/trace.h"

namespace robot {

enum class RealTimeEnd {
  done,     // the run is recorded
  failed,   // steer could not run, or the simulation fell behind the wall clock
  refused,  // no private /dev could be made, or steer refused its options
};

// Runs plan.steerCommand for the scenario's duration, then ends it with SIGINT.
RealTimeEnd runRealTime(const RunPlan& plan, Run& run, std::string& why);

}  // namespace robot
