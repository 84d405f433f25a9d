// Significance counts over the mined rules.
#include "rule_significance.h"

RuleCountRecord count_significant_mined_rules(const std::vector<double>& sorted_pvalues,
                                              uint64_t patterns_tested, double level) {
  RuleCountRecord counts;
  counts.level = level;
  counts.corrected_level = level / static_cast<double>(patterns_tested);
  counts.sig_at_level = static_cast<int32_t>(sorted_pvalues.size());
  for (size_t i = 0; i < sorted_pvalues.size() && sorted_pvalues[i] <= counts.corrected_level; ++i)
    counts.sig_at_corrected = static_cast<int32_t>(i + 1);
  // The step stops at the first p-value above its bound, as the driver's does.
  for (size_t j = 1; j <= sorted_pvalues.size(); ++j) {
    if (sorted_pvalues[j - 1] > static_cast<double>(j) * counts.corrected_level) break;
    counts.sig_at_fdr = static_cast<int32_t>(j);
    counts.fdr_pvalue = sorted_pvalues[j - 1];
  }
  return counts;
}
