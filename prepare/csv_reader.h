// Reader of data sets in CSV with a header line of attribute names.
#pragma once

#include <string>
#include <vector>

#include "raw_dataset.h"

// Reads the lines of a CSV file into `dataset`: the first non-empty line
// names the attributes, every later non-empty line is a record. Fields are
// separated by ','; a field in double quotes may hold commas, line breaks
// and doubled quotes (""). An empty field and an unquoted ? are missing
// values. A column is numeric when it holds at least one value and every
// value reads as a finite number; other columns are text. Returns false with
// `error` set ("<source> line N: what is wrong") on the first fault: a record
// with the wrong number of fields, a quote never closed, text after a
// closing quote, no header line.
bool read_csv(const std::vector<std::string>& lines, const std::string& source, RawDataset& dataset,
              std::string& error);
