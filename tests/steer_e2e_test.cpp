// The built controller, run as a user runs it, with a pseudo-terminal as its board.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>

#include "sandbox.h"
#include "text.h"

namespace {

constexpr size_t npos = std::string::npos;

// Built with wiringPi, the stop sequence's NUL byte never reaches the line.
const std::string stopSequence = LINE_CARRIES_NUL ? std::string("\x00\x80", 2) : "\x80";

}  // namespace

class SteerOnALine : public testing::Test {
 protected:
  explicit SteerOnALine(const char* device = "/dev/ttyUSB0", std::vector<std::string> args = {})
      : box(STEER_PROGRAM, device, std::move(args)) {}

  void start() { ASSERT_TRUE(box.start()) << box.error(); }

  // Waits until the handler is in place, that is, until the first pass has ended.
  void interruptAfterFirstPass(int sig = SIGINT) {
    ASSERT_TRUE(box.collectUntil([&] { return box.catches(sig); })) << "no handler";
    box.send(sig);
  }

  bool lineHas(const std::string& bytes) {
    return box.collectUntil([&] { return box.line().find(bytes) != std::string::npos; });
  }

  void expectStoppedCleanly() {
    const int status = box.finish();
    ASSERT_TRUE(WIFEXITED(status)) << box.error();
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(endsWith(box.out(), farewell))
        << "output ends: "
        << box.out().substr(box.out().size() - std::min<size_t>(box.out().size(), 40));
    EXPECT_EQ(countOf(box.out(), farewell), 1U);
  }

  Sandbox box;
};

// Every signal that ends the controller stops the board first.
struct Ending {
  const char* name;
  int sig;
};

void PrintTo(const Ending& e, std::ostream* os) { *os << e.name; }

class SteerEndedBy : public SteerOnALine, public testing::WithParamInterface<Ending> {};

TEST_P(SteerEndedBy, SendsFramesEchoesThemAndEndsWithTheStopSequence) {
  box.writeFile("t.txt", "300 100\n320 100\n300 300\n340 300\n");
  box.writeFile("b.txt", "(400.0, 200.0)\n");
  start();
  ASSERT_TRUE(lineHas("\x32\x81\x32\x81"));
  interruptAfterFirstPass(GetParam().sig);
  expectStoppedCleanly();

  // Whole frames, perhaps the power byte of an interrupted one, then the stop and nothing else.
  const std::string& line = box.line();
  ASSERT_TRUE(endsWith(line, stopSequence));
  const std::string frames = line.substr(0, line.size() - stopSequence.size());
  for (size_t i = 0; i < frames.size(); ++i) {
    ASSERT_EQ(frames[i], i % 2 == 0 ? '\x32' : '\x81') << "byte " << i;
  }
  // One echo for every frame that went out before the stop was asked for; the interrupted pass
  // echoes nothing, even when its frame had already gone out whole.
  const size_t echoes = countOf(box.out(), "nap = 1, pwr = 50");
  const size_t whole = frames.size() / 2;
  EXPECT_TRUE(echoes == whole || (echoes + 1 == whole && frames.size() % 2 == 0))
      << echoes << " echoes for " << frames.size() << " bytes";
  EXPECT_TRUE(endsWith(box.out(), "nap = 1, pwr = 50" + farewell));
}

INSTANTIATE_TEST_SUITE_P(Signals, SteerEndedBy,
                         testing::Values(Ending{"Interrupt", SIGINT}, Ending{"Terminate", SIGTERM},
                                         Ending{"HangUp", SIGHUP}, Ending{"Quit", SIGQUIT},
                                         Ending{"BrokenPipe", SIGPIPE}),
                         [](const testing::TestParamInfo<Ending>& info) {
                           return info.param.name;
                         });

TEST_F(SteerOnALine, ReaderOfItsOutputGoingAwayStopsTheBoardOnce) {
  box.writeFile("b.txt", "(400.0, 200.0)\n");
  start();
  ASSERT_TRUE(lineHas("\x32\x81\x32\x81"));
  ASSERT_TRUE(box.collectUntil([this] { return box.catches(SIGPIPE); }));
  box.closeOutput();  // the next full buffer of echoes finds no reader
  const int status = box.finish();
  ASSERT_TRUE(WIFEXITED(status)) << box.error();
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(endsWith(box.line(), stopSequence));
  EXPECT_EQ(countOf(box.line(), stopSequence), 1U) << "its own failed farewell stopped it again";
}

