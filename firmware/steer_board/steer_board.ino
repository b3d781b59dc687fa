// steer_board: firmware for the robot's motor board, an Arduino Uno or Nano (ATmega328P, 16 MHz).
// It reads steer's frames on Serial at 9600 baud and drives two DC motors through an
// L298N-style H-bridge, and it stops them on its own when the frames stop:
//  - motors off from power-up (and after any reset) until the first whole frame;
//  - a whole frame sets both motors as its direction code's row below says, at the frame's
//    power (0 to 100; anything above 100 is full);
//  - the stop sequence (00 80, or a lone 80) turns both off at once;
//  - no whole frame for 100 ms: both off, until the next whole frame;
//  - bytes that make no whole frame change nothing and keep nothing running;
//  - the AVR's own watchdog (250 ms) resets a hung board.
// Between events it sleeps in the AVR's idle mode: a byte's arrival and the core's timer (millis(),
// every 1.024 ms) wake it.

#include <avr/sleep.h>
#include <avr/wdt.h>

#include "frame_decoder.h"

// What each direction code does to the two motors: change the rows to suit your robot. Each
// motor turns forward, backward or not at all, at a share (percent) of the frame's power.
enum Turn { OFF, FORWARD, BACKWARD };
struct MotorDrive {
  Turn turn;
  uint8_t percent;
};
struct CodeDrive {
  MotorDrive left;
  MotorDrive right;
};
const CodeDrive codeTable[] = {
    // left motor       right motor          code  steer means
    {{FORWARD, 100}, {BACKWARD, 100}},  // 1 spin right: object right of centre
    {{BACKWARD, 100}, {FORWARD, 100}},  // 2 spin left: object left of centre
    {{FORWARD, 50}, {FORWARD, 100}},    // 3 arc left: goal left of centre
    {{FORWARD, 100}, {FORWARD, 50}},    // 4 arc right: goal right of centre
    {{FORWARD, 100}, {FORWARD, 100}},   // 5 straight ahead: aligned
};
static_assert(sizeof codeTable / sizeof codeTable[0] == board::FrameDecoder::lastCode,
              "one row for each direction code");

// The H-bridge's inputs: enable (ENA, ENB: PWM pins, the bridge's enable jumpers removed) and the
// two direction inputs of each motor (IN1 and IN2, IN3 and IN4).
struct MotorPins {
  uint8_t enable;
  uint8_t forward;
  uint8_t backward;
};
const MotorPins leftPins = {5, 7, 8};
const MotorPins rightPins = {6, 9, 10};

const unsigned long silenceLimitUs = 100000;  // 100 ms
// The core's timer wakes the board at least this often; closer than this to the time-out the loop
// polls instead of sleeping, so that the motors stop as soon as it has passed.
const unsigned long wakeEveryUs = 2048;  // two of Timer0's overflows, with room to spare
const unsigned long baud = 9600;

board::FrameDecoder decoder;
bool driving = false;    // whether the last whole frame still holds
uint8_t drivenCode = 0;  // and that frame's code and power
uint8_t drivenPower = 0;
unsigned long lastFrameUs = 0;  // micros() wraps after 71 minutes; the difference does not

// 0 to 100 maps onto the PWM duty 0 to 255, above 100 is full; then the motor's share of it.
uint8_t dutyFor(uint8_t power, uint8_t percent) {
  const unsigned full = power >= 100 ? 255U : power * 255U / 100U;
  const unsigned duty = full * percent / 100U;
  return duty > 255U ? 255U : static_cast<uint8_t>(duty);
}

// The direction input that goes low is written first, so both are never high together.
void driveMotor(const MotorPins& pins, const MotorDrive& how, uint8_t power) {
  if (how.turn == FORWARD) {
    digitalWrite(pins.backward, LOW);
    digitalWrite(pins.forward, HIGH);
  } else if (how.turn == BACKWARD) {
    digitalWrite(pins.forward, LOW);
    digitalWrite(pins.backward, HIGH);
  } else {
    digitalWrite(pins.forward, LOW);
    digitalWrite(pins.backward, LOW);
  }
  analogWrite(pins.enable, how.turn == OFF ? 0 : dutyFor(power, how.percent));
}

void motorsOff() {
  const MotorDrive off = {OFF, 0};
  driveMotor(leftPins, off, 0);
  driveMotor(rightPins, off, 0);
  driving = false;
}

void onLineEvent(const board::Event& event) {
  if (event.kind == board::EventKind::frame) {
    // steer repeats its frame while nothing changes: the motors already run as it says.
    if (!driving || event.code() != drivenCode || event.power() != drivenPower) {
      const CodeDrive& row = codeTable[event.code() - 1];
      driveMotor(leftPins, row.left, event.power());
      driveMotor(rightPins, row.right, event.power());
      driving = true;
      drivenCode = event.code();
      drivenPower = event.power();
    }
    lastFrameUs = micros();
  } else if (event.kind == board::EventKind::stop) {
    motorsOff();
  }
}

void setupMotorPins(const MotorPins& pins) {
  digitalWrite(pins.enable, LOW);
  digitalWrite(pins.forward, LOW);
  digitalWrite(pins.backward, LOW);
  pinMode(pins.enable, OUTPUT);
  pinMode(pins.forward, OUTPUT);
  pinMode(pins.backward, OUTPUT);
}

bool enableOnTimer(uint8_t timerA, uint8_t timerB) {
  const uint8_t left = digitalPinToTimer(leftPins.enable);
  const uint8_t right = digitalPinToTimer(rightPins.enable);
  return left == timerA || left == timerB || right == timerA || right == timerB;
}

// The core starts Timers 1 and 2 for PWM on pins 9 and 10, and 3 and 11. Unless a motor's enable
// pin is one of those they are stopped: they would cost current, and the simulator time.
void stopUnusedTimers() {
  if (!enableOnTimer(TIMER1A, TIMER1B)) TCCR1B = 0;
  if (!enableOnTimer(TIMER2A, TIMER2B)) TCCR2B = 0;
}

void setup() {
  // First of all: after a watchdog reset the watchdog runs on at its shortest time (16 ms).
  wdt_enable(WDTO_250MS);
  stopUnusedTimers();
  setupMotorPins(leftPins);
  setupMotorPins(rightPins);
  Serial.begin(baud);
}

// Sleeps until an interrupt, unless a byte is waiting. Interrupts are off from the check to the
// sleep (SEI lets one more instruction run before any interrupt), so that a byte that comes
// meanwhile wakes the board rather than waiting for the next timer tick.
void sleepUntilWoken() {
  set_sleep_mode(SLEEP_MODE_IDLE);
  cli();
  if (Serial.available() == 0) {
    sleep_enable();
    sei();
    sleep_cpu();
    sleep_disable();
  }
  sei();
}

// The bytes are read right after the sleep, so that a byte that wakes the board acts at once.
void loop() {
  wdt_reset();
  bool nearTimeOut = false;  // then the loop polls rather than sleeps
  if (driving) {
    const unsigned long silentUs = micros() - lastFrameUs;
    if (silentUs >= silenceLimitUs) motorsOff();
    nearTimeOut = silentUs >= silenceLimitUs - wakeEveryUs;
  }
#ifdef STEER_BOARD_TEST_HANG
  // A test build: once a frame has set the motors going, the loop hangs for the watchdog.
  static volatile bool hung = false;
  if (driving) hung = true;
  while (hung) {
  }
#endif
  if (!nearTimeOut) sleepUntilWoken();
  while (Serial.available() > 0) {
    decoder.feed(static_cast<uint8_t>(Serial.read()), onLineEvent);
  }
}
