// The search's Fisher helpers against the system's exact p-value: verdicts on
// every table, whole or a glance first, bounds equal to the p-value itself
// included, tables that tie with the observed one included, from a cache
// several threads fill at once too; and the floor under local p-values.
#include "fisher_verdict.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numeric>
#include <random>
#include <thread>
#include <vector>

#include "stats/fisher.h"

namespace {

void expect_same_verdict(const LogFactorialTable& lf, int n, int r, int c, int k, double bound) {
  const double p = fisher_exact_pvalue_from(lf.data(), n, r, c, k);
  const FisherBound fisher = make_fisher_bound(lf.data(), bound);
  ASSERT_EQ(fisher_within(fisher, n, r, c, k), p <= bound)
      << "N " << n << " r " << r << " c " << c << " k " << k << " bound " << bound << " p " << p;
  // The rule test takes a glance first and the rest of the test apart.
  const FisherGlance glance = fisher_glance(fisher, n, r, c, k);
  const bool settled = glance.verdict == Glanced::unsure
                           ? fisher_within_unsure(fisher, n, r, c, k, glance)
                           : glance.verdict == Glanced::passes;
  ASSERT_EQ(settled, p <= bound) << "N " << n << " r " << r << " c " << c << " k " << k << " bound "
                                 << bound << " glance " << static_cast<int>(glance.verdict);
}

TEST(FisherVerdict, AgreesWithTheExactTestOnEveryTableOfSmallSizes) {
  const LogFactorialTable lf = build_log_factorial_table(40);
  for (int n = 1; n <= 40; ++n)
    for (int r = 0; r <= n; ++r)
      for (int c = 0; c <= n; ++c)
        for (int k = std::max(0, r + c - n); k <= std::min(r, c); ++k)
          for (const double bound : {1e-6, 0.001, 0.05, 0.3, 0.49, 0.5, 0.999, 1.0})
            expect_same_verdict(lf, n, r, c, k, bound);
}

void expect_same_verdicts_around_pvalues(int n, int trials) {
  const LogFactorialTable lf = build_log_factorial_table(n);
  std::mt19937 random(5);
  for (int trial = 0; trial < trials; ++trial) {
    const int r = std::uniform_int_distribution<int>(0, n)(random);
    const int c = std::uniform_int_distribution<int>(0, n)(random);
    const int lo = std::max(0, r + c - n), hi = std::min(r, c);
    // Mostly near the expected cell, where p-values are of every size.
    const double expected = static_cast<double>(r) * c / n;
    const double spread = std::sqrt(expected + 1.0) * 4.0;
    int k = static_cast<int>(expected +
                             std::uniform_real_distribution<double>(-spread, spread)(random));
    k = std::clamp(k, lo, hi);
    const double p = fisher_exact_pvalue_from(lf.data(), n, r, c, k);
    for (const double bound : {p, std::nextafter(p, 0.0), std::nextafter(p, 2.0), p * (1 + 1e-9),
                               p * (1 - 1e-9), 0.05, 1e-10})
      if (bound > 0.0 && bound <= 1.0) expect_same_verdict(lf, n, r, c, k, bound);
  }
}

TEST(FisherVerdict, AgreesAtBoundsOnAndAroundThePValueOfLargeTables) {
  expect_same_verdicts_around_pvalues(8000, 3000);
  // Long tails, where the geometric bounds of the tails settle most tables.
  expect_same_verdicts_around_pvalues(200000, 300);
}

TEST(FisherVerdict, AgreesOnSymmetricTablesWhereBothTailsTie) {
  const LogFactorialTable lf = build_log_factorial_table(2000);
  for (const int n : {10, 100, 1000, 2000})
    for (int k = 0; k <= n / 2; k += std::max(1, n / 50)) {
      const double p = fisher_exact_pvalue_from(lf.data(), n, n / 2, n / 2, k);
      for (const double bound : {p, std::nextafter(p, 0.0), 0.05})
        if (bound > 0.0) expect_same_verdict(lf, n, n / 2, n / 2, k, bound);
    }
}

}  // namespace

namespace {

TEST(FisherVerdict, CachedTailsGiveTheVerdictOfEveryTable) {
  const int n = 300;
  const LogFactorialTable lf = build_log_factorial_table(n);
  for (const int c : {0, 1, 37, 150, 299})
    for (const double bound : {1e-12, 0.001, 0.05, 0.3, 0.6, 1.0}) {
      FisherVerdictCache cache =
          make_fisher_verdict_cache(make_fisher_bound(lf.data(), bound), n, c);
      for (int r = 0; r <= n; ++r)
        for (int k = std::max(0, r + c - n); k <= std::min(r, c); ++k)
          ASSERT_EQ(cached_fisher_within(cache, r, k),
                    fisher_exact_pvalue_from(lf.data(), n, r, c, k) <= bound)
              << "r " << r << " c " << c << " k " << k << " bound " << bound;
    }
}

}  // namespace

