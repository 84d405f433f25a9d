// The mining-and-validation run: mines the mining part, reads what the miner
// leaves, loads the test part and validates every mined rule on it.
#include "driver/run.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>

#include "common/file_open.h"
#include "common/messages.h"
#include "common/record_fields.h"
#include "common/run_files.h"
#include "common/stage_clock.h"
#include "common/text_lines.h"
#include "driver/run_stats.h"
#include "miner/item_map.h"
#include "miner/miner_run.h"
#include "miner/mining_stats.h"
#include "miner/rule_count.h"
#include "testpart/attribute_names.h"
#include "testpart/class_label_file.h"
#include "testpart/test_part.h"
#include "validate/validation.h"

namespace {

// Failures that would otherwise surface only as an experiment of no rules:
// a target attribute the names do not hold, a target value no mining record
// has, a minimum support beyond the mining part.
void check_target(const std::string& mining_base, const AttributeNames& names,
                  const std::string& target_attr, const std::string& target_value, int min_sup,
                  int64_t mining_records) {
  if (min_sup > mining_records)
    report_warning(
        "the minimum support %d is larger than the %lld records of the mining "
        "part; no rule can be mined",
        min_sup, static_cast<long long>(mining_records));
  if (names.empty()) return;  // the missing description is reported already
  const auto column = std::find(names.begin(), names.end(), target_attr);
  if (column == names.end()) {
    report_error("the target attribute %s is not among the attributes of %s", target_attr.c_str(),
                 names_file(mining_base).c_str());
    return;
  }
  if (target_value.empty()) return;
  const size_t index = static_cast<size_t>(column - names.begin());
  std::FILE* file = std::fopen(data_file(mining_base).c_str(), "r");
  if (file == nullptr) return;  // the split has said why
  bool found = false;
  std::string line;
  std::vector<std::string> fields;
  while (!found && read_text_line(file, line)) {
    fields.clear();
    split_fields(line, ',', fields);
    found = index < fields.size() && fields[index] == target_value;
  }
  std::fclose(file);
  if (!found)
    report_error("no record of the mining part %s has the target value %s",
                 data_file(mining_base).c_str(), target_value.c_str());
}

// The miner's own figures, from its statistics and its rule count file as
// it left them, before validation replaces that file: the direct-adjustment
// figures of the record.
MinerFigures read_miner_figures(const std::string& output_name) {
  MinerFigures figures;
  figures.patterns_tested = read_mining_statistics(output_name);
  RuleCountRecord& counts = figures.counts;
  if (std::FILE* file = open_for_read(rule_count_file(output_name))) {
    read_rule_count(file, counts);
  }
  // The count file holds the patterns tested in 32 bits; the statistics
  // file's wider count gives the corrected level when it is known.
  if (figures.patterns_tested >= 0)
    counts.corrected_level = counts.level / static_cast<double>(figures.patterns_tested);
  return figures;
}

// What the rule table says of the mining part and the rules' class.
RuleTableContext table_context(const std::string& output_name, const std::string& class_value,
                               const TrainingClassLabels& training) {
  RuleTableContext context;
  context.class_value = class_value;
  context.item_keys = read_item_keys(output_name);
  context.mining_transactions = static_cast<int32_t>(std::min<size_t>(
      training.size(), static_cast<size_t>(std::max(run_stats.train_instances, 0))));
  context.mining_positives = static_cast<int32_t>(
      std::count(training.begin(), training.begin() + context.mining_transactions, 1));
  return context;
}

// Validation's three stages: reading the mined rules, re-testing them,
// writing the results.
HoldoutFigures validate(const std::string& output_name, const TestTransactions& transactions,
                        const ClassLabels& labels, double level, double local_level,
                        const RuleTableContext& context) {
  begin_stage(Stage::reading_miner_files);
  MinedRules mined;
  read_mined_rules(output_name, mined);
  begin_stage(Stage::validation);
  const Retest retest = retest_rules(mined.rules, transactions, labels, level, local_level);
  begin_stage(Stage::writing);
  const HoldoutFigures figures = write_validation(output_name, mined, retest, level, context);
  close_rule_tid_lists(mined.lists);
  return figures;
}

}  // namespace

RunFigures mine_and_validate(const std::string& mining_base, const std::string& test_base,
                             const std::string& output_name, const std::string& target_attr,
                             const std::string& target_value, int min_sup, double max_pvalue,
                             double max_local_pvalue, double min_diff, int64_t mining_records) {
  begin_stage(Stage::mining);
  ClassValueMap class_map;
  AttributeNames names;
  RunFigures figures;
  if (std::FILE* file = open_for_read(names_file(mining_base))) {
    read_attribute_names(names, file);
  }
  check_target(mining_base, names, target_attr, target_value, min_sup, mining_records);

  run_miner(mining_base, target_attr, target_value, min_sup, output_name, max_pvalue,
            max_local_pvalue, min_diff);
  begin_stage(Stage::reading_miner_files);
  figures.miner = read_miner_figures(output_name);

  if (target_value.empty()) read_class_value_map(output_name, class_map);
  // The statistics file's count is untrusted: never reserve more labels than
  // the class-label file holds.
  TrainingClassLabels training(
      std::min<uintmax_t>(static_cast<uintmax_t>(std::max(run_stats.train_instances, 0)),
                          class_labels_held(output_name).value_or(0)));
  read_training_class_labels(output_name, training);

  begin_stage(Stage::loading_test_part);
  TestTransactions transactions;
  ClassLabels labels;
  load_test_part(test_base, names, target_attr, target_value, class_map, transactions, labels,
                 output_name);
  // Test instance j is numbered train_instances + j in 32 bits, so a count
  // that leaves no room for them cannot be true.
  if (static_cast<int64_t>(run_stats.train_instances) + static_cast<int64_t>(labels.size()) >
      INT32_MAX) {
    report_error("impossible number of transactions %d in file %s; taken as 0",
                 run_stats.train_instances, statistics_file(output_name).c_str());
    run_stats.train_instances = 0;
  }
  write_test_class_labels(output_name, training, labels);
  std::printf("#instances in training: %d\n", run_stats.train_instances);
  std::printf("#instances in testing: %d\n", static_cast<int32_t>(labels.size()));

  const std::string class_value = target_value.empty() ? rule_class_value(class_map) : target_value;
  figures.holdout = validate(output_name, transactions, labels, max_pvalue, max_local_pvalue,
                             table_context(output_name, class_value, training));
  figures.miner.rules_mined = figures.holdout.rules_tested;
  // The driver's report follows; nothing of the run may stay buffered behind
  // a later child process's output.
  std::fflush(stdout);
  return figures;
}
