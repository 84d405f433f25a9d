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

#include "common/block_writer.h"
#include "minerio/rule_count.h"
#include "minerio/rule_file.h"
#include "validate/rule_table.h"

// A kept rule: the mined record (its support and class support on the
// mining part), its counts and p-value on the test part, and the bytes its
// two tid lists take as text (its mined list as `support` numbers, as
// ascending_padded_text_bytes counts them, and the covered test instances'
// together), which place its line in the tid-list file before it is built.
struct KeptRule {
  const RuleRecord* mined = nullptr;
  RuleTest test;
  int64_t tids_text_bytes = 0;
};

// Hands kept rule `kept_index` its mined tid list.
using KeptListVisit = std::function<void(size_t kept_index, std::span<const int32_t> mined)>;
// Calls the visit for kept rules in any order, each at most once; a rule it
// leaves out is written as having an empty list.
using KeptListWalk = std::function<void(const KeptListVisit& visit)>;
// Writes the numbers of the test instances the rule covers, each with a blank.
using CoveredText = std::function<void(const RuleRecord& rule, BlockWriter& out)>;

// Writes `kept` in its order, each rule's tid-list line built straight into
// the output at its place as the walk hands over its mined list. Files that
// cannot be created or written get an "Error: " line.
void write_validated_rules(const std::string& output_name, std::span<const KeptRule> kept,
                           const KeptListWalk& walk, const CoveredText& covered,
                           const RuleCountRecord& counts, int32_t rules_tested, double level);
