// The command line of virtual-board.
#pragma once

#include <string>
#include <vector>

namespace board {

inline constexpr const char* usage =
    "usage: virtual-board [--device PATH] [--raw FILE] [--json FILE] [--] COMMAND [ARG...]";

struct Options {
  std::string device = "/dev/ttyUSB0";
  std::string raw;   // empty: none
  std::string json;  // empty: none
  std::vector<std::string> command;
  bool help = false;
};

// Reads the arguments after the program's name; returns false with one line in `why` when they
// must be refused.
bool parseOptions(const std::vector<std::string>& args, Options& options, std::string& why);

// Why `path` cannot be the board's node, or empty when it can: it must lie under /dev and not
// be one of the nodes the private /dev holds anyway.
std::string deviceProblem(const std::string& path);

}  // namespace board
