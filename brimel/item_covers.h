// The covers the search starts from: the frequent items, ranked by ascending
// support, as bitsets over the records merged by content. Records that hold
// the same frequent items and the same rule-class label are one record with
// a weight, since no pattern can tell them apart.
#pragma once

#include <cstdint>
#include <vector>

#include "cover_bitsets.h"
#include "mining_data.h"

struct ItemCovers {
  std::vector<int32_t> rank_item;  // rank -> item id
  CoverLayout layout;
  std::vector<uint64_t> bits;  // layout.words words per rank
  std::vector<uint64_t> all;   // every record
};

// `positives`: the records labelled 1 when they form the rule class, else 0.
void build_item_covers(const MiningData& data, int32_t min_sup, int32_t positives,
                       ItemCovers& covers);
