// The test part as vertical bitsets: one bitset per item over the test
// instances, and one of the instances in the rule class. A rule's cover on
// the test part is the AND of its items' bitsets, its class cover one more
// AND, each counted by popcount, so re-testing costs a few word operations
// per rule instead of a merge with every test record.
#pragma once

#include <cstdint>
#include <vector>

#include "common/block_writer.h"
#include "minerio/rule_file.h"
#include "testpart/test_part.h"
#include "validate/rule_table.h"

struct TestCovers {
  int32_t instances = 0;  // test instances the covers span
  int32_t positives = 0;  // of them in the rule class
  size_t words = 0;       // 64-bit words per bitset
  // Bitset of item i at item_bits[slot_of_item[i] * words]; items that no
  // rule holds have no bitset (slot -1).
  std::vector<int32_t> slot_of_item;
  std::vector<uint64_t> item_bits;
  std::vector<uint64_t> class_bits;
  // A test record may hold an item more than once, and a rule that repeats
  // an item needs it that often: such rules are answered record by record.
  const TestTransactions* transactions = nullptr;
  const ClassLabels* labels = nullptr;
};

// True when every item of `rule` (ascending) is among the transaction's
// (ascending), each as often as the rule holds it: one merge pass that stops
// at the first missing item.
bool contains_rule(const TestTransaction& transaction, const RuleRecord& rule);

// The caller's scratch for count_generalisation_covers, kept between calls.
struct GeneralisationScratch {
  std::vector<const uint64_t*> item_bits;  // the rule's items' bitsets
  std::vector<uint64_t> no_instance;       // the bitset of an item no instance holds
  std::vector<size_t> busy_words;          // words with instances lacking exactly one item
  std::vector<uint64_t> one_missing;       // those instances, per busy word
  std::vector<int32_t> items;
  std::vector<uint64_t> bits;
};

// Sets general[i] to the test counts of `rule` without its item i, for every
// i < rule.length (a rule of one item gives the empty pattern's: every
// instance). `test` holds the rule's own counts from count_test_cover. One
// pass over the items' bitsets finds the instances lacking exactly one item;
// each generalisation's cover is the rule's plus those that lack its dropped
// item, so the cost grows with the rule's length, not its square. The
// p-values are left as they are.
void count_generalisation_covers(const TestCovers& covers, const RuleRecord& rule,
                                 const RuleTest& test, GeneralisationScratch& scratch,
                                 std::vector<RuleTest>& general);

// Builds the bitsets of the items that `rules` hold over the first
// min(transactions, labels) instances; `transactions` and `labels` must
// outlive the result.
TestCovers build_test_covers(const TestTransactions& transactions, const ClassLabels& labels,
                             const RuleSet& rules);

// The rule's covered instances and those of them in the class. `scratch`
// is the caller's, kept between calls.
RuleTest count_test_cover(const TestCovers& covers, const RuleRecord& rule,
                          std::vector<uint64_t>& scratch);

// Writes first_number + j and a blank for every test instance j the rule
// covers, in ascending order, straight from its cover's bits.
void put_covered_numbers(const TestCovers& covers, const RuleRecord& rule, int32_t first_number,
                         std::vector<uint64_t>& scratch, BlockWriter& out);

// The bytes put_covered_numbers writes.
int64_t covered_numbers_text_bytes(const TestCovers& covers, const RuleRecord& rule,
                                   int32_t first_number, std::vector<uint64_t>& scratch);
