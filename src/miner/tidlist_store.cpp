// The tid-list store: reads the miner's directory and rebuilds full tid lists
// from stored lists and diff-lists along each pattern's ancestors.
#include "miner/tidlist_store.h"

#include <algorithm>
#include <utility>

#include "common/file_open.h"
#include "common/raw_ints.h"
#include "common/run_files.h"
#include "driver/run_stats.h"

static_assert(sizeof(TidListDirEntry) == kTidListDirEntryInts * sizeof(int32_t),
              "directory entries are read as one block");

namespace {

// Moves to `offset` only when the file is not there already, so records laid
// out in reading order are read without a seek.
bool position_at(TidListFile& file, int64_t offset) {
  std::clearerr(file.file);
  if (std::ftell(file.file) == offset) return true;
  return std::fseek(file.file, static_cast<long>(offset), SEEK_SET) == 0;
}

// Reads the list record of entry `index` into the front of `buffer` and
// returns its count, or -1 after an "Error: " line when the record does not
// fit the file or is no list of transaction numbers.
int64_t read_list_record(TidListFile& file, int32_t index, const TidListDirEntry& entry,
                         int32_t transactions, std::span<int32_t> buffer) {
  const int64_t offset = entry.offset;
  int32_t count = 0;
  if (offset < 0 || offset + 4 > file.size || !position_at(file, offset) ||
      read_int32_le(file.file, &count, 1) != 1) {
    std::printf("Error: offset %d of entry %d is outside file %s\n", entry.offset, index,
                file.name.c_str());
    return -1;
  }
  if (count < 0 || count > transactions || offset + 4 + int64_t{4} * count > file.size ||
      static_cast<size_t>(count) > buffer.size()) {
    std::printf("Error: list record of entry %d in file %s has count %d, outside 0..%d or past "
                "the end of the file\n",
                index, file.name.c_str(), count, transactions);
    return -1;
  }
  const auto list = buffer.first(static_cast<size_t>(count));
  if (read_int32_le(file.file, list.data(), list.size()) != list.size()) {
    std::printf("Error: list record of entry %d in file %s runs past the end of the file\n", index,
                file.name.c_str());
    return -1;
  }
  // Union and difference rely on strictly ascending lists within range.
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i] < 0 || list[i] >= transactions || (i > 0 && list[i] <= list[i - 1])) {
      std::printf("Error: list record of entry %d in file %s is not an ascending list of "
                  "transaction numbers below %d\n",
                  index, file.name.c_str(), transactions);
      return -1;
    }
  }
  return count;
}

// The numbers 0..transactions-1 that are not in `taken`, written into the
// front of `out` as far as it has room; returns how many there are. `taken`
// holds distinct ascending numbers of that range, as checked on reading.
int64_t complement_sorted(std::span<const int32_t> taken, int32_t transactions,
                          std::span<int32_t> out) {
  size_t written = 0;
  size_t next = 0;
  for (int32_t t = 0; t < transactions && written < out.size(); ++t) {
    if (next < taken.size() && taken[next] == t) {
      ++next;
      continue;
    }
    out[written++] = t;
  }
  return std::max<int64_t>(0, int64_t{transactions} - static_cast<int64_t>(taken.size()));
}

bool outside(int32_t index, const TidListDirectory& directory) {
  return index < 0 || static_cast<size_t>(index) >= directory.size();
}

}  // namespace

size_t union_sorted(std::span<const int32_t> x, std::span<const int32_t> y, std::span<int32_t> out) {
  size_t length = 0;
  auto emit = [&](int32_t value) {
    if (length < out.size()) out[length] = value;
    ++length;
  };
  size_t i = 0;
  size_t j = 0;
  while (i < x.size() && j < y.size()) {
    if (x[i] == y[j]) {
      emit(x[i]);
      ++i;
      ++j;
    } else if (x[i] < y[j]) {
      emit(x[i++]);
    } else {
      emit(y[j++]);
    }
  }
  for (; i < x.size(); ++i) emit(x[i]);
  for (; j < y.size(); ++j) emit(y[j]);
  return length;
}

size_t subtract_sorted(std::span<const int32_t> from, std::span<const int32_t> remove,
                       std::span<int32_t> out) {
  size_t length = 0;
  size_t j = 0;
  for (size_t i = 0; i < from.size(); ++i) {
    while (j < remove.size() && remove[j] < from[i]) ++j;
    if (j < remove.size() && remove[j] == from[i]) {
      ++j;
      continue;
    }
    if (length < out.size()) out[length] = from[i];
    ++length;
  }
  return length;
}

size_t tid_list_scratch_size(int32_t transactions, int64_t file_size) {
  // Every value of a list comes from four bytes of the file, and records may
  // start at any byte, so a list never holds more distinct values than bytes.
  return static_cast<size_t>(std::max<int64_t>(0, std::min<int64_t>(transactions, file_size)));
}

