// One run of the miner: parameters, data, search, and the output files,
// written under temporary names and renamed into place at the end.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "direct_output.h"
#include "minerio/miner_params.h"
#include "minerio/mining_stats.h"
#include "mining_data.h"
#include "stats/significance.h"

// What one run of the miner found, beside the files it wrote.
struct MiningResult {
  bool ok = false;              // every output file written; else an "Error: " line said why
  MiningStatistics statistics;  // as in the statistics file
  RuleCountRecord counts;       // over the rules, corrected over the patterns tested
  std::optional<DirectFigures> direct;  // every method's level and rules, when asked for
};

// Mines the data set `params` names and writes every output file under
// params.output (direct adjustment's two files too with params.direct).
// Files are written under temporary names and renamed into place only when
// all are complete, so a run that fails replaces no file; a miner whose
// experiment driver has ended meanwhile (minerio/driver_link.h) renames none.
MiningResult run_brimel(const MinerParams& params);

// The direct run in memory, for a caller that holds the data itself: mines
// `data` (read_mining_data or mining_data_from_lines) with `params` and
// judges the rules by every direct method, as run_brimel does with
// params.direct, but writes no file and prints nothing of its own. Returns
// the figures, or nothing after an "Error: " line, or without one once
// `stop` is set: the search reads it often and gives up.
std::optional<DirectFigures> run_direct_in_memory(const MinerParams& params, const MiningData& data,
                                                  const std::atomic<bool>* stop);

// The files a run with output name `output` writes, in the order they are
// renamed into place (common/run_files.h), the two tid-list files only
// `with_tid_lists`, the two of direct adjustment only `with_direct`.
std::vector<std::string> brimel_output_files(const std::string& output, bool with_tid_lists,
                                             bool with_direct = false);

// "<output>.{a,b,...}": the files, each of them "<output>.<x>", as one word.
std::string files_in_braces(const std::string& output, const std::vector<std::string>& files);
