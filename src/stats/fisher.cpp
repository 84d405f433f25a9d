// Fisher's exact test: each table probability costs five look-ups in the
// log-factorial table, built here, and one power of ten.
#include "stats/fisher.h"

#include <algorithm>
#include <cmath>

LogFactorialTable build_log_factorial_table(int n) {
  if (n < 0) n = 0;
  LogFactorialTable table(static_cast<size_t>(n) + 1, 0.0);
  for (int i = 2; i <= n; ++i) table[i] = table[i - 1] + std::log10(static_cast<double>(i));
  return table;
}

double fisher_exact_pvalue_from(const double* lf, int32_t n, int32_t r, int32_t c, int32_t k,
                                double stop_above) {
  const double margins = fisher_log10_margins(lf, n, r, c);
  auto log_p = [&](int64_t x) { return fisher_log10_probability(lf, margins, n, r, c, x); };
  const int32_t kc = std::min({k, r, c});
  const double log_observed = log_p(kc);
  const double observed = std::pow(10.0, log_observed);
  // Every table summed is at most about the observed one: when that is too
  // small for a double, so are they all, and the sum is zero.
  if (observed == 0.0) return observed;
  const double counted_up_to = observed * kFisherTieTolerance;
  double sum = observed;
  if (sum > stop_above) return sum;

  // Probabilities rise from both extremes towards the mode, so walking inwards
  // and stopping at the first table more probable than the observed one sums
  // exactly the tables no more probable than it. A table below 1e-17 of the
  // observed one is less than half the last digit of any sum it meets, so
  // adding it leaves the sum as it is: each walk starts past the tables that
  // small, found by bisection over the part where probabilities are monotone.
  const double negligible = log_observed - 17.0;
  const int64_t lo = std::max(0, r + c - n);
  const int64_t hi = std::min(r, c);
  const int64_t mode = fisher_mode(n, r, c);

  // Lower side: probabilities rise from lo to the mode.
  int64_t first = kc;
  const int64_t lower_end = std::min<int64_t>(kc - 1, mode);
  if (lo <= lower_end && log_p(lower_end) >= negligible) {
    int64_t low = lo, high = lower_end;  // the first table that counts lies in [low, high]
    while (low < high) {
      const int64_t mid = low + (high - low) / 2;
      if (log_p(mid) >= negligible)
        high = mid;
      else
        low = mid + 1;
    }
    first = low;
  }
  for (int64_t x = first; x < kc; ++x) {
    const double p = std::pow(10.0, log_p(x));
    if (p > counted_up_to) break;
    sum += p;
    if (sum > stop_above) return sum;
  }
  // Upper side: probabilities fall from the mode to hi.
  first = kc;
  const int64_t upper_end = std::max<int64_t>(kc + 1, mode);
  if (upper_end <= hi && log_p(upper_end) >= negligible) {
    int64_t low = upper_end, high = hi;  // the last table that counts lies in [low, high]
    while (low < high) {
      const int64_t mid = high - (high - low) / 2;
      if (log_p(mid) >= negligible)
        low = mid;
      else
        high = mid - 1;
    }
    first = low;
  }
  for (int64_t x = first; x > kc; --x) {
    const double p = std::pow(10.0, log_p(x));
    if (p > counted_up_to) break;
    sum += p;
    if (sum > stop_above) return sum;
  }
  return sum;
}

double min_attainable_pvalue(const double* log_factorial, int32_t transactions, int32_t positives,
                             int32_t support) {
  // The least probable table has the smallest p-value, and table
  // probabilities rise from both extremes towards the mode. Only the less
  // probable extreme is summed (the other's sum can be long); when the two
  // lie within the tolerance, each p-value counts both tables, summed in
  // another order, and the smaller is the smallest p-value.
  const int32_t fewest = std::max(0, support + positives - transactions);
  const int32_t most = std::min(support, positives);
  const double margins = fisher_log10_margins(log_factorial, transactions, support, positives);
  const double log_fewest =
      fisher_log10_probability(log_factorial, margins, transactions, support, positives, fewest);
  const double log_most =
      fisher_log10_probability(log_factorial, margins, transactions, support, positives, most);
  auto pvalue = [&](int32_t k) {
    return fisher_exact_pvalue_from(log_factorial, transactions, support, positives, k);
  };
  // In log10 of a probability: the tolerance's log10 is 4.3e-8.
  constexpr double kTie = 1e-7;
  if (log_fewest < log_most - kTie) return pvalue(fewest);
  if (log_most < log_fewest - kTie) return pvalue(most);
  return std::min(pvalue(fewest), pvalue(most));
}

std::vector<double> min_attainable_pvalues(const double* log_factorial, int32_t transactions,
                                           int32_t positives) {
  std::vector<double> values(static_cast<size_t>(std::max(transactions, 0)) + 1);
  for (int32_t s = 0; s <= transactions; ++s)
    values[static_cast<size_t>(s)] =
        min_attainable_pvalue(log_factorial, transactions, positives, s);
  return values;
}
