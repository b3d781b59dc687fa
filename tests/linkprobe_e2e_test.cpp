// The built link tester, run as a user runs it, with a pseudo-terminal as its board.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <csignal>
#include <string>
#include <vector>

#include "tests/sandbox.h"

namespace {

void expectEndedByInterrupt(Sandbox& box) {
  box.send(SIGINT);
  const int status = box.finish();
  ASSERT_TRUE(WIFSIGNALED(status)) << box.error();
  EXPECT_EQ(WTERMSIG(status), SIGINT);
  EXPECT_EQ(box.out(), "");
}

}  // namespace

TEST(LinkProbe, SendsAStreamOfTestBytesAndPrintsNothing) {
  Sandbox box(LINKPROBE_PROGRAM, "/dev/ttyACM0");
  ASSERT_TRUE(box.start()) << box.error();
  ASSERT_TRUE(box.collectUntil([&] { return !box.line().empty(); }));
  const size_t files = box.openFiles();
  ASSERT_TRUE(box.collectUntil([&] { return box.line().size() >= 200; }));
  EXPECT_EQ(box.line().find_first_not_of('\x01'), std::string::npos);
  EXPECT_LE(box.openFiles(), files + 1) << "hundreds of opens later it holds more devices";
  expectEndedByInterrupt(box);
}

TEST(LinkProbe, SaysOnceThatThereIsNoDeviceAndKeepsTrying) {
  Sandbox box(LINKPROBE_PROGRAM, "");
  ASSERT_TRUE(box.start()) << box.error();
  EXPECT_FALSE(box.collectUntil([] { return false; }, 0.3));
  EXPECT_TRUE(box.running());
  expectEndedByInterrupt(box);
  EXPECT_EQ(box.err(),
            "linkprobe: no board at /dev/ttyACM0 (no such device); no serial devices here; "
            "linkprobe keeps trying until it appears\n");
}

TEST(LinkProbe, SaysOnceThatTheLineTakesNoBytesAndWhenItDoesAgain) {
  Sandbox box(LINKPROBE_PROGRAM, "/dev/ttyACM0");
  ASSERT_TRUE(box.start()) << box.error();
  ASSERT_TRUE(box.collectUntil([&] { return !box.line().empty(); }));
  box.holdLine(true);
  const std::string stuck =
      "linkprobe: /dev/ttyACM0 took no byte for 500 ms; gave it up; the board is not getting "
      "test bytes\n";
  ASSERT_TRUE(box.collectUntil([&] { return box.err() == stuck; })) << box.err();
  box.holdLine(false);
  const std::string again =
      stuck + "linkprobe: /dev/ttyACM0 works; the board gets test bytes again\n";
  ASSERT_TRUE(box.collectUntil([&] { return box.err() == again; })) << box.err();
  expectEndedByInterrupt(box);
  EXPECT_EQ(box.err(), again);
  EXPECT_EQ(box.line().find_first_not_of('\x01'), std::string::npos);
}

// A command line that asks for help or that it does not take: an answer, and no byte sent.
struct ProbeArguments {
  const char* name;
  std::vector<std::string> args;
  int status;
  std::string says;  // the start of standard output for status 0, else standard error's first line
};

void PrintTo(const ProbeArguments& a, std::ostream* os) { *os << a.name; }

class LinkProbeArguments : public testing::TestWithParam<ProbeArguments> {};

const std::string usage = "Usage: linkprobe [--device PATH]\n       linkprobe --help | --version\n";

TEST_P(LinkProbeArguments, AnswerWithoutTouchingTheBoard) {
  const ProbeArguments& a = GetParam();
  Sandbox box(LINKPROBE_PROGRAM, "/dev/ttyACM0", a.args);
  ASSERT_TRUE(box.start()) << box.error();
  const int status = box.finish();
  ASSERT_TRUE(WIFEXITED(status)) << box.error();
  EXPECT_EQ(WEXITSTATUS(status), a.status);
  EXPECT_EQ(box.line(), "");
  if (a.status == 0) {
    EXPECT_EQ(box.out().rfind(a.says, 0), 0U) << box.out();
    EXPECT_EQ(box.err(), "");
  } else {
    EXPECT_EQ(box.err(), a.says + "\n" + usage);
    EXPECT_EQ(box.out(), "");
  }
}

const std::string notDevice =
    "linkprobe: --device takes a character device (or one yet to appear), not ";

INSTANTIATE_TEST_SUITE_P(
    CommandLine, LinkProbeArguments,
    testing::Values(
        ProbeArguments{"Help", {"--help"}, 0, usage + "Sends the test byte 1"},
        ProbeArguments{"ShortHelpAfterADevice", {"--device", "/dev/ttyACM0", "-h"}, 0, usage},
        ProbeArguments{"Version", {"--version", "--fast"}, 0, "linkprobe " STEER_VERSION "\n"},
        ProbeArguments{"UnknownOption", {"--fast"}, 2, "linkprobe: unknown option '--fast'"},
        ProbeArguments{"OptionWithATail",
                       {"--devices=/dev/ttyACM0"},
                       2,
                       "linkprobe: unknown option '--devices=/dev/ttyACM0'"},
        ProbeArguments{
            "StrayArgument", {"/dev/ttyACM0"}, 2, "linkprobe: unexpected argument '/dev/ttyACM0'"},
        ProbeArguments{
            "NoDevicePath", {"--device"}, 2, "linkprobe: option needs a device path: '--device'"},
        ProbeArguments{"EmptyDevicePath", {"--device", ""}, 2, notDevice + "''"},
        ProbeArguments{"EmptyDevicePathAfterEquals", {"--device="}, 2, notDevice + "''"},
        ProbeArguments{"DeviceIsAFolder", {"--device=/dev"}, 2, notDevice + "'/dev'"},
        ProbeArguments{
            "DeviceIsAFile", {"--device", "/proc/version"}, 2, notDevice + "'/proc/version'"}),
    [](const testing::TestParamInfo<ProbeArguments>& info) { return info.param.name; });

TEST(LinkProbe, SendsToTheLastDeviceItIsGiven) {
  Sandbox box(LINKPROBE_PROGRAM, "/dev/ttyUSB1",
              {"--device", "/dev/ttyUSB9", "--device=/dev/ttyUSB1"});
  ASSERT_TRUE(box.start()) << box.error();
  ASSERT_TRUE(box.collectUntil([&] { return box.line().size() >= 10; }));
  expectEndedByInterrupt(box);
  EXPECT_EQ(box.err(), "");
  EXPECT_EQ(box.line().find_first_not_of('\x01'), std::string::npos);
}
