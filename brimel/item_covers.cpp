// Merging records: sorting them by class and items brings equal ones
// together. Within its class a merged record's place then follows the number
// of bit planes its weight needs, most first, so that the words needing
// planes are few and lie together; and within that, its items, the most
// frequent first, so that a pattern's cover gathers in few words.
#include "item_covers.h"

#include <algorithm>
#include <bit>
#include <numeric>
#include <unordered_map>

namespace {

// Lays out one class's merged records, `order` into `merged` (in order of
// planes needed), from word `first_word` and returns the end of its heavy
// words.
size_t lay_out_class(const RecordSet& merged, const std::vector<int32_t>& order, size_t first_word,
                     const std::vector<int32_t>& slot_of_rank, ItemCovers& covers) {
  CoverLayout& layout = covers.layout;
  size_t heavy_end = first_word;
  for (size_t i = 0; i < order.size(); ++i) {
    const int32_t record = order[i];
    const size_t word = first_word + i / 64;
    const uint64_t bit = uint64_t{1} << (i % 64);
    const uint32_t weight = static_cast<uint32_t>(merged.weights[record]);
    if (i % 64 == 0 && weight > 1) {
      // The word's first record needs the most planes.
      layout.plane_begin.resize(word + 1, static_cast<uint32_t>(layout.planes.size()));
      layout.planes.resize(layout.planes.size() + std::bit_width(weight), 0);
      layout.plane_begin.push_back(static_cast<uint32_t>(layout.planes.size()));
      heavy_end = word + 1;
    }
    if (word < heavy_end) {
      uint64_t* planes = layout.planes.data() + layout.plane_begin[word];
      for (int b = 0; weight >> b != 0; ++b)
        if (weight >> b & 1) planes[b] |= bit;
    }
    covers.all[word] |= bit;
    for (int64_t k = merged.offsets[record]; k < merged.offsets[record + 1]; ++k)
      covers.bits[static_cast<size_t>(slot_of_rank[merged.ranks[k]]) * layout.words + word] |= bit;
  }
  return heavy_end;
}

void append_record(RecordSet& set, const int32_t* first, const int32_t* last, int32_t weight,
                   bool positive) {
  set.ranks.insert(set.ranks.end(), first, last);
  set.offsets.push_back(static_cast<int64_t>(set.ranks.size()));
  set.weights.push_back(weight);
  set.positive.push_back(positive);
}

}  // namespace

std::vector<int32_t> rank_frequent_items(const MiningData& data, int32_t min_sup) {
  std::vector<int32_t> item_support(data.item_keys.size(), 0);
  for (const int32_t item : data.items) ++item_support[item];
  std::vector<int32_t> frequent;
  for (size_t item = 0; item < item_support.size(); ++item)
    if (item_support[item] >= min_sup) frequent.push_back(static_cast<int32_t>(item));
  std::stable_sort(frequent.begin(), frequent.end(),
                   [&](int32_t a, int32_t b) { return item_support[a] < item_support[b]; });
  return frequent;
}

RecordSet ranked_records(const MiningData& data, const std::vector<int32_t>& rank_item,
                         int32_t positives, std::vector<int32_t>* record_of_transaction) {
  std::vector<int32_t> rank_of(data.item_keys.size(), -1);
  for (size_t r = 0; r < rank_item.size(); ++r) rank_of[rank_item[r]] = static_cast<int32_t>(r);
  // Equal records become one of their summed weight at once, so that only
  // distinct ones are sorted later; records of one hash are chained.
  RecordSet records;
  std::unordered_map<uint64_t, int32_t> last_of_hash;
  std::vector<int32_t> previous_of_hash;
  const int32_t n = transaction_count(data);
  if (record_of_transaction != nullptr) record_of_transaction->resize(static_cast<size_t>(n));
  std::vector<int32_t> ranks;
  for (int32_t t = 0; t < n; ++t) {
    ranks.clear();
    for (int64_t i = data.offsets[t]; i < data.offsets[t + 1]; ++i)
      if (rank_of[data.items[i]] >= 0) ranks.push_back(rank_of[data.items[i]]);
    std::sort(ranks.begin(), ranks.end(), std::greater<>());
    const bool positive = positives > 0 && data.labels[t] == 1;
    uint64_t hash = positive ? 0x9e3779b97f4a7c15u : 0x5bd1e9955bd1e995u;
    for (const int32_t rank : ranks) hash = (hash ^ static_cast<uint64_t>(rank)) * 0x100000001b3u;
    const auto [found, added] =
        last_of_hash.try_emplace(hash, static_cast<int32_t>(records.weights.size()));
    int32_t same = -1;
    for (int32_t r = added ? -1 : found->second; r >= 0 && same < 0; r = previous_of_hash[r])
      if (records.positive[r] == positive &&
          std::equal(ranks.begin(), ranks.end(), records.ranks.begin() + records.offsets[r],
                     records.ranks.begin() + records.offsets[r + 1]))
        same = r;
    if (record_of_transaction != nullptr)
      (*record_of_transaction)[static_cast<size_t>(t)] =
          same >= 0 ? same : static_cast<int32_t>(records.weights.size());
    if (same >= 0) {
      ++records.weights[same];
      continue;
    }
    previous_of_hash.push_back(added ? -1 : found->second);
    found->second = static_cast<int32_t>(records.weights.size());
    append_record(records, ranks.data(), ranks.data() + ranks.size(), 1, positive);
  }
  return records;
}

