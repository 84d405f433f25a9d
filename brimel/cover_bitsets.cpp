// The intersection kernels, compiled for several processors: the one that
// fits the machine is chosen when the program starts. Each runs over the
// four stretches of the layout (heavy and plain words of each class) so that
// the plain words, nearly all of them, count with a bare popcount.
#include "cover_bitsets.h"

#include <immintrin.h>

#include <algorithm>

// The versions each kernel is compiled in.
#define CLONED_FOR_POPCOUNT \
  __attribute__((target_clones("arch=icelake-server", "popcnt", "default")))

namespace {

// A heavy word has two planes at least (a weight above 1 needs two bits).
inline int64_t weighted_count(uint64_t word, const uint64_t* plane, const uint64_t* end) {
  int64_t sum = __builtin_popcountll(word & plane[0]) +
                (static_cast<int64_t>(__builtin_popcountll(word & plane[1])) << 1);
  plane += 2;
  for (int shift = 2; plane != end; ++plane, ++shift)
    sum += static_cast<int64_t>(__builtin_popcountll(word & *plane)) << shift;
  return sum;
}

// The bits of `y` under `mask`, packed to the low end: one instruction where
// the processor has it, else bit by bit.
struct ExtractByInstruction {
  __attribute__((target("bmi2,popcnt"))) uint64_t operator()(uint64_t y, uint64_t mask) const {
    return _pext_u64(y, mask);
  }
};
struct ExtractByLoop {
  uint64_t operator()(uint64_t y, uint64_t mask) const {
    uint64_t packed = 0;
    for (uint64_t bit = 1; mask != 0; mask &= mask - 1, bit <<= 1)
      if (y & mask & (~mask + 1)) packed |= bit;
    return packed;
  }
};

const bool has_bit_extract = __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");

// Appends the `count` low bits of `bits` at bit `pos` of the words `word(i)`,
// none at or after bit `end` but in the word of `pos`.
template <class Word>
inline void append_bits(uint64_t bits, int count, size_t& pos, size_t end, const Word& word) {
  const size_t shift = pos % 64;
  if (count == 0) return;
  word(pos / 64) |= bits << shift;
  if (shift + static_cast<size_t>(count) > 64 && (pos / 64 + 1) * 64 < end)
    word(pos / 64 + 1) |= bits >> (64 - shift);
  pos += static_cast<size_t>(count);
}

// Packs, for each class in turn, `source(w)` under the mask over the listed
// words of that class into the words `word(v)`: the rule class's from bit 0,
// the others' from bit `other_begin`; stops a class once `limit[class]`
// bits are written.
template <class Extract, class Source, class Word>
__attribute__((always_inline)) inline void pack_stream(const Extract& extract,
                                                       const CoverLayout& old,
                                                       const PackedSpace& packed,
                                                       const Source& source, const Word& word,
                                                       size_t other_begin, const size_t* limit) {
  size_t pos = 0;
  int part = 0;
  for (size_t i = 0; i < packed.listed_count; ++i) {
    const size_t w = packed.listed == nullptr ? i : packed.listed[i];
    if (part == 0 && w >= old.positive_words) {
      part = 1;
      pos = other_begin;
    }
    if (pos >= limit[part]) {
      if (part == 1) break;
      continue;
    }
    const uint64_t mask = packed.mask[w];
    append_bits(extract(source(w), mask), __builtin_popcountll(mask), pos, limit[part], word);
  }
}

template <class Extract>
__attribute__((always_inline)) inline void pack_cover_with(const Extract& extract,
                                                           const CoverLayout& old,
                                                           const PackedSpace& packed,
                                                           const uint64_t* y, uint64_t* out) {
  std::fill(out, out + packed.layout.words, 0);
  const size_t limit[2] = {SIZE_MAX, SIZE_MAX};
  pack_stream(
      extract, old, packed, [&](size_t w) { return y[w]; },
      [&](size_t v) -> uint64_t& { return out[v]; }, packed.layout.positive_words * 64, limit);
}

// Fills the planes of the packed layout's heavy words: plane b packs the old
// heavy words' plane b (zero where they have fewer) and, for the plain
// records that share a heavy word with them, weight 1. The words' plane
// counts never rise along a class, so plane b belongs to a leading run of
// its heavy words.
template <class Extract>
__attribute__((always_inline)) inline void pack_planes_with(const Extract& extract,
                                                            const CoverLayout& old,
                                                            PackedSpace& packed) {
  CoverLayout& layout = packed.layout;
  const size_t heavy_end[2] = {old.positive_heavy_end, old.other_heavy_end};
  const size_t first[2] = {0, layout.positive_words};
  const size_t last[2] = {layout.positive_heavy_end, layout.other_heavy_end};
  size_t with_plane[2] = {last[0], last[1]};  // end of the words that have plane b
  auto planes_of = [&](size_t v) { return layout.plane_begin[v + 1] - layout.plane_begin[v]; };
  for (uint32_t b = 0;; ++b) {
    for (int part = 0; part < 2; ++part)
      while (with_plane[part] > first[part] && planes_of(with_plane[part] - 1) <= b)
        --with_plane[part];
    if (with_plane[0] == first[0] && with_plane[1] == first[1]) break;
    const size_t limit[2] = {with_plane[0] * 64, with_plane[1] * 64};
    auto source = [&](size_t w) -> uint64_t {
      const size_t end = heavy_end[w < old.positive_words ? 0 : 1];
      if (w >= end) return b == 0 ? ~uint64_t{0} : 0;
      const uint32_t plane = old.plane_begin[w] + b;
      return plane < old.plane_begin[w + 1] ? old.planes[plane] : 0;
    };
    auto word = [&](size_t v) -> uint64_t& { return layout.planes[layout.plane_begin[v] + b]; };
    pack_stream(extract, old, packed, source, word, first[1] * 64, limit);
  }
}

__attribute__((target("bmi2,popcnt"))) void pack_cover_by_instruction(const CoverLayout& old,
                                                                      const PackedSpace& packed,
                                                                      const uint64_t* y,
                                                                      uint64_t* out) {
  pack_cover_with(ExtractByInstruction{}, old, packed, y, out);
}

template <class Extract>
__attribute__((always_inline)) inline void pack_layout_with(const Extract& extract,
                                                            const CoverLayout& old,
                                                            const uint64_t* mask,
                                                            const uint32_t* listed, size_t count,
                                                            PackedSpace& packed) {
  packed.mask = mask;
  packed.listed = listed;
  packed.listed_count = listed == nullptr ? old.words : count;
  const size_t heavy_end[2] = {old.positive_heavy_end, old.other_heavy_end};
  auto word_at = [&](size_t i) { return listed == nullptr ? i : size_t{listed[i]}; };
  size_t records[2] = {0, 0}, heavy[2] = {0, 0};  // per class
  for (size_t i = 0; i < packed.listed_count; ++i) {
    const size_t w = word_at(i);
    const int part = w < old.positive_words ? 0 : 1;
    const size_t n = static_cast<size_t>(__builtin_popcountll(mask[w]));
    records[part] += n;
    if (w < heavy_end[part]) heavy[part] += n;
  }
  CoverLayout& layout = packed.layout;
  layout.positive_words = (records[0] + 63) / 64;
  layout.words = layout.positive_words + (records[1] + 63) / 64;
  layout.positive_heavy_end = (heavy[0] + 63) / 64;
  layout.other_heavy_end = layout.positive_words + (heavy[1] + 63) / 64;
  // A heavy word gets the planes of the old word of its first record, the
  // heaviest in it.
  layout.plane_begin.assign(layout.other_heavy_end + 1, 0);
  size_t pos[2] = {0, 0};
  for (size_t i = 0; i < packed.listed_count; ++i) {
    const size_t w = word_at(i);
    const int part = w < old.positive_words ? 0 : 1;
    const size_t n = static_cast<size_t>(__builtin_popcountll(mask[w]));
    if (w >= heavy_end[part] || n == 0) continue;
    const size_t base = part == 0 ? 0 : layout.positive_words;
    for (size_t v = (pos[part] + 63) / 64; v * 64 < pos[part] + n; ++v)
      layout.plane_begin[base + v] = old.plane_begin[w + 1] - old.plane_begin[w];
    pos[part] += n;
  }
  uint32_t next = 0;
  for (uint32_t& begin : layout.plane_begin) {
    const uint32_t planes = begin;
    begin = next;
    next += planes;
  }
  layout.planes.assign(next, 0);
  pack_planes_with(extract, old, packed);
}

__attribute__((target("bmi2,popcnt"))) void pack_layout_by_instruction(const CoverLayout& old,
                                                                       const uint64_t* mask,
                                                                       const uint32_t* listed,
                                                                       size_t count,
                                                                       PackedSpace& packed) {
  pack_layout_with(ExtractByInstruction{}, old, mask, listed, count, packed);
}

}  // namespace

