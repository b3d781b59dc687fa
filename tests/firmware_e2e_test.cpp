// steer under virtual-board with the board's real firmware image in the simulator: what the
// robot's wheels do as the object moves, at a Ctrl-C, and when steer is killed outright.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/tool_run.h"

namespace {

namespace fs = std::filesystem;

const std::string spinRight = "left forward 50%, right backward 50% (spin right)";
const std::string spinLeft = "left backward 50%, right forward 50% (spin left)";

struct MotorLine {
  double at;
  std::string state;
};

// The report's "  12.345s  motors: STATE" lines, in order.
std::vector<MotorLine> motorLines(const std::string& err) {
  std::vector<MotorLine> lines;
  std::istringstream in(err);
  for (std::string line; std::getline(in, line);) {
    const size_t tag = line.find("s  motors: ");
    if (tag != std::string::npos) lines.push_back({std::stod(line), line.substr(tag + 11)});
  }
  return lines;
}

// The states told, each once in order of first appearance. On a busy machine steer may stall
// past the firmware's time-out, so the motors may go off and on again on the way.
std::vector<std::string> statesOf(const std::vector<MotorLine>& lines) {
  std::vector<std::string> states;
  for (const MotorLine& l : lines) {
    if (std::find(states.begin(), states.end(), l.state) == states.end()) states.push_back(l.state);
  }
  return states;
}

double jsonValue(const std::string& json, const std::string& key) {
  const size_t at = json.find("\"" + key + "\": ");
  return at == std::string::npos ? -1 : std::stod(json.substr(at + key.size() + 4));
}

// Replaced whole, as the position producer does, so that steer never reads half a file.
void writePosition(const ToolRun& run, const std::string& text) {
  const std::string path = run.dir() + "/b.txt";
  std::ofstream(path + ".new") << text;
  fs::rename(path + ".new", path);
}

// steer's pid: the process running it in the run's folder.
pid_t steerIn(const ToolRun& run) {
  for (const auto& entry : fs::directory_iterator("/proc")) {
    std::error_code error;
    if (fs::read_symlink(entry.path() / "exe", error) == STEER_PROGRAM &&
        fs::read_symlink(entry.path() / "cwd", error) == run.dir()) {
      return std::stoi(entry.path().filename().string());
    }
  }
  return -1;
}

class BoardSimSteer : public testing::Test {
 protected:
  void SetUp() override {
    writePosition(run_, "(400.0, 200.0)\n");  // right of centre
    ASSERT_TRUE(run_.start()) << run_.error();
    ASSERT_TRUE(shown(spinRight)) << run_.err();
  }

  bool shown(const std::string& state) {
    return run_.collectUntil(
        [&] { return run_.err().find("motors: " + state + "\n") != std::string::npos; }, 30);
  }

  // On a terminal, as a user runs it: steer is the foreground job, and Ctrl-C is typed.
  ToolRun run_{{"--firmware", STEER_BOARD_ELF, "--json", "summary.json", "--", STEER_PROGRAM},
               true};
};

TEST_F(BoardSimSteer, ObjectMovingLeftSpinsTheOtherWayAndCtrlCStopsTheMotors) {
  writePosition(run_, "(200.0, 200.0)\n");  // left of centre
  ASSERT_TRUE(shown(spinLeft)) << run_.err();
  run_.interrupt();
  ASSERT_EQ(run_.finish(30), 0) << run_.err();

  const std::vector<MotorLine> lines = motorLines(run_.err());
  EXPECT_EQ(statesOf(lines), (std::vector<std::string>{spinRight, spinLeft, "off"})) << run_.err();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().state, "off") << run_.err();
  const std::string json = run_.file("summary.json");
  EXPECT_EQ(jsonValue(json, "stops"), 1) << json;
  EXPECT_NE(json.find("\"motors\": \"off\""), std::string::npos) << json;
  EXPECT_NE(run_.err().find("  motors       off; "), std::string::npos) << run_.err();
}

// steer gets no chance to stop the board: the firmware's own time-out, 100 ms after the last
// whole frame, does. The board may get the last bytes a little after the line carried them.
TEST_F(BoardSimSteer, KilledSteerLeavesTheFirmwareToStopTheMotors) {
  const pid_t steer = steerIn(run_);
  ASSERT_GT(steer, 0);
  ASSERT_EQ(kill(steer, SIGKILL), 0);
  ASSERT_EQ(run_.finish(30), 128 + SIGKILL) << run_.err();

  const std::vector<MotorLine> lines = motorLines(run_.err());
  EXPECT_EQ(statesOf(lines), (std::vector<std::string>{spinRight, "off"})) << run_.err();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().state, "off") << run_.err();
  const std::string json = run_.file("summary.json");
  const double off = lines.back().at;
  EXPECT_GT(off, jsonValue(json, "duration")) << "steer ended at the duration\n" << run_.err();
  EXPECT_GE(off, jsonValue(json, "last_byte_at") + 0.090) << json << run_.err();
  EXPECT_LT(off, jsonValue(json, "last_byte_at") + 1.0) << json << run_.err();
  EXPECT_EQ(jsonValue(json, "stops"), 0) << json;
  // The end is told after the motors' last change, and not as earlier.
  const size_t end = run_.err().find("s  end ");
  ASSERT_NE(end, std::string::npos) << run_.err();
  EXPECT_GT(end, run_.err().rfind("motors: off")) << run_.err();
  EXPECT_GE(std::stod(run_.err().substr(end - 9, 9)), off) << run_.err();
}

// kill -STOP of steer alone stops neither virtual-board nor the board (only Ctrl-Z stops the job):
// the firmware's time-out stops the motors, which turn again once steer is continued.
TEST_F(BoardSimSteer, StoppedSteerLeavesTheFirmwareToStopTheMotorsUntilContinued) {
  const pid_t steer = steerIn(run_);
  ASSERT_GT(steer, 0);
  ASSERT_EQ(kill(steer, SIGSTOP), 0);
  ASSERT_TRUE(shown("off")) << run_.err();
  ASSERT_EQ(kill(steer, SIGCONT), 0);
  const auto turnsAgain = [&] {
    const std::vector<MotorLine> lines = motorLines(run_.err());
    return lines.size() >= 3 && lines.back().state == spinRight;
  };
  ASSERT_TRUE(run_.collectUntil(turnsAgain, 30)) << run_.err();
  run_.interrupt();
  ASSERT_EQ(run_.finish(30), 0) << run_.err();
  EXPECT_EQ(motorLines(run_.err()).back().state, "off") << run_.err();
  EXPECT_EQ(jsonValue(run_.file("summary.json"), "stops"), 1);
}

}  // namespace
