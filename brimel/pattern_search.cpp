// The search runs over bitsets of the merged records, depth first. A node's
// children are the intersections of its bitset with those of its later
// siblings; deep in the search, where covers are small, only the words that
// are non-zero in the node's cover are visited. Items are searched in
// ascending support, children visited from the last item back, so that every
// pattern's generalisations are already in the support trie when the pattern
// is tested.
//
// The subtrees of the items are searched in parallel, each with a trie of
// its own, dropped when the subtree is done: a pattern's generalisations lie
// in its own item's subtree, but for the one without its first item, which
// is counted afresh from the items' bitsets when a pattern gets that far.
// The subtrees' rules are joined in the order one thread would have found
// them.
#include "pattern_search.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <thread>

#include "common/messages.h"
#include "cover_bitsets.h"
#include "fisher_verdict.h"
#include "item_covers.h"
#include "pattern_trie.h"
#include "validate/fisher.h"

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

// The extensions a node's children are drawn from: `count` candidates, the
// bitset of each at `bits` + its slot times the words per bitset.
struct Candidates {
  const Extension* first = nullptr;
  int count = 0;
  const uint64_t* bits = nullptr;
};

// The parent of the node under test: its supports, and whether it may be the
// generalisation of a rule.
struct ParentNode {
  bool alive = false;
  int32_t support = 0;
  int32_t class_support = 0;
};

// What the search of one item's subtree found.
struct SubtreeResult {
  uint64_t patterns_tested = 0;
  uint64_t passing_pvalue = 0;
  bool count_saturated = false;
  bool failed = false;
  std::vector<MinedRule> rules;  // item_begin into rule_items
  std::vector<int32_t> rule_items;
};

// Everything the threads share; read only while they run.
struct SearchSetup {
  const MinerParams* params = nullptr;
  int32_t transactions = 0;
  int32_t positives = 0;
  int32_t max_len = 0;
  double base_confidence = 0.0;
  double log10_local = 0.0;        // log10(max_local_pvalue)
  std::vector<int32_t> rank_item;  // rank -> item id
  ItemCovers covers;               // of the frequent items over the whole data, slot = rank
  LogFactorialTable log_factorial;
  FisherBound global_bound;
  FisherBound local;
  std::vector<char> item_alive;   // per rank: a child of the root that may generalise a rule
  bool count_only = false;        // no rule is tested
  HookShared hook;                // hook.hook null: none
  uint64_t root_represented = 0;  // patterns of items in every transaction

  bool show_progress = false;
  mutable std::atomic<uint64_t> progress_patterns{0};  // as last reported by the threads
};

