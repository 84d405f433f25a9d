// The supports of the patterns already enumerated, kept as a prefix tree so
// that a pattern's generalisations can be looked up when it is tested.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// One pattern: its last item (in search order) and its two supports. The
// children of a node lie side by side, ascending by item.
struct TrieNode {
  int32_t item = 0;
  int32_t support = 0;
  int32_t class_support = 0;
  uint32_t first_child = 0;
  uint32_t child_count = 0;
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

// Appends `count` nodes, contiguous in index, and returns the first index, or
// kNoTrieNode when the index space is used up.
uint32_t add_trie_nodes(PatternTrie& trie, uint32_t count);

// The node of the pattern made of the pattern of node `start` and the
// `count` items that follow it (ascending in search order); null when it is
// not held (or `start` is kNoTrieNode).
const TrieNode* find_extension(const PatternTrie& trie, uint32_t start, const int32_t* items,
                               int count);
