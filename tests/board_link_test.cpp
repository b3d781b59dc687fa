// The calls that reach the serial line for commands and stops, in order, recorded at the seam.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>

#include "serial/link_report.h"
#include "steer/signals.h"
#include "tests/controller_fixture.h"
#include "tests/recording_serial.h"
#include "tests/text.h"

using recording::Call;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

// Every byte travels in a whole cycle: an open of the board's device at 9600 baud, at most one
// "%c" write to the descriptor that open returned, a wait of ten clock ticks, a close of it.
void expectWholeCycles() {
  const auto& calls = recording::calls;
  for (size_t i = 0; i < calls.size();) {
    ASSERT_EQ(calls[i].kind, Call::Open) << "call " << i;
    EXPECT_EQ(calls[i].text, "/dev/ttyUSB0");
    EXPECT_EQ(calls[i].baud, 9600);
    const int fd = calls[i].fd;
    size_t next = i + 1;
    ASSERT_LT(next, calls.size());
    if (calls[next].kind == Call::Write) {
      EXPECT_EQ(calls[next].fd, fd);
      EXPECT_EQ(calls[next].text, "%c");
      ASSERT_LT(next + 1, calls.size());
      EXPECT_GE(calls[next + 1].at - calls[next].at, 10) << "no wait after the write " << next;
      ++next;
    }
    ASSERT_EQ(calls[next].kind, Call::Close) << "call " << next;
    EXPECT_EQ(calls[next].fd, fd) << "a cycle closed a descriptor it did not open";
    i = next + 1;
  }
}

}  // namespace

class BoardLink : public ControllerTest {};

TEST_F(BoardLink, CommandGoesOutAsPowerThenDirectionEachInItsOwnCycle) {
  CaptureStdout();
  controller.toArduino(1, 50);
  EXPECT_EQ(GetCapturedStdout(), "nap = 1, pwr = 50");
  EXPECT_EQ(recording::calls.size(), 6U);
  EXPECT_EQ(recording::bytes(), "\x32\x81");
  expectWholeCycles();
}

// A line whose room is gone between the wait for it and the write (its output stopped just
// then) is waited on again, and the byte written once there is room. A write that a signal
// interrupted, and that the layer then finished, leaves EINTR behind: it went out all the same.
TEST_F(BoardLink, AWriteThatFindsNoRoomWaitsAgainAndAnInterruptedOneIsDone) {
  recording::roomGoneWrites = 2;
  CaptureStdout();
  CaptureStderr();
  controller.toArduino(1, 50);
  recording::writeError = EINTR;
  recording::after = [](const Call& c) {
    if (c.kind == Call::Write) recording::writeError = 0;
  };
  controller.toArduino(2, 50);
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_EQ(GetCapturedStdout(), "nap = 1, pwr = 50nap = 2, pwr = 50");
  EXPECT_EQ(recording::bytes(), "\x32\x81\x32\x82");
  std::string kinds;
  for (const Call& c : recording::calls) kinds += "owcd"[c.kind];
  EXPECT_EQ(kinds, "owwwcowcowcowc");
}

// A line that fails for a moment and works again is not news: what the operator is told of it
// waits for a pause, by when the line works as it did.
TEST_F(BoardLink, ALineThatFailsForAMomentIsNotNews) {
  const std::int64_t start = clock.nowMs();
  CaptureStdout();
  CaptureStderr();
  controller.toArduino(1, 50);
  recording::writeError = EIO;
  recording::after = [](const Call& c) {
    if (c.kind == Call::Write) recording::writeError = 0;
  };
  controller.toArduino(1, 50);
  line.tell(false);
  const bool quick = clock.nowMs() - start < 200;
  EXPECT_EQ(GetCapturedStdout(), "nap = 1, pwr = 50nap = 1, pwr = 50");
  const std::string told = GetCapturedStderr();
  EXPECT_EQ(recording::bytes(), "\x32\x81\x81");
  if (!quick) GTEST_SKIP() << "too slow to tell a pause from none";
  EXPECT_EQ(told, "");
}

