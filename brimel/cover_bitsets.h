// Covers as bitsets of transactions, the rule class in the leading words:
// intersecting two covers also counts the supports of the result.
#pragma once

#include <cstddef>
#include <cstdint>

struct CoverCounts {
  int32_t support = 0;
  int32_t class_support = 0;
};

// The counts of x over `words` words, of which the first `positive_words`
// hold the rule class.
CoverCounts count_cover(const uint64_t* x, size_t words, size_t positive_words);

// out = x & y over `words` words, of which the first `positive_words` hold
// the rule class.
CoverCounts intersect_all(const uint64_t* x, const uint64_t* y, uint64_t* out, size_t words,
                          size_t positive_words);

// The same over the `count` words listed in `listed` (ascending) only, the
// first `split` of them rule-class words; other words of `out` are not
// touched.
CoverCounts intersect_listed(const uint64_t* x, const uint64_t* y, uint64_t* out,
                             const uint32_t* listed, size_t count, size_t split);
