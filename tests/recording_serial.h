// A stand-in for the serial line that records every call instead of touching a device.
#pragma once

#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "serial/line_bounds.h"

namespace recording {

struct Call {
  enum Kind { Open, Write, Close, Discard } kind;
  int fd;
  int value;         // the byte written; unused for opens and closes
  std::string text;  // the device opened, or the format written with
  int baud;          // the rate asked for by an open
  std::clock_t at;   // processor time of the call
  int error;         // what a write failed with, 0 for one that wrote
};

// Every call made since the last reset, in order.
extern std::vector<Call> calls;

// Runs after each call has been recorded, to let a test act at that exact point.
extern std::function<void(const Call&)> after;

// What the line does with the next byte (waitForRoom) and after it (waitUntilSent); both
// ready by default. The caller's giveUp() is asked first, as on a real line, and again when the
// wait for room ends without it, as after a signal.
extern std::function<LineWait()> room;
extern std::function<LineWait()> sent;
// The bound in ms that each of those waits was given, in order.
extern std::vector<int> bounds;

// What opens and writes fail with (an errno), 0 for those that work.
extern int openError;
extern int writeError;
// How many of the writes to come find the line's room gone since the wait for it (EAGAIN).
extern int roomGoneWrites;

void reset();

// The bytes that reached the line, in order.
std::string bytes();

}  // namespace recording