TEST_F(BoardLink, AlignedCommandCarriesItsOwnPowerNotTheProgramWideOne) {
  CaptureStdout();
  controller.toArduino(5, 100);
  EXPECT_EQ(GetCapturedStdout(), "nap = 5, pwr = 100");
  EXPECT_EQ(recording::bytes(), "\x64\x85");
}

TEST_F(BoardLink, SuccessiveEchoesRunTogetherWithoutLineBreaks) {
  CaptureStdout();
  controller.toArduino(2, 50);
  controller.toArduino(2, 50);
  EXPECT_EQ(GetCapturedStdout(), "nap = 2, pwr = 50nap = 2, pwr = 50");
}

TEST_F(BoardLink, HandlerOnlyRaisesTheFlagAndTheLoopSendsTheStop) {
  steer::signalHandler(SIGINT);
  EXPECT_EQ(steer::exit, 2);
  steer::signalHandler(SIGTSTP);  // a Ctrl-Z after it: the end's one stop serves both
  EXPECT_TRUE(recording::calls.empty()) << "the handler itself touched the line";

  CaptureStdout();
  controller.sendPendingStops();
  EXPECT_EQ(GetCapturedStdout(), farewell);
  EXPECT_EQ(recording::bytes(), std::string("\x00\x80", 2));
  expectWholeCycles();
  ASSERT_EQ(recording::calls.size(), 6U);
  EXPECT_GE(recording::calls[3].at - recording::calls[2].at, 10) << "no wait between the cycles";
}

// Ending signals that keep coming on a line that takes no byte: each gets its stop sequence, and
// all are done within 1.5 s of the first, however many come; before them a byte waits 0.5 s.
TEST_F(BoardLink, StopsOfTheEndAllFitInOneBoundOnALineThatTakesNoByte) {
  clock.hold();
  CaptureStdout();
  CaptureStderr();
  controller.toArduino(1, 50);
  recording::room = [this] {
    clock.advance(recording::bounds.back());  // the whole wait goes by
    return LineWait::timedOut;
  };
  for (int i = 0; i < 4; ++i) steer::signalHandler(SIGTERM);
  controller.sendPendingStops();
  EXPECT_EQ(recording::bounds,
            (std::vector<int>{500, 500, 500, 500, 500, 500, 500, 0, 0, 0, 0, 0}));
  EXPECT_EQ(countOf(GetCapturedStdout(), farewell), 4U);
  EXPECT_EQ(countOf(GetCapturedStderr(), "steer: the stop sequence did not reach"), 4U);
}

// --stale-after 100 over time. A producer that rewrites b.txt in place at a camera's rate, its
// size and second unchanged, is followed for many times the limit without a stop; quiet for the
// limit, the board is stopped once however long it stays quiet; writing again, steering resumes.
TEST_F(BoardLink, StaleAfterStopsOnceWhenTheProducerGoesQuietAndNeverWhileItWrites) {
  controller.settings.staleAfter = 100;
  clock.hold();
  write("t.txt", "0 0 0 0 0 0 0 0");
  long frame = 0;
  const auto produce = [&frame] {
    write("b.txt", frame % 2 == 0 ? "(400.0, 200.0)" : "(401.0, 200.0)");
    const timespec times[2] = {{0, UTIME_OMIT}, {1700000000, ++frame * 1000000}};
    EXPECT_EQ(utimensat(AT_FDCWD, "b.txt", times, 0), 0);
  };
  produce();
  controller.positionsStale();  // the first look only takes note
  produce();
  ASSERT_FALSE(controller.positionsStale());
  recording::reset();
  CaptureStderr();
  for (int i = 0; i < 40; ++i) {
    clock.advance(33);
    produce();
    EXPECT_FALSE(controller.positionsStale()) << "frame " << frame;
  }
  clock.advance(99);
  EXPECT_FALSE(controller.positionsStale());
  for (int ms : {1, 100, 1000, 10000}) {
    clock.advance(ms);
    EXPECT_TRUE(controller.positionsStale()) << ms;
  }
  EXPECT_EQ(recording::bytes(), std::string("\x00\x80", 2));
  for (int i = 0; i < 3; ++i) {
    produce();
    EXPECT_FALSE(controller.positionsStale());
    clock.advance(99);
  }
  EXPECT_EQ(GetCapturedStderr(),
            "steer: no new positions for 100 ms; board stopped\n"
            "steer: positions changed; steering again\n");
}

