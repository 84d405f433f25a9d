// The bound top-k mining searches under, shared by the search's threads, the
// K rules kept from what they found, and the bound the search starts from.
#include "top_k.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "stats/fisher.h"

namespace {

// A chance is compared with the bound a hair generously: the rule's p-value
// is a floating-point sum, which may round a little below the exact chance.
constexpr double kLog10Margin = 1e-9;

// p-values below this have lost digits in floating point: a rule's may lie
// below the chance it is compared with, so no class support floor is set.
constexpr double kSmallestComparable = 1e-290;

// The lowest class support k whose C(n, k) / C(N, k) is within `pvalue`
// (n + 1 when there is none).
int32_t class_support_floor(const double* log_factorial, int32_t transactions, int32_t positives,
                            double pvalue) {
  if (!(pvalue >= kSmallestComparable)) return 0;
  const double log10_bound = std::log10(pvalue) + kLog10Margin;
  int32_t k = 0;
  while (k <= positives && !(log_factorial[positives] - log_factorial[positives - k] -
                                 log_factorial[transactions] + log_factorial[transactions - k] <=
                             log10_bound))
    ++k;
  return k;
}

uint64_t sum_below(const std::vector<SupportTally>& tallies,
                   std::vector<uint64_t> SupportTally::*counts, int32_t floor) {
  uint64_t sum = 0;
  for (const SupportTally& tally : tallies) {
    const std::vector<uint64_t>& by_support = tally.*counts;
    for (size_t s = 0; s < by_support.size() && s < static_cast<size_t>(floor); ++s)
      sum += by_support[s];
  }
  return sum;
}

// Keeps the rules `keep` marks, in their order, with their items.
void keep_marked(std::vector<MinedRule>& rules, std::vector<int32_t>& rule_items,
                 const std::vector<char>& keep) {
  size_t kept = 0;
  size_t items = 0;
  for (size_t r = 0; r < rules.size(); ++r) {
    if (!keep[r]) continue;
    MinedRule rule = rules[r];
    std::copy_n(rule_items.begin() + static_cast<int64_t>(rule.item_begin), rule.length,
                rule_items.begin() + static_cast<int64_t>(items));
    rule.item_begin = items;
    items += static_cast<size_t>(rule.length);
    rules[kept++] = rule;
  }
  rules.resize(kept);
  rule_items.resize(items);
}

}  // namespace

void start_top_k(TopKBound& bound, const MinerParams& params, const double* log_factorial,
                 int32_t transactions, int32_t positives, double pvalue, bool by_class) {
  bound.k = params.top_k;
  bound.log_factorial = log_factorial;
  bound.transactions = transactions;
  bound.positives = positives;
  bound.max_pvalue = params.max_pvalue;
  bound.min_pvalues = min_attainable_pvalues(log_factorial, transactions, positives);
  bound.min_class_support =
      by_class ? class_support_floor(log_factorial, transactions, positives, pvalue) : 0;
  bound.pvalue.store(pvalue);
  bound.min_sup.store(support_floor(bound.min_pvalues, pvalue, std::max(params.min_sup, 1)));
  bound.best.clear();
}

int32_t support_floor(const std::vector<double>& min_pvalues, double pvalue, int32_t min_sup) {
  auto s = static_cast<size_t>(min_sup);
  while (s < min_pvalues.size() && !(min_pvalues[s] <= pvalue)) ++s;
  return static_cast<int32_t>(s);
}

void offer_rule(TopKBound& bound, double pvalue) {
  std::lock_guard<std::mutex> lock(bound.mutex);
  std::vector<double>& best = bound.best;
  if (best.size() == static_cast<size_t>(bound.k)) {
    if (!(pvalue < best.front())) return;
    std::pop_heap(best.begin(), best.end());
    best.back() = pvalue;
  } else {
    best.push_back(pvalue);
  }
  std::push_heap(best.begin(), best.end());
  if (best.size() < static_cast<size_t>(bound.k) || !(best.front() < top_k_pvalue(bound))) return;
  // Under the lock, so that the support only rises: below the old floor no
  // psi was within the old bound, so none is within the new one.
  bound.pvalue.store(best.front(), std::memory_order_relaxed);
  bound.min_sup.store(support_floor(bound.min_pvalues, best.front(), top_k_min_sup(bound)),
                      std::memory_order_relaxed);
}

void drop_rules_above(std::vector<MinedRule>& rules, std::vector<int32_t>& rule_items,
                      double pvalue) {
  std::vector<char> keep(rules.size());
  for (size_t r = 0; r < rules.size(); ++r) keep[r] = rules[r].pvalue <= pvalue;
  keep_marked(rules, rule_items, keep);
}

void keep_top_k(const TopKBound& bound, const std::vector<SupportTally>& tallies,
                SearchResult& result) {
  std::vector<MinedRule>& rules = result.rules;
  const std::vector<int32_t>& items = result.rule_items;
  std::vector<size_t> order(rules.size());
  std::iota(order.begin(), order.end(), 0);
  auto first_item = [&](const MinedRule& rule) {
    return items.begin() + static_cast<int64_t>(rule.item_begin);
  };
  auto before = [&](size_t a, size_t b) {
    const MinedRule& x = rules[a];
    const MinedRule& y = rules[b];
    if (x.pvalue != y.pvalue) return x.pvalue < y.pvalue;
    if (x.length != y.length) return x.length < y.length;
    return std::lexicographical_compare(first_item(x), first_item(x) + x.length, first_item(y),
                                        first_item(y) + y.length);
  };
  const size_t kept = std::min(order.size(), static_cast<size_t>(bound.k));
  std::partial_sort(order.begin(), order.begin() + static_cast<int64_t>(kept), order.end(), before);
  std::vector<char> keep(rules.size(), 0);
  for (size_t i = 0; i < kept; ++i) keep[order[i]] = 1;
  keep_marked(rules, result.rule_items, keep);

  // Every rule within the final bound was found, and every pattern at or
  // above the floors it sets was tested: only those are counted.
  result.top_k_bound = top_k_pvalue(bound);
  result.min_sup = top_k_min_sup(bound);
  result.min_class_support = bound.min_class_support;
  result.patterns_visited = result.patterns_tested;
  if (!result.count_saturated) {
    result.patterns_tested -= sum_below(tallies, &SupportTally::tested, result.min_sup);
    result.passing_pvalue -= sum_below(tallies, &SupportTally::within_level, result.min_sup);
  }
}

bool find_top_k_start(const MiningData& data, const MinerParams& params, const SearchHook* hook,
                      const SearchOptions& options, double& start, SearchResult& result,
                      bool& done) {
  start = params.max_pvalue;
  done = false;
  const int32_t transactions = transaction_count(data);
  const LogFactorialTable log_factorial = build_log_factorial_table(transactions);
  const std::vector<double> min_pvalues =
      min_attainable_pvalues(log_factorial.data(), transactions, data.positives);
  MinerParams run = params;
  SearchOptions from = options;
  for (run.min_sup = transactions / 2; run.min_sup > params.min_sup; run.min_sup /= 2) {
    SearchResult found;
    from.top_k_start = start;
    if (!search_rules(data, run, false, found, nullptr, from)) return false;
    start = found.top_k_bound;
    // No rule within the bound has a support below that run's: it found
    // them all.
    if (found.rules.size() == static_cast<size_t>(params.top_k) &&
        support_floor(min_pvalues, start, params.min_sup) >= run.min_sup) {
      if (hook == nullptr) {
        result = std::move(found);
        done = true;
      }
      return true;
    }
  }
  return true;
}
