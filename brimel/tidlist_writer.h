// Writing the pattern tree's tid lists in the layout the driver's tid-list
// store reads: every rule's list in full, or as a diff-list against its
// nearest stored ancestor when that is shorter.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mining_data.h"
#include "pattern_tree.h"

struct TidListCounts {
  int64_t full_lists = 0;
  int64_t diff_lists = 0;
};

// Writes the directory to `dir_path` and the lists to `list_path`, on up to
// `threads` threads; the tree's rules are `rules`. Returns false after an
// "Error: " line when a file cannot be written or the list file would pass
// the 2 GiB its offsets can address.
bool write_tid_lists(const std::string& dir_path, const std::string& list_path,
                     const MiningData& data, const PatternTree& tree,
                     const std::vector<MinedRule>& rules, int threads, TidListCounts& counts);
