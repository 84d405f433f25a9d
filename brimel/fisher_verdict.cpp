// Fisher's exact test as the search needs it: fast verdicts and a floor
// under local p-values. All tables of the hypergeometric distribution rise
// towards the mode and fall beyond it, so a p-value is the observed table,
// its own tail, and the far tail beyond the point where the probabilities
// drop to the observed one's (times the tie tolerance) again.
#include "fisher_verdict.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <limits>

#include "stats/fisher.h"

namespace {

// Relative margin within which the estimate does not decide.
constexpr double kUnsure = 1e-8;
// Two tables whose log10 probabilities are this close may compare either way
// in the exact function's rounding.
constexpr double kTieLog = 1e-9;
// log10 of the tie tolerance: tables up to this far above the observed one in
// log10 probability are counted.
const double kLogTolerance = std::log10(kFisherTieTolerance);

// 10^x, to the few units in the last place the estimates here allow for:
// two to three times faster than std::pow.
double exp10_estimate(double x) { return std::exp(x * 2.302585092994045684); }

struct Table {
  int64_t n, r, c;
  // P(x + 1) / P(x)
  double up(int64_t x) const {
    return static_cast<double>((r - x) * (c - x)) /
           static_cast<double>((x + 1) * (n - r - c + x + 1));
  }
  // P(x - 1) / P(x)
  double down(int64_t x) const {
    return static_cast<double>(x * (n - r - c + x)) /
           static_cast<double>((r - x + 1) * (c - x + 1));
  }
};

// Sum of the terms after `start` (exclusive) going away from the mode, as
// multiples of P(start); stops once the rest cannot reach `negligible`, and
// sets `accepted` and stops once the sum and all the rest are surely below
// `accept_below`.
double tail_sum(const Table& t, int64_t start, int64_t end, int step, double negligible,
                double give_up, double accept_below, bool& accepted) {
  double sum = 0.0;
  double term = 1.0;
  for (int64_t x = start; x != end; x += step) {
    const double ratio = step > 0 ? t.up(x) : t.down(x);
    term *= ratio;
    sum += term;
    if (sum > give_up) return sum;
    // Ratios only fall further out, so a geometric series bounds the rest,
    // term * ratio / (1 - ratio); it is compared without dividing.
    if (ratio < 1.0) {
      const double next = term * ratio;
      const double room = 1.0 - ratio;
      if (next < negligible * room) break;
      if (next < (accept_below - sum) * room) {
        accepted = true;
        break;
      }
    }
  }
  return sum;
}

// An upper bound on the sum of the terms after `start` going away from the
// mode, as multiples of P(start): the geometric series of its first ratio.
double tail_bound(const Table& t, int64_t start, int64_t end, int step) {
  if (start == end) return 0.0;
  const double ratio = step > 0 ? t.up(start) : t.down(start);
  return ratio < 1.0 ? ratio / (1.0 - ratio) : std::numeric_limits<double>::infinity();
}

// The far tail: the tables on the other side of the mode from the observed
// one that are counted with it, those no more probable than `log_counted`
// (the observed table's log10 probability plus the tolerance's). It starts at
// the table nearest the mode that is counted, `first`, whose probability is
// `first_term` times the observed one; log probabilities are monotone there.
// `tie` when a table at its start lies so close to `log_counted` that the
// exact function may count it either way; not `present` when it starts so
// far below the observed table that it cannot matter.
struct FarTail {
  bool tie = false;
  bool present = false;
  int64_t first = 0;
  double first_term = 0.0;
};

template <class LogP>
FarTail find_far_tail(const LogP& log_p, double log_observed, double log_counted, int64_t mode,
                      int64_t far_end, int step, int64_t lo, int64_t hi) {
  FarTail tail;
  tail.first = far_end;
  int64_t near = mode, far = far_end;  // the start lies between them
  if (log_p(far) > log_counted + kTieLog) return tail;
  while (near != far) {
    const int64_t mid = step < 0 ? near + (far - near) / 2 : near - (near - far) / 2;
    if (log_p(mid) <= log_counted)
      far = mid;
    else
      near = mid - step;
  }
  const double log_first = log_p(far);
  const int64_t before = far + step;  // one step back towards the mode
  if (std::abs(log_first - log_counted) < kTieLog ||
      (before >= lo && before <= hi && std::abs(log_p(before) - log_counted) < kTieLog)) {
    tail.tie = true;
    return tail;
  }
  // A far tail that starts 1e-20 below the observed table cannot add up
  // to the margin the estimate keeps: there are fewer than 2^31 tables.
  if (log_first <= log_counted && log_first - log_observed > -20.0) {
    tail.present = true;
    tail.first = far;
    tail.first_term = exp10_estimate(log_first - log_observed);
  }
  return tail;
}

// An upper bound on the far tail's sum, as multiples of the observed
// table's probability (0 when it is not present); `step` goes away from the
// mode there.
double far_tail_bound(const Table& t, const FarTail& tail, int64_t far_end, int step) {
  return tail.present ? tail.first_term * (1.0 + tail_bound(t, tail.first, far_end, step)) : 0.0;
}

}  // namespace

