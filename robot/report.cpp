#include "robot/report.h"

#include <cerrno>
#include <fstream>
#include <system_error>

#include "robot/scenario_keys.h"

namespace robot {

bool saved(const std::string& path, const std::string& text, std::string& why) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (out) return true;
  return failed(why, "cannot write " + path + ": " + std::generic_category().message(errno));
}

std::string summaryText(const Run& run) {
  const Scenario& s = run.scenario;
  const Measures& m = run.measures;
  const std::string steer = joined(s.steer.options);
  std::string text = s.name + (s.label.empty() ? "" : " (" + s.label + ")") + ", " +
                     fixed(s.run.durationS, 1) + " s\n";
  text += "  robot   wheel base " + fixed(s.robot.wheelBaseM, 3) + " m, top speed " +
          fixed(s.robot.topSpeedMPerS, 2) + " m/s, lag " + fixed(s.robot.lagS, 3) +
          " s, dead band duty " + std::to_string(s.robot.deadBandDuty) + "\n";
  text += "  camera  " + fixed(s.camera.frameRateHz, 1) + " frames/s, latency " +
          fixed(s.camera.latencyS * 1000, 0) + " ms, " + fixed(s.camera.fieldOfViewDeg, 1) +
          " degrees across\n";
  text += "  field   ball " + fixed(s.field.ballDistanceM, 2) + " m away, " +
          fixed(s.field.ballBearingDeg, 1) + " degrees right; goal " +
          fixed(s.field.goalWidthM, 2) + " m wide, " + fixed(s.field.goalDistanceM, 2) +
          " m ahead\n";
  text += "  steer   " + (steer.empty() ? std::string("its defaults") : steer) + "; band 320 +-" +
          std::to_string(run.band) + " columns\n";
  text += run.realTime ? "  clock   real time: the steer program, paced by the wall clock\n"
                       : "  clock   lockstep: steer's controller on the simulated clock\n";
  // The measures, a line for each group in the order they are defined.
  std::string group;
  for (const MeasureDefinition& measure : measureDefinitions()) {
    const bool first = measure.group != group;
    if (first && !group.empty()) text += "\n";
    if (first)
      text += "  " + std::string(measure.group) + std::string(8 - measure.group.size(), ' ');
    group = measure.group;
    text +=
        (first ? "" : ", ") + std::string(measure.name) + " " + shown(measure, measure.value(m));
  }
  text += "\n";
  return text;
}

nlohmann::json summaryJson(const Run& run) {
  nlohmann::json measures = nlohmann::json::object();
  for (const MeasureDefinition& measure : measureDefinitions())
    measures[std::string(measure.key)] = jsonValue(measure, measure.value(run.measures));
  return {
      {"scenario", scenarioJson(run.scenario)},
      {"steer_options", run.scenario.steer.options},
      {"band", run.band},
      {"clock", run.realTime ? "real time" : "lockstep"},
      {"measures", measures},
  };
}

bool writeTrace(const Run& run, const std::string& csvPath, std::string& why) {
  std::string text =
      "t_s,x_m,y_m,heading_rad,left_speed_m_per_s,right_speed_m_per_s,ball_x_m,ball_y_m,u,"
      "goal_column,left_duty,right_duty,code,power\n";
  size_t next = 0;  // the first event not yet in a row
  const auto field = [&text](const std::string& value) {
    text += ',';
    text += value;
  };
  for (size_t i = 0; i < run.samples.size(); ++i) {
    const Sample& s = run.samples[i];
    // An event belongs to the first sample at or after it; those after the last to the last.
    std::string codes;
    std::string powers;
    const bool last = i + 1 == run.samples.size();
    for (; next < run.events.size() && (last || run.events[next].t <= s.t + 1e-9); ++next) {
      codes += (codes.empty() ? "" : ";") + std::to_string(run.events[next].code);
      powers += (powers.empty() ? "" : ";") + std::to_string(run.events[next].power);
    }
    text += fixed(s.t, 3);
    for (const double v : {s.x, s.y, s.heading, s.leftSpeed, s.rightSpeed, s.ballX, s.ballY})
      field(fixed(v, 4));
    for (const double v : {s.u, s.goalColumn}) field(fixed(v, 2));
    field(std::to_string(s.leftDuty));
    field(std::to_string(s.rightDuty));
    field(codes);
    field(powers);
    text += '\n';
  }
  return saved(csvPath, text, why);
}

}  // namespace robot
