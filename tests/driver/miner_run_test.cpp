// The miner's parameter file and its run: exact bytes, the command line
// shown, where the miner is found, and what is removed before it runs.
#include <gtest/gtest.h>

#include "common/run_files.h"
#include "driver/miner_run.h"
#include "minerio/miner_files.h"
#include "minerio/miner_params.h"

namespace {

namespace fs = std::filesystem;

// Runs the miner as the driver would for dataset d, class attribute and value
// as given, min_sup 5, max_pvalue 0.05 and output name o.
bool run_miner_for(const std::string& target_attr, const std::string& target_value) {
  return run_miner(miner_params_for("d_part_0", target_attr, target_value, 5, 0.05, "o"));
}

std::string parameter_text(const std::string& target_value, int min_sup,
                           const std::string& max_pvalue) {
  return "data_file=d_part_0.data\n"
         "names_file=d_part_0.names\n"
         "materialization_mode=freq only\n"
         "signal_type=rule\n"
         "context_attributes=\n"
         "comparing_attributes=\n"
         "target_attribute=a\n"
         "target_value=" +
         target_value +
         "\n"
         "test-statistic=fisher's exact test\n"
         "compare_mode=pairwise\n"
         "min_sup=" +
         std::to_string(min_sup) +
         "\n"
         "max_len=100\n"
         "max_pvalue=" +
         max_pvalue +
         "\n"
         "max_local_pvalue=0.050000\n"
         "effect_size_method=confidence\n"
         "min_diff=0.000000\n"
         "seeding_method=global\n"
         "data_perm_method=swap\n"
         "output_mode=all\n"
         "gen_tid_list=yes\n"
         "output=o\n";
}

void make_executable(const fs::path& path, const std::string& script) {
  write_file(path, script);
  fs::permissions(path, fs::perms::owner_all);
}

bool write_parameters(const std::string& target_value, int min_sup, double max_pvalue) {
  return write_miner_params(
      "orsk.para", miner_params_for("d_part_0", "a", target_value, min_sup, max_pvalue, "o"));
}

TEST(MinerParameterFile, WorkedExampleByteForByte) {
  ScratchDir dir;
  ASSERT_TRUE(write_parameters("v", 5, 0.05));
  const std::string text = read_file("orsk.para");
  EXPECT_EQ(text, parameter_text("v", 5, "0.050000"));
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 21);
}

TEST(MinerParameterFile, SixDecimalsUnlessTheyChangeTheLevelAndAnEmptyTargetValue) {
  ScratchDir dir;
  write_file("orsk.para", std::string(5000, 'x'));  // an older, longer file is truncated
  write_parameters("", 1, 0.0000001);
  EXPECT_EQ(read_file("orsk.para"), parameter_text("", 1, "1e-07"));
  write_parameters("v", 2, 1);
  EXPECT_EQ(read_file("orsk.para"), parameter_text("v", 2, "1.000000"));
  write_parameters("v", 2, 0.0000123);
  EXPECT_EQ(read_file("orsk.para"), parameter_text("v", 2, "1.23e-05"));
  // What is written is read back as the same settings.
  MinerParams read;
  ASSERT_TRUE(read_miner_params("orsk.para", read));
  EXPECT_EQ(read.max_pvalue, 0.0000123);
  EXPECT_EQ(read.min_sup, 2);
  EXPECT_EQ(read.target_value, "v");
  EXPECT_EQ(read.output, "o");
  EXPECT_TRUE(read.gen_tid_list);
}

TEST(MinerParameterFile, UncreatableFileIsReportedAndTheMinerNotRun) {
  ScratchDir dir;
  fs::create_directory("orsk.para");
  make_executable("Brimel", "#!/bin/sh\n: > ran\n");
  EXPECT_EQ(capture_stdout([] { run_miner_for("a", "v"); }),
            "Error: cannot open file orsk.para for write\n");
  EXPECT_FALSE(fs::exists("ran"));
}

TEST(MinerCommand, LocalMinerFirstThenTheInstalledOne) {
  ScratchDir dir;
  fs::create_directory("install");
  EXPECT_EQ(find_miner_executable("install"), "./Brimel");  // nowhere: the start fails visibly
  write_file("install/Brimel", "not executable");
  EXPECT_EQ(find_miner_executable("install"), "./Brimel");
  make_executable("install/Brimel", "#!/bin/sh\n");
  EXPECT_EQ(find_miner_executable("install"), "install/Brimel");
  EXPECT_EQ(find_miner_executable(""), "./Brimel");
  make_executable("Brimel", "#!/bin/sh\n");
  EXPECT_EQ(find_miner_executable("install"), "./Brimel");
}

TEST(MinerCommand, InstalledPathIsQuotedForDisplay) {
  EXPECT_EQ(miner_command_line("./Brimel"), "./Brimel orsk.para\n");
  EXPECT_EQ(miner_command_line("/opt/my tools/Brimel"), "'/opt/my tools/Brimel' orsk.para\n");
  EXPECT_EQ(miner_command_line("/a'b/Brimel"), "'/a'\\''b/Brimel' orsk.para\n");
}

TEST(MinerRun, ShowsTheCommandAndWaits) {
  ScratchDir dir;
  // The fake miner records its arguments, prints a line and writes one file.
  make_executable("Brimel",
                  "#!/bin/sh\n"
                  "printf '%s|' \"$0\" \"$@\" > args.txt\n"
                  "echo mined\n"
                  "echo new > o.cfptree.stat\n");
  const std::string console = capture_stdout([] { run_miner_for("a", "v"); });
  EXPECT_EQ(console, "./Brimel orsk.para\nmined\n");
  EXPECT_EQ(read_file("args.txt"), "./Brimel|orsk.para|");
  EXPECT_EQ(read_file("o.cfptree.stat"), "new\n");
  EXPECT_EQ(read_file("orsk.para"), parameter_text("v", 5, "0.050000"));
}

TEST(MinerRun, LineBreakInATextIsRefused) {
  ScratchDir dir;
  make_executable("Brimel", "#!/bin/sh\n: > ran\n");
  EXPECT_EQ(capture_stdout([] { run_miner_for("a", "v\noutput=/tmp/elsewhere"); }),
            "Error: the target value holds a line break; the miner is not run\n");
  EXPECT_EQ(capture_stdout([] { run_miner_for("a\r", "v"); }),
            "Error: the target attribute holds a line break; the miner is not run\n");
  EXPECT_FALSE(fs::exists("ran"));
  EXPECT_FALSE(fs::exists("orsk.para"));
}

TEST(MinerRun, MinerThatCannotStartIsReported) {
  ScratchDir dir;
  make_executable("Brimel", "#!/no/such/interpreter\n");
  const std::string console = capture_stdout([] { run_miner_for("a", "v"); });
  EXPECT_EQ(console.rfind("./Brimel orsk.para\nError: cannot start the miner ./Brimel: ", 0), 0u)
      << console;
}

}  // namespace
