#!/usr/bin/env bash
# Measures the test suite: puts one plausible fault at a time into a scratch copy of the sources,
# builds, runs every test, and tells whether the suite caught (killed) the fault. Prints the kill
# rate at the end. Not run by CI: it takes a few minutes.
#
# Usage: tests/mutants.sh [NAME-PATTERN]   (only the faults whose description matches)
set -euo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)
only=${1:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One fault a line: file @@ text as it stands @@ text with the fault @@ what the fault is.
# "\n" in either text stands for a line break, "(nothing)" for no text at all. The first place
# where the text stands is changed.
faults=$(cat <<'LIST'
steer/steer.cpp @@ if (isStop || (exit == 0 && suspendPending == 0)) { @@ if (isStop || exit >= 0) { @@ a command byte still goes out after a stop was asked for
steer/steer.cpp @@ portCycle(0, true);\n  delay(byteWait); @@ portCycle(0, true); @@ no wait between the two cycles of the stop sequence
steer/steer.cpp @@ portCycle(topBit, true); @@ portCycle(topBit | 1, true); @@ the stop's second byte is a direction code
steer/steer.cpp @@ portCycle(nap | topBit, false); @@ portCycle(nap, false); @@ direction byte without its top bit
steer/steer.cpp @@ std::printf("nap = %d, pwr = %d", nap, pwr); @@ std::printf("nap = %d, pwr = %d ", nap, pwr); @@ the echo ends in a blank
steer/steer.cpp @@ if (x > static_cast<float>(hi)) @@ if (x >= static_cast<float>(hi)) @@ the object's right band edge counts as outside
steer/steer.cpp @@ if (x < static_cast<float>(lo)) @@ if (x <= static_cast<float>(lo)) @@ the object's left band edge counts as outside
steer/steer.cpp @@ if (goal > hi) @@ if (goal >= hi) @@ the goal's right band edge counts as outside
steer/steer.cpp @@ if (goal < lo) @@ if (goal <= lo) @@ the goal's left band edge counts as outside
steer/steer.cpp @@ constexpr int bandHalfWidth = 10; @@ constexpr int bandHalfWidth = 11; @@ a band one unit wider
steer/steer.cpp @@ return {5, alignedPower}; @@ return {5, pwr}; @@ the aligned command takes the usual power
steer/steer.cpp @@ goal = goalFromMean((m[2] + m[6]) / 2); @@ goal = goalFromMean((m[2] + m[4]) / 2); @@ the goal from the wrong point
steer/steer.cpp @@ if (mean != mean) return 0; @@ if (mean != mean) return -1; @@ a goal that is not a number is not 0
steer/steer.cpp @@ &m[2], &m[3], &m[4], &m[5], &m[6], &m[7]); @@ &m[2], &m[3], &m[4], &m[5], &m[7], &m[6]); @@ two goal coordinates swapped
steer/steer.cpp @@ std::fscanf(f, "(%f, %f ", &b[0], &b[1]); @@ std::fscanf(f, "%f, %f ", &b[0], &b[1]); @@ the object's opening parenthesis not expected
steer/steer.cpp @@ (void)std::fclose(f);\n  f = nullptr;\n}\n\nvoid readObjectPosition @@ f = nullptr;\n}\n\nvoid readObjectPosition @@ the goal file is never closed
steer/steer.cpp @@ (void)std::fclose(f);\n  f = nullptr;\n}\n\nint goalFromMean @@ f = nullptr;\n}\n\nint goalFromMean @@ the object file is never closed
steer/steer.cpp @@ exit = 2;\n  stopsPending @@ if (sig == SIGINT) exit = 2;\n  stopsPending @@ only SIGINT ends the loop
steer/steer.h @@ SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE @@ SIGINT, SIGTERM, SIGQUIT, SIGPIPE @@ a hang-up is not handled
steer/steer.cpp @@ stopsPending.fetch_sub(1); @@ stopsPending.store(0); @@ several pending stops send one
steer/steer.cpp @@ readGoalPoints();\n    if (sendPendingStops()) continue; @@ readGoalPoints(); @@ no safe point after the goal file's read
steer/steer.cpp @@ sendPendingStops();\n    flushOutput(); @@ flushOutput(); @@ the loop may end with a stop pending
steer/steer.cpp @@ if (sig == SIGPIPE && exit != 0 && writingOutput != 0) return; @@ (nothing) @@ its own failed farewell stops it again
steer/steer.cpp @@ sendStop();\n      // An ending @@ // An ending @@ Ctrl-Z suspends without stopping the board
steer/steer.cpp @@ if (stopsPending.load() == 0 && exit == 0) suspend(); @@ suspend(); @@ Ctrl-Z suspends even when an ending signal came
steer/steer.cpp @@ now - lastChange >= staleAfter @@ now - lastChange >= staleAfter * 1000 @@ stale after seconds, not milliseconds
steer/steer.cpp @@ if (exit == 0) sendStop(); @@ (nothing) @@ going stale stops nothing
steer/freshness.cpp @@ const bool changed = looked && @@ const bool changed = !looked && @@ a change of the files is never seen
steer/options.cpp @@ value < 1 || @@ value < 0 || @@ a stale time of 0 is taken
steer/steer.cpp @@ start + static_cast<std::clock_t>(n); @@ start + static_cast<std::clock_t>(n / 1000); @@ delay does not wait
steer/steer.cpp @@ constexpr const char* device = "/dev/ttyUSB0"; @@ constexpr const char* device = "/dev/ttyACM0"; @@ the controller opens the tester's device
steer/steer.cpp @@ constexpr int baud = 9600; @@ constexpr int baud = 115200; @@ the controller's line at the wrong rate
serial/serial_line.cpp @@ CRTSCTS | HUPCL); @@ CRTSCTS); @@ the line hangs up on close, resetting the board
serial/serial_line.cpp @@ t.c_cflag |= CS8 | CREAD | CLOCAL; @@ t.c_cflag |= CS8 | CLOCAL; @@ the receiver is not turned on
serial/serial_line.cpp @@ t.c_cflag |= CS8 | CREAD | CLOCAL; @@ t.c_cflag |= CS8 | CREAD; @@ modem lines not ignored
serial/serial_line.cpp @@ if (errno == EINTR) continue; @@ (nothing) @@ a write cut short by a signal is given up
serial/serial_line.cpp @@ {9600, B9600} @@ {9600, B19200} @@ 9600 baud set as 19200
serial/serial_line.cpp @@ fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) @@ fcntl(fd, F_SETFL, flags) @@ writes stay non-blocking
serial/serial_line.cpp @@ O_RDWR | O_NOCTTY | O_NONBLOCK @@ O_RDWR | O_NONBLOCK @@ the device may become the controlling terminal
serial/serial_line.cpp @@ writeAll(fd, small, static_cast<size_t>(n)); @@ writeAll(fd, small, __builtin_strlen(small)); @@ a formatted NUL byte is dropped
serial/serial_line.cpp @@ extern "C" void serialPrintf(int fd, const char* format, ...) {\n  if (fd < 0) return; @@ extern "C" void serialPrintf(int fd, const char* format, ...) { @@ the failure value reaches the kernel
serial/serial_line.cpp @@ if (fd < 0) return;\n  close(fd); @@ if (fd < 0) return; @@ the device is never closed
linkprobe/linkprobe.cpp @@ serialPutchar(fd, buff[1]); @@ serialPutchar(fd, buff[0]); @@ the tester sends the wrong element
linkprobe/linkprobe.cpp @@ serialOpen("/dev/ttyACM0", 9600) @@ serialOpen("/dev/ttyUSB0", 9600) @@ the tester opens the controller's device
linkprobe/linkprobe.cpp @@ serialClose(fd); @@ (nothing) @@ the tester never closes the device
board/frame_decoder.h @@ if (holding_ && power_ == 0) { @@ if (holding_) { @@ a power byte cut off by a stop is taken for the stop's NUL
board/frame_decoder.h @@ static constexpr std::uint8_t lastCode = 5; @@ static constexpr std::uint8_t lastCode = 4; @@ the aligned code is not a frame
board/frame_decoder.h @@ {power_, byte} @@ {byte, power_} @@ a frame's bytes told in the wrong order
board/frame_decoder.h @@ constexpr void finish(Sink&& sink) {\n    cutOffPower(sink); @@ constexpr void finish(Sink&& sink) {\n    (void)sink; @@ a power byte left at the end is never told
board/main.cpp @@ return 128 + WTERMSIG(status); @@ return WTERMSIG(status); @@ a signal's status not offset by 128
board/board_report.cpp @@ std::string("null") @@ std::string("0") @@ a rate never set is 0, not null
board/watch.cpp @@ while (!line.read(1 << 20)) { @@ while (false) { @@ what is still in flight when the program ends is not read
board/options.cpp @@ part.empty() || part == "." || part == ".." @@ part.empty() || part == "." @@ a device path may climb out of /dev
board/watch.cpp @@ held_ = flowOut(w_.paceSlave, TCOOFF); @@ held_ = true; @@ a paced line never holds the program's writes
board/line_pace.cpp @@ lastStart_ = std::max(at, lastEnd_); @@ lastStart_ = at; @@ paced bytes overlap on the wire
board/line_pace.cpp @@ const int bits = 1 + s.dataBits @@ const int bits = s.dataBits @@ a paced byte's start bit takes no time
board/line_pace.cpp @@ s.baud == 0 ? unsetRateBaud : s.baud @@ s.baud == 0 ? 19200 : s.baud @@ a paced line without a rate runs at 19200 baud
board/board_report.cpp @@ tellEvent(held_, heldAt_, e.kind == EventKind::stop); @@ tellEvent(held_, heldAt_, false); @@ a frame cut off by a stop is taken for an anomaly
board/main.cpp @@ how.out = 2; @@ (nothing) @@ the program's output mixes with what goes to standard output
LIST
)

cd "$src"
git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$work"
cmake -S "$work" -B "$work/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON >/dev/null
build() { cmake --build "$work/build" -j2 >/dev/null 2>&1; }
suite() { (cd "$work/build" && ctest -j2 --timeout 30 --stop-on-failure >/dev/null 2>&1); }
build && suite || { echo "the suite fails without any fault: nothing to measure" >&2; exit 1; }

killed=0
total=0
while IFS= read -r entry; do
  [ -n "$entry" ] || continue
  file=${entry%% @@ *}
  rest=${entry#* @@ }
  from=${rest%% @@ *}
  rest=${rest#* @@ }
  to=${rest%% @@ *}
  what=${rest#* @@ }
  [ "$to" = "(nothing)" ] && to=""
  [[ -z "$only" || "$what" == *$only* ]] || continue
  cp "$work/$file" "$work/$file.orig"
  if ! FROM=$from TO=$to perl -0777 -i -pe 'BEGIN { ($f, $t) = ($ENV{FROM}, $ENV{TO}); s/\\n/\n/g for $f, $t }
      s/\Q$f\E/$t/ or die "not found\n"' "$work/$file" 2>/dev/null; then
    echo "NOT FOUND  $file: $what"
    mv "$work/$file.orig" "$work/$file"
    continue
  fi
  total=$((total + 1))
  if ! build; then
    verdict="NO BUILD"
  elif suite; then
    verdict="survived"
  else
    verdict="killed"
    killed=$((killed + 1))
  fi
  printf '%-9s  %s: %s\n' "$verdict" "$file" "$what"
  mv "$work/$file.orig" "$work/$file"
  touch "$work/$file"
done <<<"$faults"

build
((total > 0)) && echo "killed $killed of $total: $((100 * killed / total))%"
