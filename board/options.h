// The command line of virtual-board.
#pragma once

#include <string>
#include <vector>

namespace board {

// A build without the firmware simulator has no --firmware to offer.
inline constexpr const char* usage =
    "usage: virtual-board [--device PATH] [--pace] [--raw FILE] [--json FILE] "
#ifdef VIRTUAL_BOARD_FIRMWARE
    "[--firmware FILE.elf] "
#endif
    "[--] COMMAND [ARG...]";

// The name that sends --raw or --json to standard output.
inline constexpr const char* standardOutput = "-";

struct Options {
  std::string device = "/dev/ttyUSB0";
  bool pace = false;
  std::string raw;       // empty: none
  std::string json;      // empty: none
  std::string firmware;  // empty: no simulated board; else its image, and the line is paced
  std::vector<std::string> command;
  bool help = false;
  bool version = false;
};

// Reads the arguments after the program's name; returns false with one line in `why` when they
// must be refused. --firmware implies --pace: a board's UART takes bytes no faster than the line
// carries them, and unpaced they would queue for seconds.
bool parseOptions(const std::vector<std::string>& args, Options& options, std::string& why);

// Why `path` cannot be the board's node, or empty when it can: it must lie under /dev and not
// be one of the nodes the private /dev holds anyway.
std::string deviceProblem(const std::string& path);

}  // namespace board
