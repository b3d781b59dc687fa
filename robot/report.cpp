#include "robot/report.h"

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "robot/scenario_json.h"

namespace robot {
namespace {

// Fixed digits, so that equal runs give equal files; NaN (nothing written) as `none`.
std::string fixed(double value, int digits, const char* none = "") {
  if (std::isnan(value)) return none;
  std::array<char, 48> text{};
  (void)std::snprintf(text.data(), text.size(), "%.*f", digits, value + 0.0);  // no "-0"
  return text.data();
}

std::string percent(double share) { return fixed(share * 100, 1) + "%"; }

// A time measure: seconds, or `never` for -1.
std::string when(double seconds, const char* never) {
  return seconds < 0 ? never : fixed(seconds, 3);
}

nlohmann::json orNull(double seconds) {
  return seconds < 0 ? nlohmann::json(nullptr) : nlohmann::json(seconds);
}

std::string options(const Scenario& s) {
  std::string all;
  for (const std::string& option : s.steer.options) all += (all.empty() ? "" : " ") + option;
  return all;
}

bool saved(const std::string& path, const std::string& text, std::string& why) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (out) return true;
  why = "cannot write " + path + ": " + std::generic_category().message(errno);
  return false;
}

std::string csvText(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

std::string frames(const Measures& m, const char* between) {
  std::string all;
  for (int code = 1; code <= 5; ++code)
    all += (code > 1 ? between : "") + std::to_string(m.frames[code]);
  return all;
}

}  // namespace

std::string summaryText(const Run& run) {
  const Scenario& s = run.scenario;
  const Measures& m = run.measures;
  const std::string steer = options(s);
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
  if (m.firstInBandS < 0) {
    text += "  band    never entered\n";
  } else {
    text += "  band    first entered at " + fixed(m.firstInBandS, 3) + " s; left " +
            std::to_string(m.bandExits) + " times after; in it " + percent(m.shareInBand) +
            " of the time after\n";
  }
  text += "  code 5  " +
          (m.firstAlignedS < 0 ? std::string("never")
                               : "first at " + when(m.firstAlignedS, "") + " s") +
          "\n";
  text += "  frames  codes 1/2/3/4/5: " + frames(m, "/") +
          "; stops: " + std::to_string(m.frames[0]) + "\n";
  text +=
      "  goal    " + (m.scored ? "scored at " + fixed(m.scoredS, 3) + " s" : "not scored") + "\n";
  text += "  end     the ball " + fixed(m.finalBallDistanceM, 3) + " m from the robot's centre\n";
  return text;
}

nlohmann::json summaryJson(const Run& run) {
  const Measures& m = run.measures;
  nlohmann::json frames = nlohmann::json::object();
  for (int code = 1; code <= 5; ++code) frames[std::to_string(code)] = m.frames[code];
  return {
      {"scenario", scenarioJson(run.scenario)},
      {"steer_options", run.scenario.steer.options},
      {"band", run.band},
      {"measures",
       {{"first_in_band_s", orNull(m.firstInBandS)},
        {"band_exits", m.bandExits},
        {"share_in_band", m.shareInBand},
        {"first_code_5_s", orNull(m.firstAlignedS)},
        {"frames", frames},
        {"stops", m.frames[0]},
        {"scored", m.scored},
        {"scored_s", orNull(m.scoredS)},
        {"final_ball_distance_m", m.finalBallDistanceM}}},
  };
}

bool writeTrace(const Run& run, const std::string& csvPath, std::string& why) {
  std::string text =
      "t_s,x_m,y_m,heading_rad,left_speed_m_per_s,right_speed_m_per_s,ball_x_m,ball_y_m,u,"
      "goal_column,left_duty,right_duty,code,power\n";
  size_t next = 0;  // the first event not yet in a row
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
    const std::array fields{fixed(s.t, 3),
                            fixed(s.x, 4),
                            fixed(s.y, 4),
                            fixed(s.heading, 4),
                            fixed(s.leftSpeed, 4),
                            fixed(s.rightSpeed, 4),
                            fixed(s.ballX, 4),
                            fixed(s.ballY, 4),
                            fixed(s.u, 2),
                            fixed(s.goalColumn, 2),
                            std::to_string(s.leftDuty),
                            std::to_string(s.rightDuty),
                            codes,
                            powers};
    for (const std::string& field : fields) {
      text += field;
      text += ',';
    }
    text.back() = '\n';
  }
  return saved(csvPath, text, why);
}

bool writeSweepTables(const std::vector<SweepRow>& rows, const std::string& dir, std::string& why) {
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  std::string md =
      "| run | first in band (s) | band exits | in band after | first code 5 (s) | "
      "frames 1/2/3/4/5 | stops | goal (s) | ball at end (m) | picture |\n"
      "|---|--:|--:|--:|--:|--:|--:|--:|--:|---|\n";
  std::string csv =
      "label,band,first_in_band_s,band_exits,share_in_band,first_code_5_s,frames_code_1,"
      "frames_code_2,frames_code_3,frames_code_4,frames_code_5,stops,scored,scored_s,"
      "final_ball_distance_m,picture\n";
  for (const SweepRow& row : rows) {
    const Measures& m = row.measures;
    const std::string& label = row.scenario.label.empty() ? row.scenario.name : row.scenario.label;
    const bool entered = m.firstInBandS >= 0;
    std::string shown;  // a | in a label would split its Markdown cell
    for (const char c : label) shown += c == '|' ? std::string("\\|") : std::string(1, c);
    md += "| " + shown + " | " + when(m.firstInBandS, "never") + " | " +
          (entered ? std::to_string(m.bandExits) : "") + " | " +
          (entered ? percent(m.shareInBand) : "") + " | " + when(m.firstAlignedS, "never") + " | " +
          frames(m, "/") + " | " + std::to_string(m.frames[0]) + " | " +
          (m.scored ? fixed(m.scoredS, 3) : "no") + " | " + fixed(m.finalBallDistanceM, 2) + " | " +
          (row.picture.empty() ? "" : "[picture](<" + row.picture + ">)") + " |\n";
    csv += csvText(label) + "," + std::to_string(row.band) + "," + when(m.firstInBandS, "") + "," +
           std::to_string(m.bandExits) + "," + fixed(m.shareInBand, 4) + "," +
           when(m.firstAlignedS, "") + "," + frames(m, ",") + "," + std::to_string(m.frames[0]) +
           "," + (m.scored ? "1" : "0") + "," + when(m.scoredS, "") + "," +
           fixed(m.finalBallDistanceM, 4) + "," + csvText(row.picture) + "\n";
  }
  return saved(dir + "/table.md", md, why) && saved(dir + "/table.csv", csv, why);
}

}  // namespace robot
