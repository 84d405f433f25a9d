// Numbers as text and equal-frequency bins.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "number_text.h"
#include "numeric_bins.h"

TEST(NumberText, ReadsOnlyWholeFiniteNumbers) {
  double value = 0;
  EXPECT_TRUE(parse_number(" +2.5e1 ", value));
  EXPECT_EQ(value, 25.0);
  EXPECT_TRUE(parse_number("-0.125", value));
  EXPECT_EQ(value, -0.125);
  for (const char* bad :
       {"", " ", "1x", "x1", "1e999", "inf", "nan", "0x10", "+-1", "1,5", "--1"}) {
    EXPECT_FALSE(parse_number(bad, value)) << bad;
  }
}

TEST(NumberText, FormatsShortestAndCutsNearTheMidpoint) {
  EXPECT_EQ(format_number(38.5), "38.5");
  EXPECT_EQ(format_number(-0.0), "0");
  EXPECT_EQ(format_number(0.1), "0.1");
  EXPECT_EQ(cut_between(38, 39), 38.5);
  EXPECT_EQ(cut_between(48, 50), 49);
  EXPECT_EQ(cut_between(25, 38), 32);
  EXPECT_EQ(format_number(cut_between(0.1, 0.2)), "0.15");
  // Neighbouring doubles leave nothing between them: the cut is the upper.
  const double low = 1.0;
  const double high = std::nextafter(low, 2.0);
  EXPECT_EQ(cut_between(low, high), high);
  const double max = std::numeric_limits<double>::max();
  const double cut = cut_between(-max, max);
  EXPECT_TRUE(-max < cut && cut < max);
}

TEST(NumericBins, EqualShareBinsKeepEqualValuesTogether) {
  const NumericBins bins = choose_bins({1, 2, 3, 4, 5, 6, 7, 8}, 4);
  EXPECT_EQ(bins.labels,
            (std::vector<std::string>{"[1..2.5)", "[2.5..4.5)", "[4.5..6.5)", "[6.5..8]"}));
  EXPECT_EQ(find_bin(bins, 2), 0u);
  EXPECT_EQ(find_bin(bins, 3), 1u);
  EXPECT_EQ(find_bin(bins, 8), 3u);

  // Eight 1s fill the first two shares: they stay one bin, and the second
  // share adds no cut of its own.
  const NumericBins ties = choose_bins({1, 1, 1, 1, 1, 1, 1, 1, 2, 3, 4, 5, 6}, 4);
  EXPECT_EQ(ties.labels, (std::vector<std::string>{"[1..1.5)", "[1.5..3.5)", "[3.5..6]"}));
  EXPECT_EQ(find_bin(ties, 1), 0u);
  EXPECT_EQ(find_bin(ties, 3), 1u);
  EXPECT_EQ(find_bin(ties, 4), 2u);
}

TEST(NumericBins, FewDistinctValuesKeepOneBinPerValue) {
  const NumericBins bins = choose_bins({3, 1, 3, 0.5, 1}, 4);
  EXPECT_EQ(bins.labels, (std::vector<std::string>{"0.5", "1", "3"}));
  EXPECT_EQ(find_bin(bins, 0.5), 0u);
  EXPECT_EQ(find_bin(bins, 3), 2u);
  EXPECT_TRUE(choose_bins({}, 4).labels.empty());
}
