#include "board/firmware_board.h"

#include <algorithm>
#include <cmath>

namespace board {
namespace {

using boardsim::SimTime;
using namespace std::chrono_literals;

// A new state is told once it has held this long: a frame's register writes take ~80 us.
constexpr SimTime settleTime = 1ms;
// The simulation runs ahead of the wall clock by at most a slice, and sleeps a slice when ahead.
constexpr SimTime slice = 1ms;
constexpr SimTime lookEvery = 50us;  // how often the motors are looked at
// After the last byte, how long to wait for the firmware to turn the motors off by itself.
constexpr double linger = 0.5;

double seconds(SimTime t) { return std::chrono::duration<double>(t).count(); }
SimTime simTime(double seconds) {
  return std::chrono::duration_cast<SimTime>(std::chrono::duration<double>(seconds));
}

std::string motor(const char* side, const boardsim::MotorState& m) {
  const char* way = m.forward && m.backward ? "braked"
                    : m.forward             ? "forward"
                    : m.backward            ? "backward"
                                            : "without direction";
  if (m.duty == 0) way = "off";
  const long percent = std::lround(m.duty * 100.0 / 255);
  return std::string(side) + " " + way + (m.duty == 0 ? "" : " " + std::to_string(percent) + "%");
}

const char* motion(const boardsim::Motors& m) {
  const auto forward = [](const boardsim::MotorState& s) { return s.forward && !s.backward; };
  const auto backward = [](const boardsim::MotorState& s) { return s.backward && !s.forward; };
  if (m.left.duty == 0 || m.right.duty == 0) return "";
  if (forward(m.left) && backward(m.right)) return " (spin right)";
  if (backward(m.left) && forward(m.right)) return " (spin left)";
  if (backward(m.left) && backward(m.right)) return " (reverse)";
  if (!forward(m.left) || !forward(m.right)) return "";
  if (m.left.duty == m.right.duty) return " (straight ahead)";
  return m.left.duty < m.right.duty ? " (arc left)" : " (arc right)";
}

}  // namespace

std::string describeMotors(const boardsim::Motors& m) {
  if (m.left.duty == 0 && m.right.duty == 0) return "off";
  return motor("left", m.left) + ", " + motor("right", m.right) + motion(m);
}

std::unique_ptr<FirmwareBoard> FirmwareBoard::load(const std::string& elf, std::FILE* out,
                                                   std::string& why) {
  std::unique_ptr<boardsim::Board> sim = boardsim::Board::load(elf, why);
  if (sim == nullptr) return nullptr;
  return std::unique_ptr<FirmwareBoard>(new FirmwareBoard(std::move(sim), out));
}

FirmwareBoard::FirmwareBoard(std::unique_ptr<boardsim::Board> sim, std::FILE* out)
    : sim_(std::move(sim)), out_(out) {}

FirmwareBoard::~FirmwareBoard() {
  if (!thread_.joinable()) return;
  {
    const std::lock_guard<std::mutex> hold(lock_);
    ending_ = true;
  }
  thread_.join();
}

void FirmwareBoard::start(std::chrono::steady_clock::time_point zero) {
  zero_ = zero;
  thread_ = std::thread([this] { run(); });
}

void FirmwareBoard::arrived(std::uint8_t byte, double at) {
  const std::lock_guard<std::mutex> hold(lock_);
  arriving_.push_back({byte, at});
}

std::string FirmwareBoard::finish() {
  {
    const std::lock_guard<std::mutex> hold(lock_);
    ending_ = true;
  }
  if (thread_.joinable()) thread_.join();
  char text[160];
  (void)std::snprintf(text, sizeof text,
                      "%s%s; bytes reached it up to %.1f ms late, the simulation ran up to %.1f "
                      "ms behind the wall clock",
                      told_.c_str(), stopped_ ? " (its processor stopped)" : "", mostLate_ * 1000,
                      mostBehind_ * 1000);
  return text;
}

double FirmwareBoard::wall() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - zero_).count();
}

double FirmwareBoard::now() const { return seconds(sim_->now()); }

// The program has ended and the firmware has had every byte, then turned the motors off or had
// its time to.
bool FirmwareBoard::done() const {
  if (stopped_) return true;
  if (!due_.empty() || !onLine_.empty() || now() < lastArrival_ + seconds(settleTime)) return false;
  return told_ == "off" || now() >= lastArrival_ + linger;
}

// Bytes go onto the simulated line one byte time before the real line brings them, so that they
// reach the firmware then; one that finds the simulated line busy waits for it.
void FirmwareBoard::feed() {
  {
    const std::lock_guard<std::mutex> hold(lock_);
    due_.insert(due_.end(), arriving_.begin(), arriving_.end());
    arriving_.clear();
  }
  const double byteTime = seconds(sim_->byteTime());
  while (!due_.empty() && due_.front().at - byteTime <= now()) {
    sim_->send(&due_.front().value, 1);
    onLine_.push_back(due_.front().at);
    due_.pop_front();
  }
  while (onLine_.size() > sim_->unsent()) {
    lastArrival_ = seconds(sim_->lastByteEnd());
    mostLate_ = std::max(mostLate_, lastArrival_ - onLine_.front());
    onLine_.pop_front();
  }
}

// Runs in steps, looking at the motors after each: checking after every instruction would cost
// more than the instructions themselves.
void FirmwareBoard::runTo(SimTime target) {
  const boardsim::Motors before = sim_->motors();
  bool changed = false;
  // The simulation counts whole cycles: less than a microsecond short of the target is there.
  while (!changed && target - sim_->now() >= 1us) {
    if (!sim_->runUntil(std::min(target, sim_->now() + lookEvery))) {
      stopped_ = true;
      (void)std::fprintf(out_, "%9.3fs  the firmware's processor stopped for good (a crash?)\n",
                         seconds(sim_->now()));
      return;
    }
    changed = !(sim_->motors() == before);
  }
  if (!changed) return;
  const SimTime at = sim_->now();
  stopped_ = !sim_->runUntil(at + settleTime);
  const std::string state = describeMotors(sim_->motors());
  if (state == told_) return;
  told_ = state;
  toldAt_ = seconds(at);
  (void)std::fprintf(out_, "%9.3fs  motors: %s\n", seconds(at), told_.c_str());
}

void FirmwareBoard::run() {
  for (;;) {
    feed();
    {
      const std::lock_guard<std::mutex> hold(lock_);
      if (ending_ && done()) return;
    }
    if (stopped_) {
      std::this_thread::sleep_for(slice);
      continue;
    }
    const double behind = wall() - now();
    if (behind < 0) {
      std::this_thread::sleep_for(std::min(simTime(-behind), SimTime(slice)));
      continue;
    }
    mostBehind_ = std::max(mostBehind_, behind);
    runTo(std::min(simTime(wall()), sim_->now() + slice));
  }
}

}  // namespace board
