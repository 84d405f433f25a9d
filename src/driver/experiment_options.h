// What one experiment is asked to do: the six arguments of the command line
// and the split's seed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct ExperimentOptions {
  std::string dataset_name;  // the records are in <dataset_name>.data
  std::string target_attr;
  std::string target_value;  // may be empty: the miner ranks the class values
  int min_sup = 0;           // on the mining part, at least 1
  double max_pvalue = 0.0;   // 0 < max_pvalue <= 1
  std::string output_name;
  std::optional<uint64_t> seed;  // of the split; a fresh one when not given
};
