// The experiment record "O.experiment.json": one JSON object that says what
// was run (version, start time, arguments, seed), what came of it (record
// counts, the miner's and the holdout's figures, stage times) and whether it
// succeeded, with every error line and, for a failed one, whether the system
// failed it ("failure": "io": a write or read that failed, a full disk,
// memory that ran out, a signal; a rerun may succeed) or its data ("data").
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "common/messages.h"
#include "common/stage_clock.h"
#include "driver/experiment_options.h"
#include "driver/run.h"
#include "driver/split.h"

struct ExperimentRecord {
  std::string started_utc;  // ISO 8601, e.g. "2026-12-07T13:05:22Z"
  ExperimentOptions options;
  uint64_t seed = 0;  // the split's, given or drawn
  SplitCounts records;
  RunFigures figures;
  std::array<double, kStageCount> stage_seconds{};
  double total_seconds = 0.0;
  ReportedLines reported;  // the experiment's own lines; its errors decide the status
};

// The current time as the record writes it.
std::string utc_timestamp();

// Writes the record to `path`; returns false after an "Error: " line when it
// cannot be written, and removes what was written of it.
bool write_experiment_record(const std::string& path, const ExperimentRecord& record);
