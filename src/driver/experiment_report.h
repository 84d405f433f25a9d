// What an experiment reports: the three significant-rule lines on the console
// and its line in the summary file "Varnel.sum.txt".
#pragma once

#include <cstdint>
#include <string>

#include "stats/significance.h"

// A wall-clock reading: whole seconds since the epoch and milliseconds.
struct WallTime {
  int64_t seconds = 0;
  int milliseconds = 0;
};

struct ExperimentSettings {
  std::string dataset_name;
  int min_sup = 0;
  int max_len = 0;
  double max_pvalue = 0.0;
  double max_local_pvalue = 0.0;
  double min_diff = 0.0;
};

double elapsed_seconds(WallTime start, WallTime end);

// The three significant-rule lines and the empty line that ends them.
std::string format_report(const RuleCountRecord& counts);

// One summary line, ending with a tab and a line feed: `rules_tested` and
// `holdout` as validation counted them, `counts` as its rule count file
// gives them back. Control characters of the dataset name are written as
// '?', so the line stays one line.
std::string format_summary_line(const ExperimentSettings& settings, double elapsed,
                                int32_t rules_tested, const RuleCountRecord& holdout,
                                const RuleCountRecord& counts);

// Appends `line` to "Varnel.sum.txt" in the working directory whole or not at
// all: in one write, under an flock of the file, with SIGINT, SIGTERM and
// SIGHUP held off until it is done, flushed to the disk, and on any failure
// (a full disk) cut back to its size before, so the next line starts on a
// line of its own. Returns false after an "Error: " line (of the system) when
// the file cannot be opened or written.
bool append_summary_line(const std::string& line);
