// The stratified split: stratum sizes, part sizes, every line once, one-lines
// first, line-end handling and fresh randomness on every run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

#include "driver/split.h"
#include "support/scratch_dir.h"

namespace {

constexpr uint64_t kPinnedSeed = 20261207;
const std::string kPinnedMiningPart = "1,0\n1,2\n1,6\n0,8\n0,9\n0,11\n";

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string split_and_capture(const std::string& data) {
  write_file("d.data", data);
  testing::internal::CaptureStdout();
  split_dataset("d", fresh_split_seed());
  return testing::internal::GetCapturedStdout();
}

// True when every line beginning with '1' comes before every other line.
bool one_lines_first(const std::vector<std::string>& lines) {
  return std::is_partitioned(lines.begin(), lines.end(),
                             [](const std::string& line) { return line[0] == '1'; });
}

}  // namespace

TEST(ChoosePart0Members, SetsExactlyTheTargetWithinTheStratum) {
  SplitGenerator generator{12345};
  for (const int size : {0, 1, 2, 3, 7, 100, 32768, 40000, 100001}) {
    const std::vector<bool> chosen = choose_part0_members(size, size / 2, generator);
    ASSERT_EQ(chosen.size(), static_cast<size_t>(size));
    EXPECT_EQ(std::count(chosen.begin(), chosen.end(), true), size / 2) << size;
  }
}

TEST(ChoosePart0Members, GeneratorCoversItsWholeRange) {
  SplitGenerator generator{7};
  int lowest = 32767;
  int highest = 0;
  for (int i = 0; i < 200000; ++i) {
    const int value = next_split_value(generator);
    lowest = std::min(lowest, value);
    highest = std::max(highest, value);
  }
  EXPECT_EQ(lowest, 0);
  EXPECT_EQ(highest, 32767);
}

// Over 2,000 seeds, each member of a small stratum is chosen target / size
// of the time; the bounds are four binomial standard deviations, and the
// seeds are fixed. A draw that could never reach a position, say the last,
// would show as a count near 0 there.
TEST(ChoosePart0Members, EveryMemberOfASmallStratumIsChosenAsOftenAsAnyOther) {
  constexpr int kSeeds = 2000;
  for (const int size : {2, 5, 8, 9}) {
    const int target = size / 2;
    std::vector<int> chosen_count(static_cast<size_t>(size), 0);
    for (int seed = 1; seed <= kSeeds; ++seed) {
      SplitGenerator generator{static_cast<uint64_t>(seed)};
      const std::vector<bool> chosen = choose_part0_members(size, target, generator);
      for (int i = 0; i < size; ++i) chosen_count[static_cast<size_t>(i)] += chosen[i];
    }
    const double p = static_cast<double>(target) / size;
    const double mean = kSeeds * p;
    const double spread = 4 * std::sqrt(kSeeds * p * (1 - p));
    for (int i = 0; i < size; ++i)
      EXPECT_NEAR(chosen_count[static_cast<size_t>(i)], mean, spread)
          << "member " << i << " of a stratum of " << size;
  }
}

// Per share, each stratum's mining part: share x size to the nearest whole
// number, a half down; 0.5 gives floor(size / 2) for odd and even sizes.
TEST(MiningPartSize, ShareTimesSizeRoundedAHalfDown) {
  struct Case {
    int size;
    double share;
    int expected;
  };
  for (const Case& c :
       {Case{0, 0.3, 0}, Case{1, 0.5, 0}, Case{2, 0.5, 1}, Case{7, 0.5, 3}, Case{8, 0.5, 4},
        Case{100001, 0.5, 50000}, Case{10, 0.3, 3}, Case{11, 0.3, 3}, Case{5, 0.3, 1},
        Case{5, 0.7, 3}, Case{7, 0.7, 5}, Case{4, 0.125, 0}, Case{12, 0.125, 1}, Case{20, 0.125, 2},
        Case{3, 0.999, 3}, Case{3, 0.001, 0}, Case{1000, 0.9, 900}})
    EXPECT_EQ(mining_part_size(c.size, c.share), c.expected) << c.size << " x " << c.share;
  for (int size = 0; size < 1000; ++size) EXPECT_EQ(mining_part_size(size, 0.5), size / 2);
}

// At another share each member of a small stratum is chosen target / size
// of the time too, over 2,000 fixed seeds.
TEST(ChoosePart0Members, AtAnyShareEveryMemberIsChosenAsOftenAsAnyOther) {
  constexpr int kSeeds = 2000;
  for (const double share : {0.3, 0.8}) {
    for (const int size : {4, 7, 10}) {
      const int target = mining_part_size(size, share);
      std::vector<int> chosen_count(static_cast<size_t>(size), 0);
      for (int seed = 1; seed <= kSeeds; ++seed) {
        SplitGenerator generator{static_cast<uint64_t>(seed)};
        const std::vector<bool> chosen = choose_part0_members(size, target, generator);
        EXPECT_EQ(std::count(chosen.begin(), chosen.end(), true), target);
        for (int i = 0; i < size; ++i) chosen_count[static_cast<size_t>(i)] += chosen[i];
      }
      const double p = static_cast<double>(target) / size;
      const double spread = 4 * std::sqrt(kSeeds * p * (1 - p));
      for (int i = 0; i < size; ++i)
        EXPECT_NEAR(chosen_count[static_cast<size_t>(i)], kSeeds * p, spread)
            << "member " << i << " of a stratum of " << size << " at share " << share;
    }
  }
}

