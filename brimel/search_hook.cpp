// The search's hook for direct adjustment: the rows of the permuted labels
// follow the search's records as it merges them (transactions into the whole
// data's records, those into each subtree's), and a node's counts under the
// permutations come from its parent's where the parent was counted.
#include "search_hook.h"

#include <algorithm>
#include <bit>

namespace {

void add_saturating(uint64_t& total, uint64_t amount) {
  total = total > UINT64_MAX - amount ? UINT64_MAX : total + amount;
}

// The slot of `key` in a table of power-of-two size: its own, or the free
// one where it belongs.
size_t slot_of(const TableTally& tally, uint64_t key) {
  const size_t mask = tally.entries.size() - 1;
  uint64_t mixed = (key ^ key >> 29) * 0xff51afd7ed558ccdu;
  mixed ^= mixed >> 32;
  size_t slot = static_cast<size_t>(mixed) & mask;
  while (tally.entries[slot].key != 0 && tally.entries[slot].key != key) slot = (slot + 1) & mask;
  return slot;
}

// The threads' closed patterns, or nodes where max_len cut the search, and
// their tables within the level, into the hook's.
void finish_closed(const HookShared& shared, std::vector<HookThread>& threads, uint64_t represented,
                   bool root_within_level) {
  SearchHook& hook = *shared.hook;
  TableTally tables;
  for (const HookThread& state : threads) hook.closed_bounded = hook.closed_bounded || state.cut;
  for (HookThread& state : threads) {
    const std::vector<uint64_t>& counts =
        hook.closed_bounded ? state.nodes_by_support : state.closed_by_support;
    for (size_t s = 0; s < counts.size(); ++s) add_saturating(hook.closed_by_support[s], counts[s]);
    for (const TableTally::Entry& entry : state.within_level.entries)
      if (entry.key != 0)
        tally_table(tables, static_cast<int32_t>(entry.key >> 32),
                    static_cast<int32_t>(entry.key & 0xffffffffu), entry.patterns);
    state.within_level = TableTally{};
  }
  // The patterns of items in every transaction share the cover of all.
  if (represented > 0) {
    add_saturating(hook.closed_by_support[static_cast<size_t>(shared.transactions)], 1);
    if (root_within_level) tally_table(tables, shared.transactions, shared.positives, represented);
  }
  for (const TableTally::Entry& entry : tables.entries)
    if (entry.key != 0)
      hook.within_level.push_back(TableCount{static_cast<int32_t>(entry.key >> 32),
                                             static_cast<int32_t>(entry.key & 0xffffffffu),
                                             entry.patterns});
  std::sort(hook.within_level.begin(), hook.within_level.end(),
            [](const TableCount& a, const TableCount& b) {
              return a.support != b.support ? a.support < b.support
                                            : a.class_support < b.class_support;
            });
}

CoverWords cover_words(const uint64_t* bits, size_t words, const std::vector<uint32_t>* list) {
  return list == nullptr ? CoverWords{bits, words}
                         : CoverWords{bits, words, list->data(), list->size()};
}

}  // namespace

void tally_table(TableTally& tally, int32_t support, int32_t class_support, uint64_t patterns) {
  if (2 * (tally.used + 1) > tally.entries.size()) {
    TableTally grown;
    grown.entries.resize(std::max<size_t>(64, 2 * tally.entries.size()));
    for (const TableTally::Entry& entry : tally.entries)
      if (entry.key != 0) grown.entries[slot_of(grown, entry.key)] = entry;
    grown.used = tally.used;
    tally = std::move(grown);
  }
  // Supports are at least 1, so no key is 0.
  const uint64_t key = static_cast<uint64_t>(support) << 32 | static_cast<uint32_t>(class_support);
  TableTally::Entry& entry = tally.entries[slot_of(tally, key)];
  if (entry.key == 0) {
    entry.key = key;
    ++tally.used;
  }
  add_saturating(entry.patterns, patterns);
}

void start_hook(SearchHook& hook, const std::vector<int32_t>& bit_of_transaction, size_t words,
                int32_t transactions, int32_t positives, int32_t max_len, HookShared& shared) {
  shared.hook = &hook;
  shared.transactions = transactions;
  shared.positives = positives;
  shared.max_len = max_len;
  hook.patterns_by_support.assign(static_cast<size_t>(transactions) + 1, 0);
  hook.closed_by_support.assign(hook.count_closed ? static_cast<size_t>(transactions) + 1 : 0, 0);
  hook.closed_bounded = false;
  hook.within_level.clear();
  hook.workers.clear();
  if (!hook_evaluates(&hook)) return;
  shared.rows =
      merge_rows(hook.transaction_rows, bit_of_transaction, static_cast<int32_t>(words * 64));
  hook.transaction_rows = RecordRows{};
}

