// virtual-board run as a user runs it, on the built programs and the example position files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "tests/emulator.h"
#include "tests/process_state.h"
#include "tests/text.h"
#include "tests/tool_run.h"

namespace {

// Built with wiringPi, the stop sequence's NUL byte never reaches the line.
const std::string stopSequence = LINE_CARRIES_NUL ? std::string("\x00\x80", 2) : "\x80";

// A number from the summary's JSON object, -1 for null or no such key; every key in it is
// unique, those in "frames" too.
double jsonValue(const std::string& json, const std::string& key) {
  const size_t at = json.find("\"" + key + "\": ");
  if (at == std::string::npos || json.compare(at + key.size() + 4, 4, "null") == 0) return -1;
  return std::stod(json.substr(at + key.size() + 4));
}

long long jsonNumber(const std::string& json, const std::string& key) {
  return static_cast<long long>(jsonValue(json, key));
}

// Seconds a byte takes on a 9600 baud 8N1 line: start bit, 8 data bits, stop bit.
constexpr double byteTime = 10.0 / 9600;
// The summary's times have six decimals.
constexpr double rounding = 2e-6;

// What any paced line shows: the board got the bytes no faster than the line carries them, and
// the program's time matches its bytes but for those that came after the line's last release,
// which all wait at once, save one on the wire and one that came in late.
void expectPaced(const std::string& json) {
  const double bytes = jsonValue(json, "bytes");
  const double waiting = jsonValue(json, "most_bytes_waiting");
  EXPECT_GE(jsonValue(json, "last_byte_at") - jsonValue(json, "first_byte_at"),
            (bytes - 1) * byteTime - rounding)
      << json;
  EXPECT_GE(waiting, 0) << json;
  EXPECT_GE(jsonValue(json, "duration"), (bytes - waiting - 3) * byteTime - rounding) << json;
}

struct Watched {
  const char* name;
  std::vector<std::string> options;
  const char* program;
  std::function<bool(const ToolRun&)> busy;  // when it is doing what it is there for
  int status;
  std::function<void(const ToolRun&, const std::string& line, const std::string& json)> check;
};

// Echoes from many passes show that the first has ended and the handlers are in place. (The
// signal mask in /proc would not tell: under an emulator it shows the emulator's.)
std::function<bool(const ToolRun&)> steerEchoed(size_t passes) {
  return [passes](const ToolRun& run) {
    return run.err().find("frame, code 4 goal right, power 50") != std::string::npos &&
           countOf(run.out(), "nap = 4, pwr = 50") >= passes;
  };
}

std::function<bool(const ToolRun&)> lineCarried(size_t bytes) {
  return [bytes](const ToolRun& run) { return run.file("line.bin").size() >= bytes; };
}

void checkSteer(const ToolRun& run, const std::string& line, const std::string& json) {
  // Whole frames, perhaps the power byte of one the stop cut off, then the stop.
  const auto frames = static_cast<size_t>(jsonNumber(json, "4"));
  const bool cutOff = jsonNumber(json, "frames_cut_off") == 1;
  EXPECT_EQ(line, repeat("\x32\x84", frames) + (cutOff ? "\x32" : "") + stopSequence);
  EXPECT_EQ(jsonNumber(json, "stops"), 1);
  EXPECT_EQ(jsonNumber(json, "lone_power_bytes"), 0);
  EXPECT_NE(run.err().find(cutOff ? "cut off      1 frame (" : "cut off      0 frames ("),
            std::string::npos);
  EXPECT_NE(run.err().find(LINE_CARRIES_NUL ? "00 80  stop" : "80     stop"), std::string::npos);
  // The interrupted pass echoes nothing, even when its frame went out whole.
  const size_t echoes = countOf(run.out(), "nap = 4, pwr = 50");
  EXPECT_TRUE(frames == echoes || frames == echoes + 1) << frames << " for " << echoes;
  EXPECT_TRUE(endsWith(run.out(), farewell));
  // Held, steer runs ahead by what slips past the line before virtual-board stops it again, on a
  // busy machine a scheduler's slice of passes, some dozens of bytes. Not held, it would outrun
  // a 9600 baud line thirtyfold and leave nearly all its bytes waiting.
  if (json.find("\"paced\": true") != std::string::npos) {
    EXPECT_LT(jsonValue(json, "most_bytes_waiting"), jsonValue(json, "bytes") / 3) << json;
  }
}

void checkLinkProbe(const ToolRun& run, const std::string& line, const std::string& json) {
  // Test bytes only, each a power byte without a direction byte.
  EXPECT_EQ(line, std::string(line.size(), '\x01'));
  EXPECT_EQ(jsonNumber(json, "lone_power_bytes"), jsonNumber(json, "bytes"));
  EXPECT_EQ(jsonNumber(json, "stops"), 0);
  EXPECT_EQ(jsonNumber(json, "frames_cut_off"), 0);
  EXPECT_NE(run.err().find("01     power 1 whose direction byte never came"), std::string::npos);
  EXPECT_EQ(run.out(), "");
}

const std::vector<std::string> ttyACM0 = {"--device", "/dev/ttyACM0"};

// Paced, steer runs for some 800 bytes, so that those a busy machine lets slip past a held line
// are few among them. The interrupt comes while the program is held.
const Watched watched[] = {
    {"SteerOnTheExamples", {}, STEER_PROGRAM, steerEchoed(100), 0, checkSteer},
    {"SteerPaced", {"--pace"}, STEER_PROGRAM, steerEchoed(400), 0, checkSteer},
    {"LinkProbeOnTtyACM0", ttyACM0, LINKPROBE_PROGRAM, lineCarried(2), 128 + SIGINT,
     checkLinkProbe},
    {"LinkProbePaced",
     {"--device", "/dev/ttyACM0", "--pace"},
     LINKPROBE_PROGRAM,
     lineCarried(20),
     128 + SIGINT,
     checkLinkProbe},
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
  run.interrupt();
  ASSERT_EQ(run.finish(), c.status) << run.error() << run.err();

  const std::string line = run.file("line.bin");
  const std::string json = run.file("summary.json");
  ASSERT_GE(line.size(), 2U);
  EXPECT_EQ(jsonNumber(json, "bytes"), static_cast<long long>(line.size())) << json;
  EXPECT_EQ(jsonNumber(json, "baud"), 9600);
  EXPECT_EQ(jsonNumber(json, "stray_bytes"), 0);
  EXPECT_EQ(jsonNumber(json, "exit_status"), c.status);
  EXPECT_NE(run.err().find("9600 baud, 8 data bits, no parity, 1 stop bit, raw"),
            std::string::npos);
  EXPECT_NE(run.err().find("exit status  " + std::to_string(c.status)), std::string::npos);
  c.check(run, line, json);
  const bool paced = std::find(c.options.begin(), c.options.end(), "--pace") != c.options.end();
  EXPECT_NE(json.find(paced ? "\"paced\": true" : "\"paced\": false"), std::string::npos) << json;
  if (paced) expectPaced(json);
}

INSTANTIATE_TEST_SUITE_P(VirtualBoard, WatchedProgram, testing::ValuesIn(watched),
                         [](const testing::TestParamInfo<Watched>& info) {
                           return info.param.name;
                         });

// The report's reader gone, as in virtual-board -- steer 2>&1 | head, the program is ended as on
// SIGTERM: it stops the board, and neither runs on unread.
TEST(VirtualBoard, ReaderOfTheReportGoneEndsTheProgramWithItsStopSequence) {
  std::vector<std::string> args = {"--raw", "line.bin", "--"};
  const std::vector<std::string> command = underEmulator({STEER_PROGRAM});
  args.insert(args.end(), command.begin(), command.end());
  ToolRun run(args);
  ASSERT_TRUE(run.start()) << run.error();
  ASSERT_TRUE(run.collectUntil([&] { return steerEchoed(100)(run); })) << run.err();
  run.closeErr();
  ASSERT_EQ(run.finish(), 0) << run.error();
  EXPECT_TRUE(endsWith(run.file("line.bin"), stopSequence));
  EXPECT_TRUE(endsWith(run.out(), farewell));
}

// A program that writes, without setting the line, a lone power byte, a frame, and a frame cut
// off by a stop without its 00, then says so on its standard output.
const std::string sent = "\x32\x32\x84\x32\x80";
const std::vector<std::string> sender = {
    "sh", "-c", "printf '\\062\\062\\204\\062\\200' > /dev/ttyUSB0; echo sent"};

struct ToStandardOutput {
  const char* name;
  std::vector<std::string> options;
  std::function<void(const std::string& out)> check;
};

const ToStandardOutput toStandardOutput[] = {
    {"Raw", {"--raw", "-"}, [](const std::string& out) { EXPECT_EQ(out, sent); }},
    // Paced at 9600 baud, as no rate was set: the bytes of the one write one byte time apart, all
    // but the first waiting for the wire.
    {"JsonPaced",
     {"--json", "-", "--pace"},
     [](const std::string& out) {
       EXPECT_EQ(out.rfind("{\"bytes\": 5, \"frames\": {\"1\": 0, \"2\": 0, \"3\": 0, \"4\": 1, "
                           "\"5\": 0}, \"stops\": 1, \"frames_cut_off\": 1, "
                           "\"lone_power_bytes\": 1, \"stray_bytes\": 0, \"baud\": null, ",
                           0),
                 0U)
           << out;
       EXPECT_TRUE(endsWith(
           out,
           ", \"paced\": true, \"most_bytes_waiting\": 4, \"motors\": null, \"exit_status\": 0}\n"))
           << out;
       EXPECT_NEAR(jsonValue(out, "last_byte_at") - jsonValue(out, "first_byte_at"), 4 * byteTime,
                   rounding);
     }},
};

void PrintTo(const ToStandardOutput& c, std::ostream* out) { *out << c.name; }

class StandardOutput : public testing::TestWithParam<ToStandardOutput> {};

TEST_P(StandardOutput, CarriesOnlyWhatWasAskedForAndTheProgramSpeaksOnStandardError) {
  std::vector<std::string> args = GetParam().options;
  args.insert(args.end(), sender.begin(), sender.end());
  ToolRun run(args);
  ASSERT_TRUE(run.start()) << run.error();
  ASSERT_EQ(run.finish(), 0) << run.error() << run.err();
  EXPECT_EQ(countOf(run.err(), "sent\n"), 1U) << run.err();
  for (const char* told :
       {"32     power 50 whose direction byte never came\n",
        "32 84  frame, code 4 goal right, power 50\n",
        "32     power 50, its frame cut off by the stop\n", "80     stop, without its 00\n",
        "cut off      1 frame (", "anomalies    1 lone power byte, 0 stray bytes\n"}) {
    EXPECT_NE(run.err().find(told), std::string::npos) << told << " in " << run.err();
  }
  GetParam().check(run.out());
  EXPECT_FALSE(std::filesystem::exists(run.dir() + "/-"));
}

INSTANTIATE_TEST_SUITE_P(VirtualBoard, StandardOutput, testing::ValuesIn(toStandardOutput),
                         [](const testing::TestParamInfo<ToStandardOutput>& info) {
                           return info.param.name;
                         });

struct Invocation {
  const char* name;
  std::vector<std::string> args;
  int status;
  std::string out;  // what standard output begins with; for a refusal, part of why it refuses
};

const Invocation invocations[] = {
    {"Help", {"--help", "touch", "started"}, 0, "usage: virtual-board [--device PATH] [--pace]"},
    {"ShortHelp", {"-h"}, 0, "usage: virtual-board [--device PATH] [--pace]"},
    // The project's version.
    {"Version", {"--version", "--", "touch", "started"}, 0, "virtual-board " STEER_VERSION "\n"},
    {"UnknownOption", {"--bogus", "touch", "started"}, 2, ""},
    {"PaceWithAValue", {"--pace=1", "touch", "started"}, 2, ""},
    {"NoCommand", {"--device", "/dev/ttyACM0"}, 2, ""},
    {"DeviceNotUnderDev", {"--device", "/tmp/ttyUSB0", "touch", "started"}, 2, ""},
    {"DeviceLeavingDev", {"--device", "/dev/../tmp/ttyUSB0", "touch", "started"}, 2, ""},
    {"DeviceTakenByTheSandbox", {"--device", "/dev/null", "touch", "started"}, 2, ""},
    {"DeviceInTheSandboxsPts", {"--device", "/dev/pts/5", "touch", "started"}, 2, "own /dev/pts"},
    {"RawWithoutItsFile", {"--raw"}, 2, ""},
    {"UnwritableRaw", {"--raw", "no/such/folder", "touch", "started"}, 2, ""},
    {"UnwritableJson", {"--json", "no/such/folder", "touch", "started"}, 2, ""},
    // Refused as no image where the simulator is built, and for want of it elsewhere.
    {"FirmwareThatIsNoImage",
     {"--firmware", "t.txt", "touch", "started"},
     2,
     VIRTUAL_BOARD_HAS_FIRMWARE ? "cannot run --firmware: "
                                : "built without the firmware simulator; to use --firmware"},
    {"RawAndJsonBothOnStandardOutput", {"--raw", "-", "--json=-", "touch", "started"}, 2, ""},
    {"CommandNotFound",
     {"--", "no-such-program-anywhere", "started"},
     127,
     "virtual-board: cannot run no-such-program-anywhere: "},
};

#ifdef VIRTUAL_BOARD_PLAIN_PROGRAM
// The steer package's virtual-board, built without the simulator, refuses --firmware and says
// what to install for it.
TEST(PlainVirtualBoard, RefusesFirmwareAndStartsNothing) {
  ToolRun run({"--firmware", "t.txt", "touch", "started"});
  run.program = VIRTUAL_BOARD_PLAIN_PROGRAM;
  ASSERT_TRUE(run.start()) << run.error();
  EXPECT_EQ(run.finish(), 2);
  EXPECT_EQ(run.err().rfind("virtual-board: this virtual-board was built without the firmware "
                            "simulator; to use --firmware, install the steer-sim package",
                            0),
            0U)
      << run.err();
  EXPECT_FALSE(std::filesystem::exists(run.dir() + "/started"));
}
#endif

void PrintTo(const Invocation& c, std::ostream* out) { *out << c.name; }

class CommandLine : public testing::TestWithParam<Invocation> {};

TEST_P(CommandLine, AnswersOrSaysWhyInOneLineAndStartsNothing) {
  const Invocation& c = GetParam();
  ToolRun run(c.args);
  ASSERT_TRUE(run.start()) << run.error();
  EXPECT_EQ(run.finish(), c.status) << run.err();
  if (c.status == 0) {
    EXPECT_EQ(run.out().rfind(c.out, 0), 0U) << run.out();
    EXPECT_EQ(run.err(), "");
  } else {
    EXPECT_EQ(run.out(), "");
    EXPECT_EQ(countOf(run.err(), "\n"), 1U) << run.err();
    EXPECT_EQ(run.err().rfind("virtual-board: ", 0), 0U) << run.err();
    EXPECT_NE(run.err().find(c.out), std::string::npos) << run.err();
  }
  EXPECT_FALSE(std::filesystem::exists(run.dir() + "/started"));
}

INSTANTIATE_TEST_SUITE_P(VirtualBoard, CommandLine, testing::ValuesIn(invocations),
                         [](const testing::TestParamInfo<Invocation>& info) {
                           return info.param.name;
                         });

// A set of signals from /proc/PID/status: "SigBlk", "SigIgn", "ShdPnd" (pending).
unsigned long long signalsOf(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field + ":", 0) == 0)
      return std::stoull(line.substr(field.size() + 1), nullptr, 16);
  }
  return 0;
}

