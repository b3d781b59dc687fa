// A sweep's chart (PNG): a row per settings line (every setting but the ball's bearing), a column
// per bearing; each cell tells whether the robot scored and when, else how far the ball was at
// the end.
#pragma once

#include <string>
#include <vector>

#include "robot/sweep_report.h"

namespace robot {

// A sweep's runs by settings line and bearing.
struct SweepGrid {
  std::vector<double> bearings;    // ascending
  std::vector<std::string> lines;  // each settings line's label, in the sweep's order
  std::vector<std::vector<const SweepRow*>> cells;  // [line][bearing]; null: no such run
};

// A line's label is the run's without the bearing; "all settings alike" when nothing else varies.
SweepGrid sweepGrid(const std::vector<SweepRow>& rows);

// False, with the reason in `why`, when the chart cannot be drawn or written.
bool drawSweepChart(const std::vector<SweepRow>& rows, bool lockstep, const std::string& pngPath,
                    std::string& why);

}  // namespace robot
