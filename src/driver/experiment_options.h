// What one experiment is asked to do: the six arguments of the command line,
// the split's seed and share, and whether the miner keeps the top k rules.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "driver/split.h"

struct ExperimentOptions {
  std::string dataset_name;  // the records are in <dataset_name>.data
  std::string target_attr;
  std::string target_value;  // may be empty: the miner ranks the class values
  int min_sup = 0;           // on the mining part, at least 1
  double max_pvalue = 0.0;   // 0 < max_pvalue <= 1
  std::string output_name;
  std::optional<uint64_t> seed;               // of the split; a fresh one when not given
  double mining_share = kDefaultMiningShare;  // of each stratum, 0 < share < 1
  // 0: every rule; else the miner keeps the top_k rules of smallest p-value
  // and min_sup is only its floor.
  int32_t top_k = 0;
};
