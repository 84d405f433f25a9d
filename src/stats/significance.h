// The significance counts over a list of p-values, the same for the miner's
// rules (corrected over every pattern tested) and for validation's kept
// rules (corrected over every rule tested).
#pragma once

#include <cstdint>
#include <span>

// The outcome of a significance count over a set of rules, as a rule count
// file holds it (minerio/rule_count.h).
struct RuleCountRecord {
  double level = 0.0;
  double corrected_level = 0.0;  // level / rules tested, computed by the reader
  double fdr_pvalue = 0.0;
  int32_t sig_at_level = 0;
  int32_t sig_at_corrected = 0;
  int32_t sig_at_fdr = 0;
};

// `sorted_pvalues` ascending, every one within `level`. Counts them all at
// the level, those within level / `tests` (the corrected level, infinite for
// no tests), and those accepted by the FDR step with bound j * level / tests,
// which ends at the first p-value above its bound even when a later one lies
// under its own. Sets every field of the result.
RuleCountRecord count_significant(std::span<const double> sorted_pvalues, double tests,
                                  double level);

// Holm's step-down count: the largest i with sorted_pvalues[j - 1] <= level /
// (tests - j + 1) for every j <= i. Its first bound is the corrected level,
// so it never counts fewer than count_significant's sig_at_corrected.
int32_t count_holm(std::span<const double> sorted_pvalues, double tests, double level);

// A p-value and the number of tests that gave it.
struct PValueCount {
  double pvalue = 0.0;
  uint64_t count = 0;
};

// The tests Benjamini-Hochberg's step-up accepts, and the largest p-value
// among them (0 when none is).
struct StepUpCount {
  uint64_t accepted = 0;
  double largest_pvalue = 0.0;
};

// Benjamini-Hochberg's step-up over `tests` tests, whose p-values within
// `level` are `ascending` (sorted, each with its count; the others cannot
// be accepted, since every bound is at most `level`): the largest j with the
// j-th smallest p-value within j * level / tests, and the j smallest are
// accepted, even where a p-value before the j-th lies above its own bound.
// Counts add up to at most UINT64_MAX.
StepUpCount count_benjamini_hochberg(std::span<const PValueCount> ascending, double tests,
                                     double level);
