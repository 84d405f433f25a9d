// The stratified random split of a dataset's lines into a mining part and a
// test part.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

// The share of each stratum the mining part gets unless told otherwise.
inline constexpr double kDefaultMiningShare = 0.5;

// Draws values 0 to 32767, so that the position formula r * 2^-15 * size
// covers every position. The engine's output is fixed by the C++ standard,
// so a seed gives the same split on every machine and compiler.
struct SplitGenerator {
  explicit SplitGenerator(uint64_t seed) : engine(seed) {}
  std::mt19937_64 engine;
};

// A seed that differs on every run (and between runs started together).
uint64_t fresh_split_seed();
int next_split_value(SplitGenerator& generator);

// The record counts of one split: every non-empty line, the lines that begin
// with '1' and the others, and the two parts.
struct SplitCounts {
  int64_t dataset = 0;
  int64_t stratum_1 = 0;
  int64_t stratum_other = 0;
  int64_t mining_part = 0;
  int64_t test_part = 0;
};

// Whether `share` is a mining share: above 0 and below 1 (NaN is not).
inline bool valid_mining_share(double share) { return share > 0.0 && share < 1.0; }

// The records of a stratum of `size` that go to the mining part: share x
// size rounded to the nearest whole number, a half rounded down, so that
// the share 0.5 gives floor(size / 2), the mining part's size before shares
// could be chosen, and the test part gets the extra record of an odd
// stratum.
int mining_part_size(int size, double share);

// Marks `target` distinct members of a stratum of `size` for part 0, drawing
// positions r * 2^-15 * size until enough distinct ones are set.
std::vector<bool> choose_part0_members(int size, int target, SplitGenerator& generator);

// Reads "<dataset_name>.data", prints its line count and the two stratum
// sizes, and writes the mining part "<dataset_name>_part_0.data", with
// mining_part_size(stratum, `mining_share`) lines of each stratum, and the
// test part "<dataset_name>_part_1.data". A dataset that cannot be read to
// its end gets an "Error: " line and no part is written (all counts 0).
SplitCounts split_dataset(const std::string& dataset_name, uint64_t seed,
                          double mining_share = kDefaultMiningShare);
