// Bit-sliced counting. The adder of sixteen rows, where nearly all the time
// goes, is built three times: for 512-bit, 256-bit and 128-bit vector
// registers (the compiler's vector extension), each with the instruction set
// it needs, and the processor's widest is chosen once; the counts are the
// same integers whichever runs. Every plane is a multiple of eight words.
// The other loops run over two words at a time.
#include "permuted_counts.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

// The vector types are wider than the baseline's registers only inside
// functions built for a wider instruction set, and never cross a call that
// is not inlined, so the calling convention does not matter.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace {

// (An alias template would drop the vector attribute.)
using Lanes = uint64_t __attribute__((vector_size(16)));
using Lanes256 = uint64_t __attribute__((vector_size(32)));
using Lanes512 = uint64_t __attribute__((vector_size(64)));
constexpr size_t kLaneWords = 2;
constexpr int kBatch = 16;
constexpr int kMaxRecordPlanes = 32;  // a weight is below 2^31

template <typename V>
[[gnu::always_inline]] inline V load(const uint64_t* p) {
  V v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <typename V>
[[gnu::always_inline]] inline void store(uint64_t* p, const V& v) {
  std::memcpy(p, &v, sizeof v);
}

// A full adder on every bit: high:low = a + b + c; `low` may be `a`.
template <typename V>
[[gnu::always_inline]] inline void add_three(V& high, V& low, const V& a, const V& b, const V& c) {
  const V u = a ^ b;
  high = (a & b) | (u & c);
  low = u ^ c;
}

using Batch = std::array<const uint64_t*, kBatch>;

// Adds sixteen one-plane inputs, each of weight 2^base, into the counter
// `acc`, whose sum stays below 2^planes. Planes base .. base + 3 take the
// roles of ones, twos, fours and eights of the carry-save tree (they hold the
// sum's bits again after every batch, and must exist even above `planes`);
// the sixteens ripple up from plane base + 4.
template <typename V>
[[gnu::always_inline]] inline void add_sixteen_in(uint64_t* acc, size_t words, int base, int planes,
                                                  const Batch& in) {
  for (size_t w = 0; w < words; w += sizeof(V) / sizeof(uint64_t)) {
    uint64_t* a = acc + static_cast<size_t>(base) * words + w;
    V ones = load<V>(a);
    V twos = load<V>(a + words);
    V fours = load<V>(a + 2 * words);
    V eights = load<V>(a + 3 * words);
    V twos_a, twos_b, fours_a, fours_b, eights_a, eights_b, sixteens;
    add_three(twos_a, ones, ones, load<V>(in[0] + w), load<V>(in[1] + w));
    add_three(twos_b, ones, ones, load<V>(in[2] + w), load<V>(in[3] + w));
    add_three(fours_a, twos, twos, twos_a, twos_b);
    add_three(twos_a, ones, ones, load<V>(in[4] + w), load<V>(in[5] + w));
    add_three(twos_b, ones, ones, load<V>(in[6] + w), load<V>(in[7] + w));
    add_three(fours_b, twos, twos, twos_a, twos_b);
    add_three(eights_a, fours, fours, fours_a, fours_b);
    add_three(twos_a, ones, ones, load<V>(in[8] + w), load<V>(in[9] + w));
    add_three(twos_b, ones, ones, load<V>(in[10] + w), load<V>(in[11] + w));
    add_three(fours_a, twos, twos, twos_a, twos_b);
    add_three(twos_a, ones, ones, load<V>(in[12] + w), load<V>(in[13] + w));
    add_three(twos_b, ones, ones, load<V>(in[14] + w), load<V>(in[15] + w));
    add_three(fours_b, twos, twos, twos_a, twos_b);
    add_three(eights_b, fours, fours, fours_a, fours_b);
    add_three(sixteens, eights, eights, eights_a, eights_b);
    store(a, ones);
    store(a + words, twos);
    store(a + 2 * words, fours);
    store(a + 3 * words, eights);
    V carry = sixteens;
    for (int b = base + 4; b < planes; ++b) {
      uint64_t* p = acc + static_cast<size_t>(b) * words + w;
      const V v = load<V>(p);
      store(p, v ^ carry);
      carry = v & carry;
    }
  }
}

void add_sixteen_128(uint64_t* acc, size_t words, int base, int planes, const Batch& in) {
  add_sixteen_in<Lanes>(acc, words, base, planes, in);
}

using AddSixteen = void (*)(uint64_t*, size_t, int, int, const Batch&);

#if defined(__x86_64__) && defined(__GNUC__)
[[gnu::target("avx2")]] void add_sixteen_256(uint64_t* acc, size_t words, int base, int planes,
                                             const Batch& in) {
  add_sixteen_in<Lanes256>(acc, words, base, planes, in);
}

[[gnu::target("avx512f")]] void add_sixteen_512(uint64_t* acc, size_t words, int base, int planes,
                                                const Batch& in) {
  add_sixteen_in<Lanes512>(acc, words, base, planes, in);
}

AddSixteen widest_add_sixteen() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f")) return add_sixteen_512;
  if (__builtin_cpu_supports("avx2")) return add_sixteen_256;
  return add_sixteen_128;
}
#else
AddSixteen widest_add_sixteen() { return add_sixteen_128; }
#endif

