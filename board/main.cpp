// virtual-board: runs a program with a pseudo-terminal standing in for its board and tells, on
// standard error, what the board would have been told.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>
#include <system_error>

#include "board/board_report.h"
#ifdef VIRTUAL_BOARD_FIRMWARE
#include "board/firmware_board.h"
#endif
#include "board/options.h"
#include "board/watch.h"

namespace {

constexpr int refused = 2;
constexpr int cannotRun = 127;

constexpr const char* help =
    "Runs COMMAND with a pseudo-terminal as its board and tells on standard error what reaches\n"
    "the board: the line's settings, each change of frame, stops, anomalies and a summary.\n"
    "\n"
    "  --device PATH  the board's node that COMMAND opens (default /dev/ttyUSB0)\n"
    "  --pace         carry bytes at the rate COMMAND set on the line (9600 baud while it has\n"
    "                 set none) and hold its writes while a byte waits, as a real UART does\n"
    "  --raw FILE     write every byte received to FILE\n"
    "  --json FILE    write the summary to FILE as one JSON object\n"
#ifdef VIRTUAL_BOARD_FIRMWARE
    "  --firmware FILE.elf\n"
    "                 run FILE.elf, an ATmega328P board's firmware, in a simulator paced to the\n"
    "                 wall clock, feed it the line's bytes and tell its motors as they change;\n"
    "                 implies --pace\n"
#endif
    "  --help, -h     show this help and exit\n"
    "  --version      show the version and exit\n"
    "\n"
    "FILE - is standard output; COMMAND's own standard output then goes to standard error.\n"
    "The exit status is COMMAND's, 128 + the signal that ended it, 127 when it cannot be run,\n"
    "or 2 when virtual-board refuses or cannot write --raw or --json.\n"
#ifndef VIRTUAL_BOARD_FIRMWARE
    "\n"
    "This virtual-board was built without the firmware simulator, so it has no --firmware.\n"
#endif
    ;

#ifndef VIRTUAL_BOARD_FIRMWARE
// Why this build has no --firmware and how to get one that has: the steer package's leaves the
// simulator out on purpose, and a build from source may lack its libraries.
constexpr const char* noSimulator =
    "this virtual-board was built without the firmware simulator; to use --firmware, install "
    "the steer-sim package on a PC, whose virtual-board has it, or build it from source with cmake "
    "--workflow --preset build where libsimavr-dev, libelf-dev, gcc-avr, "
    "avr-libc and arduino-core-avr are installed (firmware.md tells how; it is in "
    "/usr/share/doc/steer/docs/ and in the source's docs/)";
#endif

int refuse(const std::string& why) {
  (void)std::fprintf(stderr, "virtual-board: %s\n", why.c_str());
  return refused;
}

// Opens an output file before anything starts, so that one that can't be written is refused.
bool openOutput(const std::string& path, const char* option, int& fd, std::string& why) {
  if (path.empty()) return true;
  fd = path == board::standardOutput
           ? fcntl(1, F_DUPFD_CLOEXEC, 3)
           : open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0)
    why = std::string("cannot write ") + option + " " + path + ": " +
          std::generic_category().message(errno);
  return fd >= 0;
}

int exitStatusOf(int status) {
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : cannotRun;
}

bool writeJson(const std::string& path, int fd, const std::string& json) {
  if (fd < 0) return true;
  const bool written = write(fd, json.data(), json.size()) == static_cast<ssize_t>(json.size());
  if (close(fd) == 0 && written) return true;
  (void)std::fprintf(stderr, "virtual-board: writing --json %s failed: %s\n", path.c_str(),
                     std::generic_category().message(errno).c_str());
  return false;
}

// The summary, and what --json and --raw need to end; the exit status.
int endRun(const board::Options& options, board::Report& report, const board::Watch& watch,
           int status, int raw, int json, double lastEventAt = 0) {
  report.end(watch.endedAt, status, watch.mostWaiting, lastEventAt);
  bool written = writeJson(options.json, json, board::summaryJson(report.tally(), status));
  if (watch.rawFailed || (raw >= 0 && close(raw) != 0)) {
    (void)std::fprintf(stderr, "virtual-board: writing --raw %s failed\n", options.raw.c_str());
    written = false;
  }
  return written ? status : refused;
}

}  // namespace

int main(int argc, char** argv) {
  board::Options options;
  std::string why;
  if (!board::parseOptions({argv + 1, argv + argc}, options, why)) return refuse(why);
  if (options.help) {
    std::printf("%s\n       virtual-board --help | --version\n%s", board::usage, help);
    return 0;
  }
  if (options.version) {
    std::printf("virtual-board %s\n", VIRTUAL_BOARD_VERSION);
    return 0;
  }
#ifdef VIRTUAL_BOARD_FIRMWARE
  std::unique_ptr<board::FirmwareBoard> firmware;
  if (!options.firmware.empty()) {
    firmware = board::FirmwareBoard::load(options.firmware, stderr, why);
    if (firmware == nullptr) return refuse("cannot run --firmware: " + why);
  }
#else
  if (!options.firmware.empty()) return refuse(noSimulator);
#endif
  int raw = -1;
  int json = -1;
  if (!openOutput(options.raw, "--raw", raw, why) ||
      !openOutput(options.json, "--json", json, why)) {
    return refuse(why);
  }
  board::Watch watch;
  // As a shell does: interrupts and stops from the terminal are the program's alone, and writing
  // to the terminal from the background is fine. A reader of --raw or --json that goes away costs
  // that output, not the run.
  if (!watch.open({SIGINT, SIGQUIT, SIGTSTP, SIGTTOU, SIGPIPE}, why)) return refuse(why);
  board::Launch& how = watch.how;
  how.argv = options.command;
  how.device = options.device;
  how.in = 0;
  // Standard output that carries --raw or --json is theirs alone.
  if (options.raw == board::standardOutput || options.json == board::standardOutput) how.out = 2;
  how.foreground = isatty(0) == 1 && tcgetpgrp(0) == getpgrp();
  how.ownGroup = how.foreground;
  watch.foreground = how.foreground;
  watch.raw = raw;
  if (how.out == 2) watch.reportOut[1] = 1;
  if (options.pace || !options.firmware.empty()) watch.paceSlave = watch.terminal.slave;
  watch.start = std::chrono::steady_clock::now();
  const board::Launched::Failure failed = watch.launch(options.command[0], why);
  if (failed == board::Launched::Failure::sandbox) return refuse(why);
  if (failed == board::Launched::Failure::program) {
    (void)std::fprintf(stderr, "virtual-board: %s\n", why.c_str());
    return cannotRun;
  }
  (void)std::fprintf(
      stderr, "virtual-board: %s is a pseudo-terminal%s; what reaches it follows%s\n",
      options.device.c_str(), watch.paceSlave >= 0 ? " paced at the line's rate" : "",
      options.firmware.empty() ? "" : ", with the simulated board's motors");
  board::Report report(stderr, watch.atStart, watch.paceSlave >= 0);
#ifdef VIRTUAL_BOARD_FIRMWARE
  if (firmware != nullptr) {
    firmware->start(watch.start);
    board::BothReceivers both(report, firmware->line());
    const int status = exitStatusOf(watch.watchUntilEnd(both));
    const std::string simulation = firmware->finish();
    report.simulated(firmware->motors(), simulation);
    // The end follows what the simulated board did after the program's end, such as its time-out.
    return endRun(options, report, watch, status, raw, json, firmware->lastToldAt());
  }
#endif
  const int status = exitStatusOf(watch.watchUntilEnd(report));
  return endRun(options, report, watch, status, raw, json);
}
