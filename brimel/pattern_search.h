// The depth-first search for rules: every frequent pattern is counted and
// tested, and the patterns that pass the three tests are kept as rules.
#pragma once

#include <atomic>
#include <cstdint>
#include <limits>
#include <vector>

#include "minerio/miner_params.h"
#include "mining_data.h"
#include "search_hook.h"

struct MinedRule {
  uint64_t item_begin = 0;  // first of `length` ascending item ids in SearchResult.rule_items
  int32_t length = 0;
  int32_t support = 0;
  int32_t class_support = 0;
  double pvalue = 0.0;            // global Fisher p-value
  double max_local_pvalue = 0.0;  // largest local p-value; 0 for one item
};

struct SearchResult {
  uint64_t patterns_tested = 0;  // frequent patterns within max_len
  uint64_t passing_pvalue = 0;   // of those, p <= max_pvalue
  bool count_saturated = false;  // the counts above stopped at their largest value
  int32_t frequent_items = 0;
  std::vector<MinedRule> rules;  // in search order
  std::vector<int32_t> rule_items;
  // The support the counts above are over: min_sup, or under top-k
  // (params.top_k, top_k.h) the support the search ended with.
  int32_t min_sup = 0;
  // Under top-k: the p-value bound the search ended with (the K-th smallest
  // p-value of the rules, or max_pvalue when fewer reach it), and the
  // patterns it tested before those below its final support were taken out
  // (which depends on how its threads met the rules). 0 without top-k.
  double top_k_bound = 0.0;
  uint64_t patterns_visited = 0;
  // Under top-k without a hook: the counts are of the patterns with at
  // least this many records in the class too (top_k.h). 0 otherwise.
  int32_t min_class_support = 0;
  // The threads the search could run on (one per item at most ran), which
  // the work after it may use too.
  int threads = 1;
};

// How the search lays out covers; the result is the same for every choice.
struct SearchOptions {
  // Below the items, a node's children are packed into bitsets over the
  // node's own records when the words its cover is read over number at
  // least this many times the words those records fill; 0: at every node
  // with children, whatever its cover.
  size_t packing_ratio = 2;
  // The most of a node's last children whose subtrees are counted from a
  // table of their sets, up to kMaxSubsetItems; 0: none.
  int most_tabled = 14;
  // Read every few thousand nodes by every search thread: once it is set,
  // the search gives up and returns false with no "Error: " line.
  const std::atomic<bool>* stop = nullptr;
  // Under top-k: the p-value bound the search starts from, at or above the
  // K-th smallest p-value of the rules; NaN: found first (top_k.h).
  double top_k_start = std::numeric_limits<double>::quiet_NaN();
  // The threads to search on; 0: one per processor, or as many as
  // BRIMEL_THREADS says.
  int threads = 0;
};

// Mines `data` with the settings of `params` into `result`. Returns false
// after an "Error: " line when the patterns are too many to keep track of.
// Shows progress on standard error when `show_progress` is set. Searches on
// options.threads threads, else one per processor, or as many as
// BRIMEL_THREADS says (a "Warning: " line when it is not a number from 1 to
// 1024); the result is the same for every number of threads. With `hook`, also what it asks for
// (search_hook.h), the same for every number of threads too; where it
// evaluates permutations, every node's children are laid out over the
// records of the node's item, whatever `options` say. With params.top_k,
// only the top_k rules of smallest p-value (top_k.h), the same for every
// number of threads too; the hook's counts then include patterns below
// result.min_sup, which its caller leaves out.
bool search_rules(const MiningData& data, const MinerParams& params, bool show_progress,
                  SearchResult& result, SearchHook* hook = nullptr,
                  const SearchOptions& options = SearchOptions{});
