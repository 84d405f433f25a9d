// Productivity of the kept rules: the generalisations' test covers come from
// the same bitsets as the rules', and each verdict stops summing as soon as
// the p-value passes the local level.
#include "validate/productivity.h"

#include "stats/fisher.h"

namespace {

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
                                        const double* log_factorial, double local_level) {
  std::vector<bool> productive(rules.records.size(), false);
  GeneralisationScratch scratch;
  std::vector<RuleTest> general;
  for (const size_t r : kept) {
    productive[r] = is_productive(covers, rules.records[r], tests[r], log_factorial, local_level,
                                  scratch, general);
  }
  return productive;
}
