// The intersection kernels, compiled for several processors: the one that
// fits the machine is chosen when the program starts. Each runs over the
// four stretches of the layout (heavy and plain words of each class) so that
// the plain words, nearly all of them, count with a bare popcount.
#include "cover_bitsets.h"

#include <algorithm>

// The versions each kernel is compiled in.
#define CLONED_FOR_POPCOUNT \
  __attribute__((target_clones("arch=icelake-server", "popcnt", "default")))

namespace {

inline int64_t weighted_count(uint64_t word, const uint64_t* plane, const uint64_t* end) {
  int64_t sum = 0;
  for (int shift = 0; plane != end; ++plane, ++shift)
    sum += static_cast<int64_t>(__builtin_popcountll(word & *plane)) << shift;
  return sum;
}

}  // namespace

CoverStretches whole_cover_stretches(const CoverLayout& layout) {
  return CoverStretches{
      {0, layout.positive_heavy_end, layout.positive_words, layout.other_heavy_end, layout.words}};
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

CLONED_FOR_POPCOUNT
CoverCounts intersect_all(const uint64_t* x, const uint64_t* y, uint64_t* out,
                          const CoverLayout& layout, const CoverStretches& s) {
  const uint32_t* pb = layout.plane_begin.data();
  const uint64_t* planes = layout.planes.data();
  int64_t sums[2] = {0, 0};
  for (int part = 0; part < 2; ++part) {
    int64_t sum = 0;
    for (size_t w = s.bound[2 * part]; w < s.bound[2 * part + 1]; ++w) {
      out[w] = x[w] & y[w];
      sum += weighted_count(out[w], planes + pb[w], planes + pb[w + 1]);
    }
    for (size_t w = s.bound[2 * part + 1]; w < s.bound[2 * part + 2]; ++w) {
      out[w] = x[w] & y[w];
      sum += __builtin_popcountll(out[w]);
    }
    sums[part] = sum;
  }
  return CoverCounts{static_cast<int32_t>(sums[0] + sums[1]), static_cast<int32_t>(sums[0])};
}

CLONED_FOR_POPCOUNT
CoverCounts intersect_listed(const uint64_t* x, const uint64_t* y, uint64_t* out,
                             const uint32_t* listed, const CoverLayout& layout,
                             const CoverStretches& s) {
  const uint32_t* pb = layout.plane_begin.data();
  const uint64_t* planes = layout.planes.data();
  int64_t sums[2] = {0, 0};
  for (int part = 0; part < 2; ++part) {
    int64_t sum = 0;
    for (size_t i = s.bound[2 * part]; i < s.bound[2 * part + 1]; ++i) {
      const uint32_t w = listed[i];
      out[w] = x[w] & y[w];
      sum += weighted_count(out[w], planes + pb[w], planes + pb[w + 1]);
    }
    for (size_t i = s.bound[2 * part + 1]; i < s.bound[2 * part + 2]; ++i) {
      const uint32_t w = listed[i];
      out[w] = x[w] & y[w];
      sum += __builtin_popcountll(out[w]);
    }
    sums[part] = sum;
  }
  return CoverCounts{static_cast<int32_t>(sums[0] + sums[1]), static_cast<int32_t>(sums[0])};
}
