// Counting the search space: the elementary symmetric polynomials of the
// attributes' value counts, built one attribute at a time.
#include "search_space.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <unordered_map>

namespace {

constexpr unsigned __int128 kLargest = ~static_cast<unsigned __int128>(0);

void add_to(PatternCount& sum, const PatternCount& term) {
  sum.saturated = sum.saturated || term.saturated || sum.exact > kLargest - term.exact;
  sum.exact = sum.saturated ? kLargest : sum.exact + term.exact;
  sum.approximate += term.approximate;
}

PatternCount times(const PatternCount& count, int64_t factor) {
  const auto f = static_cast<unsigned __int128>(factor);
  PatternCount product;
  product.saturated = count.saturated || (f != 0 && count.exact > kLargest / f);
  product.exact = product.saturated ? kLargest : count.exact * f;
  product.approximate = count.approximate * static_cast<long double>(factor);
  return product;
}

double as_double(const PatternCount& count) {
  return count.saturated ? static_cast<double>(count.approximate)
                         : static_cast<double>(count.exact);
}

}  // namespace

SearchSpace count_search_space(const std::vector<int64_t>& values_per_attribute, int32_t max_len) {
  std::vector<int64_t> values;
  for (const int64_t v : values_per_attribute)
    if (v >= 1) values.push_back(v);
  SearchSpace space;
  space.longest = static_cast<int32_t>(
      std::min<int64_t>(std::max(max_len, 0), static_cast<int64_t>(values.size())));
  // e[l]: the sets of l items over the attributes taken so far; a new
  // attribute adds the sets that take one of its values.
  std::vector<PatternCount> e(static_cast<size_t>(space.longest) + 1);
  e[0].exact = 1;
  e[0].approximate = 1;
  for (const int64_t v : values)
    for (size_t l = e.size() - 1; l >= 1; --l) add_to(e[l], times(e[l - 1], v));
  space.by_length.assign(e.begin() + 1, e.end());
  for (const PatternCount& count : space.by_length) add_to(space.total, count);
  return space;
}

double search_space_level(double level, const SearchSpace& space) {
  return space.longest == 0 ? level : level / as_double(space.total);
}

double layered_level(double level, const SearchSpace& space, int32_t length) {
  if (length < 1 || length > space.longest) return 0.0;
  return level / as_double(times(space.by_length[static_cast<size_t>(length) - 1], space.longest));
}

std::vector<int64_t> values_per_attribute(const std::vector<std::string>& item_keys,
                                          const std::vector<std::string>& column_names,
                                          const std::string& target_attribute) {
  std::unordered_map<std::string, int32_t> columns_of_name;
  for (const std::string& name : column_names)
    if (name != target_attribute) ++columns_of_name[name];
  std::map<std::string, size_t> attribute_of_name;
  std::vector<int64_t> values;
  for (const std::string& key : item_keys) {
    const std::string* name = nullptr;
    int32_t matches = 0;
    for (size_t at = key.find('='); at != std::string::npos; at = key.find('=', at + 1)) {
      const auto found = columns_of_name.find(key.substr(0, at));
      if (found == columns_of_name.end()) continue;
      matches += found->second;
      name = &found->first;
    }
    if (matches != 1) {
      values.push_back(1);
      continue;
    }
    const auto [slot, added] = attribute_of_name.try_emplace(*name, values.size());
    if (added) values.push_back(0);
    ++values[slot->second];
  }
  return values;
}
