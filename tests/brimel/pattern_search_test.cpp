// The search on each layout of covers it can choose, forced by its packing
// ratio, against the brute-force reference: the same rules with the same
// supports and p-values, and the same counts, whichever layout it ran on,
// counting only or not, and counting closed patterns (one per distinct
// cover) and the patterns within the level by table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <sstream>

#include <set>

#include "direct_reference.h"
#include "mining_data.h"
#include "pattern_search.h"
#include "reference_miner.h"

namespace {

struct Case {
  unsigned seed;
  int records;
  int wider;    // more values per attribute
  int repeats;  // each record appears 1 to 1 + repeats times: merged records weigh more
  MinerSettings settings;
};

// Packing at every node that has children, at the default ratio, and never.
constexpr size_t kRatios[] = {0, SearchOptions{}.packing_ratio, SIZE_MAX};

void check_every_layout(const Case& c) {
  std::ostringstream trace;
  trace << "seed " << c.seed << " records " << c.records << " wider " << c.wider << " repeats "
        << c.repeats << " min_sup " << c.settings.min_sup << " target '" << c.settings.target_value
        << "'";
  SCOPED_TRACE(trace.str());
  ScratchDir scratch;
  GeneratedData data = generate_data(c.seed, c.records, 7, 2, c.wider);
  repeat_records(data, c.seed, c.repeats);
  write_generated_data(data, "d");
  write_file("orsk.para", parameter_text("d", "o", c.settings));
  MinerParams params;
  MiningData mining;
  ASSERT_TRUE(read_miner_params("orsk.para", params));
  ASSERT_TRUE(read_mining_data(params, mining));
  const ReferenceResult ref = mine_by_brute_force(data, c.settings);
  ASSERT_FALSE(ref.rules.empty());

  std::map<uint32_t, const ReferenceRule*> expected;
  for (const ReferenceRule& rule : ref.rules) expected[rule.items] = &rule;
  // The distinct covers by support, and the patterns within the level by table.
  const int n = static_cast<int>(ref.transactions.size());
  const LogFactorialTable lf = build_log_factorial_table(n);
  std::vector<uint64_t> closed(static_cast<size_t>(n) + 1, 0);
  std::set<std::vector<uint64_t>> covers;
  std::map<std::pair<int, int>, uint64_t> within_level;
  for (const ReferencePattern& p : enumerate_patterns(ref, c.settings.min_sup, 100)) {
    if (covers.insert(p.cover).second) ++closed[static_cast<size_t>(p.support)];
    if (fisher_exact_pvalue_from(lf.data(), n, p.support, ref.positives, p.class_support) <=
        c.settings.max_pvalue)
      ++within_level[{p.support, p.class_support}];
  }
  std::vector<uint64_t> first_by_support;
  for (const size_t ratio : kRatios) {
    SCOPED_TRACE("packing ratio " + std::to_string(ratio));
    // Counting only, the patterns by support are the same on every layout.
    SearchHook counting;
    counting.count_only = true;
    SearchResult counted;
    ASSERT_TRUE(search_rules(mining, params, false, counted, &counting, SearchOptions{ratio}));
    EXPECT_TRUE(counted.rules.empty());
    uint64_t counted_patterns = 0;
    for (const uint64_t count : counting.patterns_by_support) counted_patterns += count;
    EXPECT_EQ(counted_patterns, ref.patterns_tested);
    if (first_by_support.empty()) first_by_support = counting.patterns_by_support;
    EXPECT_EQ(counting.patterns_by_support, first_by_support);

    SearchHook closing;
    closing.count_closed = true;
    SearchResult closed_result;
    ASSERT_TRUE(search_rules(mining, params, false, closed_result, &closing, SearchOptions{ratio}));
    EXPECT_FALSE(closing.closed_bounded);
    EXPECT_EQ(closing.closed_by_support, closed);
    std::map<std::pair<int, int>, uint64_t> tallied;
    for (const TableCount& table : closing.within_level)
      tallied[{table.support, table.class_support}] = table.patterns;
    EXPECT_EQ(tallied, within_level);
    EXPECT_EQ(closed_result.rules.size(), ref.rules.size());

    SearchResult result;
    ASSERT_TRUE(search_rules(mining, params, false, result, nullptr, SearchOptions{ratio}));
    EXPECT_EQ(result.patterns_tested, ref.patterns_tested);
    EXPECT_EQ(result.passing_pvalue, ref.passing_pvalue);
    ASSERT_EQ(result.rules.size(), ref.rules.size());
    for (const MinedRule& rule : result.rules) {
      uint32_t items = 0;
      for (int i = 0; i < rule.length; ++i) items |= 1u << result.rule_items[rule.item_begin + i];
      ASSERT_TRUE(expected.count(items)) << "unexpected rule of " << rule.length << " items";
      const ReferenceRule& want = *expected[items];
      EXPECT_EQ(rule.support, want.support);
      EXPECT_EQ(rule.class_support, want.class_support);
      EXPECT_EQ(rule.pvalue, want.pvalue);
      EXPECT_EQ(rule.max_local_pvalue, want.max_local_pvalue);
    }
  }
}

TEST(PatternSearch, EveryLayoutMatchesBruteForce) {
  for (unsigned seed = 1; seed <= 3; ++seed) {
    Case c{seed, 150 + 50 * static_cast<int>(seed), static_cast<int>(seed % 2), 0, MinerSettings{}};
    c.settings.target_value = seed == 2 ? "" : "c1";
    c.settings.min_sup = 2 + static_cast<int>(seed);
    c.settings.max_pvalue = 0.5;
    c.settings.max_local_pvalue = 0.5;
    check_every_layout(c);
  }
}

TEST(PatternSearch, EveryLayoutMatchesBruteForceWhereCoversSpanManyWords) {
  // Deep covers are sparse in the words of the item's records: these are the
  // ones packed at the default ratio, read over word lists first.
  Case c{13, 4000, 1, 0, MinerSettings{}};
  c.settings.min_sup = 4;
  c.settings.max_pvalue = 1.0;
  c.settings.max_local_pvalue = 1.0;
  check_every_layout(c);
}

TEST(PatternSearch, EveryLayoutMatchesBruteForceWithWeightedRecords) {
  // Merged records of many weights: packed layouts take the bit planes of
  // heavy words along, from words of differing plane counts.
  for (const int repeats : {3, 40, 300}) {
    Case c{static_cast<unsigned>(50 + repeats), 160, 0, repeats, MinerSettings{}};
    c.settings.target_value = "c1";
    c.settings.min_sup = 3 + repeats;
    c.settings.max_pvalue = 1.0;
    c.settings.max_local_pvalue = 0.3;
    check_every_layout(c);
  }
}

}  // namespace
