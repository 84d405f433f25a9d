// Times whole runs of the miner and reports patterns tested per second and
// the run's peak memory: `brimel_bench [--quick]`.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_data.h"
#include "common/run_files.h"
#include "minerio/miner_params.h"

extern char** environ;

namespace {

struct RunResult {
  bool ok = false;
  double seconds = 0.0;      // wall clock
  double cpu_seconds = 0.0;  // user and system time of the run alone
  long peak_kb = 0;
  unsigned long long patterns = 0;
  unsigned long long rules = 0;
};

void write_parameters(const std::string& base, const std::string& target_attribute,
                      const std::string& target_value, int min_sup) {
  write_miner_params(kParameterFile,
                     miner_params_for(base, target_attribute, target_value, min_sup, 0.05, "out"));
}

// One run of the real executable; its peak memory comes from the kernel's
// accounting of the child alone.
RunResult run_miner_once() {
  RunResult result;
  std::string program = BRIMEL_PATH;
  std::string para = kParameterFile;
  char* argv[] = {program.data(), para.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "miner.log", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const auto start = std::chrono::steady_clock::now();
  pid_t child = 0;
  const int error = posix_spawn(&child, program.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return result;
  int status = 0;
  struct rusage usage {};
  wait4(child, &status, 0, &usage);
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  result.peak_kb = usage.ru_maxrss;
  std::ifstream stat(statistics_file("out"));
  unsigned long long values[6] = {};
  for (auto& value : values) stat >> value;
  result.patterns = values[3];
  result.rules = values[5];
  result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && stat;
  return result;
}

void bench(const std::string& base, const std::string& target_attribute,
           const std::string& target_value, const std::vector<int>& supports) {
  for (const int min_sup : supports) {
    write_parameters(base, target_attribute, target_value, min_sup);
    const RunResult r = run_miner_once();
    if (!r.ok) {
      std::printf("%-12s min_sup %6d  run failed\n", base.c_str(), min_sup);
      continue;
    }
    // Per CPU second too: on a busy machine the wall clock says little.
    std::printf(
        "%-12s min_sup %6d  patterns %10llu  rules %7llu  %7.3f s (cpu %7.3f s)"
        "  %5.2f M patterns/s (per cpu s %5.2f M)  peak %7.1f MB\n",
        base.c_str(), min_sup, r.patterns, r.rules, r.seconds, r.cpu_seconds,
        static_cast<double>(r.patterns) / r.seconds / 1e6,
        static_cast<double>(r.patterns) / r.cpu_seconds / 1e6, r.peak_kb / 1024.0);
    std::fflush(stdout);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
  std::string dir = (std::filesystem::temp_directory_path() / "brimel-bench-XXXXXX").string();
  if (mkdtemp(dir.data()) == nullptr) return 1;
  std::filesystem::current_path(dir);

  write_dense_data("dense", 8000, 22, 17);
  bench("dense", "class", "yes",
        quick ? std::vector<int>{400, 200} : std::vector<int>{400, 100, 50, 25, 18});
  if (convert_arff(std::string(VARNEL_DATA_DIR) + "/supermarket.arff", "supermarket"))
    bench("supermarket", "total", "high",
          quick ? std::vector<int>{1500, 1000} : std::vector<int>{1000, 500, 300, 200, 150});
  else
    std::puts("supermarket data not found");

  std::filesystem::current_path(std::filesystem::temp_directory_path());
  std::filesystem::remove_all(dir);
  return 0;
}
