#include "robot/scenario.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <string_view>
#include <system_error>
#include <utility>

#include "robot/scenario_keys.h"

namespace robot {
namespace {

// More runs than this is a mistake in the file rather than a sweep anyone waits for.
constexpr size_t kMostRuns = 10000;

using Position = std::pair<toml::source_index, toml::source_index>;  // line, column

Position positionOf(const toml::source_region& region) {
  return {region.begin.line, region.begin.column};
}

// One key's value as the file gives it.
struct Value {
  std::string_view section, key;
  const toml::node* node;
};

// A setting the file holds (one choice) or varies: a key with a list of values, or a section
// given as a list of tables. Each choice sets some keys and has a short label.
struct Axis {
  Position at;
  std::string name;  // the key, or the section listed as several tables
  bool situation = false;
  std::vector<std::vector<Value>> choices;
  std::vector<std::string> values;  // each choice's, as a label shows it
};

// Where the ball and the goal are, and chance: what a settings line is tried over.
bool isSituation(std::string_view section, std::string_view key) {
  return section == "field" || (section == "run" && key == "seed");
}

struct Failure {
  toml::source_index line = 0;
  std::string what;
};

bool fail(Failure& failure, const toml::source_region& where, std::string what) {
  failure = {where.begin.line, std::move(what)};
  return false;
}

// A value as a label shows it: 45, 0.8, keep, "--band 40".
std::string shortValue(const toml::node& node) {
  if (const std::optional<double> value = numberIn(node)) return number(*value);
  if (const auto* text = node.as_string()) {
    const std::string& value = text->get();
    const bool plain = !value.empty() && value.find_first_of(" \t") == std::string::npos;
    return plain ? value : "\"" + value + "\"";
  }
  return "?";
}

// A value with the unit of its key, as a section's label shows it: 30Hz, 50ms, 0.8m/s.
std::string unitValue(std::string_view key, const toml::node& node) {
  const std::optional<double> given = numberIn(node);
  if (!given) return shortValue(node);
  const double value = *given;
  if (key.ends_with("_share"))
    return std::string(key.substr(0, key.size() - 6)) + number(value * 100, "%");
  const std::array<std::pair<std::string_view, const char*>, 8> units{{
      {"_m_per_s2", "m/s2"},
      {"_m_per_s", "m/s"},
      {"_hz", "Hz"},
      {"_deg", "deg"},
      {"_ms", "ms"},
      {"_m", "m"},
      {"_duty", " duty"},
      {"_px", "px"},
  }};
  for (const auto& [suffix, unit] : units)
    if (key.ends_with(suffix)) return number(value, unit);
  if (key.ends_with("_s")) return value < 1 ? number(value * 1000, "ms") : number(value, "s");
  return number(value);
}

// False, with the failure, for a key that `section` does not have.
bool known(std::string_view section, const toml::key& key, Failure& failure) {
  return isKey(section, key.str()) ||
         fail(failure, key.source(),
              "unknown key " + std::string(section) + "." + std::string(key.str()) + "; [" +
                  std::string(section) + "] has " + keysOf(section));
}

bool addKey(std::string_view section, const toml::key& key, const toml::node& node,
            std::vector<Axis>& axes, Failure& failure) {
  if (!known(section, key, failure)) return false;
  Axis& axis = axes.emplace_back(Axis{
      positionOf(key.source()), std::string(key.str()), isSituation(section, key.str()), {}, {}});
  const auto* list = node.as_array();
  if (list == nullptr) {
    axis.choices.push_back({{section, key.str(), &node}});
    axis.values.emplace_back();
    return true;
  }
  if (list->empty())
    return fail(failure, node.source(),
                std::string(key.str()) + " lists no value; give one, or a list of several to vary");
  for (const toml::node& value : *list) {
    axis.choices.push_back({{section, key.str(), &value}});
    axis.values.push_back(shortValue(value));
  }
  return true;
}

// [[camera]] twice, or camera = [{...}, {...}]: the runs take each table's settings together.
bool addTables(std::string_view section, const toml::key& name, const toml::array& tables,
               std::vector<Axis>& axes, Failure& failure) {
  Axis& axis = axes.emplace_back(
      Axis{positionOf(name.source()), std::string(section), isSituation(section, ""), {}, {}});
  for (const toml::node& element : tables) {
    std::vector<Value> sets;
    std::string label;
    for (auto&& [key, node] : *element.as_table()) {
      if (!known(section, key, failure)) return false;
      if (node.is_array())
        return fail(failure, node.source(),
                    std::string(key.str()) + ": a section listed as several tables takes one " +
                        "value per key; list more tables to vary it");
      sets.push_back({section, key.str(), &node});
    }
    // The label in the file's order, not the table's (by name).
    std::stable_sort(sets.begin(), sets.end(), [](const Value& x, const Value& y) {
      return positionOf(x.node->source()) < positionOf(y.node->source());
    });
    for (const Value& value : sets)
      label += (label.empty() ? "" : "+") + unitValue(value.key, *value.node);
    axis.choices.push_back(std::move(sets));
    axis.values.push_back(label.empty() ? "defaults" : label);
  }
  return true;
}

bool addSection(const toml::key& name, const toml::node& node, std::vector<Axis>& axes,
                Failure& failure) {
  const std::string_view section = name.str();
  if (!isSection(section)) {
    const std::string_view home = sectionOf(section);
    if (!home.empty())
      return fail(failure, name.source(),
                  std::string(section) + " belongs in [" + std::string(home) + "]");
    return fail(failure, name.source(),
                "unknown section [" + std::string(section) +
                    "]; the sections are [robot], [camera], [field], [run] and [steer]");
  }
  if (const auto* table = node.as_table()) {
    for (auto&& [key, value] : *table)
      if (!addKey(section, key, value, axes, failure)) return false;
    return true;
  }
  const auto* tables = node.as_array();
  if (tables == nullptr || tables->empty() || !tables->is_array_of_tables())
    return fail(failure, node.source(),
                "[" + std::string(section) + "] must be a section, or a list of sections ([[" +
                    std::string(section) + "]]) to vary them");
  return addTables(section, name, *tables, axes, failure);
}

// Every value is tried once, in the file's order, so that the first fault in the file is told;
// unlikely values are told as warnings.
bool check(const std::vector<Axis>& axes, const std::filesystem::path& folder, Failure& failure,
           std::vector<std::pair<toml::source_index, std::string>>& unlikely) {
  std::vector<Value> all;
  for (const Axis& axis : axes)
    for (const auto& choice : axis.choices) all.insert(all.end(), choice.begin(), choice.end());
  std::stable_sort(all.begin(), all.end(), [](const Value& a, const Value& b) {
    return positionOf(a.node->source()) < positionOf(b.node->source());
  });
  Scenario scratch;
  for (const Value& value : all) {
    std::string why;
    if (!applySetting(value.section, value.key, *value.node, folder, scratch, why))
      return fail(failure, value.node->source(), why);
    if (const std::string told = unlikelyValue(value.section, value.key, *value.node);
        !told.empty())
      unlikely.emplace_back(value.node->source().begin.line, told);
  }
  return true;
}

bool read(const std::string& path, toml::table& root, std::string& why) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) {
    why = path + ": is a folder; give a scenario file (.toml)";
    return false;
  }
  std::ifstream in(path);
  if (!in)
    return failed(why, path + ": cannot read it (" + std::generic_category().message(errno) + ")");
  std::ostringstream text;
  text << in.rdbuf();
  try {
    root = toml::parse(text.str(), path);
  } catch (const toml::parse_error& error) {
    return failed(why, path + ":" + std::to_string(error.source().begin.line) + ": " +
                           std::string(error.description()));
  }
  return true;
}

}  // namespace

