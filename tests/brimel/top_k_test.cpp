// Top-k mining against brute force: every pattern enumerated, the rules
// sorted by p-value (ties by fewer items, then by item ids), the first K kept;
// on one and two threads, for every K from 1 to past the number of rules,
// with the counts those of a search whose min_sup is the support the top-k
// search ended with. And the direct run under top-k: its family-wise
// verdicts on the K rules are those of the run over every pattern.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <sstream>

#include "direct_reference.h"
#include "direct_run.h"
#include "mining_data.h"
#include "pattern_search.h"
#include "reference_miner.h"
#include "run_brimel.h"
#include "top_k.h"

namespace {

struct Case {
  unsigned seed;
  int records;
  int repeats;  // each record 1 to 1 + repeats times: many tables alike, so p-values tie
  std::string target;
  int min_sup;
};

// The reference's rules in top-k order.
std::vector<ReferenceRule> ranked(std::vector<ReferenceRule> rules) {
  auto before = [](const ReferenceRule& a, const ReferenceRule& b) {
    if (a.pvalue != b.pvalue) return a.pvalue < b.pvalue;
    const std::vector<int> x = items_of(a.items), y = items_of(b.items);
    if (x.size() != y.size()) return x.size() < y.size();
    return x < y;
  };
  std::sort(rules.begin(), rules.end(), before);
  return rules;
}

uint32_t item_set(const SearchResult& result, const MinedRule& rule) {
  uint32_t set = 0;
  for (int32_t i = 0; i < rule.length; ++i)
    set |= 1u << result.rule_items[rule.item_begin + static_cast<uint64_t>(i)];
  return set;
}

// Searches with BRIMEL_THREADS set to `threads`.
SearchResult search_on(const MiningData& data, const MinerParams& params, int threads,
                       SearchHook* hook = nullptr, const SearchOptions& options = SearchOptions{}) {
  setenv("BRIMEL_THREADS", std::to_string(threads).c_str(), 1);
  SearchResult result;
  EXPECT_TRUE(search_rules(data, params, false, result, hook, options));
  unsetenv("BRIMEL_THREADS");
  return result;
}

// Sets `tied` when two of the rules tie in p-value, `class_floor_seen` when
// the class-support floor left patterns of the support floor out.
void check_case(const Case& c, bool& tied, bool& class_floor_seen) {
  std::ostringstream trace;
  trace << "seed " << c.seed << " records " << c.records << " repeats " << c.repeats << " target '"
        << c.target << "' min_sup " << c.min_sup;
  SCOPED_TRACE(trace.str());
  ScratchDir scratch;
  GeneratedData data = generate_data(c.seed, c.records, 7, 2);
  repeat_records(data, c.seed, c.repeats);
  write_generated_data(data, "d");
  MinerSettings settings;
  settings.target_value = c.target;
  settings.min_sup = c.min_sup;
  write_file("orsk.para", parameter_text("d", "o", settings));
  MinerParams params;
  MiningData mining;
  ASSERT_TRUE(read_miner_params("orsk.para", params));
  ASSERT_TRUE(read_mining_data(params, mining));
  const ReferenceResult every = mine_by_brute_force(data, settings);
  const std::vector<ReferenceRule> expected = ranked(every.rules);
  EXPECT_GE(expected.size(), 4u);
  for (size_t r = 1; r < expected.size(); ++r) tied |= expected[r].pvalue == expected[r - 1].pvalue;

  const int n = static_cast<int>(every.transactions.size());
  const LogFactorialTable lf = build_log_factorial_table(n);
  const std::vector<double> psi = min_attainable_pvalues(lf.data(), n, every.positives);
  for (size_t k = 1; k <= expected.size() + 2; ++k) {
    SCOPED_TRACE("K " + std::to_string(k));
    params.top_k = static_cast<int32_t>(k);
    const SearchResult one = search_on(mining, params, 1);
    const SearchResult two = search_on(mining, params, 2);
    const size_t kept = std::min(k, expected.size());
    ASSERT_EQ(one.rules.size(), kept);
    ASSERT_EQ(two.rules.size(), kept);
    // The first K rules, whichever order the search found them in.
    std::vector<uint32_t> found_one, found_two, wanted;
    for (const MinedRule& rule : one.rules) found_one.push_back(item_set(one, rule));
    for (const MinedRule& rule : two.rules) found_two.push_back(item_set(two, rule));
    for (size_t r = 0; r < kept; ++r) wanted.push_back(expected[r].items);
    std::sort(wanted.begin(), wanted.end());
    EXPECT_EQ(found_one, found_two);
    std::sort(found_one.begin(), found_one.end());
    EXPECT_EQ(found_one, wanted);
    for (const MinedRule& rule : one.rules) {
      const auto ref = std::find_if(expected.begin(), expected.end(), [&](const ReferenceRule& e) {
        return e.items == item_set(one, rule);
      });
      ASSERT_NE(ref, expected.end());
      EXPECT_EQ(rule.support, ref->support);
      EXPECT_EQ(rule.pvalue, ref->pvalue);
      EXPECT_EQ(rule.max_local_pvalue, ref->max_local_pvalue);
    }
    // The bound: the K-th p-value, or the level when fewer rules reach it;
    // the support: the lowest at or above min_sup whose psi is within it.
    const double bound = k <= expected.size() ? expected[k - 1].pvalue : settings.max_pvalue;
    EXPECT_EQ(one.top_k_bound, bound);
    EXPECT_EQ(two.top_k_bound, bound);
    int floor = c.min_sup;
    while (floor <= n && !(psi[static_cast<size_t>(floor)] <= bound)) ++floor;
    EXPECT_EQ(one.min_sup, floor);
    EXPECT_EQ(two.min_sup, floor);
    // The counts: the patterns of that support and more with at least as
    // many records in the class as the search needed from its start, where
    // C(n, k) / C(N, k) of the class support k can reach the bound.
    const int class_floor = one.min_class_support;
    EXPECT_EQ(two.min_class_support, class_floor);
    auto all_in_class = [&](int k) {
      return std::exp(std::lgamma(every.positives + 1.0) - std::lgamma(every.positives - k + 1.0) -
                      std::lgamma(n + 1.0) + std::lgamma(n - k + 1.0));
    };
    if (class_floor > 0) {
      EXPECT_GT(all_in_class(class_floor - 1), bound * (1 - 1e-6));
    }
    uint64_t tested = 0, passing = 0;
    for (const ReferencePattern& p : enumerate_patterns(every, floor, 100)) {
      if (p.class_support < class_floor) {
        class_floor_seen = true;
        continue;
      }
      ++tested;
      passing += fisher_exact_pvalue_from(lf.data(), n, p.support, every.positives,
                                          p.class_support) <= settings.max_pvalue;
    }
    EXPECT_EQ(one.patterns_tested, tested);
    EXPECT_EQ(two.patterns_tested, tested);
    EXPECT_EQ(one.passing_pvalue, passing);
    EXPECT_EQ(two.passing_pvalue, passing);
    EXPECT_GE(one.patterns_visited, one.patterns_tested);
    // Packed at every node with children, or never: the children passed
    // over for too few records in the class leave no gap among the covers.
    for (const size_t ratio : {size_t{0}, SIZE_MAX}) {
      SCOPED_TRACE("packing ratio " + std::to_string(ratio));
      const SearchResult packed = search_on(mining, params, 2, nullptr, SearchOptions{ratio});
      std::vector<uint32_t> found_packed;
      for (const MinedRule& rule : packed.rules) found_packed.push_back(item_set(packed, rule));
      std::sort(found_packed.begin(), found_packed.end());
      EXPECT_EQ(found_packed, wanted);
      EXPECT_EQ(packed.top_k_bound, bound);
      EXPECT_EQ(packed.min_sup, floor);
      EXPECT_EQ(packed.patterns_tested, tested);
      EXPECT_EQ(packed.passing_pvalue, passing);
    }
  }
  // Without top-k, every rule and the counts at min_sup.
  params.top_k = 0;
  const SearchResult all = search_on(mining, params, 2);
  EXPECT_EQ(all.rules.size(), expected.size());
  EXPECT_EQ(all.min_sup, c.min_sup);
  EXPECT_EQ(all.patterns_tested, every.patterns_tested);
  EXPECT_EQ(all.top_k_bound, 0.0);
}

TEST(TopK, TheFirstKRulesOfBruteForceOnOneAndTwoThreads) {
  bool tied = false;
  bool class_floor_seen = false;
  for (const Case& c : {Case{3, 120, 0, "c1", 1}, Case{11, 90, 2, "c1", 1}, Case{23, 150, 0, "", 2},
                        Case{31, 60, 3, "c1", 4}, Case{7, 50, 3, "c1", 2}})
    check_case(c, tied, class_floor_seen);
  EXPECT_TRUE(tied) << "no two rules tie: the tie order is not tried";
  EXPECT_TRUE(class_floor_seen);
}

TEST(TopK, TheSupportFloorIsTheLowestWhosePsiIsWithinTheBound) {
  const LogFactorialTable lf = build_log_factorial_table(40);
  const std::vector<double> psi = min_attainable_pvalues(lf.data(), 40, 10);
  for (const double bound : {1.0, 0.05, 1e-3, 1e-6, 1e-9, 1e-12}) {
    for (const int32_t min_sup : {1, 5, 20}) {
      const int32_t floor = support_floor(psi, bound, min_sup);
      ASSERT_GE(floor, min_sup);
      for (int32_t s = min_sup; s < floor; ++s) EXPECT_GT(psi[static_cast<size_t>(s)], bound);
      if (floor <= 40) {
        EXPECT_LE(psi[static_cast<size_t>(floor)], bound);
      }
    }
  }
  // No support can reach a bound below every psi.
  EXPECT_EQ(support_floor(psi, 0.0, 1), 41);
}

// The class-support floor's bound: a table more confident than the class's
// share, with k of its records in the class, has a p-value of at least
// C(n, k) / C(N, k), checked for every such table of up to 90 records.
TEST(TopK, NoRuleWithKRecordsInTheClassBeatsTheChanceThatKDrawnAllLieInIt) {
  for (int total = 2; total <= 90; ++total) {
    const LogFactorialTable lf = build_log_factorial_table(total);
    for (int positives = 1; positives < total; ++positives)
      for (int support = 1; support <= total; ++support)
        for (int k = 1; k <= std::min(support, positives); ++k) {
          if (!(static_cast<double>(k) / support > static_cast<double>(positives) / total))
            continue;
          const double all_in_class =
              std::pow(10.0, lf[positives] - lf[positives - k] - lf[total] + lf[total - k]);
          ASSERT_GE(fisher_exact_pvalue_from(lf.data(), total, support, positives, k),
                    all_in_class * (1 - 1e-9))
              << total << " " << positives << " " << support << " " << k;
        }
  }
}

// Direct adjustment under top-k on the same data: every family-wise method
// valid under top-k judges each of the K rules as the run over every
// pattern of support >= min_sup does (Bonferroni's own level is over fewer
// patterns, but never keeps a rule Tarone's over them does not); the FDR
// step is left out.
TEST(TopK, DirectVerdictsOnTheKRulesAreThoseOverEveryPattern) {
  ScratchDir scratch;
  bool capped_seen = false;
  bool beyond_bound_seen = false;
  for (const unsigned seed : {5u, 17u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    GeneratedData data = generate_data(seed, 400, 8, 2, 1);
    write_generated_data(data, "d");
    MinerSettings settings;
    settings.target_value = "c1";
    settings.min_sup = 1;
    write_file("orsk.para", parameter_text("d", "o", settings));
    MinerParams params;
    MiningData mining;
    ASSERT_TRUE(read_miner_params("orsk.para", params));
    ASSERT_TRUE(read_mining_data(params, mining));
    params.direct = true;
    params.permutations = 200;
    const std::optional<DirectFigures> full = run_direct_in_memory(params, mining, nullptr);
    ASSERT_TRUE(full.has_value());
    for (const int32_t k : {1, 4, 12}) {
      SCOPED_TRACE("K " + std::to_string(k));
      params.top_k = k;
      for (const int threads : {1, 2}) {
        setenv("BRIMEL_THREADS", std::to_string(threads).c_str(), 1);
        const std::optional<DirectFigures> top = run_direct_in_memory(params, mining, nullptr);
        unsetenv("BRIMEL_THREADS");
        ASSERT_TRUE(top.has_value());
        ASSERT_EQ(top->rules.size(), std::min(static_cast<size_t>(k), full->rules.size()));
        capped_seen |= top->westfall_young_capped;
        EXPECT_EQ(top->westfall_young_capped, full->westfall_young.level > top->top_k_bound);
        beyond_bound_seen |= top->tarone.level > top->top_k_bound;
        EXPECT_EQ(top->min_sup_given, 1);
        EXPECT_TRUE(std::isnan(method_summaries(*top)[6].level));  // fdr
        const std::vector<RuleColumn> columns = direct_rule_columns();
        auto column = [&](const std::string& name) {
          return static_cast<size_t>(
              std::find_if(columns.begin(), columns.end(),
                           [&](const RuleColumn& c) { return c.name == name; }) -
              columns.begin());
        };
        for (size_t r = 0; r < top->rules.size(); ++r) {
          const auto in_full = std::find_if(
              full->rules.begin(), full->rules.end(),
              [&](const DirectRule& rule) { return rule.items == top->rules[r].items; });
          ASSERT_NE(in_full, full->rules.end());
          const std::vector<RuleCell> mine = direct_rule_cells(*top, r);
          const std::vector<RuleCell> theirs =
              direct_rule_cells(*full, static_cast<size_t>(in_full - full->rules.begin()));
          auto verdict = [&](const std::vector<RuleCell>& cells, const char* name) {
            return std::get<bool>(cells[column(name)]);
          };
          for (const char* same : {"tarone", "tarone_closed", "westfall_young", "search_space",
                                   "layered", "search_space_productive", "layered_productive"})
            EXPECT_EQ(verdict(mine, same), verdict(theirs, same)) << same << " rule " << r;
          // Bonferroni over the patterns tested is never milder than Tarone
          // over them, whose verdicts on the rules are those over every pattern.
          for (const char* within : {"bonferroni_tested", "bonferroni_closed"})
            EXPECT_TRUE(!verdict(mine, within) || verdict(theirs, "tarone")) << within << r;
          // The local p-values may lie beyond the bound: Westfall-Young's
          // level cut to the bound judges them more strictly, Tarone's over
          // fewer patterns more mildly.
          EXPECT_TRUE(!verdict(mine, "westfall_young_productive") ||
                      verdict(theirs, "westfall_young_productive"));
          EXPECT_TRUE(!verdict(theirs, "tarone_productive") || verdict(mine, "tarone_productive"));
          EXPECT_FALSE(std::get<bool>(mine[column("fdr")]));
        }
      }
    }
  }
  EXPECT_TRUE(capped_seen);
  EXPECT_TRUE(beyond_bound_seen);
}

}  // namespace
