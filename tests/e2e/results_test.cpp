// What an experiment leaves for a researcher, end to end with the real miner
// on the example data: reproducible splits, the rule table, the experiment
// record, and failures that are reported as failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "common/run_files.h"
#include "e2e/e2e_support.h"
#include "support/csv_fields.h"
#include "support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const std::string kVarnel = std::string(VARNEL_BIN_DIR) + "/varnel";
const std::string kEarlierSummary = "a line written by hand\n";

struct VoteDir {
  ScratchDir dir;
  VoteDir() {
    const std::string examples = std::string(VARNEL_SOURCE_DIR) + "/examples/";
    write_file("vote.data", read_file(examples + "vote.data"));
    write_file("vote.names", read_file(examples + "vote.names"));
    write_file(kSummaryFile, kEarlierSummary);
  }
};

CommandResult run(std::vector<std::string> args) { return run_program(kVarnel, args); }

TEST(Results, FailuresExitOneAndLeaveTheSummaryAsItWas) {
  const struct {
    std::vector<std::string> args;
    std::string damage;  // "names": no description; "columns": a record too long
    std::string expected_error;
  } cases[] = {
      {{"vote", "Klass", "1", "20", "0.05", "o"},
       "",
       "Error: the target attribute Klass is not among the attributes of vote_part_0.names"},
      {{"vote", "Class", "7", "20", "0.05", "o"},
       "",
       "Error: no record of the mining part vote_part_0.data has the target value 7"},
      {{"vote", "Class", "1", "20", "0.05", "o"},
       "names",
       "Error: cannot open file vote_part_0.names for read"},
      {{"vote", "Class", "1", "20", "0.05", "o"},
       "columns",
       "Error: inconsistent number of columns"},
  };
  for (const auto& c : cases) {
    VoteDir dir;
    if (c.damage == "names") fs::remove("vote.names");
    if (c.damage == "columns")
      write_file("vote.data", read_file("vote.data") + std::string(400, '1') + ",y,n,extra\n");
    const CommandResult out = run(c.args);
    SCOPED_TRACE(c.expected_error);
    EXPECT_EQ(out.status, 1) << out.output;
    EXPECT_NE(out.output.find(c.expected_error + "\n"), std::string::npos) << out.output;
    EXPECT_TRUE(
        out.output.ends_with("\nError: the experiment failed; no summary line was written\n"));
    EXPECT_EQ(read_file(kSummaryFile), kEarlierSummary);
    const json record = json::parse(read_file(experiment_record_file("o")));
    EXPECT_EQ(record["status"], "failed");
    EXPECT_EQ(record["failure"], "data");  // the same data fails the same way again
    // The record lists the driver's own lines; a line of the miner's shows
    // there as the miner's failure (it exits 1 after any error line).
    bool listed = false;
    for (const auto& line : record["errors"]) {
      const std::string text = line.get<std::string>();
      listed |= text == c.expected_error ||
                (c.damage == "columns" && text.starts_with("Error: the miner ") &&
                 text.ends_with(" exited with status 1"));
    }
    EXPECT_TRUE(listed) << record.dump(2);
  }
  // A minimum support beyond the mining part only warns: no rule, no failure.
  VoteDir dir;
  const CommandResult out = run({"vote", "Class", "1", "5000", "0.05", "o"});
  EXPECT_EQ(out.status, 0) << out.output;
  EXPECT_NE(out.output.find("Warning: the minimum support 5000 is larger than the 217 records"),
            std::string::npos);
  EXPECT_EQ(json::parse(read_file(experiment_record_file("o")))["warnings"], 1);
}

TEST(Results, TheSameSeedGivesTheSameSplitAndResults) {
  VoteDir dir;
  auto outputs = [] {
    return read_file("vote_part_0.data") + read_file("vote_part_1.data") +
           read_file(rule_table_file("o")) + read_file(rule_count_file("o"));
  };
  ASSERT_EQ(run({"--seed", "20261207", "vote", "Class", "1", "20", "0.05", "o"}).status, 0);
  const std::string first = outputs();
  ASSERT_EQ(run({"--seed=20261207", "vote", "Class", "1", "20", "0.05", "o"}).status, 0);
  EXPECT_EQ(outputs(), first);
  EXPECT_EQ(json::parse(read_file(experiment_record_file("o")))["seed"], 20261207u);

  ASSERT_EQ(run({"vote", "Class", "1", "20", "0.05", "o"}).status, 0);
  const std::string unseeded = read_file("vote_part_0.data");
  ASSERT_EQ(run({"vote", "Class", "1", "20", "0.05", "o"}).status, 0);
  EXPECT_NE(read_file("vote_part_0.data"), unseeded);

  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"--seed", "-1", "vote", "Class", "1", "20", "0.05", "o"},
        std::vector<std::string>{"--seed"},
        std::vector<std::string>{"--fast", "vote", "Class", "1", "20", "0.05", "o"}}) {
    EXPECT_EQ(run(bad).status, 255) << bad[0];
  }
  EXPECT_EQ(run({"--version"}).output, std::string("varnel ") + VARNEL_VERSION + "\n");
}

