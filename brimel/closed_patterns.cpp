// The closure checks of the search: items alone against their equals in
// support, patterns below an item against the items their records share.
#include "closed_patterns.h"

#include <algorithm>
#include <bit>

namespace {

void set_rank(uint64_t* items, int32_t rank) {
  items[static_cast<size_t>(rank) / 64] |= uint64_t{1} << (rank % 64);
}

}  // namespace

std::vector<char> closed_items(const ItemCovers& covers, int32_t frequent) {
  const size_t words = covers.layout.words;
  const uint64_t* bits = covers.bits.data();
  std::vector<int32_t> support(static_cast<size_t>(frequent));
  for (int32_t r = 0; r < frequent; ++r)
    support[static_cast<size_t>(r)] =
        count_cover(bits + static_cast<size_t>(r) * words, covers.layout).support;
  // An item ranked below holds every record of the cover only with as many
  // records, and ranks ascend by support: only equal supports can share a cover.
  std::vector<char> closed(static_cast<size_t>(frequent), 1);
  for (int32_t r = 0; r < frequent; ++r) {
    const uint64_t* x = bits + static_cast<size_t>(r) * words;
    for (int32_t j = r - 1; j >= 0 && support[static_cast<size_t>(j)] == support[r]; --j)
      if (std::equal(x, x + words, bits + static_cast<size_t>(j) * words)) {
        closed[static_cast<size_t>(r)] = 0;
        break;
      }
  }
  return closed;
}

void start_closure(ClosureScratch& closure, int32_t frequent, size_t levels,
                   const std::vector<int32_t>& in_every) {
  closure.words = (static_cast<size_t>(frequent) + 63) / 64;
  closure.known.assign(levels * closure.words, 0);
  for (const int32_t rank : in_every) set_rank(closure.known.data(), rank);
  closure.closed.assign(levels, 0);
  closure.closed[0] = 1;
  closure.packed_shared.resize(levels);
  closure.record.assign(closure.words, 0);
}

void share_items(ClosureScratch& closure, const ItemCovers& whole, const uint64_t* item_bits,
                 const std::vector<int32_t>& bit_of_record, size_t words) {
  const size_t w = closure.words;
  closure.shared.assign(words * 64 * w, 0);
  closure.seen.assign(words * 64, 0);
  const CoverLayout& layout = whole.layout;
  const RecordSet& merged = whole.merged;
  const auto positives = static_cast<int64_t>(whole.positive_records);
  size_t next = 0;
  // The item's records in bit order, as the layout was given them.
  for (size_t word = 0; word < layout.words; ++word)
    for (uint64_t bits = item_bits[word]; bits != 0; bits &= bits - 1) {
      const int64_t bit = static_cast<int64_t>(word * 64) + std::countr_zero(bits);
      const int32_t r = whole.in_bit_order[static_cast<size_t>(
          word < layout.positive_words
              ? bit
              : bit - static_cast<int64_t>(layout.positive_words * 64) + positives)];
      std::vector<uint64_t>& items = closure.record;
      std::fill(items.begin(), items.end(), 0);
      for (int64_t k = merged.offsets[r]; k < merged.offsets[r + 1]; ++k)
        set_rank(items.data(), merged.ranks[k]);
      const auto to = static_cast<size_t>(bit_of_record[next++]);
      uint64_t* shared = closure.shared.data() + to * w;
      if (!closure.seen[to]) {
        closure.seen[to] = 1;
        std::copy(items.begin(), items.end(), shared);
      } else {
        for (size_t i = 0; i < w; ++i) shared[i] &= items[i];
      }
    }
}

