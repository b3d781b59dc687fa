#include "firmware/sim/board_sim.h"

#include <avr_ioport.h>
#include <avr_uart.h>
#include <sim_avr.h>
#include <sim_elf.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace boardsim {
namespace {

constexpr std::uint32_t clockHz = 16'000'000;
constexpr const char* processor = "atmega328p";

// Data-space addresses of the ATmega328P's registers that tell the pins' state.
constexpr std::uint16_t ddrB = 0x24, portB = 0x25, ddrD = 0x2A, portD = 0x2B;
constexpr std::uint16_t tccr0A = 0x44, ocr0A = 0x47, ocr0B = 0x48;
constexpr std::uint16_t tccr1A = 0x80, ocr1AL = 0x88, ocr1BL = 0x8A;
constexpr std::uint16_t tccr2A = 0xB0, ocr2A = 0xB3, ocr2B = 0xB4;
constexpr std::uint16_t ucsr0C = 0xC2;
constexpr int upm0Shift = 4;  // UCSR0C's parity mode bits

// The Uno's PWM pins: the timer control register whose COM bits connect the pin to its compare
// unit, where those two bits are, and the compare register that holds the duty.
struct PwmPin {
  int pin;
  std::uint16_t control;
  int comShift;
  std::uint16_t compare;
};
constexpr PwmPin pwmPins[] = {
    {3, tccr2A, 4, ocr2B},  {5, tccr0A, 4, ocr0B},   {6, tccr0A, 6, ocr0A},
    {9, tccr1A, 6, ocr1AL}, {10, tccr1A, 4, ocr1BL}, {11, tccr2A, 6, ocr2A},
};

std::uint64_t toCycles(SimTime t) {
  return static_cast<std::uint64_t>(t.count()) * (clockHz / 1'000'000) / 1000;
}
SimTime fromCycles(std::uint64_t cycles) {
  return SimTime(static_cast<SimTime::rep>(cycles * 1000 / (clockHz / 1'000'000)));
}

// simavr's notes on loading and running: only errors matter here, and they go to stderr.
void logErrors(avr_t* /*avr*/, int level, const char* format, va_list args) {
  if (level > LOG_ERROR) return;
  (void)std::fputs("simavr: ", stderr);
  (void)std::vfprintf(stderr, format, args);
}

avr_uart_t* uartZero(avr_t* avr) {
  for (avr_io_t* io = avr->io_port; io != nullptr; io = io->next) {
    if (io->irq_ioctl_get == AVR_IOCTL_UART_GETIRQ('0')) {
      return reinterpret_cast<avr_uart_t*>(io);  // avr_io_t is its first member
    }
  }
  return nullptr;
}

// simavr's reader takes any ELF file for an AVR's, and crashes on others: look first. Empty when
// `path` is a 32-bit little-endian ELF file for the AVR, else why not.
std::string notAnAvrImage(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return "cannot open " + path + ": " + std::generic_category().message(errno);
  unsigned char header[20] = {};
  const size_t got = std::fread(header, 1, sizeof header, file);
  (void)std::fclose(file);
  constexpr unsigned char elf32LittleEndian[] = {0x7f, 'E', 'L', 'F', 1, 1};
  constexpr int machineAvr = 83;  // e_machine, at byte 18
  if (got < sizeof header ||
      std::memcmp(header, elf32LittleEndian, sizeof elf32LittleEndian) != 0) {
    return path + " is not a 32-bit ELF file, as an AVR firmware image (.elf) is";
  }
  if (header[18] != machineAvr || header[19] != 0) {
    return path + " is an ELF file for another processor than the AVR";
  }
  return "";
}

// What elf_read_firmware() allocated; avr_load_firmware() has copied what it needs.
void releaseImage(elf_firmware_t& image) {
  std::free(image.flash);
  std::free(image.eeprom);
  std::free(image.fuse);
  std::free(image.lockbits);
  for (std::uint32_t i = 0; i < image.symbolcount; ++i) std::free(image.symbol[i]);
  std::free(static_cast<void*>(image.symbol));
}

// avr_terminate() frees what the processor holds, but not the processor itself.
void release(avr_t* avr) {
  if (avr == nullptr) return;
  avr_terminate(avr);
  std::free(avr);
}

// The time one byte takes at the rate the firmware set, from the UART's registers: a start bit,
// the data bits, a parity bit if any and the stop bits, at (U2X ? 8 : 16) x (UBRR + 1) cycles a
// bit. Zero while its receiver is off.
std::uint64_t uartByteCycles(avr_t* avr, const avr_uart_t& uart) {
  if (avr_regbit_get(avr, uart.rxen) == 0) return 0;
  const unsigned ubrr = avr_regbit_get(avr, uart.ubrrl) |
                        static_cast<unsigned>(avr_regbit_get(avr, uart.ubrrh)) << 8U;
  const unsigned cyclesPerBit = (avr_regbit_get(avr, uart.u2x) != 0 ? 8U : 16U) * (ubrr + 1);
  const unsigned dataBits =
      avr_regbit_get(avr, uart.ucsz2) != 0 ? 9U : 5U + avr_regbit_get(avr, uart.ucsz);
  const unsigned parityBits = ((avr->data[ucsr0C] >> upm0Shift) & 3U) != 0 ? 1U : 0U;
  const unsigned stopBits = 1U + avr_regbit_get(avr, uart.usbs);
  return std::uint64_t{cyclesPerBit} * (1 + dataBits + parityBits + stopBits);
}

}  // namespace

