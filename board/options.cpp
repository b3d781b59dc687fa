#include "board/options.h"

#include <algorithm>
#include <iterator>
#include <string_view>
#include <utility>

#include "cli/value_option.h"

namespace board {

std::string deviceProblem(const std::string& path) {
  const std::string under = "/dev/";
  if (path.size() <= under.size() || path.compare(0, under.size(), under) != 0) {
    return "--device " + path + " is not under /dev";
  }
  const std::string rest = path.substr(under.size());
  for (size_t start = 0; start <= rest.size();) {
    const size_t end = rest.find('/', start);
    const std::string part = rest.substr(start, end == std::string::npos ? end : end - start);
    if (part.empty() || part == "." || part == "..") {
      return "--device " + path + " must name a node under /dev plainly, without . or .. or //";
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  const std::string ownNodes[] = {"null", "zero", "urandom", "tty",    "ptmx",
                                  "pts",  "fd",   "stdin",   "stdout", "stderr"};
  const auto* const taken = std::find_if(std::begin(ownNodes), std::end(ownNodes), [&](auto& name) {
    return rest == name || rest.rfind(name + "/", 0) == 0;
  });
  if (taken == std::end(ownNodes)) return "";
  return "--device " + path + " is taken by the private /dev's own " + under + *taken;
}

namespace {

// What option `name` turns on; nullptr for an option that takes a value or that there is not.
bool* flagOf(const std::string& name, Options& options) {
  if (name == "--pace") return &options.pace;
  if (name == "-h" || name == "--help") return &options.help;
  if (name == "--version") return &options.version;
  return nullptr;
}

// Why options read in full cannot be taken, or empty when they can.
std::string problemWith(const Options& options) {
  if (options.command.empty()) return std::string("no COMMAND given; ") + usage;
  if (options.raw == standardOutput && options.json == standardOutput) {
    return "--raw and --json cannot both go to standard output (-); give one of them a file";
  }
  return deviceProblem(options.device);
}

}  // namespace

bool parseOptions(const std::vector<std::string>& args, Options& options, std::string& why) {
  const std::pair<const char*, std::string*> valued[] = {{"--device", &options.device},
                                                         {"--raw", &options.raw},
                                                         {"--json", &options.json},
                                                         {"--firmware", &options.firmware}};
  size_t i = 0;
  for (; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") {
      ++i;
      break;
    }
    if (bool* const flag = flagOf(arg, options)) {
      *flag = true;
      if (options.help || options.version) return true;  // whatever else was given
      continue;
    }
    if (arg.empty() || arg[0] != '-') break;
    if (!cli::valueOptions(valued, args, i, why, std::string("; ") + usage)) {
      why = "unknown option " + arg + "; " + usage;
      return false;
    }
    if (!why.empty()) return false;
  }
  options.command.assign(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
  why = problemWith(options);
  return why.empty();
}

}  // namespace board
