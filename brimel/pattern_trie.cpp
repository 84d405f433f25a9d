// The prefix tree of pattern supports.
#include "pattern_trie.h"

void reset_trie(PatternTrie& trie, const TrieNode& root, uint32_t max_children) {
  trie.blocks.clear();
  trie.size = 0;
  trie.block_bits = 12;
  while (trie.block_bits < 31 && (uint64_t{1} << trie.block_bits) < max_children) ++trie.block_bits;
  add_trie_nodes(trie, 1);
  trie_node(trie, kTrieRoot) = root;
}

uint32_t add_trie_nodes_in_new_block(PatternTrie& trie, uint32_t count) {
  // A block boundary must not split one node's children, which are found by
  // index arithmetic; so a run that would cross it starts a fresh block.
  const uint64_t block_size = uint64_t{1} << trie.block_bits;
  if (count > block_size) return kNoTrieNode;
  uint64_t first = trie.size;
  if (first / block_size != (first + count - 1) / block_size)
    first = (first + block_size - 1) / block_size * block_size;
  if (first + count >= kNoTrieNode) return kNoTrieNode;
  while (trie.blocks.size() * block_size < first + count)
    trie.blocks.push_back(std::unique_ptr<TrieNode[]>(new TrieNode[block_size]));
  trie.size = first + count;
  return static_cast<uint32_t>(first);
}
