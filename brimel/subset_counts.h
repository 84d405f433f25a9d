// The counts of every combination of a few items within one cover, found in
// one pass over its records: each record adds its weight to the entry of the
// set of those items it holds, and a sum over supersets then gives each set
// the weight of the records that hold all of its items. Below a node whose
// children are few, the search reads their subtrees' counts from here
// instead of intersecting bitsets.
#pragma once

#include <cstdint>
#include <vector>

#include "cover_bitsets.h"
#include "item_covers.h"

// The most items a table counts.
constexpr int kMaxSubsetItems = 16;

struct SubsetCounts {
  int items = 0;
  // Per set of items (bit i: item i): its support in the upper 32 bits, its
  // class support in the lower, so that one addition adds both.
  std::vector<uint64_t> entries;
};

inline CoverCounts subset_counts(const SubsetCounts& table, uint32_t set) {
  const uint64_t entry = table.entries[set];
  return CoverCounts{static_cast<int32_t>(entry >> 32), static_cast<int32_t>(entry & 0xffffffffu)};
}

// Counts the sets of `items` (at most kMaxSubsetItems) items whose covers,
// each inside one cover of `layout`, lie at covers + i * layout.words, read
// over the words `listed` lists (null: every word).
void count_subsets_of_covers(const uint64_t* covers, int items, const CoverLayout& layout,
                             const uint32_t* listed, size_t listed_count, SubsetCounts& table);

// Counts the sets of `items` items in `records`, where rank r is item
// slot_of_rank[r] - first_slot (none when that is negative); records in the
// rule class add to the class supports.
void count_subsets_of_records(const RecordSet& records, const std::vector<int32_t>& slot_of_rank,
                              int32_t first_slot, int items, SubsetCounts& table);
