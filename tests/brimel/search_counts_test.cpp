// The counts the search reads instead of computing: the runs of class
// supports that may generalise a rule, against the floor itself for every
// table; and the counts of every set of a few items, from bitsets and from
// records, against counting the records one by one, weights and classes
// included; and the whole data's covers on any number of threads, each
// distinct record once with the weight of its transactions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <random>

#include "fisher_verdict.h"
#include "generaliser_bounds.h"
#include "item_covers.h"
#include "stats/fisher.h"
#include "subset_counts.h"

namespace {

TEST(GeneraliserBounds, AgreeWithTheFloorForEverySupportAndClassSupport) {
  const int n = 1200;
  const LogFactorialTable lf = build_log_factorial_table(n);
  for (const int min_sup : {1, 2, 7, 40, 300, 1199})
    for (const double local : {1e-12, 1e-3, 0.05, 0.5, 1.0}) {
      GeneraliserBounds bounds;
      make_generaliser_bounds(lf.data(), n, min_sup, std::log10(local), bounds);
      for (int s = 0; s <= n; ++s)
        for (int k = 0; k <= s; ++k) {
          const bool want =
              log10_local_pvalue_floor(lf.data(), s, k, min_sup) <= std::log10(local) + 1e-9;
          ASSERT_EQ(may_generalise(bounds, s, k), want)
              << "s " << s << " k " << k << " min_sup " << min_sup << " local " << local;
        }
    }
}

TEST(GeneraliserBounds, LargeSupportsAskTheFloorItself) {
  const int32_t n = kLargestBoundedSupport + 50;
  const LogFactorialTable lf = build_log_factorial_table(n);
  GeneraliserBounds bounds;
  make_generaliser_bounds(lf.data(), n, 1000, std::log10(0.05), bounds);
  EXPECT_EQ(bounds.runs.size(), static_cast<size_t>(kLargestBoundedSupport - 1000));
  for (const int32_t s : {kLargestBoundedSupport - 1, kLargestBoundedSupport, n})
    for (const int32_t k : {0, 1, 2, 900, 999, 1000, s / 2, s - 1, s}) {
      const bool want = log10_local_pvalue_floor(lf.data(), s, k, 1000) <= std::log10(0.05) + 1e-9;
      EXPECT_EQ(may_generalise(bounds, s, k), want) << "s " << s << " k " << k;
    }
}

// Records of up to `items` items (as ranks 0 ..) with random weights, some
// heavy, in both classes.
RecordSet random_records(std::mt19937& random, int records, int items, int heaviest) {
  RecordSet set;
  std::uniform_int_distribution<int> weight(1, heaviest);
  for (int r = 0; r < records; ++r) {
    for (int i = items - 1; i >= 0; --i)
      if (random() % 3 != 0) set.ranks.push_back(i);
    set.offsets.push_back(static_cast<int64_t>(set.ranks.size()));
    set.weights.push_back(random() % 4 == 0 ? weight(random) : 1);
    set.positive.push_back(random() % 2 == 0);
  }
  return set;
}

// The weight and positive weight of the records holding every item of `set`.
CoverCounts count_one_by_one(const RecordSet& records, const std::vector<int32_t>& item_of_rank,
                             uint32_t set) {
  CoverCounts counts;
  for (size_t r = 0; r + 1 < records.offsets.size(); ++r) {
    uint32_t held = 0;
    for (int64_t k = records.offsets[r]; k < records.offsets[r + 1]; ++k)
      if (item_of_rank[records.ranks[k]] >= 0) held |= 1u << item_of_rank[records.ranks[k]];
    if ((held & set) != set) continue;
    counts.support += records.weights[r];
    counts.class_support += records.positive[r] ? records.weights[r] : 0;
  }
  return counts;
}

TEST(SubsetCounts, EverySetFromCoversAndFromRecordsMatchesCountingEachRecord) {
  std::mt19937 random(7);
  for (const int items : {1, 2, 5, 8, 9, 13, kMaxSubsetItems})
    for (const int heaviest : {1, 3, 1000}) {
      SCOPED_TRACE("items " + std::to_string(items) + " heaviest " + std::to_string(heaviest));
      // Two more ranks than items, which no set counts.
      const int ranks = items + 2;
      const RecordSet records = random_records(random, 300, ranks, heaviest);
      std::vector<int32_t> slot_of_rank(static_cast<size_t>(ranks));
      std::iota(slot_of_rank.begin(), slot_of_rank.end(), 0);
      ItemCovers covers;
      build_covers(records, RecordOrder::as_given, slot_of_rank, ranks, covers);
      const CoverLayout& layout = covers.layout;

      // Items are ranks 2 .. from the records, slots 2 .. of the covers;
      // the covers read over every word, or over a list of all but the
      // empty words.
      std::vector<int32_t> item_of_rank(static_cast<size_t>(ranks));
      std::iota(item_of_rank.begin(), item_of_rank.end(), -2);
      SubsetCounts from_records;
      count_subsets_of_records(records, slot_of_rank, 2, items, from_records);
      SubsetCounts from_covers;
      const uint64_t* first = covers.bits.data() + 2 * layout.words;
      count_subsets_of_covers(first, items, layout, nullptr, 0, from_covers);
      std::vector<uint32_t> listed;
      for (uint32_t w = 0; w < layout.words; ++w) {
        uint64_t any = 0;
        for (int i = 0; i < items; ++i) any |= first[static_cast<size_t>(i) * layout.words + w];
        if (any != 0) listed.push_back(w);
      }
      SubsetCounts from_listed;
      count_subsets_of_covers(first, items, layout, listed.data(), listed.size(), from_listed);
      for (uint32_t set = 1; set < (1u << items); ++set) {
        const CoverCounts want = count_one_by_one(records, item_of_rank, set);
        for (const SubsetCounts* table : {&from_records, &from_covers, &from_listed}) {
          const CoverCounts got = subset_counts(*table, set);
          ASSERT_EQ(got.support, want.support) << "set " << set;
          ASSERT_EQ(got.class_support, want.class_support) << "set " << set;
        }
      }
    }
}

}  // namespace

