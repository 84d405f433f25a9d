// The search space, the layered levels, the smallest attainable p-values and
// Tarone's level against brute force on generated data.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>

#include "direct_reference.h"
#include "search_space.h"
#include "stats/fisher.h"
#include "testability.h"

namespace {

TEST(SearchSpace, CountsEveryPatternOfAtMostOneValuePerAttribute) {
  for (const unsigned seed : {1u, 2u, 3u}) {
    const GeneratedData data = generate_data(seed, 80, 7, 2, seed == 3 ? 1 : 0);
    const ReferenceResult ref = mine_by_brute_force(data, MinerSettings{});
    ASSERT_LE(ref.item_keys.size(), 20u);
    const std::vector<uint64_t> want = brute_space(ref.item_keys);
    const std::vector<int64_t> values = values_per_attribute(ref.item_keys, data.names, "class");
    for (const int max_len : {1, 2, 3, 5, 100}) {
      SCOPED_TRACE(testing::Message() << "seed " << seed << " max_len " << max_len);
      const SearchSpace space = count_search_space(values, max_len);
      EXPECT_EQ(space.longest, std::min<int>(max_len, static_cast<int>(values.size())));
      uint64_t total = 0;
      for (int l = 1; l <= space.longest; ++l) {
        const PatternCount& count = space.by_length[l - 1];
        EXPECT_FALSE(count.saturated);
        EXPECT_EQ(static_cast<uint64_t>(count.exact), want[l]) << "length " << l;
        EXPECT_EQ(count.approximate, static_cast<long double>(want[l]));
        total += want[l];
        EXPECT_EQ(layered_level(0.05, space, l),
                  0.05 / static_cast<double>(space.longest * want[l]));
      }
      for (size_t l = values.size() + 1; l < want.size(); ++l)
        EXPECT_EQ(want[l], 0u) << "length " << l;
      EXPECT_EQ(static_cast<uint64_t>(space.total.exact), total);
      EXPECT_EQ(search_space_level(0.05, space), 0.05 / static_cast<double>(total));
      EXPECT_EQ(layered_level(0.05, space, space.longest + 1), 0.0);
    }
  }
}

TEST(SearchSpace, ExactBeyondSixtyFourBitsAndSaturatedBeyond128) {
  // 40 attributes of 7 values: C(40, l) * 7^l patterns of l items.
  const SearchSpace space = count_search_space(std::vector<int64_t>(40, 7), 100);
  ASSERT_EQ(space.longest, 40);
  unsigned __int128 binomial = 1, power = 1;
  for (int l = 1; l <= 40; ++l) {
    binomial = binomial * static_cast<unsigned>(40 - l + 1) / static_cast<unsigned>(l);
    power *= 7;
    const PatternCount& count = space.by_length[l - 1];
    ASSERT_FALSE(count.saturated) << l;
    EXPECT_TRUE(count.exact == binomial * power) << "length " << l;
    EXPECT_NEAR(static_cast<double>(count.approximate / static_cast<long double>(binomial * power)),
                1.0, 1e-15);
  }
  // 300 attributes of 1000 values: C(300, l) * 1000^l passes 10^308 at l = 100.
  const SearchSpace huge = count_search_space(std::vector<int64_t>(300, 1000), 100);
  const PatternCount& top = huge.by_length[99];
  EXPECT_TRUE(top.saturated);
  EXPECT_TRUE(top.exact == ~static_cast<unsigned __int128>(0));
  const double log10_want =
      (std::lgamma(301.0) - std::lgamma(101.0) - std::lgamma(201.0)) / std::log(10.0) + 300.0;
  EXPECT_NEAR(static_cast<double>(std::log10(top.approximate)), log10_want, 1e-9 * log10_want);
  EXPECT_EQ(layered_level(0.05, huge, 100), 0.0);
  EXPECT_EQ(search_space_level(0.05, huge), 0.0);
  EXPECT_GT(layered_level(0.05, huge, 3), 0.0);
}

TEST(SearchSpace, ItemsOfAmbiguousColumnsCountAsAttributesOfTheirOwn) {
  // "a=b=c" could be a=(b=c) or (a=b)=c; column c is there twice, so c=1 and
  // c=2 may meet in one record; the target's column holds no items.
  const std::vector<std::string> names = {"class", "a", "a=b", "c", "c", "d"};
  const std::vector<std::string> keys = {"a=1", "a=b=c", "c=1", "d=x", "c=2", "a=2", "d=y", "d=z"};
  EXPECT_EQ(values_per_attribute(keys, names, "class"), (std::vector<int64_t>{2, 1, 1, 3, 1}));
  EXPECT_EQ(count_search_space({0, 2, 0}, 5).longest, 1);
  EXPECT_EQ(count_search_space({}, 5).longest, 0);
  EXPECT_EQ(search_space_level(0.05, count_search_space({}, 5)), 0.05);
}

TEST(MinAttainablePvalue, IsTheSmallestPvalueOfEveryClassCount) {
  for (const int n : {1, 2, 7, 30, 80}) {
    const LogFactorialTable lf = build_log_factorial_table(n);
    for (int positives = 0; positives <= n; ++positives) {
      const std::vector<double> table = min_attainable_pvalues(lf.data(), n, positives);
      ASSERT_EQ(table.size(), static_cast<size_t>(n) + 1);
      for (int s = 0; s <= n; ++s) {
        const double want = brute_min_pvalue(lf.data(), n, positives, s);
        ASSERT_EQ(min_attainable_pvalue(lf.data(), n, positives, s), want)
            << n << " " << positives << " " << s;
        ASSERT_EQ(table[static_cast<size_t>(s)], want);
      }
    }
  }
  // Large tables, where both extremes' probabilities underflow for most supports.
  const LogFactorialTable lf = build_log_factorial_table(8000);
  for (const int s : {1, 150, 3000, 3581, 4000, 4419, 6000, 7999, 8000})
    EXPECT_EQ(min_attainable_pvalue(lf.data(), 8000, 3581, s),
              brute_min_pvalue(lf.data(), 8000, 3581, s))
        << s;
}

struct TaroneCase {
  unsigned seed;
  bool null_data;
  int min_sup;
  int max_len;
  double level;
};

TEST(TaroneLevel, EqualsTheLargestFeasibleLevelFoundByTryingEveryCandidate) {
  const std::vector<TaroneCase> cases = {{1, false, 2, 100, 0.05}, {2, false, 5, 100, 0.05},
                                         {3, false, 10, 3, 0.2},   {4, true, 3, 100, 0.05},
                                         {5, true, 20, 100, 0.05}, {6, false, 30, 100, 1e-3},
                                         {7, true, 1, 2, 0.5},     {8, false, 40, 100, 0.05}};
  bool some_lowered = false;
  for (const TaroneCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "seed " << c.seed << " min_sup " << c.min_sup);
    const GeneratedData data =
        c.null_data ? generate_null_data(c.seed, 80, 6, 0.4) : generate_data(c.seed, 80, 7, 2);
    const ReferenceResult ref = mine_by_brute_force(data, MinerSettings{});
    const int n = static_cast<int>(ref.transactions.size());
    const LogFactorialTable lf = build_log_factorial_table(n);
    const std::vector<double> psi = min_attainable_pvalues(lf.data(), n, ref.positives);
    auto histogram = [&](int min_sup) {
      std::vector<uint64_t> counts(static_cast<size_t>(n) + 1, 0);
      for (const ReferencePattern& p : enumerate_patterns(ref, min_sup, c.max_len))
        ++counts[p.support];
      return counts;
    };
    auto brute = [&](int min_sup) {
      std::vector<double> values;
      for (const ReferencePattern& p : enumerate_patterns(ref, min_sup, c.max_len))
        values.push_back(psi[p.support]);
      return brute_tarone(values, c.level);
    };
    const BruteTarone want = brute(c.min_sup);
    const TaroneLevel got = tarone_level(histogram(c.min_sup), psi, c.level, c.min_sup);
    EXPECT_EQ(got.level, want.level);
    EXPECT_EQ(got.testable, want.testable);
    int lower = 0;
    for (int s = c.min_sup - 1; s >= 1; --s)
      if (psi[s] <= want.level) lower = s;
    EXPECT_EQ(got.lower_support, lower);
    EXPECT_GE(got.level,
              c.level / static_cast<double>(enumerate_patterns(ref, c.min_sup, c.max_len).size()));

    // Counted again from the lower support, the level is Tarone's over every
    // pattern of any support.
    TaroneSearch search;
    ASSERT_TRUE(search_tarone_level(
        histogram(c.min_sup), psi, c.level, c.min_sup,
        [&](int32_t min_sup, std::vector<uint64_t>& counts) {
          counts = histogram(min_sup);
          return true;
        },
        search));
    EXPECT_EQ(search.level.lower_support, 0);
    EXPECT_EQ(search.min_sup, lower == 0 ? c.min_sup : lower);
    EXPECT_EQ(search.recounts, lower == 0 ? 0 : 1);
    EXPECT_EQ(search.patterns_by_support, histogram(search.min_sup));
    const BruteTarone everything = brute(1);
    if (lower != 0) {
      some_lowered = true;
      EXPECT_EQ(search.level.level, everything.level);
      EXPECT_EQ(search.level.testable, everything.testable);
    }
  }
  EXPECT_TRUE(some_lowered);
}

