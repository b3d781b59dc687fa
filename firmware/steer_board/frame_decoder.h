// Tells what the bytes a board receives amount to: command frames, stop sequences, and the bytes
// that fit neither. No I/O, no heap, no exceptions and nothing of the standard library beyond
// fixed-width integers: the board's firmware (this folder's sketch) reads its line with the very
// same code as virtual-board and the tests. It lives in the sketch's folder because the Arduino
// IDE includes nothing from outside it, and it must compile as gnu++11 (the IDE's dialect, without
// <cstdint>) as well as C++20.
//
// On the line a frame is a power byte (top bit clear) and then a direction byte 0x81 to 0x85
// (direction code 1 to 5 with the top bit set). The stop sequence is 0x00 and then 0x80; a serial
// library that writes formatted text as a C string drops the 0x00, so a lone 0x80 is a stop too.
#pragma once

#include <stdint.h>

namespace board {

enum class EventKind : uint8_t {
  frame,          // a power byte, then a direction byte 0x81 to 0x85
  stop,           // 0x80, with or without the 0x00 before it
  lonePower,      // a power byte whose direction byte never came
  loneDirection,  // a direction byte 0x81 to 0x85 with no power byte before it
  stray,          // a byte that fits no frame: 0x86 to 0xFF
};

struct Event {
  EventKind kind;
  uint8_t size;      // how many bytes of the line it stands for: 1 or 2
  uint8_t bytes[2];  // those bytes, in the order they came

  constexpr uint8_t power() const { return bytes[0]; }  // frame, lonePower
  constexpr uint8_t code() const {                      // frame, stop, loneDirection
    return static_cast<uint8_t>(bytes[size - 1] & 0x7F);
  }
  constexpr bool sameAs(const Event& other) const {
    return kind == other.kind && size == other.size && bytes[0] == other.bytes[0] &&
           (size == 1 || bytes[1] == other.bytes[1]);
  }
};

// Feed it the bytes as they come, in pieces of any size; it calls `sink(const Event&)` for each
// event. A power byte is held until the byte after it shows what it was; finish() says that no
// byte will follow.
class FrameDecoder {
 public:
  static constexpr uint8_t topBit = 0x80;
  static constexpr uint8_t lastCode = 5;

  template <typename Sink>
  void feed(const uint8_t* data, uint32_t count, Sink&& sink) {
    for (uint32_t i = 0; i < count; ++i) feed(data[i], sink);
  }

  template <typename Sink>
  void feed(uint8_t byte, Sink&& sink) {
    if ((byte & topBit) == 0) {
      cutOffPower(sink);
      holding_ = true;
      power_ = byte;
      return;
    }
    const auto code = static_cast<uint8_t>(byte & 0x7F);
    if (code == 0) {
      if (holding_ && power_ == 0) {
        holding_ = false;
        sink(Event{EventKind::stop, 2, {0, byte}});
        return;
      }
      cutOffPower(sink);
      sink(Event{EventKind::stop, 1, {byte, 0}});
    } else if (code <= lastCode) {
      if (holding_) {
        holding_ = false;
        sink(Event{EventKind::frame, 2, {power_, byte}});
        return;
      }
      sink(Event{EventKind::loneDirection, 1, {byte, 0}});
    } else {
      cutOffPower(sink);
      sink(Event{EventKind::stray, 1, {byte, 0}});
    }
  }

  template <typename Sink>
  void finish(Sink&& sink) {
    cutOffPower(sink);
  }

 private:
  template <typename Sink>
  void cutOffPower(Sink& sink) {
    if (!holding_) return;
    holding_ = false;
    sink(Event{EventKind::lonePower, 1, {power_, 0}});
  }

  bool holding_ = false;
  uint8_t power_ = 0;
};

}  // namespace board