TEST(Results, RuleTableAndRecordAgreeWithTheValidatedFilesAndTheConsole) {
  VoteDir dir;
  const CommandResult out = run({"--seed", "7", "vote", "Class", "1", "20", "0.05", "o"});
  ASSERT_EQ(out.status, 0) << out.output;
  const json record = json::parse(read_file(experiment_record_file("o")));
  const json& holdout = record["holdout"];
  const std::string console_line = "#significant rules at " + [&] {
    char text[64];
    std::snprintf(text, sizeof text, "%.2E level: %d\n", 0.05, holdout["sig_at_level"].get<int>());
    return std::string(text);
  }();
  EXPECT_NE(out.output.find(console_line), std::string::npos) << out.output;
  EXPECT_NE(
      out.output.find("after validation: " + std::to_string(holdout["sig_at_level"].get<int>())),
      std::string::npos);
  EXPECT_EQ(record["status"], "ok");
  EXPECT_TRUE(record["failure"].is_null());
  EXPECT_EQ(record["records"]["dataset"], 435);
  EXPECT_EQ(record["records"]["mining_part"].get<int>() + record["records"]["test_part"].get<int>(),
            435);
  EXPECT_GE(record["miner"]["patterns_tested"].get<int64_t>(),
            record["miner"]["rules_mined"].get<int64_t>());
  EXPECT_EQ(record["miner"]["rules_mined"], holdout["rules_tested"]);
  for (const char* stage : {"split", "mining", "reading_miner_files", "loading_test_part",
                            "validation", "writing", "total"})
    EXPECT_GE(record["seconds"][stage].get<double>(), 0.0) << stage;

  const std::vector<std::string> rows = e2e::lines_of(read_file(rule_table_file("o")));
  const std::vector<std::string> validated = e2e::lines_of(read_file(rule_file("o")));
  ASSERT_EQ(rows.size(), 1 + holdout["rules_tested"].get<size_t>());
  EXPECT_EQ(csv_fields(rows[0]).size(), 22u);
  EXPECT_EQ(csv_fields(rows[0])[18], "significant_holm");
  EXPECT_EQ(csv_fields(rows[0])[19], "productive");
  EXPECT_EQ(csv_fields(rows[0])[20], "significant_bh");
  EXPECT_EQ(csv_fields(rows[0])[21], "productive_corrected");
  int reversed = 0;
  int holm = 0;
  int productive = 0;
  int productive_any = 0;
  int bh = 0;
  int productive_corrected = 0;
  std::vector<double> test_pvalues;
  for (size_t r = 1; r < rows.size(); ++r) {
    const std::vector<std::string> f = csv_fields(rows[r]);
    ASSERT_EQ(f.size(), 22u) << rows[r];
    test_pvalues.push_back(std::stod(f[13]));
    // Benjamini-Hochberg's rules lead the kept ones and include the step-down's.
    EXPECT_EQ(f[20], static_cast<int>(r) <= holdout["sig_at_bh"].get<int>() ? "1" : "0");
    if (f[17] == "1") {
      EXPECT_EQ(f[20], "1") << rows[r];
    }
    bh += f[20] == "1";
    // Productive at the corrected level: within it, and productive at the
    // local level too, which is milder.
    if (f[21] == "1") {
      EXPECT_EQ(f[16], "1") << rows[r];
      EXPECT_EQ(f[19], "1") << rows[r];
    }
    productive_corrected += f[21] == "1";
    EXPECT_EQ(f[0], std::to_string(r));
    EXPECT_EQ(f[2], "1");
    EXPECT_NE(f[1].find("="), std::string::npos);
    const bool kept = r <= validated.size();
    EXPECT_EQ(f[15], kept ? "1" : "0");
    // Holm's rules lead the kept ones, and include every one Bonferroni keeps.
    EXPECT_EQ(f[18], static_cast<int>(r) <= holdout["sig_at_holm"].get<int>() ? "1" : "0");
    if (f[16] == "1") {
      EXPECT_EQ(f[18], "1") << rows[r];
    }
    holm += f[18] == "1";
    // Only kept rules are productive; one of one item always is.
    if (f[19] == "1") {
      EXPECT_TRUE(kept) << rows[r];
    }
    if (kept && f[3] == "1") {
      EXPECT_EQ(f[19], "1") << rows[r];
    }
    productive += f[16] == "1" && f[19] == "1";
    productive_any += f[19] == "1";
    if (kept) {
      // The validated file's p-value is the table's, rounded to six digits.
      std::istringstream line(validated[r - 1]);
      int length = 0;
      line >> length;
      double value = 0;
      for (int i = 0; i <= length + 1; ++i) line >> value;
      char rounded[32];
      std::snprintf(rounded, sizeof rounded, "%g", std::stod(f[13]));
      EXPECT_EQ(std::to_string(value), std::to_string(std::stod(rounded))) << rows[r];
      reversed += f[14] == "reversed";
    }
  }
  EXPECT_EQ(holdout["reversed"], reversed);
  EXPECT_EQ(holdout["sig_at_holm"], holm);
  EXPECT_GE(holm, holdout["sig_at_corrected"].get<int>());
  EXPECT_EQ(holdout["productive"], productive);
  EXPECT_EQ(holdout["sig_at_bh"], bh);
  EXPECT_GE(bh, holdout["sig_at_fdr"].get<int>());
  EXPECT_EQ(holdout["productive_corrected"], productive_corrected);
  EXPECT_LE(productive_corrected, productive);
  // The step-up by its definition, over every rule tested.
  std::sort(test_pvalues.begin(), test_pvalues.end());
  int step_up = 0;
  for (size_t j = test_pvalues.size(); j > 0 && step_up == 0; --j)
    if (test_pvalues[j - 1] <= static_cast<double>(j) * holdout["corrected_level"].get<double>())
      step_up = static_cast<int>(j);
  EXPECT_EQ(bh, step_up);
  // The vote data's kept rules are many variations of a few strong ones:
  // some of them are productive and some are not.
  EXPECT_GT(productive_any, 0);
  EXPECT_LT(productive_any, static_cast<int>(validated.size()));
}

}  // namespace
