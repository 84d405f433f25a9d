// The real miner's direct-adjustment run against brute force on small data:
// every pattern and every permutation enumerated directly, each correction
// computed as it is defined, and the run's two files compared with them
// exactly, on one, two and three threads.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "common/run_files.h"
#include "direct_reference.h"
#include "minerio/miner_params.h"
#include "support/csv_fields.h"
#include "support/scratch_dir.h"

namespace {

using nlohmann::json;

const std::string kBrimel = std::string(VARNEL_BIN_DIR) + "/Brimel";

std::string file_text(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

struct DirectCase {
  unsigned seed;
  bool null_data;
  int min_sup;
  int max_len;
  double level;
  int32_t permutations;
  uint64_t permutation_seed;
};

// Every method's verdict on a rule, by brute force, in the table's column order.
struct BruteMethods {
  double tested = 0, space = 0, tarone = 0, tarone_lowered = 0, westfall_young = 0;
  std::vector<double> layered;  // by length
  double fdr = NAN;             // Benjamini-Hochberg's largest p-value accepted
  double closed = 0, tarone_closed = 0;
};

// Benjamini-Hochberg over every pattern tested, by its definition.
struct BruteStepUp {
  uint64_t accepted = 0;
  double largest = 0.0;
};

BruteStepUp brute_step_up(const ReferenceResult& ref, const std::vector<ReferencePattern>& tested,
                          double level, const double* lf) {
  const int n = static_cast<int>(ref.transactions.size());
  std::vector<double> pvalues;
  for (const ReferencePattern& p : tested)
    pvalues.push_back(fisher_exact_pvalue_from(lf, n, p.support, ref.positives, p.class_support));
  std::sort(pvalues.begin(), pvalues.end());
  const double step = level / static_cast<double>(pvalues.size());
  for (size_t j = pvalues.size(); j > 0; --j)
    if (pvalues[j - 1] <= static_cast<double>(j) * step) return BruteStepUp{j, pvalues[j - 1]};
  return BruteStepUp{};
}

// The closed patterns the run counts, by support: one per distinct cover of
// the patterns tested; where max_len cut the search, one per node of it
// instead, a pattern whose items, in the search's order (ascending support,
// then first appearance), each leave fewer records than the items before
// them. Entry s for support s, the cover of every transaction included.
std::vector<uint64_t> brute_closed(const ReferenceResult& ref,
                                   const std::vector<ReferencePattern>& tested, bool nodes) {
  const size_t n = ref.transactions.size();
  std::vector<uint64_t> by_support(n + 1, 0);
  if (!nodes) {
    std::set<std::vector<uint64_t>> covers;
    for (const ReferencePattern& p : tested)
      if (covers.insert(p.cover).second) ++by_support[static_cast<size_t>(p.support)];
    return by_support;
  }
  std::map<uint32_t, int> support_of;
  for (const ReferencePattern& p : tested) support_of[p.items] = p.support;
  std::vector<int> order;
  for (const auto& [items, support] : support_of)
    if (std::popcount(items) == 1) order.push_back(std::countr_zero(items));
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return support_of[1u << a] < support_of[1u << b]; });
  for (const ReferencePattern& p : tested) {
    uint32_t prefix = 0;
    int previous = static_cast<int>(n);
    bool node = true;
    for (const int item : order) {
      if (!(p.items >> item & 1)) continue;
      prefix |= 1u << item;
      node = node && support_of[prefix] < previous;
      previous = support_of[prefix];
    }
    by_support[static_cast<size_t>(p.support)] += node;
  }
  // Items in every transaction are no node's: the root stands for them.
  by_support[n] = std::any_of(tested.begin(), tested.end(), [&](const ReferencePattern& p) {
    return static_cast<size_t>(p.support) == n;
  });
  return by_support;
}

BruteMethods brute_methods(const ReferenceResult& ref, const DirectCase& c,
                           const std::vector<uint64_t>& space_by_length, int longest, double tarone,
                           double tarone_lowered, double westfall_young) {
  BruteMethods m;
  m.tested = c.level / static_cast<double>(ref.patterns_tested);
  uint64_t space = 0;
  m.layered.assign(space_by_length.size(), 0.0);
  for (int l = 1; l <= longest; ++l) {
    space += space_by_length[static_cast<size_t>(l)];
    m.layered[static_cast<size_t>(l)] =
        c.level / static_cast<double>(static_cast<uint64_t>(longest) * space_by_length[l]);
  }
  m.space = c.level / static_cast<double>(space);
  m.tarone = tarone;
  m.tarone_lowered = tarone_lowered;
  m.westfall_young = westfall_young;
  return m;
}

