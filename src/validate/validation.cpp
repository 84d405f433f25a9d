// Validation of the mined rules on the test part: re-testing with Fisher's
// exact test on covers counted from bitsets, sorting by test p-value,
// counting the significant rules and writing the results.
#include "validate/validation.h"

#include <algorithm>
#include <cstdio>

#include "common/block_writer.h"
#include "common/parallel_chunks.h"
#include "stats/fisher.h"
#include "stats/significance.h"
#include "validate/productivity.h"
#include "validate/validated_output.h"

namespace {

// Rules a thread takes at a time: enough that taking them costs nothing
// beside testing them.
constexpr size_t kRulesAtOnce = 512;

// The rule table's rows: the kept rules in their order, then the others in
// the miner's order.
std::vector<RuleTableRow> table_rows(const RuleSet& rules, const Retest& retest,
                                     const RuleTableContext& context) {
  std::vector<RuleTableRow> rows;
  rows.reserve(rules.records.size());
  // `rank`: the rule's place among the kept rules, -1 for one not kept.
  auto add_row = [&](size_t r, int32_t rank) {
    const RuleRecord& mined = rules.records[r];
    RuleTableRow row;
    row.mined = &mined;
    row.test = retest.tests[r];
    row.direction = rule_direction(mined, retest.tests[r], context);
    row.significant = rank >= 0;
    row.significant_corrected = rank >= 0 && rank < retest.counts.sig_at_corrected;
    row.significant_fdr = rank >= 0 && rank < retest.counts.sig_at_fdr;
    row.significant_holm = rank >= 0 && rank < retest.sig_at_holm;
    row.productive = retest.productive_rules[r];
    row.significant_bh = rank >= 0 && rank < retest.sig_at_bh;
    row.productive_corrected = retest.productive_corrected_rules[r];
    rows.push_back(row);
  };
  std::vector<bool> is_kept(rules.records.size(), false);
  for (size_t j = 0; j < retest.kept.size(); ++j) {
    is_kept[retest.kept[j]] = true;
    add_row(retest.kept[j], static_cast<int32_t>(j));
  }
  for (size_t r = 0; r < rules.records.size(); ++r) {
    if (!is_kept[r]) add_row(r, -1);
  }
  return rows;
}

// The bytes of a rule's mined tid list on its validated line: always
// `support` numbers.
int64_t list_text_bytes(std::span<const int32_t> list, const RuleRecord& rule) {
  return ascending_padded_text_bytes(list, static_cast<size_t>(std::max(rule.support, 0)));
}

}  // namespace

void read_mined_rules(const std::string& output_name, int32_t transactions, MinedRules& mined) {
  read_rules(output_name, transactions, mined.rules);
  const std::vector<RuleRecord>& records = mined.rules.records;
  // A rule whose list cannot be had is written with zeros.
  mined.mined_text_bytes.resize(records.size());
  for (size_t r = 0; r < records.size(); ++r)
    mined.mined_text_bytes[r] = list_text_bytes({}, records[r]);
  mined.have_lists = open_rule_tid_lists(output_name, transactions, mined.lists);
  if (!mined.have_lists) return;
  // Sized from the stored lists, so each list is rebuilt once, when its
  // rule's line is written. A list whose length is not its rule's support is
  // reported here, and the run stops before anything is written.
  std::vector<size_t> every(records.size());
  for (size_t r = 0; r < every.size(); ++r) every[r] = r;
  const std::vector<TidListSize> sizes =
      measure_rule_tid_lists(mined.lists, mined.rules, every, ascending_text_bytes);
  for (size_t r = 0; r < records.size(); ++r) {
    if (sizes[r].known && sizes[r].length == records[r].support)
      mined.mined_text_bytes[r] = sizes[r].measure;
  }
}

