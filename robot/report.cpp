#include "report.h"

namespace robot {

std::string summaryText(const Run& run) {
  (void)run;
  return {};  // stand-in
}

nlohmann::json summaryJson(const Run& run) {
  (void)run;
  return nlohmann::json::object();  // stand-in
}

bool writeTrace(const Run& run, const std::string& csvPath, std::string& why) {
  (void)run;
  (void)csvPath;
  why.clear();
  return true;  // stand-in
}

bool writeSweepTables(const std::vector<SweepRow>& rows, const std::string& dir,
                      std::string& why) {
  (void)rows;
  (void)dir;
  why.clear();
  return true;  // stand-in
}

}  // namespace robot