TEST_F(BoardLink, NothingButStopsGoesOutOnceAStopWasAskedFor) {
  steer::signalHandler(SIGINT);
  CaptureStdout();
  controller.sendPendingStops();
  recording::reset();
  controller.toArduino(1, 50);
  EXPECT_EQ(GetCapturedStdout(), farewell);
  EXPECT_TRUE(recording::calls.empty());
}

// The loop, with the object right of the band, interrupted right after a chosen call of its
// second pass (the handler is installed at the end of the first).
struct Interruption {
  const char* name;
  Call::Kind after;  // SIGINT comes right after the n-th call of this kind, counting from 1
  int n;
  int times;
  std::string line;  // what the board receives in all
};

void PrintTo(const Interruption& at, std::ostream* os) { *os << at.name; }

class InterruptedLoop : public ControllerTest, public testing::WithParamInterface<Interruption> {
 protected:
  void SetUp() override {
    ControllerTest::SetUp();
    write("b.txt", "(400.0, 200.0)");
  }
};

TEST_P(InterruptedLoop, SendsOnlyStopsOnceInterruptedAndEchoesNothingForThatPass) {
  const Interruption& at = GetParam();
  recording::after = [at, seen = 0](const Call& c) mutable {
    if (c.kind == at.after && ++seen == at.n) {
      for (int i = 0; i < at.times; ++i) EXPECT_EQ(std::raise(SIGINT), 0);
    }
  };
  std::string out = "nap = 1, pwr = 50";
  for (int i = 0; i < at.times; ++i) out += farewell;
  CaptureStdout();
  EXPECT_EQ(controller.run(), 0);
  EXPECT_EQ(GetCapturedStdout(), out);
  EXPECT_EQ(recording::bytes(), at.line);
  expectWholeCycles();
}

INSTANTIATE_TEST_SUITE_P(
    Stops, InterruptedLoop,
    testing::Values(
        // Between the cycles of a command: its direction byte never goes out.
        Interruption{"BetweenCycles", Call::Close, 3, 1, std::string("\x32\x81\x32\x00\x80", 5)},
        // After a cycle has opened: it closes without writing.
        Interruption{"AfterAnOpen", Call::Open, 4, 1, std::string("\x32\x81\x32\x00\x80", 5)},
        // During a write: that byte is on its way; the stop follows its cycle.
        Interruption{"DuringAWrite", Call::Write, 4, 1, std::string("\x32\x81\x32\x81\x00\x80", 6)},
        // Two interrupts: each gets its own stop sequence and farewell.
        Interruption{"Twice", Call::Close, 3, 2, std::string("\x32\x81\x32\x00\x80\x00\x80", 7)}),
    [](const testing::TestParamInfo<Interruption>& info) { return info.param.name; });

TEST_F(ControllerTest, LoopNeverEndsWithAStopStillPending) {
  // As when a signal lands after a pass's last safe point, just before the loop looks at its flag.
  steer::exit = 2;
  steer::stopsPending = 1;
  CaptureStdout();
  EXPECT_EQ(controller.run(), 0);
  EXPECT_EQ(GetCapturedStdout(), farewell);
  EXPECT_EQ(recording::bytes(), std::string("\x00\x80", 2));
}

// A signal during the stop sequence that an earlier one asked for: each gets its own stop, and an
// ending signal ends the loop rather than let a Ctrl-Z suspend it.
struct StopDuringStop {
  const char* name;
  int first;   // comes right after the third byte has been written
  int second;  // comes right after the first stop's NUL has been written
  size_t farewells;
};

void PrintTo(const StopDuringStop& s, std::ostream* os) { *os << s.name; }

class SignalDuringAStop : public ControllerTest,
                          public testing::WithParamInterface<StopDuringStop> {};

