// Our serial line layer against a pseudo-terminal, whose far side shows what reached the line.
#include "serial/serial_line.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "serial/line_bounds.h"
#include "tests/process_state.h"

namespace {
bool lineReadsAsSevenBitsWithParity = false;
termios lineSet{};
int looksAtAQueuedByte = -1;  // how many looks at the output queue find a byte; -1: ask the line

// Text whose every byte tells where it stands, so that a byte lost, doubled or moved shows.
std::string numbered(size_t size) {
  std::string text(size, ' ');
  for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>('!' + (i * 7 + i / 94) % 94);
  return text;
}
}  // namespace

// The layer's reads and settings of a line pass through here (the test links with
// --wrap=tcgetattr,--wrap=tcsetattr): a pseudo-terminal always keeps eight data bits, no parity and
// the receiver on, so the layer is shown the opposite, and what it asks for is kept. A
// pseudo-terminal never holds bytes back either, so the waits are shown a line that does when
// asked (--wrap=ioctl; the tests themselves call the terminal functions of libc instead).
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): the linker's names
extern "C" int __real_tcgetattr(int fd, termios* t);
extern "C" int __real_tcsetattr(int fd, int when, const termios* t);
extern "C" int __real_ioctl(int fd, unsigned long request, ...);

extern "C" int __wrap_ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* const arg = va_arg(args, void*);  // every caller here passes a pointer
  va_end(args);
  if (request != TIOCOUTQ || looksAtAQueuedByte < 0) return __real_ioctl(fd, request, arg);
  *static_cast<int*>(arg) = looksAtAQueuedByte > 0 ? 1 : 0;
  if (looksAtAQueuedByte > 0) --looksAtAQueuedByte;
  return 0;
}

extern "C" int __wrap_tcgetattr(int fd, termios* t) {
  const int result = __real_tcgetattr(fd, t);
  if (result == 0 && lineReadsAsSevenBitsWithParity) {
    t->c_cflag = (t->c_cflag & ~static_cast<tcflag_t>(CSIZE | CREAD)) | CS7 | PARENB;
  }
  return result;
}

extern "C" int __wrap_tcsetattr(int fd, int when, const termios* t) {
  lineSet = *t;
  return __real_tcsetattr(fd, when, t);
}
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)

class SerialLine : public testing::Test {
 protected:
  void SetUp() override {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    char name[64];
    ASSERT_EQ(ptsname_r(master, name, sizeof name), 0);
    path = name;
    held = open(name, O_RDWR | O_NOCTTY);  // keeps the line from hanging up between opens
    ASSERT_GE(held, 0);
    fcntl(master, F_SETFL, O_NONBLOCK);
  }
  void TearDown() override {
    close(held);
    if (master >= 0) close(master);
  }

  // Everything written to the line so far.
  std::string received() const {
    std::string all;
    char chunk[4096];
    ssize_t n = 0;
    while ((n = read(master, chunk, sizeof chunk)) > 0) all.append(chunk, static_cast<size_t>(n));
    return all;
  }

  int master = -1;
  int held = -1;
  std::string path;
};

TEST_F(SerialLine, OpensATerminalAsARawBlocking8N1LineAtTheRate) {
  // Start from the opposite of every setting, so that each check below proves a change. A
  // pseudo-terminal holds only some of them, so the layer is shown the rest as it reads the line.
  termios t{};
  ASSERT_EQ(tcgetattr(held, &t), 0);
  t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CLOCAL)) | CSTOPB | CRTSCTS | HUPCL;
  t.c_iflag |= IXON | IXOFF | IXANY | ICRNL | ISTRIP;
  t.c_oflag |= OPOST;
  t.c_lflag |= ICANON | ECHO | ISIG;
  ASSERT_EQ(cfsetspeed(&t, B50), 0);
  ASSERT_EQ(tcsetattr(held, TCSANOW, &t), 0);
  lineReadsAsSevenBitsWithParity = true;
  const int fd = serialOpen(path.c_str(), 9600);
  lineReadsAsSevenBitsWithParity = false;
  ASSERT_GE(fd, 0);

  ASSERT_EQ(tcgetattr(fd, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B9600));
  EXPECT_EQ(t.c_cflag & (CSTOPB | CRTSCTS), 0U) << "not one stop bit without flow control";
  EXPECT_EQ(t.c_cflag & CLOCAL, static_cast<tcflag_t>(CLOCAL));
  EXPECT_EQ(t.c_cflag & HUPCL, 0U) << "closing would drop the modem lines and reset the board";
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | ISTRIP), 0U);
  EXPECT_EQ(t.c_oflag & OPOST, 0U) << "output would be translated";
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0U);
  EXPECT_EQ(lineSet.c_cflag & (CSIZE | PARENB | CREAD), static_cast<tcflag_t>(CS8 | CREAD))
      << "not eight data bits without parity, receiver on";
  EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0) << "writes must block";
  serialClose(fd);
}

