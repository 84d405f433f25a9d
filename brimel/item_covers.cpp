// Merging records: sorting them by class and frequent items brings equal
// ones together. Within its class a merged record's place then follows the
// number of bit planes its weight needs, most first, so that the words
// needing planes are few and lie together; and within that, its items, the
// most frequent first, so that a pattern's cover gathers in few words.
#include "item_covers.h"

#include <algorithm>
#include <functional>
#include <bit>
#include <numeric>

namespace {

struct MergedRecord {
  int64_t first = 0;  // its frequent item ranks in `projected`
  int64_t end = 0;
  int32_t weight = 0;
};

// Lays out one class's records (in order of planes needed) from word `first_word`
// and returns the end of its heavy words.
size_t lay_out_class(const std::vector<MergedRecord>& records, size_t first_word,
                     const std::vector<int32_t>& projected, ItemCovers& covers) {
  CoverLayout& layout = covers.layout;
  size_t heavy_end = first_word;
  for (size_t i = 0; i < records.size(); ++i) {
    const size_t word = first_word + i / 64;
    const uint64_t bit = uint64_t{1} << (i % 64);
    const uint32_t weight = static_cast<uint32_t>(records[i].weight);
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
    for (int64_t k = records[i].first; k < records[i].end; ++k)
      covers.bits[static_cast<size_t>(projected[k]) * layout.words + word] |= bit;
  }
  return heavy_end;
}

}  // namespace

void build_item_covers(const MiningData& data, int32_t min_sup, int32_t positives,
                       ItemCovers& covers) {
  std::vector<int32_t> item_support(data.item_keys.size(), 0);
  for (const int32_t item : data.items) ++item_support[item];
  std::vector<int32_t> frequent;
  for (size_t item = 0; item < item_support.size(); ++item)
    if (item_support[item] >= min_sup) frequent.push_back(static_cast<int32_t>(item));
  std::stable_sort(frequent.begin(), frequent.end(),
                   [&](int32_t a, int32_t b) { return item_support[a] < item_support[b]; });
  std::vector<int32_t> rank_of(item_support.size(), -1);
  for (size_t r = 0; r < frequent.size(); ++r) rank_of[frequent[r]] = static_cast<int32_t>(r);
  covers.rank_item = frequent;

  // Each record as its frequent items' ranks, descending.
  const int32_t n = transaction_count(data);
  std::vector<int32_t> projected;
  std::vector<int64_t> offsets{0};
  projected.reserve(data.items.size());
  offsets.reserve(static_cast<size_t>(n) + 1);
  for (int32_t t = 0; t < n; ++t) {
    const size_t start = projected.size();
    for (int64_t i = data.offsets[t]; i < data.offsets[t + 1]; ++i)
      if (rank_of[data.items[i]] >= 0) projected.push_back(rank_of[data.items[i]]);
    std::sort(projected.begin() + static_cast<int64_t>(start), projected.end(), std::greater<>());
    offsets.push_back(static_cast<int64_t>(projected.size()));
  }
  auto positive = [&](int32_t t) { return positives > 0 && data.labels[t] == 1; };
  auto same_class_before = [&](int32_t a, int32_t b) {
    return std::lexicographical_compare(projected.begin() + offsets[a], projected.begin() + offsets[a + 1],
                                        projected.begin() + offsets[b], projected.begin() + offsets[b + 1]);
  };
  std::vector<int32_t> order(static_cast<size_t>(n));
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
    if (positive(a) != positive(b)) return positive(a);
    return same_class_before(a, b);
  });
  std::vector<MergedRecord> merged[2];  // rule class, others
  for (size_t i = 0; i < order.size();) {
    size_t j = i + 1;
    while (j < order.size() && positive(order[j]) == positive(order[i]) &&
           !same_class_before(order[i], order[j]))
      ++j;
    merged[positive(order[i]) ? 0 : 1].push_back(
        MergedRecord{offsets[order[i]], offsets[order[i] + 1], static_cast<int32_t>(j - i)});
    i = j;
  }
  for (std::vector<MergedRecord>& records : merged)
    std::stable_sort(records.begin(), records.end(),
                     [](const MergedRecord& a, const MergedRecord& b) {
                       return std::bit_width(static_cast<uint32_t>(a.weight)) >
                              std::bit_width(static_cast<uint32_t>(b.weight));
                     });

  CoverLayout& layout = covers.layout;
  layout = CoverLayout{};
  layout.positive_words = (merged[0].size() + 63) / 64;
  layout.words = layout.positive_words + (merged[1].size() + 63) / 64;
  covers.bits.assign(frequent.size() * layout.words, 0);
  covers.all.assign(layout.words, 0);
  layout.positive_heavy_end = lay_out_class(merged[0], 0, projected, covers);
  layout.other_heavy_end = lay_out_class(merged[1], layout.positive_words, projected, covers);
  layout.plane_begin.resize(layout.other_heavy_end + 1, static_cast<uint32_t>(layout.planes.size()));
}
