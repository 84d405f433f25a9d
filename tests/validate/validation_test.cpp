// Re-testing rules on the test part and the significance counts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "driver/run_stats.h"
#include "validate/fisher.h"
#include "validate/rule_sets.h"
#include "validate/significance.h"
#include "validate/validation.h"

namespace {

using namespace validation_test;

// Sets the run's table for `instances` test instances while a test runs.
struct RunTable {
  LogFactorialTable table;
  explicit RunTable(size_t instances)
      : table(build_log_factorial_table(static_cast<int>(instances))) {
    run_stats.log_factorial = table.data();
  }
  ~RunTable() {
    run_stats.log_factorial = nullptr;
    run_stats.train_instances = 0;
  }
};

std::vector<double> sorted_by_pvalue(std::vector<double> pvalues) {
  std::sort(pvalues.begin(), pvalues.end());
  return pvalues;
}

TEST(CountSignificantRules, WorkedExampleStopsAtTheFirstPvalueAboveItsBound) {
  const RuleCountRecord counts =
      count_significant(sorted_by_pvalue({0.001, 0.012, 0.014}), 10, 0.05);
  EXPECT_EQ(counts.sig_at_level, 3);
  EXPECT_EQ(counts.sig_at_corrected, 1);
  // 0.014 lies under 3 x 0.005, but 0.012 above 2 x 0.005 ended the step.
  EXPECT_EQ(counts.sig_at_fdr, 1);
  EXPECT_EQ(counts.fdr_pvalue, 0.001);
}

TEST(CountSignificantRules, BoundsAreInclusive) {
  const double corrected = 0.05 / 4;
  const RuleCountRecord counts = count_significant(
      sorted_by_pvalue({corrected, 2.0 * corrected, 3.0 * corrected}), 4, 0.05);
  EXPECT_EQ(counts.sig_at_corrected, 1);
  EXPECT_EQ(counts.sig_at_fdr, 3);
  EXPECT_EQ(counts.fdr_pvalue, 3.0 * corrected);
}

TEST(CountSignificantRules, NoRulesGiveZeroCounts) {
  const RuleCountRecord counts = count_significant({}, 0, 0.05);
  EXPECT_EQ(counts.sig_at_level, 0);
  EXPECT_EQ(counts.sig_at_corrected, 0);
  EXPECT_EQ(counts.sig_at_fdr, 0);
  EXPECT_EQ(counts.fdr_pvalue, 0.0);
  EXPECT_TRUE(std::isinf(counts.corrected_level));
}

TEST(CountSignificantRules, AgreesWithADirectCountOnRandomLists) {
  std::mt19937 random(20261207);
  for (int round = 0; round < 400; ++round) {
    const int tested = 1 + static_cast<int>(random() % 60);
    const int kept = static_cast<int>(random() % (tested + 1));
    const double level = std::uniform_real_distribution<double>(0.001, 1.0)(random);
    const double corrected = level / tested;
    std::vector<double> pvalues;
    for (int i = 0; i < kept; ++i) {
      // Mix values exactly on a bound with values spread over the level.
      if (random() % 4 == 0) {
        pvalues.push_back(static_cast<double>(1 + random() % tested) * corrected);
      } else {
        pvalues.push_back(std::uniform_real_distribution<double>(0.0, level * 0.3)(random));
      }
    }
    std::sort(pvalues.begin(), pvalues.end());
    // The corrected count is how many lie within the corrected level; the
    // FDR count is the first position whose p-value passes its bound.
    const auto within = std::count_if(pvalues.begin(), pvalues.end(),
                                      [&](double p) { return p <= corrected; });
    size_t first_failure = 0;
    while (first_failure < pvalues.size() &&
           !(pvalues[first_failure] > static_cast<double>(first_failure + 1) * corrected))
      ++first_failure;

    const RuleCountRecord counts = count_significant(sorted_by_pvalue(pvalues), tested, level);
    SCOPED_TRACE(round);
    EXPECT_EQ(counts.sig_at_level, kept);
    EXPECT_EQ(counts.sig_at_corrected, within);
    EXPECT_EQ(counts.sig_at_fdr, static_cast<int32_t>(first_failure));
    EXPECT_EQ(counts.fdr_pvalue, first_failure == 0 ? 0.0 : pvalues[first_failure - 1]);
  }
}

// Ten test instances, the first four of the rule class.
const TestTransactions kTransactions = {{1, 2, 5}, {1, 2}, {1, 2, 2, 7}, {2, 5},    {1, 3},
                                        {3, 5},    {3},    {3, 7},       {1, 3, 5}, {}};
const ClassLabels kLabels = {1, 1, 1, 1, 0, 0, 0, -1, 0, 0};

struct Retested {
  ValidatedRules kept;
  std::string console;
};

Retested retest(const std::vector<RuleSpec>& specs, double level, int32_t train_instances = 300) {
  RunTable table(kLabels.size());
  run_stats.train_instances = train_instances;
  const RuleSet rules = rule_set_of(specs);
  Retested result;
  testing::internal::CaptureStdout();
  retest_rules(rules, kTransactions, kLabels, level, result.kept);
  result.console = testing::internal::GetCapturedStdout();
  return result;
}

TEST(RetestRules, CoversByOrderedMergeAndMergesCountsAndTidLists) {
  const Retested r = retest({{7, {1, 2}, 5, {0, 4, 9, 12, 40, 41}, 0.5}}, 1.0);
  EXPECT_EQ(r.console, "no. of instances: 10\nno. of positive: 4\nvalidation...\n");
  ASSERT_EQ(r.kept.records.size(), 1u);
  const RuleRecord& rule = r.kept.records[0];
  EXPECT_EQ(rule.preorder, 7);
  EXPECT_EQ(items_of(rule), (std::vector<int32_t>{1, 2}));
  // Instances 0, 1, 2 hold items 1 and 2, all of the class; numbered after
  // the 300 mining transactions.
  EXPECT_EQ(rule.support, 9);
  EXPECT_EQ(rule.class_support, 8);
  EXPECT_EQ(tids_of(rule), (std::vector<int32_t>{0, 4, 9, 12, 40, 41, 300, 301, 302}));
  RunTable table(kLabels.size());
  EXPECT_EQ(rule.pvalue, fisher_exact_pvalue_from(run_stats.log_factorial, 10, 3, 4, 3));
}

TEST(RetestRules, RuleWithoutItemsCoversEveryInstance) {
  const Retested r = retest({{0, {}, 1, {5}, 0.0}}, 1.0, 6);
  ASSERT_EQ(r.kept.records.size(), 1u);
  EXPECT_EQ(r.kept.records[0].support, 11);
  EXPECT_EQ(r.kept.records[0].class_support, 5);
  EXPECT_EQ(tids_of(r.kept.records[0]),
            (std::vector<int32_t>{5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}));
  EXPECT_EQ(r.kept.records[0].pvalue, 1.0);
}

TEST(RetestRules, RuleCoveringNothingIsKeptOnlyAtLevelOneWithMinedSupport) {
  const std::vector<RuleSpec> specs = {{1, {4}, 1, {3}, 0.0}, {2, {0}, 0, {}, 0.0}};
  EXPECT_TRUE(retest(specs, 0.99).kept.records.empty());
  const Retested r = retest(specs, 1.0);
  ASSERT_EQ(r.kept.records.size(), 1u);
  EXPECT_EQ(r.kept.records[0].preorder, 1);
  EXPECT_EQ(tids_of(r.kept.records[0]), (std::vector<int32_t>{3}));
}

TEST(RetestRules, PvalueEqualToTheLevelIsKept) {
  RunTable table(kLabels.size());
  const double p = fisher_exact_pvalue_from(run_stats.log_factorial, 10, 4, 4, 4);
  const std::vector<RuleSpec> specs = {{3, {2}, 0, {}, 0.0}};
  ASSERT_EQ(retest(specs, p).kept.records.size(), 1u);
  EXPECT_EQ(retest(specs, p).kept.records[0].pvalue, p);
  EXPECT_TRUE(retest(specs, std::nextafter(p, 0.0)).kept.records.empty());
}

TEST(RetestRules, LabelsOtherThanOneCountOutsideTheClass) {
  // Item 7 is in instance 2 (class) and 7 (label -1).
  const Retested r = retest({{0, {7}, 0, {}, 0.0}}, 1.0, 0);
  ASSERT_EQ(r.kept.records.size(), 1u);
  EXPECT_EQ(r.kept.records[0].class_support, 1);
  EXPECT_EQ(tids_of(r.kept.records[0]), (std::vector<int32_t>{2, 7}));
}

TEST(RetestRules, AppendingKeepsEarlierKeptRulesIntact) {
  RunTable table(kLabels.size());
  run_stats.train_instances = 100;
  ValidatedRules kept;
  testing::internal::CaptureStdout();
  retest_rules(rule_set_of({{1, {1, 2}, 1, {3}, 0.0}}), kTransactions, kLabels, 1.0, kept);
  retest_rules(rule_set_of({{2, {3, 7}, 0, {50}, 0.0}}), kTransactions, kLabels, 1.0, kept);
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(kept.records.size(), 2u);
  EXPECT_EQ(items_of(kept.records[0]), (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(tids_of(kept.records[0]), (std::vector<int32_t>{3, 100, 101, 102}));
  EXPECT_EQ(items_of(kept.records[1]), (std::vector<int32_t>{3, 7}));
  EXPECT_EQ(tids_of(kept.records[1]), (std::vector<int32_t>{50, 107}));
}

TEST(RetestRules, NoTestInstances) {
  RunTable table(0);
  ValidatedRules kept;
  testing::internal::CaptureStdout();
  retest_rules(rule_set_of({{1, {1}, 1, {0, 1}, 0.0}}), {}, {}, 1.0, kept);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "no. of instances: 0\nno. of positive: 0\nvalidation...\n");
  ASSERT_EQ(kept.records.size(), 1u);
  EXPECT_EQ(kept.records[0].pvalue, 1.0);
  EXPECT_EQ(tids_of(kept.records[0]), (std::vector<int32_t>{0, 1}));
}

}  // namespace
