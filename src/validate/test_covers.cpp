// Vertical bitsets of the test part and rule covers from them.
#include "validate/test_covers.h"

#include <algorithm>
#include <bit>
#include <climits>

// The bit-counting loops are compiled twice, with and without the popcount
// instruction, and the machine picks at load time: without it each count is
// a library call, which took an eighth of the experiment's time.
#define CLONED_FOR_POPCOUNT __attribute__((target_clones("popcnt", "default")))

namespace {

// Adds the set bits of `cover` and of its AND with `class_bits` (`words` words).
CLONED_FOR_POPCOUNT void add_bit_counts(const uint64_t* cover, const uint64_t* class_bits,
                                        size_t words, RuleTest& test) {
  for (size_t w = 0; w < words; ++w) {
    test.covered += std::popcount(cover[w]);
    test.covered_in_class += std::popcount(cover[w] & class_bits[w]);
  }
}

// Adds the instances that lack exactly the item of bitset `bits`, from the
// busy words of `scratch`.
CLONED_FOR_POPCOUNT void add_lacking_counts(const GeneralisationScratch& scratch,
                                            const uint64_t* bits, const uint64_t* class_bits,
                                            RuleTest& test) {
  for (size_t b = 0; b < scratch.busy_words.size(); ++b) {
    const size_t w = scratch.busy_words[b];
    const uint64_t lacking = scratch.one_missing[b] & ~bits[w];
    test.covered += std::popcount(lacking);
    test.covered_in_class += std::popcount(lacking & class_bits[w]);
  }
}

// The set bits of words [begin, end).
CLONED_FOR_POPCOUNT int64_t count_bits(const uint64_t* words, size_t begin, size_t end) {
  int64_t count = 0;
  for (size_t w = begin; w < end; ++w) count += std::popcount(words[w]);
  return count;
}

bool repeats_an_item(const RuleRecord& rule) {
  return std::adjacent_find(rule.items, rule.items + rule.length) != rule.items + rule.length;
}

enum class Cover { nothing, everything, bits, by_records };

// Leaves the rule's cover in `scratch` when the answer is `bits`.
Cover find_cover(const TestCovers& covers, const RuleRecord& rule, std::vector<uint64_t>& scratch) {
  if (rule.length == 0) return Cover::everything;
  if (repeats_an_item(rule)) return Cover::by_records;
  for (int32_t i = 0; i < rule.length; ++i) {
    const int32_t item = rule.items[i];
    if (item < 0 || static_cast<size_t>(item) >= covers.slot_of_item.size() ||
        covers.slot_of_item[static_cast<size_t>(item)] < 0)
      return Cover::nothing;
  }
  scratch.resize(covers.words);
  auto bits_of = [&](int32_t item) {
    return covers.item_bits.data() +
           static_cast<size_t>(covers.slot_of_item[static_cast<size_t>(item)]) * covers.words;
  };
  std::copy_n(bits_of(rule.items[0]), covers.words, scratch.data());
  for (int32_t i = 1; i < rule.length; ++i) {
    const uint64_t* bits = bits_of(rule.items[i]);
    for (size_t w = 0; w < covers.words; ++w) scratch[w] &= bits[w];
  }
  return Cover::bits;
}

}  // namespace

bool contains_rule(const TestTransaction& transaction, const RuleRecord& rule) {
  int32_t matched = 0;
  auto item = transaction.begin();
  while (matched < rule.length) {
    if (item == transaction.end()) return false;
    const int32_t wanted = rule.items[matched];
    if (wanted == *item) {
      ++matched;
      ++item;
    } else if (wanted < *item) {
      return false;
    } else {
      ++item;
    }
  }
  return true;
}

TestCovers build_test_covers(const TestTransactions& transactions, const ClassLabels& labels,
                             const RuleSet& rules) {
  TestCovers covers;
  covers.instances = static_cast<int32_t>(std::min(labels.size(), transactions.size()));
  covers.words = (static_cast<size_t>(covers.instances) + 63) / 64;
  covers.transactions = &transactions;
  covers.labels = &labels;
  // Rule items beyond every test item can cover nothing; they need no slot.
  int32_t largest = -1;
  for (int32_t j = 0; j < covers.instances; ++j) {
    if (!transactions[j].empty()) largest = std::max(largest, transactions[j].back());
  }
  covers.slot_of_item.assign(static_cast<size_t>(largest + 1), -1);
  int32_t slots = 0;
  for (const RuleRecord& rule : rules.records) {
    for (int32_t i = 0; i < rule.length; ++i) {
      const int32_t item = rule.items[i];
      if (item >= 0 && item <= largest && covers.slot_of_item[static_cast<size_t>(item)] < 0)
        covers.slot_of_item[static_cast<size_t>(item)] = slots++;
    }
  }
  covers.item_bits.assign(static_cast<size_t>(slots) * covers.words, 0);
  covers.class_bits.assign(covers.words, 0);
  for (int32_t j = 0; j < covers.instances; ++j) {
    const uint64_t bit = uint64_t{1} << (j % 64);
    const size_t word = static_cast<size_t>(j / 64);
    if (labels[j] == 1) {
      covers.class_bits[word] |= bit;
      ++covers.positives;
    }
    for (const int32_t item : transactions[j]) {
      const int32_t slot = covers.slot_of_item[static_cast<size_t>(item)];
      if (slot >= 0) covers.item_bits[static_cast<size_t>(slot) * covers.words + word] |= bit;
    }
  }
  return covers;
}

