// Merging records: equal ones are found by hashing. The whole data's records
// are sorted by their items, the most frequent first, so that a pattern's
// cover gathers in few words; the records of an item keep that order. Within
// its class a merged record's place then follows the number of bit planes
// its weight needs, most first, so that the words needing planes are few and
// lie together.
#include "item_covers.h"

#include <algorithm>
#include <array>
#include <bit>
#include <numeric>

#include "common/parallel_chunks.h"

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

// Equal records (same items, same class) found so far, by hash: an open
// table, twice as large as the records to come, of record numbers (-1:
// free) beside their classes and hashes, so that a probe that meets
// another record rarely has to read it.
struct RecordIndex {
  struct Slot {
    int32_t record = -1;
    uint32_t check = 0;  // the class in the lowest bit, the hash's upper bits above
  };
  std::vector<Slot> table;
  explicit RecordIndex(size_t records) : table(std::bit_ceil(2 * records + 2)) {}
};

// A record's hash, from its class and its ranks in order.
uint64_t record_hash(const int32_t* first, const int32_t* last, bool positive) {
  uint64_t hash = positive ? 0x9e3779b97f4a7c15u : 0x5bd1e9955bd1e995u;
  for (const int32_t* rank = first; rank != last; ++rank)
    hash = (hash ^ static_cast<uint64_t>(*rank)) * 0x100000001b3u;
  return hash;
}

// Where the search for a record of hash `hash` starts.
size_t home_slot(const RecordIndex& index, uint64_t hash) {
  return static_cast<size_t>(hash ^ hash >> 29) & (index.table.size() - 1);
}

