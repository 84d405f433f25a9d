// The stage clock of one experiment.
#include "common/stage_clock.h"

namespace {

double seconds_between(std::chrono::steady_clock::time_point from,
                       std::chrono::steady_clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
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

void begin_stage(StageClock& clock, Stage stage) {
  const auto now = std::chrono::steady_clock::now();
  clock.seconds[static_cast<size_t>(clock.current)] += seconds_between(clock.since, now);
  clock.current = stage;
  clock.since = now;
}

std::array<double, kStageCount> stage_seconds(const StageClock& clock) {
  std::array<double, kStageCount> seconds = clock.seconds;
  seconds[static_cast<size_t>(clock.current)] +=
      seconds_between(clock.since, std::chrono::steady_clock::now());
  return seconds;
}
