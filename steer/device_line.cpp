#include "steer/device_line.h"

#include <algorithm>
#include <cerrno>
#include <ctime>

#include "serial/line_bounds.h"
#include "serial/line_speeds.h"
#include "serial/serial_line.h"
#include "steer/signals.h"

namespace steer {

namespace {

constexpr int baud = static_cast<int>(wire::boardBaud);
constexpr int byteWait = 10;

}  // namespace

DeviceLine::DeviceLine(const char* device, Clock& clock)
    : link{"steer", device, "commands", "steer decides and echoes only until it appears", 500},
      clock_(clock) {
  sigemptyset(&watched_);
  for (const int sig : endingSignals) sigaddset(&watched_, sig);
  sigaddset(&watched_, SIGTSTP);
}

// How long the next byte may wait for the line.
int DeviceLine::byteBound(std::int64_t endingByMs) {
  if (endingByMs == 0) return link.stuckMs;
  return static_cast<int>(std::clamp<std::int64_t>(endingByMs - clock_.nowMs(), 0, link.stuckMs));
}

// A command byte whose cycle finds a stop already asked for is not written: after a stop only
// stop sequences reach the board. A line that takes no byte within the bound, or an ending
// signal meanwhile, gives the byte up; what waits in the kernel is then thrown away, so that
// closing does not wait on the line.
ByteFate DeviceLine::send(int byte, bool isStop, std::int64_t endingByMs) {
  errno = 0;
  fd = serialOpen(link.device, baud);
  if (fd < 0) {
    const int error = errno;
    linkOpenFailed(link, error);
    return link.state == LinkState::missing && !link.everWorked ? ByteFate::noDevice
                                                                : ByteFate::notSent;
  }
  const GiveUp giveUp = isStop ? nullptr : commandGivenUp;
  ByteFate fate = ByteFate::notSent;
  if (isStop || (exit == 0 && suspendPending == 0)) {
    const auto bound = [&] { return byteBound(endingByMs); };
    const auto write = [this, byte] { serialPrintf(fd, "%c", byte); };
    const auto wrote = [] { delay(byteWait); };
    if (sendByte(link, fd, bound, write, wrote, giveUp, &watched_)) fate = ByteFate::sent;
  }
  serialClose(fd);
  return fate;
}

void DeviceLine::pause() { delay(byteWait); }

void DeviceLine::clearForStop() {
  if (link.state != LinkState::stuck) return;
  fd = serialOpen(link.device, baud);
  if (fd < 0) return;
  discardOutput(fd);
  serialClose(fd);
}

void DeviceLine::tell(bool now) { now ? linkTellNow(link) : linkTell(link); }

const char* DeviceLine::whyNotSent() const {
  switch (link.state) {
    case LinkState::missing:
      return "the device is gone";
    case LinkState::denied:
      return "permission denied";
    case LinkState::stuck:
      return "the line took no byte";
    case LinkState::openFailed:
      return "it could not be opened";
    case LinkState::writeFailed:
      return "writing failed";
    default:
      return "the line did not take it in time";
  }
}

void delay(int n) {
  const std::clock_t start = std::clock();
  const std::clock_t end = start + static_cast<std::clock_t>(n);
  constexpr auto noClock = static_cast<std::clock_t>(-1);
  std::clock_t now = std::clock();
  // Without a processor-time clock there is nothing to wait on, so don't spin forever.
  while (start != noClock && now != noClock && now < end) now = std::clock();
}

std::int64_t MonotonicClock::nowMs() { return monotonicMs(); }

}  // namespace steer
