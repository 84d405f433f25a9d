// The corrections' order on real data (the bundled vote records): Holm's
// step-down keeps at least the rules Bonferroni keeps on the holdout side,
// and Tarone's level over the patterns tested is never below Bonferroni's
// over them, nor does Tarone keep fewer rules there; counted over closed
// patterns, the levels are the field's own figures for these data.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "common/run_files.h"
#include "minerio/miner_params.h"
#include "support/json_file.h"
#include "support/scratch_dir.h"

namespace {

using nlohmann::json;

const std::string kVarnel = std::string(VARNEL_BIN_DIR) + "/varnel";
const std::string kBrimel = std::string(VARNEL_BIN_DIR) + "/Brimel";

TEST(DirectVote, HolmKeepsAtLeastBonferroniAndTaroneAtLeastBonferroniOverPatternsTested) {
  ScratchDir scratch;
  const std::string examples = std::string(VARNEL_SOURCE_DIR) + "/examples/";
  write_file("vote.data", read_file(examples + "vote.data"));
  write_file("vote.names", read_file(examples + "vote.names"));
  for (const int seed : {1, 2, 3}) {
    const CommandResult r = run_program(
        kVarnel, {"--seed", std::to_string(seed), "vote", "Class", "1", "10", "0.05", "h"});
    ASSERT_EQ(r.status, 0) << r.output;
    const json holdout = read_json(experiment_record_file("h"))["holdout"];
    EXPECT_GE(holdout["sig_at_holm"].get<int>(), holdout["sig_at_corrected"].get<int>());
    EXPECT_GT(holdout["sig_at_corrected"].get<int>(), 0);
  }
  // 10% and 5% of the records, at the level and at a stricter one.
  for (const auto& [min_sup, level] : {std::pair{44, 0.05}, {22, 0.05}, {22, 1e-20}}) {
    SCOPED_TRACE(testing::Message() << "min_sup " << min_sup << " level " << level);
    MinerParams params = miner_params_for("vote", "Class", "1", min_sup, level, "o");
    params.gen_tid_list = false;
    params.direct = true;
    params.permutations = 200;
    ASSERT_TRUE(write_miner_params("direct.para", params));
    const CommandResult r = run_program(kBrimel, {"direct.para"});
    ASSERT_EQ(r.status, 0) << r.output;
    const json methods = read_json(direct_results_file("o"))["methods"];
    const json& bonferroni = methods["bonferroni_tested"];
    EXPECT_GE(methods["tarone"]["rules"].get<int>(), bonferroni["rules"].get<int>());
    EXPECT_GE(methods["tarone"]["level"].get<double>(), bonferroni["level"].get<double>());
    EXPECT_GT(bonferroni["rules"].get<int>(), 0);
    // Each cover once: never stricter, never fewer rules.
    const json& closed = methods["bonferroni_closed"];
    EXPECT_GE(closed["level"].get<double>(), bonferroni["level"].get<double>());
    EXPECT_GE(methods["tarone_closed"]["level"].get<double>(), closed["level"].get<double>());
    EXPECT_GE(methods["tarone_closed"]["level"].get<double>(),
              methods["tarone"]["level"].get<double>());
    EXPECT_GE(closed["rules"].get<int>(), bonferroni["rules"].get<int>());
    // Benjamini-Hochberg keeps at least what every family-wise method keeps.
    for (const char* method : {"bonferroni_tested", "tarone", "tarone_closed", "westfall_young"})
      EXPECT_GE(methods["fdr"]["rules"].get<int>(), methods[method]["rules"].get<int>()) << method;
  }
}

// LAMP, on the same records and class at a support of 15, counts 108,483
// testable closed patterns, for a level of 4.6e-7; the patterns tested
// number 300,014 there, of which 277,619 testable, for 1.8e-7.
TEST(DirectVote, ClosedPatternsAtSupportFifteenGiveTheFieldsTaroneLevel) {
  ScratchDir scratch;
  const std::string examples = std::string(VARNEL_SOURCE_DIR) + "/examples/";
  write_file("vote.data", read_file(examples + "vote.data"));
  write_file("vote.names", read_file(examples + "vote.names"));
  MinerParams params = miner_params_for("vote", "Class", "1", 15, 0.05, "o");
  params.gen_tid_list = false;
  params.direct = true;
  params.permutations = 0;
  ASSERT_TRUE(write_miner_params("direct.para", params));
  const CommandResult r = run_program(kBrimel, {"direct.para"});
  ASSERT_EQ(r.status, 0) << r.output;
  const json record = read_json(direct_results_file("o"));
  const json& methods = record["methods"];
  EXPECT_EQ(record["patterns_tested"], 300014);
  EXPECT_EQ(record["closed_patterns_tested"], 108483);
  EXPECT_EQ(record["closed_patterns_upper_bound"], false);
  EXPECT_EQ(methods["tarone"]["testable"], 277619);
  EXPECT_NEAR(methods["tarone"]["level"].get<double>(), 1.8e-7, 0.01e-7);
  EXPECT_EQ(methods["tarone_closed"]["testable"], 108483);
  EXPECT_EQ(methods["tarone_closed"]["level"].get<double>(), 0.05 / 108483);
  EXPECT_NEAR(methods["tarone_closed"]["level"].get<double>(), 4.6e-7, 0.01e-7);
  EXPECT_EQ(methods["bonferroni_closed"]["level"].get<double>(), 0.05 / 108483);
}

}  // namespace
