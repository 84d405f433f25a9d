// The miner's parameter file: lines "key=value" with the keys the experiment
// driver writes, checked before any data is read.
#pragma once

#include <cstdint>
#include <string>

#include "common/run_files.h"

struct MinerParams {
  std::string data_file;
  std::string names_file;
  std::string target_attribute;
  std::string target_value;  // empty: rank the class values by frequency
  std::string output;        // base name of every output file
  int32_t min_sup = 0;
  int32_t max_len = kMaxLen;
  double max_pvalue = 0.05;
  double max_local_pvalue = kMaxLocalPvalue;
  double min_diff = kMinDiff;
  bool gen_tid_list = true;
};

// Fills `params` from the parameter file at `path`. Prints an "Error: " line
// and returns false for a missing file, a missing required key, a value out
// of range and a fixed setting the miner cannot honour; an unknown key only
// gets a "Warning: " line.
bool read_miner_params(const std::string& path, MinerParams& params);