CLONED_FOR_POPCOUNT
int64_t count_bits(const uint64_t* x, const uint32_t* listed, size_t count, size_t words) {
  int64_t sum = 0;
  if (listed == nullptr) {
    for (size_t w = 0; w < words; ++w) sum += __builtin_popcountll(x[w]);
  } else {
    for (size_t i = 0; i < count; ++i) sum += __builtin_popcountll(x[listed[i]]);
  }
  return sum;
}

void pack_layout(const CoverLayout& old, const uint64_t* mask, const uint32_t* listed, size_t count,
                 PackedSpace& packed) {
  if (has_bit_extract)
    pack_layout_by_instruction(old, mask, listed, count, packed);
  else
    pack_layout_with(ExtractByLoop{}, old, mask, listed, count, packed);
}

void pack_cover(const CoverLayout& old, const PackedSpace& packed, const uint64_t* y,
                uint64_t* out) {
  if (has_bit_extract)
    pack_cover_by_instruction(old, packed, y, out);
  else
    pack_cover_with(ExtractByLoop{}, old, packed, y, out);
}

CoverStretches listed_stretches(const uint32_t* listed, size_t count, const CoverLayout& layout) {
  const size_t words[3] = {layout.positive_heavy_end, layout.positive_words,
                           layout.other_heavy_end};
  CoverStretches s{{0, 0, 0, 0, count}};
  for (int i = 0; i < 3; ++i)
    s.bound[i + 1] =
        static_cast<size_t>(std::lower_bound(listed, listed + count, words[i]) - listed);
  return s;
}

