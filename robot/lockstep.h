// --lockstep: a scenario on the simulated clock alone, with steer's own decision code called as
// the program calls it. steer's state is program-wide, so each run goes in a forked child of its
// own, which hands its recording back to the parent.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "trace.h"

namespace robot {

struct RunPlan {
  Scenario scenario;
  std::string firmware;                   // the board's image
  std::vector<std::string> steerArgs;     // steer's options, after its name
  std::vector<std::string> steerCommand;  // real time: the program and its options
  std::string keep;                       // the working folder to keep; empty for a temporary one
};

// A lockstep run under way in a child process.
struct Started {
  pid_t pid = -1;
  std::string resultPath;  // where the child leaves its recording
};

// Starts the run; pid -1, with the reason in `why`, when it cannot.
Started startLockstep(const RunPlan& plan, std::string& why);
// Reads what the ended child left, given its wait status; false, with the reason in `why`,
// when the run failed.
bool collectLockstep(const RunPlan& plan, const Started& started, int status, Run& run,
                     std::string& why);
// Both, for one run.
bool runLockstep(const RunPlan& plan, Run& run, std::string& why);

// Whether steer's decision code takes `options`; it tells why not on standard error.
bool steerTakes(const std::vector<std::string>& options);
// The band's half-width that steer takes from `options` it takes.
int steerBand(const std::vector<std::string>& options);

// Makes the run's working folder: `keep`, created as needed, or a new temporary one.
bool makeWorkFolder(const std::string& keep, std::string& dir, std::string& why);

}  // namespace robot
