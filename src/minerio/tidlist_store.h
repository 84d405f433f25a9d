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
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "minerio/rule_file.h"

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

// The open tid-list files of one run, read by walk_rule_tid_lists.
struct RuleTidLists;

// Opens the two files of `output_name` for walk_rule_tid_lists, whose lists
// number `transactions` mined transactions. Returns false, after an "Error: "
// line, when either cannot be opened; the lists must be closed with
// close_rule_tid_lists either way.
bool open_rule_tid_lists(const std::string& output_name, int32_t transactions, RuleTidLists& lists);

// Receives the tid list of rule wanted[place] as rebuilt: normally of the
// rule's support, shorter or longer only where the files are damaged (an
// empty list where they cannot give it at all).
using RuleTidListVisit = std::function<void(size_t place, std::span<const int32_t> list)>;

// Rebuilds the tid lists of the rules `wanted` (indexes into rules.records)
// in tree order, the lists of the ancestors held on a stack, so that each
// stored list is read and applied once, and hands each to `visit` once.
// The list file is read in large blocks. Each damage met is reported once:
// - a preorder or parent number outside the directory, parent numbers that
//   run in a cycle, an offset or count that does not fit the file, a list
//   that is not ascending within 0..transactions-1: the lists that depend on
//   it are empty;
// - a diff-list that removes values an ancestor's diff-list removed already
//   ("there should no no overlap ...") or values the full list above does
//   not hold ("the tid list length should be ..."): the list is kept as
//   rebuilt;
// - a parent number below -1 ("... cannot be -2"): the list is empty and
//   taken to be as long as its diff-list;
// - lists nested so deep that the stack would hold more than 64 lists of the
//   largest size: the lists below are empty (no tree the miner writes comes
//   near that);
// - then, per rule, a list whose length is not the rule's support
//   ("inconsistent pattern support").
void walk_rule_tid_lists(RuleTidLists& lists, const RuleSet& rules, std::span<const size_t> wanted,
                         const RuleTidListVisit& visit);

// The length of a rule's tid list and a measure of it, found without
// rebuilding the list.
struct TidListSize {
  int64_t length = 0;
  int64_t measure = 0;
  bool known = false;  // false where damage keeps the list from being had
};

// A measure of an ascending list that adds up over disjoint parts: the
// measure of a list minus a part of it is the list's measure minus the part's
// (a sum over the values, such as the bytes the values take as text).
using TidListMeasure = std::function<int64_t(std::span<const int32_t> list)>;

// The size of the tid list of each rule `wanted` (indexes into rules.records),
// in the order of `wanted`, from the stored lists alone: each is read once,
// and a diff-list's size is its base's less its own, so no list is rebuilt.
// That holds for files the miner wrote; damage that only a rebuilt list
// shows (a diff-list with values its base lacks) is left to the walk that
// rebuilds. Reports the damage walk_rule_tid_lists reports of the directory
// and the list records, and a list whose length is not the rule's support
// ("inconsistent pattern support"). A diff-list against the root measures
// every transaction number: `lists.transactions` must be checked against the
// files first (the class-label file bounds it), or a count that lies costs
// time.
std::vector<TidListSize> measure_rule_tid_lists(RuleTidLists& lists, const RuleSet& rules,
                                                std::span<const size_t> wanted,
                                                const TidListMeasure& measure);

void close_rule_tid_lists(RuleTidLists& lists);

// Reads the tid-list directory of `output_name` into `directory` (replacing what it held).
// Returns false, after the "cannot open" line, when the file cannot be
// opened. A header cut short or a negative count gives an "Error: " line and
// an empty directory; a count above the entries the file holds gives an
// "Error: " line and only the complete entries.
bool read_tidlist_directory(const std::string& output_name, TidListDirectory& directory);

// The open list file, read through a window of large blocks.
struct TidListFile {
  std::FILE* file = nullptr;
  std::string name;
  int64_t size = 0;
  std::unique_ptr<char[]> window;  // window_bytes bytes of the file from window_offset on
  int64_t window_offset = 0;
  size_t window_bytes = 0;
};

struct RuleTidLists {
  TidListDirectory directory;
  TidListFile file;
  int32_t transactions = 0;  // the mined transactions the lists number
};

// The values of ascending `from` that are not in ascending `remove`. Writes
// the first out.size() values and returns the result's full length, which is
// from.size() - remove.size() exactly when every value of `remove` is in `from`.
size_t subtract_sorted(std::span<const int32_t> from, std::span<const int32_t> remove,
                       std::span<int32_t> out);