// The whole data's covers are the same however many threads rank and merge
// its transactions: records equal across their runs are merged when the
// covers are laid out, and each transaction keeps the bit of its record.
TEST(ItemCovers, TheWholeDataLaysOutTheSameOnEveryNumberOfThreads) {
  std::mt19937 random(11);
  MiningData data;
  const int items = 9;
  data.item_keys.resize(items);
  // Enough transactions for several runs of them, few enough distinct ones
  // that equal records fall into every run.
  for (int t = 0; t < 230000; ++t) {
    for (int i = 0; i < items; ++i)
      if (random() % 3 == 0) data.items.push_back(i);
    data.offsets.push_back(static_cast<int64_t>(data.items.size()));
    data.labels.push_back(random() % 4 == 0 ? 1 : 0);
  }
  data.positives = static_cast<int32_t>(std::count(data.labels.begin(), data.labels.end(), 1));
  const std::vector<int32_t> rank_item = rank_frequent_items(data, 1);
  std::vector<int32_t> slot_of_rank(rank_item.size());
  std::iota(slot_of_rank.begin(), slot_of_rank.end(), 0);
  auto lay_out = [&](int threads, ItemCovers& covers, std::vector<int32_t>& bit_of_transaction) {
    std::vector<int32_t> record_of_transaction, bit_of_record;
    build_covers(ranked_records(data, rank_item, data.positives, threads, &record_of_transaction),
                 RecordOrder::sorted, slot_of_rank, static_cast<int32_t>(rank_item.size()), covers,
                 &bit_of_record);
    bit_of_transaction.clear();
    for (const int32_t record : record_of_transaction)
      bit_of_transaction.push_back(bit_of_record[static_cast<size_t>(record)]);
  };
  ItemCovers one;
  std::vector<int32_t> bits_one;
  lay_out(1, one, bits_one);
  EXPECT_LE(one.merged.weights.size(), size_t{2} << items);  // per class
  for (const int threads : {2, 3, 8}) {
    SCOPED_TRACE("threads " + std::to_string(threads));
    ItemCovers many;
    std::vector<int32_t> bits_many;
    lay_out(threads, many, bits_many);
    EXPECT_EQ(many.bits, one.bits);
    EXPECT_EQ(many.layout.planes, one.layout.planes);
    EXPECT_EQ(many.layout.plane_begin, one.layout.plane_begin);
    EXPECT_EQ(many.merged.ranks, one.merged.ranks);
    EXPECT_EQ(many.merged.weights, one.merged.weights);
    EXPECT_EQ(many.in_bit_order, one.in_bit_order);
    EXPECT_EQ(bits_many, bits_one);
  }
}

