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
    "Usage: steer [--device PATH] [--stale-after MS] [--band PX] [--turn-power N]\n"
    "             [--drive-power N]\n"
    "       steer --help | --version\n";

constexpr const char* help =
    "Steers a robot toward the positions in t.txt (goal points) and b.txt (object) of the\n"
    "working directory, sending each command to the board's serial device and echoing it.\n"
    "\n"
    "  --device PATH     the board's serial device (default /dev/ttyUSB0); it may appear later\n"
    "  --stale-after MS  stop the board once neither file has changed for MS milliseconds,\n"
    "                    and steer again when one changes\n"
    "  --band PX         half-width of the centre band, in columns, 0 to 320 (default 10)\n"
    "  --turn-power N    power of the turns and arcs, 0 to 127 (default 50)\n"
    "  --drive-power N   power of straight ahead, once lined up, 0 to 127 (default 100)\n"
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

// A whole number from lo to hi, and nothing after it.
bool readWhole(const char* text, int lo, int hi, int& number) {
  if (text[0] < '0' || text[0] > '9') return false;
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || value < lo || value > hi) return false;
  number = static_cast<int>(value);
  return true;
}

// The options that take a whole number, what it means and the numbers allowed; the wire's power
// byte keeps its top bit clear, so powers stop at 127.
struct NumberOption {
  const char* name;
  int* value;
  int lo;
  int hi;
  const char* refusal;
};
const NumberOption numberOptions[] = {
    {"--band", &band, 0, 320, "--band takes a whole number of columns from 0 to 320, not"},
    {"--turn-power", &pwr, 0, 127, "--turn-power takes a whole number from 0 to 127, not"},
    {"--drive-power", &drivePower, 0, 127, "--drive-power takes a whole number from 0 to 127, not"},
};

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

// Takes the option at argv[i], and its value; returns -1 when it is taken, else the exit status
// after saying why not.
int takeOption(int argc, const char* const argv[], int& i) {
  const char* arg = argv[i];
  const char* value = nullptr;
  for (const NumberOption& o : numberOptions) {
    if (!option(o.name, argc, argv, i, value)) continue;
    if (value == nullptr) return refuse("option needs a number:", arg);
    return readWhole(value, o.lo, o.hi, *o.value) ? -1 : refuse(o.refusal, value);
  }
  if (option("--stale-after", argc, argv, i, value)) {
    if (value == nullptr) return refuse("option needs a number of milliseconds:", arg);
    if (readWhole(value, 1, INT_MAX, staleAfter)) return -1;
    return refuse("--stale-after takes a whole number of milliseconds, 1 or more, not", value);
  }
  if (option("--device", argc, argv, i, value)) {
    if (value == nullptr) return refuse("option needs a device path:", arg);
    if (!usableDevice(value)) {
      return refuse("--device takes a character device (or one yet to appear), not", value);
    }
    device = value;
    return -1;
  }
  return refuse(arg[0] == '-' ? "unknown option" : "unexpected argument", arg);
}

}  // namespace

int readArguments(int argc, const char* const argv[]) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      std::printf("%s%s", usage, help);
      return 0;
    }
    if (std::strcmp(arg, "--version") == 0) {
      std::printf("steer %s\n", STEER_VERSION);
      return 0;
    }
    const int status = takeOption(argc, argv, i);
    if (status >= 0) return status;
  }
  return -1;
}

}  // namespace steer
