// The built controller, run as a user runs it, with a pseudo-terminal as its board.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "tests/sandbox.h"
#include "tests/text.h"

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

  // Waits until the first pass has ended, so that the handlers are in place: the next pass has
  // begun its command on the line, or several commands have been echoed.
  void afterFirstPass() {
    ASSERT_TRUE(box.collectUntil(
        [this] { return box.line().size() > 2 || countOf(box.out(), "nap") > 1; }));
  }

  void interruptAfterFirstPass(int sig = SIGINT) {
    afterFirstPass();
    box.send(sig);
  }

  // Whether `bytes` come on the line at or after `from`; decided as soon as they do, or once
  // plenty more has come without them.
  bool lineHas(const std::string& bytes, size_t from = 0) {
    constexpr size_t plenty = 8192;
    box.collectUntil(
        [&] { return box.line().find(bytes, from) != npos || box.line().size() > from + plenty; });
    return box.line().find(bytes, from) != npos;
  }

  // Waits until the program is in its read of the FIFO `name`: its open has met our writer, and
  // no data has come. Returns the writer, or -1 when it never got there.
  int holdReadOf(const std::string& name) {
    int writer = -1;
    box.collectUntil([&] { return (writer = box.openFifoForWriting(name)) >= 0; });
    return writer;
  }

  // Lets a read held by holdReadOf go on with `text`.
  static void release(int writer, const std::string& text) {
    EXPECT_EQ(write(writer, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(writer);
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
  box.closeOutput();  // the next full buffer of echoes finds no reader
  const int status = box.finish();
  ASSERT_TRUE(WIFEXITED(status)) << box.error();
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(endsWith(box.line(), stopSequence));
  EXPECT_EQ(countOf(box.line(), stopSequence), 1U) << "its own failed farewell stopped it again";
  EXPECT_EQ(box.err(), "");
}

TEST_F(SteerOnALine, CtrlZStopsTheBoardSuspendsAndCarriesOnWhenContinued) {
  box.writeFile("t.txt", "300 100\n320 100\n300 300\n340 300\n");
  box.writeFile("b.txt", "(400.0, 200.0)\n");
  start();
  size_t from = 0;
  for (size_t round = 1; round <= 2; ++round) {  // the second finds the handler back in place
    ASSERT_TRUE(lineHas("\x32\x81\x32\x81", from));
    box.send(SIGTSTP);
    ASSERT_TRUE(box.collectUntil([this] { return box.suspended(); }));
    ASSERT_TRUE(box.collectUntil([this] { return endsWith(box.line(), stopSequence); }));
    from = box.line().size();
    EXPECT_FALSE(box.collectUntil([&] { return box.line().size() > from; }, 0.2))
        << "the board was sent something while suspended";
    EXPECT_TRUE(box.suspended());
    // What it echoed before it suspended is out; a stopped pass may have sent a frame unechoed.
    const size_t frames = countOf(box.line(), "\x32\x81");
    const size_t echoes = countOf(box.out(), "nap = 1, pwr = 50");
    EXPECT_TRUE(echoes <= frames && frames <= echoes + round) << echoes << " for " << frames;
    EXPECT_EQ(box.out(), repeat("nap = 1, pwr = 50", echoes));
    EXPECT_EQ(countOf(box.line(), stopSequence), round);
    box.send(SIGCONT);
  }
  EXPECT_TRUE(lineHas("\x32\x81", from));
  interruptAfterFirstPass();
  expectStoppedCleanly();
  EXPECT_EQ(box.err(), "");
}

TEST_F(SteerOnALine, WithoutStaleAfterKeepsSteeringOnUnchangedFiles) {
  box.writeFile("t.txt", "300 100\n320 100\n300 300\n340 300\n");
  box.writeFile("b.txt", "(400.0, 200.0)\n");
  start();
  ASSERT_TRUE(lineHas("\x32\x81"));
  const size_t files = box.openFiles();
  box.collectUntil([] { return false; }, 0.3);
  const size_t later = box.line().size();
  EXPECT_TRUE(lineHas("\x32\x81", later));
  // Thousands of passes later it holds no more files than at any one step: none leaks.
  EXPECT_LE(box.openFiles(), files + 1);
  interruptAfterFirstPass();
  expectStoppedCleanly();
  EXPECT_EQ(box.err(), "");
}

class SteerOnAnotherDevice : public SteerOnALine {
 protected:
  SteerOnAnotherDevice() : SteerOnALine("/dev/ttyACM1", {"--device=/dev/ttyACM1"}) {}
};

TEST_F(SteerOnAnotherDevice, SteersTheBoardThereAndStopsIt) {
  box.writeFile("t.txt", "300 100\n320 100\n300 300\n340 300\n");
  box.writeFile("b.txt", "(400.0, 200.0)\n");
  start();
  ASSERT_TRUE(lineHas("\x32\x81\x32\x81"));
  interruptAfterFirstPass();
  expectStoppedCleanly();
  EXPECT_TRUE(endsWith(box.line(), stopSequence));
  EXPECT_EQ(box.err(), "");
}

class SteerWithStaleAfter : public SteerOnALine {
 protected:
  SteerWithStaleAfter() : SteerOnALine("/dev/ttyUSB0", {"--stale-after", "100"}) {}
};

// How a producer may change a position file; each way counts as new positions.
enum class Rewrite {
  replaced,
  inPlaceWithinTheSecond,
  replacedKeepingSizeAndTime,
  grownKeepingTime,
  removed
};

struct Change {
  const char* file;
  std::string text;
  Rewrite how;
  const char* frame;  // what is sent once steering again
};

timespec modified(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  return st.st_mtim;
}

void setModified(const std::string& path, timespec when) {
  const timespec times[2] = {{0, UTIME_OMIT}, when};
  EXPECT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

TEST_F(SteerWithStaleAfter, StopsTheBoardWhenTheFilesStopChangingAndSteersAgainOnAnyChange) {
  const std::string quiet = "steer: no new positions for 100 ms; board stopped\n";
  const std::string again = "steer: positions changed; steering again\n";
  box.writeFile("t.txt", "300 100\n320 100\n300 300\n340 300\n");
  box.writeFile("b.txt", "(400.0, 200.0)\n");
  start();
  std::string told = quiet;
  ASSERT_TRUE(box.collectUntil([&] { return box.err() == told; })) << box.err();
  ASSERT_TRUE(box.collectUntil([this] { return endsWith(box.line(), stopSequence); }));
  ASSERT_NE(box.line().find("\x32\x81"), npos);
  const Change changes[] = {
      {"b.txt", "(100.0, 200.0)\n", Rewrite::replaced, "\x32\x82"},
      {"b.txt", "(400.0, 200.0)\n", Rewrite::inPlaceWithinTheSecond, "\x32\x81"},
      {"b.txt", "(100.0, 200.0)\n", Rewrite::replacedKeepingSizeAndTime, "\x32\x82"},
      {"b.txt", "(400.0, 200.00)\n", Rewrite::grownKeepingTime, "\x32\x81"},
      {"t.txt", "0 0 0 0 0 0 0 0\n", Rewrite::replaced, "\x32\x81"},
      {"t.txt", "", Rewrite::removed, "\x32\x81"},
  };
  for (const Change& c : changes) {
    // Made while it is stopped, so that it sees each change whole and nothing in between.
    box.send(SIGSTOP);
    ASSERT_TRUE(box.collectUntil([this] { return box.suspended(); }));
    ASSERT_TRUE(endsWith(box.line(), stopSequence)) << "sent while quiet";
    const size_t atStop = box.line().size();
    const std::string path = box.dir() + "/" + c.file;
    timespec was = modified(path);
    switch (c.how) {
      case Rewrite::replaced:
        box.writeFile(c.file, c.text);
        break;
      case Rewrite::inPlaceWithinTheSecond:
        std::ofstream(path, std::ios::trunc) << c.text;
        was.tv_nsec += was.tv_nsec < 500000000 ? 1000000 : -1000000;
        setModified(path, was);
        break;
      case Rewrite::replacedKeepingSizeAndTime:
        std::ofstream(path + ".new") << c.text;
        setModified(path + ".new", was);
        std::filesystem::rename(path + ".new", path);
        break;
      case Rewrite::grownKeepingTime:
        std::ofstream(path, std::ios::trunc) << c.text;
        setModified(path, was);
        break;
      case Rewrite::removed:
        std::filesystem::remove(path);
        break;
    }
    box.send(SIGCONT);
    ASSERT_TRUE(lineHas(c.frame, atStop)) << c.text;
    told += again + quiet;
    if (c.how == Rewrite::removed) told += "steer: t.txt is missing; keeping its last values\n";
    ASSERT_TRUE(box.collectUntil([&] { return box.err() == told; })) << box.err();
    ASSERT_TRUE(box.collectUntil([this] { return endsWith(box.line(), stopSequence); }));
  }
  box.send(SIGINT);
  expectStoppedCleanly();
  EXPECT_EQ(box.err(), told);
  // Frames and one stop each time it went quiet, and one at the end; an echo for every frame.
  const size_t right = countOf(box.line(), "\x32\x81");
  const size_t left = countOf(box.line(), "\x32\x82");
  const size_t stops = countOf(box.line(), stopSequence);
  EXPECT_EQ(stops, std::size(changes) + 2);
  EXPECT_EQ(box.line().size(), 2 * (right + left) + stops * stopSequence.size());
  EXPECT_EQ(countOf(box.out(), "nap = 1, pwr = 50"), right);
  EXPECT_EQ(countOf(box.out(), "nap = 2, pwr = 50"), left);
}

// A command line it does not take: a reason and the usage, status 2, and the board left alone.
struct Arguments {
  const char* name;
  std::vector<std::string> args;
  int status;
  std::string says;  // the start of standard output for status 0; else standard error's first line
};

void PrintTo(const Arguments& a, std::ostream* os) { *os << a.name; }

class SteerArguments : public testing::TestWithParam<Arguments> {};

const std::string usage =
    "Usage: steer [--device PATH] [--stale-after MS] [--band PX] [--turn-power N]\n"
    "             [--drive-power N] [--approach [--aim-gain PCT] [--aim-limit PX]\n"
    "             [--near-row ROW] [--line-up DEG] [--arc-power N] [--spin-rate DEG/S]\n"
    "             [--view DEG] [--latency MS]]\n"
    "       steer --help | --version\n";

TEST_P(SteerArguments, AnswerWithoutTouchingTheBoard) {
  const Arguments& a = GetParam();
  Sandbox box(STEER_PROGRAM, "/dev/ttyUSB0", a.args);
  box.writeFile("b.txt", "(400.0, 200.0)\n");
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

const std::string notMs =
    "steer: --stale-after takes a whole number of milliseconds, 1 or more, not ";
const std::string notBand = "steer: --band takes a whole number of columns from 0 to 320, not ";
const std::string notDevice =
    "steer: --device takes a character device (or one yet to appear), not ";

INSTANTIATE_TEST_SUITE_P(
    CommandLine, SteerArguments,
    testing::Values(
        Arguments{"Help", {"--help"}, 0, usage + "Steers a robot"},
        Arguments{"ShortHelpAfterAnOption", {"--stale-after", "5", "-h"}, 0, usage},
        Arguments{"Version", {"--version", "--fast"}, 0, "steer " STEER_VERSION "\n"},
        Arguments{"NoDevicePath", {"--device"}, 2, "steer: option needs a device path: '--device'"},
        Arguments{"EmptyDevicePath", {"--device="}, 2, notDevice + "''"},
        Arguments{"DeviceIsAFolder", {"--device", "/dev"}, 2, notDevice + "'/dev'"},
        Arguments{"DeviceIsAFile", {"--device=b.txt"}, 2, notDevice + "'b.txt'"},
        Arguments{"UnknownOption", {"--fast"}, 2, "steer: unknown option '--fast'"},
        Arguments{"AimGainBeyondItsRange",
                  {"--approach", "--aim-gain", "1001"},
                  2,
                  "steer: --aim-gain takes a whole number of percent from 0 to 1000, not '1001'"},
        Arguments{"OptionWithATail",
                  {"--devices", "/dev/ttyUSB0"},
                  2,
                  "steer: unknown option '--devices'"},
        Arguments{
            "MillisecondsRunOn", {"--stale-after5"}, 2, "steer: unknown option '--stale-after5'"},
        Arguments{"StrayArgument", {"t.txt"}, 2, "steer: unexpected argument 't.txt'"},
        Arguments{"NoMilliseconds",
                  {"--stale-after"},
                  2,
                  "steer: option needs a number of milliseconds: '--stale-after'"},
        Arguments{"EmptyMilliseconds", {"--stale-after="}, 2, notMs + "''"},
        Arguments{"ZeroMilliseconds", {"--stale-after", "0"}, 2, notMs + "'0'"},
        Arguments{"UnitAfterTheNumber", {"--stale-after=10ms"}, 2, notMs + "'10ms'"},
        Arguments{"Fraction", {"--stale-after", "1.5"}, 2, notMs + "'1.5'"},
        Arguments{"Negative", {"--stale-after", "-5"}, 2, notMs + "'-5'"},
        Arguments{"PlusSign", {"--stale-after", "+5"}, 2, notMs + "'+5'"},
        Arguments{"LeadingBlank", {"--stale-after", " 5"}, 2, notMs + "' 5'"},
        Arguments{"JustTooLarge", {"--stale-after", "2147483648"}, 2, notMs + "'2147483648'"},
        Arguments{"FarTooLarge",
                  {"--stale-after", "99999999999999999999"},
                  2,
                  notMs + "'99999999999999999999'"},
        Arguments{"BandAndPowersBeforeHelp",
                  {"--band=0", "--turn-power", "127", "--drive-power=0", "-h"},
                  0,
                  usage},
        Arguments{"BandWiderThanTheFrame", {"--band", "321"}, 2, notBand + "'321'"},
        Arguments{"NoPower", {"--drive-power"}, 2, "steer: option needs a number: '--drive-power'"},
        Arguments{"PowerWithTheTopBitSet",
                  {"--turn-power=128"},
                  2,
                  "steer: --turn-power takes a whole number from 0 to 127, not '128'"},
        Arguments{"NegativePower",
                  {"--drive-power", "-1"},
                  2,
                  "steer: --drive-power takes a whole number from 0 to 127, not '-1'"}),
    [](const testing::TestParamInfo<Arguments>& info) { return info.param.name; });

// With a stale time it never reaches, it steers as without one, and says nothing of changes.
class SteerWithTheLongestStaleAfter : public SteerOnALine {
 protected:
  SteerWithTheLongestStaleAfter() : SteerOnALine("/dev/ttyUSB0", {"--stale-after=2147483647"}) {}
};

TEST_F(SteerWithTheLongestStaleAfter, FollowsFilesRewrittenWhileItRuns) {
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
  EXPECT_EQ(box.err(), "");
}

// Position files that cannot steer send nothing: none before b.txt has been read whole, and none
// for an object that is not a number.
struct Unusable {
  const char* name;
  const char* object;  // b.txt, or nullptr for none
  std::string frame;   // what every pass sends
  std::string echo;
  std::string told;
};

void PrintTo(const Unusable& u, std::ostream* os) { *os << u.name; }

class SteerOnUnusableFiles : public SteerOnALine, public testing::WithParamInterface<Unusable> {};

TEST_P(SteerOnUnusableFiles, SendsWhatTheirValuesAmountTo) {
  const Unusable& u = GetParam();
  if (u.object != nullptr) box.writeFile("b.txt", u.object);
  start();
  // Told once the files have been found wanting for 200 ms, long after the first pass; both in
  // the order their 200 ms ran out, which the clock's millisecond may turn either way.
  const auto lines = [](const std::string& text) {
    std::multiset<std::string> all;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) all.insert(line);
    return all;
  };
  ASSERT_TRUE(box.collectUntil([&] { return lines(box.err()) == lines(u.told); })) << box.err();
  box.send(SIGINT);
  expectStoppedCleanly();
  EXPECT_EQ(lines(box.err()), lines(u.told)) << box.err();
  EXPECT_EQ(box.err().size(), u.told.size());
  const size_t frames = u.frame.empty() ? 0 : countOf(box.line(), u.frame);
  const bool cutOff = box.line().size() == 2 * frames + 1 + stopSequence.size();
  EXPECT_EQ(box.line(),
            repeat(u.frame, frames) + (cutOff ? u.frame.substr(0, 1) : "") + stopSequence);
  const size_t echoes = u.echo.empty() ? 0 : countOf(box.out(), u.echo);
  EXPECT_TRUE(echoes == frames || echoes + 1 == frames) << echoes << " for " << frames;
  EXPECT_EQ(box.out(), repeat(u.echo, echoes) + farewell);
}

// Files never read whole have no last values to keep.
const std::string goalMissing = "steer: t.txt is missing; waiting for it\n";

INSTANTIATE_TEST_SUITE_P(
    Files, SteerOnUnusableFiles,
    testing::Values(Unusable{"MissingSendNothingUntilTheObjectIsRead", nullptr, "", "",
                             "steer: waiting for b.txt before steering\n" + goalMissing +
                                 "steer: b.txt is missing; waiting for it\n"},
                    Unusable{"ObjectNotANumber", "(nan, 200)", "", "", goalMissing}),
    [](const testing::TestParamInfo<Unusable>& info) { return info.param.name; });

TEST_F(SteerOnALine, InterruptDuringTheFirstPassMeetsTheDefaultAction) {
  box.makeFifo("t.txt");
  start();
  const int writer = holdReadOf("t.txt");
  ASSERT_GE(writer, 0) << "the first pass never read the goal points";
  box.send(SIGINT);
  close(writer);  // had a handler caught it, the pass would now go on and the program end cleanly
  const int status = box.finish();
  ASSERT_TRUE(WIFSIGNALED(status)) << box.error();
  EXPECT_EQ(WTERMSIG(status), SIGINT);
  EXPECT_EQ(box.line(), "");
  EXPECT_EQ(box.out(), "");
}

// A pass held in a blocked read of one position file while a stop is asked for: the stop goes
// out as soon as that read ends, and nothing more is read, sent or echoed.
struct BlockedRead {
  const char* name;
  const char* file;
  const char* text;  // what the read gets when it is let go
};

void PrintTo(const BlockedRead& b, std::ostream* os) { *os << b.name; }

class PendingStop : public SteerOnALine, public testing::WithParamInterface<BlockedRead> {};

TEST_P(PendingStop, GoesOutAsSoonAsABlockedReadEnds) {
  const BlockedRead& held = GetParam();
  box.writeFile("b.txt", "(400, 0)");
  start();
  ASSERT_TRUE(lineHas("\x32\x81"));
  box.makeFifo("b.txt");
  int writer = holdReadOf("b.txt");
  ASSERT_GE(writer, 0);
  if (std::string(held.file) == "t.txt") {
    box.makeFifo("t.txt");  // the held pass has read it already
    release(writer, "(400, 0)");
    writer = holdReadOf("t.txt");  // the next pass, which has not read the object yet
    ASSERT_GE(writer, 0);
  }
  box.makeFifo("b.txt");  // a fresh one, which no pass may open any more
  box.send(SIGINT);
  release(writer, held.text);
  // Decided once it has ended, or has gone on to read the object again.
  int late = -1;
  box.collectUntil([&] { return !box.running() || (late = box.openFifoForWriting("b.txt")) >= 0; });
  EXPECT_LT(late, 0) << "it read on after the stop was asked for";
  if (late >= 0) close(late);
  expectStoppedCleanly();
  const size_t frames = countOf(box.line(), "\x32\x81");
  EXPECT_EQ(box.line(), repeat("\x32\x81", frames) + stopSequence);
  EXPECT_EQ(box.out(), repeat("nap = 1, pwr = 50", frames) + farewell);
}

INSTANTIATE_TEST_SUITE_P(Reads, PendingStop,
                         testing::Values(BlockedRead{"GoalPoints", "t.txt", "0 0 0 0 0 0 0 0\n"},
                                         BlockedRead{"ObjectPosition", "b.txt", "(400, 0)"}),
                         [](const testing::TestParamInfo<BlockedRead>& info) {
                           return info.param.name;
                         });

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

// What the operator is told on standard error when the board's device is not there to take the
// commands: one line, however many passes meet it; the echo goes on, and the exit status says
// whether the stop sequence could have reached a board.
struct LinkTrouble {
  const char* name;
  const char* device;  // the node the program finds; steer looks for /dev/ttyUSB0
  bool denied;
  std::string says;
  int status;
  std::vector<std::string> args = {};
};

void PrintTo(const LinkTrouble& t, std::ostream* os) { *os << t.name; }

class SteerWithoutItsBoard : public testing::TestWithParam<LinkTrouble> {};

TEST_P(SteerWithoutItsBoard, SaysSoOnceAndStillDecidesEchoesAndStops) {
  const LinkTrouble& t = GetParam();
  Sandbox box(STEER_PROGRAM, t.device, t.args);
  if (t.denied) box.denyDevice();
  box.writeFile("t.txt", "300 100\n320 100\n300 300\n340 300\n");
  box.writeFile("b.txt", "(400, 0)");
  ASSERT_TRUE(box.start()) << box.error();
  ASSERT_TRUE(box.collectUntil([&] { return countOf(box.out(), "nap = 1, pwr = 50") >= 200; }));
  box.send(SIGINT);
  const int status = box.finish();
  ASSERT_TRUE(WIFEXITED(status)) << box.error();
  EXPECT_EQ(WEXITSTATUS(status), t.status);
  EXPECT_EQ(box.line(), "");
  EXPECT_TRUE(endsWith(box.out(), "nap = 1, pwr = 50" + farewell));
  const std::string missed = "steer: the stop sequence did not reach /dev/ttyUSB0: ";
  EXPECT_EQ(box.err(), t.says + (t.status == 0 ? ""
                                               : missed + "permission denied; the board may "
                                                          "still be driving\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Devices, SteerWithoutItsBoard,
    testing::Values(
        LinkTrouble{"NoDeviceAtAll", "", false,
                    "steer: no board at /dev/ttyUSB0 (no such device); no serial devices here; "
                    "steer decides and echoes only until it appears\n",
                    0},
        LinkTrouble{"BoardUnderAnotherName", "/dev/ttyACM0", false,
                    "steer: no board at /dev/ttyUSB0 (no such device); serial devices here: "
                    "/dev/ttyACM0 (choose one with --device PATH); steer decides and echoes only "
                    "until it appears\n",
                    0},
        LinkTrouble{"DeviceYetToAppear",
                    "/dev/ttyUSB0",
                    false,
                    "steer: no board at /dev/ttyUSB7 (no such device); serial devices here: "
                    "/dev/ttyUSB0 (choose one with --device PATH); steer decides and echoes only "
                    "until it appears\n",
                    0,
                    {"--device", "/dev/ttyUSB7"}},
        LinkTrouble{"NoPermission", "/dev/ttyUSB0", true,
                    "steer: cannot open /dev/ttyUSB0: permission denied; add yourself to the "
                    "dialout group (sudo usermod -aG dialout $USER) and log in again\n",
                    1}),
    [](const testing::TestParamInfo<LinkTrouble>& info) { return info.param.name; });

TEST_F(SteerOnALine, SteersTheBoardOnceItsDeviceAppears) {
  Sandbox late(STEER_PROGRAM, "/dev/ttyACM0");
  late.writeFile("b.txt", "(400, 0)");
  ASSERT_TRUE(late.start()) << late.error();
  ASSERT_TRUE(late.collectUntil([&] { return countOf(late.err(), "\n") == 1; }));
  ASSERT_TRUE(late.linkDevice("/dev/ttyUSB0", "ttyACM0"));
  ASSERT_TRUE(late.collectUntil([&] { return late.line().find("\x32\x81") != npos; }));
  late.send(SIGINT);
  const int status = late.finish();
  ASSERT_TRUE(WIFEXITED(status)) << late.error();
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(endsWith(late.line(), stopSequence));
  EXPECT_NE(late.err().find("\nsteer: /dev/ttyUSB0 works; the board gets commands\n"), npos)
      << late.err();
}

TEST_F(SteerOnALine, GivesUpOnALineThatTakesNoBytesAndStillEndsOnASignal) {
  box.writeFile("t.txt", "300 100\n320 100\n300 300\n340 300\n");
  box.writeFile("b.txt", "(400, 0)");
  start();
  afterFirstPass();
  box.holdLine(true);
  const std::string stuck =
      "steer: /dev/ttyUSB0 took no byte for 500 ms; gave it up; the board is not getting "
      "commands\n";
  ASSERT_TRUE(box.collectUntil([&] { return box.err() == stuck; })) << box.err();
  const size_t before = box.line().size();
  box.send(SIGINT);
  const int status = box.finish(3);
  ASSERT_TRUE(WIFEXITED(status)) << box.error();
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(box.err(), stuck +
                           "steer: the stop sequence did not reach /dev/ttyUSB0: the line took no "
                           "byte; the board may still be driving\n");
  EXPECT_TRUE(endsWith(box.out(), farewell));
  box.holdLine(false);  // what was given up was thrown away: nothing more comes
  EXPECT_FALSE(box.collectUntil([&] { return box.line().size() > before; }, 0.2));
}

TEST_F(SteerOnALine, TellsOfPositionFilesItCannotUseOnceAndWhenTheyAreWholeAgain) {
  box.writeFile("b.txt", "400, 200");
  start();
  const std::string goal = "steer: t.txt is missing; waiting for it\n";
  const std::string object = "steer: b.txt holds less than \"(x, y\"; waiting for a whole one\n";
  const std::string waiting = "steer: waiting for b.txt before steering\n";
  // The wait at once, then both once, in the order their 200 ms ran out.
  ASSERT_TRUE(box.collectUntil(
      [&] { return box.err().size() == waiting.size() + goal.size() + object.size(); }));
  const std::string broken = box.err();
  EXPECT_TRUE(broken == waiting + goal + object || broken == waiting + object + goal) << broken;
  const std::string whole = "steer: b.txt reads whole\n";
  box.writeFile("b.txt", "(400, 0)");
  ASSERT_TRUE(box.collectUntil([&] { return box.err() == broken + whole; })) << box.err();
  // A producer that rewrites a file in place empties it for a moment: that is not news. Here the
  // moment is one read that finds b.txt empty; the next pass finds it whole.
  box.makeFifo("b.txt");
  const int writer = holdReadOf("b.txt");
  ASSERT_GE(writer, 0);
  box.writeFile("b.txt", "(400, 0)");
  const size_t from = box.line().size();
  const auto emptied = std::chrono::steady_clock::now();
  close(writer);
  // Its frame, and that of the next pass, which read the file whole.
  ASSERT_TRUE(box.collectUntil([&] { return countOf(box.line().substr(from), "\x32\x81") >= 2; }));
  if (std::chrono::steady_clock::now() - emptied >= std::chrono::milliseconds(150)) {
    GTEST_SKIP() << "too slow to tell a passing state from a lasting one";
  }
  EXPECT_EQ(box.err(), broken + whole);
  box.writeFile("t.txt", "0 0 320 0 0 0 320 0");
  const std::string all = broken + whole + "steer: t.txt reads whole\n";
  ASSERT_TRUE(box.collectUntil([&] { return box.err() == all; })) << box.err();
  interruptAfterFirstPass();
  expectStoppedCleanly();
  EXPECT_EQ(box.err(), all);
  // Nothing went out until the object was read whole; then it turned right.
  EXPECT_EQ(box.line().rfind("\x32\x81", 0), 0U);
}
