// The permutations, the bit-sliced counts and the Westfall-Young level
// against brute force: every permutation of the product's generator applied
// to every pattern of small generated data sets, one at a time.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <thread>

#include "direct_reference.h"
#include "permuted_counts.h"
#include "permuted_labels.h"
#include "stats/fisher.h"
#include "westfall_young.h"

namespace {

// The null study's data sets: small, so that 2 x 2000 of them take seconds.
constexpr int kNullDataSets = 2000;
constexpr int kNullRecords = 120;
constexpr int kNullAttributes = 6;
constexpr int kNullMinSup = 6;

TEST(PermutedLabels, EveryPermutationKeepsTheClassSizeAndTheSeedFixesThem) {
  for (const int positives : {0, 3, 10, 17, 20}) {
    std::vector<char> in_class(20, 0);
    std::fill(in_class.begin(), in_class.begin() + positives, 1);
    const RecordRows rows = permuted_class_rows(in_class, 130, 7);
    ASSERT_EQ(rows.words, 8u);
    for (int32_t j = 0; j < 130; ++j) {
      int ones = 0;
      for (size_t t = 0; t < 20; ++t) ones += label_under(rows, t, j);
      EXPECT_EQ(ones, positives) << j;
    }
    for (size_t t = 0; t < 20; ++t)  // no bits beyond the permutations
      EXPECT_EQ(rows.units[t * rows.words + 2] >> 2, 0u);
    EXPECT_EQ(permuted_class_rows(in_class, 130, 7).units, rows.units);
    if (positives % 20 != 0) {
      EXPECT_NE(permuted_class_rows(in_class, 130, 8).units, rows.units);
    }
  }
  // The standard fixes the generator's output, and the draws and the
  // shuffle are the product's own: these bits are the same on every machine.
  std::vector<char> in_class(10, 0);
  in_class[0] = in_class[1] = 1;
  const RecordRows rows = permuted_class_rows(in_class, 4, 42);
  std::string text;
  for (int32_t j = 0; j < 4; ++j) {
    for (size_t t = 0; t < 10; ++t) text += label_under(rows, t, j) ? '1' : '0';
    text += ' ';
  }
  EXPECT_EQ(text, "0000001100 1010000000 0010000001 0000110000 ");
}

TEST(PermutedLabels, EveryClassSetIsEquallyLikely) {
  // 2 of 6 records (and 4 of 6, through the other shuffle): 15 sets, each
  // expected 1000 times; a chi-square of 14 degrees beyond 45 has a chance
  // below 1e-4 (and the seed is fixed).
  for (const int positives : {2, 4}) {
    std::vector<char> in_class(6, 0);
    std::fill(in_class.begin(), in_class.begin() + positives, 1);
    const RecordRows rows = permuted_class_rows(in_class, 15000, 3);
    std::map<int, int> seen;
    for (int32_t j = 0; j < 15000; ++j) {
      int set = 0;
      for (size_t t = 0; t < 6; ++t) set |= label_under(rows, t, j) << t;
      ++seen[set];
    }
    EXPECT_EQ(seen.size(), 15u);
    double chi_square = 0;
    for (const auto& [set, count] : seen)
      chi_square += (count - 1000.0) * (count - 1000.0) / 1000.0;
    EXPECT_LT(chi_square, 45.0) << positives;
  }
}

TEST(PermutedLabels, DrawsBelowABoundAreUnbiased) {
  // Below 3 * 2^62, a draw modulo the bound would fall below 2^62 half the
  // time instead of a third.
  std::mt19937_64 random(11);
  const uint64_t bound = 3 * (uint64_t{1} << 62);
  int low = 0;
  for (int i = 0; i < 60000; ++i) {
    const uint64_t x = uniform_below(random, bound);
    ASSERT_LT(x, bound);
    low += x < (uint64_t{1} << 62);
  }
  EXPECT_NEAR(low / 60000.0, 1.0 / 3, 0.01);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(uniform_below(random, 1), 0u);
  int counts[7] = {};
  for (int i = 0; i < 70000; ++i) ++counts[uniform_below(random, 7)];
  for (const int count : counts) EXPECT_NEAR(count, 10000, 400);
}

// Records of weight 1 to 40 in random groups, and covers over them.
struct RandomRows {
  RecordRows parts;
  RecordRows rows;
  std::vector<int32_t> record_of_part;
};

RandomRows random_rows(unsigned seed, int transactions, int records, int32_t permutations) {
  std::mt19937 random(seed);
  std::vector<char> in_class(static_cast<size_t>(transactions));
  for (char& c : in_class) c = random() % 3 == 0;
  RandomRows out;
  out.parts = permuted_class_rows(in_class, permutations, seed);
  for (int t = 0; t < transactions; ++t)
    out.record_of_part.push_back(random() % 10 == 0 ? -1
                                                    : static_cast<int32_t>(random() % records));
  out.rows = merge_rows(out.parts, out.record_of_part, records);
  return out;
}

// The count under permutation j of the records in `cover`, transaction by transaction.
int32_t brute_count(const RandomRows& r, const std::vector<uint64_t>& cover, int32_t j) {
  int32_t count = 0;
  for (size_t t = 0; t < r.record_of_part.size(); ++t) {
    const int32_t record = r.record_of_part[t];
    if (record >= 0 && (cover[static_cast<size_t>(record) / 64] >> (record % 64) & 1))
      count += label_under(r.parts, t, j);
  }
  return count;
}

TEST(PermutedCounts, CoversChildrenAndFlagsAgreeWithCountingEachTransaction) {
  std::mt19937 random(5);
  for (int round = 0; round < 60; ++round) {
    const int records = 1 + static_cast<int>(random() % 300);
    const int32_t permutations = 1 + static_cast<int32_t>(random() % 700);
    const RandomRows r =
        random_rows(round, 1 + static_cast<int>(random() % 3000), records, permutations);
    const size_t words = (static_cast<size_t>(records) + 63) / 64;
    std::vector<uint64_t> parent(words, 0), child(words, 0);
    int32_t parent_weight = 0, child_weight = 0;
    const int keep = static_cast<int>(random() % 100);
    for (int record = 0; record < records; ++record) {
      if (random() % 4 == 0) continue;
      parent[record / 64] |= uint64_t{1} << (record % 64);
      parent_weight += r.rows.weights[record];
      if (static_cast<int>(random() % 100) >= keep) continue;
      child[record / 64] |= uint64_t{1} << (record % 64);
      child_weight += r.rows.weights[record];
    }
    // Half the rounds read only the parent's non-zero words; the others'
    // contents must not matter.
    std::vector<uint32_t> listed;
    for (size_t w = 0; w < words; ++w)
      if (parent[w] != 0) listed.push_back(static_cast<uint32_t>(w));
    std::vector<uint64_t> garbage_child = child;
    CoverWords parent_cover{parent.data(), words};
    if (round % 2 == 1) {
      parent_cover.listed = listed.data();
      parent_cover.listed_count = listed.size();
      for (size_t w = 0; w < words; ++w)
        if (parent[w] == 0) garbage_child[w] = ~uint64_t{0};
    }
    CountingScratch scratch;
    PermutedCounts parent_counts, child_counts;
    count_cover(r.rows, parent_cover, parent_weight, scratch, parent_counts);
    count_child_cover(r.rows, parent_cover, parent_counts, garbage_child.data(), child_weight,
                      scratch, child_counts);
    const int32_t low = static_cast<int32_t>(random() % (child_weight + 2));
    const int32_t high = low + static_cast<int32_t>(random() % (child_weight + 2));
    std::vector<uint64_t> flags(r.rows.words, ~uint64_t{0});
    flag_counts_outside(child_counts, r.rows, low, high, flags.data());
    SCOPED_TRACE(testing::Message()
                 << "round " << round << " records " << records << " keep " << keep);
    for (int32_t j = 0; j < permutations; ++j) {
      ASSERT_EQ(count_under(parent_counts, r.rows.words, j), brute_count(r, parent, j)) << j;
      const int32_t count = brute_count(r, child, j);
      ASSERT_EQ(count_under(child_counts, r.rows.words, j), count) << j;
      ASSERT_EQ(flags[j / 64] >> (j % 64) & 1, count < low || count > high) << j;
    }
    for (size_t bit = static_cast<size_t>(permutations); bit < r.rows.words * 64; ++bit)
      ASSERT_EQ(flags[bit / 64] >> (bit % 64) & 1, 0u);
  }
}

// The transactions merged by their items (whatever their class), as the
// search merges records: per transaction its record, and each pattern's
// cover over the records.
struct MergedData {
  std::vector<int32_t> record_of_transaction;
  std::vector<uint32_t> record_items;
};

MergedData merge_by_items(const ReferenceResult& ref) {
  MergedData merged;
  std::map<uint32_t, int32_t> record_of_items;
  for (const uint32_t items : ref.transactions) {
    const auto [found, added] =
        record_of_items.try_emplace(items, static_cast<int32_t>(merged.record_items.size()));
    if (added) merged.record_items.push_back(items);
    merged.record_of_transaction.push_back(found->second);
  }
  return merged;
}

std::vector<uint64_t> merged_cover(const MergedData& merged, uint32_t items) {
  std::vector<uint64_t> cover((merged.record_items.size() + 63) / 64, 0);
  for (size_t r = 0; r < merged.record_items.size(); ++r)
    if ((merged.record_items[r] & items) == items) cover[r / 64] |= uint64_t{1} << (r % 64);
  return cover;
}

// Feeds `patterns` to workers as the search would: each pattern's counts
// from its parent's when it has one, the patterns of the first item i to
// worker i mod `workers`, each worker on a thread of its own. With `merged`,
// covers are over the merged records.
WestfallYoungLevel engine_level(const ReferenceResult& ref,
                                const std::vector<ReferencePattern>& patterns,
                                const RecordRows& transaction_rows, const MergedData* merged,
                                int workers, double level, const double* lf) {
  const RecordRows rows = merged == nullptr
                              ? transaction_rows
                              : merge_rows(transaction_rows, merged->record_of_transaction,
                                           static_cast<int32_t>(merged->record_items.size()));
  WestfallYoungSetup setup;
  start_westfall_young(setup, lf, static_cast<int32_t>(ref.transactions.size()), ref.positives,
                       transaction_rows.permutations, level);
  std::vector<std::vector<uint64_t>> covers(patterns.size());
  for (size_t i = 0; i < patterns.size(); ++i)
    covers[i] = merged == nullptr ? patterns[i].cover : merged_cover(*merged, patterns[i].items);
  std::vector<PermutedCounts> counts(patterns.size());  // each written by one worker only
  std::vector<WestfallYoungWorker> pool(static_cast<size_t>(workers));
  auto work = [&](int w) {
    WestfallYoungWorker& worker = pool[static_cast<size_t>(w)];
    start_worker(setup, worker);
    CountingScratch scratch;
    for (size_t i = 0; i < patterns.size(); ++i) {
      const ReferencePattern& p = patterns[i];
      if (std::countr_zero(p.items) % workers != w) continue;
      const CoverWords cover{covers[i].data(), covers[i].size()};
      if (p.parent < 0) {
        count_cover(rows, cover, p.support, scratch, counts[i]);
      } else {
        const CoverWords parent{covers[p.parent].data(), covers[p.parent].size()};
        count_child_cover(rows, parent, counts[p.parent], covers[i].data(), p.support, scratch,
                          counts[i]);
      }
      take_pattern(worker, counts[i], rows);
    }
  };
  std::vector<std::thread> threads;
  for (int w = 0; w < workers; ++w) threads.emplace_back(work, w);
  for (std::thread& thread : threads) thread.join();
  std::vector<const WestfallYoungWorker*> done;
  for (const WestfallYoungWorker& worker : pool) done.push_back(&worker);
  return westfall_young_level(setup, done, level);
}

struct WestfallYoungCase {
  unsigned seed;
  bool null_data;
  int min_sup;
  int32_t permutations;
  double level;
};

TEST(WestfallYoung, LevelEqualsBruteForceForPlainAndMergedRecordsOnAnyNumberOfThreads) {
  const std::vector<WestfallYoungCase> cases = {{1, false, 3, 200, 0.05},  {2, true, 2, 300, 0.05},
                                                {3, false, 10, 100, 0.29}, {4, true, 5, 64, 0.2},
                                                {5, false, 1, 100, 0.01},  {6, true, 20, 50, 1.0},
                                                {7, true, 4, 1000, 0.05}};
  for (const WestfallYoungCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "seed " << c.seed << " min_sup " << c.min_sup);
    // Records repeat in the null data (few values), so merging matters there.
    const GeneratedData data =
        c.null_data ? generate_null_data(c.seed, 80, 5, 0.35) : generate_data(c.seed, 80, 7, 2);
    const ReferenceResult ref = mine_by_brute_force(data, MinerSettings{});
    const LogFactorialTable lf =
        build_log_factorial_table(static_cast<int>(ref.transactions.size()));
    const std::vector<ReferencePattern> patterns = enumerate_patterns(ref, c.min_sup, 100);
    const RecordRows rows = permuted_class_rows(in_class_of(ref), c.permutations, c.seed);
    const double want = brute_westfall_young(ref, patterns, rows, c.level, lf.data());
    const MergedData merged = merge_by_items(ref);
    if (c.null_data) {
      EXPECT_LT(merged.record_items.size(), ref.transactions.size() / 2);
    }
    for (const int workers : {1, 3, 4}) {
      EXPECT_EQ(engine_level(ref, patterns, rows, nullptr, workers, c.level, lf.data()).level, want)
          << "plain, workers " << workers;
      EXPECT_EQ(engine_level(ref, patterns, rows, &merged, workers, c.level, lf.data()).level, want)
          << "merged, workers " << workers;
    }
    if (c.level < 1.0) {
      EXPECT_LT(want, c.level);
    }
  }
}

