// The real executable: usage, exit status, and output files that are either
// all replaced or all left as they were.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "common/run_files.h"
#include "generated_data.h"
#include "minerio/driver_link.h"
#include "minerio/miner_params.h"

namespace {

const std::string kBrimel = std::string(VARNEL_BIN_DIR) + "/Brimel";

const std::vector<std::string> kOutputs = {
    "o.attrvalue2item.txt", "o.tgtvalues.map", "o.tgtvalues",    "o.sorted.rules.txt",
    "o.tidlist.dir",        "o.tidlist",       "o.cfptree.stat", "o.sorted.rulenum.txt"};

void write_small_data() { write_generated_data(generate_data(3, 120, 7, 2), "d"); }

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
  EXPECT_EQ(r.status, kMinerSystemFailure);  // a write failed: the system's fault
  EXPECT_NE(r.output.find("Error: cannot open file out/o.tidlist.tmp for write"), std::string::npos)
      << r.output;
  for (const std::string& name : kOutputs) EXPECT_EQ(read_file("out/" + name), "earlier " + name);
  for (const auto& entry : std::filesystem::directory_iterator("out"))
    EXPECT_TRUE(entry.path().extension() != ".tmp" || entry.path().filename() == "o.tidlist.tmp")
        << entry.path();
}

TEST(BrimelCommand, EveryThreadCountWritesTheSameFiles) {
  ScratchDir scratch;
  write_generated_data(generate_data(8, 900, 11, 2, 1), "d");
  MinerSettings settings;
  settings.target_value = "c1";
  settings.min_sup = 4;
  write_file("orsk.para", parameter_text("d", "o", settings));
  // The statistics file ends in the run's time, which may differ.
  auto files = [] {
    std::vector<std::string> contents;
    for (const std::string& name : kOutputs) contents.push_back(read_file(name));
    std::string& statistics = contents[6];
    statistics.erase(statistics.find_last_of(' '));
    return contents;
  };
  std::vector<std::string> one_thread;
  std::string one_thread_output;
  struct Setting {
    const char* threads;
    bool warned;
  };
  for (const Setting setting : {Setting{"1", false}, Setting{"2", false}, Setting{"3", false},
                                Setting{"0", true}, Setting{"two", true}}) {
    SCOPED_TRACE(setting.threads);
    setenv("BRIMEL_THREADS", setting.threads, 1);
    CommandResult r = run_program(kBrimel, {"orsk.para"});
    unsetenv("BRIMEL_THREADS");
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string warning = std::string("Warning: BRIMEL_THREADS=") + setting.threads +
                                " is not a thread count from 1 to 1024; ignored\n";
    EXPECT_EQ(r.output.find(warning) != std::string::npos, setting.warned) << r.output;
    if (setting.warned) r.output.erase(r.output.find(warning), warning.size());
    if (one_thread.empty()) {
      one_thread = files();
      one_thread_output = r.output;
      ASSERT_NE(one_thread[3], "");  // some rules
    } else {
      EXPECT_EQ(files(), one_thread);
      EXPECT_EQ(r.output, one_thread_output);
    }
  }
}