// X must drop at least one of Y's other transactions, and p-values are never
// below the probability of their own table. The most extreme table X can
// have keeps just Y's k rule-class transactions when k >= min_sup, giving
// 1 / C(s, k); else all of them and min_sup - k others, giving
// C(s - k, min_sup - k) / C(s, min_sup).
double log10_local_pvalue_floor(const double* lf, int32_t s, int32_t k, int32_t min_sup) {
  if (k == 0 || k == s || s - 1 < min_sup) return std::numeric_limits<double>::infinity();
  if (k >= min_sup) return -log10_binomial(lf, s, k);
  return log10_binomial(lf, s - k, min_sup - k) - log10_binomial(lf, s, min_sup);
}

FisherBound make_fisher_bound(const double* log_factorial, double bound) {
  return FisherBound{log_factorial, bound, std::log10(bound)};
}

FisherGlance fisher_glance(const FisherBound& fisher, int32_t n, int32_t r, int32_t c, int32_t k) {
  const double* lf = fisher.log_factorial;
  FisherGlance glance;
  // The same sums in the same order as the exact function, so the observed
  // probability below is bit for bit the one it starts from.
  glance.margins = fisher_log10_margins(lf, n, r, c);
  glance.log_observed = fisher_log10_probability(lf, glance.margins, n, r, c, std::min({k, r, c}));
  if (glance.log_observed > fisher.log10_bound + kTieLog) {
    glance.verdict = Glanced::fails;
    return glance;
  }
  const int32_t lo = std::max(0, r + c - n);
  const int32_t hi = std::min(r, c);
  // Every table summed is at most as probable as the observed one, but for
  // the tolerance.
  const double log10_tables = hi == lo ? 0.0 : lf[hi - lo + 1] - lf[hi - lo];  // log10(hi - lo + 1)
  if (glance.log_observed + kLogTolerance + log10_tables < fisher.log10_bound - kTieLog)
    glance.verdict = Glanced::passes;
  return glance;
}

bool fisher_within(const FisherBound& fisher, int32_t n, int32_t r, int32_t c, int32_t k) {
  const FisherGlance glance = fisher_glance(fisher, n, r, c, k);
  if (glance.verdict != Glanced::unsure) return glance.verdict == Glanced::passes;
  return fisher_within_unsure(fisher, n, r, c, k, glance);
}

