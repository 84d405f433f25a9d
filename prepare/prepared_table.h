// Turning a data set as read into the table that the .data and .names files
// hold: class column chosen and coded, numeric attributes binned or dropped,
// every value made safe for the record format.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "raw_dataset.h"

struct PrepareSettings {
  std::string target;  // the class attribute; empty: the last attribute
  // With a value, the class is coded 1 (this value, compared as text) or 0
  // (any other) and becomes the first column, so that the driver's split,
  // stratified on a leading '1', is stratified by class. Without, the class
  // column keeps its place and its values.
  std::optional<std::string> positive;
  int bins = 4;               // equal-frequency bins per numeric attribute
  bool drop_numeric = false;  // leave numeric attributes out instead
};

struct PreparedColumn {
  std::string name;
  std::vector<std::string> values;  // the values listed in the .names file
  std::string note;                 // "1 = republican" for a coded class
};

struct ClassCount {
  std::string value;  // as written in the .data file
  size_t records = 0;
};

struct PreparedTable {
  std::vector<PreparedColumn> columns;
  std::vector<std::vector<std::string>> records;  // written values; "?" is missing
  size_t class_column = 0;
  std::vector<ClassCount> class_counts;  // in the order of the class column's values
  size_t dropped_numeric = 0;            // attributes left out by drop_numeric
  size_t left_out_records = 0;           // records without a class value
  std::vector<std::string> warnings;     // texts to print after "Warning: "
};

// Builds `table` from `dataset`. Returns false with `error` set when the data
// cannot be written faithfully: no such target attribute, a positive value
// that never occurs, no record with a class value, an attribute name the
// .names file cannot carry or that two attributes share, two values of one
// attribute that would be written alike, an item "name=value" too long.
// Records without a class value are left out (and counted); coding them 0
// would count unknowns as negatives.
bool prepare_table(const RawDataset& dataset, const PrepareSettings& settings, PreparedTable& table,
                   std::string& error);
