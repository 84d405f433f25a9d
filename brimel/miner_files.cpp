// The miner's small output files.
#include "miner_files.h"

#include <cstdio>

#include "common/file_open.h"
#include "common/raw_ints.h"

namespace {

bool write_lines(const std::string& path, const std::vector<std::string>& lines) {
  std::FILE* file = open_for_write(path, "w");
  if (file == nullptr) return false;
  for (const std::string& line : lines) {
    std::fwrite(line.data(), 1, line.size(), file);
    std::fputc('\n', file);
  }
  return close_written(file, path, true);
}

}  // namespace

bool write_item_map(const std::string& path, const MiningData& data) {
  return write_lines(path, data.item_keys);
}

bool write_class_value_map(const std::string& path, const MiningData& data) {
  return write_lines(path, data.class_values);
}

bool write_class_labels(const std::string& path, const MiningData& data) {
  std::FILE* file = open_for_write(path, "wb");
  if (file == nullptr) return false;
  const bool ok = write_int32_le(file, data.labels.data(), data.labels.size());
  return close_written(file, path, ok);
}

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

bool write_mined_rules(const std::string& path, const SearchResult& result,
                       const std::vector<size_t>& order, const std::vector<int32_t>& preorder,
                       int32_t transactions, int32_t positives) {
  std::FILE* file = open_for_write(path, "w");
  if (file == nullptr) return false;
  const double base_confidence = static_cast<double>(positives) / transactions;
  for (const size_t r : order) {
    const MinedRule& rule = result.rules[r];
    std::fprintf(file, "%d %d", preorder[r], rule.length);
    for (int32_t i = 0; i < rule.length; ++i)
      std::fprintf(file, " %d", result.rule_items[rule.item_begin + i]);
    const double confidence = static_cast<double>(rule.class_support) / rule.support;
    std::fprintf(file, " %d %d %.17g %.17g %.17g %.17g\n", rule.support, rule.class_support,
                 confidence, rule.pvalue, rule.max_local_pvalue, confidence / base_confidence);
  }
  return close_written(file, path, true);
}

bool write_mined_rule_count(const std::string& path, const MinerParams& params,
                            const RuleCountRecord& counts, const MiningStatistics& stats) {
  std::FILE* file = open_for_write(path, "w");
  if (file == nullptr) return false;
  std::fprintf(file, "%llu\n%.17g\n%.17g\n%.17g\n%.17g\n%d\n%d\n%d\n%llu\n%lld\n%lld\n0\n",
               static_cast<unsigned long long>(stats.patterns_tested), params.max_pvalue,
               counts.fdr_pvalue, params.max_local_pvalue, params.min_diff, counts.sig_at_level,
               counts.sig_at_corrected, counts.sig_at_fdr,
               static_cast<unsigned long long>(stats.passing_pvalue),
               static_cast<long long>(stats.items), static_cast<long long>(stats.longest_rule));
  return close_written(file, path, true);
}
