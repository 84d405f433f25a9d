// The command line and the frame of one experiment: split, copy of the
// attribute description, the run, the report and the summary line.
#include "driver/experiment.h"

#include <charconv>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <optional>
#include <string_view>

#include "common/file_open.h"
#include "common/messages.h"
#include "common/run_files.h"
#include "common/stage_clock.h"
#include "driver/experiment_locks.h"
#include "driver/experiment_record.h"
#include "driver/experiment_report.h"
#include "driver/run.h"
#include "driver/split.h"
#include "minerio/miner_params.h"
#include "minerio/rule_count.h"

namespace {

void print_usage(const char* program) {
  std::printf("Usage\n");
  std::printf(
      "\t%s [--seed N] [--mining-share F] [--top-k K] dataset_name target_attr target_value "
      "mine_min_sup max_pvalue output_name \n",
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
      report_io_error("cannot copy file %s to %s", from.c_str(), to.c_str());
    }
  }
  std::fclose(in);
}

// The experiment's stages, filling `record`; returns the summary line, or
// nothing once a stage failed. The split parts' lock is released as soon as
// validation is done with the parts.
std::optional<std::string> run_stages(ExperimentRecord& record, MinerContext& miner,
                                      StageClock& clock) {
  const ExperimentOptions& options = record.options;
  const WallTime start = read_wall_clock();
  remove_run_outputs(options.output_name);

  begin_stage(clock, Stage::split);
  record.records = split_dataset(options.dataset_name, record.seed, options.mining_share);
  copy_attribute_description(names_file(options.dataset_name),
                             names_file(mining_part_base(options.dataset_name)));
  if (!reported_lines().errors.empty()) return std::nullopt;

  const std::optional<RunFigures> figures =
      mine_and_validate(options, record.records.mining_part, miner, clock);
  release_lock(miner.locks.split_parts);
  if (!figures) return std::nullopt;
  record.figures = *figures;

  begin_stage(clock, Stage::writing);
  RuleCountRecord counts;
  if (std::FILE* file = open_for_read(rule_count_file(options.output_name))) {
    read_rule_count(file, counts);
  }
  if (!reported_lines().errors.empty()) return std::nullopt;
  const double elapsed = elapsed_seconds(start, read_wall_clock());
  record.total_seconds = elapsed;

  std::printf("%s", format_report(counts).c_str());
  const ExperimentSettings settings{options.dataset_name, options.min_sup, kMaxLen,
                                    options.max_pvalue,   kMaxLocalPvalue, kMinDiff};
  return format_summary_line(settings, elapsed, figures->holdout.rules_tested,
                             figures->holdout.counts, counts);
}

}  // namespace

ExperimentResult run_experiment(const ExperimentOptions& options) {
  ExperimentResult result;
  ExperimentRecord& record = result.record;
  record.options = options;
  record.seed = options.seed ? *options.seed : fresh_split_seed();
  // Lines reported while waiting for a lock are not the experiment's own.
  MinerContext miner;
  miner.locks = take_experiment_locks(options.dataset_name);
  std::optional<std::string> summary_line;
  {
    MessageScope scope(record.reported);
    record.started_utc = utc_timestamp();
    StageClock clock;
    try {
      summary_line = run_stages(record, miner, clock);
    } catch (const std::bad_alloc&) {
      report_io_error("out of memory while %s", stage_activity(clock.current));
    }
    record.stage_seconds = stage_seconds(clock);
  }
  release_lock(miner.locks.split_parts);
  result.stop_signal = miner.stop_signal;
  // The record first, the line last: the line is the last thing an
  // experiment commits, so no line stands for a failed experiment or for one
  // whose record is missing.
  const std::string record_path = experiment_record_file(options.output_name);
  if (write_experiment_record(record_path, record) && summary_line &&
      record.reported.errors.empty()) {
    {
      MessageScope scope(record.reported);
      result.summary_written = append_summary_line(*summary_line);
    }
    // The record must not say "ok" for an experiment without its line.
    if (!result.summary_written) write_experiment_record(record_path, record);
  }
  release_lock(miner.locks.directory);
  result.succeeded = result.summary_written;
  // Kept word for word: scripts may match it.
  if (!result.succeeded) report_error("the experiment failed; no summary line was written");
  return result;
}

namespace {

enum class Parsed { run, done, bad };

// The value of option `name` at argv[first] ("--name V" or "--name=V"), with
// `first` moved to its last word; nothing when it is not that option.
std::optional<std::string_view> option_value(int argc, char** argv, int& first,
                                             std::string_view name, bool& missing) {
  const std::string_view option = argv[first];
  if (option == name) {
    if (first + 1 >= argc) {
      missing = true;
      return std::string_view{};
    }
    return std::string_view(argv[++first]);
  }
  if (option.starts_with(name) && option.size() > name.size() && option[name.size()] == '=')
    return option.substr(name.size() + 1);
  return std::nullopt;
}

// Whether `value` is all of a number of type T, stored in `out`.
template <typename T>
bool whole_number(std::string_view value, T& out) {
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), out);
  return !value.empty() && error == std::errc() && end == value.data() + value.size();
}

