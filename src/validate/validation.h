// Re-tests the mined rules on the test part and counts the significant ones,
// in three steps that the caller runs as three stages: reading the miner's
// rules, re-testing them, writing the results.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "minerio/rule_count.h"
#include "minerio/rule_file.h"
#include "minerio/tidlist_store.h"
#include "testpart/test_part.h"
#include "validate/rule_table.h"
#include "validate/test_covers.h"

// The mined rules, with their tid lists open for a second walk.
struct MinedRules {
  RuleSet rules;
  RuleTidLists lists;
  bool have_lists = false;
  std::vector<int64_t> mined_text_bytes;  // per rule: its list as `support` numbers of text
};

// Every rule's test counts and p-value, and which rules are kept.
struct Retest {
  TestCovers covers;
  std::vector<RuleTest> tests;         // per mined rule, in the miner's order
  std::vector<size_t> kept;            // indexes of the kept rules, by ascending test p-value
  RuleCountRecord counts;              // of the kept rules, over every rule tested
  int32_t sig_at_holm = 0;             // kept rules under Holm's step-down over every rule tested
  int32_t sig_at_bh = 0;               // kept rules under Benjamini-Hochberg's step-up
  std::vector<bool> productive_rules;  // per mined rule: kept and productive
  int32_t productive = 0;              // of the rules within the corrected level
  // Per mined rule: within the corrected level, and productive with the
  // corrected level as the local level too.
  std::vector<bool> productive_corrected_rules;
  int32_t productive_corrected = 0;
};

// What validation found, beside the files it wrote.
struct HoldoutFigures {
  int32_t rules_tested = 0;
  RuleCountRecord counts;
  int32_t sig_at_holm = 0;  // under Holm's step-down over the rules tested
  int32_t reversed = 0;     // kept rules whose association flipped on the test part
  int32_t productive = 0;   // rules within the corrected level that are productive
  int32_t sig_at_bh = 0;    // under Benjamini-Hochberg's step-up over the rules tested
  // Rules within the corrected level that are productive at it too.
  int32_t productive_corrected = 0;
};

// Reads the rule file of `output_name` and walks its tid lists once, so
// that damage in the files is reported now and the bytes of each rule's list
// as text are known; the walk that writes the kept rules' lists is quiet.
// `transactions` is the mined transactions the statistics file states. The
// lists must be closed with close_rule_tid_lists once the results are written.
void read_mined_rules(const std::string& output_name, int32_t transactions, MinedRules& mined);

// Re-tests every rule with Fisher's exact test on the first
// min(transactions, labels) test instances and keeps those within `level`
// that cover something on either part, and counts them. Each kept rule is then re-tested against
// its generalisations at `local_level`, the miner's local level, and each rule within the
// corrected level at the corrected level as well (see validate/productivity.h).
// `transactions` and `labels` must outlive the result. The rules are tested
// on `threads` threads, with the same result on any number.
Retest retest_rules(const RuleSet& rules, const TestTransactions& transactions,
                    const ClassLabels& labels, double level, double local_level, int threads);

// Writes the validated rule, tid-list and rule count files and the rule
// table of `output_name`. Test instance j is numbered
// context.mining_transactions + j in the tid lists. `context` names the
// items and the class for the rule table; its test counts are filled in here.
HoldoutFigures write_validation(const std::string& output_name, MinedRules& mined,
                                const Retest& retest, double level, RuleTableContext context);
