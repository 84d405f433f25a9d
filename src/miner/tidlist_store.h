// The miner's tid lists: "<output>.tidlist.dir" and "<output>.tidlist", all
// values signed 32-bit little-endian.
//   directory: header of 4 ints (entry count E, then 3 ints not read),
//              then E entries of 3 ints: flags, offset, parent
//   list file: at each stored entry's byte offset, a count c and c ascending
//              transaction numbers
// Entry k describes the pattern of preorder number k; its parent is -1 for
// the tree's root, whose list is every mined transaction.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "miner/rule_file.h"

constexpr int32_t kTidListStored = 1;    // the entry has a list of its own
constexpr int32_t kTidListDiff = 2;      // that list is a diff-list against the parent's
constexpr int kTidListDirHeaderInts = 4;
constexpr int kTidListDirEntryInts = 3;

struct TidListDirEntry {
  int32_t flags = 0;
  int32_t offset = 0;
  int32_t parent = -1;
};

using TidListDirectory = std::vector<TidListDirEntry>;

// Fills every rule's tid list from the two files of `output_name`, checking
// each rebuilt length against the rule's support. Nothing is written past a
// rule's room.
void load_rule_tid_lists(const std::string& output_name, RuleSet& rules);