TEST_P(SignalDuringAStop, GetsAStopOfItsOwnAfterIt) {
  write("b.txt", "(400.0, 200.0)");
  const StopDuringStop& at = GetParam();
  recording::after = [at, writes = 0, stops = 0](const Call& c) mutable {
    if (c.kind != Call::Write) return;
    if (++writes == 3) {
      EXPECT_EQ(std::raise(at.first), 0);
      // A suspension from here on stays pending, where the test sees it, rather than stopping
      // the test or being dropped, as it is in a process group without a shell.
      sigset_t stop;
      sigemptyset(&stop);
      sigaddset(&stop, SIGTSTP);
      EXPECT_EQ(pthread_sigmask(SIG_BLOCK, &stop, nullptr), 0);
    }
    if (c.value == 0 && ++stops == 1) {
      EXPECT_EQ(std::raise(at.second), 0);
    }
  };
  CaptureStdout();
  EXPECT_EQ(controller.run(), 0);
  EXPECT_EQ(countOf(GetCapturedStdout(), farewell), at.farewells);
  EXPECT_EQ(recording::bytes(), std::string("\x32\x81\x32\x00\x80\x00\x80", 7));
  expectWholeCycles();
  sigset_t pending;
  sigpending(&pending);
  EXPECT_EQ(sigismember(&pending, SIGTSTP), 0) << "it suspended rather than ending";
}

INSTANTIATE_TEST_SUITE_P(
    Stops, SignalDuringAStop,
    testing::Values(StopDuringStop{"InterruptThenInterrupt", SIGINT, SIGINT, 2},
                    StopDuringStop{"CtrlZThenTerminate", SIGTSTP, SIGTERM, 1}),
    [](const testing::TestParamInfo<StopDuringStop>& info) { return info.param.name; });

// A line that fails once the first pass is over, and then an interrupt: the operator is told what
// went wrong and that the stop did not reach the board, once each, and the loop ends with 1;
// with no device ever there, there was nothing to stop.
struct FailingLine {
  const char* name;
  int openError;
  int writeError;
  LineWait room;
  int firstOpenError;  // what the first pass's opens meet
  std::string told;    // standard error in all
  std::string line;    // what the board receives in all
  int status;
  size_t discards;  // how often what waits on the line is thrown away
  // The interrupt comes during this wait for room (1 for the first after the failure begins);
  // 0: right after the second pass's first open.
  int signalInWait = 0;
};

void PrintTo(const FailingLine& f, std::ostream* os) { *os << f.name; }

class LineFailing : public ControllerTest, public testing::WithParamInterface<FailingLine> {};

TEST_P(LineFailing, TellsTheOperatorOnceAndEndsWithItsStatus) {
  const FailingLine& f = GetParam();
  write("t.txt", "0 0 0 0 0 0 0 0");
  write("b.txt", "(400.0, 200.0)");
  recording::openError = f.firstOpenError;
  // Right after the second pass's first open, once the handler is in place.
  recording::after = [f, calls = 0](const Call& c) mutable {
    if ((c.kind == Call::Close || c.kind == Call::Open) && ++calls == 5) {
      recording::openError = f.openError;
      recording::writeError = f.writeError;
      recording::room = [f, waits = 0]() mutable {
        if (f.signalInWait == 0) return f.room;
        if (++waits > f.signalInWait) return LineWait::ready;
        if (waits == f.signalInWait) {
          EXPECT_EQ(std::raise(SIGINT), 0);
        }
        return f.room;
      };
      if (f.signalInWait == 0) {
        EXPECT_EQ(std::raise(SIGINT), 0);
      }
    }
  };
  CaptureStdout();
  CaptureStderr();
  EXPECT_EQ(controller.run(), f.status);
  // The serial devices named are those of the machine the test runs on.
  std::string told = f.told;
  char devices[256];
  serialDevicesHere(devices, sizeof devices);
  const std::string here = devices[0] == '\0' ? "no serial devices here"
                                              : std::string("serial devices here: ") + devices +
                                                    " (choose one with --device PATH)";
  if (const size_t at = told.find("{devices}"); at != std::string::npos) {
    told.replace(at, 9, here);
  }
  EXPECT_EQ(GetCapturedStderr(), told);
  const std::string out = GetCapturedStdout();
  EXPECT_TRUE(endsWith(out, farewell)) << out;
  EXPECT_EQ(recording::bytes(), f.line);
  // A byte the line did not take is thrown away before its device is closed.
  size_t discards = 0;
  for (size_t i = 0; i < recording::calls.size(); ++i) {
    if (recording::calls[i].kind != Call::Discard) continue;
    ++discards;
    EXPECT_TRUE(f.room == LineWait::timedOut || f.writeError != 0);
    ASSERT_LT(i + 1, recording::calls.size());
    EXPECT_EQ(recording::calls[i + 1].kind, Call::Close);
  }
  EXPECT_EQ(discards, f.discards);
}

