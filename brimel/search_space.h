// The number of patterns that could have been tested, whatever the data: sets
// of items with at most one value per attribute, counted from the number of
// values of each attribute alone. Bonferroni's correction over this search
// space, and the layered critical values that split the level evenly over
// the pattern lengths and within a length over its patterns.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A count that may outgrow any integer type: exact below 2^128, and always
// as a long double (whose range reaches beyond 10^4900).
struct PatternCount {
  unsigned __int128 exact = 0;  // the largest value when saturated
  bool saturated = false;       // the count is 2^128 or more
  long double approximate = 0;  // the count to about 18 significant digits
};

struct SearchSpace {
  int32_t longest = 0;                  // L: the longest pattern length possible
  std::vector<PatternCount> by_length;  // entry l - 1: patterns of l items, l = 1 .. L
  PatternCount total;                   // of every length up to L
};

// For attributes of `values_per_attribute` values each (entries below 1 are
// left out), the patterns of each length l, 1 <= l <= L, with L the smaller
// of `max_len` and the number of attributes left: the elementary symmetric
// polynomial of degree l of the value counts.
SearchSpace count_search_space(const std::vector<int64_t>& values_per_attribute, int32_t max_len);

// level / (every pattern of the search space); `level` with no pattern.
double search_space_level(double level, const SearchSpace& space);

// The layered critical value for patterns of `length` items:
// level / (L * the patterns of that length); 0 for a length beyond L.
double layered_level(double level, const SearchSpace& space, int32_t length);

// The number of values of each attribute, from the keys "attribute=value" of
// the items and the column names of the data (`target_attribute`'s column
// holds no items). An item whose key could come from more than one column
// (a name that holds '=' or is repeated) is counted as an attribute of its
// own, which can only enlarge the search space.
std::vector<int64_t> values_per_attribute(const std::vector<std::string>& item_keys,
                                          const std::vector<std::string>& column_names,
                                          const std::string& target_attribute);
