// The statistics file, the class-value map, the class-label file and the
// item map.
#include <gtest/gtest.h>

#include "common/run_files.h"
#include "minerio/item_map.h"
#include "minerio/miner_files.h"
#include "minerio/mining_stats.h"

namespace {

struct MiningStatsTest : testing::Test {
  ScratchDir dir;
  MinedPartCounts counts;

  std::string read_statistics(const std::string& text) {
    write_file("o.cfptree.stat", text);
    return capture_stdout([&] { counts = read_mining_statistics("o"); });
  }
};

TEST_F(MiningStatsTest, FirstStatisticIsTheNumberOfTransactions) {
  EXPECT_EQ(read_statistics("150 20 18 400 30 12 60 10 9 3 5 100 40 12\n"), "");
  EXPECT_EQ(counts.transactions, 150);
  EXPECT_EQ(counts.patterns_tested, 400);
  // Spread over lines and tabs, or cut short after the first: the same.
  EXPECT_EQ(read_statistics("151\n20\t18\r\n400 30\n12 60 10 9\n3 5 100 40 12"), "");
  EXPECT_EQ(counts.transactions, 151);
  EXPECT_EQ(read_statistics("152"), "");
  EXPECT_EQ(counts.transactions, 152);
  EXPECT_EQ(counts.patterns_tested, -1);
}

TEST_F(MiningStatsTest, UnusableFirstStatisticCountsNoTransactions) {
  for (const auto& [text, message] : std::vector<std::pair<std::string, std::string>>{
           {"", "Error: no readable number of transactions in file o.cfptree.stat\n"},
           {"many 1 2", "Error: no readable number of transactions in file o.cfptree.stat\n"},
           {"4294967296 1 2", "Error: no readable number of transactions in file o.cfptree.stat\n"},
           {"-20 1 2", "Error: negative number of transactions -20 in file o.cfptree.stat\n"}}) {
    EXPECT_EQ(read_statistics(text), message);
    EXPECT_EQ(counts.transactions, 0) << text;
  }
  std::filesystem::remove("o.cfptree.stat");
  EXPECT_EQ(capture_stdout([&] { counts = read_mining_statistics("o"); }),
            "Error: cannot open file o.cfptree.stat for read\n");
  EXPECT_EQ(counts.transactions, 0);
  EXPECT_EQ(counts.patterns_tested, -1);
}

TEST_F(MiningStatsTest, ClassValueMapGivesLinePositions) {
  ClassValueMap map;
  write_file("o.tgtvalues.map", "yes\nno\n");
  EXPECT_EQ(capture_stdout([&] { read_class_value_map("o", map); }), "");
  EXPECT_EQ(map, (ClassValueMap{{"yes", 0}, {"no", 1}}));

  // The last value without a line end is not taken.
  map.clear();
  write_file("o.tgtvalues.map", "yes\nno");
  read_class_value_map("o", map);
  EXPECT_EQ(map, (ClassValueMap{{"yes", 0}}));

  // A later equal value wins; CR LF line ends read alike.
  map = {{"kept", 9}};
  write_file("o.tgtvalues.map", "a\r\nb\r\na\r\n");
  read_class_value_map("o", map);
  EXPECT_EQ(map, (ClassValueMap{{"kept", 9}, {"a", 2}, {"b", 1}}));
}

TEST_F(MiningStatsTest, ClassValueStartingWithNulIsAnEmptyLine) {
  ClassValueMap map;
  write_file("o.tgtvalues.map", std::string("one\n\0x\nthree\n", 13));
  EXPECT_EQ(capture_stdout([&] { read_class_value_map("o", map); }),
            "Error: empty line at line 2\n");
  EXPECT_EQ(map, (ClassValueMap{{"one", 0}, {"three", 2}}));
}

TEST_F(MiningStatsTest, LongClassValueIsTakenWhole) {
  ClassValueMap map;
  const std::string value(500, 'v');
  write_file("o.tgtvalues.map", value + "\n");
  read_class_value_map("o", map);
  EXPECT_EQ(map, (ClassValueMap{{value, 0}}));
}

TEST_F(MiningStatsTest, MissingClassValueMapChangesNothing) {
  ClassValueMap map{{"x", 3}};
  EXPECT_EQ(capture_stdout([&] { read_class_value_map("o", map); }),
            "Error: cannot open file o.tgtvalues.map for read\n");
  EXPECT_EQ(map, (ClassValueMap{{"x", 3}}));
}

TEST_F(MiningStatsTest, ClassLabelsAreReadInTransactionOrder) {
  write_ints("o.tgtvalues", {1, 0, -1, 2});
  TrainingClassLabels labels(4, 7);
  EXPECT_EQ(capture_stdout([&] { read_training_class_labels("o", 4, labels); }), "");
  EXPECT_EQ(labels, (TrainingClassLabels{1, 0, -1, 2}));

  TrainingClassLabels none;
  EXPECT_EQ(capture_stdout([&] { read_training_class_labels("o", 0, none); }), "");
}

TEST_F(MiningStatsTest, ShortClassLabelFileLeavesTheRestAndIsReported) {
  write_file("o.tgtvalues", std::string("\x01\0\0\0\x02\0\0\0\x03\0", 10));
  TrainingClassLabels labels(4, 7);
  EXPECT_EQ(capture_stdout([&] { read_training_class_labels("o", 4, labels); }),
            "Error: file o.tgtvalues holds 2 class labels, fewer than the 4 transactions\n");
  EXPECT_EQ(labels[0], 1);
  EXPECT_EQ(labels[1], 2);
  EXPECT_EQ(labels[3], 7);

  std::filesystem::remove("o.tgtvalues");
  EXPECT_EQ(capture_stdout([&] { read_training_class_labels("o", 4, labels); }),
            "Error: cannot open file o.tgtvalues for read\n");
}

}  // namespace

namespace {

// What the miner's writers put down, the driver's readers take back.
TEST_F(MiningStatsTest, WrittenFilesReadBack) {
  MiningStatistics stats;
  stats.transactions = 9;
  stats.patterns_tested = 5000000000;
  ASSERT_TRUE(write_mining_statistics(statistics_file("o"), stats));
  EXPECT_EQ(read_file(statistics_file("o")), "9 0 0 5000000000 0 0 0 0 0 0 0 0 0 0\n");
  MinedPartCounts counts;
  EXPECT_EQ(capture_stdout([&] { counts = read_mining_statistics("o"); }), "");
  EXPECT_EQ(counts.transactions, 9);
  EXPECT_EQ(counts.patterns_tested, 5000000000);

  ASSERT_TRUE(write_class_value_map(class_value_map_file("o"), {"yes", "no", "maybe"}));
  ClassValueMap map;
  read_class_value_map("o", map);
  EXPECT_EQ(map, (ClassValueMap{{"yes", 0}, {"no", 1}, {"maybe", 2}}));

  ASSERT_TRUE(write_class_labels(class_labels_file("o"), {1, 0, 2, -1}));
  TrainingClassLabels labels(4, 99);
  read_training_class_labels("o", 4, labels);
  EXPECT_EQ(labels, (TrainingClassLabels{1, 0, 2, -1}));

  ASSERT_TRUE(write_item_map(item_map_file("o"), {"a=1", "", "b=x y"}));
  ItemMap items;
  load_item_map(items, std::fopen(item_map_file("o").c_str(), "r"));
  EXPECT_EQ(items, (ItemMap{{"a=1", 0}, {"", 1}, {"b=x y", 2}}));
  EXPECT_EQ(read_item_keys("o"), (std::vector<std::string>{"a=1", "", "b=x y"}));
}

}  // namespace
