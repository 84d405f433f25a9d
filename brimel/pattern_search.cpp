// The search runs over bitsets of merged records, depth first. Each item
// lays out its own records afresh, cut down to the items that may extend it
// and merged again; each record hands its weight to the candidates it holds,
// which counts the item's children. Below, a node's children are the
// intersections of its bitset with those of its later siblings, all in one
// call. Where a cover is small, only the words that are non-zero in it are
// visited, and where it fills far fewer words than it is read over, its
// children are packed into bitsets over its own records, so that the cost
// of a pattern follows its cover, not the data. A node's last child has no
// candidates and is only tested. Items are searched in ascending support,
// children visited from the last item back, so that every pattern's
// generalisations are already in the support trie when the pattern is
// tested.
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
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <thread>

#include "closed_patterns.h"
#include "common/messages.h"
#include "common/thread_count.h"
#include "cover_bitsets.h"
#include "fisher_verdict.h"
#include "generaliser_bounds.h"
#include "item_covers.h"
#include "pattern_trie.h"
#include "stats/fisher.h"
#include "subset_counts.h"
#include "top_k.h"

namespace {

// A child of the node being expanded: an item that extends it, with the
// pattern's supports. Children and their bitsets lie in the same order.
struct Extension {
  int32_t rank = 0;
  int32_t support = 0;
  int32_t class_support = 0;
  uint32_t trie = kNoTrieNode;
  bool alive = false;  // may be the generalisation of a rule, and so may its extensions
};

// The children of a node: `count` of its room used.
struct ChildList {
  std::vector<Extension> room;
  int count = 0;
  Extension* begin() { return room.data(); }
  Extension* end() { return room.data() + count; }
  Extension* data() { return room.data(); }
  size_t size() const { return static_cast<size_t>(count); }
  Extension& operator[](size_t i) { return room[i]; }
  void clear() { count = 0; }
  void push_back(const Extension& child) { room[static_cast<size_t>(count++)] = child; }
};

// The extensions a node's children are drawn from: `count` candidates, the
// bitset of the i-th at `bits` + i times the words per bitset.
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
  SearchOptions options;
  int32_t transactions = 0;
  int32_t positives = 0;
  int32_t max_len = 0;
  double base_confidence = 0.0;
  std::vector<int32_t> rank_item;  // rank -> item id
  ItemCovers covers;               // of the frequent items over the whole data, slot = rank
  LogFactorialTable log_factorial;
  FisherBound global_bound;
  FisherBound local;
  GeneraliserBounds generalisers;
  std::vector<char> item_alive;    // per rank: a child of the root that may generalise a rule
  bool count_only = false;         // no rule is tested
  HookShared hook;                 // hook.hook null: none
  uint64_t root_represented = 0;   // patterns of items in every transaction
  bool root_within_level = false;  // their p-value is within max_pvalue
  // Where the hook counts closed patterns: per rank, whether the item alone
  // is closed, and the ranks of the items in every transaction.
  bool count_closed = false;
  std::vector<char> item_closed;
  std::vector<int32_t> in_every;
  TopKBound* top_k = nullptr;  // null: every rule

  bool show_progress = false;
  mutable std::atomic<uint64_t> progress_patterns{0};  // as last reported by the threads
  // The verdicts on tables of the whole data and the rule class, which the
  // threads fill in together.
  mutable FisherVerdictCache global;
};

// Where the records lie in the bitsets of a node's cover and candidates:
// in the layout of the whole data, of the node's item's records, or of the
// records of its nearest packed ancestor, whose weight is `weight`.
struct CoverSpace {
  const CoverLayout* layout = nullptr;
  int32_t weight = 0;
  // Where closed patterns are counted, below an item: the items each bit's
  // record shares (closed_patterns.h).
  const uint64_t* shared = nullptr;
};

// What the search keeps of a node on its path while it visits the node's
// children, reused by every node at the same depth.
struct Frame {
  ChildList children;
  // Per child, its item's set in the subset table, when its subtree is
  // counted there.
  std::vector<uint32_t> table_sets;
  std::vector<uint64_t> bits;  // child k's cover at k times the words per cover
  std::vector<uint32_t> own_list;
  // The words the node's children's covers are read over (null: every
  // word): its own non-zero words, or those of an ancestor.
  const std::vector<uint32_t>* list = nullptr;
  // Room for `count` children, and their sets: it grows to the most
  // children a node at its depth has had, not to every frequent item.
  void make_room(int count) {
    if (children.room.size() >= static_cast<size_t>(count)) return;
    children.room.resize(static_cast<size_t>(count));
    table_sets.resize(static_cast<size_t>(count));
  }
  // When the node packed its children: its cover as a layout of its own,
  // and their covers there.
  PackedSpace packed;
  std::vector<uint64_t>
      packed_bits;  // Where the node's children are counted from a table: the node's set
  // there, the child to visit next (from the last back), the items found in
  // every transaction of the node's cover, and the node as its children's
  // parent.
  uint32_t set = 0;
  int next_child = -1;
  int inherited = 0;
  ParentNode as_parent;
};

