// The miner's rule file rule_file(output_name): per rule, white-space separated,
//   preorder  length  item_1 .. item_length  support  class_support
//   confidence  pvalue  max_local_pvalue  lift
// The miner writes one rule per line, reals with every digit ("%.17g"). Line
// ends carry no meaning to the reader, only the order of the values does; it
// takes neither the confidence, max_local_pvalue nor lift. Validation
// replaces the file with the kept rules in a layout of its own
// (validate/validated_output.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

// One rule in memory. `items` points into the item buffer of the RuleSet
// that holds the record and stays valid as long as that set lives.
struct RuleRecord {
  int32_t preorder = 0;      // the pattern's entry in the tid-list directory
  int32_t length = 0;        // number of items
  int32_t* items = nullptr;  // `length` item ids, ascending
  int32_t support = 0;       // also the length of the tid list
  int32_t class_support = 0;
  double pvalue = 0.0;
};

// Rules with the buffer their records point into. Moving a set keeps the
// records' pointers valid; copying would not, so it is not allowed.
struct RuleSet {
  std::vector<RuleRecord> records;
  std::vector<int32_t> item_buffer;

  RuleSet() = default;
  RuleSet(RuleSet&&) = default;
  RuleSet& operator=(RuleSet&&) = default;
  RuleSet(const RuleSet&) = delete;
  RuleSet& operator=(const RuleSet&) = delete;
};

// Reads the rule file of `output_name` into `rules` (replacing what it held) and returns
// the number of records read; their tid lists are rebuilt from the tid-list
// files (miner/tidlist_store.h).
//
// The file is read twice, once to size the two arrays and once to fill
// them, so only complete, plausible records take room:
// - a value that is not a number, a negative length or a record cut short by
//   the end of the file gets an "Error: " line, and reading stops there; the
//   records before it are kept;
// - a file that ends after a different number of records than the
//   statistics file statistics_file(output_name) states (when it can be
//   read) gets an "Error: " line: a file cut at a line end reads as fewer
//   rules without any other sign; the records read are kept;
// - a negative support, or one above the mined transactions, gets an
//   "Error: " line and only that record is dropped. The mined transactions
//   are `transactions` (0 when unknown, so that every positive support is
//   dropped), but never more than the class-label file
//   class_labels_file(output_name) holds labels when it exists.
// A file that changes between the two passes is reported with
// "Error: inconsistent pattern buffer size" or "... tid list buffer size".
int read_rules(const std::string& output_name, int32_t transactions, RuleSet& rules);

// One rule as the miner writes it.
struct RuleFileLine {
  int32_t preorder = 0;
  std::span<const int32_t> items;  // ascending
  int32_t support = 0;
  int32_t class_support = 0;
  double confidence = 0.0;
  double pvalue = 0.0;
  double max_local_pvalue = 0.0;
  double lift = 0.0;
};

// Writes `rule` as one line of the file open in `file`; the caller checks
// the file for write errors when it closes it.
void write_rule_line(std::FILE* file, const RuleFileLine& rule);
