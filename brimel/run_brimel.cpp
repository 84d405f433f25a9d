// The miner's run, from the parameter file to the renamed output files.
#include "run_brimel.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <numeric>
#include <vector>

#include "common/file_open.h"
#include "common/messages.h"
#include "common/run_files.h"
#include "common/thread_count.h"
#include "direct_run.h"
#include "minerio/driver_link.h"
#include "minerio/item_map.h"
#include "minerio/miner_params.h"
#include "minerio/mining_stats.h"
#include "minerio/rule_count.h"
#include "minerio/rule_file.h"
#include "mining_data.h"
#include "pattern_search.h"
#include "pattern_tree.h"
#include "stats/significance.h"
#include "tidlist_writer.h"

namespace {

using Clock = std::chrono::steady_clock;

// What the search found, in the order the files give it.
struct OrderedRules {
  SearchResult result;
  PatternTree tree;
  std::vector<size_t> order;  // rule indexes by ascending p-value, ties by preorder number
  RuleCountRecord counts;
};

// Every file is written under this name first and renamed at the end.
std::string temporary(const std::string& path) { return path + ".tmp"; }

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

// Searches on `threads` threads (0: as search_rules chooses), numbers the
// tree and orders and counts the rules; false after an "Error: " line, or
// without one when `stop` was set.
bool mine(const MinerParams& params, const MiningData& data, SearchHook* hook, bool show_progress,
          const std::atomic<bool>* stop, int threads, OrderedRules& mined) {
  SearchResult& result = mined.result;
  SearchOptions options;
  options.stop = stop;
  options.threads = threads;
  result.min_sup = params.min_sup;  // when there is nothing to search
  if (data.classes_usable && !search_rules(data, params, show_progress, result, hook, options))
    return false;
  if (result.count_saturated)
    report_warning("more patterns than a 64-bit count holds; the counts stop at its largest value");
  if (!build_pattern_tree(result, mined.tree)) return false;
  mined.order.resize(result.rules.size());
  std::iota(mined.order.begin(), mined.order.end(), 0);
  std::sort(mined.order.begin(), mined.order.end(), [&](size_t a, size_t b) {
    if (result.rules[a].pvalue != result.rules[b].pvalue)
      return result.rules[a].pvalue < result.rules[b].pvalue;
    return mined.tree.rule_preorder[a] < mined.tree.rule_preorder[b];
  });
  std::vector<double> sorted_pvalues;
  sorted_pvalues.reserve(mined.order.size());
  for (const size_t r : mined.order) sorted_pvalues.push_back(result.rules[r].pvalue);
  mined.counts = count_significant(sorted_pvalues, static_cast<double>(result.patterns_tested),
                                   params.max_pvalue);
  return true;
}

void print_mined(const MinerParams& params, const OrderedRules& mined) {
  std::printf("patterns tested: %llu (%llu within max_pvalue)\n",
              static_cast<unsigned long long>(mined.result.patterns_tested),
              static_cast<unsigned long long>(mined.result.passing_pvalue));
  if (params.top_k > 0)
    std::printf(
        "top %d: %zu rules within p-value %g; tested: the patterns of support %d and "
        "more, with %d and more records of the rule class (%llu visited)\n",
        params.top_k, mined.result.rules.size(), mined.result.top_k_bound, mined.result.min_sup,
        mined.result.min_class_support,
        static_cast<unsigned long long>(mined.result.patterns_visited));
  std::printf("rules: %d at level %g, %d at corrected level %g, %d under FDR\n",
              mined.counts.sig_at_level, params.max_pvalue, mined.counts.sig_at_corrected,
              mined.counts.corrected_level, mined.counts.sig_at_fdr);
}

MiningStatistics collect_statistics(const MinerParams& params, const MiningData& data,
                                    const OrderedRules& mined) {
  MiningStatistics stats;
  stats.transactions = transaction_count(data);
  stats.items = static_cast<int64_t>(data.item_keys.size());
  stats.frequent_items = mined.result.frequent_items;
  stats.patterns_tested = mined.result.patterns_tested;
  stats.passing_pvalue = mined.result.passing_pvalue;
  stats.rules = static_cast<int64_t>(mined.result.rules.size());
  stats.tree_entries = static_cast<int64_t>(mined.tree.entries.size());
  for (const MinedRule& rule : mined.result.rules)
    stats.longest_rule = std::max<int64_t>(stats.longest_rule, rule.length);
  stats.min_sup = mined.result.min_sup;
  stats.max_len = params.max_len;
  stats.positives = data.positives;
  return stats;
}

// The rules in their order, each with its tree entry.
bool write_mined_rules(const std::string& path, const MiningData& data, const OrderedRules& mined) {
  std::FILE* file = open_for_write(path, "w");
  if (file == nullptr) return false;
  const double base_confidence = static_cast<double>(data.positives) / transaction_count(data);
  for (const size_t r : mined.order) {
    const MinedRule& rule = mined.result.rules[r];
    RuleFileLine line;
    line.preorder = mined.tree.rule_preorder[r];
    line.items = std::span<const int32_t>(mined.result.rule_items)
                     .subspan(rule.item_begin, static_cast<size_t>(rule.length));
    line.support = rule.support;
    line.class_support = rule.class_support;
    line.confidence = static_cast<double>(rule.class_support) / rule.support;
    line.pvalue = rule.pvalue;
    line.max_local_pvalue = rule.max_local_pvalue;
    line.lift = line.confidence / base_confidence;
    write_rule_line(file, line);
  }
  return close_written(file, path, true);
}

RuleCountFile rule_count_values(const MinerParams& params, const RuleCountRecord& counts,
                                const MiningStatistics& stats) {
  RuleCountFile values;
  values.tested = stats.patterns_tested;
  values.level = params.max_pvalue;
  values.fdr_pvalue = counts.fdr_pvalue;
  values.max_local_pvalue = params.max_local_pvalue;
  values.min_diff = params.min_diff;
  values.sig_at_level = counts.sig_at_level;
  values.sig_at_corrected = counts.sig_at_corrected;
  values.sig_at_fdr = counts.sig_at_fdr;
  values.within_level = stats.passing_pvalue;
  values.items = stats.items;
  values.longest_rule = stats.longest_rule;
  return values;
}

// Writes every output file under its temporary name, in the order they are
// renamed, and sets `stats` to what the statistics file holds; false after
// an "Error: " line.
bool write_outputs(const MinerParams& params, const MiningData& data, const OrderedRules& mined,
                   Clock::time_point start, MiningStatistics& stats) {
  const std::string& o = params.output;
  stats = collect_statistics(params, data, mined);
  bool ok = write_item_map(temporary(item_map_file(o)), data.item_keys) &&
            write_class_value_map(temporary(class_value_map_file(o)), data.class_values) &&
            write_class_labels(temporary(class_labels_file(o)), data.labels) &&
            write_mined_rules(temporary(rule_file(o)), data, mined);
  if (ok && params.gen_tid_list) {
    TidListCounts list_counts;
    ok = write_tid_lists(temporary(tidlist_directory_file(o)), temporary(tidlist_file(o)), data,
                         mined.tree, mined.result.rules, mined.result.threads, list_counts);
    stats.full_lists = list_counts.full_lists;
    stats.diff_lists = list_counts.diff_lists;
  }
  ok = ok && write_rule_count_file(temporary(rule_count_file(o)),
                                   rule_count_values(params, mined.counts, stats), RealDigits::all);
  stats.elapsed_ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  return ok && write_mining_statistics(temporary(statistics_file(o)), stats);
}

}  // namespace

