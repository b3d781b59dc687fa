#include "robot/measures.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "robot/trace.h"

namespace robot {
namespace {

constexpr double kCentreColumn = 320;
constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

bool inBand(const Sample& sample, int band) {
  // A NaN u (nothing written yet) compares false: out of the band.
  return std::abs(sample.u - kCentreColumn) <= band;
}

// The ball scores when its centre crosses the goal line forwards between the posts; the time is
// the first sample beyond the line.
void scoring(const Run& run, Measures& m) {
  const FieldSettings& field = run.scenario.field;
  const double line = field.goalDistanceM;
  for (size_t i = 1; i < run.samples.size(); ++i) {
    const Sample& before = run.samples[i - 1];
    const Sample& after = run.samples[i];
    if (before.ballX >= line || after.ballX < line) continue;
    const double share = (line - before.ballX) / (after.ballX - before.ballX);
    const double y = before.ballY + share * (after.ballY - before.ballY);
    if (std::abs(y - field.goalCentreM) <= field.goalWidthM / 2) {
      m.scored = true;
      m.scoredS = after.t;
      return;
    }
  }
}

double time(double seconds) { return seconds < 0 ? kNone : seconds; }

template <int Code>
double frames(const Measures& m) {
  return m.frames[Code];
}

constexpr std::array kDefinitions{
    MeasureDefinition{"scored", "scored", "goal", Reading::yesNo, +1, true,
                      [](const Measures& m) { return m.scored ? 1.0 : 0.0; }},
    MeasureDefinition{"time_to_goal_s", "time to goal", "goal", Reading::seconds, -1, true,
                      [](const Measures& m) { return time(m.scoredS); }},
    MeasureDefinition{"final_ball_distance_m", "ball at end", "goal", Reading::metres, -1, true,
                      [](const Measures& m) { return m.finalBallDistanceM; }},
    MeasureDefinition{"first_in_band_s", "first in band", "band", Reading::seconds, -1, true,
                      [](const Measures& m) { return time(m.firstInBandS); }},
    MeasureDefinition{"band_exits", "band exits", "band", Reading::count, -1, false,
                      [](const Measures& m) {
                        return m.firstInBandS < 0 ? kNone : static_cast<double>(m.bandExits);
                      }},
    MeasureDefinition{"share_in_band", "in band after", "band", Reading::share, +1, true,
                      [](const Measures& m) { return m.firstInBandS < 0 ? kNone : m.shareInBand; }},
    MeasureDefinition{"first_code_5_s", "first code 5", "frames", Reading::seconds, -1, false,
                      [](const Measures& m) { return time(m.firstAlignedS); }},
    MeasureDefinition{"frames_code_1", "code 1", "frames", Reading::count, 0, false, frames<1>},
    MeasureDefinition{"frames_code_2", "code 2", "frames", Reading::count, 0, false, frames<2>},
    MeasureDefinition{"frames_code_3", "code 3", "frames", Reading::count, 0, false, frames<3>},
    MeasureDefinition{"frames_code_4", "code 4", "frames", Reading::count, 0, false, frames<4>},
    MeasureDefinition{"frames_code_5", "code 5", "frames", Reading::count, 0, false, frames<5>},
    MeasureDefinition{"stops", "stops", "frames", Reading::count, 0, false, frames<0>},
};

}  // namespace

std::string fixed(double value, int digits, const char* none) {
  if (std::isnan(value)) return none;
  std::array<char, 48> text{};
  (void)std::snprintf(text.data(), text.size(), "%.*f", digits, value + 0.0);  // no "-0"
  return text.data();
}

Measures measure(const Run& run) {
  Measures m;
  // The band while steer steers: up to its Ctrl-C, not while the board drains the line after.
  size_t end = 0;
  while (end < run.samples.size() && run.samples[end].t <= run.scenario.run.durationS + 1e-9) ++end;
  size_t first = end;
  for (size_t i = 0; i < end && first == end; ++i)
    if (inBand(run.samples[i], run.band)) first = i;
  if (first < end) {
    m.firstInBandS = run.samples[first].t;
    size_t inside = 0;
    for (size_t i = first; i < end; ++i) {
      const bool in = inBand(run.samples[i], run.band);
      inside += in ? 1 : 0;
      if (i > first && !in && inBand(run.samples[i - 1], run.band)) ++m.bandExits;
    }
    m.shareInBand = static_cast<double>(inside) / static_cast<double>(end - first);
  }
  for (const LineEvent& event : run.events) {
    if (event.code >= 0 && event.code <= 5) ++m.frames[event.code];
    if (event.code == 5 && m.firstAlignedS < 0) m.firstAlignedS = event.t;
  }
  scoring(run, m);
  if (!run.samples.empty()) {
    const Sample& last = run.samples.back();
    m.finalBallDistanceM = std::hypot(last.ballX - last.x, last.ballY - last.y);
  }
  return m;
}

std::span<const MeasureDefinition> measureDefinitions() { return kDefinitions; }

std::string shown(const MeasureDefinition& measure, double value, bool withUnit) {
  const bool none = std::isnan(value);
  switch (measure.reading) {
    case Reading::yesNo:
      return value > 0 ? "yes" : "no";
    case Reading::seconds:
      return none ? "never" : fixed(value, 3) + (withUnit ? " s" : "");
    case Reading::metres:
      return none ? "-" : fixed(value, 3) + (withUnit ? " m" : "");
    case Reading::count:
      return none ? "-" : fixed(value, 0);
    case Reading::share:
      return none ? "-" : fixed(value * 100, 1) + "%";
  }
  return "?";
}

std::string csvCell(const MeasureDefinition& measure, double value) {
  switch (measure.reading) {
    case Reading::yesNo:
    case Reading::count:
      return fixed(value, 0);
    case Reading::seconds:
      return fixed(value, 3);
    case Reading::metres:
    case Reading::share:
      return fixed(value, 4);
  }
  return "";
}

nlohmann::json jsonValue(const MeasureDefinition& measure, double value) {
  if (std::isnan(value)) return nullptr;
  if (measure.reading == Reading::yesNo) return value > 0;
  if (measure.reading == Reading::count) return std::llround(value);
  return value;
}

std::string heading(const MeasureDefinition& measure) {
  std::string text(measure.name);
  if (measure.reading == Reading::seconds) text += " (s)";
  if (measure.reading == Reading::metres) text += " (m)";
  return text;
}

std::string headline(const Measures& m, std::string_view between) {
  std::string line;
  for (const MeasureDefinition& measure : kDefinitions) {
    if (!measure.headline) continue;
    if (!line.empty()) line += between;
    line += std::string(measure.name) + " " + shown(measure, measure.value(m));
  }
  return line;
}

}  // namespace robot