void start_hook_threads(HookShared& shared, int threads, std::vector<HookThread>& states) {
  SearchHook& hook = *shared.hook;
  const bool evaluates = hook_evaluates(&hook);
  if (evaluates) hook.workers.resize(static_cast<size_t>(threads));
  states.assign(static_cast<size_t>(threads), HookThread{});
  const size_t levels = static_cast<size_t>(shared.max_len) + 2;
  for (int i = 0; i < threads; ++i) {
    HookThread& state = states[static_cast<size_t>(i)];
    state.shared = &shared;
    state.by_support.assign(static_cast<size_t>(shared.transactions) + 1, 0);
    if (hook.count_closed) {
      state.closed_by_support.assign(static_cast<size_t>(shared.transactions) + 1, 0);
      state.nodes_by_support.assign(static_cast<size_t>(shared.transactions) + 1, 0);
    }
    if (!evaluates) continue;
    state.worker = &hook.workers[static_cast<size_t>(i)];
    start_worker(*hook.westfall_young, *state.worker);
    state.counts.resize(levels);
    state.counted.assign(levels, 0);
    state.bits.assign(levels, nullptr);
  }
}

void start_hook_subtree(HookThread& state, const uint64_t* item_bits, size_t root_words,
                        const std::vector<int32_t>& bit_of_record, size_t words) {
  if (state.worker == nullptr) return;
  std::vector<int32_t>& record_of_part = state.record_of_part;
  record_of_part.assign(root_words * 64, -1);
  size_t next = 0;
  for (size_t w = 0; w < root_words; ++w)
    for (uint64_t word = item_bits[w]; word != 0; word &= word - 1)
      record_of_part[w * 64 + static_cast<size_t>(std::countr_zero(word))] = bit_of_record[next++];
  state.rows = merge_rows(state.shared->rows, record_of_part, static_cast<int32_t>(words * 64));
}

void hook_pattern(HookThread& state, const TestedNode& node, const uint64_t* bits, size_t words,
                  const std::vector<uint32_t>* parent_list) {
  const int depth = node.depth;
  const int32_t support = node.support;
  add_saturating(state.by_support[static_cast<size_t>(support)], node.represented);
  if (hook_counts_closed(&state)) {
    state.closed_by_support[static_cast<size_t>(support)] += node.closed;
    ++state.nodes_by_support[static_cast<size_t>(support)];
    if (node.within_level)
      tally_table(state.within_level, support, node.class_support, node.represented);
  }
  if (state.worker == nullptr) return;
  const auto d = static_cast<size_t>(depth);
  state.bits[d] = bits;
  state.counted[d] = 0;
  if (!may_reach_threshold(*state.worker, support)) return;
  PermutedCounts& counts = state.counts[d];
  if (depth >= 2 && state.counted[d - 1])
    count_child_cover(state.rows, cover_words(state.bits[d - 1], words, parent_list),
                      state.counts[d - 1], bits, support, state.scratch, counts);
  else
    count_cover(state.rows, cover_words(bits, words, parent_list), support, state.scratch, counts);
  state.counted[d] = 1;
  take_pattern(*state.worker, counts, state.rows);
}

void finish_hook(const HookShared& shared, std::vector<HookThread>& threads, const uint64_t* all,
                 size_t words, uint64_t represented, bool root_within_level) {
  std::vector<uint64_t>& total = shared.hook->patterns_by_support;
  for (const HookThread& state : threads)
    for (size_t s = 0; s < total.size(); ++s) add_saturating(total[s], state.by_support[s]);
  if (shared.hook->count_closed) finish_closed(shared, threads, represented, root_within_level);
  if (represented == 0) return;
  add_saturating(total[static_cast<size_t>(shared.transactions)], represented);
  if (threads.empty() || threads[0].worker == nullptr) return;
  // Patterns of items in every transaction: their table is the margins'
  // own under every permutation.
  HookThread& state = threads[0];
  PermutedCounts counts;
  count_cover(shared.rows, CoverWords{all, words}, shared.transactions, state.scratch, counts);
  take_pattern(*state.worker, counts, shared.rows);
}
