// Runs the rule miner: writes its parameter file "orsk.para" and starts it.
#pragma once

#include <string>

// Writes "orsk.para" for these settings, removes the miner's earlier output
// files of `output_name`, prints the command line and runs the miner,
// returning once it has finished. Nothing is reported to the caller: a miner
// that fails shows up later as missing files.
void run_miner(const std::string& data_base, const std::string& target_attr,
               const std::string& target_value, int min_sup, const std::string& output_name,
               double max_pvalue, double max_local_pvalue, double min_diff);
