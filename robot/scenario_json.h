// A scenario's settings as JSON, under the keys of its file ({"robot": {"wheel_base_m": ...}}).
#pragma once

#include <nlohmann/json.hpp>

#include "robot/scenario.h"

namespace robot {

nlohmann::json scenarioJson(const Scenario& scenario);

}  // namespace robot
