// The supports of the patterns already enumerated, kept as a prefix tree so
// that a pattern's generalisations can be looked up when it is tested.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

// One pattern: its last item (in search order) and its two supports. The
// children of a node lie side by side, ascending by item.
// No initial values: blocks of nodes are allocated as they are, and each
// node is written whole before it is read.
struct TrieNode {
  int32_t item;
  int32_t support;
  int32_t class_support;
  uint32_t first_child;
  uint32_t child_count;
};

// Nodes live in fixed blocks, so growing never copies or moves them. A
// block holds at least the children of one node.
struct PatternTrie {
  uint32_t block_bits = 12;
  std::vector<std::unique_ptr<TrieNode[]>> blocks;
  uint64_t size = 0;
};

constexpr uint32_t kTrieRoot = 0;
constexpr uint32_t kNoTrieNode = UINT32_MAX;

inline TrieNode& trie_node(PatternTrie& trie, uint32_t index) {
  return trie.blocks[index >> trie.block_bits][index & ((1u << trie.block_bits) - 1)];
}
inline const TrieNode& trie_node(const PatternTrie& trie, uint32_t index) {
  return trie.blocks[index >> trie.block_bits][index & ((1u << trie.block_bits) - 1)];
}

// Makes the trie hold only its root `root`, whose children will number at
// most `max_children`.
void reset_trie(PatternTrie& trie, const TrieNode& root, uint32_t max_children);

// add_trie_nodes where the nodes do not fit in the blocks there are.
uint32_t add_trie_nodes_in_new_block(PatternTrie& trie, uint32_t count);

// Appends `count` nodes, contiguous in index, and returns the first index, or
// kNoTrieNode when the index space is used up.
inline uint32_t add_trie_nodes(PatternTrie& trie, uint32_t count) {
  const uint64_t first = trie.size;
  const uint64_t end = first + count;
  // Within the last block, nearly always.
  if (count > 0 && (first >> trie.block_bits) == ((end - 1) >> trie.block_bits) &&
      end <= uint64_t{trie.blocks.size()} << trie.block_bits && end < kNoTrieNode) {
    trie.size = end;
    return static_cast<uint32_t>(first);
  }
  return add_trie_nodes_in_new_block(trie, count);
}

// The child of node `parent` whose item is `item`, or kNoTrieNode when it
// holds none (or `parent` is kNoTrieNode). Inline: the rule tests look up
// millions of generalisations.
inline uint32_t find_child(const PatternTrie& trie, uint32_t parent, int32_t item) {
  if (parent == kNoTrieNode) return kNoTrieNode;
  const TrieNode& node = trie_node(trie, parent);
  if (node.child_count == 0) return kNoTrieNode;
  // Children lie side by side in one block, ascending by item.
  const TrieNode* first = &trie_node(trie, node.first_child);
  const TrieNode* last = first + node.child_count;
  // Most nodes have a few children.
  const TrieNode* found = first;
  if (node.child_count > 16)
    found = std::lower_bound(first, last, item,
                             [](const TrieNode& n, int32_t wanted) { return n.item < wanted; });
  else
    while (found != last && found->item < item) ++found;
  if (found == last || found->item != item) return kNoTrieNode;
  return node.first_child + static_cast<uint32_t>(found - first);
}
