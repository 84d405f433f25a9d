// Holm's step-down count against its definition by closed testing: a
// hypothesis is rejected when every intersection of hypotheses that holds it
// is rejected by Bonferroni's test, the smallest p-value of the set within
// level / (its size).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "stats/significance.h"

namespace {

int closed_testing_count(const std::vector<double>& pvalues, double level) {
  const size_t m = pvalues.size();
  int rejected = 0;
  for (size_t i = 0; i < m; ++i) {
    bool all = true;
    for (uint32_t set = 0; set < (1u << m) && all; ++set) {
      if (!(set >> i & 1)) continue;
      double smallest = 2.0;
      for (size_t j = 0; j < m; ++j)
        if (set >> j & 1) smallest = std::min(smallest, pvalues[j]);
      all = smallest <= level / static_cast<double>(std::popcount(set));
    }
    rejected += all;
  }
  return rejected;
}

TEST(HolmCount, EqualsClosedTestingWithBonferroniOnRandomListsWithTies) {
  std::mt19937 random(16);
  for (int round = 0; round < 3000; ++round) {
    const int m = 1 + static_cast<int>(random() % 10);
    const double level =
        round % 3 == 0 ? 0.05 : std::uniform_real_distribution<double>(0.01, 1.0)(random);
    // Values exactly on bounds, repeated values and values spread above the level.
    std::vector<double> pvalues;
    for (int i = 0; i < m; ++i) {
      switch (random() % 4) {
        case 0:
          pvalues.push_back(level / static_cast<double>(1 + random() % m));
          break;
        case 1:
          pvalues.push_back(pvalues.empty() ? level / m : pvalues[random() % pvalues.size()]);
          break;
        case 2:
          pvalues.push_back(std::uniform_real_distribution<double>(0.0, level / 2)(random));
          break;
        default:
          pvalues.push_back(std::uniform_real_distribution<double>(0.0, 1.0)(random));
          break;
      }
    }
    // Validation counts over the kept p-values (within the level), sorted,
    // with every rule tested as the number of tests.
    std::vector<double> kept;
    for (const double p : pvalues)
      if (p <= level) kept.push_back(p);
    std::sort(kept.begin(), kept.end());
    SCOPED_TRACE(round);
    const int32_t holm = count_holm(kept, m, level);
    EXPECT_EQ(holm, closed_testing_count(pvalues, level));
    EXPECT_GE(holm, count_significant(kept, m, level).sig_at_corrected);
  }
}

TEST(HolmCount, StepsDownUntilTheFirstFailure) {
  // Bounds 0.01, 0.0125, 0.0167, 0.025, 0.05 for five tests.
  EXPECT_EQ(count_holm(std::vector<double>{0.01, 0.0125, 0.02, 0.021}, 5, 0.05), 2);
  EXPECT_EQ(count_holm(std::vector<double>{0.01, 0.0125, 0.0125, 0.025, 0.05}, 5, 0.05), 5);
  EXPECT_EQ(count_holm(std::vector<double>{0.011}, 5, 0.05), 0);
  EXPECT_EQ(count_holm(std::vector<double>{}, 0, 0.05), 0);
}

}  // namespace
