// The pattern tree of the tid-list files: every rule's pattern and all its
// prefixes (items ascending), numbered in preorder.
#pragma once

#include <cstdint>
#include <vector>

#include "pattern_search.h"

struct PatternTreeEntry {
  int32_t item = 0;     // the pattern's largest item
  int32_t parent = -1;  // preorder number of the pattern without it; -1 for the root
  int32_t rule = -1;    // index of the rule whose pattern this is, or -1
};

struct PatternTree {
  std::vector<PatternTreeEntry> entries;  // in preorder
  std::vector<int32_t> rule_preorder;     // per rule, its entry
};

// Children are numbered in ascending order of their last item. Returns false
// after an "Error: " line when the entries cannot be numbered in 32 bits.
bool build_pattern_tree(const SearchResult& result, PatternTree& tree);
