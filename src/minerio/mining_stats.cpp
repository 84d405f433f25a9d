// Writers and readers of the miner's statistics file, class-value map and
// class-label file.
#include "minerio/mining_stats.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "common/file_open.h"
#include "common/messages.h"
#include "common/raw_ints.h"
#include "common/run_files.h"
#include "common/text_lines.h"
#include "common/text_numbers.h"

namespace {

// Reads the next white-space separated word, as "%s" would. Returns false when
// the file ended before or during the word: the miner ends every value with a
// line end, so a word that runs into the end of the file is not trusted.
bool read_word(std::FILE* file, std::string& word) {
  word.clear();
  int ch = std::getc(file);
  while (ch != EOF && std::isspace(ch)) ch = std::getc(file);
  for (; ch != EOF && !std::isspace(ch); ch = std::getc(file))
    word.push_back(static_cast<char>(ch));
  return ch != EOF && !word.empty();
}

}  // namespace

bool write_mining_statistics(const std::string& path, const MiningStatistics& s) {
  std::FILE* file = open_for_write(path, "w");
  if (file == nullptr) return false;
  std::fprintf(file, "%lld %lld %lld %llu %llu %lld %lld %lld %lld %lld %lld %lld %lld %lld\n",
               static_cast<long long>(s.transactions), static_cast<long long>(s.items),
               static_cast<long long>(s.frequent_items),
               static_cast<unsigned long long>(s.patterns_tested),
               static_cast<unsigned long long>(s.passing_pvalue), static_cast<long long>(s.rules),
               static_cast<long long>(s.tree_entries), static_cast<long long>(s.full_lists),
               static_cast<long long>(s.diff_lists), static_cast<long long>(s.longest_rule),
               static_cast<long long>(s.min_sup), static_cast<long long>(s.max_len),
               static_cast<long long>(s.positives), static_cast<long long>(s.elapsed_ms));
  return close_written(file, path, true);
}

bool write_class_value_map(const std::string& path, const std::vector<std::string>& class_values) {
  return write_text_lines(path, class_values);
}

bool write_class_labels(const std::string& path, const std::vector<int32_t>& labels) {
  std::FILE* file = open_for_write(path, "wb");
  if (file == nullptr) return false;
  const bool ok = write_int32_le(file, labels.data(), labels.size());
  return close_written(file, path, ok);
}

MinedPartCounts read_mining_statistics(const std::string& output_name) {
  MinedPartCounts counts;
  const std::string path = statistics_file(output_name);
  std::FILE* file = open_for_read(path);
  if (file == nullptr) return counts;
  // The first value sizes the run; of the other thirteen only the number of
  // patterns tested (the fourth) is reported, in the experiment record.
  int32_t transactions = 0;
  const ScanStatus status = scan_int32(file, transactions);
  std::string word;
  if (status == ScanStatus::ok && read_word(file, word) && read_word(file, word) &&
      read_word(file, word)) {
    char* end = nullptr;
    const long long value = std::strtoll(word.c_str(), &end, 10);
    if (*end == '\0' && value >= 0 && value < LLONG_MAX) counts.patterns_tested = value;
  }
  std::fclose(file);
  if (status != ScanStatus::ok) {
    report_error("no readable number of transactions in file %s", path.c_str());
  } else if (transactions < 0) {
    report_error("negative number of transactions %d in file %s", transactions, path.c_str());
  } else {
    counts.transactions = transactions;
  }
  return counts;
}

std::optional<int64_t> stated_rule_count(const std::string& output_name) {
  std::FILE* file = std::fopen(statistics_file(output_name).c_str(), "r");
  if (file == nullptr) return std::nullopt;
  std::string word;
  bool read = true;
  for (int value = 0; read && value < 6; ++value) read = read_word(file, word);
  std::fclose(file);
  if (!read) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long long rules = std::strtoll(word.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || rules < 0) return std::nullopt;
  return rules;
}

void read_class_value_map(const std::string& output_name, ClassValueMap& map) {
  const std::string path = class_value_map_file(output_name);
  std::FILE* file = open_for_read(path);
  if (file == nullptr) return;
  std::string word;
  for (int position = 0; read_word(file, word); ++position) {
    if (word[0] == '\0') {
      report_error("empty line at line %d", position + 1);
    } else {
      map[word] = position;
    }
  }
  std::fclose(file);
}

std::optional<uintmax_t> class_labels_held(const std::string& output_name) {
  std::error_code missing;
  const uintmax_t bytes = std::filesystem::file_size(class_labels_file(output_name), missing);
  if (missing) return std::nullopt;
  return bytes / sizeof(int32_t);
}

std::string rule_class_value(const ClassValueMap& map) {
  for (const auto& [value, index] : map) {
    if (index == 1) return value;
  }
  return std::string();
}

void read_training_class_labels(const std::string& output_name, int32_t transactions,
                                TrainingClassLabels& labels) {
  const std::string path = class_labels_file(output_name);
  std::FILE* file = open_for_read(path, "rb");
  if (file == nullptr) return;
  const size_t got = read_int32_le(file, labels.data(), labels.size());
  std::fclose(file);
  if (got < static_cast<size_t>(std::max(transactions, 0))) {
    report_error("file %s holds %zu class labels, fewer than the %d transactions", path.c_str(),
                 got, transactions);
  }
}
