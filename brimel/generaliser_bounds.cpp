// Finding each support's run of class supports that may generalise a rule.
#include "generaliser_bounds.h"

#include <algorithm>

#include "fisher_verdict.h"

void make_generaliser_bounds(const double* log_factorial, int32_t transactions, int32_t min_sup,
                             double log10_local, GeneraliserBounds& out) {
  out.log_factorial = log_factorial;
  out.min_sup = min_sup;
  out.largest_bounded = std::min(transactions, kLargestBoundedSupport);
  out.limit = log10_local + 1e-9;
  out.runs = std::vector<std::atomic<uint32_t>>(
      static_cast<size_t>(std::max(out.largest_bounded - min_sup, 0)));
}

bool may_generalise_directly(const GeneraliserBounds& g, int32_t s, int32_t k) {
  return log10_local_pvalue_floor(g.log_factorial, s, k, g.min_sup) <= g.limit;
}

uint32_t find_generaliser_run(const GeneraliserBounds& g, int32_t s) {
  // The floor falls on [1, least] and rises on [least + 1, s - 1]; in each
  // part its steps are far above its rounding, so it keeps its order there.
  const int32_t least = std::max(g.min_sup, s / 2);
  int32_t lo = 1;
  int32_t end = least + 1;  // past the part: none passes
  while (lo < end) {
    const int32_t mid = lo + (end - lo) / 2;
    if (may_generalise_directly(g, s, mid))
      end = mid;
    else
      lo = mid + 1;
  }
  int32_t hi = least;  // before the part: none passes
  int32_t last = s - 1;
  while (hi < last) {
    const int32_t mid = hi + (last - hi + 1) / 2;
    if (may_generalise_directly(g, s, mid))
      hi = mid;
    else
      last = mid - 1;
  }
  const uint32_t run = lo < 0xffff && s - hi < 0xffff
                           ? static_cast<uint32_t>(lo) << 16 | static_cast<uint32_t>(s - hi)
                           : kAskTheFloor;
  g.runs[static_cast<size_t>(s - g.min_sup - 1)].store(run, std::memory_order_relaxed);
  return run;
}
