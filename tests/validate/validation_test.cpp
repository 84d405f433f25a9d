// Re-testing rules on the test part and the significance counts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>

#include "common/run_files.h"
#include "stats/fisher.h"
#include "stats/significance.h"
#include "validate/rule_sets.h"
#include "validate/test_covers.h"
#include "validate/validation.h"

namespace {

using namespace validation_test;

// The exact p-value of a table of `n` test instances.
double pvalue_of(int32_t n, int32_t r, int32_t c, int32_t k) {
  return fisher_exact_pvalue_from(build_log_factorial_table(n).data(), n, r, c, k);
}

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
  const RuleCountRecord counts =
      count_significant(sorted_by_pvalue({corrected, 2.0 * corrected, 3.0 * corrected}), 4, 0.05);
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
    const auto within =
        std::count_if(pvalues.begin(), pvalues.end(), [&](double p) { return p <= corrected; });
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

// Benjamini-Hochberg's step-up by its definition: the largest j whose j-th
// smallest p-value, of every p-value listed once per count, lies within
// j * level / tests.
uint64_t step_up_by_definition(const std::vector<double>& pvalues, double tests, double level) {
  std::vector<double> sorted = pvalues;
  std::sort(sorted.begin(), sorted.end());
  for (size_t j = sorted.size(); j > 0; --j)
    if (sorted[j - 1] <= static_cast<double>(j) * (level / tests)) return j;
  return 0;
}

TEST(BenjaminiHochberg, StepsUpPastAPValueAboveItsBoundWhereTheStepDownStops) {
  // The worked example of the step-down count: 0.012 lies above 2 x 0.005,
  // but 0.014 within 3 x 0.005, so the step-up keeps all three.
  const std::vector<PValueCount> list = {{0.001, 1}, {0.012, 1}, {0.014, 1}};
  const StepUpCount bh = count_benjamini_hochberg(list, 10, 0.05);
  EXPECT_EQ(bh.accepted, 3u);
  EXPECT_EQ(bh.largest_pvalue, 0.014);
  EXPECT_EQ(count_significant(sorted_by_pvalue({0.001, 0.012, 0.014}), 10, 0.05).sig_at_fdr, 1);
  // Tests that share a p-value are accepted together at the last one's rank.
  EXPECT_EQ(count_benjamini_hochberg(std::vector<PValueCount>{{0.02, 4}}, 10, 0.05).accepted, 4u);
  EXPECT_EQ(count_benjamini_hochberg(std::vector<PValueCount>{{0.03, 4}}, 10, 0.05).accepted, 0u);
  EXPECT_EQ(count_benjamini_hochberg({}, 0, 0.05).accepted, 0u);
}

TEST(BenjaminiHochberg, AgreesWithItsDefinitionOnRandomListsWithCounts) {
  std::mt19937 random(26);
  for (int round = 0; round < 2000; ++round) {
    const int tested = 1 + static_cast<int>(random() % 80);
    const double level = std::uniform_real_distribution<double>(0.001, 1.0)(random);
    const double step = level / tested;
    // Distinct p-values within the level, some exactly on a bound, with
    // counts that add up to at most the tests.
    std::vector<PValueCount> list;
    std::vector<double> each;
    int left = static_cast<int>(random() % (tested + 1));
    while (left > 0) {
      const int count = 1 + static_cast<int>(random() % std::min(left, 4));
      const double p = random() % 3 == 0
                           ? static_cast<double>(1 + random() % tested) * step
                           : std::uniform_real_distribution<double>(0.0, level)(random);
      if (std::any_of(list.begin(), list.end(),
                      [&](const PValueCount& e) { return e.pvalue == p; }))
        continue;
      list.push_back(PValueCount{p, static_cast<uint64_t>(count)});
      each.insert(each.end(), static_cast<size_t>(count), p);
      left -= count;
    }
    std::sort(list.begin(), list.end(),
              [](const PValueCount& a, const PValueCount& b) { return a.pvalue < b.pvalue; });
    const StepUpCount bh = count_benjamini_hochberg(list, tested, level);
    const uint64_t want = step_up_by_definition(each, tested, level);
    SCOPED_TRACE(round);
    ASSERT_EQ(bh.accepted, want);
    std::sort(each.begin(), each.end());
    EXPECT_EQ(bh.largest_pvalue, want == 0 ? 0.0 : each[want - 1]);
    // The step-up never keeps fewer than the step-down.
    EXPECT_GE(bh.accepted,
              static_cast<uint64_t>(count_significant(each, tested, level).sig_at_fdr));
  }
}

// Ten test instances, the first four of the rule class.
const TestTransactions kTransactions = {{1, 2, 5}, {1, 2}, {1, 2, 2, 7}, {2, 5},    {1, 3},
                                        {3, 5},    {3},    {3, 7},       {1, 3, 5}, {}};
const ClassLabels kLabels = {1, 1, 1, 1, 0, 0, 0, -1, 0, 0};

struct Retested {
  Retest retest;
  std::string console;
};

// Re-tests the rules of `shapes` as validation does; the console from the
// first line after "before validation".
Retested retest(const std::vector<RuleShape>& shapes, double level,
                const TestTransactions& transactions = kTransactions,
                const ClassLabels& labels = kLabels) {
  const RuleSet rules = rule_set_of(shapes);
  Retested result;
  testing::internal::CaptureStdout();
  result.retest = retest_rules(rules, transactions, labels, level, kMaxLocalPvalue, 1);
  result.console = testing::internal::GetCapturedStdout();
  result.console.erase(0, result.console.find('\n') + 1);
  return result;
}

// The text of the numbers of the test instances `rule` covers, numbered
// after `first`, as the validated tid-list file holds them; checks the bytes
// worked out beforehand against it.
std::string covered_text(const Retest& retest, const RuleRecord& rule, int32_t first) {
  std::vector<uint64_t> scratch;
  std::FILE* file = std::tmpfile();
  BlockWriter out;
  start_block_writer(out, file);
  put_covered_numbers(retest.covers, rule, first, scratch, out);
  flush_block(out);
  std::string text(static_cast<size_t>(block_writer_offset(out)), '\0');
  std::rewind(file);
  text.resize(std::fread(text.data(), 1, text.size(), file));
  std::fclose(file);
  EXPECT_EQ(covered_numbers_text_bytes(retest.covers, rule, first, scratch),
            static_cast<int64_t>(text.size()));
  return text;
}

// The same for the kept rule `j`.
std::string covered_numbers(const std::vector<RuleShape>& shapes, const Retest& retest, size_t j,
                            int32_t first) {
  const RuleSet rules = rule_set_of(shapes);
  return covered_text(retest, rules.records[retest.kept[j]], first);
}

TEST(RetestRules, CoversByOrderedMergeAndNumbersTheCoveredInstances) {
  const std::vector<RuleShape> shapes = {{7, {1, 2}, 5, {0, 4, 9, 12, 40, 41}, 0.5}};
  const Retested r = retest(shapes, 1.0);
  EXPECT_EQ(r.console,
            "no. of instances: 10\nno. of positive: 4\nvalidation...\n"
            "after validation: 1\n");
  ASSERT_EQ(r.retest.kept, std::vector<size_t>{0});
  // Instances 0, 1, 2 hold items 1 and 2, all of the class; numbered after
  // the 300 mining transactions.
  EXPECT_EQ(r.retest.tests[0].covered, 3);
  EXPECT_EQ(r.retest.tests[0].covered_in_class, 3);
  EXPECT_EQ(covered_numbers(shapes, r.retest, 0, 300), "300 301 302 ");
  EXPECT_EQ(r.retest.tests[0].pvalue, pvalue_of(10, 3, 4, 3));
}

TEST(RetestRules, RuleWithoutItemsCoversEveryInstance) {
  const std::vector<RuleShape> shapes = {{0, {}, 1, {5}, 0.0}};
  const Retested r = retest(shapes, 1.0);
  ASSERT_EQ(r.retest.kept.size(), 1u);
  EXPECT_EQ(r.retest.tests[0].covered, 10);
  EXPECT_EQ(r.retest.tests[0].covered_in_class, 4);
  EXPECT_EQ(covered_numbers(shapes, r.retest, 0, 6), "6 7 8 9 10 11 12 13 14 15 ");
  EXPECT_EQ(r.retest.tests[0].pvalue, 1.0);
}

TEST(RetestRules, RuleCoveringNothingIsKeptOnlyAtLevelOneWithMinedSupport) {
  const std::vector<RuleShape> shapes = {{1, {4}, 1, {3}, 0.0}, {2, {0}, 0, {}, 0.0}};
  EXPECT_TRUE(retest(shapes, 0.99).retest.kept.empty());
  const Retested r = retest(shapes, 1.0);
  EXPECT_EQ(r.retest.kept, std::vector<size_t>{0});
  EXPECT_EQ(r.retest.tests[1].pvalue, 1.0);
}

TEST(RetestRules, PvalueEqualToTheLevelIsKept) {
  const double p = pvalue_of(10, 4, 4, 4);
  const std::vector<RuleShape> shapes = {{3, {2}, 0, {}, 0.0}};
  ASSERT_EQ(retest(shapes, p).retest.kept.size(), 1u);
  EXPECT_EQ(retest(shapes, p).retest.tests[0].pvalue, p);
  EXPECT_TRUE(retest(shapes, std::nextafter(p, 0.0)).retest.kept.empty());
}

TEST(RetestRules, LabelsOtherThanOneCountOutsideTheClass) {
  // Item 7 is in instance 2 (class) and 7 (label -1).
  const std::vector<RuleShape> shapes = {{0, {7}, 0, {}, 0.0}};
  const Retested r = retest(shapes, 1.0);
  ASSERT_EQ(r.retest.kept.size(), 1u);
  EXPECT_EQ(r.retest.tests[0].covered_in_class, 1);
  EXPECT_EQ(covered_numbers(shapes, r.retest, 0, 0), "2 7 ");
}

TEST(RetestRules, KeptRulesAreOrderedByTestPvalueAndCounted) {
  // Item 2 covers instances 0-3, all of the class; item 3 five instances,
  // none of it; item 5 two of the class and two not.
  const std::vector<RuleShape> shapes = {
      {1, {5}, 0, {}, 0.0}, {2, {3}, 0, {}, 0.0}, {3, {2}, 0, {}, 0.0}};
  const Retested r = retest(shapes, 1.0);
  ASSERT_EQ(r.retest.kept.size(), 3u);
  for (size_t j = 1; j < r.retest.kept.size(); ++j)
    EXPECT_LE(r.retest.tests[r.retest.kept[j - 1]].pvalue, r.retest.tests[r.retest.kept[j]].pvalue);
  EXPECT_EQ(r.retest.counts.sig_at_level, 3);
}

// Thousands of rules on random data, so that each thread takes several runs
// of them: every figure is the same on one thread and on three.
TEST(RetestRules, EveryThreadCountGivesTheSameRetest) {
  std::mt19937 random(11);
  TestTransactions transactions(3000);
  ClassLabels labels;
  for (TestTransaction& transaction : transactions) {
    for (int32_t i = 0; i < 24; ++i)
      if (random() % 3 == 0) transaction.push_back(i);
    labels.push_back(static_cast<int32_t>(random() % 2));
  }
  std::vector<RuleShape> shapes;
  for (int r = 0; r < 4000; ++r) {
    RuleShape shape;
    shape.preorder = r;
    for (int i = 0, length = 1 + static_cast<int>(random() % 3); i < length; ++i)
      shape.items.push_back(static_cast<int32_t>(random() % 24));
    std::sort(shape.items.begin(), shape.items.end());
    shape.items.erase(std::unique(shape.items.begin(), shape.items.end()), shape.items.end());
    shapes.push_back(shape);
  }
  const RuleSet rules = rule_set_of(shapes);
  testing::internal::CaptureStdout();
  const Retest one = retest_rules(rules, transactions, labels, 0.5, 0.5, 1);
  const Retest three = retest_rules(rules, transactions, labels, 0.5, 0.5, 3);
  testing::internal::GetCapturedStdout();
  ASSERT_GT(one.kept.size(), 1000u);  // the productivity checks split too
  EXPECT_EQ(one.kept, three.kept);
  for (size_t r = 0; r < rules.records.size(); ++r) {
    EXPECT_EQ(one.tests[r].covered, three.tests[r].covered) << r;
    EXPECT_EQ(one.tests[r].covered_in_class, three.tests[r].covered_in_class) << r;
    EXPECT_EQ(one.tests[r].pvalue, three.tests[r].pvalue) << r;
  }
  EXPECT_EQ(one.productive_rules, three.productive_rules);
  EXPECT_EQ(one.productive_corrected_rules, three.productive_corrected_rules);
  EXPECT_EQ(one.counts.sig_at_fdr, three.counts.sig_at_fdr);
  EXPECT_EQ(one.productive, three.productive);
}

TEST(RetestRules, NoTestInstances) {
  const Retested r = retest({{1, {1}, 1, {0, 1}, 0.0}}, 1.0, {}, {});
  EXPECT_EQ(r.console,
            "no. of instances: 0\nno. of positive: 0\nvalidation...\n"
            "after validation: 1\n");
  ASSERT_EQ(r.retest.kept.size(), 1u);
  EXPECT_EQ(r.retest.tests[0].pvalue, 1.0);
}

}  // namespace

