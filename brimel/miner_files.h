// Writers of the miner's small output files: the item map, the class-value
// map and class-label file, the statistics file, the rule file and the rule
// count file. Each returns false after an "Error: " line when the file
// cannot be written in full.
//   item map       text, line k: "attribute=value" of item k
//   class map      text, one class value per line, in class-index order
//   class labels   raw int32 little-endian, one label per transaction
//   statistics     text, 14 integers on one line (MiningStatistics, in order)
//   rules          text, per rule: preorder length items.. support
//                  class_support confidence pvalue max_local_pvalue lift
//   rule count     text, 12 values, one per line (see write_mined_rule_count)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "miner/miner_params.h"
#include "mining_data.h"
#include "pattern_search.h"
#include "validate/rule_count.h"

struct MiningStatistics {
  int64_t transactions = 0;
  int64_t items = 0;
  int64_t frequent_items = 0;
  uint64_t patterns_tested = 0;
  uint64_t passing_pvalue = 0;
  int64_t rules = 0;
  int64_t tree_entries = 0;
  int64_t full_lists = 0;
  int64_t diff_lists = 0;
  int64_t longest_rule = 0;
  int64_t min_sup = 0;
  int64_t max_len = 0;
  int64_t positives = 0;
  int64_t elapsed_ms = 0;
};

bool write_item_map(const std::string& path, const MiningData& data);
bool write_class_value_map(const std::string& path, const MiningData& data);
bool write_class_labels(const std::string& path, const MiningData& data);
bool write_mining_statistics(const std::string& path, const MiningStatistics& stats);

// Rules in the order of `order` (indexes into result.rules), each with its
// tree entry from `preorder`. Reals in full precision.
bool write_mined_rules(const std::string& path, const SearchResult& result,
                       const std::vector<size_t>& order, const std::vector<int32_t>& preorder,
                       int32_t transactions, int32_t positives);

// patterns tested, level, FDR threshold, max_local_pvalue, min_diff, the
// three counts, patterns passing the global test, items, longest rule, 0.
bool write_mined_rule_count(const std::string& path, const MinerParams& params,
                            const RuleCountRecord& counts, const MiningStatistics& stats);
