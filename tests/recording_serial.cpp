#include "tests/recording_serial.h"

#include <cerrno>
#include <cstdarg>

#include "serial/serial_line.h"

namespace recording {

std::vector<Call> calls;
std::function<void(const Call&)> after;
std::function<LineWait()> room;
std::function<LineWait()> sent;
std::vector<int> bounds;
int openError = 0;
int writeError = 0;
int roomGoneWrites = 0;

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
  room = nullptr;
  sent = nullptr;
  bounds.clear();
  openError = 0;
  writeError = 0;
  roomGoneWrites = 0;
  nextFd = 10;
}

std::string bytes() {
  std::string out;
  for (const Call& c : calls) {
    // A write that a signal interrupted is finished by the layer, which leaves EINTR behind.
    if (c.kind == Call::Write && (c.error == 0 || c.error == EINTR)) {
      out += static_cast<char>(c.value);
    }
  }
  return out;
}

}  // namespace recording

using recording::Call;

extern "C" int serialOpen(const char* device, int baud) {
  if (recording::openError != 0) {
    recording::record({Call::Open, -1, 0, device, baud, 0, 0});
    errno = recording::openError;
    return -1;
  }
  const int fd = recording::nextFd++;
  recording::record({Call::Open, fd, 0, device, baud, 0, 0});
  return fd;
}

extern "C" void serialPrintf(int fd, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int value = va_arg(args, int);  // every caller writes one "%c"
  va_end(args);
  int error = recording::writeError;
  if (recording::roomGoneWrites > 0) {
    --recording::roomGoneWrites;
    error = EAGAIN;
  }
  recording::record({Call::Write, fd, value, format, 0, 0, error});
  if (error != 0) errno = error;
}

extern "C" void serialPutchar(int fd, unsigned char c) {
  recording::record({Call::Write, fd, c, "", 0, 0, 0});
}

extern "C" void serialClose(int fd) { recording::record({Call::Close, fd, 0, "", 0, 0, 0}); }

namespace {
LineWait scripted(const std::function<LineWait()>& what, GiveUp giveUp) {
  if (giveUp != nullptr && giveUp()) return LineWait::cancelled;
  const LineWait wait = what ? what() : LineWait::ready;
  return wait != LineWait::ready && giveUp != nullptr && giveUp() ? LineWait::cancelled : wait;
}
}  // namespace

LineWait waitForRoom(int /*fd*/, int ms, GiveUp giveUp, const sigset_t* /*watched*/) {
  recording::bounds.push_back(ms);
  return scripted(recording::room, giveUp);
}

// What has left the line has left it, whatever is asked meanwhile.
LineWait waitUntilSent(int /*fd*/, int ms, GiveUp /*giveUp*/, const sigset_t* /*watched*/) {
  recording::bounds.push_back(ms);
  return recording::sent ? recording::sent() : LineWait::ready;
}

void makeWritesNonBlocking(int /*fd*/) {}

void discardOutput(int fd) { recording::record({Call::Discard, fd, 0, "", 0, 0, 0}); }
