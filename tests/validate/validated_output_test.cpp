// The validated rules file, tid-list file and rule count file, and whole
// validations from the miner's files to them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <random>

#include "common/block_writer.h"
#include "common/run_files.h"
#include "validate/rule_sets.h"
#include "validate/validated_output.h"
#include "validate/validation.h"

namespace {

using namespace validation_test;

// The set's records as kept rules covering no test instance, each with its
// own p-value and the mined tid list of its shape.
std::vector<KeptRule> kept_of(const std::vector<RuleShape>& shapes, const RuleSet& set) {
  std::vector<KeptRule> kept;
  for (size_t r = 0; r < set.records.size(); ++r) {
    const RuleRecord& record = set.records[r];
    kept.push_back(
        {&record,
         {0, 0, record.pvalue},
         ascending_padded_text_bytes(shapes[r].tids, static_cast<size_t>(record.support))});
  }
  return kept;
}

// Hands each rule its shape's tid list, the last rule first.
KeptListWalk mined_tids_only(const std::vector<RuleShape>& shapes) {
  return [&shapes](const KeptListVisit& visit) {
    for (size_t r = shapes.size(); r-- > 0;) visit(r, shapes[r].tids);
  };
}

void write_rules(const std::string& output, const std::vector<RuleShape>& shapes,
                 const RuleSet& set, const RuleCountRecord& counts, int32_t tested, double level) {
  write_validated_rules(
      output, kept_of(shapes, set), mined_tids_only(shapes), [](const RuleRecord&, BlockWriter&) {},
      counts, tested, level);
}

TEST(BlockWriter, AscendingNumbersOfEveryWidthAndLinesPlacedOutOfOrder) {
  ScratchDir dir;
  std::vector<int32_t> values = {0, 1, 9};
  for (int64_t power = 10; power <= INT32_MAX; power *= 10)
    for (const int64_t v : {power - 1, power, power + 7})
      if (v > values.back() && v <= INT32_MAX) values.push_back(static_cast<int32_t>(v));
  values.push_back(INT32_MAX);
  std::string expected;
  for (const int32_t v : values) expected += std::to_string(v) + " ";
  EXPECT_EQ(ascending_text_bytes(values), static_cast<int64_t>(expected.size()));

  // Every value below 10^6 and every 997th up to 2 * 10^8, written after a
  // line placed behind it, in batches past the block.
  std::vector<int32_t> many;
  for (int32_t v = 0; v < 200'000'000; v += v < 1'000'000 ? 1 : 997) many.push_back(v);
  std::string many_text;
  for (const int32_t v : many) many_text += std::to_string(v) + " ";
  std::FILE* file = std::fopen("o.txt", "w");
  BlockWriter out;
  start_block_writer(out, file);
  move_to(out, static_cast<int64_t>(expected.size()));
  put_ascending_ints(out, many);
  move_to(out, 0);
  put_ascending_ints(out, values);
  EXPECT_TRUE(flush_block(out));
  std::fclose(file);
  EXPECT_EQ(read_file("o.txt"), expected + many_text);

  // A full disk fails the flush, of one block or of many.
  for (const size_t count : {many.size(), size_t{10}}) {
    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    start_block_writer(out, full);
    put_ascending_ints(out, std::span<const int32_t>(many).first(count));
    EXPECT_FALSE(flush_block(out)) << count;
    std::fclose(full);
  }
}

TEST(BlockWriter, ShortLinesPlacedInAnyOrderAcrossManyBlocks) {
  // 60,000 lines of 1 to 40 numbers written at their places in a shuffled
  // order: each block holds many runs bound for places far apart, and the
  // blocks go to the writing thread one after another.
  ScratchDir dir;
  std::mt19937 random(3);
  std::vector<std::vector<int32_t>> lines(60000);
  std::vector<int64_t> starts = {0};
  std::string expected;
  for (std::vector<int32_t>& line : lines) {
    line.resize(1 + random() % 40);
    int32_t value = static_cast<int32_t>(random() % 50);
    for (int32_t& v : line) {
      v = value;
      value += 1 + static_cast<int32_t>(random() % 300);
      expected += std::to_string(v) + " ";
    }
    expected += "\n";
    starts.push_back(static_cast<int64_t>(expected.size()));
  }
  std::vector<size_t> order(lines.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::shuffle(order.begin(), order.end(), random);
  std::FILE* file = std::fopen("o.txt", "w");
  BlockWriter out;
  start_block_writer(out, file);
  for (const size_t j : order) {
    move_to(out, starts[j]);
    put_ascending_ints(out, lines[j]);
    put_text(out, "\n");
  }
  EXPECT_TRUE(flush_block(out));
  std::fclose(file);
  EXPECT_EQ(read_file("o.txt"), expected);
}

TEST(ValidatedOutput, LineParallelFilesAndRuleCount) {
  ScratchDir dir;
  const std::vector<RuleShape> shapes = {
      {4, {3, 17}, 2, {0, 5, 300}, 0.00012}, {9, {}, 1, {8}, 0.0}, {2, {1}, 0, {1, 2}, 0.25}};
  const RuleSet kept = rule_set_of(shapes);
  RuleCountRecord counts;
  counts.fdr_pvalue = 0.00012;
  counts.sig_at_level = 3;
  counts.sig_at_corrected = 1;
  counts.sig_at_fdr = 2;
  write_rules("o", shapes, kept, counts, 20, 0.05);
  EXPECT_EQ(read_file("o.sorted.rules.txt"),
            "2 3 17 0 0.00012 0 0 \n"
            "0 0 0 0 0 \n"
            "1 1 0 0.25 0 0 \n");
  EXPECT_EQ(read_file("o.sorted.tidlist.txt"),
            "3 2 0 5 300 \n"
            "1 1 8 \n"
            "2 0 1 2 \n");
  EXPECT_EQ(read_file("o.sorted.rulenum.txt"), "20\n0.05\n0.00012\n0\n0\n3\n1\n2\n0\n0\n0\n0\n");
}

TEST(ValidatedOutput, RealsUseTheShortestOfFixedAndScientific) {
  ScratchDir dir;
  const std::vector<RuleShape> shapes = {
      {0, {1}, 0, {}, 1.0 / 3.0}, {0, {1}, 0, {}, 1.5e-9}, {0, {1}, 0, {}, 1.0}};
  const RuleSet kept = rule_set_of(shapes);
  write_rules("o", shapes, kept, RuleCountRecord(), 3, 1.0);
  EXPECT_EQ(read_file(rule_file("o")), "1 1 0 0.333333 0 0 \n1 1 0 1.5e-09 0 0 \n1 1 0 1 0 0 \n");
}

TEST(ValidatedOutput, NoKeptRuleTruncatesBothFiles) {
  ScratchDir dir;
  write_file("o.sorted.rules.txt", "0 1 5 3 3 0 0.01 0 0\n");
  write_file("o.sorted.tidlist.txt", "old\n");
  const std::vector<RuleShape> no_shapes;
  const RuleSet none;
  write_rules("o", no_shapes, none, RuleCountRecord(), 0, 0.05);
  EXPECT_EQ(read_file("o.sorted.rules.txt"), "");
  EXPECT_EQ(read_file("o.sorted.tidlist.txt"), "");
  EXPECT_EQ(read_file("o.sorted.rulenum.txt"), "0\n0.05\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n");
}

TEST(ValidatedOutput, UncreatableFilesAreReported) {
  ScratchDir dir;
  testing::internal::CaptureStdout();
  const std::vector<RuleShape> shapes = {{0, {1}, 0, {}, 0.5}};
  const RuleSet kept = rule_set_of(shapes);
  write_rules("none/o", shapes, kept, RuleCountRecord(), 1, 0.05);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error: cannot open file none/o.sorted.tidlist.txt for write\n"
            "Error: cannot open file none/o.sorted.rules.txt for write\n"
            "Error: cannot open file none/o.sorted.rulenum.txt for write\n");
}

// The miner's files for four rules over 5 mining transactions (class 1 on
// 0, 1, 2), with full lists and diff-lists, and a test part of 7 instances.
struct ValidationCase {
  ScratchDir dir;
  std::string output = "o";
  TestTransactions transactions = {{0, 1}, {0, 1}, {0, 1}, {2}, {2}, {}, {3}};
  ClassLabels labels = {1, 1, 1, 0, 0, 0, 0};
  HoldoutFigures figures;