const std::string missed = "steer: the stop sequence did not reach /dev/ttyUSB0: ";
const std::string mayDrive = "; the board may still be driving\n";

INSTANTIATE_TEST_SUITE_P(
    Stops, LineFailing,
    testing::Values(
        FailingLine{"PermissionDenied", EACCES, 0, LineWait::ready, 0,
                    "steer: cannot open /dev/ttyUSB0: permission denied; add yourself to the "
                    "dialout group (sudo usermod -aG dialout $USER) and log in again\n" +
                        missed + "permission denied" + mayDrive,
                    "\x32\x81", 1, 0},
        FailingLine{"DeviceBusy", EBUSY, 0, LineWait::ready, 0,
                    "steer: cannot open /dev/ttyUSB0: Device or resource busy; the board is not "
                    "getting commands\n" +
                        missed + "it could not be opened" + mayDrive,
                    "\x32\x81", 1, 0},
        FailingLine{"NotPermitted", EPERM, 0, LineWait::ready, 0,
                    "steer: cannot open /dev/ttyUSB0: permission denied; add yourself to the "
                    "dialout group (sudo usermod -aG dialout $USER) and log in again\n" +
                        missed + "permission denied" + mayDrive,
                    "\x32\x81", 1, 0},
        FailingLine{"CablePulled", 0, EIO, LineWait::ready, 0,
                    "steer: writing to /dev/ttyUSB0 failed: Input/output error; the board is "
                    "not getting commands\n" +
                        missed + "writing failed" + mayDrive,
                    "\x32\x81", 1, 2},
        FailingLine{"LineTakesNothing", 0, 0, LineWait::timedOut, 0,
                    "steer: /dev/ttyUSB0 took no byte for 500 ms; gave it up; the board is not "
                    "getting commands\n" +
                        missed + "the line took no byte" + mayDrive,
                    "\x32\x81", 1, 2},
        FailingLine{"Unplugged", ENOENT, 0, LineWait::ready, 0,
                    "steer: no board at /dev/ttyUSB0 (no such device); {devices}; the board gets "
                    "nothing until it is back\n" +
                        missed + "the device is gone" + mayDrive,
                    "\x32\x81", 1, 0},
        FailingLine{"AdapterGone", ENXIO, 0, LineWait::ready, 0,
                    "steer: no board at /dev/ttyUSB0 (no such device); {devices}; the board gets "
                    "nothing until it is back\n" +
                        missed + "the device is gone" + mayDrive,
                    "\x32\x81", 1, 0},
        // A signal while a command byte waits on a full line gives that byte up: no news of
        // the line, and the stop goes out once the line takes bytes again.
        FailingLine{"SignalWhileTheLineIsFull", 0, 0, LineWait::timedOut, 0, "",
                    std::string("\x32\x81\x00\x80", 4), 0, 1, 1},
        // A line found stuck is emptied before the stop, so that the stop overtakes what it
        // holds; stuck for less than the pause between reports, it is not news.
        FailingLine{"StuckJustBeforeTheInterrupt", 0, 0, LineWait::timedOut, 0, "",
                    std::string("\x32\x81\x00\x80", 4), 0, 3, 2},
        FailingLine{"NeverABoard", ENOENT, 0, LineWait::ready, ENOENT,
                    "steer: no board at /dev/ttyUSB0 (no such device); {devices}; steer decides "
                    "and echoes only until it appears\n",
                    "", 0, 0}),
    [](const testing::TestParamInfo<FailingLine>& info) { return info.param.name; });
