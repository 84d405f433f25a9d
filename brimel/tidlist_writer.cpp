// The tid-list writer walks the tree in preorder with the tid lists of the
// current path only, so its memory follows the tree's depth, not its size.
#include "tidlist_writer.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <vector>

#include "miner/raw_ints.h"
#include "miner/tidlist_store.h"

namespace {

struct PathList {
  int32_t entry = -1;
  std::vector<int32_t> tids;
  int32_t stored_base = -1;  // position in the path of the nearest stored ancestor, -1: the root
};

// Membership bitsets of the items in the tree, built on first use, so that
// narrowing a cover to an item costs one bit test per transaction.
struct ItemBits {
  size_t words = 0;
  std::vector<std::vector<uint64_t>> bits;  // by item id; empty until needed
};

const std::vector<uint64_t>& bits_of(ItemBits& items, const MiningData& data, int32_t item) {
  std::vector<uint64_t>& bits = items.bits[item];
  if (bits.empty()) {
    bits.assign(items.words, 0);
    const int32_t n = transaction_count(data);
    for (int32_t t = 0; t < n; ++t)
      if (std::binary_search(data.items.begin() + data.offsets[t],
                             data.items.begin() + data.offsets[t + 1], item))
        bits[t / 64] |= uint64_t{1} << (t % 64);
  }
  return bits;
}

bool write_list(std::FILE* file, const std::vector<int32_t>& list, int64_t& position) {
  const int32_t count = static_cast<int32_t>(list.size());
  position += 4 * (1 + static_cast<int64_t>(list.size()));
  return write_int32_le(file, &count, 1) && write_int32_le(file, list.data(), list.size());
}

bool report_write_failure(const std::string& path) {
  std::printf("Error: cannot write file %s\n", path.c_str());
  return false;
}

}  // namespace

bool write_tid_lists(const std::string& dir_path, const std::string& list_path,
                     const MiningData& data, const PatternTree& tree, TidListCounts& counts) {
  counts = TidListCounts{};
  const int32_t n = transaction_count(data);
  ItemBits item_bits{(static_cast<size_t>(n) + 63) / 64, std::vector<std::vector<uint64_t>>(data.item_keys.size())};
  std::vector<TidListDirEntry> directory(tree.entries.size());
  std::vector<int32_t> all(n);
  for (int32_t t = 0; t < n; ++t) all[t] = t;

  std::FILE* list_file = std::fopen(list_path.c_str(), "wb");
  if (list_file == nullptr) {
    std::printf("Error: cannot open file %s for write\n", list_path.c_str());
    return false;
  }
  std::vector<PathList> path;
  std::vector<int32_t> diff;
  int64_t position = 0;
  bool ok = true;
  for (size_t e = 0; e < tree.entries.size() && ok; ++e) {
    const PatternTreeEntry& entry = tree.entries[e];
    while (!path.empty() && path.back().entry != entry.parent) path.pop_back();
    const std::vector<int32_t>& parent_tids = path.empty() ? all : path.back().tids;
    const int32_t base_of_parent =
        path.empty() ? -1
                     : (directory[path.back().entry].flags & kTidListStored
                            ? static_cast<int32_t>(path.size()) - 1
                            : path.back().stored_base);
    PathList node;
    node.entry = static_cast<int32_t>(e);
    node.stored_base = base_of_parent;
    const std::vector<uint64_t>& bits = bits_of(item_bits, data, entry.item);
    for (const int32_t t : parent_tids)
      if (bits[t / 64] >> (t % 64) & 1) node.tids.push_back(t);
    directory[e].parent = entry.parent;
    if (entry.rule >= 0) {
      const std::vector<int32_t>& base = base_of_parent < 0 ? all : path[base_of_parent].tids;
      const bool as_diff = base.size() - node.tids.size() < node.tids.size();
      const int64_t record_bytes =
          4 * (1 + static_cast<int64_t>(as_diff ? base.size() - node.tids.size() : node.tids.size()));
      if (position + record_bytes > INT32_MAX) {
        std::printf("Error: tid-list file %s would pass 2 GiB\n", list_path.c_str());
        ok = false;
        break;
      }
      directory[e].offset = static_cast<int32_t>(position);
      if (as_diff) {
        diff.clear();
        std::set_difference(base.begin(), base.end(), node.tids.begin(), node.tids.end(),
                            std::back_inserter(diff));
        directory[e].flags = kTidListStored | kTidListDiff;
        ok = write_list(list_file, diff, position);
        ++counts.diff_lists;
      } else {
        directory[e].flags = kTidListStored;
        ok = write_list(list_file, node.tids, position);
        ++counts.full_lists;
      }
      if (!ok) report_write_failure(list_path);
    }
    path.push_back(std::move(node));
  }
  if (std::fclose(list_file) != 0 && ok) ok = report_write_failure(list_path);
  if (!ok) return false;

  std::FILE* dir_file = std::fopen(dir_path.c_str(), "wb");
  if (dir_file == nullptr) {
    std::printf("Error: cannot open file %s for write\n", dir_path.c_str());
    return false;
  }
  const int32_t header[kTidListDirHeaderInts] = {
      static_cast<int32_t>(tree.entries.size()), n,
      static_cast<int32_t>(counts.full_lists + counts.diff_lists), 0};
  ok = write_int32_le(dir_file, header, kTidListDirHeaderInts);
  for (size_t e = 0; e < directory.size() && ok; ++e) {
    const int32_t values[kTidListDirEntryInts] = {directory[e].flags, directory[e].offset,
                                                  directory[e].parent};
    ok = write_int32_le(dir_file, values, kTidListDirEntryInts);
  }
  if (std::fclose(dir_file) != 0) ok = false;
  if (!ok) return report_write_failure(dir_path);
  return true;
}
