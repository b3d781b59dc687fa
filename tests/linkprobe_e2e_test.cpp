// The built link tester, run as a user runs it, with a pseudo-terminal as its board.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <csignal>

#include "sandbox.h"

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

TEST(LinkProbe, LoopsSilentlyWithoutADevice) {
  Sandbox box(LINKPROBE_PROGRAM, "");
  ASSERT_TRUE(box.start()) << box.error();
  EXPECT_FALSE(box.collectUntil([] { return false; }, 0.3));
  EXPECT_TRUE(box.running());
  expectEndedByInterrupt(box);
}
