// The tid-list store: reads the miner's directory and rebuilds full tid lists
// in one walk down the tree, from stored lists and diff-lists.
#include "minerio/tidlist_store.h"

#include <unistd.h>

#include <algorithm>
#include <optional>
#include <utility>

#include "common/file_open.h"
#include "common/messages.h"
#include "common/raw_ints.h"
#include "common/run_files.h"

static_assert(sizeof(TidListDirEntry) == kTidListDirEntryInts * sizeof(int32_t),
              "directory entries are read as one block");

namespace {

constexpr size_t kWindowBytes = size_t{512} << 10;

bool read_at(const TidListFile& file, char* bytes, size_t count, int64_t offset) {
  while (count > 0) {
    const ssize_t got = pread(fileno(file.file), bytes, count, static_cast<off_t>(offset));
    if (got <= 0) return false;
    bytes += got;
    count -= static_cast<size_t>(got);
    offset += got;
  }
  return true;
}

// Decodes `count` values from byte `offset` into `values`: from the window,
// which moves forward in large blocks, or straight from the file for a
// record larger than the window.
bool read_values(TidListFile& file, int64_t offset, size_t count, int32_t* values) {
  const size_t bytes = count * sizeof(int32_t);
  if (bytes > kWindowBytes) {
    if (!read_at(file, reinterpret_cast<char*>(values), bytes, offset)) return false;
    int32_from_le(reinterpret_cast<const char*>(values), values, count);
    return true;
  }
  if (offset < file.window_offset ||
      offset + static_cast<int64_t>(bytes) >
          file.window_offset + static_cast<int64_t>(file.window_bytes)) {
    // Left uninitialised: a small file touches only what it fills.
    if (!file.window) file.window.reset(new char[kWindowBytes]);
    file.window_offset = offset;
    file.window_bytes = static_cast<size_t>(
        std::min<int64_t>(static_cast<int64_t>(kWindowBytes), file.size - offset));
    if (!read_at(file, file.window.get(), file.window_bytes, offset)) {
      file.window_bytes = 0;
      return false;
    }
  }
  int32_from_le(file.window.get() + (offset - file.window_offset), values, count);
  return true;
}

// Reads the list record of entry `index` into `list` and returns true, or
// false after an "Error: " line when the record does not fit the file or is
// no list of transaction numbers.
bool read_list_record(RuleTidLists& lists, int32_t index, std::vector<int32_t>& list) {
  TidListFile& file = lists.file;
  const TidListDirEntry& entry = lists.directory[static_cast<size_t>(index)];
  const int64_t offset = entry.offset;
  const int32_t transactions = lists.transactions;
  int32_t count = 0;
  if (offset < 0 || offset + 4 > file.size || !read_values(file, offset, 1, &count)) {
    report_error("offset %d of entry %d is outside file %s", entry.offset, index,
                 file.name.c_str());
    return false;
  }
  if (count < 0 || count > transactions || offset + 4 + int64_t{4} * count > file.size) {
    report_error(
        "list record of entry %d in file %s has count %d, outside 0..%d or past "
        "the end of the file",
        index, file.name.c_str(), count, transactions);
    return false;
  }
  list.resize(static_cast<size_t>(count));
  if (!read_values(file, offset + 4, list.size(), list.data())) {
    report_error("list record of entry %d in file %s runs past the end of the file", index,
                 file.name.c_str());
    return false;
  }
  // Difference and complement rely on strictly ascending lists within range.
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i] < 0 || list[i] >= transactions || (i > 0 && list[i] <= list[i - 1])) {
      report_error(
          "list record of entry %d in file %s is not an ascending list of "
          "transaction numbers below %d",
          index, file.name.c_str(), transactions);
      return false;
    }
  }
  return true;
}

bool outside(int64_t index, const TidListDirectory& directory) {
  return index < 0 || static_cast<size_t>(index) >= directory.size();
}

bool stored(const TidListDirectory& directory, int32_t k) {
  return (directory[static_cast<size_t>(k)].flags & kTidListStored) != 0;
}

bool is_diff(const TidListDirectory& directory, int32_t k) {
  return (directory[static_cast<size_t>(k)].flags & kTidListDiff) != 0;
}

// What the walk knows of an entry: a full list of its own (the root of a
// tree), a diff-list against its base, or a list that cannot be had.
enum class Node : uint8_t { unseen, on_path, full, diff, failed };

