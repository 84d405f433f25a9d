// The one mining-and-validation run of an experiment.
#pragma once

#include <string>

// Runs the miner on the mining part, reads its outputs, loads the test part
// and validates every mined rule on it. Results are files, console lines and
// the validation counts of run_stats.
void mine_and_validate(const std::string& mining_base, const std::string& test_base,
                       const std::string& output_name, const std::string& target_attr,
                       const std::string& target_value, int min_sup, double max_pvalue,
                       double max_local_pvalue, double min_diff);
