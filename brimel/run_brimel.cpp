// The miner's run, from the parameter file to the renamed output files.
#include "run_brimel.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <numeric>
#include <vector>

#include "common/messages.h"
#include "common/run_files.h"
#include "miner_files.h"
#include "miner/miner_params.h"
#include "mining_data.h"
#include "pattern_search.h"
#include "pattern_tree.h"
#include "tidlist_writer.h"
#include "validate/significance.h"

namespace {

// An output file and the temporary name it is written under first.
struct OutputFile {
  std::string path;
  std::string temporary;
};

OutputFile output_file(const std::string& path) { return OutputFile{path, path + ".tmp"}; }

void print_data_summary(const MinerParams& params, const MiningData& data) {
  std::printf("data: %d records, %zu items\n", transaction_count(data), data.item_keys.size());
  std::printf("classes of %s:", params.target_attribute.c_str());
  for (size_t i = 0; i < data.class_values.size(); ++i)
    std::printf(" %s %d", data.class_values[i].c_str(), data.class_counts[i]);
  std::putchar('\n');
  if (!params.target_value.empty())
    std::printf("rule class: %s (%d records)\n", params.target_value.c_str(), data.positives);
  else if (data.classes_usable)
    std::printf("rule class: %s (%d records)\n", data.class_values[1].c_str(), data.positives);
}

MiningStatistics collect_statistics(const MinerParams& params, const MiningData& data,
                                    const SearchResult& result, const PatternTree& tree) {
  MiningStatistics stats;
  stats.transactions = transaction_count(data);
  stats.items = static_cast<int64_t>(data.item_keys.size());
  stats.frequent_items = result.frequent_items;
  stats.patterns_tested = result.patterns_tested;
  stats.passing_pvalue = result.passing_pvalue;
  stats.rules = static_cast<int64_t>(result.rules.size());
  stats.tree_entries = static_cast<int64_t>(tree.entries.size());
  for (const MinedRule& rule : result.rules)
    stats.longest_rule = std::max<int64_t>(stats.longest_rule, rule.length);
  stats.min_sup = params.min_sup;
  stats.max_len = params.max_len;
  stats.positives = data.positives;
  return stats;
}

}  // namespace

int run_brimel(const std::string& param_path) {
  const auto start = std::chrono::steady_clock::now();
  MinerParams params;
  if (!read_miner_params(param_path, params)) return 1;
  MiningData data;
  if (!read_mining_data(params, data)) return 1;
  print_data_summary(params, data);

  SearchResult result;
  if (data.classes_usable && !search_rules(data, params, isatty(STDERR_FILENO) == 1, result))
    return 1;
  if (result.count_saturated)
    report_warning("more patterns than a 64-bit count holds; the counts stop at its largest value");

  PatternTree tree;
  if (!build_pattern_tree(result, tree)) return 1;
  // Ascending p-value, ties by preorder number.
  std::vector<size_t> order(result.rules.size());
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    if (result.rules[a].pvalue != result.rules[b].pvalue)
      return result.rules[a].pvalue < result.rules[b].pvalue;
    return tree.rule_preorder[a] < tree.rule_preorder[b];
  });
  std::vector<double> sorted_pvalues;
  sorted_pvalues.reserve(order.size());
  for (const size_t r : order) sorted_pvalues.push_back(result.rules[r].pvalue);
  const RuleCountRecord counts =
      count_significant(sorted_pvalues, static_cast<double>(result.patterns_tested), params.max_pvalue);
  MiningStatistics stats = collect_statistics(params, data, result, tree);

  std::printf("patterns tested: %llu (%llu within max_pvalue)\n",
              static_cast<unsigned long long>(result.patterns_tested),
              static_cast<unsigned long long>(result.passing_pvalue));
  std::printf("rules: %d at level %g, %d at corrected level %g, %d under FDR\n",
              counts.sig_at_level, params.max_pvalue, counts.sig_at_corrected,
              counts.corrected_level, counts.sig_at_fdr);

  const std::string& o = params.output;
  const OutputFile item_map = output_file(item_map_file(o));
  const OutputFile class_map = output_file(class_value_map_file(o));
  const OutputFile labels = output_file(class_labels_file(o));
  const OutputFile rules = output_file(rule_file(o));
  const OutputFile directory = output_file(tidlist_directory_file(o));
  const OutputFile lists = output_file(tidlist_file(o));
  const OutputFile rule_count = output_file(rule_count_file(o));
  const OutputFile statistics = output_file(statistics_file(o));
  // Renamed in this order; the count and statistics files come last, since
  // they carry the list counts.
  std::vector<const OutputFile*> files = {&item_map, &class_map, &labels, &rules};
  if (params.gen_tid_list) files.insert(files.end(), {&directory, &lists});
  files.insert(files.end(), {&rule_count, &statistics});

  bool ok = write_item_map(item_map.temporary, data) &&
            write_class_value_map(class_map.temporary, data) &&
            write_class_labels(labels.temporary, data) &&
            write_mined_rules(rules.temporary, result, order, tree.rule_preorder,
                              transaction_count(data), data.positives);
  if (ok && params.gen_tid_list) {
    TidListCounts list_counts;
    ok = write_tid_lists(directory.temporary, lists.temporary, data, tree, list_counts);
    stats.full_lists = list_counts.full_lists;
    stats.diff_lists = list_counts.diff_lists;
  }
  ok = ok && write_mined_rule_count(rule_count.temporary, params, counts, stats);
  stats.elapsed_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now() - start)
                         .count();
  ok = ok && write_mining_statistics(statistics.temporary, stats);
  for (size_t i = 0; ok && i < files.size(); ++i) {
    if (std::rename(files[i]->temporary.c_str(), files[i]->path.c_str()) != 0) {
      report_error("cannot rename %s to %s", files[i]->temporary.c_str(),
                  files[i]->path.c_str());
      ok = false;
    }
  }
  if (!ok) {
    for (const OutputFile* file : files) std::remove(file->temporary.c_str());
    return 1;
  }
  std::printf("files written: %s.{attrvalue2item.txt,tgtvalues.map,tgtvalues,sorted.rules.txt,%s"
              "sorted.rulenum.txt,cfptree.stat}\n",
              o.c_str(), params.gen_tid_list ? "tidlist.dir,tidlist," : "");
  return 0;
}
