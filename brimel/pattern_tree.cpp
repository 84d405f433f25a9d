// Numbering the pattern tree: the rules' item lists sorted lexicographically
// (a prefix before its extensions) list the tree's entries in preorder.
#include "pattern_tree.h"

#include <algorithm>
#include <cstdio>
#include <numeric>

#include "common/messages.h"

bool build_pattern_tree(const SearchResult& result, PatternTree& tree) {
  tree.entries.clear();
  tree.rule_preorder.assign(result.rules.size(), -1);
  const int32_t* items = result.rule_items.data();
  std::vector<size_t> order(result.rules.size());
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    const MinedRule& x = result.rules[a];
    const MinedRule& y = result.rules[b];
    return std::lexicographical_compare(items + x.item_begin, items + x.item_begin + x.length,
                                        items + y.item_begin, items + y.item_begin + y.length);
  });
  std::vector<int32_t> path_items;
  std::vector<int32_t> path_entries;
  for (const size_t r : order) {
    const MinedRule& rule = result.rules[r];
    const int32_t* first = items + rule.item_begin;
    size_t common = 0;
    while (common < path_items.size() && common < static_cast<size_t>(rule.length) &&
           path_items[common] == first[common])
      ++common;
    path_items.resize(common);
    path_entries.resize(common);
    for (int32_t i = static_cast<int32_t>(common); i < rule.length; ++i) {
      if (tree.entries.size() >= static_cast<size_t>(INT32_MAX)) {
        report_error("too many pattern tree entries");
        return false;
      }
      const int32_t parent = path_entries.empty() ? -1 : path_entries.back();
      path_entries.push_back(static_cast<int32_t>(tree.entries.size()));
      path_items.push_back(first[i]);
      tree.entries.push_back(PatternTreeEntry{first[i], parent, -1});
    }
    tree.entries[path_entries.back()].rule = static_cast<int32_t>(r);
    tree.rule_preorder[r] = path_entries.back();
  }
  return true;
}