std::string rule_text(const ReferenceResult& ref, uint32_t items) {
  std::string text;
  for (const int i : items_of(items)) text += (text.empty() ? "" : " & ") + ref.item_keys[i];
  return text;
}

// Runs the case on `threads` threads; returns the JSON object and the rule table.
std::pair<std::string, std::string> run_direct(const DirectCase& c, int threads) {
  MinerParams params = miner_params_for("d", "class", "c1", c.min_sup, c.level, "o");
  params.max_len = c.max_len;
  params.gen_tid_list = false;
  params.direct = true;
  params.permutations = c.permutations;
  params.permutation_seed = c.permutation_seed;
  params.tarone_lowered = true;
  EXPECT_TRUE(write_miner_params(kParameterFile, params));
  setenv("BRIMEL_THREADS", std::to_string(threads).c_str(), 1);
  const CommandResult r = run_program(kBrimel, {kParameterFile});
  unsetenv("BRIMEL_THREADS");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("\ndirect levels: bonferroni_tested "), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("\ndirect rules: bonferroni_tested "), std::string::npos) << r.output;
  return {file_text(direct_results_file("o")), file_text(direct_rule_table_file("o"))};
}

// Checks the rule table row by row against the brute-force rules and verdicts.
void check_rule_table(const std::string& table, const ReferenceResult& ref, const BruteMethods& m,
                      const json& methods) {
  std::map<std::string, const ReferenceRule*> by_text;
  for (const ReferenceRule& rule : ref.rules) by_text[rule_text(ref, rule.items)] = &rule;
  std::istringstream lines(table);
  std::string line;
  std::getline(lines, line);
  ASSERT_EQ(line,
            "rank,rule,class,length,support,class_support,confidence,lift,pvalue,max_local_pvalue,"
            "bonferroni_tested,search_space,layered,tarone,tarone_lowered,westfall_young,fdr,"
            "bonferroni_closed,tarone_closed,bonferroni_tested_productive,search_space_productive,"
            "layered_productive,tarone_productive,tarone_lowered_productive,"
            "westfall_young_productive,bonferroni_closed_productive,tarone_closed_productive");
  const char* names[] = {"bonferroni_tested", "search_space",   "layered", "tarone",
                         "tarone_lowered",    "westfall_young", "fdr",     "bonferroni_closed",
                         "tarone_closed"};
  int64_t counts[9] = {};
  int64_t productive_counts[9] = {};
  size_t rows = 0;
  double previous = 0.0;
  while (std::getline(lines, line)) {
    const std::vector<std::string> f = csv_fields(line);
    ASSERT_EQ(f.size(), 27u) << line;
    ASSERT_TRUE(by_text.contains(f[1])) << line;
    const ReferenceRule& rule = *by_text[f[1]];
    EXPECT_EQ(f[0], std::to_string(rows + 1));
    EXPECT_EQ(f[2], "c1");
    const int length = std::popcount(rule.items);
    EXPECT_EQ(std::stoi(f[3]), length);
    EXPECT_EQ(std::stoi(f[4]), rule.support);
    EXPECT_EQ(std::stoi(f[5]), rule.class_support);
    const double p = std::strtod(f[8].c_str(), nullptr);
    EXPECT_EQ(p, rule.pvalue) << line;
    EXPECT_GE(p, previous);
    previous = p;
    EXPECT_EQ(std::strtod(f[9].c_str(), nullptr), rule.max_local_pvalue) << line;
    const double levels[9] = {m.tested, m.space,          m.layered[static_cast<size_t>(length)],
                              m.tarone, m.tarone_lowered, m.westfall_young,
                              m.fdr,    m.closed,         m.tarone_closed};
    for (int k = 0; k < 9; ++k) {
      const bool want = p <= levels[k];
      EXPECT_EQ(f[10 + k], want ? "1" : "0") << names[k] << ": " << line;
      counts[k] += want;
    }
    // The productive columns, for every method but the FDR: the rule and
    // its largest local p-value both within the level.
    for (int k = 0, column = 19; k < 9; ++k) {
      if (k == 6) continue;
      const bool want = p <= levels[k] && rule.max_local_pvalue <= levels[k];
      EXPECT_EQ(f[static_cast<size_t>(column++)], want ? "1" : "0")
          << names[k] << " productive: " << line;
      productive_counts[k] += want;
    }
    ++rows;
  }
  EXPECT_EQ(rows, ref.rules.size());
  for (int k = 0; k < 9; ++k) {
    EXPECT_EQ(methods[names[k]]["rules"], counts[k]) << names[k];
    if (k != 6) {
      EXPECT_EQ(methods[names[k]]["productive_rules"], productive_counts[k]) << names[k];
    }
  }
}

