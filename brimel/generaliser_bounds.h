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
  int32_t largest_bounded = 0;  // supports above it ask the floor itself
  double limit = 0.0;           // log10(max_local_pvalue) + 1e-9
  // Per support s from min_sup + 1: lo(s) << 16 | (s - hi(s)), 0 while not
  // found, kAskTheFloor where one of them does not fit in 16 bits.
  mutable std::vector<std::atomic<uint32_t>> runs;
};

constexpr uint32_t kAskTheFloor = UINT32_MAX;

// Above this support the floor's steps near the bound come close to its
// rounding error, so its verdicts are computed one by one.
constexpr int32_t kLargestBoundedSupport = int32_t{1} << 20;

// For supports up to `transactions`; `log_factorial` as far as that.
void make_generaliser_bounds(const double* log_factorial, int32_t transactions, int32_t min_sup,
                             double log10_local, GeneraliserBounds& out);

// The verdict from the floor itself.
bool may_generalise_directly(const GeneraliserBounds& g, int32_t s, int32_t k);

// Finds and keeps the run of support s, min_sup < s <= g.largest_bounded.
uint32_t find_generaliser_run(const GeneraliserBounds& g, int32_t s);

inline bool may_generalise(const GeneraliserBounds& g, int32_t s, int32_t k) {
  // No pattern inside a cover of min_sup transactions can improve on it.
  if (s <= g.min_sup) return false;
  if (s > g.largest_bounded) return may_generalise_directly(g, s, k);
  uint32_t run = g.runs[static_cast<size_t>(s - g.min_sup - 1)].load(std::memory_order_relaxed);
  if (run == 0) run = find_generaliser_run(g, s);
  if (run == kAskTheFloor) return may_generalise_directly(g, s, k);
  return k >= static_cast<int32_t>(run >> 16) && k <= s - static_cast<int32_t>(run & 0xffffu);
}
