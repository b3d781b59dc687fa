#include "options.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "steer.h"

namespace steer {

namespace {

constexpr const char* usage = "Usage: steer [--stale-after MS]\n       steer --help | --version\n";

constexpr const char* help =
    "Steers a robot toward the positions in t.txt (goal points) and b.txt (object) of the\n"
    "working directory, sending each command to the board on /dev/ttyUSB0 and echoing it.\n"
    "\n"
    "  --stale-after MS  stop the board once neither file has changed for MS milliseconds,\n"
    "                    and steer again when one changes\n"
    "  --help            show this help and exit\n"
    "  --version         show the version and exit\n"
    "\n"
    "Ctrl-C, SIGTERM, SIGHUP, SIGQUIT and SIGPIPE stop the board and end steer;\n"
    "Ctrl-Z stops the board and suspends steer until it is continued.\n";

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

}  // namespace

int readArguments(int argc, const char* const argv[]) {
  constexpr const char* stale = "--stale-after";
  const size_t staleLength = std::strlen(stale);
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const char* value = nullptr;
    if (std::strcmp(arg, "--help") == 0) {
      std::printf("%s%s", usage, help);
      return 0;
    }
    if (std::strcmp(arg, "--version") == 0) {
      std::printf("steer %s\n", STEER_VERSION);
      return 0;
    }
    if (std::strcmp(arg, stale) == 0) {
      if (i + 1 == argc) return refuse("option needs a number of milliseconds:", arg);
      value = argv[++i];
    } else if (std::strncmp(arg, stale, staleLength) == 0 && arg[staleLength] == '=') {
      value = arg + staleLength + 1;
    } else {
      return refuse(arg[0] == '-' ? "unknown option" : "unexpected argument", arg);
    }
    if (!readMs(value, staleAfter)) {
      return refuse("--stale-after takes a whole number of milliseconds, 1 or more, not", value);
    }
  }
  return -1;
}

}  // namespace steer