void pack_shared_items(ClosureScratch& closure, int depth, const uint64_t* shared,
                       const uint64_t* mask, size_t positive_words, const uint32_t* listed,
                       size_t count, const CoverLayout& packed) {
  const size_t w = closure.words;
  std::vector<uint64_t>& out = closure.packed_shared[static_cast<size_t>(depth)];
  out.resize(packed.words * 64 * w);
  // The records keep their order: the rule class's from bit 0, the others'
  // from the packed layout's own positive words on.
  size_t next[2] = {0, packed.positive_words * 64};
  for (size_t i = 0; i < count; ++i) {
    const size_t word = listed == nullptr ? i : listed[i];
    size_t& to = next[word < positive_words ? 0 : 1];
    for (uint64_t b = mask[word]; b != 0; b &= b - 1) {
      const size_t from = word * 64 + static_cast<size_t>(std::countr_zero(b));
      std::copy(shared + from * w, shared + (from + 1) * w, out.data() + to++ * w);
    }
  }
}

namespace {

// Whether some item of `left` (`Span` words; 0: `span` words at run time)
// lies in every record of the cover: ANDs the records' shared items into it
// until none is left. Records lie sorted by their items, so neighbours share
// most of them: the first and the last record of each word go first, which
// settles most covers that are closed in a few records; then every record,
// those two again included. A fixed span keeps `left` in registers.
template <size_t Span>
bool any_item_in_every_record(uint64_t* left, size_t span, const uint64_t* shared, size_t w,
                              const uint64_t* bits, size_t words, const uint32_t* listed,
                              size_t count) {
  const size_t width = Span == 0 ? span : Span;
  const size_t n = listed == nullptr ? words : count;
  auto keep_shared = [&](size_t word, int bit) {
    const uint64_t* items = shared + (word * 64 + static_cast<size_t>(bit)) * w;
    uint64_t any = 0;
    for (size_t i = 0; i < width; ++i) any |= left[i] &= items[i];
    return any != 0;
  };
  for (size_t j = 0; j < n; ++j) {
    const size_t word = listed == nullptr ? j : listed[j];
    const uint64_t b = bits[word];
    if (b != 0 &&
        (!keep_shared(word, std::countr_zero(b)) || !keep_shared(word, 63 - std::countl_zero(b))))
      return false;
  }
  for (size_t j = 0; j < n; ++j) {
    const size_t word = listed == nullptr ? j : listed[j];
    for (uint64_t b = bits[word]; b != 0; b &= b - 1)
      if (!keep_shared(word, std::countr_zero(b))) return false;
  }
  return true;
}

}  // namespace

bool cover_is_closed(ClosureScratch& closure, int depth, int32_t last_rank, const uint64_t* shared,
                     const uint64_t* bits, size_t words, const uint32_t* listed, size_t count) {
  const size_t w = closure.words;
  const uint64_t* known = closure.known.data() + static_cast<size_t>(depth - 1) * w;
  // The items that would make the pattern not closed: ranked below its last
  // item, and neither on its path nor found in every record on the way.
  uint64_t* left = closure.record.data();
  const size_t span = (static_cast<size_t>(last_rank) + 63) / 64;
  uint64_t any = 0;
  for (size_t i = 0; i < span; ++i) {
    const uint64_t below = static_cast<int64_t>(i) < last_rank / 64
                               ? ~uint64_t{0}
                               : (uint64_t{1} << (last_rank % 64)) - 1;
    any |= left[i] = below & ~known[i];
  }
  if (any == 0) return true;
  switch (span) {
    case 1:
      return !any_item_in_every_record<1>(left, span, shared, w, bits, words, listed, count);
    case 2:
      return !any_item_in_every_record<2>(left, span, shared, w, bits, words, listed, count);
    case 3:
      return !any_item_in_every_record<3>(left, span, shared, w, bits, words, listed, count);
    default:
      return !any_item_in_every_record<0>(left, span, shared, w, bits, words, listed, count);
  }
}

void know_items(ClosureScratch& closure, int depth, int32_t rank,
                const std::vector<int32_t>& perfect) {
  const size_t w = closure.words;
  uint64_t* known = closure.known.data() + static_cast<size_t>(depth) * w;
  std::copy(known - w, known, known);
  set_rank(known, rank);
  for (const int32_t r : perfect) set_rank(known, r);
}
