#include "robot/engine.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

namespace robot {
namespace {

int signedDuty(const boardsim::MotorState& m) {
  if (m.forward == m.backward) return 0;  // braked or without direction: no drive
  return m.forward ? m.duty : -m.duty;
}

}  // namespace

std::unique_ptr<Engine> Engine::load(const Scenario& s, const std::string& elf,
                                     const std::string& dir, std::string& why) {
  std::unique_ptr<boardsim::Board> board = boardsim::Board::load(elf, why);
  if (board == nullptr) return nullptr;
  for (const char* name : {"/b.txt", "/t.txt"}) (void)std::remove((dir + name).c_str());
  return std::unique_ptr<Engine>(new Engine(s, std::move(board), dir));
}

Engine::Engine(const Scenario& s, std::unique_ptr<boardsim::Board> board, const std::string& dir)
    : board_(std::move(board)),
      world_(s),
      producer_(s, dir),
      line_(*board_),
      stepNanos_(std::llround(world_.stepS() * 1e9)) {
  run_.scenario = s;
  run_.samples.reserve(static_cast<size_t>(s.run.durationS * 1000) + 1000);
}

// The decoder tells what reached the board, at the time the line brings it.
void Engine::handOver() {
  line_.handOver(boardsim::SimTime(now_), boardsim::SimTime(lineByteNanos),
                 [&](const board::LineByte& b) {
                   decoder_.feed(b.value, [&](const board::Event& e) {
                     if (e.kind != board::EventKind::frame && e.kind != board::EventKind::stop)
                       return;
                     run_.events.push_back({static_cast<double>(b.arrives.count()) / 1e9, e.code(),
                                            e.kind == board::EventKind::frame ? e.power() : 0});
                   });
                 });
}

void Engine::stepWorld() {
  const boardsim::Motors motors = board_->motors();
  const int leftDuty = signedDuty(motors.left);
  const int rightDuty = signedDuty(motors.right);
  const Nanos at = steps_ * stepNanos_;
  // The first step of each millisecond records the world as it is, with the duties that drive
  // the step.
  if (at >= nextSample_) {
    constexpr Nanos sampleEvery = 1'000'000;
    nextSample_ = (at / sampleEvery + 1) * sampleEvery;
    const Pose& pose = world_.pose();
    run_.samples.push_back({.t = static_cast<double>(at) / 1e9,
                            .x = pose.x,
                            .y = pose.y,
                            .heading = pose.heading,
                            .leftSpeed = world_.leftSpeed(),
                            .rightSpeed = world_.rightSpeed(),
                            .ballX = world_.ballX(),
                            .ballY = world_.ballY(),
                            .u = producer_.u(),
                            .goalColumn = producer_.goalColumn(),
                            .leftDuty = leftDuty,
                            .rightDuty = rightDuty});
  }
  world_.step(leftDuty, rightDuty);
  ++steps_;
}

bool Engine::runTo(Nanos t) {
  while (now_ < t) {
    const Nanos nextStep = steps_ * stepNanos_;
    Nanos next = std::min({t, nextStep, producer_.nextTake(), producer_.nextWrite()});
    next = std::min(next, std::max(now_, line_.nextDue(boardsim::SimTime(lineByteNanos)).count()));
    if (next > now_ && !board_->runUntil(boardsim::SimTime(next))) {
      why_ = "the firmware's processor stopped for good (a crash?)";
      return false;
    }
    now_ = std::max(now_, next);
    handOver();
    // At one instant: the picture sees the world before its step, and the sample sees the files.
    if (now_ >= producer_.nextTake()) producer_.take(world_);
    if (!producer_.write(now_, why_)) return false;
    if (now_ >= nextStep) stepWorld();
  }
  return true;
}

Run Engine::takeRun() {
  run_.samples.shrink_to_fit();
  return std::move(run_);
}

}  // namespace robot
