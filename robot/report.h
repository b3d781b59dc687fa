// What virtual-robot tells of a run: a summary as text and as JSON, the trace as CSV, and for a
// sweep one table of all runs as Markdown and as CSV.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "robot/trace.h"

namespace robot {

// A few lines for a person: the scenario's key settings and every measure.
std::string summaryText(const Run& run);

// The same as one JSON object: the scenario's settings, steer's options and the measures.
nlohmann::json summaryJson(const Run& run);

// One row per sample (time; robot pose and wheel speeds; ball position; u and goal column
// written; the motors' duties) with the frames and stops that reached the board in the rows of
// their millisecond. False, with the reason in `why`, when the file cannot be written.
bool writeTrace(const Run& run, const std::string& csvPath, std::string& why);

// One sweep's row: the run's label, its measures, and its picture's file name (may be empty).
struct SweepRow {
  Scenario scenario;
  int band = 10;
  Measures measures;
  std::string picture;
};

// Writes DIR/table.md and DIR/table.csv: a row per run, with what sets it apart, every measure,
// and (Markdown) a link to its picture. False, with the reason in `why`, on a write error.
bool writeSweepTables(const std::vector<SweepRow>& rows, const std::string& dir, std::string& why);

}  // namespace robot
