// Re-tests the mined rules on the test part and counts the significant ones.
#pragma once

#include <cstdint>
#include <string>

#include "miner/rule_file.h"
#include "testpart/test_part.h"
#include "validate/rule_count.h"

// The kept rules, ordered by test p-value once validation has sorted them.
using ValidatedRules = RuleSet;

// Reads the rule file and the tid lists of `output_name`, re-tests every
// rule, writes the validated files of `output_name` and sets the four
// validation counts of run_stats.
void validate_rules(const TestTransactions& transactions, const ClassLabels& labels,
                    const std::string& output_name, double level);

// Appends to `kept` every rule whose test p-value is within `level`, with its
// counts and tid list merged over both parts.
void retest_rules(const RuleSet& rules, const TestTransactions& transactions,
                  const ClassLabels& labels, double level, ValidatedRules& kept);

