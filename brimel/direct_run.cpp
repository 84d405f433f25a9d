// Direct adjustment around the search: the permuted labels before it, every
// correction's level after it.
#include "direct_run.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

#include "common/messages.h"
#include "direct_output.h"
#include "permuted_labels.h"
#include "search_space.h"
#include "testability.h"

namespace {

// The rows of the transactions' permuted labels may take this much memory;
// the search holds about two more such sets per thread at most.
constexpr double kMaxRowMegabytes = 1024.0;

// The patterns of support >= `min_sup` by support, from a search that tests
// no rule.
bool count_patterns(const MinerParams& params, const MiningData& data, int32_t min_sup,
                    const std::atomic<bool>* stop, std::vector<uint64_t>& patterns_by_support) {
  MinerParams lowered = params;
  lowered.min_sup = min_sup;
  lowered.top_k = 0;  // every pattern of the lowered support is counted
  SearchHook hook;
  hook.count_only = true;
  SearchResult result;
  SearchOptions options;
  options.stop = stop;
  if (!search_rules(data, lowered, false, result, &hook, options)) return false;
  patterns_by_support = std::move(hook.patterns_by_support);
  return true;
}

DirectFigures direct_figures(const MinerParams& params, const MiningData& data,
                             const SearchResult& result, const std::vector<size_t>& order,
                             const RuleCountRecord& counts) {
  DirectFigures f;
  f.level = params.max_pvalue;
  f.transactions = transaction_count(data);
  f.positives = data.positives;
  if (!params.target_value.empty())
    f.class_value = params.target_value;
  else if (data.class_values.size() >= 2)
    f.class_value = data.class_values[1];
  f.item_keys = data.item_keys;
  f.min_sup = result.min_sup;
  f.top_k = params.top_k;
  f.top_k_bound = result.top_k_bound;
  f.min_sup_given = params.min_sup;
  f.patterns_tested = result.patterns_tested;
  f.count_saturated = result.count_saturated;
  f.miner_counts = counts;
  f.seed = params.permutation_seed;
  for (const size_t r : order) {
    const MinedRule& rule = result.rules[r];
    const auto first = result.rule_items.begin() + static_cast<int64_t>(rule.item_begin);
    f.rules.push_back(DirectRule{std::vector<int32_t>(first, first + rule.length), rule.support,
                                 rule.class_support, rule.pvalue, rule.max_local_pvalue});
  }
  return f;
}

// Benjamini-Hochberg's step-up over every pattern tested: those within the
// level are counted by table, and share the table's p-value.
StepUpCount step_up_over_patterns(const std::vector<TableCount>& tables, const DirectFigures& f,
                                  const double* log_factorial) {
  std::vector<PValueCount> ascending;
  ascending.reserve(tables.size());
  for (const TableCount& table : tables)
    ascending.push_back(
        PValueCount{fisher_exact_pvalue_from(log_factorial, f.transactions, table.support,
                                             f.positives, table.class_support),
                    table.patterns});
  std::sort(ascending.begin(), ascending.end(),
            [](const PValueCount& a, const PValueCount& b) { return a.pvalue < b.pvalue; });
  return count_benjamini_hochberg(ascending, static_cast<double>(f.patterns_tested), f.level);
}

// Under top-k the hook counted patterns below the support the search ended
// with too, as many as its threads met before the bound rose past them;
// the patterns tested are those at that support and above, as the search's
// own counts are.
void leave_out_below(std::vector<uint64_t>& by_support, int32_t min_sup) {
  std::fill(
      by_support.begin(),
      by_support.begin() + std::min<int64_t>(min_sup, static_cast<int64_t>(by_support.size())), 0);
}

}  // namespace

void print_direct_summary(const DirectFigures& f) {
  const std::vector<MethodSummary> methods = method_summaries(f);
  std::printf("direct levels:");
  for (size_t m = 0; m < methods.size(); ++m) {
    std::printf("%s %s ", m == 0 ? "" : ",", methods[m].name);
    if (std::isnan(methods[m].level))
      std::printf("-");
    else
      std::printf("%g", methods[m].level);
  }
  if (f.tarone_lowered_asked)
    std::printf(" (tarone_lowered from min_sup %d,", f.tarone_lowered.min_sup);
  std::printf("%swestfall_young of %d permutations)\n", f.tarone_lowered_asked ? " " : " (",
              f.westfall_young.permutations);
  std::printf("direct rules:");
  for (size_t m = 0; m < methods.size(); ++m)
    std::printf("%s %s %lld", m == 0 ? "" : ",", methods[m].name,
                static_cast<long long>(methods[m].rules));
  std::putchar('\n');
}

