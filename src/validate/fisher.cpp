// Fisher's exact test: each table probability costs five look-ups in the
// log-factorial table, built here, and one power of ten.
#include "validate/fisher.h"

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
  // exactly the tables no more probable than it.
  for (int32_t x = std::max(0, r + c - n); x < kc; ++x) {
    const double p = probability(x);
    if (p > observed) break;
    sum += p;
    if (sum > stop_above) return sum;
  }
  for (int32_t x = std::min(r, c); x > kc; --x) {
    const double p = probability(x);
    if (p > observed) break;
    sum += p;
    if (sum > stop_above) return sum;
  }
  return sum;
}