constexpr unsigned long long bit(int sig) { return 1ULL << (sig - 1); }

// A signal virtual-board is sent while its program runs, in the background (the program in
// virtual-board's group) or on a terminal (the program's own group has it).
struct PassedOn {
  const char* name;
  bool onTerminal;
  int sig;
};

void PrintTo(const PassedOn& p, std::ostream* out) { *out << p.name; }

class SignalToVirtualBoard : public testing::TestWithParam<PassedOn> {};

// The program starts as a shell would start it: with the caller's signal mask and the caller's
// dispositions of what virtual-board ignores. Stopped and continued by another in the background,
// it is none of virtual-board's business; stopped by Ctrl-Z on a terminal, virtual-board stops
// with it and continues it when continued. It ends by the signal, on a terminal with all of its
// group, and the summary tells so.
TEST_P(SignalToVirtualBoard, ReachesTheProgramStartedAsByAShell) {
  const PassedOn& p = GetParam();
  ToolRun run({"sh", "-c", "sleep 30 </dev/null >/dev/null 2>&1 & echo $$ $!; exec sleep 31"},
              p.onTerminal);
  sigaddset(&run.mask, SIGUSR1);
  run.ignored = {SIGQUIT};
  ASSERT_TRUE(run.start()) << run.error();
  pid_t program = 0;
  pid_t child = 0;
  const auto started = [&] {
    std::string name;
    std::istringstream(run.out()) >> program >> child;
    std::ifstream("/proc/" + std::to_string(program) + "/comm") >> name;
    return child > 0 && name == "sleep";
  };
  ASSERT_TRUE(run.collectUntil(started)) << run.err();
  if (underEmulator({}).empty()) {  // an emulated virtual-board's mask is the emulator's
    EXPECT_EQ(signalsOf(program, "SigBlk"), bit(SIGUSR1));
    const auto itIgnores = bit(SIGINT) | bit(SIGQUIT) | bit(SIGTSTP) | bit(SIGTTOU) | bit(SIGPIPE);
    EXPECT_EQ(signalsOf(program, "SigIgn") & itIgnores, bit(SIGQUIT));
  }
  if (p.onTerminal) {
    ASSERT_EQ(kill(-program, SIGTSTP), 0);
    ASSERT_TRUE(run.collectUntil([&] { return run.suspended(); }));
    run.send(SIGCONT);
    run.send(p.sig);
  } else {
    ASSERT_EQ(kill(program, SIGSTOP), 0);
    ASSERT_TRUE(run.collectUntil([&] { return processState(program) == 'T'; }));
    run.send(p.sig);
    EXPECT_TRUE(run.collectUntil([&] { return (signalsOf(program, "ShdPnd") & bit(p.sig)) != 0; }));
    kill(program, SIGCONT);
  }
  EXPECT_EQ(run.finish(), 128 + p.sig) << run.err();
  EXPECT_NE(run.err().find("exit status  " + std::to_string(128 + p.sig)), std::string::npos)
      << run.err();
  const auto ended = [&] { return processState(child) == 'Z' || processState(child) == '?'; };
  for (int i = 0; p.onTerminal && i < 500 && !ended(); ++i) usleep(10000);
  EXPECT_TRUE(ended() || !p.onTerminal) << "the rest of the program's group runs on";
  if (!ended()) kill(child, SIGKILL);
}

INSTANTIATE_TEST_SUITE_P(VirtualBoard, SignalToVirtualBoard,
                         testing::Values(PassedOn{"TerminatedInTheBackground", false, SIGTERM},
                                         PassedOn{"HungUpInTheBackground", false, SIGHUP},
                                         PassedOn{"HungUpOnATerminal", true, SIGHUP},
                                         PassedOn{"TerminatedOnATerminal", true, SIGTERM}),
                         [](const testing::TestParamInfo<PassedOn>& info) {
                           return info.param.name;
                         });

}  // namespace
