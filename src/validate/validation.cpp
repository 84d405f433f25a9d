// Validation of the mined rules on the test part: re-testing with Fisher's
// exact test, sorting by test p-value and counting the significant rules.
#include "validate/validation.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <numeric>

#include "common/stage_clock.h"
#include "driver/run_stats.h"
#include "miner/tidlist_store.h"
#include "validate/fisher.h"
#include "validate/significance.h"
#include "validate/validated_output.h"

namespace {

// A rule that passed the test, waiting to be copied into the kept set; its
// covered test instances lie in a list shared by all pending rules.
struct PendingRule {
  const RuleRecord* mined = nullptr;
  size_t covered_start = 0;
  int32_t covered = 0;
  int32_t covered_in_class = 0;
  double pvalue = 0.0;
};

// True when every item of `rule` (ascending) is among the transaction's
// (ascending): one merge pass that stops at the first missing item.
bool contains_rule(const TestTransaction& transaction, const RuleRecord& rule) {
  int32_t matched = 0;
  auto item = transaction.begin();
  while (matched < rule.length) {
    if (item == transaction.end()) return false;
    const int32_t wanted = rule.items[matched];
    if (wanted == *item) {
      ++matched;
      ++item;
    } else if (wanted < *item) {
      return false;
    } else {
      ++item;
    }
  }
  return true;
}

// Rebuilds `kept` with the pending rules appended, in buffers sized exactly,
// so that every record points into the set that holds it.
void append_kept_rules(ValidatedRules& kept, const std::vector<PendingRule>& pending,
                       const std::vector<int32_t>& covered_tids) {
  size_t item_total = kept.item_buffer.size();
  size_t tid_total = kept.tid_buffer.size();
  for (const PendingRule& rule : pending) {
    item_total += static_cast<size_t>(rule.mined->length);
    tid_total += static_cast<size_t>(rule.mined->support) + static_cast<size_t>(rule.covered);
  }
  ValidatedRules merged;
  merged.item_buffer.resize(item_total);
  merged.tid_buffer.resize(tid_total);
  merged.records.reserve(kept.records.size() + pending.size());
  int32_t* next_item = merged.item_buffer.data();
  int32_t* next_tid = merged.tid_buffer.data();
  auto add = [&](RuleRecord record, const int32_t* tids, const int32_t* extra_tids, int32_t extra) {
    std::copy_n(record.items, record.length, next_item);
    record.items = next_item;
    next_item += record.length;
    std::copy_n(tids, record.support, next_tid);
    std::copy_n(extra_tids, extra, next_tid + record.support);
    record.tid_list = next_tid;
    record.support += extra;
    next_tid += record.support;
    merged.records.push_back(record);
  };
  for (const RuleRecord& record : kept.records) add(record, record.tid_list, nullptr, 0);
  for (const PendingRule& rule : pending) {
    RuleRecord record = *rule.mined;
    record.class_support += rule.covered_in_class;
    record.pvalue = rule.pvalue;
    add(record, rule.mined->tid_list, covered_tids.data() + rule.covered_start, rule.covered);
  }
  kept = std::move(merged);
}

}  // namespace

void retest_rules(const RuleSet& rules, const TestTransactions& transactions,
                  const ClassLabels& labels, double level, ValidatedRules& kept,
                  std::vector<RuleTest>* tests, std::vector<size_t>* kept_from) {
  // Labels and transactions are loaded in step; the shorter list bounds both.
  const int32_t instances = static_cast<int32_t>(std::min(labels.size(), transactions.size()));
  const int32_t positives = static_cast<int32_t>(
      std::count(labels.begin(), labels.begin() + instances, 1));
  std::printf("no. of instances: %d\n", instances);
  std::printf("no. of positive: %d\n", positives);
  std::fputs("validation...\n", stdout);

  std::vector<PendingRule> pending;
  std::vector<int32_t> covered_tids;  // test instances renumbered after the mining part
  for (const RuleRecord& rule : rules.records) {
    PendingRule candidate;
    candidate.mined = &rule;
    candidate.covered_start = covered_tids.size();
    for (int32_t j = 0; j < instances; ++j) {
      if (!contains_rule(transactions[j], rule)) continue;
      covered_tids.push_back(run_stats.train_instances + j);
      ++candidate.covered;
      if (labels[j] == 1) ++candidate.covered_in_class;
    }
    // Summing may stop once the p-value is past the level: such a rule is
    // dropped, and every p-value within the level is exact. The rule table
    // wants every p-value exact, and the kept ones come out the same.
    candidate.pvalue = fisher_exact_pvalue_from(
        run_stats.log_factorial, instances, candidate.covered, positives,
        candidate.covered_in_class,
        tests != nullptr ? std::numeric_limits<double>::infinity() : level);
    if (tests != nullptr)
      tests->push_back(RuleTest{candidate.covered, candidate.covered_in_class, candidate.pvalue});
    const int64_t total = static_cast<int64_t>(rule.support) + candidate.covered;
    if (candidate.pvalue <= level && total > 0) {
      if (kept_from != nullptr) kept_from->push_back(static_cast<size_t>(&rule - rules.records.data()));
      pending.push_back(candidate);
    } else {
      covered_tids.resize(candidate.covered_start);
    }
  }
  append_kept_rules(kept, pending, covered_tids);
}