TEST_F(SteerOnALine, CtrlZStopsTheBoardSuspendsAndCarriesOnWhenContinued) {
  box.writeFile("b.txt", "(400.0, 200.0)\n");
  start();
  ASSERT_TRUE(lineHas("\x32\x81\x32\x81"));
  ASSERT_TRUE(box.collectUntil([this] { return box.catches(SIGTSTP); }));
  box.send(SIGTSTP);
  ASSERT_TRUE(box.collectUntil([this] { return box.suspended(); }));
  ASSERT_TRUE(box.collectUntil([this] { return endsWith(box.line(), stopSequence); }));
  const size_t atStop = box.line().size();
  EXPECT_FALSE(box.collectUntil([&] { return box.line().size() > atStop; }, 0.2))
      << "the board was sent something while suspended";
  EXPECT_TRUE(box.suspended());
  EXPECT_EQ(countOf(box.out(), farewell), 0U);

  box.send(SIGCONT);
  EXPECT_TRUE(box.collectUntil([&] { return box.line().find("\x32\x81", atStop) != npos; }));
  interruptAfterFirstPass();
  expectStoppedCleanly();
}

TEST_F(SteerOnALine, WithoutStaleAfterKeepsSteeringOnUnchangedFiles) {
  box.writeFile("b.txt", "(400.0, 200.0)\n");
  start();
  box.collectUntil([] { return false; }, 0.3);
  const size_t later = box.line().size();
  EXPECT_TRUE(lineHas("\x32\x81") && box.collectUntil([&] { return box.line().size() > later; }));
  interruptAfterFirstPass();
  expectStoppedCleanly();
  EXPECT_EQ(box.err(), "");
}

class SteerWithStaleAfter : public SteerOnALine {
 protected:
  SteerWithStaleAfter() : SteerOnALine("/dev/ttyUSB0", {"--stale-after", "100"}) {}
};

TEST_F(SteerWithStaleAfter, GoesQuietWhenTheFilesStopChangingAndSteersAgainOnARewrite) {
  const std::string quiet = "steer: no new positions for 100 ms; board stopped\n";
  box.writeFile("b.txt", "(400.0, 200.0)\n");
  start();
  ASSERT_TRUE(box.collectUntil([&] { return box.err() == quiet; })) << box.err();
  ASSERT_TRUE(box.collectUntil([this] { return endsWith(box.line(), stopSequence); }));
  const size_t atStop = box.line().size();
  EXPECT_FALSE(box.collectUntil([&] { return box.line().size() > atStop; }, 0.2));
  const size_t frames = countOf(box.line(), "\x32\x81");

  box.writeFile("b.txt", "(100.0, 200.0)\n");
  ASSERT_TRUE(box.collectUntil([&] { return box.line().find("\x32\x82", atStop) != npos; }));
  EXPECT_EQ(box.err(), quiet + "steer: positions changed; steering again\n");
  interruptAfterFirstPass();
  expectStoppedCleanly();
  EXPECT_EQ(countOf(box.out(), "nap = 1"), frames) << "an echo without its frame while quiet";
  EXPECT_EQ(countOf(box.line(), stopSequence), 2U);
}

// A command line it does not take: a reason and the usage, status 2, and the board left alone.
struct Arguments {
  const char* name;
  std::vector<std::string> args;
  int status;
  std::string says;  // on standard output for status 0, on standard error otherwise
};

void PrintTo(const Arguments& a, std::ostream* os) { *os << a.name; }

class SteerArguments : public testing::TestWithParam<Arguments> {};

TEST_P(SteerArguments, AnswerWithoutTouchingTheBoard) {
  const Arguments& a = GetParam();
  Sandbox box(STEER_PROGRAM, "/dev/ttyUSB0", a.args);
  box.writeFile("b.txt", "(400.0, 200.0)\n");
  ASSERT_TRUE(box.start()) << box.error();
  const int status = box.finish();
  ASSERT_TRUE(WIFEXITED(status)) << box.error();
  EXPECT_EQ(WEXITSTATUS(status), a.status);
  EXPECT_EQ(box.line(), "");
  const std::string& said = a.status == 0 ? box.out() : box.err();
  EXPECT_EQ(said.rfind(a.says, 0), 0U) << said;
  if (a.status != 0) {
    EXPECT_EQ(box.out(), "");
    EXPECT_NE(said.find("\nUsage: steer [--stale-after MS]\n"), npos) << said;
  }
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, SteerArguments,
    testing::Values(
        Arguments{"Help", {"--help"}, 0, "Usage: steer [--stale-after MS]\n"},
        Arguments{"Version", {"--version"}, 0, "steer " STEER_VERSION "\n"},
        Arguments{"UnknownOption", {"--fast"}, 2, "steer: unknown option '--fast'"},
        Arguments{"StrayArgument", {"t.txt"}, 2, "steer: unexpected argument 't.txt'"},
        Arguments{"NoMilliseconds", {"--stale-after"}, 2, "steer: option needs a number"},
        Arguments{"ZeroMilliseconds", {"--stale-after", "0"}, 2, "steer: --stale-after takes"},
        Arguments{"UnitAfterTheNumber", {"--stale-after=10ms"}, 2, "steer: --stale-after takes"},
        Arguments{"Negative", {"--stale-after", "-5"}, 2, "steer: --stale-after takes"},
        Arguments{"TooLarge", {"--stale-after", "99999999999"}, 2, "steer: --stale-after takes"}),
    [](const testing::TestParamInfo<Arguments>& info) { return info.param.name; });

