// Productivity of the kept rules: each generalisation's test cover is counted
// from the same bitsets as the rules', and its verdict stops summing as soon
// as the p-value passes the local level.
#include "validate/productivity.h"

#include "validate/fisher.h"

bool is_productive(const TestCovers& covers, const RuleRecord& rule, const RuleTest& test,
                   const double* log_factorial, double local_level, std::vector<uint64_t>& bits,
                   std::vector<int32_t>& items) {
  items.resize(static_cast<size_t>(rule.length > 0 ? rule.length : 0));
  for (int32_t dropped = 0; dropped < rule.length && rule.length > 1; ++dropped) {
    // Dropping either copy of a repeated item gives the same generalisation.
    if (dropped > 0 && rule.items[dropped] == rule.items[dropped - 1]) continue;
    int32_t length = 0;
    for (int32_t i = 0; i < rule.length; ++i) {
      if (i != dropped) items[static_cast<size_t>(length++)] = rule.items[i];
    }
    RuleRecord general;
    general.length = length;
    general.items = items.data();
    const RuleTest cover = count_test_cover(covers, general, bits);
    // The rule's cover lies within its generalisation's, so these counts
    // form one table; the confidence comparison is made exactly, in integers.
    if (int64_t{test.covered_in_class} * cover.covered <=
        int64_t{cover.covered_in_class} * test.covered)
      return false;
    if (fisher_exact_pvalue_from(log_factorial, cover.covered, test.covered,
                                 cover.covered_in_class, test.covered_in_class,
                                 local_level) > local_level)
      return false;
  }
  return true;
}

std::vector<bool> find_productive_rules(const TestCovers& covers, const RuleSet& rules,
                                        const std::vector<RuleTest>& tests,
                                        const std::vector<size_t>& kept,
                                        const double* log_factorial, double local_level) {
  std::vector<bool> productive(rules.records.size(), false);
  std::vector<uint64_t> bits;
  std::vector<int32_t> items;
  for (const size_t r : kept) {
    productive[r] = is_productive(covers, rules.records[r], tests[r], log_factorial, local_level,
                                  bits, items);
  }
  return productive;
}
