// Top-k mining: the K rules of smallest p-value, with no minimum support but
// what the search needs. The K-th smallest p-value among the rules found so
// far bounds the search: a pattern whose smallest attainable p-value psi(s)
// exceeds it cannot be one of the K, nor can any pattern of lower support
// below it. So the search takes as its minimum support the lowest support
// whose psi is within the bound (never below the min_sup given), and tests a
// rule's p-value against the bound before its costlier tests. The bound
// only falls, and the support only rises, as any thread finds rules, and
// neither ever passes its final value: the final bound p_K (the K-th
// smallest p-value of all rules, or max_pvalue when fewer reach it) and the
// final floor, the lowest support whose psi is within p_K. So whatever order
// the threads find rules in, every rule within p_K is found, and every
// pattern of support at least the final floor is tested, as in a search
// whose min_sup were that floor. The result keeps exactly that, the same for
// every number of threads and every timing: the first K rules by ascending
// p-value, ties broken by fewer items, then by their item ids compared in
// ascending order; and the counts of the patterns of support at least the
// final floor.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "pattern_search.h"

struct TopKBound {
  int32_t k = 0;
  std::vector<double> min_pvalues;  // psi(s), s = 0 .. transactions
  std::atomic<double> pvalue{0.0};  // the K-th smallest rule p-value so far, or max_pvalue
  std::atomic<int32_t> min_sup{0};  // the support the search needs now
  std::mutex mutex;                 // over `best`
  std::vector<double> best;         // a max-heap of the K smallest rule p-values so far
};

// Sets `bound` up for `k` rules of data of `transactions` records, `positives`
// in the rule class, at level `max_pvalue` from the support `min_sup` on.
void start_top_k(TopKBound& bound, int32_t k, const double* log_factorial, int32_t transactions,
                 int32_t positives, double max_pvalue, int32_t min_sup);

// The lowest support of at least `min_sup` whose psi is within `pvalue`
// (min_pvalues.size() when there is none): no pattern of lower support can
// reach `pvalue`, and neither can its extensions.
int32_t support_floor(const std::vector<double>& min_pvalues, double pvalue, int32_t min_sup);

inline double top_k_pvalue(const TopKBound& bound) {
  return bound.pvalue.load(std::memory_order_relaxed);
}
inline int32_t top_k_min_sup(const TopKBound& bound) {
  return bound.min_sup.load(std::memory_order_relaxed);
}

// A rule of p-value `pvalue` was kept: the bound falls when it is among the
// K smallest so far.
void offer_rule(TopKBound& bound, double pvalue);

// Drops the rules whose p-value exceeds `pvalue`, with their items.
void drop_rules_above(std::vector<MinedRule>& rules, std::vector<int32_t>& rule_items,
                      double pvalue);

// One search thread's patterns tested and those within max_pvalue, by
// support (the root's are not in them).
struct SupportTally {
  std::vector<uint64_t> tested;
  std::vector<uint64_t> within_level;
};

inline void tally_pattern(SupportTally& tally, int32_t support, uint64_t patterns,
                          bool within_level) {
  tally.tested[static_cast<size_t>(support)] += patterns;
  if (within_level) tally.within_level[static_cast<size_t>(support)] += patterns;
}

// After the search: keeps the first K rules of `result` in the order above
// (the rest in search order), takes the patterns below the final floor out
// of its counts, and sets its min_sup and top_k_bound.
void keep_top_k(const TopKBound& bound, const std::vector<SupportTally>& tallies,
                SearchResult& result);
