// The settings a program gave the board's line, as a pseudo-terminal shows them.
#pragma once

#include <termios.h>

#include <string>

namespace board {

struct LineSettings {
  unsigned baud = 0;  // 0 while no rate has been set
  int dataBits = 8;
  char parity = 'N';  // N, E or O
  int stopBits = 1;
  bool raw = true;  // false: cooked, the terminal collects lines

  bool operator==(const LineSettings&) const = default;
};

LineSettings settingsOf(const termios& t);

// "9600 baud, 8 data bits, no parity, 1 stop bit, raw"
std::string describe(const LineSettings& s);

}  // namespace board