Retest retest_rules(const RuleSet& rules, const TestTransactions& transactions,
                    const ClassLabels& labels, double level, double local_level, int threads) {
  std::printf("before validation: %d\n", static_cast<int32_t>(rules.records.size()));
  Retest retest;
  retest.covers = build_test_covers(transactions, labels, rules);
  const TestCovers& covers = retest.covers;
  std::printf("no. of instances: %d\n", covers.instances);
  std::printf("no. of positive: %d\n", covers.positives);
  std::fputs("validation...\n", stdout);
  const LogFactorialTable log_factorial = build_log_factorial_table(covers.instances);
  // Every p-value is exact, for the rule table; the kept ones are the same
  // as a sum that stops past the level would give.
  retest.tests.resize(rules.records.size());
  parallel_chunks(rules.records.size(), kRulesAtOnce, threads, [&](size_t begin, size_t end) {
    std::vector<uint64_t> scratch;
    for (size_t r = begin; r < end; ++r) {
      RuleTest test = count_test_cover(covers, rules.records[r], scratch);
      test.pvalue = fisher_exact_pvalue_from(log_factorial.data(), covers.instances, test.covered,
                                             covers.positives, test.covered_in_class);
      retest.tests[r] = test;
    }
  });
  for (size_t r = 0; r < rules.records.size(); ++r) {
    const RuleTest& test = retest.tests[r];
    if (test.pvalue <= level && static_cast<int64_t>(rules.records[r].support) + test.covered > 0)
      retest.kept.push_back(r);
  }
  std::printf("after validation: %d\n", static_cast<int32_t>(retest.kept.size()));
  std::sort(retest.kept.begin(), retest.kept.end(),
            [&](size_t a, size_t b) { return retest.tests[a].pvalue < retest.tests[b].pvalue; });

  std::vector<double> sorted_pvalues;
  std::vector<PValueCount> ascending;
  sorted_pvalues.reserve(retest.kept.size());
  ascending.reserve(retest.kept.size());
  for (const size_t r : retest.kept) {
    sorted_pvalues.push_back(retest.tests[r].pvalue);
    ascending.push_back(PValueCount{retest.tests[r].pvalue, 1});
  }
  const double tests = static_cast<double>(rules.records.size());
  retest.counts = count_significant(sorted_pvalues, tests, level);
  retest.sig_at_holm = count_holm(sorted_pvalues, tests, level);
  retest.sig_at_bh =
      static_cast<int32_t>(count_benjamini_hochberg(ascending, tests, level).accepted);
  retest.productive_rules = find_productive_rules(covers, rules, retest.tests, retest.kept,
                                                  log_factorial.data(), local_level, threads);
  const auto corrected_end = retest.kept.begin() + retest.counts.sig_at_corrected;
  retest.productive_corrected_rules = find_productive_rules(
      covers, rules, retest.tests, std::vector<size_t>(retest.kept.begin(), corrected_end),
      log_factorial.data(), retest.counts.corrected_level, threads);
  for (auto r = retest.kept.begin(); r != corrected_end; ++r) {
    retest.productive += retest.productive_rules[*r];
    retest.productive_corrected += retest.productive_corrected_rules[*r];
  }
  return retest;
}

namespace {

// The validated rule and tid-list files and the rule count file; what they
// need beside the rules is freed before the rule table is built.
void write_validated_files(const std::string& output_name, MinedRules& mined, const Retest& retest,
                           double level, int32_t first_test_number) {
  const RuleSet& rules = mined.rules;
  const TestCovers& covers = retest.covers;
  std::vector<uint64_t> scratch;
  std::vector<KeptRule> kept;
  kept.reserve(retest.kept.size());
  for (const size_t r : retest.kept) {
    const RuleRecord& rule = rules.records[r];
    kept.push_back(
        KeptRule{&rule, retest.tests[r],
                 mined.mined_text_bytes[r] +
                     covered_numbers_text_bytes(covers, rule, first_test_number, scratch)});
  }
  mined.mined_text_bytes = std::vector<int64_t>();
  write_validated_rules(
      output_name, kept,
      [&](const KeptListVisit& visit) {
        // Kept rule j is rule retest.kept[j], the walk's place j.
        if (mined.have_lists) walk_rule_tid_lists(mined.lists, rules, retest.kept, visit);
      },
      [&](const RuleRecord& rule, BlockWriter& out) {
        put_covered_numbers(covers, rule, first_test_number, scratch, out);
      },
      retest.counts, static_cast<int32_t>(rules.records.size()), level);
}

}  // namespace

HoldoutFigures write_validation(const std::string& output_name, MinedRules& mined,
                                const Retest& retest, double level, RuleTableContext context) {
  const RuleSet& rules = mined.rules;
  const TestCovers& covers = retest.covers;
  const int32_t rules_tested = static_cast<int32_t>(rules.records.size());
  write_validated_files(output_name, mined, retest, level, context.mining_transactions);

  context.test_instances = covers.instances;
  context.test_positives = covers.positives;
  const std::vector<RuleTableRow> rows = table_rows(rules, retest, context);
  HoldoutFigures figures;
  figures.rules_tested = rules_tested;
  figures.counts = retest.counts;
  figures.sig_at_holm = retest.sig_at_holm;
  figures.productive = retest.productive;
  figures.sig_at_bh = retest.sig_at_bh;
  figures.productive_corrected = retest.productive_corrected;
  for (size_t j = 0; j < retest.kept.size(); ++j) {
    if (rows[j].direction == Direction::reversed) ++figures.reversed;
  }
  write_rule_table(output_name, rows, context);
  return figures;
}