const AddSixteen add_sixteen = widest_add_sixteen();

// The rows' planes waiting to be added, by the plane they are added at.
struct Batches {
  std::array<Batch, kMaxRecordPlanes> input;
  std::array<int, kMaxRecordPlanes> size{};
};

// Counters for counts up to `support`, zeroed. A record in a cover weighs at
// most the cover's weight, so the adder's base plane stays below `planes`
// and four planes above them hold its carry-save state.
void start_counts(PermutedCounts& counts, int32_t support, size_t words) {
  counts.support = support;
  counts.planes = std::bit_width(static_cast<uint32_t>(std::max(support, 0)));
  counts.bits.assign(static_cast<size_t>(counts.planes + 4) * words, 0);
}

// The records of `cover` (with `parent` set: in `parent` but not in
// `cover`), in ascending order, at the start of `records`; returns their
// number. Covers deep in a search hold
// a few records per word at random, so the first four of a word are taken
// without a branch (an index past the last is written but not counted).
size_t list_records(const RecordRows& rows, const CoverWords& cover, const uint64_t* parent,
                    std::vector<uint32_t>& records) {
  const size_t count = rows.weights.size();
  const size_t words = std::min(cover.words, (count + 63) / 64);
  const size_t listed = cover.listed == nullptr ? words : cover.listed_count;
  if (records.size() < count + 4) records.resize(count + 4);
  uint32_t* out = records.data();
  size_t n = 0;
  for (size_t i = 0; i < listed; ++i) {
    const size_t w = cover.listed == nullptr ? i : cover.listed[i];
    if (w >= words) continue;
    uint64_t bits = parent != nullptr ? parent[w] & ~cover.bits[w] : cover.bits[w];
    if (count - w * 64 < 64) bits &= (uint64_t{1} << (count - w * 64)) - 1;
    const auto first = static_cast<uint32_t>(w * 64);
    for (int k = 0; k < 4; ++k) {
      out[n] = first + static_cast<uint32_t>(std::countr_zero(bits));
      n += bits != 0;
      bits &= bits - 1;
    }
    for (; bits != 0; bits &= bits - 1)
      out[n++] = first + static_cast<uint32_t>(std::countr_zero(bits));
  }
  return n;
}

// Adds the rows of the `count` records at `records` to `counts`.
void add_records(const RecordRows& rows, const uint32_t* records, size_t count,
                 CountingScratch& scratch, PermutedCounts& counts) {
  const size_t words = rows.words;
  // A sum never reaches 2^planes, so no carry goes higher.
  const int planes = counts.planes;
  uint64_t* acc = counts.bits.data();
  // Plane 0 of every record, the bulk of the work, has its own batch; the
  // higher planes of heavy records wait in `batches`.
  Batch units;
  const size_t whole = count / kBatch * kBatch;
  for (size_t i = 0; i < whole; i += kBatch) {
    for (int k = 0; k < kBatch; ++k) units[k] = rows.units.data() + records[i + k] * words;
    add_sixteen(acc, words, 0, planes, units);
  }
  Batches batches;
  batches.size[0] = static_cast<int>(count - whole);
  for (int k = 0; k < batches.size[0]; ++k)
    batches.input[0][k] = rows.units.data() + records[whole + k] * words;
  for (size_t i = 0; i < count && !rows.high.empty(); ++i) {
    const uint32_t r = records[i];
    if ((rows.heavy[r / 64] >> (r % 64) & 1) == 0) continue;
    const int32_t record_planes_r = record_planes(rows, r);
    for (int32_t q = 1; q < record_planes_r; ++q) {
      batches.input[q][batches.size[q]++] = record_plane(rows, r, q);
      if (batches.size[q] == kBatch) {
        add_sixteen(acc, words, q, planes, batches.input[q]);
        batches.size[q] = 0;
      }
    }
  }
  if (scratch.zero.size() != words) scratch.zero.assign(words, 0);
  for (int q = 0; q < kMaxRecordPlanes; ++q) {
    if (batches.size[q] == 0) continue;
    std::fill(batches.input[q].begin() + batches.size[q], batches.input[q].end(),
              scratch.zero.data());
    add_sixteen(acc, words, q, planes, batches.input[q]);
  }
}

}  // namespace

