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
#include "common/thread_count.h"
#include "driver/miner_run.h"
#include "minerio/item_map.h"
#include "minerio/mining_stats.h"
#include "minerio/rule_count.h"
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

// Whether the experiment has reported an error so far: a stage that did
// cannot be built on.
bool failed() { return !reported_lines().errors.empty(); }

// The files of the writing stage; the rule and rule count files replace the
// miner's.
void remove_result_files(const std::string& output_name) {
  for (const std::string& path :
       {test_class_labels_file(output_name), validated_tidlist_file(output_name),
        rule_file(output_name), rule_count_file(output_name), rule_table_file(output_name)})
    std::remove(path.c_str());
}

// The miner's own figures, from its statistics and its rule count file as
// it left them, before validation replaces that file: the direct-adjustment
// figures of the record.
MinerFigures read_miner_figures(const std::string& output_name, const MinedPartCounts& part) {
  MinerFigures figures;
  figures.patterns_tested = part.patterns_tested;
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
  context.mining_transactions = static_cast<int32_t>(training.size());
  context.mining_positives = static_cast<int32_t>(std::count(training.begin(), training.end(), 1));
  return context;
}

// The miner's files that size the rest: its statistics, rule counts, class
// values and the mining part's class labels.
struct MinerOutputs {
  MinedPartCounts part;
  MinerFigures figures;
  ClassValueMap class_map;
  TrainingClassLabels training;
};

MinerOutputs read_miner_outputs(const std::string& output_name, const std::string& target_value) {
  MinerOutputs read;
  read.part = read_mining_statistics(output_name);
  read.figures = read_miner_figures(output_name, read.part);
  if (target_value.empty()) read_class_value_map(output_name, read.class_map);
  // The statistics file's count is untrusted: never reserve more labels than
  // the class-label file holds.
  read.training.resize(
      std::min<uintmax_t>(static_cast<uintmax_t>(std::max(read.part.transactions, 0)),
                          class_labels_held(output_name).value_or(0)));
  read_training_class_labels(output_name, read.part.transactions, read.training);
  return read;
}

}  // namespace

void remove_run_outputs(const std::string& output_name) {
  for (const std::string& path : miner_output_files(output_name)) std::remove(path.c_str());
  remove_result_files(output_name);
}

std::optional<RunFigures> mine_and_validate(const ExperimentOptions& options,
                                            int64_t mining_records, MinerContext& miner_context,
                                            StageClock& clock) {
  const std::string mining_base = mining_part_base(options.dataset_name);
  const std::string& output_name = options.output_name;
  begin_stage(clock, Stage::mining);
  AttributeNames names;
  if (std::FILE* file = open_for_read(names_file(mining_base))) {
    read_attribute_names(names, file);
  }
  check_target(mining_base, names, options.target_attr, options.target_value, options.min_sup,
               mining_records);
  if (failed()) return std::nullopt;
  MinerParams params = miner_params_for(mining_base, options.target_attr, options.target_value,
                                        options.min_sup, options.max_pvalue, output_name);
  params.top_k = options.top_k;
  if (!run_miner(params, find_miner_executable(running_program_dir()), miner_context))
    return std::nullopt;

  begin_stage(clock, Stage::reading_miner_files);
  MinerOutputs miner = read_miner_outputs(output_name, options.target_value);
  if (failed()) return std::nullopt;

  begin_stage(clock, Stage::loading_test_part);
  TestTransactions transactions;
  ClassLabels labels;
  load_test_part(test_part_base(options.dataset_name), names, options.target_attr,
                 options.target_value, miner.class_map, transactions, labels, output_name);
  // Test instance j is numbered transactions + j in 32 bits, so a count that
  // leaves no room for them cannot be true.
  if (static_cast<int64_t>(miner.part.transactions) + static_cast<int64_t>(labels.size()) >
      INT32_MAX) {
    report_error("impossible number of transactions %d in file %s", miner.part.transactions,
                 statistics_file(output_name).c_str());
  }
  if (failed()) return std::nullopt;
  std::printf("#instances in training: %d\n", miner.part.transactions);
  std::printf("#instances in testing: %d\n", static_cast<int32_t>(labels.size()));

  begin_stage(clock, Stage::reading_miner_files);
  MinedRules mined;
  read_mined_rules(output_name, miner.part.transactions, mined);
  if (failed()) {
    close_rule_tid_lists(mined.lists);
    return std::nullopt;
  }
  begin_stage(clock, Stage::validation);
  const Retest retest = retest_rules(mined.rules, transactions, labels, options.max_pvalue,
                                     kMaxLocalPvalue, processing_threads());
  begin_stage(clock, Stage::writing);
  const std::string class_value =
      options.target_value.empty() ? rule_class_value(miner.class_map) : options.target_value;
  RunFigures figures;
  figures.mining_transactions = miner.part.transactions;
  figures.miner = miner.figures;
  write_test_class_labels(output_name, miner.training, labels);
  figures.holdout = write_validation(output_name, mined, retest, options.max_pvalue,
                                     table_context(output_name, class_value, miner.training));
  close_rule_tid_lists(mined.lists);
  figures.miner.rules_mined = figures.holdout.rules_tested;
  // The driver's report follows; nothing of the run may stay buffered behind
  // a later child process's output.
  std::fflush(stdout);
  // Files cut short by a full disk must not pass for results.
  if (failed()) {
    remove_result_files(output_name);
    return std::nullopt;
  }
  return figures;
}
