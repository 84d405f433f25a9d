// Preparing a table: class coding and order, left-out records, binning,
// rewrites of unsafe values, and the data that must be refused.
#include <gtest/gtest.h>

#include "prepared_files.h"
#include "prepared_table.h"

namespace {

RawAttribute attribute(const std::string& name, AttributeKind kind = AttributeKind::text) {
  RawAttribute result;
  result.name = name;
  result.kind = kind;
  return result;
}

// Three columns: colour (nominal), size (numeric), party (the class).
RawDataset small_dataset() {
  RawDataset dataset;
  dataset.attributes = {attribute("colour"), attribute("size", AttributeKind::numeric),
                        attribute("party")};
  dataset.attributes[0].declared_values = {"red", "blue", "green"};
  const std::vector<std::vector<RawValue>> rows = {
      {"red", "1", "rep"},        {"blue", "2", "dem"},          {std::nullopt, "3", "rep"},
      {"red", "4", std::nullopt}, {"blue", std::nullopt, "ind"}, {"red", "6", "dem"}};
  for (size_t i = 0; i < rows.size(); ++i) dataset.records.push_back({i + 1, rows[i]});
  return dataset;
}

bool prepare(const RawDataset& dataset, const PrepareSettings& settings, PreparedTable& table,
             std::string& error) {
  return prepare_table(dataset, settings, table, error);
}

}  // namespace

TEST(PreparedTable, PositiveValueCodesTheClassAndPutsItFirst) {
  PrepareSettings settings;
  settings.target = "party";
  settings.positive = "rep";
  settings.bins = 2;
  PreparedTable table;
  std::string error;
  ASSERT_TRUE(prepare(small_dataset(), settings, table, error)) << error;
  // The record without a class value is left out, not counted as a 0.
  EXPECT_EQ(format_data_text(table),
            "1,red,[1..2.5)\n0,blue,[1..2.5)\n1,?,[2.5..6]\n0,blue,?\n0,red,[2.5..6]\n");
  EXPECT_EQ(format_names_text(table),
            "party: 1,0. (1 = rep)\ncolour: red,blue,green.\nsize: [1..2.5),[2.5..6].\n");
  EXPECT_EQ(table.class_column, 0u);
  EXPECT_EQ(table.left_out_records, 1u);
  ASSERT_EQ(table.class_counts.size(), 2u);
  EXPECT_EQ(table.class_counts[0].records, 2u);
  EXPECT_EQ(table.class_counts[1].records, 3u);
  EXPECT_EQ(table.warnings,
            (std::vector<std::string>{"1 records without a value of 'party' are left out"}));
}

TEST(PreparedTable, WithoutPositiveTheClassKeepsItsPlaceAndValues) {
  PrepareSettings settings;  // the last attribute is the class
  settings.drop_numeric = true;
  PreparedTable table;
  std::string error;
  ASSERT_TRUE(prepare(small_dataset(), settings, table, error)) << error;
  EXPECT_EQ(format_data_text(table), "red,rep\nblue,dem\n?,rep\nblue,ind\nred,dem\n");
  EXPECT_EQ(format_names_text(table), "colour: red,blue,green.\nparty: rep,dem,ind.\n");
  EXPECT_EQ(table.class_column, 1u);
  EXPECT_EQ(table.dropped_numeric, 1u);
  ASSERT_EQ(table.class_counts.size(), 3u);
  EXPECT_EQ(table.class_counts[1].value, "dem");
  EXPECT_EQ(table.class_counts[1].records, 2u);
}

TEST(PreparedTable, UnsafeValuesAreRewrittenAndReportedOncePerAttribute) {
  RawDataset dataset;
  dataset.attributes = {attribute("v"), attribute("c")};
  const std::vector<RawValue> values = {"a,b", "  x", "?", "ignore", "", "two\nlines", "a,b"};
  for (const RawValue& value : values) dataset.records.push_back({1, {value, "k"}});
  dataset.records.push_back({1, {"plain", "l"}});
  PreparedTable table;
  std::string error;
  ASSERT_TRUE(prepare(dataset, PrepareSettings{}, table, error)) << error;
  EXPECT_EQ(table.columns[0].values, (std::vector<std::string>{"a;b", "__x", "(?)", "(ignore)",
                                                               "()", "two lines", "plain"}));
  ASSERT_EQ(table.warnings.size(), 1u);
  EXPECT_EQ(table.warnings[0],
            "attribute 'v': commas became ';', leading blanks became '_', line breaks became "
            "blanks, values that would read as missing got parentheses");
}

