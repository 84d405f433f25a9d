// The search runs over bitsets of transactions, depth first. A node's
// children are the intersections of its bitset with those of its later
// siblings; deep in the search, where covers are small, only the words that
// are non-zero in the node's cover are visited. Items are searched in
// ascending support, children visited from the last item back, so that every
// pattern's generalisations are already in the support trie when the pattern
// is tested. Transactions are renumbered with the rule class first, in words
// of their own: the class support is the count in the leading words.
#include "pattern_search.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <numeric>

#include "driver/run_stats.h"
#include "cover_bitsets.h"
#include "fisher_verdict.h"
#include "pattern_trie.h"

namespace {

// A child of the node being expanded: an item that extends it, with the
// pattern's supports and the slot of its bitset in the level's buffer.
struct Extension {
  int32_t rank = 0;
  int32_t support = 0;
  int32_t class_support = 0;
  uint32_t slot = 0;
  uint32_t trie = kNoTrieNode;
  bool alive = false;  // may be the generalisation of a rule, and so may its extensions
};

struct Search {
  const MinerParams* params = nullptr;
  SearchResult* out = nullptr;
  int32_t transactions = 0;
  int32_t positives = 0;
  int32_t max_len = 0;
  double base_confidence = 0.0;
  double log10_local = 0.0;  // log10(max_local_pvalue)

  size_t words = 0;           // words per bitset
  size_t positive_words = 0;  // the leading words, which hold the rule class
  std::vector<int32_t> rank_item;                      // rank -> item id
  std::vector<uint64_t> item_bits;                     // bitset of each rank
  std::vector<std::vector<uint64_t>> level_bits;       // depth d: bitsets of the patterns of length d
  std::vector<std::vector<Extension>> level_children;  // depth d: the patterns of length d under the path
  std::vector<std::vector<uint32_t>> level_active;     // depth d: word list of the node expanded there
  std::vector<const std::vector<uint32_t>*> active_list;  // depth d: the list in effect there
  std::vector<size_t> active_split;  // depth d: how many words of that list hold the rule class
  std::vector<int32_t> path;                           // ranks of the current pattern
  // Trie node of each prefix of the path: all of them are held while a
  // pattern on it is tested, since none of them can be dead then.
  std::vector<uint32_t> path_trie;

  LogFactorialTable log_factorial;
  FisherVerdictCache global;  // tables of the whole data and the rule class
  FisherBound local;
  PatternTrie trie;
  bool failed = false;

  bool show_progress = false;
  uint64_t nodes = 0;
  std::chrono::steady_clock::time_point last_progress;

