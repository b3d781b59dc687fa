// The controller's command line: `steer [--device PATH] [--stale-after MS] [--band PX] ...`,
// `steer --help`, `steer --version`. Read without printing or exiting, so that the program and
// the simulator take the same options.
#pragma once

#include "steer/decide.h"

namespace steer {

struct Options {
  enum class Asked { steer, help, version, refused } asked = Asked::steer;
  Settings settings;
  const char* reason = "";   // refused: why, ending where the refused text follows
  const char* refused = "";  // the text refused
};

// Reads the arguments after argv[0]; the device path points into argv.
Options readOptions(int argc, const char* const argv[]);

// What the program does with them: prints the help or version (standard output) or the refusal
// and usage (standard error) and returns the exit status, 0 or 2; -1 when it should steer.
int answer(const Options& options);

}  // namespace steer
