// The rule count file: the writer's exact text at both precisions, the
// reader's fields, and the reader on files that are cut short, malformed or
// random.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "minerio/rule_count.h"
#include "support/scratch_dir.h"

namespace {

RuleCountRecord read_count_file(const std::string& path, RuleCountRecord counts = {}) {
  std::FILE* file = std::fopen(path.c_str(), "rt");
  EXPECT_NE(file, nullptr) << path;
  if (file != nullptr) read_rule_count(file, counts);
  return counts;
}

// The file as validation writes it: six digits, zeros where it has no value.
void write_rule_count(const std::string& output, int32_t tested, double level,
                      const RuleCountRecord& counts) {
  RuleCountFile values;
  values.tested = static_cast<uint64_t>(tested);
  values.level = level;
  values.fdr_pvalue = counts.fdr_pvalue;
  values.sig_at_level = counts.sig_at_level;
  values.sig_at_corrected = counts.sig_at_corrected;
  values.sig_at_fdr = counts.sig_at_fdr;
  write_rule_count_file(output + ".sorted.rulenum.txt", values, RealDigits::six);
}

RuleCountRecord sentinel_counts() {
  RuleCountRecord counts;
  counts.level = -1;
  counts.corrected_level = -2;
  counts.fdr_pvalue = -3;
  counts.sig_at_level = -4;
  counts.sig_at_corrected = -5;
  counts.sig_at_fdr = -6;
  return counts;
}

TEST(RuleCountFile, WritesTwelveLinesInPercentGStyle) {
  ScratchDir dir;
  RuleCountRecord counts;
  counts.fdr_pvalue = 0.0123456789;
  counts.sig_at_level = 7;
  counts.sig_at_corrected = 2;
  counts.sig_at_fdr = 5;
  write_rule_count("o", 120, 0.05, counts);
  EXPECT_EQ(read_file("o.sorted.rulenum.txt"), "120\n0.05\n0.0123457\n0\n0\n7\n2\n5\n0\n0\n0\n0\n");

  counts.fdr_pvalue = 0;
  write_rule_count("o", 0, 0.0000001, counts);
  EXPECT_EQ(read_file("o.sorted.rulenum.txt"), "0\n1e-07\n0\n0\n0\n7\n2\n5\n0\n0\n0\n0\n");
  write_rule_count("o", 3, 1, counts);
  EXPECT_EQ(read_file("o.sorted.rulenum.txt"), "3\n1\n0\n0\n0\n7\n2\n5\n0\n0\n0\n0\n");
}

TEST(RuleCountFile, ReadsBackWhatWasWrittenWithTheLevelRoundedToSixDigits) {
  ScratchDir dir;
  RuleCountRecord counts;
  counts.fdr_pvalue = 0.00025;
  counts.sig_at_level = 40;
  counts.sig_at_corrected = 11;
  counts.sig_at_fdr = 30;
  write_rule_count("o", 400, 0.0123456789, counts);
  const RuleCountRecord back = read_count_file("o.sorted.rulenum.txt");
  EXPECT_EQ(back.level, 0.0123457);
  EXPECT_EQ(back.corrected_level, 0.0123457 / 400.0);
  EXPECT_EQ(back.fdr_pvalue, 0.00025);
  EXPECT_EQ(back.sig_at_level, 40);
  EXPECT_EQ(back.sig_at_corrected, 11);
  EXPECT_EQ(back.sig_at_fdr, 30);
}

TEST(RuleCountFile, MinersValuesWithEveryDigitReadBackExactly) {
  ScratchDir dir;
  RuleCountFile values;
  values.tested = 5000000000;  // beyond 32 bits: the reader stops at once
  values.level = 0.05;
  values.fdr_pvalue = 1.0 / 3.0;
  values.max_local_pvalue = 0.05;
  values.min_diff = 0.0;
  values.sig_at_level = 12;
  values.sig_at_corrected = 4;
  values.sig_at_fdr = 9;
  values.within_level = 77;
  values.items = 31;
  values.longest_rule = 5;
  ASSERT_TRUE(write_rule_count_file("m.rulenum.txt", values, RealDigits::all));
  EXPECT_EQ(read_file("m.rulenum.txt"),
            "5000000000\n0.050000000000000003\n0.33333333333333331\n0.050000000000000003\n0\n"
            "12\n4\n9\n77\n31\n5\n0\n");
  EXPECT_EQ(read_count_file("m.rulenum.txt", sentinel_counts()).level, -1);

  values.tested = 250;
  ASSERT_TRUE(write_rule_count_file("m.rulenum.txt", values, RealDigits::all));
  const RuleCountRecord back = read_count_file("m.rulenum.txt");
  EXPECT_EQ(back.level, 0.05);
  EXPECT_EQ(back.corrected_level, 0.05 / 250);
  EXPECT_EQ(back.fdr_pvalue, 1.0 / 3.0);
  EXPECT_EQ(back.sig_at_level, 12);
  EXPECT_EQ(back.sig_at_corrected, 4);
  EXPECT_EQ(back.sig_at_fdr, 9);
}

TEST(RuleCountFile, NoRulesTestedGivesAnInfiniteCorrectedLevel) {
  ScratchDir dir;
  write_rule_count("o", 0, 0.05, RuleCountRecord{});
  const RuleCountRecord back = read_count_file("o.sorted.rulenum.txt");
  EXPECT_EQ(back.level, 0.05);
  EXPECT_TRUE(std::isinf(back.corrected_level) && back.corrected_level > 0);
}

TEST(RuleCountFile, MinersFileWithOtherValuesAndAnyWhiteSpaceReadsAlike) {
  ScratchDir dir;
  write_file("m.rulenum.txt", "250 0.05\t0.001 0.05 0.0\r\n 9 3 6 77 12 5 0");
  const RuleCountRecord back = read_count_file("m.rulenum.txt");
  EXPECT_EQ(back.level, 0.05);
  EXPECT_EQ(back.corrected_level, 0.05 / 250);
  EXPECT_EQ(back.fdr_pvalue, 0.001);
  EXPECT_EQ(back.sig_at_level, 9);
  EXPECT_EQ(back.sig_at_corrected, 3);
  EXPECT_EQ(back.sig_at_fdr, 6);
}

TEST(RuleCountFile, ReadingStopsAtTheFirstMissingOrMalformedValue) {
  ScratchDir dir;
  struct Case {
    const char* text;
    double level;
    double corrected;
    int32_t sig_at_level;
  };
  const Case cases[] = {
      {"", -1, -2, -4},
      {"10", -1, -2, -4},                            // cut short before the level
      {"abc 0.05 0 0 0 1 1 1", -1, -2, -4},          // no count: no level either
      {"99999999999 0.05 0 0 0 1 1 1", -1, -2, -4},  // count beyond 32 bits
      {"10 0.5 0 0 0 x 1 1", 0.5, 0.05, -4},
      {"10 0.5 0 0 0 4", 0.5, 0.05, 4},
  };
  for (const Case& c : cases) {
    write_file("bad.rulenum.txt", c.text);
    const RuleCountRecord back = read_count_file("bad.rulenum.txt", sentinel_counts());
    EXPECT_EQ(back.level, c.level) << c.text;
    EXPECT_EQ(back.corrected_level, c.corrected) << c.text;
    EXPECT_EQ(back.sig_at_level, c.sig_at_level) << c.text;
    EXPECT_EQ(back.sig_at_fdr, -6) << c.text;
  }
}

TEST(RuleCountFile, UnwritableFileWritesNothing) {
  ScratchDir dir;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(
      write_rule_count_file("no/such/dir/o.sorted.rulenum.txt", RuleCountFile{}, RealDigits::six));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error: cannot open file no/such/dir/o.sorted.rulenum.txt for write\n");
  EXPECT_FALSE(std::filesystem::exists("no/such/dir/o.sorted.rulenum.txt"));
}

TEST(RuleCountFile, RandomFilesAreReadSafely) {
  ScratchDir dir;
  std::mt19937 random(99);
  const std::string alphabet = "0123456789 \n\t.-+eE9x";
  for (int i = 0; i < 300; ++i) {
    std::string text;
    const int length = static_cast<int>(random() % 80);
    for (int j = 0; j < length; ++j) {
      text += random() % 8 == 0 ? static_cast<char>(random() % 256)
                                : alphabet[random() % alphabet.size()];
    }
    write_file("random.rulenum.txt", text);
    read_count_file("random.rulenum.txt");
  }
}

}  // namespace
