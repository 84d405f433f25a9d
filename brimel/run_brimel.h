// One run of the miner: parameters, data, search, and the output files,
// written under temporary names and renamed into place at the end.
#pragma once

#include <string>
#include <vector>

// Runs the miner on the parameter file at `param_path` and returns the exit
// status: 0 when every output file was written, 1 after an "Error: " line
// otherwise (then no output file is replaced).
int run_brimel(const std::string& param_path);

// The files a run with output name `output` writes, in the order they are
// renamed into place (common/run_files.h), the two tid-list files only
// `with_tid_lists`, the two of direct adjustment only `with_direct`.
std::vector<std::string> brimel_output_files(const std::string& output, bool with_tid_lists,
                                             bool with_direct = false);

// "<output>.{a,b,...}": the files, each of them "<output>.<x>", as one word.
std::string files_in_braces(const std::string& output, const std::vector<std::string>& files);
