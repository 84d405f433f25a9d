// The real executable: usage, exit status, and output files that are either
// all replaced or all left as they were.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "generated_data.h"

namespace {

const std::string kBrimel = std::string(VARNEL_BIN_DIR) + "/Brimel";

const std::vector<std::string> kOutputs = {
    "o.attrvalue2item.txt", "o.tgtvalues.map", "o.tgtvalues",  "o.sorted.rules.txt",
    "o.tidlist.dir",        "o.tidlist",       "o.cfptree.stat", "o.sorted.rulenum.txt"};

void write_small_data() {
  write_generated_data(generate_data(3, 120, 7, 2), "d");
}

TEST(BrimelCommand, HelpGetsTheUsageWithStatusZeroAnythingElseButOneFileWithStatusTwo) {
  ScratchDir scratch;
  const std::string usage = run_program(kBrimel, {"--help"}).output;
  EXPECT_TRUE(usage.starts_with("usage: Brimel PARAMETER_FILE\n")) << usage;
  EXPECT_EQ(run_program(kBrimel, {"--help"}).status, 0);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, std::vector<std::string>{"a.para", "b.para"},
        std::vector<std::string>{"--verbose"}}) {
    const CommandResult r = run_program(kBrimel, args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.output, usage);
  }
}

TEST(BrimelCommand, WritesAllEightFilesAndNoTemporaryOnes) {
  ScratchDir scratch;
  write_small_data();
  MinerSettings settings;
  settings.target_value = "c1";
  write_file("orsk.para", parameter_text("d", "o", settings));
  const CommandResult r = run_program(kBrimel, {"orsk.para"});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output.find("Error: "), std::string::npos) << r.output;
  for (const std::string& name : kOutputs) EXPECT_TRUE(std::filesystem::exists(name)) << name;
  for (const auto& entry : std::filesystem::directory_iterator("."))
    EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
}

TEST(BrimelCommand, WithoutTidListsWritesTheOtherSix) {
  ScratchDir scratch;
  write_small_data();
  MinerSettings settings;
  settings.gen_tid_list = false;
  write_file("orsk.para", parameter_text("d", "o", settings));
  EXPECT_EQ(run_program(kBrimel, {"orsk.para"}).status, 0);
  EXPECT_FALSE(std::filesystem::exists("o.tidlist.dir"));
  EXPECT_FALSE(std::filesystem::exists("o.tidlist"));
  EXPECT_TRUE(std::filesystem::exists("o.sorted.rules.txt"));
}

TEST(BrimelCommand, AFailedRunLeavesEveryEarlierFileAsItWas) {
  ScratchDir scratch;
  write_small_data();
  std::filesystem::create_directory("out");
  for (const std::string& name : kOutputs) write_file("out/" + name, "earlier " + name);
  MinerSettings settings;
  write_file("orsk.para", parameter_text("d", "out/o", settings));
  // A directory in the way of one temporary file makes its write fail.
  std::filesystem::create_directory("out/o.tidlist.tmp");
  std::filesystem::create_directory("out/o.tidlist.tmp/keep");
  const CommandResult r = run_program(kBrimel, {"orsk.para"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("Error: cannot open file out/o.tidlist.tmp for write"), std::string::npos)
      << r.output;
  for (const std::string& name : kOutputs) EXPECT_EQ(read_file("out/" + name), "earlier " + name);
  for (const auto& entry : std::filesystem::directory_iterator("out"))
    EXPECT_TRUE(entry.path().extension() != ".tmp" || entry.path().filename() == "o.tidlist.tmp")
        << entry.path();
}

TEST(BrimelCommand, BadParametersStopBeforeAnyFileIsWritten) {
  ScratchDir scratch;
  write_small_data();
  write_file("orsk.para", "data_file=d.data\nnames_file=d.names\ntarget_attribute=class\nmin_sup=0\noutput=o\n");
  const CommandResult r = run_program(kBrimel, {"orsk.para"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "Error: parameter min_sup=0: an integer of at least 1 expected\n");
  EXPECT_FALSE(std::filesystem::exists("o.cfptree.stat"));
}

TEST(BrimelCommand, ASingleClassGivesAnErrorAndRuleFreeFiles) {
  ScratchDir scratch;
  write_file("d.names", "class: p.\na: x, y.\n");
  write_file("d.data", "p,x\np,y\np,x\n");
  write_file("orsk.para", "data_file=d.data\nnames_file=d.names\ntarget_attribute=class\nmin_sup=1\noutput=o\n");
  const CommandResult r = run_program(kBrimel, {"orsk.para"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.output.find("Error: fewer than two values of the class attribute class"), std::string::npos);
  EXPECT_EQ(read_file("o.sorted.rules.txt"), "");
  EXPECT_EQ(read_file("o.tgtvalues.map"), "p\n");
  EXPECT_EQ(read_file("o.attrvalue2item.txt"), "a=x\na=y\n");
  EXPECT_EQ(read_file("o.cfptree.stat").substr(0, 10), "3 2 0 0 0 ");
}

}  // namespace
