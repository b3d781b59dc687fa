#include "robot/measures.h"

#include <cmath>
#include <cstdlib>

namespace robot {
namespace {

constexpr double kCentreColumn = 320;

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

}  // namespace

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

}  // namespace robot