std::unique_ptr<Board> Board::load(const std::string& elfPath, std::string& error, MotorPins left,
                                   MotorPins right) {
  avr_global_logger_set(logErrors);
  for (const int pin :
       {left.enable, left.forward, left.backward, right.enable, right.forward, right.backward}) {
    if (pin < 0 || pin > 13) {
      error = "motor pin " + std::to_string(pin) + " is not one of the digital pins 0 to 13";
      return nullptr;
    }
  }
  std::string why = notAnAvrImage(elfPath);
  if (!why.empty()) {
    error = why;
    return nullptr;
  }
  elf_firmware_t image{};
  avr_t* avr = nullptr;
  if (elf_read_firmware(elfPath.c_str(), &image) != 0) {
    why = "cannot read " + elfPath + " as an AVR firmware image (an .elf file)";
  } else if (avr = avr_make_mcu_by_name(processor); avr == nullptr || avr_init(avr) != 0) {
    why = "this simavr cannot simulate an ATmega328P";
  } else if (image.flashbase + image.flashsize > avr->flashend + 1U) {
    why = elfPath + " does not fit an ATmega328P's flash: is it built for another processor?";
  } else {
    (void)std::snprintf(image.mmcu, sizeof image.mmcu, "%s", processor);
    image.frequency = clockHz;
    avr_load_firmware(avr, &image);
  }
  releaseImage(image);
  if (why.empty()) return std::unique_ptr<Board>(new Board(avr, left, right));
  release(avr);
  error = why;
  return nullptr;
}

Board::Board(avr_t* avr, MotorPins left, MotorPins right) : avr_(avr), left_(left), right_(right) {
  std::uint32_t flags = 0;
  (void)avr_ioctl(avr_, AVR_IOCTL_UART_GET_FLAGS('0'), &flags);
  flags &= ~static_cast<std::uint32_t>(AVR_UART_FLAG_STDIO | AVR_UART_FLAG_POLL_SLEEP);
  (void)avr_ioctl(avr_, AVR_IOCTL_UART_SET_FLAGS('0'), &flags);
  uart_ = uartZero(avr_);
  uartInput_ = avr_io_getirq(avr_, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_INPUT);
  avr_irq_register_notify(avr_io_getirq(avr_, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUT_XON), onXon,
                          this);
  avr_irq_register_notify(avr_io_getirq(avr_, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUT_XOFF),
                          onXoff, this);
}

Board::~Board() { release(avr_); }

void Board::onXon(avr_irq_t* /*irq*/, std::uint32_t /*value*/, void* board) {
  static_cast<Board*>(board)->uartFull_ = false;
}

