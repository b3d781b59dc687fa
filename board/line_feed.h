// Feeds a simulated board a line's bytes, from the simulation's thread (add) or a watching one
// (arrived): each goes onto the simulated line one byte time before the line brings its last bit,
// so that it reaches the firmware then, or later when it finds the simulated line busy.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "board/receiver.h"
#include "firmware/sim/board_sim.h"

namespace board {

using boardsim::SimTime;

struct LineByte {
  std::uint8_t value;
  SimTime arrives;
};

class LineFeed final : public Receiver {
 public:
  explicit LineFeed(boardsim::Board& board) : board_(board) {}

  // From the watching thread; the firmware sets the line's rate itself.
  void settings(const LineSettings& /*s*/, double /*at*/) override {}
  void arrived(std::uint8_t byte, double at) override {
    const std::lock_guard<std::mutex> hold(lock_);
    arrived_.push_back({byte, SimTime(std::llround(at * 1e9))});
  }
  void quiet(double /*at*/) override {}
  // Queues the bytes arrived() so far.
  void takeArrived() {
    const std::lock_guard<std::mutex> hold(lock_);
    due_.insert(due_.end(), arrived_.begin(), arrived_.end());
    arrived_.clear();
  }

  // Queues a byte after those queued before.
  void add(std::uint8_t value, SimTime arrives) { due_.push_back({value, arrives}); }
  // Puts every byte due by `now` onto the board's line, where a byte takes `byteTime`, and calls
  // handed(byte) for each, in order.
  template <class Handed>
  void handOver(SimTime now, SimTime byteTime, Handed handed) {
    for (; !due_.empty() && due_.front().arrives - byteTime <= now; due_.pop_front()) {
      board_.send(&due_.front().value, 1);
      onLine_.push_back(due_.front().arrives);
      handed(due_.front());
    }
    // Those that left the board's queue are on the wire, the last of them ending at lastByteEnd().
    for (; onLine_.size() > board_.unsent(); onLine_.pop_front()) {
      lastArrival_ = board_.lastByteEnd();
      mostLate_ = std::max(mostLate_, lastArrival_ - onLine_.front());
    }
  }

  // When the next byte is due onto the simulated line; SimTime::max() when none waits.
  SimTime nextDue(SimTime byteTime) const {
    return due_.empty() ? SimTime::max() : due_.front().arrives - byteTime;
  }
  // Whether every byte queued has gone onto the simulated line and out of its queue.
  bool empty() const { return due_.empty() && board_.unsent() == 0; }
  // When the last byte that went onto the simulated line reaches the firmware (zero before any).
  SimTime lastArrival() const { return lastArrival_; }
  // The most a byte reached the firmware after the line brought it.
  SimTime mostLate() const { return mostLate_; }

 private:
  boardsim::Board& board_;
  std::mutex lock_;
  std::vector<LineByte> arrived_;  // under lock_
  std::deque<LineByte> due_;       // not yet handed to the simulated line
  std::deque<SimTime> onLine_;     // handed over, not yet on the simulated line's wire
  SimTime lastArrival_{0};
  SimTime mostLate_{0};
};

}  // namespace board