TEST(WestfallYoung, AllowedMinimaReadTheLevelAsTheDecimalItWas) {
  // floor(level (J + 1)) - 1: the data's own smallest p-value counts as one
  // more permutation.
  EXPECT_EQ(allowed_minima(0.29, 99), 28);  // 0.29 * 100 is 28.999999999999996
  EXPECT_EQ(allowed_minima(0.05, 1000), 49);
  EXPECT_EQ(allowed_minima(0.05, 999), 49);
  EXPECT_EQ(allowed_minima(0.057, 1000), 56);
  EXPECT_EQ(allowed_minima(0.0499, 1000), 48);
  EXPECT_EQ(allowed_minima(1.0, 100), 100);
  EXPECT_EQ(allowed_minima(0.7, 10), 6);
  // No level below J + 1 = 1 / level; the smallest minimum alone from there.
  EXPECT_EQ(allowed_minima(0.001, 100), -1);
  EXPECT_EQ(allowed_minima(0.05, 18), -1);
  EXPECT_EQ(allowed_minima(0.05, 19), 0);
  EXPECT_EQ(allowed_minima(0.1, 9), 0);
  EXPECT_EQ(allowed_minima(0.05, 20), 0);
  EXPECT_EQ(allowed_minima(0.05, 39), 1);
  EXPECT_EQ(allowed_minima(0.05, 40), 1);
}

