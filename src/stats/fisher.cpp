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
  auto probability = [&](int32_t x) {
    return std::pow(10.0, fisher_log10_probability(lf, margins, n, r, c, x));
  };

  const int32_t kc = std::min({k, r, c});
  const double observed = probability(kc);
  double sum = observed;
  if (sum > stop_above) return sum;

  // Probabilities rise from both extremes towards the mode, so walking inwards
  // and stopping at the first table more probable than the observed one sums
  // exactly the tables no more probable than it. The tables at an extreme
  // below 1e-18 of the sum so far are less than half its last digit: adding
  // them leaves the sum as it is, so the walk starts past them, found by
  // bisection over the rising part.
  const int32_t mode = static_cast<int32_t>(fisher_mode(n, r, c));
  auto negligible = [&](int32_t x) {
    const double floor = sum > 0.0 ? std::log10(sum) - 18.0 : -400.0;
    return fisher_log10_probability(lf, margins, n, r, c, x) < floor;
  };
  int32_t low = std::max(0, r + c - n);
  for (int32_t last = std::min(kc, mode); low < last;) {
    const int32_t middle = low + (last - low) / 2;
    if (negligible(middle))
      low = middle + 1;
    else
      last = middle;
  }
  for (int32_t x = low; x < kc; ++x) {
    const double p = probability(x);
    if (p > observed) break;
    sum += p;
    if (sum > stop_above) return sum;
  }
  int32_t high = std::min(r, c);
  for (int32_t last = std::max(kc, mode); high > last;) {
    const int32_t middle = high - (high - last) / 2;
    if (negligible(middle))
      high = middle - 1;
    else
      last = middle;
  }
  for (int32_t x = high; x > kc; --x) {
    const double p = probability(x);
    if (p > observed) break;
    sum += p;
    if (sum > stop_above) return sum;
  }
  return sum;
}

double min_attainable_pvalue(const double* log_factorial, int32_t transactions, int32_t positives,
                             int32_t support) {
  // The least probable table has the smallest p-value, and table
  // probabilities rise from both extremes towards the mode. Only the less
  // probable extreme is summed (the other's sum can be long); near ties,
  // both.
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
  constexpr double kTie = 1e-9;  // in log10 of a probability
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