CLONED_FOR_POPCOUNT
CoverCounts count_cover(const uint64_t* x, const CoverLayout& layout) {
  const CoverStretches s = whole_cover_stretches(layout);
  const uint32_t* pb = layout.plane_begin.data();
  const uint64_t* planes = layout.planes.data();
  int64_t sums[2] = {0, 0};
  for (int part = 0; part < 2; ++part) {
    int64_t sum = 0;
    for (size_t w = s.bound[2 * part]; w < s.bound[2 * part + 1]; ++w)
      sum += weighted_count(x[w], planes + pb[w], planes + pb[w + 1]);
    for (size_t w = s.bound[2 * part + 1]; w < s.bound[2 * part + 2]; ++w)
      sum += __builtin_popcountll(x[w]);
    sums[part] = sum;
  }
  return CoverCounts{static_cast<int32_t>(sums[0] + sums[1]), static_cast<int32_t>(sums[0])};
}

namespace {

// A layout's stretches and planes as values of their own, so that writing a
// cover cannot be taken to change them.
struct Stretches {
  size_t heavy_positive_end, positive_end, heavy_other_end, end;
  const uint32_t* plane_begin;
  const uint64_t* planes;
};

inline Stretches stretches_of(const CoverLayout& layout, const CoverStretches& s) {
  return Stretches{
      s.bound[1],          s.bound[2], s.bound[3], s.bound[4], layout.plane_begin.data(),
      layout.planes.data()};
}

// out = x & y over the words `word(i)`, i in the stretches, with the counts.
template <class Word>
__attribute__((always_inline)) inline CoverCounts intersect_stretches(const uint64_t* __restrict x,
                                                                      const uint64_t* __restrict y,
                                                                      uint64_t* __restrict out,
                                                                      const Stretches s,
                                                                      const Word& word) {
  int64_t positive = 0;
  int64_t other = 0;
  for (size_t i = 0; i < s.heavy_positive_end; ++i) {
    const size_t w = word(i);
    const uint64_t v = x[w] & y[w];
    out[w] = v;
    positive += weighted_count(v, s.planes + s.plane_begin[w], s.planes + s.plane_begin[w + 1]);
  }
  for (size_t i = s.heavy_positive_end; i < s.positive_end; ++i) {
    const size_t w = word(i);
    const uint64_t v = x[w] & y[w];
    out[w] = v;
    positive += __builtin_popcountll(v);
  }
  for (size_t i = s.positive_end; i < s.heavy_other_end; ++i) {
    const size_t w = word(i);
    const uint64_t v = x[w] & y[w];
    out[w] = v;
    other += weighted_count(v, s.planes + s.plane_begin[w], s.planes + s.plane_begin[w + 1]);
  }
  for (size_t i = s.heavy_other_end; i < s.end; ++i) {
    const size_t w = word(i);
    const uint64_t v = x[w] & y[w];
    out[w] = v;
    other += __builtin_popcountll(v);
  }
  return CoverCounts{static_cast<int32_t>(positive + other), static_cast<int32_t>(positive)};
}

}  // namespace

