// How fast virtual-robot's lockstep clock goes, as its users run it: one 12 s run of
// examples/scenarios/ball-right.toml, as simulated seconds per wall second, and the sweep of
// examples/scenarios/grid.toml (its runs as many at a time as the machine has cores), as runs per
// minute. Each also gives the processor time it took, the steadier figure on a busy machine. Run by
// hand: the figures are the machine's. VIRTUAL_ROBOT in the environment names another build's
// program, to compare.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

double childrenCpuSeconds() {
  rusage r{};
  (void)getrusage(RUSAGE_CHILDREN, &r);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(r.ru_utime) + seconds(r.ru_stime);
}

const char* program() {
  // NOLINTNEXTLINE(concurrency-mt-unsafe): the benchmarks run on one thread
  const char* other = std::getenv("VIRTUAL_ROBOT");
  return other != nullptr ? other : VIRTUAL_ROBOT;
}

// Runs virtual-robot with `args`, its output to /dev/null; whether it ended with status 0.
bool virtualRobot(const std::vector<std::string>& args) {
  std::vector<char*> argv{const_cast<char*>(program())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&quiet, 1, 2);
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, program(), &quiet, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&quiet);
  int status = 0;
  return failed == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

// The time of a trace's last row: the run's simulated seconds.
double lastSampleSeconds(const fs::path& trace) {
  std::ifstream in(trace);
  std::string line;
  std::string last;
  while (std::getline(in, line)) {
    if (!line.empty()) last = line;
  }
  return std::strtod(last.c_str(), nullptr);
}

// Runs `once(dir)` per iteration in a fresh folder; returns the wall seconds, and tells the
// processor seconds an iteration as the counter `cpuCounter`.
template <typename Once>
double measure(benchmark::State& state, Once once, const char* cpuCounter) {
  double wall = 0;
  double cpu = 0;
  for (auto _ : state) {
    const fs::path dir = fs::temp_directory_path() / "lockstep-benchmark";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const double cpuBefore = childrenCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    const bool ok = once(dir);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cpu += childrenCpuSeconds() - cpuBefore;
    wall += elapsed;
    state.SetIterationTime(elapsed);
    fs::remove_all(dir);
    if (!ok) {
      state.SkipWithError("virtual-robot failed");
      break;
    }
  }
  state.counters[cpuCounter] = cpu / static_cast<double>(state.iterations());
  return wall;
}

void ballRight(benchmark::State& state) {
  double simulated = 0;
  const double wall = measure(
      state,
      [&](const fs::path& dir) {
        const fs::path trace = dir / "trace.csv";
        const bool ok = virtualRobot(
            {"--lockstep", EXAMPLES_DIR "/scenarios/ball-right.toml", "--trace", trace.string()});
        simulated += lastSampleSeconds(trace);
        return ok;
      },
      "cpu_s_per_run");
  state.counters["times_real_time"] = simulated / wall;
}
BENCHMARK(ballRight)->Unit(benchmark::kSecond)->Iterations(5)->UseManualTime();

void grid(benchmark::State& state) {
  double runs = 0;
  const double wall = measure(
      state,
      [&](const fs::path& dir) {
        const bool ok = virtualRobot(
            {"--lockstep", EXAMPLES_DIR "/scenarios/grid.toml", "--out", (dir / "grid").string()});
        std::ifstream table(dir / "grid" / "table.csv");
        std::string line;
        for (int row = 0; std::getline(table, line); ++row) runs += row > 0 ? 1 : 0;
        return ok;
      },
      "cpu_s_per_sweep");
  state.counters["runs_per_minute"] = runs / wall * 60;
}
BENCHMARK(grid)->Unit(benchmark::kSecond)->Iterations(3)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
