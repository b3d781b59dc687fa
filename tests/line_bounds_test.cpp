// The bounds on a line's waits, against a pseudo-terminal whose output the test holds, and what a
// program tells of its line however often the line changes.
#include "serial/line_bounds.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <string>

#include "serial/link_report.h"

namespace {
int queuedBytes = -1;  // what the line reports as still to be sent; -1: what the kernel says
volatile std::sig_atomic_t signalled = 0;
}  // namespace

// The layer asks how much waits to be sent through here (the test links with --wrap=ioctl): a
// pseudo-terminal never has anything waiting, a real line that takes nothing keeps it.
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): the linker's names
extern "C" int __real_ioctl(int fd, unsigned long request, ...);

extern "C" int __wrap_ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  if (request == TIOCOUTQ && queuedBytes >= 0) {
    *static_cast<int*>(arg) = queuedBytes;
    return 0;
  }
  return __real_ioctl(fd, request, arg);
}
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)

class BoundedLine : public testing::Test {
 protected:
  void SetUp() override {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    slave = open(ptsname(master), O_RDWR | O_NOCTTY);  // NOLINT(concurrency-mt-unsafe): one thread
    ASSERT_GE(slave, 0);
    queuedBytes = -1;
    signalled = 0;
  }
  void TearDown() override {
    close(slave);
    close(master);
  }

  int master = -1;
  int slave = -1;
};

TEST_F(BoundedLine, AFreeLineHasRoomAndHasSentEverything) {
  EXPECT_EQ(waitForRoom(slave, 0, nullptr, nullptr), LineWait::ready);
  EXPECT_EQ(waitUntilSent(slave, 0, nullptr, nullptr), LineWait::ready);
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);  // a device that keeps no queue
  EXPECT_EQ(waitUntilSent(null, 0, nullptr, nullptr), LineWait::ready);
  close(null);
}

TEST_F(BoundedLine, AHeldLineTimesOutAndAWriteOnItFailsRatherThanBlocks) {
  ASSERT_EQ(ioctl(slave, TCXONC, TCOOFF), 0);
  EXPECT_EQ(waitForRoom(slave, 20, nullptr, nullptr), LineWait::timedOut);
  makeWritesNonBlocking(slave);
  errno = 0;
  EXPECT_EQ(write(slave, "x", 1), -1);
  EXPECT_EQ(errno, EAGAIN);
}

TEST_F(BoundedLine, ADrainThatNeverEndsTimesOutAndOneThatEndsIsReady) {
  queuedBytes = 1;
  EXPECT_EQ(waitUntilSent(slave, 20, nullptr, nullptr), LineWait::timedOut);
  queuedBytes = 0;
  EXPECT_EQ(waitUntilSent(
                slave, 10000, [] { return true; }, nullptr),
            LineWait::ready)
      << "what has left the line was given up";
}

TEST_F(BoundedLine, AWatchedSignalLetsTheCallerGiveUpAtOnce) {
  ASSERT_EQ(ioctl(slave, TCXONC, TCOOFF), 0);
  struct sigaction note {};
  note.sa_handler = [](int) { signalled = 1; };
  struct sigaction before {};
  sigaction(SIGUSR1, &note, &before);
  sigset_t watched;
  sigemptyset(&watched);
  sigaddset(&watched, SIGUSR1);
  // Sent before the wait, it waits blocked for the wait itself, which it must still end.
  sigset_t old;
  pthread_sigmask(SIG_BLOCK, &watched, &old);
  ASSERT_EQ(raise(SIGUSR1), 0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(waitForRoom(
                slave, 10000, [] { return signalled != 0; }, &watched),
            LineWait::cancelled);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  sigaction(SIGUSR1, &before, nullptr);
}

// A pseudo-terminal's flush also takes back what its reader has not yet taken in, as a real line
// never could once it was sent; 5000 bytes are more than the reader's buffer holds, so some wait.
TEST_F(BoundedLine, AByteGivenUpTakesBackNothingSentBeforeItButEmptiesALineThatHoldsBytes) {
  const std::string sent(5000, 'x');
  makeWritesNonBlocking(slave);
  const auto arrived = [&](int patienceMs) {
    std::string got;
    char buffer[1024];
    pollfd p{master, POLLIN, 0};
    while (got.size() < sent.size() && poll(&p, 1, patienceMs) == 1) {
      const ssize_t n = read(master, buffer, sizeof buffer);
      if (n <= 0) break;
      got.append(buffer, static_cast<size_t>(n));
    }
    return got.size();
  };
  LinkReport r{"steer", "/dev/ttyX", "commands", "", 500};
  for (const int queued : {-1, 1}) {
    queuedBytes = queued;
    ASSERT_EQ(write(slave, sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));
    EXPECT_FALSE(sendByte(
        r, slave, [] { return 500; }, [] {}, [] {}, [] { return true; }, nullptr));
    queuedBytes = -1;
    if (queued < 0) {
      EXPECT_EQ(arrived(5000), sent.size());
    } else {
      EXPECT_LT(arrived(100), sent.size());  // shorter patience only reads less
    }
  }
}

TEST(LinkReport, TellsEachChangeOnceAndAFlappingLineAtMostFourTimesASecond) {
  LinkReport r{"probe", "/dev/ttyX", "bytes", "waiting for it", 500};
  testing::internal::CaptureStderr();
  const auto start = std::chrono::steady_clock::now();
  linkOpenFailed(r, ENOENT);
  for (int i = 0; i < 2000; ++i) {
    linkWorked(r);
    linkOpenFailed(r, i % 2 == 0 ? ENOENT : EACCES);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  linkWorked(r);
  linkTellNow(r);
  const std::string told = testing::internal::GetCapturedStderr();
  size_t lines = 0;
  for (const char c : told) lines += c == '\n' ? 1 : 0;
  EXPECT_EQ(told.rfind("probe: no board at /dev/ttyX (no such device); ", 0), 0U) << told;
  EXPECT_NE(told.find("; waiting for it\n"), std::string::npos) << told;
  EXPECT_LE(lines, 2 + static_cast<size_t>(seconds * 4)) << told;
  const std::string last = "probe: /dev/ttyX works; the board gets bytes\n";
  EXPECT_EQ(told.substr(told.size() - std::min(told.size(), last.size())), last) << told;
}
