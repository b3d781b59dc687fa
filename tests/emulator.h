// How the tests start a program built for this project. A cross build hands over, as
// PROGRAM_EMULATOR, the emulator that runs the tests (a list of quoted argv entries); the
// programs under test then run through it too. A native build runs them as they are.
#pragma once

#include <string>
#include <vector>

#ifndef PROGRAM_EMULATOR
#define PROGRAM_EMULATOR
#endif

// `argv` with the emulator, if any, in front.
inline std::vector<std::string> underEmulator(const std::vector<std::string>& argv) {
  std::vector<std::string> all{PROGRAM_EMULATOR};
  all.insert(all.end(), argv.begin(), argv.end());
  return all;
}
