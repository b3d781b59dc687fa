#include "steer/options.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "cli/value_option.h"

namespace steer {

namespace {

using Args = std::span<const char* const>;

constexpr const char* usage =
    "Usage: steer [--device PATH] [--stale-after MS] [--band PX] [--turn-power N]\n"
    "             [--drive-power N] [--approach [--aim-gain PCT] [--aim-limit PX]\n"
    "             [--near-row ROW] [--line-up DEG] [--arc-power N] [--spin-rate DEG/S]\n"
    "             [--view DEG] [--latency MS]]\n"
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
    "  --drive-power N   power of straight ahead, once lined up, 0 to 127 (default 100);\n"
    "                    the board runs its motors at N% of full power, at full above 100\n"
    "  --approach        bring the ball into the goal: find the ball, circle it until the goal\n"
    "                    is beyond it, then push; the band and powers then default to 40, 30\n"
    "                    and 100. With --approach:\n"
    "  --aim-gain PCT    hold the ball off centre, on the goal's side, by PCT percent of the\n"
    "                    goal's bearing less the ball's (default 100)\n"
    "  --aim-limit PX    but by at most PX columns, 0 to 320 (default 200)\n"
    "  --near-row ROW    a ball at this row or lower in the picture is near: turned toward in\n"
    "                    arcs, and circled (default 450)\n"
    "  --line-up DEG     circle a near ball from 3 x DEG degrees off the line from the goal\n"
    "                    through it until DEG off, 0 to 60 (default 10)\n"
    "  --arc-power N     power of the arcs near the ball, 0 to 127 (default 100)\n"
    "  --spin-rate DEG/S how fast the robot spins at full power (default 229)\n"
    "  --view DEG        the angle the picture's columns span (default 62)\n"
    "  --latency MS      from a picture to its files, plus half a picture's interval (default 80)\n"
    "  -h, --help        show this help and exit\n"
    "  --version         show the version and exit\n"
    "\n"
    "Ctrl-C, SIGTERM, SIGHUP, SIGQUIT and SIGPIPE stop the board and end steer;\n"
    "Ctrl-Z stops the board and suspends steer until it is continued.\n"
    "Exit status: 0 once stopped, 1 when a stop sequence did not reach the board,\n"
    "2 for a command line it does not take.\n";

bool refuse(Options& o, const char* reason, const char* what) {
  o.asked = Options::Asked::refused;
  o.reason = reason;
  o.refused = what;
  return false;
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
  int Settings::*value;
  int lo;
  int hi;
  const char* unit;  // "" for a plain number
};
const NumberOption numberOptions[] = {
    {"--band", &Settings::band, 0, 320, "columns"},
    {"--turn-power", &Settings::pwr, 0, 127, ""},
    {"--drive-power", &Settings::drivePower, 0, 127, ""},
    {"--aim-gain", &Settings::aimGain, 0, 1000, "percent"},
    {"--aim-limit", &Settings::aimLimit, 0, 320, "columns"},
    {"--near-row", &Settings::nearRow, 0, 100000, "rows"},
    {"--line-up", &Settings::lineUp, 0, 60, "degrees"},
    {"--arc-power", &Settings::arcPower, 0, 127, ""},
    {"--spin-rate", &Settings::spinRate, 1, 10000, "degrees a second"},
    {"--view", &Settings::viewDeg, 1, 179, "degrees"},
    {"--latency", &Settings::latencyMs, 0, 10000, "milliseconds"},
};
constexpr int numberOptionCount = sizeof numberOptions / sizeof numberOptions[0];

// What refuses option k's value, such as "--band takes a whole number of columns from 0 to 320,
// not": made once, from the table, and kept for the program's life.
const char* refusal(int k) {
  static const auto texts = [] {
    std::array<std::string, numberOptionCount> t;
    for (int i = 0; i < numberOptionCount; ++i) {
      const NumberOption& n = numberOptions[i];
      const std::string unit = n.unit[0] == '\0' ? "" : std::string("of ") + n.unit + " ";
      t.at(static_cast<size_t>(i)) = std::string(n.name) + " takes a whole number " + unit +
                                     "from " + std::to_string(n.lo) + " to " +
                                     std::to_string(n.hi) + ", not";
    }
    return t;
  }();
  return texts.at(static_cast<size_t>(k)).c_str();
}

// With --approach, the band and powers that the approach steers best with, unless given.
constexpr Settings approachDefaults = [] {
  Settings s;
  s.band = 40;
  s.pwr = 30;
  s.drivePower = 100;
  return s;
}();

// Takes "--name VALUE" or "--name=VALUE" at args[i]; returns whether arg is that option, with
// `value` null when the value is missing. The value points into args.
bool option(const char* name, Args args, size_t& i, const char*& value) {
  std::string_view text;
  bool missing = false;
  if (!cli::valueOption(name, args, i, text, missing)) return false;
  value = missing ? nullptr : text.data();  // the rest of a C string
  return true;
}

// Takes the option at argv[i], and its value; returns whether it is taken.
// Notes in `given` each number option taken.
bool takeOption(Args args, size_t& i, Options& o, bool (&given)[numberOptionCount]) {
  const char* arg = args[i];
  const char* value = nullptr;
  Settings& s = o.settings;
  if (std::strcmp(arg, "--approach") == 0) {
    s.approach = true;
    return true;
  }
  for (int k = 0; k < numberOptionCount; ++k) {
    const NumberOption& n = numberOptions[k];
    if (!option(n.name, args, i, value)) continue;
    given[k] = true;
    if (value == nullptr) return refuse(o, "option needs a number:", arg);
    return readWhole(value, n.lo, n.hi, s.*n.value) || refuse(o, refusal(k), value);
  }
  if (option("--stale-after", args, i, value)) {
    if (value == nullptr) return refuse(o, "option needs a number of milliseconds:", arg);
    return readWhole(value, 1, INT_MAX, s.staleAfter) ||
           refuse(o, "--stale-after takes a whole number of milliseconds, 1 or more, not", value);
  }
  if (const char* why = nullptr; cli::deviceOption(args, i, value, why)) {
    if (why != nullptr) return refuse(o, why, value);
    s.device = value;
    return true;
  }
  return refuse(o, arg[0] == '-' ? "unknown option" : "unexpected argument", arg);
}

}  // namespace

Options readOptions(int argc, const char* const argv[]) {
  Options o;
  bool given[numberOptionCount] = {};
  const Args args(argv, static_cast<size_t>(argc));
  for (size_t i = 1; i < args.size(); ++i) {
    const char* arg = args[i];
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      o.asked = Options::Asked::help;
      return o;
    }
    if (std::strcmp(arg, "--version") == 0) {
      o.asked = Options::Asked::version;
      return o;
    }
    if (!takeOption(args, i, o, given)) return o;
  }
  if (!o.settings.approach) return o;
  for (int k = 0; k < numberOptionCount; ++k) {
    if (!given[k]) o.settings.*numberOptions[k].value = approachDefaults.*numberOptions[k].value;
  }
  return o;
}

int answer(const Options& o) {
  switch (o.asked) {
    case Options::Asked::help:
      std::printf("%s%s", usage, help);
      return 0;
    case Options::Asked::version:
      std::printf("steer %s\n", STEER_VERSION);
      return 0;
    case Options::Asked::refused:
      (void)std::fprintf(stderr, "steer: %s '%s'\n%s", o.reason, o.refused, usage);
      return 2;
    default:
      return -1;
  }
}

}  // namespace steer
