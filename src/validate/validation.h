// Re-tests the mined rules on the test part and counts the significant ones.
#pragma once

#include <cstdint>
#include <string>

#include "miner/rule_file.h"
#include "testpart/test_part.h"
#include "validate/rule_count.h"
#include "validate/rule_table.h"

// The kept rules, ordered by test p-value once validation has sorted them.
using ValidatedRules = RuleSet;

// What validation found, beside the files it wrote.
struct HoldoutFigures {
  int32_t rules_tested = 0;
  RuleCountRecord counts;
  int32_t reversed = 0;  // kept rules whose association flipped on the test part
};

// Reads the rule file and the tid lists of `output_name`, re-tests every
// rule, writes the validated files and the rule table of `output_name` and
// sets the four validation counts of run_stats. `context` names the items
// and the class for the rule table; its test counts are filled in here.
HoldoutFigures validate_rules(const TestTransactions& transactions, const ClassLabels& labels,
                              const std::string& output_name, double level,
                              RuleTableContext context);

// Appends to `kept` every rule whose test p-value is within `level`, with its
// counts and tid list merged over both parts. With `tests` given, it also
// gets every rule's test counts and exact p-value, in the order of `rules`,
// and `kept_from` the index in `rules` of each kept rule.
void retest_rules(const RuleSet& rules, const TestTransactions& transactions,
                  const ClassLabels& labels, double level, ValidatedRules& kept,
                  std::vector<RuleTest>* tests = nullptr,
                  std::vector<size_t>* kept_from = nullptr);

