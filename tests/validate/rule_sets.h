// Test helpers for validation: rule sets built from plain descriptions, with
// the records pointing into the set's own buffers like the rule reader's, and
// the miner's tid-list files written from a plain description of the tree.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "minerio/rule_file.h"
#include "support/scratch_dir.h"

namespace validation_test {

struct RuleShape {
  int32_t preorder = 0;
  std::vector<int32_t> items;
  int32_t class_support = 0;
  std::vector<int32_t> tids;  // only their number counts: the support
  double pvalue = 0.0;
};

inline RuleSet rule_set_of(const std::vector<RuleShape>& shapes) {
  RuleSet set;
  for (const RuleShape& shape : shapes) {
    set.item_buffer.insert(set.item_buffer.end(), shape.items.begin(), shape.items.end());
  }
  size_t item_fill = 0;
  for (const RuleShape& shape : shapes) {
    RuleRecord record;
    record.preorder = shape.preorder;
    record.length = static_cast<int32_t>(shape.items.size());
    record.items = set.item_buffer.data() + item_fill;
    record.support = static_cast<int32_t>(shape.tids.size());
    record.class_support = shape.class_support;
    record.pvalue = shape.pvalue;
    item_fill += shape.items.size();
    set.records.push_back(record);
  }
  return set;
}

inline std::vector<int32_t> items_of(const RuleRecord& rule) {
  return std::vector<int32_t>(rule.items, rule.items + rule.length);
}

// One entry of a tid-list tree; `list` goes to the tid-list file when the
// entry is stored (a full list, or a diff-list against the nearest stored
// ancestor, flags 1 | 2).
struct TidTreeEntry {
  int32_t flags = 0;
  int32_t parent = -1;
  std::vector<int32_t> list;
};

inline void append_int32(std::string& bytes, int32_t value) {
  const uint32_t bits = static_cast<uint32_t>(value);
  for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<char>(bits >> shift));
}

// Writes "<output>.tidlist.dir" and "<output>.tidlist". The lists lie in
// reverse entry order, so reading them needs the offsets.
inline void write_tid_tree(const std::string& output, const std::vector<TidTreeEntry>& entries,
                           int32_t train_instances) {
  std::string lists;
  std::vector<int32_t> offsets(entries.size(), 0);
  int32_t stored = 0;
  for (size_t k = entries.size(); k-- > 0;) {
    if ((entries[k].flags & 1) == 0) continue;
    ++stored;
    offsets[k] = static_cast<int32_t>(lists.size());
    append_int32(lists, static_cast<int32_t>(entries[k].list.size()));
    for (const int32_t tid : entries[k].list) append_int32(lists, tid);
  }
  std::string directory;
  for (const int32_t value : {static_cast<int32_t>(entries.size()), train_instances, stored, 0})
    append_int32(directory, value);
  for (size_t k = 0; k < entries.size(); ++k) {
    append_int32(directory, entries[k].flags);
    append_int32(directory, offsets[k]);
    append_int32(directory, entries[k].parent);
  }
  write_file(output + ".tidlist.dir", directory);
  write_file(output + ".tidlist", lists);
}

}  // namespace validation_test
