// How many frames a second steer sends on the example position files when the end-to-end tests'
// harness reads its line, and when virtual-board does, unpaced and paced (at most 480 frames a
// second at 9600 baud). Run by hand: the figures are the machine's.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/sandbox.h"
#include "tests/tool_run.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto span = std::chrono::milliseconds(2000);

std::string example(const char* name) {
  std::ifstream in(std::string(EXAMPLES_DIR) + "/" + name);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs steer for `span` once per iteration with `run(startedAt)` and reports frames a second.
template <typename Run>
void measure(benchmark::State& state, Run run) {
  double frames = 0;
  double seconds = 0;
  for (auto _ : state) {
    const auto startedAt = Clock::now();
    const long long sent = run(startedAt);
    const double elapsed = std::chrono::duration<double>(Clock::now() - startedAt).count();
    if (sent < 0) {
      state.SkipWithError("steer did not run");
      return;
    }
    frames += static_cast<double>(sent);
    seconds += elapsed;
    state.SetIterationTime(elapsed);
  }
  state.counters["frames_per_second"] = frames / seconds;
}

void underTheTestHarness(benchmark::State& state) {
  measure(state, [](Clock::time_point startedAt) -> long long {
    Sandbox box(STEER_PROGRAM, "/dev/ttyUSB0");
    box.writeFile("t.txt", example("t.txt"));
    box.writeFile("b.txt", example("b.txt"));
    if (!box.start()) return -1;
    box.collectUntil([&] { return Clock::now() - startedAt >= span; });
    const auto frames = static_cast<long long>(box.line().size() / 2);
    box.send(SIGINT);
    box.finish();
    return frames;
  });
}

double jsonValue(const std::string& json, const std::string& key) {
  const size_t at = json.find("\"" + key + "\": ");
  return at == std::string::npos ? -1 : std::strtod(json.c_str() + at + key.size() + 4, nullptr);
}

void underVirtualBoard(benchmark::State& state, bool paced) {
  double lineBytesPerSecond = 0;
  double mostWaiting = 0;
  measure(state, [&](Clock::time_point startedAt) -> long long {
    std::vector<std::string> args = {"--json", "summary.json", "--", STEER_PROGRAM};
    if (paced) args.insert(args.begin(), "--pace");
    ToolRun run(args);
    if (!run.start()) return -1;
    run.collectUntil([&] { return Clock::now() - startedAt >= span; });
    run.interrupt();
    if (run.finish() != 0) return -1;
    const std::string json = run.file("summary.json");
    // The rate at which the bytes reached the board, from the first to the last.
    const double busy = jsonValue(json, "last_byte_at") - jsonValue(json, "first_byte_at");
    lineBytesPerSecond = std::max(lineBytesPerSecond, (jsonValue(json, "bytes") - 1) / busy);
    mostWaiting = std::max(mostWaiting, jsonValue(json, "most_bytes_waiting"));
    return static_cast<long long>(jsonValue(json, "4"));
  });
  state.counters["line_bytes_per_second"] = lineBytesPerSecond;
  if (paced) state.counters["most_bytes_waiting"] = mostWaiting;
}

void threeTimed(benchmark::internal::Benchmark* b) {
  b->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(underTheTestHarness)->Apply(threeTimed);
BENCHMARK_CAPTURE(underVirtualBoard, unpaced, false)->Apply(threeTimed);
BENCHMARK_CAPTURE(underVirtualBoard, paced, true)->Apply(threeTimed);
BENCHMARK_MAIN();
