// virtual-board run as a user runs it: on the built programs and the example position files, and
// on shell scripts that send known bytes, so that its whole report can be checked.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>

#include "emulator.h"
#include "text.h"
#include "tool_run.h"

namespace {

using namespace std::string_literals;

// Built with wiringPi, the stop sequence's NUL byte never reaches the line.
const std::string stopSequence = LINE_CARRIES_NUL ? "\x00\x80"s : "\x80";
const std::string stopTold = LINE_CARRIES_NUL ? "00 80  stop" : "80     stop, without its 00";

const std::string arduinoLine = "9600 baud, 8 data bits, no parity, 1 stop bit, raw";
const std::string untouchedLine = "no rate set, 8 data bits, no parity, 1 stop bit, cooked";

// A number from the summary's JSON object; every key in it is unique, those in "frames" too.
long long jsonNumber(const std::string& json, const std::string& key) {
  const size_t at = json.find("\"" + key + "\": ");
  if (at == std::string::npos) return -1;
  return std::stoll(json.substr(at + key.size() + 4));
}

// The report with the time taken off each line that has one.
std::string untimed(const std::string& err) {
  static const std::regex timed(" *[0-9]+\\.[0-9]{3}s  (.*)");
  std::istringstream lines(err);
  std::string all;
  std::smatch m;
  for (std::string line; std::getline(lines, line);) {
    all += (std::regex_match(line, m, timed) ? m[1].str() : line) + "\n";
  }
  return all;
}

// The report: its first line, the `events` up to the program's end, and a summary that ends with
// the line's settings and the program's exit status, followed by `after`.
void expectReport(const std::string& err, const std::string& device, const std::string& events,
                  const std::string& line, int status, const std::string& after = "") {
  const std::string told = untimed(err);
  const std::string start = "virtual-board: " + device +
                            " is a pseudo-terminal; what reaches it follows\n" + events +
                            "summary\n";
  EXPECT_EQ(told.substr(0, start.size()), start);
  const std::string end =
      "  line         " + line + "\n  exit status  " + std::to_string(status) + "\n" + after;
  EXPECT_TRUE(endsWith(told, end)) << told << "does not end with\n" << end;
}

struct Expected {
  std::string events;
  std::string json;
};

std::string jsonOf(size_t bytes, size_t code4, size_t stops, size_t lonePower, int status) {
  return R"({"bytes": )" + std::to_string(bytes) + R"(, "frames": {"1": 0, "2": 0, "3": 0, "4": )" +
         std::to_string(code4) + R"(, "5": 0}, "stops": )" + std::to_string(stops) +
         R"(, "lone_power_bytes": )" + std::to_string(lonePower) +
         R"(, "stray_bytes": 0, "baud": 9600, "exit_status": )" + std::to_string(status) + "}\n";
}

struct Watched {
  const char* name;
  std::vector<std::string> options;
  const char* program;
  std::function<bool(const ToolRun&)> busy;  // when it is doing what it is there for
  int sig;                                   // then sent to the tool alone, SIGINT to its group
  int status;
  // What the report must be, from the bytes received; checks the rest of the run.
  std::function<Expected(const ToolRun&, const std::string& line, int status)> expected;
};

// linkprobe's test bytes: power bytes that no direction byte follows.
Expected testBytes(const ToolRun& run, const std::string& line, int status) {
  EXPECT_EQ(line, std::string(line.size(), '\x01'));
  EXPECT_EQ(run.out(), "");
  return {"line   " + arduinoLine +
              "\n01     power 1 whose direction byte never came\nend    exit status " +
              std::to_string(status) + "  (before: 01 x " + std::to_string(line.size()) + ")\n",
          jsonOf(line.size(), 0, 0, line.size(), status)};
}

const std::function<bool(const ToolRun&)> probing = [](const ToolRun& run) {
  return run.err().find("never came") != std::string::npos;
};

const Watched watched[] = {
    {"SteerOnTheExamples",
     {},
     STEER_PROGRAM,
     // Echoes from many passes show that the first has ended and the handlers are in place.
     // (The signal mask in /proc would not tell: under an emulator it shows the emulator's.)
     [](const ToolRun& run) {
       return run.err().find("frame, code 4 goal right, power 50") != std::string::npos &&
              countOf(run.out(), "nap = 4, pwr = 50") >= 100;
     },
     SIGINT,
     0,
     [](const ToolRun& run, const std::string& line, int status) {
       // Whole frames, perhaps the power byte of an interrupted one, then the stop.
       const size_t frames = countOf(line, "\x32\x84");
       const bool cutOff = line.size() == 2 * frames + 1 + stopSequence.size();
       EXPECT_EQ(line, repeat("\x32\x84", frames) + (cutOff ? "\x32" : "") + stopSequence);
       // The interrupted pass echoes nothing, even when its frame went out whole.
       const size_t echoes = countOf(run.out(), "nap = 4, pwr = 50");
       EXPECT_TRUE(frames == echoes || frames == echoes + 1) << frames << " for " << echoes;
       EXPECT_EQ(run.out(), repeat("nap = 4, pwr = 50", echoes) + farewell);
       const std::string run4 = "  (before: 32 84 x " + std::to_string(frames) + ")\n";
       return Expected{
           "line   " + arduinoLine + "\n32 84  frame, code 4 goal right, power 50\n" +
               (cutOff ? "32     power 50 whose direction byte never came" + run4 + stopTold + "\n"
                       : stopTold + run4) +
               "end    exit status " + std::to_string(status) + "\n",
           jsonOf(line.size(), frames, 1, cutOff ? 1 : 0, status)};
     }},
    {"LinkProbeInterrupted",
     {"--device", "/dev/ttyACM0"},
     LINKPROBE_PROGRAM,
     probing,
     SIGINT,
     128 + SIGINT,
     testBytes},
    // Signals that end virtual-board end its program, which tells how it ended.
    {"LinkProbeTerminated",
     {"--device", "/dev/ttyACM0"},
     LINKPROBE_PROGRAM,
     probing,
     SIGTERM,
     128 + SIGTERM,
     testBytes},
    {"LinkProbeHungUp",
     {"--device", "/dev/ttyACM0"},
     LINKPROBE_PROGRAM,
     probing,
     SIGHUP,
     128 + SIGHUP,
     testBytes},
};

void PrintTo(const Watched& c, std::ostream* out) { *out << c.name; }

class WatchedProgram : public testing::TestWithParam<Watched> {};

TEST_P(WatchedProgram, IsReportedByteForByteAndEndsWithItsStatus) {
  const Watched& c = GetParam();
  std::vector<std::string> args = c.options;
  args.insert(args.end(), {"--raw", "line.bin", "--json", "summary.json", "--"});
  const std::vector<std::string> command = underEmulator({c.program});
  args.insert(args.end(), command.begin(), command.end());
  ToolRun run(args);
  ASSERT_TRUE(run.start()) << run.error();
  ASSERT_TRUE(run.collectUntil([&] { return c.busy(run); })) << run.err();
  if (c.sig == SIGINT) {
    run.interrupt();
  } else {
    run.send(c.sig);
  }
  ASSERT_EQ(run.finish(), c.status) << run.error() << run.err();

  const std::string line = run.file("line.bin");
  ASSERT_GE(line.size(), 2U);
  const Expected want = c.expected(run, line, c.status);
  EXPECT_EQ(untimed(run.err()).find("  duration     0.000 s\n"), std::string::npos)
      << "it took no time";
  expectReport(run.err(), c.options.empty() ? "/dev/ttyUSB0" : c.options[1], want.events,
               arduinoLine, c.status);
  EXPECT_EQ(run.file("summary.json"), want.json);
  EXPECT_EQ(jsonNumber(want.json, "bytes"), static_cast<long long>(line.size()));
}

INSTANTIATE_TEST_SUITE_P(VirtualBoard, WatchedProgram, testing::ValuesIn(watched),
                         [](const testing::TestParamInfo<Watched>& info) {
                           return info.param.name;
                         });

// A shell command that writes `bytes` to `device` as they are.
std::string send(const std::string& bytes, const std::string& device = "/dev/ttyUSB0") {
  std::string octal;
  for (const char c : bytes) {
    char escape[8];
    (void)std::snprintf(escape, sizeof escape, "\\%03o", static_cast<unsigned char>(c));
    octal += escape;
  }
  return "printf '" + octal + "' > " + device;
}

// What --raw and --json hold before the tool runs: it must replace all of it.
const std::string earlier = "what an earlier run left, longer than this run's bytes\n";

const std::string nestedNode = "/dev/serial/by-id/usb-board";

struct Scripted {
  const char* name;
  std::vector<std::string> options;
  std::string script;  // run by sh -c
  int status;          // virtual-board's
  int ended;           // the program's, as told
  std::string events;  // told up to the program's end
  std::string line;    // the line's settings in the summary
  std::string json;
  std::string raw;
  std::string out;
  std::string after = "";  // told after the summary
};

const Scripted scripted[] = {
    {"ProgramThatSetsNoRate",
     {},
     send("\x32\x81\x32\x81\x32") + "; exit 3",
     3,
     3,
     "32 81  frame, code 1 object right, power 50\n"
     "32     power 50 whose direction byte never came  (before: 32 81 x 2)\n"
     "end    exit status 3\n",
     untouchedLine,
     R"({"bytes": 5, "frames": {"1": 2, "2": 0, "3": 0, "4": 0, "5": 0}, "stops": 0, )"
     R"("lone_power_bytes": 1, "stray_bytes": 0, "baud": null, "exit_status": 3})"
     "\n",
     "\x32\x81\x32\x81\x32",
     ""},
    {"ProgramKilledAfterSettingTheLine",
     {},
     "stty -F /dev/ttyUSB0 115200 raw cstopb; " + send("\x00\x80\x80\xff\x85\x32\x00\x80"s) +
         "; kill -s TERM $$",
     128 + SIGTERM,
     128 + SIGTERM,
     "line   115200 baud, 8 data bits, no parity, 2 stop bits, raw\n"
     "00 80  stop\n"
     "80     stop, without its 00\n"
     "ff     stray byte, fits no frame\n"
     "85     direction byte, code 5 aligned, with no power byte before it\n"
     "32     power 50 whose direction byte never came\n"
     "00 80  stop\n"
     "end    exit status 143\n",
     "115200 baud, 8 data bits, no parity, 2 stop bits, raw",
     R"({"bytes": 8, "frames": {"1": 0, "2": 0, "3": 0, "4": 0, "5": 0}, "stops": 3, )"
     R"("lone_power_bytes": 1, "stray_bytes": 2, "baud": 115200, "exit_status": 143})"
     "\n",
     "\x00\x80\x80\xff\x85\x32\x00\x80"s,
     ""},
    // The program's /dev holds what a console program needs and the board, nothing else.
    {"MoreThanTheToolReadsAtOnce",
     {},
     "LC_ALL=C ls -A /dev; readlink /dev/ptmx /dev/fd /dev/stdin /dev/stdout /dev/stderr; "
     "head -c 70000 /dev/zero > /dev/ttyUSB0; " +
         send("\x32\x84"),
     0,
     0,
     "00     power 0 whose direction byte never came\n"
     "32 84  frame, code 4 goal right, power 50  (before: 00 x 70000)\n"
     "end    exit status 0\n",
     untouchedLine,
     R"({"bytes": 70002, "frames": {"1": 0, "2": 0, "3": 0, "4": 1, "5": 0}, "stops": 0, )"
     R"("lone_power_bytes": 70000, "stray_bytes": 0, "baud": null, "exit_status": 0})"
     "\n",
     std::string(70000, '\0') + "\x32\x84",
     "fd\nnull\nptmx\npts\nstderr\nstdin\nstdout\ntty\nttyUSB0\nurandom\nzero\n"
     "pts/ptmx\n/proc/self/fd\n/proc/self/fd/0\n/proc/self/fd/1\n/proc/self/fd/2\n"},
    {"NodeInAFolderOfItsOwn",
     {"--device", nestedNode},
     "LC_ALL=C ls -A /dev; " + send("\x64\x85", nestedNode),
     0,
     0,
     "64 85  frame, code 5 aligned, power 100\nend    exit status 0\n",
     untouchedLine,
     R"({"bytes": 2, "frames": {"1": 0, "2": 0, "3": 0, "4": 0, "5": 1}, "stops": 0, )"
     R"("lone_power_bytes": 0, "stray_bytes": 0, "baud": null, "exit_status": 0})"
     "\n",
     "\x64\x85",
     "fd\nnull\nptmx\npts\nserial\nstderr\nstdin\nstdout\ntty\nurandom\nzero\n"},
    // Output that cannot be written fails the run, whatever the program's status.
    {"RawThatCannotBeWritten",
     {"--raw", "/dev/full"},
     send("\x32\x81"),
     2,
     0,
     "32 81  frame, code 1 object right, power 50\nend    exit status 0\n",
     untouchedLine,
     R"({"bytes": 2, "frames": {"1": 1, "2": 0, "3": 0, "4": 0, "5": 0}, "stops": 0, )"
     R"("lone_power_bytes": 0, "stray_bytes": 0, "baud": null, "exit_status": 0})"
     "\n",
     earlier,
     "",
     "virtual-board: writing --raw /dev/full failed\n"},
    {"JsonThatCannotBeWritten",
     {"--json", "/dev/full"},
     send("\x32\x81"),
     2,
     0,
     "32 81  frame, code 1 object right, power 50\nend    exit status 0\n",
     untouchedLine,
     earlier,
     "\x32\x81",
     "",
     "virtual-board: writing --json /dev/full failed: No space left on device\n"},
};

void PrintTo(const Scripted& c, std::ostream* out) { *out << c.name; }

class ScriptedProgram : public testing::TestWithParam<Scripted> {};

TEST_P(ScriptedProgram, IsReportedExactly) {
  const Scripted& c = GetParam();
  std::vector<std::string> args = {"--raw", "line.bin", "--json", "summary.json"};
  args.insert(args.end(), c.options.begin(), c.options.end());
  args.insert(args.end(), {"--", "sh", "-c", c.script});
  ToolRun run(args);
  for (const char* name : {"line.bin", "summary.json"}) {
    std::ofstream(run.dir() + "/" + name) << earlier;
  }
  ASSERT_TRUE(run.start()) << run.error();
  ASSERT_EQ(run.finish(), c.status) << run.error() << run.err();
  expectReport(run.err(),
               c.options.size() > 1 && c.options[0] == "--device" ? c.options[1] : "/dev/ttyUSB0",
               c.events, c.line, c.ended, c.after);
  EXPECT_EQ(run.file("summary.json"), c.json);
  EXPECT_EQ(run.file("line.bin"), c.raw);
  EXPECT_EQ(run.out(), c.out);
}

INSTANTIATE_TEST_SUITE_P(VirtualBoard, ScriptedProgram, testing::ValuesIn(scripted),
                         [](const testing::TestParamInfo<Scripted>& info) {
                           return info.param.name;
                         });

// On a terminal the program is the foreground job: stopped, virtual-board stops with it, as a
// shell expects of a job, and once continued gives it back the terminal and lets it go on.
TEST(VirtualBoardOnATerminal, StopsWithItsProgramAndCarriesOnWhenContinued) {
  ToolRun run({"--", "sh", "-c",
               "test -t 0 || exit 9; " + send("\x32\x81") + "; kill -s TSTP $$; stty -echo; " +
                   send("\x64\x85") + "; exit 4"},
              true);
  ASSERT_TRUE(run.start()) << run.error();
  ASSERT_TRUE(run.collectUntil([&] { return run.suspended(); })) << run.err();
  run.send(SIGCONT);
  ASSERT_EQ(run.finish(), 4) << run.error() << run.err();
  expectReport(run.err(), "/dev/ttyUSB0",
               "32 81  frame, code 1 object right, power 50\n"
               "64 85  frame, code 5 aligned, power 100\n"
               "end    exit status 4\n",
               untouchedLine, 4);
}

// A command line it does not take is refused with its reason, and one that asks for help is
// answered; either way nothing is started.
struct Refused {
  const char* name;
  std::vector<std::string> args;
  int status;
  std::string says;  // all of standard error
  std::string out = "";
};

const std::string usage =
    "usage: virtual-board [--device PATH] [--raw FILE] [--json FILE] [--] COMMAND [ARG...]";

std::string why(const std::string& reason) { return "virtual-board: " + reason + "\n"; }

const Refused refused[] = {
    {"Help", {"--help", "--bogus"}, 0, "", usage + "\nRuns COMMAND"},
    {"ShortHelp", {"-h", "touch", "started"}, 0, "", usage + "\nRuns COMMAND"},
    {"UnknownOption",
     {"--bogus", "-h", "touch", "started"},
     2,
     why("unknown option --bogus; " + usage)},
    {"UnknownOptionWithAValue",
     {"--rate=9600", "touch", "started"},
     2,
     why("unknown option --rate=9600; " + usage)},
    {"NoCommand", {"--device", "/dev/ttyACM0"}, 2, why("no COMMAND given; " + usage)},
    {"NoCommandAfterTheOptions", {"--raw", "line.bin", "--"}, 2, why("no COMMAND given; " + usage)},
    {"OptionWithoutItsValue", {"--json"}, 2, why("--json needs a value; " + usage)},
    {"OptionWithAnEmptyValue",
     {"--raw=", "touch", "started"},
     2,
     why("--raw needs a value; " + usage)},
    {"DeviceNotUnderDev",
     {"--device", "/tmp/ttyUSB0", "touch", "started"},
     2,
     why("--device /tmp/ttyUSB0 is not under /dev")},
    {"DeviceIsDevItself",
     {"--device=/dev/", "touch", "started"},
     2,
     why("--device /dev/ is not under /dev")},
    {"DeviceLeavingDev",
     {"--device", "/dev/../tmp/ttyUSB0", "touch", "started"},
     2,
     why("--device /dev/../tmp/ttyUSB0 must name a node under /dev plainly, without . or .. or "
         "//")},
    {"DeviceWithAnEmptyStep",
     {"--device", "/dev//ttyUSB0", "touch", "started"},
     2,
     why("--device /dev//ttyUSB0 must name a node under /dev plainly, without . or .. or //")},
    {"DeviceEndingInASlash",
     {"--device", "/dev/ttyUSB0/", "touch", "started"},
     2,
     why("--device /dev/ttyUSB0/ must name a node under /dev plainly, without . or .. or //")},
    {"DeviceTakenByTheSandbox",
     {"--device", "/dev/null", "touch", "started"},
     2,
     why("--device /dev/null is taken by the private /dev's own /dev/null")},
    {"DeviceUnderTheSandboxsPts",
     {"--device", "/dev/pts/3", "touch", "started"},
     2,
     why("--device /dev/pts/3 is taken by the private /dev's own /dev/pts")},
    {"DeviceUnderTheSandboxsFd",
     {"--device", "/dev/fd/1", "touch", "started"},
     2,
     why("--device /dev/fd/1 is taken by the private /dev's own /dev/fd")},
    {"UnwritableRaw",
     {"--raw", "no/such/folder", "touch", "started"},
     2,
     why("cannot write --raw no/such/folder: No such file or directory")},
    {"UnwritableJson",
     {"--json", "no/such/folder", "touch", "started"},
     2,
     why("cannot write --json no/such/folder: No such file or directory")},
    {"CommandNotFound",
     {"--", "no-such-program-anywhere", "started"},
     127,
     why("cannot run no-such-program-anywhere: No such file or directory")},
    {"CommandNotFoundWithoutDashes",
     {"no-such-program-anywhere", "--", "started"},
     127,
     why("cannot run no-such-program-anywhere: No such file or directory")},
};

void PrintTo(const Refused& c, std::ostream* out) { *out << c.name; }

class RefusedCommandLine : public testing::TestWithParam<Refused> {};

TEST_P(RefusedCommandLine, SaysWhyAndStartsNothing) {
  const Refused& c = GetParam();
  ToolRun run(c.args);
  ASSERT_TRUE(run.start()) << run.error();
  EXPECT_EQ(run.finish(), c.status) << run.err();
  EXPECT_EQ(run.err(), c.says);
  EXPECT_EQ(run.out().rfind(c.out, 0), 0U) << run.out();
  EXPECT_EQ(run.out().empty(), c.out.empty()) << run.out();
  EXPECT_FALSE(std::filesystem::exists(run.dir() + "/started"));
}

INSTANTIATE_TEST_SUITE_P(VirtualBoard, RefusedCommandLine, testing::ValuesIn(refused),
                         [](const testing::TestParamInfo<Refused>& info) {
                           return info.param.name;
                         });

}  // namespace
