// The stratified random split: lines that begin with '1' and all other lines
// are halved separately, so both parts get the same share of each stratum.
#include "driver/split.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>

#include "common/file_open.h"
#include "common/run_files.h"
#include "common/text_lines.h"

namespace {

constexpr double kDrawScale = 1.0 / 32768.0;  // 2^-15

// Reads the non-empty lines of `path`; false after an "Error: " line when
// it cannot be opened or read to its end.
bool read_dataset_lines(const std::string& path, std::vector<std::string>& lines) {
  std::FILE* file = open_for_read(path);
  if (file == nullptr) return false;
  std::string line;
  while (read_text_line(file, line)) {
    if (!line.empty()) lines.push_back(line);
  }
  return close_read(file, path);
}

void write_part(const std::string& path, const std::vector<std::string>& lines,
                const std::vector<int>& indices) {
  std::FILE* file = open_for_write(path);
  if (file == nullptr) return;
  for (const int index : indices) {
    std::fwrite(lines[index].data(), 1, lines[index].size(), file);
    std::fputc('\n', file);
  }
  // A part cut short by a full disk would pass for a smaller dataset.
  close_written(file, path);
}

}  // namespace

uint64_t fresh_split_seed() {
  std::random_device device;
  const auto now = std::chrono::high_resolution_clock::now().time_since_epoch().count();
  std::seed_seq mix{device(), device(), static_cast<uint32_t>(now),
                    static_cast<uint32_t>(static_cast<uint64_t>(now) >> 32),
                    static_cast<uint32_t>(getpid())};
  uint32_t halves[2] = {0, 0};
  mix.generate(halves, halves + 2);
  return (static_cast<uint64_t>(halves[0]) << 32) | halves[1];
}

int next_split_value(SplitGenerator& generator) {
  // The top 15 bits: the best bits of the engine's output.
  return static_cast<int>(generator.engine() >> 49);
}

int mining_part_size(int size, double share) {
  // The product is exact for the default share; a half rounds down.
  const double exact = share * size;
  return std::clamp(static_cast<int>(std::ceil(exact - 0.5)), 0, size);
}

std::vector<bool> choose_part0_members(int size, int target, SplitGenerator& generator) {
  std::vector<bool> chosen(static_cast<size_t>(size), false);
  // One draw reaches only 32768 positions; a larger stratum joins several
  // draws into one wider number, or the loop could never reach its target.
  int draws_per_position = 1;
  double scale = kDrawScale;
  for (double reach = 32768.0; reach < size; reach *= 32768.0) {
    ++draws_per_position;
    scale *= kDrawScale;
  }
  int count = 0;
  while (count < target) {
    double r = 0.0;
    for (int d = 0; d < draws_per_position; ++d) r = r * 32768.0 + next_split_value(generator);
    // Products beyond 2^53 could round up to `size` itself.
    const auto position = std::min(static_cast<size_t>(r * scale * size), chosen.size() - 1);
    if (!chosen[position]) {
      chosen[position] = true;
      ++count;
    }
  }
  return chosen;
}

SplitCounts split_dataset(const std::string& dataset_name, uint64_t seed, double mining_share) {
  std::vector<std::string> lines;
  if (!read_dataset_lines(data_file(dataset_name), lines)) return SplitCounts{};
  std::printf("%zu\n", lines.size());

  std::vector<int> one_lines;
  std::vector<int> other_lines;
  for (size_t i = 0; i < lines.size(); ++i) {
    (lines[i][0] == '1' ? one_lines : other_lines).push_back(static_cast<int>(i));
  }
  std::printf("%zu %zu\n", one_lines.size(), other_lines.size());

  SplitGenerator generator{seed};
  const int others = static_cast<int>(other_lines.size());
  const int ones = static_cast<int>(one_lines.size());
  const std::vector<bool> other_chosen =
      choose_part0_members(others, mining_part_size(others, mining_share), generator);
  const std::vector<bool> one_chosen =
      choose_part0_members(ones, mining_part_size(ones, mining_share), generator);

  std::vector<int> part0;
  std::vector<int> part1;
  for (int i = 0; i < ones; ++i) (one_chosen[i] ? part0 : part1).push_back(one_lines[i]);
  for (int i = 0; i < others; ++i) (other_chosen[i] ? part0 : part1).push_back(other_lines[i]);

  std::fflush(stdout);
  write_part(data_file(mining_part_base(dataset_name)), lines, part0);
  write_part(data_file(test_part_base(dataset_name)), lines, part1);
  return SplitCounts{static_cast<int64_t>(lines.size()), ones, others,
                     static_cast<int64_t>(part0.size()), static_cast<int64_t>(part1.size())};
}
