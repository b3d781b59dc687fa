#include "board/line_settings.h"

#include "serial/line_speeds.h"

namespace board {
namespace {}  // namespace

LineSettings settingsOf(const termios& t) {
  LineSettings s;
  s.baud = wire::baudOf(cfgetospeed(&t));
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