// Adds the record, whose record_hash is `hash`, to `set`, or its weight to
// the equal record `set` holds; returns the record's number in `set`.
int32_t add_merged(RecordSet& set, RecordIndex& index, const int32_t* first, const int32_t* last,
                   int32_t weight, bool positive, uint64_t hash) {
  const uint32_t check = (static_cast<uint32_t>(hash >> 32) & ~1u) | (positive ? 1u : 0u);
  const size_t mask = index.table.size() - 1;
  size_t slot = home_slot(index, hash);
  for (; index.table[slot].record >= 0; slot = (slot + 1) & mask) {
    const RecordIndex::Slot& taken = index.table[slot];
    const int32_t r = taken.record;
    if (taken.check == check && std::equal(first, last, set.ranks.begin() + set.offsets[r],
                                           set.ranks.begin() + set.offsets[r + 1])) {
      set.weights[r] += weight;
      return r;
    }
  }
  const auto added = static_cast<int32_t>(set.weights.size());
  index.table[slot] = RecordIndex::Slot{added, check};
  append_record(set, first, last, weight, positive);
  return added;
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

namespace {

// The transactions [begin, end) of `data` as ranked_records gives them, the
// equal ones merged, and record_of_transaction[t] (when it has room) the
// record of `records` each joined.
void rank_transactions(const MiningData& data, const std::vector<int32_t>& rank_of,
                       int32_t positives, int32_t begin, int32_t end, RecordSet& records,
                       std::vector<int32_t>& record_of_transaction) {
  // Room for all at once: growing by doubling would hold twice the data a
  // moment.
  const auto transactions = static_cast<size_t>(end - begin);
  records.ranks.reserve(static_cast<size_t>(data.offsets[end] - data.offsets[begin]));
  records.offsets.reserve(transactions + 1);
  records.weights.reserve(transactions);
  records.positive.reserve(transactions);
  RecordIndex index(transactions);
  std::vector<int32_t> ranks;
  for (int32_t t = begin; t < end; ++t) {
    ranks.clear();
    for (int64_t i = data.offsets[t]; i < data.offsets[t + 1]; ++i)
      if (rank_of[data.items[i]] >= 0) ranks.push_back(rank_of[data.items[i]]);
    std::sort(ranks.begin(), ranks.end(), std::greater<>());
    const bool positive = positives > 0 && data.labels[t] == 1;
    const int32_t* first = ranks.data();
    const int32_t* last = first + ranks.size();
    const int32_t record =
        add_merged(records, index, first, last, 1, positive, record_hash(first, last, positive));
    if (!record_of_transaction.empty()) record_of_transaction[static_cast<size_t>(t)] = record;
  }
}

// The fewest transactions a thread of ranked_records takes.
constexpr int32_t kTransactionsPerThread = 50000;

}  // namespace

RecordSet ranked_records(const MiningData& data, const std::vector<int32_t>& rank_item,
                         int32_t positives, int threads,
                         std::vector<int32_t>* record_of_transaction) {
  std::vector<int32_t> rank_of(data.item_keys.size(), -1);
  for (size_t r = 0; r < rank_item.size(); ++r) rank_of[rank_item[r]] = static_cast<int32_t>(r);
  const int32_t n = transaction_count(data);
  std::vector<int32_t> record_of(record_of_transaction != nullptr ? static_cast<size_t>(n) : 0);
  // Equal records become one of their summed weight at once, so that only
  // distinct ones are sorted later. Each thread merges a run of the
  // transactions; records equal across runs are merged by build_covers,
  // whose order does not depend on the order they come in.
  const int32_t parts = std::clamp(n / kTransactionsPerThread, 1, std::max(threads, 1));
  std::vector<RecordSet> merged(static_cast<size_t>(parts));
  auto first_of = [&](int32_t part) {
    return static_cast<int32_t>(static_cast<int64_t>(n) * part / parts);
  };
  parallel_chunks(merged.size(), 1, parts, [&](size_t begin, size_t end) {
    for (size_t part = begin; part < end; ++part) {
      const auto p = static_cast<int32_t>(part);
      rank_transactions(data, rank_of, positives, first_of(p), first_of(p + 1), merged[part],
                        record_of);
    }
  });
  RecordSet records = std::move(merged[0]);
  for (int32_t p = 1; p < parts; ++p) {
    RecordSet& part = merged[static_cast<size_t>(p)];
    const auto before = static_cast<int32_t>(records.weights.size());
    for (int32_t t = first_of(p); t < first_of(p + 1) && !record_of.empty(); ++t)
      record_of[static_cast<size_t>(t)] += before;
    const int64_t shift = records.offsets.back();
    records.ranks.insert(records.ranks.end(), part.ranks.begin(), part.ranks.end());
    for (size_t i = 1; i < part.offsets.size(); ++i)
      records.offsets.push_back(part.offsets[i] + shift);
    records.weights.insert(records.weights.end(), part.weights.begin(), part.weights.end());
    records.positive.insert(records.positive.end(), part.positive.begin(), part.positive.end());
    part = RecordSet{};
  }
  if (record_of_transaction != nullptr) *record_of_transaction = std::move(record_of);
  return records;
}

namespace {

// Sets `merged` to `records` sorted by class and items, equal ones merged,
// and merged_of[r] (when it is not empty) to the record of `merged` that
// record r joined.
void sort_and_merge(const RecordSet& records, RecordSet& merged, std::vector<int32_t>& merged_of) {
  const size_t count = records.weights.size();
  auto items_before = [&](int32_t a, int32_t b) {
    return std::lexicographical_compare(
        records.ranks.begin() + records.offsets[a], records.ranks.begin() + records.offsets[a + 1],
        records.ranks.begin() + records.offsets[b], records.ranks.begin() + records.offsets[b + 1]);
  };
  // A list of descending ranks compares with another as the number whose
  // bits are its ranks: the highest rank one holds and the other lacks
  // decides, whether it follows a common start or ends it. So records sort
  // by the bits of the 128 highest ranks first, and only those that agree
  // on all of them are compared item by item.
  int32_t top_rank = 0;
  for (size_t r = 0; r < count; ++r)
    if (records.offsets[r + 1] > records.offsets[r])
      top_rank = std::max(top_rank, records.ranks[records.offsets[r]]);
  const int32_t lowest_keyed = std::max(0, top_rank - 127);
  struct Key {
    uint64_t high = 0, low = 0;  // ranks lowest_keyed + 64 .. + 127, lowest_keyed .. + 63
    int32_t other_class = 0;     // the rule class first
    int32_t record = 0;
  };
  std::vector<Key> keys(count);
  for (size_t r = 0; r < count; ++r) {
    Key& key = keys[r];
    key.other_class = records.positive[r] ? 0 : 1;
    key.record = static_cast<int32_t>(r);
    for (int64_t k = records.offsets[r];
         k < records.offsets[r + 1] && records.ranks[k] >= lowest_keyed; ++k) {
      const int32_t bit = records.ranks[k] - lowest_keyed;
      (bit < 64 ? key.low : key.high) |= uint64_t{1} << (bit % 64);
    }
  }
  auto same_key = [](const Key& a, const Key& b) {
    return a.other_class == b.other_class && a.high == b.high && a.low == b.low;
  };
  std::sort(keys.begin(), keys.end(), [&](const Key& a, const Key& b) {
    if (a.other_class != b.other_class) return a.other_class < b.other_class;
    if (a.high != b.high) return a.high < b.high;
    if (a.low != b.low) return a.low < b.low;
    return items_before(a.record, b.record);
  });
  // Records of different keys differ; only those of one key are compared
  // item by item.
  for (size_t i = 0; i < count;) {
    const int32_t first = keys[i].record;
    int64_t weight = 0;
    size_t j = i;
    for (; j < count && same_key(keys[i], keys[j]) &&
           (j == i || !items_before(first, keys[j].record));
         ++j) {
      weight += records.weights[keys[j].record];
      if (!merged_of.empty())
        merged_of[static_cast<size_t>(keys[j].record)] =
            static_cast<int32_t>(merged.weights.size());
    }
    append_record(merged, records.ranks.data() + records.offsets[first],
                  records.ranks.data() + records.offsets[first + 1], static_cast<int32_t>(weight),
                  records.positive[first]);
    i = j;
  }
}

// Sets bit_of_record[r] to the bit of merged record merged_of[r] in `covers`.
void bits_of_records(const ItemCovers& covers, const std::vector<int32_t>& merged_of,
                     std::vector<int32_t>& bit_of_record) {
  std::vector<int32_t> bit_of_merged(covers.in_bit_order.size());
  const size_t other_first = covers.layout.positive_words * 64;
  for (size_t i = 0; i < covers.in_bit_order.size(); ++i)
    bit_of_merged[static_cast<size_t>(covers.in_bit_order[i])] = static_cast<int32_t>(
        i < covers.positive_records ? i : i - covers.positive_records + other_first);
  bit_of_record.resize(merged_of.size());
  for (size_t r = 0; r < merged_of.size(); ++r)
    bit_of_record[r] = bit_of_merged[static_cast<size_t>(merged_of[r])];
}

// How many records ahead merge_records fetches a record's slot in the index.
constexpr size_t kSlotsFetchedAhead = 8;

// Equal records merged into `merged`, by sorting or by hashing in their given
// order; `merged_of[r]`, when it has room, the merged record r joined.
void merge_records(const RecordSet& records, RecordOrder order, RecordSet& merged,
                   std::vector<int32_t>& merged_of) {
  merged.ranks.clear();
  merged.offsets.assign(1, 0);
  merged.weights.clear();
  merged.positive.clear();
  merged.ranks.reserve(records.ranks.size());
  merged.offsets.reserve(records.offsets.size());
  merged.weights.reserve(records.weights.size());
  merged.positive.reserve(records.positive.size());
  if (order == RecordOrder::sorted) {
    sort_and_merge(records, merged, merged_of);
    return;
  }
  const size_t count = records.weights.size();
  RecordIndex index(count);
  auto ranks_of = [&](size_t r) { return records.ranks.data() + records.offsets[r]; };
  auto hash_of = [&](size_t r) {
    return record_hash(ranks_of(r), ranks_of(r + 1), records.positive[r]);
  };
  // The table's slots lie far apart: each record's is fetched a few
  // records ahead, its hash kept until then.
  std::array<uint64_t, kSlotsFetchedAhead> ahead{};
  for (size_t r = 0; r < std::min(count, kSlotsFetchedAhead); ++r) ahead[r] = hash_of(r);
  for (size_t r = 0; r < count; ++r) {
    uint64_t& held = ahead[r % kSlotsFetchedAhead];
    const uint64_t hash = held;
    if (r + kSlotsFetchedAhead < count) {
      held = hash_of(r + kSlotsFetchedAhead);
      __builtin_prefetch(&index.table[home_slot(index, held)]);
    }
    const int32_t joined = add_merged(merged, index, ranks_of(r), ranks_of(r + 1),
                                      records.weights[r], records.positive[r], hash);
    if (!merged_of.empty()) merged_of[r] = joined;
  }
}

}  // namespace

void build_covers(const RecordSet& records, RecordOrder order,
                  const std::vector<int32_t>& slot_of_rank, int32_t slots, ItemCovers& covers,
                  std::vector<int32_t>* bit_of_record) {
  RecordSet& merged = covers.merged;
  std::vector<int32_t> merged_of(bit_of_record != nullptr ? records.weights.size() : 0);
  merge_records(records, order, merged, merged_of);
  std::vector<int32_t> by_class[2];  // rule class, others: indexes into `merged`
  for (size_t r = 0; r < merged.weights.size(); ++r)
    by_class[merged.positive[r] ? 0 : 1].push_back(static_cast<int32_t>(r));
  for (std::vector<int32_t>& group : by_class)
    std::stable_sort(group.begin(), group.end(), [&](int32_t a, int32_t b) {
      return std::bit_width(static_cast<uint32_t>(merged.weights[a])) >
             std::bit_width(static_cast<uint32_t>(merged.weights[b]));
    });

  CoverLayout& layout = covers.layout;
  layout.plane_begin.clear();
  layout.planes.clear();
  layout.positive_words = (by_class[0].size() + 63) / 64;
  layout.words = layout.positive_words + (by_class[1].size() + 63) / 64;
  covers.bits.assign(static_cast<size_t>(slots) * layout.words, 0);
  layout.positive_heavy_end = lay_out_class(merged, by_class[0], 0, slot_of_rank, covers);
  layout.other_heavy_end =
      lay_out_class(merged, by_class[1], layout.positive_words, slot_of_rank, covers);
  layout.plane_begin.resize(layout.other_heavy_end + 1,
                            static_cast<uint32_t>(layout.planes.size()));

  covers.in_bit_order = std::move(by_class[0]);
  covers.positive_records = covers.in_bit_order.size();
  covers.in_bit_order.insert(covers.in_bit_order.end(), by_class[1].begin(), by_class[1].end());
  if (bit_of_record != nullptr) bits_of_records(covers, merged_of, *bit_of_record);
}

void cover_of_all(const ItemCovers& covers, std::vector<uint64_t>& all) {
  const CoverLayout& layout = covers.layout;
  all.assign(layout.words, 0);
  const size_t others = covers.in_bit_order.size() - covers.positive_records;
  for (size_t i = 0; i < covers.positive_records; ++i) all[i / 64] |= uint64_t{1} << (i % 64);
  for (size_t i = 0; i < others; ++i)
    all[layout.positive_words + i / 64] |= uint64_t{1} << (i % 64);
}

void keep_slotted_ranks(RecordSet& records, const std::vector<int32_t>& slot_of_rank) {
  int64_t kept = 0;
  int64_t begin = 0;
  for (size_t i = 1; i < records.offsets.size(); ++i) {
    const int64_t end = records.offsets[i];
    for (int64_t k = begin; k < end; ++k) {
      const int32_t rank = records.ranks[static_cast<size_t>(k)];
      records.ranks[static_cast<size_t>(kept)] = rank;
      kept += slot_of_rank[static_cast<size_t>(rank)] >= 0;
    }
    begin = end;
    records.offsets[i] = kept;
  }
  records.ranks.resize(static_cast<size_t>(kept));
}
