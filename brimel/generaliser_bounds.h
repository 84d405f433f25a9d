// Which patterns may be the generalisation of a rule, by their supports:
// log10_local_pvalue_floor(s, k) <= log10(max_local_pvalue) + 1e-9. For one
// support s the floor falls as k rises to the point where it is least and
// rises after it, so the class supports that pass form one run from lo(s) to
// hi(s); each support's run is found once, by bisection, and shared by the
// search threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

struct GeneraliserBounds {
  const double* log_factorial = nullptr;
  int32_t min_sup = 0;
  double limit = 0.0;  // log10(max_local_pvalue) + 1e-9
  // Per support up to kLargestBoundedSupport: lo << 32 | hi, or 0 while not
  // found (lo is at least 1).
  mutable std::vector<std::atomic<uint64_t>> bounds;
};

// Above this support the floor's steps near the bound come close to its
// rounding error, so its verdicts are computed one by one.
constexpr int32_t kLargestBoundedSupport = int32_t{1} << 20;

// For supports up to `transactions`; `log_factorial` as far as that.
void make_generaliser_bounds(const double* log_factorial, int32_t transactions, int32_t min_sup,
                             double log10_local, GeneraliserBounds& out);

// The direct verdict.
bool may_generalise_directly(const GeneraliserBounds& g, int32_t s, int32_t k);

// Finds and keeps the run of support s.
uint64_t find_generaliser_run(const GeneraliserBounds& g, int32_t s);

inline bool may_generalise(const GeneraliserBounds& g, int32_t s, int32_t k) {
  if (s > kLargestBoundedSupport) return may_generalise_directly(g, s, k);
  uint64_t run = g.bounds[static_cast<size_t>(s)].load(std::memory_order_relaxed);
  if (run == 0) run = find_generaliser_run(g, s);
  return k >= static_cast<int32_t>(run >> 32) && k <= static_cast<int32_t>(run & 0xffffffffu);
}