void count_cover(const RecordRows& rows, const CoverWords& cover, int32_t support,
                 CountingScratch& scratch, PermutedCounts& out) {
  start_counts(out, support, rows.words);
  const size_t count = list_records(rows, cover, nullptr, scratch.records);
  add_records(rows, scratch.records.data(), count, scratch, out);
}

void count_child_cover(const RecordRows& rows, const CoverWords& parent,
                       const PermutedCounts& parent_counts, const uint64_t* child, int32_t support,
                       CountingScratch& scratch, PermutedCounts& out) {
  const CoverWords kept{child, parent.words, parent.listed, parent.listed_count};
  const int32_t lost_weight = parent_counts.support - support;
  if (support <= lost_weight) {
    count_cover(rows, kept, support, scratch, out);
    return;
  }
  PermutedCounts& lost = scratch.lost;
  start_counts(lost, lost_weight, rows.words);
  const size_t count = list_records(rows, kept, parent.bits, scratch.records);
  add_records(rows, scratch.records.data(), count, scratch, lost);
  // out = parent - lost, with a borrow rippling up every plane of the parent.
  const size_t words = rows.words;
  start_counts(out, support, words);
  if (out.bits.size() < parent_counts.bits.size()) out.bits.resize(parent_counts.bits.size());
  for (size_t w = 0; w < words; w += kLaneWords) {
    Lanes borrow{};
    for (int32_t b = 0; b < parent_counts.planes; ++b) {
      const size_t at = static_cast<size_t>(b) * words + w;
      const Lanes a = load<Lanes>(parent_counts.bits.data() + at);
      const Lanes x = b < lost.planes ? load<Lanes>(lost.bits.data() + at) : Lanes{};
      store(out.bits.data() + at, a ^ x ^ borrow);
      borrow = (~a & (x | borrow)) | (x & borrow);
    }
  }
}

void flag_counts_outside(const PermutedCounts& counts, const RecordRows& rows, int32_t low,
                         int32_t high, uint64_t* flags) {
  const size_t words = rows.words;
  const int64_t top = (int64_t{1} << counts.planes) - 1;  // the largest count the planes hold
  const bool below = low > 0;
  const bool above = high < top;
  for (size_t w = 0; w < words; w += kLaneWords) {
    // From the top plane down: `equal_*` marks counts whose bits so far
    // equal the bound's.
    Lanes under{}, over{};
    Lanes equal_low = ~Lanes{}, equal_high = ~Lanes{};
    for (int32_t b = counts.planes - 1; b >= 0; --b) {
      const Lanes a = load<Lanes>(counts.bits.data() + static_cast<size_t>(b) * words + w);
      if (below) {
        if (low >> b & 1) {
          under |= equal_low & ~a;
          equal_low &= a;
        } else {
          equal_low &= ~a;
        }
      }
      if (above) {
        if (high >> b & 1) {
          equal_high &= a;
        } else {
          over |= equal_high & a;
          equal_high &= ~a;
        }
      }
    }
    store(flags + w, under | over);
  }
  // Counts of no permutation are 0, below any positive `low`.
  const auto used = static_cast<size_t>(rows.permutations);
  for (size_t w = used / 64; w < words; ++w)
    flags[w] &= w == used / 64 ? (uint64_t{1} << (used % 64)) - 1 : 0;
}

int32_t count_under(const PermutedCounts& counts, size_t words, int32_t j) {
  const size_t word = static_cast<size_t>(j) / 64;
  const int shift = j % 64;
  int32_t count = 0;
  for (int32_t b = 0; b < counts.planes; ++b)
    count |= static_cast<int32_t>(counts.bits[static_cast<size_t>(b) * words + word] >> shift & 1)
             << b;
  return count;
}
