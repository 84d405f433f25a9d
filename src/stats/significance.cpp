// Significance counts over sorted p-values.
#include "stats/significance.h"

RuleCountRecord count_significant(std::span<const double> sorted_pvalues, double tests,
                                  double level) {
  RuleCountRecord counts;
  counts.level = level;
  counts.corrected_level = level / tests;
  counts.sig_at_level = static_cast<int32_t>(sorted_pvalues.size());
  for (size_t i = 0; i < sorted_pvalues.size() && sorted_pvalues[i] <= counts.corrected_level; ++i)
    counts.sig_at_corrected = static_cast<int32_t>(i + 1);
  for (size_t j = 1; j <= sorted_pvalues.size(); ++j) {
    if (sorted_pvalues[j - 1] > static_cast<double>(j) * counts.corrected_level) break;
    counts.sig_at_fdr = static_cast<int32_t>(j);
    counts.fdr_pvalue = sorted_pvalues[j - 1];
  }
  return counts;
}

int32_t count_holm(std::span<const double> sorted_pvalues, double tests, double level) {
  int32_t count = 0;
  for (size_t j = 1; j <= sorted_pvalues.size(); ++j) {
    if (!(sorted_pvalues[j - 1] <= level / (tests - static_cast<double>(j) + 1.0))) break;
    count = static_cast<int32_t>(j);
  }
  return count;
}

StepUpCount count_benjamini_hochberg(std::span<const PValueCount> ascending, double tests,
                                     double level) {
  const double step = level / tests;
  StepUpCount out;
  uint64_t rank = 0;
  for (const PValueCount& entry : ascending) {
    rank = rank > UINT64_MAX - entry.count ? UINT64_MAX : rank + entry.count;
    // Tests that share a p-value are accepted together, at the rank of the
    // last of them, where the bound is the mildest.
    if (entry.count > 0 && entry.pvalue <= static_cast<double>(rank) * step) {
      out.accepted = rank;
      out.largest_pvalue = entry.pvalue;
    }
  }
  return out;
}
