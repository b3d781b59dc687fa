// What the board's side of the line is told, in order: the line's settings when they change, each
// byte with the time its last bit arrived, and when no byte follows. Times are seconds since the
// program started. The report is one receiver; a simulated board can be another.
#pragma once

#include <cstdint>

#include "board/line_settings.h"

namespace board {

class Receiver {
 public:
  virtual void settings(const LineSettings& s, double at) = 0;
  virtual void arrived(std::uint8_t byte, double at) = 0;
  virtual void quiet(double at) = 0;

 protected:
  Receiver() = default;
  Receiver(const Receiver&) = default;
  Receiver& operator=(const Receiver&) = default;
  ~Receiver() = default;
};

// Hands everything to two receivers, in turn.
class BothReceivers final : public Receiver {
 public:
  BothReceivers(Receiver& first, Receiver& second) : first_(first), second_(second) {}
  void settings(const LineSettings& s, double at) override {
    first_.settings(s, at);
    second_.settings(s, at);
  }
  void arrived(std::uint8_t byte, double at) override {
    first_.arrived(byte, at);
    second_.arrived(byte, at);
  }
  void quiet(double at) override {
    first_.quiet(at);
    second_.quiet(at);
  }

 private:
  Receiver& first_;
  Receiver& second_;
};

}  // namespace board