// One seed's split, pinned: the mining part's lines of a data set of two
// strata. The generator's output is fixed by the standard, so this holds on
// every machine; it changes when the draws or their mapping to positions do.
TEST(SplitDataset, FixedSeedGivesThePinnedMiningPart) {
  ScratchDir dir;
  std::string data;
  for (int i = 0; i < 13; ++i) data += (i < 7 ? "1," : "0,") + std::to_string(i) + "\n";
  write_file("d.data", data);
  testing::internal::CaptureStdout();
  split_dataset("d", kPinnedSeed);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "13\n7 6\n");
  EXPECT_EQ(read_file("d_part_0.data"), kPinnedMiningPart);
  // The default share, given: the same bytes.
  testing::internal::CaptureStdout();
  split_dataset("d", kPinnedSeed, 0.5);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(read_file("d_part_0.data"), kPinnedMiningPart);
  // Another share: 0.3 of 7 and of 6 is 2 each.
  testing::internal::CaptureStdout();
  const SplitCounts counts = split_dataset("d", kPinnedSeed, 0.3);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(counts.mining_part, 4);
  EXPECT_EQ(counts.test_part, 9);
  EXPECT_EQ(lines_of(read_file("d_part_0.data")).size(), 4u);
}

TEST(SplitDataset, SmallExampleGivesStrataAndParts) {
  ScratchDir dir;
  const std::string out = split_and_capture("1,a\n0,b\n1,c\n1,d\nx\n");
  EXPECT_EQ(out, "5\n3 2\n");
  const auto part0 = lines_of(read_file("d_part_0.data"));
  const auto part1 = lines_of(read_file("d_part_1.data"));
  ASSERT_EQ(part0.size(), 2u);
  ASSERT_EQ(part1.size(), 3u);
  EXPECT_EQ(part0[0][0], '1');
  EXPECT_NE(part0[1][0], '1');
  EXPECT_TRUE(one_lines_first(part1));
}

TEST(SplitDataset, StratumOfOneGoesToPartOne) {
  ScratchDir dir;
  EXPECT_EQ(split_and_capture("1,only"), "1\n1 0\n");
  EXPECT_EQ(read_file("d_part_0.data"), "");
  EXPECT_EQ(read_file("d_part_1.data"), "1,only\n");
}

TEST(SplitDataset, EmptyLinesCrLfAndAMissingFinalLineFeed) {
  ScratchDir dir;
  // Only the first byte counts: "10" and "1.5" are one-lines, " 1" is not.
  EXPECT_EQ(split_and_capture("\n\n10,a\r\n\n 1,b\r\n1.5,c\n\n\nlast"), "4\n2 2\n");
  std::multiset<std::string> all;
  for (const auto& line : lines_of(read_file("d_part_0.data") + read_file("d_part_1.data"))) {
    all.insert(line);
  }
  EXPECT_EQ(all, (std::multiset<std::string>{"10,a", " 1,b", "1.5,c", "last"}));
}

TEST(SplitDataset, MissingDatasetIsReportedAndWritesNoPart) {
  ScratchDir dir;
  testing::internal::CaptureStdout();
  split_dataset("absent", fresh_split_seed());
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error: cannot open file absent.data for read\n");
  EXPECT_FALSE(std::filesystem::exists("absent_part_0.data"));
  EXPECT_FALSE(std::filesystem::exists("absent_part_1.data"));
}

TEST(SplitDataset, ThousandsOfLinesSplitExactlyAndDifferentlyEachRun) {
  ScratchDir dir;
  std::string data;
  int ones = 0;
  for (int i = 0; i < 3001; ++i) {
    const bool one = i % 3 == 0;
    ones += one;
    data += (one ? "1," : "0,") + std::to_string(i) + "\n";
  }
  const int others = 3001 - ones;
  const auto input = lines_of(data);
  std::vector<std::string> first_part0;
  for (int run = 0; run < 2; ++run) {
    EXPECT_EQ(split_and_capture(data),
              "3001\n" + std::to_string(ones) + " " + std::to_string(others) + "\n");
    const auto part0 = lines_of(read_file("d_part_0.data"));
    const auto part1 = lines_of(read_file("d_part_1.data"));
    EXPECT_EQ(part0.size(), static_cast<size_t>(ones / 2 + others / 2));
    EXPECT_EQ(part1.size(), 3001 - part0.size());
    EXPECT_TRUE(one_lines_first(part0));
    EXPECT_TRUE(one_lines_first(part1));
    std::multiset<std::string> seen(part0.begin(), part0.end());
    seen.insert(part1.begin(), part1.end());
    EXPECT_EQ(seen, std::multiset<std::string>(input.begin(), input.end()));
    if (run == 0) {
      first_part0 = part0;
    } else {
      EXPECT_NE(part0, first_part0) << "two runs drew the same split";
    }
  }
}
