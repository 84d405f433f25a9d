// Counting every set of a few items: the records are visited once, and the
// sums over supersets take items * 2^(items - 1) additions.
#include "subset_counts.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr uint64_t kSupportOne = uint64_t{1} << 32;

// What a record of weight 1 adds to an entry.
inline uint64_t entry_of_one(bool positive) { return positive ? kSupportOne | 1 : kSupportOne; }

void start_table(int items, SubsetCounts& table) {
  table.items = items;
  table.entries.assign(size_t{1} << items, 0);
}

// Four entries, added as one.
typedef uint64_t FourEntries __attribute__((vector_size(32)));

// entries[s] becomes the sum of entries[t] over every t that holds s, one
// item at a time; the two lowest items pair neighbouring entries, the others
// add runs of four.
__attribute__((target_clones("avx2", "default"))) void sum_over_supersets(
    std::vector<uint64_t>& entries, int items) {
  const size_t size = size_t{1} << items;
  uint64_t* e = entries.data();
  if (items >= 2) {
    for (size_t s = 0; s < size; s += 4) {
      const uint64_t e3 = e[s + 3];
      const uint64_t e2 = e[s + 2] + e3;
      const uint64_t e1 = e[s + 1] + e3;
      e[s] += e1 + e2 - e3;
      e[s + 1] = e1;
      e[s + 2] = e2;
    }
  } else if (items == 1) {
    e[0] += e[1];
  }
  for (int i = 2; i < items; ++i) {
    const size_t step = size_t{1} << i;
    for (size_t base = 0; base < size; base += 2 * step)
      for (size_t s = base; s < base + step; s += 4) {
        FourEntries low, high;
        std::memcpy(&low, e + s, sizeof low);
        std::memcpy(&high, e + s + step, sizeof high);
        low += high;
        std::memcpy(e + s, &low, sizeof low);
      }
  }
}

}  // namespace

namespace {

// The 8 x 8 bit matrices in the two 64-bit halves of x transposed: bit c of
// byte i and bit i of byte c change places.
inline __m128i transpose_bits(__m128i x) {
  __m128i t =
      _mm_and_si128(_mm_xor_si128(x, _mm_srli_epi64(x, 7)), _mm_set1_epi64x(0x00AA00AA00AA00AA));
  x = _mm_xor_si128(_mm_xor_si128(x, t), _mm_slli_epi64(t, 7));
  t = _mm_and_si128(_mm_xor_si128(x, _mm_srli_epi64(x, 14)), _mm_set1_epi64x(0x0000CCCC0000CCCC));
  x = _mm_xor_si128(_mm_xor_si128(x, t), _mm_slli_epi64(t, 14));
  t = _mm_and_si128(_mm_xor_si128(x, _mm_srli_epi64(x, 28)), _mm_set1_epi64x(0x00000000F0F0F0F0));
  return _mm_xor_si128(_mm_xor_si128(x, t), _mm_slli_epi64(t, 28));
}

// Byte r of sets[8 * j + r], for each record r of byte j of the words
// rows[0..7]: bit i set when the record is in rows[i].
inline void transpose_rows(const uint64_t* rows, uint8_t* sets) {
  auto row = [&](int i) { return _mm_cvtsi64_si128(static_cast<long long>(rows[i])); };
  const __m128i a0 = _mm_unpacklo_epi8(row(0), row(1));
  const __m128i a1 = _mm_unpacklo_epi8(row(2), row(3));
  const __m128i a2 = _mm_unpacklo_epi8(row(4), row(5));
  const __m128i a3 = _mm_unpacklo_epi8(row(6), row(7));
  const __m128i b0 = _mm_unpacklo_epi16(a0, a1);
  const __m128i b1 = _mm_unpackhi_epi16(a0, a1);
  const __m128i b2 = _mm_unpacklo_epi16(a2, a3);
  const __m128i b3 = _mm_unpackhi_epi16(a2, a3);
  // Byte i of 64-bit half h of cK: byte (2K + h) of rows[i], for K < 2 from
  // b0 and b2, else from b1 and b3.
  const __m128i c[4] = {_mm_unpacklo_epi32(b0, b2), _mm_unpackhi_epi32(b0, b2),
                        _mm_unpacklo_epi32(b1, b3), _mm_unpackhi_epi32(b1, b3)};
  for (int k = 0; k < 4; ++k)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sets + 16 * k), transpose_bits(c[k]));
}

}  // namespace

void count_subsets_of_covers(const uint64_t* covers, int items, const CoverLayout& layout,
                             const uint32_t* listed, size_t listed_count, SubsetCounts& table) {
  start_table(items, table);
  uint64_t* entries = table.entries.data();
  const size_t words = layout.words;
  const size_t count = listed == nullptr ? words : listed_count;
  const uint32_t* plane_begin = layout.plane_begin.data();
  const uint64_t* planes = layout.planes.data();
  uint64_t rows[2 * 8] = {};
  alignas(16) uint8_t low_sets[64];   // of items 0 to 7
  alignas(16) uint8_t high_sets[64];  // of items 8 to 15
  std::fill_n(high_sets, 64, 0);
  const int groups = items > 8 ? 2 : 1;
  for (size_t k = 0; k < count; ++k) {
    const size_t w = listed == nullptr ? k : listed[k];
    uint64_t any = 0;
    for (int i = 0; i < items; ++i) {
      rows[i] = covers[static_cast<size_t>(i) * words + w];
      any |= rows[i];
    }
    if (any == 0) continue;
    transpose_rows(rows, low_sets);
    if (groups == 2) transpose_rows(rows + 8, high_sets);
    auto set_of = [&](int bit) { return uint32_t{low_sets[bit]} | uint32_t{high_sets[bit]} << 8; };
    const bool positive = w < layout.positive_words;
    const uint64_t one = entry_of_one(positive);
    const bool heavy = positive ? w < layout.positive_heavy_end : w < layout.other_heavy_end;
    if (heavy) {
      // Plane p holds bit p of each record's weight.
      const uint64_t* plane = planes + plane_begin[w];
      const uint64_t* end = planes + plane_begin[w + 1];
      for (int shift = 0; plane != end; ++plane, ++shift)
        for (uint64_t b = any & *plane; b != 0; b &= b - 1)
          entries[set_of(__builtin_ctzll(b))] += one << shift;
    } else {
      for (uint64_t b = any; b != 0; b &= b - 1) entries[set_of(__builtin_ctzll(b))] += one;
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
