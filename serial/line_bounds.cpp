#include "serial/line_bounds.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <algorithm>
#include <cerrno>

namespace {

// Bytes still queued for sending, or 0 where the descriptor cannot tell.
int queued(int fd) {
  int n = 0;
  return ioctl(fd, TIOCOUTQ, &n) == 0 ? n : 0;
}

// One step of a wait: blocks until the line has room (forRoom) or for a millisecond (else), at
// most `left` ms, with `unblocked` as the signal mask meanwhile. Returns timedOut when nothing
// came of it, for the caller to look again.
LineWait waitStep(int fd, long long left, const sigset_t* unblocked, bool forRoom) {
  const long long step = forRoom ? left : std::min(left, 1LL);
  const timespec wait{static_cast<time_t>(step / 1000), static_cast<long>(step % 1000) * 1000000};
  pollfd p{fd, POLLOUT, 0};
  const int n = ppoll(forRoom ? &p : nullptr, forRoom ? 1 : 0, &wait, unblocked);
  if (n < 0) return errno == EINTR ? LineWait::timedOut : LineWait::failed;
  if (n == 0) return LineWait::timedOut;
  return (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 ? LineWait::failed : LineWait::ready;
}

// Waits for room (forRoom) or for the output to drain, looking at the queue every millisecond.
LineWait boundedWait(int fd, int ms, GiveUp giveUp, const sigset_t* watched, bool forRoom) {
  sigset_t before{};
  sigset_t during{};
  sigset_t* unblocked = nullptr;
  if (watched != nullptr) {
    pthread_sigmask(SIG_BLOCK, watched, &before);
    during = before;
    for (int sig = 1; sig < NSIG; ++sig) {
      if (sigismember(watched, sig) == 1) sigdelset(&during, sig);
    }
    unblocked = &during;
  }
  const long long end = monotonicMs() + ms;
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
    const long long left = std::max(end - monotonicMs(), 0LL);
    result = waitStep(fd, left, unblocked, forRoom);
    if (result != LineWait::timedOut || left == 0) break;
  }
  if (watched != nullptr) pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return result;
}

}  // namespace

LineWait waitForRoom(int fd, int ms, GiveUp giveUp, const sigset_t* watched) {
  return boundedWait(fd, ms, giveUp, watched, true);
}

LineWait waitUntilSent(int fd, int ms, GiveUp giveUp, const sigset_t* watched) {
  return boundedWait(fd, ms, giveUp, watched, false);
}

void makeWritesNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) (void)fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

void discardOutput(int fd) {
  if (queued(fd) > 0) (void)tcflush(fd, TCOFLUSH);
}
