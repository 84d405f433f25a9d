// Evaluating patterns under every permutation against the falling
// threshold, and the corrected level from the minima.
#include "westfall_young.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "stats/fisher.h"
#include "testability.h"

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// A table counts as more probable than the threshold only by a margin, so
// that no rounding in computing its probability can hide a p-value within
// the threshold.
constexpr double kRegionMargin = 1e-9;

// The acceptance region of `support` at `threshold`, grown from the region
// found at an earlier, higher threshold (first from the mode, outwards):
// every count in it has a table more probable than the threshold, and a
// p-value is at least the probability of its own table.
const AcceptanceRegion& acceptance_region(WestfallYoungWorker& worker, int32_t support,
                                          double threshold) {
  AcceptanceRegion& region = worker.regions[static_cast<size_t>(support)];
  const double bound = threshold * (1 + kRegionMargin);
  if (region.high >= 0 && !(region.next_low > bound) && !(region.next_high > bound)) return region;
  const WestfallYoungSetup& s = *worker.setup;
  const double* lf = s.log_factorial;
  const double margins = fisher_log10_margins(lf, s.transactions, support, s.positives);
  const int32_t fewest = std::max(0, support + s.positives - s.transactions);
  const int32_t most = std::min(support, s.positives);
  auto probability = [&](int32_t k) {
    if (k < fewest || k > most) return -1.0;
    return std::pow(10.0,
                    fisher_log10_probability(lf, margins, s.transactions, support, s.positives, k));
  };
  if (region.high < 0) {
    const auto mode = static_cast<int32_t>(fisher_mode(s.transactions, support, s.positives));
    region = AcceptanceRegion{mode + 1, mode, probability(mode), probability(mode + 1)};
  }
  while (region.next_low > bound) region.next_low = probability(--region.low - 1);
  while (region.next_high > bound) region.next_high = probability(++region.high + 1);
  return region;
}

// The worker's own threshold from its minima, published when it is the
// smallest so far.
void tighten_threshold(WestfallYoungWorker& worker) {
  const WestfallYoungSetup& s = *worker.setup;
  std::vector<double>& sorted = worker.scratch;
  sorted = worker.minima;
  const auto kth = sorted.begin() + s.allowed;
  std::nth_element(sorted.begin(), kth, sorted.end());
  worker.threshold = *kth;
  double shared = worker.setup->threshold.load(std::memory_order_relaxed);
  while (worker.threshold < shared && !worker.setup->threshold.compare_exchange_weak(
                                          shared, worker.threshold, std::memory_order_relaxed)) {
  }
}

}  // namespace

int32_t allowed_minima(double level, int32_t permutations) {
  const double product = level * (static_cast<double>(permutations) + 1.0);
  double whole = std::floor(product);
  if (whole + 1 - product <= 1e-9 * product) whole += 1;
  return static_cast<int32_t>(std::min<double>(whole - 1, permutations));
}

void start_westfall_young(WestfallYoungSetup& setup, const double* log_factorial,
                          int32_t transactions, int32_t positives, int32_t permutations,
                          double level) {
  setup.log_factorial = log_factorial;
  setup.transactions = transactions;
  setup.positives = positives;
  setup.permutations = permutations;
  setup.allowed = allowed_minima(level, permutations);
  setup.min_pvalues = min_attainable_pvalues(log_factorial, transactions, positives);
  setup.threshold.store(kInfinity);
}

void start_worker(WestfallYoungSetup& setup, WestfallYoungWorker& worker) {
  worker = WestfallYoungWorker{};
  worker.setup = &setup;
  worker.minima.assign(static_cast<size_t>(setup.permutations), kInfinity);
  worker.regions.assign(static_cast<size_t>(setup.transactions) + 1, AcceptanceRegion{});
  worker.flags.assign(plane_words(setup.permutations), 0);
}

bool may_reach_threshold(const WestfallYoungWorker& worker, int32_t support) {
  return worker.setup->min_pvalues[static_cast<size_t>(support)] <= current_threshold(worker);
}

void take_pattern(WestfallYoungWorker& worker, const PermutedCounts& counts,
                  const RecordRows& rows) {
  const WestfallYoungSetup& s = *worker.setup;
  if (s.allowed < 0 || s.allowed >= s.permutations || !may_reach_threshold(worker, counts.support))
    return;
  const double threshold = current_threshold(worker);
  const AcceptanceRegion& region = acceptance_region(worker, counts.support, threshold);
  std::vector<uint64_t>& flags = worker.flags;
  if (region.low <= region.high) {
    flag_counts_outside(counts, rows, region.low, region.high, flags.data());
  } else {
    std::fill(flags.begin(), flags.end(), 0);
    for (int32_t j = 0; j < s.permutations; ++j)
      flags[static_cast<size_t>(j) / 64] |= uint64_t{1} << (j % 64);
  }
  // No p-value of the pattern lies below its smallest attainable one, so a
  // minimum already there cannot fall.
  const double floor = s.min_pvalues[static_cast<size_t>(counts.support)];
  bool changed = false;
  for (size_t w = 0; w < flags.size(); ++w)
    for (uint64_t bits = flags[w]; bits != 0; bits &= bits - 1) {
      const auto j = static_cast<int32_t>(w * 64) + std::countr_zero(bits);
      if (worker.minima[static_cast<size_t>(j)] <= floor) continue;
      const int32_t k = count_under(counts, rows.words, j);
      const double p = fisher_exact_pvalue_from(s.log_factorial, s.transactions, counts.support,
                                                s.positives, k, threshold);
      if (p <= threshold && p < worker.minima[static_cast<size_t>(j)]) {
        worker.minima[static_cast<size_t>(j)] = p;
        changed = true;
      }
    }
  if (changed) tighten_threshold(worker);
}

WestfallYoungLevel westfall_young_level(const WestfallYoungSetup& setup,
                                        const std::vector<const WestfallYoungWorker*>& workers,
                                        double level) {
  WestfallYoungLevel out;
  out.allowed = setup.allowed;
  out.permutations = setup.permutations;
  out.level = level;
  out.quantile = kInfinity;
  if (setup.allowed < 0) {
    out.level = 0.0;
    return out;
  }
  if (setup.allowed >= setup.permutations) return out;
  std::vector<double> minima(static_cast<size_t>(setup.permutations), kInfinity);
  for (const WestfallYoungWorker* worker : workers)
    for (size_t j = 0; j < minima.size(); ++j) minima[j] = std::min(minima[j], worker->minima[j]);
  const auto kth = minima.begin() + setup.allowed;
  std::nth_element(minima.begin(), kth, minima.end());
  out.quantile = *kth;
  if (std::isfinite(out.quantile)) out.level = std::nextafter(out.quantile, -kInfinity);
  return out;
}
