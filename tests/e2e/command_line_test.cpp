// The driver's argument checks, run on the real executable: messages, exit
// status, and no file touched by a rejected call.
#include <gtest/gtest.h>

#include "common/run_files.h"
#include "support/scratch_dir.h"

namespace {

const std::string kVarnel = std::string(VARNEL_BIN_DIR) + "/varnel";

std::string usage() {
  return "Usage\n\t" + kVarnel +
         " [--seed N] dataset_name target_attr target_value mine_min_sup max_pvalue output_name \n";
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
