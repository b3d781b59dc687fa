// virtual-board run as a user runs it, on the built programs and the example position files.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>

#include "emulator.h"
#include "text.h"
#include "tool_run.h"

namespace {

// Built with wiringPi, the stop sequence's NUL byte never reaches the line.
const std::string stopSequence = LINE_CARRIES_NUL ? std::string("\x00\x80", 2) : "\x80";

// A number from the summary's JSON object; every key in it is unique, those in "frames" too.
long long jsonNumber(const std::string& json, const std::string& key) {
  const size_t at = json.find("\"" + key + "\": ");
  if (at == std::string::npos) return -1;
  return std::stoll(json.substr(at + key.size() + 4));
}

struct Watched {
  const char* name;
  std::vector<std::string> options;
  const char* program;
  std::function<bool(const ToolRun&)> busy;  // when it is doing what it is there for
  int status;
  std::function<void(const ToolRun&, const std::string& line, const std::string& json)> check;
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
     0,
     [](const ToolRun& run, const std::string& line, const std::string& json) {
       // Whole frames, perhaps the power byte of an interrupted one, then the stop.
       const auto frames = static_cast<size_t>(jsonNumber(json, "4"));
       const bool cutOff = jsonNumber(json, "lone_power_bytes") == 1;
       EXPECT_EQ(line, repeat("\x32\x84", frames) + (cutOff ? "\x32" : "") + stopSequence);
       EXPECT_EQ(jsonNumber(json, "stops"), 1);
       EXPECT_NE(run.err().find(LINE_CARRIES_NUL ? "00 80  stop" : "80     stop"),
                 std::string::npos);
       // The interrupted pass echoes nothing, even when its frame went out whole.
       const size_t echoes = countOf(run.out(), "nap = 4, pwr = 50");
       EXPECT_TRUE(frames == echoes || frames == echoes + 1) << frames << " for " << echoes;
       EXPECT_TRUE(endsWith(run.out(), farewell));
     }},
    {"LinkProbeOnTtyACM0",
     {"--device", "/dev/ttyACM0"},
     LINKPROBE_PROGRAM,
     [](const ToolRun& run) { return run.err().find("never came") != std::string::npos; },
     128 + SIGINT,
     [](const ToolRun& run, const std::string& line, const std::string& json) {
       // Test bytes only, each a power byte without a direction byte.
       EXPECT_EQ(line, std::string(line.size(), '\x01'));
       EXPECT_EQ(jsonNumber(json, "lone_power_bytes"), jsonNumber(json, "bytes"));
       EXPECT_EQ(jsonNumber(json, "stops"), 0);
       EXPECT_EQ(run.out(), "");
     }},
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
}

INSTANTIATE_TEST_SUITE_P(VirtualBoard, WatchedProgram, testing::ValuesIn(watched),
                         [](const testing::TestParamInfo<Watched>& info) {
                           return info.param.name;
                         });

struct Refused {
  const char* name;
  std::vector<std::string> args;
  int status;
};

const Refused refused[] = {
    {"UnknownOption", {"--bogus", "touch", "started"}, 2},
    {"NoCommand", {"--device", "/dev/ttyACM0"}, 2},
    {"DeviceNotUnderDev", {"--device", "/tmp/ttyUSB0", "touch", "started"}, 2},
    {"DeviceLeavingDev", {"--device", "/dev/../tmp/ttyUSB0", "touch", "started"}, 2},
    {"DeviceTakenByTheSandbox", {"--device", "/dev/null", "touch", "started"}, 2},
    {"UnwritableRaw", {"--raw", "no/such/folder", "touch", "started"}, 2},
    {"UnwritableJson", {"--json", "no/such/folder", "touch", "started"}, 2},
    {"CommandNotFound", {"--", "no-such-program-anywhere", "started"}, 127},
};

void PrintTo(const Refused& c, std::ostream* out) { *out << c.name; }

class RefusedCommandLine : public testing::TestWithParam<Refused> {};

TEST_P(RefusedCommandLine, SaysWhyInOneLineAndStartsNothing) {
  ToolRun run(GetParam().args);
  ASSERT_TRUE(run.start()) << run.error();
  EXPECT_EQ(run.finish(), GetParam().status) << run.err();
  EXPECT_EQ(countOf(run.err(), "\n"), 1U) << run.err();
  EXPECT_EQ(run.err().rfind("virtual-board: ", 0), 0U) << run.err();
  EXPECT_FALSE(std::filesystem::exists(run.dir() + "/started"));
}

INSTANTIATE_TEST_SUITE_P(VirtualBoard, RefusedCommandLine, testing::ValuesIn(refused),
                         [](const testing::TestParamInfo<Refused>& info) {
                           return info.param.name;
                         });

}  // namespace
