// The rates a serial line can run at, each baud with its termios speed, and the time a byte takes
// on the wire: written once for the serial layer, virtual-board and the simulators.
#pragma once

#include <termios.h>

#include <cstdint>

namespace wire {

// The rate of steer's line to the board: 9600 baud, 8 data bits, no parity, 1 stop bit.
inline constexpr unsigned boardBaud = 9600;

struct Rate {
  unsigned baud;
  speed_t speed;
};

inline constexpr Rate rates[] = {
    {0, B0},
    {50, B50},
    {75, B75},
    {110, B110},
    {134, B134},
    {150, B150},
    {200, B200},
    {300, B300},
    {600, B600},
    {1200, B1200},
    {1800, B1800},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
    {230400, B230400},
    {460800, B460800},
    {500000, B500000},
    {576000, B576000},
    {921600, B921600},
    {1000000, B1000000},
    {1152000, B1152000},
    {1500000, B1500000},
    {2000000, B2000000},
    {2500000, B2500000},
    {3000000, B3000000},
    {3500000, B3500000},
    {4000000, B4000000},
};

// The speed to set for `baud`; false for 0 (which hangs the line up) and rates not in the table.
constexpr bool speedOf(unsigned baud, speed_t& speed) {
  for (const Rate& r : rates) {
    if (r.baud == baud && baud != 0) {
      speed = r.speed;
      return true;
    }
  }
  return false;
}

// The baud of a speed a line is set to; 0 for B0 and for speeds not in the table.
constexpr unsigned baudOf(speed_t speed) {
  for (const Rate& r : rates) {
    if (r.speed == speed) return r.baud;
  }
  return 0;
}

// The bits of one byte on the wire: its start bit, data bits, parity bit and stop bits.
constexpr int bitsPerByte(int dataBits, bool parity, int stopBits) {
  return 1 + dataBits + (parity ? 1 : 0) + stopBits;
}

// Nanoseconds a byte of `bits` bits takes on the wire at `baud`, rounded down.
constexpr std::int64_t byteNanos(unsigned baud, int bits = bitsPerByte(8, false, 1)) {
  return 1'000'000'000LL * bits / baud;
}

}  // namespace wire
