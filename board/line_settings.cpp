#include "line_settings.h"

namespace board {
namespace {

struct Rate {
  speed_t speed;
  unsigned baud;
};

constexpr Rate rates[] = {
    {B0, 0},
    {B50, 50},
    {B75, 75},
    {B110, 110},
    {B134, 134},
    {B150, 150},
    {B200, 200},
    {B300, 300},
    {B600, 600},
    {B1200, 1200},
    {B1800, 1800},
    {B2400, 2400},
    {B4800, 4800},
    {B9600, 9600},
    {B19200, 19200},
    {B38400, 38400},
    {B57600, 57600},
    {B115200, 115200},
    {B230400, 230400},
    {B460800, 460800},
    {B500000, 500000},
    {B576000, 576000},
    {B921600, 921600},
    {B1000000, 1000000},
    {B1152000, 1152000},
    {B1500000, 1500000},
    {B2000000, 2000000},
    {B2500000, 2500000},
    {B3000000, 3000000},
    {B3500000, 3500000},
    {B4000000, 4000000},
};

unsigned baudOf(speed_t speed) {
  for (const Rate& r : rates) {
    if (r.speed == speed) return r.baud;
  }
  return 0;
}

}  // namespace

LineSettings settingsOf(const termios& t) {
  LineSettings s;
  s.baud = baudOf(cfgetospeed(&t));
  switch (t.c_cflag & CSIZE) {
    case CS5:
      s.dataBits = 5;
      break;
    case CS6:
      s.dataBits = 6;
      break;
    case CS7:
      s.dataBits = 7;
      break;
    default:
      s.dataBits = 8;
      break;
  }
  s.parity = (t.c_cflag & PARENB) == 0 ? 'N' : (t.c_cflag & PARODD) != 0 ? 'O' : 'E';
  s.stopBits = (t.c_cflag & CSTOPB) != 0 ? 2 : 1;
  s.raw = (t.c_lflag & ICANON) == 0;
  return s;
}

std::string describe(const LineSettings& s) {
  const char* parity = s.parity == 'N'   ? "no parity"
                       : s.parity == 'O' ? "odd parity"
                                         : "even parity";
  return (s.baud == 0 ? std::string("no rate set") : std::to_string(s.baud) + " baud") + ", " +
         std::to_string(s.dataBits) + " data bits, " + parity + ", " + std::to_string(s.stopBits) +
         (s.stopBits == 1 ? " stop bit, " : " stop bits, ") + (s.raw ? "raw" : "cooked");
}

}  // namespace board
