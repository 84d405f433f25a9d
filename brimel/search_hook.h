// What direct adjustment asks of the search besides its rules: every tested
// pattern counted by its support, the closed ones too, and the tables of
// those within the level; and, for the Westfall-Young procedure, every one
// evaluated under every permutation of the class labels. The search calls
// these functions at a few places (its setup, each subtree, each tested node,
// its end); they keep their own state per search thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "permuted_counts.h"
#include "permuted_labels.h"
#include "westfall_young.h"

// The tested patterns of one table: support and class support.
struct TableCount {
  int32_t support = 0;
  int32_t class_support = 0;
  uint64_t patterns = 0;
};

// Patterns counted by table, in an open-addressing table: the search adds
// to it once per pattern within the level, which a node-based map makes
// the costliest step of a direct run without permutations.
struct TableTally {
  struct Entry {
    uint64_t key = 0;  // support << 32 | class support; 0: free
    uint64_t patterns = 0;
  };
  std::vector<Entry> entries;
  size_t used = 0;
};

// Adds `patterns` to the table's count, stopping at the largest count.
void tally_table(TableTally& tally, int32_t support, int32_t class_support, uint64_t patterns);

// Handed to the search by the caller, and filled by it.
struct SearchHook {
  bool count_only = false;    // the patterns per support only: no rule is tested
  bool count_closed = false;  // also the closed patterns and the tables within max_pvalue
  // With both set, every tested pattern is evaluated under the permutations
  // of `transaction_rows` (one row per transaction), which the search frees
  // once it has merged them into its own records.
  RecordRows transaction_rows;
  WestfallYoungSetup* westfall_young = nullptr;

  // Out: entry s, the patterns tested of support s (stopping at the largest
  // count), s = 0 .. transactions; and the workers, one per search thread.
  std::vector<uint64_t> patterns_by_support;
  std::vector<WestfallYoungWorker> workers;
  // Out, with count_closed: entry s, the closed patterns tested of support
  // s, one per distinct cover (closed_patterns.h). When max_len cut the
  // search below a node with extensions (`closed_bounded`), a closed pattern
  // may lie beyond it, and the entries count the search's nodes instead:
  // each has one cover, so they bound the distinct covers from above.
  std::vector<uint64_t> closed_by_support;
  bool closed_bounded = false;
  // Out, with count_closed: the tested patterns with p <= max_pvalue, by
  // table, ascending by support and class support.
  std::vector<TableCount> within_level;
};

// What the search threads share: the rows of the records behind the bits of
// the whole data's covers.
struct HookShared {
  SearchHook* hook = nullptr;
  RecordRows rows;
  int32_t transactions = 0;
  int32_t positives = 0;
  int32_t max_len = 0;
};

// One search thread's state.
struct HookThread {
  const HookShared* shared = nullptr;
  std::vector<uint64_t> by_support;
  WestfallYoungWorker* worker = nullptr;  // null: no evaluation
  RecordRows rows;                        // of the records of the subtree searched
  CountingScratch scratch;
  std::vector<PermutedCounts> counts;   // by depth: of the pattern on the path
  std::vector<char> counted;            // by depth: `counts` are the pattern's
  std::vector<const uint64_t*> bits;    // by depth: the pattern's cover
  std::vector<int32_t> record_of_part;  // scratch for merging rows
  // With count_closed: the closed patterns and the nodes by support, the
  // patterns within the level by table, and whether max_len cut the search
  // below a node with extensions.
  std::vector<uint64_t> closed_by_support;
  std::vector<uint64_t> nodes_by_support;
  TableTally within_level;
  bool cut = false;
};

inline bool hook_counts_closed(const HookThread* state) {
  return state != nullptr && state->shared->hook->count_closed;
}

// Whether the search must hand the hook every transaction's record.
inline bool hook_evaluates(const SearchHook* hook) {
  return hook != nullptr && hook->westfall_young != nullptr;
}

// Once the whole data's covers are laid out, `bit_of_transaction` giving
// each transaction's bit over `words` words.
void start_hook(SearchHook& hook, const std::vector<int32_t>& bit_of_transaction, size_t words,
                int32_t transactions, int32_t positives, int32_t max_len, HookShared& shared);

// The state of each of `threads` search threads, with a worker of the
// hook's each when it evaluates.
void start_hook_threads(HookShared& shared, int threads, std::vector<HookThread>& states);

// The subtree of the item whose cover over the whole data is `item_bits`
// (`root_words` words): its records are the whole data's records of those
// bits in bit order, and record i became bit bit_of_record[i] of the
// subtree's covers, of `words` words.
void start_hook_subtree(HookThread& state, const uint64_t* item_bits, size_t root_words,
                        const std::vector<int32_t>& bit_of_record, size_t words);

// A tested node at `depth` (1: the subtree's item) of the given supports,
// with cover `bits` over the subtree's `words` words, read over
// `parent_list` (the words its parent listed; null: all of them), standing
// for `represented` patterns of the same cover; `within_level` when its
// p-value is within max_pvalue, `closed` when one of them is closed.
struct TestedNode {
  int depth = 0;
  int32_t support = 0;
  int32_t class_support = 0;
  bool within_level = false;
  bool closed = false;
  uint64_t represented = 0;
};
void hook_pattern(HookThread& state, const TestedNode& node, const uint64_t* bits, size_t words,
                  const std::vector<uint32_t>* parent_list);

// After every thread is done: the threads' counts summed into the hook's,
// with the `represented` patterns of the whole data's cover (`all`, over
// the whole data's `words` words) that the root stands for, within
// max_pvalue when `root_within_level`.
void finish_hook(const HookShared& shared, std::vector<HookThread>& threads, const uint64_t* all,
                 size_t words, uint64_t represented, bool root_within_level);
