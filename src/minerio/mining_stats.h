// The miner's three small files beside its rules, written by the miner and
// read by the driver:
//   statistics_file(o)       text, the 14 integers of MiningStatistics in
//                            order on one line, each after a blank but the
//                            first; the first is the number of transactions
//                            of the mined part
//   class_value_map_file(o)  text, one class value per line; line i is class i
//   class_labels_file(o)     raw int32 little-endian, one class index per
//                            mined transaction, in transaction order
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

using ClassValueMap = std::map<std::string, int>;
using TrainingClassLabels = std::vector<int32_t>;

struct MiningStatistics {
  int64_t transactions = 0;
  int64_t items = 0;
  int64_t frequent_items = 0;
  uint64_t patterns_tested = 0;
  uint64_t passing_pvalue = 0;
  int64_t rules = 0;
  int64_t tree_entries = 0;
  int64_t full_lists = 0;
  int64_t diff_lists = 0;
  int64_t longest_rule = 0;
  int64_t min_sup = 0;
  int64_t max_len = 0;
  int64_t positives = 0;
  int64_t elapsed_ms = 0;
};

// The writers create or truncate `path`; each returns false after an
// "Error: " line when the file cannot be written in full.
bool write_mining_statistics(const std::string& path, const MiningStatistics& stats);
bool write_class_value_map(const std::string& path, const std::vector<std::string>& class_values);
bool write_class_labels(const std::string& path, const std::vector<int32_t>& labels);

// What the driver takes from the statistics file: the transactions of the
// mined part (the first value) and the patterns the miner tested (the
// fourth).
struct MinedPartCounts {
  int32_t transactions = 0;      // 0 when the file or its first value cannot be read
  int64_t patterns_tested = -1;  // -1 when it cannot be read
};

// Reads the statistics file of `output_name`. A missing file gets the
// "cannot open" line; a first value that is unreadable, negative or beyond
// 32 bits gets an "Error: " line and is taken as 0 transactions, so every
// later stage can size its arrays from it.
MinedPartCounts read_mining_statistics(const std::string& output_name);

// Adds every class value of the class-value map file to `map`, with its word
// index as class index (a later equal value wins). A last word with no white
// space after it is not taken; a word that starts with a NUL byte is reported
// as an empty line and not taken, but still counts as a position.
void read_class_value_map(const std::string& output_name, ClassValueMap& map);

// The class value the miner's rules predict when no target value is given:
// the one of class index 1 (empty when the map has none).
std::string rule_class_value(const ClassValueMap& map);

// How many labels the class-label file of `output_name` holds (its size in
// bytes over 4), or nothing when it cannot be found: the one file that bounds
// the number of mined transactions, whatever the statistics file claims.
std::optional<uintmax_t> class_labels_held(const std::string& output_name);

// The number of rules the statistics file of `output_name` states (its sixth
// value), or nothing, quietly, when the file or that value cannot be read:
// the rule reader checks the rule file against it.
std::optional<int64_t> stated_rule_count(const std::string& output_name);

// Reads up to labels.size() entries of the class-label file into `labels`;
// entries beyond a short file's end are left as they were, and a file with
// fewer than `transactions` entries is reported with an "Error: " line.
void read_training_class_labels(const std::string& output_name, int32_t transactions,
                                TrainingClassLabels& labels);