struct Forest {
  std::vector<Node> node;     // per directory entry
  std::vector<int32_t> base;  // of a diff node: its nearest stored ancestor, or the negative parent
  std::vector<int32_t> path;  // scratch of resolve_node
};

// The nearest ancestor of `from` with a list of its own, or the negative
// parent number met first; false after a report when a parent number lies
// outside the directory or the entries without a list run in a cycle.
bool climb_to_stored(const RuleTidLists& lists, int32_t preorder, int32_t from, int32_t& end) {
  const TidListDirectory& directory = lists.directory;
  int32_t next = directory[static_cast<size_t>(from)].parent;
  for (size_t climbs = 0; next >= 0; ++climbs) {
    if (outside(next, directory)) {
      report_error(
          "parent number %d of entry %d is outside the tid-list directory of %zu "
          "entries",
          next, from, directory.size());
      return false;
    }
    if (stored(directory, next)) break;
    // In a tree every climb ends within E steps; more means a cycle.
    if (climbs > directory.size()) {
      report_error("the parent numbers above entry %d run in a cycle", preorder);
      return false;
    }
    from = next;
    next = directory[static_cast<size_t>(from)].parent;
  }
  end = next;
  return true;
}

// Settles entry `preorder` and the stored ancestors its list depends on.
void resolve_node(const RuleTidLists& lists, int32_t preorder, Forest& forest) {
  const TidListDirectory& directory = lists.directory;
  forest.path.clear();
  bool failed = false;
  for (int32_t k = preorder;;) {
    const Node known = forest.node[static_cast<size_t>(k)];
    if (known == Node::full || known == Node::diff) break;
    if (known == Node::failed) {
      failed = true;
      break;
    }
    if (known == Node::on_path) {
      report_error("the parent numbers above entry %d run in a cycle", preorder);
      failed = true;
      break;
    }
    forest.node[static_cast<size_t>(k)] = Node::on_path;
    forest.path.push_back(k);
    if (!is_diff(directory, k)) break;
    int32_t base = 0;
    if (!climb_to_stored(lists, preorder, k, base)) {
      failed = true;
      break;
    }
    forest.base[static_cast<size_t>(k)] = base;
    if (base < 0) break;
    k = base;
  }
  for (const int32_t k : forest.path)
    forest.node[static_cast<size_t>(k)] =
        failed ? Node::failed : (is_diff(directory, k) ? Node::diff : Node::full);
}

// One level of the walk's stack: the list of the entry at that depth.
struct Level {
  std::vector<int32_t> values;  // the list, as far as the walk holds it
  int64_t length = 0;           // its length as the files give it
  bool failed = false;
};

struct Walk {
  RuleTidLists& lists;
  const RuleSet& rules;
  const RuleTidListVisit& visit;
  Forest forest;
  std::span<const size_t> wanted;
  std::vector<std::pair<int32_t, int32_t>> rules_at;  // (preorder, place in wanted), ascending
  std::vector<std::pair<int32_t, int32_t>> edges;     // (base, child), ascending
  std::vector<Level> levels;
  std::vector<int32_t> diff;  // the record being applied
  size_t room = 0;            // values one list may hold
  size_t budget = 0;          // values all levels may hold together
  size_t held = 0;
};

// The list of the root of a tree: a full list, or every transaction but a
// diff-list's.
void start_tree(Walk& walk, int32_t k, Level& level) {
  RuleTidLists& lists = walk.lists;
  level.failed = false;
  level.values.clear();
  if (walk.forest.node[static_cast<size_t>(k)] == Node::full) {
    level.failed = !read_list_record(lists, k, level.values);
    level.length = level.failed ? 0 : static_cast<int64_t>(level.values.size());
    return;
  }
  if (!read_list_record(lists, k, walk.diff)) {
    level.failed = true;
    level.length = 0;
    return;
  }
  if (walk.forest.base[static_cast<size_t>(k)] != kTidListRootParent) {
    report_error("the preorder of the entry cannot be -2");
    level.failed = true;
    level.length = static_cast<int64_t>(walk.diff.size());
    return;
  }
  level.length = std::max<int64_t>(0, int64_t{lists.transactions} - walk.diff.size());
  size_t next = 0;
  for (int32_t t = 0; t < lists.transactions && level.values.size() < walk.room; ++t) {
    if (next < walk.diff.size() && walk.diff[next] == t) {
      ++next;
      continue;
    }
    level.values.push_back(t);
  }
}

