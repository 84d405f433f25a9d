// The ARFF reader on well-formed headers and rows, and on damaged files.
#include <gtest/gtest.h>

#include "arff_reader.h"

namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      if (start < text.size()) lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

bool read(const std::string& text, RawDataset& dataset, std::string& error) {
  return read_arff(lines_of(text), "t.arff", dataset, error);
}

}  // namespace

TEST(ArffReader, ReadsHeaderQuotingCommentsAndMissingValues) {
  RawDataset dataset;
  std::string error;
  ASSERT_TRUE(
      read("% a comment\n"
           "@RELATION 'some data'\n\n"
           "@attribute 'first name' {'a,b', \"c\\\"d\", e}  % trailing comment\n"
           "@attribute size REAL\n"
           "@attribute note string\n"
           "@attribute when date \"yyyy-MM-dd\"\n"
           "@data\n"
           "'a,b', 1.5, 'hello world', '2001-01-01'\n"
           "% comment between rows\n"
           "e,?,'?',?\n",
           dataset, error))
      << error;
  ASSERT_EQ(dataset.attributes.size(), 4u);
  EXPECT_EQ(dataset.attributes[0].name, "first name");
  EXPECT_EQ(dataset.attributes[0].declared_values, (std::vector<std::string>{"a,b", "c\"d", "e"}));
  EXPECT_EQ(dataset.attributes[1].kind, AttributeKind::numeric);
  EXPECT_EQ(dataset.attributes[2].kind, AttributeKind::text);
  EXPECT_EQ(dataset.attributes[3].kind, AttributeKind::text);
  ASSERT_EQ(dataset.records.size(), 2u);
  EXPECT_EQ(dataset.records[0].line, 9u);
  EXPECT_EQ(dataset.records[0].values,
            (std::vector<RawValue>{"a,b", "1.5", "hello world", "2001-01-01"}));
  // An unquoted ? is missing; a quoted one is a real value.
  EXPECT_EQ(dataset.records[1].values,
            (std::vector<RawValue>{"e", std::nullopt, "?", std::nullopt}));
  EXPECT_EQ(dataset.records[1].line, 11u);
}

TEST(ArffReader, SparseRowsTakeDefaultsForLeftOutAttributes) {
  RawDataset dataset;
  std::string error;
  ASSERT_TRUE(
      read("@relation r\n@attribute n numeric\n@attribute k {x,y}\n"
           "@attribute s string\n@attribute c {p,q}\n@data\n"
           "{1 y, 3 q}\n{}\n{0 2.5, 2 'w', 1 ?}\n",
           dataset, error))
      << error;
  ASSERT_EQ(dataset.records.size(), 3u);
  EXPECT_EQ(dataset.records[0].values, (std::vector<RawValue>{"0", "y", std::nullopt, "q"}));
  EXPECT_EQ(dataset.records[1].values, (std::vector<RawValue>{"0", "x", std::nullopt, "p"}));
  EXPECT_EQ(dataset.records[2].values, (std::vector<RawValue>{"2.5", std::nullopt, "w", "p"}));
}

TEST(ArffReader, DamagedFilesNameTheLineAndTheFault) {
  const std::string header = "@relation r\n@attribute n numeric\n@attribute c {p,q}\n@data\n";
  const struct {
    std::string text;
    std::string message;
  } cases[] = {
      {"a,b\n1,2\n", "t.arff line 1: @relation expected"},
      {"@relation r\n@attribute\n@data\n", "t.arff line 2: an attribute without a name"},
      {"@relation r\n@attribute n numbr\n@data\n", "t.arff line 2: unknown type 'numbr'"},
      {"@relation r\n@attribute c {p,q\n@data\n", "t.arff line 2: ',' or '}' expected"},
      {"@relation r\n@attribute 'c {p,q}\n@data\n", "t.arff line 2: a quote that is never closed"},
      {"@relation r\n@attribute r relational\n", "t.arff line 2: relational attributes"},
      {"@relation r\n@data\n", "t.arff line 2: @data before any @attribute"},
      {"@relation r\n@attribute n numeric\n", "t.arff: the header never reaches @data"},
      {"@relation r\n@attribute n numeric\nn,1\n", "t.arff line 3: @attribute or @data expected"},
      {header + "1,p\n2\n", "t.arff line 6: 1 values where 2 attributes are declared"},
      {header + "1,p,3\n", "t.arff line 5: more than the 2 declared values"},
      {header + "1,,p\n", "t.arff line 5: an empty value"},
      {header + "1,r\n", "t.arff line 5: value 'r' is not declared for attribute 'c'"},
      {header + "1e999,p\n",
       "t.arff line 5: value '1e999' of numeric attribute 'n' is not a finite"},
      {header + "abc,p\n", "t.arff line 5: value 'abc' of numeric attribute 'n'"},
      {header + "1,'p\n", "t.arff line 5: a quote that is never closed"},
      {header + "{2 p}\n", "t.arff line 5: '2' is not an attribute index from 0 to 1"},
      {header + "{1 p, 1 q}\n", "t.arff line 5: attribute index 1 appears twice"},
      {header + "{1 p\n", "t.arff line 5: ',' or '}' expected in a sparse row"},
      {header + "{1}\n", "t.arff line 5: no value after attribute index 1"},
      {header + "'1' 'p'\n", "t.arff line 5: ',' expected after value '1'"},
  };
  for (const auto& c : cases) {
    RawDataset dataset;
    std::string error;
    EXPECT_FALSE(read(c.text, dataset, error)) << c.text;
    EXPECT_EQ(error.rfind(c.message, 0), 0u) << "got: " << error << "\nfor:\n" << c.text;
  }
}
