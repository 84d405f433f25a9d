// The tid-list writer walks the tree in preorder with the covers of the
// current path only, as bitsets, so its memory follows the tree's depth, not
// its size, and an entry's cover costs one pass over the words.
#include "tidlist_writer.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <vector>

#include "common/file_open.h"
#include "common/messages.h"
#include "common/raw_ints.h"
#include "cover_bitsets.h"
#include "minerio/tidlist_store.h"

namespace {

// Membership bitsets of the items in the tree, by item id (empty for the
// others), all set in one pass over the transactions.
std::vector<std::vector<uint64_t>> tree_item_bits(const MiningData& data, const PatternTree& tree,
                                                  size_t words) {
  std::vector<std::vector<uint64_t>> bits(data.item_keys.size());
  for (const PatternTreeEntry& entry : tree.entries) bits[entry.item].resize(words, 0);
  const int32_t n = transaction_count(data);
  for (int32_t t = 0; t < n; ++t)
    for (int64_t i = data.offsets[t]; i < data.offsets[t + 1]; ++i)
      if (std::vector<uint64_t>& item = bits[data.items[i]]; !item.empty())
        item[t / 64] |= uint64_t{1} << (t % 64);
  return bits;
}

// An entry on the current path: its cover sits in the path's bitset of the
// same depth.
struct PathEntry {
  int32_t entry = -1;
  int64_t support = 0;
  int32_t stored_base = -1;  // depth of the nearest stored ancestor, -1: the root
};

// Writes the record of the `count` transactions in `in` and not in `out`
// (null: none). A word's bits are taken eight at a time without looking how
// many it holds: the numbers past its last bit are overwritten by the next
// word's, and the loop's end is no longer a branch that misses on every word.
__attribute__((target_clones("popcnt", "default"))) bool write_list(
    std::FILE* file, const uint64_t* in, const uint64_t* out, size_t words, int64_t count,
    std::vector<int32_t>& scratch, int64_t& position) {
  constexpr size_t kRun = 8;
  const auto listed = static_cast<size_t>(count);
  if (scratch.size() < listed + kRun) scratch.resize(listed + kRun);
  int32_t* next = scratch.data();
  int32_t* const end = next + listed;
  for (size_t w = 0; w < words && next != end; ++w) {
    uint64_t bits = in[w] & ~(out ? out[w] : 0);
    if (bits == 0) continue;
    const auto base = static_cast<int32_t>(w * 64);
    const int ones = std::popcount(bits);
    int32_t* const word_end = next + ones;
    if (word_end > end) break;  // more than counted: the check below reports it
    for (size_t i = 0; i < kRun; ++i) {
      next[i] = base + std::countr_zero(bits);
      bits &= bits - 1;
    }
    for (next += kRun; next < word_end; ++next) {
      *next = base + std::countr_zero(bits);
      bits &= bits - 1;
    }
    next = word_end;
  }
  const int32_t written = static_cast<int32_t>(listed);
  position += 4 * (1 + count);
  return next == end && write_int32_le(file, &written, 1) &&
         write_int32_le(file, scratch.data(), listed);
}

bool report_write_failure(const std::string& path) {
  report_io_error("cannot write file %s", path.c_str());
  return false;
}

// The directory: a header of the entry count, the transactions and the
// stored lists, then the entries.
bool write_tid_directory(const std::string& path, const std::vector<TidListDirEntry>& directory,
                         int32_t transactions, const TidListCounts& counts) {
  std::FILE* file = open_for_write(path, "wb");
  if (file == nullptr) return false;
  const int32_t header[kTidListDirHeaderInts] = {
      static_cast<int32_t>(directory.size()), transactions,
      static_cast<int32_t>(counts.full_lists + counts.diff_lists), 0};
  bool ok = write_int32_le(file, header, kTidListDirHeaderInts);
  for (size_t e = 0; e < directory.size() && ok; ++e) {
    const int32_t values[kTidListDirEntryInts] = {directory[e].flags, directory[e].offset,
                                                  directory[e].parent};
    ok = write_int32_le(file, values, kTidListDirEntryInts);
  }
  return close_written(file, path, ok);
}

}  // namespace

bool write_tid_lists(const std::string& dir_path, const std::string& list_path,
                     const MiningData& data, const PatternTree& tree, TidListCounts& counts) {
  counts = TidListCounts{};
  const int32_t n = transaction_count(data);
  const size_t words = (static_cast<size_t>(n) + 63) / 64;
  const std::vector<std::vector<uint64_t>> item_bits = tree_item_bits(data, tree, words);
  // Transactions as plain bits of weight 1.
  CoverLayout layout;
  layout.words = words;
  layout.plane_begin.assign(1, 0);
  std::vector<uint64_t> all(words, 0);
  for (int32_t t = 0; t < n; ++t) all[t / 64] |= uint64_t{1} << (t % 64);
  std::vector<TidListDirEntry> directory(tree.entries.size());

  std::FILE* list_file = open_for_write(list_path, "wb");
  if (list_file == nullptr) return false;
  std::vector<PathEntry> path;
  std::vector<std::vector<uint64_t>> covers;  // by depth
  std::vector<int32_t> scratch;
  int64_t position = 0;
  bool ok = true;
  for (size_t e = 0; e < tree.entries.size() && ok; ++e) {
    const PatternTreeEntry& entry = tree.entries[e];
    while (!path.empty() && path.back().entry != entry.parent) path.pop_back();
    const size_t depth = path.size();
    const uint64_t* parent = depth == 0 ? all.data() : covers[depth - 1].data();
    if (covers.size() <= depth) covers.emplace_back(words);
    uint64_t* cover = covers[depth].data();
    const std::vector<uint64_t>& item = item_bits[entry.item];
    const int64_t support =
        intersect_all(parent, item.data(), cover, layout, whole_cover_stretches(layout)).support;
    PathEntry node{static_cast<int32_t>(e), support, -1};
    if (depth > 0) {
      const PathEntry& up = path.back();
      node.stored_base = directory[up.entry].flags & kTidListStored
                             ? static_cast<int32_t>(depth) - 1
                             : up.stored_base;
    }
    directory[e].parent = entry.parent;
    if (entry.rule >= 0) {
      const uint64_t* base = node.stored_base < 0 ? all.data() : covers[node.stored_base].data();
      const int64_t base_support = node.stored_base < 0 ? n : path[node.stored_base].support;
      const bool as_diff = base_support - support < support;
      const int64_t record_bytes = 4 * (1 + (as_diff ? base_support - support : support));
      if (position + record_bytes > INT32_MAX) {
        report_error("tid-list file %s would pass 2 GiB", list_path.c_str());
        ok = false;
        break;
      }
      directory[e].offset = static_cast<int32_t>(position);
      if (as_diff) {
        directory[e].flags = kTidListStored | kTidListDiff;
        ok = write_list(list_file, base, cover, words, base_support - support, scratch, position);
        ++counts.diff_lists;
      } else {
        directory[e].flags = kTidListStored;
        ok = write_list(list_file, cover, nullptr, words, support, scratch, position);
        ++counts.full_lists;
      }
      if (!ok) report_write_failure(list_path);
    }
    path.push_back(node);
  }
  if (std::fclose(list_file) != 0 && ok) ok = report_write_failure(list_path);
  if (!ok) return false;

  return write_tid_directory(dir_path, directory, n, counts);
}
