// The miner's tid lists: tidlist_directory_file(o) and tidlist_file(o), all
// values signed 32-bit little-endian.
//   directory: header of 4 ints (entry count E, then 3 ints not read),
//              then E entries of 3 ints: flags, offset, parent
//   list file: at each stored entry's byte offset, a count c and c ascending
//              transaction numbers
// Entry k describes the pattern of preorder number k; its parent is -1 for
// the tree's root, whose list is every mined transaction. An entry with
// kTidListDiff holds the transactions of its nearest stored ancestor's list
// that the pattern does not contain.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "miner/rule_file.h"

constexpr int32_t kTidListStored = 1;  // the entry has a list of its own
constexpr int32_t kTidListDiff = 2;    // that list is a diff-list against the parent's
constexpr int kTidListDirHeaderInts = 4;
constexpr int kTidListDirEntryInts = 3;
constexpr int32_t kTidListRootParent = -1;

struct TidListDirEntry {
  int32_t flags = 0;
  int32_t offset = 0;
  int32_t parent = -1;
};

using TidListDirectory = std::vector<TidListDirEntry>;

// Everything needed to rebuild rules' tid lists one at a time, the one way
// the system rebuilds them: the directory, the open list file and scratch
// room for one list.
struct RuleTidLists;

// Opens the two files of `output_name` for rebuild_rule_tid_list. Returns
// false, after an "Error: " line, when either cannot be opened; the lists
// must be closed with close_rule_tid_lists either way.
bool open_rule_tid_lists(const std::string& output_name, RuleTidLists& lists);

// Writes the rule's tid list into `destination` (cut to its size), checking
// its length against the rule's support ("Error: inconsistent pattern
// support", like every damage only while lists.file.report is set).
void rebuild_rule_tid_list(RuleTidLists& lists, const RuleRecord& rule,
                           std::span<int32_t> destination);

void close_rule_tid_lists(RuleTidLists& lists);

// Reads the tid-list directory of `output_name` into `directory` (replacing what it held).
// Returns false, after the "cannot open" line, when the file cannot be
// opened. A header cut short or a negative count gives an "Error: " line and
// an empty directory; a count above the entries the file holds gives an
// "Error: " line and only the complete entries.
bool read_tidlist_directory(const std::string& output_name, TidListDirectory& directory);

// The open tid-list file; `size` in bytes bounds every offset and count.
// With `report` false, damage is not reported again: a second pass over
// lists that a first pass has checked stays quiet.
struct TidListFile {
  std::FILE* file = nullptr;
  std::string name;
  int64_t size = 0;
  bool report = true;
};

// The three scratch lists of one loading call: the union of the diff-lists
// met so far, the spare list that receives the next union, and the read
// buffer for list records. Each needs room for every transaction number that
// a valid list can hold: tid_list_scratch_size entries.
struct TidListScratch {
  std::vector<int32_t> diff_union;
  std::vector<int32_t> spare;
  std::vector<int32_t> record;
};

struct RuleTidLists {
  TidListDirectory directory;
  TidListFile file;
  TidListScratch scratch;
  int32_t transactions = 0;  // the mined transactions the lists number
};

// Room for the scratch lists: `transactions`, but never more than the file's
// size in bytes can justify.
size_t tid_list_scratch_size(int32_t transactions, int64_t file_size);

// Writes the tid list of pattern `preorder` (over `transactions` mined
// transactions) into `destination` and returns its full length; a list
// longer than the destination is cut to it, so the caller sees the mismatch
// in the length returned. Diff-lists that overlap and a full list that lacks
// values of the diff-lists below it are reported and the list kept as
// rebuilt. A damaged directory or list record (preorder or parent number
// outside the directory, a cycle of parent numbers, an offset or count that
// does not fit the file, a list that is not ascending within
// 0..transactions-1) is reported and gives length 0, the destination's content
// then being unspecified. A parent number below -1 on the way up is reported
// and gives the last diff-list's length, the destination left as it was.
int64_t rebuild_tid_list(TidListFile& file, const TidListDirectory& directory, int32_t preorder,
                         int32_t transactions, std::span<int32_t> destination,
                         TidListScratch& scratch);

// The union of two ascending lists without repeats in each. Writes the first
// out.size() values of the result and returns the result's full length,
// which is x.size() + y.size() exactly when the lists share no value.
size_t union_sorted(std::span<const int32_t> x, std::span<const int32_t> y, std::span<int32_t> out);

// The values of ascending `from` that are not in ascending `remove`. Writes
// the first out.size() values and returns the result's full length, which is
// from.size() - remove.size() exactly when every value of `remove` is in `from`.
size_t subtract_sorted(std::span<const int32_t> from, std::span<const int32_t> remove,
                       std::span<int32_t> out);
