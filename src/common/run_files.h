// Every file name one experiment forms, from the dataset name D and the
// output name O, and the miner's parameter file with its keys and the fixed
// settings the driver hands the miner. The driver, the miner and the tests
// all take the names from here.
#pragma once

#include <array>
#include <string>

// Fixed experiment settings: not on the command line, handed to the miner
// and printed in the summary line.
inline constexpr int kMaxLen = 100;
inline constexpr double kMaxLocalPvalue = 0.05;
inline constexpr double kMinDiff = 0.0;

// The summary file every experiment appends one line to.
inline constexpr const char* kSummaryFile = "Varnel.sum.txt";

// The dataset "<base>.data" and its attribute description "<base>.names".
inline std::string data_file(const std::string& base) { return base + ".data"; }
inline std::string names_file(const std::string& base) { return base + ".names"; }

// The two parts of the split: "D_part_0" mines, "D_part_1" tests.
inline std::string mining_part_base(const std::string& dataset) { return dataset + "_part_0"; }
inline std::string test_part_base(const std::string& dataset) { return dataset + "_part_1"; }
// The lock an experiment holds on the parts from the split to the end of
// validation, beside them: experiments on one data set from several folders
// would otherwise write each other's parts.
inline std::string split_lock_file(const std::string& dataset) { return dataset + "_part.lock"; }

// The working directory's lock: one experiment at a time per directory.
inline constexpr const char* kDirectoryLockFile = "varnel.lock";

// The miner's outputs.
inline std::string statistics_file(const std::string& o) { return o + ".cfptree.stat"; }
inline std::string class_value_map_file(const std::string& o) { return o + ".tgtvalues.map"; }
inline std::string class_labels_file(const std::string& o) { return o + ".tgtvalues"; }
inline std::string item_map_file(const std::string& o) { return o + ".attrvalue2item.txt"; }
inline std::string tidlist_directory_file(const std::string& o) { return o + ".tidlist.dir"; }
inline std::string tidlist_file(const std::string& o) { return o + ".tidlist"; }
// The miner writes these two; validation replaces them with its own.
inline std::string rule_file(const std::string& o) { return o + ".sorted.rules.txt"; }
inline std::string rule_count_file(const std::string& o) { return o + ".sorted.rulenum.txt"; }

// Every file the miner leaves, in the order it renames them into place: the
// count and statistics files last, since they carry the tid-list counts.
inline std::array<std::string, 8> miner_output_files(const std::string& o) {
  return {item_map_file(o),   class_value_map_file(o),   class_labels_file(o),
          rule_file(o),       tidlist_directory_file(o), tidlist_file(o),
          rule_count_file(o), statistics_file(o)};
}

// The system's own outputs besides the rule and rule count files.
inline std::string validated_tidlist_file(const std::string& o) {
  return o + ".sorted.tidlist.txt";
}
inline std::string test_class_labels_file(const std::string& o) { return o + ".tgtvalues.txt"; }
// The rule table and the experiment record, for people and for scripts.
inline std::string rule_table_file(const std::string& o) { return o + ".rules.csv"; }
inline std::string experiment_record_file(const std::string& o) { return o + ".experiment.json"; }

// The results of direct adjustment on a whole data set.
inline std::string direct_results_file(const std::string& o) { return o + ".direct.json"; }
inline std::string direct_rule_table_file(const std::string& o) { return o + ".direct.rules.csv"; }

// The miner's parameter file in the working directory; its keys and layout
// are in minerio/miner_params.h.
inline constexpr const char* kParameterFile = "orsk.para";
