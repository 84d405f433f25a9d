// The search on each layout of covers it can choose, forced by its packing
// ratio, and with its subtrees counted from tables of every size or never,
// on one thread and on several, against the brute-force reference: the same
// rules with the same supports and p-values, and the same counts, whichever
// way it ran, counting only or not, and counting closed patterns (one per
// distinct cover) and the patterns within the level by table.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "direct_reference.h"
#include "mining_data.h"
#include "pattern_search.h"
#include "reference_miner.h"
#include "subset_counts.h"

namespace {

struct Case {
  unsigned seed;
  int records;
  int wider;    // more values per attribute
  int repeats;  // each record appears 1 to 1 + repeats times: merged records weigh more
  MinerSettings settings;
};

// Packing at every node that has children, at the default ratio, and never;
// tables of a node's last children never, of at most 5, of the default
// most and of the most there can be.
constexpr size_t kRatios[] = {0, SearchOptions{}.packing_ratio, SIZE_MAX};
constexpr int kMostTabled[] = {0, 5, SearchOptions{}.most_tabled, kMaxSubsetItems};

std::vector<SearchOptions> every_way() {
  std::vector<SearchOptions> ways;
  for (const size_t ratio : kRatios)
    for (const int most : kMostTabled) ways.push_back(SearchOptions{ratio, most});
  return ways;
}

// The search on `data` every way, on one thread and on three, against the
// brute-force reference.
void check_every_way(const GeneratedData& data, const MinerSettings& settings) {
  ScratchDir scratch;
  write_generated_data(data, "d");
  write_file("orsk.para", parameter_text("d", "o", settings));
  MinerParams params;
  MiningData mining;
  ASSERT_TRUE(read_miner_params("orsk.para", params));
  ASSERT_TRUE(read_mining_data(params, mining));
  const ReferenceResult ref = mine_by_brute_force(data, settings);
  ASSERT_FALSE(ref.rules.empty());

  std::map<uint32_t, const ReferenceRule*> expected;
  for (const ReferenceRule& rule : ref.rules) expected[rule.items] = &rule;
  // The distinct covers by support, and the patterns within the level by table.
  const int n = static_cast<int>(ref.transactions.size());
  const LogFactorialTable lf = build_log_factorial_table(n);
  std::vector<uint64_t> closed(static_cast<size_t>(n) + 1, 0);
  std::set<std::vector<uint64_t>> covers;
  std::map<std::pair<int, int>, uint64_t> within_level;
  for (const ReferencePattern& p : enumerate_patterns(ref, settings.min_sup, settings.max_len)) {
    if (covers.insert(p.cover).second) ++closed[static_cast<size_t>(p.support)];
    if (fisher_exact_pvalue_from(lf.data(), n, p.support, ref.positives, p.class_support) <=
        settings.max_pvalue)
      ++within_level[{p.support, p.class_support}];
  }
  std::vector<uint64_t> first_by_support;
  for (const char* threads : {"1", "3"})
    for (const SearchOptions& way : every_way()) {
      SCOPED_TRACE(std::string(threads) + " threads, packing ratio " +
                   std::to_string(way.packing_ratio) + ", tables of at most " +
                   std::to_string(way.most_tabled));
      setenv("BRIMEL_THREADS", threads, 1);
      // Counting only, the patterns by support are the same every way.
      SearchHook counting;
      counting.count_only = true;
      SearchResult counted;
      const bool counted_ok = search_rules(mining, params, false, counted, &counting, way);
      SearchHook closing;
      closing.count_closed = true;
      SearchResult closed_result;
      const bool closed_ok = search_rules(mining, params, false, closed_result, &closing, way);
      SearchResult result;
      const bool ok = search_rules(mining, params, false, result, nullptr, way);
      unsetenv("BRIMEL_THREADS");
      ASSERT_TRUE(counted_ok);
      ASSERT_TRUE(closed_ok);
      ASSERT_TRUE(ok);
      EXPECT_FALSE(closing.closed_bounded);
      EXPECT_EQ(closing.closed_by_support, closed);
      std::map<std::pair<int, int>, uint64_t> tallied;
      for (const TableCount& table : closing.within_level)
        tallied[{table.support, table.class_support}] = table.patterns;
      EXPECT_EQ(tallied, within_level);
      EXPECT_EQ(closed_result.rules.size(), ref.rules.size());
      EXPECT_TRUE(counted.rules.empty());
      uint64_t counted_patterns = 0;
      for (const uint64_t count : counting.patterns_by_support) counted_patterns += count;
      EXPECT_EQ(counted_patterns, ref.patterns_tested);
      if (first_by_support.empty()) first_by_support = counting.patterns_by_support;
      EXPECT_EQ(counting.patterns_by_support, first_by_support);

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

// The most items in a pattern of support at least min_sup, so that a case
// can show it searches as deep as it says.
int longest_frequent_pattern(const GeneratedData& data, const MinerSettings& settings) {
  int longest = 0;
  for (const ReferencePattern& p :
       enumerate_patterns(mine_by_brute_force(data, settings), settings.min_sup, settings.max_len))
    longest = std::max(longest, std::popcount(p.items));
  return longest;
}

void check_every_layout(const Case& c) {
  std::ostringstream trace;
  trace << "seed " << c.seed << " records " << c.records << " wider " << c.wider << " repeats "
        << c.repeats << " min_sup " << c.settings.min_sup << " target '" << c.settings.target_value
        << "'";
  SCOPED_TRACE(trace.str());
  GeneratedData data = generate_data(c.seed, c.records, 7, 2, c.wider);
  repeat_records(data, c.seed, c.repeats);
  check_every_way(data, c.settings);
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

TEST(PatternSearch, EveryWayMatchesBruteForceInDeepNarrowSearches) {
  // Items in nearly every record, each missing from a few records of its
  // own: patterns of many items, each node's cover only a little smaller
  // than its parent's, and few candidates per node deep down.
  for (const int min_sup : {300, 330}) {
    std::mt19937 random(static_cast<unsigned>(min_sup));
    GeneratedData data = class_and_attributes(16);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int r = 0; r < 400; ++r) {
      std::vector<std::string> fields(17, "?");
      for (int a = 1; a <= 16; ++a)
        if (unit(random) < 0.985 - 0.002 * a) fields[a] = "y";
      fields[0] = fields[3] == "?" || unit(random) < 0.3 ? "c1" : "c0";
      data.records.push_back(fields);
    }
    MinerSettings settings;
    settings.target_value = "c1";
    settings.min_sup = min_sup;
    settings.max_pvalue = 1.0;
    settings.max_local_pvalue = 1.0;
    SCOPED_TRACE("min_sup " + std::to_string(min_sup));
    EXPECT_GE(longest_frequent_pattern(data, settings), 8);
    check_every_way(data, settings);
  }
}

TEST(PatternSearch, EveryWayMatchesBruteForceWithRecordsMergedWithLargeWeights) {
  // A few dozen records, each seen up to 4,000 times: merged records of
  // weights needing up to twelve bit planes, and counts in tables summed
  // from them.
  Case c{91, 40, 1, 4000, MinerSettings{}};
  c.settings.target_value = "c1";
  c.settings.min_sup = 9000;
  c.settings.max_pvalue = 1.0;
  c.settings.max_local_pvalue = 1.0;
  check_every_layout(c);
}

TEST(PatternSearch, EveryWayMatchesBruteForceWhenTheSearchEndsAtTheItems) {
  // Items of two values drawn apart, in half of the records each, at a
  // minimum support of two fifths: every item is frequent, no pair is, so
  // no node lies below the items.
  std::mt19937 random(5);
  GeneratedData data = class_and_attributes(8);
  for (int r = 0; r < 300; ++r) {
    std::vector<std::string> fields(9);
    for (int a = 1; a <= 8; ++a) fields[a] = random() % 2 == 0 ? "v0" : "v1";
    fields[0] = fields[1] == "v0" && random() % 4 != 0 ? "c1" : "c0";
    data.records.push_back(fields);
  }
  MinerSettings settings;
  settings.target_value = "c1";
  settings.min_sup = 120;
  ASSERT_EQ(longest_frequent_pattern(data, settings), 1);
  check_every_way(data, settings);
}

}  // namespace
