// The record-by-record re-test that validation's bitset covers must agree
// with: every rule merged with every test record, the kept rules rebuilt with
// their counts and tid lists merged over both parts (whether a record holds a
// rule is the one merge pass that validation also uses for the records it
// cannot answer from bitsets). Slow, and plain enough to be the reference.
#pragma once

#include <algorithm>
#include <cstdio>
#include <vector>

#include "driver/run_stats.h"
#include "miner/rule_file.h"
#include "testpart/test_part.h"
#include "validate/fisher.h"
#include "validate/test_covers.h"

namespace validation_reference {

// The kept rules, each a record of its own with its merged counts and tids.
using ValidatedRules = RuleSet;

// A rule that passed the test, waiting to be copied into the kept set; its
// covered test instances lie in a list shared by all pending rules.
struct PendingRule {
  const RuleRecord* mined = nullptr;
  size_t covered_start = 0;
  int32_t covered = 0;
  int32_t covered_in_class = 0;
  double pvalue = 0.0;
};

// Rebuilds `kept` with the pending rules appended, in buffers sized exactly,
// so that every record points into the set that holds it.
inline void append_kept_rules(ValidatedRules& kept, const std::vector<PendingRule>& pending,
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


inline void retest_rules(const RuleSet& rules, const TestTransactions& transactions,
                         const ClassLabels& labels, double level, ValidatedRules& kept) {
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
    // dropped, and every p-value within the level is exact.
    candidate.pvalue =
        fisher_exact_pvalue_from(run_stats.log_factorial, instances, candidate.covered, positives,
                                 candidate.covered_in_class, level);
    const int64_t total = static_cast<int64_t>(rule.support) + candidate.covered;
    if (candidate.pvalue <= level && total > 0) {
      pending.push_back(candidate);
    } else {
      covered_tids.resize(candidate.covered_start);
    }
  }
  append_kept_rules(kept, pending, covered_tids);
}

}  // namespace validation_reference