TEST(DirectRun, EveryMethodEqualsBruteForceOnOneTwoAndThreeThreads) {
  // Items: 15 in both kinds of data. At minimum support 15 or 20 the
  // smallest attainable p-value of a support just below it is within the
  // Tarone level, so the support is lowered for the count.
  const std::vector<DirectCase> cases = {
      {1, false, 3, 100, 0.05, 200, 7}, {2, true, 15, 100, 0.05, 300, 1},
      {3, false, 12, 3, 0.1, 100, 5},   {4, true, 2, 2, 0.05, 1000, 9},
      {5, false, 20, 100, 0.2, 64, 3},  {6, true, 4, 100, 0.05, 0, 1},
      {7, false, 3, 100, 0.001, 200, 2}};  // too few permutations for the level
  bool lowered = false;
  bool wy_lowered = false;
  bool fdr_accepts_more = false;
  for (const DirectCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "seed " << c.seed << " min_sup " << c.min_sup);
    ScratchDir scratch;
    const GeneratedData data =
        c.null_data ? generate_null_data(c.seed, 80, 6, 0.35) : generate_data(c.seed, 80, 7, 2);
    write_generated_data(data, "d");
    MinerSettings settings;
    settings.target_value = "c1";
    settings.min_sup = c.min_sup;
    settings.max_len = c.max_len;
    settings.max_pvalue = c.level;
    const ReferenceResult ref = mine_by_brute_force(data, settings);
    ASSERT_LE(ref.item_keys.size(), 15u);
    const int n = static_cast<int>(ref.transactions.size());
    const LogFactorialTable lf = build_log_factorial_table(n);

    // The search space: L is the number of attributes seen, at most max_len.
    std::set<std::string> attributes;
    for (const std::string& key : ref.item_keys) attributes.insert(key.substr(0, key.find('=')));
    const int longest = std::min<int>(c.max_len, static_cast<int>(attributes.size()));
    const std::vector<uint64_t> space = brute_space(ref.item_keys);

    // Tarone over every pattern of any support: the lowered count must find
    // the same level, as no support below the one it counted from can reach it.
    std::vector<double> min_pvalues;
    for (const ReferencePattern& p : enumerate_patterns(ref, 1, c.max_len))
      min_pvalues.push_back(brute_min_pvalue(lf.data(), n, ref.positives, p.support));
    const BruteTarone tarone = brute_tarone(min_pvalues, c.level);

    const std::vector<ReferencePattern> tested = enumerate_patterns(ref, c.min_sup, c.max_len);
    ASSERT_EQ(tested.size(), ref.patterns_tested);
    std::vector<double> tested_min_pvalues;
    for (const ReferencePattern& p : tested)
      tested_min_pvalues.push_back(brute_min_pvalue(lf.data(), n, ref.positives, p.support));
    const BruteTarone tarone_over_tested = brute_tarone(tested_min_pvalues, c.level);
    double westfall_young = NAN;  // no rule is significant without permutations
    if (c.permutations > 0)
      westfall_young = brute_westfall_young(
          ref, tested, permuted_class_rows(in_class_of(ref), c.permutations, c.permutation_seed),
          c.level, lf.data());
    BruteMethods m = brute_methods(ref, c, space, longest, tarone_over_tested.level, tarone.level,
                                   westfall_young);

    const auto [json_text, table] = run_direct(c, 1);
    const json record = json::parse(json_text);
    const json& methods = record["methods"];

    // Hypotheses counted once: the distinct covers, or the search's nodes
    // where max_len cut it, and Tarone's level over them.
    const bool bounded = record["closed_patterns_upper_bound"];
    EXPECT_EQ(bounded, c.max_len < 100) << "max_len " << c.max_len;
    const std::vector<uint64_t> closed = brute_closed(ref, tested, bounded);
    std::vector<double> closed_min_pvalues;
    uint64_t closed_count = 0;
    for (size_t s = 0; s < closed.size(); ++s) {
      closed_count += closed[s];
      closed_min_pvalues.insert(closed_min_pvalues.end(), closed[s],
                                brute_min_pvalue(lf.data(), n, ref.positives, static_cast<int>(s)));
    }
    if (!bounded) {
      std::set<std::vector<uint64_t>> covers;
      for (const ReferencePattern& p : tested) covers.insert(p.cover);
      EXPECT_EQ(closed_count, covers.size());
      EXPECT_LE(closed_count, ref.patterns_tested);
    }
    EXPECT_EQ(record["closed_patterns_tested"], closed_count);
    m.closed = c.level / static_cast<double>(closed_count);
    const BruteTarone tarone_closed = brute_tarone(closed_min_pvalues, c.level);
    m.tarone_closed = tarone_closed.level;
    EXPECT_EQ(methods["bonferroni_closed"]["tests"], closed_count);
    EXPECT_EQ(methods["bonferroni_closed"]["level"], m.closed);
    EXPECT_EQ(methods["tarone_closed"]["level"], tarone_closed.level);
    EXPECT_EQ(methods["tarone_closed"]["testable"], tarone_closed.testable);
    EXPECT_GE(tarone_closed.level, tarone_over_tested.level);
    // Benjamini-Hochberg over every pattern tested, rules or not.
    const BruteStepUp step_up = brute_step_up(ref, tested, c.level, lf.data());
    if (step_up.accepted > 0) m.fdr = step_up.largest;
    EXPECT_EQ(methods["fdr"]["accepted"], step_up.accepted);
    EXPECT_EQ(methods["fdr"]["level"], step_up.largest);
    EXPECT_EQ(methods["fdr"]["tests"], ref.patterns_tested);
    fdr_accepts_more = fdr_accepts_more || step_up.accepted > ref.rules.size();
    EXPECT_EQ(record["patterns_tested"], ref.patterns_tested);
    EXPECT_EQ(record["rules"], ref.rules.size());
    EXPECT_EQ(methods["bonferroni_tested"]["level"], m.tested);
    EXPECT_EQ(methods["search_space"]["level"], m.space);
    ASSERT_EQ(methods["layered"]["longest"], longest);
    ASSERT_EQ(methods["layered"]["lengths"].size(), static_cast<size_t>(longest));
    for (int l = 1; l <= longest; ++l) {
      const json& entry = methods["layered"]["lengths"][static_cast<size_t>(l - 1)];
      EXPECT_EQ(entry["size"], space[static_cast<size_t>(l)]) << l;
      EXPECT_EQ(entry["level"], m.layered[static_cast<size_t>(l)]) << l;
    }
    EXPECT_EQ(methods["tarone_lowered"]["level"], tarone.level);
    EXPECT_EQ(methods["tarone_lowered"]["testable"], tarone.testable);
    EXPECT_EQ(methods["tarone"]["level"], tarone_over_tested.level);
    EXPECT_EQ(methods["tarone"]["testable"], tarone_over_tested.testable);
    const int counted_from = methods["tarone_lowered"]["min_sup"];
    EXPECT_LE(counted_from, c.min_sup);
    for (int s = 1; s < counted_from; ++s)
      EXPECT_GT(brute_min_pvalue(lf.data(), n, ref.positives, s), tarone.level) << s;
    lowered = lowered || counted_from < c.min_sup;
    std::map<int, uint64_t> histogram;
    for (const ReferencePattern& p : enumerate_patterns(ref, counted_from, c.max_len))
      ++histogram[p.support];
    std::map<int, uint64_t> counted;
    for (const json& entry : record["patterns_by_support"]["counts"])
      counted[entry["support"]] = entry["patterns"];
    EXPECT_EQ(counted, histogram);
    if (c.permutations > 0) {
      EXPECT_EQ(methods["westfall_young"]["level"], westfall_young);
      // The lowest support below min_sup whose smallest p-value reaches it.
      int lower = 0;
      for (int s = 1; s < c.min_sup && lower == 0 && westfall_young > 0; ++s)
        if (brute_min_pvalue(lf.data(), n, ref.positives, s) <= westfall_young) lower = s;
      EXPECT_EQ(methods["westfall_young"]["lower_support"], lower);
      wy_lowered = wy_lowered || lower > 0;
    } else {
      EXPECT_TRUE(methods["westfall_young"]["level"].is_null());
    }
    EXPECT_EQ(methods["westfall_young"]["permutations"], c.permutations);
    EXPECT_EQ(methods["westfall_young"]["seed"], c.permutation_seed);
    check_rule_table(table, ref, m, methods);
    for (const int threads : {2, 3}) {
      const auto [json_again, table_again] = run_direct(c, threads);
      EXPECT_EQ(json_again, json_text) << threads << " threads";
      EXPECT_EQ(table_again, table) << threads << " threads";
    }
  }
  EXPECT_TRUE(lowered);
  EXPECT_TRUE(wy_lowered);
  EXPECT_TRUE(fdr_accepts_more);
}

}  // namespace