// One thread's working state.
struct Search {
  const SearchSetup* setup = nullptr;
  SubtreeResult* out = nullptr;
  PatternTrie trie;  // the subtree's item and its stored extensions
  // Scratch for the pattern under test: its generalisations' supports and
  // class supports, and a cover.
  std::vector<int32_t> general_support;
  std::vector<int32_t> general_class_support;
  std::vector<FisherGlance> general_glance;
  std::vector<uint64_t> scratch_cover;
  // By depth d: the frame of the node on the path at that depth.
  std::vector<Frame> frames;
  ItemCovers item_covers;  // of the candidates of the subtree's item, over its records
  // The counts of the sets of the last few children of the node, on the
  // path, that counted them; one at a time, since the search visits those
  // children's subtrees before any other below the node.
  SubsetCounts table;
  bool tables = false;        // whether subtrees may be counted from tables
  std::vector<int32_t> path;  // ranks of the current pattern
  // By length e, by skip k: generalisation(t, e, k) as last found, at
  // e * (e - 1) / 2 + k, as far as the search has gone down; rows up to
  // `valid_rows` belong to the path as it is.
  std::vector<uint32_t> generalisations;
  int valid_rows = 0;
  // Trie node of each prefix of the path from the item on: all of them are
  // held while a pattern on it is tested, since none of them can be dead then.
  std::vector<uint32_t> path_trie;
  // Scratch of a projection: per frequent item its slot (-1: none), the
  // records gathered and the candidates' supports.
  std::vector<int32_t> slot_of_rank;
  RecordSet gathered;
  std::vector<int32_t> in_cover;  // the records of the item's cover
  std::vector<CoverCounts> delivered;
  std::vector<KeptCover> kept;
  std::vector<int32_t> perfect_candidates;
  HookThread* hook = nullptr;
  SupportTally* tally = nullptr;  // under top-k
  // Under top-k: at the bound as last read (none yet: no bound is negative).
  FisherBound top_k_fisher{nullptr, -1.0, 0.0};
  // Where the hook counts closed patterns: the path's closure state, and the
  // ranks of the items in every record of the node last extended.
  ClosureScratch closure;
  std::vector<int32_t> perfect_ranks;
  // Where the hook evaluates or counts closed patterns: which bit each
  // record of the item's records became in the item's layout; where it
  // evaluates, the cover of all of them there.
  std::vector<int32_t> bit_of_record;
  std::vector<uint64_t> item_all;
  uint64_t nodes = 0;
  uint64_t reported_patterns = 0;
  std::chrono::steady_clock::time_point last_progress;
};

