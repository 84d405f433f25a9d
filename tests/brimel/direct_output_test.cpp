// The direct run's two files: each method's verdict on rules placed just
// inside and just outside its level, with and without their local p-values,
// and the JSON counts agreeing with the rule table's columns.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <tuple>

#include "common/run_files.h"
#include "direct_output.h"
#include "stats/significance.h"
#include "support/csv_fields.h"
#include "support/scratch_dir.h"

namespace {

using nlohmann::json;

std::vector<std::string> lines_of(const std::string& path) {
  std::ifstream file(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

// Attributes of 2, 3 and 4 values: 9 patterns of one item, 26 of two, 24 of
// three. Levels: Bonferroni over 1000 patterns tested 5e-5, search space
// 0.05 / 59 = 8.47e-4, layered 0.05 / (3 * 9) = 1.85e-3, 0.05 / 78 = 6.41e-4,
// 0.05 / 72 = 6.94e-4; Tarone 1e-3; Westfall-Young 2e-4; Benjamini-Hochberg
// up to 1.2e-4; Bonferroni over 400 closed patterns 1.25e-4; Tarone over
// them 8e-4.
DirectFigures example_figures() {
  DirectFigures f;
  f.level = 0.05;
  f.transactions = 100;
  f.positives = 40;
  f.class_value = "yes, \"really\"";
  f.item_keys = {"a=1", "b=x,y", "c=3"};
  f.min_sup = 5;
  f.patterns_tested = 1000;
  f.space = count_search_space({2, 3, 4}, 100);
  f.tarone = TaroneLevel{1e-3, 50, 4};
  f.patterns_by_support.assign(101, 0);
  f.patterns_by_support[5] = 900;
  f.patterns_by_support[60] = 100;
  f.tarone_lowered_asked = true;
  f.tarone_lowered.level = TaroneLevel{5e-4, 80, 0};
  f.tarone_lowered.min_sup = 3;
  f.tarone_lowered.recounts = 1;
  f.tarone_lowered.patterns_by_support = f.patterns_by_support;
  f.tarone_lowered.patterns_by_support[3] = 200;
  f.westfall_young = WestfallYoungLevel{2e-4, 2.0000000000000001e-4, 50, 1000, 3};
  f.seed = 99;
  f.closed_patterns_tested = 400;
  f.tarone_closed = TaroneLevel{8e-4, 62, 0};
  f.fdr = StepUpCount{120, 1.2e-4};
  // The rule of three items has a local p-value of 9e-4: within Tarone's
  // level alone.
  f.rules = {{{0}, 30, 25, 1e-6, 0.0},
             {{0, 1}, 20, 16, 1.2e-4, 1e-4},
             {{2}, 50, 30, 1.5e-3, 0.0},
             {{0, 1, 2}, 10, 9, 7e-4, 9e-4},
             {{1}, 40, 22, 0.04, 0.0}};
  std::sort(f.rules.begin(), f.rules.end(),
            [](const DirectRule& a, const DirectRule& b) { return a.pvalue < b.pvalue; });
  std::vector<double> pvalues;
  for (const DirectRule& rule : f.rules) pvalues.push_back(rule.pvalue);
  f.miner_counts = count_significant(pvalues, 1000.0, 0.05);
  return f;
}

TEST(DirectOutput, EachMethodJudgesEachRuleByItsOwnLevel) {
  ScratchDir scratch;
  const DirectFigures f = example_figures();
  ASSERT_TRUE(write_direct_results(direct_results_file("o"), direct_rule_table_file("o"), f));
  const std::vector<std::string> rows = lines_of("o.direct.rules.csv");
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[0],
            "rank,rule,class,length,support,class_support,confidence,lift,pvalue,max_local_pvalue,"
            "bonferroni_tested,search_space,layered,tarone,tarone_lowered,westfall_young,fdr,"
            "bonferroni_closed,tarone_closed,bonferroni_tested_productive,search_space_productive,"
            "layered_productive,tarone_productive,tarone_lowered_productive,"
            "westfall_young_productive,bonferroni_closed_productive,tarone_closed_productive");
  // Rule, then its verdicts, then those of the family-wise methods with its
  // local p-value within their level too.
  const std::vector<std::pair<std::string, std::string>> want = {
      {"a=1", "1,1,1,1,1,1,1,1,1 1,1,1,1,1,1,1,1"},
      {"a=1 & b=x,y", "0,1,1,1,1,1,1,1,1 0,1,1,1,1,1,1,1"},
      {"a=1 & b=x,y & c=3", "0,1,0,1,0,0,0,0,1 0,0,0,1,0,0,0,0"},
      {"c=3", "0,0,1,0,0,0,0,0,0 0,0,1,0,0,0,0,0"},
      {"b=x,y", "0,0,0,0,0,0,0,0,0 0,0,0,0,0,0,0,0"}};
  for (size_t r = 0; r < want.size(); ++r) {
    const std::vector<std::string> fields = csv_fields(rows[r + 1]);
    ASSERT_EQ(fields.size(), 27u) << rows[r + 1];
    EXPECT_EQ(fields[0], std::to_string(r + 1));
    EXPECT_EQ(fields[1], want[r].first);
    EXPECT_EQ(fields[2], "yes, \"really\"");
    std::string verdicts = fields[10];
    for (size_t i = 11; i < 27; ++i) verdicts += (i == 19 ? " " : ",") + fields[i];
    EXPECT_EQ(verdicts, want[r].second) << fields[1];
    EXPECT_EQ(std::stod(fields[8]), f.rules[r].pvalue);
    EXPECT_EQ(std::stod(fields[9]), f.rules[r].max_local_pvalue);
  }
  EXPECT_EQ(csv_fields(rows[1])[6], "0.83333333333333337");  // 25 / 30
  EXPECT_EQ(std::stod(csv_fields(rows[1])[7]), (25.0 / 30) / 0.4);

  std::ifstream file("o.direct.json");
  const json record = json::parse(file);
  const json& m = record["methods"];
  EXPECT_EQ(record["rules"], 5);
  EXPECT_EQ(record["patterns_tested"], 1000);
  EXPECT_EQ(record["closed_patterns_tested"], 400);
  EXPECT_EQ(record["closed_patterns_upper_bound"], false);
  const std::vector<std::tuple<const char*, int, int>> rules = {{"bonferroni_tested", 1, 1},
                                                                {"search_space", 3, 2},
                                                                {"layered", 3, 3},
                                                                {"tarone", 3, 3},
                                                                {"tarone_lowered", 2, 2},
                                                                {"westfall_young", 2, 2},
                                                                {"fdr", 2, -1},
                                                                {"bonferroni_closed", 2, 2},
                                                                {"tarone_closed", 3, 2}};
  for (const auto& [method, count, productive] : rules) {
    EXPECT_EQ(m[method]["rules"], count) << method;
    if (productive >= 0) {
      EXPECT_EQ(m[method]["productive_rules"], productive) << method;
    } else {
      EXPECT_FALSE(m[method].contains("productive_rules")) << method;
    }
  }
  EXPECT_EQ(m["bonferroni_tested"]["level"].get<double>(), 0.05 / 1000);
  EXPECT_EQ(m["search_space"]["size"], 59);
  EXPECT_EQ(m["search_space"]["level"].get<double>(), 0.05 / 59);
  EXPECT_EQ(m["layered"]["longest"], 3);
  ASSERT_EQ(m["layered"]["lengths"].size(), 3u);
  const int sizes[] = {9, 26, 24};
  const int layered_rules[] = {2, 1, 0};
  for (int l = 0; l < 3; ++l) {
    EXPECT_EQ(m["layered"]["lengths"][l]["length"], l + 1);
    EXPECT_EQ(m["layered"]["lengths"][l]["size"], sizes[l]);
    EXPECT_EQ(m["layered"]["lengths"][l]["rules"], layered_rules[l]);
    EXPECT_EQ(m["layered"]["lengths"][l]["level"].get<double>(), 0.05 / (3.0 * sizes[l]));
  }
  EXPECT_EQ(m["tarone"]["testable"], 50);
  EXPECT_EQ(m["tarone"]["lower_support"], 4);
  EXPECT_EQ(m["tarone_lowered"]["computed"], true);
  EXPECT_EQ(m["tarone_lowered"]["min_sup"], 3);
  EXPECT_EQ(m["tarone_lowered"]["testable"], 80);
  EXPECT_EQ(m["westfall_young"]["permutations"], 1000);
  EXPECT_EQ(m["westfall_young"]["seed"], 99);
  EXPECT_EQ(m["westfall_young"]["allowed_minima"], 50);
  EXPECT_EQ(m["westfall_young"]["rule"], "1 + #{minima <= level} <= alpha (J + 1)");
  EXPECT_EQ(m["westfall_young"]["lower_support"], 3);
  EXPECT_EQ(m["fdr"]["level"].get<double>(), 1.2e-4);
  EXPECT_EQ(m["fdr"]["accepted"], 120);
  EXPECT_EQ(m["fdr"]["tests"], 1000);
  EXPECT_EQ(m["bonferroni_closed"]["level"].get<double>(), 0.05 / 400);
  EXPECT_EQ(m["bonferroni_closed"]["tests"], 400);
  EXPECT_EQ(m["tarone_closed"]["level"].get<double>(), 8e-4);
  EXPECT_EQ(m["tarone_closed"]["testable"], 62);
  EXPECT_EQ(record["patterns_by_support"]["min_sup"], 3);
  EXPECT_EQ(record["patterns_by_support"]["counts"],
            json::parse(R"([{"support": 3, "patterns": 200}, {"support": 5, "patterns": 900},
                            {"support": 60, "patterns": 100}])"));
}

TEST(DirectOutput, TaroneLoweredNotAskedForKeepsNoRuleAndCountsFromTheMinimumSupport) {
  ScratchDir scratch;
  DirectFigures f = example_figures();
  f.tarone_lowered_asked = false;
  ASSERT_TRUE(write_direct_results(direct_results_file("o"), direct_rule_table_file("o"), f));
  for (const std::string& row : lines_of("o.direct.rules.csv")) {
    if (!row.starts_with("rank")) {
      EXPECT_EQ(csv_fields(row)[14], "0") << row;
      EXPECT_EQ(csv_fields(row)[23], "0") << row;
    }
  }
  std::ifstream file("o.direct.json");
  const json record = json::parse(file);
  EXPECT_EQ(record["methods"]["tarone_lowered"]["computed"], false);
  EXPECT_TRUE(record["methods"]["tarone_lowered"]["level"].is_null());
  EXPECT_EQ(record["methods"]["tarone_lowered"]["rules"], 0);
  EXPECT_EQ(record["patterns_by_support"]["min_sup"], 5);
}

TEST(DirectOutput, CountsBeyondSixtyFourBitsAndLevelsBeyondRealsStayValidJson) {
  ScratchDir scratch;
  DirectFigures f = example_figures();
  f.space = count_search_space(std::vector<int64_t>(300, 1000), 100);
  f.westfall_young.quantile = INFINITY;
  ASSERT_TRUE(write_direct_results("d.json", "d.csv", f));
  std::ifstream file("d.json");
  const json record = json::parse(file);
  const json& m = record["methods"];
  EXPECT_TRUE(m["search_space"]["size"].is_null());  // beyond the largest double
  EXPECT_GT(m["search_space"]["log10_size"].get<double>(), 308.0);
  EXPECT_TRUE(m["layered"]["lengths"][4]["size"].is_number_float());
  EXPECT_TRUE(m["layered"]["lengths"][0]["size"].is_number_unsigned());
  EXPECT_TRUE(m["westfall_young"]["quantile"].is_null());
  EXPECT_EQ(m["search_space"]["rules"], 0);
}

TEST(DirectOutput, AFileThatCannotBeWrittenIsAnError) {
  ScratchDir scratch;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(write_direct_results("no/such/dir.json", "o.csv", example_figures()));
  const std::string console = testing::internal::GetCapturedStdout();
  EXPECT_NE(console.find("Error: cannot open file no/such/dir.json for write"), std::string::npos)
      << console;
}

}  // namespace
