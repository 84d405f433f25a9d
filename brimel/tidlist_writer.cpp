// The tid-list writer places every stored list first, from the rules'
// supports alone, and then makes the lists: the trees below the roots are
// walked apart, each by one of the threads, and written at their places.
// A walk goes down in preorder with the covers of its current path only, as
// bitsets, so its memory follows the tree's depth, not its size, and an
// entry's cover costs one pass over the words.
#include "tidlist_writer.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdio>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "common/file_open.h"
#include "common/messages.h"
#include "common/parallel_chunks.h"
#include "common/raw_ints.h"
#include "cover_bitsets.h"
#include "minerio/tidlist_store.h"

namespace {

// Transactions a thread of tree_item_bits takes at a time: whole words.
constexpr size_t kTransactionsAtOnce = 64 * 1024;

// Membership bitsets of the items in the tree, by item id (empty for the
// others), all set in one pass over the transactions, runs of whole words
// on up to `threads` threads.
std::vector<std::vector<uint64_t>> tree_item_bits(const MiningData& data, const PatternTree& tree,
                                                  size_t words, int threads) {
  std::vector<std::vector<uint64_t>> bits(data.item_keys.size());
  for (const PatternTreeEntry& entry : tree.entries) bits[entry.item].resize(words, 0);
  const auto n = static_cast<size_t>(transaction_count(data));
  parallel_chunks(n, kTransactionsAtOnce, threads, [&](size_t begin, size_t end) {
    for (size_t t = begin; t < end; ++t)
      for (int64_t i = data.offsets[t]; i < data.offsets[t + 1]; ++i)
        if (std::vector<uint64_t>& item = bits[data.items[i]]; !item.empty())
          item[t / 64] |= uint64_t{1} << (t % 64);
  });
  return bits;
}

// Where each stored list goes: the directory, and per entry the number of
// transactions its list holds (-1: none stored).
struct ListPlan {
  std::vector<TidListDirEntry> directory;
  std::vector<int32_t> listed;
  int64_t bytes = 0;  // of the list file
};

// Stores every rule's list, in full or as the diff-list against its nearest
// stored ancestor (the root: every transaction) when that is shorter, one
// after another in preorder. False after an "Error: " line when the file
// would pass 2 GiB.
bool plan_lists(const PatternTree& tree, const std::vector<MinedRule>& rules, int32_t n,
                const std::string& list_path, ListPlan& plan, TidListCounts& counts) {
  const size_t entries = tree.entries.size();
  plan.directory.assign(entries, TidListDirEntry{});
  plan.listed.assign(entries, -1);
  std::vector<int32_t> base_below(entries);  // the support a child's diff-list is against
  int64_t position = 0;
  for (size_t e = 0; e < entries; ++e) {
    const PatternTreeEntry& entry = tree.entries[e];
    const int32_t base = entry.parent < 0 ? n : base_below[static_cast<size_t>(entry.parent)];
    plan.directory[e].parent = entry.parent;
    base_below[e] = base;
    if (entry.rule < 0) continue;
    const int32_t support = rules[static_cast<size_t>(entry.rule)].support;
    const bool as_diff = base - support < support;
    const int32_t listed = as_diff ? base - support : support;
    const int64_t record_bytes = 4 * (1 + static_cast<int64_t>(listed));
    if (position + record_bytes > INT32_MAX) {
      report_error("tid-list file %s would pass 2 GiB", list_path.c_str());
      return false;
    }
    plan.directory[e].flags = as_diff ? kTidListStored | kTidListDiff : kTidListStored;
    plan.directory[e].offset = static_cast<int32_t>(position);
    plan.listed[e] = listed;
    ++(as_diff ? counts.diff_lists : counts.full_lists);
    base_below[e] = support;
    position += record_bytes;
  }
  plan.bytes = position;
  return true;
}

// What the walks share, all read only.
struct ListSources {
  const PatternTree& tree;
  const ListPlan& plan;
  const std::vector<std::vector<uint64_t>>& item_bits;
  const std::vector<uint64_t>& all;  // every transaction
  size_t words = 0;
  int descriptor = -1;  // of the list file
  // The first entry of each root's tree, and the end of the last.
  std::vector<size_t> tree_starts;
};

// One thread's writing: a block of records that follow one another in the
// file, written once full or when the next record goes elsewhere.
struct ListBlock {
  std::vector<int32_t> values;
  size_t used = 0;
  int64_t offset = 0;  // of values[0] in the file
  bool ok = true;
};

void flush_list_block(const ListSources& sources, ListBlock& block) {
  if (block.used > 0 && block.ok)
    block.ok = write_int32_le_at(sources.descriptor, block.values.data(), block.used, block.offset);
  block.offset += 4 * static_cast<int64_t>(block.used);
  block.used = 0;
}

constexpr size_t kListBlockValues = size_t{1} << 18;

// The transactions list_transactions takes from a word at once, and so
// writes past a list's end at most.
constexpr size_t kListRun = 8;

// Room for `count` more values of a record starting at byte `offset`, and
// for list_transactions to write past them.
int32_t* list_room(const ListSources& sources, ListBlock& block, int64_t offset, size_t count) {
  const size_t room = count + kListRun;
  if (offset != block.offset + 4 * static_cast<int64_t>(block.used) ||
      block.used + room > block.values.size()) {
    flush_list_block(sources, block);
    block.offset = offset;
    if (block.values.size() < room) block.values.resize(std::max(kListBlockValues, room));
  }
  return block.values.data() + block.used;
}

// Puts the `count` transactions in `in` and not in `out` (null: none) at
// `list`, which has room for kListRun values more. A word's bits are taken
// `run` (at most kListRun) at a time without looking how many it holds: the
// numbers past its last bit are overwritten by the next word's, and the
// loop's end is no longer a branch that misses on every word. With
// `skips_empty`, words that hold none are passed over. False when they are
// not `count`.
template <size_t run, bool skips_empty>
__attribute__((always_inline)) inline bool list_words(const uint64_t* in, const uint64_t* out,
                                                      size_t words, int32_t count, int32_t* list) {
  static_assert(run <= kListRun);
  int32_t* next = list;
  int32_t* const end = list + count;
  for (size_t w = 0; w < words; ++w) {
    uint64_t bits = in[w] & ~(out ? out[w] : 0);
    if (skips_empty && bits == 0) continue;
    const auto base = static_cast<int32_t>(w * 64);
    int32_t* const word_end = next + std::popcount(bits);
    if (word_end > end) return false;
    for (size_t i = 0; i < run; ++i) {
      next[i] = base + std::countr_zero(bits);
      bits &= bits - 1;
    }
    for (next += run; next < word_end; ++next) {
      *next = base + std::countr_zero(bits);
      bits &= bits - 1;
    }
    next = word_end;
  }
  return next == end;
}

// list_words for a list of `count` transactions. Where it holds fewer than
// three a word, whether a word holds any is hard to foretell, and a missed
// branch costs more than taking the word's bits four at a time regardless;
// denser lists skip their empty words and take eight.
__attribute__((target_clones("popcnt", "default"))) bool list_transactions(
    const uint64_t* in, const uint64_t* out, size_t words, int32_t count, int32_t* list) {
  if (int64_t{count} < 3 * static_cast<int64_t>(words))
    return list_words<4, false>(in, out, words, count, list);
  return list_words<kListRun, true>(in, out, words, count, list);
}

// An entry on the current path: its cover sits in the path's bitset of the
// same depth.
struct PathEntry {
  int32_t entry = -1;
  int32_t stored_base = -1;  // depth of the nearest stored ancestor, -1: the root
};

// How a walk ended.
struct WalkResult {
  bool lists_agree = true;  // every list held as many transactions as planned
  bool written = true;
  bool out_of_memory = false;
};

// Walks the trees of the roots taken from `next_tree` until none is left.
WalkResult walk_trees(const ListSources& sources, std::atomic<size_t>& next_tree) {
  const std::vector<TidListDirEntry>& directory = sources.plan.directory;
  const size_t words = sources.words;
  CoverLayout layout;
  layout.words = words;
  layout.plane_begin.assign(1, 0);
  std::vector<PathEntry> path;
  std::vector<std::vector<uint64_t>> covers;  // by depth
  ListBlock block;
  WalkResult result;
  for (size_t t = next_tree++; t + 1 < sources.tree_starts.size() && result.lists_agree;
       t = next_tree++) {
    path.clear();
    for (size_t e = sources.tree_starts[t]; e < sources.tree_starts[t + 1]; ++e) {
      const PatternTreeEntry& entry = sources.tree.entries[e];
      while (!path.empty() && path.back().entry != entry.parent) path.pop_back();
      const size_t depth = path.size();
      const uint64_t* parent = depth == 0 ? sources.all.data() : covers[depth - 1].data();
      if (covers.size() <= depth) covers.emplace_back(words);
      uint64_t* cover = covers[depth].data();
      intersect_all(parent, sources.item_bits[entry.item].data(), cover, layout,
                    whole_cover_stretches(layout));
      PathEntry node{static_cast<int32_t>(e), -1};
      if (depth > 0) {
        const PathEntry& up = path.back();
        node.stored_base = directory[up.entry].flags & kTidListStored
                               ? static_cast<int32_t>(depth) - 1
                               : up.stored_base;
      }
      path.push_back(node);
      const int32_t listed = sources.plan.listed[e];
      if (listed < 0) continue;
      const bool as_diff = directory[e].flags & kTidListDiff;
      const uint64_t* base =
          node.stored_base < 0 ? sources.all.data() : covers[node.stored_base].data();
      int32_t* record =
          list_room(sources, block, directory[e].offset, 1 + static_cast<size_t>(listed));
      record[0] = listed;
      result.lists_agree = as_diff ? list_transactions(base, cover, words, listed, record + 1)
                                   : list_transactions(cover, nullptr, words, listed, record + 1);
      if (!result.lists_agree) break;
      block.used += 1 + static_cast<size_t>(listed);
    }
  }
  flush_list_block(sources, block);
  result.written = block.ok;
  return result;
}

bool report_write_failure(const std::string& path) {
  report_io_error("cannot write file %s", path.c_str());
  return false;
}

// The directory: a header of the entry count, the transactions and the
// stored lists, then the entries.
bool write_tid_directory(const std::string& path, const std::vector<TidListDirEntry>& directory,
                         int32_t transactions, const TidListCounts& counts) {
  std::FILE* file = open_for_write(path, "wb");
  if (file == nullptr) return false;
  const int32_t header[kTidListDirHeaderInts] = {
      static_cast<int32_t>(directory.size()), transactions,
      static_cast<int32_t>(counts.full_lists + counts.diff_lists), 0};
  bool ok = write_int32_le(file, header, kTidListDirHeaderInts);
  for (size_t e = 0; e < directory.size() && ok; ++e) {
    const int32_t values[kTidListDirEntryInts] = {directory[e].flags, directory[e].offset,
                                                  directory[e].parent};
    ok = write_int32_le(file, values, kTidListDirEntryInts);
  }
  return close_written(file, path, ok);
}

}  // namespace

