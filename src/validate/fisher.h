// Two-sided Fisher's exact test on a 2x2 table, by the probability criterion,
// summed from log10 factorials.
#pragma once

#include <cstdint>
#include <limits>

// The p-value of the table with `instances` N, `covered` r, `in_class` c and
// `covered_in_class` k, from `log_factorial`, which must hold at least N + 1
// entries. The counts must come from one set of instances: 0 <= r, c <= N and
// k >= r + c - N; a k above r or c is lowered to the smaller of them. The
// summation order (observed table, then the lower tail from its extreme
// inwards, then the upper tail) is part of the result.
// With `stop_above` set, summing stops as soon as the sum exceeds it: the
// value returned is then only known to be above `stop_above`, which is all a
// caller that needs the verdict p <= bound has to know. Sums that stay within
// the bound are exact.
double fisher_exact_pvalue_from(const double* log_factorial, int32_t instances, int32_t covered,
                                int32_t in_class, int32_t covered_in_class,
                                double stop_above = std::numeric_limits<double>::infinity());

// The same on the run's table, `run_stats.log_factorial`, which must be built.
double fisher_exact_pvalue(int32_t instances, int32_t covered, int32_t in_class,
                           int32_t covered_in_class);
