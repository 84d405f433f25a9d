// Reading the data to mine: records as the driver reads its test part, items
// in order of first appearance, the two ways of coding the class, and the
// same data from a file read on any number of threads or from lines.
#include "mining_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>

#include "support/scratch_dir.h"

namespace {

struct DataResult {
  bool ok = false;
  MiningData data;
  std::string console;
};

DataResult read_data(const std::string& names, const std::string& records,
                     const std::string& target_value, int threads = 1) {
  ScratchDir scratch;
  write_file("d.names", names);
  write_file("d.data", records);
  MinerParams params;
  params.data_file = "d.data";
  params.names_file = "d.names";
  params.target_attribute = "class";
  params.target_value = target_value;
  DataResult result;
  testing::internal::CaptureStdout();
  result.ok = read_mining_data(params, result.data, threads);
  result.console = testing::internal::GetCapturedStdout();
  return result;
}

std::vector<std::vector<int32_t>> transactions(const MiningData& data) {
  std::vector<std::vector<int32_t>> out;
  for (size_t t = 0; t + 1 < data.offsets.size(); ++t)
    out.emplace_back(data.items.begin() + data.offsets[t],
                     data.items.begin() + data.offsets[t + 1]);
  return out;
}

const char* kNames = "a: x, y.\nclass: p, q.\nb: u, v.\n";

TEST(MiningData, ItemsAreNumberedInOrderOfFirstAppearance) {
  const DataResult r = read_data(kNames, "y,p,u\r\nx,q,u\n\ny,q,v", "p");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.console, "");
  EXPECT_EQ(r.data.item_keys, (std::vector<std::string>{"a=y", "b=u", "a=x", "b=v"}));
  EXPECT_EQ(transactions(r.data), (std::vector<std::vector<int32_t>>{{0, 1}, {1, 2}, {0, 3}}));
  EXPECT_EQ(r.data.labels, (std::vector<int32_t>{1, 0, 0}));
  EXPECT_EQ(r.data.class_values, (std::vector<std::string>{"p", "q"}));
  EXPECT_EQ(r.data.positives, 1);
}

TEST(MiningData, ColumnsOfManyValuesKeepTheirItemsWhereValuesShareSlots) {
  // Two columns of 200 values each, some alike in both, met in a scattered
  // order and again: values keep taking each other's cached places, and
  // every field must still find the item of its own column and value.
  std::string records;
  std::map<std::string, int32_t> ids;
  std::vector<std::string> keys;
  std::vector<std::vector<int32_t>> expected;
  auto id_of = [&](const std::string& key) {
    const auto [found, added] = ids.try_emplace(key, static_cast<int32_t>(keys.size()));
    if (added) keys.push_back(key);
    return found->second;
  };
  for (int r = 0; r < 1200; ++r) {
    const std::string a = "v" + std::to_string(r * 37 % 200);
    const std::string b = r % 3 == 0 ? a : "w" + std::to_string(r * 53 % 200);
    records += a + ",p," + b + "\n";
    std::vector<int32_t> items = {id_of("a=" + a), id_of("b=" + b)};
    std::sort(items.begin(), items.end());
    expected.push_back(items);
  }
  const DataResult r = read_data(kNames, records, "p");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.data.item_keys, keys);
  EXPECT_EQ(transactions(r.data), expected);
}

TEST(MiningData, MissingValuesGiveNoItemAndBlanksFollowTheDriversSplitting) {
  const DataResult r = read_data(kNames, "?, p,ignore\n x ,q, v\n", "q");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.data.item_keys, (std::vector<std::string>{"a=x ", "b=v"}));
  EXPECT_EQ(transactions(r.data), (std::vector<std::vector<int32_t>>{{}, {0, 1}}));
  EXPECT_EQ(r.data.labels, (std::vector<int32_t>{0, 1}));
}

TEST(MiningData, WrongFieldCountIsReportedAndTheRecordKeptWithTheFieldsItHas) {
  const DataResult r = read_data(kNames, "x,p\nx,,p,u\nx,p,u,extra\n", "p");
  ASSERT_TRUE(r.ok);
  // The empty field of the second record is dropped, so it lines up again.
  EXPECT_EQ(r.console,
            "Error: inconsistent number of columns\nError: inconsistent number of columns\n");
  EXPECT_EQ(r.data.item_keys, (std::vector<std::string>{"a=x", "b=u"}));
  EXPECT_EQ(transactions(r.data), (std::vector<std::vector<int32_t>>{{0}, {0, 1}, {0, 1}}));
  EXPECT_EQ(r.data.labels, (std::vector<int32_t>{1, 1, 1}));
}

TEST(MiningData, MissingClassIsLabelZeroWithATargetValueAndMinusOneWithout) {
  const DataResult given = read_data(kNames, "x,?,u\nx,p,u\nx,q,u\n", "p");
  EXPECT_EQ(given.data.labels, (std::vector<int32_t>{0, 1, 0}));
  const DataResult ranked = read_data(kNames, "x,?,u\nx,p,u\nx,q,u\nx,q,v\n", "");
  EXPECT_EQ(ranked.data.labels, (std::vector<int32_t>{-1, 1, 0, 0}));
}

TEST(MiningData, EmptyTargetRanksClassesByFrequencyTiesByFirstAppearance) {
  const DataResult r = read_data(kNames, "x,q,u\nx,p,u\nx,r,u\nx,p,u\nx,r,u\nx,s,u\n", "");
  ASSERT_TRUE(r.data.classes_usable);
  EXPECT_EQ(r.data.class_values, (std::vector<std::string>{"p", "r", "q", "s"}));
  EXPECT_EQ(r.data.class_counts, (std::vector<int32_t>{2, 2, 1, 1}));
  EXPECT_EQ(r.data.labels, (std::vector<int32_t>{2, 0, 1, 0, 1, 3}));
  EXPECT_EQ(r.data.positives, 2);
}