inline void add_saturating(uint64_t& total, uint64_t amount, bool& saturated) {
  if (__builtin_add_overflow(total, amount, &total)) {
    total = UINT64_MAX;
    saturated = true;
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

// The support a pattern needs to be tested: min_sup, or under top-k what
// the K-th smallest p-value so far asks for; and the class support it
// needs, under top-k without a hook (top_k.h).
int32_t least_support(const SearchSetup& s) {
  return s.top_k != nullptr ? top_k_min_sup(*s.top_k) : s.params->min_sup;
}
int32_t least_class_support(const SearchSetup& s) {
  return s.top_k != nullptr ? s.top_k->min_class_support : 0;
}

// A pattern can be the generalisation of a rule only if some pattern inside
// its cover can be locally significant within it; this is inherited by its
// extensions, whose covers are smaller.
bool may_generalise_rule(const SearchSetup& s, int32_t support, int32_t class_support) {
  return may_generalise(s.generalisers, support, class_support);
}

// Whether a pattern of the given confidence is more confident than its
// generalisation by more than min_diff.
bool more_confident(const SearchSetup& s, double confidence, int32_t general_support,
                    int32_t general_class_support) {
  const double general = static_cast<double>(general_class_support) / general_support;
  return confidence - general > s.params->min_diff;
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

// Not yet found: no trie node has this index.
constexpr uint32_t kUnknownTrieNode = kNoTrieNode - 1;

// The trie node of the pattern on the path up to length `length` without its
// item at `skip` (0 < skip < length), or kNoTrieNode when the trie does not
// hold it: the child of the same pattern one item shorter, each kept while
// the path below its length stays the same.
uint32_t generalisation(Search& t, int length, int skip) {
  if (skip == length - 1) return t.path_trie[static_cast<size_t>(skip)];
  auto row = [](int e) { return static_cast<size_t>(e) * static_cast<size_t>(e - 1) / 2; };
  if (t.valid_rows < length) {
    if (t.generalisations.size() < row(length + 1)) t.generalisations.resize(row(length + 1));
    for (int e = t.valid_rows + 1; e <= length; ++e)
      std::fill_n(t.generalisations.data() + row(e), e, kUnknownTrieNode);
    t.valid_rows = length;
  }
  uint32_t* rows = t.generalisations.data();
  int e = length;
  while (e > skip + 1 && rows[row(e) + static_cast<size_t>(skip)] == kUnknownTrieNode) --e;
  uint32_t node = e == skip + 1 ? t.path_trie[static_cast<size_t>(skip)]
                                : rows[row(e) + static_cast<size_t>(skip)];
  for (++e; e <= length; ++e) {
    node = find_child(t.trie, node, t.path[static_cast<size_t>(e - 1)]);
    rows[row(e) + static_cast<size_t>(skip)] = node;
  }
  return node;
}

// Trie nodes a rule test's look-ups stay within the nearer caches for, at
// 20 bytes a node: a few megabytes. dense8000's subtrees hold 21,000 on
// average, corr50k's 177,000.
constexpr uint64_t kTrieInNearCaches = uint64_t{1} << 17;

// Keeps the pattern on the path as a rule, with its p-value and the largest
// of its local p-values within the generalisations test_rule found.
void keep_rule(Search& t, int depth, const Extension& x) {
  const SearchSetup& s = *t.setup;
  const double* lf = s.log_factorial.data();
  SubtreeResult& out = *t.out;
  MinedRule rule;
  rule.item_begin = out.rule_items.size();
  rule.length = depth;
  rule.support = x.support;
  rule.class_support = x.class_support;
  rule.pvalue =
      fisher_exact_pvalue_from(lf, s.transactions, x.support, s.positives, x.class_support);
  for (size_t g = 0; g < t.general_support.size(); ++g)
    rule.max_local_pvalue =
        std::max(rule.max_local_pvalue,
                 fisher_exact_pvalue_from(lf, t.general_support[g], x.support,
                                          t.general_class_support[g], x.class_support));
  for (int i = 0; i < depth; ++i) out.rule_items.push_back(s.rank_item[t.path[i]]);
  std::sort(out.rule_items.end() - depth, out.rule_items.end());
  out.rules.push_back(rule);
  if (s.top_k != nullptr) offer_rule(*s.top_k, rule.pvalue);
}

// The improvement and local-significance conditions for the pattern on the
// path (its own p-value is within max_pvalue already); keeps it as a rule
// when it meets both.
void test_rule(Search& t, int depth, const Extension& x, const ParentNode& parent) {
  const int32_t parent_support = parent.support;
  const int32_t parent_class_support = parent.class_support;
  const SearchSetup& s = *t.setup;
  const double confidence = static_cast<double>(x.class_support) / x.support;
  if (!(confidence - s.base_confidence > s.params->min_diff)) return;
  // Under top-k a rule beyond the bound cannot be kept.
  if (s.top_k != nullptr) {
    if (t.top_k_fisher.bound != top_k_pvalue(*s.top_k))
      t.top_k_fisher = make_fisher_bound(s.log_factorial.data(), top_k_pvalue(*s.top_k));
    if (!fisher_within(t.top_k_fisher, s.transactions, x.support, s.positives, x.class_support))
      return;
  }
  t.general_support.clear();
  t.general_class_support.clear();
  if (depth >= 2) {
    // The confidences first, but for the parent's local test (which costs
    // most), glanced at first; where the glance leaves it unsure, the rest
    // of it comes before the others' confidences only where the trie is too
    // large for the look-ups to stay in the nearer caches.
    if (!more_confident(s, confidence, parent_support, parent_class_support)) return;
    const FisherGlance parent_glance =
        fisher_glance(s.local, parent_support, x.support, parent_class_support, x.class_support);
    if (parent_glance.verdict == Glanced::fails) return;
    auto parent_passes = [&] {
      return parent_glance.verdict == Glanced::passes ||
             fisher_within_unsure(s.local, parent_support, x.support, parent_class_support,
                                  x.class_support, parent_glance);
    };
    const bool parent_last = t.trie.size < kTrieInNearCaches;
    if (!parent_last && !parent_passes()) return;
    t.general_support.push_back(parent_support);
    t.general_class_support.push_back(parent_class_support);
    for (int skip = 1; skip + 1 < depth; ++skip) {
      // A generalisation the trie does not hold cannot be beaten by any
      // pattern (see may_generalise_rule), or it has an item that adds
      // nothing to its cover, which the pattern then shares.
      const uint32_t index = generalisation(t, depth, skip);
      const TrieNode* general = index == kNoTrieNode ? nullptr : &trie_node(t.trie, index);
      if (general == nullptr ||
          !more_confident(s, confidence, general->support, general->class_support))
        return;
      t.general_support.push_back(general->support);
      t.general_class_support.push_back(general->class_support);
    }
    if (parent_last && !parent_passes()) return;
    // The others' glances first, for any that fails at a glance.
    const size_t generals = t.general_support.size();
    t.general_glance.resize(generals);
    for (size_t g = 1; g < generals; ++g) {
      t.general_glance[g] = fisher_glance(s.local, t.general_support[g], x.support,
                                          t.general_class_support[g], x.class_support);
      if (t.general_glance[g].verdict == Glanced::fails) return;
    }
    for (size_t g = 1; g < generals; ++g)
      if (t.general_glance[g].verdict == Glanced::unsure &&
          !fisher_within_unsure(s.local, t.general_support[g], x.support,
                                t.general_class_support[g], x.class_support, t.general_glance[g]))
        return;
    CoverCounts first_dropped;
    if (!count_pattern(s, t.path.data() + 1, depth - 1, t.scratch_cover, first_dropped) ||
        !more_confident(s, confidence, first_dropped.support, first_dropped.class_support) ||
        !fisher_within(s.local, first_dropped.support, x.support, first_dropped.class_support,
                       x.class_support))
      return;
    t.general_support.push_back(first_dropped.support);
    t.general_class_support.push_back(first_dropped.class_support);
  }
  keep_rule(t, depth, x);
}

// The words that may be non-zero in the node's cover: its parent's list,
// narrowed to the node's non-zero words when several candidates will read
// it. A node that covers half the records, below a parent that takes every
// word, takes every word too without a look; so do nodes whose list keeps
// more than half the words, since the loop then runs straight through
// memory. Their words outside the list are zero. Below a sparse node only
// the listed words are ever written or read.
const std::vector<uint32_t>* listed_words(Search& t, int depth, const uint64_t* x,
                                          int32_t x_support, int count, CoverSpace space) {
  const size_t words = space.layout->words;
  const std::vector<uint32_t>* above = t.frames[depth - 1].list;
  if (count <= 1 || (above == nullptr && int64_t{x_support} * 2 > space.weight)) return above;
  // Without a branch: whether a word is zero is hard to foretell.
  std::vector<uint32_t>& own = t.frames[depth].own_list;
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
  return kept * 2 > words ? nullptr : &own;
}

ListedWords words_of(const std::vector<uint32_t>* list) {
  return list == nullptr ? ListedWords{} : ListedWords{list->data(), list->size()};
}

// Intersects the node's bitset, over the words `list` lists, with each
// candidate's and keeps the frequent results in the next level; returns the
// number of candidates that occur in every transaction of the node.
int extend(Search& t, int depth, const uint64_t* x, int32_t x_support, Candidates candidates,
           const CoverLayout& layout, const std::vector<uint32_t>* list) {
  const int count = candidates.count;
  const SearchSetup& s = *t.setup;
  const size_t words = layout.words;
  const CoverStretches stretches = list == nullptr
                                       ? whole_cover_stretches(layout)
                                       : listed_stretches(list->data(), list->size(), layout);

  Frame& frame = t.frames[depth];
  std::vector<uint64_t>& buffer = frame.bits;
  if (buffer.size() < static_cast<size_t>(count) * words)
    buffer.resize(static_cast<size_t>(count) * words);
  const int32_t min_class_support = least_class_support(s);
  int perfect = 0;
  int kept = intersect_and_keep(x, candidates.bits, count, buffer.data(),
                                list == nullptr ? nullptr : list->data(), layout, stretches,
                                least_support(s), x_support, t.kept.data(), perfect,
                                s.count_closed ? t.perfect_candidates.data() : nullptr);
  if (s.count_closed)
    for (int i = 0; i < perfect; ++i)
      t.perfect_ranks.push_back(
          candidates.first[t.perfect_candidates[static_cast<size_t>(i)]].rank);
  // Under top-k, children with too few records in the class are passed
  // over too: their covers close up behind the ones kept.
  if (min_class_support > 0) {
    int held = 0;
    for (int k = 0; k < kept; ++k) {
      if (t.kept[static_cast<size_t>(k)].counts.class_support < min_class_support) continue;
      if (held != k) {
        t.kept[static_cast<size_t>(held)] = t.kept[static_cast<size_t>(k)];
        std::copy_n(buffer.data() + static_cast<size_t>(k) * words, words,
                    buffer.data() + static_cast<size_t>(held) * words);
      }
      ++held;
    }
    kept = held;
  }
  frame.make_room(kept);
  ChildList& children = frame.children;
  for (int k = 0; k < kept; ++k) {
    const KeptCover& c = t.kept[static_cast<size_t>(k)];
    children[static_cast<size_t>(k)] = Extension{
        candidates.first[c.candidate].rank, c.counts.support, c.counts.class_support, kNoTrieNode};
  }
  children.count = kept;
  return perfect;
}

// The fewest and the most of a node's last children whose subtrees are
// counted from a table of their sets: a table takes a pass over the node's
// records and 2^n entries, and saves every intersection below them.
constexpr int kFewestTabled = 4;

// How many of the node's `kept` last children have their subtrees counted
// from a table: none where the hook reads covers.
int tabled_children(const Search& t, int kept, size_t records) {
  if (!t.tables || kept < kFewestTabled) return 0;
  // A table of n items costs 2^n entries, a pass over the records once;
  // the intersections it saves cost in proportion to the records, each.
  const int most = std::max(kFewestTabled, static_cast<int>(std::bit_width(records)) - 1);
  return std::min({kept, most, t.setup->options.most_tabled});
}

// How many records ahead project fetches a record's items: records of an
// item's cover lie apart in the whole data's, and reading each one's items
// waited on memory.
constexpr size_t kFetchedAhead = 8;

// Lays out the records of the node's cover (over the words `list` lists)
// afresh, cut down to the candidates that occur in some but not all of them
// at least min_sup times, and merged again: the bitsets of those items there
// are the node's children. One pass over the records gathers them, cut
// down to the candidates, and counts the candidates' supports, each record
// handing its weight to those it holds; once the children are known, the
// records gathered keep only their items, so that the whole data's records
// are read once. The last `tabled` children's sets are counted
// from the records, and when they are all the children, nothing is laid
// out. Returns the number of candidates that occur in every transaction of
// the node.
int project(Search& t, const Extension& x, const uint64_t* x_bits, Candidates candidates,
            const ItemCovers& space, const std::vector<uint32_t>* list, int& tabled) {
  const SearchSetup& s = *t.setup;
  std::vector<int32_t>& slot_of_rank = t.slot_of_rank;
  for (int i = 0; i < candidates.count; ++i) slot_of_rank[candidates.first[i].rank] = i;
  std::vector<CoverCounts>& delivered = t.delivered;
  std::fill_n(delivered.begin(), candidates.count, CoverCounts{});
  const RecordSet& merged = space.merged;
  RecordSet& gathered = t.gathered;
  gathered.ranks.clear();
  gathered.offsets.assign(1, 0);
  gathered.weights.clear();
  gathered.positive.clear();
  std::vector<int32_t>& in_cover = t.in_cover;
  in_cover.clear();
  for_each_record_in(space, x_bits, words_of(list), [&](int32_t r) { in_cover.push_back(r); });
  for (size_t i = 0; i < in_cover.size(); ++i) {
    if (i + kFetchedAhead < in_cover.size())
      __builtin_prefetch(merged.ranks.data() + merged.offsets[in_cover[i + kFetchedAhead]]);
    const int32_t r = in_cover[i];
    const int32_t weight = merged.weights[r];
    const char positive = merged.positive[r];
    const int32_t class_weight = positive ? weight : 0;
    // Ranks descend within a record.
    for (int64_t k = merged.offsets[r]; k < merged.offsets[r + 1] && merged.ranks[k] > x.rank; ++k)
      if (const int32_t slot = slot_of_rank[merged.ranks[k]]; slot >= 0) {
        delivered[static_cast<size_t>(slot)].support += weight;
        delivered[static_cast<size_t>(slot)].class_support += class_weight;
        gathered.ranks.push_back(merged.ranks[k]);
      }
    gathered.offsets.push_back(static_cast<int64_t>(gathered.ranks.size()));
    gathered.weights.push_back(weight);
    gathered.positive.push_back(positive);
  }
  in_cover = std::vector<int32_t>{};  // its room is not kept while the item is searched
  const size_t records = gathered.weights.size();
  t.frames[1].make_room(candidates.count);
  ChildList& children = t.frames[1].children;
  const int32_t min_sup = least_support(s);
  const int32_t min_class_support = least_class_support(s);
  int perfect = 0;
  int32_t slots = 0;
  for (int i = 0; i < candidates.count; ++i) {
    const int32_t rank = candidates.first[i].rank;
    const CoverCounts c = delivered[static_cast<size_t>(i)];
    slot_of_rank[rank] = -1;
    if (c.support < min_sup) continue;
    if (c.support == x.support) {
      ++perfect;
      if (s.count_closed) t.perfect_ranks.push_back(rank);
      continue;
    }
    if (c.class_support < min_class_support) continue;
    children.push_back(Extension{rank, c.support, c.class_support, kNoTrieNode});
    slot_of_rank[rank] = slots++;
  }
  tabled = tabled_children(t, slots, records);
  // The hook's rows need the item's records even when no item extends it.
  const bool evaluates = t.hook != nullptr && t.hook->worker != nullptr;
  if (slots > 0 || evaluates) keep_slotted_ranks(gathered, slot_of_rank);
  if (tabled > 0)
    count_subsets_of_records(t.gathered, slot_of_rank, slots - tabled, tabled, t.table);
  if (slots > tabled || evaluates) {
    build_covers(t.gathered, RecordOrder::as_given, slot_of_rank, slots, t.item_covers,
                 evaluates || s.count_closed ? &t.bit_of_record : nullptr);
    if (s.count_closed)
      share_items(t.closure, space, x_bits, t.bit_of_record, t.item_covers.layout.words);
  }
  if (evaluates) {
    start_hook_subtree(*t.hook, x_bits, space.layout.words, t.bit_of_record,
                       t.item_covers.layout.words);
    cover_of_all(t.item_covers, t.item_all);
  }
  t.gathered = RecordSet{};  // its room is not kept while the item is searched
  for (const Extension& child : children) slot_of_rank[child.rank] = -1;
  return perfect;
}

// The fewest children a node packs for: packing costs a few passes over the
// node's words, and pays back in its children's searches.
constexpr size_t kPackedChildren = 6;

// Packs the node's children's bitsets into a layout of the node's own
// records when that takes far fewer words than the node's cover is read
// over and enough of the children have candidates to gain from it; returns
// whether it did.
bool pack_children(Search& t, int depth, const uint64_t* x, CoverSpace space,
                   const std::vector<uint32_t>* list) {
  const CoverLayout& layout = *space.layout;
  Frame& frame = t.frames[depth];
  ChildList& children = frame.children;
  const size_t ratio = t.setup->options.packing_ratio;
  if (children.size() < (ratio == 0 ? 1 : kPackedChildren)) return false;
  const size_t read = list == nullptr ? layout.words : list->size();
  const uint32_t* listed = list == nullptr ? nullptr : list->data();
  const int64_t records = count_bits(x, listed, read, layout.words);
  if (ratio > 0 && read / static_cast<size_t>(records / 64 + 2) < ratio) return false;
  PackedSpace& packed = frame.packed;
  pack_layout(layout, x, listed, read, packed);
  const size_t words = packed.layout.words;
  std::vector<uint64_t>& bits = frame.packed_bits;
  if (bits.size() < children.size() * words) bits.resize(children.size() * words);
  const uint64_t* from = frame.bits.data();
  for (size_t k = 0; k < children.size(); ++k)
    pack_cover(layout, packed, from + k * layout.words, bits.data() + k * words);
  if (t.setup->count_closed)
    pack_shared_items(t.closure, depth, space.shared, x, layout.positive_words, listed,
                      packed.listed_count, packed.layout);
  return true;
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

// Tests the pattern on the path, of length `depth`, with `q` items that are
// in every transaction of its cover: the one place where a pattern is
// counted and judged. It stands for itself and for its union with every
// subset of those q items; all of these share its supports and p-value, but
// only the pattern itself can improve on its generalisations. The hook sees
// its cover, `bits` over `words` words, read over the words its parent
// listed; null where it was counted from a table, as then the hook reads
// no cover.
__attribute__((always_inline)) inline void test_pattern(Search& t, int depth, const Extension& x,
                                                        int q, const ParentNode& parent,
                                                        const uint64_t* bits, size_t words,
                                                        const uint64_t* shared = nullptr) {
  const SearchSetup& s = *t.setup;
  SubtreeResult& out = *t.out;
  // Nearly always q is 0.
  const int limit = s.max_len - depth;
  const uint64_t represented = q == 0 ? 1
                               : q <= limit && q < 64
                                   ? uint64_t{1} << q
                                   : subsets_up_to(q, limit, out.count_saturated);
  add_saturating(out.patterns_tested, represented, out.count_saturated);
  const bool within_level = cached_fisher_within(s.global, x.support, x.class_support);
  if (t.tally != nullptr) tally_pattern(*t.tally, x.support, represented, within_level);
  if (t.hook != nullptr) {
    const std::vector<uint32_t>* list = t.frames[depth - 1].list;
    bool closed = false;
    if (s.count_closed && t.closure.closed[depth - 1])
      closed = depth == 1 ? s.item_closed[x.rank] != 0
                          : cover_is_closed(t.closure, depth, x.rank, shared, bits, words,
                                            list == nullptr ? nullptr : list->data(),
                                            list == nullptr ? 0 : list->size());
    if (s.count_closed) t.closure.closed[depth] = closed;
    hook_pattern(*t.hook,
                 TestedNode{depth, x.support, x.class_support, within_level, closed, represented},
                 bits, words, list);
  }
  if (within_level) {
    add_saturating(out.passing_pvalue, represented, out.count_saturated);
    if (parent.alive) test_rule(t, depth, x, parent);
  }
}

// Gives the node's `stored` living children places in the trie, side by
// side under the node's own; false when the trie is full.
bool store_children(PatternTrie& trie, uint32_t node_index, uint32_t stored, ChildList& children) {
  const uint32_t first = add_trie_nodes(trie, stored);
  if (first == kNoTrieNode) return false;
  TrieNode& node = trie_node(trie, node_index);
  node.first_child = first;
  node.child_count = stored;
  // The run lies in one block.
  TrieNode* nodes = &trie_node(trie, first);
  uint32_t next = 0;
  for (Extension& child : children) {
    if (!child.alive) continue;
    nodes[next] = TrieNode{child.rank, child.support, child.class_support, 0, 0};
    child.trie = first + next++;
  }
  return true;
}

// Marks which of the node's children may generalise a rule and gives those
// places in the trie; false when the trie is full.
bool settle_children(Search& t, int depth, const Extension& x, ChildList& children) {
  const SearchSetup& s = *t.setup;
  t.path_trie[depth] = x.trie;
  uint32_t stored = 0;
  for (Extension& child : children) {
    child.alive = x.alive && may_generalise_rule(s, child.support, child.class_support);
    stored += child.alive;
  }
  return stored == 0 || x.trie == kNoTrieNode || depth + 1 >= s.max_len ||
         store_children(t.trie, x.trie, stored, children);
}

// Opens the frame of the pattern on the path, of length `depth`, whose
// supports are the table's entry for `set`, and whose extensions are drawn
// from the `count` candidates at `candidates`, with their items' sets in the
// table at `sets`: finds its children in the table, judging each as it is
// found, and tests the pattern. False when the trie is full or the search is
// told to stop.
bool open_tabled(Search& t, int depth, const Extension& x, uint32_t set,
                 const Extension* candidates, const uint32_t* sets, int count, int inherited,
                 const ParentNode& parent) {
  const SearchSetup& s = *t.setup;
  if ((s.show_progress || s.options.stop != nullptr) && (++t.nodes & 0xfff) == 0) {
    if (s.show_progress) show_progress(t);
    if (s.options.stop != nullptr && s.options.stop->load(std::memory_order_relaxed)) return false;
  }
  Frame& frame = t.frames[depth];
  frame.make_room(count);
  Extension* children = frame.children.data();
  uint32_t* child_sets = frame.table_sets.data();
  int n_children = 0;
  int perfect = 0;
  uint32_t stored = 0;
  const bool stores = x.alive && x.trie != kNoTrieNode && depth + 1 < s.max_len;
  if (depth < s.max_len) {
    // Where the trie's last block has room for every candidate, the living
    // children are written there as they are found, just where
    // store_children would put them.
    PatternTrie& trie = t.trie;
    const uint64_t first = trie.size;
    TrieNode* run = stores && count > 0 &&
                            ((first + count - 1) >> trie.block_bits) == first >> trie.block_bits &&
                            first + count <= uint64_t{trie.blocks.size()} << trie.block_bits &&
                            first + count < kNoTrieNode
                        ? &trie_node(trie, static_cast<uint32_t>(first))
                        : nullptr;
    const int32_t min_sup = s.params->min_sup;
    for (int i = 0; i < count; ++i) {
      const CoverCounts c = subset_counts(t.table, set | sets[i]);
      if (c.support == x.support) {
        ++perfect;
      } else if (c.support >= min_sup) {
        const bool alive = x.alive && may_generalise_rule(s, c.support, c.class_support);
        uint32_t index = kNoTrieNode;
        if (alive && run != nullptr) {
          run[stored] = TrieNode{candidates[i].rank, c.support, c.class_support, 0, 0};
          index = static_cast<uint32_t>(first) + stored;
        }
        stored += alive;
        child_sets[n_children] = sets[i];
        children[n_children++] =
            Extension{candidates[i].rank, c.support, c.class_support, index, alive};
      }
    }
    if (run != nullptr) {
      trie.size = first + stored;
      run = stored > 0 ? run : nullptr;
    }
    frame.children.count = n_children;
    frame.next_child = n_children - 1;
    frame.set = set;
    frame.inherited = inherited + perfect;
    frame.as_parent = ParentNode{x.alive, x.support, x.class_support};
    test_pattern(t, depth, x, frame.inherited, parent, nullptr, 0);
    t.path_trie[depth] = x.trie;
    if (run != nullptr) {
      TrieNode& node = trie_node(trie, x.trie);
      node.first_child = static_cast<uint32_t>(first);
      node.child_count = stored;
      return true;
    }
  } else {
    frame.children.count = 0;
    frame.next_child = -1;
    test_pattern(t, depth, x, inherited, parent, nullptr, 0);
    t.path_trie[depth] = x.trie;
  }
  return stored == 0 || !stores || store_children(t.trie, x.trie, stored, frame.children);
}

// Searches the subtree of the pattern on the path as open_tabled takes it,
// every count read from the table: depth first, children from the last
// back, one frame per depth.
void search_tabled(Search& t, int depth, const Extension& x, uint32_t set,
                   const Extension* candidates, const uint32_t* sets, int count, int inherited,
                   const ParentNode& parent) {
  SubtreeResult& out = *t.out;
  if (out.failed) return;
  if (!open_tabled(t, depth, x, set, candidates, sets, count, inherited, parent)) {
    out.failed = true;
    return;
  }
  int level = depth;
  for (;;) {
    Frame& frame = t.frames[level];
    if (frame.next_child < 0) {
      if (level == depth) return;
      --level;
      continue;
    }
    const int j = frame.next_child--;
    const Extension& child = frame.children[static_cast<size_t>(j)];
    const int n_children = frame.children.count;
    t.path[level] = child.rank;
    t.valid_rows = std::min(t.valid_rows, level);
    // The last child has no candidates: a leaf, only tested.
    if (j == n_children - 1) {
      test_pattern(t, level + 1, child, frame.inherited, frame.as_parent, nullptr, 0);
    } else if (open_tabled(t, level + 1, child, frame.set | frame.table_sets[j],
                           frame.children.data() + j + 1, frame.table_sets.data() + j + 1,
                           n_children - j - 1, frame.inherited, frame.as_parent)) {
      ++level;
    } else {
      out.failed = true;
      return;
    }
  }
}

// Whether the search is to stop at this node (another thread failed, or the
// caller asked it to); every 4,096 nodes it shows progress and reads the
// caller's stop flag.
bool stops_here(Search& t) {
  const SearchSetup& s = *t.setup;
  SubtreeResult& out = *t.out;
  if (out.failed) return true;
  if ((s.show_progress || s.options.stop != nullptr) && (++t.nodes & 0xfff) == 0) {
    if (s.show_progress) show_progress(t);
    if (s.options.stop != nullptr && s.options.stop->load(std::memory_order_relaxed))
      out.failed = true;
  }
  return out.failed;
}

// A node's children as expand lays them out: the items found in every
// record of its cover, how many of its last children are counted from a
// table, and where the children's covers are.
struct ChildLayout {
  int perfect = 0;
  int tabled = 0;
  CoverSpace space;
  const uint64_t* bits = nullptr;
};

// The children of a node below the first level, intersected with its cover,
// packed where that pays and the table of its last ones counted.
ChildLayout lay_out_children(Search& t, int depth, const Extension& x, const uint64_t* x_bits,
                             Candidates candidates, CoverSpace space) {
  const SearchSetup& s = *t.setup;
  Frame& frame = t.frames[depth];
  const ChildList& children = frame.children;
  ChildLayout out{0, 0, space, nullptr};
  const std::vector<uint32_t>* list =
      listed_words(t, depth, x_bits, x.support, candidates.count, space);
  frame.list = list;
  out.perfect = extend(t, depth, x_bits, x.support, candidates, *space.layout, list);
  out.bits = frame.bits.data();
  out.tabled = tabled_children(t, children.count,
                               64 * (list == nullptr ? space.layout->words : list->size()));
  if (out.tabled < children.count && pack_children(t, depth, x_bits, space, list)) {
    frame.list = nullptr;
    out.space = CoverSpace{&frame.packed.layout, x.support, nullptr};
    if (s.count_closed)
      out.space.shared = t.closure.packed_shared[static_cast<size_t>(depth)].data();
    out.bits = frame.packed_bits.data();
  }
  if (out.tabled > 0) {
    const std::vector<uint32_t>* read = frame.list;
    count_subsets_of_covers(
        out.bits + static_cast<size_t>(children.count - out.tabled) * out.space.layout->words,
        out.tabled, *out.space.layout, read == nullptr ? nullptr : read->data(),
        read == nullptr ? 0 : read->size(), t.table);
  }
  return out;
}

// Expands the pattern on the path, of length `depth` >= 1, whose extensions
// are drawn from `candidates`, laid out over `space`. `inherited` counts the
// items that earlier nodes found in every transaction of their cover: they
// extend every pattern below without changing its cover. The subtrees of
// its last few children are counted from a table of their sets.
void expand(Search& t, int depth, const Extension& x, const uint64_t* x_bits, Candidates candidates,
            CoverSpace space, int inherited, const ParentNode& parent) {
  const SearchSetup& s = *t.setup;
  SubtreeResult& out = *t.out;
  if (stops_here(t)) return;
  ChildLayout layout{0, 0, space, nullptr};
  Frame& frame = t.frames[depth];
  ChildList& children = frame.children;
  children.clear();
  t.perfect_ranks.clear();
  const bool extends = depth < s.max_len && candidates.count > 0;
  // A node max_len keeps from its extensions may keep its closed pattern
  // out of the search.
  if (s.count_closed && !extends && candidates.count > 0) t.hook->cut = true;
  if (depth == 1 && (extends || (t.hook != nullptr && t.hook->worker != nullptr))) {
    // An item's records, cut down to the items that may extend it, merge
    // far more than the whole data's.
    layout.perfect = project(t, x, x_bits, extends ? candidates : Candidates{}, s.covers,
                             t.frames[0].list, layout.tabled);
    frame.list = nullptr;
    layout.space = CoverSpace{&t.item_covers.layout, x.support, t.closure.shared.data()};
    layout.bits = t.item_covers.bits.data();
  } else if (depth > 1 && extends) {
    layout = lay_out_children(t, depth, x, x_bits, candidates, space);
  }
  const int tabled = layout.tabled;
  const CoverSpace& child_space = layout.space;
  const uint64_t* child_bits = layout.bits;
  const int q = inherited + layout.perfect;
  if (depth == 1)
    test_pattern(t, depth, x, q, parent, t.item_all.data(), t.item_covers.layout.words);
  else
    test_pattern(t, depth, x, q, parent, x_bits, space.layout->words, space.shared);
  if (s.count_closed && t.closure.closed[depth])
    know_items(t.closure, depth, x.rank, t.perfect_ranks);
  if (!settle_children(t, depth, x, children)) {
    out.failed = true;
    return;
  }
  const int n_children = static_cast<int>(children.size());
  const int first_tabled = n_children - tabled;
  for (int j = first_tabled; j < n_children; ++j)
    frame.table_sets[j] = uint32_t{1} << (j - first_tabled);
  const size_t words = child_space.layout->words;
  const ParentNode as_parent{x.alive, x.support, x.class_support};
  for (int j = n_children - 1; j >= 0; --j) {
    t.path[depth] = children[j].rank;
    t.valid_rows = std::min(t.valid_rows, depth);
    // The last child has no candidates: a leaf, only tested.
    if (j >= first_tabled) {
      if (j == n_children - 1)
        test_pattern(t, depth + 1, children[j], q, as_parent, nullptr, 0);
      else
        search_tabled(t, depth + 1, children[j], frame.table_sets[j], children.data() + j + 1,
                      frame.table_sets.data() + j + 1, n_children - j - 1, q, as_parent);
    } else if (j == n_children - 1) {
      test_pattern(t, depth + 1, children[j], q, as_parent,
                   child_bits + static_cast<size_t>(j) * words, words, child_space.shared);
    } else {
      expand(t, depth + 1, children[j], child_bits + static_cast<size_t>(j) * words,
             Candidates{children.data() + j + 1, n_children - j - 1,
                        child_bits + static_cast<size_t>(j + 1) * words},
             child_space, q, as_parent);
    }
  }
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
  make_generaliser_bounds(s.log_factorial.data(), s.transactions, params.min_sup,
                          std::log10(params.max_local_pvalue), s.generalisers);
  s.base_confidence = s.transactions > 0 ? static_cast<double>(s.positives) / s.transactions : 0.0;
  s.show_progress = show_progress;
  if (s.top_k != nullptr)
    start_top_k(*s.top_k, params, s.log_factorial.data(), s.transactions, s.positives,
                s.options.top_k_start, hook == nullptr);

  s.rank_item = rank_frequent_items(data, least_support(s));
  const int32_t frequent = static_cast<int32_t>(s.rank_item.size());
  std::vector<int32_t> slot_of_rank(static_cast<size_t>(frequent));
  std::iota(slot_of_rank.begin(), slot_of_rank.end(), 0);
  const bool evaluates = hook_evaluates(hook);
  std::vector<int32_t> record_of_transaction, bit_of_record;
  build_covers(ranked_records(data, s.rank_item, s.positives, result.threads,
                              evaluates ? &record_of_transaction : nullptr),
               RecordOrder::sorted, slot_of_rank, frequent, s.covers,
               evaluates ? &bit_of_record : nullptr);
  const CoverLayout& layout = s.covers.layout;
  result.frequent_items = frequent;
  s.max_len = std::min(params.max_len, frequent);
  if (hook != nullptr) {
    s.count_only = hook->count_only;
    for (int32_t& record : record_of_transaction) record = bit_of_record[record];
    s.count_closed = hook->count_closed;
    start_hook(*hook, record_of_transaction, layout.words, s.transactions, s.positives, s.max_len,
               s.hook);
  }

  perfect = 0;
  for (int32_t r = 0; r < frequent; ++r) {
    const CoverCounts c =
        count_cover(s.covers.bits.data() + static_cast<size_t>(r) * layout.words, layout);
    if (c.support == s.transactions) {
      ++perfect;
      s.in_every.push_back(r);
      continue;
    }
    if (c.class_support < least_class_support(s)) continue;
    items.push_back(Extension{r, c.support, c.class_support, kNoTrieNode});
  }
  const uint64_t represented = subsets_up_to(perfect, s.max_len, result.count_saturated) - 1;
  s.root_represented = represented;
  s.global = make_fisher_verdict_cache(s.global_bound, s.transactions, s.positives);
  if (represented > 0) {
    add_saturating(result.patterns_tested, represented, result.count_saturated);
    s.root_within_level = cached_fisher_within(s.global, s.transactions, s.positives);
    if (s.root_within_level)
      add_saturating(result.passing_pvalue, represented, result.count_saturated);
  }
  if (s.count_closed) s.item_closed = closed_items(s.covers, frequent);
  s.item_alive.assign(static_cast<size_t>(frequent), 0);
  for (Extension& item : items) {
    item.alive = !s.count_only && may_generalise_rule(s, item.support, item.class_support);
    s.item_alive[item.rank] = item.alive;
  }
}

// A thread's state, sized once for every subtree it searches.
void set_up_thread(const SearchSetup& s, Search& t) {
  t.setup = &s;
  const size_t levels = static_cast<size_t>(s.max_len) + 2;
  t.frames.resize(levels);
  t.kept.resize(s.rank_item.size());
  t.perfect_candidates.resize(s.rank_item.size());
  t.delivered.resize(s.rank_item.size());
  t.path.assign(levels, 0);
  t.path_trie.assign(levels, kNoTrieNode);
  t.slot_of_rank.assign(s.rank_item.size(), -1);
  if (s.count_closed)
    start_closure(t.closure, static_cast<int32_t>(s.rank_item.size()), levels, s.in_every);
  t.last_progress = std::chrono::steady_clock::now();
}

// Searches the subtree of item `j` into `out`.
void search_subtree(Search& t, const std::vector<Extension>& items, int j, int perfect,
                    SubtreeResult& out) {
  const SearchSetup& s = *t.setup;
  const Extension& item = items[j];
  t.out = &out;
  t.trie = PatternTrie{};
  if (item.alive && 1 < s.max_len)
    reset_trie(t.trie, TrieNode{item.rank, item.support, item.class_support, 0, 0},
               static_cast<uint32_t>(s.rank_item.size()));
  t.reported_patterns = 0;
  t.path[0] = item.rank;
  t.valid_rows = 0;
  Extension root_child = item;
  root_child.trie = t.trie.size > 0 ? kTrieRoot : kNoTrieNode;
  const uint64_t* bits = s.covers.bits.data();
  // An item's children are laid out afresh from its records, so its
  // candidates' bitsets are not read.
  expand(t, 1, root_child, bits + static_cast<size_t>(item.rank) * s.covers.layout.words,
         Candidates{items.data() + j + 1, static_cast<int>(items.size()) - j - 1, nullptr},
         CoverSpace{&s.covers.layout, s.transactions}, perfect,
         ParentNode{!s.count_only, s.transactions, s.positives});
}

// The items' subtrees, taken by the threads one at a time from the last item
// back.
struct SubtreeQueue {
  std::vector<SubtreeResult> subtrees;  // by item
  std::atomic<int> next{0};
  std::atomic<bool> failed{false};
};

void search_subtrees(const SearchSetup& s, const std::vector<Extension>& items, int perfect,
                     SubtreeQueue& queue, HookThread* hook, SupportTally* tally) {
  Search t;
  set_up_thread(s, t);
  t.hook = hook;
  t.tally = tally;
  // A table gives counts, not covers, which the hook reads to evaluate
  // permutations or to tell closed patterns; and it judges a subtree's
  // patterns by one support, where top-k raises its floor as it goes.
  t.tables = s.options.most_tabled > 0 && (hook == nullptr || hook->worker == nullptr) &&
             !s.count_closed && s.top_k == nullptr;
  const int n_items = static_cast<int>(items.size());
  for (;;) {
    const int k = queue.next.fetch_add(1);
    if (k >= n_items || queue.failed) break;
    const int j = n_items - 1 - k;
    SubtreeResult& out = queue.subtrees[j];
    search_subtree(t, items, j, perfect, out);
    if (out.failed) queue.failed = true;
    // Rules the bound has passed by since they were found need no room.
    if (s.top_k != nullptr) drop_rules_above(out.rules, out.rule_items, top_k_pvalue(*s.top_k));
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
                  SearchResult& result, SearchHook* hook, const SearchOptions& options) {
  if (params.top_k > 0 && std::isnan(options.top_k_start)) {
    SearchOptions proper = options;
    bool done = false;
    if (!find_top_k_start(data, params, hook, options, proper.top_k_start, result, done))
      return false;
    return done || search_rules(data, params, show_progress, result, hook, proper);
  }
  result = SearchResult{};
  SearchSetup s;
  s.options = options;
  TopKBound top_k;
  if (params.top_k > 0) s.top_k = &top_k;
  // The hook follows a node's records from its parent's in one layout per
  // item; packed layouts would need their rows merged afresh.
  if (hook_evaluates(hook)) s.options.packing_ratio = SIZE_MAX;
  std::vector<Extension> items;
  int perfect = 0;
  result.threads = options.threads > 0 ? options.threads : processing_threads();
  set_up_search(data, params, show_progress, hook, s, items, perfect, result);

  SubtreeQueue queue;
  queue.subtrees.resize(items.size());
  const int threads = std::min(result.threads, std::max(static_cast<int>(items.size()), 1));
  std::vector<HookThread> hooks;
  if (hook != nullptr) start_hook_threads(s.hook, threads, hooks);
  auto hook_of = [&](int i) { return hook != nullptr ? &hooks[static_cast<size_t>(i)] : nullptr; };
  std::vector<SupportTally> tallies(s.top_k != nullptr ? static_cast<size_t>(threads) : 0);
  for (SupportTally& tally : tallies) {
    tally.tested.assign(static_cast<size_t>(s.transactions) + 1, 0);
    tally.within_level.assign(static_cast<size_t>(s.transactions) + 1, 0);
  }
  auto tally_of = [&](int i) {
    return s.top_k != nullptr ? &tallies[static_cast<size_t>(i)] : nullptr;
  };
  std::vector<std::thread> helpers;
  for (int i = 1; i < threads; ++i)
    helpers.emplace_back(
        [&, i] { search_subtrees(s, items, perfect, queue, hook_of(i), tally_of(i)); });
  search_subtrees(s, items, perfect, queue, hook_of(0), tally_of(0));
  for (std::thread& helper : helpers) helper.join();
  if (hook != nullptr) {
    std::vector<uint64_t> all;
    cover_of_all(s.covers, all);
    finish_hook(s.hook, hooks, all.data(), s.covers.layout.words, s.root_represented,
                s.root_within_level);
  }
  if (show_progress) std::fputs("\r\033[K", stderr);
  if (options.stop != nullptr && options.stop->load()) return false;
  if (queue.failed) {
    report_error("too many frequent patterns to keep their supports");
    return false;
  }
  join_subtrees(queue.subtrees, result);
  result.min_sup = params.min_sup;
  if (s.top_k != nullptr) keep_top_k(top_k, tallies, result);
  return true;
}
