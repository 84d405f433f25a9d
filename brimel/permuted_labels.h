// Random permutations of the class labels for the permutation test, seeded
// and the same on every machine: the generator is the standard's fully
// specified 64-bit Mersenne twister, the draws below a bound and the shuffle
// are our own (the standard library's distributions and shuffle are not
// fixed by the standard). Each record's labels under every permutation are
// one row of bits, bit j for permutation j.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

// A uniform integer in [0, bound), bound >= 1: a 64-bit draw times the bound,
// the high half kept; draws whose low half falls in the short first stretch
// are rejected, so that every value is equally likely.
uint64_t uniform_below(std::mt19937_64& random, uint64_t bound);

// Records with their class counts under every permutation, bit-sliced: the
// count of record r under permutation j, a number from 0 to weights[r], has
// bit q in bit j of plane q of the record. A plane is `words` 64-bit words
// (a multiple of eight, so that the counting can run over eight words at
// once); bits at and beyond `permutations` are zero. Plane 0 of every record
// lies in `units`, in record order, since most records weigh 1; the further
// planes of the heavier records lie in `high`.
struct RecordRows {
  int32_t permutations = 0;
  size_t words = 0;
  std::vector<int32_t> weights;  // transactions per record
  std::vector<uint64_t> units;   // plane 0 of record r from word r * words
  std::vector<uint64_t> heavy;   // bit r: record r weighs more than 1
  std::vector<uint32_t> first_high{
      0};  // record r: plane q >= 1 from word (first_high[r] + q - 1) * words of `high`
  std::vector<uint64_t> high;
};

// The planes of record r: bit_width(weights[r]).
int32_t record_planes(const RecordRows& rows, size_t r);

// Plane q of record r, q < record_planes(rows, r).
inline const uint64_t* record_plane(const RecordRows& rows, size_t r, int32_t q) {
  return q == 0 ? rows.units.data() + r * rows.words
                : rows.high.data() + (rows.first_high[r] + static_cast<size_t>(q) - 1) * rows.words;
}

// The words a plane needs for `permutations` permutations.
size_t plane_words(int32_t permutations);

// The rows of the transactions, weight 1 each, for `permutations` >= 1
// permutations drawn from `seed`. In permutation j the transactions labelled
// 1 are a uniformly drawn set of as many transactions as in_class marks: a
// Fisher-Yates shuffle of the transaction numbers stopped after that many
// steps (or after as many steps as there are transactions outside the class,
// which then pick the transactions labelled 0), each permutation continuing
// from the order the previous one left.
RecordRows permuted_class_rows(const std::vector<char>& in_class, int32_t permutations,
                               uint64_t seed);

// Records made of the records of `parts`: part i joins record
// record_of_part[i] (none when it is negative), `records` records in all; a
// record that no part joins has weight 0 and no planes.
RecordRows merge_rows(const RecordRows& parts, const std::vector<int32_t>& record_of_part,
                      int32_t records);