std::vector<std::string> steerArguments(const SteerSettings& steer) {
  std::vector<std::string> args;
  const std::pair<const char*, int> keys[] = {{"--band", steer.band},
                                              {"--turn-power", steer.turnPower},
                                              {"--drive-power", steer.drivePower},
                                              {"--stale-after", steer.staleAfterMs}};
  for (const auto& [option, value] : keys)
    if (value >= 0) args.insert(args.end(), {option, std::to_string(value)});
  args.insert(args.end(), steer.options.begin(), steer.options.end());
  return args;
}

bool loadScenarios(const std::string& path, std::vector<Scenario>& runs, std::string& why,
                   std::vector<std::string>* warnings) {
  runs.clear();
  toml::table root;
  if (!read(path, root, why)) return false;
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  std::vector<Axis> axes;
  Failure failure;
  bool good = true;
  for (auto&& [name, node] : root) good = good && addSection(name, node, axes, failure);
  std::vector<std::pair<toml::source_index, std::string>> unlikely;
  good = good && check(axes, folder, failure, unlikely);
  if (!good) return failed(why, path + ":" + std::to_string(failure.line) + ": " + failure.what);
  for (const auto& [line, what] : unlikely)
    if (warnings != nullptr)
      warnings->push_back(
          std::string(path).append(":").append(std::to_string(line)).append(": warning: ") + what);
  // The file's order; the last listed varies fastest.
  std::stable_sort(axes.begin(), axes.end(),
                   [](const Axis& a, const Axis& b) { return a.at < b.at; });
  size_t count = 1;
  for (const Axis& axis : axes) count = std::min(count * axis.choices.size(), kMostRuns + 1);
  if (count > kMostRuns) {
    why = path + ": more than " + std::to_string(kMostRuns) + " runs; list fewer values";
    return false;
  }
  Scenario base;
  base.name = std::filesystem::path(path).stem().string();
  for (size_t run = 0; run < count; ++run) {
    Scenario scenario = base;
    size_t rest = run;
    std::vector<size_t> picks(axes.size());
    for (size_t a = axes.size(); a-- > 0;) {
      picks[a] = rest % axes[a].choices.size();
      rest /= axes[a].choices.size();
      for (const Value& value : axes[a].choices[picks[a]])
        (void)applySetting(value.section, value.key, *value.node, folder, scenario, why);
    }
    for (size_t a = 0; a < axes.size(); ++a) {
      if (axes[a].choices.size() < 2) continue;
      const std::string& value = axes[a].values[picks[a]];
      scenario.varied.push_back({axes[a].name, value, axes[a].situation});
      scenario.label += (scenario.label.empty() ? "" : " ") + axes[a].name + "=" + value;
    }
    runs.push_back(std::move(scenario));
  }
  why.clear();
  return true;
}

}  // namespace robot