CLONED_FOR_POPCOUNT
CoverCounts intersect_all(const uint64_t* x, const uint64_t* y, uint64_t* out,
                          const CoverLayout& layout, const CoverStretches& s) {
  return intersect_stretches(x, y, out, stretches_of(layout, s), [](size_t i) { return i; });
}

namespace {

template <class Word>
__attribute__((always_inline)) inline int keep_intersections(
    const uint64_t* x, const uint64_t* ys, int count, uint64_t* out, const CoverLayout& layout,
    const CoverStretches& s, const Word& word, int32_t min_support, int32_t x_support,
    KeptCover* kept, int& perfect, int32_t* perfect_candidates) {
  const size_t words = layout.words;
  const Stretches stretches = stretches_of(layout, s);
  int n = 0;
  int same = 0;
  for (int i = 0; i < count; ++i) {
    const CoverCounts c =
        intersect_stretches(x, ys + static_cast<size_t>(i) * words,
                            out + static_cast<size_t>(n) * words, stretches, word);
    kept[n] = KeptCover{i, c};
    if (perfect_candidates != nullptr && c.support == x_support) perfect_candidates[same] = i;
    same += c.support == x_support;
    n += c.support >= min_support && c.support != x_support;
  }
  perfect += same;
  return n;
}

}  // namespace

CLONED_FOR_POPCOUNT
int intersect_and_keep(const uint64_t* x, const uint64_t* ys, int count, uint64_t* out,
                       const uint32_t* listed, const CoverLayout& layout, const CoverStretches& s,
                       int32_t min_support, int32_t x_support, KeptCover* kept, int& perfect,
                       int32_t* perfect_candidates) {
  if (listed == nullptr)
    return keep_intersections(
        x, ys, count, out, layout, s, [](size_t k) { return k; }, min_support, x_support, kept,
        perfect, perfect_candidates);
  return keep_intersections(
      x, ys, count, out, layout, s, [listed](size_t k) { return size_t{listed[k]}; }, min_support,
      x_support, kept, perfect, perfect_candidates);
}