// The list of diff entry `k` from its base's `above`; `top` is the list at
// the root of the tree, `complement` whether that is every transaction.
void apply_diff(Walk& walk, int32_t k, const Level& above, const Level& top, bool complement,
                Level& level) {
  level.values.clear();
  level.failed = true;
  level.length = 0;
  if (!read_list_record(walk.lists, k, walk.diff)) return;
  if (above.failed) {
    level.length = above.length;
    return;
  }
  level.failed = false;
  level.values.resize(above.values.size());
  level.values.resize(subtract_sorted(above.values, walk.diff, level.values));
  const size_t removed = above.values.size() - level.values.size();
  level.length = above.length - static_cast<int64_t>(removed);
  if (removed == walk.diff.size()) return;
  // Values the list above lacks: removed by an ancestor's diff-list already
  // when the root's list holds them, else never there.
  bool overlap = false;
  bool missing = false;
  for (const int32_t t : walk.diff) {
    if (std::binary_search(above.values.begin(), above.values.end(), t)) continue;
    if (complement || std::binary_search(top.values.begin(), top.values.end(), t))
      overlap = true;
    else
      missing = true;
  }
  // Kept word for word, typo included: scripts may match it.
  if (overlap) report_error("there should no no overlap between two consecutive diff-list");
  if (missing)
    report_error(
        "the tid list length should be the difference between the parent list "
        "length and the diff-list length");
}

void visit_rules_at(Walk& walk, int32_t k, const Level& level) {
  auto rule = std::lower_bound(walk.rules_at.begin(), walk.rules_at.end(),
                               std::pair<int32_t, int32_t>{k, 0});
  for (; rule != walk.rules_at.end() && rule->first == k; ++rule) {
    const size_t place = static_cast<size_t>(rule->second);
    const RuleRecord& record = walk.rules.records[walk.wanted[place]];
    if (level.length != record.support) report_error("inconsistent pattern support");
    walk.visit(place, level.failed ? std::span<const int32_t>() : level.values);
  }
}

// Walks the tree below root `k` depth first, children in entry order.
void walk_tree(Walk& walk, int32_t root) {
  struct Frame {
    int32_t entry;
    size_t next_edge;
  };
  std::vector<Frame> frames;
  auto enter = [&](int32_t k, size_t depth) {
    if (walk.levels.size() <= depth) walk.levels.resize(depth + 1);
    Level& level = walk.levels[depth];
    if (depth == 0) {
      start_tree(walk, k, level);
    } else {
      const Level& top = walk.levels[0];
      const bool complement = walk.forest.node[static_cast<size_t>(frames[0].entry)] == Node::diff;
      apply_diff(walk, k, walk.levels[depth - 1], top, complement, level);
    }
    walk.held += level.values.size();
    if (walk.held > walk.budget && !level.failed) {
      report_error("the tid lists of file %s nest too deeply to rebuild entry %d",
                   walk.lists.file.name.c_str(), k);
      walk.held -= level.values.size();
      level.values.clear();
      level.failed = true;
      level.length = 0;
    }
    visit_rules_at(walk, k, level);
    const auto first = std::lower_bound(walk.edges.begin(), walk.edges.end(),
                                        std::pair<int32_t, int32_t>{k, INT32_MIN});
    frames.push_back(Frame{k, static_cast<size_t>(first - walk.edges.begin())});
  };
  enter(root, 0);
  while (!frames.empty()) {
    Frame& frame = frames.back();
    if (frame.next_edge < walk.edges.size() && walk.edges[frame.next_edge].first == frame.entry) {
      const int32_t child = walk.edges[frame.next_edge++].second;
      enter(child, frames.size());
    } else {
      walk.held -= walk.levels[frames.size() - 1].values.size();
      frames.pop_back();
    }
  }
}

// The measure of 0, 1, .., n - 1, in parts: a count that lies must not
// make the list itself.
int64_t measure_of_range(int32_t n, const TidListMeasure& measure) {
  constexpr int32_t kPart = 1 << 16;
  std::vector<int32_t> part;
  int64_t total = 0;
  for (int32_t first = 0; first < n; first += std::min(kPart, n - first)) {
    part.resize(static_cast<size_t>(std::min(kPart, n - first)));
    for (size_t i = 0; i < part.size(); ++i) part[i] = first + static_cast<int32_t>(i);
    total += measure(part);
  }
  return total;
}

}  // namespace

