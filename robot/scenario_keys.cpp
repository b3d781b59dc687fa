#include "robot/scenario_keys.h"

#include <toml++/toml.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <sstream>
#include <string_view>
#include <utility>

namespace robot {
namespace {

constexpr double kNone = std::numeric_limits<double>::infinity();

// The values a number may take; `low` itself only when `lowIncluded`.
struct Limits {
  double low = -kNone;
  double high = kNone;
  bool lowIncluded = true;
};
constexpr Limits above(double low) { return {low, kNone, false}; }
constexpr Limits atLeast(double low) { return {low, kNone, true}; }
constexpr Limits within(double low, double high) { return {low, high, true}; }
constexpr Limits aboveAtMost(double low, double high) { return {low, high, false}; }
constexpr Limits noLimits{};

using TextRule = bool (*)(Scenario&, const std::string&, const std::filesystem::path& folder,
                          std::string& why);

// The values a number usually takes, in its unit: one outside them is more likely a slip of the
// unit (50 s meant as ms) than a robot's, so it is told, but runs. No unit: every value is.
struct Usual {
  double low = 0, high = 0;
  std::string_view unit;
};
constexpr Usual usually(double low, double high, std::string_view unit) {
  return {low, high, unit};
}
constexpr Usual anyValue{};

// One key of a scenario file and the field it sets: a number (real or whole) or a text.
struct Setting {
  std::string_view section, key;
  Limits limits;
  Usual usual;
  double& (*real)(Scenario&) = nullptr;
  int& (*whole)(Scenario&) = nullptr;
  TextRule text = nullptr;
  std::string (*shown)(const Scenario&) = nullptr;  // a text's value, for summaries
  bool rightwards = false;  // the file's value counts to the right, the field's y to the left
};

template <auto Section, auto Field>
auto& at(Scenario& s) {
  return s.*Section.*Field;
}

constexpr const char* outOfViewNames[] = {"keep", "remove", "search-left", "search-right"};

bool setOutOfView(Scenario& s, const std::string& value, const std::filesystem::path& /*folder*/,
                  std::string& why) {
  for (int i = 0; i < 4; ++i) {
    if (value != outOfViewNames[i]) continue;
    s.camera.outOfView = static_cast<OutOfView>(i);
    return true;
  }
  return failed(
      why,
      "camera.out_of_view must be \"keep\", \"remove\", \"search-left\" or \"search-right\", "
      "not \"" +
          value + "\"");
}

bool setFirmware(Scenario& s, const std::string& value, const std::filesystem::path& folder,
                 std::string& why) {
  const std::filesystem::path image = (folder / value).lexically_normal();
  std::error_code error;
  if (!std::filesystem::is_regular_file(image, error)) {
    why = "run.firmware: no image at " + image.string() +
          "; give a .elf file's path (relative to this file's folder), or leave firmware out "
          "for the one the build made";
    return false;
  }
  s.run.firmware = image.string();
  return true;
}

bool setOptions(Scenario& s, const std::string& value, const std::filesystem::path& /*folder*/,
                std::string& /*why*/) {
  std::istringstream words(value);
  s.steer.options.clear();
  for (std::string word; words >> word;) s.steer.options.push_back(word);
  return true;
}

// Every key a scenario file may hold, in the order of scenario.h.
constexpr std::array kSettings{
    Setting{"robot", "wheel_base_m", above(0), usually(0.03, 1, "m"),
            at<&Scenario::robot, &RobotSettings::wheelBaseM>},
    Setting{"robot", "top_speed_m_per_s", above(0), usually(0.02, 5, "m/s"),
            at<&Scenario::robot, &RobotSettings::topSpeedMPerS>},
    Setting{"robot", "lag_s", atLeast(0), usually(0, 1, "s"),
            at<&Scenario::robot, &RobotSettings::lagS>},
    Setting{"robot", "dead_band_duty", within(0, 255), anyValue, nullptr,
            at<&Scenario::robot, &RobotSettings::deadBandDuty>},
    Setting{"robot", "radius_m", above(0), usually(0.02, 1, "m"),
            at<&Scenario::robot, &RobotSettings::radiusM>},
    Setting{"camera", "field_of_view_deg", aboveAtMost(0, 180), usually(10, 170, "degrees"),
            at<&Scenario::camera, &CameraSettings::fieldOfViewDeg>},
    Setting{"camera", "frame_rate_hz", aboveAtMost(0, 1000), usually(1, 240, "frames/s"),
            at<&Scenario::camera, &CameraSettings::frameRateHz>},
    Setting{"camera", "latency_s", atLeast(0), usually(0, 1, "s"),
            at<&Scenario::camera, &CameraSettings::latencyS>},
    Setting{"camera", "height_m", atLeast(0), usually(0, 2, "m"),
            at<&Scenario::camera, &CameraSettings::heightM>},
    Setting{"camera", "out_of_view", noLimits, anyValue, nullptr, nullptr, setOutOfView,
            [](const Scenario& s) -> std::string {
              return outOfViewNames[static_cast<int>(s.camera.outOfView)];
            }},
    Setting{"camera", "noise_sd_px", atLeast(0), anyValue,
            at<&Scenario::camera, &CameraSettings::noiseSdPx>},
    Setting{"camera", "missed_share", within(0, 1), anyValue,
            at<&Scenario::camera, &CameraSettings::missedShare>},
    Setting{"camera", "false_ball_share", within(0, 1), anyValue,
            at<&Scenario::camera, &CameraSettings::falseBallShare>},
    Setting{"field", "ball_distance_m", above(0), usually(0, 20, "m"),
            at<&Scenario::field, &FieldSettings::ballDistanceM>},
    Setting{"field", "ball_bearing_deg", within(-180, 180), anyValue,
            at<&Scenario::field, &FieldSettings::ballBearingDeg>},
    Setting{"field", "ball_radius_m", above(0), usually(0.01, 0.5, "m"),
            at<&Scenario::field, &FieldSettings::ballRadiusM>},
    Setting{"field", "ball_deceleration_m_per_s2", atLeast(0), usually(0, 10, "m/s2"),
            at<&Scenario::field, &FieldSettings::ballDecelerationMPerS2>},
    Setting{"field", "goal_distance_m", above(0), usually(0, 30, "m"),
            at<&Scenario::field, &FieldSettings::goalDistanceM>},
    Setting{"field", "goal_right_m", noLimits, anyValue,
            at<&Scenario::field, &FieldSettings::goalCentreM>, nullptr, nullptr, nullptr, true},
    Setting{"field", "goal_width_m", above(0), usually(0.05, 10, "m"),
            at<&Scenario::field, &FieldSettings::goalWidthM>},
    Setting{"field", "goal_post_height_m", above(0), usually(0, 3, "m"),
            at<&Scenario::field, &FieldSettings::goalPostHeightM>},
    Setting{"run", "duration_s", above(0), usually(0, 600, "s"),
            at<&Scenario::run, &RunSettings::durationS>},
    Setting{"run", "step_s", aboveAtMost(0, 0.001), anyValue,
            at<&Scenario::run, &RunSettings::stepS>},
    Setting{"run", "seed", within(0, 999999), anyValue, nullptr,
            at<&Scenario::run, &RunSettings::seed>},
    Setting{"run", "firmware", noLimits, anyValue, nullptr, nullptr, setFirmware,
            [](const Scenario& s) { return s.run.firmware; }},
    Setting{"steer", "band", within(0, 320), anyValue, nullptr,
            at<&Scenario::steer, &SteerSettings::band>},
    Setting{"steer", "turn_power", within(0, 127), anyValue, nullptr,
            at<&Scenario::steer, &SteerSettings::turnPower>},
    Setting{"steer", "drive_power", within(0, 127), anyValue, nullptr,
            at<&Scenario::steer, &SteerSettings::drivePower>},
    Setting{"steer", "stale_after_ms", atLeast(1), usually(20, 60000, "ms"), nullptr,
            at<&Scenario::steer, &SteerSettings::staleAfterMs>},
    Setting{"steer", "options", noLimits, anyValue, nullptr, nullptr, setOptions,
            [](const Scenario& s) { return joined(s.steer.options); }},
};

std::string allowed(const Limits& limits) {
  const std::string low = number(limits.low);
  if (limits.low == -kNone) return "a finite number";
  if (limits.high == kNone) return limits.lowIncluded ? low + " or more" : "above " + low;
  const std::string high = number(limits.high);
  return limits.lowIncluded ? "from " + low + " to " + high : "above " + low + ", at most " + high;
}

bool fits(double value, const Limits& limits) {
  if (!std::isfinite(value) || value > limits.high) return false;
  return limits.lowIncluded ? value >= limits.low : value > limits.low;
}

std::string_view typeName(const toml::node& node) {
  switch (node.type()) {
    case toml::node_type::string:
      return "a string";
    case toml::node_type::integer:
      return "a whole number";
    case toml::node_type::floating_point:
      return "a number";
    case toml::node_type::boolean:
      return "true or false";
    case toml::node_type::table:
      return "a table";
    case toml::node_type::array:
      return "a list";
    default:
      return "a date or time";
  }
}

const Setting* find(std::string_view section, std::string_view key) {
  for (const Setting& setting : kSettings)
    if (setting.section == section && setting.key == key) return &setting;
  return nullptr;
}

}  // namespace

std::string joined(const std::vector<std::string>& words) {
  std::string all;
  for (const std::string& word : words) all += (all.empty() ? "" : " ") + word;
  return all;
}

std::optional<double> numberIn(const toml::node& node) {
  if (const auto* whole = node.as_integer()) return static_cast<double>(whole->get());
  if (const auto* real = node.as_floating_point()) return real->get();
  return std::nullopt;
}

std::string number(double value, const char* unit) {
  std::array<char, 40> text{};
  (void)std::snprintf(text.data(), text.size(), "%g%s", value, unit);
  return text.data();
}

std::string unlikelyValue(std::string_view section, std::string_view key, const toml::node& node) {
  const std::optional<double> given = numberIn(node);
  const Setting* setting = find(section, key);
  if (!given || setting == nullptr) return {};
  const double value = *given;
  const Usual& usual = setting->usual;
  if (usual.unit.empty() || (value >= usual.low && value <= usual.high)) return {};
  const std::string unit(usual.unit);
  return std::string(section) + "." + std::string(key) + " = " + number(value) + " " + unit +
         " is unusual (usually " + number(usual.low) + " to " + number(usual.high) + " " + unit +
         "); is it in another unit?";
}

bool isSection(std::string_view name) {
  return std::any_of(kSettings.begin(), kSettings.end(),
                     [&](const Setting& setting) { return setting.section == name; });
}

bool isKey(std::string_view section, std::string_view key) { return find(section, key) != nullptr; }

std::string keysOf(std::string_view section) {
  std::string keys;
  for (const Setting& setting : kSettings)
    if (setting.section == section) keys += (keys.empty() ? "" : ", ") + std::string(setting.key);
  return keys;
}

std::string_view sectionOf(std::string_view key) {
  for (const Setting& setting : kSettings)
    if (setting.key == key) return setting.section;
  return {};
}

bool applySetting(std::string_view section, std::string_view key, const toml::node& node,
                  const std::filesystem::path& folder, Scenario& s, std::string& why) {
  const Setting& setting = *find(section, key);
  const std::string name = std::string(section) + "." + std::string(key);
  const auto wrong = [&](std::string_view wanted) {
    return failed(
        why, name + " must be " + std::string(wanted) + ", not " + std::string(typeName(node)));
  };
  if (setting.text != nullptr) {
    const auto* text = node.as_string();
    return text == nullptr ? wrong("a string") : setting.text(s, text->get(), folder, why);
  }
  const std::optional<double> given = numberIn(node);
  if (setting.whole != nullptr && node.is_floating_point())
    return failed(why, name + " must be a whole number, not " + number(*given));
  if (setting.whole != nullptr && !node.is_integer()) return wrong("a whole number");
  if (!given) return wrong("a number");
  const double value = *given;
  if (!fits(value, setting.limits))
    return failed(why, name + " must be " + allowed(setting.limits) + ", not " + number(value));
  if (setting.whole != nullptr) setting.whole(s) = static_cast<int>(value);
  if (setting.real != nullptr) setting.real(s) = setting.rightwards ? -value : value;
  return true;
}

nlohmann::json scenarioJson(const Scenario& scenario) {
  nlohmann::json json = {{"name", scenario.name}, {"label", scenario.label}};
  Scenario copy = scenario;  // the fields are reached through setters that take a mutable one
  for (const Setting& setting : kSettings) {
    nlohmann::json& value = json[std::string(setting.section)][std::string(setting.key)];
    if (setting.real != nullptr) value = (setting.rightwards ? -1 : 1) * setting.real(copy) + 0.0;
    // A whole number outside its limits is one left unset, such as steer's -1 for its default.
    if (setting.whole != nullptr)
      value = fits(setting.whole(copy), setting.limits) ? nlohmann::json(setting.whole(copy))
                                                        : nlohmann::json(nullptr);
    if (setting.shown != nullptr) value = setting.shown(scenario);
  }
  return json;
}

}  // namespace robot
