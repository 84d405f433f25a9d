// The holdout design's two options on the bundled vote records, through the
// real programs: the mining share sizes each stratum's mining part and is
// recorded, the default share splits byte for byte as before; top-k mining
// mines the K rules of smallest p-value, which holdout re-tests at level / K,
// and Brimel writes the same files for it on one thread and on several.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>

#include "common/run_files.h"
#include "minerio/miner_params.h"
#include "support/csv_fields.h"
#include "support/json_file.h"
#include "support/scratch_dir.h"

namespace {

using nlohmann::json;

const std::string kVarnel = std::string(VARNEL_BIN_DIR) + "/varnel";
const std::string kBrimel = std::string(VARNEL_BIN_DIR) + "/Brimel";

void copy_vote() {
  const std::string examples = std::string(VARNEL_SOURCE_DIR) + "/examples/";
  write_file("vote.data", read_file(examples + "vote.data"));
  write_file("vote.names", read_file(examples + "vote.names"));
}

// The values of one column of a rule table, in its order.
std::vector<std::string> column_of(const std::string& path, const std::string& name) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  const std::vector<std::string> header = csv_fields(line);
  const auto at =
      static_cast<size_t>(std::find(header.begin(), header.end(), name) - header.begin());
  std::vector<std::string> values;
  while (std::getline(file, line)) values.push_back(csv_fields(line).at(at));
  return values;
}

}  // namespace

// 168 records of class 1 and 267 others: per share, each stratum's mining
// part is share x size rounded, a half down.
TEST(DesignOptions, TheMiningShareSizesTheStrataAndIsRecorded) {
  ScratchDir scratch;
  copy_vote();
  const std::vector<std::pair<std::string, int>> shares = {
      {"0.3", 50 + 80}, {"0.5", 84 + 133}, {"0.7", 118 + 187}, {"0.125", 21 + 33}};
  for (const auto& [share, mining] : shares) {
    const CommandResult r = run_program(
        kVarnel, {"--seed", "4", "--mining-share", share, "vote", "Class", "1", "20", "0.05", "o"});
    ASSERT_EQ(r.status, 0) << r.output;
    const json record = read_json(experiment_record_file("o"));
    EXPECT_EQ(record["records"]["mining_part"], mining) << share;
    EXPECT_EQ(record["records"]["test_part"], 435 - mining) << share;
    EXPECT_EQ(record["arguments"]["mining_share"], std::stod(share));
    EXPECT_EQ(record["arguments"]["top_k"], nullptr);
  }
  // The default share and 0.5 given write the same parts and the same rules.
  const std::string parts[] = {"vote_part_0.data", "vote_part_1.data", "o.rules.csv"};
  ASSERT_EQ(run_program(kVarnel, {"--seed", "4", "vote", "Class", "1", "20", "0.05", "o"}).status,
            0);
  std::vector<std::string> by_default;
  for (const std::string& file : parts) by_default.push_back(read_file(file));
  ASSERT_EQ(run_program(kVarnel, {"--seed", "4", "--mining-share=0.5", "vote", "Class", "1", "20",
                                  "0.05", "o"})
                .status,
            0);
  for (size_t i = 0; i < std::size(parts); ++i) EXPECT_EQ(read_file(parts[i]), by_default[i]);
}

// The top 10 rules of a split are the 10 of smallest mined p-value among
// every rule of the split; holdout re-tests them at level / 10.
TEST(DesignOptions, TopKMinesTheKRulesOfSmallestPvalueAndHoldoutTestsThemAtLevelOverK) {
  ScratchDir scratch;
  copy_vote();
  ASSERT_EQ(run_program(kVarnel, {"--seed", "7", "vote", "Class", "1", "1", "0.05", "all"}).status,
            0);
  std::vector<double> every;
  for (const std::string& p : column_of("all.rules.csv", "mined_pvalue"))
    every.push_back(std::stod(p));
  std::sort(every.begin(), every.end());
  ASSERT_GT(every.size(), 10u);

  const CommandResult r = run_program(
      kVarnel, {"--seed", "7", "--top-k", "10", "vote", "Class", "1", "1", "0.05", "top"});
  ASSERT_EQ(r.status, 0) << r.output;
  const json record = read_json(experiment_record_file("top"));
  EXPECT_EQ(record["arguments"]["top_k"], 10);
  EXPECT_EQ(record["holdout"]["rules_tested"], 10);
  EXPECT_EQ(record["holdout"]["corrected_level"], 0.05 / 10);
  std::vector<double> top;
  for (const std::string& p : column_of("top.rules.csv", "mined_pvalue"))
    top.push_back(std::stod(p));
  std::sort(top.begin(), top.end());
  EXPECT_EQ(top, std::vector<double>(every.begin(), every.begin() + 10));
  // The miner searched far fewer patterns than every one of support 1.
  EXPECT_LT(
      record["miner"]["patterns_tested"].get<int64_t>(),
      read_json(experiment_record_file("all"))["miner"]["patterns_tested"].get<int64_t>() / 10);
}

// Brimel's files under top-k, direct adjustment included, on one thread and
// on three: the same bytes but the statistics file's milliseconds.
TEST(DesignOptions, BrimelTopKWritesTheSameFilesOnOneThreadAndOnThree) {
  ScratchDir scratch;
  copy_vote();
  const CommandResult written =
      run_program(kBrimel, {"--write-parameters", "p.para", "vote", "Class", "1", "1", "0.05", "o",
                            "--top-k", "25", "--direct", "--permutations", "100"});
  ASSERT_EQ(written.status, 0) << written.output;
  MinerParams params;
  ASSERT_TRUE(read_miner_params("p.para", params));
  EXPECT_EQ(params.top_k, 25);
  std::vector<std::string> first;
  for (const char* threads : {"1", "3"}) {
    setenv("BRIMEL_THREADS", threads, 1);
    const CommandResult r = run_program(kBrimel, {"p.para"});
    unsetenv("BRIMEL_THREADS");
    ASSERT_EQ(r.status, 0) << r.output;
    std::string stat = read_file(statistics_file("o"));
    stat = stat.substr(0, stat.rfind(' '));  // the milliseconds
    const std::vector<std::string> files = {read_file(rule_file("o")),
                                            read_file(rule_count_file("o")),
                                            stat,
                                            read_file(tidlist_file("o")),
                                            read_file(direct_results_file("o")),
                                            read_file(direct_rule_table_file("o"))};
    if (first.empty()) {
      first = files;
    } else {
      for (size_t i = 0; i < files.size(); ++i) EXPECT_EQ(files[i], first[i]) << "file " << i;
    }
  }
  const json direct = read_json(direct_results_file("o"));
  EXPECT_EQ(direct["rules"], 25);
  EXPECT_EQ(direct["top_k"]["k"], 25);
  EXPECT_EQ(direct["top_k"]["min_sup_given"], 1);
  EXPECT_GT(direct["min_sup"].get<int>(), 1);
  EXPECT_EQ(direct["methods"]["fdr"]["level"], nullptr);
  EXPECT_EQ(direct["methods"]["fdr"]["valid_under_top_k"], false);
  EXPECT_EQ(direct["methods"]["westfall_young"]["valid_under_top_k"], true);
  // A bad value is refused with its own line.
  const CommandResult bad = run_program(kBrimel, {"--write-parameters", "q.para", "vote", "Class",
                                                  "1", "1", "0.05", "o", "--top-k", "0"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.output, "Error: --top-k 0: an integer of at least 1 expected\n");
}
