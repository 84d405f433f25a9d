// Equal-frequency discretisation of a numeric attribute into labelled bins.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct NumericBins {
  // With at most as many distinct values as bins, each value is its own bin:
  // `points` holds the distinct values and `cuts` is empty. Otherwise bin i
  // holds the values v with cuts[i-1] <= v < cuts[i].
  std::vector<double> points;
  std::vector<double> cuts;
  std::vector<std::string> labels;  // one per bin, in ascending order, no comma
};

// Chooses up to `bin_count` bins of nearly equal numbers of `values` (missing
// values are not among them). Equal values always share a bin, so ties may
// leave fewer bins. Labels read "[low..cut)", the last "[cut..high]"; a
// one-value bin is labelled with its number.
NumericBins choose_bins(std::vector<double> values, int bin_count);

// Index of the bin of `value`, which must be one of the values the bins were
// chosen from (or lie within their range).
size_t find_bin(const NumericBins& bins, double value);
