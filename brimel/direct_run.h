// The direct-adjustment run, when the parameter file asks for it: the
// permutations set up before the search, which evaluates every tested
// pattern under them, and after it every method's corrected level, for the
// two result files (direct_output.h) or for a caller in memory.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "direct_output.h"
#include "minerio/miner_params.h"
#include "minerio/rule_count.h"
#include "mining_data.h"
#include "pattern_search.h"
#include "search_hook.h"
#include "stats/fisher.h"
#include "westfall_young.h"

struct DirectRun {
  LogFactorialTable log_factorial;
  WestfallYoungSetup westfall_young;
  SearchHook hook;  // handed to the search
};

// Sets up `run` for `data`; false after an "Error: " line when the
// permutations' rows would need more memory than the run allows.
bool prepare_direct_run(const MinerParams& params, const MiningData& data, DirectRun& run);

// After the search has filled `result` through run.hook: every method's
// level (Tarone's may search again at a lower support, counting only).
// `order` lists the rules by ascending p-value, `counts` are the miner's
// counts over them. Returns the figures, or nothing after an "Error: " line,
// or without one when `stop` was set during a search. Prints nothing and
// writes no file.
std::optional<DirectFigures> finish_direct_run(const MinerParams& params, const MiningData& data,
                                               const SearchResult& result,
                                               const std::vector<size_t>& order,
                                               const RuleCountRecord& counts, DirectRun& run,
                                               const std::atomic<bool>* stop = nullptr);

// The two console lines of a direct run: every method's level, and the rules
// each keeps.
void print_direct_summary(const DirectFigures& figures);
