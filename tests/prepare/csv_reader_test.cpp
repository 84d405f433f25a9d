// The CSV reader: quoting, records over several lines, missing values, the
// numeric-or-text decision, and damaged files.
#include <gtest/gtest.h>

#include "csv_reader.h"

TEST(CsvReader, ReadsQuotedFieldsAndMissingValues) {
  const std::vector<std::string> lines = {
      "\"the name\",size,note", "a,1,\"x, \"\"y\"\"\"", "",       "b,,?",
      "c,2.5e1,\"?\"",          "d,-3,\"two",           "lines\""};
  RawDataset dataset;
  std::string error;
  ASSERT_TRUE(read_csv(lines, "t.csv", dataset, error)) << error;
  ASSERT_EQ(dataset.attributes.size(), 3u);
  EXPECT_EQ(dataset.attributes[0].name, "the name");
  EXPECT_EQ(dataset.attributes[0].kind, AttributeKind::text);
  EXPECT_EQ(dataset.attributes[1].kind, AttributeKind::numeric);
  EXPECT_EQ(dataset.attributes[2].kind, AttributeKind::text);
  ASSERT_EQ(dataset.records.size(), 4u);
  EXPECT_EQ(dataset.records[0].values, (std::vector<RawValue>{"a", "1", "x, \"y\""}));
  EXPECT_EQ(dataset.records[1].values, (std::vector<RawValue>{"b", std::nullopt, std::nullopt}));
  EXPECT_EQ(dataset.records[2].values, (std::vector<RawValue>{"c", "2.5e1", "?"}));
  EXPECT_EQ(dataset.records[3].values, (std::vector<RawValue>{"d", "-3", "two\nlines"}));
  EXPECT_EQ(dataset.records[1].line, 4u);
  EXPECT_EQ(dataset.records[3].line, 6u);
}

TEST(CsvReader, ColumnIsNumericOnlyWhenEveryValueIsAFiniteNumber) {
  const std::vector<std::string> lines = {"a,b,c,d", "1,1,?,1", "2,x,?,1e400"};
  RawDataset dataset;
  std::string error;
  ASSERT_TRUE(read_csv(lines, "t.csv", dataset, error)) << error;
  EXPECT_EQ(dataset.attributes[0].kind, AttributeKind::numeric);
  EXPECT_EQ(dataset.attributes[1].kind, AttributeKind::text);
  EXPECT_EQ(dataset.attributes[2].kind, AttributeKind::text);  // no value at all
  EXPECT_EQ(dataset.attributes[3].kind, AttributeKind::text);  // beyond a double
}

TEST(CsvReader, DamagedFilesNameTheLineAndTheFault) {
  const struct {
    std::vector<std::string> lines;
    std::string message;
  } cases[] = {
      {{}, "t.csv: no header line"},
      {{"", ""}, "t.csv: no header line"},
      {{"a,b", "1,2", "3"}, "t.csv line 3: 1 fields where the header names 2"},
      {{"a,b", "1,2,3"}, "t.csv line 2: 3 fields where the header names 2"},
      {{"a,b", "1,\"2", "3"}, "t.csv line 2: a quote that is never closed"},
      {{"a,b", "1,\"2\"x"}, "t.csv line 2: text after the closing quote"},
  };
  for (const auto& c : cases) {
    RawDataset dataset;
    std::string error;
    EXPECT_FALSE(read_csv(c.lines, "t.csv", dataset, error));
    EXPECT_EQ(error.rfind(c.message, 0), 0u) << "got: " << error;
  }
}
