// The stratified random split of a dataset's lines into a mining part and a
// test part.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A small linear congruential generator with values 0 to 32767, so that the
// position formula r * 2^-15 * size covers every position.
struct SplitGenerator {
  uint32_t state = 1;
};

// A seed that differs on every run (and between runs started together).
uint32_t fresh_split_seed();
int next_split_value(SplitGenerator& generator);

// Marks `target` distinct members of a stratum of `size` for part 0, drawing
// positions r * 2^-15 * size until enough distinct ones are set.
std::vector<bool> choose_part0_members(int size, int target, SplitGenerator& generator);

// Reads "<dataset_name>.data", prints its line count and the two stratum
// sizes, and writes the mining part "<dataset_name>_part_0.data" and the test
// part "<dataset_name>_part_1.data".
void split_dataset(const std::string& dataset_name);
