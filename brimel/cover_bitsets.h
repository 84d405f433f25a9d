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

inline CoverStretches whole_cover_stretches(const CoverLayout& layout) {
  return CoverStretches{
      {0, layout.positive_heavy_end, layout.positive_words, layout.other_heavy_end, layout.words}};
}
// `listed` ascending.
CoverStretches listed_stretches(const uint32_t* listed, size_t count, const CoverLayout& layout);

// The counts of x.
CoverCounts count_cover(const uint64_t* x, const CoverLayout& layout);

// out = x & y over every word; `stretches` from whole_cover_stretches.
CoverCounts intersect_all(const uint64_t* x, const uint64_t* y, uint64_t* out,
                          const CoverLayout& layout, const CoverStretches& stretches);

// The number of bits set in x over the words listed (ascending; every word
// when `listed` is null).
int64_t count_bits(const uint64_t* x, const uint32_t* listed, size_t count, size_t words);

// The records of a cover `mask`, read over the words `listed` lists (null:
// every word), as a layout of their own: record i of the rule class (in bit
// order) at bit i, the others' from word `positive_words` on. Heavy words and
// planes follow the records' weights as in any layout. `mask` is kept, so
// that covers inside it can be packed into the new layout.
struct PackedSpace {
  CoverLayout layout;
  const uint64_t* mask = nullptr;
  const uint32_t* listed = nullptr;
  size_t listed_count = 0;  // words read of the old layout
};

// Lays out `packed` for the cover `mask` of `old` read over `listed`
// (`count` words; null: every word).
void pack_layout(const CoverLayout& old, const uint64_t* mask, const uint32_t* listed, size_t count,
                 PackedSpace& packed);

// Writes into `out` (packed.layout.words words) the cover `y`, inside the
// mask, as the packed layout lays it out.
void pack_cover(const CoverLayout& old, const PackedSpace& packed, const uint64_t* y,
                uint64_t* out);

// One of the covers intersect_and_keep keeps: the candidate it came from
// and its counts.
struct KeptCover {
  int32_t candidate = 0;
  CoverCounts counts;
};

// The frequent proper subsets of x among its intersections with `count`
// covers, the i-th at ys + i * layout.words: x & y is written at
// out + kept * layout.words and kept when its support is at least
// `min_support` and below `x_support`, else its room is used by the next.
// Writes each kept one's candidate and counts to `kept`, in candidate order,
// adds to `perfect` the number with support `x_support` (and, when
// `perfect_candidates` is not null, writes those candidates there), and
// returns the number kept. Reads and writes every word when `listed` is null, else only
// the words it lists (ascending); `stretches` from whole_cover_stretches or
// listed_stretches accordingly.
int intersect_and_keep(const uint64_t* x, const uint64_t* ys, int count, uint64_t* out,
                       const uint32_t* listed, const CoverLayout& layout,
                       const CoverStretches& stretches, int32_t min_support, int32_t x_support,
                       KeptCover* kept, int& perfect, int32_t* perfect_candidates = nullptr);