TEST_F(SteerOnALine, FollowsFilesRewrittenWhileItRuns) {
  box.writeFile("b.txt", "(400, 0)");
  start();
  ASSERT_TRUE(lineHas("\x32\x81"));
  box.writeFile("b.txt", "(100, 0)");
  ASSERT_TRUE(lineHas("\x32\x82"));
  box.writeFile("t.txt", "0 0 400 0 0 0 400 0");
  box.writeFile("b.txt", "(320, 0)");
  ASSERT_TRUE(lineHas("\x32\x84"));
  box.writeFile("t.txt", "0 0 320 0 0 0 320 0");
  ASSERT_TRUE(lineHas("\x64\x85\x64\x85"));  // so the first has surely been echoed
  interruptAfterFirstPass();
  expectStoppedCleanly();
  for (const char* echo :
       {"nap = 1, pwr = 50", "nap = 2, pwr = 50", "nap = 4, pwr = 50", "nap = 5, pwr = 100"}) {
    EXPECT_NE(box.out().find(echo), std::string::npos) << echo;
  }
}

TEST_F(SteerOnALine, MissingFilesLeaveTheObjectAtZeroSoItTurnsLeft) {
  start();
  ASSERT_TRUE(lineHas("\x32\x82\x32\x82"));
  interruptAfterFirstPass();
  expectStoppedCleanly();
  EXPECT_EQ(box.out().rfind("nap = 2, pwr = 50", 0), 0U);
  EXPECT_EQ(box.line().find_first_not_of(std::string("\x32\x82\x00\x80", 4)), std::string::npos);
}

TEST_F(SteerOnALine, InterruptDuringTheFirstPassMeetsTheDefaultAction) {
  box.makeFifo("t.txt");  // the first pass waits here for a writer that never comes
  start();
  ASSERT_FALSE(box.catches(SIGINT));
  box.send(SIGINT);
  const int status = box.finish();
  ASSERT_TRUE(WIFSIGNALED(status)) << box.error();
  EXPECT_EQ(WTERMSIG(status), SIGINT);
  EXPECT_EQ(box.line(), "");
  EXPECT_EQ(box.out(), "");
}

TEST_F(SteerOnALine, PendingStopGoesOutAsSoonAsABlockedReadEnds) {
  box.makeFifo("b.txt");
  start();
  // Let the first pass through, then hold the second one in its read of the object.
  int writer = -1;
  ASSERT_TRUE(box.collectUntil([&] { return (writer = box.openFifoForWriting("b.txt")) >= 0; }));
  ASSERT_GT(write(writer, "(400, 0)", 8), 0);
  close(writer);
  ASSERT_TRUE(box.collectUntil([&] { return box.catches(SIGINT); }));
  ASSERT_TRUE(box.collectUntil([&] { return (writer = box.openFifoForWriting("b.txt")) >= 0; }));
  box.send(SIGINT);
  ASSERT_GT(write(writer, "(400, 0)", 8), 0);
  close(writer);
  expectStoppedCleanly();
  // The first pass's frame, then the stop; the interrupted pass sends no command of its own.
  EXPECT_EQ(box.line(), "\x32\x81" + stopSequence);
  EXPECT_EQ(box.out(), "nap = 1, pwr = 50" + farewell);
}

class SteerWithoutABoard : public SteerOnALine {
 protected:
  SteerWithoutABoard() : SteerOnALine("") {}
};

TEST_F(SteerWithoutABoard, KeepsEchoingAndStillStops) {
  box.writeFile("b.txt", "(400, 0)");
  start();
  // Standard output is a pipe here, so the echoes arrive a buffer at a time.
  ASSERT_TRUE(box.collectUntil([this] { return countOf(box.out(), "nap = 1, pwr = 50") >= 100; }));
  interruptAfterFirstPass();
  expectStoppedCleanly();
}
