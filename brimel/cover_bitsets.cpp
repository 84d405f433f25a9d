// The intersection kernels, compiled for several processors: the one that
// fits the machine is chosen when the program starts.
#include "cover_bitsets.h"

__attribute__((target_clones("arch=icelake-server", "popcnt", "default")))
CoverCounts count_cover(const uint64_t* x, size_t words, size_t positive_words) {
  int64_t positive = 0, negative = 0;
  for (size_t w = 0; w < positive_words; ++w) positive += __builtin_popcountll(x[w]);
  for (size_t w = positive_words; w < words; ++w) negative += __builtin_popcountll(x[w]);
  return CoverCounts{static_cast<int32_t>(positive + negative), static_cast<int32_t>(positive)};
}

__attribute__((target_clones("arch=icelake-server", "popcnt", "default")))
CoverCounts intersect_all(const uint64_t* x, const uint64_t* y, uint64_t* out, size_t words,
                          size_t positive_words) {
  int64_t positive = 0, negative = 0;
  for (size_t w = 0; w < positive_words; ++w) {
    out[w] = x[w] & y[w];
    positive += __builtin_popcountll(out[w]);
  }
  for (size_t w = positive_words; w < words; ++w) {
    out[w] = x[w] & y[w];
    negative += __builtin_popcountll(out[w]);
  }
  return CoverCounts{static_cast<int32_t>(positive + negative), static_cast<int32_t>(positive)};
}

__attribute__((target_clones("arch=icelake-server", "popcnt", "default")))
CoverCounts intersect_listed(const uint64_t* x, const uint64_t* y, uint64_t* out,
                             const uint32_t* listed, size_t count, size_t split) {
  int64_t positive = 0, negative = 0;
  for (size_t i = 0; i < split; ++i) {
    const uint32_t w = listed[i];
    out[w] = x[w] & y[w];
    positive += __builtin_popcountll(out[w]);
  }
  for (size_t i = split; i < count; ++i) {
    const uint32_t w = listed[i];
    out[w] = x[w] & y[w];
    negative += __builtin_popcountll(out[w]);
  }
  return CoverCounts{static_cast<int32_t>(positive + negative), static_cast<int32_t>(positive)};
}