size_t subtract_sorted(std::span<const int32_t> from, std::span<const int32_t> remove,
                       std::span<int32_t> out) {
  // Diff-lists are short against the lists they apply to: the runs between
  // their values are found by galloping and copied whole.
  size_t length = 0;
  auto keep = [&](size_t begin, size_t end) {
    if (length < out.size())
      std::copy_n(from.begin() + static_cast<std::ptrdiff_t>(begin),
                  std::min(end - begin, out.size() - length),
                  out.begin() + static_cast<std::ptrdiff_t>(length));
    length += end - begin;
  };
  if (remove.size() * 8 > from.size() && out.size() >= from.size()) {
    // A long diff-list: one merge pass that writes every value and counts
    // only those it keeps, without a branch on the common path.
    size_t j = 0;
    for (const int32_t value : from) {
      while (j < remove.size() && remove[j] < value) ++j;
      const bool dropped = j < remove.size() && remove[j] == value;
      out[length] = value;
      length += dropped ? 0 : 1;
      j += dropped ? 1 : 0;
    }
    return length;
  }
  size_t start = 0;  // the first value neither kept nor dropped yet
  for (const int32_t value : remove) {
    size_t low = start;
    size_t high = start;
    for (size_t step = 1; high < from.size() && from[high] < value; step *= 2) {
      low = high + 1;
      high = std::min(from.size(), high + step);
    }
    const auto begin = from.begin();
    const size_t at =
        static_cast<size_t>(std::lower_bound(begin + static_cast<std::ptrdiff_t>(low),
                                             begin + static_cast<std::ptrdiff_t>(high), value) -
                            begin);
    keep(start, at);
    start = at < from.size() && from[at] == value ? at + 1 : at;
  }
  keep(start, from.size());
  return length;
}

bool read_tidlist_directory(const std::string& output_name, TidListDirectory& directory) {
  directory.clear();
  const std::string path = tidlist_directory_file(output_name);
  std::FILE* file = open_for_read(path, "rb");
  if (file == nullptr) return false;
  const int64_t size = raw_file_size(file);
  int32_t header[kTidListDirHeaderInts] = {};
  if (read_int32_le(file, header, kTidListDirHeaderInts) != kTidListDirHeaderInts) {
    report_error("file %s is too short for its header", path.c_str());
  } else if (header[0] < 0) {
    report_error("negative entry count %d in file %s", header[0], path.c_str());
  } else {
    constexpr int64_t kHeaderBytes = kTidListDirHeaderInts * sizeof(int32_t);
    const int64_t held =
        std::max<int64_t>(0, size - kHeaderBytes) / static_cast<int64_t>(sizeof(TidListDirEntry));
    if (header[0] > held) {
      report_error("file %s holds %lld directory entries, fewer than its count %d", path.c_str(),
                   static_cast<long long>(held), header[0]);
    }
    directory.resize(static_cast<size_t>(std::min<int64_t>(header[0], held)));
    if (!directory.empty()) {
      const size_t got = read_int32_le(file, reinterpret_cast<int32_t*>(directory.data()),
                                       directory.size() * kTidListDirEntryInts);
      directory.resize(got / kTidListDirEntryInts);
    }
  }
  std::fclose(file);
  return true;
}

bool open_rule_tid_lists(const std::string& output_name, int32_t transactions,
                         RuleTidLists& lists) {
  if (!read_tidlist_directory(output_name, lists.directory)) return false;
  lists.file.name = tidlist_file(output_name);
  lists.file.file = open_for_read(lists.file.name, "rb");
  if (lists.file.file == nullptr) return false;
  lists.file.size = raw_file_size(lists.file.file);
  lists.transactions = transactions;
  return true;
}

