// A scenario for virtual-robot: the robot, its camera and position producer, the field and the
// run, each setting with its unit in its name and a default. Read from a TOML file; a file that
// lists several values for some settings stands for every combination of them (a sweep).
//
// The field's frame: x metres ahead of the robot's start, y metres to its left, headings in
// radians counter-clockwise from +x. Bearings in scenario files are degrees to the RIGHT of the
// robot's start heading, as a user reads a camera picture.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace robot {

// How virtual-robot's calls that can fail say so: the reason in `why`, and false.
inline bool failed(std::string& why, std::string reason) {
  why = std::move(reason);
  return false;
}

// [robot]: a differential-drive robot whose two wheels follow the firmware's motor outputs.
struct RobotSettings {
  double wheelBaseM = 0.15;    // wheel_base_m: between the two wheels' contact points
  double topSpeedMPerS = 0.3;  // top_speed_m_per_s: a wheel's ground speed at duty 255
  double lagS = 0.05;          // lag_s: time constant of a wheel's first-order lag
  int deadBandDuty = 30;       // dead_band_duty: a duty (0-255) below this turns no wheel
  double radiusM = 0.1;        // radius_m: the body, a disc round the axle's middle
};

// What the producer does while the ball is out of the camera's view.
enum class OutOfView {
  keep,         // "keep": leaves the last b.txt as it is (the default)
  remove,       // "remove": removes b.txt
  searchLeft,   // "search-left", "search-right": writes the picture's edge on the side the ball
  searchRight,  // was last seen, so that steer turns that way; before it is first seen, the side
                // named
};

// [camera]: a pinhole camera at the robot's front, level, 640 x 480, and the producer that writes
// b.txt and t.txt from its pictures.
struct CameraSettings {
  double fieldOfViewDeg = 62.2;  // field_of_view_deg: across the picture's 640 columns
  double frameRateHz = 30;       // frame_rate_hz: pictures taken per second
  double latencyS = 0.05;        // latency_s: from taking a picture to its files being written
  double heightM = 0.1;          // height_m: the lens above the floor
  OutOfView outOfView = OutOfView::keep;  // out_of_view: "keep", "remove", "search-left" or
                                          // "search-right"
  // The detections' errors (run.seed draws them); all off by default.
  double noiseSdPx = 0;       // noise_sd_px: standard deviation of each column and row written
  double missedShare = 0;     // missed_share: pictures that give no file, 0 to 1
  double falseBallShare = 0;  // false_ball_share: pictures whose ball is a false one, anywhere
};

// [field]: the ball and the goal. The robot starts at (0, 0) heading along +x.
struct FieldSettings {
  double ballDistanceM = 1.0;           // ball_distance_m: from the robot's centre at start
  double ballBearingDeg = 0;            // ball_bearing_deg: right of the start heading
  double ballRadiusM = 0.033;           // ball_radius_m
  double ballDecelerationMPerS2 = 0.5;  // ball_deceleration_m_per_s2: rolling friction
  double goalDistanceM = 2.0;           // goal_distance_m: the goal line's x
  double goalCentreM = 0;               // -goal_right_m: the goal's middle, y (left +); the
                                        // file counts it to the right, as bearings
  double goalWidthM = 0.6;              // goal_width_m: between the posts
  double goalPostHeightM = 0.3;         // goal_post_height_m
};

// [run]
struct RunSettings {
  double durationS = 12;  // duration_s: simulated time from steer's start to its Ctrl-C
  double stepS = 0.001;   // step_s: the physics' time step (at most 0.001)
  std::string firmware;   // firmware: the board's image (.elf); empty for the one the build made
  int seed = 1;           // seed: for the camera's errors; a run with the same seed repeats
};

// [steer]: steer's options, each key one option (-1: steer's default), then any others.
struct SteerSettings {
  int band = -1;                     // band: --band, the band's half-width in columns
  int turnPower = -1;                // turn_power: --turn-power
  int drivePower = -1;               // drive_power: --drive-power
  int staleAfterMs = -1;             // stale_after_ms: --stale-after
  std::vector<std::string> options;  // options: steer's command-line options, as one string
};

// steer's command-line options that `steer` stands for: its keys' options, then `options`.
std::vector<std::string> steerArguments(const SteerSettings& steer);

// In a sweep, a setting that varies and this run's value of it.
struct Varied {
  std::string setting;  // its key, or its section's name for a section listed as several tables
  std::string value;    // "45", "0.8", "30Hz+50ms"
  bool situation;       // where the ball and goal are, or chance ([field], run.seed), not a
                        // setting of the robot, its camera or steer
};

struct Scenario {
  std::string name;   // the file's name without .toml
  std::string label;  // in a sweep, what sets this run apart ("ball_bearing_deg=45 ..."), else ""
  std::vector<Varied> varied;  // in a sweep, every setting that varies, in the file's order
  RobotSettings robot;
  CameraSettings camera;
  FieldSettings field;
  RunSettings run;
  SteerSettings steer;
};

// Reads a scenario file into the runs it stands for: one, or one per combination of the values
// it lists (a key given an array of values, or a section given an array of tables, varies; the
// combinations in the file's order, the last listed varying fastest). Returns false, with
// "FILE:LINE: what is wrong" in `why`, for a file that cannot be read or parsed, an unknown
// section or key, a value of the wrong type or out of range, or a firmware image that does not
// exist. A relative firmware path is taken from the scenario file's folder.
// Values in range but unlikely for their unit (a latency of 50 s) go into `warnings`, one line
// each, "FILE:LINE: warning: ...", and do not stop the file being read.
bool loadScenarios(const std::string& path, std::vector<Scenario>& runs, std::string& why,
                   std::vector<std::string>* warnings = nullptr);

}  // namespace robot
