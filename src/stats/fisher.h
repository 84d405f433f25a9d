// Two-sided Fisher's exact test on a 2x2 table, by the probability criterion,
// summed from log10 factorials, and the smallest p-value a support allows.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

// Entry i holds log10(i!), built by a running sum so that every entry rounds
// the same way on every run.
using LogFactorialTable = std::vector<double>;

// A table of n + 1 entries (n >= 0; a negative n is taken as 0).
LogFactorialTable build_log_factorial_table(int n);

// Tables whose probability is at most the observed one's times this count
// as no more probable than it: two tables that are equally probable in exact
// arithmetic come out of the log sums a few ulps apart, and the standard
// relative tolerance of two-sided Fisher tests keeps both.
inline constexpr double kFisherTieTolerance = 1.0 + 1e-7;

// The p-value of the table with `instances` N, `covered` r, `in_class` c and
// `covered_in_class` k, from `log_factorial`, which must hold at least N + 1
// entries: the sum of the probabilities of every table of these margins at
// most kFisherTieTolerance times the observed one's. The counts must come
// from one set of instances: 0 <= r, c <= N and k >= r + c - N; a k above r
// or c is lowered to the smaller of them. The summation order (observed
// table, then the lower tail from its extreme inwards, then the upper tail)
// is part of the result; tables too improbable to change the sum in its last
// bit are passed over, which leaves it as it is.
// With `stop_above` set, summing stops as soon as the sum exceeds it: the
// value returned is then only known to be above `stop_above`, which is all a
// caller that needs the verdict p <= bound has to know. Sums that stay within
// the bound are exact.
double fisher_exact_pvalue_from(const double* log_factorial, int32_t instances, int32_t covered,
                                int32_t in_class, int32_t covered_in_class,
                                double stop_above = std::numeric_limits<double>::infinity());

// The terms every Fisher computation of the system sums, shared so that the
// miner's p-values and verdicts equal validation's bit for bit. For a table
// of n instances, row margin r and column margin c:
// log10 of r! c! (n - r)! (n - c)!, the numerator of every table's probability;
inline double fisher_log10_margins(const double* log_factorial, int64_t n, int64_t r, int64_t c) {
  return log_factorial[r] + log_factorial[c] + log_factorial[n - r] + log_factorial[n - c];
}

// log10 of the probability of the table with x covered instances in class,
// max(0, r + c - n) <= x <= min(r, c);
inline double fisher_log10_probability(const double* log_factorial, double margins, int64_t n,
                                       int64_t r, int64_t c, int64_t x) {
  return margins - (log_factorial[x] + log_factorial[n] + log_factorial[r - x] +
                    log_factorial[c - x] + log_factorial[n - r - c + x]);
}

// and the mode, the most probable x (the lower one of two equal modes).
inline int64_t fisher_mode(int64_t n, int64_t r, int64_t c) { return (r + 1) * (c + 1) / (n + 2); }

// The smallest two-sided Fisher p-value of a pattern of `support` records
// among `transactions` of which `positives` are in the rule class: that of
// one of the two extreme tables (as many or as few of its records in the
// class as the margins allow), equal bit for bit to the system's own Fisher
// p-value of that table (fisher_exact_pvalue_from): psi(s), which decides
// whether a pattern of that support can be significant at all (Tarone).
// `log_factorial` holds at least transactions + 1 entries;
// 0 <= support <= transactions.
double min_attainable_pvalue(const double* log_factorial, int32_t transactions, int32_t positives,
                             int32_t support);

// The same for every support from 0 to `transactions`.
std::vector<double> min_attainable_pvalues(const double* log_factorial, int32_t transactions,
                                           int32_t positives);
