// Reader of data sets in ARFF: header with @relation, @attribute and @data,
// dense and sparse rows, quoting, comments and missing values.
#pragma once

#include <string>
#include <vector>

#include "raw_dataset.h"

// Reads the lines of an ARFF file into `dataset`. `source` names the file in
// messages. Returns false with `error` set ("<source> line N: what is wrong")
// on the first fault: a malformed header, a row with the wrong number of
// values, a value that its attribute does not declare, a number that does not
// read as a finite number, an unterminated quote. Nominal and numeric values
// are checked; string and date values are taken as text.
bool read_arff(const std::vector<std::string>& lines, const std::string& source,
               RawDataset& dataset, std::string& error);