bool read_tidlist_directory(const std::string& output_name, TidListDirectory& directory) {
  directory.clear();
  const std::string path = tidlist_directory_file(output_name);
  std::FILE* file = open_for_read(path, "rb");
  if (file == nullptr) return false;
  const int64_t size = raw_file_size(file);
  int32_t header[kTidListDirHeaderInts] = {};
  if (read_int32_le(file, header, kTidListDirHeaderInts) != kTidListDirHeaderInts) {
    std::printf("Error: file %s is too short for its header\n", path.c_str());
  } else if (header[0] < 0) {
    std::printf("Error: negative entry count %d in file %s\n", header[0], path.c_str());
  } else {
    constexpr int64_t kHeaderBytes = kTidListDirHeaderInts * sizeof(int32_t);
    const int64_t held =
        std::max<int64_t>(0, size - kHeaderBytes) / static_cast<int64_t>(sizeof(TidListDirEntry));
    if (header[0] > held) {
      std::printf("Error: file %s holds %lld directory entries, fewer than its count %d\n",
                  path.c_str(), static_cast<long long>(held), header[0]);
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

int64_t rebuild_tid_list(TidListFile& file, const TidListDirectory& directory, int32_t preorder,
                         int32_t transactions, std::span<int32_t> destination,
                         TidListScratch& scratch) {
  if (outside(preorder, directory)) {
    std::printf("Error: preorder number %d is outside the tid-list directory of %zu entries\n",
                preorder, directory.size());
    return 0;
  }
  if ((directory[preorder].flags & kTidListDiff) == 0) {
    const int64_t count =
        read_list_record(file, preorder, directory[preorder], transactions, scratch.record);
    if (count < 0) return 0;
    const size_t kept = std::min(static_cast<size_t>(count), destination.size());
    std::copy_n(scratch.record.begin(), kept, destination.begin());
    return count;
  }

  size_t united = 0;
  int64_t last_count = 0;
  int32_t k = preorder;
  // In a tree every climb ends within E steps; more means the parent
  // numbers run in a cycle.
  size_t climbs = 0;
  auto climb = [&](int32_t from) {
    int32_t next = directory[from].parent;
    while (true) {
      if (next >= 0 && outside(next, directory)) {
        std::printf("Error: parent number %d of entry %d is outside the tid-list directory of "
                    "%zu entries\n",
                    next, from, directory.size());
        return false;
      }
      if (++climbs > directory.size()) {
        std::printf("Error: the parent numbers above entry %d run in a cycle\n", preorder);
        return false;
      }
      if (next < 0 || (directory[next].flags & kTidListStored) != 0) break;
      from = next;
      next = directory[from].parent;
    }
    k = next;
    return true;
  };

  do {
    last_count = read_list_record(file, k, directory[k], transactions, scratch.record);
    if (last_count < 0) return 0;
    const auto diff =
        std::span<const int32_t>(scratch.record).first(static_cast<size_t>(last_count));
    const size_t length = union_sorted(std::span<const int32_t>(scratch.diff_union).first(united),
                                       diff, scratch.spare);
    // Kept word for word, typo included: scripts may match it.
    if (length != united + diff.size())
      std::printf("Error: there should no no overlap between two consecutive diff-list\n");
    std::swap(scratch.diff_union, scratch.spare);
    united = std::min(length, scratch.diff_union.size());
    if (!climb(k)) return 0;
  } while (k >= 0 && (directory[k].flags & kTidListDiff) != 0);

  const auto diff_union = std::span<const int32_t>(scratch.diff_union).first(united);
  if (k >= 0) {
    const int64_t count = read_list_record(file, k, directory[k], transactions, scratch.record);
    if (count < 0) return 0;
    const auto full = std::span<const int32_t>(scratch.record).first(static_cast<size_t>(count));
    const size_t length = subtract_sorted(full, diff_union, destination);
    if (static_cast<int64_t>(length) != count - static_cast<int64_t>(united))
      std::printf("Error: the tid list length should be the difference between the parent list "
                  "length and the diff-list length\n");
    return static_cast<int64_t>(length);
  }
  if (k == kTidListRootParent) return complement_sorted(diff_union, transactions, destination);
  std::printf("Error: the preorder of the entry cannot be -2\n");
  return last_count;
}

void load_rule_tid_lists(const std::string& output_name, RuleSet& rules) {
  TidListDirectory directory;
  if (!read_tidlist_directory(output_name, directory)) return;
  TidListFile file;
  file.name = tidlist_file(output_name);
  file.file = open_for_read(file.name, "rb");
  if (file.file == nullptr) return;
  file.size = raw_file_size(file.file);

  const int32_t transactions = run_stats.train_instances;
  const size_t room = tid_list_scratch_size(transactions, file.size);
  TidListScratch scratch{std::vector<int32_t>(room), std::vector<int32_t>(room),
                         std::vector<int32_t>(room)};
  for (RuleRecord& rule : rules.records) {
    const std::span<int32_t> destination(rule.tid_list,
                                         static_cast<size_t>(std::max(rule.support, 0)));
    const int64_t length =
        rebuild_tid_list(file, directory, rule.preorder, transactions, destination, scratch);
    if (length != rule.support) std::printf("Error: inconsistent pattern support\n");
  }
  std::fclose(file.file);
}
