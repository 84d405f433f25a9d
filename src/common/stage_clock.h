// The stages of one experiment and the time spent in each, for the
// experiment record and for saying what was going on when memory ran out.
// The run owns its clock and hands it to whoever starts a stage.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>

enum class Stage {
  starting,
  split,
  mining,
  reading_miner_files,
  loading_test_part,
  validation,
  writing,  // the last stage
};
inline constexpr size_t kStageCount = static_cast<size_t>(Stage::writing) + 1;

// The key of the stage in the experiment record ("split", "mining", ...).
const char* stage_key(Stage stage);
// What the stage does, for messages ("splitting the dataset", ...).
const char* stage_activity(Stage stage);

// On a monotonic clock; starts in Stage::starting when made.
struct StageClock {
  Stage current = Stage::starting;
  std::chrono::steady_clock::time_point since = std::chrono::steady_clock::now();
  std::array<double, kStageCount> seconds{};  // of the stages ended so far
};

// Ends the current stage, adding its time to its total, and starts `stage`.
// A stage may be entered more than once; its times add up.
void begin_stage(StageClock& clock, Stage stage);
// Seconds spent in each stage so far (the current one up to now).
std::array<double, kStageCount> stage_seconds(const StageClock& clock);
