// virtual-robot's command line.
#pragma once

#include <string>
#include <vector>

namespace robot {

inline constexpr const char* usage =
    "usage: virtual-robot [--lockstep] [--firmware FILE.elf] [--keep DIR] [--trace FILE.csv]\n"
    "                     [--picture FILE.png] [--json FILE] [--out DIR] [--jobs N]\n"
    "                     SCENARIO.toml [-- [PROGRAM] [STEER-OPTION...]]\n"
    "       virtual-robot --help | --version\n";

struct Options {
  bool lockstep = false;
  std::string firmware;  // empty: the scenario's, else the build's
  std::string keep;
  std::string trace;
  std::string picture;
  std::string json;
  std::string out;  // a sweep's folder; empty: none asked for
  int jobs = 1;     // after parsing: --jobs, else defaultJobs()
  std::string scenario;
  std::string program;                 // empty: the build's steer
  std::vector<std::string> steerArgs;  // after the scenario's own
  bool help = false;
  bool version = false;
};

// The machine's cores (1 where it does not tell), at most 64: a sweep's lockstep runs at a time.
int defaultJobs();

// Reads the arguments after the program's name; false, with one line in `why`, when they must
// be refused. After "--", a first word that is no option names the program (real time only).
bool parseOptions(const std::vector<std::string>& args, Options& options, std::string& why);

// Whether every file the runs will write can be made, so that a mistake is told before the runs
// rather than after: --picture's name ends in .png, .svg or .pdf, and each file's folder (for a
// sweep, `sweepDir`, made here) is there and writable. False, with the reason in `why`.
bool outputsWritable(const Options& o, const std::string& sweepDir, std::string& why);

}  // namespace robot
