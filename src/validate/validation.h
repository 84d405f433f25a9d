// Re-tests the mined rules on the test part and counts the significant ones.
#pragma once

#include <cstdint>
#include <string>

#include "miner/rule_file.h"
#include "testpart/test_part.h"
#include "validate/rule_count.h"
#include "validate/rule_table.h"

// What validation found, beside the files it wrote.
struct HoldoutFigures {
  int32_t rules_tested = 0;
  RuleCountRecord counts;
  int32_t sig_at_holm = 0;  // under Holm's step-down over the rules tested
  int32_t reversed = 0;  // kept rules whose association flipped on the test part
};

// Reads the rule file and the tid lists of `output_name`, re-tests every
// rule, writes the validated files and the rule table of `output_name` and
// sets the four validation counts of run_stats. `context` names the items
// and the class for the rule table; its test counts are filled in here.
HoldoutFigures validate_rules(const TestTransactions& transactions, const ClassLabels& labels,
                              const std::string& output_name, double level,
                              RuleTableContext context);
