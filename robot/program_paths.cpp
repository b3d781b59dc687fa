#include "robot/program_paths.h"

#include <filesystem>

namespace robot {
namespace {

// Installed, the paths are relative to this program's folder, so that a package in /usr and an
// install in /usr/local each find their own.
std::string resolved(const std::string& path) {
#ifdef VIRTUAL_ROBOT_INSTALLED
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!path.empty() && !error) return (self.parent_path() / path).lexically_normal().string();
#endif
  return path;
}

}  // namespace

std::string defaultSteer() { return resolved(STEER_PROGRAM); }

std::string defaultFirmware() { return resolved(ROBOT_FIRMWARE); }

}  // namespace robot
