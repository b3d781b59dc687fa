// The board's firmware: its real image in the simulator, in simulated time only. What the motors
// do with each run of bytes, how soon a stop and silence turn them off, and the watchdog; how a
// line's bytes are handed over to it, and paced to the wall clock.
#include "firmware/sim/board_sim.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "board/firmware_board.h"
#include "board/line_feed.h"
#include "board/wall_clock_pacer.h"
#include "tests/line_cases.h"

namespace {

using boardsim::Board;
using boardsim::Motors;
using boardsim::MotorState;
using boardsim::SimTime;
using namespace std::chrono_literals;

// As the table writes them: "+127" forward, "-127" backward, "0" off.
std::string describe(const MotorState& m) {
  if (!m.driven) return "undriven";
  if (m.forward && m.backward) return "brake " + std::to_string(m.duty);
  if (m.forward) return "+" + std::to_string(m.duty);
  if (m.backward) return "-" + std::to_string(m.duty);
  return m.duty == 0 ? "0" : "no direction " + std::to_string(m.duty);
}
std::string describe(const Motors& m) { return describe(m.left) + " " + describe(m.right); }

// Loaded and past setup(), which takes well under a millisecond.
std::unique_ptr<Board> boot(const char* image) {
  std::string error;
  std::unique_ptr<Board> board = Board::load(image, error);
  if (board == nullptr || !board->runUntil(1ms)) throw std::runtime_error(error);
  return board;
}

Bytes repeated(const Bytes& part, int times) {
  Bytes all;
  for (int i = 0; i < times; ++i) all.insert(all.end(), part.begin(), part.end());
  return all;
}

void send(Board& board, const Bytes& bytes) { board.send(bytes.data(), bytes.size()); }

// Runs until no more than `left` bytes are still to go onto the line.
void runUntilUnsent(Board& board, size_t left) {
  while (board.unsent() > left) ASSERT_TRUE(board.runUntil(board.now() + 50us));
}

// Runs until every byte has arrived and the firmware has had the time to act on it.
void runUntilHandled(Board& board) {
  runUntilUnsent(board, 0);
  ASSERT_TRUE(board.runUntil(board.lastByteEnd() + 500us));
}

// Runs until both motors are off, or to the deadline; tells when.
SimTime offAt(Board& board, SimTime deadline) {
  while (!board.motors().off() && board.runUntilMotorsChange(deadline)) {
  }
  return board.motors().off() ? board.now() : SimTime::max();
}

class BoardSimLines : public testing::TestWithParam<LineCase> {};

TEST_P(BoardSimLines, MotorsDoAsTheCodeTableSays) {
  const auto board = boot(STEER_BOARD_ELF);
  ASSERT_EQ(describe(board->motors()), "0 0") << "at power-up";
  send(*board, GetParam().bytes);
  runUntilHandled(*board);
  EXPECT_EQ(describe(board->motors()), GetParam().motors);
}

INSTANTIATE_TEST_SUITE_P(Lines, BoardSimLines, testing::ValuesIn(lineCases),
                         [](const testing::TestParamInfo<LineCase>& info) {
                           return info.param.name;
                         });

// At once: within two byte times of the stop's last byte going onto the line, of which one is
// that byte's own.
TEST(Firmware, StopTurnsTheMotorsOffWithinTwoByteTimes) {
  for (const Bytes& stop : {Bytes{0x00, 0x80}, Bytes{0x80}}) {
    SCOPED_TRACE(stop.size() == 2 ? "00 80" : "80");
    const auto board = boot(STEER_BOARD_ELF);
    send(*board, repeated({0x32, 0x81}, 5));
    send(*board, stop);
    runUntilUnsent(*board, 0);
    ASSERT_EQ(describe(board->motors()), "+127 -127");
    // 9600 baud at 16 MHz: divisor 207 + 1 of 8 cycles a bit (U2X), ten bits a byte.
    EXPECT_EQ(board->byteTime(), 1040us);
    const SimTime lastByteStart = board->lastByteEnd() - board->byteTime();
    EXPECT_LE(offAt(*board, lastByteStart + 10ms), lastByteStart + 2 * board->byteTime());
    EXPECT_EQ(describe(board->motors()), "0 0");
  }
}

// A steady stream of frames holds the motors, longer than the watchdog's time. Then 100 ms
// after the last whole frame they go off, also while bytes that make no whole
// frame go on arriving (at once: a sleeping board polls near the time-out); and they stay off
// until the next whole frame.
TEST(Firmware, NoWholeFrameFor100MsTurnsTheMotorsOff) {
  const Bytes junk = repeated({0x85, 0xff, 0x32, 0xa0, 0x01, 0x86}, 15);  // 104 ms of it
  for (const Bytes& tail : {Bytes{}, junk}) {
    SCOPED_TRACE(tail.empty() ? "silence" : "junk");
    const auto board = boot(STEER_BOARD_ELF);
    send(*board, repeated({0x32, 0x84}, 200));
    send(*board, tail);
    ASSERT_TRUE(board->runUntilMotorsChange(10ms));
    ASSERT_TRUE(board->runUntil(board->now() + 500us));
    const Motors on = board->motors();
    ASSERT_EQ(describe(on), "+127 +63");
    while (board->unsent() > tail.size()) {
      ASSERT_FALSE(board->runUntilMotorsChange(board->now() + 1ms));
    }
    const SimTime lastFrame = board->lastByteEnd();
    ASSERT_GT(lastFrame, 400ms);
    EXPECT_FALSE(board->runUntilMotorsChange(lastFrame + 95ms)) << describe(board->motors());
    // Past the 100 ms: the last byte's stop bit and micros()'s steps; a sleep would add 1 ms.
    EXPECT_LE(offAt(*board, lastFrame + 105ms), lastFrame + 100ms + 200us);

    runUntilHandled(*board);
    EXPECT_EQ(describe(board->motors()), "0 0");
    send(*board, {0x32, 0x84});
    runUntilHandled(*board);
    EXPECT_EQ(board->motors(), on);
  }
}

// What virtual-board --firmware tells of the motors after each code at steer's powers.
TEST(Firmware, MotorsAreToldInWordsForEveryCode) {
  const std::pair<Bytes, const char*> told[] = {
      {{0x32, 0x81}, "left forward 50%, right backward 50% (spin right)"},
      {{0x32, 0x82}, "left backward 50%, right forward 50% (spin left)"},
      {{0x32, 0x83}, "left forward 25%, right forward 50% (arc left)"},
      {{0x32, 0x84}, "left forward 50%, right forward 25% (arc right)"},
      {{0x64, 0x85}, "left forward 100%, right forward 100% (straight ahead)"},
      {{0x32, 0x84, 0x00, 0x80}, "off"},
  };
  for (const auto& [bytes, words] : told) {
    const auto sim = boot(STEER_BOARD_ELF);
    send(*sim, bytes);
    runUntilHandled(*sim);
    EXPECT_EQ(board::describeMotors(sim->motors()), words);
  }
}

// A test build whose loop hangs once a frame has set the motors going: the motors run on past
// the time-out that the hung loop no longer keeps, until the watchdog resets the board, which
// starts with them off and takes frames again.
TEST(Firmware, WatchdogResetsAHungLoopWithTheMotorsOff) {
  const auto board = boot(STEER_BOARD_HANG_ELF);
  send(*board, {0x32, 0x81});
  runUntilHandled(*board);
  ASSERT_EQ(describe(board->motors()), "+127 -127");
  const SimTime hungAt = board->lastByteEnd();
  EXPECT_FALSE(board->runUntilMotorsChange(hungAt + 200ms));
  EXPECT_LE(offAt(*board, hungAt + 300ms), hungAt + 300ms);
  EXPECT_GE(board->now(), hungAt + 200ms) << "the clock started again at the reset";
  EXPECT_EQ(describe(board->motors()), "undriven undriven") << "not reset";
  ASSERT_TRUE(board->runUntil(board->now() + 1ms));
  EXPECT_EQ(describe(board->motors()), "0 0");

  send(*board, {0x32, 0x82});
  runUntilHandled(*board);
  EXPECT_EQ(describe(board->motors()), "-127 +127");
}

// Bytes fed at the line's rate (9600 baud, ten bits a byte) for a minute of frames: a frame
// that changes the motors at the end takes effect as soon after its last byte as one at the
// start does, so the simulated UART keeps pace with the line however long the run.
TEST(Firmware, KeepsPaceWithTheLineForAMinute) {
  const auto board = boot(STEER_BOARD_ELF);
  const SimTime lineByte = std::chrono::duration_cast<SimTime>(std::chrono::seconds(1)) / 960;
  SimTime lineFree = board->now();  // when the line has carried every byte given to it
  // Puts a frame on the line at the line's rate; returns when its last byte has arrived.
  const auto frame = [&](std::uint8_t code) {
    for (const std::uint8_t byte : {std::uint8_t{0x32}, code}) {
      const SimTime end = lineFree + lineByte;
      EXPECT_TRUE(board->runUntil(end - board->byteTime()));
      board->send(&byte, 1);
      lineFree = end;
    }
    return lineFree;
  };
  // How long after its last byte arrives a frame that changes the motors takes effect.
  const auto reaction = [&](std::uint8_t code) {
    const SimTime arrived = frame(code);
    return board->runUntilMotorsChange(arrived + 5ms) ? board->now() - arrived : SimTime::max();
  };
  frame(0x81);
  const SimTime first = reaction(0x82);
  while (lineFree < 60s) frame(0x82);
  const SimTime last = reaction(0x81);
  EXPECT_LT(first, 100us);
  EXPECT_LE(last, first + 20us);
}

// Between events the firmware sleeps, and the simulator skips its sleep without passing the time
// it is asked to run to: each run ends there (to the instruction), and through a stream of frames
// the processor is awake for a small share of the time.
TEST(Firmware, SleepsBetweenBytes) {
  const auto board = boot(STEER_BOARD_ELF);
  send(*board, repeated({0x32, 0x84}, 100));  // 208 ms of frames, then silence
  const SimTime from = board->now();
  const SimTime awakeBefore = board->awake();
  for (SimTime t = from + 333us; t < from + 400ms; t += 777us) {
    for (const SimTime at : {t, t + 63ns}) {  // the second one cycle on
      ASSERT_TRUE(board->runUntil(at));
      ASSERT_LT(board->now() - at, 1us);
    }
  }
  EXPECT_EQ(board->unsent(), 0U);
  EXPECT_LT(board->awake() - awakeBefore, (board->now() - from) / 10);
  EXPECT_EQ(describe(board->motors()), "0 0") << "the time-out";
}

// What is no image for this board, or no pin of it, is refused with the reason.
TEST(Board, RefusesWhatIsNoImageForIt) {
  const struct {
    const char* path;
    const char* reason;
  } cases[] = {
      {"/nonexistent/steer_board.elf", "cannot open /nonexistent/steer_board.elf: No such file"},
      {"/dev/null", "/dev/null is not a 32-bit ELF file"},
      {"/proc/self/exe", "/proc/self/exe is not a 32-bit ELF file"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_EQ(Board::load(c.path, error), nullptr) << c.path;
    EXPECT_EQ(error.rfind(c.reason, 0), 0U) << error;
  }
  std::string error;
  EXPECT_EQ(Board::load(STEER_BOARD_ELF, error, {5, 7, 14}), nullptr);
  EXPECT_EQ(error, "motor pin 14 is not one of the digital pins 0 to 13");
}

// Bytes reach the firmware when the line brings them: each goes onto the simulated line one byte
// time before, and one the line brings with no time for it (here the last) arrives one byte time
// late, which is told. Bytes from a watching thread come with their time in seconds.
TEST(LineFeed, HandsEachByteOverOneByteTimeBeforeItArrives) {
  const auto board = boot(STEER_BOARD_ELF);
  const SimTime byteTime = board->byteTime();
  board::LineFeed feed(*board);
  const SimTime t0 = 5ms;
  const std::pair<std::uint8_t, SimTime> line[] = {
      {0x32, t0}, {0x82, t0 + byteTime}, {0x32, t0 + 2 * byteTime}, {0x82, t0 + 2 * byteTime}};
  for (const auto& [value, arrives] : line) feed.add(value, arrives);
  ASSERT_EQ(feed.nextDue(byteTime), t0 - byteTime);
  std::vector<SimTime> handedEarly;  // how long before it arrives each byte was handed over
  while (!feed.empty()) {
    ASSERT_TRUE(board->runUntil(std::min(feed.nextDue(byteTime), board->now() + 1ms)));
    feed.handOver(board->now(), byteTime, [&](const board::LineByte& b) {
      handedEarly.push_back(b.arrives - board->now());
    });
  }
  ASSERT_EQ(handedEarly.size(), 4U);
  for (const SimTime early : handedEarly) {
    EXPECT_LE(early, byteTime);
    EXPECT_GT(early, byteTime - 1us);
  }
  EXPECT_LT(std::chrono::abs(feed.lastArrival() - (t0 + 3 * byteTime)), 1us);
  EXPECT_LT(feed.mostLate() - byteTime, 1us);
  EXPECT_GE(feed.mostLate(), byteTime);
  runUntilHandled(*board);
  EXPECT_EQ(describe(board->motors()), "-127 +127");

  std::thread([&] { feed.arrived(0x80, 0.0123456789); }).join();
  EXPECT_EQ(feed.nextDue(byteTime), SimTime::max());
  feed.takeArrived();
  EXPECT_EQ(feed.nextDue(byteTime), 12345679ns - byteTime);
}

// A simulation never runs past the wall clock, nor more than a millisecond at a time; one ahead
// waits; its lag counts only while asked to.
TEST(WallClockPacer, KeepsASimulationJustBehindTheWallClock) {
  const auto zero = std::chrono::steady_clock::now() - 1s;
  board::WallClockPacer pacer(zero);
  EXPECT_EQ(pacer.next(0ms, false), 1ms);
  EXPECT_EQ(pacer.mostBehind(), 0ms);
  EXPECT_EQ(pacer.next(0ms), 1ms);
  EXPECT_GE(pacer.mostBehind(), 1s);
  EXPECT_EQ(pacer.next(1h), 1h);
  const SimTime near = std::chrono::steady_clock::now() - zero - 300us;
  const SimTime to = pacer.next(near);
  EXPECT_LE(to, std::chrono::steady_clock::now() - zero);
  EXPECT_LE(to, near + 1ms);
  EXPECT_LT(pacer.mostBehind(), 2s) << "the most, not a sum";
}

}  // namespace