void walk_rule_tid_lists(RuleTidLists& lists, const RuleSet& rules, std::span<const size_t> wanted,
                         const RuleTidListVisit& visit) {
  const TidListDirectory& directory = lists.directory;
  Walk walk{lists, rules, visit, {}, wanted, {}, {}, {}, {}, 0, 0, 0};
  walk.forest.node.assign(directory.size(), Node::unseen);
  walk.forest.base.assign(directory.size(), 0);
  int64_t largest_support = 0;
  for (size_t place = 0; place < wanted.size(); ++place) {
    const RuleRecord& rule = rules.records[wanted[place]];
    largest_support = std::max<int64_t>(largest_support, rule.support);
    if (outside(rule.preorder, directory)) {
      report_error("preorder number %d is outside the tid-list directory of %zu entries",
                   rule.preorder, directory.size());
      if (rule.support != 0) report_error("inconsistent pattern support");
      visit(place, {});
      continue;
    }
    resolve_node(lists, rule.preorder, walk.forest);
    walk.rules_at.emplace_back(rule.preorder, static_cast<int32_t>(place));
  }
  std::sort(walk.rules_at.begin(), walk.rules_at.end());
  std::vector<int32_t> roots;
  for (size_t k = 0; k < directory.size(); ++k) {
    const Node node = walk.forest.node[k];
    const int32_t base = walk.forest.base[k];
    if (node == Node::full || (node == Node::diff && base < 0))
      roots.push_back(static_cast<int32_t>(k));
    else if (node == Node::diff)
      walk.edges.emplace_back(base, static_cast<int32_t>(k));
  }
  std::sort(walk.edges.begin(), walk.edges.end());
  // A list never holds more than the transactions, nor, in files the miner
  // wrote, more than a rule's support and the values of the file together;
  // the stack holds at most a few such lists in any real tree.
  walk.room = static_cast<size_t>(std::max<int64_t>(
      0, std::min<int64_t>(lists.transactions, largest_support + lists.file.size / 4)));
  walk.budget = 64 * walk.room + (size_t{1} << 16);
  for (const int32_t root : roots) walk_tree(walk, root);
  // Rules whose list depends on damage found while settling the tree.
  for (const auto& [preorder, place] : walk.rules_at) {
    if (walk.forest.node[static_cast<size_t>(preorder)] != Node::failed) continue;
    if (rules.records[wanted[static_cast<size_t>(place)]].support != 0)
      report_error("inconsistent pattern support");
    visit(static_cast<size_t>(place), {});
  }
}

std::vector<TidListSize> measure_rule_tid_lists(RuleTidLists& lists, const RuleSet& rules,
                                                std::span<const size_t> wanted,
                                                const TidListMeasure& measure) {
  const TidListDirectory& directory = lists.directory;
  Forest forest;
  forest.node.assign(directory.size(), Node::unseen);
  forest.base.assign(directory.size(), 0);
  std::vector<TidListSize> sizes(wanted.size());
  for (size_t place = 0; place < wanted.size(); ++place) {
    const RuleRecord& rule = rules.records[wanted[place]];
    if (outside(rule.preorder, directory)) {
      report_error("preorder number %d is outside the tid-list directory of %zu entries",
                   rule.preorder, directory.size());
      continue;
    }
    resolve_node(lists, rule.preorder, forest);
  }
  // A diff-list's base is an ancestor, whose preorder number is lower: in
  // ascending order every base is sized before the lists that need it.
  std::vector<TidListSize> entry(directory.size());
  std::vector<int32_t> values;
  std::optional<int64_t> every;  // the measure of the root's list, every transaction
  for (size_t k = 0; k < directory.size(); ++k) {
    const Node node = forest.node[k];
    if (node != Node::full && node != Node::diff) continue;
    const int32_t index = static_cast<int32_t>(k);
    if (!read_list_record(lists, index, values)) continue;
    const int64_t length = static_cast<int64_t>(values.size());
    if (node == Node::full) {
      entry[k] = TidListSize{length, measure(values), true};
      continue;
    }
    const int32_t base = forest.base[k];
    if (base == kTidListRootParent) {
      if (!every) every = measure_of_range(lists.transactions, measure);
      entry[k] = TidListSize{lists.transactions - length, *every - measure(values), true};
    } else if (base < 0) {
      report_error("the preorder of the entry cannot be -2");
    } else if (entry[static_cast<size_t>(base)].known) {
      const TidListSize& above = entry[static_cast<size_t>(base)];
      entry[k] = TidListSize{above.length - length, above.measure - measure(values), true};
    }
  }
  for (size_t place = 0; place < wanted.size(); ++place) {
    const RuleRecord& rule = rules.records[wanted[place]];
    if (!outside(rule.preorder, directory))
      sizes[place] = entry[static_cast<size_t>(rule.preorder)];
    if (sizes[place].length != rule.support || (!sizes[place].known && rule.support != 0))
      report_error("inconsistent pattern support");
  }
  return sizes;
}

void close_rule_tid_lists(RuleTidLists& lists) {
  if (lists.file.file != nullptr) std::fclose(lists.file.file);
  lists.file.file = nullptr;
}
