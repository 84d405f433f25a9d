// A pattern's class count under every permutation at once, from the rows of
// the records its cover holds: bit-sliced counters, one plane per bit of the
// count, each plane one bit per permutation. Rows are summed sixteen at a
// time through a tree of carry-save adders, so that adding a record costs a
// few word operations per 64 permutations; a child's counts are its parent's
// less the records it lost when those are fewer than the records it kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "permuted_labels.h"

// The counts of one cover: the count under permutation j has bit b in bit j
// of plane b, for b < planes.
struct PermutedCounts {
  int32_t support = 0;  // the cover's weight, which no count exceeds
  int32_t planes = 0;   // bits of `support`
  std::vector<uint64_t>
      bits;  // plane b from word b * words; more planes than `planes` for the adder
};

// A cover as the search holds it: bit i stands for record i of the rows.
// With `listed` null every one of the `words` words is read; else only the
// `listed_count` words it lists, the others counting as zero whatever they
// hold.
struct CoverWords {
  const uint64_t* bits = nullptr;
  size_t words = 0;
  const uint32_t* listed = nullptr;
  size_t listed_count = 0;
};

// Room the counting reuses from one cover to the next; one per thread.
struct CountingScratch {
  std::vector<uint64_t> zero;     // a plane of zeros, to fill a short batch of rows
  std::vector<uint32_t> records;  // the records of the cover being counted
  PermutedCounts lost;            // the records a child lost
};

// Sets `out` to the counts of the records in `cover`, whose weight is
// `support` (the pattern's support).
void count_cover(const RecordRows& rows, const CoverWords& cover, int32_t support,
                 CountingScratch& scratch, PermutedCounts& out);

// Sets `out` to the counts of `child`, a cover inside `parent` of weight
// `support`, where `parent_counts` are the counts of `parent`: from the
// records the child lost or from those it kept, whichever are fewer. Both
// covers are read over the words `parent` lists; `out` must not be
// `parent_counts`.
void count_child_cover(const RecordRows& rows, const CoverWords& parent,
                       const PermutedCounts& parent_counts, const uint64_t* child, int32_t support,
                       CountingScratch& scratch, PermutedCounts& out);

// Sets bit j of `flags` (rows.words words) for every permutation j whose
// count lies outside [low, high], low <= high; bits of no permutation stay 0.
void flag_counts_outside(const PermutedCounts& counts, const RecordRows& rows, int32_t low,
                         int32_t high, uint64_t* flags);

// The count under permutation j.
int32_t count_under(const PermutedCounts& counts, size_t words, int32_t j);
