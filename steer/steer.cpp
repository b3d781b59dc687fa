#include "steer.h"

#include <ctime>

#include "serial_line.h"

namespace steer {

int width = 640;
int height = 480;
int pwr = 50;
int goal = 0;
std::FILE* f = nullptr;
float m[8] = {};
float b[2] = {};
int fd = 0;
volatile std::sig_atomic_t exit = 0;
std::atomic<int> stopsPending{0};

static_assert(std::atomic<int>::is_always_lock_free,
              "the signal handler needs a lock-free counter");

namespace {

constexpr const char* device = "/dev/ttyUSB0";
constexpr int baud = 9600;
constexpr int bandHalfWidth = 10;
constexpr int alignedPower = 100;
constexpr int byteWait = 10;
constexpr int topBit = 0x80;
constexpr const char* farewell = "\n\n\nbye bye";

// One byte in its own open-write-wait-close cycle. A command byte whose cycle finds a stop
// already asked for is not written: after a stop only stop sequences reach the board.
void portCycle(int v, bool isStop) {
  fd = serialOpen(device, baud);
  if (isStop || exit == 0) {
    serialPrintf(fd, "%c", v);
    delay(byteWait);
  }
  serialClose(fd);
}

// The stop sequence: the value 0, a wait, then direction code 0 with the top bit set.
void sendStop() {
  portCycle(0, true);
  delay(byteWait);
  portCycle(topBit, true);
}

}  // namespace

void readGoalPoints() {
  f = std::fopen("t.txt", "r");
  if (f == nullptr) return;
  [[maybe_unused]] const int n = std::fscanf(f, "%f %f \n %f %f \n %f %f \n %f %f", &m[0], &m[1],
                                             &m[2], &m[3], &m[4], &m[5], &m[6], &m[7]);
  std::fclose(f);
  f = nullptr;
}

void readObjectPosition() {
  f = std::fopen("b.txt", "r");
  if (f == nullptr) return;
  [[maybe_unused]] const int n = std::fscanf(f, "(%f, %f ", &b[0], &b[1]);
  std::fclose(f);
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

Command decide(int cx) {
  const int hi = cx + bandHalfWidth;
  const int lo = cx - bandHalfWidth;
  const float x = b[0];
  if (x > static_cast<float>(hi)) return {1, pwr};
  if (x < static_cast<float>(lo)) return {2, pwr};
  if (static_cast<float>(lo) <= x && x <= static_cast<float>(hi)) {
    goal = goalFromMean((m[2] + m[6]) / 2);
    if (goal > hi) return {4, pwr};
    if (goal < lo) return {3, pwr};
    return {5, alignedPower};
  }
  return {0, 0};  // x is not a number
}

void toArduino(int nap, int pwr) {
  if (exit != 0) return;
  portCycle(pwr, false);
  sendPendingStops();
  if (exit != 0) return;  // the direction byte of a stopped command never goes out
  portCycle(nap | topBit, false);
  sendPendingStops();
  if (exit != 0) return;
  std::printf("nap = %d, pwr = %d", nap, pwr);
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
  if (sig == SIGINT) exit = 2;
  stopsPending.fetch_add(1);
}

void sendPendingStops() {
  while (stopsPending.load() > 0) {
    stopsPending.fetch_sub(1);
    sendStop();
    std::puts(farewell);
  }
}

int run() {
  const int cx = width / 2;
  // A stop is sent at the safe points between the steps of a pass and after each port cycle.
  while (exit == 0) {
    readGoalPoints();
    sendPendingStops();
    readObjectPosition();
    sendPendingStops();
    const Command c = decide(cx);
    if (c.nap != 0) toArduino(c.nap, c.power);
    sendPendingStops();
    std::signal(SIGINT, signalHandler);
    sendPendingStops();
  }
  return 0;
}

}  // namespace steer