TEST(TaroneLevel, StepsOfRandomHistograms) {
  std::mt19937 random(20);
  const int n = 60;
  const LogFactorialTable lf = build_log_factorial_table(n);
  for (int round = 0; round < 300; ++round) {
    const int positives = static_cast<int>(random() % (n + 1));
    const std::vector<double> psi = min_attainable_pvalues(lf.data(), n, positives);
    std::vector<uint64_t> counts(n + 1, 0);
    std::vector<double> values;
    const int min_sup = 1 + static_cast<int>(random() % 20);
    for (int s = min_sup; s <= n; ++s)
      if (random() % 3 == 0) {
        counts[s] = random() % 50;
        values.insert(values.end(), counts[s], psi[s]);
      }
    const double level = std::uniform_real_distribution<double>(1e-4, 1.0)(random);
    const BruteTarone want = brute_tarone(values, level);
    const TaroneLevel got = tarone_level(counts, psi, level, min_sup);
    SCOPED_TRACE(round);
    EXPECT_EQ(got.level, want.level);
    EXPECT_EQ(got.testable, want.testable);
  }
}

TEST(TaroneSearch, AFailedCountIsReported) {
  const LogFactorialTable lf = build_log_factorial_table(100);
  const std::vector<double> psi = min_attainable_pvalues(lf.data(), 100, 50);
  std::vector<uint64_t> counts(101, 0);
  counts[60] = 3;  // at a support of 60, so that far lower supports can reach the level
  TaroneSearch search;
  int calls = 0;
  EXPECT_FALSE(search_tarone_level(
      counts, psi, 0.05, 60, [&](int32_t, std::vector<uint64_t>&) { return ++calls, false; },
      search));
  EXPECT_EQ(calls, 1);
}

}  // namespace