// Sorting keys records by their 128 highest ranks only: records that agree on
// those and differ below must stay apart, and equal ones become one record of
// their summed weight, each transaction's bit that record's.
TEST(ItemCovers, EqualRecordsMergeAndRecordsDifferingBelowTheKeyedRanksDoNot) {
  std::mt19937 random(5);
  MiningData data;
  const int rare = 12, common = 128;  // the rare items take the ranks below the keyed ones
  data.item_keys.resize(rare + common);
  for (int t = 0; t < 120000; ++t) {
    for (int i = 0; i < rare; ++i)
      if (random() % 3 == 0) data.items.push_back(i);
    const unsigned pattern = random() % 3;  // few distinct sets of the common items
    for (int i = 0; i < common; ++i)
      if ((i * 7 + pattern) % 3 != 0) data.items.push_back(rare + i);
    data.offsets.push_back(static_cast<int64_t>(data.items.size()));
    data.labels.push_back(random() % 4 == 0 ? 1 : 0);
  }
  data.positives = static_cast<int32_t>(std::count(data.labels.begin(), data.labels.end(), 1));
  const std::vector<int32_t> rank_item = rank_frequent_items(data, 1);
  std::vector<int32_t> rank_of(data.item_keys.size());
  for (size_t r = 0; r < rank_item.size(); ++r) rank_of[rank_item[r]] = static_cast<int32_t>(r);
  ASSERT_EQ(rank_item.size(), size_t{rare + common});
  std::map<std::pair<bool, std::vector<int32_t>>, int32_t> want;  // by class and ranks
  std::vector<std::pair<bool, std::vector<int32_t>>> of_transaction;
  for (size_t t = 0; t + 1 < data.offsets.size(); ++t) {
    std::vector<int32_t> ranks;
    for (int64_t i = data.offsets[t]; i < data.offsets[t + 1]; ++i)
      ranks.push_back(rank_of[data.items[i]]);
    std::sort(ranks.begin(), ranks.end(), std::greater<>());
    of_transaction.emplace_back(data.labels[t] == 1, ranks);
    ++want[of_transaction.back()];
  }
  std::vector<int32_t> slot_of_rank(rank_item.size());
  std::iota(slot_of_rank.begin(), slot_of_rank.end(), 0);
  for (const int threads : {1, 3}) {
    SCOPED_TRACE("threads " + std::to_string(threads));
    std::vector<int32_t> record_of_transaction, bit_of_record;
    ItemCovers covers;
    build_covers(ranked_records(data, rank_item, data.positives, threads, &record_of_transaction),
                 RecordOrder::sorted, slot_of_rank, static_cast<int32_t>(rank_item.size()), covers,
                 &bit_of_record);
    const RecordSet& merged = covers.merged;
    std::map<std::pair<bool, std::vector<int32_t>>, int32_t> got;
    std::vector<std::pair<bool, std::vector<int32_t>>> of_merged;
    for (size_t r = 0; r < merged.weights.size(); ++r) {
      of_merged.emplace_back(merged.positive[r] != 0,
                             std::vector<int32_t>(merged.ranks.begin() + merged.offsets[r],
                                                  merged.ranks.begin() + merged.offsets[r + 1]));
      got[of_merged.back()] += merged.weights[r];
    }
    EXPECT_EQ(got.size(), merged.weights.size());  // no two merged records alike
    EXPECT_EQ(got, want);
    std::vector<int32_t> record_of_bit(merged.weights.size() + 64 * covers.layout.words, -1);
    const size_t other_first = covers.layout.positive_words * 64;
    for (size_t i = 0; i < covers.in_bit_order.size(); ++i)
      record_of_bit[i < covers.positive_records ? i : i - covers.positive_records + other_first] =
          covers.in_bit_order[i];
    for (size_t t = 0; t < of_transaction.size(); ++t) {
      const int32_t bit = bit_of_record[static_cast<size_t>(record_of_transaction[t])];
      ASSERT_EQ(of_merged[static_cast<size_t>(record_of_bit[static_cast<size_t>(bit)])],
                of_transaction[t])
          << "transaction " << t;
    }
  }
}
