// The data to mine: records read exactly as the driver reads its test part,
// turned into transactions of item ids, with each record's class label.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "minerio/miner_params.h"
#include "testpart/attribute_names.h"

struct MiningData {
  std::vector<std::string> column_names;  // as the names file gives them, the target's too
  std::vector<std::string> item_keys;     // item id -> "attribute=value"
  // Transaction t holds the ascending ids items[offsets[t]] .. items[offsets[t + 1] - 1].
  std::vector<int64_t> offsets{0};
  std::vector<int32_t> items;
  // The class values as the class-value map file lists them: in order of first
  // appearance with a target value, else ranked by frequency.
  std::vector<std::string> class_values;
  std::vector<int32_t> class_counts;  // records per entry of class_values
  std::vector<int32_t> labels;        // per transaction; 1 marks the rule class
  int32_t positives = 0;              // transactions labelled 1
  bool classes_usable = false;        // false: no rules can be mined
};

inline int32_t transaction_count(const MiningData& data) {
  return static_cast<int32_t>(data.labels.size());
}

// Reads the attribute names and the records named by `params`, the lines of
// a large file shared among up to `threads` threads (the data are the same
// for any number). Returns false after an "Error: " line when a file cannot
// be read or holds too many records; a data set with fewer than two class
// values is reported and returned with `classes_usable` false.
bool read_mining_data(const MinerParams& params, MiningData& data, int threads = 1);

// The same from memory: the attribute names and the lines of the data file,
// read exactly as the file's lines are (params.data_file and names_file only
// name them in messages).
bool mining_data_from_lines(const MinerParams& params, const AttributeNames& names,
                            const std::vector<std::string>& lines, MiningData& data);