void build_covers(const RecordSet& records, const std::vector<int32_t>& slot_of_rank, int32_t slots,
                  ItemCovers& covers, std::vector<int32_t>* bit_of_record) {
  const size_t count = records.weights.size();
  auto items_before = [&](int32_t a, int32_t b) {
    return std::lexicographical_compare(
        records.ranks.begin() + records.offsets[a], records.ranks.begin() + records.offsets[a + 1],
        records.ranks.begin() + records.offsets[b], records.ranks.begin() + records.offsets[b + 1]);
  };
  auto before = [&](int32_t a, int32_t b) {
    if (records.positive[a] != records.positive[b])
      return records.positive[a] > records.positive[b];
    return items_before(a, b);
  };
  // The records of a subtree come in a few sorted runs, which are merged;
  // others are sorted.
  std::vector<int32_t> order(count);
  std::iota(order.begin(), order.end(), 0);
  std::vector<size_t> run_starts;
  for (size_t i = 1; i < count && run_starts.size() <= 64; ++i)
    if (before(order[i], order[i - 1])) run_starts.push_back(i);
  if (run_starts.size() > 64) {
    std::sort(order.begin(), order.end(), before);
  } else {
    for (size_t r = 0; r < run_starts.size(); ++r) {
      const size_t end = r + 1 < run_starts.size() ? run_starts[r + 1] : count;
      std::inplace_merge(order.begin(), order.begin() + static_cast<int64_t>(run_starts[r]),
                         order.begin() + static_cast<int64_t>(end), before);
    }
  }
  RecordSet& merged = covers.merged;
  merged = RecordSet{};
  std::vector<int32_t> by_class[2];  // rule class, others: indexes into `merged`
  std::vector<int32_t> merged_of(bit_of_record != nullptr ? count : 0);
  for (size_t i = 0; i < count;) {
    const int32_t first = order[i];
    const auto next_merged = static_cast<int32_t>(merged.weights.size());
    int64_t weight = 0;
    size_t j = i;
    for (; j < count && records.positive[order[j]] == records.positive[first] &&
           !items_before(first, order[j]);
         ++j) {
      weight += records.weights[order[j]];
      if (bit_of_record != nullptr) merged_of[static_cast<size_t>(order[j])] = next_merged;
    }
    by_class[records.positive[first] ? 0 : 1].push_back(
        static_cast<int32_t>(merged.weights.size()));
    append_record(merged, records.ranks.data() + records.offsets[first],
                  records.ranks.data() + records.offsets[first + 1], static_cast<int32_t>(weight),
                  records.positive[first]);
    i = j;
  }
  for (std::vector<int32_t>& group : by_class)
    std::stable_sort(group.begin(), group.end(), [&](int32_t a, int32_t b) {
      return std::bit_width(static_cast<uint32_t>(merged.weights[a])) >
             std::bit_width(static_cast<uint32_t>(merged.weights[b]));
    });

  CoverLayout& layout = covers.layout;
  layout = CoverLayout{};
  layout.positive_words = (by_class[0].size() + 63) / 64;
  layout.words = layout.positive_words + (by_class[1].size() + 63) / 64;
  covers.bits.assign(static_cast<size_t>(slots) * layout.words, 0);
  covers.all.assign(layout.words, 0);
  layout.positive_heavy_end = lay_out_class(merged, by_class[0], 0, slot_of_rank, covers);
  layout.other_heavy_end =
      lay_out_class(merged, by_class[1], layout.positive_words, slot_of_rank, covers);
  layout.plane_begin.resize(layout.other_heavy_end + 1,
                            static_cast<uint32_t>(layout.planes.size()));

  covers.in_bit_order = std::move(by_class[0]);
  covers.positive_records = covers.in_bit_order.size();
  covers.in_bit_order.insert(covers.in_bit_order.end(), by_class[1].begin(), by_class[1].end());
  if (bit_of_record != nullptr) {
    std::vector<int32_t> bit_of_merged(merged.weights.size());
    for (size_t i = 0; i < covers.in_bit_order.size(); ++i)
      bit_of_merged[static_cast<size_t>(covers.in_bit_order[i])] = static_cast<int32_t>(
          i < covers.positive_records ? i
                                      : i - covers.positive_records + layout.positive_words * 64);
    bit_of_record->resize(count);
    for (size_t r = 0; r < count; ++r)
      (*bit_of_record)[r] = bit_of_merged[static_cast<size_t>(merged_of[r])];
  }
}

RecordSet records_in(const ItemCovers& covers, const uint64_t* bits,
                     const std::vector<int32_t>& slot_of_rank) {
  const CoverLayout& layout = covers.layout;
  const RecordSet& merged = covers.merged;
  const int64_t positives = static_cast<int64_t>(covers.positive_records);
  RecordSet records;
  for (size_t w = 0; w < layout.words; ++w)
    for (uint64_t word = bits[w]; word != 0; word &= word - 1) {
      const int64_t bit = static_cast<int64_t>(w * 64) + __builtin_ctzll(word);
      const int32_t r = covers.in_bit_order[static_cast<size_t>(
          w < layout.positive_words
              ? bit
              : bit - static_cast<int64_t>(layout.positive_words * 64) + positives)];
      for (int64_t k = merged.offsets[r]; k < merged.offsets[r + 1]; ++k)
        if (slot_of_rank[merged.ranks[k]] >= 0) records.ranks.push_back(merged.ranks[k]);
      records.offsets.push_back(static_cast<int64_t>(records.ranks.size()));
      records.weights.push_back(merged.weights[r]);
      records.positive.push_back(merged.positive[r]);
    }
  return records;
}
