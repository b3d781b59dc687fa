#include "watch.h"

#include <poll.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>

namespace board {
namespace {

bool writeAll(int fd, const unsigned char* p, size_t n) {
  while (n > 0) {
    const ssize_t w = write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

class LineReader {
 public:
  LineReader(Watch& w, Report& report) : w_(w), report_(report) {}

  double now() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - w_.start).count();
  }

  void checkSettings() {
    termios t{};
    if (tcgetattr(w_.master, &t) == 0) report_.settings(settingsOf(t), now());
  }

  // Reads what the line holds, at most `reads` chunks; returns whether it is empty now.
  bool read(int reads) {
    for (int i = 0; i < reads; ++i) {
      const ssize_t n = ::read(w_.master, chunk_, sizeof chunk_);
      if (n <= 0) return true;
      // A program sets the line before it writes, so the settings are told first.
      checkSettings();
      const auto size = static_cast<size_t>(n);
      if (w_.raw >= 0 && !w_.rawFailed) w_.rawFailed = !writeAll(w_.raw, chunk_, size);
      report_.received(size);
      const double at = now();
      decoder_.feed(chunk_, static_cast<std::uint32_t>(size),
                    [&](const Event& e) { report_.event(e, at); });
    }
    return false;
  }

  void finish() {
    const double at = now();
    decoder_.finish([&](const Event& e) { report_.event(e, at); });
  }

 private:
  Watch& w_;
  Report& report_;
  FrameDecoder decoder_;
  static unsigned char chunk_[1 << 16];
};

unsigned char LineReader::chunk_[1 << 16];

// The program was stopped from the terminal: stop as its job, as the shell expects, and hand the
// terminal back to the program once the shell continues us.
void stopWith(const Watch& w) {
  tcsetpgrp(0, getpgrp());
  kill(getpid(), SIGSTOP);
  tcsetpgrp(0, w.pid);
  kill(-w.pid, SIGCONT);
}

void passOnSignals(const Watch& w) {
  signalfd_siginfo info{};
  while (::read(w.signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    const auto sig = static_cast<int>(info.ssi_signo);
    if (sig == SIGTERM || sig == SIGHUP) kill(w.foreground ? -w.pid : w.pid, sig);
  }
}

}  // namespace

int watchUntilEnd(Watch& w, Report& report) {
  LineReader line(w, report);
  int status = 0;
  for (;;) {
    pollfd fds[2] = {{w.master, POLLIN, 0}, {w.signals, POLLIN, 0}};
    poll(fds, 2, 100);
    if ((fds[0].revents & POLLIN) != 0) line.read(16);
    line.checkSettings();
    if ((fds[1].revents & POLLIN) != 0) passOnSignals(w);
    const pid_t ended = waitpid(w.pid, &status, WNOHANG | (w.foreground ? WUNTRACED : 0));
    if (ended == w.pid && WIFSTOPPED(status)) {
      stopWith(w);
    } else if (ended == w.pid || (ended < 0 && errno == ECHILD)) {
      w.endedAt = line.now();
      break;
    }
  }
  // Everything the program wrote is on its way: a read that finds the line empty first waits
  // for the kernel to hand over what is still in flight.
  while (!line.read(1 << 20)) {
  }
  line.checkSettings();
  line.finish();
  if (w.foreground) tcsetpgrp(0, getpgrp());
  return status;
}

}  // namespace board
