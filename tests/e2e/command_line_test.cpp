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
