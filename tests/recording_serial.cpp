#include "recording_serial.h"

#include <cstdarg>

#include "serial_line.h"

namespace recording {

std::vector<Call> calls;
std::function<void(const Call&)> after;

namespace {
int nextFd = 10;

void record(Call c) {
  c.at = std::clock();
  calls.push_back(c);
  if (after) after(calls.back());
}
}  // namespace

void reset() {
  calls.clear();
  after = nullptr;
  nextFd = 10;
}

std::string bytes() {
  std::string out;
  for (const Call& c : calls) {
    if (c.kind == Call::Write) out += static_cast<char>(c.value);
  }
  return out;
}

}  // namespace recording

using recording::Call;

extern "C" int serialOpen(const char* device, int baud) {
  const int fd = recording::nextFd++;
  recording::record({Call::Open, fd, 0, device, baud, 0});
  return fd;
}

extern "C" void serialPrintf(int fd, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int value = va_arg(args, int);  // every caller writes one "%c"
  va_end(args);
  recording::record({Call::Write, fd, value, format, 0, 0});
}

extern "C" void serialPutchar(int fd, unsigned char c) {
  recording::record({Call::Write, fd, c, "", 0, 0});
}

extern "C" void serialClose(int fd) { recording::record({Call::Close, fd, 0, "", 0, 0}); }