bool fisher_within_unsure(const FisherBound& fisher, int32_t n, int32_t r, int32_t c, int32_t k,
                          const FisherGlance& glance) {
  const double* lf = fisher.log_factorial;
  const double margins = glance.margins;
  auto log_p = [&](int64_t x) { return fisher_log10_probability(lf, margins, n, r, c, x); };
  const int32_t kc = std::min({k, r, c});
  const double log_observed = glance.log_observed;

  auto exact = [&] {
    return fisher_exact_pvalue_from(lf, n, r, c, k, fisher.bound) <= fisher.bound;
  };
  const Table t{n, r, c};
  const int64_t lo = std::max(0, r + c - n);
  const int64_t hi = std::min(r, c);
  // Sums near the smallest doubles lose their relative precision.
  if (fisher.log10_bound < -290.0) return exact();
  const int64_t mode = fisher_mode(n, r, c);
  // At the mode every other table counts but a second mode, whose
  // probability is at most one half.
  if (kc == mode) return fisher.bound < 0.49 ? false : exact();

  const double observed = exp10_estimate(log_observed);
  const double give_up = fisher.bound * (1.0 + kUnsure) / observed;  // in multiples of observed
  // Below this the p-value surely passes, in multiples of observed.
  const double accept = fisher.bound * (1.0 - kUnsure) / observed;
  const double negligible = fisher.bound * 1e-11 / observed;
  const int step = kc < mode ? -1 : 1;
  const int64_t own_end = step < 0 ? lo : hi;
  // A neighbour about as probable as the observed table, on either side, may
  // or may not be counted by the exact function: on the far side the walk
  // would then reach the observed table before the mode.
  if (kc != own_end && (step < 0 ? t.down(kc) : t.up(kc)) > 1.0 - kTieLog) return exact();
  if ((step < 0 ? t.up(kc) : t.down(kc)) < kFisherTieTolerance + kTieLog) return exact();

  // When the geometric bound of its own tail cannot settle the table, that
  // tail is summed first: most such tables fail on it alone, and then the
  // far tail, which takes a search to find, is never looked for.
  const double own_bound = tail_bound(t, kc, own_end, step);
  const bool own_first = 1.0 + own_bound >= accept;
  bool accepted = false;
  double sum = 0.0;
  if (own_first) {
    const double never = -std::numeric_limits<double>::infinity();
    sum = 1.0 + tail_sum(t, kc, own_end, step, negligible, give_up, never, accepted);
    if (sum > give_up) return false;
  }

  const int64_t far_end = step < 0 ? hi : lo;
  const FarTail far_tail =
      find_far_tail(log_p, log_observed, log_observed + kLogTolerance, mode, far_end, step, lo, hi);
  if (far_tail.tie) return exact();
  const double far_first_term = far_tail.first_term;
  const double far_bound = far_tail_bound(t, far_tail, far_end, -step);
  if (!own_first) {
    // Most tables are settled by the geometric bounds of both tails alone.
    if (1.0 + own_bound + far_bound < accept) return true;
    sum = 1.0 +
          tail_sum(t, kc, own_end, step, negligible, give_up, accept - 1.0 - far_bound, accepted);
    if (accepted) return true;
    if (sum > give_up) return false;
  }
  if (far_tail.present) {
    const double far_sum =
        1.0 + tail_sum(t, far_tail.first, far_end, -step, negligible / far_first_term,
                       (give_up - sum) / far_first_term, (accept - sum) / far_first_term - 1.0,
                       accepted);
    if (accepted) return true;
    sum += far_first_term * far_sum;
  }
  const double pvalue = sum * observed;
  if (pvalue > fisher.bound * (1.0 + kUnsure)) return false;
  if (pvalue < fisher.bound * (1.0 - kUnsure)) return true;
  return exact();
}

