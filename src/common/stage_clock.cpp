// The process-wide stage clock, on a monotonic clock.
#include "common/stage_clock.h"

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

struct StageClock {
  Stage current = Stage::starting;
  Clock::time_point since = Clock::now();
  std::array<double, kStageCount> seconds{};
};

StageClock clock_state;

double seconds_since(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

}  // namespace

const char* stage_key(Stage stage) {
  static constexpr const char* kKeys[kStageCount] = {
      "starting",          "split",      "mining", "reading_miner_files",
      "loading_test_part", "validation", "writing"};
  return kKeys[static_cast<size_t>(stage)];
}

const char* stage_activity(Stage stage) {
  static constexpr const char* kActivities[kStageCount] = {"starting",
                                                           "splitting the dataset",
                                                           "mining",
                                                           "reading the miner's files",
                                                           "loading the test part",
                                                           "validating the rules",
                                                           "writing the results"};
  return kActivities[static_cast<size_t>(stage)];
}

void begin_stage(Stage stage) {
  const Clock::time_point now = Clock::now();
  clock_state.seconds[static_cast<size_t>(clock_state.current)] +=
      std::chrono::duration<double>(now - clock_state.since).count();
  clock_state.current = stage;
  clock_state.since = now;
}

Stage current_stage() { return clock_state.current; }

std::array<double, kStageCount> stage_seconds() {
  std::array<double, kStageCount> seconds = clock_state.seconds;
  seconds[static_cast<size_t>(clock_state.current)] += seconds_since(clock_state.since);
  return seconds;
}