TEST_F(SerialLine, NeverBecomesTheControllingTerminal) {
  const pid_t child = fork();
  if (child == 0) {
    setsid();  // a session without a terminal would adopt the first one it opens
    const int fd = serialOpen(path.c_str(), 9600);
    const bool adopted = open("/dev/tty", O_RDWR) >= 0;
    _exit(fd >= 0 && !adopted ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(SerialLine, PrintfWritesExactlyTheFormattedBytesNulIncluded) {
  const int fd = serialOpen(path.c_str(), 9600);
  serialPrintf(fd, "%c", 0);
  serialPrintf(fd, "%c", 0x80);
  serialPrintf(fd, "%c", 0x132);  // a character is the value's low eight bits
  serialPrintf(fd, "n%dn", 5);
  // Texts around the size formatted on the stack, and one far beyond it.
  std::string texts;
  for (const size_t size : {254U, 255U, 256U, 257U, 1000U}) {
    const std::string text = numbered(size);
    serialPrintf(fd, "%s", text.c_str());
    texts += text;
  }
  serialClose(fd);
  EXPECT_EQ(received(), std::string("\x00\x80\x32n5n", 6) + texts);
}

TEST_F(SerialLine, PrintfFinishesAWriteThatASignalCutShort) {
  const std::string text = numbered(size_t{256} * 1024);  // more than the terminal holds
  const pid_t child = fork();
  if (child == 0) {
    struct sigaction quiet {};
    quiet.sa_handler = [](int) {};  // no SA_RESTART: a blocked write ends early
    sigaction(SIGUSR1, &quiet, nullptr);
    serialPrintf(serialOpen(path.c_str(), 9600), "%s", text.c_str());
    _exit(0);
  }
  // Each time the writer is found blocked, interrupt it; then take all it writes until it ends.
  for (int signals = 0; signals < 5;) {
    const char state = processState(child);
    if (state == 'S') {
      kill(child, SIGUSR1);
      ++signals;
    } else if (state != 'R') {
      break;
    }
    usleep(10000);
  }
  std::string got;
  int status = 0;
  while (waitpid(child, &status, WNOHANG) == 0) {
    got += received();
    pollfd ready{master, POLLIN, 0};
    poll(&ready, 1, 10);
  }
  got += received();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(got.size(), text.size()) << "the write ended early";
  EXPECT_TRUE(got == text) << "the bytes written are not the text";
}

TEST_F(SerialLine, PutcharWritesOneByte) {
  const int fd = serialOpen(path.c_str(), 115200);
  serialPutchar(fd, 1);
  serialPutchar(fd, 0);
  serialPutchar(fd, 0xff);
  serialClose(fd);
  EXPECT_EQ(received(), std::string("\x01\x00\xff", 3));
}

TEST_F(SerialLine, DiscardingOutputKeepsWhatCameIn) {
  const int fd = serialOpen(path.c_str(), 9600);
  ASSERT_EQ(write(master, "in", 2), 2);
  pollfd in{fd, POLLIN, 0};
  ASSERT_EQ(poll(&in, 1, 5000), 1);
  discardOutput(fd);
  char got[2] = {};
  EXPECT_EQ(read(fd, got, sizeof got), 2);
  EXPECT_EQ(std::string(got, 2), "in");
  serialClose(fd);
}

// The bounded waits on a line: whether it has room, when its far end has stopped taking bytes
// (its output held, as a device that has stopped reading does), or has gone, when the caller
// gives up, and when a watched signal lands between the caller's last look and the wait.
struct Wait {
  const char* name;
  bool forRoom;  // waitForRoom, else waitUntilSent
  bool held;
  bool farEndGone;
  bool givenUp;  // giveUp() says so whether or not a signal came
  bool signalLandsJustBefore;
  int ms;
  LineWait result;
  int queuedLooks = -1;  // how many looks find a byte not yet sent; -1: as the line says
};

void PrintTo(const Wait& w, std::ostream* os) { *os << w.name; }

class LineBounds : public SerialLine, public testing::WithParamInterface<Wait> {};

volatile std::sig_atomic_t signalCame = 0;
bool signalToLand = false;

// Gives up once a signal has come; a signal to land is sent as it looks, so that it comes after.
bool afterASignal() {
  const bool came = signalCame != 0;
  if (signalToLand) {
    signalToLand = false;
    (void)raise(SIGUSR1);
  }
  return came;
}

TEST_P(LineBounds, EndAsTheLineAndTheCallerSay) {
  const Wait& w = GetParam();
  const int fd = serialOpen(path.c_str(), 9600);
  ASSERT_GE(fd, 0);
  makeWritesNonBlocking(fd);
  EXPECT_NE(fcntl(fd, F_GETFL) & O_NONBLOCK, 0) << "a write could block";
  if (w.held) {
    ASSERT_EQ(ioctl(held, TCXONC, TCOOFF), 0);
  }
  if (w.farEndGone) {
    close(master);
    master = -1;
  }
  struct sigaction note {};
  note.sa_handler = [](int) { signalCame = 1; };
  struct sigaction before {};
  ASSERT_EQ(sigaction(SIGUSR1, &note, &before), 0);
  sigset_t watched;
  sigemptyset(&watched);
  sigaddset(&watched, SIGUSR1);
  signalCame = 0;
  signalToLand = w.signalLandsJustBefore;
  looksAtAQueuedByte = w.queuedLooks;
  const GiveUp giveUp = w.givenUp ? [] { return true; } : afterASignal;
  EXPECT_EQ(w.forRoom ? waitForRoom(fd, w.ms, giveUp, &watched)
                      : waitUntilSent(fd, w.ms, giveUp, &watched),
            w.result);
  EXPECT_EQ(signalCame, w.signalLandsJustBefore ? 1 : 0);
  looksAtAQueuedByte = -1;
  sigaction(SIGUSR1, &before, nullptr);
  if (w.held) ioctl(held, TCXONC, TCOON);
  serialClose(fd);
}

INSTANTIATE_TEST_SUITE_P(
    Waits, LineBounds,
    testing::Values(
        Wait{"RoomOnAFreeLine", true, false, false, false, false, 5000, LineWait::ready},
        Wait{"NoRoomOnAHeldLine", true, true, false, false, false, 20, LineWait::timedOut},
        Wait{"GivenUpBeforeWaiting", true, false, false, true, false, 5000, LineWait::cancelled},
        Wait{"SignalJustBeforeTheWait", true, true, false, false, true, 5000, LineWait::cancelled},
        Wait{"FarEndGone", true, false, true, false, false, 5000, LineWait::failed},
        Wait{"NothingLeftToSend", false, false, false, false, false, 5000, LineWait::ready},
        Wait{"SentOnceDrained", false, false, false, false, false, 5000, LineWait::ready, 3},
        Wait{"NotDrainedInTime", false, false, false, false, false, 20, LineWait::timedOut,
             1 << 30},
        Wait{"GivenUpWhileDraining", false, false, false, true, false, 5000, LineWait::cancelled,
             1 << 30},
        Wait{"SignalWhileDraining", false, false, false, false, true, 5000, LineWait::cancelled,
             1 << 30},
        // What has been sent has been sent, whatever the caller would give up.
        Wait{"SentWhenGivenUp", false, false, false, true, false, 5000, LineWait::ready}),
    [](const testing::TestParamInfo<Wait>& info) { return info.param.name; });

TEST_F(SerialLine, OpenFailsWithMinusOneForNoDeviceOrAnOddRate) {
  EXPECT_EQ(serialOpen("/nonexistent/ttyUSB0", 9600), -1);
  EXPECT_EQ(serialOpen(path.c_str(), 9601), -1);
  EXPECT_EQ(serialOpen(nullptr, 9600), -1);
}

TEST(SerialLineFailureValue, EveryCallTakesItWithoutASystemCall) {
  errno = 0;
  serialPrintf(-1, "%c", 0);
  serialPutchar(-1, 1);
  serialClose(-1);
  EXPECT_EQ(errno, 0) << "a call reached the kernel with the failure value";
}

TEST(SerialLineOnAFile, WritesToSomethingThatIsNotATerminal) {
  const auto file = std::filesystem::temp_directory_path() / "serial-line-test.bin";
  std::ofstream(file).close();
  const int fd = serialOpen(file.c_str(), 9600);
  ASSERT_GE(fd, 0);
  serialPrintf(fd, "%c", 0);
  serialPutchar(fd, 0x81);
  serialClose(fd);
  std::ifstream in(file, std::ios::binary);
  const std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(got, std::string("\x00\x81", 2));
  std::filesystem::remove(file);
}
