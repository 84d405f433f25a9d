// The one mining-and-validation run of an experiment.
#pragma once

#include <cstdint>
#include <optional>

#include "common/stage_clock.h"
#include "driver/experiment_options.h"
#include "driver/miner_run.h"
#include "stats/significance.h"
#include "validate/validation.h"

// The miner's own figures on the mining part: every pattern it tested, the
// rules it reported, and its counts at the level, at level / patterns tested
// (direct adjustment) and under its FDR step.
struct MinerFigures {
  int64_t patterns_tested = -1;  // -1: not known
  int32_t rules_mined = 0;
  RuleCountRecord counts;
};

struct RunFigures {
  int32_t mining_transactions = 0;  // as the miner's statistics file states them
  MinerFigures miner;
  HoldoutFigures holdout;
};

// Checks the target against the mining part of the split, runs the miner on
// it, reads its outputs, loads the test part and validates every mined rule
// on it, each stage timed on `clock`. Returns the figures, or nothing as soon
// as a stage has reported an "Error: " line: later stages would only repeat
// the failure. A failed run leaves no result file (the miner's files stay,
// to be looked into). `mining_records` is the mining part's record count;
// `miner` is what the experiment shares with the miner's process.
std::optional<RunFigures> mine_and_validate(const ExperimentOptions& options,
                                            int64_t mining_records, MinerContext& miner,
                                            StageClock& clock);

// Removes the miner's files and every result file of `output_name`. The
// experiment does so before anything else: its split differs from any
// earlier one, so an earlier experiment's files describe other transactions
// and must not stay beside a failed one.
void remove_run_outputs(const std::string& output_name);
