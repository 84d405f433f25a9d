// Covers as bitsets over the merged records, the rule class in the leading
// words: intersecting two covers also counts the weighted supports of the
// result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct CoverCounts {
  int32_t support = 0;
  int32_t class_support = 0;
};

// Where the records lie in a bitset. Records of the rule class come first,
// the others from word `positive_words` on; within each, heavier records come
// first. A record's weight is written in bit planes: in a heavy word (one
// that holds a record of weight above 1), plane b masks the records whose
// weight has bit b set, so a word counts sum_b popcount(word & plane b) << b.
// Every other word counts its plain popcount.
struct CoverLayout {
  size_t words = 0;
  size_t positive_words = 0;
  size_t positive_heavy_end = 0;  // words [0, this) are heavy
  size_t other_heavy_end = 0;     // and so are [positive_words, this)
  // Per word up to other_heavy_end, into `planes`; one more at the end.
  std::vector<uint32_t> plane_begin;
  std::vector<uint64_t> planes;
};

// Where the four stretches of a cover begin and end (heavy rule class, plain
// rule class, heavy others, plain others): as word numbers for a whole cover,
// or as positions in a list of words.
struct CoverStretches {
  size_t bound[5] = {};
};

CoverStretches whole_cover_stretches(const CoverLayout& layout);
// `listed` ascending.
CoverStretches listed_stretches(const uint32_t* listed, size_t count, const CoverLayout& layout);

// The counts of x.
CoverCounts count_cover(const uint64_t* x, const CoverLayout& layout);

// out = x & y over every word; `stretches` from whole_cover_stretches.
CoverCounts intersect_all(const uint64_t* x, const uint64_t* y, uint64_t* out,
                          const CoverLayout& layout, const CoverStretches& stretches);

// The same over the words listed in `listed` (ascending) only, `stretches`
// from listed_stretches; other words of `out` are not touched.
CoverCounts intersect_listed(const uint64_t* x, const uint64_t* y, uint64_t* out,
                             const uint32_t* listed, const CoverLayout& layout,
                             const CoverStretches& stretches);
