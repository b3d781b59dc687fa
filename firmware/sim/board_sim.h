// Runs a board's firmware image, as built for an Arduino Uno or Nano (ATmega328P, 16 MHz), in
// simavr and in simulated time only: bytes go into its serial input (UART0) at the line's rate,
// and the motors' inputs on the H-bridge are read back from its registers. A sleeping processor
// costs no time: the simulation skips to its next event.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

struct avr_t;
struct avr_irq_t;
struct avr_uart_t;

namespace boardsim {

using SimTime = std::chrono::nanoseconds;  // simulated time since the image was loaded

// One motor's inputs on the H-bridge, as Arduino pin numbers (digital 0 to 13).
struct MotorPins {
  int enable;    // ENA or ENB, driven with PWM
  int forward;   // IN1 or IN3
  int backward;  // IN2 or IN4
};
inline constexpr MotorPins leftMotorPins{5, 7, 8};  // the sketch's defaults
inline constexpr MotorPins rightMotorPins{6, 9, 10};

// What the firmware puts on one motor's inputs. A pin that is not an output counts as low.
struct MotorState {
  std::uint8_t duty = 0;  // the enable pin's duty as analogWrite() takes it: 0 off, 255 always on
  bool forward = false;
  bool backward = false;
  bool driven = false;  // all three pins are outputs (after a reset, until setup() sets them)

  bool off() const { return duty == 0 && !forward && !backward; }
  bool operator==(const MotorState&) const = default;
};

struct Motors {
  MotorState left;
  MotorState right;

  bool off() const { return left.off() && right.off(); }
  bool operator==(const Motors&) const = default;
};

class Board {
 public:
  // Loads an ELF image (which names neither the processor nor its clock: it is taken as an
  // ATmega328P at 16 MHz). Null on failure (no such file, no image for this processor, a pin
  // that is not one of the digital pins 0 to 13), with the reason in `error`.
  static std::unique_ptr<Board> load(const std::string& elfPath, std::string& error,
                                     MotorPins left = leftMotorPins,
                                     MotorPins right = rightMotorPins);
  ~Board();
  Board(const Board&) = delete;
  Board& operator=(const Board&) = delete;

  // Bytes for the serial input, from now on. They go onto the line one after the other, each
  // reaching the firmware one byte time (at the rate it set) after it went on; bytes that come
  // before the firmware turns its receiver on are lost, as on a board.
  void send(const std::uint8_t* bytes, std::size_t count);
  std::size_t unsent() const { return unsent_.size(); }
  // When the last byte that went onto the line has fully arrived (or would have).
  SimTime lastByteEnd() const;
  // How long one byte takes on the line at the rate the firmware set (zero before it sets one).
  SimTime byteTime() const;

  // Runs the firmware up to `time`; false, at once, when the processor has stopped for good
  // (a crash, or sleep with interrupts off).
  bool runUntil(SimTime time);
  // Runs until the motors' state differs from what it was at the call, or up to `deadline`;
  // true when it changed (now() then tells when, to the instruction).
  bool runUntilMotorsChange(SimTime deadline);

  SimTime now() const;
  // How much of the time so far the processor ran rather than slept.
  SimTime awake() const;
  Motors motors() const;

 private:
  Board(avr_t* avr, MotorPins left, MotorPins right);
  bool step(std::uint64_t end);
  void sleepNoLaterThan(std::uint64_t cycle, bool awake);
  bool timerDue() const;
  static std::uint64_t onBound(avr_t* avr, std::uint64_t when, void* board);
  void feedUart();
  MotorState motor(const MotorPins& pins) const;
  static void onXon(avr_irq_t* irq, std::uint32_t value, void* board);
  static void onXoff(avr_irq_t* irq, std::uint32_t value, void* board);

  avr_t* avr_;
  MotorPins left_;
  MotorPins right_;
  avr_uart_t* uart_ = nullptr;  // UART0: its input queue and rate tell the line's state
  avr_irq_t* uartInput_ = nullptr;
  bool uartFull_ = false;
  struct Unsent {
    std::uint8_t value;
    std::uint64_t given;  // the cycle at which it was handed to send()
  };
  std::deque<Unsent> unsent_;
  std::uint64_t cycles_ = 0;  // run so far; the core's own count starts again at a reset
  std::uint64_t lastCoreCycle_ = 0;
  std::uint64_t awakeCycles_ = 0;
  static constexpr std::uint64_t noBound = ~std::uint64_t{0};
  std::uint64_t bound_ = noBound;    // when the timer that ends a sleeping core's jump falls due
  std::uint64_t lineFreeCycle_ = 0;  // the line is busy until then
  bool onWire_ = false;              // a byte is on the line, to reach the firmware then
  std::uint8_t onWireByte_ = 0;
};

}  // namespace boardsim
