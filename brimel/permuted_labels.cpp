// Drawing the permutations and laying out their labels as bit rows.
#include "permuted_labels.h"

#include <algorithm>
#include <bit>
#include <numeric>
#include <utility>

uint64_t uniform_below(std::mt19937_64& random, uint64_t bound) {
  unsigned __int128 product = static_cast<unsigned __int128>(random()) * bound;
  auto low = static_cast<uint64_t>(product);
  if (low < bound) {
    // 2^64 mod bound draws would favour the smallest values; they are the
    // ones whose low half lies below it.
    const uint64_t rejected = (0 - bound) % bound;
    while (low < rejected) {
      product = static_cast<unsigned __int128>(random()) * bound;
      low = static_cast<uint64_t>(product);
    }
  }
  return static_cast<uint64_t>(product >> 64);
}

size_t plane_words(int32_t permutations) {
  const size_t words = (static_cast<size_t>(std::max(permutations, 0)) + 63) / 64;
  return (words + 7) / 8 * 8;
}

int32_t record_planes(const RecordRows& rows, size_t r) {
  return std::bit_width(static_cast<uint32_t>(rows.weights[r]));
}

namespace {

// Sizes `rows` for records of the given weights, every plane zero.
void lay_out_rows(RecordRows& rows, std::vector<int32_t> weights) {
  rows.weights = std::move(weights);
  const size_t n = rows.weights.size();
  rows.units.assign(n * rows.words, 0);
  rows.heavy.assign((n + 63) / 64, 0);
  rows.first_high.assign(n + 1, 0);
  for (size_t r = 0; r < n; ++r) {
    const int32_t planes = record_planes(rows, r);
    if (planes > 1) rows.heavy[r / 64] |= uint64_t{1} << (r % 64);
    rows.first_high[r + 1] = rows.first_high[r] + static_cast<uint32_t>(std::max(planes - 1, 0));
  }
  rows.high.assign(rows.first_high[n] * rows.words, 0);
}

}  // namespace

RecordRows permuted_class_rows(const std::vector<char>& in_class, int32_t permutations,
                               uint64_t seed) {
  const size_t n = in_class.size();
  RecordRows rows;
  rows.permutations = permutations;
  rows.words = plane_words(permutations);
  lay_out_rows(rows, std::vector<int32_t>(n, 1));
  const size_t positives = static_cast<size_t>(std::count(in_class.begin(), in_class.end(), 1));
  // The shorter of the two shuffles: pick the transactions in the class, or
  // those outside it.
  const bool pick_positives = positives <= n - positives;
  const size_t picks = pick_positives ? positives : n - positives;
  if (!pick_positives) {
    // Every label 1 to begin with, in the bits of the permutations only.
    std::vector<uint64_t> every(rows.words, 0);
    for (int32_t j = 0; j < permutations; ++j)
      every[static_cast<size_t>(j) / 64] |= uint64_t{1} << (j % 64);
    for (size_t t = 0; t < n; ++t)
      std::copy(every.begin(), every.end(),
                rows.units.begin() + static_cast<int64_t>(t * rows.words));
  }
  std::mt19937_64 random(seed);
  std::vector<uint32_t> order(n);
  std::iota(order.begin(), order.end(), 0u);
  for (int32_t j = 0; j < permutations; ++j) {
    const size_t word = static_cast<size_t>(j) / 64;
    const uint64_t bit = uint64_t{1} << (j % 64);
    for (size_t i = 0; i < picks; ++i) {
      std::swap(order[i], order[i + uniform_below(random, n - i)]);
      rows.units[order[i] * rows.words + word] ^= bit;
    }
  }
  return rows;
}

RecordRows merge_rows(const RecordRows& parts, const std::vector<int32_t>& record_of_part,
                      int32_t records) {
  RecordRows merged;
  merged.permutations = parts.permutations;
  merged.words = parts.words;
  std::vector<int32_t> weights(static_cast<size_t>(records), 0);
  for (size_t i = 0; i < record_of_part.size(); ++i)
    if (record_of_part[i] >= 0) weights[static_cast<size_t>(record_of_part[i])] += parts.weights[i];
  lay_out_rows(merged, std::move(weights));
  const size_t words = merged.words;
  for (size_t i = 0; i < record_of_part.size(); ++i) {
    if (record_of_part[i] < 0) continue;
    const auto r = static_cast<size_t>(record_of_part[i]);
    const int32_t sum_planes = record_planes(merged, r);
    const int32_t part_planes = record_planes(parts, i);
    // Ripple-carry addition, plane by plane; the sum never outgrows the
    // record's planes, since it is at most the record's weight.
    for (size_t w = 0; w < words; ++w) {
      uint64_t carry = 0;
      for (int32_t b = 0; b < sum_planes && (b < part_planes || carry != 0); ++b) {
        const uint64_t x = b < part_planes ? record_plane(parts, i, b)[w] : 0;
        // `merged` is this function's own, so its planes may be written.
        uint64_t& s = const_cast<uint64_t*>(record_plane(merged, r, b))[w];
        const uint64_t sum = s ^ x ^ carry;
        carry = (s & x) | (carry & (s ^ x));
        s = sum;
      }
    }
  }
  return merged;
}