namespace {

// Random test parts (items repeated within a record, labels 1, 0 and -1)
// and rule sets (empty rules, repeated items, ids no record holds, negative
// ids), each re-tested by validation and record by record.
TEST(TestCovers, AgreeWithTheRecordByRecordReference) {
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    const int32_t instances = static_cast<int32_t>(random() % 150);
    const int32_t items = 1 + static_cast<int32_t>(random() % 12);
    TestTransactions transactions(static_cast<size_t>(instances));
    ClassLabels labels;
    for (TestTransaction& transaction : transactions) {
      for (int32_t i = 0; i < items; ++i) {
        if (random() % 3 == 0) transaction.push_back(i);
        if (random() % 40 == 0) transaction.push_back(i);
      }
      std::sort(transaction.begin(), transaction.end());
      labels.push_back(static_cast<int32_t>(random() % 3) - 1);
    }
    if (random() % 4 == 0 && !labels.empty()) labels.pop_back();  // lists of unequal length
    std::vector<RuleShape> shapes;
    for (int r = 0; r < 30; ++r) {
      RuleShape shape;
      const int length = static_cast<int>(random() % 4);
      for (int i = 0; i < length; ++i)
        shape.items.push_back(static_cast<int32_t>(random() % (items + 2)) -
                              (random() % 50 == 0 ? 3 : 0));
      std::sort(shape.items.begin(), shape.items.end());
      shape.tids = {static_cast<int32_t>(r)};
      shapes.push_back(shape);
    }
    const RuleSet rules = rule_set_of(shapes);
    const double level = std::ldexp(1.0, -static_cast<int>(random() % 12));
    testing::internal::CaptureStdout();
    const Retest retest = retest_rules(rules, transactions, labels, level, kMaxLocalPvalue, 1);
    testing::internal::GetCapturedStdout();

    // The reference: every rule merged with every test record.
    const int32_t used = static_cast<int32_t>(std::min(labels.size(), transactions.size()));
    const int32_t positives =
        static_cast<int32_t>(std::count(labels.begin(), labels.begin() + used, 1));
    const LogFactorialTable table = build_log_factorial_table(used);
    std::vector<uint64_t> scratch;
    std::vector<size_t> expected_kept;
    for (size_t r = 0; r < rules.records.size(); ++r) {
      const RuleRecord& rule = rules.records[r];
      SCOPED_TRACE(testing::Message() << "round " << round << " rule " << r);
      RuleTest expected;
      // Numbered from below a power of ten up past it.
      const int32_t first = 1000 - static_cast<int32_t>(round % 160);
      std::string expected_numbers;
      for (int32_t j = 0; j < used; ++j) {
        if (!contains_rule(transactions[j], rule)) continue;
        ++expected.covered;
        expected.covered_in_class += labels[j] == 1;
        expected_numbers += std::to_string(first + j) + " ";
      }
      expected.pvalue = fisher_exact_pvalue_from(table.data(), used, expected.covered, positives,
                                                 expected.covered_in_class);
      EXPECT_EQ(retest.tests[r].covered, expected.covered);
      EXPECT_EQ(retest.tests[r].covered_in_class, expected.covered_in_class);
      EXPECT_EQ(retest.tests[r].pvalue, expected.pvalue);
      EXPECT_EQ(covered_text(retest, rule, first), expected_numbers);
      if (expected.pvalue <= level) expected_kept.push_back(r);
    }
    // Kept exactly when the exact p-value is within the level, by ascending
    // p-value.
    const std::vector<size_t>& kept = retest.kept;
    EXPECT_EQ(std::set<size_t>(kept.begin(), kept.end()),
              std::set<size_t>(expected_kept.begin(), expected_kept.end()));
    for (size_t j = 1; j < kept.size(); ++j)
      EXPECT_LE(retest.tests[kept[j - 1]].pvalue, retest.tests[kept[j]].pvalue);
  }
}

}  // namespace
