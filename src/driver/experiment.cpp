// The command line and the frame of one experiment: split, copy of the
// attribute description, the run, the report and the summary line.
#include "driver/experiment.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/file_open.h"
#include "common/run_files.h"
#include "driver/directory_lock.h"
#include "driver/experiment_report.h"
#include "driver/run.h"
#include "driver/run_stats.h"
#include "driver/split.h"
#include "validate/rule_count.h"

namespace {

void print_usage(const char* program) {
  std::printf("Usage\n");
  std::printf("\t%s dataset_name target_attr target_value mine_min_sup max_pvalue output_name \n",
              program);
}

// Like atoi: leading blanks, a sign, digits up to the first other character;
// values beyond int are held at its limits instead of overflowing.
int parse_min_sup(const char* text) {
  const long value = std::strtol(text, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

WallTime read_wall_clock() {
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(since_epoch).count();
  return WallTime{ms / 1000, static_cast<int>(ms % 1000)};
}

// The miner and the run read the mining part's own copy of the attribute
// description. Done here, not through a shell: the dataset name is user text.
void copy_attribute_description(const std::string& from, const std::string& to) {
  std::FILE* in = std::fopen(from.c_str(), "rb");
  if (in == nullptr) {
    // An older copy must not stand in for a description that is gone.
    std::remove(to.c_str());
    return;
  }
  std::FILE* out = open_for_write(to, "wb");
  if (out != nullptr) {
    char buffer[1 << 16];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) std::fwrite(buffer, 1, got, out);
    if (std::ferror(in) || std::fclose(out) != 0) {
      std::printf("Error: cannot copy file %s to %s\n", from.c_str(), to.c_str());
    }
  }
  std::fclose(in);
}

}  // namespace

void run_experiment(const std::string& dataset_name, const std::string& target_attr,
                    const std::string& target_value, int min_sup,
                    const std::string& output_name, double max_pvalue, double min_diff) {
  const WallTime start = read_wall_clock();

  split_dataset(dataset_name);
  copy_attribute_description(names_file(dataset_name), names_file(mining_part_base(dataset_name)));

  mine_and_validate(mining_part_base(dataset_name), test_part_base(dataset_name), output_name,
                    target_attr, target_value, min_sup, max_pvalue, kMaxLocalPvalue, min_diff);

  RuleCountRecord counts;
  if (std::FILE* file = open_for_read(rule_count_file(output_name))) {
    read_rule_count(file, counts);
  }
  const double elapsed = elapsed_seconds(start, read_wall_clock());

  std::printf("%s", format_report(counts).c_str());
  const ExperimentSettings settings{dataset_name, min_sup, kMaxLen, max_pvalue, kMaxLocalPvalue,
                                    min_diff};
  append_summary_line(format_summary_line(settings, elapsed, run_stats, counts));
  std::fflush(stdout);
}

int varnel_main(int argc, char** argv) {
  const char* program = argc > 0 ? argv[0] : "varnel";
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    print_usage(program);
    return 0;
  }
  // A call that did nothing must not look like success to a calling script.
  if (argc != 7) {
    print_usage(program);
    return -1;
  }
  const int min_sup = parse_min_sup(argv[4]);
  if (min_sup < 1) {
    std::printf("Error: please specify a positive integer as the minimum support threshold on "
                "the mining dataset\n");
    return -1;
  }
  const double max_pvalue = std::strtod(argv[5], nullptr);
  // Written so that NaN fails too.
  if (!(max_pvalue > 0.0 && max_pvalue <= 1.0)) {
    std::printf("Error: please specify a value between 0 and 1 as the maximum p-value "
                "threshold\n");
    return -1;
  }
  const int lock = lock_working_directory();
  run_experiment(argv[1], argv[2], argv[3], min_sup, argv[6], max_pvalue, kMinDiff);
  unlock_working_directory(lock);
  return 0;
}
