// Productivity of the kept rules: the generalisations' test covers come from
// the same bitsets as the rules', and each verdict stops summing as soon as
// the p-value passes the local level.
#include "validate/productivity.h"

#include <cstdint>

#include "common/parallel_chunks.h"
#include "stats/fisher.h"

namespace {

// Kept rules a thread takes at a time.
constexpr size_t kRulesAtOnce = 256;

bool is_productive(const TestCovers& covers, const RuleRecord& rule, const RuleTest& test,
                   const double* log_factorial, double local_level, GeneralisationScratch& scratch,
                   std::vector<RuleTest>& general) {
  if (rule.length < 2) return true;
  count_generalisation_covers(covers, rule, test, scratch, general);
  for (const RuleTest& cover : general) {
    // The rule's cover lies within its generalisation's, so these counts
    // form one table; the confidence comparison is made exactly, in integers.
    if (int64_t{test.covered_in_class} * cover.covered <=
        int64_t{cover.covered_in_class} * test.covered)
      return false;
    if (fisher_exact_pvalue_from(log_factorial, cover.covered, test.covered, cover.covered_in_class,
                                 test.covered_in_class, local_level) > local_level)
      return false;
  }
  return true;
}

}  // namespace

std::vector<bool> find_productive_rules(const TestCovers& covers, const RuleSet& rules,
                                        const std::vector<RuleTest>& tests,
                                        const std::vector<size_t>& kept,
                                        const double* log_factorial, double local_level,
                                        int threads) {
  // One byte per kept rule: threads may not share the words of a vector<bool>.
  std::vector<uint8_t> verdicts(kept.size(), 0);
  parallel_chunks(kept.size(), kRulesAtOnce, threads, [&](size_t begin, size_t end) {
    GeneralisationScratch scratch;
    std::vector<RuleTest> general;
    for (size_t j = begin; j < end; ++j) {
      const size_t r = kept[j];
      verdicts[j] = is_productive(covers, rules.records[r], tests[r], log_factorial, local_level,
                                  scratch, general);
    }
  });
  std::vector<bool> productive(rules.records.size(), false);
  for (size_t j = 0; j < kept.size(); ++j) productive[kept[j]] = verdicts[j] != 0;
  return productive;
}