RuleTest count_test_cover(const TestCovers& covers, const RuleRecord& rule,
                          std::vector<uint64_t>& scratch) {
  RuleTest test;
  switch (find_cover(covers, rule, scratch)) {
    case Cover::nothing:
      break;
    case Cover::everything:
      test.covered = covers.instances;
      test.covered_in_class = covers.positives;
      break;
    case Cover::bits:
      add_bit_counts(scratch.data(), covers.class_bits.data(), covers.words, test);
      break;
    case Cover::by_records:
      for (int32_t j = 0; j < covers.instances; ++j) {
        if (!contains_rule((*covers.transactions)[j], rule)) continue;
        ++test.covered;
        if ((*covers.labels)[j] == 1) ++test.covered_in_class;
      }
      break;
  }
  return test;
}

void count_generalisation_covers(const TestCovers& covers, const RuleRecord& rule,
                                 const RuleTest& test, GeneralisationScratch& scratch,
                                 std::vector<RuleTest>& general) {
  const size_t length = static_cast<size_t>(std::max(rule.length, 0));
  general.assign(length, test);
  if (length < 2 || repeats_an_item(rule)) {
    // Covers of a repeated item need the records themselves.
    for (size_t dropped = 0; dropped < length; ++dropped) {
      scratch.items.assign(rule.items, rule.items + length);
      scratch.items.erase(scratch.items.begin() + static_cast<std::ptrdiff_t>(dropped));
      RuleRecord without;
      without.length = rule.length - 1;
      without.items = scratch.items.data();
      general[dropped] = count_test_cover(covers, without, scratch.bits);
    }
    return;
  }
  // An item without a bitset is held by no test instance.
  scratch.no_instance.assign(covers.words, 0);
  scratch.item_bits.clear();
  for (size_t i = 0; i < length; ++i) {
    const int32_t item = rule.items[i];
    const int32_t slot = item >= 0 && static_cast<size_t>(item) < covers.slot_of_item.size()
                             ? covers.slot_of_item[static_cast<size_t>(item)]
                             : -1;
    scratch.item_bits.push_back(slot < 0 ? scratch.no_instance.data()
                                         : covers.item_bits.data() +
                                               static_cast<size_t>(slot) * covers.words);
  }
  // Word by word, every item at once: which instances lack exactly one
  // item. Only the words where some do are kept.
  scratch.busy_words.clear();
  scratch.one_missing.clear();
  for (size_t w = 0; w < covers.words; ++w) {
    const int32_t tail = covers.instances - static_cast<int32_t>(w * 64);
    uint64_t all = tail >= 64 ? ~uint64_t{0} : (uint64_t{1} << tail) - 1;
    uint64_t one = 0;
    for (const uint64_t* bits : scratch.item_bits) {
      const uint64_t held = bits[w];
      one = (one & held) | (all & ~held);
      all &= held;
    }
    if (one == 0) continue;
    scratch.busy_words.push_back(w);
    scratch.one_missing.push_back(one);
  }
  for (size_t i = 0; i < length; ++i)
    add_lacking_counts(scratch, scratch.item_bits[i], covers.class_bits.data(), general[i]);
}

// Calls `visit(j)` for each covered instance j, in order, when the cover is
// every instance or must be found record by record (the rare cases, where no
// bitset holds it).
template <typename Visit>
void visit_unbitted_cover(const TestCovers& covers, const RuleRecord& rule, Cover cover,
                          Visit visit) {
  for (int32_t j = 0; j < covers.instances; ++j) {
    if (cover == Cover::everything || contains_rule((*covers.transactions)[j], rule)) visit(j);
  }
}

void put_covered_numbers(const TestCovers& covers, const RuleRecord& rule, int32_t first_number,
                         std::vector<uint64_t>& scratch, BlockWriter& out) {
  const Cover cover = find_cover(covers, rule, scratch);
  switch (cover) {
    case Cover::nothing:
      break;
    case Cover::everything:
    case Cover::by_records:
      visit_unbitted_cover(covers, rule, cover,
                           [&](int32_t j) { put_int(out, int64_t{first_number} + j); });
      break;
    case Cover::bits:
      for (size_t w = 0; w < covers.words; ++w) {
        if (scratch[w] == 0) continue;
        // The word's numbers, at most 64, written at once.
        int32_t numbers[64];
        size_t count = 0;
        const int32_t word_first = first_number + static_cast<int32_t>(w * 64);
        for (uint64_t bits = scratch[w]; bits != 0; bits &= bits - 1)
          numbers[count++] = word_first + std::countr_zero(bits);
        put_ascending_ints(out, std::span<const int32_t>(numbers, count));
      }
      break;
  }
}

int64_t covered_numbers_text_bytes(const TestCovers& covers, const RuleRecord& rule,
                                   int32_t first_number, std::vector<uint64_t>& scratch) {
  int64_t bytes = 0;
  const Cover cover = find_cover(covers, rule, scratch);
  switch (cover) {
    case Cover::nothing:
      break;
    case Cover::everything:
    case Cover::by_records:
      visit_unbitted_cover(covers, rule, cover,
                           [&](int32_t j) { bytes += int_text_bytes(int64_t{first_number} + j); });
      break;
    case Cover::bits: {
      // Each number takes a blank and a digit, and one more digit for each
      // power of ten it reaches: the covered instances from that power on.
      const int64_t covered = count_bits(scratch.data(), 0, covers.words);
      bytes = 2 * covered;
      for (int64_t power = 10; power <= INT32_MAX; power *= 10) {
        const int64_t from = power - first_number;  // the first instance reaching it
        if (from >= covers.instances) break;
        if (from <= 0) {
          bytes += covered;
          continue;
        }
        const size_t word = static_cast<size_t>(from / 64);
        bytes += std::popcount(scratch[word] & (~uint64_t{0} << (from % 64)));
        bytes += count_bits(scratch.data(), word + 1, covers.words);
      }
      break;
    }
  }
  return bytes;
}
