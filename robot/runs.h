// Running a scenario's runs, on either clock, and writing what each run asks for.
#pragma once

#include <string>
#include <vector>

#include "robot/command_line.h"
#include "robot/lockstep.h"

namespace robot {

inline constexpr int runsDone = 0;
inline constexpr int runFailed = 1;
inline constexpr int refusedStatus = 2;

// The files a finished run is written to; empty for none.
struct Outputs {
  std::string trace;
  std::string picture;
  std::string json;
};

// One run, with its summary on standard output and its files; the exit status.
int runOne(const Options& o, const RunPlan& plan, const Outputs& out);

// Every run of a sweep, lockstep ones `jobs` at a time, each with its files in `dir`, then the
// sweep's tables there; the exit status.
int runSweep(const Options& o, const std::vector<RunPlan>& plans, const std::string& dir);

}  // namespace robot