HoldoutFigures validate_rules(const TestTransactions& transactions, const ClassLabels& labels,
                              const std::string& output_name, double level,
                              RuleTableContext context) {
  begin_stage(Stage::reading_miner_files);
  RuleSet rules;
  const int32_t rules_tested = read_rules(output_name, rules);
  load_rule_tid_lists(output_name, rules);
  run_stats.rules_read = rules_tested;
  begin_stage(Stage::validation);
  std::printf("before validation: %d\n", rules_tested);

  ValidatedRules kept;
  std::vector<RuleTest> tests;
  std::vector<size_t> kept_from;
  tests.reserve(rules.records.size());
  retest_rules(rules, transactions, labels, level, kept, &tests, &kept_from);
  std::printf("after validation: %d\n", static_cast<int32_t>(kept.records.size()));
  // Sorting positions the way the records would be sorted gives the same
  // order, ties included: the sort sees the same comparisons.
  std::vector<size_t> order(kept.records.size());
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return kept.records[a].pvalue < kept.records[b].pvalue;
  });
  std::vector<RuleRecord> sorted_records;
  sorted_records.reserve(order.size());
  for (const size_t k : order) sorted_records.push_back(kept.records[k]);
  kept.records = std::move(sorted_records);

  std::vector<double> sorted_pvalues;
  sorted_pvalues.reserve(kept.records.size());
  for (const RuleRecord& rule : kept.records) sorted_pvalues.push_back(rule.pvalue);
  const RuleCountRecord counts =
      count_significant(sorted_pvalues, static_cast<double>(rules_tested), level);
  run_stats.sig_at_level = counts.sig_at_level;
  run_stats.sig_at_corrected = counts.sig_at_corrected;
  run_stats.sig_at_fdr = counts.sig_at_fdr;

  begin_stage(Stage::writing);
  write_validated_rules(output_name, kept, counts, rules_tested, level);

  context.test_instances = static_cast<int32_t>(std::min(labels.size(), transactions.size()));
  context.test_positives = static_cast<int32_t>(
      std::count(labels.begin(), labels.begin() + context.test_instances, 1));
  const double mined_base = static_cast<double>(context.mining_positives) / context.mining_transactions;
  const double test_base = static_cast<double>(context.test_positives) / context.test_instances;
  HoldoutFigures figures{rules_tested, counts, 0};
  std::vector<RuleTableRow> rows;
  rows.reserve(rules.records.size());
  std::vector<bool> is_kept(rules.records.size(), false);
  for (size_t j = 0; j < order.size(); ++j) {
    const size_t r = kept_from[order[j]];
    is_kept[r] = true;
    const RuleRecord& mined = rules.records[r];
    rows.push_back(RuleTableRow{&mined, tests[r], true,
                                static_cast<int32_t>(j) < counts.sig_at_corrected,
                                static_cast<int32_t>(j) < counts.sig_at_fdr});
    const double mined_confidence = static_cast<double>(mined.class_support) / mined.support;
    if (rule_direction(mined_confidence, mined_base, tests[r], test_base) == Direction::reversed)
      ++figures.reversed;
  }
  for (size_t r = 0; r < rules.records.size(); ++r) {
    if (!is_kept[r]) rows.push_back(RuleTableRow{&rules.records[r], tests[r], false, false, false});
  }
  write_rule_table(output_name, rows, context);
  return figures;
}
