#include "options.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "steer.h"

namespace steer {

namespace {

constexpr const char* usage =
    "Usage: steer [--device PATH] [--stale-after MS]\n       steer --help | --version\n";

constexpr const char* help =
    "Steers a robot toward the positions in t.txt (goal points) and b.txt (object) of the\n"
    "working directory, sending each command to the board's serial device and echoing it.\n"
    "\n"
    "  --device PATH     the board's serial device (default /dev/ttyUSB0); it may appear later\n"
    "  --stale-after MS  stop the board once neither file has changed for MS milliseconds,\n"
    "                    and steer again when one changes\n"
    "  -h, --help        show this help and exit\n"
    "  --version         show the version and exit\n"
    "\n"
    "Ctrl-C, SIGTERM, SIGHUP, SIGQUIT and SIGPIPE stop the board and end steer;\n"
    "Ctrl-Z stops the board and suspends steer until it is continued.\n"
    "Exit status: 0 once stopped, 1 when a stop sequence did not reach the board,\n"
    "2 for a command line it does not take.\n";

int refuse(const char* reason, const char* what) {
  (void)std::fprintf(stderr, "steer: %s '%s'\n%s", reason, what, usage);
  return 2;
}

// A whole number of milliseconds, at least 1, and nothing after it.
bool readMs(const char* text, int& ms) {
  if (text[0] < '0' || text[0] > '9') return false;
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || value < 1 || value > INT_MAX) return false;
  ms = static_cast<int>(value);
  return true;
}

// A device path that exists must be a character device; one that does not may appear later.
bool usableDevice(const char* path) {
  struct stat st {};
  return path[0] != '\0' && (stat(path, &st) != 0 || S_ISCHR(st.st_mode));
}

// Takes "--name VALUE" or "--name=VALUE" at argv[i]; returns whether arg is that option, with
// `value` null when the value is missing.
bool option(const char* name, int argc, const char* const argv[], int& i, const char*& value) {
  const char* arg = argv[i];
  const size_t length = std::strlen(name);
  if (std::strncmp(arg, name, length) != 0) return false;
  if (arg[length] == '=') {
    value = arg + length + 1;
    return true;
  }
  if (arg[length] != '\0') return false;
  value = i + 1 < argc ? argv[++i] : nullptr;
  return true;
}

}  // namespace

int readArguments(int argc, const char* const argv[]) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const char* value = nullptr;
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      std::printf("%s%s", usage, help);
      return 0;
    }
    if (std::strcmp(arg, "--version") == 0) {
      std::printf("steer %s\n", STEER_VERSION);
      return 0;
    }
    if (option("--stale-after", argc, argv, i, value)) {
      if (value == nullptr) return refuse("option needs a number of milliseconds:", arg);
      if (!readMs(value, staleAfter)) {
        return refuse("--stale-after takes a whole number of milliseconds, 1 or more, not", value);
      }
    } else if (option("--device", argc, argv, i, value)) {
      if (value == nullptr) return refuse("option needs a device path:", arg);
      if (!usableDevice(value)) {
        return refuse("--device takes a character device (or one yet to appear), not", value);
      }
      device = value;
    } else {
      return refuse(arg[0] == '-' ? "unknown option" : "unexpected argument", arg);
    }
  }
  return -1;
}

}  // namespace steer
