// The class-label file of both parts.
#include <gtest/gtest.h>

#include "support/scratch_dir.h"
#include "testpart/class_label_file.h"

namespace {

std::string written_labels(const TrainingClassLabels& training, const ClassLabels& test) {
  ScratchDir dir;
  write_test_class_labels("o", training, test);
  return read_file("o.tgtvalues.txt");
}

TEST(ClassLabelFile, MiningLabelsThenTestLabels) {
  EXPECT_EQ(written_labels({1, 0, 1}, {0, 1}), "5 1 0 1 0 1 \n");
  EXPECT_EQ(written_labels({}, {0, 1, -1}), "3 0 1 -1 \n");
  EXPECT_EQ(written_labels({4, -1}, {}), "2 4 -1 \n");
  EXPECT_EQ(written_labels({}, {}), "0 \n");
}

TEST(ClassLabelFile, ReplacesAnOlderFile) {
  ScratchDir dir;
  write_file("o.tgtvalues.txt", "old content that is longer than the new one\n");
  write_test_class_labels("o", {}, {1});
  EXPECT_EQ(read_file("o.tgtvalues.txt"), "1 1 \n");
}

TEST(ClassLabelFile, UncreatableFileIsReported) {
  ScratchDir dir;
  testing::internal::CaptureStdout();
  write_test_class_labels("missing/o", {}, {1});
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error: cannot open file missing/o.tgtvalues.txt for write\n");
}

}  // namespace
