// Finding each support's run of class supports that may generalise a rule.
#include "generaliser_bounds.h"

#include <algorithm>

#include "fisher_verdict.h"

void make_generaliser_bounds(const double* log_factorial, int32_t transactions, int32_t min_sup,
                             double log10_local, GeneraliserBounds& out) {
  out.log_factorial = log_factorial;
  out.min_sup = min_sup;
  out.limit = log10_local + 1e-9;
  out.bounds = std::vector<std::atomic<uint64_t>>(
      static_cast<size_t>(std::min(transactions, kLargestBoundedSupport)) + 1);
}

bool may_generalise_directly(const GeneraliserBounds& g, int32_t s, int32_t k) {
  return log10_local_pvalue_floor(g.log_factorial, s, k, g.min_sup) <= g.limit;
}

uint64_t find_generaliser_run(const GeneraliserBounds& g, int32_t s) {
  int32_t lo = 1;
  int32_t hi = 0;
  if (s >= 2 && s - 1 >= g.min_sup) {
    // The floor falls on [1, least] and rises on [least + 1, s - 1]; in
    // each part its steps are far above its rounding, so it keeps its order.
    const int32_t least = std::max(g.min_sup, s / 2);
    int32_t a = 1;
    int32_t b = least + 1;  // past the part: none passes
    while (a < b) {
      const int32_t mid = a + (b - a) / 2;
      if (may_generalise_directly(g, s, mid))
        b = mid;
      else
        a = mid + 1;
    }
    int32_t c = least;  // before the part: none passes
    int32_t d = s - 1;
    while (c < d) {
      const int32_t mid = c + (d - c + 1) / 2;
      if (may_generalise_directly(g, s, mid))
        c = mid;
      else
        d = mid - 1;
    }
    lo = a;
    hi = c;
  }
  const uint64_t run = uint64_t{static_cast<uint32_t>(lo)} << 32 | static_cast<uint32_t>(hi);
  g.bounds[static_cast<size_t>(s)].store(run, std::memory_order_relaxed);
  return run;
}
