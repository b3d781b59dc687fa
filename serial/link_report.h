// What a program tells its operator about its serial line, on standard error: one line when the
// line's state changes (no device, no permission, an open or a write that fails, a line that takes
// no bytes, and back to working), never one per byte, and at most four lines a second however
// the device flaps, the latest state told once the pause is over.
#pragma once

#include <cerrno>

#include "serial/line_bounds.h"

// The states a line can be told in.
enum class LinkState { unknown, working, missing, denied, openFailed, writeFailed, stuck };

struct LinkReport {
  const char* program;               // "steer"
  const char* device;                // "/dev/ttyUSB0"
  const char* gets;                  // what the board gets while the line works: "commands"
  const char* atStartWithoutDevice;  // added to the first line when there is no device at start
  int stuckMs;                       // the bound after which a byte is given up
  LinkState state = LinkState::unknown;
  int error = 0;
  LinkState told = LinkState::unknown;
  int toldError = 0;
  long long toldAtMs = 0;
  bool everWorked = false;   // a byte has reached the line since the start
  bool toldWorking = false;  // the operator knows the line has worked
};

// What each cycle on the line came to; each tells the change it makes, when it may.
void linkWorked(LinkReport& r);
void linkOpenFailed(LinkReport& r, int error);
void linkWriteFailed(LinkReport& r, int error);
void linkStuck(LinkReport& r);

// Tells a change that had to wait for the pause between lines; call it now and then.
void linkTell(LinkReport& r);

// Tells a change that waits, without waiting for the pause: for the program's last word.
void linkTellNow(LinkReport& r);

// What errno value `error` means, as strerror tells it but never translated; "unknown error" for
// a value it does not know. Allocates nothing.
const char* errorText(int error);

// Writes into `out` the serial devices that exist in /dev (ttyUSB*, ttyACM*), blank-separated,
// or "" when there are none; allocates nothing.
void serialDevicesHere(char* out, unsigned long size);

// Sends one byte on `fd`, open on the device `r` tells of, and tells what it came to: waits up to
// bound() milliseconds for room, and again whenever a write finds the room gone meanwhile; write()
// writes the byte, leaving errno as the write left it; wrote() follows; then it waits up to
// bound() until the byte has left. A byte that did not leave is thrown away with whatever waits
// behind it, so that closing does not wait on the line. `giveUp` and `watched` are as for
// waitForRoom. Returns whether the byte left.
template <class Bound, class Write, class Wrote>
bool sendByte(LinkReport& r, int fd, Bound bound, Write write, Wrote wrote, GiveUp giveUp,
              const sigset_t* watched) {
  makeWritesNonBlocking(fd);
  LineWait wait = LineWait::ready;
  int error = EAGAIN;
  while (error == EAGAIN && (wait = waitForRoom(fd, bound(), giveUp, watched)) == LineWait::ready) {
    errno = 0;
    write();
    error = errno;
  }
  if (wait == LineWait::ready) {
    wrote();
    if (error != 0 && error != EINTR) {
      linkWriteFailed(r, error);
      wait = LineWait::failed;
    } else {
      wait = waitUntilSent(fd, bound(), giveUp, watched);
    }
  }
  if (wait == LineWait::ready) {
    linkWorked(r);
  } else {
    if (wait == LineWait::timedOut) linkStuck(r);
    discardOutput(fd);
  }
  return wait == LineWait::ready;
}
