#include "serial/serial_line.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "serial/line_speeds.h"

namespace {

// Raw 8N1 at `speed`: receiver on, modem lines ignored, no flow control, no hang-up on close.
bool setLine(int fd, speed_t speed) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return false;
  cfmakeraw(&t);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
  t.c_cflag |= CS8 | CREAD | CLOCAL;
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 10;
  if (cfsetispeed(&t, speed) != 0 || cfsetospeed(&t, speed) != 0) return false;
  return tcsetattr(fd, TCSANOW, &t) == 0;
}

void writeAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    const ssize_t w = write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
}

}  // namespace

extern "C" int serialOpen(const char* device, int baud) {
  speed_t speed{};
  if (device == nullptr || !wire::speedOf(static_cast<unsigned>(baud), speed)) return -1;
  const int fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  // A terminal is set up; then the descriptor blocks again.
  if (isatty(fd) == 1 && !setLine(fd, speed)) {
    close(fd);
    return -1;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

extern "C" void serialPrintf(int fd, const char* format, ...) {
  if (fd < 0) return;
  // Short texts, such as every byte the controller sends, are formatted on the stack.
  char small[256];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (n >= 0 && static_cast<size_t>(n) < sizeof small) {
    writeAll(fd, small, static_cast<size_t>(n));
  } else if (n > 0) {
    const auto size = static_cast<size_t>(n) + 1;
    if (auto* big = static_cast<char*>(std::malloc(size))) {
      if (std::vsnprintf(big, size, format, again) == n) writeAll(fd, big, static_cast<size_t>(n));
      std::free(big);
    }
  }
  va_end(again);
}

extern "C" void serialPutchar(int fd, unsigned char c) {
  if (fd < 0) return;
  writeAll(fd, reinterpret_cast<const char*>(&c), 1);
}

extern "C" void serialClose(int fd) {
  if (fd < 0) return;
  close(fd);
}