TEST(MiningData, FewerThanTwoClassValuesWithoutTargetIsAnError) {
  const DataResult r = read_data(kNames, "x,p,u\ny,p,v\n", "");
  EXPECT_TRUE(r.ok);
  EXPECT_FALSE(r.data.classes_usable);
  EXPECT_EQ(r.console.rfind("Error: fewer than two values of the class attribute class", 0), 0u);
}

TEST(MiningData, ClassValueWithABlankIsWarnedOfWhenRanked) {
  const DataResult r = read_data(kNames, "x,p q,u\nx,r,u\nx,r,u\n", "");
  EXPECT_EQ(r.console,
            "Warning: class value 'p q' holds white space; the driver cannot read it back\n");
  EXPECT_EQ(read_data(kNames, "x,p q,u\nx,r,u\n", "r").console, "");
}

TEST(MiningData, RepeatedColumnNamesGiveOneItemPerValue) {
  const DataResult r = read_data("a: x.\nclass: p.\na: x.\n", "x,p,x\nx,p,y\n", "p");
  EXPECT_EQ(r.data.item_keys, (std::vector<std::string>{"a=x", "a=y"}));
  EXPECT_EQ(transactions(r.data), (std::vector<std::vector<int32_t>>{{0}, {0, 1}}));
}

TEST(MiningData, AFileOfManyBlocksReadsTheSameOnEveryNumberOfThreadsAndFromLines) {
  // Values that first appear anywhere in the file, a class value first met
  // late, and lines of every kind: Windows line ends, empty lines, too few
  // and too many fields, missing values, one last line without a line feed.
  std::mt19937 random(5);
  std::string records;
  std::vector<std::string> lines;
  for (int i = 0; i < 520000; ++i) {
    std::string line;
    switch (random() % 40) {
      case 0:
        line = "";
        break;
      case 1:
        line = "x" + std::to_string(random() % 3) + ",p";
        break;
      case 2:
        line = "x1,q,u1,extra";
        break;
      case 3:
        line = "?,p,ignore";
        break;
      default:
        line = "x" + std::to_string(random() % (i / 5000 + 2)) + "," +
               (i > 450000 && random() % 9 == 0 ? "late"
                : random() % 3 == 0             ? "p"
                                                : "q") +
               ",u" + std::to_string(random() % 50);
    }
    lines.push_back(line);
    records += line + (random() % 2 == 0 ? "\r\n" : "\n");
  }
  records += "x1,p,u7\r";
  lines.push_back("x1,p,u7");
  ASSERT_GT(records.size(), size_t{4} << 20);  // several blocks
  for (const std::string target : {"p", ""}) {
    SCOPED_TRACE("target '" + target + "'");
    const DataResult one = read_data(kNames, records, target, 1);
    ASSERT_TRUE(one.ok);
    EXPECT_NE(one.console, "");
    EXPECT_EQ(one.data.labels.size(),
              lines.size() - static_cast<size_t>(std::count(lines.begin(), lines.end(), "")));
    for (const int threads : {2, 3, 16}) {
      const DataResult many = read_data(kNames, records, target, threads);
      EXPECT_TRUE(many.ok);
      EXPECT_EQ(many.console, one.console) << threads;
      EXPECT_EQ(many.data.item_keys, one.data.item_keys) << threads;
      EXPECT_EQ(many.data.items, one.data.items) << threads;
      EXPECT_EQ(many.data.offsets, one.data.offsets) << threads;
      EXPECT_EQ(many.data.labels, one.data.labels) << threads;
      EXPECT_EQ(many.data.class_values, one.data.class_values) << threads;
    }
    MinerParams params;
    params.data_file = "d.data";
    params.target_attribute = "class";
    params.target_value = target;
    MiningData from_lines;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(
        mining_data_from_lines(params, AttributeNames{"a", "class", "b"}, lines, from_lines));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), one.console);
    EXPECT_EQ(from_lines.item_keys, one.data.item_keys);
    EXPECT_EQ(from_lines.items, one.data.items);
    EXPECT_EQ(from_lines.labels, one.data.labels);
  }
}

TEST(MiningData, ALineLongerThanABlockOfTheFileIsReadWhole) {
  const std::string long_value(size_t{5} << 20, 'x');
  const DataResult r = read_data(kNames, "y,p,u\n" + long_value + ",q,v\r\ny,p,u", "p", 2);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.console, "");
  EXPECT_EQ(r.data.item_keys, (std::vector<std::string>{"a=y", "b=u", "a=" + long_value, "b=v"}));
  EXPECT_EQ(transactions(r.data), (std::vector<std::vector<int32_t>>{{0, 1}, {2, 3}, {0, 1}}));
  EXPECT_EQ(r.data.labels, (std::vector<int32_t>{1, 0, 1}));
}

TEST(MiningData, UnreadableFilesAreErrors) {
  ScratchDir scratch;
  MinerParams params;
  params.data_file = "none.data";
  params.names_file = "none.names";
  MiningData data;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(read_mining_data(params, data));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error: cannot open file none.names for read\n");
  write_file("none.names", "class: p.\n");
  testing::internal::CaptureStdout();
  EXPECT_FALSE(read_mining_data(params, data));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error: target attribute  not in none.names\n"
            "Error: cannot open file none.data for read\n");
  // A file that opens but cannot be read is not an empty data set.
  params.target_attribute = "class";
  std::filesystem::create_directory("folder.data");
  params.data_file = "folder.data";
  testing::internal::CaptureStdout();
  EXPECT_FALSE(read_mining_data(params, data));
  EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("Error: cannot read file folder.data", 0),
            0u);
}

}  // namespace
