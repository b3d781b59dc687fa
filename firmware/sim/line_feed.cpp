#include "firmware/sim/line_feed.h"

#include <algorithm>
#include <cmath>

namespace boardsim {

// Bytes that left the board's queue are on the wire, the last of them ending at lastByteEnd().
void LineFeed::passed() {
  while (onLine_.size() > board_.unsent()) {
    lastArrival_ = board_.lastByteEnd();
    mostLate_ = std::max(mostLate_, lastArrival_ - onLine_.front());
    onLine_.pop_front();
  }
}

void LineInbox::arrived(std::uint8_t value, double at) {
  const std::lock_guard<std::mutex> hold(lock_);
  bytes_.push_back({value, SimTime(std::llround(at * 1e9))});
}

void LineInbox::passTo(LineFeed& feed) {
  const std::lock_guard<std::mutex> hold(lock_);
  for (const LineByte& b : bytes_) feed.add(b.value, b.arrives);
  bytes_.clear();
}

}  // namespace boardsim
