// Fisher's exact test against exact rational arithmetic: every table
// probability is an integer ratio C(r,x) C(N-r,c-x) / C(N,c), summed with a
// small big-integer type, so the reference shares no rounding with the code.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "stats/fisher.h"

namespace {

// Non-negative big integer, 32-bit limbs, least significant first.
struct BigInt {
  std::vector<uint32_t> limbs;
};

BigInt big_one() { return BigInt{{1}}; }

void multiply_small(BigInt& a, uint32_t factor) {
  uint64_t carry = 0;
  for (uint32_t& limb : a.limbs) {
    const uint64_t product = uint64_t{limb} * factor + carry;
    limb = static_cast<uint32_t>(product);
    carry = product >> 32;
  }
  if (carry != 0) a.limbs.push_back(static_cast<uint32_t>(carry));
  if (factor == 0) a.limbs.clear();
}

// Exact division: the callers only divide where the quotient is an integer.
void divide_small(BigInt& a, uint32_t divisor) {
  uint64_t rest = 0;
  for (size_t i = a.limbs.size(); i-- > 0;) {
    const uint64_t current = (rest << 32) | a.limbs[i];
    a.limbs[i] = static_cast<uint32_t>(current / divisor);
    rest = current % divisor;
  }
  while (!a.limbs.empty() && a.limbs.back() == 0) a.limbs.pop_back();
  EXPECT_EQ(rest, 0u);
}

void add(BigInt& a, const BigInt& b) {
  if (a.limbs.size() < b.limbs.size()) a.limbs.resize(b.limbs.size(), 0);
  uint64_t carry = 0;
  for (size_t i = 0; i < a.limbs.size(); ++i) {
    const uint64_t sum = uint64_t{a.limbs[i]} + (i < b.limbs.size() ? b.limbs[i] : 0) + carry;
    a.limbs[i] = static_cast<uint32_t>(sum);
    carry = sum >> 32;
  }
  if (carry != 0) a.limbs.push_back(static_cast<uint32_t>(carry));
}

BigInt multiply(const BigInt& a, const BigInt& b) {
  std::vector<uint64_t> wide(a.limbs.size() + b.limbs.size() + 1, 0);
  for (size_t i = 0; i < a.limbs.size(); ++i) {
    uint64_t carry = 0;
    for (size_t j = 0; j < b.limbs.size(); ++j) {
      const uint64_t t = wide[i + j] + uint64_t{a.limbs[i]} * b.limbs[j] + carry;
      wide[i + j] = t & 0xffffffffu;
      carry = t >> 32;
    }
    wide[i + b.limbs.size()] += carry;
  }
  BigInt product;
  for (uint64_t w : wide) product.limbs.push_back(static_cast<uint32_t>(w));
  while (!product.limbs.empty() && product.limbs.back() == 0) product.limbs.pop_back();
  return product;
}

int compare(const BigInt& a, const BigInt& b) {
  if (a.limbs.size() != b.limbs.size()) return a.limbs.size() < b.limbs.size() ? -1 : 1;
  for (size_t i = a.limbs.size(); i-- > 0;)
    if (a.limbs[i] != b.limbs[i]) return a.limbs[i] < b.limbs[i] ? -1 : 1;
  return 0;
}

// The top 96 bits as a mantissa with the binary exponent of the rest:
// plenty for a ratio checked to 1e-12.
long double top_bits(const BigInt& a, int& exponent) {
  const size_t n = a.limbs.size();
  long double top = 0;
  const size_t first = n >= 3 ? n - 3 : 0;
  for (size_t i = n; i-- > first;) top = top * 4294967296.0L + a.limbs[i];
  exponent = static_cast<int>(32 * first);
  return top;
}

long double ratio(const BigInt& a, const BigInt& b) {
  int ea = 0;
  int eb = 0;
  const long double ma = top_bits(a, ea);
  const long double mb = top_bits(b, eb);
  return std::ldexp(ma / mb, ea - eb);
}

BigInt binomial(uint32_t n, uint32_t k) {
  BigInt result = big_one();
  for (uint32_t i = 0; i < k; ++i) {
    multiply_small(result, n - i);
    divide_small(result, i + 1);
  }
  return result;
}

// The exact two-sided p-value by the probability criterion with the
// standard tolerance: every table whose probability is at most the observed
// one's times 1 + 1e-7, compared in integers. Tables whose ratio to the
// observed one lies within a relative 1e-9 of that bound are kept apart in
// `near_ties`: the double computation may rank them either way.
struct ExactPValue {
  long double certain = 0;             // the observed table and every table clearly counted
  std::vector<long double> near_ties;  // probabilities the code may or may not add
};

ExactPValue exact_pvalue(int n, int r, int c, int k) {
  const int lo = std::max(0, r + c - n);
  const int hi = std::min(r, c);
  std::vector<BigInt> terms;  // C(r,x) C(n-r,c-x), x = lo..hi
  terms.push_back(multiply(binomial(r, lo), binomial(n - r, c - lo)));
  for (int x = lo; x < hi; ++x) {
    BigInt next = terms.back();
    multiply_small(next, static_cast<uint32_t>(r - x) * static_cast<uint32_t>(c - x));
    divide_small(next, static_cast<uint32_t>(x + 1) * static_cast<uint32_t>(n - r - c + x + 1));
    terms.push_back(next);
  }
  BigInt all;  // equals C(n, c)
  for (const BigInt& t : terms) add(all, t);

  const BigInt& observed = terms[k - lo];
  // t <= observed (1 + 1e-7) exactly: t * 10^7 <= observed * (10^7 + 1).
  BigInt counted_up_to = observed;
  multiply_small(counted_up_to, 10000001u);
  BigInt certain;
  ExactPValue result;
  for (int x = lo; x <= hi; ++x) {
    const BigInt& t = terms[x - lo];
    BigInt scaled = t;
    multiply_small(scaled, 10000000u);
    const long double to_bound = ratio(scaled, counted_up_to);
    if (x != k && std::fabs(to_bound - 1.0L) <= 1e-9L) {
      result.near_ties.push_back(ratio(t, all));
    } else if (compare(scaled, counted_up_to) <= 0) {
      add(certain, t);
    }
  }
  result.certain = ratio(certain, all);
  return result;
}

// True when `computed` matches the certain sum plus some choice of the near
// ties, to `tolerance` relative.
bool agrees(double computed, const ExactPValue& exact, double tolerance) {
  const size_t choices = size_t{1} << exact.near_ties.size();
  for (size_t mask = 0; mask < choices; ++mask) {
    long double sum = exact.certain;
    for (size_t i = 0; i < exact.near_ties.size(); ++i)
      if ((mask >> i) & 1) sum += exact.near_ties[i];
    if (std::fabs(computed - sum) <= tolerance * sum) return true;
  }
  return false;
}

struct Table {
  int n, r, c, k;
};

Table random_table(std::mt19937& random, int max_instances) {
  Table t;
  t.n = static_cast<int>(random() % (max_instances + 1));
  t.r = static_cast<int>(random() % (t.n + 1));
  t.c = static_cast<int>(random() % (t.n + 1));
  const int lo = std::max(0, t.r + t.c - t.n);
  const int hi = std::min(t.r, t.c);
  // k up to eight standard deviations from the mean: p-values from 1 down to
  // about 1e-15 on both sides, where the early stops matter, and never so
  // small that they vanish below the smallest double.
  const double mean = t.n == 0 ? 0 : double(t.r) * t.c / t.n;
  const double variance = t.n < 2 ? 0 : mean * (t.n - t.r) / t.n * (t.n - t.c) / (t.n - 1);
  const double z = std::uniform_real_distribution<double>(-8, 8)(random);
  t.k = std::clamp(static_cast<int>(std::lround(mean + z * std::sqrt(variance))), lo, hi);
  return t;
}

// Each probability is 10^(A - D) with A and D sums of entries near
// log10(N!), so its relative error grows with ln(10) * eps * log10(N!); the
// running sum of the table adds to it. The factor 32 is three times the worst
// seen on many thousand tables up to N = 5000.
double rounding_tolerance(const LogFactorialTable& table, int n) {
  return std::max(1e-12, 32 * std::log(10.0) * std::numeric_limits<double>::epsilon() * table[n]);
}

double pvalue_of(const LogFactorialTable& table, const Table& t) {
  return fisher_exact_pvalue_from(table.data(), t.n, t.r, t.c, t.k);
}

TEST(FisherExactTest, AgreesWithExactArithmeticToTwelveDigitsOnSmallTables) {
  // Up to some hundred instances the log-factorial sums keep twelve digits.
  std::mt19937 random(20261207);
  const LogFactorialTable table = build_log_factorial_table(150);
  for (int i = 0; i < 300; ++i) {
    const Table t = random_table(random, 150);
    const double computed = pvalue_of(table, t);
    EXPECT_TRUE(agrees(computed, exact_pvalue(t.n, t.r, t.c, t.k), 1e-12))
        << "N=" << t.n << " r=" << t.r << " c=" << t.c << " k=" << t.k << " p=" << computed;
  }
}

TEST(FisherExactTest, AgreesWithExactArithmeticWithinTheLogTablesRoundingUpTo5000) {
  std::mt19937 random(5000);
  const LogFactorialTable table = build_log_factorial_table(5000);
  for (int i = 0; i < 300; ++i) {
    const Table t = random_table(random, 5000);
    const double computed = pvalue_of(table, t);
    EXPECT_TRUE(agrees(computed, exact_pvalue(t.n, t.r, t.c, t.k), rounding_tolerance(table, t.n)))
        << "N=" << t.n << " r=" << t.r << " c=" << t.c << " k=" << t.k << " p=" << computed;
  }
}

TEST(FisherExactTest, WorkedValues) {
  const LogFactorialTable table = build_log_factorial_table(10);
  // x = 0, 1, 2 have probabilities 1/6, 4/6, 1/6: both extremes count.
  EXPECT_NEAR(fisher_exact_pvalue_from(table.data(), 4, 2, 2, 2), 1.0 / 3, 1e-15);
  EXPECT_NEAR(fisher_exact_pvalue_from(table.data(), 4, 2, 2, 0), 1.0 / 3, 1e-15);
  EXPECT_NEAR(fisher_exact_pvalue_from(table.data(), 10, 5, 5, 5), 1.0 / 126, 1e-17);
  EXPECT_NEAR(fisher_exact_pvalue_from(table.data(), 10, 5, 5, 0), 1.0 / 126, 1e-17);
}

TEST(FisherExactTest, SymmetricTablesSumBothExtremesExactlyAlike) {
  for (int half = 1; half <= 300; half += 13) {
    const LogFactorialTable table = build_log_factorial_table(2 * half);
    const double low = fisher_exact_pvalue_from(table.data(), 2 * half, half, half, 0);
    const double high = fisher_exact_pvalue_from(table.data(), 2 * half, half, half, half);
    EXPECT_EQ(low, high) << half;
    // Twice the one-sided tail, which is the single extreme table 1 / C(2h, h).
    EXPECT_TRUE(
        agrees(high, exact_pvalue(2 * half, half, half, half), rounding_tolerance(table, 2 * half)))
        << half;
  }
}

// Tables that tie in exact arithmetic (class count or support half the
// records) have their log terms summed in other orders, and their computed
// probabilities may differ by an ulp: each must count with the other.
TEST(FisherExactTest, EquallyProbableTablesBothCount) {
  const LogFactorialTable table = build_log_factorial_table(160);
  // 34 records, 17 in the class, an item on 7 of them, all in the class: the
  // table with none of them in the class is as probable. Without the
  // tolerance the sum left it out: 0.0036151279199110129.
  for (const int k : {7, 0}) {
    const double p = fisher_exact_pvalue_from(table.data(), 34, 7, 17, k);
    EXPECT_NEAR(p, 0.0072302558398220, 1e-12 * p) << k;
    EXPECT_TRUE(agrees(p, exact_pvalue(34, 7, 17, k), 1e-12)) << k;
  }
  // A test half of 40 records, 20 in the class, 19 covered, 13 of them in
  // the class: 0.0562, not 0.0333, and not kept at 0.05.
  const double holdout = fisher_exact_pvalue_from(table.data(), 40, 19, 20, 13);
  EXPECT_NEAR(holdout, 0.05616092643224239, 1e-12 * holdout);
  EXPECT_GT(holdout, 0.05);
  // Every table whose class count or support is half the records.
  for (const int n : {2, 10, 34, 40, 64, 100, 150}) {
    for (int other = 0; other <= n; ++other) {
      for (const Table margins : {Table{n, other, n / 2, 0}, Table{n, n / 2, other, 0}}) {
        for (int k = std::max(0, margins.r + margins.c - n); k <= std::min(margins.r, margins.c);
             ++k) {
          const Table t{n, margins.r, margins.c, k};
          ASSERT_TRUE(agrees(pvalue_of(table, t), exact_pvalue(n, t.r, t.c, k), 1e-12))
              << "N=" << n << " r=" << t.r << " c=" << t.c << " k=" << k
              << " p=" << pvalue_of(table, t);
        }
      }
    }
  }
}

TEST(FisherExactTest, NoCoverageOrNoClassGivesOne) {
  const LogFactorialTable table = build_log_factorial_table(100);
  EXPECT_DOUBLE_EQ(fisher_exact_pvalue_from(table.data(), 100, 0, 40, 0), 1.0);
  EXPECT_DOUBLE_EQ(fisher_exact_pvalue_from(table.data(), 100, 40, 0, 0), 1.0);
  EXPECT_DOUBLE_EQ(fisher_exact_pvalue_from(table.data(), 0, 0, 0, 0), 1.0);
  EXPECT_DOUBLE_EQ(fisher_exact_pvalue_from(table.data(), 100, 100, 40, 40), 1.0);
}

TEST(FisherExactTest, ObservedCellAtEitherExtreme) {
  const LogFactorialTable table = build_log_factorial_table(60);
  // k at the lower extreme lo = r + c - N and at the upper extreme min(r, c).
  for (const Table t : {Table{60, 40, 35, 15}, Table{60, 40, 35, 35}, Table{60, 10, 20, 0},
                        Table{60, 10, 20, 10}, Table{60, 59, 1, 0}, Table{60, 59, 1, 1}}) {
    EXPECT_TRUE(agrees(pvalue_of(table, t), exact_pvalue(t.n, t.r, t.c, t.k), 1e-12))
        << "r=" << t.r << " c=" << t.c << " k=" << t.k;
  }
}

TEST(FisherExactTest, CoveredAboveCoverageOrClassIsClamped) {
  const LogFactorialTable table = build_log_factorial_table(30);
  EXPECT_EQ(fisher_exact_pvalue_from(table.data(), 30, 8, 12, 50),
            fisher_exact_pvalue_from(table.data(), 30, 8, 12, 8));
  EXPECT_EQ(fisher_exact_pvalue_from(table.data(), 30, 12, 8, 9),
            fisher_exact_pvalue_from(table.data(), 30, 12, 8, 8));
}

TEST(FisherExactTest, SwappingCoverageAndClassAgreesUpToRounding) {
  std::mt19937 random(3);
  const LogFactorialTable table = build_log_factorial_table(400);
  for (int i = 0; i < 200; ++i) {
    const Table t = random_table(random, 400);
    const double p = pvalue_of(table, t);
    const double swapped = fisher_exact_pvalue_from(table.data(), t.n, t.c, t.r, t.k);
    const double tolerance = rounding_tolerance(table, t.n);
    EXPECT_TRUE(agrees(swapped, exact_pvalue(t.n, t.r, t.c, t.k), tolerance));
    EXPECT_NEAR(p, swapped, 2 * tolerance * p);
  }
}

TEST(FisherExactTest, StopBoundOnlyCutsSumsAboveIt) {
  std::mt19937 random(11);
  const LogFactorialTable table = build_log_factorial_table(1000);
  for (int i = 0; i < 300; ++i) {
    const Table t = random_table(random, 1000);
    const double full = pvalue_of(table, t);
    const double bound = std::ldexp(1.0, -static_cast<int>(random() % 40));
    const double stopped = fisher_exact_pvalue_from(table.data(), t.n, t.r, t.c, t.k, bound);
    if (full <= bound) {
      EXPECT_EQ(stopped, full);
    } else {
      EXPECT_GT(stopped, bound);
    }
  }
}

// The walk over every table, extremes included, in the summation order the
// header fixes.
double every_table_pvalue(const LogFactorialTable& table, const Table& t) {
  const double* lf = table.data();
  const double margins = fisher_log10_margins(lf, t.n, t.r, t.c);
  auto probability = [&](int x) {
    return std::pow(10.0, fisher_log10_probability(lf, margins, t.n, t.r, t.c, x));
  };
  const int kc = std::min({t.k, t.r, t.c});
  const double observed = probability(kc);
  const double counted_up_to = observed * kFisherTieTolerance;
  double sum = observed;
  for (int x = std::max(0, t.r + t.c - t.n); x < kc && probability(x) <= counted_up_to; ++x)
    sum += probability(x);
  for (int x = std::min(t.r, t.c); x > kc && probability(x) <= counted_up_to; --x)
    sum += probability(x);
  return sum;
}

TEST(FisherExactTest, TablesTooImprobableToCountAreSkippedWithoutChangingABit) {
  std::mt19937 random(2012);
  const LogFactorialTable table = build_log_factorial_table(200000);
  for (int i = 0; i < 400; ++i) {
    // Large tables, and the observed cell anywhere, extremes included.
    Table t{1 + static_cast<int>(random() % 200000), 0, 0, 0};
    t.r = static_cast<int>(random() % (t.n + 1));
    t.c = static_cast<int>(random() % (t.n + 1));
    const int lo = std::max(0, t.r + t.c - t.n);
    t.k = lo + static_cast<int>(random() % (std::min(t.r, t.c) - lo + 1));
    if (i % 4 == 0)
      t.k = static_cast<int>(fisher_mode(t.n, t.r, t.c)) + static_cast<int>(random() % 200) - 100;
    t.k = std::clamp(t.k, lo, std::min(t.r, t.c));
    EXPECT_EQ(pvalue_of(table, t), every_table_pvalue(table, t))
        << "N=" << t.n << " r=" << t.r << " c=" << t.c << " k=" << t.k;
  }
}

}  // namespace

TEST(LogFactorialTable, RunningSumOfLogs) {
  EXPECT_EQ(build_log_factorial_table(0), LogFactorialTable{0.0});
  EXPECT_EQ(build_log_factorial_table(1), (LogFactorialTable{0.0, 0.0}));
  const LogFactorialTable table = build_log_factorial_table(5);
  ASSERT_EQ(table.size(), 6u);
  EXPECT_EQ(table[2], std::log10(2.0));
  EXPECT_EQ(table[3], std::log10(2.0) + std::log10(3.0));
  EXPECT_NEAR(table[5], std::log10(120.0), 1e-12);
  EXPECT_EQ(build_log_factorial_table(-3), LogFactorialTable{0.0});
}
