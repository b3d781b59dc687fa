// The keys of a scenario file: the section each belongs to, the field of Scenario it sets, its
// type and the values it allows.
#pragma once

#include <toml++/toml.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "robot/scenario.h"

namespace robot {

// The words with a space between; a number as %g prints it, with `unit` after it; the value of a
// number node (whole or real), none for any other.
std::string joined(const std::vector<std::string>& words);
std::string number(double value, const char* unit = "");
std::optional<double> numberIn(const toml::node& node);

bool isSection(std::string_view name);
bool isKey(std::string_view section, std::string_view key);
std::string keysOf(std::string_view section);      // "a, b, c", to tell a user what is known
std::string_view sectionOf(std::string_view key);  // the section that has this key, or ""

// A warning, "section.key = VALUE UNIT is unusual (...)", for a number outside what the key
// usually takes; empty when it is usual, or the key is unknown or has no usual range.
std::string unlikelyValue(std::string_view section, std::string_view key, const toml::node& node);

// Sets a known key from its value, or returns false with "section.key must be ..." in `why`.
// A relative firmware path is taken from `folder`.
bool applySetting(std::string_view section, std::string_view key, const toml::node& node,
                  const std::filesystem::path& folder, Scenario& scenario, std::string& why);

// A scenario's settings as JSON, under the keys of its file ({"robot": {"wheel_base_m": ...}}).
nlohmann::json scenarioJson(const Scenario& scenario);

}  // namespace robot
