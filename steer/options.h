// The controller's command line: `steer [--device PATH] [--stale-after MS] [--band PX] ...`,
// `steer --help`, `steer --version`.
#pragma once

namespace steer {

// Reads the arguments, setting device, staleAfter, band and the powers. Returns -1 when the
// controller should steer. Otherwise it has printed what was asked for (help, version: standard
// output) or why it refuses (a one-line reason and the usage: standard error), and returns the exit
// status, 0 or 2.
int readArguments(int argc, const char* const argv[]);

}  // namespace steer
