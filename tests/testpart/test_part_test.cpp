// The item map and the test part loader: items in the miner's numbering and
// exactly one label per record.
#include <gtest/gtest.h>

#include "minerio/item_map.h"
#include "support/scratch_dir.h"
#include "testpart/test_part.h"

namespace {

ItemMap item_map_from(const std::string& bytes) {
  ScratchDir dir;
  write_file("o.attrvalue2item.txt", bytes);
  ItemMap map;
  load_item_map(map, std::fopen("o.attrvalue2item.txt", "r"));
  return map;
}

TEST(ItemMap, LineIndexIsTheItemId) {
  EXPECT_EQ(item_map_from("a=1\nb=2\nc=x y\n"), (ItemMap{{"a=1", 0}, {"b=2", 1}, {"c=x y", 2}}));
  // The last line may lack its line feed; a final line feed adds no key.
  EXPECT_EQ(item_map_from("a=1\nb=2"), (ItemMap{{"a=1", 0}, {"b=2", 1}}));
  EXPECT_TRUE(item_map_from("").empty());
}

TEST(ItemMap, EmptyLineTakesAnIndexAndLaterDuplicatesWin) {
  EXPECT_EQ(item_map_from("a=1\n\nb=2\na=1\n"), (ItemMap{{"a=1", 3}, {"", 1}, {"b=2", 2}}));
}

TEST(ItemMap, WindowsLineEndsAndLongKeys) {
  const std::string long_key = "attr=" + std::string(400, 'v');
  EXPECT_EQ(item_map_from("a=1\r\n" + long_key + "\r\nb=2\r\n"),
            (ItemMap{{"a=1", 0}, {long_key, 1}, {"b=2", 2}}));
}

// One load of a test part in a scratch directory.
struct Loaded {
  TestTransactions transactions;
  ClassLabels labels;
  std::string console;
};

struct TestPartCase {
  AttributeNames names = {"class", "colour", "size"};
  std::string item_map = "colour=red\ncolour=blue\nsize=big\nsize=small\n";
  std::string data;
  std::string target_attr = "class";
  std::string target_value = "yes";
  ClassValueMap class_map;
  bool write_item_map = true;
  bool write_data = true;

