// varnel-prepare run as a program: the committed example reproduced byte for
// byte, the bundled data sets read back with the system's own readers, and
// bad input refused with one error line and no files written.
#include <gtest/gtest.h>

#include <cstdio>

#include "common/record_fields.h"
#include "common/text_lines.h"
#include "support/scratch_dir.h"
#include "testpart/attribute_names.h"

namespace {

const std::string kPrepare = std::string(VARNEL_BIN_DIR) + "/varnel-prepare";
const std::string kData = std::string(VARNEL_DATA_DIR) + "/";

std::vector<std::string> output_lines(const std::string& output) {
  std::vector<std::string> lines;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Reads BASE.names and BASE.data as the driver and the miner do; every
// record must have one field per attribute. Returns the records.
std::vector<std::vector<std::string>> read_back(const std::string& base, AttributeNames& names) {
  std::FILE* file = std::fopen((base + ".names").c_str(), "r");
  EXPECT_NE(file, nullptr);
  if (file == nullptr) return {};
  read_attribute_names(names, file);
  std::vector<std::vector<std::string>> records;
  file = std::fopen((base + ".data").c_str(), "r");
  EXPECT_NE(file, nullptr);
  if (file == nullptr) return {};
  for (std::string line; read_text_line(file, line);) {
    std::vector<std::string> fields;
    split_fields(line, ',', fields);
    EXPECT_EQ(fields.size(), names.size()) << line;
    records.push_back(std::move(fields));
  }
  std::fclose(file);
  return records;
}

size_t count_in_column(const std::vector<std::vector<std::string>>& records, size_t column,
                       const std::string& value) {
  size_t count = 0;
  for (const auto& record : records) count += record.size() > column && record[column] == value;
  return count;
}

}  // namespace

TEST(PrepareCommand, ReproducesTheCommittedVoteExampleByteForByte) {
  ScratchDir dir;
  const CommandResult result = run_program(
      kPrepare, {"--target", "Class", "--positive", "republican", kData + "vote.arff", "vote"});
  ASSERT_EQ(result.status, 0) << result.output;
  const std::string examples = std::string(VARNEL_SOURCE_DIR) + "/examples/";
  EXPECT_EQ(read_file("vote.data"), read_file(examples + "vote.data"));
  EXPECT_EQ(read_file("vote.names"), read_file(examples + "vote.names"));
  EXPECT_EQ(result.output, "Read " + kData +
                               "vote.arff: 435 records, 17 attributes\n"
                               "Wrote vote.data: 435 records\n"
                               "Wrote vote.names: 17 attributes, class Class in column 1 "
                               "(1 = republican)\n"
                               "Class counts: 1: 168, 0: 267\n"
                               "Run an experiment with:\n"
                               "  varnel vote Class 1 21 0.05 vote\n");
  EXPECT_FALSE(std::filesystem::exists("vote.data.partial"));
}

TEST(PrepareCommand, PreparesEveryBundledDataSetForTheSystemsReaders) {
  ScratchDir dir;
  struct Case {
    std::string file;
    std::vector<std::string> options;
    size_t attributes;
    size_t records;
    size_t class_column;
    std::string class_value;
    size_t class_count;
  };
  const Case cases[] = {
      {"vote", {"--positive", "republican"}, 17, 435, 0, "1", 168},
      {"breast-cancer", {}, 10, 286, 9, "recurrence-events", 85},
      {"supermarket", {"--target", "total", "--positive", "high"}, 217, 4627, 0, "1", 1679},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.options;
    args.push_back(kData + c.file + ".arff");
    args.push_back(c.file);
    const CommandResult result = run_program(kPrepare, args);
    ASSERT_EQ(result.status, 0) << result.output;
    AttributeNames names;
    const auto records = read_back(c.file, names);
    EXPECT_EQ(names.size(), c.attributes) << c.file;
    EXPECT_EQ(records.size(), c.records) << c.file;
    EXPECT_EQ(count_in_column(records, c.class_column, c.class_value), c.class_count) << c.file;
  }
}

TEST(PrepareCommand, PreparesACsvWithNumbersAndUnsafeValues) {
  ScratchDir dir;
  write_file("people.csv",
             "age,town,\"smoker?\",outcome\r\n"
             "23,\"Paris, FR\",yes,ill\r\n31, Lyon,no,well\r\n45,?,no,ill\r\n52,Nice,,well\r\n"
             "67,Nice,yes,\r\n38,\"?\",yes,well\r\n29,Lyon,no,ill\r\n71,Nice,yes,ill\r\n");
  const CommandResult result = run_program(kPrepare, {"--target", "outcome", "--positive", "ill",
                                                      "--bins", "2", "people.csv", "people"});
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(read_file("people.names"),
            "outcome: 1,0. (1 = ill)\nage: [23..34),[34..71].\n"
            "town: Paris; FR,_Lyon,Nice,(?),Lyon.\nsmoker?: yes,no.\n");
  EXPECT_EQ(read_file("people.data"),
            "1,[23..34),Paris; FR,yes\n0,[23..34),_Lyon,no\n1,[34..71],?,no\n"
            "0,[34..71],Nice,?\n0,[34..71],(?),yes\n1,[23..34),Lyon,no\n1,[34..71],Nice,yes\n");
  const auto lines = output_lines(result.output);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Warning: 1 records without a value of 'outcome' are left out");
  EXPECT_EQ(lines[1].rfind("Warning: attribute 'town': commas became ';'", 0), 0u);
  EXPECT_EQ(lines.back(), "  varnel people outcome 1 1 0.05 people");
}

TEST(PrepareCommand, BadInputGivesOneErrorLineAndWritesNothing) {
  const std::string header = "@relation r\n@attribute a {x,y}\n@attribute c {p,q}\n@data\n";
  const struct {
    std::string input;  // written to the file named in args[0] unless empty
    std::vector<std::string> args;
    std::string error;
  } cases[] = {
      {"", {"missing.arff", "out"}, "Error: cannot open file missing.arff for read"},
      {"@relation r\n@attribute a {x,y\n@data\nx\n",
       {"bad.arff", "out"},
       "Error: bad.arff line 2:"},
      {header + "x,p\n",
       {"t.arff", "out", "--target", "C"},
       "Error: t.arff: no attribute named 'C'"},
      {header + "x,p\n",
       {"t.arff", "out", "--positive", "q"},
       "Error: t.arff: value 'q' never occurs in attribute 'c'"},
      {header + "x,p\ny\n", {"t.arff", "out"}, "Error: t.arff line 6: 1 values where 2"},
      {"a,b:c\n1,2\n", {"t.csv", "out"}, "Error: t.csv: attribute name 'b:c' holds ':'"},
      {"a,a\n1,2\n", {"t.csv", "out"}, "Error: t.csv: two attributes are named 'a'"},
      {"a,b\n1,x\n2\n", {"t.csv", "out"}, "Error: t.csv line 3: 1 fields where the header names 2"},
      {std::string("a,b\n1,\0,2\n", 10), {"t.csv", "out"}, "Error: t.csv line 2: a zero byte"},
      {"a,b\n" + std::string(10'000'000, 'x') + ",1\n",
       {"t.csv", "out"},
       "Error: t.csv: value 'xxxx"},
      {"a,b\n1,2\n", {"t.csv", "t"}, "Error: writing t.data and .names would replace the input"},
  };
  for (const auto& c : cases) {
    ScratchDir dir;
    if (!c.input.empty()) write_file(c.args[0], c.input);
    std::vector<std::string> args = c.args;
    if (c.args[1] == "t") {  // the input itself is named like an output
      std::filesystem::rename(c.args[0], "t.data");
      args = {"--format", "csv", "t.data", "t"};
    }
    const CommandResult result = run_program(kPrepare, args);
    EXPECT_EQ(result.status, 1) << c.error;
    const auto lines = output_lines(result.output);
    ASSERT_EQ(lines.size(), 1u) << result.output;
    EXPECT_EQ(lines[0].rfind(c.error, 0), 0u) << lines[0].substr(0, 200);
    for (const char* name :
         {"out.data", "out.names", "out.data.partial", "out.names.partial", "t.names"}) {
      EXPECT_FALSE(std::filesystem::exists(name)) << name << " after: " << c.error;
    }
  }
}

TEST(PrepareCommand, FailedRunKeepsEarlierFilesAndRandomBytesAreRefused) {
  ScratchDir dir;
  write_file("out.data", "earlier data\n");
  write_file("out.names", "earlier: names.\n");
  std::string garbage;
  unsigned state = 12345;
  for (int i = 0; i < 200000; ++i) {
    state = state * 1103515245u + 12345u;
    garbage.push_back(static_cast<char>((state >> 16) % 255 + 1));  // no zero byte
  }
  write_file("garbage.arff", garbage);
  write_file("garbage.csv", garbage);
  for (const char* input : {"garbage.arff", "garbage.csv"}) {
    const CommandResult result = run_program(kPrepare, {input, "out"});
    EXPECT_EQ(result.status, 1) << input;
    const auto lines = output_lines(result.output);
    ASSERT_EQ(lines.size(), 1u) << input;
    EXPECT_EQ(lines[0].rfind(std::string("Error: ") + input, 0), 0u) << lines[0].substr(0, 200);
  }
  EXPECT_EQ(read_file("out.data"), "earlier data\n");
  EXPECT_EQ(read_file("out.names"), "earlier: names.\n");
}

TEST(PrepareCommand, HelpSucceedsAndUsageErrorsExitWithTwo) {
  ScratchDir dir;
  const CommandResult help = run_program(kPrepare, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.output.rfind("Usage: varnel-prepare ", 0), 0u) << help.output;
  const std::vector<std::vector<std::string>> misuses = {
      {},
      {"a.arff"},
      {"a.arff", "b", "c"},
      {"--bins", "1", "a.arff", "b"},
      {"--bins", "4x", "a.arff", "b"},
      {"--bins", "3", "--drop-numeric", "a.arff", "b"},
      {"--format", "json", "a.arff", "b"},
      {"a.txt", "b"},
      {"--colour", "a.arff", "b"},
      {"a.arff", "b", "--target"},
      {"--target=", "a.arff", "b"},
      {"a.arff", "folder/"},
  };
  for (const auto& args : misuses) {
    const CommandResult result = run_program(kPrepare, args);
    EXPECT_EQ(result.status, 2) << result.output;
    EXPECT_EQ(result.output.rfind("Error: ", 0), 0u) << result.output;
    EXPECT_NE(result.output.find("\nUsage: varnel-prepare "), std::string::npos);
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.path));
}
