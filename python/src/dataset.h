// A data set as the Python package holds it between calls: the attribute
// names and the lines of its data file, in memory, and the prepared table
// they came from when it was prepared here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "prepared_table.h"
#include "raw_dataset.h"
#include "testpart/attribute_names.h"

struct Dataset {
  std::string name;  // the D of D.data and D.names, in messages and file names
  AttributeNames names;
  std::vector<std::string> lines;      // of D.data, exactly as the file would hold them
  std::optional<PreparedTable> table;  // when prepared from a data frame or an ARFF or CSV file
};

// The data set of a prepared table.
Dataset dataset_of_table(const std::string& name, PreparedTable table);

// Reads "<base>.names" and "<base>.data" as the miner reads them; nothing
// after an "Error: " line naming the file that cannot be read.
std::optional<Dataset> read_prepared_dataset(const std::string& base, const std::string& name);

// The records the driver's split puts into the mining part at the mining
// `share`: that share of the records that begin with '1' and of the others,
// each rounded as the split rounds it.
int64_t mining_part_records(const Dataset& dataset, double share);

// A column of a data frame as the package hands it over: the texts of its
// distinct values and, per record, the index of its value there (negative:
// missing). A categorical column declares its categories, in their order.
struct FrameColumn {
  std::string name;
  bool numeric = false;  // real numbers, to bin or leave out
  std::vector<std::string> declared;
  std::vector<std::string> values;
  std::vector<int64_t> codes;
};

// The data set the columns hold, as a reader of a file would give it.
RawDataset raw_dataset_of(const std::vector<FrameColumn>& columns);

// The columns of a prepared table, each value as its index among the
// column's values as the .names file lists them (-1: missing).
std::vector<FrameColumn> frame_columns_of(const PreparedTable& table);
