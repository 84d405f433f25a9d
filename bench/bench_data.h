// Benchmark data: a dense generated data set with planted associations, and
// ARFF files converted to the record format the miner reads.
#pragma once

#include <string>

// Writes "<base>.data" and "<base>.names": `records` records of a class
// column "class" (values yes/no) and `attributes` columns of 2 to 12 values
// each, skewed so that some values are common; the class follows a few
// attribute values. Returns false when a file cannot be written.
bool write_dense_data(const std::string& base, int records, int attributes, unsigned seed);

// Writes "<base>.data" and "<base>.names": `records` records of a class
// column "class" (1 or 0, first, so a split is stratified by it) and 22
// attributes of 2 to 6 values. Each record follows one of a few latent
// profiles, which correlates the attributes strongly enough that about
// 14 million patterns reach a support of 2%; a few planted conjunctions
// raise or lower the class. Records are drawn one after the other from
// one generator, so a smaller set is a prefix of a larger one. Returns false
// when a file cannot be written.
bool write_correlated_data(const std::string& base, long records, unsigned seed);

// Converts the ARFF file at `arff_path` to "<base>.data" and "<base>.names",
// keeping the column order; returns false when it cannot be read.
bool convert_arff(const std::string& arff_path, const std::string& base);
