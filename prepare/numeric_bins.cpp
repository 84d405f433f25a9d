// Equal-frequency bins: cuts go between neighbouring distinct values, at the
// places where the running count comes closest to equal shares.
#include "numeric_bins.h"

#include <algorithm>
#include <cmath>

#include "number_text.h"

NumericBins choose_bins(std::vector<double> values, int bin_count) {
  NumericBins bins;
  std::sort(values.begin(), values.end());
  std::vector<double> distinct;
  std::vector<size_t> count_below;  // count_below[j]: values before distinct[j]
  for (size_t i = 0; i < values.size(); ++i) {
    if (i == 0 || values[i] != values[i - 1]) {
      distinct.push_back(values[i]);
      count_below.push_back(i);
    }
  }
  if (distinct.size() <= static_cast<size_t>(bin_count)) {
    bins.points = distinct;
    for (const double point : distinct) bins.labels.push_back(format_number(point));
    return bins;
  }
  // A cut before distinct[j] leaves count_below[j] values under it. Each
  // share takes the place nearest its target; a share whose nearest place is
  // taken already adds no cut, so a heavy value is not split off its bin.
  size_t previous = 0;
  for (int share = 1; share < bin_count; ++share) {
    const double target = static_cast<double>(values.size()) * share / bin_count;
    size_t place = std::max<size_t>(1, previous);
    while (place + 1 < distinct.size() && count_below[place] < target) ++place;
    if (place > 1 &&
        std::fabs(count_below[place - 1] - target) <= std::fabs(count_below[place] - target)) {
      --place;
    }
    if (place <= previous) continue;
    bins.cuts.push_back(cut_between(distinct[place - 1], distinct[place]));
    previous = place;
  }
  std::string low = format_number(distinct.front());
  for (const double cut : bins.cuts) {
    const std::string high = format_number(cut);
    bins.labels.push_back("[" + low + ".." + high + ")");
    low = high;
  }
  bins.labels.push_back("[" + low + ".." + format_number(distinct.back()) + "]");
  return bins;
}

size_t find_bin(const NumericBins& bins, double value) {
  if (!bins.points.empty()) {
    return std::lower_bound(bins.points.begin(), bins.points.end(), value) - bins.points.begin();
  }
  return std::upper_bound(bins.cuts.begin(), bins.cuts.end(), value) - bins.cuts.begin();
}
