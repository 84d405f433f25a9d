// The covers the search runs over: items as bitsets over records merged by
// content. Records that hold the same items (of those searched) and the same
// rule-class label are one record with a weight, since no pattern can tell
// them apart. The whole data gives the covers of the frequent items; the
// records of a pattern's cover, cut down to the items that may extend it,
// give the covers of the search below that pattern.
#pragma once

#include <cstdint>
#include <vector>

#include "cover_bitsets.h"
#include "mining_data.h"

// Records as lists of item ranks, each list descending.
struct RecordSet {
  std::vector<int32_t> ranks;
  std::vector<int64_t> offsets{0};  // record i: ranks[offsets[i]] .. ranks[offsets[i + 1] - 1]
  std::vector<int32_t> weights;
  std::vector<char> positive;  // in the rule class
};

struct ItemCovers {
  CoverLayout layout;
  std::vector<uint64_t> bits;  // layout.words words per item slot
  RecordSet merged;            // the records behind the bits
  // merged record of each bit: the rule class's from bit 0, the others'
  // from word positive_words on
  std::vector<int32_t> in_bit_order;
  size_t positive_records = 0;  // in the rule class
};

// The frequent items of `data`, ranked by ascending support (rank -> item id).
std::vector<int32_t> rank_frequent_items(const MiningData& data, int32_t min_sup);

// The records of `data` as frequent item ranks, equal ones mostly merged
// (build_covers merges the rest), read on up to `threads` threads;
// `positives`: the records labelled 1 when they form the rule class, else 0.
// With `record_of_transaction`, also the record each transaction joined.
RecordSet ranked_records(const MiningData& data, const std::vector<int32_t>& rank_item,
                         int32_t positives, int threads,
                         std::vector<int32_t>* record_of_transaction = nullptr);

// How build_covers orders the records: sorted by their items, or as given.
enum class RecordOrder { sorted, as_given };

// Merges `records`, whose ranks r all have slot_of_rank[r] >= 0, and lays
// them out with one bitset per slot, `slots` of them, in the `order` asked
// for within each class and weight. `covers` may hold an earlier layout,
// whose room is reused. With `bit_of_record`, also the bit of the merged
// record each of `records` joined.
void build_covers(const RecordSet& records, RecordOrder order,
                  const std::vector<int32_t>& slot_of_rank, int32_t slots, ItemCovers& covers,
                  std::vector<int32_t>* bit_of_record = nullptr);

// Sets `all` to the cover of every record of `covers`.
void cover_of_all(const ItemCovers& covers, std::vector<uint64_t>& all);

// The words of a cover that are read: `count` word numbers, ascending, at
// `listed`; every word of the layout when `listed` is null.
struct ListedWords {
  const uint32_t* listed = nullptr;
  size_t count = 0;
};

// Calls visit(r) for each merged record r of `covers` inside the cover
// `bits` (over the words `words` lists), in bit order.
template <typename Visit>
void for_each_record_in(const ItemCovers& covers, const uint64_t* bits, ListedWords words,
                        const Visit& visit) {
  const CoverLayout& layout = covers.layout;
  const auto positives = static_cast<int64_t>(covers.positive_records);
  const size_t count = words.listed == nullptr ? layout.words : words.count;
  for (size_t i = 0; i < count; ++i) {
    const size_t w = words.listed == nullptr ? i : words.listed[i];
    for (uint64_t word = bits[w]; word != 0; word &= word - 1) {
      const int64_t bit = static_cast<int64_t>(w * 64) + __builtin_ctzll(word);
      visit(covers.in_bit_order[static_cast<size_t>(
          w < layout.positive_words
              ? bit
              : bit - static_cast<int64_t>(layout.positive_words * 64) + positives)]);
    }
  }
}

// Keeps in each record of `records` only the ranks r with
// slot_of_rank[r] >= 0.
void keep_slotted_ranks(RecordSet& records, const std::vector<int32_t>& slot_of_rank);
