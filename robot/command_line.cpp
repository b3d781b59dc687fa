#include "robot/command_line.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <thread>

#include "cli/value_option.h"
#include "robot/picture.h"
#include "robot/scenario.h"

namespace robot {
namespace {

bool readJobs(const std::string& text, int& jobs) {
  char* end = nullptr;
  const long n = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || n < 1 || n > 64) return false;
  jobs = static_cast<int>(n);
  return true;
}

// Whether a file can be made at `path`: its folder is there and writable, and it is no folder.
bool canWrite(const std::string& option, const std::string& path, std::string& why) {
  std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (folder.empty()) folder = ".";
  std::error_code error;
  std::string fault;
  if (std::filesystem::is_directory(path, error)) {
    fault = "it is a folder";
  } else if (!std::filesystem::is_directory(folder, error)) {
    fault = "there is no folder " + folder.string();
  } else if (access(folder.c_str(), W_OK) != 0) {
    fault =
        "cannot write in " + folder.string() + " (" + std::generic_category().message(errno) + ")";
  }
  if (fault.empty()) return true;
  return failed(why, option + " " + path + ": " + fault);
}

}  // namespace

int defaultJobs() {
  return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 64);
}

bool parseOptions(const std::vector<std::string>& args, Options& o, std::string& why) {
  std::string jobs;
  const std::pair<const char*, std::string*> valued[] = {{"--firmware", &o.firmware},
                                                         {"--keep", &o.keep},
                                                         {"--trace", &o.trace},
                                                         {"--picture", &o.picture},
                                                         {"--json", &o.json},
                                                         {"--out", &o.out},
                                                         {"--jobs", &jobs}};
  o.jobs = defaultJobs();
  size_t i = 0;
  for (; i < args.size() && args[i] != "--"; ++i) {
    const std::string& arg = args[i];
    o.help = o.help || arg == "--help" || arg == "-h";
    o.version = o.version || arg == "--version";
    if (o.help || o.version) return true;
    if (arg == "--lockstep") {
      o.lockstep = true;
    } else if (cli::valueOptions(valued, args, i, why)) {
      if (!why.empty()) return false;
    } else if (arg.rfind('-', 0) == 0) {
      return failed(why, "unknown option '" + arg + "'");
    } else if (!o.scenario.empty()) {
      return failed(why, "one scenario file at a time: '" + o.scenario + "' and '" + arg +
                             "'; steer's options go after --");
    } else {
      o.scenario = arg;
    }
  }
  if (!jobs.empty() && !readJobs(jobs, o.jobs))
    return failed(why, "--jobs takes a whole number from 1 to 64, not '" + jobs + "'");
  if (o.scenario.empty()) return failed(why, "no scenario file given");
  if (i < args.size()) ++i;  // the "--"
  if (i < args.size() && args[i].rfind('-', 0) != 0) o.program = args[i++];
  o.steerArgs.assign(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
  return true;
}

bool outputsWritable(const Options& o, const std::string& sweepDir, std::string& why) {
  if (!o.picture.empty() && !isPictureName(o.picture))
    return failed(why, "--picture " + o.picture + ": the name must end in .png, .svg or .pdf");
  const std::pair<const char*, const std::string*> files[] = {
      {"--picture", &o.picture}, {"--json", &o.json}, {"--trace", &o.trace}};
  for (const auto& [option, path] : files)
    if (!path->empty() && !canWrite(option, *path, why)) return false;
  if (sweepDir.empty()) return true;
  std::error_code error;
  std::filesystem::create_directories(sweepDir, error);
  if (error)
    return failed(why, "cannot make the sweep's folder " + sweepDir + ": " + error.message());
  if (access(sweepDir.c_str(), W_OK) == 0) return true;
  return failed(why, "cannot write in the sweep's folder " + sweepDir);
}

}  // namespace robot