// One thread's working state.
struct Search {
  const SearchSetup* setup = nullptr;
  SubtreeResult* out = nullptr;
  PatternTrie trie;            // the subtree's item and its stored extensions
  ItemCovers covers;           // of the items that may extend the subtree's item, over its records
  int32_t subtree_weight = 0;  // the number of records below the item
  // Scratch for the pattern under test: its generalisations' supports and
  // class supports, and a cover.
  std::vector<int32_t> general_support;
  std::vector<int32_t> general_class_support;
  std::vector<uint64_t> scratch_cover;
  FisherVerdictCache global;  // tables of the whole data and the rule class
  // By depth d: the bitsets of the patterns of length d, the patterns of
  // length d under the path, the word list of the node expanded there and
  // the list in effect there (null: every word).
  std::vector<std::vector<uint64_t>> level_bits;
  std::vector<std::vector<Extension>> level_children;
  std::vector<std::vector<uint32_t>> level_active;
  std::vector<const std::vector<uint32_t>*> active_list;
  std::vector<int32_t> path;  // ranks of the current pattern
  // Trie node of each prefix of the path from the item on: all of them are
  // held while a pattern on it is tested, since none of them can be dead then.
  std::vector<uint32_t> path_trie;
  std::vector<int32_t> bit_of_record;  // scratch for the hook
  HookThread* hook = nullptr;
  uint64_t nodes = 0;
  uint64_t reported_patterns = 0;
  std::chrono::steady_clock::time_point last_progress;
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
bool may_generalise_rule(const SearchSetup& s, int32_t support, int32_t class_support) {
  return log10_local_pvalue_floor(s.log_factorial.data(), support, class_support,
                                  s.params->min_sup) <= s.log10_local + 1e-9;
}

// Whether a pattern of the given supports is more confident than its
// generalisation by more than min_diff and locally significant within it.
bool beats(const SearchSetup& s, int32_t support, int32_t class_support, int32_t general_support,
           int32_t general_class_support) {
  const double confidence = static_cast<double>(class_support) / support;
  const double general = static_cast<double>(general_class_support) / general_support;
  return confidence - general > s.params->min_diff &&
         fisher_within(s.local, general_support, support, general_class_support, class_support);
}

// The counts of the pattern of the `count` ranks at `ranks` (ascending),
// held by a pattern under test, as the trie of its first item's subtree
// held them: false when the trie did not hold it, as one of its prefixes
// could not generalise a rule. Of the patterns inside one under test, the
// trie held every one that it did not drop so.
bool count_pattern(const SearchSetup& s, const int32_t* ranks, int count,
                   std::vector<uint64_t>& cover, CoverCounts& counts) {
  const CoverLayout& layout = s.covers.layout;
  if (!s.item_alive[ranks[0]]) return false;
  const uint64_t* bits = s.covers.bits.data();
  cover.assign(bits + static_cast<size_t>(ranks[0]) * layout.words,
               bits + static_cast<size_t>(ranks[0] + 1) * layout.words);
  counts = count_cover(cover.data(), layout);
  const CoverStretches whole = whole_cover_stretches(layout);
  for (int i = 1; i < count; ++i) {
    counts = intersect_all(cover.data(), bits + static_cast<size_t>(ranks[i]) * layout.words,
                           cover.data(), layout, whole);
    if (!may_generalise_rule(s, counts.support, counts.class_support)) return false;
  }
  return true;
}

// The improvement and local-significance conditions for the pattern on the
// path (its own p-value is within max_pvalue already); keeps it as a rule
// when it meets both.
void test_rule(Search& t, int depth, const Extension& x, ParentNode parent) {
  const int32_t parent_support = parent.support;
  const int32_t parent_class_support = parent.class_support;
  const SearchSetup& s = *t.setup;
  const double confidence = static_cast<double>(x.class_support) / x.support;
  if (!(confidence - s.base_confidence > s.params->min_diff)) return;
  t.general_support.clear();
  t.general_class_support.clear();
  if (depth >= 2) {
    if (!beats(s, x.support, x.class_support, parent_support, parent_class_support)) return;
    t.general_support.push_back(parent_support);
    t.general_class_support.push_back(parent_class_support);
    for (int skip = 1; skip + 1 < depth; ++skip) {
      // A generalisation the trie does not hold cannot be beaten by any
      // pattern (see may_generalise_rule), or it has an item that adds
      // nothing to its cover, which the pattern then shares.
      const TrieNode* general =
          find_extension(t.trie, t.path_trie[skip], t.path.data() + skip + 1, depth - skip - 1);
      if (general == nullptr ||
          !beats(s, x.support, x.class_support, general->support, general->class_support))
        return;
      t.general_support.push_back(general->support);
      t.general_class_support.push_back(general->class_support);
    }
    CoverCounts first_dropped;
    if (!count_pattern(s, t.path.data() + 1, depth - 1, t.scratch_cover, first_dropped) ||
        !beats(s, x.support, x.class_support, first_dropped.support, first_dropped.class_support))
      return;
    t.general_support.push_back(first_dropped.support);
    t.general_class_support.push_back(first_dropped.class_support);
  }
  const double* lf = s.log_factorial.data();
  SubtreeResult& out = *t.out;
  MinedRule rule;
  rule.item_begin = out.rule_items.size();
  rule.length = depth;
  rule.support = x.support;
  rule.class_support = x.class_support;
  rule.pvalue = fisher_pvalue_skipping(lf, s.transactions, x.support, s.positives, x.class_support);
  for (size_t g = 0; g < t.general_support.size(); ++g)
    rule.max_local_pvalue = std::max(
        rule.max_local_pvalue, fisher_pvalue_skipping(lf, t.general_support[g], x.support,
                                                      t.general_class_support[g], x.class_support));
  for (int i = 0; i < depth; ++i) out.rule_items.push_back(s.rank_item[t.path[i]]);
  std::sort(out.rule_items.end() - depth, out.rule_items.end());
  out.rules.push_back(rule);
}

// Intersects the node's bitset with each candidate's and keeps the frequent
// results in the next level; returns the number of candidates that occur in
// every transaction of the node.
int extend(Search& t, int depth, const uint64_t* x, int32_t x_support, Candidates candidates) {
  const int count = candidates.count;
  const SearchSetup& s = *t.setup;
  const CoverLayout& layout = t.covers.layout;
  const size_t words = layout.words;
  // The words that may be non-zero in the node's cover: its parent's list,
  // narrowed to the node's non-zero words when several candidates will read
  // it. A node that covers half the records, below a parent that takes every
  // word, takes every word too without a look; so do nodes whose list keeps
  // more than half the words, since the loop then runs straight through
  // memory. Their words outside the list are zero. Below a sparse node only
  // the listed words are ever written or read.
  const std::vector<uint32_t>* above = t.active_list[depth - 1];
  const std::vector<uint32_t>* list = above;
  if (count > 1 && !(above == nullptr && int64_t{x_support} * 2 > t.subtree_weight)) {
    // Without a branch: whether a word is zero is hard to foretell.
    std::vector<uint32_t>& own = t.level_active[depth];
    own.resize(above == nullptr ? words : above->size());
    size_t kept = 0;
    if (above == nullptr) {
      for (uint32_t w = 0; w < words; ++w) {
        own[kept] = w;
        kept += x[w] != 0;
      }
    } else {
      for (const uint32_t w : *above) {
        own[kept] = w;
        kept += x[w] != 0;
      }
    }
    own.resize(kept);
    list = kept * 2 > words ? nullptr : &own;
  }
  t.active_list[depth] = list;
  const CoverStretches stretches = list == nullptr
                                       ? whole_cover_stretches(layout)
                                       : listed_stretches(list->data(), list->size(), layout);

  std::vector<uint64_t>& buffer = t.level_bits[depth + 1];
  if (buffer.size() < static_cast<size_t>(count) * words)
    buffer.resize(static_cast<size_t>(count) * words);
  std::vector<Extension>& children = t.level_children[depth + 1];
  children.clear();
  int perfect = 0;
  uint32_t slot = 0;
  for (int i = 0; i < count; ++i) {
    const uint64_t* y = candidates.bits + static_cast<size_t>(candidates.first[i].slot) * words;
    uint64_t* out = buffer.data() + static_cast<size_t>(slot) * words;
    const CoverCounts c = list == nullptr
                              ? intersect_all(x, y, out, layout, stretches)
                              : intersect_listed(x, y, out, list->data(), layout, stretches);
    if (c.support < s.params->min_sup) continue;
    if (c.support == x_support) {
      ++perfect;
      continue;
    }
    children.push_back(
        Extension{candidates.first[i].rank, c.support, c.class_support, slot, kNoTrieNode});
    ++slot;
  }
  return perfect;
}

void show_progress(Search& t) {
  const auto now = std::chrono::steady_clock::now();
  if (now - t.last_progress < std::chrono::milliseconds(500)) return;
  t.last_progress = now;
  const uint64_t news = t.out->patterns_tested - t.reported_patterns;
  t.reported_patterns = t.out->patterns_tested;
  const uint64_t total = t.setup->progress_patterns.fetch_add(news) + news;
  std::fprintf(stderr, "\r%llu patterns tested", static_cast<unsigned long long>(total));
}

// Gives the node's living children their places in the trie, side by side
// under the node's own.
bool store_children(PatternTrie& trie, uint32_t node_index, std::vector<Extension>& children) {
  uint32_t stored = 0;
  for (const Extension& child : children) stored += child.alive;
  if (stored == 0) return true;
  const uint32_t first = add_trie_nodes(trie, stored);
  if (first == kNoTrieNode) return false;
  TrieNode& node = trie_node(trie, node_index);
  node.first_child = first;
  node.child_count = stored;
  uint32_t next = first;
  for (Extension& child : children) {
    if (!child.alive) continue;
    trie_node(trie, next) = TrieNode{child.rank, child.support, child.class_support, 0, 0};
    child.trie = next++;
  }
  return true;
}

// Expands the pattern on the path, of length `depth` >= 1, whose extensions
// are drawn from `candidates`. `inherited` counts the items that earlier
// nodes found in every transaction of their cover: they extend every pattern
// below without changing its cover.
void expand(Search& t, int depth, const Extension& x, const uint64_t* x_bits, Candidates candidates,
            int inherited, ParentNode parent) {
  const SearchSetup& s = *t.setup;
  SubtreeResult& out = *t.out;
  if (out.failed) return;
  if (s.show_progress && (++t.nodes & 0xffff) == 0) show_progress(t);
  int perfect = 0;
  if (depth < s.max_len && candidates.count > 0)
    perfect = extend(t, depth, x_bits, x.support, candidates);
  else
    t.level_children[depth + 1].clear();
  const int q = inherited + perfect;

  // The pattern stands for itself and for its union with every subset of the
  // q cover-preserving items; all of these share its supports and p-value,
  // but only the pattern itself can improve on its generalisations.
  const uint64_t represented = subsets_up_to(q, s.max_len - depth, out.count_saturated);
  add_saturating(out.patterns_tested, represented, out.count_saturated);
  if (t.hook != nullptr)
    hook_pattern(*t.hook, depth, x.support, x_bits, t.covers.layout.words, t.active_list[depth - 1],
                 represented);
  if (cached_fisher_within(t.global, x.support, x.class_support)) {
    add_saturating(out.passing_pvalue, represented, out.count_saturated);
    if (parent.alive) test_rule(t, depth, x, parent);
  }

  std::vector<Extension>& children = t.level_children[depth + 1];
  for (Extension& child : children)
    child.alive = x.alive && may_generalise_rule(s, child.support, child.class_support);
  if (x.alive && x.trie != kNoTrieNode && depth + 1 < s.max_len &&
      !store_children(t.trie, x.trie, children)) {
    out.failed = true;
    return;
  }
  t.path_trie[depth] = x.trie;
  const int n_children = static_cast<int>(children.size());
  const uint64_t* bits = t.level_bits[depth + 1].data();
  for (int j = n_children - 1; j >= 0; --j) {
    t.path[depth] = children[j].rank;
    expand(t, depth + 1, children[j],
           bits + static_cast<size_t>(children[j].slot) * t.covers.layout.words,
           Candidates{children.data() + j + 1, n_children - j - 1, bits}, q,
           ParentNode{x.alive, x.support, x.class_support});
  }
}

// The number of threads to search with: BRIMEL_THREADS when it is set to a
// positive number, else one per processor.
int search_threads() {
  const char* text = std::getenv("BRIMEL_THREADS");
  if (text != nullptr && *text != '\0') {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end == '\0' && value >= 1 && value <= 1024) return static_cast<int>(value);
    report_warning("BRIMEL_THREADS=%s is not a thread count from 1 to 1024; ignored", text);
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

// Fills the setup every thread reads; `items` becomes the root's children,
// the frequent items but those found in every transaction, which `perfect`
// counts. The root, the empty pattern, stands for every set of those.
void set_up_search(const MiningData& data, const MinerParams& params, bool show_progress,
                   SearchHook* hook, SearchSetup& s, std::vector<Extension>& items, int& perfect,
                   SearchResult& result) {
  s.params = &params;
  s.transactions = transaction_count(data);
  s.positives = data.classes_usable ? data.positives : 0;
  s.log_factorial = build_log_factorial_table(s.transactions);
  s.global_bound = make_fisher_bound(s.log_factorial.data(), params.max_pvalue);
  s.local = make_fisher_bound(s.log_factorial.data(), params.max_local_pvalue);
  s.log10_local = std::log10(params.max_local_pvalue);
  s.base_confidence = s.transactions > 0 ? static_cast<double>(s.positives) / s.transactions : 0.0;
  s.show_progress = show_progress;

  s.rank_item = rank_frequent_items(data, params.min_sup);
  const int32_t frequent = static_cast<int32_t>(s.rank_item.size());
  std::vector<int32_t> slot_of_rank(static_cast<size_t>(frequent));
  std::iota(slot_of_rank.begin(), slot_of_rank.end(), 0);
  const bool evaluates = hook_evaluates(hook);
  std::vector<int32_t> record_of_transaction, bit_of_record;
  build_covers(
      ranked_records(data, s.rank_item, s.positives, evaluates ? &record_of_transaction : nullptr),
      slot_of_rank, frequent, s.covers, evaluates ? &bit_of_record : nullptr);
  const CoverLayout& layout = s.covers.layout;
  result.frequent_items = frequent;
  s.max_len = std::min(params.max_len, frequent);
  if (hook != nullptr) {
    s.count_only = hook->count_only;
    for (int32_t& record : record_of_transaction) record = bit_of_record[record];
    start_hook(*hook, record_of_transaction, layout.words, s.transactions, s.max_len, s.hook);
  }

  perfect = 0;
  for (int32_t r = 0; r < frequent; ++r) {
    const CoverCounts c =
        count_cover(s.covers.bits.data() + static_cast<size_t>(r) * layout.words, layout);
    if (c.support == s.transactions) {
      ++perfect;
      continue;
    }
    items.push_back(
        Extension{r, c.support, c.class_support, static_cast<uint32_t>(r), kNoTrieNode});
  }
  const uint64_t represented = subsets_up_to(perfect, s.max_len, result.count_saturated) - 1;
  s.root_represented = represented;
  FisherVerdictCache root_global =
      make_fisher_verdict_cache(s.global_bound, s.transactions, s.positives);
  if (represented > 0) {
    add_saturating(result.patterns_tested, represented, result.count_saturated);
    if (cached_fisher_within(root_global, s.transactions, s.positives))
      add_saturating(result.passing_pvalue, represented, result.count_saturated);
  }
  s.item_alive.assign(static_cast<size_t>(frequent), 0);
  for (Extension& item : items) {
    item.alive = !s.count_only && may_generalise_rule(s, item.support, item.class_support);
    s.item_alive[item.rank] = item.alive;
  }
}

// A thread's state, sized once for every subtree it searches.
void set_up_thread(const SearchSetup& s, Search& t) {
  t.setup = &s;
  t.global = make_fisher_verdict_cache(s.global_bound, s.transactions, s.positives);
  const size_t levels = static_cast<size_t>(s.max_len) + 2;
  t.level_bits.resize(levels);
  t.level_children.resize(levels);
  t.level_active.resize(levels);
  t.active_list.assign(levels, nullptr);
  t.path.assign(levels, 0);
  t.path_trie.assign(levels, kNoTrieNode);
  t.last_progress = std::chrono::steady_clock::now();
}

// Searches the subtree of item `j` into `out`. `slot_of_item` is the
// thread's scratch, one entry per frequent item.
void search_subtree(Search& t, const std::vector<Extension>& items, int j, int perfect,
                    std::vector<int32_t>& slot_of_item, SubtreeResult& out) {
  const SearchSetup& s = *t.setup;
  const Extension& item = items[j];
  t.out = &out;
  t.trie = PatternTrie{};
  if (item.alive && 1 < s.max_len)
    reset_trie(t.trie, TrieNode{item.rank, item.support, item.class_support, 0, 0},
               static_cast<uint32_t>(slot_of_item.size()));
  t.reported_patterns = 0;
  t.path[0] = item.rank;
  // The search below the item runs over its own records, kept to the items
  // that may extend it and merged again.
  std::vector<Extension> candidates(items.begin() + j + 1, items.end());
  std::fill(slot_of_item.begin(), slot_of_item.end(), -1);
  for (size_t i = 0; i < candidates.size(); ++i) {
    slot_of_item[candidates[i].rank] = static_cast<int32_t>(i);
    candidates[i].slot = static_cast<uint32_t>(i);
  }
  t.covers = ItemCovers{};
  const CoverLayout& layout = s.covers.layout;
  const uint64_t* item_bits = s.covers.bits.data() + static_cast<size_t>(item.rank) * layout.words;
  // The hook's rows need the subtree's records even when no item extends it.
  const bool evaluates = t.hook != nullptr && t.hook->worker != nullptr;
  if (!candidates.empty() || evaluates) {
    std::vector<int32_t>& bit_of_record = t.bit_of_record;
    build_covers(records_in(s.covers, item_bits, slot_of_item), slot_of_item,
                 static_cast<int32_t>(candidates.size()), t.covers,
                 evaluates ? &bit_of_record : nullptr);
    if (evaluates)
      start_hook_subtree(*t.hook, item_bits, layout.words, bit_of_record, t.covers.layout.words);
  }
  t.subtree_weight = item.support;
  Extension root_child = item;
  root_child.trie = t.trie.size > 0 ? kTrieRoot : kNoTrieNode;
  expand(t, 1, root_child, t.covers.all.data(),
         Candidates{candidates.data(), static_cast<int>(candidates.size()), t.covers.bits.data()},
         perfect, ParentNode{!s.count_only, s.transactions, s.positives});
}

// The items' subtrees, taken by the threads one at a time from the last item
// back.
struct SubtreeQueue {
  std::vector<SubtreeResult> subtrees;  // by item
  std::atomic<int> next{0};
  std::atomic<bool> failed{false};
};

void search_subtrees(const SearchSetup& s, const std::vector<Extension>& items, int perfect,
                     SubtreeQueue& queue, HookThread* hook) {
  Search t;
  set_up_thread(s, t);
  t.hook = hook;
  std::vector<int32_t> slot_of_item(s.rank_item.size());
  const int n_items = static_cast<int>(items.size());
  for (;;) {
    const int k = queue.next.fetch_add(1);
    if (k >= n_items || queue.failed) break;
    const int j = n_items - 1 - k;
    search_subtree(t, items, j, perfect, slot_of_item, queue.subtrees[j]);
    if (queue.subtrees[j].failed) queue.failed = true;
  }
}

// Joins the subtrees' counts and rules in the order one thread would have
// found them.
void join_subtrees(const std::vector<SubtreeResult>& subtrees, SearchResult& result) {
  for (size_t j = subtrees.size(); j-- > 0;) {
    const SubtreeResult& sub = subtrees[j];
    add_saturating(result.patterns_tested, sub.patterns_tested, result.count_saturated);
    add_saturating(result.passing_pvalue, sub.passing_pvalue, result.count_saturated);
    result.count_saturated = result.count_saturated || sub.count_saturated;
    for (MinedRule rule : sub.rules) {
      rule.item_begin += result.rule_items.size();
      result.rules.push_back(rule);
    }
    result.rule_items.insert(result.rule_items.end(), sub.rule_items.begin(), sub.rule_items.end());
  }
}

}  // namespace

bool search_rules(const MiningData& data, const MinerParams& params, bool show_progress,
                  SearchResult& result, SearchHook* hook) {
  result = SearchResult{};
  SearchSetup s;
  std::vector<Extension> items;
  int perfect = 0;
  set_up_search(data, params, show_progress, hook, s, items, perfect, result);

  SubtreeQueue queue;
  queue.subtrees.resize(items.size());
  const int threads = std::min(search_threads(), std::max(static_cast<int>(items.size()), 1));
  std::vector<HookThread> hooks;
  if (hook != nullptr) start_hook_threads(s.hook, threads, hooks);
  auto hook_of = [&](int i) { return hook != nullptr ? &hooks[static_cast<size_t>(i)] : nullptr; };
  std::vector<std::thread> helpers;
  for (int i = 1; i < threads; ++i)
    helpers.emplace_back([&, i] { search_subtrees(s, items, perfect, queue, hook_of(i)); });
  search_subtrees(s, items, perfect, queue, hook_of(0));
  for (std::thread& helper : helpers) helper.join();
  if (hook != nullptr)
    finish_hook(s.hook, hooks, s.covers.all.data(), s.covers.layout.words, s.root_represented);
  if (show_progress) std::fputs("\r\033[K", stderr);
  if (queue.failed) {
    report_error("too many frequent patterns to keep their supports");
    return false;
  }
  join_subtrees(queue.subtrees, result);
  return true;
}
