// What virtual-robot tells of a run: a summary as text and as JSON, and the trace as CSV (a
// sweep's tables are in sweep_report.h).
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "robot/trace.h"

namespace robot {

// A few lines for a person, each ending in a newline: the scenario's key settings and every
// measure.
std::string summaryText(const Run& run);

// The same as one JSON object: the scenario's settings, steer's options and the measures.
nlohmann::json summaryJson(const Run& run);

// One row per sample (time; robot pose and wheel speeds; ball position; u and goal column
// written; the motors' duties) with the frames and stops that reached the board in the rows of
// their millisecond. False, with the reason in `why`, when the file cannot be written.
bool writeTrace(const Run& run, const std::string& csvPath, std::string& why);

// Writes `text` to `path`; false, with the reason in `why`, when it cannot.
bool saved(const std::string& path, const std::string& text, std::string& why);

}  // namespace robot
