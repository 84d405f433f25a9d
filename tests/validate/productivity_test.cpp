// Productivity of the kept rules on the test part: a hand-made test part
// whose answers are known, and a brute-force reference on random data.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "stats/fisher.h"
#include "validate/rule_sets.h"
#include "validate/test_covers.h"
#include "validate/validation.h"

namespace {

using namespace validation_test;

// Items of the hand-made test part.
constexpr int32_t kA = 1;
constexpr int32_t kB = 2;
constexpr int32_t kNoise = 3;  // on half of every A & B group, whatever the class
constexpr int32_t kW = 4;      // on the A-only records outside the class, and on plain records

struct Part {
  TestTransactions transactions;
  ClassLabels labels;
  void add(const TestTransaction& items, int records, int in_class) {
    for (int j = 0; j < records; ++j) {
      transactions.push_back(items);
      labels.push_back(j < in_class ? 1 : 0);
    }
  }
};

// The class rate is 0.9 where A and B both hold and 0.25 elsewhere.
Part hand_made_part() {
  Part part;
  part.add({kA, kB}, 20, 18);
  part.add({kA, kB, kNoise}, 20, 18);
  part.add({kA}, 10, 10);
  part.add({kA, kW}, 30, 0);
  part.add({kB}, 40, 10);
  part.add({kW}, 80, 20);
  return part;
}

Retest retest_quietly(const RuleSet& rules, const Part& part, double level, double local_level) {
  testing::internal::CaptureStdout();
  Retest retest = retest_rules(rules, part.transactions, part.labels, level, local_level, 2);
  testing::internal::GetCapturedStdout();
  return retest;
}

TEST(Productivity, HandMadeTestPartWithKnownAnswers) {
  const std::vector<RuleShape> shapes = {
      {0, {kA, kB}, 0, {}, 0.0},          // the planted conjunction
      {1, {kA, kB, kNoise}, 0, {}, 0.0},  // it plus an item that changes nothing
      {2, {kA}, 0, {}, 0.0},              // one item
      {3, {kA, kW}, 0, {}, 0.0},          // significantly worse than A and than W
      {4, {kNoise}, 0, {}, 0.0},          // significant, one item
      {5, {kB, kW}, 0, {}, 0.0},          // covers nothing: not kept
  };
  const RuleSet rules = rule_set_of(shapes);
  const Part part = hand_made_part();
  const Retest retest = retest_quietly(rules, part, 0.05, 0.05);
  ASSERT_EQ(retest.kept.size(), 5u);
  EXPECT_EQ(retest.productive_rules, (std::vector<bool>{true, false, true, false, true, false}));
  // A & W passes both Fisher tests within its generalisations' covers (it is
  // far below them): only the confidence comparison stops it.
  const LogFactorialTable table = build_log_factorial_table(200);
  EXPECT_LE(fisher_exact_pvalue_from(table.data(), 80, 30, 46, 0), 0.05);
  EXPECT_LE(fisher_exact_pvalue_from(table.data(), 110, 30, 20, 0), 0.05);
  // At a stricter local level the conjunction is no longer productive; at
  // level 1 the noise item still does not raise the confidence.
  EXPECT_EQ(retest_quietly(rules, part, 0.05, 1e-30).productive_rules,
            (std::vector<bool>{false, false, true, false, true, false}));
  EXPECT_EQ(retest_quietly(rules, part, 0.05, 1.0).productive_rules,
            (std::vector<bool>{true, false, true, false, true, false}));
}

TEST(Productivity, CountedOverTheRulesKeptAtTheCorrectedLevel) {
  const std::vector<RuleShape> shapes = {
      {0, {kA, kB}, 0, {}, 0.0}, {1, {kA, kB, kNoise}, 0, {}, 0.0}, {2, {kA}, 0, {}, 0.0}};
  const RuleSet rules = rule_set_of(shapes);
  const Part part = hand_made_part();
  const Retest retest = retest_quietly(rules, part, 0.05, 0.05);
  ASSERT_EQ(retest.counts.sig_at_corrected, 3);
  EXPECT_EQ(retest.productive, 2);
  // With a corrected level just below A's p-value only A & B and A & B &
  // noise stay; one of them is productive.
  const double tight = 3 * retest.tests[2].pvalue * 0.99;
  const Retest strict = retest_quietly(rules, part, tight, 0.05);
  ASSERT_EQ(strict.counts.sig_at_corrected, 2) << tight;
  EXPECT_EQ(strict.productive, 1);
}

// One random test part: items 0..items-1, the class rate raised where items
// 0 and 1 both hold, and some records repeated so that ties occur.
Part random_part(std::mt19937& random, int records, int items) {
  Part part;
  for (int j = 0; j < records; ++j) {
    TestTransaction transaction;
    for (int32_t item = 0; item < items; ++item) {
      if (random() % 2 == 0) transaction.push_back(item);
    }
    const bool planted = transaction.size() >= 2 && transaction[0] == 0 && transaction[1] == 1;
    const int32_t label = static_cast<int32_t>(random() % 10) < (planted ? 8 : 3) ? 1 : 0;
    part.add(transaction, 1, label);
  }
  return part;
}

// The counts of `items` on the part, record by record (with repeated items
// needing as many copies).
RuleTest count_directly(const Part& part, const std::vector<int32_t>& items) {
  RuleTest test;
  for (size_t j = 0; j < part.transactions.size(); ++j) {
    const TestTransaction& t = part.transactions[j];
    if (!std::includes(t.begin(), t.end(), items.begin(), items.end())) continue;
    ++test.covered;
    test.covered_in_class += part.labels[j] == 1;
  }
  return test;
}

std::vector<int32_t> without(std::vector<int32_t> items, size_t i) {
  items.erase(items.begin() + static_cast<std::ptrdiff_t>(i));
  return items;
}

// The reference: every generalisation's counts by direct counting.
bool productive_by_counting(const Part& part, const std::vector<int32_t>& rule,
                            double local_level) {
  const RuleTest x = count_directly(part, rule);
  const int32_t s = x.covered, k = x.covered_in_class;
  const LogFactorialTable table = build_log_factorial_table(static_cast<int>(part.labels.size()));
  for (size_t i = 0; i < rule.size() && rule.size() > 1; ++i) {
    const RuleTest y = count_directly(part, without(rule, i));
    const int32_t s_general = y.covered, k_general = y.covered_in_class;
    const bool better = static_cast<double>(k) / s > static_cast<double>(k_general) / s_general;
    const double p = fisher_exact_pvalue_from(table.data(), s_general, s, k_general, k);
    if (!better || p > local_level) return false;
  }
  return true;
}

struct RandomCase {
  int records;
  int items;
  double level;
  double local_level;
  uint32_t seed;
};

TEST(Productivity, AgreesWithDirectCountingOnRandomData) {
  const RandomCase cases[] = {
      {40, 4, 0.05, 0.05, 1},   {120, 5, 0.05, 0.05, 2}, {300, 6, 0.05, 0.05, 3},
      {300, 6, 0.5, 0.01, 4},   {200, 5, 1.0, 1.0, 5},   {500, 7, 0.01, 0.2, 6},
      {130, 8, 0.05, 0.001, 7},
  };
  int productive = 0;
  int unproductive = 0;
  int all_productive_corrected = 0;
  int all_within_corrected = 0;
  GeneralisationScratch scratch;
  std::vector<RuleTest> general;
  for (const RandomCase& c : cases) {
    std::mt19937 random(c.seed);
    for (int round = 0; round < 20; ++round) {
      const Part part = random_part(random, c.records, c.items);
      std::vector<RuleShape> shapes;
      for (int r = 0; r < 30; ++r) {
        // A mined support of 1, so that a rule covering nothing is kept at
        // level 1; now and then an item no test record holds, or one twice.
        RuleShape shape{r, {}, 0, {0}, 0.0};
        for (int32_t item = 0; item < c.items; ++item) {
          if (random() % 3 == 0) shape.items.push_back(item);
        }
        if (shape.items.empty()) shape.items.push_back(static_cast<int32_t>(random() % c.items));
        if (random() % 20 == 0) shape.items.push_back(c.items + 1);
        if (random() % 20 == 0) shape.items.push_back(shape.items.front());
        std::sort(shape.items.begin(), shape.items.end());
        shapes.push_back(shape);
      }
      const RuleSet rules = rule_set_of(shapes);
      const Retest retest = retest_quietly(rules, part, c.level, c.local_level);
      int32_t productive_corrected = 0;
      int32_t within_corrected = 0;
      const double corrected_level = c.level / static_cast<double>(shapes.size());
      for (size_t r = 0; r < shapes.size(); ++r) {
        SCOPED_TRACE(testing::Message()
                     << "seed " << c.seed << " round " << round << " rule " << r);
        const bool kept = std::find(retest.kept.begin(), retest.kept.end(), r) != retest.kept.end();
        const bool expected = kept && productive_by_counting(part, shapes[r].items, c.local_level);
        EXPECT_EQ(retest.productive_rules[r], expected);
        // At the corrected level: the rule itself and every local test.
        const double corrected = c.level / static_cast<double>(shapes.size());
        const bool expected_corrected = kept && retest.tests[r].pvalue <= corrected &&
                                        productive_by_counting(part, shapes[r].items, corrected);
        EXPECT_EQ(retest.productive_corrected_rules[r], expected_corrected);
        productive_corrected += expected_corrected;
        within_corrected += kept && retest.tests[r].pvalue <= corrected;
        count_generalisation_covers(retest.covers, rules.records[r], retest.tests[r], scratch,
                                    general);
        ASSERT_EQ(general.size(), shapes[r].items.size());
        for (size_t i = 0; i < general.size(); ++i) {
          const RuleTest y = count_directly(part, without(shapes[r].items, i));
          EXPECT_EQ(general[i].covered, y.covered) << i;
          EXPECT_EQ(general[i].covered_in_class, y.covered_in_class) << i;
        }
        productive += expected && shapes[r].items.size() > 1;
        unproductive += kept && !expected;
      }
      EXPECT_EQ(retest.productive_corrected, productive_corrected);
      // Benjamini-Hochberg over the rules tested: the largest j whose j-th
      // smallest kept p-value is within j * level / rules.
      std::vector<double> kept_pvalues;
      for (const size_t r : retest.kept) kept_pvalues.push_back(retest.tests[r].pvalue);
      std::sort(kept_pvalues.begin(), kept_pvalues.end());
      int32_t step_up = 0;
      for (size_t j = kept_pvalues.size(); j > 0 && step_up == 0; --j)
        if (kept_pvalues[j - 1] <= static_cast<double>(j) * corrected_level)
          step_up = static_cast<int32_t>(j);
      EXPECT_EQ(retest.sig_at_bh, step_up);
      EXPECT_EQ(retest.counts.sig_at_corrected, within_corrected);
      all_within_corrected += within_corrected;
      all_productive_corrected += productive_corrected;
    }
  }
  // The corrected level's local tests drop some rules the local level keeps.
  EXPECT_GT(all_productive_corrected, 50);
  EXPECT_LT(all_productive_corrected, all_within_corrected);
  // Both answers occur often, so the comparison means something.
  EXPECT_GT(productive, 100);
  EXPECT_GT(unproductive, 100);
}

}  // namespace
