// Error control on data whose class is independent of every attribute: any
// rule a family-wise procedure keeps there is a false discovery, so over
// many such data sets the share with at least one must stay within the level
// (allowing three standard errors of the share). The holdout experiment and
// the miner's direct-adjustment run, with the real executables and fixed
// seeds, so that the test always sees the same data and permutations.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "brimel/generated_data.h"
#include "common/run_files.h"
#include "minerio/miner_params.h"
#include "support/json_file.h"
#include "support/scratch_dir.h"

namespace {

using nlohmann::json;

const std::string kVarnel = std::string(VARNEL_BIN_DIR) + "/varnel";
const std::string kBrimel = std::string(VARNEL_BIN_DIR) + "/Brimel";

constexpr int kDataSets = 200;
constexpr int kRecords = 200;
constexpr int kMinSup = 10;  // of the holdout's mining half; the whole data's is twice that
constexpr double kLevel = 0.05;

TEST(NullErrorRate, EveryFamilyWiseProcedureFindsSomethingInAtMostTheLevelOfDataSets) {
  const std::vector<std::string> direct_methods = {
      "bonferroni_tested", "search_space",   "layered",           "tarone",
      "tarone_lowered",    "westfall_young", "bonferroni_closed", "tarone_closed"};
  std::map<std::string, int> with_discovery;
  int uncorrected = 0;  // direct rules at the level itself, which controls nothing
  for (int seed = 1; seed <= kDataSets; ++seed) {
    SCOPED_TRACE(testing::Message() << "data set " << seed);
    ScratchDir scratch;
    write_generated_data(generate_null_data(static_cast<unsigned>(seed), kRecords, 8, 0.3), "d");

    const CommandResult holdout = run_program(
        kVarnel,
        {"--seed", std::to_string(seed), "d", "class", "c1", std::to_string(kMinSup), "0.05", "h"});
    ASSERT_EQ(holdout.status, 0) << holdout.output;
    const json counts = read_json(experiment_record_file("h"))["holdout"];
    with_discovery["holdout bonferroni"] += counts["sig_at_corrected"].get<int>() > 0;
    with_discovery["holdout holm"] += counts["sig_at_holm"].get<int>() > 0;
    with_discovery["holdout productive corrected"] += counts["productive_corrected"].get<int>() > 0;

    MinerParams params = miner_params_for("d", "class", "c1", 2 * kMinSup, kLevel, "o");
    params.gen_tid_list = false;
    params.direct = true;
    params.permutations = 500;
    params.tarone_lowered = true;
    params.permutation_seed = static_cast<uint64_t>(seed);
    // Every pattern more confident than each of its generalisations is a
    // rule, so that the rules are many and the procedures' errors show.
    params.max_local_pvalue = 1.0;
    ASSERT_TRUE(write_miner_params("direct.para", params));
    const CommandResult direct = run_program(kBrimel, {"direct.para"});
    ASSERT_EQ(direct.status, 0) << direct.output;
    const json record = read_json(direct_results_file("o"));
    const json& methods = record["methods"];
    uncorrected += record["rules"].get<int>() > 0;
    for (const std::string& method : direct_methods) {
      with_discovery["direct " + method] += methods[method]["rules"].get<int>() > 0;
      with_discovery["direct " + method + " productive"] +=
          methods[method]["productive_rules"].get<int>() > 0;
    }
  }
  const double bound =
      kDataSets * (kLevel + 3 * std::sqrt(kLevel * (1 - kLevel) / kDataSets));  // 19.2
  for (const auto& [procedure, count] : with_discovery) {
    std::printf("%-28s %3d of %d data sets with a discovery\n", procedure.c_str(), count,
                kDataSets);
    EXPECT_LE(count, bound) << procedure;
  }
  EXPECT_EQ(with_discovery.size(), 3 + 2 * direct_methods.size());
  // The test can tell: at the uncorrected level false discoveries are common.
  std::printf("%-28s %3d of %d data sets with a discovery\n", "direct uncorrected", uncorrected,
              kDataSets);
  EXPECT_GT(uncorrected, bound);
}

}  // namespace