  ValidationCase() {
    write_file(rule_file(output),
               "0 1 0 3 3 1 0.01 0 0\n"    // item 0: test instances 0, 1, 2
               "1 2 1 0 3 3 1 0.01 0 0\n"  // items 0, 1 (written unsorted)
               "3 1 2 2 0 1 0.5 0 0\n"     // item 2: test instances 3, 4
               "4 1 9 0 0 0 1 0 0\n");     // item 9: nowhere
    write_tid_tree(output,
                   {{1, -1, {0, 1, 2}},  // full list
                    {3, 0, {}},          // diff-list, nothing dropped
                    {0, -1, {}},         // not stored
                    {3, 2, {0, 1, 2}},   // diff-list against the root, past entry 2
                    {1, -1, {}}},        // empty full list
                   5);
  }

  std::string validate(double level) {
    testing::internal::CaptureStdout();
    MinedRules mined;
    read_mined_rules(output, 5, mined);
    const Retest retest =
        retest_rules(mined.rules, transactions, labels, level, kMaxLocalPvalue, 2);
    RuleTableContext context;
    context.mining_transactions = 5;
    figures = write_validation(output, mined, retest, level, context);
    close_rule_tid_lists(mined.lists);
    return testing::internal::GetCapturedStdout();
  }
};

// The two rules of p = 1/35 may stand in either order.
const std::string kLineA = "1 0 0 0.0285714 0 0 \n";
const std::string kLineB = "2 0 1 0 0.0285714 0 0 \n";
const std::string kTidLine = "6 6 0 1 2 5 6 7 \n";

void expect_first_two_lines(const std::string& rules, const std::string& tidlists) {
  EXPECT_TRUE(rules.starts_with(kLineA + kLineB) || rules.starts_with(kLineB + kLineA)) << rules;
  EXPECT_EQ(tidlists.substr(0, 2 * kTidLine.size()), kTidLine + kTidLine);
}

TEST(ValidateRules, FromMinerFilesToValidatedFiles) {
  ValidationCase c;
  EXPECT_EQ(c.validate(0.2),
            "before validation: 4\nno. of instances: 7\nno. of positive: 3\nvalidation...\n"
            "after validation: 2\n");
  const std::string rules = read_file(rule_file(c.output));
  const std::string tidlists = read_file(validated_tidlist_file(c.output));
  expect_first_two_lines(rules, tidlists);
  EXPECT_EQ(rules.size(), kLineA.size() + kLineB.size());
  EXPECT_EQ(tidlists.size(), 2 * kTidLine.size());
  EXPECT_EQ(read_file(rule_count_file(c.output)), "4\n0.2\n0.0285714\n0\n0\n2\n2\n2\n0\n0\n0\n0\n");
  EXPECT_EQ(c.figures.rules_tested, 4);
  EXPECT_EQ(c.figures.counts.sig_at_level, 2);
  EXPECT_EQ(c.figures.counts.sig_at_corrected, 2);
  EXPECT_EQ(c.figures.counts.sig_at_fdr, 2);
}

TEST(ValidateRules, KeptRulesAreOrderedByTestPvalueAndCounted) {
  ValidationCase c;
  c.validate(1.0);
  // Item 2 covers instances 3 and 4, none of the class: p = 9/21. Item 9
  // covers nothing and has no mined support, so it is never kept.
  const std::string rules = read_file(rule_file(c.output));
  const std::string tidlists = read_file(validated_tidlist_file(c.output));
  expect_first_two_lines(rules, tidlists);
  EXPECT_EQ(rules.substr(kLineA.size() + kLineB.size()), "1 2 0 0.428571 0 0 \n");
  EXPECT_EQ(tidlists.substr(2 * kTidLine.size()), "4 0 3 4 8 9 \n");
  // Corrected level 0.25 takes the two of 1/35; the FDR step all three.
  EXPECT_EQ(read_file(rule_count_file(c.output)), "4\n1\n0.428571\n0\n0\n3\n2\n3\n0\n0\n0\n0\n");
  EXPECT_EQ(c.figures.counts.sig_at_corrected, 2);
  EXPECT_EQ(c.figures.counts.sig_at_fdr, 3);
}

TEST(ValidateRules, MissingTidListFileOrRuleFileRunsToTheEnd) {
  ValidationCase c;
  std::remove("o.tidlist");
  EXPECT_EQ(c.validate(0.2),
            "Error: cannot open file o.tidlist for read\n"
            "before validation: 4\nno. of instances: 7\nno. of positive: 3\n"
            "validation...\nafter validation: 2\n");

  std::remove("o.sorted.rules.txt");
  EXPECT_EQ(c.validate(0.2),
            "Error: cannot open file o.sorted.rules.txt for read\n"
            "Error: cannot open file o.tidlist for read\n"
            "before validation: 0\nno. of instances: 7\nno. of positive: 3\n"
            "validation...\nafter validation: 0\n");
  EXPECT_EQ(read_file("o.sorted.rules.txt"), "");
  EXPECT_EQ(read_file("o.sorted.rulenum.txt"), "0\n0.2\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n");
  EXPECT_EQ(c.figures.rules_tested, 0);
  EXPECT_EQ(c.figures.counts.sig_at_level, 0);
}

TEST(ValidateRules, EmptyRuleFile) {
  ValidationCase c;
  write_file("o.sorted.rules.txt", "");
  EXPECT_EQ(c.validate(0.2),
            "before validation: 0\nno. of instances: 7\nno. of positive: 3\nvalidation...\n"
            "after validation: 0\n");
  EXPECT_EQ(read_file("o.sorted.tidlist.txt"), "");
}

}  // namespace