  Loaded load() const {
    ScratchDir dir;
    if (write_item_map) write_file("o.attrvalue2item.txt", item_map);
    if (write_data) write_file("d_part_1.data", data);
    Loaded result;
    testing::internal::CaptureStdout();
    load_test_part("d_part_1", names, target_attr, target_value, class_map, result.transactions,
                   result.labels, "o");
    result.console = testing::internal::GetCapturedStdout();
    return result;
  }
};

TEST(TestPart, RecordsBecomeSortedTransactionsWithLabels) {
  TestPartCase c;
  c.names = {"size", "class", "colour"};
  c.data = "small,yes,blue\nbig,no,red\n\n\nbig, yes, blue\nsmall,Yes,red\nsmall,yes ,red";
  const Loaded r = c.load();
  EXPECT_EQ(r.console, "load map...\n");
  EXPECT_EQ(r.transactions, (TestTransactions{{1, 3}, {0, 2}, {1, 2}, {0, 3}, {0, 3}}));
  // Letter case and a trailing blank make a different class value.
  EXPECT_EQ(r.labels, (ClassLabels{1, 0, 1, 0, 0}));
}

TEST(TestPart, MissingValuesAndUnknownKeys) {
  TestPartCase c;
  c.data =
      "yes,?,ignore\n"
      "no,red ,big\n"   // the blank before the comma stays in the value
      "yes,? ,small\n"  // "? " is no missing value
      "no,green,big\n";
  const Loaded r = c.load();
  EXPECT_EQ(r.console, "load map...\ncolour=red \ncolour=? \ncolour=green\n");
  EXPECT_EQ(r.transactions, (TestTransactions{{}, {2}, {3}, {2}}));
  EXPECT_EQ(r.labels, (ClassLabels{1, 0, 1, 0}));
}

TEST(TestPart, ColumnsOfManyValuesFindTheirItemsAndUnknownOnesAreNamedEachTime) {
  // 300 colours, every other one in the item map, met in a scattered order
  // and again: known values keep taking each other's cached places, unknown
  // ones are looked up and printed every time they occur.
  TestPartCase c;
  c.item_map.clear();
  for (int v = 0; v < 300; v += 2) c.item_map += "colour=c" + std::to_string(v) + "\n";
  c.item_map += "size=big\n";
  const int32_t big = 150;
  TestTransactions expected;
  std::string console = "load map...\n";
  for (int r = 0; r < 900; ++r) {
    const int v = r * 113 % 300;
    c.data += "yes,c" + std::to_string(v) + ",big\n";
    if (v % 2 == 0) {
      expected.push_back({v / 2, big});
    } else {
      expected.push_back({big});
      console += "colour=c" + std::to_string(v) + "\n";
    }
  }
  const Loaded r = c.load();
  EXPECT_EQ(r.console, console);
  EXPECT_EQ(r.transactions, expected);
}

TEST(TestPart, EmptyFieldShiftsLaterValuesLeft) {
  TestPartCase c;
  c.data = "yes,,big\n";
  const Loaded r = c.load();
  // "big" now stands in the colour column.
  EXPECT_EQ(r.console, "load map...\nError: inconsistent number of columns\ncolour=big\n");
  EXPECT_EQ(r.transactions, (TestTransactions{{}}));
  EXPECT_EQ(r.labels, (ClassLabels{1}));
}

TEST(TestPart, ExtraFieldsAreIgnoredAfterTheMessage) {
  TestPartCase c;
  c.data = "yes,red,big,extra,more\n";
  const Loaded r = c.load();
  EXPECT_EQ(r.console, "load map...\nError: inconsistent number of columns\n");
  EXPECT_EQ(r.transactions, (TestTransactions{{0, 2}}));
  EXPECT_EQ(r.labels, (ClassLabels{1}));
}

TEST(TestPart, EveryRecordGetsExactlyOneLabel) {
  TestPartCase c;
  c.data =
      "?,red,big\n"  // class missing
      "ignore,red,big\n"
      "yes\n"    // too few fields for the item columns, label still read
      " , ,\n";  // separators and blanks only: no fields at all
  const Loaded r = c.load();
  EXPECT_EQ(r.labels, (ClassLabels{-1, -1, 1, -1}));
  EXPECT_EQ(r.transactions, (TestTransactions{{0, 2}, {0, 2}, {}, {}}));
  EXPECT_EQ(r.transactions.size(), r.labels.size());

  c.target_attr = "nonexistent";
  c.data = "yes,red,big\n";
  const Loaded no_target = c.load();
  EXPECT_EQ(no_target.labels, (ClassLabels{-1}));
  EXPECT_EQ(no_target.console, "load map...\nclass=yes\n");
}

TEST(TestPart, RepeatedTargetNameTakesTheFirstColumnWithAValue) {
  TestPartCase c;
  c.names = {"class", "colour", "class"};
  c.data = "yes,red,no\nno,red,yes\n?,blue,yes\n";
  const Loaded r = c.load();
  EXPECT_EQ(r.labels, (ClassLabels{1, 0, 1}));
  EXPECT_EQ(r.transactions, (TestTransactions{{0}, {0}, {1}}));
  EXPECT_EQ(r.console, "load map...\n");
}

TEST(TestPart, RepeatedItemColumnsYieldTheIdTwice) {
  TestPartCase c;
  c.names = {"colour", "class", "colour"};
  c.data = "red,yes,red\n";
  EXPECT_EQ(c.load().transactions, (TestTransactions{{0, 0}}));
}

TEST(TestPart, EmptyTargetValueUsesTheClassValueMap) {
  TestPartCase c;
  c.target_value = "";
  c.class_map = {{"no", 0}, {"yes", 1}};
  c.data = "yes,red,big\nno,blue,big\nmaybe,red,small\n";
  const Loaded r = c.load();
  EXPECT_EQ(r.labels, (ClassLabels{1, 0, -1}));
  EXPECT_EQ(r.console, "load map...\nWarning: class maybe does not occur in mining data\n");
}

TEST(TestPart, NumbersAreMatchedAsText) {
  TestPartCase c;
  c.names = {"class", "age"};
  c.item_map = "age=30\n";
  c.data = "yes,30\nyes,30.0\n";
  const Loaded r = c.load();
  EXPECT_EQ(r.transactions, (TestTransactions{{0}, {}}));
  EXPECT_EQ(r.console, "load map...\nage=30.0\n");
}

TEST(TestPart, WindowsLineEndsAndLongValues) {
  TestPartCase c;
  const std::string long_value(300, 'r');
  c.item_map = "colour=" + long_value + "\r\nsize=big\r\n";
  c.data = "yes," + long_value + ",big\r\nno," + long_value + "x,big\r\n";
  const Loaded r = c.load();
  EXPECT_EQ(r.transactions, (TestTransactions{{0, 1}, {1}}));
  EXPECT_EQ(r.console, "load map...\ncolour=" + long_value + "x\n");
}

TEST(TestPart, MissingItemMapLeavesTransactionsEmpty) {
  TestPartCase c;
  c.write_item_map = false;
  c.data = "yes,red,big\n";
  const Loaded r = c.load();
  EXPECT_EQ(r.transactions, (TestTransactions{{}}));
  EXPECT_EQ(r.labels, (ClassLabels{1}));
  EXPECT_EQ(r.console,
            "load map...\nError: cannot open file o.attrvalue2item.txt for read\n"
            "colour=red\nsize=big\n");
}

TEST(TestPart, MissingTestPartGivesNoRecords) {
  TestPartCase c;
  c.write_data = false;
  const Loaded r = c.load();
  EXPECT_TRUE(r.transactions.empty());
  EXPECT_TRUE(r.labels.empty());
  EXPECT_EQ(r.console, "load map...\nError: cannot open file d_part_1.data for read\n");
}

TEST(TestPart, MissingAttributeNamesReportEveryRecord) {
  TestPartCase c;
  c.names = {};
  c.data = "yes,red\nno,blue\n";
  const Loaded r = c.load();
  EXPECT_EQ(r.console,
            "load map...\nError: inconsistent number of columns\n"
            "Error: inconsistent number of columns\n");
  EXPECT_EQ(r.labels, (ClassLabels{-1, -1}));
  EXPECT_EQ(r.transactions, (TestTransactions{{}, {}}));
}

}  // namespace
