#include "board/watch.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <ctime>

#include "board/line_pace.h"

namespace board {
namespace {

constexpr double idlePoll = 0.1;  // seconds between looks at the program and the settings

// tcflow(), as the one system call it is for output.
bool flowOut(int fd, int action) { return ioctl(fd, TCXONC, action) == 0; }

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
  LineReader(Watch& w, const LineSettings& before, Receiver& board)
      : w_(w), board_(board), settings_(before) {}

  double now() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - w_.start).count();
  }

  void checkSettings() {
    termios t{};
    if (tcgetattr(w_.terminal.master, &t) != 0) return;
    settings_ = settingsOf(t);
    board_.settings(settings_, now());
  }

  // Reads what the line holds, at most `reads` chunks; returns whether it is empty now.
  bool read(int reads) {
    // The program's writes wait while the bytes in hand are timed; stopped output holds a writer
    // in write(), as a full UART does, and neither its opens nor its settings restart it.
    if (w_.paceSlave >= 0 && !held_) held_ = flowOut(w_.paceSlave, TCOOFF);
    for (int i = 0; i < reads; ++i) {
      const ssize_t n = ::read(w_.terminal.master, chunk_, sizeof chunk_);
      if (n <= 0) return true;
      // A program sets the line before it writes, so the settings are told first.
      checkSettings();
      const auto size = static_cast<size_t>(n);
      if (w_.raw >= 0 && !w_.rawFailed) w_.rawFailed = !writeAll(w_.raw, chunk_, size);
      const double seen = now();
      if (w_.paceSlave < 0) {
        for (size_t b = 0; b < size; ++b) board_.arrived(chunk_[b], seen);
        continue;
      }
      const double time = byteTime(settings_);
      for (size_t b = 0; b < size; ++b) board_.arrived(chunk_[b], line_.send(seen, time));
      w_.mostWaiting = std::max(w_.mostWaiting, line_.waiting(seen, time));
    }
    return false;
  }

  // Lets the program write again once no byte waits for the wire; returns how long to wait before
  // looking again, in seconds.
  double release() {
    if (!held_) return idlePoll;
    const double left = line_.heldUntil() - now();
    if (left > 0) return std::min(left, idlePoll);
    held_ = !flowOut(w_.paceSlave, TCOON);
    return idlePoll;
  }

  void finish() {
    const double at = std::max(now(), line_.heldUntil());
    board_.quiet(at);
    if (held_) flowOut(w_.paceSlave, TCOON);  // whatever still holds the line is not stuck on it
    held_ = false;
  }

 private:
  Watch& w_;
  Receiver& board_;
  LineSettings settings_;
  Transmitter line_;
  bool held_ = false;
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

// Stops from the terminal, which stop a shell's whole job; SIGSTOP, sent to the program alone,
// leaves virtual-board and the board running, as a real board runs on.
bool jobControlStop(int sig) { return sig == SIGTSTP || sig == SIGTTIN || sig == SIGTTOU; }

void signalProgram(const Watch& w, int sig) { kill(w.foreground ? -w.pid : w.pid, sig); }

void passOnSignals(const Watch& w) {
  signalfd_siginfo info{};
  while (::read(w.signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    const auto sig = static_cast<int>(info.ssi_signo);
    if (sig == SIGTERM || sig == SIGHUP) signalProgram(w, sig);
  }
}

// Whether a reader of the report has gone (a broken pipe or socket, a hung-up terminal); what is
// gone, or was never open, is not looked at again.
bool readerGone(Watch& w, const pollfd* outs) {
  bool gone = false;
  for (int i = 0; i < 2; ++i) {
    if ((outs[i].revents & (POLLERR | POLLHUP | POLLNVAL)) == 0) continue;
    gone = gone || (outs[i].revents & POLLNVAL) == 0;
    w.reportOut[i] = -1;
  }
  return gone;
}

timespec span(double seconds) {
  const double whole = std::floor(seconds);
  return {static_cast<time_t>(whole), static_cast<long>((seconds - whole) * 1e9)};
}

}  // namespace

int Watch::watchUntilEnd(Receiver& board) {
  Watch& w = *this;
  LineReader line(w, atStart, board);
  int status = 0;
  double wait = idlePoll;
  for (;;) {
    // The report's outputs are polled for errors only: a reader that has gone shows at once,
    // even while the report has nothing to write.
    pollfd fds[4] = {{w.terminal.master, POLLIN, 0},
                     {w.signals, POLLIN, 0},
                     {w.reportOut[0], 0, 0},
                     {w.reportOut[1], 0, 0}};
    const timespec timeout = span(wait);
    ppoll(fds, 4, &timeout, nullptr);
    if ((fds[0].revents & POLLIN) != 0) line.read(16);
    wait = line.release();
    line.checkSettings();
    if ((fds[1].revents & POLLIN) != 0) passOnSignals(w);
    if (readerGone(w, &fds[2])) signalProgram(w, SIGTERM);
    const pid_t ended = waitpid(w.pid, &status, WNOHANG | (w.foreground ? WUNTRACED : 0));
    if (ended == w.pid && WIFSTOPPED(status)) {
      if (jobControlStop(WSTOPSIG(status))) stopWith(w);
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

bool Watch::open(std::initializer_list<int> ignored, std::string& why) {
  if (!openBoardLine(terminal, why)) return false;
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  for (int sig : ignored) {
    struct sigaction old {};
    sigaction(sig, &ignore, &old);
    how.signals.emplace_back(sig, old);
  }
  how.slavePath = terminal.slavePath;
  // Until the program sets the line, it shows no rate, so that any rate set is seen.
  termios t{};
  if (tcgetattr(terminal.slave, &t) == 0) {
    cfsetispeed(&t, B0);
    cfsetospeed(&t, B0);
    tcsetattr(terminal.slave, TCSANOW, &t);
  }
  sigset_t watched;
  sigemptyset(&watched);
  for (int sig : {SIGCHLD, SIGTERM, SIGHUP}) sigaddset(&watched, sig);
  pthread_sigmask(SIG_BLOCK, &watched, &how.mask);
  signals = signalfd(-1, &watched, SFD_NONBLOCK | SFD_CLOEXEC);
  return true;
}

Launched::Failure Watch::launch(const std::string& name, std::string& why) {
  termios before{};
  tcgetattr(terminal.master, &before);
  atStart = settingsOf(before);
  const Launched started = board::launch(how);
  pid = started.pid;
  if (started.failure == Launched::Failure::program) why = "cannot run " + started.why;
  if (started.failure == Launched::Failure::sandbox)
    why = "cannot give " + name + " a private /dev (" + started.why +
          "): " + sandboxAdvice(started.error);
  return started.failure;
}

void Watch::end() {
  for (int fd : {terminal.master, terminal.slave, signals}) close(fd);
  pthread_sigmask(SIG_SETMASK, &how.mask, nullptr);
  for (const auto& [sig, old] : how.signals) sigaction(sig, &old, nullptr);
}

}  // namespace board