void Board::onXoff(avr_irq_t* /*irq*/, std::uint32_t /*value*/, void* board) {
  static_cast<Board*>(board)->uartFull_ = true;
}

void Board::send(const std::uint8_t* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) unsent_.push_back({bytes[i], cycles_});
}

SimTime Board::byteTime() const {
  return uart_ == nullptr ? SimTime(0) : fromCycles(uartByteCycles(avr_, *uart_));
}

// One byte at a time goes onto the line: when it is given, or when the one before has had its
// byte time; it reaches the firmware one byte time later. The line is timed here rather than by
// simavr's UART, whose own byte time counts a bit more than the line carries: it would fall
// further behind the line with every byte. So simavr hands each byte over the moment it comes.
void Board::feedUart() {
  if (uart_ == nullptr) return;
  if (onWire_ && cycles_ >= lineFreeCycle_ && !uartFull_) {
    uart_->cycles_per_byte = 1;
    avr_raise_irq(uartInput_, onWireByte_);
    onWire_ = false;
  }
  if (onWire_ || unsent_.empty()) return;
  const std::uint64_t start = std::max(unsent_.front().given, lineFreeCycle_);
  if (cycles_ < start) return;
  const std::uint64_t rateCycles = uartByteCycles(avr_, *uart_);
  // Before the firmware sets a rate, the line's own: 9600 baud, ten bits a byte.
  lineFreeCycle_ = start + (rateCycles != 0 ? rateCycles : clockHz / (9600 / 10));
  onWireByte_ = unsent_.front().value;
  onWire_ = true;
  unsent_.pop_front();
}

bool Board::step() {
  feedUart();
  const int state = avr_run(avr_);
  const std::uint64_t core = avr_->cycle;
  cycles_ += core >= lastCoreCycle_ ? core - lastCoreCycle_ : core;
  lastCoreCycle_ = core;
  return state != cpu_Done && state != cpu_Crashed;
}

bool Board::runUntil(SimTime time) {
  const std::uint64_t end = toCycles(time);
  while (cycles_ < end) {
    if (!step()) return false;
  }
  return true;
}

bool Board::runUntilMotorsChange(SimTime deadline) {
  const std::uint64_t end = toCycles(deadline);
  const Motors before = motors();
  while (cycles_ < end) {
    if (!step()) return false;
    if (!(motors() == before)) return true;
  }
  return false;
}

SimTime Board::now() const { return fromCycles(cycles_); }

SimTime Board::lastByteEnd() const { return fromCycles(lineFreeCycle_); }

Motors Board::motors() const { return {motor(left_), motor(right_)}; }

MotorState Board::motor(const MotorPins& pins) const {
  const std::uint8_t* data = avr_->data;
  // Arduino pins 0 to 7 are port D's bits, 8 to 13 port B's.
  const auto output = [&](int pin) {
    return ((pin < 8 ? data[ddrD] >> pin : data[ddrB] >> (pin - 8)) & 1) != 0;
  };
  const auto high = [&](int pin) {
    return output(pin) && ((pin < 8 ? data[portD] >> pin : data[portB] >> (pin - 8)) & 1) != 0;
  };
  MotorState m;
  m.forward = high(pins.forward);
  m.backward = high(pins.backward);
  m.driven = output(pins.enable) && output(pins.forward) && output(pins.backward);
  // analogWrite() connects the pin to its compare unit (COM bits 2: high until the compare value)
  // for a duty of 1 to 254, and for 0 or 255 disconnects it and sets the pin low or high.
  m.duty = high(pins.enable) ? 255 : 0;
  for (const PwmPin& p : pwmPins) {
    if (p.pin != pins.enable || !output(pins.enable)) continue;
    const int com = (data[p.control] >> p.comShift) & 3;
    if (com == 2) m.duty = data[p.compare];
    if (com == 3) m.duty = static_cast<std::uint8_t>(255 - data[p.compare]);
  }
  return m;
}

}  // namespace boardsim
