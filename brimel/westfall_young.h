// The Westfall-Young permutation procedure over every tested pattern: for
// each of J permutations of the class labels the smallest p-value any
// pattern reaches, and as corrected level the largest d with
// 1 + #{minima <= d} <= level * (J + 1): the permutation p-value of the
// data's own smallest p-value, which counts the data as one more
// permutation, so that the family-wise error stays within the level at
// every J. That is d just below the (k+1)-th smallest minimum, k =
// floor(level * (J + 1)) - 1. The patterns are enumerated once and each is
// evaluated under all permutations at once (permuted_counts.h).
//
// Only the minima at or below a threshold t matter: t is the (k+1)-th
// smallest minimum found so far, which only falls and never falls below its
// final value. A pattern whose support cannot reach a
// p-value within t is passed over, and of the others only the permutations
// whose class count lies outside the support's acceptance region (counts
// whose table alone is more probable than t, so that their p-value exceeds
// t) get an exact p-value; a p-value is kept when it is at most t.
//
// Threads: each search thread evaluates its patterns with a worker of its
// own, whose threshold is the smaller of its own minima's (k+1)-th and the
// smallest any worker has published; every such threshold lies at or above
// the final one, so the workers' minima merged element by element give the
// same level for every number of threads and every order of patterns.
#pragma once

#include <atomic>
#include <cstdint>
#include <limits>
#include <vector>

#include "permuted_counts.h"

// What every worker shares. The threshold is the one value the workers
// write while they run (atomically).
struct WestfallYoungSetup {
  const double* log_factorial = nullptr;  // log10(i!) for i = 0 .. transactions
  int32_t transactions = 0;
  int32_t positives = 0;  // in the rule class
  int32_t permutations = 0;
  int32_t allowed = 0;  // k: minima that may lie within the corrected level; -1: not even none
  std::vector<double> min_pvalues;  // per support, from min_attainable_pvalues
  std::atomic<double> threshold{std::numeric_limits<double>::infinity()};
};

// The number of minima allowed within the corrected level, floor(level *
// (J + 1)) - 1, at most J; -1 when J + 1 < 1 / level, where no level can be
// told. A product within a relative 1e-9 below a whole number counts as
// that number, since the level is read from a decimal (0.29 * 100 is
// 28.999999999999996 in binary).
int32_t allowed_minima(double level, int32_t permutations);

// The rule the corrected level follows, as the results state it.
inline constexpr const char* kWestfallYoungRule = "1 + #{minima <= level} <= alpha (J + 1)";

// Fills `setup` for the data's `transactions` and `positives`, `permutations`
// >= 1 and the uncorrected `level`.
void start_westfall_young(WestfallYoungSetup& setup, const double* log_factorial,
                          int32_t transactions, int32_t positives, int32_t permutations,
                          double level);

// The counts of one support whose tables alone are more probable than the
// current threshold: [low, high], empty when low > high; with the
// probabilities of the tables of low - 1 and high + 1 (-1 where there is no
// such count), against which a lower threshold is checked. high is -1 until
// the support is first met.
struct AcceptanceRegion {
  int32_t low = 0;
  int32_t high = -1;
  double next_low = -1.0;
  double next_high = -1.0;
};

// One search thread's evaluation state.
struct WestfallYoungWorker {
  WestfallYoungSetup* setup = nullptr;
  std::vector<double> minima;  // per permutation; infinity until a p-value within the threshold
  double threshold = std::numeric_limits<double>::infinity();  // from `minima` alone
  std::vector<AcceptanceRegion> regions;                       // per support
  std::vector<uint64_t> flags;
  std::vector<double> scratch;
};

void start_worker(WestfallYoungSetup& setup, WestfallYoungWorker& worker);

// The threshold the worker evaluates with now.
inline double current_threshold(const WestfallYoungWorker& worker) {
  const double shared = worker.setup->threshold.load(std::memory_order_relaxed);
  return shared < worker.threshold ? shared : worker.threshold;
}

// False when no pattern of `support` can reach a p-value within the current
// threshold: the pattern needs no counts and no evaluation.
bool may_reach_threshold(const WestfallYoungWorker& worker, int32_t support);

// Evaluates a pattern whose counts under every permutation are `counts`
// (from count_cover or count_child_cover over `rows`).
void take_pattern(WestfallYoungWorker& worker, const PermutedCounts& counts,
                  const RecordRows& rows);

struct WestfallYoungLevel {
  double level = 0.0;     // the corrected level
  double quantile = 0.0;  // the (k+1)-th smallest minimum (infinite when there is none)
  int32_t allowed = 0;    // k
  int32_t permutations = 0;
  // 0 when no support below min_sup could reach the level; else the lowest
  // that could (set by the caller, who knows min_sup).
  int32_t lower_support = 0;
};

// The corrected level from every worker's minima: the largest double below
// the (k+1)-th smallest minimum, so that at most k minima lie within it. The
// uncorrected `level` when k reaches J (a level of 1) or no pattern was
// evaluated. 0 when k is -1: with J + 1 below 1 / level, even a smallest
// p-value below every minimum has a permutation p-value above the level.
WestfallYoungLevel westfall_young_level(const WestfallYoungSetup& setup,
                                        const std::vector<const WestfallYoungWorker*>& workers,
                                        double level);
