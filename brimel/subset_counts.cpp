// Counting every set of a few items: the records are visited once, and the
// sums over supersets take items * 2^(items - 1) additions.
#include "subset_counts.h"

namespace {

constexpr uint64_t kSupportOne = uint64_t{1} << 32;

// What a record of weight 1 adds to an entry.
inline uint64_t entry_of_one(bool positive) { return positive ? kSupportOne | 1 : kSupportOne; }

void start_table(int items, SubsetCounts& table) {
  table.items = items;
  table.entries.assign(size_t{1} << items, 0);
  table.record_sets.assign(64, 0);
}

// entries[s] becomes the sum of entries[t] over every t that holds s.
void sum_over_supersets(std::vector<uint64_t>& entries, int items) {
  const size_t size = size_t{1} << items;
  uint64_t* e = entries.data();
  for (int i = 0; i < items; ++i) {
    const size_t step = size_t{1} << i;
    for (size_t base = 0; base < size; base += 2 * step)
      for (size_t s = base; s < base + step; ++s) e[s] += e[s + step];
  }
}

}  // namespace

void count_subsets_of_covers(const uint64_t* covers, int items, const CoverLayout& layout,
                             const uint32_t* listed, size_t listed_count, SubsetCounts& table) {
  start_table(items, table);
  uint64_t* entries = table.entries.data();
  uint32_t* sets = table.record_sets.data();
  const size_t words = layout.words;
  const size_t count = listed == nullptr ? words : listed_count;
  const uint32_t* plane_begin = layout.plane_begin.data();
  const uint64_t* planes = layout.planes.data();
  for (size_t k = 0; k < count; ++k) {
    const size_t w = listed == nullptr ? k : listed[k];
    uint64_t any = 0;
    for (int i = 0; i < items; ++i) {
      const uint64_t bits = covers[static_cast<size_t>(i) * words + w];
      any |= bits;
      for (uint64_t b = bits; b != 0; b &= b - 1) sets[__builtin_ctzll(b)] |= 1u << i;
    }
    if (any == 0) continue;
    const bool positive = w < layout.positive_words;
    const uint64_t one = entry_of_one(positive);
    const bool heavy = positive ? w < layout.positive_heavy_end : w < layout.other_heavy_end;
    if (heavy) {
      // Plane p holds bit p of each record's weight.
      const uint64_t* plane = planes + plane_begin[w];
      const uint64_t* end = planes + plane_begin[w + 1];
      for (int shift = 0; plane != end; ++plane, ++shift)
        for (uint64_t b = any & *plane; b != 0; b &= b - 1)
          entries[sets[__builtin_ctzll(b)]] += one << shift;
      for (uint64_t b = any; b != 0; b &= b - 1) sets[__builtin_ctzll(b)] = 0;
    } else {
      for (uint64_t b = any; b != 0; b &= b - 1) {
        uint32_t& set = sets[__builtin_ctzll(b)];
        entries[set] += one;
        set = 0;
      }
    }
  }
  sum_over_supersets(table.entries, items);
}

void count_subsets_of_records(const RecordSet& records, const std::vector<int32_t>& slot_of_rank,
                              int32_t first_slot, int items, SubsetCounts& table) {
  start_table(items, table);
  uint64_t* entries = table.entries.data();
  for (size_t r = 0; r + 1 < records.offsets.size(); ++r) {
    uint32_t set = 0;
    for (int64_t k = records.offsets[r]; k < records.offsets[r + 1]; ++k) {
      const int32_t item = slot_of_rank[static_cast<size_t>(records.ranks[k])] - first_slot;
      if (item >= 0) set |= 1u << item;
    }
    entries[set] += static_cast<uint64_t>(records.weights[r]) * entry_of_one(records.positive[r]);
  }
  sum_over_supersets(table.entries, items);
}
