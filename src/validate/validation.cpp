// Validation of the mined rules on the test part: re-testing with Fisher's
// exact test on covers counted from bitsets, sorting by test p-value,
// counting the significant rules and writing the results.
#include "validate/validation.h"

#include <algorithm>
#include <cstdio>

#include "common/stage_clock.h"
#include "driver/run_stats.h"
#include "miner/tidlist_store.h"
#include "validate/fisher.h"
#include "validate/significance.h"
#include "validate/test_covers.h"
#include "validate/validated_output.h"

HoldoutFigures validate_rules(const TestTransactions& transactions, const ClassLabels& labels,
                              const std::string& output_name, double level,
                              RuleTableContext context) {
  begin_stage(Stage::reading_miner_files);
  // Only one rule's mined tid list is held at a time: every list is rebuilt
  // once here, to report damage in the files, and again, quietly, when a
  // kept rule's line is written.
  RuleSet rules;
  const int32_t rules_tested = read_rules(output_name, rules, false);
  RuleTidLists lists;
  const bool have_lists = open_rule_tid_lists(output_name, lists);
  std::vector<int32_t> tids;
  for (size_t r = 0; have_lists && r < rules.records.size(); ++r) {
    tids.assign(static_cast<size_t>(std::max(rules.records[r].support, 0)), 0);
    rebuild_rule_tid_list(lists, rules.records[r], tids);
  }
  lists.file.report = false;
  run_stats.rules_read = rules_tested;
  begin_stage(Stage::validation);
  std::printf("before validation: %d\n", rules_tested);

  const TestCovers covers = build_test_covers(transactions, labels, rules);
  std::printf("no. of instances: %d\n", covers.instances);
  std::printf("no. of positive: %d\n", covers.positives);
  std::fputs("validation...\n", stdout);
  // Every p-value is exact, for the rule table; the kept ones are the same
  // as a sum that stops past the level would give.
  std::vector<RuleTest> tests;
  tests.reserve(rules.records.size());
  std::vector<size_t> kept_from;  // indexes of the kept rules, in the miner's order
  std::vector<uint64_t> scratch;
  for (size_t r = 0; r < rules.records.size(); ++r) {
    const RuleRecord& rule = rules.records[r];
    RuleTest test = count_test_cover(covers, rule, scratch);
    test.pvalue = fisher_exact_pvalue_from(run_stats.log_factorial, covers.instances,
                                           test.covered, covers.positives,
                                           test.covered_in_class);
    tests.push_back(test);
    if (test.pvalue <= level && static_cast<int64_t>(rule.support) + test.covered > 0)
      kept_from.push_back(r);
  }
  std::printf("after validation: %d\n", static_cast<int32_t>(kept_from.size()));
  std::sort(kept_from.begin(), kept_from.end(),
            [&](size_t a, size_t b) { return tests[a].pvalue < tests[b].pvalue; });

  std::vector<double> sorted_pvalues;
  sorted_pvalues.reserve(kept_from.size());
  for (const size_t r : kept_from) sorted_pvalues.push_back(tests[r].pvalue);
  const RuleCountRecord counts =
      count_significant(sorted_pvalues, static_cast<double>(rules_tested), level);
  run_stats.sig_at_level = counts.sig_at_level;
  run_stats.sig_at_corrected = counts.sig_at_corrected;
  run_stats.sig_at_fdr = counts.sig_at_fdr;

  begin_stage(Stage::writing);
  std::vector<KeptRule> kept;
  kept.reserve(kept_from.size());
  for (const size_t r : kept_from) kept.push_back(KeptRule{&rules.records[r], tests[r]});
  const int32_t first_test_number = run_stats.train_instances;
  write_validated_rules(
      output_name, kept,
      [&](const RuleRecord& rule, std::vector<int32_t>& merged) {
        // A list the files cannot give in full keeps zeros where it is short.
        merged.assign(static_cast<size_t>(std::max(rule.support, 0)), 0);
        if (have_lists) rebuild_rule_tid_list(lists, rule, merged);
        append_covered_numbers(covers, rule, first_test_number, scratch, merged);
      },
      counts, rules_tested, level);
  close_rule_tid_lists(lists);

  context.test_instances = covers.instances;
  context.test_positives = covers.positives;
  HoldoutFigures figures{rules_tested, counts,
                         count_holm(sorted_pvalues, static_cast<double>(rules_tested), level), 0};
  std::vector<RuleTableRow> rows;
  rows.reserve(rules.records.size());
  auto add_row = [&](size_t r, bool kept, bool corrected, bool fdr, bool holm) {
    const RuleRecord& mined = rules.records[r];
    rows.push_back(RuleTableRow{&mined, tests[r], rule_direction(mined, tests[r], context), kept,
                                corrected, fdr, holm});
  };
  std::vector<bool> is_kept(rules.records.size(), false);
  for (size_t j = 0; j < kept_from.size(); ++j) {
    is_kept[kept_from[j]] = true;
    add_row(kept_from[j], true, static_cast<int32_t>(j) < counts.sig_at_corrected,
            static_cast<int32_t>(j) < counts.sig_at_fdr,
            static_cast<int32_t>(j) < figures.sig_at_holm);
    if (rows.back().direction == Direction::reversed) ++figures.reversed;
  }
  for (size_t r = 0; r < rules.records.size(); ++r) {
    if (!is_kept[r]) add_row(r, false, false, false, false);
  }
  write_rule_table(output_name, rows, context);
  return figures;
}
