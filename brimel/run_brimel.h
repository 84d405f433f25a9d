// One run of the miner: parameters, data, search, and the eight output
// files, written under temporary names and renamed into place at the end.
#pragma once

#include <string>

// Runs the miner on the parameter file at `param_path` and returns the exit
// status: 0 when every output file was written, 1 after an "Error: " line
// otherwise (then no output file is replaced).
int run_brimel(const std::string& param_path);
