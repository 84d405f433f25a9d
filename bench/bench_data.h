// Benchmark data: a dense generated data set with planted associations, and
// ARFF files converted to the record format the miner reads.
#pragma once

#include <string>

// Writes "<base>.data" and "<base>.names": `records` records of a class
// column "class" (values yes/no) and `attributes` columns of 2 to 12 values
// each, skewed so that some values are common; the class follows a few
// attribute values.
void write_dense_data(const std::string& base, int records, int attributes, unsigned seed);

// Converts the ARFF file at `arff_path` to "<base>.data" and "<base>.names",
// keeping the column order; returns false when it cannot be read.
bool convert_arff(const std::string& arff_path, const std::string& base);