  // Scratch for the generalisations of the pattern under test.
  std::vector<int32_t> general_support;
  std::vector<int32_t> general_class_support;
};

void add_saturating(uint64_t& total, uint64_t amount, bool& saturated) {
  if (total > UINT64_MAX - amount) {
    total = UINT64_MAX;
    saturated = true;
  } else {
    total += amount;
  }
}

// Sum of C(q, j) for j = 0 .. limit, stopping at the largest count.
uint64_t subsets_up_to(int q, int limit, bool& saturated) {
  limit = std::min(q, std::max(limit, 0));
  unsigned __int128 binomial = 1;
  uint64_t sum = 1;
  for (int j = 0; j < limit; ++j) {
    binomial = binomial * static_cast<unsigned>(q - j) / static_cast<unsigned>(j + 1);
    if (binomial > UINT64_MAX) {
      saturated = true;
      return UINT64_MAX;
    }
    add_saturating(sum, static_cast<uint64_t>(binomial), saturated);
  }
  return sum;
}

// A pattern can be the generalisation of a rule only if some pattern inside
// its cover can be locally significant within it; this is inherited by its
// extensions, whose covers are smaller.
bool may_generalise_rule(const Search& s, int32_t support, int32_t class_support) {
  return log10_local_pvalue_floor(s.log_factorial.data(), support, class_support,
                                  s.params->min_sup) <= s.log10_local + 1e-9;
}

bool improves_on(const Search& s, int32_t support, int32_t class_support, int32_t general_support,
                 int32_t general_class_support) {
  const double confidence = static_cast<double>(class_support) / support;
  const double general = static_cast<double>(general_class_support) / general_support;
  return confidence - general > s.params->min_diff;
}

// The improvement and local-significance conditions for the pattern on the
// path (its own p-value is within max_pvalue already); keeps it as a rule
// when it meets both.
void test_rule(Search& s, int depth, const Extension& x, int32_t parent_support,
               int32_t parent_class_support) {
  const double confidence = static_cast<double>(x.class_support) / x.support;
  if (!(confidence - s.base_confidence > s.params->min_diff)) return;
  s.general_support.clear();
  s.general_class_support.clear();
  if (depth >= 2) {
    if (!improves_on(s, x.support, x.class_support, parent_support, parent_class_support)) return;
    if (!fisher_within(s.local, parent_support, x.support, parent_class_support, x.class_support))
      return;
    s.general_support.push_back(parent_support);
    s.general_class_support.push_back(parent_class_support);
    for (int skip = 0; skip + 1 < depth; ++skip) {
      // A generalisation the trie does not hold cannot be beaten by any
      // pattern (see may_generalise_rule), or it has an item that adds
      // nothing to its cover, which the pattern then shares.
      const TrieNode* general = find_extension(s.trie, s.path_trie[skip], s.path.data() + skip + 1,
                                               depth - skip - 1);
      if (general == nullptr) return;
      if (!improves_on(s, x.support, x.class_support, general->support, general->class_support))
        return;
      if (!fisher_within(s.local, general->support, x.support, general->class_support,
                         x.class_support))
        return;
      s.general_support.push_back(general->support);
      s.general_class_support.push_back(general->class_support);
    }
  }
  MinedRule rule;
  rule.item_begin = s.out->rule_items.size();
  rule.length = depth;
  rule.support = x.support;
  rule.class_support = x.class_support;
  rule.pvalue = fisher_pvalue_skipping(s.log_factorial.data(), s.transactions, x.support,
                                       s.positives, x.class_support);
  for (size_t g = 0; g < s.general_support.size(); ++g)
    rule.max_local_pvalue = std::max(
        rule.max_local_pvalue,
        fisher_pvalue_skipping(s.log_factorial.data(), s.general_support[g], x.support,
                               s.general_class_support[g], x.class_support));
  for (int i = 0; i < depth; ++i) s.out->rule_items.push_back(s.rank_item[s.path[i]]);
  std::sort(s.out->rule_items.end() - depth, s.out->rule_items.end());
  s.out->rules.push_back(rule);
}

// Intersects the node's bitset with each candidate's and keeps the frequent
// results in the next level; returns the number of candidates that occur in
// every transaction of the node.
int extend(Search& s, int depth, const uint64_t* x, int32_t x_support, const Extension* candidates,
           int count, const uint64_t* candidate_bits) {
  const size_t words = s.words;
  // The words that may be non-zero in the node's cover: every word at the
  // root, else its parent's list, narrowed to the node's non-zero words when
  // several candidates will read it.
  std::vector<uint32_t>& own = s.level_active[depth];
  const std::vector<uint32_t>* list = &own;
  size_t split = s.positive_words;  // listed words of the rule class, which come first
  if (depth == 0) {
    own.resize(words);
    std::iota(own.begin(), own.end(), 0u);
  } else if (count == 1) {
    list = s.active_list[depth - 1];
    split = s.active_split[depth - 1];
  } else {
    const std::vector<uint32_t>& above = *s.active_list[depth - 1];
    const size_t above_split = s.active_split[depth - 1];
    own.resize(above.size());
    size_t kept = 0;
    for (size_t i = 0; i < above.size(); ++i) {
      if (i == above_split) split = kept;
      own[kept] = above[i];
      kept += x[above[i]] != 0;
    }
    if (above_split == above.size()) split = kept;
    own.resize(kept);
    // Dense nodes take every word, so the loop runs straight through memory;
    // their words outside the list are zero. Below a sparse node only the
    // listed words are ever written or read.
    if (kept * 2 > words) {
      own.resize(words);
      std::iota(own.begin(), own.end(), 0u);
      split = s.positive_words;
    }
  }
  s.active_list[depth] = list;
  s.active_split[depth] = split;
  const std::vector<uint32_t>& active = *list;
  const bool dense = active.size() == words;

  // The root's children are the items themselves: their bitsets stay where
  // they are.
  std::vector<uint64_t>& buffer = s.level_bits[depth + 1];
  if (depth > 0 && buffer.size() < static_cast<size_t>(count) * words)
    buffer.resize(static_cast<size_t>(count) * words);
  std::vector<Extension>& children = s.level_children[depth + 1];
  children.clear();
  int perfect = 0;
  uint32_t slot = 0;
  for (int i = 0; i < count; ++i) {
    const uint64_t* y = candidate_bits + static_cast<size_t>(candidates[i].slot) * words;
    uint64_t* out = buffer.data() + static_cast<size_t>(slot) * words;
    const CoverCounts c = depth == 0 ? count_cover(y, words, s.positive_words)
                          : dense    ? intersect_all(x, y, out, words, s.positive_words)
                                     : intersect_listed(x, y, out, active.data(), active.size(), split);
    if (c.support < s.params->min_sup) continue;
    if (c.support == x_support) {
      ++perfect;
      continue;
    }
    children.push_back(Extension{candidates[i].rank, c.support, c.class_support,
                                 depth == 0 ? candidates[i].slot : slot, kNoTrieNode});
    ++slot;
  }
  return perfect;
}

void show_progress(Search& s) {
  const auto now = std::chrono::steady_clock::now();
  if (now - s.last_progress < std::chrono::milliseconds(500)) return;
  s.last_progress = now;
  std::fprintf(stderr, "\r%llu patterns tested, %zu rules",
               static_cast<unsigned long long>(s.out->patterns_tested), s.out->rules.size());
}

// Gives the node's living children their places in the trie, side by side
// under the node's own.
bool store_children(Search& s, uint32_t node_index, std::vector<Extension>& children) {
  uint32_t stored = 0;
  for (const Extension& child : children) stored += child.alive;
  if (stored == 0) return true;
  const uint32_t first = add_trie_nodes(s.trie, stored);
  if (first == kNoTrieNode) {
    std::fputs("Error: too many frequent patterns to keep their supports\n", stdout);
    return false;
  }
  TrieNode& node = trie_node(s.trie, node_index);
  node.first_child = first;
  node.child_count = stored;
  uint32_t next = first;
  for (Extension& child : children) {
    if (!child.alive) continue;
    trie_node(s.trie, next) = TrieNode{child.rank, child.support, child.class_support, 0, 0};
    child.trie = next++;
  }
  return true;
}

// Expands the pattern on the path, of length `depth` (0: the empty pattern),
// whose extensions are drawn from `candidates`. `inherited` counts the items
// that earlier nodes found in every transaction of their cover: they extend
// every pattern below without changing its cover.
void expand(Search& s, int depth, const Extension& x, const uint64_t* x_bits,
            const Extension* candidates, int count, const uint64_t* candidate_bits, int inherited,
            bool parent_alive, int32_t parent_support, int32_t parent_class_support) {
  if (s.failed) return;
  if (s.show_progress && (++s.nodes & 0xffff) == 0) show_progress(s);
  int perfect = 0;
  if (depth < s.max_len && count > 0)
    perfect = extend(s, depth, x_bits, x.support, candidates, count, candidate_bits);
  else
    s.level_children[depth + 1].clear();
  const int q = inherited + perfect;

  // The pattern stands for itself and for its union with every subset of the
  // q cover-preserving items; all of these share its supports and p-value,
  // but only the pattern itself can improve on its generalisations.
  uint64_t represented = subsets_up_to(q, s.max_len - depth, s.out->count_saturated);
  if (depth == 0) --represented;
  if (represented > 0) {
    add_saturating(s.out->patterns_tested, represented, s.out->count_saturated);
    if (cached_fisher_within(s.global, x.support, x.class_support)) {
      add_saturating(s.out->passing_pvalue, represented, s.out->count_saturated);
      if (depth > 0 && parent_alive) test_rule(s, depth, x, parent_support, parent_class_support);
    }
  }

  std::vector<Extension>& children = s.level_children[depth + 1];
  for (Extension& child : children)
    child.alive = x.alive && may_generalise_rule(s, child.support, child.class_support);
  if (x.alive && x.trie != kNoTrieNode && depth + 1 < s.max_len && !store_children(s, x.trie, children)) {
    s.failed = true;
    return;
  }
  s.path_trie[depth] = x.trie;
  const int n_children = static_cast<int>(children.size());
  const uint64_t* bits = depth == 0 ? s.item_bits.data() : s.level_bits[depth + 1].data();
  for (int j = n_children - 1; j >= 0; --j) {
    s.path[depth] = children[j].rank;
    expand(s, depth + 1, children[j], bits + static_cast<size_t>(children[j].slot) * s.words,
           children.data() + j + 1, n_children - j - 1, bits, q, x.alive, x.support,
           x.class_support);
  }
}

// Ranks the frequent items by ascending support and builds their bitsets,
// with the positives first and the others from the next word on.
void prepare_items(Search& s, const MiningData& data) {
  std::vector<int32_t> item_support(data.item_keys.size(), 0);
  for (const int32_t item : data.items) ++item_support[item];
  std::vector<int32_t> frequent;
  for (size_t item = 0; item < item_support.size(); ++item)
    if (item_support[item] >= s.params->min_sup) frequent.push_back(static_cast<int32_t>(item));
  std::stable_sort(frequent.begin(), frequent.end(),
                   [&](int32_t a, int32_t b) { return item_support[a] < item_support[b]; });
  std::vector<int32_t> rank_of(item_support.size(), -1);
  for (size_t r = 0; r < frequent.size(); ++r) rank_of[frequent[r]] = static_cast<int32_t>(r);
  s.rank_item = frequent;

  const int32_t n = transaction_count(data);
  s.positive_words = (static_cast<size_t>(s.positives) + 63) / 64;
  s.words = s.positive_words + (static_cast<size_t>(n - s.positives) + 63) / 64;
  s.item_bits.assign(frequent.size() * s.words, 0);
  size_t next_positive = 0, next_other = s.positive_words * 64;
  for (int32_t t = 0; t < n; ++t) {
    const size_t bit = data.labels[t] == 1 && s.positives > 0 ? next_positive++ : next_other++;
    for (int64_t i = data.offsets[t]; i < data.offsets[t + 1]; ++i) {
      const int32_t rank = rank_of[data.items[i]];
      if (rank >= 0) s.item_bits[rank * s.words + bit / 64] |= uint64_t{1} << (bit % 64);
    }
  }
}

}  // namespace

