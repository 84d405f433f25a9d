// The report lines and the summary line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "driver/experiment_report.h"
#include "support/scratch_dir.h"

TEST(ExperimentReport, ElapsedTimeBorrowsAcrossTheSecond) {
  EXPECT_DOUBLE_EQ(elapsed_seconds({10, 900}, {12, 100}), 1.2);
  EXPECT_DOUBLE_EQ(elapsed_seconds({5, 0}, {5, 0}), 0.0);
}

TEST(ExperimentReport, ConsoleLinesAndSummaryLine) {
  RuleCountRecord counts;
  counts.level = 0.05;
  counts.corrected_level = 0.05 / 40;
  counts.fdr_pvalue = 0.000123456;
  counts.sig_at_level = 12;
  counts.sig_at_corrected = 3;
  counts.sig_at_fdr = 5;
  EXPECT_EQ(format_report(counts),
            "#significant rules at 5.00E-02 level: 12\n"
            "#significant rules at 1.25E-03 level: 3\n"
            "#significant rules at FDR 5.00E-02: 5 (1.235E-04)\n\n");

  const ExperimentSettings settings{"my data", 5, 100, 0.05, 0.05, 0.0};
  EXPECT_EQ(
      format_summary_line(settings, elapsed_seconds({10, 900}, {12, 100}), 40, counts, counts),
      "RANDOM_VARNEL my data\t5 100 0.0500 0.0500\tCONFIDENCE 0.000\t1.2000\t"
      "40 12 3 5\t5.000E-02 1.250E-03 1.235E-04\t12 3 5\t\n");
}

TEST(ExperimentReport, SummaryLineStaysOneLineWhateverTheDatasetName) {
  const ExperimentSettings settings{"a\tb\nc\rd", 1, 100, 1.0, 0.05, 0.0};
  const std::string line =
      format_summary_line(settings, 0.0, 0, RuleCountRecord{}, RuleCountRecord{});
  EXPECT_EQ(line.rfind("RANDOM_VARNEL a?b?c?d\t1 100 1.0000 0.0500\t", 0), 0u) << line;
  EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1);
}

TEST(ExperimentReport, SummaryLinesAreAppendedAfterEarlierContent) {
  ScratchDir dir;
  write_file("Varnel.sum.txt", "an earlier line\n");
  append_summary_line("first\n");
  append_summary_line("second\n");
  EXPECT_EQ(read_file("Varnel.sum.txt"), "an earlier line\nfirst\nsecond\n");
}
