// What virtual-robot tells of a sweep: a line per run as it is told, a table of every run, and a
// summary per settings line over the situations it was tried in (the ball's places, chance),
// ranked by what the robot achieved.
#pragma once

#include <string>
#include <vector>

#include "robot/trace.h"

namespace robot {

// One run of a sweep: its scenario, and once it is done its measures and its picture's file name.
struct SweepRow {
  Scenario scenario;
  bool done = false;
  int band = 10;
  Measures measures;
  std::string picture;
};

// "run 3 of 20 (ball_bearing_deg=45 ...): scored no, ..." with a newline.
std::string runLine(size_t index, const std::vector<SweepRow>& rows);

// The summary as a Markdown table: a row per settings line, best first.
std::string settingsSummary(const std::vector<SweepRow>& rows);

// Writes DIR/table.md and DIR/table.csv (a row per run: a column per varied setting, every
// measure, and (Markdown) a link to its picture) and DIR/summary.md and DIR/summary.csv (the
// settings lines). False, with the reason in `why`, on a write error.
bool writeSweepTables(const std::vector<SweepRow>& rows, const std::string& dir, std::string& why);

}  // namespace robot
