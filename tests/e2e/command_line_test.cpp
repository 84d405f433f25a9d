// The driver's argument checks, run on the real executable: messages, exit
// status, and no file touched by a rejected call.
#include <gtest/gtest.h>

#include "common/run_files.h"
#include "support/scratch_dir.h"

namespace {

const std::string kVarnel = std::string(VARNEL_BIN_DIR) + "/varnel";

std::string usage() {
  return "Usage\n\t" + kVarnel +
         " [--seed N] [--mining-share F] [--top-k K] dataset_name target_attr target_value "
         "mine_min_sup max_pvalue output_name \n";
}

const char* const kMinSupError =
    "Error: please specify a positive integer as the minimum support threshold on the mining "
    "dataset\n";
const char* const kPvalueError =
    "Error: please specify a value between 0 and 1 as the maximum p-value threshold\n";

// Runs varnel in an empty directory and checks that it stays empty.
CommandResult run_rejected(const std::vector<std::string>& args) {
  ScratchDir dir;
  CommandResult result = run_program(kVarnel, args);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path)) << "a rejected call wrote a file";
  return result;
}

}  // namespace

TEST(CommandLine, WrongArgumentCountPrintsUsageAndFails) {
  for (const auto& args : {std::vector<std::string>{"d", "a", "v", "5", "0.05"},
                           std::vector<std::string>{"d", "a", "v", "5", "0.05", "o", "x"},
                           std::vector<std::string>{}}) {
    const CommandResult result = run_rejected(args);
    EXPECT_EQ(result.output, usage());
    EXPECT_EQ(result.status, 255);
  }
}

TEST(CommandLine, HelpPrintsUsageAndSucceeds) {
  const CommandResult result = run_rejected({"--help"});
  EXPECT_EQ(result.output, usage());
  EXPECT_EQ(result.status, 0);
}

// A share outside (0, 1) or with more than a number in it, a k below 1 or
// not a whole number, and an option without its value: the line and the
// usage, status 255, no file.
TEST(CommandLine, MiningShareAndTopKMustBeInRange) {
  const std::string share_error =
      "Error: the mining share must be a number above 0 and below 1, such as 0.5\n";
  const std::string k_error = "Error: --top-k must be a whole number from 1 to 2147483647\n";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--mining-share", "0"}, share_error},
      {{"--mining-share", "1"}, share_error},
      {{"--mining-share=-0.2"}, share_error},
      {{"--mining-share", "0.5x"}, share_error},
      {{"--mining-share", "nan"}, share_error},
      {{"--mining-share="}, share_error},
      {{"--top-k", "0"}, k_error},
      {{"--top-k=-3"}, k_error},
      {{"--top-k", "1.5"}, k_error},
      {{"--top-k", "3000000000"}, k_error},
      {{"--top-k"}, "Error: --top-k needs a value\n"}};
  for (const auto& [options, error] : cases) {
    std::vector<std::string> args = options;
    if (options.size() == 1 && options[0] == "--top-k") {
      args = {"--top-k"};
    } else {
      for (const char* arg : {"d", "a", "v", "5", "0.05", "o"}) args.push_back(arg);
    }
    const CommandResult result = run_rejected(args);
    EXPECT_EQ(result.output, error + usage()) << options[0];
    EXPECT_EQ(result.status, 255);
  }
}

TEST(CommandLine, MinimumSupportMustBePositive) {
  for (const std::string bad : {"0", "-4", "abc", ""}) {
    const CommandResult result = run_rejected({"d", "a", "v", bad, "abc", "o"});
    EXPECT_EQ(result.output, kMinSupError) << bad;
    EXPECT_EQ(result.status, 255);
  }
}

TEST(CommandLine, MaximumPvalueMustLieInZeroToOne) {
  for (const std::string bad : {"0", "-0.1", "1.5", "abc", "nan", "inf"}) {
    const CommandResult result = run_rejected({"d", "a", "v", "12abc", bad, "o"});
    EXPECT_EQ(result.output, kPvalueError) << bad;
    EXPECT_EQ(result.status, 255);
  }
}

// Below the smallest normal double the miner takes no level, and varnel
// says so rather than "between 0 and 1"; an empty output name would write
// hidden files (".rules.csv").
TEST(CommandLine, LevelsTheMinerRefusesAndAnEmptyOutputName) {
  for (const std::string tiny : {"5e-324", "1e-310", "2.2250738585072009e-308"}) {
    const CommandResult result = run_rejected({"d", "a", "v", "5", tiny, "o"});
    EXPECT_EQ(result.output,
              "Error: please specify a value between 0 and 1 as the maximum p-value threshold, at "
              "least 2.2250738585072014e-308 (the smallest level the miner takes)\n")
        << tiny;
    EXPECT_EQ(result.status, 255);
  }
  const CommandResult empty = run_rejected({"d", "a", "v", "5", "0.05", ""});
  EXPECT_EQ(empty.output,
            "Error: please specify an output name: it begins the name of every result file\n");
  EXPECT_EQ(empty.status, 255);

  // The smallest level itself runs through the miner.
  ScratchDir dir;
  const std::string examples = std::string(VARNEL_SOURCE_DIR) + "/examples/";
  write_file("vote.data", read_file(examples + "vote.data"));
  write_file("vote.names", read_file(examples + "vote.names"));
  const CommandResult smallest =
      run_program(kVarnel, {"vote", "Class", "1", "20", "2.2250738585072014e-308", "o"});
  EXPECT_EQ(smallest.status, 0) << smallest.output;
}

TEST(CommandLine, AcceptedArgumentsRunAnExperiment) {
  ScratchDir dir;
  // 12abc reads as 12, a level of 1 is allowed and the target value may be
  // empty; with no dataset the experiment starts, but fails and adds no
  // summary line.
  const CommandResult result = run_program(kVarnel, {"d", "a", "", "12abc", "1", "o"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.output,
            "Error: cannot open file d.data for read\n"
            "Error: the experiment failed; no summary line was written\n");
  EXPECT_FALSE(std::filesystem::exists(kSummaryFile));
}
