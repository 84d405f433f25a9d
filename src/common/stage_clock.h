// The stages of one experiment and the time spent in each, for the
// experiment record and for saying what was going on when memory ran out.
// One process-wide clock, like the run's counts.
#pragma once

#include <array>
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

// Ends the current stage, adding its time to its total, and starts `stage`.
// A stage may be entered more than once; its times add up.
void begin_stage(Stage stage);
Stage current_stage();
// Seconds spent in each stage so far (the current one up to now).
std::array<double, kStageCount> stage_seconds();
