// Test helpers for the miner's files: capturing what a reader prints, raw
// integer files, tid-list trees written the way the miner writes them, and
// rule sets with room for their tid lists.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "common/raw_ints.h"
#include "minerio/rule_file.h"
#include "minerio/tidlist_store.h"
#include "support/scratch_dir.h"

// Runs `action` and returns what it printed on standard output.
inline std::string capture_stdout(const std::function<void()>& action) {
  std::fflush(stdout);
  std::FILE* sink = std::tmpfile();
  const int saved = dup(1);
  dup2(fileno(sink), 1);
  action();
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  std::string text;
  std::rewind(sink);
  for (int ch = std::getc(sink); ch != EOF; ch = std::getc(sink))
    text.push_back(static_cast<char>(ch));
  std::fclose(sink);
  return text;
}

inline void write_ints(const std::string& path, const std::vector<int32_t>& values) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  write_int32_le(file, values.data(), values.size());
  std::fclose(file);
}

// One pattern of a tid-list tree as the test means it: its flags, its parent
// and the list stored for it (a full list or a diff-list), plus the full tid
// list the loader must rebuild.
struct TreeEntry {
  int32_t flags = 0;
  int32_t parent = -1;
  std::vector<int32_t> stored;
  std::vector<int32_t> expected;
};

// Writes "<output>.tidlist.dir" and "<output>.tidlist" for `tree`. The list
// records go into the list file in a shuffled order with junk bytes between
// them (when `random` is given), so the loader has to follow the offsets.
inline void write_tidlist_files(const std::string& output, const std::vector<TreeEntry>& tree,
                                int32_t transactions, std::mt19937* random = nullptr) {
  std::vector<size_t> order;
  for (size_t k = 0; k < tree.size(); ++k)
    if (tree[k].flags & kTidListStored) order.push_back(k);
  if (random != nullptr) std::shuffle(order.begin(), order.end(), *random);

  std::vector<int32_t> offsets(tree.size(), 0);
  std::string list_bytes;
  auto append = [&](int32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
      list_bytes.push_back(static_cast<char>((static_cast<uint32_t>(value) >> shift) & 0xff));
  };
  for (size_t k : order) {
    if (random != nullptr)
      for (uint32_t gap = (*random)() % 3; gap > 0; --gap) list_bytes.push_back('\x7f');
    offsets[k] = static_cast<int32_t>(list_bytes.size());
    append(static_cast<int32_t>(tree[k].stored.size()));
    for (int32_t t : tree[k].stored) append(t);
  }
  write_file(output + ".tidlist", list_bytes);

  std::vector<int32_t> directory = {static_cast<int32_t>(tree.size()), transactions,
                                    static_cast<int32_t>(order.size()), 0};
  for (size_t k = 0; k < tree.size(); ++k) {
    directory.push_back(tree[k].flags);
    directory.push_back(offsets[k]);
    directory.push_back(tree[k].parent);
  }
  write_ints(output + ".tidlist.dir", directory);
}

// A random tree: every pattern's true list is a random part of its parent's,
// and each is stored as a full list, as a diff-list against its nearest
// stored ancestor (or the root), or not at all.
inline std::vector<TreeEntry> random_tree(std::mt19937& random, int32_t transactions, int entries) {
  std::vector<TreeEntry> tree(entries);
  std::vector<int32_t> all(transactions);
  for (int32_t t = 0; t < transactions; ++t) all[t] = t;
  for (int k = 0; k < entries; ++k) {
    TreeEntry& entry = tree[k];
    entry.parent = k == 0 || random() % 5 == 0 ? -1 : static_cast<int32_t>(random() % k);
    const std::vector<int32_t>& above = entry.parent < 0 ? all : tree[entry.parent].expected;
    const uint32_t keep_one_in = 1 + random() % 4;
    for (int32_t t : above)
      if (random() % (keep_one_in + 1) != 0) entry.expected.push_back(t);

    int32_t base = entry.parent;
    while (base >= 0 && (tree[base].flags & kTidListStored) == 0) base = tree[base].parent;
    const std::vector<int32_t>& base_list = base < 0 ? all : tree[base].expected;
    switch (random() % 3) {
      case 0:
        entry.flags = kTidListStored;
        entry.stored = entry.expected;
        break;
      case 1:
        entry.flags = kTidListStored | kTidListDiff;
        std::set_difference(base_list.begin(), base_list.end(), entry.expected.begin(),
                            entry.expected.end(), std::back_inserter(entry.stored));
        break;
      default:
        entry.flags = 0;
    }
  }
  return tree;
}

// A rule set whose records name the given preorder numbers and supports.
inline RuleSet make_rule_set(const std::vector<std::pair<int32_t, int32_t>>& preorder_support) {
  RuleSet rules;
  for (const auto& [preorder, support] : preorder_support) {
    RuleRecord record;
    record.preorder = preorder;
    record.support = support;
    rules.records.push_back(record);
  }
  return rules;
}

// The rules' tid lists of "o", rebuilt the way validation does, each into a
// list of exactly its support filled with `fill` first and then as much of
// the rebuilt list as fits, over `transactions` mined transactions.
inline std::vector<std::vector<int32_t>> rebuild_lists(const RuleSet& rules, int32_t transactions,
                                                       int32_t fill = 0) {
  std::vector<std::vector<int32_t>> lists;
  for (const RuleRecord& rule : rules.records)
    lists.emplace_back(static_cast<size_t>(std::max(rule.support, 0)), fill);
  RuleTidLists store;
  if (open_rule_tid_lists("o", transactions, store)) {
    std::vector<size_t> every(rules.records.size());
    for (size_t r = 0; r < every.size(); ++r) every[r] = r;
    walk_rule_tid_lists(store, rules, every, [&](size_t r, std::span<const int32_t> list) {
      std::copy_n(list.begin(), std::min(list.size(), lists[r].size()), lists[r].begin());
    });
  }
  close_rule_tid_lists(store);
  return lists;
}
