#include "line_bounds.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace {

long long nowMs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// Bytes still queued for sending, or 0 where the descriptor cannot tell.
int queued(int fd) {
  int n = 0;
  return ioctl(fd, TIOCOUTQ, &n) == 0 ? n : 0;
}

// Waits for room (forRoom) or for the output to drain, polling the queue every millisecond.
LineWait boundedWait(int fd, int ms, GiveUp giveUp, const sigset_t* watched, bool forRoom) {
  sigset_t during{};
  sigset_t* unblocked = nullptr;
  if (watched != nullptr) {
    pthread_sigmask(SIG_BLOCK, watched, &during);
    unblocked = &during;
  }
  const long long end = nowMs() + ms;
  LineWait result = LineWait::timedOut;
  for (;;) {
    // What has been sent has been sent, whatever came meanwhile; a byte not yet written may be
    // given up.
    if (!forRoom && queued(fd) == 0) {
      result = LineWait::ready;
      break;
    }
    if (giveUp != nullptr && giveUp()) {
      result = LineWait::cancelled;
      break;
    }
    const long long left = std::max(end - nowMs(), 0LL);
    const long long step = forRoom ? left : std::min(left, 1LL);
    const timespec wait{static_cast<time_t>(step / 1000), static_cast<long>(step % 1000) * 1000000};
    pollfd p{fd, POLLOUT, 0};
    const int n = ppoll(forRoom ? &p : nullptr, forRoom ? 1 : 0, &wait, unblocked);
    if (n < 0 && errno != EINTR) {
      result = LineWait::failed;
      break;
    }
    if (n > 0) {
      result = (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 ? LineWait::failed
                                                                 : LineWait::ready;
      break;
    }
    if (n == 0 && left == 0) break;
  }
  if (watched != nullptr) pthread_sigmask(SIG_SETMASK, &during, nullptr);
  return result;
}

}  // namespace

LineWait waitForRoom(int fd, int ms, GiveUp giveUp, const sigset_t* watched) {
  return boundedWait(fd, ms, giveUp, watched, true);
}

LineWait waitUntilSent(int fd, int ms, GiveUp giveUp, const sigset_t* watched) {
  return boundedWait(fd, ms, giveUp, watched, false);
}

void discardOutput(int fd) { (void)tcflush(fd, TCOFLUSH); }
