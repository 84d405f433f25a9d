// Tarone's corrected level over the patterns counted per support.
#include "testability.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

uint64_t add_saturating(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

double below(double value) { return std::nextafter(value, -INFINITY); }

}  // namespace

TaroneLevel tarone_level(const std::vector<uint64_t>& patterns_by_support,
                         const std::vector<double>& min_pvalues, double level, int32_t min_sup) {
  // The steps of m(d): the distinct smallest p-values, ascending, with the
  // patterns counted at each.
  std::vector<std::pair<double, uint64_t>> steps;
  for (size_t s = 0; s < patterns_by_support.size(); ++s)
    if (patterns_by_support[s] > 0) steps.emplace_back(min_pvalues[s], patterns_by_support[s]);
  std::sort(steps.begin(), steps.end());
  TaroneLevel out;
  out.level = level;
  uint64_t testable = 0;
  for (size_t i = 0; i < steps.size();) {
    const double step = steps[i].first;
    uint64_t at_step = testable;
    for (; i < steps.size() && steps[i].first == step; ++i)
      at_step = add_saturating(at_step, steps[i].second);
    // d * m(d) never falls as d grows, so the first step that breaks the
    // bound ends the search just below it.
    if (!(step <= level / static_cast<double>(at_step))) {
      out.level = testable == 0 ? below(step)
                                : std::min(level / static_cast<double>(testable), below(step));
      break;
    }
    testable = at_step;
    out.level = level / static_cast<double>(testable);
  }
  out.testable = testable;
  out.lower_support = lowest_support_reaching(min_pvalues, out.level, min_sup);
  return out;
}

int32_t lowest_support_reaching(const std::vector<double>& min_pvalues, double level,
                                int32_t min_sup) {
  for (int32_t s = 1; s < min_sup && static_cast<size_t>(s) < min_pvalues.size(); ++s)
    if (min_pvalues[static_cast<size_t>(s)] <= level) return s;
  return 0;
}

bool search_tarone_level(std::vector<uint64_t> patterns_by_support,
                         const std::vector<double>& min_pvalues, double level, int32_t min_sup,
                         const CountBySupport& count, TaroneSearch& out) {
  out = TaroneSearch{};
  out.min_sup = min_sup;
  out.patterns_by_support = std::move(patterns_by_support);
  for (;;) {
    out.level = tarone_level(out.patterns_by_support, min_pvalues, level, out.min_sup);
    if (out.level.lower_support == 0) return true;
    out.min_sup = out.level.lower_support;
    out.patterns_by_support.clear();
    ++out.recounts;
    if (!count(out.min_sup, out.patterns_by_support)) return false;
  }
}
