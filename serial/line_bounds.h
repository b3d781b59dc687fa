// Bounds on the waits of a serial line, for descriptors from serialOpen (ours or wiringPi's):
// a line that takes no bytes (an adapter that stopped reading, a board whose USB hung) must not
// hold a program up, and an ending signal must not wait behind it.
#pragma once

#include <signal.h>

#include <ctime>

// The monotonic clock's milliseconds, which the bounds and the reports of the line count in.
inline long long monotonicMs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// What a bounded wait came to.
enum class LineWait {
  ready,      // the line has room for a byte, or has sent everything
  timedOut,   // the bound passed first
  cancelled,  // the caller's giveUp() said so, after a signal or before the wait began
  failed,     // the line reports an error or a hang-up
};

// A test the caller makes whenever a watched signal has come: true gives the byte up at once.
using GiveUp = bool (*)();

// Waits up to `ms` milliseconds until a byte can be written to `fd` without blocking. The signals
// in `watched` (may be null) are blocked but for the wait itself, during which they are let
// through even if the caller had blocked them, so one that lands just before it still ends it;
// after each of them, and before waiting at all, `giveUp` (may be null) decides.
LineWait waitForRoom(int fd, int ms, GiveUp giveUp, const sigset_t* watched);

// Waits up to `ms` milliseconds, with the same signals and giveUp, until what was written to `fd`
// has left the device. A descriptor that cannot tell (not a serial device) counts as drained.
LineWait waitUntilSent(int fd, int ms, GiveUp giveUp, const sigset_t* watched);

// Makes writes on `fd` fail with EAGAIN rather than block: a line whose output is stopped between
// the wait for room and the write must not hold the writer.
void makeWritesNonBlocking(int fd);

// Throws away what waits to be sent on `fd`, so that closing it does not wait for a line that
// takes nothing, and a later byte is not queued behind it. Does nothing when nothing waits: a
// pseudo-terminal's flush would take back bytes already sent that its reader has not yet read.
void discardOutput(int fd);
