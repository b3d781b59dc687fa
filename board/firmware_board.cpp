#include "board/firmware_board.h"

#include <algorithm>
#include <cmath>

#include "board/wall_clock_pacer.h"

namespace board {
namespace {

using boardsim::SimTime;
using namespace std::chrono_literals;

// A new state is told once it has held this long: a frame's register writes take ~80 us.
constexpr SimTime settleTime = 1ms;
constexpr SimTime lookEvery = 50us;  // how often the motors are looked at

double seconds(SimTime t) { return std::chrono::duration<double>(t).count(); }

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
    : sim_(std::move(sim)), out_(out), line_(*sim_) {}

void FirmwareBoard::start(std::chrono::steady_clock::time_point zero) {
  thread_ = std::jthread([this, zero](const std::stop_token& ending) { run(zero, ending); });
}

std::string FirmwareBoard::finish() {
  thread_.request_stop();
  if (thread_.joinable()) thread_.join();
  char text[160];
  (void)std::snprintf(text, sizeof text,
                      "%s%s; bytes reached it up to %.1f ms late, the simulation ran up to %.1f "
                      "ms behind the wall clock",
                      told_.c_str(), stopped_ ? " (its processor stopped)" : "",
                      seconds(line_.mostLate()) * 1000, seconds(mostBehind_) * 1000);
  return text;
}

// The program has ended and the firmware has had every byte, then turned the motors off or had
// its time to.
bool FirmwareBoard::done() const {
  if (stopped_) return true;
  if (!line_.empty() || sim_->now() < line_.lastArrival() + settleTime) return false;
  return told_ == "off" || sim_->now() >= line_.lastArrival() + lingerAfterEnd;
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

void FirmwareBoard::run(std::chrono::steady_clock::time_point zero, const std::stop_token& ending) {
  WallClockPacer pacer(zero);
  for (;;) {
    line_.takeArrived();
    line_.handOver(sim_->now(), sim_->byteTime(), [](const LineByte& /*b*/) {});
    if (ending.stop_requested() && done()) break;
    if (stopped_)
      WallClockPacer::idle();
    else
      runTo(pacer.next(sim_->now()));
  }
  mostBehind_ = pacer.mostBehind();
}

}  // namespace board
