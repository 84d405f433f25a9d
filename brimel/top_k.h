// Top-k mining: the K rules of smallest p-value, with no minimum support but
// what the search needs.
//
// The K-th smallest p-value among the rules found so far bounds the search.
// A pattern whose smallest attainable p-value psi(s) exceeds it cannot be one
// of the K, nor can any pattern of lower support below it: so the search
// takes as its minimum support the lowest support whose psi is within the
// bound (never below the min_sup given), and tests a rule's p-value against
// the bound before its costlier tests.
//
// Without direct adjustment it also passes over the patterns with too few
// records in the class, and their extensions: a rule (more confident than the
// class's share) with k of them has a p-value of at least C(n, k) / C(N, k),
// the chance that k records drawn from the N all lie in the n of the class
// (the tables at least as extreme as the rule's make up its p-value, and a
// table with more records but no more of them in the class is less extreme),
// and that falls as k grows. That floor is set once, from the bound the
// search starts from. Direct adjustment must count and permute every
// pattern of the support, so it keeps them.
//
// The bound only falls, and the support floor only rises, as any thread
// finds rules, and neither ever passes its final value (the final bound p_K
// is the K-th smallest p-value of all rules, or max_pvalue when fewer reach
// it). So, whatever order the threads find rules in, every rule within p_K
// is found, and every pattern at or above the final floors is tested. The
// result keeps exactly that, the same for every number of threads and every
// timing: the first K rules by ascending p-value, ties broken by fewer items,
// then by their item ids compared in ascending order; and the counts of the
// patterns at or above the final floors.
//
// Until K rules are found the bound is max_pvalue, and a search from there
// would wander far below the support the K rules need. So it is run first at
// supports N / 2, N / 4, ..., each run starting from the bound the one
// before ended with, until a run ends with a bound no pattern below its
// support can reach: that run found every rule within p_K, and it is the
// search; with direct adjustment, the search proper starts from its bound.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "pattern_search.h"

struct TopKBound {
  int32_t k = 0;
  const double* log_factorial = nullptr;
  int32_t transactions = 0;
  int32_t positives = 0;
  double max_pvalue = 0.0;
  std::vector<double> min_pvalues;  // psi(s), s = 0 .. transactions
  int32_t min_class_support = 0;    // the class support a pattern needs
  std::atomic<double> pvalue{0.0};  // the K-th smallest rule p-value so far, or max_pvalue
  std::atomic<int32_t> min_sup{0};  // the support the search needs now
  std::mutex mutex;                 // over `best`
  std::vector<double> best;         // a max-heap of the K smallest rule p-values so far
};

// Sets `bound` up for top_k rules of `data` under `params`, starting from
// the bound `pvalue` (at most max_pvalue); the class-support floor only
// `by_class`.
void start_top_k(TopKBound& bound, const MinerParams& params, const double* log_factorial,
                 int32_t transactions, int32_t positives, double pvalue, bool by_class);

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
// (the rest in search order), takes the patterns below the final support
// floor out of its counts, and sets its min_sup, min_class_support and
// top_k_bound.
void keep_top_k(const TopKBound& bound, const std::vector<SupportTally>& tallies,
                SearchResult& result);

// The bound the search proper starts from, found by the runs at falling
// supports above (max_pvalue when none finds K rules). When the run that
// found it is the search proper, and `hook` is null, it is in `result` and
// `done` is set. False after an "Error: " line, or without one when
// options.stop was set.
bool find_top_k_start(const MiningData& data, const MinerParams& params, const SearchHook* hook,
                      const SearchOptions& options, double& start, SearchResult& result,
                      bool& done);
