// The measures of a run: their values, and each measure's one definition (its name, unit, how it
// reads and which way is better) that the summary, the tables, the JSON and the picture all use.
#pragma once

#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <string_view>

namespace robot {

struct Run;

// A run's measures, each defined in docs/simulation.md.
struct Measures {
  bool scored = false;
  double scoredS = -1;            // when the ball crossed the goal line; -1: never
  double finalBallDistanceM = 0;  // from the robot's centre to the ball's at the end
  double firstInBandS = -1;       // time of the first entry into the band; -1: never
  int bandExits = 0;              // exits from the band after the first entry
  double shareInBand = 0;         // share of the time after the first entry spent in the band
  double firstAlignedS = -1;      // time of the first code 5 frame; -1: never
  int frames[6] = {};             // frames of each code; [0] counts stop sequences
};

// The band is steer's: columns 320 - run.band to 320 + run.band, both ends included, of the u
// that the producer last wrote.
Measures measure(const Run& run);

// How a measure's value reads: its unit and its digits.
enum class Reading {
  yesNo,    // 1 or 0
  seconds,  // a time; none: never
  metres,
  count,
  share,  // 0 to 1, shown as a percentage
};

struct MeasureDefinition {
  std::string_view key;    // in the JSON and the CSV files
  std::string_view name;   // for a person
  std::string_view group;  // the summary's line that tells it
  Reading reading;
  int better;                        // +1: more is better, -1: less is, 0: neither
  bool headline;                     // in a run's one-line account and a sweep's summary
  double (*value)(const Measures&);  // NaN: none (never happened, or no band to leave)
};

// Every measure, what the robot achieved first.
std::span<const MeasureDefinition> measureDefinitions();

// A value for a person ("6.330 s", "never", "80.0%", "yes"), for a CSV cell ("6.3300", empty for
// none) and for JSON (null for none).
std::string shown(const MeasureDefinition& measure, double value, bool withUnit = true);
std::string csvCell(const MeasureDefinition& measure, double value);
nlohmann::json jsonValue(const MeasureDefinition& measure, double value);
// Fixed digits, so that equal runs give equal files (no "-0"); NaN (none) as `none`.
std::string fixed(double value, int digits, const char* none = "");
// A table's heading: the name with its unit, "time to goal (s)".
std::string heading(const MeasureDefinition& measure);

// The headline measures as one line: "scored no · time to goal never · ...".
std::string headline(const Measures& m, std::string_view between);

}  // namespace robot
