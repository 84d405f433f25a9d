// The corrections' order on real data (the bundled vote records): Holm's
// step-down keeps at least the rules Bonferroni keeps on the holdout side,
// and Tarone's level over the patterns tested is never below Bonferroni's
// over them, nor does Tarone keep fewer rules there.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "common/run_files.h"
#include "minerio/miner_params.h"
#include "support/scratch_dir.h"

namespace {

using nlohmann::json;

const std::string kVarnel = std::string(VARNEL_BIN_DIR) + "/varnel";
const std::string kBrimel = std::string(VARNEL_BIN_DIR) + "/Brimel";

json read_json(const std::string& path) {
  std::ifstream file(path);
  return json::parse(file);
}

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
  }
}

}  // namespace