namespace {

// The last point, going from `yes` towards `no`, at which `pass` holds: it
// holds from `yes` to there and fails from there to `no` (neither end is
// tested). The search gallops out from `guess` first when that lies between,
// so a good guess costs a few tests, not a full bisection.
template <class Pass>
int64_t last_passing(int64_t yes, int64_t no, int64_t guess, const Pass& pass) {
  const int64_t dir = no > yes ? 1 : -1;
  auto between = [&](int64_t x) { return (x - yes) * dir > 0 && (no - x) * dir > 0; };
  if (between(guess)) {
    if (pass(guess)) {
      yes = guess;
      for (int64_t step = 1; between(yes + dir * step); step *= 2) {
        if (!pass(yes + dir * step)) {
          no = yes + dir * step;
          break;
        }
        yes += dir * step;
      }
    } else {
      no = guess;
      for (int64_t step = 1; between(no - dir * step); step *= 2) {
        if (pass(no - dir * step)) {
          yes = no - dir * step;
          break;
        }
        no -= dir * step;
      }
    }
  }
  while ((no - yes) * dir > 1) {
    const int64_t mid = yes + (no - yes) / 2;
    (pass(mid) ? yes : no) = mid;
  }
  return yes;
}

// How far the search for a row margin's tails looks for a neighbour's.
constexpr int32_t kNeighbourReach = 1024;

// The last k of the lower tail and the first of the upper tail that pass,
// packed as the cache keeps them. Tails move by about c / n per unit of r,
// so a row margin near one already settled gives a close guess.
uint64_t find_tails(FisherVerdictCache& cache, int32_t r) {
  const int32_t n = cache.n, c = cache.c;
  auto pass = [&](int64_t k) {
    return fisher_within(cache.fisher, n, r, c, static_cast<int32_t>(k));
  };
  const int64_t lo = std::max(0, r + c - n);
  const int64_t hi = std::min(r, c);
  const int64_t mode = fisher_mode(n, r, c);
  auto known = [&](int32_t x) { return x >= 0 && x <= n ? load_tails(cache, x) : kUnknownTails; };
  int64_t guess_below = lo - 1, guess_above = hi + 1;  // none
  for (int32_t d = 1; d <= kNeighbourReach; ++d) {
    int32_t near = r - d;
    uint64_t tails = known(near);
    if (tails == kUnknownTails) tails = known(near = r + d);
    if (tails == kUnknownTails) continue;
    const int64_t shift = std::llround(static_cast<double>(r - near) * c / n);
    guess_below = static_cast<int32_t>(tails >> 32) + shift;
    guess_above = static_cast<int32_t>(tails) + shift;
    break;
  }
  // The mode itself never passes a bound below one half.
  const auto below =
      static_cast<uint32_t>(last_passing(lo - 1, std::max(mode, lo), guess_below, pass));
  const auto above =
      static_cast<uint32_t>(last_passing(hi + 1, std::min(mode, hi), guess_above, pass));
  const uint64_t tails = uint64_t{below} << 32 | above;
  std::atomic_ref<uint64_t>(cache.tails[static_cast<size_t>(r)])
      .store(tails, std::memory_order_relaxed);
  return tails;
}

}  // namespace

FisherVerdictCache make_fisher_verdict_cache(const FisherBound& fisher, int32_t n, int32_t c) {
  FisherVerdictCache cache;
  cache.fisher = fisher;
  cache.n = n;
  cache.c = c;
  // Near a bound of one half or above, tables around the mode pass too and
  // rounding of p-values close to 1 breaks the order.
  cache.by_tails = fisher.bound < 0.49;
  if (cache.by_tails) {
    cache.tails.assign(static_cast<size_t>(n) + 1, kUnknownTails);
    cache.asked.assign(static_cast<size_t>(n) + 1, 0);
  }
  return cache;
}

// Verdicts on one row margin before its tails are looked for.
constexpr uint8_t kVerdictsBeforeTails = 32;

bool uncached_fisher_within(FisherVerdictCache& cache, int32_t r, int32_t k) {
  // Finding the tails takes a few dozen verdicts, all near the bound where
  // they cost most, so a row margin gets them only once it has been asked
  // about a few times; most verdicts are settled by the first bounds.
  if (!cache.by_tails) return fisher_within(cache.fisher, cache.n, r, cache.c, k);
  std::atomic_ref<uint8_t> asked(cache.asked[static_cast<size_t>(r)]);
  const auto count = static_cast<uint8_t>(asked.load(std::memory_order_relaxed) + 1);
  if (count < kVerdictsBeforeTails) {
    asked.store(count, std::memory_order_relaxed);
    return fisher_within(cache.fisher, cache.n, r, cache.c, k);
  }
  return in_tails(find_tails(cache, r), k);
}