// A share is read with strtod, as the level is, but must be all of the text.
bool parse_share(std::string_view value, double& share) {
  const std::string text(value);
  char* end = nullptr;
  share = std::strtod(text.c_str(), &end);
  return !text.empty() && *end == '\0' && valid_mining_share(share);
}

// Reads the options before the six arguments into `options`. `first`
// becomes the index of the first argument.
Parsed parse_options(int argc, char** argv, int& first, ExperimentOptions& options) {
  const char* program = argc > 0 ? argv[0] : "varnel";
  auto refuse = [&](const char* message) {
    report_error("%s", message);
    print_usage(program);
    return Parsed::bad;
  };
  first = 1;
  while (first < argc) {
    const std::string_view option = argv[first];
    if (option == "--") {
      ++first;
      break;
    }
    if (option == "--help" || option == "-h") {
      print_usage(program);
      return Parsed::done;
    }
    if (option == "--version") {
      std::printf("varnel %s\n", VARNEL_VERSION);
      return Parsed::done;
    }
    bool missing = false;
    if (const auto value = option_value(argc, argv, first, "--seed", missing)) {
      if (missing) return refuse("--seed needs a value");
      uint64_t seed = 0;
      if (!whole_number(*value, seed)) {
        report_error("the seed must be a whole number from 0 to %llu",
                     static_cast<unsigned long long>(UINT64_MAX));
        print_usage(program);
        return Parsed::bad;
      }
      options.seed = seed;
    } else if (const auto share = option_value(argc, argv, first, "--mining-share", missing)) {
      if (missing) return refuse("--mining-share needs a value");
      if (!parse_share(*share, options.mining_share))
        return refuse("the mining share must be a number above 0 and below 1, such as 0.5");
    } else if (const auto k = option_value(argc, argv, first, "--top-k", missing)) {
      if (missing) return refuse("--top-k needs a value");
      if (!whole_number(*k, options.top_k) || options.top_k < 1)
        return refuse("--top-k must be a whole number from 1 to 2147483647");
    } else if (option.starts_with("--")) {
      report_error("unknown option %s", argv[first]);
      print_usage(program);
      return Parsed::bad;
    } else {
      break;
    }
    ++first;
  }
  return Parsed::run;
}

}  // namespace

int varnel_main(int argc, char** argv) {
  const char* program = argc > 0 ? argv[0] : "varnel";
  int first = 1;
  ExperimentOptions options;
  const Parsed parsed = parse_options(argc, argv, first, options);
  if (parsed == Parsed::done) return 0;
  // A call that did nothing must not look like success to a calling script.
  if (parsed == Parsed::bad) return -1;
  if (argc - first != 6) {
    print_usage(program);
    return -1;
  }
  char** args = argv + first;
  const int min_sup = parse_min_sup(args[3]);
  if (min_sup < 1) {
    report_error(
        "please specify a positive integer as the minimum support threshold on "
        "the mining dataset");
    return -1;
  }
  const double max_pvalue = std::strtod(args[4], nullptr);
  // Written so that NaN fails too.
  if (!(max_pvalue > 0.0 && max_pvalue <= 1.0)) {
    report_error(
        "please specify a value between 0 and 1 as the maximum p-value "
        "threshold");
    return -1;
  }
  // Smaller ones have lost digits to underflow; the miner refuses them.
  if (max_pvalue < kMinLevel) {
    report_error(
        "please specify a value between 0 and 1 as the maximum p-value threshold, at least %.17g "
        "(the smallest level the miner takes)",
        kMinLevel);
    return -1;
  }
  if (args[5][0] == '\0') {
    report_error("please specify an output name: it begins the name of every result file");
    return -1;
  }
  options.dataset_name = args[0];
  options.target_attr = args[1];
  options.target_value = args[2];
  options.min_sup = min_sup;
  options.max_pvalue = max_pvalue;
  options.output_name = args[5];
  const ExperimentResult result = run_experiment(options);
  // Stopped by a signal: end as that signal asks, once the record is written,
  // so that a calling shell sees it (a loop stops at Ctrl-C).
  if (result.stop_signal != 0) {
    std::fflush(stdout);
    std::signal(result.stop_signal, SIG_DFL);
    std::raise(result.stop_signal);
  }
  return result.succeeded ? 0 : 1;
}
