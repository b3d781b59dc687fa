#include "steer.h"

#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

#include "file_report.h"
#include "freshness.h"
#include "line_bounds.h"
#include "link_report.h"
#include "serial_line.h"

namespace steer {

int width = 640;
int height = 480;
int pwr = 50;
int band = 10;
int drivePower = 100;
bool objectRead = false;
bool goalRead = false;
int goal = 0;
std::FILE* f = nullptr;
float m[8] = {};
float b[2] = {};
int fd = 0;
volatile std::sig_atomic_t exit = 0;
std::atomic<int> stopsPending{0};
volatile std::sig_atomic_t suspendPending = 0;
volatile std::sig_atomic_t writingOutput = 0;
int staleAfter = 0;
const char* device = "/dev/ttyUSB0";
volatile std::sig_atomic_t stopMissed = 0;
LinkReport link{"steer", device, "commands", "steer decides and echoes only until it appears", 500};
FileReport goalFile{"t.txt", "eight numbers"};
FileReport objectFile{"b.txt", "\"(x, y\""};
long long endingByMs = 0;

static_assert(std::atomic<int>::is_always_lock_free,
              "the signal handler needs a lock-free counter");

namespace {

constexpr int baud = 9600;
constexpr int byteWait = 10;
constexpr int topBit = 0x80;
constexpr const char* farewell = "\n\n\nbye bye";

// All the stop sequences of the end must be done within this time of the first, however many
// signals ask for them and whatever the line does.
constexpr int endingBoundMs = 1500;

// The ending signals and Ctrl-Z, which cut a command byte's wait on the line short.
sigset_t watched;

bool commandGivenUp() { return exit != 0 || suspendPending != 0 || stopsPending.load() > 0; }

// How long the next byte may wait for the line.
int byteBound() {
  if (endingByMs == 0) return link.stuckMs;
  return static_cast<int>(std::clamp(endingByMs - monotonicMs(), 0LL, 1LL * link.stuckMs));
}

// How one byte's cycle ended, for a stop sequence that must say whether it reached the board.
enum class ByteFate { sent, noDevice, notSent };

// One byte in its own open-write-wait-close cycle. A command byte whose cycle finds a stop
// already asked for is not written: after a stop only stop sequences reach the board. A line
// that takes no byte within the bound, or an ending signal meanwhile, gives the byte up; what
// waits in the kernel is then thrown away, so that closing does not wait on the line.
ByteFate portCycle(int v, bool isStop) {
  errno = 0;
  fd = serialOpen(device, baud);
  if (fd < 0) {
    const int error = errno;
    linkOpenFailed(link, error);
    return link.state == LinkState::missing && !link.everWorked ? ByteFate::noDevice
                                                                : ByteFate::notSent;
  }
  const GiveUp giveUp = isStop ? nullptr : commandGivenUp;
  ByteFate fate = ByteFate::notSent;
  if (isStop || (exit == 0 && suspendPending == 0)) {
    makeWritesNonBlocking(fd);
    LineWait wait = LineWait::ready;
    int error = EAGAIN;
    // A write that finds the room gone meanwhile waits for room again.
    while (error == EAGAIN &&
           (wait = waitForRoom(fd, byteBound(), giveUp, &watched)) == LineWait::ready) {
      errno = 0;
      serialPrintf(fd, "%c", v);
      error = errno;
    }
    if (wait == LineWait::ready) {
      delay(byteWait);
      if (error != 0 && error != EINTR) {
        linkWriteFailed(link, error);
        wait = LineWait::failed;
      } else {
        wait = waitUntilSent(fd, byteBound(), giveUp, &watched);
      }
    }
    if (wait == LineWait::ready) {
      linkWorked(link);
      fate = ByteFate::sent;
    } else {
      if (wait == LineWait::timedOut) linkStuck(link);
      discardOutput(fd);
    }
  }
  serialClose(fd);
  return fate;
}

// Why the last stop sequence did not reach the board, from the line's state.
const char* missedBecause() {
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

// The stop sequence: the value 0, a wait, then direction code 0 with the top bit set. A line
// known to hold bytes back is emptied first, so that the stop overtakes them. Returns whether
// both bytes reached the board, or there has never been a device to stop.
bool sendStop() {
  if (link.state == LinkState::stuck) {
    fd = serialOpen(device, baud);
    if (fd >= 0) {
      discardOutput(fd);
      serialClose(fd);
    }
  }
  const ByteFate first = portCycle(0, true);
  delay(byteWait);
  const ByteFate second = portCycle(topBit, true);
  if (first == ByteFate::noDevice && second == ByteFate::noDevice) return true;
  if (first == ByteFate::sent && second == ByteFate::sent) return true;
  linkTellNow(link);
  (void)std::fprintf(stderr,
                     "steer: the stop sequence did not reach %s: %s; the board may still be "
                     "driving\n",
                     device, missedBecause());
  return false;
}

// Our own output; a write that fails because its reader has gone is simply lost.
void say(const char* text) {
  writingOutput = 1;
  std::puts(text);
  writingOutput = 0;
}

void flushOutput() {
  writingOutput = 1;
  (void)std::fflush(stdout);
  writingOutput = 0;
}

// Stops as a job stopped from its terminal does, and comes back here when continued.
void suspend() {
  flushOutput();
  // Setting an action for these signals cannot fail, nor can raising one.
  (void)std::signal(SIGTSTP, SIG_DFL);
  (void)std::raise(SIGTSTP);
  (void)std::signal(SIGTSTP, signalHandler);
}

void installHandlers() {
  for (const int sig : endingSignals) (void)std::signal(sig, signalHandler);
  (void)std::signal(SIGTSTP, signalHandler);
}

// Whether the loop may end: an ending signal came and every stop asked for has gone out. It
// ends with the ending signals blocked, after a last look for any that came meanwhile.
bool finished() {
  if (exit == 0) return false;
  sigset_t ours;
  sigemptyset(&ours);
  for (const int sig : endingSignals) sigaddset(&ours, sig);
  sigaddset(&ours, SIGTSTP);
  for (;;) {
    sendPendingStops();
    flushOutput();
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &ours, &before);
    sigset_t waiting;
    sigpending(&waiting);
    bool more = stopsPending.load() > 0;
    for (const int sig : endingSignals) more = more || sigismember(&waiting, sig) == 1;
    if (!more) return true;
    pthread_sigmask(SIG_SETMASK, &before, nullptr);  // each one that waits runs the handler here
  }
}

}  // namespace

namespace {

// What a read came to: the file missing or unreadable, or the number of values it held.
void noteRead(FileReport& r, int values, int wanted) {
  if (f == nullptr) {
    fileRead(r, errno == ENOENT ? FileProblem::missing : FileProblem::unreadable, errno);
  } else if (std::ferror(f) != 0) {
    fileRead(r, FileProblem::unreadable, errno);
  } else {
    fileRead(r, values == wanted ? FileProblem::none : FileProblem::incomplete, 0);
  }
}

}  // namespace

void readGoalPoints() {
  f = std::fopen("t.txt", "r");
  if (f == nullptr) {
    noteRead(goalFile, 0, 8);
    return;
  }
  // The file format is what %f reads: a number beyond float's range reads as the nearest infinity,
  // which the band rules handle, so there is no conversion error to report.
  // NOLINTNEXTLINE(cert-err34-c)
  const int n = std::fscanf(f, "%f %f \n %f %f \n %f %f \n %f %f", &m[0], &m[1], &m[2], &m[3],
                            &m[4], &m[5], &m[6], &m[7]);
  noteRead(goalFile, n, 8);
  goalRead = goalRead || n == 8;
  // A file that was only read loses nothing when closing fails.
  (void)std::fclose(f);
  f = nullptr;
}

void readObjectPosition() {
  f = std::fopen("b.txt", "r");
  if (f == nullptr) {
    noteRead(objectFile, 0, 2);
    return;
  }
  // NOLINTNEXTLINE(cert-err34-c): read as in readGoalPoints
  const int n = std::fscanf(f, "(%f, %f ", &b[0], &b[1]);
  noteRead(objectFile, n, 2);
  objectRead = objectRead || n == 2;
  (void)std::fclose(f);
  f = nullptr;
}

int goalFromMean(float mean) {
  // 2^31 is exact in single precision; every float below it truncates into int's range.
  constexpr float intEnd = 2147483648.0F;
  if (mean != mean) return 0;
  if (mean >= intEnd) return 2147483647;
  if (mean < -intEnd) return -2147483647 - 1;
  return static_cast<int>(mean);
}

namespace {

// Tells once that no command goes out until `file` has been read whole.
Command waitFor(const char* file, const char* before, bool& told) {
  if (!told) (void)std::fprintf(stderr, "steer: waiting for %s before %s\n", file, before);
  told = true;
  return {0, 0};
}

}  // namespace

Command decide(int cx) {
  static bool toldObject = false;
  static bool toldGoal = false;
  if (!objectRead) return waitFor("b.txt", "steering", toldObject);
  const int hi = cx + band;
  const int lo = cx - band;
  const float x = b[0];
  if (x > static_cast<float>(hi)) return {1, pwr};
  if (x < static_cast<float>(lo)) return {2, pwr};
  if (static_cast<float>(lo) <= x && x <= static_cast<float>(hi)) {
    if (!goalRead) return waitFor("t.txt", "lining up with the goal", toldGoal);
    goal = goalFromMean((m[2] + m[6]) / 2);
    if (goal > hi) return {4, pwr};
    if (goal < lo) return {3, pwr};
    return {5, drivePower};
  }
  return {0, 0};  // x is not a number
}

void toArduino(int nap, int pwr) {
  if (exit != 0) return;
  portCycle(pwr, false);
  if (sendPendingStops() || exit != 0) return;  // the direction byte of a stopped command stays
  portCycle(nap | topBit, false);
  if (sendPendingStops() || exit != 0) return;
  writingOutput = 1;
  std::printf("nap = %d, pwr = %d", nap, pwr);
  writingOutput = 0;
}

void delay(int n) {
  const std::clock_t start = std::clock();
  const std::clock_t end = start + static_cast<std::clock_t>(n);
  constexpr auto noClock = static_cast<std::clock_t>(-1);
  std::clock_t now = std::clock();
  // Without a processor-time clock there is nothing to wait on, so don't spin forever.
  while (start != noClock && now != noClock && now < end) now = std::clock();
}

void signalHandler(int sig) {
  // Only async-signal-safe work here; the loop sends the stop at its next safe point.
  if (sig == SIGTSTP) {
    suspendPending = 1;
    return;
  }
  // Once stopping, a write of our own that finds its reader gone is no new reason to stop.
  if (sig == SIGPIPE && exit != 0 && writingOutput != 0) return;
  exit = 2;
  stopsPending.fetch_add(1);
}

bool sendPendingStops() {
  bool sent = false;
  for (;;) {
    if (stopsPending.load() > 0) {
      stopsPending.fetch_sub(1);
      if (endingByMs == 0) endingByMs = monotonicMs() + endingBoundMs;
      if (!sendStop()) stopMissed = 1;
      say(farewell);
    } else if (suspendPending != 0) {
      suspendPending = 0;
      if (exit != 0) continue;  // ending anyway: its stop has gone out
      sendStop();
      // An ending signal that came meanwhile gets its own stop, and ends rather than suspends.
      if (stopsPending.load() == 0 && exit == 0) suspend();
    } else {
      return sent;
    }
    sent = true;
  }
}

bool positionsStale() {
  static bool quiet = false;
  static std::int64_t lastChange = monotonicMs();
  if (staleAfter <= 0) return false;
  const std::int64_t now = monotonicMs();
  if (positionFilesChanged()) {
    lastChange = now;
    if (quiet) (void)std::fputs("steer: positions changed; steering again\n", stderr);
    quiet = false;
  } else if (!quiet && now - lastChange >= staleAfter) {
    quiet = true;
    const bool stopped = exit != 0 || sendStop();
    (void)std::fprintf(stderr, "steer: no new positions for %d ms; %s\n", staleAfter,
                       stopped ? "board stopped" : "steering paused");
  }
  return quiet;
}

int run() {
  const int cx = width / 2;
  link.device = device;
  sigemptyset(&watched);
  for (const int sig : endingSignals) sigaddset(&watched, sig);
  sigaddset(&watched, SIGTSTP);
  // Stops go out at the safe points between the steps of a pass and after each port cycle; a
  // pass that has sent one sends nothing more, and a pass after a Ctrl-Z starts afresh.
  while (!finished()) {
    linkTell(link);
    // Looked at before the reads, so that a change it sees is one that the reads will get.
    const bool stale = positionsStale();
    readGoalPoints();
    if (sendPendingStops()) continue;
    readObjectPosition();
    if (sendPendingStops()) continue;
    if (!stale) {
      const Command c = decide(cx);
      if (c.nap != 0) toArduino(c.nap, c.power);
    }
    if (sendPendingStops()) continue;
    installHandlers();
    sendPendingStops();
  }
  linkTellNow(link);
  return stopMissed != 0 ? 1 : 0;
}

}  // namespace steer
