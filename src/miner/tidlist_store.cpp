// The tid-list store: reads the miner's directory and rebuilds full tid lists
// from stored lists and diff-lists along each pattern's ancestors.
#include "miner/tidlist_store.h"

#include <algorithm>
#include <cstdarg>
#include <utility>

#include "common/file_open.h"
#include "common/messages.h"
#include "common/raw_ints.h"
#include "common/run_files.h"
#include "driver/run_stats.h"

static_assert(sizeof(TidListDirEntry) == kTidListDirEntryInts * sizeof(int32_t),
              "directory entries are read as one block");

namespace {

// Every damage found is reported through here, and only while the file's
// `report` is set.
void report_damage(const TidListFile& file, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

void report_damage(const TidListFile& file, const char* format, ...) {
  if (!file.report) return;
  va_list args;
  va_start(args, format);
  report_error_v(format, args);
  va_end(args);
}

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
    report_damage(file, "offset %d of entry %d is outside file %s", entry.offset, index,
                  file.name.c_str());
    return -1;
  }
  if (count < 0 || count > transactions || offset + 4 + int64_t{4} * count > file.size ||
      static_cast<size_t>(count) > buffer.size()) {
    report_damage(file,
                  "list record of entry %d in file %s has count %d, outside 0..%d or past "
                  "the end of the file",
                  index, file.name.c_str(), count, transactions);
    return -1;
  }
  const auto list = buffer.first(static_cast<size_t>(count));
  if (read_int32_le(file.file, list.data(), list.size()) != list.size()) {
    report_damage(file, "list record of entry %d in file %s runs past the end of the file", index,
                  file.name.c_str());
    return -1;
  }
  // Union and difference rely on strictly ascending lists within range.
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i] < 0 || list[i] >= transactions || (i > 0 && list[i] <= list[i - 1])) {
      report_damage(file,
                    "list record of entry %d in file %s is not an ascending list of "
                    "transaction numbers below %d",
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

// Where the climb from entry `from` to its nearest stored ancestor ends: that
// ancestor, or the negative parent number met first. False after a report
// when a parent number lies outside the directory or, `climbs` counting the
// steps of one whole rebuild, the parent numbers run in a cycle.
bool climb_to_stored(TidListFile& file, const TidListDirectory& directory, int32_t preorder,
                     int32_t from, size_t& climbs, int32_t& end) {
  int32_t next = directory[from].parent;
  while (true) {
    if (next >= 0 && outside(next, directory)) {
      report_damage(file,
                    "parent number %d of entry %d is outside the tid-list directory of %zu "
                    "entries",
                    next, from, directory.size());
      return false;
    }
    // In a tree every climb ends within E steps; more means the parent
    // numbers run in a cycle.
    if (++climbs > directory.size()) {
      report_damage(file, "the parent numbers above entry %d run in a cycle", preorder);
      return false;
    }
    if (next < 0 || (directory[next].flags & kTidListStored) != 0) break;
    from = next;
    next = directory[from].parent;
  }
  end = next;
  return true;
}

// The diff-lists from a diff entry up to the first stored ancestor that is
// not one: their union is scratch.diff_union's first `united` values.
struct DiffChain {
  size_t united = 0;
  int64_t last_count = 0;  // length of the last diff-list read
  int32_t end = 0;         // the full list's entry, or the negative parent number met
};

// Unites the diff-lists above `preorder`; false after a report of a damaged
// directory or list record.
bool unite_diff_lists(TidListFile& file, const TidListDirectory& directory, int32_t preorder,
                      int32_t transactions, TidListScratch& scratch, DiffChain& chain) {
  size_t climbs = 0;
  int32_t k = preorder;
  do {
    chain.last_count = read_list_record(file, k, directory[k], transactions, scratch.record);
    if (chain.last_count < 0) return false;
    const auto diff =
        std::span<const int32_t>(scratch.record).first(static_cast<size_t>(chain.last_count));
    const size_t length = union_sorted(
        std::span<const int32_t>(scratch.diff_union).first(chain.united), diff, scratch.spare);
    // Kept word for word, typo included: scripts may match it.
    if (length != chain.united + diff.size())
      report_damage(file, "there should no no overlap between two consecutive diff-list");
    std::swap(scratch.diff_union, scratch.spare);
    chain.united = std::min(length, scratch.diff_union.size());
    if (!climb_to_stored(file, directory, preorder, k, climbs, k)) return false;
  } while (k >= 0 && (directory[k].flags & kTidListDiff) != 0);
  chain.end = k;
  return true;
}

}  // namespace

size_t union_sorted(std::span<const int32_t> x, std::span<const int32_t> y,
                    std::span<int32_t> out) {
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

int64_t rebuild_tid_list(TidListFile& file, const TidListDirectory& directory, int32_t preorder,
                         int32_t transactions, std::span<int32_t> destination,
                         TidListScratch& scratch) {
  if (outside(preorder, directory)) {
    report_damage(file, "preorder number %d is outside the tid-list directory of %zu entries",
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

  DiffChain chain;
  if (!unite_diff_lists(file, directory, preorder, transactions, scratch, chain)) return 0;
  const int32_t k = chain.end;
  const size_t united = chain.united;
  const auto diff_union = std::span<const int32_t>(scratch.diff_union).first(united);
  if (k >= 0) {
    const int64_t count = read_list_record(file, k, directory[k], transactions, scratch.record);
    if (count < 0) return 0;
    const auto full = std::span<const int32_t>(scratch.record).first(static_cast<size_t>(count));
    const size_t length = subtract_sorted(full, diff_union, destination);
    if (static_cast<int64_t>(length) != count - static_cast<int64_t>(united))
      report_damage(file,
                    "the tid list length should be the difference between the parent list "
                    "length and the diff-list length");
    return static_cast<int64_t>(length);
  }
  if (k == kTidListRootParent) return complement_sorted(diff_union, transactions, destination);
  report_damage(file, "the preorder of the entry cannot be -2");
  return chain.last_count;
}

bool open_rule_tid_lists(const std::string& output_name, RuleTidLists& lists) {
  if (!read_tidlist_directory(output_name, lists.directory)) return false;
  lists.file.name = tidlist_file(output_name);
  lists.file.file = open_for_read(lists.file.name, "rb");
  if (lists.file.file == nullptr) return false;
  lists.file.size = raw_file_size(lists.file.file);
  lists.transactions = run_stats.train_instances;
  const size_t room = tid_list_scratch_size(lists.transactions, lists.file.size);
  lists.scratch = TidListScratch{std::vector<int32_t>(room), std::vector<int32_t>(room),
                                 std::vector<int32_t>(room)};
  return true;
}

void rebuild_rule_tid_list(RuleTidLists& lists, const RuleRecord& rule,
                           std::span<int32_t> destination) {
  const int64_t length = rebuild_tid_list(lists.file, lists.directory, rule.preorder,
                                          lists.transactions, destination, lists.scratch);
  if (length != rule.support) report_damage(lists.file, "inconsistent pattern support");
}

void close_rule_tid_lists(RuleTidLists& lists) {
  if (lists.file.file != nullptr) std::fclose(lists.file.file);
  lists.file.file = nullptr;
}