TEST(BrimelCommand, BadParametersStopBeforeAnyFileIsWritten) {
  ScratchDir scratch;
  write_small_data();
  write_file("orsk.para",
             "data_file=d.data\nnames_file=d.names\ntarget_attribute=class\nmin_sup=0\noutput=o\n");
  const CommandResult r = run_program(kBrimel, {"orsk.para"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "Error: parameter min_sup=0: an integer of at least 1 expected\n");
  EXPECT_FALSE(std::filesystem::exists("o.cfptree.stat"));
}

// Scripts write the parameter file through the miner rather than spell out
// its keys: the file is the driver's, and bad values write nothing.
TEST(BrimelCommand, WriteParametersWritesTheDriversFileAndRefusesBadValues) {
  ScratchDir scratch;
  write_small_data();
  CommandResult r = run_program(kBrimel, {"--write-parameters", "p.para", "d", "class", "c1", "3",
                                          "0.05", "o", "--no-tid-lists"});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output, "");
  MinerParams params = miner_params_for("d", "class", "c1", 3, 0.05, "o");
  params.gen_tid_list = false;
  ASSERT_TRUE(write_miner_params("driver.para", params));
  EXPECT_EQ(read_file("p.para"), read_file("driver.para"));
  EXPECT_EQ(run_program(kBrimel, {"p.para"}).status, 0);
  EXPECT_TRUE(std::filesystem::exists("o.sorted.rules.txt"));
  EXPECT_FALSE(std::filesystem::exists("o.tidlist"));

  const struct {
    std::vector<std::string> args;
    int status;
    std::string output_start;
  } bad[] = {
      {{"q.para", "d", "class", "c1", "0", "0.05", "o"}, 1, "Error: MIN_SUP 0: "},
      {{"q.para", "d", "class", "c1", "3", "0", "o"}, 1, "Error: MAX_PVALUE 0: "},
      {{"q.para", "d", "class", "c1", "3", "1e-400", "o"}, 1, "Error: MAX_PVALUE 1e-400: "},
      {{"q.para", "d", "class", "c1\noutput=x", "3", "0.05", "o"},
       1,
       "Error: parameter target_value holds a line break"},
      {{"q.para", "d", "class", "c1", "3", "0.05"}, 2, "usage: Brimel"},
      {{"q.para", "d", "class", "c1", "3", "0.05", "o", "--other"}, 2, "usage: Brimel"},
      {{"q.para", "d", "class", "c1", "3", "0.05", "o", "--direct", "--permutations"},
       2,
       "usage: Brimel"},
      {{"q.para", "d", "class", "c1", "3", "0.05", "o", "--direct", "--permutations", "100001"},
       1,
       "Error: --permutations 100001: an integer from 0 to 100000 expected"},
      {{"q.para", "d", "class", "c1", "3", "0.05", "o", "--direct", "--permutation-seed", "-1"},
       1,
       "Error: --permutation-seed -1: "},
      {{"q.para", "d", "class", "c1", "3", "0.05", "o", "--permutations", "10"},
       1,
       "Error: --permutations, --permutation-seed and --tarone-lowered need --direct"},
      {{"q.para", "d", "class", "c1", "3", "0.05", "o", "--tarone-lowered"},
       1,
       "Error: --permutations, --permutation-seed and --tarone-lowered need --direct"},
      {{"q.para", "d", "class", "c1", "3", "0.05", "o", "--top-k"}, 2, "usage: Brimel"},
      {{"q.para", "d", "class", "c1", "3", "0.05", "o", "--top-k", "2.5"},
       1,
       "Error: --top-k 2.5: an integer of at least 1 expected"},
  };
  for (const auto& b : bad) {
    std::vector<std::string> args = {"--write-parameters"};
    args.insert(args.end(), b.args.begin(), b.args.end());
    r = run_program(kBrimel, args);
    EXPECT_EQ(r.status, b.status) << b.args[4];
    EXPECT_TRUE(r.output.starts_with(b.output_start)) << r.output;
    EXPECT_FALSE(std::filesystem::exists("q.para"));
  }
}

