// The mining-and-validation run: mines the mining part, reads what the miner
// leaves, loads the test part and validates every mined rule on it.
#include "driver/run.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "common/file_open.h"
#include "common/run_files.h"
#include "driver/run_stats.h"
#include "miner/miner_run.h"
#include "miner/mining_stats.h"
#include "testpart/attribute_names.h"
#include "testpart/class_label_file.h"

#include "testpart/test_part.h"
#include "validate/rule_count.h"
#include "validate/validation.h"

void mine_and_validate(const std::string& mining_base, const std::string& test_base,
                       const std::string& output_name, const std::string& target_attr,
                       const std::string& target_value, int min_sup, double max_pvalue,
                       double max_local_pvalue, double min_diff) {
  ClassValueMap class_map;
  AttributeNames names;

  run_miner(mining_base, target_attr, target_value, min_sup, output_name, max_pvalue,
            max_local_pvalue, min_diff);
  read_mining_statistics(output_name);

  // The miner's own counts are read as it left them, before validation
  // replaces the file. Nothing uses them afterwards; the read is kept because
  // it reports a miner that left no count file.
  RuleCountRecord miner_counts;
  if (std::FILE* file = open_for_read(rule_count_file(output_name))) {
    read_rule_count(file, miner_counts);
  }

  if (target_value.empty()) read_class_value_map(output_name, class_map);
  // The statistics file's count is untrusted: never reserve more labels than
  // the class-label file holds.
  std::error_code no_size;
  const uintmax_t label_bytes = std::filesystem::file_size(class_labels_file(output_name), no_size);
  TrainingClassLabels training(std::min<uintmax_t>(
      static_cast<uintmax_t>(std::max(run_stats.train_instances, 0)), no_size ? 0 : label_bytes / 4));
  read_training_class_labels(output_name, training);

  if (std::FILE* file = open_for_read(names_file(mining_base))) {
    read_attribute_names(names, file);
  }

  TestTransactions transactions;
  ClassLabels labels;
  load_test_part(test_base, names, target_attr, target_value, class_map, transactions, labels,
                 output_name);
  // Test instance j is numbered train_instances + j in 32 bits, so a count
  // that leaves no room for them cannot be true.
  if (static_cast<int64_t>(run_stats.train_instances) + static_cast<int64_t>(labels.size()) >
      INT32_MAX) {
    std::printf("Error: impossible number of transactions %d in file %s.cfptree.stat; taken as 0\n",
                run_stats.train_instances, output_name.c_str());
    run_stats.train_instances = 0;
  }
  write_test_class_labels(output_name, training, labels);
  std::printf("#instances in training: %d\n", run_stats.train_instances);
  std::printf("#instances in testing: %d\n", static_cast<int32_t>(labels.size()));

  const LogFactorialTable log_factorial =
      build_log_factorial_table(static_cast<int>(labels.size()));
  run_stats.log_factorial = log_factorial.data();
  validate_rules(transactions, labels, output_name, max_pvalue);
  run_stats.log_factorial = nullptr;
  // The driver's report follows; nothing of the run may stay buffered behind
  // a later child process's output.
  std::fflush(stdout);
}