bool prepare_direct_run(const MinerParams& params, const MiningData& data, DirectRun& run) {
  const int32_t n = transaction_count(data);
  run.log_factorial = build_log_factorial_table(n);
  start_westfall_young(run.westfall_young, run.log_factorial.data(), n, data.positives,
                       params.permutations, params.max_pvalue);
  run.hook.count_closed = true;
  if (params.permutations == 0 || !data.classes_usable) return true;
  const double megabytes =
      static_cast<double>(n) * static_cast<double>(plane_words(params.permutations)) * 8 / 1e6;
  if (megabytes > kMaxRowMegabytes) {
    report_error(
        "%d permutations of %d records would take %.0f MB for their labels alone, more "
        "than %.0f MB; ask for fewer permutations",
        params.permutations, n, megabytes, kMaxRowMegabytes);
    return false;
  }
  std::vector<char> in_class(static_cast<size_t>(n));
  for (int32_t t = 0; t < n; ++t) in_class[static_cast<size_t>(t)] = data.labels[t] == 1;
  run.hook.transaction_rows =
      permuted_class_rows(in_class, params.permutations, params.permutation_seed);
  run.hook.westfall_young = &run.westfall_young;
  return true;
}

std::optional<DirectFigures> finish_direct_run(const MinerParams& params, const MiningData& data,
                                               const SearchResult& result,
                                               const std::vector<size_t>& order,
                                               const RuleCountRecord& counts, DirectRun& run,
                                               const std::atomic<bool>* stop) {
  DirectFigures f = direct_figures(params, data, result, order, counts);
  std::vector<const WestfallYoungWorker*> workers;
  for (const WestfallYoungWorker& worker : run.hook.workers) workers.push_back(&worker);
  f.westfall_young = westfall_young_level(run.westfall_young, workers, params.max_pvalue);
  f.westfall_young.permutations = params.permutations;
  // Under top-k the minima above the bound depend on which patterns of
  // lower support the threads met; those within it do not (only patterns
  // of the support the search ended with and above reach it), so the
  // verdicts on the rules, all within it, are those of the level over
  // every pattern of support >= min_sup, which lies at the bound or above.
  f.westfall_young_capped = params.top_k > 0 && params.permutations > 0 &&
                            f.westfall_young.allowed >= 0 &&
                            f.westfall_young.quantile > result.top_k_bound;
  if (f.westfall_young_capped) {
    f.westfall_young.level = std::min(f.westfall_young.level, result.top_k_bound);
    f.westfall_young.quantile = NAN;
  }
  if (params.permutations > 0 && f.westfall_young.allowed < 0)
    report_warning(
        "%d permutations cannot resolve the level %g (J + 1 must reach 1 / level); no "
        "rule is significant by Westfall-Young",
        params.permutations, params.max_pvalue);
  if (params.permutations > 0 && f.westfall_young.allowed >= 0) {
    // The permutations were taken over the patterns of support >= min_sup
    // only; a pattern of lower support could have reached the level too.
    f.westfall_young.lower_support = lowest_support_reaching(
        run.westfall_young.min_pvalues, f.westfall_young.level, params.min_sup);
    if (f.westfall_young.lower_support > 0)
      report_warning(
          "the Westfall-Young level %g covers the patterns of support %d and more only, but "
          "patterns of support %d could reach it",
          f.westfall_young.level, params.min_sup, f.westfall_young.lower_support);
  }
  std::vector<uint64_t> by_support = std::move(run.hook.patterns_by_support);
  by_support.resize(static_cast<size_t>(f.transactions) + 1, 0);
  leave_out_below(by_support, f.min_sup);
  const CountBySupport count = [&](int32_t min_sup, std::vector<uint64_t>& patterns) {
    return count_patterns(params, data, min_sup, stop, patterns);
  };
  // The patterns tested are the family every other direct method corrects
  // for, and their supports are fixed before any label is looked at, so
  // Tarone's level over them alone keeps its error control. The lowered
  // support corrects for patterns the run never reports, at the cost of a
  // count of them all, so it is only computed when asked.
  f.tarone = tarone_level(by_support, run.westfall_young.min_pvalues, params.max_pvalue, f.min_sup);
  // Patterns of one cover are one hypothesis: the closed ones, one per cover,
  // are the family counted once.
  f.closed_by_support = std::move(run.hook.closed_by_support);
  f.closed_by_support.resize(static_cast<size_t>(f.transactions) + 1, 0);
  leave_out_below(f.closed_by_support, f.min_sup);
  // One per node of the search at most: far from any count's limit.
  f.closed_patterns_tested =
      std::accumulate(f.closed_by_support.begin(), f.closed_by_support.end(), uint64_t{0});
  f.closed_upper_bound = run.hook.closed_bounded;
  f.tarone_closed = tarone_level(f.closed_by_support, run.westfall_young.min_pvalues,
                                 params.max_pvalue, f.min_sup);
  // Under top-k the step-up would need every pattern's p-value up to the
  // level, but the search passed over patterns beyond the bound, and its
  // count of tests is chosen by the rules' p-values: no valid step.
  if (params.top_k == 0)
    f.fdr = step_up_over_patterns(run.hook.within_level, f, run.log_factorial.data());
  f.tarone_lowered_asked = params.tarone_lowered;
  if (params.tarone_lowered &&
      !search_tarone_level(by_support, run.westfall_young.min_pvalues, params.max_pvalue, f.min_sup,
                           count, f.tarone_lowered))
    return std::nullopt;
  f.patterns_by_support = std::move(by_support);
  f.space = count_search_space(
      values_per_attribute(data.item_keys, data.column_names, params.target_attribute),
      params.max_len);
  return f;
}