bool write_tid_lists(const std::string& dir_path, const std::string& list_path,
                     const MiningData& data, const PatternTree& tree,
                     const std::vector<MinedRule>& rules, int threads, TidListCounts& counts) {
  counts = TidListCounts{};
  const int32_t n = transaction_count(data);
  ListPlan plan;
  if (!plan_lists(tree, rules, n, list_path, plan, counts)) return false;
  const size_t words = (static_cast<size_t>(n) + 63) / 64;
  const std::vector<std::vector<uint64_t>> item_bits = tree_item_bits(data, tree, words, threads);
  std::vector<uint64_t> all(words, 0);
  for (int32_t t = 0; t < n; ++t) all[t / 64] |= uint64_t{1} << (t % 64);

  std::FILE* list_file = open_for_write(list_path, "wb");
  if (list_file == nullptr) return false;
  reserve_file_space(fileno(list_file), plan.bytes);
  ListSources sources{tree, plan, item_bits, all, words, fileno(list_file), {}};
  for (size_t e = 0; e < tree.entries.size(); ++e)
    if (tree.entries[e].parent < 0) sources.tree_starts.push_back(e);
  sources.tree_starts.push_back(tree.entries.size());
  const size_t trees = sources.tree_starts.size() - 1;
  std::atomic<size_t> next_tree{0};
  const size_t helpers = std::min(static_cast<size_t>(std::max(threads, 1)), trees) - (trees > 0);
  std::vector<WalkResult> results(helpers + 1);
  // Every thread is joined before memory running out is passed on.
  auto walk = [&](size_t slot) {
    try {
      results[slot] = walk_trees(sources, next_tree);
    } catch (const std::bad_alloc&) {
      results[slot].out_of_memory = true;
    }
  };
  std::vector<std::thread> running;
  try {
    for (size_t h = 0; h < helpers; ++h) running.emplace_back(walk, h + 1);
  } catch (const std::system_error&) {
    // Fewer threads: the ones running take the rest of the trees.
  }
  walk(0);
  for (std::thread& helper : running) helper.join();

  const auto any = [&](auto failed) { return std::any_of(results.begin(), results.end(), failed); };
  bool ok = true;
  if (any([](const WalkResult& r) { return !r.lists_agree; })) {
    // The rules' supports and the transactions disagree: the places are wrong.
    report_error("the tid lists of %s do not hold their rules' supports", list_path.c_str());
    ok = false;
  } else if (any([](const WalkResult& r) { return !r.written; })) {
    ok = report_write_failure(list_path);
  }
  if (std::fclose(list_file) != 0 && ok) ok = report_write_failure(list_path);
  if (any([](const WalkResult& r) { return r.out_of_memory; })) throw std::bad_alloc();
  return ok && write_tid_directory(dir_path, plan.directory, n, counts);
}
