// Fisher's exact test for the search: "p <= bound" decided far faster than
// by summing the p-value, always with the same result as the system's own
// function (stats/fisher.h), which gives the search its exact p-values.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

struct FisherBound {
  const double* log_factorial = nullptr;  // log10(i!) for i = 0 .. the largest table size
  double bound = 0.0;
  double log10_bound = 0.0;
};

FisherBound make_fisher_bound(const double* log_factorial, double bound);

// True exactly when fisher_exact_pvalue_from(log_factorial, n, r, c, k) <= bound.
// The p-value is estimated from the observed table outwards by the ratio of
// neighbouring table probabilities; only an estimate within a hair of the
// bound (or a near tie between tables) is settled by the exact sum.
bool fisher_within(const FisherBound& fisher, int32_t n, int32_t r, int32_t c, int32_t k);

// What fisher_within decides from the observed table's probability alone,
// a small part of its cost: the p-value is at least that probability and
// at most it times the number of tables (and the tie tolerance).
enum class Glanced : uint8_t { fails, passes, unsure };
struct FisherGlance {
  Glanced verdict = Glanced::unsure;
  double margins = 0.0;       // fisher_log10_margins of the table
  double log_observed = 0.0;  // log10 of its probability
};
FisherGlance fisher_glance(const FisherBound& fisher, int32_t n, int32_t r, int32_t c, int32_t k);

// fisher_within for the table of `glance`, whose verdict is unsure.
bool fisher_within_unsure(const FisherBound& fisher, int32_t n, int32_t r, int32_t c, int32_t k,
                          const FisherGlance& glance);

// The verdicts for tables of one size n and one column margin c, found once
// per row margin r. Below a bound of one half the p-value falls strictly as
// k moves away from the mode, so the tables that pass are the two tails:
// k <= below and k >= above. The search's threads share one cache: a row
// margin's tails are the same whichever thread finds them, and they are
// read and written as one word.
struct FisherVerdictCache {
  FisherBound fisher;
  int32_t n = 0;
  int32_t c = 0;
  bool by_tails = false;  // false: every verdict is computed afresh
  // Per r: below in the upper half, above in the lower; kUnknownTails until
  // first needed.
  std::vector<uint64_t> tails;
  // Per r: verdicts given before its tails were known. A count one thread's
  // store overwrites costs a verdict more, never a different one.
  std::vector<uint8_t> asked;
};

// No row margin has these tails: above is never below zero.
inline constexpr uint64_t kUnknownTails = UINT64_MAX;

FisherVerdictCache make_fisher_verdict_cache(const FisherBound& fisher, int32_t n, int32_t c);

// cached_fisher_within for a row margin whose tails are not known yet, or
// without tails.
bool uncached_fisher_within(FisherVerdictCache& cache, int32_t r, int32_t k);

// Row margin r's tails as the cache holds them, kUnknownTails until found.
inline uint64_t load_tails(FisherVerdictCache& cache, int32_t r) {
  return std::atomic_ref<uint64_t>(cache.tails[static_cast<size_t>(r)])
      .load(std::memory_order_relaxed);
}

// Whether k lies in one of the two tails `tails` holds.
inline bool in_tails(uint64_t tails, int32_t k) {
  return k <= static_cast<int32_t>(tails >> 32) || k >= static_cast<int32_t>(tails);
}

// fisher_within(cache.fisher, cache.n, r, cache.c, k), 0 <= k <= min(r, c).
inline bool cached_fisher_within(FisherVerdictCache& cache, int32_t r, int32_t k) {
  if (cache.by_tails) {
    const uint64_t tails = load_tails(cache, r);
    if (tails != kUnknownTails) return in_tails(tails, k);
  }
  return uncached_fisher_within(cache, r, k);
}

// log10 of the binomial coefficient C(n, k), 0 <= k <= n.
inline double log10_binomial(const double* log_factorial, int32_t n, int32_t k) {
  return log_factorial[n] - log_factorial[k] - log_factorial[n - k];
}

// For a pattern Y of support s and class support k: log10 of a number that
// no local p-value Fisher(s, s', k, k') of a pattern X inside Y's cover
// reaches when X has support s' >= min_sup and a higher confidence than Y;
// +infinity when no such X can exist. It never falls as Y's cover loses
// transactions, so it holds for every extension of Y as well.
double log10_local_pvalue_floor(const double* log_factorial, int32_t s, int32_t k, int32_t min_sup);