// On data whose class is independent of every attribute, the share of data
// sets where any tested pattern reaches the Westfall-Young level, the
// family-wise error, stays within the level (three standard errors allowed)
// at any number of permutations: 4.1% at J = 20 and 4.4% at J = 40 on these
// data sets. With the floor(level * J) minima that the rule once allowed it
// was 8.1% and 7.0%.
TEST(WestfallYoung, FamilyWiseErrorOnNullDataStaysWithinTheLevelAtTwentyAndFortyPermutations) {
  constexpr int kDataSets = kNullDataSets;
  constexpr double kLevel = 0.05;
  for (const int32_t permutations : {20, 40}) {
    int with_discovery = 0;
    for (int seed = 1; seed <= kDataSets; ++seed) {
      const GeneratedData data =
          generate_null_data(static_cast<unsigned>(seed), kNullRecords, kNullAttributes, 0.4);
      const ReferenceResult ref = mine_by_brute_force(data, MinerSettings{});
      const int n = static_cast<int>(ref.transactions.size());
      const LogFactorialTable lf = build_log_factorial_table(n);
      const std::vector<ReferencePattern> patterns = enumerate_patterns(ref, kNullMinSup, 100);
      double smallest = INFINITY;
      for (const ReferencePattern& p : patterns)
        smallest = std::min(smallest, fisher_exact_pvalue_from(lf.data(), n, p.support,
                                                               ref.positives, p.class_support));
      const RecordRows rows =
          permuted_class_rows(in_class_of(ref), permutations, static_cast<uint64_t>(seed) * 7919);
      const double level = engine_level(ref, patterns, rows, nullptr, 1, kLevel, lf.data()).level;
      with_discovery += smallest <= level;
    }
    const double bound = kDataSets * (kLevel + 3 * std::sqrt(kLevel * (1 - kLevel) / kDataSets));
    std::printf("J = %d: %d of %d null data sets with a discovery (bound %.1f)\n", permutations,
                with_discovery, kDataSets, bound);
    EXPECT_LE(with_discovery, bound) << permutations << " permutations";
  }
}

}  // namespace
