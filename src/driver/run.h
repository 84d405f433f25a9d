// The one mining-and-validation run of an experiment.
#pragma once

#include <cstdint>
#include <string>

#include "miner/rule_count.h"
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
  MinerFigures miner;
  HoldoutFigures holdout;
};

// Checks the target against the mining part, runs the miner on it, reads its
// outputs, loads the test part and validates every mined rule on it. Results
// are files, console lines, the validation counts of run_stats and the
// figures returned. `mining_records` is the mining part's record count.
RunFigures mine_and_validate(const std::string& mining_base, const std::string& test_base,
                             const std::string& output_name, const std::string& target_attr,
                             const std::string& target_value, int min_sup, double max_pvalue,
                             double max_local_pvalue, double min_diff, int64_t mining_records);
