// The validated rule files, line-parallel, one line per kept rule:
//   rule_file(O)               length  items..  0  pvalue  0  0
//   validated_tidlist_file(O)  support  class_support  tids..
// each value followed by one blank; then the rule count file. Support, class
// support and tids are over both parts: the mined tid list, then the test
// instances the rule covers.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "miner/rule_count.h"
#include "miner/rule_file.h"
#include "validate/rule_table.h"

// A kept rule: the mined record (its support and class support on the
// mining part) and its counts and p-value on the test part.
struct KeptRule {
  const RuleRecord* mined = nullptr;
  RuleTest test;
};

// Appends the rule's tid list over both parts: its mined transactions, then
// the numbers of the test instances it covers.
using MergedTids = std::function<void(const RuleRecord& rule, std::vector<int32_t>& tids)>;

// Writes `kept` in its order, building each rule's merged tid list only
// while its line is written. Files that cannot be created or written get an
// "Error: " line.
void write_validated_rules(const std::string& output_name, std::span<const KeptRule> kept,
                           const MergedTids& merged_tids, const RuleCountRecord& counts,
                           int32_t rules_tested, double level);