TEST(PreparedTable, WarnsWhenNothingIsLeftToMineOrOneClassHoldsAll) {
  RawDataset dataset;
  dataset.attributes = {attribute("n", AttributeKind::numeric), attribute("c")};
  dataset.records = {{1, {"1", "yes"}}, {2, {"2", "yes"}}};
  PrepareSettings settings;
  settings.drop_numeric = true;
  PreparedTable table;
  std::string error;
  ASSERT_TRUE(prepare(dataset, settings, table, error)) << error;
  ASSERT_EQ(table.warnings.size(), 2u);
  EXPECT_EQ(table.warnings[0].rfind("no attribute is left besides the class 'c'", 0), 0u);
  EXPECT_EQ(table.warnings[1].rfind("every record is in one class of 'c'", 0), 0u);

  // The class-value map the driver reads back holds single words.
  dataset.records[1].values[1] = "no thanks";
  table = PreparedTable{};
  ASSERT_TRUE(prepare(dataset, settings, table, error)) << error;
  ASSERT_EQ(table.warnings.size(), 2u);
  EXPECT_EQ(table.warnings[1].rfind("class value 'no thanks' holds a blank", 0), 0u);
}

TEST(PreparedTable, RefusesDataThatCannotBeWrittenFaithfully) {
  const auto refuse = [](RawDataset dataset, PrepareSettings settings, const std::string& message) {
    PreparedTable table;
    std::string error;
    EXPECT_FALSE(prepare_table(dataset, settings, table, error)) << message;
    EXPECT_EQ(error.rfind(message, 0), 0u) << "got: " << error;
  };
  PrepareSettings by_name;
  by_name.target = "Party";
  refuse(small_dataset(), by_name, "no attribute named 'Party'");
  PrepareSettings never;
  never.target = "party";
  never.positive = "Rep";
  refuse(small_dataset(), never, "value 'Rep' never occurs in attribute 'party'");
  refuse(RawDataset{}, PrepareSettings{}, "no attributes");

  RawDataset no_class = small_dataset();
  for (RawRecord& record : no_class.records) record.values[2] = std::nullopt;
  refuse(no_class, PrepareSettings{}, "no record has a value of attribute 'party'");

  for (const auto& [name, message] : std::vector<std::pair<std::string, std::string>>{
           {"a:b", "attribute name 'a:b' holds ':'"},
           {"", "an attribute has an empty name"},
           {"a\rb", "an attribute name holds a line break"},
           {std::string(100, 'n'), "attribute name 'nnnn"},
           {"party", "two attributes are named 'party'"}}) {
    RawDataset dataset = small_dataset();
    dataset.attributes[0].name = name;
    refuse(dataset, PrepareSettings{}, message);
  }
  RawDataset longest_name = small_dataset();
  longest_name.attributes[0].name = std::string(99, 'n');
  PreparedTable table;
  std::string error;
  EXPECT_TRUE(prepare_table(longest_name, PrepareSettings{}, table, error)) << error;

  RawDataset clash = small_dataset();
  clash.attributes[0].declared_values = {"a,b", "a;b"};
  refuse(clash, PrepareSettings{},
         "values 'a,b' and 'a;b' of attribute 'colour' would both be "
         "written as 'a;b'");
  RawDataset long_item = small_dataset();
  long_item.records[0].values[0] = std::string(193, 'v');  // "colour=" makes 200 bytes
  refuse(long_item, PrepareSettings{}, "value 'vvvv");
  long_item.records[0].values[0] = std::string(192, 'v');
  table = PreparedTable{};
  EXPECT_TRUE(prepare_table(long_item, PrepareSettings{}, table, error)) << error;
}