std::vector<std::string> brimel_output_files(const std::string& output, bool with_tid_lists,
                                             bool with_direct) {
  std::vector<std::string> files;
  for (const std::string& path : miner_output_files(output)) {
    if (with_direct && path == rule_count_file(output)) {
      files.push_back(direct_results_file(output));
      files.push_back(direct_rule_table_file(output));
    }
    if (with_tid_lists || (path != tidlist_directory_file(output) && path != tidlist_file(output)))
      files.push_back(path);
  }
  return files;
}

std::string files_in_braces(const std::string& output, const std::vector<std::string>& files) {
  std::string text = output + ".{";
  for (size_t i = 0; i < files.size(); ++i) {
    if (i > 0) text += ',';
    text += files[i].substr(output.size() + 1);
  }
  return text + "}";
}

MiningResult run_brimel(const MinerParams& params) {
  const Clock::time_point start = Clock::now();
  MiningResult outcome;
  MiningData data;
  const int threads = processing_threads();
  if (!read_mining_data(params, data, threads)) return outcome;
  print_data_summary(params, data);
  DirectRun direct;
  if (params.direct && !prepare_direct_run(params, data, direct)) return outcome;
  OrderedRules mined;
  if (!mine(params, data, params.direct ? &direct.hook : nullptr, isatty(STDERR_FILENO) == 1,
            nullptr, threads, mined))
    return outcome;
  print_mined(params, mined);
  outcome.counts = mined.counts;

  const std::string& o = params.output;
  const std::vector<std::string> files = brimel_output_files(o, params.gen_tid_list, params.direct);
  bool ok = true;
  if (params.direct) {
    outcome.direct =
        finish_direct_run(params, data, mined.result, mined.order, mined.counts, direct);
    if (outcome.direct) print_direct_summary(*outcome.direct);
    ok = outcome.direct &&
         write_direct_results(temporary(direct_results_file(o)),
                              temporary(direct_rule_table_file(o)), *outcome.direct);
  }
  ok = ok && write_outputs(params, data, mined, start, outcome.statistics);
  // Nobody reads the files of a driver that is gone, and a later experiment
  // in the folder may have files of those names by now.
  if (ok && driver_gone()) {
    report_io_error("the experiment driver that started the miner has ended; no file is renamed");
    ok = false;
  }
  for (size_t i = 0; ok && i < files.size(); ++i) {
    if (std::rename(temporary(files[i]).c_str(), files[i].c_str()) != 0) {
      report_io_error("cannot rename %s to %s", temporary(files[i]).c_str(), files[i].c_str());
      ok = false;
    }
  }
  if (!ok) {
    for (const std::string& file : files) std::remove(temporary(file).c_str());
    return outcome;
  }
  std::printf("files written: %s\n", files_in_braces(params.output, files).c_str());
  outcome.ok = true;
  return outcome;
}

std::optional<DirectFigures> run_direct_in_memory(const MinerParams& params, const MiningData& data,
                                                  const std::atomic<bool>* stop) {
  DirectRun direct;
  if (!prepare_direct_run(params, data, direct)) return std::nullopt;
  OrderedRules mined;
  if (!mine(params, data, &direct.hook, false, stop, 0, mined)) return std::nullopt;
  return finish_direct_run(params, data, mined.result, mined.order, mined.counts, direct, stop);
}