namespace {

// Threads that ask about the row margins in different orders find their
// tails at different times, next to different neighbours, in one cache.
TEST(FisherVerdict, ACacheSharedByThreadsGivesTheVerdictOfEveryTable) {
  const int n = 2000, c = 700;
  const LogFactorialTable lf = build_log_factorial_table(n);
  for (const double bound : {1e-9, 0.05}) {
    FisherVerdictCache cache = make_fisher_verdict_cache(make_fisher_bound(lf.data(), bound), n, c);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 4; ++thread)
      threads.emplace_back([&, thread] {
        std::vector<int> rows(n + 1);
        std::iota(rows.begin(), rows.end(), 0);
        std::shuffle(rows.begin(), rows.end(), std::mt19937(thread));
        for (int pass = 0; pass < 40; ++pass)  // past the verdicts asked before tails are found
          for (const int r : rows) {
            const int k = std::max(0, r + c - n) +
                          (r * 7 + pass * 13) % (std::min(r, c) - std::max(0, r + c - n) + 1);
            if (cached_fisher_within(cache, r, k) !=
                (fisher_exact_pvalue_from(lf.data(), n, r, c, k) <= bound))
              ++wrong;
          }
      });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrong, 0) << "bound " << bound;
    for (const uint64_t tails : cache.tails) EXPECT_NE(tails, kUnknownTails);
  }
}

TEST(FisherVerdict, AgreesOnRandomTablesAtStopBounds) {
  const int n = 5000;
  const LogFactorialTable lf = build_log_factorial_table(n);
  std::mt19937 random(9);
  for (int trial = 0; trial < 4000; ++trial) {
    const int size = trial % 2 ? n : std::uniform_int_distribution<int>(1, 60)(random);
    const int r = std::uniform_int_distribution<int>(0, size)(random);
    const int c = std::uniform_int_distribution<int>(0, size)(random);
    const int k =
        std::uniform_int_distribution<int>(std::max(0, r + c - size), std::min(r, c))(random);
    for (const double bound : {1e-30, 0.05, 0.5}) expect_same_verdict(lf, size, r, c, k, bound);
  }
}

// Where the class count or the support is half the records, tables tie in
// exact arithmetic and the exact function counts both: the verdict must too,
// at bounds on and around the p-value.
TEST(FisherVerdict, AgreesWhereTablesTieWithTheObservedOne) {
  const LogFactorialTable lf = build_log_factorial_table(400);
  for (const int n : {34, 40, 100, 400})
    for (int other = 0; other <= n; other += n / 34 + 1)
      for (const auto& [r, c] : {std::pair{other, n / 2}, std::pair{n / 2, other}})
        for (int k = std::max(0, r + c - n); k <= std::min(r, c); ++k) {
          const double p = fisher_exact_pvalue_from(lf.data(), n, r, c, k);
          for (const double bound :
               {p, std::nextafter(p, 0.0), std::nextafter(p, 2.0), p * (1 - 1e-8), 0.05, 0.01})
            if (bound > 0.0 && bound <= 1.0) expect_same_verdict(lf, n, r, c, k, bound);
        }
}

}  // namespace

namespace {

// Every pattern inside a cover of s transactions, k of the rule class, that
// has support s2 >= min_sup and a higher confidence than the cover: its
// local p-value never goes below the floor.
TEST(LocalPValueFloor, HoldsForEveryPatternInsideTheCover) {
  const int n = 60;
  const LogFactorialTable lf = build_log_factorial_table(n);
  for (int s = 1; s <= n; s += 3)
    for (int k = 0; k <= s; ++k)
      for (const int min_sup : {1, 2, 5, 13, 30}) {
        const double floor = log10_local_pvalue_floor(lf.data(), s, k, min_sup);
        double lowest = std::numeric_limits<double>::infinity();
        for (int s2 = min_sup; s2 < s; ++s2)
          for (int k2 = std::max(0, s2 - (s - k)); k2 <= std::min(k, s2); ++k2) {
            if (static_cast<double>(k2) / s2 <= static_cast<double>(k) / s) continue;
            lowest =
                std::min(lowest, std::log10(fisher_exact_pvalue_from(lf.data(), s, s2, k, k2)));
          }
        if (std::isinf(floor)) {
          EXPECT_TRUE(std::isinf(lowest)) << "s " << s << " k " << k << " min_sup " << min_sup;
        } else {
          EXPECT_GE(lowest, floor - 1e-9) << "s " << s << " k " << k << " min_sup " << min_sup;
        }
        // Losing any one transaction never lowers the floor.
        if (k > 0) {
          EXPECT_GE(log10_local_pvalue_floor(lf.data(), s - 1, k - 1, min_sup), floor - 1e-9);
        }
        if (k < s) {
          EXPECT_GE(log10_local_pvalue_floor(lf.data(), s - 1, k, min_sup), floor - 1e-9);
        }
      }
}

}  // namespace
