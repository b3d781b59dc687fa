// --lockstep: a scenario on the simulated clock alone, with steer's own controller making its
// passes on that clock: the clock it reads is the simulation's, its position files are the
// producer's, and each byte it sends reaches the simulated board one byte time later. Runs
// share nothing, so several go at once, each on a thread of its own.
#pragma once

#include <string>
#include <vector>

#include "robot/trace.h"
#include "steer/decide.h"

namespace robot {

struct RunPlan {
  Scenario scenario;
  std::string firmware;                   // the board's image
  std::vector<std::string> steerArgs;     // steer's options, after its name
  std::vector<std::string> steerCommand;  // real time: the program and its options
  std::string keep;                       // the working folder to keep; empty for a temporary one
};

// One run; false, with the reason in `why`, when it failed.
bool runLockstep(const RunPlan& plan, Run& run, std::string& why);

// The settings that steer takes from `options`; false when it does not take them, having told
// why not on standard error (or printed the help or version asked for) if `tell`.
bool steerSettings(const std::vector<std::string>& options, steer::Settings& settings,
                   bool tell = true);

// Makes the run's working folder: `keep`, created as needed, or a new temporary one, in memory
// (/dev/shm) if `inMemory` and TMPDIR does not say where; false, with the reason in `why`.
bool makeWorkFolder(const std::string& keep, std::string& dir, std::string& why,
                    bool inMemory = false);

}  // namespace robot
