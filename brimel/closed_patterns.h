// Which tested patterns are closed, so that direct adjustment can count each
// distinct cover once: a pattern's p-value depends only on the records it
// covers, so all patterns of one cover are one hypothesis.
//
// A node of the search stands for its pattern P and for P's unions with the
// items Q found in every record of the covers along its path (perfect
// extensions), all of one cover. Of the nodes of a cover exactly one holds
// its closed pattern, every item of the cover's records, as P with Q: the one
// whose cover no item ranked below P's last item holds unless it is in P or
// Q. Items ranked above the last item in every record are in Q already,
// since every later item is a candidate of the node. And a node whose cover
// some earlier item holds hands that item to all its extensions, so only
// nodes whose parent is closed are looked at.
//
// The search's records are merged, so each record of an item's layout keeps
// the items all of its transactions share; a node is closed when, over the
// records of its cover, those sets leave no earlier item outside P and Q,
// which usually the first few records settle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "item_covers.h"

// One search thread's closure state; item sets are bitmaps over the frequent
// item ranks, `words` words each.
struct ClosureScratch {
  size_t words = 0;
  // Per bit of the current item's layout: the items every transaction of
  // that record holds; by depth, the same for the layout a node's children
  // were packed into there.
  std::vector<uint64_t> shared;
  std::vector<std::vector<uint64_t>> packed_shared;
  // Per depth d: the items of the path's first d items and of the Q of each
  // of those prefixes (depth 0: the items in every transaction).
  std::vector<uint64_t> known;
  std::vector<char> closed;      // per depth: the path's pattern of that length is closed
  std::vector<char> seen;        // scratch: per bit, whether `shared` has a record yet
  std::vector<uint64_t> record;  // scratch: one record's items, or the items still open
};

// Per rank: whether the item alone is closed, that is, no item ranked below
// it has the same cover. `covers` are the frequent items' over the whole
// data (slot = rank), ranked by ascending support.
std::vector<char> closed_items(const ItemCovers& covers, int32_t frequent);

// Sizes `closure` for `frequent` items and `levels` depths, with `in_every`
// the ranks of the items in every transaction.
void start_closure(ClosureScratch& closure, int32_t frequent, size_t levels,
                   const std::vector<int32_t>& in_every);

// After the records of item cover `item_bits` (over the whole data's layout
// `whole`) were laid out afresh, record i of them at bit bit_of_record[i] of
// a layout of `words` words: each bit's shared items.
void share_items(ClosureScratch& closure, const ItemCovers& whole, const uint64_t* item_bits,
                 const std::vector<int32_t>& bit_of_record, size_t words);

// After the node at `depth` packed its children into `packed`, a layout of
// the records of its cover `mask` (read over `listed`, `count` words; null:
// every word of a layout whose rule class fills `positive_words`), whose bits
// share the items `shared`: the items each packed bit shares, into
// closure.packed_shared[depth] (cover_bitsets.h lays the records out).
void pack_shared_items(ClosureScratch& closure, int depth, const uint64_t* shared,
                       const uint64_t* mask, size_t positive_words, const uint32_t* listed,
                       size_t count, const CoverLayout& packed);

// Whether the pattern at `depth` >= 2, whose last item has rank `last_rank`,
// with cover `bits` over a layout below the item whose bits share the items
// `shared`, read over `listed` (`count` words; null: all `words`), is
// closed, given that its parent is: no item below `last_rank` outside
// closure.known[depth - 1] lies in every record.
bool cover_is_closed(ClosureScratch& closure, int depth, int32_t last_rank, const uint64_t* shared,
                     const uint64_t* bits, size_t words, const uint32_t* listed, size_t count);

// Sets closure.known[depth] to closure.known[depth - 1] with `rank` and the
// `perfect` ranks.
void know_items(ClosureScratch& closure, int depth, int32_t rank,
                const std::vector<int32_t>& perfect);
