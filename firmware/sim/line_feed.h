// Bytes on their way to a simulated board, each with the time the real line brings it. A byte goes
// onto the simulated line one byte time before then, so that its last bit reaches the firmware
// then; one that finds the simulated line busy waits for it, and arrives late.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "firmware/sim/board_sim.h"

namespace boardsim {

struct LineByte {
  std::uint8_t value;
  SimTime arrives;  // when the real line brings its last bit
};

class LineFeed {
 public:
  explicit LineFeed(Board& board) : board_(board) {}

  // Queues a byte; bytes come in the order the line brings them.
  void add(std::uint8_t value, SimTime arrives) { due_.push_back({value, arrives}); }

  // Puts every byte due by `now` onto the board's line, a byte taking `byteTime` there, and
  // calls handed(byte) for each, in order.
  template <class Handed>
  void handOver(SimTime now, SimTime byteTime, Handed handed) {
    while (!due_.empty() && due_.front().arrives - byteTime <= now) {
      const LineByte b = due_.front();
      due_.pop_front();
      board_.send(&b.value, 1);
      onLine_.push_back(b.arrives);
      handed(b);
    }
    passed();
  }
  void handOver(SimTime now, SimTime byteTime) {
    handOver(now, byteTime, [](const LineByte&) {});
  }

  // When the next byte is due onto the simulated line; SimTime::max() when none waits.
  SimTime nextDue(SimTime byteTime) const {
    return due_.empty() ? SimTime::max() : due_.front().arrives - byteTime;
  }
  // Whether every byte has gone onto the simulated line and through its queue.
  bool empty() const { return due_.empty() && board_.unsent() == 0; }
  // When the last byte that went on the simulated line reaches the firmware (zero before any).
  SimTime lastArrival() const { return lastArrival_; }
  // The most a byte reached the firmware after the real line brought it.
  SimTime mostLate() const { return mostLate_; }

 private:
  void passed();

  Board& board_;
  std::deque<LineByte> due_;    // not yet handed to the simulated line
  std::deque<SimTime> onLine_;  // handed over, not yet gone on the simulated line's wire
  SimTime lastArrival_{0};
  SimTime mostLate_{0};
};

// Bytes from the thread that watches a real line for the simulation's thread, which passes them
// to its LineFeed.
class LineInbox {
 public:
  // Any thread: a byte whose last bit the line brought `at` seconds from the start.
  void arrived(std::uint8_t value, double at);
  // The simulation's thread: adds every byte arrived so far to `feed`.
  void passTo(LineFeed& feed);

 private:
  std::mutex lock_;
  std::vector<LineByte> bytes_;
};

}  // namespace boardsim