// Direct adjustment: asked for by three lines at the end of the file, which
// a file without them (the driver's) does not get; absurd counts are refused.
TEST(BrimelCommand, DirectAdjustmentIsAskedForByItsOwnLinesAndAbsurdCountsAreRefused) {
  ScratchDir scratch;
  write_small_data();
  CommandResult r =
      run_program(kBrimel, {"--write-parameters", "p.para", "d", "class", "c1", "3", "0.05", "o",
                            "--direct", "--permutations", "500", "--permutation-seed",
                            "18446744073709551615", "--tarone-lowered"});
  EXPECT_EQ(r.status, 0) << r.output;
  ASSERT_TRUE(
      write_miner_params("driver.para", miner_params_for("d", "class", "c1", 3, 0.05, "o")));
  EXPECT_EQ(read_file("p.para"), read_file("driver.para") + std::string(parameter_key::direct) +
                                     "=yes\n" + std::string(parameter_key::permutations) +
                                     "=500\n" + std::string(parameter_key::permutation_seed) +
                                     "=18446744073709551615\n" +
                                     std::string(parameter_key::tarone_lowered) + "=yes\n");
  MinerParams params;
  ASSERT_TRUE(read_miner_params("p.para", params));
  EXPECT_TRUE(params.direct);
  EXPECT_EQ(params.permutations, 500);
  EXPECT_EQ(params.permutation_seed, UINT64_MAX);
  EXPECT_TRUE(params.tarone_lowered);
  r = run_program(kBrimel, {"p.para"});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(std::filesystem::exists(direct_results_file("o")));
  EXPECT_TRUE(std::filesystem::exists(direct_rule_table_file("o")));
  EXPECT_NE(r.output.find("o.{attrvalue2item.txt,tgtvalues.map,tgtvalues,sorted.rules.txt,"
                          "tidlist.dir,tidlist,direct.json,direct.rules.csv,sorted.rulenum.txt,"
                          "cfptree.stat}"),
            std::string::npos)
      << r.output;

  // Top-k: its line after the output, before direct adjustment's.
  r = run_program(kBrimel, {"--write-parameters", "k.para", "d", "class", "c1", "3", "0.05", "o",
                            "--direct", "--top-k", "12"});
  EXPECT_EQ(r.status, 0) << r.output;
  params = miner_params_for("d", "class", "c1", 3, 0.05, "o");
  params.direct = true;
  params.top_k = 12;
  ASSERT_TRUE(write_miner_params("driver.para", params));
  EXPECT_EQ(read_file("k.para"), read_file("driver.para"));
  EXPECT_NE(read_file("k.para").find("\noutput=o\n" + std::string(parameter_key::top_k) + "=12\n" +
                                     std::string(parameter_key::direct) + "=yes\n"),
            std::string::npos);
  params = MinerParams{};
  ASSERT_TRUE(read_miner_params("k.para", params));
  EXPECT_EQ(params.top_k, 12);

  ASSERT_TRUE(
      write_miner_params("driver.para", miner_params_for("d", "class", "c1", 3, 0.05, "o")));
  const std::string driver = read_file("driver.para");
  for (const std::string& line :
       {std::string(parameter_key::top_k) + "=0", std::string(parameter_key::top_k) + "=-2",
        std::string(parameter_key::top_k) + "=1e3",
        std::string(parameter_key::permutations) + "=-1",
        std::string(parameter_key::permutations) + "=100001",
        std::string(parameter_key::permutation_seed) + "=x",
        std::string(parameter_key::direct) + "=maybe",
        std::string(parameter_key::tarone_lowered) + "=1"}) {
    write_file("bad.para", driver + line + "\n");
    r = run_program(kBrimel, {"bad.para"});
    EXPECT_EQ(r.status, 1) << line;
    EXPECT_TRUE(r.output.starts_with("Error: parameter " + line + ": ")) << r.output;
  }
  // 100,000 permutations of 90,000 records would take 1.1 GB for the labels alone.
  std::string many = "c1,x\n";
  for (int i = 0; i < 90000; ++i) many += i % 3 == 0 ? "c1,x\n" : "c0,y\n";
  write_file("big.names", "class: c0, c1.\na: x, y.\n");
  write_file("big.data", many);
  params = miner_params_for("big", "class", "c1", 3, 0.05, "b");
  params.direct = true;
  params.permutations = 100000;
  ASSERT_TRUE(write_miner_params("big.para", params));
  r = run_program(kBrimel, {"big.para"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("Error: 100000 permutations of 90001 records would take"),
            std::string::npos)
      << r.output;
  EXPECT_FALSE(std::filesystem::exists(direct_results_file("b")));
  EXPECT_FALSE(std::filesystem::exists("b.sorted.rules.txt"));
}

TEST(BrimelCommand, ASingleClassGivesAnErrorAndRuleFreeFiles) {
  ScratchDir scratch;
  write_file("d.names", "class: p.\na: x, y.\n");
  write_file("d.data", "p,x\np,y\np,x\n");
  write_file("orsk.para",
             "data_file=d.data\nnames_file=d.names\ntarget_attribute=class\nmin_sup=1\noutput=o\n");
  const CommandResult r = run_program(kBrimel, {"orsk.para"});
  // Every file is written, but an error line fails the run.
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("Error: fewer than two values of the class attribute class"),
            std::string::npos);
  EXPECT_EQ(read_file("o.sorted.rules.txt"), "");
  EXPECT_EQ(read_file("o.tgtvalues.map"), "p\n");
  EXPECT_EQ(read_file("o.attrvalue2item.txt"), "a=x\na=y\n");
  EXPECT_EQ(read_file("o.cfptree.stat").substr(0, 10), "3 2 0 0 0 ");
}

}  // namespace