bool search_rules(const MiningData& data, const MinerParams& params, bool show_progress,
                  SearchResult& result) {
  result = SearchResult{};
  Search s;
  s.params = &params;
  s.out = &result;
  s.transactions = transaction_count(data);
  s.positives = data.classes_usable ? data.positives : 0;
  s.log_factorial = build_log_factorial_table(s.transactions);
  s.global = make_fisher_verdict_cache(make_fisher_bound(s.log_factorial.data(), params.max_pvalue),
                                       s.transactions, s.positives);
  s.local = make_fisher_bound(s.log_factorial.data(), params.max_local_pvalue);
  s.log10_local = std::log10(params.max_local_pvalue);
  s.base_confidence =
      s.transactions > 0 ? static_cast<double>(s.positives) / s.transactions : 0.0;
  s.show_progress = show_progress;
  s.last_progress = std::chrono::steady_clock::now();

  prepare_items(s, data);
  const int32_t frequent = static_cast<int32_t>(s.rank_item.size());
  result.frequent_items = frequent;
  s.max_len = std::min(params.max_len, frequent);
  s.level_bits.resize(s.max_len + 2);
  s.level_children.resize(s.max_len + 2);
  s.level_active.resize(s.max_len + 2);
  s.active_list.assign(s.max_len + 2, nullptr);
  s.active_split.assign(s.max_len + 2, 0);
  s.path.assign(s.max_len + 1, 0);
  s.path_trie.assign(s.max_len + 1, kTrieRoot);
  reset_trie(s.trie, s.transactions, s.positives);

  // The root: the empty pattern, covering every transaction; its candidates
  // are the frequent items.
  std::vector<uint64_t>& all = s.level_bits[0];
  all.assign(s.words, 0);
  for (int32_t t = 0; t < s.positives; ++t) all[t / 64] |= uint64_t{1} << (t % 64);
  for (int32_t t = 0; t < s.transactions - s.positives; ++t) {
    const size_t bit = s.positive_words * 64 + t;
    all[bit / 64] |= uint64_t{1} << (bit % 64);
  }
  std::vector<Extension> candidates(frequent);
  for (int32_t r = 0; r < frequent; ++r)
    candidates[r] = Extension{r, 0, 0, static_cast<uint32_t>(r), kNoTrieNode};
  const Extension root{-1, s.transactions, s.positives, 0, kTrieRoot, true};
  expand(s, 0, root, all.data(), candidates.data(), frequent, s.item_bits.data(), 0, true,
         s.transactions, s.positives);
  if (show_progress) std::fputs("\r\033[K", stderr);
  return !s.failed;
}
